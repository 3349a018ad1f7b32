#include "global/varnelApplication/einstellungen.h"

#include "global/plattform/plattform.h"
#include "global/varnelApplication/logbase.h"
#include "global/varnelApplication/schluesselbund.h"
#include "global/varnelApplication/textausliteral.h"
#include "global/varnelApplication/varnelkern.h"

#include <QDir>
#include <QFileInfo>
#include <QSet>
#include <QSettings>

const QString Einstellungen::datumsFormat = QStringLiteral("dd.MM.yyyy HH:mm:ss");
const QString Einstellungen::installationsFormat = QStringLiteral("dd.MM.yyyy HH:mm");

namespace {

QString mitSeparator(QString pfad)
{
    pfad = QDir::toNativeSeparators(pfad);
    if (!pfad.endsWith(QDir::separator()))
        pfad += QDir::separator();
    return pfad;
}

QString angelegt(const QString& pfad)
{
    QDir().mkpath(pfad);
    return pfad;
}

QString ohneAnfuehrungszeichen(QString text)
{
    if (text.size() >= 2 && text.startsWith(QLatin1Char('"')) && text.endsWith(QLatin1Char('"')))
        text = text.mid(1, text.size() - 2);
    return text;
}

int leseIntervall(const QVariant& wert, int vorgabe, const QString& schluessel)
{
    if (!wert.isValid())
        return vorgabe;
    bool ok = false;
    const int zahl = wert.toString().trimmed().toInt(&ok);
    if (!ok) {
        IV_LOG_ERROR(textAusLiteral("Der Wert \"%1\" konnte nicht in eine Zahl umgewandelt werden. Es wird mit der Vorbelegung gearbeitet.").arg(schluessel));
        return vorgabe;
    }
    return zahl;
}

const QString kAutoUpdate = QStringLiteral("UPDATE/AutoUpdate");
const QString kSilentDownload = QStringLiteral("UPDATE/SilentDownload");

} // namespace

QString Einstellungen::gibDirSystem()
{
    return mitSeparator(Plattform::systemIniOrdner() + QStringLiteral("/fiscalon/kora"));
}

QString Einstellungen::gibDirUserBasis()
{
    return mitSeparator(Plattform::benutzerIniOrdner() + QStringLiteral("/fiscalon"));
}

QString Einstellungen::gibDirUser()
{
    return mitSeparator(gibDirUserBasis() + QStringLiteral("kora"));
}

QString Einstellungen::gibDirData() { return angelegt(mitSeparator(gibDirUser() + QStringLiteral("data"))); }
QString Einstellungen::gibDirIni() { return angelegt(mitSeparator(gibDirUser() + QStringLiteral("ini"))); }
QString Einstellungen::gibDirTmp() { return angelegt(mitSeparator(gibDirUser() + QStringLiteral("tmp"))); }

QString Einstellungen::gibDirLog(const QString& benutzerVerzeichnis)
{
    const QString basis = benutzerVerzeichnis.isEmpty() ? gibDirUser() : mitSeparator(benutzerVerzeichnis);
    return angelegt(mitSeparator(basis + QStringLiteral("log")));
}

QString Einstellungen::gibTavoIniPfad()
{
    return gibDirSystem() + QStringLiteral("tavo.ini");
}

QString Einstellungen::gibKoraIniPfad(const QString& benutzerVerzeichnis)
{
    const QString basis = benutzerVerzeichnis.isEmpty() ? gibDirUser() : mitSeparator(benutzerVerzeichnis);
    return basis + QStringLiteral("ini") + QDir::separator() + QStringLiteral("kora.ini");
}

QSharedPointer<QSettings> Einstellungen::gibTavoIni()
{
    auto ini = QSharedPointer<QSettings>::create(gibTavoIniPfad(), QSettings::IniFormat);
    // The desktop users may write the file but not its folder (nobody may
    // plant a file or link beside it): Qt then cannot make its lock file nor
    // its replacement and has to write into the file itself.
    ini->setAtomicSyncRequired(false);
    return ini;
}

QSharedPointer<QSettings> Einstellungen::gibKoraIni(const QString& benutzerVerzeichnis)
{
    return QSharedPointer<QSettings>::create(gibKoraIniPfad(benutzerVerzeichnis), QSettings::IniFormat);
}

QVariant Einstellungen::getAdminWert(const QString& schluessel, const QVariant& vorgabe)
{
    return gibTavoIni()->value(schluessel, vorgabe);
}

