// The fault matrix of the main window's exchanges (approval, cancellation,
// balance inquiry): the real main window after a real login and a real card
// inquiry, against the real reference host, one fault per row.  Each row
// asserts what the merchant is told (the message box or the result lines and
// the receipt window), that the main window is usable afterwards, what the
// day's log holds, and what the host's ledger holds once any reversal has
// been delivered: no amount stays deducted unless the merchant was shown the
// approval.  A next try, made once the fault has passed, shows what the
// merchant meets then.

#include "faultmatrix.h"

#include "card/gui/cardwindows.h"
#include "foundation/amount.h"
#include "foundation/clock.h"
#include "foundation/gui/messagebox.h"
#include "hostlink/hostsocket.h"
#include "hostsim/demodata.h"
#include "journal/journal.h"
#include "journal/reversalsender.h"
#include "login/gui/loginwindow.h"
#include "login/gui/session.h"
#include "receipt/gui/receiptquestion.h"
#include "support/maincontrols.h"
#include "support/refhost.h"
#include "support/testsupport.h"
#include "transaction/gui/mainwindow.h"

#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSet>
#include <QTest>

#include <algorithm>

#include <memory>
#include <optional>

using namespace sorna;
using namespace sorna::test;
using fm::Fault;
namespace demo = sorna::host::demo;

namespace {

const QString kNoConnection = QStringLiteral("연결할 수 없습니다");
const QString kCard = demo::kCardNineItems; // 김서연, 300,000 a month; item 101 언어치료 50,000

enum class Mode
{
    Approval,
    Cancellation,
    Balance
};

QString msgType(Mode m)
{
    return m == Mode::Approval       ? QStringLiteral("0500")
           : m == Mode::Cancellation ? QStringLiteral("0600")
                                     : QStringLiteral("0700");
}

QString modeName(Mode m)
{
    return m == Mode::Approval       ? QStringLiteral("approval")
           : m == Mode::Cancellation ? QStringLiteral("cancellation")
                                     : QStringLiteral("balance inquiry");
}

const QString kApproved = QStringLiteral("승인요청이 정상처리 되었습니다");
const QString kCancelled = QStringLiteral("취소요청이 정상처리 되었습니다");
const QString kBalance = QStringLiteral("잔액조회가 정상처리 되었습니다");
const QString kStudent = fm::padded(u"학생이름   : 김서연", 4);
const QString kSchool = fm::padded(u"학교명     : 서울한빛초등학교", 24);

// "{no}" stands for the approval number the host gave, blank-filled to 12.
const QStringList kApprovedLines = {kApproved,
                                    QStringLiteral("승인번호   : {no}"),
                                    kStudent,
                                    kSchool,
                                    QStringLiteral("월지원금액 : 300,000"),
                                    QStringLiteral("월사용금액 : 50,000"),
                                    QStringLiteral("월잔여금액 : 250,000")};
const QStringList kCancelledLines = {kCancelled,
                                     QStringLiteral("승인번호   : {no}"),
                                     kStudent,
                                     kSchool,
                                     QStringLiteral("월지원금액 : 300,000"),
                                     QStringLiteral("월사용금액 : 0"),
                                     QStringLiteral("월잔여금액 : 300,000")};
const QStringList kBalanceLines = {kBalance,
                                   kStudent,
                                   kSchool,
                                   QStringLiteral("월지원금액 : 300,000"),
                                   QStringLiteral("치료지원 월사용금액 : 0"),
                                   QStringLiteral("치료지원 월잔여금액 : 300,000"),
                                   QStringLiteral("방과후 월사용금액 :  0"),
                                   QStringLiteral("방과후 월잔여금액 :  100,000")};

// A refusal's lines end with what to do about its code.
QStringList approvalRefused(const char* code, const char16_t* text, const char16_t* advice)
{
    return {QStringLiteral("승인요청이 거절 되었습니다."),
            QStringLiteral("응답코드   : ") + QString::fromLatin1(code),
            QStringLiteral("응답메세지 : ") + QString::fromUtf16(text),
            QStringLiteral("할 일       : ") + QString::fromUtf16(advice)};
}
// Cancellations and balance inquiries show the host's own text, in its
// 32-byte field.
QStringList refusedWithText(const char16_t* first, const char* code, const char16_t* text, int blanks,
                            const char16_t* advice)
{
    return {QString::fromUtf16(first), QStringLiteral("거절코드   : ") + QString::fromLatin1(code),
            QStringLiteral("거절메세지 : ") + fm::padded(text, blanks),
            QStringLiteral("할 일       : ") + QString::fromUtf16(advice)};
}
const char16_t* const kTryLater = u"잠시 후 다시 하세요";

// A request that left and got no usable answer: the list says so (its time
// shown as "(시각)"), and for an approval what became of its automatic
// cancellation, by the log.
QStringList lostLines(Mode mode, const QStringList& log)
{
    const QString noAnswer = QStringLiteral("승인 서버의 응답이 없습니다 (시각)");
    switch (mode) {
    case Mode::Approval: {
        QStringList lines = {noAnswer,
                             QStringLiteral("결제되지 않았습니다. 혹시 승인되었더라도 자동취소로 되돌립니다"),
                             QStringLiteral("자동취소를 보내고 있습니다")};
        if (log.contains(QStringLiteral("Rvsl sent")))
            lines << QStringLiteral("자동취소가 전달되었습니다 (시각). 결제되지 않았습니다");
        if (log.contains(QStringLiteral("Rvsl refused")))
            lines << QStringLiteral("자동취소가 거절되었습니다 (응답코드 22). 거래내역을 확인하세요");
        return lines;
    }
    case Mode::Cancellation:
        return {noAnswer, QStringLiteral("취소되었는지 알 수 없습니다"),
                QStringLiteral("거래내역에서 확인하고, 취소되지 않았으면 다시 취소하세요")};
    case Mode::Balance:
        return {noAnswer, QStringLiteral("잔액조회를 다시 하세요")};
    }
    return {};
}

// The time of day in a result line as "(시각)".
QStringList timesHidden(QStringList lines)
{
    static const QRegularExpression time(QStringLiteral("\\(\\d\\d:\\d\\d:\\d\\d\\)"));
    return lines.replaceInStrings(time, QStringLiteral("(시각)"));
}

// What a next try shows, in one line: the first result line, and for a
// refusal its code and text.
QString outcomeLine(const QStringList& lines)
{
    if (lines.size() >= 3 && lines[0].contains(QStringLiteral("거절"))) {
        const auto value = [](const QString& l) { return l.mid(l.indexOf(u':') + 1).trimmed(); };
        return QStringLiteral("%1 (%2 %3)").arg(lines[0], value(lines[1]), value(lines[2]));
    }
    return lines.value(0);
}

const QString kReversalRefused =
    QStringLiteral("응답 없이 끝난 승인의 자동취소가 승인 서버에서 거절되었습니다.");

struct TxCase
{
    Mode mode;
    Fault fault;
    QString faultText;    // in place of the fault's own name
    QStringList messages; // the message boxes, in order
    QStringList lines;    // the result lines afterwards; empty: left as they were (the card inquiry's)
    QString receipt;      // the receipt window's kind ("카드 승인", "카드 취소"), empty: none
    QStringList log;      // the day's log in short, from the pay button on
    QString ledger;       // the card's entries in the host's ledger once all has settled
    QString next;         // what the next try shows (outcomeLine)
    QString note;
    // A second log that is right as well: when the request may or may not
    // have been written before the connection was reset.
    std::optional<QStringList> logOr = std::nullopt;

