// The pay desk without any window: the pay checks, the request a panel
// describes (typed text in the two lists included), what an answer, a
// time-out or a close means, always by the request that was sent.

#include "foundation/clock.h"
#include "foundation/cp949.h"
#include "foundation/paths.h"
#include "journal/journal.h"
#include "support/testsupport.h"
#include "transaction/counteroutcome.h"
#include "transaction/paydesk.h"

#include <memory>

#include <QDir>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QtTest>

using namespace sorna;

namespace {

const QStringList kCard = {QStringLiteral("9410"), QStringLiteral("1200"), QStringLiteral("0000"),
                           QStringLiteral("0019")};

CardInquiryAnswer cardWithItems()
{
    CardInquiryAnswer a;
    a.record[tx::resp_code] = QStringLiteral("00");
    for (int n = 0; n < kTherapyItemCount; ++n) {
        TherapyItem& item = a.items[size_t(n)];
        item.name = QStringLiteral("치료%1").arg(n + 1);
        item.teacher = QStringLiteral("교사%1").arg(n + 1);
        item.teacherCode = QStringLiteral("T%1").arg(n + 1);
        item.code = QStringLiteral("C0%1").arg(n + 1);
        item.amount = QString::number((n + 1) * 10000).rightJustified(6, u'0');
    }
    a.items[3].amount = QStringLiteral("1200000");
    a.items[7].amount = QStringLiteral("      ");
    return a;
}

PanelInput panelWithItem(TransactionMode mode, int item)
{
    PanelInput p;
    p.mode = mode;
    p.cardGroups = kCard;
    p.itemIndex = item;
    p.itemText = QStringLiteral("치료%1").arg(item + 1);
    p.teacher = QStringLiteral("교사%1").arg(item + 1);
    p.amount = QStringLiteral("10,000");
    return p;
}

// A deciphered answer: the length field and the record.
QByteArray answerText(const QString& resp)
{
    TransactionRecord r;
    r[tx::resp_code] = resp;
    r[tx::trans_date] = QStringLiteral("20250305");
    r[tx::trans_time] = QStringLiteral("143025");
    r[tx::card_data] = QStringLiteral("9410120000000019");
    r[tx::amount] = QStringLiteral("10000");
    r[tx::approval_no] = QStringLiteral("12345678");
    return QByteArrayLiteral("0450") + cp949::encode(r.build());
}

} // namespace

class TestPayDesk : public QObject
{
    Q_OBJECT

    // Every approval and cancellation goes into the journal of this root.
    std::unique_ptr<sorna::test::TempRoot> m_root;

private slots:
    void init()
    {
        m_root = std::make_unique<sorna::test::TempRoot>();
        MessageStore::clear();
        Clock::setFixed(QDateTime(QDate(2025, 3, 5), QTime(14, 30, 25)));
    }
    void cleanup()
    {
        Clock::reset();
        Journal::instance().close();
        m_root.reset();
    }

    // The reason check applies to approvals only, and only to an empty or
    // one-blank other-reason; typing over a chosen reason chooses none.
    void payChecks_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<QString>("lastGroup");
        QTest::addColumn<int>("reason");
        QTest::addColumn<QString>("reasonText");
        QTest::addColumn<QString>("other");
        QTest::addColumn<int>("check");

