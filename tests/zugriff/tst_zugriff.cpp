// Whether the manager may go online: the automatic-check schedule, the
// consent asked at most once per process and remembered in kora.ini, and the
// decision by run mode and process.

#include "global/varnelApplication/einstellungen.h"
#include "global/varnelApplication/logbase.h"
#include "pluginManager/pluginManager.h"
#include "pluginManager/startwerte.h"
#include "tests/testhilfe/testumgebung.h"

#include <QtTest>
#include <memory>

namespace {
constexpr qint64 kStunde = 3600;
constexpr qint64 kTag = 24 * kStunde;
constexpr qint64 kNie = -1;

void setzeZeitpunkt(const char* schluessel, qint64 sekundenHer)
{
    if (sekundenHer != kNie)
        Einstellungen::setAdminWert(QLatin1String(schluessel),
                                    Einstellungen::alsText(QDateTime::currentDateTime().addSecs(-sekundenHer)));
}
} // namespace

class TstZugriff : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { initLogBase(QStringLiteral("tst_zugriff"), 10 * 1024 * 1024, m_log.path()); }
    void cleanupTestCase() { beendeLogBase(); }
    void init();
    void cleanup();

    void zeitplan_data();
    void zeitplan();
    void einwilligung_data();
    void einwilligung();
    void entscheidung_data();
    void entscheidung();

private:
    QTemporaryDir m_log;
    std::unique_ptr<TestUmgebung> m_umgebung;
};

void TstZugriff::init()
{
    m_umgebung = std::make_unique<TestUmgebung>();
    setzeStartwerteZurueck();
    gs_DirUserKora = m_umgebung->pfad() + QStringLiteral("/benutzer/kora");
}

void TstZugriff::cleanup()
{
    setzeStartwerteZurueck();
    m_umgebung.reset();
}

void TstZugriff::zeitplan_data()
{
    QTest::addColumn<qint64>("letzteSuche");        // seconds ago, kNie: never
    QTest::addColumn<qint64>("letzteInstallation"); // seconds ago, kNie: unknown
    QTest::addColumn<QString>("tavoIntervall");     // empty: not set
    QTest::addColumn<QString>("koraIntervall");
    QTest::addColumn<bool>("zeigeDlg");
    QTest::addColumn<bool>("faellig");

    const qint64 frueher = 30 * kTag;
    QTest::newRow("noch nie gesucht") << kNie << kNie << "" << "0" << false << true;
    QTest::newRow("Installation unbekannt") << kStunde << kNie << "" << "0" << false << true;
    QTest::newRow("Installation nach der Suche") << 2 * kStunde << kStunde << "" << "30" << false << true;
    QTest::newRow("6 Tage 23 Stunden bei 7") << 7 * kTag - kStunde << frueher << "" << "7" << false << false;
    QTest::newRow("7 Tage bei 7") << 7 * kTag << frueher << "" << "7" << false << true;
    QTest::newRow("aus mit 0") << 20 * kTag << frueher << "" << "0" << false << false;
    QTest::newRow("Administrator vor Anwender") << 3 * kTag << frueher << "2" << "30" << false << true;
    QTest::newRow("vom Anwender geoeffnet") << kStunde << frueher << "" << "0" << true << true;
}

void TstZugriff::zeitplan()
{
    QFETCH(qint64, letzteSuche);
    QFETCH(qint64, letzteInstallation);
    QFETCH(QString, tavoIntervall);
    QFETCH(QString, koraIntervall);
    QFETCH(bool, zeigeDlg);
    QFETCH(bool, faellig);

    gb_ZeigeDlg = zeigeDlg;
    setzeZeitpunkt("UPDATE/LastUpdate", letzteSuche);
    setzeZeitpunkt("UPDATE/LastUpdateInstallation", letzteInstallation);
    if (!tavoIntervall.isEmpty())
        Einstellungen::setAdminWert(QStringLiteral("UPDATE/AutoUpdate"), tavoIntervall);
    if (!koraIntervall.isEmpty())
        Einstellungen::setKoraWert(QStringLiteral("UPDATE/AutoUpdate"), koraIntervall, gs_DirUserKora);

    const QDateTime vorher = Einstellungen::getAdminLastUpdate();
    PluginManager pm;
    QCOMPARE(pm.autoUpdateSucheErlaubt(), faellig);
    if (zeigeDlg)
        return;
    // A missing time is filled in so that the schedule can start from it.
    const QDateTime suche = Einstellungen::getAdminLastUpdate();
    QVERIFY(suche.isValid());
    if (letzteSuche == kNie)
        QVERIFY(qAbs(suche.secsTo(QDateTime::currentDateTime())) < 60);
    else
        QCOMPARE(suche, vorher);
    if (letzteSuche != kNie && letzteInstallation == kNie)
        QCOMPARE(Einstellungen::getAdminLastUpdateInstallation(), suche.addSecs(10));
}

// The consent dialog: its answer is kept for this process and stored for later ones.
void TstZugriff::einwilligung_data()
{
    QTest::addColumn<int>("antwort");
    QTest::addColumn<bool>("erlaubt");
    QTest::addColumn<bool>("wiederAnzeigen");

    QTest::newRow("Ja, einmalig") << 1 << true << true;
    QTest::newRow("Ja, immer") << 2 << true << false;
    QTest::newRow("Nein") << 0 << false << true;
    QTest::newRow("unbekannt") << 7 << false << true;
}

