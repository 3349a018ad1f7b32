#pragma once
// The engine's questions answered with real dialogs.

#include "global/varnelApplication/rueckfrage.h"

class DialogRueckfrage : public Rueckfrage
{
public:
    int zeigeMeldung(const QString& titel, const QString& text, int art, int breite, int hoehe,
                     const QString& textKnopf1, const QString& textKnopf2) override;
    int zeigeMeldungAbschaltbar(const QString& titel, const QString& text, int art, int breite, int hoehe,
                                const QString& textKnopf1, const QString& textKnopf2, const QString& iniDatei,
                                const QString& schluessel) override;
};
