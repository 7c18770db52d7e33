#include "receipt/daytotalslayout.h"

#include "foundation/amount.h"

namespace sorna::receipt {
namespace {

constexpr int kTop = 5;
constexpr int kFrameBottom = 225; // as low as the merchant copy of a receipt reaches
constexpr int kLastLine = 218;

class TotalsComposer
{
public:
    TotalsComposer(const TextWidthMm& width) : m_width(width) {}

    ReceiptLayout compose(const dayview::DayTotals& t, const QDateTime& printedAt, const MerchantInfo& m)
    {
        startPage();
        line(QStringLiteral("특수교육지원 카드 일계표"), Align::Centre);
        m_y += 3;
        line(QStringLiteral("거래일자 : ") + dayview::DateShown(t.date), Align::Centre);
        line(rule(), Align::Centre);
        line(QStringLiteral("상호 : ") + m.name, Align::Left);
        line(QStringLiteral("가맹점번호 : ") + m.number, Align::Left);
        line(rule(), Align::Centre);
        for (const dayview::ItemTotal& item : t.items)
            block(item);
        line(rule(), Align::Centre);
        block(t.all);
        line(rule(), Align::Centre);
        pair(QStringLiteral("거절"), QString::number(t.refused) + QStringLiteral("건"));
        pair(QStringLiteral("결과 미확인 (합계에 없음)"), QString::number(t.unknown) + QStringLiteral("건"));
        line(rule(), Align::Centre);
        line(QStringLiteral("출력일시 : ") + printedAt.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")),
             Align::Left);
        return m_layout;
    }

private:
    static QString rule() { return QString(66, u'-'); }

    void startPage()
    {
        if (!m_layout.frames.isEmpty())
            ++m_page;
        m_layout.frames.append(QRectF(QPointF(0, 0), QPointF(75, kFrameBottom)));
        m_layout.framePages.append(m_page);
        m_y = kTop;
    }

    // Lines that belong together stay on one page.
    void keep(int lines)
    {
        if (m_y + 3 * lines > kLastLine)
            startPage();
    }

    void place(const QString& text, Align align)
    {
        const double w = m_width ? m_width(text) : 0.0;
        m_layout.texts.append(ReceiptText{text, AlignedX(align, w), m_y, align, m_page});
    }

    void line(const QString& text, Align align)
    {
        keep(1);
        place(text, align);
        m_y += 3;
    }

    void pair(const QString& label, const QString& value)
    {
        keep(1);
        place(label, Align::Left);
        place(value, Align::Right);
        m_y += 3;
    }

    void block(const dayview::ItemTotal& t)
    {
        keep(4);
        line(u'[' + t.item + u']', Align::Left);
        const auto count = [](int n) { return QString::number(n) + QStringLiteral("건"); };
        const auto won = [](qint64 v) {
            return (v < 0 ? QStringLiteral("-") : QString()) + FormatAmount(QString::number(v < 0 ? -v : v));
        };
        pair(QStringLiteral("  승인 ") + count(t.approvals), won(t.approved));
        pair(QStringLiteral("  취소 ") + count(t.cancellations), won(t.cancelled));
        pair(QStringLiteral("  순매출 ") + count(t.netCount()), won(t.net()));
    }

    const TextWidthMm& m_width;
    ReceiptLayout m_layout;
    int m_page = 0;
    int m_y = kTop;
};

} // namespace

ReceiptLayout LayoutDayTotals(const dayview::DayTotals& totals, const TextWidthMm& width,
                              const QDateTime& printedAt, const MerchantSource& merchant)
{
    return TotalsComposer(width).compose(totals, printedAt, merchant ? merchant() : MerchantInfo{});
}

} // namespace sorna::receipt
