#pragma once
#include "global/crypto/dictparser_abstrakt.h"

// Comma-separated form: ISO 8859-15 text, a header line of at least nine
// fields, then "path,md5" lines, optionally a [description] block.
class DictParser_CSV : public DictParser_Abstrakt
{
    Q_OBJECT
public:
    using DictParser_Abstrakt::DictParser_Abstrakt;

public slots:
    bool pruefeFormat(const QByteArray& daten) override;
    // Checks no file checksums: pruefsummenPruefen is ignored.
    DictInfoZeiger interpretiereDaten(const QByteArray& daten, bool pruefsummenPruefen,
                                      const QString& pfad, int* fehlerCode) override;
};
