#include "pluginManager/plugin.h"

#include "global/crypto/dictparser_abstrakt.h"
#include "global/varnelApplication/logbase.h"
#include "global/varnelApplication/textausliteral.h"
#include "pluginManager/startwerte.h"

#include <QDir>
#include <QDomElement>
#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <memory>


std::atomic<quint64> Plugin::s_InstalliertStand { 0 };

namespace {

quint64 alsGroesse(const QString& text)
{
    bool ok = false;
    const quint64 wert = text.trimmed().toULongLong(&ok, 10);
    return ok ? wert : 0;
}

bool alsSchalter(const QString& text)
{
    return text.compare(QLatin1String("true"), Qt::CaseInsensitive) == 0
        || text.compare(QLatin1String("1"), Qt::CaseInsensitive) == 0;
}

// The stream form writes empty text as an empty (not a null) string, so that
// every reader sees the same bytes for "nothing".
QString fuerStrom(const QString& text)
{
    return text.isEmpty() ? QStringLiteral("") : text.trimmed();
}

QString kanonisch(const QString& pfad)
{
    return QFileInfo(pfad).canonicalFilePath();
}

bool istUnterhalb(const QString& kanonischerPfad, const QString& kanonischeBasis)
{
    if (kanonischerPfad.isEmpty() || kanonischeBasis.isEmpty())
        return false;
    if (kanonischerPfad == kanonischeBasis)
        return true;
    const QString praefix = kanonischeBasis.endsWith(QLatin1Char('/')) ? kanonischeBasis
                                                                       : kanonischeBasis + QLatin1Char('/');
    return kanonischerPfad.startsWith(praefix);
}

// Deletes `pfad` and sorts out why it failed. Returns 0 deleted, 1 missing,
// 2 present without write permission, 3 present and still not deleted.
int loescheEineDatei(const QString& pfad)
{
    QFile datei(pfad);
    if (datei.remove())
        return 0;
    const QFileInfo info(pfad);
    if (!info.exists() && !info.isSymLink())
        return 1;
    return info.isWritable() ? 3 : 2;
}

QString loeschFehlerText(int ergebnis, const QString& pfad)
{
    if (ergebnis == 2)
        return textAusLiteral("Die Datei \"%1\" konnte nicht gel&ouml;scht werden, da keine Schreibrechte gegeben sind.")
            .arg(pfad);
    return textAusLiteral("Die Datei \"%1\" konnte nicht gel&ouml;scht werden.").arg(pfad);
}

void haengeAn(QString& fehlerText, const QString& zeile)
{
    fehlerText = QStringLiteral("%1<br>%2").arg(fehlerText, zeile);
}

} // namespace

Plugin::Plugin(QObject* parent)
    : QObject(parent)
{
}

Plugin::~Plugin() = default;

