#pragma once
// The pages of the settings dialog; today only the proxy page.

#include <QWidget>

class QTabWidget;
class AnsichtProxyOptionen;

class EinstellungsWidget : public QWidget
{
    Q_OBJECT
public:
    explicit EinstellungsWidget(QWidget* parent = nullptr);

    AnsichtProxyOptionen* gibProxyOptionen() const { return proxyOptionsWidget; }
    QTabWidget* gibTabWidget() const { return einstellungen_TabWidget; }

private:
    QTabWidget* einstellungen_TabWidget;
    AnsichtProxyOptionen* proxyOptionsWidget;
};
