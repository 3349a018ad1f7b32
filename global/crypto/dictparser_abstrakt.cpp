#include "global/crypto/dictparser_abstrakt.h"

#include <QFile>
#include <QFileInfo>

#include "global/crypto/crypto.h"
#include "global/crypto/dictparser_csv.h"
#include "global/crypto/dictparser_json.h"
#include "global/varnelApplication/logbase.h"
#include "global/varnelApplication/textausliteral.h"

DictParser_Abstrakt::DictParser_Abstrakt(QObject* parent)
    : QObject(parent)
{
}

DictParser_Abstrakt::~DictParser_Abstrakt() = default;

int DictParser_Abstrakt::leseDatei(const QString& pfad, QByteArray& daten)
{
    if (!QFileInfo::exists(pfad))
        return DATEI_FEHLT;
    QFile f(pfad);
    if (!f.open(QIODevice::ReadOnly))
        return NICHT_LESBAR;
    daten = f.readAll();
    return OK;
}

int DictParser_Abstrakt::leseDictionary(const QString& pfad, bool signaturPruefen, bool pruefsummenPruefen)
{
    IV_LOG_EINTRITT();
    emit starteDictionaryInterpetation(this);

    bool signaturGueltig = false;
    if (signaturPruefen) {
        signaturGueltig = Crypto::isFileValid(pfad);
        if (!signaturGueltig)
            IV_LOG_ERROR(textAusLiteral("Die Dict-Datei [%1] ist nicht valid.").arg(pfad));
    } else {
        IV_LOG_DEBUG(textAusLiteral("Die Dict-Datei [%1] soll nicht gepr&uuml;ft werden.").arg(pfad));
    }

    QByteArray daten;
    int code = leseDatei(pfad, daten);
    if (code != OK) {
        emit dictionaryInterpetationBeendet(this);
        IV_LOG_AUSTRITT();
        return code;
    }

    code = NICHT_INTERPRETIERBAR;
    mp_DictInfo = interpretiereDaten(daten, pruefsummenPruefen, pfad, &code);
    if (mp_DictInfo)
        mp_DictInfo->signaturGueltig = signaturGueltig ? QStringLiteral("true") : QStringLiteral("false");

    emit dictionaryInterpetationBeendet(this);
    IV_LOG_AUSTRITT();
    return code;
}

DictParser_Abstrakt* erzeugeDictParser(const QString& pfad)
{
    DictParser_Abstrakt* kandidaten[] = { new DictParser_CSV, new DictParser_JSON };
    DictParser_Abstrakt* gewaehlt = nullptr;
    for (DictParser_Abstrakt* p : kandidaten) {
        QByteArray daten;
        if (!gewaehlt && p->leseDatei(pfad, daten) == DictParser_Abstrakt::OK && p->pruefeFormat(daten))
            gewaehlt = p;
        else
            delete p;
    }
    return gewaehlt;
}
