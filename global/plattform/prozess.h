#pragma once
// Starting a program as its own, independent process: a session of its own
// (our end and our signals do not reach it), default signal handling, no
// shell in between.

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>

namespace Plattform {

// Starts `programm` (a path) with `argumente` in `verzeichnis` (empty: ours)
// and `umgebung` ("NAME=wert" entries; empty list: our own environment).
// 0 and the PID, else the errno of the failed start.
int starteProzess(const QString& programm, const QStringList& argumente, const QString& verzeichnis,
                  const QList<QByteArray>& umgebung, qint64& pid);

} // namespace Plattform
