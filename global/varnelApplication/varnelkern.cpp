#include "global/varnelApplication/varnelkern.h"

#include "bauwerte.h"
#include "global/plattform/plattform.h"
#include "global/varnelApplication/einstellungselementtyp.h"
#include "global/varnelApplication/logbase.h"
#include "global/varnelApplication/schluesselbund.h"
#include "global/varnelApplication/textausliteral.h"

#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QHostAddress>
#include <QLockFile>
#include <QNetworkProxyFactory>
#include <QSettings>
#include <QTextCodec>
#include <QTimer>

#include <utility>

const QByteArray VarnelKern::praefixAktivieren = QByteArrayLiteral("1245689");
const QByteArray VarnelKern::praefixFrage = QByteArrayLiteral("2356790");
const QByteArray VarnelKern::praefixStatus = QByteArrayLiteral("0xBADC0DED");
const char VarnelKern::feldTrenner = '\x1f';

namespace {

VarnelKern* g_instanz = nullptr;

QByteArray alsIso885915(const QString& text)
{
    QTextCodec* codec = QTextCodec::codecForName("ISO 8859-15");
    return codec ? codec->fromUnicode(text) : text.toLatin1();
}

// Holds the start-up lock for the lifetime of the object, so every return
// path releases it. A kernel lock on a file shared by every user of the
// machine: the kernel frees it when its holder dies, and the file is never
// removed, so two holders can never hold two different files.
class StartSperre
{
public:
    explicit StartSperre(VarnelKern& kern)
        : m_sperre(QStringLiteral("tavo_app_guard"), Plattform::BenannteSperre::Bereich::Maschine)
    {
        QElapsedTimer uhr;
        uhr.start();
        // A holder only checks for a running instance (at most about four
        // seconds each); waiting longer means a hung or hostile holder. Going
        // on without the lock then keeps such a holder from blocking every
        // start, as a start without any lock did before.
        if (!m_sperre.sperre(VarnelKern::startSperreWartezeit))
            kern.melde(true, QStringLiteral("Die Startsperre tavo_app_guard in %1 konnte nicht erlangt werden (%2). Der "
                                            "Start wird ohne sie fortgesetzt.")
                                 .arg(Plattform::maschinenSperrOrdner(), m_sperre.fehlerText()));
        else if (uhr.elapsed() >= 1000)
            kern.melde(false, QStringLiteral("Auf die Startsperre tavo_app_guard wurde %1 ms gewartet.").arg(uhr.elapsed()));
    }

private:
    Plattform::BenannteSperre m_sperre;
};

// True when `pfad` lies strictly below `wurzel`; both absolute and cleaned.
bool liegtUnterhalb(const QString& pfad, const QString& wurzel)
{
    const QString p = QDir::cleanPath(QFileInfo(pfad).absoluteFilePath());
    QString w = QDir::cleanPath(QFileInfo(wurzel).absoluteFilePath());
    if (!w.endsWith(QLatin1Char('/')))
        w += QLatin1Char('/');
    return p.startsWith(w) && p.size() > w.size();
}

} // namespace

VarnelKern::VarnelKern(const QString& name, const QStringList& argumente, QObject* parent)
    : QObject(parent)
{
    if (!g_instanz)
        g_instanz = this;
    init(name, argumente);
}

VarnelKern::~VarnelKern()
{
    if (g_instanz == this)
        g_instanz = nullptr;
}

VarnelKern* VarnelKern::instanz()
{
    return g_instanz;
}

QPair<quint16, quint16> VarnelKern::portBereich(const QString& name)
{
    // A sandbox (tests, demo) moves both ranges to a block of its own, so a
    // stale registration there is never answered by a manager of another
    // sandbox on the same machine.
    bool ok = false;
    const int basis = qEnvironmentVariableIntValue("FISCALON_PORTBASIS", &ok);
    if (ok && basis >= 1024 && basis <= 65535 - 2 * sandkastenPorts) {
        if (name == QLatin1String("kora"))
            return { quint16(basis), quint16(basis + sandkastenPorts) };
        if (name == QLatin1String("Installationsverwaltung"))
            return { quint16(basis + sandkastenPorts), quint16(basis + 2 * sandkastenPorts) };
        return { 0, 0 };
    }
    if (name == QLatin1String("kora"))
        return { 51234, 51384 };
    if (name == QLatin1String("Installationsverwaltung"))
        return { 61234, 61384 };
    return { 0, 0 };
}

