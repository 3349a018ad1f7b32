// Archives as an attacker would build them: names that climb out of the
// target, absolute and drive paths, backslashes, control characters, link
// entries, broken CRCs, cut-off files, oversized entries. Nothing may be
// written outside the target, and a refused archive writes nothing at all.

#include "global/archiv/ziparchiv.h"
#include "testhilfe/testumgebung.h"

#include <QDirIterator>
#include <QtTest>
#include <sys/stat.h>
#include <zip.h>

namespace {

struct Eintrag {
    QByteArray name;
    QByteArray inhalt;
    bool verweis = false;
    bool gespeichert = false; // stored, not deflated
};

// Builds an archive with libzip directly, so names are exactly as given.
QString baueArchiv(const QString& pfad, const QList<Eintrag>& eintraege)
{
    int code = 0;
    zip_t* z = zip_open(QFile::encodeName(pfad).constData(), ZIP_CREATE | ZIP_TRUNCATE, &code);
    if (!z)
        return QString();
    QList<QByteArray> halter; // the buffers must live until zip_close
    for (const Eintrag& e : eintraege) {
        halter << e.inhalt;
        zip_source_t* q = zip_source_buffer(z, halter.last().constData(), zip_uint64_t(halter.last().size()), 0);
        const zip_int64_t i = zip_file_add(z, e.name.constData(), q, ZIP_FL_ENC_RAW);
        if (e.verweis)
            zip_file_set_external_attributes(z, zip_uint64_t(i), 0, ZIP_OPSYS_UNIX, zip_uint32_t(S_IFLNK | 0777) << 16);
        if (e.gespeichert)
            zip_set_file_compression(z, zip_uint64_t(i), ZIP_CM_STORE, 0);
    }
    zip_close(z);
    return pfad;
}

QStringList alleDateien(const QString& wurzel)
{
    QStringList l;
    QDirIterator it(wurzel, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext())
        l << it.next().mid(wurzel.size() + 1);
    l.sort();
    return l;
}

} // namespace

Q_DECLARE_METATYPE(QList<Eintrag>)

class TstZipArchiv : public QObject
{
    Q_OBJECT
private slots:
    void boeseArchive_data();
    void boeseArchive();
    void entpacken();
    void crcFehler();
    void abgeschnitten();
    void eintragLesen();
    void erstellen();
};

void TstZipArchiv::boeseArchive_data()
{
    QTest::addColumn<QList<Eintrag>>("eintraege");
    QTest::addColumn<QString>("grund");
    QTest::addColumn<bool>("verweisImZiel"); // the target holds a link "hilfe" to a folder outside
    const Eintrag gut{ "gut/datei.txt", "gut" };
    QTest::newRow("..") << QList<Eintrag>{ gut, { "../draussen.txt", "x" } } << "\"..\"" << false;
    QTest::newRow(".. in der Mitte") << QList<Eintrag>{ gut, { "a/../../draussen.txt", "x" } } << "\"..\"" << false;
    QTest::newRow("absolut") << QList<Eintrag>{ gut, { "/tmp/draussen.txt", "x" } } << "absoluter Pfad" << false;
    QTest::newRow("Laufwerk") << QList<Eintrag>{ gut, { "C:/draussen.txt", "x" } } << "Laufwerksangabe" << false;
    QTest::newRow("Rueckstrich") << QList<Eintrag>{ gut, { "a\\..\\..\\draussen.txt", "x" } } << "Schr\u00e4gstrich" << false;
    QTest::newRow("Steuerzeichen") << QList<Eintrag>{ gut, { "a\nb.txt", "x" } } << "Steuerzeichen" << false;
    QTest::newRow("Verweis") << QList<Eintrag>{ gut, { "verweis", "/etc", true } } << "Verweis" << false;
    QTest::newRow("Verweis und Datei dahinter") << QList<Eintrag>{ { "v", "..", true }, { "v/draussen.txt", "x" } } << "Verweis" << false;
    // A link already inside the installation must not carry a write outside.
    QTest::newRow("Verweis im Ziel") << QList<Eintrag>{ gut, { "hilfe/neu.txt", "x" } } << "au\u00dferhalb" << true;
}

