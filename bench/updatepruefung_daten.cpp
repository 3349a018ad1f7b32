// Makes the data of the update-check benchmark in one process: module parts
// with signed dictionaries, update-server trees built from them by the
// publishing tool's own code, and installations that hold some of them.
//
//   updatepruefung-daten AUSGABE SCHLUESSEL server=N... installation=N...
//
// AUSGABE/teile/mNNNNN     module parts (one program file, one help file,
//                          a signed dictionary; years 2015 to 2024)
// AUSGABE/server-N         document root offering the main application,
//                          the manager, the service and the first N modules
// AUSGABE/installation-N/wurzel/opt/Fiscalon
//                          the main application and the first N modules,
//                          as the server offers them (nothing to update);
//                          the manager and the service in the service folder
// SCHLUESSEL is the private key the build trusts (its development key).

#include "global/crypto/crypto.h"
#include "werkzeuge/veroeffentlichen/dictschreiber.h"
#include "werkzeuge/veroeffentlichen/schluessel.h"
#include "werkzeuge/veroeffentlichen/servervz.h"

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTextStream>
#include <algorithm>

namespace {

QTextStream& fehlerAus()
{
    static QTextStream s(stderr);
    return s;
}

bool schreibe(const QString& pfad, const QByteArray& inhalt)
{
    QDir().mkpath(QFileInfo(pfad).absolutePath());
    QFile f(pfad);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(inhalt) == inhalt.size();
}

struct Teil {
    QString ordner;
    QString dictName;
    DictSchreiber::Form form;
    QMap<QString, QString> kopf;
    QList<QPair<QString, QByteArray>> dateien;
};

bool baueTeil(const Teil& t, const QByteArray& schluessel)
{
    QDir(t.ordner).removeRecursively();
    for (const auto& d : t.dateien) {
        if (!schreibe(t.ordner + QLatin1Char('/') + d.first, d.second))
            return false;
    }
    DictSchreiber::Auftrag a;
    a.ordner = t.ordner;
    a.name = t.dictName;
    a.form = t.form;
    a.kopf = t.kopf;
    // The tool's own writers replace files with a sync each; thousands of
    // them would measure the disk, not this program.
    QByteArray inhalt, signatur;
    QString meldung;
    const QString dict = t.ordner + QStringLiteral("/dict/") + t.dictName;
    if (!DictSchreiber::baueInhalt(a, inhalt, meldung) || !Schluessel::signiere(inhalt, schluessel, signatur, meldung)
        || !schreibe(dict, inhalt) || !schreibe(Crypto::signaturPfad(dict), signatur)) {
        fehlerAus() << "Fehler: " << t.ordner << ": " << meldung << Qt::endl;
        return false;
    }
    return true;
}

QMap<QString, QString> kopf(const QString& kurzname, const QString& jahr, const QString& langname, const QString& version,
                            const QString& revision, const QString& nrAlle, const QString& nrPlugin)
{
    return { { QStringLiteral("kurzname"), kurzname },
             { QStringLiteral("veranlagungszeitraum"), jahr },
             { QStringLiteral("unterfallArtID"), QStringLiteral("10") },
             { QStringLiteral("langname"), langname },
             { QStringLiteral("versionsNummer"), version },
             { QStringLiteral("revision"), revision },
             { QStringLiteral("pluginAlleVersionsNummer"), nrAlle },
             { QStringLiteral("pluginGruppeVersionsNummer"), QStringLiteral("1") },
             { QStringLiteral("pluginVersionsNummer"), nrPlugin },
             { QStringLiteral("anwendungInterfaceNummer"), QStringLiteral("5") },
             { QStringLiteral("kategorie"), QStringLiteral("Steuer") } };
}

QString modulName(int i)
{
    return QStringLiteral("m%1").arg(i, 5, 10, QLatin1Char('0'));
}

void kopiereOrdner(const QString& quelle, const QString& ziel)
{
    QDirIterator it(quelle, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString datei = it.next();
        const QString nach = ziel + datei.mid(quelle.size());
        QDir().mkpath(QFileInfo(nach).absolutePath());
        QFile::copy(datei, nach);
    }
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QTextStream aus(stdout);
    const QStringList a = app.arguments();
    QList<int> server, installationen;
    for (const QString& w : a.mid(3)) {
        bool ok = false;
        const int n = w.section(QLatin1Char('='), 1).toInt(&ok);
        if (ok && n >= 0 && w.startsWith(QLatin1String("server=")))
            server << n;
        else if (ok && n >= 0 && w.startsWith(QLatin1String("installation=")))
            installationen << n;
        else
            server << -1;
    }
    if (a.size() < 4 || server.contains(-1)) {
        fehlerAus() << "Aufruf: updatepruefung-daten AUSGABE SCHLUESSEL server=N... installation=N...\n";
        return 2;
    }
    const QString ausgabe = QDir(a.at(1)).absolutePath();
    QFile sf(a.at(2));
    if (!sf.open(QIODevice::ReadOnly)) {
        fehlerAus() << "Fehler: " << a.at(2) << ": " << sf.errorString() << Qt::endl;
        return 1;
    }
    const QByteArray schluessel = sf.readAll();
    QElapsedTimer uhr;
    uhr.start();

    // The parts every server offers and every installation has.
    const QString teile = ausgabe + QStringLiteral("/teile");
    Teil kora { teile + QStringLiteral("/kora"), QStringLiteral("kora_0.dict"), DictSchreiber::Form::CSV,
                kopf(QStringLiteral("kora"), QStringLiteral("9999"), QStringLiteral("Fiscalon"), QStringLiteral("21.3"),
                     QStringLiteral("27289"), QStringLiteral("21"), QStringLiteral("2")),
                { { QStringLiteral("bin/kora"), "Fiscalon Hauptprogramm\n" },
                  { QStringLiteral("lib/libsteuer.so"), "Steuerberechnung\n" },
                  { QStringLiteral("hilfe/index.html"), "<html><body>Hilfe</body></html>\n" } } };
    Teil instv { teile + QStringLiteral("/instv"), QStringLiteral("instv_0.vdict"), DictSchreiber::Form::JSON,
                 kopf(QStringLiteral("instv"), QStringLiteral("0"), QStringLiteral("Installationsverwaltung"),
                      QStringLiteral("21.3.1"), QStringLiteral("27289"), QStringLiteral("1"), QStringLiteral("1")),
                 { { QStringLiteral("bin/installationsverwaltung"), "Installationsverwaltung (Platzhalter)\n" } } };
    Teil dienst { teile + QStringLiteral("/service"), QStringLiteral("service_0.vdict"), DictSchreiber::Form::JSON,
                  kopf(QStringLiteral("service"), QStringLiteral("0"), QStringLiteral("Fiscalon Update Service"),
                       QStringLiteral("21.3.1"), QStringLiteral("27289"), QStringLiteral("1"), QStringLiteral("1")),
                  { { QStringLiteral("bin/tavoService"), "Dienst (Platzhalter)\n" } } };
    for (const Teil* t : { &kora, &instv, &dienst }) {
        if (!baueTeil(*t, schluessel))
            return 1;
    }
    const int anzahl = std::max(*std::max_element(server.begin(), server.end()),
                                installationen.isEmpty() ? 0 : *std::max_element(installationen.begin(), installationen.end()));
    QStringList module;
    for (int i = 0; i < anzahl; ++i) {
        const QString k = modulName(i);
        const QString jahr = QString::number(2015 + i % 10);
        Teil m { teile + QLatin1Char('/') + k, k + QLatin1Char('_') + jahr.right(2) + QStringLiteral(".dict"),
                 i % 2 ? DictSchreiber::Form::JSON : DictSchreiber::Form::CSV,
                 kopf(k, jahr, QStringLiteral("Modul %1").arg(i), QStringLiteral("21.3.1"), QStringLiteral("27289"),
                      QStringLiteral("21"), QStringLiteral("1")),
                 { { QStringLiteral("plugins/%1%2.so").arg(k, jahr), QStringLiteral("Modul %1 %2\n").arg(k, jahr).toUtf8() },
                   { QStringLiteral("hilfe/%1/%2.html").arg(k, jahr), QStringLiteral("<html>%1</html>\n").arg(k).toUtf8() } } };
        if (!baueTeil(m, schluessel))
            return 1;
        module << m.ordner;
    }
    aus << "Teile: " << anzahl << " Module in " << uhr.elapsed() / 1000.0 << " s" << Qt::endl;

    for (const int n : qAsConst(server)) {
        ServerVz::Auftrag auftrag;
        auftrag.dokumentwurzel = ausgabe + QStringLiteral("/server-%1").arg(n);
        QDir(auftrag.dokumentwurzel).removeRecursively();
        auftrag.release = QStringLiteral("r27289");
        auftrag.umleitung = ServerVz::umleitungsName(true, QString());
        auftrag.teile = QStringList { kora.ordner, instv.ordner, dienst.ordner } + module.mid(0, n);
        auftrag.privatPem = schluessel;
        QStringList protokoll;
        QString meldung;
        if (!ServerVz::baue(auftrag, protokoll, meldung)) {
            fehlerAus() << "Fehler: Server mit " << n << " Modulen: " << meldung << Qt::endl;
            return 1;
        }
    }
    for (const int n : qAsConst(installationen)) {
        const QString wurzel = ausgabe + QStringLiteral("/installation-%1/wurzel").arg(n);
        QDir(wurzel).removeRecursively();
        const QString koraDir = wurzel + QStringLiteral("/opt/Fiscalon");
        const QString dienstDir = wurzel + QStringLiteral("/opt/Fiscalon Update Service");
        for (const QString& t : QStringList { kora.ordner } + module.mid(0, n))
            kopiereOrdner(t, koraDir);
        kopiereOrdner(instv.ordner, dienstDir);
        kopiereOrdner(dienst.ordner, dienstDir);
    }
    aus << "Fertig in " << uhr.elapsed() / 1000.0 << " s" << Qt::endl;
    return 0;
}
