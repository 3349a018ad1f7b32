// The plan carried across the elevated restart: what the first process writes
// comes back byte for byte, and whatever else stands in the user's data
// folder is refused with a named reason, leaves the engine as it was and is
// removed.

#include "global/varnelApplication/logbase.h"
#include "pluginManager/dlgPluginManagerDatenmodel.h"
#include "pluginManager/plandaten.h"
#include "pluginManager/plugin.h"
#include "pluginManager/pluginManager.h"
#include "pluginManager/startwerte.h"
#include "tests/testhilfe/testumgebung.h"

#include <QtTest>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

using namespace Plandaten;

namespace {

QStringList g_Fehler;
void fangeFehler(QtMsgType typ, const QMessageLogContext&, const QString& text)
{
    if (typ == QtWarningMsg && text.startsWith(QLatin1String("ERROR")))
        g_Fehler << text;
}

Plugin* modul(const QString& kurz, uint jahr, int aktion)
{
    auto* p = new Plugin;
    p->setzeName(QStringLiteral("Einkommensteuererklaerung"));
    p->setzeKurzname(kurz);
    p->setzeJahr(jahr);
    p->setzeRev(120);
    p->setzeVersion(QStringLiteral("1.2.3"));
    p->setzeAktion(aktion);
    p->setzeStatus(0x042);
    p->setzeInitialisiert(true);
    return p;
}

// What gets broken before (engine) or after (files) writing.
enum Fall { ABGESCHNITTEN, ZUFALL, FEHLT, FREMD, ANZAHL_ZU_GROSS, ANZAHL_KEINE_ZAHL, ZIP_PUNKTE, ZIP_ABSOLUT,
            PAKET_PUNKTE, DATEI_PUNKTE, DICT_AUSSERHALB, MD5_FALSCH, NUL_IM_NAMEN, AKTION_UNBEKANNT,
            KORA_IN_LISTE, DIENST_IST_KORA, REST_BYTES, VERWEIS, VERZEICHNIS, FIFO, ZU_GROSS, ORDNER_VERWEIS };

// The service record comes from the technical index, as in the engine.
class Engine : public PluginManager
{
public:
    void setzeDienst(Plugin* p)
    {
        mp_DatenmodelTechnisch->fuegeHinzu(p);
        mp_PluginServiceServer = p;
    }
};

} // namespace

class TstPlandaten : public QObject
{
    Q_OBJECT

    QTemporaryDir m_log;
    std::unique_ptr<TestUmgebung> m_umgebung;
    std::unique_ptr<Engine> m_pm;

    QString daten() const { return PluginManager::gibDirDaten(); }
    QByteArray datei(int art) const { return TestUmgebung::leseDatei(daten() + dateiname(art)); }
    void schreibe(int art, const QByteArray& inhalt) const
    {
        QFile::remove(daten() + dateiname(art));
        TestUmgebung::schreibeDatei(daten() + dateiname(art), inhalt);
    }
    QStringList uebrig() const
    {
        QStringList r;
        for (int art = 0; art < ANZAHL_ARTEN; ++art) {
            const QFileInfo i(daten() + dateiname(art));
            if (i.exists() || i.isSymLink())
                r << dateiname(art);
        }
        return r;
    }
    // The whole state a read may change, as the bytes it would be written as.
    static QList<QByteArray> stand(const PluginManager& pm)
    {
        return { bildVonListe(*pm.gibDatenmodelInstalliert()), bildVonListe(*pm.gibDatenmodelVerfuegbar()),
                 bildVonPlugin(pm.gibPluginKoraInstalliert()), bildVonPlugin(pm.gibPluginKoraVerfuegbar()),
                 bildVonPlugin(pm.gibPluginServiceServer()) };
    }
    // A list image with a count of our choosing and nothing after it.
    static QByteArray listeMitAnzahl(const QString& anzahl)
    {
        const DlgPluginManagerDatenmodel muster(false);
        QByteArray b;
        QDataStream s(&b, QIODevice::WriteOnly);
        s << false << false << muster.gibSpaltentitel() << muster.gibTooltipTitel() << anzahl;
        return b;
    }

