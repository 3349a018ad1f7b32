// The housekeeping of a main-application update, end to end below the root
// override: menu entries, edition, uninstall entry and uninstaller copy, the
// rights on the help folder (checked with getfacl), and whether the update
// service needs an update.

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

QString programm(const QString& name, const QStringList& argumente, int* code = nullptr)
{
    QProcess p;
    p.start(name, argumente);
    p.waitForFinished(30000);
    if (code)
        *code = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    return QString::fromUtf8(p.readAllStandardOutput() + p.readAllStandardError());
}

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
    void initTestCase();
    void cleanup();
    void nacharbeiten_data();
    void nacharbeiten();
    void schreibrechte_data();
    void schreibrechte();
    void dienstUpdate_data();
    void dienstUpdate();

private:
    // Runs `schritt` with a fresh log and gives the log's text.
    template <typename F> QString mitLog(F schritt);
    std::unique_ptr<TestUmgebung> m_umgebung;
    // A private mount namespace: a folder without ACLs (ramfs) can be mounted
    // without the machine seeing it.
    bool m_namensraum = false;
};

void TstHauptanwendung::initTestCase()
{
    m_namensraum = geteuid() == 0 && unshare(CLONE_NEWNS) == 0
        && mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
}

void TstHauptanwendung::cleanup()
{
    gs_KoraDir.clear();
    m_umgebung.reset();
}

template <typename F> QString TstHauptanwendung::mitLog(F schritt)
{
    initLogBase(QStringLiteral("t"), 10 * 1024 * 1024, m_umgebung->pfad());
    const QString datei = gp_Log->gibDateiname();
    schritt();
    beendeLogBase();
    return QString::fromUtf8(TestUmgebung::leseDatei(datei));
}

void TstHauptanwendung::nacharbeiten_data()
{
    QTest::addColumn<QString>("kora");          // folder name below /opt
    QTest::addColumn<QString>("msi");           // tavo.ini MSI_Path;Productcode;Variante
    QTest::addColumn<QList<int>>("module");     // Unterfallart of the installed modules
    QTest::addColumn<QString>("hilfe");         // "ext4", "ramfs" or "fehlt"
    QTest::addColumn<QStringList>("menueVorher"); // empty list with "gesperrt": the folder is a file
    QTest::addColumn<QStringList>("menueNachher");
    QTest::addColumn<QString>("variante");
    QTest::addColumn<QString>("registrierung"); // key below Uninstall, empty: none
    QTest::addColumn<QStringList>("zeilen");      // in the log or the licence entry

    const QStringList alt = { "Deinstallation.desktop", "Fiscalon - Hilfe.desktop", "Fiscalon - Hotline.desktop",
                              "Infodatei - Soupport.desktop", "Fiscalon - Integritätsprüfer.desktop" };
    QTest::newRow("umbenannt, ACL, Registrierung")
        << "Fiscalon" << ";;" << QList<int> { 10, 10 } << "ext4" << alt
        << QStringList { "Hilfe.desktop", "Infodatei - Soupport.desktop", "Infodatei - Support.desktop",
                         "Integritätsprüfer.desktop", "Lizenzvertrag.desktop" }
        << "p" << "Fiscalon"
        << QStringList { "Soupport.desktop konnte nicht umbenannt werden",
                         "Eintrag \"Fiscalon - Deinstallation.desktop\" konnte nicht gel" };
    QTest::newRow("MSI, Sonderzeichen im Pfad, ohne ACL")
        << "Fis \"ca$l`on 100%\\x" << "paket.msi;{0A1B};" << QList<int> { 10, 50 } << "ramfs" << QStringList()
        << QStringList { "Lizenzvertrag.desktop" } << "k" << "{0A1B}"
        << QStringList { "Fis \\\\\"ca\\\\$l\\\\`on 100%%\\\\\\\\x/Lizenzvertrag.pdf\"",
                         "unterst\u00fctzt keine Zugriffskontrolllisten" };
    QTest::newRow("MSI ohne Productcode, Variante bleibt")
        << "Fiscalon" << "paket.msi;;u" << QList<int> { 10 } << "ext4" << QStringList()
        << QStringList { "Lizenzvertrag.desktop" } << "u" << ""
        << QStringList { "Der \"Productcode\" wurde nicht in der tavo.ini gefunden." };
    QTest::newRow("Menue gesperrt, Hilfe fehlt")
        << "Fiscalon" << ";;" << QList<int> {} << "fehlt" << QStringList { "gesperrt" } << QStringList()
        << "unbekannt" << "Fiscalon"
        << QStringList { "Lizenzvertrag.desktop konnte nicht erzeugt werden",
                         "Der Pfad zu Fiscalon/hilfe existiert nicht." };
}