QString VarnelKern::registerGruppe(const QString& name)
{
    if (name == QLatin1String("kora"))
        return QStringLiteral("KORA");
    if (name == QLatin1String("Installationsverwaltung"))
        return QStringLiteral("INSTALLATIONSVERWALTUNG");
    return QStringLiteral("SONSTIGE");
}

namespace {

bool imBereich(const QString& name, int port)
{
    const auto bereich = VarnelKern::portBereich(name);
    return port >= bereich.first && port < bereich.second;
}

QString registerSchluessel(const QString& name, const QString& benutzer)
{
    return name == QLatin1String("Installationsverwaltung") ? name : benutzer;
}

} // namespace

void VarnelKern::init(const QString& name, const QStringList& argumente)
{
    eigenerName = name;
    erwarteterName = name;
    StartSperre sperre(*this);

    for (const QString& ini : { gibTavoIniPfad(), gibKoraIniPfad() }) {
        const QString sperrDatei = ini + QStringLiteral(".lock");
        if (QFileInfo::exists(sperrDatei))
            iniLockDateien << sperrDatei;
    }

    migriereAltePasswoerter();

    benutzername = Plattform::benutzername();

    if (benutzername != QLatin1String("noname")) {
        auto tavo = gibTavoIni();
        tavo->beginGroup(registerGruppe(name));
        const int port = tavo->value(registerSchluessel(name, benutzername), 0).toInt();
        tavo->endGroup();
        if (imBereich(name, port) && frageInstanz(quint16(port), argumente, true)) {
            andereInstanzAktiv = true;
            return;
        }
    }
    starteServer(name);
}

void VarnelKern::melde(bool fehler, const QString& text)
{
    // The start-up runs before the log exists: keep the line until it does.
    if (!gp_Log)
        vorLogMeldungen.append({ fehler, text });
    else if (fehler)
        IV_LOG_ERROR(text);
    else
        IV_LOG_INFO(text);
}

void VarnelKern::logeStartMeldungen()
{
    const auto meldungen = std::exchange(vorLogMeldungen, {});
    for (const auto& m : meldungen)
        melde(m.first, m.second);
}

void VarnelKern::migriereAltePasswoerter()
{
    const QString alterSchluessel = QStringLiteral("PROXY/Passwort");
    const struct {
        QSharedPointer<QSettings> ini;
        QString schluessel;
    } quellen[] = { { gibKoraIni(), Schluesselbund::proxyPasswort() },
                    { gibTavoIni(), Schluesselbund::adminPasswort() } };
    for (const auto& q : quellen) {
        if (!q.ini->contains(alterSchluessel))
            continue;
        const QString passwort = q.ini->value(alterSchluessel).toString();
        if (!passwort.isEmpty()) {
            QString fehler;
            if (!Schluesselbund::schreibe(q.schluessel, passwort, &fehler)) {
                // Keep the clear-text value: dropping it would lose the password.
                IV_LOG_ERROR(textAusLiteral("Konnte Passwort nicht verschl&uuml;sselt speichern: %1").arg(fehler));
                continue;
            }
        }
        q.ini->remove(alterSchluessel);
        if (q.ini->fileName() == gibTavoIniPfad())
            speichereTavoIni(*q.ini, alterSchluessel);
        else
            q.ini->sync();
    }
}

void VarnelKern::starteServer(const QString& name)
{
    const auto bereich = portBereich(name);
    for (quint32 port = bereich.first; port < bereich.second; ++port) {
        if (server.listen(QHostAddress::LocalHost, quint16(port)))
            break;
    }
    if (!server.isListening())
        return;
    auto tavo = gibTavoIni();
    tavo->beginGroup(registerGruppe(name));
    tavo->setValue(registerSchluessel(name, benutzername), int(server.serverPort()));
    tavo->endGroup();
    speichereTavoIni(*tavo, registerGruppe(name) + QLatin1Char('/') + registerSchluessel(name, benutzername));
    connect(&server, &QTcpServer::newConnection, this, &VarnelKern::acceptConnection, Qt::UniqueConnection);
}

void VarnelKern::acceptConnection()
{
    while (QTcpSocket* verbindung = server.nextPendingConnection()) {
        connect(verbindung, &QTcpSocket::readyRead, this, &VarnelKern::incomingQuestion);
        connect(verbindung, &QTcpSocket::disconnected, verbindung, &QObject::deleteLater);
        // A peer that never finishes its line must not hold the socket forever.
        QTimer::singleShot(5000, verbindung, [verbindung] { verbindung->abort(); verbindung->deleteLater(); });
    }
}

