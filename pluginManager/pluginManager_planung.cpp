// Comparing both sides and planning what a run will do: the status word of
// every module, the actions from ticks, tick-all switches, recommendations
// and the "--instPlugin" list, and the summary the wizard shows of them.

#include "pluginManager/pluginManager.h"

#include "global/varnelApplication/einstellungen.h"
#include "global/varnelApplication/logbase.h"
#include "global/varnelApplication/rueckfrage.h"
#include "global/varnelApplication/textausliteral.h"
#include "pluginManager/dlgPluginManagerDatenmodel.h"
#include "pluginManager/plugin.h"
#include "pluginManager/startwerte.h"

#include <QDateTime>
#include <QMultiMap>
#include <QSet>
#include <functional>

namespace {

// The question about fewer years is repeated at most this often.
constexpr int kTageZwischenHinweisenWenigerJahre = 182;
// More years than this of one declaration make the selection worth reviewing.
constexpr int kHoechstzahlJahre = 4;

int kompatibilitaet(const Plugin* modul, const Plugin* referenz)
{
    if (!referenz)
        return Plugin::KOMPATIBILITAET_OHNE_HAUPTANWENDUNG;
    if (modul->gibInterfaceNr() == referenz->gibInterfaceNr())
        return Plugin::KOMPATIBILITAET_GLEICH;
    if (modul->gibInterfaceNr() < referenz->gibInterfaceNr())
        return Plugin::KOMPATIBILITAET_KLEINER;
    return Plugin::KOMPATIBILITAET_GROESSER;
}

QString fehlerZugriffText(int position, bool installiert)
{
    return textAusLiteral("Fehler beim Zugriff auf das %1. Plugin im Datenmodell %2 Plugins.")
        .arg(position)
        .arg(installiert ? QStringLiteral("installierte") : textAusLiteral("verf&uuml;gbare"));
}

// Whole days from `von` to `bis` by the calendar and the clock, so that a
// change of daylight-saving time in between does not cost a day; negative
// when `von` lies in the future.
qint64 ganzeTage(const QDateTime& von, const QDateTime& bis)
{
    qint64 tage = von.date().daysTo(bis.date());
    if (tage > 0 && bis.time() < von.time())
        --tage;
    else if (tage < 0 && bis.time() > von.time())
        ++tage;
    return tage;
}

// One "--instPlugin" entry: "<Unterfallart>_<Jahr>", both unsigned decimal.
struct Listeneintrag {
    bool zweiTeile = false; // split at "_" into exactly two pieces
    bool gueltig = false;   // and both are numbers
    uint unterfallArt = 0;
    uint jahr = 0;
};

Listeneintrag zerlegeEintrag(const QString& teil)
{
    Listeneintrag e;
    const QStringList stuecke = teil.split(QLatin1Char('_'));
    if (stuecke.size() != 2)
        return e;
    e.zweiTeile = true;
    bool okArt = false, okJahr = false;
    // Plain digits only: toUInt alone would take blanks and a sign.
    const auto nurZiffern = [](const QString& s) {
        if (s.isEmpty())
            return false;
        for (const QChar c : s)
            if (c < QLatin1Char('0') || c > QLatin1Char('9'))
                return false;
        return true;
    };
    if (nurZiffern(stuecke.at(0)))
        e.unterfallArt = stuecke.at(0).toUInt(&okArt, 10);
    if (nurZiffern(stuecke.at(1)))
        e.jahr = stuecke.at(1).toUInt(&okJahr, 10);
    e.gueltig = okArt && okJahr;
    return e;
}

} // namespace

// A pass over a whole list announces each row to the views, but the wizard's
// summary of the plan looks at every record: redone per row it made the
// passes quadratic in the number of modules (seconds for a server index of
// ten thousand). It waits for the end of the outermost pass instead.
class PluginManager::ListenDurchlauf
{
public:
    explicit ListenDurchlauf(PluginManager& pm)
        : m_pm(pm)
    {
        ++m_pm.mi_ListenDurchlauf;
    }
    ~ListenDurchlauf()
    {
        if (--m_pm.mi_ListenDurchlauf == 0)
            emit m_pm.listenDurchlaufBeendet();
    }
    ListenDurchlauf(const ListenDurchlauf&) = delete;
    ListenDurchlauf& operator=(const ListenDurchlauf&) = delete;

private:
    PluginManager& m_pm;
};

