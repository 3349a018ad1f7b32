#pragma once
// The manager's TLS rules, shared by every connection of the process.

#include <QList>
#include <QSslError>
#include <QString>

class QNetworkReply;

namespace TlsEinstellungen {

// TLS 1.2 exactly and the four ECDHE-GCM ciphers, installed as the process-wide
// default so that every later connection uses them.
void installiereStandard();
// "QSslError::HostNameMismatch" and so on; empty for values we do not name.
QString fehlerName(QSslError::SslError fehler);
// DEBUG lines about the negotiated connection and the server certificate.
void protokolliereVerbindung(const QNetworkReply* reply);

} // namespace TlsEinstellungen
