// The engine's view of the update server: where the current release lies, the
// transfers and how they are waited for, and the two index archives.

#include "pluginManager/pluginManager.h"

#include "bauwerte.h"
#include "global/archiv/ziparchiv.h"
#include "global/crypto/crypto.h"
#include "global/downloadManager/downloadmanager.h"
#include "global/varnelApplication/einstellungen.h"
#include "global/varnelApplication/logbase.h"
#include "global/varnelApplication/textausliteral.h"
#include "global/varnelApplication/varnelkern.h"
#include "pluginManager/dlgPluginManagerDatenmodel.h"
#include "pluginManager/plugin.h"
#include "pluginManager/setup.h"
#include "pluginManager/startwerte.h"

#include <QBuffer>
#include <QDir>
#include <QDomDocument>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QTextCodec>
#include <QTimer>
#include <QXmlStreamReader>

namespace {

const QString kModulIndexZip = QStringLiteral("inhalt_downloadverzeichnis.zip");
const QString kModulIndexXml = QStringLiteral("inhalt_downloadverzeichnis.xml");
const QString kModulIndexKopie = QStringLiteral("inhalt_downloadverzeichnis_cpy.zip");
const QString kTechIndexZip = QStringLiteral("inhalt_techplugin.zip");
const QString kTechIndexXml = QStringLiteral("inhalt_techplugin.xml");
const QString kServerPfad = QStringLiteral("/download/pm/win_18_0/");

QString mitSeparator(QString pfad)
{
    if (!pfad.endsWith(QDir::separator()))
        pfad += QDir::separator();
    return pfad;
}

bool istAkamai(const QString& url)
{
    return url.toLower().startsWith(QLatin1String("akamai"));
}

void loescheWennVorhanden(const QString& pfad)
{
    if (QFile::exists(pfad))
        VarnelKern::loescheDateiLoggeFehler(pfad);
}

} // namespace

// ---- directories -------------------------------------------------------------------

QString PluginManager::gibDirPmHome()
{
    QString basis;
    if (!gs_DirUserKora.isEmpty()) {
        QString user = QDir::toNativeSeparators(gs_DirUserKora);
        while (user.size() > 1 && user.endsWith(QDir::separator()))
            user.chop(1);
        if (user.endsWith(QLatin1String("kora"), Qt::CaseInsensitive))
            basis = user.left(user.size() - 4);
        else
            IV_LOG_ERROR(QStringLiteral("Die \"UsersAnwendungsdatenKora\" enden nicht mit \"kora\"."));
    }
    if (basis.isEmpty())
        basis = Einstellungen::gibDirUserBasis();
    return mitSeparator(basis) + QStringLiteral("pluginmanager") + QDir::separator();
}

QString PluginManager::gibDirDaten()
{
    return gibDirPmHome() + QStringLiteral("data") + QDir::separator();
}

QString PluginManager::gibDirTmp()
{
    return gibDirPmHome() + QStringLiteral("tmp") + QDir::separator();
}

// ---- server addresses ----------------------------------------------------------------

QString PluginManager::gibBasisUrlProduktion()
{
    return QStringLiteral("https://") + Bauwerte::updateHost() + kServerPfad;
}

QString PluginManager::gibBasisUrlQsTestServer() const
{
    return QStringLiteral("https://%1").arg(m_QSTestServerUrl) + kServerPfad;
}

bool PluginManager::initDownloadManager()
{
    if (mb_DownloadManagerInitialisiert)
        return true;
    if (!istInternetzugriffErlaubt())
        return false;
    m_QSTestServerUrl = Einstellungen::getAdminQSTestServerUrl();
    mb_QSTestServer = !m_QSTestServerUrl.isEmpty();
    if (mb_QSTestServer)
        mp_DownloadManager->setTestmodus(true);
    const QStringList proxy = VarnelKern::gibProxyDaten(gs_DirUserKora);
    const QString host = proxy.size() >= 4 ? proxy.at(0) : QString();
    const int port = proxy.size() >= 4 ? proxy.at(1).toInt() : 0;
    IV_LOG_INFO(QStringLiteral("Ermittelte Proxy-Daten: %1,%2").arg(host).arg(port));
    if (!host.isEmpty() && port > 0)
        mp_DownloadManager->setProxyValue(host, port, proxy.at(2), proxy.at(3));
    mb_DownloadManagerInitialisiert = true;
    return true;
}

