#pragma once
// Fetches one file at a time from the update server: a HEAD for status and
// size, then a GET whose body streams into a temporary file beside the target
// and replaces the target only when complete. Every transfer ends with exactly
// one finished().

#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QObject>
#include <QPointer>
#include <QSslError>
#include <QTimer>
#include <QUrl>
#include <memory>

class QAuthenticator;
class QNetworkReply;
class QSaveFile;

class downloadManager : public QObject
{
    Q_OBJECT
public:
    explicit downloadManager(QObject* parent = nullptr);
    ~downloadManager() override;

    void setUrl(const QString& url);
    void setTargetPath(const QString& verzeichnis);
    void setTestmodus(bool bTestModus);
    void setProxyValue(const QString& host, int port, const QString& user, const QString& password);

    QString errorString() const { return errorText; }
    int httpStatusCode() const { return httpStatus; }
    QString localFilePath();
    QUrl gibUrl() const { return url; }

    // A transfer that receives nothing for this long fails (default 60 s).
    void setStillstandGrenze(int ms) { m_stillstand.setInterval(ms); }
    // Time the proxy credentials question stays open (default 25 s).
    void setProxyDialogZeit(int ms) { m_proxyDialogZeit = ms; }

    static QString createUserAgentText();

signals:
    void downloadProgress(int done, int total);
    void finished(bool error, QString localFilePath = QString());

public slots:
    void downloadStart();
    // Ends the transfer in flight as a failed one (its finished() follows).
    void abbrechen();

private slots:
    void loadFileFinished(QNetworkReply* reply);
    void loadHeadFinished(QNetworkReply* reply);
    void sslErrors(const QList<QSslError>& errors);
    void runDownloadFile();
    void downloadProgressFile(qint64 done, qint64 total);
    void proxyAuthenticationDialog(const QNetworkProxy& proxy, QAuthenticator* authenticator);
    void proxyAuthenticationTimeout();
    void setSslConfiguration();

private:
    QNetworkRequest baueAnfrage() const;
    void doReadHead();
    void schreibeVerfuegbareDaten();
    void beende(bool fehler, const QString& pfad = QString());
    void stillstand();

    QNetworkAccessManager network;
    QPointer<QNetworkReply> reply;
    QNetworkProxy proxy;
    bool proxyDialogOffen = false;
    bool testMode = false;
    QUrl url;
    qint64 contentLength = 0;
    QString targetPath;
    QString errorText;
    int httpStatus = 200;

    std::unique_ptr<QSaveFile> m_ziel;
    QTimer m_stillstand;
    bool m_laeuft = false;
    bool m_stillstandAbbruch = false;
    bool m_schreibFehler = false;
    int m_proxyDialogZeit = 25000;
};
