// Comparing both sides and planning the run: status words against the
// reference main application, the tick rules, the summary, the question about
// more than four years and the "--instPlugin" list. Records live in memory.

#include "global/varnelApplication/einstellungen.h"
#include "global/varnelApplication/logbase.h"
#include "global/varnelApplication/textausliteral.h"
#include "pluginManager/dlgPluginManagerDatenmodel.h"
#include "pluginManager/plugin.h"
#include "pluginManager/pluginManager.h"
#include "pluginManager/startwerte.h"
#include "tests/testhilfe/testumgebung.h"

#include <QSignalSpy>
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

} // namespace

class TstPlanung : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase() { initLogBase(QStringLiteral("tst_planung"), 10 * 1024 * 1024, m_log.path()); }
    void cleanupTestCase() { beendeLogBase(); }
    void init();
    void cleanup();

    void zustand_data();
    void zustand();
    void hauptanwendungWaehlen_data();
    void hauptanwendungWaehlen();
    void auswahlzustand_data();
    void auswahlzustand();
    void zusammenfassung();
    void frageAlleHalbJahre_data();
    void frageAlleHalbJahre();
    void updateVorhanden_data();
    void updateVorhanden();
    void installationsliste_data();
    void installationsliste();

private:
    QTemporaryDir m_log;
    std::unique_ptr<TestUmgebung> m_umgebung;
    std::unique_ptr<PluginManager> m_pm;
    DlgPluginManagerDatenmodel* inst() const { return m_pm->gibDatenmodelInstalliert(); }
    DlgPluginManagerDatenmodel* verf() const { return m_pm->gibDatenmodelVerfuegbar(); }
};

void TstPlanung::init()
{
    m_umgebung = std::make_unique<TestUmgebung>();
    setzeStartwerteZurueck();
    gs_DirUserKora = m_umgebung->pfad() + QStringLiteral("/benutzer/kora");
    m_pm = std::make_unique<PluginManager>();
    m_pm->setzePluginKoraInstalliert(modul(QStringLiteral("kora"), 0, 5, 1, 1, 1, 300));
}

void TstPlanung::cleanup()
{
    m_pm.reset();
    setzeStartwerteZurueck();
    m_umgebung.reset();
}

void TstPlanung::zustand_data()
{
    QTest::addColumn<QList<uint>>("lokal");  // IF, NrAlle, NrGr, NrPlugin, Rev
    QTest::addColumn<QList<uint>>("server"); // empty: not on the server
    QTest::addColumn<bool>("serverGelesen");
    QTest::addColumn<int>("statusLokal");
    QTest::addColumn<int>("statusServer");
    QTest::addColumn<bool>("keinUpdatePaket");

    QTest::newRow("NrGr groesser trotz kleinerem NrAlle") << QList<uint>{ 5, 10, 1, 1, 100 } << QList<uint>{ 5, 9, 2, 1, 100 }
                                                         << true << 0x042 << 0x042 << false;
    QTest::newRow("Update ohne Paket") << QList<uint>{ 5, 1, 1, 1, 99 } << QList<uint>{ 5, 1, 1, 2, 101 } << true
                                       << 0x042 << 0x012 << true;
    QTest::newRow("nicht mehr auf dem Server") << QList<uint>{ 5, 1, 1, 1, 100 } << QList<uint>() << true << 0x082 << 0 << false;
    QTest::newRow("Server nicht gelesen") << QList<uint>{ 5, 1, 1, 1, 100 } << QList<uint>() << false << 0x102 << 0 << false;
}

