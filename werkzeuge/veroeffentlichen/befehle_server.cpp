// The sub-command that builds the update server's tree.

#include <QFile>

#include "werkzeuge/veroeffentlichen/befehl.h"
#include "werkzeuge/veroeffentlichen/servervz.h"

namespace {

// "true"/"1" and "false"/"0" in any case, written back as "true"/"false".
bool leseSchalter(const QString& text, QString& wert)
{
    const QString t = text.toLower();
    if (t == QLatin1String("true") || t == QLatin1String("1"))
        wert = QStringLiteral("true");
    else if (t == QLatin1String("false") || t == QLatin1String("0"))
        wert = QStringLiteral("false");
    else
        return false;
    return true;
}

int server(const QCommandLineParser& p, QTextStream& aus, QTextStream& fehler)
{
    ServerVz::Auftrag a;
    a.dokumentwurzel = p.value(QStringLiteral("ziel"));
    a.release = p.value(QStringLiteral("release"));
    const QString schluessel = p.value(QStringLiteral("schluessel"));
    a.teile = p.positionalArguments();
    if (a.dokumentwurzel.isEmpty() || a.release.isEmpty() || schluessel.isEmpty() || a.teile.isEmpty()) {
        fehler << QStringLiteral("Fehler: --ziel, --release, --schluessel und mindestens ein Release-Ordner sind nötig.\n");
        return AUFRUFFEHLER;
    }
    const bool qs = p.isSet(QStringLiteral("qs")) || p.isSet(QStringLiteral("qs-rev"));
    a.umleitung = ServerVz::umleitungsName(qs, p.value(QStringLiteral("qs-rev")));
    if (a.umleitung.isEmpty() || (p.isSet(QStringLiteral("qs-rev")) && p.value(QStringLiteral("qs-rev")).isEmpty())) {
        fehler << "Fehler: --qs-rev erwartet eine Revisionsnummer aus Ziffern.\n";
        return AUFRUFFEHLER;
    }
    if (!leseSchalter(p.value(QStringLiteral("selbstupdate")), a.selbstUpdate)
        || !leseSchalter(p.value(QStringLiteral("dienst")), a.dienst)) {
        fehler << "Fehler: --selbstupdate und --dienst sind true oder false.\n";
        return AUFRUFFEHLER;
    }
    for (const QString& u : p.values(QStringLiteral("update"))) {
        const int gleich = u.indexOf(QLatin1Char('='));
        bool ok = false;
        const uint rev = gleich > 0 ? u.left(gleich).toUInt(&ok, 10) : 0;
        if (!ok || gleich + 1 >= u.size()) {
            fehler << QStringLiteral("Fehler: --update erwartet REVISION=ORDNER, nicht »") << u << QStringLiteral("«.\n");
            return AUFRUFFEHLER;
        }
        a.updates.append({ rev, u.mid(gleich + 1) });
    }
    a.ueberschreiben = p.isSet(QStringLiteral("ueberschreiben"));

    QFile f(schluessel);
    if (!f.open(QIODevice::ReadOnly)) {
        fehler << "Fehler: " << schluessel << " kann nicht gelesen werden: " << f.errorString() << '\n';
        return FEHLSCHLAG;
    }
    a.privatPem = f.readAll();

    QStringList geschrieben;
    QString meldung;
    if (!ServerVz::baue(a, geschrieben, meldung)) {
        fehler << "Fehler: " << meldung << '\n';
        return FEHLSCHLAG;
    }
    for (const QString& g : qAsConst(geschrieben))
        aus << "geschrieben: " << g << '\n';
    aus << "Server-Verzeichnis " << a.release << " fertig; " << a.umleitung << QStringLiteral(" verweist darauf.\n");
    return ERFOLG;
}

} // namespace

void registriereServerbefehle(QList<Befehl>& befehle)
{
    const QString ordner = QStringLiteral("ordner");
    befehle.append(
        { QStringLiteral("server"), QStringLiteral("baut den Dateibaum des Update-Servers"),
          QStringLiteral(
              "Baut unter ZIEL/%1 alles, was der Update-Server für die Installationsverwaltung bereithält:\n"
              "  RELEASE/<kurzname>_<jahr>_<rev>.zip  jedes Modul als Zip-Archiv (Dateien mit relativen Pfaden, "
              "Dictionary samt Signatur),\n"
              "  RELEASE/<kurzname>_<rev>.zip   ebenso die Hauptanwendung (kora), die Installationsverwaltung "
              "(instv) und den Dienst (service),\n"
              "  RELEASE/kora_<alt>_<neu>.zip   die Update-Pakete der Hauptanwendung,\n"
              "  RELEASE/inhalt_downloadverzeichnis.zip(.sig)  Index der Hauptanwendung und der Module,\n"
              "  RELEASE/inhalt_techplugin.zip(.sig)           Index der Installationsverwaltung (instv) und des "
              "Dienstes (service),\n"
              "  userredirect(_v2.sig) bzw. qsredirect[_REV](_v2.sig)  Base64 des Release-Namens, signiert.\n"
              "Jeder ORDNER ist ein Teil so, wie er nach der Installation auf der Platte liegt, mit genau einem "
              "signierten Dictionary in ORDNER/dict (vom Befehl dict geschrieben). Name, Kurzname, Jahr, Rev, "
              "InterfaceNr, UnterfallArt, Version, NrAlle, NrGr, NrPlugin und die Dateiliste kommen aus dem "
              "Dictionary; es muss mit dem angegebenen Schlüssel signiert sein, und jede Datei des Ordners muss "
              "mit ihrer Prüfsumme darin stehen. Ein Update-Paket ist ein Ordner mit den geänderten Dateien "
              "und dem neuen Dictionary der Hauptanwendung. Gleiche Ordner ergeben byteweise gleiche Archive "
              "(feste Zeitstempel, feste Reihenfolge). Das Release-Verzeichnis wird daneben gebaut und erst "
              "fertig eingesetzt; die Umleitungsdatei wird zuletzt geschrieben.")
              .arg(ServerVz::basisPfad()),
          QStringLiteral("ORDNER..."),
          { { QStringLiteral("ziel"), QStringLiteral("Dokumentwurzel des Servers (z. B. die root von nginx)."),
              ordner },
            { QStringLiteral("release"), QStringLiteral("Name des Release-Verzeichnisses, z. B. r27289."),
              QStringLiteral("name") },
            { QStringLiteral("schluessel"),
              QStringLiteral("Privater Schlüssel (PEM) für Indexarchive und Umleitungsdatei."),
              QStringLiteral("datei") },
            { QStringLiteral("update"),
              QStringLiteral("Update-Paket der Hauptanwendung für die ältere Revision REV; mehrfach möglich."),
              QStringLiteral("REV=ordner") },
            { QStringLiteral("qs"), QStringLiteral("Umleitungsdatei qsredirect statt userredirect.") },
            { QStringLiteral("qs-rev"), QStringLiteral("Umleitungsdatei qsredirect_REV (schließt --qs ein)."),
              QStringLiteral("rev") },
            { QStringLiteral("selbstupdate"),
              QStringLiteral("Param SelbstUpdate der Installationsverwaltung (true/false)."),
              QStringLiteral("wert"), QStringLiteral("true") },
            { QStringLiteral("dienst"), QStringLiteral("Param Dienst der Installationsverwaltung (true/false)."),
              QStringLiteral("wert"), QStringLiteral("true") },
            { QStringLiteral("ueberschreiben"), QStringLiteral("Ein vorhandenes Release-Verzeichnis ersetzen.") } },
          server });
}
