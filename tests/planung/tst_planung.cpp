// Comparing both sides and planning the run: status words, the reference main
// application, the tick rules, the summary, the question about more than four
// years and the "--instPlugin" list. Records are built in memory.

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

// Kurzname, year, interface number, NrAlle, NrGr, NrPlugin.
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
    s.setzeDatei(QStringLiteral("update.zip"));
    p->fuegeSetupsHinzu({ s });
}

QStringList aktionen(const DlgPluginManagerDatenmodel* m)
{
    QStringList r;
    for (const Plugin* p : m->gibListe())
        r << QStringLiteral("%1:%2").arg(p->gibKurznameMitJahr()).arg(p->gibAktion());
    return r;
}

} // namespace

class TstPlanung : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void cleanup();

    void zustand_data();
    void zustand();
    void kompatibilitaetFolgtDerAuswahl_data();
    void kompatibilitaetFolgtDerAuswahl();
    void erneuernWirdEntfernen();
    void folgejahreUndHaken();
    void auswahlzustand_data();
    void auswahlzustand();
    void zusammenfassung();
    void mehrAlsVierJahre();
    void frageAlleHalbJahre_data();
    void frageAlleHalbJahre();
    void updateVorhanden_data();
    void updateVorhanden();
    void installationsliste_data();
    void installationsliste();
    void installationslisteMitNeuerHauptanwendung_data();
    void installationslisteMitNeuerHauptanwendung();
    void installationslisteTexte();
    void loeschenPerKurzname();

private:
    QTemporaryDir m_log;
    std::unique_ptr<TestUmgebung> m_umgebung;
    std::unique_ptr<PluginManager> m_pm;
    DlgPluginManagerDatenmodel* inst() const { return m_pm->gibDatenmodelInstalliert(); }
    DlgPluginManagerDatenmodel* verf() const { return m_pm->gibDatenmodelVerfuegbar(); }
};

void TstPlanung::initTestCase()
{
    initLogBase(QStringLiteral("tst_planung"), 10 * 1024 * 1024, m_log.path());
}

void TstPlanung::cleanupTestCase()
{
    beendeLogBase();
}

void TstPlanung::init()
{
    m_umgebung = std::make_unique<TestUmgebung>();
    setzeStartwerteZurueck();
    gs_DirUserKora = m_umgebung->pfad() + QStringLiteral("/benutzer/kora");
    gs_KoraDir = m_umgebung->pfad() + QStringLiteral("/programm");
    m_pm = std::make_unique<PluginManager>();
}

void TstPlanung::cleanup()
{
    m_pm.reset();
    setzeStartwerteZurueck();
    m_umgebung.reset();
}

// The state of a module on both lists, from its numbers on either side.
void TstPlanung::zustand_data()
{
    QTest::addColumn<QList<uint>>("lokal");  // IF, NrAlle, NrGr, NrPlugin, Rev
    QTest::addColumn<QList<uint>>("server"); // empty: not on the server
    QTest::addColumn<bool>("serverGelesen");
    QTest::addColumn<bool>("paket");         // the server has a package for the local Rev
    QTest::addColumn<int>("statusLokal");
    QTest::addColumn<int>("statusServer");
    QTest::addColumn<bool>("keinUpdatePaket");
    QTest::addColumn<QString>("textLokal");

    const QList<uint> keiner;
    QTest::newRow("NrGr groesser trotz kleinerem NrAlle") << QList<uint>{ 5, 10, 1, 1, 100 } << QList<uint>{ 5, 9, 2, 1, 100 }
                                                         << true << true << 0x042 << 0x042 << false
                                                         << "Es ist ein Update vorhanden.";
    QTest::newRow("Update ohne Paket") << QList<uint>{ 5, 1, 1, 1, 100 } << QList<uint>{ 5, 1, 1, 2, 101 } << true << false
                                       << 0x042 << 0x012 << true
                                       << "Ist nicht aktuell aber es ist kein Update vorhanden.";
    QTest::newRow("gleich, andere Rev") << QList<uint>{ 5, 3, 3, 3, 100 } << QList<uint>{ 5, 3, 3, 3, 200 } << true << true
                                        << 0x022 << 0x022 << false << "ist aktuell";
    QTest::newRow("lokal neuer") << QList<uint>{ 5, 3, 3, 4, 100 } << QList<uint>{ 5, 3, 3, 3, 100 } << true << true
                                 << 0x012 << 0x042 << false << "Es ist kein Update vorhanden.";
    QTest::newRow("nicht mehr auf dem Server") << QList<uint>{ 5, 1, 1, 1, 100 } << keiner << true << true << 0x082 << 0
                                               << false << "wird nicht mehr unterst&uuml;tzt";
    QTest::newRow("Server nicht gelesen") << QList<uint>{ 5, 1, 1, 1, 100 } << keiner << false << true << 0x102 << 0
                                          << false << "der Zustand ist unbekannt";
}

