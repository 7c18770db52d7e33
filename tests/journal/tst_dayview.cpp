// A day of the journal as the merchant reads it: each row's state in plain
// words, which rows stand out and say what to do, which may be printed again
// or cancelled, the receipt printed again from a row, the day's totals and
// their CSV.

#include "journal/dayview.h"
#include "receipt/daytotalslayout.h"
#include "receipt/receiptlayout.h"

#include <QTest>

using namespace sorna;
using namespace sorna::dayview;
using namespace Qt::StringLiterals;

namespace {

JournalDayRow dayRow(JournalKind kind, JournalState state, ReversalState reversal = ReversalState::None)
{
    JournalDayRow d;
    JournalRow& r = d.row;
    r.id = 7;
    r.kind = kind;
    r.state = state;
    r.reversal = reversal;
    r.date = u"20261207"_s;
    r.time = u"143025"_s;
    r.cardMasked = u"94101200****0019"_s;
    r.itemName = u"언어치료"_s;
    r.teacherName = u"박소윤    "_s;
    r.amount = u"50000"_s;
    if (state == JournalState::Approved || state == JournalState::Cancelled) {
        r.respCode = u"00"_s;
        r.approvalNo = u"10000042"_s;
        r.transDate = u"20261207"_s;
        r.transTime = u"093025"_s;
        r.remainAmount = u"000250000"_s;
        r.studentName = u"김서연"_s;
    }
    return d;
}

} // namespace

class TestDayView : public QObject
{
    Q_OBJECT
private slots:
    void states_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<int>("state");
        QTest::addColumn<int>("reversal");
        QTest::addColumn<QString>("respCode");
        QTest::addColumn<bool>("cancelledLater");
        QTest::addColumn<QString>("shown");
        QTest::addColumn<int>("look");
        QTest::addColumn<bool>("advice");
        QTest::addColumn<bool>("reprint");
        QTest::addColumn<bool>("cancel");

