// Both dictionary forms: the target is built twice, with IV_FUZZ_JSON
// choosing the JSON parser. The input is the decoded text; it is Base64-encoded
// here as the file holds it, so the mutations reach the parser instead of
// breaking the encoding. Checksums are compared against an empty folder, so
// every listed path goes through the path check on its way to the disk.

#include "fuzzhilfe.h"

#include "global/crypto/dictionaryhelper.h"
#include "global/crypto/dictparser_csv.h"
#include "global/crypto/dictparser_json.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* daten, size_t groesse)
{
    const QByteArray text = Fuzz::bytes(daten, groesse);
    const QString basis = Fuzz::ordner();
    const QString pfad = basis + QStringLiteral("/dict/fuzz.dict");
#ifdef IV_FUZZ_JSON
    DictParser_JSON parser;
#else
    DictParser_CSV parser;
#endif
    // The raw form too: a file that is not Base64 at all.
    DictionaryHelper::dekodiere(text);
    const QByteArray datei = text.toBase64();
    parser.pruefeFormat(datei);
    int code = -1;
    const DictInfoZeiger info = parser.interpretiereDaten(datei, true, pfad, &code);
    if (!info)
        return 0;
    for (auto it = info->dateien.cbegin(); it != info->dateien.cend(); ++it) {
        Fuzz::verlange(DictionaryHelper::istSichererPfad(it->pfad), "unsicherer Pfad im Ergebnis", it->pfad);
        const QString voll = QDir::cleanPath(DictionaryHelper::vollerPfad(basis, it->pfad));
        Fuzz::verlange(voll.startsWith(basis + QLatin1Char('/')), "Pfad ausserhalb", it->pfad + QStringLiteral(" -> ") + voll);
    }
    return 0;
}
