// Shows the wizard against a real update server the way the program does on a
// start with "--zeigeDlg", and saves its start page (both tabs) and its
// summary as PNG files. The demo runs it without a screen.
//
//   assistentbilder --koraDir=DIR --dirUserKora=DIR ZIELORDNER
//
// Reads the environment as the program does (FISCALON_WURZEL, HOME, ...).

#include "werkzeuge/dialogbilder/bildspeicher.h"
#include "dialoge/dialogrueckfrage.h"
#include "dialoge/ressourcen.h"
#include "global/varnelApplication/einstellungen.h"
#include "global/varnelApplication/logbase.h"
#include "global/varnelApplication/rueckfrage.h"
#include "pluginManager/dlgPluginManager.h"
#include "pluginManager/plugin.h"
#include "pluginManager/pluginManager.h"
#include "pluginManager/startwerte.h"

#include <QApplication>
#include <QDir>
#include <QTabWidget>
#include <cstdio>

bool speichere(QWidget* w, const QString& ziel, const QString& name)
{
    return speichereBild(w, ziel, name);
}

int main(int argc, char** argv)
{
    QString kommandozeile;
    leseParameter(argc, argv, kommandozeile);
    if (argc < 2 || QByteArray(argv[argc - 1]).startsWith("--")) {
        std::fprintf(stderr, "Aufruf: assistentbilder --koraDir=DIR --dirUserKora=DIR ZIELORDNER\n");
        return 2;
    }
    gb_ZeigeDlg = true;
    QApplication app(argc, argv);
    initDialogRessourcen();
    // Nobody answers questions here: "no" is the answer of an unattended run.
    setzeRueckfrage(nullptr);
    const QString ziel = QFile::decodeName(argv[argc - 1]);
    QDir().mkpath(ziel);
    initLogBase(QStringLiteral("assistentbilder"), 200000, ziel);

    // The steps of the program's start-up that fill the wizard.
    PluginManager pm;
    if (pm.setzeServerVerzeichnis() == 0 && pm.holeServerInhaltsdatei())
        pm.leseServerInhaltsdatei();
    pm.lesePluginInfoLokal();
    pm.setzeStausLokalePlugins();
    pm.setzeStausVerfuegbarePlugins();
    if (pm.gibPluginKoraInstalliert()
        && Plugin::vergleicheVersion(pm.gibPluginKoraInstalliert(), pm.gibPluginKoraVerfuegbar()) == Plugin::ZUSTAND_ANDERES_GROESSER)
        pm.setzeAktionHauptanwendung(true);
    pm.setzeAktionErneuernInstallierte(true);
    pm.setzeAktionVerfuegbareZurInstallationEmpfohlene(true);

    DlgPluginManager wizard(&pm, true);
    wizard.setzeStatusKoras();
    wizard.updateTableView();
    wizard.zeigeSeite(1);
    wizard.show();
    wizard.initGui();
    bool ok = true;
    wizard.setzteTabBenutzerdefiniert(0);
    ok = speichere(&wizard, ziel, QStringLiteral("startseite_einfach")) && ok;
    wizard.setzteTabBenutzerdefiniert(1);
    auto* tabs = wizard.findChild<QTabWidget*>(QStringLiteral("tabWidget"));
    for (int i = 0; tabs && i < tabs->count(); ++i) {
        tabs->setCurrentIndex(i);
        ok = speichere(&wizard, ziel, i == 0 ? QStringLiteral("startseite_installiert")
                                              : QStringLiteral("startseite_verfuegbar")) && ok;
    }
    wizard.zeigeSeite(2);
    ok = speichere(&wizard, ziel, QStringLiteral("zusammenfassung")) && ok;
    wizard.hide();
    beendeLogBase();
    return ok ? 0 : 1;
}
