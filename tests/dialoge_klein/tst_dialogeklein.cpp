// The dialogs as the engine and the user meet them: the message dialog's
// buttons by kind, size, cursor, result, "do not show again" box and help
// key; the proxy password dialog's attempts and refusals, the three answers
// of the consent dialog, which windows the close dialog touches and how it
// waits, and the help viewer's remote control.

#include "dialoge/dialogvorlage.h"
#include "dialoge/icons.h"
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
#include <QCheckBox>
#include <QHostAddress>
#include <QLineEdit>
#include <QPushButton>
#include <QSettings>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <QtTest>
#include <functional>
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

// Runs `pruefe` on the modal dialog once it is open, then presses a button.
void beimOeffnen(std::function<void(DialogVorlage*)> pruefe, bool annehmen)
{
    auto* zeitgeber = new QTimer;
    zeitgeber->setInterval(20);
    QObject::connect(zeitgeber, &QTimer::timeout, [=] {
        auto* dlg = qobject_cast<DialogVorlage*>(QApplication::activeModalWidget());
        if (!dlg)
            return;
        zeitgeber->stop();
        zeitgeber->deleteLater();
        pruefe(dlg);
        QTest::mouseClick(annehmen ? dlg->gibOkKnopf() : dlg->gibAbbrechenKnopf(), Qt::LeftButton);
    });
    zeitgeber->start();
}

} // namespace

class TstDialogeKlein : public QObject
{
    Q_OBJECT

