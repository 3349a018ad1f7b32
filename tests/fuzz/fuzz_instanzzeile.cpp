// One line of the loopback instance protocol, as a local user's process may
// send it to the running manager.

#include "fuzzhilfe.h"

#include "global/varnelApplication/varnelkern.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* daten, size_t groesse)
{
    const QByteArray zeile = Fuzz::bytes(daten, groesse);
    const VarnelKern::Zeile z = VarnelKern::zerlegeZeile(zeile);
    for (const QString& a : z.argumente)
        Fuzz::verlange(!a.isEmpty() && a == a.trimmed(), "Argument leer oder ungetrimmt", a);
    const QChar trenner = QLatin1Char(VarnelKern::feldTrenner);
    Fuzz::verlange(!z.anwendung.contains(trenner) && !z.meldung.contains(trenner), "Trenner in einem Statusfeld");
    if (z.art == VarnelKern::Zeile::UNBEKANNT || z.art == VarnelKern::Zeile::STATUS_UNGUELTIG)
        Fuzz::verlange(z.argumente.isEmpty() && z.anwendung.isEmpty(), "Felder bei einer abgelehnten Zeile");
    return 0;
}
