// The module record: derived texts, status words, version comparison, the
// stream form, and filling a record from signed dictionaries.

#include "global/varnelApplication/logbase.h"
#include "pluginManager/plugin.h"
#include "tests/inventar/dicthilfe.h"

#include <QDomDocument>
#include <QtTest>

class TstPlugin : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void cleanupTestCase();

    void nameHtml_data();
    void nameHtml();
    void vergleicheVersion_data();
    void vergleicheVersion();
    void setupsUndGroessen();
    void stromForm();
    void stromBeschaedigt_data();
    void stromBeschaedigt();
    void serverForm();
    void initAusDictionary_data();
    void initAusDictionary();

private:
    QTemporaryDir m_tmp;
    std::unique_ptr<DictHilfe::Schluessel> m_schluessel;
};

void TstPlugin::initTestCase()
{
    QVERIFY(m_tmp.isValid());
    initLogBase(QStringLiteral("tst_plugin"), 10 * 1024 * 1024, m_tmp.path() + QStringLiteral("/log"));
    m_schluessel = std::make_unique<DictHilfe::Schluessel>(m_tmp.path() + QStringLiteral("/schluessel"));
    QVERIFY2(m_schluessel->istGueltig(), "openssl could not make a key pair");
    m_schluessel->aktiviere();
}

void TstPlugin::cleanupTestCase()
{
    m_schluessel.reset();
    beendeLogBase();
}

void TstPlugin::nameHtml_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("html");
    QTest::newRow("klaerung") << "Einkommensteuererklaerung" << "Einkommensteuererkl&auml;rung";
    QTest::newRow("fuer nur als Wort") << "Erklaerung fuer die Zerlegung, Gebuehrfuer"
                                      << "Erkl&auml;rung f&uuml;r die Zerlegung, Gebuehrfuer";
    QTest::newRow("Gross-Klein bei Wortersatz") << "KLAERUNG Klaerung" << "KLAERUNG Klaerung";
    QTest::newRow("Platzhalter") << "M\"UE\"nchen \"GROSS_AE\"rger Stra\"SS\"e Ma\"SZ\" \"OE\"l \"AE\""
                                 << "M&uuml;nchen &Auml;rger Stra&szlig;e Ma&szlig; &ouml;l &auml;";
    // Present once exactly: then every spelling is replaced.
    QTest::newRow("Platzhalter gemischt") << "\"UE\" \"ue\"" << "&uuml; &uuml;";
    QTest::newRow("nicht Latin-1") << QString::fromUtf8("Kur\u015f") << "Kur?";
}

void TstPlugin::nameHtml()
{
    QFETCH(QString, name);
    QFETCH(QString, html);
    Plugin p;
    p.setzeName(name);
    QCOMPARE(p.gibNameHtml(), html);
}

void TstPlugin::vergleicheVersion_data()
{
    QTest::addColumn<QList<uint>>("basis");
    QTest::addColumn<QList<uint>>("anderes");
    QTest::addColumn<int>("zustand");
    using L = QList<uint>;
    QTest::newRow("NrGr groesser trotz NrAlle kleiner") << L { 5, 10, 1, 1 } << L { 5, 9, 2, 1 } << 0;
    QTest::newRow("gleich") << L { 5, 10, 1, 1 } << L { 5, 10, 1, 1 } << 1;
    QTest::newRow("Interface groesser") << L { 5, 10, 1, 1 } << L { 6, 1, 1, 1 } << 0;
    QTest::newRow("NrPlugin groesser") << L { 5, 10, 1, 1 } << L { 5, 10, 1, 2 } << 0;
    QTest::newRow("vorzeichenlos") << L { 5, 10, 1, 1 } << L { 5, 0x80000000u, 1, 1 } << 0;
}

