// The housekeeping of a main-application update below the root override
// (menu, edition, uninstall entry, the help folder's ACLs seen by getfacl),
// and whether the update service needs an update.

#include "global/plattform/plattform.h"
#include "global/varnelApplication/einstellungen.h"
#include "global/varnelApplication/logbase.h"
#include "pluginManager/dlgPluginManagerDatenmodel.h"
#include "pluginManager/plugin.h"
#include "pluginManager/pluginManager.h"
#include "pluginManager/startwerte.h"
#include "tests/inventar/dicthilfe.h"
#include "tests/testhilfe/testumgebung.h"

#include <QtTest>
#include <memory>
#include <sched.h>
#include <sys/mount.h>
#include <unistd.h>

namespace {

QString programm(const QString& name, const QStringList& argumente) { return KryptoTest::starte(name, argumente).aus; }

class PruefManager : public PluginManager
{
public:
    void setzeServiceServer(Plugin* p) { mp_PluginServiceServer = p; }
};

} // namespace

class TstHauptanwendung : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        m_schluessel = std::make_unique<DictHilfe::Schluessel>(m_schluesselOrdner.path());
        QVERIFY2(m_schluessel->istGueltig(), "openssl could not make a key pair");
        m_namensraum = geteuid() == 0 && unshare(CLONE_NEWNS) == 0
            && mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
    }
    void cleanup()
    {
        gs_KoraDir.clear();
        m_umgebung.reset();
    }
    void nacharbeiten_data()
    {
        QTest::addColumn<QString>("kora");            // folder name below /opt
        QTest::addColumn<QByteArray>("tavo");         // the INSTALLATION group of tavo.ini
        QTest::addColumn<QList<int>>("module");       // Unterfallart of the installed modules
        QTest::addColumn<QString>("hilfe");           // ext4, ramfs, fehlt, fallen (links inside), link (is one)
        QTest::addColumn<QStringList>("menueVorher"); // "gesperrt": the menu folder is a file
        QTest::addColumn<QStringList>("menueNachher");
        QTest::addColumn<QString>("variante");
        QTest::addColumn<QStringList>("registrierung"); // key, then its values; %W root override, %K main folder
        QTest::addColumn<QStringList>("zeilen");      // in the log or the licence entry

        const QStringList alt = { "Deinstallation.desktop", "Fiscalon - Hilfe.desktop", "Fiscalon - Hotline.desktop",
                                  "Infodatei - Soupport.desktop", "Fiscalon - Integritätsprüfer.desktop" };
        const QStringList nurLizenz = { "Lizenzvertrag.desktop" };
        const QStringList fiscalon = { "Fiscalon", "DisplayName=Fiscalon", "DisplayVersion=22.1.0", "InstallLocation=%K",
                                       "Publisher=Quellbau", "UninstallString=%W/var/lib/fiscalon/uninstall.exe --prefix \"%K\"" };
        QTest::newRow("umbenannt, ACL, Registrierung")
            << "Fiscalon" << QByteArray() << QList<int> { 10, 10 } << "ext4" << alt
            << QStringList { "Hilfe.desktop", "Infodatei - Soupport.desktop", "Infodatei - Support.desktop",
                             "Integritätsprüfer.desktop", "Lizenzvertrag.desktop" }
            << "p" << fiscalon
            << QStringList { "Soupport.desktop konnte nicht umbenannt werden",
                             "Eintrag \"Fiscalon - Deinstallation.desktop\" konnte nicht gel" };
        QTest::newRow("MSI, Sonderzeichen im Pfad, ohne ACL")
            << "Fis \"ca$l`on 100%\\x" << QByteArray("MSI_Path=p.msi\nProductcode={0A1B}") << QList<int> { 10, 50 }
            << "ramfs" << QStringList() << nurLizenz << "k" << QStringList { "{0A1B}", "DisplayVersion=22.1.0" }
            << QStringList { "Fis \\\\\"ca\\\\$l\\\\`on 100%%\\\\\\\\x/Lizenzvertrag.pdf\"",
                             "unterst\u00fctzt keine Zugriffskontrolllisten" };
        QTest::newRow("MSI ohne Productcode, Variante bleibt, Links in der Hilfe")
            << "Fiscalon" << QByteArray("MSI_Path=p.msi\nVariante=u") << QList<int> { 10 } << "fallen" << QStringList()
            << nurLizenz << "u" << QStringList()
            << QStringList { "Der \"Productcode\" wurde nicht in der tavo.ini gefunden.",
                             "Die Zugriffsrechte konnten nicht eingestellt werden. Fehlernummer: 31", "mehrere harte Links" };
        QTest::newRow("Menue gesperrt, Hilfe fehlt")
            << "Fiscalon" << QByteArray() << QList<int> {} << "fehlt" << QStringList { "gesperrt" } << QStringList()
            << "unbekannt" << fiscalon
            << QStringList { "Lizenzvertrag.desktop konnte nicht erzeugt werden",
                             "Der Pfad zu Fiscalon/hilfe existiert nicht." };
        QTest::newRow("Hilfe ist ein Link") << "Fiscalon" << QByteArray() << QList<int> { 50 } << "link" << QStringList()
            << nurLizenz << "u" << fiscalon << QStringList { "Die Sicherheitsinformationen konnten nicht abgerufen werden." };
    }
    void nacharbeiten()
    {
        QFETCH(QString, kora);
        QFETCH(QByteArray, tavo);
        QFETCH(QList<int>, module);
        QFETCH(QString, hilfe);
        QFETCH(QStringList, menueVorher);
        QFETCH(QStringList, menueNachher);
        QFETCH(QString, variante);
        QFETCH(QStringList, registrierung);
        QFETCH(QStringList, zeilen);
        if (hilfe == QLatin1String("ramfs") && !m_namensraum)
            QSKIP("no private mount namespace (needs root): no folder without ACLs");

        m_umgebung = std::make_unique<TestUmgebung>();
        const QString w = m_umgebung->wurzel();
        const QString koraDir = w + QStringLiteral("/opt/") + kora;
        const QString hilfeDir = koraDir + QStringLiteral("/hilfe");
        const QString aussen = m_umgebung->pfad() + QStringLiteral("/aussen");
        gs_KoraDir = koraDir;
        TestUmgebung::schreibeDatei(koraDir + QStringLiteral("/bin/uninstall.exe"), "Deinstallation");
        TestUmgebung::schreibeDatei(aussen + QStringLiteral("/geheim"), "x");
        if (hilfe == QLatin1String("link"))
            QVERIFY(QFile::link(aussen, hilfeDir));
        else if (hilfe != QLatin1String("fehlt"))
            QVERIFY(QDir().mkpath(hilfeDir + QStringLiteral("/de")));
        if (hilfe == QLatin1String("ramfs"))
            QVERIFY(mount("ramfs", QFile::encodeName(hilfeDir).constData(), "ramfs", 0, "mode=755") == 0);
        if (hilfe != QLatin1String("fehlt"))
            TestUmgebung::schreibeDatei(hilfeDir + QStringLiteral("/de/index.html"), "Hilfe");
        if (hilfe == QLatin1String("fallen")) {
            // A group member's links to a file outside: neither may pass the rights on.
            const QByteArray geheim = QFile::encodeName(aussen + QStringLiteral("/geheim"));
            QVERIFY(::symlink(geheim.constData(), QFile::encodeName(hilfeDir + QStringLiteral("/weich")).constData()) == 0);
            QVERIFY(::link(geheim.constData(), QFile::encodeName(hilfeDir + QStringLiteral("/de/hart")).constData()) == 0);
        }
        TestUmgebung::schreibeDatei(Einstellungen::gibTavoIniPfad(), "[INSTALLATION]\n" + tavo + "\n");
        const QString menue = w + QStringLiteral("/usr/share/applications/Fiscalon");
        if (menueVorher == QStringList { "gesperrt" })
            TestUmgebung::schreibeDatei(menue, "kein Ordner");
        else
            for (const QString& name : menueVorher)
                TestUmgebung::schreibeDatei(menue + QLatin1Char('/') + name, "[Desktop Entry]\n");

        PluginManager pm;
        for (int ufa : module) {
            auto* p = new Plugin;
            p->setzeUnterfallArt(ufa);
            pm.gibDatenmodelInstalliert()->fuegeHinzu(p);
        }
        auto* koraServer = new Plugin;
        koraServer->setzeVersion(QStringLiteral("22.1.0"));
        pm.setzePluginKoraVerfuegbar(koraServer);
        bool rechte = false;
        const QString log = mitLog([&] {
            pm.fuehreHauptanwendungsNacharbeitenAus();
            rechte = pm.setzeSchreibrechte(pm.gibDirHilfe());
        });
        const QString acl = programm(QStringLiteral("getfacl"), { QStringLiteral("-p"), hilfeDir });
        if (hilfe == QLatin1String("ramfs")) {
            // No ACLs: the group owns the tree and may write in it.
            const QFileInfo datei(hilfeDir + QStringLiteral("/de/index.html"));
            const bool gruppe = datei.group() == QLatin1String("users") && datei.permission(QFile::WriteGroup);
            umount2(QFile::encodeName(hilfeDir).constData(), MNT_DETACH);
            QVERIFY(gruppe);
        }

        const QString text = log + QString::fromUtf8(TestUmgebung::leseDatei(menue + QStringLiteral("/Lizenzvertrag.desktop")));
        for (const QString& zeile : zeilen)
            QVERIFY2(text.contains(zeile), qPrintable(zeile + QStringLiteral("\n") + text));
        QCOMPARE(QDir(menue).entryList(QDir::Files, QDir::Name), menueNachher);
        QCOMPARE(Einstellungen::getAdminVariante(), variante);
        if (menueNachher.contains(QStringLiteral("Lizenzvertrag.desktop"))) {
            const auto lauf = KryptoTest::starte(QStringLiteral("desktop-file-validate"), { menue + QStringLiteral("/Lizenzvertrag.desktop") });
            QVERIFY2(lauf.code == 0, qPrintable(lauf.aus + lauf.fehler));
        }
        QCOMPARE(rechte, hilfe == QLatin1String("ext4") || hilfe == QLatin1String("ramfs"));
        if (hilfe == QLatin1String("ext4") || hilfe == QLatin1String("fallen")) {
            QVERIFY2(acl.contains(QStringLiteral("\ngroup:users:rwx")) && acl.contains(QStringLiteral("\ndefault:group:users:rwx")),
                     qPrintable(acl));
            QVERIFY(programm(QStringLiteral("getfacl"), { hilfeDir + QStringLiteral("/de/index.html") })
                        .contains(QStringLiteral("\ngroup:users:rw-")));
        }
        QVERIFY(!programm(QStringLiteral("getfacl"), { QStringLiteral("-R"), aussen }).contains(QStringLiteral("users")));

        // The uninstall entry: the key's values as they are stored, and the copy.
        const QString uninstall = QStringLiteral("HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\");
        const QString ordner = QFileInfo(Plattform::registrierungsDatei(uninstall + QStringLiteral("x"))).path();
        QStringList gefunden;
        for (const QString& datei : QDir(ordner).entryList(QDir::Files)) {
            QSettings r(ordner + QLatin1Char('/') + datei, QSettings::IniFormat);
            gefunden << QFileInfo(datei).completeBaseName();
            for (const QString& k : r.allKeys())
                gefunden << k + QLatin1Char('=') + r.value(k).toString();
        }
        QCOMPARE(gefunden, registrierung.replaceInStrings(QStringLiteral("%W"), w).replaceInStrings(QStringLiteral("%K"), koraDir));
        QCOMPARE(QFileInfo::exists(w + QStringLiteral("/var/lib/fiscalon/uninstall.exe")), !tavo.contains("MSI_Path"));
    }
    void dienstUpdate_data()
    {
        QTest::addColumn<int>("server");      // the plugin number on the server, -1: no record
        QTest::addColumn<int>("installiert"); // the installed one, -1: not installed
        QTest::addColumn<bool>("erforderlich");
        QTest::newRow("kein Server-Eintrag") << -1 << 1 << false;
        QTest::newRow("nicht installiert") << 2 << -1 << true;
        QTest::newRow("aelter") << 2 << 1 << true;
        QTest::newRow("gleich") << 2 << 2 << false;
        QTest::newRow("neuer") << 2 << 3 << false;
    }
    void dienstUpdate()
    {
        QFETCH(int, server);
        QFETCH(int, installiert);
        QFETCH(bool, erforderlich);
        m_umgebung = std::make_unique<TestUmgebung>();
        m_schluessel->aktiviere();
        if (installiert >= 0) {
            DictHilfe::Daten d;
            d.kurzname = QStringLiteral("service");
            d.jahr = QStringLiteral("0");
            d.nrPlugin = QString::number(installiert);
            DictHilfe::datei(d, Plattform::dienstOrdner(), QStringLiteral("bin/tavoService"), "dienst");
            QVERIFY(m_schluessel->schreibeDict(Plattform::dienstOrdner() + QStringLiteral("/dict/service_0.vdict"), d, true));
        }
        Plugin aufServer;
        aufServer.setzeInterfaceNr(5);
        aufServer.setzeNrAlle(10);
        aufServer.setzeNrGr(1);
        aufServer.setzeNrPlugin(uint(server));
        PruefManager pm;
        pm.setzeServiceServer(server >= 0 ? &aufServer : nullptr);
        bool ergebnis = !erforderlich;
        const QString log = mitLog([&] { ergebnis = pm.istServiceUpdateErforderlich(); });
        QCOMPARE(ergebnis, erforderlich);
        QCOMPARE(log.contains(QStringLiteral("Informationen des verf\u00fcgbaren \"TavoService\"")), server < 0);
    }

private:
    template <typename F> QString mitLog(F schritt)
    {
        initLogBase(QStringLiteral("t"), 10 * 1024 * 1024, m_umgebung->pfad());
        const QString datei = gp_Log->gibDateiname();
        schritt();
        beendeLogBase();
        return QString::fromUtf8(TestUmgebung::leseDatei(datei));
    }
    std::unique_ptr<TestUmgebung> m_umgebung;
    bool m_namensraum = false; // private mounts: a ramfs (no ACLs) the machine does not see
    QTemporaryDir m_schluesselOrdner;
    std::unique_ptr<DictHilfe::Schluessel> m_schluessel;
};

QTEST_GUILESS_MAIN(TstHauptanwendung)
#include "tst_hauptanwendung.moc"
