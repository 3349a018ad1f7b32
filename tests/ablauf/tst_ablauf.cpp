// The program's unattended runs as real processes against a real nginx
// serving a release made by the publishing tool.

#include "testhilfe/programmlauf.h"
#include "testhilfe/testserver.h"

#include <QProcess>
#include <QSettings>
#include <QtTest>

#include <csignal>
#include <memory>

class TstAblauf : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        m_umgebung = std::make_unique<TestUmgebung>();
        m_server = std::make_unique<BeispielServer>(m_umgebung->pfad(), QStringLiteral(IV_QUELLEN), QStringLiteral(IV_BAU));
        QVERIFY2(m_server->laeuft(), qPrintable(m_server->fehler()));
        m_beispiel = m_server->beispiel();
        // Without an intact manager copy in the service folder the first process does the work itself.
        QVERIFY(QFile::remove(m_beispiel + QStringLiteral("/wurzel/opt/Fiscalon Update Service/dict/instv_0.vdict")));
        m_nginx = &m_server->nginx();

        // An installation that already has everything the server offers.
        m_gleicherStand = m_umgebung->pfad() + QStringLiteral("/gleich/Fiscalon");
        for (const char* teil : { "kora_27289", "est_20", "est_21_neu", "est_22", "gew_20", "ust_21" })
            kopiereOrdner(m_beispiel + QStringLiteral("/release/") + QLatin1String(teil), m_gleicherStand);

        // A validly signed older release (27000; est 2021 with a lower NrPlugin): rollbacks.
        const QString teile = m_beispiel + QStringLiteral("/teile/");
        QProcess alt;
        alt.setProcessChannelMode(QProcess::MergedChannels);
        alt.start(QStringLiteral(IV_BAU "/werkzeuge/veroeffentlichen/fiscalon-veroeffentlichen"),
                  { QStringLiteral("server"), QStringLiteral("--ziel"), m_beispiel + QStringLiteral("/server-alt"),
                    QStringLiteral("--release"), QStringLiteral("r27000"), QStringLiteral("--qs"), QStringLiteral("--schluessel"),
                    QStringLiteral(IV_BAU "/entwicklungsschluessel/keyprivate.pem"), teile + QStringLiteral("kora_27000"),
                    teile + QStringLiteral("est_20"), teile + QStringLiteral("est_21"), teile + QStringLiteral("gew_20"),
                    teile + QStringLiteral("ust_21"), teile + QStringLiteral("instv"), teile + QStringLiteral("service") });
        QVERIFY(alt.waitForFinished(300000));
        QVERIFY2(alt.exitCode() == 0, alt.readAll().constData());
    }
    void cleanupTestCase()
    {
        m_nginx = nullptr;
        m_server.reset();
    }
    void updatePruefung_data()
    {
        QTest::addColumn<QString>("installation");
        QTest::addColumn<QString>("server");
        QTest::addColumn<int>("code");
        // An update found and a server out of reach: see tests/benutzer.
        QTest::newRow("alles aktuell") << "gleich" << "" << 0;
        QTest::newRow("Server bietet eine ältere Version an") << "gleich" << "älter" << 0;
        QTest::newRow("keine Installation") << "leer" << "" << -1;
        QTest::newRow("Index fehlt") << "beispiel" << "ohne Index" << -1;
    }
    void updatePruefung()
    {
        QFETCH(QString, installation);
        QFETCH(QString, server);
        QFETCH(int, code);
        QString koraDir = m_beispiel + QStringLiteral("/wurzel/opt/Fiscalon");
        if (installation == QLatin1String("gleich"))
            koraDir = m_gleicherStand;
        else if (installation == QLatin1String("leer"))
            koraDir = m_umgebung->pfad() + QStringLiteral("/leer");
        QDir().mkpath(koraDir);
        const QString index = m_beispiel + QStringLiteral("/server/download/pm/win_18_0/r27289/inhalt_downloadverzeichnis.zip");
        if (server == QLatin1String("ohne Index"))
            QVERIFY(QFile::rename(index, index + QStringLiteral(".weg")));
        if (server == QStringLiteral("älter"))
            QVERIFY(tauscheServer());
        const Lauf l = starte(QString::fromLatin1(QTest::currentDataTag()).replace(QLatin1Char(' '), QLatin1Char('_')), koraDir,
                              { QStringLiteral("--updatepruefung") });
        if (server == QLatin1String("ohne Index"))
            QVERIFY(QFile::rename(index + QStringLiteral(".weg"), index));
        if (server == QStringLiteral("älter"))
            QVERIFY(tauscheServer());
        QVERIFY2(l.code == code, l.log.right(700).constData());
        QVERIFY(l.log.contains("I:1; ExitCode: " + QByteArray::number(code) + "\n"));
    }
    void automatischerStart()
    {
        const QString koraDir = m_beispiel + QStringLiteral("/wurzel/opt/Fiscalon");
        // First start: the index is new and an update is there, so the wizard waits for the user.
        const Lauf erster = starte(QStringLiteral("automatisch"), koraDir, {}, true);
        QVERIFY2(erster.code == 128 + SIGTERM, erster.log.right(700).constData());
        QVERIFY(erster.log.contains("Der Assistent wird angezeigt (Seite 1)."));
        // Second start: nothing changed on the server since the first.
        const Lauf zweiter = starte(QStringLiteral("automatisch"), koraDir, {});
        QVERIFY2(zweiter.code == 0, zweiter.log.right(700).constData());
        const QByteArray letzter = zweiter.log.mid(zweiter.log.lastIndexOf("PROGRAMMSTART"));
        QVERIFY(letzter.contains("Auf dem Update-Server wurden, seit dem letzten Start des Installationsverwalter, keine "
                                 "\xc3\x84nderungen vorgenommen."));
    }
    void entfernenPerKommandozeile()
    {
        // The main application removes a module without any wizard.
        const QString koraDir = m_umgebung->pfad() + QStringLiteral("/entfernen/Fiscalon");
        kopiereOrdner(m_gleicherStand, koraDir);
        QVERIFY(QFile::exists(koraDir + QStringLiteral("/dict/est_22.dict")));
        const Lauf weg = starte(QStringLiteral("entfernen"), koraDir, { QStringLiteral("--delPlugin=est22") });
        QVERIFY2(weg.code == 0, weg.log.right(700).constData());
        QVERIFY(!QFile::exists(koraDir + QStringLiteral("/dict/est_22.dict")));
        QVERIFY(QFile::exists(koraDir + QStringLiteral("/dict/est_21.dict")));
        // Not installed (any more): -1, and the log names what was asked for and what there is.
        const Lauf nochmal = starte(QStringLiteral("entfernen"), koraDir, { QStringLiteral("--delPlugin=est22") });
        QCOMPARE(nochmal.code, -1);
        QVERIFY2(nochmal.log.contains("Gesucht wurde \"est22\"") && nochmal.log.contains("est21"),
                 nochmal.log.right(700).constData());
    }
    void stillesUpdate_data()
    {
        // fall: what differs from the plain unattended update of the sample.
        QTest::addColumn<QString>("fall");
        QTest::addColumn<int>("code");
        QTest::newRow("Update") << "" << 90;
        QTest::newRow("nichts zu tun") << "gleich" << 91;
        QTest::newRow("Server bietet eine ältere Version an") << "älter" << 91;
        // Damage noted by a verification is not repaired from an older release.
        QTest::newRow("älter, beschädigt") << "älter beschädigt" << 91;
        QTest::newRow("falsche MD5") << "md5" << -90;
        QTest::newRow("Platte voll") << "voll" << -90;
        QTest::newRow("Fiscalon laeuft") << "kora" << -91;
    }
    void stillesUpdate()
    {
        QFETCH(QString, fall);
        QFETCH(int, code);
        const QString tag = QString::fromLatin1(QTest::currentDataTag()).replace(QLatin1Char(' '), QLatin1Char('_'));
        const QString koraDir = m_umgebung->pfad() + QStringLiteral("/still_") + tag + QStringLiteral("/Fiscalon");
        const bool aelter = fall.startsWith(QStringLiteral("älter"));
        const bool beschaedigt = fall.endsWith(QStringLiteral("beschädigt"));
        kopiereOrdner(fall == QLatin1String("gleich") || aelter ? m_gleicherStand : m_beispiel + QStringLiteral("/wurzel/opt/Fiscalon"),
                      koraDir);
        const QByteArray koraDict = TestUmgebung::leseDatei(koraDir + QStringLiteral("/dict/kora_0.dict"));
        if (beschaedigt) {
            for (const char* datei : { "/plugins/est2021.so", "/lib/libsteuer.so" })
                TestUmgebung::schreibeDatei(koraDir + QLatin1String(datei), "kaputt\n");
            QCOMPARE(starte(QStringLiteral("still_") + tag, koraDir, { QStringLiteral("--pruefen") }).code, 3);
        }
        if (aelter)
            QVERIFY(tauscheServer());
        // A file of an earlier version that goes with a main-application update.
        TestUmgebung::schreibeDatei(koraDir + QStringLiteral("/bin/lizenzvertrag_16.0.20150120.pdf"), "alt");

        // The server's archive of the new year, changed after the index was signed.
        const QString archiv = m_beispiel + QStringLiteral("/server/download/pm/win_18_0/r27289/est_2022_27289.zip");
        const QByteArray original = TestUmgebung::leseDatei(archiv);
        if (fall == QLatin1String("md5")) {
            QByteArray anders = original;
            anders[anders.size() / 2] = char(anders.at(anders.size() / 2) ^ 0x55);
            TestUmgebung::schreibeDatei(archiv, anders);
        } else if (fall == QLatin1String("voll")) {
            // A file-size limit stands in for the full disk: only the large archive cannot be written.
            TestUmgebung::schreibeDatei(archiv, QByteArray(2 * 1024 * 1024, 'x'));
            m_vorsatz = QStringList{ QStringLiteral("trap '' XFSZ"), QStringLiteral("ulimit -f 512") };
        }
        QProcess kora;
        if (fall == QLatin1String("kora")) {
            QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
            env.insert(QStringLiteral("FISCALON_WURZEL"), m_beispiel + QStringLiteral("/wurzel"));
            env.insert(QStringLiteral("USER"), QStringLiteral("tester"));
            kora.setProcessEnvironment(env);
            kora.start(QStringLiteral(IV_KORA_ERSATZ), { QStringLiteral("--dauer=120") });
            QVERIFY(kora.waitForReadyRead(20000));
        }
        m_silentUpdate = QStringLiteral("true");
        const Lauf l = starte(QStringLiteral("still_") + tag, koraDir, {});
        TestUmgebung::schreibeDatei(archiv, original);
        if (aelter) {
            QVERIFY(tauscheServer());
            // Neither the main application nor est 2021 went back to 27000.
            QCOMPARE(TestUmgebung::leseDatei(koraDir + QStringLiteral("/dict/kora_0.dict")), koraDict);
            QCOMPARE(TestUmgebung::leseDatei(koraDir + QStringLiteral("/plugins/est2021.so")).trimmed(),
                     beschaedigt ? QByteArray("kaputt") : QByteArray("Modul est 2021 Stand 2"));
            if (beschaedigt)
                QCOMPARE(TestUmgebung::leseDatei(koraDir + QStringLiteral("/lib/libsteuer.so")), QByteArray("kaputt\n"));
        }
        if (kora.state() == QProcess::Running) {
            kora.terminate();
            kora.waitForFinished(10000);
        }
        QVERIFY2(l.code == code, (QByteArray::number(l.code) + l.log.right(600)).constData());
        QVERIFY(l.log.contains("I:1; ExitCode: " + QByteArray::number(code) + "\n"));

        const bool geaendert = (code == 90);
        if (fall != QLatin1String("gleich") && !aelter) {
            // The new year, and the renewal that no longer lists one file: all or nothing.
            QCOMPARE(QFile::exists(koraDir + QStringLiteral("/dict/est_22.dict")), geaendert);
            QCOMPARE(QFile::exists(koraDir + QStringLiteral("/plugins/est2022.so")), geaendert);
            QCOMPARE(QFile::exists(koraDir + QStringLiteral("/plugins/est2021_alt.dat")), !geaendert);
            QCOMPARE(TestUmgebung::leseDatei(koraDir + QStringLiteral("/plugins/est2021.so")).trimmed(),
                     geaendert ? QByteArray("Modul est 2021 Stand 2") : QByteArray("Modul est 2021 Stand 1"));
        }
        if (fall == QLatin1String("md5"))
            QCOMPARE(l.log.count("Die Pr\xc3\xbc" "fsumme der vom Server geladenen Datei \"est_2022_27289.zip\" stimmt nicht."), 3);
        if (geaendert) {
            // The main application took the server's package for 27000; old files went.
            QVERIFY(l.log.contains("Das Hauptprogramm und die Steuerberechnung wurden aktualisiert."));
            QCOMPARE(TestUmgebung::leseDatei(koraDir + QStringLiteral("/bin/kora")).trimmed(), QByteArray("Fiscalon Hauptprogramm 27289"));
            QVERIFY(QFile::exists(koraDir + QStringLiteral("/lib/neu.so")));
            QVERIFY(!QFile::exists(koraDir + QStringLiteral("/bin/alt.dat")));
            QVERIFY(!QFile::exists(koraDir + QStringLiteral("/bin/lizenzvertrag_16.0.20150120.pdf")));
            // The housekeeping ran (its details are tests/hauptanwendung's): menu entries and uninstall entry.
            const QString wurzel = m_beispiel + QStringLiteral("/wurzel");
            const QString menue = wurzel + QStringLiteral("/usr/share/applications/Fiscalon/");
            QCOMPARE(QDir(menue).entryList(QDir::Files, QDir::Name), (QStringList{ "Hilfe.desktop", "Lizenzvertrag.desktop" }));
            const QSettings eintrag(wurzel + QStringLiteral("/var/lib/fiscalon/registry/HKEY_LOCAL_MACHINE/SOFTWARE/Microsoft/"
                                                             "Windows/CurrentVersion/Uninstall/Fiscalon.ini"),
                                    QSettings::IniFormat);
            QCOMPARE(eintrag.value(QStringLiteral("InstallLocation")).toString(), koraDir);
            // The newer update service replaced the old one, registered with access for group "users".
            QVERIFY(l.log.contains("\"Fiscalon Update Service\" wurde installiert."));
            QVERIFY(l.log.contains("\"Fiscalon Update Service\" wurde registriert."));
            const int sicherheit = l.log.indexOf("Security-Einstellungen");
            QVERIFY2(!l.log.contains("Fehler beim setzen der Security-Einstellungen"), l.log.mid(sicherheit, 1500).constData());
            const QSettings dienst(wurzel + QStringLiteral("/var/lib/fiscalon/dienste/TavoService.ini"), QSettings::IniFormat);
            QCOMPARE(dienst.value(QStringLiteral("Programm")).toString(),
                     wurzel + QStringLiteral("/opt/Fiscalon Update Service/bin/tavoService"));
            QCOMPARE(dienst.value(QStringLiteral("Zugriff")).toString(), QStringLiteral("users"));
            QVERIFY(TestUmgebung::leseDatei(wurzel + QStringLiteral("/opt/Fiscalon Update Service/dict/service_0.vdict")) !=
                    TestUmgebung::leseDatei(m_beispiel + QStringLiteral("/teile/service/dict/service_0.vdict")));
            QVERIFY(l.log.contains(" 2022\" wurde installiert."));
            QVERIFY(l.log.contains(" 2021\" wurde aktualisiert."));
            const QSettings tavo(m_beispiel + QStringLiteral("/wurzel/etc/xdg/fiscalon/kora/tavo.ini"), QSettings::IniFormat);
            QVERIFY(!tavo.value(QStringLiteral("UPDATE/LastUpdateInstallation")).toString().isEmpty());
        }
    }
    void herunterladenDannZusammenfassung()
    {
        const QString koraDir = m_umgebung->pfad() + QStringLiteral("/herunterladen/Fiscalon");
        kopiereOrdner(m_beispiel + QStringLiteral("/wurzel/opt/Fiscalon"), koraDir);
        m_silentDownload = QStringLiteral("true");
        const Lauf l = starte(QStringLiteral("herunterladen"), koraDir, {}, true);
        QVERIFY2(l.code == 128 + SIGTERM, (QByteArray::number(l.code) + l.log.right(600)).constData());
        QVERIFY(l.log.contains("Der Assistent wird angezeigt (Seite 2)."));
        // Fetched, not installed: the user decides on the summary page.
        const QString tmp = m_umgebung->pfad() + QStringLiteral("/faelle/herunterladen/pluginmanager/tmp/");
        QVERIFY2(QFile::exists(tmp + QStringLiteral("est_2022_27289.zip")), qPrintable(QDir(tmp).entryList().join(' ')));
        QVERIFY(QFile::exists(tmp + QStringLiteral("kora_27000_27289.zip")));
        QVERIFY(!QFile::exists(koraDir + QStringLiteral("/dict/est_22.dict")));
    }

