// The socket through which an ordinary user asks root to start or stop the
// update service. Everything that arrives on it comes from any member of the
// socket's group: the line is bounded in length and time, printable ASCII
// only, and the caller is whoever the kernel says is at the other end.

#include "global/plattform/dienstverwaltung.h"
#include "global/plattform/plattform.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QUrl>

#include <cerrno>
#include <cstring>
#include <grp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace Plattform {

namespace {

const int HOECHSTENS_PARAMETER = 64;

bool adresse(const QString& pfad, sockaddr_un& a)
{
    const QByteArray p = QFile::encodeName(pfad);
    if (p.isEmpty() || size_t(p.size()) >= sizeof(a.sun_path))
        return false;
    a = sockaddr_un {};
    a.sun_family = AF_UNIX;
    std::memcpy(a.sun_path, p.constData(), size_t(p.size()));
    return true;
}

// Waits until `fd` is readable or the time is up; false when it is up.
bool warteLesbar(int fd, const QElapsedTimer& uhr, int ms)
{
    for (;;) {
        const qint64 rest = ms - uhr.elapsed();
        if (rest <= 0)
            return false;
        pollfd p { fd, POLLIN, 0 };
        const int r = ::poll(&p, 1, int(rest));
        if (r > 0)
            return true;
        if (r == 0 || errno != EINTR)
            return false;
    }
}

} // namespace

QString dienstSocket(const QString& name)
{
    return unterWurzel(QStringLiteral("/run/fiscalon/dienste/")) + name + QStringLiteral(".sock");
}

QByteArray dienstAuftrag(const QString& befehl, const QStringList& parameter)
{
    QByteArray zeile = befehl.toLatin1();
    for (const QString& p : parameter)
        zeile += ' ' + QUrl::toPercentEncoding(p);
    return zeile + '\n';
}

int sendeDienstAuftrag(const QString& socket, const QByteArray& zeile, int& antwortZahl, int ms)
{
    antwortZahl = -1;
    sockaddr_un a;
    if (!adresse(socket, a))
        return DIENST_UNGUELTIGER_NAME;
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return DIENST_ALLGEMEIN;
    int code = DIENST_ALLGEMEIN;
    if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof(a)) != 0) {
        code = errno == ENOENT || errno == ECONNREFUSED ? DIENST_FEHLT
            : errno == EACCES || errno == EPERM         ? DIENST_ZUGRIFF_VERWEIGERT
                                                        : DIENST_ALLGEMEIN;
        ::close(fd);
        return code;
    }
    if (::send(fd, zeile.constData(), size_t(zeile.size()), MSG_NOSIGNAL) == zeile.size()) {
        QElapsedTimer uhr;
        uhr.start();
        QByteArray antwort;
        char puffer[32];
        while (!antwort.contains('\n') && antwort.size() < 32 && warteLesbar(fd, uhr, ms)) {
            const ssize_t n = ::read(fd, puffer, sizeof(puffer));
            if (n <= 0 && !(n < 0 && errno == EINTR))
                break;
            if (n > 0)
                antwort.append(puffer, int(n));
        }
        bool ok = false;
        const int zahl = antwort.left(antwort.indexOf('\n')).toInt(&ok);
        if (antwort.contains('\n') && ok && zahl >= 0) {
            antwortZahl = zahl;
            code = 0;
        }
    }
    ::close(fd);
    return code;
}

