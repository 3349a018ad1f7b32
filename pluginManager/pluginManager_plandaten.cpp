// The planned work across the elevated restart: written by the user's first
// process, read by the elevated one. See plandaten.h for why the reading side
// trusts nothing it finds in the user's data folder.

#include "pluginManager/pluginManager.h"
#include "pluginManager/plandaten.h"

#include "global/crypto/dictionaryhelper.h"
#include "global/varnelApplication/logbase.h"
#include "global/varnelApplication/textausliteral.h"
#include "pluginManager/dlgPluginManagerDatenmodel.h"
#include "pluginManager/laufjournal.h"
#include "pluginManager/plugin.h"
#include "pluginManager/setup.h"
#include "pluginManager/startwerte.h"

#include <QDataStream>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSaveFile>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace Plandaten {

const QByteArray NULL_MARKE = QByteArrayLiteral("NULL");

QString dateiname(int art)
{
    switch (art) {
    case PLUGIN_CLIENT:
        return QStringLiteral("PluginClient");
    case PLUGIN_SERVER:
        return QStringLiteral("PluginServer");
    case KORA_CLIENT:
        return QStringLiteral("KoraClient");
    case KORA_SERVER:
        return QStringLiteral("KoraServer");
    case SERVICE_SERVER:
        return QStringLiteral("ServiceServer");
    default:
        return QString();
    }
}

QByteArray bildVonListe(const DlgPluginManagerDatenmodel& model)
{
    QByteArray bild;
    QDataStream aus(&bild, QIODevice::WriteOnly);
    int anzahl = 0;
    for (const Plugin* p : model.gibListe())
        anzahl += p ? 1 : 0;
    aus << model.istVerfuegbar() << model.istGefuellt() << model.gibSpaltentitel() << model.gibTooltipTitel()
        << QString::number(anzahl);
    for (const Plugin* p : model.gibListe()) {
        if (p)
            aus << *p;
    }
    return bild;
}

QByteArray bildVonPlugin(const Plugin* plugin)
{
    if (!plugin)
        return NULL_MARKE;
    QByteArray bild;
    QDataStream aus(&bild, QIODevice::WriteOnly);
    aus << *plugin;
    return bild;
}

bool istEinfacherName(const QString& name)
{
    if (name.isEmpty() || name.size() > 255 || name == QLatin1String(".") || name == QLatin1String(".."))
        return false;
    for (const QChar c : name) {
        const ushort u = c.unicode();
        if (u < 0x20 || u == 0x7f || c == QLatin1Char('/') || c == QLatin1Char('\\') || c == QLatin1Char(':'))
            return false;
    }
    return true;
}

bool istMd5(const QString& text)
{
    static const QRegularExpression muster(QStringLiteral("^[0-9A-Fa-f]{32}$"));
    return muster.match(text).hasMatch();
}

namespace {

bool hatSteuerzeichen(const QString& text)
{
    for (const QChar c : text) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7f)
            return true;
    }
    return false;
}

// Shown as rich text in the root process's windows: no markup of its own.
bool istAnzeigetext(const QString& text)
{
    return text.size() <= kMaxTextLaenge && !hatSteuerzeichen(text) && !text.contains(QLatin1Char('<'))
        && !text.contains(QLatin1Char('>'));
}

bool istKurzerText(const QString& text)
{
    return text.size() <= kMaxTextLaenge && !hatSteuerzeichen(text);
}

// A file entry: the relative path of a dictionary entry (installed side) or
// "type;path" (server side). Every ";"-separated part must stay inside the
// installation, whichever side it came from.
bool istSichererEintrag(const QString& eintrag)
{
    if (eintrag.isEmpty() || eintrag.size() > kMaxTextLaenge)
        return false;
    const QStringList teile = eintrag.split(QLatin1Char(';'));
    for (const QString& teil : teile) {
        if (!teil.isEmpty() && !DictionaryHelper::istSichererPfad(teil))
            return false;
    }
    return !hatSteuerzeichen(eintrag);
}

// The dictionary an installed record was read from: a plain file directly in
// the main application's "dict" folder. Deleting a module deletes it (as
// root), so nothing else may stand here.
bool istDictPfad(const QString& pfad, const QString& koraDir)
{
    if (koraDir.isEmpty() || hatSteuerzeichen(pfad) || pfad.size() > kMaxTextLaenge)
        return false;
    const QString pfadIntern = QDir::fromNativeSeparators(pfad);
    const QFileInfo info(pfadIntern);
    if (!info.isAbsolute() || QDir::cleanPath(pfadIntern) != pfadIntern || !istEinfacherName(info.fileName()))
        return false;
    if (!info.fileName().endsWith(QLatin1String(".dict")) && !info.fileName().endsWith(QLatin1String(".vdict")))
        return false;
    const QString dictOrdner = QDir::cleanPath(QDir::fromNativeSeparators(koraDir) + QStringLiteral("/dict"));
    return info.path() == dictOrdner && Plugin::liegtImOrdner(dictOrdner, pfadIntern);
}

