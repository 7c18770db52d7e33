#pragma once

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>

#include <memory>

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
    QByteArray m_previous;
    bool m_hadPrevious;
};

// A byte string from text written with "·" for each blank and the Korean
// text converted to CP949, so that expected messages can be written by hand
// with their blanks visible.
QByteArray expectedBytes(const QString& textWithDots);

} // namespace sorna::test
