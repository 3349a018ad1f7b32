// The update service program. The service manager starts it as root with the
// start parameters of a restart: the manager copy to start, the manager's
// switches, "--esStart" and "--sID=N". It starts that manager in login
// session N and stays running until it is stopped.
//
// Ordinary users may start the service, so its parameters are untrusted: it
// starts nothing but a verified copy of the manager (the service folder's or
// the known installation's), passes on nothing but the restart switches, and
// accepts "--koraDir" only for the installation the machine knows. Every
// refusal is logged with its reason and ends the service with its own code,
// which the starter reports. Started directly with "--zugriff", it lets a
// group start and stop the service (the manager does so after registering it).
//
// Ordinary users reach the service through a socket of root's (see
// dienstverwaltung.h): under systemd the socket unit hands it to this program,
// which reads the caller's line itself; without systemd "--lausche" is the
// root listener that starts the service for them. Either way the caller's
// user number comes from the kernel, and "--dirUserKora" must be that user's.

#include "global/plattform/dienstverwaltung.h"
#include "global/plattform/plattform.h"
#include "global/plattform/prozess.h"
#include "global/varnelApplication/logbase.h"
#include "global/varnelApplication/textausliteral.h"
#include "pluginManager/pluginManager.h"
#include "pluginManager/startwerte.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusInterface>
#include <QDBusObjectPath>
#include <QDBusReply>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSet>
#include <QSettings>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

extern char** environ;

