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
    QDBusMessage signal = QDBusMessage::createSignal(QStringLiteral("/de/fiscalon/installationsverwaltung"),
                                                     QStringLiteral("com.canonical.Unity.LauncherEntry"),
                                                     QStringLiteral("Update"));
    QVariantMap eigenschaften;
    eigenschaften.insert(QStringLiteral("progress"), wert);
    eigenschaften.insert(QStringLiteral("progress-visible"), sichtbar);
    signal << QStringLiteral("application://") + desktopEintragId() << eigenschaften;
    return bus.send(signal);
}

} // namespace Plattform