// ---- statuses ------------------------------------------------------------------

void PluginManager::setzeStausLokalePlugins()
{
    IV_LOG_EINTRITT();
    const ListenDurchlauf durchlauf(*this);
    const Plugin* referenz = mb_HauptanwendungAktualisieren ? mp_PluginKoraVerfuegbar : mp_PluginKoraInstalliert;
    const bool serverGelesen = mp_DatenmodelVerfuegbar->istGefuellt();
    for (int i = 0; i < mp_DatenmodelInstalliert->anzahl(); ++i) {
        Plugin* installiert = mp_DatenmodelInstalliert->gibPlugin(i);
        if (!installiert) {
            IV_LOG_ERROR(fehlerZugriffText(i + 1, true));
            continue;
        }
        const Plugin* server = gibVerfuegbaresPlugin(installiert);
        const int komp = kompatibilitaet(server ? server : installiert, referenz);
        const int zustand = serverGelesen ? Plugin::vergleicheVersion(installiert, server) : int(Plugin::ZUSTAND_UNBEKANNT);
        installiert->setzeStatus(komp, zustand);
        // Derived anew each time: a selection change must not leave an old mark.
        installiert->setzeKeinUpdatePaket(zustand == Plugin::ZUSTAND_ANDERES_GROESSER && server
                                          && !server->gibSetup(installiert->gibRev()).has_value());
        if (komp == Plugin::KOMPATIBILITAET_OHNE_HAUPTANWENDUNG)
            IV_LOG_ERROR(textAusLiteral("Fiscalon ist besch&auml;digt. Es wird empfohlen eine Neuinstallation durchzuf&uuml;hren."));
        mp_DatenmodelInstalliert->aktualisiereZeile(i);
    }
    IV_LOG_AUSTRITT();
}

void PluginManager::setzeStausVerfuegbarePlugins()
{
    IV_LOG_EINTRITT();
    const ListenDurchlauf durchlauf(*this);
    const Plugin* referenz = mb_HauptanwendungAktualisieren ? mp_PluginKoraVerfuegbar : mp_PluginKoraInstalliert;
    bool sichtbarkeitGeaendert = false;
    for (int i = 0; i < mp_DatenmodelVerfuegbar->anzahl(); ++i) {
        Plugin* verfuegbar = mp_DatenmodelVerfuegbar->gibPlugin(i);
        if (!verfuegbar) {
            IV_LOG_ERROR(fehlerZugriffText(i + 1, false));
            continue;
        }
        const int komp = kompatibilitaet(verfuegbar, referenz);
        const Plugin* installiert = gibInstalliertesPlugin(verfuegbar);
        const int zustand = installiert ? Plugin::vergleicheVersion(verfuegbar, installiert)
                                        : int(Plugin::ZUSTAND_KEIN_GEGENUEBER);
        verfuegbar->setzeStatus(komp, zustand);
        const bool istInstalliert = gibEsDiesesPluginBeiDenInstallierten(verfuegbar);
        if (istInstalliert != verfuegbar->istInstalliert())
            sichtbarkeitGeaendert = true;
        verfuegbar->setzeIstInstalliert(istInstalliert);
        const Plugin* juengstes = findeDasJuengsteInstalliertePluginGleichenTyps(verfuegbar);
        verfuegbar->setzeNeuerZeitraum(juengstes && verfuegbar->gibJahr() > juengstes->gibJahr());
        mp_DatenmodelVerfuegbar->aktualisiereZeile(i);
    }
    // Installed records are not rows of the available table: the rows moved.
    if (sichtbarkeitGeaendert)
        mp_DatenmodelVerfuegbar->meldeZeilen();
    IV_LOG_AUSTRITT();
}

// ---- the main-application selection ----------------------------------------------

