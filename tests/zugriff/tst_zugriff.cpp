// Whether the manager may go online: the automatic-check schedule, the consent
// (asked once per process, kept in kora.ini) and the decision by run mode and process.

#include "global/varnelApplication/einstellungen.h"
#include "pluginManager/pluginManager.h"
#include "pluginManager/startwerte.h"
#include "tests/testhilfe/pruefhilfe.h"
#include "tests/testhilfe/testumgebung.h"

#include <QtTest>
#include <memory>

namespace {
constexpr qint64 kStunde = 3600;
constexpr qint64 kTag = 24 * kStunde;
constexpr qint64 kNie = -1;

// Whole days as calendar days, as the schedule counts them: across a change
// of daylight saving time a day is not 24 hours.
void setzeZeitpunkt(const char* schluessel, qint64 sekundenHer)
{
    if (sekundenHer != kNie)
        Einstellungen::setAdminWert(QLatin1String(schluessel),
                                    Einstellungen::alsText(QDateTime::currentDateTime()
                                                               .addDays(-(sekundenHer / kTag))
                                                               .addSecs(-(sekundenHer % kTag))));
}

struct Zeitplan
{
    qint64 letzteSuche, letzteInstallation; // seconds ago, kNie: never / unknown
    QString tavoIntervall, koraIntervall;   // empty: not set
    bool zeigeDlg, faellig;
};

struct Entscheidung
{
    QString modus; // auto, dlg, inst, pruefung, silent
    uint instanz;
    bool sonderversion, gespeicherteAntwort, suchenFaellig;
    int antwort;
    bool erlaubt;
    int fragen;
    bool dialogAus = false; // the user switched the question off
};
} // namespace

Q_DECLARE_METATYPE(Zeitplan)
Q_DECLARE_METATYPE(Entscheidung)

class TstZugriff : public QObject
{
    Q_OBJECT

    TestLog m_log { "tst_zugriff" };
    std::unique_ptr<TestUmgebung> m_umgebung;

private slots:
    void init()
    {
        m_umgebung = std::make_unique<TestUmgebung>();
        setzeStartwerteZurueck();
        gs_DirUserKora = m_umgebung->pfad() + QStringLiteral("/benutzer/kora");
    }
    void cleanup()
    {
        setzeStartwerteZurueck();
        m_umgebung.reset();
    }

    void zeitplan_data()
    {
        QTest::addColumn<Zeitplan>("z");
        const qint64 frueher = 30 * kTag;
        QTest::newRow("noch nie gesucht") << Zeitplan{ kNie, kNie, "", "0", false, true };
        QTest::newRow("Installation unbekannt") << Zeitplan{ kStunde, kNie, "", "0", false, true };
        QTest::newRow("Installation nach der Suche") << Zeitplan{ 2 * kStunde, kStunde, "", "30", false, true };
        QTest::newRow("6 Tage 23 Stunden bei 7") << Zeitplan{ 7 * kTag - kStunde, frueher, "", "7", false, false };
        QTest::newRow("7 Tage bei 7") << Zeitplan{ 7 * kTag, frueher, "", "7", false, true };
        QTest::newRow("aus mit 0") << Zeitplan{ 20 * kTag, frueher, "", "0", false, false };
        QTest::newRow("Administrator vor Anwender") << Zeitplan{ 3 * kTag, frueher, "2", "30", false, true };
        QTest::newRow("vom Anwender geoeffnet") << Zeitplan{ kStunde, frueher, "", "0", true, true };
    }
    void zeitplan()
    {
        QFETCH(Zeitplan, z);
        gb_ZeigeDlg = z.zeigeDlg;
        setzeZeitpunkt("UPDATE/LastUpdate", z.letzteSuche);
        setzeZeitpunkt("UPDATE/LastUpdateInstallation", z.letzteInstallation);
        if (!z.tavoIntervall.isEmpty())
            Einstellungen::setAdminWert(QStringLiteral("UPDATE/AutoUpdate"), z.tavoIntervall);
        if (!z.koraIntervall.isEmpty())
            Einstellungen::setKoraWert(QStringLiteral("UPDATE/AutoUpdate"), z.koraIntervall, gs_DirUserKora);

        const QDateTime vorher = Einstellungen::getAdminLastUpdate();
        PluginManager pm;
        QCOMPARE(pm.autoUpdateSucheErlaubt(), z.faellig);
        if (z.zeigeDlg)
            return;
        // A missing time is filled in so that the schedule can start from it.
        const QDateTime suche = Einstellungen::getAdminLastUpdate();
        QVERIFY(suche.isValid());
        if (z.letzteSuche == kNie)
            QVERIFY(qAbs(suche.secsTo(QDateTime::currentDateTime())) < 60);
        else
            QCOMPARE(suche, vorher);
        if (z.letzteSuche != kNie && z.letzteInstallation == kNie)
            QCOMPARE(Einstellungen::getAdminLastUpdateInstallation(), suche.addSecs(10));
    }

