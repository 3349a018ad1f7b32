#pragma once
// The update engine: one per process, created by main and owned by it.

#include <QObject>

class PluginManager : public QObject
{
    Q_OBJECT
public:
    explicit PluginManager(QObject* parent = nullptr);
    ~PluginManager() override;

signals:
    void initialisiert();
};
