// Write rights of a group on a folder tree: POSIX ACLs where the file system
// has them, group ownership and group bits where it has not.
//
// The tree may hold what members of the group made there (that is its
// purpose), and we run as root: every entry is opened with O_PATH|O_NOFOLLOW
// and changed through its descriptor, so a symlink or a folder swapped for
// one during the walk can never redirect a change outside the tree.

#include "global/plattform/plattform.h"

#include <QFile>

#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <acl/libacl.h>
#include <sys/acl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace Plattform {

namespace {

// Deeper trees are refused rather than walked on a bounded stack.
constexpr int kMaxTiefe = 128;

struct Lauf
{
    gid_t gid = 0;
    QList<RechteFehler>* fehler = nullptr;
    int* ohneAcl = nullptr;

    void melde(RechteFehler::Art art, int nummer, const QString& pfad) { fehler->append({ art, nummer, pfad }); }
};

QByteArray fdPfad(int fd)
{
    return QByteArrayLiteral("/proc/self/fd/") + QByteArray::number(fd);
}

// Sets the named entry of `gid` to read, write (and enter) and recomputes the
// mask. 0 or the error number.
int setzeGruppenEintrag(acl_t& acl, gid_t gid, bool betreten)
{
    acl_entry_t eintrag = nullptr;
    bool gefunden = false;
    for (int r = acl_get_entry(acl, ACL_FIRST_ENTRY, &eintrag); r == 1;
         r = acl_get_entry(acl, ACL_NEXT_ENTRY, &eintrag)) {
        acl_tag_t tag;
        if (acl_get_tag_type(eintrag, &tag) != 0 || tag != ACL_GROUP)
            continue;
        auto* q = static_cast<gid_t*>(acl_get_qualifier(eintrag));
        gefunden = q && *q == gid;
        acl_free(q);
        if (gefunden)
            break;
    }
    if (!gefunden) {
        if (acl_create_entry(&acl, &eintrag) != 0 || acl_set_tag_type(eintrag, ACL_GROUP) != 0
            || acl_set_qualifier(eintrag, &gid) != 0)
            return errno ? errno : EINVAL;
    }
    acl_permset_t rechte;
    if (acl_get_permset(eintrag, &rechte) != 0 || acl_clear_perms(rechte) != 0 || acl_add_perm(rechte, ACL_READ) != 0
        || acl_add_perm(rechte, ACL_WRITE) != 0 || (betreten && acl_add_perm(rechte, ACL_EXECUTE) != 0)
        || acl_set_permset(eintrag, rechte) != 0 || acl_calc_mask(&acl) != 0)
        return errno ? errno : EINVAL;
    return 0;
}

// No ACLs here: the group owns the entry and has its bits; folders pass the
// group on to what is made in them.
void gruppenBits(Lauf& lauf, int fd, const QString& pfad, const struct stat& st, bool ordner)
{
    ++*lauf.ohneAcl;
    mode_t modus = (st.st_mode & 07777) | S_IRGRP | S_IWGRP;
    if (ordner)
        modus |= S_IXGRP | S_ISGID;
    if (fchownat(fd, "", static_cast<uid_t>(-1), lauf.gid, AT_EMPTY_PATH) != 0
        || ::chmod(fdPfad(fd).constData(), modus) != 0)
        lauf.melde(RechteFehler::SETZEN, errno, pfad);
}

void bearbeite(Lauf& lauf, int fd, const QString& pfad, const struct stat& st, bool ordner)
{
    const QByteArray p = fdPfad(fd);
    acl_t acl = acl_get_file(p.constData(), ACL_TYPE_ACCESS);
    if (!acl) {
        if (errno == EOPNOTSUPP)
            gruppenBits(lauf, fd, pfad, st, ordner);
        else
            lauf.melde(RechteFehler::LESEN, errno, pfad);
        return;
    }
    int nr = setzeGruppenEintrag(acl, lauf.gid, ordner);
    if (nr != 0) {
        lauf.melde(RechteFehler::EINTRAEGE, nr, pfad);
        acl_free(acl);
        return;
    }
    if (acl_set_file(p.constData(), ACL_TYPE_ACCESS, acl) != 0)
        nr = errno;
    if (nr == EOPNOTSUPP) {
        acl_free(acl);
        gruppenBits(lauf, fd, pfad, st, ordner);
        return;
    }
    if (nr != 0) {
        lauf.melde(RechteFehler::SETZEN, nr, pfad);
        acl_free(acl);
        return;
    }
    if (ordner) {
        // Inheritance: what is made in the folder gets the same entry. Without
        // a default ACL of its own the folder's access ACL is the model.
        acl_t vorgabe = acl_get_file(p.constData(), ACL_TYPE_DEFAULT);
        if (!vorgabe) {
            lauf.melde(RechteFehler::LESEN, errno, pfad);
        } else {
            if (acl_entries(vorgabe) <= 0) {
                acl_free(vorgabe);
                vorgabe = acl_dup(acl);
            }
            nr = vorgabe ? setzeGruppenEintrag(vorgabe, lauf.gid, true) : errno;
            if (nr != 0)
                lauf.melde(RechteFehler::EINTRAEGE, nr, pfad);
            else if (acl_set_file(p.constData(), ACL_TYPE_DEFAULT, vorgabe) != 0)
                lauf.melde(RechteFehler::SETZEN, errno, pfad);
            if (vorgabe)
                acl_free(vorgabe);
        }
    }
    acl_free(acl);
}

void gehe(Lauf& lauf, int ordnerFd, const QString& pfad, const struct stat& st, int tiefe)
{
    bearbeite(lauf, ordnerFd, pfad, st, true);
    const int leseFd = openat(ordnerFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR* ordner = leseFd >= 0 ? fdopendir(leseFd) : nullptr;
    if (!ordner) {
        lauf.melde(RechteFehler::LESEN, errno, pfad);
        if (leseFd >= 0)
            close(leseFd);
        return;
    }
    std::vector<QByteArray> namen;
    while (const dirent* e = readdir(ordner)) {
        if (qstrcmp(e->d_name, ".") != 0 && qstrcmp(e->d_name, "..") != 0)
            namen.emplace_back(e->d_name);
    }
    closedir(ordner);
    for (const QByteArray& name : namen) {
        const QString unterPfad = pfad + QLatin1Char('/') + QFile::decodeName(name);
        const int fd = openat(ordnerFd, name.constData(), O_PATH | O_NOFOLLOW | O_CLOEXEC);
        struct stat unter;
        if (fd < 0 || fstat(fd, &unter) != 0) {
            lauf.melde(RechteFehler::LESEN, errno, unterPfad);
        } else if (S_ISDIR(unter.st_mode)) {
            if (tiefe >= kMaxTiefe)
                lauf.melde(RechteFehler::SETZEN, ELOOP, unterPfad);
            else
                gehe(lauf, fd, unterPfad, unter, tiefe + 1);
        } else if (S_ISREG(unter.st_mode)) {
            // A second name may be a hard link a group member made to a file
            // outside the tree: giving it rights would give them that file.
            if (unter.st_nlink > 1)
                lauf.melde(RechteFehler::SETZEN, EMLINK, unterPfad);
            else
                bearbeite(lauf, fd, unterPfad, unter, false);
        }
        // Symlinks, devices, pipes and sockets stay as they are.
        if (fd >= 0)
            close(fd);
    }
}

} // namespace

bool gewaehreGruppenrechte(const QString& ordner, const QString& gruppe, QList<RechteFehler>& fehler, int& ohneAcl)
{
    fehler.clear();
    ohneAcl = 0;
    Lauf lauf;
    lauf.fehler = &fehler;
    lauf.ohneAcl = &ohneAcl;

    std::vector<char> puffer(16384);
    struct group g;
    struct group* gefunden = nullptr;
    const int nr = getgrnam_r(QFile::encodeName(gruppe).constData(), &g, puffer.data(), puffer.size(), &gefunden);
    if (nr != 0 || !gefunden) {
        lauf.melde(RechteFehler::GRUPPE, nr, gruppe);
        return false;
    }
    lauf.gid = gefunden->gr_gid;

    const int fd = open(QFile::encodeName(ordner).constData(), O_PATH | O_NOFOLLOW | O_DIRECTORY | O_CLOEXEC);
    struct stat st;
    if (fd < 0 || fstat(fd, &st) != 0) {
        lauf.melde(RechteFehler::LESEN, errno, ordner);
        if (fd >= 0)
            close(fd);
        return false;
    }
    gehe(lauf, fd, ordner, st, 0);
    close(fd);
    return fehler.isEmpty();
}

} // namespace Plattform
