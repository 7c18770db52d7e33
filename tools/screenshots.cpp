// Pictures of every window for the user guide, taken from the real windows
// going through real exchanges with a host: the login (with two of its
// messages), the main window empty, the card-reader window, the main window
// with a card loaded, the receipt window, the result list after an approval,
// the manual entry window, the amount change, a cancellation with its
// calendar, a balance inquiry, a refused card, a message of the main window
// and the merchant information window.  The receipt is printed as the
// receipt window's "예" prints it, into the PDF file named by
// SORNA_RECEIPT_PDF.
//
//   sorna-screenshots OUTPUT_FOLDER [CLOCK]
//
// Run under a display (xvfb-run) with QUENDAL_ROOT set to a folder whose
// Sorna_setting.ini points at a reference host that has the demo data and a
// fresh ledger (scripts/guide-screenshots.sh does all of this).  CLOCK (ISO
// 8601, e.g. 2026-03-16T10:30:00) runs the program's clock from that moment,
// as the host's --clock does, so that the pictures are the same on every run.
// Ends with a non-zero status, saying which step failed, when any step does
// not come out as expected.

#include "card/gui/cardwindows.h"
#include "foundation/clock.h"
#include "foundation/gui/artwork.h"
#include "foundation/gui/look.h"
#include "foundation/paths.h"
#include "foundation/settings.h"
#include "journal/gui/journalwindow.h"
#include "login/gui/loginwindow.h"
#include "login/gui/session.h"
#include "merchant/gui/merchantwindow.h"
#include "receipt/gui/receiptquestion.h"
#include "support/maincontrols.h"
#include "transaction/gui/mainwindow.h"

#include <QApplication>
#include <QCalendarWidget>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QTableView>
#include <QTest>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>

using namespace sorna;
using sorna::test::ui;

