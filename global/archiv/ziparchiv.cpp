#include "global/archiv/ziparchiv.h"

#include "global/plattform/plattform.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QSet>

#include <sys/stat.h>
#include <zip.h>

namespace {

constexpr qint64 stueckGroesse = 256 * 1024;

QString zipFehler(zip_t* z)
{
    return z ? QString::fromLocal8Bit(zip_strerror(z)) : QString();
}

// Operating systems whose external attributes carry a Unix mode.
bool hatUnixModus(zip_uint8_t os)
{
    return os == ZIP_OPSYS_UNIX || os == ZIP_OPSYS_MACINTOSH || os == ZIP_OPSYS_OS_X;
}

// True when `pfad`, resolved through every existing link, lies inside `wurzel`.
bool bleibtInnerhalb(const QString& pfad, const QString& wurzelKanonisch)
{
    // The deepest existing ancestor decides: a link there could point anywhere.
    QFileInfo info(pfad);
    while (!info.exists() && !info.isSymLink()) {
        const QString eltern = info.absolutePath();
        if (eltern == info.absoluteFilePath())
            return false;
        info = QFileInfo(eltern);
    }
    const QString kanonisch = info.canonicalFilePath();
    if (kanonisch.isEmpty())
        return false;
    return kanonisch == wurzelKanonisch || kanonisch.startsWith(wurzelKanonisch + QLatin1Char('/'));
}

} // namespace

ZipArchiv::~ZipArchiv()
{
    schliesse();
}

bool ZipArchiv::fehler(const QString& text)
{
    m_fehler = text;
    return false;
}

bool ZipArchiv::oeffne(const QString& pfad)
{
    schliesse();
    m_pfad = pfad;
    m_fehler.clear();
    int code = 0;
    m_zip = zip_open(QFile::encodeName(pfad).constData(), ZIP_RDONLY | ZIP_CHECKCONS, &code);
    if (!m_zip) {
        zip_error_t e;
        zip_error_init_with_code(&e, code);
        m_fehler = QStringLiteral("Das Archiv %1 kann nicht ge\u00f6ffnet werden: %2")
                       .arg(pfad, QString::fromLocal8Bit(zip_error_strerror(&e)));
        zip_error_fini(&e);
        return false;
    }
    return true;
}

void ZipArchiv::schliesse()
{
    if (m_zip) {
        zip_discard(m_zip);
        m_zip = nullptr;
    }
}

QStringList ZipArchiv::eintraege() const
{
    QStringList namen;
    if (!m_zip)
        return namen;
    const zip_int64_t anzahl = zip_get_num_entries(m_zip, 0);
    for (zip_int64_t i = 0; i < anzahl; ++i) {
        const char* name = zip_get_name(m_zip, zip_uint64_t(i), ZIP_FL_ENC_GUESS);
        namen << (name ? QString::fromUtf8(name) : QString());
    }
    return namen;
}

qint64 ZipArchiv::entpackteGroesse() const
{
    qint64 summe = 0;
    if (!m_zip)
        return 0;
    const zip_int64_t anzahl = zip_get_num_entries(m_zip, 0);
    for (zip_int64_t i = 0; i < anzahl; ++i) {
        zip_stat_t st;
        if (zip_stat_index(m_zip, zip_uint64_t(i), 0, &st) == 0 && (st.valid & ZIP_STAT_SIZE))
            summe += qint64(st.size);
    }
    return summe;
}

bool ZipArchiv::istVerweis(qint64 index) const
{
    zip_uint8_t os = 0;
    zip_uint32_t attribute = 0;
    if (zip_file_get_external_attributes(m_zip, zip_uint64_t(index), 0, &os, &attribute) != 0)
        return false;
    if (!hatUnixModus(os))
        return false;
    const mode_t modus = mode_t(attribute >> 16);
    return S_ISLNK(modus);
}

QString ZipArchiv::pruefeName(const QString& name)
{
    if (name.isEmpty())
        return QStringLiteral("leerer Name");
    for (const QChar c : name) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7f)
            return QStringLiteral("Steuerzeichen im Namen");
    }
    if (name.contains(QLatin1Char('\\')))
        return QStringLiteral("umgekehrter Schr\u00e4gstrich im Namen");
    if (name.startsWith(QLatin1Char('/')))
        return QStringLiteral("absoluter Pfad");
    if (name.size() >= 2 && name.at(1) == QLatin1Char(':'))
        return QStringLiteral("Laufwerksangabe");
    for (const QString& teil : name.split(QLatin1Char('/'))) {
        if (teil == QLatin1String(".."))
            return QStringLiteral("\"..\" im Pfad");
    }
    return QString();
}

