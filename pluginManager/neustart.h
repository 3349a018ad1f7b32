#pragma once
// The hand-over of a first process to another instance of the manager:
// through the update service, or by starting a copy directly (with root's
// rights through pkexec when needed). The engine's own part of it is in
// PluginManager (pluginManager_neustart.cpp).

#include <QStringList>
#include <functional>
#include <memory>

class PluginManager;

namespace Plattform {
class Dienstverwaltung;
}

// The copy of the manager to be started does not verify; returned without
// an exit-code line, and the first process carries on itself.
constexpr int NEUSTART_KOPIE_UNGUELTIG = -9000;

// Starts `argumente` (the program first) through the update service in this
// desktop session. Never for the update check. True when the service ran.
bool neustartPerTavoService(const QStringList& argumente);
// The hand-over without a self-update: through the service when allowed,
// else the service folder's copy, waited for. 0 when another process took over.
int neustartPerServiceOderProzess(bool serviceVerwenden, PluginManager& pm);
// The hand-over for installing the manager's own update: this program
// through the service, else the installation's copy with root's rights.
int neuStartMitAdminRechtenFuerSelbstUpdate(bool serviceVerwenden, PluginManager& pm);
// The restart step of a first process. True when this process is done and
// ends with `code` (the exit-code line is written); false: it carries on.
bool neustartSchritt(PluginManager& pm, bool serverOk, int& code);
// "--selbstUpdate": installs the manager's own update and hands over to the
// new version. True when that succeeded and this process ends with 0.
bool ablaufInstallSelbstUpdate(PluginManager& pm);

// Test seam: where neustartPerTavoService gets its service manager (default:
// the machine's). Set only by the program's own tests.
void setzeDienstverwaltungFuerNeustart(std::function<std::unique_ptr<Plattform::Dienstverwaltung>()> fabrik);
