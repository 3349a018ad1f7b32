#pragma once
// The program's single text log. One instance per process, reached through
// gp_Log; every call is guarded, so code may log before the log exists.

#include <QObject>
#include <QString>
#include <memory>

class QFile;

class LogBase : public QObject
{
    Q_OBJECT
public:
    LogBase(const QString& name, qint64 maxGroesse, const QString& verzeichnis = QString());
    ~LogBase() override;

    virtual QString gibLogVerzeichnis() const;
    virtual void error(const QString& text, const QString& datei, const QString& funktion, int zeile);
    virtual void debug(const QString& text, const QString& datei, const QString& funktion, int zeile);
    virtual void info(const QString& text, const QString& datei, const QString& funktion, int zeile);

    QString gibDateiname() const { return dateiname; }
    bool istDebugAktiv() const { return debugAktiv; }

    // "Betriebssystem: ..." as written in the start block.
    static QString betriebssystemZeile();
    // "dd.MM.yyyy hh:mm:ss.zzz " style prefix of every line.
    static QString zeitstempel();

    // Longest line in bytes; longer ones are cut and marked.
    static constexpr int maxZeilenBytes = 4096;
    // During a run the file is rotated again at this multiple of maxGroesse.
    static constexpr int laufFaktor = 5;
    static QByteArray begrenzeZeile(const QString& zeile);

private:
    void schreibe(const QString& zeile);

    QString dateiname;
    QChar separator;
    QString betriebssystem;
    QString verzeichnis;
    qint64 maxGroesse;
    std::unique_ptr<QFile> datei;
    bool debugAktiv = false;
};

// Creates the log once; later calls do nothing. An empty `verzeichnis` means
// the user data directory's "log" folder.
void initLogBase(const QString& name, int maxGroesse, const QString& verzeichnis = QString());
// Writes the end line and removes the log (at the very end of main, and in tests).
void beendeLogBase();

extern LogBase* gp_Log;

// "PluginManager::lese" from a compiler's pretty function name.
QString ivFunktionsname(const char* prettyFunction);

#define IV_LOG_ERROR(text) \
    do { if (gp_Log) gp_Log->error((text), QStringLiteral(__FILE__), ivFunktionsname(Q_FUNC_INFO), __LINE__); } while (0)
#define IV_LOG_INFO(text) \
    do { if (gp_Log) gp_Log->info((text), QStringLiteral(__FILE__), ivFunktionsname(Q_FUNC_INFO), __LINE__); } while (0)
#define IV_LOG_DEBUG(text) \
    do { if (gp_Log && gp_Log->istDebugAktiv()) gp_Log->debug((text), QStringLiteral(__FILE__), ivFunktionsname(Q_FUNC_INFO), __LINE__); } while (0)
// Entry and exit traces: "<--" / "-->" with "; Zeile N" after the function name.
#define IV_LOG_EINTRITT() \
    do { if (gp_Log && gp_Log->istDebugAktiv()) gp_Log->debug(QStringLiteral("<--"), QStringLiteral(__FILE__), ivFunktionsname(Q_FUNC_INFO) + QStringLiteral("; Zeile ") + QString::number(__LINE__), __LINE__); } while (0)
#define IV_LOG_AUSTRITT() \
    do { if (gp_Log && gp_Log->istDebugAktiv()) gp_Log->debug(QStringLiteral("-->"), QStringLiteral(__FILE__), ivFunktionsname(Q_FUNC_INFO) + QStringLiteral("; Zeile ") + QString::number(__LINE__), __LINE__); } while (0)
