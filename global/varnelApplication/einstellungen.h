#pragma once
// Access to the two ini files shared with the main application: tavo.ini
// (machine-wide, administrator) and kora.ini (per user). Every accessor opens
// its own settings object and every setter syncs at once, because the main
// application and the service read the same files while we run.

#include <QDateTime>
#include <QSharedPointer>
#include <QString>
#include <QVariant>

class QSettings;

class Einstellungen
{
public:
    // Date-times are stored as text in this form.
    static const QString datumsFormat;        // "dd.MM.yyyy HH:mm:ss"
    static const QString installationsFormat; // "dd.MM.yyyy HH:mm" of INSTALLATION/Datum

    // Directories; every path ends with a separator, native separators.
    static QString gibDirSystem();      // tavo.ini lives here
    static QString gibDirUserBasis();   // .../fiscalon/
    static QString gibDirUser();        // .../fiscalon/kora/
    static QString gibDirData();        // created
    static QString gibDirIni();         // created
    static QString gibDirTmp();         // created
    static QString gibDirLog(const QString& benutzerVerzeichnis = QString()); // created

    static QString gibTavoIniPfad();
    static QString gibKoraIniPfad(const QString& benutzerVerzeichnis = QString());
    // tavo.ini is shared by every desktop user and by root runs: write it only
    // through speichereTavoIni. The first failure logs one line saying why.
    static QSharedPointer<QSettings> gibTavoIni();
    static bool speichereTavoIni(QSettings& ini, const QString& schluessel);
    static QSharedPointer<QSettings> gibKoraIni(const QString& benutzerVerzeichnis = QString());

    // General accessors.
    static QVariant getAdminWert(const QString& schluessel, const QVariant& vorgabe = QVariant());
    static bool setAdminWert(const QString& schluessel, const QVariant& wert);
    static QVariant getKoraWert(const QString& schluessel, const QVariant& vorgabe = QVariant(),
                                const QString& benutzerVerzeichnis = QString());
    static bool setKoraWert(const QString& schluessel, const QVariant& wert,
                            const QString& benutzerVerzeichnis = QString());

    // Check intervals; a stored text that is no number is logged and gives the default.
    static int getAdminUpdateAutoInterval();
    static int getKoraUpdateAutoInterval(const QString& benutzerVerzeichnis = QString());
    static bool setKoraUpdateAutoInterval(int wert, const QString& benutzerVerzeichnis = QString());

    // "UPDATE/SilentDownload": tavo.ini first, kora.ini when empty there. True
    // for "true"; anything but "true"/"false" clears `bekannt`.
    static bool getSilentDownload(bool& bekannt, const QString& benutzerVerzeichnis = QString());
    static bool setKoraSilentDownload(bool wert, const QString& benutzerVerzeichnis = QString());

    // Proxy passwords live in the key store, never in the files.
    static QString getAdminProxyPassword();
    static bool setAdminProxyPassword(const QString& passwort);
    static QString getKoraProxyPassword(const QString& benutzerVerzeichnis = QString());
    static bool setKoraProxyPassword(const QString& passwort, const QString& benutzerVerzeichnis = QString());

    static QDateTime alsDatum(const QVariant& wert, const QString& format = datumsFormat);
    static QString alsText(const QDateTime& wert) { return wert.toString(datumsFormat); }

// ---- tavo.ini -----------------------------------------------------------
#define IV_ADMIN_LESEN(Typ, Name, Schluessel, Vorgabe) \
    static Typ getAdmin##Name() { return getAdminWert(QStringLiteral(Schluessel), Vorgabe).value<Typ>(); }
#define IV_ADMIN_SCHREIBEN(Typ, Name, Schluessel) \
    static bool setAdmin##Name(const Typ& wert) { return setAdminWert(QStringLiteral(Schluessel), wert); }