    QString name() const { return faultText.isEmpty() ? fm::faultName(fault) : faultText; }
    QString tag() const { return modeName(mode) + QStringLiteral(", ") + name(); }
};

QList<TxCase> transactionCases()
{
    const QStringList none;
    const QStringList lost = {kNoConnection};
    QList<TxCase> out;

    // ---- approvals
    {
        const QStringList sent = {QStringLiteral("Send 0500")};
        const QStringList reversed = {QStringLiteral("Send 0500"),         QStringLiteral("Rvsl kept"),
                                      QStringLiteral("Rvsl connecting"),   QStringLiteral("Send 0600/2"),
                                      QStringLiteral("Resp 0450 0600 00"), QStringLiteral("Rvsl sent")};
        // The host had done nothing and refuses the reversal (22).
        const QStringList reversalRefused = {
            QStringLiteral("Send 0500"),         QStringLiteral("Rvsl kept"),
            QStringLiteral("Rvsl connecting"),   QStringLiteral("Send 0600/2"),
            QStringLiteral("Resp 0450 0600 22"), QStringLiteral("Rvsl refused")};
        const QStringList unread = fm::withUnreadAnswer(reversed);
        const auto answered = [](const char* length, const char* code) {
            return QStringList{
                QStringLiteral("Send 0500"),
                QStringLiteral("Resp %1 0500 %2").arg(QString::fromUtf8(length), QString::fromLatin1(code))};
        };
        const QString undone = QStringLiteral("none");
        const QString kept = QStringLiteral("approval 50,000 approved");
        const QString repaired = QStringLiteral("approval 50,000 cancelled, reversal");
        const QString why = QStringLiteral("the outcome is unknown: the approval is reversed at once "
                                           "(automatic cancellation on sckMain2) and "
                                           "the host has taken it back");
        const QList<TxCase> rows = {
            {Mode::Approval,
             Fault::NotListening,
             {},
             lost,
             none,
             {},
             none,
             undone,
             kApproved,
             QStringLiteral("nothing was sent, so nothing is reversed")},
            {Mode::Approval,
             Fault::ResetAtAccept,
             {},
             lost,
             none,
             {},
             reversalRefused,
             undone,
             kApproved,
             QStringLiteral(
                 "a second host that resets every connection serves this exchange; when the "
                 "request was written before the reset the outcome is unknown and the reversal goes "
                 "to the working host (the line is back by the time the message is closed); when it "
                 "was not, nothing is reversed"),
             QStringList()},
            {Mode::Approval,
             Fault::Reset,
             {},
             lost,
             none,
             {},
             reversalRefused,
             undone,
             kApproved,
             QStringLiteral(
                 "the request left: the outcome is unknown and a reversal is sent; the host had done "
                 "nothing and refuses it (22), which changes nothing")},
            {Mode::Approval, Fault::Close, {}, lost, none, {}, reversed, repaired, kApproved, why},
            {Mode::Approval,
             Fault::Silent,
             {},
             lost,
             none,
             {},
             reversed,
             repaired,
             kApproved,
             QStringLiteral("10-second time-out; ") + why},
            {Mode::Approval,
             Fault::Delay9,
             {},
             none,
             kApprovedLines,
             QStringLiteral("카드 승인"),
             answered("0450", "00"),
             kept,
             kApproved,
             QStringLiteral("inside the 10-second time-out")},
            {Mode::Approval,
             Fault::Delay12,
             {},
             lost,
             none,
             {},
             reversed,
             repaired,
             kApproved,
             QStringLiteral("told at 10 s and reversed; the answer at 12 s finds the connection closed")},
            {Mode::Approval,
             Fault::Bytewise,
             {},
             none,
             kApprovedLines,
             QStringLiteral("카드 승인"),
             answered("0450", "00"),
             kept,
             kApproved,
             QStringLiteral("the pieces are gathered")},
            {Mode::Approval,
             Fault::TwoPieces,
             {},
             none,
             kApprovedLines,
             QStringLiteral("카드 승인"),
             answered("0450", "00"),
             kept,
             kApproved,
             QStringLiteral("the pieces are gathered")},
            {Mode::Approval, Fault::Truncated, {}, lost, none, {}, unread, repaired, kApproved, why},
            {Mode::Approval, Fault::Garbage, {}, lost, none, {}, unread, repaired, kApproved, why},
            {Mode::Approval, Fault::Prefix, {}, lost, none, {}, unread, repaired, kApproved, why},
            {Mode::Approval,
             Fault::LengthBlank,
             {},
             none,
             kApprovedLines,
             QStringLiteral("카드 승인"),
             answered("····", "00"),
             kept,
             kApproved,
             QStringLiteral("the answer is read by position; its fields are whole, so the approval stands")},
            {Mode::Approval,
             Fault::LengthText,
             {},
             none,
             kApprovedLines,
             QStringLiteral("카드 승인"),
             answered("abcd", "00"),
             kept,
             kApproved,
             QStringLiteral("the answer is read by position; its fields are whole, so the approval stands")},
            {Mode::Approval,
             Fault::Refusal,
             {},
             none,
             approvalRefused("92", u"시스템중지중", kTryLater),
             {},
             answered("0450", "92"),
             undone,
             kApproved,
             QStringLiteral("a refusal deducts nothing")},
            {Mode::Approval,
             Fault::Natural,
             QStringLiteral("refusal 88 (400,000 over the 300,000 left)"),
             none,
             approvalRefused("88", u"월간 사용한도초과", u"잔액조회를 한 뒤 금액을 맞추세요"),
             {},
             answered("0450", "88"),
             undone,
             kApproved,
             QStringLiteral("the amount changed with 금액 변경; the next try takes the item's 50,000")},
        };
        out += rows;
    }

    // ---- cancellations (of an approval of 50,000 made and shown before)
    {
        const QStringList sent = {QStringLiteral("Send 0600/7")};
        const QStringList unread = fm::withUnreadAnswer(sent);
        const auto answered = [](const char* length, const char* code) {
            return QStringList{
                QStringLiteral("Send 0600/7"),
                QStringLiteral("Resp %1 0600 %2").arg(QString::fromUtf8(length), QString::fromLatin1(code))};
        };
        const QString standing = QStringLiteral("approval 50,000 approved");
        const QString done = QStringLiteral("approval 50,000 cancelled, cancellation");
        const QString again = QStringLiteral("취소요청이 거절 되었습니다 (23 기취소건)");
        const QString unknown = QStringLiteral(
            "the host cancelled but the answer was lost: the merchant is told the line failed; a "
            "cancellation "
            "is not reversed (the amount is back on the card), and the next try is answered 23 기취소건");
        const QList<TxCase> rows = {
            {Mode::Cancellation,
             Fault::NotListening,
             {},
             lost,
             none,
             {},
             none,
             standing,
             kCancelled,
             QStringLiteral("nothing was sent")},
            {Mode::Cancellation,
             Fault::ResetAtAccept,
             {},
             lost,
             none,
             {},
             {QStringLiteral("Send 0600/7?")},
             standing,
             kCancelled,
             QStringLiteral("a second host that resets every connection serves this exchange; the request "
                            "may be written just before the reset")},
            {Mode::Cancellation,
             Fault::Reset,
             {},
             lost,
             none,
             {},
             sent,
             standing,
             kCancelled,
             QStringLiteral("the host had done nothing; the next try cancels")},
            {Mode::Cancellation, Fault::Close, {}, lost, none, {}, sent, done, again, unknown},
            {Mode::Cancellation,
             Fault::Silent,
             {},
             lost,
             none,
             {},
             sent,
             done,
             again,
             QStringLiteral("10-second time-out; ") + unknown},
            {Mode::Cancellation,
             Fault::Delay9,
             {},
             none,
             kCancelledLines,
             QStringLiteral("카드 취소"),
             answered("0450", "00"),
             done,
             again,
             QStringLiteral("inside the 10-second time-out")},
            {Mode::Cancellation,
             Fault::Delay12,
             {},
             lost,
             none,
             {},
             sent,
             done,
             again,
             QStringLiteral("told at 10 s; ") + unknown},
            {Mode::Cancellation,
             Fault::Bytewise,
             {},
             none,
             kCancelledLines,
             QStringLiteral("카드 취소"),
             answered("0450", "00"),
             done,
             again,
             QStringLiteral("the pieces are gathered")},
            {Mode::Cancellation,
             Fault::TwoPieces,
             {},
             none,
             kCancelledLines,
             QStringLiteral("카드 취소"),
             answered("0450", "00"),
             done,
             again,
             QStringLiteral("the pieces are gathered")},
            {Mode::Cancellation, Fault::Truncated, {}, lost, none, {}, unread, done, again, unknown},
            {Mode::Cancellation, Fault::Garbage, {}, lost, none, {}, unread, done, again, unknown},
            {Mode::Cancellation, Fault::Prefix, {}, lost, none, {}, unread, done, again, unknown},
            {Mode::Cancellation,
             Fault::LengthBlank,
             {},
             none,
             kCancelledLines,
             QStringLiteral("카드 취소"),
             answered("····", "00"),
             done,
             again,
             QStringLiteral("the answer is read by position")},
            {Mode::Cancellation,
             Fault::LengthText,
             {},
             none,
             kCancelledLines,
             QStringLiteral("카드 취소"),
             answered("abcd", "00"),
             done,
             again,
             QStringLiteral("the answer is read by position")},
            {Mode::Cancellation,
             Fault::Refusal,
             {},
             none,
             refusedWithText(u"취소요청이 거절 되었습니다", "92", u"시스템중지중", 20, kTryLater),
             {},
             answered("0450", "92"),
             standing,
             kCancelled,
             QStringLiteral("the host's own text is shown")},
            {Mode::Cancellation,
             Fault::Natural,
             QStringLiteral("refusal 22 (approval number 99999999)"),
             none,
             refusedWithText(u"취소요청이 거절 되었습니다", "22", u"원거래없음", 22,
                             u"원거래 승인번호, 승인일자와 카드를 확인하세요"),
             {},
             answered("0450", "22"),
             standing,
             kCancelled,
             QStringLiteral("the next try names the right approval")},
        };
        out += rows;
    }

    // ---- balance inquiries
    {
        const QStringList sent = {QStringLiteral("Send 0700")};
        const QStringList unread = fm::withUnreadAnswer(sent);
        const auto answered = [](const char* length, const char* code) {
            return QStringList{
                QStringLiteral("Send 0700"),
                QStringLiteral("Resp %1 0700 %2").arg(QString::fromUtf8(length), QString::fromLatin1(code))};
        };
        const QString nothing = QStringLiteral("none");
        const QString inquiry = QStringLiteral("an inquiry changes nothing: nothing to reverse");
        const QList<TxCase> rows = {
            {Mode::Balance,
             Fault::NotListening,
             {},
             lost,
             none,
             {},
             none,
             nothing,
             kBalance,
             QStringLiteral("nothing was sent")},
            {Mode::Balance,
             Fault::ResetAtAccept,
             {},
             lost,
             none,
             {},
             {QStringLiteral("Send 0700?")},
             nothing,
             kBalance,
             QStringLiteral("a second host that resets every connection serves this exchange; the request "
                            "may be written just before the reset")},
            {Mode::Balance, Fault::Reset, {}, lost, none, {}, sent, nothing, kBalance, inquiry},
            {Mode::Balance, Fault::Close, {}, lost, none, {}, sent, nothing, kBalance, inquiry},
            {Mode::Balance,
             Fault::Silent,
             {},
             lost,
             none,
             {},
             sent,
             nothing,
             kBalance,
             QStringLiteral("10-second time-out; ") + inquiry},
            {Mode::Balance,
             Fault::Delay9,
             {},
             none,
             kBalanceLines,
             {},
             answered("0450", "00"),
             nothing,
             kBalance,
             QStringLiteral("inside the 10-second time-out; no receipt for an inquiry")},
            {Mode::Balance,
             Fault::Delay12,
             {},
             lost,
             none,
             {},
             sent,
             nothing,
             kBalance,
             QStringLiteral("told at 10 s; the answer at 12 s finds the connection closed")},
            {Mode::Balance,
             Fault::Bytewise,
             {},
             none,
             kBalanceLines,
             {},
             answered("0450", "00"),
             nothing,
             kBalance,
             QStringLiteral("the pieces are gathered")},
            {Mode::Balance,
             Fault::TwoPieces,
             {},
             none,
             kBalanceLines,
             {},
             answered("0450", "00"),
             nothing,
             kBalance,
             QStringLiteral("the pieces are gathered")},
            {Mode::Balance, Fault::Truncated, {}, lost, none, {}, unread, nothing, kBalance, inquiry},
            {Mode::Balance, Fault::Garbage, {}, lost, none, {}, unread, nothing, kBalance, inquiry},
            {Mode::Balance, Fault::Prefix, {}, lost, none, {}, unread, nothing, kBalance, inquiry},
            {Mode::Balance,
             Fault::LengthBlank,
             {},
             none,
             kBalanceLines,
             {},
             answered("····", "00"),
             nothing,
             kBalance,
             QStringLiteral("the answer is read by position")},
            {Mode::Balance,
             Fault::LengthText,
             {},
             none,
             kBalanceLines,
             {},
             answered("abcd", "00"),
             nothing,
             kBalance,
             QStringLiteral("the answer is read by position")},
            {Mode::Balance,
             Fault::Refusal,
             {},
             none,
             refusedWithText(u"잔액조회가 거절 되었습니다", "92", u"시스템중지중", 20, kTryLater),
             {},
             answered("0450", "92"),
             nothing,
             kBalance,
             QStringLiteral("the host's own text is shown")},
            {Mode::Balance,
             Fault::Natural,
             QStringLiteral("refusal 20 (stolen card 9410120000000043)"),
             none,
             refusedWithText(u"잔액조회가 거절 되었습니다", "20", u"도난카드", 24,
                             u"결제하지 마세요. 카드 소지자가 발급 기관에 문의해야 합니다"),
             {},
             answered("0450", "20"),
             nothing,
             kBalance,
             QStringLiteral("its card inquiry was refused first; the next try is another card")},
        };
        out += rows;
    }
    return out;
}

} // namespace

