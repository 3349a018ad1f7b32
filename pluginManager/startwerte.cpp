#include "pluginManager/startwerte.h"

#include "global/plattform/plattform.h"
#include "global/varnelApplication/logbase.h"
#include "global/varnelApplication/rueckfrage.h"
#include "global/varnelApplication/textausliteral.h"

#include <QDir>
#include <QFileInfo>

QString gs_ProgrammPfad;
bool gb_ZeigeDlg = false;
bool gb_Updateueberpuefung = false;
bool gb_SelbstUpdate = false;
bool gb_Admin = false;
bool gb_ZeigeBenutzerDefTab = false;
bool gb_KeinSelbstUpdate = false;
bool gb_STARTE_AUS_SERVICE = false;
unsigned int gi_InstanzNr = 1;
QString gs_KoraDir;
QString gs_DirUserKora;
QString gs_Redirect;
QString gs_DelPlugin;
QString gs_InstPlugin;
bool gb_SilentUpdate = false;
bool gb_Hilfe = false;
bool gb_Pruefen = false;

namespace {
bool gb_KoraDirAbgeleitet = false;
}

const QString gs_AnwendungsName = QStringLiteral("Installationsverwaltung");
const QString gs_ModusSilentUpdate = QStringLiteral("SilentUpdate");

void setzeStartwerteZurueck()
{
    gs_ProgrammPfad.clear();
    gb_ZeigeDlg = gb_Updateueberpuefung = gb_SelbstUpdate = gb_Admin = false;
    gb_ZeigeBenutzerDefTab = gb_KeinSelbstUpdate = gb_STARTE_AUS_SERVICE = false;
    gi_InstanzNr = 1;
    gs_KoraDir.clear();
    gs_DirUserKora.clear();
    gs_Redirect.clear();
    gs_DelPlugin.clear();
    gs_InstPlugin.clear();
    gb_SilentUpdate = false;
    gb_Hilfe = gb_KoraDirAbgeleitet = gb_Pruefen = false;
}

namespace {

// A valued switch: the argument starts with it; the value is what follows the
// switch and one further character (the "=").
bool wertVon(const QString& argument, const QString& schalter, QString& wert)
{
    if (!argument.startsWith(schalter))
        return false;
    wert = argument.mid(schalter.size() + 1);
    return true;
}

QString abgeleitetesKoraDir(const QString& programm)
{
    if (programm.isEmpty())
        return QString();
    QDir dir(QFileInfo(Plattform::programmDatei(programm)).absolutePath());
    if (dir.cdUp())
        return QDir::toNativeSeparators(dir.absolutePath());
    IV_LOG_ERROR(textAusLiteral("Es kann nicht in das &uuml;bergeordnete Verzeichnis gewechselt werden."));
    return QDir::toNativeSeparators(Plattform::programmOrdner() + QStringLiteral("/Fiscalon/"));
}

} // namespace

void leseParameter(const QStringList& argumente, QString& kommandozeile)
{
    gb_ZeigeDlg = false;
    gb_Updateueberpuefung = false;
    gb_Admin = false;
    gb_ZeigeBenutzerDefTab = false;
    gb_KeinSelbstUpdate = false;
    gb_Hilfe = false;

    kommandozeile.clear();
    for (int i = 0; i < argumente.size(); ++i) {
        const QString& arg = argumente.at(i);
        if (i > 0)
            kommandozeile += QLatin1Char(' ');
        kommandozeile += arg;
        if (i == 0)
            gs_ProgrammPfad = arg;

        QString wert;
        if (arg == QLatin1String("--zeigeDlg"))
            gb_ZeigeDlg = true;
        if (arg == QLatin1String("--updatepruefung"))
            gb_Updateueberpuefung = true;
        if (arg == QLatin1String("--selbstUpdate"))
            gb_SelbstUpdate = true;
        if (arg == QLatin1String("--admin"))
            gb_Admin = true;
        if (arg == QLatin1String("--zeigeBenutzerDefTab2"))
            gb_ZeigeDlg = gb_ZeigeBenutzerDefTab = true;
        if (arg == QLatin1String("--keinSelbstUpdate"))
            gb_KeinSelbstUpdate = true;
        if (arg == QLatin1String("--esStart"))
            gb_STARTE_AUS_SERVICE = true;
        if (arg == QLatin1String("--pruefen"))
            gb_Pruefen = true;
        if (i > 0 && (arg == QLatin1String("--help") || arg == QLatin1String("-h")))
            gb_Hilfe = true;
        for (unsigned int nr = 2; nr <= 5; ++nr) {
            if (arg == QStringLiteral("--i%1").arg(nr))
                gi_InstanzNr = nr;
        }
        if (wertVon(arg, QStringLiteral("--koraDir"), wert))
            gs_KoraDir = wert;
        if (wertVon(arg, QStringLiteral("--dirUserKora"), wert))
            gs_DirUserKora = QDir::toNativeSeparators(wert);
        if (wertVon(arg, QStringLiteral("--redirect"), wert))
            gs_Redirect = wert;
        if (wertVon(arg, QStringLiteral("--delPlugin"), wert))
            gs_DelPlugin = wert;
        if (wertVon(arg, QStringLiteral("--instPlugin"), wert))
            gs_InstPlugin = wert;
    }

    gb_KoraDirAbgeleitet = gs_KoraDir.isEmpty();
    if (gb_KoraDirAbgeleitet)
        gs_KoraDir = abgeleitetesKoraDir(argumente.value(0));
}

