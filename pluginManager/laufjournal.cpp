#include "pluginManager/laufjournal.h"

#include "global/crypto/dictionaryhelper.h"
#include "global/plattform/plattform.h"
#include "global/varnelApplication/logbase.h"
#include "global/varnelApplication/textausliteral.h"
#include "pluginManager/pluginManager.h"

#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QRegularExpression>

const QString Laufjournal::HERUNTERLADEN = QStringLiteral("herunterladen");
const QString Laufjournal::HAUPTANWENDUNG = QStringLiteral("hauptanwendung");
const QString Laufjournal::DIENST = QStringLiteral("dienst");
const QString Laufjournal::SELBSTUPDATE = QStringLiteral("selbstupdate");
const QString Laufjournal::ENTFERNEN = QStringLiteral("entfernen");
const QString Laufjournal::INSTALLIEREN = QStringLiteral("installieren");
const QString Laufjournal::ERNEUERN = QStringLiteral("erneuern");
const QString Laufjournal::BEREINIGEN = QStringLiteral("bereinigen");
const QString Laufjournal::REPARIEREN = QStringLiteral("reparieren");

namespace {

const QByteArray kKopf = "IVJ";
// Larger than any real journal (100 000 listed files are about 5 MB).
constexpr qint64 kHoechstGroesse = 64 * 1024 * 1024;

QByteArray pruefwert(const QByteArray& text)
{
    return QCryptographicHash::hash(text, QCryptographicHash::Md5).toHex().left(8);
}

bool istBekannterSchritt(const QString& s)
{
    static const QSet<QString> schritte{ Laufjournal::HERUNTERLADEN, Laufjournal::HAUPTANWENDUNG, Laufjournal::DIENST,
                                         Laufjournal::SELBSTUPDATE,  Laufjournal::ENTFERNEN,      Laufjournal::INSTALLIEREN,
                                         Laufjournal::ERNEUERN,      Laufjournal::BEREINIGEN,     Laufjournal::REPARIEREN };
    return schritte.contains(s);
}

bool leseTeil(const QString& kurzname, const QString& jahr, Laufjournal::Teil& teil)
{
    static const QRegularExpression jahrMuster(QStringLiteral("^[0-9]{1,4}$"));
    if (!Laufjournal::istGueltigerKurzname(kurzname) || !jahrMuster.match(jahr).hasMatch())
        return false;
    teil.kurzname = kurzname;
    teil.jahr = jahr.toUInt();
    return true;
}

// The stop point the test asked for, read once: name and pass number.
struct Halt
{
    QString name;
    int nummer = 1;
    int erreicht = 0;
};

Halt& gibHalt()
{
    static Halt halt = [] {
        Halt h;
        // Honoured only below the root override, which production never sets.
        if (Plattform::wurzel().isEmpty())
            return h;
        const QString wert = qEnvironmentVariable("FISCALON_TEST_HALT");
        const int raute = wert.lastIndexOf(QLatin1Char('#'));
        h.name = raute < 0 ? wert : wert.left(raute);
        if (raute >= 0)
            h.nummer = qMax(1, wert.mid(raute + 1).toInt());
        return h;
    }();
    return halt;
}

} // namespace

QString Laufjournal::pfad()
{
    return PluginManager::gibDirDaten() + QStringLiteral("laufjournal");
}

bool Laufjournal::istGueltigerKurzname(const QString& kurzname)
{
    static const QRegularExpression muster(QStringLiteral("^[A-Za-z0-9_]{1,40}$"));
    return muster.match(kurzname).hasMatch();
}

void Laufjournal::haltepunkt(const QString& name)
{
    Halt& h = gibHalt();
    if (h.name.isEmpty() || h.name != name || ++h.erreicht != h.nummer)
        return;
    IV_LOG_INFO(QStringLiteral("Testhaltepunkt \"%1\" erreicht: der Prozess beendet sich mit SIGKILL.").arg(name));
    Plattform::beendeHart();
}

QByteArray Laufjournal::zeile(const QStringList& felder)
{
    const QByteArray text = felder.join(QLatin1Char('\t')).toUtf8();
    return text + '\t' + pruefwert(text) + '\n';
}

