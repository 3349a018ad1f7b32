// The module record: the HTML name, version comparison and the stream form.
// Reading dictionaries and the server index is covered by the inventory and
// server tests.

#include "global/varnelApplication/logbase.h"
#include "pluginManager/plugin.h"

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
    void stromForm();
    void stromBeschaedigt_data();
    void stromBeschaedigt();

private:
    QTemporaryDir m_tmp;
};

void TstPlugin::initTestCase()
{
    initLogBase(QStringLiteral("tst_plugin"), 10 * 1024 * 1024, m_tmp.path() + QStringLiteral("/log"));
}

void TstPlugin::cleanupTestCase()
{
    beendeLogBase();
}

void TstPlugin::nameHtml_data()
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
    // NrGr over a smaller NrAlle: see the planning tests.
    QTest::newRow("gleich") << L { 5, 10, 1, 1 } << L { 5, 10, 1, 1 } << 1;
    QTest::newRow("vorzeichenlos") << L { 5, 10, 1, 1 } << L { 5, 0x80000000u, 1, 1 } << 0;
}

void TstPlugin::vergleicheVersion()
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

void TstPlugin::stromForm()
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

void TstPlugin::stromBeschaedigt_data()
{
    QTest::addColumn<int>("art");
    QTest::newRow("abgeschnitten") << 0;
    QTest::newRow("riesige Setup-Zahl") << 1;
}

void TstPlugin::stromBeschaedigt()
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

QTEST_GUILESS_MAIN(TstPlugin)
#include "tst_plugin.moc"
