#pragma once
// One proxy entry block: address, port, user and password under a heading.

#include <QWidget>

class QLabel;
class QLineEdit;
class PortSpinBox;

class AnsichtProxyEinstellung : public QWidget
{
    Q_OBJECT
public:
    explicit AnsichtProxyEinstellung(QWidget* parent = nullptr);

    void setzeUeberschrift(const QString& text);
    // Fills the block; the password counts as unchanged afterwards.
    void setzeWerte(const QString& adresse, int port, const QString& benutzer, const QString& passwort);
    void leere();
    void setzeNurLesen(bool ja);
    bool istNurLesen() const { return mb_nurLesen; }

    // The address with blanks simplified.
    QString gibAdresse() const;
    int gibPort() const;
    QString gibBenutzer() const;
    QString gibPasswort() const;
    // Whether the user typed in the password field since the last setzeWerte.
    bool istPasswortGeaendert() const;
    // Address and port both acceptable to their element types.
    bool istVollstaendig() const;

private:
    QLabel* ueberschriftLabel;
    QLineEdit* adresseTextFeld;
    PortSpinBox* portSpinBox;
    QLineEdit* benutzerTextFeld;
    QLineEdit* passwortTextFeld;
    bool mb_nurLesen = false;
};
