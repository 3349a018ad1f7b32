// The local inventory of the engine: which dictionaries stand for which
// part, the records of the manager copy and of the service, the check of a
// manager copy, and keeping a copy in the service directory.

#include "global/plattform/plattform.h"
#include "global/varnelApplication/logbase.h"
#include "pluginManager/dlgPluginManagerDatenmodel.h"
#include "pluginManager/plugin.h"
#include "pluginManager/pluginManager.h"
#include "pluginManager/startwerte.h"
#include "tests/inventar/dicthilfe.h"
#include "tests/testhilfe/testumgebung.h"

#include <QtTest>
#include <memory>

using DictHilfe::Daten;

namespace {

Daten modul(const QString& kurz, const QString& jahr, const QString& ufa, const QString& name)
{
    Daten d;
    d.kurzname = kurz;
    d.jahr = jahr;
    d.unterfallArt = ufa;
    d.langname = name;
    return d;
}

} // namespace

class TstInventar : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void cleanup();

    void nurHauptanwendungUndVerwaltung();
    void istKopieValid_data();
    void istKopieValid();
    void technischeDictionaries_data();
    void technischeDictionaries();
    void dateilisteTechnisch();
    void kopiereIvInsServiceDir();
    void dictTexteInDatei();

private:
    // The running manager's own folder with its signed ".vdict".
    void baueVerwaltung(const QString& ordner, bool alsJson = false);

    QTemporaryDir m_log;
    std::unique_ptr<DictHilfe::Schluessel> m_schluessel;
    std::unique_ptr<TestUmgebung> m_umgebung;
    QString m_kora;
    QString m_iv;
};

void TstInventar::initTestCase()
{
    initLogBase(QStringLiteral("tst_inventar"), 10 * 1024 * 1024, m_log.path());
    m_schluessel = std::make_unique<DictHilfe::Schluessel>(m_log.path() + QStringLiteral("/schluessel"));
    QVERIFY2(m_schluessel->istGueltig(), "openssl could not make a key pair");
    m_schluessel->aktiviere();
}

void TstInventar::cleanupTestCase()
{
    m_schluessel.reset();
    beendeLogBase();
}

void TstInventar::init()
{
    m_umgebung = std::make_unique<TestUmgebung>();
    m_kora = m_umgebung->wurzel() + QStringLiteral("/opt/Fiscalon");
    m_iv = m_kora + QStringLiteral("/installationsverwaltung");
    QDir().mkpath(m_kora);
    gs_KoraDir = QDir::toNativeSeparators(m_kora);
    gs_ProgrammPfad = m_iv + QStringLiteral("/bin/installationsverwaltung");
}

void TstInventar::cleanup()
{
    gs_KoraDir.clear();
    gs_ProgrammPfad.clear();
    m_umgebung.reset();
}

void TstInventar::baueVerwaltung(const QString& ordner, bool alsJson)
{
    Daten d = modul(QStringLiteral("instv"), QStringLiteral("0"), QString(), QStringLiteral("Installationsverwaltung"));
    DictHilfe::datei(d, ordner, QStringLiteral("bin/installationsverwaltung"), "programm");
    DictHilfe::datei(d, ordner, QStringLiteral("lib/libhilfe.so"), "bibliothek");
    QVERIFY(m_schluessel->schreibeDict(ordner + QStringLiteral("/dict/instv_0.vdict"), d, alsJson));
}

void TstInventar::nurHauptanwendungUndVerwaltung()
{
    Daten kora = modul(QStringLiteral("kora"), QStringLiteral("9999"), QStringLiteral("0"), QStringLiteral("Fiscalon"));
    DictHilfe::datei(kora, m_kora, QStringLiteral("bin/kora"), "kora");
    QVERIFY(m_schluessel->schreibeDict(m_kora + QStringLiteral("/dict/kora_0.dict"), kora, false));
    Daten iv = modul(QStringLiteral("instv"), QStringLiteral("0"), QStringLiteral("0"), QStringLiteral("Installationsverwaltung"));
    QVERIFY(m_schluessel->schreibeDict(m_kora + QStringLiteral("/dict/instv_0.dict"), iv, true));

    PluginManager pm;
    pm.lesePluginInfoLokal();
    QCOMPARE(pm.gibDatenmodelInstalliert()->anzahl(), 0);
    QVERIFY(pm.gibPluginKoraInstalliert());
    QCOMPARE(pm.gibPluginKoraInstalliert()->gibDateien(), QStringList { "bin/kora" });
    QCOMPARE(pm.gibDatenmodelInstalliert()->gibHauptanwendung(), pm.gibPluginKoraInstalliert());

    // Read again after the main application went away: no stale record.
    QVERIFY(QFile::remove(m_kora + QStringLiteral("/dict/kora_0.dict")));
    pm.lesePluginInfoLokal();
    QCOMPARE(pm.gibPluginKoraInstalliert(), nullptr);
    QCOMPARE(pm.gibDatenmodelInstalliert()->gibHauptanwendung(), nullptr);
}

