#include "pluginManager/dlgPluginManager.h"

#include "bauwerte.h"
#include "wizardwerte.h"
#include "dialoge/einstellungen/einstellungsdialog.h"
#include "dialoge/icons.h"
#include "dialoge/klein/hilfe.h"
#include "global/downloadManager/downloadmanager.h"
#include "global/plattform/plattform.h"
#include "global/varnelApplication/einstellungen.h"
#include "global/varnelApplication/logbase.h"
#include "global/varnelApplication/rueckfrage.h"
#include "global/varnelApplication/textausliteral.h"
#include "pluginManager/dlgPluginManagerDatenmodel.h"
#include "pluginManager/plugin.h"
#include "pluginManager/pluginManager.h"
#include "pluginManager/startwerte.h"
#include "pluginManager/wizardablauf.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QDesktopServices>
#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QMetaMethod>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QShortcut>
#include <QStackedWidget>
#include <QStyledItemDelegate>
#include <QTabWidget>
#include <QTableView>
#include <QTextBrowser>
#include <QVBoxLayout>
#include <algorithm>

namespace {

// Module names carry HTML entities (they are shown in rich text elsewhere);
// a table cell shows them as their characters.
class EntitaetenDelegate : public QStyledItemDelegate
{
public:
    using QStyledItemDelegate::QStyledItemDelegate;

protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override
    {
        QStyledItemDelegate::initStyleOption(option, index);
        if (option->text.contains(QLatin1Char('&')))
            option->text = textAusLiteral(option->text);
    }
};

QLabel* neuesLabel(const QString& text, QWidget* eltern, const QString& name = QString())
{
    auto* l = new QLabel(text, eltern);
    if (!name.isEmpty())
        l->setObjectName(name);
    l->setWordWrap(true);
    l->setTextFormat(Qt::RichText);
    return l;
}

QString ueberschrift(const char* text)
{
    return QStringLiteral("<span style=\"font-size:x-large; font-weight:bold\">%1</span>")
        .arg(textAusLiteral(text));
}

// The error texts whose cause a reinstallation would not cure.
const char* const kOhneNeuinstallation[] = {
    "freier Speicher auf dem Ziellaufwerk",
    "Es steht nicht genug Speicherplatz",
    "weil Fiscalon auf einem Netzlaufwerk installiert wurde",
};

// The launcher entry follows the progress page: the steps of the run, and
// within the current step the share of the current transfer or unpacking.
void zeigeStarterFortschritt(const QProgressBar* gesamt, const QProgressBar* einzel)
{
    const int schritte = gesamt->maximum() - gesamt->minimum();
    if (schritte <= 0)
        return;
    const int teil = einzel->maximum() - einzel->minimum();
    const double imSchritt = teil > 0 ? double(einzel->value() - einzel->minimum()) / teil : 0.0;
    Plattform::zeigeStarterFortschritt((gesamt->value() - gesamt->minimum() + imSchritt) / schritte);
}

} // namespace

// ---- construction ------------------------------------------------------------------

DlgPluginManager::DlgPluginManager(PluginManager* engine, bool vollerWizard, QWidget* parent)
    : DialogVorlage(parent)
    , mp_Engine(engine)
    , mp_ModelInstalliert(engine ? engine->gibDatenmodelInstalliert() : nullptr)
    , mp_ModelVerfuegbar(engine ? engine->gibDatenmodelVerfuegbar() : nullptr)
    , mb_VollerWizard(vollerWizard)
    , mp_StandardAblauf(new WizardAblauf)
    , mp_Ablauf(mp_StandardAblauf.get())
{
    IV_LOG_EINTRITT();
    setObjectName(QStringLiteral("DlgPluginManager"));
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint
                   | Qt::WindowMaximizeButtonHint | Qt::WindowCloseButtonHint);
    setzeHilfeThema(QString::number(HILFE_THEMA));

    QString titel = gs_AnwendungsName;
    const QString revision = Bauwerte::revision();
    if (!revision.isEmpty() && revision != QLatin1String("unbekannt"))
        titel += QStringLiteral(" (Revision %1)").arg(revision);
    titel += QStringLiteral(" von %1").arg(QStringLiteral("Fiscalon"));
    setWindowTitle(titel);
    m_wgtTitel->setzeText(gs_AnwendungsName);
    m_wgtTitel->setzeIcon(Icons::gibPixmap(QStringLiteral("installationsverwaltung"), 32));

    baueOberflaeche();
    verbindeEngine();

    if (mb_VollerWizard) {
        const bool einfach = Einstellungen::getKoraAnsichtEinfach(gs_DirUserKora);
        tabWidget_Modi->setCurrentIndex(einfach ? 0 : 1);
    } else {
        // Single modules named by the caller: only the custom view shows them.
        tabWidget_Modi->setCurrentIndex(1);
        checkBox_Aktualisieren->setEnabled(false);
    }
    aktualisiereLegende();
    setzeSchritt(SCHRITT_START);
    resize(900, 680);
    IV_LOG_AUSTRITT();
}

DlgPluginManager::~DlgPluginManager()
{
    Plattform::zeigeStarterFortschritt(0.0, false);
    // The views must not outlive their models' owner in any order of destruction.
    tableViewInstallierte->setModel(nullptr);
    tableViewVerfuegbare->setModel(nullptr);
}

void DlgPluginManager::setzeAblauf(WizardAblauf* ablauf)
{
    mp_Ablauf = ablauf ? ablauf : mp_StandardAblauf.get();
}

void DlgPluginManager::baueOberflaeche()
{
    stackedWidget = new QStackedWidget(this);
    stackedWidget->setObjectName(QStringLiteral("stackedWidget"));
    page_1_Modi = baueStartSeite();
    page_2_Zusammenfassung = baueZusammenfassung();
    page_3_Fortschritt = baueFortschritt();
    page_Lizenztext = baueLizenz();
    stackedWidget->addWidget(page_1_Modi);
    stackedWidget->addWidget(page_2_Zusammenfassung);
    stackedWidget->addWidget(page_3_Fortschritt);
    stackedWidget->addWidget(page_Lizenztext);

    // The pages take the place of the template's content area.
    if (QLayoutItem* alt = layout()->replaceWidget(txtInhalt, stackedWidget))
        delete alt;
    else
        gibZusatzLayout()->addWidget(stackedWidget, 1);
    txtInhalt->hide();
    m_lblInhaltIcon->hide();

    btnWeiter = btnOk;
    btnWeiter->setObjectName(QStringLiteral("btnWeiter"));
    btnWeiter->setText(QStringLiteral("&Weiter"));
    btnWeiter->setIcon(Icons::gibIcon(QStringLiteral("weiter")));
    btnWeiter->setToolTip(QString());
    btnZurueck = btnBox->addButton(textAusLiteral("&zur&uuml;ck"), QDialogButtonBox::ActionRole);
    btnZurueck->setObjectName(QStringLiteral("btnZurueck"));
    btnZurueck->setIcon(Icons::gibIcon(QStringLiteral("zurueck")));
    btnHerunterladenAbbrechen = btnBox->addButton(QStringLiteral("&Herunterladen abbrechen"), QDialogButtonBox::ActionRole);
    btnHerunterladenAbbrechen->setObjectName(QStringLiteral("btnHerunterladenAbbrechen"));
    btnHerunterladenAbbrechen->setIcon(Icons::gibIcon(QStringLiteral("schliessenHell")));
    btnEinstellungen = btnBox->addButton(QStringLiteral("Einstellungen"), QDialogButtonBox::ResetRole);
    btnEinstellungen->setObjectName(QStringLiteral("btnEinstellungen"));
    btnEinstellungen->setIcon(Icons::gibIcon(QStringLiteral("optionen")));
    btnEinstellungen->setAutoDefault(false);
    btnPruefen = btnBox->addButton(textAusLiteral("Installation &pr&uuml;fen"), QDialogButtonBox::ResetRole);
    btnPruefen->setObjectName(QStringLiteral("btnPruefen"));
    btnPruefen->setToolTip(textAusLiteral("Pr&uuml;ft alle installierten Teile gegen ihre signierten Dictionarys und "
                                          "w&auml;hlt besch&auml;digte zur Reparatur aus."));
    btnPruefen->setAutoDefault(false);
    btnZurueck->setAutoDefault(false);
    btnHerunterladenAbbrechen->setAutoDefault(false);
    btnHilfe->setAutoDefault(false);
    // The button box shows every button again when it lays them out, so
    // these are hidden only after the last button has been added.
    btnAbbrechen->hide();
    btnHerunterladenAbbrechen->hide();

    // The buttons move through the steps instead of closing the dialog.
    disconnect(btnBox, &QDialogButtonBox::clicked, this, &DialogVorlage::slotButtonBoxClicked);
    connect(btnBox, &QDialogButtonBox::clicked, this, &DlgPluginManager::slotButtonBoxClicked);

    mp_AlleMarkieren = new QShortcut(QKeySequence(Qt::CTRL + Qt::Key_A), this);
    mp_AlleEntfernen = new QShortcut(QKeySequence(Qt::CTRL + Qt::SHIFT + Qt::Key_A), this);
    connect(mp_AlleMarkieren, &QShortcut::activated, this, &DlgPluginManager::alleMarkieren_Spalte1);
    connect(mp_AlleEntfernen, &QShortcut::activated, this, &DlgPluginManager::alleMarkierungenEntfernen_Spalte1);
}

