#pragma once
// Fetches one file at a time from the update server: a GET whose body
// streams into a partial file beside the target (teilDateiPfad, never the
// target's own name) and replaces the target only when complete. Every
// transfer ends with exactly one finished().
//
// The GET's head does what a HEAD before it would: its status decides (an
// error status fails the transfer with the status as reason, and no byte of
// that answer reaches the file), its Content-Length bounds the body and
// drives the progress. On a slow line a separate HEAD costs one round trip
// per file, which at an update check's handful of small files nearly doubles
// its time. Only a partial file to resume still gets a HEAD first: its size
// and validator decide whether the rest is asked for.
//
// A transfer cut off in the middle is resumed: the partial file stays with a
// small companion file (".info": the URL and the server's validator, a strong
// ETag, else Last-Modified, of the answer its bytes came from), and the next
// attempt, of this run or a later one, asks for the rest with Range and
// If-Range. A server whose file has changed, or that knows no ranges, answers
// with the whole file, which then starts over. The partial file goes when it
// is complete, when it cannot be resumed (no validator, an HTTP error, a
// failed write), or when its companion does not match. Callers check the MD5
// over the whole file as always.
//
// Every request runs through one Dateiabruf for the manager's life, so all
// files of a run share one kept TLS connection.

#include <QNetworkProxy>
#include <QNetworkRequest>
#include <QElapsedTimer>
#include <QObject>
#include <QTimer>
#include <QUrl>
#include <memory>

struct DateiabrufAuftrag;
class QFileDevice;

class QFile;
class Dateiabruf;

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
    // A slow server (one byte every few seconds never trips the stall limit)
    // ends as well: after `karenzMs` from the start of the body, the average
    // rate since then must stay at or above `bytesProSekunde` (default
    // 1 KiB/s after 30 s). So a transfer ends at the latest
    // karenz + received bytes / rate after the body began.
    void setMindestRate(qint64 bytesProSekunde, int karenzMs)
    {
        m_mindestRate = bytesProSekunde;
        m_karenz = karenzMs;
    }
    // The size the caller expects (e.g. from the server index); a body larger
    // than this, or than the size the answer announced, is cut off there and
    // fails. -1: none beyond the answer's.
    void setHoechstGroesse(qint64 bytes) { m_hoechstGroesse = bytes; }
    // Time the proxy credentials question stays open (default 25 s).
    void setProxyDialogZeit(int ms) { m_proxyDialogZeit = ms; }

    static QString createUserAgentText();
    // Where the bytes of a transfer to `ziel` gather until it is complete.
    static QString teilDateiPfad(const QString& ziel);

signals:
    void downloadProgress(int done, int total);
    void finished(bool error, QString localFilePath = QString());

public slots:
    void downloadStart();
    // Ends the transfer in flight as a failed one (its finished() follows).
    void abbrechen();

private slots:
    void loadFileFinished();
    void runDownloadFile();
    void downloadProgressFile(qint64 done, qint64 total);
    void proxyAuthenticationTimeout();
    void setSslConfiguration();

private:
    QNetworkRequest baueAnfrage() const;
    void beginne();
    void doReadHead();
    void loadHeadFinished();
    void starteAbruf(DateiabrufAuftrag& auftrag, QFileDevice* ziel);
    bool frageProxyZugang();
    void protokolliereTls();
    void meldeKopfFehler();
    void meldeFortschritt();
    void beende(bool fehler, const QString& pfad = QString());
    void stillstand();
    void brichAb(const QString& grund);
    void behalteOderEntferneTeil();

    QNetworkProxy proxy;
    bool m_proxyFragen = false; // the user may still be asked for the proxy's credentials
    bool proxyDialogOffen = false;
    bool testMode = false;
    QUrl url;
    qint64 contentLength = 0;
    QString targetPath;
    QString errorText;
    int httpStatus = 200;

    std::unique_ptr<QFile> m_ziel; // the partial file, renamed over the target when complete
    QString m_zielPfad;
    QString m_teilPfad;
    QByteArray m_validator; // of the HEAD before a resumed GET, for a partial file begun now
    QByteArray m_gespeichert; // the validator stored with the partial file
    std::unique_ptr<Dateiabruf> m_abruf;
    QString m_proxyBenutzer;
    QString m_proxyPasswort;
    QTimer m_stillstand;
    QTimer m_takt;
    qint64 m_gemeldet = -1;
    bool m_kopfLaeuft = false; // the HEAD before a resumed GET
    bool m_kopfGelesen = false; // the GET's size and validator came from a HEAD
    bool m_infoGeschrieben = false;
    bool m_getLaeuft = false;
    bool m_laeuft = false;
    bool m_abgebrochen = false;
    int m_proxyDialogZeit = 25000;
    qint64 m_mindestRate = 1024;
    int m_karenz = 30000;
    qint64 m_hoechstGroesse = -1;
    QElapsedTimer m_getUhr;
    qint64 m_getAnfang = 0; // bytes of the file before this GET (resumed)
};
