// The run journal as the next start reads it from the user's data folder.
// First byte even: the rest is the journal's bytes as they are. Odd: every
// line gets its right checksum first, so that the records behind the
// checksum are reached too. What the reader keeps must pass its own checks.
//
// Seeds: `fuzz_laufjournal --saat KORPUS` writes journals of a run, of a
// verification and of a stopped run with the journal's own writer.

#include "fuzzhilfe.h"

#include "global/crypto/dictionaryhelper.h"
#include "pluginManager/laufjournal.h"
#include "pluginManager/pluginManager.h"
#include "pluginManager/startwerte.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>

namespace {

QByteArray mitPruefsummen(const QByteArray& text)
{
    QByteArray aus;
    const QList<QByteArray> zeilen = text.split('\n');
    for (int i = 0; i < zeilen.size(); ++i) {
        if (i == zeilen.size() - 1 && zeilen[i].isEmpty())
            break;
        aus += zeilen[i] + '\t' + QCryptographicHash::hash(zeilen[i], QCryptographicHash::Md5).toHex().left(8);
        if (i < zeilen.size() - 1)
            aus += '\n';
    }
    return aus;
}

void saat(const QString& korpus)
{
    QDir().mkpath(PluginManager::gibDirDaten());
    const Laufjournal::Teil est { QStringLiteral("est"), 2021 }, kora { QStringLiteral("kora"), 9999 };
    auto sichere = [&](const QString& name, char art) {
        QFile ein(Laufjournal::pfad());
        QFile aus(korpus + QLatin1Char('/') + name);
        if (ein.open(QIODevice::ReadOnly) && aus.open(QIODevice::WriteOnly))
            aus.write(QByteArray(1, art) + ein.readAll());
    };
    Laufjournal lauf;
    lauf.beginne({ { Laufjournal::ERNEUERN, est }, { Laufjournal::HAUPTANWENDUNG, kora } },
                 { QStringLiteral("bin/est.so"), QStringLiteral("dict/est_21.dict") });
    lauf.schritt(Laufjournal::HERUNTERLADEN, est, false);
    lauf.schritt(Laufjournal::HERUNTERLADEN, est, true);
    lauf.schritt(Laufjournal::ERNEUERN, est, false);
    sichere(QStringLiteral("unterbrochen"), 0);
    lauf.schritt(Laufjournal::ERNEUERN, est, true);
    lauf.schritt(Laufjournal::BEREINIGEN, kora, false);
    lauf.schritt(Laufjournal::BEREINIGEN, kora, true);
    sichere(QStringLiteral("fast-fertig"), 0);
    // Without checksums: the odd inputs get them from the target.
    QFile roh(Laufjournal::pfad());
    if (roh.open(QIODevice::ReadOnly)) {
        QByteArray ohne;
        for (const QByteArray& z : roh.readAll().split('\n'))
            ohne += z.left(z.lastIndexOf('\t')) + '\n';
        QFile aus(korpus + QStringLiteral("/ohne-pruefsummen"));
        if (aus.open(QIODevice::WriteOnly))
            aus.write(QByteArray(1, 1) + ohne.left(ohne.size() - 1));
    }
    lauf.beende();
    Laufjournal::vermerkeReparatur({ { Laufjournal::REPARIEREN, est } });
    sichere(QStringLiteral("pruefung"), 0);
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    Fuzz::richteEin(argc, argv);
    gs_DirUserKora = Fuzz::ordner() + QStringLiteral("/benutzer/kora");
    if (*argc >= 3 && qstrcmp((*argv)[1], "--saat") == 0) {
        saat(QString::fromLocal8Bit((*argv)[2]));
        std::exit(0);
    }
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* daten, size_t groesse)
{
    if (groesse < 1)
        return 0;
    QByteArray inhalt = Fuzz::bytes(daten + 1, groesse - 1);
    if (daten[0] & 1)
        inhalt = mitPruefsummen(inhalt);
    const Laufjournal::Stand s = Laufjournal::leseInhalt(inhalt);
    Fuzz::verlange(s.vorhanden, "Journal nicht vorhanden");
    Fuzz::verlange(s.beschaedigt == !s.grund.isEmpty(), "Schaden ohne Grund");
    for (const QString& d : s.dateienVorher)
        Fuzz::verlange(DictionaryHelper::istSichererPfad(d), "unsicherer Pfad angenommen", d);
    for (const Laufjournal::Planpunkt& p : s.plan)
        Fuzz::verlange(Laufjournal::istGueltigerKurzname(p.teil.kurzname), "ungueltiger Kurzname angenommen", p.teil.kurzname);
    for (auto it = s.offenNachTeil.cbegin(); it != s.offenNachTeil.cend(); ++it)
        Fuzz::verlange(!it.value().isEmpty(), "offener Schritt ohne Namen");
    return 0;
}
