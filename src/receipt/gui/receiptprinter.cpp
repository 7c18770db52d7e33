#include "receipt/gui/receiptprinter.h"

#include "foundation/gui/messagebox.h"
#include "receipt/receiptlayout.h"

#include <QFile>
#include <QFileInfo>
#include <QFontMetricsF>
#include <QPainter>
#include <QPrinter>
#include <QPrinterInfo>
#include <QTemporaryFile>

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

bool PrintReceipt(QWidget* parent, const ReceiptData& fields)
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
    printer->setDocName(QStringLiteral("카드영수증"));
    printer->setCopyCount(1);

    // Everything that can be worked out without the printer is done before
    // the job starts: once begun, not every printer system can drop a job.
    const QFont font = ReceiptFont();
    const double dpi = printer->resolution();
    const ReceiptLayout layout = LayoutReceipt(fields, DeviceTextWidthMm(font, printer.get()));

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
        drawCopy(painter, dpi, layout.frames[i], layout.texts);
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
