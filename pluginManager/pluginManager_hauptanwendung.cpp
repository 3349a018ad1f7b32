// What goes with an update of the main application on the desktop: its
// folders, the menu entries in the "Fiscalon" menu folder, the edition
// setting, the uninstall entry in the registry stand-in with the
// uninstaller's copy, the write rights on the help folder, and whether the
// update service needs an update. None of these failures stops a run: each is
// logged where it occurs.

#include "pluginManager/pluginManager.h"

#include "global/plattform/plattform.h"
#include "global/varnelApplication/einstellungen.h"
#include "global/varnelApplication/logbase.h"
#include "global/varnelApplication/textausliteral.h"
#include "pluginManager/dlgPluginManagerDatenmodel.h"
#include "pluginManager/plugin.h"
#include "pluginManager/startwerte.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QSettings>

#include <cerrno>
#include <cstring>

const QString PluginManager::PRODUKTNAME = QStringLiteral("Fiscalon");
const QString PluginManager::LIZENZDATEI = QStringLiteral("Lizenzvertrag.pdf");

namespace {

const QString kUninstallSchluessel =
    QStringLiteral("HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\");
const QString kUninstallDatei = QStringLiteral("uninstall.exe");

// The main-application folder without a trailing separator; empty when unset.
QString gibDirKora()
{
    if (gs_KoraDir.isEmpty())
        return QString();
    return QDir::toNativeSeparators(QDir::cleanPath(QDir(gs_KoraDir).absolutePath()));
}

bool hatSteuerzeichen(const QString& text)
{
    for (const QChar c : text) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7f)
            return true;
    }
    return false;
}

// A menu entry's name must stay a name in the menu folder.
bool istEinfacherName(const QString& name)
{
    return !name.isEmpty() && name != QLatin1String(".") && name != QLatin1String("..")
        && !name.contains(QLatin1Char('/')) && !hatSteuerzeichen(name);
}

// Deletes one menu file with the clean-up's texts.
bool loescheMenueDatei(const QString& pfad)
{
    const QFileInfo info(pfad);
    if (!info.exists() && !info.isSymLink()) {
        IV_LOG_ERROR(textAusLiteral("Die Datei \"%1\" existiert nicht.").arg(pfad));
        return false;
    }
    if (!QFile::remove(pfad)) {
        IV_LOG_ERROR(textAusLiteral("Die Datei \"%1\" konnte nicht gel&ouml;scht werden.").arg(pfad));
        return false;
    }
    return true;
}

// A desktop entry's string value: backslash and the control characters it
// can carry are escaped.
QString alsDesktopWert(QString wert)
{
    wert.replace(QLatin1Char('\\'), QLatin1String("\\\\"));
    wert.replace(QLatin1Char('\n'), QLatin1String("\\n"));
    wert.replace(QLatin1Char('\t'), QLatin1String("\\t"));
    wert.replace(QLatin1Char('\r'), QLatin1String("\\r"));
    return wert;
}

// One quoted argument of an Exec line: inside the quotes double quote,
// backtick, dollar and backslash are escaped, and a percent sign is doubled
// so that it is no field code. The string escaping of alsDesktopWert follows.
QString alsExecArgument(const QString& argument)
{
    QString ergebnis = QStringLiteral("\"");
    for (const QChar c : argument) {
        if (c == QLatin1Char('"') || c == QLatin1Char('`') || c == QLatin1Char('$') || c == QLatin1Char('\\'))
            ergebnis += QLatin1Char('\\');
        ergebnis += c == QLatin1Char('%') ? QStringLiteral("%%") : QString(c);
    }
    return ergebnis + QLatin1Char('"');
}

// Writes string values into one key of the registry stand-in.
bool schreibeRegistrierung(const QString& schluessel, const QList<QPair<QString, QString>>& werte)
{
    const QString datei = Plattform::registrierungsDatei(schluessel);
    if (datei.isEmpty()) {
        IV_LOG_ERROR(textAusLiteral("Der Registrierungsschl&uuml;ssel \"%1\" ist ung&uuml;ltig.").arg(schluessel));
        return false;
    }
    const QString ordner = QFileInfo(datei).absolutePath();
    if (!QDir().mkpath(ordner)) {
        IV_LOG_ERROR(textAusLiteral("Das Verzeichnis %1 konnte nicht erzeugt werden.").arg(ordner));
        return false;
    }
    QSettings registrierung(datei, QSettings::IniFormat);
    for (const auto& wert : werte)
        registrierung.setValue(wert.first, wert.second);
    registrierung.sync();
    if (registrierung.status() != QSettings::NoError) {
        IV_LOG_ERROR(textAusLiteral("Der Registrierungsschl&uuml;ssel \"%1\" konnte nicht geschrieben werden (%2).")
                         .arg(schluessel, datei));
        return false;
    }
    IV_LOG_INFO(textAusLiteral("Der Registrierungsschl&uuml;ssel \"%1\" wurde geschrieben.").arg(schluessel));
    return true;
}

} // namespace