void TstZipArchiv::boeseArchive()
{
    QFETCH(QList<Eintrag>, eintraege);
    QFETCH(QString, grund);
    QFETCH(bool, verweisImZiel);
    TestUmgebung umgebung;
    const QString zip = baueArchiv(umgebung.pfad() + QStringLiteral("/boese.zip"), eintraege);
    QVERIFY(!zip.isEmpty());
    const QString ziel = umgebung.pfad() + QStringLiteral("/ziel/tief");
    const QString draussen = umgebung.pfad() + QStringLiteral("/draussen");
    QVERIFY(QDir().mkpath(draussen));
    if (verweisImZiel)
        QVERIFY(QDir().mkpath(ziel) && QFile::link(draussen, ziel + QStringLiteral("/hilfe")));
    ZipArchiv archiv;
    QVERIFY(archiv.oeffne(zip));
    QVERIFY(!archiv.entpacke(ziel));
    QVERIFY2(archiv.errorString().contains(grund), qPrintable(archiv.errorString()));
    // Not even the good entry was written, and nothing outside either.
    QCOMPARE(alleDateien(ziel), verweisImZiel ? QStringList { "hilfe" } : QStringList());
    QCOMPARE(alleDateien(draussen), QStringList());
    QVERIFY(!QFileInfo::exists(umgebung.pfad() + QStringLiteral("/ziel/draussen.txt")));
    QVERIFY(!QFileInfo::exists(umgebung.pfad() + QStringLiteral("/draussen.txt")));
}

void TstZipArchiv::entpacken()
{
    TestUmgebung umgebung;
    QByteArray gross(3 * 1024 * 1024 + 5, 'g');
    const QString zip = baueArchiv(umgebung.pfad() + QStringLiteral("/gut.zip"),
                                   { { "bin/", "" }, { "bin/programm", "ELF" }, { "dict/kora_0.dict", "ZGljdA==" },
                                     { "daten/gross.bin", gross }, { "leer.txt", "" } });
    const QString ziel = umgebung.pfad() + QStringLiteral("/inst");
    TestUmgebung::schreibeDatei(ziel + QStringLiteral("/dict/kora_0.dict"), "alte Fassung");
    ZipArchiv archiv;
    QVERIFY(archiv.oeffne(zip));
    qint64 letzter = 0, gesamt = 0;
    QVERIFY2(archiv.entpacke(ziel, [&](qint64 g, qint64 t) { letzter = g; gesamt = t; }), qPrintable(archiv.errorString()));
    QCOMPARE(alleDateien(ziel), (QStringList{ "bin", "bin/programm", "daten", "daten/gross.bin", "dict", "dict/kora_0.dict", "leer.txt" }));
    QCOMPARE(TestUmgebung::leseDatei(ziel + QStringLiteral("/daten/gross.bin")), gross);
    QCOMPARE(TestUmgebung::leseDatei(ziel + QStringLiteral("/dict/kora_0.dict")), QByteArray("ZGljdA=="));
    QCOMPARE(letzter, gesamt);
    QCOMPARE(gesamt, qint64(gross.size() + 3 + 8));
}

void TstZipArchiv::crcFehler()
{
    TestUmgebung umgebung;
    const QByteArray inhalt = "Dieser Text wird im Archiv gekippt: 0123456789";
    const QString zip = baueArchiv(umgebung.pfad() + QStringLiteral("/crc.zip"),
                                   { { "a.txt", "vorher" }, { "b.txt", inhalt, false, true } });
    QByteArray roh = TestUmgebung::leseDatei(zip);
    const int stelle = roh.indexOf(inhalt);
    QVERIFY(stelle > 0);
    roh[stelle + 5] = 'X';
    TestUmgebung::schreibeDatei(zip, roh);
    ZipArchiv archiv;
    QVERIFY(archiv.oeffne(zip));
    QByteArray daten;
    QVERIFY(!archiv.leseEintrag(QStringLiteral("b.txt"), daten));
    QVERIFY(daten.isEmpty());
    const QString ziel = umgebung.pfad() + QStringLiteral("/ziel");
    QVERIFY(!archiv.entpacke(ziel));
    QVERIFY2(archiv.errorString().contains(QStringLiteral("besch\u00e4digt")), qPrintable(archiv.errorString()));
    // The damaged file never appears under its name.
    QVERIFY(!QFileInfo::exists(ziel + QStringLiteral("/b.txt")));
}

