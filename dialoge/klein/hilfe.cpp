#include "dialoge/klein/hilfe.h"

#include "global/varnelApplication/logbase.h"
#include "pluginManager/startwerte.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QLibraryInfo>
#include <QProcess>
#include <QStandardPaths>

namespace {
QPointer<Hilfe> g_hilfe;
}

Hilfe::Hilfe(QObject* parent)
    : QObject(parent)
{
}

Hilfe& Hilfe::instanz()
{
    // Parented to the application object so the viewer ends with the program
    // and never outlives the event loop it needs.
    if (!g_hilfe)
        g_hilfe = new Hilfe(QCoreApplication::instance());
    return *g_hilfe;
}

QString Hilfe::standardOrdner()
{
    if (gs_KoraDir.isEmpty())
        return QString();
    return QDir::cleanPath(gs_KoraDir + QStringLiteral("/hilfe"));
}

QString Hilfe::gibBetrachter() const
{
    if (!m_betrachter.isEmpty())
        return m_betrachter;
    QString programm = QStandardPaths::findExecutable(QStringLiteral("assistant"));
    if (programm.isEmpty())
        programm = QStandardPaths::findExecutable(QStringLiteral("assistant"),
                                                  { QLibraryInfo::location(QLibraryInfo::BinariesPath) });
    return programm;
}

QByteArray Hilfe::befehleFuer(const QString& thema)
{
    // One command per line; a line break inside the topic would smuggle in a
    // second command.
    QString t = thema.simplified();
    t.remove(QLatin1Char(';'));
    if (t.isEmpty())
        return QByteArrayLiteral("show contents\n");
    if (t.startsWith(QLatin1String("qthelp://")))
        return "setSource " + t.toUtf8() + '\n';
    return "activateIdentifier " + t.toUtf8() + '\n';
}

bool Hilfe::starte(const QString& sammlung)
{
    const QString programm = gibBetrachter();
    if (programm.isEmpty()) {
        IV_LOG_ERROR(QStringLiteral("Die Hilfe kann nicht angezeigt werden: das Programm \"assistant\" wurde nicht gefunden."));
        return false;
    }
    if (m_prozess) {
        m_prozess->closeWriteChannel();
        m_prozess->deleteLater();
    }
    auto* prozess = new QProcess(this);
    prozess->setProgram(programm);
    prozess->setArguments({ QStringLiteral("-collectionFile"), sammlung, QStringLiteral("-enableRemoteControl") });
    prozess->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    prozess->setStandardOutputFile(QProcess::nullDevice());
    connect(prozess, QOverload<int, QProcess::ExitStatus>::of(&QProcess::finished), this,
            [prozess](int code, QProcess::ExitStatus) {
                IV_LOG_INFO(QStringLiteral("Die Hilfe wurde beendet (Code %1).").arg(code));
                prozess->deleteLater();
            });
    prozess->start(QIODevice::WriteOnly);
    if (!prozess->waitForStarted(5000)) {
        IV_LOG_ERROR(QStringLiteral("Die Hilfe %1 konnte nicht gestartet werden: %2").arg(programm, prozess->errorString()));
        prozess->deleteLater();
        return false;
    }
    m_prozess = prozess;
    m_sammlung = sammlung;
    return true;
}

bool Hilfe::zeigeThema(const QString& thema, const QString& hilfeOrdner)
{
    IV_LOG_EINTRITT();
    const QString ordner = hilfeOrdner.isEmpty() ? standardOrdner() : hilfeOrdner;
    const QString sammlung = QDir(ordner).filePath(sammlungsName());
    if (ordner.isEmpty() || !QFileInfo(sammlung).isFile()) {
        IV_LOG_ERROR(QStringLiteral("Die Hilfe zum Thema \"%1\" kann nicht angezeigt werden: die Hilfesammlung %2 fehlt.")
                         .arg(thema, QDir::toNativeSeparators(sammlung)));
        IV_LOG_AUSTRITT();
        return false;
    }
    const bool laeuft = m_prozess && m_prozess->state() == QProcess::Running && m_sammlung == sammlung;
    if (!laeuft && !starte(sammlung)) {
        IV_LOG_AUSTRITT();
        return false;
    }
    IV_LOG_INFO(QStringLiteral("Hilfe zum Thema \"%1\" wird angezeigt.").arg(thema));
    m_prozess->write(befehleFuer(thema));
    IV_LOG_AUSTRITT();
    return true;
}
