#pragma once
// The program's QApplication. The work that needs no widgets lives in
// VarnelKern; this class adds the main window that peers may bring to the front.

#include "global/varnelApplication/einstellungen.h"
#include "global/varnelApplication/varnelkern.h"

#include <QApplication>
#include <QPointer>
#include <QWidget>
#include <memory>

class VarnelApplication : public QApplication, public Einstellungen
{
    Q_OBJECT
public:
    VarnelApplication(const QString& name, int& argc, char** argv);
    ~VarnelApplication() override;

    VarnelKern& kern() { return *m_kern; }

    bool istAndereInstanzAktiv() const { return m_kern->istAndereInstanzAktiv(); }
    bool sendeAnfrageAnLaufendeInstanz(const QString& name, const QString& benutzer, const QStringList& argumente,
                                       bool aktivieren)
    {
        return m_kern->sendeAnfrageAnLaufendeInstanz(name, benutzer, argumente, aktivieren);
    }
    QString gibBenutzername() const { return m_kern->gibBenutzername(); }
    bool istEntwickler() const { return m_kern->istEntwickler(); }

    void setzeHauptfenster(QWidget* fenster) { hauptfenster = fenster; }
    QWidget* gibHauptfenster() const { return hauptfenster; }

signals:
    void dateiOeffnen(const QString& datei);
    void screenReaderModus();
    void externalApplicationWentOnline(const QString& appName, const QString& appMsg);
    void externalApplicationWentOffline(const QString& appName, const QString& appMsg);

public slots:
    void activateWindow();

private:
    std::unique_ptr<VarnelKern> m_kern;
    QPointer<QWidget> hauptfenster;
};
