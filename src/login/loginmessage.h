#pragma once

#include <QByteArray>
#include <QString>

namespace sorna {

// The login request "0100": the common header (resp_code "30", merchant_id
// the business number as typed) and the authentication number, 200 bytes.
// The daily log keeps it with the authentication number masked
// (LoggedRequest).
struct LoginRequest
{
    QString record; // what the host receives
};
LoginRequest BuildLoginRequest(const QString& issueCode, const QString& number, const QString& businessNumber,
                               const QString& authNumber);

// The login answer: the common header, login_flag and login_kind, and the
// merchant master data in the last 255 bytes of the message.  An answer whose
// msg_length is not a number is refused.
struct LoginAnswer
{
    bool accepted = false;
    QString respCode;
    QString loginFlag, loginKind;
    QString name, number, misc, telephone, address;
};
LoginAnswer CutLoginAnswer(const QByteArray& answer);

} // namespace sorna
