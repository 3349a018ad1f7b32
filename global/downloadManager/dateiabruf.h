#pragma once
// Carries the body of one GET into an open file on a worker thread, with
// libcurl. Qt 5's TLS socket decrypts in 4 KiB steps through a memory BIO and
// several buffers, which makes large installers take about twice as long
// as necessary; libcurl reads whole TLS records straight from the socket.
//
// The HEAD before it (Qt, in downloadManager) has already decided whether the
// server is trusted. This transfer only talks to the very certificate that
// HEAD accepted, so test mode, the CA list and the host check live in one
// place and cannot disagree between the two requests.

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <atomic>
#include <functional>
#include <mutex>
#include <thread>

class QFileDevice;

struct DateiabrufAuftrag {
    QUrl url;
    QList<QByteArray> kopfzeilen; // "Name: Wert", sent as they stand
    QByteArray zertifikatDer;     // the leaf certificate the HEAD accepted; empty without TLS
    QStringList chiffren;         // OpenSSL names, in order
    QString proxyHost;            // empty: no proxy, also none from the environment
    int proxyPort = 0;
    QString proxyBenutzer;
    QString proxyPasswort;
    bool proxyLoestNamenAuf = true; // false: resolve here and ask the proxy for the address
    // Resuming: the file already holds this many bytes of the version that
    // `fortsetzenWenn` (its ETag or Last-Modified) names. The request asks for
    // the rest with Range and If-Range; a server that answers with the whole
    // file (changed, or no ranges) gets the file emptied and written anew.
    qint64 fortsetzenAb = 0;
    QByteArray fortsetzenWenn;
    qint64 hoechstGroesse = -1;     // more body bytes than this end the transfer as failed; -1: no limit
};

class Dateiabruf
{
public:
    Dateiabruf();
    ~Dateiabruf();
    Dateiabruf(const Dateiabruf&) = delete;
    Dateiabruf& operator=(const Dateiabruf&) = delete;

    // Writes the body into ziel (open for appending, holding fortsetzenAb
    // bytes) on a worker thread and then calls fertig on that thread. ziel
    // must stay untouched until then.
    void starte(const DateiabrufAuftrag& auftrag, QFileDevice* ziel, std::function<void()> fertig);
    // Waits for the worker; after fertig has been called this returns at once.
    void warte();
    // Ends the transfer soon as a failed one with this reason.
    void abbrechen(const QString& grund);

    // Bytes of the file so far, the resumed part included.
    qint64 empfangen() const { return m_empfangen.load(); }

    // Valid after fertig.
    bool erfolgreich() const { return m_erfolgreich; }
    bool schreibFehler() const { return m_schreibFehler; }
    // The body went past DateiabrufAuftrag::hoechstGroesse and was cut off there.
    bool zuViel() const { return m_zuViel; }
    QString fehlerText() const;
    // HTTP status of the GET (0: no answer).
    long status() const { return m_status; }
    // The answer's body reached the file (it may have been emptied first).
    bool inhaltBegonnen() const { return m_begonnen; }
    // The server sent the rest (206) instead of the whole file.
    bool fortgesetzt() const { return m_fortgesetzt; }
    // The answer's validator for a later If-Range: a strong ETag, else
    // Last-Modified; empty when it has neither.
    QByteArray validator() const { return m_etag.isEmpty() ? m_geaendert : m_etag; }

private:
    friend struct DateiabrufRueckrufe;
    void lauf(DateiabrufAuftrag auftrag, std::function<void()> fertig);
    bool beginneInhalt();

    void* m_curl = nullptr;
    std::thread m_faden;
    QFileDevice* m_ziel = nullptr;
    qint64 m_fortsetzenAb = 0;
    long m_status = 0;
    QByteArray m_etag;
    QByteArray m_geaendert;
    QByteArray m_bereich; // Content-Range of the answer
    QByteArray m_zertifikat;
    QByteArray m_letztesZertifikat;
    std::atomic<qint64> m_empfangen { 0 };
    std::atomic<bool> m_abbruch { false };
    mutable std::mutex m_sperre;
    QString m_abbruchGrund;
    QString m_fehler;
    bool m_erfolgreich = false;
    bool m_schreibFehler = false;
    bool m_zertifikatFremd = false;
    bool m_begonnen = false;
    bool m_fortgesetzt = false;
    bool m_bereichFalsch = false;
    bool m_zuViel = false;
    qint64 m_hoechstGroesse = -1;
};
