// The wizard against an engine filled in memory, with a recording run and hand-over.

#include "dialoge/ressourcen.h"
#include "global/varnelApplication/einstellungen.h"
#include "pluginManager/dlgPluginManager.h"
#include "pluginManager/dlgPluginManagerDatenmodel.h"
#include "pluginManager/plugin.h"
#include "pluginManager/pluginManager.h"
#include "pluginManager/startwerte.h"
#include "pluginManager/wizardablauf.h"
#include "testhilfe/testumgebung.h"
#include "tests/inventar/dicthilfe.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QTableView>
#include <QTest>
#include <memory>

namespace {

class FakeAblauf : public WizardAblauf
{
public:
    bool beendeWennZielNetzlaufwerkIst() override { return false; }
    bool beendeKoras() override { ++koras; return korasBeendet; }
    bool neuStartMitAdminRechten() override { ++neustarts; return true; }
    bool aktionsAusfuehrung() override { ++ausfuehrungen; return false; }
    bool abbruchDurchAnwender() override { ++abbrueche; return abbruchErlaubt; }
    bool laeuftMitAdminRechten() const override { return admin; }
    QMultiMap<int, QString> gibMeldungen() const override { return meldungen; }

    int koras = 0, neustarts = 0, ausfuehrungen = 0, abbrueche = 0;
    bool korasBeendet = true, abbruchErlaubt = false, admin = false;
    QMultiMap<int, QString> meldungen;
};

Plugin* modul(const char* kurz, uint jahr, int status, bool neuerZeitraum = false)
{
    auto* p = new Plugin;
    p->setzeName(QStringLiteral("Modul %1").arg(QString::fromLatin1(kurz)));
    p->setzeKurzname(QString::fromLatin1(kurz));
    p->setzeJahr(jahr);
    p->setzeInterfaceNr(5);
    p->setzeStatus(status);
    p->setzeNeuerZeitraum(neuerZeitraum);
    p->setzeInitialisiert(true);
    return p;
}

class TestEngine : public PluginManager
{
public:
    void setzeServerStatus(int status) { mi_ServerStatus = status; }
};

struct Aufbau
{
    TestUmgebung umgebung;
    FakeRueckfrage fragen;
    TestEngine engine;
    FakeAblauf ablauf;
    std::unique_ptr<DlgPluginManager> wizard;

    // Two renewable installed modules (0x42), one current; two installable
    // offers (0x82), the first a new year of an installed declaration.
    Aufbau()
    {
        engine.setzePluginKoraInstalliert(modul("kora", 9999, 0x22));
        engine.setzePluginKoraVerfuegbar(modul("kora", 9999, 0x22));
        for (const char* kurz : { "est", "ust" })
            engine.gibDatenmodelInstalliert()->fuegeHinzu(modul(kurz, 2019, 0x42));
        engine.gibDatenmodelInstalliert()->fuegeHinzu(modul("gew", 2019, 0x22));
        engine.gibDatenmodelVerfuegbar()->fuegeHinzu(modul("est", 2020, 0x82, true));
        engine.gibDatenmodelVerfuegbar()->fuegeHinzu(modul("lsta", 2020, 0x82));
        wizard.reset(new DlgPluginManager(&engine, true));
        wizard->setzeAblauf(&ablauf);
        wizard->setzteTabBenutzerdefiniert(1);
        wizard->show();
        wizard->initGui();
    }
    QPushButton* weiter() const { return wizard->findChild<QPushButton*>(QStringLiteral("btnWeiter")); }
    int schritte() { int n = 0; engine.gibAktionen(n); return n; }
    // The views sort the lists themselves: records are found by name.
    static Plugin* finde(DlgPluginManagerDatenmodel* m, const char* kurz)
    {
        for (Plugin* p : m->gibListe())
            if (p->gibKurzname() == QLatin1String(kurz))
                return p;
        return nullptr;
    }
    Plugin* installiert(const char* kurz) { return finde(engine.gibDatenmodelInstalliert(), kurz); }
    Plugin* verfuegbar(const char* kurz) { return finde(engine.gibDatenmodelVerfuegbar(), kurz); }
};

} // namespace

