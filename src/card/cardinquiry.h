#pragma once

#include "hostlink/record.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <array>

namespace sorna {

// How the card number was captured: by the reader, or typed by hand.
inline const QString kEntryReader = QStringLiteral("0");
inline const QString kEntryManual = QStringLiteral("2");
// Institution code of a card number typed by hand.
inline const QString kManualIssueCode = QStringLiteral("TAVK");

// The card information inquiry "0200".
QString BuildCardInquiry(const QString& cardNumber, const QString& issueCode, const QString& entryMode,
                         const QString& number);

// One therapy item group of the answer (58 bytes), exactly as cut.
struct TherapyItem
{
    QString code, aux, amount, name, teacherCode, teacher;
};
constexpr int kTherapyItemCount = 9;

struct CardInquiryAnswer
{
    TransactionRecord record;
    QString itemHead;
    std::array<TherapyItem, kTherapyItemCount> items;

    bool accepted() const { return record[tx::resp_code] == QStringLiteral("00"); }
};
CardInquiryAnswer CutCardInquiryAnswer(const QByteArray& answer);

// The result lines of an inquiry, in the order they go into the result list.
QStringList CardInquiryResultLines(const CardInquiryAnswer& answer);

} // namespace sorna