bool Plugin::init(const QString& pfad)
{
    IV_LOG_EINTRITT();
    IV_LOG_INFO(textAusLiteral("Lese Dictionary '%1' ein.").arg(pfad));
    m_DictDatei = pfad;
    const QString nichtDekodiert
        = textAusLiteral("Der Inhalt der Datei (%1) konnte nicht dekodiert werden oder die Datei ist leer.").arg(pfad);

    std::unique_ptr<DictParser_Abstrakt> parser(erzeugeDictParser(pfad));
    if (!parser) {
        IV_LOG_ERROR(nichtDekodiert);
        IV_LOG_AUSTRITT();
        return false;
    }
    if (parser->leseDictionary(pfad, true, false) != DictParser_Abstrakt::OK) {
        IV_LOG_ERROR(nichtDekodiert);
        IV_LOG_AUSTRITT();
        return false;
    }
    const DictInfoZeiger info = parser->gibDictInfo();
    if (!info || !info->istVollstaendig()) {
        IV_LOG_ERROR(textAusLiteral("Der Inhalt der Datei (%1) ist unvollst&auml;ndig.").arg(pfad));
        IV_LOG_AUSTRITT();
        return false;
    }

    m_Name = info->langname;
    m_Kurzname = info->kurzname;
    m_Version = info->versionsNummer;
    m_InterfaceNr = static_cast<uint>(info->anwendungInterfaceNummer.toInt(nullptr, 10));
    m_UnterfallArt = info->unterfallArtID.toUInt(nullptr, 10);
    m_Rev = static_cast<uint>(info->revision.toInt(nullptr, 10));
    m_Jahr = static_cast<uint>(info->veranlagungszeitraum.toInt(nullptr, 10));
    m_NrAlle = static_cast<uint>(info->pluginAlleVersionsNummer.toInt(nullptr, 10));
    m_NrGr = static_cast<uint>(info->pluginGruppeVersionsNummer.toInt(nullptr, 10));
    m_NrPlugin = static_cast<uint>(info->pluginVersionsNummer.toInt(nullptr, 10));

    // The dictionary keeps its entries in a hash; sorted, the list is the
    // same on every run.
    QStringList dateien;
    dateien.reserve(info->dateien.size());
    for (auto it = info->dateien.cbegin(); it != info->dateien.cend(); ++it)
        dateien.append(it.value().pfad);
    std::sort(dateien.begin(), dateien.end());
    m_Dateien += dateien;

    mb_Initialisiert = true;
    IV_LOG_AUSTRITT();
    return true;
}

bool Plugin::init(const QDomElement& element, const QString& name, const QString& kurzname, uint jahr,
                  uint interfaceNr, uint nrAlle, uint nrGr, uint nrPlugin, uint rev)
{
    m_Name = name;
    m_Kurzname = kurzname;
    m_Jahr = jahr;
    m_InterfaceNr = interfaceNr;
    m_NrAlle = nrAlle;
    m_NrGr = nrGr;
    m_NrPlugin = nrPlugin;
    m_Rev = rev;
    m_Version = element.firstChildElement(QStringLiteral("Version")).text();

    const QDomElement daten = element.firstChildElement(QStringLiteral("Daten"));
    for (QDomElement datei = daten.firstChildElement(QStringLiteral("Datei")); !datei.isNull();
         datei = datei.nextSiblingElement(QStringLiteral("Datei"))) {
        if (!datei.hasAttributes())
            break;
        m_Dateien.append(QStringLiteral("%1;%2").arg(datei.attribute(QStringLiteral("Typ")),
                                                     datei.attribute(QStringLiteral("Pfad"))));
    }
    mb_Initialisiert = true;
    return true;
}

void Plugin::setzeSelbstUpdate(const QString& wert)
{
    mb_SelbstUpdate = alsSchalter(wert);
}

void Plugin::setzeDienst(const QString& wert)
{
    mb_Dienst = alsSchalter(wert);
}

void Plugin::setzeSize(const QString& wert)
{
    m_Size = alsGroesse(wert);
}

void Plugin::setzeUnzipFileSize(const QString& wert)
{
    m_UnzipFileSize = alsGroesse(wert);
}

// ---- status and planning ----------------------------------------------------

std::optional<Setup> Plugin::gibSetup(uint revision) const
{
    for (const Setup& s : m_Setups) {
        if (s.gibRevisionUi() == revision)
            return s;
    }
    return std::nullopt;
}

int Plugin::statusBitKompatibilitaet(int kompatibilitaet)
{
    switch (kompatibilitaet) {
    case KOMPATIBILITAET_GROESSER:
        return BIT_IF_GROESSER;
    case KOMPATIBILITAET_GLEICH:
        return BIT_IF_GLEICH;
    case KOMPATIBILITAET_KLEINER:
        return BIT_IF_KLEINER;
    default:
        return BIT_OHNE_HAUPTANWENDUNG;
    }
}

int Plugin::statusBitZustand(int zustand)
{
    switch (zustand) {
    case ZUSTAND_ANDERES_GROESSER:
        return BIT_UPDATE;
    case ZUSTAND_GLEICH:
        return BIT_GLEICH;
    case ZUSTAND_VERSCHIEDEN:
        return BIT_VERSCHIEDEN;
    case ZUSTAND_UNBEKANNT:
        return BIT_UNBEKANNT;
    default:
        return BIT_KEIN_GEGENUEBER;
    }
}

