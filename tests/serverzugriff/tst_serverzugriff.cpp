// The engine's server side against a real nginx over TLS: the redirect file, the
// status codes and texts the main application reads, the index archives and their parser.

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

QString techNr(int alle = 1, const QString& nrGr = QStringLiteral("2"), const QString& daten = QStringLiteral("<Datei Typ=\"bin\" Pfad=\"bin/a.dll\"/>"))
{
    return QStringLiteral("<TechNr NrAlle=\"%1\" NrGr=\"%2\" NrPlugin=\"3\"><Version>x</Version><Daten>%3</Daten></TechNr>")
        .arg(alle).arg(nrGr, daten);
}
QString zipTag(const QString& name = QStringLiteral("modul.zip"), const QString& size = QStringLiteral("1234"))
{
    return QStringLiteral("<Zip Silent=\"/S\" Size=\"%1\" MD5=\"abc\" UnzipFileSize=\"99\"> %2 </Zip>").arg(size, name);
}
QString modul(const QString& name, const QString& kurz, const QString& inhalt = techNr() + zipTag(), const QString& interfaceNr = QStringLiteral("4"))
{
    return QStringLiteral("<Plugin Name=\"%1\" Kurzname=\"%2\" Rev=\"27289\" InterfaceNr=\"%3\" UnterfallArt=\"10\" Version=\"2.1\">%4</Plugin>")
        .arg(name, kurz, interfaceNr, inhalt);
}
QString vz(const QString& jahr, const QString& plugins)
{
    return jahr.isNull() ? QStringLiteral("<VZ>%1</VZ>").arg(plugins) : QStringLiteral("<VZ Jahr=\"%1\">%2</VZ>").arg(jahr, plugins);
}
QString build(const QString& vzs) { return QStringLiteral("<Build>%1</Build>").arg(vzs); }
QString dokument(const QString& builds) { return QStringLiteral("<?xml version=\"1.0\"?><Inhalt Version=\"3\">%1</Inhalt>").arg(builds); }
// One build with one year.
QString einJahr(const QString& jahr, const QString& plugins) { return dokument(build(vz(jahr, plugins))); }

// The consent rules have their own test; here the user has agreed.
class ManagerMitZustimmung : public PluginManager
{
public:
    bool istInternetzugriffErlaubt() override { return true; }
};