bool Laufjournal::beginne(const QList<Planpunkt>& plan, const QStringList& dateienVorher, bool nurPruefung)
{
    m_Datei = pfad();
    mb_Fortgesetzt = false;
    QByteArray inhalt = zeile({ QString::fromLatin1(kKopf), QStringLiteral("1"),
                                QDateTime::currentDateTimeUtc().toString(Qt::ISODate),
                                nurPruefung ? QStringLiteral("pruefung") : QStringLiteral("lauf") });
    for (const Planpunkt& p : plan)
        inhalt += zeile({ QStringLiteral("PLAN"), p.aktion, p.teil.kurzname, QString::number(p.teil.jahr) });
    for (const QString& d : dateienVorher) {
        // Only what a dictionary may list; the reader checks the same.
        if (DictionaryHelper::istSichererPfad(d) && !d.contains(QLatin1Char('\t')))
            inhalt += zeile({ QStringLiteral("DATEI"), d });
    }
    haltepunkt(QStringLiteral("vor PLAN"));
    // Written beside and moved over the old journal in one step: a crash
    // leaves the old journal or the complete new one.
    const QString neu = m_Datei + QStringLiteral(".neu");
    QFile::remove(neu);
    QString fehler;
    if (gibHalt().name == QLatin1String("halb PLAN")) {
        Plattform::haengeDauerhaftAn(neu, inhalt.left(inhalt.size() / 2));
        haltepunkt(QStringLiteral("halb PLAN"));
    }
    const bool ok = Plattform::haengeDauerhaftAn(neu, inhalt, &fehler) && Plattform::ersetzeDatei(neu, m_Datei, &fehler)
        && Plattform::synchronisiereOrdner(QFileInfo(m_Datei).absolutePath(), &fehler);
    if (!ok) {
        IV_LOG_ERROR(textAusLiteral("Das Laufjournal \"%1\" konnte nicht geschrieben werden: %2").arg(m_Datei, fehler));
        QFile::remove(neu);
        mb_Aktiv = false;
        return false;
    }
    mb_Aktiv = true;
    haltepunkt(QStringLiteral("nach PLAN"));
    return true;
}

bool Laufjournal::setzeFort(const QList<Planpunkt>& plan)
{
    const Stand alt = lese();
    if (!alt.vorhanden)
        return beginne(plan, QStringList());
    m_Datei = pfad();
    mb_Fortgesetzt = true;
    mb_Aktiv = false;
    if (alt.beschaedigt)
        return true;
    QByteArray zeilen;
    for (const Planpunkt& p : plan)
        zeilen += zeile({ QStringLiteral("PLAN"), p.aktion, p.teil.kurzname, QString::number(p.teil.jahr) });
    QString fehler;
    if (!Plattform::haengeDauerhaftAn(m_Datei, zeilen, &fehler)) {
        IV_LOG_ERROR(textAusLiteral("Das Laufjournal \"%1\" konnte nicht geschrieben werden: %2").arg(m_Datei, fehler));
        return false;
    }
    mb_Aktiv = true;
    return true;
}

bool Laufjournal::schreibe(const QString& satz)
{
    const QByteArray z = zeile(satz.split(QLatin1Char(' ')));
    haltepunkt(QStringLiteral("vor ") + satz);
    if (gibHalt().name == QStringLiteral("halb ") + satz) {
        Plattform::haengeDauerhaftAn(m_Datei, z.left(z.size() / 2));
        haltepunkt(QStringLiteral("halb ") + satz);
    }
    QString fehler;
    if (!Plattform::haengeDauerhaftAn(m_Datei, z, &fehler)) {
        IV_LOG_ERROR(textAusLiteral("Das Laufjournal \"%1\" konnte nicht geschrieben werden: %2").arg(m_Datei, fehler));
        return false;
    }
    haltepunkt(QStringLiteral("nach ") + satz);
    return true;
}

bool Laufjournal::schritt(const QString& schritt, const Teil& teil, bool ende)
{
    if (!mb_Aktiv)
        return true;
    return schreibe(QStringLiteral("%1 %2 %3").arg(ende ? QStringLiteral("ENDE") : QStringLiteral("BEGINN"), schritt,
                                                    teil.schluessel()));
}

void Laufjournal::beende()
{
    if (!mb_Aktiv || mb_Fortgesetzt) {
        mb_Aktiv = mb_Fortgesetzt = false;
        return;
    }
    haltepunkt(QStringLiteral("vor ABSCHLUSS"));
    entferne(m_Datei);
    mb_Aktiv = false;
}

bool Laufjournal::vermerkeReparatur(const QList<Planpunkt>& teile)
{
    const Stand alt = lese();
    if (!alt.vorhanden)
        return Laufjournal().beginne(teile, QStringList(), true);
    if (alt.beschaedigt)
        return true;
    QByteArray zeilen;
    for (const Planpunkt& p : teile)
        zeilen += zeile({ QStringLiteral("PLAN"), p.aktion, p.teil.kurzname, QString::number(p.teil.jahr) });
    QString fehler;
    if (Plattform::haengeDauerhaftAn(pfad(), zeilen, &fehler))
        return true;
    IV_LOG_ERROR(textAusLiteral("Das Laufjournal \"%1\" konnte nicht geschrieben werden: %2").arg(pfad(), fehler));
    return false;
}

void Laufjournal::entferne(const QString& datei)
{
    // A new journal that a crash stopped before it replaced the old one.
    QFile::remove(datei + QStringLiteral(".neu"));
    if (!QFileInfo::exists(datei) && !QFileInfo(datei).isSymLink())
        return;
    if (!QFile::remove(datei))
        IV_LOG_ERROR(textAusLiteral("Das Laufjournal \"%1\" konnte nicht entfernt werden.").arg(datei));
    Plattform::synchronisiereOrdner(QFileInfo(datei).absolutePath());
}