Q_DECLARE_METATYPE(TxCase)

class TestFaultMatrixTransaction : public QObject
{
    Q_OBJECT

    fm::Matrix m_matrix;
    std::unique_ptr<RefHost> m_host;
    std::unique_ptr<TempRoot> m_root;
    QPointer<MainWindow> m_main;
    QTimer m_receiptWatch;
    QStringList m_receipts;         // kinds of the receipt windows shown, in order
    QSet<QString> m_shownApprovals; // approval numbers the merchant was shown as approved

    MainWindow* w() { return m_main.data(); }

    QByteArray dayLog() const
    {
        return m_root->read(QStringLiteral("Log/") + Clock::dateText() + QStringLiteral(".log"));
    }

    // The card's entries in the host's ledger, oldest first.
    QString ledger() const
    {
        QStringList out;
        const QList<QVariantList> rows = m_host->query(
            QStringLiteral("SELECT kind, state, amount FROM ledger WHERE card_no = ? ORDER BY id"), {kCard});
        for (const QVariantList& r : rows) {
            const QString kind = r.value(0).toString();
            out << (kind == u"approval" ? QStringLiteral("approval %1 %2")
                                              .arg(FormatAmount(r.value(2).toString()), r.value(1).toString())
                                        : kind);
        }
        return out.isEmpty() ? QStringLiteral("none") : out.join(QStringLiteral(", "));
    }