void TstPlugin::vergleicheVersion()
{
    QFETCH(QList<uint>, basis);
    QFETCH(QList<uint>, anderes);
    QFETCH(int, zustand);
    Plugin a, b;
    for (auto* p : { &a, &b }) {
        const QList<uint>& w = (p == &a) ? basis : anderes;
        p->setzeInterfaceNr(w[0]);
        p->setzeNrAlle(w[1]);
        p->setzeNrGr(w[2]);
        p->setzeNrPlugin(w[3]);
    }
    // Rev and Jahr take no part.
    a.setzeRev(1);
    b.setzeRev(99);
    a.setzeJahr(2019);
    QCOMPARE(a.vergleicheVersion(&b), zustand);
    QCOMPARE(a.vergleicheVersion(nullptr), int(Plugin::ZUSTAND_KEIN_GEGENUEBER));
}

void TstPlugin::setupsUndGroessen()
{
    Plugin p;
    p.setzeSize(QStringLiteral("12345678901"));
    QCOMPARE(p.gibSize(), quint64(12345678901ull));
    p.setzeSize(QStringLiteral("12x"));
    QCOMPARE(p.gibSize(), quint64(0));
    p.setzeUnzipFileSize(QStringLiteral("-5"));
    QCOMPARE(p.gibUnzipFileSize(), quint64(0));

    QVERIFY(!p.gibSetup(27000));
    Setup kaputt, s1, s2;
    kaputt.setzeRev(QStringLiteral("abc"));
    s1.setzeRev(QStringLiteral("27000"));
    s1.setzeDatei(QStringLiteral("eins.zip"));
    s2.setzeRev(QStringLiteral("27000"));
    s2.setzeDatei(QStringLiteral("zwei.zip"));
    QCOMPARE(kaputt.gibRevisionUi(), 0u);
    p.fuegeSetupsHinzu({ kaputt, s1, s2 });
    QCOMPARE(p.gibSetup(27000)->gibDatei(), QStringLiteral("eins.zip"));
    QVERIFY(!p.gibSetup(1));
}

namespace {

void fuelleVoll(Plugin& p)
{
    p.setzeName(QStringLiteral("Einkommensteuererklaerung fuer \"UE\"bungen"));
    p.setzeKurzname(QStringLiteral("est"));
    p.setzeDictDatei(QStringLiteral("/opt/fiscalon/dict/est_19.dict"));
    p.setzeSelbstUpdate(true);
    p.setzeDienst(true);
    p.setzeZip(QStringLiteral("  est19.zip "));
    p.setzeSilent(QStringLiteral("/S"));
    p.setzeSize(quint64(123456789012ull));
    p.setzeUnzipFileSize(quint64(99));
    p.setzeMD5(QStringLiteral("0123456789abcdef0123456789abcdef"));
    Setup s;
    s.setzeDatei(QStringLiteral("est19_u1.zip"));
    s.setzeSilent(QStringLiteral("/q"));
    s.setzeSize(quint64(1) << 40);
    s.setzeUnzipFileSize(quint64(7));
    s.setzeMD5(QStringLiteral("ffff"));
    s.setzeRev(QStringLiteral("27001"));
    Setup t = s;
    t.setzeRev(QStringLiteral("27002"));
    p.setzeSetups({ s, t });
    p.setzeVersion(QStringLiteral("21.3.1"));
    p.setzeInterfaceNr(5);
    p.setzeUnterfallArt(10);
    p.setzeRev(27289);
    p.setzeJahr(2019);
    p.setzeNrAlle(4000000000u);
    p.setzeNrGr(2);
    p.setzeNrPlugin(3);
    p.setzeDateien({ QStringLiteral("bin/est19.so"), QStringLiteral("daten/\u00fcbersicht.pdf") });
    p.setzeStatus(0x42);
    p.setzeAktion(Plugin::ERNEUERN);
    p.setzeInitialisiert(true);
    p.setzeIstInstalliert(true);
    p.setzeNeuerZeitraum(true);
    p.setzeKeinUpdatePaket(true);
}

} // namespace

