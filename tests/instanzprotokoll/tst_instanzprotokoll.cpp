// The loopback instance protocol against real sockets, and the deletion helpers
// of the application object.

#include "global/varnelApplication/varnelkern.h"
#include "testhilfe/pruefhilfe.h"
#include "testhilfe/testumgebung.h"

#include <QScopeGuard>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QtTest>

#include <sys/socket.h>

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

// The range the managers of this test process use.
QPair<quint16, quint16> bereich(const char* name = "Installationsverwaltung")
{
    return VarnelKern::portBereich(QLatin1String(name));
}

// What came back up to the first line end, or with `bisZumEnde` up to the peer's
// close once our side is shut; bounded, as the server runs in this thread.
QByteArray sende(quint16 port, const QByteArray& zeile, bool bisZumEnde = false)
{
    QTcpSocket s;
    s.connectToHost(QHostAddress::LocalHost, port);
    if (!s.waitForConnected(1000))
        return "keine Verbindung";
    s.write(zeile);
    QByteArray antwort;
    bool zu = false;
    QElapsedTimer uhr;
    uhr.start();
    while (uhr.elapsed() < 10000 && (bisZumEnde || !antwort.endsWith('\n')) && s.state() == QAbstractSocket::ConnectedState) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        s.waitForReadyRead(20);
        if (bisZumEnde && !zu && s.bytesToWrite() == 0)
            zu = ::shutdown(int(s.socketDescriptor()), SHUT_WR) == 0;
        if (s.isOpen())
            antwort += s.readAll();
    }
    return antwort;
}

} // namespace

