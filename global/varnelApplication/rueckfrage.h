#pragma once
// The one seam through which engine code talks to the user. The program
// installs the dialog implementation; tests install a fake that records the
// questions and answers them; without either, nothing is shown and every
// question is answered with "no" (result 0), which is what an unattended run
// must do.

#include <QString>

class Rueckfrage
{
public:
    virtual ~Rueckfrage();

    // Kinds: 1 information, 2 warning, 3 critical, 4 question ("Ja"/"Nein").
    // Returns 1 when the accepting (first) button was pressed.
    virtual int zeigeMeldung(const QString& titel, const QString& text, int art, int breite, int hoehe,
                             const QString& textKnopf1, const QString& textKnopf2) = 0;

    // Not shown when `schluessel` in the ini file `iniDatei` is true; ticking
    // "nicht mehr anzeigen" writes it true. A suppressed message counts as accepted.
    virtual int zeigeMeldungAbschaltbar(const QString& titel, const QString& text, int art, int breite, int hoehe,
                                        const QString& textKnopf1, const QString& textKnopf2,
                                        const QString& iniDatei, const QString& schluessel) = 0;

    // Asks for the credentials a proxy demands (attempt 1, 2, ...). True with
    // both values when the user confirmed. Without a user: false.
    virtual bool frageProxyZugang(const QString& host, const QString& port, int versuch, QString& benutzer,
                                  QString& passwort);
    // Closes an open credentials question as rejected (its time is up).
    virtual void schliesseProxyZugang();

    // Answers of the internet-access consent.
    enum InternetAntwort { INTERNET_NEIN = 0, INTERNET_JA_EINMALIG = 1, INTERNET_JA_IMMER = 2 };
    // Asks whether the manager may go online: 2 "Ja, immer" (do not ask
    // again), 1 "Ja, einmalig", 0 "Nein". Any other value means the question
    // ended in an unknown way and counts as "Nein". Without a user: 0.
    virtual int frageInternetZugriff() { return INTERNET_NEIN; }
};

// The installed seam; never null.
Rueckfrage& rueckfrage();
// Installs `r` (not owned) and returns the one it replaces; null restores the default.
Rueckfrage* setzeRueckfrage(Rueckfrage* r);

// Shortcuts used throughout the engine.
int zeigeMeldung(const QString& titel, const QString& text, int art, int breite = 0, int hoehe = 0,
                 const QString& textKnopf1 = QString(), const QString& textKnopf2 = QString());
int zeigeMeldungAbschaltbar(const QString& titel, const QString& text, int art, int breite, int hoehe,
                            const QString& textKnopf1, const QString& textKnopf2,
                            const QString& iniDatei, const QString& schluessel);

// True when the ini file has `schluessel` set to true (the shared suppression rule).
bool istMeldungAbgeschaltet(const QString& iniDatei, const QString& schluessel);
void schalteMeldungAb(const QString& iniDatei, const QString& schluessel);