    // Both lists, the main application on both sides and, when asked, the service.
    void fuelle(Engine& pm, int module, bool koraServer, bool dienst, bool koraInstalliert = true)
    {
        for (int i = 0; i < module; ++i) {
            Plugin* lokal = modul(QStringLiteral("est"), 2020 + uint(i), Plugin::ERNEUERN);
            lokal->setzeDictDatei(gs_KoraDir + QStringLiteral("/dict/est_%1.dict").arg(20 + i));
            lokal->setzeDateien({ QStringLiteral("bin/est%1.so").arg(i), QStringLiteral("hilfe/est.qch") });
            pm.gibDatenmodelInstalliert()->fuegeHinzu(lokal);
            Plugin* server = modul(QStringLiteral("ust"), 2020 + uint(i), Plugin::INSTALLIEREN);
            server->setzeZip(QStringLiteral("ust_%1.zip").arg(i));
            server->setzeMD5(QStringLiteral("0123456789abcdef0123456789ABCDEF"));
            server->setzeSize(QStringLiteral("4096"));
            Setup paket;
            paket.setzeDatei(QStringLiteral("ust_upd.zip"));
            paket.setzeMD5(QStringLiteral("ffffffffffffffffffffffffffffffff"));
            paket.setzeRev(QStringLiteral("119"));
            paket.setzeSize(77);
            server->setzeSetups({ paket });
            server->setzeDateien({ QStringLiteral("datei;bin/ust.so") });
            pm.gibDatenmodelVerfuegbar()->fuegeHinzu(server);
        }
        pm.gibDatenmodelInstalliert()->setzeGefuellt(module > 0);
        pm.setzePluginKoraInstalliert(koraInstalliert ? modul(QStringLiteral("kora"), 0, Plugin::KEINE) : nullptr);
        if (koraServer)
            pm.setzePluginKoraVerfuegbar(modul(QStringLiteral("kora"), 0, Plugin::ERNEUERN));
        if (dienst) {
            Plugin* d = modul(PluginManager::DICT_BASIS_SERVICE, 0, Plugin::KEINE);
            d->setzeZip(QStringLiteral("service.zip"));
            pm.gibDatenmodelTechnisch()->fuegeHinzu(modul(PluginManager::DICT_BASIS_IV, 0, Plugin::KEINE));
            pm.setzeDienst(d);
        }
    }

private slots:
    void initTestCase()
    {
        initLogBase(QStringLiteral("tst_plandaten"), 10 * 1024 * 1024, m_log.path());
        qInstallMessageHandler(fangeFehler);
    }
    void cleanupTestCase() { beendeLogBase(); }
    void init()
    {
        m_umgebung = std::make_unique<TestUmgebung>();
        setzeStartwerteZurueck();
        gs_DirUserKora = m_umgebung->pfad() + QStringLiteral("/benutzer/kora");
        gs_KoraDir = m_umgebung->pfad() + QStringLiteral("/kora");
        QDir().mkpath(gs_KoraDir + QStringLiteral("/dict"));
        m_pm = std::make_unique<Engine>();
        g_Fehler.clear();
    }
    void cleanup()
    {
        m_pm.reset();
        setzeStartwerteZurueck();
        m_umgebung.reset();
    }

    void rundreise_data()
    {
        QTest::addColumn<int>("module");
        QTest::addColumn<bool>("koraServer");
        QTest::addColumn<bool>("dienst");
        QTest::addColumn<bool>("koraInstalliert");
        QTest::newRow("alles") << 2 << true << true << true;
        QTest::newRow("ohne Kora und Dienst auf dem Server") << 2 << false << false << true;
        QTest::newRow("leere Listen") << 0 << true << false << true;
        QTest::newRow("Erstinstallation der Hauptanwendung") << 1 << true << true << false;
    }
    void rundreise()
    {
        QFETCH(int, module);
        QFETCH(bool, koraServer);
        QFETCH(bool, dienst);
        QFETCH(bool, koraInstalliert);
        fuelle(*m_pm, module, koraServer, dienst, koraInstalliert);
        QVERIFY(m_pm->schreibeDatenModelleInUserTmp());
        QList<QByteArray> erst;
        for (int art = 0; art < ANZAHL_ARTEN; ++art)
            erst << datei(art);
        QCOMPARE(erst[KORA_SERVER] == NULL_MARKE, !koraServer);
        QCOMPARE(erst[SERVICE_SERVER] == NULL_MARKE, !dienst);
        QCOMPARE(erst[KORA_CLIENT] == NULL_MARKE, !koraInstalliert);
        if (module == 0) {
            QCOMPARE(erst[PLUGIN_CLIENT], listeMitAnzahl(QStringLiteral("0")));
        }

        PluginManager zweiter;
        zweiter.gibDatenmodelVerfuegbar()->fuegeHinzu(modul(QStringLiteral("alt"), 2001, 0));
        QVERIFY(zweiter.leseDatenModelleAusUserTmp());
        QCOMPARE(uebrig(), QStringList());
        QCOMPARE(g_Fehler, QStringList());
        QCOMPARE(zweiter.gibDatenmodelInstalliert()->gibHauptanwendung(), zweiter.gibPluginKoraInstalliert());
        // Written again by the elevated process: the very same bytes.
        QVERIFY(zweiter.schreibeDatenModelleInUserTmp());
        for (int art = 0; art < ANZAHL_ARTEN; ++art)
            QCOMPARE(datei(art), erst[art]);
        QCOMPARE(stand(zweiter), erst);
    }

