// The launcher entry's progress: the signal that docks and panels (Dash to
// Dock, Plasma's task manager, Plank, ...) read to draw a progress bar over a
// program's icon. The Linux counterpart of the taskbar button's progress.

#include "global/plattform/plattform.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QVariantMap>
#include <cmath>

namespace Plattform {

QString desktopEintragId()
{
    return QStringLiteral("de.fiscalon.installationsverwaltung.desktop");
}

bool zeigeStarterFortschritt(double anteil, bool sichtbar)
{
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return false;
    // A value outside 0..1 (or NaN from a total of 0) would draw nonsense.
    const double wert = std::isfinite(anteil) ? qBound(0.0, anteil, 1.0) : 0.0;
    // Transfers report every few kilobytes: a dock needs a new value only
    // when the bar moves by a percent or is shown or hidden.
    static int letzterProzent = -1;
    static bool letzteSichtbar = false;
    const int prozent = qRound(wert * 100);
    if (prozent == letzterProzent && sichtbar == letzteSichtbar)
        return true;
    QDBusMessage signal = QDBusMessage::createSignal(QStringLiteral("/de/fiscalon/installationsverwaltung"),
                                                     QStringLiteral("com.canonical.Unity.LauncherEntry"),
                                                     QStringLiteral("Update"));
    QVariantMap eigenschaften;
    eigenschaften.insert(QStringLiteral("progress"), wert);
    eigenschaften.insert(QStringLiteral("progress-visible"), sichtbar);
    signal << QStringLiteral("application://") + desktopEintragId() << eigenschaften;
    if (!bus.send(signal))
        return false;
    letzterProzent = prozent;
    letzteSichtbar = sichtbar;
    return true;
}

} // namespace Plattform