bool ZipArchiv::leseEintrag(const QString& name, QByteArray& daten, qint64 maxGroesse)
{
    daten.clear();
    if (!m_zip)
        return fehler(QStringLiteral("Kein Archiv ge\u00f6ffnet."));
    // First entry with exactly this stored name (no case folding, no directory guessing).
    const zip_int64_t anzahl = zip_get_num_entries(m_zip, 0);
    zip_int64_t index = -1;
    for (zip_int64_t i = 0; i < anzahl && index < 0; ++i) {
        const char* n = zip_get_name(m_zip, zip_uint64_t(i), ZIP_FL_ENC_GUESS);
        if (n && QString::fromUtf8(n) == name)
            index = i;
    }
    if (index < 0)
        return fehler(QStringLiteral("Das Archiv %1 enth\u00e4lt keinen Eintrag \"%2\".").arg(m_pfad, name));
    zip_file_t* datei = zip_fopen_index(m_zip, zip_uint64_t(index), 0);
    if (!datei)
        return fehler(QStringLiteral("Der Eintrag \"%1\" kann nicht gelesen werden: %2").arg(name, zipFehler(m_zip)));
    QByteArray puffer(int(stueckGroesse), Qt::Uninitialized);
    bool ok = true;
    for (;;) {
        const zip_int64_t n = zip_fread(datei, puffer.data(), zip_uint64_t(puffer.size()));
        if (n < 0) {
            ok = fehler(QStringLiteral("Der Eintrag \"%1\" ist besch\u00e4digt: %2")
                            .arg(name, QString::fromLocal8Bit(zip_file_strerror(datei))));
            break;
        }
        if (n == 0)
            break;
        if (daten.size() + n > maxGroesse) {
            ok = fehler(QStringLiteral("Der Eintrag \"%1\" ist gr\u00f6\u00dfer als %2 Bytes.").arg(name).arg(maxGroesse));
            break;
        }
        daten.append(puffer.constData(), int(n));
    }
    zip_fclose(datei);
    if (!ok)
        daten.clear();
    return ok;
}

