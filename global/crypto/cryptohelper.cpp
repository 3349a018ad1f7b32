#include "global/crypto/cryptohelper.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTextCodec>
#include <memory>

#include "global/crypto/crypto.h"
#include "global/crypto/dictionaryhelper.h"
#include "global/varnelApplication/logbase.h"
#include "global/varnelApplication/textausliteral.h"

namespace {

QString meldungZuCode(int code)
{
    switch (code) {
    case 1:
        return textAusLiteral("Die Dict Datei[%1] existiert nicht");
    case 2:
        return textAusLiteral("Die Datei [%1] existiert nicht");
    case 3:
        return textAusLiteral("Die Datei [%1] konnte nicht ge&ouml;ffnet werden");
    case 4:
        return textAusLiteral("Die Dict Datei[%1] ist leer");
    case 5:
        return textAusLiteral("Die Daten der Dict Datei[%1] konnten nicht interpretiert werden");
    case 6:
        return textAusLiteral("Nicht alle in der Dict Datei[%1] aufgelisteten Dateien haben eine korrekte Pr&uuml;fsumme.");
    default:
        return textAusLiteral("Ein Fehler beim Interpretieren der Datei[%1] ist aufgetreten");
    }
}

} // namespace

namespace CryptoHelper {

bool getDictInfo(const QString& fileName, DictInfo& info, const QString& directory, bool signaturPruefen,
                 bool pruefsummenPruefen)
{
    IV_LOG_EINTRITT();
    const QString pfad = directory + QDir::separator() + fileName;
    std::unique_ptr<DictParser_Abstrakt> parser(erzeugeDictParser(pfad));
    if (!parser) {
        IV_LOG_ERROR(textAusLiteral("Die Datei [%1] existiert nicht, ist defekt oder konnte nicht gelesen werden").arg(pfad));
        IV_LOG_AUSTRITT();
        return false;
    }
    const int code = parser->leseDictionary(pfad, signaturPruefen, pruefsummenPruefen);
    bool ok = false;
    if (code == DictParser_Abstrakt::OK && parser->gibDictInfo()) {
        info = *parser->gibDictInfo();
        ok = true;
    } else {
        IV_LOG_ERROR(meldungZuCode(code).arg(pfad));
    }
    IV_LOG_AUSTRITT();
    return ok;
}

QStringList searchAllDictionariesInDicrectory(const QString& directory, bool mitVdict)
{
    QStringList filter { QStringLiteral("*.dict") };
    if (mitVdict)
        filter << QStringLiteral("*.vdict");
    // Files only: a folder that happens to be called "x.dict" is no dictionary.
    const QStringList namen =
        QDir(directory).entryList(filter, QDir::Files | QDir::Hidden | QDir::System, QDir::Name | QDir::IgnoreCase);
    IV_LOG_INFO(QStringLiteral("gefundene Dictionarys: %1").arg(namen.size()));
    return namen;
}

void leseDictDateiListe(const QString& rootPath, QStringList& gueltige, QStringList& ungueltige, bool mitVdict)
{
    IV_LOG_EINTRITT();
    QDir wurzel(rootPath);
    QDir dictDir(rootPath);
    if (rootPath.isEmpty() || !dictDir.cd(QStringLiteral("dict"))) {
        IV_LOG_ERROR(QStringLiteral("Kann nicht in das Dict-Verzeichnis wechseln. sRootPath = \"%1\"")
                         .arg(wurzel.absolutePath()));
        IV_LOG_AUSTRITT();
        return;
    }
    const QStringList namen = searchAllDictionariesInDicrectory(dictDir.absolutePath(), mitVdict);
    for (const QString& name : namen) {
        QCoreApplication::processEvents();
        const QString voll = QDir::toNativeSeparators(dictDir.absoluteFilePath(name));
        if (Crypto::isFileValid(voll)) {
            gueltige.append(QDir::toNativeSeparators(wurzel.relativeFilePath(dictDir.absoluteFilePath(name))));
        } else {
            ungueltige.append(voll);
            IV_LOG_ERROR(textAusLiteral("Die Signatur der Datei \"%1\" ist ung&uuml;ltig.").arg(voll));
        }
    }
    IV_LOG_AUSTRITT();
}

QString leseDictText(const QString& pfad)
{
    QFile f(pfad);
    if (!f.open(QIODevice::ReadOnly))
        return QString();
    const QByteArray dekodiert = DictionaryHelper::dekodiere(f.readAll());
    QTextCodec* codec = QTextCodec::codecForName("ISO 8859-15");
    return codec ? codec->toUnicode(dekodiert) : QString::fromLatin1(dekodiert);
}

bool getKoraDictInfo(DictInfo& info, const QString& directory)
{
    QDir oben(directory);
    if (!oben.cdUp())
        return false;
    QDir dictDir(oben);
    if (!dictDir.cd(QStringLiteral("dict")))
        return false;
    return getDictInfo(QStringLiteral("kora_0.dict"), info, dictDir.absolutePath(), true, false);
}

} // namespace CryptoHelper
