// The archive entry-name check against an independent rule: an accepted name,
// joined to a folder and cleaned, stays inside that folder and carries no
// control character.

#include "fuzzhilfe.h"

#include "global/archiv/ziparchiv.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* daten, size_t groesse)
{
    const QString name = QString::fromUtf8(Fuzz::bytes(daten, groesse));
    if (!ZipArchiv::pruefeName(name).isEmpty())
        return 0;
    static const QString basis = QStringLiteral("/ziel/ordner");
    const QString voll = QDir::cleanPath(basis + QLatin1Char('/') + name);
    Fuzz::verlange(voll.startsWith(basis + QLatin1Char('/')) || voll == basis, "Name verlaesst den Ordner", name);
    // Windows reads a backslash as a separator too.
    const QString windows = QDir::cleanPath(basis + QLatin1Char('/') + QString(name).replace(QLatin1Char('\\'), QLatin1Char('/')));
    Fuzz::verlange(windows.startsWith(basis + QLatin1Char('/')) || windows == basis, "Name verlaesst den Ordner (Windows)", name);
    for (const QChar c : name)
        Fuzz::verlange(c.unicode() >= 0x20 && c.unicode() != 0x7f, "Steuerzeichen angenommen", name);
    return 0;
}
