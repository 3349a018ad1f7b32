#include "dialoge/einstellungen/ansichtproxyoptionen.h"

#include "dialoge/einstellungen/ansichtproxyadmineinstellung.h"
#include "dialoge/einstellungen/ansichtproxyeinstellung.h"
#include "global/varnelApplication/einstellungen.h"
#include "global/varnelApplication/logbase.h"
#include "global/varnelApplication/textausliteral.h"

#include <QButtonGroup>
#include <QLabel>
#include <QRadioButton>
#include <QVBoxLayout>

namespace {

const QString profilDeaktiviert = QStringLiteral("deaktiviert");
const QString profilAdmin = QStringLiteral("admin");
const QString profilKora = QStringLiteral("kora");

QRadioButton* baueKnopf(QWidget* eltern, const char* name, const char* text, const char* tooltip)
{
    auto* knopf = new QRadioButton(textAusLiteral(text), eltern);
    knopf->setObjectName(QString::fromLatin1(name));
    knopf->setToolTip(textAusLiteral(tooltip));
    return knopf;
}

} // namespace

AnsichtProxyOptionen::AnsichtProxyOptionen(QWidget* parent)
    : QWidget(parent)
    , m_lblProxyUeberschrift(new QLabel(textAusLiteral("<b>Proxy-Server f&uuml;r den Zugriff auf das Internet:</b>"), this))
    , m_rbnKeinProxy(baueKnopf(this, "m_rbnKeinProxy", "Kein Proxy-Server",
                               "F&uuml;r den Zugriff auf das Internet soll kein <b>kein Proxy-Server</b> verwendet werden."))
    , m_rbnAutomatischeProxyErkennung(
          baueKnopf(this, "m_rbnAutomatischeProxyErkennung", "automatische Proxy-Server-Erkennung",
                    "F&uuml;r den Zugriff auf das Internet soll der Proxy-Server automatisch ermittelt werden"))
    , m_rbnAdminProxy(baueKnopf(this, "m_rbnAdminProxy", "Die Proxy-Einstellungen des Administrators verwenden",
                                "F&uuml;r den Zugriff auf das Internet soll der durch den Administrator festgelegte "
                                "Proxy-Server verwendet werden."))
    , m_rbnKoraProxy(baueKnopf(this, "m_rbnKoraProxy", "Manuelle Proxy-Konfiguration",
                               "F&uuml;r den Zugriff auf das Internet soll der im folgenden angegebene Proxy-Server "
                               "verwendet werden."))
    , m_gruppe(new QButtonGroup(this))
    , m_ansichtKoraProxyEinstellung(new AnsichtProxyEinstellung(this))
    , m_ansichtAdminProxyEinstellung(new AnsichtProxyAdminEinstellung(this))
{
    m_lblProxyUeberschrift->setObjectName(QStringLiteral("m_lblProxyUeberschrift"));
    m_ansichtKoraProxyEinstellung->setObjectName(QStringLiteral("m_ansichtKoraProxyEinstellung"));
    m_ansichtAdminProxyEinstellung->setObjectName(QStringLiteral("m_ansichtAdminProxyEinstellung"));
    m_ansichtKoraProxyEinstellung->setzeUeberschrift(QStringLiteral("Eigene Angaben:"));

    m_gruppe->addButton(m_rbnKeinProxy, KeinProxy);
    m_gruppe->addButton(m_rbnAutomatischeProxyErkennung, Automatisch);
    m_gruppe->addButton(m_rbnAdminProxy, AdminProxy);
    m_gruppe->addButton(m_rbnKoraProxy, KoraProxy);
    m_rbnKeinProxy->setChecked(true);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_lblProxyUeberschrift);
    layout->addSpacing(4);
    layout->addWidget(m_rbnKeinProxy);
    layout->addWidget(m_rbnAutomatischeProxyErkennung);
    layout->addWidget(m_rbnKoraProxy);
    layout->addWidget(m_ansichtKoraProxyEinstellung);
    layout->addWidget(m_rbnAdminProxy);
    layout->addWidget(m_ansichtAdminProxyEinstellung);
    layout->addStretch(1);

    connect(m_gruppe, &QButtonGroup::idClicked, this, &AnsichtProxyOptionen::optionsBoxClicked);
    connect(m_ansichtAdminProxyEinstellung, &AnsichtProxyAdminEinstellung::aufAlleAnwenderAnwendenGeaendert, this,
            &AnsichtProxyOptionen::aufAlleAnwenderAnwendenGeaendert);
    optionsBoxClicked();
}

