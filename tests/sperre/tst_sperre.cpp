// The start-up lock and the instance protocol with many real processes of the
// program at once, against nginx serving a sample release.

#include "testhilfe/programmlauf.h"
#include "testhilfe/testserver.h"
#include "global/varnelApplication/varnelkern.h"

#include <QDirIterator>
#include <QProcess>
#include <QSettings>
#include <QtTest>

#include <algorithm>
#include <csignal>
#include <functional>
#include <memory>
#include <unistd.h>

namespace {

// The manager's ports of this sandbox.
int ersterPort() { return VarnelKern::portBereich(QStringLiteral("Installationsverwaltung")).first; }
int letzterPort() { return VarnelKern::portBereich(QStringLiteral("Installationsverwaltung")).second - 1; }

// Listening sockets of the manager's port range: inode -> port.
QHash<QByteArray, int> lauscher()
{
    QHash<QByteArray, int> ergebnis;
    QFile tabelle(QStringLiteral("/proc/net/tcp"));
    if (!tabelle.open(QIODevice::ReadOnly))
        return ergebnis;
    for (const QByteArray& zeile : tabelle.readAll().split('\n')) {
        const QList<QByteArray> f = zeile.simplified().split(' ');
        if (f.size() < 10 || f.at(3) != "0A")
            continue;
        const int port = f.at(1).mid(f.at(1).indexOf(':') + 1).toInt(nullptr, 16);
        if (port >= ersterPort() && port <= letzterPort())
            ergebnis.insert(f.at(9), port);
    }
    return ergebnis;
}

// What the descriptors of `pid` point to.
QStringList offen(qint64 pid)
{
    QStringList ziele;
    QDirIterator it(QStringLiteral("/proc/%1/fd").arg(pid), QDir::AllEntries | QDir::System);
    while (it.hasNext())
        ziele << QFile::symLinkTarget(it.next());
    return ziele;
}

// The ports on which `pid` listens in the manager's range.
QList<int> portsVon(qint64 pid, const QHash<QByteArray, int>& lauschend)
{
    QList<int> ports;
    for (const QString& ziel : offen(pid)) {
        const int a = ziel.indexOf(QLatin1String("socket:["));
        const QByteArray inode = a < 0 ? QByteArray() : ziel.mid(a + 8).chopped(1).toLatin1();
        if (lauschend.contains(inode))
            ports << lauschend.value(inode);
    }
    return ports;
}

// A listener answering every question as a manager would; prints its port.
const char* kLauscher = "import socket\n"
                        "s = socket.socket()\n"
                        "import sys\n"
                        "for p in range(int(sys.argv[1]), int(sys.argv[2]) + 1):\n"
                        "    try:\n"
                        "        s.bind(('127.0.0.1', p)); break\n"
                        "    except OSError: pass\n"
                        "s.listen(8); print(p, flush=True)\n"
                        "while True:\n"
                        "    c, _ = s.accept(); c.recv(65536); c.sendall(b'Installationsverwaltung\\n'); c.close()\n";

} // namespace