// A string list read without trusting its count for an allocation.
bool leseTextliste(QDataStream& ein, QStringList& liste)
{
    quint32 anzahl = 0;
    ein >> anzahl;
    if (ein.status() != QDataStream::Ok || anzahl > quint32(kMaxTitel))
        return false;
    for (quint32 i = 0; i < anzahl; ++i) {
        QString text;
        ein >> text;
        if (ein.status() != QDataStream::Ok || !istAnzeigetext(text) || text.size() > 256)
            return false;
        liste.append(text);
    }
    return true;
}

bool istListe(int art)
{
    return art == PLUGIN_CLIENT || art == PLUGIN_SERVER;
}

} // namespace

bool pruefePlugin(const Plugin& p, int art, const QString& koraDir, QString& grund)
{
    auto nein = [&grund](const QString& text) {
        grund = text;
        return false;
    };
    const bool installiert = art == PLUGIN_CLIENT || art == KORA_CLIENT;
    if (!p.istInitialisiert())
        return nein(QStringLiteral("der Datensatz ist unvollst\u00e4ndig"));
    if (!Laufjournal::istGueltigerKurzname(p.gibKurzname()))
        return nein(QStringLiteral("ung\u00fcltiger Kurzname"));
    const QString kurz = p.gibKurzname();
    // Each file holds one kind of record: a swapped or planted file shows here.
    if ((art == KORA_CLIENT || art == KORA_SERVER) && kurz != PluginManager::KURZNAME_KORA)
        return nein(QStringLiteral("der Datensatz ist nicht der der Hauptanwendung (\"%1\")").arg(kurz));
    if (art == SERVICE_SERVER && kurz != PluginManager::DICT_BASIS_SERVICE)
        return nein(QStringLiteral("der Datensatz ist nicht der des Dienstes (\"%1\")").arg(kurz));
    if (istListe(art) && kurz == PluginManager::KURZNAME_KORA)
        return nein(QStringLiteral("die Hauptanwendung steht in der Modulliste"));
    const QString name = QStringLiteral("\"%1\": ").arg(kurz);
    if (!istAnzeigetext(p.gibName()) || !istAnzeigetext(p.gibVersion()))
        return nein(name + QStringLiteral("Name oder Version enthalten Steuerzeichen oder Markup"));
    // Downloaded into and unpacked from the engine's download folder.
    if (!p.gibZip().isEmpty() && !istEinfacherName(p.gibZip()))
        return nein(name + QStringLiteral("unzul\u00e4ssiger Archivname \"%1\"").arg(p.gibZip()));
    if (!p.gibMD5().isEmpty() && !istMd5(p.gibMD5()))
        return nein(name + QStringLiteral("ung\u00fcltige MD5-Pr\u00fcfsumme \"%1\"").arg(p.gibMD5()));
    // No installer is ever run, but the text travels on: it stays plain.
    if (!istKurzerText(p.gibSilent()))
        return nein(name + QStringLiteral("ung\u00fcltige Silent-Parameter"));
    if (!p.gibReserviert1().isEmpty() || !p.gibReserviert2().isEmpty())
        return nein(name + QStringLiteral("reservierte Felder sind belegt"));
    const QList<Setup> setups = p.gibSetups();
    if (setups.size() > kMaxSetups)
        return nein(name + QStringLiteral("zu viele Update-Pakete (%1)").arg(setups.size()));
    static const QRegularExpression revision(QStringLiteral("^[0-9]{0,10}$"));
    for (const Setup& s : setups) {
        if (!s.gibDatei().isEmpty() && !istEinfacherName(s.gibDatei()))
            return nein(name + QStringLiteral("unzul\u00e4ssiger Name eines Update-Pakets \"%1\"").arg(s.gibDatei()));
        if (!s.gibMD5().isEmpty() && !istMd5(s.gibMD5()))
            return nein(name + QStringLiteral("ung\u00fcltige MD5-Pr\u00fcfsumme eines Update-Pakets \"%1\"").arg(s.gibMD5()));
        if (!revision.match(s.gibRev()).hasMatch())
            return nein(name + QStringLiteral("ung\u00fcltige Revision eines Update-Pakets"));
        if (!istKurzerText(s.gibSilent()))
            return nein(name + QStringLiteral("ung\u00fcltige Silent-Parameter eines Update-Pakets"));
    }
    const QStringList dateien = p.gibDateien();
    if (dateien.size() > kMaxDateien)
        return nein(name + QStringLiteral("zu viele Dateieintr\u00e4ge (%1)").arg(dateien.size()));
    for (const QString& d : dateien) {
        if (!istSichererEintrag(d))
            return nein(name + QStringLiteral("unzul\u00e4ssiger Dateieintrag \"%1\"").arg(d.left(200)));
    }
    if (p.gibAktion() < Plugin::KEINE || p.gibAktion() > Plugin::ENTFERNEN)
        return nein(name + QStringLiteral("unbekannte Aktion %1").arg(p.gibAktion()));
    if (p.gibStatus() < 0 || p.gibStatus() > (Plugin::MASKE_KOMPATIBILITAET | Plugin::MASKE_ZUSTAND))
        return nein(name + QStringLiteral("ung\u00fcltiges Statuswort %1").arg(p.gibStatus()));
    // Removing a module deletes its dictionary: only installed records carry
    // one, and only inside the main application's "dict" folder.
    if (!p.gibDictDatei().isEmpty() && (!installiert || !istDictPfad(p.gibDictDatei(), koraDir)))
        return nein(name + QStringLiteral("unzul\u00e4ssiger Pfad des Dictionarys \"%1\"").arg(p.gibDictDatei().left(200)));
    return true;
}

