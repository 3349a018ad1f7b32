// Fetching the installers of a confirmed plan: the update package of the
// main application and the full archives of the modules to renew or install,
// each checked against the MD5 value of the server index, and the two
// checks that the disk has room for the downloads and for the installation.

#include "pluginManager/pluginManager.h"

#include "global/archiv/ziparchiv.h"
#include "global/crypto/crypto.h"
#include "global/downloadManager/downloadmanager.h"
#include "global/plattform/plattform.h"
#include "global/varnelApplication/logbase.h"
#include "global/varnelApplication/textausliteral.h"
#include "pluginManager/dlgPluginManagerDatenmodel.h"
#include "pluginManager/plugin.h"
#include "pluginManager/setup.h"
#include "pluginManager/startwerte.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>

namespace {

// A name from the server index becomes a file in our tmp folder: it must not
// name a folder or leave the folder.
bool istEinfacherDateiname(const QString& name)
{
    if (name.isEmpty() || name == QLatin1String(".") || name == QLatin1String("..")
        || name.contains(QLatin1Char('/')) || name.contains(QLatin1Char('\\')))
        return false;
    for (const QChar c : name) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7F)
            return false;
    }
    return true;
}

QString ohneSeparator(const QString& pfad)
{
    QString p = QDir::fromNativeSeparators(pfad);
    while (p.size() > 1 && p.endsWith(QLatin1Char('/')))
        p.chop(1);
    return p;
}

const char* const kNullInstalliert = "Das Datenmodel f&uuml;r installierte Plugins enth&auml;lt einen NULL-Pointer.";
const char* const kNullVerfuegbar = "Das Datenmodel f&uuml;r verf&uuml;gbare Plugins enth&auml;lt einen NULL-Pointer.";

} // namespace

bool PluginManager::fuerGeplanteArchive(const std::function<bool(Plugin* alt, Plugin* neu)>& aktion)
{
    // Renewals in the installed list's order (neu: the server's counterpart,
    // null when the server lacks it), then installations in the available list's.
    for (Plugin* p : mp_DatenmodelInstalliert->gibListe()) {
        if (!p)
            IV_LOG_ERROR(textAusLiteral(kNullInstalliert));
        else if (p->gibAktion() == Plugin::ERNEUERN && !aktion(p, findeGleichesPluginGegenueber(p, false)))
            return false;
    }
    for (Plugin* p : mp_DatenmodelVerfuegbar->gibListe()) {
        if (!p)
            IV_LOG_ERROR(textAusLiteral(kNullVerfuegbar));
        else if (p->gibAktion() == Plugin::INSTALLIEREN && !aktion(nullptr, p))
            return false;
    }
    return true;
}

bool PluginManager::istInstallerVorhanden(const QString& zielVerzeichnis, const QString& dateiname, const QString& md5)
{
    if (!istEinfacherDateiname(dateiname))
        return false;
    const QString pfad = QDir::toNativeSeparators(ohneSeparator(zielVerzeichnis) + QLatin1Char('/') + dateiname);
    return QFileInfo(pfad).isFile() && !md5.isEmpty() && Crypto::md5Pruefsumme(pfad) == md5;
}

