#include "receipt/gui/receiptquestion.h"

#include "receipt/gui/receiptprinter.h"

#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>

namespace sorna {
namespace {

// Window positions are given in twips, 15 to a pixel.
QRect twipsRect(int left, int top, int width, int height)
{
    return QRect(left / 15, top / 15, width / 15, height / 15);
}

QFont nanumBarun(double points, int weight)
{
    QFont font(QStringLiteral("나눔바른고딕"));
    font.setPointSizeF(points);
    font.setWeight(QFont::Weight(weight));
    return font;
}

const QColor kBackground(244, 247, 251);
const QColor kQuestionText(34, 48, 68);

} // namespace

ReceiptQuestion::ReceiptQuestion(QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("Form5"));
    setWindowTitle(QStringLiteral("영수증 출력"));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                   Qt::MSWindowsFixedSizeDialogHint);
    setFixedSize(340, 140);

    const QFont buttonFont = nanumBarun(11.25, QFont::Normal);
    const auto button = [&](const QString& name, const QString& caption, QRect where) {
        auto* b = new QPushButton(caption, this);
        b->setObjectName(name);
        b->setFont(buttonFont);
        b->setGeometry(where);
        return b;
    };
    Command1 = button(QStringLiteral("Command1"), QStringLiteral("예"), twipsRect(1200, 1155, 1100, 470));
    Command2 = button(QStringLiteral("Command2"), QStringLiteral("아니요"), twipsRect(2820, 1155, 1100, 470));

    // The data fields, one under the other below the client area, each with
    // its caption to the left.
    struct Field
    {
        QLineEdit** box;
        const char16_t* boxName;
        QLabel** label;
        const char16_t* labelName;
        const char16_t* caption;
    };
    const Field fields[] = {
        {&Text1, u"Text1", &Label9, u"Label9", u"승인상태 :"},
        {&Text2, u"Text2", &Label4, u"Label4", u"카드번호 :"},
        {&Text3, u"Text3", &Label2, u"Label2", u"승인일시 :"},
        {&Text4, u"Text4", &Label3, u"Label3", u"승인번호 :"},
        {&Text5, u"Text5", &Label7, u"Label7", u"승인금액 :"},
        {&Text6, u"Text6", &Label6, u"Label6", u"잔여금액 :"},
        {&Text7, u"Text7", &Label5, u"Label5", u"치료영역 :"},
        {&Text8, u"Text8", &Label8, u"Label8", u"치료강사 :"},
    };
    int top = 2580;
    for (const Field& f : fields) {
        *f.label = new QLabel(QString::fromUtf16(f.caption), this);
        (*f.label)->setObjectName(QString::fromUtf16(f.labelName));
        (*f.label)->setGeometry(twipsRect(240, top, 1335, 315));
        *f.box = new QLineEdit(this);
        (*f.box)->setObjectName(QString::fromUtf16(f.boxName));
        (*f.box)->setGeometry(twipsRect(1680, top, 3255, 315));
        (*f.box)->setFocusPolicy(Qt::NoFocus); // never reached by Tab: the user cannot see them
        top += 420;
    }

    connect(Command1, &QPushButton::clicked, this, &ReceiptQuestion::Command1_Click);
    connect(Command2, &QPushButton::clicked, this, &ReceiptQuestion::Command2_Click);
    Command1->setFocus();
}

void ReceiptQuestion::setReceipt(const ReceiptData& data)
{
    Text1->setText(data.kind);
    Text2->setText(data.cardNumber);
    Text3->setText(data.dateTime);
    Text4->setText(data.approvalNo);
    Text5->setText(data.amount);
    Text6->setText(data.remain);
    Text7->setText(data.item);
    Text8->setText(data.teacher);
}

ReceiptData ReceiptQuestion::receipt() const
{
    return ReceiptData{Text1->text(), Text2->text(), Text3->text(), Text4->text(),
                       Text5->text(), Text6->text(), Text7->text(), Text8->text()};
}

bool ReceiptQuestion::PrintReceipt()
{
    return receipt::PrintReceipt(this, receipt());
}

void ReceiptQuestion::Command1_Click()
{
    // A second click while the first one is still printing (or telling its
    // error) must not print a second receipt.
    if (!m_printed) {
        m_printed = true;
        PrintReceipt();
    }
    accept();
}

void ReceiptQuestion::Command2_Click()
{
    reject();
}

void ReceiptQuestion::showEvent(QShowEvent* event)
{
    m_printed = false;
    QDialog::showEvent(event);
}

void ReceiptQuestion::paintEvent(QPaintEvent* event)
{
    Q_UNUSED(event);
    QPainter painter(this);
    painter.fillRect(rect(), kBackground);
    painter.setPen(kQuestionText);
    painter.setFont(nanumBarun(12, QFont::Bold));
    const int width = this->width();
    painter.drawText(QRect(0, 14, width, 26), Qt::AlignCenter, QStringLiteral("정상결제 되었습니다"));
    painter.drawText(QRect(0, 40, width, 26), Qt::AlignCenter, QStringLiteral("영수증을 출력하시겠습니까?"));
}

} // namespace sorna