void PluginManager::setzeAktionHauptanwendung(bool aktualisieren)
{
    IV_LOG_EINTRITT();
    const ListenDurchlauf durchlauf(*this);
    if (!aktualisieren) {
        if (mp_PluginKoraInstalliert) {
            mb_HauptanwendungAktualisieren = false;
            mp_PluginKoraInstalliert->setzeAktion(Plugin::KEINE);
        }
        setzeAktionBeiINrAenderungLokalePlugins(mp_PluginKoraVerfuegbar, Plugin::KEINE);
        setzeAktionBeiINrAenderungVerfuegbarePlugins(mp_PluginKoraInstalliert, Plugin::KEINE);
    } else {
        if (mp_PluginKoraVerfuegbar) {
            mb_HauptanwendungAktualisieren = true;
            if (mp_PluginKoraInstalliert)
                mp_PluginKoraInstalliert->setzeAktion(Plugin::ERNEUERN);
        }
        setzeAktionBeiINrAenderungLokalePlugins(mp_PluginKoraVerfuegbar, Plugin::ERNEUERN);
    }
    // The compatibility bits follow the new reference.
    setzeStausLokalePlugins();
    setzeStausVerfuegbarePlugins();
    IV_LOG_AUSTRITT();
}

void PluginManager::setzeAktionBeiINrAenderungLokalePlugins(Plugin* pPluginKora, int aktion)
{
    const ListenDurchlauf durchlauf(*this);
    if (!pPluginKora) {
        IV_LOG_ERROR(QStringLiteral("NULL == pPluginKora"));
        return;
    }
    for (int i = 0; i < mp_DatenmodelInstalliert->anzahl(); ++i) {
        Plugin* p = mp_DatenmodelInstalliert->gibPlugin(i);
        if (!p) {
            IV_LOG_ERROR(fehlerZugriffText(i + 1, true));
            continue;
        }
        if (p->gibInterfaceNr() != pPluginKora->gibInterfaceNr()) {
            // A module the server no longer has cannot be renewed: it goes.
            if (aktion == Plugin::ERNEUERN && (p->gibStatus() & Plugin::BIT_KEIN_GEGENUEBER))
                p->setzeAktion(Plugin::ENTFERNEN);
            else
                p->setzeAktion(aktion);
        }
        mp_DatenmodelInstalliert->aktualisiereZeile(i);
    }
}

void PluginManager::setzeAktionBeiINrAenderungVerfuegbarePlugins(Plugin* pPluginKora, int aktion)
{
    const ListenDurchlauf durchlauf(*this);
    if (!pPluginKora) {
        IV_LOG_ERROR(QStringLiteral("NULL == pPluginKora"));
        return;
    }
    for (int i = 0; i < mp_DatenmodelVerfuegbar->anzahl(); ++i) {
        Plugin* p = mp_DatenmodelVerfuegbar->gibPlugin(i);
        if (!p) {
            IV_LOG_ERROR(textAusLiteral("Das Datenmodell der verf&uuml;gbaren Plugins enth&auml;lt an Position %1 einen NULL-Pointer.")
                             .arg(i));
            continue;
        }
        if (p->gibInterfaceNr() != pPluginKora->gibInterfaceNr())
            p->setzeAktion(aktion);
        mp_DatenmodelVerfuegbar->aktualisiereZeile(i);
    }
}

// ---- tick-all switches and recommendations ---------------------------------------------

namespace {

// Gives every record of `modell` for which `neueAktion` names an action (not -1)
// that action, and announces the rows whose action changed.
void setzeAktionen(DlgPluginManagerDatenmodel* modell, bool installiert, const std::function<int(Plugin*)>& neueAktion)
{
    for (int i = 0; i < modell->anzahl(); ++i) {
        Plugin* p = modell->gibPlugin(i);
        if (!p) {
            IV_LOG_ERROR(fehlerZugriffText(i + 1, installiert));
            continue;
        }
        const int neu = neueAktion(p);
        if (neu >= 0 && p->gibAktion() != neu) {
            p->setzeAktion(neu);
            modell->aktualisiereZeile(i);
        }
    }
}

} // namespace

void PluginManager::setzeAktionErneuernInstallierte(bool setzen)
{
    const ListenDurchlauf durchlauf(*this);
    setzeAktionen(mp_DatenmodelInstalliert, true, [setzen](Plugin* p) {
        return p->istErneuerbar() ? (setzen ? Plugin::ERNEUERN : Plugin::KEINE) : -1;
    });
}

