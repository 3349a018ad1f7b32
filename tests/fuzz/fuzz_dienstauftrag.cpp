// The one line a local user sends on the update service's socket to have
// root start or stop the service.

#include "fuzzhilfe.h"

#include "global/plattform/dienstverwaltung.h"

#include <sys/socket.h>
#include <unistd.h>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* daten, size_t groesse)
{
    // More than the line may hold is refused before it is read; the socket's
    // buffer takes this much without blocking the writer.
    if (groesse > 2 * size_t(Plattform::DIENST_ZEILE_HOECHSTENS))
        return 0;
    int paar[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, paar) != 0)
        return 0;
    if (groesse > 0 && ::write(paar[0], daten, groesse) != ssize_t(groesse)) {
        ::close(paar[0]);
        ::close(paar[1]);
        return 0;
    }
    ::shutdown(paar[0], SHUT_WR);
    QString befehl, fehler;
    QStringList parameter;
    Plattform::DienstAufrufer aufrufer;
    // The data is there or the end is: the time limit is never what ends the read.
    const int code = Plattform::leseDienstAuftrag(paar[1], befehl, parameter, aufrufer, fehler, 5000);
    ::close(paar[0]);
    ::close(paar[1]);

    Fuzz::verlange(aufrufer.uid == qint64(::getuid()), "Aufrufer nicht vom Kernel");
    if (code != 0) {
        Fuzz::verlange(code == Plattform::DIENST_UNGUELTIGE_DATEN && !fehler.isEmpty(), "Ablehnung ohne Grund");
        return 0;
    }
    Fuzz::verlange(befehl == QLatin1String("starte") || befehl == QLatin1String("stoppe"), "unbekannter Befehl", befehl);
    Fuzz::verlange(parameter.size() <= 64 && (befehl == QLatin1String("starte") || parameter.isEmpty()), "Parameterzahl");
    // What was accepted is what the caller's side would have sent for it.
    // (Literal characters the encoding escapes, like "=", can make it longer
    // than the limit; the round trip then says nothing.)
    const QByteArray zurueck = Plattform::dienstAuftrag(befehl, parameter);
    if (zurueck.size() > Plattform::DIENST_ZEILE_HOECHSTENS)
        return 0;
    int wieder[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, wieder) != 0)
        return 0;
    (void)::write(wieder[0], zurueck.constData(), size_t(zurueck.size()));
    ::shutdown(wieder[0], SHUT_WR);
    QString befehl2;
    QStringList parameter2;
    const int code2 = Plattform::leseDienstAuftrag(wieder[1], befehl2, parameter2, aufrufer, fehler, 5000);
    ::close(wieder[0]);
    ::close(wieder[1]);
    Fuzz::verlange(code2 == 0 && befehl2 == befehl && parameter2 == parameter, "nicht dasselbe nach erneutem Senden",
                   QString::fromLatin1(zurueck));
    return 0;
}
