// Carrying out a confirmed plan: download everything first, then change the
// installation (main application, removals, installations, renewals), read
// it back, clean up, and report every result for the wizard's last page.
// Once the first change is made the run can no longer be cancelled, so the
// installation is never left between two versions by the user's hand.

#include "pluginManager/pluginManager.h"

#include "global/archiv/ziparchiv.h"
#include "global/downloadManager/downloadmanager.h"
#include "global/plattform/plattform.h"
#include "global/varnelApplication/einstellungen.h"
#include "global/varnelApplication/logbase.h"
#include "global/varnelApplication/rueckfrage.h"
#include "global/varnelApplication/textausliteral.h"
#include "global/varnelApplication/varnelkern.h"
#include "pluginManager/dlgPluginManagerDatenmodel.h"
#include "pluginManager/plugin.h"
#include "pluginManager/startwerte.h"
#include "wizardwerte.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QEventLoop>
#include <QFileInfo>
#include <QCursor>
#include <QGuiApplication>
#include <QTimer>

namespace {

const char* const kNullInstalliert = "Das Datenmodel f&uuml;r installierte Plugins enth&auml;lt einen NULL-Pointer.";
const char* const kNullVerfuegbar = "Das Datenmodel f&uuml;r verf&uuml;gbare Plugins enth&auml;lt einen NULL-Pointer.";

// Waits without blocking the window: the wizard keeps painting and can
// still deliver a (refused) cancel request.
void wartePause(int ms)
{
    QEventLoop schleife;
    QTimer::singleShot(ms, &schleife, &QEventLoop::quit);
    schleife.exec(QEventLoop::ExcludeUserInputEvents);
}

QString nativOhneSeparator(const QString& pfad)
{
    return QDir::toNativeSeparators(QDir::cleanPath(QFileInfo(pfad).absoluteFilePath()));
}

} // namespace

// ---- the run ---------------------------------------------------------------------------

