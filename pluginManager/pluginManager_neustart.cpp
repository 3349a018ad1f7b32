// The hand-over of a first process to the instance that does the work: the
// update service starts the copy of the service folder in this session, or
// the copy is started directly (the installation's with root's rights). The
// started process carries "--esStart", "--admin" or "--selbstUpdate" and the
// next instance number, so it neither meets the instance guard nor hands
// over again.

#include "pluginManager/neustart.h"

#include "global/plattform/dienstverwaltung.h"
#include "global/plattform/plattform.h"
#include "global/varnelApplication/einstellungen.h"
#include "global/varnelApplication/logbase.h"
#include "global/varnelApplication/textausliteral.h"
#include "pluginManager/pluginManager.h"
#include "pluginManager/startwerte.h"
#include "pluginManager/tavoservice.h"
#include "pluginManager/updateprocess.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace {

std::function<std::unique_ptr<Plattform::Dienstverwaltung>()> g_dienstFabrik;

// The show command of a normal window.
const int SW_NORMAL = 5;

// The five restart data files in the user's data folder.
const char* const DATENDATEIEN[] = { "PluginClient", "PluginServer", "KoraClient", "KoraServer", "ServiceServer" };

// "--switch="value"", quoted as UpdateProcess and the service program read
// it back: a quote or a backslash inside the value gets a backslash.
QString wertSchalter(const QString& schalter, QString wert)
{
    wert.replace(QLatin1Char('\\'), QLatin1String("\\\\"));
    wert.replace(QLatin1Char('"'), QLatin1String("\\\""));
    return QStringLiteral("%1=\"%2\"").arg(schalter, wert);
}

// The user's data folder the started instance must use: the one given, else
// this user's default. Computed here, before any elevation, so that a root
// instance works in the user's folder, never in root's.
QString benutzerOrdner()
{
    if (gs_DirUserKora.size() > 1)
        return gs_DirUserKora;
    QString ordner = QDir::toNativeSeparators(Einstellungen::gibDirUser());
    while (ordner.size() > 1 && ordner.endsWith(QDir::separator()))
        ordner.chop(1);
    return ordner;
}

QString programmName()
{
    return QFileInfo(PluginManager::gibProgrammDatei()).fileName();
}

} // namespace

void setzeDienstverwaltungFuerNeustart(std::function<std::unique_ptr<Plattform::Dienstverwaltung>()> fabrik)
{
    g_dienstFabrik = std::move(fabrik);
}

QStringList PluginManager::gibNeustartParameter(bool alsAdmin, bool selbstUpdate) const
{
    QStringList p;
    p << wertSchalter(QStringLiteral("--koraDir"), gs_KoraDir);
    if ((gb_Admin || alsAdmin) && !selbstUpdate)
        p << QStringLiteral("--admin");
    if (gb_ZeigeDlg)
        p << QStringLiteral("--zeigeDlg");
    if (gb_Updateueberpuefung)
        p << QStringLiteral("--updatepruefung");
    if (gb_ZeigeBenutzerDefTab)
        p << QStringLiteral("--zeigeBenutzerDefTab2");
    if (selbstUpdate)
        p << QStringLiteral("--selbstUpdate");
    if (gs_DelPlugin.size() > 1)
        p << wertSchalter(QStringLiteral("--delPlugin"), gs_DelPlugin);
    if (gs_InstPlugin.size() > 1)
        p << wertSchalter(QStringLiteral("--instPlugin"), gs_InstPlugin);
    p << QStringLiteral("--i%1").arg(gi_InstanzNr + 1);
    if (gs_Redirect.size() > 1)
        p << wertSchalter(QStringLiteral("--redirect"), gs_Redirect);
    const QString benutzer = benutzerOrdner();
    if (!benutzer.isEmpty())
        p << wertSchalter(QStringLiteral("--dirUserKora"), benutzer);
    return p;
}