namespace {

// The service's own exit codes (reported as service-specific errors).
enum Ablehnung {
    KEINE_PARAMETER = 1,
    STEUERZEICHEN = 2,
    UNBEKANNTER_SCHALTER = 3,
    ZWEITES_PROGRAMM = 4,
    FREMDES_PROGRAMM = 5,
    KOPIE_UNGUELTIG = 6,
    UNBEKANNTE_INSTALLATION = 7,
    SITZUNG_FEHLT = 8,
    STARTFEHLER = 9,
    FREMDER_BENUTZERORDNER = 10
};

const QString MANAGER_DATEI = QStringLiteral("installationsverwaltung");
const QString DEINSTALLATIONS_SCHLUESSEL =
    QStringLiteral("HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Fiscalon");

struct Auftrag
{
    QString programm;
    QStringList argumente;
    QString sitzung;
    QString benutzerOrdner;
    qint64 aufrufer = -1; // the user who asked through the socket
};

// "--switch="value"" or "--switch=value": the value without the quotes. In
// the quoted form a backslash escapes a quote or a backslash, as the manager
// writes it.
QString wertOhneAnfuehrung(const QString& argument)
{
    QString w = argument.mid(argument.indexOf(QLatin1Char('=')) + 1);
    if (w.size() < 2 || !w.startsWith(QLatin1Char('"')) || !w.endsWith(QLatin1Char('"')))
        return w;
    QString wert;
    for (int i = 1; i < w.size() - 1; ++i) {
        if (w.at(i) == QLatin1Char('\\') && i + 2 < w.size()
            && (w.at(i + 1) == QLatin1Char('"') || w.at(i + 1) == QLatin1Char('\\')))
            ++i;
        wert += w.at(i);
    }
    return wert;
}

QString kanonisch(const QString& pfad)
{
    return pfad.isEmpty() ? QString() : QFileInfo(pfad).canonicalFilePath();
}

// The checked folder is passed on, not the caller's text: a link in that text
// could point elsewhere by the time the manager uses it.
void ersetzeWert(QStringList& argumente, const QString& schalter, const QString& wert)
{
    for (QString& a : argumente) {
        if (a.startsWith(schalter + QLatin1Char('=')))
            a = schalter + QLatin1Char('=') + wert;
    }
}

// The installation the machine knows: "InstallLocation" of the uninstall
// entry, if the entry's file could only have been written by root.
QString bekannteInstallation(QString& grund)
{
    const QString datei = Plattform::registrierungsDatei(DEINSTALLATIONS_SCHLUESSEL);
    QString fehler;
    if (datei.isEmpty() || !Plattform::istVertrauenswuerdig(datei, fehler)) {
        grund = QStringLiteral("Der Deinstallationseintrag [%1] ist nicht vertrauensw&uuml;rdig: %2").arg(datei, fehler);
        return QString();
    }
    const QSettings ini(datei, QSettings::IniFormat);
    const QString ort = kanonisch(ini.value(QStringLiteral("InstallLocation")).toString());
    if (ort.isEmpty())
        grund = QStringLiteral("Der Deinstallationseintrag [%1] nennt keinen vorhandenen \"InstallLocation\".").arg(datei);
    return ort;
}

int pruefe(const QStringList& parameter, Auftrag& auftrag, QString& grund)
{
    if (parameter.isEmpty()) {
        grund = QStringLiteral("Es wurden keine Startparameter &uuml;bergeben.");
        return KEINE_PARAMETER;
    }
    for (const QString& p : parameter) {
        for (const QChar c : p) {
            if (c.unicode() < 0x20 || c.unicode() == 0x7f) {
                grund = QStringLiteral("Ein Startparameter enth&auml;lt einen Zeilenumbruch oder ein Steuerzeichen.");
                return STEUERZEICHEN;
            }
        }
    }
    // Never "--admin": the elevated continuation runs a plan from files the
    // user wrote, and only after the user proved root's rights (pkexec); the
    // service's restarts never need it.
    static const QSet<QString> schalter = { QStringLiteral("--zeigeDlg"),
                                            QStringLiteral("--updatepruefung"), QStringLiteral("--zeigeBenutzerDefTab2"),
                                            QStringLiteral("--selbstUpdate"), QStringLiteral("--esStart") };
    static const QSet<QString> wertSchalter = { QStringLiteral("--koraDir"), QStringLiteral("--delPlugin"),
                                                QStringLiteral("--instPlugin"), QStringLiteral("--redirect"),
                                                QStringLiteral("--dirUserKora"), QStringLiteral("--sID") };
    static const QRegularExpression instanz(QStringLiteral("^--i[2-9]$"));
    QSet<QString> gesehen;
    QString koraDir;
    for (int i = 1; i < parameter.size(); ++i) {
        const QString& p = parameter.at(i);
        if (!p.startsWith(QLatin1String("--"))) {
            grund = QStringLiteral("Ein zweites Programm oder ein Wert ohne Schalter wird nicht gestartet: [%1]").arg(p);
            return ZWEITES_PROGRAMM;
        }
        const int gleich = p.indexOf(QLatin1Char('='));
        const QString name = gleich < 0 ? p : p.left(gleich);
        const bool bekannt = gleich < 0 ? (schalter.contains(name) || instanz.match(name).hasMatch())
                                        : wertSchalter.contains(name);
        if (!bekannt || gesehen.contains(instanz.match(name).hasMatch() ? QStringLiteral("--i") : name)) {
            grund = QStringLiteral("Der Schalter [%1] ist unbekannt oder doppelt.").arg(p);
            return UNBEKANNTER_SCHALTER;
        }
        gesehen.insert(instanz.match(name).hasMatch() ? QStringLiteral("--i") : name);
        if (name == QLatin1String("--sID"))
            auftrag.sitzung = wertOhneAnfuehrung(p);
        else if (name == QLatin1String("--koraDir"))
            koraDir = wertOhneAnfuehrung(p);
        else if (name == QLatin1String("--dirUserKora"))
            auftrag.benutzerOrdner = wertOhneAnfuehrung(p);
        // The manager reads a value as it stands, as a program started from a
        // command line sees it: without the quotes of that command line.
        if (name != QLatin1String("--sID"))
            auftrag.argumente.append(gleich < 0 ? p : name + QLatin1Char('=') + wertOhneAnfuehrung(p));
    }
    if (!gesehen.contains(QStringLiteral("--esStart"))
        || !QRegularExpression(QStringLiteral("^[0-9]{1,9}$")).match(auftrag.sitzung).hasMatch()) {
        grund = QStringLiteral("\"--esStart\" oder eine g&uuml;ltige \"--sID\" fehlt.");
        return SITZUNG_FEHLT;
    }
    auftrag.argumente.append(QStringLiteral("--sID=") + auftrag.sitzung);

    const QString installation = bekannteInstallation(grund);
    if (installation.isEmpty())
        return UNBEKANNTE_INSTALLATION;
    if (kanonisch(koraDir) != installation) {
        grund = QStringLiteral("\"--koraDir\" nennt nicht die bekannte Installation [%1]: [%2]").arg(installation, koraDir);
        return UNBEKANNTE_INSTALLATION;
    }
    ersetzeWert(auftrag.argumente, QStringLiteral("--koraDir"), installation);

    // The manager copies that may be started: the service folder's, and the
    // installation's own (beside the main application or in its folder).
    const QString programm = kanonisch(parameter.first());
    QString kopie;
    for (const QString& ordner : { Plattform::dienstOrdner(), installation,
                                   installation + QLatin1Char('/') + MANAGER_DATEI }) {
        const QString kandidat = kanonisch(ordner + QStringLiteral("/bin/") + MANAGER_DATEI);
        if (!programm.isEmpty() && kandidat == programm)
            kopie = ordner;
    }
    if (kopie.isEmpty()) {
        grund = QStringLiteral("[%1] ist keine bekannte Kopie der Installationsverwaltung.").arg(parameter.first());
        return FREMDES_PROGRAMM;
    }
    PluginManager pm;
    if (!pm.istKopieValid(kopie)) {
        grund = QStringLiteral("Die Kopie der Installationsverwaltung in [%1] ist nicht unversehrt.").arg(kopie);
        return KOPIE_UNGUELTIG;
    }
    auftrag.programm = programm;
    return 0;
}

// The graphical environment of login session `sitzung`: display and
// authority from logind and the environment of the session's leader. Empty
// without logind; then the program runs in the service's own environment.
QHash<QByteArray, QByteArray> sitzungsUmgebung(const QString& sitzung, qint64& benutzer)
{
    QHash<QByteArray, QByteArray> werte;
    benutzer = -1;
    QDBusConnection bus = QDBusConnection::systemBus();
    if (!bus.isConnected()) {
        IV_LOG_INFO(textAusLiteral("Kein Systembus: das Programm l&auml;uft in der Umgebung des Dienstes."));
        return werte;
    }
    QDBusInterface manager(QStringLiteral("org.freedesktop.login1"), QStringLiteral("/org/freedesktop/login1"),
                           QStringLiteral("org.freedesktop.login1.Manager"), bus);
    const QDBusReply<QDBusObjectPath> pfad = manager.call(QStringLiteral("GetSession"), sitzung);
    if (!pfad.isValid()) {
        IV_LOG_INFO(textAusLiteral("logind kennt die Sitzung %1 nicht (%2): das Programm l&auml;uft in der Umgebung des Dienstes.")
                        .arg(sitzung, pfad.error().message()));
        return werte;
    }
    QDBusInterface sitz(QStringLiteral("org.freedesktop.login1"), pfad.value().path(),
                        QStringLiteral("org.freedesktop.login1.Session"), bus);
    const uint leiter = sitz.property("Leader").toUInt();
    const QString anzeige = sitz.property("Display").toString();
    if (!anzeige.isEmpty())
        werte.insert("DISPLAY", anzeige.toLocal8Bit());
    struct stat st {};
    if (leiter > 0 && ::stat(QFile::encodeName(QStringLiteral("/proc/%1").arg(leiter)).constData(), &st) == 0)
        benutzer = st.st_uid;
    QFile umgebung(QStringLiteral("/proc/%1/environ").arg(leiter));
    if (leiter > 0 && umgebung.open(QIODevice::ReadOnly)) {
        static const QList<QByteArray> uebernommen = { "DISPLAY", "XAUTHORITY", "WAYLAND_DISPLAY", "XDG_RUNTIME_DIR",
                                                       "DBUS_SESSION_BUS_ADDRESS", "LANG" };
        for (const QByteArray& eintrag : umgebung.read(1 << 20).split('\0')) {
            const int gleich = eintrag.indexOf('=');
            if (gleich > 0 && uebernommen.contains(eintrag.left(gleich)))
                werte.insert(eintrag.left(gleich), eintrag.mid(gleich + 1));
        }
    }
    return werte;
}

// The manager writes its log and work files to the user's data folder with
// root's rights: it must be a real folder (no link) of an ordinary user, of
// the session's user where logind names one, never a system folder.
bool istBenutzerOrdner(const QString& ordner, qint64 benutzer, qint64 aufrufer, QStringList& argumente, QString& grund)
{
    if (ordner.isEmpty())
        return true;
    // An ordinary caller names only a folder of its own, in its own session.
    if (aufrufer > 0 && benutzer >= 0 && benutzer != aufrufer) {
        grund = QStringLiteral("Die Sitzung geh&ouml;rt nicht dem Aufrufer (Benutzer %1): [%2]").arg(aufrufer).arg(ordner);
        return false;
    }
    if (aufrufer > 0)
        benutzer = aufrufer;
    struct stat st {};
    if (::lstat(QFile::encodeName(ordner).constData(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        grund = QStringLiteral("\"--dirUserKora\" nennt keinen vorhandenen Ordner: [%1]").arg(ordner);
        return false;
    }
    const QString echt = kanonisch(ordner);
    struct stat echtSt {};
    if (st.st_uid == 0 || (benutzer >= 0 && st.st_uid != uid_t(benutzer)) || echt.isEmpty()
        || ::stat(QFile::encodeName(echt).constData(), &echtSt) != 0 || echtSt.st_uid != st.st_uid) {
        grund = QStringLiteral("\"--dirUserKora\" geh&ouml;rt nicht dem Benutzer %1: [%2]")
                    .arg(aufrufer > 0 ? QStringLiteral("%1, der den Dienst aufrief").arg(aufrufer) : QStringLiteral("der Sitzung"), ordner);
        return false;
    }
    ersetzeWert(argumente, QStringLiteral("--dirUserKora"), echt);
    return true;
}

int starteProgramm(const Auftrag& auftrag, const QHash<QByteArray, QByteArray>& sitzung, qint64& pid)
{
    QList<QByteArray> umgebung;
    for (char** e = environ; *e; ++e) {
        const QByteArray eintrag(*e);
        const QByteArray name = eintrag.left(eintrag.indexOf('='));
        if (!sitzung.contains(name) && name != DIENST_BEREIT_VARIABLE && name != DIENST_AUFRUFER_VARIABLE
            && name != "NOTIFY_SOCKET" && !name.startsWith("LISTEN_"))
            umgebung.append(eintrag);
    }
    for (auto it = sitzung.cbegin(); it != sitzung.cend(); ++it)
        umgebung.append(it.key() + '=' + it.value());
    // Its own session: the manager outlives the service, which is stopped
    // right after the start.
    return Plattform::starteProzess(auftrag.programm, auftrag.argumente, QFileInfo(auftrag.programm).absolutePath(),
                                    umgebung, pid);
}

// systemd's socket activation: the listening socket as fd 3, meant for this
// process. The one caller waiting there, or -1 when none comes in time.
int aktivierteVerbindung()
{
    bool ok = false;
    if (qEnvironmentVariableIntValue("LISTEN_FDS", &ok) != 1 || !ok
        || qEnvironmentVariable("LISTEN_PID").toLongLong() != qint64(::getpid()))
        return -1;
    // The manager this program starts has no business with the socket.
    ::fcntl(3, F_SETFD, FD_CLOEXEC);
    pollfd p { 3, POLLIN, 0 };
    if (::poll(&p, 1, Plattform::DIENST_ZEILE_MS) <= 0)
        return -1;
    return ::accept4(3, nullptr, nullptr, SOCK_CLOEXEC);
}

// The caller's user number the root listener passed on; -1 for a start by
// root's own service control.
bool aufruferAusUmgebung(qint64& aufrufer)
{
    const QByteArray wert = qgetenv(DIENST_AUFRUFER_VARIABLE);
    aufrufer = -1;
    if (wert.isEmpty())
        return true;
    bool ok = false;
    aufrufer = wert.toLongLong(&ok);
    return ok && aufrufer >= 0 && QRegularExpression(QStringLiteral("^[0-9]{1,10}$")).match(QString::fromLatin1(wert)).hasMatch();
}

int pruefeUndStarte(QCoreApplication& app, QStringList parameter, qint64 aufrufer, int verbindung)
{
    // The caller on the socket learns the outcome before the service runs on.
    auto antworte = [verbindung](int code) {
        if (verbindung >= 0) {
            Plattform::beantworteDienstAuftrag(verbindung, code);
            ::close(verbindung);
        }
        return code;
    };
    Auftrag auftrag;
    auftrag.aufrufer = aufrufer;
    QString grund;
    if (const int code = pruefe(parameter, auftrag, grund)) {
        IV_LOG_ERROR(textAusLiteral(QStringLiteral("Abgelehnt (Fehlernummer %1): %2").arg(code).arg(grund)));
        return antworte(code);
    }
    qint64 benutzer = -1;
    const QHash<QByteArray, QByteArray> umgebung = sitzungsUmgebung(auftrag.sitzung, benutzer);
    if (!istBenutzerOrdner(auftrag.benutzerOrdner, benutzer, auftrag.aufrufer, auftrag.argumente, grund)) {
        IV_LOG_ERROR(textAusLiteral(QStringLiteral("Abgelehnt (Fehlernummer %1): %2").arg(FREMDER_BENUTZERORDNER).arg(grund)));
        return antworte(FREMDER_BENUTZERORDNER);
    }
    qint64 pid = 0;
    if (const int r = starteProgramm(auftrag, umgebung, pid)) {
        IV_LOG_ERROR(textAusLiteral("[%1] konnte nicht gestartet werden: %2")
                         .arg(auftrag.programm, QString::fromLocal8Bit(std::strerror(r))));
        return antworte(STARTFEHLER);
    }
    IV_LOG_INFO(QStringLiteral("Gestartet (PID %1): [%2] [%3]")
                    .arg(pid)
                    .arg(auftrag.programm, auftrag.argumente.join(QStringLiteral("] ["))));
    // Running until stopped, so that the start is seen as running.
    Plattform::meldeDienstBereit();
    antworte(0);
    Plattform::beiBeendenAnfrage([&app](int signal) {
        IV_LOG_INFO(QStringLiteral("Beendet durch Signal %1.").arg(signal));
        app.quit();
    });
    return app.exec();
}

int dienst(QCoreApplication& app)
{
    QStringList parameter = app.arguments().mid(1);
    IV_LOG_INFO(QStringLiteral("Startparameter: [%1]").arg(parameter.join(QStringLiteral("] ["))));
    qint64 aufrufer = -1;
    if (!aufruferAusUmgebung(aufrufer)) {
        IV_LOG_ERROR(QStringLiteral("Abgelehnt (Fehlernummer %1): " DIENST_AUFRUFER_VARIABLE " ist keine Benutzernummer.").arg(KEINE_PARAMETER));
        return KEINE_PARAMETER;
    }
    // Under systemd the parameters come in the root-only file of the unit
    // (root's start), or from the caller on the unit's socket (a user's);
    // nothing else is read.
    int verbindung = -1;
    if (parameter.size() == 1 && parameter.first().startsWith(QLatin1String("--parameterDatei="))) {
        const QString datei = parameter.first().mid(17);
        QString fehler;
        const bool eigene = datei == Plattform::dienstParameterDatei(QStringLiteral("TavoService"));
        if (eigene && !QFileInfo::exists(datei) && (verbindung = aktivierteVerbindung()) >= 0) {
            QString befehl;
            Plattform::DienstAufrufer wer;
            const int code = Plattform::leseDienstAuftrag(verbindung, befehl, parameter, wer, fehler);
            if (code || befehl != QLatin1String("starte")) {
                IV_LOG_ERROR(textAusLiteral(QStringLiteral("Der Auftrag von Benutzer %1 (PID %2) wird nicht angenommen: %3")
                                                .arg(wer.uid).arg(wer.pid).arg(code ? fehler : befehl)));
                Plattform::beantworteDienstAuftrag(verbindung, KEINE_PARAMETER);
                ::close(verbindung);
                return KEINE_PARAMETER;
            }
            aufrufer = wer.uid;
            IV_LOG_INFO(QStringLiteral("Startparameter von Benutzer %1 (PID %2): [%3]")
                            .arg(wer.uid).arg(wer.pid).arg(parameter.join(QStringLiteral("] ["))));
        } else if (!eigene || !Plattform::leseDienstParameter(datei, parameter, fehler)) {
            IV_LOG_ERROR(textAusLiteral(QStringLiteral("Die Parameterdatei [%1] wird nicht gelesen: %2").arg(datei, fehler)));
            return KEINE_PARAMETER;
        } else {
            IV_LOG_INFO(QStringLiteral("Startparameter aus der Datei: [%1]").arg(parameter.join(QStringLiteral("] ["))));
        }
    }
    return pruefeUndStarte(app, parameter, aufrufer, verbindung);
}

// "--lausche NAME GRUPPE": root's listener for machines without systemd. It
// serves the socket of the service to the members of GRUPPE and starts and
// stops the registered service as root, with the caller's user number for
// the service's checks. One caller at a time, each bounded by the line's
// limits; it ends on SIGTERM, SIGINT or SIGHUP.
volatile sig_atomic_t g_lauscherEnde = 0;

void lauscherSignal(int)
{
    g_lauscherEnde = 1;
}

void bediene(Plattform::Dienstverwaltung& verwaltung, const QString& name, int verbindung)
{
    QString befehl, fehler;
    QStringList parameter;
    Plattform::DienstAufrufer wer;
    int code = Plattform::leseDienstAuftrag(verbindung, befehl, parameter, wer, fehler);
    if (code) {
        IV_LOG_ERROR(textAusLiteral(QStringLiteral("Der Auftrag von Benutzer %1 (PID %2) wird nicht angenommen: %3")
                                        .arg(wer.uid).arg(wer.pid).arg(fehler)));
    } else if (befehl == QLatin1String("starte")) {
        qputenv(DIENST_AUFRUFER_VARIABLE, QByteArray::number(wer.uid));
        code = verwaltung.starte(name, parameter);
        qunsetenv(DIENST_AUFRUFER_VARIABLE);
    } else {
        code = verwaltung.stoppe(name);
    }
    if (fehler.isEmpty())
        IV_LOG_INFO(QStringLiteral("Auftrag [%1] von Benutzer %2 (PID %3): %4").arg(befehl).arg(wer.uid).arg(wer.pid).arg(code));
    Plattform::beantworteDienstAuftrag(verbindung, code);
}

int lausche(const QStringList& argumente)
{
    const QString name = argumente.at(2);
    const QString gruppe = argumente.at(3);
    if (name != QLatin1String("TavoService")) {
        IV_LOG_ERROR(textAusLiteral("Der Dienst [%1] ist nicht der eigene.").arg(name));
        return Plattform::DIENST_UNGUELTIGER_NAME;
    }
    if (::geteuid() != 0) {
        IV_LOG_ERROR(QStringLiteral("Nur root kann den Dienst f&uuml;r andere Benutzer starten."));
        return Plattform::DIENST_ZUGRIFF_VERWEIGERT;
    }
    const QString pfad = Plattform::dienstSocket(name);
    QString fehler;
    const int fd = Plattform::oeffneDienstSocket(pfad, gruppe, fehler);
    if (fd < 0) {
        IV_LOG_ERROR(textAusLiteral("Der Socket [%1] kann nicht angelegt werden: %2").arg(pfad, fehler));
        return Plattform::DIENST_ALLGEMEIN;
    }
    struct sigaction ende {};
    ende.sa_handler = lauscherSignal;
    for (int sig : { SIGTERM, SIGINT, SIGHUP })
        ::sigaction(sig, &ende, nullptr);
    ::signal(SIGPIPE, SIG_IGN);
    IV_LOG_INFO(textAusLiteral("Lausche auf [%1] f&uuml;r die Gruppe [%2].").arg(pfad, gruppe));
    const auto verwaltung = Plattform::erzeugeEingebauteDienstverwaltung();
    while (!g_lauscherEnde) {
        pollfd p { fd, POLLIN, 0 };
        if (::poll(&p, 1, 1000) <= 0)
            continue;
        const int verbindung = ::accept4(fd, nullptr, nullptr, SOCK_CLOEXEC);
        if (verbindung < 0)
            continue;
        bediene(*verwaltung, name, verbindung);
        ::close(verbindung);
    }
    ::close(fd);
    ::unlink(QFile::encodeName(pfad).constData());
    IV_LOG_INFO(QStringLiteral("Der Lauscher endet."));
    return 0;
}

// "--zugriff NAME GRUPPE": the installation manager sets who may start and
// stop the service right after registering it. This and "--lausche" only in
// a direct start; a start by a service manager carries restart parameters,
// and there the switches are refused as unknown.
bool istZugriffsAuftrag(const QStringList& argumente, const char* schalter)
{
    return argumente.size() == 4 && argumente.at(1) == QLatin1String(schalter)
        && qEnvironmentVariableIsEmpty(DIENST_BEREIT_VARIABLE) && qEnvironmentVariableIsEmpty("NOTIFY_SOCKET");
}

int setzeZugriff(const QStringList& argumente)
{
    const QString name = argumente.at(2);
    const QString gruppe = argumente.at(3);
    IV_LOG_INFO(textAusLiteral("Zugriff auf [%1] f&uuml;r die Gruppe [%2]").arg(name, gruppe));
    if (name != QLatin1String("TavoService")) {
        IV_LOG_ERROR(textAusLiteral("Der Dienst [%1] ist nicht der eigene.").arg(name));
        return Plattform::DIENST_UNGUELTIGER_NAME;
    }
    const int r = Plattform::erzeugeDienstverwaltung()->erlaubeSteuerung(name, gruppe);
    if (r == 0)
        return 0;
    IV_LOG_ERROR(QStringLiteral("Der Zugriff konnte nicht eingetragen werden (%1).").arg(r));
    // An exit status is one byte.
    return r > 255 ? Plattform::DIENST_ALLGEMEIN : r;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    // The engine's check keeps its work folders below the service's own.
    gs_DirUserKora = Plattform::unterWurzel(QStringLiteral("/var/lib/fiscalon/tavodienst/kora"));
    const QString logOrdner = Plattform::unterWurzel(QStringLiteral("/var/log/fiscalon"));
    QDir().mkpath(logOrdner);
    const QStringList argumente = app.arguments();
    // The listener runs beside the services it starts: a log of its own.
    initLogBase(istZugriffsAuftrag(argumente, "--lausche") ? QStringLiteral("tavodienst-lauscher") : QStringLiteral("tavodienst"),
                200000, logOrdner);
    const int code = istZugriffsAuftrag(argumente, "--zugriff") ? setzeZugriff(argumente)
        : istZugriffsAuftrag(argumente, "--lausche")               ? lausche(argumente)
                                                                   : dienst(app);
    IV_LOG_INFO(QStringLiteral("ExitCode: %1").arg(code));
    beendeLogBase();
    return code;
}