void Plugin::setzeStatus(int kompatibilitaet, int zustand)
{
    m_Status = statusBitKompatibilitaet(kompatibilitaet) | statusBitZustand(zustand);
}

int Plugin::vergleicheVersion(const Plugin* anderes) const
{
    return vergleicheVersion(this, anderes);
}

int Plugin::vergleicheVersion(const Plugin* basis, const Plugin* anderes)
{
    if (!anderes)
        return ZUSTAND_KEIN_GEGENUEBER;
    if (!basis)
        return ZUSTAND_ANDERES_GROESSER;
    // Not lexicographic: a greater number anywhere on the other side wins.
    const uint b[] = { basis->m_InterfaceNr, basis->m_NrAlle, basis->m_NrGr, basis->m_NrPlugin };
    const uint a[] = { anderes->m_InterfaceNr, anderes->m_NrAlle, anderes->m_NrGr, anderes->m_NrPlugin };
    bool gleich = true;
    for (int i = 0; i < 4; ++i) {
        if (a[i] > b[i])
            return ZUSTAND_ANDERES_GROESSER;
        if (a[i] != b[i])
            gleich = false;
    }
    return gleich ? ZUSTAND_GLEICH : ZUSTAND_VERSCHIEDEN;
}

bool Plugin::istGleichesPlugin(const Plugin* a, const Plugin* b)
{
    return a && b && a->m_Kurzname == b->m_Kurzname && a->m_Jahr == b->m_Jahr;
}

bool Plugin::istErneuerbar() const
{
    return m_Aktion == ERNEUERN || m_Status == (BIT_VERSCHIEDEN | BIT_IF_GLEICH)
        || m_Status == (BIT_UPDATE | BIT_IF_GLEICH);
}

bool Plugin::istInstallierbar() const
{
    return m_Status == (BIT_VERSCHIEDEN | BIT_IF_GLEICH) || m_Status == (BIT_UPDATE | BIT_IF_KLEINER)
        || m_Status == (BIT_KEIN_GEGENUEBER | BIT_IF_GLEICH);
}

bool Plugin::istNichtMehrUnterstuetzt() const
{
    return m_Aktion == ERNEUERN || m_Status == (BIT_KEIN_GEGENUEBER | BIT_IF_GROESSER)
        || m_Status == (BIT_KEIN_GEGENUEBER | BIT_IF_GLEICH) || m_Status == (BIT_KEIN_GEGENUEBER | BIT_IF_KLEINER);
}

// ---- derived texts ------------------------------------------------------------

QString Plugin::gibKurznameMitJahr() const
{
    if (!hatJahr())
        return m_Kurzname;
    return QStringLiteral("%1%2").arg(m_Kurzname, QString::number(m_Jahr).mid(2));
}

