#pragma once
// The wizard: the manager's main window in interactive runs. It shows the
// state of the main application and of the modules, lets the user choose in a
// simplified or a custom selection, shows the summary and the licence
// agreement, follows the run on a progress page and shows the result. It
// drives the engine through its planning operations and follows it through
// its signals; the run itself is reached through a WizardAblauf.

#include "dialoge/dialogvorlage.h"

#include <QModelIndex>
#include <QUrl>
#include <memory>

class DlgPluginManagerDatenmodel;
class PluginManager;
class QCheckBox;
class QFrame;
class QLabel;
class QProgressBar;
class QPushButton;
class QRadioButton;
class QShortcut;
class QStackedWidget;
class QTabWidget;
class QTableView;
class QTextBrowser;
class WizardAblauf;

class DlgPluginManager : public DialogVorlage
{
    Q_OBJECT
public:
    // Steps of the wizard.
    enum Schritt {
        SCHRITT_START = 1,
        SCHRITT_ZUSAMMENFASSUNG = 2,
        SCHRITT_LIZENZ = 3,
        SCHRITT_FORTSCHRITT = 4,
        SCHRITT_AKTIONEN_LAUFEN = 5,
        SCHRITT_ERGEBNIS = 6,
        SCHRITT_FERTIG = 7
    };
    static constexpr int HILFE_THEMA = 940049;

    // `vollerWizard` is false when the manager was started to install or
    // remove single modules.
    DlgPluginManager(PluginManager* engine, bool vollerWizard, QWidget* parent = nullptr);
    ~DlgPluginManager() override;

    // The seam to the run; not owned, null restores the built-in default.
    void setzeAblauf(WizardAblauf* ablauf);
    WizardAblauf* gibAblauf() const { return mp_Ablauf; }

    // 0 simplified, 1 custom selection (also takes a bool from the entry).
    void setzteTabBenutzerdefiniert(int index);
    void updateTableView();
    void setzeStatusKoras();
    // Pages: 1 start, 2 summary, 3 licence, 4 progress, 6 result.
    void zeigeSeite(int seite);
    void naechsteAktion();

    int gibSchritt() const { return mi_Schritt; }
    bool istVollerWizard() const { return mb_VollerWizard; }

    // The texts of the start page and of the summary / result, as last set.
    QString gibHinweisHtml() const;
    QString gibTextBrowserHtml() const;

    // The reinstallation hint belongs under the errors unless one of them
    // has a cause a reinstallation would not cure.
    static bool brauchtNeuinstallationsHinweis(const QStringList& fehler);

public slots:
    void zeigeEinstellungen();
    // Verifies every installed part as "--pruefen" does, shows the report
    // and ticks the damaged parts for repair.
    void pruefeInstallation();
    void show();
    void hide();
    void showMinimized();
    void on_tableViewInstallierte_doubleClicked(const QModelIndex& index);
    void on_checkBox_Aktualisieren_stateChanged(int zustand);
    void slotButtonBoxClicked(QAbstractButton* knopf);
    void pluginAusgewaehltInstallierte(const QModelIndex& index);
    void pluginAusgewaehltVerfuegbare(const QModelIndex& index);
    void fortschritt(int schritt, int anzahl);
    void statusText(const QString& text);
    void statusText2(const QString& text);
    void fortschritt_Einzel(int fertig, int gesamt);
    void naechsterSchritt(bool par_bWeiter);
    void slotF1Hilfe(const QString& thema);
    void on_tabWidget_Modi_currentChanged(int index);
    void on_tabWidget_currentChanged(int index);
    void on_label_Alternativ_linkActivated(const QString& link);
    void slotAnchorClicked(const QUrl& url);
    void on_checkBox_alleUpdates_stateChanged(int zustand);
    void on_checkBox_FolgeJahre_stateChanged(int zustand);
    void on_checkBox_alleUpdates_clicked(bool an);
    void on_checkBox_FolgeJahre_clicked(bool an);
    void setzeZustandWeiterKnopf();
    void setzeZustandAbbruchHintergrundDownloadKnopf(bool par_bAktiv);
    void setzeZustandAbbruchWeiterKnopf(bool par_bDeaktiv);
    void zeigeErgebnis();
    void initGui();
    void setzeHinweis_StartSeite(const QString& par_sHinweis, bool par_bFehler = false);
    void setzeStatusWarteAufEndeAktionen(bool par_bAktiv);
    void on_textBrowser_anchorClicked(const QUrl& url);
    void alleMarkieren_Spalte1();
    void alleMarkierungenEntfernen_Spalte1();
    void on_radioButton_Zustimmung_toggled(bool an);
    void on_radioButton_Ablehnung_toggled(bool an);
    void reject() override;

protected:
    void closeEvent(QCloseEvent* event) override;
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* objekt, QEvent* event) override;

