#pragma once
// The settings dialog of the wizard. Loads when created and writes only when
// the user confirms with OK.

#include "dialoge/dialogvorlage.h"

class EinstellungsWidget;

class EinstellungsDialog : public DialogVorlage
{
    Q_OBJECT
public:
    explicit EinstellungsDialog(QWidget* parent = nullptr);

    EinstellungsWidget* gibEinstellungsWidget() const { return m_einstellungsWidget; }

public slots:
    // Checks the entries, saves and closes; incomplete entries get a warning
    // and keep the dialog open.
    void schliesseMitOk();
    // The OK button of the template arrives here.
    void accept() override;
    void slotF1Hilfe();

private:
    EinstellungsWidget* m_einstellungsWidget;
};
