// The module table model: rows, colours, check boxes, ticks and sorting.

#include "global/varnelApplication/einstellungen.h"
#include "pluginManager/dlgPluginManagerDatenmodel.h"
#include "pluginManager/plugin.h"
#include "tests/testhilfe/pruefhilfe.h"
#include "tests/testhilfe/testumgebung.h"

#include <QColor>
#include <QAbstractItemModelTester>
#include <QtTest>
#include <memory>

namespace {

Plugin* neu(const QString& name, uint jahr, int status = 0, int aktion = 0, bool installiert = false)
{
    auto* p = new Plugin;
    p->setzeName(name);
    p->setzeKurzname(name.left(3).toLower());
    p->setzeJahr(jahr);
    p->setzeStatus(status);
    p->setzeAktion(aktion);
    p->setzeIstInstalliert(installiert);
    p->setzeRev(27000 + jahr % 100);
    return p;
}

const QStringList kStart{ "Gew 2020", "Est 2019", "Est 2021", "Ust 2020", "Abc 2019" };

QStringList reihenfolge(const DlgPluginManagerDatenmodel& m)
{
    QStringList r;
    for (int i = 0; i < m.anzahl(); ++i)
        r << QStringLiteral("%1 %2").arg(m.gibPlugin(i)->gibName()).arg(m.gibPlugin(i)->gibJahr());
    return r;
}

struct Darstellung
{
    bool verfuegbar;
    int status;
    bool neuerZeitraum;
    int aktion;
    QColor farbe;         // invalid: no background
    int spalte2, spalte3; // -1 no box, else Qt::CheckState
};

} // namespace

Q_DECLARE_METATYPE(Darstellung)

class TstDatenmodell : public QObject
{
    Q_OBJECT

    TestLog m_log { "tst_datenmodell" };

private slots:
    // The available list hides installed records, follows istInstalliert() of
    // any record at once, and announces only rows it shows.
    void zeilenUndSpalten()
    {
        TestUmgebung umgebung;
        DlgPluginManagerDatenmodel m(true);
        QSignalSpy eingefuegt(&m, &QAbstractItemModel::rowsInserted);
        m.fuegeHinzu(neu("A", 2019, 0x22, 0, true));
        m.fuegeHinzu(neu("Umsatzsteuererklaerung", 9999, 0x82, 0, false));
        m.fuegeHinzu(neu("C", 2021, 0x22, 0, true));
        m.fuegeHinzu(neu("D", 2021, 0x82, 0, false));
        m.fuegeHinzu(neu("E", 2022, 0x82, 0, false));
        QCOMPARE(eingefuegt.count(), 3);
        QCOMPARE(m.anzahl(), 5);
        QCOMPARE(m.rowCount(), 3);
        QCOMPARE(m.data(m.index(0, 1)).toString(), QStringLiteral("alle"));
        QCOMPARE(m.zeileVonIndex(3), 1);
        QCOMPARE(m.zeileVonIndex(2), -1);
        QVERIFY(!m.data(m.index(3, 0)).isValid());
        QVERIFY(!m.setData(m.index(3, 2), Qt::Checked, Qt::CheckStateRole));
        QCOMPARE(m.gibPlugin(5), nullptr);

        m.gibPlugin(1)->setzeIstInstalliert(true);
        QCOMPARE(m.rowCount(), 2);
        QCOMPARE(m.zeileVonIndex(3), 0);
        QCOMPARE(m.gibPluginInZeile(1), m.gibPlugin(4));
        QSignalSpy zeile(&m, &QAbstractItemModel::dataChanged);
        m.meldeZeilen();
        m.aktualisiereZeile(4);
        QCOMPARE(zeile.count(), 1);
        QCOMPARE(zeile.last().at(0).toModelIndex().row(), 1);
        m.aktualisiereZeile(1); // hidden: nothing to redraw
        QCOMPARE(zeile.count(), 1);

        // Appending and sorting keep the hidden ones hidden.
        m.fuegeHinzu(neu(QStringLiteral("N"), 2030, 0x82));
        QCOMPARE(m.zeileVonIndex(5), 2);
        QCOMPARE(m.gibPluginInZeile(2), m.gibPlugin(5));
        QCOMPARE(m.gibPluginInZeile(3), nullptr);
        m.sort(0, Qt::AscendingOrder);
        QCOMPARE(m.gibPluginInZeile(0)->gibName(), QStringLiteral("D"));
        QCOMPARE(m.zeileVonIndex(2), 0);
    }

