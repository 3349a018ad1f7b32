// The restart plan files as the elevated process takes them: the first byte
// chooses the file (its value modulo five, in the order they are written),
// the rest are its bytes. Whatever is accepted must stay within the bounds,
// and must come back unchanged when written and read again (the name aside:
// the writer turns it into its HTML form each time).
//
// Seeds: `fuzz_plandaten --saat KORPUS INDEX...` fills the engine from the
// given server index inputs (those of fuzz_index: first byte 1 for the
// technical index), writes the five files as the first process would and
// stores each as a seed.

#include "fuzzhilfe.h"

#include "pluginManager/dlgPluginManagerDatenmodel.h"
#include "pluginManager/plandaten.h"
#include "pluginManager/plugin.h"
#include "pluginManager/pluginManager.h"
#include "pluginManager/startwerte.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>

using namespace Plandaten;

namespace {

// One fixed folder for every run: the seeds carry dictionary paths in it.
QString koraDir()
{
    return QDir::tempPath() + QStringLiteral("/iv-fuzz-plandaten-kora");
}

// The bytes the first process would write for what was read.
QByteArray bild(int art, const Inhalt& inhalt)
{
    if (art != PLUGIN_CLIENT && art != PLUGIN_SERVER)
        return bildVonPlugin(inhalt.plugin.get());
    DlgPluginManagerDatenmodel model(art == PLUGIN_SERVER);
    for (const auto& p : inhalt.plugins) {
        auto* kopie = new Plugin;
        QByteArray b = bildVonPlugin(p.get());
        QDataStream ein(b);
        ein >> *kopie;
        kopie->setzeName(QString());
        model.fuegeHinzu(kopie);
    }
    model.setzeGefuellt(inhalt.gefuellt);
    return bildVonListe(model);
}

void saat(const QString& korpus, const QStringList& indexe)
{
    PluginManager engine;
    for (const QString& index : indexe) {
        QFile f(index);
        if (!f.open(QIODevice::ReadOnly))
            continue;
        const QByteArray b = f.readAll();
        if (b.isEmpty())
            continue;
        QString fehler;
        const bool technisch = b[0] & 1;
        engine.leseIndexXml(b.mid(1), technisch, fehler,
                            technisch ? engine.gibDatenmodelTechnisch() : engine.gibDatenmodelVerfuegbar());
    }
    // The installed side: the offered modules as if installed from their dictionaries.
    const QList<Plugin*> angeboten = engine.gibDatenmodelVerfuegbar()->gibListe();
    for (int i = 0; i < angeboten.size(); ++i) {
        auto* p = new Plugin;
        QByteArray b = bildVonPlugin(angeboten[i]);
        QDataStream ein(b);
        ein >> *p;
        p->setzeZip(QString());
        p->setzeMD5(QString());
        p->setzeSetups({});
        p->setzeDictDatei(koraDir() + QStringLiteral("/dict/%1_%2.dict").arg(p->gibKurzname()).arg(i));
        p->setzeAktion(i % 4);
        engine.gibDatenmodelInstalliert()->fuegeHinzu(p);
    }
    Plugin* kora = engine.gibPluginKoraVerfuegbar();
    std::unique_ptr<Plugin> koraInstalliert;
    if (kora) {
        koraInstalliert = std::make_unique<Plugin>();
        QByteArray b = bildVonPlugin(kora);
        QDataStream ein(b);
        ein >> *koraInstalliert;
        koraInstalliert->setzeZip(QString());
        koraInstalliert->setzeMD5(QString());
        koraInstalliert->setzeSetups({});
        koraInstalliert->setzeDictDatei(koraDir() + QStringLiteral("/dict/kora_0.dict"));
    }
    Plugin* dienst = nullptr;
    for (Plugin* p : engine.gibDatenmodelTechnisch()->gibListe()) {
        if (p->gibKurzname() == PluginManager::DICT_BASIS_SERVICE)
            dienst = p;
    }
    const QByteArray bilder[ANZAHL_ARTEN] = {
        bildVonListe(*engine.gibDatenmodelInstalliert()), bildVonListe(*engine.gibDatenmodelVerfuegbar()),
        bildVonPlugin(koraInstalliert.get()), bildVonPlugin(kora), bildVonPlugin(dienst),
    };
    for (int art = 0; art < ANZAHL_ARTEN; ++art) {
        for (const QByteArray& inhalt : { bilder[art], NULL_MARKE }) {
            QFile aus(QStringLiteral("%1/%2-%3").arg(korpus, dateiname(art)).arg(inhalt == NULL_MARKE ? "null" : "bild"));
            if (aus.open(QIODevice::WriteOnly))
                aus.write(QByteArray(1, char(art)) + inhalt);
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    Fuzz::richteEin(argc, argv);
    gs_DirUserKora = Fuzz::ordner() + QStringLiteral("/benutzer/kora");
    // Dictionary paths are checked against the real folder, links resolved.
    QDir().mkpath(koraDir() + QStringLiteral("/dict"));
    if (*argc >= 3 && qstrcmp((*argv)[1], "--saat") == 0) {
        QStringList indexe;
        for (int i = 3; i < *argc; ++i)
            indexe << QString::fromLocal8Bit((*argv)[i]);
        saat(QString::fromLocal8Bit((*argv)[2]), indexe);
        std::exit(0);
    }
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* daten, size_t groesse)
{
    if (groesse < 1)
        return 0;
    const int art = daten[0] % ANZAHL_ARTEN;
    Inhalt inhalt;
    QString grund;
    if (!leseInhalt(art, Fuzz::bytes(daten + 1, groesse - 1), koraDir(), inhalt, grund)) {
        Fuzz::verlange(!grund.isEmpty(), "Ablehnung ohne Grund");
        return 0;
    }
    Fuzz::verlange(int(inhalt.plugins.size()) <= kMaxModule, "zu viele Module angenommen");
    for (const auto& p : inhalt.plugins)
        Fuzz::verlange(pruefePlugin(*p, art, koraDir(), grund), "ungepruefter Datensatz", grund);
    if (inhalt.plugin)
        inhalt.plugin->setzeName(QString());
    const QByteArray erstes = bild(art, inhalt);
    Inhalt wieder;
    Fuzz::verlange(leseInhalt(art, erstes, koraDir(), wieder, grund), "Geschriebenes wird abgelehnt", grund);
    Fuzz::verlange(bild(art, wieder) == erstes, "zweite Runde liefert andere Bytes");
    return 0;
}
