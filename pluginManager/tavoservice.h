#pragma once
// Control of the installation's update service through the machine's service
// manager: register and remove it, open it, ask its state, start it with
// parameters and wait until it runs, stop it and wait until it has stopped.

#include "global/plattform/dienstverwaltung.h"

#include <QObject>
#include <QString>
#include <QStringList>
#include <memory>

class tavoService : public QObject
{
    Q_OBJECT
public:
    static const QString NAME;        // "TavoService"
    static const QString ANZEIGENAME; // "Fiscalon Update Service"
    static QString beschreibung();

    // With the machine's service manager (systemd or the built-in one).
    explicit tavoService(QObject* parent = nullptr);
    tavoService(std::unique_ptr<Plattform::Dienstverwaltung> verwaltung, QObject* parent = nullptr);
    ~tavoService() override;

    bool erzeugen(const QString& pfadZurExe);
    bool init();
    bool gibStatus(Plattform::DienstStatus& status);
    bool istGestartet(bool& ok);
    bool istGestoppt(bool& ok);
    // Starts it with the first `anzahl` of `argumente` and waits until it runs.
    bool starte(int anzahl, const QStringList& argumente);
    bool stoppe();
    bool loesche();

private:
    std::unique_ptr<Plattform::Dienstverwaltung> mp_Verwaltung;
    bool mb_Geoeffnet = false;
};
