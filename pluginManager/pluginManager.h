#pragma once
// The update engine: one per process, created by main and owned by it. It
// holds the module lists of both sides (as table models the wizard shows),
// the records of the main application, of the manager and of the service,
// and the operations that fill, compare and carry them out.

#include "pluginManager/laufjournal.h"

#include <QMultiMap>
#include <QObject>
#include <QString>
#include <QStringList>
#include <functional>
#include <optional>

class DlgPluginManagerDatenmodel;
class Plugin;
class QEventLoop;
class QTextStream;
class QTimer;
class Setup;
class downloadManager;

class PluginManager : public QObject
{
    Q_OBJECT
public:
    // Fixed names of the parts and their dictionaries.
    static const QString KURZNAME_KORA;          // "kora"
    static const QString DICT_KORA;              // "kora_0.dict"
    static const QString DICT_IV;                // "instv_0.dict"
    static const QString DICT_BASIS_IV;          // "instv"
    static const QString DICT_BASIS_SERVICE;     // "service"
    static const QString SERVICE_NAME;           // "TavoService"
    static const QString SERVICE_ANZEIGENAME;    // "Fiscalon Update Service"

    explicit PluginManager(QObject* parent = nullptr);
    ~PluginManager() override;

    // ---- the lists and records ----------------------------------------
    DlgPluginManagerDatenmodel* gibDatenmodelInstalliert() const { return mp_DatenmodelInstalliert; }
    DlgPluginManagerDatenmodel* gibDatenmodelVerfuegbar() const { return mp_DatenmodelVerfuegbar; }
    DlgPluginManagerDatenmodel* gibDatenmodelTechnisch() const { return mp_DatenmodelTechnisch; }
    Plugin* gibPluginKoraInstalliert() const { return mp_PluginKoraInstalliert; }
    Plugin* gibPluginKoraVerfuegbar() const { return mp_PluginKoraVerfuegbar; }
    Plugin* gibPluginIvServiceDir() const { return mp_PluginIvServiceDir; }
    Plugin* gibPluginService() const { return mp_PluginService; }
    // The engine takes ownership; the record it replaces is deleted.
    void setzePluginKoraInstalliert(Plugin* plugin);
    void setzePluginKoraVerfuegbar(Plugin* plugin);
    bool istHauptanwendungAktualisieren() const { return mb_HauptanwendungAktualisieren; }
    // True while a pass over a whole module list runs. It announces every
    // row; whoever sums up the plan does that once, at listenDurchlaufBeendet().
    bool istListenDurchlauf() const { return mi_ListenDurchlauf > 0; }

    // ---- the plan across the elevated restart ---------------------------
    // The first process: both module lists, the main-application records and
    // the server's service record into five files of gibDirDaten, each
    // replaced in one step. False (logged) at the first file not written.
    bool schreibeDatenModelleInUserTmp();
    // The elevated process: the five files back, each removed once read. All
    // of them are checked before anything is replaced; false (logged, every
    // file removed, lists and records as before) when one fails.
    bool leseDatenModelleAusUserTmp();

    // ---- local inventory ---------------------------------------------------
    // Reads the dictionaries of the main-application directory: the installed
    // list and the installed main application.
    void lesePluginInfoLokal();
    // Paths of the manager's and the service's ".vdict"; empty on failure.
    QString gibDictDateinameMitPfadIvEigenesDir() const;
    QString gibDictDateinameMitPfadIvServiceDir() const;
    QString gibDictDateinameMitPfadService() const;
    // Whether the manager copy in `verzeichnis` is intact: its signed
    // dictionary and every file it lists.
    bool istKopieValid(const QString& verzeichnis) const;
    bool lesePluginManagerDictInfoServiceDir();
    bool leseServiceDictInfo();
    QStringList gibDateilisteTechnischePlugins(bool manager, bool service);
    // The decoded text of every valid dictionary below rootPath into outFile.
    bool lesePluginInfoAusPfadInDatei(const QString& rootPath, const QString& outFile);
    // Makes sure the service directory holds a valid copy of the running
    // manager. True when it does afterwards.
    bool kopiereIvInsServiceDir();

