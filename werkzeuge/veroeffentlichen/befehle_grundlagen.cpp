// Sub-commands for keys, signatures and dictionaries.

#include <QFile>
#include <QFileInfo>

#include "global/crypto/crypto.h"
#include "werkzeuge/veroeffentlichen/befehl.h"
#include "werkzeuge/veroeffentlichen/dictschreiber.h"
#include "werkzeuge/veroeffentlichen/schluessel.h"

namespace {

bool leseGanz(const QString& pfad, QByteArray& inhalt, QTextStream& fehler)
{
    QFile f(pfad);
    if (!f.open(QIODevice::ReadOnly)) {
        fehler << "Fehler: " << pfad << " kann nicht gelesen werden: " << f.errorString() << '\n';
        return false;
    }
    inhalt = f.readAll();
    return true;
}

int schluesselpaar(const QCommandLineParser& p, QTextStream& aus, QTextStream& fehler)
{
    const QString privat = p.value(QStringLiteral("privat"));
    const QString oeffentlich = p.value(QStringLiteral("oeffentlich"));
    if (privat.isEmpty() || oeffentlich.isEmpty()) {
        fehler << QStringLiteral("Fehler: --privat und --oeffentlich sind nötig.\n");
        return AUFRUFFEHLER;
    }
    bool ok = false;
    const int bits = p.value(QStringLiteral("bits")).toInt(&ok);
    if (!ok || bits < 2048 || bits > 8192) {
        fehler << "Fehler: --bits muss zwischen 2048 und 8192 liegen.\n";
        return AUFRUFFEHLER;
    }
    if (!p.isSet(QStringLiteral("ueberschreiben")) && (QFileInfo::exists(privat) || QFileInfo::exists(oeffentlich))) {
        fehler << "Fehler: " << (QFileInfo::exists(privat) ? privat : oeffentlich)
               << " existiert schon (--ueberschreiben ersetzt es).\n";
        return FEHLSCHLAG;
    }
    QByteArray privatPem, oeffentlichPem;
    QString meldung;
    if (!Schluessel::erzeugePaar(bits, privatPem, oeffentlichPem, meldung)
        || !Schluessel::schreibeDatei(privat, privatPem, true, meldung)
        || !Schluessel::schreibeDatei(oeffentlich, oeffentlichPem, false, meldung)) {
        fehler << "Fehler: " << meldung << '\n';
        return FEHLSCHLAG;
    }
    aus << QStringLiteral("Schlüsselpaar geschrieben: ") << privat << ", " << oeffentlich << '\n';
    return ERFOLG;
}

int signiere(const QCommandLineParser& p, QTextStream& aus, QTextStream& fehler)
{
    const QString schluessel = p.value(QStringLiteral("schluessel"));
    if (schluessel.isEmpty() || p.positionalArguments().isEmpty()) {
        fehler << QStringLiteral("Fehler: --schluessel und mindestens eine Datei sind nötig.\n");
        return AUFRUFFEHLER;
    }
    QByteArray pem;
    if (!leseGanz(schluessel, pem, fehler))
        return FEHLSCHLAG;
    for (const QString& datei : p.positionalArguments()) {
        QString sig, meldung;
        if (!Schluessel::signiereDatei(datei, pem, sig, meldung)) {
            fehler << "Fehler: " << meldung << '\n';
            return FEHLSCHLAG;
        }
        aus << "signiert: " << datei << " -> " << sig << '\n';
    }
    return ERFOLG;
}

int dict(const QCommandLineParser& p, QTextStream& aus, QTextStream& fehler)
{
    DictSchreiber::Auftrag a;
    a.ordner = p.value(QStringLiteral("ordner"));
    a.name = p.value(QStringLiteral("name"));
    if (a.ordner.isEmpty() || a.name.isEmpty()) {
        fehler << QStringLiteral("Fehler: --ordner und --name sind nötig.\n");
        return AUFRUFFEHLER;
    }
    if (a.name.contains(QLatin1Char('/')) || a.name.contains(QLatin1Char('\\'))
        || !(a.name.endsWith(QLatin1String(".dict")) || a.name.endsWith(QLatin1String(".vdict")))) {
        fehler << "Fehler: --name ist ein Dateiname auf .dict oder .vdict ohne Verzeichnis.\n";
        return AUFRUFFEHLER;
    }
    const QString form = p.value(QStringLiteral("form"));
    if (form == QLatin1String("csv"))
        a.form = DictSchreiber::Form::CSV;
    else if (form == QLatin1String("json"))
        a.form = DictSchreiber::Form::JSON;
    else {
        fehler << "Fehler: --form ist csv oder json.\n";
        return AUFRUFFEHLER;
    }
    for (const QString& name : DictSchreiber::kopfNamen()) {
        if (p.isSet(name))
            a.kopf.insert(name, p.value(name));
    }
    a.beschreibung = p.value(QStringLiteral("beschreibung"));

    QString dictPfad, meldung;
    if (!DictSchreiber::schreibe(a, dictPfad, meldung)) {
        fehler << "Fehler: " << meldung << '\n';
        return FEHLSCHLAG;
    }
    aus << "Dictionary geschrieben: " << dictPfad << '\n';
    const QString schluessel = p.value(QStringLiteral("schluessel"));
    if (!schluessel.isEmpty()) {
        QByteArray pem;
        if (!leseGanz(schluessel, pem, fehler))
            return FEHLSCHLAG;
        QString sig;
        if (!Schluessel::signiereDatei(dictPfad, pem, sig, meldung)) {
            fehler << "Fehler: " << meldung << '\n';
            return FEHLSCHLAG;
        }
        aus << "signiert: " << dictPfad << " -> " << sig << '\n';
    }
    return ERFOLG;
}

int pruefe(const QCommandLineParser& p, QTextStream& aus, QTextStream& fehler)
{
    const QString schluessel = p.value(QStringLiteral("oeffentlich"));
    if (schluessel.isEmpty() || p.positionalArguments().isEmpty()) {
        fehler << QStringLiteral("Fehler: --oeffentlich und mindestens eine Datei sind nötig.\n");
        return AUFRUFFEHLER;
    }
    QByteArray pem;
    if (!leseGanz(schluessel, pem, fehler))
        return FEHLSCHLAG;
    int ergebnis = ERFOLG;
    for (const QString& datei : p.positionalArguments()) {
        QByteArray daten, signatur;
        const QString sigPfad = Crypto::signaturPfad(datei);
        QString grund;
        if (!leseGanz(datei, daten, fehler) || !leseGanz(sigPfad, signatur, fehler)) {
            ergebnis = FEHLSCHLAG;
            continue;
        }
        if (Crypto::pruefeSignatur(daten, signatur, pem, &grund)) {
            aus << QStringLiteral("gültig: ") << datei << '\n';
        } else {
            aus << QStringLiteral("ungültig: ") << datei << " (" << grund << ")\n";
            ergebnis = FEHLSCHLAG;
        }
    }
    return ergebnis;
}

} // namespace

