// The run of a confirmed plan, driven through the engine and the wizard as the
// program wires them, against a real nginx serving a release made by the
// publishing tool; plus the clean-up's rules on a folder of its own.

#include "dialoge/ressourcen.h"
#include "global/plattform/plattform.h"
#include "pluginManager/dlgPluginManager.h"
#include "pluginManager/dlgPluginManagerDatenmodel.h"
#include "pluginManager/plugin.h"
#include "pluginManager/pluginManager.h"
#include "pluginManager/startwerte.h"
#include "pluginManager/wizardablauf.h"
#include "testhilfe/testserver.h"
#include "testhilfe/testumgebung.h"

#include <QApplication>
#include <QDirIterator>
#include <QProcess>
#include <QSettings>
#include <QTimer>
#include <QtTest>
#include <memory>

namespace {

Plugin* finde(DlgPluginManagerDatenmodel* model, const QString& kurznameMitJahr)
{
    for (Plugin* p : model->gibListe()) {
        if (p && p->gibKurznameMitJahr() == kurznameMitJahr)
            return p;
    }
    return nullptr;
}

// The engine with the main application on a network share when asked.
class TestEngine : public PluginManager
{
public:
    bool netz = false;
    bool istNetzlaufwerk(const QString& pfad) override { return netz || PluginManager::istNetzlaufwerk(pfad); }
};

} // namespace

class TstAusfuehrung : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void lauf_data();
    void lauf();
    void bereinigung();
    void groesse_data();
    void groesse();

private:
    std::unique_ptr<TestUmgebung> m_umgebung;
    std::unique_ptr<BeispielServer> m_server;
    NginxServer* m_nginx = nullptr;
    QString m_beispiel;
};

void TstAusfuehrung::initTestCase()
{
    initDialogRessourcen();
    m_umgebung = std::make_unique<TestUmgebung>();
    m_server = std::make_unique<BeispielServer>(m_umgebung->pfad(), QStringLiteral(IV_QUELLEN), QStringLiteral(IV_BAU));
    QVERIFY2(m_server->laeuft(), qPrintable(m_server->fehler()));
    m_beispiel = m_server->beispiel();
    m_nginx = &m_server->nginx();

    const QString wurzel = m_beispiel + QStringLiteral("/wurzel");
    qputenv("FISCALON_WURZEL", wurzel.toLocal8Bit());
    QSettings tavo(wurzel + QStringLiteral("/etc/xdg/fiscalon/kora/tavo.ini"), QSettings::IniFormat);
    tavo.setValue(QStringLiteral("UPDATE/QSTestServerUrl"), QStringLiteral("127.0.0.1:%1").arg(m_nginx->port()));
}

void TstAusfuehrung::cleanupTestCase()
{
    m_nginx = nullptr;
    m_server.reset();
    setzeStartwerteZurueck();
}

void TstAusfuehrung::lauf_data()
{
    // fall: what goes wrong, or what the user does, during the wizard's run.
    QTest::addColumn<QString>("fall");
    QTest::addColumn<bool>("fertig");
    QTest::addColumn<QStringList>("ergebnis"); // parts of the result page, in this order
    QTest::newRow("alles klappt") << "" << true
                                  << QStringList{ " 2020\" wurde entfernt.", " 2022\" wurde installiert.", " 2021\" wurde aktualisiert." };
    QTest::newRow("Ziel nicht ersetzbar") << "blockiert" << true
                                          << QStringList{ " 2022\" wurde nicht installiert.", " 2021\" wurde aktualisiert." };
    QTest::newRow("falsche MD5") << "md5" << false
                                 << QStringList{ "Die Aktualisierungen konnten nicht vom Server geladen werden." };
    QTest::newRow("Abbruch beim Download") << "abbruch" << false
                                           << QStringList{ "wurde nicht installiert, da die Aktion durch den Anwender abgebrochen wurde." };
    QTest::newRow("Abbruch nach Beginn") << "spaet" << true << QStringList{ " 2022\" wurde installiert." };
    QTest::newRow("kein Platz") << "platz" << false
                                << QStringList{ "F\u00fcr den Download der Aktualisierungen fehlen " };
    QTest::newRow("Netzlaufwerk") << "netz" << false << QStringList{ "auf einem Netzlaufwerk installiert wurde" };
}

