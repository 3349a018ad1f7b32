#include "dialoge/dialogrueckfrage.h"

#include "dialoge/dialogvorlage.h"
#include "dialoge/klein/dialogpasswortproxy.h"
#include "dialoge/klein/dlginternet.h"
#include "global/varnelApplication/varnelapplication.h"

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

int DialogRueckfrage::frageInternetZugriff()
{
    // The question needs a visible owner: a minimised wizard is brought back.
    QWidget* besitzer = nullptr;
    if (auto* app = qobject_cast<VarnelApplication*>(QCoreApplication::instance()))
        besitzer = app->gibHauptfenster();
    if (besitzer) {
        besitzer->setWindowState(besitzer->windowState() & ~Qt::WindowMinimized);
        besitzer->show();
    }
    DlgInternet dlg(besitzer);
    const int ergebnis = dlg.exec();
    if (ergebnis == QDialog::Accepted)
        return INTERNET_JA_EINMALIG;
    if (dlg.gibButtonRolle() == QDialogButtonBox::YesRole)
        return INTERNET_JA_IMMER;
    if (ergebnis == QDialog::Rejected)
        return INTERNET_NEIN;
    return -1;
}
