#include "global/crypto/dictionaryhelper.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>

#include "global/crypto/crypto.h"
#include "global/varnelApplication/logbase.h"
#include "global/varnelApplication/textausliteral.h"

QHash<QString, DictEintrag> DictionaryHelper::dateienAusZeilen(const QStringList& zeilen, const QString& pfad)
{
    QHash<QString, DictEintrag> dateien;
    for (const QString& zeile : zeilen) {
        const QStringList felder = zeile.split(QLatin1Char(','));
        if (felder.size() < 2) {
            IV_LOG_ERROR(textAusLiteral("Keine Daten nach Decodierung der Datei %1").arg(pfad));
            continue;
        }
        DictEintrag e;
        e.pfad = felder.at(0).simplified();
        e.pruefsumme = felder.at(1).simplified();
        e.dictDatei = pfad;
        if (e.pfad.isEmpty() || e.pruefsumme.isEmpty())
            continue;
        if (!istSichererPfad(e.pfad)) {
            IV_LOG_ERROR(textAusLiteral("Der Eintrag [%1] der Dict Datei[%2] zeigt aus dem Verzeichnis heraus und wird &uuml;bergangen.")
                             .arg(e.pfad, pfad));
            continue;
        }
        dateien.insert(e.pfad, e);
    }
    return dateien;
}

bool DictionaryHelper::istSichererPfad(const QString& relativerPfad)
{
    if (relativerPfad.isEmpty())
        return false;
    for (const QChar c : relativerPfad) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7f)
            return false;
    }
    if (relativerPfad.startsWith(QLatin1Char('/')) || relativerPfad.startsWith(QLatin1Char('\\')))
        return false;
    // "C:foo" is relative to the current directory of drive C on Windows.
    if (relativerPfad.size() >= 2 && relativerPfad.at(1) == QLatin1Char(':') && relativerPfad.at(0).isLetter())
        return false;
    static const QRegularExpression trenner(QStringLiteral("[/\\\\]"));
    const QStringList teile = relativerPfad.split(trenner);
    // "." names the folder itself: an entry "." would make the folder one of
    // the part's files (checksummed, copied over, deleted).
    for (const QString& teil : teile) {
        if (teil == QLatin1String("..") || teil == QLatin1String("."))
            return false;
    }
    return true;
}

QString DictionaryHelper::vollerPfad(const QString& basisVerzeichnis, const QString& relativerPfad)
{
    if (!istSichererPfad(relativerPfad))
        return QString();
    // Dictionaries written on Windows separate with "\".
    QString rel = relativerPfad;
    rel.replace(QLatin1Char('\\'), QLatin1Char('/'));
    return QDir::toNativeSeparators(QDir(basisVerzeichnis).absolutePath() + QLatin1Char('/') + rel);
}

QByteArray DictionaryHelper::dekodiere(const QByteArray& base64)
{
    QByteArray rein;
    rein.reserve(base64.size());
    for (const char c : base64) {
        if (c != '\r' && c != '\n' && c != ' ' && c != '\t')
            rein.append(c);
    }
    const auto ergebnis =
        QByteArray::fromBase64Encoding(rein, QByteArray::Base64Encoding | QByteArray::AbortOnBase64DecodingErrors);
    if (!ergebnis)
        return QByteArray();
    return *ergebnis;
}

bool DictionaryHelper::pruefeDateien(const DictInfo& info, const QString& dictPfad)
{
    QDir basis = QFileInfo(dictPfad).absoluteDir();
    basis.cdUp();
    bool alleRichtig = true;
    for (auto it = info.dateien.cbegin(); it != info.dateien.cend(); ++it) {
        const QString voll = vollerPfad(basis.absolutePath(), it->pfad);
        if (voll.isEmpty() || !QFileInfo(voll).isFile()) {
            IV_LOG_ERROR(textAusLiteral("- Die Datei [%1] ist nicht vorhanden.")
                             .arg(voll.isEmpty() ? it->pfad : voll));
            alleRichtig = false;
            continue;
        }
        if (Crypto::md5Pruefsumme(voll) != it->pruefsumme) {
            IV_LOG_ERROR(textAusLiteral("- Die Datei [%1] entspricht nicht dem Dictionary.").arg(voll));
            alleRichtig = false;
        }
    }
    return alleRichtig;
}
