// The update check and the automatic start as the main application runs
// them: real processes of the program against a real nginx serving a release
// made by the publishing tool.

#include "testhilfe/testserver.h"
#include "testhilfe/testumgebung.h"

#include <QDirIterator>
#include <QProcess>
#include <QSettings>
#include <QtTest>

#include <csignal>
#include <memory>

namespace {

void kopiereOrdner(const QString& quelle, const QString& ziel)
{
    QDirIterator it(quelle, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString datei = it.next();
        const QString nach = ziel + datei.mid(quelle.size());
        QDir().mkpath(QFileInfo(nach).absolutePath());
        QFile::remove(nach);
        QFile::copy(datei, nach);
    }
}

} // namespace

class TstAblauf : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void updatePruefung_data();
    void updatePruefung();
    void automatischerStart();
    void entfernenPerKommandozeile();

private:
    struct Lauf {
        int code = -999;
        QByteArray log;
    };
    // `beendeBei`: a log line after which the run waits for the user; the
    // test then ends it as the session would (SIGTERM).
    Lauf starte(const QString& fall, const QString& koraDir, const QStringList& schalter, bool serverTot = false,
                const QByteArray& beendeBei = QByteArray());

    std::unique_ptr<TestUmgebung> m_umgebung;
    std::unique_ptr<TestZertifikate> m_zert;
    std::unique_ptr<NginxServer> m_nginx;
    QString m_beispiel;
    QString m_gleicherStand;
};

void TstAblauf::initTestCase()
{
    m_umgebung = std::make_unique<TestUmgebung>();
    m_beispiel = m_umgebung->pfad() + QStringLiteral("/beispiel");
    QProcess skript;
    skript.setProcessChannelMode(QProcess::MergedChannels);
    skript.start(QStringLiteral("bash"), { QStringLiteral(IV_QUELLEN "/scripts/beispielserver"), QStringLiteral(IV_BAU), m_beispiel,
                                           QStringLiteral("--qs") });
    QVERIFY(skript.waitForFinished(120000));
    QVERIFY2(skript.exitCode() == 0, skript.readAll().constData());

    // An installation that already has everything the server offers.
    m_gleicherStand = m_umgebung->pfad() + QStringLiteral("/gleich/Fiscalon");
    for (const char* teil : { "kora_27289", "est_20", "est_21_neu", "est_22", "gew_20", "ust_21" })
        kopiereOrdner(m_beispiel + QStringLiteral("/release/") + QLatin1String(teil), m_gleicherStand);

    // A validly signed older release, signed with the build's key as the sample is, (27000: main application, est 2021 with
    // a lower NrPlugin) for the rollback cases.
    const QString teile = m_beispiel + QStringLiteral("/teile/");
    QProcess alt;
    alt.setProcessChannelMode(QProcess::MergedChannels);
    alt.start(QStringLiteral(IV_BAU "/werkzeuge/veroeffentlichen/fiscalon-veroeffentlichen"),
              { QStringLiteral("server"), QStringLiteral("--ziel"), m_beispiel + QStringLiteral("/server-alt"),
                QStringLiteral("--release"), QStringLiteral("r27000"), QStringLiteral("--schluessel"),
                QStringLiteral(IV_BAU "/entwicklungsschluessel/keyprivate.pem"), teile + QStringLiteral("kora_27000"),
                teile + QStringLiteral("est_20"), teile + QStringLiteral("est_21"), teile + QStringLiteral("gew_20"),
                teile + QStringLiteral("ust_21"), teile + QStringLiteral("instv"), teile + QStringLiteral("service") });
    QVERIFY(alt.waitForFinished(60000));
    QVERIFY2(alt.exitCode() == 0, alt.readAll().constData());

    m_zert = std::make_unique<TestZertifikate>(m_umgebung->pfad() + QStringLiteral("/zert"));
    QVERIFY2(m_zert->istGueltig(), qPrintable(m_zert->fehler()));
    NginxOptionen o;
    o.dokumente = m_beispiel + QStringLiteral("/server");
    o.zertifikat = m_zert->zertifikat(QStringLiteral("selbst"));
    o.schluessel = m_zert->schluessel(QStringLiteral("selbst"));
    m_nginx = std::make_unique<NginxServer>(m_umgebung->pfad() + QStringLiteral("/nginx"), o);
    QVERIFY2(m_nginx->laeuft(), qPrintable(m_nginx->fehler()));
}

void TstAblauf::cleanupTestCase()
{
    m_nginx.reset();
}

