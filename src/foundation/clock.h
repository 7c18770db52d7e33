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

// "yyyyMMdd", "HHmmss" and "HH:mm:ss" of now().
QString dateText();
QString timeText();
QString logTimeText();

} // namespace sorna::Clock