void PluginManager::gibRedirectDateien(QString& url, QString& sigUrl, QString& name, QString& sigName)
{
    if (!mb_QSTestServer) {
        name = QStringLiteral("userredirect");
        sigName = QStringLiteral("userredirect_v2.sig");
        url = gibBasisUrlProduktion() + name;
        sigUrl = gibBasisUrlProduktion() + sigName;
        return;
    }
    name = QStringLiteral("qsredirect");
    const QString rev = Einstellungen::getAdminQSTestServerUrlRev();
    if (!rev.isEmpty())
        name += QLatin1Char('_') + rev;
    sigName = name + QStringLiteral("_v2.sig");
    const QString basis = istAkamai(m_QSTestServerUrl) ? gibBasisUrlProduktion() : gibBasisUrlQsTestServer();
    url = basis + name;
    sigUrl = basis + sigName;
}

// ---- waiting ----------------------------------------------------------------------------

void PluginManager::meldeDownloadAnKora(int art)
{
    if (VarnelKern* kern = VarnelKern::instanz())
        kern->meldeStatusAnKora(art, gs_AnwendungsName, QStringLiteral("Update"));
}

int PluginManager::warteAufTransfer()
{
    mb_TransferLaeuft = true;
    mi_TransferErgebnis = -1;
    mp_DownloadManager->downloadStart();
    if (!mb_TransferLaeuft)
        return mi_TransferErgebnis;
    return mp_EventLoop->exec(QEventLoop::AllEvents);
}

void PluginManager::slot_doneLoadFile(bool error, const QString&)
{
    if (mb_Abbruch) {
        IV_LOG_INFO(QStringLiteral("Abbruch durch den Anwender."));
        // The cancelled run ends here, not with the next file.
        if (mb_AktionenLaufen) {
            emit aktionsDurchfuehrung(false);
            aktionsAusfuehrungBeenden();
        }
    }
    if (error)
        IV_LOG_ERROR(QStringLiteral("Auf den Server konnte nicht zugegriffen werden."));
    if (mb_TransferLaeuft) {
        mb_TransferLaeuft = false;
        mi_TransferErgebnis = error ? -1 : 0;
        if (mp_EventLoop->isRunning())
            mp_EventLoop->exit(mi_TransferErgebnis);
    }
    meldeDownloadAnKora(0);
}

void PluginManager::slot_downloadFortschritt(int done, int total)
{
    if (done > 0)
        Laufjournal::haltepunkt(QStringLiteral("herunterladen"));
    emit downloadFortschritt(done, total);
}

bool PluginManager::startTimerDownloadTimeout(int ms)
{
    IV_LOG_DEBUG(QStringLiteral("void PluginManager::startTimerDownloadTimeout(%1)").arg(ms));
    stopTimerDownloadTimeout();
    mp_TimerDownloadTimeout = new QTimer(this);
    mp_TimerDownloadTimeout->setSingleShot(true);
    mp_TimerDownloadTimeout->setInterval(ms);
    if (!connect(mp_TimerDownloadTimeout, &QTimer::timeout, this, &PluginManager::slot_download_Timeout)) {
        delete mp_TimerDownloadTimeout;
        mp_TimerDownloadTimeout = nullptr;
        IV_LOG_ERROR(QStringLiteral("Fehler bei der Herstellung einer Signal/Slot- Verbindung!"));
        return false;
    }
    mp_TimerDownloadTimeout->start();
    return true;
}

void PluginManager::stopTimerDownloadTimeout()
{
    if (!mp_TimerDownloadTimeout)
        return;
    mp_TimerDownloadTimeout->stop();
    if (!disconnect(mp_TimerDownloadTimeout, nullptr, this, nullptr))
        IV_LOG_ERROR(QStringLiteral("Fehler beim Trennen einer Signal/Slot- Verbindung!"));
    delete mp_TimerDownloadTimeout;
    mp_TimerDownloadTimeout = nullptr;
}

void PluginManager::slot_download_Timeout()
{
    stopTimerDownloadTimeout();
    IV_LOG_ERROR(textAusLiteral("Zeit&uuml;berschreitung beim Download einer Datei."));
    // The transfer is cut off too: left running, its late end would cut
    // short the wait of the next attempt.
    const bool lief = mb_TransferLaeuft;
    mb_TransferLaeuft = false;
    mi_TransferErgebnis = -1;
    if (mp_EventLoop->isRunning())
        mp_EventLoop->exit(-1);
    if (lief)
        mp_DownloadManager->abbrechen();
}

// ---- the server directory ------------------------------------------------------------

