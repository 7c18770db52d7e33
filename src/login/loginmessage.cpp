#include "login/loginmessage.h"

#include "hostlink/record.h"

#include <array>

namespace sorna {
namespace {

constexpr int kAuthNoWidth = 149;
constexpr int kBodyBytes = 255;

std::array<FieldSpec, 8> loginLayout()
{
    std::array<FieldSpec, 8> l{};
    for (int i = 0; i < kHeaderFieldCount; ++i)
        l[size_t(i)] = kTransactionLayout[size_t(i)];
    l[7] = {"auth_no", kAuthNoWidth, Fill::Blank};
    return l;
}

} // namespace

LoginRequest BuildLoginRequest(const QString& issueCode, const QString& number, const QString& businessNumber,
                               const QString& authNumber)
{
    static const std::array<FieldSpec, 8> layout = loginLayout();
    TransactionRecord header;
    FillHeader(header, QStringLiteral("0100"), issueCode, QStringLiteral("30"), businessNumber, number);
    std::array<QString, 8> values;
    for (int i = 0; i < kHeaderFieldCount; ++i)
        values[size_t(i)] = header.values[size_t(i)];
    values[7] = authNumber;
    MessageStore::keep(layout, values);

    return {BuildRecord(layout, values)};
}

LoginAnswer CutLoginAnswer(const QByteArray& answer)
{
    LoginAnswer a;
    a.respCode = MidBytes(answer, 39, 2);
    a.loginFlag = MidBytes(answer, 56, 1);
    a.loginKind = MidBytes(answer, 57, 2);
    bool numeric = false;
    const QByteArray lengthField = answer.left(4);
    const int n = lengthField.trimmed().toInt(&numeric);
    if (a.respCode != QStringLiteral("00") || !numeric || n < 0 || lengthField.contains(' '))
        return a;
    const QByteArray message = answer.left(qsizetype(n) + 4);
    const QByteArray body = message.right(kBodyBytes);
    a.name = MidBytes(body, 1, 60);
    a.number = MidBytes(body, 61, 12);
    a.misc = MidBytes(body, 73, 20);
    a.telephone = MidBytes(body, 93, 13);
    a.address = MidBytes(body, 106, 150);
    a.accepted = true;
    return a;
}

} // namespace sorna
