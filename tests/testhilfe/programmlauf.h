#pragma once
// What the tests that run the built program as a separate process share: the
// user's kora.ini that asks nothing, the exit code as the program meant it,
// the end of a run that waits in the wizard, and who owns a user's folder.

#include "tests/testhilfe/testumgebung.h"

#include <QDirIterator>
#include <QElapsedTimer>
#include <QProcess>
#include <QSettings>
#include <csignal>
#include <sys/stat.h>

namespace Programmlauf {

// kora.ini of a user's data folder: no question about internet access, and
// the silent download as given (left unset when null).
inline void koraIni(const QString& benutzer, const QString& silentDownload = QString())
{
    QSettings kora(benutzer + QStringLiteral("/ini/kora.ini"), QSettings::IniFormat);
    kora.setValue(QStringLiteral("UPDATE/InternetAccessDialog"), false);
    if (!silentDownload.isNull())
        kora.setValue(QStringLiteral("UPDATE/SilentDownload"), silentDownload);
}

// A signal as 128 + n, any other code as the signed byte the program returned.
inline int code(const QProcess& p)
{
    return p.exitCode() > 127 && p.exitCode() < 128 + 32 ? p.exitCode() : qint8(p.exitCode());
}

// Waits up to two minutes for the end; a run that reached the wizard is ended
// as the session would (SIGTERM). -999: it did not end.
inline int warteEnde(QProcess& p, const QString& logDatei)
{
    QElapsedTimer uhr;
    uhr.start();
    while (uhr.elapsed() < 120000 && p.state() == QProcess::Running) {
        if (TestUmgebung::leseDatei(logDatei).contains("Der Assistent wird angezeigt"))
            ::kill(pid_t(p.processId()), SIGTERM);
        p.waitForFinished(100);
    }
    if (p.state() != QProcess::NotRunning) {
        p.kill();
        p.waitForFinished(5000);
        return -999;
    }
    return code(p);
}

// Everything below `ordner` (links themselves, not followed) not owned by `uid`.
inline QStringList fremdeEintraege(const QString& ordner, uid_t uid)
{
    QStringList fremd;
    QDirIterator it(ordner, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString p = it.next();
        struct stat st;
        if (::lstat(QFile::encodeName(p).constData(), &st) != 0 || st.st_uid != uid)
            fremd << p;
    }
    return fremd;
}

} // namespace Programmlauf
