// Transfers and the connectivity test against a real nginx over TLS and a
// real tinyproxy with Basic authentication, all on 127.0.0.1.

#include "global/downloadManager/downloadmanager.h"
#include "global/kommunikationsTest/kommunikationstest.h"
#include "global/varnelApplication/einstellungen.h"
#include "global/varnelApplication/logbase.h"
#include "testhilfe/pruefhilfe.h"
#include "testhilfe/testserver.h"
#include "testhilfe/testumgebung.h"

#include <QSignalSpy>
#include <QSslConfiguration>
#include <QSslKey>
#include <QSslSocket>
#include <QTcpServer>
#include <QtTest>
#include <memory>

namespace {

// Shows the first connection one certificate and every later one another, as
// a server swapped between two runs would.
class WechselServer : public QTcpServer
{
public:
    WechselServer(const TestZertifikate& z, const QByteArray& inhalt)
        : m_inhalt(inhalt)
    {
        for (const char* art : { "server", "selbst" }) {
            QFile zert(z.zertifikat(QLatin1String(art))), schluessel(z.schluessel(QLatin1String(art)));
            zert.open(QIODevice::ReadOnly);
            schluessel.open(QIODevice::ReadOnly);
            m_zert << QSslCertificate(zert.readAll());
            m_schluessel << QSslKey(schluessel.readAll(), QSsl::Rsa);
        }
        listen(QHostAddress::LocalHost, 0);
    }
    int verbindungen = 0;

protected:
    void incomingConnection(qintptr deskriptor) override
    {
        auto* s = new QSslSocket(this);
        s->setSocketDescriptor(deskriptor);
        const int i = qMin(verbindungen++, 1);
        s->setLocalCertificate(m_zert[i]);
        s->setPrivateKey(m_schluessel[i]);
        connect(s, &QSslSocket::readyRead, s, [this, s] {
            m_puffer[s] += s->readAll();
            if (m_puffer[s].contains("\r\n\r\n")) {
                const bool head = m_puffer.take(s).startsWith("HEAD");
                s->write("HTTP/1.1 200 OK\r\nConnection: close\r\nContent-Length: " + QByteArray::number(m_inhalt.size()) + "\r\n\r\n");
                if (!head)
                    s->write(m_inhalt);
                s->disconnectFromHost();
            }
        });
        s->startServerEncryption();
    }

private:
    QByteArray m_inhalt;
    QList<QSslCertificate> m_zert;
    QList<QSslKey> m_schluessel;
    QHash<QSslSocket*, QByteArray> m_puffer;
};

} // namespace

