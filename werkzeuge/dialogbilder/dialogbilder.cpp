// dialogbilder [--wizard] <folder>: writes one PNG per dialog state into <folder>;
// with --wizard only the wizard's pages.
//
// Runs without a screen and in a sandbox of its own (temporary HOME, config
// folder and root override, no display, no session bus), so it neither reads
// nor changes the settings, the key store or the windows of the machine it
// runs on.

#include "werkzeuge/dialogbilder/bildspeicher.h"
#include "dialoge/dialogvorlage.h"
#include "dialoge/einstellungen/ansichtproxyoptionen.h"
#include "dialoge/einstellungen/einstellungsdialog.h"
#include "dialoge/einstellungen/einstellungswidget.h"
#include "dialoge/klein/dialogfehlermessage.h"
#include "dialoge/klein/dialogpasswortproxy.h"
#include "dialoge/klein/dlgbeendekoras.h"
#include "dialoge/klein/dlginternet.h"
#include "dialoge/ressourcen.h"
#include "global/varnelApplication/einstellungen.h"
#include "global/varnelApplication/textausliteral.h"
#include "werkzeuge/dialogbilder/wizardbilder.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QMessageBox>
#include <QPixmap>
#include <QTemporaryDir>
#include <QTextStream>
#include <QTimer>
#include <QTranslator>
#include <cstdio>
#include <functional>

namespace {

QString g_ziel;
int g_fehler = 0;

void speichere(QWidget* w, const QString& name)
{
    w->show();
    if (!speichereBild(w, g_ziel, name))
        ++g_fehler;
}

// zeigeMeldung is modal: the picture is taken from inside its event loop.
void speichereModal(const QString& name, const std::function<void()>& zeige)
{
    QTimer::singleShot(50, [name] {
        QWidget* w = QApplication::activeModalWidget();
        if (!w) {
            std::fprintf(stderr, "Kein Dialog fuer %s\n", qPrintable(name));
            ++g_fehler;
            return;
        }
        speichere(w, name);
        w->close();
    });
    zeige();
}

void setzeProxyDateien(const QString& profil, bool automatisch)
{
    Einstellungen::setKoraProxyProfil(profil);
    Einstellungen::setKoraProxyAutomatischeEinstellung(automatisch);
    Einstellungen::setKoraProxyAdresse(QStringLiteral("192.168.10.5"));
    Einstellungen::setKoraProxyAnschluss(3128);
    Einstellungen::setKoraProxyBenutzer(QStringLiteral("mmustermann"));
    Einstellungen::setAdminProxyAdresse(QStringLiteral("10.0.0.1"));
    Einstellungen::setAdminProxyAnschluss(8080);
    Einstellungen::setAdminProxyBenutzer(QStringLiteral("proxyadmin"));
    Einstellungen::setAdminProxyAdminDialog(true);
    Einstellungen::setAdminProxyProfil(QStringLiteral("admin"));
}

} // namespace