Laufjournal::Stand Laufjournal::lese(const QString& datei)
{
    Stand s;
    const QFileInfo info(datei);
    if (!info.exists() && !info.isSymLink())
        return s;
    s.vorhanden = true;
    auto beschaedigt = [&s](const QString& grund) {
        s.beschaedigt = true;
        s.grund = grund;
        return s;
    };
    if (info.isSymLink() || !info.isFile())
        return beschaedigt(QStringLiteral("keine gew\u00f6hnliche Datei"));
    if (info.size() > kHoechstGroesse)
        return beschaedigt(QStringLiteral("zu gro\u00df (%1 Bytes)").arg(info.size()));
    QFile f(datei);
    if (!f.open(QIODevice::ReadOnly))
        return beschaedigt(QStringLiteral("nicht lesbar: %1").arg(f.errorString()));
    return leseInhalt(f.readAll());
}

Laufjournal::Stand Laufjournal::leseInhalt(QByteArray inhalt)
{
    Stand s;
    s.vorhanden = true;
    auto beschaedigt = [&s](const QString& grund) {
        s.beschaedigt = true;
        s.grund = grund;
        return s;
    };
    if (inhalt.isEmpty())
        return beschaedigt(QStringLiteral("leer"));
    // What stands before the first damage is used (each record is checked on
    // its own); the damage itself means the rest is unknown. A torn last line
    // is what a stop in the middle of an append leaves.
    if (!inhalt.endsWith('\n')) {
        beschaedigt(QStringLiteral("die letzte Zeile ist unvollst\u00e4ndig"));
        inhalt.truncate(inhalt.lastIndexOf('\n') + 1);
    }
    const QList<QByteArray> zeilen = inhalt.isEmpty() ? QList<QByteArray>() : inhalt.left(inhalt.size() - 1).split('\n');
    QHash<QString, int> offen; // "<step> <part>" -> begun minus ended
    for (int i = 0; i < zeilen.size(); ++i) {
        const QByteArray& z = zeilen[i];
        const int tab = z.lastIndexOf('\t');
        if (tab < 0 || z.mid(tab + 1) != pruefwert(z.left(tab))) {
            beschaedigt(QStringLiteral("Zeile %1 hat eine falsche Pr\u00fcfsumme").arg(i + 1));
            break;
        }
        const QString text = QString::fromUtf8(z.left(tab));
        if (text.toUtf8() != z.left(tab)) {
            beschaedigt(QStringLiteral("Zeile %1 ist kein UTF-8").arg(i + 1));
            break;
        }
        const QStringList f = text.split(QLatin1Char('\t'));
        const QString& art = f.at(0);
        Teil teil;
        if (i == 0) {
            if (art != QLatin1String(kKopf) || f.size() != 4 || f.at(1) != QLatin1String("1")) {
                beschaedigt(QStringLiteral("unbekannter Kopf"));
                break;
            }
            s.beginn = QDateTime::fromString(f.at(2), Qt::ISODate);
            s.nurPruefung = f.at(3) == QLatin1String("pruefung");
        } else if (art == QLatin1String("PLAN") && f.size() == 4 && istBekannterSchritt(f.at(1))
                   && leseTeil(f.at(2), f.at(3), teil)) {
            s.plan.append({ f.at(1), teil });
        } else if (art == QLatin1String("DATEI") && f.size() == 2 && f.at(1).size() <= 1024
                   && DictionaryHelper::istSichererPfad(f.at(1))) {
            s.dateienVorher.append(f.at(1));
        } else if ((art == QLatin1String("BEGINN") || art == QLatin1String("ENDE")) && f.size() == 4
                   && istBekannterSchritt(f.at(1)) && leseTeil(f.at(2), f.at(3), teil)) {
            const QString schluessel = f.at(1) + QLatin1Char(' ') + teil.schluessel();
            const bool beginn = art == QLatin1String("BEGINN");
            offen[schluessel] += beginn ? 1 : -1;
            if (beginn)
                s.offenNachTeil.insert(teil.schluessel(), f.at(1));
            else
                s.offenNachTeil.remove(teil.schluessel());
            if (!beginn && f.at(1) == BEREINIGEN)
                s.bereinigt = true;
            s.letzterSchritt = art + QLatin1Char(' ') + schluessel;
        } else {
            beschaedigt(QStringLiteral("Zeile %1 ist kein g\u00fcltiger Eintrag").arg(i + 1));
            break;
        }
    }
    for (auto it = offen.cbegin(); it != offen.cend(); ++it) {
        if (it.value() > 0)
            s.offeneSchritte.append(it.key());
    }
    s.offeneSchritte.sort();
    return s;
}
