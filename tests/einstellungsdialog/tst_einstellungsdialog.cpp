// The settings dialog against the real ini files and the key store: nothing
// written before OK, OK never taken when nothing could be written.

#include "dialoge/einstellungen/ansichtproxyadmineinstellung.h"
#include "dialoge/einstellungen/ansichtproxyeinstellung.h"
#include "dialoge/einstellungen/ansichtproxyoptionen.h"
#include "dialoge/einstellungen/einstellungsdialog.h"
#include "dialoge/einstellungen/einstellungselementtypvalidator.h"
#include "dialoge/ressourcen.h"
#include "global/varnelApplication/einstellungen.h"
#include "global/varnelApplication/schluesselbund.h"
#include "testhilfe/testumgebung.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSettings>
#include <QtTest>
#include <memory>

Q_DECLARE_METATYPE(QValidator::State)

namespace {

QString leseIni(const QString& pfad, const char* schluessel)
{
    return QSettings(pfad, QSettings::IniFormat).value(QString::fromLatin1(schluessel)).toString();
}

void schreibeIni(const QString& pfad, const QVariantMap& werte)
{
    QSettings ini(pfad, QSettings::IniFormat);
    for (auto it = werte.cbegin(); it != werte.cend(); ++it)
        ini.setValue(it.key(), it.value());
    ini.sync();
}

// The dialog and its widgets as the user reaches them.
struct Dialog
{
    explicit Dialog(bool zeigen = true)
        : optionen(dlg.findChild<AnsichtProxyOptionen*>(QStringLiteral("proxyOptionsWidget")))
        , kora(dlg.findChild<AnsichtProxyEinstellung*>(QStringLiteral("m_ansichtKoraProxyEinstellung")))
        , admin(dlg.findChild<AnsichtProxyAdminEinstellung*>(QStringLiteral("m_ansichtAdminProxyEinstellung")))
    {
        if (zeigen)
            dlg.show();
    }
    void waehle(AnsichtProxyOptionen::Wahl w) { QTest::mouseClick(optionen->gibKnopf(w), Qt::LeftButton); }
    bool ok()
    {
        QTest::mouseClick(dlg.gibOkKnopf(), Qt::LeftButton);
        return dlg.result() == QDialog::Accepted;
    }
    static QLineEdit* feld(QWidget* block, const char* name) { return block->findChild<QLineEdit*>(QString::fromLatin1(name)); }
    static QSpinBox* port(QWidget* block) { return block->findChild<QSpinBox*>(QStringLiteral("portSpinBox")); }
    // Address, port and user of a block as shown.
    static QStringList werte(QWidget* block)
    {
        return { feld(block, "adresseTextFeld")->text(), port(block)->text(), feld(block, "benutzerTextFeld")->text() };
    }
    QWidget* adminBlock() const { return admin->gibEinstellung(); }
    QCheckBox* alleAnwender() const { return admin->findChild<QCheckBox*>(QStringLiteral("ckbAufAlleAnwenderAnwenden")); }
    QCheckBox* pruefungAus() const { return admin->findChild<QCheckBox*>(QStringLiteral("ckbPruefungAusschalten")); }

    template <typename Feld>
    static void tippe(Feld* e, const QString& text)
    {
        e->selectAll();
        QTest::keyClick(e, Qt::Key_Delete);
        QTest::keyClicks(e, text);
    }
    static void tippe(QWidget* block, const char* name, const QString& text) { tippe(feld(block, name), text); }

    EinstellungsDialog dlg;
    AnsichtProxyOptionen* optionen;
    AnsichtProxyEinstellung* kora;
    AnsichtProxyAdminEinstellung* admin;
};

} // namespace

class TstEinstellungsDialog : public QObject
{
    Q_OBJECT

    std::unique_ptr<TestUmgebung> m_umgebung;
    std::unique_ptr<FakeRueckfrage> m_rueckfrage;
    bool m_mitSchluesselbund = false;
    QString m_kora, m_tavo;

