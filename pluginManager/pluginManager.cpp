#include "pluginManager/pluginManager.h"

#include "global/varnelApplication/logbase.h"

PluginManager::PluginManager(QObject* parent)
    : QObject(parent)
{
    IV_LOG_EINTRITT();
    IV_LOG_AUSTRITT();
}

PluginManager::~PluginManager() = default;
