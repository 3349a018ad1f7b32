// The window half of the platform layer; lives in the dialog library because
// it needs widgets.
#include "global/plattform/plattform.h"

#include <QByteArray>
#include <QTimer>
#include <QWidget>
#include <cstdlib>
#include <cstring>
#include <xcb/xcb.h>
#include <xcb/xcb_ewmh.h>

namespace Plattform {

void fensterNachVorne(QWidget* fenster)
{
    if (!fenster)
        return;
    fenster->setWindowState((fenster->windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
    // Stays-on-top for a moment lifts the window above others even where the
    // window manager refuses a plain activation request; then back to normal.
    const bool warSichtbar = fenster->isVisible();
    fenster->setWindowFlag(Qt::WindowStaysOnTopHint, true);
    if (warSichtbar)
        fenster->show();
    fenster->raise();
    fenster->activateWindow();
    fenster->setWindowFlag(Qt::WindowStaysOnTopHint, false);
    if (warSichtbar)
        fenster->show();
}

} // namespace Plattform

// ---- windows of other programs (X11, EWMH) --------------------------------
//
// The window manager keeps the list of managed windows (_NET_CLIENT_LIST) and
// closes windows on request (_NET_CLOSE_WINDOW). Without a window manager (a
// bare X server, as in tests and some kiosk set-ups) we fall back to the
// top-level children of the root window and the ICCCM close request that
// every toolkit answers (WM_DELETE_WINDOW), so the programs still get the
// chance to save and end cleanly. We never kill a client.

namespace Plattform {

namespace {

constexpr int maxTitelLaenge = 256;

class X11Verbindung
{
public:
    X11Verbindung()
    {
        const QByteArray anzeige = qgetenv("DISPLAY");
        if (anzeige.isEmpty()) {
            m_fehler = QStringLiteral("Keine X11-Anzeige (DISPLAY ist leer).");
            return;
        }
        m_c = xcb_connect(anzeige.constData(), &m_bildschirm);
        if (!m_c || xcb_connection_has_error(m_c)) {
            m_fehler = QStringLiteral("Keine Verbindung zur X11-Anzeige %1.").arg(QString::fromLocal8Bit(anzeige));
            return;
        }
        xcb_intern_atom_cookie_t* kekse = xcb_ewmh_init_atoms(m_c, &m_ewmh);
        if (!kekse || !xcb_ewmh_init_atoms_replies(&m_ewmh, kekse, nullptr)) {
            m_fehler = QStringLiteral("Die EWMH-Atome der X11-Anzeige konnten nicht gelesen werden.");
            return;
        }
        m_ewmhOk = true;
        if (m_bildschirm < 0 || m_bildschirm >= m_ewmh.nb_screens || !m_ewmh.screens[m_bildschirm]) {
            m_fehler = QStringLiteral("Der X11-Bildschirm %1 existiert nicht.").arg(m_bildschirm);
            return;
        }
        m_wurzel = m_ewmh.screens[m_bildschirm]->root;
        m_ok = true;
    }
    ~X11Verbindung()
    {
        if (m_ewmhOk)
            xcb_ewmh_connection_wipe(&m_ewmh);
        if (m_c)
            xcb_disconnect(m_c);
    }
    X11Verbindung(const X11Verbindung&) = delete;
    X11Verbindung& operator=(const X11Verbindung&) = delete;

    bool ok() const { return m_ok; }
    QString fehler() const { return m_fehler; }
    xcb_connection_t* c() const { return m_c; }
    xcb_ewmh_connection_t* ewmh() { return &m_ewmh; }
    int bildschirm() const { return m_bildschirm; }
    xcb_window_t wurzel() const { return m_wurzel; }

    // Whether the window manager announces `atom` in _NET_SUPPORTED.
    bool unterstuetzt(xcb_atom_t atom)
    {
        xcb_ewmh_get_atoms_reply_t liste;
        if (!xcb_ewmh_get_supported_reply(&m_ewmh, xcb_ewmh_get_supported(&m_ewmh, m_bildschirm), &liste, nullptr))
            return false;
        bool ja = false;
        for (uint32_t i = 0; i < liste.atoms_len && !ja; ++i)
            ja = (liste.atoms[i] == atom);
        xcb_ewmh_get_atoms_reply_wipe(&liste);
        return ja;
    }

    xcb_atom_t atom(const char* name)
    {
        xcb_intern_atom_reply_t* antwort
            = xcb_intern_atom_reply(m_c, xcb_intern_atom(m_c, 0, uint16_t(std::strlen(name)), name), nullptr);
        if (!antwort)
            return XCB_ATOM_NONE;
        const xcb_atom_t a = antwort->atom;
        std::free(antwort);
        return a;
    }

    // Whether the window still exists; a stale id must not be sent anything.
    bool gibtEs(xcb_window_t fenster)
    {
        xcb_get_window_attributes_reply_t* a
            = xcb_get_window_attributes_reply(m_c, xcb_get_window_attributes(m_c, fenster), nullptr);
        if (!a)
            return false;
        std::free(a);
        return true;
    }

    QString titel(xcb_window_t fenster)
    {
        QString t;
        xcb_ewmh_get_utf8_strings_reply_t name;
        if (xcb_ewmh_get_wm_name_reply(&m_ewmh, xcb_ewmh_get_wm_name(&m_ewmh, fenster), &name, nullptr)) {
            t = QString::fromUtf8(name.strings, int(name.strings_len));
            xcb_ewmh_get_utf8_strings_reply_wipe(&name);
        } else {
            // Older programs set only WM_NAME, in Latin-1.
            xcb_get_property_reply_t* r = xcb_get_property_reply(
                m_c, xcb_get_property(m_c, 0, fenster, XCB_ATOM_WM_NAME, XCB_GET_PROPERTY_TYPE_ANY, 0, maxTitelLaenge),
                nullptr);
            if (r) {
                const int laenge = xcb_get_property_value_length(r);
                if (r->format == 8 && laenge > 0) {
                    const char* daten = static_cast<const char*>(xcb_get_property_value(r));
                    t = (r->type == m_ewmh.UTF8_STRING) ? QString::fromUtf8(daten, laenge)
                                                        : QString::fromLatin1(daten, laenge);
                }
                std::free(r);
            }
        }
        // A terminating NUL some programs include is no part of the title.
        const int nul = t.indexOf(QChar(0));
        if (nul >= 0)
            t.truncate(nul);
        return t.left(maxTitelLaenge);
    }

private:
    xcb_connection_t* m_c = nullptr;
    xcb_ewmh_connection_t m_ewmh {};
    int m_bildschirm = 0;
    xcb_window_t m_wurzel = XCB_WINDOW_NONE;
    bool m_ewmhOk = false;
    bool m_ok = false;
    QString m_fehler;
};

void setzeFehler(QString* fehler, const QString& text)
{
    if (fehler)
        *fehler = text;
}

// Without a window manager: the mapped top-level windows that are no popups.
QList<xcb_window_t> sichtbareKinderDerWurzel(X11Verbindung& x)
{
    QList<xcb_window_t> ergebnis;
    xcb_query_tree_reply_t* baum = xcb_query_tree_reply(x.c(), xcb_query_tree(x.c(), x.wurzel()), nullptr);
    if (!baum)
        return ergebnis;
    const xcb_window_t* kinder = xcb_query_tree_children(baum);
    const int anzahl = xcb_query_tree_children_length(baum);
    for (int i = 0; i < anzahl; ++i) {
        xcb_get_window_attributes_reply_t* a
            = xcb_get_window_attributes_reply(x.c(), xcb_get_window_attributes(x.c(), kinder[i]), nullptr);
        if (!a)
            continue;
        if (a->map_state == XCB_MAP_STATE_VIEWABLE && !a->override_redirect)
            ergebnis << kinder[i];
        std::free(a);
    }
    std::free(baum);
    return ergebnis;
}

} // namespace

QList<FremdesFenster> gibFremdeFenster(QString* fehler)
{
    QList<FremdesFenster> ergebnis;
    X11Verbindung x;
    if (!x.ok()) {
        setzeFehler(fehler, x.fehler());
        return ergebnis;
    }
    QList<xcb_window_t> fenster;
    xcb_ewmh_get_windows_reply_t liste;
    if (xcb_ewmh_get_client_list_reply(x.ewmh(), xcb_ewmh_get_client_list(x.ewmh(), x.bildschirm()), &liste,
                                       nullptr)) {
        for (uint32_t i = 0; i < liste.windows_len; ++i)
            fenster << liste.windows[i];
        xcb_ewmh_get_windows_reply_wipe(&liste);
    } else {
        fenster = sichtbareKinderDerWurzel(x);
    }
    for (xcb_window_t f : fenster) {
        const QString titel = x.titel(f);
        if (titel.isEmpty())
            continue;
        uint32_t pid = 0;
        if (!xcb_ewmh_get_wm_pid_reply(x.ewmh(), xcb_ewmh_get_wm_pid(x.ewmh(), f), &pid, nullptr))
            pid = 0;
        ergebnis.append({ quint64(f), titel, qint64(pid) });
    }
    return ergebnis;
}

// The connection works and the window still exists; otherwise the reason.
static bool erreicheFenster(X11Verbindung& x, xcb_window_t f, QString* fehler)
{
    if (!x.ok()) {
        setzeFehler(fehler, x.fehler());
        return false;
    }
    if (!x.gibtEs(f)) {
        setzeFehler(fehler, QStringLiteral("Das Fenster 0x%1 existiert nicht mehr.").arg(quint64(f), 0, 16));
        return false;
    }
    return true;
}

bool fremdesFensterNachVorne(quint64 id, QString* fehler)
{
    X11Verbindung x;
    const xcb_window_t f = xcb_window_t(id);
    if (!erreicheFenster(x, f, fehler))
        return false;
    if (x.unterstuetzt(x.ewmh()->_NET_ACTIVE_WINDOW)) {
        xcb_ewmh_request_change_active_window(x.ewmh(), x.bildschirm(), f, XCB_EWMH_CLIENT_SOURCE_TYPE_OTHER,
                                              XCB_CURRENT_TIME, XCB_WINDOW_NONE);
    }
    if (x.unterstuetzt(x.ewmh()->_NET_WM_STATE_ABOVE)) {
        // On top for a moment, then back to normal stacking.
        xcb_ewmh_request_change_wm_state(x.ewmh(), x.bildschirm(), f, XCB_EWMH_WM_STATE_ADD,
                                         x.ewmh()->_NET_WM_STATE_ABOVE, XCB_ATOM_NONE,
                                         XCB_EWMH_CLIENT_SOURCE_TYPE_OTHER);
        xcb_ewmh_request_change_wm_state(x.ewmh(), x.bildschirm(), f, XCB_EWMH_WM_STATE_REMOVE,
                                         x.ewmh()->_NET_WM_STATE_ABOVE, XCB_ATOM_NONE,
                                         XCB_EWMH_CLIENT_SOURCE_TYPE_OTHER);
    } else {
        const uint32_t oben = XCB_STACK_MODE_ABOVE;
        xcb_configure_window(x.c(), f, XCB_CONFIG_WINDOW_STACK_MODE, &oben);
    }
    xcb_flush(x.c());
    return true;
}

bool schliesseFremdesFenster(quint64 id, QString* fehler)
{
    X11Verbindung x;
    const xcb_window_t f = xcb_window_t(id);
    if (!erreicheFenster(x, f, fehler))
        return false;
    if (x.unterstuetzt(x.ewmh()->_NET_CLOSE_WINDOW)) {
        xcb_ewmh_request_close_window(x.ewmh(), x.bildschirm(), f, XCB_CURRENT_TIME,
                                      XCB_EWMH_CLIENT_SOURCE_TYPE_OTHER);
        xcb_flush(x.c());
        return true;
    }
    // No window manager to ask: send the ICCCM request ourselves, but only to
    // a window that says it understands it.
    const xcb_atom_t protokolle = x.atom("WM_PROTOCOLS");
    const xcb_atom_t loeschen = x.atom("WM_DELETE_WINDOW");
    bool versteht = false;
    if (protokolle != XCB_ATOM_NONE && loeschen != XCB_ATOM_NONE) {
        xcb_get_property_reply_t* r = xcb_get_property_reply(
            x.c(), xcb_get_property(x.c(), 0, f, protokolle, XCB_ATOM_ATOM, 0, 64), nullptr);
        if (r) {
            if (r->format == 32) {
                const auto* atome = static_cast<const xcb_atom_t*>(xcb_get_property_value(r));
                const int anzahl = xcb_get_property_value_length(r) / int(sizeof(xcb_atom_t));
                for (int i = 0; i < anzahl && !versteht; ++i)
                    versteht = (atome[i] == loeschen);
            }
            std::free(r);
        }
    }
    if (!versteht) {
        setzeFehler(fehler, QStringLiteral("Das Fenster 0x%1 nimmt keine Aufforderung zum Schliessen an.").arg(id, 0, 16));
        return false;
    }
    xcb_client_message_event_t ereignis;
    std::memset(&ereignis, 0, sizeof(ereignis));
    ereignis.response_type = XCB_CLIENT_MESSAGE;
    ereignis.format = 32;
    ereignis.window = f;
    ereignis.type = protokolle;
    ereignis.data.data32[0] = loeschen;
    ereignis.data.data32[1] = XCB_CURRENT_TIME;
    xcb_generic_error_t* fehlerX = xcb_request_check(
        x.c(), xcb_send_event_checked(x.c(), 0, f, XCB_EVENT_MASK_NO_EVENT, reinterpret_cast<const char*>(&ereignis)));
    if (fehlerX) {
        setzeFehler(fehler, QStringLiteral("X11-Fehler %1 beim Schliessen des Fensters 0x%2.")
                                .arg(int(fehlerX->error_code))
                                .arg(id, 0, 16));
        std::free(fehlerX);
        return false;
    }
    return true;
}

} // namespace Plattform
