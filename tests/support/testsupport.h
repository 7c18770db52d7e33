#pragma once

#include <QByteArray>
#include <QColor>
#include <QString>
#include <QTemporaryDir>

#include <memory>

class QWidget;

class QProcess;

namespace sorna::test {

// A fresh root folder for one test: QUENDAL_ROOT points at a temporary
// folder for as long as the object lives.
class TempRoot
{
public:
    TempRoot();
    ~TempRoot();
    QString path() const { return m_dir.path(); }
    QString file(const QString& relative) const { return m_dir.path() + u'/' + relative; }
    QByteArray read(const QString& relative) const;
    void write(const QString& relative, const QByteArray& bytes) const;

private:
    QTemporaryDir m_dir;
    QString m_previous;
    bool m_hadPrevious;
};

// A byte string from text written with "·" for each blank and the Korean
// text converted to CP949, so that expected messages can be written by hand
// with their blanks visible.
QByteArray expectedBytes(const QString& textWithDots);

// A local port on which nothing listens: taken from the system, then let go.
quint16 deadPort();
// Writes one key of the client's Sorna_setting.ini below the current root.
void writeSetting(const char* section, const char* key, const QString& value);
// Kills and deletes every process a test started, and empties the list.
void endProcesses(QList<QProcess*>& started);
// Deletes every top-level window a test left behind, modal ones included.
void closeAllWindows();
// The back colour an input was given by its open or closed look.
QColor backColor(const QWidget* w);

} // namespace sorna::test

#include "journal/journal.h"

namespace sorna::test {
// The reversals the journal of the current root folder owes, oldest first.
inline QList<OwedReversal> owedReversals()
{
    Journal::instance().open();
    return Journal::instance().owedReversals(1000);
}
} // namespace sorna::test
