#include "global/varnelApplication/einstellungselementtyp.h"

#include <QHostAddress>
#include <QRegularExpression>
#include <QStringList>
#include <algorithm>

EinstellungsElementTyp::~EinstellungsElementTyp() = default;

EinstellungsElementTyp::Ergebnis PortEinstellungsTyp::pruefe(const QString& text) const
{
    const QString t = text.simplified();
    if (t.isEmpty())
        return Unfertig;
    static const QRegularExpression nurZiffern(QStringLiteral("^[0-9]+$"));
    if (!nurZiffern.match(t).hasMatch())
        return Ungueltig;
    // Long digit strings overflow any integer: they are far above 65535.
    bool ok = false;
    const qulonglong wert = t.toULongLong(&ok);
    if (!ok || wert >= 65536)
        return Ungueltig;
    return wert < 80 ? Unfertig : Gueltig;
}

EinstellungsElementTyp::Ergebnis IPAdresseEinstellungsTyp::pruefe(const QString& text) const
{
    if (text.isEmpty())
        return Unfertig;
    QHostAddress adresse;
    if (adresse.setAddress(text))
        return Gueltig;
    if (!text.contains(QLatin1Char('.')))
        return Unfertig;
    Ergebnis schlechtestes = Gueltig;
    for (const QString& teil : text.split(QLatin1Char('.'))) {
        if (teil.isEmpty()) {
            schlechtestes = std::min(schlechtestes, Unfertig);
            continue;
        }
        bool ok = false;
        const int zahl = teil.toInt(&ok);
        if (!ok || zahl < 0 || zahl > 255)
            return Ungueltig;
    }
    return schlechtestes;
}