class TstInstanzprotokoll : public QObject
{
    Q_OBJECT
    TestLog m_log { "tst_instanzprotokoll" };
private slots:
    void zweiteInstanzErkenntErste()
    {
        TestUmgebung umgebung;
        VarnelKern erste(QStringLiteral("Installationsverwaltung"));
        QVERIFY(!erste.istAndereInstanzAktiv());
        const quint16 port = erste.gibServerPort();
        QVERIFY(port >= bereich().first && port < bereich().second);
        QCOMPARE(Einstellungen::getAdminWert(QStringLiteral("INSTALLATIONSVERWALTUNG/Installationsverwaltung")).toInt(), int(port));

        QSignalSpy aktivieren(&erste, &VarnelKern::fensterAktivierenAngefordert);
        VarnelKern zweite(QStringLiteral("Installationsverwaltung"));
        QVERIFY(zweite.istAndereInstanzAktiv());
        QCOMPARE(zweite.gibServerPort(), quint16(0));
        QCOMPARE(aktivieren.count(), 1);
        QVERIFY(zweite.sendeAnfrageAnLaufendeInstanz(QStringLiteral("Installationsverwaltung"), QString(), {}, false));
        QCOMPARE(aktivieren.count(), 1);
    }
    // A registration that cannot be written: the instance still serves, and the log says what is lost.
    void registrierungNichtSchreibbar()
    {
        TestUmgebung umgebung;
        QVERIFY(QDir().mkpath(Einstellungen::gibTavoIniPfad()));
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("kann nicht geschrieben werden")));
        const LogAusschnitt log;
        VarnelKern kern(QStringLiteral("Installationsverwaltung"));
        QVERIFY(!kern.istAndereInstanzAktiv());
        QCOMPARE(sende(kern.gibServerPort(), "2356790\n"), QByteArray("Installationsverwaltung\n"));
        QVERIFY2(log.enthaelt(QStringLiteral("Einstellungen wie INSTALLATIONSVERWALTUNG/Installationsverwaltung")), qPrintable(log.text()));
    }
    // Outside a sandbox both sides use the ranges the main application knows.
    void gemeinsameBereiche()
    {
        const QByteArray alt = qgetenv("FISCALON_PORTBASIS");
        const auto zurueck = qScopeGuard([&] { qputenv("FISCALON_PORTBASIS", alt); });
        qunsetenv("FISCALON_PORTBASIS");
        QCOMPARE(bereich(), qMakePair(quint16(61234), quint16(61384)));
        QCOMPARE(bereich("kora"), qMakePair(quint16(51234), quint16(51384)));
    }
    void fremdeAntwortenZaehlenNicht_data()
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
        // A peer that floods the asking side is left, its first line is no name.
        QTest::newRow("flutet") << QByteArray(200 * 1024, 'A') << true << true << false;
        QTest::newRow("Name nach ueberlanger Zeile") << QByteArray(70 * 1024, 'A') + '\n' + richtig << true << true << false;
        // Without a user name there is no one to ask: not even a connection.
        QTest::newRow("ohne Benutzername") << richtig << true << false << false;
    }
    void fremdeAntwortenZaehlenNicht()
    {
        QFETCH(QByteArray, antwort);
        QFETCH(bool, imBereich);
        QFETCH(bool, benutzer);
        QFETCH(bool, zaehlt);
        TestUmgebung umgebung;
        const QByteArrayList namen { "USERNAME", "USER", "LOGNAME" }, alt { qgetenv("USERNAME"), qgetenv("USER"), qgetenv("LOGNAME") };
        const auto zurueck = qScopeGuard([&] { for (int i = 0; i < 3; ++i) if (!alt[i].isNull()) qputenv(namen[i], alt[i]); });
        for (int i = 0; i < 3 && !benutzer; ++i)
            qunsetenv(namen[i]);
        FremdeInstanz peer(antwort, imBereich ? bereich().first : 0, imBereich ? bereich().second - 1 : 0);
        registriere(peer.port());

        {
            // A silent peer must not hold the start for good; the test's time-out
            // catches that, a wall-clock limit would also count the start-up lock.
            VarnelKern kern(QStringLiteral("Installationsverwaltung"));
            QCOMPARE(kern.istAndereInstanzAktiv(), zaehlt);
            if (!zaehlt)
                QVERIFY(kern.gibServerPort() != 0);
            if (!benutzer)
                QCOMPARE(kern.gibBenutzername(), QStringLiteral("noname"));
        }
        QCOMPARE(peer.verbindungen, imBereich && benutzer ? 1 : 0);
    }
    // What the answering side does with each line, and what it tells the program.
    void zeilen_data()
    {
        QTest::addColumn<QByteArray>("zeile"); // DATEI, ORDNER: an existing file, folder
        QTest::addColumn<QByteArray>("antwort"); // "-": the peer is dropped
        QTest::addColumn<QStringList>("ereignisse");
        const QByteArray name("Installationsverwaltung\n");
        QTest::newRow("Frage") << QByteArray("2356790\n") << name << QStringList();
        QTest::newRow("unbekannt, binaer") << QByteArray("\x00\xff\xfe\x01\n", 5) << QByteArray() << QStringList();
        // A flooding peer is dropped; so is one line over the limit, while a line of exactly 64 KiB is served.
        QTest::newRow("ueberlang") << QByteArray(4 * 1024 * 1024, 'A') << QByteArray("-") << QStringList();
        const QByteArray frage64k = QByteArray("2356790") + QByteArray(VarnelKern::maxZeilenLaenge - 7, 'C');
        QTest::newRow("genau 64 KiB") << frage64k + '\n' << name << QStringList();
        QTest::newRow("64 KiB und ein Byte") << frage64k + "C\n" << QByteArray("-") << QStringList();
        // The arguments of a question reach the running instance as file and mode requests.
        QTest::newRow("Frage mit Datei") << QByteArray("2356790DATEI\n") << name << QStringList{ "datei DATEI" };
        QTest::newRow("Vorlesemodus und Datei") << QByteArray("2356790 --screenreader \x1f" "DATEI\n") << name
                                                << QStringList{ "vorlesen", "datei DATEI" };
        QTest::newRow("Ordner") << QByteArray("2356790ORDNER\n") << name << QStringList();
        QTest::newRow("fehlende Datei") << QByteArray("2356790DATEI.fehlt\n") << name << QStringList();
        QTest::newRow("Schalter") << QByteArray("2356790--zeigeDlg\x1f-DATEI\n") << name << QStringList();
        // Status lines of the main application: four fields, nothing else.
        QTest::newRow("online") << QByteArray("0xBADC0DED\x1fkora\x1fgestartet\x1f" "0\n") << QByteArray() << QStringList{ "online kora" };
        QTest::newRow("offline") << QByteArray("0xBADC0DED\x1fkora\x1f" "beendet\x1f 1 \n") << QByteArray() << QStringList{ "offline kora" };
        QTest::newRow("drei Felder") << QByteArray("0xBADC0DED\x1fkora\x1f" "1\n") << QByteArray() << QStringList{ "abgewiesen" };
        QTest::newRow("fuenf Felder") << QByteArray("0xBADC0DED\x1fkora\x1fx\x1f" "1\x1fy\n") << QByteArray() << QStringList{ "abgewiesen" };
    }
    void zeilen()
    {
        QFETCH(QByteArray, zeile);
        QFETCH(QByteArray, antwort);
        QFETCH(QStringList, ereignisse);
        TestUmgebung umgebung;
        const QString datei = umgebung.pfad() + QStringLiteral("/erklaerung.est");
        TestUmgebung::schreibeDatei(datei, "x");
        zeile.replace("DATEI", QFile::encodeName(datei)).replace("ORDNER", QFile::encodeName(umgebung.pfad()));
        VarnelKern kern(QStringLiteral("Installationsverwaltung"));
        QStringList gesehen;
        connect(&kern, &VarnelKern::dateiOeffnen, this, [&](const QString& d) { gesehen << QStringLiteral("datei ") + d; });
        connect(&kern, &VarnelKern::screenReaderModus, this, [&] { gesehen << QStringLiteral("vorlesen"); });
        connect(&kern, &VarnelKern::externalApplicationWentOnline, this, [&](const QString& a) { gesehen << QStringLiteral("online ") + a; });
        connect(&kern, &VarnelKern::externalApplicationWentOffline, this, [&](const QString& a) { gesehen << QStringLiteral("offline ") + a; });
        if (ereignisse.contains(QStringLiteral("abgewiesen"))) {
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("^Anfrage Invalid:")));
            ereignisse.removeAll(QStringLiteral("abgewiesen"));
        }
        // A question behind it on the same connection: its answer comes after any
        // answer to the line, and nothing of a dropped peer is answered.
        QCOMPARE(sende(kern.gibServerPort(), zeile + "2356790\n", true),
                 antwort == "-" ? QByteArray() : antwort + "Installationsverwaltung\n");
        QCOMPARE(gesehen, ereignisse.replaceInStrings(QStringLiteral("DATEI"), datei));
        // Whatever came before, the next peer is served as usual.
        QCOMPARE(sende(kern.gibServerPort(), "2356790\n"), QByteArray("Installationsverwaltung\n"));
    }
    // A peer that starts a line and never ends it is dropped after a while (five seconds).
    void unvollendeteZeileWirdGetrennt()
    {
        TestUmgebung umgebung;
        VarnelKern kern(QStringLiteral("Installationsverwaltung"));
        QTcpSocket s;
        s.connectToHost(QHostAddress::LocalHost, kern.gibServerPort());
        QVERIFY(s.waitForConnected(5000));
        s.write("2356790");
        s.flush();
        QTRY_COMPARE_WITH_TIMEOUT(s.state(), QAbstractSocket::UnconnectedState, 30000);
        QCOMPARE(s.readAll(), QByteArray());
    }
    void statusAnKora()
    {
        TestUmgebung umgebung;
        FremdeInstanz kora("", bereich("kora").first, bereich("kora").second - 1);
        FremdeInstanz fremd("", 40000, 40100);
        registriere(kora.port(), QStringLiteral("KORA/tester"));
        registriere(0, QStringLiteral("KORA/anderer"));
        registriere(fremd.port(), QStringLiteral("KORA/fremd"));
        VarnelKern kern(QStringLiteral("Installationsverwaltung"));
        kern.meldeStatusAnKora(3, QStringLiteral("Download\nfertig"), QStringLiteral("ok"));
        QTRY_COMPARE_WITH_TIMEOUT(kora.zeilen.size(), 1, 10000);
        QCOMPARE(kora.zeilen.at(0), QByteArray("0xBADC0DED\x1f" "3\x1f" "Download fertig\x1fok\n"));
        QCOMPARE(fremd.verbindungen, 0);
    }
    void sperrdateienBeiToterGegenstelle()
    {
        TestUmgebung umgebung;
        const LogAusschnitt log;
        // A port of the range on which nobody listens: the last manager is gone.
        // Bound without listening, so no other process can take it meanwhile.
        QTcpSocket gebunden;
        quint16 frei = bereich().first;
        while (frei < bereich().second && !gebunden.bind(QHostAddress::LocalHost, frei, QAbstractSocket::DontShareAddress))
            ++frei;
        QCOMPARE(gebunden.state(), QAbstractSocket::BoundState);
        registriere(frei);
        // Left behind by a process that died while writing tavo.ini.
        const QString sperre = Einstellungen::gibTavoIniPfad() + QStringLiteral(".lock");
        TestUmgebung::schreibeDatei(sperre, "4711\n");
        VarnelKern kern(QStringLiteral("Installationsverwaltung"));
        QVERIFY(!kern.istAndereInstanzAktiv());
        QVERIFY(!QFile::exists(sperre));
        // A dead port is no running instance.
        registriere(frei);
        QVERIFY(!kern.sendeAnfrageAnLaufendeInstanz(QStringLiteral("Installationsverwaltung"), QString(), {}, false));
        QVERIFY(log.enthaelt(QStringLiteral("INI lock-file ") + sperre + QStringLiteral(" geloescht! ")));
    }
    void rekursivLoeschenBleibtUnterDerWurzel()
    {
        TestUmgebung umgebung;
        const LogAusschnitt log;
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
        QVERIFY(log.enthaelt(QStringLiteral("Rekursiv loeschen: Ignoriere ") + draussen + QStringLiteral(", da nicht unterhalb von ")));
    }
    void entwickler_data()
    {
        QTest::addColumn<QByteArray>("benutzer");
        QTest::addColumn<bool>("werkzeuge");
        QTest::addColumn<bool>("erwartet");
        QTest::newRow("Entwickler mit Werkzeugen") << QByteArray("Entwickler") << true << true;
        QTest::newRow("Entwickler ohne Werkzeuge") << QByteArray("entwickler") << false << false;
        QTest::newRow("Anwender mit Werkzeugen") << QByteArray("anna") << true << false;
    }
    void entwickler()
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
};

QTEST_GUILESS_MAIN(TstInstanzprotokoll)
#include "tst_instanzprotokoll.moc"
