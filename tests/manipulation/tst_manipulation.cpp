// Seeded random single-byte changes of every signed file of the sample server and
// installation, and of its signature: the check the manager applies must refuse each.

#include <QDirIterator>
#include <QProcess>
#include <QRandomGenerator>
#include <QtTest>

#include "global/crypto/crypto.h"
#include "global/crypto/dictparser_abstrakt.h"
#include "testhilfe/testumgebung.h"

namespace {

bool angenommen(const QString& pfad)
{
    if (!pfad.endsWith(QLatin1String("dict")))
        return Crypto::isFileValid(pfad);
    std::unique_ptr<DictParser_Abstrakt> parser(erzeugeDictParser(pfad));
    if (!parser)
        return false;
    parser->leseDictionary(pfad, true, false);
    return parser->gibDictInfo() && parser->gibDictInfo()->signaturGueltig == QLatin1String("true");
}

} // namespace

class TstManipulation : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        m_beispiel = m_dir.path() + QStringLiteral("/beispiel");
        QProcess skript;
        skript.setProcessChannelMode(QProcess::MergedChannels);
        skript.start(QStringLiteral("bash"), { QStringLiteral(IV_QUELLEN "/scripts/beispielserver"), QStringLiteral(IV_BAU), m_beispiel });
        QVERIFY(skript.waitForFinished(180000));
        QVERIFY2(skript.exitCode() == 0, skript.readAll().constData());
    }
    void einByteGeaendert_data()
    {
        QTest::addColumn<QString>("datei");
        QTest::addColumn<bool>("signaturAendern");
        // Every redirect file, both index archives and every dictionary of the
        // server tree and the installation; 1000 changes and more in all.
        QStringList dateien;
        QDirIterator it(m_beispiel, { QStringLiteral("*redirect*"), QStringLiteral("inhalt_*.zip"), QStringLiteral("*.dict"),
                                      QStringLiteral("*.vdict") },
                        QDir::Files, QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QString pfad = it.next();
            if (!pfad.endsWith(QLatin1String(".sig")) && QFile::exists(Crypto::signaturPfad(pfad)))
                dateien << pfad;
        }
        dateien.sort();
        QVERIFY2(dateien.size() >= 10, qPrintable(dateien.join(QLatin1Char(' '))));
        m_jeFall = 1100 / (2 * dateien.size()) + 1;
        for (const QString& pfad : dateien) {
            const QString name = QDir(m_beispiel).relativeFilePath(pfad);
            QTest::addRow("%s", qPrintable(name)) << pfad << false;
            QTest::addRow("%s (Signatur)", qPrintable(name)) << pfad << true;
        }
    }
    void einByteGeaendert()
    {
        QFETCH(QString, datei);
        QFETCH(bool, signaturAendern);
        // A copy under the same name, so the companion's name rule still applies.
        QTemporaryDir kopie(m_dir.path() + QStringLiteral("/kopie-XXXXXX"));
        const QString ziel = kopie.path() + QLatin1Char('/') + QFileInfo(datei).fileName();
        const QByteArray inhalt = TestUmgebung::leseDatei(datei);
        const QByteArray signatur = TestUmgebung::leseDatei(Crypto::signaturPfad(datei));
        QVERIFY(!inhalt.isEmpty() && !signatur.isEmpty());
        TestUmgebung::schreibeDatei(ziel, inhalt);
        TestUmgebung::schreibeDatei(Crypto::signaturPfad(ziel), signatur);
        QVERIFY2(angenommen(ziel), "das unveränderte Original wird nicht angenommen");

        QRandomGenerator zufall(qHash(QDir(m_beispiel).relativeFilePath(datei)) ^ (signaturAendern ? 17u : 4711u));
        const QString geaendert = signaturAendern ? Crypto::signaturPfad(ziel) : ziel;
        const QByteArray original = signaturAendern ? signatur : inhalt;
        QStringList durchgelassen;
        for (int i = 0; i < m_jeFall; ++i) {
            QByteArray b = original;
            const int stelle = int(zufall.bounded(quint32(b.size())));
            b[stelle] = char(quint8(b[stelle]) ^ quint8(1 + zufall.bounded(255u)));
            TestUmgebung::schreibeDatei(geaendert, b);
            ++m_versucht;
            if (angenommen(ziel))
                durchgelassen << QStringLiteral("Byte %1: %2 -> %3").arg(stelle).arg(quint8(original[stelle])).arg(quint8(b[stelle]));
        }
        m_angenommen += durchgelassen.size();
        QVERIFY2(durchgelassen.isEmpty(), qPrintable(durchgelassen.join(QStringLiteral("; "))));
    }
    // The suite's figure, for whoever reads the run.
    void cleanupTestCase()
    {
        qInfo("Manipulierte Dateien: %d versucht, %d abgelehnt, %d angenommen", m_versucht, m_versucht - m_angenommen,
              m_angenommen);
        QVERIFY(m_versucht >= 1000);
    }

private:
    QTemporaryDir m_dir;
    QString m_beispiel;
    int m_jeFall = 0;
    int m_versucht = 0;
    int m_angenommen = 0;
};

QTEST_GUILESS_MAIN(TstManipulation)
#include "tst_manipulation.moc"