    static QString gibUnterfallartBezeichnung(uint nummer);
    // "%1_%2.vdict".
    static QString gibVdictName(const QString& basis, int nummer);
    // The service directory in native separators; empty (logged) on failure.
    static QString gibDirService();
    // The running program's file: the start-up value of argv[0] when there is
    // one, else the application's file path.
    static QString gibProgrammDatei();

    // ---- directories of the manager -------------------------------------------
    // The manager's home below the user's data: "pluginmanager" beside "kora".
    static QString gibDirPmHome();
    static QString gibDirDaten(); // gibDirPmHome + "data" + separator
    static QString gibDirTmp();   // gibDirPmHome + "tmp" + separator

    // ---- the update server ---------------------------------------------------
    // The production base address: "https://<host>/download/pm/win_18_0/".
    static QString gibBasisUrlProduktion();
    QString gibBasisUrlQsTestServer() const;
    // Whether the manager may go online at all: special version, run mode,
    // schedule and the user's consent (pluginManager_zugriff.cpp).
    virtual bool istInternetzugriffErlaubt();
    bool initDownloadManager();
    void gibRedirectDateien(QString& url, QString& sigUrl, QString& name, QString& sigName);
    // 0 success, 2 no connection, -1 file missing or signature invalid.
    int setzeServerVerzeichnis();
    bool holeDateiVomServer(const QString& zielVerzeichnis, const QString& dateiname);
    bool holeServerInhaltsdatei();
    void loescheIndexDateiServer();
    bool kopiereIndexDateiServer();
    bool istServerInhaltUnveraendert();
    int gibServerStatus() const { return mi_ServerStatus; }
    QString gibServerVerzeichnis() const { return m_ServerVerzeichnis; }
    bool istQsTestServer() const { return mb_QSTestServer; }
    downloadManager* gibDownloadManager() const { return mp_DownloadManager; }

    // ---- the server index ------------------------------------------------------
    bool lesePluginInfoServer(bool technisch, QString& fehler, DlgPluginManagerDatenmodel* model);
    // The unpacked index (already trusted) into records: what lesePluginInfoServer
    // does after the signature check and the archive.
    bool leseIndexXml(const QByteArray& bytes, bool technisch, QString& fehler, DlgPluginManagerDatenmodel* model);
    bool leseServerInhaltsdatei();
    void leseTechPluginDatei(bool& selbstUpdateNoetig, bool& serviceVerwenden, bool herunterladen);
    Plugin* gibPluginIvServer() const { return mp_PluginIvServer; }
    Plugin* gibPluginServiceServer() const { return mp_PluginServiceServer; }

    // ==== status comparison and action planning (pluginManager_planung.cpp) ====
    // How far the modules of one tick-all switch are ticked.
    enum Auswahlzustand {
        AUSWAHL_ALLE = 0,       // every tickable module is ticked
        AUSWAHL_TEILWEISE = 1,  // some (or none of several) are ticked
        AUSWAHL_KEINE = 2,      // none is ticked
        AUSWAHL_NICHTS = 3      // nothing can be ticked
    };

    // Status words of both lists against the reference main application
    // (the server's when its update is selected, else the installed one).
    // Every visited row is announced to the model.
    void setzeStausLokalePlugins();
    void setzeStausVerfuegbarePlugins();
    // Selects or deselects the main-application update, adapts the actions
    // of the modules whose interface number differs, then sets all statuses anew.
    void setzeAktionHauptanwendung(bool aktualisieren);
    void setzeAktionBeiINrAenderungLokalePlugins(Plugin* pPluginKora, int aktion);
    void setzeAktionBeiINrAenderungVerfuegbarePlugins(Plugin* pPluginKora, int aktion);
    // Tick-all switches and recommendations; rows whose action changes are announced.
    void setzeAktionErneuernInstallierte(bool setzen);
    void setzeAktionVerfuegbareZurInstallationEmpfohlene(bool setzen);
    void setzeAktionenEmpfohlene(bool setzen);
    void setzeAlleHakenAktualisieren(bool setzen);
    void setzeAlleHakenInstallieren(bool setzen);
    // Every action back to KEINE; no row is announced.
    void resetAktionenDerPlugins();

