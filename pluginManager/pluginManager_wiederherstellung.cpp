// Crash safety: the run journal's hooks, the account and repair after a run
// that did not reach its end, and the verification of every installed part
// against its signed dictionary ("--pruefen").
//
// A stopped run can leave a module half moved into place, a removal without
// its clean-up, staging folders and partial downloads. The next start that
// may change the installation removes the leftovers, verifies every part the
// journal names (every part when the journal is damaged) and plans the
// failing ones for a reinstall from the server, as a renewal of the same or a
// newer revision. Nothing of the journal is used as a path: it names parts,
// and the files of the clean-up are checked as dictionary entries and only
// deleted when no installed part lists them.

#include "pluginManager/pluginManager.h"

#include "global/archiv/ziparchiv.h"
#include "global/crypto/crypto.h"
#include "global/crypto/cryptohelper.h"
#include "global/downloadManager/downloadmanager.h"
#include "global/varnelApplication/logbase.h"
#include "global/varnelApplication/textausliteral.h"
#include "pluginManager/dlgPluginManagerDatenmodel.h"
#include "pluginManager/plugin.h"
#include "pluginManager/startwerte.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <QTextStream>
#include <algorithm>

namespace {

Laufjournal::Teil teilVon(const Plugin* p)
{
    if (!p)
        return { QStringLiteral("alle"), 0 };
    return { p->gibKurzname(), p->gibJahr() };
}

QString anzeigename(const DictInfo& info)
{
    const QString jahr = info.veranlagungszeitraum;
    if (jahr.isEmpty() || jahr == QLatin1String("9999") || jahr == QLatin1String("0"))
        return info.langname;
    return info.langname + QLatin1Char(' ') + jahr;
}

// Staging folders of the extraction, partial downloads nobody can resume.
void entferneReste()
{
    for (const QString& ordner : { gs_KoraDir, PluginManager::gibDirService() }) {
        if (ordner.isEmpty())
            continue;
        // An unpack stopped during its moves is completed first: its files
        // were all on the disk, and a part left between two revisions (a
        // dictionary without its signature among them) is worse than either.
        QStringList fehler;
        const int bewegt = ZipArchiv::vollendeZuege(ordner, fehler);
        if (bewegt > 0)
            IV_LOG_INFO(textAusLiteral("Das unterbrochene Entpacken in \"%1\" wurde abgeschlossen (%2 Dateien).")
                            .arg(QDir::toNativeSeparators(ordner))
                            .arg(bewegt));
        for (const QString& f : qAsConst(fehler))
            IV_LOG_ERROR(f);
        const QFileInfoList reste = QDir(ordner).entryInfoList({ QStringLiteral(".iv-entpacken-*") },
                                                               QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
        for (const QFileInfo& r : reste) {
            // A link is removed as a link, never followed.
            const bool ok = (r.isDir() && !r.isSymLink()) ? QDir(r.absoluteFilePath()).removeRecursively()
                                                          : QFile::remove(r.absoluteFilePath());
            if (ok)
                IV_LOG_INFO(textAusLiteral("Der Rest \"%1\" des unterbrochenen Laufs wurde entfernt.")
                                .arg(QDir::toNativeSeparators(r.absoluteFilePath())));
            else
                IV_LOG_ERROR(textAusLiteral("Der Rest \"%1\" des unterbrochenen Laufs konnte nicht entfernt werden.")
                                 .arg(QDir::toNativeSeparators(r.absoluteFilePath())));
        }
    }
    // A partial download stays only with its companion: the next transfer resumes it.
    const QString tmp = PluginManager::gibDirTmp();
    const QString teil = downloadManager::teilDateiPfad(QString());
    const QString info = teil + QStringLiteral(".info");
    for (const QFileInfo& r : QDir(tmp).entryInfoList({ QLatin1Char('*') + teil, QLatin1Char('*') + info },
                                                      QDir::Files | QDir::Hidden | QDir::System)) {
        const QString p = r.absoluteFilePath();
        const bool istInfo = p.endsWith(info);
        const QString partner = istInfo ? p.left(p.size() - 5) : p + QStringLiteral(".info");
        if (!r.isSymLink() && QFileInfo(partner).isFile() && !QFileInfo(partner).isSymLink())
            continue;
        if (QFile::remove(p))
            IV_LOG_INFO(textAusLiteral("Der nicht fortsetzbare Teil-Download \"%1\" wurde entfernt.").arg(QDir::toNativeSeparators(p)));
    }
}

} // namespace

// ---- verification ---------------------------------------------------------------------------

PluginManager::TeilPruefung PluginManager::pruefeTeil(const QString& dictPfad, const QString& basis)
{
    TeilPruefung e;
    const QFileInfo dict(dictPfad);
    e.name = dict.fileName();
    e.dictPfad = QDir::toNativeSeparators(dictPfad);
    DictInfo info;
    if (!CryptoHelper::getDictInfo(dict.fileName(), info, dict.absolutePath(), true, false)) {
        e.fehler = textAusLiteral("Das Dictionary \"%1\" ist nicht lesbar.").arg(e.dictPfad);
        return e;
    }
    e.name = anzeigename(info);
    e.teil = { info.kurzname, info.veranlagungszeitraum.toUInt() };
    if (info.signaturGueltig != QLatin1String("true"))
        e.fehler = textAusLiteral("Die Signatur des Dictionarys \"%1\" ist ung&uuml;ltig.").arg(e.dictPfad);
    for (auto it = info.dateien.cbegin(); it != info.dateien.cend(); ++it) {
        ++e.geprueft;
        const QString pfad = Plugin::pfadImOrdner(basis, it.value().pfad, true);
        if (pfad.isEmpty() || !QFileInfo(pfad).isFile())
            e.fehlend << it.value().pfad;
        else if (Crypto::md5Pruefsumme(pfad) != it.value().pruefsumme)
            e.geaendert << it.value().pfad;
    }
    e.fehlend.sort();
    e.geaendert.sort();
    return e;
}

QList<PluginManager::TeilPruefung> PluginManager::pruefeAlleTeile()
{
    IV_LOG_EINTRITT();
    QList<TeilPruefung> liste;
    QStringList gueltige, ungueltige;
    CryptoHelper::leseDictDateiListe(gs_KoraDir, gueltige, ungueltige, false);
    for (const QString& name : gueltige + ungueltige) {
        const QString pfad = QFileInfo(name).isAbsolute() ? name : QDir(gs_KoraDir).absoluteFilePath(name);
        liste << pruefeTeil(pfad, gs_KoraDir);
    }
    // The technical parts: service and manager copy in the service folder,
    // and the running manager's own folder when it is a third one.
    QStringList ordner{ gibDirService() };
    QDir eigener = QFileInfo(gibProgrammDatei()).absoluteDir();
    if (eigener.cdUp())
        ordner << QDir::toNativeSeparators(eigener.absolutePath());
    QSet<QString> gesehen{ QDir(gs_KoraDir).canonicalPath() };
    for (const QString& o : qAsConst(ordner)) {
        const QString kanonisch = QDir(o).canonicalPath();
        if (o.isEmpty() || kanonisch.isEmpty() || gesehen.contains(kanonisch))
            continue;
        gesehen.insert(kanonisch);
        for (const QString& basis : { DICT_BASIS_SERVICE, DICT_BASIS_IV }) {
            const QString dict = o + QStringLiteral("/dict/") + gibVdictName(basis, 0);
            if (QFileInfo::exists(dict))
                liste << pruefeTeil(dict, o);
        }
    }
    IV_LOG_AUSTRITT();
    return liste;
}

int PluginManager::ablaufPruefen(QTextStream& aus)
{
    IV_LOG_EINTRITT();
    const QList<TeilPruefung> liste = pruefeAlleTeile();
    aus << QStringLiteral("Pr\u00fcfung der Installation in %1\n").arg(QDir::toNativeSeparators(gs_KoraDir));
    if (liste.isEmpty()) {
        const QString text = textAusLiteral("Es wurde kein installierter Teil gefunden (kein Dictionary im Ordner \"dict\").");
        IV_LOG_ERROR(text);
        aus << text << '\n';
        IV_LOG_AUSTRITT();
        return -1;
    }
    QList<Laufjournal::Planpunkt> reparieren;
    for (const TeilPruefung& e : liste) {
        const QString zustand = e.istHeil() ? QStringLiteral("in Ordnung") : QStringLiteral("BESCH\u00c4DIGT");
        const QString zeile = QStringLiteral("%1: %2 Dateien gepr\u00fcft, %3 fehlen, %4 ge\u00e4ndert - %5")
                                  .arg(e.name)
                                  .arg(e.geprueft)
                                  .arg(e.fehlend.size())
                                  .arg(e.geaendert.size())
                                  .arg(zustand);
        aus << zeile << '\n';
        if (!e.fehler.isEmpty())
            aus << QStringLiteral("  ") << e.fehler << '\n';
        for (const QString& f : e.fehlend)
            aus << QStringLiteral("  fehlt: ") << f << '\n';
        for (const QString& f : e.geaendert)
            aus << QStringLiteral("  ge\u00e4ndert: ") << f << '\n';
        if (e.istHeil()) {
            IV_LOG_INFO(zeile);
        } else {
            IV_LOG_ERROR(zeile);
            if (Laufjournal::istGueltigerKurzname(e.teil.kurzname))
                reparieren.append({ Laufjournal::REPARIEREN, e.teil });
        }
    }
    const int beschaedigt = int(std::count_if(liste.cbegin(), liste.cend(), [](const TeilPruefung& e) { return !e.istHeil(); }));
    const QString ergebnis = beschaedigt == 0
        ? QStringLiteral("Ergebnis: alle %1 Teile sind in Ordnung.").arg(liste.size())
        : QStringLiteral("Ergebnis: %1 von %2 Teilen sind besch\u00e4digt; der n\u00e4chste Lauf der %3 repariert sie.")
              .arg(beschaedigt)
              .arg(liste.size())
              .arg(gs_AnwendungsName);
    aus << ergebnis << '\n';
    IV_LOG_INFO(ergebnis);
    // The installation stays as it is; a note in the engine's data tells the
    // next run which parts to verify and repair.
    if (!reparieren.isEmpty())
        Laufjournal::vermerkeReparatur(reparieren);
    IV_LOG_AUSTRITT();
    return beschaedigt == 0 ? 0 : EXIT_BESCHAEDIGT;
}

int PluginManager::pruefeAusAssistent(QString& bericht)
{
    IV_LOG_EINTRITT();
    bericht.clear();
    QTextStream aus(&bericht);
    const int code = ablaufPruefen(aus);
    aus.flush();
    if (code == EXIT_BESCHAEDIGT) {
        // The note ablaufPruefen left is what the next start would read.
        m_Unterbrochen = Laufjournal::lese();
        mb_Wiederherstellung = m_Unterbrochen.vorhanden;
        planeReparaturen();
    }
    IV_LOG_AUSTRITT();
    return code;
}

// ---- after a stopped run ----------------------------------------------------------------------

bool PluginManager::pruefeUnterbrochenenLauf()
{
    IV_LOG_EINTRITT();
    m_Unterbrochen = Laufjournal::lese();
    mb_Wiederherstellung = m_Unterbrochen.vorhanden;
    if (!mb_Wiederherstellung) {
        IV_LOG_AUSTRITT();
        return false;
    }
    const Laufjournal::Stand& s = m_Unterbrochen;
    if (s.beschaedigt) {
        IV_LOG_ERROR(textAusLiteral("Das Laufjournal \"%1\" ist besch&auml;digt (%2). Der Zustand der Installation ist "
                                    "unbekannt: alle installierten Teile werden gepr&uuml;ft.")
                         .arg(QDir::toNativeSeparators(Laufjournal::pfad()), s.grund));
    } else if (s.nurPruefung) {
        QStringList teile;
        for (const Laufjournal::Planpunkt& p : s.plan)
            teile << p.teil.schluessel();
        IV_LOG_INFO(textAusLiteral("Eine Pr&uuml;fung der Installation hat besch&auml;digte Teile gefunden: %1. Sie werden "
                                   "erneut gepr&uuml;ft und repariert.")
                        .arg(teile.join(QStringLiteral(", "))));
    } else {
        QStringList geplant;
        for (const Laufjournal::Planpunkt& p : s.plan)
            geplant << p.aktion + QLatin1Char(' ') + p.teil.schluessel();
        IV_LOG_ERROR(textAusLiteral("Der Lauf der %1 vom %2 wurde nicht beendet. Geplant war: %3. Unterbrochen bei: %4. "
                                    "Letzter Eintrag: %5. Die genannten Teile werden gepr&uuml;ft.")
                         .arg(gs_AnwendungsName, s.beginn.toLocalTime().toString(QStringLiteral("dd.MM.yyyy HH:mm:ss")),
                              geplant.isEmpty() ? QStringLiteral("nichts") : geplant.join(QStringLiteral(", ")),
                              s.offeneSchritte.isEmpty() ? QStringLiteral("zwischen zwei Schritten")
                                                         : s.offeneSchritte.join(QStringLiteral(", ")),
                              s.letzterSchritt.isEmpty() ? QStringLiteral("der Plan") : s.letzterSchritt));
    }
    entferneReste();
    IV_LOG_AUSTRITT();
    return true;
}

void PluginManager::planeReparaturen()
{
    if (!mb_Wiederherstellung)
        return;
    IV_LOG_EINTRITT();
    const Laufjournal::Stand& s = m_Unterbrochen;
    // The clean-up the stopped run did not finish: what was listed before and
    // no installed part lists now.
    if (!s.bereinigt && !s.dateienVorher.isEmpty()) {
        IV_LOG_INFO(textAusLiteral("Die Bereinigung des unterbrochenen Laufs wird nachgeholt."));
        bereinigen(gs_KoraDir, s.dateienVorher, gibDateilisteInstalliert());
    }

    QSet<QString> genannt, entfernenGeplant;
    for (const Laufjournal::Planpunkt& p : s.plan) {
        genannt.insert(p.teil.schluessel());
        if (p.aktion == Laufjournal::ENTFERNEN)
            entfernenGeplant.insert(p.teil.schluessel());
    }
    for (auto it = s.offenNachTeil.cbegin(); it != s.offenNachTeil.cend(); ++it)
        genannt.insert(it.key());
    const bool alle = s.beschaedigt;

    mi_Reparaturen = 0;
    QStringList namen;
    QSet<QString> installiert;
    QList<Plugin*> teile = mp_DatenmodelInstalliert->gibListe();
    if (mp_PluginKoraInstalliert)
        teile.prepend(mp_PluginKoraInstalliert);
    for (Plugin* p : qAsConst(teile)) {
        if (!p)
            continue;
        const QString schluessel = teilVon(p).schluessel();
        installiert.insert(schluessel);
        if (!alle && !genannt.contains(schluessel))
            continue;
        // The stopped run meant to remove a module of the old interface along
        // with the main application's update; once the new main application
        // is in place nothing would plan that removal again, and the module
        // could no longer be used.
        if (p != mp_PluginKoraInstalliert && entfernenGeplant.contains(schluessel) && mp_PluginKoraInstalliert
            && p->gibInterfaceNr() != mp_PluginKoraInstalliert->gibInterfaceNr()) {
            IV_LOG_INFO(textAusLiteral("\"%1\" passt nicht zur installierten Hauptanwendung; die geplante Entfernung wird "
                                       "nachgeholt.")
                            .arg(p->gibAnzeigename()));
            p->setzeAktion(Plugin::ENTFERNEN);
            ++mi_Reparaturen;
            namen << p->gibAnzeigename();
            continue;
        }
        const TeilPruefung e = pruefeTeil(p->gibDictDatei(), gs_KoraDir);
        if (e.istHeil()) {
            IV_LOG_INFO(textAusLiteral("\"%1\" ist in Ordnung (%2 Dateien gepr&uuml;ft).").arg(p->gibAnzeigename()).arg(e.geprueft));
            // Its files reached the new revision, what goes with them did not:
            // nothing else would do it, since no update is due any more.
            if (p == mp_PluginKoraInstalliert && s.offenNachTeil.value(schluessel) == Laufjournal::HAUPTANWENDUNG
                && mp_PluginKoraVerfuegbar && p->gibRev() >= mp_PluginKoraVerfuegbar->gibRev()) {
                IV_LOG_INFO(textAusLiteral("Die Aktualisierung der Hauptanwendung wurde nach dem Entpacken unterbrochen; "
                                           "Men&uuml;eintr&auml;ge, Deinstallationseintrag und Dienst werden nachgezogen."));
                fuehreHauptanwendungsNacharbeitenAus();
                updateService();
            }
            continue;
        }
        const QStringList beispiele = (e.fehlend + e.geaendert).mid(0, 5);
        IV_LOG_ERROR(textAusLiteral("\"%1\" ist besch&auml;digt (%2 Dateien gepr&uuml;ft, fehlend: %3, ge&auml;ndert: %4)%5%6")
                         .arg(p->gibAnzeigename())
                         .arg(e.geprueft)
                         .arg(e.fehlend.size())
                         .arg(e.geaendert.size())
                         .arg(beispiele.isEmpty() ? QString() : QStringLiteral(": ") + beispiele.join(QStringLiteral(", ")),
                              e.fehler.isEmpty() ? QString() : QStringLiteral(" ") + e.fehler));
        // A removal that was under way is finished, not undone.
        if (s.offenNachTeil.value(schluessel) == Laufjournal::ENTFERNEN) {
            p->setzeAktion(Plugin::ENTFERNEN);
            ++mi_Reparaturen;
            namen << p->gibAnzeigename();
            continue;
        }
        if (p == mp_PluginKoraInstalliert) {
            // Repaired from the server's complete archive of the same or a
            // newer revision (gibHauptanwendungsPaket): a stop in the middle of
            // its update may have left any mix of both revisions' files.
            p->setzeBeschaedigt(true);
            if (gibHauptanwendungsPaket()) {
                setzeAktionHauptanwendung(true);
                ++mi_Reparaturen;
                namen << p->gibAnzeigename();
            } else {
                p->setzeBeschaedigt(false);
                IV_LOG_ERROR(textAusLiteral("Fiscalon kann nicht repariert werden: der Server bietet kein vollst&auml;ndiges "
                                            "Archiv der Hauptanwendung gleichen oder neueren Stands an."));
            }
            continue;
        }
        const Plugin* neu = findeGleichesPluginGegenueber(p, false);
        if (!neu || neu->gibRev() < p->gibRev()) {
            IV_LOG_ERROR(textAusLiteral("\"%1\" kann nicht repariert werden: der Server bietet es nicht in gleichem oder "
                                        "neuerem Stand an.")
                             .arg(p->gibAnzeigename()));
            continue;
        }
        p->setzeAktion(Plugin::ERNEUERN);
        p->setzeBeschaedigt(true);
        ++mi_Reparaturen;
        namen << p->gibAnzeigename();
    }
    // The service folder's parts: a damaged manager copy is replaced by the
    // running manager's, a damaged service by the next run's service update.
    const QString dienst = gibDirService();
    for (const QString& basis : { DICT_BASIS_SERVICE, DICT_BASIS_IV }) {
        const QString dict = dienst + QStringLiteral("/dict/") + gibVdictName(basis, 0);
        if (dienst.isEmpty() || !QFileInfo::exists(dict) || (!alle && !genannt.contains(basis + QStringLiteral(" 0"))))
            continue;
        const TeilPruefung e = pruefeTeil(dict, dienst);
        if (e.istHeil())
            continue;
        IV_LOG_ERROR(textAusLiteral("\"%1\" im Ordner \"%2\" ist besch&auml;digt (%3 Dateien gepr&uuml;ft, fehlend: %4, "
                                    "ge&auml;ndert: %5); es wird bei der n&auml;chsten Aktualisierung ersetzt.")
                         .arg(e.name, dienst)
                         .arg(e.geprueft)
                         .arg(e.fehlend.size())
                         .arg(e.geaendert.size()));
        if (basis == DICT_BASIS_SERVICE) {
            mb_DienstBeschaedigt = true;
        } else if (QFile::remove(dict)) {
            // A copy without its dictionary counts as missing: the running
            // manager's copy replaces it now when it can, else the next
            // self-update check finds it due.
            QFile::remove(dict + QStringLiteral(".sig"));
            IV_LOG_INFO(textAusLiteral("Das Dictionary \"%1\" der besch&auml;digten Kopie wurde entfernt.").arg(dict));
            kopiereIvInsServiceDir();
        } else {
            IV_LOG_ERROR(textAusLiteral("Das Dictionary \"%1\" der besch&auml;digten Kopie konnte nicht entfernt werden.").arg(dict));
        }
    }
    // A service update that began and did not end may have left the service
    // stopped or deregistered with intact files: it is renewed by the next
    // run, whatever the verification said.
    if (s.offenNachTeil.value(DICT_BASIS_SERVICE + QStringLiteral(" 0")) == Laufjournal::DIENST) {
        IV_LOG_ERROR(textAusLiteral("Das Update des \"%1\" wurde nicht beendet; er wird erneut installiert.").arg(SERVICE_ANZEIGENAME));
        mb_DienstBeschaedigt = true;
    }
    if (mb_DienstBeschaedigt) {
        ++mi_Reparaturen;
        namen << SERVICE_ANZEIGENAME;
    }

    // A part whose installation began and whose dictionary is not there: it
    // is installed anew.
    for (auto it = s.offenNachTeil.cbegin(); it != s.offenNachTeil.cend(); ++it) {
        if (installiert.contains(it.key())
            || (it.value() != Laufjournal::INSTALLIEREN && it.value() != Laufjournal::ERNEUERN))
            continue;
        for (Plugin* v : mp_DatenmodelVerfuegbar->gibListe()) {
            if (v && teilVon(v).schluessel() == it.key()) {
                IV_LOG_ERROR(textAusLiteral("\"%1\" wurde nicht vollst&auml;ndig installiert und wird neu installiert.")
                                 .arg(v->gibAnzeigename()));
                v->setzeAktion(Plugin::INSTALLIEREN);
                ++mi_Reparaturen;
                namen << v->gibAnzeigename();
            }
        }
    }
    if (mi_Reparaturen == 0) {
        IV_LOG_INFO(textAusLiteral("Alle gepr&uuml;ften Teile sind in Ordnung; das Laufjournal wird entfernt."));
        Laufjournal::entferne();
        mb_Wiederherstellung = false;
    } else {
        IV_LOG_INFO(textAusLiteral("%1 Teile werden repariert.").arg(mi_Reparaturen));
        // The wizard's start page says it; the parts are ticked in the lists.
        emit initStatusText(textAusLiteral("Der letzte Lauf wurde nicht beendet oder eine Pr&uuml;fung fand Sch&auml;den. "
                                           "Zur Reparatur ausgew&auml;hlt: %1")
                                .arg(namen.join(QStringLiteral(", "))),
                            true);
    }
    emit datenAenderung();
    IV_LOG_AUSTRITT();
}

// ---- the journal of a run -------------------------------------------------------------------

bool PluginManager::journalBeginne()
{
    QList<Laufjournal::Planpunkt> plan;
    if (mp_PluginKoraInstalliert && mp_PluginKoraInstalliert->gibAktion() == Plugin::ERNEUERN)
        plan.append({ Laufjournal::HAUPTANWENDUNG, teilVon(mp_PluginKoraInstalliert) });
    for (const Plugin* p : mp_DatenmodelInstalliert->gibListe()) {
        if (p && p->gibAktion() == Plugin::ENTFERNEN)
            plan.append({ Laufjournal::ENTFERNEN, teilVon(p) });
        else if (p && p->gibAktion() == Plugin::ERNEUERN)
            plan.append({ Laufjournal::ERNEUERN, teilVon(p) });
    }
    for (const Plugin* p : mp_DatenmodelVerfuegbar->gibListe()) {
        if (p && p->gibAktion() == Plugin::INSTALLIEREN)
            plan.append({ Laufjournal::INSTALLIEREN, teilVon(p) });
    }
    QList<Laufjournal::Planpunkt> gueltig;
    for (const Laufjournal::Planpunkt& p : qAsConst(plan)) {
        if (Laufjournal::istGueltigerKurzname(p.teil.kurzname))
            gueltig << p;
    }
    QStringList vorher = gibDateilisteInstalliert();
    // A clean-up a stopped run left undone stays due until this run's own.
    if (mb_Wiederherstellung && !m_Unterbrochen.bereinigt)
        vorher += m_Unterbrochen.dateienVorher;
    return m_Journal.beginne(gueltig, vorher);
}

void PluginManager::journalSchritt(const QString& schritt, const Plugin* teil, bool ende)
{
    m_Journal.schritt(schritt, teilVon(teil), ende);
}

void PluginManager::journalBeenden()
{
    m_Journal.beende();
    mb_Wiederherstellung = false;
}
