// The hand-over end to end on the sample installation: through the real
// service to the service folder's copy, which updates unattended; and the
// wizard's elevated restart, whose plan the real program carries out.

#include "global/plattform/plattform.h"
#include "pluginManager/pluginManager.h"
#include "pluginManager/startwerte.h"
#include "pluginManager/tavoservice.h"
#include "pluginManager/updateprocess.h"
#include "testhilfe/programmlauf.h"
#include "testhilfe/testserver.h"

#include <QProcess>
#include <QSettings>
#include <QtTest>

#include <csignal>
#include <memory>
#include <unistd.h>

namespace {

constexpr uid_t kBenutzer = 65534;

bool warteAufLog(const QString& datei, const QByteArray& text, int ms)
{
    return QTest::qWaitFor([&] { return TestUmgebung::leseDatei(datei).contains(text); }, ms);
}

// A data folder of an ordinary user, as the service program demands it.
QString benutzerOrdner(const QString& pfad)
{
    Programmlauf::koraIni(pfad + QStringLiteral("/kora"), QStringLiteral("false"));
    if (::geteuid() == 0)
        QProcess::execute(QStringLiteral("chown"), { QStringLiteral("-R"), QStringLiteral("%1:100").arg(kBenutzer), pfad });
    return pfad + QStringLiteral("/kora");
}

} // namespace

