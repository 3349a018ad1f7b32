#pragma once
// Finding and reading the dictionaries of an installation.

#include <QString>
#include <QStringList>

#include "global/crypto/dictparser_abstrakt.h"

namespace CryptoHelper {

// Reads directory + "/" + fileName; on success info holds the result. Every
// failure is logged with the message of its error code.
bool getDictInfo(const QString& fileName, DictInfo& info, const QString& directory, bool signaturPruefen,
                 bool pruefsummenPruefen);

// Sorts the dictionaries in rootPath/dict by their signature: gueltige gets
// paths relative to rootPath ("dict/est_10.dict"), ungueltige the full paths
// (native separators). Lets pending events run once per file.
void leseDictDateiListe(const QString& rootPath, QStringList& gueltige, QStringList& ungueltige, bool mitVdict);

// "*.dict" (and "*.vdict") names in directory, by name ignoring case.
QStringList searchAllDictionariesInDicrectory(const QString& directory, bool mitVdict);

// Base64-decoded content read as ISO 8859-15; empty when unreadable.
QString leseDictText(const QString& pfad);

// The main application's "kora_0.dict" in the "dict" beside directory
// (signature checked, checksums not).
bool getKoraDictInfo(DictInfo& info, const QString& directory);

} // namespace CryptoHelper
