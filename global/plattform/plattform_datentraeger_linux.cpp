// What the manager needs to know about the disk that holds a folder: its
// free space (checked before downloads and installations) and whether it is
// a network share (the manager refuses to update such an installation).

#include "global/plattform/plattform.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>

#include <cerrno>
#include <cstring>
#include <sys/statfs.h>
#include <sys/statvfs.h>

namespace Plattform {

namespace {

// The folder itself when it exists, else the nearest existing one above it.
QString vorhandenerOrdner(const QString& pfad)
{
    QString p = QDir::cleanPath(QDir::fromNativeSeparators(QFileInfo(pfad).absoluteFilePath()));
    while (!p.isEmpty() && !QFileInfo::exists(p)) {
        const QString eltern = QFileInfo(p).absolutePath();
        if (eltern == p)
            break;
        p = eltern;
    }
    return p;
}

// Magic numbers of statfs for file systems that live on another machine.
bool istNetzTyp(unsigned long typ)
{
    switch (typ) {
    case 0x6969UL:      // NFS
    case 0x517BUL:      // SMB
    case 0xFF534D42UL:  // CIFS
    case 0xFE534D42UL:  // SMB2
    case 0x5346414FUL:  // AFS (OpenAFS)
    case 0x6B414653UL:  // AFS (kernel)
    case 0x73757245UL:  // Coda
    case 0x564CUL:      // NCP
    case 0x01021997UL:  // 9P
    case 0x00C36400UL:  // Ceph
        return true;
    default:
        return false;
    }
}

// The subtype of the FUSE mount that holds `ordner` ("sshfs" for
// "fuse.sshfs"), from the longest matching mount point.
QString fuseUntertyp(const QString& ordner)
{
    QFile mounts(QStringLiteral("/proc/self/mounts"));
    if (!mounts.open(QIODevice::ReadOnly))
        return QString();
    QString besterPunkt, besterTyp;
    while (!mounts.atEnd()) {
        const QList<QByteArray> felder = mounts.readLine().split(' ');
        if (felder.size() < 3)
            continue;
        // Blanks in mount points are written as \040.
        QString punkt = QString::fromLocal8Bit(felder.at(1)).replace(QLatin1String("\\040"), QLatin1String(" "));
        const QString typ = QString::fromLatin1(felder.at(2));
        const bool passt = ordner == punkt || punkt == QLatin1String("/")
            || ordner.startsWith(punkt + QLatin1Char('/'));
        if (passt && punkt.size() >= besterPunkt.size()) {
            besterPunkt = punkt;
            besterTyp = typ;
        }
    }
    return besterTyp.startsWith(QLatin1String("fuse.")) ? besterTyp.mid(5) : QString();
}

} // namespace

bool freierSpeicher(const QString& ordner, quint64& freiBytes, QString* fehler)
{
    freiBytes = 0;
    const QString pfad = vorhandenerOrdner(ordner);
    struct statvfs info;
    if (pfad.isEmpty() || ::statvfs(QFile::encodeName(pfad).constData(), &info) != 0) {
        if (fehler)
            *fehler = QStringLiteral("statvfs(%1): %2").arg(pfad, QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    freiBytes = quint64(info.f_bavail) * quint64(info.f_frsize);
    return true;
}

bool istNetzlaufwerk(const QString& pfad)
{
    const QString ordner = vorhandenerOrdner(pfad);
    struct statfs info;
    if (ordner.isEmpty() || ::statfs(QFile::encodeName(ordner).constData(), &info) != 0)
        return false;
    const unsigned long typ = static_cast<unsigned long>(info.f_type) & 0xFFFFFFFFUL;
    if (istNetzTyp(typ))
        return true;
    if (typ != 0x65735546UL) // FUSE
        return false;
    static const QSet<QString> netz = { QStringLiteral("sshfs"), QStringLiteral("curlftpfs"), QStringLiteral("s3fs"),
                                        QStringLiteral("rclone"), QStringLiteral("davfs"), QStringLiteral("smbnetfs"),
                                        QStringLiteral("glusterfs"), QStringLiteral("gvfsd-fuse"), QStringLiteral("cephfs"),
                                        QStringLiteral("ceph-fuse"), QStringLiteral("nfs-ganesha") };
    return netz.contains(fuseUntertyp(QFileInfo(ordner).canonicalFilePath()));
}

} // namespace Plattform
