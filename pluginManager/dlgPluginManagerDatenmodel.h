#pragma once
// The list of modules of one side (installed, or offered by the server) and
// the table model the wizard shows it with. The engine keeps its records
// here: the model owns every record of its list; the main-application record
// is only referred to.

#include <QAbstractTableModel>
#include <QList>
#include <QStringList>
#include <QVector>

class Plugin;

class DlgPluginManagerDatenmodel : public QAbstractTableModel
{
    Q_OBJECT
public:
    enum Spalte { SPALTE_STEUERART = 0, SPALTE_JAHR = 1, SPALTE_HAKEN = 2, SPALTE_ENTFERNEN = 3 };

    explicit DlgPluginManagerDatenmodel(bool verfuegbar, QObject* parent = nullptr);
    ~DlgPluginManagerDatenmodel() override;

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role = Qt::EditRole) override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    void sort(int column, Qt::SortOrder order = Qt::AscendingOrder) override;

    // ---- the engine's container -------------------------------------------
    // Takes ownership. On an available model the model counts as filled.
    void fuegeHinzu(Plugin* plugin);
    // Not owned; null clears it.
    void setzeHauptanwendung(Plugin* plugin);
    Plugin* gibHauptanwendung() const { return mp_Hauptanwendung; }
    // Deletes every record of the list.
    void leereListe();
    // Record at list index i (list order, not row order); null when out of range.
    Plugin* gibPlugin(int i) const;
    int anzahl() const { return m_Plugins.size(); }
    const QList<Plugin*>& gibListe() const { return m_Plugins; }
    // Replaces the list; the old records are deleted unless they are in the
    // new one. Takes ownership of the new records.
    void setzeListe(const QList<Plugin*>& liste);
    // The displayed row of list index i, or -1 when that record is not shown.
    int zeileVonIndex(int i) const;
    // The record shown in `zeile`, or null.
    Plugin* gibPluginInZeile(int zeile) const;

    // Tells attached views that list entry i changed (all its columns).
    void aktualisiereZeile(int i);
    // Tells attached views that the shown rows are to be read again (after
    // filling, or after statuses hid records).
    void meldeZeilen();

    bool istVerfuegbar() const { return mb_Verfuegbar; }
    bool istGefuellt() const { return mb_Gefuellt; }
    void setzeGefuellt(bool wert) { mb_Gefuellt = wert; }
    bool istZusatzMerker() const { return mb_ZusatzMerker; }
    void setzeZusatzMerker(bool wert) { mb_ZusatzMerker = wert; }
    bool istAufsteigend() const { return mb_Aufsteigend; }
    // Carried with the list across the elevated restart.
    const QStringList& gibSpaltentitel() const { return m_Spaltentitel; }
    const QStringList& gibTooltipTitel() const { return m_TooltipTitel; }

    // Available model: records recommended as a new year of an installed declaration.
    int gibtAnzahlPluginsZurInstallationEmpfohlen() const;
    // Installed model: nothing left to update.
    bool sindAllePluginsAktuell() const;
    void zaehleNachUnterfallart(int& anzahlEinkommensteuer, int& anzahlAndere) const;

    // Whether the record's tick is set / a check box is shown in column 2.
    bool istHakenGesetzt(const Plugin* plugin) const;
    bool hatHakenfeld(const Plugin* plugin) const;

signals:
    void aenderung();

private:
    bool istSichtbar(const Plugin* plugin) const;
    QVariant hintergrund(const Plugin* plugin) const;
    QString tooltip(const Plugin* plugin) const;
    // <0, 0, >0 in ascending order of `spalte`.
    int vergleiche(const Plugin* a, const Plugin* b, int spalte) const;
    void meldeAlles();
    // The shown rows of the available list, counted again only when the list
    // or a record's istInstalliert() changed: views and the engine ask for
    // rows once per record, which made filling and planning quadratic.
    void zaehleZeilen() const;
    void vergissZeilen() { mb_ZeilenGueltig = false; }

    QList<Plugin*> m_Plugins;
    mutable QVector<int> m_ZeileVonIndex; // list index -> shown row, or -1
    mutable QVector<int> m_IndexVonZeile; // shown row -> list index
    mutable quint64 m_ZeilenStand = 0;    // Plugin::gibInstalliertStand() when counted
    mutable bool mb_ZeilenGueltig = false;
    Plugin* mp_Hauptanwendung = nullptr;
    QStringList m_Spaltentitel;
    QStringList m_TooltipTitel;
    const bool mb_Verfuegbar;
    bool mb_Gefuellt = false;
    bool mb_ZusatzMerker = false;
    bool mb_Aufsteigend = true;
};
