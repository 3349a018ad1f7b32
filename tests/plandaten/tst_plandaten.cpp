// The plan carried across the elevated restart comes back byte for byte;
// anything else in the user's data folder is refused with a named reason,
// leaves the engine as it was and is removed.

#include "global/archiv/ziparchiv.h"
#include "global/varnelApplication/logbase.h"
#include "kryptotesthilfe.h"
#include "pluginManager/dlgPluginManagerDatenmodel.h"
#include "pluginManager/plandaten.h"
#include "pluginManager/plugin.h"
#include "pluginManager/pluginManager.h"
#include "pluginManager/startwerte.h"
#include "tests/testhilfe/testumgebung.h"

#include <QtTest>
#include <functional>
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

// One module of a server index, with its archive and one update package.
QString indexModul(const QString& kurz, int nr)
{
    return QStringLiteral("<Plugin Name=\"Umsatzsteuererklaerung fuer %1\" Kurzname=\"%1\" Rev=\"120\" InterfaceNr=\"4\" "
                          "UnterfallArt=\"50\" Version=\"2.1\"><TechNr NrAlle=\"1\" NrGr=\"2\" NrPlugin=\"3\">"
                          "<Version>1.2.%2</Version><Daten><Datei Typ=\"bin\" Pfad=\"bin/%1.so\"/></Daten></TechNr>"
                          "<Zip Silent=\"/S\" Size=\"4096\" MD5=\"0123456789abcdef0123456789ABCDEF\" UnzipFileSize=\"99\">%1_%2.zip</Zip>"
                          "<Update_Zip Silent=\"/S\" MD5=\"ffffffffffffffffffffffffffffffff\" Size=\"77\" UnzipFileSize=\"88\" "
                          "Rev=\"119\">%1_upd.zip</Update_Zip><Param SelbstUpdate=\"0\" Dienst=\"1\"/></Plugin>")
        .arg(kurz)
        .arg(nr);
}

// A damage done to the engine before the first process writes, or to the files after.
using Schaden = std::function<void()>;

// The service record comes from the technical index, as in the engine.
class Engine : public PluginManager
{
public:
    void setzeDienst(Plugin* p) { mp_PluginServiceServer = p; }
};

} // namespace

Q_DECLARE_METATYPE(Schaden)

class TstPlandaten : public QObject
{
    Q_OBJECT

    QTemporaryDir m_log;
    KryptoTest::Schluesselpaar m_schluessel;
    std::unique_ptr<TestUmgebung> m_umgebung;
    std::unique_ptr<Engine> m_pm;

    QString daten() const { return PluginManager::gibDirDaten(); }
    QString woanders() const { return m_umgebung->pfad() + QStringLiteral("/woanders"); }
    Plugin* server() const { return m_pm->gibDatenmodelVerfuegbar()->gibPlugin(1); }
    Plugin* lokal() const { return m_pm->gibDatenmodelInstalliert()->gibPlugin(0); }
    Plugin* dienst() const { return m_pm->gibPluginServiceServer(); }
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

    // The signed index archive the first process left in the data folder.
    void schreibeIndex(bool technisch, const QString& module)
    {
        const QString basis = technisch ? QStringLiteral("inhalt_techplugin") : QStringLiteral("inhalt_downloadverzeichnis");
        const QString xml = m_umgebung->pfad() + QLatin1Char('/') + basis + QStringLiteral(".xml");
        KryptoTest::schreibe(xml, QStringLiteral("<?xml version=\"1.0\"?><Inhalt Version=\"3\"><Build>%1</Build></Inhalt>").arg(module).toUtf8());
        const QString zip = daten() + basis + QStringLiteral(".zip");
        QString fehler;
        QVERIFY2(ZipArchiv::erstelle(zip, { { xml, basis + QStringLiteral(".xml") } }, &fehler), qPrintable(fehler));
        QCOMPARE(KryptoTest::werkzeug({ QStringLiteral("signiere"), QStringLiteral("--schluessel"), m_schluessel.privat, zip }).code, 0);
    }