void TstAusfuehrung::lauf()
{
    QFETCH(QString, fall);
    QFETCH(bool, fertig);
    QFETCH(QStringList, ergebnis);
    const QString tag = QString::fromLatin1(QTest::currentDataTag()).replace(QLatin1Char(' '), QLatin1Char('_'));
    const QString basis = m_umgebung->pfad() + QStringLiteral("/lauf_") + tag;
    const QString koraDir = basis + QStringLiteral("/Fiscalon");
    kopiereOrdner(m_beispiel + QStringLiteral("/wurzel/opt/Fiscalon"), koraDir);
    const QString benutzer = basis + QStringLiteral("/kora");
    QSettings kora(benutzer + QStringLiteral("/ini/kora.ini"), QSettings::IniFormat);
    kora.setValue(QStringLiteral("UPDATE/InternetAccessDialog"), false);
    kora.sync();
    // The instance the service starts: it may change the installation itself.
    QString zeile;
    leseParameter(QStringList{ QStringLiteral("iv"), QStringLiteral("--esStart"), QStringLiteral("--i2"),
                               QStringLiteral("--koraDir=") + koraDir, QStringLiteral("--dirUserKora=") + benutzer },
                  zeile);

    const QString archiv = m_beispiel + QStringLiteral("/server/download/pm/win_18_0/r27289/est_2022_27289.zip");
    const QByteArray original = TestUmgebung::leseDatei(archiv);
    if (fall == QLatin1String("md5"))
        TestUmgebung::schreibeDatei(archiv, original + "verdorben");
    if (fall == QLatin1String("blockiert"))
        TestUmgebung::schreibeDatei(koraDir + QStringLiteral("/dict/est_22.dict/belegt"), "ein Ordner im Weg");

    FakeRueckfrage fragen;
    TestEngine pm;
    pm.netz = (fall == QLatin1String("netz"));
    QCOMPARE(pm.setzeServerVerzeichnis(), 0);
    pm.loescheIndexDateiServer();
    QVERIFY(pm.holeServerInhaltsdatei());
    QVERIFY(pm.leseServerInhaltsdatei());
    pm.lesePluginInfoLokal();
    pm.setzeStausLokalePlugins();
    pm.setzeStausVerfuegbarePlugins();
    // Renew est 2021, install the new year, remove gew 2020; the main
    // application stays (its update is not part of this build).
    pm.setzeAktionHauptanwendung(false);
    Plugin* est21 = finde(pm.gibDatenmodelInstalliert(), QStringLiteral("est21"));
    Plugin* est22 = finde(pm.gibDatenmodelVerfuegbar(), QStringLiteral("est22"));
    Plugin* gew20 = finde(pm.gibDatenmodelInstalliert(), QStringLiteral("gew20"));
    QVERIFY(est21 && est22 && gew20);
    est21->setzeAktion(Plugin::ERNEUERN);
    est22->setzeAktion(Plugin::INSTALLIEREN);
    gew20->setzeAktion(Plugin::ENTFERNEN);
    if (fall == QLatin1String("platz"))
        est22->setzeSize(quint64(1) << 60);

    WizardAblaufEngine ablauf(&pm);
    DlgPluginManager wizard(&pm, true);
    wizard.setzeAblauf(&ablauf);
    wizard.show();

    bool abbruchAngenommen = false;
    int abbruchAbgelehnt = 0;
    if (fall == QLatin1String("abbruch")) {
        // The user cancels while the first archive is on its way.
        connect(&pm, &PluginManager::statusText, &wizard, [&]() {
            if (!pm.istAbbruch())
                QTimer::singleShot(0, &pm, [&]() { abbruchAngenommen = pm.abbruchDurchAnwender(); });
        });
    } else if (fall == QLatin1String("spaet")) {
        // Once changes began, neither the engine nor the window lets the user out.
        connect(&pm, &PluginManager::aktionsDurchfuehrung, &wizard, [&](bool aktiv) {
            if (aktiv) {
                abbruchAbgelehnt += pm.abbruchDurchAnwender() ? 0 : 1;
                wizard.close();
            }
        });
    }

    if (fall == QLatin1String("netz")) {
        wizard.initGui();
    } else {
        wizard.zeigeSeite(DlgPluginManager::SCHRITT_FORTSCHRITT);
        wizard.naechsteAktion();
    }
    TestUmgebung::schreibeDatei(archiv, original);

    QCOMPARE(wizard.gibSchritt(), int(DlgPluginManager::SCHRITT_ERGEBNIS));
    QCOMPARE(pm.gibMeldungen().isEmpty(), false);
    const QString html = wizard.gibTextBrowserHtml().replace(QLatin1String("&quot;"), QLatin1String("\""));
    int stelle = 0;
    for (const QString& teil : ergebnis) {
        const int neu = html.indexOf(teil, stelle);
        QVERIFY2(neu >= 0, qPrintable(teil + QStringLiteral(" fehlt in ") + html));
        stelle = neu;
    }

    const bool geaendert = fertig;
    QCOMPARE(QFile::exists(koraDir + QStringLiteral("/plugins/est2021_alt.dat")), !geaendert);
    QCOMPARE(QFile::exists(koraDir + QStringLiteral("/dict/gew_20.dict")), !geaendert);
    QCOMPARE(QFile::exists(koraDir + QStringLiteral("/plugins/gew2020.so")), !geaendert);
    QCOMPARE(QFileInfo(koraDir + QStringLiteral("/dict/est_22.dict")).isFile(), geaendert && fall != QLatin1String("blockiert"));
    QCOMPARE(TestUmgebung::leseDatei(koraDir + QStringLiteral("/plugins/est2021.so")).trimmed(),
             geaendert ? QByteArray("Modul est 2021 Stand 2") : QByteArray("Modul est 2021 Stand 1"));
    // The main application was left alone and the untouched modules stay.
    QVERIFY(QFile::exists(koraDir + QStringLiteral("/bin/alt.dat")));
    QVERIFY(QFile::exists(koraDir + QStringLiteral("/plugins/ust2021.so")));

    if (fall == QLatin1String("abbruch"))
        QVERIFY(abbruchAngenommen);
    if (fall == QLatin1String("spaet")) {
        QCOMPARE(abbruchAbgelehnt, 1);
        QVERIFY(!fragen.fragen.isEmpty());
        QVERIFY(fragen.fragen.last().text.contains(QStringLiteral("Ein Abbruch ist zu diesem Zeitpunkt nicht m\u00f6glich.")));
    }
    if (fall == QLatin1String("md5")) {
        int holten = 0;
        for (const QString& z : m_nginx->zugriffe())
            holten += z.contains(QLatin1String("est_2022_27289.zip")) ? 1 : 0;
        QVERIFY(holten >= 3);
    }
    wizard.setzeAblauf(nullptr);
}

