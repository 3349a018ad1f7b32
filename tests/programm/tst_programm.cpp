// The real program in real processes: its log and exit codes, and a second
// manager turned away while the first one runs.

#include "global/varnelApplication/einstellungen.h"
#include "testhilfe/testumgebung.h"

#include <QProcess>
#include <QtTest>

#include <csignal>

namespace {

// Exit codes arrive as the low byte of the process status.
int alsStatus(int code) { return code & 0xff; }

class Programm
{
public:
    // The sandbox of the calling test is inherited through the environment.
    explicit Programm(const QStringList& argumente)
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("USER"), QStringLiteral("tester"));
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        env.remove(QStringLiteral("USERNAME"));
        m_prozess.setProcessEnvironment(env);
        m_prozess.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_prozess.start(QStringLiteral(IV_PROGRAMM), argumente);
    }
    ~Programm()
    {
        if (m_prozess.state() != QProcess::NotRunning) {
            m_prozess.kill();
            m_prozess.waitForFinished(5000);
        }
    }
    bool warteAufEnde(int ms = 30000) { return m_prozess.waitForFinished(ms); }
    int status() const { return m_prozess.exitCode(); }
    void beende() { ::kill(pid_t(m_prozess.processId()), SIGTERM); }
    QProcess& prozess() { return m_prozess; }

private:
    QProcess m_prozess;
};

QByteArray logVon(const QString& dir)
{
    return TestUmgebung::leseDatei(dir + QStringLiteral("/log/installationsverwaltung.log"));
}

bool warteAufLog(const QString& dir, const QByteArray& text, int ms = 60000)
{
    return QTest::qWaitFor([&] { return logVon(dir).contains(text); }, ms);
}

} // namespace

// No update server answers: the sandbox points the manager at a closed port
// and, where a user is asked for consent, the answer is already stored.
void ohneServer(const QString& benutzerDir, bool zustimmungGespeichert)
{
    Einstellungen::setAdminWert(QStringLiteral("UPDATE/QSTestServerUrl"), QStringLiteral("127.0.0.1:1"));
    if (zustimmungGespeichert)
        Einstellungen::setKoraWert(QStringLiteral("UPDATE/InternetAccessDialog"), false, benutzerDir);
}

class TstProgramm : public QObject
{
    Q_OBJECT
private slots:
    void logUndExitCode()
    {
        TestUmgebung umgebung;
        const QString dir = umgebung.pfad() + QStringLiteral("/benutzer");
        ohneServer(dir, false);

        // Ended while the consent question waits: the exit-code line still comes
        // before the end line. (The codes of unattended runs are the run tests'.)
        {
            Programm p({ QStringLiteral("--zeigeDlg"), QStringLiteral("--dirUserKora=") + dir });
            QVERIFY(warteAufLog(dir, "Internetzugriffsdialog wird angezeigt."));
            p.beende();
            QVERIFY(p.warteAufEnde());
            QCOMPARE(p.status(), 128 + SIGTERM);
        }
        QByteArray log = logVon(dir);
        QVERIFY(log.contains("Parameter: " IV_PROGRAMM " --zeigeDlg --dirUserKora="));
        QVERIFY(log.contains("zum Beenden aufgefordert"));
        const int exitZeile = log.indexOf("I:1; ExitCode: 143\n");
        QVERIFY(exitZeile > 0);
        QVERIFY(log.indexOf("PROGRAMMENDE") > exitZeile);

        // Removing a module without --koraDir: the log says which dictionary
        // folder was tried and why, and which module was asked for.
        {
            Programm p({ QStringLiteral("--delPlugin=est20"), QStringLiteral("--dirUserKora=") + dir });
            QVERIFY(p.warteAufEnde());
            QCOMPARE(p.status(), alsStatus(-1));
        }
        log = logVon(dir);
        QVERIFY(log.contains("Ohne --koraDir wird die Installation im Elternordner des Programmordners"));
        QVERIFY(log.contains("Gesucht wurde \"est20\""));
    }
    void zweiterProzessWirdAbgewiesen()
    {
        TestUmgebung umgebung;
        const QString dir1 = umgebung.pfad() + QStringLiteral("/erster");
        const QString dir2 = umgebung.pfad() + QStringLiteral("/zweiter");

        ohneServer(dir1, false);
        Programm erster({ QStringLiteral("--zeigeDlg"), QStringLiteral("--dirUserKora=") + dir1 });
        // Past the guard and listening: it waits for the user's consent.
        QVERIFY(warteAufLog(dir1, "Internetzugriffsdialog wird angezeigt."));
        QVERIFY(Einstellungen::getAdminWert(QStringLiteral("INSTALLATIONSVERWALTUNG/Installationsverwaltung")).toInt() > 0);

        {
            Programm zweiter({ QStringLiteral("--dirUserKora=") + dir2 });
            QVERIFY(zweiter.warteAufEnde());
            QCOMPARE(zweiter.status(), alsStatus(-2));
        }
        QByteArray log = logVon(dir2);
        QVERIFY(log.contains("Das Starten der Installationsverwaltung wurde abgebrochen, da bereits eine Instanz der Anwendung aktiv ist."));
        QVERIFY(log.contains("I:1; ExitCode: -2\n"));

        // A restart (--i2, like --esStart and --admin) and the service's check are not turned away.
        for (const QString& schalter : { QStringLiteral("--i2"), QStringLiteral("--updatepruefung") }) {
            const QString dir = umgebung.pfad() + QLatin1Char('/') + schalter.mid(2);
            ohneServer(dir, true);
            Programm weiterer({ schalter, QStringLiteral("--dirUserKora=") + dir });
            QVERIFY(weiterer.warteAufEnde());
            QCOMPARE(weiterer.status(), 2);
            QVERIFY2(!logVon(dir).contains("Das Starten der Installationsverwaltung wurde abgebrochen"), qPrintable(schalter));
        }

        erster.beende();
        QVERIFY(erster.warteAufEnde());
    }
    // The usage comes before everything else: with the dialog switch beside it
    // no consent question waits, and neither a log nor a settings file is written.
    void hilfe_data()
    {
        QTest::addColumn<QStringList>("argumente");
        QTest::newRow("--help") << QStringList{ QStringLiteral("--help") };
        QTest::newRow("-h mit Dialog") << QStringList{ QStringLiteral("--zeigeDlg"), QStringLiteral("-h") };
    }
    void hilfe()
    {
        QFETCH(QStringList, argumente);
        TestUmgebung umgebung;
        const QString dir = umgebung.pfad() + QStringLiteral("/benutzer");
        auto dateien = [&umgebung] {
            QStringList liste;
            QDirIterator it(umgebung.pfad(), QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
            while (it.hasNext())
                liste << it.next();
            return liste;
        };
        const QStringList vorher = dateien();
        Programm p(argumente << QStringLiteral("--dirUserKora=") + dir);
        QVERIFY(p.warteAufEnde(10000));
        QCOMPARE(p.status(), 0);
        const QByteArray ausgabe = p.prozess().readAllStandardOutput();
        QVERIFY(ausgabe.startsWith("Aufruf: installationsverwaltung"));
        QVERIFY(ausgabe.contains("--delPlugin=MODUL") && ausgabe.contains("z. B. est20") && ausgabe.contains("Exit-Codes"));
        QCOMPARE(dateien(), vorher);
    }
};

QTEST_GUILESS_MAIN(TstProgramm)
#include "tst_programm.moc"
