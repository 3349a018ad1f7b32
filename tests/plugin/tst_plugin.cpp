// The module record: the HTML name, version comparison, the stream form, and
// copying and deleting its files (the rules of the walk, and that no path
// outside the part's folder is ever touched). Reading dictionaries and the
// server index is the inventory and server tests' part.

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

} // namespace

namespace {

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
        // A fresh tree per test function: the installation and a folder beside it
        // that stands for everything outside.
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
    void vergleicheVersion_data()
    {
        QTest::addColumn<QList<uint>>("basis");
        QTest::addColumn<QList<uint>>("anderes");
        QTest::addColumn<int>("zustand");
        using L = QList<uint>;
        // NrGr over a smaller NrAlle: see the planning tests.
        QTest::newRow("gleich") << L { 5, 10, 1, 1 } << L { 5, 10, 1, 1 } << 1;
        QTest::newRow("vorzeichenlos") << L { 5, 10, 1, 1 } << L { 5, 0x80000000u, 1, 1 } << 0;
    }
    void vergleicheVersion()
    {
        QFETCH(QList<uint>, basis);
        QFETCH(QList<uint>, anderes);
        QFETCH(int, zustand);
        Plugin a, b;
        for (auto fall : { qMakePair(&a, basis), qMakePair(&b, anderes) }) {
            fall.first->setzeInterfaceNr(fall.second[0]);
            fall.first->setzeNrAlle(fall.second[1]);
            fall.first->setzeNrGr(fall.second[2]);
            fall.first->setzeNrPlugin(fall.second[3]);
        }
        // Rev and Jahr take no part.
        a.setzeRev(1);
        b.setzeRev(99);
        a.setzeJahr(2019);
        QCOMPARE(a.vergleicheVersion(&b), zustand);
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
    void stromBeschaedigt_data()
    {
        QTest::addColumn<int>("art");
        QTest::newRow("abgeschnitten") << 0;
        QTest::newRow("riesige Setup-Zahl") << 1;
    }
    void stromBeschaedigt()
    {
        QFETCH(int, art);
        Plugin p;
        QByteArray bytes = vollerStrom(p);
        if (art == 0) {
            bytes.chop(9);
        } else {
            // Rewrite the count after the eight leading strings.
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

    void pfadImOrdner_data()
    {
        QTest::addColumn<QString>("relativ");
        QTest::addColumn<bool>("folgen");
        QTest::addColumn<QString>("erwartet"); // relative to the base; empty: rejected
        QTest::newRow("einfach") << "a/b.txt" << true << "a/b.txt";
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
    void loescheFehlendeUndVorhandene_data()
    {
        QTest::addColumn<bool>("nurDictionary");
        QTest::addColumn<bool>("leereListe");
        QTest::newRow("alles") << false << false;
        QTest::newRow("nur Dictionary") << true << false;
        // A record without files removes nothing, not even its dictionary.
        QTest::newRow("leere Liste") << false << true;
    }
    void loescheFehlendeUndVorhandene()
    {
        QFETCH(bool, nurDictionary);
        QFETCH(bool, leereListe);
        const QString dict = m_kora + QStringLiteral("/dict/est_19.dict");
        schreibe(dict);
        schreibe(dict + QStringLiteral(".sig"));
        schreibe(m_kora + QStringLiteral("/bin/est19.so"));
        schreibe(m_kora + QStringLiteral("/daten/est19.dat"));
        Plugin p;
        p.setzeDictDatei(QDir::toNativeSeparators(dict));
        if (!leereListe)
            p.setzeDateien({ "bin/est19.so", "fehlt/schon.weg", "daten/est19.dat" });
        QString fehler = QStringLiteral("alt");
        QVERIFY(p.loescheAlleDateien(fehler, nurDictionary));
        QVERIFY2(fehler.isEmpty(), qPrintable(fehler));
        QCOMPARE(QFileInfo::exists(dict), leereListe);
        QCOMPARE(QFileInfo::exists(dict + QStringLiteral(".sig")), leereListe);
        const bool dateienBleiben = nurDictionary || leereListe;
        QCOMPARE(QFileInfo::exists(m_kora + QStringLiteral("/bin/est19.so")), dateienBleiben);
        QCOMPARE(QFileInfo::exists(m_kora + QStringLiteral("/daten/est19.dat")), dateienBleiben);
        QCOMPARE(p.gibDateien().isEmpty(), !nurDictionary);
    }
    void loescheNieAusserhalb_data()
    {
        QTest::addColumn<QString>("eintrag");
        QTest::addColumn<QString>("dictArt"); // innen, aussen, endung
        QTest::newRow("zwei Punkte") << "../aussen/opfer" << "innen";
        QTest::newRow("Ordner-Verknuepfung") << "raus/opfer" << "innen";
        QTest::newRow("Dictionary ausserhalb") << "bin/a.so" << "aussen";
        QTest::newRow("kein Dictionary") << "bin/a.so" << "endung";
    }
    void loescheNieAusserhalb()
    {
        QFETCH(QString, eintrag);
        QFETCH(QString, dictArt);
        const QString opfer = m_aussen + QStringLiteral("/opfer");
        schreibe(opfer, "wertvoll");
        schreibe(m_aussen + QStringLiteral("/fremd.dict"), "fremd");
        QVERIFY(QFile::link(m_aussen, m_kora + QStringLiteral("/raus")));
        schreibe(m_kora + QStringLiteral("/bin/a.so"));
        QString dict = m_kora + QStringLiteral("/dict/est_19.dict");
        if (dictArt == QLatin1String("aussen"))
            dict = m_aussen + QStringLiteral("/fremd.dict");
        else if (dictArt == QLatin1String("endung"))
            dict = m_kora + QStringLiteral("/bin/a.so");
        schreibe(m_kora + QStringLiteral("/dict/est_19.dict"));

        Plugin p;
        p.setzeDictDatei(dict);
        p.setzeDateien({ eintrag });
        QString fehler;
        const bool ok = p.loescheAlleDateien(fehler, false);
        QCOMPARE(lese(opfer), QByteArray("wertvoll"));
        QCOMPARE(lese(m_aussen + QStringLiteral("/fremd.dict")), QByteArray("fremd"));
        QVERIFY(QFileInfo(m_aussen).isDir());
        if (dictArt == QLatin1String("innen")) {
            // The stray entry is dropped, the module's own dictionary goes.
            QVERIFY(ok);
            QVERIFY(!QFileInfo::exists(dict));
        } else {
            QVERIFY(!ok);
            QVERIFY(fehler.contains(QStringLiteral("au\u00dferhalb")));
        }
    }
    void loescheOhneRechte()
    {
        // Root removes any file, so as root the helper runs as user 65534 through
        // setpriv, from a copy in a tree open to others (the build folder may not be).
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
            const QString kopie = baum.path() + QStringLiteral("/iv_loeschhelfer");
            QFile::copy(helferDatei, kopie);
            ::chmod(QFile::encodeName(kopie).constData(), 0755);
            if (starteHelfer(kopie, { QStringLiteral("--probe") }))
                helferDatei = kopie;
            else if (!starteHelfer(helferDatei, { QStringLiteral("--probe") }))
                QSKIP("running as root, and the helper cannot be started as user 65534 through setpriv "
                      "(is setpriv installed, and the build or temporary folder open to others?)");
        }

        const QString kora = baum.path() + QStringLiteral("/kora");
        const QString dict = kora + QStringLiteral("/dict/est_19.dict");
        const QString gesperrt = kora + QStringLiteral("/gesperrt");
        const QString schreibgeschuetzt = gesperrt + QStringLiteral("/schreibgeschuetzt.dat");
        const QString beschreibbar = gesperrt + QStringLiteral("/beschreibbar.dat");
        for (const QString& d : { dict, dict + ".sig", kora + "/frei.dat", schreibgeschuetzt, beschreibbar })
            schreibe(d);
        // One locked folder with one locked file in it: as root, everything else
        // belongs to user 65534; otherwise the two are read-only.
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
        // Lines are joined as they come, files from the last to the first; the
        // dictionary stays while files of the part are left.
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
