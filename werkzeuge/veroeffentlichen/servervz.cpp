#include "werkzeuge/veroeffentlichen/servervz.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QRegularExpression>
#include <QSet>
#include <QTextCodec>
#include <QXmlStreamWriter>
#include <algorithm>
#include <memory>

#include <sys/stat.h>
#include <zip.h>

#include "global/archiv/ziparchiv.h"
#include "global/crypto/crypto.h"
#include "global/crypto/dictparser_abstrakt.h"
#include "werkzeuge/veroeffentlichen/dictschreiber.h"
#include "werkzeuge/veroeffentlichen/schluessel.h"

namespace {

const QString kModulIndex = QStringLiteral("inhalt_downloadverzeichnis");
const QString kTechIndex = QStringLiteral("inhalt_techplugin");

// One installed part as published: its dictionary and its files.
struct Teil
{
    QString ordner;
    QString dictName;        // e.g. "est_20.dict"
    DictInfo info;
    uint jahr = 0;
    QStringList inhalt;      // relative paths for the archive, sorted, dictionary and signature included
    QStringList dictDateien; // the dictionary's file list, sorted
};

struct Archiv
{
    QString name;
    QString md5;
    qint64 groesse = 0;
    qint64 entpackt = 0;
};

struct Eintrag
{
    Teil teil;
    Archiv archiv;
    QList<QPair<uint, Archiv>> updates;  // only for the main application
};

bool istZahl(const QString& text)
{
    static const QRegularExpression zahl(QStringLiteral("^[0-9]{1,9}$"));
    return zahl.match(text).hasMatch();
}

bool istSichererName(const QString& name)
{
    static const QRegularExpression muster(QStringLiteral("^[A-Za-z0-9][A-Za-z0-9._-]*$"));
    return muster.match(name).hasMatch() && !name.contains(QLatin1String(".."));
}

// The year as the index writes it: empty means "no year" and becomes 0.
bool leseJahr(const QString& text, uint& jahr)
{
    if (text.isEmpty()) {
        jahr = 0;
        return true;
    }
    if (!istZahl(text))
        return false;
    jahr = text.toUInt();
    return true;
}

bool leseGanz(const QString& pfad, QByteArray& daten, QString& fehler)
{
    QFile f(pfad);
    if (!f.open(QIODevice::ReadOnly)) {
        fehler = QStringLiteral("%1 kann nicht gelesen werden: %2").arg(pfad, f.errorString());
        return false;
    }
    daten = f.readAll();
    return true;
}

// Reads a release folder. A full part must hold exactly the files its
// dictionary lists; an update package (vollstaendig false) a subset of them.
// Every file present must carry the checksum the dictionary gives it, and the
// dictionary's signature must verify with the publishing key: the manager
// would refuse the installed part otherwise.
bool leseTeil(const QString& ordner, bool vollstaendig, const QByteArray& oeffentlichPem, Teil& teil,
              QString& fehler)
{
    teil.ordner = QDir(ordner).absolutePath();
    const QDir dictDir(teil.ordner + QStringLiteral("/dict"));
    if (!dictDir.exists()) {
        fehler = QStringLiteral("%1 enthält keinen Ordner dict").arg(ordner);
        return false;
    }
    QStringList dicts;
    const QStringList imDict = dictDir.entryList(QDir::Files | QDir::Hidden, QDir::Name);
    for (const QString& n : imDict) {
        if (n.endsWith(QLatin1String(".dict")) || n.endsWith(QLatin1String(".vdict")))
            dicts.append(n);
    }
    if (dicts.size() != 1) {
        fehler = QStringLiteral("%1/dict muss genau ein Dictionary enthalten, gefunden: %2")
                     .arg(ordner, dicts.isEmpty() ? QStringLiteral("keines") : dicts.join(QStringLiteral(", ")));
        return false;
    }
    teil.dictName = dicts.first();
    const QString dictPfad = dictDir.absoluteFilePath(teil.dictName);
    const QString sigPfad = Crypto::signaturPfad(dictPfad);
    const QString sigName = QFileInfo(sigPfad).fileName();
    for (const QString& n : imDict) {
        if (n != teil.dictName && n != sigName) {
            fehler = QStringLiteral("%1/dict enthält die fremde Datei %2").arg(ordner, n);
            return false;
        }
    }
    if (QDir(teil.ordner + QStringLiteral("/dict")).entryList(QDir::Dirs | QDir::NoDotAndDotDot).size() > 0) {
        fehler = QStringLiteral("%1/dict darf keine Unterordner enthalten").arg(ordner);
        return false;
    }
    QByteArray dictDaten, signatur;
    if (!QFileInfo::exists(sigPfad)) {
        fehler = QStringLiteral("%1 ist nicht signiert (%2 fehlt)").arg(dictPfad, sigName);
        return false;
    }
    if (!leseGanz(dictPfad, dictDaten, fehler) || !leseGanz(sigPfad, signatur, fehler))
        return false;
    QString grund;
    if (!Crypto::pruefeSignatur(dictDaten, signatur, oeffentlichPem, &grund)) {
        fehler = QStringLiteral("die Signatur von %1 passt nicht zum angegebenen Schlüssel (%2)").arg(dictPfad, grund);
        return false;
    }

    std::unique_ptr<DictParser_Abstrakt> parser(erzeugeDictParser(dictPfad));
    if (!parser || parser->leseDictionary(dictPfad, false, false) != DictParser_Abstrakt::OK || !parser->gibDictInfo()) {
        fehler = QStringLiteral("%1 ist kein lesbares Dictionary").arg(dictPfad);
        return false;
    }
    teil.info = *parser->gibDictInfo();
    const DictInfo& i = teil.info;
    if (!istSichererName(i.kurzname) || i.kurzname.contains(QLatin1Char('.'))) {
        fehler = QStringLiteral("%1: der Kurzname »%2« taugt nicht als Dateiname").arg(dictPfad, i.kurzname);
        return false;
    }
    const QList<QPair<QString, QString>> zahlen = {
        { QStringLiteral("revision"), i.revision },
        { QStringLiteral("anwendungInterfaceNummer"), i.anwendungInterfaceNummer },
        { QStringLiteral("pluginAlleVersionsNummer"), i.pluginAlleVersionsNummer },
        { QStringLiteral("pluginGruppeVersionsNummer"), i.pluginGruppeVersionsNummer },
        { QStringLiteral("pluginVersionsNummer"), i.pluginVersionsNummer },
    };
    for (const auto& z : zahlen) {
        if (!istZahl(z.second)) {
            fehler = QStringLiteral("%1: %2 ist keine Zahl (»%3«)").arg(dictPfad, z.first, z.second);
            return false;
        }
    }
    if (!i.unterfallArtID.isEmpty() && !istZahl(i.unterfallArtID)) {
        fehler = QStringLiteral("%1: unterfallArtID ist keine Zahl (»%2«)").arg(dictPfad, i.unterfallArtID);
        return false;
    }
    if (!leseJahr(i.veranlagungszeitraum, teil.jahr)) {
        fehler = QStringLiteral("%1: veranlagungszeitraum ist keine Zahl (»%2«)").arg(dictPfad, i.veranlagungszeitraum);
        return false;
    }

    QString sammelFehler;
    const QStringList vorhanden = DictSchreiber::sammleDateien(teil.ordner, sammelFehler);
    if (!sammelFehler.isEmpty()) {
        fehler = sammelFehler;
        return false;
    }
    teil.dictDateien = i.dateien.keys();
    teil.dictDateien.sort();
    const QSet<QString> gelistet(teil.dictDateien.cbegin(), teil.dictDateien.cend());
    for (const QString& rel : vorhanden) {
        if (!gelistet.contains(rel)) {
            fehler = QStringLiteral("%1 steht nicht im Dictionary %2").arg(rel, dictPfad);
            return false;
        }
        const QString summe = Crypto::md5Pruefsumme(teil.ordner + QLatin1Char('/') + rel);
        if (summe != i.dateien.value(rel).pruefsumme) {
            fehler = QStringLiteral("%1/%2 hat nicht die Prüfsumme aus dem Dictionary").arg(ordner, rel);
            return false;
        }
    }
    if (vollstaendig && vorhanden.size() != teil.dictDateien.size()) {
        const QSet<QString> da(vorhanden.cbegin(), vorhanden.cend());
        for (const QString& rel : qAsConst(teil.dictDateien)) {
            if (!da.contains(rel)) {
                fehler = QStringLiteral("%1/%2 fehlt, steht aber im Dictionary").arg(ordner, rel);
                return false;
            }
        }
    }
    teil.inhalt = vorhanden;
    teil.inhalt << QStringLiteral("dict/") + teil.dictName << QStringLiteral("dict/") + sigName;
    teil.inhalt.sort();
    return true;
}

bool schreibeArchiv(const QString& zipPfad, const QString& basis, const QStringList& inhalt, Archiv& archiv,
                    QString& fehler)
{
    QList<QPair<QString, QString>> dateien;
    for (const QString& rel : inhalt)
        dateien.append({ basis + QLatin1Char('/') + rel, rel });
    if (!ZipArchiv::erstelle(zipPfad, dateien, &fehler) || !ServerVz::normalisiereArchiv(zipPfad, fehler))
        return false;
    ZipArchiv zip;
    if (!zip.oeffne(zipPfad)) {
        fehler = zip.errorString();
        return false;
    }
    archiv.name = QFileInfo(zipPfad).fileName();
    archiv.entpackt = zip.entpackteGroesse();
    zip.schliesse();
    archiv.groesse = QFileInfo(zipPfad).size();
    archiv.md5 = Crypto::md5Pruefsumme(zipPfad);
    return true;
}

void schreibeZipAttribute(QXmlStreamWriter& x, const Archiv& a)
{
    x.writeAttribute(QStringLiteral("Silent"), QString());
    x.writeAttribute(QStringLiteral("Size"), QString::number(a.groesse));
    x.writeAttribute(QStringLiteral("MD5"), a.md5);
    x.writeAttribute(QStringLiteral("UnzipFileSize"), QString::number(a.entpackt));
}

// One index document: one "Build", one "VZ" per year in ascending order, the
// parts of a year by short name.
QByteArray baueIndex(const QList<const Eintrag*>& eintraege, bool technisch, const ServerVz::Auftrag& auftrag)
{
    QMap<uint, QMap<QString, const Eintrag*>> nachJahr;
    for (const Eintrag* e : eintraege)
        nachJahr[e->teil.jahr].insert(e->teil.info.kurzname, e);

    QByteArray xml;
    QBuffer puffer(&xml);
    puffer.open(QIODevice::WriteOnly);
    QXmlStreamWriter x(&puffer);
    x.setCodec("UTF-8");
    x.setAutoFormatting(true);
    x.setAutoFormattingIndent(2);
    x.writeStartDocument();
    x.writeStartElement(QStringLiteral("Inhalt"));
    x.writeAttribute(QStringLiteral("Version"), QStringLiteral("1"));
    x.writeStartElement(QStringLiteral("Build"));
    for (auto j = nachJahr.cbegin(); j != nachJahr.cend(); ++j) {
        x.writeStartElement(QStringLiteral("VZ"));
        x.writeAttribute(QStringLiteral("Jahr"), QString::number(j.key()));
        for (const Eintrag* e : j.value()) {
            const DictInfo& i = e->teil.info;
            x.writeStartElement(QStringLiteral("Plugin"));
            x.writeAttribute(QStringLiteral("Name"), i.langname);
            x.writeAttribute(QStringLiteral("Kurzname"), i.kurzname);
            x.writeAttribute(QStringLiteral("Rev"), i.revision);
            x.writeAttribute(QStringLiteral("InterfaceNr"), i.anwendungInterfaceNummer);
            x.writeAttribute(QStringLiteral("UnterfallArt"), i.unterfallArtID.isEmpty() ? QStringLiteral("0")
                                                                                       : i.unterfallArtID);
            x.writeAttribute(QStringLiteral("Version"), i.versionsNummer);

            x.writeStartElement(QStringLiteral("TechNr"));
            x.writeAttribute(QStringLiteral("NrAlle"), i.pluginAlleVersionsNummer);
            x.writeAttribute(QStringLiteral("NrGr"), i.pluginGruppeVersionsNummer);
            x.writeAttribute(QStringLiteral("NrPlugin"), i.pluginVersionsNummer);
            x.writeTextElement(QStringLiteral("Version"), i.versionsNummer);
            x.writeStartElement(QStringLiteral("Daten"));
            for (const QString& rel : e->teil.dictDateien) {
                x.writeEmptyElement(QStringLiteral("Datei"));
                x.writeAttribute(QStringLiteral("Typ"), QStringLiteral("Datei"));
                x.writeAttribute(QStringLiteral("Pfad"), rel);
            }
            x.writeEmptyElement(QStringLiteral("Datei"));
            x.writeAttribute(QStringLiteral("Typ"), QStringLiteral("Dict"));
            x.writeAttribute(QStringLiteral("Pfad"), QStringLiteral("dict/") + e->teil.dictName);
            x.writeEndElement();  // Daten
            x.writeEndElement();  // TechNr

            x.writeStartElement(QStringLiteral("Zip"));
            schreibeZipAttribute(x, e->archiv);
            x.writeCharacters(e->archiv.name);
            x.writeEndElement();
            for (const auto& u : e->updates) {
                x.writeStartElement(QStringLiteral("Update_Zip"));
                schreibeZipAttribute(x, u.second);
                x.writeAttribute(QStringLiteral("Rev"), QString::number(u.first));
                x.writeCharacters(u.second.name);
                x.writeEndElement();
            }
            if (technisch) {
                // The manager's record carries the switches of the run; the
                // service's record marks the service.
                const bool istDienst = i.kurzname == QLatin1String("service");
                x.writeEmptyElement(QStringLiteral("Param"));
                x.writeAttribute(QStringLiteral("SelbstUpdate"),
                                 istDienst ? QStringLiteral("false") : auftrag.selbstUpdate);
                x.writeAttribute(QStringLiteral("Dienst"), istDienst ? QStringLiteral("true") : auftrag.dienst);
            }
            x.writeEndElement();  // Plugin
        }
        x.writeEndElement();  // VZ
    }
    x.writeEndElement();  // Build
    x.writeEndElement();  // Inhalt
    x.writeEndDocument();
    return xml;
}

// Unique by construction: modules are told apart by short name and year,
// the main application and the technical parts exist once each.
QString archivName(const Teil& t, bool mitJahr)
{
    if (!mitJahr)
        return QStringLiteral("%1_%2.zip").arg(t.info.kurzname, t.info.revision);
    return QStringLiteral("%1_%2_%3.zip").arg(t.info.kurzname).arg(t.jahr).arg(t.info.revision);
}

bool entferneBaum(const QString& pfad)
{
    QDir d(pfad);
    return !d.exists() || d.removeRecursively();
}

} // namespace

