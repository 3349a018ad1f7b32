#include "global/varnelApplication/logbase.h"

#include "bauwerte.h"
#include "global/plattform/plattform.h"
#include "global/varnelApplication/einstellungen.h"

#include <QCoreApplication>
#include <QDate>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QSysInfo>
#include <QTime>
#include <QtGlobal>

LogBase* gp_Log = nullptr;

QString ivFunktionsname(const char* prettyFunction)
{
    QString s = QString::fromLatin1(prettyFunction);
    s.remove(QStringLiteral("{anonymous}::"));
    // The parameter list starts at the first "(" that does not belong to a
    // template argument; "operator()" keeps its own pair.
    int tiefe = 0;
    int klammer = -1;
    for (int i = 0; i < s.size(); ++i) {
        const QChar c = s.at(i);
        if (c == QLatin1Char('<'))
            ++tiefe;
        else if (c == QLatin1Char('>') && tiefe > 0)
            --tiefe;
        else if (c == QLatin1Char('(') && tiefe == 0) {
            if (s.midRef(0, i).endsWith(QLatin1String("operator")) && s.midRef(i, 2) == QLatin1String("()"))
                continue;
            klammer = i;
            break;
        }
    }
    if (klammer >= 0)
        s.truncate(klammer);
    tiefe = 0;
    for (int i = s.size() - 1; i >= 0; --i) {
        const QChar c = s.at(i);
        if (c == QLatin1Char('>'))
            ++tiefe;
        else if (c == QLatin1Char('<') && tiefe > 0)
            --tiefe;
        else if ((c == QLatin1Char(' ') || c == QLatin1Char('*') || c == QLatin1Char('&')) && tiefe == 0)
            return s.mid(i + 1);
    }
    return s;
}

QString LogBase::zeitstempel()
{
    return QStringLiteral("%1 %2 ").arg(QLocale::system().toString(QDate::currentDate(), QLocale::ShortFormat),
                                        QTime::currentTime().toString(QStringLiteral("hh:mm:ss.zzz")));
}

QString LogBase::betriebssystemZeile()
{
    return QStringLiteral("Betriebssystem: %1 (operating system version %2); ")
        .arg(QSysInfo::prettyProductName(), QSysInfo::kernelVersion());
}

LogBase::LogBase(const QString& name, qint64 maxGroesse_, const QString& verzeichnis_)
    : separator(QDir::separator())
    , betriebssystem(betriebssystemZeile())
    , maxGroesse(maxGroesse_)
{
    debugAktiv = Einstellungen::getAdminWert(QStringLiteral("LOG/Debug"), false).toBool();

    if (verzeichnis_.isNull())
        verzeichnis = Einstellungen::gibDirLog();
    else
        verzeichnis = QDir::toNativeSeparators(verzeichnis_);
    QDir().mkpath(verzeichnis);
    QString basis = verzeichnis;
    if (!basis.endsWith(separator))
        basis += separator;
    dateiname = basis + name + QStringLiteral(".log");

    const QFileInfo info(dateiname);
    if (!debugAktiv && info.exists() && info.size() >= maxGroesse) {
        Plattform::ersetzeDatei(dateiname, dateiname + QStringLiteral(".1"));
    }

    datei = std::make_unique<QFile>(dateiname);
    if (!datei->open(QIODevice::ReadWrite | QIODevice::Append | QIODevice::Text)) {
        datei.reset();
        return;
    }
    const QString programm = QCoreApplication::instance()
        ? QDir::toNativeSeparators(QCoreApplication::applicationFilePath())
        : QString();
    schreibe(QString());
    schreibe(zeitstempel() + QStringLiteral("PROGRAMMSTART----------------------------"));
    schreibe(zeitstempel() + QStringLiteral("Qt-Version (version number of Qt at run-time): ") + QString::fromLatin1(qVersion()));
    schreibe(zeitstempel() + QStringLiteral("Qt-Version (version against which the application is compiled): ") + QStringLiteral(QT_VERSION_STR));
    schreibe(zeitstempel() + QStringLiteral("Programmpfad: ") + programm);
    schreibe(zeitstempel() + betriebssystem);
    schreibe(zeitstempel() + QStringLiteral("Revisionsnummer: ") + Bauwerte::revision());
}

LogBase::~LogBase()
{
    if (datei) {
        schreibe(zeitstempel() + QStringLiteral("PROGRAMMENDE-----------------------------"));
        datei->close();
    }
}

QString LogBase::gibLogVerzeichnis() const
{
    return verzeichnis;
}

QByteArray LogBase::begrenzeZeile(const QString& zeile)
{
    // A value from the server can be megabytes long; one line of that helps
    // nobody and fills the disk. Cut at a character boundary, say so.
    if (zeile.size() * 3 <= maxZeilenBytes)
        return zeile.toUtf8();
    QByteArray utf8 = zeile.left(maxZeilenBytes).toUtf8();
    if (zeile.size() <= maxZeilenBytes && utf8.size() <= maxZeilenBytes)
        return utf8;
    const QByteArray marke = QStringLiteral(" [gek\u00fcrzt, %1 Zeichen]").arg(zeile.size()).toUtf8();
    int ende = maxZeilenBytes - marke.size();
    while (ende > 0 && (uchar(utf8.at(ende)) & 0xc0) == 0x80)
        --ende;
    utf8.truncate(ende);
    return utf8 + marke;
}

void LogBase::schreibe(const QString& zeile)
{
    if (!datei)
        return;
    // A run that writes far beyond the limit rotates again, so the log and
    // its ".1" together never grow without bound.
    if (!debugAktiv && maxGroesse > 0 && datei->size() >= maxGroesse * laufFaktor) {
        datei->close();
        Plattform::ersetzeDatei(dateiname, dateiname + QStringLiteral(".1"));
        if (!datei->open(QIODevice::ReadWrite | QIODevice::Append | QIODevice::Text)) {
            datei.reset();
            return;
        }
    }
    datei->seek(datei->size());
    datei->write(begrenzeZeile(zeile));
    datei->write("\n");
    datei->flush();
}

void LogBase::error(const QString& text, const QString& dateiQuelle, const QString& funktion, int zeile)
{
    const QString kopf = QStringLiteral("ERROR [%1:%2->%3] ").arg(dateiQuelle).arg(zeile).arg(funktion);
    qWarning("%s", begrenzeZeile(kopf + QStringLiteral(" : ") + text).constData());
    schreibe(zeitstempel() + kopf + QStringLiteral(": ") + text);
}

void LogBase::debug(const QString& text, const QString& dateiQuelle, const QString& funktion, int zeile)
{
    if (!debugAktiv)
        return;
    schreibe(zeitstempel() + QStringLiteral("DEBUG [%1:%2->%3] ").arg(dateiQuelle).arg(zeile).arg(funktion) + QStringLiteral(": ") + text);
}

void LogBase::info(const QString& text, const QString& dateiQuelle, const QString& funktion, int zeile)
{
    schreibe(zeitstempel() + QStringLiteral("INFO [%1:%2->%3] ").arg(dateiQuelle).arg(zeile).arg(funktion) + QStringLiteral(": ") + text);
}

void initLogBase(const QString& name, int maxGroesse, const QString& verzeichnis)
{
    if (!gp_Log)
        gp_Log = new LogBase(name, maxGroesse, verzeichnis);
}

void beendeLogBase()
{
    delete gp_Log;
    gp_Log = nullptr;
}