    // Each proxy choice: what ini values load it and what saving it writes.
    // Automatic detection wins over the profile when loading; saving writes "kora".
    static void proxyWahlen()
    {
        QTest::addColumn<int>("wahl");
        QTest::addColumn<bool>("adminDialog"); // only then are the machine-wide values written
        QTest::addColumn<QString>("profilGeladen");
        QTest::addColumn<QString>("profilGespeichert");
        QTest::addColumn<bool>("automatisch");
        using O = AnsichtProxyOptionen;
        QTest::newRow("kein Proxy") << int(O::KeinProxy) << false << "deaktiviert" << "deaktiviert" << false;
        QTest::newRow("automatisch") << int(O::Automatisch) << false << "admin" << "kora" << true;
        QTest::newRow("manuell") << int(O::KoraProxy) << false << "kora" << "kora" << false;
        QTest::newRow("admin gesperrt") << int(O::AdminProxy) << false << "admin" << "admin" << false;
        QTest::newRow("admin freigegeben") << int(O::AdminProxy) << true << "admin" << "admin" << false;
    }

private slots:
    void initTestCase()
    {
        initDialogRessourcen();
        m_mitSchluesselbund = !qEnvironmentVariableIsEmpty("IV_SCHLUESSELBUND");
        // Without the test keyring, never reach the developer's own.
        if (!m_mitSchluesselbund)
            qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent/iv-test-bus");
    }
    void init()
    {
        m_umgebung = std::make_unique<TestUmgebung>();
        m_rueckfrage = std::make_unique<FakeRueckfrage>();
        m_kora = Einstellungen::gibKoraIniPfad();
        m_tavo = Einstellungen::gibTavoIniPfad();
    }
    void cleanup()
    {
        m_rueckfrage.reset();
        m_umgebung.reset();
    }

    void validator_data()
    {
        QTest::addColumn<bool>("port");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QValidator::State>("erwartet");
        QTest::newRow("Port 79") << true << "79" << QValidator::Intermediate;
        QTest::newRow("Port 80") << true << "80" << QValidator::Acceptable;
        QTest::newRow("Port 65535") << true << "65535" << QValidator::Acceptable;
        QTest::newRow("Port 65536") << true << "65536" << QValidator::Invalid;
        QTest::newRow("Port mit Buchstabe") << true << "80a" << QValidator::Invalid;
        QTest::newRow("Adresse IPv4") << false << "192.168.0.1" << QValidator::Acceptable;
        QTest::newRow("Adresse Teil 256") << false << "192.168.0.256" << QValidator::Invalid;
        QTest::newRow("Adresse leerer Teil") << false << "192..0.1" << QValidator::Intermediate;
    }
    void validator()
    {
        QFETCH(bool, port);
        QFETCH(QString, text);
        QFETCH(QValidator::State, erwartet);
        QSharedPointer<const EinstellungsElementTyp> typ(port ? static_cast<EinstellungsElementTyp*>(new PortEinstellungsTyp)
                                                              : new IPAdresseEinstellungsTyp);
        EinstellungsElementTypValidator v(typ);
        int pos = 0;
        QCOMPARE(v.validate(text, pos), erwartet);
    }

    void laden_data() { proxyWahlen(); }
    void laden()
    {
        QFETCH(int, wahl);
        QFETCH(bool, adminDialog);
        QFETCH(QString, profilGeladen);
        QFETCH(bool, automatisch);
        schreibeIni(m_kora, { { "PROXY/Profil", profilGeladen }, { "PROXY/AutomatischeEinstellung", automatisch },
                              { "PROXY/Adresse", "192.168.1.2" }, { "PROXY/Anschluss", 3128 }, { "PROXY/Benutzer", "max" } });
        schreibeIni(m_tavo, { { "PROXY/Profil", "admin" }, { "PROXY/AdminDialog", adminDialog }, { "PROXY/Pruefung", false },
                              { "PROXY/Adresse", "10.0.0.1" }, { "PROXY/Anschluss", 8080 }, { "PROXY/Benutzer", "chef" } });
        Dialog d(false);
        QCOMPARE(int(d.optionen->gibWahl()), wahl);
        QCOMPARE(d.kora->isEnabled(), wahl == AnsichtProxyOptionen::KoraProxy);
        QCOMPARE(d.adminBlock()->isEnabled(), wahl == AnsichtProxyOptionen::AdminProxy);
        if (wahl == AnsichtProxyOptionen::KoraProxy)
            QCOMPARE(Dialog::werte(d.kora), QStringList({ "192.168.1.2", "3128", "max" }));
        if (wahl == AnsichtProxyOptionen::AdminProxy) {
            QCOMPARE(Dialog::werte(d.adminBlock()), QStringList({ "10.0.0.1", "8080", "chef" }));
            QCOMPARE(Dialog::feld(d.adminBlock(), "adresseTextFeld")->isReadOnly(), !adminDialog);
        }
        // The machine-wide switches show what is in force, editable only where allowed.
        QVERIFY(d.alleAnwender()->isChecked());
        QVERIFY(d.pruefungAus()->isChecked());
        QCOMPARE(d.alleAnwender()->isEnabled(), adminDialog);
    }