// ---- folders ---------------------------------------------------------------------

QString PluginManager::gibDirHilfe()
{
    const QString kora = gibDirKora();
    if (kora.isEmpty()) {
        IV_LOG_ERROR(textAusLiteral("Der Pfad zu Fiscalon ist leer."));
        return QString();
    }
    if (!QFileInfo(kora).isDir()) {
        IV_LOG_ERROR(textAusLiteral("Der Pfad zu Fiscalon existiert nicht."));
        return QString();
    }
    const QString hilfe = kora + QDir::separator() + QStringLiteral("hilfe");
    if (!QFileInfo(hilfe).isDir()) {
        IV_LOG_ERROR(textAusLiteral("Der Pfad zu Fiscalon/hilfe existiert nicht."));
        return QString();
    }
    return hilfe;
}

QString PluginManager::gibDirProgramData()
{
    const QString ordner = Plattform::programmDatenOrdner();
    if (ordner.isEmpty()) {
        IV_LOG_ERROR(textAusLiteral("Das Systemverzeichnis \"ProgramData\" konnte nicht ermittelt werden."));
        return QString();
    }
    return QDir::toNativeSeparators(ordner);
}

QString PluginManager::gibStartMenuePfad()
{
    const QString ordner = Plattform::startmenueOrdner();
    if (ordner.isEmpty()) {
        IV_LOG_ERROR(textAusLiteral("Das Startmen&uuml;-Verzeichnis konnte nicht ermittelt werden."));
        return QString();
    }
    return QDir::toNativeSeparators(ordner + QLatin1Char('/') + PRODUKTNAME + QLatin1Char('/'));
}

// ---- menu entries -------------------------------------------------------------------

QString PluginManager::gibStartMenueDateiname(const QString& name)
{
    if (name.endsWith(QLatin1String(".lnk"), Qt::CaseInsensitive))
        return name.left(name.size() - 4) + QStringLiteral(".desktop");
    return name;
}

bool PluginManager::startMenuEintragLoeschen(const QString& name)
{
    const QString ordner = gibStartMenuePfad();
    if (ordner.isEmpty()) {
        IV_LOG_ERROR(textAusLiteral("Fehler beim L&ouml;schen von %1. Das Startmen&uuml;-Verzeichnis konnte nicht ermittelt werden.")
                         .arg(name));
        return false;
    }
    const QString datei = gibStartMenueDateiname(name);
    if (!istEinfacherName(datei) || !loescheMenueDatei(ordner + datei)) {
        IV_LOG_ERROR(textAusLiteral("Der Startmen&uuml;-Eintrag \"%1\" konnte nicht gel&ouml;scht werden.").arg(datei));
        return false;
    }
    return true;
}

bool PluginManager::startMenueEintragUmbenennen(const QString& alt, const QString& neu)
{
    const QString ordner = gibStartMenuePfad();
    if (ordner.isEmpty()) {
        IV_LOG_ERROR(textAusLiteral("Fehler beim Umbenennen von %1. Das Startmen&uuml;-Verzeichnis konnte nicht ermittelt werden.")
                         .arg(alt));
        return false;
    }
    const QString altName = gibStartMenueDateiname(alt);
    const QString neuName = gibStartMenueDateiname(neu);
    const QString altPfad = ordner + altName;
    if (!istEinfacherName(altName) || !istEinfacherName(neuName)) {
        IV_LOG_ERROR(textAusLiteral("Die Datei %1 konnte nicht umbenannt werden.").arg(altPfad));
        return false;
    }
    const QFileInfo info(altPfad);
    if (!info.exists() && !info.isSymLink()) {
        IV_LOG_INFO(textAusLiteral("Die Datei \"%1\" kann nicht umbenannt werden, da sie nicht existiert.").arg(altPfad));
        return false;
    }
    // QFile::rename never replaces an existing target.
    if (!QFile::rename(altPfad, ordner + neuName)) {
        IV_LOG_ERROR(textAusLiteral("Die Datei %1 konnte nicht umbenannt werden.").arg(altPfad));
        return false;
    }
    return true;
}

