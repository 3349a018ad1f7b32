#include "dialoge/klein/dialogpasswortproxy.h"

#include "dialoge/klein/groesse.h"
#include "global/varnelApplication/logbase.h"
#include "global/varnelApplication/rueckfrage.h"
#include "global/varnelApplication/textausliteral.h"

#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

QString DialogPasswortProxy::titelFuer(int versuch)
{
    const QString titel = textAusLiteral("Benutzername und Passwort f&uuml;r den Proxy-Server");
    if (versuch < 2)
        return titel;
    return QStringLiteral("%1 %2. Versuch").arg(titel).arg(versuch);
}

QString DialogPasswortProxy::inhaltFuer(const QString& proxyHost, quint16 proxyPort, int versuch)
{
    QString inhalt;
    if (versuch >= 2) {
        // The notice ends in a verb, so the sentence is complete before the
        // proxy details follow.
        inhalt = QStringLiteral("<b><font color=\"red\">Benutzername und Passwort waren nicht korrekt!</font></b><br><br>"
                                "Bitte versuchen Sie noch einmal, Benutzernamen und das Passwort f&uuml;r den Zugriff "
                                "auf den Proxy-Server einzugeben.<br><br>");
    }
    inhalt += QStringLiteral("Der von Ihnen gew&auml;hlte Proxy-Server<br><br><b>%1 : %2</b><br><br>erwartet eine "
                             "Anmeldung mit Benutzernamen und Passwort.<br>");
    // Entities first: the host comes from the settings or the network and
    // must stay text, so it is escaped after the entities were resolved.
    return textAusLiteral(inhalt).arg(proxyHost.toHtmlEscaped(), QString::number(proxyPort));
}

DialogPasswortProxy::DialogPasswortProxy(const QString& proxyHost, quint16 proxyPort, int versuch, QWidget* parent)
    : DialogVorlage(parent)
    , edtBenutzername(new QLineEdit(this))
    , edtPasswort(new QLineEdit(this))
{
    setObjectName(QStringLiteral("dialogPasswortProxy"));
    setzeTitel(titelFuer(versuch));
    setzeIcon(QStringLiteral("schluessel"));
    setzeHilfeThema(QStringLiteral("berechtigung"));
    setzeInhalt(inhaltFuer(proxyHost, proxyPort, versuch));

    edtBenutzername->setObjectName(QStringLiteral("edtBenutzername"));
    edtPasswort->setObjectName(QStringLiteral("edtPasswort"));
    edtPasswort->setEchoMode(QLineEdit::Password);

    auto* gitter = new QGridLayout;
    gitter->setContentsMargins(0, 0, 0, 6);
    auto* lblBenutzer = new QLabel(QStringLiteral("Benutzername:"), this);
    auto* lblPasswort = new QLabel(QStringLiteral("Passwort:"), this);
    lblBenutzer->setBuddy(edtBenutzername);
    lblPasswort->setBuddy(edtPasswort);
    gitter->addWidget(lblBenutzer, 0, 0);
    gitter->addWidget(edtBenutzername, 0, 1);
    gitter->addWidget(lblPasswort, 1, 0);
    gitter->addWidget(edtPasswort, 1, 1);
    gitter->setColumnStretch(1, 1);
    gibZusatzLayout()->addLayout(gitter);

    edtBenutzername->setFocus();
    passeGroesseAn(this);
}

void DialogPasswortProxy::setzeBenutzername(const QString& name)
{
    edtBenutzername->setText(name);
    if (!name.isEmpty())
        edtPasswort->setFocus();
}

void DialogPasswortProxy::accept()
{
    if (edtBenutzername->text().isEmpty()) {
        ::zeigeMeldung(windowTitle(),
                     textAusLiteral("<b>Die Angabe zum Benutzernamen fehlt!</b><br><br>Bitte geben Sie einen "
                                    "Benutzernamen ein oder w&auml;hlen Sie \"Abbrechen\"."),
                     2, 300, 200);
        edtBenutzername->setFocus();
        return;
    }
    if (edtPasswort->text().isEmpty()) {
        ::zeigeMeldung(windowTitle(),
                     textAusLiteral("<b>Die Angabe zum Passwort fehlt.</b><br><br>Bitte geben Sie ein Passwort ein "
                                    "oder w&auml;hlen Sie \"Abbrechen\"."),
                     2, 300, 200);
        edtPasswort->setFocus();
        return;
    }
    m_benutzername = edtBenutzername->text();
    m_passwort = edtPasswort->text();
    DialogVorlage::accept();
}