class TstServer : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        m_umgebung = std::make_unique<TestUmgebung>();
        m_zert = std::make_unique<TestZertifikate>(m_umgebung->pfad() + QStringLiteral("/zert"));
        QVERIFY2(m_zert->istGueltig(), qPrintable(m_zert->fehler()));
        m_dokumente = m_umgebung->pfad() + QStringLiteral("/www");
        TestUmgebung::schreibeDatei(m_dokumente + QStringLiteral("/online.test"), "online");
        TestUmgebung::schreibeDatei(m_dokumente + QStringLiteral("/release/paket.zip"), QByteArray(256 * 1024, 'p'));
        // The test CA stands in for a public one: trusted, as in production.
        QSslConfiguration k = QSslConfiguration::defaultConfiguration();
        k.addCaCertificates(m_zert->caZertifikat());
        QSslConfiguration::setDefaultConfiguration(k);
    }
    void cleanupTestCase()
    {
        qDeleteAll(m_server);
        m_server.clear();
        m_zert.reset();
        m_umgebung.reset();
    }
    void init()
    {
        m_ziel = m_umgebung->pfad() + QStringLiteral("/ziel-") + QString::fromLatin1(QTest::currentDataTag()).replace(QLatin1Char(' '), QLatin1Char('_'));
        QDir().mkpath(m_ziel);
        initLogBase(QStringLiteral("t"), 200000, m_umgebung->pfad());
    }
    void cleanup() { beendeLogBase(); }
    // Expired certificates, other host names, old protocols and ciphers are rows of
    // the hostile-server table; here what the log names and what test mode excuses.
    void tls_data()
    {
        QTest::addColumn<QString>("art");
        QTest::addColumn<bool>("testmodus");
        QTest::addColumn<bool>("erfolg");
        QTest::addColumn<QString>("logZeile");
        QTest::newRow("Zertifikat einer CA") << "server" << false << true << "";
        QTest::newRow("selbst signiert ohne Testmodus") << "selbst" << false << false << "QSslError::SelfSignedCertificate";
        QTest::newRow("selbst signiert im Testmodus") << "selbst" << true << true << "Im Testmode wird Fehler ignoriert.";
        QTest::newRow("anderer Host im Testmodus") << "anderer" << true << false << "QSslError::HostNameMismatch";
    }
    void tls()
    {
        QFETCH(QString, art);
        QFETCH(bool, testmodus);
        QFETCH(bool, erfolg);
        QFETCH(QString, logZeile);
        NginxServer* s = server(art);
        QVERIFY2(s->laeuft(), qPrintable(s->fehler()));
        const LogAusschnitt log;
        downloadManager dm;
        dm.setTestmodus(testmodus);
        if (!erfolg)
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("abgebrochen")));
        // Every certificate fault is also a warning; in test mode the log says it was passed over.
        const QString warnung = art == QLatin1String("selbst") ? QStringLiteral("QSslError::SelfSignedCertificate") : logZeile;
        if (warnung.startsWith(QLatin1String("QSslError")))
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QRegularExpression::escape(warnung)));
        QString fehler;
        QCOMPARE(lade(dm, s->basisUrl() + QStringLiteral("release/paket.zip"), &fehler), erfolg);
        QCOMPARE(QFileInfo::exists(m_ziel + QStringLiteral("/paket.zip")), erfolg);
        if (erfolg)
            QCOMPARE(QFileInfo(m_ziel + QStringLiteral("/paket.zip")).size(), qint64(256 * 1024));
        else
            QVERIFY(!fehler.isEmpty());
        if (!logZeile.isEmpty())
            QVERIFY2(log.enthaelt(logZeile), qPrintable(logZeile));
    }
    void proxyFragtHoechstensEinmal()
    {
        TinyProxy proxy(m_umgebung->pfad() + QStringLiteral("/proxy-einmal"), QStringLiteral("anna"), QStringLiteral("geheim"));
        QVERIFY2(proxy.laeuft(), qPrintable(proxy.fehler()));
        NginxServer* s = server(QStringLiteral("server"));
        FakeRueckfrage fake;
        // The user types wrong credentials; the proxy asks again, we do not.
        fake.proxyZugaenge = { { QStringLiteral("anna"), QStringLiteral("vertippt") }, { QStringLiteral("anna"), QStringLiteral("geheim") } };
        downloadManager dm;
        dm.setProxyValue(QStringLiteral("127.0.0.1"), proxy.port(), QString(), QString());
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("verlangt eine Authentifizierung")));
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("abgebrochen")));
        QVERIFY(!lade(dm, s->basisUrl() + QStringLiteral("online.test")));
        QCOMPARE(fake.fragen.size(), 1);
        QCOMPARE(fake.fragen[0].text, QStringLiteral("127.0.0.1:%1").arg(proxy.port()));
        // A second transfer with the same configuration does not ask either.
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("abgebrochen")));
        QVERIFY(!lade(dm, s->basisUrl() + QStringLiteral("online.test")));
        QCOMPARE(fake.fragen.size(), 1);

        // Credentials typed in once carry the body's transfer as well.
        {
            FakeRueckfrage richtig;
            richtig.proxyZugaenge = { { QStringLiteral("anna"), QStringLiteral("geheim") } };
            downloadManager getippt;
            getippt.setProxyValue(QStringLiteral("127.0.0.1"), proxy.port(), QString(), QString());
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("verlangt eine Authentifizierung")));
            QVERIFY(lade(getippt, s->basisUrl() + QStringLiteral("release/paket.zip")));
            QCOMPARE(QFileInfo(m_ziel + QStringLiteral("/paket.zip")).size(), qint64(256 * 1024));
            QCOMPARE(richtig.fragen.size(), 1);
        }

        // Stored credentials that the proxy accepts: no question at all.
        downloadManager mitZugang;
        mitZugang.setProxyValue(QStringLiteral("127.0.0.1"), proxy.port(), QStringLiteral("anna"), QStringLiteral("geheim"));
        QVERIFY(lade(mitZugang, s->basisUrl() + QStringLiteral("online.test")));
        QCOMPARE(fake.fragen.size(), 1);
    }
    // Every new connection is checked anew, not only the first one.
    void inhaltNurVomGeprueftenServer()
    {
        WechselServer s(*m_zert, QByteArray(300 * 1024, 'w'));
        m_ziel += QStringLiteral("/wechsel");
        QDir().mkpath(m_ziel);
        const QString url = QStringLiteral("https://127.0.0.1:%1/paket.zip").arg(s.serverPort());
        downloadManager erster;
        QVERIFY(lade(erster, url));
        QVERIFY(QFile::remove(m_ziel + QStringLiteral("/paket.zip")));
        downloadManager dm;
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("abgebrochen")));
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("SelfSignedCertificate")));
        QString fehler;
        QVERIFY(!lade(dm, url, &fehler));
        QVERIFY2(fehler.contains(QStringLiteral("self-signed")), qPrintable(fehler));
        QCOMPARE(s.verbindungen, 2);
        QVERIFY(!QFileInfo::exists(m_ziel + QStringLiteral("/paket.zip")));
        QCOMPARE(QDir(m_ziel).entryList(QDir::Files | QDir::Hidden).size(), 0);
    }
    void proxyOhneNamensaufloesung()
    {
        // With the lookup capability flipped off, we resolve the name ourselves and
        // the proxy sees only the address.
        Einstellungen::setAdminWert(QStringLiteral("PROXY/XorHostNameLookupCapability"), true);
        const QString arbeit = m_umgebung->pfad() + QStringLiteral("/proxy-xor");
        TinyProxy proxy(arbeit, QString(), QString());
        QVERIFY2(proxy.laeuft(), qPrintable(proxy.fehler()));
        NginxServer* s = server(QStringLiteral("selbst"));
        downloadManager dm;
        dm.setTestmodus(true);
        dm.setProxyValue(QStringLiteral("127.0.0.1"), proxy.port(), QString(), QString());
        Einstellungen::setAdminWert(QStringLiteral("PROXY/XorHostNameLookupCapability"), false);
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("QSslError::SelfSignedCertificate")));
        const QString url = s->basisUrl().replace(QStringLiteral("127.0.0.1"), QStringLiteral("localhost"));
        QVERIFY(lade(dm, url + QStringLiteral("release/paket.zip")));
        const QString protokoll = QString::fromUtf8(TestUmgebung::leseDatei(arbeit + QStringLiteral("/tinyproxy.log")));
        QCOMPARE(protokoll.count(QStringLiteral("CONNECT 127.0.0.1:")), 1);
        QVERIFY(!protokoll.contains(QStringLiteral("CONNECT localhost")));
    }
    void kommunikationsTest_data()
    {
        QTest::addColumn<QString>("benutzer");
        QTest::addColumn<QString>("pfad");
        QTest::addColumn<bool>("ohneProxy");
        QTest::addColumn<int>("ergebnis");
        QTest::newRow("durch den Proxy") << "anna" << "online.test" << false << 0;
        QTest::newRow("Proxy will Anmeldung") << "" << "online.test" << false << 1;
        QTest::newRow("Testdatei fehlt") << "anna" << "fehlt.test" << false << 0;
        QTest::newRow("kein Proxy") << "anna" << "online.test" << true << 0;
    }
    void kommunikationsTest()
    {
        QFETCH(QString, benutzer);
        QFETCH(QString, pfad);
        QFETCH(bool, ohneProxy);
        QFETCH(int, ergebnis);
        TinyProxy proxy(m_umgebung->pfad() + QStringLiteral("/proxy-kt-") + QString::fromLatin1(QTest::currentDataTag()).replace(QLatin1Char(' '), QLatin1Char('_')),
                        QStringLiteral("anna"), QStringLiteral("geheim"));
        QVERIFY2(proxy.laeuft(), qPrintable(proxy.fehler()));
        NginxServer* s = server(QStringLiteral("server"));
        const LogAusschnitt log;
        KommunikationsTest test;
        test.setzeZiel(QUrl(s->basisUrl() + pfad));
        if (ergebnis == 1)
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("Status = 1 Entwickler-Testmodus = false\\.")));
        QCOMPARE(test.status(ohneProxy ? QString() : QStringLiteral("127.0.0.1"), ohneProxy ? 0 : proxy.port(), benutzer,
                             benutzer.isEmpty() ? QString() : QStringLiteral("geheim"), false),
                 ergebnis);
        QCOMPARE(log.text().count(QStringLiteral("Der Zugriff auf den Proxy ist nicht m\u00f6glich.")), ergebnis == 1 ? 1 : 0);
    }

private:
    bool lade(downloadManager& dm, const QString& url, QString* fehler = nullptr)
    {
        zaehleMeldungen(dm);
        QSignalSpy fertig(&dm, &downloadManager::finished);
        dm.setUrl(url);
        dm.setTargetPath(m_ziel);
        dm.downloadStart();
        if (!fertig.wait(20000))
            return false;
        if (fehler)
            *fehler = dm.errorString();
        return !fertig.at(0).at(0).toBool();
    }
    NginxServer* server(const QString& art)
    {
        if (!m_server.contains(art)) {
            NginxOptionen o;
            o.dokumente = m_dokumente;
            o.zertifikat = m_zert->zertifikat(art);
            o.schluessel = m_zert->schluessel(art);
            m_server.insert(art, new NginxServer(m_umgebung->pfad() + QStringLiteral("/nginx-") + art, o));
        }
        return m_server.value(art);
    }

    std::unique_ptr<TestUmgebung> m_umgebung;
    std::unique_ptr<TestZertifikate> m_zert;
    QMap<QString, NginxServer*> m_server;
    QString m_dokumente;
    QString m_ziel;
};

QTEST_GUILESS_MAIN(TstServer)
#include "tst_server.moc"