class TstUebergabe : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        m_umgebung = std::make_unique<TestUmgebung>();
        m_server = std::make_unique<BeispielServer>(m_umgebung->pfad(), QStringLiteral(IV_QUELLEN), QStringLiteral(IV_BAU));
        QVERIFY2(m_server->laeuft(), qPrintable(m_server->fehler()));
        m_wurzel = m_server->beispiel() + QStringLiteral("/wurzel");
        // Everything machine-wide of this test lives in the sample's root.
        qputenv("FISCALON_WURZEL", QFile::encodeName(m_wurzel));
        m_zweiteInstallation = m_umgebung->pfad() + QStringLiteral("/zweite/Fiscalon");
        kopiereOrdner(m_wurzel + QStringLiteral("/opt/Fiscalon"), m_zweiteInstallation);
    }
    void cleanupTestCase()
    {
        UpdateProcess::setzeErhebungsbefehl(QString());
        m_server.reset();
    }
    void ueberDenDienst()
    {
        // A root-only uninstall entry, and the service registered with the service folder's program.
        const QString kora = m_wurzel + QStringLiteral("/opt/Fiscalon");
        const QString dienstOrdner = m_wurzel + QStringLiteral("/opt/Fiscalon Update Service");
        const QString eintrag = Plattform::registrierungsDatei(
            QStringLiteral("HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Fiscalon"));
        TestUmgebung::schreibeDatei(eintrag, "[General]\nInstallLocation=" + kora.toUtf8() + "\n");
        QVERIFY(tavoService().erzeugen(dienstOrdner + QStringLiteral("/bin/tavoService")));
        setzeTavo(true);
        const QString benutzer = benutzerOrdner(m_umgebung->pfad() + QStringLiteral("/dienst"));
        const QString logDatei = benutzer + QStringLiteral("/log/installationsverwaltung.log");

        QProcess erster;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("USER"), QStringLiteral("tester"));
        erster.setProcessEnvironment(env);
        erster.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        erster.start(QStringLiteral(IV_PROGRAMM), { QStringLiteral("--koraDir=") + kora, QStringLiteral("--dirUserKora=") + benutzer });
        QVERIFY(erster.waitForFinished(120000));
        QByteArray log = TestUmgebung::leseDatei(logDatei);
        QVERIFY2(erster.exitCode() == 0, log.right(1500).constData());
        QVERIFY(log.contains("Die Installationsverwaltung wurde erfolgreich durch den Tavo-Service neu gestartet."));
        QVERIFY(log.contains("I:1; ExitCode: 0\n"));

        // The service folder's copy, started by the service, did the update.
        QVERIFY2(warteAufLog(logDatei, "I:2; ExitCode: ", 240000), TestUmgebung::leseDatei(logDatei).right(1500).constData());
        log = TestUmgebung::leseDatei(logDatei);
        const QByteArray zweiter = log.mid(log.lastIndexOf("PROGRAMMSTART"));
        QVERIFY2(zweiter.contains("I:2; ExitCode: 90\n"), zweiter.right(1500).constData());
        QVERIFY(zweiter.contains("Parameter: " + dienstOrdner.toUtf8() + "/bin/installationsverwaltung --koraDir=" + kora.toUtf8()));
        QVERIFY(zweiter.contains(" --i2 ") && zweiter.contains(" --esStart --sID="));
        QVERIFY(QFileInfo::exists(kora + QStringLiteral("/dict/est_22.dict")));
        const QByteArray dienstLog = TestUmgebung::leseDatei(m_wurzel + QStringLiteral("/var/log/fiscalon/tavodienst.log"));
        QVERIFY2(dienstLog.contains("Gestartet (PID"), dienstLog.constData());
        // Everything the root copy touched in the user's folder is given back, at the copy's end.
        if (::geteuid() == 0) {
            const QString ordner = m_umgebung->pfad() + QStringLiteral("/dienst");
            (void)QTest::qWaitFor([&] { return Programmlauf::fremdeEintraege(ordner, kBenutzer).isEmpty(); }, 30000);
            QCOMPARE(Programmlauf::fremdeEintraege(ordner, kBenutzer), QStringList());
        }
    }
    void fortsetzungMitAdminRechten()
    {
        // The wizard's plan: this process's engine takes the recommendations.
        setzeTavo(false);
        const QString benutzer = benutzerOrdner(m_umgebung->pfad() + QStringLiteral("/admin"));
        setzeStartwerteZurueck();
        gs_KoraDir = m_zweiteInstallation;
        gs_DirUserKora = benutzer;
        gb_ZeigeDlg = true;
        gs_ProgrammPfad = QStringLiteral(IV_PROGRAMM);
        PluginManager pm;
        QCOMPARE(pm.setzeServerVerzeichnis(), 0);
        QVERIFY(pm.holeServerInhaltsdatei());
        QVERIFY(pm.leseServerInhaltsdatei());
        pm.lesePluginInfoLokal();
        pm.setzeStausLokalePlugins();
        pm.setzeStausVerfuegbarePlugins();
        pm.setzeAktionHauptanwendung(true);
        pm.setzeAktionErneuernInstallierte(true);
        pm.setzeAktionVerfuegbareZurInstallationEmpfohlene(true);
        QVERIFY(!QFileInfo::exists(m_zweiteInstallation + QStringLiteral("/dict/est_22.dict")));

        // pkexec's stand-in grants the request and tells the started PID.
        const QString pidDatei = m_umgebung->pfad() + QStringLiteral("/admin.pid");
        const QString erhebung = m_umgebung->pfad() + QStringLiteral("/pkexec");
        TestUmgebung::schreibeDatei(erhebung, "#!/bin/sh\necho $$ > '" + pidDatei.toUtf8() + "'\nexec \"$@\"\n");
        QFile::setPermissions(erhebung, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        UpdateProcess::setzeErhebungsbefehl(erhebung);
        QVERIFY(pm.neuStartMitAdminRechten());
        QTRY_VERIFY_WITH_TIMEOUT(TestUmgebung::leseDatei(pidDatei).endsWith('\n'), 30000); // the whole line
        const pid_t pid = pid_t(TestUmgebung::leseDatei(pidDatei).trimmed().toLong());
        QVERIFY(pid > 0);

        // The elevated instance ran the plan and waits on the result page.
        const QString logDatei = benutzer + QStringLiteral("/log/installationsverwaltung.log");
        const bool beendet = warteAufLog(logDatei, "Die Aktionen mit Administrator-Rechten sind beendet (0 Fehlermeldungen).", 150000);
        ::kill(pid, SIGTERM);
        QVERIFY2(beendet, TestUmgebung::leseDatei(logDatei).right(2000).constData());
        QVERIFY2(warteAufLog(logDatei, "I:2; ExitCode: 143", 30000), TestUmgebung::leseDatei(logDatei).right(2000).constData());
        const QByteArray log = TestUmgebung::leseDatei(logDatei);
        QVERIFY(log.contains("Parameter: " IV_PROGRAMM " --admin --zeigeDlg --i2 --koraDir="));
        QVERIFY(log.contains("setzt die geplanten Aktionen mit Administrator-Rechten fort"));
        QVERIFY2(QFileInfo::exists(m_zweiteInstallation + QStringLiteral("/dict/est_22.dict")), log.right(2000).constData());
        QCOMPARE(TestUmgebung::leseDatei(m_zweiteInstallation + QStringLiteral("/bin/kora")).trimmed(), QByteArray("Fiscalon Hauptprogramm 27289"));
        // None of the five plan files is left.
        const QStringList daten = QDir(PluginManager::gibDirDaten()).entryList(QDir::Files);
        for (const char* name : { "PluginClient", "PluginServer", "KoraClient", "KoraServer", "ServiceServer" })
            QVERIFY2(!daten.contains(QLatin1String(name)), qPrintable(daten.join(QLatin1Char(' '))));
    }

private:
    void setzeTavo(bool silentUpdate)
    {
        QSettings tavo(m_wurzel + QStringLiteral("/etc/xdg/fiscalon/kora/tavo.ini"), QSettings::IniFormat);
        tavo.setValue(QStringLiteral("UPDATE/QSTestServerUrl"), QStringLiteral("127.0.0.1:%1").arg(m_server->nginx().port()));
        tavo.setValue(QStringLiteral("UPDATE/SilentUpdate"), silentUpdate ? QStringLiteral("true") : QStringLiteral("false"));
        tavo.remove(QStringLiteral("UPDATE/LastUpdateInstallation"));
        tavo.remove(QStringLiteral("INSTALLATIONSVERWALTUNG"));
    }

    std::unique_ptr<TestUmgebung> m_umgebung;
    std::unique_ptr<BeispielServer> m_server;
    QString m_wurzel, m_zweiteInstallation;
};

QTEST_GUILESS_MAIN(TstUebergabe)
#include "tst_uebergabe.moc"
