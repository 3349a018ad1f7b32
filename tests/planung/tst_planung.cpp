// Comparing both sides and planning the run, with records in memory.

#include "global/varnelApplication/einstellungen.h"
#include "global/varnelApplication/textausliteral.h"
#include "pluginManager/dlgPluginManagerDatenmodel.h"
#include "pluginManager/plugin.h"
#include "pluginManager/pluginManager.h"
#include "pluginManager/startwerte.h"
#include "tests/testhilfe/pruefhilfe.h"
#include "tests/testhilfe/testumgebung.h"

#include <QtTest>
#include <memory>

namespace {

Plugin* modul(const QString& kurz, uint jahr, uint ifNr, uint alle = 1, uint gr = 1, uint pl = 1, uint rev = 100,
              uint unterfallArt = 10)
{
    auto* p = new Plugin;
    p->setzeName(kurz.toUpper());
    p->setzeKurzname(kurz);
    p->setzeJahr(jahr);
    p->setzeInterfaceNr(ifNr);
    p->setzeNrAlle(alle);
    p->setzeNrGr(gr);
    p->setzeNrPlugin(pl);
    p->setzeRev(rev);
    p->setzeUnterfallArt(unterfallArt);
    return p;
}

void gibUpdatepaket(Plugin* p, uint fuerRev)
{
    Setup s;
    s.setzeRev(QString::number(fuerRev));
    p->fuegeSetupsHinzu({ s });
}

QStringList aktionen(const DlgPluginManagerDatenmodel* m)
{
    QStringList r;
    for (const Plugin* p : m->gibListe())
        r << QStringLiteral("%1:%2").arg(p->gibKurznameMitJahr()).arg(p->gibAktion());
    return r;
}

const char* const kAchtung = "<b>Achtung!</b> Sie haben folgende Steuererkl&auml;rungsmodule:<ul><li>%1</ul>von der "
                             "Aktualisierung ausgeschlossen. Diese k&ouml;nnen nach Aktualisierung der Hauptanwendung "
                             "nicht mehr verwendet werden.";

struct Zustand
{
    QList<uint> lokal, server; // NrAlle, NrGr, NrPlugin, Rev; server empty: not on the server
    bool serverGelesen;
    int statusLokal, statusServer;
    bool keinUpdatePaket;
};

struct Installationsliste
{
    QString liste;
    int serverKora; // 0 none, 1 not newer, 2 newer, 3 newer without a package for ours; -1 nothing installed
    bool folgejahre, ergebnis;
    QString grund;
    QStringList nichtGefunden;
    QString geplant; // actions of est21, ust21, ustva, gew21 (available) and the main application
};

} // namespace

Q_DECLARE_METATYPE(Zustand)
Q_DECLARE_METATYPE(Installationsliste)

class TstPlanung : public QObject
{
    Q_OBJECT

    TestLog m_log { "tst_planung" };
    std::unique_ptr<TestUmgebung> m_umgebung;
    std::unique_ptr<PluginManager> m_pm;
    DlgPluginManagerDatenmodel* inst() const { return m_pm->gibDatenmodelInstalliert(); }
    DlgPluginManagerDatenmodel* verf() const { return m_pm->gibDatenmodelVerfuegbar(); }
    Plugin* lokal(Plugin* p) { inst()->fuegeHinzu(p); return p; }
    Plugin* server(Plugin* p) { verf()->fuegeHinzu(p); return p; }
    void plane()
    {
        m_pm->setzeStausLokalePlugins();
        m_pm->setzeStausVerfuegbarePlugins();
    }

private slots:
    void init()
    {
        m_umgebung = std::make_unique<TestUmgebung>();
        setzeStartwerteZurueck();
        gs_DirUserKora = m_umgebung->pfad() + QStringLiteral("/benutzer/kora");
        m_pm = std::make_unique<PluginManager>();
        m_pm->setzePluginKoraInstalliert(modul(QStringLiteral("kora"), 0, 5, 1, 1, 1, 300));
    }
    void cleanup()
    {
        m_pm.reset();
        setzeStartwerteZurueck();
        m_umgebung.reset();
    }