    // The summary lines of the planned work; `anzahlSchritte` is the 100 %
    // of the run's progress.
    QStringList gibAktionen(int& anzahlSchritte);
    void gibAktionenInstallierte(int& anzahlSchritte, QStringList& liste);
    void gibAktionenVerfuegbare(int& anzahlSchritte, QStringList& liste);
    QStringList gibAktionenListe() const { return m_AktionenListe; }
    int gibAnzahlSchritte() const { return mi_AnzahlSchritte; }
    Auswahlzustand gibAuswahlAktualisierungen() const;
    Auswahlzustand gibAuswahlFolgezeitraueme() const;
    // Files of the installed main application and modules, each once.
    QStringList gibDateilisteInstalliert() const;

    Plugin* findeDasJuengsteInstalliertePluginGleichenTyps(const Plugin* plugin) const;
    Plugin* findeGleichesPluginGegenueber(const Plugin* plugin, bool aufInstallierteSeite) const;
    bool gibEsDiesesPluginBeiDenInstallierten(const Plugin* plugin) const;
    Plugin* gibInstalliertesPlugin(const Plugin* plugin) const;
    Plugin* gibVerfuegbaresPlugin(const Plugin* plugin) const;

    bool checkSollenAlleInstalliertenGeloeschtUndKeineNeuenInstalliertWerden() const;
    // Display names of the declarations selected for more than four years.
    QStringList gibPluginsMitMehrAlsVierVZs() const;
    // Asks (at most every 182 days) whether the user wants to review the
    // selection; true when they do.
    bool frageAuswahlUeberpruefen(const QStringList& namen);
    // 1 update available, 0 none, -1 no local installation.
    int istUpdateVorhanden() const;
    // Plans the installation of the modules named by "--instPlugin"
    // ("Unterfallart_Jahr;..."). False with the reason in `grund`; modules
    // the server lacks are named in `nichtGefunden`.
    bool pruefeInstallationsliste(const QString& liste, QString& grund, QStringList& nichtGefunden);
    // The user texts the main flow shows for the results above: the refusal
    // (singular or plural after the entries of `liste`) and the notice about
    // modules missing on the server (empty when none).
    static QString gibTextInstallationslisteAbgelehnt(const QString& liste, const QString& grund);
    static QString gibTextInstallationslisteNichtGefunden(const QStringList& nichtGefunden);
    // Removes an installed module outside a run ("--delPlugin"): the first
    // whose short name with year equals the text.
    bool loeschePluginLokal(const QString& kurznameMitJahr);

    // ==== internet-access consent and update schedule (pluginManager_zugriff.cpp) ====
    // istInternetzugriffErlaubt (declared with the server access) decides it.
    // Whether an automatic search is due.
    bool autoUpdateSucheErlaubt();
    // Asks for consent once per process and stores the answer in kora.ini.
    bool zeigeInternetZugriffsDialog();
    int gibInternetZugriff() const { return mi_InternetZugriff; }
    // ==== end of planning and consent ====

