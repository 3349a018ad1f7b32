// The run of a confirmed plan through the engine and the wizard against a real
// nginx serving a sample release; plus the clean-up's rules.

#include "dialoge/ressourcen.h"
#include "global/plattform/plattform.h"
#include "pluginManager/dlgPluginManager.h"
#include "pluginManager/dlgPluginManagerDatenmodel.h"
#include "pluginManager/plugin.h"
#include "pluginManager/pluginManager.h"
#include "pluginManager/startwerte.h"
#include "pluginManager/tavoservice.h"
#include "pluginManager/wizardablauf.h"
#include "testhilfe/programmlauf.h"
#include "testhilfe/testserver.h"

#include <QApplication>
#include <QDirIterator>
#include <QProcess>
#include <QSettings>
#include <QTimer>
#include <QtTest>
#include <csignal>
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

// A network share on request; an unattended run's end is recorded, not done.
class TestEngine : public PluginManager
{
public:
    bool netz = false;
    int ende = 0;
    bool istNetzlaufwerk(const QString& pfad) override { return netz || PluginManager::istNetzlaufwerk(pfad); }
    void beendeAnwendung(int code) override { ende = code; }
};

} // namespace

class TstAusfuehrung : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
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
    void cleanupTestCase()
    {
        m_nginx = nullptr;
        m_server.reset();
        setzeStartwerteZurueck();
    }
    void lauf_data()
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
    void lauf()
    {
        QFETCH(QString, fall);
        QFETCH(bool, fertig);
        QFETCH(QStringList, ergebnis);
        const QString koraDir = installation(QStringLiteral("/lauf_"), true) + QStringLiteral("/Fiscalon");

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
        // Renew est 2021, install the new year, remove gew 2020; the main application stays.
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

        QCOMPARE(QFile::exists(koraDir + QStringLiteral("/plugins/est2021_alt.dat")), !fertig);
        QCOMPARE(QFile::exists(koraDir + QStringLiteral("/dict/gew_20.dict")), !fertig);
        QCOMPARE(QFile::exists(koraDir + QStringLiteral("/plugins/gew2020.so")), !fertig);
        QCOMPARE(QFileInfo(koraDir + QStringLiteral("/dict/est_22.dict")).isFile(), fertig && fall != QLatin1String("blockiert"));
        QCOMPARE(TestUmgebung::leseDatei(koraDir + QStringLiteral("/plugins/est2021.so")).trimmed(),
                 fertig ? QByteArray("Modul est 2021 Stand 2") : QByteArray("Modul est 2021 Stand 1"));
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
    void hauptanwendung_data()
    {
        // fall: what goes wrong during the main application's update; unattended runs ask no one.
        QTest::addColumn<QString>("fall");
        QTest::addColumn<bool>("still");
        QTest::addColumn<int>("ende");         // the unattended run's exit code
        QTest::addColumn<bool>("aktualisiert");
        QTest::addColumn<QString>("meldung");  // key and part of a result message
        QTest::newRow("kein Paket auf dem Server") << "ohnePaket" << false << 0 << false
                                               << "1:kein Update gefunden wurde.<br>Aus diesem Grund werden die im Ablauf "
                                                  "folgenden Aktionen nicht durchgef\u00fchrt.";
        QTest::newRow("Paket nicht entpackbar, unbeaufsichtigt")
            << "kaputt" << true << -92 << false << "1:Das Hauptprogramm und die Steuerberechnung konnten nicht aktualisiert werden.";
        QTest::newRow("Menueordner nicht beschreibbar") << "menue" << false << 0 << true
                                                     << "0:Das Hauptprogramm und die Steuerberechnung wurden aktualisiert.";
        QTest::newRow("Dienst stoppt nicht") << "dienst" << false << 0 << true << "0:wurden aktualisiert.";
        QTest::newRow("Hilfeordner fehlt, unbeaufsichtigt") << "hilfe" << true << 90 << true << "1:wird niemand gefragt";
    }
    void hauptanwendung()
    {
        QFETCH(QString, fall);
        QFETCH(bool, still);
        QFETCH(int, ende);
        QFETCH(bool, aktualisiert);
        QFETCH(QString, meldung);
        const QString basis = installation(QStringLiteral("/haupt_"), false);
        const QString koraDir = basis + QStringLiteral("/Fiscalon");
        const QString wurzel = m_beispiel + QStringLiteral("/wurzel");
        const QString menue = wurzel + QStringLiteral("/usr/share/applications/Fiscalon");
        const QString dienstDir = wurzel + QStringLiteral("/opt/Fiscalon Update Service");
        gb_SilentUpdate = still;

        FakeRueckfrage fragen;
        TestEngine pm;
        QCOMPARE(pm.setzeServerVerzeichnis(), 0);
        pm.loescheIndexDateiServer();
        QVERIFY(pm.holeServerInhaltsdatei());
        QVERIFY(pm.leseServerInhaltsdatei());
        bool selbstUpdate = false, dienstVerwenden = false;
        pm.leseTechPluginDatei(selbstUpdate, dienstVerwenden, true);
        pm.lesePluginInfoLokal();
        pm.setzeStausLokalePlugins();
        pm.setzeStausVerfuegbarePlugins();
        pm.setzeAktionHauptanwendung(true);
        Plugin* est22 = finde(pm.gibDatenmodelVerfuegbar(), QStringLiteral("est22"));
        QVERIFY(est22 && pm.gibPluginKoraInstalliert() && pm.gibPluginKoraVerfuegbar());
        est22->setzeAktion(Plugin::INSTALLIEREN);

        qint64 sturPid = 0;
        tavoService dienst;
        if (fall == QLatin1String("ohnePaket")) {
            pm.gibPluginKoraVerfuegbar()->setzeSetups({});
        } else if (fall == QLatin1String("kaputt")) {
            // The package turns bad after its check, just before it is unpacked.
            connect(&pm, &PluginManager::statusText, &pm, [&](const QString& text) {
                if (text.startsWith(QStringLiteral("Die Aktualisierung von")) && text.contains(QStringLiteral("Fiscalon")))
                    TestUmgebung::schreibeDatei(PluginManager::gibDirTmp() + QStringLiteral("kora_27000_27289.zip"), "kein Archiv");
            });
        } else if (fall == QLatin1String("menue")) {
            QVERIFY(QDir().rename(menue, menue + QStringLiteral(".weg")));
            TestUmgebung::schreibeDatei(menue, "eine Datei, wo der Ordner sein sollte");
        } else if (fall == QLatin1String("dienst")) {
            // The older service runs and ignores the request to stop.
            kopiereOrdner(m_beispiel + QStringLiteral("/teile/service"), dienstDir);
            const QString stur = basis + QStringLiteral("/stur.sh");
            TestUmgebung::schreibeDatei(stur, "#!/bin/sh\ntrap '' TERM\n: > \"$FISCALON_DIENST_BEREIT\"\nwhile :; do sleep 0.1; done\n");
            QFile::setPermissions(stur, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
            dienst.loesche();
            QVERIFY(dienst.erzeugen(stur));
            QVERIFY(dienst.init());
            QVERIFY(dienst.starte(0, {}));
            Plattform::DienstStatus status;
            QVERIFY(dienst.gibStatus(status));
            sturPid = status.pid;
        } else if (fall == QLatin1String("hilfe")) {
            QVERIFY(QDir(koraDir + QStringLiteral("/hilfe")).removeRecursively());
        }

        const bool fertig = pm.aktionsAusfuehrung();
        gb_SilentUpdate = false;
        if (fall == QLatin1String("menue")) {
            QFile::remove(menue);
            QDir().rename(menue + QStringLiteral(".weg"), menue);
        }
        bool laeuftNoch = false;
        QString registriert;
        if (sturPid > 0) {
            bool ok = false;
            laeuftNoch = ::kill(pid_t(sturPid), 0) == 0;
            registriert = QSettings(wurzel + QStringLiteral("/var/lib/fiscalon/dienste/TavoService.ini"), QSettings::IniFormat)
                              .value(QStringLiteral("Programm"))
                              .toString();
            ::kill(pid_t(sturPid), SIGKILL);
            QTRY_VERIFY(dienst.istGestoppt(ok));
            dienst.loesche();
        }

        QCOMPARE(fertig, aktualisiert);
        QCOMPARE(pm.ende, ende);
        const QStringList texte = pm.gibMeldungen().values(meldung.left(1).toInt());
        QVERIFY2(texte.join(QLatin1Char('|')).contains(meldung.mid(2)), qPrintable(texte.join(QLatin1Char('|'))));
        // A main application that was not updated stays whole, dictionary included.
        QCOMPARE(TestUmgebung::leseDatei(koraDir + QStringLiteral("/bin/kora")).trimmed(),
                 aktualisiert ? QByteArray("Fiscalon Hauptprogramm 27289") : QByteArray("Fiscalon Hauptprogramm 27000"));
        QVERIFY(QFileInfo(koraDir + QStringLiteral("/bin/kora")).isExecutable());
        QCOMPARE(QFile::exists(koraDir + QStringLiteral("/dict/est_22.dict")), aktualisiert);
        pm.lesePluginInfoLokal();
        QVERIFY(pm.gibPluginKoraInstalliert());
        QCOMPARE(pm.gibPluginKoraInstalliert()->gibRev(), aktualisiert ? 27289u : 27000u);

        if (fall == QLatin1String("dienst")) {
            // Not replaced while it runs: the old service stays as it was, registered.
            QVERIFY(laeuftNoch);
            QCOMPARE(registriert, basis + QStringLiteral("/stur.sh"));
            QVERIFY(pm.leseServiceDictInfo());
            QCOMPARE(pm.gibPluginService()->gibNrPlugin(), 1u);
        }
        if (still)
            QVERIFY(fragen.fragen.isEmpty());
        if (fall == QLatin1String("hilfe"))
            QVERIFY(texte.join(QString()).contains(QStringLiteral("Zuk\u00fcnftig braucht die Hilfe Schreibrechte")));
    }
    void bereinigung()
    {
        // Obsolete files go, letter case is repaired, nothing outside is touched ("..", links).
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
    void groesse()
    {
        // Two decimals, and never a unit beyond MB.
        for (const auto& fall : { qMakePair(quint64(1023), QStringLiteral("1023.00 Byte")),
                                  qMakePair(quint64(5) << 30, QStringLiteral("5120.00 MB")) }) {
            QString wert, einheit;
            PluginManager::formatiereGroesse(fall.first, wert, einheit);
            QCOMPARE(wert + QLatin1Char(' ') + einheit, fall.second);
        }
        quint64 frei = 0;
        QVERIFY(Plattform::freierSpeicher(m_umgebung->pfad() + QStringLiteral("/gibt/es/nicht"), frei));
        QVERIFY(frei > 0);
        QVERIFY(!Plattform::istNetzlaufwerk(m_umgebung->pfad()));
    }

private:
    // A copy of the sample installation for this row, changed by this process itself.
    QString installation(const QString& praefix, bool ohneFrage)
    {
        const QString basis = m_umgebung->pfad() + praefix + QString::fromLatin1(QTest::currentDataTag()).replace(QLatin1Char(' '), QLatin1Char('_'));
        kopiereOrdner(m_beispiel + QStringLiteral("/wurzel/opt/Fiscalon"), basis + QStringLiteral("/Fiscalon"));
        if (ohneFrage)
            Programmlauf::koraIni(basis + QStringLiteral("/kora"));
        QString zeile;
        leseParameter({ QStringLiteral("iv"), QStringLiteral("--esStart"), QStringLiteral("--i2"), QStringLiteral("--koraDir=") + basis + QStringLiteral("/Fiscalon"),
                        QStringLiteral("--dirUserKora=") + basis + QStringLiteral("/kora") },
                      zeile);
        return basis;
    }
    std::unique_ptr<TestUmgebung> m_umgebung;
    std::unique_ptr<BeispielServer> m_server;
    NginxServer* m_nginx = nullptr;
    QString m_beispiel;
};

QTEST_MAIN(TstAusfuehrung)
#include "tst_ausfuehrung.moc"
