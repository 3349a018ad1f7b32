// The manager as a desktop user runs it: user 65534 in group users (through
// setpriv, no account is made) over a sandbox whose tavo.ini folder belongs to
// root with the rights the package gives it, and root runs that write into
// the same user's folders. Against nginx serving a sample release.

#include "global/varnelApplication/varnelkern.h"
#include "testhilfe/programmlauf.h"
#include "testhilfe/testserver.h"

#include <QProcess>
#include <QSettings>
#include <QtTest>

#include <csignal>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr uid_t kBenutzer = 65534;
constexpr gid_t kGruppe = 100; // "users" on Debian

void setze(const QString& pfad, uid_t uid, gid_t gid, mode_t modus)
{
    QVERIFY2(::chown(QFile::encodeName(pfad).constData(), uid, gid) == 0, qPrintable(pfad));
    QVERIFY2(::chmod(QFile::encodeName(pfad).constData(), modus) == 0, qPrintable(pfad));
}

QStringList fremdeEintraege(const QString& ordner) { return Programmlauf::fremdeEintraege(ordner, kBenutzer); }

} // namespace

class TstBenutzer : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        if (::geteuid() != 0)
            QSKIP("Die L\u00e4ufe als anderer Benutzer brauchen root (setpriv).");
        if (QStandardPaths::findExecutable(QStringLiteral("setpriv")).isEmpty())
            QSKIP("setpriv fehlt.");
        // The program must be reachable for user 65534.
        if (::access(IV_PROGRAMM, R_OK | X_OK) != 0)
            QSKIP("Das Programm ist fuer andere Benutzer nicht erreichbar.");
        m_umgebung = std::make_unique<TestUmgebung>();
        setze(m_umgebung->pfad(), 0, 0, 0755);
        m_beispielServer = std::make_unique<BeispielServer>(m_umgebung->pfad(), QStringLiteral(IV_QUELLEN), QStringLiteral(IV_BAU));
        QVERIFY2(m_beispielServer->laeuft(), qPrintable(m_beispielServer->fehler()));
        const QString beispiel = m_beispielServer->beispiel();
        m_wurzel = beispiel + QStringLiteral("/wurzel");
        // Without an intact manager copy in the service folder the first start
        // cannot hand over and keeps its own wizard.
        QVERIFY(QFile::rename(dienstDict(), dienstDict() + QStringLiteral(".weg")));
        m_server = QStringLiteral("127.0.0.1:%1").arg(m_beispielServer->nginx().port());
        // The machine-wide part as the package leaves it: tavo.ini's folder
        // root's, set-group-id users, not writable for the users; the shared lock
        // folder open to all like /run/lock.
        QVERIFY(QDir().mkpath(tavoOrdner()));
        setze(tavoOrdner(), 0, kGruppe, 02755);
        QVERIFY(QDir().mkpath(m_wurzel + QStringLiteral("/run/lock")));
        setze(m_wurzel + QStringLiteral("/run/lock"), 0, 0, 01777);
        QVERIFY(QDir().mkpath(m_umgebung->pfad() + QStringLiteral("/faelle")));
        setze(m_umgebung->pfad() + QStringLiteral("/faelle"), 0, 0, 0755);
    }
    void cleanupTestCase() { m_beispielServer.reset(); }
    void updatePruefung_data()
    {
        QTest::addColumn<bool>("erreichbar");
        QTest::addColumn<mode_t>("modus");
        QTest::addColumn<int>("erwartet");
        QTest::newRow("Update vorhanden") << true << mode_t(0664) << 1;
        QTest::newRow("Server nicht erreichbar") << false << mode_t(0664) << 2;
        QTest::newRow("tavo.ini nicht beschreibbar") << true << mode_t(0644) << 1;
        QTest::newRow("nicht beschreibbar, Server fehlt") << false << mode_t(0644) << 2;
    }
    void updatePruefung()
    {
        // As the main application starts it in the user's session: the date and
        // the error texts reach tavo.ini; a tavo.ini the user may not write costs
        // one line in the log, and the check still answers.
        QFETCH(bool, erreichbar);
        QFETCH(mode_t, modus);
        QFETCH(int, erwartet);
        const QString fall = QStringLiteral("pruefung_%1_%2").arg(int(erreichbar)).arg(modus, 0, 8);
        neuerBenutzer(fall);
        // A port nobody listens on: the one nginx had before it was given.
        schreibeTavo({ { QStringLiteral("UPDATE/QSTestServerUrl"), erreichbar ? m_server : QStringLiteral("127.0.0.1:9") } }, modus);
        auto p = starte(fall, { QStringLiteral("--updatepruefung") }, true);
        const int ende = warteEnde(*p, fall);
        const QByteArray text = log(fall);
        QVERIFY2(ende == erwartet, text.right(1500).constData());
        QVERIFY(text.contains(QByteArrayLiteral("ExitCode: ") + QByteArray::number(erwartet)));
        QSettings tavo(tavoIni(), QSettings::IniFormat);
        const bool beschreibbar = modus & 020;
        // The date is that of the last index fetched.
        QCOMPARE(tavo.value(QStringLiteral("UPDATE/LastUpdate")).isValid(), beschreibbar && erreichbar);
        QCOMPARE(!tavo.value(QStringLiteral("UPDATE/ErrorLongText")).toString().remove(QLatin1Char('"')).isEmpty(),
                 beschreibbar && !erreichbar);
        QCOMPARE(tavo.value(QStringLiteral("UPDATE/QSTestServerUrl")).toString().isEmpty(), false);
        QVERIFY2(int(text.count("kann nicht geschrieben werden")) == (beschreibbar ? 0 : 1), text.constData());
        QVERIFY2(!text.contains("kann nicht in"), text.constData());
        if (!beschreibbar)
            QVERIFY(text.contains("dieser Benutzer darf sie nicht schreiben"));
        // Written in place: still root's, group users, the mode it had.
        struct stat st;
        QVERIFY(::stat(QFile::encodeName(tavoIni()).constData(), &st) == 0);
        QCOMPARE(st.st_uid, uid_t(0));
        QCOMPARE(st.st_gid, kGruppe);
        QCOMPARE(st.st_mode & 07777, modus);
        QCOMPARE(QDir(tavoOrdner()).entryList(QDir::Files | QDir::Hidden), QStringList{ QStringLiteral("tavo.ini") });
        QCOMPARE(fremdeEintraege(m_umgebung->pfad() + QStringLiteral("/faelle/") + fall), QStringList());
    }
    void anmeldungUndZweiterStart()
    {
        // The main application's automatic start as the user: it sets the date of
        // the first search, registers its port and waits in the wizard; a second
        // start of the same user finds it and is turned away with -2.
        const QString fall = QStringLiteral("anmeldung");
        neuerBenutzer(fall);
        schreibeTavo({ { QStringLiteral("UPDATE/QSTestServerUrl"), m_server } });
        auto erster = starte(fall, {}, true);
        QElapsedTimer uhr;
        uhr.start();
        int port = 0;
        while (uhr.elapsed() < 120000 && erster->state() == QProcess::Running && !port) {
            QTest::qWait(200);
            if (log(fall).contains("Der Assistent wird angezeigt"))
                port = QSettings(tavoIni(), QSettings::IniFormat).value(QStringLiteral("INSTALLATIONSVERWALTUNG/Installationsverwaltung")).toInt();
        }
        const auto bereich = VarnelKern::portBereich(QStringLiteral("Installationsverwaltung"));
        QVERIFY2(port >= bereich.first && port < bereich.second, log(fall).right(1500).constData());
        QVERIFY(QSettings(tavoIni(), QSettings::IniFormat).value(QStringLiteral("UPDATE/LastUpdate")).isValid());
        auto zweiter = starte(fall, {}, true);
        QVERIFY(zweiter->waitForFinished(120000));
        const int zweiterCode = Programmlauf::code(*zweiter);
        QCOMPARE(warteEnde(*erster, fall), 128 + SIGTERM);
        QVERIFY2(zweiterCode == -2, log(fall).right(1500).constData());
        QCOMPARE(log(fall).count("ExitCode: -2\n"), 1);
        QVERIFY(!log(fall).contains("kann nicht"));
        QCOMPARE(fremdeEintraege(m_umgebung->pfad() + QStringLiteral("/faelle/") + fall), QStringList());
    }
    void rootLauf_data()
    {
        QTest::addColumn<QString>("verweis"); // below the user's data folder, pointing at a file of root's
        QTest::addColumn<int>("erwartet");
        QTest::newRow("neue Ordner und Dateien") << QString() << 1;
        QTest::newRow("Log als Verweis") << QStringLiteral("log/installationsverwaltung.log") << -1;
        QTest::newRow("kora.ini als Verweis") << QStringLiteral("ini/kora.ini") << -1;
        QTest::newRow("Datenordner als Verweis") << QStringLiteral("../pluginmanager/data") << -1;
    }
    void rootLauf()
    {
        // An elevated run with the user's data folder, after the user's own run
        // made the folders: whatever root creates or replaces there goes back to
        // the user, and a link the user planted is never followed.
        QFETCH(QString, verweis);
        QFETCH(int, erwartet);
        const QString fall = QStringLiteral("root_%1").arg(qHash(verweis));
        const QString home = neuerBenutzer(fall);
        schreibeTavo({ { QStringLiteral("UPDATE/QSTestServerUrl"), m_server } });
        auto p = starte(fall, { QStringLiteral("--updatepruefung") }, true);
        QCOMPARE(warteEnde(*p, fall), 1);
        const QString ziel = m_umgebung->pfad() + QStringLiteral("/ziel_") + fall;
        TestUmgebung::schreibeDatei(ziel, "root\n");
        if (!verweis.isEmpty()) {
            const QString link = QDir::cleanPath(kora(fall) + QLatin1Char('/') + verweis);
            QVERIFY(QFileInfo(link).isDir() ? QDir(link).removeRecursively() : QFile::remove(link));
            QVERIFY(QFile::link(ziel, link));
            QVERIFY(::lchown(QFile::encodeName(link).constData(), kBenutzer, kGruppe) == 0);
        } else {
            // Root has to make these anew.
            QVERIFY(QDir(kora(fall) + QStringLiteral("/log")).removeRecursively());
            QVERIFY(QDir(home + QStringLiteral("/.config/fiscalon/pluginmanager")).removeRecursively());
        }
        auto r = starte(fall, { QStringLiteral("--updatepruefung") }, false);
        QCOMPARE(warteEnde(*r, fall), erwartet);
        QCOMPARE(TestUmgebung::leseDatei(ziel), QByteArray("root\n"));
        struct stat st;
        QVERIFY(::stat(QFile::encodeName(ziel).constData(), &st) == 0 && st.st_uid == 0);
        QVERIFY2(fremdeEintraege(home).isEmpty(), qPrintable(fremdeEintraege(home).join(QLatin1Char('\n'))));
        // tavo.ini stays the users' after root wrote it.
        QVERIFY(::stat(QFile::encodeName(tavoIni()).constData(), &st) == 0);
        QCOMPARE(st.st_gid, kGruppe);
        QCOMPARE(st.st_mode & 07777, mode_t(0664));
        if (!verweis.isEmpty())
            return;
        // And the user goes on writing everything.
        auto wieder = starte(fall, { QStringLiteral("--updatepruefung") }, true);
        QVERIFY2(warteEnde(*wieder, fall) == 1, log(fall).right(1500).constData());
        QVERIFY2(!log(fall).contains("kann nicht"), log(fall).constData());
    }

    void stillesUpdateUeberDenDienst()
    {
        // A SilentUpdate started by the user: the built-in service manager's
        // root listener starts the service as root, whose manager copy updates
        // the installation in the user's folder, and leaves it all the user's.
        QVERIFY(QFile::rename(dienstDict() + QStringLiteral(".weg"), dienstDict()));
        const QString kora = m_wurzel + QStringLiteral("/opt/Fiscalon");
        const QString dienstOrdner = m_wurzel + QStringLiteral("/opt/Fiscalon Update Service");
        const QString dienst = dienstOrdner + QStringLiteral("/bin/tavoService");
        QVERIFY(QFileInfo(dienst).isExecutable());
        for (const auto& [datei, inhalt] :
             { qMakePair(QStringLiteral("/var/lib/fiscalon/registry/HKEY_LOCAL_MACHINE/SOFTWARE/Microsoft/Windows/CurrentVersion/Uninstall/Fiscalon.ini"),
                         "[General]\nInstallLocation=" + kora.toUtf8() + "\n"),
               qMakePair(QStringLiteral("/var/lib/fiscalon/dienste/TavoService.ini"),
                         "[General]\nProgramm=" + dienst.toUtf8() + "\nZugriff=users\n") }) {
            TestUmgebung::schreibeDatei(m_wurzel + datei, inhalt);
            setze(m_wurzel + datei, 0, 0, 0644);
        }
        const QString fall = QStringLiteral("dienst");
        const QString home = neuerBenutzer(fall);
        schreibeTavo({ { QStringLiteral("UPDATE/QSTestServerUrl"), m_server }, { QStringLiteral("UPDATE/SilentUpdate"), true } });
        auto lauscher = starte(fall, { QStringLiteral("--lausche"), QStringLiteral("TavoService"), QStringLiteral("users") }, false, dienst);
        const QString socket = m_wurzel + QStringLiteral("/run/fiscalon/dienste/TavoService.sock");
        QTRY_VERIFY(QFileInfo::exists(socket));

        auto erster = starte(fall, {}, true);
        QVERIFY(erster->waitForFinished(120000));
        QVERIFY2(Programmlauf::code(*erster) == 0, log(fall).right(2000).constData());
        QVERIFY(log(fall).contains("Die Installationsverwaltung wurde erfolgreich durch den Tavo-Service neu gestartet."));
        // root's copy from the service folder did the update in the user's folder.
        const bool fertig = QTest::qWaitFor([&] { return log(fall).contains("I:2; ExitCode: "); }, 240000);
        lauscher->terminate();
        lauscher->waitForFinished(10000);
        const QByteArray text = log(fall);
        QVERIFY2(fertig && text.contains("I:2; ExitCode: 90\n"), text.right(2000).constData());
        QVERIFY(text.contains(" --esStart --sID="));
        QVERIFY(QFileInfo::exists(kora + QStringLiteral("/dict/est_22.dict")));
        const QByteArray dienste = TestUmgebung::leseDatei(m_wurzel + QStringLiteral("/var/log/fiscalon/tavodienst-lauscher.log"))
            + TestUmgebung::leseDatei(m_wurzel + QStringLiteral("/var/log/fiscalon/tavodienst.log"));
        QVERIFY2(dienste.contains("Auftrag [starte] von Benutzer 65534 (PID ") && dienste.contains("Gestartet (PID"), dienste.constData());
        // The copy gives back what it made after its last log line, at its end.
        (void)QTest::qWaitFor([&] { return fremdeEintraege(home).isEmpty(); }, 30000);
        QVERIFY2(fremdeEintraege(home).isEmpty(), qPrintable(fremdeEintraege(home).join(QLatin1Char('\n'))));
    }

