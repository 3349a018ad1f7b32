#pragma once
// Zip archives, read and written with libzip. Reading trusts nothing.
//
// Unpacking (entpacke) is all or nothing:
// 1. Every entry is checked before anything is written: names (pruefeName,
//    strict UTF-8), link entries, encryption, compression method, two entries
//    that Windows would see as one file (letter case), a file and a folder
//    under one name, and the compression ratio (zip bombs: an entry may
//    declare at most 1100 times its compressed size plus 1 MiB; deflate
//    itself never exceeds about 1032:1). At most 100 000 entries, names up to
//    1024 bytes, each part up to 255 bytes.
// 2. The target is checked: no folder on the way that is a link leading
//    outside, no folder replaced by a file, no file replaced by a folder.
// 3. Every file is unpacked into a staging folder inside the target (same
//    file system, never a write outside it), read to its end so its CRC and
//    its declared size are checked; then one syncfs puts them on the disk.
// 4. Each file is moved into place with a rename; a file it replaces goes to
//    the staging folder first. When a move fails (a file in use, a folder
//    that appeared meanwhile), every file moved so far is put back and the
//    folders made are removed: the target is as it was, and the caller may
//    simply try again. Only when a file cannot be put back does the error
//    say so and the staging folder keep the old versions. The dictionaries
//    ("dict/...") move last. Before the first move the staging folder gets
//    the list of files to move ("bereit", on the disk before any move): a
//    crash during the moves leaves a mix of old and new files, which
//    vollendeZuege at the next start completes from the staging folder; the
//    manager's run journal (pluginManager/laufjournal.h) then verifies the
//    part and reinstalls it from the server if it is still not whole.
// A refused archive writes nothing at all; memory stays bounded (one 256 KiB
// buffer plus the list of names) whatever the archive's size.

#include <QString>
#include <QStringList>
#include <functional>

struct zip;

class ZipArchiv
{
public:
    ZipArchiv() = default;
    ~ZipArchiv();
    ZipArchiv(const ZipArchiv&) = delete;
    ZipArchiv& operator=(const ZipArchiv&) = delete;

    bool oeffne(const QString& pfad);
    void schliesse();
    bool istOffen() const { return m_zip != nullptr; }
    QString errorString() const { return m_fehler; }

    // Stored entry names in archive order.
    QStringList eintraege() const;
    // Sum of the uncompressed sizes, as the archive states them.
    qint64 entpackteGroesse() const;

    // The bytes of the first entry whose stored name equals `name` exactly.
    // Fails for a missing entry, a CRC error or more than `maxGroesse` bytes.
    bool leseEintrag(const QString& name, QByteArray& daten, qint64 maxGroesse = 64 * 1024 * 1024);

    // Unpacks every entry below `ziel` (created when missing), all or nothing
    // (see above). `fortschritt` gets bytes written and the total.
    bool entpacke(const QString& ziel, const std::function<void(qint64, qint64)>& fortschritt = {});

    // Called with the entry's name before each move into place (step 4); the
    // crash tests stop the process there. Empty: nothing is called.
    static void setzeZugBeobachter(std::function<void(const QString&)> beobachter);

    // Completes the moves of unpacks into `ziel` that a crash stopped after
    // their files reached the disk (staging folders with "bereit"): every
    // listed file still in the staging folder goes into place, under the
    // checks of step 2. The staging folders stay for the caller to remove.
    // The number of files moved; what could not be moved goes to `fehler`.
    static int vollendeZuege(const QString& ziel, QStringList& fehler);

    // Why a stored name is refused; empty for a clean relative name.
    static QString pruefeName(const QString& name);

    // Writes a new archive (an existing file is replaced when complete):
    // each pair is the source file and its name inside the archive.
    static bool erstelle(const QString& zipPfad, const QList<QPair<QString, QString>>& dateien, QString* fehler = nullptr);

private:
    bool fehler(const QString& text);
    bool istVerweis(qint64 index) const;

    struct zip* m_zip = nullptr;
    QString m_pfad;
    QString m_fehler;
};
