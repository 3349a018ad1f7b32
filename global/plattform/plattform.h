#pragma once
// The one place that knows which operating system we run on. Everything the
// manager needs from the system (folders, user, session, cross-process locks,
// windows) goes through here; plattform_<system>.cpp implements it.

#include <QList>
#include <QString>
#include <QtGlobal>
#include <functional>

class QWidget;

namespace Plattform {

// FISCALON_WURZEL stands in for "/" for every machine-wide location, so that
// tests and the demo never touch the real machine. Empty in production.
QString wurzel();
// `pfad` (absolute, "/"-separated) below the root override.
QString unterWurzel(const QString& pfad);

// Folder of the machine-wide ini files (tavo.ini), ends without separator.
QString systemIniOrdner();
// Folder of the per-user ini files and user directories, ends without separator.
QString benutzerIniOrdner();
// Program files, program data and the start menu.
QString programmOrdner();
QString programmDatenOrdner();
QString startmenueOrdner();
// Folder of the update service and of the manager copy it starts: the
// program files folder + "/Fiscalon Update Service". Empty when the program
// files folder cannot be had.
QString dienstOrdner();
// The registry stand-in: one ini file per key below /var/lib/fiscalon/registry.
// "HKEY_LOCAL_MACHINE\\SOFTWARE\\...\\Uninstall\\Fiscalon" becomes
// ".../registry/HKEY_LOCAL_MACHINE/SOFTWARE/.../Uninstall/Fiscalon.ini"; the
// values keep their names as keys of the ini file's general group. Empty for
// a key that is empty or has a part that could leave the folder.
QString registrierungsDatei(const QString& schluessel);

// ---- rights of a folder tree (plattform_rechte_linux.cpp) ----
// One failure of gewaehreGruppenrechte: what failed, the error number, where.
struct RechteFehler
{
    enum Art { LESEN, GRUPPE, EINTRAEGE, SETZEN };
    Art art;
    int nummer;
    QString pfad;
};
// Lets `gruppe` read, write and enter `ordner` and everything below it, also
// as the folders' default ACL so that new entries inherit it. Symlinks are
// neither followed nor changed, nor are files with a second hard link. Where
// the file system has no ACLs, the entry gets the group as owner and its
// group bits instead (counted in `ohneAcl`). False when anything failed;
// `fehler` names every failure, the walk goes on after each.
bool gewaehreGruppenrechte(const QString& ordner, const QString& gruppe, QList<RechteFehler>& fehler, int& ohneAcl);
// ---- end of rights ----

// The login name: USERNAME, else USER, else LOGNAME; "noname" when none is set.
QString benutzername();

// The desktop session of this process: the logind session number where there
// is one, else the process's session id. False when neither can be had.
bool sitzungsId(qint64& id);

// Absolute path of the running program, from argv[0] where it names a folder.
QString programmDatei(const QString& argv0);

// Folder for cross-process locks of this user's session.
QString laufzeitOrdner();

// Moves `quelle` over `ziel` in one step, replacing an existing file: readers
// see the old or the new file, never a mix. Both must be on one file system.
bool ersetzeDatei(const QString& quelle, const QString& ziel, QString* fehler = nullptr);

// Folder for locks that every user of the machine shares: /run/lock below
// the root override (sticky and writable for all, like /tmp).
QString maschinenSperrOrdner();

// A named lock that is free again when its holder dies (the notice "already
// working" must never stay blocked by a crashed process). The kernel keeps it
// (flock); the file is never removed, so no holder can lose it to a new file.
class BenannteSperre
{
public:
    // Sitzung: this user's runtime folder. Maschine: maschinenSperrOrdner(),
    // shared by every user; the file is opened without following a link and
    // must be a plain file, so nobody can point it elsewhere.
    enum class Bereich { Sitzung, Maschine };
    explicit BenannteSperre(const QString& name, Bereich bereich = Bereich::Sitzung);
    ~BenannteSperre();
    BenannteSperre(const BenannteSperre&) = delete;
    BenannteSperre& operator=(const BenannteSperre&) = delete;

    // False when the lock file cannot be created or opened.
    bool istGueltig() const { return m_fd >= 0; }
    // Takes the lock without waiting; false when another holder has it.
    bool versucheZuSperren();
    // Waits at most `millisekunden` for the lock; false after that time.
    bool sperre(int millisekunden);
    void freigeben();
    QString fehlerText() const { return m_fehler; }

private:
    int m_fd = -1;
    bool m_gesperrt = false;
    QString m_fehler;
};

// The user ids owning the sockets that listen on `port` and would take a
// connection to 127.0.0.1 (bound to 127.0.0.1 or to any address, IPv4 or
// IPv6). Empty when nobody listens there or the table cannot be read.
QList<uint> lauscherBesitzer(quint16 port);
// This process's effective user id.
uint eigeneBenutzerId();

// Calls `aktion` on the GUI thread when the process is asked to end (SIGTERM,
// SIGINT, SIGHUP), so a run can log its end instead of vanishing. Needs a
// QCoreApplication; later calls replace the action.
bool beiBeendenAnfrage(std::function<void(int signal)> aktion);

// Brings a window to the front: raised, activated, briefly stays-on-top.
void fensterNachVorne(QWidget* fenster);

// A top-level window of any program on this desktop.
struct FremdesFenster
{
    quint64 id = 0;
    QString titel; // at most 256 characters
    qint64 pid = 0; // the owning process where the window says so, else 0
};

// The top-level windows of the desktop with their titles. Without a window
// system (no display, offscreen) the list is empty and `fehler` says why.
QList<FremdesFenster> gibFremdeFenster(QString* fehler = nullptr);
// Brings another program's window to the front: activated, briefly kept on top.
bool fremdesFensterNachVorne(quint64 id, QString* fehler = nullptr);
// Asks another program's window to close, as its frame's close button would;
// the program may still ask its user or refuse.
bool schliesseFremdesFenster(quint64 id, QString* fehler = nullptr);

// ---- disks (plattform_datentraeger_linux.cpp) ----
// Bytes an ordinary process may still write on the file system that holds
// `ordner` (the nearest existing folder above it when it does not exist yet).
// False with the reason in `fehler` when the system cannot say.
bool freierSpeicher(const QString& ordner, quint64& freiBytes, QString* fehler = nullptr);
// Whether `pfad` (or its nearest existing folder) lies on a network file
// system: NFS, SMB/CIFS, AFS, Coda, NCP, 9P, Ceph, or a FUSE mount of a
// network file system. Unknown counts as local.
bool istNetzlaufwerk(const QString& pfad);

// The desktop entry of the manager ("de.fiscalon.installationsverwaltung.desktop"):
// docks and the launcher-entry progress find the program by it.
QString desktopEintragId();
// Progress of downloads and installation on the manager's launcher entry,
// where the desktop offers it (the launcher-entry D-Bus signal on the session
// bus): `anteil` from 0 to 1, shown while `sichtbar`; sent only when the bar
// moves by a percent or is shown or hidden. False without a session bus; a
// desktop that does not listen simply shows nothing.
bool zeigeStarterFortschritt(double anteil, bool sichtbar = true);

} // namespace Plattform
