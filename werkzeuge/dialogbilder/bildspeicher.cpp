#include "werkzeuge/dialogbilder/bildspeicher.h"

#include <QApplication>
#include <QDir>
#include <QPixmap>
#include <QWidget>
#include <cstdio>

bool speichereBild(QWidget* w, const QString& ordner, const QString& name)
{
    for (int i = 0; i < 3; ++i)
        QApplication::processEvents();
    const QString pfad = QDir(ordner).filePath(name + QStringLiteral(".png"));
    if (!w->grab().save(pfad, "PNG")) {
        std::fprintf(stderr, "Konnte %s nicht schreiben\n", qPrintable(pfad));
        return false;
    }
    std::printf("%s\n", qPrintable(pfad));
    return true;
}
