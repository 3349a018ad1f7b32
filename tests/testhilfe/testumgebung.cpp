#include "testumgebung.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QTcpServer>
#include <QtTest>

#include "global/varnelApplication/varnelkern.h"

namespace {

// The loopback ports of this test process's managers and main-application
// stand-ins. A listener on the block's first port keeps every other process
// that uses this helper, of any user, out of the block for our lifetime, so a
// stale registration is never answered by another test's manager. The blocks
// lie below the kernel's ephemeral range and away from the shared ranges.
QByteArray portBasis()
{
    static QTcpServer* waechter = nullptr;
    static QByteArray basis;
    if (waechter)
        return basis;
    waechter = new QTcpServer; // lives as long as the process
    constexpr int breite = 2 * VarnelKern::sandkastenPorts + 1, erster = 20000, bloecke = 12000 / breite;
    const int start = int(QRandomGenerator::global()->bounded(bloecke));
    for (int i = 0; i < bloecke; ++i) {
        const int b = erster + ((start + i) % bloecke) * breite;
        if (waechter->listen(QHostAddress::LocalHost, quint16(b))) {
            basis = QByteArray::number(b + 1);
            return basis;
        }
    }
    qFatal("no free block of loopback ports for the test's managers");
}

} // namespace

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
    // Qt refuses a runtime folder that others may read.
    QFile::setPermissions(m_dir.path() + QStringLiteral("/laufzeit"), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    m_alt.append({ "FISCALON_PORTBASIS", qgetenv("FISCALON_PORTBASIS") });
    qputenv("FISCALON_PORTBASIS", portBasis());
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
