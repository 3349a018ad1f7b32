#pragma once
#include <QHash>
#include <QString>
#include <QStringList>

#include "global/crypto/dictparser_abstrakt.h"

class DictionaryHelper
{
public:
    // File lines "path,md5" of the comma-separated form. Lines with fewer than
    // two fields are logged and skipped, empty fields skipped silently, unsafe
    // paths (see istSichererPfad) logged and skipped; a later entry for the
    // same path replaces the earlier one.
    static QHash<QString, DictEintrag> dateienAusZeilen(const QStringList& zeilen, const QString& pfad);

    // True when a dictionary path stays inside the part's folder: relative,
    // no ".." or "." component (with "/" or "\" as separator), no drive
    // letter, no control characters, not empty.
    static bool istSichererPfad(const QString& relativerPfad);

    // The native full path of an entry below basisVerzeichnis (the folder that
    // holds "dict"); empty when the entry is unsafe. Every caller that turns a
    // dictionary path into a file path (checksums, copying, deleting) goes
    // through here.
    static QString vollerPfad(const QString& basisVerzeichnis, const QString& relativerPfad);

    // The content of a dictionary file: Base64, line breaks and blanks
    // allowed. Any other character makes the whole file undecodable (empty
    // result), so damaged files are not half-read.
    static QByteArray dekodiere(const QByteArray& base64);

    // Compares every listed file below the folder above the dictionary's
    // "dict" with its checksum, logging each missing or different one.
    // False when at least one failed.
    static bool pruefeDateien(const DictInfo& info, const QString& dictPfad);
};
