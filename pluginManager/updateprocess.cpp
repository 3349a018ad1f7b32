#include "pluginManager/updateprocess.h"

#include "global/plattform/prozess.h"
#include "global/varnelApplication/logbase.h"
#include "global/varnelApplication/textausliteral.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <cerrno>
#include <csignal>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

QString g_erhebungsbefehl;

// pkexec's answers before it runs the program: the user dismissed the
// prompt, or was not authorised.
const int PKEXEC_ABGELEHNT = 126;
const int PKEXEC_NICHT_BERECHTIGT = 127;

QString windowsText(int code)
{
    switch (code) {
    case 2: return QStringLiteral("The specified file was not found.");
    case 3: return QStringLiteral("The specified path was not found.");
    case 5: return QStringLiteral("Access to the specified file is denied.");
    case 8: return QStringLiteral("There is not enough memory to perform the specified action.");
    case 32: return QStringLiteral("A sharing violation occurred.");
    case 1155: return QStringLiteral("There is no application associated with the specified file name extension.");
    case 1156: return QStringLiteral("The Dynamic Data Exchange (DDE) transaction failed.");
    case 1157: return QStringLiteral("One of the library files necessary to run the application can't be found.");
    case 1223:
        return QStringLiteral("The function prompted the user for additional information, but the user canceled the request.");
    default: return QStringLiteral("ShellExecuteEx failed .. GetLastError() = %1").arg(code);
    }
}

int windowsFehler(int fehler)
{
    switch (fehler) {
    case ENOENT: return 2;
    case ENOTDIR: return 3;
    case EACCES:
    case EPERM: return 5;
    case ENOMEM: return 8;
    case ETXTBSY: return 32;
    case ENOEXEC: return 193;
    default: return 1000 + fehler;
    }
}

// The command line of a process; readable also for a set-user-ID program,
// whose executable link is not.
QByteArray kommandozeile(pid_t pid)
{
    QFile f(QStringLiteral("/proc/%1/cmdline").arg(pid));
    return f.open(QIODevice::ReadOnly) ? f.read(65536) : QByteArray();
}

// Reaps a process the runner no longer waits for, so it leaves no zombie; the
// process itself is never ended.
void ernte(pid_t pid)
{
    std::thread([pid] {
        int st = 0;
        while (::waitpid(pid, &st, 0) < 0 && errno == EINTR) {
        }
    }).detach();
}

int exitCode(int st)
{
    return WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
}

} // namespace

UpdateProcess::UpdateProcess(const QString& programm, const QString& verzeichnis, const QString& parameter,
                             bool alsAdmin, bool warten, int anzeige, QObject* parent)
    : QThread(parent)
    , programm(programm)
    , verzeichnis(verzeichnis)
    , parameter(parameter)
    , alsAdmin(alsAdmin)
    , warten(warten)
    , anzeige(anzeige)
{
}

void UpdateProcess::setzeErhebungsbefehl(const QString& befehl)
{
    g_erhebungsbefehl = befehl;
}

void UpdateProcess::run()
{
    emit sgnStarted();
    rc = runProgramm(warten);
    emit sgnFinished(rc, programm);
}

bool UpdateProcess::zerlegeParameter(const QString& text, QStringList& teile)
{
    teile.clear();
    QString wort;
    bool imWort = false;
    bool inAnfuehrung = false;
    for (int i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (inAnfuehrung) {
            if (c == QLatin1Char('\\') && i + 1 < text.size()
                && (text.at(i + 1) == QLatin1Char('"') || text.at(i + 1) == QLatin1Char('\\'))) {
                wort += text.at(++i);
            } else if (c == QLatin1Char('"')) {
                inAnfuehrung = false;
            } else {
                wort += c;
            }
        } else if (c == QLatin1Char('"')) {
            inAnfuehrung = true;
            imWort = true;
        } else if (c == QLatin1Char('\\') && i + 1 < text.size() && text.at(i + 1) == QLatin1Char('"')) {
            wort += text.at(++i);
            imWort = true;
        } else if (c == QLatin1Char(' ') || c == QLatin1Char('\t')) {
            if (imWort)
                teile.append(wort);
            wort.clear();
            imWort = false;
        } else {
            wort += c;
            imWort = true;
        }
    }
    if (imWort)
        teile.append(wort);
    return !inAnfuehrung;
}

int UpdateProcess::startFehler(int code)
{
    const QString text = windowsText(code);
    if (gp_Log)
        gp_Log->error(text, QStringLiteral(__FILE__), QStringLiteral("UpdateProcess::runProgramm"), __LINE__);
    rc = 500;
    return rc;
}

