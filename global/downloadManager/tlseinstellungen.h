#pragma once
// The manager's TLS rules, shared by every connection of the process.

#include <QByteArray>
#include <QList>
#include <QSslError>
#include <QString>

namespace TlsEinstellungen {

// TLS 1.2 exactly and the four ECDHE-GCM ciphers, installed as the process-wide
// default so that every later connection uses them.
void installiereStandard();
// "QSslError::HostNameMismatch" and so on; empty for values we do not name.
QString fehlerName(QSslError::SslError fehler);
// DEBUG lines about a new connection: cipher, protocol ("TLSv1.2") and the
// server's certificate (DER).
void protokolliereVerbindung(const QString& chiffre, const QString& protokoll, const QByteArray& zertifikatDer);

} // namespace TlsEinstellungen
