#pragma once
// The process-wide start-up values. Only leseParameter (and main, for
// gb_SilentUpdate) writes them; everything else reads.

#include <QString>
#include <QStringList>

extern QString gs_ProgrammPfad;
extern bool gb_ZeigeDlg;
extern bool gb_Updateueberpuefung;
extern bool gb_SelbstUpdate;
extern bool gb_Admin;
extern bool gb_ZeigeBenutzerDefTab;
extern bool gb_KeinSelbstUpdate;
extern bool gb_STARTE_AUS_SERVICE;
extern unsigned int gi_InstanzNr;
extern QString gs_KoraDir;
extern QString gs_DirUserKora;
extern QString gs_Redirect;
extern QString gs_DelPlugin;
extern QString gs_InstPlugin;
extern bool gb_SilentUpdate;
// "--help" or "-h": print the usage and end before anything else happens.
extern bool gb_Hilfe;
// "--pruefen": verify every installed part and report, without changing anything.
extern bool gb_Pruefen;

// The two fixed words of our messages.
extern const QString gs_AnwendungsName; // "Installationsverwaltung"
extern const QString gs_ModusSilentUpdate; // "SilentUpdate"

// Exit code of "--pruefen" when at least one part is damaged.
constexpr int EXIT_BESCHAEDIGT = 3;

// Fills the start-up values from the arguments (argv[0] first); `kommandozeile`
// receives all arguments joined by one blank.
void leseParameter(const QStringList& argumente, QString& kommandozeile);
void leseParameter(int argc, char** argv, QString& kommandozeile);
// Back to the values before any command line was read (for tests).
void setzeStartwerteZurueck();

// True when gs_KoraDir was not given and was derived from the program's folder.
bool istKoraDirAbgeleitet();
// The German usage text of "--help": the switches and the exit codes.
QString gibHilfetext();

// INFO "I:<instance>; ExitCode: <code>".
void logExitCode(int code);
// Neither started by the service, nor a restarted instance, nor elevated.
bool istErsterProzess();
// The notice that updates are already being searched or installed; at most
// one at a time across processes.
void zeigeHinweisSchonGestartet();