    void zustand_data()
    {
        QTest::addColumn<Zustand>("z");
        QTest::newRow("NrGr groesser trotz kleinerem NrAlle") << Zustand{ { 10, 1, 1, 100 }, { 9, 2, 1, 100 }, true, 0x042, 0x042, false };
        QTest::newRow("Update ohne Paket") << Zustand{ { 1, 1, 1, 99 }, { 1, 1, 2, 101 }, true, 0x042, 0x012, true };
        QTest::newRow("nicht mehr auf dem Server") << Zustand{ { 1, 1, 1, 100 }, {}, true, 0x082, 0, false };
        QTest::newRow("Server nicht gelesen") << Zustand{ { 1, 1, 1, 100 }, {}, false, 0x102, 0, false };
    }
    void zustand()
    {
        QFETCH(Zustand, z);
        const auto& l = z.lokal;
        Plugin* lok = lokal(modul(QStringLiteral("est"), 2020, 5, l[0], l[1], l[2], l[3]));
        Plugin* s = nullptr;
        if (!z.server.isEmpty()) {
            s = server(modul(QStringLiteral("est"), 2020, 5, z.server[0], z.server[1], z.server[2], z.server[3]));
            gibUpdatepaket(s, 100);
        }
        if (z.serverGelesen)
            server(modul(QStringLiteral("est"), 2019, 5)); // another year: another module

        QSignalSpy zeilen(inst(), &DlgPluginManagerDatenmodel::aenderung);
        plane();
        QCOMPARE(zeilen.count(), 1);
        QCOMPARE(lok->gibStatus(), z.statusLokal);
        QCOMPARE(lok->istKeinUpdatePaket(), z.keinUpdatePaket);
        if (s) {
            QCOMPARE(s->gibStatus(), z.statusServer);
            QVERIFY(s->istInstalliert());
        }
    }

    // The server's main application (IF 6) is the reference once its update is chosen.
    void hauptanwendungWaehlen_data()
    {
        QTest::addColumn<bool>("aktualisieren");
        QTest::addColumn<QList<int>>("status");       // est20 (installed, IF 5; server IF 6), est21 (IF 6), ust20 (IF 5)
        QTest::addColumn<QStringList>("installiert"); // est18 has left the server
        QTest::addColumn<QString>("kompatibelNeu");
        QTest::newRow("ohne") << false << QList<int>{ 0x041, 0x081, 0x082 } << QStringList{ "est18:0", "est20:0", "gew20:0" } << "nein";
        QTest::newRow("mit") << true << QList<int>{ 0x042, 0x082, 0x084 } << QStringList{ "est18:3", "est20:2", "gew20:0" } << "ja";
    }
    void hauptanwendungWaehlen()
    {
        QFETCH(bool, aktualisieren);
        QFETCH(QList<int>, status);
        QFETCH(QStringList, installiert);
        QFETCH(QString, kompatibelNeu);
        m_pm->setzePluginKoraVerfuegbar(modul(QStringLiteral("kora"), 0, 6));
        lokal(modul(QStringLiteral("est"), 2018, 5));
        Plugin* est20 = lokal(modul(QStringLiteral("est"), 2020, 5));
        lokal(modul(QStringLiteral("gew"), 2020, 6)); // already fits the new one
        server(modul(QStringLiteral("est"), 2020, 6));
        server(modul(QStringLiteral("gew"), 2020, 6));
        Plugin* neu = server(modul(QStringLiteral("est"), 2021, 6));
        Plugin* alt = server(modul(QStringLiteral("ust"), 2020, 5));
        plane();
        m_pm->setzeAktionHauptanwendung(!aktualisieren); // the switch goes both ways

        QSignalSpy zeilen(inst(), &DlgPluginManagerDatenmodel::aenderung);
        m_pm->setzeAktionHauptanwendung(aktualisieren);
        QCOMPARE(zeilen.count(), 2 * inst()->anzahl()); // the planning pass and the status pass
        QCOMPARE(m_pm->istHauptanwendungAktualisieren(), aktualisieren);
        QCOMPARE(m_pm->gibPluginKoraInstalliert()->gibAktion(), aktualisieren ? int(Plugin::ERNEUERN) : int(Plugin::KEINE));
        QCOMPARE((QList<int>{ est20->gibStatus(), neu->gibStatus(), alt->gibStatus() }), status);
        QCOMPARE(aktionen(inst()), installiert);
        QVERIFY(neu->istNeuerZeitraum());
        QVERIFY(neu->gibStatusText(true).endsWith(QStringLiteral("</b> ") + kompatibelNeu));
    }