int main(int argc, char** argv)
{
    const bool nurWizard = (argc == 3 && qstrcmp(argv[1], "--wizard") == 0);
    if (argc != 2 && !nurWizard) {
        std::fprintf(stderr, "Aufruf: dialogbilder [--wizard] <Zielordner>\n");
        return 2;
    }
    QTemporaryDir sandkasten;
    if (!sandkasten.isValid()) {
        std::fprintf(stderr, "Kein temporaerer Ordner\n");
        return 1;
    }
    const QByteArray s = QFile::encodeName(sandkasten.path());
    qputenv("HOME", s + "/home");
    qputenv("XDG_CONFIG_HOME", s + "/home/.config");
    qputenv("XDG_RUNTIME_DIR", s + "/laufzeit");
    qputenv("FISCALON_WURZEL", s + "/wurzel");
    qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=" + s + "/kein-bus");
    qunsetenv("DISPLAY");
    qputenv("QT_QPA_PLATFORM", "offscreen");
    for (const char* o : { "/home/.config", "/laufzeit", "/wurzel" })
        QDir().mkpath(QFile::decodeName(s + o));
    QFile::setPermissions(QFile::decodeName(s + "/laufzeit"), QFileDevice::ReadOwner | QFileDevice::WriteOwner
                                                                   | QFileDevice::ExeOwner);

    QApplication app(argc, argv);
    initDialogRessourcen();
    // As the program does: Qt's own texts in German.
    QTranslator uebersetzer;
    if (uebersetzer.load(QStringLiteral(":/lang/translation_de.qm")))
        QCoreApplication::installTranslator(&uebersetzer);
    g_ziel = QFile::decodeName(argv[argc - 1]);
    if (!QDir().mkpath(g_ziel)) {
        std::fprintf(stderr, "Konnte %s nicht anlegen\n", argv[argc - 1]);
        return 1;
    }
    g_fehler += speichereWizardBilder(g_ziel);
    if (nurWizard)
        return g_fehler == 0 ? 0 : 1;

    {
        DialogPasswortProxy d1(QStringLiteral("proxy.example.invalid"), 3128, 1);
        speichere(&d1, QStringLiteral("proxy_versuch1"));
        DialogPasswortProxy d2(QStringLiteral("proxy.example.invalid"), 3128, 2);
        speichere(&d2, QStringLiteral("proxy_versuch2"));
    }
    {
        DlgInternet d;
        speichere(&d, QStringLiteral("internet"));
    }
    {
        DlgBeendeKoras d;
        speichere(&d, QStringLiteral("beendekoras"));
        d.accept();
        speichere(&d, QStringLiteral("beendekoras_warten"));
        d.reject();
    }
    {
        DialogFehlerMessage d(textAusLiteral("Die Datei <b>tavo.ini</b> konnte nicht geschrieben werden."),
                              textAusLiteral("Die Einstellungen wurden nicht gespeichert."),
                              QStringLiteral("PluginManager::aktionsAusfuehrung"),
                              QStringLiteral("pluginManager/pluginManager.cpp"), 1234);
        speichere(&d, QStringLiteral("fehlermeldung"));
    }
    const struct {
        const char* name;
        const char* profil;
        bool automatisch;
    } faelle[] = { { "einstellungen_kein", "deaktiviert", false },
                   { "einstellungen_automatisch", "kora", true },
                   { "einstellungen_admin", "admin", false },
                   { "einstellungen_manuell", "kora", false } };
    for (const auto& f : faelle) {
        setzeProxyDateien(QString::fromLatin1(f.profil), f.automatisch);
        EinstellungsDialog d;
        speichere(&d, QString::fromLatin1(f.name));
    }
    // Qt's own dialogs: a message box with its standard buttons, the file dialog.
    {
        QMessageBox m(QMessageBox::Question, QStringLiteral("Qt-Standarddialog"),
                      textAusLiteral("Die Standardkn&ouml;pfe von Qt mit der deutschen &Uuml;bersetzung."),
                      QMessageBox::Yes | QMessageBox::No | QMessageBox::Save | QMessageBox::Discard
                          | QMessageBox::Retry | QMessageBox::Cancel | QMessageBox::Help);
        speichere(&m, QStringLiteral("qt_meldung"));
    }
    {
        QFileDialog d(nullptr, QStringLiteral("Archiv speichern"), sandkasten.path());
        d.setOption(QFileDialog::DontUseNativeDialog);
        d.setAcceptMode(QFileDialog::AcceptSave);
        speichere(&d, QStringLiteral("qt_dateidialog"));
    }
    const char* arten[] = { nullptr, "Information", "Warnung", "Fehler", "Frage" };
    for (int art = 1; art <= 4; ++art) {
        speichereModal(QStringLiteral("meldung_%1").arg(art), [art, &arten] {
            DialogVorlage::zeigeMeldung(QString::fromLatin1(arten[art]),
                                        textAusLiteral("Dies ist eine Meldung der Art <b>%1</b>. Die Installation "
                                                       "wurde erfolgreich abgeschlossen; bitte &uuml;berpr&uuml;fen "
                                                       "Sie die Einstellungen.")
                                            .arg(art),
                                        art);
        });
    }
    speichereModal(QStringLiteral("meldung_2_300x200"), [] {
        DialogVorlage::zeigeMeldung(QStringLiteral("Benutzername und Passwort"),
                                    textAusLiteral("<b>Die Angabe zum Benutzernamen fehlt!</b><br><br>Bitte geben Sie "
                                                   "einen Benutzernamen ein oder w&auml;hlen Sie \"Abbrechen\"."),
                                    2, 300, 200);
    });
    return g_fehler == 0 ? 0 : 1;
}
