// The update service control with real processes through the built-in
// service manager, the service program's refusals, and the systemd backend
// through a recorded systemctl.

#include "global/plattform/dienstverwaltung.h"
#include "global/plattform/plattform.h"
#include "global/varnelApplication/logbase.h"
#include "pluginManager/tavoservice.h"
#include "tests/testhilfe/pruefhilfe.h"
#include "tests/testhilfe/standin.h"

#include <QProcess>
#include <QSettings>
#include <QtTest>
#include <csignal>
#include <sys/stat.h>

namespace {

using Standin::argumenteAus;
using Standin::ausfuehrbar;

// Writes its arguments and its PID, then runs until SIGTERM (after `verzug`
// seconds) or ends at once with `ende`.
QByteArray standIn(const QString& ausgabe, const QString& ende = QString(), const QString& verzug = QStringLiteral("0"))
{
    return QStringLiteral("printf '%s\\0' \"$@\" > '%1.tmp'; mv '%1.tmp' '%1'; echo $$ > '%1.pid'\n"
                          "%2\n"
                          ": > \"$FISCALON_DIENST_BEREIT\"\n"
                          "trap 'sleep %3; exit 0' TERM\n"
                          "while :; do sleep 0.05; done")
        .arg(ausgabe, ende.isEmpty() ? QString() : QStringLiteral("exit ") + ende, verzug)
        .toUtf8();
}

} // namespace

