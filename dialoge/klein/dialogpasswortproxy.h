#pragma once
// Asks for the user name and password a proxy server demands. From the
// second attempt on the title counts the attempts and a red notice says that
// the last entry was refused.

#include "dialoge/dialogvorlage.h"

class QLineEdit;

class DialogPasswortProxy : public DialogVorlage
{
    Q_OBJECT
public:
    DialogPasswortProxy(const QString& proxyHost, quint16 proxyPort, int versuch, QWidget* parent = nullptr);

    QString gibBenutzername() const { return m_benutzername; }
    QString gibPasswort() const { return m_passwort; }
    void setzeBenutzername(const QString& name);

    static QString titelFuer(int versuch);
    static QString inhaltFuer(const QString& proxyHost, quint16 proxyPort, int versuch);

public slots:
    // Takes the entries only when both are given; otherwise warns and stays open.
    void accept() override;

private:
    QLineEdit* edtBenutzername;
    QLineEdit* edtPasswort;
    QString m_benutzername;
    QString m_passwort;
};