int PluginManager::neustartPerProcess(bool ausServiceVerzeichnis, bool alsAdmin)
{
    IV_LOG_EINTRITT();
    mb_KopieBeendet = false;
    QString verzeichnis;
    if (ausServiceVerzeichnis) {
        verzeichnis = gibDirService();
    } else {
        QDir dir(QFileInfo(gibProgrammDatei()).absolutePath());
        if (dir.cdUp())
            verzeichnis = QDir::toNativeSeparators(dir.absolutePath());
    }
    if (verzeichnis.isEmpty() || !istKopieValid(verzeichnis)) {
        IV_LOG_ERROR(QStringLiteral("Abbruch Neustart aus \"%1\" Fehler-Code: [%2]").arg(verzeichnis).arg(NEUSTART_KOPIE_UNGUELTIG));
        return NEUSTART_KOPIE_UNGUELTIG;
    }
    const QString bin = verzeichnis + QDir::separator() + QStringLiteral("bin");
    const QString programm = bin + QDir::separator() + programmName();
    // The installation's copy started elevated for a self-update must install
    // it: with "--admin" alone it would wait for a plan nobody wrote and end
    // with -1, leaving the old manager in place at every start.
    const bool fuerSelbstUpdate = alsAdmin && !ausServiceVerzeichnis;
    const QString parameter = gibNeustartParameter(alsAdmin, ausServiceVerzeichnis || fuerSelbstUpdate).join(QLatin1Char(' '));
    IV_LOG_INFO(textAusLiteral("Parameter f&uuml;r Neustart aus \"%1\": [%2]").arg(verzeichnis, parameter));
    UpdateProcess prozess(programm, bin, parameter, alsAdmin, ausServiceVerzeichnis, SW_NORMAL);
    prozess.run();
    int rc = prozess.gibRc();
    // The copy of the service folder was waited for: when it ran to its end
    // it did this process's work, whatever its exit code says.
    if (ausServiceVerzeichnis && !alsAdmin && prozess.gibProzessId() != 0 && rc != 501) {
        // Its status is one byte: -91 arrives as 165; 128 + N is a signal.
        if (rc > 127 && !(rc > 128 && rc < 128 + 32))
            rc = qint8(rc);
        mb_KopieBeendet = true;
        mi_KopieExitCode = rc;
        IV_LOG_INFO(QStringLiteral("Die Kopie der %1 aus \"%2\" endete mit %3.").arg(gs_AnwendungsName, verzeichnis).arg(rc));
    }
    if (rc == 0)
        QCoreApplication::exit(0);
    IV_LOG_AUSTRITT();
    return rc;
}

bool PluginManager::neuStartMitAdminRechten()
{
    if (mb_NeustartMitAdminRechten) {
        IV_LOG_INFO(QStringLiteral("Ein doppelter Start mit Administratorrechten wurde verhindert."));
        return false;
    }
    mb_NeustartMitAdminRechten = true;
    if (!schreibeDatenModelleInUserTmp()) {
        mb_NeustartMitAdminRechten = false;
        return false;
    }
    QString parameter = QStringLiteral("%1 %2").arg(QStringLiteral("--admin"), QStringLiteral("--zeigeDlg"));
    if (gi_InstanzNr + 1 > 1)
        parameter += QStringLiteral(" --i%1").arg(gi_InstanzNr + 1);
    parameter += QLatin1Char(' ') + wertSchalter(QStringLiteral("--koraDir"), gs_KoraDir);
    if (!gs_Redirect.isEmpty())
        parameter += QLatin1Char(' ') + wertSchalter(QStringLiteral("--redirect"), gs_Redirect);
    const QString benutzer = benutzerOrdner();
    if (!benutzer.isEmpty())
        parameter += QLatin1Char(' ') + wertSchalter(QStringLiteral("--dirUserKora"), benutzer);
    IV_LOG_INFO(textAusLiteral("Parameter f&uuml;r Neustart: [%1]").arg(parameter));

    const QFileInfo programm(gibProgrammDatei());
    UpdateProcess prozess(programm.fileName(), programm.absolutePath(), parameter, true, false, SW_NORMAL);
    prozess.run();
    // A refused or cancelled prompt started nothing: the plan must not wait
    // in the user's folder for an instance that never comes, and the user may
    // try again. Ending here would report the user's work as handed over.
    if (prozess.gibRc() != 0) {
        QString text;
        prozess.gibFehlertext(text);
        IV_LOG_ERROR(textAusLiteral("Der Neustart mit Administratorrechten ist fehlgeschlagen (%1: %2); die %3 "
                                    "arbeitet in diesem Prozess weiter.")
                         .arg(prozess.gibRc())
                         .arg(text, gs_AnwendungsName));
        for (const char* name : DATENDATEIEN)
            QFile::remove(gibDirDaten() + QLatin1String(name));
        mb_NeustartMitAdminRechten = false;
        return false;
    }
    QCoreApplication::exit(0);
    return true;
}

