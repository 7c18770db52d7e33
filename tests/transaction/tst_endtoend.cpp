// The whole payment cycle against the reference host, through the real
// windows: login, swipe, item, pay, receipt printed to PDF, the amount used
// at the host, the cancellation with the approval number and date, the
// balance inquiry; and the approval that gets no answer, reversed at the
// host, also when the host is down at first and when the reversal is left
// to the next start of the program.

#include "card/gui/cardwindows.h"
#include "foundation/clock.h"
#include "foundation/gui/messagebox.h"
#include "foundation/paths.h"
#include "hostlink/winsock.h"
#include "hostsim/demodata.h"
#include "journal/journal.h"
#include "journal/reversalsender.h"
#include "login/gui/form3.h"
#include "login/gui/session.h"
#include "receipt/gui/form5.h"
#include "receipt/gui/receiptprinter.h"
#include "support/maincontrols.h"
#include "support/refhost.h"
#include "support/testsupport.h"
#include "transaction/gui/form1.h"

#include <QApplication>
#include <QComboBox>
#include <QFileInfo>
#include <QLineEdit>
#include <QListWidget>
#include <QPointer>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <memory>

using namespace sorna;
using sorna::test::RefHost;
using sorna::test::TempRoot;
using sorna::test::ui;
namespace demo = sorna::host::demo;

namespace {

const QString kNoConnection = QStringLiteral("연결할 수 없습니다");

QStringList listLines(const QListWidget* list)
{
    QStringList out;
    for (int i = 0; i < list->count(); ++i)
        out.append(list->item(i)->text());
    return out;
}

// Byte positions (0-based) in a plain request, length field included.
constexpr int kMsgType = 4;
constexpr int kCard = 72;
constexpr int kAmount = 125;
constexpr int kCancelKind = 194;
constexpr int kCareCode = 204;

// The automatic cancellations the host has received.
QList<QByteArray> reversalsAt(const RefHost& host)
{
    QList<QByteArray> out;
    for (const QByteArray& r : host.requests())
        if (r.mid(kMsgType, 4) == "0600" && r.mid(kCancelKind, 1) == "2")
            out.append(r);
    return out;
}

} // namespace

class TestEndToEnd : public QObject
{
    Q_OBJECT

    std::unique_ptr<TempRoot> m_root;
    std::unique_ptr<RefHost> m_host;
    QPointer<Form1> m_main;

    Form1* w() { return m_main.data(); }

    qlonglong usedAtHost(const QString& card) const
    {
        return m_host
            ->scalar(
                QStringLiteral("SELECT COALESCE(SUM(amount), 0) FROM ledger WHERE card_no = ? AND kind = "
                               "'approval' AND state = 'approved'"),
                {card})
            .toLongLong();
    }

    void logIn()
    {
        Form3* login = session::showLoginWindow();
        QVERIFY(QTest::qWaitForWindowExposed(login));
        QTest::keyClicks(login->Text1, demo::kBusinessNo);
        QTest::keyClicks(login->Text4, demo::kAuthNo);
        login->btnLogin->click();
        QTRY_VERIFY(session::mainWindow());
        m_main = session::mainWindow();
        QVERIFY(QTest::qWaitForWindowExposed(w()));
    }

    // The card-reader window typed into as the reader does; returns once the
    // inquiry's answer has closed it.
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
            auto* reader = qobject_cast<Form6*>(QApplication::activeModalWidget());
            QVERIFY(reader);
            guard.start(8000);
            QTest::keyClicks(reader->Text1, card + QStringLiteral("="));
        });
        ui(w()).Command1->click();
        QVERIFY2(!stuck, "the card-reader window did not close");
        QCOMPARE(w()->cardNumber(), card);
    }

    // Presses the pay button and answers the receipt window, if one comes,
    // with "예" or "아니요"; returns once the answer has been handled.
    // The receipt window's fields are returned (empty: none came).
    QStringList pay(bool print)
    {
        QStringList seen;
        QTimer watch;
        watch.setInterval(10);
        connect(&watch, &QTimer::timeout, this, [&seen, print] {
            auto* f = qobject_cast<Form5*>(QApplication::activeModalWidget());
            if (!f)
                return;
            for (QLineEdit* t :
                 {f->Text1, f->Text2, f->Text3, f->Text4, f->Text5, f->Text6, f->Text7, f->Text8})
                seen.append(t->text());
            (print ? f->Command1 : f->Command2)->click();
        });
        watch.start();
        ui(w()).Command4->click();
        [&] { QTRY_VERIFY_WITH_TIMEOUT(ui(w()).Command4->isEnabled(), 10000); }();
        return seen;
    }

    // An approval the host carries out and never answers: the reversal is
    // kept because the host goes down before it can be sent.
    void approvalLeftWithTheHostDown()
    {
        logIn();
        swipe(demo::kCardSilent);
        ui(w()).timeMain->setInterval(20000);
        ui(w()).Command4->click();
        QTRY_COMPARE(m_host->requests().size(), 3); // login, inquiry, approval
        QCOMPARE(m_host->requests().last().mid(kMsgType, 4), QByteArray("0500"));
        QTRY_COMPARE(usedAtHost(demo::kCardSilent), 50000LL);

        m_host->stop();
        // The open connection drops after the send: handled as the time-out.
        QTRY_COMPARE(MessageBox::recordedTexts(), QStringList{kNoConnection});
        QTRY_VERIFY(!ReversalSender::instance()->busy());
        const QList<OwedReversal> kept = sorna::test::owedReversals();
        QCOMPARE(kept.size(), 1);
        QCOMPARE(kept.first().input.cardNumber, demo::kCardSilent);
        QVERIFY(QFileInfo::exists(m_root->file(QStringLiteral("Journal/sorna.db"))));
        QVERIFY(ui(w()).Command4->isEnabled());
    }