int PluginManager::setzeServerVerzeichnis()
{
    IV_LOG_EINTRITT();
    emit initStatusText(QStringLiteral("Die Verbindung zum Server wird aufgebaut."), false);
    if (!initDownloadManager()) {
        mi_ServerStatus = 1;
        return 2;
    }
    QString url, sigUrl, name, sigName;
    gibRedirectDateien(url, sigUrl, name, sigName);
    const QString daten = gibDirDaten();
    QDir().mkpath(daten);
    mp_DownloadManager->setTargetPath(daten);

    bool geladen = false;
    for (int versuch = 0; versuch < 3 && !geladen; ++versuch) {
        meldeDownloadAnKora(1);
        mp_DownloadManager->setUrl(url);
        mp_DownloadManager->setTargetPath(daten);
        if (!startTimerDownloadTimeout(10000))
            break;
        geladen = (warteAufTransfer() == 0);
        stopTimerDownloadTimeout();
    }
    if (!geladen) {
        IV_LOG_ERROR(QStringLiteral("Die Datei \"%1\" konnte nicht vom Server geladen werden.").arg(url));
        if (mp_DownloadManager->httpStatusCode() == 404) {
            mi_ServerStatus = 2;
            return -1;
        }
        const QString kurz = QStringLiteral("Die Verbindung zu dem Update-Server konnte nicht aufgebaut werden.");
        Einstellungen::setAdminErrorShortText(kurz);
        Einstellungen::setAdminErrorLongText(QStringLiteral("%1 Ursache: %2").arg(kurz, mp_DownloadManager->errorString()));
        mi_ServerStatus = 1;
        return 2;
    }
    stopTimerDownloadTimeout();
    const QString lokal = daten + name;

    geladen = false;
    for (int versuch = 0; versuch < 3 && !geladen; ++versuch) {
        meldeDownloadAnKora(1);
        mp_DownloadManager->setUrl(sigUrl);
        mp_DownloadManager->setTargetPath(daten);
        geladen = (warteAufTransfer() == 0);
    }
    if (!geladen) {
        loescheWennVorhanden(lokal);
        IV_LOG_ERROR(QStringLiteral("Die Datei \"%1\" konnte nicht vom Server geladen werden.").arg(sigUrl));
        if (mp_DownloadManager->httpStatusCode() == 404) {
            mi_ServerStatus = 3;
            return -1;
        }
        mi_ServerStatus = 1;
        return 2;
    }

    const bool gueltig = Crypto::isFileValid(lokal);
    loescheWennVorhanden(daten + sigName);
    if (!gueltig) {
        loescheWennVorhanden(lokal);
        mi_ServerStatus = 4;
        IV_LOG_ERROR(textAusLiteral("Die Datei \"%1\" hat keine g&uuml;ltige Signatur.").arg(lokal));
        return -1;
    }

    QString verzeichnis;
    QFile datei(lokal);
    if (datei.open(QIODevice::ReadOnly)) {
        const auto dekodiert = QByteArray::fromBase64Encoding(datei.readAll().trimmed(), QByteArray::AbortOnBase64DecodingErrors);
        if (dekodiert) {
            QTextCodec* codec = QTextCodec::codecForName("ISO 8859-15");
            verzeichnis = codec ? codec->toUnicode(*dekodiert) : QString::fromLatin1(*dekodiert);
        }
        datei.close();
    }
    m_ServerVerzeichnis = verzeichnis;
    loescheWennVorhanden(lokal);
    if (verzeichnis.isEmpty())
        mi_ServerStatus = 5;
    IV_LOG_AUSTRITT();
    return 0;
}

bool PluginManager::holeDateiVomServer(const QString& zielVerzeichnis, const QString& dateiname)
{
    if (!initDownloadManager())
        return false;
    QString url = (mb_QSTestServer && !istAkamai(m_QSTestServerUrl)) ? gibBasisUrlQsTestServer() : gibBasisUrlProduktion();
    if (!m_ServerVerzeichnis.isEmpty())
        url += m_ServerVerzeichnis;
    if (!url.endsWith(QLatin1Char('/')))
        url += QLatin1Char('/');
    url += dateiname;
    mp_DownloadManager->setUrl(url);
    mp_DownloadManager->setTargetPath(zielVerzeichnis);
    meldeDownloadAnKora(1);
    return warteAufTransfer() == 0;
}

bool PluginManager::holeServerInhaltsdatei()
{
    emit initStatusText(QStringLiteral("Die Indexdatei wird vom Server geladen."), false);
    if (mi_ServerStatus != 0) {
        emit initStatusText(QString(), false);
        return false;
    }
    const QString daten = gibDirDaten();
    bool ok = holeDateiVomServer(daten, kModulIndexZip);
    // Its signature comes along; without it the archive is not read.
    ok = ok && holeDateiVomServer(daten, kModulIndexZip + QStringLiteral(".sig"));
    const QString fehler = ok ? QString() : mp_DownloadManager->errorString();
    Einstellungen::setAdminLastUpdate(QDateTime::currentDateTime());
    emit initStatusText(QString(), false);
    if (!ok) {
        mi_ServerStatus = 6;
        IV_LOG_ERROR(QStringLiteral("Die Indexdatei konnte nicht vom Server geladen werden. Ursache: %1").arg(fehler));
        return false;
    }
    return true;
}

