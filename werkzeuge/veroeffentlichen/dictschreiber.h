#pragma once
// Writes the dictionary of a part's folder: header values, then every file
// below the folder (except its "dict" folder) with its MD5, Base64-encoded,
// in the comma-separated or the JSON form the engine reads.

#include <QMap>
#include <QString>
#include <QStringList>

namespace DictSchreiber {

enum class Form { CSV, JSON };

// The header members, named as in the JSON form.
QStringList kopfNamen();

struct Auftrag
{
    QString ordner;               // the part's folder (holds "dict")
    QString name;                 // e.g. "est_10.dict"
    Form form = Form::JSON;
    QMap<QString, QString> kopf;  // member name -> value (kopfNamen())
    QString beschreibung;
};

// Paths relative to ordner with "/", sorted; "dict/" itself left out.
QStringList sammleDateien(const QString& ordner, QString& fehler);

// The file content (Base64 text). Fails for values the form cannot carry.
bool baueInhalt(const Auftrag& auftrag, QByteArray& inhalt, QString& fehler);

// Writes ordner/dict/name; returns its path in dictPfad.
bool schreibe(const Auftrag& auftrag, QString& dictPfad, QString& fehler);

} // namespace DictSchreiber