QWidget* DlgPluginManager::baueStartSeite()
{
    auto* seite = new QWidget(this);
    seite->setObjectName(QStringLiteral("page_1_Modi"));
    auto* layout = new QVBoxLayout(seite);
    layout->setContentsMargins(0, 0, 0, 0);

    label_Hinweis_Start = neuesLabel(QString(), seite, QStringLiteral("label_Hinweis"));
    label_Hinweis_Start->setOpenExternalLinks(true);
    layout->addWidget(label_Hinweis_Start);

    tabWidget_Modi = new QTabWidget(seite);
    tabWidget_Modi->setObjectName(QStringLiteral("tabWidget_Modi"));
    tab_Einfachmodus = baueEinfachmodus();
    tab_Benutzerdefiniert = baueBenutzerdefiniert();
    tabWidget_Modi->addTab(tab_Einfachmodus, Icons::gibIcon(QStringLiteral("update_einfach")),
                           QStringLiteral("Vereinfachte Auswahl"));
    tabWidget_Modi->addTab(tab_Benutzerdefiniert, Icons::gibIcon(QStringLiteral("update_config")),
                           QStringLiteral("Benutzerdefinierte Auswahl"));
    tabWidget_Modi->setIconSize(QSize(24, 24));
    layout->addWidget(tabWidget_Modi, 1);
    connect(tabWidget_Modi, &QTabWidget::currentChanged, this, &DlgPluginManager::on_tabWidget_Modi_currentChanged);
    return seite;
}

QWidget* DlgPluginManager::baueEinfachmodus()
{
    auto* tab = new QWidget;
    tab->setObjectName(QStringLiteral("tab_Einfachmodus"));
    auto* layout = new QVBoxLayout(tab);
    layout->setContentsMargins(16, 12, 16, 12);
    layout->setSpacing(6);
    layout->addWidget(neuesLabel(ueberschrift("Vereinfachte Auswahl"), tab));
    layout->addSpacing(12);

    auto zeile = [&](QCheckBox*& box, const char* name, const char* text, const char* notiz) {
        box = new QCheckBox(textAusLiteral(text), tab);
        box->setObjectName(QString::fromLatin1(name));
        box->setTristate(true);
        QFont f = box->font();
        f.setPointSizeF(f.pointSizeF() * 1.15);
        f.setBold(true);
        box->setFont(f);
        layout->addWidget(box);
        auto* n = neuesLabel(textAusLiteral(notiz), tab);
        n->setContentsMargins(24, 0, 0, 8);
        layout->addWidget(n);
    };
    zeile(checkBox_alleUpdates, "checkBox_alleUpdates", "alle Updates installieren",
          "(bereits installierte Programmteile werden aktualisiert)");
    zeile(checkBox_FolgeJahre, "checkBox_FolgeJahre", "Steuererkl&auml;rungen f&uuml;r neue Jahre installieren",
          "(zu bereits installierten Steuererkl&auml;rungen werden die neuen Zeitr&auml;ume hinzugef&uuml;gt)");
    layout->addSpacing(16);

    label_Alternativ = neuesLabel(
        textAusLiteral("<span style=\"font-size:large; font-weight:bold\">Alternativ:</span><br>"
                       "<a href=benutzerdefinierte_Auswahl>%1</a> \"Benutzerdefinierte Auswahl\", um z.B. einzelne "
                       "Steuererkl&auml;rungen auszuw&auml;hlen.")
            .arg(Icons::gibHtmlBild(QStringLiteral("update_config_klein"), 24, 24,
                                    QStringLiteral("Benutzerdefinierte Auswahl"))),
        tab, QStringLiteral("label_Alternativ"));
    label_Alternativ->setTextInteractionFlags(Qt::LinksAccessibleByMouse | Qt::LinksAccessibleByKeyboard);
    layout->addWidget(label_Alternativ);
    layout->addStretch(1);

    connect(checkBox_alleUpdates, &QCheckBox::stateChanged, this, &DlgPluginManager::on_checkBox_alleUpdates_stateChanged);
    connect(checkBox_FolgeJahre, &QCheckBox::stateChanged, this, &DlgPluginManager::on_checkBox_FolgeJahre_stateChanged);
    connect(checkBox_alleUpdates, &QCheckBox::clicked, this, &DlgPluginManager::on_checkBox_alleUpdates_clicked);
    connect(checkBox_FolgeJahre, &QCheckBox::clicked, this, &DlgPluginManager::on_checkBox_FolgeJahre_clicked);
    connect(label_Alternativ, &QLabel::linkActivated, this, &DlgPluginManager::on_label_Alternativ_linkActivated);
    return tab;
}

QFrame* DlgPluginManager::baueLegende(const QString& name, const QString& farbe)
{
    auto* frame = new QFrame;
    frame->setObjectName(name);
    frame->setFixedSize(18, 14);
    // A thin border, so that the white sample stands out from the window.
    frame->setStyleSheet(QStringLiteral("QWidget#%1{background: %2; border: 1px solid gray;}").arg(name, farbe));
    return frame;
}