bool PluginManager::aktionsAusfuehrung()
{
    IV_LOG_EINTRITT();
    if (qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
        QGuiApplication::setOverrideCursor(QCursor(Qt::WaitCursor));
    int schritte = 0;
    gibAktionen(schritte);
    m_Meldungen.clear();
    mb_AktionenLaufen = true;

    // The service starts the manager from its own folder; that copy must be current.
    const QString dienst = gibDirService();
    QDir programmOrdner = QFileInfo(gibProgrammDatei()).absoluteDir();
    programmOrdner.cdUp();
    if (!dienst.isEmpty() && nativOhneSeparator(programmOrdner.absolutePath()) != nativOhneSeparator(dienst))
        kopiereIvInsServiceDir();

    if (!passenInstallerAufHD()) {
        mb_AktionenLaufen = false;
        emit aktionenFertig(true);
        IV_LOG_AUSTRITT();
        return false;
    }
    if (!downloadInstaller()) {
        // A cancel ended the run already; else the result page needs a reason.
        if (mb_AktionenLaufen) {
            // A main application without its package on the server is named as such.
            const bool ohnePaket = mp_PluginKoraInstalliert && mp_PluginKoraInstalliert->gibAktion() == Plugin::ERNEUERN
                && !gibHauptanwendungsPaket();
            if (ohnePaket)
                m_Meldungen.insert(1, gibTextKeinHauptanwendungsUpdate());
            else if (!mb_Abbruch)
                m_Meldungen.insert(1, textAusLiteral("Die Aktualisierungen konnten nicht vom Server geladen werden. "
                                                     "Es wurde nichts ver&auml;ndert."));
            mb_AktionenLaufen = false;
        }
        IV_LOG_AUSTRITT();
        return false;
    }
    emit sgnInstallerAktiv(true);

    QString meldung;
    if (!passenAktualisierungenAufHD(meldung)) {
        IV_LOG_ERROR(meldung);
        m_Meldungen.insert(1, meldung);
        emit sgnInstallerAktiv(false);
        mb_AktionenLaufen = false;
        emit aktionenFertig(true);
        IV_LOG_AUSTRITT();
        return false;
    }

    if (!setzeHilfeSchreibrechte() && !frageTrotzHilfeFehlerWeitermachen()) {
        const QString text = textAusLiteral("Bei Setzen der Schreibrechte f&uuml;r das Hilfeverzeichnis kam es zu einem Fehler.");
        IV_LOG_ERROR(text);
        m_Meldungen.insert(1, text);
        emit sgnInstallerAktiv(false);
        mb_AktionenLaufen = false;
        emit aktionenFertig(true);
        IV_LOG_AUSTRITT();
        return false;
    }

    const QStringList vorher = gibDateilisteInstalliert();
    // Written to the disk before the first change; without it a crash would
    // leave the next start in the dark, so the run says so and goes on.
    if (!journalBeginne())
        IV_LOG_ERROR(textAusLiteral("Der Lauf wird ohne Laufjournal fortgesetzt."));
    mb_Aktionenbegonnen = true;
    emit aktionsDurchfuehrung(true);

    // The main application's record may be replaced by its update: the
    // journal keeps its name.
    const bool koraErneuern = mp_PluginKoraInstalliert && mp_PluginKoraInstalliert->gibAktion() == Plugin::ERNEUERN;
    const Laufjournal::Teil kora{ KURZNAME_KORA, mp_PluginKoraInstalliert ? mp_PluginKoraInstalliert->gibJahr() : 0 };
    if (koraErneuern)
        m_Journal.schritt(Laufjournal::HAUPTANWENDUNG, kora, false);
    if (koraErneuern && !aktualisiereHauptanwendung()) {
        emit sgnInstallerAktiv(false);
        resetAktionenDerPlugins();
        if (gb_SilentUpdate) {
            IV_LOG_ERROR(QStringLiteral("Die %1 wird im Modus %2 beendet (Return-Code %3), weil die Hauptanwendung nicht "
                                        "aktualisiert werden konnte.")
                             .arg(gs_AnwendungsName, gs_ModusSilentUpdate)
                             .arg(-92));
            mb_AktionenLaufen = false;
            beendeAnwendung(-92);
        } else {
            aktionsAusfuehrungBeenden();
            emit aktionsDurchfuehrung(false);
        }
        IV_LOG_AUSTRITT();
        return false;
    }

    if (koraErneuern)
        m_Journal.schritt(Laufjournal::HAUPTANWENDUNG, kora, true);
    // A service left damaged or half updated by a stopped run; with the main
    // application its update is part of that.
    else if (mb_DienstBeschaedigt)
        updateService();
    deinstallPlugins();
    installPlugins();
    updatePlugins();

    lesePluginInfoLokal();
    const QStringList nachher = gibDateilisteInstalliert();
    journalSchritt(Laufjournal::BEREINIGEN, nullptr, false);
    bereinigen(gs_KoraDir, vorher, nachher);
    bereinigenGrossKleinschreibung(nachher);
    journalSchritt(Laufjournal::BEREINIGEN, nullptr, true);
    journalBeenden();

    emit sgnInstallerAktiv(false);
    // Stored before the end: an unattended run ends the process there.
    Einstellungen::setAdminLastUpdateInstallation(QDateTime::currentDateTime());
    aktionsAusfuehrungBeenden();
    IV_LOG_AUSTRITT();
    return true;
}

void PluginManager::aktionsAusfuehrungBeenden()
{
    mb_AktionenLaufen = false;
    IV_LOG_INFO(QStringLiteral("emit aktionenFertig(true)"));
    emit aktionenFertig(true);
    if (gb_SilentUpdate) {
        IV_LOG_INFO(QStringLiteral("Die %1 wird im Modus %2, nach Abschluss der Aktionen, beendet.")
                        .arg(gs_AnwendungsName, gs_ModusSilentUpdate));
        beendeAnwendung(90);
    }
}

void PluginManager::beendeAnwendung(int code)
{
    mb_EndeAngefordert = true;
    mi_EndeCode = code;
    // Inside the event loop the loop ends with the code; the main flow,
    // when the run was called from it directly, sees the request and ends.
    QCoreApplication::exit(code);
}

bool PluginManager::setzeHilfeSchreibrechte()
{
    const QString hilfe = gibDirHilfe();
    return !hilfe.isEmpty() && setzeSchreibrechte(hilfe);
}

bool PluginManager::aktualisiereHauptanwendung()
{
    return updateKora();
}

bool PluginManager::frageTrotzHilfeFehlerWeitermachen()
{
    const QString frage = textAusLiteral("Zuk&uuml;nftig braucht die Hilfe Schreibrechte im Verzeichnis \"../Fiscalon/hilfe\".<br>"
                                         "<br>Beim Setzen der Schreibrechte ist ein Fehler aufgetreten.<br>"
                                         "<br>"
                                         "M&ouml;chten Sie die Aktualisierung dennoch fortf&uuml;hren? ");
    if (gb_SilentUpdate) {
        // Nobody would answer: the help folder's rights do not endanger the
        // installation, so the run goes on, and the user reads why afterwards.
        const QString text = textAusLiteral("Im Modus %1 wird niemand gefragt; die Aktualisierung wird fortgesetzt. Die Frage "
                                            "w&auml;re gewesen: %2")
                                 .arg(gs_ModusSilentUpdate, frage);
        IV_LOG_ERROR(text);
        m_Meldungen.insert(1, text);
        return true;
    }
    const int antwort = zeigeMeldung(gs_AnwendungsName, frage, 4, 0, 0, QStringLiteral("Ja"), QStringLiteral("Nein"));
    const bool ja = (antwort == 1);
    IV_LOG_INFO(textAusLiteral("Der Anwender hat die Frage, ob trotz des Fehlers beim Setzen der Rechte f&uuml;r das "
                               "Verzeichnis \"hilfe\" weiter gemacht werden soll, mit %1 beantwortet.")
                    .arg(ja ? QStringLiteral("ja") : QStringLiteral("nein")));
    return ja;
}

// ---- cancelling --------------------------------------------------------------------------

bool PluginManager::abbruchDurchAnwender()
{
    IV_LOG_INFO(QStringLiteral("Abbruch durch den Anwender. %1")
                    .arg(mb_Aktionenbegonnen ? QStringLiteral(" mb_Aktionenbegonnen == true")
                                             : QStringLiteral(" mb_Aktionenbegonnen == false")));
    if (mb_Aktionenbegonnen) {
        IV_LOG_INFO(textAusLiteral("Abbruch nicht m&ouml;glich, weil schon &Auml;nderungen vorgenommen wurden und ein "
                                   "inkonsistenter Calcor vermieden werden muss."));
        return false;
    }
    mb_Abbruch = true;
    abbruchDerRestlichenAktionen();
    if (mb_TransferLaeuft) {
        IV_LOG_INFO(QStringLiteral("auf das Ende des aktiven Download warten"));
        // The transfer is cut off now; its end ends the run (slot_doneLoadFile).
        mp_DownloadManager->abbrechen();
        return true;
    }
    emit aktionsDurchfuehrung(false);
    aktionsAusfuehrungBeenden();
    return true;
}

void PluginManager::abbruchDerRestlichenAktionen()
{
    auto zuruecknehmen = [this](Plugin* p) {
        const QString text = p->gibAbbruchMeldung();
        if (!text.isEmpty()) {
            IV_LOG_INFO(text);
            m_Meldungen.insert(1, text);
        }
    };
    if (mp_PluginKoraInstalliert)
        zuruecknehmen(mp_PluginKoraInstalliert);
    for (Plugin* p : mp_DatenmodelInstalliert->gibListe()) {
        if (p)
            zuruecknehmen(p);
        else
            IV_LOG_ERROR(textAusLiteral(kNullInstalliert));
    }
    for (Plugin* p : mp_DatenmodelVerfuegbar->gibListe()) {
        if (p)
            zuruecknehmen(p);
        else
            IV_LOG_ERROR(textAusLiteral(kNullVerfuegbar));
    }
}

// ---- the three passes ---------------------------------------------------------------------

void PluginManager::meldeAbgebrochen(Plugin* plugin, const char* verb)
{
    const QString text = QStringLiteral("\"%1\" wurde nicht %2, da die Aktion durch den Anwender abgebrochen wurde.")
                             .arg(plugin->gibAnzeigename(), QString::fromLatin1(verb));
    IV_LOG_INFO(text);
    emit statusText(text);
    m_Meldungen.insert(1, text);
}

void PluginManager::deinstallPlugins()
{
    const QList<Plugin*> liste = mp_DatenmodelInstalliert->gibListe();
    for (Plugin* p : liste) {
        if (!p) {
            IV_LOG_ERROR(textAusLiteral(kNullInstalliert));
            continue;
        }
        if (p->gibAktion() != Plugin::ENTFERNEN)
            continue;
        p->setzeAktion(Plugin::KEINE);
        if (mb_Abbruch) {
            meldeAbgebrochen(p, "entfernt");
            return;
        }
        loeschePlugin(p, true, true);
    }
}

void PluginManager::installPlugins()
{
    const QList<Plugin*> liste = mp_DatenmodelVerfuegbar->gibListe();
    for (Plugin* p : liste) {
        QCoreApplication::processEvents();
        if (!p) {
            IV_LOG_ERROR(textAusLiteral(kNullVerfuegbar));
            continue;
        }
        if (p->gibAktion() != Plugin::INSTALLIEREN)
            continue;
        p->setzeAktion(Plugin::KEINE);
        if (mb_Abbruch) {
            meldeAbgebrochen(p, "installiert");
            return;
        }
        installPlugin(p, false, false);
    }
}

void PluginManager::updatePlugins()
{
    const QList<Plugin*> liste = mp_DatenmodelInstalliert->gibListe();
    for (Plugin* p : liste) {
        QCoreApplication::processEvents();
        if (!p) {
            IV_LOG_ERROR(textAusLiteral(kNullInstalliert));
            continue;
        }
        if (p->gibAktion() != Plugin::ERNEUERN)
            continue;
        p->setzeAktion(Plugin::KEINE);
        Plugin* neu = findeGleichesPluginGegenueber(p, false);
        if (!neu) {
            const QString text = textAusLiteral("\"%1\" kann nicht erneuert werden, da das neue Steuererkl&auml;rungsmodul nicht "
                                                "auf dem Server gefunden wurde.")
                                     .arg(p->gibAnzeigename());
            IV_LOG_ERROR(text);
            emit downloadFortschritt(0, 100);
            emit statusText(text);
            mi_SchrittAktuell += 2;
            continue;
        }
        installPlugin(neu, true, false);
    }
}

// ---- one module ---------------------------------------------------------------------------

bool PluginManager::installPlugin(Plugin* plugin, bool aktualisierung, bool inDienstVerzeichnis)
{
    IV_LOG_EINTRITT();
    const QString name = plugin->gibAnzeigename();
    const QString verb = aktualisierung ? QStringLiteral("aktualisiert") : QStringLiteral("installiert");
    const QString tmp = gibDirTmp();
    if (!istInstallerVorhanden(tmp, plugin->gibZip(), plugin->gibMD5())) {
        QString fehler;
        if (!downloadInstallerPlugin(name, plugin->gibZip(), plugin->gibMD5(), tmp, fehler, plugin->gibSize())) {
            emit statusText(QStringLiteral("Wenn Sie WinXP verwenden, ist der Grund eventuell eine falsche Einstellung im "
                                           "Berechtigungsdialog."));
            ++mi_SchrittAktuell;
            const QString text = QStringLiteral("\"%1\" wurde nicht %2, da die Datei \"%3\" nicht vom Server geladen werden konnte.")
                                     .arg(name, verb, plugin->gibZip());
            IV_LOG_ERROR(text);
            m_Meldungen.insert(1, text);
            IV_LOG_AUSTRITT();
            return false;
        }
    }
    const QString text = aktualisierung ? textAusLiteral("Die Aktualisierung von \"%1\" wird durchgef&uuml;hrt.").arg(name)
                                        : textAusLiteral("Die Installation von \"%1\" wird durchgef&uuml;hrt.").arg(name);
    emit downloadFortschritt(0, 0);
    emit fortschritt(mi_SchrittAktuell, mi_AnzahlSchritte);
    emit statusText(text);
    ++mi_SchrittAktuell;
    IV_LOG_INFO(QStringLiteral("Installiere; Datei: [%1] Verzeichnis: [%2]").arg(plugin->gibZip(), tmp));

    const QString ziel = inDienstVerzeichnis ? gibDirService() : gs_KoraDir;
    // The manager's copy in the service folder is recorded under the name the
    // repair looks for there, whatever year the index gives it.
    const QString schritt = inDienstVerzeichnis ? Laufjournal::SELBSTUPDATE
        : aktualisierung                        ? Laufjournal::ERNEUERN
                                                : Laufjournal::INSTALLIEREN;
    const Laufjournal::Teil teil = inDienstVerzeichnis ? Laufjournal::Teil{ DICT_BASIS_IV, 0 }
                                                       : Laufjournal::Teil{ plugin->gibKurzname(), plugin->gibJahr() };
    m_Journal.schritt(schritt, teil, false);
    const bool ok = !ziel.isEmpty() && unzipPlugin(plugin->gibZip(), ziel);
    m_Journal.schritt(schritt, teil, true);
    if (ok) {
        const QString erfolg = QStringLiteral("\"%1\" wurde %2.").arg(name, verb);
        IV_LOG_INFO(erfolg);
        m_Meldungen.insert(0, erfolg);
    } else {
        const QString fehler = QStringLiteral("\"%1\" wurde nicht %2.").arg(name, verb);
        IV_LOG_ERROR(fehler);
        m_Meldungen.insert(1, fehler);
    }
    IV_LOG_AUSTRITT();
    return ok;
}

bool PluginManager::loeschePlugin(Plugin* plugin, bool nurDictionary, bool melden)
{
    const QString name = plugin->gibAnzeigename();
    emit downloadFortschritt(0, 0);
    emit fortschritt(mi_SchrittAktuell, mi_AnzahlSchritte);
    if (melden)
        emit statusText(textAusLiteral("\"%1\" wird entfernt.").arg(name));
    QString fehler;
    journalSchritt(Laufjournal::ENTFERNEN, plugin, false);
    const bool ok = plugin->loescheAlleDateien(fehler, nurDictionary);
    journalSchritt(Laufjournal::ENTFERNEN, plugin, true);
    if (!ok) {
        const QString text = textAusLiteral("\"%1\" konnte nicht gel&ouml;scht werden.<br>Fehler:%2").arg(name, fehler);
        IV_LOG_ERROR(text);
        if (melden) {
            emit statusText(textAusLiteral("\"%1\" konnte nicht gel&ouml;scht werden.").arg(name));
            m_Meldungen.insert(1, text);
        }
    } else {
        const QString text = QStringLiteral("\"%1\" wurde entfernt.").arg(name);
        IV_LOG_INFO(text);
        if (melden) {
            emit statusText(text);
            m_Meldungen.insert(0, text);
        }
    }
    emit downloadFortschritt(0, 0);
    emit fortschritt(mi_SchrittAktuell, mi_AnzahlSchritte);
    ++mi_SchrittAktuell;
    return ok;
}

bool PluginManager::loeschePluginLokal(const QString& kurznameMitJahr)
{
    IV_LOG_EINTRITT();
    for (Plugin* p : mp_DatenmodelInstalliert->gibListe()) {
        if (p && p->gibKurznameMitJahr() == kurznameMitJahr) {
            const bool ok = loeschePlugin(p, false, true);
            IV_LOG_AUSTRITT();
            return ok;
        }
    }
    // Name what was asked for and what there is: the switch takes one module
    // as short name plus two-digit year, which is easy to get wrong.
    QStringList vorhanden;
    for (Plugin* p : mp_DatenmodelInstalliert->gibListe()) {
        if (p)
            vorhanden << p->gibKurznameMitJahr();
    }
    IV_LOG_ERROR(textAusLiteral("Das Plugin wurde nicht gefunden. Gesucht wurde \"%1\" (Kurzname und "
                                "zweistelliges Jahr, z. B. est20); installiert sind: %2.")
                     .arg(kurznameMitJahr,
                          vorhanden.isEmpty() ? QStringLiteral("keine") : vorhanden.join(QStringLiteral(", "))));
    IV_LOG_AUSTRITT();
    return false;
}

bool PluginManager::erzeugeVerzeichnisse(const QString& zipDatei, const QString& zielVerzeichnis)
{
    ZipArchiv archiv;
    if (!archiv.oeffne(zipDatei)) {
        IV_LOG_ERROR(archiv.errorString());
        return false;
    }
    QSet<QString> erledigt;
    for (const QString& eintrag : archiv.eintraege()) {
        const QString grund = ZipArchiv::pruefeName(eintrag);
        if (!grund.isEmpty()) {
            IV_LOG_ERROR(textAusLiteral("Der Eintrag \"%1\" des Archivs \"%2\" wird abgelehnt: %3").arg(eintrag, zipDatei, grund));
            return false;
        }
        QString ordner = QDir::fromNativeSeparators(eintrag);
        ordner = ordner.endsWith(QLatin1Char('/')) ? ordner : ordner.section(QLatin1Char('/'), 0, -2);
        if (ordner.isEmpty() || erledigt.contains(ordner))
            continue;
        erledigt.insert(ordner);
        // Folders are made only where they stay inside, links included.
        const QString pfad = Plugin::pfadImOrdner(zielVerzeichnis, ordner, true);
        if (pfad.isEmpty() || !QDir().mkpath(pfad)) {
            IV_LOG_ERROR(QStringLiteral("Das Verzeichnis %1 konnte nicht erzeugt werden.")
                             .arg(QDir::toNativeSeparators(zielVerzeichnis + QLatin1Char('/') + ordner)));
            return false;
        }
    }
    return true;
}

bool PluginManager::unzipPlugin(const QString& datei, const QString& zielVerzeichnis)
{
    IV_LOG_EINTRITT();
    // The name comes from the server index and must stay a name in tmp.
    if (datei.isEmpty() || datei.contains(QLatin1Char('/')) || datei.contains(QLatin1Char('\\'))
        || datei.startsWith(QLatin1String(".."))) {
        IV_LOG_ERROR(textAusLiteral("Der Dateiname \"%1\" ist ung&uuml;ltig.").arg(datei));
        IV_LOG_AUSTRITT();
        return false;
    }
    const QString archivPfad = gibDirTmp() + datei;
    if (!erzeugeVerzeichnisse(archivPfad, zielVerzeichnis)) {
        IV_LOG_AUSTRITT();
        return false;
    }
    bool ok = false;
    for (int versuch = 1; versuch <= 10 && !ok; ++versuch) {
        ZipArchiv archiv;
        ok = archiv.oeffne(archivPfad)
            && archiv.entpacke(zielVerzeichnis, [this](qint64 fertig, qint64 gesamt) {
                   // Percent keeps large archives inside the int range of the signal.
                   emit downloadFortschritt(gesamt > 0 ? int(fertig * 100 / gesamt) : 0, 100);
               });
        if (!ok) {
            IV_LOG_ERROR(QStringLiteral("Fehler beim Entpacken der Datei \"%1\" nach \"%2\". Versuch: %3")
                             .arg(archivPfad, zielVerzeichnis)
                             .arg(versuch));
            IV_LOG_ERROR(archiv.errorString());
            archiv.schliesse();
            wartePause(500);
        }
    }
    if (ok && nativOhneSeparator(zielVerzeichnis) != nativOhneSeparator(gibDirService())) {
        IV_LOG_INFO(textAusLiteral("Die Datei \"%1\" wurde erfolgreich ausgef&uuml;hrt und wird nun vom System entfernt.").arg(archivPfad));
        loescheDatei(archivPfad);
    }
    IV_LOG_AUSTRITT();
    return ok;
}

// ---- the main application and the disk ------------------------------------------------------

bool PluginManager::beendeKoras()
{
    VarnelKern* kern = VarnelKern::instanz();
    const bool laeuft = kern && kern->sendeAnfrageAnLaufendeInstanz(KURZNAME_KORA, QString(), QStringList(), false);
    if (!laeuft)
        return true;
    if (gb_SilentUpdate) {
        IV_LOG_ERROR(textAusLiteral("Das Beenden von Fiscalon wird im Modus %1 nicht durchgef&uuml;hrt.").arg(gs_ModusSilentUpdate));
        return false;
    }
    if (!m_KorasBeendenDialog) {
        IV_LOG_ERROR(QStringLiteral("Fiscalon l\u00e4uft noch und kann ohne Dialog nicht beendet werden."));
        return false;
    }
    return m_KorasBeendenDialog();
}

bool PluginManager::istNetzlaufwerk(const QString& pfad)
{
    if (pfad.isEmpty()) {
        IV_LOG_ERROR(QStringLiteral("Der Parameter Pfad ist leer."));
        return false;
    }
    // A drive letter means nothing here: the file system holding the folder decides.
    return Plattform::istNetzlaufwerk(pfad);
}

bool PluginManager::beendeWennZielNetzlaufwerkIst()
{
    if (!istNetzlaufwerk(gs_KoraDir))
        return false;
    IV_LOG_ERROR(QStringLiteral("Fiscalon wurde auf einem Netzlaufwerk installiert."));
    const QString text =
        textAusLiteral("Die Installationsverwaltung kann die Aktualisierung nicht durchf&uuml;hren, weil Fiscalon auf einem "
                       "Netzlaufwerk installiert wurde. ")
        + textAusLiteral("F&uuml;hren Sie bitte eine Neuinstallation durch. ")
        + textAusLiteral("Die Setups f&uuml;r eine Neuinstallation finden Sie unter folgenden Links: <br><br>")
        + QStringLiteral("<a href=%1>%2</a><br>").arg(WizardWerte::setupPrivat(), textAusLiteral("Fiscalon f&uuml;r Privatanwender"))
        + QStringLiteral("<a href=%1>%2</a><br>")
              .arg(WizardWerte::setupUnternehmer(), textAusLiteral("Fiscalon f&uuml;r Unternehmer / Selbst&auml;ndige / Arbeitgeber "))
        + QStringLiteral("<a href=%1>%2</a>").arg(WizardWerte::setupGesamt(), QStringLiteral("Fiscalon im Gesamtumfang"));
    m_Meldungen.insert(1, text);
    emit sgnInstallerAktiv(false);
    emit aktionenFertig(true);
    return true;
}
