#pragma once
// Icons from the resources (":/iconSvg/<name>.svg"), cached by name. A missing
// resource gives the "keinBild" icon and a warning, never an empty icon.

#include <QIcon>
#include <QPixmap>
#include <QString>

namespace Icons {

QIcon gibIcon(const QString& name);
QPixmap gibPixmap(const QString& name, int breite, int hoehe = -1);
// <img src="data:image/png;base64,..." height=".." width=".." title=".."/>
QString gibHtmlBild(const QIcon& icon, int hoehe, int breite, const QString& titel = QString());
QString gibHtmlBild(const QString& name, int hoehe, int breite, const QString& titel = QString());
// Icon names of the message kinds 1 information, 2 warning, 3 critical, 4 question.
QString nameFuerArt(int art);

} // namespace Icons
