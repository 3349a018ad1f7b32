// The server index: its XML read into module records as the manager reads the
// unpacked index archive. The archive's signature check before it is left
// out, as no fuzzer can pass it; this is what a publisher's mistake reaches.
// The first byte chooses the index (odd: the technical one), the rest is the XML.

#include "fuzzhilfe.h"

#include "pluginManager/dlgPluginManagerDatenmodel.h"
#include "pluginManager/pluginManager.h"


extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    Fuzz::richteEin(argc, argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* daten, size_t groesse)
{
    if (groesse < 1)
        return 0;
    static PluginManager* engine = new PluginManager;
    const bool technisch = daten[0] & 1;
    DlgPluginManagerDatenmodel modell(true);
    QString fehler;
    engine->leseIndexXml(Fuzz::bytes(daten + 1, groesse - 1), technisch, fehler, &modell);
    return 0;
}
