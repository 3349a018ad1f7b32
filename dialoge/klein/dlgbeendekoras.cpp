#include "dialoge/klein/dlgbeendekoras.h"

#include "dialoge/klein/groesse.h"
#include "dialoge/icons.h"
#include "global/plattform/plattform.h"
#include "global/varnelApplication/logbase.h"
#include "global/varnelApplication/textausliteral.h"
#include "global/varnelApplication/varnelkern.h"

#include <QApplication>
#include <QCoreApplication>
#include <QPushButton>

DlgBeendeKoras::DlgBeendeKoras(QWidget* parent)
    : DialogVorlage(parent)
{
    setObjectName(QStringLiteral("dlgBeendeKoras"));
    // The window title must name us: every other window whose title contains
    // "Fiscalon" is about to be closed.
    setzeTitel(QStringLiteral("Fiscalon beenden"));
    setWindowTitle(QStringLiteral("Installationsverwaltung von Fiscalon"));
    setzeIcon(QStringLiteral("information"));
    zeigeHilfeKnopf(false);
    setzeInhalt(textAusLiteral("Fiscalon muss f&uuml;r die Aktualisierung beendet werden."));
    btnAbbrechen->setIcon(Icons::gibIcon(QStringLiteral("schliessenHell")));

    m_zeitgeber.setSingleShot(true);
    m_zeitgeber.setInterval(warteIntervallMs);
    connect(&m_zeitgeber, &QTimer::timeout, this, &DlgBeendeKoras::warteAufKorasEnde);
    passeGroesseAn(this);
}

DlgBeendeKoras::~DlgBeendeKoras()
{
    stelleCursorWiederHer();
}

DlgBeendeKoras::Behandlung DlgBeendeKoras::behandlungFuer(const QString& titel)
{
    const QString t = titel.left(256);
    if (!t.contains(QLatin1String("Fiscalon")) || t.contains(QLatin1String("Installationsverwaltung")))
        return Behandlung::Ignorieren;
    return t == QLatin1String("Fiscalon") ? Behandlung::Schliessen : Behandlung::NachVorneUndSchliessen;
}

void DlgBeendeKoras::accept()
{
    if (mb_fertig) {
        DialogVorlage::accept();
        return;
    }
    if (!mb_wartet)
        beendeKoras();
}

void DlgBeendeKoras::done(int ergebnis)
{
    // Whatever ends the dialog (OK after the wait, "Abbrechen", Escape, the
    // window's close button) also ends the waiting.
    mb_beendet = true;
    m_zeitgeber.stop();
    stelleCursorWiederHer();
    DialogVorlage::done(ergebnis);
}

void DlgBeendeKoras::stelleCursorWiederHer()
{
    if (mb_cursor) {
        QApplication::restoreOverrideCursor();
        mb_cursor = false;
    }
}

void DlgBeendeKoras::beendeKoras()
{
    IV_LOG_EINTRITT();
    IV_LOG_INFO(QStringLiteral("Fiscalon wird beendet."));
    mb_wartet = true;
    btnOk->setEnabled(false);
    QApplication::setOverrideCursor(Qt::WaitCursor);
    mb_cursor = true;

    QString fehler;
    const QList<Plattform::FremdesFenster> fenster = Plattform::gibFremdeFenster(&fehler);
    if (!fehler.isEmpty())
        IV_LOG_INFO(QStringLiteral("Die Fenster von Fiscalon k\u00f6nnen nicht gesucht werden: %1").arg(fehler));
    const qint64 eigenePid = QCoreApplication::applicationPid();
    mi_angefragt = 0;
    for (const Plattform::FremdesFenster& f : fenster) {
        const Behandlung b = behandlungFuer(f.titel);
        if (b == Behandlung::Ignorieren || f.pid == eigenePid)
            continue;
        if (b == Behandlung::NachVorneUndSchliessen && !Plattform::fremdesFensterNachVorne(f.id, &fehler))
            IV_LOG_INFO(fehler);
        if (Plattform::schliesseFremdesFenster(f.id, &fehler)) {
            ++mi_angefragt;
            IV_LOG_INFO(QStringLiteral("Das Fenster \"%1\" wurde zum Schlie\u00dfen aufgefordert.").arg(f.titel));
        } else {
            IV_LOG_ERROR(QStringLiteral("Das Fenster \"%1\" konnte nicht geschlossen werden: %2").arg(f.titel, fehler));
        }
    }
    setzeInhalt(QStringLiteral("Warte auf das Beenden von Fiscalon..."));
    m_zeitgeber.start();
    IV_LOG_AUSTRITT();
}

void DlgBeendeKoras::warteAufKorasEnde()
{
    if (mb_beendet)
        return;
    bool antwortet = false;
    if (VarnelKern* kern = VarnelKern::instanz())
        antwortet = kern->sendeAnfrageAnLaufendeInstanz(QStringLiteral("kora"), QString(), QStringList(), false);
    else
        IV_LOG_ERROR(QStringLiteral("Ohne Anwendungsobjekt kann nicht gefragt werden, ob Fiscalon noch l\u00e4uft."));
    // The question runs its own event loop; the user may have cancelled meanwhile.
    if (mb_beendet)
        return;
    if (antwortet) {
        m_zeitgeber.start();
        return;
    }
    IV_LOG_INFO(QStringLiteral("Fiscalon wurde beendet."));
    stelleCursorWiederHer();
    mb_fertig = true;
    accept();
}
