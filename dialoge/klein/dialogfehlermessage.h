#pragma once
// The error report: what went wrong, what follows from it, where it was
// detected, and where the user finds help.

#include "dialoge/dialogvorlage.h"

class QTextBrowser;

class DialogFehlerMessage : public DialogVorlage
{
    Q_OBJECT
public:
    // `fehler` and `folge` are HTML fragments (entities allowed).
    DialogFehlerMessage(const QString& fehler, const QString& folge, const QString& funktion, const QString& datei,
                        int zeile, QWidget* parent = nullptr);

    static QString ortTabelle(const QString& revision, const QString& funktion, const QString& datei, int zeile);
    static QString hotlineBlock();

    QString gibFehler() const;
    QString gibFolge() const;
    QString gibOrt() const;

private:
    QTextBrowser* m_txtFehler;
    QTextBrowser* m_txtFolge;
    QTextBrowser* m_txtOrt;
};
