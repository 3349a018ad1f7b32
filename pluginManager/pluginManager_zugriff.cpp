// Whether the manager may go online: the special-version marker, the run
// mode, the automatic-check schedule and the user's consent, which kora.ini
// remembers for later processes.

#include "pluginManager/pluginManager.h"

#include "global/varnelApplication/einstellungen.h"
#include "global/varnelApplication/logbase.h"
#include "global/varnelApplication/rueckfrage.h"
#include "global/varnelApplication/textausliteral.h"
#include "pluginManager/startwerte.h"

#include <QDateTime>

bool PluginManager::istInternetzugriffErlaubt()
{
    IV_LOG_EINTRITT();
    if (!Einstellungen::getAdminSonderVersion().isEmpty()) {
        IV_LOG_INFO(textAusLiteral("Der Internetzugriff wird nicht erlaubt. Grund: Das Programm ist eine Sonderversion von Fiscalon."));
        IV_LOG_AUSTRITT();
        return false;
    }
    // The main application asked for it, or the administrator ordered it.
    if (gb_Updateueberpuefung || gb_SilentUpdate) {
        IV_LOG_AUSTRITT();
        return true;
    }
    const bool erster = istErsterProzess();
    const bool zeigen = erster && Einstellungen::getKoraInternetAccessDialog(gs_DirUserKora);

    bool erlaubt = true;
    if (!gb_ZeigeDlg && gs_InstPlugin.isEmpty()) {
        // Started automatically by the main application.
        if (erster) {
            if (!autoUpdateSucheErlaubt()) {
                erlaubt = false;
            } else if (zeigen) {
                erlaubt = zeigeInternetZugriffsDialog();
            } else {
                IV_LOG_INFO(textAusLiteral("Internetzugriffsdialog wird nicht angezeigt."));
            }
        } else {
            IV_LOG_DEBUG(textAusLiteral("2. Instanz - der Internetzugriff wird erlaubt."));
        }
    } else if (!erster) {
        // The first process asked; its answer serves this one.
        erlaubt = Einstellungen::getKoraInternetAccessDialogAntwort(gs_DirUserKora);
    } else if (zeigen) {
        erlaubt = zeigeInternetZugriffsDialog();
    } else {
        IV_LOG_INFO(textAusLiteral("Internetzugriffsdialog wird nicht angezeigt."));
    }
    IV_LOG_AUSTRITT();
    return erlaubt;
}

bool PluginManager::autoUpdateSucheErlaubt()
{
    IV_LOG_EINTRITT();
    if (gb_ZeigeDlg || gb_Updateueberpuefung) {
        IV_LOG_AUSTRITT();
        return true;
    }
    const QDateTime jetzt = QDateTime::currentDateTime();
    const QDateTime letzteSuche = Einstellungen::getAdminLastUpdate();
    if (!letzteSuche.isValid()) {
        IV_LOG_INFO(textAusLiteral("Es wurde noch keine &Uuml;berpr&uuml;fung durchgef&uuml;hrt. Das Datum der letzten "
                                   "&Uuml;berpr&uuml;fung wird daher auf das aktuelle Datum gesetzt."));
        Einstellungen::setAdminLastUpdate(jetzt);
        IV_LOG_AUSTRITT();
        return true;
    }
    const QDateTime letzteInstallation = Einstellungen::getAdminLastUpdateInstallation();
    if (!letzteInstallation.isValid()) {
        IV_LOG_INFO(textAusLiteral("Das Datum der letzten Installation ist unbekannt. Das Datum der letzten Installation "
                                   "wird daher auf das Datum der letzten Update-Suche gesetzt."));
        Einstellungen::setAdminLastUpdateInstallation(letzteSuche.addSecs(10));
        IV_LOG_AUSTRITT();
        return true;
    }
    if (letzteSuche < letzteInstallation) {
        IV_LOG_INFO(textAusLiteral("Nach der letzten Installation am %1 wurde noch nicht nach einem Update gesucht. "
                                   "Die Suche wird jetzt durchgef&uuml;hrt.")
                        .arg(Einstellungen::alsText(letzteInstallation)));
        IV_LOG_AUSTRITT();
        return true;
    }
    // The administrator's interval wins; -1 means he left it to the user.
    int tage = Einstellungen::getAdminUpdateAutoInterval();
    if (tage == -1)
        tage = Einstellungen::getKoraUpdateAutoInterval(gs_DirUserKora);
    const bool faellig = tage >= 1 && jetzt >= letzteSuche.addDays(tage);
    // Without this line an automatic start that is not due ends as if the
    // server were unreachable, and nobody can tell why.
    if (tage < 1)
        IV_LOG_INFO(textAusLiteral("Die automatische Suche nach Updates ist ausgeschaltet (Intervall %1 Tage).").arg(tage));
    else if (!faellig)
        IV_LOG_INFO(textAusLiteral("Die automatische Suche nach Updates ist erst am %1 wieder f&auml;llig (letzte Suche am "
                                   "%2, Intervall %3 Tage).")
                        .arg(Einstellungen::alsText(letzteSuche.addDays(tage)), Einstellungen::alsText(letzteSuche))
                        .arg(tage));
    IV_LOG_AUSTRITT();
    return faellig;
}

bool PluginManager::zeigeInternetZugriffsDialog()
{
    IV_LOG_EINTRITT();
    // Asked at most once per process.
    if (mi_InternetZugriff == 0 || mi_InternetZugriff == 1) {
        IV_LOG_AUSTRITT();
        return mi_InternetZugriff == 1;
    }
    IV_LOG_INFO(textAusLiteral("Internetzugriffsdialog wird angezeigt."));
    const int antwort = rueckfrage().frageInternetZugriff();

    bool erlaubt = false;
    bool wiederAnzeigen = true;
    switch (antwort) {
    case Rueckfrage::INTERNET_JA_EINMALIG:
        erlaubt = true;
        break;
    case Rueckfrage::INTERNET_JA_IMMER:
        erlaubt = true;
        wiederAnzeigen = false;
        break;
    case Rueckfrage::INTERNET_NEIN:
        break;
    default:
        IV_LOG_ERROR(textAusLiteral("Der ButtonRole-Wert %1 des Dialogs ist unbekannt. Weitere Verarbeitung als ob der "
                                    "Dialog mit \"Abbrechen\" beendet worden w&auml;re")
                         .arg(antwort));
        break;
    }

    if (erlaubt) {
        mi_InternetZugriff = 1;
        IV_LOG_INFO(textAusLiteral("Internetzugriff wird erlaubt."));
        Einstellungen::setKoraInternetAccessDialogAntwort(true, gs_DirUserKora);
        Einstellungen::setKoraInternetAccessDialog(wiederAnzeigen, gs_DirUserKora);
        IV_LOG_INFO(wiederAnzeigen ? textAusLiteral("Internetzugriffsdialog soll wieder angezeigt werden!")
                                   : textAusLiteral("Internetzugriffsdialog soll nicht mehr angezeigt werden!"));
    } else {
        mi_InternetZugriff = 0;
        IV_LOG_INFO(textAusLiteral("Internetzugriff wird nicht erlaubt!"));
        Einstellungen::setKoraInternetAccessDialogAntwort(false, gs_DirUserKora);
        Einstellungen::setKoraInternetAccessDialog(true, gs_DirUserKora);
        IV_LOG_INFO(textAusLiteral("Internetzugriffsdialog soll wieder angezeigt werden!"));
    }
    IV_LOG_AUSTRITT();
    return erlaubt;
}