        const QString other = PayDesk::changeReasons()[3];
        const int needReason = int(PayCheck::NeedReason);
        const int go = int(PayCheck::Go);
        for (TransactionMode m :
             {TransactionMode::Approval, TransactionMode::Cancellation, TransactionMode::Balance}) {
            const bool approval = m == TransactionMode::Approval;
            const int mode = int(m);
            QTest::addRow("mode %d, 기타, empty", mode)
                << mode << "0019" << 3 << other << "" << (approval ? needReason : go);
            QTest::addRow("mode %d, 기타, one blank", mode)
                << mode << "0019" << 3 << other << " " << (approval ? needReason : go);
            QTest::addRow("mode %d, 기타, two blanks", mode) << mode << "0019" << 3 << other << "  " << go;
            QTest::addRow("mode %d, 기타, typed", mode) << mode << "0019" << 3 << other << "보강 수업" << go;
        }
        const int approval = int(TransactionMode::Approval);
        QTest::newRow("reason 1, empty")
            << approval << "0019" << 0 << PayDesk::changeReasons()[0] << "" << go;
        QTest::newRow("no reason picked") << approval << "0019" << -1 << ""
                                          << "" << go;
        QTest::newRow("기타 chosen, then a reason typed over it") << approval << "0019" << 3 << "학부모 요청"
                                                                  << "" << go;
        QTest::newRow("card of 15 characters") << approval << "001" << -1 << ""
                                               << "" << int(PayCheck::NeedCard);
        QTest::newRow("card of 16 characters") << approval << "0019" << -1 << ""
                                               << "" << go;
        QTest::newRow("card of 17 characters") << approval << "00199" << -1 << ""
                                               << "" << go;
        QTest::newRow("no card") << approval << "" << -1 << ""
                                 << "" << int(PayCheck::NeedCard);
        // The item rows: -2 picks the blank eighth line of the list (no
        // amount), -3 a text typed over the list (no codes, as before: the
        // host judges it), -4 an amount changed to 0.
        const int needItem = int(PayCheck::NeedItem);
        QTest::newRow("approval, blank item line") << approval << "0019" << -2 << ""
                                                   << "" << needItem;
        QTest::newRow("approval, item typed") << approval << "0019" << -3 << ""
                                              << "" << go;
        QTest::newRow("approval, amount 0") << approval << "0019" << -4 << ""
                                            << "" << needItem;
        for (TransactionMode m : {TransactionMode::Cancellation, TransactionMode::Balance})
            QTest::addRow("mode %d, blank item line", int(m)) << int(m) << "0019" << -2 << ""
                                                              << "" << go;
    }
    void payChecks()
    {
        QFETCH(int, mode);
        QFETCH(QString, lastGroup);
        QFETCH(int, reason);
        QFETCH(QString, reasonText);
        QFETCH(QString, other);
        QFETCH(int, check);

        PayDesk desk;
        desk.takeCardAnswer(cardWithItems(), TransactionMode::Approval);
        PanelInput p = panelWithItem(TransactionMode(mode), reason == -2 ? 7 : 0);
        if (reason == -2)
            p.amount.clear();
        if (reason == -3)
            p.itemIndex = -1;
        if (reason == -4)
            p.amount = QStringLiteral("0");
        if (reason < -1)
            reason = -1;
        p.cardGroups =
            lastGroup.isEmpty() ? QStringList{} : QStringList{kCard[0], kCard[1], kCard[2], lastGroup};
        p.reasonIndex = reason;
        p.reasonText = reasonText;
        p.otherReason = other;
        QCOMPARE(int(desk.checkPay(p)), check);
    }

    // A click in the very second the last request was built, with no
    // merchant number to tell them apart, and a click while a request
    // waits, go no further.
    void payChecksOnTheLastRequest()
    {
        PayDesk desk;
        desk.takeCardAnswer(cardWithItems(), TransactionMode::Approval);
        const PanelInput p = panelWithItem(TransactionMode::Approval, 0);
        QVERIFY(desk.beginRequest(p, QStringLiteral("3901"), QString(), nullptr));
        QCOMPARE(desk.checkPay(p), PayCheck::Busy);
        desk.requestNotSent();
        QCOMPARE(desk.checkPay(p), PayCheck::SameSecond);
        Clock::setFixed(Clock::now().addSecs(1));
        QCOMPARE(desk.checkPay(p), PayCheck::Go);
    }

    // The item and reason sent: a typed text chooses no item (no codes go
    // out) and is the reason that goes out.
    void requestInput_data()
    {
        QTest::addColumn<int>("item");
        QTest::addColumn<QString>("itemText");
        QTest::addColumn<int>("reason");
        QTest::addColumn<QString>("reasonText");
        QTest::addColumn<QString>("other");
        QTest::addColumn<QString>("careCode");
        QTest::addColumn<QString>("teacherCode");
        QTest::addColumn<QString>("sentReason");

        const QStringList& reasons = PayDesk::changeReasons();
        QTest::newRow("item 4 chosen") << 3 << "치료4" << -1 << ""
                                       << ""
                                       << "C04"
                                       << "T4"
                                       << "";
        QTest::newRow("no item") << -1 << "" << -1 << ""
                                 << ""
                                 << ""
                                 << ""
                                 << "";
        QTest::newRow("item chosen, then other text typed over it") << 3 << "직접 쓴 치료" << -1 << ""
                                                                    << ""
                                                                    << ""
                                                                    << ""
                                                                    << "";
        QTest::newRow("beyond the ninth entry") << 9 << "치료10" << -1 << ""
                                                << ""
                                                << ""
                                                << ""
                                                << "";
        QTest::newRow("reason 3") << 0 << "치료1" << 2 << reasons[2] << ""
                                  << "C01"
                                  << "T1" << reasons[2];
        QTest::newRow("기타 with the other reason, blanks dropped")
            << 0 << "치료1" << 3 << reasons[3] << "  보강 수업 "
            << "C01"
            << "T1"
            << "보강 수업";
        QTest::newRow("reason chosen, then another typed over it") << 0 << "치료1" << 3 << "학부모 요청"
                                                                   << "무시되는 기타"
                                                                   << "C01"
                                                                   << "T1"
                                                                   << "학부모 요청";
        QTest::newRow("reason typed with none chosen") << 0 << "치료1" << -1 << "학부모 요청"
                                                       << ""
                                                       << "C01"
                                                       << "T1"
                                                       << "학부모 요청";
    }
    void requestInput()
    {
        QFETCH(int, item);
        QFETCH(QString, itemText);
        QFETCH(int, reason);
        QFETCH(QString, reasonText);
        QFETCH(QString, other);
        QFETCH(QString, careCode);
        QFETCH(QString, teacherCode);
        QFETCH(QString, sentReason);

        PayDesk desk;
        desk.takeCardNumber(kCard, QStringLiteral("2"));
        desk.takeCardAnswer(cardWithItems(), TransactionMode::Approval);
        PanelInput p = panelWithItem(TransactionMode::Approval, 0);
        p.itemIndex = item;
        p.itemText = itemText;
        p.reasonIndex = reason;
        p.reasonText = reasonText;
        p.otherReason = other;
        const TransactionInput in = desk.requestInput(p);
        QCOMPARE(in.careCode, careCode);
        QCOMPARE(in.teacherCode, teacherCode);
        QCOMPARE(in.reasonText, sentReason);
        QCOMPARE(in.entryMode, QStringLiteral("2"));
        QCOMPARE(in.cardNumber, QStringLiteral("9410120000000019"));
    }

    void itemChoice_data()
    {
        QTest::addColumn<int>("index");
        QTest::addColumn<bool>("known");
        QTest::addColumn<QString>("teacher");
        QTest::addColumn<QString>("amount");
        QTest::newRow("first") << 0 << true << "교사1"
                               << "10,000";
        QTest::newRow("index 3, 1200000") << 3 << true << "교사4"
                                          << "1,200,000";
        QTest::newRow("blank amount kept") << 7 << true << "교사8"
                                           << "      ";
        QTest::newRow("last") << 8 << true << "교사9"
                              << "90,000";
        QTest::newRow("beyond the table") << 9 << false << ""
                                          << "";
        QTest::newRow("none") << -1 << false << ""
                              << "";
    }
    void itemChoice()
    {
        QFETCH(int, index);
        QFETCH(bool, known);
        QFETCH(QString, teacher);
        QFETCH(QString, amount);
        PayDesk desk;
        desk.takeCardAnswer(cardWithItems(), TransactionMode::Approval);
        const auto shown = desk.chooseItem(index);
        QCOMPARE(shown.has_value(), known);
        if (known) {
            QCOMPARE(shown->teacher, teacher);
            QCOMPARE(shown->amount, amount);
        }
    }

    // An answer means what the request that was sent asked; an answer that
    // cannot be read, a time-out or a close means no answer, and owes a
    // reversal for an approval only.
    void answers_data()
    {
        QTest::addColumn<int>("sent");
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<bool>("readable");
        QTest::addColumn<QString>("firstLine");
        QTest::addColumn<QString>("receiptKind");
        QTest::addColumn<bool>("reversalOwed");

        const int approval = int(TransactionMode::Approval);
        const int cancellation = int(TransactionMode::Cancellation);
        const int balance = int(TransactionMode::Balance);
        QTest::newRow("approval accepted")
            << approval << answerText(QStringLiteral("00")) << true << "승인요청이 정상처리 되었습니다"
            << "카드 승인" << false;
        QTest::newRow("approval refused")
            << approval << answerText(QStringLiteral("73")) << true << "승인요청이 거절 되었습니다."
            << "" << false;
        QTest::newRow("cancellation accepted")
            << cancellation << answerText(QStringLiteral("00")) << true << "취소요청이 정상처리 되었습니다"
            << "카드 취소" << false;
        QTest::newRow("balance accepted: no receipt")
            << balance << answerText(QStringLiteral("00")) << true << "잔액조회가 정상처리 되었습니다"
            << "" << false;
        const QByteArray blank(2000, ' ');
        QTest::newRow("approval, unreadable answer") << approval << blank << false << ""
                                                     << "" << true;
        QTest::newRow("cancellation, unreadable answer") << cancellation << blank << false << ""
                                                         << "" << false;
        QTest::newRow("balance, unreadable answer") << balance << blank << false << ""
                                                    << "" << false;
    }
    void answers()
    {
        QFETCH(int, sent);
        QFETCH(QByteArray, answer);
        QFETCH(bool, readable);
        QFETCH(QString, firstLine);
        QFETCH(QString, receiptKind);
        QFETCH(bool, reversalOwed);

        PayDesk desk;
        desk.takeCardNumber(kCard, QStringLiteral("0"));
        desk.takeCardAnswer(cardWithItems(), TransactionMode(sent));
        QVERIFY(desk.beginRequest(panelWithItem(TransactionMode(sent), 1), QStringLiteral("3901"),
                                  QStringLiteral("7100012345"), nullptr));
        const AnswerMeaning m = desk.answer(answer);
        QCOMPARE(m.readable, readable);
        if (!readable) {
            QVERIFY(desk.pending());
            QCOMPARE(desk.noAnswer(), reversalOwed);
            QVERIFY(!desk.pending());
            QVERIFY(!desk.noAnswer()); // once
            return;
        }
        QVERIFY(!desk.pending());
        QCOMPARE(int(m.mode), sent);
        QCOMPARE(m.lines.value(0), firstLine);
        QCOMPARE(m.receipt.has_value(), !receiptKind.isEmpty());
        if (m.receipt) {
            QCOMPARE(m.receipt->kind, receiptKind);
            // The item and teacher of the request as it was sent.
            QCOMPARE(m.receipt->item, QStringLiteral("치료2"));
            QCOMPARE(m.receipt->teacher, QStringLiteral("교사2"));
        }
    }

    // A journal that cannot record (damaged, or no folder to hold it) lets
    // no approval or cancellation leave, and says why; a balance inquiry,
    // which moves no money, still goes.
    void unrecordedNeverLeaves_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("damaged journal") << "Journal/sorna.db" << QByteArray(8192, 'x');
        QTest::newRow("a file where the journal folder goes") << "Journal" << QByteArray("not a folder");
    }
    void unrecordedNeverLeaves()
    {
        QFETCH(QString, file);
        QFETCH(QByteArray, bytes);
        Journal::instance().close();
        m_root->write(file, bytes);

        PayDesk desk;
        desk.takeCardNumber(kCard, QStringLiteral("0"));
        desk.takeCardAnswer(cardWithItems(), TransactionMode::Approval);
        for (TransactionMode mode : {TransactionMode::Approval, TransactionMode::Cancellation}) {
            QString error;
            QVERIFY(!desk.beginRequest(panelWithItem(mode, 0), QStringLiteral("3901"), QString(), &error));
            QVERIFY2(error.startsWith(QStringLiteral("거래내역에 기록할 수 없어 결제를 보내지 않았습니다.")),
                     qPrintable(error));
            QVERIFY(!desk.pending());
        }
        QVERIFY(desk.beginRequest(panelWithItem(TransactionMode::Balance, 0), QStringLiteral("3901"),
                                  QString(), nullptr));
    }

    // An answer the journal cannot take: kept beside it before it is shown
    // (said plainly for an accepted one), tried again at close, written as
    // soon as the journal takes it.
    void answerTheJournalCannotTake_data()
    {
        QTest::addColumn<QString>("resp");
        QTest::addColumn<bool>("roomBeside");
        QTest::addColumn<QString>("told");
        QTest::addColumn<int>("atClose");
        const int keptAside = int(PayDesk::Unsaved::KeptAside);
        const int lost = int(PayDesk::Unsaved::Lost);
        QTest::newRow("accepted, kept beside")
            << "00" << true << "이 거래는 자동취소되지 않습니다" << keptAside;
        QTest::newRow("accepted, kept nowhere") << "00" << false << "따로 보관하지도 못했습니다" << lost;
        QTest::newRow("refused, kept beside")
            << "73" << true << "다음 결제 전에 다시 기록합니다" << keptAside;
    }
    void answerTheJournalCannotTake()
    {
        QFETCH(QString, resp);
        QFETCH(bool, roomBeside);
        QFETCH(QString, told);
        QFETCH(int, atClose);
        PayDesk desk;
        desk.takeCardNumber(kCard, QStringLiteral("0"));
        desk.takeCardAnswer(cardWithItems(), TransactionMode::Approval);
        QVERIFY(desk.beginRequest(panelWithItem(TransactionMode::Approval, 1), QStringLiteral("3901"),
                                  QStringLiteral("7100012345"), nullptr));
        const QString slot = m_root->file(QStringLiteral("Journal/answer-shown.dat"));
        if (!roomBeside) {
            QVERIFY(QFile::remove(slot));
            QVERIFY(QDir().mkpath(slot));
        }
        Journal::setAnswerWritesFail(true);
        const auto writesBack = qScopeGuard([] { Journal::setAnswerWritesFail(false); });
        const AnswerMeaning m = desk.answer(answerText(resp));
        QVERIFY(!m.journalError.isEmpty());
        QCOMPARE(m.keptAside, roomBeside);
        QVERIFY2(PayDesk::unsavedAnswerMessage(m).contains(told),
                 qPrintable(PayDesk::unsavedAnswerMessage(m)));
        QCOMPARE(int(desk.saveOutcomes()), atClose);
        // Nothing else leaves before it is written, and the merchant is told why.
        QString error;
        Clock::setFixed(Clock::now().addSecs(1));
        QVERIFY(!desk.beginRequest(panelWithItem(TransactionMode::Approval, 1), QStringLiteral("3901"),
                                   QStringLiteral("7100012345"), &error));
        QVERIFY2(error.contains(QStringLiteral("the disk is full")), qPrintable(error));

        Journal::setAnswerWritesFail(false);
        QCOMPARE(desk.saveOutcomes(), PayDesk::Unsaved::None);
        QVERIFY(!desk.reversalsOwed());
        const QList<JournalRow> rows = Journal::instance().day(QStringLiteral("20250305"));
        QCOMPARE(rows.size(), 1);
        QCOMPARE(rows.first().state, resp == u"00" ? JournalState::Approved : JournalState::Refused);
        if (roomBeside) {
            // Emptied once written: a later start takes nothing in.
            Journal::instance().close();
            QVERIFY(Journal::instance().open());
            QCOMPARE(Journal::instance().row(rows.first().id)->state, rows.first().state);
        }
    }

    // The result list's lines of a payment that waits for an owed reversal.
    void waitingLines_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<QString>("orgApprovalNo");
        QTest::addColumn<QString>("line");
        QTest::newRow("approval")
            << int(TransactionMode::Approval) << QString()
            << "대기 중인 승인 : 카드 94101200****0019, 10,000원 (치료2) – 대기 취소(Esc)로 "
               "그만둘 수 있습니다";
        QTest::newRow("cancellation")
            << int(TransactionMode::Cancellation) << "10000007"
            << "대기 중인 취소 : 카드 94101200****0019, 10,000원 (치료2), 원거래 승인번호 10000007 – 대기 "
               "취소(Esc)로 그만둘 수 있습니다";
    }
    void waitingLines()
    {
        QFETCH(int, mode);
        QFETCH(QString, orgApprovalNo);
        QFETCH(QString, line);
        PanelInput pressed = panelWithItem(TransactionMode(mode), 1);
        pressed.orgApprovalNo = orgApprovalNo;
        QCOMPARE(PayDesk::waitingLine(pressed), line);
    }

    // An open journal that takes no write (here another program holds it
    // locked; a full disk or an I/O error end the same way) lets nothing
    // leave: no request is pending and the merchant is told why.  Once the
    // lock is gone the next request goes and is recorded.
    void lockedJournalNeverLeaves_data()
    {
        QTest::addColumn<int>("mode");
        QTest::newRow("approval") << int(TransactionMode::Approval);
        QTest::newRow("cancellation") << int(TransactionMode::Cancellation);
    }
    void lockedJournalNeverLeaves()
    {
        QFETCH(int, mode);
        QVERIFY(Journal::instance().open());
        PayDesk desk;
        desk.takeCardNumber(kCard, QStringLiteral("0"));
        desk.takeCardAnswer(cardWithItems(), TransactionMode(mode));
        const PanelInput panel = panelWithItem(TransactionMode(mode), 0);
        {
            QSqlDatabase other =
                QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("other"));
            other.setDatabaseName(paths::journalFile());
            QVERIFY(other.open());
            QSqlQuery lock(other);
            QVERIFY(lock.exec(QStringLiteral("BEGIN EXCLUSIVE")));
            QString error;
            QVERIFY(!desk.beginRequest(panel, QStringLiteral("3901"), QStringLiteral("7100012345"), &error));
            QVERIFY2(error.startsWith(QStringLiteral("거래내역에 기록할 수 없어 결제를 보내지 않았습니다.")),
                     qPrintable(error));
            QVERIFY2(error.contains(QStringLiteral("in use by another program")), qPrintable(error));
            QVERIFY(!desk.pending());
            QVERIFY(Journal::instance().day(QStringLiteral("20250305")).isEmpty());
            QVERIFY(lock.exec(QStringLiteral("ROLLBACK")));
        }
        QSqlDatabase::removeDatabase(QStringLiteral("other"));
        Clock::setFixed(Clock::now().addSecs(1));
        QVERIFY(desk.beginRequest(panel, QStringLiteral("3901"), QStringLiteral("7100012345"), nullptr));
        QVERIFY(desk.pending());
        QCOMPARE(Journal::instance().day(QStringLiteral("20250305")).size(), 1);
    }

    // An approval left unanswered while the journal takes no write: the
    // pay desk keeps its outcome, sends nothing (saying why) before the
    // journal has it, and writes it as soon as the journal takes writes
    // again, when the reversal is owed.
    void lockedJournalKeepsOwedReversal()
    {
        QVERIFY(Journal::instance().open());
        PayDesk desk;
        desk.takeCardNumber(kCard, QStringLiteral("0"));
        desk.takeCardAnswer(cardWithItems(), TransactionMode::Approval);
        QVERIFY(desk.beginRequest(panelWithItem(TransactionMode::Approval, 0), QStringLiteral("3901"),
                                  QStringLiteral("7100012345"), nullptr));
        {
            QSqlDatabase other =
                QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("other"));
            other.setDatabaseName(paths::journalFile());
            QVERIFY(other.open());
            QSqlQuery lock(other);
            QVERIFY(lock.exec(QStringLiteral("BEGIN EXCLUSIVE")));
            QVERIFY(desk.noAnswer());
            QVERIFY(!Journal::instance().hasOwedReversals()); // the journal does not know yet
            Clock::setFixed(Clock::now().addSecs(1));
            QString error;
            QVERIFY(!desk.beginRequest(panelWithItem(TransactionMode::Approval, 0), QStringLiteral("3901"),
                                       QStringLiteral("7100012345"), &error));
            QVERIFY2(!error.isEmpty(), "a request refused without a reason");
            QVERIFY(!desk.pending());
            QVERIFY(lock.exec(QStringLiteral("ROLLBACK")));
        }
        QSqlDatabase::removeDatabase(QStringLiteral("other"));
        QVERIFY(desk.reversalsOwed());
        QVERIFY(Journal::instance().hasOwedReversals());
        QCOMPARE(Journal::instance().owedReversals(10).size(), 1);
    }

    // The same card, item and amount approved within the last five minutes
    // (as the counter's clock counts them) is asked about; at 5:01 it is not,
    // nor in the other modes.
    void duplicateWindow_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<int>("later"); // seconds after the first approval
        QTest::addColumn<bool>("asked");
        const int approval = int(TransactionMode::Approval);
        QTest::newRow("at once") << approval << 1 << true;
        QTest::newRow("1:01 later") << approval << 61 << true;
        QTest::newRow("4:59 later") << approval << 299 << true;
        QTest::newRow("5:01 later") << approval << 301 << false;
        QTest::newRow("an hour later") << approval << 3600 << false;
        QTest::newRow("cancellation, 4:59 later") << int(TransactionMode::Cancellation) << 299 << false;
    }
    void duplicateWindow()
    {
        QFETCH(int, mode);
        QFETCH(int, later);
        QFETCH(bool, asked);
        PayDesk desk;
        desk.takeCardNumber(kCard, QStringLiteral("0"));
        desk.takeCardAnswer(cardWithItems(), TransactionMode::Approval);
        const PanelInput first = panelWithItem(TransactionMode::Approval, 1);
        QVERIFY(!desk.duplicateOf(first));
        QVERIFY(desk.beginRequest(first, QStringLiteral("3901"), QStringLiteral("7100012345"), nullptr));
        const AnswerMeaning m = desk.answer(answerText(QStringLiteral("00")));
        QVERIFY(m.receipt);
        QVERIFY2(m.journalError.isEmpty(), qPrintable(m.journalError));

        Clock::setFixed(Clock::now().addSecs(later));
        const std::optional<JournalRow> earlier = desk.duplicateOf(panelWithItem(TransactionMode(mode), 1));
        QCOMPARE(earlier.has_value(), asked);
        if (earlier) {
            QCOMPARE(earlier->approvalNo, QStringLiteral("12345678"));
            QVERIFY(PayDesk::duplicateQuestion(*earlier).contains(QStringLiteral("14:30:25")));
        }
    }

    // An approval left without an answer owes its reversal: no approval or
    // cancellation leaves before it is settled.
    void owedReversalStopsPayments()
    {
        PayDesk desk;
        desk.takeCardNumber(kCard, QStringLiteral("0"));
        desk.takeCardAnswer(cardWithItems(), TransactionMode::Approval);
        QVERIFY(desk.beginRequest(panelWithItem(TransactionMode::Approval, 0), QStringLiteral("3901"),
                                  QStringLiteral("7100012345"), nullptr));
        QVERIFY(!desk.reversalsOwed());
        QVERIFY(desk.noAnswer());
        QVERIFY(desk.reversalsOwed());
        Clock::setFixed(Clock::now().addSecs(1));
        QString error;
        QVERIFY(!desk.beginRequest(panelWithItem(TransactionMode::Cancellation, 0), QStringLiteral("3901"),
                                   QStringLiteral("7100012345"), &error));
        QCOMPARE(error, PayDesk::reversalFirstMessage());
        const QList<OwedReversal> owed = Journal::instance().owedReversals(10);
        QCOMPARE(owed.size(), 1);
        QCOMPARE(owed.value(0).input.cardNumber, QStringLiteral("9410120000000019"));
        QVERIFY(Journal::instance().settleReversal(owed.value(0).rowId, ReversalState::Delivered));
        QVERIFY(!desk.reversalsOwed());
    }

    // The card inquiry's answer opens the items, except in balance mode and
    // for a refused card.
    void cardAnswer_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<bool>("accepted");
        QTest::addColumn<bool>("itemsOpen");
        QTest::addColumn<int>("chosen");
        QTest::newRow("approval") << int(TransactionMode::Approval) << true << true << 0;
        QTest::newRow("balance") << int(TransactionMode::Balance) << true << false << -1;
        QTest::newRow("refused card") << int(TransactionMode::Approval) << false << false << -1;
    }
    void cardAnswer()
    {
        QFETCH(int, mode);
        QFETCH(bool, accepted);
        QFETCH(bool, itemsOpen);
        QFETCH(int, chosen);
        CardInquiryAnswer a = cardWithItems();
        if (!accepted)
            a.record[tx::resp_code] = QStringLiteral("14");
        PayDesk desk;
        const CardShown shown = desk.takeCardAnswer(a, TransactionMode(mode));
        QCOMPARE(shown.itemsOpen, itemsOpen);
        QCOMPARE(shown.amountChangeOpen, accepted);
        QCOMPARE(shown.chosen, chosen);
        QCOMPARE(shown.itemNames.size(), accepted ? kTherapyItemCount : 0);
        QCOMPARE(shown.teacher, itemsOpen ? QStringLiteral("교사1") : QString());
        QCOMPARE(desk.items()[0].code, accepted ? QStringLiteral("C01") : QString());
    }

    // What the result list says when no usable answer came, and how the
    // automatic cancellation of an approval is followed.
    void noAnswerLines_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<bool>("owed");
        QTest::addColumn<bool>("sending");
        QTest::addColumn<QStringList>("lines");
        const QString head = QStringLiteral("승인 서버의 응답이 없습니다 (10:31:05)");
        const QString notPaid =
            QStringLiteral("결제되지 않았습니다. 혹시 승인되었더라도 자동취소로 되돌립니다");
        QTest::newRow("approval, reversal being sent")
            << int(TransactionMode::Approval) << true << true
            << QStringList{head, notPaid, QStringLiteral("자동취소를 보내고 있습니다")};
        QTest::newRow("approval, reversal waiting")
            << int(TransactionMode::Approval) << true << false
            << QStringList{head, notPaid, QStringLiteral("자동취소가 대기 중입니다. 연결되는 대로 보냅니다")};
        QTest::newRow("approval the journal could not take")
            << int(TransactionMode::Approval) << false << true << QStringList{head};
        QTest::newRow("cancellation")
            << int(TransactionMode::Cancellation) << false << false
            << QStringList{head, QStringLiteral("취소되었는지 알 수 없습니다"),
                           QStringLiteral("거래내역에서 확인하고, 취소되지 않았으면 다시 취소하세요")};
        QTest::newRow("balance") << int(TransactionMode::Balance) << false << false
                                 << QStringList{head, QStringLiteral("잔액조회를 다시 하세요")};
    }
    void noAnswerLines()
    {
        QFETCH(int, mode);
        QFETCH(bool, owed);
        QFETCH(bool, sending);
        QFETCH(QStringList, lines);
        QCOMPARE(outcome::NoAnswerLines(TransactionMode(mode), owed, sending, QTime(10, 31, 5)), lines);
    }

    void reversalAndStatusLines()
    {
        const QTime at(9, 5, 0);
        QCOMPARE(outcome::ReversalSettledLine(ReversalState::Delivered, QStringLiteral("00"), at),
                 QStringLiteral("자동취소가 전달되었습니다 (09:05:00). 결제되지 않았습니다"));
        QCOMPARE(outcome::ReversalSettledLine(ReversalState::Delivered, QString(), at),
                 QStringLiteral("자동취소를 보냈지만 승인 서버의 확인이 없었습니다 (09:05:00). 거래내역을 "
                                "확인하세요"));
        QCOMPARE(outcome::ReversalSettledLine(ReversalState::Refused, QStringLiteral("23"), at),
                 QStringLiteral("자동취소가 거절되었습니다 (응답코드 23). 거래내역을 확인하세요"));
        QCOMPARE(outcome::ReversalSettledLine(ReversalState::Rejected, QString(), at),
                 QStringLiteral("자동취소를 보낼 수 없습니다. 거래내역을 확인하세요"));
        QCOMPARE(outcome::ReversalStillOwedLine(30),
                 QStringLiteral("자동취소를 보내지 못했습니다. 30초마다 다시 보냅니다"));

        using What = outcome::LastExchange::What;
        const QDateTime t(QDate(2026, 12, 7), QTime(14, 3, 9));
        QCOMPARE(outcome::StatusLine({What::None, {}}, 0),
                 QStringLiteral("승인 서버 통신 없음 · 자동취소 대기 0건"));
        QCOMPARE(outcome::StatusLine({What::Answered, t}, 0),
                 QStringLiteral("승인 서버 14:03:09 응답 정상 · 자동취소 대기 0건"));
        QCOMPARE(outcome::StatusLine({What::NoConnection, t}, 2),
                 QStringLiteral("승인 서버 14:03:09 연결 안 됨 · 자동취소 대기 2건"));
        QCOMPARE(outcome::StatusLine({What::NoAnswer, t}, -1),
                 QStringLiteral("승인 서버 14:03:09 응답 없음 · 자동취소 대기 알 수 없음"));

        TransactionAnswer refused;
        refused.record[tx::resp_code] = QStringLiteral("20");
        QCOMPARE(outcome::ToneOf(refused), outcome::Tone::Refused);
        QCOMPARE(outcome::AdviceLine(QStringLiteral("20")),
                 QStringLiteral("할 일       : 결제하지 마세요. 카드 소지자가 발급 기관에 문의해야 합니다"));
        QCOMPARE(outcome::AdviceLine(QStringLiteral("00")), QString());
        refused.record[tx::resp_code] = QStringLiteral("00");
        QCOMPARE(outcome::ToneOf(refused), outcome::Tone::Success);
    }
};

QTEST_GUILESS_MAIN(TestPayDesk)
#include "tst_paydesk.moc"