private:
    void baueOberflaeche();
    QWidget* baueStartSeite();
    QWidget* baueEinfachmodus();
    QWidget* baueBenutzerdefiniert();
    QWidget* baueZusammenfassung();
    QWidget* baueFortschritt();
    QWidget* baueLizenz();
    QFrame* baueLegende(const QString& name, const QString& farbe);
    void verbindeEngine();
    void verbindeWennVorhanden(const char* signal, const char* slot);
    void verbergeHilfeButtonWennNoetig();

    void setzeSchritt(int schritt);
    void zeigeStartSeite();
    void zeigeZusammenfassung();
    void zeigeLizenz();
    void starteFortschritt();
    void setzeAuswahlAktiv(bool aktiv);
    void aktualisiereEinfacheHaken();
    void aktualisiereLegende();
    bool istBenutzerdefiniertGezeigt() const;
    bool istEinfachGezeigt() const;
    void weiterNachZusammenfassung();
    void weiterNachLizenz();
    void zeigeUnerwartetenFehler();
    bool beendeLaufendeAktionen();
    void dlgNeustartfrage();
    static void oeffneExtern(const QUrl& url);
    QString hinweisAusServerZustand() const;

    PluginManager* mp_Engine;
    DlgPluginManagerDatenmodel* mp_ModelInstalliert;
    DlgPluginManagerDatenmodel* mp_ModelVerfuegbar;
    const bool mb_VollerWizard;
    int mi_Schritt = SCHRITT_START;
    std::unique_ptr<WizardAblauf> mp_StandardAblauf;
    WizardAblauf* mp_Ablauf;
    bool mb_HilfeGeprueft = false;
    bool mb_AuswahlMoeglich = true;
    bool mb_DownloadLaeuft = false;
    bool mb_SetzeHaken = false; // while the wizard itself sets the simplified boxes
    QString m_HinweisHtml;

    QStackedWidget* stackedWidget;
    QWidget* page_1_Modi;
    QWidget* page_2_Zusammenfassung;
    QWidget* page_3_Fortschritt;
    QWidget* page_Lizenztext;
    QTabWidget* tabWidget_Modi;
    QWidget* tab_Einfachmodus;
    QWidget* tab_Benutzerdefiniert;
    QLabel* label_Hinweis_Start;
    QCheckBox* checkBox_alleUpdates;
    QCheckBox* checkBox_FolgeJahre;
    QLabel* label_Alternativ;
    QFrame* frame_Hauptprogramm;
    QLabel* label_Hauptprogramm_Hinweis;
    QLabel* label_VersionInstalliert;
    QLabel* label_VersionVerfuegbar;
    QCheckBox* checkBox_Aktualisieren;
    QTabWidget* tabWidget;
    QWidget* tab_Installierte;
    QWidget* tab_Verfuegbare;
    QTableView* tableViewInstallierte;
    QTableView* tableViewVerfuegbare;
    QWidget* legende_Installierte;
    QWidget* legende_Verfuegbare;
    QLabel* label_Hinweis_Zusammenfassung;
    QTextBrowser* textBrowser;
    QLabel* label_Einzel;
    QProgressBar* progressBar_Einzel;
    QLabel* label_Gesamt;
    QProgressBar* progressBar_Gesamt;
    QTextBrowser* textBrowser_Lizenztext;
    QRadioButton* radioButton_Zustimmung;
    QRadioButton* radioButton_Ablehnung;
    QPushButton* btnWeiter;
    QPushButton* btnZurueck;
    QPushButton* btnHerunterladenAbbrechen;
    QPushButton* btnEinstellungen;
    QPushButton* btnPruefen;
    QShortcut* mp_AlleMarkieren;
    QShortcut* mp_AlleEntfernen;
};