bool leseInhalt(int art, const QByteArray& bytes, const QString& koraDir, Inhalt& aus, QString& grund)
{
    aus = Inhalt();
    if (art < 0 || art >= ANZAHL_ARTEN) {
        grund = QStringLiteral("unbekannte Datei");
        return false;
    }
    if (bytes.size() > kMaxDateiGroesse) {
        grund = QStringLiteral("die Datei ist zu gro\u00df (%1 Bytes)").arg(bytes.size());
        return false;
    }
    if (bytes.isEmpty()) {
        grund = QStringLiteral("die Datei ist leer");
        return false;
    }
    if (bytes == NULL_MARKE) {
        // "KoraClient" is "NULL" when nothing was installed: a first
        // installation of the main application through the elevated run.
        if (art == KORA_CLIENT || art == KORA_SERVER || art == SERVICE_SERVER)
            return true;
        grund = QStringLiteral("eine Modulliste kann nicht \"NULL\" sein");
        return false;
    }

    QDataStream ein(bytes);
    auto fertig = [&]() {
        if (ein.status() != QDataStream::Ok) {
            grund = QStringLiteral("die Datei ist unvollst\u00e4ndig oder besch\u00e4digt");
            return false;
        }
        if (!ein.atEnd()) {
            grund = QStringLiteral("nach den Daten folgen weitere Bytes");
            return false;
        }
        return true;
    };

    if (!istListe(art)) {
        auto p = std::make_unique<Plugin>();
        ein >> *p;
        if (!fertig())
            return false;
        if (!pruefePlugin(*p, art, koraDir, grund))
            return false;
        aus.plugin = std::move(p);
        return true;
    }

    const bool verfuegbar = art == PLUGIN_SERVER;
    ein >> aus.verfuegbar >> aus.gefuellt;
    if (ein.status() != QDataStream::Ok) {
        grund = QStringLiteral("die Datei ist unvollst\u00e4ndig");
        return false;
    }
    if (aus.verfuegbar != verfuegbar) {
        grund = QStringLiteral("die Datei enth\u00e4lt die andere Modulliste");
        return false;
    }
    // The same program wrote them: its own titles, or a file of another kind.
    const DlgPluginManagerDatenmodel muster(verfuegbar);
    if (!leseTextliste(ein, aus.titel) || !leseTextliste(ein, aus.tooltips) || aus.titel != muster.gibSpaltentitel()
        || aus.tooltips != muster.gibTooltipTitel()) {
        grund = QStringLiteral("die Spalten\u00fcberschriften der Modulliste sind unbekannt");
        return false;
    }
    QString anzahlText;
    ein >> anzahlText;
    static const QRegularExpression zahl(QStringLiteral("^(0|[1-9][0-9]{0,5})$"));
    if (ein.status() != QDataStream::Ok || !zahl.match(anzahlText).hasMatch()) {
        grund = QStringLiteral("die Anzahl der Module \"%1\" ist keine Zahl").arg(anzahlText.left(40));
        return false;
    }
    const int anzahl = anzahlText.toInt();
    if (anzahl > kMaxModule) {
        grund = QStringLiteral("zu viele Module (%1, h\u00f6chstens %2)").arg(anzahl).arg(kMaxModule);
        return false;
    }
    for (int i = 0; i < anzahl; ++i) {
        auto p = std::make_unique<Plugin>();
        ein >> *p;
        if (ein.status() != QDataStream::Ok) {
            grund = QStringLiteral("der %1. Datensatz ist unvollst\u00e4ndig").arg(i + 1);
            return false;
        }
        QString warum;
        if (!pruefePlugin(*p, art, koraDir, warum)) {
            grund = QStringLiteral("der %1. Datensatz ist ung\u00fcltig: %2").arg(i + 1).arg(warum);
            return false;
        }
        aus.plugins.push_back(std::move(p));
    }
    return fertig();
}

} // namespace Plandaten

