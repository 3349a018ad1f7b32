// The publishing tool as its users run it: command line, key pair, signing,
// verification. What the engine makes of its output the end-to-end tests show.

#include <QtTest>
#include <memory>

#include "global/crypto/dictparser_csv.h"
#include "global/crypto/dictparser_json.h"
#include "tests/crypto/kryptotesthilfe.h"

using namespace KryptoTest;

class TstVeroeffentlichen : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();

    void aufruf_data();
    void aufruf();
    void schluesselpaar();
    void signiereUndPruefe();

private:
    QTemporaryDir m_dir;
    Schluesselpaar m_paar;
};

void TstVeroeffentlichen::initTestCase()
{
    QVERIFY(m_dir.isValid());
    initLogBase(QStringLiteral("tst_veroeffentlichen"), 1 << 30, m_dir.path() + QStringLiteral("/log"));
    QVERIFY(m_paar.erzeuge(m_dir.path() + QStringLiteral("/paar")));
    m_paar.aktiviere();
}

void TstVeroeffentlichen::cleanupTestCase()
{
    Crypto::setzeQuellen(QString(), QString());
    beendeLogBase();
}

void TstVeroeffentlichen::aufruf_data()
{
    QTest::addColumn<QStringList>("argumente"); // ORDNER: a folder with one file
    QTest::addColumn<int>("code");
    QTest::addColumn<QString>("fehler");

    QTest::newRow("ohne Befehl") << QStringList {} << 2 << "Aufruf: fiscalon-veroeffentlichen";
    QTest::newRow("unbekannter Befehl") << QStringList { "baum" } << 2 << "unbekannter Befehl";
    QTest::newRow("zu kurzer Schluessel")
        << QStringList { "schluesselpaar", "--privat", "a", "--oeffentlich", "b", "--bits", "1024" } << 2 << "--bits";
    QTest::newRow("Schluesseldatei fehlt") << QStringList { "signiere", "--schluessel", "/fehlt/k.pem", "x" } << 1
                                           << "kann nicht gelesen werden";
    // Later options win in QCommandLineParser::value(), so the extra ones
    // replace the defaults given first.
    const QStringList dict { "dict", "--ordner", "ORDNER", "--name", "x.dict" };
    QTest::newRow("Name mit Verzeichnis") << dict + QStringList { "--name", "../x.dict" } << 2 << "ohne Verzeichnis";
    QTest::newRow("Komma im Kopfwert") << dict + QStringList { "--form", "csv", "--langname", "a,b" } << 1
                                       << "kommagetrennten Form";
    QTest::newRow("Beschreibung ausserhalb Latin-1") << dict + QStringList { "--beschreibung", "\u20ac" } << 1
                                                     << "Latin-1";
}

void TstVeroeffentlichen::aufruf()
{
    QFETCH(QStringList, argumente);
    QFETCH(int, code);
    QFETCH(QString, fehler);
    QTemporaryDir dir;
    schreibe(dir.path() + QStringLiteral("/a"), "a");
    const Lauf l = werkzeug(argumente.replaceInStrings(QStringLiteral("ORDNER"), dir.path()));
    QCOMPARE(l.code, code);
    QVERIFY2(l.fehler.contains(fehler), qPrintable(l.fehler));
    // A refused run writes nothing.
    QCOMPARE(QDir(dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList { "a" });
}

void TstVeroeffentlichen::schluesselpaar()
{
    QTemporaryDir dir;
    const QString privat = dir.path() + QStringLiteral("/k.pem");
    const QString oeffentlich = dir.path() + QStringLiteral("/k_pub.pem");
    QCOMPARE(werkzeug({ "schluesselpaar", "--privat", privat, "--oeffentlich", oeffentlich }).code, 0);
    QCOMPARE(QFileInfo(privat).permissions(),
             QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadUser | QFileDevice::WriteUser);

    // openssl reads both and finds the size and exponent the engine expects.
    const Lauf text = openssl({ "pkey", "-pubin", "-in", oeffentlich, "-noout", "-text" });
    QCOMPARE(text.code, 0);
    QVERIFY2(text.aus.contains(QLatin1String("2048 bit")), qPrintable(text.aus));
    QCOMPARE(openssl({ "pkey", "-in", privat, "-check", "-noout" }).code, 0);

    // A key is never replaced by accident.
    const QByteArray vorher = lese(privat);
    const Lauf nochmal = werkzeug({ "schluesselpaar", "--privat", privat, "--oeffentlich", oeffentlich });
    QCOMPARE(nochmal.code, 1);
    QVERIFY(nochmal.fehler.contains(QLatin1String("--ueberschreiben")));
    QCOMPARE(lese(privat), vorher);
}

void TstVeroeffentlichen::signiereUndPruefe()
{
    QTemporaryDir dir;
    const QString normal = dir.path() + QStringLiteral("/index_vplugin.zip");
    const QString umleitung = dir.path() + QStringLiteral("/userredirect_19290");
    schreibe(normal, "PK\x03\x04");
    schreibe(umleitung, "https://127.0.0.1:8443/v1\n");
    QCOMPARE(werkzeug({ "signiere", "--schluessel", m_paar.privat, normal, umleitung }).code, 0);
    QVERIFY(Crypto::isFileValid(normal));
    schreibe(normal, "PK\x03\x05");
    const Lauf p = werkzeug({ "pruefe", "--oeffentlich", m_paar.oeffentlich, normal, umleitung });
    QCOMPARE(p.code, 1);
    QVERIFY2(p.aus.contains(QStringLiteral("ungültig: ") + normal), qPrintable(p.aus));
    QVERIFY(p.aus.contains(QStringLiteral("gültig: ") + umleitung)
            && !p.aus.contains(QStringLiteral("ungültig: ") + umleitung));
    QVERIFY(!Crypto::isFileValid(normal));
}

QTEST_GUILESS_MAIN(TstVeroeffentlichen)
#include "tst_veroeffentlichen.moc"