    // The number of the latest ledger entry of a kind, blank-filled as the
    // answer carries it.
    QString latestNumber(const QString& kind) const
    {
        return PadField(
            m_host
                ->scalar(QStringLiteral("SELECT approval_no FROM ledger WHERE card_no = ? AND kind = ? "
                                        "ORDER BY id DESC LIMIT 1"),
                         {kCard, kind})
                .toString(),
            Fill::Blank, 12);
    }

    // Every approval the host still holds was shown to the merchant: no
    // amount stays deducted without an approval on the screen.
    void checkNoHiddenDeduction()
    {
        const QList<QVariantList> standing = m_host->query(
            QStringLiteral("SELECT approval_no FROM ledger WHERE kind = 'approval' AND state = 'approved'"));
        for (const QVariantList& r : standing)
            QVERIFY2(m_shownApprovals.contains(r.value(0).toString()),
                     qPrintable(QStringLiteral("approval %1 stands at the host but was never shown")
                                    .arg(r.value(0).toString())));
    }

    // Notes the approvals among the result lines.
    void noteShown(const QStringList& lines)
    {
        if (lines.size() >= 2 && lines[0] == kApproved)
            m_shownApprovals.insert(lines[1].mid(lines[1].indexOf(u':') + 1).trimmed());
    }

