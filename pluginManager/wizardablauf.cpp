#include "pluginManager/wizardablauf.h"

#include "dialoge/klein/dlgbeendekoras.h"
#include "global/varnelApplication/logbase.h"
#include "global/varnelApplication/textausliteral.h"
#include "pluginManager/pluginManager.h"
#include "pluginManager/startwerte.h"
#include "pluginManager/updateprocess.h"
#include "global/plattform/plattform.h"

#include <QApplication>

WizardAblauf::~WizardAblauf() = default;

void WizardAblauf::meldeNichtVerfuegbar(const char* operation)
{
    IV_LOG_INFO(textAusLiteral("%1: der Assistent ist mit keinem Ablauf verbunden; "
                               "es wurde nichts ver&auml;ndert.")
                    .arg(QString::fromLatin1(operation)));
}

bool WizardAblauf::beendeWennZielNetzlaufwerkIst()
{
    meldeNichtVerfuegbar("beendeWennZielNetzlaufwerkIst");
    return false;
}

bool WizardAblauf::beendeKoras()
{
    meldeNichtVerfuegbar("beendeKoras");
    return false;
}

bool WizardAblauf::neuStartMitAdminRechten()
{
    meldeNichtVerfuegbar("neuStartMitAdminRechten");
    return false;
}

bool WizardAblauf::aktionsAusfuehrung()
{
    meldeNichtVerfuegbar("aktionsAusfuehrung");
    // The result page must say why nothing happened.
    m_Meldungen.insert(1, textAusLiteral("Die Aktionen wurden nicht ausgef&uuml;hrt, da der Assistent mit keinem "
                                         "Ablauf verbunden ist. Es wurde nichts ver&auml;ndert."));
    return false;
}

bool WizardAblauf::abbruchDurchAnwender()
{
    meldeNichtVerfuegbar("abbruchDurchAnwender");
    return false;
}

void WizardAblauf::brecheHerunterladenAb()
{
    meldeNichtVerfuegbar("brecheHerunterladenAb");
}

QMultiMap<int, QString> WizardAblauf::gibMeldungen() const
{
    return m_Meldungen;
}

bool WizardAblauf::laeuftMitAdminRechten() const
{
    // The instance that does the work is the one the service or an elevated
    // restart started; the first process only plans and hands over.
    return !istErsterProzess();
}

bool WizardAblauf::starteBetriebssystemNeu(int& fehlerCode)
{
    meldeNichtVerfuegbar("starteBetriebssystemNeu");
    fehlerCode = -1;
    return false;
}

// ---- on the engine ------------------------------------------------------------------------

WizardAblaufEngine::WizardAblaufEngine(PluginManager* engine)
    : mp_Engine(engine)
{
    mp_Engine->setzeKorasBeendenDialog([]() {
        DlgBeendeKoras dialog(QApplication::activeWindow());
        return dialog.exec() == QDialog::Accepted;
    });
}

WizardAblaufEngine::~WizardAblaufEngine()
{
    mp_Engine->setzeKorasBeendenDialog({});
}

bool WizardAblaufEngine::beendeWennZielNetzlaufwerkIst()
{
    return mp_Engine->beendeWennZielNetzlaufwerkIst();
}

bool WizardAblaufEngine::beendeKoras()
{
    return mp_Engine->beendeKoras();
}

bool WizardAblaufEngine::aktionsAusfuehrung()
{
    return mp_Engine->aktionsAusfuehrung();
}

bool WizardAblaufEngine::abbruchDurchAnwender()
{
    return mp_Engine->abbruchDurchAnwender();
}

void WizardAblaufEngine::brecheHerunterladenAb()
{
    mp_Engine->abbruchDurchAnwender();
}

QMultiMap<int, QString> WizardAblaufEngine::gibMeldungen() const
{
    return mp_Engine->gibMeldungen();
}

bool WizardAblaufEngine::neuStartMitAdminRechten()
{
    return mp_Engine->neuStartMitAdminRechten();
}

bool WizardAblaufEngine::laeuftMitAdminRechten() const
{
    return Plattform::eigeneBenutzerId() == 0 && WizardAblauf::laeuftMitAdminRechten();
}

namespace {
QString g_neustartProgramm = QStringLiteral("systemctl");
QString g_neustartParameter = QStringLiteral("reboot");
}

void WizardAblaufEngine::setzeNeustartBefehl(const QString& programm, const QString& parameter)
{
    g_neustartProgramm = programm;
    g_neustartParameter = parameter;
}

bool WizardAblaufEngine::starteBetriebssystemNeu(int& fehlerCode)
{
    UpdateProcess prozess(g_neustartProgramm, QString(), g_neustartParameter, false, true, 0);
    prozess.setzeTimeout(30000);
    prozess.run();
    fehlerCode = prozess.gibRc();
    return fehlerCode == 0;
}