namespace {

// Why a settings file cannot be written, in words for the administrator.
QString grundNichtSchreibbar(const QString& datei)
{
    const QFileInfo info(datei);
    if (info.exists())
        return info.isWritable() ? textAusLiteral("sie ist keine lesbare normale Datei")
                                 : textAusLiteral("dieser Benutzer darf sie nicht schreiben");
    return QFileInfo(info.absolutePath()).isWritable()
               ? textAusLiteral("sie kann nicht angelegt werden")
               : textAusLiteral("sie fehlt und dieser Benutzer darf im Ordner %1 keine Datei anlegen")
                     .arg(QDir::toNativeSeparators(info.absolutePath()));
}

// A file that cannot be written must not look like a stored value. The first
// failure per file says why and what is lost; the others would repeat it for
// every key, so they go to the debug log only.
bool geschrieben(const QSettings& ini, const QString& schluessel)
{
    if (ini.status() == QSettings::NoError)
        return true;
    static QSet<QString> gemeldet;
    if (gemeldet.contains(ini.fileName())) {
        IV_LOG_DEBUG(QStringLiteral("Die Einstellung %1 kann nicht in %2 gespeichert werden.").arg(schluessel, ini.fileName()));
        return false;
    }
    const QString text = textAusLiteral("Die Einstellungsdatei %1 kann nicht geschrieben werden (%2): Einstellungen wie %3 "
                                        "werden in diesem Lauf nicht gespeichert, der Lauf geht weiter.")
                             .arg(QDir::toNativeSeparators(ini.fileName()), grundNichtSchreibbar(ini.fileName()), schluessel);
    // The instance registration comes before the log: the start-up keeps the line.
    if (gp_Log)
        IV_LOG_ERROR(text);
    else if (VarnelKern::instanz())
        VarnelKern::instanz()->melde(true, text);
    else
        return false;
    gemeldet.insert(ini.fileName());
    return false;
}

} // namespace

bool Einstellungen::speichereTavoIni(QSettings& ini, const QString& schluessel)
{
    // Made before Qt writes, so that it is the users' file from the start;
    // after a root write, whose replacement belongs to root, again.
    const QString pfad = ini.fileName();
    QDir().mkpath(QFileInfo(pfad).absolutePath());
    Plattform::teileMitBenutzern(pfad);
    ini.sync();
    if (Plattform::eigeneBenutzerId() == 0)
        Plattform::teileMitBenutzern(pfad);
    return geschrieben(ini, schluessel);
}

bool Einstellungen::setAdminWert(const QString& schluessel, const QVariant& wert)
{
    auto ini = gibTavoIni();
    ini->setValue(schluessel, wert);
    return speichereTavoIni(*ini, schluessel);
}

QVariant Einstellungen::getKoraWert(const QString& schluessel, const QVariant& vorgabe, const QString& benutzerVerzeichnis)
{
    return gibKoraIni(benutzerVerzeichnis)->value(schluessel, vorgabe);
}

bool Einstellungen::setKoraWert(const QString& schluessel, const QVariant& wert, const QString& benutzerVerzeichnis)
{
    auto ini = gibKoraIni(benutzerVerzeichnis);
    ini->setValue(schluessel, wert);
    ini->sync();
    return geschrieben(*ini, schluessel);
}

int Einstellungen::getAdminUpdateAutoInterval()
{
    return leseIntervall(getAdminWert(kAutoUpdate), -1, kAutoUpdate);
}

int Einstellungen::getKoraUpdateAutoInterval(const QString& benutzerVerzeichnis)
{
    return leseIntervall(getKoraWert(kAutoUpdate, QVariant(), benutzerVerzeichnis), 1, kAutoUpdate);
}

bool Einstellungen::setKoraUpdateAutoInterval(int wert, const QString& benutzerVerzeichnis)
{
    return setKoraWert(kAutoUpdate, wert, benutzerVerzeichnis);
}

bool Einstellungen::getSilentDownload(bool& bekannt, const QString& benutzerVerzeichnis)
{
    bekannt = true;
    QString wert = getAdminWert(kSilentDownload, QString()).toString();
    if (wert.isEmpty())
        wert = getKoraWert(kSilentDownload, QString(), benutzerVerzeichnis).toString();
    if (wert == QLatin1String("true"))
        return true;
    if (wert != QLatin1String("false"))
        bekannt = false;
    return false;
}

bool Einstellungen::setKoraSilentDownload(bool wert, const QString& benutzerVerzeichnis)
{
    return setKoraWert(kSilentDownload, wert ? QStringLiteral("true") : QStringLiteral("false"), benutzerVerzeichnis);
}

QDateTime Einstellungen::alsDatum(const QVariant& wert, const QString& format)
{
    if (!wert.isValid())
        return QDateTime();
    return QDateTime::fromString(wert.toString(), format);
}

