#include "global/varnelApplication/textausliteral.h"

#include <QVector>
#include <utility>

namespace {

using Ersetzung = std::pair<QString, QString>;

const QVector<Ersetzung>& ersetzungen()
{
    // The order matters: "&amp;" goes last, so "&amp;uuml;" stays "&uuml;".
    static const QVector<Ersetzung> tabelle = {
        { QStringLiteral("&uuml;"), QStringLiteral("\u00fc") },
        { QStringLiteral("&auml;"), QStringLiteral("\u00e4") },
        { QStringLiteral("&ouml;"), QStringLiteral("\u00f6") },
        { QStringLiteral("&szlig;"), QStringLiteral("\u00df") },
        { QStringLiteral("&sect;"), QStringLiteral("\u00a7") },
        { QStringLiteral("&Uuml;"), QStringLiteral("\u00dc") },
        { QStringLiteral("&Auml;"), QStringLiteral("\u00c4") },
        { QStringLiteral("&Ouml;"), QStringLiteral("\u00d6") },
        { QStringLiteral("&eacute;"), QStringLiteral("\u00e9") },
        { QStringLiteral("&iacute;"), QStringLiteral("\u00ed") },
        { QStringLiteral("&Aring;"), QStringLiteral("\u00c5") },
        { QStringLiteral("&atilde;"), QStringLiteral("\u00e3") },
        { QStringLiteral("&ocirc;"), QStringLiteral("\u00f4") },
        { QStringLiteral("&ccedil;"), QStringLiteral("\u00e7") },
        // UTF-8 of s-cedilla read as Windows-1252.
        { QStringLiteral("\u00c5\u0178"), QStringLiteral("\u015f") },
        { QStringLiteral("\u00c5\u017e"), QStringLiteral("\u015e") },
        { QStringLiteral("&lt;"), QStringLiteral("<") },
        { QStringLiteral("&gt;"), QStringLiteral(">") },
        { QStringLiteral("&amp;"), QStringLiteral("&") },
    };
    return tabelle;
}

} // namespace

QString textAusLiteral(const QString& text)
{
    if (!text.contains(QLatin1Char('&')))
        return text;
    QString ergebnis = text;
    for (const Ersetzung& e : ersetzungen())
        ergebnis.replace(e.first, e.second);
    return ergebnis;
}

QString textAusLiteral(const char* literal)
{
    return textAusLiteral(QString::fromUtf8(literal));
}