void TstPlanung::zustand()
{
    QFETCH(QList<uint>, lokal);
    QFETCH(QList<uint>, server);
    QFETCH(bool, serverGelesen);
    QFETCH(bool, paket);
    QFETCH(int, statusLokal);
    QFETCH(int, statusServer);
    QFETCH(bool, keinUpdatePaket);
    QFETCH(QString, textLokal);

    m_pm->setzePluginKoraInstalliert(modul(QStringLiteral("kora"), 0, 5));
    Plugin* l = modul(QStringLiteral("est"), 2020, lokal[0], lokal[1], lokal[2], lokal[3], lokal[4]);
    inst()->fuegeHinzu(l);
    Plugin* s = nullptr;
    if (!server.isEmpty()) {
        s = modul(QStringLiteral("est"), 2020, server[0], server[1], server[2], server[3], server[4]);
        if (paket)
            gibUpdatepaket(s, lokal[4]);
        verf()->fuegeHinzu(s);
    }
    // A record of another year is a different module.
    if (serverGelesen)
        verf()->fuegeHinzu(modul(QStringLiteral("est"), 2019, 5));

    QSignalSpy zeilen(inst(), &DlgPluginManagerDatenmodel::aenderung);
    m_pm->setzeStausLokalePlugins();
    m_pm->setzeStausVerfuegbarePlugins();
    QCOMPARE(zeilen.count(), 1);
    QCOMPARE(l->gibStatus(), statusLokal);
    QCOMPARE(l->istKeinUpdatePaket(), keinUpdatePaket);
    QCOMPARE(l->gibStatusText(false),
             textAusLiteral(textLokal.toLatin1().constData()) + QStringLiteral("<br><b>kompatibel:</b> ja"));
    if (s) {
        QCOMPARE(s->gibStatus(), statusServer);
        QVERIFY(s->istInstalliert());
    }
}

// The reference main application is the server's once its update is chosen.
void TstPlanung::kompatibilitaetFolgtDerAuswahl_data()
{
    QTest::addColumn<bool>("aktualisieren");
    QTest::addColumn<int>("statusLokal");  // installed est 2020 (IF 5), server copy IF 6
    QTest::addColumn<int>("statusNeu");    // est 2021 only on the server, IF 6
    QTest::addColumn<int>("statusAlt");    // ust 2020 on the server, IF 5, not installed
    QTest::addColumn<QString>("textNeu");

    QTest::newRow("ohne Update der Hauptanwendung") << false << 0x041 << 0x081 << 0x082 << "nein";
    QTest::newRow("mit Update der Hauptanwendung") << true << 0x042 << 0x082 << 0x084 << "ja";
}

void TstPlanung::kompatibilitaetFolgtDerAuswahl()
{
    QFETCH(bool, aktualisieren);
    QFETCH(int, statusLokal);
    QFETCH(int, statusNeu);
    QFETCH(int, statusAlt);
    QFETCH(QString, textNeu);

    m_pm->setzePluginKoraInstalliert(modul(QStringLiteral("kora"), 0, 5));
    m_pm->setzePluginKoraVerfuegbar(modul(QStringLiteral("kora"), 0, 6));
    Plugin* lokal = modul(QStringLiteral("est"), 2020, 5);
    inst()->fuegeHinzu(lokal);
    verf()->fuegeHinzu(modul(QStringLiteral("est"), 2020, 6));
    Plugin* neu = modul(QStringLiteral("est"), 2021, 6);
    verf()->fuegeHinzu(neu);
    Plugin* alt = modul(QStringLiteral("ust"), 2020, 5);
    verf()->fuegeHinzu(alt);

    m_pm->setzeStausLokalePlugins();
    m_pm->setzeStausVerfuegbarePlugins();
    m_pm->setzeAktionHauptanwendung(aktualisieren);
    QCOMPARE(m_pm->istHauptanwendungAktualisieren(), aktualisieren);
    QCOMPARE(m_pm->gibPluginKoraInstalliert()->gibAktion(), aktualisieren ? int(Plugin::ERNEUERN) : int(Plugin::KEINE));
    QCOMPARE(lokal->gibStatus(), statusLokal);
    QCOMPARE(neu->gibStatus(), statusNeu);
    QCOMPARE(alt->gibStatus(), statusAlt);
    QVERIFY(neu->istNeuerZeitraum());
    QVERIFY(neu->gibStatusText(true).endsWith(textNeu));
}

