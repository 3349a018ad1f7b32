// Plugin::loescheAlleDateien in a process the test can start unprivileged.
// iv_loeschhelfer <main-application dir> <dictionary> <0|1 only dictionary> [file ...]
// Prints "ergebnis=", "fehler=" and "rest=" (remaining entries joined by "|").

#include "pluginManager/plugin.h"
#include "pluginManager/startwerte.h"

#include <QCoreApplication>
#include <QStringList>
#include <QTextStream>

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() == 2 && args.at(1) == QLatin1String("--probe"))
        return 0;
    if (args.size() < 4)
        return 2;
    gs_KoraDir = args.at(1);
    Plugin p;
    p.setzeDictDatei(args.at(2));
    p.setzeDateien(args.mid(4));
    QString fehler;
    const bool ok = p.loescheAlleDateien(fehler, args.at(3) == QLatin1String("1"));
    QTextStream aus(stdout);
    aus.setCodec("UTF-8");
    aus << "ergebnis=" << (ok ? 1 : 0) << '\n'
        << "fehler=" << fehler << '\n'
        << "rest=" << p.gibDateien().join(QLatin1Char('|')) << '\n';
    return 0;
}
