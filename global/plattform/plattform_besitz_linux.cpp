// Ownership of the files that desktop users share with root runs: tavo.ini,
// written by every user and by the elevated manager, and the user's own
// folders, which an elevated run with the user's data folder writes into.
//
// Both are places an ordinary user controls. Entries are reached through
// descriptors opened without following links, so a link planted there can
// never send a change of owner or mode elsewhere.

#include "global/plattform/plattform.h"

#include <QFile>

#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace Plattform {

namespace {

constexpr int kMaxTiefe = 64;

bool gruppenId(const char* name, gid_t& gid)
{
    std::vector<char> puffer(16384);
    struct group g;
    struct group* gefunden = nullptr;
    if (getgrnam_r(name, &g, puffer.data(), puffer.size(), &gefunden) != 0 || !gefunden)
        return false;
    gid = gefunden->gr_gid;
    return true;
}

QString fehlerText(int nummer)
{
    return QString::fromLocal8Bit(std::strerror(nummer));
}

// Every entry below `fd` that root owns goes to uid/gid; folders are walked.
// Files with a second hard link are left: they may be root's files linked in.
void gibZurueck(int fd, uid_t uid, gid_t gid, int tiefe, int& geaendert, int& fehler)
{
    const int kopie = fcntl(fd, F_DUPFD_CLOEXEC, 0);
    DIR* ordner = kopie >= 0 ? fdopendir(kopie) : nullptr;
    if (!ordner) {
        if (kopie >= 0)
            close(kopie);
        ++fehler;
        return;
    }
    while (dirent* e = readdir(ordner)) {
        if (!std::strcmp(e->d_name, ".") || !std::strcmp(e->d_name, ".."))
            continue;
        struct stat st;
        if (fstatat(fd, e->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
            ++fehler;
            continue;
        }
        const bool istOrdner = S_ISDIR(st.st_mode);
        if (st.st_uid == 0 && (istOrdner || S_ISLNK(st.st_mode) || st.st_nlink == 1)) {
            if (fchownat(fd, e->d_name, uid, gid, AT_SYMLINK_NOFOLLOW) == 0)
                ++geaendert;
            else
                ++fehler;
        }
        if (!istOrdner)
            continue;
        if (tiefe >= kMaxTiefe) {
            ++fehler;
            continue;
        }
        const int unter = openat(fd, e->d_name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (unter < 0) {
            ++fehler;
            continue;
        }
        gibZurueck(unter, uid, gid, tiefe + 1, geaendert, fehler);
        close(unter);
    }
    closedir(ordner);
}

} // namespace

bool teileMitBenutzern(const QString& pfad, QString* fehler)
{
    const QByteArray name = QFile::encodeName(pfad);
    // O_EXCL with O_CREAT never follows a link; the mode is set again below
    // because the creation mode passes through the umask.
    int fd = open(name.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0664);
    const bool neu = fd >= 0;
    if (!neu && errno == EEXIST) {
        if (geteuid() != 0)
            return true;
        fd = open(name.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    }
    if (fd < 0) {
        if (fehler)
            *fehler = fehlerText(errno);
        return false;
    }
    struct stat st;
    bool ok = fstat(fd, &st) == 0;
    // Root only touches a plain file of its own with one name: the group's
    // write right must not reach anything but this file.
    if (ok && S_ISREG(st.st_mode) && st.st_nlink == 1 && (neu || st.st_uid == 0)) {
        gid_t gid;
        if (geteuid() == 0 && gruppenId("users", gid) && st.st_gid != gid)
            ok = fchown(fd, uid_t(-1), gid) == 0;
        if (ok && (st.st_mode & 07777) != 0664)
            ok = fchmod(fd, 0664) == 0;
    }
    if (!ok && fehler)
        *fehler = fehlerText(errno);
    close(fd);
    return ok;
}

bool gibAnBesitzerZurueck(const QString& ordner, int& geaendert, QString* fehler)
{
    geaendert = 0;
    if (geteuid() != 0)
        return true;
    const int fd = open(QFile::encodeName(ordner).constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        // Nothing there yet is nothing to give back.
        const int nummer = errno;
        if (nummer == ENOENT)
            return true;
        if (fehler)
            *fehler = fehlerText(nummer);
        return false;
    }
    struct stat st;
    int fehlschlaege = 0;
    // A folder of root's is root's: nothing to give back.
    if (fstat(fd, &st) == 0 && st.st_uid != 0)
        gibZurueck(fd, st.st_uid, st.st_gid, 0, geaendert, fehlschlaege);
    close(fd);
    if (fehlschlaege && fehler)
        *fehler = QStringLiteral("%1 Eintr\u00e4ge konnten nicht gelesen oder \u00fcbergeben werden").arg(fehlschlaege);
    return fehlschlaege == 0;
}

} // namespace Plattform
