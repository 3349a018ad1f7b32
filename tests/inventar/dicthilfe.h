#pragma once
// Signed dictionaries for tests: writers for both dictionary forms, signed
// with the shared test key pair.

#include "global/crypto/crypto.h"
#include "tests/crypto/kryptotesthilfe.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPair>

namespace DictHilfe {

struct Daten
{
    QString version = QStringLiteral("21.3.0");
    QString interfaceNr = QStringLiteral("5");
    QString revision = QStringLiteral("27289");
    QString kurzname;
    QString jahr;
    QString langname;
    QString nrAlle = QStringLiteral("10");
    QString nrGr = QStringLiteral("1");
    QString nrPlugin = QStringLiteral("1");
    QString unterfallArt;
    QList<QPair<QString, QString>> dateien; // relative path, md5
};

using KryptoTest::md5;
using KryptoTest::schreibe;

// Writes `inhalt` below `basis` and lists it in `d` with its checksum.
inline void datei(Daten& d, const QString& basis, const QString& relativ, const QByteArray& inhalt)
{
    schreibe(basis + QLatin1Char('/') + relativ, inhalt);
    d.dateien.append({ relativ, md5(inhalt) });
}

inline QByteArray csv(const Daten& d)
{
    QStringList kopf = { d.version, d.interfaceNr, d.revision, d.kurzname, d.jahr, d.langname,
                         d.nrAlle, d.nrGr, d.nrPlugin, QString(), QString(), QString(), QString(),
                         QStringLiteral("Steuer"), QString(), QString(), QString(), d.unterfallArt,
                         QStringLiteral("1"), QStringLiteral("0") };
    QString text = kopf.join(QLatin1Char(',')) + QLatin1Char('\n');
    for (const auto& e : d.dateien)
        text += e.first + QLatin1Char(',') + e.second + QLatin1Char('\n');
    return text.toLatin1().toBase64();
}

inline QByteArray json(const Daten& d)
{
    QJsonArray dateien;
    for (const auto& e : d.dateien)
        dateien.append(QJsonObject { { e.first, e.second } });
    QJsonObject dict { { QStringLiteral("dictVersion"), QStringLiteral("1") }, { QStringLiteral("dateien"), dateien } };
    const QStringList felder { "versionsNummer", "anwendungInterfaceNummer", "revision", "kurzname", "veranlagungszeitraum",
                               "langname", "pluginAlleVersionsNummer", "pluginGruppeVersionsNummer", "pluginVersionsNummer",
                               "unterfallArtID" };
    const QStringList werte { d.version, d.interfaceNr, d.revision, d.kurzname, d.jahr, d.langname, d.nrAlle, d.nrGr, d.nrPlugin,
                              d.unterfallArt };
    for (int i = 0; i < felder.size(); ++i)
        dict.insert(felder[i], werte[i]);
    return QJsonDocument(QJsonObject { { QStringLiteral("dict"), dict } }).toJson(QJsonDocument::Compact).toBase64();
}

// The shared test key pair, made in `ordner`; aktiviere() points the
// signature check at it until the key goes.
class Schluessel : public KryptoTest::Schluesselpaar
{
public:
    explicit Schluessel(const QString& ordner) : m_ok(erzeuge(ordner)) {}
    ~Schluessel() { Crypto::setzeQuellen(QString(), QString()); }
    bool istGueltig() const { return m_ok; }

    // Writes the dictionary (JSON or comma-separated) and signs it.
    bool schreibeDict(const QString& pfad, const Daten& d, bool alsJson, bool signieren = true)
    {
        schreibe(pfad, alsJson ? json(d) : csv(d));
        return !signieren || signiere(pfad);
    }

private:
    bool m_ok;
};

} // namespace DictHilfe