void VarnelKern::incomingQuestion()
{
    auto* verbindung = qobject_cast<QTcpSocket*>(sender());
    if (!verbindung)
        return;
    while (verbindung->canReadLine()) {
        QByteArray zeile = verbindung->readLine(maxZeilenLaenge + 2);
        if (zeile.endsWith('\n'))
            zeile.chop(1);
        else {
            // Longer than we accept: drop the peer.
            verbindung->abort();
            return;
        }
        verarbeiteZeile(verbindung, zeile);
        if (verbindung->state() != QAbstractSocket::ConnectedState)
            return;
    }
    if (verbindung->bytesAvailable() > maxZeilenLaenge)
        verbindung->abort();
}

VarnelKern::Zeile VarnelKern::zerlegeZeile(const QByteArray& zeile)
{
    Zeile z;
    const bool aktivieren = zeile.startsWith(praefixAktivieren);
    if (aktivieren || zeile.startsWith(praefixFrage)) {
        z.art = aktivieren ? Zeile::AKTIVIEREN : Zeile::FRAGE;
        const QByteArray rest = zeile.mid(praefixFrage.size());
        for (const QByteArray& arg : rest.split(feldTrenner)) {
            const QString a = QString::fromLatin1(arg).trimmed();
            if (!a.isEmpty())
                z.argumente << a;
        }
    } else if (zeile.startsWith(praefixStatus)) {
        const QList<QByteArray> teile = zeile.split(feldTrenner);
        if (teile.size() != 4) {
            z.art = Zeile::STATUS_UNGUELTIG;
            return z;
        }
        z.art = Zeile::STATUS;
        z.anwendung = QString::fromLatin1(teile.at(1));
        z.meldung = QString::fromLatin1(teile.at(2));
        z.offline = teile.at(3).trimmed().toInt() == 1;
    }
    return z;
}

void VarnelKern::verarbeiteZeile(QTcpSocket* verbindung, const QByteArray& zeile)
{
    const Zeile z = zerlegeZeile(zeile);
    switch (z.art) {
    case Zeile::AKTIVIEREN:
    case Zeile::FRAGE:
        if (z.art == Zeile::AKTIVIEREN)
            emit fensterAktivierenAngefordert();
        verbindung->write(alsIso885915(eigenerName) + '\n');
        verbindung->flush();
        for (const QString& a : z.argumente) {
            if (a == QLatin1String("--screenreader"))
                emit screenReaderModus();
            else if (!a.startsWith(QLatin1Char('-')) && QFileInfo(a).isFile())
                emit dateiOeffnen(a);
        }
        return;
    case Zeile::STATUS_UNGUELTIG:
        qWarning("Anfrage Invalid: %s", zeile.constData());
        return;
    case Zeile::STATUS:
        if (z.offline)
            emit externalApplicationWentOffline(z.anwendung, z.meldung);
        else
            emit externalApplicationWentOnline(z.anwendung, z.meldung);
        return;
    case Zeile::UNBEKANNT:
        return; // anything else gets no answer
    }
}

bool VarnelKern::frageInstanz(quint16 port, const QStringList& argumente, bool aktivieren)
{
    antwortPositiv = false;
    antwortErhalten = false;
    socket.abort();
    socket.connectToHost(QHostAddress::LocalHost, port);
    if (!socket.waitForConnected(1000)) {
        // Nobody listens there: a stale registration. Waiting for an answer
        // that cannot come would only delay the start.
        socket.abort();
        removeFoundIniLockFiles();
        return false;
    }
    connect(&socket, &QTcpSocket::readyRead, this, &VarnelKern::incommingResponse, Qt::UniqueConnection);
    connect(&socket, &QTcpSocket::errorOccurred, this, &VarnelKern::tcpFehler, Qt::UniqueConnection);
    QByteArray zeile = aktivieren ? praefixAktivieren : praefixFrage;
    zeile += argumente.join(QLatin1Char(feldTrenner)).toLatin1().replace('\n', ' ');
    zeile += '\n';
    socket.write(zeile);
    socket.flush();
    QTimer zeitgeber;
    zeitgeber.setSingleShot(true);
    connect(&zeitgeber, &QTimer::timeout, this, &VarnelKern::timeout);
    zeitgeber.start(3000);
    if (!antwortErhalten)
        warteschleife.exec(QEventLoop::ExcludeUserInputEvents);
    zeitgeber.stop();
    disconnect(&socket, nullptr, this, nullptr);
    socket.abort();
    return antwortPositiv;
}

void VarnelKern::incommingResponse()
{
    if (!socket.canReadLine()) {
        if (socket.bytesAvailable() > maxZeilenLaenge) {
            antwortErhalten = true;
            warteschleife.quit();
        }
        return;
    }
    const QByteArray zeile = socket.readLine(maxZeilenLaenge + 2);
    antwortPositiv = (zeile == alsIso885915(erwarteterName) + '\n') && istPeerVertrauenswuerdig(socket.peerPort());
    antwortErhalten = true;
    warteschleife.quit();
}

