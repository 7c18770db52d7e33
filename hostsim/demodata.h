#pragma once

#include <QString>

// The demo merchants and cards that `sorna-host --demo` puts into a new
// database (listed for people in docs/demo-data.md).
namespace sorna::host::demo {

// The institution code the demo client is configured with (sorna_Issue_code).
inline const QString kIssueCode = QStringLiteral("3901");

// 해솔아동발달센터: may inquire card numbers typed by hand.
inline const QString kBusinessNo = QStringLiteral("2148712345");
inline const QString kAuthNo = QStringLiteral("482915");
inline const QString kMerchantNo = QStringLiteral("7100012345");

// 늘봄언어심리치료실: may not inquire card numbers typed by hand.
inline const QString kBusinessNo2 = QStringLiteral("6058823456");
inline const QString kAuthNo2 = QStringLiteral("730264");
inline const QString kMerchantNo2 = QStringLiteral("7100023456");

// Cards in good standing.
inline const QString kCardNineItems = QStringLiteral("9410120000000019");  // 김서연, 300,000 a month
inline const QString kCardTwoItems = QStringLiteral("9410120000000027");   // 이준호, 220,000 a month
inline const QString kCardThreeItems = QStringLiteral("9410120000000035"); // 박지우, 300,000 a month

// Cards the host refuses.
inline const QString kCardStolen = QStringLiteral("9410120000000043");    // "20"
inline const QString kCardSuspended = QStringLiteral("9410120000000051"); // "52"
inline const QString kCardExpired = QStringLiteral("9410120000000068");   // "76"
// A number no card has ("17").
inline const QString kCardUnknown = QStringLiteral("9410129999999999");

// Cards whose approvals, cancellations and balance inquiries meet a fault
// (their card inquiries and automatic cancellations are served normally).
inline const QString kCardDelayLong = QStringLiteral("9410120000000076");  // delay:12000
inline const QString kCardDelayShort = QStringLiteral("9410120000000084"); // delay:2000
inline const QString kCardSilent = QStringLiteral("9410120000000092");     // silent
inline const QString kCardClose = QStringLiteral("9410120000000100");      // close
inline const QString kCardPieces = QStringLiteral("9410120000000118");     // pieces:4:300
inline const QString kCardGarbage = QStringLiteral("9410120000000126");    // garbage
inline const QString kCardTruncated = QStringLiteral("9410120000000134");  // truncated
inline const QString kCardRefuse = QStringLiteral("9410120000000142");     // refuse:85
inline const QString kCardReset = QStringLiteral("9410120000000150");      // reset
inline const QString kCardPrefix = QStringLiteral("9410120000000168");     // prefix:X999
inline const QString kCardMsgLength = QStringLiteral("9410120000000176");  // msglength:abcd

} // namespace sorna::host::demo
