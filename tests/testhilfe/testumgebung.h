#pragma once
// A sandbox for one test: temporary HOME, XDG_CONFIG_HOME, runtime folder and
// root override, so settings, logs and locks never touch the real machine,
// and a block of loopback ports of its own for the instance protocol.

#include <QList>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include "global/varnelApplication/rueckfrage.h"

class TestUmgebung
{
public:
    TestUmgebung();
    ~TestUmgebung();

    QString pfad() const { return m_dir.path(); }
    QString wurzel() const { return m_dir.path() + QStringLiteral("/wurzel"); }
    QString home() const { return m_dir.path() + QStringLiteral("/home"); }

    static void schreibeDatei(const QString& pfad, const QByteArray& inhalt);
    static QByteArray leseDatei(const QString& pfad);

private:
    QTemporaryDir m_dir;
    QList<QPair<QByteArray, QByteArray>> m_alt;
};

// Records every question and answers from a script (default: 0).
class FakeRueckfrage : public Rueckfrage
{
public:
    struct Frage {
        QString titel, text;
        int art, breite, hoehe;
        QString knopf1, knopf2;
    };
    FakeRueckfrage() { m_alt = setzeRueckfrage(this); }
    ~FakeRueckfrage() override { setzeRueckfrage(m_alt); }

    int zeigeMeldung(const QString& titel, const QString& text, int art, int breite, int hoehe,
                     const QString& k1, const QString& k2) override
    {
        fragen.append({ titel, text, art, breite, hoehe, k1, k2 });
        return antworten.isEmpty() ? 0 : antworten.takeFirst();
    }
    int zeigeMeldungAbschaltbar(const QString& titel, const QString& text, int art, int breite, int hoehe,
                                const QString& k1, const QString& k2, const QString& ini,
                                const QString& schluessel) override
    {
        if (istMeldungAbgeschaltet(ini, schluessel))
            return 1;
        return zeigeMeldung(titel, text, art, breite, hoehe, k1, k2);
    }

    bool frageProxyZugang(const QString& host, const QString& port, int versuch, QString& benutzer,
                          QString& passwort) override
    {
        fragen.append({ QStringLiteral("Proxy"), host + QLatin1Char(':') + port, versuch, 0, 0, {}, {} });
        if (proxyZugaenge.isEmpty())
            return false;
        const auto z = proxyZugaenge.takeFirst();
        benutzer = z.first;
        passwort = z.second;
        return true;
    }

    // The internet-access consent: answers 2 "Ja, immer", 1 "Ja, einmalig",
    // 0 "Nein" from the script (default 0); every question is counted.
    int frageInternetZugriff() override
    {
        ++internetFragen;
        return internetAntworten.isEmpty() ? 0 : internetAntworten.takeFirst();
    }

    QList<Frage> fragen;
    QList<int> antworten;
    QList<int> internetAntworten;
    int internetFragen = 0;
    QList<QPair<QString, QString>> proxyZugaenge;

private:
    Rueckfrage* m_alt = nullptr;
};