QRadioButton* AnsichtProxyOptionen::gibKnopf(Wahl wahl) const
{
    return qobject_cast<QRadioButton*>(m_gruppe->button(wahl));
}

AnsichtProxyOptionen::Wahl AnsichtProxyOptionen::gibWahl() const
{
    const int id = m_gruppe->checkedId();
    return id < 0 ? KeinProxy : Wahl(id);
}

void AnsichtProxyOptionen::setzeWahl(Wahl wahl)
{
    if (QRadioButton* knopf = gibKnopf(wahl))
        knopf->setChecked(true);
    optionsBoxClicked();
}

void AnsichtProxyOptionen::laden()
{
    IV_LOG_EINTRITT();
    mb_koraGeladen = mb_adminGeladen = false;
    m_ansichtKoraProxyEinstellung->leere();
    m_ansichtAdminProxyEinstellung->gibEinstellung()->leere();

    const QString profil = Einstellungen::getKoraProxyProfil();
    Wahl wahl = KeinProxy;
    if (Einstellungen::getKoraProxyAutomatischeEinstellung())
        wahl = Automatisch;
    else if (profil == profilAdmin)
        wahl = AdminProxy;
    else if (profil == profilKora)
        wahl = KoraProxy;
    else if (profil != profilDeaktiviert)
        IV_LOG_INFO(QStringLiteral("Unbekanntes Proxy-Profil \"%1\" in der kora.ini: kein Proxy-Server.").arg(profil));

    // "auf alle Anwender anwenden" shows what is in force, so that confirming
    // the dialog unchanged changes nothing; whether the administrator lets
    // the block be edited at all is "PROXY/AdminDialog".
    m_ansichtAdminProxyEinstellung->setzeBearbeitbar(Einstellungen::getAdminProxyAdminDialog());
    m_ansichtAdminProxyEinstellung->setzeAufAlleAnwenderAnwenden(Einstellungen::getAdminProxyProfil() == profilAdmin);
    m_ansichtAdminProxyEinstellung->setzeProxyAuthentifizierungPruefen(Einstellungen::getAdminProxyPruefung());

    setzeWahl(wahl);
    IV_LOG_AUSTRITT();
}

void AnsichtProxyOptionen::ladeKoraWerte()
{
    if (mb_koraGeladen)
        return;
    mb_koraGeladen = true;
    m_ansichtKoraProxyEinstellung->setzeWerte(Einstellungen::getKoraProxyAdresse(),
                                              Einstellungen::getKoraProxyAnschluss(),
                                              Einstellungen::getKoraProxyBenutzer(),
                                              Einstellungen::getKoraProxyPassword());
}

void AnsichtProxyOptionen::ladeAdminWerte()
{
    if (mb_adminGeladen)
        return;
    mb_adminGeladen = true;
    m_ansichtAdminProxyEinstellung->gibEinstellung()->setzeWerte(Einstellungen::getAdminProxyAdresse(),
                                                                Einstellungen::getAdminProxyAnschluss(),
                                                                Einstellungen::getAdminProxyBenutzer(),
                                                                Einstellungen::getAdminProxyPassword());
}

