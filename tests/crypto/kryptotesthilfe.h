#pragma once
// Shared by the crypto, dictionary and publishing-tool tests: running the
// publishing tool, files and their checksums.

#include <QCryptographicHash>
#include <QtTest>

#include "testhilfe/pruefhilfe.h"
#include "testhilfe/testumgebung.h"

namespace KryptoTest {

inline void schreibe(const QString& pfad, const QByteArray& inhalt) { TestUmgebung::schreibeDatei(pfad, inhalt); }
inline QByteArray lese(const QString& pfad) { return TestUmgebung::leseDatei(pfad); }

inline QString md5(const QByteArray& b)
{
    return QString::fromLatin1(QCryptographicHash::hash(b, QCryptographicHash::Md5).toHex());
}

#ifdef IV_VEROEFFENTLICHEN
// Tests that only sign with openssl need not build the publishing tool.
inline Lauf werkzeug(const QStringList& argumente)
{
    return starte(QStringLiteral(IV_VEROEFFENTLICHEN), argumente);
}
#endif

} // namespace KryptoTest
