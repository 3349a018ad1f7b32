// The command line and what hangs on it: installation folder, first process,
// exit-code line, the "already working" notice; the entity helper.

#include "global/plattform/plattform.h"
#include "global/varnelApplication/logbase.h"
#include "global/varnelApplication/textausliteral.h"
#include "pluginManager/startwerte.h"
#include "testhilfe/testumgebung.h"

#include <QDir>
#include <QtTest>

// Expected values as "name=value" pairs; anything not named keeps its default.
using Erwartung = QMap<QString, QString>;
Q_DECLARE_METATYPE(Erwartung)

static Erwartung ist()
{
    return {
        { "zeigeDlg", QString::number(gb_ZeigeDlg) },
        { "update", QString::number(gb_Updateueberpuefung) },
        { "selbst", QString::number(gb_SelbstUpdate) },
        { "admin", QString::number(gb_Admin) },
        { "tab", QString::number(gb_ZeigeBenutzerDefTab) },
        { "keinSelbst", QString::number(gb_KeinSelbstUpdate) },
        { "service", QString::number(gb_STARTE_AUS_SERVICE) },
        { "nr", QString::number(gi_InstanzNr) },
        { "koraDir", gs_KoraDir },
        { "user", gs_DirUserKora },
        { "redirect", gs_Redirect },
        { "del", gs_DelPlugin },
        { "inst", gs_InstPlugin },
        { "erster", QString::number(istErsterProzess()) },
    };
}

class TstStartwerte : public QObject
{
    Q_OBJECT
private slots:
    void init() { setzeStartwerteZurueck(); }