    void schlechteEingabe_data()
    {
        QTest::addColumn<int>("fall");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("grund");
        QTest::newRow("abgeschnitten") << int(ABGESCHNITTEN) << "PluginServer" << "unvollst";
        QTest::newRow("Zufallsbytes") << int(ZUFALL) << "KoraClient" << "unvollst";
        QTest::newRow("fehlt") << int(FEHLT) << "ServiceServer" << "fehlt";
        QTest::newRow("fremde Liste") << int(FREMD) << "PluginServer" << "andere Modulliste";
        QTest::newRow("Anzahl ueber der Grenze") << int(ANZAHL_ZU_GROSS) << "PluginClient" << "zu viele Module (20001";
        QTest::newRow("Anzahl keine Zahl") << int(ANZAHL_KEINE_ZAHL) << "PluginClient" << "keine Zahl";
        QTest::newRow("Archiv ../x.zip") << int(ZIP_PUNKTE) << "PluginServer" << "Archivname \"../x.zip\"";
        QTest::newRow("Archiv absolut") << int(ZIP_ABSOLUT) << "KoraServer" << "Archivname \"/tmp/x.zip\"";
        QTest::newRow("Updatepaket mit Ordner") << int(PAKET_PUNKTE) << "PluginServer" << "Update-Pakets \"..\\x.zip\"";
        QTest::newRow("Dateieintrag nach aussen") << int(DATEI_PUNKTE) << "PluginClient" << "Dateieintrag";
        QTest::newRow("Dictionary ausserhalb") << int(DICT_AUSSERHALB) << "PluginClient" << "Dictionarys \"/etc/passwd\"";
        QTest::newRow("MD5 falsch") << int(MD5_FALSCH) << "ServiceServer" << "MD5";
        QTest::newRow("NUL im Archivnamen") << int(NUL_IM_NAMEN) << "PluginServer" << "Archivname";
        QTest::newRow("Aktion unbekannt") << int(AKTION_UNBEKANNT) << "PluginClient" << "unbekannte Aktion 7";
        QTest::newRow("Kora in der Liste") << int(KORA_IN_LISTE) << "PluginServer" << "Hauptanwendung steht";
        QTest::newRow("Dienstdatei mit Kora") << int(DIENST_IST_KORA) << "ServiceServer" << "des Dienstes";
        QTest::newRow("Bytes nach den Daten") << int(REST_BYTES) << "KoraServer" << "weitere Bytes";
        QTest::newRow("Verweis statt Datei") << int(VERWEIS) << "KoraClient" << "symbolische";
        QTest::newRow("Verzeichnis statt Datei") << int(VERZEICHNIS) << "PluginClient" << "keine gew";
        QTest::newRow("FIFO statt Datei") << int(FIFO) << "PluginServer" << "keine gew";
        QTest::newRow("zu gross") << int(ZU_GROSS) << "PluginServer" << "zu gro";
        QTest::newRow("Datenordner als Verweis") << int(ORDNER_VERWEIS) << "" << "Datenverzeichnis";
    }
    void schlechteEingabe()
    {
        QFETCH(int, fall);
        QFETCH(QString, name);
        QFETCH(QString, grund);
        fuelle(*m_pm, 2, true, true);
        Plugin* server = m_pm->gibDatenmodelVerfuegbar()->gibPlugin(1);
        Plugin* lokal = m_pm->gibDatenmodelInstalliert()->gibPlugin(0);
        Setup paket;
        switch (fall) {
        case ZIP_PUNKTE: server->setzeZip(QStringLiteral("../x.zip")); break;
        case ZIP_ABSOLUT: m_pm->gibPluginKoraVerfuegbar()->setzeZip(QStringLiteral("/tmp/x.zip")); break;
        case PAKET_PUNKTE: paket.setzeDatei(QStringLiteral("..\\x.zip")); server->setzeSetups({ paket }); break;
        case DATEI_PUNKTE: lokal->fuegeDateienHinzu({ QStringLiteral("bin/../../etc/shadow") }); break;
        case DICT_AUSSERHALB: lokal->setzeDictDatei(QStringLiteral("/etc/passwd")); break;
        case MD5_FALSCH: m_pm->gibPluginServiceServer()->setzeMD5(QStringLiteral("0123456789abcdef0123456789abcdeg")); break;
        case NUL_IM_NAMEN: server->setzeZip(QStringLiteral("a.zip") + QChar(0) + QStringLiteral(".txt")); break;
        case AKTION_UNBEKANNT: lokal->setzeAktion(7); break;
        case KORA_IN_LISTE: server->setzeKurzname(QStringLiteral("kora")); break;
        case DIENST_IST_KORA: m_pm->gibPluginServiceServer()->setzeKurzname(QStringLiteral("kora")); break;
        }
        QVERIFY(m_pm->schreibeDatenModelleInUserTmp());
        const QString d = daten();
        const QString woanders = m_umgebung->pfad() + QStringLiteral("/woanders");
        switch (fall) {
        case ABGESCHNITTEN: schreibe(PLUGIN_SERVER, datei(PLUGIN_SERVER).left(datei(PLUGIN_SERVER).size() / 2)); break;
        case ZUFALL: {
            QByteArray b;
            quint32 x = 4711;
            for (int i = 0; i < 3000; ++i)
                b += char((x = x * 1103515245u + 12345u) >> 24);
            schreibe(KORA_CLIENT, b);
            break;
        }
        case FEHLT: QFile::remove(d + dateiname(SERVICE_SERVER)); break;
        case FREMD: schreibe(PLUGIN_SERVER, datei(PLUGIN_CLIENT)); break;
        case ANZAHL_ZU_GROSS: schreibe(PLUGIN_CLIENT, listeMitAnzahl(QStringLiteral("20001"))); break;
        case ANZAHL_KEINE_ZAHL: schreibe(PLUGIN_CLIENT, listeMitAnzahl(QStringLiteral("-1"))); break;
        case REST_BYTES: schreibe(KORA_SERVER, datei(KORA_SERVER) + "x"); break;
        case VERWEIS:
            // A valid record, only reached through a link: refused, and the target stays.
            TestUmgebung::schreibeDatei(woanders, datei(KORA_CLIENT));
            QFile::remove(d + dateiname(KORA_CLIENT));
            QVERIFY(QFile::link(woanders, d + dateiname(KORA_CLIENT)));
            break;
        case VERZEICHNIS: QFile::remove(d + dateiname(PLUGIN_CLIENT)); QVERIFY(QDir().mkdir(d + dateiname(PLUGIN_CLIENT))); break;
        case FIFO: QFile::remove(d + dateiname(PLUGIN_SERVER)); QCOMPARE(::mkfifo(QFile::encodeName(d + dateiname(PLUGIN_SERVER)).constData(), 0600), 0); break;
        case ZU_GROSS: QVERIFY(QFile::resize(d + dateiname(PLUGIN_SERVER), kMaxDateiGroesse + 1)); break;
        case ORDNER_VERWEIS:
            QVERIFY(QDir().rename(QDir::cleanPath(d), woanders));
            QVERIFY(QFile::link(woanders, QDir::cleanPath(d)));
            break;
        }

        PluginManager zweiter;
        zweiter.gibDatenmodelInstalliert()->fuegeHinzu(modul(QStringLiteral("alt"), 2001, 0));
        zweiter.setzePluginKoraInstalliert(modul(QStringLiteral("kora"), 0, 0));
        const Plugin* koraVorher = zweiter.gibPluginKoraInstalliert();
        const QList<QByteArray> vorher = stand(zweiter);
        g_Fehler.clear();
        QVERIFY(!zweiter.leseDatenModelleAusUserTmp());
        QCOMPARE(stand(zweiter), vorher);
        QCOMPARE(zweiter.gibPluginKoraInstalliert(), koraVorher);
        // One line names the file and the reason.
        const QStringList zeilen = g_Fehler.filter(grund);
        QVERIFY2(!zeilen.isEmpty() && zeilen.first().contains(name), qPrintable(g_Fehler.join(QLatin1Char('\n'))));
        if (fall == ORDNER_VERWEIS) {
            QCOMPARE(QDir(woanders).entryList(QDir::Files).size(), ANZAHL_ARTEN); // nothing touched through the link
            return;
        }
        QCOMPARE(uebrig(), QStringList());
        if (fall == VERWEIS)
            QVERIFY(QFileInfo(woanders).isFile());
    }

    // The first process cannot write: false, the reason logged, no partial set left.
    void schreibfehler()
    {
        fuelle(*m_pm, 1, true, true);
        QVERIFY(QDir(daten()).removeRecursively());
        TestUmgebung::schreibeDatei(QDir::cleanPath(daten()), "kein Ordner");
        QVERIFY(!m_pm->schreibeDatenModelleInUserTmp());
        QVERIFY(!g_Fehler.isEmpty());
        QVERIFY(g_Fehler.join(QLatin1Char('\n')).contains(QStringLiteral("Fehler beim Schreiben in die ") + daten() + QStringLiteral("PluginClient")));
    }
};

QTEST_GUILESS_MAIN(TstPlandaten)
#include "tst_plandaten.moc"