QWidget* DlgPluginManager::baueBenutzerdefiniert()
{
    auto* tab = new QWidget;
    tab->setObjectName(QStringLiteral("tab_Benutzerdefiniert"));
    auto* layout = new QVBoxLayout(tab);
    layout->setContentsMargins(12, 10, 12, 8);
    layout->addWidget(neuesLabel(ueberschrift("Benutzerdefinierte Auswahl"), tab));

    frame_Hauptprogramm = new QFrame(tab);
    frame_Hauptprogramm->setObjectName(QStringLiteral("frame_Hauptprogramm"));
    frame_Hauptprogramm->setFrameShape(QFrame::StyledPanel);
    auto* raster = new QGridLayout(frame_Hauptprogramm);
    raster->setContentsMargins(10, 6, 10, 6);
    raster->addWidget(neuesLabel(QStringLiteral("<b>Hauptprogramm und Steuerberechnung</b>"), frame_Hauptprogramm), 0, 0, 1, 3);
    raster->addWidget(new QLabel(QStringLiteral("installierte Version:"), frame_Hauptprogramm), 1, 0);
    label_VersionInstalliert = new QLabel(frame_Hauptprogramm);
    label_VersionInstalliert->setObjectName(QStringLiteral("label_VersionInstalliert"));
    raster->addWidget(label_VersionInstalliert, 1, 1);
    raster->addWidget(new QLabel(QStringLiteral("aktualisieren auf Version:"), frame_Hauptprogramm), 2, 0);
    label_VersionVerfuegbar = new QLabel(frame_Hauptprogramm);
    label_VersionVerfuegbar->setObjectName(QStringLiteral("label_VersionVerfuegbar"));
    raster->addWidget(label_VersionVerfuegbar, 2, 1);
    checkBox_Aktualisieren = new QCheckBox(QStringLiteral("aktualisieren"), frame_Hauptprogramm);
    checkBox_Aktualisieren->setObjectName(QStringLiteral("checkBox_Aktualisieren"));
    // The style's grey for a disabled label vanishes on the green and red frame.
    checkBox_Aktualisieren->setStyleSheet(QStringLiteral("QCheckBox:disabled{color: rgb(70, 70, 70);}"));
    raster->addWidget(checkBox_Aktualisieren, 1, 2, 2, 1, Qt::AlignRight | Qt::AlignVCenter);
    label_Hauptprogramm_Hinweis = neuesLabel(QString(), frame_Hauptprogramm, QStringLiteral("label_Hauptprogramm_Hinweis"));
    label_Hauptprogramm_Hinweis->hide();
    raster->addWidget(label_Hauptprogramm_Hinweis, 3, 0, 1, 3);
    raster->setColumnStretch(1, 1);
    layout->addWidget(frame_Hauptprogramm);
    connect(checkBox_Aktualisieren, &QCheckBox::stateChanged, this, &DlgPluginManager::on_checkBox_Aktualisieren_stateChanged);

    layout->addWidget(neuesLabel(textAusLiteral("<b>Steuererkl&auml;rungsmodule</b>"), tab));
    tabWidget = new QTabWidget(tab);
    tabWidget->setObjectName(QStringLiteral("tabWidget"));

    auto baueTabelle = [this](QTableView*& view, const char* name, DlgPluginManagerDatenmodel* model) {
        view = new QTableView;
        view->setObjectName(QString::fromLatin1(name));
        view->setItemDelegate(new EntitaetenDelegate(view));
        view->setSelectionMode(QAbstractItemView::NoSelection);
        view->setEditTriggers(QAbstractItemView::NoEditTriggers);
        view->verticalHeader()->hide();
        view->setWordWrap(false);
        view->installEventFilter(this);
        if (model)
            view->setModel(model);
        view->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
        view->horizontalHeader()->setSectionResizeMode(0, QHeaderView::Stretch);
        return view;
    };
    tab_Installierte = new QWidget;
    tab_Installierte->setObjectName(QStringLiteral("tab_Installierte"));
    auto* li = new QVBoxLayout(tab_Installierte);
    li->setContentsMargins(4, 4, 4, 4);
    li->addWidget(baueTabelle(tableViewInstallierte, "tableViewInstallierte", mp_ModelInstalliert));
    tab_Verfuegbare = new QWidget;
    tab_Verfuegbare->setObjectName(QStringLiteral("tab_Verfuegbare"));
    auto* lv = new QVBoxLayout(tab_Verfuegbare);
    lv->setContentsMargins(4, 4, 4, 4);
    lv->addWidget(baueTabelle(tableViewVerfuegbare, "tableViewVerfuegbare", mp_ModelVerfuegbar));
    tabWidget->addTab(tab_Installierte, QStringLiteral("bereits installiert"));
    tabWidget->addTab(tab_Verfuegbare, textAusLiteral("zum Download verf&uuml;gbar"));
    layout->addWidget(tabWidget, 1);

    // Sorted as the user left it last time.
    if (mp_ModelInstalliert) {
        tableViewInstallierte->horizontalHeader()->setSortIndicator(
            Einstellungen::getKoraSortiereInstallierteNachJahren(gs_DirUserKora) ? 1 : 0,
            Einstellungen::getKoraSortiereInstallierteAufsteigend(gs_DirUserKora) ? Qt::AscendingOrder
                                                                                   : Qt::DescendingOrder);
        tableViewInstallierte->setSortingEnabled(true);
    }
    if (mp_ModelVerfuegbar) {
        tableViewVerfuegbare->horizontalHeader()->setSortIndicator(
            Einstellungen::getKoraSortiereVerfuegbareNachJahren(gs_DirUserKora) ? 1 : 0,
            Einstellungen::getKoraSortiereVerfuegbareAufsteigend(gs_DirUserKora) ? Qt::AscendingOrder
                                                                                  : Qt::DescendingOrder);
        tableViewVerfuegbare->setSortingEnabled(true);
    }

    auto baueLegendenZeile = [this](const QString& name, const QList<QStringList>& eintraege) {
        auto* w = new QWidget;
        w->setObjectName(name);
        auto* l = new QHBoxLayout(w);
        l->setContentsMargins(4, 0, 4, 0);
        for (const QStringList& e : eintraege) {
            l->addWidget(baueLegende(e.at(0), e.at(1)));
            l->addWidget(new QLabel(textAusLiteral(e.at(2))));
            l->addSpacing(10);
        }
        l->addStretch(1);
        return w;
    };
    legende_Installierte = baueLegendenZeile(
        QStringLiteral("legende_Installierte"),
        { { QStringLiteral("frame_gruen"), QStringLiteral("rgb(144, 238, 144)"), QStringLiteral("aktuell") },
          { QStringLiteral("frame_gelb"), QStringLiteral("rgb(255, 255, 153)"), QStringLiteral("Update verf&uuml;gbar") },
          { QStringLiteral("frame_rot"), QStringLiteral("rgb(255, 99, 71)"), QStringLiteral("nicht mehr unterst&uuml;tzt") },
          // The table also shows white rows (a version the server does not
          // offer as newer, or one that cannot be compared); say so.
          { QStringLiteral("frame_weiss"), QStringLiteral("white"), QStringLiteral("kein Update vorhanden") } });
    legende_Verfuegbare = baueLegendenZeile(
        QStringLiteral("legende_Verfuegbare"),
        { { QStringLiteral("frame_gruen_2"), QStringLiteral("rgb(144, 238, 144)"), QStringLiteral("bereits installiert") },
          { QStringLiteral("frame_gelb_2"), QStringLiteral("rgb(255, 255, 153)"), QStringLiteral("Update") },
          { QStringLiteral("frame_hellblau"), QStringLiteral("rgb(135, 206, 250)"),
            QStringLiteral("neuer Zeitraum einer bereits installierten Steuererkl&auml;rung") },
          { QStringLiteral("frame_weiss_2"), QStringLiteral("white"), QStringLiteral("weitere Steuererkl&auml;rung") } });
    layout->addWidget(legende_Installierte);
    layout->addWidget(legende_Verfuegbare);
    // A row without a tick box cannot be chosen; its tool tip gives the reason.
    auto* ohneKaestchen = new QLabel(textAusLiteral("Zeilen ohne K&auml;stchen k&ouml;nnen nicht gew&auml;hlt werden "
                                                    "(z. B. nicht kompatibel); den Grund zeigt der Tooltip der Zeile."));
    ohneKaestchen->setObjectName(QStringLiteral("label_OhneKaestchen"));
    ohneKaestchen->setContentsMargins(4, 0, 4, 0);
    layout->addWidget(ohneKaestchen);

    connect(tabWidget, &QTabWidget::currentChanged, this, &DlgPluginManager::on_tabWidget_currentChanged);
    connect(tableViewInstallierte, &QAbstractItemView::activated, this, &DlgPluginManager::pluginAusgewaehltInstallierte);
    connect(tableViewVerfuegbare, &QAbstractItemView::activated, this, &DlgPluginManager::pluginAusgewaehltVerfuegbare);
    connect(tableViewInstallierte, &QAbstractItemView::doubleClicked, this,
            &DlgPluginManager::on_tableViewInstallierte_doubleClicked);
    return tab;
}

QWidget* DlgPluginManager::baueZusammenfassung()
{
    auto* seite = new QWidget(this);
    seite->setObjectName(QStringLiteral("page_2_Zusammenfassung"));
    auto* layout = new QVBoxLayout(seite);
    layout->setContentsMargins(12, 8, 12, 8);
    label_Hinweis_Zusammenfassung = neuesLabel(ueberschrift("Zusammenfassung"), seite,
                                               QStringLiteral("label_Hinweis_Zusammenfassung"));
    layout->addWidget(label_Hinweis_Zusammenfassung);
    textBrowser = new QTextBrowser(seite);
    textBrowser->setObjectName(QStringLiteral("textBrowser"));
    textBrowser->setOpenLinks(false);
    layout->addWidget(textBrowser, 1);
    connect(textBrowser, &QTextBrowser::anchorClicked, this, &DlgPluginManager::on_textBrowser_anchorClicked);
    return seite;
}

QWidget* DlgPluginManager::baueFortschritt()
{
    auto* seite = new QWidget(this);
    seite->setObjectName(QStringLiteral("page_3_Fortschritt"));
    auto* layout = new QVBoxLayout(seite);
    layout->setContentsMargins(24, 24, 24, 24);
    layout->addWidget(neuesLabel(ueberschrift("Aktualisierung"), seite));
    layout->addSpacing(16);
    label_Einzel = neuesLabel(QStringLiteral("Starte ..."), seite, QStringLiteral("label_Einzel"));
    label_Einzel->setTextFormat(Qt::AutoText);
    progressBar_Einzel = new QProgressBar(seite);
    progressBar_Einzel->setObjectName(QStringLiteral("progressBar_Einzel"));
    label_Gesamt = neuesLabel(QStringLiteral("Gesamtfortschritt"), seite, QStringLiteral("label_Gesamt"));
    label_Gesamt->setTextFormat(Qt::AutoText);
    progressBar_Gesamt = new QProgressBar(seite);
    progressBar_Gesamt->setObjectName(QStringLiteral("progressBar_Gesamt"));
    layout->addWidget(label_Einzel);
    layout->addWidget(progressBar_Einzel);
    layout->addSpacing(20);
    layout->addWidget(label_Gesamt);
    layout->addWidget(progressBar_Gesamt);
    layout->addStretch(1);
    return seite;
}

