#include "pluginManager/dlgPluginManagerDatenmodel.h"

#include "global/varnelApplication/einstellungen.h"
#include "global/varnelApplication/logbase.h"
#include "global/varnelApplication/textausliteral.h"
#include "pluginManager/plugin.h"

#include <QColor>
#include <QSet>

namespace {

const QColor hellgruen(144, 238, 144);
const QColor hellgelb(255, 255, 153);
const QColor tomatenrot(255, 99, 71);
const QColor himmelblau(135, 206, 250);

bool enthaelt(std::initializer_list<int> liste, int wert)
{
    for (int w : liste) {
        if (w == wert)
            return true;
    }
    return false;
}

} // namespace

DlgPluginManagerDatenmodel::DlgPluginManagerDatenmodel(bool verfuegbar, QObject* parent)
    : QAbstractTableModel(parent)
    , mb_Verfuegbar(verfuegbar)
{
    if (verfuegbar)
        m_Spaltentitel = QStringList { QStringLiteral("Steuerart"), QStringLiteral("Jahr"), QStringLiteral("installieren") };
    else
        m_Spaltentitel = QStringList { QStringLiteral("Steuerart"), QStringLiteral("Jahr"),
                                       QStringLiteral("aktualisieren"), QStringLiteral("entfernen") };
    m_TooltipTitel = QStringList { QStringLiteral("Name"), QStringLiteral("Version"), QStringLiteral("Status") };
}

DlgPluginManagerDatenmodel::~DlgPluginManagerDatenmodel()
{
    qDeleteAll(m_Plugins);
    m_Plugins.clear();
    vergissZeilen();
}

bool DlgPluginManagerDatenmodel::istSichtbar(const Plugin* plugin) const
{
    return plugin && (!mb_Verfuegbar || !plugin->istInstalliert());
}

int DlgPluginManagerDatenmodel::rowCount(const QModelIndex& parent) const
{
    if (parent.isValid())
        return 0;
    if (!mb_Verfuegbar)
        return m_Plugins.size();
    zaehleZeilen();
    return m_IndexVonZeile.size();
}

void DlgPluginManagerDatenmodel::zaehleZeilen() const
{
    if (mb_ZeilenGueltig && m_ZeilenStand == Plugin::gibInstalliertStand())
        return;
    m_ZeilenStand = Plugin::gibInstalliertStand();
    m_ZeileVonIndex.resize(m_Plugins.size());
    m_IndexVonZeile.clear();
    for (int i = 0; i < m_Plugins.size(); ++i) {
        m_ZeileVonIndex[i] = istSichtbar(m_Plugins.at(i)) ? m_IndexVonZeile.size() : -1;
        if (m_ZeileVonIndex[i] >= 0)
            m_IndexVonZeile.append(i);
    }
    mb_ZeilenGueltig = true;
}

int DlgPluginManagerDatenmodel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : m_Spaltentitel.size();
}

Plugin* DlgPluginManagerDatenmodel::gibPlugin(int i) const
{
    return i >= 0 && i < m_Plugins.size() ? m_Plugins.at(i) : nullptr;
}

Plugin* DlgPluginManagerDatenmodel::gibPluginInZeile(int zeile) const
{
    if (zeile < 0)
        return nullptr;
    if (!mb_Verfuegbar)
        return gibPlugin(zeile);
    zaehleZeilen();
    return zeile < m_IndexVonZeile.size() ? m_Plugins.at(m_IndexVonZeile.at(zeile)) : nullptr;
}

int DlgPluginManagerDatenmodel::zeileVonIndex(int i) const
{
    if (i < 0 || i >= m_Plugins.size())
        return -1;
    if (!mb_Verfuegbar)
        return i;
    zaehleZeilen();
    return m_ZeileVonIndex.at(i);
}

bool DlgPluginManagerDatenmodel::istHakenGesetzt(const Plugin* plugin) const
{
    if (!plugin)
        return false;
    return plugin->gibAktion() == (mb_Verfuegbar ? Plugin::INSTALLIEREN : Plugin::ERNEUERN);
}

bool DlgPluginManagerDatenmodel::hatHakenfeld(const Plugin* plugin) const
{
    if (!plugin)
        return false;
    return mb_Verfuegbar ? plugin->istInstallierbar() : plugin->istErneuerbar();
}