void TstInventar::istKopieValid_data()
{
    QTest::addColumn<bool>("alsJson");
    QTest::addColumn<QString>("stoerung");
    QTest::addColumn<bool>("gueltig");
    QTest::newRow("csv intakt") << false << "" << true;
    QTest::newRow("json intakt") << true << "" << true;
    QTest::newRow("json Datei geaendert") << true << "aendern" << false;
    QTest::newRow("csv Datei geaendert") << false << "aendern" << false;
    QTest::newRow("Datei fehlt") << false << "fehlt" << false;
    QTest::newRow("Signatur falsch") << false << "signatur" << false;
    QTest::newRow("ohne Signatur") << false << "ohneSig" << false;
    QTest::newRow("kein dict") << false << "keinDict" << false;
}

void TstInventar::istKopieValid()
{
    QFETCH(bool, alsJson);
    QFETCH(QString, stoerung);
    QFETCH(bool, gueltig);
    const QString kopie = m_umgebung->pfad() + QStringLiteral("/kopie");
    baueVerwaltung(kopie, alsJson);
    const QString vdict = kopie + QStringLiteral("/dict/instv_0.vdict");
    if (stoerung == QLatin1String("aendern"))
        DictHilfe::schreibe(kopie + QStringLiteral("/lib/libhilfe.so"), "fremd");
    else if (stoerung == QLatin1String("fehlt"))
        QVERIFY(QFile::remove(kopie + QStringLiteral("/bin/installationsverwaltung")));
    else if (stoerung == QLatin1String("signatur"))
        DictHilfe::schreibe(vdict + QStringLiteral(".sig"), QByteArray(128, 'x'));
    else if (stoerung == QLatin1String("ohneSig"))
        QVERIFY(QFile::remove(vdict + QStringLiteral(".sig")));
    else if (stoerung == QLatin1String("keinDict"))
        QVERIFY(QDir(kopie + QStringLiteral("/dict")).removeRecursively());
    PluginManager pm;
    QCOMPARE(pm.istKopieValid(kopie), gueltig);
}

void TstInventar::technischeDictionaries_data()
{
    QTest::addColumn<bool>("service");
    QTest::addColumn<QString>("fall");
    QTest::addColumn<bool>("ok");
    for (bool s : { false, true }) {
        const QByteArray t = s ? "Dienst " : "Verwaltung ";
        QTest::newRow(t + "fehlt") << s << "fehlt" << false;
        QTest::newRow(t + "ungueltig") << s << "ungueltig" << false;
        QTest::newRow(t + "unvollstaendig") << s << "unvollstaendig" << false;
        QTest::newRow(t + "gut") << s << "gut" << true;
    }
}

void TstInventar::technischeDictionaries()
{
    QFETCH(bool, service);
    QFETCH(QString, fall);
    QFETCH(bool, ok);
    const QString dir = Plattform::dienstOrdner();
    QDir().mkpath(dir + QStringLiteral("/dict"));
    const QString vdict = dir + (service ? QStringLiteral("/dict/service_0.vdict") : QStringLiteral("/dict/instv_0.vdict"));
    Daten d = modul(service ? "service" : "instv", "0", fall == QLatin1String("unvollstaendig") ? "" : "0",
                    service ? "Dienst" : "Verwaltung");
    if (fall == QLatin1String("unvollstaendig"))
        d.jahr.clear();
    DictHilfe::datei(d, dir, service ? "bin/tavoService" : "bin/installationsverwaltung", "x");
    if (fall != QLatin1String("fehlt"))
        QVERIFY(m_schluessel->schreibeDict(vdict, d, true, fall != QLatin1String("ungueltig")));

    PluginManager pm;
    const bool ergebnis = service ? pm.leseServiceDictInfo() : pm.lesePluginManagerDictInfoServiceDir();
    QCOMPARE(ergebnis, ok);
    Plugin* p = service ? pm.gibPluginService() : pm.gibPluginIvServiceDir();
    QCOMPARE(p != nullptr, ok);
    if (ok)
        QCOMPARE(p->gibDictDatei(), vdict);
}