    MainWindow* logIn()
    {
        LoginWindow* login = session::showLoginWindow();
        if (!QTest::qWaitForWindowExposed(login))
            return nullptr;
        QTest::keyClicks(login->Text1, demo::kBusinessNo);
        QTest::keyClicks(login->Text4, demo::kAuthNo);
        login->btnLogin->click();
        QElapsedTimer t;
        t.start();
        while (!session::mainWindow() && t.elapsed() < 10000)
            QTest::qWait(20);
        return session::mainWindow();
    }

    // The card-reader window, typed into as the reader does; returns once
    // the inquiry's answer has closed it.
    void swipe(const QString& card)
    {
        bool stuck = false;
        QTimer guard;
        guard.setSingleShot(true);
        connect(&guard, &QTimer::timeout, this, [&stuck] {
            if (QWidget* modal = QApplication::activeModalWidget()) {
                stuck = true;
                modal->close();
            }
        });
        QTimer::singleShot(0, this, [&guard, card] {
            auto* reader = qobject_cast<CardReaderWindow*>(QApplication::activeModalWidget());
            QVERIFY(reader);
            guard.start(10000);
            QTest::keyClicks(reader->Text1, card + QStringLiteral("="));
        });
        ui(w()).Command1->click();
        QVERIFY2(!stuck, "the card-reader window did not close");
        QCOMPARE(w()->cardNumber(), card);
    }

