#include "transaction/counteroutcome.h"

#include "hostlink/responsecodes.h"

namespace sorna::outcome {
namespace {
QString hms(const QTime& at)
{
    return at.toString(QStringLiteral("HH:mm:ss"));
}
} // namespace

Tone ToneOf(const TransactionAnswer& answer)
{
    return answer.accepted() ? Tone::Success : Tone::Refused;
}

QString AdviceLine(const QString& code)
{
    const QString advice = ResponseAdvice(code.trimmed());
    return advice.isEmpty() ? QString() : QStringLiteral("할 일       : ") + advice;
}

QStringList NoAnswerLines(TransactionMode mode, bool reversalOwed, bool sending, const QTime& at)
{
    const QString noAnswer = QStringLiteral("승인 서버의 응답이 없습니다 (") + hms(at) + u')';
    switch (mode) {
    case TransactionMode::Approval:
        if (!reversalOwed)
            break;
        return {noAnswer, QStringLiteral("결제되지 않았습니다. 혹시 승인되었더라도 자동취소로 되돌립니다"),
                sending ? QStringLiteral("자동취소를 보내고 있습니다")
                        : QStringLiteral("자동취소가 대기 중입니다. 연결되는 대로 보냅니다")};
    case TransactionMode::Cancellation:
        return {noAnswer, QStringLiteral("취소되었는지 알 수 없습니다"),
                QStringLiteral("거래내역에서 확인하고, 취소되지 않았으면 다시 취소하세요")};
    case TransactionMode::Balance:
        return {noAnswer, QStringLiteral("잔액조회를 다시 하세요")};
    }
    return {noAnswer};
}

QString ReversalSettledLine(ReversalState outcome, const QString& respCode, const QTime& at)
{
    switch (outcome) {
    case ReversalState::Delivered:
        if (!ReversalConfirmed(respCode))
            return QStringLiteral("자동취소를 보냈지만 승인 서버의 확인이 없었습니다 (") + hms(at) +
                   QStringLiteral("). 거래내역을 확인하세요");
        return QStringLiteral("자동취소가 전달되었습니다 (") + hms(at) +
               QStringLiteral("). 결제되지 않았습니다");
    case ReversalState::Refused:
        return QStringLiteral("자동취소가 거절되었습니다 (응답코드 ") + respCode.trimmed() +
               QStringLiteral("). 거래내역을 확인하세요");
    case ReversalState::Rejected:
        return QStringLiteral("자동취소를 보낼 수 없습니다. 거래내역을 확인하세요");
    case ReversalState::None:
    case ReversalState::Owed:
        break;
    }
    return {};
}

QString ReversalStillOwedLine(int retrySeconds)
{
    return QStringLiteral("자동취소를 보내지 못했습니다. %1초마다 다시 보냅니다").arg(retrySeconds);
}

QString StatusLine(const LastExchange& last, int reversalsOwed)
{
    QString exchange;
    switch (last.what) {
    case LastExchange::What::None:
        exchange = QStringLiteral("승인 서버 통신 없음");
        break;
    case LastExchange::What::Answered:
        exchange = QStringLiteral("승인 서버 ") + hms(last.at.time()) + QStringLiteral(" 응답 정상");
        break;
    case LastExchange::What::NoConnection:
        exchange = QStringLiteral("승인 서버 ") + hms(last.at.time()) + QStringLiteral(" 연결 안 됨");
        break;
    case LastExchange::What::NoAnswer:
        exchange = QStringLiteral("승인 서버 ") + hms(last.at.time()) + QStringLiteral(" 응답 없음");
        break;
    }
    const QString owed = reversalsOwed < 0 ? QStringLiteral("자동취소 대기 알 수 없음")
                                           : QStringLiteral("자동취소 대기 %1건").arg(reversalsOwed);
    return exchange + QStringLiteral(" · ") + owed;
}

} // namespace sorna::outcome