void TstPlanung::zustand()
{
    QFETCH(QList<uint>, lokal);
    QFETCH(QList<uint>, server);
    QFETCH(bool, serverGelesen);
    QFETCH(int, statusLokal);
    QFETCH(int, statusServer);
    QFETCH(bool, keinUpdatePaket);

    Plugin* l = modul(QStringLiteral("est"), 2020, lokal[0], lokal[1], lokal[2], lokal[3], lokal[4]);
    inst()->fuegeHinzu(l);
    Plugin* s = nullptr;
    if (!server.isEmpty()) {
        s = modul(QStringLiteral("est"), 2020, server[0], server[1], server[2], server[3], server[4]);
        gibUpdatepaket(s, 100);
        verf()->fuegeHinzu(s);
    }
    if (serverGelesen)
        verf()->fuegeHinzu(modul(QStringLiteral("est"), 2019, 5)); // another year: another module

    QSignalSpy zeilen(inst(), &DlgPluginManagerDatenmodel::aenderung);
    m_pm->setzeStausLokalePlugins();
    m_pm->setzeStausVerfuegbarePlugins();
    QCOMPARE(zeilen.count(), 1);
    QCOMPARE(l->gibStatus(), statusLokal);
    QCOMPARE(l->istKeinUpdatePaket(), keinUpdatePaket);
    if (s) {
        QCOMPARE(s->gibStatus(), statusServer);
        QVERIFY(s->istInstalliert());
    }
}

// The server's main application becomes the reference once its update is chosen.
void TstPlanung::hauptanwendungWaehlen_data()
{
    QTest::addColumn<bool>("aktualisieren");
    QTest::addColumn<QList<int>>("status");      // est20 (installed, IF 5; server IF 6), est21 (IF 6), ust20 (IF 5)
    QTest::addColumn<QStringList>("installiert"); // est18 has left the server
    QTest::addColumn<QString>("kompatibelNeu");

    QTest::newRow("ohne") << false << QList<int>{ 0x041, 0x081, 0x082 } << QStringList{ "est18:0", "est20:0", "gew20:0" }
                          << "nein";
    QTest::newRow("mit") << true << QList<int>{ 0x042, 0x082, 0x084 } << QStringList{ "est18:3", "est20:2", "gew20:0" } << "ja";
}

void TstPlanung::hauptanwendungWaehlen()
{
    QFETCH(bool, aktualisieren);
    QFETCH(QList<int>, status);
    QFETCH(QStringList, installiert);
    QFETCH(QString, kompatibelNeu);

    m_pm->setzePluginKoraVerfuegbar(modul(QStringLiteral("kora"), 0, 6));
    inst()->fuegeHinzu(modul(QStringLiteral("est"), 2018, 5));
    Plugin* lokal = modul(QStringLiteral("est"), 2020, 5);
    inst()->fuegeHinzu(lokal);
    inst()->fuegeHinzu(modul(QStringLiteral("gew"), 2020, 6)); // already fits the new one
    verf()->fuegeHinzu(modul(QStringLiteral("est"), 2020, 6));
    verf()->fuegeHinzu(modul(QStringLiteral("gew"), 2020, 6));
    Plugin* neu = modul(QStringLiteral("est"), 2021, 6);
    verf()->fuegeHinzu(neu);
    Plugin* alt = modul(QStringLiteral("ust"), 2020, 5);
    verf()->fuegeHinzu(alt);
    m_pm->setzeStausLokalePlugins();
    m_pm->setzeStausVerfuegbarePlugins();
    m_pm->setzeAktionHauptanwendung(!aktualisieren); // the switch goes both ways

    QSignalSpy zeilen(inst(), &DlgPluginManagerDatenmodel::aenderung);
    m_pm->setzeAktionHauptanwendung(aktualisieren);
    QCOMPARE(zeilen.count(), 2 * inst()->anzahl()); // the planning pass and the status pass
    QCOMPARE(m_pm->istHauptanwendungAktualisieren(), aktualisieren);
    QCOMPARE(m_pm->gibPluginKoraInstalliert()->gibAktion(), aktualisieren ? int(Plugin::ERNEUERN) : int(Plugin::KEINE));
    QCOMPARE((QList<int>{ lokal->gibStatus(), neu->gibStatus(), alt->gibStatus() }), status);
    QCOMPARE(aktionen(inst()), installiert);
    QVERIFY(neu->istNeuerZeitraum());
    QVERIFY(neu->gibStatusText(true).endsWith(QStringLiteral("</b> ") + kompatibelNeu));
}

