// The update of the main application and of the update service, and what
// goes with an update of the main application on the desktop: its
// folders, the menu entries in the "Fiscalon" menu folder, the edition
// setting, the uninstall entry in the registry stand-in with the
// uninstaller's copy, the write rights on the help folder, and whether the
// update service needs an update. Only a main application that could not be
// fetched or unpacked stops a run; every other failure is logged where it
// occurs and the run goes on.

#include "pluginManager/pluginManager.h"

#include "global/plattform/plattform.h"
#include "global/varnelApplication/einstellungen.h"
#include "global/varnelApplication/logbase.h"
#include "global/varnelApplication/textausliteral.h"
#include "pluginManager/dlgPluginManagerDatenmodel.h"
#include "pluginManager/plugin.h"
#include "pluginManager/setup.h"
#include "pluginManager/startwerte.h"
#include "pluginManager/tavoservice.h"
#include "pluginManager/updateprocess.h"

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

const char* const kErfolgsstamm = "Das Hauptprogramm und die Steuerberechnung wurden ";
const char* const kFolgendeAktionen = "<br>Aus diesem Grund werden die im Ablauf folgenden Aktionen nicht durchgef&uuml;hrt.";
const char* const kWinXp = "Wenn Sie WinXP verwenden, ist der Grund eventuell eine falsche Einstellung im Berechtigungsdialog.";
// The help text of a failed update, word for word as users know it.
const char* const kHilfetextXp =
    "<br><b>Wenn Sie Windows XP verwenden, ist der Grund eventuell eine falsche Einstellung im Berechtigungsdialog:</b>"
    "<br><br>Sollten Sie Windows XP benutzen, erhalten Sie abh&auml;ngig von den Installationsrechten Ihres "
    "Benutzerkontos eine Sicherheitsabfrage, um den Download und die Installation mit Administrator-Berechtigung "
    "auszuf&uuml;hren."
    "<ul><li>Wenn Ihre aktuelle Benutzeranmeldung keine ausreichenden Installationsrechte besitzt (z.B. "
    "Hauptbenutzer oder Gast), erhalten Sie einen Dialog zur Ausf&uuml;hrung des Programms mit einem "
    "anderen Benutzerkonto.<br>"
    "Bitte geben Sie einen Benutzernamen mit Administratorrechten und das zugeh&ouml;rige Kennwort ein. "
    "Der Download und die Installation wird anschlie&szlig;end mit den Installationsrechten dieses Benutzers fortgesetzt.<br>"
    "<li>Wenn Sie als Benutzer mit Installationsrechten (Administrator) angemeldet sind, erhalten "
    "Sie einen Dialog mit einer  zus&auml;tzlichen Sicherheitsabfrage. Um den Download und die Installation fortzusetzen, "
    "<b>entfernen Sie bitte den Haken \"Computer und Daten vor nicht autorisierter Programmaktivit&auml;t sch&uuml;tzen\".</b> "
    "Bei dieser Sicherheitsoption handelt es sich um eine zus&auml;tzliche Sicherheitsabfrage f&uuml;r Administratoren, "
    "um den Installationsvorgang zu best&auml;tigen. Die Programmaktivit&auml;ten der Installationsverwaltung werden damit "
    "von Ihnen autorisiert. Sollten Sie den Haken nicht deaktivieren, kann die Installationsverwaltung die von Ihnen "
    "ausgew&auml;hlten Aktionen nicht durchf&uuml;hren."
    "</ul>";

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
    if (!istEinfacherName(datei) || !loescheDatei(ordner + datei)) {
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
        // An instance the service started never ran the restart step that
        // fetches the technical index; a copy left in the data folder by an
        // earlier first process may be missing or stale.
        bool selbstUpdate = false;
        bool dienst = false;
        leseTechPluginDatei(selbstUpdate, dienst, true);
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
    const bool erforderlich = !leseServiceDictInfo() || mb_DienstBeschaedigt
        || Plugin::vergleicheVersion(mp_PluginService, mp_PluginServiceServer) == Plugin::ZUSTAND_ANDERES_GROESSER;
    IV_LOG_AUSTRITT();
    return erforderlich;
}

