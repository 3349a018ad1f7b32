// Clean-up after a run: modules are unpacked over the installation, so files a
// new version no longer lists would stay behind. What the dictionaries listed
// before and no longer list is deleted, names that changed only in letter
// case are corrected, and a few files of old versions go. All comparisons use
// hash sets, so the work stays linear in the number of files; nothing is
// deleted outside the folder, and a link is removed, never followed.

#include "pluginManager/pluginManager.h"

#include "global/varnelApplication/logbase.h"
#include "global/varnelApplication/textausliteral.h"
#include "pluginManager/plugin.h"
#include "pluginManager/startwerte.h"

#include <QDir>
#include <QDirIterator>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSet>
#include <QTimer>

QString PluginManager::gibVollenPfad(const QString& verzeichnis, const QString& eintrag)
{
    QString relativ = QDir::fromNativeSeparators(eintrag);
    const QString basis = QDir::fromNativeSeparators(verzeichnis);
    // An entry may already carry the folder in front.
    if (!basis.isEmpty() && relativ.startsWith(basis, Qt::CaseInsensitive))
        relativ = relativ.mid(basis.size());
    while (relativ.startsWith(QLatin1Char('/')))
        relativ.remove(0, 1);
    return Plugin::pfadImOrdner(verzeichnis, relativ, false);
}

bool PluginManager::loescheDatei(const QString& pfad)
{
    const QFileInfo info(pfad);
    // A dangling link still exists as a link and is removed as one.
    if (!info.exists() && !info.isSymLink()) {
        IV_LOG_ERROR(QStringLiteral("Die Datei \"%1\" existiert nicht.").arg(pfad));
        return false;
    }
    if (info.isDir() && !info.isSymLink()) {
        IV_LOG_ERROR(textAusLiteral("Die Datei \"%1\" konnte nicht gel&ouml;scht werden.").arg(pfad));
        return false;
    }
    if (!QFile::remove(pfad)) {
        IV_LOG_ERROR(textAusLiteral("Die Datei \"%1\" konnte nicht gel&ouml;scht werden.").arg(pfad));
        return false;
    }
    return true;
}

bool PluginManager::loescheDateien(const QString& verzeichnis, QStringList& liste)
{
    QStringList rest;
    rest.reserve(liste.size());
    for (const QString& eintrag : qAsConst(liste)) {
        Laufjournal::haltepunkt(QStringLiteral("loeschen"));
        const QString pfad = gibVollenPfad(verzeichnis, eintrag);
        if (pfad.isEmpty()) {
            IV_LOG_ERROR(textAusLiteral("Die Datei \"%1\" wird nicht gel&ouml;scht, da sie au&szlig;erhalb des Verzeichnisses "
                                        "\"%2\" liegt.")
                             .arg(eintrag, verzeichnis));
            rest.append(eintrag);
        } else if (!loescheDatei(pfad)) {
            rest.append(eintrag);
        }
    }
    liste = rest;
    return liste.isEmpty();
}

QString PluginManager::meldeNichtGeloeschte(const QString& verzeichnis, const QStringList& liste)
{
    const QString wort = liste.size() < 2 ? QStringLiteral("Datei konnte") : QStringLiteral("Dateien konnten");
    const QString strich(80, QLatin1Char('-'));
    IV_LOG_ERROR(strich);
    IV_LOG_ERROR(textAusLiteral("Folgende, nicht mehr ben&ouml;tigte, %1 nicht gel&ouml;scht werden:").arg(wort));
    QString text = textAusLiteral("Folgende, nicht mehr ben&ouml;tigte, %1 nicht gel&ouml;scht werden: <br>").arg(wort);
    for (const QString& eintrag : liste) {
        QString pfad = gibVollenPfad(verzeichnis, eintrag);
        if (pfad.isEmpty())
            pfad = QDir::toNativeSeparators(eintrag);
        IV_LOG_ERROR(pfad);
        text += QStringLiteral("%1<br>").arg(pfad);
    }
    IV_LOG_ERROR(strich);
    return text;
}