QString Plugin::gibNameHtml() const
{
    QString name = QString::fromLatin1(m_Name.toLatin1());
    struct Ersetzung {
        QLatin1String suche;
        QLatin1String ersatz;
        Qt::CaseSensitivity art;
    };
    static const Ersetzung tabelle[] = {
        { QLatin1String("klaerung"), QLatin1String("kl&auml;rung"), Qt::CaseSensitive },
        { QLatin1String("verlaengerung"), QLatin1String("verl&auml;ngerung"), Qt::CaseSensitive },
        { QLatin1String("Beguenstigung"), QLatin1String("Beg&uuml;nstigung"), Qt::CaseSensitive },
        { QLatin1String(" fuer "), QLatin1String(" f&uuml;r "), Qt::CaseSensitive },
        { QLatin1String("ueberschuss"), QLatin1String("&uuml;berschuss"), Qt::CaseSensitive },
        { QLatin1String("Paragraph"), QLatin1String("&sect;"), Qt::CaseSensitive },
        { QLatin1String("\"PARAGRAPH\""), QLatin1String("&sect;"), Qt::CaseInsensitive },
        { QLatin1String("\"UE\""), QLatin1String("&uuml;"), Qt::CaseInsensitive },
        { QLatin1String("\"OE\""), QLatin1String("&ouml;"), Qt::CaseInsensitive },
        { QLatin1String("\"AE\""), QLatin1String("&auml;"), Qt::CaseInsensitive },
        { QLatin1String("\"SS\""), QLatin1String("&szlig;"), Qt::CaseInsensitive },
        { QLatin1String("\"SZ\""), QLatin1String("&szlig;"), Qt::CaseInsensitive },
        { QLatin1String("\"GROSS_AE\""), QLatin1String("&Auml;"), Qt::CaseInsensitive },
        { QLatin1String("\"&Uuml;\""), QLatin1String("&Uuml;"), Qt::CaseInsensitive },
        { QLatin1String("\"GROSS_OE\""), QLatin1String("&Ouml;"), Qt::CaseInsensitive },
    };
    // Each replacement runs only when its text occurs exactly as written.
    for (const Ersetzung& e : tabelle) {
        if (name.contains(e.suche, Qt::CaseSensitive))
            name.replace(e.suche, e.ersatz, e.art);
    }
    return name;
}

QString Plugin::gibAnzeigename() const
{
    if (!hatJahr())
        return gibNameHtml();
    return QStringLiteral("%1 %2").arg(gibNameHtml(), QString::number(m_Jahr));
}

quint64 Plugin::gibGroesseDateien() const
{
    quint64 summe = 0;
    for (const QString& eintrag : m_Dateien) {
        const QString pfad = pfadImOrdner(gs_KoraDir, eintrag, true);
        if (pfad.isEmpty())
            continue;
        const QFileInfo info(pfad);
        if (info.isFile())
            summe += static_cast<quint64>(info.size());
    }
    return summe;
}

QString Plugin::gibZustandText(bool verfuegbar) const
{
    if (mb_Beschaedigt && !verfuegbar)
        return textAusLiteral("Besch&auml;digt: fehlende oder ge&auml;nderte Dateien. Wird neu installiert.");
    switch (m_Status & MASKE_ZUSTAND) {
    case BIT_UPDATE:
        if (verfuegbar)
            return textAusLiteral("zur Installation verf&uuml;gbar");
        return mb_KeinUpdatePaket ? textAusLiteral("Ist nicht aktuell aber es ist kein Update vorhanden.")
                                  : textAusLiteral("Es ist ein Update vorhanden.");
    case BIT_GLEICH:
        return verfuegbar ? textAusLiteral("ist bereits installiert") : textAusLiteral("ist aktuell");
    case BIT_VERSCHIEDEN:
        return verfuegbar ? textAusLiteral("zur Installation verf&uuml;gbar")
                          : textAusLiteral("Es ist kein Update vorhanden.");
    case BIT_KEIN_GEGENUEBER:
        if (!verfuegbar)
            return textAusLiteral("wird nicht mehr unterst&uuml;tzt");
        return mb_NeuerZeitraum ? textAusLiteral("neuer Zeitraum einer bereits installierten Steuererkl&auml;rung")
                                : textAusLiteral("zur Installation verf&uuml;gbar");
    case BIT_UNBEKANNT:
        return textAusLiteral("der Zustand ist unbekannt");
    default:
        return QString();
    }
}

QString Plugin::gibKompatibilitaetText() const
{
    switch (m_Status & MASKE_KOMPATIBILITAET) {
    case BIT_IF_GLEICH:
        return QStringLiteral("ja");
    case BIT_IF_GROESSER:
    case BIT_IF_KLEINER:
    case BIT_OHNE_HAUPTANWENDUNG:
        // Without a counterpart on the server no update will ever help.
        if (m_Status & BIT_KEIN_GEGENUEBER)
            return QStringLiteral("nein");
        return QStringLiteral("nein, erst nach Update");
    default:
        return QString();
    }
}