using namespace Plandaten;

bool PluginManager::schreibeDatenModelleInUserTmp()
{
    IV_LOG_EINTRITT();
    const QString ordner = gibDirDaten();
    if (!QFileInfo(ordner).isDir() && !QDir().mkpath(ordner))
        IV_LOG_ERROR(textAusLiteral("Das Verzeichnis \"%1\" konnte nicht erzeugt werden.").arg(ordner));
    // "KoraClient" has no null form in the stream; the first installation of
    // the main application still has to reach the elevated process, so a
    // missing installed record is written as "NULL" like the server's.
    if (!mp_PluginKoraInstalliert)
        IV_LOG_INFO(QStringLiteral("Kora installiert == NULL"));
    const QByteArray bilder[ANZAHL_ARTEN] = {
        bildVonListe(*mp_DatenmodelInstalliert), bildVonListe(*mp_DatenmodelVerfuegbar),
        bildVonPlugin(mp_PluginKoraInstalliert), bildVonPlugin(mp_PluginKoraVerfuegbar),
        bildVonPlugin(mp_PluginServiceServer),
    };
    for (int art = 0; art < ANZAHL_ARTEN; ++art) {
        const QString pfad = ordner + dateiname(art);
        // Written beside and renamed over: a reader never sees half a file.
        // QSaveFile would write through a link; a link or other entry in
        // the way goes first.
        const QFileInfo info(pfad);
        if (info.isSymLink() || (info.exists() && !info.isFile()))
            QFile::remove(pfad);
        QSaveFile datei(pfad);
        const bool ok = datei.open(QIODevice::WriteOnly) && datei.write(bilder[art]) == bilder[art].size()
            && datei.commit();
        if (!ok) {
            IV_LOG_ERROR(QStringLiteral("Fehler beim Schreiben in die %1").arg(pfad));
            IV_LOG_ERROR(QStringLiteral("Ursache: %1").arg(datei.errorString()));
            // An incomplete set must not be taken for the plan of a run.
            for (int frueher = 0; frueher < art; ++frueher)
                QFile::remove(ordner + dateiname(frueher));
            IV_LOG_AUSTRITT();
            return false;
        }
    }
    IV_LOG_AUSTRITT();
    return true;
}

namespace {

// Reads one file of the data folder `ordnerFd` without following a link and
// only when it is a plain file of bounded size; the name is removed
// afterwards whatever it was. False with the reason in `grund`.
bool leseUndLoesche(int ordnerFd, const QString& ordner, const QString& name, QByteArray& bytes, QString& grund)
{
    const QByteArray n = QFile::encodeName(name);
    bool ok = false;
    const int fd = ::openat(ordnerFd, n.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        if (errno == ENOENT)
            grund = QStringLiteral("die Datei fehlt");
        else if (errno == ELOOP)
            grund = QStringLiteral("die Datei ist eine symbolische Verkn\u00fcpfung");
        else
            grund = QStringLiteral("die Datei kann nicht ge\u00f6ffnet werden: %1").arg(QString::fromLocal8Bit(std::strerror(errno)));
    } else {
        struct stat st {};
        if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
            grund = QStringLiteral("keine gew\u00f6hnliche Datei");
        } else if (st.st_size > kMaxDateiGroesse) {
            grund = QStringLiteral("die Datei ist zu gro\u00df (%1 Bytes)").arg(qint64(st.st_size));
        } else {
            bytes.resize(int(st.st_size));
            qint64 gelesen = 0;
            ok = true;
            // A file still growing must not slip past the bound.
            while (ok) {
                if (gelesen == bytes.size()) {
                    char extra;
                    const ssize_t r = ::read(fd, &extra, 1);
                    if (r == 0)
                        break;
                    if (r < 0 && errno == EINTR)
                        continue;
                    ok = false;
                    grund = r < 0 ? QString::fromLocal8Bit(std::strerror(errno))
                                  : QStringLiteral("die Datei w\u00e4chst beim Lesen");
                    break;
                }
                const ssize_t r = ::read(fd, bytes.data() + gelesen, size_t(bytes.size() - gelesen));
                if (r < 0 && errno == EINTR)
                    continue;
                if (r <= 0) {
                    ok = false;
                    grund = r < 0 ? QString::fromLocal8Bit(std::strerror(errno))
                                  : QStringLiteral("die Datei wird beim Lesen k\u00fcrzer");
                    break;
                }
                gelesen += r;
            }
        }
        ::close(fd);
    }
    if (!ok)
        bytes.clear();
    // Only the name in this folder goes; a link is removed, not its target.
    if (::unlinkat(ordnerFd, n.constData(), 0) != 0 && errno != ENOENT) {
        const bool ordnerEintrag = errno == EISDIR || errno == EPERM;
        if (!ordnerEintrag || ::unlinkat(ordnerFd, n.constData(), AT_REMOVEDIR) != 0)
            IV_LOG_ERROR(textAusLiteral("Fehler beim L&ouml;schen der Datei \"%1\"").arg(ordner + name));
    }
    return ok;
}

} // namespace

