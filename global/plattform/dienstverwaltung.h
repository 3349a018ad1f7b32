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
};

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

// The start parameters of the systemd backend: a root-only file that the
// service program reads (systemd has no start arguments for a unit).
QString dienstParameterDatei(const QString& name);
bool schreibeDienstParameter(const QString& datei, const QStringList& parameter, QString& fehler);
// Reads and removes the file; refuses a file that another user than this
// process's (or root) owns or that others may read or change.
bool leseDienstParameter(const QString& datei, QStringList& parameter, QString& fehler);

// Whether a file that decides what root runs can be trusted: owned by root
// or by this process's user, and not writable by group or others.
bool istVertrauenswuerdig(const QString& datei, QString& fehler);

} // namespace Plattform
