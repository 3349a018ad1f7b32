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
    void kopiereIvInsServiceDir();

private:
    // The running manager's own folder with its signed ".vdict".
    void baueVerwaltung(const QString& ordner, bool alsJson = false);

    TestLog m_log { "tst_inventar" };
    QTemporaryDir m_tmp;
    std::unique_ptr<DictHilfe::Schluessel> m_schluessel;
    std::unique_ptr<TestUmgebung> m_umgebung;
    QString m_kora;
    QString m_iv;
};

void TstInventar::initTestCase()
{
    m_schluessel = std::make_unique<DictHilfe::Schluessel>(m_tmp.path());
    QVERIFY2(m_schluessel->istGueltig(), "openssl could not make a key pair");
    m_schluessel->aktiviere();
}

void TstInventar::cleanupTestCase()
{
    m_schluessel.reset();
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
    // An intact csv copy and a forged signature: see kopiereIvInsServiceDir.
    QTest::newRow("json intakt") << true << "" << true;
    QTest::newRow("csv Datei geaendert") << false << "aendern" << false;
    QTest::newRow("Datei fehlt") << false << "fehlt" << false;
    QTest::newRow("kein dict") << false << "keinDict" << false;
}

void TstInventar::istKopieValid()
{
    QFETCH(bool, alsJson);
    QFETCH(QString, stoerung);
    QFETCH(bool, gueltig);
    const QString kopie = m_umgebung->pfad() + QStringLiteral("/kopie");
    baueVerwaltung(kopie, alsJson);
    if (stoerung == QLatin1String("aendern"))
        DictHilfe::schreibe(kopie + QStringLiteral("/lib/libhilfe.so"), "fremd");
    else if (stoerung == QLatin1String("fehlt"))
        QVERIFY(QFile::remove(kopie + QStringLiteral("/bin/installationsverwaltung")));
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
    QTest::newRow("Verwaltung gut") << false << "gut" << true;
    QTest::newRow("Verwaltung unvollstaendig") << false << "unvollstaendig" << false;
    QTest::newRow("Dienst gut") << true << "gut" << true;
    QTest::newRow("Dienst fehlt") << true << "fehlt" << false;
    QTest::newRow("Dienst ungueltig") << true << "ungueltig" << false;
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

void TstInventar::kopiereIvInsServiceDir()
{
    PluginManager pm;
    // Nothing to copy from: the running manager has no dictionary.
    QVERIFY(!pm.kopiereIvInsServiceDir());

    baueVerwaltung(m_iv);
    const QString service = Plattform::dienstOrdner();
    QVERIFY(pm.kopiereIvInsServiceDir());
    QVERIFY(pm.istKopieValid(service));

    // A valid copy is left alone.
    DictHilfe::schreibe(m_iv + QStringLiteral("/lib/libhilfe.so"), "neuer");
    QVERIFY(pm.kopiereIvInsServiceDir());
    QCOMPARE(TestUmgebung::leseDatei(service + QStringLiteral("/lib/libhilfe.so")), QByteArray("bibliothek"));

    // A copy whose dictionary fails its signature is replaced.
    DictHilfe::schreibe(service + QStringLiteral("/dict/instv_0.vdict.sig"), "falsch");
    QVERIFY(pm.kopiereIvInsServiceDir());
    QCOMPARE(TestUmgebung::leseDatei(service + QStringLiteral("/lib/libhilfe.so")), QByteArray("neuer"));
    // That file changed after signing: the copy holding it does not count as valid.
    QVERIFY(!pm.istKopieValid(service));

    // An own dictionary that fails its signature is never copied.
    QDir(service).removeRecursively();
    DictHilfe::schreibe(m_iv + QStringLiteral("/dict/instv_0.vdict.sig"), "falsch");
    QVERIFY(!pm.kopiereIvInsServiceDir());
    QVERIFY(!QFileInfo::exists(service + QStringLiteral("/bin/installationsverwaltung")));
}

QTEST_GUILESS_MAIN(TstInventar)
#include "tst_inventar.moc"