bool PluginManager::dateiDownload(const QString& zielVerzeichnis, const QString& dateiname, const QString& md5, quint64 groesse)
{
    if (!istEinfacherDateiname(dateiname)) {
        IV_LOG_ERROR(textAusLiteral("Der Dateiname \"%1\" aus dem Inhaltsverzeichnis des Servers ist ung&uuml;ltig.").arg(dateiname));
        return false;
    }
    const QString pfad = ohneSeparator(zielVerzeichnis) + QLatin1Char('/') + dateiname;
    constexpr int versuche = 3;
    for (int versuch = 1; versuch <= versuche; ++versuch) {
        // A cancelled run must not start the next transfer.
        if (mb_Abbruch)
            return false;
        // More than the index announced is cut off at that size.
        mp_DownloadManager->setHoechstGroesse(groesse > 0 ? qint64(groesse) : -1);
        const bool geladen = holeDateiVomServer(zielVerzeichnis, dateiname);
        mp_DownloadManager->setHoechstGroesse(-1);
        if (!geladen)
            continue;
        if (Crypto::md5Pruefsumme(pfad) == md5)
            return true;
        IV_LOG_ERROR(textAusLiteral("Die Pr&uuml;fsumme der vom Server geladenen Datei \"%1\" stimmt nicht. Versuch = %2")
                         .arg(dateiname)
                         .arg(versuch));
    }
    IV_LOG_ERROR(QStringLiteral("Die Datei \"%1\" konnte nicht vom Server geladen werden. Anzahl der Versuche = %2")
                     .arg(dateiname)
                     .arg(versuche));
    return false;
}

bool PluginManager::downloadInstallerPlugin(const QString& anzeigename, const QString& dateiname, const QString& md5,
                                            const QString& zielVerzeichnis, QString& fehler, quint64 groesse)
{
    emit statusText(textAusLiteral("\"%1\" wird vom Server geladen.").arg(anzeigename));
    emit downloadFortschritt(0, 100);
    emit fortschritt(mi_SchrittAktuell, mi_AnzahlSchritte);
    ++mi_SchrittAktuell;
    if (istInstallerVorhanden(zielVerzeichnis, dateiname, md5))
        return true;

    emit initStatusText(QStringLiteral("Es wird folgende Aktualisierung vom Server geladen: \"%1\"").arg(anzeigename), false);
    const bool ok = dateiDownload(zielVerzeichnis, dateiname, md5, groesse);
    emit initStatusText(QString(), false);
    if (ok)
        return true;
    fehler = mp_DownloadManager->errorString();
    if (fehler.isEmpty())
        fehler = textAusLiteral("Die Pr&uuml;fsumme der Datei stimmt nicht.");
    const QString text = textAusLiteral("\"%1\" konnte nicht vom Server geladen werden. Fehlerursache: %2").arg(dateiname, fehler);
    IV_LOG_ERROR(text);
    emit statusText(text);
    emit downloadFortschritt(0, 100);
    emit fortschritt(mi_SchrittAktuell, mi_AnzahlSchritte);
    return false;
}

bool PluginManager::downloadInstaller()
{
    IV_LOG_EINTRITT();
    QElapsedTimer uhr;
    uhr.start();
    emit initStatusText(QStringLiteral("Es werden Programm-Aktualisierungen vom Server geladen."), false);
    emit sgnDownloadInstaller(true);
    const QString ziel = gibDirTmp();

    auto scheitern = [this]() {
        emit initStatusText(QString(), false);
        emit sgnDownloadInstaller(false);
        IV_LOG_AUSTRITT();
        return false;
    };

    QString fehler;
    if (mp_PluginKoraInstalliert && mp_PluginKoraInstalliert->gibAktion() == Plugin::ERNEUERN) {
        if (!mp_PluginKoraVerfuegbar) {
            IV_LOG_ERROR(textAusLiteral("F&uuml;r das Hauptprogramm und die Steuerberechnung wurde kein Update gefunden."));
            return scheitern();
        }
        const std::optional<Setup> paket = gibHauptanwendungsPaket();
        if (!paket) {
            IV_LOG_ERROR(textAusLiteral("F&uuml;r das Hauptprogramm und die Steuerberechnung wurde auf dem Server kein Update gefunden."));
            mi_ServerStatus = 8;
            return scheitern();
        }
        if (!downloadInstallerPlugin(mp_PluginKoraVerfuegbar->gibAnzeigename(), paket->gibDatei(), paket->gibMD5(), ziel, fehler, paket->gibSize())) {
            IV_LOG_ERROR(textAusLiteral("Das Update f&uuml;r das Hauptprogramm und die Steuerberechnung konnte nicht vom Server "
                                        "geladen werden. Fehlerursache: %1")
                             .arg(fehler));
            return scheitern();
        }
    }

    const bool alle = fuerGeplanteArchive([&](Plugin* alt, Plugin* neu) {
        if (!neu) {
            IV_LOG_ERROR(textAusLiteral("Der Download des Installationsprogramms f&uuml;r \"%1\" kann nicht durchgef&uuml;hrt werden,"
                                        " da das neue Steuererkl&auml;rungsmodul nicht auf dem Server gefunden wurde.")
                             .arg(alt->gibAnzeigename()));
            return false;
        }
        if (!downloadInstallerPlugin(neu->gibAnzeigename(), neu->gibZip(), neu->gibMD5(), ziel, fehler, neu->gibSize())) {
            IV_LOG_ERROR(QStringLiteral("Die Datei %1 konnte nicht vom Server geladen werden. Fehlerursache: %2").arg(neu->gibZip(), fehler));
            return false;
        }
        return true;
    });
    if (!alle)
        return scheitern();

    IV_LOG_INFO(textAusLiteral("Ben&ouml;tigte Zeit f&uuml;r den Download der Update- und Setup-Dateien: %1 ms").arg(uhr.elapsed()));
    emit initStatusText(QString(), false);
    emit sgnDownloadInstaller(false);
    IV_LOG_AUSTRITT();
    return true;
}

