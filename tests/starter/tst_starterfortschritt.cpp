// The launcher entry's progress as a dock receives it: a second connection to
// the session bus listens for the signal the platform layer sends.

#include "global/plattform/plattform.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QFileInfo>
#include <QVariantMap>
#include <QtTest>
#include <limits>

class Hoerer : public QObject
{
    Q_OBJECT
public:
    QList<QPair<QString, QVariantMap>> empfangen;
public slots:
    void update(const QString& uri, const QVariantMap& eigenschaften) { empfangen.append({ uri, eigenschaften }); }
};

class TstStarterFortschritt : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        if (!QDBusConnection::sessionBus().isConnected())
            QSKIP("Keine D-Bus-Sitzung (scripts/test startet eine).");
        QDBusConnection hoerer = QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("hoerer"));
        QVERIFY(hoerer.connect(QString(), QString(), QStringLiteral("com.canonical.Unity.LauncherEntry"),
                               QStringLiteral("Update"), &m_hoerer, SLOT(update(QString, QVariantMap))));
        // The signal names the desktop entry that the package installs.
        QVERIFY(QFileInfo::exists(QStringLiteral(IV_QUELLEN "/linux/") + Plattform::desktopEintragId()
                                  + QStringLiteral(".in")));
    }
    void signal_data()
    {
        QTest::addColumn<double>("anteil");
        QTest::addColumn<bool>("sichtbar");
        QTest::addColumn<double>("erwartet"); // negative: nothing sent
        // In this order: each row follows the one before.
        QTest::newRow("halb") << 0.5 << true << 0.5;
        QTest::newRow("keine Zahl") << std::numeric_limits<double>::quiet_NaN() << true << 0.0;
        QTest::newRow("ueber eins") << 1.7 << true << 1.0;
        QTest::newRow("unter einem Prozent mehr") << 0.996 << true << -1.0;
        QTest::newRow("negativ") << -0.2 << true << 0.0;
        QTest::newRow("ausgeblendet") << 0.0 << false << 0.0;
        QTest::newRow("wieder ausgeblendet") << 0.001 << false << -1.0;
    }
    void signal()
    {
        QFETCH(double, anteil);
        QFETCH(bool, sichtbar);
        QFETCH(double, erwartet);
        m_hoerer.empfangen.clear();
        QVERIFY(Plattform::zeigeStarterFortschritt(anteil, sichtbar));
        if (erwartet < 0) {
            // The bus keeps one sender's order: a marker sent behind it on the
            // same connection arrives after anything the call sent.
            QDBusMessage marke = QDBusMessage::createSignal(QStringLiteral("/marke"), QStringLiteral("com.canonical.Unity.LauncherEntry"),
                                                            QStringLiteral("Update"));
            marke << QStringLiteral("marke") << QVariantMap();
            QVERIFY(QDBusConnection::sessionBus().send(marke));
            QTRY_VERIFY_WITH_TIMEOUT(!m_hoerer.empfangen.isEmpty(), 5000);
            QCOMPARE(m_hoerer.empfangen.first().first, QStringLiteral("marke"));
            return;
        }
        QTRY_COMPARE_WITH_TIMEOUT(m_hoerer.empfangen.size(), 1, 5000);
        const auto& e = m_hoerer.empfangen.first();
        QCOMPARE(e.first, QStringLiteral("application://de.fiscalon.installationsverwaltung.desktop"));
        QCOMPARE(e.second.value(QStringLiteral("progress")).toDouble(), erwartet);
        QCOMPARE(e.second.value(QStringLiteral("progress-visible")).toBool(), sichtbar);
    }

private:
    Hoerer m_hoerer;
};

QTEST_GUILESS_MAIN(TstStarterFortschritt)
#include "tst_starterfortschritt.moc"
