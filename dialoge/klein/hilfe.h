#pragma once
// Context help: shows a topic of the main application's help collection in
// Qt Assistant, which we start once and then remote-control over its standard
// input. Help is a convenience: whatever goes wrong is logged and the caller
// carries on.

#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>

class QProcess;

class Hilfe : public QObject
{
    Q_OBJECT
public:
    // The one viewer of this process; owned by the application object.
    static Hilfe& instanz();

    // The help collection inside a help folder.
    static QString sammlungsName() { return QStringLiteral("tavo.bedienung.qhc"); }
    // The main application's help folder: gs_KoraDir + "/hilfe".
    static QString standardOrdner();

    // Shows `thema` (an identifier such as "berechtigung" or "940049", or a
    // "qthelp://" address) from the collection in `hilfeOrdner` (empty: the
    // standard folder). False when the viewer could not be asked; logged.
    bool zeigeThema(const QString& thema, const QString& hilfeOrdner = QString());

    // The remote-control commands for a topic, one per line.
    static QByteArray befehleFuer(const QString& thema);

    // The viewer program; empty: "assistant" from the path, else Qt's binary folder.
    void setzeBetrachter(const QString& programm) { m_betrachter = programm; }
    QString gibBetrachter() const;

public slots:
    void slotZeigeThema(const QString& thema) { zeigeThema(thema); }

private:
    explicit Hilfe(QObject* parent);
    bool starte(const QString& sammlung);

    QPointer<QProcess> m_prozess;
    QString m_sammlung;
    QString m_betrachter;
};
