#pragma once
// Closes the running main application before an update: asks each of its
// windows to close, then waits until no instance answers the instance
// protocol any more. "Abbrechen" leaves at any time.

#include "dialoge/dialogvorlage.h"

#include <QTimer>

class DlgBeendeKoras : public DialogVorlage
{
    Q_OBJECT
public:
    enum class Behandlung { Ignorieren, Schliessen, NachVorneUndSchliessen };

    explicit DlgBeendeKoras(QWidget* parent = nullptr);
    ~DlgBeendeKoras() override;

    // What happens to a window with this title: main-application windows are
    // closed, all but the bare "Fiscalon" window are first brought to the front
    // so that the user sees any question they ask; our own windows stay.
    static Behandlung behandlungFuer(const QString& titel);
    static constexpr int warteIntervallMs = 700;

    bool istAmWarten() const { return mb_wartet && !mb_beendet; }
    int gibAnzahlAngefragt() const { return mi_angefragt; }

public slots:
    // OK starts closing; the dialog accepts once the main application is gone.
    void accept() override;
    void done(int ergebnis) override;
    void warteAufKorasEnde();

private:
    void beendeKoras();
    void stelleCursorWiederHer();

    QTimer m_zeitgeber;
    bool mb_wartet = false;
    bool mb_fertig = false;
    bool mb_beendet = false;
    bool mb_cursor = false;
    int mi_angefragt = 0;
};