        const int A = int(JournalKind::Approval), C = int(JournalKind::Cancellation);
        const int none = int(ReversalState::None);
        const int plain = int(Look::Plain), refused = int(Look::Refused), settled = int(Look::Settled),
                  attention = int(Look::Attention);
        QTest::newRow("approved") << A << int(JournalState::Approved) << none << u"00"_s << false << u"승인"_s
                                  << plain << false << true << true;
        QTest::newRow("approved, cancelled since")
            << A << int(JournalState::Approved) << none << u"00"_s << true << u"취소됨"_s << settled << false
            << true << false;
        QTest::newRow("cancellation accepted") << C << int(JournalState::Cancelled) << none << u"00"_s
                                               << false << u"취소 완료"_s << plain << false << true << false;
        QTest::newRow("approval refused, from the code table")
            << A << int(JournalState::Refused) << none << u"51"_s << false << u"거절 51 재조회요망"_s
            << refused << false << false << false;
        QTest::newRow("cancellation refused, in the host's words")
            << C << int(JournalState::Refused) << none << u"22"_s << false << u"거절 22 원거래 없음"_s
            << refused << false << false << false;
        QTest::newRow("unknown, reversal owed")
            << A << int(JournalState::Unknown) << int(ReversalState::Owed) << QString() << false
            << u"결과 미확인 – 자동취소 대기"_s << attention << true << false << false;
        // Unanswered approvals: the code is the reversal's answer.
        QTest::newRow("reversal delivered")
            << A << int(JournalState::Unknown) << int(ReversalState::Delivered) << u"00"_s << false
            << u"자동취소 완료"_s << settled << false << false << false;
        QTest::newRow("reversal delivered, the host never answered it")
            << A << int(JournalState::Unknown) << int(ReversalState::Delivered) << QString() << false
            << u"자동취소 보냄 – 결과 미확인"_s << attention << true << false << false;
        QTest::newRow("reversal refused")
            << A << int(JournalState::Unknown) << int(ReversalState::Refused) << u"22"_s << false
            << u"자동취소 거절 22"_s << attention << true << false << false;
        QTest::newRow("reversal never sent")
            << A << int(JournalState::Unknown) << int(ReversalState::Rejected) << QString() << false
            << u"자동취소 불가 (기록 손상)"_s << attention << true << false << false;
        QTest::newRow("cancellation unanswered")
            << C << int(JournalState::Unknown) << none << QString() << false << u"결과 미확인"_s << attention
            << true << false << false;
        QTest::newRow("never left") << A << int(JournalState::NotSent) << none << QString() << false
                                    << u"보내지 못함"_s << refused << false << false << false;
        // Values no version of the program writes: a row changed by hand.
        const QString strange = u"알 수 없는 기록"_s;
        QTest::newRow("state unknown to the program")
            << A << 9 << none << QString() << false << strange << attention << true << false << false;
        QTest::newRow("kind unknown to the program, approved")
            << 3 << int(JournalState::Approved) << none << u"00"_s << false << strange << attention << true
            << false << false;
        QTest::newRow("approved, reversal state unknown to the program")
            << A << int(JournalState::Approved) << 7 << u"00"_s << false << strange << attention << true
            << false << false;
        // A cancellation never stands as an approval: nothing to cancel.
        QTest::newRow("cancellation shown approved") << C << int(JournalState::Approved) << none << u"00"_s
                                                     << false << u"승인"_s << plain << false << true << false;
        QTest::newRow("reversal state unknown to the program")
            << A << int(JournalState::Unknown) << 7 << QString() << false << strange << attention << true
            << false << false;
        // The host's word on an approval an automatic cancellation took back.
        const int T = int(JournalKind::HostTakeBack);
        QTest::newRow("host took back an earlier approval")
            << T << int(JournalState::Cancelled) << none << u"00"_s << false << u"승인 서버가 취소함"_s
            << attention << true << false << false;
        QTest::newRow("host may have taken back an earlier approval")
            << T << int(JournalState::Unknown) << none << u"22"_s << false
            << u"승인 서버가 취소했을 수 있음"_s << attention << true << false << false;
    }
    void states()
    {
        QFETCH(int, kind);
        QFETCH(int, state);
        QFETCH(int, reversal);
        QFETCH(QString, respCode);
        QFETCH(bool, cancelledLater);
        QFETCH(QString, shown);
        const QString strange = u"알 수 없는 기록"_s;

        JournalDayRow d = dayRow(JournalKind(kind), JournalState(state), ReversalState(reversal));
        d.cancelled = cancelledLater;
        if (!respCode.isEmpty() && state == int(JournalState::Refused)) {
            d.row.respCode = respCode;
            d.row.hostMessage = u"원거래 없음"_s;
        }
        d.row.reversalRespCode = state == int(JournalState::Unknown) ? respCode : u"22"_s;
        const ShownRow s = Show(d);
        QCOMPARE(s.state, shown);
        QTEST(int(s.look), "look");
        QTEST(!s.advice.isEmpty(), "advice");
        QTEST(s.mayReprint, "reprint");
        QTEST(s.mayCancel, "cancel");
        QCOMPARE(s.card, u"9410-1200-****-0019"_s);
        QCOMPARE(s.time, u"14:30:25"_s);
        // The whole number, where a hand-edited row holds it, is masked too.
        d.row.cardMasked = u"9410120000000019"_s;
        QCOMPARE(Show(d).card, u"9410-1200-****-0019"_s);
        QCOMPARE(s.kind, kind == int(JournalKind::Approval)                             ? u"승인"_s
                         : kind == int(JournalKind::HostTakeBack) && s.state != strange ? u"자동취소"_s
                                                                                        : u"취소"_s);
    }

    // The receipt printed again carries what the first one did: the answer's
    // amount (a cancellation's is the whole approval's), date and time,
    // remaining amount, item and teacher; the card masked the same way.
    void receiptFromRow()
    {
        JournalDayRow d = dayRow(JournalKind::Cancellation, JournalState::Cancelled);
        d.answerAmount = u"45000"_s;
        const ReceiptData r = ReceiptOf(d);
        QCOMPARE(r.kind, u"카드 취소"_s);
        QCOMPARE(MaskCardNumber(r.cardNumber), u"9410-1200-****-0019"_s);
        QCOMPARE(r.dateTime, u"20261207  9:30:25"_s);
        QCOMPARE(r.approvalNo, u"10000042"_s);
        QCOMPARE(r.amount, u"45,000"_s);
        QCOMPARE(r.remain, u"250,000"_s);
        QCOMPARE(r.item, u"언어치료"_s);
        QCOMPARE(r.teacher, u"박소윤"_s);
        // The host knows an approval by the date it gave it: asked for just
        // before midnight, dated the next day; the counter's date only when
        // the host gave none.
        JournalDayRow late = dayRow(JournalKind::Approval, JournalState::Approved);
        late.row.transDate = u"20261208"_s;
        const CancelTarget t = CancelTargetOf(late);
        QCOMPARE(t.rowId, 7);
        QCOMPARE(t.approvalNo, u"10000042"_s);
        QCOMPARE(t.authDate, u"20261208"_s);
        QCOMPARE(t.itemName, u"언어치료"_s);
        late.row.transDate.clear();
        QCOMPARE(CancelTargetOf(late).authDate, u"20261207"_s);
    }

    // Accepted approvals and cancellations count, per item and in all; a
    // cancellation under its approval's item; refusals, reversed and unknown
    // outcomes nowhere (the last two counted apart).
    void totals()
    {
        QList<JournalDayRow> rows;
        auto add = [&rows](JournalKind k, JournalState s, const QString& item, const QString& amount,
                           ReversalState rv = ReversalState::None) {
            JournalDayRow d = dayRow(k, s, rv);
            d.row.itemName = item;
            d.row.amount = amount;
            rows.append(d);
            return &rows.last();
        };
        // No two kinds of row the same in number, so that a row counted in
        // the wrong place changes some figure.
        add(JournalKind::Approval, JournalState::Approved, u"언어치료"_s, u"50000"_s);
        add(JournalKind::Approval, JournalState::Approved, u"언어치료"_s, u"40000"_s);
        add(JournalKind::Approval, JournalState::Approved, u"미술치료"_s, u"45000"_s);
        // Shown under another item on the panel, and asked for another amount:
        // counts under the approval's item, for the amount the host took back.
        JournalDayRow* c = add(JournalKind::Cancellation, JournalState::Cancelled, u"음악치료"_s, u"60000"_s);
        c->originalItemName = u"미술치료"_s;
        c->answerAmount = u"45000"_s;
        // Its approval not in the journal: under the item it was asked for.
        add(JournalKind::Cancellation, JournalState::Cancelled, u"언어치료"_s, u"40000"_s);
        add(JournalKind::Approval, JournalState::Refused, u"언어치료"_s, u"50000"_s);
        add(JournalKind::Cancellation, JournalState::Refused, u"언어치료"_s, u"50000"_s);
        // Reversed, or never sent: nowhere.
        add(JournalKind::Approval, JournalState::Unknown, u"언어치료"_s, u"50000"_s, ReversalState::Delivered)
            ->row.reversalRespCode = u"00"_s;
        add(JournalKind::Approval, JournalState::NotSent, u"언어치료"_s, u"50000"_s);
        // Outcome still unknown: five (a reversal the host never answered
        // among them).
        add(JournalKind::Approval, JournalState::Unknown, u"언어치료"_s, u"50000"_s,
            ReversalState::Delivered);
        add(JournalKind::Approval, JournalState::Unknown, u"언어치료"_s, u"50000"_s, ReversalState::Owed);
        add(JournalKind::Approval, JournalState::Unknown, u"언어치료"_s, u"50000"_s, ReversalState::Refused);
        add(JournalKind::Cancellation, JournalState::Unknown, u"언어치료"_s, u"50000"_s);
        add(JournalKind::Approval, JournalState::Pending, u"언어치료"_s, u"50000"_s);

        const DayTotals t = Totals(u"20261207"_s, rows);
        QCOMPARE(t.date, u"20261207"_s);
        QCOMPARE(t.items.size(), 2);
        QCOMPARE(t.items[0].item, u"미술치료"_s);
        QCOMPARE(t.items[0].approvals, 1);
        QCOMPARE(t.items[0].approved, 45000);
        QCOMPARE(t.items[0].cancellations, 1);
        QCOMPARE(t.items[0].cancelled, 45000);
        QCOMPARE(t.items[0].net(), 0);
        QCOMPARE(t.items[1].item, u"언어치료"_s);
        QCOMPARE(t.items[1].approvals, 2);
        QCOMPARE(t.items[1].approved, 90000);
        QCOMPARE(t.items[1].cancellations, 1);
        QCOMPARE(t.items[1].cancelled, 40000);
        QCOMPARE(t.all.item, u"합계"_s);
        QCOMPARE(t.all.approvals, 3);
        QCOMPARE(t.all.approved, 135000);
        QCOMPARE(t.all.cancellations, 2);
        QCOMPARE(t.all.cancelled, 85000);
        QCOMPARE(t.all.netCount(), 1);
        QCOMPARE(t.all.net(), 50000);
        QCOMPARE(t.refused, 2);
        QCOMPARE(t.unknown, 5);

        // The CSV: a byte order mark, the totals, and an item name that a
        // spreadsheet would take for a formula shown as text.
        rows[0].row.itemName = u"=1+2,\"x\""_s;
        rows[1].row.itemName = rows[0].row.itemName;
        const QByteArray csv = TotalsCsv(Totals(u"20261207"_s, rows));
        QVERIFY(csv.startsWith("\xEF\xBB\xBF"));
        const QStringList lines = QString::fromUtf8(csv.mid(3)).split(u"\r\n"_s);
        QCOMPARE(lines.value(0), u"거래일자,2026-12-07"_s);
        QCOMPARE(lines.value(1), u"치료영역,승인 건수,승인 금액,취소 건수,취소 금액,순 건수,순 금액"_s);
        QCOMPARE(lines.value(2), u"\"'=1+2,\"\"x\"\"\",2,90000,0,0,2,90000"_s);
        QCOMPARE(lines.value(3), u"미술치료,1,45000,1,45000,0,0"_s);
        QCOMPARE(lines.value(4), u"언어치료,0,0,1,40000,-1,-40000"_s);
        QCOMPARE(lines.value(5), u"합계,3,135000,2,85000,1,50000"_s);
        QCOMPARE(lines.value(6), u"거절 건수,2"_s);
        QCOMPARE(lines.value(7), u"결과 미확인 건수,5"_s);
        QCOMPARE(lines.value(8), QString()); // ends with a line end
        QCOMPARE(lines.size(), 9);
    }

    // What a request cannot carry (more than ten digits of won, or less than
    // nothing) counts as nothing, so that a day's sums cannot overflow.
    void amountsBeyondAnyRequest_data()
    {
        QTest::addColumn<QString>("amount");
        QTest::addColumn<QString>("answered");
        QTest::addColumn<qint64>("won");
        QTest::newRow("asked") << u"50000"_s << QString() << qint64(50000);
        QTest::newRow("answered wins") << u"50000"_s << u"45000"_s << qint64(45000);
        QTest::newRow("ten digits") << u"9999999999"_s << QString() << qint64(9999999999);
        QTest::newRow("eleven digits") << u"10000000000"_s << QString() << qint64(0);
        QTest::newRow("the largest number") << u"9223372036854775807"_s << QString() << qint64(0);
        QTest::newRow("below nothing") << u"-5000"_s << QString() << qint64(0);
        QTest::newRow("no number") << u"abc"_s << QString() << qint64(0);
    }
    void amountsBeyondAnyRequest()
    {
        QFETCH(QString, amount);
        QFETCH(QString, answered);
        QFETCH(qint64, won);
        JournalDayRow d = dayRow(JournalKind::Approval, JournalState::Approved);
        d.row.amount = amount;
        d.answerAmount = answered;
        QCOMPARE(AmountOf(d), won);
        const DayTotals t = Totals(u"20261207"_s, {d, d, d});
        QCOMPARE(t.all.approved, 3 * won);
    }

    // Each name is one cell on one line, and never one a spreadsheet computes.
    void csvCells_data()
    {
        QTest::addColumn<QString>("item");
        QTest::addColumn<QString>("cell");
        QTest::newRow("plain") << u"음악치료"_s << u"음악치료"_s;
        QTest::newRow("formula") << u"=1+2"_s << u"'=1+2"_s;
        QTest::newRow("formula after blanks") << u"  =cmd|' /C calc'!A0"_s << u"'  =cmd|' /C calc'!A0"_s;
        QTest::newRow("minus") << u"-3+3"_s << u"'-3+3"_s;
        QTest::newRow("plus") << u"+3"_s << u"'+3"_s;
        QTest::newRow("at") << u"@SUM(A1)"_s << u"'@SUM(A1)"_s;
        QTest::newRow("tab") << u"\t=1"_s << u"'\t=1"_s;
        QTest::newRow("line break") << u"언어\r\n치료"_s << u"언어  치료"_s;
        QTest::newRow("line break, then a formula") << u"\n=1"_s << u"' =1"_s;
        QTest::newRow("comma") << u"a,b"_s << u"\"a,b\""_s;
        QTest::newRow("quotes") << u"say \"hi\""_s << u"\"say \"\"hi\"\"\""_s;
    }
    void csvCells()
    {
        QFETCH(QString, item);
        QFETCH(QString, cell);
        DayTotals t;
        t.date = u"=1+1"_s;
        t.all.item = u"합계"_s;
        t.items.append(ItemTotal{item, 1, 50000, 0, 0});
        const QStringList lines = QString::fromUtf8(TotalsCsv(t).mid(3)).split(u"\r\n"_s);
        QCOMPARE(lines.size(), 7);
        QCOMPARE(lines.value(0), u"거래일자,'=1+1"_s);
        QCOMPARE(lines.value(2), cell + u",1,50000,0,0,1,50000"_s);
    }

    // The rows of a search as CSV: each row as shown, over several days,
    // card numbers masked, a text a spreadsheet would compute made text.
    void rowsCsv()
    {
        JournalDayRow approved = dayRow(JournalKind::Approval, JournalState::Approved);
        approved.row.date = u"20261205"_s;
        approved.row.studentName = u"=HYPERLINK(\"x\")"_s;
        JournalDayRow refused = dayRow(JournalKind::Approval, JournalState::Refused);
        refused.row.respCode = u"85"_s;
        refused.row.time = u"090501"_s;
        JournalDayRow cancel = dayRow(JournalKind::Cancellation, JournalState::Cancelled);
        cancel.row.date = u"20261206"_s;
        cancel.answerAmount = u"45000"_s;
        const QByteArray csv = RowsCsv({refused, cancel, approved});
        const QByteArray expected =
            "\xEF\xBB\xBF"
            "\xEA\xB1\xB0\xEB\x9E\x98\xEC\x9D\xBC\xEC\x9E\x90,\xEC\x8B\x9C\xEA\xB0\x81,"
            "\xEA\xB5\xAC\xEB\xB6\x84,\xEC\xB9\xB4\xEB\x93\x9C\xEB\xB2\x88\xED\x98\xB8,"
            "\xED\x95\x99\xEC\x83\x9D,\xEC\xB9\x98\xEB\xA3\x8C\xEC\x98\x81\xEC\x97\xAD,"
            "\xEC\xA0\x9C\xEA\xB3\xB5\xEC\x9D\xB8\xEB\xA0\xA5,\xEA\xB8\x88\xEC\x95\xA1,"
            "\xEC\x8A\xB9\xEC\x9D\xB8\xEB\xB2\x88\xED\x98\xB8,\xEC\x83\x81\xED\x83\x9C\r\n";
        QVERIFY(csv.startsWith(expected));
        const QStringList lines = QString::fromUtf8(csv.mid(3)).split(u"\r\n"_s);
        QCOMPARE(lines.size(), 5); // heading, three rows, and the last line's end
        QCOMPARE(
            lines[1],
            u"2026-12-07,09:05:01,승인,9410-1200-****-0019,,언어치료,박소윤,50000,,거절 85 1일 사용한도초과"_s);
        QCOMPARE(
            lines[2],
            u"2026-12-06,14:30:25,취소,9410-1200-****-0019,김서연,언어치료,박소윤,45000,10000042,취소 완료"_s);
        QCOMPARE(
            lines[3],
            u"2026-12-05,14:30:25,승인,9410-1200-****-0019,\"'=HYPERLINK(\"\"x\"\")\",언어치료,박소윤,50000,10000042,승인"_s);
        QCOMPARE(lines[4], QString());
    }

    // The receipt the main window prints again with one key: the newest
    // approved or cancelled row, whatever came after it.
    void lastReprintable_data()
    {
        QTest::addColumn<QList<int>>("states"); // newest first
        QTest::addColumn<int>("index");
        const int ok = int(JournalState::Approved), cancelled = int(JournalState::Cancelled),
                  refused = int(JournalState::Refused), unknown = int(JournalState::Unknown),
                  notSent = int(JournalState::NotSent);
        QTest::newRow("the newest") << QList<int>{ok, ok} << 0;
        QTest::newRow("past a refusal and a time-out") << QList<int>{refused, unknown, notSent, ok} << 3;
        QTest::newRow("a cancellation's receipt") << QList<int>{refused, cancelled, ok} << 1;
        QTest::newRow("none accepted") << QList<int>{refused, unknown} << -1;
        QTest::newRow("an empty day") << QList<int>{} << -1;
    }

    void lastReprintable()
    {
        QFETCH(QList<int>, states);
        QFETCH(int, index);
        QList<JournalDayRow> rows;
        for (int st : states)
            rows << dayRow(st == int(JournalState::Cancelled) ? JournalKind::Cancellation
                                                              : JournalKind::Approval,
                           JournalState(st));
        QCOMPARE(LastReprintable(rows), index);
    }

    // On the receipt printer: the receipt's frame; an item's block is never
    // split over two pages, and a day of many items goes on to a second page.
    void totalsOnPaper()
    {
        DayTotals t;
        t.date = u"20261207"_s;
        for (int i = 0; i < 20; ++i)
            t.items.append(ItemTotal{u"치료 %1"_s.arg(i), 1, 50000, 0, 0});
        t.all = ItemTotal{u"합계"_s, 20, 1000000, 0, 0};
        const auto width = [](const QString& s) { return s.size() * 1.5; };
        const receipt::ReceiptLayout l = receipt::LayoutDayTotals(
            t, width, QDateTime(QDate(2026, 12, 7), QTime(18, 0)), [] { return receipt::MerchantInfo{}; });
        QCOMPARE(l.pageCount(), 2);
        QCOMPARE(l.frames.first(), QRectF(QPointF(0, 0), QPointF(75, 225)));
        for (const receipt::ReceiptText& text : l.texts)
            QVERIFY2(text.y >= 5 && text.y + 3 <= 221, qPrintable(text.text));
        for (qsizetype i = 0; i < l.texts.size(); ++i)
            if (l.texts[i].text.startsWith(u'['))
                for (qsizetype j = i + 1; j < i + 7 && j < l.texts.size();
                     ++j) // its three lines, two texts each
                    QCOMPARE(l.texts[j].page, l.texts[i].page);
        const QString last = l.texts.last().text;
        QCOMPARE(last, u"출력일시 : 2026-12-07 18:00:00"_s);
        QCOMPARE(l.texts.last().page, 1);
    }
};

QTEST_GUILESS_MAIN(TestDayView)
#include "tst_dayview.moc"
