#pragma once
// One installable part of the suite: the main application ("kora"), a
// tax-declaration module, the installation manager or the update service.
// The same record serves both sides of the comparison: installed parts are
// filled from their signed dictionaries, offered parts from the server index.

#include "pluginManager/setup.h"

#include <QDataStream>
#include <QList>
#include <QObject>
#include <atomic>
#include <QString>
#include <QStringList>
#include <optional>

class QDomElement;

class Plugin : public QObject
{
    Q_OBJECT
public:
    // The planned action of a module.
    enum Aktion { KEINE = 0, INSTALLIEREN = 1, ERNEUERN = 2, ENTFERNEN = 3 };

    // The module's interface number against the reference main application.
    enum Kompatibilitaet {
        KOMPATIBILITAET_GROESSER = 0,           // module's number greater
        KOMPATIBILITAET_GLEICH = 1,
        KOMPATIBILITAET_KLEINER = 2,            // module's number smaller
        KOMPATIBILITAET_OHNE_HAUPTANWENDUNG = 3 // no reference main application
    };

    // Result of vergleicheVersion, or of a missing counterpart.
    enum Zustand {
        ZUSTAND_ANDERES_GROESSER = 0, // the other side is greater somewhere: update
        ZUSTAND_GLEICH = 1,
        ZUSTAND_VERSCHIEDEN = 2,      // different, the other side greater nowhere
        ZUSTAND_KEIN_GEGENUEBER = 3,
        ZUSTAND_UNBEKANNT = 4         // the server's modules were not read
    };

    // The status word: one compatibility bit OR one state bit.
    enum StatusBit : int {
        BIT_IF_GROESSER = 0x001,
        BIT_IF_GLEICH = 0x002,
        BIT_IF_KLEINER = 0x004,
        BIT_OHNE_HAUPTANWENDUNG = 0x008,
        BIT_VERSCHIEDEN = 0x010,
        BIT_GLEICH = 0x020,
        BIT_UPDATE = 0x040,
        BIT_KEIN_GEGENUEBER = 0x080,
        BIT_UNBEKANNT = 0x100,
    };
    static constexpr int MASKE_KOMPATIBILITAET = 0x00F;
    static constexpr int MASKE_ZUSTAND = 0x1F0;

    explicit Plugin(QObject* parent = nullptr);
    ~Plugin() override;

    // Fills the record from the signed dictionary at `pfad`; false (logged)
    // when it cannot be read or is incomplete.
    bool init(const QString& pfad);
    // Server form: the values of the index entry plus "Version" and the
    // "Daten"/"Datei" elements below `element`.
    bool init(const QDomElement& element, const QString& name, const QString& kurzname, uint jahr,
              uint interfaceNr, uint nrAlle, uint nrGr, uint nrPlugin, uint rev);

    // ---- fields ------------------------------------------------------------
    QString gibName() const { return m_Name; }
    QString gibKurzname() const { return m_Kurzname; }
    QString gibDictDatei() const { return m_DictDatei; }
    bool istSelbstUpdate() const { return mb_SelbstUpdate; }
    bool istDienst() const { return mb_Dienst; }
    QString gibZip() const { return m_Zip; }
    QString gibSilent() const { return m_Silent; }
    quint64 gibSize() const { return m_Size; }
    quint64 gibUnzipFileSize() const { return m_UnzipFileSize; }
    QString gibMD5() const { return m_MD5; }
    QList<Setup> gibSetups() const { return m_Setups; }
    QString gibReserviert1() const { return m_Reserviert1; }
    QString gibReserviert2() const { return m_Reserviert2; }
    QString gibVersion() const { return m_Version; }
    uint gibInterfaceNr() const { return m_InterfaceNr; }
    uint gibUnterfallArt() const { return m_UnterfallArt; }
    uint gibRev() const { return m_Rev; }
    uint gibJahr() const { return m_Jahr; }
    uint gibNrAlle() const { return m_NrAlle; }
    uint gibNrGr() const { return m_NrGr; }
    uint gibNrPlugin() const { return m_NrPlugin; }
    QStringList gibDateien() const { return m_Dateien; }
    int gibStatus() const { return m_Status; }
    int gibAktion() const { return m_Aktion; }
    bool istInitialisiert() const { return mb_Initialisiert; }
    bool istInstalliert() const { return mb_IstInstalliert; }
    bool istNeuerZeitraum() const { return mb_NeuerZeitraum; }
    bool istKeinUpdatePaket() const { return mb_KeinUpdatePaket; }
    // Found damaged after a stopped run and planned for repair.
    bool istBeschaedigt() const { return mb_Beschaedigt; }
    void setzeBeschaedigt(bool wert) { mb_Beschaedigt = wert; }

