#pragma once
// The application object's work that needs no widgets: start-up serialisation
// across processes, the loopback instance protocol shared with the main
// application, the user name, legacy password migration, ini lock files and
// the deletion helpers. VarnelApplication owns one; the engine reaches it
// through VarnelKern::instanz().

#include "global/varnelApplication/einstellungen.h"

#include <QEventLoop>
#include <QHash>
#include <QObject>
#include <QStringList>
#include <QTcpServer>
#include <QTcpSocket>

class VarnelKern : public QObject, public Einstellungen
{
    Q_OBJECT
public:
    // Protocol constants, shared with the main application.
    static const QByteArray praefixAktivieren;   // "1245689": question + bring window to front
    static const QByteArray praefixFrage;        // "2356790": question only
    static const QByteArray praefixStatus;       // "0xBADC0DED": status line
    static const char feldTrenner;               // between arguments and status fields
    static constexpr int maxZeilenLaenge = 64 * 1024;

    // One received line taken apart, before anything acts on it.
    struct Zeile {
        enum Art { UNBEKANNT, FRAGE, AKTIVIEREN, STATUS, STATUS_UNGUELTIG };
        Art art = UNBEKANNT;
        QStringList argumente; // question: the peer's arguments, trimmed, none empty
        QString anwendung;     // status: application and message
        QString meldung;
        bool offline = false;
    };
    static Zeile zerlegeZeile(const QByteArray& zeile);

    // `argumente` are sent with the start-up question (the own command line).
    explicit VarnelKern(const QString& name, const QStringList& argumente = QStringList(), QObject* parent = nullptr);
    ~VarnelKern() override;

    static VarnelKern* instanz();

    // First and one-past-last port of an application's range; {0,0} when it has none.
    // FISCALON_PORTBASIS=N (a sandbox) gives "kora" N.. and the manager the
    // next `sandkastenPorts` ports instead of the shared ranges.
    static constexpr int sandkastenPorts = 20;
    static QPair<quint16, quint16> portBereich(const QString& name);
    static QString registerGruppe(const QString& name);

    // Longest wait for the start-up lock, in milliseconds.
    static constexpr int startSperreWartezeit = 60000;
    // Logs what the start-up noted before the log existed (a long wait for
    // the lock, a start without it, an answer not taken from a foreign port).
    void logeStartMeldungen();
    // Logs now, or keeps the line for logeStartMeldungen while there is no log.
    void melde(bool fehler, const QString& text);

    bool istAndereInstanzAktiv() const { return andereInstanzAktiv; }
    quint16 gibServerPort() const { return server.isListening() ? server.serverPort() : 0; }
    bool sendeAnfrageAnLaufendeInstanz(const QString& name, const QString& benutzer, const QStringList& argumente,
                                       bool aktivieren);
    void meldeStatusAnKora(int zahl, const QString& text1, const QString& text2);

    QString gibBenutzername() const { return benutzername; }
    bool istEntwickler() const;

    bool setPluginManagerDatenModel(const QString& schluessel, const QVariant& wert);
    static bool loescheDateiLoggeFehler(const QString& pfad);
    static bool recRmDir_Helfer(const QString& verzeichnis, const QString& wurzel);
    static bool loescheTmpVerzeichnis();
    void removeFoundIniLockFiles();
    QStringList gibIniLockDateien() const { return iniLockDateien; }

    static QStringList gibServerUrls();
    static QStringList gibProxyDaten(const QString& benutzerVerzeichnis = QString());

    // Moves clear-text passwords of both ini files into the key store. The
    // key is removed only once the key store has the password.
    static void migriereAltePasswoerter();

signals:
    void dateiOeffnen(const QString& datei);
    void screenReaderModus();
    void externalApplicationWentOnline(const QString& appName, const QString& appMsg);
    void externalApplicationWentOffline(const QString& appName, const QString& appMsg);
    // A peer asked to bring our main window to the front.
    void fensterAktivierenAngefordert();

private slots:
    void acceptConnection();
    void incomingQuestion();
    void incommingResponse();
    void timeout();
    void tcpFehler(QAbstractSocket::SocketError fehler);

private:
    void init(const QString& name, const QStringList& argumente);
    bool frageInstanz(quint16 port, const QStringList& argumente, bool aktivieren);
    void starteServer(const QString& name);
    void verarbeiteZeile(QTcpSocket* verbindung, const QByteArray& zeile);
    bool istPeerVertrauenswuerdig(quint16 port);

    QTcpServer server;
    QTcpSocket socket;
    QEventLoop warteschleife;
    QString erwarteterName;
    bool antwortPositiv = false;
    bool antwortErhalten = false;
    bool andereInstanzAktiv = false;
    QString benutzername;
    QString eigenerName;
    QStringList iniLockDateien;
    QList<QPair<bool, QString>> vorLogMeldungen;
    mutable int entwickler = -1;
};