    void speichern_data() { proxyWahlen(); }
    void speichern()
    {
        QFETCH(int, wahl);
        QFETCH(bool, adminDialog);
        QFETCH(QString, profilGespeichert);
        QFETCH(bool, automatisch);
        const QString tavoAdresse = adminDialog ? QStringLiteral("10.9.9.9") : QStringLiteral("10.0.0.1");
        schreibeIni(m_kora, { { "PROXY/Profil", "deaktiviert" }, { "PROXY/Adresse", "1.1.1.1" }, { "PROXY/Anschluss", 81 } });
        schreibeIni(m_tavo, { { "PROXY/AdminDialog", adminDialog }, { "PROXY/Adresse", "10.0.0.1" },
                              { "PROXY/Anschluss", 8080 }, { "PROXY/Benutzer", "chef" } });

        Dialog d;
        QVERIFY(QTest::qWaitForWindowExposed(&d.dlg));
        d.waehle(AnsichtProxyOptionen::Wahl(wahl));
        if (wahl == AnsichtProxyOptionen::KoraProxy) {
            Dialog::tippe(d.kora, "adresseTextFeld", QStringLiteral("192.168.7.7"));
            Dialog::tippe(Dialog::port(d.kora), QStringLiteral("8080"));
            Dialog::tippe(d.kora, "benutzerTextFeld", QStringLiteral("moritz"));
        }
        if (wahl == AnsichtProxyOptionen::AdminProxy && adminDialog)
            Dialog::tippe(d.adminBlock(), "adresseTextFeld", tavoAdresse);
        if (adminDialog) {
            QTest::mouseClick(d.alleAnwender(), Qt::LeftButton);
            QTest::mouseClick(d.pruefungAus(), Qt::LeftButton);
        }
        QVERIFY(d.ok());
        QVERIFY(m_rueckfrage->fragen.isEmpty());

        QCOMPARE(leseIni(m_kora, "PROXY/Profil"), profilGespeichert);
        QCOMPARE(QVariant(leseIni(m_kora, "PROXY/AutomatischeEinstellung")).toBool(), automatisch);
        const QStringList koraBlock{ leseIni(m_kora, "PROXY/Adresse"), leseIni(m_kora, "PROXY/Anschluss"),
                                     leseIni(m_kora, "PROXY/Benutzer") };
        QCOMPARE(koraBlock, wahl == AnsichtProxyOptionen::KoraProxy ? QStringList({ "192.168.7.7", "8080", "moritz" })
                                                                    : QStringList({ "1.1.1.1", "81", "" }));
        QCOMPARE(leseIni(m_tavo, "PROXY/Profil"), adminDialog ? QStringLiteral("admin") : QString());
        QCOMPARE(leseIni(m_tavo, "PROXY/Pruefung"), adminDialog ? QStringLiteral("false") : QString());
        QCOMPARE(leseIni(m_tavo, "PROXY/Adresse"), tavoAdresse);
        QCOMPARE(leseIni(m_tavo, "PROXY/Benutzer"), QStringLiteral("chef"));
    }