QVariant DlgPluginManagerDatenmodel::hintergrund(const Plugin* p) const
{
    const int s = p->gibStatus();
    if (mb_Verfuegbar) {
        if (p->istNeuerZeitraum() || s == 0x12)
            return himmelblau;
        if (s == 0x22)
            return hellgruen;
        if (enthaelt({ 0x11, 0x14, 0x18, 0x21, 0x24, 0x28, 0x41, 0x42, 0x44, 0x48, 0x81, 0x82, 0x84, 0x88,
                       0x101, 0x102, 0x104, 0x108 },
                     s))
            return QColor(Qt::white);
        return QVariant();
    }
    if (s == 0x21 || s == 0x22)
        return hellgruen;
    if (enthaelt({ 0x41, 0x42, 0x44 }, s))
        return hellgelb;
    if (enthaelt({ 0x81, 0x82, 0x84 }, s))
        return tomatenrot;
    if (enthaelt({ 0x11, 0x12, 0x14, 0x18, 0x24, 0x28, 0x48, 0x88, 0x101, 0x102, 0x104, 0x108 }, s))
        return QColor(Qt::white);
    return QVariant();
}

QString DlgPluginManagerDatenmodel::tooltip(const Plugin* p) const
{
    QString text = QStringLiteral("<table>");
    for (int i = 0; i < m_TooltipTitel.size(); ++i) {
        QString wert;
        switch (i) {
        case 0:
            wert = p->gibAnzeigename();
            break;
        case 1:
            wert = QString::number(p->gibRev());
            break;
        case 2:
            wert = p->gibStatusText(mb_Verfuegbar);
            break;
        default:
            break;
        }
        if (wert.isEmpty())
            continue;
        text += QStringLiteral("<tr><td><b>%1</b>: %2</td></tr>").arg(m_TooltipTitel.at(i), wert);
    }
    text += QStringLiteral("</table>");
    return text;
}

QVariant DlgPluginManagerDatenmodel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.column() >= m_Spaltentitel.size())
        return QVariant();
    const Plugin* p = gibPluginInZeile(index.row());
    if (!p)
        return QVariant();
    const int spalte = index.column();

    switch (role) {
    case Qt::DisplayRole:
        if (spalte == SPALTE_STEUERART)
            return p->gibNameHtml();
        if (spalte == SPALTE_JAHR)
            return p->gibJahr() == 9999 ? QStringLiteral("alle") : QString::number(p->gibJahr());
        return QVariant();
    case Qt::TextAlignmentRole:
        if (spalte == SPALTE_JAHR)
            return static_cast<int>(Qt::AlignHCenter | Qt::AlignVCenter);
        return QVariant();
    case Qt::BackgroundRole:
        return hintergrund(p);
    case Qt::ToolTipRole:
        return tooltip(p);
    case Qt::CheckStateRole:
        if (mb_Verfuegbar) {
            if (spalte == SPALTE_HAKEN && p->istInstallierbar())
                return p->gibAktion() == Plugin::INSTALLIEREN ? Qt::Checked : Qt::Unchecked;
            return QVariant();
        }
        if (spalte == SPALTE_HAKEN) {
            if (p->gibAktion() == Plugin::ERNEUERN)
                return Qt::Checked;
            if (p->istErneuerbar())
                return Qt::Unchecked;
            return QVariant();
        }
        if (spalte == SPALTE_ENTFERNEN)
            return p->gibAktion() == Plugin::ENTFERNEN ? Qt::Checked : Qt::Unchecked;
        return QVariant();
    default:
        return QVariant();
    }
}

bool DlgPluginManagerDatenmodel::setData(const QModelIndex& index, const QVariant& value, int role)
{
    Q_UNUSED(value)
    if (!index.isValid())
        return false;
    Plugin* p = gibPluginInZeile(index.row());
    if (!p)
        return false;

    // A tick toggles the planned action; which column was ticked does not
    // matter (activating a row toggles it the same way).
    if (role == Qt::CheckStateRole) {
        const int aktion = p->gibAktion();
        if (mb_Verfuegbar) {
            if (p->istInstallierbar())
                p->setzeAktion(aktion == Plugin::INSTALLIEREN ? Plugin::KEINE : Plugin::INSTALLIEREN);
        } else if (p->istErneuerbar()) {
            p->setzeAktion(aktion == Plugin::ENTFERNEN ? Plugin::ERNEUERN : Plugin::ENTFERNEN);
        } else if (p->istNichtMehrUnterstuetzt() && mp_Hauptanwendung
                   && mp_Hauptanwendung->gibAktion() == Plugin::ERNEUERN) {
            // The new main application no longer supports it: it stays marked for removal.
            p->setzeAktion(Plugin::ENTFERNEN);
        } else {
            p->setzeAktion(aktion == Plugin::ENTFERNEN ? Plugin::KEINE : Plugin::ENTFERNEN);
        }
    }
    emit dataChanged(this->index(index.row(), 0), this->index(index.row(), columnCount() - 1));
    emit aenderung();
    return true;
}

