// iv_testfenster <title> [--kora]: shows one window with <title> on the X
// display of the environment. With --kora it also registers as the main
// application and answers the instance protocol until the window is closed.
// Ends by itself after a minute, so a failed test never leaves it behind.

#include "global/varnelApplication/varnelkern.h"

#include <QApplication>
#include <QLabel>
#include <QTimer>
#include <cstdio>
#include <memory>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    const QStringList argumente = app.arguments();
    if (argumente.size() < 2) {
        std::fprintf(stderr, "Aufruf: iv_testfenster <Titel> [--kora]\n");
        return 2;
    }
    std::unique_ptr<VarnelKern> kern;
    if (argumente.contains(QStringLiteral("--kora")))
        kern = std::make_unique<VarnelKern>(QStringLiteral("kora"));

    QLabel fenster(argumente.at(1));
    fenster.setWindowTitle(argumente.at(1));
    fenster.resize(240, 80);
    fenster.show();
    QTimer::singleShot(60000, &app, &QCoreApplication::quit);
    std::printf("bereit\n");
    std::fflush(stdout);
    return app.exec();
}
