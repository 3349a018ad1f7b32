#include "dialoge/dialogvorlage.h"

#include "dialoge/icons.h"
#include "dialoge/klein/hilfe.h"
#include "global/varnelApplication/rueckfrage.h"
#include "global/varnelApplication/textausliteral.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QLinearGradient>
#include <QPainter>
#include <QPushButton>
#include <QTextDocument>
#include <QVBoxLayout>
#include <algorithm>
#include <memory>

// ---- title strip --------------------------------------------------------

DialogVorlageTitelWidget::DialogVorlageTitelWidget(QWidget* parent)
    : QWidget(parent)
    , m_lblIcon(new QLabel(this))
    , m_lblText(new QLabel(this))
    , m_farbe(QColor(0x1f, 0x4e, 0x79))
{
    setObjectName(QStringLiteral("m_wgtTitel"));
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(12, 8, 12, 8);
    layout->setSpacing(10);
    m_lblIcon->setFixedSize(32, 32);
    m_lblText->setTextFormat(Qt::RichText);
    m_lblText->setWordWrap(true);
    QFont schrift = m_lblText->font();
    schrift.setBold(true);
    schrift.setPointSizeF(schrift.pointSizeF() * 1.15);
    m_lblText->setFont(schrift);
    QPalette p = m_lblText->palette();
    p.setColor(QPalette::WindowText, Qt::white);
    m_lblText->setPalette(p);
    layout->addWidget(m_lblIcon);
    layout->addWidget(m_lblText, 1);
    setMinimumHeight(48);
}

void DialogVorlageTitelWidget::setzeText(const QString& text) { m_lblText->setText(text); }
QString DialogVorlageTitelWidget::gibText() const { return m_lblText->text(); }
void DialogVorlageTitelWidget::setzeIcon(const QPixmap& pixmap) { m_lblIcon->setPixmap(pixmap); }

void DialogVorlageTitelWidget::setzeFarbe(const QColor& farbe)
{
    m_farbe = farbe;
    update();
}

void DialogVorlageTitelWidget::paintEvent(QPaintEvent*)
{
    QPainter maler(this);
    QLinearGradient verlauf(rect().topLeft(), rect().topRight());
    verlauf.setColorAt(0.0, m_farbe);
    verlauf.setColorAt(1.0, m_farbe.lighter(160));
    maler.fillRect(rect(), verlauf);
}

// ---- content ------------------------------------------------------------

InhaltTextBrowser::InhaltTextBrowser(QWidget* parent)
    : QTextBrowser(parent)
{
    setObjectName(QStringLiteral("txtInhalt"));
    setReadOnly(true);
    setOpenExternalLinks(true);
    setFrameShape(QFrame::NoFrame);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    QPalette p = palette();
    p.setColor(QPalette::Base, p.color(QPalette::Window));
    setPalette(p);
}

int InhaltTextBrowser::heightForWidth(int breite) const
{
    std::unique_ptr<QTextDocument> dok(document()->clone());
    dok->setTextWidth(std::max(1, breite - 2 * frameWidth() - 4));
    return int(dok->size().height()) + 2 * frameWidth() + 4;
}

QSize InhaltTextBrowser::sizeHint() const
{
    const int breite = 380;
    return QSize(breite, heightForWidth(breite));
}

QSize InhaltTextBrowser::minimumSizeHint() const
{
    return QSize(200, heightForWidth(380));
}

// ---- the template ---------------------------------------------------------