private:
    struct Lauf {
        int code = -999;
        QByteArray log;
    };
    // `bisAssistent`: the run waits in the wizard and is ended as the session would (SIGTERM).
    Lauf starte(const QString& fall, const QString& koraDir, const QStringList& schalter, bool bisAssistent = false)
    {
        const QString wurzel = m_beispiel + QStringLiteral("/wurzel");
        const QString benutzer = m_umgebung->pfad() + QStringLiteral("/faelle/") + fall + QStringLiteral("/kora");
        QSettings tavo(wurzel + QStringLiteral("/etc/xdg/fiscalon/kora/tavo.ini"), QSettings::IniFormat);
        tavo.setValue(QStringLiteral("UPDATE/QSTestServerUrl"), QStringLiteral("127.0.0.1:%1").arg(m_nginx->port()));
        tavo.setValue(QStringLiteral("UPDATE/SilentUpdate"), m_silentUpdate);
        // An installation of one case must not put off the automatic search of the next.
        tavo.remove(QStringLiteral("UPDATE/LastUpdateInstallation"));
        tavo.sync();
        Programmlauf::koraIni(benutzer, m_silentDownload);

        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("FISCALON_WURZEL"), wurzel);
        env.insert(QStringLiteral("USER"), QStringLiteral("tester"));
        p.setProcessEnvironment(env);
        p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        const QStringList argumente = schalter + QStringList{ QStringLiteral("--koraDir=") + koraDir,
                                                              QStringLiteral("--dirUserKora=") + benutzer };
        if (m_vorsatz.isEmpty())
            p.start(QStringLiteral(IV_PROGRAMM), argumente);
        else
            p.start(QStringLiteral("bash"), QStringList{ QStringLiteral("-c"), m_vorsatz.join(QLatin1String("; ")) + QStringLiteral("; exec \"$0\" \"$@\""),
                                                          QStringLiteral(IV_PROGRAMM) } + argumente);
        m_silentUpdate = m_silentDownload = QStringLiteral("false");
        m_vorsatz.clear();
        // A run that hangs is ended by QProcess's destructor.
        const QString logDatei = benutzer + QStringLiteral("/log/installationsverwaltung.log");
        Lauf l;
        p.waitForStarted(10000);
        if (bisAssistent)
            l.code = Programmlauf::warteEnde(p, logDatei);
        else if (p.waitForFinished(120000))
            l.code = Programmlauf::code(p);
        l.log = TestUmgebung::leseDatei(logDatei);
        return l;
    }
    // The older release takes the newer one's place on the server, and back.
    bool tauscheServer()
    {
        const QString neu = m_beispiel + QStringLiteral("/server/download/pm/win_18_0");
        const QString alt = m_beispiel + QStringLiteral("/server-alt/download/pm/win_18_0");
        const QString beiseite = neu + QStringLiteral(".neu");
        if (QFileInfo::exists(beiseite))
            return QDir().rename(neu, alt) && QDir().rename(beiseite, neu);
        return QDir().rename(neu, beiseite) && QDir().rename(alt, neu);
    }

    // Settings and a wrapper of the next start (reset after it).
    QString m_silentUpdate = QStringLiteral("false");
    QString m_silentDownload = QStringLiteral("false");
    QStringList m_vorsatz;

    std::unique_ptr<TestUmgebung> m_umgebung;
    std::unique_ptr<BeispielServer> m_server;
    NginxServer* m_nginx = nullptr;
    QString m_beispiel;
    QString m_gleicherStand;
};

QTEST_GUILESS_MAIN(TstAblauf)
#include "tst_ablauf.moc"