    // Installed: status, action per module. Available: neuerZeitraum, status, action.
    // The expected pair: gibAuswahlAktualisierungen, gibAuswahlFolgezeitraueme.
    void auswahlzustand_data()
    {
        QTest::addColumn<QList<int>>("installiert");
        QTest::addColumn<QList<int>>("verfuegbar");
        QTest::addColumn<QList<int>>("auswahl");
        QTest::newRow("nichts waehlbar") << QList<int>{ 0x022, 0 } << QList<int>{ 0, 0x012, 0 } << QList<int>{ 3, 3 };
        QTest::newRow("alle gesetzt") << QList<int>{ 0x042, 2, 0x012, 2 } << QList<int>{ 1, 0x082, 1 } << QList<int>{ 0, 0 };
        QTest::newRow("teilweise") << QList<int>{ 0x042, 2, 0x042, 0 } << QList<int>{ 1, 0x082, 1, 1, 0x082, 0 }
                                   << QList<int>{ 1, 1 };
        QTest::newRow("mehr gesetzt als waehlbar") << QList<int>{ 0x022, 2 } << QList<int>{ 1, 0x082, 1, 1, 0x081, 1 }
                                                   << QList<int>{ 0, 2 };
    }
    void auswahlzustand()
    {
        QFETCH(QList<int>, installiert);
        QFETCH(QList<int>, verfuegbar);
        QFETCH(QList<int>, auswahl);
        for (int i = 0; i + 1 < installiert.size(); i += 2) {
            Plugin* p = lokal(modul(QStringLiteral("m%1").arg(i), 2020, 5));
            p->setzeStatus(installiert[i]);
            p->setzeAktion(installiert[i + 1]);
        }
        for (int i = 0; i + 2 < verfuegbar.size(); i += 3) {
            Plugin* p = server(modul(QStringLiteral("v%1").arg(i), 2021, 5));
            p->setzeNeuerZeitraum(verfuegbar[i]);
            p->setzeStatus(verfuegbar[i + 1]);
            p->setzeAktion(verfuegbar[i + 2]);
        }
        QCOMPARE((QList<int>{ int(m_pm->gibAuswahlAktualisierungen()), int(m_pm->gibAuswahlFolgezeitraueme()) }), auswahl);
    }

    void zusammenfassung()
    {
        const int plan[][3] = { { 2018, 5, Plugin::ENTFERNEN }, { 2019, 5, Plugin::KEINE }, { 2020, 5, Plugin::ERNEUERN },
                                { 2021, 6, Plugin::KEINE }, { 2022, 6, Plugin::KEINE } };
        for (const auto& z : plan)
            lokal(modul(QStringLiteral("est"), uint(z[0]), uint(z[1])))->setzeAktion(z[2]);
        // A fresh copy of the 2022 module is installed: it is not excluded.
        server(modul(QStringLiteral("est"), 2022, 6))->setzeAktion(Plugin::INSTALLIEREN);

        int schritte = -1;
        QCOMPARE(m_pm->gibAktionen(schritte),
                 (QStringList{ textAusLiteral(kAchtung).arg(QStringLiteral("EST 2021")), "\"EST 2018\" wird entfernt.",
                               "\"EST 2020\" wird aktualisiert.", "\"EST 2022\" wird installiert." }));
        QCOMPARE(schritte, 1 + 2 + 2);

        m_pm->gibPluginKoraInstalliert()->setzeAktion(Plugin::ERNEUERN);
        const QStringList zeilen = m_pm->gibAktionen(schritte);
        QCOMPARE(zeilen.at(1), textAusLiteral("Das Hauptprogramm und die Steuerberechnung werden aktualisiert."));
        QCOMPARE(schritte, 2 + 1 + 2 + 2);
    }

    void frageAlleHalbJahre_data()
    {
        QTest::addColumn<int>("tageHer"); // 0: never asked
        QTest::addColumn<int>("antwort");
        QTest::addColumn<bool>("gefragt");
        QTest::newRow("nie gefragt") << 0 << 1 << true;
        QTest::newRow("181 Tage") << 181 << 1 << false;
        QTest::newRow("182 Tage, nein") << 182 << 0 << true;
        QTest::newRow("in der Zukunft") << -3 << 1 << false;
    }
    void frageAlleHalbJahre()
    {
        QFETCH(int, tageHer);
        QFETCH(int, antwort);
        QFETCH(bool, gefragt);
        FakeRueckfrage fake;
        fake.antworten << antwort;
        if (tageHer)
            Einstellungen::setKoraFrageWenigerPluginsDatum(QDateTime::currentDateTime().addDays(-tageHer), gs_DirUserKora);

        QCOMPARE(m_pm->frageAuswahlUeberpruefen({ "EST", "UST" }), gefragt && antwort == 1);
        QCOMPARE(fake.fragen.size(), gefragt ? 1 : 0);
        const QDateTime gespeichert = Einstellungen::getKoraFrageWenigerPluginsDatum(gs_DirUserKora);
        QCOMPARE(qAbs(gespeichert.secsTo(QDateTime::currentDateTime())) < 60, gefragt || tageHer == 0);
    }