    // Presses the pay button and waits until the exchange has ended: the
    // button usable again and something said.
    void payAndWait(int timeoutMs = 25000)
    {
        const QStringList before = fm::listLines(ui(w()).lstResult);
        const qsizetype said = MessageBox::recorded().size();
        ui(w()).Command4->click();
        QTRY_VERIFY_WITH_TIMEOUT(
            ui(w()).Command4->isEnabled() &&
                (MessageBox::recorded().size() > said || fm::listLines(ui(w()).lstResult) != before),
            timeoutMs);
    }

    // The panel made ready for the exchange of `c` (or its next try).
    void preparePanel(const TxCase& c, bool nextTry, const QString& approvalNo, const QString& authDate)
    {
        const bool refusedCard = c.mode == Mode::Balance && c.fault == Fault::Natural && !nextTry;
        swipe(refusedCard ? demo::kCardStolen : kCard);
        if (QTest::currentTestFailed())
            return;
        if (c.mode == Mode::Approval && c.fault == Fault::Natural && !nextTry) {
            ui(w()).Command3->click();
            ui(w()).txtCare_Amount1->clear();
            QTest::keyClicks(ui(w()).txtCare_Amount1, QStringLiteral("400000"));
        }
        if (c.mode == Mode::Cancellation) {
            const bool wrong = c.fault == Fault::Natural && !nextTry;
            QTest::keyClicks(ui(w()).txtOrg_approval_no, wrong ? QStringLiteral("99999999") : approvalNo);
            QTest::keyClicks(ui(w()).txtOrg_auth_date, authDate);
        }
    }

    // Waits until any reversal decided so far has reached the host and the
    // host has carried it out (it answers after committing).
    void waitForReversals(qsizetype logMark)
    {
        const qsizetype kept = fm::logSummary(dayLog(), logMark).count(QStringLiteral("Rvsl kept"));
        if (kept == 0)
            return;
        const auto reversalsAnswered = [this] {
            qsizetype n = 0;
            for (const QByteArray& a : m_host->answers())
                if (a.mid(4, 4) == "0600" && a.mid(194, 1) == "2")
                    ++n;
            return n;
        };
        QTRY_COMPARE_WITH_TIMEOUT(reversalsAnswered(), kept, 15000);
        QTRY_VERIFY_WITH_TIMEOUT(sorna::test::owedReversals().isEmpty(), 15000);
    }

private slots:
    void initTestCase() { m_matrix.startCases(transactionCases()); }

    void cleanupTestCase()
    {
        m_matrix.finishCases(
            transactionCases(), QStringLiteral("Approval, cancellation, balance inquiry"),
            QStringLiteral(
                "The merchant logs in, swipes the card 9410120000000019 (김서연, 300,000 a month) in the "
                "card-reader window, keeps the first item (언어치료 50,000) and presses 결제하기 in the mode "
                "of "
                "the row; a cancellation names an approval of 50,000 made (and shown) just before. Faults "
                "strike the first request of the exchange's type only (`--fault-on TYPE:MODE --fault-count "
                "1`), never the automatic cancellation. The main window gives the host 10 s (`timeMain`); a "
                "time-out, a connection lost after the request left, or an answer that cannot be read leave "
                "the outcome unknown: \"연결할 수 없습니다\", and an approval is reversed at once (the "
                "reversal "
                "is owed in the journal until the host answers it or takes it whole; `ReversalSender` "
                "retries "
                "every 300 ms here, and a reversal the host refuses is told to the merchant once). The "
                "ledger "
                "column is read after the reversal has reached the host; in every row each approval the host "
                "still holds was shown to the merchant. Afterwards 결제하기 is enabled, no modal window and "
                "no "
                "receipt window is left, and only the main window is open. The last column is the next try "
                "(swipe again, same mode) once the fault has passed."));
    }