void PluginManager::setzeAlleHakenAktualisieren(bool setzen)
{
    setzeAktionErneuernInstallierte(setzen);
}

void PluginManager::setzeAktionVerfuegbareZurInstallationEmpfohlene(bool setzen)
{
    const ListenDurchlauf durchlauf(*this);
    setzeAktionen(mp_DatenmodelVerfuegbar, false, [setzen](Plugin* p) {
        return p->istNeuerZeitraum() ? (setzen ? Plugin::INSTALLIEREN : Plugin::KEINE) : -1;
    });
}

void PluginManager::setzeAktionenEmpfohlene(bool setzen)
{
    setzeAktionErneuernInstallierte(setzen);
    setzeAktionVerfuegbareZurInstallationEmpfohlene(setzen);
}

void PluginManager::setzeAlleHakenInstallieren(bool setzen)
{
    const ListenDurchlauf durchlauf(*this);
    setzeAktionen(mp_DatenmodelVerfuegbar, false, [this, setzen](Plugin* p) {
        if (!p->istInstallierbar())
            return -1;
        return (setzen && !findeGleichesPluginGegenueber(p, true)) ? int(Plugin::INSTALLIEREN) : int(Plugin::KEINE);
    });
}

void PluginManager::resetAktionenDerPlugins()
{
    for (DlgPluginManagerDatenmodel* modell : { mp_DatenmodelInstalliert, mp_DatenmodelVerfuegbar }) {
        for (Plugin* p : modell->gibListe()) {
            if (p)
                p->setzeAktion(Plugin::KEINE);
        }
    }
}

// ---- the summary -----------------------------------------------------------------

QStringList PluginManager::gibAktionen(int& anzahlSchritte)
{
    IV_LOG_EINTRITT();
    m_AktionenListe.clear();
    int schritte = 0;
    if (mp_PluginKoraInstalliert && mp_PluginKoraInstalliert->gibAktion() == Plugin::ERNEUERN) {
        m_AktionenListe.append(textAusLiteral("Das Hauptprogramm und die Steuerberechnung werden aktualisiert."));
        schritte = 2;
    }
    gibAktionenInstallierte(schritte, m_AktionenListe);
    int schritteVerfuegbar = 0;
    gibAktionenVerfuegbare(schritteVerfuegbar, m_AktionenListe);
    mi_AnzahlSchritte = schritte + schritteVerfuegbar;
    anzahlSchritte = mi_AnzahlSchritte;
    IV_LOG_AUSTRITT();
    return m_AktionenListe;
}

void PluginManager::gibAktionenInstallierte(int& anzahlSchritte, QStringList& liste)
{
    const QList<Plugin*>& installierte = mp_DatenmodelInstalliert->gibListe();
    for (int i = 0; i < installierte.size(); ++i) {
        const Plugin* p = installierte.at(i);
        if (!p) {
            IV_LOG_ERROR(fehlerZugriffText(i + 1, true));
            continue;
        }
        if (p->gibAktion() == Plugin::ENTFERNEN) {
            liste.append(textAusLiteral("\"%1\" wird entfernt.").arg(p->gibAnzeigename()));
            anzahlSchritte += 1;
        }
    }

    const Plugin* referenz = mb_HauptanwendungAktualisieren ? mp_PluginKoraVerfuegbar : mp_PluginKoraInstalliert;
    QStringList ausgeschlossen;
    for (const Plugin* p : installierte) {
        if (!p)
            continue;
        if (p->gibAktion() == Plugin::ERNEUERN) {
            liste.append(textAusLiteral("\"%1\" wird aktualisiert.").arg(p->gibAnzeigename()));
            anzahlSchritte += 2;
        } else if (p->gibAktion() == Plugin::KEINE) {
            if (referenz && referenz->gibInterfaceNr() == p->gibInterfaceNr())
                continue; // still usable with the main application it will run with
            const Plugin* gegenueber = findeGleichesPluginGegenueber(p, false);
            if (gegenueber && gegenueber->gibAktion() == Plugin::INSTALLIEREN)
                continue;
            ausgeschlossen.append(p->gibAnzeigename());
        }
    }
    if (!ausgeschlossen.isEmpty()) {
        QString text = textAusLiteral("<b>Achtung!</b> Sie haben folgende Steuererkl&auml;rungsmodule:<ul>");
        for (const QString& name : qAsConst(ausgeschlossen))
            text += QStringLiteral("<li>%1").arg(name);
        text += QStringLiteral("</ul>");
        text += textAusLiteral("von der Aktualisierung ausgeschlossen. Diese k&ouml;nnen nach Aktualisierung der "
                               "Hauptanwendung nicht mehr verwendet werden.");
        liste.prepend(text);
    }
}