    // Both lists, the main application on both sides, the service when asked; the server's from a signed index.
    void fuelle(Engine& pm, int module, bool koraServer, bool dienst, bool koraInstalliert = true)
    {
        QString vzs;
        for (int i = 0; i < module; ++i) {
            Plugin* lokal = modul(QStringLiteral("est"), 2020 + uint(i), Plugin::ERNEUERN);
            lokal->setzeDictDatei(gs_KoraDir + QStringLiteral("/dict/est_%1.dict").arg(20 + i));
            lokal->setzeDateien({ QStringLiteral("bin/est%1.so").arg(i), QStringLiteral("hilfe/est.qch") });
            pm.gibDatenmodelInstalliert()->fuegeHinzu(lokal);
            vzs += QStringLiteral("<VZ Jahr=\"%1\">%2</VZ>").arg(2020 + i).arg(indexModul(QStringLiteral("ust"), i));
        }
        if (koraServer)
            vzs += QStringLiteral("<VZ Jahr=\"9999\">%1</VZ>").arg(indexModul(QStringLiteral("kora"), 7));
        schreibeIndex(false, vzs);
        QString fehler;
        QVERIFY2(pm.lesePluginInfoServer(false, fehler, pm.gibDatenmodelVerfuegbar()), qPrintable(fehler));
        QCOMPARE(pm.gibDatenmodelVerfuegbar()->anzahl(), module);
        QCOMPARE(pm.gibPluginKoraVerfuegbar() != nullptr, koraServer);
        for (Plugin* p : pm.gibDatenmodelVerfuegbar()->gibListe())
            p->setzeAktion(Plugin::INSTALLIEREN); // as the user chose
        pm.gibDatenmodelInstalliert()->setzeGefuellt(module > 0);
        pm.setzePluginKoraInstalliert(koraInstalliert ? modul(QStringLiteral("kora"), 0, Plugin::KEINE) : nullptr);
        if (dienst) {
            schreibeIndex(true, QStringLiteral("<VZ Jahr=\"0\">%1%2</VZ>")
                                    .arg(indexModul(PluginManager::DICT_BASIS_IV, 1), indexModul(PluginManager::DICT_BASIS_SERVICE, 2)));
            QVERIFY2(pm.lesePluginInfoServer(true, fehler, pm.gibDatenmodelTechnisch()), qPrintable(fehler));
            for (Plugin* p : pm.gibDatenmodelTechnisch()->gibListe()) {
                if (p->gibKurzname() == PluginManager::DICT_BASIS_SERVICE)
                    pm.setzeDienst(p);
            }
            QVERIFY(pm.gibPluginServiceServer());
        }
    }

private slots:
    void initTestCase()
    {
        initLogBase(QStringLiteral("tst_plandaten"), 10 * 1024 * 1024, m_log.path());
        qInstallMessageHandler(fangeFehler);
        QVERIFY(m_schluessel.erzeuge(m_log.path() + QStringLiteral("/schluessel")));
        m_schluessel.aktiviere();
    }
    void cleanupTestCase()
    {
        Crypto::setzeQuellen(QString(), QString());
        beendeLogBase();
    }
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
        QTest::newRow("leere Listen, ohne Kora und Dienst auf dem Server") << 0 << false << false << true;
        QTest::newRow("Erstinstallation der Hauptanwendung") << 1 << true << false << false;
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
        if (module == 0)
            QCOMPARE(erst[PLUGIN_CLIENT], listeMitAnzahl(QStringLiteral("0")));

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
        QTest::addColumn<Schaden>("modell");
        QTest::addColumn<Schaden>("dateien");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("grund");
        auto fall = [](const char* tag, const char* name, const char* grund, const Schaden& modell, const Schaden& dateien = {}) {
            QTest::newRow(tag) << modell << dateien << QString::fromUtf8(name) << QString::fromUtf8(grund);
        };
        auto link = [this](const QString& pfad) { // the entry moved away, a link in its place
            QVERIFY(QDir().rename(pfad, woanders()) && QFile::link(woanders(), pfad));
        };
        const Schaden roh;
        fall("abgeschnitten", "PluginServer", "unvollst", roh,
             [this] { schreibe(PLUGIN_SERVER, datei(PLUGIN_SERVER).left(datei(PLUGIN_SERVER).size() / 2)); });
        fall("Zufallsbytes", "KoraClient", "unvollst", roh, [this] {
            QByteArray b;
            quint32 x = 4711;
            for (int i = 0; i < 3000; ++i)
                b += char((x = x * 1103515245u + 12345u) >> 24);
            schreibe(KORA_CLIENT, b);
        });
        fall("fehlt", "ServiceServer", "fehlt", roh, [this] { QFile::remove(daten() + dateiname(SERVICE_SERVER)); });
        fall("fremde Liste", "PluginServer", "andere Modulliste", roh, [this] { schreibe(PLUGIN_SERVER, datei(PLUGIN_CLIENT)); });
        fall("Anzahl ueber der Grenze", "PluginClient", "zu viele Module (20001", roh,
             [this] { schreibe(PLUGIN_CLIENT, listeMitAnzahl(QStringLiteral("20001"))); });
        fall("Anzahl keine Zahl", "PluginClient", "keine Zahl", roh, [this] { schreibe(PLUGIN_CLIENT, listeMitAnzahl(QStringLiteral("-1"))); });
        fall("Bytes nach den Daten", "KoraServer", "weitere Bytes", roh, [this] { schreibe(KORA_SERVER, datei(KORA_SERVER) + "x"); });
        // A valid record, only reached through a link: refused, and the target stays.
        fall("Verweis statt Datei", "KoraClient", "symbolische", roh, [this, link] { link(daten() + dateiname(KORA_CLIENT)); });
        // Opened without waiting for a writer.
        fall("FIFO statt Datei", "PluginServer", "keine gew", roh, [this] {
            QFile::remove(daten() + dateiname(PLUGIN_SERVER));
            QCOMPARE(::mkfifo(QFile::encodeName(daten() + dateiname(PLUGIN_SERVER)).constData(), 0600), 0);
        });
        fall("zu gross", "PluginServer", "zu gro", roh, [this] { QVERIFY(QFile::resize(daten() + dateiname(PLUGIN_SERVER), kMaxDateiGroesse + 1)); });
        fall("Datenordner als Verweis", "", "Datenverzeichnis", roh, [this, link] { link(QDir::cleanPath(daten())); });
        fall("Index fehlt", "inhalt_downloadverzeichnis.zip", "fehlt", roh,
             [this] { QVERIFY(QFile::remove(daten() + QStringLiteral("inhalt_downloadverzeichnis.zip"))); });
        fall("Index nicht signiert", "inhalt_techplugin.zip", "Signatur", roh, [this] {
            QFile f(daten() + QStringLiteral("inhalt_techplugin.zip"));
            QVERIFY(f.open(QIODevice::Append) && f.write("x") == 1);
        });
        fall("Index als Verweis", "inhalt_downloadverzeichnis.zip", "symbolische", roh,
             [this, link] { link(daten() + QStringLiteral("inhalt_downloadverzeichnis.zip")); });
        // Records the first process could only write when its engine was tampered with.
        fall("Archiv absolut", "KoraServer", "Archivname \"/tmp/x.zip\"",
             [this] { m_pm->gibPluginKoraVerfuegbar()->setzeZip(QStringLiteral("/tmp/x.zip")); });
        fall("NUL im Archivnamen", "PluginServer", "Archivname",
             [this] { server()->setzeZip(QStringLiteral("a.zip") + QChar(0) + QStringLiteral(".txt")); });
        fall("Updatepaket mit Ordner", "PluginServer", "Update-Pakets \"..\\x.zip\"", [this] {
            Setup paket;
            paket.setzeDatei(QStringLiteral("..\\x.zip"));
            server()->setzeSetups({ paket });
        });
        fall("Dateieintrag nach aussen", "PluginClient", "Dateieintrag",
             [this] { lokal()->fuegeDateienHinzu({ QStringLiteral("bin/../../etc/shadow") }); });
        fall("Dictionary ausserhalb", "PluginClient", "Dictionarys \"/etc/passwd\"",
             [this] { lokal()->setzeDictDatei(QStringLiteral("/etc/passwd")); });
        fall("MD5 falsch", "ServiceServer", "MD5", [this] { dienst()->setzeMD5(QStringLiteral("0123456789abcdef0123456789abcdeg")); });
        fall("Aktion unbekannt", "PluginClient", "unbekannte Aktion 7", [this] { lokal()->setzeAktion(7); });
        fall("Kora in der Liste", "PluginServer", "Hauptanwendung steht", [this] { server()->setzeKurzname(QStringLiteral("kora")); });
        fall("Dienstdatei mit Kora", "ServiceServer", "des Dienstes", [this] { dienst()->setzeKurzname(QStringLiteral("kora")); });
        fall("installiertes Modul mit Archiv", "PluginClient", "Archivdaten", [this] { lokal()->setzeZip(QStringLiteral("est.zip")); });
        fall("MD5 nicht die des Index", "PluginServer", "signierten Index", [this] { server()->setzeMD5(QString(32, QLatin1Char('0'))); });
        fall("Dienstarchiv nicht das des Index", "ServiceServer", "signierten Index", [this] { dienst()->setzeZip(QStringLiteral("eigenes.zip")); });
    }
    void schlechteEingabe()
    {
        QFETCH(Schaden, modell);
        QFETCH(Schaden, dateien);
        QFETCH(QString, name);
        QFETCH(QString, grund);
        fuelle(*m_pm, 2, true, true);
        if (modell)
            modell();
        QVERIFY(m_pm->schreibeDatenModelleInUserTmp());
        if (dateien)
            dateien();
        if (QTest::currentTestFailed())
            return;

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
        if (name.isEmpty()) { // the data folder was a link: nothing touched through it
            for (int art = 0; art < ANZAHL_ARTEN; ++art)
                QVERIFY(QFileInfo(woanders() + QLatin1Char('/') + dateiname(art)).isFile());
            return;
        }
        QCOMPARE(uebrig(), QStringList());
        QCOMPARE(QFileInfo(woanders()).isFile(), grund == QLatin1String("symbolische")); // a link's target stays
    }

    // A later file cannot be written: false, the reason logged, and the files before it removed.
    void schreibfehler()
    {
        fuelle(*m_pm, 1, true, true);
        QVERIFY(QDir().mkpath(daten() + dateiname(KORA_SERVER) + QStringLiteral("/belegt")));
        QVERIFY(!m_pm->schreibeDatenModelleInUserTmp());
        QVERIFY(g_Fehler.join(QLatin1Char('\n')).contains(QStringLiteral("Fehler beim Schreiben in die ") + daten() + dateiname(KORA_SERVER)));
        QCOMPARE(uebrig(), QStringList{ dateiname(KORA_SERVER) });
    }
};

QTEST_GUILESS_MAIN(TstPlandaten)
#include "tst_plandaten.moc"
