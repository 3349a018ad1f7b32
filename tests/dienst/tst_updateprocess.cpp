// The process runner with real programs: exit codes, start failures with
// their texts, declined elevation, the time-out that leaves the program
// running, and parameters that reach the program word for word.

#include "global/varnelApplication/logbase.h"
#include "pluginManager/updateprocess.h"
#include "tests/testhilfe/testumgebung.h"

#include <QtTest>
#include <csignal>

class TstUpdateProcess : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        m_umgebung = std::make_unique<TestUmgebung>();
        initLogBase(QStringLiteral("tst_updateprocess"), 10 * 1024 * 1024, m_umgebung->pfad() + QStringLiteral("/log"));
        m_ausgabe = m_umgebung->pfad() + QStringLiteral("/argumente");
        TestUmgebung::schreibeDatei(m_umgebung->pfad() + QStringLiteral("/nur-lesbar"), "#!/bin/sh\n");
    }
    void cleanupTestCase()
    {
        beendeLogBase();
        m_umgebung.reset();
    }
    void cleanup() { UpdateProcess::setzeErhebungsbefehl(QString()); }
    void zerlegeParameter_data();
    void zerlegeParameter()
    {
        QFETCH(QString, text);
        QFETCH(QStringList, teile);
        QFETCH(bool, ok);
        QStringList ergebnis;
        QCOMPARE(UpdateProcess::zerlegeParameter(text, ergebnis), ok);
        if (ok)
            QCOMPARE(ergebnis, teile);
    }
    void starte_data()
    {
        QTest::addColumn<QString>("programm"); // script body, or a path after "pfad:"
        QTest::addColumn<QString>("erhebung"); // script body of the elevation stand-in
        QTest::addColumn<bool>("warten");
        QTest::addColumn<int>("rc");
        QTest::addColumn<QString>("logzeile");
        QTest::addColumn<QString>("fehlertext");
        const QString schreibt = QStringLiteral("printf '%s\\n' \"$@\" > '%1'; exit 7");
        QTest::newRow("ohne Warten 0") << schreibt << "" << false << 0 << "" << "unbekannter Fehler";
        QTest::newRow("mit Warten Exit-Code") << schreibt << "" << true << 7 << "" << "unbekannter Fehler";
        QTest::newRow("Erhebung gewaehrt") << schreibt << "exec \"$@\"" << true << 7 << "" << "";
        QTest::newRow("Erhebung abgelehnt") << schreibt << "exit 126" << true << 500
            << "The function prompted the user for additional information, but the user canceled the request."
            << "Setup/Update konnte nicht gestartet werden";
        QTest::newRow("Erhebung verweigert") << schreibt << "exit 127" << false << 500
            << "Access to the specified file is denied." << "";
        QTest::newRow("Datei fehlt") << "pfad:bin/fehlt" << "" << true << 500 << "The specified file was not found."
                                     << "Setup/Update konnte nicht gestartet werden";
        QTest::newRow("Pfad fehlt") << "pfad:nirgends/fehlt" << "" << true << 500 << "The specified path was not found." << "";
        QTest::newRow("nicht ausfuehrbar") << "pfad:nur-lesbar" << "" << true << 500
                                           << "Access to the specified file is denied." << "";
    }
    void starte();
    void zeitueberschreitungLaesstProgrammLaufen()
    {
        const QString datei = skript(QStringLiteral("schlaeft"), "exec sleep 30");
        UpdateProcess p(datei, QString(), QString(), false, true, 0);
        p.setzeTimeout(300);
        QElapsedTimer uhr;
        uhr.start();
        p.run();
        QCOMPARE(p.gibRc(), UpdateProcess::STILL_ACTIVE);
        QVERIFY(uhr.elapsed() < 5000);
        QVERIFY(TestUmgebung::leseDatei(gp_Log->gibDateiname())
                    .contains(QStringLiteral("Abbruch wegen Timeout. Programm: \"%1\"").arg(datei).toUtf8()));
        const pid_t pid = pid_t(p.gibProzessId());
        QVERIFY(pid > 0);
        QCOMPARE(::kill(pid, 0), 0);
        QCOMPARE(::kill(pid, SIGKILL), 0);
    }

