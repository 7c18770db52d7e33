#include "support/testsupport.h"

#include "foundation/cp949.h"
#include "foundation/gui/look.h"
#include "foundation/paths.h"
#include "foundation/settings.h"
#include "support/portable.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPointer>
#include <QProcess>
#include <QTcpServer>
#include <QVariant>
#include <QWidget>

namespace sorna::test {

namespace {
// The offscreen platform's screen is 800x600: the windows under test stand
// on a full-HD counter screen instead, at their laid-out size.  The screen
// tests put screens of their own.
[[maybe_unused]] const bool g_fullHdScreen = [] {
    look::setAvailableAreaForTests(QRect(0, 0, 1920, 1040));
    return true;
}();
} // namespace

TempRoot::TempRoot()
    : m_previous(qEnvironmentVariable("QUENDAL_ROOT")),
      m_hadPrevious(qEnvironmentVariableIsSet("QUENDAL_ROOT"))
{
    setEnvironment("QUENDAL_ROOT", m_dir.path());
}

TempRoot::~TempRoot()
{
    if (m_hadPrevious)
        setEnvironment("QUENDAL_ROOT", m_previous);
    else
        qunsetenv("QUENDAL_ROOT");
}

QByteArray TempRoot::read(const QString& relative) const
{
    QFile f(file(relative));
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void TempRoot::write(const QString& relative, const QByteArray& bytes) const
{
    QDir().mkpath(QFileInfo(file(relative)).absolutePath());
    QFile f(file(relative));
    if (f.open(QIODevice::WriteOnly))
        f.write(bytes);
}

QByteArray expectedBytes(const QString& textWithDots)
{
    QString t = textWithDots;
    t.replace(u'·', u' ');
    return cp949::encode(t);
}

quint16 deadPort()
{
    QTcpServer s;
    s.listen(QHostAddress::LocalHost);
    const quint16 port = s.serverPort();
    s.close();
    return port;
}

void writeSetting(const char* section, const char* key, const QString& value)
{
    WriteSetting(QString::fromLatin1(section), QString::fromLatin1(key), value, paths::settingsFile());
}

void closeAllWindows()
{
    QList<QPointer<QWidget>> windows;
    for (QWidget* t : QApplication::topLevelWidgets())
        if (!t->parentWidget())
            windows.append(t);
    for (const QPointer<QWidget>& t : windows)
        delete t.data();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

QColor backColor(const QWidget* w)
{
    return w->property("backColor").value<QColor>();
}

void endProcesses(QList<QProcess*>& started)
{
    for (QProcess* p : std::as_const(started)) {
        if (p->state() != QProcess::NotRunning) {
            p->kill();
            p->waitForFinished(5000);
        }
        delete p;
    }
    started.clear();
}

} // namespace sorna::test
