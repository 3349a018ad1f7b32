#pragma once
// The engine's questions answered with real dialogs.

#include "global/varnelApplication/rueckfrage.h"

#include <QPointer>

class DialogPasswortProxy;

class DialogRueckfrage : public Rueckfrage
{
public:
    int zeigeMeldung(const QString& titel, const QString& text, int art, int breite, int hoehe,
                     const QString& textKnopf1, const QString& textKnopf2) override;
    int zeigeMeldungAbschaltbar(const QString& titel, const QString& text, int art, int breite, int hoehe,
                                const QString& textKnopf1, const QString& textKnopf2, const QString& iniDatei,
                                const QString& schluessel) override;
    bool frageProxyZugang(const QString& host, const QString& port, int versuch, QString& benutzer,
                          QString& passwort) override;
    void schliesseProxyZugang() override;
    int frageInternetZugriff() override;

private:
    QPointer<DialogPasswortProxy> m_proxyDialog;
};
