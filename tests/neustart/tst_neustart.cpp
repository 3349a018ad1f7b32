// The hand-over of a first process: the started instance's arguments, every
// failing step of the service manager, the copies started for real as signed
// shell stand-ins, and the wizard's elevated restart with its guard.

#include "global/plattform/dienstverwaltung.h"
#include "global/plattform/plattform.h"
#include "global/varnelApplication/einstellungen.h"
#include "global/varnelApplication/logbase.h"
#include "pluginManager/neustart.h"
#include "pluginManager/plugin.h"
#include "pluginManager/pluginManager.h"
#include "pluginManager/startwerte.h"
#include "pluginManager/updateprocess.h"
#include "tests/testhilfe/pruefhilfe.h"
#include "tests/testhilfe/standin.h"

#include <QtTest>

namespace {

void setzeStart(const QStringList& argumente)
{
    setzeStartwerteZurueck();
    QString zeile;
    leseParameter(QStringList{ QStringLiteral("/opt/Fiscalon/bin/installationsverwaltung") } + argumente, zeile);
}

// What the service manager saw; `fehler`: "oeffnen", "status", "stopp vorher", "starten", "stopp nachher".
struct DienstZustand
{
    QString fehler;
    bool laeuft = false, gestartet = false;
    int aufrufe = 0;
    QStringList parameter;
};

// Owned by the engine, so it reports into a DienstZustand of the test.
struct FakeDienst : Plattform::Dienstverwaltung
{
    DienstZustand& z;
    explicit FakeDienst(DienstZustand& zustand) : z(zustand) {}
    int scheitert(const char* schritt, int code) const { return z.fehler == QLatin1String(schritt) ? code : 0; }
    int erzeuge(const QString&, const QString&, const QString&, const QString&) override { return 0; }
    int oeffne(const QString&) override
    {
        ++z.aufrufe;
        return scheitert("oeffnen", 1060);
    }
    int starte(const QString&, const QStringList& p) override
    {
        if (scheitert("starten", 2))
            return 2;
        z.parameter = p;
        z.laeuft = z.gestartet = true;
        return 0;
    }
    int status(const QString&, Plattform::DienstStatus& s) override
    {
        s = Plattform::DienstStatus();
        s.zustand = z.laeuft ? Plattform::DienstStatus::Laeuft : Plattform::DienstStatus::Gestoppt;
        return scheitert("status", 5);
    }
    int stoppe(const QString&) override
    {
        if (scheitert(z.gestartet ? "stopp nachher" : "stopp vorher", 1061))
            return 1061;
        z.laeuft = false;
        return 0;
    }
    int loesche(const QString&) override { return 0; }
    int erlaubeSteuerung(const QString&, const QString&) override { return 0; }
};

using Standin::argumenteAus;
using Standin::ausfuehrbar;

} // namespace