    // Four ticked years of a declaration are fine, the fifth names it; unticked ones do not count.
    void mehrAlsVierJahre()
    {
        lokal(modul(QStringLiteral("est"), 2016, 5));
        for (uint jahr : { 2017u, 2018u, 2019u })
            lokal(modul(QStringLiteral("est"), jahr, 5))->setzeAktion(Plugin::ERNEUERN);
        server(modul(QStringLiteral("est"), 2020, 5))->setzeAktion(Plugin::INSTALLIEREN);
        server(modul(QStringLiteral("ust"), 2020, 5))->setzeAktion(Plugin::INSTALLIEREN);
        QCOMPARE(m_pm->gibPluginsMitMehrAlsVierVZs(), QStringList());
        server(modul(QStringLiteral("est"), 2021, 5))->setzeAktion(Plugin::INSTALLIEREN);
        QCOMPARE(m_pm->gibPluginsMitMehrAlsVierVZs(), QStringList{ "EST" });
    }

    // "Tick all" installs only what is not installed already: the installed counterpart is renewed instead.
    void alleHakenInstallieren()
    {
        lokal(modul(QStringLiteral("est"), 2020, 5));
        Plugin* gegenueber = server(modul(QStringLiteral("est"), 2020, 5));
        Plugin* neu = server(modul(QStringLiteral("ust"), 2021, 5));
        gegenueber->setzeStatus(Plugin::BIT_VERSCHIEDEN | Plugin::BIT_IF_GLEICH);
        neu->setzeStatus(Plugin::BIT_KEIN_GEGENUEBER | Plugin::BIT_IF_GLEICH);
        gegenueber->setzeAktion(Plugin::INSTALLIEREN);
        m_pm->setzeAlleHakenInstallieren(true);
        QCOMPARE(gegenueber->gibAktion(), int(Plugin::KEINE));
        QCOMPARE(neu->gibAktion(), int(Plugin::INSTALLIEREN));
    }

    // Without an installation: see the update-check run.
    void updateVorhanden_data()
    {
        QTest::addColumn<uint>("serverNrAlle");
        QTest::addColumn<int>("modulStatus");
        QTest::addColumn<bool>("folgejahr");
        QTest::addColumn<int>("ergebnis");
        QTest::newRow("Hauptanwendung neuer") << 2u << 0x022 << false << 1;
        QTest::newRow("Modul mit Update") << 1u << 0x042 << false << 1;
        QTest::newRow("Folgejahr") << 1u << 0x022 << true << 1;
        QTest::newRow("alles aktuell") << 1u << 0x022 << false << 0;
    }
    void updateVorhanden()
    {
        QFETCH(uint, serverNrAlle);
        QFETCH(int, modulStatus);
        QFETCH(bool, folgejahr);
        QFETCH(int, ergebnis);
        m_pm->setzePluginKoraVerfuegbar(modul(QStringLiteral("kora"), 0, 5, serverNrAlle));
        lokal(modul(QStringLiteral("est"), 2020, 5))->setzeStatus(modulStatus);
        server(modul(QStringLiteral("est"), 2021, 5))->setzeNeuerZeitraum(folgejahr);
        QCOMPARE(m_pm->istUpdateVorhanden(), ergebnis);
    }