void TstPlanung::auswahlzustand_data()
{
    // Installed: status, action per module. Available: neuerZeitraum, status, action.
    QTest::addColumn<QList<int>>("installiert");
    QTest::addColumn<QList<int>>("verfuegbar");
    QTest::addColumn<int>("aktualisierungen");
    QTest::addColumn<int>("folgejahre");

    QTest::newRow("nichts waehlbar") << QList<int>{ 0x022, 0 } << QList<int>{ 0, 0x012, 0 } << 3 << 3;
    QTest::newRow("alle gesetzt") << QList<int>{ 0x042, 2, 0x012, 2 } << QList<int>{ 1, 0x082, 1 } << 0 << 0;
    QTest::newRow("teilweise") << QList<int>{ 0x042, 2, 0x042, 0 } << QList<int>{ 1, 0x082, 1, 1, 0x082, 0 } << 1 << 1;
    QTest::newRow("mehr gesetzt als waehlbar") << QList<int>{ 0x022, 2 } << QList<int>{ 1, 0x082, 1, 1, 0x081, 1 } << 0 << 2;
}

void TstPlanung::auswahlzustand()
{
    QFETCH(QList<int>, installiert);
    QFETCH(QList<int>, verfuegbar);
    QFETCH(int, aktualisierungen);
    QFETCH(int, folgejahre);
    for (int i = 0; i + 1 < installiert.size(); i += 2) {
        Plugin* p = modul(QStringLiteral("m%1").arg(i), 2020, 5);
        p->setzeStatus(installiert[i]);
        p->setzeAktion(installiert[i + 1]);
        inst()->fuegeHinzu(p);
    }
    for (int i = 0; i + 2 < verfuegbar.size(); i += 3) {
        Plugin* p = modul(QStringLiteral("v%1").arg(i), 2021, 5);
        p->setzeNeuerZeitraum(verfuegbar[i]);
        p->setzeStatus(verfuegbar[i + 1]);
        p->setzeAktion(verfuegbar[i + 2]);
        verf()->fuegeHinzu(p);
    }
    QCOMPARE(int(m_pm->gibAuswahlAktualisierungen()), aktualisierungen);
    QCOMPARE(int(m_pm->gibAuswahlFolgezeitraueme()), folgejahre);
}