// ==== the update of the main application =====================================================

QString PluginManager::gibTextKeinHauptanwendungsUpdate() const
{
    if (!mp_PluginKoraVerfuegbar)
        return textAusLiteral("Das Hauptprogramm und die Steuerberechnung k&ouml;nnen nicht aktualisiert werden, da sie nicht "
                              "auf dem Server gefunden wurden.");
    QString text = textAusLiteral("Das Hauptprogramm und die Steuerberechnung wurden nicht aktualisiert, da auf dem Server "
                                  "kein Update gefunden wurde.");
    if (m_AktionenListe.size() > 1)
        text += textAusLiteral(kFolgendeAktionen);
    return text;
}

std::optional<Setup> PluginManager::gibHauptanwendungsPaket() const
{
    if (!mp_PluginKoraVerfuegbar || !mp_PluginKoraInstalliert)
        return std::nullopt;
    const uint installiert = mp_PluginKoraInstalliert->gibRev();
    if (mp_PluginKoraInstalliert->istBeschaedigt() && !mp_PluginKoraVerfuegbar->gibZip().isEmpty()
        && mp_PluginKoraVerfuegbar->gibRev() >= installiert) {
        Setup komplett;
        komplett.setzeDatei(mp_PluginKoraVerfuegbar->gibZip());
        komplett.setzeMD5(mp_PluginKoraVerfuegbar->gibMD5());
        komplett.setzeSize(mp_PluginKoraVerfuegbar->gibSize());
        komplett.setzeUnzipFileSize(mp_PluginKoraVerfuegbar->gibUnzipFileSize());
        komplett.setzeSilent(mp_PluginKoraVerfuegbar->gibSilent());
        komplett.setzeRev(QString::number(installiert));
        return komplett;
    }
    return mp_PluginKoraVerfuegbar->gibSetup(installiert);
}

bool PluginManager::updateKora()
{
    IV_LOG_EINTRITT();
    // The caller ends the run (and an unattended process) on false, so no
    // path here ends it a second time.
    std::optional<Setup> paket;
    if (mp_PluginKoraVerfuegbar && mp_PluginKoraInstalliert) {
        mp_PluginKoraInstalliert->setzeAktion(Plugin::KEINE);
        paket = gibHauptanwendungsPaket();
    }
    if (!paket) {
        const QString text = gibTextKeinHauptanwendungsUpdate();
        IV_LOG_ERROR(text);
        m_Meldungen.insert(1, text);
        IV_LOG_AUSTRITT();
        return false;
    }
    if (!updateHauptanwendung(mp_PluginKoraVerfuegbar, *paket)) {
        IV_LOG_AUSTRITT();
        return false;
    }
    fuehreHauptanwendungsNacharbeitenAus();
    updateService();
    IV_LOG_AUSTRITT();
    return true;
}

