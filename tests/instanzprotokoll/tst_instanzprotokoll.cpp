// The loopback instance protocol against real sockets: who counts as a running
// instance, what the answering side does with odd lines, status messages to
// the main application, and the deletion helpers of the application object.

#include "global/varnelApplication/logbase.h"
#include "global/varnelApplication/varnelkern.h"
#include "testhilfe/testumgebung.h"

#include <QScopeGuard>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// A peer that answers every line with a fixed text (or not at all).
class FremdeInstanz : public QObject
{
public:
    explicit FremdeInstanz(const QByteArray& antwort, quint16 ersterPort = 0, quint16 letzterPort = 0)
        : m_antwort(antwort)
    {
        for (quint32 p = ersterPort; p <= letzterPort && !m_server.isListening(); ++p)
            m_server.listen(QHostAddress::LocalHost, quint16(p));
        if (!m_server.isListening())
            m_server.listen(QHostAddress::LocalHost, 0);
        connect(&m_server, &QTcpServer::newConnection, this, [this] {
            QTcpSocket* s = m_server.nextPendingConnection();
            ++verbindungen;
            connect(s, &QTcpSocket::readyRead, s, [this, s] {
                while (s->canReadLine()) {
                    zeilen << s->readLine();
                    if (!m_antwort.isEmpty())
                        s->write(m_antwort);
                }
            });
        });
    }
    quint16 port() const { return m_server.serverPort(); }
    int verbindungen = 0;
    QList<QByteArray> zeilen;

private:
    QTcpServer m_server;
    QByteArray m_antwort;
};

void registriere(int port, const QString& eintrag = QStringLiteral("INSTALLATIONSVERWALTUNG/Installationsverwaltung"))
{
    Einstellungen::setAdminWert(eintrag, port);
}

// Sends one raw line to `port`, returns what came back within `ms`.
QByteArray sende(quint16 port, const QByteArray& zeile, int ms = 400)
{
    QTcpSocket s;
    s.connectToHost(QHostAddress::LocalHost, port);
    if (!s.waitForConnected(1000))
        return "keine Verbindung";
    s.write(zeile);
    s.flush();
    QByteArray antwort;
    QElapsedTimer uhr;
    uhr.start();
    while (uhr.elapsed() < ms && !antwort.endsWith('\n') && s.state() == QAbstractSocket::ConnectedState) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        s.waitForReadyRead(20);
        if (s.isOpen())
            antwort += s.readAll();
    }
    return antwort;
}

} // namespace

class TstInstanzprotokoll : public QObject
{
    Q_OBJECT
private slots:
    void zweiteInstanzErkenntErste();
    void fremdeAntwortenZaehlenNicht_data();
    void fremdeAntwortenZaehlenNicht();
    void zeilenOhneAntwort_data();
    void zeilenOhneAntwort();
    void statusZeilen_data();
    void statusZeilen();
    void statusAnKora();
    void sperrdateienBeiToterGegenstelle();
    void rekursivLoeschenBleibtUnterDerWurzel();
    void entwickler_data();
    void entwickler();
};

void TstInstanzprotokoll::zweiteInstanzErkenntErste()
{
    TestUmgebung umgebung;
    VarnelKern erste(QStringLiteral("Installationsverwaltung"));
    QVERIFY(!erste.istAndereInstanzAktiv());
    const quint16 port = erste.gibServerPort();
    QVERIFY(port >= 61234 && port < 61384);
    QCOMPARE(Einstellungen::getAdminWert(QStringLiteral("INSTALLATIONSVERWALTUNG/Installationsverwaltung")).toInt(), int(port));

    QSignalSpy aktivieren(&erste, &VarnelKern::fensterAktivierenAngefordert);
    VarnelKern zweite(QStringLiteral("Installationsverwaltung"));
    QVERIFY(zweite.istAndereInstanzAktiv());
    QCOMPARE(zweite.gibServerPort(), quint16(0));
    QCOMPARE(aktivieren.count(), 1);
    QVERIFY(zweite.sendeAnfrageAnLaufendeInstanz(QStringLiteral("Installationsverwaltung"), QString(), {}, false));
    QCOMPARE(aktivieren.count(), 1);
}

