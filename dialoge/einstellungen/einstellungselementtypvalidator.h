#pragma once
// The checks of the settings element types as Qt validators, so an entry
// field refuses what the type calls invalid while the user types.

#include "global/varnelApplication/einstellungselementtyp.h"

#include <QSharedPointer>
#include <QSpinBox>
#include <QValidator>

class EinstellungsElementTypValidator : public QValidator
{
    Q_OBJECT
public:
    EinstellungsElementTypValidator(QSharedPointer<const EinstellungsElementTyp> typ, QObject* parent = nullptr);

    State validate(QString& text, int& pos) const override;
    const EinstellungsElementTyp& typ() const { return *m_typ; }

    static State alsZustand(EinstellungsElementTyp::Ergebnis ergebnis);

private:
    QSharedPointer<const EinstellungsElementTyp> m_typ;
};

// A port entry: the spin box's own range check together with the port type,
// so ports below 80 cannot be confirmed either.
class PortSpinBox : public QSpinBox
{
    Q_OBJECT
public:
    explicit PortSpinBox(QWidget* parent = nullptr);
    QValidator::State validate(QString& text, int& pos) const override;

protected:
    // No port yet (0) shows as an empty field, not as a port number.
    QString textFromValue(int wert) const override;
    int valueFromText(const QString& text) const override;

private:
    PortEinstellungsTyp m_typ;
};
