#pragma once
#include <QString>

class QWidget;

// Lets `w` lay itself out, writes it to ORDNER/NAME.png and prints the path.
// False (with a message on stderr) when the file cannot be written.
bool speichereBild(QWidget* w, const QString& ordner, const QString& name);