bool VarnelKern::istPeerVertrauenswuerdig(quint16 port)
{
    // Any local process may bind a free registered port and answer; only a
    // listener of this user or of root speaks for a running instance.
    const QList<uint> besitzer = Plattform::lauscherBesitzer(port);
    const uint eigene = Plattform::eigeneBenutzerId();
    QStringList fremde;
    for (const uint uid : besitzer)
        if (uid != eigene && uid != 0)
            fremde << QString::number(uid);
    if (besitzer.isEmpty() || !fremde.isEmpty()) {
        melde(false, QStringLiteral("Die Antwort auf Port %1 wird nicht beachtet: der Port geh\u00f6rt nicht diesem Benutzer "
                                   "oder root (Benutzer-Id: %2).")
                        .arg(port)
                         .arg(besitzer.isEmpty() ? QStringLiteral("unbekannt") : fremde.join(QLatin1Char(','))));
        return false;
    }
    return true;
}

void VarnelKern::timeout()
{
    if (!antwortErhalten)
        warteschleife.quit();
}

void VarnelKern::tcpFehler(QAbstractSocket::SocketError)
{
    if (!antwortErhalten) {
        removeFoundIniLockFiles();
        warteschleife.quit();
    }
}

bool VarnelKern::sendeAnfrageAnLaufendeInstanz(const QString& name, const QString& benutzer,
                                               const QStringList& argumente, bool aktivieren)
{
    const QString alterName = erwarteterName;
    erwarteterName = name;
    QList<int> ports;
    {
        auto tavo = gibTavoIni();
        tavo->beginGroup(registerGruppe(name));
        if (benutzer.isEmpty()) {
            for (const QString& schluessel : tavo->childKeys())
                ports << tavo->value(schluessel, 0).toInt();
        } else {
            ports << tavo->value(benutzer, 0).toInt();
        }
        tavo->endGroup();
    }
    bool gefunden = false;
    for (int port : ports) {
        if (port == 0 || !imBereich(name, port))
            continue;
        if (frageInstanz(quint16(port), argumente, aktivieren)) {
            gefunden = true;
            break;
        }
    }
    erwarteterName = alterName;
    return gefunden;
}

void VarnelKern::meldeStatusAnKora(int zahl, const QString& text1, const QString& text2)
{
    QList<int> ports;
    {
        auto tavo = gibTavoIni();
        tavo->beginGroup(registerGruppe(QStringLiteral("kora")));
        for (const QString& schluessel : tavo->childKeys())
            ports << tavo->value(schluessel, 0).toInt();
        tavo->endGroup();
    }
    QByteArray zeile = praefixStatus;
    for (const QString& feld : { QString::number(zahl), text1, text2 }) {
        QString f = feld;
        f.replace(QLatin1Char('\n'), QLatin1Char(' ')).replace(QLatin1Char(feldTrenner), QLatin1Char(' '));
        zeile += feldTrenner + f.toLatin1();
    }
    zeile += '\n';
    for (int port : ports) {
        // Only ports the main application can own: tavo.ini is no list of arbitrary targets.
        if (port == 0 || !imBereich(QStringLiteral("kora"), port))
            continue;
        QTcpSocket verbindung;
        verbindung.connectToHost(QHostAddress::LocalHost, quint16(port));
        if (!verbindung.waitForConnected(1000))
            continue;
        verbindung.write(zeile);
        verbindung.waitForBytesWritten(1000);
        verbindung.disconnectFromHost();
    }
}

bool VarnelKern::istEntwickler() const
{
    if (entwickler < 0) {
        const bool werkzeuge = getKoraEntwicklertools();
        entwickler = (werkzeuge && Bauwerte::entwickler().contains(benutzername.toLower())) ? 1 : 0;
    }
    return entwickler == 1;
}

bool VarnelKern::setPluginManagerDatenModel(const QString& schluessel, const QVariant& wert)
{
    auto tavo = gibTavoIni();
    tavo->setValue(schluessel, wert);
    return speichereTavoIni(*tavo, schluessel);
}

bool VarnelKern::loescheDateiLoggeFehler(const QString& pfad)
{
    QFile datei(pfad);
    if (datei.remove())
        return true;
    IV_LOG_ERROR(QStringLiteral("Konnte Datei %1 nicht loeschen: %2").arg(pfad, datei.errorString()));
    return false;
}

