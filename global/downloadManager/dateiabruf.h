#pragma once
// One request of the download manager on a worker thread, with libcurl: the
// GET whose body goes into an open file, or a HEAD (no body). Qt 5's TLS
// socket decrypts in 4 KiB steps through a memory BIO and several buffers,
// which makes large installers take about twice as long as necessary;
// libcurl reads whole TLS records straight from the socket.
//
// One object keeps its libcurl handle, and with it the open connection, for
// every request of its manager: an update check fetches all its files over a
// single TLS connection, which on a slow line saves a handshake per
// connection. Trust is decided here, on every new connection, by the rules
// Qt's stack applied before: the CA list, the host name, and in test mode a
// self-signed certificate excused.

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
    bool nurKopf = false;         // HEAD: status, size and validator only
    QList<QByteArray> kopfzeilen; // "Name: Wert", sent as they stand
    QStringList chiffren;         // OpenSSL names, in order
    QList<QByteArray> zusatzCas;  // DER certificates trusted besides the system's
    bool testmodus = false;       // a self-signed certificate is excused
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
    // bytes; null for a HEAD) on a worker thread and then calls fertig on
    // that thread. ziel must stay untouched until then.
    void starte(const DateiabrufAuftrag& auftrag, QFileDevice* ziel, std::function<void()> fertig);
    // Waits for the worker; after fertig has been called this returns at once.
    void warte();
    // Ends the transfer soon as a failed one with this reason.
    void abbrechen(const QString& grund);

    // Bytes of the file so far, the resumed part included.
    qint64 empfangen() const { return m_empfangen.load(); }
    // A successful answer's head is complete: gesamt() and validator() hold.
    bool kopfFertig() const { return m_kopfFertig.load(); }
    // Size of the whole file as the answer's head announces it; -1: unknown.
    qint64 gesamt() const { return m_gesamt.load(); }
    // The answer's validator for a later If-Range: a strong ETag, else
    // Last-Modified; empty when it has neither. Valid once kopfFertig().
    QByteArray validator() const;

    // Valid after fertig.
    bool erfolgreich() const { return m_erfolgreich; }
    bool schreibFehler() const { return m_schreibFehler; }
    // The body went past DateiabrufAuftrag::hoechstGroesse and was cut off there.
    bool zuViel() const { return m_zuViel; }
    QString fehlerText() const;
    // HTTP status of the answer (0: no answer) and its reason phrase.
    long status() const { return m_status; }
    QString statusText() const { return QString::fromLatin1(m_grund); }
    // The proxy wants (other) credentials.
    bool proxyAnmeldung() const { return m_proxyAnmeldung; }
    // The answer's body reached the file (it may have been emptied first).
    bool inhaltBegonnen() const { return m_begonnen; }
    // The server sent the rest (206) instead of the whole file.
    bool fortgesetzt() const { return m_fortgesetzt; }
    // A new connection was made: its certificate's faults ("QSslError::..."
    // names and Qt's texts), whether test mode excused them, and what was
    // negotiated (DER of the server's certificate, cipher, protocol).
    QStringList tlsFehlerNamen() const { return m_tlsNamen; }
    QStringList tlsFehlerTexte() const { return m_tlsTexte; }
    bool tlsEntschuldigt() const { return m_tlsEntschuldigt; }
    QByteArray serverZertifikat() const { return m_serverZertifikat; }
    QString chiffre() const { return m_chiffre; }
    QString protokoll() const { return m_protokoll; }

private:
    friend struct DateiabrufRueckrufe;
    void lauf(DateiabrufAuftrag auftrag, std::function<void()> fertig);
    bool beginneInhalt();
    void kopfEnde();

    void* m_curl = nullptr;
    std::thread m_faden;
    QFileDevice* m_ziel = nullptr;
    qint64 m_fortsetzenAb = 0;
    long m_status = 0;
    long m_antwortStatus = 0; // of the answer whose head is being read
    QByteArray m_grund;
    QByteArray m_etag;
    QByteArray m_geaendert;
    QByteArray m_bereich; // Content-Range of the answer
    qint64 m_laenge = -1; // Content-Length of the answer
    QString m_host;
    QList<QByteArray> m_zusatzCas;
    bool m_testmodus = false;
    bool m_letzterTestmodus = false;
    bool m_nurKopf = false;
    std::atomic<qint64> m_empfangen { 0 };
    std::atomic<qint64> m_gesamt { -1 };
    std::atomic<bool> m_kopfFertig { false };
    std::atomic<bool> m_abbruch { false };
    mutable std::mutex m_sperre;
    QString m_abbruchGrund;
    QByteArray m_kopfValidator; // read by the manager's thread while the body runs
    QString m_fehler;
    qint64 m_fehlerSeite = 0; // bytes of an error answer's body, thrown away
    bool m_erfolgreich = false;
    bool m_schreibFehler = false;
    bool m_begonnen = false;
    bool m_fortgesetzt = false;
    bool m_bereichFalsch = false;
    bool m_zuViel = false;
    bool m_proxyAnmeldung = false;
    qint64 m_hoechstGroesse = -1;
    QStringList m_tlsNamen;
    QStringList m_tlsTexte;
    bool m_tlsEntschuldigt = false;
    QByteArray m_serverZertifikat;
    QString m_chiffre;
    QString m_protokoll;
};
