// The small dialogs as the engine and the user meet them: the proxy password
// dialog's attempts and refusals, the three answers of the consent dialog,
// which windows the close dialog touches and how it waits, and the help
// viewer's remote control.

#include "dialoge/dialogvorlage.h"
#include "dialoge/klein/dialogpasswortproxy.h"
#include "dialoge/klein/dlgbeendekoras.h"
#include "dialoge/klein/dlginternet.h"
#include "dialoge/klein/hilfe.h"
#include "dialoge/ressourcen.h"
#include "global/plattform/plattform.h"
#include "global/varnelApplication/einstellungen.h"
#include "global/varnelApplication/varnelkern.h"
#include "pluginManager/startwerte.h"
#include "testhilfe/testumgebung.h"

#include <QApplication>
#include <QHostAddress>
#include <QLineEdit>
#include <QPushButton>
#include <QSettings>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <QtTest>
#include <memory>

namespace {

// A main application that answers the instance protocol as "kora" on a port
// of its range, registered in tavo.ini as the main application does.
class KoraAttrappe : public QObject
{
public:
    bool starte()
    {
        const auto bereich = VarnelKern::portBereich(QStringLiteral("kora"));
        for (quint16 port = bereich.first; port < bereich.second && !m_server.isListening(); ++port)
            m_server.listen(QHostAddress::LocalHost, port);
        if (!m_server.isListening())
            return false;
        connect(&m_server, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* s = m_server.nextPendingConnection()) {
                connect(s, &QTcpSocket::readyRead, s, [this, s] {
                    if (s->canReadLine()) {
                        s->readLine();
                        ++fragen;
                        s->write("kora\n");
                    }
                });
                connect(s, &QTcpSocket::disconnected, s, &QObject::deleteLater);
            }
        });
        auto tavo = Einstellungen::gibTavoIni();
        tavo->setValue(QStringLiteral("KORA/tester"), int(m_server.serverPort()));
        tavo->sync();
        return true;
    }
    void beende() { m_server.close(); }
    int fragen = 0;

private:
    QTcpServer m_server;
};

} // namespace

class TstDialogeKlein : public QObject
{
    Q_OBJECT

    std::unique_ptr<TestUmgebung> m_umgebung;
    std::unique_ptr<FakeRueckfrage> m_rueckfrage;

private slots:
    void initTestCase()
    {
        initDialogRessourcen();
        // Never the developer's own key store or windows.
        qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/iv-test-bus");
        qunsetenv("DISPLAY");
    }
    void init()
    {
        m_umgebung = std::make_unique<TestUmgebung>();
        m_rueckfrage = std::make_unique<FakeRueckfrage>();
        qputenv("USERNAME", "tester");
    }
    void cleanup()
    {
        QCOMPARE(QApplication::overrideCursor(), nullptr);
        m_rueckfrage.reset();
        m_umgebung.reset();
    }

    void passwortTitelUndInhalt_data()
    {
        QTest::addColumn<int>("versuch");
        QTest::addColumn<QString>("titel");
        const QString t = QStringLiteral("Benutzername und Passwort für den Proxy-Server");
        QTest::newRow("erster Versuch") << 1 << t;
        QTest::newRow("zweiter Versuch") << 2 << t + QStringLiteral(" 2. Versuch");
    }
    void passwortTitelUndInhalt()
    {
        QFETCH(int, versuch);
        QFETCH(QString, titel);
        // The host comes from settings or the network: shown as text, never as markup.
        DialogPasswortProxy dlg(QStringLiteral("<i>x</i>&amp;%2"), 3128, versuch);
        QCOMPARE(dlg.windowTitle(), titel);
        const QString text = dlg.gibInhalt();
        QVERIFY2(text.contains(QStringLiteral("<i>x</i>&amp;%2 : 3128")), qPrintable(text));
        QCOMPARE(text.contains(QStringLiteral("Benutzername und Passwort waren nicht korrekt!")), versuch > 1);
        auto* passwort = dlg.findChild<QLineEdit*>(QStringLiteral("edtPasswort"));
        QVERIFY(passwort);
        QCOMPARE(passwort->echoMode(), QLineEdit::Password);
    }

