#include "werkzeuge/veroeffentlichen/dictschreiber.h"

#include <QDir>
#include <QDirIterator>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTextCodec>

#include "global/crypto/crypto.h"
#include "global/crypto/dictionaryhelper.h"
#include "werkzeuge/veroeffentlichen/schluessel.h"

namespace DictSchreiber {

QStringList kopfNamen()
{
    return { QStringLiteral("versionsNummer"), QStringLiteral("anwendungInterfaceNummer"),
             QStringLiteral("revision"), QStringLiteral("kurzname"), QStringLiteral("veranlagungszeitraum"),
             QStringLiteral("langname"), QStringLiteral("pluginAlleVersionsNummer"),
             QStringLiteral("pluginGruppeVersionsNummer"), QStringLiteral("pluginVersionsNummer"),
             QStringLiteral("kategorie"), QStringLiteral("unterfallArtID"), QStringLiteral("sortierKriterium"),
             QStringLiteral("datenUebernahmeAusVorjahr"), QStringLiteral("datenUebernahmeAusVormonat"),
             QStringLiteral("berechnungVersionsNummer") };
}

QStringList sammleDateien(const QString& ordner, QString& fehler)
{
    QStringList pfade;
    const QDir basis(ordner);
    if (!basis.exists()) {
        fehler = QStringLiteral("Ordner %1 existiert nicht").arg(ordner);
        return pfade;
    }
    QDirIterator it(basis.absolutePath(), QDir::Files | QDir::Hidden | QDir::NoSymLinks,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString rel = basis.relativeFilePath(it.next());
        if (rel.startsWith(QLatin1String("dict/")))
            continue;
        pfade.append(rel);
    }
    pfade.sort();
    return pfade;
}

namespace {

// Header fields of the comma-separated form: index -> member name.
QMap<int, QString> csvKopfFelder()
{
    const QStringList n = kopfNamen();
    QMap<int, QString> m;
    for (int i = 0; i < 9; ++i)
        m.insert(i, n.at(i));
    m.insert(13, QStringLiteral("kategorie"));
    m.insert(17, QStringLiteral("unterfallArtID"));
    m.insert(18, QStringLiteral("sortierKriterium"));
    m.insert(19, QStringLiteral("datenUebernahmeAusVorjahr"));
    return m;
}

bool baueCsv(const Auftrag& a, const QStringList& dateien, const QStringList& summen, QByteArray& text,
             QString& fehler)
{
    for (const QString& name : { QStringLiteral("datenUebernahmeAusVormonat"),
                                 QStringLiteral("berechnungVersionsNummer") }) {
        if (!a.kopf.value(name).isEmpty()) {
            fehler = QStringLiteral("%1 gibt es nur in der JSON-Form").arg(name);
            return false;
        }
    }
    QTextCodec* codec = QTextCodec::codecForName("ISO 8859-15");
    auto kodiere = [&](const QString& s, QByteArray& aus) {
        if (s.contains(QLatin1Char(',')) || s.contains(QLatin1Char('\n')) || !codec->canEncode(s)) {
            fehler = QStringLiteral("»%1« lässt sich in der kommagetrennten Form nicht darstellen").arg(s);
            return false;
        }
        aus = codec->fromUnicode(s);
        return true;
    };
    QStringList kopf;
    const QMap<int, QString> felder = csvKopfFelder();
    for (int i = 0; i < 20; ++i)
        kopf.append(a.kopf.value(felder.value(i)));
    QByteArray feld;
    for (const QString& k : qAsConst(kopf)) {
        if (!kodiere(k, feld))
            return false;
        text += feld + ',';
    }
    text.chop(1);
    text += '\n';
    for (int i = 0; i < dateien.size(); ++i) {
        if (!kodiere(dateien.at(i), feld))
            return false;
        text += feld + ',' + summen.at(i).toLatin1() + '\n';
    }
    if (!a.beschreibung.isEmpty()) {
        // The reader takes the description from the UTF-8 reading of the bytes.
        text += "[description]\n" + a.beschreibung.toUtf8() + "\n[/description]\n";
    }
    return true;
}

bool baueJson(const Auftrag& a, const QStringList& dateien, const QStringList& summen, QByteArray& text,
              QString& fehler)
{
    QJsonObject dict;
    dict.insert(QStringLiteral("dictVersion"), QStringLiteral("1"));
    for (const QString& name : kopfNamen())
        dict.insert(name, a.kopf.value(name));
    for (const QChar c : a.beschreibung) {
        if (c.unicode() > 0xff) {
            fehler = QStringLiteral("die Beschreibung enthält Zeichen außerhalb von Latin-1; "
                                    "HTML-Entitäten wie &auml; verwenden");
            return false;
        }
    }
    dict.insert(QStringLiteral("beschreibung"), QString::fromLatin1(a.beschreibung.toLatin1().toBase64()));
    QJsonArray liste;
    for (int i = 0; i < dateien.size(); ++i)
        liste.append(QJsonObject { { dateien.at(i), summen.at(i) } });
    dict.insert(QStringLiteral("dateien"), liste);
    text = QJsonDocument(QJsonObject { { QStringLiteral("dict"), dict } }).toJson(QJsonDocument::Indented);
    return true;
}

} // namespace

bool baueInhalt(const Auftrag& auftrag, QByteArray& inhalt, QString& fehler)
{
    for (auto it = auftrag.kopf.cbegin(); it != auftrag.kopf.cend(); ++it) {
        if (!kopfNamen().contains(it.key())) {
            fehler = QStringLiteral("unbekanntes Kopffeld %1").arg(it.key());
            return false;
        }
    }
    fehler.clear();
    const QStringList dateien = sammleDateien(auftrag.ordner, fehler);
    if (!fehler.isEmpty())
        return false;
    QStringList summen;
    const QDir basis(auftrag.ordner);
    for (const QString& rel : dateien) {
        if (!DictionaryHelper::istSichererPfad(rel)) {
            fehler = QStringLiteral("der Dateiname %1 ist in einem Dictionary nicht zulässig").arg(rel);
            return false;
        }
        const QString summe = Crypto::md5Pruefsumme(basis.absoluteFilePath(rel));
        if (summe == QLatin1String("-1")) {
            fehler = QStringLiteral("%1 kann nicht gelesen werden").arg(rel);
            return false;
        }
        summen.append(summe);
    }
    QByteArray text;
    const bool ok = auftrag.form == Form::CSV ? baueCsv(auftrag, dateien, summen, text, fehler)
                                              : baueJson(auftrag, dateien, summen, text, fehler);
    if (!ok)
        return false;
    inhalt = text.toBase64();
    return true;
}

bool schreibe(const Auftrag& auftrag, QString& dictPfad, QString& fehler)
{
    QByteArray inhalt;
    if (!baueInhalt(auftrag, inhalt, fehler))
        return false;
    QDir basis(auftrag.ordner);
    if (!basis.mkpath(QStringLiteral("dict"))) {
        fehler = QStringLiteral("Ordner %1/dict kann nicht angelegt werden").arg(auftrag.ordner);
        return false;
    }
    dictPfad = basis.absoluteFilePath(QStringLiteral("dict/") + auftrag.name);
    return Schluessel::schreibeDatei(dictPfad, inhalt, false, fehler);
}

} // namespace DictSchreiber