bool ZipArchiv::entpacke(const QString& ziel, const std::function<void(qint64, qint64)>& fortschritt)
{
    if (!m_zip)
        return fehler(QStringLiteral("Kein Archiv ge\u00f6ffnet."));
    if (!QDir().mkpath(ziel))
        return fehler(QStringLiteral("Das Verzeichnis %1 kann nicht angelegt werden.").arg(ziel));
    const QString wurzel = QFileInfo(ziel).canonicalFilePath();
    const QStringList namen = eintraege();

    // Every name is checked before the first byte is written.
    for (int i = 0; i < namen.size(); ++i) {
        const QString grund = pruefeName(namen[i]);
        if (!grund.isEmpty())
            return fehler(QStringLiteral("Das Archiv %1 enth\u00e4lt einen unzul\u00e4ssigen Eintrag \"%2\" (%3).")
                              .arg(m_pfad, namen[i], grund));
        if (istVerweis(i))
            return fehler(QStringLiteral("Das Archiv %1 enth\u00e4lt einen Verweis \"%2\"; Verweise werden nicht entpackt.")
                              .arg(m_pfad, namen[i]));
        if (!bleibtInnerhalb(wurzel + QLatin1Char('/') + namen[i], wurzel))
            return fehler(QStringLiteral("Der Eintrag \"%1\" w\u00fcrde au\u00dferhalb von %2 geschrieben.").arg(namen[i], ziel));
    }

    const qint64 gesamt = entpackteGroesse();
    qint64 geschrieben = 0;
    QByteArray puffer(int(stueckGroesse), Qt::Uninitialized);
    for (int i = 0; i < namen.size(); ++i) {
        const QString pfad = wurzel + QLatin1Char('/') + namen[i];
        if (namen[i].endsWith(QLatin1Char('/'))) {
            if (!QDir().mkpath(pfad))
                return fehler(QStringLiteral("Das Verzeichnis %1 kann nicht angelegt werden.").arg(pfad));
            continue;
        }
        const QString ordner = QFileInfo(pfad).absolutePath();
        if (!QDir().mkpath(ordner))
            return fehler(QStringLiteral("Das Verzeichnis %1 kann nicht angelegt werden.").arg(ordner));
        // Folders made by earlier entries are real folders, but check again:
        // the installation may hold links of its own.
        if (!bleibtInnerhalb(pfad, wurzel))
            return fehler(QStringLiteral("Der Eintrag \"%1\" w\u00fcrde au\u00dferhalb von %2 geschrieben.").arg(namen[i], ziel));
        zip_file_t* datei = zip_fopen_index(m_zip, zip_uint64_t(i), 0);
        if (!datei)
            return fehler(QStringLiteral("Der Eintrag \"%1\" kann nicht gelesen werden: %2").arg(namen[i], zipFehler(m_zip)));
        QSaveFile ausgabe(pfad);
        bool ok = ausgabe.open(QIODevice::WriteOnly);
        if (!ok)
            fehler(QStringLiteral("Die Datei %1 kann nicht geschrieben werden: %2").arg(pfad, ausgabe.errorString()));
        while (ok) {
            const zip_int64_t n = zip_fread(datei, puffer.data(), zip_uint64_t(puffer.size()));
            if (n < 0) {
                ok = fehler(QStringLiteral("Der Eintrag \"%1\" ist besch\u00e4digt: %2")
                                .arg(namen[i], QString::fromLocal8Bit(zip_file_strerror(datei))));
                break;
            }
            if (n == 0)
                break;
            if (ausgabe.write(puffer.constData(), n) != n) {
                ok = fehler(QStringLiteral("Die Datei %1 kann nicht geschrieben werden: %2").arg(pfad, ausgabe.errorString()));
                break;
            }
            geschrieben += n;
            if (fortschritt)
                fortschritt(geschrieben, gesamt);
        }
        zip_fclose(datei);
        if (!ok) {
            ausgabe.cancelWriting();
            return false;
        }
        if (!ausgabe.commit())
            return fehler(QStringLiteral("Die Datei %1 kann nicht gespeichert werden: %2").arg(pfad, ausgabe.errorString()));
    }
    return true;
}

bool ZipArchiv::erstelle(const QString& zipPfad, const QList<QPair<QString, QString>>& dateien, QString* fehlerText)
{
    auto scheitere = [&](const QString& text) {
        if (fehlerText)
            *fehlerText = text;
        return false;
    };
    const QString temp = zipPfad + QStringLiteral(".entsteht");
    QFile::remove(temp);
    int code = 0;
    zip_t* z = zip_open(QFile::encodeName(temp).constData(), ZIP_CREATE | ZIP_TRUNCATE, &code);
    if (!z)
        return scheitere(QStringLiteral("Das Archiv %1 kann nicht angelegt werden.").arg(zipPfad));
    for (const auto& d : dateien) {
        zip_source_t* quelle = zip_source_file(z, QFile::encodeName(d.first).constData(), 0, -1);
        if (!quelle || zip_file_add(z, d.second.toUtf8().constData(), quelle, ZIP_FL_OVERWRITE | ZIP_FL_ENC_UTF_8) < 0) {
            const QString text = QStringLiteral("%1 kann nicht ins Archiv aufgenommen werden: %2").arg(d.first, zipFehler(z));
            if (quelle)
                zip_source_free(quelle);
            zip_discard(z);
            QFile::remove(temp);
            return scheitere(text);
        }
    }
    if (zip_close(z) != 0) {
        const QString text = QStringLiteral("Das Archiv %1 kann nicht geschrieben werden: %2").arg(zipPfad, zipFehler(z));
        zip_discard(z);
        QFile::remove(temp);
        return scheitere(text);
    }
    // An older archive under the name stays until the new one replaces it.
    QString grund;
    if (!Plattform::ersetzeDatei(temp, zipPfad, &grund)) {
        QFile::remove(temp);
        return scheitere(QStringLiteral("Das Archiv %1 kann nicht gespeichert werden: %2").arg(zipPfad, grund));
    }
    return true;
}
