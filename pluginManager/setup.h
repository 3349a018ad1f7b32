#pragma once
// One update package of a module: it lifts the installed revision `Rev` to
// the module's current one. A plain value, copied freely.

#include <QDataStream>
#include <QString>
#include <QtGlobal>

class Setup
{
public:
    QString gibDatei() const { return Datei; }
    QString gibSilent() const { return Silent; }
    quint64 gibSize() const { return Size; }
    quint64 gibUnzipFileSize() const { return UnzipFileSize; }
    QString gibMD5() const { return MD5; }
    QString gibRev() const { return Rev; }

    void setzeDatei(const QString& wert) { Datei = wert; }
    void setzeSilent(const QString& wert) { Silent = wert; }
    void setzeSize(quint64 wert) { Size = wert; }
    void setzeUnzipFileSize(quint64 wert) { UnzipFileSize = wert; }
    // Text from the server index; anything but a decimal number stores 0.
    void setzeSize(const QString& wert);
    void setzeUnzipFileSize(const QString& wert);
    void setzeMD5(const QString& wert) { MD5 = wert; }
    void setzeRev(const QString& wert) { Rev = wert; }

    // `Rev` as a number; 0 (and a logged error) when it is none.
    uint gibRevisionUi() const;

    bool operator==(const Setup& andere) const;
    bool operator!=(const Setup& andere) const { return !(*this == andere); }

private:
    QString Datei;
    QString Silent;
    quint64 Size = 0;
    quint64 UnzipFileSize = 0;
    QString MD5;
    QString Rev;
};

// Silent, Datei, MD5, Rev as strings, then Size and UnzipFileSize as 64-bit
// integers: the order the module lists of a restart are stored in.
QDataStream& operator<<(QDataStream& aus, const Setup& setup);
QDataStream& operator>>(QDataStream& ein, Setup& setup);
