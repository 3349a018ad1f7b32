// The installation of the manager's own update into the service folder, where
// the restart after it finds the new copy.
//
// The manager copy in the service folder is what the service and every
// hand-over start as root, so a failed update must leave the old copy
// working: the archive is unpacked and verified in a staging folder first,
// and only a copy that verifies there is unpacked over the old one (which is
// all or nothing itself). The step is journaled like the module steps, so
// that a stop in the middle is found and verified by the next start.

#include "pluginManager/pluginManager.h"

#include "global/archiv/ziparchiv.h"
#include "global/downloadManager/downloadmanager.h"
#include "global/varnelApplication/logbase.h"
#include "global/varnelApplication/textausliteral.h"
#include "pluginManager/plugin.h"
#include "pluginManager/startwerte.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace {

// Below the service folder (same file system, no write outside it), under the
// pattern whose leftovers the next start removes after a stopped run.
const QString kStaging = QStringLiteral(".iv-entpacken-selbstupdate");

// A link is removed as a link, never followed.
bool entferneStaging(const QString& pfad)
{
    const QFileInfo info(pfad);
    if (!info.exists() && !info.isSymLink())
        return true;
    if (info.isDir() && !info.isSymLink())
        return QDir(pfad).removeRecursively();
    return QFile::remove(pfad);
}

} // namespace

bool PluginManager::pruefeSelbstUpdateArchiv(const QString& archiv, const QString& dienst, QString& fehler)
{
    IV_LOG_EINTRITT();
    const QString staging = QDir::toNativeSeparators(dienst + QLatin1Char('/') + kStaging);
    bool ok = entferneStaging(staging);
    if (!ok) {
        fehler = textAusLiteral("Der Ordner \"%1\" konnte nicht entfernt werden.").arg(staging);
    } else {
        ZipArchiv zip;
        ok = zip.oeffne(archiv) && zip.entpacke(staging);
        if (!ok)
            fehler = textAusLiteral("Das Archiv \"%1\" konnte nicht entpackt werden: %2").arg(archiv, zip.errorString());
    }
    if (ok && !istKopieValid(staging)) {
        ok = false;
        fehler = textAusLiteral("Die entpackte %1 entspricht nicht ihrem Dictionary.").arg(gs_AnwendungsName);
    }
    if (!entferneStaging(staging))
        IV_LOG_ERROR(textAusLiteral("Der Ordner \"%1\" konnte nicht entfernt werden.").arg(staging));
    IV_LOG_AUSTRITT();
    return ok;
}

void PluginManager::setzeKopieRechte(const QStringList& dateien, const QString& dienst)
{
    // Started as root by the service and the hand-overs: nobody else may
    // write a file of the copy; programs keep the execute bits the archive gave them.
    for (const QString& eintrag : dateien) {
        const QString pfad = gibVollenPfad(dienst, eintrag);
        const QFileInfo info(pfad);
        if (pfad.isEmpty() || !info.isFile() || info.isSymLink())
            continue;
        const QFile::Permissions rechte = info.permissions() & ~(QFile::WriteGroup | QFile::WriteOther);
        if (rechte != info.permissions() && !QFile::setPermissions(pfad, rechte))
            IV_LOG_ERROR(textAusLiteral("Die Zugriffsrechte der Datei \"%1\" konnten nicht gesetzt werden.").arg(pfad));
    }
}

bool PluginManager::installSelbstUpdate()
{
    IV_LOG_EINTRITT();
    emit initStatusText(textAusLiteral("Ein Selbst-Update wird durchgef&uuml;hrt."), false);
    // The copy's record may not have been read yet (no index read before).
    const QStringList vorher = gibDateilisteTechnischePlugins(mp_PluginIvServiceDir == nullptr, true);

    auto scheitern = [this](const QString& text) {
        IV_LOG_ERROR(text);
        m_Meldungen.insert(1, text);
        emit initStatusText(QString(), false);
        IV_LOG_AUSTRITT();
        return false;
    };

    Plugin* neu = mp_PluginIvServer;
    if (!neu || !neu->istSelbstUpdate())
        return scheitern(textAusLiteral("Auf dem Server wurde kein Selbst-Update der %1 gefunden.").arg(gs_AnwendungsName));
    // The name comes from the server index and must stay a name in tmp.
    const QString zip = neu->gibZip();
    if (zip.isEmpty() || zip.contains(QLatin1Char('/')) || zip.contains(QLatin1Char('\\')) || zip.startsWith(QLatin1String("..")))
        return scheitern(textAusLiteral("Der Dateiname \"%1\" ist ung&uuml;ltig.").arg(zip));
    const QString dienst = gibDirService();
    if (dienst.isEmpty())
        return scheitern(textAusLiteral("Das Verzeichnis f&uuml;r die %1 konnte nicht ermittelt werden.").arg(gs_AnwendungsName));

    const QString tmp = gibDirTmp();
    if (!istInstallerVorhanden(tmp, zip, neu->gibMD5())
        && (!initDownloadManager() || !dateiDownload(tmp, zip, neu->gibMD5(), neu->gibSize()))) {
        QString ursache = mp_DownloadManager ? mp_DownloadManager->errorString() : QString();
        // A transfer that succeeded with the wrong bytes leaves no error text.
        if (ursache.isEmpty())
            ursache = textAusLiteral("Die Pr&uuml;fsumme der Datei \"%1\" stimmt nicht.").arg(zip);
        return scheitern(QStringLiteral("%1 konnte nicht vom Server geladen werden. Fehlerursache: %2")
                             .arg(neu->gibKurznameMitJahr(), ursache));
    }

    QString fehler;
    if (!pruefeSelbstUpdateArchiv(tmp + zip, dienst, fehler))
        return scheitern(textAusLiteral("Das Selbst-Update der %1 wurde nicht installiert; die bisherige Kopie in \"%2\" "
                                        "bleibt unver&auml;ndert. %3")
                             .arg(gs_AnwendungsName, dienst, fehler));

    // Outside a run: this process keeps a journal of its own, or continues
    // the one an earlier process left for the next start's repair.
    const bool journalEigen = !m_Journal.istAktiv();
    if (journalEigen && !m_Journal.setzeFort({ { Laufjournal::SELBSTUPDATE, { DICT_BASIS_IV, 0 } } }))
        IV_LOG_ERROR(textAusLiteral("Das Selbst-Update wird ohne Laufjournal fortgesetzt."));

    IV_LOG_INFO(QStringLiteral("Installiere; Datei: [%1] Verzeichnis: [%2]").arg(zip, dienst));
    bool ok = installPlugin(neu, false, true);

    const QStringList nachher = gibDateilisteTechnischePlugins(true, true);
    if (ok && !istKopieValid(dienst)) {
        ok = false;
        const QString text = textAusLiteral("Die neue %1 in \"%2\" ist ung&uuml;ltig.").arg(gs_AnwendungsName, dienst);
        IV_LOG_ERROR(text);
        m_Meldungen.insert(1, text);
    }
    if (ok) {
        setzeKopieRechte(nachher, dienst);
        bereinigen(dienst, vorher, nachher);
    }
    if (journalEigen)
        m_Journal.beende();
    emit initStatusText(QString(), false);
    IV_LOG_AUSTRITT();
    return ok;
}
