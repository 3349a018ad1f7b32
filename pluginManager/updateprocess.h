#pragma once
// Starts another program, normally or with root's rights, optionally waits
// for its end with a time-out, and delivers its exit code. A thread class
// whose callers call run() directly on their own thread.

#include <QString>
#include <QStringList>
#include <QThread>

class UpdateProcess : public QThread
{
    Q_OBJECT
public:
    // What a program still running after the time-out reports.
    static const int STILL_ACTIVE = 259;

    UpdateProcess(const QString& programm, const QString& verzeichnis, const QString& parameter, bool alsAdmin,
                  bool warten, int anzeige, QObject* parent = nullptr);

    void setzeTimeout(int ms) { timeout = ms; }
    void run() override;
    int runProgramm(bool warten);
    int gibRc() const { return rc; }
    // Appends the text for the exit code.
    void gibFehlertext(QString& text) const;
    // The started process (0 before a start): a caller may watch it after a time-out.
    qint64 gibProzessId() const { return m_pid; }

    // Splits a parameter text as a shell would split words: blanks separate,
    // double quotes group (a backslash escapes a quote or a backslash inside
    // them), nothing is expanded. False for an unbalanced quote.
    static bool zerlegeParameter(const QString& text, QStringList& teile);
    // Test seam: the command that asks for root's rights (default: pkexec,
    // used only when not root already). When set, "runas" always goes
    // through it. Set only by the program itself, never from the environment.
    static void setzeErhebungsbefehl(const QString& befehl);

signals:
    void sgnStarted();
    void sgnFinished(int rc, QString sProgrammname);

private:
    int startFehler(int code);

    QString programm;
    QString verzeichnis;
    QString parameter;
    bool alsAdmin;
    bool warten;
    int rc = -1;
    int anzeige;
    int timeout = -1;
    qint64 m_pid = 0;
};