void TstPlanung::erneuernWirdEntfernen()
{
    m_pm->setzePluginKoraInstalliert(modul(QStringLiteral("kora"), 0, 5));
    m_pm->setzePluginKoraVerfuegbar(modul(QStringLiteral("kora"), 0, 6));
    inst()->fuegeHinzu(modul(QStringLiteral("est"), 2018, 5)); // no longer on the server
    inst()->fuegeHinzu(modul(QStringLiteral("est"), 2020, 5, 1));
    inst()->fuegeHinzu(modul(QStringLiteral("gew"), 2020, 6)); // already fits the new one
    verf()->fuegeHinzu(modul(QStringLiteral("est"), 2020, 6, 2));
    verf()->fuegeHinzu(modul(QStringLiteral("gew"), 2020, 6));
    m_pm->setzeStausLokalePlugins();
    m_pm->setzeStausVerfuegbarePlugins();
    QCOMPARE(inst()->gibPlugin(0)->gibStatusText(false),
             textAusLiteral("wird nicht mehr unterst&uuml;tzt<br><b>kompatibel:</b> ja"));

    QSignalSpy zeilen(inst(), &DlgPluginManagerDatenmodel::aenderung);
    m_pm->setzeAktionHauptanwendung(true);
    QCOMPARE(aktionen(inst()), (QStringList{ "est18:3", "est20:2", "gew20:0" }));
    // Planning and the two status passes each announce every row.
    QCOMPARE(zeilen.count(), 3 * 2);

    m_pm->setzeAktionHauptanwendung(false);
    QCOMPARE(aktionen(inst()), (QStringList{ "est18:0", "est20:0", "gew20:0" }));
    QVERIFY(!m_pm->istHauptanwendungAktualisieren());

    // Without a server main application nothing is planned.
    m_pm->setzePluginKoraVerfuegbar(nullptr);
    m_pm->setzeAktionHauptanwendung(true);
    QVERIFY(!m_pm->istHauptanwendungAktualisieren());
    QCOMPARE(aktionen(inst()), (QStringList{ "est18:0", "est20:0", "gew20:0" }));

    m_pm->setzeAktionenEmpfohlene(true);
    m_pm->resetAktionenDerPlugins();
    QCOMPARE(aktionen(inst()), (QStringList{ "est18:0", "est20:0", "gew20:0" }));
}

void TstPlanung::folgejahreUndHaken()
{
    m_pm->setzePluginKoraInstalliert(modul(QStringLiteral("kora"), 0, 5));
    inst()->fuegeHinzu(modul(QStringLiteral("est"), 2019, 5));
    inst()->fuegeHinzu(modul(QStringLiteral("est"), 2020, 5));
    verf()->fuegeHinzu(modul(QStringLiteral("est"), 2020, 5, 2));  // update of the installed 2020
    verf()->fuegeHinzu(modul(QStringLiteral("est"), 2021, 5));     // following year
    verf()->fuegeHinzu(modul(QStringLiteral("ust"), 2021, 5));     // other declaration
    verf()->fuegeHinzu(modul(QStringLiteral("est"), 2018, 5));     // earlier year
    m_pm->setzeStausLokalePlugins();
    m_pm->setzeStausVerfuegbarePlugins();
    QCOMPARE(verf()->gibtAnzahlPluginsZurInstallationEmpfohlen(), 1);
    QCOMPARE(m_pm->findeDasJuengsteInstalliertePluginGleichenTyps(verf()->gibPlugin(3)), inst()->gibPlugin(1));

    QSignalSpy zeilen(verf(), &DlgPluginManagerDatenmodel::aenderung);
    m_pm->setzeAktionVerfuegbareZurInstallationEmpfohlene(true);
    QCOMPARE(aktionen(verf()), (QStringList{ "est20:0", "est21:1", "ust21:0", "est18:0" }));
    QCOMPARE(zeilen.count(), 1);
    m_pm->setzeAktionVerfuegbareZurInstallationEmpfohlene(true);
    QCOMPARE(zeilen.count(), 1); // nothing changed, nothing announced

    m_pm->setzeAlleHakenInstallieren(true);
    QCOMPARE(aktionen(verf()), (QStringList{ "est20:0", "est21:1", "ust21:1", "est18:1" }));
    m_pm->setzeAlleHakenInstallieren(false);
    QCOMPARE(aktionen(verf()), (QStringList{ "est20:0", "est21:0", "ust21:0", "est18:0" }));

    m_pm->setzeAlleHakenAktualisieren(true);
    QCOMPARE(aktionen(inst()), (QStringList{ "est19:0", "est20:2" }));
    m_pm->setzeAlleHakenAktualisieren(false);
    QCOMPARE(aktionen(inst()), (QStringList{ "est19:0", "est20:0" }));
}

