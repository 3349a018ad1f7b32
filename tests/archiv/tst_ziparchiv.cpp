// Archives as an attacker would build them. A refused archive writes nothing
// at all: the whole tree around the target is compared before and after.

#include "global/archiv/ziparchiv.h"
#include "testhilfe/testumgebung.h"

#include <QCryptographicHash>
#include <QDirIterator>
#include <QtTest>
#include <sys/stat.h>
#include <zip.h>

namespace {

struct Eintrag {
    QByteArray name;
    QByteArray inhalt;
    bool verweis = false;
    zip_int32_t methode = ZIP_CM_DEFAULT;
    bool verschluesselt = false;
};
const zip_int32_t gespeichert = ZIP_CM_STORE;

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
        zip_set_file_compression(z, zip_uint64_t(i), e.methode, 0);
        if (e.verschluesselt)
            zip_file_set_encryption(z, zip_uint64_t(i), ZIP_EM_AES_256, "geheim");
    }
    return zip_close(z) == 0 ? pfad : QString();
}

quint32 lies32(const QByteArray& b, int o) { return qFromLittleEndian<quint32>(b.constData() + o); }
quint16 lies16(const QByteArray& b, int o) { return qFromLittleEndian<quint16>(b.constData() + o); }
void setze32(QByteArray& b, int o, quint32 w) { qToLittleEndian(w, b.data() + o); }
void setze16(QByteArray& b, int o, quint16 w) { qToLittleEndian(w, b.data() + o); }

// Offsets of each entry's central record and local header.
QVector<QPair<int, int>> koepfe(const QByteArray& roh)
{
    const int ende = roh.lastIndexOf("PK\x05\x06");
    QVector<QPair<int, int>> k;
    int z = int(lies32(roh, ende + 16));
    for (int i = 0; i < lies16(roh, ende + 10); ++i) {
        k << qMakePair(z, int(lies32(roh, z + 42)));
        z += 46 + lies16(roh, z + 28) + lies16(roh, z + 30) + lies16(roh, z + 32);
    }
    return k;
}

// Hand edits of a finished archive, as a forger would make them.
void verfaelsche(const QString& pfad, const QString& kniff)
{
    QByteArray roh = TestUmgebung::leseDatei(pfad);
    const auto k = koepfe(roh);
    const int z = k.last().first, l = k.last().second;
    const auto groesse = [&](quint32 neu) { setze32(roh, z + 24, neu); setze32(roh, l + 22, neu); };
    if (kniff == QLatin1String("crc"))
        roh.data()[l + 30 + lies16(roh, l + 26) + lies16(roh, l + 28) + 3] ^= 0x20;
    else if (kniff == QLatin1String("leer"))
        roh.clear();
    else if (kniff == QLatin1String("groesser"))
        groesse(lies32(roh, z + 24) + 1000);
    else if (kniff == QLatin1String("riesig"))
        groesse(0xfffffff0u);
    else if (kniff == QLatin1String("methode")) {
        setze16(roh, z + 10, 6); // implode
        setze16(roh, l + 8, 6);
    } else if (kniff == QLatin1String("ueberlappend"))
        setze32(roh, z + 42, quint32(k.first().second));
    else if (kniff == QLatin1String("doppelt")) {
        // The last name becomes the first one's (same length).
        const int n = lies16(roh, z + 28);
        roh.replace(z + 46, n, roh.mid(k.first().first + 46, n));
        roh.replace(l + 30, n, roh.mid(k.first().first + 46, n));
    }
    TestUmgebung::schreibeDatei(pfad, roh);
}

// Every file, folder and link below `wurzel` with its content or target.
QMap<QString, QByteArray> baum(const QString& wurzel)
{
    QMap<QString, QByteArray> b;
    QDirIterator it(wurzel, QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QFileInfo f(it.next());
        const QByteArray art = f.isSymLink() ? "L " + f.symLinkTarget().toUtf8()
            : f.isDir()                      ? QByteArray("D")
                                             : "F " + QCryptographicHash::hash(TestUmgebung::leseDatei(f.filePath()), QCryptographicHash::Md5).toHex();
        b.insert(f.filePath().mid(wurzel.size() + 1), art + ' ' + QByteArray::number(int(f.permissions()), 16));
    }
    return b;
}

} // namespace

