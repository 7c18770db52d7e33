#pragma once

#include "journal/dayview.h"
#include "receipt/receiptlayout.h"

#include <QDateTime>

namespace sorna::receipt {

// The day's totals on the receipt printer: the receipt's page, font and
// 75 mm frame, one block per therapy item (approvals, cancellations, net)
// and the sum, going on to a further page when the items do not fit.
ReceiptLayout LayoutDayTotals(const dayview::DayTotals& totals, const TextWidthMm& width,
                              const QDateTime& printedAt, const MerchantSource& merchant = ReadMerchantInfo);

} // namespace sorna::receipt