void TstPlanung::auswahlzustand_data()
{
    // Per installed module: status and action; per available: neuerZeitraum, status, action.
    QTest::addColumn<QList<int>>("installiert");
    QTest::addColumn<QList<int>>("verfuegbar");
    QTest::addColumn<int>("aktualisierungen");
    QTest::addColumn<int>("folgejahre");

    QTest::newRow("nichts waehlbar") << QList<int>{ 0x022, 0 } << QList<int>{ 0, 0x012, 0 } << 3 << 3;
    QTest::newRow("alle gesetzt") << QList<int>{ 0x042, 2, 0x012, 2 } << QList<int>{ 1, 0x082, 1 } << 0 << 0;
    QTest::newRow("keiner gesetzt heisst teilweise") << QList<int>{ 0x042, 0, 0x042, 0 } << QList<int>{ 1, 0x082, 0 } << 1 << 2;
    QTest::newRow("teilweise") << QList<int>{ 0x042, 2, 0x042, 0 }
                               << QList<int>{ 1, 0x082, 1, 1, 0x082, 0 } << 1 << 1;
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
    m_pm->setzePluginKoraInstalliert(modul(QStringLiteral("kora"), 0, 5));
    m_pm->setzePluginKoraVerfuegbar(modul(QStringLiteral("kora"), 0, 6));
    struct Z { const char* kurz; uint jahr; uint ifNr; int aktion; };
    const Z lokal[] = { { "est", 2018, 5, Plugin::ENTFERNEN }, { "est", 2019, 5, Plugin::KEINE },
                        { "est", 2020, 5, Plugin::ERNEUERN }, { "gew", 2020, 6, Plugin::KEINE },
                        { "ust", 2020, 5, Plugin::KEINE } };
    for (const Z& z : lokal) {
        Plugin* p = modul(QString::fromLatin1(z.kurz), z.jahr, z.ifNr);
        p->setzeAktion(z.aktion);
        inst()->fuegeHinzu(p);
    }
    Plugin* ustNeu = modul(QStringLiteral("ust"), 2020, 6);
    ustNeu->setzeAktion(Plugin::INSTALLIEREN); // a fresh copy replaces the excluded one
    verf()->fuegeHinzu(ustNeu);
    Plugin* est21 = modul(QStringLiteral("est"), 2021, 6);
    est21->setzeAktion(Plugin::INSTALLIEREN);
    verf()->fuegeHinzu(est21);

    // Without the main-application update the installed one is the reference:
    // est 2019 still works with it, gew 2020 does not.
    int schritte = -1;
    QStringList zeilen = m_pm->gibAktionen(schritte);
    QCOMPARE(zeilen, (QStringList{
                         textAusLiteral("<b>Achtung!</b> Sie haben folgende Steuererkl&auml;rungsmodule:<ul><li>GEW 2020</ul>"
                                        "von der Aktualisierung ausgeschlossen. Diese k&ouml;nnen nach Aktualisierung "
                                        "der Hauptanwendung nicht mehr verwendet werden."),
                         "\"EST 2018\" wird entfernt.", "\"EST 2020\" wird aktualisiert.",
                         "\"UST 2020\" wird installiert.", "\"EST 2021\" wird installiert." }));
    QCOMPARE(schritte, 1 + 2 + 2 + 2);
    QCOMPARE(m_pm->gibAnzahlSchritte(), schritte);

    m_pm->gibPluginKoraInstalliert()->setzeAktion(Plugin::ERNEUERN);
    m_pm->setzeAktionHauptanwendung(true);
    m_pm->gibPluginKoraInstalliert()->setzeAktion(Plugin::ERNEUERN);
    for (Plugin* p : inst()->gibListe())
        p->setzeAktion(p->gibJahr() == 2018 ? Plugin::ENTFERNEN : p->gibJahr() == 2020 && p->gibKurzname() == "est" ? Plugin::ERNEUERN : Plugin::KEINE);
    zeilen = m_pm->gibAktionen(schritte);
    QCOMPARE(zeilen.first(), textAusLiteral("<b>Achtung!</b> Sie haben folgende Steuererkl&auml;rungsmodule:<ul><li>EST 2019</ul>"
                                            "von der Aktualisierung ausgeschlossen. Diese k&ouml;nnen nach Aktualisierung "
                                            "der Hauptanwendung nicht mehr verwendet werden."));
    QCOMPARE(zeilen.at(1), textAusLiteral("Das Hauptprogramm und die Steuerberechnung werden aktualisiert."));
    QCOMPARE(schritte, 2 + 1 + 2 + 2 + 2);

    m_pm->resetAktionenDerPlugins();
    m_pm->gibPluginKoraInstalliert()->setzeAktion(Plugin::KEINE);
    m_pm->setzeAktionHauptanwendung(false);
    QVERIFY(!m_pm->checkSollenAlleInstalliertenGeloeschtUndKeineNeuenInstalliertWerden());
    for (Plugin* p : inst()->gibListe())
        p->setzeAktion(Plugin::ENTFERNEN);
    QVERIFY(m_pm->checkSollenAlleInstalliertenGeloeschtUndKeineNeuenInstalliertWerden());
    est21->setzeAktion(Plugin::INSTALLIEREN);
    QVERIFY(!m_pm->checkSollenAlleInstalliertenGeloeschtUndKeineNeuenInstalliertWerden());
}