QWidget* DlgPluginManager::baueLizenz()
{
    auto* seite = new QWidget(this);
    seite->setObjectName(QStringLiteral("page_Lizenztext"));
    auto* layout = new QVBoxLayout(seite);
    layout->setContentsMargins(12, 8, 12, 8);
    textBrowser_Lizenztext = new QTextBrowser(seite);
    textBrowser_Lizenztext->setObjectName(QStringLiteral("textBrowser_Lizenztext"));
    textBrowser_Lizenztext->setOpenLinks(false);
    layout->addWidget(textBrowser_Lizenztext, 1);
    radioButton_Zustimmung = new QRadioButton(
        QStringLiteral("Ich stimme dem Lizenzvertrag zu und habe den Datenschutzhinweis (DSGVO) gelesen"), seite);
    radioButton_Zustimmung->setObjectName(QStringLiteral("radioButton_Zustimmung"));
    radioButton_Ablehnung = new QRadioButton(QStringLiteral("Ich stimme dem Lizenzvertrag NICHT zu"), seite);
    radioButton_Ablehnung->setObjectName(QStringLiteral("radioButton_Ablehnung"));
    radioButton_Ablehnung->setChecked(true);
    layout->addWidget(radioButton_Zustimmung);
    layout->addWidget(radioButton_Ablehnung);
    connect(radioButton_Zustimmung, &QRadioButton::toggled, this, &DlgPluginManager::on_radioButton_Zustimmung_toggled);
    connect(radioButton_Ablehnung, &QRadioButton::toggled, this, &DlgPluginManager::on_radioButton_Ablehnung_toggled);
    connect(textBrowser_Lizenztext, &QTextBrowser::anchorClicked, this, &DlgPluginManager::slotAnchorClicked);
    return seite;
}

void DlgPluginManager::verbindeWennVorhanden(const char* signal, const char* slot)
{
    // Some signals belong to the run, which the engine may not offer yet: the
    // wizard follows what it offers and says what it cannot follow.
    const QMetaObject* mo = mp_Engine->metaObject();
    const int s = mo->indexOfSignal(QMetaObject::normalizedSignature(signal).constData());
    const int z = metaObject()->indexOfSlot(QMetaObject::normalizedSignature(slot).constData());
    if (s < 0 || z < 0) {
        IV_LOG_DEBUG(QStringLiteral("Das Signal %1 wird von der Engine nicht angeboten.").arg(QString::fromLatin1(signal)));
        return;
    }
    if (!connect(mp_Engine, mo->method(s), this, metaObject()->method(z)))
        IV_LOG_ERROR(QStringLiteral("Verbindung Signal/Slot konnte nicht hergestellt werden."));
}

void DlgPluginManager::verbindeEngine()
{
    if (mp_Engine) {
        verbindeWennVorhanden("fortschritt(int,int)", "fortschritt(int,int)");
        verbindeWennVorhanden("statusText(QString)", "statusText(QString)");
        verbindeWennVorhanden("statusText2(QString)", "statusText2(QString)");
        verbindeWennVorhanden("downloadFortschritt(int,int)", "fortschritt_Einzel(int,int)");
        verbindeWennVorhanden("aktionenFertig(bool)", "zeigeErgebnis()");
        verbindeWennVorhanden("datenAenderung()", "setzeZustandWeiterKnopf()");
        verbindeWennVorhanden("listenDurchlaufBeendet()", "setzeZustandWeiterKnopf()");
        verbindeWennVorhanden("initialisiert()", "initGui()");
        verbindeWennVorhanden("initStatusText(QString,bool)", "setzeHinweis_StartSeite(QString,bool)");
        verbindeWennVorhanden("sgnDownloadInstaller(bool)", "setzeZustandAbbruchHintergrundDownloadKnopf(bool)");
        verbindeWennVorhanden("sgnInstallerAktiv(bool)", "setzeZustandAbbruchWeiterKnopf(bool)");
        verbindeWennVorhanden("aktionsDurchfuehrung(bool)", "setzeStatusWarteAufEndeAktionen(bool)");
    }
    // A tick in a table changes the plan as much as the engine's own changes do.
    for (DlgPluginManagerDatenmodel* m : { mp_ModelInstalliert, mp_ModelVerfuegbar }) {
        if (m)
            connect(m, &DlgPluginManagerDatenmodel::aenderung, this, &DlgPluginManager::setzeZustandWeiterKnopf);
    }
}

// ---- operations of the entry ---------------------------------------------------------

void DlgPluginManager::setzteTabBenutzerdefiniert(int index)
{
    if (index < 0 || index >= tabWidget_Modi->count()) {
        IV_LOG_ERROR(textAusLiteral("Der neue Wert (%1), f&uuml;r den Index des aktiven Tab, ist nicht g&uuml;ltig.")
                         .arg(index));
        return;
    }
    tabWidget_Modi->setCurrentIndex(index);
}

void DlgPluginManager::updateTableView()
{
    for (QTableView* v : { tableViewInstallierte, tableViewVerfuegbare }) {
        v->resizeColumnsToContents();
        v->horizontalHeader()->setSectionResizeMode(0, QHeaderView::Stretch);
        v->viewport()->update();
    }
    aktualisiereEinfacheHaken();
    setzeZustandWeiterKnopf();
}

void DlgPluginManager::setzeStatusKoras()
{
    const Plugin* installiert = mp_Engine ? mp_Engine->gibPluginKoraInstalliert() : nullptr;
    const Plugin* verfuegbar = mp_Engine ? mp_Engine->gibPluginKoraVerfuegbar() : nullptr;
    const QString keine = QStringLiteral("keine");
    label_VersionInstalliert->setText(installiert ? installiert->gibVersion() : keine);
    label_VersionVerfuegbar->setText(verfuegbar ? verfuegbar->gibVersion() : keine);

    QString farbe;
    QString hinweis;
    bool updateMoeglich = false;
    if (!installiert) {
        farbe = QStringLiteral("tomato");
        hinweis = verfuegbar ? textAusLiteral("Es wurde keine Installation von Fiscalon auf dem PC gefunden.")
                             : textAusLiteral("Es wurde keine Installation von Fiscalon auf dem PC und kein Setup auf "
                                              "dem Server gefunden.");
    } else if (verfuegbar && Plugin::vergleicheVersion(installiert, verfuegbar) == Plugin::ZUSTAND_ANDERES_GROESSER) {
        farbe = QStringLiteral("rgb(255, 255, 153)");
        updateMoeglich = true;
    } else {
        farbe = QStringLiteral("lightGreen");
        if (verfuegbar)
            label_VersionVerfuegbar->setText(installiert->gibVersion());
    }
    frame_Hauptprogramm->setStyleSheet(QStringLiteral("QFrame#frame_Hauptprogramm{background: %1;}").arg(farbe));
    label_Hauptprogramm_Hinweis->setText(hinweis.isEmpty() ? QString() : QStringLiteral("<b>%1</b>").arg(hinweis));
    label_Hauptprogramm_Hinweis->setVisible(!hinweis.isEmpty());

    const QSignalBlocker sperre(checkBox_Aktualisieren);
    checkBox_Aktualisieren->setChecked(updateMoeglich && mp_Engine->istHauptanwendungAktualisieren());
    checkBox_Aktualisieren->setEnabled(updateMoeglich && mb_VollerWizard && mb_AuswahlMoeglich);
}

void DlgPluginManager::zeigeSeite(int seite)
{
    switch (seite) {
    case SCHRITT_START:
        zeigeStartSeite();
        break;
    case SCHRITT_ZUSAMMENFASSUNG:
        zeigeZusammenfassung();
        break;
    case SCHRITT_LIZENZ:
        zeigeLizenz();
        break;
    case SCHRITT_FORTSCHRITT:
        starteFortschritt();
        break;
    case SCHRITT_ERGEBNIS:
        zeigeErgebnis();
        break;
    default:
        IV_LOG_ERROR(QStringLiteral("Die Seite %1 gibt es nicht.").arg(seite));
        break;
    }
}

void DlgPluginManager::naechsteAktion()
{
    naechsterSchritt(true);
}

QString DlgPluginManager::gibHinweisHtml() const
{
    return m_HinweisHtml;
}

QString DlgPluginManager::gibTextBrowserHtml() const
{
    return textBrowser->toHtml();
}

// ---- show / hide -----------------------------------------------------------------------

void DlgPluginManager::show()
{
    DialogVorlage::show();
}

void DlgPluginManager::showEvent(QShowEvent* event)
{
    verbergeHilfeButtonWennNoetig();
    btnAbbrechen->hide();
    btnHerunterladenAbbrechen->setVisible(mb_DownloadLaeuft);
    DialogVorlage::showEvent(event);
}

void DlgPluginManager::hide()
{
    updateTableView();
    DialogVorlage::hide();
}