private:
    QString dienstDict() const { return m_wurzel + QStringLiteral("/opt/Fiscalon Update Service/dict/instv_0.vdict"); }
    // A fresh data folder of the user (with kora.ini that asks nothing).
    QString neuerBenutzer(const QString& fall)
    {
        const QString home = m_umgebung->pfad() + QStringLiteral("/faelle/") + fall;
        Programmlauf::koraIni(kora(fall), QStringLiteral("false"));
        QDir().mkpath(home + QStringLiteral("/laufzeit"));
        // The whole home belongs to the user, as a real one would.
        QProcess::execute(QStringLiteral("chown"), { QStringLiteral("-R"), QStringLiteral("%1:%2").arg(kBenutzer).arg(kGruppe), home });
        ::chmod(QFile::encodeName(home + QStringLiteral("/laufzeit")).constData(), 0700);
        return home;
    }
    std::unique_ptr<QProcess> starte(const QString& fall, const QStringList& schalter, bool alsBenutzer,
                                     const QString& programm = QStringLiteral(IV_PROGRAMM))
    {
        // Root's own HOME, as pkexec and the service give it.
        const QString home = alsBenutzer ? m_umgebung->pfad() + QStringLiteral("/faelle/") + fall
                                         : m_umgebung->pfad() + QStringLiteral("/root");
        auto p = std::make_unique<QProcess>();
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("FISCALON_WURZEL"), m_wurzel);
        env.insert(QStringLiteral("USER"), QStringLiteral("nobody"));
        env.insert(QStringLiteral("HOME"), home);
        env.insert(QStringLiteral("XDG_CONFIG_HOME"), home + QStringLiteral("/.config"));
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), home + QStringLiteral("/laufzeit"));
        // The test's session bus and keyring are root's.
        env.remove(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"));
        p->setProcessEnvironment(env);
        p->setProcessChannelMode(QProcess::ForwardedErrorChannel);
        QDir().mkpath(home + QStringLiteral("/laufzeit"));
        p->setWorkingDirectory(home);
        QStringList argumente = schalter;
        if (programm == QLatin1String(IV_PROGRAMM))
            argumente << QStringLiteral("--koraDir=") + m_wurzel + QStringLiteral("/opt/Fiscalon") << QStringLiteral("--dirUserKora=") + kora(fall);
        if (alsBenutzer) {
            argumente.prepend(QStringLiteral(IV_PROGRAMM));
            argumente = QStringList{ QStringLiteral("--reuid=%1").arg(kBenutzer), QStringLiteral("--regid=%1").arg(kGruppe),
                                     QStringLiteral("--clear-groups") }
                        + argumente;
            p->start(QStringLiteral("setpriv"), argumente);
        } else {
            p->start(programm, argumente);
        }
        p->waitForStarted(10000);
        return p;
    }
    int warteEnde(QProcess& p, const QString& fall)
    {
        return Programmlauf::warteEnde(p, kora(fall) + QStringLiteral("/log/installationsverwaltung.log"));
    }
    QString kora(const QString& fall) const { return m_umgebung->pfad() + QStringLiteral("/faelle/") + fall + QStringLiteral("/.config/fiscalon/kora"); }
    QByteArray log(const QString& fall) const { return TestUmgebung::leseDatei(kora(fall) + QStringLiteral("/log/installationsverwaltung.log")); }
    QString tavoOrdner() const { return m_wurzel + QStringLiteral("/etc/xdg/fiscalon/kora"); }
    QString tavoIni() const { return tavoOrdner() + QStringLiteral("/tavo.ini"); }
    // tavo.ini as root sets it up: only the given values.
    void schreibeTavo(const QMap<QString, QVariant>& werte, mode_t modus = 0664, gid_t gruppe = kGruppe)
    {
        QFile::remove(tavoIni());
        {
            QSettings tavo(tavoIni(), QSettings::IniFormat);
            for (auto it = werte.begin(); it != werte.end(); ++it)
                tavo.setValue(it.key(), it.value());
        }
        setze(tavoIni(), 0, gruppe, modus);
    }

    std::unique_ptr<TestUmgebung> m_umgebung;
    std::unique_ptr<BeispielServer> m_beispielServer;
    QString m_wurzel, m_server;
};

QTEST_GUILESS_MAIN(TstBenutzer)
#include "tst_benutzer.moc"