QString Plugin::gibStatusText(bool verfuegbar) const
{
    return gibZustandText(verfuegbar) + QStringLiteral("<br><b>kompatibel:</b> ") + gibKompatibilitaetText();
}

QString Plugin::gibAbbruchMeldung()
{
    QString verb;
    switch (m_Aktion) {
    case INSTALLIEREN:
        verb = QStringLiteral("installiert");
        break;
    case ERNEUERN:
        verb = QStringLiteral("erneuert");
        break;
    case ENTFERNEN:
        verb = QStringLiteral("entfernt");
        break;
    default:
        return QString();
    }
    m_Aktion = KEINE;
    const QString anzeigename = gibAnzeigename();
    const QString wer
        = anzeigename.contains(QLatin1String("Fiscalon")) ? QStringLiteral("Das Hauptprogram") : anzeigename;
    return textAusLiteral("\"%1\" wurde nicht %2, da die Aktion durch den Anwender abgebrochen wurde.")
        .arg(wer, verb);
}

// ---- files ----------------------------------------------------------------------

QString Plugin::pfadImOrdner(const QString& basis, const QString& relativ, bool letztesGliedFolgen,
                             QString* grund)
{
    auto ablehnen = [&](const QString& text) {
        if (grund)
            *grund = text;
        return QString();
    };
    if (basis.isEmpty())
        return ablehnen(QStringLiteral("kein Basisverzeichnis"));
    QString r = relativ;
    r.replace(QLatin1Char('\\'), QLatin1Char('/'));
    if (r.trimmed().isEmpty())
        return ablehnen(QStringLiteral("leerer Pfad"));
    if (r.startsWith(QLatin1Char('/')) || (r.size() >= 2 && r.at(1) == QLatin1Char(':')))
        return ablehnen(QStringLiteral("absoluter Pfad"));
    for (const QChar c : r) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7f)
            return ablehnen(QStringLiteral("Steuerzeichen im Pfad"));
    }
    QStringList glieder;
    for (const QString& g : r.split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
        if (g == QLatin1String(".."))
            return ablehnen(QStringLiteral("\"..\" im Pfad"));
        if (g != QLatin1String("."))
            glieder.append(g);
    }
    if (glieder.isEmpty())
        return ablehnen(QStringLiteral("der Pfad nennt keine Datei"));

    const QString kanonischeBasis = kanonisch(basis);
    if (kanonischeBasis.isEmpty())
        return ablehnen(QStringLiteral("das Basisverzeichnis existiert nicht"));

    // Follow the existing folders one by one: a link among them must not
    // lead out of the base.
    QString aktuell = kanonischeBasis;
    const int anzahlPruefen = letztesGliedFolgen ? glieder.size() : glieder.size() - 1;
    for (int i = 0; i < anzahlPruefen; ++i) {
        const QString naechstes = aktuell + QLatin1Char('/') + glieder.at(i);
        const QFileInfo info(naechstes);
        if (info.isSymLink()) {
            const QString ziel = info.canonicalFilePath();
            if (ziel.isEmpty() || !istUnterhalb(ziel, kanonischeBasis))
                return ablehnen(QStringLiteral("eine Verkn\u00fcpfung f\u00fchrt aus dem Verzeichnis"));
            aktuell = ziel;
        } else if (!info.exists()) {
            break; // nothing below a missing folder can be a link
        } else {
            aktuell = naechstes;
        }
    }
    return QDir::toNativeSeparators(QDir::cleanPath(basis + QLatin1Char('/') + glieder.join(QLatin1Char('/'))));
}

bool Plugin::liegtImOrdner(const QString& basis, const QString& pfad)
{
    const QString kanonischeBasis = kanonisch(basis);
    if (kanonischeBasis.isEmpty() || pfad.isEmpty())
        return false;
    const QFileInfo info(pfad);
    const QString ordner = kanonisch(info.absolutePath());
    return istUnterhalb(ordner + QLatin1Char('/') + info.fileName(), kanonischeBasis);
}