class TstSperre : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        m_umgebung = std::make_unique<TestUmgebung>();
        m_beispielServer = std::make_unique<BeispielServer>(m_umgebung->pfad(), QStringLiteral(IV_QUELLEN), QStringLiteral(IV_BAU));
        QVERIFY2(m_beispielServer->laeuft(), qPrintable(m_beispielServer->fehler()));
        const QString beispiel = m_beispielServer->beispiel();
        m_wurzel = beispiel + QStringLiteral("/wurzel");
        // Without an intact manager copy in the service folder every hand-over
        // fails and the first process through keeps its wizard, as here tested.
        QVERIFY(QFile::remove(m_wurzel + QStringLiteral("/opt/Fiscalon Update Service/dict/instv_0.vdict")));
        QSettings tavo(tavoIni(), QSettings::IniFormat);
        tavo.setValue(QStringLiteral("UPDATE/QSTestServerUrl"), QStringLiteral("127.0.0.1:%1").arg(m_beispielServer->nginx().port()));
    }
    void cleanupTestCase() { m_beispielServer.reset(); }
    // Plain starts of the main application, all held at the start-up lock by a
    // holder that is then killed, so all 50 go for it at the same moment. The
    // first through registers its port and waits in the wizard; every later one
    // finds it and is turned away. A lock that lets several through at once, or
    // stays taken after its holder died, fails here.
    void fuenfzigGleichzeitig()
    {
        const QString sperrDatei = m_wurzel + QStringLiteral("/run/lock/tavo_app_guard.lock");
        QDir().mkpath(QFileInfo(sperrDatei).absolutePath());
        QProcess halter;
        halter.start(QStringLiteral("/usr/bin/python3"),
                     { QStringLiteral("-c"), QStringLiteral("import fcntl, sys, time\nf = open(sys.argv[1], 'a')\n"
                                                             "fcntl.flock(f, fcntl.LOCK_EX); print('ok', flush=True); time.sleep(600)"),
                       sperrDatei });
        QVERIFY(halter.waitForReadyRead(20000));
        std::vector<std::unique_ptr<QProcess>> prozesse;
        for (int i = 0; i < 50; ++i)
            prozesse.push_back(starte(QStringLiteral("viele"), {}));
        auto zaehle = [&](const std::function<bool(QProcess&)>& wie) {
            return int(std::count_if(prozesse.begin(), prozesse.end(), [&](const auto& p) { return wie(*p); }));
        };
        QElapsedTimer uhr;
        uhr.start();
        int wartend = 0;
        // Within the lock's own bound of 60 s, or the first waiters go on without it.
        while (wartend < 50 && uhr.elapsed() < 45000) {
            QTest::qWait(200);
            wartend = zaehle([&](QProcess& p) { return p.state() == QProcess::Running && offen(p.processId()).contains(sperrDatei); });
        }
        QVERIFY2(wartend >= 40, qPrintable(QString::number(wartend)));
        QCOMPARE(zaehle([](QProcess& p) { return p.state() == QProcess::Running; }), 50);
        ::kill(pid_t(halter.processId()), SIGKILL);
        QVERIFY(halter.waitForFinished(5000));

        int hoechstens = 0, laufend = 50;
        QSet<int> arbeitsPorts;
        uhr.restart();
        while (laufend > 1 && uhr.elapsed() < 240000) {
            const auto offen = lauscher();
            int arbeitende = 0;
            laufend = zaehle([](QProcess& p) { return p.state() != QProcess::NotRunning; });
            for (auto& p : prozesse) {
                const QList<int> ports = p->state() == QProcess::NotRunning ? QList<int>() : portsVon(p->processId(), offen);
                arbeitende += ports.isEmpty() ? 0 : 1;
                for (int port : ports)
                    arbeitsPorts << port;
            }
            hoechstens = qMax(hoechstens, arbeitende);
            QTest::qWait(20);
        }
        QCOMPARE(hoechstens, 1);
        QCOMPARE(arbeitsPorts.size(), 1);
        QCOMPARE(laufend, 1);
        QCOMPARE(zaehle([](QProcess& p) { return p.state() == QProcess::NotRunning && Programmlauf::code(p) == -2; }), 49);
        auto arbeiter = std::find_if(prozesse.begin(), prozesse.end(), [](const auto& p) { return p->state() == QProcess::Running; });
        QCOMPARE(warteEnde(**arbeiter, QStringLiteral("viele")), 128 + SIGTERM);

        // The registration names the worker's port and the file reads cleanly.
        QSettings tavo(tavoIni(), QSettings::IniFormat);
        QCOMPARE(tavo.status(), QSettings::NoError);
        QCOMPARE(tavo.value(QStringLiteral("INSTALLATIONSVERWALTUNG/Installationsverwaltung")).toInt(), *arbeitsPorts.begin());
        QCOMPARE(tavo.childGroups().count(QStringLiteral("INSTALLATIONSVERWALTUNG")), 1);
        const QByteArray log = TestUmgebung::leseDatei(logDatei(QStringLiteral("viele")));
        QCOMPARE(log.count("ExitCode: -2\n"), 49);
        QCOMPARE(log.count("PROGRAMMSTART"), 50);
        QVERIFY(log.contains("Auf die Startsperre tavo_app_guard wurde "));
        // Never removed, never replaced by a link or another file.
        QVERIFY(QFileInfo(sperrDatei).isFile() && !QFileInfo(sperrDatei).isSymLink());
    }
    void fremderLauscher_data()
    {
        QTest::addColumn<bool>("fremd");
        QTest::newRow("eigener Benutzer") << false;
        QTest::newRow("anderer Benutzer") << true;
    }
    void fremderLauscher()
    {
        // Anyone may bind the registered port once it is free and answer like a
        // manager; only a listener of this user or of root turns a start away.
        QFETCH(bool, fremd);
        if (fremd && ::geteuid() != 0)
            QSKIP("Ein Lauscher eines anderen Benutzers braucht root.");
        QProcess lauscher;
        QStringList argumente{ QStringLiteral("/usr/bin/python3"), QStringLiteral("-c"), QString::fromLatin1(kLauscher),
                               QString::number(ersterPort()), QString::number(letzterPort()) };
        if (fremd)
            argumente = QStringList{ QStringLiteral("--reuid=65534"), QStringLiteral("--regid=65534"), QStringLiteral("--clear-groups") } + argumente;
        lauscher.start(fremd ? QStringLiteral("setpriv") : argumente.takeFirst(), argumente);
        QVERIFY(lauscher.waitForReadyRead(20000));
        const int port = lauscher.readAll().trimmed().toInt();
        QVERIFY(port >= ersterPort() && port <= letzterPort());
        {
            QSettings tavo(tavoIni(), QSettings::IniFormat);
            tavo.setValue(QStringLiteral("INSTALLATIONSVERWALTUNG/Installationsverwaltung"), port);
        }
        const QString fall = QStringLiteral("lauscher_%1").arg(int(fremd));
        auto p = starte(fall, {});
        const int ende = warteEnde(*p, fall);
        ::kill(pid_t(lauscher.processId()), SIGKILL);
        lauscher.waitForFinished(5000);
        const QByteArray log = TestUmgebung::leseDatei(logDatei(fall));
        if (fremd) {
            QVERIFY2(ende == 0 || ende == 128 + SIGTERM, log.right(700).constData());
            QVERIFY(log.contains("wird nicht beachtet"));
        } else {
            QCOMPARE(ende, -2);
        }
    }