bool VarnelKern::recRmDir_Helfer(const QString& verzeichnis, const QString& wurzel)
{
    if (!liegtUnterhalb(verzeichnis, wurzel)) {
        IV_LOG_INFO(QStringLiteral("Rekursiv loeschen: Ignoriere %1, da nicht unterhalb von %2")
                        .arg(QDir::toNativeSeparators(verzeichnis), QDir::toNativeSeparators(wurzel)));
        return false;
    }
    const QFileInfo info(verzeichnis);
    if (info.isSymLink() || !info.isDir()) {
        // A link is removed itself, never followed: its target may lie anywhere.
        return !info.exists() && !info.isSymLink() ? true : loescheDateiLoggeFehler(verzeichnis);
    }
    bool ok = true;
    QDir dir(verzeichnis);
    const QFileInfoList eintraege = dir.entryInfoList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System);
    for (const QFileInfo& e : eintraege) {
        if (e.isDir() && !e.isSymLink())
            ok = recRmDir_Helfer(e.absoluteFilePath(), wurzel) && ok;
        else
            ok = loescheDateiLoggeFehler(e.absoluteFilePath()) && ok;
    }
    if (!QDir().rmdir(verzeichnis)) {
        IV_LOG_ERROR(QStringLiteral("Konnte Verzeichnis %1 nicht loeschen").arg(QDir::toNativeSeparators(verzeichnis)));
        ok = false;
    }
    return ok;
}

bool VarnelKern::loescheTmpVerzeichnis()
{
    return recRmDir_Helfer(gibDirTmp(), gibDirUser());
}

void VarnelKern::removeFoundIniLockFiles()
{
    for (const QString& datei : qAsConst(iniLockDateien)) {
        if (!QFileInfo::exists(datei))
            continue;
        // Only a lock whose writer is gone: removing the lock of a process
        // that is writing the file right now would let two writers mix it.
        // QLockFile takes over a stale lock and removes it when released.
        QLockFile sperre(datei);
        if (sperre.tryLock(0)) {
            sperre.unlock();
            IV_LOG_INFO(QStringLiteral("INI lock-file %1 geloescht! ").arg(datei));
        }
    }
}

QStringList VarnelKern::gibServerUrls()
{
    QStringList urls{ QStringLiteral("https://%1/").arg(Bauwerte::updateHost()) };
    const QStringList annahme = Bauwerte::datenannahmeServer();
    for (const QString& schema : { QStringLiteral("http"), QStringLiteral("https") })
        for (const QString& server : annahme)
            urls << QStringLiteral("%1://%2/").arg(schema, server);
    return urls;
}

QStringList VarnelKern::gibProxyDaten(const QString& benutzerVerzeichnis)
{
    QStringList ergebnis;
    if (getKoraProxyAutomatischeEinstellung(benutzerVerzeichnis)) {
        // Only the update host's entry decides; the other addresses serve the
        // main application's network set-up.
        const QList<QNetworkProxy> proxies =
            QNetworkProxyFactory::systemProxyForQuery(QNetworkProxyQuery(QUrl(gibServerUrls().constFirst())));
        if (proxies.isEmpty())
            return ergebnis;
        const QNetworkProxy& p = proxies.constFirst();
        if (p.type() == QNetworkProxy::NoProxy || p.type() == QNetworkProxy::DefaultProxy)
            return ergebnis;
        if (IPAdresseEinstellungsTyp().istGueltig(p.hostName())
            && PortEinstellungsTyp().istGueltig(QString::number(p.port()))) {
            ergebnis << p.hostName().simplified() << QString::number(p.port()) << p.user() << p.password();
        }
        return ergebnis;
    }

    const QString adminProfil = QStringLiteral("admin");
    const QString koraProfil = getKoraProxyProfil(benutzerVerzeichnis);
    if (getAdminProxyProfil() == adminProfil || koraProfil == adminProfil) {
        if (getAdminProxySystemeinstellung()) {
            ergebnis << getAdminProxyBenutzer() << getAdminProxyPassword();
        } else {
            ergebnis << getAdminProxyAdresse() << QString::number(getAdminProxyAnschluss())
                     << getAdminProxyBenutzer() << getAdminProxyPassword();
        }
    } else if (koraProfil == QLatin1String("kora")) {
        ergebnis << getKoraProxyAdresse(benutzerVerzeichnis)
                 << QString::number(getKoraProxyAnschluss(benutzerVerzeichnis))
                 << getKoraProxyBenutzer(benutzerVerzeichnis) << getKoraProxyPassword(benutzerVerzeichnis);
    }
    return ergebnis;
}