bool PluginManager::updateHauptanwendung(Plugin* hauptanwendung, const Setup& paket)
{
    IV_LOG_EINTRITT();
    const QString name = hauptanwendung->gibAnzeigename();
    const QString tmp = gibDirTmp();
    const QString folgende = m_AktionenListe.size() > 1 ? textAusLiteral(kFolgendeAktionen) : QString();
    if (!istInstallerVorhanden(tmp, paket.gibDatei(), paket.gibMD5())) {
        QString fehler;
        if (!downloadInstallerPlugin(name, paket.gibDatei(), paket.gibMD5(), tmp, fehler)) {
            emit statusText(QString::fromLatin1(kWinXp));
            resetAktionenDerPlugins();
            QString text = QStringLiteral("Die Hauptanwendung konnte nicht aktualisiert werden, da die Datei \"%1\" nicht vom "
                                          "Server geladen werden konnte.<br>")
                               .arg(paket.gibDatei());
            if (!fehler.isEmpty())
                text += QStringLiteral("Fehlerursache: %1<br>").arg(fehler);
            text += folgende + QStringLiteral("<br><br>%1").arg(QString::fromLatin1(kWinXp));
            m_Meldungen.insert(1, text);
            IV_LOG_ERROR(QString(text).replace(QLatin1String("<br>"), QLatin1String(" ")));
            IV_LOG_AUSTRITT();
            return false;
        }
    }
    if (mb_Abbruch) {
        const QString text = QStringLiteral("\"%1\" wurde nicht installiert, da die Aktion durch den Anwender abgebrochen wurde.")
                                 .arg(name)
            + folgende;
        IV_LOG_INFO(text);
        emit statusText(text);
        m_Meldungen.insert(1, text);
        IV_LOG_AUSTRITT();
        return false;
    }
    emit downloadFortschritt(0, 0);
    emit fortschritt(mi_SchrittAktuell, mi_AnzahlSchritte);
    emit statusText(textAusLiteral("Die Aktualisierung von \"%1\" wird durchgef&uuml;hrt.").arg(name));
    ++mi_SchrittAktuell;
    IV_LOG_INFO(QStringLiteral("Installiere; Datei: [%1] Verzeichnis: [%2]").arg(paket.gibDatei(), tmp));

    const bool ok = !gs_KoraDir.isEmpty() && unzipPlugin(paket.gibDatei(), gs_KoraDir);
    if (!ok) {
        const QString text = textAusLiteral("Das Hauptprogramm und die Steuerberechnung konnten nicht aktualisiert werden.<br><br>")
            + textAusLiteral(kHilfetextXp);
        IV_LOG_ERROR(text);
        m_Meldungen.insert(1, text);
    } else {
        const QString text = QString::fromLatin1(kErfolgsstamm) + QStringLiteral("aktualisiert.");
        IV_LOG_INFO(text);
        m_Meldungen.insert(0, text);
        loescheAltlasten();
    }
    IV_LOG_AUSTRITT();
    return ok;
}

// ==== the update service ======================================================================

QString PluginManager::gibDienstProgramm()
{
    const QString dienst = gibDirService();
    if (dienst.isEmpty())
        return QString();
    return QDir::toNativeSeparators(dienst + QStringLiteral("/bin/tavoService"));
}

