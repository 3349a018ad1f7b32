// Crash safety end to end: real runs against a real nginx, stopped with
// SIGKILL at the journal's test-only stop points and run again; parts and
// journals damaged by hand.

#include "testhilfe/programmlauf.h"
#include "testhilfe/testserver.h"

#include <QCryptographicHash>
#include <QDirIterator>
#include <QProcess>
#include <QSettings>
#include <QtTest>

#include <csignal>
#include <memory>

class TstAbsturz : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        m_umgebung = std::make_unique<TestUmgebung>();
        m_server = std::make_unique<BeispielServer>(m_umgebung->pfad(), QStringLiteral(IV_QUELLEN), QStringLiteral(IV_BAU));
        QVERIFY2(m_server->laeuft(), qPrintable(m_server->fehler()));
        m_beispiel = m_server->beispiel();

        // A module of an older interface, no longer offered: the new main application's run removes it.
        m_alt = m_umgebung->pfad() + QStringLiteral("/vorlage_alt");
        kopiereOrdner(m_beispiel + QStringLiteral("/wurzel/opt/Fiscalon"), m_alt);
        TestUmgebung::schreibeDatei(m_alt + QStringLiteral("/plugins/lst2019.so"), "Modul lst 2019\n");
        TestUmgebung::schreibeDatei(m_alt + QStringLiteral("/hilfe/lst/2019.html"), "<html>lst 2019</html>\n");
        QProcess dict;
        dict.setProcessChannelMode(QProcess::MergedChannels);
        dict.start(QStringLiteral(IV_BAU "/werkzeuge/veroeffentlichen/fiscalon-veroeffentlichen"),
                   { "dict", "--ordner", m_alt, "--name", "lst_19.dict", "--form", "csv", "--kurzname", "lst",
                     "--veranlagungszeitraum", "2019", "--unterfallArtID", "64", "--langname", "Lohnsteuer-Anmeldung",
                     "--versionsNummer", "21.2.1", "--revision", "27000", "--pluginAlleVersionsNummer", "21",
                     "--pluginGruppeVersionsNummer", "1", "--pluginVersionsNummer", "1", "--anwendungInterfaceNummer", "4",
                     "--kategorie", "Steuer", "--schluessel", IV_BAU "/entwicklungsschluessel/keyprivate.pem" });
        QVERIFY(dict.waitForFinished(60000));
        QVERIFY2(dict.exitCode() == 0, dict.readAll().constData());

        m_aktuell = m_umgebung->pfad() + QStringLiteral("/vorlage_aktuell");
        for (const char* teil : { "kora_27289", "est_20", "est_21_neu", "est_22", "gew_20", "ust_21" })
            kopiereOrdner(m_beispiel + QStringLiteral("/release/") + QLatin1String(teil), m_aktuell);
    }
    void cleanupTestCase() { m_server.reset(); }
    void haltepunkte_data()
    {
        // halt: FISCALON_TEST_HALT ("vor|nach|halb <record>", "verschieben <entry>" before
        // that move, "#n" the n-th pass; "nach PLAN" is "vor BEGINN hauptanwendung"). The run
        // renews the main application from 27000 (moves bin/kora, lib/libsteuer.so, lib/neu.so,
        // its dictionary and signature; four deletions), the service in the first row only,
        // removes lst 2019, installs est 2022 and renews est 2021.
        QTest::addColumn<QString>("halt");
        // First: only the shared service folder's old service gets renewed.
        QTest::newRow("Dienst-Update begonnen") << "nach BEGINN dienst service 0";
        QTest::newRow("Download") << "herunterladen";
        QTest::newRow("vor dem Journal") << "vor PLAN";
        QTest::newRow("Journal halb geschrieben") << "halb PLAN";
        QTest::newRow("nach dem Journal") << "nach PLAN";
        QTest::newRow("Hauptanwendung halber Eintrag") << "halb BEGINN hauptanwendung kora 9999";
        QTest::newRow("Hauptanwendung") << "nach BEGINN hauptanwendung kora 9999";
        QTest::newRow("Hauptanwendung erster Zug") << "verschieben bin/kora";
        QTest::newRow("Hauptanwendung mitten") << "verschieben lib/neu.so";
        QTest::newRow("Hauptanwendung vor dem Dictionary") << "verschieben dict/kora_0.dict";
        QTest::newRow("Hauptanwendung ohne Signatur") << "verschieben dict/kora_0.dict.sig";
        QTest::newRow("Hauptanwendung Altlasten") << "loeschen#2";
        QTest::newRow("Hauptanwendung vor dem Ende") << "vor ENDE hauptanwendung kora 9999";
        QTest::newRow("Hauptanwendung halbes Ende") << "halb ENDE hauptanwendung kora 9999";
        QTest::newRow("Hauptanwendung beendet") << "nach ENDE hauptanwendung kora 9999";
        QTest::newRow("Entfernen begonnen") << "nach BEGINN entfernen lst 2019";
        QTest::newRow("Entfernen halber Eintrag") << "halb ENDE entfernen lst 2019";
        QTest::newRow("Entfernen beendet") << "nach ENDE entfernen lst 2019";
        QTest::newRow("Installation begonnen") << "nach BEGINN installieren est 2022";
        QTest::newRow("Installation vor dem Ende") << "vor ENDE installieren est 2022";
        QTest::newRow("Erneuerung halber Eintrag") << "halb BEGINN erneuern est 2021";
        QTest::newRow("Erneuerung erster Zug") << "verschieben hilfe/est/2021.html";
        QTest::newRow("Erneuerung mitten") << "verschieben plugins/est2021.so";
        QTest::newRow("Erneuerung vor dem Dictionary") << "verschieben dict/est_21.dict";
        QTest::newRow("Erneuerung beendet") << "nach ENDE erneuern est 2021";
        QTest::newRow("Bereinigung begonnen") << "nach BEGINN bereinigen alle 0";
        QTest::newRow("mitten in der Bereinigung") << "loeschen#6";
        QTest::newRow("vor dem Abschluss") << "vor ABSCHLUSS";
    }
    void haltepunkte()
    {
        QFETCH(QString, halt);
        const QString fall = QString::fromLatin1(QTest::currentDataTag()).replace(QLatin1Char(' '), QLatin1Char('_'));
        const QString koraDir = installation(fall, m_alt);

        const Lauf erster = starte(fall, koraDir, {}, halt);
        QVERIFY2(erster.getoetet, (QByteArray::number(erster.code) + erster.log.right(800)).constData());
        const Lauf zweiter = starte(fall, koraDir, {});
        QVERIFY2(zweiter.code == 90 || zweiter.code == 91, (QByteArray::number(zweiter.code) + zweiter.log.right(1500)).constData());

        // The plan's end state, whatever the point of the stop.
        QVERIFY(QFileInfo::exists(koraDir + QStringLiteral("/dict/est_22.dict")));
        QCOMPARE(TestUmgebung::leseDatei(koraDir + QStringLiteral("/plugins/est2021.so")).trimmed(), QByteArray("Modul est 2021 Stand 2"));
        for (const char* weg : { "/plugins/est2021_alt.dat", "/dict/lst_19.dict", "/plugins/lst2019.so", "/hilfe/lst/2019.html" })
            QVERIFY2(!QFileInfo::exists(koraDir + QLatin1String(weg)), weg);
        pruefeHeil(fall, koraDir);
    }
    void reparatur_data()
    {
        auto zeile = [](const QByteArray& text) {
            return text + '\t' + QCryptographicHash::hash(text, QCryptographicHash::Md5).toHex().left(8) + '\n';
        };
        const QByteArray kopf = zeile("IVJ\t1\t2026-01-01T00:00:00Z\tlauf");
        QByteArray zufall;
        for (int i = 0; i < 4096; ++i)
            zufall += char((i * 7919 + 13) % 251);
        // datei: changed by hand, or removed; altesJournal: what a stopped run left (none: the
        // read-only check must name the damage first); unbekannt: it counts as damaged.
        QTest::addColumn<QString>("datei");
        QTest::addColumn<bool>("loeschen");
        QTest::addColumn<QByteArray>("altesJournal");
        QTest::addColumn<bool>("unbekannt");
        const QString est = QStringLiteral("plugins/est2020.so");
        QTest::newRow("geaendert") << est << false << QByteArray() << false;
        QTest::newRow("geloescht") << "hilfe/gew/2020.html" << true << QByteArray() << false;
        // No update package for the installed 27289: only its complete archive repairs it.
        QTest::newRow("Hauptanwendung") << "lib/libsteuer.so" << false << QByteArray() << false;
        QTest::newRow("Journal abgeschnitten") << est << false << kopf + zeile("PLAN\terneuern\test\t2020").left(12) << true;
        QTest::newRow("Journal aus Zufallsbytes") << est << false << zufall << true;
        QTest::newRow("Journal mit Pfad nach aussen") << est << false << kopf + zeile("DATEI\t../aussen/opfer.txt") << true;
        QTest::newRow("Journal mit absolutem Pfad") << est << false << kopf + zeile("DATEI\t/" + QByteArray("tmp/opfer.txt")) << true;
        QTest::newRow("Journal mit Teil mit Pfad") << est << false << kopf + zeile("BEGINN\tentfernen\t../aussen\t2020") << true;
        // Well-formed, and a listed path leads outside through a link: the clean-up must not follow it.
        QTest::newRow("Journal mit Verweis nach aussen")
            << est << false << kopf + zeile("PLAN\terneuern\test\t2020") + zeile("DATEI\tverweis/opfer.txt") << false;
    }
    void reparatur()
    {
        QFETCH(QString, datei);
        QFETCH(bool, loeschen);
        QFETCH(QByteArray, altesJournal);
        QFETCH(bool, unbekannt);
        const QString fall = QString::fromLatin1(QTest::currentDataTag()).replace(QLatin1Char(' '), QLatin1Char('_'));
        const QString koraDir = installation(fall, m_aktuell);
        // A victim outside, reachable by "..", by an absolute path (below the root override) and a link.
        const QString aussen = koraDir + QStringLiteral("/../aussen");
        TestUmgebung::schreibeDatei(aussen + QStringLiteral("/opfer.txt"), "bleibt\n");
        QVERIFY(QFile::link(aussen, koraDir + QStringLiteral("/verweis")));
        const QString pfad = koraDir + QLatin1Char('/') + datei;
        const QByteArray original = TestUmgebung::leseDatei(pfad);
        if (loeschen)
            QVERIFY(QFile::remove(pfad));
        else
            TestUmgebung::schreibeDatei(pfad, "von Hand ge\xc3\xa4ndert\n");

        if (altesJournal.isEmpty()) {
            const Lauf pruefung = starte(fall, koraDir, { QStringLiteral("--pruefen") });
            QVERIFY2(pruefung.code == 3, (pruefung.ausgabe + pruefung.log.right(800)).constData());
            QVERIFY2(pruefung.ausgabe.contains((loeschen ? "  fehlt: " : "  ge\xc3\xa4ndert: ") + datei.toUtf8()), pruefung.ausgabe.constData());
            QVERIFY(pruefung.ausgabe.contains("BESCH\xc3\x84" "DIGT"));
            QCOMPARE(QFileInfo::exists(pfad), !loeschen); // read-only
        } else {
            TestUmgebung::schreibeDatei(journal(fall), altesJournal);
        }

        const Lauf l = starte(fall, koraDir, {});
        QVERIFY2(l.code == 90, (QByteArray::number(l.code) + l.log.right(1500)).constData());
        QCOMPARE(TestUmgebung::leseDatei(pfad), original);
        QCOMPARE(l.log.contains("Der Zustand der Installation ist unbekannt: alle installierten Teile werden gepr\xc3\xbc" "ft."), unbekannt);
        if (!altesJournal.isEmpty()) {
            QByteArray befunde;
            for (const QByteArray& z : l.log.split('\n'))
                befunde += z.contains("besch\xc3\xa4" "digt") ? z.mid(z.indexOf("] : ") + 4) + '\n' : QByteArray();
            QVERIFY2(befunde.contains(" 2020\" ist besch\xc3\xa4" "digt (2 Dateien gepr\xc3\xbc" "ft, fehlend: 0, ge\xc3\xa4ndert: 1): plugins/est2020.so"),
                     befunde.constData());
        }
        QCOMPARE(TestUmgebung::leseDatei(aussen + QStringLiteral("/opfer.txt")), QByteArray("bleibt\n"));
        QFile::remove(koraDir + QStringLiteral("/verweis"));
        pruefeHeil(fall, koraDir);
    }

