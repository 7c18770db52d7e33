#pragma once

#include "foundation/textbytes.h"

#include <QByteArray>
#include <QHash>
#include <QString>

#include <array>
#include <span>

namespace sorna {

// One fixed-width field of a record: its name, its width in CP949 bytes and
// its fill.  A record layout is a table of these; the same table builds a
// request and cuts an answer.
struct FieldSpec
{
    const char* name;
    int width;
    Fill fill;
};

// Joins the values, each through PadField with its width and fill.
QString BuildRecord(std::span<const FieldSpec> layout, std::span<const QString> values);
// Byte offset of field `index` within its record.
int FieldOffset(std::span<const FieldSpec> layout, int index);

// The transaction record shared by card inquiries, approvals, cancellations
// and balance inquiries: 29 fields, 450 bytes.  Fields 1 to 7 are the common
// header of every message.
namespace tx {
enum Field : int
{
    msg_type,
    issue_code,
    send_date,
    send_time,
    trace_no,
    resp_code,
    merchant_id,
    trans_date,
    trans_time,
    trans_code,
    entry_mode,
    card_data,
    reserved_16,
    amount,
    approval_no,
    org_auth_date,
    org_approval_no,
    support_amount,
    used_amount,
    remain_amount,
    cancel_kind,
    reserved_9,
    care_code,
    teacher_code,
    teacher_name,
    student_name,
    school_name,
    reason_text,
    balance_area,
    FieldCount
};
} // namespace tx

extern const std::array<FieldSpec, tx::FieldCount> kTransactionLayout;
constexpr int kHeaderFieldCount = 7;
constexpr int kHeaderBytes = 51;
constexpr int kTransactionRecordBytes = 450;
// An answer begins with the 4-byte length field; its record fields lie at
// their record offset + 5 (1-based).
constexpr int kAnswerRecordStart = 5;

struct TransactionRecord
{
    std::array<QString, tx::FieldCount> values;

    QString& operator[](tx::Field f) { return values[size_t(f)]; }
    const QString& operator[](tx::Field f) const { return values[size_t(f)]; }

    QString build() const;
    // Cuts every field at its answer position from a deciphered answer.
    static TransactionRecord cut(const QByteArray& answer);
};

// 1-based answer position of a record field.
int AnswerPosition(tx::Field f);

// The header values every request shares.  `traceNumber` is the setting
// Number; trace_no is the time "HHMMSS" followed by its last six bytes.
// Date and time are read from the clock separately for each field.
void FillHeader(TransactionRecord& r, const QString& msgType, const QString& issueCode,
                const QString& respCode, const QString& merchantId, const QString& number);
QString TraceNumber(const QString& number);

// The store of message fields: the values of the last request built, of
// whatever type, kept until the next request replaces them.  The pay button
// reads the kept trace_no.  Values are kept as set, before their fill.
namespace MessageStore {
void keep(std::span<const FieldSpec> layout, std::span<const QString> values);
QString value(const QString& name);
void clear();
} // namespace MessageStore

} // namespace sorna
