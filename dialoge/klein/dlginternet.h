#pragma once
// The consent to internet access before the manager contacts the update
// server. It only reports the user's choice; the caller stores it.

#include "dialoge/dialogvorlage.h"

#include <QDialogButtonBox>

class DlgInternet : public DialogVorlage
{
    Q_OBJECT
public:
    enum Antwort { Nein = 0, JaEinmalig = 1, JaImmer = 2 };

    explicit DlgInternet(QWidget* parent = nullptr);

    // exec() returns 1 (Accepted) for "Ja, einmalig", 0 (Rejected) for "Nein"
    // and for closing the window, and QDialogButtonBox::YesRole (5) for
    // "Ja, immer". gibButtonRolle() gives the role of the button that closed
    // the dialog (RejectRole when the window was closed another way).
    Antwort gibAntwort() const { return m_antwort; }
    QDialogButtonBox::ButtonRole gibButtonRolle() const { return m_rolle; }

    QPushButton* gibJaImmerKnopf() const { return m_btnJaImmer; }
    QPushButton* gibJaEinmaligKnopf() const { return btnOk; }
    QPushButton* gibNeinKnopf() const { return btnAbbrechen; }

public slots:
    void slotJaImmer();
    void accept() override;
    void reject() override;

private:
    QPushButton* m_btnJaImmer;
    Antwort m_antwort = Nein;
    QDialogButtonBox::ButtonRole m_rolle = QDialogButtonBox::RejectRole;
};
