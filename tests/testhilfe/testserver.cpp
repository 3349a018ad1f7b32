#include "testserver.h"

#include "global/downloadManager/downloadmanager.h"

#include "pruefhilfe.h"
#include "testumgebung.h"

#include <QDirIterator>
#include <QElapsedTimer>
#include <QRegularExpression>
#include <QSslSocket>
#include <QTcpServer>
#include <QThread>
#include <QtTest>

#include <unistd.h>

void zaehleMeldungen(downloadManager& dm)
{
    static QHash<const QObject*, std::shared_ptr<QPair<int, int>>> zaehlungen; // transfers, signals
    auto& z = zaehlungen[&dm];
    if (!z) {
        z = std::make_shared<QPair<int, int>>(0, 0);
        const auto zaehlung = z;
        QObject::connect(&dm, &downloadManager::finished, [zaehlung] { ++zaehlung->second; });
        QObject::connect(&dm, &QObject::destroyed, [zaehlung](QObject* o) {
            zaehlungen.remove(o);
            QCOMPARE(zaehlung->second, zaehlung->first);
        });
    }
    ++z->first;
}

void beendeProzess(QProcess& p)
{
    if (p.state() == QProcess::NotRunning)
        return;
    p.terminate();
    if (!p.waitForFinished(5000)) {
        p.kill();
        p.waitForFinished(5000);
    }
}

namespace {

// Free at the time of the call only: the servers below retry on another port.
quint16 freierPort()
{
    QTcpServer s;
    return s.listen(QHostAddress::LocalHost, 0) ? s.serverPort() : 0;
}

QString leseText(const QString& pfad) { return QString::fromUtf8(TestUmgebung::leseDatei(pfad)); }

} // namespace

TestZertifikate::TestZertifikate(const QString& verzeichnis)
    : m_dir(verzeichnis)
{
    auto pfad = [this](const QString& n) { return m_dir + QLatin1Char('/') + n; };
    TestUmgebung::schreibeDatei(pfad("server.cnf"), "subjectAltName=IP:127.0.0.1\nbasicConstraints=CA:FALSE\n");
    TestUmgebung::schreibeDatei(pfad("anderer.cnf"), "subjectAltName=DNS:update.anderer-host.example\nbasicConstraints=CA:FALSE\n");
    QList<QStringList> schritte = {
        { "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2", "-subj", "/O=Fiscalon Test/CN=Test-CA",
          "-keyout", pfad("ca.key"), "-out", pfad("ca.pem") },
        { "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2", "-subj", "/CN=127.0.0.1",
          "-addext", "subjectAltName=IP:127.0.0.1", "-keyout", pfad("selbst.key"), "-out", pfad("selbst.pem") },
    };
    // "abgelaufen" ended yesterday.
    for (const QString a : { "server", "anderer", "abgelaufen" }) {
        const bool anderer = a == QLatin1String("anderer");
        schritte.append({ "req", "-newkey", "rsa:2048", "-nodes", "-subj",
                          anderer ? "/CN=update.anderer-host.example" : "/CN=127.0.0.1", "-keyout", pfad(a + ".key"),
                          "-out", pfad(a + ".csr") });
        schritte.append({ "x509", "-req", "-in", pfad(a + ".csr"), "-CA", pfad("ca.pem"), "-CAkey", pfad("ca.key"),
                          "-CAcreateserial", "-days", a == QLatin1String("abgelaufen") ? "-1" : "2", "-extfile",
                          pfad(anderer ? "anderer.cnf" : "server.cnf"), "-out", pfad(a + ".pem") });
    }
    for (const QStringList& argumente : schritte) {
        const KryptoTest::Lauf l = KryptoTest::openssl(argumente);
        if (l.code != 0) {
            m_fehler = l.aus + l.fehler;
            return;
        }
    }
    m_gueltig = true;
}

