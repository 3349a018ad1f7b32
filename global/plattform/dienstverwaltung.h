#pragma once
// The machine's service manager, as the update service control needs it:
// register, open, start with parameters, ask the state, stop, delete. Two
// backends: systemd where it is the running service manager, and a small
// built-in one for machines without it (containers, CI, the tests).
//
// Every operation returns 0 or the Windows error number of the failure, so
// the callers' log texts stay the same on every system.

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>

namespace Plattform {

enum DienstFehler {
    DIENST_DATEI_FEHLT = 2,
    DIENST_ZUGRIFF_VERWEIGERT = 5,
    DIENST_UNGUELTIGE_DATEN = 13,
    DIENST_UNGUELTIGER_NAME = 123,
    DIENST_LAEUFT_SCHON = 1056,
    DIENST_FEHLT = 1060,
    DIENST_NICHT_AKTIV = 1062,
    DIENST_SPEZIFISCHER_FEHLER = 1066,
    DIENST_PROZESS_ABGEBROCHEN = 1067,
    DIENST_EXISTIERT = 1073,
    DIENST_ALLGEMEIN = 1
};

struct DienstStatus
{
    // The values of the Windows service states.
    enum Zustand { Gestoppt = 1, Startet = 2, Stoppt = 3, Laeuft = 4 };
    Zustand zustand = Gestoppt;
    int exitCode = 0;        // 0, DIENST_SPEZIFISCHER_FEHLER or DIENST_PROZESS_ABGEBROCHEN
    int dienstExitCode = 0;  // the service's own code with DIENST_SPEZIFISCHER_FEHLER
    qint64 pid = 0;
};

class Dienstverwaltung
{
public:
    virtual ~Dienstverwaltung() = default;
    // DIENST_EXISTIERT when a service of that name is registered already.
    virtual int erzeuge(const QString& name, const QString& anzeigename, const QString& beschreibung,
                        const QString& programm) = 0;
    // 0 when the service is registered and usable.
    virtual int oeffne(const QString& name) = 0;
    // Starts it with `parameter` and returns without waiting for it to run.
    virtual int starte(const QString& name, const QStringList& parameter) = 0;
    virtual int status(const QString& name, DienstStatus& status) = 0;
    // Asks it to stop and returns without waiting.
    virtual int stoppe(const QString& name) = 0;
    virtual int loesche(const QString& name) = 0;
    // Lets the members of `gruppe` start and stop the registered service:
    // a polkit rule for the unit under systemd, an access entry in the
    // registration with the built-in manager. Removed with the service.
    virtual int erlaubeSteuerung(const QString& name, const QString& gruppe) = 0;
};

// Whether `gruppe` is a plain group name (no quoting needed anywhere).
bool istGruppenname(const QString& gruppe);
// The polkit rule of the systemd backend and its file.
QByteArray polkitRegel(const QString& name, const QString& gruppe);
QString polkitRegelDatei(const QString& name);

// The built-in service manager hands a service this variable: the file to
// create once it is ready (until then it counts as starting). Under systemd
// a service says so through $NOTIFY_SOCKET instead. meldeDienstBereit does both.
#define DIENST_BEREIT_VARIABLE "FISCALON_DIENST_BEREIT"
bool meldeDienstBereit();

// systemd when it runs the machine (/run/systemd/system below the root
// override), else the built-in backend.
std::unique_ptr<Dienstverwaltung> erzeugeDienstverwaltung();
std::unique_ptr<Dienstverwaltung> erzeugeEingebauteDienstverwaltung();

// Runs `systemctl` with the arguments; its exit code, its output in `ausgabe`.
using Befehlsausfuehrung = std::function<int(const QStringList& argumente, QByteArray& ausgabe)>;
// Without a runner, systemctl itself.
std::unique_ptr<Dienstverwaltung> erzeugeSystemdDienstverwaltung(Befehlsausfuehrung ausfuehrung = {});
// The system unit the systemd backend writes; empty when a value cannot be
// written into a unit (line breaks).
QByteArray systemdUnit(const QString& name, const QString& anzeigename, const QString& beschreibung,
                       const QString& programm);
QString systemdUnitDatei(const QString& name);
// The socket unit through which the members of `gruppe` start the service
// with parameters; empty for a name or group that cannot go into a unit.
QByteArray systemdSocketUnit(const QString& name, const QString& gruppe);
QString systemdSocketUnitDatei(const QString& name);

// The start parameters of the systemd backend: a root-only file that the
// service program reads (systemd has no start arguments for a unit).
QString dienstParameterDatei(const QString& name);
bool schreibeDienstParameter(const QString& datei, const QStringList& parameter, QString& fehler);
// Reads and removes the file; refuses a file that another user than this
// process's (or root) owns or that others may read or change.
bool leseDienstParameter(const QString& datei, QStringList& parameter, QString& fehler);

// The way in for ordinary users: a stream socket of root's, open to one
// group (0660), on which a caller sends ONE line, "starte" or "stoppe" and
// the start parameters, each percent-encoded and separated by a blank. root
// takes the caller's identity from the socket (SO_PEERCRED), never from the
// line, and answers with one number: 0 or the error of the operation.
struct DienstAufrufer
{
    qint64 uid = -1;
    qint64 gid = -1;
    qint64 pid = 0;
};
// The line's limits: bytes with its line break, and the time it may take.
constexpr int DIENST_ZEILE_HOECHSTENS = 8192;
constexpr int DIENST_ZEILE_MS = 5000;
// The root listener hands the service the caller's user number in this variable.
#define DIENST_AUFRUFER_VARIABLE "FISCALON_DIENST_AUFRUFER"

QString dienstSocket(const QString& name);
QByteArray dienstAuftrag(const QString& befehl, const QStringList& parameter);
// Connects, sends the line and waits `ms` for the answer: 0 with the number
// root sent in `antwort`, DIENST_FEHLT without a listener,
// DIENST_ZUGRIFF_VERWEIGERT when the socket is not open to this user.
int sendeDienstAuftrag(const QString& socket, const QByteArray& zeile, int& antwort, int ms = 30000);
// The listening socket at `pfad`: root's, group `gruppe`, 0660 (0600 without
// a group). The file descriptor, or -1 with `fehler`.
int oeffneDienstSocket(const QString& pfad, const QString& gruppe, QString& fehler);
// Reads the one line of a connected caller within the limits and takes the
// caller from the socket. 0, or DIENST_UNGUELTIGE_DATEN with a German reason.
int leseDienstAuftrag(int verbindung, QString& befehl, QStringList& parameter, DienstAufrufer& aufrufer,
                      QString& fehler, int ms = DIENST_ZEILE_MS);
void beantworteDienstAuftrag(int verbindung, int code);

// Whether a file that decides what root runs can be trusted: owned by root
// or by this process's user, and not writable by group or others.
bool istVertrauenswuerdig(const QString& datei, QString& fehler);

} // namespace Plattform