void TstInstanzprotokoll::fremdeAntwortenZaehlenNicht_data()
{
    QTest::addColumn<QByteArray>("antwort");
    QTest::addColumn<bool>("imBereich");
    QTest::addColumn<bool>("benutzer");
    QTest::addColumn<bool>("zaehlt");
    const QByteArray richtig("Installationsverwaltung\n");
    QTest::newRow("richtig") << richtig << true << true << true;
    QTest::newRow("falscher Name") << QByteArray("kora\n") << true << true << false;
    QTest::newRow("Name ohne Zeilenende") << QByteArray("Installationsverwaltung") << true << true << false;
    QTest::newRow("schweigt") << QByteArray() << true << true << false;
    QTest::newRow("Port ausserhalb") << richtig << false << true << false;
    // Without a user name there is no one to ask: not even a connection.
    QTest::newRow("ohne Benutzername") << richtig << true << false << false;
}

void TstInstanzprotokoll::fremdeAntwortenZaehlenNicht()
{
    QFETCH(QByteArray, antwort);
    QFETCH(bool, imBereich);
    QFETCH(bool, benutzer);
    QFETCH(bool, zaehlt);
    TestUmgebung umgebung;
    const char* namen[] = { "USERNAME", "USER", "LOGNAME" };
    QByteArrayList alt;
    for (const char* n : namen) {
        alt << qgetenv(n);
        if (!benutzer)
            qunsetenv(n);
    }
    const auto zurueck = qScopeGuard([&] {
        for (int i = 0; i < 3; ++i)
            if (!alt[i].isNull())
                qputenv(namen[i], alt[i]);
    });
    FremdeInstanz peer(antwort, imBereich ? 61234 : 0, imBereich ? 61383 : 0);
    registriere(peer.port());

    QElapsedTimer uhr;
    uhr.start();
    {
        VarnelKern kern(QStringLiteral("Installationsverwaltung"));
        QCOMPARE(kern.istAndereInstanzAktiv(), zaehlt);
        // Connect limit 1000 ms plus answer limit 3000 ms, with room for a slow machine.
        QVERIFY(uhr.elapsed() < 6000);
        if (!zaehlt)
            QVERIFY(kern.gibServerPort() != 0);
        if (!benutzer)
            QCOMPARE(kern.gibBenutzername(), QStringLiteral("noname"));
    }
    QCOMPARE(peer.verbindungen, imBereich && benutzer ? 1 : 0);
}

void TstInstanzprotokoll::zeilenOhneAntwort_data()
{
    QTest::addColumn<QByteArray>("zeile");
    QTest::addColumn<QByteArray>("antwort");
    QTest::newRow("Frage") << QByteArray("2356790\n") << QByteArray("Installationsverwaltung\n");
    QTest::newRow("Frage mit Argumenten") << QByteArray("2356790--a\x1f--b\n") << QByteArray("Installationsverwaltung\n");
    QTest::newRow("zu kurz") << QByteArray("12345\n") << QByteArray();
    QTest::newRow("unbekannt") << QByteArray("9999999\n") << QByteArray();
    QTest::newRow("leer") << QByteArray("\n") << QByteArray();
    QTest::newRow("binaer") << QByteArray("\x00\xff\xfe\x01\n", 5) << QByteArray();
    QTest::newRow("ohne Zeilenende") << QByteArray("2356790") << QByteArray();
    // Far more than a line may hold, with and without line end: the peer is dropped.
    QTest::newRow("ueberlang") << QByteArray(4 * 1024 * 1024, 'A') << QByteArray();
    QTest::newRow("ueberlange Frage") << QByteArray("2356790") + QByteArray(200 * 1024, 'B') + '\n' << QByteArray();
}

