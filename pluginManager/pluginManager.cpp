#include "pluginManager/pluginManager.h"

#include "global/crypto/crypto.h"
#include "global/crypto/cryptohelper.h"
#include "global/archiv/ziparchiv.h"
#include "global/downloadManager/downloadmanager.h"
#include "global/plattform/plattform.h"
#include "global/varnelApplication/logbase.h"
#include "global/varnelApplication/textausliteral.h"
#include "pluginManager/dlgPluginManagerDatenmodel.h"
#include "pluginManager/plugin.h"
#include "pluginManager/startwerte.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QTextStream>
#include <memory>

const QString PluginManager::KURZNAME_KORA = QStringLiteral("kora");
const QString PluginManager::DICT_KORA = QStringLiteral("kora_0.dict");
const QString PluginManager::DICT_IV = QStringLiteral("instv_0.dict");
const QString PluginManager::DICT_BASIS_IV = QStringLiteral("instv");
const QString PluginManager::DICT_BASIS_SERVICE = QStringLiteral("service");
const QString PluginManager::SERVICE_NAME = QStringLiteral("TavoService");
const QString PluginManager::SERVICE_ANZEIGENAME = QStringLiteral("Fiscalon Update Service");

PluginManager::PluginManager(QObject* parent)
    : QObject(parent)
{
    IV_LOG_EINTRITT();
    mp_DatenmodelInstalliert = new DlgPluginManagerDatenmodel(false, this);
    mp_DatenmodelVerfuegbar = new DlgPluginManagerDatenmodel(true, this);
    mp_DatenmodelTechnisch = new DlgPluginManagerDatenmodel(true, this);
    mp_DownloadManager = new downloadManager(this);
    mp_EventLoop = new QEventLoop(this);
    m_ServerVerzeichnis = gs_Redirect;
    ZipArchiv::setzeZugBeobachter([](const QString& name) {
        Laufjournal::haltepunkt(QStringLiteral("verschieben"));
        Laufjournal::haltepunkt(QStringLiteral("verschieben ") + name);
    });
    IV_LOG_INFO(QStringLiteral("Arbeitsverzeichnis [%1]").arg(QDir::currentPath()));
    for (const QString& dir : { gibDirDaten(), gibDirTmp() }) {
        if (!QDir().mkpath(dir))
            IV_LOG_ERROR(QStringLiteral("Das Verzeichnis \"%1\" konnte nicht erzeugt werden.").arg(dir));
    }
    if (!connect(mp_DownloadManager, &downloadManager::finished, this, &PluginManager::slot_doneLoadFile))
        IV_LOG_ERROR(QStringLiteral("Verbindung Signal/Slot konnte nicht hergestellt werden."));
    if (!connect(mp_DownloadManager, &downloadManager::downloadProgress, this, &PluginManager::slot_downloadFortschritt))
        IV_LOG_ERROR(QStringLiteral("Verbindung Signal/Slot konnte nicht hergestellt werden."));
    IV_LOG_AUSTRITT();
}

PluginManager::~PluginManager()
{
    // The models refer to the main-application records; they go first.
    delete mp_DatenmodelInstalliert;
    delete mp_DatenmodelVerfuegbar;
    delete mp_DatenmodelTechnisch;
    delete mp_PluginKoraInstalliert;
    delete mp_PluginKoraVerfuegbar;
    delete mp_PluginIvServiceDir;
    delete mp_PluginService;
}

void PluginManager::setzePluginKoraInstalliert(Plugin* plugin)
{
    if (plugin == mp_PluginKoraInstalliert)
        return;
    mp_DatenmodelInstalliert->setzeHauptanwendung(plugin);
    delete mp_PluginKoraInstalliert;
    mp_PluginKoraInstalliert = plugin;
    if (plugin)
        plugin->setParent(nullptr);
}

void PluginManager::setzePluginKoraVerfuegbar(Plugin* plugin)
{
    if (plugin == mp_PluginKoraVerfuegbar)
        return;
    mp_DatenmodelVerfuegbar->setzeHauptanwendung(plugin);
    delete mp_PluginKoraVerfuegbar;
    mp_PluginKoraVerfuegbar = plugin;
    if (plugin)
        plugin->setParent(nullptr);
}

// ---- directories and names ------------------------------------------------------

QString PluginManager::gibVdictName(const QString& basis, int nummer)
{
    return QStringLiteral("%1_%2.vdict").arg(basis).arg(nummer);
}