void PluginManager::gibAktionenVerfuegbare(int& anzahlSchritte, QStringList& liste)
{
    const QList<Plugin*>& verfuegbare = mp_DatenmodelVerfuegbar->gibListe();
    for (int i = 0; i < verfuegbare.size(); ++i) {
        const Plugin* p = verfuegbare.at(i);
        if (!p) {
            IV_LOG_ERROR(fehlerZugriffText(i + 1, false));
            continue;
        }
        if (p->gibAktion() == Plugin::INSTALLIEREN) {
            liste.append(textAusLiteral("\"%1\" wird installiert.").arg(p->gibAnzeigename()));
            anzahlSchritte += 2;
        }
    }
}

PluginManager::Auswahlzustand PluginManager::gibAuswahlAktualisierungen() const
{
    int n = 0, k = 0;
    for (const Plugin* p : mp_DatenmodelInstalliert->gibListe()) {
        if (!p)
            continue;
        if (p->istErneuerbar())
            ++n;
        if (p->gibAktion() == Plugin::ERNEUERN)
            ++k;
    }
    if (n == 0)
        return AUSWAHL_NICHTS;
    // Every renewable module is one with ERNEUERN or a renewable status;
    // "none ticked" of several still reads as partial for this switch.
    return k == n ? AUSWAHL_ALLE : AUSWAHL_TEILWEISE;
}

PluginManager::Auswahlzustand PluginManager::gibAuswahlFolgezeitraueme() const
{
    int n = 0, k = 0;
    for (const Plugin* p : mp_DatenmodelVerfuegbar->gibListe()) {
        if (!p || !p->istNeuerZeitraum())
            continue;
        if (p->istInstallierbar())
            ++n;
        if (p->gibAktion() == Plugin::INSTALLIEREN)
            ++k;
    }
    if (n == 0)
        return AUSWAHL_NICHTS;
    if (k == n)
        return AUSWAHL_ALLE;
    if (k == 0 || k > n)
        return AUSWAHL_KEINE;
    return AUSWAHL_TEILWEISE;
}

QStringList PluginManager::gibDateilisteInstalliert() const
{
    QStringList liste;
    QSet<QString> gesehen;
    auto uebernimm = [&](const Plugin* p) {
        if (!p)
            return;
        for (const QString& datei : p->gibDateien()) {
            if (!gesehen.contains(datei)) {
                gesehen.insert(datei);
                liste.append(datei);
            }
        }
    };
    uebernimm(mp_PluginKoraInstalliert);
    for (const Plugin* p : mp_DatenmodelInstalliert->gibListe())
        uebernimm(p);
    return liste;
}

// ---- finding the counterpart ------------------------------------------------------

Plugin* PluginManager::findeDasJuengsteInstalliertePluginGleichenTyps(const Plugin* plugin) const
{
    if (!plugin)
        return nullptr;
    Plugin* juengstes = nullptr;
    uint maxJahr = 0;
    for (Plugin* p : mp_DatenmodelInstalliert->gibListe()) {
        if (p && p->gibKurzname() == plugin->gibKurzname() && p->gibJahr() > maxJahr) {
            maxJahr = p->gibJahr();
            juengstes = p;
        }
    }
    return juengstes;
}