    IV_ADMIN_LESEN(bool, LogDebug, "LOG/Debug", false)
    IV_ADMIN_LESEN(bool, SilentUpdate, "UPDATE/SilentUpdate", false)
    IV_ADMIN_LESEN(QString, SilentDownload, "UPDATE/SilentDownload", QString())
    IV_ADMIN_LESEN(QString, QSTestServerUrl, "UPDATE/QSTestServerUrl", QString())
    IV_ADMIN_LESEN(QString, QSTestServerUrlRev, "UPDATE/QSTestServerUrl_Rev", QString())
    IV_ADMIN_LESEN(QString, QsServerHinweisVerzeichnis, "QS/QsServerHinweisVerzeichnis", QString())
    IV_ADMIN_LESEN(bool, Service, "INSTALLATION/Service", true)
    IV_ADMIN_LESEN(QString, MsiPath, "INSTALLATION/MSI_Path", QString())
    IV_ADMIN_LESEN(QString, Productcode, "INSTALLATION/Productcode", QString())
    IV_ADMIN_LESEN(int, Quelle, "INSTALLATION/Quelle", 1)
    IV_ADMIN_LESEN(QString, Variante, "INSTALLATION/Variante", QStringLiteral("unbekannt"))
    IV_ADMIN_SCHREIBEN(QString, Variante, "INSTALLATION/Variante")
    IV_ADMIN_LESEN(QString, SonderVersion, "INSTALLATION/SonderVersion", QString())
    IV_ADMIN_LESEN(bool, DsgvoGelesen, "DSGVO/gelesen", false)
    IV_ADMIN_SCHREIBEN(bool, DsgvoGelesen, "DSGVO/gelesen")
    IV_ADMIN_LESEN(QString, ProxyProfil, "PROXY/Profil", QString())
    IV_ADMIN_SCHREIBEN(QString, ProxyProfil, "PROXY/Profil")
    IV_ADMIN_LESEN(QString, ProxyAdresse, "PROXY/Adresse", QString())
    IV_ADMIN_SCHREIBEN(QString, ProxyAdresse, "PROXY/Adresse")
    IV_ADMIN_LESEN(int, ProxyAnschluss, "PROXY/Anschluss", 0)
    IV_ADMIN_SCHREIBEN(int, ProxyAnschluss, "PROXY/Anschluss")
    IV_ADMIN_LESEN(QString, ProxyBenutzer, "PROXY/Benutzer", QString())
    IV_ADMIN_SCHREIBEN(QString, ProxyBenutzer, "PROXY/Benutzer")
    IV_ADMIN_LESEN(bool, ProxyAdminDialog, "PROXY/AdminDialog", false)
    IV_ADMIN_SCHREIBEN(bool, ProxyAdminDialog, "PROXY/AdminDialog")
    IV_ADMIN_LESEN(bool, ProxyPruefung, "PROXY/Pruefung", true)
    IV_ADMIN_SCHREIBEN(bool, ProxyPruefung, "PROXY/Pruefung")
    IV_ADMIN_LESEN(bool, ProxySystemeinstellung, "PROXY/Systemeinstellung", false)
    IV_ADMIN_SCHREIBEN(bool, ProxySystemeinstellung, "PROXY/Systemeinstellung")
    IV_ADMIN_LESEN(bool, ProxyXorHostNameLookupCapability, "PROXY/XorHostNameLookupCapability", false)
    // Only the main application evaluates these; passed through unchanged.
    IV_ADMIN_LESEN(QVariant, KoraClient, "INSTALLATIONSVERWALTUNG/KoraClient", QVariant())
    IV_ADMIN_LESEN(QVariant, KoraServer, "INSTALLATIONSVERWALTUNG/KoraServer", QVariant())
    IV_ADMIN_LESEN(QVariant, PluginClient, "INSTALLATIONSVERWALTUNG/PluginClient", QVariant())
    IV_ADMIN_LESEN(QVariant, PluginServer, "INSTALLATIONSVERWALTUNG/PluginServer", QVariant())
#undef IV_ADMIN_LESEN
#undef IV_ADMIN_SCHREIBEN

