#pragma once

#include "payment/transactionmessages.h"

#include <QFont>
#include <QList>
#include <QRectF>
#include <QString>

#include <functional>

class QPaintDevice;

// The card receipt as data: the two framed copies (customer on top, merchant
// below) with every text line placed in millimetres from the top-left corner
// of the printable page.  The printer only draws what this computes, so the
// whole layout is checked without a printer.
namespace sorna::receipt {

// The merchant block of each copy's header, from section ComInfo of the
// settings file.
struct MerchantInfo
{
    QString name, number, address, telephone;
};
MerchantInfo ReadMerchantInfo();
using MerchantSource = std::function<MerchantInfo()>;

// Alignment codes of a printed line.
enum class Align : int
{
    Left = 0,
    Right = 1,
    Centre = 2
};

// One text line: its top-left corner at (x, y) millimetres of page `page`.
struct ReceiptText
{
    QString text;
    double x = 0;
    int y = 0;
    Align align = Align::Left;
    int page = 0;
};

struct ReceiptLayout
{
    QList<QRectF> frames; // outlines, in millimetres
    QList<ReceiptText> texts;
    QList<int> framePages; // the page of each frame; empty: all on the first
    int pageOf(qsizetype frame) const { return framePages.value(frame, 0); }
    int pageCount() const { return framePages.isEmpty() ? 1 : framePages.last() + 1; }
};

// Width of a text in millimetres, in the receipt font.
using TextWidthMm = std::function<double(const QString&)>;

// "D2Coding", 9 pt, bold: the one font of the whole receipt.
QFont ReceiptFont();
// Widths measured in `font` on `device` (a printer), converted to millimetres
// by the device's resolution.
TextWidthMm DeviceTextWidthMm(const QFont& font, const QPaintDevice* device);
// Widths of the receipt font measured at kMeasureDpi, for use without a
// printer.  Needs a QGuiApplication.
inline constexpr int kMeasureDpi = 1200;
TextWidthMm DefaultTextWidthMm();

// The X of a text of width `width` mm with the given alignment: left 5,
// right 70 - width, centred (65 - width) / 2 + 5.
double AlignedX(Align align, double width);

// The original receipt, or one printed again from the journal: then both
// copies' title lines say so.
enum class Copy
{
    Original,
    Reprint
};

// Both copies from the receipt window's eight fields.  The merchant block is
// read anew for each copy.
ReceiptLayout LayoutReceipt(const ReceiptData& fields, const TextWidthMm& width,
                            const MerchantSource& merchant = ReadMerchantInfo, Copy copy = Copy::Original);

// The title line of each copy.
QString ReceiptTitle(Copy copy);

} // namespace sorna::receipt
