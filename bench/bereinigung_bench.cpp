// The clean-up after a run (obsolete files and letter-case repair) over
// 10 000 and 100 000 listed files, in one run: the work must grow linearly,
// 10x the files in at most 12x the time.
//
//   bereinigung-bench [KLEIN] [FAKTOR]     (defaults 10000 and 10)
//
// Every tenth listed file is no longer listed after the run (deleted), every
// tenth other one is listed in another letter case (renamed). The folders are
// made in ${TMPDIR:-/tmp} and removed at the end; only the clean-up is timed.

#include "pluginManager/pluginManager.h"
#include "pluginManager/startwerte.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <cstdio>

namespace {

struct Ergebnis {
    qint64 ms = 0;
    bool ok = false;
};

Ergebnis miss(const QString& ordner, int anzahl)
{
    const QString kora = ordner + QStringLiteral("/Fiscalon");
    QStringList vorher, nachher;
    vorher.reserve(anzahl);
    nachher.reserve(anzahl);
    for (int i = 0; i < anzahl; ++i) {
        const QString dir = QStringLiteral("modul%1").arg(i % 200);
        const QString name = QStringLiteral("%1/Datei_%2.DAT").arg(dir).arg(i);
        QDir().mkpath(kora + QLatin1Char('/') + dir);
        QFile f(kora + QLatin1Char('/') + name);
        if (!f.open(QIODevice::WriteOnly))
            return {};
        f.close();
        vorher.append(name);
        if (i % 10 == 3)
            continue; // obsolete
        nachher.append(i % 10 == 7 ? QStringLiteral("%1/datei_%2.dat").arg(dir).arg(i) : name);
    }
    QString zeile;
    leseParameter(QStringList{ QStringLiteral("bench"), QStringLiteral("--koraDir=") + kora,
                               QStringLiteral("--dirUserKora=") + ordner + QStringLiteral("/kora") },
                  zeile);
    PluginManager pm;
    QElapsedTimer uhr;
    uhr.start();
    pm.bereinigen(kora, vorher, nachher);
    pm.bereinigenGrossKleinschreibung(nachher);
    Ergebnis e;
    e.ms = uhr.elapsed();
    // Spot checks: an obsolete file is gone, a renamed one has its new name.
    e.ok = !QFile::exists(kora + QStringLiteral("/modul3/Datei_3.DAT")) && QFile::exists(kora + QStringLiteral("/modul7/datei_7.dat"))
        && pm.gibMeldungen().isEmpty();
    return e;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList a = app.arguments();
    const int klein = a.size() > 1 ? a.at(1).toInt() : 10000;
    const int faktor = a.size() > 2 ? a.at(2).toInt() : 10;
    QTemporaryDir tmp;
    if (klein <= 0 || faktor <= 1 || !tmp.isValid()) {
        std::fprintf(stderr, "Aufruf: bereinigung-bench [KLEIN] [FAKTOR]\n");
        return 2;
    }
    // Settings and the manager's folders stay inside the temporary folder.
    qputenv("HOME", tmp.path().toLocal8Bit());
    qputenv("XDG_CONFIG_HOME", (tmp.path() + QStringLiteral("/.config")).toLocal8Bit());
    qputenv("FISCALON_WURZEL", (tmp.path() + QStringLiteral("/wurzel")).toLocal8Bit());

    const Ergebnis e1 = miss(tmp.path() + QStringLiteral("/klein"), klein);
    const Ergebnis e2 = miss(tmp.path() + QStringLiteral("/gross"), klein * faktor);
    if (!e1.ok || !e2.ok) {
        std::fprintf(stderr, "Die Bereinigung hat nicht das erwartete Ergebnis.\n");
        return 1;
    }
    const double verhaeltnis = double(qMax<qint64>(e2.ms, 1)) / double(qMax<qint64>(e1.ms, 1));
    std::printf("Bereinigung mit Gross-/Kleinschreibung: %d Dateien %lld ms, %d Dateien %lld ms\n", klein,
                static_cast<long long>(e1.ms), klein * faktor, static_cast<long long>(e2.ms));
    std::printf("Verhaeltnis %.2f fuer %dx die Dateien (Ziel <= %.1f): %s\n", verhaeltnis, faktor, faktor * 1.2,
                verhaeltnis <= faktor * 1.2 ? "erreicht" : "verfehlt");
    return verhaeltnis <= faktor * 1.2 ? 0 : 1;
}