void PluginManager::updateService()
{
    IV_LOG_EINTRITT();
    const QString name = SERVICE_ANZEIGENAME;
    if (!istServiceUpdateErforderlich()) {
        IV_LOG_INFO(QStringLiteral("Ein Update des \"%1\" ist nicht erforderlich.").arg(SERVICE_NAME));
        IV_LOG_AUSTRITT();
        return;
    }
    const QString tmp = gibDirTmp();
    QString fehler;
    if (!downloadInstallerPlugin(name, mp_PluginServiceServer->gibZip(), mp_PluginServiceServer->gibMD5(), tmp, fehler)) {
        IV_LOG_ERROR(textAusLiteral("Das Update f&uuml;r den \"%1\" konnte nicht vom Server geladen werden. Fehlerursache: %2")
                         .arg(name, fehler));
        emit initStatusText(QString(), false);
        emit sgnDownloadInstaller(false);
        IV_LOG_AUSTRITT();
        return;
    }

    // From here the service may be stopped, deregistered or half replaced: a
    // stop in between leaves the step open, and the next start renews the
    // service whatever its files say.
    const Laufjournal::Teil teil{ DICT_BASIS_SERVICE, 0 };
    m_Journal.schritt(Laufjournal::DIENST, teil, false);
    struct Schrittende
    {
        Laufjournal& journal;
        const Laufjournal::Teil& teil;
        ~Schrittende() { journal.schritt(Laufjournal::DIENST, teil, true); }
    } schrittende{ m_Journal, teil };

    tavoService dienst;
    if (dienst.init()) {
        bool ok = false;
        const bool laeuft = dienst.istGestartet(ok);
        if (!ok)
            IV_LOG_ERROR(QStringLiteral("Der Status des \"%1\" konnte nicht abgefragt werden.").arg(name));
        // A service whose state is unknown may be running: it is asked to stop
        // as well, and is left alone when that fails.
        if ((laeuft || !ok) && !dienst.stoppe()) {
            IV_LOG_ERROR(QStringLiteral("Der \"%1\" konnte nicht gestoppt werden.").arg(name));
            IV_LOG_AUSTRITT();
            return;
        }
        if (!dienst.loesche())
            IV_LOG_ERROR(QStringLiteral("\"%1\" konnte nicht deregistriert werden.").arg(name));
    }

    const QString ordner = gibDirService();
    if (ordner.isEmpty()) {
        IV_LOG_ERROR(textAusLiteral("Das Verzeichnis f&uuml;r den \"%1\" konnte nicht ermittelt werden.").arg(name));
        IV_LOG_AUSTRITT();
        return;
    }
    if (!QFileInfo(ordner).isDir() && !QDir().mkpath(ordner)) {
        IV_LOG_ERROR(QStringLiteral("Das Verzeichnis \"%1\" konnte nicht erzeugt werden.").arg(ordner));
        IV_LOG_AUSTRITT();
        return;
    }
    // The old program is set aside rather than deleted: when the new one
    // cannot be unpacked, the machine keeps a working service.
    const QString programm = gibDienstProgramm();
    const QString beiseite = programm + QStringLiteral(".alt");
    bool alterBeiseite = false;
    if (QFileInfo(programm).isFile()) {
        QFile::remove(beiseite);
        alterBeiseite = QFile::rename(programm, beiseite);
        if (!alterBeiseite)
            IV_LOG_ERROR(textAusLiteral("Die Datei \"%1\" konnte nicht gel&ouml;scht werden.").arg(programm));
    }
    IV_LOG_INFO(QStringLiteral("Installiere; Datei: [%1] Verzeichnis: [%2]").arg(mp_PluginServiceServer->gibZip(), ordner));
    if (!unzipPlugin(mp_PluginServiceServer->gibZip(), ordner)) {
        const QString text = QStringLiteral("\"%1\" wurde nicht installiert.").arg(name);
        IV_LOG_ERROR(text);
        m_Meldungen.insert(1, text);
        if (alterBeiseite && !QFileInfo::exists(programm) && QFile::rename(beiseite, programm)) {
            tavoService alt;
            if (alt.erzeugen(programm))
                IV_LOG_INFO(QStringLiteral("Der bisherige \"%1\" wurde wieder registriert.").arg(name));
        }
        IV_LOG_AUSTRITT();
        return;
    }
    if (alterBeiseite)
        QFile::remove(beiseite);
    // The service manager runs it: executable whatever the archive's entry
    // said, writable only by root.
    QFile::setPermissions(programm, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadGroup
                                        | QFile::ExeGroup | QFile::ReadOther | QFile::ExeOther);
    const QString text = QStringLiteral("\"%1\" wurde installiert.").arg(name);
    IV_LOG_INFO(text);
    m_Meldungen.insert(0, text);
    mb_DienstBeschaedigt = false;

    tavoService neu;
    if (neu.erzeugen(programm))
        IV_LOG_INFO(QStringLiteral("\"%1\" wurde registriert.").arg(name));
    else
        IV_LOG_ERROR(QStringLiteral("\"%1\" wurde nicht registriert.").arg(name));
    setzeServiceRechte();
    IV_LOG_AUSTRITT();
}

void PluginManager::setzeServiceRechte()
{
    IV_LOG_INFO(textAusLiteral("setze Security-Einstellungen f&uuml;r den \"%1\"").arg(SERVICE_NAME));
    // The service program writes the access for the machine's service
    // manager: a polkit rule for the unit under systemd, the registration's
    // access entry with the built-in one.
    const QString programm = gibDienstProgramm();
    int rc = 500;
    if (!programm.isEmpty()) {
        UpdateProcess prozess(programm, QString(), QStringLiteral("--zugriff %1 \"users\"").arg(SERVICE_NAME), false, true, 0);
        prozess.setzeTimeout(10000);
        prozess.run();
        rc = prozess.gibRc();
    }
    if (rc != 0)
        IV_LOG_ERROR(textAusLiteral("Fehler beim setzen der Security-Einstellungen f&uuml;r den \"%1\". Fehlernummer: %2")
                         .arg(SERVICE_NAME)
                         .arg(rc));
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