    void schalter_data()
    {
        QTest::addColumn<QStringList>("argumente");
        QTest::addColumn<Erwartung>("erwartet");

        QTest::newRow("nichts") << QStringList() << Erwartung{ { "zeigeDlg", "0" }, { "nr", "1" }, { "erster", "1" } };
        QTest::newRow("gross-klein zaehlt") << QStringList{ "--zeigedlg", "--ZeigeDlg" } << Erwartung{ { "zeigeDlg", "0" } };
        QTest::newRow("Schalter mit Anhang ist kein Schalter") << QStringList{ "--zeigeDlgX", "--admin=1" }
                                                               << Erwartung{ { "zeigeDlg", "0" }, { "admin", "0" } };
        QTest::newRow("benutzerdefiniert wie zeigeDlg") << QStringList{ "--zeigeBenutzerDefTab2" }
                                                        << Erwartung{ { "zeigeDlg", "1" }, { "tab", "1" } };
        QTest::newRow("alle Flaggen") << QStringList{ "--updatepruefung", "--selbstUpdate", "--admin", "--keinSelbstUpdate", "--esStart" }
                                      << Erwartung{ { "update", "1" }, { "selbst", "1" }, { "admin", "1" }, { "keinSelbst", "1" }, { "service", "1" } };
        // The service, a restart and an elevated run are not the first process.
        QTest::newRow("esStart") << QStringList{ "--esStart" } << Erwartung{ { "service", "1" }, { "erster", "0" } };
        QTest::newRow("admin") << QStringList{ "--admin" } << Erwartung{ { "admin", "1" }, { "erster", "0" } };
        QTest::newRow("updatepruefung") << QStringList{ "--updatepruefung" } << Erwartung{ { "update", "1" }, { "erster", "1" } };
        QTest::newRow("i2") << QStringList{ "--i2" } << Erwartung{ { "nr", "2" }, { "erster", "0" } };
        QTest::newRow("i6 unbekannt") << QStringList{ "--i6" } << Erwartung{ { "nr", "1" } };
        QTest::newRow("letzte Nummer gilt, bis 5") << QStringList{ "--i3", "--i5" } << Erwartung{ { "nr", "5" } };
        QTest::newRow("Werte, der letzte gilt") << QStringList{ "--redirect=a", "--koraDir=/opt/Fiscalon", "--dirUserKora=/tmp/u", "--redirect=qs",
                                               "--delPlugin=10_2020", "--instPlugin=10_2021;20_2021" }
                               << Erwartung{ { "koraDir", "/opt/Fiscalon" }, { "user", "/tmp/u" }, { "redirect", "qs" },
                                             { "del", "10_2020" }, { "inst", "10_2021;20_2021" } };
        QTest::newRow("Wert ohne Wert ist leer") << QStringList{ "--redirect", "--delPlugin=" }
                                                 << Erwartung{ { "redirect", "" }, { "del", "" } };
        QTest::newRow("anderes Zeichen statt =") << QStringList{ "--redirect:qs", "--instPlugin 10_2021" }
                                                 << Erwartung{ { "redirect", "qs" }, { "inst", "10_2021" } };
        QTest::newRow("Wert behaelt Gleichheitszeichen") << QStringList{ "--redirect==x=y" } << Erwartung{ { "redirect", "=x=y" } };
        QTest::newRow("unbekannte werden uebergangen") << QStringList{ "-x", "", "datei.txt", "--zeigeDlg" }
                                                       << Erwartung{ { "zeigeDlg", "1" } };
    }
    void schalter()
    {
        QFETCH(QStringList, argumente);
        QFETCH(Erwartung, erwartet);
        QString kommandozeile;
        leseParameter(QStringList{ "/opt/Fiscalon/bin/installationsverwaltung" } + argumente, kommandozeile);
        const Erwartung werte = ist();
        for (auto it = erwartet.cbegin(); it != erwartet.cend(); ++it)
            QCOMPARE(werte.value(it.key()), it.value());
    }
    void koraDirAbgeleitet()
    {
        TestUmgebung umgebung;
        const QString bin = umgebung.pfad() + QStringLiteral("/a/b");
        QVERIFY(QDir().mkpath(bin));
        QString kommandozeile;
        leseParameter(QStringList{ bin + QStringLiteral("/installationsverwaltung") }, kommandozeile);
        QCOMPARE(gs_KoraDir, QDir::toNativeSeparators(umgebung.pfad() + QStringLiteral("/a")));

        // An empty "--koraDir=" does not stop the derivation.
        leseParameter(QStringList{ bin + QStringLiteral("/installationsverwaltung"), "--koraDir=" }, kommandozeile);
        QCOMPARE(gs_KoraDir, QDir::toNativeSeparators(umgebung.pfad() + QStringLiteral("/a")));
    }
    void exitCodeZeile()
    {
        TestUmgebung umgebung;
        logExitCode(5); // no log yet: goes nowhere, not into the later log
        initLogBase(QStringLiteral("t"), 200000, umgebung.pfad());
        QString kommandozeile;
        leseParameter(QStringList{ "/x/prog", "--i4" }, kommandozeile);
        logExitCode(-91);
        const QString datei = gp_Log->gibDateiname();
        beendeLogBase();
        const QByteArray inhalt = TestUmgebung::leseDatei(datei);
        QVERIFY(inhalt.contains("] : I:4; ExitCode: -91\n"));
        QCOMPARE(inhalt.count("ExitCode:"), 1);
    }
    void hinweisHoechstensEinmal()
    {
        TestUmgebung umgebung;
        initLogBase(QStringLiteral("t"), 200000, umgebung.pfad());
        const QString datei = gp_Log->gibDateiname();
        FakeRueckfrage fake;

        {
            // Another process shows the notice already.
            Plattform::BenannteSperre andere(QStringLiteral("IvMsgBox"));
            QVERIFY(andere.versucheZuSperren());
            zeigeHinweisSchonGestartet();
            QCOMPARE(fake.fragen.size(), 0);
        }
        QVERIFY(TestUmgebung::leseDatei(datei).contains(
            "Der Hinweis \"Das Programm arbeitet bereits...\" wird nicht angezeigt, da er schon zu sehen ist."));

        zeigeHinweisSchonGestartet();
        QCOMPARE(fake.fragen.size(), 1);
        QCOMPARE(fake.fragen[0].titel, QStringLiteral("Installationsverwaltung"));
        QCOMPARE(fake.fragen[0].art, 1);
        QVERIFY(fake.fragen[0].text.contains(QStringLiteral("sp\u00e4ter erneut")));

        // The notice released its lock: the next process may show it again.
        Plattform::BenannteSperre danach(QStringLiteral("IvMsgBox"));
        QVERIFY(danach.versucheZuSperren());
        beendeLogBase();
    }
    void entitaeten_data()
    {
        QTest::addColumn<QString>("ein");
        QTest::addColumn<QString>("aus");
        QTest::newRow("ohne &") << QStringLiteral("Gr\u00fc\u00dfe &lt") << QStringLiteral("Gr\u00fc\u00dfe &lt");
        QTest::newRow("Umlaute") << QStringLiteral("&Auml;nderung f&uuml;r Stra&szlig;e &sect; 1")
                                 << QStringLiteral("\u00c4nderung f\u00fcr Stra\u00dfe \u00a7 1");
        QTest::newRow("amp zuletzt") << QStringLiteral("&amp;uuml; &amp;amp;") << QStringLiteral("&uuml; &amp;");
        QTest::newRow("spitze Klammern") << QStringLiteral("&lt;b&gt;") << QStringLiteral("<b>");
        QTest::newRow("Paare nur mit &") << QStringLiteral("\u00c5\u0178 &") << QStringLiteral("\u015f &");
        QTest::newRow("Paare ohne & bleiben") << QStringLiteral("\u00c5\u017e") << QStringLiteral("\u00c5\u017e");
        QTest::newRow("unbekannte Entitaet bleibt") << QStringLiteral("&nbsp;&eacute;") << QStringLiteral("&nbsp;\u00e9");
    }
    void entitaeten()
    {
        QFETCH(QString, ein);
        QFETCH(QString, aus);
        QCOMPARE(textAusLiteral(ein), aus);
        QCOMPARE(textAusLiteral(ein.toUtf8().constData()), aus);
    }
};

QTEST_GUILESS_MAIN(TstStartwerte)
#include "tst_startwerte.moc"
