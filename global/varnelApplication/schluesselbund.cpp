#include "global/varnelApplication/schluesselbund.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <qt5keychain/keychain.h>

namespace Schluesselbund {

QString dienst() { return QStringLiteral("fiscalon"); }
QString proxyPasswort() { return QStringLiteral("proxy-password"); }
QString adminPasswort() { return QStringLiteral("admin-password"); }

namespace {

// Runs a key-store job to its end; returns its error (NoError on success).
QKeychain::Error warte(QKeychain::Job& job, QString* fehler)
{
    if (!QCoreApplication::instance()) {
        if (fehler)
            *fehler = QStringLiteral("Kein Anwendungsobjekt vorhanden");
        return QKeychain::OtherError;
    }
    job.setAutoDelete(false);
    QEventLoop schleife;
    bool fertig = false;
    QObject::connect(&job, &QKeychain::Job::finished, &schleife, [&] {
        fertig = true;
        schleife.quit();
    });
    job.start();
    if (!fertig)
        schleife.exec(QEventLoop::ExcludeUserInputEvents);
    if (job.error() != QKeychain::NoError && fehler)
        *fehler = job.errorString();
    return job.error();
}

} // namespace

bool schreibe(const QString& schluessel, const QString& passwort, QString* fehler)
{
    QKeychain::WritePasswordJob job(dienst());
    job.setInsecureFallback(false);
    job.setKey(schluessel);
    job.setTextData(passwort);
    return warte(job, fehler) == QKeychain::NoError;
}

bool lese(const QString& schluessel, QString& passwort, QString* fehler)
{
    passwort.clear();
    QKeychain::ReadPasswordJob job(dienst());
    job.setInsecureFallback(false);
    job.setKey(schluessel);
    const QKeychain::Error e = warte(job, fehler);
    if (e == QKeychain::EntryNotFound) {
        if (fehler)
            fehler->clear();
        return true;
    }
    if (e != QKeychain::NoError)
        return false;
    passwort = job.textData();
    return true;
}

bool loesche(const QString& schluessel, QString* fehler)
{
    QKeychain::DeletePasswordJob job(dienst());
    job.setInsecureFallback(false);
    job.setKey(schluessel);
    const QKeychain::Error e = warte(job, fehler);
    return e == QKeychain::NoError || e == QKeychain::EntryNotFound;
}

} // namespace Schluesselbund
