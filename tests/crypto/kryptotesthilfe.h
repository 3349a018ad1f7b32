#pragma once
// Shared by the crypto, dictionary and publishing-tool tests: running the
// publishing tool and openssl, key pairs made at run time, reading what a
// step wrote to the log.

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStringList>
#include <QTemporaryDir>
#include <QtTest>

#include "global/crypto/crypto.h"
#include "global/varnelApplication/logbase.h"

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


inline Lauf openssl(const QStringList& argumente)
{
    return starte(QStringLiteral("openssl"), argumente);
}

inline QStringList opensslPss(bool mitSalz)
{
    QStringList a { QStringLiteral("dgst"), QStringLiteral("-sha1"), QStringLiteral("-sigopt"),
                    QStringLiteral("rsa_padding_mode:pss") };
    if (mitSalz)
        a << QStringLiteral("-sigopt") << QStringLiteral("rsa_pss_saltlen:20");
    return a;
}

inline void schreibe(const QString& pfad, const QByteArray& inhalt)
{
    QDir().mkpath(QFileInfo(pfad).absolutePath());
    QFile f(pfad);
    QVERIFY2(f.open(QIODevice::WriteOnly | QIODevice::Truncate), qPrintable(pfad));
    QCOMPARE(f.write(inhalt), qint64(inhalt.size()));
}

inline QByteArray lese(const QString& pfad)
{
    QFile f(pfad);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

inline QString md5(const QByteArray& b)
{
    return QString::fromLatin1(QCryptographicHash::hash(b, QCryptographicHash::Md5).toHex());
}

#ifdef IV_VEROEFFENTLICHEN
// Tests that only sign with openssl need not build the publishing tool.
inline Lauf werkzeug(const QStringList& argumente)
{
    return starte(QStringLiteral(IV_VEROEFFENTLICHEN), argumente);
}

// A key pair made by the publishing tool, and a built-in list of our own;
// aktiviere() points the signature check at both.
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
        if (!f.open(QIODevice::WriteOnly) || f.write("{\"data\": {}}") < 0)
            return false;
        f.close();
        const Lauf l = werkzeug({ QStringLiteral("schluesselpaar"), QStringLiteral("--privat"), privat,
                                  QStringLiteral("--oeffentlich"), oeffentlich });
        return l.code == 0;
    }
    void aktiviere() const { Crypto::setzeQuellen(oeffentlich, md5Liste); }
};
#endif

// What the log received since construction.
class LogAusschnitt
{
public:
    LogAusschnitt()
        : m_start(gp_Log ? QFileInfo(gp_Log->gibDateiname()).size() : 0)
    {
    }
    QString text() const
    {
        if (!gp_Log)
            return QString();
        QFile f(gp_Log->gibDateiname());
        if (!f.open(QIODevice::ReadOnly))
            return QString();
        f.seek(m_start);
        return QString::fromUtf8(f.readAll());
    }

private:
    qint64 m_start;
};

} // namespace KryptoTest
