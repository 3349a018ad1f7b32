#pragma once
#include "global/crypto/dictparser_abstrakt.h"

// JSON form: {"dict": {"dictVersion": "1", ..., "dateien": [{"pfad": "md5"}, ...]}}.
class DictParser_JSON : public DictParser_Abstrakt
{
    Q_OBJECT
public:
    using DictParser_Abstrakt::DictParser_Abstrakt;

public slots:
    bool pruefeFormat(const QByteArray& daten) override;
    // With pruefsummenPruefen every listed file is compared with its MD5;
    // any missing or different file gives code 6 (after all were visited).
    DictInfoZeiger interpretiereDaten(const QByteArray& daten, bool pruefsummenPruefen,
                                      const QString& pfad, int* fehlerCode) override;
};
