// Closing the main application's windows on a real X server, its own Xvfb,
// with stand-in windows. Every process it starts it also ends.

#include "dialoge/klein/dlgbeendekoras.h"
#include "dialoge/ressourcen.h"
#include "global/plattform/plattform.h"
#include "global/varnelApplication/varnelkern.h"
#include "pluginManager/pluginManager.h"
#include "pluginManager/wizardablauf.h"
#include "testhilfe/testserver.h"
#include "testhilfe/testumgebung.h"

#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTimer>
#include <QApplication>
#include <QtTest>

class TstFensterSchliessen : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        initDialogRessourcen();
        qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/iv-test-bus");
        qputenv("USERNAME", "tester");
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
        QVERIFY2(QTest::qWaitFor([this] { return m_xvfb.canReadLine() || m_xvfb.state() == QProcess::NotRunning; }, 15000)
                     && m_xvfb.canReadLine(),
                 "Keine freie X-Anzeige");
        m_anzeige = QStringLiteral(":") + QString::fromLatin1(m_xvfb.readLine().trimmed());
        qputenv("DISPLAY", m_anzeige.toLocal8Bit());
    }
    void cleanupTestCase()
    {
        beendeProzess(m_xvfb);
        qunsetenv("DISPLAY");
    }
    // The wizard's check before a run, on the engine: the close dialog closes the
    // main application's windows, which got the download status, and leaves
    // the manager's own; once nothing runs, no dialog any more.
    void schliesstNurDieHauptanwendung()
    {
        TestUmgebung umgebung;
        VarnelKern kern(QStringLiteral("iv-test"));
        const QString status = umgebung.pfad() + QStringLiteral("/status.txt");
        QProcess kora, koraFall, verwaltung;
        QVERIFY(starteFenster(kora, { QStringLiteral("Fiscalon"), QStringLiteral("--status=") + status }));
        QVERIFY(starteFenster(koraFall, { QStringLiteral("Fiscalon - Einkommensteuer 2024") }));
        QVERIFY(starteFenster(verwaltung, { QStringLiteral("Fiscalon Installationsverwaltung") }));
        QTRY_VERIFY_WITH_TIMEOUT(titelAufDerAnzeige().size() >= 3, 10000);
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
                QVERIFY(dlg->istAmWarten());
            }
        });
        bestaetiger.start(100);
        QVERIFY(ablauf.beendeKoras());
        QCOMPARE(dialoge, 1);
        QTRY_VERIFY_WITH_TIMEOUT(kora.state() == QProcess::NotRunning && koraFall.state() == QProcess::NotRunning, 15000);
        QCOMPARE(verwaltung.state(), QProcess::Running);
        QCOMPARE(titelAufDerAnzeige(), QStringList { QStringLiteral("Fiscalon Installationsverwaltung") });
        QVERIFY(ablauf.beendeKoras());
        QCOMPARE(dialoge, 1);
        for (QProcess* p : { &kora, &koraFall, &verwaltung })
            beendeProzess(*p);
    }

private:
    static QStringList titelAufDerAnzeige()
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
