#pragma once
// The publishing tool is a set of sub-commands. Each one describes its
// options and runs on the parsed command line; the dispatcher in main.cpp
// prints help and errors. Further groups of sub-commands register themselves
// in main.cpp beside registriereGrundbefehle.

#include <QCommandLineOption>
#include <QCommandLineParser>
#include <QList>
#include <QString>
#include <QTextStream>
#include <functional>

struct Befehl
{
    QString name;
    QString kurzbeschreibung;  // one line for the overview
    QString beschreibung;      // paragraph for "BEFEHL --help"
    QString argumente;         // e.g. "DATEI..." for the usage line, may be empty
    QList<QCommandLineOption> optionen;
    // 0 success, 1 failure of the work, 2 wrong command line.
    std::function<int(const QCommandLineParser&, QTextStream& aus, QTextStream& fehler)> ausfuehren;
};

// Exit codes of every sub-command.
enum Rueckgabe { ERFOLG = 0, FEHLSCHLAG = 1, AUFRUFFEHLER = 2 };

// Key pair, signing, dictionaries, verification.
void registriereGrundbefehle(QList<Befehl>& befehle);
// The update server's file tree.
void registriereServerbefehle(QList<Befehl>& befehle);
