// Closing the main application's windows on a real X server: the test starts
// its own Xvfb and stand-in windows, lets the close dialog do its work and
// checks which windows went away. Every process it starts it also ends.

#include "dialoge/klein/dlgbeendekoras.h"
#include "dialoge/ressourcen.h"
#include "global/plattform/plattform.h"
#include "global/varnelApplication/varnelkern.h"
#include "pluginManager/pluginManager.h"
#include "pluginManager/wizardablauf.h"
#include "testhilfe/testumgebung.h"

#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTimer>
#include <QApplication>
#include <QtTest>
#include <memory>
#include <signal.h>

namespace {

// Ends a started process by its PID: politely first, then for sure.
void beende(QProcess& p)
{
    if (p.state() == QProcess::NotRunning)
        return;
    ::kill(pid_t(p.processId()), SIGTERM);
    if (!p.waitForFinished(3000)) {
        ::kill(pid_t(p.processId()), SIGKILL);
        p.waitForFinished(3000);
    }
}

} // namespace

class TstFensterSchliessen : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        initDialogRessourcen();
        qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/iv-test-bus");
        const QString xvfb = QStandardPaths::findExecutable(QStringLiteral("Xvfb"));
        if (xvfb.isEmpty())
            QSKIP("Xvfb fehlt (Paket xvfb).");
        QVERIFY2(QFileInfo(qEnvironmentVariable("IV_TESTFENSTER")).isExecutable(), "IV_TESTFENSTER fehlt");

        // Xvfb picks a free display itself and names it once it accepts connections.
        m_xvfb.setProgram(xvfb);
        m_xvfb.setArguments({ QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-nolisten"),
                              QStringLiteral("tcp"), QStringLiteral("-screen"), QStringLiteral("0"),
                              QStringLiteral("800x600x24") });
        m_xvfb.start();
        if (!m_xvfb.waitForStarted(5000))
            QFAIL("Xvfb startet nicht");
        QElapsedTimer uhr;
        uhr.start();
        while (!m_xvfb.canReadLine() && m_xvfb.state() == QProcess::Running && uhr.elapsed() < 10000)
            m_xvfb.waitForReadyRead(500);
        const QByteArray nummer = m_xvfb.readLine().trimmed();
        if (!nummer.isEmpty())
            m_anzeige = QStringLiteral(":") + QString::fromLatin1(nummer);
        qputenv("DISPLAY", m_anzeige.toLocal8Bit());
        QVERIFY2(!m_anzeige.isEmpty(), "Keine freie X-Anzeige");
    }
    void cleanupTestCase()
    {
        beende(m_xvfb);
        qunsetenv("DISPLAY");
    }
    void schliesstNurDieHauptanwendung()
    {
        TestUmgebung umgebung;
        qputenv("USERNAME", "tester");
        VarnelKern kern(QStringLiteral("iv-test"));

        QProcess kora, koraFall, verwaltung;
        QVERIFY(starteFenster(kora, { QStringLiteral("Fiscalon"), QStringLiteral("--kora") }));
        QVERIFY(starteFenster(koraFall, { QStringLiteral("Fiscalon - Einkommensteuer 2024") }));
        QVERIFY(starteFenster(verwaltung, { QStringLiteral("Fiscalon Installationsverwaltung") }));
        QTRY_VERIFY_WITH_TIMEOUT(titelAufDerAnzeige().size() >= 3, 10000);
        QVERIFY(titelAufDerAnzeige().contains(QStringLiteral("Fiscalon")));

        DlgBeendeKoras dlg;
        dlg.show();
        dlg.accept();
        QVERIFY(dlg.istAmWarten());
        QVERIFY(kora.waitForFinished(15000));
        QVERIFY(koraFall.waitForFinished(15000));
        // The dialog accepts once the main application no longer answers.
        QTRY_COMPARE_WITH_TIMEOUT(dlg.result(), int(QDialog::Accepted), 15000);
        QCOMPARE(dlg.gibAnzahlAngefragt(), 2);
        QCOMPARE(verwaltung.state(), QProcess::Running);
        QCOMPARE(titelAufDerAnzeige(), QStringList { QStringLiteral("Fiscalon Installationsverwaltung") });

        beende(kora);
        beende(koraFall);
        beende(verwaltung);
    }
    void beendetFiscalonVorDemLauf()
    {
        // The wizard's check before a run, on the engine: the stand-in of the main
        // application runs, gets the download status, and is closed by the dialog.
        TestUmgebung umgebung;
        qputenv("USERNAME", "tester");
        VarnelKern kern(QStringLiteral("iv-test"));
        const QString status = umgebung.pfad() + QStringLiteral("/status.txt");
        QProcess kora;
        QVERIFY(starteFenster(kora, { QStringLiteral("Fiscalon"), QStringLiteral("--status=") + status }));
        kern.meldeStatusAnKora(1, QStringLiteral("Installationsverwaltung"), QStringLiteral("Update"));
        QTRY_VERIFY_WITH_TIMEOUT(!TestUmgebung::leseDatei(status).isEmpty(), 10000);

        PluginManager pm;
        WizardAblaufEngine ablauf(&pm);
        int dialoge = 0;
        QTimer bestaetiger;
        connect(&bestaetiger, &QTimer::timeout, this, [&]() {
            auto* dlg = qobject_cast<DlgBeendeKoras*>(QApplication::activeModalWidget());
            if (dlg && !dlg->istAmWarten()) {
                ++dialoge;
                dlg->accept();
            }
        });
        bestaetiger.start(100);
        QVERIFY(ablauf.beendeKoras());
        QCOMPARE(dialoge, 1);
        QTRY_COMPARE_WITH_TIMEOUT(kora.state(), QProcess::NotRunning, 15000);
        // Nothing runs any more: no dialog the next time.
        QVERIFY(ablauf.beendeKoras());
        QCOMPARE(dialoge, 1);
        beende(kora);
    }

private:
    QStringList titelAufDerAnzeige()
    {
        QStringList titel;
        for (const Plattform::FremdesFenster& f : Plattform::gibFremdeFenster())
            titel << f.titel;
        return titel;
    }
    bool starteFenster(QProcess& p, const QStringList& argumente)
    {
        QProcessEnvironment umgebung = QProcessEnvironment::systemEnvironment();
        umgebung.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        umgebung.insert(QStringLiteral("DISPLAY"), m_anzeige);
        umgebung.insert(QStringLiteral("ASAN_OPTIONS"), QStringLiteral("detect_leaks=0"));
        p.setProcessEnvironment(umgebung);
        p.setProgram(qEnvironmentVariable("IV_TESTFENSTER"));
        p.setArguments(argumente);
        p.start();
        return p.waitForStarted(5000) && p.waitForReadyRead(20000) && p.readAllStandardOutput().contains("bereit");
    }

    QProcess m_xvfb;
    QString m_anzeige;
};

QTEST_MAIN(TstFensterSchliessen)
#include "tst_fensterschliessen.moc"
