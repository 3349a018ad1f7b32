#pragma once
// What many tests share beyond their sandbox: a log for the whole test, the
// part of the log one step wrote, openssl, and the one test key pair.

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>

#include "global/crypto/crypto.h"
#include "global/varnelApplication/logbase.h"

// The log of the whole test in a folder of its own, ended with the test object.
class TestLog
{
public:
    explicit TestLog(const char* name) { initLogBase(QString::fromLatin1(name), 10 << 20, m_dir.path()); }
    ~TestLog() { beendeLogBase(); }

private:
    QTemporaryDir m_dir;
};

// What the log received since construction (the log writes each line through).
class LogAusschnitt
{
public:
    LogAusschnitt()
        : m_start(gp_Log ? QFileInfo(gp_Log->gibDateiname()).size() : 0)
    {
    }
    QString text() const
    {
        QFile f(gp_Log ? gp_Log->gibDateiname() : QString());
        if (!f.open(QIODevice::ReadOnly) || !f.seek(m_start))
            return QString();
        return QString::fromUtf8(f.readAll());
    }
    bool enthaelt(const QString& teil) const { return text().contains(teil); }

private:
    qint64 m_start;
};

namespace KryptoTest {

struct Lauf
{
    int code = -1;
    QString aus;
    QString fehler;
};

inline Lauf starte(const QString& programm, const QStringList& argumente)
{
    Lauf l;
    QProcess p;
    p.start(programm, argumente);
    if (!p.waitForStarted(10000))
        return l;
    if (!p.waitForFinished(60000)) {
        p.kill();
        p.waitForFinished(5000);
        return l;
    }
    l.code = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    l.aus = QString::fromUtf8(p.readAllStandardOutput());
    l.fehler = QString::fromUtf8(p.readAllStandardError());
    return l;
}

inline Lauf openssl(const QStringList& argumente) { return starte(QStringLiteral("openssl"), argumente); }

// RSA-PSS over SHA-1; the engine accepts only the salt length 20.
inline QStringList opensslPss(bool mitSalz)
{
    QStringList a { "dgst", "-sha1", "-sigopt", "rsa_padding_mode:pss" };
    if (mitSalz)
        a << "-sigopt" << "rsa_pss_saltlen:20";
    return a;
}

// RSA of the size production uses, made by openssl at run time, with an
// empty built-in checksum list beside it: once aktiviere() points the
// signature check at it, only signatures count.
struct Schluesselpaar
{
    QString privat, oeffentlich, md5Liste;

    bool erzeuge(const QString& ordner)
    {
        QDir().mkpath(ordner);
        privat = ordner + QStringLiteral("/privat.pem");
        oeffentlich = ordner + QStringLiteral("/oeffentlich.pem");
        md5Liste = ordner + QStringLiteral("/md5.json");
        QFile f(md5Liste);
        return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write("{\"data\": {}}") > 0
            && openssl({ "genpkey", "-algorithm", "RSA", "-pkeyopt", "rsa_keygen_bits:2048", "-out", privat }).code == 0
            && openssl({ "pkey", "-in", privat, "-pubout", "-out", oeffentlich }).code == 0;
    }
    void aktiviere() const { Crypto::setzeQuellen(oeffentlich, md5Liste); }
    // Signs as the publishing tool does, beside the file under the name the engine looks for.
    bool signiere(const QString& pfad) const
    {
        return openssl(opensslPss(true) << "-sign" << privat << "-out" << Crypto::signaturPfad(pfad) << pfad).code == 0;
    }
};

} // namespace KryptoTest