Plugin* PluginManager::findeGleichesPluginGegenueber(const Plugin* plugin, bool aufInstallierteSeite) const
{
    if (!plugin)
        return nullptr;
    const DlgPluginManagerDatenmodel* modell = aufInstallierteSeite ? mp_DatenmodelInstalliert : mp_DatenmodelVerfuegbar;
    for (int i = 0; i < modell->anzahl(); ++i) {
        Plugin* p = modell->gibPlugin(i);
        if (!p) {
            IV_LOG_ERROR(fehlerZugriffText(i + 1, aufInstallierteSeite));
            continue;
        }
        if (Plugin::istGleichesPlugin(plugin, p))
            return p;
    }
    return nullptr;
}

namespace {

// The first record of `modell` that is the same module as `plugin`.
Plugin* findeGleiches(const DlgPluginManagerDatenmodel* modell, const Plugin* plugin)
{
    if (!plugin)
        return nullptr;
    for (Plugin* p : modell->gibListe()) {
        if (!p) {
            IV_LOG_ERROR(QStringLiteral("Der Zugriff auf einen NULL-Pointer wurde verhindert."));
            continue;
        }
        if (Plugin::istGleichesPlugin(plugin, p))
            return p;
    }
    return nullptr;
}

} // namespace

bool PluginManager::gibEsDiesesPluginBeiDenInstallierten(const Plugin* plugin) const
{
    return findeGleiches(mp_DatenmodelInstalliert, plugin) != nullptr;
}

Plugin* PluginManager::gibInstalliertesPlugin(const Plugin* plugin) const
{
    return findeGleiches(mp_DatenmodelInstalliert, plugin);
}

Plugin* PluginManager::gibVerfuegbaresPlugin(const Plugin* plugin) const
{
    return findeGleiches(mp_DatenmodelVerfuegbar, plugin);
}

// ---- checks of the selection ------------------------------------------------------------

bool PluginManager::checkSollenAlleInstalliertenGeloeschtUndKeineNeuenInstalliertWerden() const
{
    for (const Plugin* p : mp_DatenmodelInstalliert->gibListe()) {
        if (p && p->gibAktion() != Plugin::ENTFERNEN)
            return false;
    }
    for (const Plugin* p : mp_DatenmodelVerfuegbar->gibListe()) {
        if (p && p->gibAktion() == Plugin::INSTALLIEREN)
            return false;
    }
    return true;
}

QStringList PluginManager::gibPluginsMitMehrAlsVierVZs() const
{
    QMultiMap<QString, uint> jahre;
    for (const Plugin* p : mp_DatenmodelInstalliert->gibListe()) {
        if (p && p->gibAktion() == Plugin::ERNEUERN)
            jahre.insert(p->gibNameHtml(), p->gibJahr());
    }
    for (const Plugin* p : mp_DatenmodelVerfuegbar->gibListe()) {
        if (p && p->gibAktion() == Plugin::INSTALLIEREN)
            jahre.insert(p->gibNameHtml(), p->gibJahr());
    }
    IV_LOG_INFO(QStringLiteral("oMap:[%1]").arg(jahre.keys().join(QStringLiteral(", "))));
    QStringList namen;
    for (const QString& name : jahre.uniqueKeys()) {
        if (jahre.count(name) > kHoechstzahlJahre)
            namen.append(name);
    }
    return namen;
}