void TstPlanung::mehrAlsVierJahre()
{
    for (uint jahr = 2016; jahr <= 2020; ++jahr) {
        Plugin* p = modul(QStringLiteral("est"), jahr, 5);
        p->setzeAktion(jahr == 2016 ? Plugin::KEINE : Plugin::ERNEUERN);
        inst()->fuegeHinzu(p);
        Plugin* u = modul(QStringLiteral("ust"), jahr, 5);
        u->setzeAktion(Plugin::ERNEUERN);
        inst()->fuegeHinzu(u);
    }
    QCOMPARE(m_pm->gibPluginsMitMehrAlsVierVZs(), QStringList{ "UST" });
    Plugin* est21 = modul(QStringLiteral("est"), 2021, 5);
    est21->setzeAktion(Plugin::INSTALLIEREN);
    verf()->fuegeHinzu(est21);
    QCOMPARE(m_pm->gibPluginsMitMehrAlsVierVZs(), (QStringList{ "EST", "UST" }));

    inst()->gibPlugin(0)->setzeDateien({ "a", "b" });
    inst()->gibPlugin(1)->setzeDateien({ "b", "c" });
    m_pm->setzePluginKoraInstalliert(modul(QStringLiteral("kora"), 0, 5));
    m_pm->gibPluginKoraInstalliert()->setzeDateien({ "k", "a" });
    QCOMPARE(m_pm->gibDateilisteInstalliert(), (QStringList{ "k", "a", "b", "c" }));
}

// The question about reviewing more than four years: at most every 182 days.
void TstPlanung::frageAlleHalbJahre_data()
{
    QTest::addColumn<int>("tageHer"); // -1000: never asked
    QTest::addColumn<int>("antwort");
    QTest::addColumn<bool>("gefragt");
    QTest::addColumn<bool>("ergebnis");

    QTest::newRow("nie gefragt, ja") << -1000 << 1 << true << true;
    QTest::newRow("181 Tage") << 181 << 1 << false << false;
    QTest::newRow("182 Tage, nein") << 182 << 0 << true << false;
    QTest::newRow("182 Tage, ja") << 182 << 1 << true << true;
    QTest::newRow("in der Zukunft") << -3 << 1 << false << false;
}

void TstPlanung::frageAlleHalbJahre()
{
    QFETCH(int, tageHer);
    QFETCH(int, antwort);
    QFETCH(bool, gefragt);
    QFETCH(bool, ergebnis);
    FakeRueckfrage fake;
    fake.antworten << antwort;
    const QDateTime vorher = QDateTime::currentDateTime().addDays(-tageHer);
    if (tageHer != -1000)
        Einstellungen::setKoraFrageWenigerPluginsDatum(vorher, gs_DirUserKora);

    QCOMPARE(m_pm->frageAuswahlUeberpruefen({ "EST", "UST" }), ergebnis);
    QCOMPARE(fake.fragen.size(), gefragt ? 1 : 0);
    const QDateTime gespeichert = Einstellungen::getKoraFrageWenigerPluginsDatum(gs_DirUserKora);
    if (!gefragt) {
        QCOMPARE(gespeichert.toString(Einstellungen::datumsFormat), vorher.toString(Einstellungen::datumsFormat));
        return;
    }
    QVERIFY(qAbs(gespeichert.secsTo(QDateTime::currentDateTime())) < 60);
    const auto& f = fake.fragen.first();
    QCOMPARE(f.art, 4);
    QCOMPARE(f.knopf1, QStringLiteral("Ja"));
    QCOMPARE(f.knopf2, QStringLiteral("Nein"));
    QVERIFY(f.text.startsWith(textAusLiteral("Die Installation von Fiscalon auf Ihrem PC erm&ouml;glicht f&uuml;r<br><br> - EST<br> - UST<br><br>die")));
    QVERIFY(f.text.contains(QStringLiteral("deutlich beschleunigen")));
    QVERIFY(f.text.endsWith(textAusLiteral("noch einmal &uuml;berpr&uuml;fen?")));
}

