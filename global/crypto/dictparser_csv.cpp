#include "global/crypto/dictparser_csv.h"

#include <QTextCodec>

#include "global/crypto/dictionaryhelper.h"
#include "global/varnelApplication/logbase.h"
#include "global/varnelApplication/textausliteral.h"

namespace {

// The header's fields 0 to 8 are required.
constexpr int MINDEST_FELDER = 9;

QStringList zeilenAus(const QByteArray& dekodiert)
{
    QTextCodec* codec = QTextCodec::codecForName("ISO 8859-15");
    const QString text = codec ? codec->toUnicode(dekodiert) : QString::fromLatin1(dekodiert);
    return text.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

bool istBeschreibungsAnfang(const QString& zeile)
{
    return zeile.startsWith(QLatin1String("[description]"));
}

} // namespace

bool DictParser_CSV::pruefeFormat(const QByteArray& daten)
{
    if (daten.isEmpty())
        return false;
    const QStringList zeilen = zeilenAus(DictionaryHelper::dekodiere(daten));
    if (zeilen.isEmpty())
        return false;
    if (zeilen.first().simplified().startsWith(QLatin1Char('{')))
        return false;
    return zeilen.first().split(QLatin1Char(',')).size() > 1;
}

DictInfoZeiger DictParser_CSV::interpretiereDaten(const QByteArray& daten, bool pruefsummenPruefen,
                                                  const QString& pfad, int* fehlerCode)
{
    auto setzeCode = [fehlerCode](int c) {
        if (fehlerCode)
            *fehlerCode = c;
    };
    const QString leerText =
        textAusLiteral("Aus der Datei [%1] konnte nicht gelesen werden oder die Datei ist 0 Byte gross.").arg(pfad);
    if (daten.isEmpty()) {
        IV_LOG_ERROR(leerText);
        setzeCode(LEER);
        return DictInfoZeiger();
    }
    const QByteArray dekodiert = DictionaryHelper::dekodiere(daten);
    QStringList zeilen = zeilenAus(dekodiert);
    if (zeilen.isEmpty()) {
        IV_LOG_ERROR(leerText);
        setzeCode(NICHT_INTERPRETIERBAR);
        return DictInfoZeiger();
    }
    const QStringList kopf = zeilen.first().split(QLatin1Char(','));
    if (kopf.size() < 2) {
        IV_LOG_ERROR(textAusLiteral("Die Datei [%1] enth&auml;lt keine Komma separierte obere Zeile.").arg(pfad));
        setzeCode(NICHT_INTERPRETIERBAR);
        return DictInfoZeiger();
    }
    if (kopf.size() < MINDEST_FELDER) {
        IV_LOG_ERROR(textAusLiteral("Die obere Zeile der Datei [%1] hat %2 statt mindestens %3 Felder.")
                         .arg(pfad)
                         .arg(kopf.size())
                         .arg(MINDEST_FELDER));
        setzeCode(NICHT_INTERPRETIERBAR);
        return DictInfoZeiger();
    }

    DictInfoZeiger info(new DictInfo);
    info->versionsNummer = kopf.at(0);
    info->anwendungInterfaceNummer = kopf.at(1);
    info->revision = kopf.at(2);
    info->kurzname = kopf.at(3);
    info->veranlagungszeitraum = kopf.at(4);
    info->langname = kopf.at(5);
    info->pluginAlleVersionsNummer = kopf.at(6);
    info->pluginGruppeVersionsNummer = kopf.at(7);
    info->pluginVersionsNummer = kopf.at(8);
    if (kopf.size() > 13)
        info->kategorie = kopf.at(13);
    if (kopf.size() > 17)
        info->unterfallArtID = kopf.at(17).simplified();
    if (kopf.size() > 18)
        info->sortierKriterium = kopf.at(18).simplified().toInt();
    if (kopf.size() > 19)
        info->datenUebernahmeAusVorjahr = kopf.at(19).simplified().toInt() != 0;

    // The description may hold any character, so it is read from the bytes
    // again as UTF-8.
    const QStringList utf8Zeilen = QString::fromUtf8(dekodiert).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    bool inBeschreibung = false;
    for (const QString& z : utf8Zeilen) {
        if (!inBeschreibung) {
            inBeschreibung = istBeschreibungsAnfang(z);
            continue;
        }
        if (z.startsWith(QLatin1String("[/description]")))
            break;
        info->beschreibung += QLatin1Char('\n') + z;
    }

    zeilen.removeFirst();
    QStringList dateiZeilen;
    for (const QString& z : qAsConst(zeilen)) {
        if (istBeschreibungsAnfang(z))
            break;
        dateiZeilen.append(z);
    }
    info->dateien = DictionaryHelper::dateienAusZeilen(dateiZeilen, pfad);

    int code = OK;
    // The listed checksums are checked here too when asked: a caller that asks
    // for them must not get a success for files nobody looked at.
    if (pruefsummenPruefen && !info->dateien.isEmpty() && !DictionaryHelper::pruefeDateien(*info, pfad))
        code = PRUEFSUMME_FALSCH;
    setzeCode(code);
    return info;
}
