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

class QIODevice;

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
    qint64 hoechstGroesse = -1;     // more body bytes than this end the transfer as failed; -1: no limit
};

class Dateiabruf
{
public:
    Dateiabruf();
    ~Dateiabruf();
    Dateiabruf(const Dateiabruf&) = delete;
    Dateiabruf& operator=(const Dateiabruf&) = delete;

    // Writes the body into ziel (open for writing) on a worker thread and then
    // calls fertig on that thread. ziel must stay untouched until then.
    void starte(const DateiabrufAuftrag& auftrag, QIODevice* ziel, std::function<void()> fertig);
    // Waits for the worker; after fertig has been called this returns at once.
    void warte();
    // Ends the transfer soon as a failed one with this reason.
    void abbrechen(const QString& grund);

    qint64 empfangen() const { return m_empfangen.load(); }

    // Valid after fertig.
    bool erfolgreich() const { return m_erfolgreich; }
    bool schreibFehler() const { return m_schreibFehler; }
    QString fehlerText() const;

private:
    friend struct DateiabrufRueckrufe;
    void lauf(DateiabrufAuftrag auftrag, std::function<void()> fertig);

    void* m_curl = nullptr;
    std::thread m_faden;
    QIODevice* m_ziel = nullptr;
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
    bool m_zuViel = false;
    qint64 m_hoechstGroesse = -1;
};
