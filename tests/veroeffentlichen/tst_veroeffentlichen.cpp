// The publishing tool as its users run it: command line, key pair, signing,
// dictionaries that the engine reads back, verification.

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
    void dictRundreise_data();
    void dictRundreise();

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

void TstVeroeffentlichen::dictRundreise_data()
{
    QTest::addColumn<QString>("form");
    QTest::newRow("json") << "json";
    QTest::newRow("csv") << "csv";
}

void TstVeroeffentlichen::dictRundreise()
{
    QFETCH(QString, form);
    const bool json = form == QLatin1String("json");
    QTemporaryDir dir;
    const QString teil = dir.path() + QStringLiteral("/est");
    schreibe(teil + QStringLiteral("/bin/est.so"), QByteArray(70000, 'e'));
    schreibe(teil + QStringLiteral("/hilfe/Seite 1.html"), "<p>Hilfe</p>");
    schreibe(teil + QStringLiteral("/leer"), QByteArray());
    schreibe(teil + QStringLiteral("/.versteckt"), "v");
    schreibe(teil + QStringLiteral("/dict/alt.dict"), "alt");
    QStringList args { "dict", "--ordner", teil, "--name", "est_20.dict", "--form", form,
                       "--schluessel", m_paar.privat, "--versionsNummer", "21.3.1", "--kurzname", "est",
                       "--veranlagungszeitraum", "2020", "--langname", "Einkommensteuer 2020",
                       "--sortierKriterium", "3", "--beschreibung", json ? "Erkl&auml;rung" : "Erklärung" };
    if (json)
        args << "--datenUebernahmeAusVormonat" << "1";
    const Lauf l = werkzeug(args);
    QVERIFY2(l.code == 0, qPrintable(l.fehler));
    const QString pfad = teil + QStringLiteral("/dict/est_20.dict");

    std::unique_ptr<DictParser_Abstrakt> p(erzeugeDictParser(pfad));
    QVERIFY(p);
    QCOMPARE(bool(qobject_cast<DictParser_JSON*>(p.get())), json);
    QCOMPARE(p->leseDictionary(pfad, true, true), 0);
    const DictInfo i = *p->gibDictInfo();
    QCOMPARE(i.signaturGueltig, QStringLiteral("true"));
    QCOMPARE(QStringList({ i.versionsNummer, i.kurzname, i.veranlagungszeitraum, i.langname }),
             QStringList({ "21.3.1", "est", "2020", "Einkommensteuer 2020" }));
    QCOMPARE(i.sortierKriterium, 3);
    QCOMPARE(i.datenUebernahmeAusVormonat, json);
    QCOMPARE(i.beschreibung, json ? QStringLiteral("Erkl\u00e4rung") : QStringLiteral("\nErkl\u00e4rung"));

    // Every file but the dictionaries, each with the checksum the engine
    // computes (md5sum for the non-empty ones).
    QStringList pfade = i.dateien.keys();
    pfade.sort();
    QCOMPARE(pfade, QStringList({ ".versteckt", "bin/est.so", "hilfe/Seite 1.html", "leer" }));
    QCOMPARE(i.dateien.value(QStringLiteral("leer")).pruefsumme, QStringLiteral("0"));
    const Lauf md5sum = starte(QStringLiteral("md5sum"), { teil + QStringLiteral("/bin/est.so") });
    QCOMPARE(i.dateien.value(QStringLiteral("bin/est.so")).pruefsumme, md5sum.aus.left(32));
}

QTEST_GUILESS_MAIN(TstVeroeffentlichen)
#include "tst_veroeffentlichen.moc"