    std::unique_ptr<TestUmgebung> m_umgebung;
    std::unique_ptr<FakeRueckfrage> m_rueckfrage;

private slots:
    void knoepfeNachArt_data()
    {
        QTest::addColumn<int>("art");
        QTest::addColumn<QString>("knopf1");
        QTest::addColumn<QString>("knopf2");
        QTest::addColumn<bool>("annehmen");
        QTest::addColumn<QString>("text1");
        QTest::addColumn<QString>("text2");
        // Only the question has buttons of its own; the other kinds differ in the icon alone.
        QTest::newRow("Warnung") << 2 << "" << "" << true << "OK" << "Abbrechen";
        QTest::newRow("Frage nein") << 4 << "" << "" << false << "Ja" << "Nein";
        QTest::newRow("eigene Texte") << 4 << "Weiter" << "Zur\u00fcck" << true << "Weiter" << "Zur\u00fcck";
        QTest::newRow("nur erster eigener") << 1 << "Schlie\u00dfen" << "" << true << "Schlie\u00dfen" << "Abbrechen";
    }
    void knoepfeNachArt()
    {
        QFETCH(int, art);
        QFETCH(QString, knopf1);
        QFETCH(QString, knopf2);
        QFETCH(bool, annehmen);
        QFETCH(QString, text1);
        QFETCH(QString, text2);
        bool geprueft = false;
        beimOeffnen(
            [&](DialogVorlage* dlg) {
                QCOMPARE(dlg->windowTitle(), QStringLiteral("Titel"));
                QCOMPARE(dlg->gibOkKnopf()->text(), text1);
                QCOMPARE(dlg->gibAbbrechenKnopf()->text(), text2);
                QVERIFY(!dlg->gibAbbrechenKnopf()->icon().isNull()); // every cancelling button looks the same
                QVERIFY(dlg->gibInhalt().contains(QStringLiteral("fett")));
                // The arrow, even while the caller shows a wait cursor.
                QCOMPARE(QApplication::overrideCursor()->shape(), Qt::ArrowCursor);
                geprueft = true;
            },
            annehmen);
        QApplication::setOverrideCursor(Qt::WaitCursor);
        const int ergebnis = DialogVorlage::zeigeMeldung(QStringLiteral("Titel"), QStringLiteral("<b>fett</b> und mehr"), art,
                                                         0, 0, knopf1, knopf2);
        QCOMPARE(QApplication::overrideCursor()->shape(), Qt::WaitCursor);
        QApplication::restoreOverrideCursor();
        QVERIFY(geprueft);
        QCOMPARE(ergebnis, annehmen ? 1 : 0);
    }
    void groesse_data()
    {
        QTest::addColumn<int>("breite");
        QTest::addColumn<int>("hoehe");
        QTest::addColumn<bool>("mindestens");
        QTest::newRow("0 x 0: natuerlich") << 0 << 0 << false;
        QTest::newRow("nur Breite: natuerlich") << 900 << 0 << false;
        QTest::newRow("420 x 250") << 420 << 250 << true;
    }
    void groesse()
    {
        QFETCH(int, breite);
        QFETCH(int, hoehe);
        QFETCH(bool, mindestens);
        QSize gesehen;
        beimOeffnen([&](DialogVorlage* dlg) { gesehen = dlg->size(); }, true);
        DialogVorlage::zeigeMeldung(QStringLiteral("T"), QStringLiteral("Kurz."), 1, breite, hoehe);
        QVERIFY(gesehen.isValid());
        if (mindestens) {
            QVERIFY2(gesehen.width() >= breite && gesehen.height() >= hoehe, qPrintable(QStringLiteral("%1x%2").arg(gesehen.width()).arg(gesehen.height())));
        } else {
            QVERIFY(gesehen.width() < 900);
            QVERIFY(gesehen.height() < 400);
        }
    }
    void abschaltbar()
    {
        TestUmgebung umgebung;
        const QString ini = umgebung.pfad() + QStringLiteral("/kora.ini");
        const QString schluessel = QStringLiteral("dialoge/hinweisX");

        // Shown, not ticked: nothing written.
        beimOeffnen([](DialogVorlage* dlg) { QVERIFY(dlg->findChild<QCheckBox*>(QStringLiteral("ckbNichtMehrAnzeigen"))->isVisible()); }, false);
        QCOMPARE(DialogVorlage::zeigeMeldungAbschaltbar(QStringLiteral("T"), QStringLiteral("x"), 2, 0, 0, {}, {}, ini, schluessel), 0);
        QVERIFY(!QSettings(ini, QSettings::IniFormat).contains(schluessel));

        // Ticked: written true, and the next call shows nothing and counts as accepted.
        beimOeffnen([](DialogVorlage* dlg) { dlg->findChild<QCheckBox*>(QStringLiteral("ckbNichtMehrAnzeigen"))->setChecked(true); }, true);
        QCOMPARE(DialogVorlage::zeigeMeldungAbschaltbar(QStringLiteral("T"), QStringLiteral("x"), 2, 0, 0, {}, {}, ini, schluessel), 1);
        QCOMPARE(QSettings(ini, QSettings::IniFormat).value(schluessel).toBool(), true);
        QCOMPARE(DialogVorlage::zeigeMeldungAbschaltbar(QStringLiteral("T"), QStringLiteral("x"), 2, 0, 0, {}, {}, ini, schluessel), 1);
        QVERIFY(!QApplication::activeModalWidget());
    }
    void hilfeTaste()
    {
        DialogVorlage dlg;
        dlg.setzeHilfeThema(QStringLiteral("berechtigung"));
        QSignalSpy hilfe(&dlg, &DialogVorlage::signalF1Hilfe);
        dlg.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dlg));
        QTest::keyClick(&dlg, Qt::Key_F1);
        QTest::mouseClick(dlg.gibHilfeKnopf(), Qt::LeftButton);
        QCOMPARE(hilfe.count(), 2);
        QCOMPARE(hilfe.at(0).at(0).toString(), QStringLiteral("berechtigung"));
        QVERIFY(dlg.isVisible()); // help does not close the dialog
    }
    void fehlendesIcon()
    {
        QTest::ignoreMessage(QtWarningMsg, "Die Ressourcen-Datei :/iconSvg/gibtEsNicht.svg existiert nicht!");
        const QIcon icon = Icons::gibIcon(QStringLiteral("gibtEsNicht"));
        QVERIFY(!icon.isNull());
        QVERIFY(!icon.pixmap(16).isNull());
        QVERIFY(Icons::gibHtmlBild(QStringLiteral("frage"), 16, 16, QStringLiteral("t"))
                    .startsWith(QStringLiteral("<img src=\"data:image/png;base64,")));
    }

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