QDateTime Einstellungen::getAdminLastUpdate()
{
    return alsDatum(getAdminWert(QStringLiteral("UPDATE/LastUpdate")));
}

QString Einstellungen::getAdminLastUpdateText()
{
    return getAdminWert(QStringLiteral("UPDATE/LastUpdate")).toString();
}

bool Einstellungen::setAdminLastUpdate(const QDateTime& wann)
{
    return setAdminWert(QStringLiteral("UPDATE/LastUpdate"), alsText(wann.isValid() ? wann : QDateTime::currentDateTime()));
}

QDateTime Einstellungen::getAdminLastUpdateInstallation()
{
    return alsDatum(getAdminWert(QStringLiteral("UPDATE/LastUpdateInstallation")));
}

bool Einstellungen::setAdminLastUpdateInstallation(const QDateTime& wann)
{
    return setAdminWert(QStringLiteral("UPDATE/LastUpdateInstallation"), alsText(wann));
}

QDateTime Einstellungen::getAdminInstallationDatum()
{
    return alsDatum(getAdminWert(QStringLiteral("INSTALLATION/Datum")), installationsFormat);
}

QDateTime Einstellungen::getAdminNeustartEmpfehlung()
{
    return alsDatum(getAdminWert(QStringLiteral("INSTALLATIONSVERWALTUNG/NeustartEmpfehlung")));
}

bool Einstellungen::setAdminNeustartEmpfehlung()
{
    return setAdminWert(QStringLiteral("INSTALLATIONSVERWALTUNG/NeustartEmpfehlung"), alsText(QDateTime::currentDateTime()));
}

QString Einstellungen::getAdminErrorShortText()
{
    return ohneAnfuehrungszeichen(getAdminWert(QStringLiteral("UPDATE/ErrorShortText")).toString());
}

bool Einstellungen::setAdminErrorShortText(const QString& text)
{
    return setAdminWert(QStringLiteral("UPDATE/ErrorShortText"), QStringLiteral("\"%1\"").arg(text));
}

QString Einstellungen::getAdminErrorLongText()
{
    return ohneAnfuehrungszeichen(getAdminWert(QStringLiteral("UPDATE/ErrorLongText")).toString());
}

bool Einstellungen::setAdminErrorLongText(const QString& text)
{
    return setAdminWert(QStringLiteral("UPDATE/ErrorLongText"), QStringLiteral("\"%1\"").arg(text));
}

QDateTime Einstellungen::getKoraFrageWenigerPluginsDatum(const QString& benutzerVerzeichnis)
{
    return alsDatum(getKoraWert(QStringLiteral("UPDATE/FrageWenigerPluginsDatum"), QVariant(), benutzerVerzeichnis));
}

bool Einstellungen::setKoraFrageWenigerPluginsDatum(const QDateTime& wann, const QString& benutzerVerzeichnis)
{
    return setKoraWert(QStringLiteral("UPDATE/FrageWenigerPluginsDatum"), alsText(wann), benutzerVerzeichnis);
}

bool Einstellungen::getKoraEntwicklertools()
{
    return getKoraWert(QStringLiteral("entwickler/entwicklertools"), false).toBool();
}

namespace {

bool speicherePasswort(const QString& schluessel, const QString& passwort)
{
    QString fehler;
    if (Schluesselbund::schreibe(schluessel, passwort, &fehler))
        return true;
    IV_LOG_ERROR(textAusLiteral("Konnte Passwort nicht verschl&uuml;sselt speichern: %1").arg(fehler));
    return false;
}

QString lesePasswort(const QString& schluessel)
{
    QString passwort, fehler;
    if (!Schluesselbund::lese(schluessel, passwort, &fehler))
        IV_LOG_ERROR(QStringLiteral("Konnte Passwort \"%1\" nicht aus dem Schl\u00fcsselbund lesen: %2").arg(schluessel, fehler));
    return passwort;
}

} // namespace

QString Einstellungen::getAdminProxyPassword() { return lesePasswort(Schluesselbund::adminPasswort()); }
bool Einstellungen::setAdminProxyPassword(const QString& passwort) { return speicherePasswort(Schluesselbund::adminPasswort(), passwort); }
// The key store is per user already; the user directory only chose the settings file on Windows.
QString Einstellungen::getKoraProxyPassword(const QString&) { return lesePasswort(Schluesselbund::proxyPasswort()); }
bool Einstellungen::setKoraProxyPassword(const QString& passwort, const QString&) { return speicherePasswort(Schluesselbund::proxyPasswort(), passwort); }
