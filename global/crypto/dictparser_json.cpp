#include "global/crypto/dictparser_json.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include "global/crypto/dictionaryhelper.h"
#include "global/varnelApplication/logbase.h"
#include "global/varnelApplication/textausliteral.h"

namespace {

QJsonObject wurzelAus(const QByteArray& daten, bool* istJson)
{
    const QJsonDocument doc = QJsonDocument::fromJson(DictionaryHelper::dekodiere(daten));
    *istJson = !doc.isEmpty() && !doc.object().isEmpty();
    return doc.object();
}

// Members are text; a number is accepted as well, for hand-made files.
QString text(const QJsonObject& o, const char* name)
{
    const QJsonValue v = o.value(QLatin1String(name));
    if (v.isDouble())
        return QString::number(v.toDouble(), 'f', 0);
    return v.toString();
}

bool flagge(const QJsonObject& o, const char* name)
{
    return text(o, name).toInt() != 0;
}

} // namespace

bool DictParser_JSON::pruefeFormat(const QByteArray& daten)
{
    if (daten.isEmpty())
        return false;
    bool istJson = false;
    const QJsonObject wurzel = wurzelAus(daten, &istJson);
    if (!istJson)
        return false;
    const QJsonObject dict = wurzel.value(QStringLiteral("dict")).toObject();
    if (dict.isEmpty())
        return false;
    return text(dict, "dictVersion").toInt() > 0;
}

DictInfoZeiger DictParser_JSON::interpretiereDaten(const QByteArray& daten, bool pruefsummenPruefen,
                                                   const QString& pfad, int* fehlerCode)
{
    int code = OK;
    if (daten.isEmpty()) {
        IV_LOG_ERROR(textAusLiteral("Aus der Datei [%1] konnte nicht gelesen werden oder die Datei ist 0 Byte gross.")
                         .arg(pfad));
        if (fehlerCode)
            *fehlerCode = LEER;
        return DictInfoZeiger();
    }
    bool istJson = false;
    const QJsonObject wurzel = wurzelAus(daten, &istJson);
    const QJsonObject dict = wurzel.value(QStringLiteral("dict")).toObject();
    if (!istJson) {
        IV_LOG_ERROR(textAusLiteral("Datei %1 enth&auml;lt kein JSON").arg(pfad));
        code = NICHT_INTERPRETIERBAR;
    } else if (dict.isEmpty()) {
        IV_LOG_ERROR(textAusLiteral("Datei %1 enth&auml;lt keine Dictionary Informationen").arg(pfad));
        code = NICHT_INTERPRETIERBAR;
    }

    DictInfoZeiger info(new DictInfo);
    info->veranlagungszeitraum = text(dict, "veranlagungszeitraum");
    info->datenUebernahmeAusVorjahr = flagge(dict, "datenUebernahmeAusVorjahr");
    info->datenUebernahmeAusVormonat = flagge(dict, "datenUebernahmeAusVormonat");
    if (dict.contains(QStringLiteral("sortierKriterium")))
        info->sortierKriterium = text(dict, "sortierKriterium").toInt();
    info->versionsNummer = text(dict, "versionsNummer");
    info->kurzname = text(dict, "kurzname");
    info->revision = text(dict, "revision");
    info->langname = text(dict, "langname");
    info->anwendungInterfaceNummer = text(dict, "anwendungInterfaceNummer");
    info->kategorie = text(dict, "kategorie");
    info->pluginGruppeVersionsNummer = text(dict, "pluginGruppeVersionsNummer");
    info->pluginAlleVersionsNummer = text(dict, "pluginAlleVersionsNummer");
    info->unterfallArtID = text(dict, "unterfallArtID");
    info->pluginVersionsNummer = text(dict, "pluginVersionsNummer");
    info->berechnungVersionsNummer = text(dict, "berechnungVersionsNummer");
    const QByteArray beschreibung = QByteArray::fromBase64(text(dict, "beschreibung").toLatin1());
    info->beschreibung = textAusLiteral(QString::fromLatin1(beschreibung));

    const QJsonArray dateien = dict.value(QStringLiteral("dateien")).toArray();
    for (const QJsonValue& v : dateien) {
        const QJsonObject element = v.toObject();
        if (element.isEmpty())
            continue;
        DictEintrag e;
        e.pfad = element.constBegin().key();
        e.pruefsumme = element.constBegin().value().toString();
        e.dictDatei = pfad;
        if (!DictionaryHelper::istSichererPfad(e.pfad)) {
            IV_LOG_ERROR(textAusLiteral("Der Eintrag [%1] der Dict Datei[%2] zeigt aus dem Verzeichnis heraus und wird &uuml;bergangen.")
                             .arg(e.pfad, pfad));
            continue;
        }
        info->dateien.insert(e.pfad, e);
    }

    if (pruefsummenPruefen && !info->dateien.isEmpty() && !DictionaryHelper::pruefeDateien(*info, pfad)
        && code == OK)
        code = PRUEFSUMME_FALSCH;
    if (fehlerCode)
        *fehlerCode = code;
    return info;
}