private:
    QString skript(const QString& name, const QByteArray& rumpf)
    {
        const QString pfad = m_umgebung->pfad() + QStringLiteral("/bin/") + name;
        TestUmgebung::schreibeDatei(pfad, "#!/bin/sh\n" + rumpf + "\n");
        QFile::setPermissions(pfad, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        return pfad;
    }
    QString m_ausgabe;
    std::unique_ptr<TestUmgebung> m_umgebung;
};

void TstUpdateProcess::zerlegeParameter_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QStringList>("teile");
    QTest::addColumn<bool>("ok");
    QTest::newRow("Schalter mit Anfuehrung")
        << R"(--koraDir="/opt/mit Leer" --i2  --esStart)" << QStringList { "--koraDir=/opt/mit Leer", "--i2", "--esStart" } << true;
    QTest::newRow("maskierte Anfuehrung")
        << R"("a \"b\" c" x\"y "" "c:\\d\e")" << QStringList { "a \"b\" c", "x\"y", "", "c:\\d\\e" } << true;
    QTest::newRow("nichts wird ausgewertet")
        << R"(; rm -rf $HOME `id` | x)" << QStringList { ";", "rm", "-rf", "$HOME", "`id`", "|", "x" } << true;
    QTest::newRow("offene Anfuehrung") << R"(--koraDir="/opt)" << QStringList { "--koraDir=/opt" } << false;
}

void TstUpdateProcess::starte()
{
    QFETCH(QString, programm);
    QFETCH(QString, erhebung);
    QFETCH(bool, warten);
    QFETCH(int, rc);
    QFETCH(QString, logzeile);
    QFETCH(QString, fehlertext);
    const QString datei = programm.startsWith(QLatin1String("pfad:"))
        ? m_umgebung->pfad() + QLatin1Char('/') + programm.mid(5)
        : skript(QStringLiteral("programm"), programm.arg(m_ausgabe).toUtf8());
    if (!erhebung.isEmpty())
        UpdateProcess::setzeErhebungsbefehl(skript(QStringLiteral("erhebung"), erhebung.toUtf8()));
    QFile::remove(m_ausgabe);
    const qint64 logAnfang = QFileInfo(gp_Log->gibDateiname()).size();

    // Called as its users do: run() on this thread, the parameter as one text.
    UpdateProcess p(datei, m_umgebung->pfad(), QStringLiteral(R"(--koraDir="/opt/mit Leer" "a \"b\" c" ;$HOME)"),
                    !erhebung.isEmpty(), warten, 5);
    QSignalSpy fertig(&p, &UpdateProcess::sgnFinished);
    p.run();
    QCOMPARE(p.gibRc(), rc);
    QCOMPARE(fertig.count(), 1);
    QCOMPARE(fertig.first().at(0).toInt(), rc);
    const QByteArray log = TestUmgebung::leseDatei(gp_Log->gibDateiname()).mid(logAnfang);
    if (!logzeile.isEmpty())
        QVERIFY2(log.contains(logzeile.toUtf8()), log.constData());
    if (!fehlertext.isEmpty()) {
        QString text;
        p.gibFehlertext(text);
        QCOMPARE(text, fehlertext);
    }
    if (rc == 500)
        return;
    // Not waited for: the program still writes its arguments a moment later.
    QTRY_COMPARE(TestUmgebung::leseDatei(m_ausgabe), QByteArray("--koraDir=/opt/mit Leer\na \"b\" c\n;$HOME\n"));
}

QTEST_GUILESS_MAIN(TstUpdateProcess)
#include "tst_updateprocess.moc"