    // ==== main-application housekeeping (pluginManager_hauptanwendung.cpp) ====
    static const QString PRODUKTNAME;   // "Fiscalon": menu folder, registry DisplayName
    static const QString LIZENZDATEI;   // "Lizenzvertrag.pdf" in the main-application folder
    // Folders; each is empty (logged) when it cannot be had. The help folder
    // must exist; the menu folder ends with a separator.
    static QString gibDirHilfe();
    static QString gibDirProgramData();
    static QString gibStartMenuePfad();
    // A menu entry's name as the main application's setup calls it: ".lnk"
    // names become the same base name with ".desktop".
    static QString gibStartMenueDateiname(const QString& name);
    // The menu entry `name` in the menu folder is deleted; false (logged)
    // when it is missing or cannot be deleted.
    bool startMenuEintragLoeschen(const QString& name);
    // Renames a menu entry; an existing target is never replaced.
    bool startMenueEintragUmbenennen(const QString& alt, const QString& neu);
    // The menu entry that opens the licence agreement with the desktop's viewer.
    bool erzeugeLizenzEintrag();
    // "INSTALLATION/Variante" from the installed modules when it holds none
    // of "p", "u", "k".
    void setzeVariante();
    // The uninstall entry in the registry stand-in, plain and MSI form, and
    // the uninstaller's copy beside it. False when something was not written.
    bool setzeRegistrierungsEintraege();
    bool setzeRegistrierungsEintraegeMSI();
    bool kopiereUninstall();
    // Group "users" may read and write in `verzeichnis` and below.
    bool setzeSchreibrechte(const QString& verzeichnis);
    // Whether the server's update service is newer than the installed one
    // (or none is installed).
    bool istServiceUpdateErforderlich();
    // The main application's update with everything that goes with it (menu
    // entries, uninstall entry, the update service). False stops the run.
    bool updateKora();
    // Unpacks the update package `paket` of `hauptanwendung` over the
    // main-application folder; false (recorded for the user) when it failed.
    bool updateHauptanwendung(Plugin* hauptanwendung, const Setup& paket);
    // Replaces the update service when the server has a newer one: stopped,
    // deregistered, unpacked into gibDirService, registered, rights set.
    // Reports through the log and the result messages only.
    void updateService();
    // Members of group "users" may start and stop the service.
    void setzeServiceRechte();
    // The manager's update from the server's self-update record into the
    // service folder (pluginManager_selbstupdate.cpp): downloaded with its
    // MD5, verified unpacked beside the old copy, then unpacked over it; the
    // files the new version no longer lists are removed. False (logged and
    // recorded) leaves the old copy as it was.
    bool installSelbstUpdate();
    // The service program the service manager runs: "bin/tavoService" in the
    // service folder (built as tavodienst); empty when that folder is unknown.
    static QString gibDienstProgramm();
    // The text for a main application whose installed revision has no
    // update package on the server (or that the server lacks altogether).
    QString gibTextKeinHauptanwendungsUpdate() const;
    // The archive that brings the installed main application to the server's:
    // the update package for the installed revision, or, for a main
    // application found damaged, the server's complete archive (an update
    // package holds only what changed and would leave other damage in place).
    std::optional<Setup> gibHauptanwendungsPaket() const;
    // Everything after the main application's files are updated, before the
    // service update: edition, menu entries, uninstall entry. Failures are
    // logged and never stop a run.
    void fuehreHauptanwendungsNacharbeitenAus();
    // ==== end of main-application housekeeping ====

    // ---- waiting for transfers ---------------------------------------------------
    bool startTimerDownloadTimeout(int ms);
    void stopTimerDownloadTimeout();
    bool istAbbruch() const { return mb_Abbruch; }

    // ==== installer download (pluginManager_download.cpp) ====
    // One file into zielVerzeichnis with up to three attempts, each checked
    // against `md5` (lower-case hexadecimal, compared exactly). A body larger
    // than `groesse` (the index's size; 0: unknown) is cut off there and fails.
    bool dateiDownload(const QString& zielVerzeichnis, const QString& dateiname, const QString& md5, quint64 groesse = 0);
    // One installer with status signals; an intact copy from earlier is reused.
    bool downloadInstallerPlugin(const QString& anzeigename, const QString& dateiname, const QString& md5,
                                 const QString& zielVerzeichnis, QString& fehler, quint64 groesse = 0);
    // Every file the planned actions need, into gibDirTmp; stops at the first failure.
    bool downloadInstaller();
    // Whether zielVerzeichnis + dateiname exists with the checksum `md5`.
    static bool istInstallerVorhanden(const QString& zielVerzeichnis, const QString& dateiname, const QString& md5);
    bool passenInstallerAufHD();
    bool passenAktualisierungenAufHD(QString& meldung);
    quint64 gibSummeDateigroessenInstaller();
    quint64 gibSummePlatzbedarfFuerAktualisierungen(bool* ok);
    // "1.50" / "kB" (never above "MB").
    static void formatiereGroesse(quint64 bytes, QString& wert, QString& einheit);