    void setzeName(const QString& wert) { m_Name = wert; }
    void setzeKurzname(const QString& wert) { m_Kurzname = wert; }
    void setzeDictDatei(const QString& wert) { m_DictDatei = wert; }
    void setzeSelbstUpdate(bool wert) { mb_SelbstUpdate = wert; }
    // Server index text: "true" or "1" in any case sets, anything else clears.
    void setzeSelbstUpdate(const QString& wert);
    void setzeDienst(bool wert) { mb_Dienst = wert; }
    void setzeDienst(const QString& wert);
    void setzeZip(const QString& wert) { m_Zip = wert; }
    void setzeSilent(const QString& wert) { m_Silent = wert; }
    // Text from the server index; anything but a decimal number stores 0.
    void setzeSize(const QString& wert);
    void setzeSize(quint64 wert) { m_Size = wert; }
    void setzeUnzipFileSize(const QString& wert);
    void setzeUnzipFileSize(quint64 wert) { m_UnzipFileSize = wert; }
    void setzeMD5(const QString& wert) { m_MD5 = wert; }
    void setzeSetups(const QList<Setup>& wert) { m_Setups = wert; }
    void fuegeSetupsHinzu(const QList<Setup>& wert) { m_Setups += wert; }
    void setzeVersion(const QString& wert) { m_Version = wert; }
    void setzeInterfaceNr(uint wert) { m_InterfaceNr = wert; }
    void setzeUnterfallArt(uint wert) { m_UnterfallArt = wert; }
    void setzeRev(uint wert) { m_Rev = wert; }
    void setzeJahr(uint wert) { m_Jahr = wert; }
    void setzeNrAlle(uint wert) { m_NrAlle = wert; }
    void setzeNrGr(uint wert) { m_NrGr = wert; }
    void setzeNrPlugin(uint wert) { m_NrPlugin = wert; }
    void setzeDateien(const QStringList& wert) { m_Dateien = wert; }
    void fuegeDateienHinzu(const QStringList& wert) { m_Dateien += wert; }
    void setzeStatus(int wert) { m_Status = wert; }
    void setzeAktion(int wert) { m_Aktion = wert; }
    void setzeInitialisiert(bool wert) { mb_Initialisiert = wert; }
    void setzeIstInstalliert(bool wert)
    {
        if (wert != mb_IstInstalliert)
            ++s_InstalliertStand;
        mb_IstInstalliert = wert;
    }
    // Changes with every change of istInstalliert() of any record: lists
    // that show only some records know when to count their rows again.
    static quint64 gibInstalliertStand() { return s_InstalliertStand; }
    void setzeNeuerZeitraum(bool wert) { mb_NeuerZeitraum = wert; }
    void setzeKeinUpdatePaket(bool wert) { mb_KeinUpdatePaket = wert; }