void TstHauptanwendung::nacharbeiten()
{
    QFETCH(QString, kora);
    QFETCH(QString, msi);
    QFETCH(QList<int>, module);
    QFETCH(QString, hilfe);
    QFETCH(QStringList, menueVorher);
    QFETCH(QStringList, menueNachher);
    QFETCH(QString, variante);
    QFETCH(QString, registrierung);
    QFETCH(QStringList, zeilen);
    if (hilfe == QLatin1String("ramfs") && !m_namensraum)
        QSKIP("no private mount namespace (needs root): no folder without ACLs");

    m_umgebung = std::make_unique<TestUmgebung>();
    const QString koraDir = m_umgebung->wurzel() + QStringLiteral("/opt/") + kora;
    gs_KoraDir = koraDir;
    TestUmgebung::schreibeDatei(koraDir + QStringLiteral("/bin/uninstall.exe"), "Deinstallation");
    const QString hilfeDir = koraDir + QStringLiteral("/hilfe");
    if (hilfe != QLatin1String("fehlt"))
        QVERIFY(QDir().mkpath(hilfeDir));
    if (hilfe == QLatin1String("ramfs"))
        QVERIFY(mount("ramfs", QFile::encodeName(hilfeDir).constData(), "ramfs", 0, "mode=755") == 0);
    if (hilfe != QLatin1String("fehlt"))
        TestUmgebung::schreibeDatei(hilfeDir + QStringLiteral("/de/index.html"), "Hilfe");

    const QStringList m = msi.split(QLatin1Char(';'));
    TestUmgebung::schreibeDatei(Einstellungen::gibTavoIniPfad(),
                                QStringLiteral("[INSTALLATION]\nMSI_Path=%1\nProductcode=%2\n%3")
                                    .arg(m[0], m[1], m[2].isEmpty() ? QString() : QStringLiteral("Variante=") + m[2])
                                    .toUtf8());
    const QString menue = m_umgebung->wurzel() + QStringLiteral("/usr/share/applications/Fiscalon");
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
        int code = -1;
        const QString meldung = programm(QStringLiteral("desktop-file-validate"),
                                         { menue + QStringLiteral("/Lizenzvertrag.desktop") }, &code);
        QVERIFY2(code == 0, qPrintable(meldung));
    }
    QCOMPARE(rechte, hilfe != QLatin1String("fehlt"));
    if (hilfe == QLatin1String("ext4")) {
        QVERIFY2(acl.contains(QStringLiteral("\ngroup:users:rwx")), qPrintable(acl));
        QVERIFY2(acl.contains(QStringLiteral("\ndefault:group:users:rwx")), qPrintable(acl));
        QVERIFY(programm(QStringLiteral("getfacl"), { hilfeDir + QStringLiteral("/de/index.html") })
                    .contains(QStringLiteral("\ngroup:users:rw-")));
    }

    const QString schluessel = QStringLiteral("HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall");
    const QString uninstallKopie = m_umgebung->wurzel() + QStringLiteral("/var/lib/fiscalon/uninstall.exe");
    QCOMPARE(QDir(QFileInfo(Plattform::registrierungsDatei(schluessel + QStringLiteral("\\x"))).path())
                 .entryList(QDir::Files),
             registrierung.isEmpty() ? QStringList() : QStringList { registrierung + QStringLiteral(".ini") });
    QCOMPARE(QFileInfo::exists(uninstallKopie), m[0].isEmpty());
    if (registrierung.isEmpty())
        return;
    QSettings r(Plattform::registrierungsDatei(schluessel + QLatin1Char('\\') + registrierung), QSettings::IniFormat);
    QCOMPARE(r.value(QStringLiteral("DisplayVersion")).toString(), QStringLiteral("22.1.0"));
    if (m[0].isEmpty()) {
        QCOMPARE(r.allKeys().size(), 5);
        QCOMPARE(r.value(QStringLiteral("UninstallString")).toString(),
                 QStringLiteral("%1 --prefix \"%2\"").arg(uninstallKopie, koraDir));
        QCOMPARE(r.value(QStringLiteral("InstallLocation")).toString(), koraDir);
    } else {
        QCOMPARE(r.allKeys(), QStringList { QStringLiteral("DisplayVersion") });
    }
}

