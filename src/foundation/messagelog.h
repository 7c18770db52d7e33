#pragma once

#include <QByteArray>
#include <QString>

#include <functional>

// The daily message log: Log/YYYYMMDD.log below the root folder, one CR LF
// line per message sent or received, in CP949.
namespace sorna {

inline const QString kTagSend = QStringLiteral("[ Send ");
inline const QString kTagInquiry = QStringLiteral("[ Serc ");
inline const QString kTagAnswer = QStringLiteral("[ Resp ");

// Appends `line` and CR LF to folder/fileName, creating the folder when it is
// missing.  Returns false when the line could not be written.
bool AppendLog(const QByteArray& line, const QString& folder, const QString& fileName);

// Writes tag + "hh:nn:ss" + " ] " + payload to today's log.  On failure the
// handler installed with setLogFailureHandler is told the path; the exchange
// goes on either way.
bool LogMessage(const QString& tag, const QByteArray& payload);

using LogFailureHandler = std::function<void(const QString& path)>;
void setLogFailureHandler(LogFailureHandler handler);

#ifdef SORNA_TEST_HOOKS
// Test hooks: told every line LogMessage writes (tag and payload, the
// payload as logged), written or not.
using LogObserver = std::function<void(const QString& tag, const QByteArray& payload)>;
void setLogObserver(LogObserver observer);
#endif

} // namespace sorna