void TstPlanung::updateVorhanden_data()
{
    QTest::addColumn<bool>("hauptanwendung");
    QTest::addColumn<uint>("serverNrAlle"); // 0: no server main application
    QTest::addColumn<int>("modulStatus");
    QTest::addColumn<bool>("folgejahr");
    QTest::addColumn<int>("ergebnis");

    QTest::newRow("keine Installation") << false << 2u << 0x022 << false << -1;
    QTest::newRow("Hauptanwendung neuer") << true << 2u << 0x022 << false << 1;
    QTest::newRow("Modul mit Update") << true << 1u << 0x042 << false << 1;
    QTest::newRow("Folgejahr") << true << 1u << 0x022 << true << 1;
    QTest::newRow("alles aktuell") << true << 1u << 0x022 << false << 0;
    QTest::newRow("kein Server") << true << 0u << 0x102 << false << 0;
}

void TstPlanung::updateVorhanden()
{
    QFETCH(bool, hauptanwendung);
    QFETCH(uint, serverNrAlle);
    QFETCH(int, modulStatus);
    QFETCH(bool, folgejahr);
    QFETCH(int, ergebnis);
    if (hauptanwendung)
        m_pm->setzePluginKoraInstalliert(modul(QStringLiteral("kora"), 0, 5, 1));
    if (serverNrAlle)
        m_pm->setzePluginKoraVerfuegbar(modul(QStringLiteral("kora"), 0, 5, serverNrAlle));
    Plugin* p = modul(QStringLiteral("est"), 2020, 5);
    p->setzeStatus(modulStatus);
    inst()->fuegeHinzu(p);
    Plugin* v = modul(QStringLiteral("est"), 2021, 5);
    v->setzeNeuerZeitraum(folgejahr);
    verf()->fuegeHinzu(v);
    QCOMPARE(m_pm->istUpdateVorhanden(), ergebnis);
}

// "--instPlugin" with modules that fit the installed main application.
void TstPlanung::installationsliste_data()
{
    QTest::addColumn<QString>("liste");
    QTest::addColumn<bool>("ergebnis");
    QTest::addColumn<QString>("grund");
    QTest::addColumn<QStringList>("nichtGefunden");
    QTest::addColumn<QStringList>("geplant");

    const QString keines = textAusLiteral("Keines der zu installierenden Steuererkl&auml;rungsmodule wurde auf dem Server gefunden.");
    const QString leer = QStringLiteral("Die Liste der zu installierenden Plugins ist leer.");
    const QStringList nichts{ "est20:0", "est21:0", "ust21:0", "ustva:0" };
    QTest::newRow("leer") << "" << false << leer << QStringList() << nichts;
    QTest::newRow("nur Trenner") << ";;" << false << leer << QStringList() << nichts;
    QTest::newRow("ein Modul, leere Teile") << ";10_2021;" << true << "" << QStringList() << QStringList{ "est20:0", "est21:1", "ust21:0", "ustva:0" };
    QTest::newRow("zwei Module") << "10_2021;50_2021" << true << "" << QStringList() << QStringList{ "est20:0", "est21:1", "ust21:1", "ustva:0" };
    QTest::newRow("ohne Jahr") << "58_0" << true << "" << QStringList() << QStringList{ "est20:0", "est21:0", "ust21:0", "ustva:1" };
    QTest::newRow("abc, 10, 10_2020_x") << "abc;10;10_2020_x" << false << keines << QStringList() << nichts;
    QTest::newRow("fehlt, mit Namen") << "10_2021;20_2021;20_9999;11_0" << true << ""
                                      << QStringList{ textAusLiteral("Gewerbesteuererkl&auml;rung 2021"),
                                                      textAusLiteral("Gewerbesteuererkl&auml;rung"),
                                                      QStringLiteral("Unterfallart 11") }
                                      << QStringList{ "est20:0", "est21:1", "ust21:0", "ustva:0" };
    QTest::newRow("keine Zahl") << "x<b>_2021" << false << keines << QStringList{ "x&lt;b&gt;_2021" } << nichts;
    QTest::newRow("Vorzeichen") << "+10_2021" << false << keines << QStringList{ "+10_2021" } << nichts;
}