void TstInstanzprotokoll::zeilenOhneAntwort()
{
    QFETCH(QByteArray, zeile);
    QFETCH(QByteArray, antwort);
    TestUmgebung umgebung;
    VarnelKern kern(QStringLiteral("Installationsverwaltung"));
    QCOMPARE(sende(kern.gibServerPort(), zeile, zeile.size() > 1000 ? 1500 : 400), antwort);
    // Whatever came before, the next peer is served as usual.
    QCOMPARE(sende(kern.gibServerPort(), "2356790\n"), QByteArray("Installationsverwaltung\n"));
}

void TstInstanzprotokoll::statusZeilen_data()
{
    QTest::addColumn<QByteArray>("zeile");
    QTest::addColumn<int>("online");
    QTest::addColumn<int>("offline");
    QTest::addColumn<bool>("ungueltig");
    QTest::newRow("online") << QByteArray("0xBADC0DED\x1fkora\x1fgestartet\x1f" "0\n") << 1 << 0 << false;
    QTest::newRow("offline") << QByteArray("0xBADC0DED\x1fkora\x1f" "beendet\x1f 1 \n") << 0 << 1 << false;
    QTest::newRow("drei Felder") << QByteArray("0xBADC0DED\x1fkora\x1f" "1\n") << 0 << 0 << true;
    QTest::newRow("fuenf Felder") << QByteArray("0xBADC0DED\x1fkora\x1fx\x1f" "1\x1fy\n") << 0 << 0 << true;
}

void TstInstanzprotokoll::statusZeilen()
{
    QFETCH(QByteArray, zeile);
    QFETCH(int, online);
    QFETCH(int, offline);
    QFETCH(bool, ungueltig);
    TestUmgebung umgebung;
    VarnelKern kern(QStringLiteral("Installationsverwaltung"));
    QSignalSpy an(&kern, &VarnelKern::externalApplicationWentOnline);
    QSignalSpy aus(&kern, &VarnelKern::externalApplicationWentOffline);
    if (ungueltig)
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("^Anfrage Invalid:")));
    QCOMPARE(sende(kern.gibServerPort(), zeile), QByteArray());
    QCOMPARE(an.count(), online);
    QCOMPARE(aus.count(), offline);
    if (online + offline)
        QCOMPARE((online ? an : aus).at(0).at(0).toString(), QStringLiteral("kora"));
}

void TstInstanzprotokoll::statusAnKora()
{
    TestUmgebung umgebung;
    FremdeInstanz kora("", 51234, 51383);
    FremdeInstanz fremd("", 40000, 40100);
    registriere(kora.port(), QStringLiteral("KORA/tester"));
    registriere(0, QStringLiteral("KORA/anderer"));
    registriere(fremd.port(), QStringLiteral("KORA/fremd"));
    VarnelKern kern(QStringLiteral("Installationsverwaltung"));
    kern.meldeStatusAnKora(3, QStringLiteral("Download\nfertig"), QStringLiteral("ok"));
    QTRY_COMPARE_WITH_TIMEOUT(kora.zeilen.size(), 1, 3000);
    QCOMPARE(kora.zeilen.at(0), QByteArray("0xBADC0DED\x1f" "3\x1f" "Download fertig\x1fok\n"));
    QCOMPARE(fremd.verbindungen, 0);
}

void TstInstanzprotokoll::sperrdateienBeiToterGegenstelle()
{
    TestUmgebung umgebung;
    initLogBase(QStringLiteral("t"), 200000, umgebung.pfad());
    const QString log = gp_Log->gibDateiname();
    // A port of the range on which nobody listens: the last manager is gone.
    // Bound without listening, so no other process can take it meanwhile.
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    QVERIFY(fd >= 0);
    quint16 frei = 0;
    for (quint16 p = 61234; p < 61384 && !frei; ++p) {
        sockaddr_in a {};
        a.sin_family = AF_INET;
        a.sin_port = htons(p);
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0)
            frei = p;
    }
    QVERIFY(frei != 0);
    registriere(frei);
    // Left behind by a process that died while writing tavo.ini.
    const QString sperre = Einstellungen::gibTavoIniPfad() + QStringLiteral(".lock");
    TestUmgebung::schreibeDatei(sperre, "4711\n");
    QElapsedTimer uhr;
    uhr.start();
    VarnelKern kern(QStringLiteral("Installationsverwaltung"));
    QVERIFY(uhr.elapsed() < 1500);
    QVERIFY(!kern.istAndereInstanzAktiv());
    QVERIFY(!QFile::exists(sperre));
    beendeLogBase();
    QVERIFY(TestUmgebung::leseDatei(log).contains("INI lock-file " + sperre.toUtf8() + " geloescht! "));
    ::close(fd);
}

