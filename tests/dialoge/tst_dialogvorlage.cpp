// The message dialog as a user meets it: its buttons by kind, its size, its
// cursor, its result, the "do not show again" box and the help key.

#include "dialoge/dialogvorlage.h"
#include "dialoge/icons.h"
#include "dialoge/ressourcen.h"
#include "testhilfe/testumgebung.h"

#include <QApplication>
#include <QCheckBox>
#include <QPushButton>
#include <QSettings>
#include <QSignalSpy>
#include <QTimer>
#include <QtTest>
#include <functional>

namespace {

// Runs `pruefe` on the modal dialog once it is open, then presses a button.
void beimOeffnen(std::function<void(DialogVorlage*)> pruefe, bool annehmen)
{
    auto* zeitgeber = new QTimer;
    zeitgeber->setInterval(20);
    QObject::connect(zeitgeber, &QTimer::timeout, [=] {
        auto* dlg = qobject_cast<DialogVorlage*>(QApplication::activeModalWidget());
        if (!dlg)
            return;
        zeitgeber->stop();
        zeitgeber->deleteLater();
        pruefe(dlg);
        QTest::mouseClick(annehmen ? dlg->gibOkKnopf() : dlg->gibAbbrechenKnopf(), Qt::LeftButton);
    });
    zeitgeber->start();
}

} // namespace

class TstDialogVorlage : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { initDialogRessourcen(); }
    void knoepfeNachArt_data();
    void knoepfeNachArt();
    void groesse_data();
    void groesse();
    void abschaltbar();
    void hilfeTaste();
    void fehlendesIcon();
};

void TstDialogVorlage::knoepfeNachArt_data()
{
    QTest::addColumn<int>("art");
    QTest::addColumn<QString>("knopf1");
    QTest::addColumn<QString>("knopf2");
    QTest::addColumn<bool>("annehmen");
    QTest::addColumn<QString>("text1");
    QTest::addColumn<QString>("text2");
    // Only the question has buttons of its own; the other kinds differ in the icon alone.
    QTest::newRow("Warnung") << 2 << "" << "" << true << "OK" << "Abbrechen";
    QTest::newRow("Frage nein") << 4 << "" << "" << false << "Ja" << "Nein";
    QTest::newRow("eigene Texte") << 4 << "Weiter" << "Zur\u00fcck" << true << "Weiter" << "Zur\u00fcck";
    QTest::newRow("nur erster eigener") << 1 << "Schlie\u00dfen" << "" << true << "Schlie\u00dfen" << "Abbrechen";
}

void TstDialogVorlage::knoepfeNachArt()
{
    QFETCH(int, art);
    QFETCH(QString, knopf1);
    QFETCH(QString, knopf2);
    QFETCH(bool, annehmen);
    QFETCH(QString, text1);
    QFETCH(QString, text2);
    bool geprueft = false;
    beimOeffnen(
        [&](DialogVorlage* dlg) {
            QCOMPARE(dlg->windowTitle(), QStringLiteral("Titel"));
            QCOMPARE(dlg->gibOkKnopf()->text(), text1);
            QCOMPARE(dlg->gibAbbrechenKnopf()->text(), text2);
            QVERIFY(!dlg->gibAbbrechenKnopf()->icon().isNull()); // every cancelling button looks the same
            QVERIFY(dlg->gibInhalt().contains(QStringLiteral("fett")));
            // The arrow, even while the caller shows a wait cursor.
            QCOMPARE(QApplication::overrideCursor()->shape(), Qt::ArrowCursor);
            geprueft = true;
        },
        annehmen);
    QApplication::setOverrideCursor(Qt::WaitCursor);
    const int ergebnis = DialogVorlage::zeigeMeldung(QStringLiteral("Titel"), QStringLiteral("<b>fett</b> und mehr"), art,
                                                     0, 0, knopf1, knopf2);
    QCOMPARE(QApplication::overrideCursor()->shape(), Qt::WaitCursor);
    QApplication::restoreOverrideCursor();
    QVERIFY(geprueft);
    QCOMPARE(ergebnis, annehmen ? 1 : 0);
}