void TstInventar::dateilisteTechnisch()
{
    const QString dir = Plattform::dienstOrdner();
    Daten iv = modul("instv", "0", "0", "Verwaltung");
    DictHilfe::datei(iv, dir, "bin/installationsverwaltung", "a");
    DictHilfe::datei(iv, dir, "lib/libgemeinsam.so", "b");
    QVERIFY(m_schluessel->schreibeDict(dir + QStringLiteral("/dict/instv_0.vdict"), iv, true));
    Daten sv = modul("service", "0", "0", "Dienst");
    DictHilfe::datei(sv, dir, "bin/tavoService", "c");
    DictHilfe::datei(sv, dir, "lib/libgemeinsam.so", "b");
    QVERIFY(m_schluessel->schreibeDict(dir + QStringLiteral("/dict/service_0.vdict"), sv, false));

    PluginManager pm;
    QCOMPARE(pm.gibDateilisteTechnischePlugins(false, false), QStringList());
    QCOMPARE(pm.gibDateilisteTechnischePlugins(false, true), QStringList({ "bin/tavoService", "lib/libgemeinsam.so" }));
    QCOMPARE(pm.gibDateilisteTechnischePlugins(true, false),
             QStringList({ "bin/installationsverwaltung", "lib/libgemeinsam.so", "bin/tavoService" }));
}

void TstInventar::kopiereIvInsServiceDir()
{
    PluginManager pm;
    // Nothing to copy from: the running manager has no dictionary.
    QVERIFY(!pm.kopiereIvInsServiceDir());

    baueVerwaltung(m_iv);
    const QString service = Plattform::dienstOrdner();
    QVERIFY(pm.kopiereIvInsServiceDir());
    QCOMPARE(TestUmgebung::leseDatei(service + QStringLiteral("/bin/installationsverwaltung")), QByteArray("programm"));
    QCOMPARE(TestUmgebung::leseDatei(service + QStringLiteral("/lib/libhilfe.so")), QByteArray("bibliothek"));
    QVERIFY(QFileInfo::exists(service + QStringLiteral("/dict/instv_0.vdict.sig")));
    QVERIFY(pm.istKopieValid(service));

    // A valid copy is left alone.
    DictHilfe::schreibe(m_iv + QStringLiteral("/lib/libhilfe.so"), "neuer");
    QVERIFY(pm.kopiereIvInsServiceDir());
    QCOMPARE(TestUmgebung::leseDatei(service + QStringLiteral("/lib/libhilfe.so")), QByteArray("bibliothek"));

    // A copy whose dictionary fails its signature is replaced.
    DictHilfe::schreibe(service + QStringLiteral("/dict/instv_0.vdict.sig"), "falsch");
    QVERIFY(pm.kopiereIvInsServiceDir());
    QCOMPARE(TestUmgebung::leseDatei(service + QStringLiteral("/lib/libhilfe.so")), QByteArray("neuer"));

    // An own dictionary that fails its signature is never copied.
    QDir(service).removeRecursively();
    DictHilfe::schreibe(m_iv + QStringLiteral("/dict/instv_0.vdict.sig"), "falsch");
    QVERIFY(!pm.kopiereIvInsServiceDir());
    QVERIFY(!QFileInfo::exists(service + QStringLiteral("/bin/installationsverwaltung")));
}

void TstInventar::dictTexteInDatei()
{
    const QString dict = m_kora + QStringLiteral("/dict/");
    QVERIFY(m_schluessel->schreibeDict(dict + QStringLiteral("est_19.dict"), modul("est", "2019", "10", "Est"), false));
    QVERIFY(m_schluessel->schreibeDict(dict + QStringLiteral("gew_19.dict"), modul("gew", "2019", "20", "Gew"), true));
    QVERIFY(m_schluessel->schreibeDict(dict + QStringLiteral("ust_19.dict"), modul("ust", "2019", "50", "Ust"), false, false));
    const QString aus = m_umgebung->pfad() + QStringLiteral("/dicts.txt");
    PluginManager pm;
    QVERIFY(pm.lesePluginInfoAusPfadInDatei(m_kora, aus));
    const QString text = QString::fromUtf8(TestUmgebung::leseDatei(aus));
    // Only the dictionaries with a valid signature, one after the other.
    QCOMPARE(text.count(QString(82, QLatin1Char('_'))), 2);
    QVERIFY(text.startsWith(QStringLiteral("21.3.0,5,27289,est,2019,Est,")));
    QVERIFY(text.contains(QStringLiteral("\"kurzname\":\"gew\"")));
    QVERIFY(!text.contains(QStringLiteral("ust")));
    QVERIFY(!pm.lesePluginInfoAusPfadInDatei(m_kora, m_umgebung->pfad() + QStringLiteral("/fehlt/x/dicts.txt")));
}

QTEST_GUILESS_MAIN(TstInventar)
#include "tst_inventar.moc"
