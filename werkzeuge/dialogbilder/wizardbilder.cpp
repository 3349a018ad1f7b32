// The wizard's pages as PNG files, from module records built in memory: no
// server, no installation and no run are involved.

#include "werkzeuge/dialogbilder/wizardbilder.h"
#include "werkzeuge/dialogbilder/bildspeicher.h"

#include "global/varnelApplication/einstellungen.h"
#include "global/varnelApplication/textausliteral.h"
#include "pluginManager/dlgPluginManager.h"
#include "pluginManager/dlgPluginManagerDatenmodel.h"
#include "pluginManager/plugin.h"
#include "pluginManager/pluginManager.h"
#include "pluginManager/wizardablauf.h"

#include <QApplication>
#include <QDateTime>
#include <QDir>
#include <QFrame>
#include <QProgressBar>
#include <QTabWidget>
#include <cstdio>

namespace {

int g_fehler = 0;
QString g_ziel;

void speichere(QWidget* w, const QString& name)
{
    if (!speichereBild(w, g_ziel, name))
        ++g_fehler;
}

Plugin* modul(const char* name, const char* kurz, uint unterfallArt, uint jahr, uint interfaceNr, int kompatibilitaet,
              int zustand, int aktion = Plugin::KEINE)
{
    auto* p = new Plugin;
    p->setzeName(QString::fromLatin1(name));
    p->setzeKurzname(QString::fromLatin1(kurz));
    p->setzeUnterfallArt(unterfallArt);
    p->setzeJahr(jahr);
    p->setzeInterfaceNr(interfaceNr);
    p->setzeRev(27000 + jahr % 100);
    p->setzeVersion(QStringLiteral("21.%1").arg(jahr % 10));
    p->setzeStatus(kompatibilitaet, zustand);
    p->setzeAktion(aktion);
    p->setzeInitialisiert(true);
    return p;
}

Plugin* hauptprogramm(const char* version, uint interfaceNr, uint nrAlle)
{
    auto* p = modul("Fiscalon", "kora", 0, 9999, interfaceNr, Plugin::KOMPATIBILITAET_GLEICH, Plugin::ZUSTAND_GLEICH);
    p->setzeVersion(QString::fromLatin1(version));
    p->setzeNrAlle(nrAlle);
    return p;
}

// The statuses are the words the comparison gives for these version numbers.
void fuelleBeispiel(PluginManager& engine)
{
    auto* installiert = engine.gibDatenmodelInstalliert();
    auto* verfuegbar = engine.gibDatenmodelVerfuegbar();
    engine.setzePluginKoraInstalliert(hauptprogramm("21.2", 5, 10));
    engine.setzePluginKoraVerfuegbar(hauptprogramm("21.3", 5, 11));
    using P = Plugin;
    installiert->fuegeHinzu(modul("Einkommensteuererklaerung", "est", 10, 2019, 5, P::KOMPATIBILITAET_GLEICH, P::ZUSTAND_GLEICH));
    installiert->fuegeHinzu(modul("Einkommensteuererklaerung", "est", 10, 2020, 5, P::KOMPATIBILITAET_GLEICH,
                                  P::ZUSTAND_ANDERES_GROESSER, P::ERNEUERN));
    installiert->fuegeHinzu(modul("Umsatzsteuererklaerung", "ust", 50, 2020, 5, P::KOMPATIBILITAET_GLEICH,
                                  P::ZUSTAND_ANDERES_GROESSER));
    // Left behind by the new interface of the main application: the summary warns about it.
    installiert->fuegeHinzu(modul("Gewerbesteuererklaerung", "gew", 20, 2017, 4, P::KOMPATIBILITAET_KLEINER,
                                  P::ZUSTAND_KEIN_GEGENUEBER));
    installiert->fuegeHinzu(modul("Antrag auf Dauerfristverlaengerung/Sondervorauszahlung", "dfv", 56, 9999, 5,
                                  P::KOMPATIBILITAET_GLEICH, P::ZUSTAND_VERSCHIEDEN));

    auto* est2021 = modul("Einkommensteuererklaerung", "est", 10, 2021, 5, P::KOMPATIBILITAET_GLEICH,
                          P::ZUSTAND_KEIN_GEGENUEBER, P::INSTALLIEREN);
    est2021->setzeNeuerZeitraum(true);
    verfuegbar->fuegeHinzu(est2021);
    auto* est2020 = modul("Einkommensteuererklaerung", "est", 10, 2020, 5, P::KOMPATIBILITAET_GLEICH, P::ZUSTAND_ANDERES_GROESSER);
    est2020->setzeIstInstalliert(true);
    verfuegbar->fuegeHinzu(est2020);
    auto* ust2021 = modul("Umsatzsteuererklaerung", "ust", 50, 2021, 5, P::KOMPATIBILITAET_GLEICH, P::ZUSTAND_KEIN_GEGENUEBER);
    ust2021->setzeNeuerZeitraum(true);
    verfuegbar->fuegeHinzu(ust2021);
    verfuegbar->fuegeHinzu(modul("Lohnsteuer-Anmeldung", "lsta", 64, 2021, 5, P::KOMPATIBILITAET_GLEICH,
                                 P::ZUSTAND_KEIN_GEGENUEBER));
    verfuegbar->fuegeHinzu(modul("Einnahmenueberschussrechnung", "eur", 77, 2021, 6, P::KOMPATIBILITAET_GROESSER,
                                 P::ZUSTAND_KEIN_GEGENUEBER));
    installiert->meldeZeilen();
    verfuegbar->meldeZeilen();
}

// A finished run with failures and successes, as the engine records them.
class BeispielAblauf : public WizardAblauf
{
public:
    explicit BeispielAblauf(bool speicherplatz)
    {
        m_Meldungen.insert(1, QStringLiteral("\"Gewerbesteuererkl&auml;rung 2017\" wurde nicht entfernt."));
        if (speicherplatz)
            m_Meldungen.insert(1, QStringLiteral("F&uuml;r den Download der Aktualisierungen fehlen 1,2 GB freier "
                                                 "Speicher auf dem Ziellaufwerk (/opt)."));
        else
            m_Meldungen.insert(1, QStringLiteral("\"Einkommensteuererkl&auml;rung 2021\" wurde nicht installiert, da "
                                                 "die Datei \"est_21.zip\" nicht vom Server geladen werden konnte."));
        m_Meldungen.insert(0, QStringLiteral("Das Hauptprogramm und die Steuerberechnung wurden aktualisiert."));
        m_Meldungen.insert(0, QStringLiteral("\"Einkommensteuererkl&auml;rung 2020\" wurde erneuert."));
    }
    bool laeuftMitAdminRechten() const override { return false; }
    bool beendeWennZielNetzlaufwerkIst() override { return false; }
};

} // namespace

