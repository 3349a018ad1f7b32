// The program entry: start-up values, log, instance guard, then exactly one
// run mode. Every end writes its exit code to the log.

#include "dialoge/dialogrueckfrage.h"
#include "dialoge/ressourcen.h"
#include "global/plattform/plattform.h"
#include "global/varnelApplication/einstellungen.h"
#include "global/varnelApplication/logbase.h"
#include "global/varnelApplication/rueckfrage.h"
#include "global/varnelApplication/textausliteral.h"
#include "global/varnelApplication/varnelapplication.h"
#include "pluginManager/dlgPluginManager.h"
#include "pluginManager/plugin.h"
#include "pluginManager/pluginManager.h"
#include "pluginManager/startwerte.h"
#include "pluginManager/wizardablauf.h"

#include <QDir>
#include <QRegularExpression>
#include <QFileInfo>
#include <QTranslator>
#include <cstdio>
#include <cstdlib>
#include <unistd.h>
#include <memory>

namespace {

QString logVerzeichnis()
{
    if (gs_DirUserKora.isEmpty())
        return QString();
    QString dir = gs_DirUserKora;
    if (!dir.endsWith(QDir::separator()))
        dir += QDir::separator();
    dir += QStringLiteral("log") + QDir::separator();
    QDir().mkpath(dir);
    return dir;
}

void setzeBibliothekspfad()
{
    // Our own Qt plug-ins lie in "pluginsqt" beside the program. The system's
    // plug-in folder stays: on Linux it belongs to the system Qt we run on and
    // holds the platform and image plug-ins.
    const QString eigene = QDir::cleanPath(QCoreApplication::applicationDirPath() + QStringLiteral("/pluginsqt"));
    QCoreApplication::addLibraryPath(eigene);
}

// A run mode that needs a part this build does not contain yet: say so
// instead of pretending to have checked or installed anything.
int endeNichtVerfuegbar(const QString& was)
{
    IV_LOG_INFO(textAusLiteral("Dieser Stand der %1 enth&auml;lt %2 noch nicht. Es wurde nichts ver&auml;ndert.")
                    .arg(gs_AnwendungsName, was));
    if (gb_ZeigeDlg) {
        zeigeMeldung(gs_AnwendungsName,
                     textAusLiteral("<b>Dieser Schritt ist in diesem Stand der Installationsverwaltung noch nicht "
                                    "enthalten:</b><br><br>%1<br><br>Es wurde nichts ver&auml;ndert.")
                         .arg(was),
                     1);
    }
    logExitCode(EXIT_NICHT_VERFUEGBAR);
    return EXIT_NICHT_VERFUEGBAR;
}

int ablaufKommandoParameterAbarbeiten(PluginManager& pm)
{
    IV_LOG_EINTRITT();
    if (gs_DelPlugin.isEmpty()) {
        IV_LOG_ERROR(QStringLiteral("Abbruch weil der Parameter leer ist."));
        return -1;
    }
    // The modules are found through the dictionaries in "dict" below the
    // installation; say where that was looked for and why, before the
    // inventory reports the bare failure.
    const QString dictOrdner = QDir::toNativeSeparators(QDir(gs_KoraDir).absoluteFilePath(QStringLiteral("dict")));
    if (!QFileInfo(dictOrdner).isDir()) {
        IV_LOG_ERROR(textAusLiteral("Der Ordner der Dictionarys \"%1\" existiert nicht. %2")
                         .arg(dictOrdner,
                              istKoraDirAbgeleitet()
                                  ? textAusLiteral("Ohne --koraDir wird die Installation im Elternordner des "
                                                   "Programmordners (%1) erwartet; bitte den Installationsordner "
                                                   "von Fiscalon mit --koraDir=ORDNER angeben.")
                                        .arg(QDir::toNativeSeparators(QFileInfo(PluginManager::gibProgrammDatei()).absolutePath()))
                                  : textAusLiteral("Er wurde unter dem mit --koraDir angegebenen Ordner gesucht.")));
    }
    pm.lesePluginInfoLokal();
    const int code = pm.loeschePluginLokal(gs_DelPlugin) ? 0 : -1;
    IV_LOG_AUSTRITT();
    return code;
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
    // Installing the manager's own update comes with a later stage of this build.
    IV_LOG_INFO(textAusLiteral("Dieser Stand der %1 enth&auml;lt die Installation des Selbst-Update noch nicht.").arg(gs_AnwendungsName));
    IV_LOG_ERROR(QStringLiteral("Die Installation des Selbst-Update war nicht erfolgreich."));
    return false;
}

// Step 16: the first process would hand its work to the service or an
// elevated copy. Those hand-overs come with a later stage; until then the
// decision is logged and this process carries on, as after a failed hand-over.
void neustartSchritt(PluginManager& pm, bool serverOk)
{
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
    if (selbstUpdateNoetig)
        IV_LOG_ERROR(QStringLiteral("Fehler beim Neustart der %1 mit Administrator-Rechten.").arg(gs_AnwendungsName));
    IV_LOG_INFO(textAusLiteral("Die &Uuml;bergabe an einen anderen Prozess ist in diesem Stand noch nicht enthalten; "
                               "die %1 arbeitet in diesem Prozess weiter.").arg(gs_AnwendungsName));
}

// Step 23: the answer to "download automatically?", from the files or asked once.
bool frageHerunterladen()
{
    bool bekannt = true;
    const bool wert = Einstellungen::getSilentDownload(bekannt, gs_DirUserKora);
    if (bekannt)
        return wert;
    const int antwort = zeigeMeldung(
        gs_AnwendungsName,
        textAusLiteral("Sollen verf&uuml;gbare Aktualisierungen beim Start von Fiscalon automatisch heruntergeladen werden, "
                       "um die Installation anschlie&szlig;end manuell zu starten?<br><br>"
                       "Diese Einstellung kann im Dialog Extras / Einstellungen / Update von Fiscalon ge&auml;ndert werden."),
        4, 420, 250, QStringLiteral("Ja"), QStringLiteral("Nein"));
    const bool ja = (antwort == 1);
    Einstellungen::setKoraSilentDownload(ja, gs_DirUserKora);
    IV_LOG_INFO(QStringLiteral("Der Anwender hat die Frage nach dem automatischen Herunterladen der Aktualisierungen mit %1 beantwortet.")
                    .arg(ja ? QStringLiteral("ja") : QStringLiteral("nein")));
    return ja;
}

// Steps 12 to 25 of the start-up, after the engine exists.
int ablauf(VarnelApplication& app, PluginManager& pm)
{
    if (gb_SelbstUpdate && ablaufInstallSelbstUpdate(pm)) {
        logExitCode(0);
        return 0;
    }
    if (!gs_DelPlugin.isEmpty()) {
        const int code = ablaufKommandoParameterAbarbeiten(pm);
        logExitCode(code);
        return code;
    }
    if (gb_Admin)
        return endeNichtVerfuegbar(QStringLiteral("die Fortsetzung mit Administrator-Rechten"));

    const int serverCode = pm.setzeServerVerzeichnis();
    if (serverCode != 0 && !gb_ZeigeDlg) {
        logExitCode(serverCode);
        return serverCode;
    }
    if (istErsterProzess())
        neustartSchritt(pm, serverCode == 0);

    // Step 17: the wizard; hidden for the update check, minimised when the
    // main application started us without asking for it.
    // The run outlives the wizard that points to it.
    WizardAblaufEngine wizardAblauf(&pm);
    DlgPluginManager wizard(&pm, gs_InstPlugin.isEmpty() && gs_DelPlugin.isEmpty());
    wizard.setzeAblauf(&wizardAblauf);
    app.setzeHauptfenster(&wizard);
    if (gb_ZeigeBenutzerDefTab)
        wizard.setzteTabBenutzerdefiniert(1);
    if (gb_Updateueberpuefung) {
        wizard.hide();
    } else if (!gb_ZeigeDlg) {
        wizard.showMinimized();
    } else {
        wizard.show();
        app.activateWindow();
    }

    // Step 18: the module index; with the wizard a missing index leaves the local data.
    pm.loescheIndexDateiServer();
    if (!pm.holeServerInhaltsdatei()) {
        if (!gb_ZeigeDlg) {
            logExitCode(-1);
            return -1;
        }
    } else {
        if (!pm.leseServerInhaltsdatei() && !gb_ZeigeDlg) {
            logExitCode(-1);
            return -1;
        }
        if (!gb_SilentUpdate && !gb_ZeigeDlg && !gb_Updateueberpuefung && gs_InstPlugin.isEmpty() && gs_DelPlugin.isEmpty()
            && pm.istServerInhaltUnveraendert()) {
            IV_LOG_INFO(textAusLiteral("Auf dem Update-Server wurden, seit dem letzten Start des Installationsverwalter, "
                                       "keine &Auml;nderungen vorgenommen."));
            logExitCode(0);
            return 0;
        }
        pm.kopiereIndexDateiServer();
    }

    pm.lesePluginInfoLokal();
    pm.setzeStausLokalePlugins();
    pm.setzeStausVerfuegbarePlugins();
    wizard.updateTableView();

    if (gs_InstPlugin.isEmpty()) {
        if (!pm.gibPluginKoraInstalliert())
            IV_LOG_ERROR(QStringLiteral("Es wurde keine Installation von Fiscalon auf dem PC und kein Setup auf dem Server gefunden."));
        const bool alle = Einstellungen::getKoraAlleAktualisierungen(gs_DirUserKora);
        const bool folgejahre = Einstellungen::getKoraAlleFolgeJahre(gs_DirUserKora);
        if ((alle || folgejahre) && pm.gibPluginKoraInstalliert()
            && Plugin::vergleicheVersion(pm.gibPluginKoraInstalliert(), pm.gibPluginKoraVerfuegbar()) == Plugin::ZUSTAND_ANDERES_GROESSER)
            pm.setzeAktionHauptanwendung(true);
        pm.setzeAktionErneuernInstallierte(alle);
        pm.setzeAktionVerfuegbareZurInstallationEmpfohlene(folgejahre);
        wizard.setzeStatusKoras();
    } else {
        QString grund;
        QStringList nichtGefunden;
        if (!pm.pruefeInstallationsliste(gs_InstPlugin, grund, nichtGefunden)) {
            const QString text = PluginManager::gibTextInstallationslisteAbgelehnt(gs_InstPlugin, grund);
            zeigeMeldung(gs_AnwendungsName, text, 2);
            IV_LOG_ERROR(text);
            logExitCode(-1);
            return -1;
        }
        if (!nichtGefunden.isEmpty())
            zeigeMeldung(gs_AnwendungsName, PluginManager::gibTextInstallationslisteNichtGefunden(nichtGefunden), 1);
    }

    // What the recommendations amount to, for whoever reads the log of an
    // unattended run.
    {
        int schritte = 0;
        QStringList geplant = pm.gibAktionen(schritte);
        for (QString& zeile : geplant)
            zeile = textAusLiteral(zeile.remove(QRegularExpression(QStringLiteral("<[^>]*>")))).simplified();
        // The step count is the progress measure of the run, not the number
        // of lines: downloading and installing a part count one each.
        IV_LOG_INFO(textAusLiteral("Vorgeschlagene Aktionen (%1 Fortschrittsschritte; Herunterladen und "
                                   "Installieren eines Teils z&auml;hlen je einen, Entfernen einen): %2")
                        .arg(schritte)
                        .arg(geplant.isEmpty() ? QStringLiteral("keine") : geplant.join(QStringLiteral(" | "))));
    }

    // Step 23: the automatic check.
    bool herunterladen = false;
    if (gb_SilentUpdate || (!gb_ZeigeDlg && !gb_Updateueberpuefung && gs_InstPlugin.isEmpty() && gs_DelPlugin.isEmpty())) {
        if (pm.istUpdateVorhanden() != 1) {
            IV_LOG_INFO(QStringLiteral("Es ist kein Update vorhanden."));
            if (gb_SilentUpdate) {
                IV_LOG_INFO(QStringLiteral("Die %1 wird im Modus %2 beendet. Es gab nichts zu tun, da kein Update vorhanden ist.")
                                .arg(gs_AnwendungsName, gs_ModusSilentUpdate));
                logExitCode(91);
                return 91;
            }
            logExitCode(0);
            return 0;
        }
        herunterladen = gb_SilentUpdate ? true : frageHerunterladen();
    }

    // Step 24: the page to start on; with a download decided, the installers
    // come first, and an unattended update carries the plan out right away.
    int seite = gs_InstPlugin.isEmpty() ? 1 : 2;
    if (herunterladen && gs_InstPlugin.isEmpty()) {
        wizard.zeigeSeite(DlgPluginManager::SCHRITT_FORTSCHRITT);
        const bool ok = pm.passenInstallerAufHD() && pm.downloadInstaller();
        if (pm.istAbbruch()) {
            app.setzeHauptfenster(nullptr);
            return 0;
        }
        if (!ok && gb_SilentUpdate) {
            IV_LOG_ERROR(QStringLiteral("Die %1 wird im Modus %2 beendet, weil der Download der Installer nicht geklappt hat.")
                             .arg(gs_AnwendungsName, gs_ModusSilentUpdate));
            app.setzeHauptfenster(nullptr);
            logExitCode(-90);
            return -90;
        }
        seite = ok ? DlgPluginManager::SCHRITT_ZUSAMMENFASSUNG : DlgPluginManager::SCHRITT_ERGEBNIS;
        if (ok && gb_SilentUpdate) {
            IV_LOG_INFO(QStringLiteral("Beginne mit den Aktionen im Modus %1.").arg(gs_ModusSilentUpdate));
            if (!pm.beendeKoras()) {
                IV_LOG_ERROR(QStringLiteral("Die %1 wird im Modus %2 beendet, weil Fiscalon noch aktiv ist.")
                                 .arg(gs_AnwendungsName, gs_ModusSilentUpdate));
                app.setzeHauptfenster(nullptr);
                logExitCode(-91);
                return -91;
            }
            wizard.zeigeSeite(DlgPluginManager::SCHRITT_FORTSCHRITT);
            const bool fertig = pm.aktionsAusfuehrung();
            int ende = 0;
            if (pm.istEndeAngefordert(ende)) {
                app.setzeHauptfenster(nullptr);
                logExitCode(ende);
                return ende;
            }
            seite = fertig ? DlgPluginManager::SCHRITT_FORTSCHRITT : DlgPluginManager::SCHRITT_ERGEBNIS;
        }
    }
    if (seite != DlgPluginManager::SCHRITT_FORTSCHRITT)
        wizard.zeigeSeite(seite);

    // Step 25: the update check answers with its exit code; everything else
    // is the user's now.
    if (gb_Updateueberpuefung) {
        const int code = pm.istUpdateVorhanden();
        logExitCode(code);
        return code;
    }
    emit pm.initialisiert();
    wizard.showNormal();
    IV_LOG_INFO(QStringLiteral("Der Assistent wird angezeigt (Seite %1).").arg(seite));
    const int code = QCoreApplication::exec();
    app.setzeHauptfenster(nullptr);
    logExitCode(code);
    return code;
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_PLUGIN_PATH", QByteArray());
    QCoreApplication::setAttribute(Qt::AA_UseHighDpiPixmaps);
    QCoreApplication::setAttribute(Qt::AA_EnableHighDpiScaling);

    QString kommandozeile;
    leseParameter(argc, argv, kommandozeile);
    // Asked for the usage: nothing else happens, no log, no question, no settings.
    if (gb_Hilfe) {
        std::fputs(gibHilfetext().toUtf8().constData(), stdout);
        return 0;
    }

    gb_SilentUpdate = Einstellungen::getAdminSilentUpdate();

    int code = 0;
    {
        VarnelApplication app(gs_AnwendungsName, argc, argv);
        QCoreApplication::setApplicationName(gs_AnwendungsName);
        initDialogRessourcen();
        DialogRueckfrage dialoge;
        setzeRueckfrage(&dialoge);

        const QString logDir = logVerzeichnis();
        initLogBase(gs_AnwendungsName.toLower(), 200000, logDir.isEmpty() ? QString() : logDir);
        app.kern().logeStartMeldungen();

        // Asked to end (the service stops, the session closes): the log gets
        // the reason and the exit code, then the process ends at once. Every
        // file the manager writes is replaced atomically, so nothing is left half.
        Plattform::beiBeendenAnfrage([](int signal) {
            IV_LOG_INFO(QStringLiteral("Die %1 wurde durch das Signal %2 zum Beenden aufgefordert.")
                            .arg(gs_AnwendungsName)
                            .arg(signal));
            logExitCode(128 + signal);
            beendeLogBase();
            ::_exit(128 + signal);
        });

        if (!kommandozeile.isEmpty())
            IV_LOG_INFO(QStringLiteral("Parameter: %1").arg(kommandozeile));
        if (gb_SilentUpdate)
            IV_LOG_INFO(QStringLiteral("Der Modus Silent-Update ist aktiv."));

        setzeBibliothekspfad();

        QTranslator uebersetzer;
        if (uebersetzer.load(QStringLiteral(":/lang/translation_de.qm")))
            QCoreApplication::installTranslator(&uebersetzer);
        else
            IV_LOG_ERROR(QStringLiteral("Die Übersetzung :/lang/translation_de.qm konnte nicht geladen werden."));

        if (!gb_STARTE_AUS_SERVICE && gi_InstanzNr < 2 && !gb_Updateueberpuefung) {
            IV_LOG_DEBUG(QStringLiteral("gb_STARTE_AUS_SERVICE = %1; gi_InstanzNr = %2; gb_Updateueberpuefung = %3")
                             .arg(int(gb_STARTE_AUS_SERVICE))
                             .arg(gi_InstanzNr)
                             .arg(int(gb_Updateueberpuefung)));
            if (app.istAndereInstanzAktiv()
                && app.sendeAnfrageAnLaufendeInstanz(gs_AnwendungsName, QString(), QStringList(), true)) {
                if (gb_ZeigeDlg)
                    zeigeHinweisSchonGestartet();
                IV_LOG_INFO(QStringLiteral("Das Starten der %1 wurde abgebrochen, da bereits eine Instanz der "
                                           "Anwendung aktiv ist.")
                                .arg(gs_AnwendungsName));
                logExitCode(-2);
                beendeLogBase();
                std::exit(-2);
            }
        }

        PluginManager pluginManager;
        code = ablauf(app, pluginManager);
        setzeRueckfrage(nullptr);
        QCoreApplication::removeTranslator(&uebersetzer);
    }
    beendeLogBase();
    return code;
}
