#pragma once
// The administrator's proxy: the entry block plus the two machine-wide
// switches. Editable only where the administrator allowed the dialog
// (tavo.ini "PROXY/AdminDialog"); otherwise it shows the values.

#include <QScopedPointer>
#include <QWidget>

class AnsichtProxyEinstellung;
class AnsichtProxyAdminEinstellungImpl;

class AnsichtProxyAdminEinstellung : public QWidget
{
    Q_OBJECT
public:
    explicit AnsichtProxyAdminEinstellung(QWidget* parent = nullptr);
    ~AnsichtProxyAdminEinstellung() override;

    AnsichtProxyEinstellung* gibEinstellung() const;

    void setzeBearbeitbar(bool ja);
    bool istBearbeitbar() const;

    bool istAufAlleAnwenderAnwenden() const;
    void setzeAufAlleAnwenderAnwenden(bool ja);
    // True when the proxy authentication is to be checked (the box says "ausschalten").
    bool istProxyAuthentifizierungPruefen() const;
    void setzeProxyAuthentifizierungPruefen(bool ja);

signals:
    void aufAlleAnwenderAnwendenGeaendert(bool ja);
    void proxyAuthentifizierungPruefenGeaendert(bool ja);

private:
    QScopedPointer<AnsichtProxyAdminEinstellungImpl> d;
};
