// The module record: the HTML name, version comparison, the stream form, and
// copying and deleting its files without ever touching a path outside.

#include "global/varnelApplication/textausliteral.h"
#include "pluginManager/plugin.h"
#include "pluginManager/startwerte.h"
#include "testhilfe/pruefhilfe.h"
#include "testhilfe/testumgebung.h"

#include <QDir>
#include <QDirIterator>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>
#include <unistd.h>

namespace {

void schreibe(const QString& pfad, const QByteArray& inhalt = "x") { TestUmgebung::schreibeDatei(pfad, inhalt); }
QByteArray lese(const QString& pfad) { return TestUmgebung::leseDatei(pfad); }

constexpr uid_t NIEMAND = 65534;

// A record with every field the stream form carries, in its stream form.
QByteArray vollerStrom(Plugin& p)
{
    p.setzeName(QStringLiteral("Einkommensteuererklaerung fuer \"UE\"bungen"));
    p.setzeKurzname(QStringLiteral("est"));
    p.setzeDictDatei(QStringLiteral("/opt/fiscalon/dict/est_19.dict"));
    p.setzeZip(QStringLiteral("  est19.zip "));
    p.setzeSize(quint64(123456789012ull));
    Setup s;
    s.setzeDatei(QStringLiteral("est19_u1.zip"));
    s.setzeSize(quint64(1) << 40);
    s.setzeRev(QStringLiteral("27001"));
    p.setzeSetups({ s, s });
    p.setzeNrAlle(4000000000u);
    p.setzeDateien({ QStringLiteral("bin/est19.so"), QStringLiteral("daten/\u00fcbersicht.pdf") });
    p.setzeInitialisiert(true);
    p.setzeKeinUpdatePaket(true);
    QByteArray bytes;
    QDataStream aus(&bytes, QIODevice::WriteOnly);
    aus << p;
    return bytes;
}

} // namespace

class TstPlugin : public QObject
{
    Q_OBJECT

private slots:
    void cleanupTestCase() { gs_KoraDir.clear(); }
    void init()
    {
        // Per test row: the installation and a folder beside it that stands for everything outside.
        const QString basis = m_tmp.path() + QStringLiteral("/") + QString::fromLatin1(QTest::currentTestFunction())
            + QStringLiteral("_") + QString::fromLatin1(QTest::currentDataTag());
        m_kora = basis + QStringLiteral("/kora");
        m_aussen = basis + QStringLiteral("/aussen");
        QDir(basis).removeRecursively();
        QVERIFY(QDir().mkpath(m_kora + QStringLiteral("/dict")));
        QVERIFY(QDir().mkpath(m_aussen));
        gs_KoraDir = QDir::toNativeSeparators(m_kora);
    }