bool PluginManager::erzeugeLizenzEintrag()
{
    const QString ordner = gibStartMenuePfad();
    const QString kora = gibDirKora();
    if (kora.isEmpty())
        IV_LOG_ERROR(textAusLiteral("Der Pfad zu Fiscalon ist leer."));
    if (ordner.isEmpty() || kora.isEmpty())
        return false;
    const QString datei = ordner + gibStartMenueDateiname(QStringLiteral("Lizenzvertrag.lnk"));
    const QFileInfo alt(datei);
    if ((alt.exists() || alt.isSymLink()) && !QFile::remove(datei))
        IV_LOG_ERROR(textAusLiteral("Die Datei %1 konnte nicht gel&ouml;scht werden.").arg(datei));

    const QString ziel = kora + QDir::separator() + LIZENZDATEI;
    QString grund;
    if (hatSteuerzeichen(ziel)) {
        // A desktop entry's Exec line cannot carry them.
        grund = textAusLiteral("Der Pfad enth&auml;lt Steuerzeichen.");
    } else {
        const QString inhalt = QStringLiteral("[Desktop Entry]\n"
                                              "Type=Application\n"
                                              "Name=Lizenzvertrag\n"
                                              "Exec=%1\n"
                                              "Path=%2\n"
                                              "Terminal=false\n"
                                              "Categories=Office;\n")
                                   .arg(alsDesktopWert(QStringLiteral("xdg-open ") + alsExecArgument(ziel)),
                                        alsDesktopWert(kora));
        QSaveFile ausgabe(datei);
        QDir().mkpath(ordner);
        if (!ausgabe.open(QIODevice::WriteOnly) || ausgabe.write(inhalt.toUtf8()) < 0 || !ausgabe.commit())
            grund = ausgabe.errorString();
        else
            QFile::setPermissions(datei, QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup | QFile::ReadOther);
    }
    if (!QFileInfo::exists(datei)) {
        IV_LOG_ERROR(textAusLiteral("Die Datei %1 konnte nicht erzeugt werden.").arg(datei)
                     + (grund.isEmpty() ? QString() : QStringLiteral(" ") + grund));
        return false;
    }
    return true;
}

// ---- edition --------------------------------------------------------------------------

void PluginManager::setzeVariante()
{
    const QString variante = Einstellungen::getAdminVariante();
    if (variante == QLatin1String("p") || variante == QLatin1String("u") || variante == QLatin1String("k"))
        return;
    int einkommensteuer = 0;
    int andere = 0;
    mp_DatenmodelInstalliert->zaehleNachUnterfallart(einkommensteuer, andere);
    if (einkommensteuer + andere == 0)
        return;
    const QString neu = andere == 0 ? QStringLiteral("p") : einkommensteuer > 0 ? QStringLiteral("k") : QStringLiteral("u");
    Einstellungen::setAdminVariante(neu);
    IV_LOG_INFO(QStringLiteral("INSTALLATION/Variante: \"%1\" -> \"%2\"").arg(variante, neu));
}

// ---- uninstall entry ------------------------------------------------------------------

bool PluginManager::setzeRegistrierungsEintraege()
{
    IV_LOG_EINTRITT();
    const QString kora = gibDirKora();
    if (kora.isEmpty()) {
        // Without the folder an uninstaller would be told to remove nothing
        // known, or everything: no entry is better.
        IV_LOG_ERROR(textAusLiteral("Der Pfad zu Fiscalon ist leer."));
        IV_LOG_AUSTRITT();
        return false;
    }
    QList<QPair<QString, QString>> werte;
    if (mp_PluginKoraVerfuegbar)
        werte.append({ QStringLiteral("DisplayVersion"), mp_PluginKoraVerfuegbar->gibVersion() });
    werte.append({ QStringLiteral("Publisher"), QStringLiteral("Quellbau") });
    werte.append({ QStringLiteral("DisplayName"), PRODUKTNAME });
    const QString programData = gibDirProgramData();
    if (!programData.isEmpty()) {
        const QString uninstall = QDir::toNativeSeparators(programData + QStringLiteral("/fiscalon/") + kUninstallDatei);
        werte.append({ QStringLiteral("UninstallString"), QStringLiteral("%1 --prefix \"%2\"").arg(uninstall, kora) });
    }
    werte.append({ QStringLiteral("InstallLocation"), kora });
    const bool ok = schreibeRegistrierung(kUninstallSchluessel + PRODUKTNAME, werte);
    IV_LOG_AUSTRITT();
    return ok;
}