bool PluginManager::frageAuswahlUeberpruefen(const QStringList& namen)
{
    IV_LOG_EINTRITT();
    const QDateTime jetzt = QDateTime::currentDateTime();
    const QDateTime letzterHinweis = Einstellungen::getKoraFrageWenigerPluginsDatum(gs_DirUserKora);
    if (letzterHinweis.isValid()) {
        const qint64 tage = ganzeTage(letzterHinweis, jetzt);
        if (tage < kTageZwischenHinweisenWenigerJahre) {
            IV_LOG_INFO(textAusLiteral("Der Hinweis \".. Erkl&auml;rungen f&uuml;r mehr als 4 Jahre ..\" wird nicht "
                                       "angezeigt, weil seit dem letzten Hinweis erst %1 Tage vergangen sind.")
                            .arg(qMax<qint64>(tage, 0)));
            IV_LOG_AUSTRITT();
            return false;
        }
    }

    QString text = textAusLiteral("Die Installation von Fiscalon auf Ihrem PC erm&ouml;glicht f&uuml;r<br>");
    for (const QString& name : namen)
        text += QStringLiteral("<br> - %1").arg(name);
    text += QStringLiteral("<br>");
    text += textAusLiteral("<br>die Erstellung von Erkl&auml;rungen f&uuml;r mehr als 4 Jahre.<br>");
    text += textAusLiteral("Falls Sie nur noch einen Teil dieser Jahre nutzen, k&ouml;nnen Sie das Update deutlich ");
    text += textAusLiteral("beschleunigen, indem Sie die nicht mehr ben&ouml;tigten Jahre aus Ihrer Installation entfernen.<br>");
    text += QStringLiteral("<br>");
    text += textAusLiteral("Sollten Sie die Jahre sp&auml;ter doch ben&ouml;tigen, k&ouml;nnen diese jederzeit wieder zu Ihrer Installation ");
    text += textAusLiteral("von Fiscalon hinzugef&uuml;gt werden.<br>");
    text += QStringLiteral("<br>");
    text += textAusLiteral("M&ouml;chten Sie den Umfang Ihrer Installation vor dem Download des Updates noch einmal &uuml;berpr&uuml;fen?");

    const bool ja = zeigeMeldung(gs_AnwendungsName, text, 4, 0, 0, QStringLiteral("Ja"), QStringLiteral("Nein")) == 1;
    Einstellungen::setKoraFrageWenigerPluginsDatum(QDateTime::currentDateTime(), gs_DirUserKora);
    IV_LOG_INFO(textAusLiteral("Der Anwender hat den Hinweis \".. Erkl&auml;rungen f&uuml;r mehr als 4 Jahre ..\" mit %1 beantwortet.")
                    .arg(ja ? QStringLiteral("ja") : QStringLiteral("nein")));
    IV_LOG_AUSTRITT();
    return ja;
}

int PluginManager::istUpdateVorhanden() const
{
    if (!mp_PluginKoraInstalliert) {
        IV_LOG_ERROR(textAusLiteral("Es wurde keine Installation von Fiscalon auf dem PC gefunden."));
        return -1;
    }
    // Damaged parts planned for repair are work to do like an update.
    if (mi_Reparaturen > 0)
        return 1;
    if (Plugin::vergleicheVersion(mp_PluginKoraInstalliert, mp_PluginKoraVerfuegbar) == Plugin::ZUSTAND_ANDERES_GROESSER)
        return 1;
    for (const Plugin* p : mp_DatenmodelInstalliert->gibListe()) {
        if (p && (p->gibStatus() & Plugin::BIT_UPDATE))
            return 1;
    }
    for (const Plugin* p : mp_DatenmodelVerfuegbar->gibListe()) {
        if (p && p->istNeuerZeitraum())
            return 1;
    }
    return 0;
}

// ---- the "--instPlugin" list ---------------------------------------------------------

