#include "dialoge/einstellungen/einstellungsdialog.h"

#include "dialoge/einstellungen/ansichtproxyoptionen.h"
#include "dialoge/einstellungen/einstellungswidget.h"
#include "global/varnelApplication/logbase.h"
#include "global/varnelApplication/rueckfrage.h"
#include "global/varnelApplication/textausliteral.h"

#include <QLabel>
#include <QVBoxLayout>

EinstellungsDialog::EinstellungsDialog(QWidget* parent)
    : DialogVorlage(parent)
    , m_einstellungsWidget(new EinstellungsWidget(this))
{
    setObjectName(QStringLiteral("einstellungsDialog"));
    setzeTitel(QStringLiteral("Installationsverwaltung von Fiscalon"));
    setWindowTitle(QStringLiteral("Einstellungen"));
    setzeIcon(QStringLiteral("einstellungen"));
    // The pages are the content; the template's text area would only leave a gap.
    txtInhalt->hide();
    m_lblInhaltIcon->hide();
    setzeHilfeThema(QStringLiteral("einstellungenProxy"));
    gibZusatzLayout()->addWidget(m_einstellungsWidget);

    m_einstellungsWidget->gibProxyOptionen()->laden();
    adjustSize();
}

void EinstellungsDialog::accept()
{
    schliesseMitOk();
}

void EinstellungsDialog::schliesseMitOk()
{
    AnsichtProxyOptionen* proxy = m_einstellungsWidget->gibProxyOptionen();
    QString meldung;
    if (!proxy->pruefeEingaben(meldung)) {
        ::zeigeMeldung(windowTitle(), meldung, 2, 300, 200);
        return;
    }
    // Closing as accepted would tell the user the settings are in force.
    if (!proxy->speichern()) {
        ::zeigeMeldung(windowTitle(), textAusLiteral("<b>Die Einstellungen konnten nicht gespeichert werden.</b><br><br>"
                                                     "Details stehen in der Protokolldatei."), 2, 300, 200);
        return;
    }
    DialogVorlage::accept();
}

void EinstellungsDialog::slotF1Hilfe()
{
    slotF1HilfeTriggered();
}