void TstInstanzprotokoll::rekursivLoeschenBleibtUnterDerWurzel()
{
    TestUmgebung umgebung;
    initLogBase(QStringLiteral("t"), 200000, umgebung.pfad());
    const QString log = gp_Log->gibDateiname();
    const QString wurzel = umgebung.pfad() + QStringLiteral("/inst");
    const QString draussen = umgebung.pfad() + QStringLiteral("/draussen");
    TestUmgebung::schreibeDatei(draussen + QStringLiteral("/wichtig.txt"), "bleibt");
    TestUmgebung::schreibeDatei(wurzel + QStringLiteral("/modul/a/b.txt"), "weg");
    TestUmgebung::schreibeDatei(wurzel + QStringLiteral("/modul/.versteckt"), "weg");
    QVERIFY(QFile::link(draussen, wurzel + QStringLiteral("/modul/verweis")));

    QVERIFY(!VarnelKern::recRmDir_Helfer(draussen, wurzel));
    QVERIFY(!VarnelKern::recRmDir_Helfer(wurzel, wurzel));
    QVERIFY(!VarnelKern::recRmDir_Helfer(wurzel + QStringLiteral("/../draussen"), wurzel));
    QVERIFY(VarnelKern::recRmDir_Helfer(wurzel + QStringLiteral("/modul"), wurzel));
    QVERIFY(!QFileInfo::exists(wurzel + QStringLiteral("/modul")));
    QCOMPARE(TestUmgebung::leseDatei(draussen + QStringLiteral("/wichtig.txt")), QByteArray("bleibt"));

    QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("Konnte Datei .* nicht loeschen")));
    QVERIFY(!VarnelKern::loescheDateiLoggeFehler(wurzel + QStringLiteral("/gibtsnicht")));
    beendeLogBase();
    const QByteArray inhalt = TestUmgebung::leseDatei(log);
    QVERIFY(inhalt.contains("Rekursiv loeschen: Ignoriere " + draussen.toUtf8() + ", da nicht unterhalb von "));
}

void TstInstanzprotokoll::entwickler_data()
{
    QTest::addColumn<QByteArray>("benutzer");
    QTest::addColumn<bool>("werkzeuge");
    QTest::addColumn<bool>("erwartet");
    QTest::newRow("Entwickler mit Werkzeugen") << QByteArray("Entwickler") << true << true;
    QTest::newRow("Entwickler ohne Werkzeuge") << QByteArray("entwickler") << false << false;
    QTest::newRow("Anwender mit Werkzeugen") << QByteArray("anna") << true << false;
}

void TstInstanzprotokoll::entwickler()
{
    QFETCH(QByteArray, benutzer);
    QFETCH(bool, werkzeuge);
    QFETCH(bool, erwartet);
    TestUmgebung umgebung;
    const QByteArray alt = qgetenv("USER");
    const auto zurueck = qScopeGuard([&] { qputenv("USER", alt); });
    qputenv("USER", benutzer);
    Einstellungen::setKoraWert(QStringLiteral("entwickler/entwicklertools"), werkzeuge);
    VarnelKern kern(QStringLiteral("Installationsverwaltung"));
    QCOMPARE(kern.istEntwickler(), erwartet);
    // Decided once per process: a later change of the file does not count.
    Einstellungen::setKoraWert(QStringLiteral("entwickler/entwicklertools"), !werkzeuge);
    QCOMPARE(kern.istEntwickler(), erwartet);
}

QTEST_GUILESS_MAIN(TstInstanzprotokoll)
#include "tst_instanzprotokoll.moc"
