#pragma once
// Does a request through a given HTTP proxy reach the update host, or does the
// proxy refuse it? One HEAD request to a fixed test file answers that.

#include <QNetworkAccessManager>
#include <QObject>
#include <QSslError>
#include <QUrl>

class QEventLoop;
class QNetworkReply;

class KommunikationsTest : public QObject
{
    Q_OBJECT
public:
    explicit KommunikationsTest(QObject* parent = nullptr);
    ~KommunikationsTest() override;

    // 0 no proxy problem (also for an empty host or port <= 0), 1 the proxy
    // demands authentication, -1 the catch-all network error.
    int status(const QString& host, int port, const QString& user, const QString& password,
               bool entwicklerTestmodus);

    // The test target; set by tests, deployment values otherwise.
    void setzeZiel(const QUrl& ziel) { m_ziel = ziel; }
    static QUrl standardZiel(bool entwicklerTestmodus);
    // A test never waits longer than this for its answer (default 30 s).
    void setzeZeitgrenze(int ms) { m_zeitgrenze = ms; }

private slots:
    void serverAntwort(QNetworkReply* reply);
    void sslErrors(const QList<QSslError>& errors);

private:
    QNetworkAccessManager network;
    QNetworkReply* reply = nullptr;
    QEventLoop* m_schleife = nullptr;
    bool testMode = false;
    QUrl m_ziel;
    int m_zeitgrenze = 30000;
};
