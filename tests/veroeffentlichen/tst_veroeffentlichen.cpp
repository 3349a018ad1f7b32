// The publishing tool as its users run it; what the engine makes of its output
// the crypto and end-to-end tests show.

#include <QtTest>

#include "tests/crypto/kryptotesthilfe.h"
#include "testhilfe/testserver.h"

using namespace KryptoTest;

namespace {

const QString kBasis = QStringLiteral("/download/pm/win_18_0/");

struct Erwartung
{
    QString kurz;
    uint jahr, rev, nrPlugin, ufa;
    QString ordner, dict, form;
};

} // namespace

class TstVeroeffentlichen : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(m_paar.erzeuge(m_dir.path() + QStringLiteral("/paar")));
        m_teile = m_dir.path() + QStringLiteral("/teile");
        m_erwartet = {
            { "kora", 9999, 27289, 2, 0, m_teile + "/kora", "kora_0.dict", "csv" },
            { "est", 2020, 27000, 1, 10, m_teile + "/est_20", "est_20.dict", "csv" },
            { "est", 2021, 27289, 3, 10, m_teile + "/est_21", "est_21.dict", "json" },
            { "instv", 0, 27289, 4, 0, m_teile + "/instv", "instv_0.vdict", "json" },
        };
        schreibe(m_teile + "/kora/bin/kora", "programm 27289");
        QVERIFY(QFile::setPermissions(m_teile + "/kora/bin/kora", QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
        schreibe(m_teile + "/kora/hilfe/Seite 1.html", QByteArray(5000, 'h'));
        schreibe(m_teile + "/kora/leer", QByteArray());
        schreibe(m_teile + "/est_20/plugins/est20.so", "est 2020");
        schreibe(m_teile + "/est_21/plugins/est21.so", "est 2021");
        schreibe(m_teile + "/instv/bin/installationsverwaltung", "iv");
        for (const Erwartung& e : qAsConst(m_erwartet))
            teil(e);
        // The update from 27000 carries the changed program and the new dictionary.
        schreibe(m_teile + "/update_27000/bin/kora", "programm 27289");
        QVERIFY(QDir().mkpath(m_teile + "/update_27000/dict"));
        for (const QString& d : { QStringLiteral("kora_0.dict"), QStringLiteral("kora_0.dict.sig") })
            QVERIFY(QFile::copy(m_teile + "/kora/dict/" + d, m_teile + "/update_27000/dict/" + d));

        m_server = m_dir.path() + QStringLiteral("/server");
        const Lauf l = baue(m_server);
        QVERIFY2(l.code == 0, qPrintable(l.fehler));
    }
    void aufruf_data()
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
    void aufruf()
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
    void schluesselpaar()
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
    void signiereUndPruefe()
    {
        QTemporaryDir dir;
        const QString normal = dir.path() + QStringLiteral("/index_vplugin.zip");
        const QString umleitung = dir.path() + QStringLiteral("/userredirect_19290");
        schreibe(normal, "PK\x03\x04");
        schreibe(umleitung, "https://127.0.0.1:8443/v1\n");
        QCOMPARE(werkzeug({ "signiere", "--schluessel", m_paar.privat, normal, umleitung }).code, 0);
        schreibe(normal, "PK\x03\x05");
        const Lauf p = werkzeug({ "pruefe", "--oeffentlich", m_paar.oeffentlich, normal, umleitung });
        QCOMPARE(p.code, 1);
        QVERIFY2(p.aus.contains(QStringLiteral("ungültig: ") + normal), qPrintable(p.aus));
        QVERIFY(p.aus.contains(QStringLiteral("gültig: ") + umleitung)
                && !p.aus.contains(QStringLiteral("ungültig: ") + umleitung));
    }
    void deterministisch()
    {
        // Other time stamps and permissions on the same content change nothing;
        // on a copy, as the parts are shared with the other cases.
        QTemporaryDir zweites;
        const QString teile = zweites.path() + "/teile";
        kopiereOrdner(m_teile, teile);
        for (const QString& datei : { teile + "/kora/hilfe/Seite 1.html", teile + "/est_21/plugins/est21.so" }) {
            QFile f(datei);
            QVERIFY(f.open(QIODevice::ReadWrite) && f.setFileTime(QDateTime::currentDateTime().addDays(-400), QFileDevice::FileModificationTime));
            f.close();
            QVERIFY(f.setPermissions(f.permissions() | QFile::WriteGroup));
        }
        Lauf l = baue(zweites.path(), {}, alleTeile().replaceInStrings(m_teile, teile));
        QVERIFY2(l.code == 0, qPrintable(l.fehler));
        const QString a = m_server + kBasis + "r27289/";
        const QString b = zweites.path() + kBasis + "r27289/";
        const QStringList dateien = QDir(a).entryList({ "*.zip" }, QDir::Files, QDir::Name);
        QCOMPARE(QDir(b).entryList({ "*.zip" }, QDir::Files, QDir::Name), dateien);
        for (const QString& d : dateien)
            QVERIFY2(lese(a + d) == lese(b + d), qPrintable(d));

        // An existing release is replaced only on request.
        l = baue(zweites.path());
        QCOMPARE(l.code, 1);
        QVERIFY(l.fehler.contains("--ueberschreiben"));
    }
    void abgelehnt_data()
    {
        QTest::addColumn<QString>("fall");
        QTest::addColumn<QStringList>("zusatz");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("fehler");
        QTest::newRow("Release-Name mit Pfad") << "" << QStringList { "--release", "../r1" } << 1 << "Ordnername";
        QTest::newRow("fremde Datei") << "fremd" << QStringList() << 1 << "steht nicht im Dictionary";
        QTest::newRow("Datei geaendert") << "geaendert" << QStringList() << 1 << "Prüfsumme";
        QTest::newRow("anderer Schluessel") << "schluessel" << QStringList() << 1 << "passt nicht";
        QTest::newRow("Update zu neuerer Revision") << "" << QStringList { "--update", "27289=" + m_teile + "/update_27000" } << 1
                                                    << "ältere Revision";
    }
    void abgelehnt()
    {
        QFETCH(QString, fall);
        QFETCH(QStringList, zusatz);
        QFETCH(int, code);
        QFETCH(QString, fehler);
        // A copy of est_20 gets the fault, the other parts stay sound.
        QTemporaryDir tmp;
        const QString est = tmp.path() + "/est_20";
        QVERIFY(QDir().mkpath(est + "/dict") && QDir().mkpath(est + "/plugins"));
        for (const char* d : { "dict/est_20.dict", "dict/est_20.dict.sig", "plugins/est20.so" })
            QVERIFY(QFile::copy(m_teile + "/est_20/" + d, est + "/" + QLatin1String(d)));
        QStringList teile = alleTeile();
        teile.replace(1, est);
        if (fall == "fremd")
            schreibe(est + "/plugins/neu.so", "x");
        else if (fall == "geaendert")
            schreibe(est + "/plugins/est20.so", "est 2020!");
        else if (fall == "schluessel") {
            Schluesselpaar anderes;
            QVERIFY(anderes.erzeuge(tmp.path() + "/anderes"));
            Erwartung e = m_erwartet.at(1);
            e.ordner = est;
            teil(e, anderes.privat);
        }

        const Lauf l = baue(tmp.path() + "/server", zusatz, teile);
        QCOMPARE(l.code, code);
        QVERIFY2(l.fehler.contains(fehler), qPrintable(l.fehler));
        QVERIFY(!QFileInfo::exists(tmp.path() + "/server" + kBasis));
    }

private:
    void teil(const Erwartung& e, const QString& schluessel = QString())
    {
        const QString jahr = e.jahr ? QString::number(e.jahr) : QString();
        const QString nrPlugin = QString::number(e.nrPlugin);
        const Lauf l = werkzeug({ "dict", "--ordner", e.ordner, "--name", e.dict, "--form", e.form, "--kurzname", e.kurz,
                                  "--veranlagungszeitraum", jahr, "--unterfallArtID", QString::number(e.ufa),
                                  "--langname", e.kurz + " " + jahr, "--versionsNummer", "21.3." + nrPlugin,
                                  "--revision", QString::number(e.rev), "--anwendungInterfaceNummer", "5",
                                  "--pluginAlleVersionsNummer", "21", "--pluginGruppeVersionsNummer", "1",
                                  "--pluginVersionsNummer", nrPlugin,
                                  "--schluessel", schluessel.isEmpty() ? m_paar.privat : schluessel });
        QVERIFY2(l.code == 0, qPrintable(l.fehler));
    }
    Lauf baue(const QString& ziel, const QStringList& zusatz = {}, const QStringList& teile = {})
    {
        return werkzeug(QStringList { "server", "--ziel", ziel, "--release", "r27289", "--schluessel", m_paar.privat,
                                      "--update", "27000=" + m_teile + "/update_27000" }
                        + zusatz + (teile.isEmpty() ? alleTeile() : teile));
    }
    QStringList alleTeile() const
    {
        QStringList t;
        for (const Erwartung& e : m_erwartet)
            t << e.ordner;
        return t;
    }

    QTemporaryDir m_dir;
    Schluesselpaar m_paar;
    QString m_teile, m_server;
    QList<Erwartung> m_erwartet;
};

QTEST_GUILESS_MAIN(TstVeroeffentlichen)
#include "tst_veroeffentlichen.moc"