DialogVorlage::DialogVorlage(QWidget* parent)
    : QDialog(parent)
    , m_wgtTitel(new DialogVorlageTitelWidget(this))
    , m_lblInhaltIcon(new QLabel(this))
    , txtInhalt(new InhaltTextBrowser(this))
    , frmTrennerInhalt(new QFrame(this))
    , ckbNichtMehrAnzeigen(new QCheckBox(textAusLiteral("&Diesen Dialog in Zukunft nicht mehr anzeigen"), this))
    , btnBox(new QDialogButtonBox(this))
    , m_actF1Hilfe(new QAction(QStringLiteral("Hilfe"), this))
    , m_zusatz(new QVBoxLayout)
    , m_hilfeThema(QStringLiteral("hilfeBedienung"))
{
    setObjectName(QStringLiteral("dlgVorlage"));
    setWindowIcon(Icons::gibIcon(QStringLiteral("installationsverwaltung")));
    setWindowFlag(Qt::WindowContextHelpButtonHint, false);

    frmTrennerInhalt->setObjectName(QStringLiteral("frmTrennerInhalt"));
    frmTrennerInhalt->setFrameShape(QFrame::HLine);
    frmTrennerInhalt->setFrameShadow(QFrame::Sunken);

    ckbNichtMehrAnzeigen->setObjectName(QStringLiteral("ckbNichtMehrAnzeigen"));
    ckbNichtMehrAnzeigen->setToolTip(textAusLiteral(
        "Hier k&ouml;nnen Sie festlegen, da&szlig; der Dialog kein weiteres Mal angezeigt wird.<br><br>"
        "Sie k&ouml;nnen diese Entscheidung unter dem Men&uuml;punkt \"Extras\" - \"Einstellungen\" - \"Dialoge\" "
        "wieder r&uuml;ckg&auml;ngig machen."));
    ckbNichtMehrAnzeigen->hide();

    btnBox->setObjectName(QStringLiteral("btnBox"));
    btnBox->setStyleSheet(QStringLiteral("QDialogButtonBox{ button-layout:2 }"));
    btnHilfe = btnBox->addButton(QStringLiteral("&Hilfe"), QDialogButtonBox::HelpRole);
    btnHilfe->setObjectName(QStringLiteral("btnHilfe"));
    btnHilfe->setToolTip(textAusLiteral("Mit diesem Button k&ouml;nnen Sie die <b>Hilfe</b> zu diesem Dialog aufrufen."));
    btnOk = btnBox->addButton(QStringLiteral("OK"), QDialogButtonBox::AcceptRole);
    btnOk->setObjectName(QStringLiteral("btnOk"));
    btnOk->setToolTip(textAusLiteral("Mit diesem Button <b>best&auml;tigen</b> Sie die Angaben <b>und schlie&szlig;en</b> den Dialog."));
    btnOk->setDefault(true);
    btnAbbrechen = btnBox->addButton(QStringLiteral("&Abbrechen"), QDialogButtonBox::RejectRole);
    btnAbbrechen->setObjectName(QStringLiteral("btnAbbrechen"));
    // Every cancelling button looks the same, whichever dialog it is in.
    btnAbbrechen->setIcon(Icons::gibIcon(QStringLiteral("schliessenHell")));
    btnAbbrechen->setToolTip(textAusLiteral("Mit diesem Button brechen Sie den Vorgang ab und schlie&szlig;en den Dialog."));
    connect(btnBox, &QDialogButtonBox::clicked, this, &DialogVorlage::slotButtonBoxClicked);

    m_actF1Hilfe->setObjectName(QStringLiteral("m_actF1Hilfe"));
    m_actF1Hilfe->setShortcut(QKeySequence(Qt::Key_F1));
    m_actF1Hilfe->setShortcutContext(Qt::WindowShortcut);
    addAction(m_actF1Hilfe);
    connect(m_actF1Hilfe, &QAction::triggered, this, &DialogVorlage::slotF1HilfeTriggered);
    // Help button and F1 both end here; the viewer is looked up only when asked for.
    connect(this, &DialogVorlage::signalF1Hilfe, this, [](const QString& thema) { Hilfe::instanz().zeigeThema(thema); });

    m_lblInhaltIcon->setObjectName(QStringLiteral("lblInhaltIcon"));
    m_lblInhaltIcon->setAlignment(Qt::AlignTop | Qt::AlignHCenter);
    m_lblInhaltIcon->hide();

    auto* inhalt = new QHBoxLayout;
    inhalt->setContentsMargins(12, 10, 12, 4);
    inhalt->setSpacing(12);
    inhalt->addWidget(m_lblInhaltIcon, 0, Qt::AlignTop);
    inhalt->addWidget(txtInhalt, 1);

    auto* unten = new QVBoxLayout;
    unten->setContentsMargins(12, 0, 12, 10);
    unten->addLayout(m_zusatz);
    unten->addWidget(ckbNichtMehrAnzeigen);
    unten->addWidget(frmTrennerInhalt);
    unten->addWidget(btnBox);

    auto* haupt = new QVBoxLayout(this);
    haupt->setContentsMargins(0, 0, 0, 0);
    haupt->setSpacing(6);
    haupt->addWidget(m_wgtTitel);
    haupt->addLayout(inhalt, 1);
    haupt->addLayout(unten);
}

DialogVorlage::~DialogVorlage() = default;