QString PluginManager::gibDirService()
{
    const QString dir = Plattform::dienstOrdner();
    if (dir.isEmpty()) {
        IV_LOG_ERROR(textAusLiteral("Das Systemverzeichnis \"Programe\" konnte nicht ermittelt werden."));
        return QString();
    }
    return QDir::toNativeSeparators(dir);
}

QString PluginManager::gibProgrammDatei()
{
    if (!gs_ProgrammPfad.isEmpty())
        return Plattform::programmDatei(gs_ProgrammPfad);
    return QCoreApplication::applicationFilePath();
}

QString PluginManager::gibDictDateinameMitPfadIvEigenesDir() const
{
    QDir dir = QFileInfo(gibProgrammDatei()).absoluteDir();
    if (!dir.cdUp() || !dir.cd(QStringLiteral("dict"))) {
        IV_LOG_ERROR(textAusLiteral("Es kann nicht in das Unterverzeichnis dict gewechselt werden."));
        return QString();
    }
    return QDir::toNativeSeparators(dir.absoluteFilePath(gibVdictName(DICT_BASIS_IV, 0)));
}

QString PluginManager::gibDictDateinameMitPfadIvServiceDir() const
{
    const QString service = gibDirService();
    QDir dir(service);
    if (service.isEmpty() || !dir.cd(QStringLiteral("dict"))) {
        IV_LOG_ERROR(textAusLiteral("Es kann nicht in das Unterverzeichnis dict im Pfad [%1] gewechselt werden.").arg(service));
        return QString();
    }
    return QDir::toNativeSeparators(dir.absoluteFilePath(gibVdictName(DICT_BASIS_IV, 0)));
}

QString PluginManager::gibDictDateinameMitPfadService() const
{
    const QString service = gibDirService();
    if (service.isEmpty()) {
        IV_LOG_ERROR(textAusLiteral("Das Verzeichnis f&uuml;r den \"%1\" konnte nicht ermittelt werden.").arg(SERVICE_ANZEIGENAME));
        return QString();
    }
    QDir dir(service);
    if (!dir.cd(QStringLiteral("dict"))) {
        IV_LOG_ERROR(textAusLiteral("Es kann nicht in das Unterverzeichnis \"dict\" im Pfad [%1] gewechselt werden.").arg(service));
        return QString();
    }
    return QDir::toNativeSeparators(dir.absoluteFilePath(gibVdictName(DICT_BASIS_SERVICE, 0)));
}

QString PluginManager::gibUnterfallartBezeichnung(uint nummer)
{
    switch (nummer) {
    case 10:
        return textAusLiteral("Einkommensteuererkl&auml;rung");
    case 13:
        return textAusLiteral("Antrag auf Beg&uuml;nstigung des nicht entnommenen Gewinns (&sect;34a EStG)");
    case 20:
        return textAusLiteral("Gewerbesteuererkl&auml;rung");
    case 21:
        return textAusLiteral("Erkl&auml;rung f&uuml;r die Zerlegung des Gewerbesteuermessbetrages");
    case 50:
        return textAusLiteral("Umsatzsteuererkl&auml;rung");
    case 56:
        return textAusLiteral("Antrag auf Dauerfristverl&auml;ngerung/Sondervorauszahlung");
    case 58:
        return QStringLiteral("Umsatzsteuer-Voranmeldung");
    case 64:
        return QStringLiteral("Lohnsteuer-Anmeldung");
    case 77:
        return textAusLiteral("Einnahmen&uuml;berschussrechnung");
    case 97:
        return QStringLiteral("Zusammenfassende Meldung");
    case 98:
        return QStringLiteral("Elektronische Lohnsteuerabzugsmerkmale (ELStAM)");
    case 99:
        return QStringLiteral("Lohnsteuerbescheinigungen");
    default:
        return QStringLiteral("Unterfallart %1").arg(nummer);
    }
}

// ---- local inventory --------------------------------------------------------------