TstAblauf::Lauf TstAblauf::starte(const QString& fall, const QString& koraDir, const QStringList& schalter, bool serverTot,
                                  const QByteArray& beendeBei)
{
    const QString wurzel = m_beispiel + QStringLiteral("/wurzel");
    const QString benutzer = m_umgebung->pfad() + QStringLiteral("/faelle/") + fall + QStringLiteral("/kora");
    // The test server's address; its certificate is self-signed as in the QS test mode.
    QSettings tavo(wurzel + QStringLiteral("/etc/xdg/fiscalon/kora/tavo.ini"), QSettings::IniFormat);
    tavo.setValue(QStringLiteral("UPDATE/QSTestServerUrl"),
                  QStringLiteral("127.0.0.1:%1").arg(serverTot ? 1 : m_nginx->port()));
    tavo.sync();
    QSettings kora(benutzer + QStringLiteral("/ini/kora.ini"), QSettings::IniFormat);
    kora.setValue(QStringLiteral("UPDATE/InternetAccessDialog"), false);
    kora.setValue(QStringLiteral("UPDATE/SilentDownload"), QStringLiteral("false"));
    kora.sync();

    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("FISCALON_WURZEL"), wurzel);
    env.insert(QStringLiteral("USER"), QStringLiteral("tester"));
    p.setProcessEnvironment(env);
    p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    p.start(QStringLiteral(IV_PROGRAMM), schalter + QStringList{ QStringLiteral("--koraDir=") + koraDir,
                                                                QStringLiteral("--dirUserKora=") + benutzer });
    Lauf l;
    const QString logDatei = benutzer + QStringLiteral("/log/installationsverwaltung.log");
    p.waitForStarted(10000);
    if (!beendeBei.isEmpty()) {
        QElapsedTimer uhr;
        uhr.start();
        while (uhr.elapsed() < 60000 && p.state() == QProcess::Running) {
            const QByteArray log = TestUmgebung::leseDatei(logDatei);
            if (log.mid(log.lastIndexOf("PROGRAMMSTART")).contains(beendeBei)) {
                ::kill(pid_t(p.processId()), SIGTERM);
                break;
            }
            QTest::qWait(50);
        }
    }
    if (!p.waitForFinished(60000)) {
        p.kill();
        p.waitForFinished(5000);
        l.log = TestUmgebung::leseDatei(logDatei);
        return l;
    }
    l.code = p.exitCode() > 127 && p.exitCode() < 128 + 32 ? p.exitCode() : qint8(p.exitCode());
    l.log = TestUmgebung::leseDatei(logDatei);
    return l;
}

void TstAblauf::updatePruefung_data()
{
    QTest::addColumn<QString>("installation");
    QTest::addColumn<QString>("server");
    QTest::addColumn<int>("code");
    QTest::newRow("Server hat Neueres") << "beispiel" << "" << 1;
    QTest::newRow("alles aktuell") << "gleich" << "" << 0;
    QTest::newRow("Server bietet eine ältere Version an") << "gleich" << "älter" << 0;
    QTest::newRow("keine Installation") << "leer" << "" << -1;
    QTest::newRow("Index fehlt") << "beispiel" << "ohne Index" << -1;
    QTest::newRow("Server nicht erreichbar") << "beispiel" << "tot" << 2;
}

void TstAblauf::updatePruefung()
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
    // The older release takes the newer one's place on the server for this run.
    const QString neu = m_beispiel + QStringLiteral("/server/download/pm/win_18_0");
    const QString alt = m_beispiel + QStringLiteral("/server-alt/download/pm/win_18_0");
    if (server == QLatin1String("älter"))
        QVERIFY(QDir().rename(neu, neu + QStringLiteral(".neu")) && QDir().rename(alt, neu));
    const Lauf l = starte(QString::fromLatin1(QTest::currentDataTag()).replace(QLatin1Char(' '), QLatin1Char('_')), koraDir,
                          { QStringLiteral("--updatepruefung") }, server == QLatin1String("tot"));
    if (server == QLatin1String("ohne Index"))
        QVERIFY(QFile::rename(index + QStringLiteral(".weg"), index));
    if (server == QLatin1String("älter"))
        QVERIFY(QDir().rename(neu, alt) && QDir().rename(neu + QStringLiteral(".neu"), neu));
    QVERIFY2(l.code == code, l.log.right(700).constData());
    QVERIFY(l.log.contains("I:1; ExitCode: " + QByteArray::number(code) + "\n"));
}

void TstAblauf::automatischerStart()
{
    const QString koraDir = m_beispiel + QStringLiteral("/wurzel/opt/Fiscalon");
    // First start: the server's index is new and an update is there, so the
    // wizard opens and waits for the user, until the session ends it.
    const Lauf erster = starte(QStringLiteral("automatisch"), koraDir, {}, false, "Der Assistent wird angezeigt (Seite 1).");
    QVERIFY2(erster.code == 128 + SIGTERM, erster.log.right(700).constData());
    // Second start: nothing changed on the server since the first.
    const Lauf zweiter = starte(QStringLiteral("automatisch"), koraDir, {});
    QVERIFY2(zweiter.code == 0, zweiter.log.right(700).constData());
    const QByteArray letzter = zweiter.log.mid(zweiter.log.lastIndexOf("PROGRAMMSTART"));
    QVERIFY(letzter.contains("Auf dem Update-Server wurden, seit dem letzten Start des Installationsverwalter, keine "
                             "\xc3\x84nderungen vorgenommen."));
}

void TstAblauf::entfernenPerKommandozeile()
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

QTEST_GUILESS_MAIN(TstAblauf)
#include "tst_ablauf.moc"
