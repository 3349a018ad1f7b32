// The proxy passwords in the real key store, the migration of clear-text
// passwords out of the ini files, and the proxy the update connection uses.

#include "global/varnelApplication/schluesselbund.h"
#include "global/varnelApplication/varnelkern.h"
#include "testhilfe/pruefhilfe.h"
#include "testhilfe/testumgebung.h"

#include <QtTest>

using Werte = QMap<QString, QVariant>;
Q_DECLARE_METATYPE(Werte)

class TstSchluesselbund : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { m_mitSchluesselbund = !qEnvironmentVariableIsEmpty("IV_SCHLUESSELBUND"); }
    void init()
    {
        const QString fall = QString::fromLatin1(QTest::currentTestFunction());
        if (fall == QLatin1String("ohneSchluesselbund") || fall == QLatin1String("automatischerProxy"))
            return;
        if (!m_mitSchluesselbund)
            QSKIP("Kein entsperrter Schluesselbund: mit scripts/test starten (setzt IV_SCHLUESSELBUND=1).");
        Schluesselbund::loesche(Schluesselbund::proxyPasswort());
        Schluesselbund::loesche(Schluesselbund::adminPasswort());
    }
    void altePasswoerterWandernInDenSchluesselbund()
    {
        TestUmgebung umgebung;
        Einstellungen::setKoraWert(QStringLiteral("PROXY/Passwort"), QStringLiteral("alt-kora"));
        Einstellungen::setKoraWert(QStringLiteral("PROXY/Benutzer"), QStringLiteral("anna"));
        Einstellungen::setAdminWert(QStringLiteral("PROXY/Passwort"), QString());
        VarnelKern kern(QStringLiteral("Installationsverwaltung"));
        QVERIFY(!TestUmgebung::leseDatei(Einstellungen::gibKoraIniPfad()).contains("Passwort"));
        QVERIFY(!TestUmgebung::leseDatei(Einstellungen::gibTavoIniPfad()).contains("Passwort"));
        QCOMPARE(Einstellungen::getKoraProxyBenutzer(), QStringLiteral("anna"));
        QCOMPARE(Einstellungen::getKoraProxyPassword(), QStringLiteral("alt-kora"));
        // An empty legacy value is removed without touching the key store.
        QCOMPARE(Einstellungen::getAdminProxyPassword(), QString());
    }
    void proxyDaten_data()
    {
        QTest::addColumn<Werte>("tavo");
        QTest::addColumn<Werte>("kora");
        QTest::addColumn<QStringList>("erwartet");
        const Werte adminProxy{ { "PROXY/Adresse", "10.1.1.1" }, { "PROXY/Anschluss", 3128 }, { "PROXY/Benutzer", "admin" } };
        const Werte koraProxy{ { "PROXY/Adresse", "10.2.2.2" }, { "PROXY/Anschluss", 8080 }, { "PROXY/Benutzer", "anna" } };
        auto mit = [](Werte w, const char* k, const QVariant& v) { w.insert(QString::fromLatin1(k), v); return w; };

        QTest::newRow("nichts eingestellt") << Werte() << Werte() << QStringList();
        QTest::newRow("deaktiviert") << adminProxy << mit(koraProxy, "PROXY/Profil", "deaktiviert") << QStringList();
        QTest::newRow("manuell") << adminProxy << mit(koraProxy, "PROXY/Profil", "kora")
                                 << QStringList{ "10.2.2.2", "8080", "anna", "anwender-pw" };
        QTest::newRow("manuell ohne Werte") << Werte() << Werte{ { "PROXY/Profil", "kora" } }
                                            << QStringList{ "", "0", "", "anwender-pw" };
        QTest::newRow("Administrator fuer alle") << mit(adminProxy, "PROXY/Profil", "admin") << mit(koraProxy, "PROXY/Profil", "kora")
                                                 << QStringList{ "10.1.1.1", "3128", "admin", "admin-pw" };
        QTest::newRow("Anwender waehlt Administrator") << adminProxy << mit(koraProxy, "PROXY/Profil", "admin")
                                                       << QStringList{ "10.1.1.1", "3128", "admin", "admin-pw" };
        QTest::newRow("Administrator mit Systemeinstellung") << mit(mit(adminProxy, "PROXY/Profil", "admin"), "PROXY/Systemeinstellung", true)
                                                             << Werte() << QStringList{ "admin", "admin-pw" };
    }
    void proxyDaten()
    {
        QFETCH(Werte, tavo);
        QFETCH(Werte, kora);
        QFETCH(QStringList, erwartet);
        TestUmgebung umgebung;
        for (auto it = tavo.cbegin(); it != tavo.cend(); ++it)
            Einstellungen::setAdminWert(it.key(), it.value());
        for (auto it = kora.cbegin(); it != kora.cend(); ++it)
            Einstellungen::setKoraWert(it.key(), it.value());
        QVERIFY(Einstellungen::setKoraProxyPassword(QStringLiteral("anwender-pw")));
        QVERIFY(Einstellungen::setAdminProxyPassword(QStringLiteral("admin-pw")));
        QCOMPARE(VarnelKern::gibProxyDaten(), erwartet);
    }
    void automatischerProxy_data()
    {
        QTest::addColumn<QByteArray>("umgebung");
        QTest::addColumn<QStringList>("erwartet");
        QTest::newRow("kein Systemproxy") << QByteArray() << QStringList();
        QTest::newRow("Systemproxy") << QByteArray("http://127.0.0.1:3128") << QStringList{ "127.0.0.1", "3128", "", "" };
        QTest::newRow("Port unter 80") << QByteArray("http://127.0.0.1:79") << QStringList();
        QTest::newRow("Name statt Adresse") << QByteArray("http://proxy.firma.example:3128") << QStringList();
    }
    void automatischerProxy()
    {
        QFETCH(QByteArray, umgebung);
        QFETCH(QStringList, erwartet);
        TestUmgebung sandkasten;
        for (const char* name : { "http_proxy", "https_proxy", "HTTP_PROXY", "HTTPS_PROXY", "no_proxy", "NO_PROXY" })
            qunsetenv(name);
        if (!umgebung.isEmpty())
            qputenv("https_proxy", umgebung);
        Einstellungen::setKoraProxyAutomatischeEinstellung(true);
        // The manual values do not count while automatic detection is on.
        Einstellungen::setKoraProxyProfil(QStringLiteral("kora"));
        Einstellungen::setKoraProxyAdresse(QStringLiteral("10.9.9.9"));
        QCOMPARE(VarnelKern::gibProxyDaten(), erwartet);
        qunsetenv("https_proxy");
    }
    void ohneSchluesselbund()
    {
        if (qEnvironmentVariableIsEmpty("IV_OHNE_SCHLUESSELBUND"))
            QSKIP("Nur im Lauf ohne Session-Bus (tst_schluesselbund_ohne).");
        TestUmgebung umgebung;
        const LogAusschnitt log;

        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("Konnte Passwort nicht verschl\u00fcsselt speichern: .+")));
        QVERIFY(!Einstellungen::setKoraProxyPassword(QStringLiteral("x")));

        // The clear-text password must survive a failed migration.
        Einstellungen::setKoraWert(QStringLiteral("PROXY/Passwort"), QStringLiteral("alt-kora"));
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("Konnte Passwort nicht verschl\u00fcsselt speichern")));
        VarnelKern kern(QStringLiteral("Installationsverwaltung"));
        QCOMPARE(Einstellungen::getKoraWert(QStringLiteral("PROXY/Passwort")).toString(), QStringLiteral("alt-kora"));
        QCOMPARE(log.text().count(QStringLiteral("Konnte Passwort nicht verschl\u00fcsselt speichern: ")), 2);
    }

private:
    TestLog m_log { "tst_schluesselbund" };
    bool m_mitSchluesselbund = false;
};

QTEST_GUILESS_MAIN(TstSchluesselbund)
#include "tst_schluesselbund.moc"