private:
    std::unique_ptr<QProcess> starte(const QString& fall, const QStringList& schalter)
    {
        const QString benutzer = m_umgebung->pfad() + QStringLiteral("/faelle/") + fall + QStringLiteral("/kora");
        Programmlauf::koraIni(benutzer, QStringLiteral("false"));
        auto p = std::make_unique<QProcess>();
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("FISCALON_WURZEL"), m_wurzel);
        env.insert(QStringLiteral("USER"), QStringLiteral("tester"));
        p->setProcessEnvironment(env);
        p->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        p->start(QStringLiteral(IV_PROGRAMM), schalter + QStringList{ QStringLiteral("--koraDir=") + m_wurzel + QStringLiteral("/opt/Fiscalon"),
                                                                      QStringLiteral("--dirUserKora=") + benutzer });
        p->waitForStarted(10000);
        return p;
    }
    QString logDatei(const QString& fall) const
    {
        return m_umgebung->pfad() + QStringLiteral("/faelle/") + fall + QStringLiteral("/kora/log/installationsverwaltung.log");
    }
    int warteEnde(QProcess& p, const QString& fall) { return Programmlauf::warteEnde(p, logDatei(fall)); }
    QString tavoIni() const { return m_wurzel + QStringLiteral("/etc/xdg/fiscalon/kora/tavo.ini"); }

    std::unique_ptr<TestUmgebung> m_umgebung;
    std::unique_ptr<BeispielServer> m_beispielServer;
    QString m_wurzel;
};

QTEST_GUILESS_MAIN(TstSperre)
#include "tst_sperre.moc"
