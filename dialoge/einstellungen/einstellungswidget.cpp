#include "dialoge/einstellungen/einstellungswidget.h"

#include "dialoge/einstellungen/ansichtproxyoptionen.h"

#include <QTabWidget>
#include <QVBoxLayout>

EinstellungsWidget::EinstellungsWidget(QWidget* parent)
    : QWidget(parent)
    , einstellungen_TabWidget(new QTabWidget(this))
{
    einstellungen_TabWidget->setObjectName(QStringLiteral("einstellungen_TabWidget"));
    auto* tab = new QWidget;
    tab->setObjectName(QStringLiteral("tab_Proxy"));
    proxyOptionsWidget = new AnsichtProxyOptionen(tab);
    proxyOptionsWidget->setObjectName(QStringLiteral("proxyOptionsWidget"));
    auto* tabLayout = new QVBoxLayout(tab);
    tabLayout->addWidget(proxyOptionsWidget);
    einstellungen_TabWidget->addTab(tab, QStringLiteral("Proxy"));

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(einstellungen_TabWidget);
}
