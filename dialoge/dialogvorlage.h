#pragma once
// The frame every dialog of the program shares: a painted title strip with
// icon, a rich-text content area, an optional "do not show again" box and the
// button row help / OK / cancel.

#include <QDialog>
#include <QTextBrowser>

class QAbstractButton;
class QAction;
class QCheckBox;
class QDialogButtonBox;
class QFrame;
class QLabel;
class QPushButton;
class QVBoxLayout;

class DialogVorlageTitelWidget : public QWidget
{
    Q_OBJECT
public:
    explicit DialogVorlageTitelWidget(QWidget* parent = nullptr);
    void setzeText(const QString& text);
    void setzeIcon(const QPixmap& pixmap);
    QString gibText() const;
    void setzeFarbe(const QColor& farbe);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QLabel* m_lblIcon;
    QLabel* m_lblText;
    QColor m_farbe;
};

// A read-only text browser whose height follows its width, so the dialog
// grows with its text instead of showing a scroll bar.
class InhaltTextBrowser : public QTextBrowser
{
    Q_OBJECT
public:
    explicit InhaltTextBrowser(QWidget* parent = nullptr);
    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int breite) const override;
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;
};

class DialogVorlage : public QDialog
{
    Q_OBJECT
public:
    explicit DialogVorlage(QWidget* parent = nullptr);
    ~DialogVorlage() override;

    // Title strip, icon (by resource name) and content.
    void setzeTitel(const QString& titel);
    void setzeIcon(const QString& iconName);
    void setzeInhalt(const QString& html);
    QString gibInhalt() const;
    void setzeHilfeThema(const QString& thema) { m_hilfeThema = thema; }
    QString gibHilfeThema() const { return m_hilfeThema; }
    void zeigeNichtMehrAnzeigen(bool ja);
    bool istNichtMehrAnzeigenGewaehlt() const;
    void zeigeHilfeKnopf(bool ja);

    QPushButton* gibOkKnopf() const { return btnOk; }
    QPushButton* gibAbbrechenKnopf() const { return btnAbbrechen; }
    QPushButton* gibHilfeKnopf() const { return btnHilfe; }
    QDialogButtonBox* gibKnopfLeiste() const { return btnBox; }
    // Where derived dialogs put their own widgets, between content and buttons.
    QVBoxLayout* gibZusatzLayout() const { return m_zusatz; }

    // Kinds 1 information, 2 warning, 3 critical, 4 question. Returns 1 when
    // the accepting button was pressed.
    static int zeigeMeldung(const QString& titel, const QString& text, int art, int breite = 0, int hoehe = 0,
                            const QString& textKnopf1 = QString(), const QString& textKnopf2 = QString());
    static int zeigeMeldungAbschaltbar(const QString& titel, const QString& text, int art, int breite, int hoehe,
                                       const QString& textKnopf1, const QString& textKnopf2,
                                       const QString& iniDatei, const QString& schluessel);

signals:
    void signalF1Hilfe(const QString& par_qsThema);

public slots:
    void slotF1HilfeTriggered();
    void slotButtonBoxClicked(QAbstractButton* knopf);

protected:
    DialogVorlageTitelWidget* m_wgtTitel;
    QLabel* m_lblInhaltIcon;
    InhaltTextBrowser* txtInhalt;
    QFrame* frmTrennerInhalt;
    QCheckBox* ckbNichtMehrAnzeigen;
    QDialogButtonBox* btnBox;
    QPushButton* btnHilfe;
    QPushButton* btnOk;
    QPushButton* btnAbbrechen;
    QAction* m_actF1Hilfe;
    QVBoxLayout* m_zusatz;
    QString m_hilfeThema;

private:
    static DialogVorlage* baueMeldung(const QString& titel, const QString& text, int art, int breite, int hoehe,
                                      const QString& textKnopf1, const QString& textKnopf2);
    static int fuehreAus(DialogVorlage* dlg);
};