void TstPlanung::installationsliste()
{
    QFETCH(QString, liste);
    QFETCH(bool, ergebnis);
    QFETCH(QString, grund);
    QFETCH(QStringList, nichtGefunden);
    QFETCH(QStringList, geplant);

    m_pm->setzePluginKoraInstalliert(modul(QStringLiteral("kora"), 0, 5));
    inst()->fuegeHinzu(modul(QStringLiteral("est"), 2020, 5));
    verf()->fuegeHinzu(modul(QStringLiteral("est"), 2020, 5));
    verf()->fuegeHinzu(modul(QStringLiteral("est"), 2021, 5));
    verf()->fuegeHinzu(modul(QStringLiteral("ust"), 2021, 5, 1, 1, 1, 100, 50));
    verf()->fuegeHinzu(modul(QStringLiteral("ustva"), 0, 5, 1, 1, 1, 100, 58));

    QSignalSpy daten(m_pm.get(), &PluginManager::datenAenderung);
    QString g;
    QStringList ng;
    QCOMPARE(m_pm->pruefeInstallationsliste(liste, g, ng), ergebnis);
    QCOMPARE(g, grund);
    QCOMPARE(ng, nichtGefunden);
    QCOMPARE(aktionen(verf()), geplant);
    QCOMPARE(daten.count(), ergebnis ? 1 : 0);
    QVERIFY(!m_pm->istHauptanwendungAktualisieren());
}

// Modules for a newer interface need the main-application update as well.
void TstPlanung::installationslisteMitNeuerHauptanwendung_data()
{
    QTest::addColumn<bool>("ohneInstallation");
    QTest::addColumn<uint>("serverNrAlle"); // 0: none on the server
    QTest::addColumn<bool>("paket");
    QTest::addColumn<bool>("folgejahre");
    QTest::addColumn<bool>("ergebnis");
    QTest::addColumn<QString>("grund");

    QTest::newRow("keine Installation") << true << 2u << true << true << false
                                        << "Es wurde keine Installation von Fiscalon auf dem PC gefunden.";
    QTest::newRow("keine auf dem Server") << false << 0u << true << true << false
                                          << "Es wurde keine Update der Hauptanwendung auf dem Server gefunden.";
    QTest::newRow("nicht neuer") << false << 1u << true << true << false
                                 << "Es wurde keine neuere Hauptanwendung auf dem Server gefunden.";
    QTest::newRow("ohne Paket") << false << 2u << false << true << false
                                << "Es wurde keine passendes Update der Hauptanwendung auf dem Server gefunden.";
    QTest::newRow("mit Folgejahren") << false << 2u << true << true << true << "";
    QTest::newRow("ohne Folgejahre") << false << 2u << true << false << true << "";
}

void TstPlanung::installationslisteMitNeuerHauptanwendung()
{
    QFETCH(bool, ohneInstallation);
    QFETCH(uint, serverNrAlle);
    QFETCH(bool, paket);
    QFETCH(bool, folgejahre);
    QFETCH(bool, ergebnis);
    QFETCH(QString, grund);

    Einstellungen::setKoraAlleFolgeJahre(folgejahre, gs_DirUserKora);
    if (!ohneInstallation)
        m_pm->setzePluginKoraInstalliert(modul(QStringLiteral("kora"), 0, 5, 1, 1, 1, 300));
    if (serverNrAlle) {
        // "Not newer": an older interface number and nothing else greater.
        Plugin* k = modul(QStringLiteral("kora"), 0, serverNrAlle == 1 ? 4 : 6, serverNrAlle, 1, 1, 400);
        gibUpdatepaket(k, paket ? 300 : 299);
        m_pm->setzePluginKoraVerfuegbar(k);
    }
    inst()->fuegeHinzu(modul(QStringLiteral("est"), 2020, 5));
    inst()->fuegeHinzu(modul(QStringLiteral("gew"), 2020, 5));
    verf()->fuegeHinzu(modul(QStringLiteral("est"), 2020, 6, 2));
    verf()->fuegeHinzu(modul(QStringLiteral("gew"), 2021, 6, 1, 1, 1, 100, 20));
    verf()->fuegeHinzu(modul(QStringLiteral("est"), 2021, 6, 1, 1, 1, 100, 10));
    m_pm->setzeStausLokalePlugins();
    m_pm->setzeStausVerfuegbarePlugins();

    QString g;
    QStringList ng;
    QCOMPARE(m_pm->pruefeInstallationsliste(QStringLiteral("20_2021"), g, ng), ergebnis);
    QCOMPARE(g, grund);
    QCOMPARE(m_pm->istHauptanwendungAktualisieren(), ergebnis);
    if (!ergebnis)
        return;
    QCOMPARE(m_pm->gibPluginKoraInstalliert()->gibAktion(), int(Plugin::ERNEUERN));
    // gew 2020 is gone from the server: it cannot be renewed and goes.
    QCOMPARE(aktionen(inst()), (QStringList{ "est20:2", "gew20:3" }));
    QCOMPARE(aktionen(verf()), (QStringList{ "est20:0", "gew21:1", folgejahre ? "est21:1" : "est21:0" }));
}