    void darstellung_data()
    {
        QTest::addColumn<Darstellung>("d");
        using D = Darstellung;
        // Not the colour table row by row: the rows where a box or a colour is a decision.
        const QColor gelb(255, 255, 153), weiss(Qt::white);
        const int aus = Qt::Unchecked, an = Qt::Checked;
        // An update that cannot be renewed: no box for the update, one for removal.
        QTest::newRow("inst Update ohne Paket") << D{ false, 0x41, false, 0, gelb, -1, aus };
        // A new period does not colour the installed list.
        QTest::newRow("inst erneuerbar, neuer Zeitraum") << D{ false, 0x42, true, 0, gelb, aus, aus };
        QTest::newRow("inst erneuern") << D{ false, 0x42, false, 2, gelb, an, aus };
        QTest::newRow("inst entfernen") << D{ false, 0x42, false, 3, gelb, aus, an };
        QTest::newRow("verf installieren") << D{ true, 0x44, false, 1, weiss, an, -1 };
        QTest::newRow("verf nicht installierbar") << D{ true, 0x81, false, 1, weiss, -1, -1 };
    }
    void darstellung()
    {
        QFETCH(Darstellung, d);
        DlgPluginManagerDatenmodel m(d.verfuegbar);
        Plugin* p = neu("X", 2020, d.status, d.aktion);
        p->setzeNeuerZeitraum(d.neuerZeitraum);
        m.fuegeHinzu(p);
        const QVariant v = m.data(m.index(0, 1), Qt::BackgroundRole);
        QCOMPARE(v.isValid() ? v.value<QColor>() : QColor(), d.farbe);
        const QVariant v2 = m.data(m.index(0, 2), Qt::CheckStateRole);
        const QVariant v3 = m.data(m.index(0, 3), Qt::CheckStateRole);
        QCOMPARE(v2.isValid() ? v2.toInt() : -1, d.spalte2);
        QCOMPARE(v3.isValid() ? v3.toInt() : -1, d.spalte3);
        QVERIFY(!m.data(m.index(0, 0), Qt::CheckStateRole).isValid());
    }

    void umschalten_data()
    {
        QTest::addColumn<bool>("verfuegbar");
        QTest::addColumn<int>("status");
        QTest::addColumn<int>("hauptanwendung"); // action of the main application; -1 none
        QTest::addColumn<QList<int>>("folge");   // action before, then after each tick
        using L = QList<int>;
        QTest::newRow("verf installierbar") << true << 0x82 << -1 << L { 0, 1, 0, 1 };
        QTest::newRow("verf nicht installierbar") << true << 0x22 << -1 << L { 0, 0, 0 };
        // Ticking a renewable module marks it for removal, again for update.
        QTest::newRow("inst erneuerbar") << false << 0x42 << -1 << L { 0, 3, 2, 3 };
        QTest::newRow("inst nicht mehr, ohne Update") << false << 0x81 << 0 << L { 0, 3, 0 };
        QTest::newRow("inst nicht mehr, Hauptanwendung neu") << false << 0x81 << 2 << L { 3, 3, 3 };
        QTest::newRow("inst nicht mehr, keine Hauptanwendung") << false << 0x84 << -1 << L { 3, 0, 3 };
    }
    void umschalten()
    {
        QFETCH(bool, verfuegbar);
        QFETCH(int, status);
        QFETCH(int, hauptanwendung);
        QFETCH(QList<int>, folge);
        DlgPluginManagerDatenmodel m(verfuegbar);
        std::unique_ptr<Plugin> kora;
        if (hauptanwendung >= 0) {
            kora.reset(neu("Fiscalon", 9999, 0x22, hauptanwendung));
            m.setzeHauptanwendung(kora.get());
        }
        m.fuegeHinzu(neu("Vorne", 2019, 0x22));
        Plugin* p = neu("X", 2020, status, folge.first());
        m.fuegeHinzu(p);
        QSignalSpy geaendert(&m, &QAbstractItemModel::dataChanged);
        QSignalSpy aenderung(&m, &DlgPluginManagerDatenmodel::aenderung);
        for (int i = 1; i < folge.size(); ++i) {
            // The value and the column do not matter.
            QVERIFY(m.setData(m.index(1, i % m.columnCount()), Qt::Unchecked, Qt::CheckStateRole));
            QCOMPARE(p->gibAktion(), folge.at(i));
        }
        QCOMPARE(aenderung.count(), folge.size() - 1);
        QCOMPARE(geaendert.count(), folge.size() - 1);
        const QList<QVariant> args = geaendert.last();
        QCOMPARE(args.at(0).toModelIndex(), m.index(1, 0));
        QCOMPARE(args.at(1).toModelIndex(), m.index(1, m.columnCount() - 1));
    }