void registriereGrundbefehle(QList<Befehl>& befehle)
{
    const QString datei = QStringLiteral("datei");
    befehle.append({ QStringLiteral("schluesselpaar"), QStringLiteral("erzeugt ein RSA-Schlüsselpaar (PEM)"),
                     QStringLiteral("Erzeugt ein RSA-Schlüsselpaar mit dem öffentlichen Exponenten 65537. Der "
                                    "private Schlüssel (PKCS#8) wird nur für den Besitzer lesbar geschrieben; "
                                    "der öffentliche (X.509) ist der, den das Programm beim Bauen über "
                                    "FISCALON_PUBLIC_KEY eingebaut bekommt."),
                     QString(),
                     { { QStringLiteral("privat"), QStringLiteral("Zieldatei des privaten Schlüssels."), datei },
                       { QStringLiteral("oeffentlich"), QStringLiteral("Zieldatei des öffentlichen Schlüssels."), datei },
                       { QStringLiteral("bits"), QStringLiteral("Schlüssellänge (Vorgabe 2048)."), QStringLiteral("n"),
                         QStringLiteral("2048") },
                       { QStringLiteral("ueberschreiben"), QStringLiteral("Vorhandene Dateien ersetzen.") } },
                     schluesselpaar });
    befehle.append({ QStringLiteral("signiere"), QStringLiteral("signiert Dateien (.sig bzw. _v2.sig)"),
                     QStringLiteral("Signiert jede Datei mit RSASSA-PSS (SHA-1, MGF1 mit SHA-1, 20 Byte Salz) "
                                    "und legt die Signatur daneben ab: DATEI.sig, bei Umleitungsdateien "
                                    "(Namen beginnend mit userredirect oder qsredirect) DATEI_v2.sig."),
                     QStringLiteral("DATEI..."),
                     { { QStringLiteral("schluessel"), QStringLiteral("Privater Schlüssel (PEM)."), datei } },
                     signiere });
    QList<QCommandLineOption> dictOptionen {
        { QStringLiteral("ordner"), QStringLiteral("Ordner des Teils; das Dictionary kommt nach ORDNER/dict."),
          QStringLiteral("ordner") },
        { QStringLiteral("name"), QStringLiteral("Dateiname, z. B. est_10.dict oder instv_0.vdict."),
          QStringLiteral("name") },
        { QStringLiteral("form"), QStringLiteral("csv (kommagetrennt) oder json."), QStringLiteral("form"),
          QStringLiteral("json") },
        { QStringLiteral("schluessel"), QStringLiteral("Privater Schlüssel (PEM): signiert das Dictionary gleich mit."),
          datei },
        { QStringLiteral("beschreibung"),
          QStringLiteral("Beschreibungstext (JSON-Form: Latin-1, HTML-Entitäten erlaubt)."), QStringLiteral("text") },
    };
    for (const QString& name : DictSchreiber::kopfNamen())
        dictOptionen.append({ name, QStringLiteral("Kopfwert »%1«.").arg(name), QStringLiteral("wert") });
    befehle.append({ QStringLiteral("dict"), QStringLiteral("schreibt das Dictionary eines Ordners"),
                     QStringLiteral("Schreibt ORDNER/dict/NAME: die Kopfwerte aus den Optionen und alle Dateien "
                                    "unter ORDNER (außer ORDNER/dict) mit ihrer MD5-Prüfsumme, Base64-kodiert in "
                                    "der kommagetrennten oder der JSON-Form. Leere Dateien stehen mit der "
                                    "Prüfsumme 0 darin, so wie das Programm sie berechnet. Die Optionen der "
                                    "Kopfwerte heißen wie die Felder des Dictionarys; datenUebernahmeAusVormonat "
                                    "und berechnungVersionsNummer gibt es nur in der JSON-Form."),
                     QString(), dictOptionen, dict });
    befehle.append({ QStringLiteral("pruefe"), QStringLiteral("prüft Signaturen gegen einen öffentlichen Schlüssel"),
                     QStringLiteral("Prüft jede Datei gegen ihre Signatur (DATEI.sig bzw. DATEI_v2.sig) mit dem "
                                    "angegebenen öffentlichen Schlüssel, ohne die eingebaute MD5-Liste. "
                                    "Rückgabe 0, wenn alle gültig sind, sonst 1."),
                     QStringLiteral("DATEI..."),
                     { { QStringLiteral("oeffentlich"), QStringLiteral("Öffentlicher Schlüssel (PEM)."), datei } },
                     pruefe });
}
