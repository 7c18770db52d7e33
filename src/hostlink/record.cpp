#include "hostlink/record.h"

#include "foundation/clock.h"

#include <mutex>
#include <vector>

namespace sorna {

const std::array<FieldSpec, tx::FieldCount> kTransactionLayout = {{
    {"msg_type", 4, Fill::Zero},          {"issue_code", 4, Fill::Zero},
    {"send_date", 8, Fill::Zero},         {"send_time", 6, Fill::Zero},
    {"trace_no", 12, Fill::Zero},         {"resp_code", 2, Fill::Zero},
    {"merchant_id", 15, Fill::Blank},     {"trans_date", 8, Fill::Zero},
    {"trans_time", 6, Fill::Zero},        {"trans_code", 2, Fill::Zero},
    {"entry_mode", 1, Fill::Blank},       {"card_data", 37, Fill::Blank},
    {"reserved_16", 16, Fill::Blank},     {"amount", 10, Fill::Zero},
    {"approval_no", 12, Fill::Blank},     {"org_auth_date", 8, Fill::Blank},
    {"org_approval_no", 12, Fill::Blank}, {"support_amount", 9, Fill::Blank},
    {"used_amount", 9, Fill::Blank},      {"remain_amount", 9, Fill::Blank},
    {"cancel_kind", 1, Fill::Blank},      {"reserved_9", 9, Fill::Blank},
    {"care_code", 3, Fill::Blank},        {"teacher_code", 10, Fill::Blank},
    {"teacher_name", 10, Fill::Blank},    {"student_name", 10, Fill::Blank},
    {"school_name", 40, Fill::Blank},     {"reason_text", 32, Fill::Blank},
    {"balance_area", 145, Fill::Blank},
}};

QString BuildRecord(std::span<const FieldSpec> layout, std::span<const QString> values)
{
    QString out;
    out.reserve(512);
    for (size_t i = 0; i < layout.size(); ++i)
        AppendPadded(out, i < values.size() ? values[i] : QString(), layout[i].fill, layout[i].width);
    return out;
}

int FieldOffset(std::span<const FieldSpec> layout, int index)
{
    int offset = 0;
    for (int i = 0; i < index; ++i)
        offset += layout[size_t(i)].width;
    return offset;
}

int AnswerPosition(tx::Field f)
{
    return FieldOffset(kTransactionLayout, f) + kAnswerRecordStart;
}

QString TransactionRecord::build() const
{
    return BuildRecord(kTransactionLayout, values);
}

TransactionRecord TransactionRecord::cut(const QByteArray& answer)
{
    TransactionRecord r;
    int pos = kAnswerRecordStart;
    for (size_t i = 0; i < kTransactionLayout.size(); ++i) {
        r.values[i] = MidBytes(answer, pos, kTransactionLayout[i].width);
        pos += kTransactionLayout[i].width;
    }
    return r;
}

QString TraceNumber(const QString& number)
{
    return Clock::timeText() + RightBytes(number, 6);
}

void FillHeader(TransactionRecord& r, const QString& msgType, const QString& issueCode,
                const QString& respCode, const QString& merchantId, const QString& number)
{
    r[tx::msg_type] = msgType;
    r[tx::issue_code] = issueCode;
    r[tx::send_date] = Clock::dateText();
    r[tx::send_time] = Clock::timeText();
    r[tx::trace_no] = TraceNumber(number);
    r[tx::resp_code] = respCode;
    r[tx::merchant_id] = merchantId;
}

namespace MessageStore {
namespace {
struct Kept
{
    const char* name;
    QString value;
};
std::mutex mutex;
std::vector<Kept>& fields()
{
    static std::vector<Kept> f;
    return f;
}
} // namespace

void keep(std::span<const FieldSpec> layout, std::span<const QString> values)
{
    std::lock_guard lock(mutex);
    fields().clear();
    for (size_t i = 0; i < layout.size() && i < values.size(); ++i)
        fields().push_back({layout[i].name, values[i]});
}

QString value(const QString& name)
{
    std::lock_guard lock(mutex);
    // The last field of a name wins, should a layout name one twice.
    for (auto it = fields().rbegin(); it != fields().rend(); ++it)
        if (name == QLatin1StringView(it->name))
            return it->value;
    return {};
}

void clear()
{
    std::lock_guard lock(mutex);
    fields().clear();
}

} // namespace MessageStore
} // namespace sorna
