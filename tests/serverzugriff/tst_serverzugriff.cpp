// The engine's server side against a real nginx over TLS: the redirect file
// and its signature, the status codes and error texts the main application
// reads, the index archives with their signatures, and the index parser's
// rules for broken entries.

#include "global/archiv/ziparchiv.h"
#include "global/varnelApplication/einstellungen.h"
#include "kryptotesthilfe.h"
#include "pluginManager/dlgPluginManagerDatenmodel.h"
#include "pluginManager/plugin.h"
#include "pluginManager/pluginManager.h"
#include "pluginManager/startwerte.h"
#include "testhilfe/testserver.h"
#include "testhilfe/testumgebung.h"

#include <QtTest>
#include <memory>

namespace {

const QString kBasis = QStringLiteral("download/pm/win_18_0/");

QString xmlModul(const QString& name, const QString& kurz, const QString& attribute, const QString& technr,
                 const QString& rest = QString())
{
    return QStringLiteral("<Plugin Name=\"%1\" Kurzname=\"%2\" %3>%4%5</Plugin>").arg(name, kurz, attribute, technr, rest);
}

QString standardTechNr(int alle = 1, int gr = 2, int plugin = 3)
{
    return QStringLiteral("<TechNr NrAlle=\"%1\" NrGr=\"%2\" NrPlugin=\"%3\"><Version>x</Version>"
                          "<Daten><Datei Typ=\"bin\" Pfad=\"bin/a.dll\"/></Daten></TechNr>")
        .arg(alle).arg(gr).arg(plugin);
}

QString standardAttribute(const QString& interfaceNr = QStringLiteral("4"))
{
    return QStringLiteral("Rev=\"27289\" InterfaceNr=\"%1\" UnterfallArt=\"10\" Version=\"2.1\"").arg(interfaceNr);
}

QString zipTag(const QString& name = QStringLiteral("modul.zip"), const QString& size = QStringLiteral("1234"))
{
    return QStringLiteral("<Zip Silent=\"/S\" Size=\"%1\" MD5=\"abc\" UnzipFileSize=\"99\"> %2 </Zip>").arg(size, name);
}

QString dokument(const QString& builds)
{
    return QStringLiteral("<?xml version=\"1.0\"?><Inhalt Version=\"3\">%1</Inhalt>").arg(builds);
}

QString build(const QString& vzs) { return QStringLiteral("<Build>%1</Build>").arg(vzs); }
QString vz(const QString& jahr, const QString& plugins)
{
    return jahr.isNull() ? QStringLiteral("<VZ>%1</VZ>").arg(plugins) : QStringLiteral("<VZ Jahr=\"%1\">%2</VZ>").arg(jahr, plugins);
}

} // namespace

namespace {
// The consent rules have their own test; here the user has agreed.
class ManagerMitZustimmung : public PluginManager
{
public:
    bool istInternetzugriffErlaubt() override { return true; }
};
} // namespace