void DialogVorlage::setzeTitel(const QString& titel)
{
    setWindowTitle(titel);
    m_wgtTitel->setzeText(titel);
}

void DialogVorlage::setzeIcon(const QString& iconName)
{
    m_wgtTitel->setzeIcon(Icons::gibPixmap(iconName, 32));
    m_lblInhaltIcon->setPixmap(Icons::gibPixmap(iconName, 48));
    m_lblInhaltIcon->show();
}

void DialogVorlage::setzeInhalt(const QString& html)
{
    txtInhalt->setHtml(html);
    txtInhalt->updateGeometry();
}

QString DialogVorlage::gibInhalt() const
{
    return txtInhalt->toPlainText();
}

void DialogVorlage::zeigeNichtMehrAnzeigen(bool ja)
{
    ckbNichtMehrAnzeigen->setVisible(ja);
}

bool DialogVorlage::istNichtMehrAnzeigenGewaehlt() const
{
    return ckbNichtMehrAnzeigen->isChecked();
}

void DialogVorlage::zeigeHilfeKnopf(bool ja)
{
    btnHilfe->setVisible(ja);
}

void DialogVorlage::slotF1HilfeTriggered()
{
    emit signalF1Hilfe(m_hilfeThema);
}

void DialogVorlage::slotButtonBoxClicked(QAbstractButton* knopf)
{
    switch (btnBox->buttonRole(knopf)) {
    case QDialogButtonBox::HelpRole:
        slotF1HilfeTriggered();
        break;
    case QDialogButtonBox::AcceptRole:
        accept();
        break;
    case QDialogButtonBox::RejectRole:
        reject();
        break;
    default:
        break;
    }
}

DialogVorlage* DialogVorlage::baueMeldung(const QString& titel, const QString& text, int art, int breite, int hoehe,
                                          const QString& textKnopf1, const QString& textKnopf2)
{
    auto* dlg = new DialogVorlage;
    dlg->setzeTitel(titel);
    dlg->setzeIcon(Icons::nameFuerArt(art));
    // Messages carry no help topic of their own.
    dlg->zeigeHilfeKnopf(false);
    const bool frage = (art == 4);
    dlg->btnOk->setText(!textKnopf1.isEmpty() ? textKnopf1 : (frage ? QStringLiteral("Ja") : QStringLiteral("OK")));
    dlg->btnAbbrechen->setText(!textKnopf2.isEmpty() ? textKnopf2
                                                     : (frage ? QStringLiteral("Nein") : QStringLiteral("Abbrechen")));
    if (frage)
        dlg->btnAbbrechen->setIcon(Icons::gibIcon(QStringLiteral("schliessenHell")));
    dlg->setzeInhalt(text);
    dlg->adjustSize();
    if (breite > 0 && hoehe > 0) {
        const QSize natuerlich = dlg->sizeHint();
        dlg->setMinimumSize(std::max(breite, natuerlich.width()), std::max(hoehe, natuerlich.height()));
        dlg->resize(dlg->minimumSize());
    }
    return dlg;
}

int DialogVorlage::fuehreAus(DialogVorlage* dlg)
{
    QApplication::setOverrideCursor(Qt::ArrowCursor);
    const int ergebnis = dlg->exec();
    QApplication::restoreOverrideCursor();
    return ergebnis == QDialog::Accepted ? 1 : 0;
}

int DialogVorlage::zeigeMeldung(const QString& titel, const QString& text, int art, int breite, int hoehe,
                                const QString& textKnopf1, const QString& textKnopf2)
{
    std::unique_ptr<DialogVorlage> dlg(baueMeldung(titel, text, art, breite, hoehe, textKnopf1, textKnopf2));
    return fuehreAus(dlg.get());
}

int DialogVorlage::zeigeMeldungAbschaltbar(const QString& titel, const QString& text, int art, int breite, int hoehe,
                                           const QString& textKnopf1, const QString& textKnopf2,
                                           const QString& iniDatei, const QString& schluessel)
{
    if (istMeldungAbgeschaltet(iniDatei, schluessel))
        return 1;
    std::unique_ptr<DialogVorlage> dlg(baueMeldung(titel, text, art, breite, hoehe, textKnopf1, textKnopf2));
    dlg->zeigeNichtMehrAnzeigen(true);
    const int ergebnis = fuehreAus(dlg.get());
    if (dlg->istNichtMehrAnzeigenGewaehlt())
        schalteMeldungAb(iniDatei, schluessel);
    return ergebnis;
}
