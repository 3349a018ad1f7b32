#include "dialoge/dialogrueckfrage.h"

#include "dialoge/dialogvorlage.h"
#include "dialoge/klein/dialogpasswortproxy.h"

#include <QApplication>
#include <memory>

int DialogRueckfrage::zeigeMeldung(const QString& titel, const QString& text, int art, int breite, int hoehe,
                                   const QString& textKnopf1, const QString& textKnopf2)
{
    return DialogVorlage::zeigeMeldung(titel, text, art, breite, hoehe, textKnopf1, textKnopf2);
}

int DialogRueckfrage::zeigeMeldungAbschaltbar(const QString& titel, const QString& text, int art, int breite,
                                              int hoehe, const QString& textKnopf1, const QString& textKnopf2,
                                              const QString& iniDatei, const QString& schluessel)
{
    return DialogVorlage::zeigeMeldungAbschaltbar(titel, text, art, breite, hoehe, textKnopf1, textKnopf2, iniDatei,
                                                  schluessel);
}

bool DialogRueckfrage::frageProxyZugang(const QString& host, const QString& port, int versuch, QString& benutzer,
                                        QString& passwort)
{
    auto dlg = std::make_unique<DialogPasswortProxy>(host, quint16(port.toUInt()), versuch);
    m_proxyDialog = dlg.get();
    QApplication::setOverrideCursor(Qt::ArrowCursor);
    const bool ok = dlg->exec() == QDialog::Accepted;
    QApplication::restoreOverrideCursor();
    m_proxyDialog = nullptr;
    if (ok) {
        benutzer = dlg->gibBenutzername();
        passwort = dlg->gibPasswort();
    }
    return ok;
}

void DialogRueckfrage::schliesseProxyZugang()
{
    if (m_proxyDialog)
        m_proxyDialog->done(QDialog::Rejected);
}
