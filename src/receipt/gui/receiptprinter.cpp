#include "receipt/gui/receiptprinter.h"

#include "foundation/clock.h"
#include "foundation/gui/messagebox.h"
#include "journal/gui/journalwindow.h"
#include "receipt/daytotalslayout.h"
#include "receipt/receiptlayout.h"

#include <QFile>
#include <QFileInfo>
#include <QFontMetricsF>
#include <QPainter>
#include <QPrinter>
#include <QPrinterInfo>
#include <QTemporaryFile>

#include <functional>
#include <memory>

namespace sorna::receipt {
namespace {

const QString kErrorCaption = QStringLiteral("Print Error!");
constexpr double kFramePenMm = 0.15;

struct Seams
{
    bool failNext = false;
    QString failure;
    int finished = 0;
};

Seams& seams()
{
    static Seams s;
    return s;
}

double toDevice(double mm, double dpi)
{
    return mm * dpi / 25.4;
}

// One copy: its frame and the texts that lie inside it.  A text's top-left
// corner is at its position, so it is drawn on the baseline one ascent lower.
void drawCopy(QPainter& painter, double dpi, const QRectF& frame, const QList<ReceiptText>& texts)
{
    QPen pen(Qt::black);
    pen.setWidthF(toDevice(kFramePenMm, dpi));
    painter.setPen(pen);
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(QRectF(QPointF(toDevice(frame.left(), dpi), toDevice(frame.top(), dpi)),
                            QPointF(toDevice(frame.right(), dpi), toDevice(frame.bottom(), dpi))));

    const double ascent = QFontMetricsF(painter.font(), painter.device()).ascent();
    for (const ReceiptText& t : texts) {
        if (t.y < frame.top() || t.y >= frame.bottom() || t.text.isEmpty())
            continue;
        painter.drawText(QPointF(toDevice(t.x, dpi), toDevice(t.y, dpi) + ascent), t.text);
    }
}

} // namespace

QPageLayout PdfPageLayout()
{
    return QPageLayout(QPageSize(QSizeF(120, 240), QPageSize::Millimeter, QStringLiteral("Receipt 120x240mm"),
                                 QPageSize::ExactMatch),
                       QPageLayout::Portrait, QMarginsF(22.5, 5, 22.5, 5), QPageLayout::Millimeter);
}

namespace {

// One job on the default printer (or into the PDF file): the layout is
// worked out for the printer before the job starts, then each page's frames
// with their texts are drawn.
bool PrintLayout(QWidget* parent, const QString& docName,
                 const std::function<ReceiptLayout(const TextWidthMm&)>& layoutFor)
{
    const QString pdfPath = qEnvironmentVariable(kPdfTargetVariable);
    std::unique_ptr<QPrinter> printer;
    // A PDF is built under a temporary name and only takes its own name
    // once whole, so a failed job never leaves a half file behind.
    std::unique_ptr<QTemporaryFile> part;
    QString where;

    const auto fail = [&](const QString& description) {
        printer.reset();
        part.reset();
        MessageBox::show(parent, description, MessageBox::Icon::Critical, kErrorCaption);
        return false;
    };

    if (!pdfPath.isEmpty()) {
        const QFileInfo target(pdfPath);
        where = target.absoluteFilePath();
        part =
            std::make_unique<QTemporaryFile>(target.absolutePath() + QStringLiteral("/.receipt-XXXXXX.pdf"));
        if (!part->open())
            return fail(QStringLiteral("영수증 파일을 만들 수 없습니다: %1").arg(where));
        part->close();
        printer = std::make_unique<QPrinter>(QPrinter::HighResolution);
        printer->setOutputFormat(QPrinter::PdfFormat);
        printer->setOutputFileName(part->fileName());
        printer->setPageLayout(PdfPageLayout());
    } else {
        const QPrinterInfo info = QPrinterInfo::defaultPrinter();
        if (info.isNull())
            return fail(QStringLiteral("설치된 프린터가 없습니다. 프린터를 설치한 뒤 다시 출력해 주세요."));
        where = info.printerName();
        printer = std::make_unique<QPrinter>(info, QPrinter::HighResolution);
    }
    printer->setDocName(docName);
    printer->setCopyCount(1);

    // Everything that can be worked out without the printer is done before
    // the job starts: once begun, not every printer system can drop a job.
    const QFont font = ReceiptFont();
    const double dpi = printer->resolution();
    const ReceiptLayout layout = layoutFor(DeviceTextWidthMm(font, printer.get()));

    QPainter painter;
    if (!painter.begin(printer.get()))
        return fail(QStringLiteral("프린터에서 인쇄를 시작할 수 없습니다: %1").arg(where));

    const auto abandon = [&](const QString& description) {
        printer->abort();
        painter.end();
        return fail(description);
    };

    painter.setFont(font);
    for (qsizetype i = 0; i < layout.frames.size(); ++i) {
        const int page = layout.pageOf(i);
        if (i > 0 && page != layout.pageOf(i - 1) && !printer->newPage())
            return abandon(QStringLiteral("프린터 오류로 인쇄하지 못했습니다: %1").arg(where));
        QList<ReceiptText> texts;
        for (const ReceiptText& t : layout.texts)
            if (t.page == page)
                texts.append(t);
        drawCopy(painter, dpi, layout.frames[i], texts);
        if (printer->printerState() == QPrinter::Error)
            return abandon(QStringLiteral("프린터 오류로 영수증을 인쇄하지 못했습니다: %1").arg(where));
        if (seams().failNext) {
            seams().failNext = false;
            return abandon(seams().failure);
        }
    }
    if (!painter.end() || printer->printerState() == QPrinter::Error)
        return fail(QStringLiteral("프린터 오류로 영수증을 인쇄하지 못했습니다: %1").arg(where));

    if (part) {
        printer.reset();
        QFile::remove(pdfPath);
        // Renamed through the temporary file itself, which lets go of its
        // own handle first: Windows renames no file that is still open.
        if (!part->rename(pdfPath))
            return fail(QStringLiteral("영수증 파일을 저장할 수 없습니다: %1").arg(where));
        part->setAutoRemove(false);
        // The temporary file was private to us; the receipt is an ordinary file.
        QFile::setPermissions(pdfPath, QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                           QFileDevice::ReadGroup | QFileDevice::ReadOther);
    }
    ++seams().finished;
    return true;
}

} // namespace

bool PrintReceipt(QWidget* parent, const ReceiptData& fields, Copy copy)
{
    return PrintLayout(parent, QStringLiteral("카드영수증"), [&](const TextWidthMm& width) {
        return LayoutReceipt(fields, width, ReadMerchantInfo, copy);
    });
}

bool PrintDayTotals(QWidget* parent, const dayview::DayTotals& totals)
{
    const QDateTime now = Clock::now();
    return PrintLayout(parent, QStringLiteral("일계표"),
                       [&](const TextWidthMm& width) { return LayoutDayTotals(totals, width, now); });
}

JournalPrinter JournalPrinting()
{
    return {[](QWidget* parent, const ReceiptData& fields) {
                return PrintReceipt(parent, fields, Copy::Reprint);
            },
            [](QWidget* parent, const dayview::DayTotals& totals) { return PrintDayTotals(parent, totals); }};
}

void FailNextPrintJob(const QString& description)
{
    seams().failNext = true;
    seams().failure = description;
}

int FinishedPrintJobs()
{
    return seams().finished;
}

} // namespace sorna::receipt