Q_DECLARE_METATYPE(QList<Eintrag>)

class TstZipArchiv : public QObject
{
    Q_OBJECT
private slots:
    void boeseArchive_data()
    {
        QTest::addColumn<QList<Eintrag>>("eintraege");
        QTest::addColumn<QString>("kniff");
        QTest::addColumn<QString>("grund");
        // The target holds gut/datei.txt, a folder "daten", a file "bin" and a link "hilfe" out;
        // the good first entry would replace gut/datei.txt.
        const Eintrag gut{ "gut/datei.txt", "neu" };
        const Eintrag b{ "b.txt", QByteArray(5000, 'b') };
        const QByteArray lang(300, 'l');
        const auto zeile = [&](const char* name, QList<Eintrag> e, const char* kniff, const char* grund) {
            e.prepend(gut);
            QTest::newRow(name) << e << QString::fromLatin1(kniff) << QString::fromUtf8(grund);
        };
        zeile("../", { { "../draussen.txt", "x" } }, "", "\"..\" im Pfad");
        zeile(".. in der Mitte", { { "a/../../draussen.txt", "x" } }, "", "\"..\" im Pfad");
        zeile("..\\", { { "..\\draussen.txt", "x" } }, "", "Schrägstrich");
        zeile("absolut", { { "/tmp/iv-ziparchiv-draussen.txt", "x" } }, "", "absoluter Pfad");
        zeile("Laufwerk relativ", { { "C:draussen.txt", "x" } }, "", "Laufwerksangabe");
        zeile("Datenstrom", { { "gut/datei.txt:strom", "x" } }, "", "Doppelpunkt");
        zeile("Escape-Folge", { { "a\x1b[2Jb.txt", "x" } }, "", "Steuerzeichen");
        zeile("UTF-8 ungueltig", { { "caf\xe9.txt", "x" } }, "", "UTF-8");
        zeile("UTF-8 ueberlang", { { "..\xc0\xaf" "draussen.txt", "x" } }, "", "UTF-8");
        zeile("Punkt", { { "./a.txt", "x" } }, "", "\".\" im Pfad");
        zeile("leerer Pfadteil", { { "a//b.txt", "x" } }, "", "leerer Pfadteil");
        zeile("reservierter Name", { { ".iv-entpacken-x/a", "x" } }, "", "reservierter Name");
        zeile("langer Namensteil", { { "a/" + lang, "x" } }, "", "Namensteil länger");
        zeile("langer Name", { { (lang.left(200) + '/').repeated(6) + "x", "x" } }, "", "Name länger");
        zeile("Verweis", { { "verweis", "/etc", true } }, "", "Verweis");
        zeile("Verweis im Ziel", { { "hilfe/neu.txt", "x" } }, "", "außerhalb");
        zeile("doppelt", { { "gut/datei.txv", "x" } }, "doppelt", "doppelt|exists");
        zeile("doppelt bis auf Grossschreibung", { { "Gut/Datei.txt", "x" } }, "", "Name doppelt");
        zeile("Datei und Ordner im Archiv", { { "a", "x" }, { "a/b", "x" } }, "", "unter einer Datei");
        zeile("Ordner durch Datei", { { "daten", "x" } }, "", "den Ordner .* durch eine Datei");
        zeile("Datei durch Ordner", { { "bin/x", "x" } }, "", "die Datei .* durch einen Ordner");
        zeile("CRC falsch", { { "b.txt", "Dieser Text wird im Archiv gekippt", false, gespeichert } }, "crc", "beschädigt");
        zeile("leer", { b }, "leer", "kann nicht geöffnet");
        zeile("Groesse zu gross angegeben", { b }, "groesser", "beschädigt");
        zeile("Groesse riesig angegeben", { b }, "riesig", "Kompressionsverhältnis");
        // Honest headers, a real ratio: not only a lying size is refused.
        zeile("Zip-Bombe", { { "null.bin", QByteArray(8 << 20, '\0'), false, ZIP_CM_BZIP2 } }, "", "Kompressionsverhältnis");
        zeile("ueberlappende Eintraege", { b }, "ueberlappend", "kann nicht geöffnet");
        zeile("unbekannte Methode", { b }, "methode", "Kompressionsverfahren");
        zeile("verschluesselt", { { "geheim.txt", "x", false, ZIP_CM_DEFAULT, true } }, "", "verschlüsselt");
    }
    void boeseArchive()
    {
        QFETCH(QList<Eintrag>, eintraege);
        QFETCH(QString, kniff);
        QFETCH(QString, grund);
        for (const Eintrag& e : eintraege) {
            if (!zip_compression_method_supported(e.methode, 1) || (e.verschluesselt && !zip_encryption_method_supported(ZIP_EM_AES_256, 1)))
                QSKIP("libzip kann das Archiv nicht bauen");
        }
        TestUmgebung umgebung;
        const QString zip = baueArchiv(umgebung.pfad() + QStringLiteral("/boese.zip"), eintraege);
        QVERIFY(!zip.isEmpty());
        verfaelsche(zip, kniff);
        const QString ziel = umgebung.pfad() + QStringLiteral("/sitz/ziel");
        const QString draussen = umgebung.pfad() + QStringLiteral("/sitz/draussen");
        TestUmgebung::schreibeDatei(ziel + QStringLiteral("/gut/datei.txt"), "alt");
        TestUmgebung::schreibeDatei(ziel + QStringLiteral("/daten/x.txt"), "alt");
        TestUmgebung::schreibeDatei(ziel + QStringLiteral("/bin"), "alt");
        QVERIFY(QDir().mkpath(draussen) && QFile::link(draussen, ziel + QStringLiteral("/hilfe")));
        const auto vorher = baum(umgebung.pfad() + QStringLiteral("/sitz"));

        ZipArchiv archiv;
        QVERIFY(!(archiv.oeffne(zip) && archiv.entpacke(ziel)));
        QVERIFY2(QRegularExpression(grund).match(archiv.errorString()).hasMatch(), qPrintable(archiv.errorString()));
        QCOMPARE(baum(umgebung.pfad() + QStringLiteral("/sitz")), vorher);
        QVERIFY(!QFileInfo::exists(QStringLiteral("/tmp/iv-ziparchiv-draussen.txt")));
    }
    void entpacken()
    {
        TestUmgebung umgebung;
        QByteArray gross(3 * 1024 * 1024 + 5, 'g');
        const QString zip = baueArchiv(umgebung.pfad() + QStringLiteral("/gut.zip"),
                                       { { "bin/", "" }, { "bin/programm", "ELF" }, { "dict/kora_0.dict", "ZGljdA==" },
                                         { "daten/gross.bin", gross }, { "leer.txt", "" } });
        const QString ziel = umgebung.pfad() + QStringLiteral("/inst");
        TestUmgebung::schreibeDatei(ziel + QStringLiteral("/dict/kora_0.dict"), "alte Fassung");
        QFile::setPermissions(ziel + QStringLiteral("/dict/kora_0.dict"), QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup);
        // A staging folder left by a run that died goes.
        TestUmgebung::schreibeDatei(ziel + QStringLiteral("/.iv-entpacken-tot/neu/x"), "rest");
        ZipArchiv archiv;
        QVERIFY(archiv.oeffne(zip));
        qint64 letzter = 0, gesamt = 0;
        QVERIFY2(archiv.entpacke(ziel, [&](qint64 g, qint64 t) { letzter = g; gesamt = t; }), qPrintable(archiv.errorString()));
        QCOMPARE(baum(ziel).keys(), (QStringList{ "bin", "bin/programm", "daten", "daten/gross.bin", "dict", "dict/kora_0.dict", "leer.txt" }));
        QCOMPARE(TestUmgebung::leseDatei(ziel + QStringLiteral("/daten/gross.bin")), gross);
        QCOMPARE(TestUmgebung::leseDatei(ziel + QStringLiteral("/dict/kora_0.dict")), QByteArray("ZGljdA=="));
        // A replaced file keeps its rights, a new one is readable by everyone.
        QCOMPARE(QFile::permissions(ziel + QStringLiteral("/dict/kora_0.dict")) & 0x0fff, QFile::ReadUser | QFile::WriteUser | QFile::ReadGroup);
        QVERIFY(QFile::permissions(ziel + QStringLiteral("/leer.txt")) & QFile::ReadOther);
        QCOMPARE(letzter, gesamt);
        QCOMPARE(gesamt, qint64(gross.size() + 3 + 8));
    }
    void verschiebenScheitert()
    {
        // A folder appearing under a file's name after the checks fails the second move: the first
        // is put back, and the next attempt succeeds once the obstacle is gone.
        TestUmgebung umgebung;
        const QString zip = baueArchiv(umgebung.pfad() + QStringLiteral("/a.zip"), { { "a.txt", "neu a" }, { "neu/b.txt", "neu b" } });
        const QString ziel = umgebung.pfad() + QStringLiteral("/inst");
        TestUmgebung::schreibeDatei(ziel + QStringLiteral("/a.txt"), "alt a");
        const auto sperre = [&](qint64 g, qint64 t) {
            if (g == t)
                TestUmgebung::schreibeDatei(ziel + QStringLiteral("/neu/b.txt/belegt"), "x");
        };
        ZipArchiv archiv;
        QVERIFY(archiv.oeffne(zip));
        QVERIFY(!archiv.entpacke(ziel, sperre));
        QVERIFY2(archiv.errorString().contains(QStringLiteral("wiederhergestellt")), qPrintable(archiv.errorString()));
        QCOMPARE(baum(ziel).keys(), (QStringList{ "a.txt", "neu", "neu/b.txt", "neu/b.txt/belegt" }));
        QCOMPARE(TestUmgebung::leseDatei(ziel + QStringLiteral("/a.txt")), QByteArray("alt a"));
        QVERIFY(QDir(ziel + QStringLiteral("/neu/b.txt")).removeRecursively());
        QVERIFY2(archiv.entpacke(ziel), qPrintable(archiv.errorString()));
        QCOMPARE(TestUmgebung::leseDatei(ziel + QStringLiteral("/neu/b.txt")), QByteArray("neu b"));
        QCOMPARE(baum(ziel).keys(), (QStringList{ "a.txt", "neu", "neu/b.txt" }));
    }
    void unterbrocheneZuege()
    {
        TestUmgebung umgebung;
        const QString ziel = umgebung.pfad() + QStringLiteral("/inst");
        // The dictionaries move after every other file.
        QStringList zuege;
        ZipArchiv::setzeZugBeobachter([&zuege](const QString& name) { zuege << name; });
        ZipArchiv archiv;
        QVERIFY(archiv.oeffne(baueArchiv(umgebung.pfad() + QStringLiteral("/a.zip"),
                                         { { "dict/x.dict", "d" }, { "dict/x.dict.sig", "s" }, { "a.txt", "a" }, { "b/c.txt", "c" } })));
        QVERIFY2(archiv.entpacke(ziel), qPrintable(archiv.errorString()));
        ZipArchiv::setzeZugBeobachter({});
        QCOMPARE(zuege, (QStringList{ "a.txt", "b/c.txt", "dict/x.dict", "dict/x.dict.sig" }));

        // Stopped during the moves: the listed files still staged go into place,
        // never through a link out or by a name that climbs; a staging folder
        // without its list may hold unfinished files and moves nothing.
        const QString aussen = umgebung.pfad() + QStringLiteral("/aussen");
        QDir().mkpath(aussen);
        QVERIFY(QFile::link(aussen, ziel + QStringLiteral("/raus")));
        const QString zwischen = ziel + QStringLiteral("/.iv-entpacken-abc");
        for (const char* n : { "a.txt", "dict/x.dict.sig", "raus/opfer.txt" })
            TestUmgebung::schreibeDatei(zwischen + QStringLiteral("/neu/") + QLatin1String(n), "neu");
        TestUmgebung::schreibeDatei(umgebung.pfad() + QStringLiteral("/opfer2.txt"), "bleibt");
        TestUmgebung::schreibeDatei(zwischen + QStringLiteral("/bereit"), "a.txt\nb/c.txt\nraus/opfer.txt\n../../opfer2.txt\ndict/x.dict.sig\n");
        TestUmgebung::schreibeDatei(ziel + QStringLiteral("/.iv-entpacken-halb/neu/b/c.txt"), "halb");
        QStringList fehler;
        QCOMPARE(ZipArchiv::vollendeZuege(ziel, fehler), 2);
        QCOMPARE(fehler.size(), 2);
        QCOMPARE(TestUmgebung::leseDatei(ziel + QStringLiteral("/a.txt")), QByteArray("neu"));
        QCOMPARE(TestUmgebung::leseDatei(ziel + QStringLiteral("/dict/x.dict.sig")), QByteArray("neu"));
        QCOMPARE(TestUmgebung::leseDatei(ziel + QStringLiteral("/b/c.txt")), QByteArray("c"));
        QVERIFY(baum(aussen).isEmpty());
        QCOMPARE(TestUmgebung::leseDatei(umgebung.pfad() + QStringLiteral("/opfer2.txt")), QByteArray("bleibt"));
    }
    void eintragLesen()
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
        // One entry is checked against its CRC as unpacking checks every one.
        const QString crc = baueArchiv(umgebung.pfad() + QStringLiteral("/crc.zip"), { { "b.txt", "Dieser Text wird gekippt", false, gespeichert } });
        verfaelsche(crc, QStringLiteral("crc"));
        QVERIFY(archiv.oeffne(crc));
        QVERIFY(!archiv.leseEintrag(QStringLiteral("b.txt"), daten));
        QVERIFY(daten.isEmpty());
    }
    void erstellen()
    {
        // A program keeps its execute bit through the archive: new as 0755, and a
        // replaced copy keeps its rights and gains execute where it may be read.
        TestUmgebung umgebung;
        const QString quelle = umgebung.pfad() + QStringLiteral("/quelle.xml");
        const QString programm = umgebung.pfad() + QStringLiteral("/programm");
        TestUmgebung::schreibeDatei(quelle, "<Index/>");
        TestUmgebung::schreibeDatei(programm, "ELF");
        QFile::setPermissions(programm, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadOther | QFile::ExeOther);
        const QString zip = umgebung.pfad() + QStringLiteral("/neu.zip");
        QString fehler;
        QVERIFY(ZipArchiv::erstelle(zip, { { programm, QStringLiteral("bin/programm") }, { quelle, QStringLiteral("bin/daten") } }, &fehler));
        // A missing source leaves the old archive as it was.
        QVERIFY(!ZipArchiv::erstelle(zip, { { umgebung.pfad() + QStringLiteral("/fehlt"), QStringLiteral("x") } }, &fehler));
        QVERIFY(!fehler.isEmpty());
        const QString ziel = umgebung.pfad() + QStringLiteral("/inst");
        TestUmgebung::schreibeDatei(ziel + QStringLiteral("/bin/programm"), "alt");
        QFile::setPermissions(ziel + QStringLiteral("/bin/programm"), QFile::ReadOwner | QFile::WriteOwner | QFile::ReadGroup);
        ZipArchiv archiv;
        QVERIFY(archiv.oeffne(zip));
        QCOMPARE(archiv.eintraege(), (QStringList{ "bin/programm", "bin/daten" }));
        QVERIFY2(archiv.entpacke(ziel), qPrintable(archiv.errorString()));
        QCOMPARE(TestUmgebung::leseDatei(ziel + QStringLiteral("/bin/daten")), QByteArray("<Index/>"));
        const auto rechte = [&](const char* name) { return int(QFile::permissions(ziel + QLatin1String(name)) & 0x0fff); };
        QCOMPARE(rechte("/bin/programm"), int(QFile::ReadUser | QFile::WriteUser | QFile::ExeUser | QFile::ReadGroup | QFile::ExeGroup));
        QCOMPARE(rechte("/bin/daten"), int(QFile::ReadUser | QFile::WriteUser | QFile::ReadGroup | QFile::ReadOther));
        QFile::remove(ziel + QStringLiteral("/bin/programm"));
        QVERIFY2(archiv.entpacke(ziel), qPrintable(archiv.errorString()));
        QCOMPARE(rechte("/bin/programm"), int(QFile::ReadUser | QFile::WriteUser | QFile::ExeUser | QFile::ReadGroup
                                              | QFile::ExeGroup | QFile::ReadOther | QFile::ExeOther));
    }
};

QTEST_GUILESS_MAIN(TstZipArchiv)
#include "tst_ziparchiv.moc"