void PluginManager::bereinigen(const QString& verzeichnis, const QStringList& vorher, const QStringList& nachher)
{
    IV_LOG_EINTRITT();
    // Each entry after the run cancels one equal entry from before.
    QHash<QString, int> bleibt;
    bleibt.reserve(nachher.size());
    for (const QString& e : nachher)
        ++bleibt[e.toLower()];
    QStringList ueberfluessig;
    // A name listed twice before (two parts, or a stopped run's list added to
    // this run's) is one file: counted twice it would outweigh the one entry
    // that keeps it.
    QSet<QString> gesehen;
    for (const QString& e : vorher) {
        if (gesehen.contains(e))
            continue;
        gesehen.insert(e);
        const QString klein = e.toLower();
        auto it = bleibt.find(klein);
        if (it != bleibt.end() && it.value() > 0) {
            --it.value();
            continue;
        }
        // Compared without case, deleted under the listed name: on a file
        // system that tells case apart only that name finds the file.
        ueberfluessig.append(e);
    }
    bool geloescht = ueberfluessig.isEmpty();
    for (int versuch = 0; versuch < 10 && !geloescht; ++versuch) {
        geloescht = loescheDateien(verzeichnis, ueberfluessig);
        if (!geloescht && versuch < 9) {
            QEventLoop schleife;
            QTimer::singleShot(500, &schleife, &QEventLoop::quit);
            schleife.exec(QEventLoop::ExcludeUserInputEvents);
        }
    }
    if (!geloescht)
        m_Meldungen.insert(0, meldeNichtGeloeschte(verzeichnis, ueberfluessig));
    IV_LOG_AUSTRITT();
}

void PluginManager::bereinigenGrossKleinschreibung(const QStringList& nachher)
{
    IV_LOG_EINTRITT();
    const QString basis = QFileInfo(gs_KoraDir).canonicalFilePath();
    if (basis.isEmpty()) {
        IV_LOG_AUSTRITT();
        return;
    }
    // Every file below the folder once, links not followed; the first file
    // of each lower-cased name is the one a renaming would take.
    QSet<QString> genau;
    QHash<QString, QString> ohneGross;
    QDirIterator it(basis, QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString pfad = QDir::toNativeSeparators(it.next());
        genau.insert(pfad);
        const QString klein = pfad.toLower();
        if (!ohneGross.contains(klein))
            ohneGross.insert(klein, pfad);
    }
    for (const QString& eintrag : nachher) {
        const QString soll = gibVollenPfad(gs_KoraDir, eintrag);
        if (soll.isEmpty() || genau.contains(soll))
            continue;
        const auto treffer = ohneGross.constFind(soll.toLower());
        if (treffer == ohneGross.constEnd())
            continue;
        const QString ist = treffer.value();
        if (QFile::rename(ist, soll)) {
            IV_LOG_INFO(QStringLiteral("Die Datei \"%1\" wurde in \"%2\" umbenannt.").arg(ist, soll));
            genau.remove(ist);
            genau.insert(soll);
            ohneGross.insert(soll.toLower(), soll);
        } else {
            IV_LOG_ERROR(QStringLiteral("Fehler beim Umbennen der Datei \"%1\" in \"%2\"").arg(ist, soll));
        }
    }
    IV_LOG_AUSTRITT();
}

void PluginManager::loescheAltlasten()
{
    QStringList liste = { QStringLiteral("dict/instv_0.dict"), QStringLiteral("dict/instv_0.dict.sig"),
                          QStringLiteral("bin/lizenzvertrag_16.0.20150120.pdf"),
                          QStringLiteral("bin/lizenzvertrag_16.0.20150113.pdf") };
    if (!loescheDateien(gs_KoraDir, liste))
        meldeNichtGeloeschte(gs_KoraDir, liste);
}
