#include "transaction/reversalqueue.h"

#include "foundation/amount.h"
#include "foundation/clock.h"
#include "foundation/cp949.h"
#include "foundation/messagelog.h"
#include "foundation/paths.h"
#include "foundation/settings.h"
#include "hostlink/envelope.h"
#include "hostlink/winsock.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>
#include <QTimer>
#include <QUuid>

namespace sorna {
namespace ReversalQueue {
namespace {

const QString kTagReversal = QStringLiteral("[ Rvsl ");

QJsonObject toJson(const PendingReversal& r)
{
    const TransactionInput& in = r.input;
    return QJsonObject{
        {QStringLiteral("id"), r.id},
        {QStringLiteral("decided"), r.decided.toString(Qt::ISODate)},
        {QStringLiteral("issueCode"), r.issueCode},
        {QStringLiteral("number"), r.number},
        {QStringLiteral("attempts"), r.attempts},
        {QStringLiteral("mode"), int(in.mode)},
        {QStringLiteral("entryMode"), in.entryMode},
        {QStringLiteral("cardNumber"), in.cardNumber},
        {QStringLiteral("amount"), in.amountShown},
        {QStringLiteral("orgAuthDate"), in.orgAuthDate},
        {QStringLiteral("orgApprovalNo"), in.orgApprovalNo},
        {QStringLiteral("careCode"), in.careCode},
        {QStringLiteral("teacherCode"), in.teacherCode},
        {QStringLiteral("teacherName"), in.teacherName},
        {QStringLiteral("reasonText"), in.reasonText},
    };
}

PendingReversal fromJson(const QJsonObject& o)
{
    PendingReversal r;
    r.id = o.value(QStringLiteral("id")).toString();
    r.decided = QDateTime::fromString(o.value(QStringLiteral("decided")).toString(), Qt::ISODate);
    r.issueCode = o.value(QStringLiteral("issueCode")).toString();
    r.number = o.value(QStringLiteral("number")).toString();
    r.attempts = o.value(QStringLiteral("attempts")).toInt();
    TransactionInput& in = r.input;
    in.mode = TransactionMode(o.value(QStringLiteral("mode")).toInt());
    in.automaticCancellation = true;
    in.entryMode = o.value(QStringLiteral("entryMode")).toString();
    in.cardNumber = o.value(QStringLiteral("cardNumber")).toString();
    in.amountShown = o.value(QStringLiteral("amount")).toString();
    in.orgAuthDate = o.value(QStringLiteral("orgAuthDate")).toString();
    in.orgApprovalNo = o.value(QStringLiteral("orgApprovalNo")).toString();
    in.careCode = o.value(QStringLiteral("careCode")).toString();
    in.teacherCode = o.value(QStringLiteral("teacherCode")).toString();
    in.teacherName = o.value(QStringLiteral("teacherName")).toString();
    in.reasonText = o.value(QStringLiteral("reasonText")).toString();
    return r;
}

void logQueue(const QString& what)
{
    LogMessage(kTagReversal, cp949::encode(what));
}

// What the queue last held, for a disk that would not take it.
struct Mirror
{
    QString path;
    QList<PendingReversal> list;
    bool unsaved = false;
};

Mirror& mirror()
{
    static Mirror m;
    return m;
}

bool writeFile(const QString& path, const QList<PendingReversal>& all, QString* error)
{
    if (!QDir().mkpath(QFileInfo(path).absolutePath())) {
        *error = QStringLiteral("its folder cannot be made");
        return false;
    }
    QJsonArray list;
    for (const PendingReversal& r : all)
        list.append(toJson(r));
    QSaveFile f(path);
    if (!f.open(QIODevice::WriteOnly)) {
        *error = f.errorString();
        return false;
    }
    f.write(QJsonDocument(list).toJson());
    if (!f.commit()) {
        *error = f.errorString();
        return false;
    }
    return true;
}

// A file that is no list of reversals is moved aside, never overwritten:
// what it held may still be needed by a person.
void putAside(const QString& path)
{
    const QString stamp = Clock::now().toString(QStringLiteral("yyyyMMddHHmmss"));
    const QString base = path + QStringLiteral(".unreadable-") + stamp;
    QString target = base;
    for (int n = 2; QFileInfo::exists(target); ++n)
        target = base + u'-' + QString::number(n);
    if (QFile::rename(path, target))
        logQueue(QStringLiteral("the list of waiting reversals could not be read; it is kept as ") + target);
    else
        logQueue(QStringLiteral("the list of waiting reversals could not be read nor moved aside: ") + path);
}

QList<PendingReversal> readFile(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    const QByteArray bytes = f.readAll();
    f.close();
    if (bytes.trimmed().isEmpty())
        return {};
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(bytes, &error);
    if (error.error != QJsonParseError::NoError || !doc.isArray()) {
        putAside(path);
        return {};
    }
    QList<PendingReversal> out;
    const QJsonArray list = doc.array();
    for (const QJsonValue& v : list) {
        PendingReversal r = fromJson(v.toObject());
        if (!r.id.isEmpty())
            out.append(r);
    }
    return out;
}

bool save(const QList<PendingReversal>& all)
{
    const QString path = paths::pendingReversalFile();
    QString error;
    const bool written = writeFile(path, all, &error);
    Mirror& m = mirror();
    if (!written && !(m.unsaved && m.path == path))
        logQueue(QStringLiteral("the waiting reversals cannot be written to ") + path + QStringLiteral(" (") +
                 error + QStringLiteral("); they are kept in memory while the program runs"));
    m.path = path;
    m.list = all;
    m.unsaved = !written;
    return written;
}

} // namespace

QList<PendingReversal> load()
{
    const QString path = paths::pendingReversalFile();
    Mirror& m = mirror();
    if (m.unsaved && m.path == path) {
        // The disk would not take the list before: try again now.
        QString error;
        if (writeFile(path, m.list, &error)) {
            m.unsaved = false;
            logQueue(QStringLiteral("the waiting reversals are written to ") + path +
                     QStringLiteral(" again"));
        }
        return m.list;
    }
    return readFile(path);
}

std::optional<PendingReversal> find(const QString& id)
{
    for (const PendingReversal& r : load())
        if (r.id == id)
            return r;
    return std::nullopt;
}

QString add(const TransactionInput& approval, const QString& issueCode, const QString& number)
{
    PendingReversal r;
    r.id = QUuid::createUuid().toString(QUuid::WithoutBraces);
    r.decided = Clock::now();
    r.input = approval;
    r.input.automaticCancellation = true;
    r.issueCode = issueCode;
    r.number = number;
    QList<PendingReversal> all = load();
    all.append(r);
    save(all);
    logAttempt(r, QStringLiteral("kept until the host has it"));
    return r.id;
}

void remove(const QString& id)
{
    QList<PendingReversal> all = load();
    if (all.removeIf([&id](const PendingReversal& r) { return r.id == id; }) > 0)
        save(all);
}

void countAttempt(const QString& id)
{
    QList<PendingReversal> all = load();
    for (PendingReversal& r : all)
        if (r.id == id)
            ++r.attempts;
    save(all);
}

QString buildRequest(const PendingReversal& r)
{
    return BuildTransactionRequest(r.input, r.issueCode, r.number);
}

void logAttempt(const PendingReversal& r, const QString& what)
{
    logQueue(QStringLiteral("reversal ") + r.id.left(8) + QStringLiteral(" of card ") + r.input.cardNumber +
             QStringLiteral(", amount ") + AmountDigits(r.input.amountShown) + QStringLiteral(", item ") +
             r.input.careCode + QStringLiteral(": ") + what);
}

} // namespace ReversalQueue

namespace queue {

ReversalSender* ReversalSender::instance()
{
    static ReversalSender* sender = new ReversalSender(QCoreApplication::instance());
    return sender;
}

ReversalSender::ReversalSender(QObject* parent)
    : QObject(parent), m_timer(new QTimer(this)), m_socket(new Winsock(this))
{
    m_timer->setInterval(30000);
    connect(m_timer, &QTimer::timeout, this, &ReversalSender::tryNext);
    connect(m_socket, &Winsock::Connected, this, &ReversalSender::onConnected);
    connect(m_socket, &Winsock::SendComplete, this, &ReversalSender::onSent);
    connect(m_socket, &Winsock::Error, this, &ReversalSender::onError);
}

void ReversalSender::start()
{
    m_timer->start();
    QTimer::singleShot(0, this, &ReversalSender::tryNext);
}

void ReversalSender::stop()
{
    m_timer->stop();
    // An attempt under way is dropped; its reversal stays in the queue.
    m_socket->Close();
    m_current.clear();
}

void ReversalSender::setRetryInterval(int ms)
{
    m_timer->setInterval(ms);
}
int ReversalSender::retryInterval() const
{
    return m_timer->interval();
}

void ReversalSender::claim(const QString& id, QObject* owner)
{
    m_claimed.insert(id, {owner != nullptr, owner});
}
void ReversalSender::release(const QString& id)
{
    m_claimed.remove(id);
}

bool ReversalSender::isClaimed(const QString& id) const
{
    const auto it = m_claimed.constFind(id);
    if (it == m_claimed.cend())
        return false;
    // The window that claimed it has gone without finishing.
    return !it->owned || !it->owner.isNull();
}

bool ReversalSender::busy() const
{
    return !m_current.isEmpty();
}

void ReversalSender::tryNext()
{
    if (busy())
        return;
    for (const PendingReversal& r : ReversalQueue::load()) {
        if (isClaimed(r.id))
            continue;
        m_claimed.remove(r.id);
        const QString settings = paths::settingsFile();
        int port = 0;
        const QString host = ReadSetting(QStringLiteral("KolbrinInfo"), QStringLiteral("sorna_Ip"), settings);
        if (!ParsePort(ReadSetting(QStringLiteral("KolbrinInfo"), QStringLiteral("sorna_Port"), settings),
                       &port)) {
            ReversalQueue::logAttempt(r, QStringLiteral("not sent: the port setting is not usable"));
            return;
        }
        m_current = r.id;
        ReversalQueue::countAttempt(r.id);
        ReversalQueue::logAttempt(r, QStringLiteral("connecting to ") + host + u':' + QString::number(port));
        m_socket->RemoteHost = host;
        m_socket->RemotePort = port;
        m_socket->Connect();
        return;
    }
}

void ReversalSender::onConnected()
{
    if (const std::optional<PendingReversal> r = ReversalQueue::find(m_current)) {
        EnvelopeBuild(*m_socket, ReversalQueue::buildRequest(*r), kTagSend);
        m_socket->CloseAfterSend();
        return;
    }
    // No longer waiting (taken off the queue meanwhile).
    m_socket->Close();
    m_current.clear();
}

void ReversalSender::onSent()
{
    const QString id = m_current;
    if (id.isEmpty())
        return;
    m_current.clear();
    if (const std::optional<PendingReversal> r = ReversalQueue::find(id))
        ReversalQueue::logAttempt(*r, QStringLiteral("sent"));
    ReversalQueue::remove(id);
    emit delivered(id);
    // Others waiting go right after.
    QTimer::singleShot(0, this, &ReversalSender::tryNext);
}

void ReversalSender::onError(const QString& description)
{
    const QString id = m_current;
    m_current.clear();
    m_socket->Close();
    if (const std::optional<PendingReversal> r = ReversalQueue::find(id))
        ReversalQueue::logAttempt(*r, QStringLiteral("not sent (") + description +
                                          QStringLiteral("), kept for the next attempt"));
}

} // namespace queue
} // namespace sorna

// Compiled here rather than beside the journal's sender of the same name.
#include "moc_reversalqueue.cpp"
