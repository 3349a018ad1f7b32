// fiscalon-veroeffentlichen: the publisher's side of the update server. It
// makes keys, signs files, writes dictionaries and builds the server's file
// tree; tests and the demo build all their fixtures with it at run time.

#include <QCoreApplication>
#include <QTextStream>
#include <cstdio>

#include "werkzeuge/veroeffentlichen/befehl.h"

namespace {

const char* const PROGRAMM = "fiscalon-veroeffentlichen";

void zeigeUebersicht(const QList<Befehl>& befehle, QTextStream& aus)
{
    aus << "Aufruf: " << PROGRAMM << " BEFEHL [Optionen] [Argumente]\n\n"
        << QStringLiteral("Werkzeug des Herausgebers: Schlüssel, Signaturen, Dictionary-Dateien und der Dateibaum des "
                          "Update-Servers.\n\n")
        << "Befehle:\n";
    for (const Befehl& b : befehle)
        aus << "  " << b.name.leftJustified(16) << b.kurzbeschreibung << '\n';
    aus << "\n" << PROGRAMM << " BEFEHL --help zeigt die Optionen eines Befehls.\n"
        << QStringLiteral("Rückgabe: 0 Erfolg, 1 Fehlschlag, 2 falscher Aufruf.\n");
}

void zeigeHilfe(const Befehl& b, QTextStream& aus)
{
    aus << "Aufruf: " << PROGRAMM << ' ' << b.name << " [Optionen]";
    if (!b.argumente.isEmpty())
        aus << ' ' << b.argumente;
    aus << "\n\n" << b.beschreibung << "\n\nOptionen:\n";
    for (const QCommandLineOption& o : b.optionen) {
        QString kopf = QStringLiteral("--") + o.names().first();
        if (!o.valueName().isEmpty())
            kopf += QStringLiteral(" <%1>").arg(o.valueName());
        aus << "  " << kopf.leftJustified(34) << ' ' << o.description();
        if (!o.defaultValues().isEmpty())
            aus << " Vorgabe: " << o.defaultValues().join(QLatin1Char(','));
        aus << '\n';
    }
    aus << "  " << QStringLiteral("-h, --help").leftJustified(34) << " Diese Hilfe.\n";
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QTextStream aus(stdout);
    QTextStream fehler(stderr);
    aus.setCodec("UTF-8");
    fehler.setCodec("UTF-8");

    QList<Befehl> befehle;
    registriereGrundbefehle(befehle);
    registriereServerbefehle(befehle);

    QStringList argumente = app.arguments();
    if (argumente.size() < 2 || argumente.at(1) == QLatin1String("--help") || argumente.at(1) == QLatin1String("-h")
        || argumente.at(1) == QLatin1String("hilfe")) {
        zeigeUebersicht(befehle, argumente.size() < 2 ? fehler : aus);
        return argumente.size() < 2 ? AUFRUFFEHLER : ERFOLG;
    }
    const QString name = argumente.at(1);
    const Befehl* befehl = nullptr;
    for (const Befehl& b : befehle) {
        if (b.name == name)
            befehl = &b;
    }
    if (!befehl) {
        fehler << QStringLiteral("Fehler: unbekannter Befehl »") << name << QStringLiteral("«.\n\n");
        zeigeUebersicht(befehle, fehler);
        return AUFRUFFEHLER;
    }

    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    parser.addOptions(befehl->optionen);
    const QCommandLineOption hilfe({ QStringLiteral("h"), QStringLiteral("help") }, QString());
    parser.addOption(hilfe);
    argumente.removeAt(1);
    if (!parser.parse(argumente)) {
        if (!parser.unknownOptionNames().isEmpty())
            fehler << QStringLiteral("Fehler: unbekannte Option »") << parser.unknownOptionNames().join(QStringLiteral("«, »"))
                   << QStringLiteral("«.\n");
        else
            fehler << "Fehler: " << parser.errorText() << '\n';
        fehler << PROGRAMM << ' ' << befehl->name << " --help zeigt die Optionen.\n";
        return AUFRUFFEHLER;
    }
    if (parser.isSet(hilfe)) {
        zeigeHilfe(*befehl, aus);
        return ERFOLG;
    }
    if (!befehl->argumente.isEmpty() || parser.positionalArguments().isEmpty())
        return befehl->ausfuehren(parser, aus, fehler);
    fehler << "Fehler: " << befehl->name << " erwartet keine Argumente: " << parser.positionalArguments().join(' ')
           << '\n';
    return AUFRUFFEHLER;
}
