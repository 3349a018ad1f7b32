#include "dialoge/dialogrueckfrage.h"

#include "dialoge/dialogvorlage.h"

int DialogRueckfrage::zeigeMeldung(const QString& titel, const QString& text, int art, int breite, int hoehe,
                                   const QString& textKnopf1, const QString& textKnopf2)
{
    return DialogVorlage::zeigeMeldung(titel, text, art, breite, hoehe, textKnopf1, textKnopf2);
}

int DialogRueckfrage::zeigeMeldungAbschaltbar(const QString& titel, const QString& text, int art, int breite,
                                              int hoehe, const QString& textKnopf1, const QString& textKnopf2,
                                              const QString& iniDatei, const QString& schluessel)
{
    return DialogVorlage::zeigeMeldungAbschaltbar(titel, text, art, breite, hoehe, textKnopf1, textKnopf2, iniDatei,
                                                  schluessel);
}
