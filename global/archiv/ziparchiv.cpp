#include "global/archiv/ziparchiv.h"

#include "global/plattform/plattform.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QHash>
#include <QSet>
#include <QTemporaryDir>
#include <QTextCodec>
#include <QVector>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <sys/stat.h>
#include <unistd.h>
#include <zip.h>

namespace {

constexpr qint64 stueckGroesse = 256 * 1024;
// Limits of what is unpacked at all (see the header).
constexpr zip_int64_t maxEintraege = 100000;
constexpr int maxNamenBytes = 1024;
constexpr int maxTeilBytes = 255;
// Deflate reaches at most about 1032:1; beyond this only a bomb compresses.
constexpr zip_uint64_t maxVerhaeltnis = 1100;
constexpr zip_uint64_t verhaeltnisSockel = 1024 * 1024;
// The staging folder inside the target; archive entries may not use the prefix.
const char zwischenPraefix[] = ".iv-entpacken-";
// In a staging folder: the files to move, one name a line, in move order.
const char bereitName[] = "bereit";
constexpr qint64 maxBereitGroesse = 1100LL * 100000;

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

// Strict UTF-8: overlong forms, surrogates and stray bytes are refused, so
// that no decoder can later read a different name than the one checked.
bool alsUtf8(const QByteArray& roh, QString& text)
{
    QTextCodec::ConverterState zustand(QTextCodec::ConvertInvalidToNull);
    text = QTextCodec::codecForMib(106)->toUnicode(roh.constData(), roh.size(), &zustand);
    return zustand.invalidChars == 0 && zustand.remainingChars == 0;
}

// A name fit for a log line: control characters written as \xNN.
QString anzeigeName(const QString& name)
{
    QString text;
    for (const QChar c : name) {
        if (c.unicode() < 0x20 || c.unicode() == 0x7f)
            text += QStringLiteral("\\x%1").arg(c.unicode(), 2, 16, QLatin1Char('0'));
        else
            text += c;
    }
    return text.size() > 200 ? text.left(200) + QStringLiteral("...") : text;
}

QString systemFehler()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}

enum class Art { fehlt, datei, ordner, verweis, anderes };

Art artVon(const QString& pfad, struct stat* st = nullptr)
{
    struct stat s {};
    if (::lstat(QFile::encodeName(pfad).constData(), &s) != 0)
        return Art::fehlt;
    if (st)
        *st = s;
    if (S_ISLNK(s.st_mode))
        return Art::verweis;
    if (S_ISDIR(s.st_mode))
        return Art::ordner;
    return S_ISREG(s.st_mode) ? Art::datei : Art::anderes;
}

// Waits until everything written to the file system holding `ordner` is on
// the disk: one call for all files instead of one fsync per file.
bool synchronisiere(const QString& ordner, QString& fehler)
{
    const int fd = ::open(QFile::encodeName(ordner).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0 || ::syncfs(fd) != 0) {
        fehler = systemFehler();
        if (fd >= 0)
            ::close(fd);
        return false;
    }
    ::close(fd);
    return true;
}

bool schreibeAlles(int fd, const char* daten, qint64 laenge)
{
    while (laenge > 0) {
        const ssize_t n = ::write(fd, daten, size_t(laenge));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        daten += n;
        laenge -= n;
    }
    return true;
}

struct ZielEintrag {
    zip_uint64_t index = 0;
    QString name; // relative, "/"-separated, without a trailing "/"
    bool ordner = false;
    qint64 groesse = 0;
    // The archive marks the file as a program (any execute bit of a Unix
    // mode). Only that bit is taken over: never setuid, setgid or a mode
    // that takes the other users' read right away.
    bool ausfuehrbar = false;
};

QString elternVon(const QString& name)
{
    const int i = name.lastIndexOf(QLatin1Char('/'));
    return i < 0 ? QString() : name.left(i);
}

