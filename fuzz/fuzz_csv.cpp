// The CSV of a day's totals on arbitrary names, dates and figures.
//
// Input: the date, then items, each a name ended by a NUL byte and four
// 16-bit little-endian figures (approvals, won approved in thousands,
// cancellations, won cancelled in thousands), then the refused and unknown
// counts; texts are taken as UTF-8.  The last item is the total.  See
// csvcheck.h for what must hold.

#include "csvcheck.h"

using namespace sorna;

namespace {

constexpr int kMaxItems = 40;

dayview::ItemTotal itemFrom(fuzz::Input& in)
{
    dayview::ItemTotal t;
    t.item = QString::fromUtf8(in.until('\0'));
    t.approvals = in.int16();
    t.approved = qint64(in.int16()) * 1000;
    t.cancellations = in.int16();
    t.cancelled = qint64(in.int16()) * 1000;
    return t;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    fuzz::Input in(data, size);
    dayview::DayTotals totals;
    totals.date = QString::fromUtf8(in.until('\0'));
    totals.refused = in.int16();
    totals.unknown = in.int16();
    QList<dayview::ItemTotal> items;
    while (!in.atEnd() && items.size() < kMaxItems)
        items.append(itemFrom(in));
    if (!items.isEmpty())
        totals.all = items.takeLast();
    totals.items = items;
    fuzz::checkTotalsCsv(totals);
    return 0;
}