void DlgPluginManager::showMinimized()
{
    updateTableView();
    DialogVorlage::showMinimized();
}

void DlgPluginManager::verbergeHilfeButtonWennNoetig()
{
    // The help viewer keeps its cache in the home directory; without write
    // access there the help cannot open, so the button would only disappoint.
    if (mb_HilfeGeprueft)
        return;
    mb_HilfeGeprueft = true;
    const QString pfad = QDir::toNativeSeparators(QDir::homePath()) + QDir::separator() + QStringLiteral("tmpFile.txt");
    QFile datei(pfad);
    if (!datei.open(QIODevice::WriteOnly)) {
        btnHilfe->hide();
        return;
    }
    datei.close();
    if (!datei.remove())
        IV_LOG_ERROR(textAusLiteral("Die Datei %1 konnte nicht gel&ouml;scht werden.").arg(pfad));
}

// ---- the start page ------------------------------------------------------------------------

QString DlgPluginManager::hinweisAusServerZustand() const
{
    if (!mp_Engine)
        return QString();
    const int status = mp_Engine->gibServerStatus();
    if (status == 1 || status == 6) {
        QString text = QStringLiteral("Die Verbindung zu dem Update-Server konnte nicht aufgebaut werden.");
        const QString ursache = mp_Engine->gibDownloadManager() ? mp_Engine->gibDownloadManager()->errorString() : QString();
        if (!ursache.isEmpty())
            text += QStringLiteral("<br>Ursache: %1").arg(ursache.toHtmlEscaped());
        return text;
    }
    if (status != 0)
        return QStringLiteral("Bei der Auswertung der Dateien auf dem Update-Server ist ein Fehler aufgetreten.");
    if (mp_ModelVerfuegbar && mp_ModelVerfuegbar->istGefuellt() && !mp_Engine->gibPluginKoraVerfuegbar())
        return textAusLiteral("F&uuml;r das Hauptprogramm und die Steuerberechnung wurde auf dem Server kein Update gefunden.");
    return QString();
}

void DlgPluginManager::initGui()
{
    IV_LOG_EINTRITT();
    if (mp_Ablauf->beendeWennZielNetzlaufwerkIst()) {
        zeigeErgebnis();
        return;
    }
    const Plugin* kora = mp_Engine ? mp_Engine->gibPluginKoraInstalliert() : nullptr;
    mb_AuswahlMoeglich = true;
    setzeStatusKoras();
    const QString serverFehler = hinweisAusServerZustand();
    if (!serverFehler.isEmpty()) {
        setzeHinweis_StartSeite(serverFehler
                                    + textAusLiteral("<br>Eine Installation oder Aktualisierung ist unter diesen "
                                                     "Umst&auml;nden nicht m&ouml;glich!"),
                                true);
        mb_AuswahlMoeglich = false;
    } else if (!kora) {
        setzeHinweis_StartSeite(
            QStringLiteral("Die Installation von Fiscalon ist fehlerhaft. Bitte installieren Sie das Programm neu."), true);
    } else {
        const QDateTime letzte = Einstellungen::getAdminLastUpdateInstallation();
        const QString datum = letzte.isValid()
            ? QStringLiteral("Die letzte Aktualisierung erfolgte am %1.").arg(letzte.toString(QStringLiteral("dd.MM.yyyy HH:mm")))
            : QString();
        QString hinweis;
        if (mp_ModelInstalliert && mp_ModelInstalliert->sindAllePluginsAktuell()) {
            hinweis = QStringLiteral("Die installierten Programmteile sind aktuell. ") + datum;
            if (mp_ModelVerfuegbar && mp_ModelVerfuegbar->gibtAnzahlPluginsZurInstallationEmpfohlen() > 0)
                hinweis += textAusLiteral("<br>Bitte beachten Sie, dass es f&uuml;r ihre bereits installierten "
                                          "Steuererkl&auml;rungen neue Zeitr&auml;ume gibt.");
        } else {
            hinweis = textAusLiteral("Es ist %1 Update verf&uuml;gbar. ")
                          .arg(kora->istKeinUpdatePaket() ? QStringLiteral("kein") : QStringLiteral("ein"))
                + datum;
        }
        setzeHinweis_StartSeite(hinweis.trimmed(), false);
    }
    if (!kora) {
        const QSignalBlocker a(checkBox_alleUpdates);
        const QSignalBlocker b(checkBox_FolgeJahre);
        checkBox_alleUpdates->setCheckState(Qt::Unchecked);
        checkBox_FolgeJahre->setCheckState(Qt::Unchecked);
    }
    setzeAuswahlAktiv(mb_AuswahlMoeglich);
    updateTableView();
    IV_LOG_AUSTRITT();
}

void DlgPluginManager::setzeHinweis_StartSeite(const QString& par_sHinweis, bool par_bFehler)
{
    if (par_sHinweis.isEmpty()) {
        m_HinweisHtml.clear();
        label_Hinweis_Start->clear();
        return;
    }
    QString zelle;
    if (par_bFehler)
        zelle = QStringLiteral("<td style=\"background-color: tomato\"><span style=\"font-size:x-large; "
                               "font-weight:bold\">%1</span></td>")
                    .arg(par_sHinweis);
    else
        zelle = QStringLiteral("<td><span style=\"font-size:large; font-weight:bold\">%1</span></td>").arg(par_sHinweis);
    const QString icon = Icons::gibHtmlBild(par_bFehler ? QStringLiteral("kritisch") : QStringLiteral("information"), 32, 32);
    QString html = QStringLiteral("<table cellpadding=\"4\"><tr><td>%1</td>%2</tr></table>").arg(icon, zelle);
    if (mp_Engine && mp_Engine->istQsTestServer())
        html += QStringLiteral("Es werden folgende Testeinstellungen verwendet: QSTestServerUrl=%1, QSTestServerUrl_Rev=%2")
                    .arg(Einstellungen::getAdminQSTestServerUrl().toHtmlEscaped(),
                         Einstellungen::getAdminQSTestServerUrlRev().toHtmlEscaped());
    m_HinweisHtml = html;
    label_Hinweis_Start->setText(html);
}

void DlgPluginManager::setzeAuswahlAktiv(bool aktiv)
{
    for (QWidget* w : { static_cast<QWidget*>(checkBox_alleUpdates), static_cast<QWidget*>(checkBox_FolgeJahre),
                        static_cast<QWidget*>(tableViewInstallierte), static_cast<QWidget*>(tableViewVerfuegbare) })
        w->setEnabled(aktiv);
    const Plugin* kora = mp_Engine ? mp_Engine->gibPluginKoraInstalliert() : nullptr;
    // Without an installed main application there is nothing to update simply.
    checkBox_alleUpdates->setEnabled(aktiv && kora);
    checkBox_FolgeJahre->setEnabled(aktiv && kora);
    const Plugin* neu = mp_Engine ? mp_Engine->gibPluginKoraVerfuegbar() : nullptr;
    checkBox_Aktualisieren->setEnabled(aktiv && mb_VollerWizard && kora && neu
                                       && Plugin::vergleicheVersion(kora, neu) == Plugin::ZUSTAND_ANDERES_GROESSER);
}

void DlgPluginManager::aktualisiereEinfacheHaken()
{
    if (!mp_Engine)
        return;
    // The engine's plan decides what the boxes show; the wizard setting them
    // must not plan anything itself.
    mb_SetzeHaken = true;
    auto setze = [](QCheckBox* box, PluginManager::Auswahlzustand zustand) {
        const QSignalBlocker sperre(box);
        switch (zustand) {
        case PluginManager::AUSWAHL_ALLE:
            box->setCheckState(Qt::Checked);
            break;
        case PluginManager::AUSWAHL_TEILWEISE:
            // Once the user has clicked the box it only knows on and off.
            box->setCheckState(box->isTristate() ? Qt::PartiallyChecked : Qt::Unchecked);
            break;
        default:
            box->setCheckState(Qt::Unchecked);
            break;
        }
    };
    setze(checkBox_alleUpdates, mp_Engine->gibAuswahlAktualisierungen());
    setze(checkBox_FolgeJahre, mp_Engine->gibAuswahlFolgezeitraueme());
    mb_SetzeHaken = false;
    const QSignalBlocker sperre(checkBox_Aktualisieren);
    checkBox_Aktualisieren->setChecked(mp_Engine->istHauptanwendungAktualisieren());
}

bool DlgPluginManager::istBenutzerdefiniertGezeigt() const
{
    return mi_Schritt == SCHRITT_START && tabWidget_Modi->currentWidget() == tab_Benutzerdefiniert;
}

bool DlgPluginManager::istEinfachGezeigt() const
{
    return mi_Schritt == SCHRITT_START && tabWidget_Modi->currentWidget() == tab_Einfachmodus;
}