void PluginManager::loescheIndexDateiServer()
{
    loescheWennVorhanden(gibDirDaten() + kModulIndexZip);
    loescheWennVorhanden(gibDirDaten() + kModulIndexZip + QStringLiteral(".sig"));
}

bool PluginManager::kopiereIndexDateiServer()
{
    const QString quelle = gibDirDaten() + kModulIndexZip;
    const QString kopie = gibDirDaten() + kModulIndexKopie;
    loescheWennVorhanden(kopie);
    if (!QFile::copy(quelle, kopie)) {
        IV_LOG_ERROR(QStringLiteral("Von der Datei \"%1\" konnte keine Kopie erzeugt werden.").arg(quelle));
        return false;
    }
    return true;
}

bool PluginManager::istServerInhaltUnveraendert()
{
    const QString pfad = gibDirDaten() + kModulIndexZip;
    QFile archiv(pfad);
    if (!archiv.open(QIODevice::ReadOnly)) {
        IV_LOG_ERROR(textAusLiteral("Die Datei \"%1\" konnte nicht ge&ouml;ffnet werden.").arg(pfad));
        return false;
    }
    QFile kopie(gibDirDaten() + kModulIndexKopie);
    if (!kopie.open(QIODevice::ReadOnly))
        return false;
    if (archiv.size() != kopie.size())
        return false;
    // Compared in chunks: the archives may be large, the answer needs no copy in memory.
    while (!archiv.atEnd()) {
        if (archiv.read(1 << 16) != kopie.read(1 << 16))
            return false;
    }
    IV_LOG_INFO(textAusLiteral("Es gibt gegen&uuml;ber dem letzten Programmstart keine neueren Programmversionen auf den Server."));
    return true;
}

// ---- the index files -----------------------------------------------------------------

