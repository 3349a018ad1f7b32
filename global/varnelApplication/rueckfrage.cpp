#include "global/varnelApplication/rueckfrage.h"

#include "global/varnelApplication/logbase.h"

#include <QSettings>

Rueckfrage::~Rueckfrage() = default;

bool Rueckfrage::frageProxyZugang(const QString& host, const QString& port, int versuch, QString&, QString&)
{
    IV_LOG_INFO(QStringLiteral("Zugangsdaten f\u00fcr den Proxy-Server %1:%2 (Versuch %3) k\u00f6nnen nicht erfragt werden.")
                    .arg(host, port)
                    .arg(versuch));
    return false;
}

void Rueckfrage::schliesseProxyZugang()
{
}

namespace {

// Without a screen nobody can answer: log the text, answer "no".
class OhneAnwender final : public Rueckfrage
{
public:
    int zeigeMeldung(const QString& titel, const QString& text, int art, int, int, const QString&, const QString&) override
    {
        IV_LOG_INFO(QStringLiteral("Meldung ohne Anzeige (Art %1, \"%2\"): %3").arg(art).arg(titel, text));
        return 0;
    }
    int zeigeMeldungAbschaltbar(const QString& titel, const QString& text, int art, int breite, int hoehe,
                                const QString& k1, const QString& k2, const QString& iniDatei,
                                const QString& schluessel) override
    {
        if (istMeldungAbgeschaltet(iniDatei, schluessel))
            return 1;
        return zeigeMeldung(titel, text, art, breite, hoehe, k1, k2);
    }
};

OhneAnwender g_ohneAnwender;
Rueckfrage* g_rueckfrage = nullptr;

} // namespace

Rueckfrage& rueckfrage()
{
    return g_rueckfrage ? *g_rueckfrage : static_cast<Rueckfrage&>(g_ohneAnwender);
}

Rueckfrage* setzeRueckfrage(Rueckfrage* r)
{
    Rueckfrage* alt = g_rueckfrage;
    g_rueckfrage = r;
    return alt;
}

int zeigeMeldung(const QString& titel, const QString& text, int art, int breite, int hoehe,
                 const QString& textKnopf1, const QString& textKnopf2)
{
    return rueckfrage().zeigeMeldung(titel, text, art, breite, hoehe, textKnopf1, textKnopf2);
}

int zeigeMeldungAbschaltbar(const QString& titel, const QString& text, int art, int breite, int hoehe,
                            const QString& textKnopf1, const QString& textKnopf2,
                            const QString& iniDatei, const QString& schluessel)
{
    return rueckfrage().zeigeMeldungAbschaltbar(titel, text, art, breite, hoehe, textKnopf1, textKnopf2,
                                                iniDatei, schluessel);
}

bool istMeldungAbgeschaltet(const QString& iniDatei, const QString& schluessel)
{
    if (iniDatei.isEmpty() || schluessel.isEmpty())
        return false;
    return QSettings(iniDatei, QSettings::IniFormat).value(schluessel, false).toBool();
}

void schalteMeldungAb(const QString& iniDatei, const QString& schluessel)
{
    if (iniDatei.isEmpty() || schluessel.isEmpty())
        return;
    QSettings s(iniDatei, QSettings::IniFormat);
    s.setValue(schluessel, true);
    s.sync();
}