bool Plugin::kopiereDatei(const QString& quelle, const QString& ziel)
{
    const QFileInfo zielInfo(ziel);
    if (zielInfo.exists() || zielInfo.isSymLink()) {
        if (!QFile::remove(ziel))
            IV_LOG_ERROR(textAusLiteral("Die Datei \"%1\" konnte nicht gel&ouml;scht werden.").arg(ziel));
    }
    const QString zielOrdner = zielInfo.absolutePath();
    if (!QFileInfo(zielOrdner).isDir())
        QDir().mkpath(zielOrdner);
    if (QFile::copy(quelle, ziel))
        return true;

    if (!QFileInfo::exists(quelle))
        IV_LOG_ERROR(textAusLiteral("Die Datei \"%1\" konnte nicht kopiert werden, da sie nicht existiert.").arg(quelle));
    else if (QFileInfo::exists(ziel))
        IV_LOG_ERROR(textAusLiteral("Die Datei \"%1\" konnte nicht kopiert werden, da sie schon im Zielverzeichnis existiert.")
                         .arg(quelle));
    else
        IV_LOG_ERROR(textAusLiteral("Die Datei \"%1\" konnte nicht kopiert werden.").arg(quelle));
    // Single files that fail are logged; the copy as a whole goes on.
    return true;
}

bool Plugin::kopiereAlleDateien(const QString& zielVerzeichnis) const
{
    IV_LOG_EINTRITT();
    if (m_Dateien.isEmpty()) {
        IV_LOG_INFO(textAusLiteral("Plugin \"%1\"; Die Liste der zu kopierenden Dateien ist leer.").arg(gibAnzeigename()));
        IV_LOG_AUSTRITT();
        return true;
    }
    const QFileInfo dictInfo(m_DictDatei);
    const QString quellVerzeichnis
        = QDir::toNativeSeparators(QDir::cleanPath(dictInfo.absolutePath() + QStringLiteral("/..")));
    if (m_DictDatei.isEmpty() || !QFileInfo(quellVerzeichnis).isDir()) {
        IV_LOG_ERROR(textAusLiteral("Das Quell-Verzeichnis \"%1\" existiert nicht.").arg(quellVerzeichnis));
        IV_LOG_AUSTRITT();
        return false;
    }
    const QString ziel = QDir::toNativeSeparators(zielVerzeichnis);
    if (!QFileInfo(ziel).isDir()) {
        IV_LOG_INFO(textAusLiteral("Das Ziel-Verzeichnis \"%1\" wird erzeugt.").arg(ziel));
        if (!QDir().mkpath(ziel)) {
            IV_LOG_ERROR(textAusLiteral("Das Ziel-Verzeichnis \"%1\" konnte nicht erzeugt werden.").arg(ziel));
            IV_LOG_AUSTRITT();
            return false;
        }
    }

    for (const QString& eintrag : m_Dateien) {
        QString grund;
        const QString quelle = pfadImOrdner(quellVerzeichnis, eintrag, true, &grund);
        const QString zielDatei = quelle.isEmpty() ? QString() : pfadImOrdner(ziel, eintrag, false, &grund);
        if (quelle.isEmpty() || zielDatei.isEmpty()) {
            IV_LOG_ERROR(textAusLiteral("Die Datei \"%1\" wird nicht kopiert, da sie au&szlig;erhalb des Verzeichnisses liegt (%2).")
                             .arg(eintrag, grund));
            continue;
        }
        kopiereDatei(quelle, zielDatei);
    }

    const QString zielDict = ziel + QDir::separator() + QStringLiteral("dict") + QDir::separator();
    kopiereDatei(m_DictDatei, zielDict + dictInfo.fileName());
    const QString signatur = QStringLiteral("%1.sig").arg(m_DictDatei);
    kopiereDatei(signatur, zielDict + QFileInfo(signatur).fileName());
    IV_LOG_AUSTRITT();
    return true;
}