void TstPlugin::stromForm()
{
    // The order of the stream form, field by field, as a reader of another
    // build would take it apart.
    Plugin p;
    fuelleVoll(p);
    QByteArray bytes;
    {
        QDataStream aus(&bytes, QIODevice::WriteOnly);
        aus << p << p;
        QCOMPARE(aus.status(), QDataStream::Ok);
    }
    QDataStream ein(bytes);
    QString s;
    QStringList erwartet1 = { p.gibNameHtml(), "est", "est19.zip", "/S", "123456789012",
                              "0123456789abcdef0123456789abcdef", "", "" };
    for (const QString& e : erwartet1) {
        ein >> s;
        QCOMPARE(s, e);
        QVERIFY(!s.isNull()); // empty text is written as an empty string, never as null
    }
    qint32 n = 0;
    ein >> n;
    QCOMPARE(n, 2);
    for (int i = 0; i < n; ++i) {
        QString silent, datei, md5, rev;
        quint64 groesse = 0, entpackt = 0;
        ein >> silent >> datei >> md5 >> rev >> groesse >> entpackt;
        QCOMPARE(silent, QStringLiteral("/q"));
        QCOMPARE(datei, QStringLiteral("est19_u1.zip"));
        QCOMPARE(md5, QStringLiteral("ffff"));
        QCOMPARE(rev, i == 0 ? QStringLiteral("27001") : QStringLiteral("27002"));
        QCOMPARE(groesse, quint64(1) << 40);
        QCOMPARE(entpackt, quint64(7));
    }
    for (const QString& e : QStringList { "21.3.1", "5", "10", "27289", "2019", "4000000000", "2", "3" }) {
        ein >> s;
        QCOMPARE(s, e);
    }
    QStringList dateien;
    ein >> dateien;
    QCOMPARE(dateien, p.gibDateien());
    QString status, aktion, dict;
    bool init = false, keinUpdate = false;
    ein >> status >> aktion >> init >> dict >> keinUpdate;
    QCOMPARE(status, QStringLiteral("66"));
    QCOMPARE(aktion, QStringLiteral("2"));
    QVERIFY(init);
    QCOMPARE(dict, p.gibDictDatei());
    QVERIFY(keinUpdate);

    // The second copy read back as a record.
    Plugin q;
    ein >> q;
    QCOMPARE(ein.status(), QDataStream::Ok);
    QVERIFY(ein.atEnd());
    // The HTML name is what is stored, and it must come back unchanged.
    QCOMPARE(q.gibName(), QStringLiteral("Einkommensteuererkl&auml;rung f&uuml;r &uuml;bungen"));
    QCOMPARE(q.gibNameHtml(), q.gibName());
    QCOMPARE(q.gibZip(), QStringLiteral("est19.zip")); // written trimmed
    QCOMPARE(q.gibSetups(), p.gibSetups());
    QCOMPARE(q.gibNrAlle(), p.gibNrAlle());
    QCOMPARE(q.gibDateien(), p.gibDateien());
    QVERIFY(q.istInitialisiert() && q.istKeinUpdatePaket());
    // Not part of the stream form.
    QVERIFY(!q.istSelbstUpdate() && !q.istDienst() && !q.istInstalliert() && !q.istNeuerZeitraum());
}

void TstPlugin::stromBeschaedigt_data()
{
    QTest::addColumn<int>("art");
    QTest::newRow("abgeschnitten") << 0;
    QTest::newRow("riesige Setup-Zahl") << 1;
    QTest::newRow("negative Setup-Zahl") << 2;
    QTest::newRow("leer") << 3;
    QTest::newRow("riesige Dateizahl") << 4;
}

void TstPlugin::stromBeschaedigt()
{
    QFETCH(int, art);
    Plugin p;
    fuelleVoll(p);
    QByteArray bytes;
    {
        QDataStream aus(&bytes, QIODevice::WriteOnly);
        aus << p;
    }
    if (art == 0) {
        bytes.chop(9);
    } else if (art == 1 || art == 2) {
        // Rewrite the count after the eight leading strings.
        QDataStream ein(bytes);
        QString s;
        for (int i = 0; i < 8; ++i)
            ein >> s;
        const qint64 pos = ein.device()->pos();
        QByteArray zahl;
        QDataStream z(&zahl, QIODevice::WriteOnly);
        z << qint32(art == 1 ? 0x7fffffff : -5);
        bytes.replace(int(pos), 4, zahl);
    } else if (art == 3) {
        bytes.clear();
    } else {
        // Everything up to the file list, then a count no file could hold.
        bytes.clear();
        QDataStream aus(&bytes, QIODevice::WriteOnly);
        for (int i = 0; i < 8; ++i)
            aus << QStringLiteral("x");
        aus << qint32(0);
        for (int i = 0; i < 8; ++i)
            aus << QStringLiteral("1");
        aus << quint32(0xfffffff0u) << QStringLiteral("eine");
    }
    QDataStream ein(bytes);
    Plugin q;
    ein >> q;
    if (art == 2) {
        // A negative count reads as no packages; the rest is out of step.
        QVERIFY(q.gibSetups().isEmpty());
    }
    QVERIFY(!q.istInitialisiert());
    QVERIFY(q.gibSetups().size() < 100);
}

