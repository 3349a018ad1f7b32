#include "pluginManager/setup.h"

#include "global/varnelApplication/logbase.h"
#include "global/varnelApplication/textausliteral.h"

namespace {

quint64 alsGroesse(const QString& text)
{
    bool ok = false;
    const quint64 wert = text.trimmed().toULongLong(&ok, 10);
    return ok ? wert : 0;
}

} // namespace

void Setup::setzeSize(const QString& wert)
{
    Size = alsGroesse(wert);
}

void Setup::setzeUnzipFileSize(const QString& wert)
{
    UnzipFileSize = alsGroesse(wert);
}

uint Setup::gibRevisionUi() const
{
    bool ok = false;
    const uint rev = Rev.toUInt(&ok, 10);
    if (!ok) {
        IV_LOG_ERROR(textAusLiteral("Beim Konvertieren der Revisionsnummer in eine Zahl ist ein Fehler aufgetreten."));
        return 0;
    }
    return rev;
}

bool Setup::operator==(const Setup& andere) const
{
    return Datei == andere.Datei && Silent == andere.Silent && Size == andere.Size
        && UnzipFileSize == andere.UnzipFileSize && MD5 == andere.MD5 && Rev == andere.Rev;
}

QDataStream& operator<<(QDataStream& aus, const Setup& setup)
{
    aus << setup.gibSilent() << setup.gibDatei() << setup.gibMD5() << setup.gibRev()
        << setup.gibSize() << setup.gibUnzipFileSize();
    return aus;
}

QDataStream& operator>>(QDataStream& ein, Setup& setup)
{
    QString silent, datei, md5, rev;
    quint64 groesse = 0, entpackt = 0;
    ein >> silent >> datei >> md5 >> rev >> groesse >> entpackt;
    setup = Setup();
    if (ein.status() != QDataStream::Ok)
        return ein;
    setup.setzeSilent(silent);
    setup.setzeDatei(datei);
    setup.setzeMD5(md5);
    setup.setzeRev(rev);
    setup.setzeSize(groesse);
    setup.setzeUnzipFileSize(entpackt);
    return ein;
}