    // ---- status and planning -------------------------------------------
    // The first update package for `revision`; none when there is no match.
    std::optional<Setup> gibSetup(uint revision) const;
    // Stores bit(kompatibilitaet) | bit(zustand); out-of-range values give
    // "no main application" and "no counterpart".
    void setzeStatus(int kompatibilitaet, int zustand);
    static int statusBitKompatibilitaet(int kompatibilitaet);
    static int statusBitZustand(int zustand);
    // Zustand of this record against `anderes`: InterfaceNr, NrAlle, NrGr and
    // NrPlugin are each tested for being greater on the other side.
    int vergleicheVersion(const Plugin* anderes) const;
    static int vergleicheVersion(const Plugin* basis, const Plugin* anderes);
    // Same module: equal Kurzname and Jahr.
    static bool istGleichesPlugin(const Plugin* a, const Plugin* b);
    bool hatJahr() const { return m_Jahr != 9999 && m_Jahr != 0; }

    // Installed list: ticking "aktualisieren" is possible.
    bool istErneuerbar() const;
    // Available list: ticking "installieren" is possible.
    bool istInstallierbar() const;
    // Installed list: not offered any more (or already planned for update).
    bool istNichtMehrUnterstuetzt() const;

    // ---- derived texts ---------------------------------------------------
    QString gibKurznameMitJahr() const;
    QString gibNameHtml() const;
    QString gibAnzeigename() const;
    // Sum of the sizes of the listed files found in the main-application directory.
    quint64 gibGroesseDateien() const;
    QString gibStatusText(bool verfuegbar) const;
    QString gibZustandText(bool verfuegbar) const;
    QString gibKompatibilitaetText() const;
    // The user's cancellation message for the planned action; resets the action.
    QString gibAbbruchMeldung();

    // ---- files -------------------------------------------------------------
    bool kopiereAlleDateien(const QString& zielVerzeichnis) const;
    static bool kopiereDatei(const QString& quelle, const QString& ziel);
    bool loescheAlleDateien(QString& fehlerText, bool nurDictionary);

    // `relativ` below `basis` as a native absolute path, or empty (reason in
    // `grund`) when it would leave `basis`: absolute paths, drive letters,
    // "..", control characters, or folders that are links to outside. With
    // `letztesGliedFolgen` a link as the last component must stay inside too
    // (reading through it); without, the link itself is what is touched.
    static QString pfadImOrdner(const QString& basis, const QString& relativ, bool letztesGliedFolgen,
                                QString* grund = nullptr);
    // Whether `pfad` (existing or not) lies in `basis` once links are resolved.
    static bool liegtImOrdner(const QString& basis, const QString& pfad);

private:
    QString m_Name;
    QString m_Kurzname;
    QString m_DictDatei;
    bool mb_SelbstUpdate = false;
    bool mb_Dienst = false;
    QString m_Zip;
    QString m_Silent;
    quint64 m_Size = 0;
    quint64 m_UnzipFileSize = 0;
    QString m_MD5;
    QList<Setup> m_Setups;
    QString m_Reserviert1;
    QString m_Reserviert2;
    QString m_Version;
    uint m_InterfaceNr = 0;
    uint m_UnterfallArt = 0;
    uint m_Rev = 0;
    uint m_Jahr = 0;
    uint m_NrAlle = 0;
    uint m_NrGr = 0;
    uint m_NrPlugin = 0;
    QStringList m_Dateien;
    int m_Status = 0;
    int m_Aktion = KEINE;
    bool mb_Initialisiert = false;
    bool mb_IstInstalliert = false;
    static std::atomic<quint64> s_InstalliertStand;
    bool mb_NeuerZeitraum = false;
    bool mb_KeinUpdatePaket = false;
    bool mb_Beschaedigt = false;

    friend QDataStream& operator>>(QDataStream& ein, Plugin& plugin);
};

// The form the module lists are kept in across a restart. The name is
// written through gibNameHtml, so a record read back holds the HTML form.
// UnzipFileSize, SelbstUpdate, Dienst, istInstalliert and neuerZeitraum are
// not part of it. A stream that ends early leaves the record uninitialised.
QDataStream& operator<<(QDataStream& aus, const Plugin& plugin);
QDataStream& operator>>(QDataStream& ein, Plugin& plugin);