namespace {

// Bounds of the index reader. The index is signed, but a mistake of the
// publisher must still not crash the updater or take minutes and gigabytes:
// the format nests seven levels and its values are names, numbers and
// checksums, so anything far beyond is a malformed index.
constexpr int kMaxTiefe = 32;
constexpr int kMaxWertLaenge = 4096;       // characters of one attribute value or text
constexpr int kMaxTagAbstand = 64 * 1024;  // bytes from one "<" to the next
constexpr int kMaxModule = 20000;          // "Plugin" elements where the format places them
constexpr int kMaxModulElemente = 50000;   // elements inside one "Plugin"
constexpr int kMaxElementeGesamt = 500000; // elements inside all "Plugin"s together

struct IndexFehler {
    QString meldung;
    qint64 zeile = 0;
    qint64 spalte = 0;
};

// Line and column (from 1) of byte `pos`, as the XML reader counts them.
void setzePosition(const QByteArray& bytes, int pos, IndexFehler& f)
{
    const int zeilenAnfang = bytes.lastIndexOf('\n', pos - 1) + 1;
    f.zeile = bytes.left(pos).count('\n') + 1;
    f.spalte = pos - zeilenAnfang + 1;
}

// The element's place in the format: 1 root, 2 "Build", 3 "VZ", 4 "Plugin",
// 5 anything inside a "Plugin"; 0 elsewhere (never read).
int ebeneImFormat(int elternEbene, int tiefe, QStringView name)
{
    if (tiefe == 1)
        return 1;
    if (elternEbene == 1 && name == QLatin1String("Build"))
        return 2;
    if (elternEbene == 2 && name == QLatin1String("VZ"))
        return 3;
    if (elternEbene == 3 && name == QLatin1String("Plugin"))
        return 4;
    return elternEbene >= 4 ? 5 : 0;
}

// First pass over the whole document, before anything is taken from it: well
// formed, within the bounds above. Linear in the size, memory a few buffers.
bool pruefeIndex(const QByteArray& bytes, IndexFehler& f)
{
    for (int pos = 0, letzter = 0;; letzter = pos + 1) {
        pos = bytes.indexOf('<', letzter);
        const int ende = pos < 0 ? bytes.size() : pos;
        if (ende - letzter > kMaxTagAbstand) {
            f.meldung = QStringLiteral("Ein Tag oder Text ist l\u00e4nger als %1 Bytes.").arg(kMaxTagAbstand);
            setzePosition(bytes, letzter, f);
            return false;
        }
        if (pos < 0)
            break;
    }
    QBuffer puffer;
    puffer.setData(bytes);
    puffer.open(QIODevice::ReadOnly);
    QXmlStreamReader r(&puffer);
    r.setNamespaceProcessing(false);
    QVector<int> ebenen;
    int textLaenge = 0, module = 0, imModul = 0, gesamt = 0;
    auto fehlerHier = [&](const QString& meldung) {
        f.meldung = meldung;
        f.zeile = r.lineNumber();
        f.spalte = r.columnNumber();
        return false;
    };
    while (!r.atEnd()) {
        switch (r.readNext()) {
        case QXmlStreamReader::StartElement: {
            textLaenge = 0;
            const int ebene = ebeneImFormat(ebenen.isEmpty() ? 0 : ebenen.last(), ebenen.size() + 1, r.qualifiedName());
            ebenen.append(ebene);
            if (ebenen.size() > kMaxTiefe)
                return fehlerHier(QStringLiteral("Die Elemente sind tiefer als %1 Ebenen verschachtelt.").arg(kMaxTiefe));
            for (const QXmlStreamAttribute& a : r.attributes())
                if (a.value().size() > kMaxWertLaenge)
                    return fehlerHier(QStringLiteral("Der Wert von %1 ist l\u00e4nger als %2 Zeichen.")
                                          .arg(a.qualifiedName().toString())
                                          .arg(kMaxWertLaenge));
            if (ebene == 4) {
                imModul = 0;
                if (++module > kMaxModule)
                    return fehlerHier(QStringLiteral("Der Index nennt mehr als %1 Module.").arg(kMaxModule));
            }
            if (ebene >= 4 && (++imModul > kMaxModulElemente || ++gesamt > kMaxElementeGesamt))
                return fehlerHier(QStringLiteral("Der Index hat zu viele Elemente (h\u00f6chstens %1 je Modul, %2 insgesamt).")
                                      .arg(kMaxModulElemente)
                                      .arg(kMaxElementeGesamt));
            break;
        }
        case QXmlStreamReader::EndElement:
            textLaenge = 0;
            ebenen.removeLast();
            break;
        case QXmlStreamReader::Characters:
            textLaenge += r.text().size();
            if (!r.isWhitespace() && textLaenge > kMaxWertLaenge)
                return fehlerHier(QStringLiteral("Ein Text ist l\u00e4nger als %1 Zeichen.").arg(kMaxWertLaenge));
            break;
        default:
            break;
        }
    }
    if (r.hasError())
        return fehlerHier(r.errorString());
    return true;
}

// Reads the element the reader stands on, with everything inside, into a
// small document of its own: the per-module rules work on that. Text made of
// whitespace only is left out, as a DOM reader of the whole file did.
QDomElement leseTeilbaum(QXmlStreamReader& r, QDomDocument& dok)
{
    QDomNode eltern;
    QDomElement wurzel;
    int tiefe = 0;
    do {
        if (r.isStartElement()) {
            QDomElement e = dok.createElement(r.qualifiedName().toString());
            for (const QXmlStreamAttribute& a : r.attributes())
                e.setAttribute(a.qualifiedName().toString(), a.value().toString());
            if (tiefe++ == 0)
                wurzel = dok.appendChild(e).toElement();
            else
                eltern.appendChild(e);
            eltern = e;
        } else if (r.isEndElement()) {
            eltern = eltern.parentNode();
            if (--tiefe == 0)
                break;
        } else if (r.isCDATA()) {
            eltern.appendChild(dok.createCDATASection(r.text().toString()));
        } else if (r.isCharacters() && !r.isWhitespace()) {
            eltern.appendChild(dok.createTextNode(r.text().toString()));
        }
        r.readNext();
    } while (!r.atEnd());
    return wurzel;
}

bool alsZahl(const QDomElement& e, const QString& attribut, uint& wert, bool* vorhanden = nullptr)
{
    const bool da = e.hasAttribute(attribut);
    if (vorhanden)
        *vorhanden = da;
    bool ok = false;
    wert = da ? e.attribute(attribut).toUInt(&ok) : 0;
    if (!ok)
        wert = 0;
    return ok;
}

} // namespace

bool PluginManager::lesePluginInfoServer(bool technisch, QString& fehler, DlgPluginManagerDatenmodel* model)
{
    IV_LOG_EINTRITT();
    QElapsedTimer uhr;
    uhr.start();
    model->leereListe();
    if (technisch) {
        mp_PluginIvServer = nullptr;
        mp_PluginServiceServer = nullptr;
    }
    const QString zipName = technisch ? kTechIndexZip : kModulIndexZip;
    const QString xmlName = technisch ? kTechIndexXml : kModulIndexXml;
    const QString zipPfad = gibDirDaten() + zipName;

    // The index decides what gets installed: only the publisher's is read.
    QByteArray bytes;
    if (!Crypto::isFileValid(zipPfad)) {
        fehler = textAusLiteral("Die Indexdatei \"%1\" hat keine g&uuml;ltige Signatur.").arg(zipPfad);
        IV_LOG_ERROR(fehler);
        return false;
    }
    ZipArchiv archiv;
    if (!archiv.oeffne(zipPfad) || !archiv.leseEintrag(xmlName, bytes))
        IV_LOG_ERROR(archiv.errorString());
    if (!leseIndexXml(bytes, technisch, fehler, model))
        return false;
    IV_LOG_INFO(textAusLiteral("Ben&ouml;tigte Zeit zum Ermitteln verf&uuml;gbarer Programmmodule: %1 ms").arg(uhr.elapsed()));
    IV_LOG_AUSTRITT();
    return true;
}

