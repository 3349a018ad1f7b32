// Transfers against a scripted HTTP peer in this process: every way a server
// can fail a transfer, and the user's cancel, must end in exactly one
// finished(true), with a reason and without a file under the target name.

#include "global/downloadManager/downloadmanager.h"
#include "global/varnelApplication/einstellungen.h"
#include "global/varnelApplication/logbase.h"
#include "testhilfe/testserver.h"
#include "testhilfe/testumgebung.h"

#include <QScopeGuard>
#include <QSignalSpy>
#include <arpa/inet.h>
#include <csignal>
#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>
#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>

namespace {

// Answers HEAD and GET according to its mode; keeps the request heads and
// counts the connections.
class SkriptServer : public QObject
{
public:
    explicit SkriptServer(const QString& modus, const QByteArray& inhalt)
        : m_modus(modus)
        , m_inhalt(inhalt)
    {
        m_server.listen(QHostAddress::LocalHost, 0);
        connect(&m_server, &QTcpServer::newConnection, this, [this] {
            QTcpSocket* s = m_server.nextPendingConnection();
            ++verbindungen;
            connect(s, &QTcpSocket::readyRead, this, [this, s] { lies(s); });
        });
    }
    QString url(const QString& pfad = QStringLiteral("datei.zip")) const
    {
        return QStringLiteral("http://127.0.0.1:%1/%2").arg(m_server.serverPort()).arg(pfad);
    }
    QList<QByteArray> anfragen;
    int verbindungen = 0;

private:
    void lies(QTcpSocket* s)
    {
        QByteArray& puffer = m_puffer[s];
        puffer += s->readAll();
        int ende;
        while ((ende = puffer.indexOf("\r\n\r\n")) >= 0) {
            const QByteArray kopf = puffer.left(ende);
            puffer.remove(0, ende + 4);
            anfragen << kopf;
            antworte(s, kopf.startsWith("HEAD"));
        }
    }
    void antworte(QTcpSocket* s, bool head)
    {
        const QByteArray n = QByteArray::number(m_inhalt.size());
        if (m_modus == QLatin1String("404") || m_modus == QLatin1String("500")) {
            s->write("HTTP/1.1 " + m_modus.toLatin1() + " Fehler\r\nContent-Length: 0\r\n\r\n");
            return;
        }
        if (m_modus == QLatin1String("schweigt"))
            return;
        // HEAD fine, GET answered with an error page ("GET 404" and the like).
        if (m_modus.startsWith(QLatin1String("GET ")) && !head) {
            const QByteArray seite = "<html>Fehlerseite</html>";
            s->write("HTTP/1.1 " + m_modus.mid(4).toLatin1() + " Fehler\r\nLocation: /anders.zip\r\nContent-Length: "
                     + QByteArray::number(seite.size()) + "\r\n\r\n" + seite);
            return;
        }
        if (m_modus == QLatin1String("ohneLaenge")) {
            s->write("HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n");
            if (!head)
                s->write(m_inhalt);
            s->disconnectFromHost();
            return;
        }
        if (head) {
            s->write("HTTP/1.1 200 OK\r\nContent-Length: " + n + "\r\n\r\n");
            return;
        }
        s->write("HTTP/1.1 200 OK\r\nContent-Length: " + n + "\r\n\r\n");
        const QByteArray haelfte = m_inhalt.left(m_inhalt.size() / 2);
        if (m_modus == QLatin1String("ok")) {
            s->write(m_inhalt);
        } else if (m_modus == QLatin1String("laenger")) {
            s->write(m_inhalt + QByteArray(1000, 'Z'));
        } else if (m_modus == QLatin1String("kurz")) {
            s->write(haelfte);
            s->disconnectFromHost();
        } else if (m_modus == QLatin1String("stockt")) {
            s->write(haelfte);
        }
    }