private slots:
    void init()
    {
        m_root = std::make_unique<TempRoot>();
        m_host = std::make_unique<RefHost>();
        QVERIFY2(m_host->isRunning(), qPrintable(m_host->error()));
        m_host->writeClientSettings(*m_root);
        MessageBox::startRecording();
        ReversalSender::instance()->stop();
    }

    void cleanup()
    {
        ReversalSender::instance()->stop();
        sorna::test::closeAllWindows();
        MessageBox::stopRecording();
        m_host.reset();
        m_root.reset();
    }

    void paymentCycle()
    {
        QTemporaryDir out;
        const QString pdf = out.filePath(QStringLiteral("receipt.pdf"));
        qputenv(receipt::kPdfTargetVariable, pdf.toLocal8Bit());
        const auto unsetPdf = qScopeGuard([] { qunsetenv(receipt::kPdfTargetVariable); });
        const QString card = demo::kCardNineItems;

        logIn();
        QCOMPARE(listLines(ui(w()).lstResult),
                 QStringList{QStringLiteral("프로그램이 정상적으로 실행되었습니다")});

        // Approval of the second item, receipt printed.
        swipe(card);
        QCOMPARE(ui(w()).cmbCare1->count(), 9);
        ui(w()).cmbCare1->setCurrentIndex(1);
        emit ui(w()).cmbCare1->activated(1);
        QCOMPARE(ui(w()).txtCare_Amount1->text(), QStringLiteral("45,000"));
        const QStringList approvalReceipt = pay(true);
        QCOMPARE(MessageBox::recordedTexts(), QStringList());

        const QList<QVariantList> approvals = m_host->query(
            QStringLiteral("SELECT approval_no, auth_date, amount, care_code, state FROM ledger WHERE kind = "
                           "'approval' AND card_no = ?"),
            {card});
        QCOMPARE(approvals.size(), 1);
        const QString approvalNo = approvals[0][0].toString();
        const QString authDate = approvals[0][1].toString();
        QCOMPARE(approvals[0][2].toLongLong(), 45000LL);
        QCOMPARE(approvals[0][3].toString(), QStringLiteral("102"));
        QCOMPARE(usedAtHost(card), 45000LL);

        const QStringList lines = listLines(ui(w()).lstResult);
        QCOMPARE(lines.size(), 7);
        QCOMPARE(lines[0], QStringLiteral("승인요청이 정상처리 되었습니다"));
        QCOMPARE(lines[1].trimmed(), QStringLiteral("승인번호   : ") + approvalNo);
        QCOMPARE(lines[4], QStringLiteral("월지원금액 : 300,000"));
        QCOMPARE(lines[5], QStringLiteral("월사용금액 : 45,000"));
        QCOMPARE(lines[6], QStringLiteral("월잔여금액 : 255,000"));
        QCOMPARE(approvalReceipt.size(), 8);
        QCOMPARE(approvalReceipt[0], QStringLiteral("카드 승인"));
        QCOMPARE(approvalReceipt[1], card);
        QVERIFY(approvalReceipt[2].startsWith(authDate + QStringLiteral("  ")));
        QCOMPARE(approvalReceipt[3], approvalNo);
        QCOMPARE(approvalReceipt[4], QStringLiteral("45,000"));
        QCOMPARE(approvalReceipt[5], QStringLiteral("255,000"));
        QCOMPARE(approvalReceipt[6], QStringLiteral("미술치료"));
        QCOMPARE(approvalReceipt[7], QStringLiteral("김다인"));
        // The panel is back to no card, the pay button usable.
        QCOMPARE(w()->cardNumber(), QString());

        // The receipt, printed into the PDF.
        QVERIFY(QFileInfo(pdf).size() > 0);
        if (!QStandardPaths::findExecutable(QStringLiteral("pdftotext")).isEmpty()) {
            QProcess text;
            text.start(QStringLiteral("pdftotext"), {QStringLiteral("-layout"), pdf, QStringLiteral("-")});
            QVERIFY(text.waitForFinished(10000));
            const QString printed = QString::fromUtf8(text.readAllStandardOutput());
            QCOMPARE(printed.count(QStringLiteral("[카드 승인]")), 2); // customer and merchant copy
            QVERIFY2(printed.contains(approvalNo), qPrintable(printed));
            QVERIFY(printed.contains(QStringLiteral("45,000")));
            QVERIFY(printed.contains(QStringLiteral("255,000")));
        }

        // The cancellation, with the approval number and date.
        ui(w()).Option2->click();
        swipe(card);
        QTest::keyClicks(ui(w()).txtOrg_approval_no, approvalNo);
        QTest::keyClicks(ui(w()).txtOrg_auth_date, authDate);
        const QStringList cancellationReceipt = pay(false);
        QCOMPARE(MessageBox::recordedTexts(), QStringList());
        const QStringList cancelled = listLines(ui(w()).lstResult);
        QCOMPARE(cancelled.size(), 7);
        QCOMPARE(cancelled[0], QStringLiteral("취소요청이 정상처리 되었습니다"));
        QCOMPARE(cancelled[6], QStringLiteral("월잔여금액 : 300,000"));
        QCOMPARE(cancellationReceipt.value(0), QStringLiteral("카드 취소"));
        QCOMPARE(cancellationReceipt.value(4), QStringLiteral("45,000"));
        QCOMPARE(usedAtHost(card), 0LL);
        QCOMPARE(
            m_host->scalar(QStringLiteral("SELECT state FROM ledger WHERE approval_no = ?"), {approvalNo}),
            QVariant(QStringLiteral("cancelled")));
        QVERIFY(ui(w()).Option2->isChecked());

        // The balance inquiry: eight lines, no receipt window.
        ui(w()).Option3->click();
        swipe(card);
        const QStringList balanceReceipt = pay(true);
        QCOMPARE(balanceReceipt, QStringList());
        const QStringList balance = listLines(ui(w()).lstResult);
        QCOMPARE(balance.size(), 8);
        QCOMPARE(balance[0], QStringLiteral("잔액조회가 정상처리 되었습니다"));
        QCOMPARE(balance[3], QStringLiteral("월지원금액 : 300,000"));
        QCOMPARE(balance[4], QStringLiteral("치료지원 월사용금액 : 0"));
        QCOMPARE(balance[5], QStringLiteral("치료지원 월잔여금액 : 300,000"));
        QCOMPARE(balance[7], QStringLiteral("방과후 월잔여금액 :  100,000"));
        QCOMPARE(MessageBox::recordedTexts(), QStringList());
    }

    // The host carries out the approval and stays silent: the time-out says
    // so and the host receives the reversal and restores the amount.
    void approvalTimeoutIsReversed()
    {
        logIn();
        swipe(demo::kCardSilent);
        ui(w()).timeMain->setInterval(1500);
        ui(w()).Command4->click();
        QTRY_COMPARE(MessageBox::recordedTexts(), QStringList{kNoConnection});
        QVERIFY(ui(w()).Command4->isEnabled());
        QTRY_COMPARE(reversalsAt(*m_host).size(), 1);
        const QByteArray approval = m_host->requests().at(2);
        const QByteArray reversal = reversalsAt(*m_host).first();
        QCOMPARE(approval.mid(kMsgType, 4), QByteArray("0500"));
        QCOMPARE(reversal.mid(kCard, 16), demo::kCardSilent.toLatin1());
        QCOMPARE(reversal.mid(kAmount, 10), QByteArray("0000050000"));
        QCOMPARE(reversal.mid(kCareCode, 3), QByteArray("101"));
        QCOMPARE(reversal.mid(kCard, 400), approval.mid(kCard, 400).replace(kCancelKind - kCard, 1, "2"));
        QTRY_COMPARE(usedAtHost(demo::kCardSilent), 0LL);
        QCOMPARE(
            m_host->scalar(QStringLiteral("SELECT COUNT(*) FROM ledger WHERE kind = 'reversal'")).toInt(), 1);
        QTRY_COMPARE(sorna::test::owedReversals().size(), 0);
    }

    // Approval A leaves and the line resets before the host has it; its
    // reversal cannot get through either.  The line is back and the merchant
    // pays again: the owed reversal reaches the host first, and the new
    // approval B, taken after it, stands in the host's ledger (a reversal
    // that came after B would have taken B back: the host matches it by
    // card, item and amount).
    void owedReversalGoesBeforeTheNextApproval()
    {
        logIn();
        swipe(demo::kCardNineItems);
        RefHost resetting({QStringLiteral("--fault"), QStringLiteral("reset")});
        QVERIFY2(resetting.isRunning(), qPrintable(resetting.error()));
        resetting.writeClientSettings(*m_root); // the line that drops
        ui(w()).Command4->click();
        QTRY_COMPARE(MessageBox::recordedTexts(), QStringList{kNoConnection});
        QTRY_VERIFY(!ReversalSender::instance()->busy());
        QCOMPARE(sorna::test::owedReversals().size(), 1);

        m_host->writeClientSettings(*m_root); // the line is back
        const qsizetype before = m_host->requests().size();
        swipe(demo::kCardNineItems);
        const QStringList receipt = pay(false);
        QCOMPARE(receipt.value(0), QStringLiteral("카드 승인"));
        const QList<QByteArray> sent = m_host->requests().mid(before);
        QCOMPARE(sent.size(), 3); // the inquiry, the reversal, then the approval
        QCOMPARE(sent.at(1).mid(kMsgType, 4), QByteArray("0600"));
        QCOMPARE(sent.at(2).mid(kMsgType, 4), QByteArray("0500"));
        QCOMPARE(sorna::test::owedReversals().size(), 0);
        // The host had never seen A: it has nothing to reverse ("22"), and B
        // stands.  Had the line dropped A's first reversal attempt after its
        // bytes were written, that attempt may have reached the host: the
        // reversal is then settled delivered; otherwise refused, and the
        // merchant is told once.
        QCOMPARE(usedAtHost(demo::kCardNineItems), 50000LL);
        const JournalRow a = Journal::instance().day(Clock::dateText()).last();
        QCOMPARE(a.reversalRespCode, QStringLiteral("22"));
        QVERIFY(a.reversal == ReversalState::Delivered || a.reversal == ReversalState::Refused);
        const bool told = a.reversal == ReversalState::Refused;
        QCOMPARE(MessageBox::recordedTexts().size(), told ? 2 : 1);
        if (told)
            QVERIFY(MessageBox::recordedTexts().at(1).contains(QStringLiteral("거절코드 : 22")));
    }

    // The host is down when the reversal is due: it is kept and delivered
    // once the host is back, by the running program's sender or by the next
    // start of the program; once.
    void reversalWaitsForTheHost_data()
    {
        QTest::addColumn<bool>("nextStart");
        QTest::newRow("the running program tries again") << false;
        QTest::newRow("the program is started again") << true;
    }

    void reversalWaitsForTheHost()
    {
        QFETCH(bool, nextStart);

        approvalLeftWithTheHostDown();
        if (QTest::currentTestFailed())
            return;
        QVERIFY2(m_host->restart(), qPrintable(m_host->error()));
        QCOMPARE(usedAtHost(demo::kCardSilent), 50000LL);

        QProcess client;
        if (nextStart) {
            // The program ends; a new one starts on the same root folder.
            delete m_main.data();
            QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
            env.insert(QStringLiteral("QUENDAL_ROOT"), m_root->path());
            env.insert(QStringLiteral("SORNA_MESSAGES_TO_STDERR"), QStringLiteral("1"));
            env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
            client.setProcessEnvironment(env);
            client.setProgram(QStringLiteral(SORNA_CLIENT_BINARY));
            client.start();
            QVERIFY(client.waitForStarted(10000));
        } else {
            ReversalSender::instance()->setRetryInterval(300);
            ReversalSender::instance()->start();
        }
        QTRY_COMPARE_WITH_TIMEOUT(reversalsAt(*m_host).size(), 1, 15000);
        QTRY_COMPARE(usedAtHost(demo::kCardSilent), 0LL);
        QTRY_COMPARE(sorna::test::owedReversals().size(), 0);
        QVERIFY(m_root
                    ->read(QStringLiteral("Log/") +
                           QDate::currentDate().toString(QStringLiteral("yyyyMMdd")) + QStringLiteral(".log"))
                    .contains(": delivered"));
        // Not repeated, whoever looks at the queue again.
        ReversalSender::instance()->setRetryInterval(200);
        ReversalSender::instance()->start();
        QTest::qWait(800);
        QCOMPARE(reversalsAt(*m_host).size(), 1);
        if (nextStart) {
            QCOMPARE(client.state(), QProcess::Running);
            client.terminate();
            if (!client.waitForFinished(5000)) {
                client.kill();
                client.waitForFinished(5000);
            }
        }
    }
};

QTEST_MAIN(TestEndToEnd)
#include "tst_endtoend.moc"
