#include "dialoge/klein/dialogfehlermessage.h"

#include "bauwerte.h"
#include "dialoge/klein/groesse.h"
#include "kontaktwerte.h"
#include "global/varnelApplication/textausliteral.h"

#include <QLabel>
#include <QPushButton>
#include <QTextBrowser>
#include <QTextDocument>
#include <QVBoxLayout>
#include <algorithm>
#include <memory>

namespace {

QTextBrowser* baueFeld(QWidget* eltern, const QString& name)
{
    auto* feld = new QTextBrowser(eltern);
    feld->setObjectName(name);
    feld->setReadOnly(true);
    feld->setOpenExternalLinks(false);
    feld->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    return feld;
}

// As high as the text needs at the dialog's width, within sensible bounds;
// longer texts scroll.
void passeHoeheAn(QTextBrowser* feld, int breite)
{
    // A copy: the field lays out its own document to its current width.
    std::unique_ptr<QTextDocument> dok(feld->document()->clone());
    dok->setTextWidth(breite - 2 * feld->frameWidth());
    const int hoehe = int(dok->size().height()) + 2 * feld->frameWidth() + 2;
    feld->setFixedHeight(std::clamp(hoehe, 40, 160));
}

QLabel* baueUeberschrift(QWidget* eltern, const QString& html)
{
    auto* lbl = new QLabel(html, eltern);
    lbl->setTextFormat(Qt::RichText);
    return lbl;
}

} // namespace

QString DialogFehlerMessage::ortTabelle(const QString& revision, const QString& funktion, const QString& datei,
                                        int zeile)
{
    // The table rows keep their padding blanks; the values are text, not markup.
    return QStringLiteral("<table>")
        + QStringLiteral("<tr><td>Revision:  </td><td>%1</td></tr>").arg(revision.toHtmlEscaped())
        + QStringLiteral("<tr><td>Funktion:  </td><td>%1</td></tr>").arg(funktion.toHtmlEscaped())
        + QStringLiteral("<tr><td>Datei:     </td><td>%1</td></tr>").arg(datei.toHtmlEscaped())
        + QStringLiteral("<tr><td>Zeile:     </td><td>%1</td></tr>").arg(zeile)
        + QStringLiteral("</table>");
}

QString DialogFehlerMessage::hotlineBlock()
{
    const QString tabelle = QStringLiteral("<table>"
                                           "<tr><td>Telefon:&nbsp;</td><td>%1</td></tr>"
                                           "<tr><td>E-Mail:&nbsp;</td><td><a href=\"mailto:%2\">%2</a></td></tr>"
                                           "</table>")
                                .arg(Kontaktwerte::hotlineTelefon().toHtmlEscaped(),
                                     Kontaktwerte::hotlineEmail().toHtmlEscaped());
    return QStringLiteral("<b>oder bei der VARNEL-Hotline</b>%1").arg(tabelle);
}

DialogFehlerMessage::DialogFehlerMessage(const QString& fehler, const QString& folge, const QString& funktion,
                                         const QString& datei, int zeile, QWidget* parent)
    : DialogVorlage(parent)
    , m_txtFehler(baueFeld(this, QStringLiteral("m_txtFehler")))
    , m_txtFolge(baueFeld(this, QStringLiteral("m_txtFolge")))
    , m_txtOrt(baueFeld(this, QStringLiteral("m_txtOrt")))
{
    setObjectName(QStringLiteral("dlgFehlerMessage"));
    setzeTitel(QStringLiteral("Entschuldigung! Ein Fehler ist aufgetreten."));
    setzeIcon(QStringLiteral("kritisch"));
    m_wgtTitel->setzeFarbe(QColor(QStringLiteral("tomato")).darker(125));
    // The three fields carry the content; the template's own text area stays empty.
    txtInhalt->hide();
    m_lblInhaltIcon->hide();
    zeigeHilfeKnopf(false);
    btnAbbrechen->hide();

    m_txtFehler->setHtml(textAusLiteral(fehler));
    m_txtFolge->setHtml(textAusLiteral(folge));
    m_txtOrt->setHtml(ortTabelle(Bauwerte::revision(), funktion, datei, zeile));

    auto* lblHilfe = new QLabel(this);
    lblHilfe->setObjectName(QStringLiteral("m_lblHilfe"));
    lblHilfe->setTextFormat(Qt::RichText);
    lblHilfe->setOpenExternalLinks(true);
    lblHilfe->setWordWrap(true);
    lblHilfe->setText(textAusLiteral("Hilfe finden Sie in den <a href=\"%1\">h&auml;ufig gestellten Fragen</a> "
                                     "auf unseren Internetseiten<br>")
                          .arg(Kontaktwerte::hilfeUrl().toHtmlEscaped())
                      + hotlineBlock());

    QVBoxLayout* z = gibZusatzLayout();
    z->setSpacing(4);
    z->addWidget(baueUeberschrift(this, QStringLiteral("<b>Fehlerbeschreibung:</b>")));
    z->addWidget(m_txtFehler);
    z->addWidget(baueUeberschrift(this, QStringLiteral("<b>Folge:</b>")));
    z->addWidget(m_txtFolge);
    z->addWidget(baueUeberschrift(this, QStringLiteral("<b>Diese Meldung wurde erzeugt in:</b>")));
    z->addWidget(m_txtOrt);
    z->addSpacing(6);
    z->addWidget(lblHilfe);

    const int breite = 540;
    for (QTextBrowser* feld : { m_txtFehler, m_txtFolge, m_txtOrt })
        passeHoeheAn(feld, breite - 24);
    setMinimumWidth(breite);
    passeGroesseAn(this);
}

QString DialogFehlerMessage::gibFehler() const { return m_txtFehler->toPlainText(); }
QString DialogFehlerMessage::gibFolge() const { return m_txtFolge->toPlainText(); }
QString DialogFehlerMessage::gibOrt() const { return m_txtOrt->toPlainText(); }