void DlgPluginManager::aktualisiereLegende()
{
    const bool installiert = tabWidget->currentWidget() == tab_Installierte;
    legende_Installierte->setVisible(installiert);
    legende_Verfuegbare->setVisible(!installiert);
}

// ---- selection -------------------------------------------------------------------------------

void DlgPluginManager::on_tableViewInstallierte_doubleClicked(const QModelIndex&)
{
    // Activation already toggles the row; a double click adds nothing.
}

void DlgPluginManager::pluginAusgewaehltInstallierte(const QModelIndex& index)
{
    if (mp_ModelInstalliert && index.isValid())
        mp_ModelInstalliert->setData(index, Qt::Checked, Qt::CheckStateRole);
}

void DlgPluginManager::pluginAusgewaehltVerfuegbare(const QModelIndex& index)
{
    if (mp_ModelVerfuegbar && index.isValid())
        mp_ModelVerfuegbar->setData(index, Qt::Checked, Qt::CheckStateRole);
}

void DlgPluginManager::on_checkBox_Aktualisieren_stateChanged(int zustand)
{
    if (!mp_Engine || !mb_VollerWizard)
        return;
    mp_Engine->setzeAktionHauptanwendung(zustand == Qt::Checked);
    updateTableView();
}

// A click on a partly ticked box would step on to "partly" again; from the
// user it always means "all".
static bool klickHeisstAn(QCheckBox* box, int zustand)
{
    if (zustand == Qt::PartiallyChecked) {
        const QSignalBlocker sperre(box);
        box->setTristate(false);
        box->setCheckState(Qt::Checked);
    }
    return zustand != Qt::Unchecked;
}

void DlgPluginManager::on_checkBox_alleUpdates_stateChanged(int zustand)
{
    if (!mp_Engine || mb_SetzeHaken || !istEinfachGezeigt())
        return;
    const bool an = klickHeisstAn(checkBox_alleUpdates, zustand);
    // The main application belongs to "all updates"; it stays selected while
    // the new years need it.
    const Plugin* kora = mp_Engine->gibPluginKoraInstalliert();
    const Plugin* neu = mp_Engine->gibPluginKoraVerfuegbar();
    if (mb_VollerWizard && kora && neu && Plugin::vergleicheVersion(kora, neu) == Plugin::ZUSTAND_ANDERES_GROESSER)
        mp_Engine->setzeAktionHauptanwendung(an || checkBox_FolgeJahre->checkState() != Qt::Unchecked);
    mp_Engine->setzeAktionErneuernInstallierte(an);
    updateTableView();
}

void DlgPluginManager::on_checkBox_FolgeJahre_stateChanged(int zustand)
{
    if (!mp_Engine || mb_SetzeHaken || !istEinfachGezeigt())
        return;
    mp_Engine->setzeAktionVerfuegbareZurInstallationEmpfohlene(klickHeisstAn(checkBox_FolgeJahre, zustand));
    updateTableView();
}

void DlgPluginManager::on_checkBox_alleUpdates_clicked(bool)
{
    // Partly ticked is only ever the engine's state, never a click's.
    checkBox_alleUpdates->setTristate(false);
}

void DlgPluginManager::on_checkBox_FolgeJahre_clicked(bool)
{
    checkBox_FolgeJahre->setTristate(false);
}

void DlgPluginManager::alleMarkieren_Spalte1()
{
    if (!mp_Engine || !istBenutzerdefiniertGezeigt() || !mb_AuswahlMoeglich)
        return;
    if (tabWidget->currentWidget() == tab_Installierte)
        mp_Engine->setzeAlleHakenAktualisieren(true);
    else
        mp_Engine->setzeAlleHakenInstallieren(true);
    updateTableView();
}

void DlgPluginManager::alleMarkierungenEntfernen_Spalte1()
{
    if (!mp_Engine || !istBenutzerdefiniertGezeigt() || !mb_AuswahlMoeglich)
        return;
    if (tabWidget->currentWidget() == tab_Installierte)
        mp_Engine->setzeAlleHakenAktualisieren(false);
    else
        mp_Engine->setzeAlleHakenInstallieren(false);
    updateTableView();
}

void DlgPluginManager::on_tabWidget_Modi_currentChanged(int index)
{
    updateTableView();
    if (mb_VollerWizard)
        Einstellungen::setKoraAnsichtEinfach(tabWidget_Modi->widget(index) == tab_Einfachmodus, gs_DirUserKora);
}

void DlgPluginManager::on_tabWidget_currentChanged(int)
{
    updateTableView();
    aktualisiereLegende();
}

void DlgPluginManager::on_label_Alternativ_linkActivated(const QString&)
{
    tabWidget_Modi->setCurrentWidget(tab_Benutzerdefiniert);
}

void DlgPluginManager::setzeZustandWeiterKnopf()
{
    if (!mp_Engine || (mi_Schritt != SCHRITT_START && mi_Schritt != SCHRITT_ZUSAMMENFASSUNG)
        || mp_Engine->istListenDurchlauf())
        return;
    int schritte = 0;
    mp_Engine->gibAktionen(schritte);
    btnWeiter->setEnabled(schritte > 0);
    aktualisiereEinfacheHaken();
}

// ---- buttons ----------------------------------------------------------------------------------

void DlgPluginManager::slotButtonBoxClicked(QAbstractButton* knopf)
{
    if (knopf == btnWeiter)
        naechsterSchritt(true);
    else if (knopf == btnZurueck)
        naechsterSchritt(false);
    else if (knopf == btnHerunterladenAbbrechen) {
        IV_LOG_INFO(QStringLiteral("Click auf DownloadBeenden"));
        mp_Ablauf->brecheHerunterladenAb();
    } else if (knopf == btnEinstellungen)
        zeigeEinstellungen();
    else if (knopf == btnPruefen)
        pruefeInstallation();
    else if (knopf == btnHilfe)
        slotF1HilfeTriggered();
}

void DlgPluginManager::zeigeEinstellungen()
{
    EinstellungsDialog dlg(this);
    dlg.exec();
}

void DlgPluginManager::pruefeInstallation()
{
    IV_LOG_INFO(textAusLiteral("Click auf Installation pr&uuml;fen"));
    QString bericht;
    QApplication::setOverrideCursor(Qt::WaitCursor);
    const int code = mp_Engine->pruefeAusAssistent(bericht);
    QApplication::restoreOverrideCursor();
    updateTableView();
    setzeStatusKoras();
    QString text = bericht.trimmed().toHtmlEscaped().replace(QLatin1Char('\n'), QLatin1String("<br>"));
    if (code == EXIT_BESCHAEDIGT) {
        text += textAusLiteral("<br><br>Die besch&auml;digten Teile, die der Server ersetzen kann, sind in der "
                               "\"Benutzerdefinierten Auswahl\" zur Reparatur ausgew&auml;hlt.");
        setzteTabBenutzerdefiniert(1);
    }
    ::zeigeMeldung(textAusLiteral("Installation pr&uuml;fen"), text, code == 0 ? 1 : 2);
}

void DlgPluginManager::slotF1Hilfe(const QString& thema)
{
    Hilfe::instanz().zeigeThema(thema.isEmpty() ? gibHilfeThema() : thema);
}

void DlgPluginManager::on_radioButton_Zustimmung_toggled(bool an)
{
    if (an && mi_Schritt == SCHRITT_LIZENZ)
        btnWeiter->setEnabled(true);
}

void DlgPluginManager::on_radioButton_Ablehnung_toggled(bool an)
{
    if (an && mi_Schritt == SCHRITT_LIZENZ)
        btnWeiter->setEnabled(false);
}

void DlgPluginManager::oeffneExtern(const QUrl& url)
{
    if (!QDesktopServices::openUrl(url))
        IV_LOG_ERROR(textAusLiteral("Die Adresse %1 konnte nicht im Browser ge&ouml;ffnet werden.").arg(url.toString()));
}

void DlgPluginManager::slotAnchorClicked(const QUrl& url)
{
    oeffneExtern(url);
}

void DlgPluginManager::on_textBrowser_anchorClicked(const QUrl& url)
{
    oeffneExtern(url);
}

// ---- steps --------------------------------------------------------------------------------------