int UpdateProcess::runProgramm(bool warten)
{
    IV_LOG_EINTRITT();
    rc = 999;
    m_pid = 0;
    Q_UNUSED(anzeige) // windows of the started program open as it decides

    QStringList argumente;
    if (!zerlegeParameter(parameter, argumente)) {
        IV_LOG_ERROR(textAusLiteral("Die Parameter enthalten ein Anf&uuml;hrungszeichen ohne Gegenst&uuml;ck: [%1]").arg(parameter));
        return startFehler(87);
    }
    if (!verzeichnis.isEmpty() && !QFileInfo(verzeichnis).isDir())
        return startFehler(3);
    QString datei = programm;
    if (!datei.contains(QLatin1Char('/'))) {
        // The given folder, then PATH; never the current folder, which may
        // be anyone's when we run as root.
        const QString imVerzeichnis = verzeichnis.isEmpty() ? QString() : QDir(verzeichnis).filePath(datei);
        datei = !imVerzeichnis.isEmpty() && QFileInfo::exists(imVerzeichnis) ? imVerzeichnis
                                                                            : QStandardPaths::findExecutable(datei);
        if (datei.isEmpty())
            return startFehler(2);
    } else if (QFileInfo(datei).isRelative() && !verzeichnis.isEmpty()) {
        datei = QDir(verzeichnis).filePath(datei);
    }
    const QFileInfo info(datei);
    if (!info.exists())
        return startFehler(info.absoluteDir().exists() ? 2 : 3);
    if (!info.isFile() || !info.isExecutable())
        return startFehler(5);
    datei = info.absoluteFilePath();

    // Root's rights: directly when we have them, else through the prompt.
    QString erhebung = g_erhebungsbefehl;
    if (alsAdmin && erhebung.isEmpty() && ::geteuid() != 0) {
        erhebung = QStandardPaths::findExecutable(QStringLiteral("pkexec"));
        if (erhebung.isEmpty()) {
            IV_LOG_ERROR(textAusLiteral("pkexec ist nicht vorhanden: Administratorrechte k&ouml;nnen nicht angefordert werden."));
            return startFehler(5);
        }
    }
    const bool ueberErhebung = alsAdmin && !erhebung.isEmpty();

    QStringList aufruf = argumente;
    if (ueberErhebung)
        aufruf.prepend(datei);
    qint64 kind = 0;
    const int fehler = Plattform::starteProzess(ueberErhebung ? erhebung : datei, aufruf, verzeichnis, {}, kind);
    if (fehler != 0)
        return startFehler(windowsFehler(fehler));
    const pid_t pid = pid_t(kind);
    m_pid = pid;

    int st = 0;
    bool beendet = false;
    if (ueberErhebung) {
        // The prompt is answered when the elevation command has become the
        // program (its command line starts with the program's path) or has
        // ended. Like the shell's prompt this waits for the user without a
        // limit. Compared with the program, not with the command line seen
        // first: a prompt answered at once (a cached authorisation) may have
        // become the program before that first look.
        const QByteArray programmZeile = QFile::encodeName(datei) + '\0';
        for (;;) {
            const pid_t r = ::waitpid(pid, &st, WNOHANG);
            if (r == pid) {
                beendet = true;
                break;
            }
            if (r < 0 && errno != EINTR)
                break;
            if (kommandozeile(pid).startsWith(programmZeile))
                break;
            QThread::msleep(20);
        }
        if (beendet && WIFEXITED(st)) {
            if (WEXITSTATUS(st) == PKEXEC_ABGELEHNT)
                return startFehler(1223);
            if (WEXITSTATUS(st) == PKEXEC_NICHT_BERECHTIGT)
                return startFehler(5);
        }
    }

    if (!warten) {
        if (!beendet)
            ernte(pid);
        rc = 0;
        IV_LOG_AUSTRITT();
        return rc;
    }

    QElapsedTimer uhr;
    uhr.start();
    while (!beendet) {
        const pid_t r = ::waitpid(pid, &st, WNOHANG);
        if (r == pid) {
            beendet = true;
            break;
        }
        if (r < 0 && errno != EINTR) {
            IV_LOG_ERROR(QStringLiteral("WaitForSingleObject = WAIT_FAILED"));
            rc = 501;
            return rc;
        }
        if (timeout >= 0 && uhr.elapsed() >= timeout) {
            IV_LOG_ERROR(QStringLiteral("Abbruch wegen Timeout. Programm: \"%1\"").arg(programm));
            ernte(pid);
            rc = STILL_ACTIVE;
            return rc;
        }
        QThread::msleep(uhr.elapsed() < 200 ? 5 : 25);
    }
    rc = exitCode(st);
    IV_LOG_AUSTRITT();
    return rc;
}

void UpdateProcess::gibFehlertext(QString& text) const
{
    switch (rc) {
    case 1: text += textAusLiteral("Allgemeiner Fehler"); break;
    case 10: text += textAusLiteral("Admin-Rechte fehlen"); break;
    case 20: text += textAusLiteral("Betriebsystem wird nicht unterst&uuml;tzt"); break;
    case 21: text += textAusLiteral("bei Windows XP ist SP2 notwendig"); break;
    case 30: text += textAusLiteral("freier Speicherplatz auf dem Datentr&auml;ger zu klein"); break;
    case 50: text += textAusLiteral("Deinstallation der alten Version fehlgeschlagen"); break;
    case 500:
    case 501: text += textAusLiteral("Setup/Update konnte nicht gestartet werden"); break;
    default: text += textAusLiteral("unbekannter Fehler"); break;
    }
}
