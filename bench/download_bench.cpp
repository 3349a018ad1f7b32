// Downloads one file with the manager's download manager, as the engine does,
// and prints the time; the script compares it with curl in the same run.
//
//   download-bench URL ZIELORDNER

#include "global/downloadManager/downloadmanager.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <cstdio>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    if (argc != 3) {
        std::fprintf(stderr, "Aufruf: download-bench URL ZIELORDNER\n");
        return 2;
    }
    downloadManager dm;
    // The local server has a self-signed certificate, as in the QS test mode.
    dm.setTestmodus(true);
    dm.setUrl(QString::fromLocal8Bit(argv[1]));
    dm.setTargetPath(QString::fromLocal8Bit(argv[2]));
    int ergebnis = 1;
    QElapsedTimer uhr;
    QObject::connect(&dm, &downloadManager::finished, &app, [&](bool fehler, const QString& pfad) {
        if (fehler)
            std::fprintf(stderr, "Fehler: %s\n", qPrintable(dm.errorString()));
        else
            std::printf("datei %s\nzeit %.3f\n", qPrintable(pfad), uhr.elapsed() / 1000.0);
        ergebnis = fehler ? 1 : 0;
        app.quit();
    });
    uhr.start();
    dm.downloadStart();
    app.exec();
    return ergebnis;
}