class TstServerzugriff : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase()
    {
        m_umgebung = std::make_unique<TestUmgebung>();
        QVERIFY(m_schluessel.erzeuge(m_umgebung->pfad() + QStringLiteral("/schluessel")));
        m_schluessel.aktiviere();
        m_zert = std::make_unique<TestZertifikate>(m_umgebung->pfad() + QStringLiteral("/zert"));
        QVERIFY2(m_zert->istGueltig(), qPrintable(m_zert->fehler()));
        m_www = m_umgebung->pfad() + QStringLiteral("/www");
        QDir().mkpath(m_www + QLatin1Char('/') + kBasis);
        NginxOptionen o;
        o.dokumente = m_www;
        o.zertifikat = m_zert->zertifikat(QStringLiteral("selbst"));
        o.schluessel = m_zert->schluessel(QStringLiteral("selbst"));
        m_nginx = std::make_unique<NginxServer>(m_umgebung->pfad() + QStringLiteral("/nginx"), o);
        QVERIFY2(m_nginx->laeuft(), qPrintable(m_nginx->fehler()));
    }
    void cleanupTestCase()
    {
        m_nginx.reset();
        Crypto::setzeQuellen(QString(), QString());
    }
    void init()
    {
        setzeStartwerteZurueck();
        // The manager's home lies beside the user's "kora" folder.
        gs_DirUserKora = m_umgebung->pfad() + QStringLiteral("/benutzer/kora");
        QDir(PluginManager::gibDirPmHome()).removeRecursively();
        QFile::remove(Einstellungen::gibTavoIniPfad());
        Einstellungen::setAdminWert(QStringLiteral("UPDATE/QSTestServerUrl"), QStringLiteral("127.0.0.1:%1").arg(m_nginx->port()));
        initLogBase(QStringLiteral("t"), 200000, m_umgebung->pfad() + QStringLiteral("/log-") + QString::fromLatin1(QTest::currentTestFunction()));
        m_log = gp_Log->gibDateiname();
    }
    void cleanup() { beendeLogBase(); }

    void redirectNamen_data()
    {
        QTest::addColumn<QString>("qsUrl");
        QTest::addColumn<QString>("revision");
        QTest::addColumn<QString>("url");
        QTest::addColumn<QString>("sigName");
        const QString prod = PluginManager::gibBasisUrlProduktion();
        QTest::newRow("Produktion") << QString() << QString() << prod + "userredirect" << "userredirect_v2.sig";
        QTest::newRow("QS") << "qs.example:8443" << QString() << "https://qs.example:8443/download/pm/win_18_0/qsredirect"
                            << "qsredirect_v2.sig";
        QTest::newRow("QS mit Revision") << "qs.example" << "19290" << "https://qs.example/download/pm/win_18_0/qsredirect_19290"
                                         << "qsredirect_19290_v2.sig";
        QTest::newRow("akamai") << "Akamai-Test" << QString() << prod + "qsredirect" << "qsredirect_v2.sig";
    }
    void redirectNamen()
    {
        QFETCH(QString, qsUrl);
        QFETCH(QString, revision);
        QFETCH(QString, url);
        QFETCH(QString, sigName);
        Einstellungen::setAdminWert(QStringLiteral("UPDATE/QSTestServerUrl"), qsUrl);
        Einstellungen::setAdminWert(QStringLiteral("UPDATE/QSTestServerUrl_Rev"), revision);
        auto pm = neuerManager();
        QVERIFY(pm->initDownloadManager());
        QCOMPARE(pm->istQsTestServer(), !qsUrl.isEmpty());
        QString u, s, n, sn;
        pm->gibRedirectDateien(u, s, n, sn);
        QCOMPARE(u, url);
        QCOMPARE(sn, sigName);
        QCOMPARE(s, url.left(url.lastIndexOf(QLatin1Char('/')) + 1) + sigName);
    }
    void serverVerzeichnis_data()
    {
        QTest::addColumn<QByteArray>("inhalt");
        QTest::addColumn<int>("signatur"); // 0 fehlt, 1 gueltig, 2 falsch
        QTest::addColumn<bool>("redirectDa");
        QTest::addColumn<int>("ergebnis");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("verzeichnis");
        QTest::newRow("gueltig") << QByteArray("cmVsZWFzZS0x") << 1 << true << 0 << 0 << "release-1";
        QTest::newRow("Redirect fehlt") << QByteArray() << 0 << false << -1 << 2 << "";
        QTest::newRow("Signatur fehlt") << QByteArray("cmVsZWFzZS0x") << 0 << true << -1 << 3 << "";
        QTest::newRow("Signatur falsch") << QByteArray("cmVsZWFzZS0x") << 2 << true << -1 << 4 << "";
        QTest::newRow("kein Base64") << QByteArray("%%%%") << 1 << true << 0 << 5 << "";
        QTest::newRow("leer") << QByteArray() << 1 << true << 0 << 5 << "";
        QTest::newRow("Umlaut als ISO 8859-15") << QByteArray("cmVs5HNl") << 1 << true << 0 << 0 << "rel\u00e4se";
    }
    void serverVerzeichnis()
    {
        QFETCH(QByteArray, inhalt);
        QFETCH(int, signatur);
        QFETCH(bool, redirectDa);
        QFETCH(int, ergebnis);
        QFETCH(int, status);
        QFETCH(QString, verzeichnis);
        const QString name = QStringLiteral("qsredirect");
        const QString pfad = m_www + QLatin1Char('/') + kBasis + name;
        QFile::remove(pfad);
        QFile::remove(pfad + QStringLiteral("_v2.sig"));
        if (redirectDa)
            schreibeRedirect(name, inhalt, signatur != 0);
        if (signatur == 2) // signed, then changed
            KryptoTest::schreibe(pfad, inhalt + "\n\n");
        const int vorher = zugriffe(QStringLiteral("/") + name + QStringLiteral("|"));
        auto pm = neuerManager();
        QCOMPARE(pm->setzeServerVerzeichnis(), ergebnis);
        QCOMPARE(pm->gibServerStatus(), status);
        QCOMPARE(pm->gibServerVerzeichnis(), verzeichnis);
        // Three attempts when the file is missing, one otherwise.
        QCOMPARE(zugriffe(QStringLiteral("/") + name + QStringLiteral("|")) - vorher, redirectDa ? 1 : 3);
        // Nothing of the redirect stays behind.
        QCOMPARE(QDir(PluginManager::gibDirDaten()).entryList(QDir::Files), QStringList());
        // Without a release folder the index is not even asked for.
        if (status != 0) {
            const int index = zugriffe(QStringLiteral("inhalt_downloadverzeichnis"));
            QVERIFY(!pm->holeServerInhaltsdatei());
            QCOMPARE(zugriffe(QStringLiteral("inhalt_downloadverzeichnis")), index);
        }
    }
    void unerreichbarerServer()
    {
        const quint16 tot = 1; // nobody listens on port 1
        Einstellungen::setAdminWert(QStringLiteral("UPDATE/QSTestServerUrl"), QStringLiteral("127.0.0.1:%1").arg(tot));
        const QDateTime vorher = QDateTime::currentDateTime().addSecs(-1);
        auto pm = neuerManager();
        QCOMPARE(pm->setzeServerVerzeichnis(), 2);
        QCOMPARE(pm->gibServerStatus(), 1);
        QCOMPARE(Einstellungen::getAdminErrorShortText(), QStringLiteral("Die Verbindung zu dem Update-Server konnte nicht aufgebaut werden."));
        QVERIFY(Einstellungen::getAdminErrorLongText().startsWith(
            QStringLiteral("Die Verbindung zu dem Update-Server konnte nicht aufgebaut werden. Ursache: ")));
        QVERIFY(Einstellungen::getAdminErrorLongText().size() > 80);
        // The index is not even asked for, but the time of the attempt is kept.
        QVERIFY(!pm->holeServerInhaltsdatei());
        QVERIFY(!Einstellungen::getAdminLastUpdate().isValid());
        pm.reset();

        // A failed fetch of the index still records when it was tried.
        Einstellungen::setAdminWert(QStringLiteral("UPDATE/QSTestServerUrl"), QStringLiteral("127.0.0.1:%1").arg(m_nginx->port()));
        schreibeRedirect(QStringLiteral("qsredirect"), "ZmVobHQ=");
        pm = neuerManager();
        QCOMPARE(pm->setzeServerVerzeichnis(), 0);
        QVERIFY(!pm->holeServerInhaltsdatei());
        QCOMPARE(pm->gibServerStatus(), 6);
        QVERIFY(Einstellungen::getAdminLastUpdate() >= vorher.addSecs(-1));
    }
    void indexUndKopie()
    {
        const QString ordner = m_www + QLatin1Char('/') + kBasis + QStringLiteral("rel-a");
        schreibeIndex(ordner, false,
                      dokument(build(vz(QStringLiteral("2021"), xmlModul(QStringLiteral("ESt"), QStringLiteral("est"), standardAttribute(), standardTechNr(), zipTag()))
                                     + vz(QStringLiteral("2022"), xmlModul(QStringLiteral("Fiscalon"), QStringLiteral("kora"), standardAttribute(), standardTechNr(), zipTag(QStringLiteral("kora.zip")))))));
        for (const QByteArray& dir : { QByteArray("rel-a"), QByteArray("rel-a/") }) {
            schreibeRedirect(QStringLiteral("qsredirect"), dir.toBase64());
            auto pm = neuerManager();
            QCOMPARE(pm->setzeServerVerzeichnis(), 0);
            pm->loescheIndexDateiServer();
            const int vorher = zugriffe(QStringLiteral("/download/pm/win_18_0/rel-a/inhalt_downloadverzeichnis.zip|"));
            QVERIFY(pm->holeServerInhaltsdatei());
            // With and without the trailing "/" the same address, never "//".
            QCOMPARE(zugriffe(QStringLiteral("/download/pm/win_18_0/rel-a/inhalt_downloadverzeichnis.zip|")), vorher + 1);
            QVERIFY(pm->leseServerInhaltsdatei());
            QCOMPARE(pm->gibDatenmodelVerfuegbar()->anzahl(), 1);
            QVERIFY(pm->gibPluginKoraVerfuegbar());
            QCOMPARE(pm->gibPluginKoraVerfuegbar()->gibJahr(), 2022u);
            if (dir == "rel-a") {
                // First start: no copy yet, and no log line about it.
                QVERIFY(!pm->istServerInhaltUnveraendert());
                QVERIFY(pm->kopiereIndexDateiServer());
            } else {
                QVERIFY(pm->istServerInhaltUnveraendert());
            }
        }
        // A changed index on the server is seen as changed.
        schreibeIndex(ordner, false, dokument(build(vz(QStringLiteral("2023"), QString()))));
        auto pm = neuerManager();
        QCOMPARE(pm->setzeServerVerzeichnis(), 0);
        QVERIFY(pm->holeServerInhaltsdatei());
        QVERIFY(!pm->istServerInhaltUnveraendert());
        QVERIFY(!KryptoTest::lese(m_log).contains("konnte nicht ge\xc3\xb6" "ffnet werden"));
    }
    void indexMitFalscherSignatur()
    {
        const QString ordner = m_www + QLatin1Char('/') + kBasis + QStringLiteral("rel-b");
        schreibeIndex(ordner, false, dokument(build(vz(QStringLiteral("2021"), xmlModul(QStringLiteral("ESt"), QStringLiteral("est"), standardAttribute(), standardTechNr(), zipTag())))));
        // Replaced after signing: a valid archive, but not the publisher's.
        const QString anderes = m_umgebung->pfad() + QStringLiteral("/anders.xml");
        KryptoTest::schreibe(anderes, dokument(build(vz(QStringLiteral("2099"), QString()))).toUtf8());
        QVERIFY(ZipArchiv::erstelle(ordner + QStringLiteral("/inhalt_downloadverzeichnis.zip"),
                                    { { anderes, QStringLiteral("inhalt_downloadverzeichnis.xml") } }));
        schreibeRedirect(QStringLiteral("qsredirect"), QByteArray("rel-b").toBase64());
        auto pm = neuerManager();
        QCOMPARE(pm->setzeServerVerzeichnis(), 0);
        QVERIFY(pm->holeServerInhaltsdatei());
        QVERIFY(!pm->leseServerInhaltsdatei());
        QCOMPARE(pm->gibServerStatus(), 7);
        QCOMPARE(pm->gibDatenmodelVerfuegbar()->anzahl(), 0);
        QCOMPARE(Einstellungen::getAdminErrorShortText(), QStringLiteral("Die Informationsdatei konnte nicht ausgewertet werden."));
        QVERIFY(Einstellungen::getAdminErrorLongText().contains(QStringLiteral("Signatur")));

        // The texts for the main application cannot be stored: the failure still
        // stands and the log names the setting that was lost.
        const QString tavo = Einstellungen::gibTavoIniPfad();
        QVERIFY(QFile::remove(tavo) && QDir().mkpath(tavo));
        QVERIFY(!pm->leseServerInhaltsdatei());
        QCOMPARE(pm->gibServerStatus(), 7);
        QVERIFY(QDir(tavo).removeRecursively());
        // One line says which file and which settings are lost.
        QVERIFY(KryptoTest::lese(m_log).contains("kann nicht geschrieben werden"));
        QVERIFY(KryptoTest::lese(m_log).contains("Einstellungen wie UPDATE/Error"));
    }
    void parser_data()
    {
        QTest::addColumn<QString>("xml");
        QTest::addColumn<QString>("eintrag");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<QStringList>("module");  // Kurzname:Jahr:InterfaceNr:Size
        QTest::addColumn<QStringList>("logZeilen");
        const QString gut = xmlModul(QStringLiteral("Einkommensteuer"), QStringLiteral("est"), standardAttribute(), standardTechNr(), zipTag());

        QTest::newRow("ein Modul") << dokument(build(vz("2021", gut))) << QString() << true << QStringList{ "est:2021:4:1234" } << QStringList();
        QTest::newRow("Eintrag in anderer Schreibung") << dokument(build(vz("2021", gut))) << "Inhalt_Downloadverzeichnis.xml" << false
                                                        << QStringList() << QStringList{ "Das Parsen der Datei \"inhalt_downloadverzeichnis.xml\" konnte nicht durchgef\u00fchrt werden." };
        QTest::newRow("kaputtes XML") << QStringLiteral("<Inhalt><Build>") << QString() << false << QStringList()
                                      << QStringList{ "Fehler in Zeile 1" };
        QTest::newRow("kein Build") << QStringLiteral("<Inhalt/>") << QString() << false << QStringList() << QStringList();
        QTest::newRow("InterfaceNr abc") << dokument(build(vz("2021", xmlModul("ESt", "est", standardAttribute("abc"), standardTechNr(), zipTag()))))
                                         << QString() << true << QStringList{ "est:2021:0:1234" }
                                         << QStringList{ "kann die Eigenschaft InterfaceNr (Text= abc) nicht in eine Zahl konvertiert werden." };
        QTest::newRow("NrGr leer, das naechste zaehlt")
            << dokument(build(vz("2021", xmlModul("ESt", "est", standardAttribute(), "<TechNr NrAlle=\"1\" NrGr=\"\" NrPlugin=\"3\"/>", zipTag())
                                          + xmlModul("GewSt", "gewst", standardAttribute(), standardTechNr(), zipTag()))))
            << QString() << true << QStringList{ "gewst:2021:4:1234" } << QStringList{ "Bei dem Steuererkl\u00e4rungsmodul ESt 2021 fehlt die Eigenschaft NrGr" };
        QTest::newRow("VZ ohne Eigenschaften")
            << dokument(build(vz("2020", gut)) + build(vz("2021", gut) + vz(QString(), gut)))
            << QString() << true << QStringList{ "est:2020:4:1234", "est:2021:4:1234" }
            << QStringList{ "Bei dem VZ (Nr = 1) des Build (Nr = 1) fehlen die Eigenschaften" };
        QTest::newRow("zwei Builds, zwei Eintraege") << dokument(build(vz("2021", gut)) + build(vz("2021", gut))) << QString() << true
                                                     << QStringList{ "est:2021:4:1234", "est:2021:4:1234" } << QStringList();
        QTest::newRow("Size 12x") << dokument(build(vz("2021", xmlModul("ESt", "est", standardAttribute(), standardTechNr(), zipTag("m.zip", "12x")))))
                                  << QString() << true << QStringList{ "est:2021:4:0" } << QStringList();
        QTest::newRow("ohne TechNr") << dokument(build(vz("2021", xmlModul("ESt", "est", standardAttribute(), QString(), zipTag()) + gut)))
                                     << QString() << true << QStringList{ "est:2021:4:1234" }
                                     << QStringList{ "Bei dem Steuererkl\u00e4rungsmodul ESt 2021 fehlt die TechNr" };
        // Only the elements the format defines, where it places them: nested
        // ones are not read again (each level once read its whole subtree).
        QTest::newRow("Verschachteltes zaehlt nicht")
            << dokument(build(vz("2021", xmlModul("ESt", "est", standardAttribute(), standardTechNr(), zipTag() + gut)) + build(vz("2020", gut))
                              + vz("2022", vz("2023", gut))))
            << QString() << true << QStringList{ "est:2021:4:1234" } << QStringList();
        // The bounds: anything far beyond a real index is a malformed one.
        const QString zuTief = QStringLiteral("<a>").repeated(30) + QStringLiteral("</a>").repeated(30);
        QTest::newRow("32 Ebenen") << dokument(build(vz("2021", gut + zuTief.mid(3).chopped(4)))) << QString() << true
                                   << QStringList{ "est:2021:4:1234" } << QStringList();
        QTest::newRow("33 Ebenen") << dokument(build(vz("2021", gut + zuTief))) << QString() << false << QStringList()
                                   << QStringList{ "Die Elemente sind tiefer als 32 Ebenen verschachtelt." };
        QTest::newRow("Text zu lang") << dokument(build(vz("2021", xmlModul("ESt", "est", standardAttribute(), standardTechNr(), zipTag(QString(4097, QLatin1Char('m')))))))
                                      << QString() << false << QStringList() << QStringList{ "Ein Text ist l\u00e4nger als 4096 Zeichen." };
        QTest::newRow("Wert zu lang") << dokument(build(vz("2021", xmlModul("ESt", "est", standardAttribute(), standardTechNr(), zipTag("m.zip", QString(4097, QLatin1Char('1')))))))
                                      << QString() << false << QStringList() << QStringList{ "Der Wert von Size ist l\u00e4nger als 4096 Zeichen." };
        QTest::newRow("Tag zu lang") << dokument(build(vz("2021", gut + QString(70000, QLatin1Char(' '))))) << QString() << false << QStringList()
                                     << QStringList{ "Ein Tag oder Text ist l\u00e4nger als 65536 Bytes." };
        QTest::newRow("Modul mit zu vielen Elementen")
            << dokument(build(vz("2021", xmlModul("ESt", "est", standardAttribute(),
                                                  QStringLiteral("<TechNr NrAlle=\"1\" NrGr=\"2\" NrPlugin=\"3\"><Daten>%1</Daten></TechNr>")
                                                      .arg(QStringLiteral("<Datei Typ=\"bin\" Pfad=\"a\"/>").repeated(50000))))))
            << QString() << false << QStringList() << QStringList{ "Der Index hat zu viele Elemente (h\u00f6chstens 50000 je Modul" };
        QTest::newRow("Hauptanwendung ohne Update") << dokument(build(vz("2022", xmlModul("Fiscalon", "kora", standardAttribute(), standardTechNr(), zipTag()))))
                                                    << QString() << true << QStringList()
                                                    << QStringList{ "F\u00fcr \"Fiscalon 2022\" gibt es kein Update." };
    }
    void parser()
    {
        QFETCH(QString, xml);
        QFETCH(QString, eintrag);
        QFETCH(bool, ok);
        QFETCH(QStringList, module);
        QFETCH(QStringList, logZeilen);
        auto pm = neuerManager();
        schreibeIndex(PluginManager::gibDirDaten(), false, xml, eintrag);
        QString fehler;
        // The ERROR lines also go to Qt's warning output; the log file is checked below.
        const QtMessageHandler alt = qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
        const bool gelungen = pm->lesePluginInfoServer(false, fehler, pm->gibDatenmodelVerfuegbar());
        qInstallMessageHandler(alt);
        QCOMPARE(gelungen, ok);
        QStringList gelesen;
        for (int i = 0; i < pm->gibDatenmodelVerfuegbar()->anzahl(); ++i) {
            const Plugin* p = pm->gibDatenmodelVerfuegbar()->gibPlugin(i);
            gelesen << QStringLiteral("%1:%2:%3:%4").arg(p->gibKurzname()).arg(p->gibJahr()).arg(p->gibInterfaceNr()).arg(p->gibSize());
        }
        QCOMPARE(gelesen, module);
        const QString log = QString::fromUtf8(KryptoTest::lese(m_log));
        for (const QString& z : logZeilen)
            QVERIFY2(log.contains(z), qPrintable(z));
        if (!ok && !logZeilen.isEmpty())
            QVERIFY(fehler.contains(logZeilen.first()));
        // A module without an update package is no news; only the main application's is.
        if (QTest::currentDataTag() == QByteArray("ein Modul"))
            QVERIFY(!log.contains(QStringLiteral("gibt es kein Update")));
    }
    void grosseIndizes_data()
    {
        // Large indexes are read: the bounds leave room for real ones (what lies
        // beyond them is the parser table's part).
        QTest::addColumn<QString>("art");
        QTest::addColumn<int>("module");
        QTest::newRow("16 MiB kleine unbekannte Elemente") << "klein" << 1;
        QTest::newRow("4900 Module mit 500000 Elementen") << "module" << 4900;
    }
    void grosseIndizes()
    {
        QFETCH(QString, art);
        QFETCH(int, module);
        auto pm = neuerManager();
        {
            QFile quelle(m_umgebung->pfad() + QStringLiteral("/quelle.xml"));
            QVERIFY(quelle.open(QIODevice::WriteOnly | QIODevice::Truncate));
            const QByteArray modul = xmlModul("ESt", "est", standardAttribute(), standardTechNr(), zipTag()).toUtf8();
            quelle.write("<Inhalt><Build><VZ Jahr=\"2021\">");
            // Time is linear in the size: a quarter of the cap keeps the test short.
            const qint64 ziel = 16 * 1024 * 1024;
            if (art == QLatin1String("klein")) {
                quelle.write(modul);
                const QByteArray stueck = QByteArray("<x/>").repeated(1 << 16);
                while (quelle.size() + stueck.size() < ziel)
                    quelle.write(stueck);
            } else {
                const QByteArray datei = "<Datei Typ=\"bin\" Pfad=\"" + QByteArray(100, 'p') + "\"/>";
                for (int i = 0; i < module; ++i)
                    quelle.write("<Plugin Name=\"M" + QByteArray::number(i) + "\" Kurzname=\"m" + QByteArray::number(i)
                                 + "\" Rev=\"1\" InterfaceNr=\"1\" UnterfallArt=\"1\" Version=\"1\"><TechNr NrAlle=\"1\" NrGr=\"1\" "
                                   "NrPlugin=\"1\"><Daten>" + datei.repeated(99) + "</Daten></TechNr></Plugin>");
            }
            quelle.write("</VZ></Build></Inhalt>");
        }
        schreibeIndex(PluginManager::gibDirDaten(), false, QString());
        QString fehler;
        const QtMessageHandler alt = qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
        const bool gelungen = pm->lesePluginInfoServer(false, fehler, pm->gibDatenmodelVerfuegbar());
        qInstallMessageHandler(alt);
        QVERIFY2(gelungen, qPrintable(fehler));
        QCOMPARE(pm->gibDatenmodelVerfuegbar()->anzahl(), module);
    }
    void technischerIndex_data()
    {
        QTest::addColumn<QString>("selbstUpdate");
        QTest::addColumn<QString>("dienst");
        QTest::addColumn<int>("nrAlle");
        QTest::addColumn<bool>("noetig");
        QTest::addColumn<bool>("service");
        QTest::newRow("TRUE zaehlt") << "TRUE" << "1" << 5 << true << true;
        QTest::newRow("yes zaehlt nicht") << "yes" << "yes" << 5 << false << false;
        QTest::newRow("SelbstUpdate aus, Zahlen egal") << "false" << "true" << 999 << false << true;
    }
    void technischerIndex()
    {
        QFETCH(QString, selbstUpdate);
        QFETCH(QString, dienst);
        QFETCH(int, nrAlle);
        QFETCH(bool, noetig);
        QFETCH(bool, service);
        auto pm = neuerManager();
        const QString param = QStringLiteral("<Param SelbstUpdate=\"%1\" Dienst=\"%2\"/>").arg(selbstUpdate, dienst);
        schreibeIndex(PluginManager::gibDirDaten(), true,
                      dokument(build(vz("9999", xmlModul("Installationsverwaltung", "instv", standardAttribute(), standardTechNr(nrAlle), zipTag("iv.zip") + param)
                                                + xmlModul("Dienst", "service", standardAttribute(), standardTechNr(), zipTag("s.zip") + param)))));
        // No manager copy in the service folder: a self-update is needed whenever the server offers one.
        bool selbst = false, svc = false;
        pm->leseTechPluginDatei(selbst, svc, false);
        QCOMPARE(selbst, noetig);
        QCOMPARE(svc, service);
        QVERIFY(pm->gibPluginIvServer());
        QCOMPARE(pm->gibPluginIvServer()->gibNrAlle(), uint(nrAlle));
        QVERIFY(pm->gibPluginServiceServer());
    }