bool PluginManager::setzeRegistrierungsEintraegeMSI()
{
    IV_LOG_EINTRITT();
    const QString produktcode = Einstellungen::getAdminProductcode();
    bool ok = false;
    if (produktcode.isEmpty()) {
        // The key would be the uninstall root itself, which belongs to every
        // program of the machine: nothing is written.
        IV_LOG_ERROR(textAusLiteral("Der \"Productcode\" wurde nicht in der tavo.ini gefunden."));
    } else if (produktcode.contains(QLatin1Char('\\'))) {
        IV_LOG_ERROR(textAusLiteral("Der \"Productcode\" \"%1\" ist ung&uuml;ltig.").arg(produktcode));
    } else if (!mp_PluginKoraVerfuegbar) {
        IV_LOG_ERROR(textAusLiteral("Die Version der Hauptanwendung auf dem Server ist nicht bekannt."));
    } else {
        ok = schreibeRegistrierung(kUninstallSchluessel + produktcode,
                                   { { QStringLiteral("DisplayVersion"), mp_PluginKoraVerfuegbar->gibVersion() } });
    }
    IV_LOG_AUSTRITT();
    return ok;
}

bool PluginManager::kopiereUninstall()
{
    IV_LOG_EINTRITT();
    const QString programData = gibDirProgramData();
    const QString kora = gibDirKora();
    if (programData.isEmpty() || kora.isEmpty()) {
        IV_LOG_AUSTRITT();
        return false;
    }
    const QString ordner = QDir::toNativeSeparators(programData + QStringLiteral("/fiscalon"));
    const QString quelle = QDir::toNativeSeparators(kora + QStringLiteral("/bin/") + kUninstallDatei);
    const QString ziel = ordner + QDir::separator() + kUninstallDatei;
    bool ok = false;
    if (!QDir().mkpath(ordner)) {
        IV_LOG_ERROR(textAusLiteral("Das Verzeichnis %1 konnte nicht erzeugt werden.").arg(ordner));
    } else if (!QFileInfo(quelle).isFile()) {
        IV_LOG_ERROR(textAusLiteral("Die Datei \"%1\" existiert nicht.").arg(quelle));
    } else if ((QFileInfo::exists(ziel) || QFileInfo(ziel).isSymLink()) && !QFile::remove(ziel)) {
        IV_LOG_ERROR(textAusLiteral("Die Datei \"%1\" konnte nicht gel&ouml;scht werden..").arg(ziel));
    } else if (!QFile::copy(quelle, ziel)) {
        IV_LOG_ERROR(textAusLiteral("Fehler beim Kopieren der Datei \"%1\" nach \"%2\"").arg(quelle, ziel));
    } else {
        ok = true;
    }
    IV_LOG_AUSTRITT();
    return ok;
}

// ---- rights on the help folder ----------------------------------------------------------

