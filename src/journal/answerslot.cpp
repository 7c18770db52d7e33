#include "journal/answerslot.h"

#include <QCryptographicHash>
#include <QFile>
#include <QFileDevice>
#include <QList>

#ifdef Q_OS_WIN
#include <io.h>
#else
#include <unistd.h>
#endif

namespace sorna::answerslot {
namespace {

// Ample for one deciphered answer in base64 and its check.
constexpr qint64 kSlotBytes = 8192;
const QByteArray kTag("SORNA-SHOWN-1");

QString slotPath(const QString& folder)
{
    return folder + QStringLiteral("/answer-shown.dat");
}

QByteArray checkOf(const QByteArray& id, const QByteArray& body)
{
    return QCryptographicHash::hash(id + '\n' + body, QCryptographicHash::Sha256).toHex().left(16);
}

bool syncToDisk(QFile& f)
{
    if (!f.flush())
        return false;
#ifdef Q_OS_WIN
    return _commit(f.handle()) == 0;
#else
    return ::fsync(f.handle()) == 0;
#endif
}

// The whole slot rewritten in place: `content` padded with blanks.
bool writeSlot(const QString& folder, const QByteArray& content, QString* error)
{
    QFile f(slotPath(folder));
    const auto failed = [&f, error](const QString& doing) {
        if (error)
            *error = QStringLiteral("%1 cannot be %2 (%3)").arg(f.fileName(), doing, f.errorString());
        return false;
    };
    if (content.size() > kSlotBytes)
        return failed(QStringLiteral("written: the answer is too long"));
    if (!f.exists() || f.size() != kSlotBytes)
        return failed(QStringLiteral("written: it is missing or of the wrong size"));
    if (!f.open(QIODevice::ReadWrite))
        return failed(QStringLiteral("opened"));
    QByteArray whole = content;
    whole.append(QByteArray(kSlotBytes - content.size(), ' '));
    if (f.write(whole) != whole.size() || !syncToDisk(f))
        return failed(QStringLiteral("written"));
    return true;
}

} // namespace

bool prepare(const QString& folder, QString* error)
{
    QFile f(slotPath(folder));
    if (f.exists() && f.size() == kSlotBytes)
        return true;
    if (f.exists() && read(folder)) {
        // Never thrown away while it holds an answer.
        if (error)
            *error = QStringLiteral("%1 holds an answer and has the wrong size").arg(f.fileName());
        return false;
    }
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
        if (error)
            *error = QStringLiteral("%1 cannot be made (%2)").arg(f.fileName(), f.errorString());
        return false;
    }
    f.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
    const QByteArray blank(kSlotBytes, ' ');
    if (f.write(blank) != blank.size() || !syncToDisk(f)) {
        if (error)
            *error = QStringLiteral("%1 cannot be written (%2)").arg(f.fileName(), f.errorString());
        f.close();
        f.remove();
        return false;
    }
    return true;
}

bool keep(const QString& folder, qint64 rowId, const QByteArray& answer, QString* error)
{
    const QByteArray id = QByteArray::number(rowId);
    const QByteArray body = answer.toBase64();
    return writeSlot(folder, kTag + '\n' + id + '\n' + body + '\n' + checkOf(id, body) + '\n', error);
}

std::optional<Kept> read(const QString& folder)
{
    QFile f(slotPath(folder));
    if (!f.open(QIODevice::ReadOnly))
        return std::nullopt;
    const QList<QByteArray> lines = f.read(kSlotBytes).split('\n');
    // A write cut short by a crash fails its check: such an answer was
    // never shown.
    if (lines.size() < 4 || lines[0] != kTag || checkOf(lines[1], lines[2]) != lines[3])
        return std::nullopt;
    bool ok = false;
    const qint64 rowId = lines[1].toLongLong(&ok);
    if (!ok || rowId <= 0)
        return std::nullopt;
    return Kept{rowId, QByteArray::fromBase64(lines[2])};
}

bool clear(const QString& folder, qint64 rowId)
{
    const std::optional<Kept> kept = read(folder);
    if (!kept || (rowId != 0 && kept->rowId != rowId))
        return true;
    return writeSlot(folder, {}, nullptr);
}

} // namespace sorna::answerslot
