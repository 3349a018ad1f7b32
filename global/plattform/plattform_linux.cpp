#include "global/plattform/plattform.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <QCoreApplication>
#include <QSocketNotifier>
#include <QStandardPaths>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <csignal>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/file.h>
#include <unistd.h>

namespace Plattform {

QString wurzel()
{
    QString w = qEnvironmentVariable("FISCALON_WURZEL");
    while (w.size() > 1 && w.endsWith(QLatin1Char('/')))
        w.chop(1);
    return w == QLatin1String("/") ? QString() : w;
}

QString unterWurzel(const QString& pfad)
{
    return wurzel() + pfad;
}

QString systemIniOrdner()
{
    // Qt's system-scope ini folder (/etc/xdg for a system Qt).
    const QSettings s(QSettings::IniFormat, QSettings::SystemScope, QString(), QString());
    return unterWurzel(QFileInfo(s.fileName()).absolutePath());
}

QString benutzerIniOrdner()
{
    // Qt's user-scope ini folder; asked anew each time because Qt's own settings
    // cache the environment of the first call.
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation);
}

QString programmOrdner() { return unterWurzel(QStringLiteral("/opt")); }
QString programmDatenOrdner() { return unterWurzel(QStringLiteral("/var/lib")); }
QString startmenueOrdner() { return unterWurzel(QStringLiteral("/usr/share/applications")); }

QString dienstOrdner()
{
    const QString programme = programmOrdner();
    return programme.isEmpty() ? QString() : programme + QStringLiteral("/Fiscalon Update Service");
}

QString registrierungsDatei(const QString& schluessel)
{
    // A product code from tavo.ini becomes part of the path: refuse anything
    // that is not a plain name per level.
    const QStringList teile = schluessel.split(QLatin1Char('\\'), Qt::SkipEmptyParts);
    if (teile.isEmpty())
        return QString();
    for (const QString& teil : teile) {
        if (teil == QLatin1String(".") || teil == QLatin1String("..") || teil.contains(QLatin1Char('/')))
            return QString();
        for (const QChar c : teil)
            if (c.unicode() < 0x20 || c.unicode() == 0x7f)
                return QString();
    }
    return unterWurzel(QStringLiteral("/var/lib/fiscalon/registry/")) + teile.join(QLatin1Char('/'))
           + QStringLiteral(".ini");
}

QString benutzername()
{
    for (const char* name : { "USERNAME", "USER", "LOGNAME" }) {
        const QString wert = qEnvironmentVariable(name);
        if (!wert.isEmpty())
            return wert;
    }
    return QStringLiteral("noname");
}

bool sitzungsId(qint64& id)
{
    bool ok = false;
    const qint64 xdg = qEnvironmentVariable("XDG_SESSION_ID").toLongLong(&ok);
    if (ok && xdg >= 0) {
        id = xdg;
        return true;
    }
    const pid_t sid = getsid(0);
    if (sid < 0)
        return false;
    id = sid;
    return true;
}

QString programmDatei(const QString& argv0)
{
    if (argv0.contains(QLatin1Char('/')))
        return QFileInfo(argv0).absoluteFilePath();
    // Started through PATH: argv[0] names no folder, the kernel knows the file.
    const QString exe = QFileInfo(QStringLiteral("/proc/self/exe")).symLinkTarget();
    return exe.isEmpty() ? QFileInfo(argv0).absoluteFilePath() : exe;
}

bool ersetzeDatei(const QString& quelle, const QString& ziel, QString* fehler)
{
    if (::rename(QFile::encodeName(quelle).constData(), QFile::encodeName(ziel).constData()) == 0)
        return true;
    if (fehler)
        *fehler = QString::fromLocal8Bit(std::strerror(errno));
    return false;
}

bool haengeDauerhaftAn(const QString& datei, const QByteArray& daten, QString* fehler)
{
    auto scheitere = [&](int fd) {
        if (fehler)
            *fehler = QString::fromLocal8Bit(std::strerror(errno));
        if (fd >= 0)
            ::close(fd);
        return false;
    };
    const QByteArray pfad = QFile::encodeName(datei);
    const bool neu = ::access(pfad.constData(), F_OK) != 0;
    const int fd = ::open(pfad.constData(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0)
        return scheitere(fd);
    const char* p = daten.constData();
    qint64 rest = daten.size();
    while (rest > 0) {
        const ssize_t n = ::write(fd, p, size_t(rest));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return scheitere(fd);
        p += n;
        rest -= n;
    }
    if (::fsync(fd) != 0)
        return scheitere(fd);
    ::close(fd);
    return !neu || synchronisiereOrdner(QFileInfo(datei).absolutePath(), fehler);
}

bool synchronisiereOrdner(const QString& ordner, QString* fehler)
{
    const int fd = ::open(QFile::encodeName(ordner).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0 || ::fsync(fd) != 0) {
        if (fehler)
            *fehler = QString::fromLocal8Bit(std::strerror(errno));
        if (fd >= 0)
            ::close(fd);
        return false;
    }
    ::close(fd);
    return true;
}

void beendeHart()
{
    ::kill(::getpid(), SIGKILL);
    ::_exit(137);
}

QString laufzeitOrdner()
{
    const QString xdg = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!xdg.isEmpty() && QFileInfo(xdg).isDir())
        return xdg;
    return QDir::tempPath();
}

BenannteSperre::BenannteSperre(const QString& name)
{
    const QByteArray pfad = QFile::encodeName(laufzeitOrdner() + QLatin1Char('/') + name + QStringLiteral(".lock"));
    m_fd = ::open(pfad.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (m_fd < 0)
        m_fehler = QString::fromLocal8Bit(std::strerror(errno));
}

BenannteSperre::~BenannteSperre()
{
    freigeben();
    if (m_fd >= 0)
        ::close(m_fd);
}

bool BenannteSperre::versucheZuSperren()
{
    if (m_fd < 0)
        return false;
    if (m_gesperrt)
        return true;
    int r;
    do {
        r = ::flock(m_fd, LOCK_EX | LOCK_NB);
    } while (r != 0 && errno == EINTR);
    if (r != 0) {
        m_fehler = QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    m_gesperrt = true;
    return true;
}

void BenannteSperre::freigeben()
{
    if (m_fd >= 0 && m_gesperrt)
        ::flock(m_fd, LOCK_UN);
    m_gesperrt = false;
}

namespace {

int g_signalPaar[2] = { -1, -1 };
std::function<void(int)> g_beendenAktion;

void signalBehandlung(int signal)
{
    // Only async-signal-safe work here: hand the number to the event loop.
    const char c = char(signal);
    const ssize_t r = ::write(g_signalPaar[0], &c, 1);
    (void)r;
}

} // namespace

bool beiBeendenAnfrage(std::function<void(int signal)> aktion)
{
    g_beendenAktion = std::move(aktion);
    if (g_signalPaar[0] >= 0)
        return true;
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, g_signalPaar) != 0)
        return false;
    auto* melder = new QSocketNotifier(g_signalPaar[1], QSocketNotifier::Read, QCoreApplication::instance());
    QObject::connect(melder, &QSocketNotifier::activated, [](QSocketDescriptor, QSocketNotifier::Type) {
        char c = 0;
        if (::read(g_signalPaar[1], &c, 1) == 1 && g_beendenAktion)
            g_beendenAktion(int(c));
    });
    struct sigaction sa {};
    sa.sa_handler = signalBehandlung;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    for (int sig : { SIGTERM, SIGINT, SIGHUP })
        ::sigaction(sig, &sa, nullptr);
    return true;
}

} // namespace Plattform
