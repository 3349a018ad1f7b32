// Rotation, debug switch, line format and the guarded calls of the log.

#include "global/varnelApplication/einstellungen.h"
#include "global/varnelApplication/logbase.h"
#include "testhilfe/testumgebung.h"

#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QtTest>
#include <functional>

namespace {

// What a fresh log in the sandbox holds after `schreibe` ran and the log ended.
QByteArray logNach(const TestUmgebung& u, const std::function<void()>& schreibe, int grenze = 200000)
{
    initLogBase(QStringLiteral("t"), grenze, u.pfad());
    const QString datei = gp_Log->gibDateiname();
    schreibe();
    beendeLogBase();
    return TestUmgebung::leseDatei(datei);
}

} // namespace

class TstLogBase : public QObject
{
    Q_OBJECT
private slots:
    void cleanup() { beendeLogBase(); }

    // The debug switch (absent, "false", "true") decides both whether debug
    // lines are written and whether a full log is rotated at the start.
    void rotationUndDebug_data()
    {
        QTest::addColumn<int>("groesse");
        QTest::addColumn<QString>("debug");
        QTest::addColumn<bool>("rotiert");
        QTest::newRow("200000, Schalter fehlt") << 200000 << QString() << true;
        QTest::newRow("199999, false") << 199999 << "false" << false;
        QTest::newRow("200000, true") << 200000 << "true" << false;
    }
    void rotationUndDebug()
    {
        QFETCH(int, groesse);
        QFETCH(QString, debug);
        QFETCH(bool, rotiert);
        TestUmgebung umgebung;
        if (!debug.isNull())
            Einstellungen::setAdminWert(QStringLiteral("LOG/Debug"), debug);
        const QString datei = umgebung.pfad() + QStringLiteral("/t.log");
        const QByteArray alt(groesse, 'x');
        TestUmgebung::schreibeDatei(datei, alt);
        TestUmgebung::schreibeDatei(datei + QStringLiteral(".1"), "vorige Rotation");
        const QByteArray jetzt = logNach(umgebung, [] {
            IV_LOG_INFO(QStringLiteral("neu"));
            IV_LOG_DEBUG(QStringLiteral("Fehlersuche"));
            IV_LOG_EINTRITT();
            gp_Log->debug(QStringLiteral("direkt"), QStringLiteral("d"), QStringLiteral("f"), 1);
        });
        QCOMPARE(TestUmgebung::leseDatei(datei + QStringLiteral(".1")), rotiert ? alt : QByteArray("vorige Rotation"));
        QCOMPARE(jetzt.startsWith(alt), !rotiert);
        QVERIFY(jetzt.contains("] : neu\n"));
        const bool geschrieben = debug == QLatin1String("true");
        QCOMPARE(jetzt.contains("Fehlersuche"), geschrieben);
        QCOMPARE(jetzt.contains("direkt"), geschrieben);
        QCOMPARE(jetzt.contains("TstLogBase::rotationUndDebug; Zeile "), geschrieben);
    }
    void zeilenformat()
    {
        TestUmgebung umgebung;
        QTest::ignoreMessage(QtWarningMsg, "ERROR [quelle/datei.cpp:42->Klasse::methode]  : kaputt");
        const QStringList zeilen = QString::fromUtf8(logNach(umgebung, [] {
                                       gp_Log->error(QStringLiteral("kaputt"), QStringLiteral("quelle/datei.cpp"),
                                                     QStringLiteral("Klasse::methode"), 42);
                                       IV_LOG_INFO(QStringLiteral("Hallo"));
                                   })).split(QLatin1Char('\n'));
        // Start block: empty line, then six stamped lines in their order.
        QCOMPARE(zeilen.value(0), QString());
        const QStringList start = { "PROGRAMMSTART----------------------------",
                                    "Qt-Version (version number of Qt at run-time): ",
                                    "Qt-Version (version against which the application is compiled): ",
                                    "Programmpfad: ", "Betriebssystem: ", "Revisionsnummer: " };
        const QRegularExpression stempel(QStringLiteral("^\\S.* \\d\\d:\\d\\d:\\d\\d\\.\\d\\d\\d "));
        for (int i = 0; i < start.size(); ++i) {
            const QString z = zeilen.value(i + 1);
            QVERIFY2(stempel.match(z).hasMatch(), qPrintable(z));
            QVERIFY2(z.contains(start[i]), qPrintable(z));
        }
        QVERIFY(zeilen.value(5).contains(QStringLiteral("(operating system version ")));
        QVERIFY(zeilen.value(6).endsWith(QStringLiteral("Revisionsnummer: 27289")));
        QVERIFY(zeilen.value(7).endsWith(QStringLiteral(" ERROR [quelle/datei.cpp:42->Klasse::methode] : kaputt")));
        QVERIFY2(zeilen.value(8).contains(QRegularExpression(
                     QStringLiteral(" INFO \\[tests/log/tst_logbase\\.cpp:\\d+->TstLogBase::zeilenformat\\] : Hallo$"))),
                 qPrintable(zeilen.value(8)));
        QVERIFY(zeilen.value(9).endsWith(QStringLiteral("PROGRAMMENDE-----------------------------")));
    }
    void langeZeilen_data()
    {
        // Text, then how long the written line may be and whether it says it was cut.
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("gekuerzt");
        QTest::newRow("kurz") << QString(1000, QLatin1Char('a')) << false;
        QTest::newRow("4096 Zeichen") << QString(4096, QLatin1Char('a')) << true;
        QTest::newRow("60 MB Wert") << QString(60 * 1000 * 1000, QLatin1Char('a')) << true;
        QTest::newRow("Umlaute an der Grenze") << QString(3000, QChar(0x00fc)) << true;
    }
    void langeZeilen()
    {
        QFETCH(QString, text);
        QFETCH(bool, gekuerzt);
        TestUmgebung umgebung;
        const QList<QByteArray> zeilen = logNach(umgebung, [&] { IV_LOG_INFO(text); }).split('\n');
        const QByteArray zeile = zeilen.value(zeilen.size() - 3);
        QVERIFY(zeile.size() <= LogBase::maxZeilenBytes);
        const QRegularExpressionMatch marke = QRegularExpression(QStringLiteral(" \\[gek\u00fcrzt, (\\d+) Zeichen\\]$")).match(QString::fromUtf8(zeile));
        QCOMPARE(marke.hasMatch(), gekuerzt);
        QVERIFY(!gekuerzt || marke.captured(1).toInt() > text.size()); // the whole line's length
        // Cut at a character boundary: the line is still valid UTF-8.
        QVERIFY(QString::fromUtf8(zeile).toUtf8() == zeile);
    }
    // A run that writes far beyond the limit starts a new file; the log and its
    // ".1" stay bounded together.
    void rotationImLauf()
    {
        TestUmgebung umgebung;
        const QString datei = umgebung.pfad() + QStringLiteral("/t.log");
        QVERIFY(logNach(umgebung, [] { for (int i = 0; i < 2000; ++i) IV_LOG_INFO(QString(100, QLatin1Char('z'))); }, 10000)
                    .endsWith("PROGRAMMENDE-----------------------------\n"));
        const qint64 groesse = QFileInfo(datei).size(), eins = QFileInfo(datei + QStringLiteral(".1")).size();
        QVERIFY2(groesse <= 10000 * LogBase::laufFaktor + 5000 && eins > 10000 && eins <= 10000 * LogBase::laufFaktor + 5000,
                 qPrintable(QStringLiteral("%1 %2").arg(groesse).arg(eins)));
    }
    // Every call before the log exists, and into a log that cannot be opened,
    // writes nothing anywhere.
    void vorDemLog()
    {
        TestUmgebung umgebung;
        const auto dateien = [&] {
            QStringList l;
            QDirIterator it(umgebung.pfad(), QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
            while (it.hasNext())
                l << it.next();
            return l;
        };
        QVERIFY(!gp_Log);
        IV_LOG_ERROR(QStringLiteral("niemand liest das"));
        IV_LOG_INFO(QStringLiteral("niemand"));
        IV_LOG_DEBUG(QStringLiteral("niemand"));
        IV_LOG_AUSTRITT();
        beendeLogBase();
        QVERIFY(!gp_Log);
        QCOMPARE(dateien(), QStringList());

        const QString blockiert = umgebung.pfad() + QStringLiteral("/datei-statt-ordner");
        TestUmgebung::schreibeDatei(blockiert, "x");
        initLogBase(QStringLiteral("t"), 200000, blockiert);
        IV_LOG_INFO(QStringLiteral("ins Leere"));
        beendeLogBase();
        QCOMPARE(dateien(), QStringList { blockiert });
        QCOMPARE(TestUmgebung::leseDatei(blockiert), QByteArray("x"));
    }
    void standardVerzeichnis()
    {
        TestUmgebung umgebung;
        initLogBase(QStringLiteral("installationsverwaltung"), 200000);
        QCOMPARE(gp_Log->gibDateiname(),
                 umgebung.home() + QStringLiteral("/.config/fiscalon/kora/log/installationsverwaltung.log"));
        QVERIFY(QFile::exists(gp_Log->gibDateiname()));
        // A second initialisation keeps the first log.
        LogBase* erstes = gp_Log;
        initLogBase(QStringLiteral("anderes"), 1);
        QCOMPARE(gp_Log, erstes);
    }
    void funktionsname_data()
    {
        QTest::addColumn<QString>("pretty");
        QTest::addColumn<QString>("name");
        QTest::newRow("Methode") << "bool PluginManager::lese(const QString&)" << "PluginManager::lese";
        QTest::newRow("frei") << "int main(int, char**)" << "main";
        QTest::newRow("Vorlage im Rueckgabetyp") << "QMap<QString, int> A::b(int) const" << "A::b";
        QTest::newRow("Zeiger") << "const char* A::c()" << "A::c";
        QTest::newRow("Konstruktor") << "VarnelKern::VarnelKern(const QString&, QObject*)" << "VarnelKern::VarnelKern";
        QTest::newRow("Lambda") << "A::f()::<lambda(int)>" << "A::f";
        QTest::newRow("Operator") << "bool A::operator()(int)" << "A::operator()";
        QTest::newRow("anonymer Namensraum") << "int {anonymous}::ende()" << "ende";
    }
    void funktionsname()
    {
        QFETCH(QString, pretty);
        QFETCH(QString, name);
        QCOMPARE(ivFunktionsname(pretty.toLatin1().constData()), name);
    }
};

QTEST_GUILESS_MAIN(TstLogBase)
#include "tst_logbase.moc"