private:
    void schreibeRedirect(const QString& name, const QByteArray& inhalt, bool signieren = true)
    {
        const QString pfad = m_www + QLatin1Char('/') + kBasis + name;
        KryptoTest::schreibe(pfad, inhalt);
        QFile::remove(pfad + QStringLiteral("_v2.sig"));
        if (signieren)
            QVERIFY(m_schluessel.signiere(pfad));
    }
    void schreibeIndex(const QString& ordner, bool technisch, const QString& xml, const QString& eintrag = QString())
    {
        const QString basis = technisch ? QStringLiteral("inhalt_techplugin") : QStringLiteral("inhalt_downloadverzeichnis");
        const QString quelle = m_umgebung->pfad() + QStringLiteral("/quelle.xml");
        if (!xml.isNull()) // a null text keeps the source written before
            KryptoTest::schreibe(quelle, xml.toUtf8());
        const QString ziel = ordner + QLatin1Char('/') + basis + QStringLiteral(".zip");
        QDir().mkpath(ordner);
        QString fehler;
        QVERIFY2(ZipArchiv::erstelle(ziel, { { quelle, eintrag.isEmpty() ? basis + QStringLiteral(".xml") : eintrag } }, &fehler), qPrintable(fehler));
        QVERIFY(m_schluessel.signiere(ziel));
    }
    // GET requests for `pfadTeil` the server has had so far, all of them logged.
    int zugriffe(const QString& pfadTeil) const
    {
        int n = 0;
        for (const QString& z : m_nginx->zugriffeBisJetzt())
            if (z.startsWith(QStringLiteral("GET|")) && z.contains(pfadTeil))
                ++n;
        return n;
    }
    std::unique_ptr<PluginManager> neuerManager() { return std::make_unique<ManagerMitZustimmung>(); }

    std::unique_ptr<TestUmgebung> m_umgebung;
    std::unique_ptr<TestZertifikate> m_zert;
    std::unique_ptr<NginxServer> m_nginx;
    KryptoTest::Schluesselpaar m_schluessel;
    QString m_www;
    QString m_log;
};

QTEST_GUILESS_MAIN(TstServerzugriff)
#include "tst_serverzugriff.moc"
