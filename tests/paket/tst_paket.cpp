// The Debian package as a user gets it: built once per build folder, checked
// with lintian, unpacked beside the sample installation, and its manager run
// for an update check against the sample server. IV_PAKET=0 skips it.

#include "pluginManager/pluginManager.h"
#include "testhilfe/programmlauf.h"
#include "testhilfe/testserver.h"

#include <QDirIterator>
#include <QProcess>
#include <QSettings>
#include <QtTest>
#include <memory>

namespace {

const QString kDienstordner = QStringLiteral("/opt/Fiscalon Update Service");

struct Ergebnis {
    int code = -1;
    QByteArray ausgabe;
};

Ergebnis fuehreAus(const QString& programm, const QStringList& argumente, int ms = 120000,
                   const QProcessEnvironment& env = QProcessEnvironment::systemEnvironment())
{
    QProcess p;
    p.setProcessEnvironment(env);
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(programm, argumente);
    Ergebnis e;
    if (!p.waitForFinished(ms)) {
        p.kill();
        p.waitForFinished(5000);
        e.ausgabe = "Zeit abgelaufen: " + programm.toUtf8();
        return e;
    }
    e.code = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    e.ausgabe = p.readAll();
    return e;
}

// Copies the sample's installed files that the package does not bring.
void ergaenze(const QString& quelle, const QString& ziel)
{
    QDirIterator it(quelle, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString datei = it.next();
        const QString nach = ziel + datei.mid(quelle.size());
        if (QFileInfo::exists(nach))
            continue;
        QDir().mkpath(QFileInfo(nach).absolutePath());
        QFile::copy(datei, nach);
    }
}

} // namespace