namespace ServerVz {

QString basisPfad()
{
    return QStringLiteral("download/pm/win_18_0");
}

QString umleitungsName(bool qs, const QString& revision)
{
    if (!qs)
        return QStringLiteral("userredirect");
    if (revision.isEmpty())
        return QStringLiteral("qsredirect");
    return istZahl(revision) ? QStringLiteral("qsredirect_") + revision : QString();
}

bool normalisiereArchiv(const QString& zipPfad, QString& fehler)
{
    int code = 0;
    zip_t* z = zip_open(QFile::encodeName(zipPfad).constData(), 0, &code);
    if (!z) {
        fehler = QStringLiteral("Das Archiv %1 kann nicht geöffnet werden (libzip %2).").arg(zipPfad).arg(code);
        return false;
    }
    // 1 January 2000, 00:00. The value means nothing; only that it never changes.
    const zip_uint16_t dosDatum = zip_uint16_t(((2000 - 1980) << 9) | (1 << 5) | 1);
    const zip_int64_t anzahl = zip_get_num_entries(z, 0);
    for (zip_int64_t i = 0; i < anzahl; ++i) {
        zip_uint8_t os = 0;
        zip_uint32_t attribute = 0;
        zip_file_get_external_attributes(z, zip_uint64_t(i), 0, &os, &attribute);
        const bool ausfuehrbar = os == ZIP_OPSYS_UNIX && ((attribute >> 16) & S_IXUSR);
        const zip_uint32_t modus = S_IFREG | (ausfuehrbar ? 0755 : 0644);
        if (zip_file_set_dostime(z, zip_uint64_t(i), 0, dosDatum, 0) != 0
            || zip_file_set_external_attributes(z, zip_uint64_t(i), 0, ZIP_OPSYS_UNIX, modus << 16) != 0) {
            fehler = QStringLiteral("Das Archiv %1 kann nicht angepasst werden: %2")
                         .arg(zipPfad, QString::fromLocal8Bit(zip_strerror(z)));
            zip_discard(z);
            return false;
        }
    }
    if (zip_close(z) != 0) {
        fehler = QStringLiteral("Das Archiv %1 kann nicht geschrieben werden: %2")
                     .arg(zipPfad, QString::fromLocal8Bit(zip_strerror(z)));
        zip_discard(z);
        return false;
    }
    return true;
}

bool baue(const Auftrag& auftrag, QStringList& protokoll, QString& fehler)
{
    if (!istSichererName(auftrag.release)) {
        fehler = QStringLiteral("der Release-Name »%1« ist kein einfacher Ordnername (Buchstaben, Ziffern, . _ -)")
                     .arg(auftrag.release);
        return false;
    }
    if (auftrag.umleitung.isEmpty() || !istSichererName(auftrag.umleitung)) {
        fehler = QStringLiteral("ungültiger Name der Umleitungsdatei »%1«").arg(auftrag.umleitung);
        return false;
    }
    if (auftrag.teile.isEmpty()) {
        fehler = QStringLiteral("kein Release-Ordner angegeben");
        return false;
    }
    const QString basis = QDir(auftrag.dokumentwurzel).absoluteFilePath(basisPfad());
    const QString releaseDir = basis + QLatin1Char('/') + auftrag.release;
    if (QFileInfo::exists(releaseDir) && !auftrag.ueberschreiben) {
        fehler = QStringLiteral("%1 existiert schon (--ueberschreiben ersetzt es)").arg(releaseDir);
        return false;
    }
    QByteArray oeffentlich;
    if (!Schluessel::oeffentlichAusPrivat(auftrag.privatPem, oeffentlich, fehler))
        return false;

    // Read and check everything before anything is written.
    QList<Eintrag> module, technisch;
    std::unique_ptr<Eintrag> haupt;
    QSet<QString> gesehen;
    for (const QString& ordner : auftrag.teile) {
        Eintrag e;
        if (!leseTeil(ordner, true, oeffentlich, e.teil, fehler))
            return false;
        // The main application and the technical parts exist once, whatever
        // their year says: the manager keeps only the last record of each.
        const QString& k = e.teil.info.kurzname;
        const bool einmalig = k == QLatin1String("kora") || k == QLatin1String("instv") || k == QLatin1String("service");
        const QString schluessel = einmalig ? k : k + QLatin1Char('/') + QString::number(e.teil.jahr);
        if (gesehen.contains(schluessel)) {
            fehler = QStringLiteral("%1 (Jahr %2) ist doppelt angegeben").arg(e.teil.info.kurzname).arg(e.teil.jahr);
            return false;
        }
        gesehen.insert(schluessel);
        if (k == QLatin1String("kora"))
            haupt = std::make_unique<Eintrag>(e);
        else if (einmalig)
            technisch.append(e);
        else
            module.append(e);
    }
    QList<QPair<uint, Teil>> updateTeile;
    for (const auto& u : auftrag.updates) {
        if (!haupt) {
            fehler = QStringLiteral("Update-Pakete gibt es nur zur Hauptanwendung, die nicht angegeben ist");
            return false;
        }
        if (u.first >= haupt->teil.info.revision.toUInt()) {
            fehler = QStringLiteral("ein Update-Paket gilt für eine ältere Revision als %1, nicht für %2")
                         .arg(haupt->teil.info.revision).arg(u.first);
            return false;
        }
        Teil t;
        if (!leseTeil(u.second, false, oeffentlich, t, fehler))
            return false;
        if (t.info.kurzname != QLatin1String("kora") || t.info.revision != haupt->teil.info.revision) {
            fehler = QStringLiteral("das Update-Paket %1 muss das Dictionary der Hauptanwendung mit Revision %2 "
                                    "enthalten (gefunden: %3, Revision %4)")
                         .arg(u.second, haupt->teil.info.revision, t.info.kurzname, t.info.revision);
            return false;
        }
        for (const auto& schon : qAsConst(updateTeile)) {
            if (schon.first == u.first) {
                fehler = QStringLiteral("für Revision %1 sind zwei Update-Pakete angegeben").arg(u.first);
                return false;
            }
        }
        updateTeile.append({ u.first, t });
    }
    std::sort(updateTeile.begin(), updateTeile.end(),
              [](const QPair<uint, Teil>& a, const QPair<uint, Teil>& b) { return a.first < b.first; });

    // Build in a hidden folder beside the release directory and swap it in
    // at the end, so the server never shows half a release.
    QDir().mkpath(basis);
    const QString werk = basis + QStringLiteral("/.") + auftrag.release + QStringLiteral(".entsteht");
    if (!entferneBaum(werk) || !QDir().mkpath(werk)) {
        fehler = QStringLiteral("%1 kann nicht angelegt werden").arg(werk);
        return false;
    }
    auto scheitere = [&](const QString& text) {
        fehler = text;
        entferneBaum(werk);
        return false;
    };

    auto packe = [&](Eintrag& e, bool mitJahr) {
        return schreibeArchiv(werk + QLatin1Char('/') + archivName(e.teil, mitJahr), e.teil.ordner, e.teil.inhalt,
                              e.archiv, fehler);
    };
    if (haupt && !packe(*haupt, false))
        return scheitere(fehler);
    for (Eintrag& e : module) {
        if (!packe(e, true))
            return scheitere(fehler);
    }
    for (Eintrag& e : technisch) {
        if (!packe(e, false))
            return scheitere(fehler);
    }
    for (const auto& u : qAsConst(updateTeile)) {
        Archiv a;
        const QString name = QStringLiteral("kora_%1_%2.zip").arg(u.first).arg(u.second.info.revision);
        if (!schreibeArchiv(werk + QLatin1Char('/') + name, u.second.ordner, u.second.inhalt, a, fehler))
            return scheitere(fehler);
        haupt->updates.append({ u.first, a });
    }

    QList<const Eintrag*> modulListe, techListe;
    if (haupt)
        modulListe.append(haupt.get());
    for (const Eintrag& e : qAsConst(module))
        modulListe.append(&e);
    for (const Eintrag& e : qAsConst(technisch))
        techListe.append(&e);

    const QByteArray privat = auftrag.privatPem;
    // The entry inside the index archive must carry the plain name; the
    // hidden source name only keeps the XML out of the release directory.
    auto schreibeIndexUnterName = [&](const QString& name, const QByteArray& xml) {
        const QString quellOrdner = werk + QStringLiteral("/.xml");
        const QString xmlPfad = quellOrdner + QLatin1Char('/') + name + QStringLiteral(".xml");
        const QString zipPfad = werk + QLatin1Char('/') + name + QStringLiteral(".zip");
        QString sig;
        Archiv a;
        const bool ok = QDir().mkpath(quellOrdner) && Schluessel::schreibeDatei(xmlPfad, xml, false, fehler)
            && schreibeArchiv(zipPfad, quellOrdner, { name + QStringLiteral(".xml") }, a, fehler);
        entferneBaum(quellOrdner);
        if (!ok)
            return false;
        return Schluessel::signiereDatei(zipPfad, privat, sig, fehler);
    };
    if (!schreibeIndexUnterName(kModulIndex, baueIndex(modulListe, false, auftrag))
        || !schreibeIndexUnterName(kTechIndex, baueIndex(techListe, true, auftrag)))
        return scheitere(fehler);

    // Swap in the release directory, then point the redirect at it.
    const QString alt = werk + QStringLiteral(".alt");
    entferneBaum(alt);
    if (QFileInfo::exists(releaseDir) && !QDir().rename(releaseDir, alt))
        return scheitere(QStringLiteral("%1 kann nicht ersetzt werden").arg(releaseDir));
    if (!QDir().rename(werk, releaseDir)) {
        QDir().rename(alt, releaseDir);
        return scheitere(QStringLiteral("%1 kann nicht angelegt werden").arg(releaseDir));
    }
    entferneBaum(alt);

    QTextCodec* codec = QTextCodec::codecForName("ISO 8859-15");
    const QString umleitung = basis + QLatin1Char('/') + auftrag.umleitung;
    QString sig;
    if (!Schluessel::schreibeDatei(umleitung, codec->fromUnicode(auftrag.release).toBase64(), false, fehler)
        || !Schluessel::signiereDatei(umleitung, privat, sig, fehler))
        return false;

    const QStringList erzeugt = QDir(releaseDir).entryList(QDir::Files, QDir::Name);
    for (const QString& n : erzeugt)
        protokoll.append(releaseDir + QLatin1Char('/') + n);
    protokoll.append(umleitung);
    protokoll.append(sig);
    return true;
}

} // namespace ServerVz
