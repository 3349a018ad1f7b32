// Times Crypto::md5Pruefsumme on one file and reports the peak memory of the
// process, for bench/md5.sh to compare with md5sum on the same file.

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTextStream>
#include <sys/resource.h>

#include "global/crypto/crypto.h"

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QTextStream aus(stdout);
    if (app.arguments().size() != 2) {
        QTextStream(stderr) << "Aufruf: md5-bench DATEI\n";
        return 2;
    }
    QElapsedTimer uhr;
    uhr.start();
    const QString summe = Crypto::md5Pruefsumme(app.arguments().at(1));
    const qint64 ns = uhr.nsecsElapsed();
    rusage nutzung {};
    getrusage(RUSAGE_SELF, &nutzung);
    aus << "md5 " << summe << '\n'
        << "sekunden " << QString::number(ns / 1e9, 'f', 3) << '\n'
        << "spitze_kib " << nutzung.ru_maxrss << '\n';
    return summe.size() == 32 ? 0 : 1;
}
