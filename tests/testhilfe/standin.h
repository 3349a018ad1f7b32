#pragma once
// Shell stand-ins for the programs the hand-over starts: the arguments they
// were given, and a manager copy signed with the build's development key.

#include "tests/inventar/dicthilfe.h"
#include "tests/testhilfe/testumgebung.h"

#include <QFile>

namespace Standin {

inline QString ausfuehrbar(const QString& pfad, const QByteArray& rumpf)
{
    TestUmgebung::schreibeDatei(pfad, "#!/bin/sh\n" + rumpf + "\n");
    QFile::setPermissions(pfad, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    return pfad;
}

// What a stand-in wrote with printf '%s\0' "$@", one argument per NUL.
inline QStringList argumenteAus(const QString& datei)
{
    QStringList teile;
    for (const QByteArray& teil : TestUmgebung::leseDatei(datei).split('\0'))
        teile.append(QString::fromUtf8(teil));
    teile.removeLast(); // after the last NUL, or the empty file
    return teile;
}

// A manager copy below `ordner` whose program runs `rumpf`, with `weitere`
// files beside it; its dictionary is signed with `schluessel`, so the
// integrity check accepts it. False when openssl could not sign.
inline bool kopie(const QString& ordner, const QByteArray& rumpf, const QString& schluessel,
                  const QList<QPair<QString, QByteArray>>& weitere = {})
{
    DictHilfe::Daten d;
    d.kurzname = QStringLiteral("instv");
    d.jahr = QStringLiteral("0");
    d.langname = QStringLiteral("Installationsverwaltung");
    DictHilfe::datei(d, ordner, QStringLiteral("bin/installationsverwaltung"), "#!/bin/sh\n" + rumpf);
    for (const auto& w : weitere)
        DictHilfe::datei(d, ordner, w.first, w.second);
    QFile::setPermissions(ordner + QStringLiteral("/bin/installationsverwaltung"), QFile::ReadOwner | QFile::ExeOwner);
    const QString vdict = ordner + QStringLiteral("/dict/instv_0.vdict");
    DictHilfe::schreibe(vdict, DictHilfe::json(d));
    return KryptoTest::openssl(KryptoTest::opensslPss(true) << "-sign" << schluessel << "-out" << vdict + QStringLiteral(".sig") << vdict)
               .code
        == 0;
}

} // namespace Standin