    void init()
    {
        if (!fm::Matrix::runsHere())
            return;
        m_receipts.clear();
        m_shownApprovals.clear();
        m_receiptWatch.setInterval(10);
        m_receiptWatch.disconnect();
        connect(&m_receiptWatch, &QTimer::timeout, this, [this] {
            if (auto* receipt = qobject_cast<ReceiptQuestion*>(QApplication::activeModalWidget())) {
                m_receipts << receipt->Text1->text();
                receipt->Command2->click(); // 아니요: no printing
            }
        });
        m_receiptWatch.start();
    }

    void cleanup()
    {
        m_receiptWatch.stop();
        ReversalSender::instance()->stop();
        sorna::test::closeAllWindows();
        MessageBox::stopRecording();
        m_host.reset();
        m_root.reset();
    }

    void matrix_data()
    {
        QTest::addColumn<TxCase>("c");
        for (const TxCase& c : transactionCases())
            QTest::newRow(qPrintable(c.tag())) << c;
    }

    void matrix()
    {
        QFETCH(TxCase, c);
        if (!fm::Matrix::runsHere()) {
            const fm::Matrix::Outcome o = m_matrix.awaitChild(c.tag());
            qInfo("%s: %lld ms", qPrintable(c.tag()), o.ms);
            QVERIFY2(o.passed, qPrintable(o.report));
            return;
        }

        m_root = std::make_unique<TempRoot>();
        // A reset as soon as accepted strikes all of a host's traffic: a
        // second host, with that fault, serves the exchange alone.
        const QStringList hostArgs = fm::hostArguments(c.fault, msgType(c.mode));
        const bool resetHost = c.fault == Fault::ResetAtAccept;
        m_host = std::make_unique<RefHost>(resetHost ? QStringList() : hostArgs);
        QVERIFY2(m_host->isRunning(), qPrintable(m_host->error()));
        m_host->writeClientSettings(*m_root);
        std::unique_ptr<RefHost> resetting;
        if (resetHost) {
            resetting = std::make_unique<RefHost>(hostArgs);
            QVERIFY2(resetting->isRunning(), qPrintable(resetting->error()));
        }
        // With the resetting host, the line to the working host is back while
        // the merchant reads "연결할 수 없습니다", before the reversal starts: a
        // reversal written to a host that then resets cannot be told from one
        // delivered, and is never sent twice (a second one could take back a
        // later approval of the same card, amount and item).
        MessageBox::startRecording([this, resetHost](const MessageBox::Shown& shown) {
            if (resetHost && shown.text == kNoConnection)
                m_host->writeClientSettings(*m_root);
        });
        ReversalSender::instance()->setRetryInterval(300);
        ReversalSender::instance()->start();

        fm::DocRow row;
        row.exchange = modeName(c.mode);
        row.fault = c.name();
        row.host = hostArgs.join(u' ');
        row.note = c.note;
        const auto record = qScopeGuard([&] {
            row.passed = !QTest::currentTestFailed();
            m_matrix.recordRow(c.tag(), row);
        });

        m_main = logIn();
        QVERIFY(w());
        QVERIFY(QTest::qWaitForWindowExposed(w()));

        // A cancellation needs an approval, made and shown first.
        QString approvalNo, authDate;
        if (c.mode == Mode::Cancellation) {
            swipe(kCard);
            if (QTest::currentTestFailed())
                return;
            payAndWait();
            noteShown(fm::listLines(ui(w()).lstResult));
            QCOMPARE(fm::listLines(ui(w()).lstResult).value(0), kApproved);
            const QList<QVariantList> a = m_host->query(
                QStringLiteral("SELECT approval_no, auth_date FROM ledger WHERE kind = 'approval'"));
            QCOMPARE(a.size(), 1);
            approvalNo = a[0][0].toString();
            authDate = a[0][1].toString();
            m_receipts.clear();
            ui(w()).Option2->click();
        } else if (c.mode == Mode::Balance) {
            ui(w()).Option3->click();
        }
        preparePanel(c, false, approvalNo, authDate);
        if (QTest::currentTestFailed())
            return;

        // The exchange.
        const QStringList linesBefore = fm::listLines(ui(w()).lstResult);
        const qsizetype logMark = fm::logLineCount(dayLog());
        if (c.fault == Fault::NotListening)
            m_host->stop();
        if (resetting)
            resetting->writeClientSettings(*m_root);
        QElapsedTimer clock;
        clock.start();
        payAndWait();
        const qint64 outcomeMs = clock.elapsed();
        if (QTest::currentTestFailed())
            return;
        if (c.fault == Fault::Delay12)
            fm::waitUntilElapsed(clock, fm::answerDelayMs(c.fault) + 500); // the late answer comes and goes
        waitForReversals(logMark);
        QTest::qWait(200); // anything more would be seen now

        // What the merchant sees.
        // Each box by its first line (a refused reversal's box goes on with
        // the payment's details).
        QStringList messages = MessageBox::recordedTexts();
        for (QString& m : messages)
            m = m.section(u'\n', 0, 0);
        const QStringList lines = timesHidden(fm::listLines(ui(w()).lstResult));
        noteShown(lines);
        for (const QString& m : messages)
            row.sees << QStringLiteral("box: ") + m;
        if (lines == linesBefore)
            row.sees << QStringLiteral("(result lines unchanged)");
        else
            row.sees += lines;
        for (const QString& r : std::as_const(m_receipts))
            row.sees << QStringLiteral("receipt window: ") + r;

        // The main window afterwards.
        const bool usable =
            ui(w()).Command4->isEnabled() && ui(w()).Command1->isEnabled() && ui(w()).Command2->isEnabled() &&
            QApplication::activeModalWidget() == nullptr && w()->findChildren<ReceiptQuestion*>().isEmpty() &&
            fm::visibleWindows() == QStringList{QStringLiteral("Form1")} && !ui(w()).sckMain->isBusy();
        row.window =
            usable ? QStringLiteral("main window usable: 결제하기 enabled, no modal or receipt window left")
                   : QStringLiteral("NOT usable");
        row.log = fm::logSummary(dayLog(), logMark);
        row.ledger = ledger();

        // A reversal the host refuses (22: it had done nothing) is told to the
        // merchant once, after the exchange's own messages.
        QStringList expectedMessages = c.messages;
        if (row.log.contains(QStringLiteral("Rvsl refused")))
            expectedMessages << kReversalRefused;
        QCOMPARE(messages.join(u'|'), expectedMessages.join(u'|'));
        QStringList expectedLines = c.lines.isEmpty() ? linesBefore : c.lines;
        if (c.lines == kApprovedLines)
            expectedLines.replaceInStrings(QStringLiteral("{no}"), latestNumber(QStringLiteral("approval")));
        if (c.lines == kCancelledLines)
            expectedLines.replaceInStrings(QStringLiteral("{no}"),
                                           latestNumber(QStringLiteral("cancellation")));
        // A request that left without a usable answer says so; one whose
        // connection broke before or after it was written (the second log)
        // may leave the lines as they were.
        const bool left = std::any_of(row.log.begin(), row.log.end(), [&c](const QString& entry) {
            return entry.startsWith(QStringLiteral("Send ") + msgType(c.mode)) &&
                   entry != QStringLiteral("Send 0600/2"); // the reversal
        });
        if (c.lines.isEmpty() && c.messages == QStringList{kNoConnection} && left) {
            const QStringList lost = lostLines(c.mode, row.log);
            if (!c.logOr || lines != expectedLines)
                expectedLines = lost;
        }
        QCOMPARE(lines, expectedLines);
        QCOMPARE(m_receipts, c.receipt.isEmpty() ? QStringList() : QStringList{c.receipt});
        QVERIFY(usable);
        QVERIFY2(fm::logMatches(row.log, c.log) || (c.logOr && fm::logMatches(row.log, *c.logOr)),
                 qPrintable(row.log.join(QStringLiteral(" · "))));
        QCOMPARE(row.ledger, c.ledger);
        if (resetting)
            QVERIFY(resetting->query(QStringLiteral("SELECT id FROM ledger")).isEmpty());
        checkNoHiddenDeduction();
        const int delay = fm::answerDelayMs(c.fault);
        if (c.fault == Fault::Silent)
            QVERIFY2(outcomeMs >= 9990, qPrintable(QString::number(outcomeMs)));
        else
            QVERIFY2(outcomeMs >= std::min(delay, 9990), qPrintable(QString::number(outcomeMs)));

        // The next try, once the fault has passed.
        if (c.fault == Fault::NotListening)
            QVERIFY2(m_host->restart(), qPrintable(m_host->error()));
        m_receipts.clear();
        // The same payment again within the same second would carry the same
        // trace number and bytes: the host takes that for a replay ("70").
        QTest::qWait(1001 - Clock::now().time().msec());
        preparePanel(c, true, approvalNo, authDate);
        if (QTest::currentTestFailed())
            return;
        // When the host did carry out the first approval, the same card, item
        // and amount again within five minutes is asked about first: the
        // merchant means to pay again.
        MessageBox::answerNext(true);
        payAndWait();
        if (QTest::currentTestFailed())
            return;
        waitForReversals(logMark);
        const QStringList next = fm::listLines(ui(w()).lstResult);
        noteShown(next);
        row.retry = outcomeLine(next);
        QCOMPARE(row.retry, c.next);
        const QList<MessageBox::Shown> shownAll = MessageBox::recorded();
        const auto questions =
            std::count_if(shownAll.cbegin(), shownAll.cend(),
                          [](const MessageBox::Shown& m) { return m.icon == MessageBox::Icon::Question; });
        QCOMPARE(shownAll.size() - questions, expectedMessages.size());
        checkNoHiddenDeduction();
        QCOMPARE(fm::visibleWindows(), QStringList{QStringLiteral("Form1")});
        QCOMPARE(QApplication::activeModalWidget(), nullptr);
        QVERIFY(ui(w()).Command4->isEnabled());
    }
};

QTEST_MAIN(TestFaultMatrixTransaction)
#include "tst_faultmatrix_transaction.moc"