void TstZugriff::einwilligung()
{
    QFETCH(int, antwort);
    QFETCH(bool, erlaubt);
    QFETCH(bool, wiederAnzeigen);
    FakeRueckfrage fake;
    fake.internetAntworten << antwort << (erlaubt ? 0 : 1);
    Einstellungen::setKoraInternetAccessDialogAntwort(!erlaubt, gs_DirUserKora);

    PluginManager pm;
    QCOMPARE(pm.gibInternetZugriff(), -1);
    QCOMPARE(pm.zeigeInternetZugriffsDialog(), erlaubt);
    QCOMPARE(pm.gibInternetZugriff(), erlaubt ? 1 : 0);
    QCOMPARE(Einstellungen::getKoraInternetAccessDialogAntwort(gs_DirUserKora), erlaubt);
    QCOMPARE(Einstellungen::getKoraInternetAccessDialog(gs_DirUserKora), wiederAnzeigen);
    // Asked once per process, whatever the next answer would be.
    QCOMPARE(pm.zeigeInternetZugriffsDialog(), erlaubt);
    QCOMPARE(fake.internetFragen, 1);
    // The main flow's test asks through the same rule.
    gb_ZeigeDlg = true;
    Einstellungen::setKoraInternetAccessDialog(true, gs_DirUserKora);
    QCOMPARE(pm.istInternetzugriffErlaubt(), erlaubt);
    QCOMPARE(fake.internetFragen, 1);

    // A new process asks again.
    PluginManager neu;
    QCOMPARE(neu.zeigeInternetZugriffsDialog(), !erlaubt);
    QCOMPARE(fake.internetFragen, 2);
}

void TstZugriff::entscheidung_data()
{
    QTest::addColumn<QString>("modus"); // auto, dlg, inst, pruefung, silent
    QTest::addColumn<uint>("instanz");
    QTest::addColumn<bool>("sonderversion");
    QTest::addColumn<bool>("dialogAnzeigen");
    QTest::addColumn<bool>("gespeicherteAntwort");
    QTest::addColumn<bool>("suchenFaellig");
    QTest::addColumn<int>("antwort");
    QTest::addColumn<bool>("erlaubt");
    QTest::addColumn<int>("fragen");

    QTest::newRow("Sonderversion") << "pruefung" << 1u << true << true << true << true << 1 << false << 0;
    QTest::newRow("SilentUpdate") << "silent" << 1u << false << true << false << false << 0 << true << 0;
    QTest::newRow("Autostart, nicht faellig") << "auto" << 1u << false << true << true << false << 1 << false << 0;
    QTest::newRow("Autostart, faellig, Nein") << "auto" << 1u << false << true << true << true << 0 << false << 1;
    QTest::newRow("Autostart, 2. Instanz") << "auto" << 2u << false << true << false << false << 0 << true << 0;
    QTest::newRow("geoeffnet, Ja") << "dlg" << 1u << false << true << false << false << 1 << true << 1;
    QTest::newRow("geoeffnet, 2. Instanz, abgelehnt") << "dlg" << 2u << false << true << false << true << 1 << false << 0;
    QTest::newRow("instPlugin, Ja immer") << "inst" << 1u << false << true << false << false << 2 << true << 1;
}

void TstZugriff::entscheidung()
{
    QFETCH(QString, modus);
    QFETCH(uint, instanz);
    QFETCH(bool, sonderversion);
    QFETCH(bool, dialogAnzeigen);
    QFETCH(bool, gespeicherteAntwort);
    QFETCH(bool, suchenFaellig);
    QFETCH(int, antwort);
    QFETCH(bool, erlaubt);
    QFETCH(int, fragen);

    gb_Updateueberpuefung = modus == QLatin1String("pruefung");
    gb_SilentUpdate = modus == QLatin1String("silent");
    gb_ZeigeDlg = modus == QLatin1String("dlg");
    if (modus == QLatin1String("inst"))
        gs_InstPlugin = QStringLiteral("10_2021");
    gi_InstanzNr = instanz;
    if (sonderversion)
        Einstellungen::setAdminWert(QStringLiteral("INSTALLATION/SonderVersion"), QStringLiteral("Messe"));
    Einstellungen::setKoraInternetAccessDialog(dialogAnzeigen, gs_DirUserKora);
    Einstellungen::setKoraInternetAccessDialogAntwort(gespeicherteAntwort, gs_DirUserKora);
    if (!suchenFaellig) {
        setzeZeitpunkt("UPDATE/LastUpdate", kStunde);
        setzeZeitpunkt("UPDATE/LastUpdateInstallation", 2 * kStunde);
    }
    FakeRueckfrage fake;
    fake.internetAntworten << antwort;

    PluginManager pm;
    QCOMPARE(pm.istInternetzugriffErlaubt(), erlaubt);
    QCOMPARE(fake.internetFragen, fragen);
    // A second process only reads what the first stored; it never stores.
    if (instanz >= 2)
        QCOMPARE(Einstellungen::getKoraInternetAccessDialogAntwort(gs_DirUserKora), gespeicherteAntwort);
}

QTEST_GUILESS_MAIN(TstZugriff)
#include "tst_zugriff.moc"