namespace {

// The demo merchant and cards of the reference host (docs/demo-data.md).
const QString kBusinessNo = QStringLiteral("2148712345");
const QString kAuthNo = QStringLiteral("482915");
const QString kCard = QStringLiteral("9410120000000019");         // 김서연, nine items
const QString kCardByHand = QStringLiteral("9410120000000035");   // 박지우, three items
const QString kCardStolen = QStringLiteral("9410120000000043");   // refused with "20"
const QString kCardTwoItems = QStringLiteral("9410120000000027"); // 이준호
const QString kCardSilent = QStringLiteral("9410120000000092");   // the host never answers

QString g_out;
int g_saved = 0;

[[noreturn]] void fail(const QString& step)
{
    std::fprintf(stderr, "sorna-screenshots: %s\n", step.toUtf8().constData());
    std::exit(1);
}

void settle()
{
    for (int i = 0; i < 5; ++i) {
        QApplication::processEvents();
        QTest::qWait(20);
    }
}

void save(QWidget* w, const QString& name)
{
    settle();
    const QString path = g_out + u'/' + name;
    if (!w->grab().save(path))
        fail(QStringLiteral("cannot write ") + path);
    std::printf("%s\n", path.toUtf8().constData());
    std::fflush(stdout);
    ++g_saved;
}

// The whole screen, as the merchant sees it.
void grabScreen(const QString& name)
{
    settle();
    const QString path = g_out + u'/' + name;
    if (!QApplication::primaryScreen()->grabWindow(0).save(path))
        fail(QStringLiteral("cannot write ") + path);
    std::printf("%s\n", path.toUtf8().constData());
}

// No window waits for an answer: nothing modal is up but the login window
// (which is modal itself while it is shown).
bool noDialog()
{
    QWidget* m = QApplication::activeModalWidget();
    return !m || qobject_cast<LoginWindow*>(m);
}

void waitFor(const std::function<bool()>& condition, const QString& what, int ms = 15000)
{
    if (!QTest::qWaitFor(condition, ms))
        fail(QStringLiteral("timed out waiting for ") + what);
}

// Runs `act` on the next modal window of type T as soon as it is up.  The
// window is opened (and waited for) by whatever the caller does next; the
// returned watch is gone once it has acted.
template <class T> QPointer<QTimer> onNextModal(std::function<void(T*)> act)
{
    auto* poll = new QTimer(qApp);
    poll->setInterval(20);
    QObject::connect(poll, &QTimer::timeout, [poll, act] {
        auto* w = qobject_cast<T*>(QApplication::activeModalWidget());
        if (!w || !w->isVisible())
            return;
        poll->stop();
        poll->deleteLater();
        act(w);
    });
    poll->start();
    return poll;
}

// Does `action`, which is to bring up a message box with `text`; the box is
// pictured (when a name is given) and closed.
void expectMessage(const std::function<void()>& action, const QString& text, const QString& picture = {})
{
    auto seen = std::make_shared<bool>(false);
    onNextModal<QMessageBox>([text, picture, seen](QMessageBox* box) {
        if (box->text() != text)
            fail(QStringLiteral("message \"%1\" where \"%2\" was expected").arg(box->text(), text));
        if (!picture.isEmpty())
            save(box, picture);
        *seen = true;
        box->accept();
    });
    action();
    waitFor([seen] { return *seen; }, QStringLiteral("the message \"%1\"").arg(text));
}

QStringList lines(const QListWidget* list)
{
    QStringList out;
    for (int i = 0; i < list->count(); ++i)
        out.append(list->item(i)->text());
    return out;
}

// The card-reader window: pictured when asked, then the card swiped into it
// as the reader types it; returns once the inquiry's answer has closed it.
void swipe(MainWindow* w, const QString& card, const QString& picture = {})
{
    onNextModal<CardReaderWindow>([card, picture](CardReaderWindow* reader) {
        if (!picture.isEmpty())
            save(reader, picture);
        QTest::keyClicks(reader->Text1, card + QStringLiteral("="));
    });
    ui(w).Command1->click();
    if (w->cardNumber() != card)
        fail(QStringLiteral("the card-reader window did not load card ") + card);
}

// Presses "결제하기" and waits until the answer has been handled.  An
// accepted approval or cancellation brings the receipt window, which is
// pictured (when asked) and answered; a balance inquiry brings none.
enum class Receipt
{
    None,
    Print,
    DoNotPrint
};
QStringList g_receiptFields;
void pay(MainWindow* w, Receipt receipt, const QString& receiptPicture = {})
{
    g_receiptFields.clear();
    const bool print = receipt == Receipt::Print;
    QPointer<QTimer> watch = onNextModal<ReceiptQuestion>([print, receiptPicture](ReceiptQuestion* f) {
        for (QLineEdit* t : {f->Text1, f->Text2, f->Text3, f->Text4, f->Text5, f->Text6, f->Text7, f->Text8})
            g_receiptFields.append(t->text());
        if (!receiptPicture.isEmpty())
            save(f, receiptPicture);
        (print ? f->Command1 : f->Command2)->click();
    });
    ui(w).Command4->click();
    waitFor([w] { return ui(w).Command4->isEnabled() && noDialog(); }, QStringLiteral("the answer"));
    if ((receipt == Receipt::None) != g_receiptFields.isEmpty())
        fail(receipt == Receipt::None ? QStringLiteral("a receipt window where none belongs")
                                      : QStringLiteral("no receipt window"));
    delete watch.data();
}

// The journal window, pictured with row `row` chosen (-1: none), then closed.
void pictureJournal(MainWindow* w, const QString& name, int row = -1)
{
    onNextModal<JournalWindow>([name, row](JournalWindow* j) {
        if (row >= 0)
            j->findChild<QTableView*>(QStringLiteral("grdJournal"))->selectRow(row);
        save(j, name);
        j->reject();
    });
    w->ShowJournal();
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    // As the client starts (app/gui/startup.cpp).
    QApplication::setApplicationName(QStringLiteral("소르나"));
    QApplication::setWindowIcon(artwork::appIcon());
    look::installFontSubstitutions();
    look::installKoreanTranslations();

    g_out = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral(".");
    if (!QDir().mkpath(g_out))
        fail(QStringLiteral("cannot make ") + g_out);
    if (argc > 2) {
        const QDateTime t = QDateTime::fromString(QString::fromLocal8Bit(argv[2]), Qt::ISODate);
        if (!t.isValid())
            fail(QStringLiteral("bad clock ") + QString::fromLocal8Bit(argv[2]));
        Clock::setRunningFrom(t);
    }
    // A window nobody answers would hold the run for ever.
    QTimer::singleShot(180000,
                       [] { fail(QStringLiteral("the run took more than 3 minutes: a window is stuck")); });
    if (qEnvironmentVariableIsEmpty("SORNA_RECEIPT_PDF"))
        fail(QStringLiteral("SORNA_RECEIPT_PDF names no file: the receipt would go to a printer"));

    // ---- login window, its two messages, the login
    LoginWindow* login = session::showLoginWindow();
    if (!QTest::qWaitForWindowExposed(login))
        fail(QStringLiteral("the login window was not shown"));
    QTest::keyClicks(login->Text1, kBusinessNo);
    expectMessage([login] { login->btnLogin->click(); }, QStringLiteral("인증번호를 입력해주세요"),
                  QStringLiteral("message-box.png"));
    QTest::keyClicks(login->Text4, QStringLiteral("111111"));
    expectMessage([login] { login->btnLogin->click(); },
                  QStringLiteral("사업자번호 또는 인증번호를 정확히 입력해주세요"),
                  QStringLiteral("message-login-refused.png"));
    waitFor([login] { return login->btnLogin->isEnabled() && noDialog(); },
            QStringLiteral("the refusal of a wrong authentication number"));
    login->Text4->clear();
    QTest::keyClicks(login->Text4, kAuthNo);
    save(login, QStringLiteral("login.png"));
    if (app.arguments().contains(QStringLiteral("--screen")))
        grabScreen(QStringLiteral("screen-login.png"));
    login->btnLogin->click();
    waitFor([] { return session::mainWindow() && session::mainWindow()->isVisible(); },
            QStringLiteral("the main window after login"));
    MainWindow* w = session::mainWindow();
    if (!QTest::qWaitForWindowExposed(w))
        fail(QStringLiteral("the main window was not shown"));
    if (app.arguments().contains(QStringLiteral("--screen"))) {
        // The whole screen at the system scale the run is given: each
        // window fits it, and after an approval its result is in sight.
        onNextModal<CardReaderWindow>([](CardReaderWindow* reader) {
            grabScreen(QStringLiteral("screen-reader.png"));
            QTest::keyClicks(reader->Text1, kCard + QStringLiteral("="));
        });
        ui(w).Command1->click();
        pay(w, Receipt::DoNotPrint);
        grabScreen(QStringLiteral("screen.png"));
        onNextModal<JournalWindow>([](JournalWindow* j) {
            grabScreen(QStringLiteral("screen-journal.png"));
            j->reject();
        });
        w->ShowJournal();
        w->close();
        settle();
        return 0;
    }
    save(w, QStringLiteral("main-empty.png"));
    pictureJournal(w, QStringLiteral("journal-empty.png"));

    // ---- approval by card reader
    swipe(w, kCard, QStringLiteral("card-reader.png"));
    if (!lines(ui(w).lstResult).contains(QStringLiteral("카드정보조회가 정상처리 되었습니다.")))
        fail(QStringLiteral("the card inquiry was not accepted: ") + lines(ui(w).lstResult).join(u'|'));
    save(w, QStringLiteral("main-card.png"));
    pay(w, Receipt::Print, QStringLiteral("receipt-window.png"));
    if (lines(ui(w).lstResult).value(0) != QStringLiteral("승인요청이 정상처리 되었습니다"))
        fail(QStringLiteral("the approval was not accepted: ") + lines(ui(w).lstResult).join(u'|'));
    const QString approvalNo = g_receiptFields[3];
    const QString approvalDate = g_receiptFields[2].left(8);
    save(w, QStringLiteral("main-approved.png"));

    // ---- a message of the main window: pay without a card
    expectMessage([w] { ui(w).Command4->click(); }, QStringLiteral("카드번호를 정확히 입력해주세요"),
                  QStringLiteral("message-no-card.png"));

    // ---- manual entry, and the amount change with a reason of its own
    onNextModal<ManualEntryWindow>([](ManualEntryWindow* f) {
        QLineEdit* boxes[] = {f->Card1, f->Card2, f->Card3, f->Card4};
        for (int i = 0; i < 4; ++i)
            QTest::keyClicks(boxes[i], kCardByHand.mid(4 * i, 4));
        save(f, QStringLiteral("manual-entry.png"));
        f->btnOk->click();
    });
    ui(w).Command2->click();
    if (w->cardNumber() != kCardByHand)
        fail(QStringLiteral("the manual entry window did not load card ") + kCardByHand);
    ui(w).Command3->click();
    ui(w).Combo1->setCurrentIndex(3);
    emit ui(w).Combo1->activated(3);
    ui(w).txtCare_Amount1->clear();
    QTest::keyClicks(ui(w).txtCare_Amount1, QStringLiteral("90000"));
    // Korean text comes through the input method, which keystrokes cannot
    // stand in for.
    ui(w).txtreson->insert(QStringLiteral("2회기 연속 치료"));
    save(w, QStringLiteral("main-amount-change.png"));

    // ---- cancellation of the approval: mode, card, approval number, date
    ui(w).Option2->click();
    swipe(w, kCard);
    QTest::keyClicks(ui(w).txtOrg_approval_no, approvalNo);
    // Without a window manager nothing makes the window active by itself.
    QApplication::setActiveWindow(w);
    QTest::mouseClick(ui(w).txtOrg_auth_date, Qt::LeftButton);
    waitFor([w] { return ui(w).MonthView1->isVisible(); }, QStringLiteral("the calendar"));
    save(w, QStringLiteral("main-cancel-calendar.png"));
    ui(w).MonthView1->setSelectedDate(QDate::fromString(approvalDate, QStringLiteral("yyyyMMdd")));
    emit ui(w).MonthView1->clicked(ui(w).MonthView1->selectedDate());
    if (ui(w).txtOrg_auth_date->text() != approvalDate)
        fail(QStringLiteral("the calendar gave ") + ui(w).txtOrg_auth_date->text());
    save(w, QStringLiteral("main-cancel.png"));
    pay(w, Receipt::DoNotPrint);
    if (lines(ui(w).lstResult).value(0) != QStringLiteral("취소요청이 정상처리 되었습니다"))
        fail(QStringLiteral("the cancellation was not accepted: ") + lines(ui(w).lstResult).join(u'|'));
    save(w, QStringLiteral("main-cancelled.png"));

    // ---- balance inquiry
    ui(w).Option3->click();
    swipe(w, kCard);
    pay(w, Receipt::None);
    if (lines(ui(w).lstResult).value(0) != QStringLiteral("잔액조회가 정상처리 되었습니다"))
        fail(QStringLiteral("the balance inquiry was not accepted: ") + lines(ui(w).lstResult).join(u'|'));
    save(w, QStringLiteral("main-balance.png"));

    // ---- a card the host refuses
    ui(w).Option1->click();
    onNextModal<CardReaderWindow>(
        [](CardReaderWindow* reader) { QTest::keyClicks(reader->Text1, kCardStolen + QStringLiteral("=")); });
    ui(w).Command1->click();
    if (lines(ui(w).lstResult).value(0) != QStringLiteral("카드정보조회가 거절 되었습니다."))
        fail(QStringLiteral("the stolen card was not refused: ") + lines(ui(w).lstResult).join(u'|'));
    save(w, QStringLiteral("main-refused.png"));

    // ---- a busy day in the journal: more approvals, one a second (the
    // host takes one approval a second from a merchant)
    const std::pair<QString, int> more[] = {
        {kCardTwoItems, 0}, {kCardByHand, 1}, {kCard, 2}, {kCardTwoItems, 1}, {kCardByHand, 2}};
    for (const auto& [card, item] : more) {
        QTest::qWait(1000);
        swipe(w, card);
        ui(w).cmbCare1->setCurrentIndex(item);
        emit ui(w).cmbCare1->activated(item);
        pay(w, Receipt::DoNotPrint);
        if (lines(ui(w).lstResult).value(0) != QStringLiteral("승인요청이 정상처리 되었습니다"))
            fail(QStringLiteral("an approval of the busy day was refused: ") +
                 lines(ui(w).lstResult).join(u'|'));
    }
    pictureJournal(w, QStringLiteral("journal-day.png"), 1);
    // Finding a payment: part of the student's name over a week.
    onNextModal<JournalWindow>([](JournalWindow* j) {
        const QString today = Clock::now().date().toString(QStringLiteral("yyyyMMdd"));
        const QString weekAgo = Clock::now().date().addDays(-6).toString(QStringLiteral("yyyyMMdd"));
        j->search(JournalSearch{weekAgo, today, QString(), QString(), QStringLiteral("서연")});
        save(j, QStringLiteral("journal-search.png"));
        j->reject();
    });
    w->ShowJournal();
    // The same card, item and amount again: asked first, answered 아니요.
    QTest::qWait(1000);
    swipe(w, kCardTwoItems);
    ui(w).cmbCare1->setCurrentIndex(1);
    emit ui(w).cmbCare1->activated(1);
    auto asked = std::make_shared<bool>(false);
    onNextModal<QMessageBox>([asked](QMessageBox* box) {
        if (!box->text().startsWith(QStringLiteral("같은 카드로 같은 금액이 5분 이내에 승인되었습니다")))
            fail(QStringLiteral("message \"%1\" where the repeat question was expected").arg(box->text()));
        save(box, QStringLiteral("message-duplicate.png"));
        *asked = true;
        box->defaultButton()->click();
    });
    ui(w).Command4->click();
    waitFor([asked, w] { return *asked && ui(w).Command4->isEnabled() && noDialog(); },
            QStringLiteral("the repeat question"));
    // A receipt printed again from the journal, and the day's totals, each
    // into a PDF of its own beside the receipt's (the script renders them).
    onNextModal<JournalWindow>([](JournalWindow* j) {
        const QByteArray pdf = qgetenv("SORNA_RECEIPT_PDF");
        j->findChild<QTableView*>(QStringLiteral("grdJournal"))->selectRow(1);
        qputenv("SORNA_RECEIPT_PDF", pdf + ".reprint.pdf");
        j->findChild<QPushButton*>(QStringLiteral("btnReprint"))->click();
        qputenv("SORNA_RECEIPT_PDF", pdf + ".totals.pdf");
        j->findChild<QPushButton*>(QStringLiteral("btnPrintTotals"))->click();
        qputenv("SORNA_RECEIPT_PDF", pdf);
        j->reject();
    });
    w->ShowJournal();

    // ---- a row needing attention: the host takes an approval and stays
    // silent, and the line drops before the reversal can reach it
    QTest::qWait(1000);
    swipe(w, kCardSilent);
    ui(w).timeMain->setInterval(2000);
    const QString port =
        ReadSetting(QStringLiteral("KolbrinInfo"), QStringLiteral("sorna_Port"), paths::settingsFile());
    expectMessage(
        [w] {
            ui(w).Command4->click();
            waitFor([w] { return ui(w).timeMain->isActive(); }, QStringLiteral("the approval to leave"));
            WriteSetting(QStringLiteral("KolbrinInfo"), QStringLiteral("sorna_Port"), QStringLiteral("1"),
                         paths::settingsFile());
        },
        QStringLiteral("연결할 수 없습니다"));
    waitFor([] { return noDialog(); }, QStringLiteral("the reversal's first attempt"));
    QTest::qWait(500);
    pictureJournal(w, QStringLiteral("journal-attention.png"));
    save(w, QStringLiteral("main-timeout.png"));
    WriteSetting(QStringLiteral("KolbrinInfo"), QStringLiteral("sorna_Port"), port, paths::settingsFile());

    // ---- merchant information window.  It shows what Kolbrin.ini holds;
    // the service writes that file when it sets the program up, and here it
    // is written from what the login has stored.
    for (const char* key : {"Name", "Number", "Telephone", "Address"})
        WriteSetting(
            QStringLiteral("ComInfo"), QString::fromLatin1(key),
            ReadSetting(QStringLiteral("ComInfo"), QString::fromLatin1(key), paths::settingsFile()).trimmed(),
            paths::merchantInfoFile());
    onNextModal<MerchantWindow>([](MerchantWindow* f) {
        save(f, QStringLiteral("merchant.png"));
        f->reject();
    });
    w->ShowMerchantInfo();

    w->close();
    settle();
    std::printf("%d pictures at %.0f dpi\n", g_saved, QApplication::primaryScreen()->logicalDotsPerInch());
    return 0;
}
