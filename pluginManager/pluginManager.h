#pragma once
// The update engine: one per process, created by main and owned by it. It
// holds the module lists of both sides (as table models the wizard shows),
// the records of the main application, of the manager and of the service,
// and the operations that fill, compare and carry them out.

#include <QObject>
#include <QString>
#include <QStringList>

class DlgPluginManagerDatenmodel;
class Plugin;
class QEventLoop;
class QTimer;
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
    // Whether the manager may go online at all. The consent rules of the
    // schedule decide it; until they exist every access is permitted.
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
    bool leseServerInhaltsdatei();
    void leseTechPluginDatei(bool& selbstUpdateNoetig, bool& serviceVerwenden, bool herunterladen);
    Plugin* gibPluginIvServer() const { return mp_PluginIvServer; }
    Plugin* gibPluginServiceServer() const { return mp_PluginServiceServer; }

    // ---- waiting for transfers ---------------------------------------------------
    bool startTimerDownloadTimeout(int ms);
    void stopTimerDownloadTimeout();
    bool istAbbruch() const { return mb_Abbruch; }

public slots:
    void slot_doneLoadFile(bool error, const QString& localFilePath);
    void slot_downloadFortschritt(int done, int total);
    void slot_download_Timeout();

signals:
    void initialisiert();
    void downloadFortschritt(int done, int total);
    // A line for the wizard's status (empty: clear it); `fehler` marks an error.
    void initStatusText(const QString& text, bool fehler);
    // The module lists or their actions changed as a whole.
    void datenAenderung();

protected:
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
    // Records of the technical index; they point into mp_DatenmodelTechnisch.
    Plugin* mp_PluginIvServer = nullptr;
    Plugin* mp_PluginServiceServer = nullptr;
};