quint64 PluginManager::gibSummeDateigroessenInstaller()
{
    QElapsedTimer uhr;
    uhr.start();
    quint64 summe = 0;
    if (mp_PluginKoraInstalliert && mp_PluginKoraInstalliert->gibAktion() == Plugin::ERNEUERN) {
        if (!mp_PluginKoraVerfuegbar) {
            IV_LOG_ERROR(textAusLiteral("F&uuml;r das Hauptprogramm und die Steuerberechnung wurde kein Update gefunden."));
        } else if (const std::optional<Setup> paket = gibHauptanwendungsPaket()) {
            summe += paket->gibSize();
        } else {
            IV_LOG_ERROR(textAusLiteral("F&uuml;r das Hauptprogramm und die Steuerberechnung wurde auf dem Server kein Update gefunden."));
        }
    }
    fuerGeplanteArchive([&](Plugin* alt, Plugin* neu) {
        if (neu)
            summe += neu->gibSize();
        else
            IV_LOG_ERROR(QStringLiteral("\"%1\" kann nicht auf dem Server gefunden wurden.").arg(alt->gibAnzeigename()));
        return true;
    });
    IV_LOG_INFO(textAusLiteral("Ben&ouml;tigte Zeit f&uuml;r die Berechnung des Platzbedarfes der Installer: %1 ms").arg(uhr.elapsed()));
    return summe;
}

quint64 PluginManager::gibSummePlatzbedarfFuerAktualisierungen(bool* ok)
{
    if (ok)
        *ok = true;
    quint64 summe = 0;
    if (mp_PluginKoraInstalliert && mp_PluginKoraInstalliert->gibAktion() == Plugin::ERNEUERN && mp_PluginKoraVerfuegbar) {
        if (const std::optional<Setup> paket = gibHauptanwendungsPaket())
            summe += qMax<quint64>(quint64(3.5 * double(paket->gibSize())), 891289600ULL);
        IV_LOG_DEBUG(QStringLiteral("Summe Update Kora = %1").arg(summe));
    }
    const QString tmp = gibDirTmp();
    // The archive states what it will unpack; a renewal frees what the old
    // version's files take.
    auto archivBedarf = [&](const Plugin* neu, const Plugin* alt) {
        if (!istInstallerVorhanden(tmp, neu->gibZip(), neu->gibMD5())) {
            if (ok)
                *ok = false;
            return;
        }
        ZipArchiv archiv;
        if (!archiv.oeffne(QDir(tmp).filePath(neu->gibZip()))) {
            if (ok)
                *ok = false;
            return;
        }
        const quint64 entpackt = quint64(qMax<qint64>(0, archiv.entpackteGroesse()));
        const quint64 frei = alt ? alt->gibGroesseDateien() : 0;
        summe += entpackt > frei ? entpackt - frei : 0;
    };
    fuerGeplanteArchive([&](Plugin* alt, Plugin* neu) {
        if (neu)
            archivBedarf(neu, alt);
        return true;
    });
    IV_LOG_DEBUG(QStringLiteral("Summe Update Kora + Updates = %1").arg(summe));
    return summe;
}