void DlgPluginManager::setzeSchritt(int schritt)
{
    mi_Schritt = schritt;
    IV_LOG_DEBUG(QStringLiteral("Schritt %1").arg(schritt));
    btnWeiter->setText(schritt == SCHRITT_ERGEBNIS || schritt == SCHRITT_FERTIG ? QStringLiteral("&Fertig")
                                                                                : QStringLiteral("&Weiter"));
    btnWeiter->setIcon(Icons::gibIcon(schritt == SCHRITT_ERGEBNIS || schritt == SCHRITT_FERTIG
                                          ? QStringLiteral("schliessen")
                                          : QStringLiteral("weiter")));
    btnZurueck->setVisible(schritt == SCHRITT_ZUSAMMENFASSUNG || schritt == SCHRITT_LIZENZ);
    btnZurueck->setEnabled(true);
    btnEinstellungen->setEnabled(schritt == SCHRITT_START);
    btnPruefen->setVisible(schritt == SCHRITT_START);
    btnWeiter->setVisible(true);
}

void DlgPluginManager::zeigeStartSeite()
{
    setzeSchritt(SCHRITT_START);
    stackedWidget->setCurrentWidget(page_1_Modi);
    page_1_Modi->setEnabled(true);
    setzeAuswahlAktiv(mb_AuswahlMoeglich);
    updateTableView();
}

void DlgPluginManager::zeigeZusammenfassung()
{
    setzeSchritt(SCHRITT_ZUSAMMENFASSUNG);
    int schritte = 0;
    const QStringList zeilen = mp_Engine ? mp_Engine->gibAktionen(schritte) : QStringList();
    const QString icon = Icons::gibHtmlBild(QStringLiteral("information"), 24, 24);
    QString html = QStringLiteral("<table>");
    for (const QString& zeile : zeilen) {
        const bool achtung = zeile.startsWith(QLatin1String("<b>Achtung!</b>"));
        const QString stil = achtung ? QStringLiteral("style=\"font-size:large; font-weight:bold; color:red\"")
                                     : QStringLiteral("style=\"font-size:large; font-weight:bold\"");
        html += QStringLiteral("<tr><td style=\"padding: 5px\">%1</td><td style=\"padding: 5px\"><span %2>%3</span></td></tr>")
                    .arg(icon, stil, textAusLiteral(zeile));
    }
    if (mp_Engine && mp_Engine->checkSollenAlleInstalliertenGeloeschtUndKeineNeuenInstalliertWerden())
        html += QStringLiteral("<tr><td></td><td><b>Obwohl Sie alle Steuerarten deinstallieren, erfolgt keine "
                               "Deinstallation der Hauptanwendung.</b></td></tr>");
    if (!mp_Ablauf->laeuftMitAdminRechten())
        html += QStringLiteral("<tr><td></td>")
            + textAusLiteral("<td><b>Um die hier aufgef&uuml;hrten Aktionen durchf&uuml;hren zu k&ouml;nnen, ist ein "
                             "Neustart der Installationsverwaltung mit Administratorrechten erforderlich. Dieser "
                             "erfolgt nach dem Dr&uuml;cken auf die Schaltfl&auml;che \"Weiter\".</b></td>")
            + QStringLiteral("</tr>");
    html += QStringLiteral("</table>");
    label_Hinweis_Zusammenfassung->setText(ueberschrift("Zusammenfassung"));
    textBrowser->setHtml(html);
    stackedWidget->setCurrentWidget(page_2_Zusammenfassung);
    btnWeiter->setEnabled(schritte > 0);
}

void DlgPluginManager::zeigeLizenz()
{
    setzeSchritt(SCHRITT_LIZENZ);
    QFile datei(QStringLiteral(":/Lizenzvertrag.htm"));
    if (datei.open(QIODevice::ReadOnly))
        textBrowser_Lizenztext->setHtml(QString::fromUtf8(datei.readAll()));
    else
        IV_LOG_ERROR(QStringLiteral("Der Lizenzvertrag (:/Lizenzvertrag.htm) konnte nicht gelesen werden."));
    stackedWidget->setCurrentWidget(page_Lizenztext);
    btnWeiter->setEnabled(radioButton_Zustimmung->isChecked());
}

void DlgPluginManager::starteFortschritt()
{
    setzeSchritt(SCHRITT_FORTSCHRITT);
    label_Einzel->setText(QStringLiteral("Starte ..."));
    label_Gesamt->setText(QStringLiteral("Gesamtfortschritt"));
    progressBar_Einzel->setRange(0, 100);
    progressBar_Einzel->setValue(0);
    progressBar_Gesamt->setRange(0, 100);
    progressBar_Gesamt->setValue(0);
    stackedWidget->setCurrentWidget(page_3_Fortschritt);
    btnZurueck->hide();
    btnWeiter->setEnabled(false);
}

void DlgPluginManager::naechsterSchritt(bool par_bWeiter)
{
    IV_LOG_DEBUG(QStringLiteral("Schritt %1, %2").arg(mi_Schritt).arg(par_bWeiter ? "weiter" : "zur\u00fcck"));
    switch (mi_Schritt) {
    case SCHRITT_START:
        if (!par_bWeiter)
            return;
        if (tabWidget_Modi->currentWidget() == tab_Benutzerdefiniert) {
            int schritte = 0;
            if (mp_Engine)
                mp_Engine->gibAktionen(schritte);
            if (schritte <= 0) {
                ::zeigeMeldung(QStringLiteral("Hinweis"), textAusLiteral("Es wurde noch keine Aktion ausgew&auml;hlt."), 1);
                return;
            }
        }
        zeigeZusammenfassung();
        return;
    case SCHRITT_ZUSAMMENFASSUNG:
        if (par_bWeiter)
            weiterNachZusammenfassung();
        else
            zeigeStartSeite();
        return;
    case SCHRITT_LIZENZ:
        if (par_bWeiter)
            weiterNachLizenz();
        else
            zeigeZusammenfassung();
        return;
    case SCHRITT_FORTSCHRITT:
        if (!par_bWeiter)
            return;
        {
            const bool fertig = mp_Ablauf->aktionsAusfuehrung();
            // The run is over when it returns; its end signal normally showed
            // the result already. If not, the window must not stay on a page
            // that refuses to close.
            if (!fertig || mi_Schritt == SCHRITT_FORTSCHRITT || mi_Schritt == SCHRITT_AKTIONEN_LAUFEN)
                zeigeErgebnis();
        }
        return;
    case SCHRITT_AKTIONEN_LAUFEN:
        if (par_bWeiter)
            return;
        setzeSchritt(SCHRITT_START);
        zeigeErgebnis();
        return;
    case SCHRITT_ERGEBNIS:
        if (par_bWeiter)
            setzeSchritt(SCHRITT_FERTIG);
        else
            return;
        [[fallthrough]];
    case SCHRITT_FERTIG:
        close();
        return;
    default:
        return;
    }
}

void DlgPluginManager::weiterNachZusammenfassung()
{
    if (mp_Engine) {
        const QStringList namen = mp_Engine->gibPluginsMitMehrAlsVierVZs();
        if (!namen.isEmpty() && mp_Engine->frageAuswahlUeberpruefen(namen)) {
            zeigeStartSeite();
            tabWidget_Modi->setCurrentWidget(tab_Benutzerdefiniert);
            return;
        }
    }
    btnWeiter->setEnabled(false);
    btnZurueck->setEnabled(false);
    const bool beendet = mp_Ablauf->beendeKoras();
    btnWeiter->setEnabled(true);
    btnZurueck->setEnabled(true);
    if (!beendet)
        return;
    if (!Einstellungen::getAdminDsgvoGelesen()) {
        zeigeLizenz();
        return;
    }
    weiterNachLizenz();
}

void DlgPluginManager::weiterNachLizenz()
{
    if (mi_Schritt == SCHRITT_LIZENZ && !Einstellungen::setAdminDsgvoGelesen(true))
        IV_LOG_ERROR(QStringLiteral("Die Zustimmung zum Lizenzvertrag konnte nicht gespeichert werden."));
    if (!mp_Ablauf->laeuftMitAdminRechten()) {
        if (!mp_Ablauf->neuStartMitAdminRechten())
            zeigeUnerwartetenFehler();
        return;
    }
    // This instance may change the installation itself: on to the run.
    starteFortschritt();
    naechsteAktion();
}

void DlgPluginManager::zeigeUnerwartetenFehler()
{
    ::zeigeMeldung(gs_AnwendungsName,
                 QStringLiteral("<b>Entschuldigung! Ein Fehler ist aufgetreten.</b><br><br>Bitte beenden Sie die "
                                "Installationsverwaltung und starten Sie diese erneut."),
                 3);
}

// ---- progress ------------------------------------------------------------------------------------

void DlgPluginManager::fortschritt(int schritt, int anzahl)
{
    progressBar_Gesamt->setRange(0, qMax(0, anzahl));
    progressBar_Gesamt->setValue(qBound(0, schritt, qMax(0, anzahl)));
    zeigeStarterFortschritt(progressBar_Gesamt, progressBar_Einzel);
}

