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
#include "pluginManager/neustart.h"
#include "pluginManager/plugin.h"
#include "pluginManager/pluginManager.h"
#include "pluginManager/startwerte.h"
#include "pluginManager/wizardablauf.h"

#include <QDir>
#include <QRegularExpression>
#include <QFileInfo>
#include <QTextStream>
#include <QTranslator>
#include <cstdio>
#include <cstdlib>
#include <unistd.h>
#include <memory>
#include <optional>

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

// A root run with a user's data folder (the hand-over, the service) writes the
// log, kora.ini, downloads and the index copies there: everything root made
// goes back to the folder's owner, or the user's next run could not write
// it, at every end; `loggen` while the log is still open.
void gibBenutzerOrdnerZurueck(bool loggen)
{
    if (gs_DirUserKora.isEmpty() || Plattform::eigeneBenutzerId() != 0)
        return;
    // The manager's own folders lie beside the data folder, in the user's
    // folder of the suite: given back from there, even when root made them.
    const QString basis = QFileInfo(QDir::cleanPath(gs_DirUserKora)).absolutePath();
    const bool daneben = QDir::cleanPath(PluginManager::gibDirPmHome()).startsWith(basis + QLatin1Char('/'));
    const QString ordner = daneben ? basis : gs_DirUserKora;
    int geaendert = 0;
    QString fehler;
    const bool ok = Plattform::gibAnBesitzerZurueck(ordner, geaendert, &fehler);
    if (!loggen)
        return;
    if (!ok)
        IV_LOG_ERROR(textAusLiteral("Nicht alles im Benutzerordner %1 konnte seinem Besitzer zur&uuml;ckgegeben werden: %2")
                         .arg(QDir::toNativeSeparators(ordner), fehler));
    else if (geaendert)
        IV_LOG_DEBUG(QStringLiteral("%1 Eintr\u00e4ge im Benutzerordner %2 wurden ihrem Besitzer zur\u00fcckgegeben.")
                         .arg(geaendert)
                         .arg(QDir::toNativeSeparators(ordner)));
}

// Root follows no link that the user put where a root run writes in the
// user's folders (a log named /etc/shadow, say): the first such entry, or empty.
QString verweisImBenutzerOrdner()
{
    if (gs_DirUserKora.isEmpty() || Plattform::eigeneBenutzerId() != 0)
        return QString();
    const QString d = QDir::cleanPath(gs_DirUserKora);
    const QString pm = QDir::cleanPath(PluginManager::gibDirPmHome());
    const QString log = QStringLiteral("/log/") + gs_AnwendungsName.toLower() + QStringLiteral(".log");
    for (const QString& pfad : { d, d + QStringLiteral("/log"), d + log, d + log + QStringLiteral(".1"),
                                 d + QStringLiteral("/ini"), d + QStringLiteral("/ini/kora.ini"), QFileInfo(pm).absolutePath(),
                                 pm, pm + QStringLiteral("/data"), pm + QStringLiteral("/tmp") }) {
        if (QFileInfo(pfad).isSymLink())
            return QDir::toNativeSeparators(pfad);
    }
    return QString();
}