NginxServer::NginxServer(const QString& arbeitsVerzeichnis, const NginxOptionen& optionen)
    : m_dir(arbeitsVerzeichnis)
    , m_optionen(optionen)
{
    QDir().mkpath(m_dir + QStringLiteral("/logs"));
    for (int versuch = 0; versuch < 3 && !m_port; ++versuch) {
        const quint16 port = freierPort();
        const bool tls = !optionen.zertifikat.isEmpty();
        const QByteArray d = m_dir.toUtf8();
        QByteArray conf = "daemon off;\nworker_processes 1;\npid " + d + "/nginx.pid;\nerror_log " + d + "/logs/error.log info;\n"
            + (::geteuid() == 0 ? "user root;\n" : "") + "events { worker_connections 64; }\nhttp {\n"
            "  log_format iv '$request_method|$uri|$status|$http_user_agent|$http_cache_control';\n"
            "  access_log " + d + "/logs/access.log iv;\n"
            "  log_format ivbereich '$request_method|$uri|$status|$http_range|$http_if_range|$body_bytes_sent';\n"
            "  access_log " + d + "/logs/bereiche.log ivbereich;\n"
            "  types { application/zip zip; text/xml xml; }\n  default_type application/octet-stream;\n";
        for (const char* art : { "client_body", "proxy", "fastcgi", "uwsgi", "scgi" })
            conf += "  " + QByteArray(art) + "_temp_path " + d + "/logs/" + art + ";\n";
        conf += "  server {\n    listen 127.0.0.1:" + QByteArray::number(port) + (tls ? " ssl" : "") + ";\n";
        if (tls)
            conf += "    ssl_certificate " + optionen.zertifikat.toUtf8() + ";\n    ssl_certificate_key " + optionen.schluessel.toUtf8()
                + ";\n    ssl_protocols TLSv1.2;\n    ssl_ciphers ECDHE-ECDSA-AES256-GCM-SHA384:ECDHE-ECDSA-AES128-GCM-SHA256:"
                  "ECDHE-RSA-AES256-GCM-SHA384:ECDHE-RSA-AES128-GCM-SHA256;\n";
        conf += "    root " + optionen.dokumente.toUtf8() + ";\n" + optionen.zusatz + "\n  }\n}\n";
        const QString datei = m_dir + QStringLiteral("/nginx.conf");
        TestUmgebung::schreibeDatei(datei, conf);
        m_prozess.setProcessChannelMode(QProcess::MergedChannels);
        m_prozess.start(QStringLiteral("nginx"), { QStringLiteral("-p"), m_dir, QStringLiteral("-c"), datei });
        // Not a listener on the port (another process may have taken it): nginx
        // writes its pid file only once it holds its sockets.
        const auto eigenePid = [this] {
            return leseText(m_dir + QStringLiteral("/nginx.pid")).trimmed() == QString::number(m_prozess.processId());
        };
        QElapsedTimer uhr;
        uhr.start();
        while (m_prozess.waitForStarted(5000) && m_prozess.state() == QProcess::Running && !eigenePid()
               && uhr.elapsed() < 10000)
            m_prozess.waitForFinished(50);
        if (eigenePid() && m_prozess.state() == QProcess::Running) {
            m_port = port;
        } else {
            m_fehler = QString::fromLocal8Bit(m_prozess.readAll()) + leseText(m_dir + QStringLiteral("/logs/error.log"));
            beendeProzess(m_prozess);
        }
    }
}

NginxServer::~NginxServer()
{
    beendeProzess(m_prozess);
}

QString NginxServer::basisUrl() const
{
    return QStringLiteral("%1://127.0.0.1:%2/").arg(m_optionen.zertifikat.isEmpty() ? QStringLiteral("http") : QStringLiteral("https")).arg(m_port);
}