// The ERROR lines also go to Qt's warning output; the tests read the log file.
bool leseIndex(PluginManager& pm, QString& fehler)
{
    const QtMessageHandler alt = qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
    const bool gelungen = pm.lesePluginInfoServer(false, fehler, pm.gibDatenmodelVerfuegbar());
    qInstallMessageHandler(alt);
    return gelungen;
}

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
        m_www = m_umgebung->pfad() + QStringLiteral("/www/") + kBasis;
        QDir().mkpath(m_www);
        NginxOptionen o;
        o.dokumente = m_umgebung->pfad() + QStringLiteral("/www");
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
        setzeServer(m_nginx->port());
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
        ManagerMitZustimmung pm;
        QVERIFY(pm.initDownloadManager());
        QCOMPARE(pm.istQsTestServer(), !qsUrl.isEmpty());
        QString u, s, n, sn;
        pm.gibRedirectDateien(u, s, n, sn);
        QCOMPARE(u, url);
        QCOMPARE(sn, sigName);
        QCOMPARE(s, url.left(url.lastIndexOf(QLatin1Char('/')) + 1) + sigName);
    }
    void serverVerzeichnis_data()
    {
        QTest::addColumn<QByteArray>("inhalt"); // null: no redirect file
        QTest::addColumn<int>("signatur");      // 0 missing, 1 valid, 2 file changed after signing
        QTest::addColumn<int>("ergebnis");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("verzeichnis");
        QTest::newRow("gueltig") << QByteArray("cmVsZWFzZS0x") << 1 << 0 << 0 << "release-1";
        QTest::newRow("Redirect fehlt") << QByteArray() << 0 << -1 << 2 << "";
        QTest::newRow("Signatur fehlt") << QByteArray("cmVsZWFzZS0x") << 0 << -1 << 3 << "";
        QTest::newRow("Signatur falsch") << QByteArray("cmVsZWFzZS0x") << 2 << -1 << 4 << "";
        QTest::newRow("kein Base64") << QByteArray("%%%%") << 1 << 0 << 5 << "";
        QTest::newRow("leer") << QByteArray("") << 1 << 0 << 5 << "";
        QTest::newRow("Umlaut als ISO 8859-15") << QByteArray("cmVs5HNl") << 1 << 0 << 0 << "rel\u00e4se";
    }
    void serverVerzeichnis()
    {
        QFETCH(QByteArray, inhalt);
        QFETCH(int, signatur);
        QFETCH(int, ergebnis);
        QFETCH(int, status);
        QFETCH(QString, verzeichnis);
        const QString pfad = m_www + QStringLiteral("qsredirect");
        QFile::remove(pfad);
        QFile::remove(pfad + QStringLiteral("_v2.sig"));
        if (!inhalt.isNull())
            schreibeRedirect(inhalt, signatur != 0);
        if (signatur == 2)
            KryptoTest::schreibe(pfad, inhalt + "\n\n");
        const int fehlend = zugriffe(QStringLiteral("/qsredirect|404|"));
        ManagerMitZustimmung pm;
        QCOMPARE(pm.setzeServerVerzeichnis(), ergebnis);
        QCOMPARE(pm.gibServerStatus(), status);
        QCOMPARE(pm.gibServerVerzeichnis(), verzeichnis);
        // A missing file is asked for three times.
        QCOMPARE(zugriffe(QStringLiteral("/qsredirect|404|")) - fehlend, inhalt.isNull() ? 3 : 0);
        // Nothing of the redirect stays behind.
        QCOMPARE(QDir(PluginManager::gibDirDaten()).entryList(QDir::Files), QStringList());
        // Without a release folder the index is not even asked for.
        if (status != 0) {
            const int index = zugriffe(QStringLiteral("inhalt_downloadverzeichnis"));
            QVERIFY(!pm.holeServerInhaltsdatei());
            QCOMPARE(zugriffe(QStringLiteral("inhalt_downloadverzeichnis")), index);
        }
    }
    void unerreichbarerServer()
    {
        setzeServer(1); // a privileged port nobody here listens on
        const QDateTime vorher = QDateTime::currentDateTime().addSecs(-1);
        auto pm = std::make_unique<ManagerMitZustimmung>();
        QCOMPARE(pm->setzeServerVerzeichnis(), 2);
        QCOMPARE(pm->gibServerStatus(), 1);
        const QString kurz = QStringLiteral("Die Verbindung zu dem Update-Server konnte nicht aufgebaut werden.");
        QCOMPARE(Einstellungen::getAdminErrorShortText(), kurz);
        QVERIFY(Einstellungen::getAdminErrorLongText().startsWith(kurz + QStringLiteral(" Ursache: ")));
        QVERIFY(Einstellungen::getAdminErrorLongText().size() > 80);
        QVERIFY(!pm->holeServerInhaltsdatei());
        QVERIFY(!Einstellungen::getAdminLastUpdate().isValid());

        // A failed fetch of the index still records when it was tried.
        setzeServer(m_nginx->port());
        schreibeRedirect("ZmVobHQ=");
        pm = std::make_unique<ManagerMitZustimmung>();
        QCOMPARE(pm->setzeServerVerzeichnis(), 0);
        QVERIFY(!pm->holeServerInhaltsdatei());
        QCOMPARE(pm->gibServerStatus(), 6);
        QVERIFY(Einstellungen::getAdminLastUpdate() >= vorher.addSecs(-1));
    }
    void indexUndKopie()
    {
        const QString ordner = m_www + QStringLiteral("rel-a");
        schreibeIndex(ordner, false, dokument(build(vz("2021", modul("ESt", "est")) + vz("2022", modul("Fiscalon", "kora", techNr() + zipTag("kora.zip"))))));
        // With and without the trailing "/" the same release.
        for (const QByteArray& dir : { QByteArray("rel-a"), QByteArray("rel-a/") }) {
            schreibeRedirect(dir.toBase64());
            ManagerMitZustimmung pm;
            QCOMPARE(pm.setzeServerVerzeichnis(), 0);
            pm.loescheIndexDateiServer();
            QVERIFY(pm.holeServerInhaltsdatei());
            QVERIFY(pm.leseServerInhaltsdatei());
            QCOMPARE(pm.gibDatenmodelVerfuegbar()->anzahl(), 1);
            QVERIFY(pm.gibPluginKoraVerfuegbar());
            QCOMPARE(pm.gibPluginKoraVerfuegbar()->gibJahr(), 2022u);
            // First start: no copy yet (and no log line about it); then the copy matches.
            QCOMPARE(pm.istServerInhaltUnveraendert(), dir.endsWith('/'));
            if (!dir.endsWith('/'))
                QVERIFY(pm.kopiereIndexDateiServer());
        }
        schreibeIndex(ordner, false, einJahr("2023", QString()));
        ManagerMitZustimmung pm;
        QCOMPARE(pm.setzeServerVerzeichnis(), 0);
        QVERIFY(pm.holeServerInhaltsdatei());
        QVERIFY(!pm.istServerInhaltUnveraendert());
        QVERIFY(!KryptoTest::lese(m_log).contains("konnte nicht ge\xc3\xb6" "ffnet werden"));
    }
    void indexMitFalscherSignatur()
    {
        const QString ordner = m_www + QStringLiteral("rel-b");
        schreibeIndex(ordner, false, einJahr("2021", modul("ESt", "est")));
        // Replaced after signing: a valid archive, but not the publisher's.
        const QString anderes = m_umgebung->pfad() + QStringLiteral("/anders.xml");
        KryptoTest::schreibe(anderes, einJahr("2099", QString()).toUtf8());
        QVERIFY(ZipArchiv::erstelle(ordner + QStringLiteral("/inhalt_downloadverzeichnis.zip"),
                                    { { anderes, QStringLiteral("inhalt_downloadverzeichnis.xml") } }));
        schreibeRedirect(QByteArray("rel-b").toBase64());
        ManagerMitZustimmung pm;
        QCOMPARE(pm.setzeServerVerzeichnis(), 0);
        QVERIFY(pm.holeServerInhaltsdatei());
        QVERIFY(!pm.leseServerInhaltsdatei());
        QCOMPARE(pm.gibServerStatus(), 7);
        QCOMPARE(pm.gibDatenmodelVerfuegbar()->anzahl(), 0);
        QCOMPARE(Einstellungen::getAdminErrorShortText(), QStringLiteral("Die Informationsdatei konnte nicht ausgewertet werden."));
        QVERIFY(Einstellungen::getAdminErrorLongText().contains(QStringLiteral("Signatur")));

        // The texts for the main application cannot be stored: the failure still
        // stands and one log line names the file and the settings lost.
        const QString tavo = Einstellungen::gibTavoIniPfad();
        QVERIFY(QFile::remove(tavo) && QDir().mkpath(tavo));
        QVERIFY(!pm.leseServerInhaltsdatei());
        QCOMPARE(pm.gibServerStatus(), 7);
        QVERIFY(QDir(tavo).removeRecursively());
        QVERIFY(KryptoTest::lese(m_log).contains("kann nicht geschrieben werden"));
        QVERIFY(KryptoTest::lese(m_log).contains("Einstellungen wie UPDATE/Error"));
    }
    void parser_data()
    {
        QTest::addColumn<QString>("xml");
        QTest::addColumn<QString>("eintrag"); // the archive's entry; empty: the usual name
        QTest::addColumn<bool>("ok");
        QTest::addColumn<QStringList>("module"); // Kurzname:Jahr:InterfaceNr:Size
        QTest::addColumn<QString>("logZeile");
        const QString gut = modul("Einkommensteuer", "est");
        const QStringList est21 { "est:2021:4:1234" };

        // A module without an update package is no news; only the main application's is.
        QTest::newRow("ein Modul") << einJahr("2021", gut) << QString() << true << est21 << "!gibt es kein Update";
        QTest::newRow("Eintrag in anderer Schreibung") << einJahr("2021", gut) << "Inhalt_Downloadverzeichnis.xml" << false << QStringList()
                                                        << "Das Parsen der Datei \"inhalt_downloadverzeichnis.xml\" konnte nicht durchgef\u00fchrt werden.";
        QTest::newRow("kaputtes XML") << "<Inhalt><Build>" << QString() << false << QStringList() << "Fehler in Zeile 1";
        QTest::newRow("kein Build") << "<Inhalt/>" << QString() << false << QStringList() << "";
        QTest::newRow("InterfaceNr abc") << einJahr("2021", modul("ESt", "est", techNr() + zipTag(), "abc")) << QString() << true
                                         << QStringList{ "est:2021:0:1234" }
                                         << "kann die Eigenschaft InterfaceNr (Text= abc) nicht in eine Zahl konvertiert werden.";
        QTest::newRow("NrGr leer, das naechste zaehlt")
            << einJahr("2021", modul("ESt", "est", techNr(1, "") + zipTag()) + modul("GewSt", "gewst")) << QString() << true
            << QStringList{ "gewst:2021:4:1234" } << "Bei dem Steuererkl\u00e4rungsmodul ESt 2021 fehlt die Eigenschaft NrGr";
        // The same module in two builds is listed twice.
        QTest::newRow("VZ ohne Eigenschaften") << dokument(build(vz("2021", gut)) + build(vz("2021", gut) + vz(QString(), gut))) << QString()
                                               << true << est21 + est21 << "Bei dem VZ (Nr = 1) des Build (Nr = 1) fehlen die Eigenschaften";
        QTest::newRow("Size 12x") << einJahr("2021", modul("ESt", "est", techNr() + zipTag("m.zip", "12x"))) << QString() << true
                                  << QStringList{ "est:2021:4:0" } << "";
        QTest::newRow("ohne TechNr") << einJahr("2021", modul("ESt", "est", zipTag()) + gut) << QString() << true << est21
                                     << "Bei dem Steuererkl\u00e4rungsmodul ESt 2021 fehlt die TechNr";
        // Only the elements the format defines, where it places them: nested
        // ones are not read again (each level once read its whole subtree).
        QTest::newRow("Verschachteltes zaehlt nicht")
            << dokument(build(vz("2021", modul("ESt", "est", techNr() + zipTag() + gut)) + build(vz("2020", gut)) + vz("2022", vz("2023", gut))))
            << QString() << true << est21 << "";
        // The bounds: anything far beyond a real index is a malformed one.
        const QString zuTief = QStringLiteral("<a>").repeated(30) + QStringLiteral("</a>").repeated(30);
        QTest::newRow("32 Ebenen") << einJahr("2021", gut + zuTief.mid(3).chopped(4)) << QString() << true << est21 << "";
        QTest::newRow("33 Ebenen") << einJahr("2021", gut + zuTief) << QString() << false << QStringList()
                                   << "Die Elemente sind tiefer als 32 Ebenen verschachtelt.";
        QTest::newRow("Text zu lang") << einJahr("2021", modul("ESt", "est", techNr() + zipTag(QString(4097, QLatin1Char('m'))))) << QString()
                                      << false << QStringList() << "Ein Text ist l\u00e4nger als 4096 Zeichen.";
        QTest::newRow("Wert zu lang") << einJahr("2021", modul("ESt", "est", techNr() + zipTag("m.zip", QString(4097, QLatin1Char('1')))))
                                      << QString() << false << QStringList() << "Der Wert von Size ist l\u00e4nger als 4096 Zeichen.";
        QTest::newRow("Tag zu lang") << einJahr("2021", gut + QString(70000, QLatin1Char(' '))) << QString() << false << QStringList()
                                     << "Ein Tag oder Text ist l\u00e4nger als 65536 Bytes.";
        QTest::newRow("Modul mit zu vielen Elementen")
            << einJahr("2021", modul("ESt", "est", techNr(1, "2", QStringLiteral("<Datei Typ=\"bin\" Pfad=\"a\"/>").repeated(50000))))
            << QString() << false << QStringList() << "Der Index hat zu viele Elemente (h\u00f6chstens 50000 je Modul";
        QTest::newRow("Hauptanwendung ohne Update") << einJahr("2022", modul("Fiscalon", "kora")) << QString() << true << QStringList()
                                                    << "F\u00fcr \"Fiscalon 2022\" gibt es kein Update.";
    }
    void parser()
    {
        QFETCH(QString, xml);
        QFETCH(QString, eintrag);
        QFETCH(bool, ok);
        QFETCH(QStringList, module);
        QFETCH(QString, logZeile); // "!": must not be logged
        ManagerMitZustimmung pm;
        schreibeIndex(PluginManager::gibDirDaten(), false, xml, eintrag);
        QString fehler;
        QCOMPARE(leseIndex(pm, fehler), ok);
        QStringList gelesen;
        for (int i = 0; i < pm.gibDatenmodelVerfuegbar()->anzahl(); ++i) {
            const Plugin* p = pm.gibDatenmodelVerfuegbar()->gibPlugin(i);
            gelesen << QStringLiteral("%1:%2:%3:%4").arg(p->gibKurzname()).arg(p->gibJahr()).arg(p->gibInterfaceNr()).arg(p->gibSize());
        }
        QCOMPARE(gelesen, module);
        const QString log = QString::fromUtf8(KryptoTest::lese(m_log));
        if (logZeile.startsWith(QLatin1Char('!')))
            QVERIFY2(!log.contains(logZeile.mid(1)), qPrintable(log));
        else if (!logZeile.isEmpty())
            QVERIFY2(log.contains(logZeile) && (ok || fehler.contains(logZeile)), qPrintable(logZeile));
    }
    void grosseIndizes_data()
    {
        // Large indexes are read: the bounds leave room for real ones.
        QTest::addColumn<int>("module"); // 1: 16 MiB of small unknown elements beside one module
        QTest::newRow("16 MiB kleine unbekannte Elemente") << 1;
        QTest::newRow("4850 Module, knapp 500000 Elemente") << 4850;
    }
    void grosseIndizes()
    {
        QFETCH(int, module);
        ManagerMitZustimmung pm;
        {
            QFile quelle(m_umgebung->pfad() + QStringLiteral("/quelle.xml"));
            QVERIFY(quelle.open(QIODevice::WriteOnly | QIODevice::Truncate));
            quelle.write("<Inhalt><Build><VZ Jahr=\"2021\">");
            if (module == 1) {
                // Time is linear in the size: a quarter of the cap keeps the test short.
                quelle.write(modul("ESt", "est").toUtf8());
                const QByteArray stueck = QByteArray("<x/>").repeated(1 << 16);
                while (quelle.size() + stueck.size() < 16 * 1024 * 1024)
                    quelle.write(stueck);
            } else {
                const QString daten = QStringLiteral("<Datei Typ=\"bin\" Pfad=\"%1\"/>").arg(QString(100, QLatin1Char('p'))).repeated(99);
                for (int i = 0; i < module; ++i)
                    quelle.write(modul(QStringLiteral("M%1").arg(i), QStringLiteral("m%1").arg(i), techNr(1, "1", daten)).toUtf8());
            }
            quelle.write("</VZ></Build></Inhalt>");
        }
        schreibeIndex(PluginManager::gibDirDaten(), false, QString());
        QString fehler;
        QVERIFY2(leseIndex(pm, fehler), qPrintable(fehler));
        QCOMPARE(pm.gibDatenmodelVerfuegbar()->anzahl(), module);
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
        ManagerMitZustimmung pm;
        const QString param = QStringLiteral("<Param SelbstUpdate=\"%1\" Dienst=\"%2\"/>").arg(selbstUpdate, dienst);
        schreibeIndex(PluginManager::gibDirDaten(), true,
                      einJahr("9999", modul("Installationsverwaltung", "instv", techNr(nrAlle) + zipTag("iv.zip") + param)
                                        + modul("Dienst", "service", techNr() + zipTag("s.zip") + param)));
        // No manager copy in the service folder: a self-update is needed whenever the server offers one.
        bool selbst = false, svc = false;
        pm.leseTechPluginDatei(selbst, svc, false);
        QCOMPARE(selbst, noetig);
        QCOMPARE(svc, service);
        QVERIFY(pm.gibPluginIvServer() && pm.gibPluginServiceServer());
        QCOMPARE(pm.gibPluginIvServer()->gibNrAlle(), uint(nrAlle));
    }

