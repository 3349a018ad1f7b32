// The built-in service manager for machines without systemd. A registration
// is an ini file below /var/lib/fiscalon/dienste; a started service is
// watched by a small supervisor process of its own session, which writes the
// service's PID and, when it ends, its exit status to /run/fiscalon/dienste.
// So the state survives the manager that started it, and a service that died
// is reported with its exit code.
//
// A caller other than root starts and stops through the socket of root's
// listener ("tavoService --lausche"), which runs the service as root; the
// state files are readable for everyone. Without a listener it runs the
// service itself, with its own rights.

#include "global/plattform/dienstverwaltung.h"
#include "global/plattform/plattform.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSettings>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace Plattform {

namespace {

bool istDienstname(const QString& name)
{
    static const QRegularExpression muster(QStringLiteral("^[A-Za-z0-9_-]{1,64}$"));
    return muster.match(name).hasMatch();
}

int windowsFehler(int fehler)
{
    switch (fehler) {
    case ENOENT: return DIENST_DATEI_FEHLT;
    case EACCES:
    case EPERM:
    case EROFS: return DIENST_ZUGRIFF_VERWEIGERT;
    default: return DIENST_ALLGEMEIN;
    }
}

// Only async-signal-safe calls from here on to the end of the namespace: they
// run in the forked supervisor of a multi-threaded program.
void schreibeZahl(char*& p, long zahl)
{
    char puffer[24];
    int n = 0;
    const bool negativ = zahl < 0;
    unsigned long u = negativ ? 0UL - static_cast<unsigned long>(zahl) : static_cast<unsigned long>(zahl);
    do {
        puffer[n++] = char('0' + u % 10);
        u /= 10;
    } while (u);
    if (negativ)
        *p++ = '-';
    while (n)
        *p++ = puffer[--n];
}

void schreibeStatusdatei(const char* tmp, const char* ziel, const char* wort, long a, long b)
{
    char zeile[96];
    char* p = zeile;
    for (const char* w = wort; *w; ++w)
        *p++ = *w;
    *p++ = ' ';
    schreibeZahl(p, a);
    *p++ = ' ';
    schreibeZahl(p, b);
    *p++ = '\n';
    const int fd = ::open(tmp, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        return;
    const ssize_t r = ::write(fd, zeile, size_t(p - zeile));
    ::close(fd);
    if (r == p - zeile)
        ::rename(tmp, ziel);
}

void schliesseErbstuecke()
{
    const int null = ::open("/dev/null", O_RDWR);
    if (null >= 0) {
        ::dup2(null, 0);
        ::dup2(null, 1);
        ::dup2(null, 2);
    }
#ifdef SYS_close_range
    if (::syscall(SYS_close_range, 3U, ~0U, 0U) == 0)
        return;
#endif
    for (int fd = 3; fd < 4096; ++fd)
        ::close(fd);
}

class EingebauteDienstverwaltung : public Dienstverwaltung
{
public:
    int erzeuge(const QString& name, const QString& anzeigename, const QString& beschreibung,
                const QString& programm) override
    {
        if (!istDienstname(name))
            return DIENST_UNGUELTIGER_NAME;
        const QString datei = registrierung(name);
        if (QFileInfo::exists(datei))
            return DIENST_EXISTIERT;
        if (!QDir().mkpath(QFileInfo(datei).absolutePath()))
            return DIENST_ZUGRIFF_VERWEIGERT;
        {
            QSettings ini(datei, QSettings::IniFormat);
            ini.setValue(QStringLiteral("Anzeigename"), anzeigename);
            ini.setValue(QStringLiteral("Beschreibung"), beschreibung);
            ini.setValue(QStringLiteral("Programm"), programm);
            ini.setValue(QStringLiteral("Starttyp"), QStringLiteral("bedarf"));
            ini.sync();
            if (ini.status() != QSettings::NoError)
                return DIENST_ZUGRIFF_VERWEIGERT;
        }
        ::chmod(QFile::encodeName(datei).constData(), 0644);
        return 0;
    }

    int oeffne(const QString& name) override
    {
        QString programm;
        return leseRegistrierung(name, programm);
    }

    int starte(const QString& name, const QStringList& parameter) override
    {
        QString programm;
        if (const int r = leseRegistrierung(name, programm))
            return r;
        if (ueberListener(name))
            return ueberListener(name, dienstAuftrag(QStringLiteral("starte"), parameter));
        DienstStatus s;
        status(name, s);
        if (s.zustand != DienstStatus::Gestoppt)
            return DIENST_LAEUFT_SCHON;
        const QFileInfo info(programm);
        if (!info.exists())
            return DIENST_DATEI_FEHLT;
        if (!info.isFile() || !info.isExecutable())
            return DIENST_ZUGRIFF_VERWEIGERT;
        if (!QDir().mkpath(laufOrdner()))
            return DIENST_ZUGRIFF_VERWEIGERT;
        QFile::remove(datei(name, "ende"));
        QFile::remove(datei(name, "stopp"));
        QFile::remove(datei(name, "bereit"));
        QFile lauf(datei(name, "lauf"));
        if (!lauf.open(QIODevice::WriteOnly | QIODevice::Truncate) || lauf.write("start\n") != 6)
            return windowsFehler(errno);
        lauf.close();

        // Everything the forked processes need, prepared before the fork.
        std::vector<QByteArray> texte;
        texte.push_back(QFile::encodeName(programm));
        for (const QString& p : parameter)
            texte.push_back(p.toLocal8Bit());
        std::vector<char*> argv;
        for (QByteArray& t : texte)
            argv.push_back(t.data());
        argv.push_back(nullptr);
        std::vector<QByteArray> umgebung;
        for (char** e = environ; *e; ++e)
            if (!QByteArray(*e).startsWith(DIENST_BEREIT_VARIABLE "="))
                umgebung.push_back(*e);
        umgebung.push_back(DIENST_BEREIT_VARIABLE "=" + QFile::encodeName(datei(name, "bereit")));
        std::vector<char*> envp;
        for (QByteArray& e : umgebung)
            envp.push_back(e.data());
        envp.push_back(nullptr);
        const QByteArray laufPfad = QFile::encodeName(datei(name, "lauf"));
        const QByteArray laufTmp = laufPfad + ".tmp";
        const QByteArray endePfad = QFile::encodeName(datei(name, "ende"));
        const QByteArray endeTmp = endePfad + ".tmp";

        const pid_t zwischen = ::fork();
        if (zwischen < 0)
            return windowsFehler(errno);
        if (zwischen == 0) {
            // A session of its own, and orphaned at once: the service outlives
            // the manager that started it and is not its child to reap.
            ::setsid();
            const pid_t aufseher = ::fork();
            if (aufseher != 0)
                ::_exit(aufseher < 0 ? 1 : 0);
            struct sigaction standard {};
            standard.sa_handler = SIG_DFL;
            for (int sig : { SIGTERM, SIGINT, SIGHUP, SIGCHLD, SIGPIPE })
                ::sigaction(sig, &standard, nullptr);
            sigset_t leer;
            sigemptyset(&leer);
            ::sigprocmask(SIG_SETMASK, &leer, nullptr);
            schliesseErbstuecke();
            const pid_t dienst = ::fork();
            if (dienst == 0) {
                ::execve(argv[0], argv.data(), envp.data());
                ::_exit(127);
            }
            if (dienst < 0) {
                schreibeStatusdatei(endeTmp.constData(), endePfad.constData(), "exited", 127, 0);
                ::_exit(0);
            }
            schreibeStatusdatei(laufTmp.constData(), laufPfad.constData(), "pid", dienst, ::getpid());
            int st = 0;
            while (::waitpid(dienst, &st, 0) < 0 && errno == EINTR) {
            }
            if (WIFSIGNALED(st))
                schreibeStatusdatei(endeTmp.constData(), endePfad.constData(), "signal", WTERMSIG(st), 0);
            else
                schreibeStatusdatei(endeTmp.constData(), endePfad.constData(), "exited", WEXITSTATUS(st), 0);
            ::_exit(0);
        }
        int st = 0;
        while (::waitpid(zwischen, &st, 0) < 0 && errno == EINTR) {
        }
        if (WIFEXITED(st) && WEXITSTATUS(st) == 0)
            return 0;
        QFile::remove(datei(name, "lauf")); // no supervisor: not starting
        return DIENST_ALLGEMEIN;
    }

    int status(const QString& name, DienstStatus& s) override
    {
        QString programm;
        if (const int r = leseRegistrierung(name, programm))
            return r;
        s = DienstStatus();
        const QList<QByteArray> ende = leseWoerter(datei(name, "ende"));
        if (ende.size() >= 2) {
            const int wert = ende.at(1).toInt();
            if (ende.at(0) == "signal") {
                // Ended by our stop request: a clean stop.
                if (wert != SIGTERM)
                    s.exitCode = DIENST_PROZESS_ABGEBROCHEN;
            } else if (wert != 0) {
                s.exitCode = DIENST_SPEZIFISCHER_FEHLER;
                s.dienstExitCode = wert;
            }
            return 0;
        }
        const QList<QByteArray> lauf = leseWoerter(datei(name, "lauf"));
        if (lauf.isEmpty())
            return 0;
        if (lauf.at(0) == "start") {
            s.zustand = DienstStatus::Startet;
            return 0;
        }
        const pid_t dienst = lauf.size() >= 3 ? pid_t(lauf.at(1).toLong()) : 0;
        const pid_t aufseher = lauf.size() >= 3 ? pid_t(lauf.at(2).toLong()) : 0;
        const bool stopp = QFileInfo::exists(datei(name, "stopp"));
        if (dienst > 0 && lebt(dienst) && elternVon(dienst) == aufseher) {
            // Running once the service has said it is ready, as a service
            // reports to the service manager when its start work is done.
            s.zustand = stopp ? DienstStatus::Stoppt
                : QFileInfo::exists(datei(name, "bereit")) ? DienstStatus::Laeuft : DienstStatus::Startet;
            s.pid = dienst;
        } else if (aufseher > 0 && lebt(aufseher)) {
            // The service has ended; its supervisor is writing the status.
            s.zustand = DienstStatus::Stoppt;
        } else {
            // Both gone without a word (killed): an abnormal end.
            s.exitCode = DIENST_PROZESS_ABGEBROCHEN;
        }
        return 0;
    }

    int stoppe(const QString& name) override
    {
        DienstStatus s;
        if (const int r = status(name, s))
            return r;
        if (ueberListener(name))
            return ueberListener(name, dienstAuftrag(QStringLiteral("stoppe"), {}));
        if ((s.zustand != DienstStatus::Laeuft && s.zustand != DienstStatus::Startet) || s.pid <= 0)
            return DIENST_NICHT_AKTIV;
        QFile stopp(datei(name, "stopp"));
        if (!stopp.open(QIODevice::WriteOnly))
            return windowsFehler(errno);
        stopp.close();
        if (::kill(pid_t(s.pid), SIGTERM) != 0)
            return windowsFehler(errno);
        return 0;
    }

    int loesche(const QString& name) override
    {
        QString programm;
        if (const int r = leseRegistrierung(name, programm))
            return r;
        if (!QFile::remove(registrierung(name)))
            return DIENST_ZUGRIFF_VERWEIGERT;
        return 0;
    }

    int erlaubeSteuerung(const QString& name, const QString& gruppe) override
    {
        QString programm;
        if (const int r = leseRegistrierung(name, programm))
            return r;
        if (!istGruppenname(gruppe))
            return DIENST_UNGUELTIGE_DATEN;
        const QString datei = registrierung(name);
        {
            QSettings ini(datei, QSettings::IniFormat);
            ini.setValue(QStringLiteral("Zugriff"), gruppe);
            ini.sync();
            if (ini.status() != QSettings::NoError)
                return DIENST_ZUGRIFF_VERWEIGERT;
        }
        ::chmod(QFile::encodeName(datei).constData(), 0644);
        return 0;
    }

private:
    // Only the listener's socket counts, never a file of another kind there.
    static bool ueberListener(const QString& name)
    {
        struct stat st {};
        return ::geteuid() != 0 && ::lstat(QFile::encodeName(dienstSocket(name)).constData(), &st) == 0
            && S_ISSOCK(st.st_mode) && st.st_uid == 0;
    }
    // The listener's answer is the result of its own start or stop.
    static int ueberListener(const QString& name, const QByteArray& auftrag)
    {
        int antwort = 0;
        const int r = sendeDienstAuftrag(dienstSocket(name), auftrag, antwort);
        return r ? r : antwort;
    }
    static QString registrierung(const QString& name)
    {
        return unterWurzel(QStringLiteral("/var/lib/fiscalon/dienste/")) + name + QStringLiteral(".ini");
    }
    static QString laufOrdner() { return unterWurzel(QStringLiteral("/run/fiscalon/dienste")); }
    static QString datei(const QString& name, const char* art)
    {
        return laufOrdner() + QLatin1Char('/') + name + QLatin1Char('.') + QLatin1String(art);
    }

    // 0 with the registered program, else the error.
    static int leseRegistrierung(const QString& name, QString& programm)
    {
        if (!istDienstname(name))
            return DIENST_UNGUELTIGER_NAME;
        const QString pfad = registrierung(name);
        if (!QFileInfo::exists(pfad))
            return DIENST_FEHLT;
        // The registration decides what runs, perhaps as root: a file that
        // someone else could have written is not used.
        QString fehler;
        if (!istVertrauenswuerdig(pfad, fehler))
            return DIENST_ZUGRIFF_VERWEIGERT;
        const QSettings ini(pfad, QSettings::IniFormat);
        programm = ini.value(QStringLiteral("Programm")).toString();
        if (ini.status() != QSettings::NoError || !QFileInfo(programm).isAbsolute())
            return DIENST_UNGUELTIGE_DATEN;
        return 0;
    }

    static QList<QByteArray> leseWoerter(const QString& pfad)
    {
        QFile f(pfad);
        if (!f.open(QIODevice::ReadOnly))
            return {};
        return f.read(256).simplified().split(' ');
    }

    static bool lebt(pid_t pid) { return ::kill(pid, 0) == 0 || errno == EPERM; }

    // The parent of a process, so that a PID that the system has given to
    // another program since is not taken for the service.
    static pid_t elternVon(pid_t pid)
    {
        QFile f(QStringLiteral("/proc/%1/stat").arg(pid));
        if (!f.open(QIODevice::ReadOnly))
            return -1;
        const QByteArray stat = f.read(4096);
        const int ende = stat.lastIndexOf(')');
        const QList<QByteArray> felder = stat.mid(ende + 2).split(' ');
        return felder.size() > 1 ? pid_t(felder.at(1).toLong()) : -1;
    }
};

} // namespace

std::unique_ptr<Dienstverwaltung> erzeugeEingebauteDienstverwaltung()
{
    return std::make_unique<EingebauteDienstverwaltung>();
}

} // namespace Plattform
