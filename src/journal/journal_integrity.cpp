#include "journal/journal.h"
#include "journal/journal_p.h"

#include "foundation/paths.h"
#include "journal/keyprotect.h"

#include <QCryptographicHash>
#include <QFile>
#include <QMessageAuthenticationCode>
#include <QRandomGenerator>

#include <filesystem>
#include <string>

namespace sorna {
using namespace journal_detail;
namespace {

constexpr int kKeyBytes = 32;

// Every column a row decides by, in the order its seal covers them.
const QString kSealed = QStringLiteral(
    "id, kind, date, time, trace_no, merchant, issue_code, card_masked, card_full, card_hash, entry_mode, "
    "item_code, item_name, teacher_code, teacher_name, amount, reason_text, org_auth_date, org_approval_no, "
    "state, resp_code, approval_no, trans_date, trans_time, remain_amount, answer_amount, reversal, "
    "reversal_attempts, reversal_written, reversal_resp_code, reversal_settled_at, reversal_reported, "
    "seal_broken");

// The seal of a row: the keyed hash of every column in kSealed, read from
// `q` starting at `first`, as stored (a null told apart from an empty text).
QString sealOf(const QByteArray& key, const QSqlQuery& q, int first = 0)
{
    QByteArray text("seal3");
    const int count = int(kSealed.count(u',')) + 1;
    for (int i = 0; i < count; ++i) {
        const QVariant v = q.value(first + i);
        text += '\x1f';
        text += v.isNull() ? QByteArray("\x01") : v.toString().toUtf8();
    }
    return QString::fromLatin1(
        QMessageAuthenticationCode::hash(text, key, QCryptographicHash::Sha256).toHex());
}

} // namespace

namespace journal_detail {

// The seal of a row as layout 2 made it, over the request's fields alone:
// checked once, when such a journal is brought up to date.
QByteArray macOf(const QByteArray& key, const ReversalFields& f)
{
    const QStringList parts{QString::number(f.id),
                            QString::number(f.kind),
                            f.date,
                            f.time,
                            f.traceNo,
                            f.merchant,
                            f.issueCode,
                            f.card,
                            f.entryMode,
                            f.itemCode,
                            f.teacherCode,
                            f.teacherName,
                            f.amount,
                            f.reasonText};
    return QMessageAuthenticationCode::hash(parts.join(QChar(0x1f)).toUtf8(), key, QCryptographicHash::Sha256)
        .toHex();
}

// The card number under the journal's key: the same card is recognised
// without the number being kept.
QString cardHashOf(const QByteArray& key, const QString& cardNumber)
{
    if (cardNumber.isEmpty())
        return {};
    return QString::fromLatin1(
        QMessageAuthenticationCode::hash(QByteArrayLiteral("card\x1f") + cardNumber.toUtf8(), key,
                                         QCryptographicHash::Sha256)
            .toHex());
}

} // namespace journal_detail

// The key of the journal's seals and card cipher.  Never made anew while
// the journal holds rows: they could no longer be checked, and a reversal
// they owe would never be sent.
bool Journal::Private::loadKey(const QString& folder, bool mayMake)
{
    const QString keyPath = folder + QStringLiteral("/journal.key");
    QFile f(keyPath);
    if (f.exists()) {
        if (!f.open(QIODevice::ReadOnly)) {
            error = QStringLiteral("Journal: the key %1 cannot be read (%2)").arg(keyPath, f.errorString());
            return false;
        }
        const QByteArray stored = f.readAll();
        f.close();
        std::string plain;
        // A key kept before it was protected is taken as it is and
        // protected now.
        if (stored.size() == kKeyBytes)
            plain = stored.toStdString();
        else if (!keyprotect::unprotect(stored.toStdString(), &plain))
            plain.clear();
        key = QByteArray::fromStdString(plain);
        if (key.size() != kKeyBytes) {
            // Never replaced: a new key would reject every reversal still owed.
            error = QStringLiteral("Journal: the key %1 is damaged or belongs to another user account "
                                   "(%2 bytes)")
                        .arg(keyPath)
                        .arg(stored.size());
            problem =
                QStringLiteral("거래내역의 키 파일(Journal\\journal.key)을 읽을 수 없습니다.\n"
                               "손상되었거나 다른 사용자 계정의 키입니다. 기록된 거래를 확인할 수 "
                               "없어 새 키를 만들지 않았습니다.\n백업해 둔 Journal 폴더 전체를 "
                               "되살린 뒤 다시 시작해 주세요. 그때까지 승인과 취소를 보낼 수 없습니다.");
            key.clear();
            return false;
        }
        if (keyprotect::protectsKey() && stored.size() == kKeyBytes) {
            std::string sealed;
            if (keyprotect::protect(plain, &sealed)) {
                QFile again(keyPath + QStringLiteral(".new"));
                if (again.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
                    again.write(QByteArray::fromStdString(sealed)) == qint64(sealed.size()) &&
                    again.flush()) {
                    again.close();
                    std::error_code ec;
                    std::filesystem::rename(paths::native(again.fileName()), paths::native(keyPath), ec);
                }
            }
        }
        return true;
    }
    if (!mayMake) {
        error = QStringLiteral("Journal: the key %1 is missing while the journal holds rows").arg(keyPath);
        problem = QStringLiteral("거래내역의 키 파일(Journal\\journal.key)이 없습니다.\n"
                                 "키가 없으면 기록된 거래(보내야 할 자동취소 포함)를 확인할 수 없어 새 "
                                 "키를 만들지 않았습니다.\n백업해 둔 journal.key를 Journal 폴더에 "
                                 "되살린 뒤 다시 시작해 주세요. 그때까지 승인과 취소를 보낼 수 없습니다.");
        return false;
    }
    QByteArray fresh(kKeyBytes, '\0');
    QRandomGenerator::system()->generate(fresh.begin(), fresh.end());
    std::string stored;
    if (!keyprotect::protect(fresh.toStdString(), &stored)) {
        error = QStringLiteral("Journal: the key %1 cannot be protected for this user account").arg(keyPath);
        return false;
    }
    if (!f.open(QIODevice::WriteOnly | QIODevice::NewOnly)) {
        error = QStringLiteral("Journal: the key %1 cannot be made (%2)").arg(keyPath, f.errorString());
        return false;
    }
    ownerOnly(keyPath, false);
    const QByteArray bytes = QByteArray::fromStdString(stored);
    bool written = f.write(bytes) == bytes.size() && f.flush();
#if !defined(_WIN32)
    // On the disk before any row it seals is.
    written = written && ::fsync(f.handle()) == 0;
#endif
    if (!written) {
        error = QStringLiteral("Journal: the key %1 cannot be written (%2)").arg(keyPath, f.errorString());
        f.close();
        f.remove();
        return false;
    }
    f.close();
    key = fresh;
    return true;
}

bool Journal::Private::reseal(qint64 id)
{
    QSqlQuery& read = statement(QStringLiteral("SELECT %1 FROM journal WHERE id = ?").arg(kSealed));
    read.addBindValue(id);
    if (!exec(read, QStringLiteral("sealing a row")))
        return false;
    if (!read.next()) {
        read.finish();
        error = QStringLiteral("Journal: there is no row %1 to seal").arg(id);
        return false;
    }
    const QString seal = sealOf(key, read);
    read.finish();
    QSqlQuery& set = statement(QStringLiteral("UPDATE journal SET mac = ? WHERE id = ?"));
    set.addBindValue(seal);
    set.addBindValue(id);
    const bool ok = exec(set, QStringLiteral("sealing a row"));
    set.finish();
    return ok;
}

bool Journal::Private::sealHolds(qint64 id)
{
    QSqlQuery& read = statement(QStringLiteral("SELECT %1, mac FROM journal WHERE id = ?").arg(kSealed));
    read.addBindValue(id);
    if (!exec(read, QStringLiteral("checking a row")) || !read.next()) {
        read.finish();
        return false;
    }
    const int count = int(kSealed.count(u',')) + 1;
    const bool holds = sealOf(key, read) == read.value(count).toString();
    read.finish();
    return holds;
}

bool Journal::Private::checkSeals()
{
    QSqlQuery q(db());
    q.setForwardOnly(true);
    if (!q.exec(QStringLiteral("SELECT %1, mac FROM journal WHERE seal_broken = 0").arg(kSealed)))
        return fail(q.lastError(), QStringLiteral("checking its rows"));
    const int count = int(kSealed.count(u',')) + 1;
    QList<std::pair<qint64, bool>> broken; // id, an approval whose reversal may be owed
    while (q.next())
        if (sealOf(key, q) != q.value(count).toString()) {
            // Whatever an altered approval says now, its reversal may be owed
            // (one owed may have been made to look delivered or answered).
            broken.append({q.value(0).toLongLong(), q.value(1).toInt() == int(JournalKind::Approval) &&
                                                        q.value(26).toInt() != int(ReversalState::Rejected)});
        }
    q.finish();
    if (broken.isEmpty())
        return true;
    QStringList told;
    const bool ok = write(QStringLiteral("marking altered rows"), [&] {
        for (const auto& [id, mayBeOwed] : broken) {
            QSqlQuery set(db());
            set.prepare(mayBeOwed ? QStringLiteral("UPDATE journal SET seal_broken = 1, reversal = ?, "
                                                   "reversal_reported = 0, card_full = NULL WHERE id = ?")
                                  : QStringLiteral("UPDATE journal SET seal_broken = 1 WHERE id = ?"));
            if (mayBeOwed)
                set.addBindValue(int(ReversalState::Rejected));
            set.addBindValue(id);
            if (!exec(set, QStringLiteral("marking altered rows")) || !reseal(id))
                return false;
            told.append(QString::number(id));
        }
        return true;
    });
    if (!ok)
        return false;
    for (const auto& [id, mayBeOwed] : broken)
        if (mayBeOwed)
            ++rejected;
    logReversal(
        QStringLiteral("rows %1 were altered outside the program: never acted on").arg(told.join(u", ")));
    notices.append(QStringLiteral("거래내역의 기록 %1건이 프로그램 밖에서 바뀌었거나 손상되었습니다 "
                                  "(번호 %2).\n이 기록으로는 아무것도 보내지 않습니다. 자동취소를 보내야 "
                                  "했을 수 있는 승인은 따로 알려 드립니다.\n승인 서버(고객센터)의 거래내역과 "
                                  "대조해 주세요.")
                       .arg(told.size())
                       .arg(told.join(u", ")));
    return true;
}

} // namespace sorna