void PluginManager::lesePluginInfoLokal()
{
    IV_LOG_EINTRITT();
    QElapsedTimer uhr;
    uhr.start();
    emit initStatusText(textAusLiteral("Es wird festgestellt welche Programmmodule bereits installiert sind."), false);

    mp_DatenmodelInstalliert->leereListe();
    // A main application whose dictionary has gone is no longer installed.
    setzePluginKoraInstalliert(nullptr);

    QStringList gueltige, ungueltige;
    CryptoHelper::leseDictDateiListe(gs_KoraDir, gueltige, ungueltige, false);
    const QString basis = QDir(gs_KoraDir).absolutePath();
    for (const QString& name : qAsConst(gueltige)) {
        if (name.endsWith(DICT_IV))
            continue; // the manager is no module of the list
        const QString pfad = QDir::toNativeSeparators(basis + QLatin1Char('/') + name);
        std::unique_ptr<Plugin> plugin(new Plugin);
        if (!plugin->init(pfad))
            continue;
        if (plugin->gibKurzname() == KURZNAME_KORA)
            setzePluginKoraInstalliert(plugin.release());
        else
            mp_DatenmodelInstalliert->fuegeHinzu(plugin.release());
    }

    emit initStatusText(QString(), false);
    IV_LOG_INFO(textAusLiteral("Ben&ouml;tigte Zeit zum Ermitteln installierter Programmmodule: %1 ms").arg(uhr.elapsed()));
    IV_LOG_AUSTRITT();
}

bool PluginManager::istKopieValid(const QString& verzeichnis) const
{
    IV_LOG_EINTRITT();
    const QString dictVerzeichnis = verzeichnis + QDir::separator() + QStringLiteral("dict");
    const QString fehler = textAusLiteral("Fehler bei der Validierung der %1").arg(gibProgrammDatei());
    DictInfo info;
    if (!CryptoHelper::getDictInfo(gibVdictName(DICT_BASIS_IV, 0), info, dictVerzeichnis, true, true)) {
        IV_LOG_ERROR(fehler);
        IV_LOG_AUSTRITT();
        return false;
    }
    // A copy we would start must be the publisher's: a dictionary whose
    // signature fails proves nothing (the parse alone accepts it), and every
    // listed file must match, whichever form the dictionary has.
    bool gueltig = info.signaturGueltig == QLatin1String("true");
    for (auto it = info.dateien.cbegin(); gueltig && it != info.dateien.cend(); ++it) {
        const QString pfad = Plugin::pfadImOrdner(verzeichnis, it.value().pfad, true);
        if (pfad.isEmpty() || !QFileInfo(pfad).isFile()) {
            IV_LOG_ERROR(textAusLiteral("- Die Datei [%1] ist nicht vorhanden.")
                             .arg(QDir::toNativeSeparators(verzeichnis + QLatin1Char('/') + it.value().pfad)));
            gueltig = false;
        } else if (Crypto::md5Pruefsumme(pfad) != it.value().pruefsumme) {
            IV_LOG_ERROR(textAusLiteral("- Die Datei [%1] entspricht nicht dem Dictionary.").arg(pfad));
            gueltig = false;
        }
    }
    if (!gueltig)
        IV_LOG_ERROR(fehler);
    IV_LOG_AUSTRITT();
    return gueltig;
}

Plugin* PluginManager::leseTechnischesPlugin(const QString& pfad, const QString texte[3]) const
{
    if (pfad.isEmpty() || !QFileInfo::exists(pfad)) {
        IV_LOG_INFO(texte[0]);
        return nullptr;
    }
    if (!Crypto::isFileValid(pfad)) {
        IV_LOG_ERROR(texte[1]);
        return nullptr;
    }
    std::unique_ptr<Plugin> plugin(new Plugin);
    if (!plugin->init(pfad)) {
        IV_LOG_ERROR(texte[2]);
        return nullptr;
    }
    return plugin.release();
}

bool PluginManager::lesePluginManagerDictInfoServiceDir()
{
    IV_LOG_EINTRITT();
    const QString texte[3] = {
        textAusLiteral("Die dict-Datei der Installationsverwaltung existiert nicht."),
        textAusLiteral("Die dict-Datei der Installationsverwaltung ist ung&uuml;ltig."),
        textAusLiteral("Bei der Auswertung der dict-Datei der Installationsverwaltung ist ein Fehler aufgetreten."),
    };
    Plugin* plugin = leseTechnischesPlugin(gibDictDateinameMitPfadIvServiceDir(), texte);
    if (plugin) {
        delete mp_PluginIvServiceDir;
        mp_PluginIvServiceDir = plugin;
    }
    IV_LOG_AUSTRITT();
    return plugin != nullptr;
}

bool PluginManager::leseServiceDictInfo()
{
    IV_LOG_EINTRITT();
    const QString texte[3] = {
        textAusLiteral("Die dict-Datei des \"%1\" existiert nicht.").arg(SERVICE_NAME),
        textAusLiteral("Die dict-Datei des \"%1\" ist ung&uuml;ltig.").arg(SERVICE_NAME),
        textAusLiteral("Bei der Auswertung der dict-Datei des \"%1\" ist ein Fehler aufgetreten.").arg(SERVICE_NAME),
    };
    Plugin* plugin = leseTechnischesPlugin(gibDictDateinameMitPfadService(), texte);
    if (plugin) {
        delete mp_PluginService;
        mp_PluginService = plugin;
    }
    IV_LOG_AUSTRITT();
    return plugin != nullptr;
}