void TstPlanung::zusammenfassung()
{
    const int plan[][3] = { { 2018, 5, Plugin::ENTFERNEN }, { 2019, 5, Plugin::KEINE }, { 2020, 5, Plugin::ERNEUERN },
                            { 2021, 6, Plugin::KEINE }, { 2022, 6, Plugin::KEINE } };
    for (const auto& z : plan) {
        Plugin* p = modul(QStringLiteral("est"), uint(z[0]), uint(z[1]));
        p->setzeAktion(z[2]);
        inst()->fuegeHinzu(p);
    }
    // A fresh copy of the 2022 module is installed: it is not excluded.
    Plugin* ersatz = modul(QStringLiteral("est"), 2022, 6);
    ersatz->setzeAktion(Plugin::INSTALLIEREN);
    verf()->fuegeHinzu(ersatz);

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

void TstPlanung::frageAlleHalbJahre_data()
{
    QTest::addColumn<int>("tageHer"); // 0: never asked
    QTest::addColumn<int>("antwort");
    QTest::addColumn<bool>("gefragt");

    QTest::newRow("nie gefragt") << 0 << 1 << true;
    QTest::newRow("181 Tage") << 181 << 1 << false;
    QTest::newRow("182 Tage, nein") << 182 << 0 << true;
    QTest::newRow("in der Zukunft") << -3 << 1 << false;
}

void TstPlanung::frageAlleHalbJahre()
{
    QFETCH(int, tageHer);
    QFETCH(int, antwort);
    QFETCH(bool, gefragt);
    FakeRueckfrage fake;
    fake.antworten << antwort;
    const QDateTime vorher = QDateTime::currentDateTime().addDays(-tageHer);
    if (tageHer)
        Einstellungen::setKoraFrageWenigerPluginsDatum(vorher, gs_DirUserKora);

    QCOMPARE(m_pm->frageAuswahlUeberpruefen({ "EST", "UST" }), gefragt && antwort == 1);
    QCOMPARE(fake.fragen.size(), gefragt ? 1 : 0);
    const QDateTime gespeichert = Einstellungen::getKoraFrageWenigerPluginsDatum(gs_DirUserKora);
    QCOMPARE(qAbs(gespeichert.secsTo(QDateTime::currentDateTime())) < 60, gefragt || tageHer == 0);
}

void TstPlanung::updateVorhanden_data()
{
    // Without an installation: see the update-check run.
    QTest::addColumn<uint>("serverNrAlle");
    QTest::addColumn<int>("modulStatus");
    QTest::addColumn<bool>("folgejahr");
    QTest::addColumn<int>("ergebnis");

    QTest::newRow("Hauptanwendung neuer") << 2u << 0x022 << false << 1;
    QTest::newRow("Modul mit Update") << 1u << 0x042 << false << 1;
    QTest::newRow("Folgejahr") << 1u << 0x022 << true << 1;
    QTest::newRow("alles aktuell") << 1u << 0x022 << false << 0;
}

void TstPlanung::updateVorhanden()
{
    QFETCH(uint, serverNrAlle);
    QFETCH(int, modulStatus);
    QFETCH(bool, folgejahr);
    QFETCH(int, ergebnis);
    m_pm->setzePluginKoraVerfuegbar(modul(QStringLiteral("kora"), 0, 5, serverNrAlle));
    Plugin* p = modul(QStringLiteral("est"), 2020, 5);
    p->setzeStatus(modulStatus);
    inst()->fuegeHinzu(p);
    Plugin* v = modul(QStringLiteral("est"), 2021, 5);
    v->setzeNeuerZeitraum(folgejahr);
    verf()->fuegeHinzu(v);
    QCOMPARE(m_pm->istUpdateVorhanden(), ergebnis);
}

// "--instPlugin": the list, the modules found, and the main-application
// update that modules of a newer interface need.
void TstPlanung::installationsliste_data()
{
    QTest::addColumn<QString>("liste");
    QTest::addColumn<int>("serverKora"); // 0 none, 1 not newer, 2 newer
    QTest::addColumn<bool>("folgejahre");
    QTest::addColumn<bool>("ergebnis");
    QTest::addColumn<QString>("grund");
    QTest::addColumn<QStringList>("nichtGefunden");
    QTest::addColumn<QStringList>("geplant"); // available side, then the main application's action

    const QString keines = textAusLiteral("Keines der zu installierenden Steuererkl&auml;rungsmodule wurde auf dem Server gefunden.");
    const QString leer = QStringLiteral("Die Liste der zu installierenden Plugins ist leer.");
    const QStringList nichts{ "est21:0", "ust21:0", "ustva:0", "gew21:0", "kora:0" };
    QTest::newRow("nur Trenner") << ";;" << 2 << true << false << leer << QStringList() << nichts;
    QTest::newRow("keine Zahl") << "x<b>_2021;+10_2021" << 2 << true << false << keines
                                << QStringList{ "x&lt;b&gt;_2021", "+10_2021" } << nichts;
    QTest::newRow("leere Teile, ohne Jahr") << ";10_2021;;58_0;" << 0 << true << true << "" << QStringList()
                                            << QStringList{ "est21:1", "ust21:0", "ustva:1", "gew21:0", "kora:0" };
    QTest::newRow("fehlt, mit Namen") << "50_2021;20_2020;20_9999;11_0" << 0 << true << true << ""
                                      << QStringList{ textAusLiteral("Gewerbesteuererkl&auml;rung 2020"),
                                                      textAusLiteral("Gewerbesteuererkl&auml;rung"), "Unterfallart 11" }
                                      << QStringList{ "est21:0", "ust21:1", "ustva:0", "gew21:0", "kora:0" };
    QTest::newRow("neue Schnittstelle, keine Hauptanwendung") << "20_2021" << 0 << true << false
        << "Es wurde keine Update der Hauptanwendung auf dem Server gefunden." << QStringList()
        << QStringList{ "est21:0", "ust21:0", "ustva:0", "gew21:1", "kora:0" };
    QTest::newRow("neue Schnittstelle, nicht neuer") << "20_2021;99_2021" << 1 << true << false
        << textAusLiteral("Es wurde keine neuere Hauptanwendung auf dem Server gefunden.")
        << QStringList{ "Lohnsteuerbescheinigungen 2021" } << QStringList{ "est21:0", "ust21:0", "ustva:0", "gew21:1", "kora:0" };
    QTest::newRow("neue Schnittstelle, Folgejahre") << "20_2021" << 2 << true << true << "" << QStringList()
        << QStringList{ "est21:1", "ust21:0", "ustva:0", "gew21:1", "kora:2" };
    QTest::newRow("neue Schnittstelle, ohne Folgejahre") << "20_2021" << 2 << false << true << "" << QStringList()
        << QStringList{ "est21:0", "ust21:0", "ustva:0", "gew21:1", "kora:2" };
}

void TstPlanung::installationsliste()
{
    QFETCH(QString, liste);
    QFETCH(int, serverKora);
    QFETCH(bool, folgejahre);
    QFETCH(bool, ergebnis);
    QFETCH(QString, grund);
    QFETCH(QStringList, nichtGefunden);
    QFETCH(QStringList, geplant);

    Einstellungen::setKoraAlleFolgeJahre(folgejahre, gs_DirUserKora);
    if (serverKora) {
        Plugin* k = modul(QStringLiteral("kora"), 0, serverKora == 1 ? 4 : 6, 1, 1, 1, 400);
        gibUpdatepaket(k, 300);
        m_pm->setzePluginKoraVerfuegbar(k);
    }
    inst()->fuegeHinzu(modul(QStringLiteral("est"), 2020, 5));
    inst()->fuegeHinzu(modul(QStringLiteral("gew"), 2020, 5));
    verf()->fuegeHinzu(modul(QStringLiteral("est"), 2021, 5));
    verf()->fuegeHinzu(modul(QStringLiteral("ust"), 2021, 5, 1, 1, 1, 100, 50));
    verf()->fuegeHinzu(modul(QStringLiteral("ustva"), 0, 5, 1, 1, 1, 100, 58));
    verf()->fuegeHinzu(modul(QStringLiteral("gew"), 2021, 6, 1, 1, 1, 100, 20));
    m_pm->setzeStausLokalePlugins();
    m_pm->setzeStausVerfuegbarePlugins();

    QSignalSpy daten(m_pm.get(), &PluginManager::datenAenderung);
    QString g;
    QStringList ng;
    QCOMPARE(m_pm->pruefeInstallationsliste(liste, g, ng), ergebnis);
    QCOMPARE(g, grund);
    QCOMPARE(ng, nichtGefunden);
    QCOMPARE(aktionen(verf()) << QStringLiteral("kora:%1").arg(m_pm->gibPluginKoraInstalliert()->gibAktion()), geplant);
    QCOMPARE(daten.count(), ergebnis ? 1 : 0);

    // The texts the main flow shows for it: singular or plural.
    const QString abgelehnt = PluginManager::gibTextInstallationslisteAbgelehnt(liste, g);
    QCOMPARE(abgelehnt.startsWith(textAusLiteral("<b>Die Steuererkl&auml;rungsmodule k&ouml;nnen nicht")),
             liste.split(QLatin1Char(';'), Qt::SkipEmptyParts).size() > 1);
    const QString fehlend = PluginManager::gibTextInstallationslisteNichtGefunden(ng);
    QCOMPARE(fehlend.isEmpty(), ng.isEmpty());
    QCOMPARE(fehlend.contains(textAusLiteral("Folgende Steuererkl&auml;rungsmodule wurden nicht")), ng.size() > 1);
    QCOMPARE(fehlend.contains(textAusLiteral("Folgendes Steuererkl&auml;rungsmodul wurde nicht")), ng.size() == 1);
}

QTEST_GUILESS_MAIN(TstPlanung)
#include "tst_planung.moc"