    // ==== carrying out the plan (pluginManager_ausfuehrung.cpp) ====
    // The whole run; true when it reached its end.
    bool aktionsAusfuehrung();
    void aktionsAusfuehrungBeenden();
    // The user's cancel request; false when it is refused (changes began).
    bool abbruchDurchAnwender();
    void abbruchDerRestlichenAktionen();
    void deinstallPlugins();
    void installPlugins();
    void updatePlugins();
    bool installPlugin(Plugin* plugin, bool aktualisierung, bool inDienstVerzeichnis);
    bool loeschePlugin(Plugin* plugin, bool nurDictionary, bool melden);
    bool unzipPlugin(const QString& datei, const QString& zielVerzeichnis);
    bool erzeugeVerzeichnisse(const QString& zipDatei, const QString& zielVerzeichnis);
    // True when no main-application instance runs (any more).
    bool beendeKoras();
    // The dialog that closes the main application; the program installs it
    // (the engine has no widgets). Without it a running main application stays
    // and beendeKoras fails.
    void setzeKorasBeendenDialog(std::function<bool()> dialog) { m_KorasBeendenDialog = std::move(dialog); }
    // True when the run must not start: the main application lies on a network drive.
    bool beendeWennZielNetzlaufwerkIst();
    virtual bool istNetzlaufwerk(const QString& pfad);
    bool frageTrotzHilfeFehlerWeitermachen();

    QMultiMap<int, QString> gibMeldungen() const { return m_Meldungen; }
    int gibSchrittAktuell() const { return mi_SchrittAktuell; }
    bool laufenAktionen() const { return mb_AktionenLaufen; }
    bool sindAktionenBegonnen() const { return mb_Aktionenbegonnen; }
    // An unattended run asked to end the process with `code` (90, -92).
    bool istEndeAngefordert(int& code) const
    {
        code = mi_EndeCode;
        return mb_EndeAngefordert;
    }

    // ==== hand-over to another process (pluginManager_neustart.cpp) ====
    // The arguments of a restarted instance, one per entry; valued switches
    // as --switch="value" (a quote or backslash in the value escaped with a
    // backslash, as UpdateProcess reads a parameter text).
    QStringList gibNeustartParameter(bool alsAdmin, bool selbstUpdate) const;
    // Starts the manager copy of the service folder (waiting for its end) or
    // of the installation (with root's rights). 0: another process took
    // over; NEUSTART_KOPIE_UNGUELTIG: the copy does not verify; else the
    // runner's code.
    int neustartPerProcess(bool ausServiceVerzeichnis, bool alsAdmin);
    // The wizard's restart with root's rights after the licence page: the
    // plan goes to the five data files, the elevated instance carries it out.
    // False when refused (a second request) or when the plan could not be written.
    bool neuStartMitAdminRechten();
    // After neustartPerProcess waited for the copy of the service folder: it
    // ran to its end with `code`, so it did this process's work.
    bool istKopieBeendet(int& code) const
    {
        code = mi_KopieExitCode;
        return mb_KopieBeendet;
    }