void TstPlanung::installationslisteTexte()
{
    const QString grund = QStringLiteral("G");
    QCOMPARE(PluginManager::gibTextInstallationslisteAbgelehnt(QStringLiteral("10_2020;"), grund),
             textAusLiteral("<b>Das Steuererkl&auml;rungsmodul kann nicht installiert werden.</b><br><br>Grund:<br>G<br>"));
    QCOMPARE(PluginManager::gibTextInstallationslisteAbgelehnt(QStringLiteral("10_2020;50_2020"), grund),
             textAusLiteral("<b>Die Steuererkl&auml;rungsmodule k&ouml;nnen nicht installiert werden.</b><br><br>Grund:<br>G<br>"));
    QVERIFY(PluginManager::gibTextInstallationslisteNichtGefunden({}).isEmpty());
    QCOMPARE(PluginManager::gibTextInstallationslisteNichtGefunden({ "A" }),
             textAusLiteral("<b>Nicht alle Steuererkl&auml;rungsmodule werden installiert.</b><br><br>"
                            "Folgendes Steuererkl&auml;rungsmodul wurde nicht auf dem Server gefunden:<br><ul><li>A</li></ul>"));
    QCOMPARE(PluginManager::gibTextInstallationslisteNichtGefunden({ "A", "B" }),
             textAusLiteral("<b>Nicht alle Steuererkl&auml;rungsmodule werden installiert.</b><br><br>"
                            "Folgende Steuererkl&auml;rungsmodule wurden nicht auf dem Server gefunden:<br><ul><li>A</li><li>B</li></ul>"));
}

void TstPlanung::loeschenPerKurzname()
{
    for (const char* datei : { "plugins/est20/a.dll", "dict/est_20.dict", "plugins/est19/a.dll" })
        TestUmgebung::schreibeDatei(gs_KoraDir + QLatin1Char('/') + QLatin1String(datei), "x");
    Plugin* est20 = modul(QStringLiteral("est"), 2020, 5);
    est20->setzeDateien({ "plugins/est20/a.dll", "dict/est_20.dict", "../ausserhalb.txt" });
    est20->setzeDictDatei(gs_KoraDir + QStringLiteral("/dict/est_20.dict"));
    inst()->fuegeHinzu(modul(QStringLiteral("est"), 2019, 5));
    inst()->fuegeHinzu(est20);
    TestUmgebung::schreibeDatei(m_umgebung->pfad() + QStringLiteral("/ausserhalb.txt"), "bleibt");

    QVERIFY(!m_pm->loeschePluginLokal(QStringLiteral("est21")));
    QVERIFY(!m_pm->loeschePluginLokal(QStringLiteral("est")));
    QVERIFY(m_pm->loeschePluginLokal(QStringLiteral("est20")));
    QVERIFY(!QFile::exists(gs_KoraDir + QStringLiteral("/plugins/est20/a.dll")));
    QVERIFY(!QFile::exists(gs_KoraDir + QStringLiteral("/dict/est_20.dict")));
    QVERIFY(QFile::exists(gs_KoraDir + QStringLiteral("/plugins/est19/a.dll")));
    QVERIFY(QFile::exists(m_umgebung->pfad() + QStringLiteral("/ausserhalb.txt")));
}

QTEST_GUILESS_MAIN(TstPlanung)
#include "tst_planung.moc"
