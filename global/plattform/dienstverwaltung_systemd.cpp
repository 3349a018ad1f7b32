// The systemd backend of the service manager and what both backends share:
// the choice between them, the parameter file of a unit, and the trust test
// for files that decide what root runs.

#include "global/plattform/dienstverwaltung.h"
#include "global/plattform/plattform.h"
#include "dienstunit.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QSaveFile>

#include <cerrno>
#include <cstring>
#include <cstddef>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace Plattform {

namespace {

// A value for ExecStart: one word in double quotes; systemd would expand "%"
// and "$" itself.
QString unitWort(const QString& wert)
{
    QString w = wert;
    w.replace(QLatin1Char('\\'), QStringLiteral("\\\\"));
    w.replace(QLatin1Char('"'), QStringLiteral("\\\""));
    w.replace(QLatin1Char('%'), QStringLiteral("%%"));
    w.replace(QLatin1Char('$'), QStringLiteral("$$"));
    return QLatin1Char('"') + w + QLatin1Char('"');
}

bool hatZeilenumbruch(const QString& wert)
{
    for (const QChar c : wert)
        if (c.unicode() < 0x20 || c.unicode() == 0x7f)
            return true;
    return false;
}

int systemctl(const QStringList& argumente, QByteArray& ausgabe)
{
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(QStringLiteral("systemctl"), argumente);
    if (!p.waitForStarted(10000))
        return -1;
    if (!p.waitForFinished(30000)) {
        p.kill();
        p.waitForFinished(5000);
        return -1;
    }
    ausgabe = p.readAll();
    return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
}

class SystemdDienstverwaltung : public Dienstverwaltung
{
public:
    explicit SystemdDienstverwaltung(Befehlsausfuehrung ausfuehrung)
        : m_ausfuehrung(ausfuehrung ? std::move(ausfuehrung) : Befehlsausfuehrung(systemctl))
    {
    }

    int erzeuge(const QString& name, const QString& anzeigename, const QString& beschreibung,
                const QString& programm) override
    {
        if (!QRegularExpression(QStringLiteral("^[A-Za-z0-9_-]{1,64}$")).match(name).hasMatch())
            return DIENST_UNGUELTIGER_NAME;
        const QString datei = systemdUnitDatei(name);
        if (QFileInfo::exists(datei))
            return DIENST_EXISTIERT;
        const QByteArray unit = systemdUnit(name, anzeigename, beschreibung, programm);
        if (unit.isEmpty())
            return DIENST_UNGUELTIGE_DATEN;
        QDir().mkpath(QFileInfo(datei).absolutePath());
        QFile f(datei);
        if (!f.open(QIODevice::WriteOnly | QIODevice::NewOnly) || f.write(unit) != unit.size())
            return DIENST_ZUGRIFF_VERWEIGERT;
        f.close();
        ::chmod(QFile::encodeName(datei).constData(), 0644);
        return befehl({ QStringLiteral("daemon-reload") });
    }

    int oeffne(const QString& name) override
    {
        return QFileInfo::exists(systemdUnitDatei(name)) ? 0 : DIENST_FEHLT;
    }

    int starte(const QString& name, const QStringList& parameter) override
    {
        if (const int r = oeffne(name))
            return r;
        // Only root can write the parameter file; a user hands the line to
        // the service on its socket, which systemd starts it for. Its
        // verdict, like that of root's start, is its exit status.
        if (::geteuid() != 0) {
            int antwort = 0;
            return sendeDienstAuftrag(dienstSocket(name), dienstAuftrag(QStringLiteral("starte"), parameter), antwort);
        }
        QString fehler;
        if (!schreibeDienstParameter(dienstParameterDatei(name), parameter, fehler))
            return DIENST_ZUGRIFF_VERWEIGERT;
        return befehl({ QStringLiteral("start"), QStringLiteral("--no-block"), unitName(name) });
    }

