#pragma once

#include <QByteArray>
#include <QString>

#include <optional>

namespace sorna::answerslot {

// An answer the merchant is shown while the journal cannot take it (a full
// disk, say) is kept here before the result and the receipt question come
// up: Journal/answer-shown.dat, a file of a fixed size made when the journal
// opens and only ever overwritten in place, so that keeping an answer needs
// no new room on the disk.  The journal takes it in at its next open, before
// it settles rows left waiting: a payment shown as accepted is then never
// reversed automatically.
//
// One answer at a time is enough: no request leaves while an earlier
// outcome is still unwritten.

struct Kept
{
    qint64 rowId = 0;
    QByteArray answer; // the deciphered answer, as it came
};

// The file made at its full size when it is missing or of another size.
bool prepare(const QString& folder, QString* error = nullptr);
// Written in place and flushed to the disk; false when it could not be.
bool keep(const QString& folder, qint64 rowId, const QByteArray& answer, QString* error = nullptr);
// The answer kept, when the file holds a whole one.
std::optional<Kept> read(const QString& folder);
// Emptied (in place) when it holds the answer of `rowId`; any row when 0.
bool clear(const QString& folder, qint64 rowId = 0);

} // namespace sorna::answerslot