// Every folder the entries need, parents before children, each once.
QStringList benoetigteOrdner(const QVector<ZielEintrag>& liste)
{
    QStringList ordner;
    QSet<QString> gesehen;
    for (const ZielEintrag& e : liste) {
        const QString basis = e.ordner ? e.name : elternVon(e.name);
        int pos = 0;
        while (!basis.isEmpty()) {
            const int j = basis.indexOf(QLatin1Char('/'), pos);
            const QString teil = j < 0 ? basis : basis.left(j);
            if (!gesehen.contains(teil)) {
                gesehen.insert(teil);
                ordner << teil;
            }
            if (j < 0)
                break;
            pos = j + 1;
        }
    }
    return ordner;
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
    // On the Windows side a colon names a second data stream of a file.
    if (name.contains(QLatin1Char(':')))
        return QStringLiteral("Doppelpunkt im Namen");
    if (name.toUtf8().size() > maxNamenBytes)
        return QStringLiteral("Name l\u00e4nger als %1 Bytes").arg(maxNamenBytes);
    const QStringList teile = name.split(QLatin1Char('/'));
    for (int i = 0; i < teile.size(); ++i) {
        const QString& teil = teile[i];
        if (teil == QLatin1String(".."))
            return QStringLiteral("\"..\" im Pfad");
        if (teil == QLatin1String("."))
            return QStringLiteral("\".\" im Pfad");
        // Only a folder entry ends in "/"; "a//b" would be a second name for "a/b".
        if (teil.isEmpty() && i != teile.size() - 1)
            return QStringLiteral("leerer Pfadteil");
        if (teil.toUtf8().size() > maxTeilBytes)
            return QStringLiteral("Namensteil l\u00e4nger als %1 Bytes").arg(maxTeilBytes);
    }
    if (teile.first().startsWith(QLatin1String(zwischenPraefix)))
        return QStringLiteral("reservierter Name");
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

namespace {
std::function<void(const QString&)>& zugBeobachter()
{
    static std::function<void(const QString&)> beobachter;
    return beobachter;
}
} // namespace

void ZipArchiv::setzeZugBeobachter(std::function<void(const QString&)> beobachter)
{
    zugBeobachter() = std::move(beobachter);
}

bool ZipArchiv::entpacke(const QString& ziel, const std::function<void(qint64, qint64)>& fortschritt)
{
    if (!m_zip)
        return fehler(QStringLiteral("Kein Archiv ge\u00f6ffnet."));

    // 1. Names, kinds, methods and sizes of every entry; nothing touched yet.
    const zip_int64_t anzahl = zip_get_num_entries(m_zip, 0);
    if (anzahl < 0 || anzahl > maxEintraege)
        return fehler(QStringLiteral("Das Archiv %1 hat %2 Eintr\u00e4ge; entpackt werden h\u00f6chstens %3.")
                          .arg(m_pfad).arg(anzahl).arg(maxEintraege));
    QVector<ZielEintrag> liste;
    liste.reserve(int(anzahl));
    QHash<QString, bool> belegt; // case-folded name -> is a folder (Windows sees one file)
    auto unzulaessig = [this](const QString& name, const QString& grund) {
        return fehler(QStringLiteral("Das Archiv %1 enth\u00e4lt einen unzul\u00e4ssigen Eintrag \"%2\" (%3).")
                          .arg(m_pfad, anzeigeName(name), grund));
    };
    for (zip_int64_t i = 0; i < anzahl; ++i) {
        const zip_uint64_t index = zip_uint64_t(i);
        const char* roh = zip_get_name(m_zip, index, ZIP_FL_ENC_RAW);
        if (!roh)
            return fehler(QStringLiteral("Der Name des Eintrags %1 in %2 ist nicht lesbar: %3").arg(i).arg(m_pfad, zipFehler(m_zip)));
        QString name;
        if (!alsUtf8(QByteArray(roh), name))
            return unzulaessig(QString::fromUtf8(roh), QStringLiteral("keine g\u00fcltige UTF-8-Kodierung"));
        const QString grund = pruefeName(name);
        if (!grund.isEmpty())
            return unzulaessig(name, grund);
        if (istVerweis(qint64(i)))
            return fehler(QStringLiteral("Das Archiv %1 enth\u00e4lt einen Verweis \"%2\"; Verweise werden nicht entpackt.")
                              .arg(m_pfad, anzeigeName(name)));
        zip_stat_t st;
        if (zip_stat_index(m_zip, index, 0, &st) != 0 || !(st.valid & ZIP_STAT_SIZE) || !(st.valid & ZIP_STAT_COMP_SIZE))
            return unzulaessig(name, QStringLiteral("Gr\u00f6\u00dfe unbekannt"));
        if ((st.valid & ZIP_STAT_ENCRYPTION_METHOD) && st.encryption_method != ZIP_EM_NONE)
            return unzulaessig(name, QStringLiteral("verschl\u00fcsselt"));
        if ((st.valid & ZIP_STAT_COMP_METHOD) && !zip_compression_method_supported(st.comp_method, 0))
            return unzulaessig(name, QStringLiteral("Kompressionsverfahren %1 nicht unterst\u00fctzt").arg(st.comp_method));
        ZielEintrag e;
        e.index = index;
        e.ordner = name.endsWith(QLatin1Char('/'));
        e.name = e.ordner ? name.chopped(1) : name;
        e.groesse = e.ordner ? 0 : qint64(qMin<zip_uint64_t>(st.size, zip_uint64_t(std::numeric_limits<qint64>::max())));
        zip_uint8_t os = 0;
        zip_uint32_t attribute = 0;
        e.ausfuehrbar = !e.ordner && zip_file_get_external_attributes(m_zip, index, 0, &os, &attribute) == 0
                        && hatUnixModus(os) && ((attribute >> 16) & 0111) != 0;
        if (!e.ordner && st.size > maxVerhaeltnis * st.comp_size + verhaeltnisSockel)
            return unzulaessig(name, QStringLiteral("Kompressionsverh\u00e4ltnis \u00fcber %1:1").arg(maxVerhaeltnis));
        const QString schluessel = e.name.toCaseFolded();
        for (int j = schluessel.indexOf(QLatin1Char('/')); j >= 0; j = schluessel.indexOf(QLatin1Char('/'), j + 1)) {
            const auto eltern = belegt.constFind(schluessel.left(j));
            if (eltern != belegt.constEnd() && !eltern.value())
                return unzulaessig(name, QStringLiteral("liegt unter einer Datei des Archivs"));
            belegt.insert(schluessel.left(j), true);
        }
        const auto vorher = belegt.constFind(schluessel);
        if (vorher != belegt.constEnd() && !(vorher.value() && e.ordner))
            return unzulaessig(name, vorher.value() || e.ordner ? QStringLiteral("Datei und Ordner zugleich")
                                                                 : QStringLiteral("Name doppelt vorhanden"));
        belegt.insert(schluessel, e.ordner);
        liste << e;
    }
    belegt.clear();
    const QStringList ordner = benoetigteOrdner(liste);

    // 2. What lies in the target already: no write through a link that
    // leaves it, no folder replaced by a file, no file by a folder.
    const QFileInfo zielInfo(ziel);
    if (zielInfo.exists() && !zielInfo.isDir())
        return fehler(QStringLiteral("Das Ziel %1 ist kein Verzeichnis.").arg(ziel));
    if (zielInfo.exists()) {
        const QString wurzel = zielInfo.canonicalFilePath();
        for (const QString& o : ordner) {
            const QString pfad = wurzel + QLatin1Char('/') + o;
            const Art art = artVon(pfad);
            if (art == Art::verweis && (!bleibtInnerhalb(pfad, wurzel) || !QFileInfo(pfad).isDir()))
                return fehler(QStringLiteral("Der Eintrag \"%1\" w\u00fcrde au\u00dferhalb von %2 geschrieben.").arg(anzeigeName(o), ziel));
            if (art == Art::datei || art == Art::anderes)
                return fehler(QStringLiteral("Das Archiv %1 w\u00fcrde die Datei %2 durch einen Ordner ersetzen.").arg(m_pfad, pfad));
        }
        for (const ZielEintrag& e : qAsConst(liste)) {
            const QString pfad = wurzel + QLatin1Char('/') + e.name;
            const Art art = e.ordner ? Art::fehlt : artVon(pfad);
            if (art == Art::ordner)
                return fehler(QStringLiteral("Das Archiv %1 w\u00fcrde den Ordner %2 durch eine Datei ersetzen.").arg(m_pfad, pfad));
            if (art == Art::anderes)
                return fehler(QStringLiteral("Das Archiv %1 w\u00fcrde %2 ersetzen, das keine gew\u00f6hnliche Datei ist.").arg(m_pfad, pfad));
        }
    }

    // 3. Every file into the staging folder, read to its end (CRC, size).
    QStringList zielAngelegt; // levels of `ziel` made here, deepest first
    for (QString p = QDir::cleanPath(zielInfo.absoluteFilePath()); !QFileInfo::exists(p) && p != QDir::rootPath();
         p = QFileInfo(p).absolutePath())
        zielAngelegt << p;
    auto entferneZiel = [&zielAngelegt] {
        for (const QString& p : qAsConst(zielAngelegt))
            QDir().rmdir(p);
    };
    if (!QDir().mkpath(ziel))
        return fehler(QStringLiteral("Das Verzeichnis %1 kann nicht angelegt werden.").arg(ziel));
    const QString wurzel = QFileInfo(ziel).canonicalFilePath();
    // Left by a run that died: never moved, not part of the installation.
    const QStringList reste = QDir(wurzel).entryList({ QLatin1String(zwischenPraefix) + QLatin1Char('*') },
                                                     QDir::Dirs | QDir::Hidden | QDir::NoSymLinks | QDir::NoDotAndDotDot);
    for (const QString& rest : reste)
        QDir(wurzel + QLatin1Char('/') + rest).removeRecursively();
    QTemporaryDir zwischenDir(wurzel + QLatin1Char('/') + QLatin1String(zwischenPraefix) + QStringLiteral("XXXXXX"));
    if (!zwischenDir.isValid()) {
        entferneZiel();
        return fehler(QStringLiteral("Im Verzeichnis %1 kann kein Zwischenordner angelegt werden: %2").arg(ziel, zwischenDir.errorString()));
    }
    const QString neu = zwischenDir.path() + QStringLiteral("/neu/");
    const QString alt = zwischenDir.path() + QStringLiteral("/alt/");
    auto scheitere = [&](const QString& text) {
        zwischenDir.remove();
        entferneZiel();
        return fehler(text);
    };
    if (!QDir().mkpath(neu) || !QDir().mkpath(alt))
        return scheitere(QStringLiteral("Der Zwischenordner %1 kann nicht angelegt werden.").arg(zwischenDir.path()));
    for (const QString& o : ordner) {
        if (::mkdir(QFile::encodeName(neu + o).constData(), 0755) != 0)
            return scheitere(QStringLiteral("Das Verzeichnis %1 kann nicht angelegt werden: %2").arg(neu + o, systemFehler()));
    }

    qint64 gesamt = 0;
    for (const ZielEintrag& e : qAsConst(liste))
        gesamt += e.groesse;
    qint64 geschrieben = 0;
    QByteArray puffer(int(stueckGroesse), Qt::Uninitialized);
    for (const ZielEintrag& e : qAsConst(liste)) {
        if (e.ordner)
            continue;
        const QString pfad = neu + e.name;
        zip_file_t* datei = zip_fopen_index(m_zip, e.index, 0);
        if (!datei)
            return scheitere(QStringLiteral("Der Eintrag \"%1\" kann nicht gelesen werden: %2").arg(anzeigeName(e.name), zipFehler(m_zip)));
        const mode_t modus = e.ausfuehrbar ? 0755 : 0644;
        const int fd = ::open(QFile::encodeName(pfad).constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, modus);
        // Installed files are for every user of the suite, whatever our umask.
        QString problem = fd < 0 || ::fchmod(fd, modus) != 0
                              ? QStringLiteral("Die Datei %1 kann nicht geschrieben werden: %2").arg(pfad, systemFehler())
                              : QString();
        qint64 bisher = 0;
        while (problem.isEmpty()) {
            const zip_int64_t n = zip_fread(datei, puffer.data(), zip_uint64_t(puffer.size()));
            if (n < 0) {
                problem = QStringLiteral("Der Eintrag \"%1\" ist besch\u00e4digt: %2")
                              .arg(anzeigeName(e.name), QString::fromLocal8Bit(zip_file_strerror(datei)));
            } else if (n == 0) {
                if (bisher != e.groesse)
                    problem = QStringLiteral("Der Eintrag \"%1\" ist besch\u00e4digt: %2 statt der angegebenen %3 Bytes.")
                                  .arg(anzeigeName(e.name)).arg(bisher).arg(e.groesse);
                break;
            } else if (bisher + n > e.groesse) {
                // The declared size is the limit, whatever the data would unfold to.
                problem = QStringLiteral("Der Eintrag \"%1\" ist besch\u00e4digt: mehr Daten als die angegebenen %2 Bytes.")
                              .arg(anzeigeName(e.name)).arg(e.groesse);
            } else if (!schreibeAlles(fd, puffer.constData(), n)) {
                problem = QStringLiteral("Die Datei %1 kann nicht geschrieben werden: %2").arg(pfad, systemFehler());
            } else {
                bisher += n;
                geschrieben += n;
                if (fortschritt)
                    fortschritt(geschrieben, gesamt);
            }
        }
        zip_fclose(datei);
        if (fd >= 0) {
            // Start the write-back now; one syncfs below waits for all files.
            if (problem.isEmpty())
                ::sync_file_range(fd, 0, 0, SYNC_FILE_RANGE_WRITE);
            if (::close(fd) != 0 && problem.isEmpty())
                problem = QStringLiteral("Die Datei %1 kann nicht geschrieben werden: %2").arg(pfad, systemFehler());
        }
        if (!problem.isEmpty())
            return scheitere(problem);
    }
    QString grund;
    if (!synchronisiere(zwischenDir.path(), grund))
        return scheitere(QStringLiteral("Die entpackten Dateien k\u00f6nnen nicht gespeichert werden: %1").arg(grund));

    // 4. Into place. Each replaced file goes to the staging folder first, so
    // a failed move can put back every file moved before it.
    struct Zug {
        QString ziel;
        QString sicherung; // empty: no file was there before
    };
    QVector<Zug> erledigt;
    QStringList neueOrdner;
    auto rueckgaengig = [&](const QString& text) {
        QStringList offen;
        for (int i = erledigt.size() - 1; i >= 0; --i) {
            const Zug& z = erledigt[i];
            const bool ok = z.sicherung.isEmpty() ? ::unlink(QFile::encodeName(z.ziel).constData()) == 0
                                                  : Plattform::ersetzeDatei(z.sicherung, z.ziel);
            if (!ok)
                offen << z.ziel;
        }
        for (int i = neueOrdner.size() - 1; i >= 0; --i)
            QDir().rmdir(neueOrdner[i]);
        if (offen.isEmpty())
            return scheitere(text + QStringLiteral(" Alle bis dahin ersetzten Dateien wurden wiederhergestellt."));
        // The old files stay where they are, for a person or a later run.
        zwischenDir.setAutoRemove(false);
        return fehler(text + QStringLiteral(" %1 Dateien konnten nicht wiederhergestellt werden (zuerst %2); ihre alte Fassung liegt in %3.")
                                 .arg(offen.size()).arg(offen.first(), alt));
    };
    for (const QString& o : ordner) {
        const QString pfad = wurzel + QLatin1Char('/') + o;
        const Art art = artVon(pfad);
        if (art == Art::fehlt) {
            if (::mkdir(QFile::encodeName(pfad).constData(), 0755) != 0)
                return rueckgaengig(QStringLiteral("Das Verzeichnis %1 kann nicht angelegt werden: %2").arg(pfad, systemFehler()));
            neueOrdner << pfad;
        } else if (art != Art::ordner && !(art == Art::verweis && bleibtInnerhalb(pfad, wurzel) && QFileInfo(pfad).isDir())) {
            return rueckgaengig(QStringLiteral("Das Verzeichnis %1 kann nicht angelegt werden: dort liegt etwas anderes.").arg(pfad));
        }
    }
    // The dictionaries last: a part's dictionary names its revision and the
    // files that belong to it, so until every file is in place the old one
    // stays, and a run stopped in between leaves a part that says what it
    // was and fails its verification, rather than one that claims the new
    // revision over old files.
    QVector<int> reihenfolge;
    reihenfolge.reserve(liste.size());
    for (int i = 0; i < liste.size(); ++i)
        reihenfolge << i;
    std::stable_partition(reihenfolge.begin(), reihenfolge.end(), [&liste](int i) {
        return !liste[i].name.startsWith(QLatin1String("dict/"), Qt::CaseInsensitive);
    });
    QByteArray bereit;
    for (const int i : qAsConst(reihenfolge)) {
        if (!liste[i].ordner)
            bereit += liste[i].name.toUtf8() + '\n';
    }
    if (!Plattform::haengeDauerhaftAn(zwischenDir.path() + QLatin1Char('/') + QLatin1String(bereitName), bereit, &grund))
        return rueckgaengig(QStringLiteral("Die Liste der Dateien kann nicht gespeichert werden: %1").arg(grund));
    for (const int i : qAsConst(reihenfolge)) {
        const ZielEintrag& e = liste[i];
        if (e.ordner)
            continue;
        const QString quelle = neu + e.name;
        const QString pfad = wurzel + QLatin1Char('/') + e.name;
        struct stat st {};
        const Art art = artVon(pfad, &st);
        if (art == Art::ordner || art == Art::anderes)
            return rueckgaengig(QStringLiteral("Die Datei %1 kann nicht ersetzt werden: dort liegt keine gew\u00f6hnliche Datei.").arg(pfad));
        if (zugBeobachter())
            zugBeobachter()(e.name);
        Zug zug { pfad, QString() };
        if (art != Art::fehlt) {
            if (art == Art::datei) {
                // The replaced file's rights stay; a program stays executable
                // for whoever may read it.
                mode_t modus = st.st_mode & 07777;
                if (e.ausfuehrbar)
                    modus |= (modus & 0444) >> 2;
                ::chmod(QFile::encodeName(quelle).constData(), modus);
            }
            zug.sicherung = alt + QString::number(i);
            if (!Plattform::ersetzeDatei(pfad, zug.sicherung, &grund))
                return rueckgaengig(QStringLiteral("Die Datei %1 kann nicht ersetzt werden: %2.").arg(pfad, grund));
        }
        if (!Plattform::ersetzeDatei(quelle, pfad, &grund)) {
            if (!zug.sicherung.isEmpty() && !Plattform::ersetzeDatei(zug.sicherung, pfad))
                erledigt << Zug { pfad, zug.sicherung };
            return rueckgaengig(QStringLiteral("Die Datei %1 kann nicht ersetzt werden: %2.").arg(pfad, grund));
        }
        erledigt << zug;
    }
    // The renames themselves reach the disk before the old files are dropped.
    if (!synchronisiere(wurzel, grund))
        return rueckgaengig(QStringLiteral("Die entpackten Dateien k\u00f6nnen nicht gespeichert werden: %1").arg(grund));
    zwischenDir.remove();
    return true;
}

int ZipArchiv::vollendeZuege(const QString& ziel, QStringList& fehler)
{
    const QString wurzel = QFileInfo(ziel).canonicalFilePath();
    if (wurzel.isEmpty())
        return 0;
    int bewegt = 0;
    const QStringList reste = QDir(wurzel).entryList({ QLatin1String(zwischenPraefix) + QLatin1Char('*') },
                                                     QDir::Dirs | QDir::Hidden | QDir::NoSymLinks | QDir::NoDotAndDotDot);
    for (const QString& rest : reste) {
        const QString zwischen = wurzel + QLatin1Char('/') + rest;
        const QString liste = zwischen + QLatin1Char('/') + QLatin1String(bereitName);
        // Without the list the files may be incomplete: nothing was moved.
        if (artVon(liste) != Art::datei)
            continue;
        QFile f(liste);
        if (f.size() > maxBereitGroesse || !f.open(QIODevice::ReadOnly)) {
            fehler << QStringLiteral("Die Liste %1 ist nicht lesbar.").arg(liste);
            continue;
        }
        const QList<QByteArray> zeilen = f.readAll().split('\n');
        for (const QByteArray& zeile : zeilen) {
            if (zeile.isEmpty())
                continue;
            QString name;
            if (!alsUtf8(zeile, name) || !pruefeName(name).isEmpty() || name.endsWith(QLatin1Char('/'))) {
                fehler << QStringLiteral("Der Eintrag \"%1\" der Liste %2 wird abgelehnt.").arg(anzeigeName(name), liste);
                continue;
            }
            const QString quelle = zwischen + QStringLiteral("/neu/") + name;
            if (artVon(quelle) != Art::datei)
                continue; // moved before the crash
            const QString pfad = wurzel + QLatin1Char('/') + name;
            const QString eltern = QFileInfo(pfad).absolutePath();
            const Art art = artVon(pfad);
            QString grund;
            if (!QFileInfo(eltern).isDir() || !bleibtInnerhalb(eltern, wurzel) || art == Art::ordner || art == Art::anderes)
                fehler << QStringLiteral("Die Datei %1 kann nicht ersetzt werden: dort liegt keine gew\u00f6hnliche Datei.").arg(pfad);
            else if (!Plattform::ersetzeDatei(quelle, pfad, &grund))
                fehler << QStringLiteral("Die Datei %1 kann nicht ersetzt werden: %2.").arg(pfad, grund);
            else
                ++bewegt;
        }
    }
    QString grund;
    if (bewegt > 0 && !synchronisiere(wurzel, grund))
        fehler << QStringLiteral("Die Dateien in %1 k\u00f6nnen nicht gespeichert werden: %2").arg(wurzel, grund);
    return bewegt;
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
        const zip_int64_t nr = quelle ? zip_file_add(z, d.second.toUtf8().constData(), quelle, ZIP_FL_OVERWRITE | ZIP_FL_ENC_UTF_8) : -1;
        // Programs keep their execute bit in the archive's Unix mode.
        struct stat st {};
        if (nr >= 0 && ::stat(QFile::encodeName(d.first).constData(), &st) == 0)
            zip_file_set_external_attributes(z, zip_uint64_t(nr), 0, ZIP_OPSYS_UNIX,
                                             zip_uint32_t((S_IFREG | (st.st_mode & 0755)) << 16));
        if (nr < 0) {
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