    int status(const QString& name, DienstStatus& s) override
    {
        QByteArray aus;
        const int r = befehl({ QStringLiteral("show"),
                               QStringLiteral("--property=ActiveState,Result,ExecMainCode,ExecMainStatus,MainPID"),
                               unitName(name) }, &aus);
        if (r)
            return r;
        QHash<QByteArray, QByteArray> werte;
        for (const QByteArray& zeile : aus.split('\n')) {
            const int gleich = zeile.indexOf('=');
            if (gleich > 0)
                werte.insert(zeile.left(gleich), zeile.mid(gleich + 1).trimmed());
        }
        const QByteArray aktiv = werte.value("ActiveState");
        if (aktiv.isEmpty())
            return DIENST_UNGUELTIGE_DATEN;
        s = DienstStatus();
        s.pid = werte.value("MainPID").toLongLong();
        if (aktiv == "active" || aktiv == "reloading")
            s.zustand = DienstStatus::Laeuft;
        else if (aktiv == "activating")
            s.zustand = DienstStatus::Startet;
        else if (aktiv == "deactivating")
            s.zustand = DienstStatus::Stoppt;
        const QByteArray ergebnis = werte.value("Result");
        if (s.zustand == DienstStatus::Gestoppt && !ergebnis.isEmpty() && ergebnis != "success") {
            // ExecMainCode 1 is CLD_EXITED: the service ended with its own code.
            const int code = werte.value("ExecMainStatus").toInt();
            if (ergebnis == "exit-code" && werte.value("ExecMainCode") == "1" && code != 0) {
                s.exitCode = DIENST_SPEZIFISCHER_FEHLER;
                s.dienstExitCode = code;
            } else {
                s.exitCode = DIENST_PROZESS_ABGEBROCHEN;
            }
        }
        return 0;
    }

    int stoppe(const QString& name) override
    {
        return befehl({ QStringLiteral("stop"), QStringLiteral("--no-block"), unitName(name) });
    }

    int loesche(const QString& name) override
    {
        if (const int r = oeffne(name))
            return r;
        if (!QFile::remove(systemdUnitDatei(name)))
            return DIENST_ZUGRIFF_VERWEIGERT;
        const QString socket = systemdSocketUnitDatei(name);
        if (QFileInfo::exists(socket)) {
            befehl({ QStringLiteral("disable"), QStringLiteral("--now"), socketName(name) });
            if (!QFile::remove(socket))
                return DIENST_ZUGRIFF_VERWEIGERT;
        }
        // A rule for a unit that is gone would grant the next one of that name.
        const QString regel = polkitRegelDatei(name);
        if (QFileInfo::exists(regel) && !QFile::remove(regel))
            return DIENST_ZUGRIFF_VERWEIGERT;
        return befehl({ QStringLiteral("daemon-reload") });
    }

    int erlaubeSteuerung(const QString& name, const QString& gruppe) override
    {
        if (const int r = oeffne(name))
            return r;
        const QByteArray regel = polkitRegel(name, gruppe);
        if (regel.isEmpty())
            return DIENST_UNGUELTIGE_DATEN;
        const QString datei = polkitRegelDatei(name);
        QDir().mkpath(QFileInfo(datei).absolutePath());
        QSaveFile f(datei);
        if (!f.open(QIODevice::WriteOnly) || f.write(regel) != regel.size() || !f.commit())
            return DIENST_ZUGRIFF_VERWEIGERT;
        // polkitd reads its rules as its own user.
        ::chmod(QFile::encodeName(datei).constData(), 0644);
        // The group's way to pass start parameters: the socket unit, listening
        // from now on and at every boot.
        const QByteArray socketUnit = systemdSocketUnit(name, gruppe);
        QSaveFile s(systemdSocketUnitDatei(name));
        if (socketUnit.isEmpty() || !s.open(QIODevice::WriteOnly) || s.write(socketUnit) != socketUnit.size() || !s.commit())
            return DIENST_ZUGRIFF_VERWEIGERT;
        ::chmod(QFile::encodeName(systemdSocketUnitDatei(name)).constData(), 0644);
        if (const int r = befehl({ QStringLiteral("daemon-reload") }))
            return r;
        return befehl({ QStringLiteral("enable"), QStringLiteral("--now"), socketName(name) });
    }

private:
    static QString unitName(const QString& name) { return name + QStringLiteral(".service"); }
    static QString socketName(const QString& name) { return name + QStringLiteral(".socket"); }

    // systemctl's exit codes as Windows numbers: 5 is "unit not loaded" (LSB
    // 4 for show), a refusal of polkit says "Access denied".
    int befehl(const QStringList& argumente, QByteArray* ausgabe = nullptr)
    {
        QByteArray aus;
        const int r = m_ausfuehrung(argumente, aus);
        if (ausgabe)
            *ausgabe = aus;
        if (r == 0)
            return 0;
        if (aus.contains("Access denied") || aus.contains("Interactive authentication required"))
            return DIENST_ZUGRIFF_VERWEIGERT;
        if (r == 5 || r == 4)
            return DIENST_FEHLT;
        return DIENST_ALLGEMEIN;
    }

