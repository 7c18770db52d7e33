#pragma once

#include "journal/dayview.h"
#include "payment/transactionmessages.h"
#include "receipt/receiptlayout.h"

#include <QPageLayout>
#include <QString>

class QWidget;

namespace sorna {
struct JournalPrinter;
}

namespace sorna::receipt {

// When this environment variable names a file, receipts are printed into
// that PDF file instead of on the default printer (demo, tests, a counter
// without a printer).
inline constexpr char kPdfTargetVariable[] = "SORNA_RECEIPT_PDF";

// The page of a receipt printed to PDF: 120 x 240 mm, the printable area
// starting 22.5 mm from the left and 5 mm from the top, so the 75 mm frames
// sit in the middle and the rule lines, wider than the frames, stay on the
// page.
QPageLayout PdfPageLayout();

// Prints the customer copy and the merchant copy on one page as one job on
// the default printer (or into the PDF file named by SORNA_RECEIPT_PDF).
// Any failure is told in a "Print Error!" box and the job is abandoned, so
// nothing of a half-built page comes out; the function then returns normally.
// Returns true when the whole job was handed to the printer.
// A reprint says so on both copies' title lines.
bool PrintReceipt(QWidget* parent, const ReceiptData& fields, Copy copy = Copy::Original);

// The day's totals through the same path, on the receipt's page and font.
bool PrintDayTotals(QWidget* parent, const dayview::DayTotals& totals);

// This printer as the journal window prints through it: a row's receipt
// again, marked as a reprint, and the day's totals.
JournalPrinter JournalPrinting();

// Test seams.  The next job fails once half built, as a printer that
// reports an error in the middle of the page, with this description.
void FailNextPrintJob(const QString& description);
// Jobs handed to the printer whole since the program started.
int FinishedPrintJobs();

} // namespace sorna::receipt