bool PluginManager::leseDatenModelleAusUserTmp()
{
    IV_LOG_EINTRITT();
    const QString ordner = gibDirDaten();
    Inhalt inhalte[ANZAHL_ARTEN];
    QString fehler;
    // The folder itself must not be a link either: the names are removed as root.
    const int ordnerFd = ::open(QFile::encodeName(QDir::cleanPath(ordner)).constData(),
                                O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (ordnerFd < 0) {
        fehler = textAusLiteral("Das Datenverzeichnis \"%1\" kann nicht ge&ouml;ffnet werden: %2")
                     .arg(ordner, QString::fromLocal8Bit(std::strerror(errno)));
    } else {
        for (int art = 0; art < ANZAHL_ARTEN; ++art) {
            QByteArray bytes;
            QString grund;
            const bool gelesen = leseUndLoesche(ordnerFd, ordner, dateiname(art), bytes, grund);
            // After a failure the rest is only removed, so that nothing of a
            // rejected plan is left for a later start.
            if (!fehler.isEmpty())
                continue;
            if (!gelesen || !leseInhalt(art, bytes, gs_KoraDir, inhalte[art], grund))
                fehler = QStringLiteral("Die Datei \"%1\" wird nicht \u00fcbernommen: %2.").arg(ordner + dateiname(art), grund);
        }
        ::close(ordnerFd);
    }
    if (!fehler.isEmpty()) {
        IV_LOG_ERROR(fehler);
        IV_LOG_ERROR(QStringLiteral("Die vom ersten Prozess geplanten Aktionen k\u00f6nnen nicht ausgef\u00fchrt werden."));
        IV_LOG_AUSTRITT();
        return false;
    }

    // Everything checked: only now are the engine's lists replaced.
    DlgPluginManagerDatenmodel* modelle[2] = { mp_DatenmodelInstalliert, mp_DatenmodelVerfuegbar };
    for (int art : { PLUGIN_CLIENT, PLUGIN_SERVER }) {
        QList<Plugin*> liste;
        for (auto& p : inhalte[art].plugins)
            liste.append(p.release());
        modelle[art]->setzeListe(liste);
        modelle[art]->setzeGefuellt(inhalte[art].gefuellt);
    }
    setzePluginKoraInstalliert(inhalte[KORA_CLIENT].plugin.release());
    if (!mp_PluginKoraInstalliert)
        IV_LOG_INFO(QStringLiteral("Kora installiert == NULL"));
    setzePluginKoraVerfuegbar(inhalte[KORA_SERVER].plugin.release());
    if (!mp_PluginKoraVerfuegbar)
        IV_LOG_INFO(textAusLiteral("Kora verf&uuml;gbar == NULL"));
    // The service record lives in the technical list, next to the manager's.
    QList<Plugin*> technisch = mp_DatenmodelTechnisch->gibListe();
    technisch.removeAll(mp_PluginServiceServer);
    mp_PluginServiceServer = inhalte[SERVICE_SERVER].plugin.release();
    if (mp_PluginServiceServer)
        technisch.append(mp_PluginServiceServer);
    else
        IV_LOG_INFO(textAusLiteral("Tavo-Service verf&uuml;gbar == NULL"));
    const bool technischGefuellt = mp_DatenmodelTechnisch->istGefuellt();
    mp_DatenmodelTechnisch->setzeListe(technisch);
    mp_DatenmodelTechnisch->setzeGefuellt(technischGefuellt);
    IV_LOG_AUSTRITT();
    return true;
}