    // The consent dialog: its answer is kept for this process and stored for later ones.
    void einwilligung_data()
    {
        QTest::addColumn<int>("antwort");
        QTest::addColumn<bool>("erlaubt");
        QTest::addColumn<bool>("wiederAnzeigen");
        QTest::newRow("Ja, einmalig") << 1 << true << true;
        QTest::newRow("Ja, immer") << 2 << true << false;
        QTest::newRow("Nein") << 0 << false << true;
        QTest::newRow("unbekannt") << 7 << false << true;
    }
    void einwilligung()
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

    // "Ja, immer" that cannot be stored: allowed for this run, the failure in
    // the log, and the next process asks again.
    void einwilligungNichtSpeicherbar()
    {
        const QString ini = Einstellungen::gibKoraIniPfad(gs_DirUserKora);
        QVERIFY(QDir().mkpath(ini));
        FakeRueckfrage fake;
        fake.internetAntworten << 2 << 2;
        // One line explains the file; the other lost keys go to the debug log.
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("Die Einstellungsdatei .* kann nicht geschrieben werden")));
        const LogAusschnitt log;
        PluginManager pm;
        QVERIFY(pm.zeigeInternetZugriffsDialog());
        QVERIFY(log.enthaelt(QStringLiteral("kann nicht geschrieben werden")));
        PluginManager neu;
        QVERIFY(neu.zeigeInternetZugriffsDialog());
        QCOMPARE(fake.internetFragen, 2);
    }

    void entscheidung_data()
    {
        QTest::addColumn<Entscheidung>("e");
        using E = Entscheidung;
        QTest::newRow("Sonderversion") << E{ "pruefung", 1, true, true, true, 1, false, 0 };
        QTest::newRow("SilentUpdate") << E{ "silent", 1, false, false, false, 0, true, 0 };
        QTest::newRow("Autostart, nicht faellig") << E{ "auto", 1, false, true, false, 1, false, 0 };
        QTest::newRow("Autostart, faellig, Nein") << E{ "auto", 1, false, true, true, 0, false, 1 };
        QTest::newRow("Autostart, 2. Instanz") << E{ "auto", 2, false, false, false, 0, true, 0 };
        QTest::newRow("geoeffnet, Ja") << E{ "dlg", 1, false, false, false, 1, true, 1 };
        QTest::newRow("geoeffnet, 2. Instanz, abgelehnt") << E{ "dlg", 2, false, false, true, 1, false, 0 };
        QTest::newRow("instPlugin, Ja immer") << E{ "inst", 1, false, false, false, 2, true, 1 };
        QTest::newRow("geoeffnet, Frage abgeschaltet") << E{ "dlg", 1, false, false, false, 0, true, 0, true };
        QTest::newRow("Autostart, faellig, Frage abgeschaltet") << E{ "auto", 1, false, false, true, 0, true, 0, true };
    }
    void entscheidung()
    {
        QFETCH(Entscheidung, e);
        gb_Updateueberpuefung = e.modus == QLatin1String("pruefung");
        gb_SilentUpdate = e.modus == QLatin1String("silent");
        gb_ZeigeDlg = e.modus == QLatin1String("dlg");
        if (e.modus == QLatin1String("inst"))
            gs_InstPlugin = QStringLiteral("10_2021");
        gi_InstanzNr = e.instanz;
        if (e.sonderversion)
            Einstellungen::setAdminWert(QStringLiteral("INSTALLATION/SonderVersion"), QStringLiteral("Messe"));
        Einstellungen::setKoraInternetAccessDialog(!e.dialogAus, gs_DirUserKora);
        Einstellungen::setKoraInternetAccessDialogAntwort(e.gespeicherteAntwort, gs_DirUserKora);
        if (!e.suchenFaellig) {
            setzeZeitpunkt("UPDATE/LastUpdate", kStunde);
            setzeZeitpunkt("UPDATE/LastUpdateInstallation", 2 * kStunde);
        }
        FakeRueckfrage fake;
        fake.internetAntworten << e.antwort;

        PluginManager pm;
        QCOMPARE(pm.istInternetzugriffErlaubt(), e.erlaubt);
        QCOMPARE(fake.internetFragen, e.fragen);
        // A second process only reads what the first stored; it never stores.
        if (e.instanz >= 2)
            QCOMPARE(Einstellungen::getKoraInternetAccessDialogAntwort(gs_DirUserKora), e.gespeicherteAntwort);
    }
};

QTEST_GUILESS_MAIN(TstZugriff)
#include "tst_zugriff.moc"
