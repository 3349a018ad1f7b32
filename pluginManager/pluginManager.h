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

signals:
    void initialisiert();
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
};
