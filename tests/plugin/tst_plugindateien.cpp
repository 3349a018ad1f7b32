// Copying and deleting a part's files: the rules of the walk, and that no
// path outside the part's folder is ever touched.

#include "global/varnelApplication/logbase.h"
#include "global/varnelApplication/textausliteral.h"
#include "pluginManager/plugin.h"
#include "pluginManager/startwerte.h"
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

class TstPluginDateien : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();

    void pfadImOrdner_data();
    void pfadImOrdner();
    void loescheFehlendeUndVorhandene_data();
    void loescheFehlendeUndVorhandene();
    void loescheNieAusserhalb_data();
    void loescheNieAusserhalb();
    void loescheOhneRechte();
    void kopiere();

private:
    QTemporaryDir m_log;
    QTemporaryDir m_tmp;
    QString m_kora;
    QString m_aussen;
};

void TstPluginDateien::initTestCase()
{
    initLogBase(QStringLiteral("tst_plugindateien"), 10 * 1024 * 1024, m_log.path());
}

void TstPluginDateien::cleanupTestCase()
{
    beendeLogBase();
    gs_KoraDir.clear();
}

void TstPluginDateien::init()
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

void TstPluginDateien::pfadImOrdner_data()
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

void TstPluginDateien::pfadImOrdner()
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

void TstPluginDateien::loescheFehlendeUndVorhandene_data()
{
    QTest::addColumn<bool>("nurDictionary");
    QTest::addColumn<bool>("leereListe");
    QTest::newRow("alles") << false << false;
    QTest::newRow("nur Dictionary") << true << false;
    // A record without files removes nothing, not even its dictionary.
    QTest::newRow("leere Liste") << false << true;
}

void TstPluginDateien::loescheFehlendeUndVorhandene()
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

void TstPluginDateien::loescheNieAusserhalb_data()
{
    QTest::addColumn<QString>("eintrag");
    QTest::addColumn<QString>("dictArt"); // innen, aussen, endung
    QTest::newRow("zwei Punkte") << "../aussen/opfer" << "innen";
    QTest::newRow("Ordner-Verknuepfung") << "raus/opfer" << "innen";
    QTest::newRow("Dictionary ausserhalb") << "bin/a.so" << "aussen";
    QTest::newRow("kein Dictionary") << "bin/a.so" << "endung";
}

void TstPluginDateien::loescheNieAusserhalb()
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

void TstPluginDateien::loescheOhneRechte()
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

void TstPluginDateien::kopiere()
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

QTEST_GUILESS_MAIN(TstPluginDateien)
#include "tst_plugindateien.moc"