void TstDialogVorlage::groesse_data()
{
    QTest::addColumn<int>("breite");
    QTest::addColumn<int>("hoehe");
    QTest::addColumn<bool>("mindestens");
    QTest::newRow("0 x 0: natuerlich") << 0 << 0 << false;
    QTest::newRow("nur Breite: natuerlich") << 900 << 0 << false;
    QTest::newRow("420 x 250") << 420 << 250 << true;
}

void TstDialogVorlage::groesse()
{
    QFETCH(int, breite);
    QFETCH(int, hoehe);
    QFETCH(bool, mindestens);
    QSize gesehen;
    beimOeffnen([&](DialogVorlage* dlg) { gesehen = dlg->size(); }, true);
    DialogVorlage::zeigeMeldung(QStringLiteral("T"), QStringLiteral("Kurz."), 1, breite, hoehe);
    QVERIFY(gesehen.isValid());
    if (mindestens) {
        QVERIFY2(gesehen.width() >= breite && gesehen.height() >= hoehe, qPrintable(QStringLiteral("%1x%2").arg(gesehen.width()).arg(gesehen.height())));
    } else {
        QVERIFY(gesehen.width() < 900);
        QVERIFY(gesehen.height() < 400);
    }
}

void TstDialogVorlage::abschaltbar()
{
    TestUmgebung umgebung;
    const QString ini = umgebung.pfad() + QStringLiteral("/kora.ini");
    const QString schluessel = QStringLiteral("dialoge/hinweisX");

    // Shown, not ticked: nothing written.
    beimOeffnen([](DialogVorlage* dlg) { QVERIFY(dlg->findChild<QCheckBox*>(QStringLiteral("ckbNichtMehrAnzeigen"))->isVisible()); }, false);
    QCOMPARE(DialogVorlage::zeigeMeldungAbschaltbar(QStringLiteral("T"), QStringLiteral("x"), 2, 0, 0, {}, {}, ini, schluessel), 0);
    QVERIFY(!QSettings(ini, QSettings::IniFormat).contains(schluessel));

    // Ticked: written true, and the next call shows nothing and counts as accepted.
    beimOeffnen([](DialogVorlage* dlg) { dlg->findChild<QCheckBox*>(QStringLiteral("ckbNichtMehrAnzeigen"))->setChecked(true); }, true);
    QCOMPARE(DialogVorlage::zeigeMeldungAbschaltbar(QStringLiteral("T"), QStringLiteral("x"), 2, 0, 0, {}, {}, ini, schluessel), 1);
    QCOMPARE(QSettings(ini, QSettings::IniFormat).value(schluessel).toBool(), true);
    QCOMPARE(DialogVorlage::zeigeMeldungAbschaltbar(QStringLiteral("T"), QStringLiteral("x"), 2, 0, 0, {}, {}, ini, schluessel), 1);
    QVERIFY(!QApplication::activeModalWidget());
}

void TstDialogVorlage::hilfeTaste()
{
    DialogVorlage dlg;
    dlg.setzeHilfeThema(QStringLiteral("berechtigung"));
    QSignalSpy hilfe(&dlg, &DialogVorlage::signalF1Hilfe);
    dlg.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dlg));
    QTest::keyClick(&dlg, Qt::Key_F1);
    QTest::mouseClick(dlg.gibHilfeKnopf(), Qt::LeftButton);
    QCOMPARE(hilfe.count(), 2);
    QCOMPARE(hilfe.at(0).at(0).toString(), QStringLiteral("berechtigung"));
    QVERIFY(dlg.isVisible()); // help does not close the dialog
}

void TstDialogVorlage::fehlendesIcon()
{
    QTest::ignoreMessage(QtWarningMsg, "Die Ressourcen-Datei :/iconSvg/gibtEsNicht.svg existiert nicht!");
    const QIcon icon = Icons::gibIcon(QStringLiteral("gibtEsNicht"));
    QVERIFY(!icon.isNull());
    QVERIFY(!icon.pixmap(16).isNull());
    QVERIFY(Icons::gibHtmlBild(QStringLiteral("frage"), 16, 16, QStringLiteral("t"))
                .startsWith(QStringLiteral("<img src=\"data:image/png;base64,")));
}

QTEST_MAIN(TstDialogVorlage)
#include "tst_dialogvorlage.moc"
