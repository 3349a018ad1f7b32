#include "pluginManager/tavoservice.h"

#include "global/varnelApplication/logbase.h"
#include "global/varnelApplication/textausliteral.h"

#include <QThread>

namespace {

// A handle that was never opened, as the service manager would answer.
const int UNGUELTIGES_HANDLE = 6;

} // namespace

const QString tavoService::NAME = QStringLiteral("TavoService");
const QString tavoService::ANZEIGENAME = QStringLiteral("Fiscalon Update Service");

QString tavoService::beschreibung()
{
    return textAusLiteral("Der \"%1\" stellt sicher das Fiscalon immer aktuell ist.").arg(ANZEIGENAME);
}

tavoService::tavoService(QObject* parent)
    : tavoService(Plattform::erzeugeDienstverwaltung(), parent)
{
}

tavoService::tavoService(std::unique_ptr<Plattform::Dienstverwaltung> verwaltung, QObject* parent)
    : QObject(parent)
    , mp_Verwaltung(std::move(verwaltung))
{
}

tavoService::~tavoService() = default;

bool tavoService::erzeugen(const QString& pfadZurExe)
{
    const int r = mp_Verwaltung->erzeuge(NAME, ANZEIGENAME, beschreibung(), pfadZurExe);
    if (r == 0)
        return true;
    if (r == Plattform::DIENST_ZUGRIFF_VERWEIGERT)
        IV_LOG_ERROR(QStringLiteral("CreateServiceW fehlgeschlagen (Access is denied.)"));
    else if (r == Plattform::DIENST_EXISTIERT)
        IV_LOG_ERROR(QStringLiteral("CreateServiceW fehlgeschlagen (The specified service already exists.)"));
    else
        IV_LOG_ERROR(QStringLiteral("CreateServiceW fehlgeschlagen (%1)").arg(r));
    return false;
}

bool tavoService::init()
{
    const int r = mp_Verwaltung->oeffne(NAME);
    mb_Geoeffnet = r == 0;
    if (!mb_Geoeffnet)
        IV_LOG_ERROR(QStringLiteral("OpenService fehlgeschlagen (%1)").arg(r));
    return mb_Geoeffnet;
}

bool tavoService::gibStatus(Plattform::DienstStatus& status)
{
    const int r = mb_Geoeffnet ? mp_Verwaltung->status(NAME, status) : UNGUELTIGES_HANDLE;
    if (r != 0)
        IV_LOG_ERROR(QStringLiteral("QueryServiceStatusEx fehlgeschlagen (%1)").arg(r));
    return r == 0;
}

bool tavoService::istGestartet(bool& ok)
{
    Plattform::DienstStatus s;
    ok = gibStatus(s);
    return ok && s.zustand == Plattform::DienstStatus::Laeuft;
}

bool tavoService::istGestoppt(bool& ok)
{
    Plattform::DienstStatus s;
    ok = gibStatus(s);
    return ok && s.zustand == Plattform::DienstStatus::Gestoppt;
}

bool tavoService::starte(int anzahl, const QStringList& argumente)
{
    if (!mb_Geoeffnet || anzahl < 0 || anzahl > argumente.size()
        || mp_Verwaltung->starte(NAME, argumente.mid(0, anzahl)) != 0) {
        IV_LOG_ERROR(QStringLiteral("::StartService == FALSE"));
        return false;
    }
    // A service that stops at once with exit code 0 has not said it failed:
    // keep asking until the limit, as the service manager may restart it.
    for (int i = 0; i < 100; ++i) {
        Plattform::DienstStatus s;
        if (mp_Verwaltung->status(NAME, s) == 0) {
            if (s.zustand == Plattform::DienstStatus::Laeuft)
                return true;
            if (s.zustand == Plattform::DienstStatus::Gestoppt
                && s.exitCode == Plattform::DIENST_SPEZIFISCHER_FEHLER) {
                IV_LOG_ERROR(QStringLiteral("Fehler beim Start des \"TavoService\"; Fehlernummer: %1").arg(s.dienstExitCode));
                return false;
            }
        }
        QThread::msleep(200);
    }
    return false;
}

bool tavoService::stoppe()
{
    const int r = mb_Geoeffnet ? mp_Verwaltung->stoppe(NAME) : UNGUELTIGES_HANDLE;
    if (r != 0) {
        IV_LOG_ERROR(QStringLiteral("ControlService fehlgeschlagen (%1)").arg(r));
        return false;
    }
    for (int i = 0; i < 10; ++i) {
        QThread::msleep(100);
        Plattform::DienstStatus s;
        if (mp_Verwaltung->status(NAME, s) == 0 && s.zustand == Plattform::DienstStatus::Gestoppt)
            return true;
    }
    return false;
}

bool tavoService::loesche()
{
    const int r = mp_Verwaltung->loesche(NAME);
    if (r == Plattform::DIENST_FEHLT || r == Plattform::DIENST_UNGUELTIGER_NAME)
        IV_LOG_ERROR(QStringLiteral("OpenService fehlgeschlagen (%1)").arg(r));
    else if (r != 0)
        IV_LOG_ERROR(QStringLiteral("DeleteService fehlgeschlagen (%1)").arg(r));
    return r == 0;
}
