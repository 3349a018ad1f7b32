#pragma once
// What the wizard needs from the run of the actions, the hand-over to an
// elevated process and the operating system, behind one replaceable seam.
// The program gives the wizard WizardAblaufEngine (below). This default,
// for a wizard without a run (the screenshots, the wizard's own tests),
// answers "nothing done" and says so in the log, so the wizard never
// pretends to have closed, restarted or installed anything.

#include <QMultiMap>
#include <QString>

class WizardAblauf
{
public:
    virtual ~WizardAblauf();

    // True when the run must not start because the main application lies on
    // a network drive (the reason is then among the result messages).
    virtual bool beendeWennZielNetzlaufwerkIst();
    // True when no main-application instance runs any more.
    virtual bool beendeKoras();
    // Hands the planned work over to an elevated instance; true when it took over.
    virtual bool neuStartMitAdminRechten();
    // Carries out the planned actions; true when the run reached its end.
    virtual bool aktionsAusfuehrung();
    // The user's cancel request during a run; false when refused.
    virtual bool abbruchDurchAnwender();
    // Cancels the background download of the installers.
    virtual void brecheHerunterladenAb();
    // Result messages of the last run: key 0 success, key 1 error.
    virtual QMultiMap<int, QString> gibMeldungen() const;
    // Whether this process may change the installation itself.
    virtual bool laeuftMitAdminRechten() const;
    // Restarts the operating system; false with the system's error code.
    virtual bool starteBetriebssystemNeu(int& fehlerCode);

protected:
    // INFO line that `operation` has no run behind it here.
    static void meldeNichtVerfuegbar(const char* operation);

    QMultiMap<int, QString> m_Meldungen;
};

class PluginManager;

// The wizard's run on the real engine: the checks before the run, the run,
// cancelling, the result messages, the hand-over to an elevated process and
// the restart of the system.
class WizardAblaufEngine : public WizardAblauf
{
public:
    // Installs the dialog that closes the main application into the engine.
    explicit WizardAblaufEngine(PluginManager* engine);
    ~WizardAblaufEngine() override;

    bool beendeWennZielNetzlaufwerkIst() override;
    bool beendeKoras() override;
    bool aktionsAusfuehrung() override;
    bool abbruchDurchAnwender() override;
    void brecheHerunterladenAb() override;
    QMultiMap<int, QString> gibMeldungen() const override;
    bool neuStartMitAdminRechten() override;
    // Root's rights, and started for the work (by the service or a restart):
    // a first process only plans, and a copy started as the user must ask.
    bool laeuftMitAdminRechten() const override;
    // Through the runner: "systemctl reboot" (logind decides), waited for at
    // most 30 s; the error code is the command's exit code.
    bool starteBetriebssystemNeu(int& fehlerCode) override;
    // Test seam: the command that restarts the system (program, parameter text).
    static void setzeNeustartBefehl(const QString& programm, const QString& parameter);

private:
    PluginManager* mp_Engine;
};
