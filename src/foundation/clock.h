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

// Every message and log line reads the local time.  With TZ unset the C
// library looks at /etc/localtime again on each reading (a file lookup each
// time); naming it once in TZ makes it read once.  A change of the machine's
// time zone is then seen at the next start.  Call before anything reads the
// time; a TZ already set is left as it is.  Does nothing on Windows.
void readTimeZoneOnce();

} // namespace sorna::Clock
