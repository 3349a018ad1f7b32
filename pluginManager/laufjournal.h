#pragma once
// The run journal: what a run that changes the installation is about to do,
// written to the disk before each change, so that the next start knows where
// a run stopped by a crash, a power loss or kill -9 left the installation.
//
// One file in the engine's data folder, one record a line:
//   fields separated by tabs, the last field the first 8 hexadecimal digits
//   of the MD5 of everything before it on the line.
//   "IVJ  1  <start time>  <kind: lauf | pruefung>"   the header, once
//   "PLAN  <action>  <short name>  <year>"            a part of the plan
//   "DATEI  <path>"           a file the installation listed before the run
//   "BEGINN|ENDE  <step>  <short name>  <year>"      around each change
// Each record reaches the disk (file and folder) before the change it
// announces. A run that reaches its end removes the file.
//
// The file lies in a folder the user can write to, while the manager may run
// as root: it is read as untrusted input. It holds no paths of its own, only
// part names (checked against a strict pattern) and file paths relative to
// the installation (checked as dictionary paths are). A record that fails a
// check, a wrong checksum or a torn last line make the journal "damaged":
// the records before it are still used (each passed its checks), but the
// state is unknown, so every installed part is verified.

#include <QDateTime>
#include <QHash>
#include <QList>
#include <QSet>
#include <QString>
#include <QStringList>

class Laufjournal
{
public:
    // Steps and plan actions, as written.
    static const QString HERUNTERLADEN;   // "herunterladen"
    static const QString HAUPTANWENDUNG;  // "hauptanwendung"
    static const QString DIENST;          // "dienst"
    static const QString SELBSTUPDATE;    // "selbstupdate"
    static const QString ENTFERNEN;       // "entfernen"
    static const QString INSTALLIEREN;    // "installieren"
    static const QString ERNEUERN;        // "erneuern"
    static const QString BEREINIGEN;      // "bereinigen"
    static const QString REPARIEREN;      // "reparieren": found damaged by a verification

    // A part: short name and year as in its dictionary ("est", 2021; "kora", 9999).
    struct Teil
    {
        QString kurzname;
        uint jahr = 0;
        QString schluessel() const { return kurzname + QLatin1Char(' ') + QString::number(jahr); }
    };
    struct Planpunkt
    {
        QString aktion;
        Teil teil;
    };

    // What a journal left by an earlier process says.
    struct Stand
    {
        bool vorhanden = false;
        bool beschaedigt = false;
        QString grund;             // why it counts as damaged
        bool nurPruefung = false;  // written by the verification, not by a run
        QDateTime beginn;
        QList<Planpunkt> plan;
        // Steps begun and not ended, as "<step> <short name> <year>".
        QStringList offeneSchritte;
        // Step of each part whose change began and did not end.
        QHash<QString, QString> offenNachTeil;
        QString letzterSchritt;    // the last step record, for the account
        bool bereinigt = false;    // the clean-up ended
        QStringList dateienVorher;
    };

    // gibDirDaten() + "laufjournal".
    static QString pfad();
    static Stand lese(const QString& datei = pfad());
    // The records of a journal's bytes, as lese takes them once the file
    // itself passed (a plain file, not too big, readable).
    static Stand leseInhalt(QByteArray inhalt);

    // Starts a new journal (replacing any old one in one step) with the plan
    // and the files listed before the run. False (logged) when it cannot be
    // written: the caller must then not begin the changes.
    bool beginne(const QList<Planpunkt>& plan, const QStringList& dateienVorher, bool nurPruefung = false);
    // A change outside a run (the self-update process): a journal an earlier
    // process left is continued, its records stay for the next start's
    // repair, and beende leaves it; without one a journal of its own is begun
    // (no file list). A damaged journal is left as it is: the next start
    // verifies everything anyway.
    bool setzeFort(const QList<Planpunkt>& plan);
    bool istAktiv() const { return mb_Aktiv; }
    // "BEGINN"/"ENDE" of a step; a no-op without an active journal. False
    // (logged) when the record could not be written.
    bool schritt(const QString& schritt, const Teil& teil, bool ende);
    // The run reached its end: the journal goes (a continued one stays).
    void beende();
    // Notes parts a verification found damaged, for the next run to repair:
    // a new journal, or PLAN records added to the one an earlier run left
    // (a damaged one needs nothing: everything is verified then).
    static bool vermerkeReparatur(const QList<Planpunkt>& teile);
    // Removes a journal left by an earlier process.
    static void entferne(const QString& datei = pfad());

    static bool istGueltigerKurzname(const QString& kurzname);

    // Test-only stop points of the crash tests. When the root override
    // FISCALON_WURZEL is set (never in production) and FISCALON_TEST_HALT
    // names this point ("name" or "name#n" for its n-th pass), the process
    // kills itself with SIGKILL here. Journal records give the points
    // "vor <record>", "nach <record>" and "halb <record>" (half the line
    // written), e.g. "nach BEGINN erneuern est 2021"; the run adds
    // "herunterladen", "verschieben" (each move of an unpack; "verschieben
    // <entry>" for the move of one archive entry, e.g. "verschieben
    // dict/kora_0.dict"), "loeschen" and "vor ABSCHLUSS".
    static void haltepunkt(const QString& name);

private:
    bool schreibe(const QString& satz);
    static QByteArray zeile(const QStringList& felder);

    QString m_Datei;
    bool mb_Aktiv = false;
    bool mb_Fortgesetzt = false;
};