bool PluginManager::leseIndexXml(const QByteArray& bytes, bool technisch, QString& fehler, DlgPluginManagerDatenmodel* model)
{
    const QString xmlName = technisch ? kTechIndexXml : kModulIndexXml;
    model->leereListe();
    if (technisch) {
        mp_PluginIvServer = nullptr;
        mp_PluginServiceServer = nullptr;
    }
    // Two passes: the first refuses a malformed or oversized document before
    // anything is taken from it; the second reads only the elements the format
    // defines, where it places them, one module at a time.
    IndexFehler pruefung;
    if (!pruefeIndex(bytes, pruefung)) {
        fehler = textAusLiteral("Das Parsen der Datei \"%1\" konnte nicht durchgef&uuml;hrt werden. Fehlermeldung: \"%2\" "
                                "Fehler in Zeile %3 Spalte %4")
                     .arg(xmlName, pruefung.meldung)
                     .arg(pruefung.zeile)
                     .arg(pruefung.spalte);
        IV_LOG_ERROR(fehler);
        return false;
    }
    QBuffer puffer;
    puffer.setData(bytes);
    puffer.open(QIODevice::ReadOnly);
    QXmlStreamReader r(&puffer);
    r.setNamespaceProcessing(false);
    r.readNextStartElement(); // the root, any name
    int b = -1;
    while (r.readNextStartElement()) {
        if (r.qualifiedName() != QLatin1String("Build")) {
            r.skipCurrentElement();
            continue;
        }
        ++b;
        int v = -1;
        while (r.readNextStartElement()) {
            if (r.qualifiedName() != QLatin1String("VZ")) {
                r.skipCurrentElement();
                continue;
            }
            ++v;
            if (r.attributes().isEmpty()) {
                IV_LOG_ERROR(QStringLiteral("Bei dem VZ (Nr = %1) des Build (Nr = %2) fehlen die Eigenschaften").arg(v).arg(b));
                r.skipCurrentElement();
                continue;
            }
            const QString jahrText = r.attributes().value(QStringLiteral("Jahr")).toString();
            bool jahrOk = false;
            uint jahr = jahrText.toUInt(&jahrOk);
            if (!jahrOk)
                jahr = 0;
            int p = -1;
            while (r.readNextStartElement()) {
                if (r.qualifiedName() != QLatin1String("Plugin")) {
                    r.skipCurrentElement();
                    continue;
                }
                ++p;
                QDomDocument modulDokument;
                const QDomElement e = leseTeilbaum(r, modulDokument);
                if (!e.hasAttributes()) {
                    IV_LOG_ERROR(textAusLiteral("Bei dem Steuererkl&auml;rungsmodul (PluginNr = %1, VzNr= %2, BuildNr = %3) fehlen die Eigenschaften")
                                     .arg(p).arg(v).arg(b));
                    continue;
                }
                const QString name = e.attribute(QStringLiteral("Name"));
                const QString kurzname = e.attribute(QStringLiteral("Kurzname"));
                auto meldeFehlt = [&](const char* was) {
                    IV_LOG_ERROR(textAusLiteral("Bei dem Steuererkl&auml;rungsmodul %1 %2 fehlt die Eigenschaft %3")
                                     .arg(name, jahrText, QString::fromLatin1(was)));
                };
                uint rev = 0, interfaceNr = 0, unterfallArt = 0;
                if (!alsZahl(e, QStringLiteral("Rev"), rev))
                    meldeFehlt("Rev");
                bool da = false;
                if (!alsZahl(e, QStringLiteral("InterfaceNr"), interfaceNr, &da)) {
                    if (!da)
                        meldeFehlt("InterfaceNr");
                    else
                        IV_LOG_ERROR(textAusLiteral("Bei dem Steuererkl&auml;rungsmodul %1 %2 kann die Eigenschaft InterfaceNr (Text= %3) nicht in eine Zahl konvertiert werden.")
                                         .arg(name, jahrText, e.attribute(QStringLiteral("InterfaceNr"))));
                }
                if (!alsZahl(e, QStringLiteral("UnterfallArt"), unterfallArt, &da)) {
                    if (!da)
                        meldeFehlt("Unterfallart");
                    else
                        IV_LOG_ERROR(textAusLiteral("Bei dem Steuererkl&auml;rungsmodul %1 %2 kann die Eigenschaft Unterfallart (Text= %3) nicht in eine Zahl konvertiert werden.")
                                         .arg(name, jahrText, e.attribute(QStringLiteral("UnterfallArt"))));
                }
                if (!e.hasAttribute(QStringLiteral("Version")))
                    meldeFehlt("Version");
                const QString version = e.attribute(QStringLiteral("Version"));

                const QDomElement techNr = e.firstChildElement(QStringLiteral("TechNr"));
                if (techNr.isNull()) {
                    IV_LOG_ERROR(textAusLiteral("Bei dem Steuererkl&auml;rungsmodul %1 %2 fehlt die TechNr").arg(name, jahrText));
                    continue;
                }
                uint nr[3] = { 0, 0, 0 };
                const char* nrNamen[3] = { "NrAlle", "NrGr", "NrPlugin" };
                bool nrOk = true;
                for (int i = 0; i < 3 && nrOk; ++i) {
                    if (!alsZahl(techNr, QString::fromLatin1(nrNamen[i]), nr[i])) {
                        meldeFehlt(nrNamen[i]);
                        nrOk = false;
                    }
                }
                if (!nrOk)
                    continue;

                QString zip, silent, size, md5, unzipSize;
                const QDomElement zipElement = e.firstChildElement(QStringLiteral("Zip"));
                if (zipElement.isNull()) {
                    IV_LOG_ERROR(textAusLiteral("Bei dem Steuererkl&auml;rungsmodul \"%1 %2\" fehlt der Installer").arg(name, jahrText));
                } else {
                    zip = zipElement.text().simplified();
                    if (!zipElement.hasAttributes()) {
                        IV_LOG_ERROR(textAusLiteral("Bei dem Steuererkl&auml;rungsmodul \"%1 %2\" fehlen die Attribute f&uuml;r den Installer.")
                                         .arg(name, jahrText));
                    } else {
                        silent = zipElement.attribute(QStringLiteral("Silent"));
                        size = zipElement.attribute(QStringLiteral("Size"));
                        md5 = zipElement.attribute(QStringLiteral("MD5"));
                        unzipSize = zipElement.attribute(QStringLiteral("UnzipFileSize"));
                    }
                }

                QList<Setup> setups;
                const QDomNodeList updates = e.elementsByTagName(QStringLiteral("Update_Zip"));
                if (updates.isEmpty() && kurzname == KURZNAME_KORA)
                    IV_LOG_INFO(textAusLiteral("F&uuml;r \"%1 %2\" gibt es kein Update.").arg(name, jahrText));
                for (int u = 0; u < updates.size(); ++u) {
                    const QDomElement upd = updates.at(u).toElement();
                    if (upd.isNull()) {
                        IV_LOG_ERROR(textAusLiteral("Das Steuererkl&auml;rungsmodul \"%1 %2\" des Build (Nr = %3) ist NULL.")
                                         .arg(name, jahrText).arg(b));
                        continue;
                    }
                    Setup setup;
                    setup.setzeDatei(upd.text());
                    if (!upd.hasAttributes()) {
                        IV_LOG_INFO(QStringLiteral("Bei \"%1 %2\" des Build (Nr = %3) fehlen die Eigenschaften bei dem Tag Update")
                                        .arg(name, jahrText).arg(b));
                    } else {
                        setup.setzeSilent(upd.attribute(QStringLiteral("Silent")));
                        setup.setzeMD5(upd.attribute(QStringLiteral("MD5")));
                        setup.setzeSize(upd.attribute(QStringLiteral("Size")));
                        setup.setzeUnzipFileSize(upd.attribute(QStringLiteral("UnzipFileSize")));
                        setup.setzeRev(upd.attribute(QStringLiteral("Rev")));
                    }
                    setups.append(setup);
                }

                QString selbstUpdate, dienst;
                if (technisch) {
                    const QDomElement param = e.firstChildElement(QStringLiteral("Param"));
                    if (param.isNull() || !param.hasAttributes()) {
                        IV_LOG_ERROR(textAusLiteral("Bei dem Steuererkl&auml;rungsmodul \"%1 %2\" fehlen die Attribute f&uuml;r den Tag Param.")
                                         .arg(name, jahrText));
                    } else {
                        selbstUpdate = param.attribute(QStringLiteral("SelbstUpdate"));
                        dienst = param.attribute(QStringLiteral("Dienst"));
                    }
                }

                auto plugin = std::make_unique<Plugin>();
                if (!plugin->init(techNr, name, kurzname, jahr, interfaceNr, nr[0], nr[1], nr[2], rev))
                    continue;
                plugin->setzeVersion(version);
                plugin->setzeZip(zip);
                plugin->setzeSilent(silent);
                plugin->setzeSize(size);
                plugin->setzeUnzipFileSize(unzipSize);
                plugin->setzeMD5(md5);
                plugin->setzeSetups(setups);
                plugin->setzeSelbstUpdate(technisch ? selbstUpdate : QString());
                plugin->setzeDienst(technisch ? dienst : QString());
                plugin->setzeUnterfallArt(unterfallArt);

                if (kurzname == KURZNAME_KORA)
                    setzePluginKoraVerfuegbar(plugin.release());
                else
                    model->fuegeHinzu(plugin.release());
            }
        }
    }
    return b >= 0;
}

