// Every button Qt itself puts into a dialog is German once the program has
// loaded ":/lang/translation_de.qm", as main() does.

#include "dialoge/ressourcen.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QPushButton>
#include <QTranslator>
#include <QtTest>

namespace {

QString knopfText(QDialogButtonBox::StandardButton knopf)
{
    QDialogButtonBox box(knopf);
    return box.button(knopf)->text();
}

const QDialogButtonBox::StandardButton kAlle[] = {
    QDialogButtonBox::Ok,       QDialogButtonBox::Save,     QDialogButtonBox::SaveAll, QDialogButtonBox::Open,
    QDialogButtonBox::Yes,      QDialogButtonBox::YesToAll, QDialogButtonBox::No,      QDialogButtonBox::NoToAll,
    QDialogButtonBox::Abort,    QDialogButtonBox::Retry,    QDialogButtonBox::Ignore,  QDialogButtonBox::Close,
    QDialogButtonBox::Cancel,   QDialogButtonBox::Discard,  QDialogButtonBox::Help,    QDialogButtonBox::Apply,
    QDialogButtonBox::Reset,    QDialogButtonBox::RestoreDefaults,
};

} // namespace

class TstQtDeutsch : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        for (auto k : kAlle)
            m_englisch.insert(k, knopfText(k));
        initDialogRessourcen();
        QVERIFY(m_uebersetzer.load(QStringLiteral(":/lang/translation_de.qm")));
        QVERIFY(QCoreApplication::installTranslator(&m_uebersetzer));
    }
    void knoepfe()
    {
        for (auto k : kAlle) // "OK" is German too
            QVERIFY2(k == QDialogButtonBox::Ok || knopfText(k) != m_englisch.value(k), qPrintable(m_englisch.value(k)));
        QCOMPARE(knopfText(QDialogButtonBox::Yes), QStringLiteral("&Ja"));
        QCOMPARE(knopfText(QDialogButtonBox::No), QStringLiteral("&Nein"));
        QCOMPARE(knopfText(QDialogButtonBox::Cancel), QStringLiteral("Abbrechen"));
    }
private:
    QMap<int, QString> m_englisch;
    QTranslator m_uebersetzer;
};

QTEST_MAIN(TstQtDeutsch)
#include "tst_qtdeutsch.moc"