QVariant DlgPluginManagerDatenmodel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation == Qt::Horizontal && role == Qt::DisplayRole && section >= 0 && section < m_Spaltentitel.size())
        return m_Spaltentitel.at(section);
    return QAbstractTableModel::headerData(section, orientation, role);
}

Qt::ItemFlags DlgPluginManagerDatenmodel::flags(const QModelIndex& index) const
{
    // Cells only: the root index carries no flags (views take them for the table's).
    if (!index.isValid())
        return Qt::NoItemFlags;
    return Qt::ItemIsEnabled | Qt::ItemIsUserCheckable;
}

int DlgPluginManagerDatenmodel::vergleiche(const Plugin* a, const Plugin* b, int spalte) const
{
    auto vergleicheZahl = [](uint x, uint y) { return x < y ? -1 : (x > y ? 1 : 0); };
    switch (spalte) {
    case SPALTE_STEUERART:
        return QString::localeAwareCompare(a->gibNameHtml(), b->gibNameHtml());
    case SPALTE_JAHR:
        return vergleicheZahl(a->gibJahr(), b->gibJahr());
    case SPALTE_HAKEN: {
        const int c = vergleicheZahl(istHakenGesetzt(a), istHakenGesetzt(b));
        return c != 0 ? c : vergleicheZahl(hatHakenfeld(a), hatHakenfeld(b));
    }
    case SPALTE_ENTFERNEN:
        return vergleicheZahl(a->gibAktion() == Plugin::ENTFERNEN, b->gibAktion() == Plugin::ENTFERNEN);
    default:
        return 0;
    }
}

void DlgPluginManagerDatenmodel::sort(int column, Qt::SortOrder order)
{
    IV_LOG_EINTRITT();
    mb_Aufsteigend = (order == Qt::AscendingOrder);
    const bool nachJahren = (column == SPALTE_JAHR);
    if (mb_Verfuegbar) {
        Einstellungen::setKoraSortiereVerfuegbareAufsteigend(mb_Aufsteigend);
        Einstellungen::setKoraSortiereVerfuegbareNachJahren(nachJahren);
    } else {
        Einstellungen::setKoraSortiereInstallierteAufsteigend(mb_Aufsteigend);
        Einstellungen::setKoraSortiereInstallierteNachJahren(nachJahren);
    }

    const bool sortierbar = column == SPALTE_STEUERART || column == SPALTE_JAHR || column == SPALTE_HAKEN
        || (column == SPALTE_ENTFERNEN && !mb_Verfuegbar);
    if (!sortierbar) {
        IV_LOG_AUSTRITT();
        return;
    }

    // Whether a must move behind its right-hand neighbour b. Ties that the
    // column leaves open are decided the same way in both directions: equal
    // names put the later year first, equal years are ordered by name.
    auto mussTauschen = [&](const Plugin* a, const Plugin* b) {
        if (!a || !b)
            return !a && b; // null entries collect at the end
        const int c = vergleiche(a, b, column);
        if (c != 0)
            return mb_Aufsteigend ? c > 0 : c < 0;
        if (column == SPALTE_STEUERART)
            return a->gibJahr() < b->gibJahr();
        if (column == SPALTE_JAHR)
            return QString::localeAwareCompare(a->gibNameHtml(), b->gibNameHtml()) > 0;
        return false;
    };

    // Neighbour exchanges keep equal keys in their order.
    bool getauscht = false;
    for (bool nochmal = true; nochmal;) {
        nochmal = false;
        for (int i = 0; i + 1 < m_Plugins.size(); ++i) {
            if (mussTauschen(m_Plugins.at(i), m_Plugins.at(i + 1))) {
                m_Plugins.swapItemsAt(i, i + 1);
                vergissZeilen();
                nochmal = getauscht = true;
            }
        }
    }
    if (getauscht)
        meldeAlles();
    IV_LOG_AUSTRITT();
}

void DlgPluginManagerDatenmodel::meldeAlles()
{
    const int zeilen = rowCount();
    if (zeilen > 0)
        emit dataChanged(index(0, 0), index(zeilen - 1, columnCount() - 1));
    emit aenderung();
}

