#include "dialoge/einstellungen/ansichtproxyadmineinstellung.h"

#include "dialoge/einstellungen/ansichtproxyeinstellung.h"
#include "global/varnelApplication/textausliteral.h"

#include <QCheckBox>
#include <QVBoxLayout>

class AnsichtProxyAdminEinstellungImpl
{
public:
    explicit AnsichtProxyAdminEinstellungImpl(AnsichtProxyAdminEinstellung* q)
        : einstellung(new AnsichtProxyEinstellung(q))
        , ckbAufAlleAnwenderAnwenden(new QCheckBox(QStringLiteral("auf alle Anwender anwenden"), q))
        , ckbPruefungAusschalten(
              new QCheckBox(textAusLiteral("Pr&uuml;fung f&uuml;r die Proxyauthentifizierung ausschalten"), q))
    {
        einstellung->setObjectName(QStringLiteral("ansichtProxyEinstellung"));
        einstellung->setzeUeberschrift(QStringLiteral("Vorgaben des Administrators:"));
        ckbAufAlleAnwenderAnwenden->setObjectName(QStringLiteral("ckbAufAlleAnwenderAnwenden"));
        ckbPruefungAusschalten->setObjectName(QStringLiteral("ckbPruefungAusschalten"));

        auto* layout = new QVBoxLayout(q);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->addWidget(einstellung);
        auto* schalter = new QVBoxLayout;
        schalter->setContentsMargins(20, 0, 0, 0);
        schalter->addWidget(ckbAufAlleAnwenderAnwenden);
        schalter->addWidget(ckbPruefungAusschalten);
        layout->addLayout(schalter);
    }

    AnsichtProxyEinstellung* einstellung;
    QCheckBox* ckbAufAlleAnwenderAnwenden;
    QCheckBox* ckbPruefungAusschalten;
    bool bearbeitbar = true;
};

AnsichtProxyAdminEinstellung::AnsichtProxyAdminEinstellung(QWidget* parent)
    : QWidget(parent)
    , d(new AnsichtProxyAdminEinstellungImpl(this))
{
    connect(d->ckbAufAlleAnwenderAnwenden, &QCheckBox::toggled, this,
            &AnsichtProxyAdminEinstellung::aufAlleAnwenderAnwendenGeaendert);
    connect(d->ckbPruefungAusschalten, &QCheckBox::toggled, this,
            [this](bool aus) { emit proxyAuthentifizierungPruefenGeaendert(!aus); });
}

AnsichtProxyAdminEinstellung::~AnsichtProxyAdminEinstellung() = default;

AnsichtProxyEinstellung* AnsichtProxyAdminEinstellung::gibEinstellung() const { return d->einstellung; }

void AnsichtProxyAdminEinstellung::setzeBearbeitbar(bool ja)
{
    d->bearbeitbar = ja;
    d->ckbAufAlleAnwenderAnwenden->setEnabled(ja);
    d->ckbPruefungAusschalten->setEnabled(ja);
}

bool AnsichtProxyAdminEinstellung::istBearbeitbar() const { return d->bearbeitbar; }

bool AnsichtProxyAdminEinstellung::istAufAlleAnwenderAnwenden() const
{
    return d->ckbAufAlleAnwenderAnwenden->isChecked();
}

void AnsichtProxyAdminEinstellung::setzeAufAlleAnwenderAnwenden(bool ja)
{
    d->ckbAufAlleAnwenderAnwenden->setChecked(ja);
}

bool AnsichtProxyAdminEinstellung::istProxyAuthentifizierungPruefen() const
{
    return !d->ckbPruefungAusschalten->isChecked();
}

void AnsichtProxyAdminEinstellung::setzeProxyAuthentifizierungPruefen(bool ja)
{
    d->ckbPruefungAusschalten->setChecked(!ja);
}
