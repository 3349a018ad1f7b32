#include "global/plattform/plattform.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>
#include <QSocketNotifier>
#include <QStandardPaths>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <csignal>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/file.h>
#include <sys/stat.h>
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

QString laufzeitOrdner()
{
    const QString xdg = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!xdg.isEmpty() && QFileInfo(xdg).isDir())
        return xdg;
    return QDir::tempPath();
}

QString maschinenSperrOrdner()
{
    return unterWurzel(QStringLiteral("/run/lock"));
}

namespace {

// Opens the lock file read-only (flock needs no more, and nothing can be
// written through it), creating it when missing. Never through a link: an
// existing name is opened with O_NOFOLLOW, a missing one created with
// O_EXCL, and only a plain file is taken. In a sticky folder shared by all
// users this keeps root from being sent to another file by a planted name.
int oeffneSperrDatei(const QByteArray& pfad, bool fuerAlle, QString& fehler)
{
    const int art = O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY;
    for (int versuch = 0; versuch < 5; ++versuch) {
        bool neu = false;
        int fd = ::open(pfad.constData(), art);
        if (fd < 0 && errno == ENOENT) {
            fd = ::open(pfad.constData(), art | O_CREAT | O_EXCL, fuerAlle ? 0644 : 0600);
            if (fd < 0 && errno == EEXIST)
                continue; // another process created it in between
            neu = fd >= 0;
        }
        if (fd < 0) {
            fehler = QString::fromLocal8Bit(std::strerror(errno));
            return -1;
        }
        struct stat st {};
        if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
            ::close(fd);
            fehler = QStringLiteral("%1 ist keine gew\u00f6hnliche Datei").arg(QFile::decodeName(pfad));
            return -1;
        }
        // Readable for every user whatever this process's umask is.
        if (neu && fuerAlle)
            ::fchmod(fd, 0644);
        return fd;
    }
    fehler = QStringLiteral("%1 konnte nicht angelegt werden").arg(QFile::decodeName(pfad));
    return -1;
}

} // namespace

BenannteSperre::BenannteSperre(const QString& name, Bereich bereich)
{
    const bool fuerAlle = bereich == Bereich::Maschine;
    QString ordner = laufzeitOrdner();
    if (fuerAlle) {
        ordner = maschinenSperrOrdner();
        if (!QFileInfo::exists(ordner) && QDir().mkpath(ordner))
            ::chmod(QFile::encodeName(ordner).constData(), 01777);
    }
    m_fd = oeffneSperrDatei(QFile::encodeName(ordner + QLatin1Char('/') + name + QStringLiteral(".lock")), fuerAlle, m_fehler);
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
        const int fehlerNr = errno;
        m_fehler = QString::fromLocal8Bit(std::strerror(fehlerNr));
        errno = fehlerNr;
        return false;
    }
    m_gesperrt = true;
    return true;
}

bool BenannteSperre::sperre(int millisekunden)
{
    QElapsedTimer uhr;
    uhr.start();
    int pause = 2;
    while (!versucheZuSperren()) {
        if (m_fd < 0 || errno != EWOULDBLOCK)
            return false;
        const qint64 rest = millisekunden - uhr.elapsed();
        if (rest <= 0) {
            m_fehler = QStringLiteral("Zeit\u00fcberschreitung nach %1 ms").arg(millisekunden);
            return false;
        }
        QThread::msleep(ulong(qMin<qint64>(pause, rest)));
        pause = qMin(pause * 2, 50);
    }
    return true;
}

void BenannteSperre::freigeben()
{
    if (m_fd >= 0 && m_gesperrt)
        ::flock(m_fd, LOCK_UN);
    m_gesperrt = false;
}

uint eigeneBenutzerId()
{
    return uint(::geteuid());
}

QList<uint> lauscherBesitzer(quint16 port)
{
    // /proc/net/tcp{,6}: "sl local rem st tx:rx tr:when retr uid timeout inode";
    // addresses are the kernel's bytes printed as 32-bit words of this host.
    QList<uint> besitzer;
    for (const bool v6 : { false, true }) {
        QFile tabelle(v6 ? QStringLiteral("/proc/net/tcp6") : QStringLiteral("/proc/net/tcp"));
        if (!tabelle.open(QIODevice::ReadOnly))
            continue;
        const QList<QByteArray> zeilen = tabelle.readAll().split('\n');
        for (int i = 1; i < zeilen.size(); ++i) {
            const QList<QByteArray> f = zeilen.at(i).simplified().split(' ');
            if (f.size() < 10 || f.at(3) != "0A") // 0A: listening
                continue;
            const QList<QByteArray> lokal = f.at(1).split(':');
            bool ok = false;
            if (lokal.size() != 2 || lokal.at(1).toUInt(&ok, 16) != port || !ok)
                continue;
            const QByteArray& adresse = lokal.at(0);
            if (adresse.size() != (v6 ? 32 : 8))
                continue;
            quint32 worte[4] = { 0, 0, 0, 0 };
            for (int w = 0; w < adresse.size() / 8; ++w)
                worte[w] = adresse.mid(w * 8, 8).toUInt(&ok, 16);
            bool erreichbar;
            if (v6) {
                in6_addr a6 {};
                std::memcpy(&a6, worte, sizeof a6);
                in_addr a4 {};
                std::memcpy(&a4, a6.s6_addr + 12, sizeof a4);
                erreichbar = IN6_IS_ADDR_UNSPECIFIED(&a6)
                    || (IN6_IS_ADDR_V4MAPPED(&a6) && (a4.s_addr == htonl(INADDR_LOOPBACK) || a4.s_addr == 0));
            } else {
                erreichbar = worte[0] == htonl(INADDR_LOOPBACK) || worte[0] == htonl(INADDR_ANY);
            }
            const uint uid = f.at(7).toUInt(&ok);
            if (erreichbar && ok)
                besitzer << uid;
        }
    }
    return besitzer;
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