bool PluginManager::pruefeInstallationsliste(const QString& liste, QString& grund, QStringList& nichtGefunden)
{
    IV_LOG_EINTRITT();
    if (!mp_PluginKoraInstalliert) {
        grund = textAusLiteral("Es wurde keine Installation von Fiscalon auf dem PC gefunden.");
        IV_LOG_AUSTRITT();
        return false;
    }
    const QStringList teile = liste.split(QLatin1Char(';'), Qt::SkipEmptyParts);
    if (teile.isEmpty()) {
        grund = textAusLiteral("Die Liste der zu installierenden Plugins ist leer.");
        IV_LOG_AUSTRITT();
        return false;
    }

    int gefunden = 0;
    bool andereSchnittstelle = false;
    for (const QString& teil : teile) {
        const Listeneintrag eintrag = zerlegeEintrag(teil);
        Plugin* treffer = nullptr;
        if (eintrag.gueltig) {
            for (Plugin* p : mp_DatenmodelVerfuegbar->gibListe()) {
                if (p && p->gibUnterfallArt() == eintrag.unterfallArt && p->gibJahr() == eintrag.jahr) {
                    treffer = p;
                    break;
                }
            }
        }
        if (treffer) {
            treffer->setzeAktion(Plugin::INSTALLIEREN);
            ++gefunden;
            if (treffer->gibInterfaceNr() != mp_PluginKoraInstalliert->gibInterfaceNr())
                andereSchnittstelle = true;
            continue;
        }
        if (!eintrag.zweiTeile)
            continue;
        if (!eintrag.gueltig) {
            // Not a number: name the entry as given rather than as "Unterfallart 0".
            nichtGefunden.append(teil.toHtmlEscaped());
            continue;
        }
        QString name = gibUnterfallartBezeichnung(eintrag.unterfallArt);
        if (eintrag.jahr != 0 && eintrag.jahr != 9999)
            name += QStringLiteral(" %1").arg(eintrag.jahr);
        nichtGefunden.append(name);
    }
    if (gefunden == 0) {
        grund = textAusLiteral("Keines der zu installierenden Steuererkl&auml;rungsmodule wurde auf dem Server gefunden.");
        IV_LOG_AUSTRITT();
        return false;
    }
    if (!andereSchnittstelle) {
        emit datenAenderung();
        IV_LOG_AUSTRITT();
        return true;
    }

    // The modules need a newer main application: it is updated with them.
    if (!grund.isEmpty())
        grund += QStringLiteral("<br>");
    bool ok = false;
    if (!mp_PluginKoraVerfuegbar)
        grund += textAusLiteral("Es wurde keine Update der Hauptanwendung auf dem Server gefunden.");
    else if (Plugin::vergleicheVersion(mp_PluginKoraInstalliert, mp_PluginKoraVerfuegbar) != Plugin::ZUSTAND_ANDERES_GROESSER)
        grund += textAusLiteral("Es wurde keine neuere Hauptanwendung auf dem Server gefunden.");
    else if (!mp_PluginKoraVerfuegbar->gibSetup(mp_PluginKoraInstalliert->gibRev()).has_value())
        grund += textAusLiteral("Es wurde keine passendes Update der Hauptanwendung auf dem Server gefunden.");
    else
        ok = true;
    if (!ok) {
        IV_LOG_AUSTRITT();
        return false;
    }
    mp_PluginKoraInstalliert->setzeAktion(Plugin::ERNEUERN);
    mb_HauptanwendungAktualisieren = true;
    setzeAktionBeiINrAenderungLokalePlugins(mp_PluginKoraVerfuegbar, Plugin::ERNEUERN);
    // The following years are added when the user wants them; "no" must not
    // untick a following year that the list itself asked for.
    if (Einstellungen::getKoraAlleFolgeJahre(gs_DirUserKora))
        setzeAktionVerfuegbareZurInstallationEmpfohlene(true);
    emit datenAenderung();
    IV_LOG_AUSTRITT();
    return true;
}

QString PluginManager::gibTextInstallationslisteAbgelehnt(const QString& liste, const QString& grund)
{
    const bool mehrere = liste.split(QLatin1Char(';'), Qt::SkipEmptyParts).size() > 1;
    const QString text = mehrere
        ? textAusLiteral("<b>Die Steuererkl&auml;rungsmodule k&ouml;nnen nicht installiert werden.</b><br><br>Grund:<br>%1<br>")
        : textAusLiteral("<b>Das Steuererkl&auml;rungsmodul kann nicht installiert werden.</b><br><br>Grund:<br>%1<br>");
    return text.arg(grund);
}

QString PluginManager::gibTextInstallationslisteNichtGefunden(const QStringList& nichtGefunden)
{
    if (nichtGefunden.isEmpty())
        return QString();
    QString text = textAusLiteral("<b>Nicht alle Steuererkl&auml;rungsmodule werden installiert.</b><br><br>");
    text += nichtGefunden.size() > 1
        ? textAusLiteral("Folgende Steuererkl&auml;rungsmodule wurden nicht auf dem Server gefunden:<br>")
        : textAusLiteral("Folgendes Steuererkl&auml;rungsmodul wurde nicht auf dem Server gefunden:<br>");
    text += QStringLiteral("<ul>");
    for (const QString& name : nichtGefunden)
        text += QStringLiteral("<li>%1</li>").arg(name);
    text += QStringLiteral("</ul>");
    return text;
}