class TstTavoService : public QObject
{
    Q_OBJECT

private slots:
    void init()
    {
        m_umgebung = std::make_unique<TestUmgebung>();
        m_ausgabe = m_umgebung->pfad() + QStringLiteral("/argumente");
    }
    void cleanup()
    {
        // Whatever a failed case left running is ended here.
        tavoService dienst;
        if (dienst.init()) {
            Plattform::DienstStatus s;
            if (dienst.gibStatus(s) && s.pid > 0)
                ::kill(pid_t(s.pid), SIGKILL);
        }
        beendeStandIn(m_ausgabe);
        m_umgebung.reset();
    }
    void lebenszyklus()
    {
        const QString programm = ausfuehrbar(m_umgebung->pfad() + QStringLiteral("/mit Leer/dienst"), standIn(m_ausgabe));
        tavoService dienst;
        QVERIFY(dienst.erzeugen(programm));
        LogAusschnitt anfang;
        QVERIFY(!dienst.erzeugen(programm));
        QVERIFY(anfang.text().toUtf8().contains("CreateServiceW fehlgeschlagen (The specified service already exists.)"));

        QVERIFY(dienst.init());
        bool ok = false;
        QVERIFY(dienst.istGestoppt(ok) && ok);
        const QStringList argumente = { QStringLiteral("/opt/Fiscalon/bin/installationsverwaltung"),
                                        QStringLiteral("--koraDir=\"/opt/mit Leer\""), QStringLiteral("a \"b\" c"),
                                        QStringLiteral("; $HOME"), QStringLiteral("--esStart"), QStringLiteral("nicht") };
        QVERIFY(dienst.starte(5, argumente));
        QVERIFY(dienst.istGestartet(ok) && ok);
        QTRY_COMPARE(argumenteAus(m_ausgabe).join(QLatin1Char('|')), argumente.mid(0, 5).join(QLatin1Char('|')));
        // Running already: a second start is refused by the service manager.
        anfang = LogAusschnitt();
        QVERIFY(!dienst.starte(1, argumente));
        QVERIFY(anfang.text().toUtf8().contains("::StartService == FALSE"));

        QVERIFY(dienst.stoppe());
        QVERIFY(dienst.istGestoppt(ok) && ok);
        anfang = LogAusschnitt();
        QVERIFY(!dienst.stoppe());
        QVERIFY(anfang.text().toUtf8().contains("ControlService fehlgeschlagen (1062)"));

        QVERIFY(dienst.loesche());
        anfang = LogAusschnitt();
        QVERIFY(!dienst.loesche());
        QVERIFY(!tavoService().init());
        QCOMPARE(anfang.text().toUtf8().count("OpenService fehlgeschlagen (1060)"), 2);
    }
    void fehlschlaege_data()
    {
        QTest::addColumn<QString>("fall");
        QTest::addColumn<QString>("logzeile");
        QTest::addColumn<int>("hoechstensMs");
        QTest::newRow("eigener Fehler") << "exit 42" << "Fehler beim Start des \"TavoService\"; Fehlernummer: 42" << 3000;
        QTest::newRow("endet sofort mit 0 bis zur Grenze") << "exit 0" << "" << 30000;
        QTest::newRow("Programm fehlt") << "fehlt" << "::StartService == FALSE" << 1000;
        QTest::newRow("Registrierung ohne Programm") << "kaputt" << "OpenService fehlgeschlagen (13)" << 1000;
        QTest::newRow("Registrierung fuer alle beschreibbar") << "beschreibbar" << "OpenService fehlgeschlagen (5)" << 1000;
        QTest::newRow("Stopp dauert zu lange") << "langsam" << "" << 5000;
    }
    void fehlschlaege()
    {
        QFETCH(QString, fall);
        QFETCH(QString, logzeile);
        QFETCH(int, hoechstensMs);
        QString programm = m_umgebung->pfad() + QStringLiteral("/dienst");
        if (fall.startsWith(QLatin1String("exit")))
            ausfuehrbar(programm, standIn(m_ausgabe, fall.mid(5)));
        else if (fall == QLatin1String("langsam"))
            ausfuehrbar(programm, standIn(m_ausgabe, QString(), QStringLiteral("2")));
        else
            ausfuehrbar(programm, standIn(m_ausgabe));
        tavoService dienst;
        QVERIFY(dienst.erzeugen(fall == QLatin1String("fehlt") ? programm + QStringLiteral(".fehlt") : programm));
        const QString registrierung = Plattform::unterWurzel(QStringLiteral("/var/lib/fiscalon/dienste/TavoService.ini"));
        if (fall == QLatin1String("kaputt"))
            TestUmgebung::schreibeDatei(registrierung, "[General]\nAnzeigename=x\n");
        else if (fall == QLatin1String("beschreibbar"))
            QVERIFY(::chmod(QFile::encodeName(registrierung).constData(), 0666) == 0);

        const LogAusschnitt anfang;
        QElapsedTimer uhr;
        uhr.start();
        bool ergebnis = dienst.init();
        if (ergebnis && fall == QLatin1String("langsam")) {
            QVERIFY(dienst.starte(0, {}));
            ergebnis = dienst.stoppe();
            bool ok = false;
            QVERIFY(!dienst.istGestoppt(ok) && ok);
            QTRY_VERIFY_WITH_TIMEOUT(dienst.istGestoppt(ok), 5000);
        } else if (ergebnis) {
            ergebnis = dienst.starte(1, { QStringLiteral("x") });
        }
        QVERIFY(!ergebnis);
        QVERIFY2(uhr.elapsed() <= hoechstensMs, qPrintable(QString::number(uhr.elapsed())));
        if (fall == QLatin1String("exit 0"))
            QVERIFY(uhr.elapsed() >= 19000);
        if (!logzeile.isEmpty())
            QVERIFY2(anfang.text().toUtf8().contains(logzeile.toUtf8()), anfang.text().toUtf8().constData());
    }
    void dienstprogramm_data()
    {
        QTest::addColumn<QString>("fall");
        QTest::addColumn<QStringList>("argumente"); // after the program; "<kora>" the known installation
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("grund");
        const QStringList gut = { "--koraDir=\"<kora>\"", "--zeigeDlg", "--i2", "--dirUserKora=\"<benutzer>\"", "--esStart", "--sID=3" };
        QTest::newRow("verifizierte Kopie") << "" << gut << 0 << "Gestartet";
        QTest::newRow("koraDir ueber Verknuepfung") << "link" << gut << 0 << "Gestartet";
        QTest::newRow("zweites Programm") << "" << (QStringList { "/bin/sh" } + gut) << 4 << "zweites Programm";
        QTest::newRow("unbekannter Schalter") << "" << (QStringList { "--exec=/bin/sh" } + gut) << 3 << "unbekannt";
        QTest::newRow("Fortsetzung mit Administratorrechten") << "" << (QStringList { "--admin" } + gut) << 3 << "unbekannt";
        QTest::newRow("doppelter Schalter") << "" << (QStringList { "--i3" } + gut) << 3 << "doppelt";
        QTest::newRow("Zeilenumbruch") << "" << (QStringList { "--redirect=a\nb" } + gut) << 2 << "Zeilenumbruch";
        QTest::newRow("fremdes Programm") << "/bin/sh" << gut << 5 << "keine bekannte Kopie";
        QTest::newRow("Kopie veraendert") << "veraendert" << gut << 6 << "nicht unversehrt";
        QTest::newRow("fremdes koraDir") << "" << QStringList(QStringList { "--koraDir=/tmp" } + gut.mid(1)) << 7 << "bekannte Installation";
        QTest::newRow("Eintrag beschreibbar") << "beschreibbar" << gut << 7 << "nicht vertrauensw";
        QTest::newRow("Benutzerordner von root") << "root" << gut << 10 << "--dirUserKora";
        QTest::newRow("Benutzerordner fehlt") << "" << QStringList(QStringList { "--dirUserKora=/nirgends" } + gut.mid(0, 3) + gut.mid(4)) << 10 << "--dirUserKora";
        QTest::newRow("ohne Sitzung") << "" << QStringList(gut.mid(0, 5)) << 8 << "--sID";
    }
    void dienstprogramm()
    {
        QFETCH(QString, fall);
        QFETCH(QStringList, argumente);
        QFETCH(int, code);
        QFETCH(QString, grund);
        const QString schluessel = QStringLiteral(IV_ENTWICKLUNGSSCHLUESSEL);
        if (schluessel.isEmpty())
            QSKIP("built with FISCALON_PUBLIC_KEY: no key here to sign a manager copy with");
        if (fall == QLatin1String("root") && ::geteuid() != 0)
            QSKIP("a folder of root's can be made only as root");

        const QString kora = m_umgebung->wurzel() + QStringLiteral("/opt/Fiscalon");
        const QString kopie = kora + QStringLiteral("/installationsverwaltung");
        const QString eintrag = installation(kora, schluessel);
        if (fall == QLatin1String("beschreibbar"))
            QVERIFY(::chmod(QFile::encodeName(eintrag).constData(), 0646) == 0);
        if (fall == QLatin1String("veraendert"))
            DictHilfe::schreibe(kopie + QStringLiteral("/lib/libhilfe.so"), "fremd");

        // The user's data folder belongs to an ordinary user.
        const QString benutzer = m_umgebung->home() + QStringLiteral("/mit Leer \"kora\"");
        QVERIFY(QDir().mkpath(benutzer));
        if (fall != QLatin1String("root") && ::geteuid() == 0)
            QVERIFY(::chown(QFile::encodeName(benutzer).constData(), 65534, 65534) == 0);
        // Passed on is the checked folder, not a link to it.
        const QString verknuepfung = m_umgebung->pfad() + QStringLiteral("/verknuepfung");
        QVERIFY(QFile::link(kora, verknuepfung));
        QStringList erwartet = argumente;
        erwartet.replaceInStrings(QStringLiteral("<kora>"), kora);
        argumente.replaceInStrings(QStringLiteral("<kora>"), fall == QLatin1String("link") ? verknuepfung : kora);
        erwartet.replaceInStrings(QStringLiteral("<benutzer>"), benutzer);
        // The manager gets the values as a command line means them, without its quotes.
        for (QString& e : erwartet) {
            const int gleich = e.indexOf(QStringLiteral("=\""));
            if (gleich > 0 && e.endsWith(QLatin1Char('"')))
                e = e.left(gleich + 1) + e.mid(gleich + 2).chopped(1);
        }
        argumente.replaceInStrings(QStringLiteral("<benutzer>"), benutzer);
        argumente.prepend(fall == QLatin1String("/bin/sh") ? fall : kopie + QStringLiteral("/bin/installationsverwaltung"));
        tavoService dienst;
        QVERIFY(dienst.erzeugen(QStringLiteral(IV_TAVODIENST)));
        QVERIFY(dienst.init());
        const LogAusschnitt anfang;
        QCOMPARE(dienst.starte(argumente.size(), argumente), code == 0);
        const QByteArray dienstLog = TestUmgebung::leseDatei(Plattform::unterWurzel(QStringLiteral("/var/log/fiscalon/tavodienst.log")));
        if (code) {
            QVERIFY2(anfang.text().toUtf8().contains(QStringLiteral("Fehlernummer: %1").arg(code).toUtf8()), anfang.text().toUtf8().constData());
            QVERIFY2(dienstLog.contains(QStringLiteral("Abgelehnt (Fehlernummer %1)").arg(code).toUtf8()), dienstLog.constData());
        }
        QVERIFY2(dienstLog.contains(grund.toUtf8()), dienstLog.constData());
        if (code)
            return;
        // The manager sees exactly the service's arguments, and keeps running
        // when the service is stopped.
        QTRY_COMPARE(argumenteAus(m_ausgabe), erwartet);
        QVERIFY(dienst.stoppe());
        const pid_t manager = pid_t(TestUmgebung::leseDatei(m_ausgabe + QStringLiteral(".pid")).trimmed().toLong());
        QVERIFY(manager > 0 && ::kill(manager, 0) == 0);
    }
    void lauscher_data()
    {
        // What an ordinary user (65534, group users) sends to root's listener:
        // the raw line, and what comes back and is logged. "<p>" stands for
        // the manager copy and the known installation's switches.
        QTest::addColumn<QByteArray>("zeile");
        QTest::addColumn<int>("antwort");   // the listener's
        QTest::addColumn<int>("dienst");    // the service's own code, -1: not started
        QTest::addColumn<QString>("log");   // in the listener's or the service's log
        QTest::newRow("zu lange Zeile") << ("starte " + QByteArray(9000, 'a') + "\n") << 13 << -1 << "als 8192 Bytes";
        QTest::newRow("Tabulator") << QByteArray("starte <p>\t--zeigeDlg\n") << 13 << -1 << "Steuerzeichen";
        QTest::newRow("Byte ausserhalb von ASCII") << QByteArray("starte <p> --redirect=\xc3\xa4\n") << 13 << -1 << "Steuerzeichen";
        QTest::newRow("keine Zeile in der Zeit") << QByteArray("starte <p>") << 13 << -1 << "innerhalb von 5000 ms";
        QTest::newRow("Daten nach der Zeile") << QByteArray("stoppe\nstoppe\n") << 13 << -1 << "weitere Daten";
        QTest::newRow("unbekannter Auftrag") << QByteArray("loesche <p>\n") << 13 << -1 << "Unbekannter Auftrag";
        QTest::newRow("unbekannter Schalter") << QByteArray("starte <p> --exec%3D%2Fbin%2Fsh\n") << 0 << 3 << "unbekannt oder doppelt";
        QTest::newRow("Benutzerordner eines anderen") << QByteArray("starte <p> --dirUserKora%3D<fremd>\n") << 0 << 10 << "65534, der den Dienst aufrief";
        QTest::newRow("eigener Benutzerordner") << QByteArray("starte <p> --dirUserKora%3D<eigen>\n") << 0 << 0 << "Gestartet";
        QTest::newRow("Stopp ohne laufenden Dienst") << QByteArray("stoppe\n") << 1062 << -1 << "Auftrag [stoppe] von Benutzer 65534";
    }
    void lauscher()
    {
        QFETCH(QByteArray, zeile);
        QFETCH(int, antwort);
        QFETCH(int, dienst);
        QFETCH(QString, log);
        if (::geteuid() != 0)
            QSKIP("the listener and the caller of another user need root");
        const QString schluessel = QStringLiteral(IV_ENTWICKLUNGSSCHLUESSEL);
        if (schluessel.isEmpty())
            QSKIP("built with FISCALON_PUBLIC_KEY: no key here to sign a manager copy with");
        zeile = benutzerZeile(zeile, schluessel);
        QVERIFY(tavoService().erzeugen(QStringLiteral(IV_TAVODIENST)));

        QProcess lauscher;
        lauscher.start(QStringLiteral(IV_TAVODIENST), { QStringLiteral("--lausche"), QStringLiteral("TavoService"), QStringLiteral("users") });
        const QString socket = Plattform::dienstSocket(QStringLiteral("TavoService"));
        QTRY_VERIFY(QFileInfo::exists(socket));
        struct stat st {};
        QVERIFY(::stat(QFile::encodeName(socket).constData(), &st) == 0);
        QCOMPARE(st.st_mode & 07777, mode_t(0660));
        QCOMPARE(st.st_uid, uid_t(0));
        QCOMPARE(st.st_gid, gid_t(100));

        QProcess aufrufer;
        aufrufer.start(QStringLiteral("setpriv"), { QStringLiteral("--reuid=65534"), QStringLiteral("--regid=100"), QStringLiteral("--clear-groups"),
                                                    QStringLiteral("/usr/bin/python3"), QStringLiteral("-c"), QStringLiteral(
            "import socket,sys\n"
            "s=socket.socket(socket.AF_UNIX)\ns.connect(sys.argv[1])\ns.sendall(bytes.fromhex(sys.argv[2]))\n"
            "s.settimeout(30)\na=b''\n"
            "while not a.endswith(b'\\n'):\n  t=s.recv(64)\n  if not t: break\n  a+=t\n"
            "print(a.decode().strip())\n"), socket, QString::fromLatin1(zeile.toHex()) });
        QVERIFY(aufrufer.waitForFinished(40000));
        const QByteArray gehoert = aufrufer.readAllStandardOutput().trimmed();
        QCOMPARE(gehoert, QByteArray::number(antwort));
        tavoService steuerung;
        QVERIFY(steuerung.init());
        Plattform::DienstStatus s;
        if (dienst == 0) {
            QTRY_VERIFY(steuerung.gibStatus(s) && s.zustand == Plattform::DienstStatus::Laeuft);
            // The manager copy got the checked folder, as root.
            QTRY_VERIFY(QFileInfo::exists(m_ausgabe));
            QVERIFY(argumenteAus(m_ausgabe).contains(QStringLiteral("--dirUserKora=") + m_umgebung->home() + QStringLiteral("/eigen")));
            QVERIFY(steuerung.stoppe());
        } else if (dienst > 0) {
            QTRY_VERIFY(steuerung.gibStatus(s) && s.zustand == Plattform::DienstStatus::Gestoppt);
            QCOMPARE(s.dienstExitCode, dienst);
        } else {
            QVERIFY(steuerung.gibStatus(s) && s.zustand == Plattform::DienstStatus::Gestoppt && s.dienstExitCode == 0);
        }
        lauscher.terminate();
        QVERIFY(lauscher.waitForFinished(10000));
        QCOMPARE(lauscher.exitCode(), 0);
        QVERIFY(!QFileInfo::exists(socket));
        const QString logs = Plattform::unterWurzel(QStringLiteral("/var/log/fiscalon/"));
        const QByteArray text = TestUmgebung::leseDatei(logs + QStringLiteral("tavodienst-lauscher.log"))
            + TestUmgebung::leseDatei(logs + QStringLiteral("tavodienst.log"));
        QVERIFY2(text.contains(log.toUtf8()), text.constData());
        if (dienst >= 0)
            QVERIFY(text.contains("Auftrag [starte] von Benutzer 65534 (PID "));
    }
    void socketAktivierung_data()
    {
        // The service program as systemd's socket unit starts it for a user:
        // the listening socket as fd 3, no parameter file.
        QTest::addColumn<QByteArray>("zeile");
        QTest::addColumn<QByteArray>("antwort");
        QTest::addColumn<QString>("log");
        QTest::newRow("eigener Benutzerordner") << QByteArray("starte <p> --dirUserKora%3D<eigen>\n") << QByteArray("0") << "Gestartet (PID";
        QTest::newRow("Benutzerordner eines anderen") << QByteArray("starte <p> --dirUserKora%3D<fremd>\n") << QByteArray("10") << "65534, der den Dienst aufrief";
        QTest::newRow("Steuerzeichen") << QByteArray("starte <p>\x01\n") << QByteArray("1") << "Steuerzeichen";
        QTest::newRow("Stopp statt Start") << QByteArray("stoppe\n") << QByteArray("1") << "nicht angenommen: stoppe";
    }
    void socketAktivierung()
    {
        QFETCH(QByteArray, zeile);
        QFETCH(QByteArray, antwort);
        QFETCH(QString, log);
        if (::geteuid() != 0)
            QSKIP("the caller of another user needs root");
        const QString schluessel = QStringLiteral(IV_ENTWICKLUNGSSCHLUESSEL);
        if (schluessel.isEmpty())
            QSKIP("built with FISCALON_PUBLIC_KEY: no key here to sign a manager copy with");
        zeile = benutzerZeile(zeile, schluessel);
        QProcess p;
        p.start(QStringLiteral("/usr/bin/python3"), { QStringLiteral("-c"), QStringLiteral(
            "import os,socket,sys\n"
            "pfad,programm,datei,zeile=sys.argv[1:5]\n"
            "l=socket.socket(socket.AF_UNIX)\nl.bind(pfad)\nos.chmod(pfad,0o666)\nl.listen(4)\n"
            "dienst=os.fork()\n"
            "if dienst==0:\n"
            "  os.dup2(l.fileno(),3)\n  os.set_inheritable(3,True)\n  os.environ.update(LISTEN_FDS='1',LISTEN_PID=str(os.getpid()))\n"
            "  os.execv(programm,[programm,'--parameterDatei='+datei])\n"
            "kunde=os.fork()\n"
            "if kunde==0:\n"
            "  os.setgroups([])\n  os.setgid(100)\n  os.setuid(65534)\n"
            "  s=socket.socket(socket.AF_UNIX)\n  s.connect(pfad)\n  s.sendall(bytes.fromhex(zeile))\n  s.settimeout(30)\n"
            "  print(s.recv(64).decode().strip(),flush=True)\n  os._exit(0)\n"
            "os.waitpid(kunde,0)\nprint(dienst,flush=True)\n"), m_umgebung->pfad() + QStringLiteral("/TavoService.sock"),
            QStringLiteral(IV_TAVODIENST), Plattform::dienstParameterDatei(QStringLiteral("TavoService")), QString::fromLatin1(zeile.toHex()) });
        QVERIFY(p.waitForFinished(40000));
        const QList<QByteArray> aus = p.readAllStandardOutput().trimmed().split('\n');
        QVERIFY2(aus.size() == 2, p.readAllStandardError().constData());
        QCOMPARE(aus.first().trimmed(), antwort);
        // The service runs on after a start, as under systemd until it is stopped.
        const pid_t dienst = pid_t(aus.last().toLong());
        QVERIFY(dienst > 0);
        const auto lebt = [dienst] {
            return ::kill(dienst, 0) == 0 && !TestUmgebung::leseDatei(QStringLiteral("/proc/%1/stat").arg(dienst)).contains(") Z ");
        };
        if (antwort == "0") {
            QTest::qWait(300);
            QVERIFY(lebt());
        } else {
            QTRY_VERIFY(!lebt());
        }
        ::kill(dienst, SIGTERM);
        const QByteArray text = TestUmgebung::leseDatei(Plattform::unterWurzel(QStringLiteral("/var/log/fiscalon/tavodienst.log")));
        QVERIFY2(text.contains(log.toUtf8()), text.constData());
    }
    void systemd()
    {
        QList<QStringList> befehle;
        QByteArray antwort;
        int antwortCode = 0;
        auto verwaltung = Plattform::erzeugeSystemdDienstverwaltung([&](const QStringList& a, QByteArray& aus) {
            befehle.append(a);
            aus = antwort;
            return antwortCode;
        });
        tavoService dienst(std::move(verwaltung));
        QVERIFY(dienst.erzeugen(QStringLiteral("/opt/Fiscalon Update Service/bin/tavo%dienst")));
        const QString parameterDatei = Plattform::dienstParameterDatei(QStringLiteral("TavoService"));
        // The package's unit with this program and the parameter file filled in.
        const QString unitText = QString::fromUtf8(TestUmgebung::leseDatei(Plattform::systemdUnitDatei(QStringLiteral("TavoService"))));
        for (const QString& zeile : { QStringLiteral("# Der \"Fiscalon Update Service\" stellt sicher das Fiscalon immer aktuell ist.\n"),
                                      QStringLiteral("\nDescription=Fiscalon Update Service\n"), QStringLiteral("\nType=notify\n"),
                                      QStringLiteral("\nKillMode=process\n"),
                                      QStringLiteral("\nExecStart=\"/opt/Fiscalon Update Service/bin/tavo%%dienst\" \"--parameterDatei=%1\"\n")
                                          .arg(parameterDatei) })
            QVERIFY2(unitText.contains(zeile), qPrintable(zeile));
        QVERIFY2(!unitText.contains(QLatin1Char('@')), qPrintable(unitText));
        QVERIFY(!dienst.erzeugen(QStringLiteral("/x")));
        QVERIFY(dienst.init());

        // The service fails with its own code: reported with that code.
        antwort = "ActiveState=failed\nResult=exit-code\nExecMainCode=1\nExecMainStatus=5\nMainPID=0\n";
        const LogAusschnitt anfang;
        const QStringList argumente = { QStringLiteral("/p"), QStringLiteral("a \"b\"\tc"), QStringLiteral("--esStart") };
        QVERIFY(!dienst.starte(3, argumente));
        QVERIFY(anfang.text().toUtf8().contains("Fehlernummer: 5"));
        struct stat st {};
        QCOMPARE(::stat(QFile::encodeName(parameterDatei).constData(), &st), 0);
        QCOMPARE(st.st_mode & 0777, 0600u);
        QStringList gelesen;
        QString fehler;
        QVERIFY(Plattform::leseDienstParameter(parameterDatei, gelesen, fehler));
        QCOMPARE(gelesen, argumente);
        QVERIFY(!QFileInfo::exists(parameterDatei));

        antwort = "ActiveState=inactive\nResult=success\n";
        QVERIFY(dienst.stoppe());
        QVERIFY(dienst.loesche());
        QVERIFY(!QFileInfo::exists(Plattform::systemdUnitDatei(QStringLiteral("TavoService"))));
        const QString unit = QStringLiteral("TavoService.service");
        const QList<QStringList> erwartet = {
            { "daemon-reload" },
            { "start", "--no-block", unit },
            { "show", "--property=ActiveState,Result,ExecMainCode,ExecMainStatus,MainPID", unit },
            { "stop", "--no-block", unit },
            { "show", "--property=ActiveState,Result,ExecMainCode,ExecMainStatus,MainPID", unit },
            { "daemon-reload" },
        };
        QCOMPARE(befehle, erwartet);
        // systemctl's "not loaded" is the service manager's "does not exist".
        antwortCode = 5;
        QVERIFY(!dienst.stoppe());
        QVERIFY(anfang.text().toUtf8().contains("ControlService fehlgeschlagen (1060)"));
    }
    void zugriff_data()
    {
        // The service program run directly, as the manager does after registering
        // the service: who may start and stop it, for either service manager.
        QTest::addColumn<QString>("verwaltung"); // "systemd", "eingebaut", "keine" (not registered)
        QTest::addColumn<QStringList>("argumente");
        QTest::addColumn<bool>("alsDienst");     // started by the service manager
        QTest::addColumn<int>("code");
        const QStringList gut = { "--zugriff", "TavoService", "users" };
        QTest::newRow("systemd: polkit-Regel") << "systemd" << gut << false << 0;
        QTest::newRow("eingebaut: Zugriffseintrag") << "eingebaut" << gut << false << 0;
        QTest::newRow("nicht registriert") << "keine" << gut << false << 1;
        QTest::newRow("fremder Dienst") << "eingebaut" << QStringList{ "--zugriff", "sshd", "users" } << false << 123;
        QTest::newRow("Gruppe mit Anfuehrung") << "systemd" << QStringList{ "--zugriff", "TavoService", "u\"); x(\"" } << false << 13;
        QTest::newRow("als Dienst gestartet") << "eingebaut" << gut << true << 4;
    }
    void zugriff()
    {
        QFETCH(QString, verwaltung);
        QFETCH(QStringList, argumente);
        QFETCH(bool, alsDienst);
        QFETCH(int, code);
        const QString name = QStringLiteral("TavoService");
        const QString ini = Plattform::unterWurzel(QStringLiteral("/var/lib/fiscalon/dienste/TavoService.ini"));
        if (verwaltung == QLatin1String("systemd")) {
            QVERIFY(QDir().mkpath(Plattform::unterWurzel(QStringLiteral("/run/systemd/system"))));
            TestUmgebung::schreibeDatei(Plattform::systemdUnitDatei(name), "[Service]\n");
        } else if (verwaltung == QLatin1String("eingebaut")) {
            QVERIFY(tavoService().erzeugen(QStringLiteral(IV_TAVODIENST)));
        }
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        // systemctl's stand-in writes what it was asked.
        const QString befehle = m_umgebung->pfad() + QStringLiteral("/systemctl.txt");
        ausfuehrbar(m_umgebung->pfad() + QStringLiteral("/bin/systemctl"), "echo \"$*\" >> '" + befehle.toUtf8() + "'");
        env.insert(QStringLiteral("PATH"), m_umgebung->pfad() + QStringLiteral("/bin:") + env.value(QStringLiteral("PATH")));
        if (alsDienst)
            env.insert(QStringLiteral(DIENST_BEREIT_VARIABLE), m_umgebung->pfad() + QStringLiteral("/bereit"));
        p.setProcessEnvironment(env);
        p.start(QStringLiteral(IV_TAVODIENST), argumente);
        QVERIFY(p.waitForFinished(20000));
        QCOMPARE(p.exitCode(), code);

        const QString regel = Plattform::polkitRegelDatei(name);
        const QByteArray inhalt = TestUmgebung::leseDatei(regel);
        QCOMPARE(QFileInfo::exists(regel), code == 0 && verwaltung == QLatin1String("systemd"));
        QCOMPARE(QSettings(ini, QSettings::IniFormat).value(QStringLiteral("Zugriff")).toString(),
                 code == 0 && verwaltung == QLatin1String("eingebaut") ? QStringLiteral("users") : QString());
        if (code != 0 || verwaltung != QLatin1String("systemd"))
            return;
        QVERIFY(inhalt.contains("action.lookup(\"unit\") == \"TavoService.service\""));
        QVERIFY(inhalt.contains("subject.isInGroup(\"users\")"));
        // And the group's socket, listening from now on.
        const QByteArray socket = TestUmgebung::leseDatei(Plattform::systemdSocketUnitDatei(name));
        for (const QByteArray& zeile : { "\nListenStream=" + QFile::encodeName(Plattform::dienstSocket(name)) + "\n",
                                         QByteArray("\nSocketGroup=users\n"), QByteArray("\nSocketMode=0660\n"), QByteArray("\nAccept=no\n") })
            QVERIFY2(socket.contains(zeile), socket.constData());
        QCOMPARE(TestUmgebung::leseDatei(befehle), QByteArray("daemon-reload\nenable --now TavoService.socket\n"));
        // The rule and the socket go with the unit.
        QList<QStringList> aufrufe;
        auto systemd = Plattform::erzeugeSystemdDienstverwaltung([&](const QStringList& a, QByteArray&) { aufrufe << a; return 0; });
        QCOMPARE(systemd->loesche(name), 0);
        QVERIFY(!QFileInfo::exists(regel));
        QVERIFY(!QFileInfo::exists(Plattform::systemdSocketUnitDatei(name)));
        QCOMPARE(aufrufe.first(), QStringList({ "disable", "--now", "TavoService.socket" }));
    }

private:
    // The installation the machine knows, with a signed manager copy that
    // writes the arguments it was started with; the uninstall entry's file.
    QString installation(const QString& kora, const QString& schluessel)
    {
        const QString kopie = kora + QStringLiteral("/installationsverwaltung");
        if (!Standin::kopie(kopie, standIn(m_ausgabe), schluessel, { { QStringLiteral("lib/libhilfe.so"), "bibliothek" } }))
            qWarning("openssl konnte die Kopie nicht signieren");
        const QString eintrag = Plattform::registrierungsDatei(
            QStringLiteral("HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Fiscalon"));
        TestUmgebung::schreibeDatei(eintrag, "[General]\nInstallLocation=" + kora.toUtf8() + "\n");
        return eintrag;
    }
    // A caller's line with "<p>" the copy and the known installation's
    // switches, "<eigen>" a folder of user 65534's, "<fremd>" one of 65533's.
    QByteArray benutzerZeile(QByteArray zeile, const QString& schluessel)
    {
        ::chmod(QFile::encodeName(m_umgebung->pfad()).constData(), 0755);
        const QString kora = m_umgebung->wurzel() + QStringLiteral("/opt/Fiscalon");
        installation(kora, schluessel);
        const QString eigen = m_umgebung->home() + QStringLiteral("/eigen"), fremd = m_umgebung->home() + QStringLiteral("/fremd");
        for (const QString& ordner : { eigen, fremd }) {
            QDir().mkpath(ordner);
            if (::chown(QFile::encodeName(ordner).constData(), ordner == eigen ? 65534 : 65533, 100) != 0)
                qWarning("chown %s", qPrintable(ordner));
        }
        zeile.replace("<p>", QUrl::toPercentEncoding(kora + QStringLiteral("/installationsverwaltung/bin/installationsverwaltung"))
                                 + " --koraDir%3D" + QUrl::toPercentEncoding(kora) + " --esStart --sID%3D7");
        return zeile.replace("<eigen>", QUrl::toPercentEncoding(eigen)).replace("<fremd>", QUrl::toPercentEncoding(fremd));
    }
    void beendeStandIn(const QString& ausgabe)
    {
        const pid_t pid = pid_t(TestUmgebung::leseDatei(ausgabe + QStringLiteral(".pid")).trimmed().toLong());
        if (pid > 0)
            ::kill(pid, SIGKILL);
        QFile::remove(ausgabe + QStringLiteral(".pid"));
    }
    std::unique_ptr<TestUmgebung> m_umgebung;
    TestLog m_log { "tst_tavoservice" };
    QString m_ausgabe;
};

QTEST_GUILESS_MAIN(TstTavoService)
#include "tst_tavoservice.moc"
