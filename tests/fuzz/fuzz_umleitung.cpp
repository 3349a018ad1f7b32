// The redirect file with its signature: the input is the file, then the
// marker "\n#SIG#\n", then the signature companion. Both land on disk under
// the names the manager uses, and go through the one trust test; a file that
// passes is decoded as the manager decodes it.

#include "fuzzhilfe.h"

#include "global/crypto/crypto.h"

#include <QFile>
#include <QTextCodec>

namespace {

void schreibe(const QString& pfad, const QByteArray& inhalt)
{
    QFile f(pfad);
    Fuzz::verlange(f.open(QIODevice::WriteOnly | QIODevice::Truncate), "nicht schreibbar", pfad);
    f.write(inhalt);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* daten, size_t groesse)
{
    const QByteArray eingabe = Fuzz::bytes(daten, groesse);
    static const QByteArray marke("\n#SIG#\n");
    const int stelle = eingabe.lastIndexOf(marke);
    const QByteArray datei = stelle < 0 ? eingabe : eingabe.left(stelle);
    const QByteArray signatur = stelle < 0 ? QByteArray() : eingabe.mid(stelle + marke.size());

    const QString pfad = Fuzz::ordner() + QStringLiteral("/userredirect");
    schreibe(pfad, datei);
    QFile::remove(Crypto::signaturPfad(pfad));
    if (stelle >= 0)
        schreibe(Crypto::signaturPfad(pfad), signatur);
    if (!Crypto::isFileValid(pfad))
        return 0;
    const auto dekodiert = QByteArray::fromBase64Encoding(datei.trimmed(), QByteArray::AbortOnBase64DecodingErrors);
    if (dekodiert) {
        QTextCodec* codec = QTextCodec::codecForName("ISO 8859-15");
        Fuzz::verlange(codec != nullptr, "kein Zeichensatz ISO 8859-15");
        codec->toUnicode(*dekodiert);
    }
    return 0;
}
