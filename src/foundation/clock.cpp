#include "foundation/clock.h"

#include <QFileInfo>

#include <atomic>
#include <initializer_list>
#include <mutex>

namespace sorna::Clock {
namespace {

std::mutex mutex;
bool overridden = false;
bool running = false;
QDateTime base;
qint64 startedMs = 0;

} // namespace

QDateTime now()
{
    std::lock_guard lock(mutex);
    if (!overridden)
        return QDateTime::currentDateTime();
    if (!running)
        return base;
    return base.addMSecs(QDateTime::currentMSecsSinceEpoch() - startedMs);
}

namespace {

// Fixed-width decimal fields written straight into the text: these are made
// for every message and log line, and QDateTime::toString reads its format
// each time.
struct Digits
{
    int value, width;
};
QString digitsText(std::initializer_list<Digits> parts, char16_t separator = 0)
{
    QString s;
    s.reserve(16);
    for (const Digits& d : parts) {
        if (separator && !s.isEmpty())
            s += QChar(separator);
        const qsizetype at = s.size();
        s.resize(at + d.width);
        int value = d.value;
        for (int i = d.width - 1; i >= 0; --i) {
            s[at + i] = QChar(u'0' + value % 10);
            value /= 10;
        }
    }
    return s;
}

} // namespace

QString dateText()
{
    const QDate d = now().date();
    return digitsText({{d.year(), 4}, {d.month(), 2}, {d.day(), 2}});
}

QString timeText()
{
    const QTime t = now().time();
    return digitsText({{t.hour(), 2}, {t.minute(), 2}, {t.second(), 2}});
}

QString logTimeText()
{
    const QTime t = now().time();
    return digitsText({{t.hour(), 2}, {t.minute(), 2}, {t.second(), 2}}, u':');
}

void setFixed(const QDateTime& t)
{
    std::lock_guard lock(mutex);
    overridden = true;
    running = false;
    base = t;
}

void setRunningFrom(const QDateTime& t)
{
    std::lock_guard lock(mutex);
    overridden = true;
    running = true;
    base = t;
    startedMs = QDateTime::currentMSecsSinceEpoch();
}

void reset()
{
    std::lock_guard lock(mutex);
    overridden = false;
}

void readTimeZoneOnce()
{
#ifdef Q_OS_UNIX
    if (!qEnvironmentVariableIsSet("TZ") && QFileInfo::exists(QStringLiteral("/etc/localtime")))
        qputenv("TZ", ":/etc/localtime");
#endif
}

} // namespace sorna::Clock
