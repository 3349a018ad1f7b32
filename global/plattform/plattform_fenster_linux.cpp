// The window half of the platform layer; lives in the dialog library because
// it needs widgets.
#include "global/plattform/plattform.h"

#include <QTimer>
#include <QWidget>

namespace Plattform {

void fensterNachVorne(QWidget* fenster)
{
    if (!fenster)
        return;
    fenster->setWindowState((fenster->windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
    // Stays-on-top for a moment lifts the window above others even where the
    // window manager refuses a plain activation request; then back to normal.
    const bool warSichtbar = fenster->isVisible();
    fenster->setWindowFlag(Qt::WindowStaysOnTopHint, true);
    if (warSichtbar)
        fenster->show();
    fenster->raise();
    fenster->activateWindow();
    fenster->setWindowFlag(Qt::WindowStaysOnTopHint, false);
    if (warSichtbar)
        fenster->show();
}

} // namespace Plattform