bool Plugin::loescheAlleDateien(QString& fehlerText, bool nurDictionary)
{
    IV_LOG_EINTRITT();
    fehlerText.clear();
    if (m_Dateien.isEmpty()) {
        IV_LOG_INFO(textAusLiteral("Plugin \"%1\"; Die Liste der zu l&ouml;schenden Dateien ist leer.").arg(gibAnzeigename()));
        IV_LOG_AUSTRITT();
        return true;
    }

    // A dictionary path that leads out of the installation (a record read
    // back from a tampered list) is never deleted, and such a record
    // removes nothing at all: checked before the first file goes.
    const QString dict = QDir::toNativeSeparators(m_DictDatei);
    const bool dictEndung = dict.endsWith(QLatin1String(".dict"), Qt::CaseInsensitive)
        || dict.endsWith(QLatin1String(".vdict"), Qt::CaseInsensitive);
    if (!dictEndung || !liegtImOrdner(gs_KoraDir, dict)) {
        const QString zeile = textAusLiteral("Die Datei \"%1\" wird nicht gel&ouml;scht, da sie au&szlig;erhalb des Verzeichnisses \"%2\" liegt.")
                                  .arg(dict, gs_KoraDir);
        IV_LOG_ERROR(zeile);
        haengeAn(fehlerText, zeile);
        IV_LOG_AUSTRITT();
        return false;
    }

    if (!nurDictionary) {
        for (int i = m_Dateien.size() - 1; i >= 0; --i) {
            QString grund;
            const QString pfad = pfadImOrdner(gs_KoraDir, m_Dateien.at(i), false, &grund);
            if (pfad.isEmpty()) {
                // Not ours to touch: the entry is dropped, the file stays.
                IV_LOG_ERROR(textAusLiteral("Die Datei \"%1\" wird nicht gel&ouml;scht, da sie au&szlig;erhalb des Verzeichnisses \"%2\" liegt (%3).")
                                 .arg(m_Dateien.at(i), gs_KoraDir, grund));
                m_Dateien.removeAt(i);
                continue;
            }
            const int ergebnis = loescheEineDatei(pfad);
            if (ergebnis == 0) {
                m_Dateien.removeAt(i);
            } else if (ergebnis == 1) {
                m_Dateien.removeAt(i);
                IV_LOG_INFO(textAusLiteral("Die Datei \"%1\" konnte nicht gel&ouml;scht werden, da sie nicht mehr existiert.").arg(pfad));
            } else {
                const QString zeile = loeschFehlerText(ergebnis, pfad);
                IV_LOG_ERROR(zeile);
                haengeAn(fehlerText, zeile);
            }
        }
        if (!m_Dateien.isEmpty()) {
            // The dictionary stays, so the part still counts as installed.
            IV_LOG_AUSTRITT();
            return false;
        }
    }

    bool ok = true;
    for (const QString& pfad : { dict, QStringLiteral("%1.sig").arg(dict) }) {
        const int ergebnis = loescheEineDatei(pfad);
        if (ergebnis == 1) {
            IV_LOG_INFO(textAusLiteral("Die Datei \"%1\" konnte nicht gel&ouml;scht werden, da sie nicht mehr existiert.").arg(pfad));
        } else if (ergebnis != 0) {
            const QString zeile = loeschFehlerText(ergebnis, pfad);
            IV_LOG_ERROR(zeile);
            haengeAn(fehlerText, zeile);
            ok = false;
        }
    }
    IV_LOG_AUSTRITT();
    return ok;
}

// ---- stream form ---------------------------------------------------------------