    // ==== crash safety and verification (pluginManager_wiederherstellung.cpp) ====
    // One part checked against its signed dictionary.
    struct TeilPruefung {
        QString name;            // display name (long name and year)
        QString dictPfad;
        Laufjournal::Teil teil;  // short name and year from the dictionary
        int geprueft = 0;        // files listed and checked
        QStringList fehlend;     // listed paths without a file
        QStringList geaendert;   // listed paths whose MD5 differs
        QString fehler;          // dictionary unreadable or its signature invalid
        bool istHeil() const { return fehler.isEmpty() && fehlend.isEmpty() && geaendert.isEmpty(); }
    };
    // Every file the dictionary at `dictPfad` lists must lie below `basis`
    // (the folder above "dict") with its MD5. Changes nothing.
    static TeilPruefung pruefeTeil(const QString& dictPfad, const QString& basis);
    // The main application, every module and the manager in the installation,
    // the service and manager copies in the service folder, and the running
    // manager's folder when that is a third one.
    QList<TeilPruefung> pruefeAlleTeile();
    // The verify switch: the report to `aus`; 0 all intact, EXIT_BESCHAEDIGT
    // when a part failed (a note then tells the next run to repair it), -1
    // when nothing is installed. The installation is not changed.
    int ablaufPruefen(QTextStream& aus);
    // The same verification started from the wizard: the report into
    // `bericht`, the note for the next run, and the damaged parts that the
    // server can replace ticked for repair now, as after a stopped run.
    int pruefeAusAssistent(QString& bericht);
    // Start of a run mode that may change the installation: reads the journal
    // an earlier process left, logs where it stopped and removes the leftovers
    // (staging folders, partial downloads that cannot be resumed). True when
    // there was a journal; planeReparaturen then follows the planning.
    bool pruefeUnterbrochenenLauf();
    // After the inventory and the recommendations: finishes the stopped run's
    // clean-up, verifies the parts the journal names (all when it is damaged)
    // and plans the failing ones for a reinstall from the server.
    void planeReparaturen();
    int gibAnzahlReparaturen() const { return mi_Reparaturen; }
    // The service copy failed its verification after a stopped run: its
    // update is due whatever the revisions say (istServiceUpdateErforderlich).
    bool istDienstBeschaedigt() const { return mb_DienstBeschaedigt; }
    // The run's journal. journalBeginne at the point of no return, with the
    // plan; journalSchritt before (ende false) and after (ende true) each
    // change of a part (step: a Laufjournal constant; null part: the whole
    // run, e.g. the clean-up); journalBeenden when the run reached its end.
    // Outside a run they do nothing. The main application, the service
    // ("service 0", DIENST) and the manager copy in the service folder
    // ("instv 0", SELBSTUPDATE) are recorded by the names the repair looks
    // for; the self-update process keeps a journal of its own
    // (Laufjournal::setzeFort).
    bool journalBeginne();
    void journalSchritt(const QString& schritt, const Plugin* teil, bool ende);
    void journalBeenden();

    // ==== clean-up of obsolete files (pluginManager_bereinigung.cpp) ====
    void bereinigen(const QString& verzeichnis, const QStringList& vorher, const QStringList& nachher);
    void bereinigenGrossKleinschreibung(const QStringList& nachher);
    void loescheAltlasten();
    bool loescheDateien(const QString& verzeichnis, QStringList& liste);
    bool loescheDatei(const QString& pfad);
    // The absolute native path of a list entry below `verzeichnis`; empty for
    // an entry that would leave it.
    static QString gibVollenPfad(const QString& verzeichnis, const QString& eintrag);

public slots:
    void slot_doneLoadFile(bool error, const QString& localFilePath);
    void slot_downloadFortschritt(int done, int total);
    void slot_download_Timeout();

signals:
    void fortschritt(int schritt, int anzahl);
    void statusText(const QString& text);
    void statusText2(const QString& text);
    void aktionenFertig(bool weiter);
    void aktionsDurchfuehrung(bool aktiv);
    void sgnDownloadInstaller(bool aktiv);
    void sgnInstallerAktiv(bool aktiv);
    void initialisiert();
    void downloadFortschritt(int done, int total);
    // A line for the wizard's status (empty: clear it); `fehler` marks an error.
    void initStatusText(const QString& text, bool fehler);
    // The module lists or their actions changed as a whole.
    void datenAenderung();
    // The outermost pass over a whole module list has ended.
    void listenDurchlaufBeendet();

protected:
    // Step 8 of a run, the write rights of the help folder for every user.
    // False when they could not be set (the user is then asked whether to go on).
    virtual bool setzeHilfeSchreibrechte();
    // Step 11 of a run, the update of the main application. False when it
    // failed (the run then stops).
    virtual bool aktualisiereHauptanwendung();
    // Ends the process of an unattended run with `code` once control is back
    // in the main flow (or at once, from within the event loop).
    virtual void beendeAnwendung(int code);
    // Calls `aktion` for each planned renewal (alt, server counterpart or
    // null) and installation (null, neu); false as soon as `aktion` is.
    bool fuerGeplanteArchive(const std::function<bool(Plugin* alt, Plugin* neu)>& aktion);
    // A pass stopped by the user's cancel: logged, shown and recorded for `plugin`.
    void meldeAbgebrochen(Plugin* plugin, const char* verb);
    // Logs each remaining file of a clean-up between dash lines; the text for
    // the user is returned.
    static QString meldeNichtGeloeschte(const QString& verzeichnis, const QStringList& liste);