void DlgPluginManager::fortschritt_Einzel(int fertig, int gesamt)
{
    progressBar_Einzel->setRange(0, qMax(0, gesamt));
    progressBar_Einzel->setValue(qBound(0, fertig, qMax(0, gesamt)));
    zeigeStarterFortschritt(progressBar_Gesamt, progressBar_Einzel);
}

void DlgPluginManager::statusText(const QString& text)
{
    label_Einzel->setText(text);
}

void DlgPluginManager::statusText2(const QString& text)
{
    label_Gesamt->setText(text);
}

void DlgPluginManager::setzeZustandAbbruchWeiterKnopf(bool par_bDeaktiv)
{
    btnWeiter->setVisible(!par_bDeaktiv);
    btnZurueck->setEnabled(!par_bDeaktiv);
}

void DlgPluginManager::setzeZustandAbbruchHintergrundDownloadKnopf(bool par_bAktiv)
{
    // The launcher entry shows the progress (see fortschritt); a busy
    // indicator of its own has no counterpart on this desktop.
    mb_DownloadLaeuft = par_bAktiv;
    btnHerunterladenAbbrechen->setVisible(par_bAktiv);
    btnWeiter->setVisible(!par_bAktiv);
    btnZurueck->setEnabled(!par_bAktiv);
}

void DlgPluginManager::setzeStatusWarteAufEndeAktionen(bool par_bAktiv)
{
    mi_Schritt = par_bAktiv ? SCHRITT_AKTIONEN_LAUFEN : SCHRITT_ERGEBNIS;
}

// ---- result ------------------------------------------------------------------------------------------

bool DlgPluginManager::brauchtNeuinstallationsHinweis(const QStringList& fehler)
{
    if (fehler.isEmpty())
        return false;
    for (const QString& f : fehler) {
        for (const char* ohne : kOhneNeuinstallation) {
            if (f.contains(QString::fromUtf8(ohne)) || textAusLiteral(f).contains(QString::fromUtf8(ohne)))
                return false;
        }
    }
    return true;
}

void DlgPluginManager::zeigeErgebnis()
{
    while (QApplication::overrideCursor())
        QApplication::restoreOverrideCursor();
    setzeSchritt(SCHRITT_ERGEBNIS);
    Plattform::zeigeStarterFortschritt(1.0, false);
    btnZurueck->hide();
    btnWeiter->setEnabled(true);
    btnWeiter->setVisible(true);
    btnHerunterladenAbbrechen->hide();

    const QMultiMap<int, QString> meldungen = mp_Ablauf->gibMeldungen();
    // QMultiMap::values gives the latest insertion first; the run's order is wanted.
    QStringList fehler = meldungen.values(1);
    std::reverse(fehler.begin(), fehler.end());
    QStringList erfolge = meldungen.values(0);
    std::reverse(erfolge.begin(), erfolge.end());

    auto zeile = [](const QString& icon, const QString& text) {
        return QStringLiteral("<tr><td style=\"padding: 5px\">%1</td><td style=\"padding: 5px\"><span "
                              "style=\"font-size:large; font-weight:bold\">%2</span></td></tr>")
            .arg(Icons::gibHtmlBild(icon, 24, 24), text);
    };
    QString html = QStringLiteral("<table>");
    for (const QString& f : fehler)
        html += zeile(QStringLiteral("schliessen"), textAusLiteral(f));
    if (brauchtNeuinstallationsHinweis(fehler)) {
        html += zeile(QStringLiteral("optionen"),
                      textAusLiteral("Entschuldigung, w&auml;hrend der Installation der Aktualisierungen kam es zu "
                                     "Fehlern. Bitte versuchen Sie diese mit einer erneuten Ausf&uuml;hrung der "
                                     "Installationsverwaltung zu beseitigen. Wenn auch dies nicht zum Ziel f&uuml;hrt, "
                                     "versuchen Sie es bitte mit einer Neuinstallation. Die Setups f&uuml;r eine "
                                     "Neuinstallation finden Sie unter folgenden Links: <br><br>")
                          + QStringLiteral("<a href=\"%1\">%2</a><br><a href=\"%3\">%4</a><br><a href=\"%5\">%6</a>")
                                .arg(WizardWerte::setupPrivat(), textAusLiteral("Fiscalon f&uuml;r Privatanwender"),
                                     WizardWerte::setupUnternehmer(),
                                     textAusLiteral("Fiscalon f&uuml;r Unternehmer / Selbst&auml;ndige / Arbeitgeber"),
                                     WizardWerte::setupGesamt(), QStringLiteral("Fiscalon im Gesamtumfang")));
    }
    for (const QString& e : erfolge)
        html += zeile(QStringLiteral("ok"), textAusLiteral(e));
    html += QStringLiteral("</table>");
    label_Hinweis_Zusammenfassung->setText(ueberschrift("Ergebnis"));
    textBrowser->setHtml(html);
    stackedWidget->setCurrentWidget(page_2_Zusammenfassung);
}

// ---- closing -----------------------------------------------------------------------------------------

bool DlgPluginManager::beendeLaufendeAktionen()
{
    if (mi_Schritt != SCHRITT_FORTSCHRITT && mi_Schritt != SCHRITT_AKTIONEN_LAUFEN)
        return true;
    if (!mp_Ablauf->abbruchDurchAnwender()) {
        ::zeigeMeldung(gs_AnwendungsName,
                     textAusLiteral("Ein Abbruch ist zu diesem Zeitpunkt nicht m&ouml;glich. "
                                    "<br>Die restlichen Aktionen m&uuml;ssen noch abgeschlossen werden, "
                                    "<br>da sonst eine fehlerhafte Installation entsteht."),
                     2);
    }
    // Cancelled or not, the run ends through the engine, not through the window.
    return false;
}

void DlgPluginManager::dlgNeustartfrage()
{
    if (gs_KoraDir.isEmpty())
        return;
    const QDir programm(QCoreApplication::applicationDirPath());
    QDir eltern(programm);
    if (!eltern.cdUp() || QDir::cleanPath(eltern.absolutePath()) != QDir::cleanPath(QDir(gs_KoraDir).absolutePath()))
        return;
    bool hauptprogramm = false;
    for (const QString& m : mp_Ablauf->gibMeldungen()) {
        if (m.contains(QLatin1String("Das Hauptprogramm und die Steuerberechnung wurden ")))
            hauptprogramm = true;
    }
    if (!hauptprogramm)
        return;
    const int antwort = ::zeigeMeldung(gs_AnwendungsName,
                                     textAusLiteral("Um das Update erfolgreich abzuschlie&szlig;en, ist ein Neustart "
                                                    "des Betriebssystems notwendig. Soll das Betriebssystem jetzt neu "
                                                    "gestartet werden?"),
                                     4, 420, 250);
    if (antwort != 1) {
        IV_LOG_INFO(QStringLiteral("Anwender will den Neustart des Betriebssystems nicht, oder er ist nicht notwendig."));
        return;
    }
    IV_LOG_INFO(QStringLiteral("Die Frage ob das System neu gestartet werden soll wird vom Benutzer mit ja beantwortet."));
    int code = 0;
    if (!mp_Ablauf->starteBetriebssystemNeu(code)) {
        IV_LOG_ERROR(QStringLiteral("Fehler (%1) bei Rebootversuch").arg(code));
        ::zeigeMeldung(gs_AnwendungsName,
                     textAusLiteral("Das Betriebssystem konnte nicht automatisch neu gestartet werden. Um das Update "
                                    "abzuschlie&szlig;en starten Sie bitte das Betriebssystem neu."),
                     2);
    }
}

void DlgPluginManager::closeEvent(QCloseEvent* event)
{
    if (!beendeLaufendeAktionen()) {
        event->ignore();
        return;
    }
    dlgNeustartfrage();
    setResult(QDialog::Rejected);
    event->accept();
}

bool DlgPluginManager::eventFilter(QObject* objekt, QEvent* event)
{
    // Enter on a table row ticks it (the view's activation) and nothing
    // more: passed on, it would also press the default button and leave the page.
    if (event->type() == QEvent::KeyPress
        && (objekt == tableViewInstallierte || objekt == tableViewVerfuegbare)) {
        const int taste = static_cast<QKeyEvent*>(event)->key();
        if (taste == Qt::Key_Return || taste == Qt::Key_Enter) {
            auto* view = static_cast<QTableView*>(objekt);
            if (view->currentIndex().isValid())
                emit view->activated(view->currentIndex());
            return true;
        }
    }
    return DialogVorlage::eventFilter(objekt, event);
}

void DlgPluginManager::reject()
{
    // Escape must obey the same rules as the window's close button.
    close();
}