    Befehlsausfuehrung m_ausfuehrung;
};

} // namespace

std::unique_ptr<Dienstverwaltung> erzeugeSystemdDienstverwaltung(Befehlsausfuehrung ausfuehrung)
{
    return std::make_unique<SystemdDienstverwaltung>(std::move(ausfuehrung));
}

std::unique_ptr<Dienstverwaltung> erzeugeDienstverwaltung()
{
    if (QFileInfo(unterWurzel(QStringLiteral("/run/systemd/system"))).isDir())
        return erzeugeSystemdDienstverwaltung();
    return erzeugeEingebauteDienstverwaltung();
}

QString systemdUnitDatei(const QString& name)
{
    return unterWurzel(QStringLiteral("/etc/systemd/system/")) + name + QStringLiteral(".service");
}

QString systemdSocketUnitDatei(const QString& name)
{
    return unterWurzel(QStringLiteral("/etc/systemd/system/")) + name + QStringLiteral(".socket");
}

QByteArray systemdSocketUnit(const QString& name, const QString& gruppe)
{
    const QString pfad = dienstSocket(name);
    if (!QRegularExpression(QStringLiteral("^[A-Za-z0-9_-]{1,64}$")).match(name).hasMatch() || !istGruppenname(gruppe)
        || hatZeilenumbruch(pfad) || pfad.contains(QLatin1Char(' ')))
        return QByteArray();
    QString wort = pfad;
    wort.replace(QLatin1Char('%'), QStringLiteral("%%"));
    QString text = QString::fromUtf8(kDienstSocketVorlage);
    text.replace(QStringLiteral("@IV_DIENST_SOCKET@"), wort);
    text.replace(QStringLiteral("@IV_DIENST_GRUPPE@"), gruppe);
    return text.toUtf8();
}

QString dienstParameterDatei(const QString& name)
{
    return unterWurzel(QStringLiteral("/run/fiscalon/dienste/")) + name + QStringLiteral(".parameter");
}

QByteArray systemdUnit(const QString& name, const QString& anzeigename, const QString& beschreibung,
                       const QString& programm)
{
    if (hatZeilenumbruch(anzeigename) || hatZeilenumbruch(beschreibung) || hatZeilenumbruch(programm))
        return QByteArray();
    // The package's own unit text, so that a service the manager registers
    // runs under the same sandboxing as the one the package installed.
    QString beschreibungWort = anzeigename;
    beschreibungWort.replace(QLatin1Char('%'), QStringLiteral("%%"));
    QString text = QString::fromUtf8(kDienstUnitVorlage);
    text.replace(QStringLiteral("@IV_DIENST_BESCHREIBUNG@"), beschreibung);
    text.replace(QStringLiteral("@IV_DIENST_ANZEIGENAME@"), beschreibungWort);
    text.replace(QStringLiteral("@IV_DIENST_PROGRAMM@"), unitWort(programm));
    text.replace(QStringLiteral("@IV_DIENST_ARGUMENT@"),
                 unitWort(QStringLiteral("--parameterDatei=") + dienstParameterDatei(name)));
    return text.toUtf8();
}

bool schreibeDienstParameter(const QString& datei, const QStringList& parameter, QString& fehler)
{
    // The folder also holds the users' socket: open to reach, closed to writes.
    const QString ordner = QFileInfo(datei).absolutePath();
    if (!QDir().mkpath(ordner) || ::chmod(QFile::encodeName(ordner).constData(), 0755) != 0) {
        fehler = QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    QByteArray inhalt;
    for (const QString& p : parameter)
        inhalt += p.toUtf8() + '\0';
    const QString tmp = datei + QStringLiteral(".tmp");
    QFile::remove(tmp);
    QFile f(tmp);
    if (!f.open(QIODevice::WriteOnly | QIODevice::NewOnly)
        || !f.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner) || f.write(inhalt) != inhalt.size()
        || !f.flush()) {
        fehler = f.errorString();
        f.remove();
        return false;
    }
    f.close();
    return ersetzeDatei(tmp, datei, &fehler);
}