void AnsichtProxyOptionen::optionsBoxClicked()
{
    const Wahl wahl = gibWahl();
    AnsichtProxyEinstellung* admin = m_ansichtAdminProxyEinstellung->gibEinstellung();
    if (wahl == KoraProxy)
        ladeKoraWerte();
    if (wahl == AdminProxy) {
        ladeAdminWerte();
        admin->setzeNurLesen(!m_ansichtAdminProxyEinstellung->istBearbeitbar());
    }
    m_ansichtKoraProxyEinstellung->setEnabled(wahl == KoraProxy);
    admin->setEnabled(wahl == AdminProxy);
}

bool AnsichtProxyOptionen::pruefeEingaben(QString& meldung) const
{
    const Wahl wahl = gibWahl();
    const AnsichtProxyEinstellung* block = nullptr;
    if (wahl == KoraProxy)
        block = m_ansichtKoraProxyEinstellung;
    else if (wahl == AdminProxy && m_ansichtAdminProxyEinstellung->istBearbeitbar())
        block = m_ansichtAdminProxyEinstellung->gibEinstellung();
    if (!block || block->istVollstaendig())
        return true;
    meldung = textAusLiteral("<b>Die Angaben zum Proxy-Server sind unvollst&auml;ndig.</b><br><br>Bitte geben Sie "
                             "die Adresse des Proxy-Servers und einen Port von 80 bis 65535 an.");
    return false;
}

bool AnsichtProxyOptionen::speichern()
{
    IV_LOG_EINTRITT();
    const Wahl wahl = gibWahl();
    // Every write counts: a value that did not reach its file must not look saved.
    bool ok = true;
    switch (wahl) {
    case KeinProxy:
        ok &= Einstellungen::setKoraProxyProfil(profilDeaktiviert);
        break;
    case KoraProxy: {
        const AnsichtProxyEinstellung* e = m_ansichtKoraProxyEinstellung;
        ok &= Einstellungen::setKoraProxyProfil(profilKora);
        ok &= Einstellungen::setKoraProxyAdresse(e->gibAdresse());
        ok &= Einstellungen::setKoraProxyAnschluss(e->gibPort());
        ok &= Einstellungen::setKoraProxyBenutzer(e->gibBenutzer());
        // Only what the user typed: an unreadable key store shows an empty
        // field, and writing that back would erase the stored password.
        if (e->istPasswortGeaendert())
            ok &= Einstellungen::setKoraProxyPassword(e->gibPasswort());
        break;
    }
    case AdminProxy: {
        ok &= Einstellungen::setKoraProxyProfil(profilAdmin);
        if (m_ansichtAdminProxyEinstellung->istBearbeitbar()) {
            const AnsichtProxyEinstellung* e = m_ansichtAdminProxyEinstellung->gibEinstellung();
            ok &= Einstellungen::setAdminProxyBenutzer(e->gibBenutzer());
            ok &= Einstellungen::setAdminProxyAnschluss(e->gibPort());
            ok &= Einstellungen::setAdminProxyAdresse(e->gibAdresse());
            if (e->istPasswortGeaendert())
                ok &= Einstellungen::setAdminProxyPassword(e->gibPasswort());
        }
        break;
    }
    case Automatisch:
        ok &= Einstellungen::setKoraProxyProfil(profilKora);
        break;
    }
    ok &= Einstellungen::setKoraProxyAutomatischeEinstellung(wahl == Automatisch);
    // The machine-wide switches belong to the administrator: a user whom the
    // administrator did not give the block leaves tavo.ini untouched.
    if (m_ansichtAdminProxyEinstellung->istBearbeitbar()) {
        ok &= Einstellungen::setAdminProxyProfil(
            m_ansichtAdminProxyEinstellung->istAufAlleAnwenderAnwenden() ? profilAdmin : QString());
        ok &= Einstellungen::setAdminProxyPruefung(m_ansichtAdminProxyEinstellung->istProxyAuthentifizierungPruefen());
    }
    if (ok)
        IV_LOG_INFO(QStringLiteral("Die Proxy-Einstellungen wurden gespeichert (Auswahl %1).").arg(int(wahl)));
    IV_LOG_AUSTRITT();
    return ok;
}