class TstNeustart : public QObject
{
    Q_OBJECT
private slots:
    void init()
    {
        m_umgebung = std::make_unique<TestUmgebung>();
        m_ausgabe = m_umgebung->pfad() + QStringLiteral("/argumente");
        m_installation = m_umgebung->pfad() + QStringLiteral("/Fiscalon");
    }
    void cleanup()
    {
        setzeDienstverwaltungFuerNeustart({});
        UpdateProcess::setzeErhebungsbefehl(QString());
        setzeStartwerteZurueck();
        m_umgebung.reset();
    }
    void parameter_data()
    {
        QTest::addColumn<QStringList>("start");
        QTest::addColumn<bool>("alsAdmin");
        QTest::addColumn<bool>("selbstUpdate");
        QTest::addColumn<QStringList>("erwartet"); // "<user>": the default user folder
        const QStringList ort = { "--koraDir=/opt/Fiscalon", "--dirUserKora=/home/u/kora" };
        QTest::newRow("Dienst: i5 wird i6, einstelliges delPlugin bleibt weg")
            << (QStringList{ "--i5", "--delPlugin=x", "--instPlugin=y" } + ort) << false << false
            << QStringList{ "--koraDir=\"/opt/Fiscalon\"", "--i6", "--dirUserKora=\"/home/u/kora\"" };
        QTest::newRow("Dienst, Selbst-Update: kein --admin")
            << ort << true << true
            << QStringList{ "--koraDir=\"/opt/Fiscalon\"", "--selbstUpdate", "--i2", "--dirUserKora=\"/home/u/kora\"" };
        QTest::newRow("Prozess mit Adminrechten")
            << ort << true << false << QStringList{ "--koraDir=\"/opt/Fiscalon\"", "--admin", "--i2", "--dirUserKora=\"/home/u/kora\"" };
        QTest::newRow("alle Schalter in ihrer Reihenfolge")
            << QStringList{ "--redirect=qs", "--instPlugin=10_2021;50_2021", "--delPlugin=est20", "--zeigeBenutzerDefTab2",
                            "--updatepruefung", "--i3", "--esStart", "--keinSelbstUpdate", "--koraDir=/opt/a \"b\"\\c",
                            "--dirUserKora=/home/u/kora" }
            << false << true
            << QStringList{ "--koraDir=\"/opt/a \\\"b\\\"\\\\c\"", "--zeigeDlg", "--updatepruefung", "--zeigeBenutzerDefTab2",
                            "--selbstUpdate", "--delPlugin=\"est20\"", "--instPlugin=\"10_2021;50_2021\"", "--i4",
                            "--redirect=\"qs\"", "--dirUserKora=\"/home/u/kora\"" };
        QTest::newRow("ohne dirUserKora: der Ordner dieses Benutzers")
            << QStringList{ "--koraDir=/opt/Fiscalon", "--zeigeDlg" } << false << false
            << QStringList{ "--koraDir=\"/opt/Fiscalon\"", "--zeigeDlg", "--i2", "--dirUserKora=\"<user>\"" };
    }
    void parameter()
    {
        QFETCH(QStringList, start);
        QFETCH(bool, alsAdmin);
        QFETCH(bool, selbstUpdate);
        QFETCH(QStringList, erwartet);
        setzeStart(start);
        erwartet.replaceInStrings(QStringLiteral("<user>"), QDir::cleanPath(Einstellungen::gibDirUser()));
        PluginManager pm;
        const QStringList p = pm.gibNeustartParameter(alsAdmin, selbstUpdate);
        QCOMPARE(p, erwartet);
        // What the process path hands to the runner reads back as the same words.
        QStringList woerter;
        QVERIFY(UpdateProcess::zerlegeParameter(p.join(QLatin1Char(' ')), woerter));
        QCOMPARE(woerter.size(), p.size());
        QVERIFY(woerter.first().startsWith(QLatin1String("--koraDir=") + gs_KoraDir));
    }
    void dienstweg_data()
    {
        QTest::addColumn<QString>("fehler");
        QTest::addColumn<bool>("laeuftSchon");
        QTest::addColumn<bool>("pruefung"); // --updatepruefung
        QTest::addColumn<bool>("erfolg");
        QTest::addColumn<QString>("logzeile");
        QTest::newRow("uebergeben") << "" << false << false << true << "erfolgreich durch den Tavo-Service neu gestartet";
        QTest::newRow("laufender Dienst wird erst gestoppt") << "" << true << false << true << "erfolgreich durch den Tavo-Service";
        QTest::newRow("zweiter Stopp scheitert") << "stopp nachher" << false << false << true
                                                 << "Der Tavo-Service konnte nicht gestoppt werden.";
        QTest::newRow("oeffnen scheitert") << "oeffnen" << false << false << false
                                           << "Der \"Fiscalon Update Service\" konnte nicht ge\xc3\xb6" "ffnet werden.";
        QTest::newRow("Status scheitert") << "status" << false << false << false
                                          << "Der Status des \"Fiscalon Update Service\" konnte nicht abgefragt werden.";
        QTest::newRow("Stopp vorher scheitert") << "stopp vorher" << true << false << false
                                                << "Der \"Fiscalon Update Service\" konnte nicht gestoppt werden.";
        QTest::newRow("Start scheitert") << "starten" << false << false << false << "Der Tavo-Service konnte nicht gestartet werden.";
        QTest::newRow("Update-Pruefung nie ueber den Dienst") << "" << false << true << false << "";
    }
    void dienstweg()
    {
        // A failing service falls back to the service folder's copy, missing here (-9000).
        QFETCH(QString, fehler);
        QFETCH(bool, laeuftSchon);
        QFETCH(bool, pruefung);
        QFETCH(bool, erfolg);
        QFETCH(QString, logzeile);
        setzeStart(QStringList{ "--koraDir=/opt/Fiscalon", "--dirUserKora=/home/u/kora" }
                   + (pruefung ? QStringList{ "--updatepruefung" } : QStringList()));
        DienstZustand zustand;
        zustand.fehler = fehler;
        zustand.laeuft = laeuftSchon;
        setzeDienstverwaltungFuerNeustart([&zustand] { return std::make_unique<FakeDienst>(zustand); });
        PluginManager pm;
        const LogAusschnitt anfang;
        const int code = neustartPerServiceOderProzess(true, pm);
        const QByteArray log = anfang.text().toUtf8();
        QCOMPARE(code, erfolg ? 0 : NEUSTART_KOPIE_UNGUELTIG);
        QVERIFY2(log.contains(logzeile.toUtf8()), log.constData());
        QCOMPARE(log.contains("ExitCode"), erfolg);
        QCOMPARE(log.contains("Abbruch Neustart aus"), !erfolg);
        QCOMPARE(zustand.aufrufe, pruefung ? 0 : 1);
        if (!erfolg)
            return;
        // The service copy, the restart switches, and the service's own two.
        QCOMPARE(zustand.parameter.first(), PluginManager::gibDirService() + QStringLiteral("/bin/installationsverwaltung"));
        QVERIFY(zustand.parameter.contains(QStringLiteral("--i2")));
        QVERIFY(!zustand.parameter.contains(QStringLiteral("--admin")));
        QCOMPARE(zustand.parameter.at(zustand.parameter.size() - 2), QStringLiteral("--esStart"));
        qint64 sitzung = 0;
        QVERIFY(Plattform::sitzungsId(sitzung));
        QCOMPARE(zustand.parameter.last(), QStringLiteral("--sID=%1").arg(sitzung));
    }
    void kopien_data()
    {
        // weg: "dienst" the service folder's copy, waited for; "selbst" the installation's, through pkexec.
        QTest::addColumn<QString>("weg");
        QTest::addColumn<QString>("fall");
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("logzeile");
        QTest::newRow("Dienstordner: Kopie arbeitet, ihr Ergebnis 90 bleibt") << "dienst" << "90" << 90 << "I:1; ExitCode: 90\n";
        QTest::newRow("Dienstordner: Kopie endet mit -91 (Status 165)") << "dienst" << "165" << -91 << "I:1; ExitCode: -91\n";
        QTest::newRow("Dienstordner: Kopie beschaedigt") << "dienst" << "beschaedigt" << NEUSTART_KOPIE_UNGUELTIG << "Fehler-Code: [-9000]";
        QTest::newRow("Update-Pruefung startet nichts") << "dienst" << "pruefung" << -1 << "ohne \xc3\x9c" "bergabe";
        QTest::newRow("pkexec bestaetigt") << "selbst" << "0" << 0 << "I:1; ExitCode: 0\n";
        QTest::newRow("pkexec abgebrochen") << "selbst" << "126" << 500 << "the user canceled the request.";
        QTest::newRow("pkexec nicht berechtigt") << "selbst" << "127" << 500 << "Access to the specified file is denied.";
        QTest::newRow("Installation beschaedigt") << "selbst" << "beschaedigt" << NEUSTART_KOPIE_UNGUELTIG << "Fehler-Code: [-9000]";
    }
    void kopien()
    {
        QFETCH(QString, weg);
        QFETCH(QString, fall);
        QFETCH(int, code);
        QFETCH(QString, logzeile);
        if (QStringLiteral(IV_ENTWICKLUNGSSCHLUESSEL).isEmpty())
            QSKIP("built with FISCALON_PUBLIC_KEY: no key here to sign a manager copy with");
        const bool dienst = weg == QLatin1String("dienst");
        const QString ordner = dienst ? PluginManager::gibDirService() : m_installation;
        QVERIFY(kopie(ordner));
        if (fall == QLatin1String("beschaedigt"))
            TestUmgebung::schreibeDatei(ordner + QStringLiteral("/bin/installationsverwaltung"), "#!/bin/sh\nexit 0\n");
        else if (dienst && fall != QLatin1String("pruefung"))
            TestUmgebung::schreibeDatei(m_ausgabe + QStringLiteral(".code"), fall.toUtf8());
        if (!dienst) {
            // pkexec's stand-in: refused, not authorised, or it runs the program.
            const QString erhebung = ausfuehrbar(m_umgebung->pfad() + QStringLiteral("/pkexec"),
                                                 fall.startsWith(QLatin1String("12")) ? "exit " + fall.toUtf8() : "exec \"$@\"");
            UpdateProcess::setzeErhebungsbefehl(erhebung);
        }
        setzeStart({ QStringLiteral("--koraDir=") + m_umgebung->pfad(), QStringLiteral("--dirUserKora=") + m_umgebung->home() + QStringLiteral("/kora") });
        gs_ProgrammPfad = m_installation + QStringLiteral("/bin/installationsverwaltung");
        gb_Updateueberpuefung = fall == QLatin1String("pruefung");
        PluginManager pm;
        const LogAusschnitt anfang;
        int ergebnis = -1;
        if (dienst)
            ergebnis = neustartSchritt(pm, false, ergebnis) ? ergebnis : -1;
        else
            ergebnis = neuStartMitAdminRechtenFuerSelbstUpdate(false, pm);
        const QByteArray log = anfang.text().toUtf8();
        if (dienst && code == NEUSTART_KOPIE_UNGUELTIG)
            QCOMPARE(ergebnis, -1); // the first process carries on itself
        else
            QCOMPARE(ergebnis, code);
        QVERIFY2(log.contains(logzeile.toUtf8()), log.constData());
        QCOMPARE(log.contains("ExitCode"), code != NEUSTART_KOPIE_UNGUELTIG && fall != QLatin1String("pruefung"));
        if (code != 0 && code != 90 && code != -91) {
            QVERIFY(!QFileInfo::exists(m_ausgabe));
            return;
        }
        QTRY_VERIFY(QFileInfo::exists(m_ausgabe));
        const QStringList argumente = argumenteAus(m_ausgabe);
        QCOMPARE(argumente.first(), QStringLiteral("--koraDir=") + m_umgebung->pfad());
        QVERIFY(argumente.contains(QStringLiteral("--i2")));
        // Both copies install the self-update; neither waits for a plan.
        QVERIFY(argumente.contains(QStringLiteral("--selbstUpdate")));
        QVERIFY(!argumente.contains(QStringLiteral("--admin")));
        int kopieCode = 0;
        QCOMPARE(pm.istKopieBeendet(kopieCode), dienst);
        if (dienst)
            QCOMPARE(kopieCode, code);
    }
    void adminNeustart()
    {
        if (QStringLiteral(IV_ENTWICKLUNGSSCHLUESSEL).isEmpty())
            QSKIP("built with FISCALON_PUBLIC_KEY: no key here to sign a manager copy with");
        QVERIFY(kopie(m_installation));
        const QString benutzer = m_umgebung->home() + QStringLiteral("/mit Leer/kora");
        setzeStart({ QStringLiteral("--koraDir=") + m_installation, QStringLiteral("--dirUserKora=") + benutzer,
                     QStringLiteral("--redirect=qs") });
        gs_ProgrammPfad = m_installation + QStringLiteral("/bin/installationsverwaltung");
        const QString daten = PluginManager::gibDirDaten();
        const QString erhebung = m_umgebung->pfad() + QStringLiteral("/pkexec");
        UpdateProcess::setzeErhebungsbefehl(erhebung);
        PluginManager pm;
        pm.setzePluginKoraInstalliert(new Plugin);

        // The plan cannot be written (a folder in the way): refused, the flag free again.
        QVERIFY(QDir().mkpath(daten + QStringLiteral("PluginClient/belegt")));
        LogAusschnitt anfang;
        QVERIFY(!pm.neuStartMitAdminRechten());
        QVERIFY(QDir(daten + QStringLiteral("PluginClient")).removeRecursively());

        // The prompt cancelled: nothing started, the plan removed, the flag free.
        ausfuehrbar(erhebung, "exit 126");
        QVERIFY(!pm.neuStartMitAdminRechten());
        QVERIFY(QDir(daten).entryList(QDir::Files).isEmpty());
        QVERIFY(!anfang.text().toUtf8().contains("doppelter Start"));
        QVERIFY(anfang.text().toUtf8().contains("Der Neustart mit Administratorrechten ist fehlgeschlagen (500"));

        // Granted: the elevated instance gets the user's folder and the plan.
        ausfuehrbar(erhebung, "exec \"$@\"");
        QVERIFY(pm.neuStartMitAdminRechten());
        const QStringList erwartet = { "--admin", "--zeigeDlg", "--i2", QStringLiteral("--koraDir=") + m_installation,
                                       "--redirect=qs", QStringLiteral("--dirUserKora=") + benutzer };
        QTRY_COMPARE_WITH_TIMEOUT(argumenteAus(m_ausgabe), erwartet, 30000); // until the detached stand-in wrote them all
        QCOMPARE(QDir(daten).entryList(QDir::Files).size(), 5);
        QVERIFY(!anfang.text().toUtf8().contains("doppelter Start"));

        // A second request in the same process is refused.
        anfang = LogAusschnitt();
        QVERIFY(!pm.neuStartMitAdminRechten());
        QVERIFY(anfang.text().toUtf8().contains("Ein doppelter Start mit Administratorrechten wurde verhindert."));
    }

private:
    // A signed copy whose program writes its arguments to m_ausgabe and ends with m_ausgabe.code.
    bool kopie(const QString& ordner) const
    {
        const QString rumpf = QStringLiteral("printf '%s\\0' \"$@\" > '%1'\nexit $(cat '%1.code' 2>/dev/null || echo 0)\n");
        return Standin::kopie(ordner, rumpf.arg(m_ausgabe).toUtf8(), QStringLiteral(IV_ENTWICKLUNGSSCHLUESSEL));
    }

    std::unique_ptr<TestUmgebung> m_umgebung;
    TestLog m_log { "tst_neustart" };
    QString m_ausgabe, m_installation;
};

QTEST_GUILESS_MAIN(TstNeustart)
#include "tst_neustart.moc"