    void passwortLeereFelder()
    {
        DialogPasswortProxy dlg(QStringLiteral("10.0.0.1"), 8080, 1);
        dlg.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dlg));
        QTest::keyClicks(dlg.findChild<QLineEdit*>(QStringLiteral("edtPasswort")), QStringLiteral("geh eim"));
        QTest::mouseClick(dlg.gibOkKnopf(), Qt::LeftButton);
        QCOMPARE(m_rueckfrage->fragen.size(), 1);
        QVERIFY(m_rueckfrage->fragen.first().text.contains(QStringLiteral("Die Angabe zum Benutzernamen fehlt!")));
        QVERIFY(dlg.isVisible());
        QCOMPARE(dlg.focusWidget()->objectName(), QStringLiteral("edtBenutzername"));
        QTest::keyClicks(dlg.focusWidget(), QStringLiteral("max"));
        QTest::mouseClick(dlg.gibOkKnopf(), Qt::LeftButton);
        QCOMPARE(dlg.result(), int(QDialog::Accepted));
        QCOMPARE(QStringList({ dlg.gibBenutzername(), dlg.gibPasswort() }), QStringList({ "max", "geh eim" }));
    }

    void internetAntworten_data()
    {
        QTest::addColumn<QString>("knopf");
        QTest::addColumn<int>("ergebnis");
        QTest::addColumn<int>("antwort");
        QTest::addColumn<int>("rolle");
        QTest::newRow("Ja, immer") << QStringLiteral("btnJaImmer") << int(QDialogButtonBox::YesRole)
                                   << int(DlgInternet::JaImmer) << int(QDialogButtonBox::YesRole);
        QTest::newRow("Ja, einmalig") << QStringLiteral("btnOk") << int(QDialog::Accepted)
                                      << int(DlgInternet::JaEinmalig) << int(QDialogButtonBox::AcceptRole);
        QTest::newRow("Nein") << QStringLiteral("btnAbbrechen") << int(QDialog::Rejected) << int(DlgInternet::Nein)
                              << int(QDialogButtonBox::RejectRole);
    }
    void internetAntworten()
    {
        QFETCH(QString, knopf);
        QFETCH(int, ergebnis);
        QFETCH(int, antwort);
        QFETCH(int, rolle);
        DlgInternet dlg;
        QTimer::singleShot(0, &dlg, [&] { QTest::mouseClick(dlg.findChild<QPushButton*>(knopf), Qt::LeftButton); });
        QCOMPARE(dlg.exec(), ergebnis);
        QCOMPARE(int(dlg.gibAntwort()), antwort);
        QCOMPARE(int(dlg.gibButtonRolle()), rolle);
    }

    void beendeKorasBehandlung_data()
    {
        QTest::addColumn<QString>("titel");
        QTest::addColumn<int>("behandlung");
        using B = DlgBeendeKoras::Behandlung;
        QTest::newRow("genau Fiscalon") << QStringLiteral("Fiscalon") << int(B::Schliessen);
        QTest::newRow("Fiscalon mit Fall") << QStringLiteral("Fiscalon - Einkommensteuer 2024") << int(B::NachVorneUndSchliessen);
        QTest::newRow("beide Wörter") << QStringLiteral("Fiscalon Installationsverwaltung") << int(B::Ignorieren);
        // Its own title must never match the windows it closes.
        QTest::newRow("eigener Titel") << DlgBeendeKoras().windowTitle() << int(B::Ignorieren);
    }
    void beendeKorasBehandlung()
    {
        QFETCH(QString, titel);
        QFETCH(int, behandlung);
        QCOMPARE(int(DlgBeendeKoras::behandlungFuer(titel)), behandlung);
    }

    void fensterOhneAnzeige()
    {
        QString fehler;
        QVERIFY(Plattform::gibFremdeFenster(&fehler).isEmpty());
        QVERIFY(!fehler.isEmpty());
        QVERIFY(!Plattform::schliesseFremdesFenster(0x1234, &fehler));
    }

    // Waiting until the main application ends is the window-closing test's part.
    void beendeKorasWarten_data()
    {
        QTest::addColumn<bool>("koraLaeuft");
        QTest::newRow("ohne laufende Kora: nimmt an") << false;
        QTest::newRow("abgebrochen: bleibt abgebrochen") << true;
    }
    void beendeKorasWarten()
    {
        QFETCH(bool, koraLaeuft);
        VarnelKern kern(QStringLiteral("iv-test"));
        KoraAttrappe kora;
        QVERIFY(!koraLaeuft || kora.starte());
        DlgBeendeKoras dlg;
        dlg.show();
        QTest::mouseClick(dlg.gibOkKnopf(), Qt::LeftButton);
        QVERIFY(dlg.istAmWarten());
        QVERIFY(!dlg.gibOkKnopf()->isEnabled());
        if (!koraLaeuft) {
            QTRY_COMPARE_WITH_TIMEOUT(dlg.result(), int(QDialog::Accepted), 5000);
            return;
        }
        // Several rounds of asking while the main application still answers.
        QTRY_VERIFY_WITH_TIMEOUT(kora.fragen >= 3, 30 * DlgBeendeKoras::warteIntervallMs);
        QVERIFY(dlg.isVisible());
        QVERIFY(dlg.istAmWarten());
        QTest::mouseClick(dlg.gibAbbrechenKnopf(), Qt::LeftButton);
        QCOMPARE(dlg.result(), int(QDialog::Rejected));
        // The cancel ends the waiting: the main application's end accepts nothing later.
        QVERIFY(!dlg.istAmWarten());
    }

    void hilfeUeberF1()
    {
        // One line per topic: a topic cannot smuggle in commands of its own.
        QCOMPARE(Hilfe::befehleFuer(QStringLiteral("a\nhide;quit")), QByteArray("activateIdentifier a hidequit\n"));
        const QString protokoll = m_umgebung->pfad() + QStringLiteral("/betrachter");
        const QString skript = m_umgebung->pfad() + QStringLiteral("/betrachter.sh");
        TestUmgebung::schreibeDatei(skript, "#!/bin/sh\necho \"$@\" >> '" + protokoll.toUtf8()
                                                + ".args'\nexec cat >> '" + protokoll.toUtf8() + ".stdin'\n");
        QFile::setPermissions(skript, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        const QString altKoraDir = gs_KoraDir;
        gs_KoraDir = m_umgebung->pfad() + QStringLiteral("/kora");
        const QString sammlung = gs_KoraDir + QStringLiteral("/hilfe/tavo.bedienung.qhc");
        TestUmgebung::schreibeDatei(sammlung, "x");
        Hilfe::instanz().setzeBetrachter(skript);

        DialogVorlage dlg;
        dlg.setzeHilfeThema(QStringLiteral("berechtigung"));
        dlg.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dlg));
        QTest::keyClick(&dlg, Qt::Key_F1);
        QTRY_COMPARE(TestUmgebung::leseDatei(protokoll + QStringLiteral(".stdin")),
                     QByteArray("activateIdentifier berechtigung\n"));
        // The viewer is started with the collection and remote control.
        QCOMPARE(TestUmgebung::leseDatei(protokoll + QStringLiteral(".args")),
                 "-collectionFile " + sammlung.toUtf8() + " -enableRemoteControl\n");

        Hilfe::instanz().setzeBetrachter(QString());
        gs_KoraDir = altKoraDir;
    }
};

QTEST_MAIN(TstDialogeKlein)
#include "tst_dialogeklein.moc"
