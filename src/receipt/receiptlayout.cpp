#include "receipt/receiptlayout.h"

#include "foundation/amount.h"
#include "foundation/paths.h"
#include "foundation/settings.h"

#include <QFontMetricsF>
#include <QImage>
#include <QPaintDevice>

#include <memory>

namespace sorna::receipt {
namespace {

const QString kTitle = QStringLiteral("특수교육지원 카드영수증");
const QString kCustomerMark = QStringLiteral("( 고 객 용 )");
const QString kMerchantMark = QStringLiteral("( 가맹점용 )");
const QString kRule(66, u'-');
const QString kNotice = QStringLiteral("결제 취소시 영수증을 지참해 주시기 바랍니다.");
const QString kSignature = QStringLiteral("[서 명]");

// The copies are laid out line by line from a running Y, the way the counter
// printer is driven: each step prints at PrintY, then moves it on by whole
// millimetres.
class Composer
{
public:
    Composer(const ReceiptData& fields, const TextWidthMm& width, const MerchantSource& merchant, Copy copy)
        : m_fields(fields), m_width(width), m_merchant(merchant), m_copy(copy)
    {}

    ReceiptLayout compose()
    {
        BeginCustomerCopy();
        PrintCustomerHeader();
        PrintReceiptBody();
        PrintReceiptFooter();
        BeginMerchantCopy();
        PrintMerchantHeader();
        PrintReceiptBody();
        PrintReceiptFooter();
        return m_layout;
    }

private:
    void BeginCustomerCopy()
    {
        PrintY = 5;
        frame(0, 0, 75, PrintY + 105);
    }

    void BeginMerchantCopy()
    {
        PrintY = 120;
        frame(0, PrintY, 75, PrintY + 105);
    }

    void PrintCustomerHeader() { PrintHeader(kCustomerMark); }
    void PrintMerchantHeader() { PrintHeader(kMerchantMark); }

    void PrintHeader(const QString& copyMark)
    {
        const MerchantInfo m = m_merchant ? m_merchant() : MerchantInfo{};
        NextLine();
        PrintAligned(ReceiptTitle(m_copy), Align::Centre);
        NextBlock();
        PrintAligned(copyMark, Align::Centre);
        NextBlock();
        PrintAligned(kRule, Align::Centre);
        NextLine();
        PrintAligned(QStringLiteral("상호 : ") + m.name, Align::Left);
        NextLine();
        PrintAligned(QStringLiteral("가맹점번호 : ") + m.number, Align::Left);
        NextLine();
        PrintAligned(QStringLiteral("주소 : ") + m.address, Align::Left);
        NextLine();
        PrintAligned(QStringLiteral("TEL  : ") + m.telephone, Align::Left);
        NextLine();
        PrintAligned(kRule, Align::Centre);
        NextLine();
    }

    void PrintReceiptBody()
    {
        PrintAligned(u'[' + m_fields.kind + u']', Align::Left);
        NextLine();
        row(QStringLiteral("카드번호 :"), MaskCardNumber(m_fields.cardNumber));
        row(QStringLiteral("승인일시 :"), m_fields.dateTime);
        row(QStringLiteral("승인번호 :"), m_fields.approvalNo);
        row(QStringLiteral("승인금액 :"), FormatAmount(m_fields.amount));
        row(QStringLiteral("잔여금액 :"), FormatAmount(m_fields.remain));
        row(QStringLiteral("치료영역 :"), m_fields.item);
        row(QStringLiteral("치료강사 :"), m_fields.teacher);
    }

    void PrintReceiptFooter()
    {
        PrintAligned(kRule, Align::Centre);
        NextLine();
        PrintAligned(kNotice, Align::Centre);
        NextLine();
        PrintAligned(kRule, Align::Centre);
        NextLine();
        PrintAligned(kSignature, Align::Left);
        NextLine();
    }

    void row(const QString& label, const QString& value)
    {
        PrintAligned(label, Align::Left);
        PrintAligned(value, Align::Right);
        NextLine();
    }

    void PrintAligned(const QString& text, Align align)
    {
        const double w = m_width ? m_width(text) : 0.0;
        m_layout.texts.append(ReceiptText{text, AlignedX(align, w), PrintY, align});
    }

    void NextLine() { PrintY = qint16(PrintY + 3); }
    void NextBlock() { PrintY = qint16(PrintY + 6); }

    void frame(double left, double top, double right, double bottom)
    {
        m_layout.frames.append(QRectF(QPointF(left, top), QPointF(right, bottom)));
    }

    const ReceiptData& m_fields;
    const TextWidthMm& m_width;
    const MerchantSource& m_merchant;
    const Copy m_copy;
    ReceiptLayout m_layout;
    qint16 PrintY = 0; // whole millimetres, the Y of the next line
};

} // namespace

MerchantInfo ReadMerchantInfo()
{
    const QString file = paths::settingsFile();
    const QString section = QStringLiteral("ComInfo");
    return MerchantInfo{ReadSetting(section, QStringLiteral("Name"), file),
                        ReadSetting(section, QStringLiteral("Number"), file),
                        ReadSetting(section, QStringLiteral("Address"), file),
                        ReadSetting(section, QStringLiteral("Telephone"), file)};
}

QFont ReceiptFont()
{
    QFont font(QStringLiteral("D2Coding"));
    font.setPointSizeF(9);
    font.setBold(true);
    return font;
}

TextWidthMm DeviceTextWidthMm(const QFont& font, const QPaintDevice* device)
{
    auto metrics = std::make_shared<QFontMetricsF>(font, device);
    const double dpi = device->logicalDpiX();
    return [metrics, dpi](const QString& text) { return metrics->horizontalAdvance(text) * 25.4 / dpi; };
}

TextWidthMm DefaultTextWidthMm()
{
    // A one-pixel image only carries the resolution the font is measured at.
    auto image = std::make_shared<QImage>(1, 1, QImage::Format_ARGB32);
    const int dotsPerMetre = qRound(kMeasureDpi / 0.0254);
    image->setDotsPerMeterX(dotsPerMetre);
    image->setDotsPerMeterY(dotsPerMetre);
    const TextWidthMm measure = DeviceTextWidthMm(ReceiptFont(), image.get());
    return [image, measure](const QString& text) { return measure(text); };
}

double AlignedX(Align align, double width)
{
    switch (align) {
    case Align::Right:
        return 70.0 - width;
    case Align::Centre:
        return (65.0 - width) / 2.0 + 5.0;
    case Align::Left:
        break;
    }
    return 5.0;
}

ReceiptLayout LayoutReceipt(const ReceiptData& fields, const TextWidthMm& width,
                            const MerchantSource& merchant, Copy copy)
{
    return Composer(fields, width, merchant, copy).compose();
}

QString ReceiptTitle(Copy copy)
{
    return copy == Copy::Reprint ? kTitle + QStringLiteral(" (재출력)") : kTitle;
}

} // namespace sorna::receipt