void TstAusfuehrung::bereinigung()
{
    // Obsolete files go, letter case is repaired, and nothing outside the
    // folder is touched: not through "..", not through a link.
    const QString basis = m_umgebung->pfad() + QStringLiteral("/bereinigung");
    const QString dir = basis + QStringLiteral("/Fiscalon");
    for (const char* f : { "bin/alt.dat", "bin/doppelt.dat", "Bin/Gross.dat", "lib/bleibt.so", "plugins/ZUALT.so" })
        TestUmgebung::schreibeDatei(dir + QLatin1Char('/') + QLatin1String(f), "x");
    TestUmgebung::schreibeDatei(basis + QStringLiteral("/draussen.dat"), "fremd");
    TestUmgebung::schreibeDatei(basis + QStringLiteral("/fremd/ziel.dat"), "fremd");
    QVERIFY(QFile::link(basis + QStringLiteral("/fremd"), dir + QStringLiteral("/verweis")));
    QString zeile;
    leseParameter(QStringList{ QStringLiteral("iv"), QStringLiteral("--koraDir=") + dir,
                               QStringLiteral("--dirUserKora=") + basis + QStringLiteral("/kora") },
                  zeile);
    PluginManager pm;
    const QStringList vorher = { "bin/alt.dat", "BIN/DOPPELT.DAT", "lib/bleibt.so", "../draussen.dat", "verweis/ziel.dat",
                                 "plugins/zualt.so", "bin/fehlt.dat" };
    const QStringList nachher = { "lib/BLEIBT.so", "Bin/Gross.dat", "plugins/zuAlt.so", "BIN/doppelt.dat" };
    pm.bereinigen(dir, vorher, nachher);
    pm.bereinigenGrossKleinschreibung(nachher);

    QVERIFY(!QFile::exists(dir + QStringLiteral("/bin/alt.dat")));
    QVERIFY(QFile::exists(dir + QStringLiteral("/bin/doppelt.dat"))); // listed after in another case
    QVERIFY(QFile::exists(dir + QStringLiteral("/lib/BLEIBT.so")));    // renamed to its new spelling
    QVERIFY(!QFile::exists(dir + QStringLiteral("/lib/bleibt.so")));
    QVERIFY(QFile::exists(dir + QStringLiteral("/plugins/zuAlt.so")));
    QVERIFY(QFile::exists(basis + QStringLiteral("/draussen.dat")));
    QVERIFY(QFile::exists(basis + QStringLiteral("/fremd/ziel.dat")));
    // What could not go is named once, with every file, for the result page.
    const QStringList meldungen = pm.gibMeldungen().values(0);
    QCOMPARE(meldungen.size(), 1);
    QVERIFY(meldungen.first().contains(QStringLiteral("Dateien konnten nicht gel\u00f6scht werden")));
    for (const char* rest : { "draussen.dat", "ziel.dat", "fehlt.dat" })
        QVERIFY2(meldungen.first().contains(QLatin1String(rest)), rest);
}

void TstAusfuehrung::groesse_data()
{
    QTest::addColumn<quint64>("bytes");
    QTest::addColumn<QString>("text");
    QTest::newRow("Byte") << quint64(1023) << "1023.00 Byte";
    QTest::newRow("kB") << quint64(1536) << "1.50 kB";
    QTest::newRow("nie mehr als MB") << quint64(5) * 1024 * 1024 * 1024 << "5120.00 MB";
}

void TstAusfuehrung::groesse()
{
    QFETCH(quint64, bytes);
    QFETCH(QString, text);
    QString wert, einheit;
    PluginManager::formatiereGroesse(bytes, wert, einheit);
    QCOMPARE(wert + QLatin1Char(' ') + einheit, text);
    quint64 frei = 0;
    QVERIFY(Plattform::freierSpeicher(m_umgebung->pfad() + QStringLiteral("/gibt/es/nicht"), frei));
    QVERIFY(frei > 0);
    QVERIFY(!Plattform::istNetzlaufwerk(m_umgebung->pfad()));
}

QTEST_MAIN(TstAusfuehrung)
#include "tst_ausfuehrung.moc"