QStringList NginxServer::zugriffe() const
{
    return leseText(m_dir + QStringLiteral("/logs/access.log")).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

QStringList NginxServer::bereichsZugriffe() const
{
    return leseText(m_dir + QStringLiteral("/logs/bereiche.log")).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

QStringList NginxServer::zugriffeBisJetzt() const
{
    static int nummer = 0;
    const QString marke = QStringLiteral("/iv-marke-%1").arg(++nummer);
    QSslSocket s;
    s.setPeerVerifyMode(QSslSocket::VerifyNone);
    if (m_optionen.zertifikat.isEmpty())
        s.connectToHost(QHostAddress::LocalHost, m_port);
    else
        s.connectToHostEncrypted(QStringLiteral("127.0.0.1"), m_port);
    if (!(m_optionen.zertifikat.isEmpty() ? s.waitForConnected(10000) : s.waitForEncrypted(10000)))
        return {};
    s.write("GET " + marke.toUtf8() + " HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n");
    while (s.state() == QAbstractSocket::ConnectedState && s.waitForReadyRead(10000))
        s.readAll();
    QElapsedTimer uhr;
    uhr.start();
    do {
        const QStringList alle = zugriffe();
        for (int i = 0; i < alle.size(); ++i)
            if (alle.at(i).contains(QLatin1Char('|') + marke + QLatin1Char('|')))
                return alle.mid(0, i).filter(QRegularExpression(QStringLiteral("^(?!GET\\|/iv-marke-)")));
        QThread::msleep(20);
    } while (uhr.elapsed() < 10000);
    return {};
}

TinyProxy::TinyProxy(const QString& arbeitsVerzeichnis, const QString& benutzer, const QString& passwort)
    : m_dir(arbeitsVerzeichnis)
{
    for (int versuch = 0; versuch < 3 && !m_port; ++versuch) {
        const quint16 port = freierPort();
        QByteArray conf;
        conf += "Port " + QByteArray::number(port) + "\nListen 127.0.0.1\nTimeout 60\nMaxClients 20\n";
        conf += "Allow 127.0.0.1\nLogLevel Info\n";
        conf += "LogFile \"" + m_dir.toUtf8() + "/tinyproxy.log\"\n";
        if (::geteuid() == 0)
            conf += "User root\nGroup root\n";
        if (!benutzer.isEmpty())
            conf += "BasicAuth " + benutzer.toUtf8() + " " + passwort.toUtf8() + "\n";
        const QString datei = m_dir + QStringLiteral("/tinyproxy.conf");
        TestUmgebung::schreibeDatei(datei, conf);
        QFile::remove(m_dir + QStringLiteral("/tinyproxy.log"));
        m_prozess.setProcessChannelMode(QProcess::MergedChannels);
        m_prozess.start(QStringLiteral("tinyproxy"), { QStringLiteral("-d"), QStringLiteral("-c"), datei });
        // Its own log, not a listener on the port, proves it holds the socket.
        const auto bereit = [this] {
            return m_prozess.state() != QProcess::Running
                || leseText(m_dir + QStringLiteral("/tinyproxy.log")).contains(QStringLiteral("Accepting connections"));
        };
        if (m_prozess.waitForStarted(5000) && QTest::qWaitFor(bereit, 10000) && m_prozess.state() == QProcess::Running) {
            m_port = port;
        } else {
            m_fehler = QString::fromLocal8Bit(m_prozess.readAll()) + leseText(m_dir + QStringLiteral("/tinyproxy.log"));
            beendeProzess(m_prozess);
        }
    }
}

TinyProxy::~TinyProxy()
{
    beendeProzess(m_prozess);
}

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

BeispielServer::BeispielServer(const QString& verzeichnis, const QString& quellen, const QString& bau, const QStringList& zusatz)
    : m_beispiel(verzeichnis + QStringLiteral("/beispiel"))
{
    QProcess skript;
    skript.setProcessChannelMode(QProcess::MergedChannels);
    skript.start(QStringLiteral("bash"), QStringList{ quellen + QStringLiteral("/scripts/beispielserver"), bau, m_beispiel } + zusatz
                                             + QStringList{ QStringLiteral("--qs") });
    if (!skript.waitForFinished(120000) || skript.exitCode() != 0) {
        m_fehler = QString::fromLocal8Bit(skript.readAll());
        return;
    }
    m_zert = std::make_unique<TestZertifikate>(verzeichnis + QStringLiteral("/zert"));
    if (!m_zert->istGueltig()) {
        m_fehler = m_zert->fehler();
        return;
    }
    NginxOptionen o;
    o.dokumente = m_beispiel + QStringLiteral("/server");
    o.zertifikat = m_zert->zertifikat(QStringLiteral("selbst"));
    o.schluessel = m_zert->schluessel(QStringLiteral("selbst"));
    m_nginx = std::make_unique<NginxServer>(verzeichnis + QStringLiteral("/nginx"), o);
    if (!m_nginx->laeuft())
        m_fehler = m_nginx->fehler();
}
