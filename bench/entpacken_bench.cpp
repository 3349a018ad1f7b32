// Unpacks one archive with ZipArchiv::entpacke, as the engine does, and
// reports the time and the peak memory of the process, for bench/entpacken.sh
// to compare with unzip on the same archive.
//
//   entpacken-bench ARCHIV ZIELORDNER

#include "global/archiv/ziparchiv.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTextStream>
#include <sys/resource.h>

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QTextStream aus(stdout);
    if (app.arguments().size() != 3) {
        QTextStream(stderr) << "Aufruf: entpacken-bench ARCHIV ZIELORDNER\n";
        return 2;
    }
    QElapsedTimer uhr;
    uhr.start();
    ZipArchiv archiv;
    if (!archiv.oeffne(app.arguments().at(1)) || !archiv.entpacke(app.arguments().at(2))) {
        QTextStream(stderr) << "Fehler: " << archiv.errorString() << '\n';
        return 1;
    }
    const qint64 ns = uhr.nsecsElapsed();
    rusage nutzung {};
    getrusage(RUSAGE_SELF, &nutzung);
    aus << "sekunden " << QString::number(ns / 1e9, 'f', 3) << '\n' << "spitze_kib " << nutzung.ru_maxrss << '\n';
    return 0;
}