    void sortieren_data()
    {
        QTest::addColumn<bool>("verfuegbar");
        QTest::addColumn<int>("spalte");
        QTest::addColumn<bool>("aufsteigend");
        QTest::addColumn<QStringList>("erwartet");
        // Start order: see kStart (actions / statuses see sortieren()).
        QTest::newRow("Name auf") << false << 0 << true << QStringList{ "Abc 2019", "Est 2021", "Est 2019", "Gew 2020", "Ust 2020" };
        QTest::newRow("Jahr ab") << false << 1 << false << QStringList{ "Est 2021", "Gew 2020", "Ust 2020", "Abc 2019", "Est 2019" };
        // Tick (aktion 2) last, then boxes: Est 2019 renewable (0x42), others not.
        QTest::newRow("Haken auf") << false << 2 << true << QStringList{ "Gew 2020", "Ust 2020", "Abc 2019", "Est 2019", "Est 2021" };
        // Removal (aktion 3 on Ust 2020) to the end / the front.
        QTest::newRow("entfernen ab") << false << 3 << false << QStringList{ "Ust 2020", "Gew 2020", "Est 2019", "Est 2021", "Abc 2019" };
        // The available list has no removal column: nothing moves, nothing is announced.
        QTest::newRow("verf Spalte 3") << true << 3 << true << kStart;
        // Available: tick = aktion 1 (Est 2021), box = installable (Est 2019: 0x82).
        QTest::newRow("verf Haken auf") << true << 2 << true << QStringList{ "Gew 2020", "Ust 2020", "Abc 2019", "Est 2019", "Est 2021" };
    }
    void sortieren()
    {
        QFETCH(bool, verfuegbar);
        QFETCH(int, spalte);
        QFETCH(bool, aufsteigend);
        QFETCH(QStringList, erwartet);
        const bool gemeldet = erwartet != kStart;
        TestUmgebung umgebung;

        DlgPluginManagerDatenmodel m(verfuegbar);
        const int haken = verfuegbar ? Plugin::INSTALLIEREN : Plugin::ERNEUERN;
        m.fuegeHinzu(neu("Gew", 2020, 0x22));
        m.fuegeHinzu(neu("Est", 2019, verfuegbar ? 0x82 : 0x42));
        m.fuegeHinzu(neu("Est", 2021, verfuegbar ? 0x82 : 0x42, haken));
        m.fuegeHinzu(neu("Ust", 2020, 0x22, verfuegbar ? 0 : Plugin::ENTFERNEN));
        m.fuegeHinzu(neu("Abc", 2019, 0x22));
        QSignalSpy aenderung(&m, &DlgPluginManagerDatenmodel::aenderung);
        QSignalSpy geaendert(&m, &QAbstractItemModel::dataChanged);

        m.sort(spalte, aufsteigend ? Qt::AscendingOrder : Qt::DescendingOrder);
        QCOMPARE(reihenfolge(m), erwartet);
        QCOMPARE(m.istAufsteigend(), aufsteigend);
        QCOMPARE(aenderung.count(), gemeldet ? 1 : 0);
        QCOMPARE(geaendert.count(), gemeldet ? 1 : 0);

        // The choice is remembered in kora.ini for the next start.
        if (verfuegbar) {
            QCOMPARE(Einstellungen::getKoraSortiereVerfuegbareAufsteigend(), aufsteigend);
            QCOMPARE(Einstellungen::getKoraSortiereVerfuegbareNachJahren(), spalte == 1);
        } else {
            QCOMPARE(Einstellungen::getKoraSortiereInstallierteAufsteigend(), aufsteigend);
            QCOMPARE(Einstellungen::getKoraSortiereInstallierteNachJahren(), spalte == 1);
            QCOMPARE(Einstellungen::getKoraSortiereVerfuegbareAufsteigend(), true);
        }

        // Sorting again in the same way exchanges nothing and says nothing.
        m.sort(spalte, aufsteigend ? Qt::AscendingOrder : Qt::DescendingOrder);
        QCOMPARE(reihenfolge(m), erwartet);
        QCOMPARE(aenderung.count(), gemeldet ? 1 : 0);
    }

    void besitz()
    {
        // Records belong to the list, even one that had another parent.
        QPointer<Plugin> a = neu("A", 2019), b = neu("B", 2019);
        {
            DlgPluginManagerDatenmodel m(false);
            QObject fremd;
            b->setParent(&fremd);
            m.fuegeHinzu(a);
            m.fuegeHinzu(b);
            QCOMPARE(b->parent(), nullptr);
        }
        QVERIFY(a.isNull());
        QVERIFY(b.isNull());
    }

    void modellVertrag()
    {
        // Qt's own checks of the model contract while the engine fills, sorts,
        // ticks, hides and empties.
        TestUmgebung umgebung;
        for (bool verfuegbar : { false, true }) {
            DlgPluginManagerDatenmodel m(verfuegbar);
            QAbstractItemModelTester tester(&m, QAbstractItemModelTester::FailureReportingMode::QtTest);
            m.fuegeHinzu(neu("Est", 2019, 0x82));
            m.fuegeHinzu(neu("Gew", 2020, 0x22, 0, true));
            m.fuegeHinzu(neu("Abc", 2021, 0x42));
            m.sort(0, Qt::AscendingOrder);
            m.sort(1, Qt::DescendingOrder);
            QVERIFY(m.setData(m.index(0, 2), Qt::Checked, Qt::CheckStateRole));
            m.gibPlugin(0)->setzeIstInstalliert(!m.gibPlugin(0)->istInstalliert());
            m.meldeZeilen();
            m.aktualisiereZeile(1);
            m.setzeListe({ neu("Neu", 2022) });
            m.leereListe();
            QCOMPARE(m.rowCount(), 0);
        }
    }
};

QTEST_GUILESS_MAIN(TstDatenmodell)
#include "tst_datenmodell.moc"
