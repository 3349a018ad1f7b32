// The small dialogs as the engine and the user meet them: message, proxy
// password, consent, closing the main application, help.

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
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <QtTest>
#include <functional>
#include <memory>

namespace {

// A main application that answers the instance protocol as "kora" on a port
// of its range, registered in tavo.ini as the main application does.
struct KoraAttrappe : QTcpServer
{
    int fragen = 0;
    bool starte()
    {
        const auto bereich = VarnelKern::portBereich(QStringLiteral("kora"));
        for (quint16 port = bereich.first; port < bereich.second && !isListening(); ++port)
            listen(QHostAddress::LocalHost, port);
        connect(this, &QTcpServer::newConnection, this, [this] {
            QTcpSocket* s = nextPendingConnection();
            connect(s, &QTcpSocket::readyRead, s, [this, s] {
                if (s->canReadLine()) {
                    s->readLine();
                    ++fragen;
                    s->write("kora\n");
                }
            });
        });
        Einstellungen::gibTavoIni()->setValue(QStringLiteral("KORA/tester"), int(serverPort()));
        return isListening();
    }
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

    // Only the question has buttons of its own; the other kinds differ in the
    // icon alone. A size is a minimum, and only when both sides are given.
    void meldung_data()
    {
        QTest::addColumn<int>("art");
        QTest::addColumn<QString>("knopf1");
        QTest::addColumn<QString>("knopf2");
        QTest::addColumn<bool>("annehmen");
        QTest::addColumn<QString>("text1");
        QTest::addColumn<QString>("text2");
        QTest::addColumn<QSize>("groesse");
        QTest::newRow("Warnung, 0 x 0") << 2 << "" << "" << true << "OK" << "Abbrechen" << QSize(0, 0);
        QTest::newRow("Frage nein, nur Breite") << 4 << "" << "" << false << "Ja" << "Nein" << QSize(900, 0);
        QTest::newRow("eigene Texte, 420 x 250") << 4 << "Weiter" << "Zur\u00fcck" << true << "Weiter" << "Zur\u00fcck" << QSize(420, 250);
        QTest::newRow("nur erster eigener") << 1 << "Schlie\u00dfen" << "" << true << "Schlie\u00dfen" << "Abbrechen" << QSize(0, 0);
    }
    void meldung()
    {
        QFETCH(int, art);
        QFETCH(QString, knopf1);
        QFETCH(QString, knopf2);
        QFETCH(bool, annehmen);
        QFETCH(QString, text1);
        QFETCH(QString, text2);
        QFETCH(QSize, groesse);
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
                const QSize s = dlg->size();
                if (groesse.height() > 0)
                    QVERIFY2(s.width() >= groesse.width() && s.height() >= groesse.height(), qPrintable(QStringLiteral("%1x%2").arg(s.width()).arg(s.height())));
                else
                    QVERIFY(s.width() < 900 && s.height() < 400);
                geprueft = true;
            },
            annehmen);
        QApplication::setOverrideCursor(Qt::WaitCursor);
        const int ergebnis = DialogVorlage::zeigeMeldung(QStringLiteral("Titel"), QStringLiteral("<b>fett</b> und mehr"), art,
                                                         groesse.width(), groesse.height(), knopf1, knopf2);
        QCOMPARE(QApplication::overrideCursor()->shape(), Qt::WaitCursor);
        QApplication::restoreOverrideCursor();
        QVERIFY(geprueft);
        QCOMPARE(ergebnis, annehmen ? 1 : 0);
    }
    void abschaltbar()
    {
        const QString ini = m_umgebung->pfad() + QStringLiteral("/kora.ini"), schluessel = QStringLiteral("dialoge/hinweisX");
        const auto zeige = [&](bool ankreuzen) {
            beimOeffnen([=](DialogVorlage* dlg) {
                auto* box = dlg->findChild<QCheckBox*>(QStringLiteral("ckbNichtMehrAnzeigen"));
                QVERIFY(box->isVisible());
                box->setChecked(ankreuzen);
            }, ankreuzen);
            return DialogVorlage::zeigeMeldungAbschaltbar(QStringLiteral("T"), QStringLiteral("x"), 2, 0, 0, {}, {}, ini, schluessel);
        };
        // Not ticked: nothing written.
        QCOMPARE(zeige(false), 0);
        QVERIFY(!QSettings(ini, QSettings::IniFormat).contains(schluessel));
        // Ticked: written true, and the next call shows nothing and counts as accepted.
        QCOMPARE(zeige(true), 1);
        QCOMPARE(QSettings(ini, QSettings::IniFormat).value(schluessel).toBool(), true);
        QCOMPARE(DialogVorlage::zeigeMeldungAbschaltbar(QStringLiteral("T"), QStringLiteral("x"), 2, 0, 0, {}, {}, ini, schluessel), 1);
        QVERIFY(!QApplication::activeModalWidget());
    }
    void fehlendesIcon()
    {
        QTest::ignoreMessage(QtWarningMsg, "Die Ressourcen-Datei :/iconSvg/gibtEsNicht.svg existiert nicht!");
        const QIcon icon = Icons::gibIcon(QStringLiteral("gibtEsNicht"));
        QVERIFY(!icon.pixmap(16).isNull());
        QVERIFY(Icons::gibHtmlBild(QStringLiteral("frage"), 16, 16, QStringLiteral("t"))
                    .startsWith(QStringLiteral("<img src=\"data:image/png;base64,")));
    }

    // The host comes from settings or the network: shown as text, never as
    // markup. Without a user name the dialog warns and stays open.
    void passwort_data()
    {
        QTest::addColumn<int>("versuch");
        QTest::addColumn<QString>("titel");
        const QString t = QStringLiteral("Benutzername und Passwort für den Proxy-Server");
        QTest::newRow("erster Versuch") << 1 << t;
        QTest::newRow("zweiter Versuch") << 2 << t + QStringLiteral(" 2. Versuch");
    }
    void passwort()
    {
        QFETCH(int, versuch);
        QFETCH(QString, titel);
        DialogPasswortProxy dlg(QStringLiteral("<i>x</i>&amp;%2"), 3128, versuch);
        QCOMPARE(dlg.windowTitle(), titel);
        const QString text = dlg.gibInhalt();
        QVERIFY2(text.contains(QStringLiteral("<i>x</i>&amp;%2 : 3128")), qPrintable(text));
        QCOMPARE(text.contains(QStringLiteral("Benutzername und Passwort waren nicht korrekt!")), versuch > 1);
        auto* passwort = dlg.findChild<QLineEdit*>(QStringLiteral("edtPasswort"));
        QCOMPARE(passwort->echoMode(), QLineEdit::Password);

        dlg.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dlg));
        QTest::keyClicks(passwort, QStringLiteral("geh eim"));
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
        QTest::newRow("Ja, immer") << "btnJaImmer" << int(QDialogButtonBox::YesRole) << int(DlgInternet::JaImmer)
                                   << int(QDialogButtonBox::YesRole);
        QTest::newRow("Ja, einmalig") << "btnOk" << int(QDialog::Accepted) << int(DlgInternet::JaEinmalig)
                                      << int(QDialogButtonBox::AcceptRole);
        QTest::newRow("Nein") << "btnAbbrechen" << int(QDialog::Rejected) << int(DlgInternet::Nein) << int(QDialogButtonBox::RejectRole);
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
        QTest::newRow("genau Fiscalon") << "Fiscalon" << int(B::Schliessen);
        QTest::newRow("Fiscalon mit Fall") << "Fiscalon - Einkommensteuer 2024" << int(B::NachVorneUndSchliessen);
        QTest::newRow("beide Wörter") << "Fiscalon Installationsverwaltung" << int(B::Ignorieren);
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
        QVERIFY(dlg.isVisible() && dlg.istAmWarten());
        QTest::mouseClick(dlg.gibAbbrechenKnopf(), Qt::LeftButton);
        QCOMPARE(dlg.result(), int(QDialog::Rejected));
        // The cancel ends the waiting: the main application's end accepts nothing later.
        QVERIFY(!dlg.istAmWarten());
    }

    // F1 and the help button both ask the viewer for the dialog's topic, by
    // remote control, and leave the dialog open.
    void hilfe()
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
        QTest::mouseClick(dlg.gibHilfeKnopf(), Qt::LeftButton);
        QTRY_COMPARE(TestUmgebung::leseDatei(protokoll + QStringLiteral(".stdin")),
                     QByteArray("activateIdentifier berechtigung\nactivateIdentifier berechtigung\n"));
        QVERIFY(dlg.isVisible());
        // One viewer, started with the collection and remote control.
        QCOMPARE(TestUmgebung::leseDatei(protokoll + QStringLiteral(".args")),
                 "-collectionFile " + sammlung.toUtf8() + " -enableRemoteControl\n");

        Hilfe::instanz().setzeBetrachter(QString());
        gs_KoraDir = altKoraDir;
    }
};

QTEST_MAIN(TstDialogeKlein)
#include "tst_dialogeklein.moc"
