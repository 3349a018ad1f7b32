#pragma once
// The proxy page: no proxy, automatic detection, the administrator's proxy or
// a manual one. Reads tavo.ini and kora.ini when loaded and writes them only
// in speichern(), that is when the user confirms the dialog.

#include <QWidget>

class QButtonGroup;
class QLabel;
class QRadioButton;
class AnsichtProxyEinstellung;
class AnsichtProxyAdminEinstellung;

class AnsichtProxyOptionen : public QWidget
{
    Q_OBJECT
public:
    enum Wahl { KeinProxy = 0, Automatisch = 1, AdminProxy = 2, KoraProxy = 3 };

    explicit AnsichtProxyOptionen(QWidget* parent = nullptr);

    void laden();
    // False when a value could not be stored (logged by the settings).
    bool speichern();
    // False, with the warning to show, when the chosen proxy's address or port is not complete.
    bool pruefeEingaben(QString& meldung) const;

    Wahl gibWahl() const;
    void setzeWahl(Wahl wahl);
    QRadioButton* gibKnopf(Wahl wahl) const;
    AnsichtProxyEinstellung* gibKoraEinstellung() const { return m_ansichtKoraProxyEinstellung; }
    AnsichtProxyAdminEinstellung* gibAdminEinstellung() const { return m_ansichtAdminProxyEinstellung; }

public slots:
    void optionsBoxClicked();

signals:
    void aufAlleAnwenderAnwendenGeaendert(bool ja);

private:
    void ladeKoraWerte();
    void ladeAdminWerte();

    QLabel* m_lblProxyUeberschrift;
    QRadioButton* m_rbnKeinProxy;
    QRadioButton* m_rbnAutomatischeProxyErkennung;
    QRadioButton* m_rbnAdminProxy;
    QRadioButton* m_rbnKoraProxy;
    QButtonGroup* m_gruppe;
    AnsichtProxyEinstellung* m_ansichtKoraProxyEinstellung;
    AnsichtProxyAdminEinstellung* m_ansichtAdminProxyEinstellung;
    // The user's edits survive switching between the buttons: each block is
    // filled from the files once.
    bool mb_koraGeladen = false;
    bool mb_adminGeladen = false;
};