QStringList PluginManager::gibDateilisteTechnischePlugins(bool manager, bool service)
{
    if (manager)
        lesePluginManagerDictInfoServiceDir();
    if (service)
        leseServiceDictInfo();
    QStringList liste;
    QSet<QString> gesehen;
    for (const Plugin* p : { mp_PluginIvServiceDir, mp_PluginService }) {
        if (!p)
            continue;
        for (const QString& datei : p->gibDateien()) {
            if (!gesehen.contains(datei)) {
                gesehen.insert(datei);
                liste.append(datei);
            }
        }
    }
    return liste;
}

bool PluginManager::lesePluginInfoAusPfadInDatei(const QString& rootPath, const QString& outFile)
{
    IV_LOG_EINTRITT();
    QFile aus(outFile);
    if (!aus.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text)) {
        IV_LOG_ERROR(textAusLiteral("Die Datei (%1) konnte nicht zum Schreiben ge&ouml;ffnet werden.").arg(outFile));
        IV_LOG_AUSTRITT();
        return false;
    }
    QTextStream strom(&aus);
    strom.setCodec("UTF-8");
    QStringList gueltige, ungueltige;
    CryptoHelper::leseDictDateiListe(rootPath, gueltige, ungueltige, false);
    const QString basis = QDir(rootPath).absolutePath();
    for (const QString& name : qAsConst(gueltige)) {
        const QString pfad = QDir::toNativeSeparators(basis + QLatin1Char('/') + name);
        const QString text = CryptoHelper::leseDictText(pfad);
        if (text.isEmpty()) {
            IV_LOG_ERROR(textAusLiteral("Der Inhalt der Datei (%1) konnte nicht dekodiert werden oder die Datei ist leer.").arg(pfad));
            continue;
        }
        strom << text << '\n' << QString(82, QLatin1Char('_')) << '\n';
    }
    strom.flush();
    const bool ok = strom.status() == QTextStream::Ok;
    IV_LOG_AUSTRITT();
    return ok;
}

bool PluginManager::kopiereIvInsServiceDir()
{
    IV_LOG_EINTRITT();
    const QString dictService = gibDictDateinameMitPfadIvServiceDir();
    if (!dictService.isEmpty()) {
        if (QFileInfo::exists(dictService)) {
            if (Crypto::isFileValid(dictService)) {
                IV_LOG_AUSTRITT();
                return true;
            }
            IV_LOG_ERROR(textAusLiteral("Die Datei %1 der Installationsverwaltung ist ung&uuml;ltig.").arg(dictService));
        } else {
            IV_LOG_INFO(textAusLiteral("Die Datei %1 der Installationsverwaltung existiert nicht.").arg(dictService));
        }
    }

    const QString dictEigen = gibDictDateinameMitPfadIvEigenesDir();
    if (dictEigen.isEmpty()) {
        IV_LOG_ERROR(textAusLiteral("Der Name der dict-Datei der Installationsverwaltung konnte nicht ermittelt werden."));
        IV_LOG_AUSTRITT();
        return false;
    }
    if (!QFileInfo::exists(dictEigen)) {
        IV_LOG_INFO(textAusLiteral("Die dict-Datei der Installationsverwaltung existiert nicht."));
        IV_LOG_AUSTRITT();
        return false;
    }
    if (!Crypto::isFileValid(dictEigen)) {
        IV_LOG_ERROR(textAusLiteral("Die dict-Datei der Installationsverwaltung ist ung&uuml;ltig."));
        IV_LOG_AUSTRITT();
        return false;
    }
    std::unique_ptr<Plugin> plugin(new Plugin);
    if (!plugin->init(dictEigen)) {
        IV_LOG_ERROR(textAusLiteral("Bei der Auswertung der dict-Datei der Installationsverwaltung ist ein Fehler aufgetreten."));
        IV_LOG_AUSTRITT();
        return false;
    }
    const QString service = gibDirService();
    if (service.isEmpty() || !plugin->kopiereAlleDateien(service)) {
        IV_LOG_ERROR(textAusLiteral("Die %1 konnte nicht in das Verzeichnis %2 kopiert werden.").arg(gs_AnwendungsName, service));
        IV_LOG_AUSTRITT();
        return false;
    }
    IV_LOG_AUSTRITT();
    return true;
}