void TstPlugin::serverForm()
{
    QDomDocument doc;
    QVERIFY(doc.setContent(QStringLiteral(
        "<TechNr NrAlle='1' NrGr='2' NrPlugin='3'><Version>21.3.7</Version><Daten>"
        "<Datei Typ='bin' Pfad='a.so'/><Datei Typ='dat' Pfad='b.dat'/><Datei/><Datei Typ='x' Pfad='c'/>"
        "</Daten></TechNr>")));
    Plugin p;
    QVERIFY(p.init(doc.documentElement(), QStringLiteral("Gewerbesteuererklaerung"), QStringLiteral("gew"), 2020, 5,
                   1, 2, 3, 27300));
    QCOMPARE(p.gibVersion(), QStringLiteral("21.3.7"));
    // Entries without type or path are left out.
    QCOMPARE(p.gibDateien(), QStringList({ "bin;a.so", "dat;b.dat" }));
}

void TstPlugin::initAusDictionary_data()
{
    QTest::addColumn<bool>("alsJson");
    QTest::addColumn<QString>("unterfallArt");
    QTest::addColumn<QString>("jahr");
    QTest::addColumn<QString>("interfaceNr");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<uint>("erwarteteUfa");
    QTest::addColumn<uint>("erwartetesInterface");
    QTest::newRow("json") << true << "10" << "2019" << "5" << true << 10u << 5u;
    QTest::newRow("csv nur Jahr") << false << "" << "2019" << "5" << true << 0u << 5u;
    QTest::newRow("json keine Zahl") << true << "x" << "2019" << "v5" << true << 0u << 0u;
    QTest::newRow("csv unvollstaendig") << false << "" << "" << "5" << false << 0u << 0u;
}

void TstPlugin::initAusDictionary()
{
    QFETCH(bool, alsJson);
    QFETCH(QString, unterfallArt);
    QFETCH(QString, jahr);
    QFETCH(QString, interfaceNr);
    QFETCH(bool, ok);
    QFETCH(uint, erwarteteUfa);
    QFETCH(uint, erwartetesInterface);

    QTemporaryDir dir;
    DictHilfe::Daten d;
    d.kurzname = QStringLiteral("est");
    d.langname = QStringLiteral("Einkommensteuererklaerung");
    d.jahr = jahr;
    d.unterfallArt = unterfallArt;
    d.interfaceNr = interfaceNr;
    DictHilfe::datei(d, dir.path(), QStringLiteral("plugins/est19.so"), "eins");
    DictHilfe::datei(d, dir.path(), QStringLiteral("daten/est19.dat"), "zwei");
    const QString pfad = dir.path() + QStringLiteral("/dict/est_19.dict");
    QVERIFY(m_schluessel->schreibeDict(pfad, d, alsJson));

    Plugin p;
    QCOMPARE(p.init(pfad), ok);
    QCOMPARE(p.istInitialisiert(), ok);
    QCOMPARE(p.gibDictDatei(), pfad);
    if (!ok)
        return;
    QCOMPARE(p.gibKurznameMitJahr(), QStringLiteral("est19"));
    QCOMPARE(p.gibUnterfallArt(), erwarteteUfa);
    QCOMPARE(p.gibInterfaceNr(), erwartetesInterface);
    QCOMPARE(p.gibDateien(), QStringList({ "daten/est19.dat", "plugins/est19.so" }));
}

QTEST_GUILESS_MAIN(TstPlugin)
#include "tst_plugin.moc"