bool PluginManager::setzeSchreibrechte(const QString& verzeichnis)
{
    IV_LOG_EINTRITT();
    static const QString gruppe = QStringLiteral("users");
    QList<Plattform::RechteFehler> fehler;
    int ohneAcl = 0;
    const bool ok = Plattform::gewaehreGruppenrechte(verzeichnis, gruppe, fehler, ohneAcl);
    for (const Plattform::RechteFehler& f : qAsConst(fehler)) {
        QString text;
        switch (f.art) {
        case Plattform::RechteFehler::LESEN:
            text = textAusLiteral("Die Sicherheitsinformationen konnten nicht abgerufen werden. Fehlernummer: %1");
            break;
        case Plattform::RechteFehler::GRUPPE:
            text = textAusLiteral("Der SID konnte nicht initialisiert werden.");
            break;
        case Plattform::RechteFehler::EINTRAEGE:
            text = textAusLiteral("Die Eintr&auml;ge in der Zugriffskontrollliste konnten nicht gesetzt werden. Fehlernummer: %1");
            break;
        case Plattform::RechteFehler::SETZEN:
            text = textAusLiteral("Die Zugriffsrechte konnten nicht eingestellt werden. Fehlernummer: %1");
            break;
        }
        if (text.contains(QLatin1String("%1")))
            text = text.arg(f.nummer);
        // The walk's own refusals get their reason; the rest the system's text.
        QString grund = QString::fromLocal8Bit(std::strerror(f.nummer));
        if (f.art == Plattform::RechteFehler::SETZEN && f.nummer == EMLINK)
            grund = textAusLiteral("mehrere harte Links, die Datei bleibt unver&auml;ndert");
        else if (f.art == Plattform::RechteFehler::SETZEN && f.nummer == ELOOP)
            grund = textAusLiteral("zu tief verschachtelt, der Ordner bleibt unver&auml;ndert");
        IV_LOG_ERROR(QStringLiteral("%1 [%2] (%3)").arg(text, QDir::toNativeSeparators(f.pfad), grund));
    }
    if (ohneAcl > 0)
        IV_LOG_INFO(textAusLiteral("Das Dateisystem von \"%1\" unterst&uuml;tzt keine Zugriffskontrolllisten: %2 Eintr&auml;ge "
                                   "geh&ouml;ren stattdessen der Gruppe \"%3\" mit Schreibrecht.")
                        .arg(verzeichnis).arg(ohneAcl).arg(gruppe));
    if (ok)
        IV_LOG_INFO(textAusLiteral("Die Gruppe \"%1\" darf in \"%2\" lesen und schreiben.").arg(gruppe, verzeichnis));
    IV_LOG_AUSTRITT();
    return ok;
}

// ---- the update service ---------------------------------------------------------------------

bool PluginManager::istServiceUpdateErforderlich()
{
    IV_LOG_EINTRITT();
    if (!mp_PluginServiceServer) {
        bool selbstUpdate = false;
        bool dienst = false;
        leseTechPluginDatei(selbstUpdate, dienst, false);
    }
    if (!mp_PluginServiceServer) {
        IV_LOG_ERROR(textAusLiteral("Bei der Auswertung der Informationen des verf&uuml;gbaren \"%1\" ist ein Fehler aufgetreten.")
                         .arg(SERVICE_NAME));
        IV_LOG_AUSTRITT();
        return false;
    }
    // Read anew: a previous step may have replaced the service's files.
    delete mp_PluginService;
    mp_PluginService = nullptr;
    const bool erforderlich = !leseServiceDictInfo()
        || Plugin::vergleicheVersion(mp_PluginService, mp_PluginServiceServer) == Plugin::ZUSTAND_ANDERES_GROESSER;
    IV_LOG_AUSTRITT();
    return erforderlich;
}

// ==== the housekeeping of a main-application update ==========================================
// The update of the main application calls this once its files are in place.

void PluginManager::fuehreHauptanwendungsNacharbeitenAus()
{
    IV_LOG_EINTRITT();
    setzeVariante();

    startMenuEintragLoeschen(QStringLiteral("Deinstallation.lnk"));
    startMenuEintragLoeschen(QStringLiteral("Fiscalon - Deinstallation.lnk"));
    erzeugeLizenzEintrag();

    // Older setups named the entries with the product in front.
    static const char* const umbenennungen[][2] = {
        { "Fiscalon - Hilfe.lnk", "Hilfe.lnk" },
        { "Fiscalon - Hotline.lnk", "Infodatei - Support.lnk" },
        { "Infodatei - Soupport.lnk", "Infodatei - Support.lnk" },
        { "Fiscalon - Installationsverwaltung.lnk", "Installationsverwaltung.lnk" },
        { "Fiscalon - Integrit&auml;tspr&uuml;fer.lnk", "Integrit&auml;tspr&uuml;fer.lnk" },
        { "Fiscalon - Screenreadermodus.lnk", "Screenreadermodus.lnk" },
    };
    for (const auto& paar : umbenennungen)
        startMenueEintragUmbenennen(textAusLiteral(paar[0]), textAusLiteral(paar[1]));

    if (Einstellungen::getAdminMsiPath().isEmpty()) {
        setzeRegistrierungsEintraege();
        kopiereUninstall();
    } else {
        setzeRegistrierungsEintraegeMSI();
    }
    IV_LOG_AUSTRITT();
}
