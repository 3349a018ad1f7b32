// The manager's own update into the service folder from a real nginx:
// installed and verified, or refused with the old copy intact and valid.

#include "global/archiv/ziparchiv.h"
#include "global/varnelApplication/logbase.h"
#include "pluginManager/laufjournal.h"
#include "pluginManager/plugin.h"
#include "pluginManager/pluginManager.h"
#include "pluginManager/startwerte.h"
#include "testhilfe/programmlauf.h"
#include "testhilfe/testserver.h"

#include <QCryptographicHash>
#include <QDirIterator>
#include <QSettings>
#include <QtTest>
#include <memory>

class TstSelbstUpdate : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        m_umgebung = std::make_unique<TestUmgebung>();
        m_server = std::make_unique<BeispielServer>(m_umgebung->pfad(), QStringLiteral(IV_QUELLEN), QStringLiteral(IV_BAU),
                                                    QStringList{ QStringLiteral("--neue-verwaltung") });
        QVERIFY2(m_server->laeuft(), qPrintable(m_server->fehler()));
        m_beispiel = m_server->beispiel();
        const QString wurzel = m_beispiel + QStringLiteral("/wurzel");
        qputenv("FISCALON_WURZEL", wurzel.toLocal8Bit());
        QSettings tavo(wurzel + QStringLiteral("/etc/xdg/fiscalon/kora/tavo.ini"), QSettings::IniFormat);
        tavo.setValue(QStringLiteral("UPDATE/QSTestServerUrl"), QStringLiteral("127.0.0.1:%1").arg(m_server->nginx().port()));
    }
    void cleanupTestCase()
    {
        m_server.reset();
        setzeStartwerteZurueck();
    }
    void installieren_data()
    {
        QTest::addColumn<QString>("fall");
        QTest::addColumn<bool>("erfolg");
        QTest::addColumn<QString>("meldung");
        QTest::newRow("neue Version") << "" << true << "Installiere; Datei: [%1] Verzeichnis: [%2]";
        QTest::newRow("neben einem Journal") << "journal" << true << "Installiere; Datei: [%1] Verzeichnis: [%2]";
        QTest::newRow("Download scheitert") << "fehlt" << false
                                            << "instv konnte nicht vom Server geladen werden. Fehlerursache: Der Server antwortet mit dem Status 404";
        QTest::newRow("falsche MD5") << "md5" << false
                                     << "instv konnte nicht vom Server geladen werden. Fehlerursache: Die Pr\u00fcfsumme der Datei \"%1\" stimmt nicht.";
        QTest::newRow("kein Archiv") << "kaputt" << false << "bleibt unver\u00e4ndert. Das Archiv ";
        QTest::newRow("Datei passt nicht zum Dictionary") << "ungueltig" << false
                                                          << "bleibt unver\u00e4ndert. Die entpackte Installationsverwaltung entspricht";
        QTest::newRow("kein Selbst-Update angeboten") << "aus" << false << "Auf dem Server wurde kein Selbst-Update der ";
    }
    void installieren()
    {
        QFETCH(QString, fall);
        QFETCH(bool, erfolg);
        QFETCH(QString, meldung);
        const QString logDatei = bereite(QString::fromLatin1(QTest::currentDataTag()));
        const QString dienst = m_beispiel + QStringLiteral("/wurzel/opt/Fiscalon Update Service");
        const QByteArray dictAlt = TestUmgebung::leseDatei(dienst + QStringLiteral("/dict/instv_0.vdict"));
        const QByteArray dictNeu = TestUmgebung::leseDatei(m_beispiel + QStringLiteral("/release/instv_neu/dict/instv_0.vdict"));
        QVERIFY(!dictAlt.isEmpty() && !dictNeu.isEmpty() && dictAlt != dictNeu);

        FakeRueckfrage fragen;
        PluginManager pm;
        QCOMPARE(pm.setzeServerVerzeichnis(), 0);
        bool noetig = false, dienstVerwenden = false;
        pm.leseTechPluginDatei(noetig, dienstVerwenden, true);
        QVERIFY(noetig);
        Plugin* neu = pm.gibPluginIvServer();
        QVERIFY(neu);
        const QString zip = neu->gibZip();
        const QString aufServer = m_beispiel + QStringLiteral("/server/download/pm/win_18_0/r27289/") + zip;
        const QByteArray original = TestUmgebung::leseDatei(aufServer);
        QVERIFY(!original.isEmpty());
        // An archive in tmp whose checksum the index gives: no download, straight to the unpacking.
        auto imTmp = [&](const QByteArray& inhalt) {
            TestUmgebung::schreibeDatei(PluginManager::gibDirTmp() + zip, inhalt);
            neu->setzeMD5(QString::fromLatin1(QCryptographicHash::hash(inhalt, QCryptographicHash::Md5).toHex()));
        };
        if (fall == QLatin1String("fehlt")) {
            QVERIFY(QFile::rename(aufServer, aufServer + QStringLiteral(".weg")));
        } else if (fall == QLatin1String("md5")) {
            // The announced size, other bytes.
            QByteArray verdorben = original;
            verdorben[verdorben.size() - 1] = char(verdorben.at(verdorben.size() - 1) ^ 0x5a);
            TestUmgebung::schreibeDatei(aufServer, verdorben);
        } else if (fall == QLatin1String("kaputt")) {
            imTmp("kein Archiv");
        } else if (fall == QLatin1String("ungueltig")) {
            // Signed dictionary, but the program is not the one it lists.
            const QString teile = m_umgebung->pfad() + QStringLiteral("/ungueltig");
            TestUmgebung::schreibeDatei(teile + QStringLiteral("/programm"), "untergeschoben");
            const QString archiv = teile + QStringLiteral("/a.zip");
            QVERIFY(ZipArchiv::erstelle(archiv, { { m_beispiel + QStringLiteral("/release/instv_neu/dict/instv_0.vdict"),
                                                    QStringLiteral("dict/instv_0.vdict") },
                                                  { teile + QStringLiteral("/programm"), QStringLiteral("bin/installationsverwaltung") } }));
            imTmp(TestUmgebung::leseDatei(archiv));
        } else if (fall == QLatin1String("aus")) {
            neu->setzeSelbstUpdate(false);
        } else if (fall == QLatin1String("journal")) {
            // An earlier run stopped: its journal stays for the next start's repair.
            QVERIFY(Laufjournal().beginne({ { Laufjournal::ERNEUERN, { QStringLiteral("est"), 2021 } } }, {}));
        }

        QStringList status;
        connect(&pm, &PluginManager::initStatusText, this, [&](const QString& text, bool) { status << text; });
        const bool ergebnis = pm.installSelbstUpdate();
        beendeLogBase();
        TestUmgebung::schreibeDatei(aufServer, original);
        QFile::remove(aufServer + QStringLiteral(".weg"));
        const QString log = QString::fromUtf8(TestUmgebung::leseDatei(logDatei));

        QCOMPARE(ergebnis, erfolg);
        meldung.replace(QLatin1String("%1"), zip).replace(QLatin1String("%2"), dienst);
        QVERIFY2(log.contains(meldung), qPrintable(log.right(3000)));
        QCOMPARE(status.value(0), QStringLiteral("Ein Selbst-Update wird durchgef\u00fchrt."));
        QCOMPARE(status.value(status.size() - 1), QString());
        // The copy in the service folder verifies: the new one, or the old one untouched.
        QCOMPARE(TestUmgebung::leseDatei(dienst + QStringLiteral("/dict/instv_0.vdict")), erfolg ? dictNeu : dictAlt);
        QVERIFY(pm.istKopieValid(dienst));
        QDirIterator it(dienst, QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
        while (it.hasNext())
            QVERIFY2(!it.next().contains(QLatin1String(".iv-entpacken-")), qPrintable(it.filePath()));
        QVERIFY(!(QFileInfo(dienst + QStringLiteral("/bin/installationsverwaltung")).permissions() & QFile::WriteOther));

        const Laufjournal::Stand journal = Laufjournal::lese();
        if (fall == QLatin1String("journal")) {
            QVERIFY(journal.vorhanden && !journal.beschaedigt);
            QCOMPARE(journal.plan.size(), 2);
            QCOMPARE(journal.plan.at(1).aktion, Laufjournal::SELBSTUPDATE);
            QCOMPARE(journal.letzterSchritt, QStringLiteral("ENDE selbstupdate instv 0"));
            QVERIFY(journal.offeneSchritte.isEmpty());
            Laufjournal::entferne();
        } else {
            QVERIFY(!journal.vorhanden);
        }
    }
    void unterbrochen()
    {
        // A self-update stopped while its files were moved: its step open, the copy not its dictionary's.
        const QString logDatei = bereite(QStringLiteral("unterbrochen"));
        const QString dienst = m_beispiel + QStringLiteral("/wurzel/opt/Fiscalon Update Service");
        {
            PluginManager gestoppt; // makes the engine's folders
            Laufjournal journal;
            QVERIFY(journal.setzeFort({ { Laufjournal::SELBSTUPDATE, { QStringLiteral("instv"), 0 } } }));
            QVERIFY(journal.schritt(Laufjournal::SELBSTUPDATE, { QStringLiteral("instv"), 0 }, false));
            TestUmgebung::schreibeDatei(dienst + QStringLiteral("/bin/installationsverwaltung"), "halb ersetzt");
        }

        // The next start drops the damaged copy's dictionary: the self-update is due and repairs it.
        FakeRueckfrage fragen;
        PluginManager pm;
        QVERIFY(pm.pruefeUnterbrochenenLauf());
        pm.lesePluginInfoLokal();
        pm.planeReparaturen();
        QVERIFY(!QFileInfo::exists(dienst + QStringLiteral("/dict/instv_0.vdict")));
        QCOMPARE(pm.setzeServerVerzeichnis(), 0);
        bool noetig = false, dienstVerwenden = false;
        pm.leseTechPluginDatei(noetig, dienstVerwenden, true);
        QVERIFY(noetig);
        QVERIFY(pm.installSelbstUpdate());
        beendeLogBase();
        const QString log = QString::fromUtf8(TestUmgebung::leseDatei(logDatei));
        QVERIFY2(log.contains(QStringLiteral("Unterbrochen bei: selbstupdate instv 0.")), qPrintable(log.right(3000)));
        QVERIFY(log.contains(QStringLiteral("Das Dictionary \"%1/dict/instv_0.vdict\" der besch\u00e4digten Kopie wurde entfernt.").arg(dienst)));
        QVERIFY(pm.istKopieValid(dienst));
        Laufjournal::entferne();
    }

private:
    // One case: the old copy in the service folder, the self-update process's start values, a fresh log.
    QString bereite(const QString& fall)
    {
        const QString benutzer = m_umgebung->pfad() + QStringLiteral("/faelle/") + QString(fall).replace(QLatin1Char(' '), QLatin1Char('_'))
            + QStringLiteral("/kora");
        kopiereOrdner(m_beispiel + QStringLiteral("/teile/instv"), m_beispiel + QStringLiteral("/wurzel/opt/Fiscalon Update Service"));
        Programmlauf::koraIni(benutzer);
        QString zeile;
        leseParameter(QStringList{ QStringLiteral("iv"), QStringLiteral("--selbstUpdate"), QStringLiteral("--i2"),
                                   QStringLiteral("--koraDir=") + m_beispiel + QStringLiteral("/wurzel/opt/Fiscalon"),
                                   QStringLiteral("--dirUserKora=") + benutzer },
                      zeile);
        initLogBase(QStringLiteral("t"), 10 * 1024 * 1024, benutzer);
        return gp_Log->gibDateiname();
    }
    std::unique_ptr<TestUmgebung> m_umgebung;
    std::unique_ptr<BeispielServer> m_server;
    QString m_beispiel;
};

QTEST_GUILESS_MAIN(TstSelbstUpdate)
#include "tst_selbstupdate.moc"
