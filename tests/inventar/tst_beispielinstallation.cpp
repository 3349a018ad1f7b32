// A sample installation made with the publishing tool, the way the update
// server's side makes it: the main application, the manager and a dozen
// modules in both dictionary forms, among them one with a bad signature, one
// incomplete, one trusted only through the built-in MD5 list and one that is
// not signed at all. The local inventory must find exactly the sound ones.

#include "global/crypto/crypto.h"
#include "pluginManager/dlgPluginManagerDatenmodel.h"
#include "pluginManager/plugin.h"
#include "pluginManager/pluginManager.h"
#include "pluginManager/startwerte.h"
#include "tests/inventar/dicthilfe.h"
#include "tests/testhilfe/testumgebung.h"

#include <QDirIterator>
#include <QtTest>

namespace {

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

// Copies every file of `von` into `nach`, merging folders.
bool verschmelze(const QString& von, const QString& nach)
{
    QDirIterator it(von, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString quelle = it.next();
        const QString ziel = nach + QLatin1Char('/') + QDir(von).relativeFilePath(quelle);
        QDir().mkpath(QFileInfo(ziel).absolutePath());
        QFile::remove(ziel);
        if (!QFile::copy(quelle, ziel))
            return false;
    }
    return true;
}

} // namespace

class TstBeispielinstallation : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void installierteListe();
    void hauptanwendung();

private:
    TestLog m_log { "tst_beispielinstallation" };
    QTemporaryDir m_tmp;
    KryptoTest::Schluesselpaar m_paar;
    std::unique_ptr<TestUmgebung> m_umgebung;
    QString m_kora;
    PluginManager* m_pm = nullptr;
};

void TstBeispielinstallation::initTestCase()
{
    m_umgebung = std::make_unique<TestUmgebung>();
    m_kora = m_umgebung->wurzel() + QStringLiteral("/opt/Fiscalon");
    QVERIFY(m_paar.erzeuge(m_tmp.path() + QStringLiteral("/paar")));

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
        // Each part is published from a folder of its own, then unpacked
        // into the installation like its archive would be.
        const QString ordner = m_tmp.path() + QStringLiteral("/teile/") + t.kurz + t.jahr;
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
            arg << "--schluessel" << m_paar.privat;
        const KryptoTest::Lauf l = KryptoTest::werkzeug(arg);
        QVERIFY2(l.code == 0, qPrintable(l.fehler));
        const QString dict = ordner + QStringLiteral("/dict/") + t.datei;
        if (t.signatur == QLatin1String("md5liste"))
            md5Liste.append({ t.datei, DictHilfe::md5(TestUmgebung::leseDatei(dict)) });
        QVERIFY(verschmelze(ordner, m_kora));
    }
    // A signature that belongs to another dictionary.
    const QString fremd = m_kora + QStringLiteral("/dict/est_20.dict.sig");
    QVERIFY(QFile::remove(m_kora + QStringLiteral("/dict/gew_21.dict.sig")));
    QVERIFY(QFile::copy(fremd, m_kora + QStringLiteral("/dict/gew_21.dict.sig")));

    // The built-in key and MD5 list of this build are replaced by the test's.
    QJsonObject data;
    for (const auto& e : md5Liste)
        data.insert(e.first, QJsonArray { e.second });
    DictHilfe::schreibe(m_paar.md5Liste, QJsonDocument(QJsonObject { { QStringLiteral("data"), data } }).toJson());
    m_paar.aktiviere();

    gs_KoraDir = QDir::toNativeSeparators(m_kora);
    m_pm = new PluginManager;
    m_pm->lesePluginInfoLokal();
}

void TstBeispielinstallation::cleanupTestCase()
{
    delete m_pm;
    m_umgebung.reset();
}

void TstBeispielinstallation::installierteListe()
{
    const DlgPluginManagerDatenmodel* m = m_pm->gibDatenmodelInstalliert();
    QStringList gefunden;
    for (int i = 0; i < m->anzahl(); ++i)
        gefunden << m->gibPlugin(i)->gibKurznameMitJahr();
    // In the order of the file names; without the main application, the
    // manager, the forged and the unsigned dictionary, the incomplete one and
    // the ".vdict".
    QCOMPARE(gefunden, QStringList({ "dfv", "est19", "est20", "ust21" }));

    const Plugin* ust21 = m->gibPlugin(3);
    QCOMPARE(ust21->gibUnterfallArt(), 50u);
    QCOMPARE(ust21->gibDateien(), QStringList { "plugins/ust2021.so" });
    QCOMPARE(ust21->gibGroesseDateien(), quint64(QByteArray("ust2021").size()));
    QCOMPARE(m->gibPlugin(0)->gibAnzeigename(), QStringLiteral("Antrag auf Dauerfristverl&auml;ngerung"));
    QCOMPARE(m->rowCount(), 4);
}

void TstBeispielinstallation::hauptanwendung()
{
    const Plugin* kora = m_pm->gibPluginKoraInstalliert();
    QVERIFY(kora);
    QCOMPARE(m_pm->gibDatenmodelInstalliert()->gibHauptanwendung(), kora);
    const QStringList felder { kora->gibKurzname(), kora->gibName(), QString::number(kora->gibJahr()),
                               kora->gibVersion(), QString::number(kora->gibInterfaceNr()),
                               QString::number(kora->gibRev()), QString::number(kora->gibNrAlle()),
                               QString::number(kora->gibNrGr()), QString::number(kora->gibNrPlugin()) };
    QCOMPARE(felder, QStringList({ "kora", "Fiscalon", "9999", "21.3.0", "5", "27289", "10", "2", "3" }));
    QCOMPARE(kora->gibDateien(), QStringList({ "bin/kora", "hilfe/index.html", "plugins/kora9999.so" }));
    QCOMPARE(kora->gibDictDatei(), QDir::toNativeSeparators(m_kora + QStringLiteral("/dict/kora_0.dict")));
    QVERIFY(kora->istInitialisiert());
}

QTEST_GUILESS_MAIN(TstBeispielinstallation)
#include "tst_beispielinstallation.moc"
