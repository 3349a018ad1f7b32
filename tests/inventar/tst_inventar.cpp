// The engine's local inventory: which dictionaries stand for which part, the
// manager copy in the service folder, and a sample installation.

#include "global/plattform/plattform.h"
#include "global/varnelApplication/logbase.h"
#include "pluginManager/dlgPluginManagerDatenmodel.h"
#include "pluginManager/plugin.h"
#include "pluginManager/pluginManager.h"
#include "pluginManager/startwerte.h"
#include "tests/inventar/dicthilfe.h"
#include "tests/testhilfe/testserver.h"
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

struct Teil
{
    QString datei;   // dictionary file name
    QString form;    // csv / json
    QString kurz;
    QString jahr;
    QString ufa;
    QString name;
    QString signatur; // gut, falsch, md5liste, keine
};

} // namespace

class TstInventar : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        m_schluessel = std::make_unique<DictHilfe::Schluessel>(m_tmp.path());
        QVERIFY2(m_schluessel->istGueltig(), "openssl could not make a key pair");
        m_schluessel->aktiviere();
    }
    void cleanupTestCase() { m_schluessel.reset(); }
    void init()
    {
        m_umgebung = std::make_unique<TestUmgebung>();
        m_kora = m_umgebung->wurzel() + QStringLiteral("/opt/Fiscalon");
        m_iv = m_kora + QStringLiteral("/installationsverwaltung");
        QDir().mkpath(m_kora);
        gs_KoraDir = QDir::toNativeSeparators(m_kora);
        gs_ProgrammPfad = m_iv + QStringLiteral("/bin/installationsverwaltung");
    }
    void cleanup()
    {
        m_schluessel->aktiviere();
        gs_KoraDir.clear();
        gs_ProgrammPfad.clear();
        m_umgebung.reset();
    }

    void istKopieValid_data()
    {
        QTest::addColumn<bool>("alsJson");
        QTest::addColumn<QString>("stoerung");
        QTest::addColumn<bool>("gueltig");
        // A csv copy, intact and with a file changed after signing: see kopiereIvInsServiceDir.
        QTest::newRow("json intakt") << true << "" << true;
        QTest::newRow("Datei fehlt") << false << "fehlt" << false;
        QTest::newRow("kein dict") << false << "keinDict" << false;
    }
    void istKopieValid()
    {
        QFETCH(bool, alsJson);
        QFETCH(QString, stoerung);
        QFETCH(bool, gueltig);
        const QString kopie = m_umgebung->pfad() + QStringLiteral("/kopie");
        baueVerwaltung(kopie, alsJson);
        if (stoerung == QLatin1String("fehlt"))
            QVERIFY(QFile::remove(kopie + QStringLiteral("/bin/installationsverwaltung")));
        else if (stoerung == QLatin1String("keinDict"))
            QVERIFY(QDir(kopie + QStringLiteral("/dict")).removeRecursively());
        PluginManager pm;
        QCOMPARE(pm.istKopieValid(kopie), gueltig);
    }
    void technischeDictionaries_data()
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
    void technischeDictionaries()
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
    void kopiereIvInsServiceDir()
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
    // Made with the publishing tool: both dictionary forms, a forged signature,
    // an incomplete record, one trusted only through the built-in MD5 list, one
    // unsigned. The inventory must find exactly the sound modules.
    void beispielinstallation()
    {
        const QList<Teil> teile = {
            { "kora_0.dict", "csv", "kora", "9999", "0", "Fiscalon", "gut" },
            { "instv_0.dict", "json", "instv", "0", "0", "Installationsverwaltung", "gut" },
            { "est_19.dict", "csv", "est", "2019", "10", "Einkommensteuererklaerung", "gut" },
            { "est_20.dict", "json", "est", "2020", "10", "Einkommensteuererklaerung", "gut" },
            { "gew_21.dict", "csv", "gew", "2021", "20", "Gewerbesteuererklaerung", "falsch" },
            { "ust_21.dict", "csv", "ust", "2021", "50", "Umsatzsteuererklaerung", "md5liste" },
            { "usta_21.dict", "json", "usta", "2021", "58", "Umsatzsteuer-Voranmeldung", "keine" },
            { "lstb_21.dict", "json", "lstb", "", "", "Lohnsteuerbescheinigungen", "gut" },
            { "dfv_9999.dict", "csv", "dfv", "9999", "56", "Antrag auf Dauerfristverlaengerung", "gut" },
            // Beside the main application only ".dict" files are modules.
            { "abc_21.vdict", "json", "abc", "2021", "13", "Abc", "gut" },
        };
        QList<QPair<QString, QString>> md5Liste;
        for (const Teil& t : teile) {
            // Published from a folder of its own, then copied in as its archive would be unpacked.
            const QString ordner = m_umgebung->pfad() + QStringLiteral("/teile/") + t.kurz + t.jahr;
            DictHilfe::schreibe(ordner + QStringLiteral("/plugins/") + t.kurz + t.jahr + QStringLiteral(".so"),
                                (t.kurz + t.jahr).toUtf8());
            if (t.kurz == QLatin1String("kora")) {
                DictHilfe::schreibe(ordner + QStringLiteral("/bin/kora"), "hauptprogramm");
                DictHilfe::schreibe(ordner + QStringLiteral("/hilfe/index.html"), "<html/>");
            }
            QStringList arg = { "dict", "--ordner", ordner, "--name", t.datei, "--form", t.form, "--kurzname", t.kurz,
                                "--langname", t.name, "--versionsNummer", "21.3.0", "--anwendungInterfaceNummer", "5",
                                "--revision", "27289", "--pluginAlleVersionsNummer", "10",
                                "--pluginGruppeVersionsNummer", "2", "--pluginVersionsNummer", "3" };
            if (!t.jahr.isEmpty())
                arg << "--veranlagungszeitraum" << t.jahr;
            if (!t.ufa.isEmpty())
                arg << "--unterfallArtID" << t.ufa;
            if (t.signatur == QLatin1String("gut") || t.signatur == QLatin1String("falsch"))
                arg << "--schluessel" << m_schluessel->privat;
            const KryptoTest::Lauf l = KryptoTest::werkzeug(arg);
            QVERIFY2(l.code == 0, qPrintable(l.fehler));
            const QString dict = ordner + QStringLiteral("/dict/") + t.datei;
            if (t.signatur == QLatin1String("md5liste"))
                md5Liste.append({ t.datei, DictHilfe::md5(TestUmgebung::leseDatei(dict)) });
            kopiereOrdner(ordner, m_kora);
        }
        // A signature that belongs to another dictionary.
        const QString fremd = m_kora + QStringLiteral("/dict/est_20.dict.sig");
        QVERIFY(QFile::remove(m_kora + QStringLiteral("/dict/gew_21.dict.sig")));
        QVERIFY(QFile::copy(fremd, m_kora + QStringLiteral("/dict/gew_21.dict.sig")));

        // The built-in MD5 list names one dictionary (cleanup() puts the empty one back).
        QJsonObject data;
        for (const auto& e : md5Liste)
            data.insert(e.first, QJsonArray { e.second });
        const QString liste = m_umgebung->pfad() + QStringLiteral("/md5.json");
        DictHilfe::schreibe(liste, QJsonDocument(QJsonObject { { QStringLiteral("data"), data } }).toJson());
        Crypto::setzeQuellen(m_schluessel->oeffentlich, liste);

        PluginManager pm;
        pm.lesePluginInfoLokal();
        const DlgPluginManagerDatenmodel* m = pm.gibDatenmodelInstalliert();
        QStringList gefunden;
        for (int i = 0; i < m->anzahl(); ++i)
            gefunden << m->gibPlugin(i)->gibKurznameMitJahr();
        // In the order of the file names.
        QCOMPARE(gefunden, QStringList({ "dfv", "est19", "est20", "ust21" }));

        const Plugin* ust21 = m->gibPlugin(3);
        QCOMPARE(ust21->gibUnterfallArt(), 50u);
        QCOMPARE(ust21->gibDateien(), QStringList { "plugins/ust2021.so" });
        QCOMPARE(ust21->gibGroesseDateien(), quint64(QByteArray("ust2021").size()));
        QCOMPARE(m->gibPlugin(0)->gibAnzeigename(), QStringLiteral("Antrag auf Dauerfristverl&auml;ngerung"));

        const Plugin* kora = pm.gibPluginKoraInstalliert();
        QVERIFY(kora);
        QCOMPARE(pm.gibDatenmodelInstalliert()->gibHauptanwendung(), kora);
        const QStringList felder { kora->gibKurzname(), kora->gibName(), QString::number(kora->gibJahr()),
                                   kora->gibVersion(), QString::number(kora->gibInterfaceNr()),
                                   QString::number(kora->gibRev()), QString::number(kora->gibNrAlle()),
                                   QString::number(kora->gibNrGr()), QString::number(kora->gibNrPlugin()) };
        QCOMPARE(felder, QStringList({ "kora", "Fiscalon", "9999", "21.3.0", "5", "27289", "10", "2", "3" }));
        QCOMPARE(kora->gibDateien(), QStringList({ "bin/kora", "hilfe/index.html", "plugins/kora9999.so" }));
        QCOMPARE(kora->gibDictDatei(), QDir::toNativeSeparators(m_kora + QStringLiteral("/dict/kora_0.dict")));
        QVERIFY(kora->istInitialisiert());

        // Read again after the main application went away: no stale record.
        QVERIFY(QFile::remove(m_kora + QStringLiteral("/dict/kora_0.dict")));
        pm.lesePluginInfoLokal();
        QCOMPARE(pm.gibPluginKoraInstalliert(), nullptr);
        QCOMPARE(pm.gibDatenmodelInstalliert()->gibHauptanwendung(), nullptr);
        QCOMPARE(pm.gibDatenmodelInstalliert()->anzahl(), 4);
    }

private:
    // The running manager's own folder with its signed ".vdict".
    void baueVerwaltung(const QString& ordner, bool alsJson = false)
    {
        Daten d = modul(QStringLiteral("instv"), QStringLiteral("0"), QString(), QStringLiteral("Installationsverwaltung"));
        DictHilfe::datei(d, ordner, QStringLiteral("bin/installationsverwaltung"), "programm");
        DictHilfe::datei(d, ordner, QStringLiteral("lib/libhilfe.so"), "bibliothek");
        QVERIFY(m_schluessel->schreibeDict(ordner + QStringLiteral("/dict/instv_0.vdict"), d, alsJson));
    }

    TestLog m_log { "tst_inventar" };
    QTemporaryDir m_tmp;
    std::unique_ptr<DictHilfe::Schluessel> m_schluessel;
    std::unique_ptr<TestUmgebung> m_umgebung;
    QString m_kora;
    QString m_iv;
};

QTEST_GUILESS_MAIN(TstInventar)
#include "tst_inventar.moc"
