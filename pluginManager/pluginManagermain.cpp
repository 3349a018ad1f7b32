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
#include "pluginManager/pluginManager.h"
#include "pluginManager/startwerte.h"

#include <QDir>
#include <QFileInfo>
#include <QTranslator>
#include <cstdlib>
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

// The run modes that follow the engine are not part of this build yet; say so
// instead of pretending to have checked or installed anything.
int endeNichtVerfuegbar()
{
    IV_LOG_INFO(textAusLiteral("Dieser Stand der %1 enth&auml;lt die Verbindung zum Update-Server und die "
                               "Aktualisierung noch nicht. Es wurde nichts ver&auml;ndert.")
                    .arg(gs_AnwendungsName));
    if (gb_ZeigeDlg) {
        zeigeMeldung(gs_AnwendungsName,
                     textAusLiteral("<b>Die Suche nach Updates ist in diesem Stand der Installationsverwaltung noch "
                                    "nicht enthalten.</b><br><br>Es wurde nichts ver&auml;ndert."),
                     1);
    }
    logExitCode(EXIT_NICHT_VERFUEGBAR);
    return EXIT_NICHT_VERFUEGBAR;
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_PLUGIN_PATH", QByteArray());
    QCoreApplication::setAttribute(Qt::AA_UseHighDpiPixmaps);
    QCoreApplication::setAttribute(Qt::AA_EnableHighDpiScaling);

    QString kommandozeile;
    leseParameter(argc, argv, kommandozeile);

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

        Plattform::beiBeendenAnfrage([](int signal) {
            IV_LOG_INFO(QStringLiteral("Die %1 wurde durch das Signal %2 zum Beenden aufgefordert.")
                            .arg(gs_AnwendungsName)
                            .arg(signal));
            QCoreApplication::exit(128 + signal);
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
        code = endeNichtVerfuegbar();
        setzeRueckfrage(nullptr);
        QCoreApplication::removeTranslator(&uebersetzer);
    }
    beendeLogBase();
    return code;
}