bool neustartPerTavoService(const QStringList& argumente)
{
    // The update check answers the main application itself.
    if (gb_Updateueberpuefung)
        return false;
    tavoService dienst(g_dienstFabrik ? g_dienstFabrik() : Plattform::erzeugeDienstverwaltung());
    const QString name = tavoService::ANZEIGENAME;
    if (!dienst.init()) {
        IV_LOG_ERROR(textAusLiteral("Der \"%1\" konnte nicht ge&ouml;ffnet werden.").arg(name));
        return false;
    }
    bool ok = false;
    const bool gestoppt = dienst.istGestoppt(ok);
    if (!ok) {
        IV_LOG_ERROR(QStringLiteral("Der Status des \"%1\" konnte nicht abgefragt werden.").arg(name));
        return false;
    }
    if (!gestoppt && !dienst.stoppe()) {
        IV_LOG_ERROR(QStringLiteral("Der \"%1\" konnte nicht gestoppt werden.").arg(name));
        return false;
    }
    QStringList parameter = argumente;
    parameter << QStringLiteral("--esStart");
    qint64 sitzung = 0;
    if (!Plattform::sitzungsId(sitzung)) {
        IV_LOG_ERROR(QStringLiteral("Die SID konnte nicht ermittelt werden."));
        return false;
    }
    parameter << QStringLiteral("--sID=%1").arg(sitzung);
    IV_LOG_INFO(textAusLiteral("Startparameter f&uuml;r den \"%1\": [%2]").arg(name, parameter.join(QStringLiteral("] ["))));
    if (!dienst.starte(parameter.size(), parameter)) {
        IV_LOG_ERROR(QStringLiteral("Der Tavo-Service konnte nicht gestartet werden."));
        return false;
    }
    // The started manager outlives the service; a service that does not stop
    // in time has still done its part.
    if (!dienst.stoppe())
        IV_LOG_ERROR(QStringLiteral("Der Tavo-Service konnte nicht gestoppt werden."));
    IV_LOG_INFO(QStringLiteral("Die %1 wurde erfolgreich durch den Tavo-Service neu gestartet.").arg(gs_AnwendungsName));
    return true;
}

int neustartPerServiceOderProzess(bool serviceVerwenden, PluginManager& pm)
{
    const QString dienstOrdner = serviceVerwenden ? PluginManager::gibDirService() : QString();
    if (!dienstOrdner.isEmpty()) {
        QStringList argumente;
        argumente << dienstOrdner + QDir::separator() + QStringLiteral("bin") + QDir::separator() + programmName();
        argumente << pm.gibNeustartParameter(false, false);
        if (neustartPerTavoService(argumente)) {
            logExitCode(0);
            return 0;
        }
    }
    const int code = pm.neustartPerProcess(true, false);
    if (code == NEUSTART_KOPIE_UNGUELTIG)
        return code;
    logExitCode(code);
    return code;
}

int neuStartMitAdminRechtenFuerSelbstUpdate(bool serviceVerwenden, PluginManager& pm)
{
    IV_LOG_INFO(textAusLiteral("Fordere Administrator-Rechte f&uuml;r die Installation des Selbst-Update an."));
    if (serviceVerwenden) {
        QStringList argumente;
        argumente << PluginManager::gibProgrammDatei() << pm.gibNeustartParameter(true, true);
        // The service passes every switch once and refuses a repeated one.
        if (!argumente.contains(QStringLiteral("--selbstUpdate")))
            argumente << QStringLiteral("--selbstUpdate");
        if (neustartPerTavoService(argumente)) {
            logExitCode(0);
            return 0;
        }
    }
    const int code = pm.neustartPerProcess(false, true);
    if (code == NEUSTART_KOPIE_UNGUELTIG)
        return code;
    logExitCode(code);
    return code;
}

