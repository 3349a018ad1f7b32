#pragma once
// Shared by the libFuzzer targets: the input as Qt bytes, one scratch folder
// per process, and a check that ends the run loudly so libFuzzer keeps the input.

#include <QByteArray>
#include <QCoreApplication>
#include <QDir>
#include <QString>
#include <QTemporaryDir>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace Fuzz {

inline QByteArray bytes(const uint8_t* daten, size_t groesse)
{
    return QByteArray(reinterpret_cast<const char*>(daten), int(groesse));
}

// Lives until the process ends; removed then.
inline QString ordner()
{
    static QTemporaryDir dir(QDir::tempPath() + QStringLiteral("/iv-fuzz-XXXXXX"));
    return dir.path();
}

// Every file the engine touches stays in the scratch folder; the engine needs
// an application object for its paths.
inline void richteEin(int* argc, char*** argv)
{
    const QByteArray o = ordner().toLocal8Bit();
    qputenv("HOME", o);
    qputenv("XDG_CONFIG_HOME", o + "/config");
    qputenv("XDG_RUNTIME_DIR", o);
    qputenv("FISCALON_WURZEL", o + "/wurzel");
    static QCoreApplication app(*argc, *argv);
}

inline void verlange(bool bedingung, const char* was, const QString& detail = QString())
{
    if (bedingung)
        return;
    std::fprintf(stderr, "Verletzt: %s %s\n", was, detail.toUtf8().constData());
    std::abort();
}

} // namespace Fuzz
