#pragma once
// The update server's file tree, built from release folders: every part as a
// zip archive, the update packages of the main application, the two signed
// index archives and the signed redirect file that points the manager at the
// release directory. Everything the manager compares is deterministic: the
// same release folders give byte-identical archives, whatever the time stamps
// or permissions of their files.

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

namespace ServerVz {

// Below the document root; the manager's base URL ends in this path.
QString basisPfad();  // "download/pm/win_18_0"

struct Auftrag
{
    QString dokumentwurzel;
    QString release;                       // name of the release directory
    QString umleitung;                     // "userredirect", "qsredirect" or "qsredirect_<Rev>"
    QStringList teile;                     // release folders, each holds dict/<one dictionary>
    QList<QPair<uint, QString>> updates;   // older main-application revision -> package folder
    QString selbstUpdate = QStringLiteral("true");  // "Param" of the manager
    QString dienst = QStringLiteral("true");
    QByteArray privatPem;
    bool ueberschreiben = false;           // replace an existing release directory
};

// The name of the redirect file for production (leer) or QS, with an
// optional revision; empty when the revision is not a plain number.
QString umleitungsName(bool qs, const QString& revision);

// Builds the tree. Each line of `protokoll` is one written file for the
// user. Everything is read and checked before the first write; the release
// directory is built beside its place and swapped in whole, and the redirect
// file is written last.
bool baue(const Auftrag& auftrag, QStringList& protokoll, QString& fehler);

// Sets every entry of the archive to one fixed time and a normalised Unix
// mode (0644, or 0755 for owner-executable files) so that the archive bytes
// depend on content and names only.
bool normalisiereArchiv(const QString& zipPfad, QString& fehler);

} // namespace ServerVz