    // "--instPlugin", and the main-application update that a newer interface needs.
    void installationsliste_data()
    {
        QTest::addColumn<Installationsliste>("f");
        using F = Installationsliste;
        const QString keines = textAusLiteral("Keines der zu installierenden Steuererkl&auml;rungsmodule wurde auf dem Server gefunden.");
        const QString leer = QStringLiteral("Die Liste der zu installierenden Plugins ist leer.");
        const QString keinUpdate = QStringLiteral("Es wurde keine Update der Hauptanwendung auf dem Server gefunden.");
        const QString keinNeueres = textAusLiteral("Es wurde keine neuere Hauptanwendung auf dem Server gefunden.");
        const QString keinPassendes = textAusLiteral("Es wurde keine passendes Update der Hauptanwendung auf dem Server gefunden.");
        const QString keineInstallation = QStringLiteral("Es wurde keine Installation von Fiscalon auf dem PC gefunden.");
        QTest::newRow("nur Trenner") << F{ ";;", 2, true, false, leer, {}, "0 0 0 0 0" };
        QTest::newRow("keine Zahl") << F{ "x<b>_2021;+10_2021", 2, true, false, keines, { "x&lt;b&gt;_2021", "+10_2021" }, "0 0 0 0 0" };
        QTest::newRow("leere Teile, ohne Jahr") << F{ ";10_2021;;58_0;", 0, true, true, "", {}, "1 0 1 0 0" };
        // Entries without "_" or with two are no entries at all: neither planned nor named.
        QTest::newRow("ohne und mit zwei Unterstrichen") << F{ "10;10_2021_1;50_2021", 0, true, true, "", {}, "0 1 0 0 0" };
        QTest::newRow("fehlt, mit Namen")
            << F{ "50_2021;20_2020;20_9999;11_0", 0, true, true, "",
                  { textAusLiteral("Gewerbesteuererkl&auml;rung 2020"), textAusLiteral("Gewerbesteuererkl&auml;rung"), "Unterfallart 11" },
                  "0 1 0 0 0" };
        QTest::newRow("neue Schnittstelle, keine Hauptanwendung") << F{ "20_2021", 0, true, false, keinUpdate, {}, "0 0 0 1 0" };
        QTest::newRow("neue Schnittstelle, nicht neuer")
            << F{ "20_2021;99_2021", 1, true, false, keinNeueres, { "Lohnsteuerbescheinigungen 2021" }, "0 0 0 1 0" };
        QTest::newRow("neue Schnittstelle, kein passendes Update") << F{ "20_2021", 3, true, false, keinPassendes, {}, "0 0 0 1 0" };
        QTest::newRow("keine Installation") << F{ "10_2021", -1, true, false, keineInstallation, {}, "0 0 0 0 -1" };
        QTest::newRow("neue Schnittstelle, Folgejahre") << F{ "20_2021", 2, true, true, "", {}, "1 0 0 1 2" };
        QTest::newRow("neue Schnittstelle, ohne Folgejahre") << F{ "20_2021", 2, false, true, "", {}, "0 0 0 1 2" };
    }
    void installationsliste()
    {
        QFETCH(Installationsliste, f);
        Einstellungen::setKoraAlleFolgeJahre(f.folgejahre, gs_DirUserKora);
        if (f.serverKora > 0) {
            Plugin* k = modul(QStringLiteral("kora"), 0, f.serverKora == 1 ? 4 : 6, 1, 1, 1, 400);
            gibUpdatepaket(k, f.serverKora == 3 ? 299 : 300);
            m_pm->setzePluginKoraVerfuegbar(k);
        }
        lokal(modul(QStringLiteral("est"), 2020, 5));
        lokal(modul(QStringLiteral("gew"), 2020, 5));
        server(modul(QStringLiteral("est"), 2021, 5));
        server(modul(QStringLiteral("ust"), 2021, 5, 1, 1, 1, 100, 50));
        server(modul(QStringLiteral("ustva"), 0, 5, 1, 1, 1, 100, 58));
        server(modul(QStringLiteral("gew"), 2021, 6, 1, 1, 1, 100, 20));
        plane();
        if (f.serverKora < 0)
            m_pm->setzePluginKoraInstalliert(nullptr);

        QSignalSpy daten(m_pm.get(), &PluginManager::datenAenderung);
        QString g;
        QStringList ng;
        QCOMPARE(m_pm->pruefeInstallationsliste(f.liste, g, ng), f.ergebnis);
        QCOMPARE(g, f.grund);
        QCOMPARE(ng, f.nichtGefunden);
        const Plugin* kora = m_pm->gibPluginKoraInstalliert();
        QStringList geplant;
        for (const Plugin* p : verf()->gibListe())
            geplant << QString::number(p->gibAktion());
        QCOMPARE(geplant << QString::number(kora ? kora->gibAktion() : -1), f.geplant.split(QLatin1Char(' ')));
        QCOMPARE(daten.count(), f.ergebnis ? 1 : 0);

        // The texts the main flow shows for it: singular or plural.
        const QString abgelehnt = PluginManager::gibTextInstallationslisteAbgelehnt(f.liste, g);
        QCOMPARE(abgelehnt.startsWith(textAusLiteral("<b>Die Steuererkl&auml;rungsmodule k&ouml;nnen nicht")),
                 f.liste.split(QLatin1Char(';'), Qt::SkipEmptyParts).size() > 1);
        const QString fehlend = PluginManager::gibTextInstallationslisteNichtGefunden(ng);
        QCOMPARE(fehlend.isEmpty(), ng.isEmpty());
        QCOMPARE(fehlend.contains(textAusLiteral("Folgende Steuererkl&auml;rungsmodule wurden nicht")), ng.size() > 1);
        QCOMPARE(fehlend.contains(textAusLiteral("Folgendes Steuererkl&auml;rungsmodul wurde nicht")), ng.size() == 1);
    }
};

QTEST_GUILESS_MAIN(TstPlanung)
#include "tst_planung.moc"
