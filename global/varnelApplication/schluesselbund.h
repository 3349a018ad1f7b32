#pragma once
// The encrypted key store for the proxy passwords (service "fiscalon").
// Blocking calls: each waits for the key store in a local event loop, so a
// QCoreApplication must exist.

#include <QString>

namespace Schluesselbund {

QString dienst();          // "fiscalon"
QString proxyPasswort();   // "proxy-password", the user's proxy
QString adminPasswort();   // "admin-password", the administrator's proxy

bool schreibe(const QString& schluessel, const QString& passwort, QString* fehler = nullptr);
// A missing entry reads as an empty password and is no error.
bool lese(const QString& schluessel, QString& passwort, QString* fehler = nullptr);
bool loesche(const QString& schluessel, QString* fehler = nullptr);

} // namespace Schluesselbund
