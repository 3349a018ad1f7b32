#include "dialoge/klein/dlginternet.h"

#include "dialoge/klein/groesse.h"
#include "dialoge/icons.h"
#include "global/varnelApplication/textausliteral.h"

#include <QPushButton>

DlgInternet::DlgInternet(QWidget* parent)
    : DialogVorlage(parent)
{
    setObjectName(QStringLiteral("dlgInternet"));
    setzeTitel(QStringLiteral("Suche nach Updates"));
    setzeIcon(QStringLiteral("frage"));
    zeigeHilfeKnopf(false);
    setzeInhalt(QStringLiteral("<p><b>Erlauben Sie den Zugriff auf das Internet?</b></p>"
                               "<html><head/><body><p>Hinweis:<br>Sie können unter &quot;Extras&quot; - "
                               "&quot;Einstellungen&quot; - &quot;Update&quot; einstellen,<br>wann nach Updates "
                               "gesucht wird.</p></body></html>"));

    m_btnJaImmer = new QPushButton(QStringLiteral("Ja, &immer"), this);
    m_btnJaImmer->setObjectName(QStringLiteral("btnJaImmer"));
    m_btnJaImmer->setIcon(Icons::gibIcon(QStringLiteral("ok_gelb")));
    m_btnJaImmer->setToolTip(textAusLiteral(
        "F&uuml;r Update und die Suche nach Updates wird der Zugriff auf das Internet dauerhaft erlaubt."));
    // The template's button handling ignores the yes role; the button has its own slot.
    btnBox->addButton(m_btnJaImmer, QDialogButtonBox::YesRole);
    btnOk->setText(QStringLiteral("Ja, einmalig"));
    // Both answers that allow the access carry a tick, the refusal a cross.
    btnOk->setIcon(Icons::gibIcon(QStringLiteral("ok")));
    btnOk->setToolTip(textAusLiteral("Der Zugriff auf das Internet wird nur dieses Mal erlaubt."));
    btnAbbrechen->setText(QStringLiteral("Nein"));
    btnAbbrechen->setIcon(Icons::gibIcon(QStringLiteral("schliessenHell")));
    btnAbbrechen->setToolTip(textAusLiteral("Der Zugriff auf das Internet wird nicht erlaubt."));
    connect(m_btnJaImmer, &QPushButton::clicked, this, &DlgInternet::slotJaImmer);
    // Wide enough for the hint's first line: its line break is meant to be the only one.
    setMinimumWidth(690);
    passeGroesseAn(this);
}

void DlgInternet::slotJaImmer()
{
    m_antwort = JaImmer;
    m_rolle = QDialogButtonBox::YesRole;
    done(int(QDialogButtonBox::YesRole));
}

void DlgInternet::accept()
{
    m_antwort = JaEinmalig;
    m_rolle = QDialogButtonBox::AcceptRole;
    DialogVorlage::accept();
}

void DlgInternet::reject()
{
    m_antwort = Nein;
    m_rolle = QDialogButtonBox::RejectRole;
    DialogVorlage::reject();
}