bool PluginManager::leseServerInhaltsdatei()
{
    emit initStatusText(QStringLiteral("Die Indexdatei wird ausgewertet."), false);
    QString fehler;
    const bool ok = lesePluginInfoServer(false, fehler, mp_DatenmodelVerfuegbar);
    const QString kurz = QStringLiteral("Die Informationsdatei konnte nicht ausgewertet werden.");
    if (!ok) {
        mi_ServerStatus = 7;
        IV_LOG_ERROR(QStringLiteral("%1 %2 Ursache: %3").arg(kurz, QStringLiteral("Fiscalon kann nicht aktualisiert werden."), fehler));
        Einstellungen::setAdminErrorLongText(QStringLiteral("%1 Ursache: %2").arg(kurz, fehler));
        Einstellungen::setAdminErrorShortText(kurz);
    } else {
        Einstellungen::setAdminErrorLongText(QString());
        Einstellungen::setAdminErrorShortText(QString());
    }
    emit initStatusText(QString(), false);
    return ok;
}

void PluginManager::leseTechPluginDatei(bool& selbstUpdateNoetig, bool& serviceVerwenden, bool herunterladen)
{
    IV_LOG_EINTRITT();
    emit initStatusText(textAusLiteral("Es wird gepr&uuml;ft ob ein Selbst-Update erforderlich ist."), false);
    if (herunterladen) {
        const bool ok = holeDateiVomServer(gibDirDaten(), kTechIndexZip)
            && holeDateiVomServer(gibDirDaten(), kTechIndexZip + QStringLiteral(".sig"));
        if (!ok) {
            IV_LOG_ERROR(QStringLiteral("%1 Ursache: %2")
                             .arg(QStringLiteral("Die Verbindung zu dem Update-Server konnte nicht aufgebaut werden."),
                                  mp_DownloadManager->errorString()));
            selbstUpdateNoetig = serviceVerwenden = false;
            emit initStatusText(QString(), false);
            return;
        }
    }
    QString fehler;
    if (!lesePluginInfoServer(true, fehler, mp_DatenmodelTechnisch)) {
        IV_LOG_ERROR(QStringLiteral("%1 Ursache: %2")
                         .arg(QStringLiteral("Die Informationsdatei der technischen Plugins konnte nicht ausgewertet werden."), fehler));
        selbstUpdateNoetig = serviceVerwenden = false;
        emit initStatusText(QString(), false);
        return;
    }
    mp_PluginIvServer = nullptr;
    for (int i = 0; i < mp_DatenmodelTechnisch->anzahl(); ++i) {
        Plugin* p = mp_DatenmodelTechnisch->gibPlugin(i);
        if (!p) {
            IV_LOG_ERROR(textAusLiteral("Fehler beim Zugriff auf das %1. Plugin im Datenmodell verf&uuml;gbare technische Plugins.").arg(i + 1));
            continue;
        }
        if (p->gibKurzname() == DICT_BASIS_IV)
            mp_PluginIvServer = p;
        else if (p->gibKurzname() == DICT_BASIS_SERVICE)
            mp_PluginServiceServer = p;
    }
    if (!mp_PluginIvServer) {
        selbstUpdateNoetig = serviceVerwenden = false;
        emit initStatusText(QString(), false);
        return;
    }
    serviceVerwenden = mp_PluginIvServer->istDienst();
    if (!mp_PluginIvServer->istSelbstUpdate()) {
        selbstUpdateNoetig = false;
        return;
    }
    if (!lesePluginManagerDictInfoServiceDir() || !mp_PluginIvServiceDir) {
        selbstUpdateNoetig = true;
        emit initStatusText(QString(), false);
        return;
    }
    if (Plugin::vergleicheVersion(mp_PluginIvServiceDir, mp_PluginIvServer) == Plugin::ZUSTAND_ANDERES_GROESSER) {
        IV_LOG_INFO(QStringLiteral("Auf dem Server befindet sich eine neuere Version der Installationsverwaltung."));
        selbstUpdateNoetig = true;
    }
    emit initStatusText(QString(), false);
    IV_LOG_AUSTRITT();
}