bool istKoraDirAbgeleitet()
{
    return gb_KoraDirAbgeleitet;
}

QString gibHilfetext()
{
    return QStringLiteral(
        "Aufruf: installationsverwaltung [SCHALTER ...]\n"
        "\n"
        "Sucht Aktualisierungen von Fiscalon, lädt sie herunter und installiert oder entfernt Programmteile.\n"
        "Ohne Schalter wird geprüft, ob es Updates gibt; der Assistent erscheint nur, wenn es etwas zu tun gibt.\n"
        "\n"
        "Schalter (Werte immer als --schalter=WERT in einem Argument):\n"
        "  --zeigeDlg               den Assistenten anzeigen\n"
        "  --zeigeBenutzerDefTab2   wie --zeigeDlg, auf dem Reiter \"Benutzerdefinierte Auswahl\"\n"
        "  --updatepruefung         nur prüfen, ob ein Update vorhanden ist (Exit-Code 1, 0 oder -1)\n"
        "  --pruefen                alle installierten Teile gegen ihre signierten Dictionarys prüfen und\n"
        "                           berichten, ohne etwas zu ändern (Exit-Code 0 oder 3)\n"
        "  --keinSelbstUpdate       für ein Update der Installationsverwaltung nicht neu starten\n"
        "  --koraDir=ORDNER         Installationsordner von Fiscalon\n"
        "                           (ohne den Schalter: der Elternordner des Programmordners)\n"
        "  --dirUserKora=ORDNER     Datenordner des Benutzers (ini/kora.ini und log/)\n"
        "  --delPlugin=MODUL        ein Steuererklärungsmodul ohne Assistent entfernen: Kurzname und\n"
        "                           zweistelliges Jahr, z. B. est20 (ohne Jahr nur der Kurzname)\n"
        "  --instPlugin=LISTE       Steuererklärungsmodule installieren: Unterfallart_Jahr, mehrere durch \";\"\n"
        "                           getrennt, z. B. 10_2021;50_2021\n"
        "  --redirect=WERT          Wahl des Serverstandorts, wird beim Neustart weitergegeben\n"
        "  -h, --help               diesen Text zeigen\n"
        "  Von der Installationsverwaltung und dem Update-Dienst selbst gesetzt:\n"
        "  --selbstUpdate, --admin, --esStart, --i2 ... --i5\n"
        "Andere Argumente werden nicht beachtet.\n"
        "\n"
        "Exit-Codes (unter Linux kommt ein negativer Code als 256 + Code an, -1 als 255):\n"
        "   0   erledigt oder nichts zu tun\n"
        "   1   Update vorhanden (--updatepruefung)\n"
        "  -1   Index des Servers oder Modulliste fehlerhaft; keine lokale Installation (--updatepruefung);\n"
        "       Modul nicht gefunden oder nicht entfernt (--delPlugin)\n"
        "   2   Update-Server nicht erreichbar\n"
        "   3   --pruefen: mindestens ein Teil ist beschädigt (der nächste Lauf repariert ihn)\n"
        "  -2   eine andere Installationsverwaltung läuft bereits\n"
        "  91, -90, -91   SilentUpdate: nichts zu tun, Download fehlgeschlagen, Fiscalon läuft noch\n"
        "\n"
        "Log: DATENORDNER/log/installationsverwaltung.log, ohne --dirUserKora in ~/.config/fiscalon/kora/log/\n");
}

void leseParameter(int argc, char** argv, QString& kommandozeile)
{
    QStringList argumente;
    for (int i = 0; i < argc; ++i)
        argumente << QString::fromLocal8Bit(argv[i]);
    leseParameter(argumente, kommandozeile);
}

void logExitCode(int code)
{
    IV_LOG_INFO(QStringLiteral("I:%1; ExitCode: %2").arg(gi_InstanzNr).arg(code));
}

bool istErsterProzess()
{
    return !gb_STARTE_AUS_SERVICE && gi_InstanzNr < 2 && !gb_Admin;
}

void zeigeHinweisSchonGestartet()
{
    const QString text = textAusLiteral(
        "<br><br><br>Es wird gerade nach Updates gesucht oder es werden Updates installiert.<br>"
        "Falls noch erforderlich, starten Sie das Update sp&auml;ter erneut.");
    Plattform::BenannteSperre sperre(QStringLiteral("IvMsgBox"));
    if (!sperre.istGueltig()) {
        IV_LOG_ERROR(QStringLiteral("Fehler beim Aufruf von CreateMutexW"));
        zeigeMeldung(gs_AnwendungsName, text, 1);
        return;
    }
    const bool erhalten = sperre.versucheZuSperren();
    // The values of a wait on a Windows mutex: 0 obtained, 258 timed out.
    IV_LOG_DEBUG(QStringLiteral("iReturn = %1").arg(erhalten ? 0 : 258));
    if (erhalten)
        zeigeMeldung(gs_AnwendungsName, text, 1);
    else
        IV_LOG_INFO(QStringLiteral("Der Hinweis \"Das Programm arbeitet bereits...\" wird nicht angezeigt, da er schon zu sehen ist."));
    sperre.freigeben();
}