int speichereWizardBilder(const QString& ziel)
{
    g_ziel = ziel;
    g_fehler = 0;
    Einstellungen::setAdminLastUpdateInstallation(QDateTime(QDate(2021, 3, 14), QTime(9, 41)));

    PluginManager engine;
    fuelleBeispiel(engine);
    BeispielAblauf ablauf(false);
    DlgPluginManager wizard(&engine, true);
    wizard.setzeAblauf(&ablauf);
    wizard.setzteTabBenutzerdefiniert(0);
    wizard.show();
    wizard.initGui();
    speichere(&wizard, QStringLiteral("wizard_1_einfach"));

    wizard.setzteTabBenutzerdefiniert(1);
    auto* tabs = wizard.findChild<QTabWidget*>(QStringLiteral("tabWidget"));
    tabs->setCurrentIndex(0);
    speichere(&wizard, QStringLiteral("wizard_2_installiert"));
    tabs->setCurrentIndex(1);
    speichere(&wizard, QStringLiteral("wizard_3_verfuegbar"));
    tabs->setCurrentIndex(0);

    auto* frame = wizard.findChild<QFrame*>(QStringLiteral("frame_Hauptprogramm"));
    wizard.setzeStatusKoras();
    speichere(frame, QStringLiteral("wizard_4_hauptprogramm_update"));

    wizard.zeigeSeite(2);
    speichere(&wizard, QStringLiteral("wizard_5_zusammenfassung"));
    wizard.zeigeSeite(3);
    speichere(&wizard, QStringLiteral("wizard_6_lizenz"));
    wizard.zeigeSeite(4);
    wizard.statusText(textAusLiteral("\"Einkommensteuererkl&auml;rung 2021\" wird heruntergeladen ..."));
    wizard.fortschritt_Einzel(3, 8);
    wizard.fortschritt(2, 7);
    speichere(&wizard, QStringLiteral("wizard_7_fortschritt"));
    wizard.zeigeSeite(6);
    speichere(&wizard, QStringLiteral("wizard_8_ergebnis_fehler"));
    BeispielAblauf platz(true);
    wizard.setzeAblauf(&platz);
    wizard.zeigeSeite(6);
    speichere(&wizard, QStringLiteral("wizard_9_ergebnis_speicherplatz"));
    wizard.setzeAblauf(nullptr);

    // The main-application frame in its other two colours.
    engine.setzePluginKoraVerfuegbar(hauptprogramm("21.2", 5, 10));
    wizard.setzeStatusKoras();
    speichere(frame, QStringLiteral("wizard_4_hauptprogramm_aktuell"));
    engine.setzePluginKoraInstalliert(nullptr);
    wizard.setzeStatusKoras();
    speichere(frame, QStringLiteral("wizard_4_hauptprogramm_fehlt"));
    wizard.hide();
    return g_fehler;
}