    static QDateTime getAdminLastUpdate();
    static QString getAdminLastUpdateText();
    static bool setAdminLastUpdate(const QDateTime& wann = QDateTime());
    static QDateTime getAdminLastUpdateInstallation();
    static bool setAdminLastUpdateInstallation(const QDateTime& wann);
    static QDateTime getAdminInstallationDatum();
    static QDateTime getAdminNeustartEmpfehlung();
    static bool setAdminNeustartEmpfehlung();
    // Stored enclosed in double quotes, which the main application expects.
    static QString getAdminErrorShortText();
    static bool setAdminErrorShortText(const QString& text);
    static QString getAdminErrorLongText();
    static bool setAdminErrorLongText(const QString& text);

// ---- kora.ini -----------------------------------------------------------
#define IV_KORA_LESEN(Typ, Name, Schluessel, Vorgabe) \
    static Typ getKora##Name(const QString& benutzerVerzeichnis = QString()) \
    { return getKoraWert(QStringLiteral(Schluessel), Vorgabe, benutzerVerzeichnis).value<Typ>(); }
#define IV_KORA_SCHREIBEN(Typ, Name, Schluessel) \
    static bool setKora##Name(const Typ& wert, const QString& benutzerVerzeichnis = QString()) \
    { return setKoraWert(QStringLiteral(Schluessel), wert, benutzerVerzeichnis); }
#define IV_KORA(Typ, Name, Schluessel, Vorgabe) \
    IV_KORA_LESEN(Typ, Name, Schluessel, Vorgabe) IV_KORA_SCHREIBEN(Typ, Name, Schluessel)

    IV_KORA_LESEN(QString, SilentDownload, "UPDATE/SilentDownload", QString())
    IV_KORA(bool, InternetAccessDialog, "UPDATE/InternetAccessDialog", true)
    IV_KORA(bool, InternetAccessDialogAntwort, "UPDATE/InternetAccessDialogAntwort", true)
    IV_KORA(bool, AnsichtEinfach, "INSTALLATIONSVERWALTUNG/AnsichtEinfach", true)
    IV_KORA(bool, AlleAktualisierungen, "INSTALLATIONSVERWALTUNG/AlleAktualisierungen", true)
    IV_KORA(bool, AlleFolgeJahre, "INSTALLATIONSVERWALTUNG/AlleFolgeJahre", true)
    IV_KORA(bool, SortiereInstallierteNachJahren, "INSTALLATIONSVERWALTUNG/SortiereInstallierteNachJahren", false)
    IV_KORA(bool, SortiereVerfuegbareNachJahren, "INSTALLATIONSVERWALTUNG/SortiereVerfuegbareNachJahren", false)
    IV_KORA(bool, SortiereInstallierteAufsteigend, "INSTALLATIONSVERWALTUNG/SortiereInstallierteAufsteigend", true)
    IV_KORA(bool, SortiereVerfuegbareAufsteigend, "INSTALLATIONSVERWALTUNG/SortiereVerfuegbareAufsteigend", true)
    IV_KORA(QString, ProxyProfil, "PROXY/Profil", QStringLiteral("deaktiviert"))
    IV_KORA(bool, ProxyAutomatischeEinstellung, "PROXY/AutomatischeEinstellung", false)
    IV_KORA(QString, ProxyAdresse, "PROXY/Adresse", QString())
    IV_KORA(int, ProxyAnschluss, "PROXY/Anschluss", 0)
    IV_KORA(QString, ProxyBenutzer, "PROXY/Benutzer", QString())
    IV_KORA(bool, PdfNutzeSystemEinstellungZumOeffnen, "PDF/NutzeSystemEinstellungZumOeffnen", true)
    IV_KORA(QString, PdfAnzeigeProgramm, "PDF/PDFAnzeigeProgramm", QString())
    IV_KORA(int, HilfeZoomLevel, "hilfe/zoomLevel", 0)
    IV_KORA(bool, HinweisGesetzestexteNichtMehrAnzeigen,
            "dialoge/hinweisAktualitaetExterneGesetzestexteNichtMehrAnzeigen", false)
#undef IV_KORA
#undef IV_KORA_LESEN
#undef IV_KORA_SCHREIBEN

    static QDateTime getKoraFrageWenigerPluginsDatum(const QString& benutzerVerzeichnis = QString());
    static bool setKoraFrageWenigerPluginsDatum(const QDateTime& wann, const QString& benutzerVerzeichnis = QString());
    // Read from the default user directory only.
    static bool getKoraEntwicklertools();
};
