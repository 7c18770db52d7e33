#include "foundation/clock.h"

#include <atomic>
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

} // namespace sorna::Clock