class TstPaket : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        if (qEnvironmentVariable("IV_PAKET") == QLatin1String("0"))
            QSKIP("IV_PAKET=0: der Paket-Test ist abgeschaltet.");
        if (!QFileInfo::exists(m_schluessel + QStringLiteral("/keyprivate.pem")))
            QSKIP("Der Build hat keinen Entwicklungsschluessel (FISCALON_PUBLIC_KEY gesetzt).");
        m_umgebung = std::make_unique<TestUmgebung>();

        // The package, signed with this build's key so the sample server's index verifies.
        const QString ausgabe = QStringLiteral(IV_BAU "/paket");
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("FISCALON_PUBLIC_KEY"), m_schluessel + QStringLiteral("/keypublic.pem"));
        env.insert(QStringLiteral("FISCALON_PRIVATE_KEY"), m_schluessel + QStringLiteral("/keyprivate.pem"));
        env.insert(QStringLiteral("IV_KEINE_PAKETINSTALLATION"), QStringLiteral("1"));
        env.insert(QStringLiteral("IV_PAKET_OHNE_LINTIAN"), QStringLiteral("1")); // lintian() checks every run
        const Ergebnis bau = fuehreAus(QStringLiteral("bash"),
                                       { QStringLiteral(IV_QUELLEN "/scripts/paket"), QStringLiteral("--wenn-noetig"), ausgabe },
                                       3000000, env);
        QVERIFY2(bau.code == 0, bau.ausgabe.right(3000).constData());
        for (const char* name : { "fiscalon-installationsverwaltung", "fiscalon-veroeffentlichen" }) {
            const QStringList treffer = QDir(ausgabe).entryList({ QLatin1String(name) + QStringLiteral("_*.deb") });
            QVERIFY2(treffer.size() == 1, name);
            m_pakete << ausgabe + QLatin1Char('/') + treffer.first();
        }

        // Unpacked into a root of its own and completed with the sample's installation.
        m_wurzel = m_umgebung->pfad() + QStringLiteral("/paketwurzel");
        for (const QString& paket : qAsConst(m_pakete)) {
            const Ergebnis x = fuehreAus(QStringLiteral("dpkg"), { QStringLiteral("-x"), paket, m_wurzel });
            QVERIFY2(x.code == 0, x.ausgabe.constData());
        }
        m_mitDienst = QFileInfo(m_wurzel + kDienstordner + QStringLiteral("/bin/tavoService")).isExecutable();
        m_beispielServer = std::make_unique<BeispielServer>(m_umgebung->pfad(), QStringLiteral(IV_QUELLEN), QStringLiteral(IV_BAU));
        QVERIFY2(m_beispielServer->laeuft(), qPrintable(m_beispielServer->fehler()));
        const QString beispiel = m_beispielServer->beispiel();
        ergaenze(beispiel + QStringLiteral("/wurzel"), m_wurzel);
    }
    void cleanupTestCase() { m_beispielServer.reset(); }
    void lintian()
    {
        const Ergebnis l = fuehreAus(QStringLiteral("lintian"), QStringList{ QStringLiteral("--fail-on"), QStringLiteral("error") } + m_pakete,
                                     600000);
        qInfo("%s", l.ausgabe.constData());
        QVERIFY2(l.code == 0, l.ausgabe.constData());
    }
    // The programs and their dictionaries prove themselves below by running
    // and being verified; these only have to be there, as data.
    void inhalt_data()
    {
        QTest::addColumn<QString>("pfad");
        QTest::newRow("Unit") << "/lib/systemd/system/TavoService.service";
        QTest::newRow("Socket-Unit") << "/lib/systemd/system/TavoService.socket";
        QTest::newRow("polkit") << "/usr/share/polkit-1/actions/de.fiscalon.installationsverwaltung.policy";
        QTest::newRow("Startmenue") << "/usr/share/applications/de.fiscalon.installationsverwaltung.desktop";
        QTest::newRow("Symbol") << "/usr/share/icons/hicolor/scalable/apps/de.fiscalon.installationsverwaltung.svg";
        QTest::newRow("AppStream") << "/usr/share/metainfo/de.fiscalon.installationsverwaltung.metainfo.xml";
        QTest::newRow("man Verwaltung") << "/usr/share/man/de/man1/installationsverwaltung.1.gz";
        QTest::newRow("man Werkzeug") << "/usr/share/man/de/man1/fiscalon-veroeffentlichen.1.gz";
    }
    void inhalt()
    {
        QFETCH(QString, pfad);
        const QFileInfo info(m_wurzel + pfad);
        QVERIFY2(info.isFile() && !info.isExecutable(), qPrintable(pfad));
    }
    void dienstkopie()
    {
        // The stripped programs pass the manager's check before a start; the packaged tool agrees.
        PluginManager pm;
        QVERIFY(pm.istKopieValid(m_wurzel + kDienstordner));
        // Nothing here runs the copy the service starts: it can be, with every library found.
        const QString kopie = m_wurzel + kDienstordner + QStringLiteral("/bin/installationsverwaltung");
        QVERIFY(QFileInfo(kopie).isExecutable());
        const Ergebnis l = fuehreAus(QStringLiteral("ldd"), { kopie });
        QVERIFY2(l.code == 0 && !l.ausgabe.contains("not found"), l.ausgabe.constData());
        QVERIFY(pm.istKopieValid(m_wurzel + QStringLiteral("/opt/Fiscalon")));
        QStringList argumente = { QStringLiteral("pruefe"), QStringLiteral("--oeffentlich"),
                                  m_schluessel + QStringLiteral("/keypublic.pem"),
                                  m_wurzel + QStringLiteral("/opt/Fiscalon/dict/instv_0.vdict"),
                                  m_wurzel + kDienstordner + QStringLiteral("/dict/instv_0.vdict") };
        // The update service program, once the build has it, with its own dictionary.
        QCOMPARE(m_mitDienst, QFileInfo::exists(QStringLiteral(IV_BAU "/werkzeuge/tavodienst/tavodienst")));
        if (m_mitDienst)
            argumente << m_wurzel + kDienstordner + QStringLiteral("/dict/service_0.vdict");
        const Ergebnis p = fuehreAus(m_wurzel + QStringLiteral("/usr/bin/fiscalon-veroeffentlichen"), argumente);
        QVERIFY2(p.code == 0, p.ausgabe.constData());
    }
    void dienstNichtGestartet()
    {
        // Installing never starts the service: only a hand-over does (a static unit needs no script).
        const Ergebnis e = fuehreAus(QStringLiteral("dpkg-deb"), { QStringLiteral("-I"), m_pakete.first(), QStringLiteral("postinst") });
        QVERIFY2(e.code == 0 || e.ausgabe.contains("no control component 'postinst'"), e.ausgabe.constData());
        QVERIFY2(!e.ausgabe.contains("deb-systemd-invoke"), e.ausgabe.constData());
    }
    void updatePruefung()
    {
        // As the main application starts it, without --koraDir: the folder above the program's.
        QSettings tavo(m_wurzel + QStringLiteral("/etc/xdg/fiscalon/kora/tavo.ini"), QSettings::IniFormat);
        tavo.setValue(QStringLiteral("UPDATE/QSTestServerUrl"), QStringLiteral("127.0.0.1:%1").arg(m_beispielServer->nginx().port()));
        tavo.sync();
        const QString benutzer = m_umgebung->pfad() + QStringLiteral("/benutzer/kora");
        Programmlauf::koraIni(benutzer);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("FISCALON_WURZEL"), m_wurzel);
        env.insert(QStringLiteral("USER"), QStringLiteral("tester"));
        const Ergebnis e = fuehreAus(m_wurzel + QStringLiteral("/opt/Fiscalon/bin/installationsverwaltung"),
                                     { QStringLiteral("--updatepruefung"), QStringLiteral("--dirUserKora=") + benutzer }, 120000,
                                     env);
        const QByteArray log = TestUmgebung::leseDatei(benutzer + QStringLiteral("/log/installationsverwaltung.log"));
        QVERIFY2(e.code == 1, (e.ausgabe + log.right(1500)).constData());
        QVERIFY(log.contains("I:1; ExitCode: 1\n"));
        // Its translations are built in, its key verified the server's index.
        QVERIFY2(!log.contains("translation_de.qm"), log.constData());
        QVERIFY(log.contains(QFile::encodeName(m_wurzel + QStringLiteral("/opt/Fiscalon"))));
        QVERIFY2(m_beispielServer->nginx().zugriffe().join(QLatin1Char('\n')).contains(QStringLiteral("inhalt_downloadverzeichnis.zip|200")),
                 qPrintable(m_beispielServer->nginx().zugriffe().join(QLatin1Char('\n'))));
    }

private:
    std::unique_ptr<TestUmgebung> m_umgebung;
    std::unique_ptr<BeispielServer> m_beispielServer;
    QStringList m_pakete;
    QString m_wurzel;
    bool m_mitDienst = false; // the package brought the update service program
    QString m_schluessel = QStringLiteral(IV_BAU "/entwicklungsschluessel");
};

QTEST_GUILESS_MAIN(TstPaket)
#include "tst_paket.moc"