    void nameHtml_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("html");
        QTest::newRow("klaerung") << "Einkommensteuererklaerung" << "Einkommensteuererkl&auml;rung";
        QTest::newRow("fuer nur als Wort") << "Erklaerung fuer die Zerlegung, Gebuehrfuer"
                                          << "Erkl&auml;rung f&uuml;r die Zerlegung, Gebuehrfuer";
        QTest::newRow("Platzhalter") << "M\"UE\"nchen \"GROSS_AE\"rger Stra\"SS\"e Ma\"SZ\" \"OE\"l \"AE\""
                                     << "M&uuml;nchen &Auml;rger Stra&szlig;e Ma&szlig; &ouml;l &auml;";
        QTest::newRow("nicht Latin-1") << QString::fromUtf8("Kur\u015f") << "Kur?";
    }
    void nameHtml()
    {
        QFETCH(QString, name);
        QFETCH(QString, html);
        Plugin p;
        p.setzeName(name);
        QCOMPARE(p.gibNameHtml(), html);
    }
    void vergleicheVersion()
    {
        // NrGr over a smaller NrAlle: see the planning tests. Rev and Jahr take no part.
        Plugin a, b;
        for (Plugin* p : { &a, &b }) {
            p->setzeInterfaceNr(5);
            p->setzeNrAlle(10);
        }
        a.setzeRev(1);
        b.setzeRev(99);
        a.setzeJahr(2019);
        QCOMPARE(a.vergleicheVersion(&b), int(Plugin::ZUSTAND_GLEICH));
        b.setzeNrAlle(0x80000000u); // compared unsigned
        QCOMPARE(a.vergleicheVersion(&b), int(Plugin::ZUSTAND_ANDERES_GROESSER));
        QCOMPARE(a.vergleicheVersion(nullptr), int(Plugin::ZUSTAND_KEIN_GEGENUEBER));
    }
    void stromForm()
    {
        Plugin p;
        const QByteArray bytes = vollerStrom(p);
        // Stored lists of other builds read the HTML name first.
        QDataStream ein(bytes);
        QString erstes;
        ein >> erstes;
        QCOMPARE(erstes, p.gibNameHtml());
        ein.device()->seek(0);
        Plugin q;
        ein >> q;
        QCOMPARE(ein.status(), QDataStream::Ok);
        QVERIFY(ein.atEnd());
        // The HTML name is what is stored, and it must come back unchanged.
        QCOMPARE(q.gibName(), QStringLiteral("Einkommensteuererkl&auml;rung f&uuml;r &uuml;bungen"));
        QCOMPARE(q.gibNameHtml(), q.gibName());
        QCOMPARE(q.gibZip(), QStringLiteral("est19.zip")); // written trimmed
        QCOMPARE(q.gibSize(), p.gibSize());
        QCOMPARE(q.gibSetups(), p.gibSetups());
        QCOMPARE(q.gibNrAlle(), p.gibNrAlle());
        QCOMPARE(q.gibDateien(), p.gibDateien());
        QCOMPARE(q.gibDictDatei(), p.gibDictDatei());
        QVERIFY(q.istInitialisiert() && q.istKeinUpdatePaket());
    }
    void stromBeschaedigt()
    {
        for (const bool abgeschnitten : { true, false }) {
            Plugin p;
            QByteArray bytes = vollerStrom(p);
            if (abgeschnitten) {
                bytes.chop(9);
            } else {
                // A huge setup count after the eight leading strings.
                QDataStream ein(bytes);
                QString s;
                for (int i = 0; i < 8; ++i)
                    ein >> s;
                QByteArray zahl;
                QDataStream(&zahl, QIODevice::WriteOnly) << qint32(0x7fffffff);
                bytes.replace(int(ein.device()->pos()), 4, zahl);
            }
            QDataStream ein(bytes);
            Plugin q;
            ein >> q;
            QVERIFY(!q.istInitialisiert());
            QVERIFY(q.gibSetups().size() < 100);
        }
    }

    void pfadImOrdner_data()
    {
        QTest::addColumn<QString>("relativ");
        QTest::addColumn<bool>("folgen");
        QTest::addColumn<QString>("erwartet"); // relative to the base; empty: rejected
        QTest::newRow("punkt und doppelte Striche") << "./a//b.txt" << true << "a/b.txt";
        QTest::newRow("Rueckstrich als Trenner") << "a\\b.txt" << true << "a/b.txt";
        QTest::newRow("Datei-Verknuepfung nach aussen, gefolgt") << "zeiger" << true << "";
        QTest::newRow("Datei-Verknuepfung nach aussen, selbst") << "zeiger" << false << "zeiger";
    }
    void pfadImOrdner()
    {
        QFETCH(QString, relativ);
        QFETCH(bool, folgen);
        QFETCH(QString, erwartet);
        schreibe(m_kora + QStringLiteral("/a/b.txt"));
        schreibe(m_aussen + QStringLiteral("/x"));
        QVERIFY(QFile::link(m_aussen + QStringLiteral("/x"), m_kora + QStringLiteral("/zeiger")));

        QString grund;
        const QString pfad = Plugin::pfadImOrdner(m_kora, relativ, folgen, &grund);
        if (erwartet.isEmpty()) {
            QVERIFY2(pfad.isEmpty(), qPrintable(pfad));
            QVERIFY(!grund.isEmpty());
        } else {
            QCOMPARE(pfad, QDir::toNativeSeparators(m_kora + QLatin1Char('/') + erwartet));
        }
    }
    void loesche_data()
    {
        QTest::addColumn<QStringList>("dateien");
        QTest::addColumn<QString>("dictArt"); // innen, aussen, endung
        QTest::addColumn<bool>("nurDictionary");
        QTest::addColumn<QString>("bleibt"); // d: dictionary and signature, b: bin/a.so, t: daten/b.dat
        const QStringList beide{ "bin/a.so", "fehlt/schon.weg", "daten/b.dat" };
        QTest::newRow("alles") << beide << "innen" << false << "";
        QTest::newRow("nur Dictionary") << beide << "innen" << true << "bt";
        // A record without files removes nothing, not even its dictionary.
        QTest::newRow("leere Liste") << QStringList() << "innen" << false << "dbt";
        // A stray entry is dropped, the module's own dictionary goes.
        QTest::newRow("zwei Punkte") << QStringList{ "../aussen/opfer" } << "innen" << false << "bt";
        QTest::newRow("Ordner-Verknuepfung") << QStringList{ "raus/opfer" } << "innen" << false << "bt";
        QTest::newRow("Dictionary ausserhalb") << QStringList{ "bin/a.so" } << "aussen" << false << "dbt";
        QTest::newRow("kein Dictionary") << QStringList{ "bin/a.so" } << "endung" << false << "dbt";
    }
    void loesche()
    {
        QFETCH(QStringList, dateien);
        QFETCH(QString, dictArt);
        QFETCH(bool, nurDictionary);
        QFETCH(QString, bleibt);
        const QString opfer = m_aussen + QStringLiteral("/opfer");
        schreibe(opfer, "wertvoll");
        schreibe(m_aussen + QStringLiteral("/fremd.dict"), "fremd");
        QVERIFY(QFile::link(m_aussen, m_kora + QStringLiteral("/raus")));
        const QString eigenes = m_kora + QStringLiteral("/dict/est_19.dict");
        for (const QString& d : { eigenes, eigenes + ".sig", m_kora + "/bin/a.so", m_kora + "/daten/b.dat" })
            schreibe(d);
        QString dict = eigenes;
        if (dictArt == QLatin1String("aussen"))
            dict = m_aussen + QStringLiteral("/fremd.dict");
        else if (dictArt == QLatin1String("endung"))
            dict = m_kora + QStringLiteral("/bin/a.so");

        Plugin p;
        p.setzeDictDatei(QDir::toNativeSeparators(dict));
        p.setzeDateien(dateien);
        QString fehler = QStringLiteral("alt");
        const bool ok = p.loescheAlleDateien(fehler, nurDictionary);
        QCOMPARE(lese(opfer), QByteArray("wertvoll"));
        QCOMPARE(lese(m_aussen + QStringLiteral("/fremd.dict")), QByteArray("fremd"));
        QVERIFY(QFileInfo(m_aussen).isDir());
        QCOMPARE(ok, dictArt == QLatin1String("innen"));
        if (ok) {
            QVERIFY2(fehler.isEmpty(), qPrintable(fehler));
            QCOMPARE(p.gibDateien().isEmpty(), !nurDictionary);
        } else {
            QVERIFY(fehler.contains(QStringLiteral("au\u00dferhalb")));
        }
        QCOMPARE(QFileInfo::exists(eigenes), bleibt.contains('d'));
        QCOMPARE(QFileInfo::exists(eigenes + QStringLiteral(".sig")), bleibt.contains('d'));
        QCOMPARE(QFileInfo::exists(m_kora + QStringLiteral("/bin/a.so")), bleibt.contains('b'));
        QCOMPARE(QFileInfo::exists(m_kora + QStringLiteral("/daten/b.dat")), bleibt.contains('t'));
    }
    void loescheOhneRechte()
    {
        // Root removes any file: as root the helper runs as user 65534 from a copy in a tree open to others.
        const bool alsRoot = (geteuid() == 0);
        QTemporaryDir baum(QDir::tempPath() + QStringLiteral("/iv-rechte-XXXXXX"));
        QVERIFY(baum.isValid());
        ::chmod(QFile::encodeName(baum.path()).constData(), 0755);
        auto starteHelfer = [alsRoot](const QString& programm, const QStringList& argumente, QByteArray* ausgabe = nullptr) {
            QProcess p; // its destructor ends a helper that hangs
            const QStringList alsNiemand { "--reuid=65534", "--regid=65534", "--clear-groups", programm };
            p.start(alsRoot ? QStringLiteral("setpriv") : programm, alsRoot ? alsNiemand + argumente : argumente);
            const bool fertig = p.waitForFinished(60000);
            if (ausgabe)
                *ausgabe = p.readAllStandardOutput();
            return fertig && p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
        };
        QString helferDatei = QStringLiteral(IV_LOESCHHELFER);
        if (alsRoot) {
            helferDatei = baum.path() + QStringLiteral("/iv_loeschhelfer");
            QFile::copy(QStringLiteral(IV_LOESCHHELFER), helferDatei);
            ::chmod(QFile::encodeName(helferDatei).constData(), 0755);
            if (!starteHelfer(helferDatei, { QStringLiteral("--probe") }))
                QSKIP("running as root, and the helper cannot be started as user 65534 through setpriv");
        }

        const QString kora = baum.path() + QStringLiteral("/kora");
        const QString dict = kora + QStringLiteral("/dict/est_19.dict");
        const QString gesperrt = kora + QStringLiteral("/gesperrt");
        const QString schreibgeschuetzt = gesperrt + QStringLiteral("/schreibgeschuetzt.dat");
        const QString beschreibbar = gesperrt + QStringLiteral("/beschreibbar.dat");
        for (const QString& d : { dict, dict + ".sig", kora + "/frei.dat", schreibgeschuetzt, beschreibbar })
            schreibe(d);
        // A locked folder with a locked file: as root owned by root, else read-only.
        const QByteArray g = QFile::encodeName(gesperrt), sg = QFile::encodeName(schreibgeschuetzt);
        if (alsRoot) {
            QDirIterator it(kora, QDir::AllEntries | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
            for (QString pfad = kora; !pfad.isEmpty(); pfad = it.hasNext() ? it.next() : QString()) {
                const uid_t u = (pfad == gesperrt || pfad == schreibgeschuetzt) ? 0 : NIEMAND;
                QVERIFY2(::chown(QFile::encodeName(pfad).constData(), u, u) == 0, qPrintable(pfad));
            }
        } else {
            ::chmod(g.constData(), 0555);
            ::chmod(sg.constData(), 0444);
        }

        QByteArray roh;
        const bool fertig = starteHelfer(helferDatei, { kora, dict, "0", "frei.dat", "gesperrt/schreibgeschuetzt.dat",
                                                        "gesperrt/beschreibbar.dat" }, &roh);
        if (!alsRoot) {
            ::chmod(g.constData(), 0755);
            ::chmod(sg.constData(), 0644);
        }
        QVERIFY(fertig);
        QMap<QString, QString> werte;
        for (const QString& zeile : QString::fromUtf8(roh).split(QLatin1Char('\n'), Qt::SkipEmptyParts))
            werte.insert(zeile.section(QLatin1Char('='), 0, 0), zeile.section(QLatin1Char('='), 1));

        const QString keineRechte = textAusLiteral("Die Datei \"%1\" konnte nicht gel&ouml;scht werden, da keine Schreibrechte gegeben sind.")
                                        .arg(schreibgeschuetzt);
        const QString nichtGeloescht = textAusLiteral("Die Datei \"%1\" konnte nicht gel&ouml;scht werden.").arg(beschreibbar);
        QCOMPARE(werte.value(QStringLiteral("ergebnis")), QStringLiteral("0"));
        // Files go from the last to the first; the dictionary stays while files are left.
        QCOMPARE(werte.value(QStringLiteral("fehler")), QStringLiteral("<br>%1<br>%2").arg(nichtGeloescht, keineRechte));
        QVERIFY(QFileInfo::exists(dict) && QFileInfo::exists(dict + QStringLiteral(".sig")));
        QCOMPARE(werte.value(QStringLiteral("rest")), QStringLiteral("gesperrt/schreibgeschuetzt.dat|gesperrt/beschreibbar.dat"));
        QVERIFY(!QFileInfo::exists(kora + QStringLiteral("/frei.dat")));
    }
    void kopiere()
    {
        const QString quelle = m_kora + QStringLiteral("/iv");
        const QString dict = quelle + QStringLiteral("/dict/instv_0.vdict");
        schreibe(dict, "dict");
        schreibe(dict + QStringLiteral(".sig"), "sig");
        schreibe(quelle + QStringLiteral("/bin/installationsverwaltung"), "programm");
        schreibe(quelle + QStringLiteral("/lib/tief/libx.so"), "bibliothek");
        schreibe(quelle + QStringLiteral("/raus/x.txt"), "raus");
        schreibe(m_aussen + QStringLiteral("/geheim"), "geheim");
        QVERIFY(QFile::link(m_aussen + QStringLiteral("/geheim"), quelle + QStringLiteral("/zeiger")));
        const QString ziel = m_kora + QStringLiteral("/neu/Dienst");
        // An older, longer file is replaced; a target that is a link becomes a
        // file and the link's target stays; a folder in the target leads out.
        schreibe(ziel + QStringLiteral("/bin/installationsverwaltung"), "alt und viel laenger");
        schreibe(m_aussen + QStringLiteral("/linkziel"), "bleibt");
        QVERIFY(QDir().mkpath(ziel + QStringLiteral("/lib/tief")));
        QVERIFY(QFile::link(m_aussen + QStringLiteral("/linkziel"), ziel + QStringLiteral("/lib/tief/libx.so")));
        QVERIFY(QFile::link(m_aussen, ziel + QStringLiteral("/raus")));
        Plugin p;
        p.setzeDictDatei(QDir::toNativeSeparators(dict));
        p.setzeDateien({ "bin/installationsverwaltung", "lib/tief/libx.so", "fehlt.txt", "../../aussen/geheim", "zeiger",
                         "raus/x.txt", "/etc/hostname" });
        QVERIFY(p.kopiereAlleDateien(ziel));
        QCOMPARE(lese(ziel + QStringLiteral("/bin/installationsverwaltung")), QByteArray("programm"));
        QVERIFY(!QFileInfo(ziel + QStringLiteral("/lib/tief/libx.so")).isSymLink());
        QCOMPARE(lese(ziel + QStringLiteral("/lib/tief/libx.so")), QByteArray("bibliothek"));
        QCOMPARE(lese(m_aussen + QStringLiteral("/linkziel")), QByteArray("bleibt"));
        QCOMPARE(lese(ziel + QStringLiteral("/dict/instv_0.vdict.sig")), QByteArray("sig"));
        QVERIFY(!QFileInfo::exists(ziel + QStringLiteral("/fehlt.txt")));
        QVERIFY(!QFileInfo::exists(ziel + QStringLiteral("/zeiger")));
        QVERIFY(!QFileInfo::exists(ziel + QStringLiteral("/etc/hostname")));
        QCOMPARE(QDir(m_aussen).entryList(QDir::AllEntries | QDir::NoDotAndDotDot), QStringList({ "geheim", "linkziel" }));
    }

private:
    TestLog m_log { "tst_plugin" };
    QTemporaryDir m_tmp;
    QString m_kora;
    QString m_aussen;
};

QTEST_GUILESS_MAIN(TstPlugin)
#include "tst_plugin.moc"
