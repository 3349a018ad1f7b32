#pragma once
// Real servers for tests, on 127.0.0.1 with free ports: nginx as the update
// server (TLS 1.2, the four ECDHE-GCM ciphers) and tinyproxy as a proxy with
// Basic authentication. Each is started by the test and stopped by its PID.

#include <QProcess>
#include <QString>
#include <QStringList>
#include <memory>

class downloadManager;

// Every transfer ends in exactly one finished(): call once per transfer
// started; the signals are counted over the object's whole life and checked
// when it is destroyed, so a late second one is caught whenever it comes.
void zaehleMeldungen(downloadManager& dm);

// Certificates made with openssl for one test run.
class TestZertifikate
{
public:
    // A test CA signing "server" (127.0.0.1), "anderer" (another host) and
    // "abgelaufen"; "selbst" is self-signed for 127.0.0.1.
    explicit TestZertifikate(const QString& verzeichnis);
    bool istGueltig() const { return m_gueltig; }
    QString caZertifikat() const { return m_dir + QStringLiteral("/ca.pem"); }
    QString zertifikat(const QString& art) const { return m_dir + QStringLiteral("/%1.pem").arg(art); }
    QString schluessel(const QString& art) const { return m_dir + QStringLiteral("/%1.key").arg(art); }
    QString fehler() const { return m_fehler; }

private:
    QString m_dir;
    QString m_fehler;
    bool m_gueltig = false;
};

struct NginxOptionen {
    QString dokumente;            // document root
    QString zertifikat;           // PEM; empty = plain HTTP
    QString schluessel;
    QByteArray zusatz;            // further lines of the server block, e.g. "limit_rate 256k;"
};

class NginxServer
{
public:
    NginxServer(const QString& arbeitsVerzeichnis, const NginxOptionen& optionen);
    ~NginxServer();
    bool laeuft() const { return m_port != 0; }
    quint16 port() const { return m_port; }
    QString basisUrl() const;
    // Access log lines: method, path, status, user agent, cache-control, separated by "|".
    QStringList zugriffe() const;
    // Access log lines for ranges: method, path, status, Range, If-Range, body bytes sent.
    QStringList bereichsZugriffe() const;
    // Every access up to now: the one worker logs each request before the next,
    // so once a marker request shows in the log, all earlier ones do.
    QStringList zugriffeBisJetzt() const;
    QString fehler() const { return m_fehler; }

private:
    QString m_dir;
    NginxOptionen m_optionen;
    QProcess m_prozess;
    quint16 m_port = 0;
    QString m_fehler;
};

class TinyProxy
{
public:
    // With an empty user no authentication is asked.
    TinyProxy(const QString& arbeitsVerzeichnis, const QString& benutzer, const QString& passwort);
    ~TinyProxy();
    bool laeuft() const { return m_port != 0; }
    quint16 port() const { return m_port; }
    QString fehler() const { return m_fehler; }

private:
    QString m_dir;
    QProcess m_prozess;
    quint16 m_port = 0;
    QString m_fehler;
};

// Ends a process the test started, by its PID: SIGTERM, then SIGKILL.
void beendeProzess(QProcess& p);

// Copies every file below `quelle` to `ziel`, making the folders it needs.
void kopiereOrdner(const QString& quelle, const QString& ziel);

// The sample of scripts/beispielserver (installation 27000, release 27289, in
// QS mode) below `verzeichnis`, served by nginx with a self-signed certificate.
// `zusatz`: the script's own switches, e.g. "--neue-verwaltung" for a server
// that offers the manager's self-update.
class BeispielServer
{
public:
    BeispielServer(const QString& verzeichnis, const QString& quellen, const QString& bau, const QStringList& zusatz = {});
    bool laeuft() const { return m_nginx && m_nginx->laeuft(); }
    QString fehler() const { return m_fehler; }
    // The output folder of scripts/beispielserver.
    QString beispiel() const { return m_beispiel; }
    NginxServer& nginx() const { return *m_nginx; }

private:
    QString m_beispiel;
    QString m_fehler;
    std::unique_ptr<TestZertifikate> m_zert;
    std::unique_ptr<NginxServer> m_nginx;
};
