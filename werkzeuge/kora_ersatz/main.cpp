// fiscalon-kora-ersatz: a stand-in for the main application, for tests and
// the demo. It registers as "kora" in tavo.ini and answers the instance
// protocol, writes every status line it receives to a file, and shows one
// window (default title "Fiscalon") that ends the program when it is closed,
// also when a window manager asks it to. Ends by itself after the given time,
// so a failed test never leaves it behind.
//
//   fiscalon-kora-ersatz [TITEL] [--kora] [--status=DATEI] [--dauer=SEKUNDEN]
//
// --kora is implied unless a title other than "Fiscalon" is given without it
// (a plain window of another program).

#include "global/varnelApplication/varnelkern.h"

#include <QApplication>
#include <QFile>
#include <QLabel>
#include <QTextStream>
#include <QTimer>
#include <cstdio>
#include <memory>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QString titel = QStringLiteral("Fiscalon");
    QString statusDatei;
    int dauer = 60;
    bool kora = false;
    for (const QString& a : app.arguments().mid(1)) {
        if (a == QLatin1String("--kora"))
            kora = true;
        else if (a.startsWith(QLatin1String("--status=")))
            statusDatei = a.mid(9);
        else if (a.startsWith(QLatin1String("--dauer=")))
            dauer = qBound(1, a.mid(8).toInt(), 3600);
        else if (!a.startsWith(QLatin1String("--")))
            titel = a;
    }
    if (titel == QLatin1String("Fiscalon"))
        kora = true;

    std::unique_ptr<VarnelKern> kern;
    if (kora)
        kern = std::make_unique<VarnelKern>(QStringLiteral("kora"));
    if (kern && !statusDatei.isEmpty()) {
        auto schreibe = [statusDatei](const QString& wer, const QString& was, const char* zustand) {
            QFile f(statusDatei);
            if (f.open(QIODevice::Append | QIODevice::Text))
                QTextStream(&f) << wer << ' ' << was << ' ' << zustand << '\n';
        };
        QObject::connect(kern.get(), &VarnelKern::externalApplicationWentOnline, &app,
                         [schreibe](const QString& wer, const QString& was) { schreibe(wer, was, "online"); });
        QObject::connect(kern.get(), &VarnelKern::externalApplicationWentOffline, &app,
                         [schreibe](const QString& wer, const QString& was) { schreibe(wer, was, "offline"); });
    }

    QLabel fenster(titel);
    fenster.setWindowTitle(titel);
    fenster.resize(240, 80);
    fenster.show();
    QTimer::singleShot(dauer * 1000, &app, &QCoreApplication::quit);
    std::printf("bereit\n");
    std::fflush(stdout);
    return app.exec();
}