int oeffneDienstSocket(const QString& pfad, const QString& gruppe, QString& fehler)
{
    sockaddr_un a;
    if (!adresse(pfad, a)) {
        fehler = QStringLiteral("Der Pfad ist zu lang.");
        return -1;
    }
    gid_t gid = 0;
    if (!gruppe.isEmpty()) {
        const group* g = istGruppenname(gruppe) ? ::getgrnam(gruppe.toLatin1().constData()) : nullptr;
        if (!g) {
            fehler = QStringLiteral("Die Gruppe [%1] gibt es nicht.").arg(gruppe);
            return -1;
        }
        gid = g->gr_gid;
    }
    // The folder is root's and closed to others' writes, so nobody can put
    // a socket or link of their own in its place.
    const QString ordner = QFileInfo(pfad).absolutePath();
    const QByteArray o = QFile::encodeName(ordner);
    struct stat st {};
    if (!QDir().mkpath(ordner) || ::lstat(o.constData(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::geteuid()
        || (st.st_mode & (S_IWGRP | S_IWOTH)) || ::chmod(o.constData(), 0755) != 0) {
        fehler = QStringLiteral("Der Ordner [%1] ist nicht der eigene oder von anderen beschreibbar.").arg(ordner);
        return -1;
    }
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        fehler = QString::fromLocal8Bit(std::strerror(errno));
        return -1;
    }
    // Made closed under a name of its own, opened to the group, and only then
    // put in place: no moment in which others may connect, and none in which
    // the group finds the socket without its rights.
    sockaddr_un neu;
    if (!adresse(pfad + QStringLiteral(".neu"), neu)) {
        fehler = QStringLiteral("Der Pfad ist zu lang.");
        ::close(fd);
        return -1;
    }
    ::unlink(neu.sun_path);
    const mode_t alt = ::umask(0177);
    const bool gebunden = ::bind(fd, reinterpret_cast<sockaddr*>(&neu), sizeof(neu)) == 0;
    ::umask(alt);
    if (!gebunden || ::chown(neu.sun_path, ::geteuid(), gid) != 0
        || ::chmod(neu.sun_path, gruppe.isEmpty() ? 0600 : 0660) != 0 || ::listen(fd, 16) != 0
        || ::rename(neu.sun_path, a.sun_path) != 0) {
        fehler = QString::fromLocal8Bit(std::strerror(errno));
        if (gebunden)
            ::unlink(neu.sun_path);
        ::close(fd);
        return -1;
    }
    return fd;
}

int leseDienstAuftrag(int verbindung, QString& befehl, QStringList& parameter, DienstAufrufer& aufrufer,
                      QString& fehler, int ms)
{
    ucred cred {};
    socklen_t laenge = sizeof(cred);
    if (::getsockopt(verbindung, SOL_SOCKET, SO_PEERCRED, &cred, &laenge) != 0 || laenge != sizeof(cred)) {
        fehler = QStringLiteral("Der Aufrufer ist nicht bekannt.");
        return DIENST_UNGUELTIGE_DATEN;
    }
    aufrufer.uid = cred.uid;
    aufrufer.gid = cred.gid;
    aufrufer.pid = cred.pid;

    QElapsedTimer uhr;
    uhr.start();
    QByteArray zeile;
    char puffer[1024];
    while (!zeile.contains('\n')) {
        if (zeile.size() >= DIENST_ZEILE_HOECHSTENS) {
            fehler = QStringLiteral("Die Zeile ist l&auml;nger als %1 Bytes.").arg(DIENST_ZEILE_HOECHSTENS);
            return DIENST_UNGUELTIGE_DATEN;
        }
        if (!warteLesbar(verbindung, uhr, ms)) {
            fehler = QStringLiteral("Keine vollst&auml;ndige Zeile innerhalb von %1 ms.").arg(ms);
            return DIENST_UNGUELTIGE_DATEN;
        }
        const ssize_t n = ::recv(verbindung, puffer, size_t(qMin<int>(int(sizeof(puffer)), DIENST_ZEILE_HOECHSTENS - zeile.size())),
                                 MSG_DONTWAIT);
        if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) {
            fehler = QStringLiteral("Die Verbindung endete vor dem Zeilenende.");
            return DIENST_UNGUELTIGE_DATEN;
        }
        if (n > 0)
            zeile.append(puffer, int(n));
    }
    const int ende = zeile.indexOf('\n');
    if (ende + 1 != zeile.size()) {
        fehler = QStringLiteral("Nach der Zeile folgen weitere Daten.");
        return DIENST_UNGUELTIGE_DATEN;
    }
    zeile.chop(1);
    for (const char c : zeile) {
        if (c < 0x20 || c > 0x7e) {
            fehler = QStringLiteral("Die Zeile enth&auml;lt ein Steuerzeichen oder ein Byte au&szlig;erhalb von ASCII.");
            return DIENST_UNGUELTIGE_DATEN;
        }
    }
    const QList<QByteArray> woerter = zeile.split(' ');
    befehl = QString::fromLatin1(woerter.first());
    if (befehl != QLatin1String("starte") && befehl != QLatin1String("stoppe")) {
        fehler = QStringLiteral("Unbekannter Auftrag [%1].").arg(befehl.left(32));
        return DIENST_UNGUELTIGE_DATEN;
    }
    if (woerter.size() - 1 > HOECHSTENS_PARAMETER || (befehl == QLatin1String("stoppe") && woerter.size() > 1)) {
        fehler = QStringLiteral("Zu viele Parameter f&uuml;r [%1].").arg(befehl);
        return DIENST_UNGUELTIGE_DATEN;
    }
    parameter.clear();
    for (int i = 1; i < woerter.size(); ++i) {
        const QByteArray roh = QByteArray::fromPercentEncoding(woerter.at(i));
        const QString wert = QString::fromUtf8(roh);
        if (wert.toUtf8() != roh) {
            fehler = QStringLiteral("Ein Parameter ist kein g&uuml;ltiges UTF-8.");
            return DIENST_UNGUELTIGE_DATEN;
        }
        parameter.append(wert);
    }
    return 0;
}

void beantworteDienstAuftrag(int verbindung, int code)
{
    const QByteArray antwort = QByteArray::number(code) + '\n';
    (void)::send(verbindung, antwort.constData(), size_t(antwort.size()), MSG_NOSIGNAL | MSG_DONTWAIT);
}

} // namespace Plattform