class TstWizard : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { initDialogRessourcen(); }

    // Forward follows the ticks (the installed side: vereinfachteAuswahl).
    void weiterKnopfFolgtDenSchritten()
    {
        Aufbau a;
        QVERIFY(!a.weiter()->isEnabled());
        // Nothing ticked on the custom tab: forward stays on the start page and says why.
        a.wizard->naechsterSchritt(true);
        QCOMPARE(a.wizard->gibSchritt(), int(DlgPluginManager::SCHRITT_START));
        QCOMPARE(a.fragen.fragen.size(), 1);
        QCOMPARE(a.fragen.fragen.at(0).text, QStringLiteral("Es wurde noch keine Aktion ausgew\u00e4hlt."));
        a.verfuegbar("lsta")->setzeAktion(Plugin::INSTALLIEREN);
        emit a.engine.datenAenderung();
        QVERIFY(a.schritte() > 0 && a.weiter()->isEnabled());
        a.verfuegbar("lsta")->setzeAktion(Plugin::KEINE);
        emit a.engine.datenAenderung();
        QVERIFY(!a.weiter()->isEnabled());
    }

    // The tick sequences are the model's; here only that Enter on a row ticks it
    // on either tab, and nothing else: the wizard stays on its page.
    void zeileAktivierenWieHaken_data()
    {
        QTest::addColumn<bool>("verfuegbarSeite");
        QTest::addColumn<int>("aktion");
        QTest::newRow("installiert") << false << int(Plugin::ENTFERNEN);
        QTest::newRow("verfuegbar") << true << int(Plugin::INSTALLIEREN);
    }
    void zeileAktivierenWieHaken()
    {
        QFETCH(bool, verfuegbarSeite);
        QFETCH(int, aktion);
        Aufbau a;
        auto* view = a.wizard->findChild<QTableView*>(verfuegbarSeite ? QStringLiteral("tableViewVerfuegbare")
                                                                       : QStringLiteral("tableViewInstallierte"));
        a.wizard->findChild<QTabWidget*>(QStringLiteral("tabWidget"))->setCurrentIndex(verfuegbarSeite ? 1 : 0);
        auto* model = static_cast<DlgPluginManagerDatenmodel*>(view->model());
        Plugin* p = verfuegbarSeite ? a.verfuegbar("est") : a.installiert("est");
        view->setFocus();
        view->setCurrentIndex(model->index(model->zeileVonIndex(model->gibListe().indexOf(p)), 0));
        QTest::keyClick(view, Qt::Key_Return);
        QCOMPARE(p->gibAktion(), aktion);
        QCOMPARE(a.wizard->gibSchritt(), int(DlgPluginManager::SCHRITT_START));
        QVERIFY(a.weiter()->isEnabled());
    }

    void ablaufBisZumErgebnis_data()
    {
        QTest::addColumn<bool>("admin");
        QTest::newRow("mit Rechten") << true;
        QTest::newRow("ohne Rechte") << false;
    }
    void ablaufBisZumErgebnis()
    {
        QFETCH(bool, admin);
        Aufbau a;
        a.ablauf.admin = admin;
        a.installiert("est")->setzeAktion(Plugin::ERNEUERN);
        emit a.engine.datenAenderung();
        a.weiter()->click();
        QCOMPARE(a.wizard->gibSchritt(), int(DlgPluginManager::SCHRITT_ZUSAMMENFASSUNG));
        QVERIFY(a.wizard->gibTextBrowserHtml().contains(QStringLiteral("wird aktualisiert.")));
        // The hint about a restart with administrator rights only when not elevated.
        QCOMPARE(a.wizard->gibTextBrowserHtml().contains(QStringLiteral("mit Administratorrechten erforderlich")), !admin);
        // Main application still running: stay on the summary.
        a.ablauf.korasBeendet = false;
        a.weiter()->click();
        QCOMPARE(a.wizard->gibSchritt(), int(DlgPluginManager::SCHRITT_ZUSAMMENFASSUNG));
        QVERIFY(a.weiter()->isEnabled());
        a.ablauf.korasBeendet = true;
        a.weiter()->click();
        QCOMPARE(a.wizard->gibSchritt(), int(DlgPluginManager::SCHRITT_LIZENZ));

        // Disagreeing with the licence disables forward.
        auto* ja = a.wizard->findChild<QRadioButton*>(QStringLiteral("radioButton_Zustimmung"));
        auto* nein = a.wizard->findChild<QRadioButton*>(QStringLiteral("radioButton_Ablehnung"));
        QVERIFY(nein->isChecked() && !a.weiter()->isEnabled());
        ja->click();
        QVERIFY(a.weiter()->isEnabled());
        nein->click();
        QVERIFY(!a.weiter()->isEnabled());
        ja->click();
        QVERIFY(!Einstellungen::getAdminDsgvoGelesen());
        a.weiter()->click();
        QVERIFY(Einstellungen::getAdminDsgvoGelesen());
        // Not elevated: the work is handed over instead of run here.
        QCOMPARE(a.ablauf.ausfuehrungen, admin ? 1 : 0);
        QCOMPARE(a.ablauf.neustarts, admin ? 0 : 1);
        if (admin)
            QCOMPARE(a.wizard->gibSchritt(), int(DlgPluginManager::SCHRITT_ERGEBNIS));
    }

    void schliessenWaehrendDerAktionen_data()
    {
        QTest::addColumn<bool>("laufen");
        QTest::addColumn<bool>("abbruchErlaubt");
        QTest::newRow("schritt 4, abgelehnt") << false << false;
        QTest::newRow("schritt 5, abgelehnt") << true << false;
        QTest::newRow("schritt 5, angenommen") << true << true;
    }
    void schliessenWaehrendDerAktionen()
    {
        QFETCH(bool, laufen);
        QFETCH(bool, abbruchErlaubt);
        Aufbau a;
        a.ablauf.abbruchErlaubt = abbruchErlaubt;
        a.wizard->zeigeSeite(4);
        if (laufen)
            a.wizard->setzeStatusWarteAufEndeAktionen(true);
        QCOMPARE(a.wizard->gibSchritt(), laufen ? 5 : 4);
        QVERIFY(!a.wizard->close());
        a.wizard->reject(); // Escape takes the same way
        QVERIFY(a.wizard->isVisible());
        QCOMPARE(a.ablauf.abbrueche, 2);
        QCOMPARE(a.fragen.fragen.size(), abbruchErlaubt ? 0 : 2);
        // Once the run has ended the window closes.
        a.wizard->setzeStatusWarteAufEndeAktionen(false);
        QVERIFY(a.wizard->close());
    }

    // The result page: errors first and the reinstallation hint unless the fault
    // lies outside the installation; "Fertig" asks about a restart only after the
    // main application itself was updated.
    void ergebnisseite_data()
    {
        QTest::addColumn<QStringList>("fehler");
        QTest::addColumn<QString>("erfolg");
        QTest::addColumn<bool>("hinweis");
        QTest::addColumn<bool>("frage");
        const QString modul = QStringLiteral("\"ESt 2020\" wurde nicht installiert.");
        const QString erneuert = QStringLiteral("\"USt 2020\" wurde erneuert.");
        QTest::newRow("Modul") << QStringList{ modul } << erneuert << true << false;
        QTest::newRow("Download-Speicher")
            << QStringList{ modul, QStringLiteral("F&uuml;r den Download der Aktualisierungen fehlen 2 GB freier Speicher "
                                                  "auf dem Ziellaufwerk (/opt).") }
            << erneuert << false << false;
        QTest::newRow("Netzlaufwerk")
            << QStringList{ QStringLiteral("Die Installationsverwaltung kann die Aktualisierung nicht durchf&uuml;hren, "
                                           "weil Fiscalon auf einem Netzlaufwerk installiert wurde. ") }
            << erneuert << false << false;
        QTest::newRow("Hauptprogramm") << QStringList() << "Das Hauptprogramm und die Steuerberechnung wurden aktualisiert."
                                       << false << true;
    }
    void ergebnisseite()
    {
        QFETCH(QStringList, fehler);
        QFETCH(QString, erfolg);
        QFETCH(bool, hinweis);
        QFETCH(bool, frage);
        Aufbau a;
        for (const QString& f : fehler)
            a.ablauf.meldungen.insert(1, f);
        a.ablauf.meldungen.insert(0, erfolg);
        a.wizard->zeigeSeite(6);
        const QString html = a.wizard->gibTextBrowserHtml();
        QCOMPARE(html.contains(QStringLiteral("Neuinstallation")), hinweis);
        QVERIFY(html.contains(erfolg.section(QLatin1Char('"'), -1))); // quotes come back as entities
        // Errors come first, in the order the run recorded them.
        if (fehler.size() > 1)
            QVERIFY(html.indexOf(QStringLiteral("ESt 2020")) < html.indexOf(QStringLiteral("Download")));
        // The program lies directly in the main-application directory.
        const QString alt = gs_KoraDir;
        QDir eltern(QCoreApplication::applicationDirPath());
        eltern.cdUp();
        gs_KoraDir = eltern.absolutePath();
        a.weiter()->click(); // "Fertig": closes
        gs_KoraDir = alt;
        QVERIFY(!a.wizard->isVisible());
        QCOMPARE(a.fragen.fragen.size(), frage ? 1 : 0);
    }

    void vereinfachteAuswahl()
    {
        Aufbau a;
        a.wizard->setzteTabBenutzerdefiniert(0);
        auto* alle = a.wizard->findChild<QCheckBox*>(QStringLiteral("checkBox_alleUpdates"));
        auto* jahre = a.wizard->findChild<QCheckBox*>(QStringLiteral("checkBox_FolgeJahre"));
        // Two renewable modules, none ticked: partly.
        QCOMPARE(alle->checkState(), Qt::PartiallyChecked);
        alle->click();
        QCOMPARE(alle->checkState(), Qt::Checked);
        QCOMPARE(QList<int>({ a.installiert("est")->gibAktion(), a.installiert("ust")->gibAktion() }),
                 QList<int>({ Plugin::ERNEUERN, Plugin::ERNEUERN }));
        QVERIFY(a.weiter()->isEnabled());
        alle->click();
        QCOMPARE(alle->checkState(), Qt::Unchecked);
        QCOMPARE(a.installiert("est")->gibAktion(), int(Plugin::KEINE));
        QVERIFY(!a.weiter()->isEnabled());
        jahre->click();
        QCOMPARE(a.verfuegbar("est")->gibAktion(), int(Plugin::INSTALLIEREN));
        QCOMPARE(a.verfuegbar("lsta")->gibAktion(), int(Plugin::KEINE));
        QCOMPARE(jahre->checkState(), Qt::Checked);
    }

    void hinweisDerStartseite_data()
    {
        QTest::addColumn<QString>("fall");
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("fehler");
        QTest::addColumn<bool>("auswahl");
        QTest::newRow("Verbindung") << "status1" << "Die Verbindung zu dem Update-Server konnte nicht aufgebaut werden."
                                    << true << false;
        QTest::newRow("kein Hauptprogramm auf dem Server")
            << "ohneServerKora" << "wurde auf dem Server kein Update gefunden." << true << false;
        QTest::newRow("kein Hauptprogramm installiert")
            << "ohneKora" << "Die Installation von Fiscalon ist fehlerhaft." << true << true;
        QTest::newRow("Update") << "" << "Es ist ein Update verf\u00fcgbar. Die letzte Aktualisierung erfolgte am "
                                        "02.01.2021 08:30." << false << true;
        QTest::newRow("aktuell, neue Jahre") << "aktuell" << "neue Zeitr\u00e4ume gibt." << false << true;
    }
    void hinweisDerStartseite()
    {
        QFETCH(QString, fall);
        QFETCH(QString, text);
        QFETCH(bool, fehler);
        QFETCH(bool, auswahl);
        Aufbau a;
        Einstellungen::setAdminLastUpdateInstallation(QDateTime(QDate(2021, 1, 2), QTime(8, 30)));
        if (fall.startsWith(QLatin1String("status")))
            a.engine.setzeServerStatus(fall.mid(6).toInt());
        else if (fall == QLatin1String("ohneServerKora"))
            a.engine.setzePluginKoraVerfuegbar(nullptr);
        else if (fall == QLatin1String("ohneKora"))
            a.engine.setzePluginKoraInstalliert(nullptr);
        else if (fall == QLatin1String("aktuell"))
            for (Plugin* p : a.engine.gibDatenmodelInstalliert()->gibListe())
                p->setzeStatus(0x22);
        a.wizard->initGui();
        const QString html = a.wizard->gibHinweisHtml();
        QVERIFY2(html.contains(text), qPrintable(html));
        QCOMPARE(html.contains(QStringLiteral("tomato")), fehler);
        QCOMPARE(a.wizard->findChild<QTableView*>(QStringLiteral("tableViewInstallierte"))->isEnabled(), auswahl);
        // The simplified boxes need an installed main application as well.
        QCOMPARE(a.wizard->findChild<QCheckBox*>(QStringLiteral("checkBox_alleUpdates"))->isEnabled(),
                 auswahl && fall != QLatin1String("ohneKora"));
    }

    void zusammenfassungAllesEntfernen()
    {
        Aufbau a;
        for (Plugin* p : a.engine.gibDatenmodelInstalliert()->gibListe())
            p->setzeAktion(Plugin::ENTFERNEN);
        a.wizard->zeigeSeite(2);
        const QString html = a.wizard->gibTextBrowserHtml();
        QVERIFY(html.contains(QStringLiteral("keine Deinstallation der Hauptanwendung")));
        QCOMPARE(html.count(QStringLiteral("wird entfernt.")), 3);
    }

    void pruefenKnopf()
    {
        // est 2019 on the disk, one file changed after its signed dictionary;
        // the server offers the same revision.
        Aufbau a;
        DictHilfe::Schluessel schluessel(a.umgebung.pfad() + QStringLiteral("/schluessel"));
        QVERIFY(schluessel.istGueltig());
        schluessel.aktiviere();
        const QString kora = a.umgebung.pfad() + QStringLiteral("/Fiscalon");
        DictHilfe::Daten d;
        d.kurzname = QStringLiteral("est");
        d.jahr = QStringLiteral("2019");
        d.langname = QStringLiteral("Modul est");
        d.unterfallArt = QStringLiteral("10");
        DictHilfe::datei(d, kora, QStringLiteral("plugins/est2019.so"), "Modul est 2019\n");
        QVERIFY(schluessel.schreibeDict(kora + QStringLiteral("/dict/est_19.dict"), d, false));
        DictHilfe::schreibe(kora + QStringLiteral("/plugins/est2019.so"), "kaputt\n");
        Plugin* est = a.installiert("est");
        est->setzeDictDatei(kora + QStringLiteral("/dict/est_19.dict"));
        est->setzeRev(27289);
        Plugin* neu = modul("est", 2019, 0x22);
        neu->setzeRev(27289);
        a.engine.gibDatenmodelVerfuegbar()->fuegeHinzu(neu);
        const QString altKora = gs_KoraDir, altBenutzer = gs_DirUserKora;
        gs_KoraDir = kora;
        gs_DirUserKora = a.umgebung.pfad() + QStringLiteral("/kora");
        QDir().mkpath(PluginManager::gibDirDaten());
        a.wizard->setzteTabBenutzerdefiniert(0);

        a.wizard->findChild<QPushButton*>(QStringLiteral("btnPruefen"))->click();
        const bool journal = QFileInfo::exists(Laufjournal::pfad());
        gs_KoraDir = altKora;
        gs_DirUserKora = altBenutzer;
        QCOMPARE(a.fragen.fragen.size(), 1);
        const QString bericht = a.fragen.fragen.at(0).text;
        QVERIFY2(bericht.contains(QStringLiteral("Modul est 2019: 1 Dateien gepr\u00fcft, 0 fehlen, 1 ge\u00e4ndert - BESCH\u00c4DIGT")),
                 qPrintable(bericht));
        QVERIFY(bericht.contains(QStringLiteral("ge\u00e4ndert: plugins/est2019.so")));
        QCOMPARE(a.fragen.fragen.at(0).art, 2);
        // Ticked for repair where the user sees it, and noted for the next run.
        QCOMPARE(est->gibAktion(), int(Plugin::ERNEUERN));
        QVERIFY(est->istBeschaedigt());
        QCOMPARE(a.installiert("ust")->gibAktion(), int(Plugin::KEINE));
        QCOMPARE(a.wizard->findChild<QTabWidget*>(QStringLiteral("tabWidget_Modi"))->currentIndex(), 1);
        QVERIFY(journal);
    }
};

QTEST_MAIN(TstWizard)
#include "tst_wizard.moc"