private:
    struct Lauf {
        int code = -999;
        bool getoetet = false;
        QByteArray log;     // this run's part of the log
        QByteArray ausgabe; // standard output
    };
    Lauf starte(const QString& fall, const QString& koraDir, const QStringList& schalter, const QString& halt = QString())
    {
        const QString wurzel = m_beispiel + QStringLiteral("/wurzel");
        QSettings tavo(wurzel + QStringLiteral("/etc/xdg/fiscalon/kora/tavo.ini"), QSettings::IniFormat);
        tavo.setValue(QStringLiteral("UPDATE/QSTestServerUrl"), QStringLiteral("127.0.0.1:%1").arg(m_server->nginx().port()));
        tavo.setValue(QStringLiteral("UPDATE/SilentUpdate"), QStringLiteral("true"));
        tavo.remove(QStringLiteral("UPDATE/LastUpdateInstallation"));
        // A killed run's instance registration: another test's program may listen on that port by now.
        tavo.remove(QStringLiteral("INSTALLATIONSVERWALTUNG"));
        tavo.sync();
        Programmlauf::koraIni(benutzer(fall));

        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("FISCALON_WURZEL"), wurzel);
        env.insert(QStringLiteral("USER"), QStringLiteral("tester"));
        if (!halt.isEmpty())
            env.insert(QStringLiteral("FISCALON_TEST_HALT"), halt);
        p.setProcessEnvironment(env);
        // As the service starts the manager (a first process would hand over first).
        p.start(QStringLiteral(IV_PROGRAMM), schalter + QStringList{ QStringLiteral("--koraDir=") + koraDir,
                                                                      QStringLiteral("--dirUserKora=") + benutzer(fall),
                                                                      QStringLiteral("--esStart") });
        Lauf l;
        if (!p.waitForFinished(60000)) {
            p.kill();
            p.waitForFinished(5000);
        } else {
            l.getoetet = p.exitStatus() == QProcess::CrashExit && p.exitCode() == SIGKILL;
            l.code = p.exitStatus() == QProcess::CrashExit ? 128 + p.exitCode() : qint8(p.exitCode());
        }
        l.ausgabe = p.readAllStandardOutput();
        const QByteArray log = TestUmgebung::leseDatei(benutzer(fall) + QStringLiteral("/log/installationsverwaltung.log"));
        l.log = log.mid(log.lastIndexOf("PROGRAMMSTART"));
        return l;
    }
    QString installation(const QString& fall, const QString& vorlage)
    {
        const QString koraDir = m_umgebung->pfad() + QStringLiteral("/inst/") + fall + QStringLiteral("/Fiscalon");
        kopiereOrdner(vorlage, koraDir);
        return koraDir;
    }
    QString benutzer(const QString& fall) const { return m_umgebung->pfad() + QStringLiteral("/faelle/") + fall + QStringLiteral("/kora"); }
    QString journal(const QString& fall) const
    {
        return m_umgebung->pfad() + QStringLiteral("/faelle/") + fall + QStringLiteral("/pluginmanager/data/laufjournal");
    }
    // Every part verifies and nothing of a stopped run is left.
    void pruefeHeil(const QString& fall, const QString& koraDir)
    {
        const Lauf pruefung = starte(fall, koraDir, { QStringLiteral("--pruefen") });
        QVERIFY2(pruefung.code == 0, (pruefung.ausgabe + pruefung.log.right(800)).constData());
        QVERIFY(pruefung.ausgabe.contains("Ergebnis: alle "));
        QVERIFY(!QFileInfo::exists(journal(fall)));
        QDirIterator reste(koraDir, QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
        while (reste.hasNext())
            QVERIFY2(!reste.next().contains(QLatin1String(".iv-entpacken-")), qPrintable(reste.filePath()));
        const QString tmp = m_umgebung->pfad() + QStringLiteral("/faelle/") + fall + QStringLiteral("/pluginmanager/tmp");
        QVERIFY2(QDir(tmp).entryList({ QStringLiteral("*.iv-teil*") }, QDir::Files | QDir::Hidden).isEmpty(),
                 qPrintable(QDir(tmp).entryList().join(' ')));
    }

    std::unique_ptr<TestUmgebung> m_umgebung;
    std::unique_ptr<BeispielServer> m_server;
    QString m_beispiel;
    QString m_alt;     // 27000 plus a module the new main application drops
    QString m_aktuell; // everything the server offers
};

QTEST_GUILESS_MAIN(TstAbsturz)
#include "tst_absturz.moc"
