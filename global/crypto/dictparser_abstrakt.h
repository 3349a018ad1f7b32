#pragma once
// Dictionary files (".dict", ".vdict"): Base64 text of a comma-separated or a
// JSON description of an installed part and its files with MD5 checksums.

#include <QByteArray>
#include <QHash>
#include <QObject>
#include <QSharedPointer>
#include <QString>
#include <QStringList>

// One file of a part. `pfad` is relative to the folder above "dict", exactly
// as written in the dictionary; entries that could leave that folder ("..",
// absolute paths, drive letters) never get here (see DictionaryHelper).
struct DictEintrag
{
    QString pfad;
    QString pruefsumme;
    QString dictDatei;
};

struct DictInfo
{
    QString versionsNummer;
    QString anwendungInterfaceNummer;
    QString revision;
    QString kurzname;
    QString veranlagungszeitraum;
    QString langname;
    QString pluginAlleVersionsNummer;
    QString pluginGruppeVersionsNummer;
    QString signaturGueltig = QStringLiteral("false"); // "true" / "false"
    QString kategorie;
    QString unterfallArtID;
    int sortierKriterium = -1;
    bool datenUebernahmeAusVorjahr = false;
    bool datenUebernahmeAusVormonat = false;
    QString beschreibung;
    QHash<QString, DictEintrag> dateien;
    QString pluginVersionsNummer;
    QString berechnungVersionsNummer;

    // Complete when unterfallArtID + veranlagungszeitraum is not empty.
    bool istVollstaendig() const { return !(unterfallArtID + veranlagungszeitraum).isEmpty(); }
};

using DictInfoZeiger = QSharedPointer<DictInfo>;

class DictParser_Abstrakt : public QObject
{
    Q_OBJECT
public:
    // Error codes of a parse.
    enum Fehler {
        OK = 0,
        DICT_FEHLT = 1,
        DATEI_FEHLT = 2,
        NICHT_LESBAR = 3,
        LEER = 4,
        NICHT_INTERPRETIERBAR = 5,
        PRUEFSUMME_FALSCH = 6,
    };

    explicit DictParser_Abstrakt(QObject* parent = nullptr);
    ~DictParser_Abstrakt() override;

    // Whole run: optional signature test (an invalid signature only sets
    // signaturGueltig "false"), read, interpret. Returns the error code.
    int leseDictionary(const QString& pfad, bool signaturPruefen, bool pruefsummenPruefen);
    // Null before a successful parse.
    DictInfoZeiger gibDictInfo() const { return mp_DictInfo; }

signals:
    void starteDictionaryInterpetation(DictParser_Abstrakt* parser);
    void dictionaryInterpetationBeendet(DictParser_Abstrakt* parser);

public slots:
    virtual bool pruefeFormat(const QByteArray& daten) = 0;
    // Returns the DictInfo (may be null) and sets *fehlerCode.
    virtual DictInfoZeiger interpretiereDaten(const QByteArray& daten, bool pruefsummenPruefen,
                                              const QString& pfad, int* fehlerCode) = 0;
    // 2 file missing, 3 cannot be opened, else 0 and the whole content.
    virtual int leseDatei(const QString& pfad, QByteArray& daten);

protected:
    DictInfoZeiger mp_DictInfo;
};

// The parser whose format test accepts the file (comma-separated first, then
// JSON), or null. The caller owns it.
DictParser_Abstrakt* erzeugeDictParser(const QString& pfad);