bool neustartSchritt(PluginManager& pm, bool serverOk, int& code)
{
    // The update check answers the main application from this process: a
    // second manager (or a password prompt for a self-update) would only
    // repeat the same read-only check.
    if (gb_Updateueberpuefung) {
        IV_LOG_INFO(textAusLiteral("Die Update-Pr&uuml;fung wird ohne &Uuml;bergabe an einen anderen Prozess durchgef&uuml;hrt."));
        return false;
    }
    bool selbstUpdateNoetig = false, serviceVerwenden = false;
    if (serverOk)
        pm.leseTechPluginDatei(selbstUpdateNoetig, serviceVerwenden, true);
    if (!Einstellungen::getAdminService()) {
        IV_LOG_INFO(QStringLiteral("Die Verwendung des TavoService wurde per tavo.ini deaktiviert."));
        serviceVerwenden = false;
    }
    if (gb_KeinSelbstUpdate)
        selbstUpdateNoetig = false;
    IV_LOG_INFO(QStringLiteral("Ein Selbst-Update %1 erforderlich. Der Service %2 verwendet.")
                    .arg(selbstUpdateNoetig ? QStringLiteral("ist") : QStringLiteral("ist nicht"),
                         serviceVerwenden ? QStringLiteral("wird") : QStringLiteral("wird nicht")));
    if (selbstUpdateNoetig) {
        if (neuStartMitAdminRechtenFuerSelbstUpdate(serviceVerwenden, pm) == 0) {
            code = 0;
            return true;
        }
        IV_LOG_ERROR(QStringLiteral("Fehler beim Neustart der %1 mit Administrator-Rechten.").arg(gs_AnwendungsName));
        return false;
    }
    if (neustartPerServiceOderProzess(serviceVerwenden, pm) == 0) {
        code = 0;
        return true;
    }
    // The copy of the service folder ran to its end: doing the same work
    // again here would report its result wrongly (an unattended update done
    // by the copy would end as "nothing to do").
    int kopie = 0;
    if (pm.istKopieBeendet(kopie)) {
        IV_LOG_INFO(textAusLiteral("Die Kopie hat die Arbeit der %1 &uuml;bernommen; dieser Prozess endet mit ihrem Code %2.")
                        .arg(gs_AnwendungsName)
                        .arg(kopie));
        code = kopie;
        return true;
    }
    IV_LOG_INFO(QStringLiteral("Die %1 arbeitet in diesem Prozess weiter.").arg(gs_AnwendungsName));
    return false;
}

bool ablaufInstallSelbstUpdate(PluginManager& pm)
{
    IV_LOG_EINTRITT();
    if (pm.setzeServerVerzeichnis() != 0) {
        IV_LOG_ERROR(QStringLiteral("Fehler beim Selbst-Update: keine Verbindung zum Update-Server"));
        return false;
    }
    bool selbstUpdateNoetig = false, serviceVerwenden = false;
    pm.leseTechPluginDatei(selbstUpdateNoetig, serviceVerwenden, false);
    if (!Einstellungen::getAdminService())
        serviceVerwenden = false;
    // Every copy the first process starts from the service folder carries
    // "--selbstUpdate"; installing the same version again would only start
    // the next copy.
    if (!selbstUpdateNoetig) {
        IV_LOG_INFO(QStringLiteral("Ein Selbst-Update ist nicht erforderlich; die %1 arbeitet ohne es weiter.").arg(gs_AnwendungsName));
        IV_LOG_AUSTRITT();
        return false;
    }
    if (!pm.installSelbstUpdate()) {
        IV_LOG_ERROR(QStringLiteral("Die Installation des Selbst-Update war nicht erfolgreich."));
        return false;
    }
    IV_LOG_INFO(QStringLiteral("Die Installation des Selbst-Update war erfolgreich."));
    int kopie = 0;
    if (neustartPerServiceOderProzess(serviceVerwenden, pm) == 0 || pm.istKopieBeendet(kopie)) {
        IV_LOG_AUSTRITT();
        return true;
    }
    IV_LOG_ERROR(QStringLiteral("Der Neustart nach dem Selbst-Update war nicht erfolgreich."));
    return false;
}
