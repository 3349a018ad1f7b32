#include "dialoge/einstellungen/ansichtproxyeinstellung.h"

#include "dialoge/einstellungen/einstellungselementtypvalidator.h"
#include "global/varnelApplication/textausliteral.h"

#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>

AnsichtProxyEinstellung::AnsichtProxyEinstellung(QWidget* parent)
    : QWidget(parent)
    , ueberschriftLabel(new QLabel(this))
    , adresseTextFeld(new QLineEdit(this))
    , portSpinBox(new PortSpinBox(this))
    , benutzerTextFeld(new QLineEdit(this))
    , passwortTextFeld(new QLineEdit(this))
{
    ueberschriftLabel->setObjectName(QStringLiteral("ueberschriftLabel"));
    ueberschriftLabel->setTextFormat(Qt::RichText);
    adresseTextFeld->setObjectName(QStringLiteral("adresseTextFeld"));
    portSpinBox->setObjectName(QStringLiteral("portSpinBox"));
    benutzerTextFeld->setObjectName(QStringLiteral("benutzerTextFeld"));
    passwortTextFeld->setObjectName(QStringLiteral("passwortTextFeld"));

    adresseTextFeld->setValidator(new EinstellungsElementTypValidator(
        QSharedPointer<const EinstellungsElementTyp>(new IPAdresseEinstellungsTyp), adresseTextFeld));
    passwortTextFeld->setEchoMode(QLineEdit::Password);
    portSpinBox->setMinimumWidth(70);

    adresseTextFeld->setToolTip(textAusLiteral(
        "Adresse des Proxy-Servers, der f&uuml;r den Zugriff auf das Internet verwendet werden soll."));
    portSpinBox->setToolTip(textAusLiteral(
        "Portnummer des Proxy-Servers, der f&uuml;r den Zugriff auf das Internet verwendet werden soll."));
    benutzerTextFeld->setToolTip(textAusLiteral(
        "Gegebenenfalls notwendiger Benutzername f&uuml;r den Zugriff auf den angegebenen Proxy-Server."));
    passwortTextFeld->setToolTip(textAusLiteral(
        "Gegebenenfalls notwendiges Passwort f&uuml;r den Zugriff auf den angegebenen Proxy-Server."));

    auto* gitter = new QGridLayout(this);
    gitter->setContentsMargins(20, 4, 0, 4);
    gitter->setHorizontalSpacing(8);
    const struct {
        const char* text;
        QWidget* feld;
        int zeile, spalte;
    } felder[] = { { "Adresse:", adresseTextFeld, 1, 0 },
                   { "Port:", portSpinBox, 1, 2 },
                   { "Benutzer:", benutzerTextFeld, 2, 0 },
                   { "Passwort:", passwortTextFeld, 2, 2 } };
    gitter->addWidget(ueberschriftLabel, 0, 0, 1, 4);
    for (const auto& f : felder) {
        auto* lbl = new QLabel(QString::fromUtf8(f.text), this);
        lbl->setBuddy(f.feld);
        gitter->addWidget(lbl, f.zeile, f.spalte);
        gitter->addWidget(f.feld, f.zeile, f.spalte + 1);
    }
    gitter->setColumnStretch(1, 3);
    gitter->setColumnStretch(3, 2);
}

void AnsichtProxyEinstellung::setzeUeberschrift(const QString& text)
{
    ueberschriftLabel->setText(text);
}

void AnsichtProxyEinstellung::setzeWerte(const QString& adresse, int port, const QString& benutzer,
                                         const QString& passwort)
{
    adresseTextFeld->setText(adresse);
    portSpinBox->setValue(port);
    benutzerTextFeld->setText(benutzer);
    passwortTextFeld->setText(passwort);
    passwortTextFeld->setModified(false);
}

void AnsichtProxyEinstellung::leere()
{
    setzeWerte(QString(), 0, QString(), QString());
}

void AnsichtProxyEinstellung::setzeNurLesen(bool ja)
{
    mb_nurLesen = ja;
    adresseTextFeld->setReadOnly(ja);
    portSpinBox->setReadOnly(ja);
    benutzerTextFeld->setReadOnly(ja);
    passwortTextFeld->setReadOnly(ja);
}

QString AnsichtProxyEinstellung::gibAdresse() const { return adresseTextFeld->text().simplified(); }
int AnsichtProxyEinstellung::gibPort() const { return portSpinBox->value(); }
QString AnsichtProxyEinstellung::gibBenutzer() const { return benutzerTextFeld->text(); }
QString AnsichtProxyEinstellung::gibPasswort() const { return passwortTextFeld->text(); }
bool AnsichtProxyEinstellung::istPasswortGeaendert() const { return passwortTextFeld->isModified(); }

bool AnsichtProxyEinstellung::istVollstaendig() const
{
    return IPAdresseEinstellungsTyp().istGueltig(gibAdresse())
        && PortEinstellungsTyp().istGueltig(portSpinBox->cleanText());
}