void DlgPluginManagerDatenmodel::fuegeHinzu(Plugin* plugin)
{
    if (!plugin)
        return;
    plugin->setParent(nullptr); // owned through the list, never by a Qt parent as well
    // The rows counted so far stay valid: one more at the end.
    const auto haengeAn = [this, plugin] {
        const bool gueltig = mb_ZeilenGueltig && m_ZeilenStand == Plugin::gibInstalliertStand();
        m_Plugins.append(plugin);
        if (!gueltig)
            return vergissZeilen();
        const bool sichtbar = istSichtbar(plugin);
        m_ZeileVonIndex.append(sichtbar ? m_IndexVonZeile.size() : -1);
        if (sichtbar)
            m_IndexVonZeile.append(m_Plugins.size() - 1);
    };
    if (istSichtbar(plugin)) {
        const int zeile = rowCount();
        beginInsertRows(QModelIndex(), zeile, zeile);
        haengeAn();
        endInsertRows();
    } else {
        haengeAn();
    }
    if (mb_Verfuegbar)
        mb_Gefuellt = true;
}

void DlgPluginManagerDatenmodel::setzeHauptanwendung(Plugin* plugin)
{
    mp_Hauptanwendung = plugin;
}

void DlgPluginManagerDatenmodel::leereListe()
{
    beginResetModel();
    const QList<Plugin*> alt = m_Plugins;
    m_Plugins.clear();
    vergissZeilen();
    qDeleteAll(alt);
    endResetModel();
}

void DlgPluginManagerDatenmodel::setzeListe(const QList<Plugin*>& liste)
{
    beginResetModel();
    QSet<Plugin*> bleiben;
    for (Plugin* p : liste)
        bleiben.insert(p);
    QSet<Plugin*> geloescht;
    for (Plugin* p : qAsConst(m_Plugins)) {
        if (p && !bleiben.contains(p) && !geloescht.contains(p)) {
            geloescht.insert(p);
            delete p;
        }
    }
    m_Plugins.clear();
    for (Plugin* p : liste) {
        if (p)
            m_Plugins.append(p);
    }
    vergissZeilen();
    endResetModel();
}

void DlgPluginManagerDatenmodel::aktualisiereZeile(int i)
{
    const int zeile = zeileVonIndex(i);
    // A shown row by construction: index() would count the rows twice more.
    if (zeile >= 0)
        emit dataChanged(createIndex(zeile, 0), createIndex(zeile, columnCount() - 1));
    emit aenderung();
}

void DlgPluginManagerDatenmodel::meldeZeilen()
{
    // Whether a record is shown depends on its status, which the engine
    // changes behind the model's back; views read everything again.
    beginResetModel();
    vergissZeilen();
    endResetModel();
}

int DlgPluginManagerDatenmodel::gibtAnzahlPluginsZurInstallationEmpfohlen() const
{
    int anzahl = 0;
    for (int i = 0; i < m_Plugins.size(); ++i) {
        const Plugin* p = m_Plugins.at(i);
        if (!p) {
            IV_LOG_ERROR(textAusLiteral("Fehler beim Zugriff auf das %1. Plugin im Datenmodell verf&uuml;gbare Plugins.")
                             .arg(i + 1));
            continue;
        }
        if (p->istNeuerZeitraum())
            ++anzahl;
    }
    return anzahl;
}

bool DlgPluginManagerDatenmodel::sindAllePluginsAktuell() const
{
    for (int i = 0; i < m_Plugins.size(); ++i) {
        const Plugin* p = m_Plugins.at(i);
        if (!p) {
            IV_LOG_ERROR(textAusLiteral("Fehler beim Zugriff auf das %1. Plugin im Datenmodell installierte Plugins.")
                             .arg(i + 1));
            continue;
        }
        if (!enthaelt({ 0x22, 0x81, 0x82, 0x84 }, p->gibStatus()))
            return false;
    }
    return true;
}

void DlgPluginManagerDatenmodel::zaehleNachUnterfallart(int& anzahlEinkommensteuer, int& anzahlAndere) const
{
    anzahlEinkommensteuer = 0;
    anzahlAndere = 0;
    for (const Plugin* p : m_Plugins) {
        if (!p)
            continue;
        if (p->gibUnterfallArt() == 10)
            ++anzahlEinkommensteuer;
        else
            ++anzahlAndere;
    }
}
