// The transaction panel of the main window: mode, card capture, item
// choice, amount change with its reason, the earlier approval of a
// cancellation, and the pay button.

#include "card/gui/cardwindows.h"
#include "foundation/amount.h"
#include "foundation/clock.h"
#include "foundation/gui/artwork.h"
#include "foundation/gui/look.h"
#include "foundation/gui/messagebox.h"
#include "hostlink/gui/startconnection.h"
#include "hostlink/hostsocket.h"
#include "hostlink/record.h"
#include "journal/journal.h"
#include "transaction/gui/mainwindow.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QCalendarWidget>
#include <QClipboard>
#include <QComboBox>
#include <QKeyEvent>
#include <QLineEdit>
#include <QListWidget>
#include <QPainter>
#include <QPalette>
#include <QPushButton>
#include <QRadioButton>

#include <utility>

namespace sorna {
namespace {

// Rows of the panel, top to bottom: the label drawn in the left column and
// the band of the row in pixels.
struct PanelRow
{
    const char16_t* label;
    int top, bottom;
};
constexpr PanelRow kRows[] = {
    {u"거래 구분", 108, 144},       {u"카드 입력 구분", 144, 186},  {u"카드 번호", 186, 226},
    {u"지원 영역", 226, 266},       {u"제공 인력", 266, 302},       {u"금 액", 302, 410},
    {u"원거래 승인번호", 410, 450}, {u"원거래 승인일자", 450, 490},
};
constexpr int kLabelLeft = 12;
constexpr int kLabelWidth = 180;

QComboBox* makeCombo(QWidget* parent, const char* name)
{
    auto* c = new QComboBox(parent);
    c->setObjectName(QString::fromLatin1(name));
    c->setEditable(true);
    c->setInsertPolicy(QComboBox::NoInsert);
    return c;
}

// A closed input shows its text in the system's grey text colour, which
// stays readable on both greys of the closed look.
void useGreyText(QWidget* w)
{
    QPalette p = w->palette();
    p.setColor(QPalette::Disabled, QPalette::Text, QColor(109, 109, 109));
    p.setColor(QPalette::Disabled, QPalette::ButtonText, QColor(109, 109, 109));
    w->setPalette(p);
}

// Whether `w` is `outer` or lies within it, its pop-up menus included (which
// are windows of their own).
bool partOf(const QWidget* outer, const QWidget* w)
{
    for (; w; w = w->parentWidget())
        if (w == outer)
            return true;
    return false;
}

void closeCombo(QComboBox* c, const QColor& grey)
{
    c->setEnabled(false);
    look::setBackColor(c, grey);
}

} // namespace

void MainWindow::buildPanel()
{
    auto option = [this](const char* name, int left) {
        auto* o = new QRadioButton(this);
        o->setObjectName(QString::fromLatin1(name));
        look::place(o, left, 1740, 255, 255);
        return o;
    };
    Option1 = option("Option1", 3120);
    Option2 = option("Option2", 4440);
    Option3 = option("Option3", 5640);
    Option1->setChecked(true);
    connect(Option1, &QRadioButton::clicked, this, &MainWindow::Option1_Click);
    connect(Option2, &QRadioButton::clicked, this, &MainWindow::Option2_Click);
    connect(Option3, &QRadioButton::clicked, this, &MainWindow::Option3_Click);

    auto button = [this](const char* name, const QString& caption, int left, int top, int width) {
        auto* b = new QPushButton(caption, this);
        b->setObjectName(QString::fromLatin1(name));
        b->setFont(look::uiFont(11.25));
        look::place(b, left, top, width, 470);
        return b;
    };
    Command1 = button("Command1", QStringLiteral("카드리더기"), 3060, 2220, 1300);
    Command2 = button("Command2", QStringLiteral("수기입력"), 4680, 2220, 1155);
    Command3 = button("Command3", QStringLiteral("금액 변경"), 5100, 4620, 1155);
    Command4 = button("Command4", QStringLiteral("결제하기"), 9720, 7390, 1155);
    // Enter on the focused pay button presses it, as on the counter PC; the
    // button is disabled by the first press, so a second Enter does nothing.
    Command4->setAutoDefault(true);
    // Beside the pay button while a payment waits for an owed reversal.
    btnGiveUp = button("btnGiveUp", QStringLiteral("대기 취소"), 8340, 7390, 1155);
    btnGiveUp->hide();
    connect(btnGiveUp, &QPushButton::clicked, this, &MainWindow::giveUpWait);
    connect(Command1, &QPushButton::clicked, this, &MainWindow::Command1_Click);
    connect(Command2, &QPushButton::clicked, this, &MainWindow::Command2_Click);
    connect(Command3, &QPushButton::clicked, this, &MainWindow::Command3_Click);
    connect(Command4, &QPushButton::clicked, this, &MainWindow::Command4_Click);

    auto box = [this](const char* name, int left, int top, int width, int height) {
        auto* e = new QLineEdit(this);
        e->setObjectName(QString::fromLatin1(name));
        e->setFont(look::uiFont(14.25));
        look::place(e, left, top, width, height);
        return e;
    };
    Card1 = box("Card1", 3060, 2850, 750, 435);
    Card2 = box("Card2", 4050, 2850, 750, 435);
    Card3 = box("Card3", 5100, 2850, 750, 435);
    Card4 = box("Card4", 6120, 2850, 750, 435);
    for (QLineEdit* c : {Card1, Card2, Card3, Card4})
        look::setClosed(c, look::kInactiveTitle);

    cmbCare1 = makeCombo(this, "cmbCare1");
    cmbCare1->setFont(look::squareFont(14.25, 800));
    look::place(cmbCare1, 3060, 3450, 2475, 435);
    closeCombo(cmbCare1, look::kInactiveTitle);
    connect(cmbCare1, &QComboBox::activated, this, &MainWindow::cmbCare1_Click);

    txtTeacher1 = box("txtTeacher1", 3060, 4050, 1500, 420);
    look::setClosed(txtTeacher1, look::kInactiveTitle);
    txtCare_Amount1 = box("txtCare_Amount1", 3060, 4620, 1500, 420);
    txtCare_Amount1->installEventFilter(this);
    look::setClosed(txtCare_Amount1, look::kInactiveTitle);

    Combo1 = makeCombo(this, "Combo1");
    Combo1->setFont(look::uiFont(14.25));
    look::place(Combo1, 4305, 5145, 5640, 450);
    Combo1->addItems(changeReasons());
    Combo1->setCurrentIndex(-1);
    closeCombo(Combo1, look::kInactiveTitle);
    connect(Combo1, &QComboBox::activated, this, &MainWindow::Combo1_Click);

    txtreson = box("txtreson", 4300, 5640, 5610, 420);
    look::setClosed(txtreson, look::kButtonFace);
    txtOrg_approval_no = box("txtOrg_approval_no", 3060, 6240, 1515, 420);
    look::setClosed(txtOrg_approval_no, look::kButtonFace);
    txtOrg_auth_date = box("txtOrg_auth_date", 3060, 6820, 1515, 420);
    look::setClosed(txtOrg_auth_date, look::kButtonFace);
    txtOrg_auth_date->installEventFilter(this);

    MonthView1 = new QCalendarWidget(this);
    MonthView1->setObjectName(QStringLiteral("MonthView1"));
    // The locale and the first day of the week come before any date is
    // selected, or the wrong cell is highlighted.
    MonthView1->setLocale(QLocale(QLocale::Korean, QLocale::SouthKorea));
    MonthView1->setFirstDayOfWeek(Qt::Sunday);
    MonthView1->setVerticalHeaderFormat(QCalendarWidget::NoVerticalHeader);
    MonthView1->setGeometry(look::twips(3045), look::twips(7350), 280, 190);
    MonthView1->hide();
    connect(MonthView1, &QCalendarWidget::clicked, this, &MainWindow::MonthView1_DateClick);
    // The calendar's focus lives in its grid, not in the calendar itself:
    // it has lost the focus when the focus moves from anything inside it to
    // a control outside it (not when the whole window is deactivated).
    connect(qApp, &QApplication::focusChanged, MonthView1, [this](QWidget* old, QWidget* now) {
        if (!old || !now)
            return;
        if (partOf(MonthView1, old) && !partOf(MonthView1, now))
            MonthView1_LostFocus();
    });

    for (QWidget* input :
         std::initializer_list<QWidget*>{Card1, Card2, Card3, Card4, cmbCare1, txtTeacher1, txtCare_Amount1,
                                         Combo1, txtreson, txtOrg_approval_no, txtOrg_auth_date})
        useGreyText(input);

    // Digits only, never through the Korean input method (a box in Hangul
    // mode would turn typed characters into jamo).
    for (QLineEdit* digits :
         {Card1, Card2, Card3, Card4, txtCare_Amount1, txtOrg_approval_no, txtOrg_auth_date})
        look::noInputMethod(digits, true);

    Command3->setEnabled(false);
    // Tab follows the panel as it is read: the mode, the card, the item and
    // its amount, the reason, the earlier approval, and only then the pay
    // button; the result list and the bottom bar after it.
    const QList<QWidget*> chain = {
        Option1,   Option2,    Option3,  Command1,           Command2,         Card1,
        Card2,     Card3,      Card4,    cmbCare1,           txtTeacher1,      txtCare_Amount1,
        Command3,  Combo1,     txtreson, txtOrg_approval_no, txtOrg_auth_date, Command4,
        lstResult, btnJournal, Command6, btnLogout};
    for (int i = 1; i < chain.size(); ++i)
        setTabOrder(chain[i - 1], chain[i]);
    // The amount box keeps its own clipboard and selection keys.
    txtCare_Amount1->setContextMenuPolicy(Qt::NoContextMenu);
}

void MainWindow::paintPanel(QPainter& p)
{
    const int right = look::designSize(this).width() - 12;
    p.save();
    for (const PanelRow& row : kRows) {
        const QRect band(kLabelLeft, row.top, right - kLabelLeft, row.bottom - row.top);
        p.fillRect(band, Qt::white);
        p.fillRect(QRect(kLabelLeft, row.top, kLabelWidth, row.bottom - row.top), artwork::kSlateBlue);
        p.setPen(Qt::white);
        p.setFont(look::uiFont(11, 700));
        p.drawText(QRect(kLabelLeft + 14, row.top, kLabelWidth - 20, row.bottom - row.top),
                   Qt::AlignLeft | Qt::AlignVCenter, QString::fromUtf16(row.label));
    }
    // The thin lines between the rows, over all the bands and within them.
    p.setPen(QPen(QColor(0x2a, 0x34, 0x48), 1));
    p.drawLine(kLabelLeft, kRows[0].top, right - 1, kRows[0].top);
    for (const PanelRow& row : kRows)
        p.drawLine(kLabelLeft, row.bottom, right - 1, row.bottom);

    const QColor note(0x55, 0x60, 0x74);
    auto text = [&p](int x, int y, int w, int h, const QString& t, const QColor& c, double pt,
                     int weight = 400) {
        p.setPen(c);
        p.setFont(look::uiFont(pt, weight));
        p.drawText(QRect(x, y, w, h), Qt::AlignLeft | Qt::AlignVCenter, t);
    };
    const QColor dark(0x1e, 0x24, 0x30);
    // Mode words beside the option buttons.
    text(look::twips(3120) + 19, 110, 60, 24, QStringLiteral("승인"), dark, 11);
    text(look::twips(4440) + 19, 110, 60, 24, QStringLiteral("취소"), dark, 11);
    text(look::twips(5640) + 19, 110, 80, 24, QStringLiteral("잔액조회"), dark, 11);
    // Dashes between the card boxes.
    for (int left : {3810, 4800, 5850})
        text(look::twips(left) + 3, 190, 14, 29, QStringLiteral("-"), dark, 14);
    text(look::twips(5535) + 10, 226, 330, 40,
         QStringLiteral("(선택시, 학습지원강사&금액이 자동선택 됩니다)"), note, 9);
    text(look::twips(4560) + 6, 308, 20, 28, QStringLiteral("원"), dark, 12);
    text(look::twips(6255) + 10, 302, 300, 40, QStringLiteral("(금액 변경 시, 변경사유를 입력해 주세요)"),
         note, 9);
    text(look::twips(3060), 343, 80, 30, QStringLiteral("변경사유"), dark, 10, 700);
    text(look::twips(3060), 376, 80, 28, QStringLiteral("기타사유란"), dark, 10, 700);
    text(look::twips(4575) + 10, 410, 300, 40, QStringLiteral("(취소거래시 입력)"), note, 9);
    text(look::twips(4575) + 10, 450, 300, 40, QStringLiteral("(취소거래시 YYYYMMDD)"), note, 9);
    p.restore();
}

// ---- reset and modes

void MainWindow::ResetPanel(bool clearResultList)
{
    for (QLineEdit* c : {Card1, Card2, Card3, Card4})
        c->clear();
    cmbCare1->clear();
    cmbCare1->clearEditText();
    closeCombo(cmbCare1, look::kInactiveTitle);
    m_desk.clearCard();
    txtTeacher1->clear();
    txtCare_Amount1->clear();
    if (clearResultList)
        lstResult->clear();
    txtOrg_approval_no->clear();
    txtOrg_auth_date->clear();
    Command3->setEnabled(false);
    txtCare_Amount1->setEnabled(false);
    closeCombo(Combo1, look::kInactiveTitle);
    Combo1->clear();
    Combo1->clearEditText();
    look::setBackColor(txtCare_Amount1, look::kInactiveTitle);
    look::setBorder(txtCare_Amount1, false);
    txtreson->clear();
    look::setClosed(txtreson, look::kButtonFace);
}

void MainWindow::showCardWindow(CardInquiryWindow& window)
{
    connect(&window, &CardInquiryWindow::cardNumberRead, this, &MainWindow::takeCardNumber);
    connect(&window, &CardInquiryWindow::answered, this, &MainWindow::takeCardAnswer);
    window.exec();
}

void MainWindow::Command1_Click()
{
    ResetPanel();
    fillCancelTarget();
    CardReaderWindow window(this);
    showCardWindow(window);
}

void MainWindow::Command2_Click()
{
    ResetPanel();
    fillCancelTarget();
    ManualEntryWindow window(this);
    showCardWindow(window);
}

void MainWindow::Option1_Click()
{
    m_desk.dropCancelTarget();
    ResetPanel();
    txtOrg_auth_date->clear();
    look::setClosed(txtOrg_approval_no, look::kButtonFace);
    look::setClosed(txtOrg_auth_date, look::kButtonFace);
}

void MainWindow::Option2_Click()
{
    m_desk.dropCancelTarget();
    ResetPanel();
    look::setOpen(txtOrg_approval_no);
    look::setOpen(txtOrg_auth_date);
}

void MainWindow::Option3_Click()
{
    m_desk.dropCancelTarget();
    ResetPanel();
    look::setClosed(txtOrg_approval_no, look::kButtonFace);
    look::setClosed(txtOrg_auth_date, look::kButtonFace);
}

TransactionMode MainWindow::mode() const
{
    if (Option1->isChecked())
        return TransactionMode::Approval;
    if (Option2->isChecked())
        return TransactionMode::Cancellation;
    return TransactionMode::Balance;
}

QString MainWindow::cardNumber() const
{
    return Card1->text() + Card2->text() + Card3->text() + Card4->text();
}

PanelInput MainWindow::panelInput() const
{
    PanelInput p;
    p.mode = mode();
    p.cardGroups = {Card1->text(), Card2->text(), Card3->text(), Card4->text()};
    p.itemIndex = cmbCare1->currentIndex();
    p.itemText = cmbCare1->currentText();
    p.teacher = txtTeacher1->text();
    p.amount = txtCare_Amount1->text();
    p.reasonIndex = Combo1->currentIndex();
    p.reasonText = Combo1->currentText();
    p.otherReason = txtreson->text();
    p.orgApprovalNo = txtOrg_approval_no->text();
    p.orgAuthDate = txtOrg_auth_date->text();
    return p;
}

// ---- the card windows hand over

void MainWindow::takeCardNumber(const QStringList& groups, const QString& entryMode)
{
    QLineEdit* boxes[] = {Card1, Card2, Card3, Card4};
    for (int i = 0; i < 4; ++i)
        boxes[i]->setText(groups.value(i));
    m_desk.takeCardNumber(groups, entryMode);
}

void MainWindow::takeCardAnswer(const CardInquiryAnswer& answer)
{
    noteExchange(outcome::LastExchange::What::Answered);
    const CardShown shown = m_desk.takeCardAnswer(answer, mode());
    lstResult->addItems(shown.lines);
    cmbCare1->clear();
    cmbCare1->addItems(shown.itemNames);
    cmbCare1->setCurrentIndex(shown.chosen);
    if (shown.chosen < 0)
        cmbCare1->clearEditText();
    txtTeacher1->setText(shown.teacher);
    txtCare_Amount1->setText(shown.amount);
    cmbCare1->setEnabled(shown.itemsOpen);
    look::setBackColor(cmbCare1, shown.itemsOpen ? look::kWhite : look::kLightGrey);
    Command3->setEnabled(shown.amountChangeOpen);
    if (shown.amountChangeOpen)
        look::setBackColor(Command3, look::kWhite);
    // A cancellation from the journal: the approval's item, when the card
    // still has it.
    if (shown.itemsOpen && mode() == TransactionMode::Cancellation) {
        if (const int item = m_desk.cancelTargetItem(); item >= 0) {
            cmbCare1->setCurrentIndex(item);
            cmbCare1_Click();
        }
    }
}

// ---- cancellation from the journal

void MainWindow::cancelFromJournal(const dayview::CancelTarget& target)
{
    if (m_desk.pending() || m_payWaitsForReversals) {
        MessageBox::show(this, PayDesk::payCheckMessage(PayCheck::Busy));
        return;
    }
    Option2->setChecked(true);
    Option2_Click();
    m_desk.takeCancelTarget(target);
    fillCancelTarget();
    lstResult->addItem(
        QStringLiteral("승인번호 %1 (%2)의 취소: 카드를 읽거나 입력한 뒤 결제하기를 눌러 주세요")
            .arg(target.approvalNo, target.authDate));
}

void MainWindow::fillCancelTarget()
{
    const auto& target = m_desk.cancelTarget();
    if (!target || mode() != TransactionMode::Cancellation)
        return;
    txtOrg_approval_no->setText(target->approvalNo);
    txtOrg_auth_date->setText(target->authDate);
}

bool MainWindow::duplicateConfirmed()
{
    const std::optional<JournalRow> earlier = m_desk.duplicateOf(panelInput());
    return !earlier || MessageBox::ask(this, PayDesk::duplicateQuestion(*earlier));
}

// ---- item, amount, reason

void MainWindow::cmbCare1_Click()
{
    if (const auto item = m_desk.chooseItem(cmbCare1->currentIndex())) {
        txtTeacher1->setText(item->teacher);
        txtCare_Amount1->setText(item->amount);
    }
}

void MainWindow::Command3_Click()
{
    txtreson->clear();
    look::setClosed(txtreson, look::kButtonFace);
    txtCare_Amount1->setEnabled(true);
    Combo1->clear();
    Combo1->setEnabled(true);
    Combo1->addItems(changeReasons());
    Combo1->setCurrentIndex(-1);
    look::setBackColor(Combo1, look::kWhite);
    look::setOpen(txtCare_Amount1);
}

void MainWindow::Combo1_Click()
{
    if (Combo1->currentIndex() == 3) {
        look::setOpen(txtreson);
        return;
    }
    txtreson->clear();
    look::setClosed(txtreson, look::kButtonFace);
}

bool MainWindow::txtCare_Amount1_KeyPress(QKeyEvent* event)
{
    // Keys that type nothing (arrows, Home, Delete) and the Tab that moves
    // on to the next control are no keystrokes of the box; of the rest only
    // digits and backspace pass.
    const QString typed = event->text();
    if (event->matches(QKeySequence::Paste)) {
        // Pasted text goes in as its digits.
        QString digits = QGuiApplication::clipboard()->text();
        digits.removeIf([](QChar c) { return c < u'0' || c > u'9'; });
        txtCare_Amount1->insert(digits);
        return true;
    }
    // Select all, copy and cut are the box's own, not typing.
    if (event->modifiers() & Qt::ControlModifier && !(event->modifiers() & Qt::AltModifier))
        return false;
    switch (event->key()) {
    case Qt::Key_Backspace:
    case Qt::Key_Delete:
    case Qt::Key_Tab:
    case Qt::Key_Backtab:
        return false;
    default:
        break;
    }
    const bool isReturn = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    if (typed.isEmpty() && !isReturn)
        return false;
    if (!isReturn && typed.size() == 1 && typed[0] >= u'0' && typed[0] <= u'9')
        return false;
    MessageBox::show(this, QStringLiteral("숫자만 입력하세요"), MessageBox::Icon::None,
                     QStringLiteral("수정"));
    return true;
}

// ---- earlier approval date

void MainWindow::txtOrg_auth_date_GotFocus()
{
    MonthView1->setSelectedDate(Clock::now().date());
    MonthView1->show();
    MonthView1->raise();
}

void MainWindow::MonthView1_DateClick()
{
    const QString shortDate = MonthView1->selectedDate().toString(QStringLiteral("yyyy-MM-dd"));
    QString digits = shortDate;
    digits.remove(u'-');
    txtOrg_auth_date->setText(digits.trimmed());
    MonthView1->hide();
}

void MainWindow::MonthView1_LostFocus()
{
    // The calendar's own grid and its month menu keep the focus inside it.
    if (partOf(MonthView1, QApplication::focusWidget()))
        return;
    MonthView1->hide();
}

// ---- the panel locked while a payment waits

void MainWindow::keyPressEvent(QKeyEvent* event)
{
    // Escape anywhere in the window gives a waiting payment up.
    if (event->key() == Qt::Key_Escape && m_payWaitsForReversals) {
        giveUpWait();
        event->accept();
        return;
    }
    QWidget::keyPressEvent(event);
}

void MainWindow::lockPanel(bool locked)
{
    if (locked) {
        m_lockedInputs.clear();
        for (QWidget* input : std::initializer_list<QWidget*>{
                 Option1, Option2, Option3, Command1, Command2, Card1, Card2, Card3, Card4, cmbCare1,
                 txtTeacher1, txtCare_Amount1, Command3, Combo1, txtreson, txtOrg_approval_no,
                 txtOrg_auth_date, btnJournal}) {
            m_lockedInputs.append({input, input->isEnabled()});
            input->setEnabled(false);
        }
        MonthView1->hide();
        btnGiveUp->show();
        btnGiveUp->setFocus();
        return;
    }
    for (const auto& [input, enabled] : std::exchange(m_lockedInputs, {}))
        input->setEnabled(enabled);
    btnGiveUp->hide();
}

// ---- pay

void MainWindow::Command4_Click()
{
    Command4->setEnabled(false);
    const PayCheck check = m_desk.checkPay(panelInput());
    if (check != PayCheck::Go) {
        // The button is usable again at once; a click in the same second as
        // the last request goes no further without a word.
        if (check != PayCheck::SameSecond)
            MessageBox::show(this, PayDesk::payCheckMessage(check));
        Command4->setEnabled(true);
        return;
    }
    // The same card, item and amount approved minutes ago: asked first,
    // "아니요" (the default, also for a second Enter) sends nothing.
    if (!duplicateConfirmed()) {
        Command4->setEnabled(true);
        return;
    }
    m_pressed = panelInput();
    if (m_pressed->mode != TransactionMode::Balance && m_desk.reversalsOwed()) {
        payAfterReversals();
        return;
    }
    if (!StartConnection(this, sckMain)) {
        m_pressed.reset();
        Command4->setEnabled(true);
    }
}

} // namespace sorna
