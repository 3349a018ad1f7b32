// The ini files: where they lie, defaults, immediate writes, lenient readers.
// A file that cannot be written is the settings dialog's and the server tests' part.

#include "global/varnelApplication/einstellungen.h"
#include "testhilfe/pruefhilfe.h"
#include "testhilfe/testumgebung.h"

#include <QSettings>
#include <QtTest>
#include <functional>

using Leser = std::function<QVariant()>;
using Schreiber = std::function<void()>;
Q_DECLARE_METATYPE(Leser)
Q_DECLARE_METATYPE(Schreiber)

class TstEinstellungen : public QObject
{
    Q_OBJECT
    TestLog m_log { "tst_einstellungen" };
private slots:
    void pfade()
    {
        TestUmgebung umgebung;
        const QString user = umgebung.home() + QStringLiteral("/.config/fiscalon/kora/");
        QCOMPARE(Einstellungen::gibTavoIniPfad(), umgebung.wurzel() + QStringLiteral("/etc/xdg/fiscalon/kora/tavo.ini"));
        QCOMPARE(Einstellungen::gibDirUser(), user);
        QCOMPARE(Einstellungen::gibDirUserBasis(), umgebung.home() + QStringLiteral("/.config/fiscalon/"));
        QCOMPARE(Einstellungen::gibKoraIniPfad(), user + QStringLiteral("ini/kora.ini"));
        QCOMPARE(Einstellungen::gibKoraIniPfad(QStringLiteral("/x/u")), QStringLiteral("/x/u/ini/kora.ini"));
        QCOMPARE(Einstellungen::gibKoraIniPfad(QStringLiteral("/x/u/")), QStringLiteral("/x/u/ini/kora.ini"));
        QCOMPARE(Einstellungen::gibDirTmp(), user + QStringLiteral("tmp/"));
        QVERIFY(QFileInfo(user + QStringLiteral("tmp")).isDir());
        QCOMPARE(Einstellungen::gibDirLog(umgebung.pfad() + QStringLiteral("/u")), umgebung.pfad() + QStringLiteral("/u/log/"));

        // The given user directory decides which kora.ini is read.
        const QString anderes = umgebung.pfad() + QStringLiteral("/anderer");
        Einstellungen::setKoraAnsichtEinfach(false, anderes);
        QCOMPARE(Einstellungen::getKoraAnsichtEinfach(anderes), false);
        QCOMPARE(Einstellungen::getKoraAnsichtEinfach(), true);
    }
    void schreibenSofortInDieDatei_data()
    {
        QTest::addColumn<Schreiber>("schreiber");
        QTest::addColumn<bool>("tavo");
        QTest::addColumn<QByteArray>("erwartet");
        QTest::addColumn<Leser>("leser");
        QTest::addColumn<QVariant>("gelesen");
        using E = Einstellungen;
        const QDateTime wann(QDate(2026, 3, 4), QTime(5, 6, 7));
        auto zeile = [](const char* name, Schreiber s, bool tavo, const char* text, Leser l, const QVariant& v) {
            QTest::newRow(name) << s << tavo << QByteArray(text) << l << v;
        };
        zeile("LastUpdate", [=] { E::setAdminLastUpdate(wann); }, true, "LastUpdate=04.03.2026 05:06:07",
              [] { return E::getAdminLastUpdate(); }, wann);
        zeile("ErrorShortText in Anfuehrungszeichen", [] { E::setAdminErrorShortText(QStringLiteral("kein Server")); },
              true, "ErrorShortText=\\\"kein Server\\\"", [] { return E::getAdminErrorShortText(); },
              QStringLiteral("kein Server"));
        zeile("SilentDownload kora", [] { E::setKoraSilentDownload(true); }, false, "SilentDownload=true",
              [] { return E::getKoraSilentDownload(); }, QStringLiteral("true"));
    }
    void schreibenSofortInDieDatei()
    {
        QFETCH(Schreiber, schreiber);
        QFETCH(bool, tavo);
        QFETCH(QByteArray, erwartet);
        QFETCH(Leser, leser);
        QFETCH(QVariant, gelesen);
        TestUmgebung umgebung;
        schreiber();
        // No settings object of ours is alive any more: the text must be on disk.
        const QByteArray datei = TestUmgebung::leseDatei(tavo ? Einstellungen::gibTavoIniPfad() : Einstellungen::gibKoraIniPfad());
        QVERIFY2(datei.contains(erwartet), datei.constData());
        QCOMPARE(leser(), gelesen);
    }
    // Not the defaults one by one (that would copy the accessor table): the
    // interval of each file, from numbers, text, and an unreadable file.
    void intervalle_data()
    {
        QTest::addColumn<QByteArray>("tavo");
        QTest::addColumn<QByteArray>("kora");
        QTest::addColumn<int>("admin");
        QTest::addColumn<int>("anwender");
        QTest::addColumn<bool>("fehlerzeile");
        const auto ini = [](const char* wert) { return "[UPDATE]\nAutoUpdate=" + QByteArray(wert) + "\n"; };
        QTest::newRow("fehlt") << QByteArray() << QByteArray() << -1 << 1 << false;
        QTest::newRow("Zahlen") << ini("7") << ini("0") << 7 << 0 << false;
        QTest::newRow("abc") << ini("abc") << ini("abc") << -1 << 1 << true;
        QTest::newRow("leer") << ini("\"\"") << ini("\"\"") << -1 << 1 << true;
        QTest::newRow("unlesbar") << QByteArray("\x00\xff[[[=\n\x01", 9) << QByteArray("[UPDATE\nAutoUpdate") << -1 << 1 << false;
    }
    void intervalle()
    {
        QFETCH(QByteArray, tavo);
        QFETCH(QByteArray, kora);
        QFETCH(int, admin);
        QFETCH(int, anwender);
        QFETCH(bool, fehlerzeile);
        TestUmgebung umgebung;
        if (!tavo.isNull())
            TestUmgebung::schreibeDatei(Einstellungen::gibTavoIniPfad(), tavo);
        if (!kora.isNull())
            TestUmgebung::schreibeDatei(Einstellungen::gibKoraIniPfad(), kora);
        const LogAusschnitt log;
        for (int i = 0; fehlerzeile && i < 2; ++i)
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("konnte nicht in eine Zahl")));
        QCOMPARE(Einstellungen::getAdminUpdateAutoInterval(), admin);
        QCOMPARE(Einstellungen::getKoraUpdateAutoInterval(), anwender);
        QCOMPARE(log.text().count(QStringLiteral("ERROR [")), fehlerzeile ? 2 : 0);
        if (fehlerzeile)
            QVERIFY(log.enthaelt(QStringLiteral("Der Wert \"UPDATE/AutoUpdate\" konnte nicht in eine Zahl umgewandelt werden. "
                                                "Es wird mit der Vorbelegung gearbeitet.")));
    }
    void silentDownload_data()
    {
        QTest::addColumn<QString>("tavo");
        QTest::addColumn<QString>("kora");
        QTest::addColumn<bool>("wert");
        QTest::addColumn<bool>("bekannt");
        QTest::newRow("nichts") << QString() << QString() << false << false;
        QTest::newRow("kora true") << QString() << "true" << true << true;
        QTest::newRow("kora false") << QString() << "false" << false << true;
        QTest::newRow("tavo schlaegt kora") << "true" << "false" << true << true;
        QTest::newRow("tavo false schlaegt kora") << "false" << "true" << false << true;
        QTest::newRow("ja zaehlt nicht") << "ja" << "ja" << false << false;
        QTest::newRow("tavo unbekannt geht vor") << "TRUE" << "true" << false << false;
    }
    void silentDownload()
    {
        QFETCH(QString, tavo);
        QFETCH(QString, kora);
        QFETCH(bool, wert);
        QFETCH(bool, bekannt);
        TestUmgebung umgebung;
        if (!tavo.isNull())
            Einstellungen::setAdminWert(QStringLiteral("UPDATE/SilentDownload"), tavo);
        if (!kora.isNull())
            Einstellungen::setKoraWert(QStringLiteral("UPDATE/SilentDownload"), kora);
        bool istBekannt = false;
        QCOMPARE(Einstellungen::getSilentDownload(istBekannt), wert);
        QCOMPARE(istBekannt, bekannt);
    }
};

QTEST_GUILESS_MAIN(TstEinstellungen)
#include "tst_einstellungen.moc"
