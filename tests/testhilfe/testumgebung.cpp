#include "testumgebung.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QtTest>

TestUmgebung::TestUmgebung()
{
    QVERIFY2(m_dir.isValid(), "no temporary directory");
    const QList<QPair<QByteArray, QString>> werte = {
        { "HOME", home() },
        { "XDG_CONFIG_HOME", home() + QStringLiteral("/.config") },
        { "XDG_RUNTIME_DIR", m_dir.path() + QStringLiteral("/laufzeit") },
        { "FISCALON_WURZEL", wurzel() },
    };
    for (const auto& w : werte) {
        QDir().mkpath(w.second);
        m_alt.append({ w.first, qgetenv(w.first.constData()) });
        qputenv(w.first.constData(), QFile::encodeName(w.second));
    }
}

TestUmgebung::~TestUmgebung()
{
    for (const auto& a : m_alt)
        qputenv(a.first.constData(), a.second);
}

void TestUmgebung::schreibeDatei(const QString& pfad, const QByteArray& inhalt)
{
    QDir().mkpath(QFileInfo(pfad).absolutePath());
    QFile f(pfad);
    QVERIFY2(f.open(QIODevice::WriteOnly | QIODevice::Truncate), qPrintable(pfad));
    f.write(inhalt);
}

QByteArray TestUmgebung::leseDatei(const QString& pfad)
{
    QFile f(pfad);
    if (!f.open(QIODevice::ReadOnly))
        return QByteArray();
    return f.readAll();
}
