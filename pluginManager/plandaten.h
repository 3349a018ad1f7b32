#pragma once
// The planned work carried across the elevated restart: the first process
// (the user's) writes the two module lists and three records to five files
// in the engine's data folder; the elevated process (root) reads them back.
// The folder is the user's, so the reader takes every byte as hostile: what
// is here decodes and checks one file's bytes without touching the disk, so
// that the tests and the fuzzer see exactly what the elevated process sees.

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <memory>
#include <vector>

class DlgPluginManagerDatenmodel;
class Plugin;

namespace Plandaten {

// The five files, in the order they are written and read.
enum Art { PLUGIN_CLIENT = 0, PLUGIN_SERVER = 1, KORA_CLIENT = 2, KORA_SERVER = 3, SERVICE_SERVER = 4, ANZAHL_ARTEN = 5 };
QString dateiname(int art);

// Bounds for what the elevated process accepts. The module count is the one
// the server index reader allows; the file size bounds everything else.
constexpr qint64 kMaxDateiGroesse = 64 * 1024 * 1024;
constexpr int kMaxModule = 20000;
constexpr int kMaxTitel = 16;              // entries of a model's title lists
constexpr int kMaxSetups = 1000;           // update packages of one record
constexpr int kMaxDateien = 50000;         // file entries of one record
constexpr int kMaxTextLaenge = 16 * 1024;  // characters of any one string

// The raw marker of a missing record; not a serialised string.
extern const QByteArray NULL_MARKE;

// Byte images as written: the list stream form and the record stream form
// (a null record gives NULL_MARKE).
QByteArray bildVonListe(const DlgPluginManagerDatenmodel& model);
QByteArray bildVonPlugin(const Plugin* plugin);

// One file's content, decoded and checked.
struct Inhalt
{
    // The list files.
    bool verfuegbar = false;
    bool gefuellt = false;
    QStringList titel;
    QStringList tooltips;
    std::vector<std::unique_ptr<Plugin>> plugins;
    // The record files; null for the "NULL" form.
    std::unique_ptr<Plugin> plugin;
};

// Decodes `bytes` as the file `art`. `koraDir` is the main-application folder
// the dictionary paths of installed records must lie in (empty: none may
// carry one). False with a German reason in `grund`; `aus` is then to be
// thrown away.
bool leseInhalt(int art, const QByteArray& bytes, const QString& koraDir, Inhalt& aus, QString& grund);

// Checks one record read from file `art`; false with the reason.
bool pruefePlugin(const Plugin& plugin, int art, const QString& koraDir, QString& grund);

// Single checks, shared with the tests.
bool istEinfacherName(const QString& name);  // a file name without folder part
bool istMd5(const QString& text);            // 32 hexadecimal digits

} // namespace Plandaten
