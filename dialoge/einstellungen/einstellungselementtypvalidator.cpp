#include "dialoge/einstellungen/einstellungselementtypvalidator.h"

#include <algorithm>

EinstellungsElementTypValidator::EinstellungsElementTypValidator(QSharedPointer<const EinstellungsElementTyp> typ,
                                                                 QObject* parent)
    : QValidator(parent)
    , m_typ(std::move(typ))
{
}

QValidator::State EinstellungsElementTypValidator::alsZustand(EinstellungsElementTyp::Ergebnis ergebnis)
{
    switch (ergebnis) {
    case EinstellungsElementTyp::Gueltig:
        return Acceptable;
    case EinstellungsElementTyp::Unfertig:
        return Intermediate;
    default:
        return Invalid;
    }
}

QValidator::State EinstellungsElementTypValidator::validate(QString& text, int&) const
{
    return alsZustand(m_typ->pruefe(text));
}

PortSpinBox::PortSpinBox(QWidget* parent)
    : QSpinBox(parent)
{
    setRange(0, 65535);
    setButtonSymbols(QAbstractSpinBox::NoButtons);
    setCorrectionMode(QAbstractSpinBox::CorrectToPreviousValue);
    setAccelerated(false);
}

QValidator::State PortSpinBox::validate(QString& text, int& pos) const
{
    const QValidator::State eigener = EinstellungsElementTypValidator::alsZustand(m_typ.pruefe(text));
    if (eigener == QValidator::Invalid)
        return eigener;
    return std::min(eigener, QSpinBox::validate(text, pos));
}

QString PortSpinBox::textFromValue(int wert) const
{
    return wert == 0 ? QString() : QString::number(wert);
}

int PortSpinBox::valueFromText(const QString& text) const
{
    return text.simplified().toInt();
}