private:
    static void setzeServer(quint16 port)
    {
        Einstellungen::setAdminWert(QStringLiteral("UPDATE/QSTestServerUrl"), QStringLiteral("127.0.0.1:%1").arg(port));
    }
    void schreibeRedirect(const QByteArray& inhalt, bool signieren = true)
    {
        const QString pfad = m_www + QStringLiteral("qsredirect");
        KryptoTest::schreibe(pfad, inhalt);
        QFile::remove(pfad + QStringLiteral("_v2.sig"));
        if (signieren)
            QVERIFY(m_schluessel.signiere(pfad));
    }
    // A null `xml` keeps the source written before.
    void schreibeIndex(const QString& ordner, bool technisch, const QString& xml, const QString& eintrag = QString())
    {
        const QString basis = technisch ? QStringLiteral("inhalt_techplugin") : QStringLiteral("inhalt_downloadverzeichnis");
        const QString quelle = m_umgebung->pfad() + QStringLiteral("/quelle.xml");
        if (!xml.isNull())
            KryptoTest::schreibe(quelle, xml.toUtf8());
        const QString ziel = ordner + QLatin1Char('/') + basis + QStringLiteral(".zip");
        QDir().mkpath(ordner);
        QString fehler;
        QVERIFY2(ZipArchiv::erstelle(ziel, { { quelle, eintrag.isEmpty() ? basis + QStringLiteral(".xml") : eintrag } }, &fehler), qPrintable(fehler));
        QVERIFY(m_schluessel.signiere(ziel));
    }
    // Requests the server has had so far (of any method) whose log line holds `teil`.
    int zugriffe(const QString& teil) const { return m_nginx->zugriffeBisJetzt().filter(teil).size(); }

    std::unique_ptr<TestUmgebung> m_umgebung;
    std::unique_ptr<TestZertifikate> m_zert;
    std::unique_ptr<NginxServer> m_nginx;
    KryptoTest::Schluesselpaar m_schluessel;
    QString m_www; // the release base folder on the server
    QString m_log;
};

QTEST_GUILESS_MAIN(TstServerzugriff)
#include "tst_serverzugriff.moc"