void PluginManager::formatiereGroesse(quint64 bytes, QString& wert, QString& einheit)
{
    double zahl = double(bytes);
    einheit = QStringLiteral("Byte");
    if (zahl / 1024.0 >= 1.0) {
        zahl /= 1024.0;
        einheit = QStringLiteral("kB");
        if (zahl / 1024.0 >= 1.0) {
            zahl /= 1024.0;
            einheit = QStringLiteral("MB");
        }
    }
    wert = QString::number(zahl, 'f', 2);
}

namespace {

// The drive as the message names it: the first three characters of the
// main application's absolute path ("/op" on this system, "C:/" on others).
QString laufwerkText()
{
    return QDir::fromNativeSeparators(QDir(gs_KoraDir).absolutePath()).left(3);
}

} // namespace

bool PluginManager::passenInstallerAufHD()
{
    quint64 frei = 0;
    QString grund;
    if (!Plattform::freierSpeicher(gibDirTmp(), frei, &grund)) {
        IV_LOG_ERROR(QStringLiteral("Fehler beim Ermitteln der Laufwerksinformationen."));
        IV_LOG_DEBUG(grund);
        return true;
    }
    const quint64 bedarf = gibSummeDateigroessenInstaller();
    if (bedarf <= frei)
        return true;
    QString wert, einheit;
    formatiereGroesse(bedarf - frei, wert, einheit);
    const QString text = textAusLiteral("F&uuml;r den Download der Aktualisierungen fehlen %1 %2 freier Speicher auf dem "
                                        "Ziellaufwerk (%3).")
                             .arg(wert, einheit, laufwerkText());
    IV_LOG_ERROR(text);
    m_Meldungen.insert(1, text);
    return false;
}

bool PluginManager::passenAktualisierungenAufHD(QString& meldung)
{
    quint64 frei = 0;
    QString grund;
    if (!Plattform::freierSpeicher(gs_KoraDir, frei, &grund)) {
        IV_LOG_ERROR(QStringLiteral("Fehler beim Ermitteln der Laufwerksinformationen."));
        IV_LOG_DEBUG(grund);
        return true;
    }
    bool ok = true;
    const quint64 bedarf = gibSummePlatzbedarfFuerAktualisierungen(&ok);
    if (!ok) {
        IV_LOG_ERROR(textAusLiteral("Bei der Berechnung des Platzbedarfes f&uuml;r die Aktualisierungen kam es zu einem Fehler."));
        return true;
    }
    IV_LOG_DEBUG(QStringLiteral("iPlatzbedarfAktualisierungen: %1").arg(bedarf));
    IV_LOG_DEBUG(textAusLiteral("Platzbedarf f&uuml;r die Aktualisierungen = %1").arg(qint64(bedarf) - qint64(frei)));
    if (bedarf <= frei)
        return true;
    QString wert, einheit;
    formatiereGroesse(bedarf - frei, wert, einheit);
    meldung = textAusLiteral("F&uuml;r die Installation der Aktualisierungen fehlen %1 %2 freier Speicher auf dem "
                             "Ziellaufwerk (%3).")
                  .arg(wert, einheit, laufwerkText());
    return false;
}