    // Without kora.ini: no proxy, no port "0"; neither a refused OK nor cancel
    // writes a file, nor the machine-wide switch changed before.
    void abbrechenSchreibtNichts()
    {
        schreibeIni(m_tavo, { { "PROXY/AdminDialog", true } });
        const QByteArray tavoVorher = TestUmgebung::leseDatei(m_tavo);
        Dialog d;
        QVERIFY(QTest::qWaitForWindowExposed(&d.dlg));
        QTest::mouseClick(d.alleAnwender(), Qt::LeftButton);
        QRadioButton* kein = d.optionen->gibKnopf(AnsichtProxyOptionen::KeinProxy);
        QVERIFY(kein->isChecked());
        QCOMPARE(kein->text(), QStringLiteral("Kein Proxy-Server"));
        QCOMPARE(Dialog::port(d.kora)->text(), QString());
        d.waehle(AnsichtProxyOptionen::KoraProxy);
        // An incomplete address is refused and the dialog stays open.
        Dialog::tippe(d.kora, "adresseTextFeld", QStringLiteral("192.168."));
        QVERIFY(!d.ok());
        QCOMPARE(m_rueckfrage->fragen.size(), 1);
        QVERIFY(m_rueckfrage->fragen.first().text.contains(QStringLiteral("unvollständig")));
        QVERIFY(d.dlg.isVisible());
        QTest::mouseClick(d.dlg.gibAbbrechenKnopf(), Qt::LeftButton);
        QCOMPARE(d.dlg.result(), int(QDialog::Rejected));
        QVERIFY(!QFileInfo::exists(m_kora));
        QCOMPARE(TestUmgebung::leseDatei(m_tavo), tavoVorher);

        // Nothing could be stored (a folder where kora.ini belongs): OK says so and stays open.
        QVERIFY(QDir().mkpath(m_kora));
        Dialog unbeschreibbar;
        QVERIFY(!unbeschreibbar.ok());
        QVERIFY(unbeschreibbar.dlg.isVisible());
        QCOMPARE(m_rueckfrage->fragen.size(), 2);
        QVERIFY(m_rueckfrage->fragen.last().text.contains(QStringLiteral("nicht gespeichert")));
    }

    void passwoerter()
    {
        if (!m_mitSchluesselbund)
            QSKIP("Kein entsperrter Schluesselbund: mit scripts/test starten (setzt IV_SCHLUESSELBUND=1).");
        Schluesselbund::loesche(Schluesselbund::proxyPasswort());
        Schluesselbund::loesche(Schluesselbund::adminPasswort());
        schreibeIni(m_tavo, { { "PROXY/AdminDialog", true }, { "PROXY/Adresse", "10.0.0.1" }, { "PROXY/Anschluss", 8080 } });
        {
            Dialog d;
            d.waehle(AnsichtProxyOptionen::KoraProxy);
            Dialog::tippe(d.kora, "adresseTextFeld", QStringLiteral("10.1.2.3"));
            Dialog::tippe(Dialog::port(d.kora), QStringLiteral("3128"));
            Dialog::tippe(d.kora, "passwortTextFeld", QStringLiteral("gehe im!"));
            QVERIFY(d.ok());
        }
        QCOMPARE(Einstellungen::getKoraProxyPassword(), QStringLiteral("gehe im!"));
        QVERIFY(!TestUmgebung::leseDatei(m_kora).contains("gehe"));
        {
            Dialog wieder;
            QCOMPARE(Dialog::feld(wieder.kora, "passwortTextFeld")->text(), QStringLiteral("gehe im!"));
            // Saving again without touching the password keeps it.
            QVERIFY(Einstellungen::setKoraProxyPassword(QStringLiteral("alt")));
            Dialog::tippe(wieder.kora, "adresseTextFeld", QStringLiteral("10.1.2.4"));
            QVERIFY(wieder.ok());
            QCOMPARE(leseIni(m_kora, "PROXY/Adresse"), QStringLiteral("10.1.2.4"));
            QCOMPARE(Einstellungen::getKoraProxyPassword(), QStringLiteral("alt"));
        }
        // The administrator's password goes to its own entry.
        Dialog admin;
        admin.waehle(AnsichtProxyOptionen::AdminProxy);
        Dialog::tippe(admin.adminBlock(), "passwortTextFeld", QStringLiteral("chefsache"));
        QVERIFY(admin.ok());
        QCOMPARE(Einstellungen::getAdminProxyPassword(), QStringLiteral("chefsache"));
        QVERIFY(!TestUmgebung::leseDatei(m_tavo).contains("chefsache"));
        QCOMPARE(Einstellungen::getKoraProxyPassword(), QStringLiteral("alt"));
    }
};

QTEST_MAIN(TstEinstellungsDialog)
#include "tst_einstellungsdialog.moc"
