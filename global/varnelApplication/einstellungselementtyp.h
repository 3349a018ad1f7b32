#pragma once
// Value checks of the proxy settings. The results follow QValidator's states,
// so the settings dialog can use them as validators unchanged.

#include <QString>

class EinstellungsElementTyp
{
public:
    enum Ergebnis { Ungueltig = 0, Unfertig = 1, Gueltig = 2 };

    virtual ~EinstellungsElementTyp();
    virtual Ergebnis pruefe(const QString& text) const = 0;
    bool istGueltig(const QString& text) const { return pruefe(text) == Gueltig; }
};

// Digits only (or empty); 65536 and above invalid, below 80 unfinished.
class PortEinstellungsTyp : public EinstellungsElementTyp
{
public:
    Ergebnis pruefe(const QString& text) const override;
};

// A host address; a dotted text is checked part by part, the worst part decides.
class IPAdresseEinstellungsTyp : public EinstellungsElementTyp
{
public:
    Ergebnis pruefe(const QString& text) const override;
};