void TstHauptanwendung::schreibrechte_data()
{
    QTest::addColumn<QString>("fall");
    QTest::addColumn<bool>("ergebnis");
    QTest::addColumn<QString>("logzeile");
    QTest::newRow("Link nach aussen bleibt") << "link" << true << "";
    QTest::newRow("zweiter harter Link") << "hart" << false << "Die Zugriffsrechte konnten nicht eingestellt werden. Fehlernummer: 31";
    QTest::newRow("Ordner ist ein Link") << "ordnerlink" << false << "Die Sicherheitsinformationen konnten nicht abgerufen werden.";
}

void TstHauptanwendung::schreibrechte()
{
    QFETCH(QString, fall);
    QFETCH(bool, ergebnis);
    QFETCH(QString, logzeile);
    m_umgebung = std::make_unique<TestUmgebung>();
    const QString aussen = m_umgebung->pfad() + QStringLiteral("/aussen");
    QString hilfe = m_umgebung->pfad() + QStringLiteral("/hilfe");
    TestUmgebung::schreibeDatei(aussen + QStringLiteral("/geheim"), "x");
    TestUmgebung::schreibeDatei(hilfe + QStringLiteral("/a/b.html"), "b");
    if (fall == QLatin1String("link"))
        QVERIFY(QFile::link(aussen + QStringLiteral("/geheim"), hilfe + QStringLiteral("/a/geheim")));
    if (fall == QLatin1String("hart"))
        QVERIFY(::link(QFile::encodeName(aussen + QStringLiteral("/geheim")).constData(),
                       QFile::encodeName(hilfe + QStringLiteral("/a/geheim")).constData()) == 0);
    if (fall == QLatin1String("ordnerlink")) {
        QVERIFY(QFile::link(aussen, m_umgebung->pfad() + QStringLiteral("/verweis")));
        hilfe = m_umgebung->pfad() + QStringLiteral("/verweis");
    }
    PluginManager pm;
    bool ok = !ergebnis;
    const QString log = mitLog([&] { ok = pm.setzeSchreibrechte(hilfe); });
    QCOMPARE(ok, ergebnis);
    QVERIFY2(log.contains(logzeile), qPrintable(log));
    // Whatever the tree holds, nothing outside it gains the group.
    QVERIFY(!programm(QStringLiteral("getfacl"), { QStringLiteral("-R"), aussen }).contains(QStringLiteral("users")));
}

void TstHauptanwendung::dienstUpdate_data()
{
    QTest::addColumn<int>("server");    // the server's plugin number, -1: no record
    QTest::addColumn<int>("installiert"); // the installed one's, -1: not installed
    QTest::addColumn<bool>("erforderlich");
    QTest::newRow("kein Server-Eintrag") << -1 << 1 << false;
    QTest::newRow("nicht installiert") << 2 << -1 << true;
    QTest::newRow("aelter") << 2 << 1 << true;
    QTest::newRow("gleich") << 2 << 2 << false;
    QTest::newRow("neuer") << 2 << 3 << false;
}

void TstHauptanwendung::dienstUpdate()
{
    QFETCH(int, server);
    QFETCH(int, installiert);
    QFETCH(bool, erforderlich);
    m_umgebung = std::make_unique<TestUmgebung>();
    DictHilfe::Schluessel schluessel(m_umgebung->pfad() + QStringLiteral("/schluessel"));
    QVERIFY(schluessel.istGueltig());
    schluessel.aktiviere();
    if (installiert >= 0) {
        DictHilfe::Daten d;
        d.kurzname = QStringLiteral("service");
        d.jahr = QStringLiteral("0");
        d.nrPlugin = QString::number(installiert);
        DictHilfe::datei(d, Plattform::dienstOrdner(), QStringLiteral("bin/tavoService"), "dienst");
        QVERIFY(schluessel.schreibeDict(Plattform::dienstOrdner() + QStringLiteral("/dict/service_0.vdict"), d, true));
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

QTEST_GUILESS_MAIN(TstHauptanwendung)
#include "tst_hauptanwendung.moc"
