#pragma once
// Keys and signatures on the publisher's side (the engine only verifies).

#include <QByteArray>
#include <QString>

namespace Schluessel {

// A new RSA key pair (public exponent 65537) as PEM: PKCS#8 "PRIVATE KEY" and
// X.509 "PUBLIC KEY".
bool erzeugePaar(int bits, QByteArray& privatPem, QByteArray& oeffentlichPem, QString& fehler);

// RSASSA-PSS, SHA-1, MGF1 with SHA-1, salt 20 bytes: the raw signature.
// privatPem may be PKCS#8 ("PRIVATE KEY") or PKCS#1 ("RSA PRIVATE KEY").
bool signiere(const QByteArray& daten, const QByteArray& privatPem, QByteArray& signatur, QString& fehler);

// The public half of a private key, as X.509 "PUBLIC KEY" PEM: lets the
// server-tree command check that the parts were signed with the same key.
bool oeffentlichAusPrivat(const QByteArray& privatPem, QByteArray& oeffentlichPem, QString& fehler);

// Writes atomically; the private key gets owner-only permissions.
bool schreibeDatei(const QString& pfad, const QByteArray& inhalt, bool privat, QString& fehler);

// Signs a file into its companion (Crypto::signaturPfad: ".sig" or "_v2.sig").
bool signiereDatei(const QString& pfad, const QByteArray& privatPem, QString& signaturPfad, QString& fehler);

} // namespace Schluessel
