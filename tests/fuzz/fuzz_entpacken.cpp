// Unpacking an archive that arrives as bytes: written to a file, opened and
// unpacked into a folder, after which nothing may exist beside that folder
// and the archive, and nothing inside it may be a link.

#include "fuzzhilfe.h"

#include "global/archiv/ziparchiv.h"

#include <QDirIterator>
#include <QFile>
#include <QFileInfo>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* daten, size_t groesse)
{
    const QString arbeit = Fuzz::ordner() + QStringLiteral("/lauf");
    QDir(arbeit).removeRecursively();
    Fuzz::verlange(QDir().mkpath(arbeit + QStringLiteral("/ziel")), "kein Arbeitsordner", arbeit);
    const QString zip = arbeit + QStringLiteral("/archiv.zip");
    {
        QFile f(zip);
        Fuzz::verlange(f.open(QIODevice::WriteOnly), "Archiv nicht schreibbar", zip);
        f.write(reinterpret_cast<const char*>(daten), qint64(groesse));
    }
    ZipArchiv archiv;
    if (archiv.oeffne(zip)) {
        archiv.eintraege();
        archiv.entpacke(arbeit + QStringLiteral("/ziel"));
        archiv.schliesse();
    }
    const QStringList daneben = QDir(arbeit).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    Fuzz::verlange(daneben == QStringList({ QStringLiteral("archiv.zip"), QStringLiteral("ziel") }),
                   "ausserhalb des Ziels geschrieben:", daneben.join(QLatin1Char(' ')));
    Fuzz::verlange(QDir(Fuzz::ordner()).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot)
                       == QStringList(QStringLiteral("lauf")),
                   "ausserhalb des Arbeitsordners geschrieben");
    QDirIterator it(arbeit + QStringLiteral("/ziel"), QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QFileInfo info(it.next());
        Fuzz::verlange(!info.isSymLink(), "Verweis entpackt", info.filePath());
    }
    return 0;
}