    // The self-update's archive unpacked into a staging folder of the service
    // folder and verified there; the staging folder is removed again.
    bool pruefeSelbstUpdateArchiv(const QString& archiv, const QString& dienst, QString& fehler);
    // No group or other write on the listed files of the copy in `dienst`.
    void setzeKopieRechte(const QStringList& dateien, const QString& dienst);

    // Reads one dictionary into a new record owned by the caller; null and
    // the logged texts of `texte` on failure. texte: missing, invalid, broken.
    Plugin* leseTechnischesPlugin(const QString& pfad, const QString texte[3]) const;

    DlgPluginManagerDatenmodel* mp_DatenmodelInstalliert = nullptr;
    DlgPluginManagerDatenmodel* mp_DatenmodelVerfuegbar = nullptr;
    DlgPluginManagerDatenmodel* mp_DatenmodelTechnisch = nullptr;

    Plugin* mp_PluginKoraInstalliert = nullptr;
    Plugin* mp_PluginKoraVerfuegbar = nullptr;
    Plugin* mp_PluginIvServiceDir = nullptr;
    Plugin* mp_PluginService = nullptr;

    bool mb_HauptanwendungAktualisieren = false;
    int mi_ListenDurchlauf = 0;
    class ListenDurchlauf;

    // One transfer at a time, waited for in a local loop.
    int warteAufTransfer();
    void meldeDownloadAnKora(int art);

    downloadManager* mp_DownloadManager = nullptr;
    QEventLoop* mp_EventLoop = nullptr;
    QTimer* mp_TimerDownloadTimeout = nullptr;
    bool mb_TransferLaeuft = false;
    int mi_TransferErgebnis = 0;
    bool mb_DownloadManagerInitialisiert = false;
    bool mb_QSTestServer = false;
    QString m_QSTestServerUrl;
    QString m_ServerVerzeichnis;
    int mi_ServerStatus = 0;
    bool mb_Abbruch = false;
    // ==== planning and consent: state ====
    // Summary of the last gibAktionen.
    QStringList m_AktionenListe;
    int mi_AnzahlSchritte = 0;
    // Consent in this process: -1 not asked yet, 0 refused, 1 allowed.
    int mi_InternetZugriff = -1;
    // ==== end of planning and consent: state ====
    // ==== carrying out the plan: state ====
    int mi_SchrittAktuell = 0;
    QMultiMap<int, QString> m_Meldungen;
    // ==== hand-over: state ====
    bool mb_NeustartMitAdminRechten = false;
    bool mb_KopieBeendet = false;
    int mi_KopieExitCode = 0;
    bool mb_AktionenLaufen = false;
    bool mb_Aktionenbegonnen = false;
    bool mb_EndeAngefordert = false;
    int mi_EndeCode = 0;
    std::function<bool()> m_KorasBeendenDialog;
    // ==== crash safety: state ====
    Laufjournal m_Journal;
    Laufjournal::Stand m_Unterbrochen;
    bool mb_Wiederherstellung = false;
    int mi_Reparaturen = 0;
    bool mb_DienstBeschaedigt = false;
    // Records of the technical index; they point into mp_DatenmodelTechnisch.
    Plugin* mp_PluginIvServer = nullptr;
    Plugin* mp_PluginServiceServer = nullptr;
};