void TstZipArchiv::abgeschnitten()
{
    TestUmgebung umgebung;
    const QString zip = baueArchiv(umgebung.pfad() + QStringLiteral("/ganz.zip"), { { "a.txt", QByteArray(5000, 'a') } });
    const QByteArray roh = TestUmgebung::leseDatei(zip);
    for (const int laenge : { 0, 10, int(roh.size() / 2), int(roh.size() - 1) }) {
        TestUmgebung::schreibeDatei(zip, roh.left(laenge));
        ZipArchiv archiv;
        QVERIFY2(!archiv.oeffne(zip), qPrintable(QString::number(laenge)));
        QVERIFY(!archiv.errorString().isEmpty());
        QByteArray daten;
        QVERIFY(!archiv.leseEintrag(QStringLiteral("a.txt"), daten));
    }
    ZipArchiv archiv;
    QVERIFY(!archiv.oeffne(umgebung.pfad() + QStringLiteral("/gibtsnicht.zip")));
}

void TstZipArchiv::eintragLesen()
{
    TestUmgebung umgebung;
    const QString zip = baueArchiv(umgebung.pfad() + QStringLiteral("/index.zip"),
                                   { { "INHALT.xml", "<gross/>" }, { "inhalt.xml", "<klein/>" }, { "ordner/inhalt.xml", "<tief/>" },
                                     { "riesig.xml", QByteArray(2 * 1024 * 1024, ' ') } });
    ZipArchiv archiv;
    QVERIFY(archiv.oeffne(zip));
    QByteArray daten;
    QVERIFY(archiv.leseEintrag(QStringLiteral("inhalt.xml"), daten));
    QCOMPARE(daten, QByteArray("<klein/>"));
    QVERIFY(!archiv.leseEintrag(QStringLiteral("Inhalt.xml"), daten));
    QVERIFY(archiv.errorString().contains(QStringLiteral("keinen Eintrag")));
    // A compressed bomb cannot make us hold more than we allow.
    QVERIFY(!archiv.leseEintrag(QStringLiteral("riesig.xml"), daten, 1024 * 1024));
    QVERIFY(daten.isEmpty());
}

void TstZipArchiv::erstellen()
{
    TestUmgebung umgebung;
    const QString quelle = umgebung.pfad() + QStringLiteral("/quelle.xml");
    TestUmgebung::schreibeDatei(quelle, "<Index/>");
    const QString zip = umgebung.pfad() + QStringLiteral("/neu.zip");
    QString fehler;
    QVERIFY(ZipArchiv::erstelle(zip, { { quelle, QStringLiteral("inhalt.xml") } }, &fehler));
    ZipArchiv archiv;
    QVERIFY(archiv.oeffne(zip));
    QCOMPARE(archiv.eintraege(), QStringList{ QStringLiteral("inhalt.xml") });
    QByteArray daten;
    QVERIFY(archiv.leseEintrag(QStringLiteral("inhalt.xml"), daten));
    QCOMPARE(daten, QByteArray("<Index/>"));
    archiv.schliesse();
    // A missing source leaves the old archive as it was.
    QVERIFY(!ZipArchiv::erstelle(zip, { { umgebung.pfad() + QStringLiteral("/fehlt"), QStringLiteral("x") } }, &fehler));
    QVERIFY(!fehler.isEmpty());
    QVERIFY(archiv.oeffne(zip));
    QCOMPARE(archiv.eintraege().size(), 1);
}

QTEST_GUILESS_MAIN(TstZipArchiv)
#include "tst_ziparchiv.moc"