    QTcpServer m_server;
    QString m_modus;
    QByteArray m_inhalt;
    QHash<QTcpSocket*, QByteArray> m_puffer;
};

struct Ergebnis {
    int meldungen = 0;
    bool fehler = false;
    QString pfad;
};

Ergebnis lade(downloadManager& dm, const QString& url, const QString& ziel, int ms = 15000)
{
    zaehleMeldungen(dm);
    QSignalSpy fertig(&dm, &downloadManager::finished);
    dm.setUrl(url);
    dm.setTargetPath(ziel);
    dm.downloadStart();
    fertig.wait(ms);
    Ergebnis e;
    e.meldungen = fertig.count();
    if (!fertig.isEmpty()) {
        e.fehler = fertig.at(0).at(0).toBool();
        e.pfad = fertig.at(0).at(1).toString();
    }
    return e;
}

QByteArray beispiel(int groesse)
{
    QByteArray b(groesse, Qt::Uninitialized);
    for (int i = 0; i < groesse; ++i)
        b[i] = char((i * 131) ^ (i >> 8));
    return b;
}

} // namespace

class TstDownloadManager : public QObject
{
    Q_OBJECT
private slots:
    void init()
    {
        m_umgebung = new TestUmgebung;
        initLogBase(QStringLiteral("t"), 200000, m_umgebung->pfad());
    }
    void cleanup() { beendeLogBase(); delete m_umgebung; m_umgebung = nullptr; }
    void fehlschlaege_data()
    {
        QTest::addColumn<QString>("modus");
        QTest::addColumn<int>("status");
        QTest::addColumn<int>("anfragen");
        QTest::addColumn<QString>("grund");
        // The GET's head decides as a HEAD would: callers branch on the status.
        QTest::newRow("404") << "404" << 404 << 1 << "Status 404 (Fehler)";
        QTest::newRow("500") << "500" << 500 << 1 << "Status 500 (Fehler)";
        // Resets, stalls and lying sizes: the hostile-server table; here that an older copy survives.
        QTest::newRow("kuerzer als Content-Length") << "kurz" << 200 << 1 << "";
        // An error page with a body must never be saved as the file.
        QTest::newRow("GET 302") << "GET 302" << 302 << 1 << "Status 302";
        QTest::newRow("GET 503") << "GET 503" << 503 << 1 << "Status 503";
        // The peer as proxy refuses the stored credentials; the user is asked once, declines.
        QTest::newRow("Proxy: 407") << "Proxy GET 407" << 407 << 1 << "erneut eine Authentifizierung";
        // A folder under the target name: the complete file cannot replace it.
        QTest::newRow("Umbenennen scheitert") << "Ordner ok" << 200 << 1 << "directory";
    }
    void fehlschlaege()
    {
        QFETCH(QString, modus);
        QFETCH(int, status);
        QFETCH(int, anfragen);
        QFETCH(QString, grund);
        const QByteArray inhalt = beispiel(3 * 1024 * 1024);
        const bool ordner = modus.startsWith(QLatin1String("Ordner ")), alsProxy = modus.startsWith(QLatin1String("Proxy "));
        SkriptServer server(ordner || alsProxy ? modus.section(QLatin1Char(' '), 1) : modus, inhalt);
        const QString ziel = m_umgebung->pfad() + QStringLiteral("/ziel");
        // An older copy under the target name stays untouched by a failed transfer.
        const QString alt = ziel + (ordner ? QStringLiteral("/datei.zip/alt") : QStringLiteral("/datei.zip"));
        TestUmgebung::schreibeDatei(alt, "alte Fassung");

        FakeRueckfrage fragen;
        downloadManager dm;
        if (alsProxy)
            dm.setProxyValue(QStringLiteral("127.0.0.1"), QUrl(server.url()).port(), QStringLiteral("anna"), QStringLiteral("geheim"));
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("abgebrochen|Speichern")));
        const Ergebnis e = lade(dm, server.url(), ziel);
        QCOMPARE(fragen.fragen.size(), alsProxy ? 1 : 0);
        QCOMPARE(e.meldungen, 1);
        QVERIFY(e.fehler);
        QCOMPARE(e.pfad, QString());
        QCOMPARE(dm.httpStatusCode(), status);
        QCOMPARE(server.anfragen.size(), anfragen);
        QVERIFY(!dm.errorString().isEmpty());
        if (!grund.isEmpty())
            QVERIFY2(dm.errorString().contains(grund), qPrintable(dm.errorString()));
        QCOMPARE(TestUmgebung::leseDatei(alt), QByteArray("alte Fassung"));
        QCOMPARE(QDir(ziel).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot).size(), 1);
    }
    void erfolg_data()
    {
        QTest::addColumn<QString>("modus");
        QTest::addColumn<int>("gesamt");
        QTest::addColumn<QString>("pfad");
        QTest::addColumn<QString>("name"); // as saved; with "System/" in the main application's common data folder
        QTest::addColumn<int>("verbindungen"); // for two files in a row
        const int n = 2 * 1024 * 1024 + 7;
        QTest::newRow("mit Laenge") << "ok" << n << "datei.zip" << "datei.zip" << 1;
        QTest::newRow("ohne Laenge") << "ohneLaenge" << 0 << "datei.zip" << "datei.zip" << 2;
        QTest::newRow("laenger als angesagt") << "laenger" << n << "datei.zip" << "datei.zip" << 2;
        QTest::newRow("Pfad endet mit Schraegstrich") << "ok" << n << "verzeichnis/" << "download" << 1;
        QTest::newRow("ohne Ziel") << "ok" << n << "a.xml" << "System/a.xml" << 1;
    }
    void erfolg()
    {
        QFETCH(QString, modus);
        QFETCH(int, gesamt);
        QFETCH(QString, pfad);
        QFETCH(QString, name);
        QFETCH(int, verbindungen);
        const QByteArray inhalt = beispiel(2 * 1024 * 1024 + 7);
        SkriptServer server(modus, inhalt);
        const bool system = name.startsWith(QLatin1String("System/"));
        if (system)
            QDir().mkpath(Einstellungen::gibDirSystem());
        downloadManager dm;
        QSignalSpy fortschritt(&dm, &downloadManager::downloadProgress);
        const Ergebnis e = lade(dm, server.url(pfad), system ? QString() : m_umgebung->pfad());
        QCOMPARE(e.meldungen, 1);
        QVERIFY(!e.fehler);
        QCOMPARE(e.pfad, system ? Einstellungen::gibDirSystem() + name.mid(7) : m_umgebung->pfad() + QLatin1Char('/') + name);
        QCOMPARE(TestUmgebung::leseDatei(e.pfad), inhalt);
        QVERIFY(!fortschritt.isEmpty());
        // The total is the answer's size, never the previous transfer's.
        for (const auto& f : fortschritt)
            QCOMPARE(f.at(1).toInt(), gesamt);
        // The next file comes over the same connection, unless the server ended it.
        QCOMPARE(lade(dm, server.url(pfad), system ? QString() : m_umgebung->pfad()).fehler, false);
        QCOMPARE(TestUmgebung::leseDatei(e.pfad), inhalt);
        QCOMPARE(server.verbindungen, verbindungen);
        // One GET per file, no HEAD, not from a cache, with our agent. Bytes left
        // behind an answer spoil the kept connection: the GET is tried once more on a new one.
        QCOMPARE(server.anfragen.size(), modus == QLatin1String("laenger") ? 3 : 2);
        for (const QByteArray& kopf : server.anfragen) {
            QVERIFY(kopf.startsWith("GET /" + pfad.toUtf8() + ' '));
            QVERIFY(kopf.contains("\r\ncache-control: no-store"));
            QVERIFY(kopf.contains("\r\nHost: 127.0.0.1\r\n"));
            const QRegularExpression ua(QStringLiteral("\r\nUser-Agent: Fiscalon/21\\.3 \\(Installationsverwaltung; [^\r]+;; rv:27289\\)(\r\n|$)"));
            QVERIFY2(ua.match(QString::fromUtf8(kopf)).hasMatch(), kopf.constData());
        }
    }
    void zielNichtBeschreibbar()
    {
        SkriptServer server(QStringLiteral("ok"), beispiel(10));
        downloadManager dm;
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("kann nicht zum Schreiben")));
        const Ergebnis e = lade(dm, server.url(), m_umgebung->pfad() + QStringLiteral("/gibt/es/nicht"));
        QCOMPARE(e.meldungen, 1);
        QVERIFY(e.fehler);

        // Nobody listens: status 0, one finished. The port stays bound without
        // listening, so no other process can take it meanwhile.
        const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
        const auto schliessen = qScopeGuard([fd] { ::close(fd); });
        sockaddr_in a {};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t laenge = sizeof a;
        QVERIFY(fd >= 0 && ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0
                && ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &laenge) == 0);
        const quint16 tot = ntohs(a.sin_port);
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("abgebrochen, Code: 0")));
        const Ergebnis f = lade(dm, QStringLiteral("http://127.0.0.1:%1/x").arg(tot), m_umgebung->pfad());
        QCOMPARE(f.meldungen, 1);
        QVERIFY(f.fehler);
        QCOMPARE(dm.httpStatusCode(), 0);
    }
    void plattVollMittenImInhalt()
    {
        // A file size limit stands in for a full disk: the write fails half-way.
        const QByteArray inhalt = beispiel(3 * 1024 * 1024);
        SkriptServer server(QStringLiteral("ok"), inhalt);
        const QString ziel = m_umgebung->pfad() + QStringLiteral("/voll");
        QDir().mkpath(ziel);
        downloadManager dm;
        rlimit alt {};
        getrlimit(RLIMIT_FSIZE, &alt);
        const auto signalVorher = std::signal(SIGXFSZ, SIG_IGN);
        rlimit grenze = alt;
        grenze.rlim_cur = 1024 * 1024;
        setrlimit(RLIMIT_FSIZE, &grenze);
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("kann nicht geschrieben werden")));
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("abgebrochen")));
        const Ergebnis e = lade(dm, server.url(), ziel);
        setrlimit(RLIMIT_FSIZE, &alt);
        std::signal(SIGXFSZ, signalVorher);
        QCOMPARE(e.meldungen, 1);
        QVERIFY(e.fehler);
        QVERIFY(!dm.errorString().isEmpty());
        QCOMPARE(QDir(ziel).entryList(QDir::Files | QDir::Hidden).size(), 0);
    }
    void fortsetzen_data()
    {
        QTest::addColumn<QByteArray>("zusatz");
        QTest::addColumn<bool>("geaendert");
        QTest::addColumn<QString>("zweiterGet"); // status|Range of the second GET
        // Fast up to the middle, then slow enough to be cut off there.
        const QByteArray bremse = "limit_rate_after 512k; limit_rate 256k;";
        QTest::newRow("Rest mit Range") << bremse << false << "206|bytes=";
        QTest::newRow("Datei geaendert: von vorn") << bremse << true << "200|bytes=";
        QTest::newRow("Server ohne Bereiche") << bremse + " max_ranges 0;" << false << "200|bytes=";
    }
    void fortsetzen()
    {
        QFETCH(QByteArray, zusatz);
        QFETCH(bool, geaendert);
        QFETCH(QString, zweiterGet);
        const QString www = m_umgebung->pfad() + QStringLiteral("/www");
        const QByteArray inhalt = beispiel(1024 * 1024);
        TestUmgebung::schreibeDatei(www + QStringLiteral("/modul.zip"), inhalt);
        NginxOptionen o;
        o.dokumente = www;
        o.zusatz = zusatz;
        NginxServer server(m_umgebung->pfad() + QStringLiteral("/nginx"), o);
        QVERIFY2(server.laeuft(), qPrintable(server.fehler()));
        const QString ziel = m_umgebung->pfad() + QStringLiteral("/ziel");
        QDir().mkpath(ziel);
        const QString datei = ziel + QStringLiteral("/modul.zip");
        const QString teil = downloadManager::teilDateiPfad(datei);

        {
            // Cut off at half its length.
            downloadManager dm;
            connect(&dm, &downloadManager::downloadProgress, &dm, [&dm](int done, int total) {
                if (total > 0 && done >= total / 2)
                    dm.abbrechen();
            });
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("abgebrochen")));
            const Ergebnis e = lade(dm, server.basisUrl() + QStringLiteral("modul.zip"), ziel);
            QVERIFY(e.fehler);
        }
        QVERIFY(!QFileInfo::exists(datei));
        const qint64 halb = QFileInfo(teil).size();
        QVERIFY2(halb >= inhalt.size() / 2 && halb < inhalt.size(), qPrintable(QString::number(halb)));
        QByteArray erwartet = inhalt;
        if (geaendert) {
            erwartet = beispiel(1024 * 1024 + 4096).mid(4096);
            TestUmgebung::schreibeDatei(www + QStringLiteral("/modul.zip"), erwartet);
            QFile f(www + QStringLiteral("/modul.zip"));
            QVERIFY(f.open(QIODevice::ReadWrite) && f.setFileTime(QDateTime::currentDateTime().addSecs(60), QFileDevice::FileModificationTime));
        }

        // The next run: a new manager, only the files beside the target remain.
        downloadManager dm;
        const Ergebnis e = lade(dm, server.basisUrl() + QStringLiteral("modul.zip"), ziel);
        QVERIFY2(!e.fehler, qPrintable(dm.errorString()));
        QCOMPARE(TestUmgebung::leseDatei(datei), erwartet);
        QCOMPARE(QDir(ziel).entryList(QDir::Files | QDir::Hidden), QStringList { "modul.zip" });
        QStringList gets;
        QTRY_VERIFY_WITH_TIMEOUT((gets = server.bereichsZugriffe().filter(QStringLiteral("GET|"))).size() == 2, 3000);
        QVERIFY2(gets[0].startsWith(QStringLiteral("GET|/modul.zip|200|-|-|")), qPrintable(gets[0]));
        // The second asks for the rest of the first answer's version (its ETag).
        QVERIFY2(gets[1].startsWith(QStringLiteral("GET|/modul.zip|") + zweiterGet + QString::number(halb) + QStringLiteral("-|")),
                 qPrintable(gets[1]));
        QVERIFY2(gets[1].section(QLatin1Char('|'), 4, 4).contains(QStringLiteral("-100000")), qPrintable(gets[1]));
        QCOMPARE(gets[1].section(QLatin1Char('|'), 5).toLongLong(), zweiterGet.startsWith(QStringLiteral("206")) ? inhalt.size() - halb : erwartet.size());
    }
    void abbrechen_data()
    {
        QTest::addColumn<QString>("modus");
        QTest::addColumn<int>("anfragen"); // cancelled once the server has seen this many
        QTest::newRow("vor der Antwort") << "schweigt" << 1;
        QTest::newRow("mitten im Inhalt") << "stockt" << 1;
    }
    // The user's cancel ends the transfer at once, as a failure, without a file.
    void abbrechen()
    {
        QFETCH(QString, modus);
        QFETCH(int, anfragen);
        SkriptServer server(modus, beispiel(3 * 1024 * 1024));
        const QString ziel = m_umgebung->pfad() + QStringLiteral("/ziel");
        QDir().mkpath(ziel);
        downloadManager dm;
        zaehleMeldungen(dm);
        QSignalSpy fertig(&dm, &downloadManager::finished);
        dm.setUrl(server.url());
        dm.setTargetPath(ziel);
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("abgebrochen")));
        dm.downloadStart();
        QTRY_COMPARE_WITH_TIMEOUT(server.anfragen.size(), anfragen, 15000);
        QVERIFY(fertig.isEmpty());
        dm.abbrechen();
        QTRY_COMPARE_WITH_TIMEOUT(fertig.size(), 1, 15000);
        QVERIFY(fertig.at(0).at(0).toBool());
        QVERIFY2(dm.errorString().contains(QStringLiteral("abgebrochen")), qPrintable(dm.errorString()));
        QVERIFY(!QFileInfo::exists(ziel + QStringLiteral("/datei.zip")));
        QCOMPARE(server.anfragen.size(), anfragen); // nothing asked for after the cancel
    }

private:
    TestUmgebung* m_umgebung = nullptr;
};

QTEST_GUILESS_MAIN(TstDownloadManager)
#include "tst_downloadmanager.moc"