void setzeBibliothekspfad()
{
    // Our own Qt plug-ins lie in "pluginsqt" beside the program. The system's
    // plug-in folder stays: on Linux it belongs to the system Qt we run on and
    // holds the platform and image plug-ins.
    const QString eigene = QDir::cleanPath(QCoreApplication::applicationDirPath() + QStringLiteral("/pluginsqt"));
    QCoreApplication::addLibraryPath(eigene);
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

// The elevated instance: carries out the plan the first process wrote to the
// five data files, without asking the server again. The files come from the
// user's folder and are read as untrusted input; without a plan nothing runs.
int ablaufNeustartMitAdminRechten(VarnelApplication& app, PluginManager& pm)
{
    IV_LOG_EINTRITT();
    if (!pm.leseDatenModelleAusUserTmp()) {
        IV_LOG_ERROR(textAusLiteral("Die geplanten Aktionen des ersten Prozesses konnten nicht gelesen werden; die %1 "
                                    "mit Administrator-Rechten ver&auml;ndert nichts.")
                         .arg(gs_AnwendungsName));
        IV_LOG_AUSTRITT();
        return -1;
    }
    pm.setzeStausLokalePlugins();
    pm.setzeStausVerfuegbarePlugins();
    // The plan names the archives; where they lie on the server comes from
    // the signed redirect file, not from the user's files. A plan of
    // removals only, or with its archives fetched already, still runs
    // without it; the failure is logged.
    pm.setzeServerVerzeichnis();
    WizardAblaufEngine wizardAblauf(&pm);
    DlgPluginManager wizard(&pm, false);
    wizard.setzeAblauf(&wizardAblauf);
    app.setzeHauptfenster(&wizard);
    wizard.setWindowState((wizard.windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
    wizard.zeigeSeite(DlgPluginManager::SCHRITT_FORTSCHRITT);
    wizard.show();
    IV_LOG_INFO(QStringLiteral("Die %1 setzt die geplanten Aktionen mit Administrator-Rechten fort.").arg(gs_AnwendungsName));
    wizard.naechsteAktion();
    IV_LOG_INFO(QStringLiteral("Die Aktionen mit Administrator-Rechten sind beendet (%1 Fehlermeldungen).")
                    .arg(pm.gibMeldungen().values(1).size()));
    const int code = QCoreApplication::exec();
    app.setzeHauptfenster(nullptr);
    IV_LOG_AUSTRITT();
    return code;
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
    // The verification reads and reports; it changes nothing and needs no server.
    if (gb_Pruefen) {
        QTextStream aus(stdout);
        const int code = pm.ablaufPruefen(aus);
        aus.flush();
        logExitCode(code);
        return code;
    }
    if (gb_SelbstUpdate && ablaufInstallSelbstUpdate(pm)) {
        // Handed over to the new version; a copy that was waited for did the
        // work and its exit code is this process's (the line is written).
        int code = 0;
        pm.istKopieBeendet(code);
        return code;
    }
    if (!gs_DelPlugin.isEmpty()) {
        const int code = ablaufKommandoParameterAbarbeiten(pm);
        logExitCode(code);
        return code;
    }
    if (gb_Admin) {
        const int code = ablaufNeustartMitAdminRechten(app, pm);
        logExitCode(code);
        return code;
    }

    const int serverCode = pm.setzeServerVerzeichnis();
    if (serverCode != 0 && !gb_ZeigeDlg) {
        logExitCode(serverCode);
        return serverCode;
    }
    // Step 16: a first process hands its work over and ends when another
    // process took it.
    int neustartCode = 0;
    if (istErsterProzess() && neustartSchritt(pm, serverCode == 0, neustartCode))
        return neustartCode;
    // A run that did not reach its end: account, leftovers, and below the
    // repair. The update check stays read-only and fast.
    const bool wiederherstellung = !gb_Updateueberpuefung && pm.pruefeUnterbrochenenLauf();

    // Step 17: the wizard; minimised when the main application started us
    // without asking for it. A plain update check ends at step 25 without a
    // window, so it builds none: the hidden wizard (fonts, a sized table of
    // every module) was a large part of the check's own time, which the main
    // application waits for at every start.
    // The run outlives the wizard that points to it.
    WizardAblaufEngine wizardAblauf(&pm);
    std::optional<DlgPluginManager> fenster;
    if (!gb_Updateueberpuefung || gb_SilentUpdate)
        fenster.emplace(&pm, gs_InstPlugin.isEmpty() && gs_DelPlugin.isEmpty());
    if (fenster) {
        fenster->setzeAblauf(&wizardAblauf);
        app.setzeHauptfenster(&*fenster);
        if (gb_ZeigeBenutzerDefTab)
            fenster->setzteTabBenutzerdefiniert(1);
        if (gb_Updateueberpuefung) {
            fenster->hide();
        } else if (!gb_ZeigeDlg) {
            fenster->showMinimized();
        } else {
            fenster->show();
            app.activateWindow();
        }
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
            && !wiederherstellung && pm.istServerInhaltUnveraendert()) {
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
    if (fenster)
        fenster->updateTableView();

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
        if (fenster)
            fenster->setzeStatusKoras();
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

    if (wiederherstellung) {
        pm.planeReparaturen();
        fenster->updateTableView();
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
        fenster->zeigeSeite(DlgPluginManager::SCHRITT_FORTSCHRITT);
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
            fenster->zeigeSeite(DlgPluginManager::SCHRITT_FORTSCHRITT);
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
    if (fenster && seite != DlgPluginManager::SCHRITT_FORTSCHRITT)
        fenster->zeigeSeite(seite);

    // Step 25: the update check answers with its exit code; everything else
    // is the user's now.
    if (gb_Updateueberpuefung) {
        const int code = pm.istUpdateVorhanden();
        logExitCode(code);
        return code;
    }
    emit pm.initialisiert();
    fenster->showNormal();
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

        const QString verweis = verweisImBenutzerOrdner();
        const QString logDir = verweis.isEmpty() ? logVerzeichnis() : QString();
        initLogBase(gs_AnwendungsName.toLower(), 200000, logDir.isEmpty() ? QString() : logDir);
        app.kern().logeStartMeldungen();
        if (!verweis.isEmpty()) {
            IV_LOG_ERROR(textAusLiteral("Im Benutzerordner steht der Verweis %1. Mit Administrator-Rechten folgt die %2 "
                                        "keinem Verweis im Benutzerordner und bricht ab; es wurde nichts ver&auml;ndert.")
                             .arg(verweis, gs_AnwendungsName));
            logExitCode(-1);
            beendeLogBase();
            setzeRueckfrage(nullptr);
            return -1;
        }

        // Asked to end (the service stops, the session closes): the log gets
        // the reason and the exit code, then the process ends at once. Every
        // file the manager writes is replaced atomically, so nothing is left half.
        Plattform::beiBeendenAnfrage([](int signal) {
            IV_LOG_INFO(QStringLiteral("Die %1 wurde durch das Signal %2 zum Beenden aufgefordert.")
                            .arg(gs_AnwendungsName)
                            .arg(signal));
            logExitCode(128 + signal);
            beendeLogBase();
            gibBenutzerOrdnerZurueck(false);
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
                gibBenutzerOrdnerZurueck(false);
                std::exit(-2);
            }
        }

        PluginManager pluginManager;
        code = ablauf(app, pluginManager);
        gibBenutzerOrdnerZurueck(true);
        setzeRueckfrage(nullptr);
        QCoreApplication::removeTranslator(&uebersetzer);
    }
    beendeLogBase();
    // The end lines may have rotated the log into a new file.
    gibBenutzerOrdnerZurueck(false);
    return code;
}