QDataStream& operator<<(QDataStream& aus, const Plugin& p)
{
    aus << fuerStrom(p.gibNameHtml()) << fuerStrom(p.gibKurzname()) << fuerStrom(p.gibZip())
        << fuerStrom(p.gibSilent()) << fuerStrom(QString::number(p.gibSize())) << fuerStrom(p.gibMD5())
        << fuerStrom(p.gibReserviert1()) << fuerStrom(p.gibReserviert2());
    const QList<Setup> setups = p.gibSetups();
    aus << static_cast<qint32>(setups.size());
    for (const Setup& s : setups)
        aus << s;
    aus << p.gibVersion() << QString::number(p.gibInterfaceNr()) << QString::number(p.gibUnterfallArt())
        << QString::number(p.gibRev()) << QString::number(p.gibJahr()) << QString::number(p.gibNrAlle())
        << QString::number(p.gibNrGr()) << QString::number(p.gibNrPlugin());
    aus << p.gibDateien();
    aus << QString::number(p.gibStatus()) << QString::number(p.gibAktion()) << p.istInitialisiert()
        << p.gibDictDatei() << p.istKeinUpdatePaket();
    return aus;
}

QDataStream& operator>>(QDataStream& ein, Plugin& p)
{
    QString name, kurzname, zip, silent, groesse, md5, reserviert1, reserviert2;
    ein >> name >> kurzname >> zip >> silent >> groesse >> md5 >> reserviert1 >> reserviert2;
    qint32 anzahlSetups = 0;
    ein >> anzahlSetups;
    QList<Setup> setups;
    // A damaged count must neither loop for ever nor allocate at will: the
    // stream runs dry long before.
    for (qint32 i = 0; i < anzahlSetups && ein.status() == QDataStream::Ok; ++i) {
        Setup s;
        ein >> s;
        if (ein.status() == QDataStream::Ok)
            setups.append(s);
    }
    QString version, interfaceNr, unterfallArt, rev, jahr, nrAlle, nrGr, nrPlugin;
    ein >> version >> interfaceNr >> unterfallArt >> rev >> jahr >> nrAlle >> nrGr >> nrPlugin;
    // Read like a QStringList, but without reserving room for a count that
    // a damaged file may make up.
    QStringList dateien;
    quint32 anzahlDateien = 0;
    ein >> anzahlDateien;
    for (quint32 i = 0; i < anzahlDateien && ein.status() == QDataStream::Ok; ++i) {
        QString datei;
        ein >> datei;
        if (ein.status() == QDataStream::Ok)
            dateien.append(datei);
    }
    QString status, aktion, dictDatei;
    bool initialisiert = false, keinUpdatePaket = false;
    ein >> status >> aktion >> initialisiert >> dictDatei >> keinUpdatePaket;

    p.m_Name = name;
    p.m_Kurzname = kurzname;
    p.m_Zip = zip;
    p.m_Silent = silent;
    p.m_Size = alsGroesse(groesse);
    p.m_UnzipFileSize = 0;
    p.m_MD5 = md5;
    p.m_Reserviert1 = reserviert1;
    p.m_Reserviert2 = reserviert2;
    p.m_Setups = setups;
    p.m_Version = version;
    p.m_InterfaceNr = interfaceNr.toUInt(nullptr, 10);
    p.m_UnterfallArt = unterfallArt.toUInt(nullptr, 10);
    p.m_Rev = rev.toUInt(nullptr, 10);
    p.m_Jahr = jahr.toUInt(nullptr, 10);
    p.m_NrAlle = nrAlle.toUInt(nullptr, 10);
    p.m_NrGr = nrGr.toUInt(nullptr, 10);
    p.m_NrPlugin = nrPlugin.toUInt(nullptr, 10);
    p.m_Dateien = dateien;
    p.m_Status = status.toInt(nullptr, 10);
    p.m_Aktion = aktion.toInt(nullptr, 10);
    p.mb_Initialisiert = initialisiert;
    p.m_DictDatei = dictDatei;
    p.mb_KeinUpdatePaket = keinUpdatePaket;
    p.mb_SelbstUpdate = false;
    p.mb_Dienst = false;
    p.setzeIstInstalliert(false);
    p.mb_NeuerZeitraum = false;
    if (ein.status() != QDataStream::Ok) {
        p.mb_Initialisiert = false;
        IV_LOG_ERROR(QStringLiteral("Der Datensatz \"%1\" konnte nicht vollst\u00e4ndig gelesen werden.").arg(name));
    }
    return ein;
}