bool meldeDienstBereit()
{
    bool gemeldet = false;
    // The built-in manager's file, only in its own folder.
    const QString datei = qEnvironmentVariable(DIENST_BEREIT_VARIABLE);
    const QString ordner = unterWurzel(QStringLiteral("/run/fiscalon/dienste/"));
    if (!datei.isEmpty() && datei.startsWith(ordner) && !datei.contains(QStringLiteral("/../"))) {
        QFile f(datei);
        gemeldet = f.open(QIODevice::WriteOnly);
    }
    // systemd's notification socket ("@" stands for the abstract namespace).
    const QByteArray socket = qgetenv("NOTIFY_SOCKET");
    if (!socket.isEmpty() && size_t(socket.size()) < sizeof(sockaddr_un::sun_path)) {
        sockaddr_un adresse {};
        adresse.sun_family = AF_UNIX;
        std::memcpy(adresse.sun_path, socket.constData(), size_t(socket.size()));
        if (adresse.sun_path[0] == '@')
            adresse.sun_path[0] = 0;
        const int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
        if (fd >= 0) {
            const char text[] = "READY=1";
            gemeldet = ::sendto(fd, text, sizeof(text) - 1, 0, reinterpret_cast<sockaddr*>(&adresse),
                                socklen_t(offsetof(sockaddr_un, sun_path) + size_t(socket.size())))
                    > 0 || gemeldet;
            ::close(fd);
        }
    }
    return gemeldet;
}

bool istVertrauenswuerdig(const QString& datei, QString& fehler)
{
    struct stat st {};
    if (::lstat(QFile::encodeName(datei).constData(), &st) != 0) {
        fehler = QString::fromLocal8Bit(std::strerror(errno));
        return false;
    }
    if (!S_ISREG(st.st_mode)) {
        fehler = QStringLiteral("keine gew&ouml;hnliche Datei");
        return false;
    }
    if (st.st_uid != 0 && st.st_uid != ::geteuid()) {
        fehler = QStringLiteral("Eigent&uuml;mer %1").arg(st.st_uid);
        return false;
    }
    if (st.st_mode & (S_IWGRP | S_IWOTH)) {
        fehler = QStringLiteral("von anderen beschreibbar");
        return false;
    }
    return true;
}

bool leseDienstParameter(const QString& datei, QStringList& parameter, QString& fehler)
{
    if (!istVertrauenswuerdig(datei, fehler))
        return false;
    struct stat st {};
    if (::stat(QFile::encodeName(datei).constData(), &st) != 0 || (st.st_mode & 077)) {
        fehler = QStringLiteral("nicht nur f&uuml;r den Eigent&uuml;mer lesbar");
        return false;
    }
    QFile f(datei);
    if (!f.open(QIODevice::ReadOnly)) {
        fehler = f.errorString();
        return false;
    }
    const QByteArray inhalt = f.read(1 << 20);
    f.remove();
    parameter.clear();
    for (const QByteArray& teil : inhalt.split('\0'))
        parameter.append(QString::fromUtf8(teil));
    if (!parameter.isEmpty() && parameter.last().isEmpty())
        parameter.removeLast();
    return true;
}

bool istGruppenname(const QString& gruppe)
{
    static const QRegularExpression muster(QStringLiteral("^[a-z_][a-z0-9_-]{0,31}$"));
    return muster.match(gruppe).hasMatch();
}

QString polkitRegelDatei(const QString& name)
{
    return unterWurzel(QStringLiteral("/etc/polkit-1/rules.d/50-fiscalon-")) + name + QStringLiteral(".rules");
}

QByteArray polkitRegel(const QString& name, const QString& gruppe)
{
    if (!QRegularExpression(QStringLiteral("^[A-Za-z0-9_-]{1,64}$")).match(name).hasMatch() || !istGruppenname(gruppe))
        return QByteArray();
    return QStringLiteral("// Written by the Fiscalon installation manager: members of group \"%2\"\n"
                          "// may start and stop the update service %1.service.\n"
                          "polkit.addRule(function(action, subject) {\n"
                          "    if (action.id == \"org.freedesktop.systemd1.manage-units\" &&\n"
                          "        action.lookup(\"unit\") == \"%1.service\" &&\n"
                          "        [\"start\", \"stop\", \"restart\"].indexOf(action.lookup(\"verb\")) >= 0 &&\n"
                          "        subject.isInGroup(\"%2\")) {\n"
                          "        return polkit.Result.YES;\n"
                          "    }\n"
                          "});\n")
        .arg(name, gruppe)
        .toUtf8();
}

} // namespace Plattform
