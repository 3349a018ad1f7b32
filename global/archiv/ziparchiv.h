#pragma once
// Zip archives, read and written with libzip. Reading trusts nothing: entry
// names that could leave the target folder and link entries are refused
// before anything is written, every entry is read to its end so its CRC is
// checked, files land under a temporary name and are renamed when complete,
// and memory stays bounded whatever the archive's size.

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

    // Unpacks every entry below `ziel` (created when missing). All names are
    // checked first; one bad name fails the whole archive with nothing
    // written. `fortschritt` gets bytes written and the total.
    bool entpacke(const QString& ziel, const std::function<void(qint64, qint64)>& fortschritt = {});

    // Why a stored name is refused; empty for a name that stays inside.
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
