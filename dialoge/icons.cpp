#include "dialoge/icons.h"

#include <QBuffer>
#include <QFileInfo>
#include <QHash>
#include <QImageReader>

namespace Icons {

namespace {

QString svgPfad(const QString& name) { return QStringLiteral(":/iconSvg/%1.svg").arg(name); }

bool svgUnterstuetzt()
{
    static const bool ja = QImageReader::supportedImageFormats().contains("svg");
    return ja;
}

} // namespace

QIcon gibIcon(const QString& name)
{
    static QHash<QString, QIcon> cache;
    const auto it = cache.constFind(name);
    if (it != cache.constEnd())
        return it.value();

    if (!svgUnterstuetzt())
        qWarning("SVG-Icons nicht unterstuetzt!");
    QString pfad = svgPfad(name);
    if (!QFileInfo::exists(pfad)) {
        qWarning("Die Ressourcen-Datei %s existiert nicht!", qPrintable(pfad));
        pfad = svgUnterstuetzt() ? svgPfad(QStringLiteral("keinBild")) : QStringLiteral(":/iconSvg/keinBild.png");
    }
    const QIcon icon(pfad);
    cache.insert(name, icon);
    return icon;
}

QPixmap gibPixmap(const QString& name, int breite, int hoehe)
{
    return gibIcon(name).pixmap(breite, hoehe < 0 ? breite : hoehe);
}

QString gibHtmlBild(const QIcon& icon, int hoehe, int breite, const QString& titel)
{
    QByteArray png;
    QBuffer puffer(&png);
    puffer.open(QIODevice::WriteOnly);
    icon.pixmap(breite, hoehe).save(&puffer, "PNG");
    return QStringLiteral("<img src=\"data:image/png;base64,%1\" height=\"%2\" width=\"%3\" title=\"%4\"/>")
        .arg(QString::fromLatin1(png.toBase64()))
        .arg(hoehe)
        .arg(breite)
        .arg(titel);
}

QString gibHtmlBild(const QString& name, int hoehe, int breite, const QString& titel)
{
    return gibHtmlBild(gibIcon(name), hoehe, breite, titel);
}

QString nameFuerArt(int art)
{
    switch (art) {
    case 2: return QStringLiteral("warnung");
    case 3: return QStringLiteral("kritisch");
    case 4: return QStringLiteral("frage");
    default: return QStringLiteral("information");
    }
}

} // namespace Icons
