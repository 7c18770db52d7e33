#pragma once

#include <QDateTime>

// Every date and time the program puts into a message, a log line or a
// receipt comes from here, so that tests can set the clock.
namespace sorna::Clock {

QDateTime now();
// Tests: freeze the clock at `t`, or let it run from `t` on (time passes as
// it does on the wall clock).
void setFixed(const QDateTime& t);
void setRunningFrom(const QDateTime& t);
void reset();

inline QString dateText()
{
    return now().toString(QStringLiteral("yyyyMMdd"));
}
inline QString timeText()
{
    return now().toString(QStringLiteral("HHmmss"));
}
inline QString logTimeText()
{
    return now().toString(QStringLiteral("HH:mm:ss"));
}

} // namespace sorna::Clock
