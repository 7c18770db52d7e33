#pragma once

// What the three fault-matrix programs share: the faults and how the
// reference host is told to produce them, the day's log in short, the rows
// of docs/fault-matrix.md, and the running of a program's rows in child
// processes of their own, several at once (each row waits in real time for
// the client's 10-second time-outs; side by side the whole matrix takes
// about as long as its slowest rows).
//
// A program runs its rows in children unless it is a child itself, or a row
// is named on the command line (`tst_faultmatrix_login "matrix:login, silent"`),
// or SORNA_FAULTMATRIX_JOBS is 0: then the rows run in the program itself.
// SORNA_FAULTMATRIX_JOBS sets how many children run at once (default 6).
// With SORNA_FAULT_MATRIX_DOC naming a folder, the program writes its table
// into <folder>/<program>.md (scripts/fault-matrix-doc.sh assembles them).

#include "foundation/cp949.h"
#include "foundation/textbytes.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QListWidget>
#include <QProcess>
#include <QRegularExpression>
#include <QStringList>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QWidget>

#include <algorithm>
#include <memory>

namespace sorna::test::fm {

// ---- the faults --------------------------------------------------------

enum class Fault
{
    NotListening,  // nothing listens on the host's port
    ResetAtAccept, // the host resets each connection as soon as it has accepted it
    Reset,         // the host reads the request, does nothing and resets the connection
    Close,         // the host does the work and closes without answering
    Silent,        // the host does the work and never answers
    Delay9,        // the answer 9 s late, inside the 10-second time-out
    Delay12,       // the answer 12 s late, past it
    Bytewise,      // the answer in 1-byte pieces, 1 ms apart
    TwoPieces,     // the answer in 2 pieces, 2 s apart
    Truncated,     // the first half of the answer's frame, then closed
    Garbage,       // bytes that are no frame, then closed
    Prefix,        // the frame's prefix "0" + length replaced by "X999"
    LengthBlank,   // msg_length of the answer four blanks
    LengthText,    // msg_length of the answer "abcd"
    Refusal,       // the host refuses with "92" (시스템중지중) and does nothing
    Natural        // a refusal for a reason of the data (named by the case)
};

// The host's fault mode for a fault ("" for none).
inline QString hostMode(Fault f)
{
    switch (f) {
    case Fault::NotListening:
    case Fault::Natural:
        return {};
    case Fault::ResetAtAccept:
    case Fault::Reset:
        return QStringLiteral("reset");
    case Fault::Close:
        return QStringLiteral("close");
    case Fault::Silent:
        return QStringLiteral("silent");
    case Fault::Delay9:
        return QStringLiteral("delay:9000");
    case Fault::Delay12:
        return QStringLiteral("delay:12000");
    case Fault::Bytewise:
        // As many pieces as the frame has bytes.
        return QStringLiteral("pieces:10000:1");
    case Fault::TwoPieces:
        return QStringLiteral("pieces:2:2000");
    case Fault::Truncated:
        return QStringLiteral("truncated");
    case Fault::Garbage:
        return QStringLiteral("garbage");
    case Fault::Prefix:
        return QStringLiteral("prefix:X999");
    case Fault::LengthBlank:
        return QStringLiteral("msglength:blank");
    case Fault::LengthText:
        return QStringLiteral("msglength:abcd");
    case Fault::Refusal:
        return QStringLiteral("refuse:92");
    }
    return {};
}

// The host's command line for a fault that strikes the first request of
// `msgType` only, so that the exchanges around it (the login before an
// inquiry, the automatic cancellation after an approval, the merchant's
// second try) are served as usual.  A reset as soon as accepted can only be
// had for all traffic.
inline QStringList hostArguments(Fault f, const QString& msgType)
{
    if (f == Fault::ResetAtAccept)
        return {QStringLiteral("--fault"), QStringLiteral("reset")};
    const QString mode = hostMode(f);
    if (mode.isEmpty())
        return {};
    return {QStringLiteral("--fault-on"), msgType + u':' + mode, QStringLiteral("--fault-count"),
            QStringLiteral("1")};
}

// How the matrix names a fault.
inline QString faultName(Fault f)
{
    switch (f) {
    case Fault::NotListening:
        return QStringLiteral("host not listening");
    case Fault::ResetAtAccept:
        return QStringLiteral("reset as soon as accepted");
    case Fault::Reset:
        return QStringLiteral("reset after the request");
    case Fault::Close:
        return QStringLiteral("closed without an answer");
    case Fault::Silent:
        return QStringLiteral("silent");
    case Fault::Delay9:
        return QStringLiteral("answer after 9 s");
    case Fault::Delay12:
        return QStringLiteral("answer after 12 s");
    case Fault::Bytewise:
        return QStringLiteral("answer in 1-byte pieces");
    case Fault::TwoPieces:
        return QStringLiteral("answer in 2 pieces, 2 s apart");
    case Fault::Truncated:
        return QStringLiteral("truncated answer");
    case Fault::Garbage:
        return QStringLiteral("garbage");
    case Fault::Prefix:
        return QStringLiteral("wrong prefix");
    case Fault::LengthBlank:
        return QStringLiteral("blank msg_length");
    case Fault::LengthText:
        return QStringLiteral("non-numeric msg_length");
    case Fault::Refusal:
        return QStringLiteral("refusal 92");
    case Fault::Natural:
        return QStringLiteral("refusal");
    }
    return {};
}

// How late the host's answer is meant to come, in milliseconds.
inline int answerDelayMs(Fault f)
{
    return f == Fault::Delay9 ? 9000 : f == Fault::Delay12 ? 12000 : 0;
}

// Roughly how long a row takes, to start the long ones first.
inline int expectedSeconds(Fault f)
{
    switch (f) {
    case Fault::Delay12:
        return 14;
    case Fault::Silent:
        return 12;
    case Fault::Delay9:
        return 10;
    case Fault::TwoPieces:
        return 3;
    case Fault::Bytewise:
        return 2;
    default:
        return 1;
    }
}

// ---- the day's log in short --------------------------------------------

// Each line of the day's log in a few words:
//   "[ Send " / "[ Serc "  ->  "Send 0500", "Send 0600/2" (cancel_kind), "Serc 0200"
//   "[ Resp "              ->  "Resp <msg_length> <msg_type> <resp_code>", blanks as "·";
//                              "Resp (blank)" for an answer that could not be opened,
//                              "Resp (as received)" for bytes that were no answer
//   "[ Rvsl "              ->  "Rvsl kept" (owed), "Rvsl connecting", "Rvsl sent" (delivered),
//                              "Rvsl not sent" (still owed), "Rvsl refused"
// Lines before `fromLine` are left out.
inline QStringList logSummary(const QByteArray& log, qsizetype fromLine = 0)
{
    QStringList out;
    QList<QByteArray> lines = log.split('\n');
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    for (qsizetype i = fromLine; i < lines.size(); ++i) {
        QByteArray line = lines[i];
        if (line.endsWith('\r'))
            line.chop(1);
        const QByteArray tag = line.left(7);
        const QByteArray payload = line.mid(18); // tag, "hh:mm:ss", " ] "
        const auto text = [](const QByteArray& b) { return QString::fromLatin1(b).replace(u' ', u'·'); };
        if (tag == "[ Send " || tag == "[ Serc ") {
            QString s = QString::fromLatin1(tag.mid(2, 4)) + u' ' + text(payload.mid(4, 4));
            if (payload.mid(4, 4) == "0600")
                s += u'/' + text(payload.mid(194, 1));
            out << s;
        } else if (tag == "[ Resp ") {
            // An opened answer is always the whole 2000-byte buffer.
            if (payload.size() != 2000)
                out << QStringLiteral("Resp (as received)");
            else if (payload.trimmed().isEmpty())
                out << QStringLiteral("Resp (blank)");
            else
                out << QStringLiteral("Resp %1 %2 %3")
                           .arg(text(payload.left(4)), text(payload.mid(4, 4)), text(payload.mid(38, 2)));
        } else if (tag == "[ Rvsl ") {
            const QString what = cp949::decode(payload);
            if (what.contains(QStringLiteral("owed until")))
                out << QStringLiteral("Rvsl kept");
            else if (what.contains(QStringLiteral("connecting to")))
                out << QStringLiteral("Rvsl connecting");
            else if (what.contains(QStringLiteral("still owed")))
                out << QStringLiteral("Rvsl not sent");
            else if (what.contains(QStringLiteral(": delivered")))
                out << QStringLiteral("Rvsl sent");
            else if (what.contains(QStringLiteral(": refused by the host")))
                out << QStringLiteral("Rvsl refused");
            else
                out << QStringLiteral("Rvsl ") + what;
        } else {
            out << QStringLiteral("? ") + QString::fromLatin1(line.left(20));
        }
    }
    return out;
}

// `log` with the bytes that were no answer logged after its request.
inline QStringList withUnreadAnswer(QStringList log)
{
    log.insert(1, QStringLiteral("Resp (as received)"));
    return log;
}

inline qsizetype logLineCount(const QByteArray& log)
{
    return log.count('\n');
}

// Whether the log in short is the one expected; an expected entry ending in
// "?" may be missing (a line that depends on which of two things came
// first).
inline bool logMatches(const QStringList& actual, const QStringList& expected)
{
    qsizetype a = 0;
    for (const QString& e : expected) {
        const bool optional = e.endsWith(u'?');
        const QString want = optional ? e.chopped(1) : e;
        if (a < actual.size() && actual[a] == want)
            ++a;
        else if (!optional)
            return false;
    }
    return a == actual.size();
}

// ---- what the windows show ---------------------------------------------

inline QStringList listLines(const QListWidget* list)
{
    QStringList out;
    for (int i = 0; i < list->count(); ++i)
        out << list->item(i)->text();
    return out;
}

// The object names of the top-level windows on screen, sorted.
inline QStringList visibleWindows()
{
    QStringList out;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->isVisible())
            out << w->objectName();
    out.sort();
    return out;
}

// A text with fixed-width blank fill: `text` and `blanks` blanks.
inline QString padded(const char16_t* text, int blanks)
{
    return QString::fromUtf16(text) + QString(blanks, u' ');
}

// Waits (processing events) until `elapsed` has run `ms` milliseconds.
inline void waitUntilElapsed(const QElapsedTimer& elapsed, qint64 ms)
{
    while (elapsed.elapsed() < ms)
        QTest::qWait(int(std::min<qint64>(100, ms - elapsed.elapsed())) + 1);
}

// ---- the rows of the document -----------------------------------------

// One row of docs/fault-matrix.md, as observed.
struct DocRow
{
    QString exchange;
    QString fault;
    QString host; // the host's fault option
    QStringList sees;
    QString window;
    QStringList log;
    QString ledger;
    QString retry;
    QString note;
    bool passed = false;

    QJsonObject toJson() const
    {
        return {{QStringLiteral("exchange"), exchange},
                {QStringLiteral("fault"), fault},
                {QStringLiteral("host"), host},
                {QStringLiteral("sees"), QJsonArray::fromStringList(sees)},
                {QStringLiteral("window"), window},
                {QStringLiteral("log"), QJsonArray::fromStringList(log)},
                {QStringLiteral("ledger"), ledger},
                {QStringLiteral("retry"), retry},
                {QStringLiteral("note"), note},
                {QStringLiteral("passed"), passed}};
    }
};

inline QString docCell(const QStringList& parts)
{
    QStringList cleaned;
    for (QString p : parts) {
        while (p.endsWith(u' '))
            p.chop(1);
        p.replace(u'|', QStringLiteral("\\|"));
        cleaned << p;
    }
    const QString joined = cleaned.join(QStringLiteral("<br>"));
    return joined.isEmpty() ? QStringLiteral("—") : joined;
}

inline QString docLine(const QJsonObject& row)
{
    const auto list = [&row](const char* key) {
        QStringList out;
        for (const QJsonValue& v : row.value(QString::fromLatin1(key)).toArray())
            out << v.toString();
        return out;
    };
    const auto text = [&row](const char* key) { return row.value(QString::fromLatin1(key)).toString(); };
    QStringList logCell = list("log");
    const QString host = text("host");
    QString fault = text("fault");
    if (!host.isEmpty())
        fault += QStringLiteral("<br>`") + host + u'`';
    QStringList cells = {docCell({text("exchange")}),
                         fault,
                         docCell(list("sees")),
                         docCell({text("window")}),
                         docCell({logCell.join(QStringLiteral(" · "))}),
                         docCell({text("ledger")}),
                         docCell({text("retry")}),
                         docCell({text("note")})};
    if (!row.value(QStringLiteral("passed")).toBool())
        cells[0] += QStringLiteral(" **(FAILED)**");
    return QStringLiteral("| ") + cells.join(QStringLiteral(" | ")) + QStringLiteral(" |");
}

// ---- running rows side by side -----------------------------------------

// The rows of one program: in the parent, the children that run them and
// their results; in a child (or a program that runs its rows itself), the
// row it observed.
class Matrix
{
public:
    Matrix() = default;
    Matrix(const Matrix&) = delete;
    Matrix& operator=(const Matrix&) = delete;
    ~Matrix()
    {
        for (Child& c : m_children)
            if (c.process && c.process->state() != QProcess::NotRunning) {
                c.process->kill();
                c.process->waitForFinished(3000);
            }
    }

    // Whether the rows run in this process.
    static bool runsHere()
    {
        if (qEnvironmentVariableIsSet("SORNA_FAULTMATRIX_CHILD"))
            return true;
        if (qEnvironmentVariableIsSet("SORNA_FAULTMATRIX_JOBS") &&
            qEnvironmentVariableIntValue("SORNA_FAULTMATRIX_JOBS") == 0)
            return true;
        const QStringList args = QCoreApplication::arguments();
        return std::any_of(args.cbegin() + 1, args.cend(),
                           [](const QString& a) { return a.startsWith(QStringLiteral("matrix:")); });
    }

    // Parent: starts a child for every case of the table (initTestCase).
    template <class Cases> void startCases(const Cases& cases)
    {
        if (runsHere())
            return;
        QList<std::pair<QString, int>> rows;
        for (const auto& c : cases)
            rows.append({c.tag(), expectedSeconds(c.fault)});
        startChildren(rows);
    }

    // Writes the table's rows to the document and says the wall time
    // (cleanupTestCase).
    template <class Cases> void finishCases(const Cases& cases, const QString& title, const QString& intro)
    {
        QStringList tags;
        for (const auto& c : cases)
            tags << c.tag();
        writeDocument(title, intro, tags);
        if (!runsHere())
            qInfo("fault matrix (%s): %lld ms wall time", qPrintable(title), wallMs());
    }

    // Parent: starts a child for every row (longest first), so many at once.
    void startChildren(const QList<std::pair<QString, int>>& rows)
    {
        m_jobs = qEnvironmentVariableIsSet("SORNA_FAULTMATRIX_JOBS")
                     ? std::max(1, qEnvironmentVariableIntValue("SORNA_FAULTMATRIX_JOBS"))
                     : 6;
        QList<std::pair<QString, int>> order = rows;
        std::stable_sort(order.begin(), order.end(),
                         [](const auto& a, const auto& b) { return a.second > b.second; });
        for (const auto& [tag, seconds] : order) {
            Child c;
            c.tag = tag;
            c.index = int(m_children.size());
            m_children.append(std::move(c));
        }
        m_wall.start();
        launchMore();
    }

    struct Outcome
    {
        bool finished = false;
        bool passed = false;
        QString report;
        QJsonObject row;
        qint64 ms = 0;
    };

    // Parent: waits for the child of `tag` and takes its result.
    Outcome awaitChild(const QString& tag, int timeoutMs = 150000)
    {
        Child* c = find(tag);
        Outcome out;
        if (!c) {
            out.report = QStringLiteral("no child for row \"%1\"").arg(tag);
            return out;
        }
        QElapsedTimer waited;
        waited.start();
        while (!c->done && waited.elapsed() < timeoutMs)
            QTest::qWait(50);
        if (!c->done) {
            if (c->process)
                c->process->kill();
            out.report = QStringLiteral("the row did not finish within %1 s").arg(timeoutMs / 1000);
            return out;
        }
        out.finished = true;
        out.ms = c->ms;
        out.passed = c->exitCode == 0;
        QFile report(m_dir.filePath(QStringLiteral("%1.txt").arg(c->index)));
        if (report.open(QIODevice::ReadOnly)) {
            QStringList kept;
            for (const QString& line : QString::fromUtf8(report.readAll()).split(u'\n'))
                if (!line.startsWith(QStringLiteral("PASS ")) &&
                    !line.startsWith(QStringLiteral("Config:")) &&
                    !line.startsWith(QStringLiteral("*****")) && !line.trimmed().isEmpty())
                    kept << line;
            out.report = kept.join(u'\n');
        }
        QFile rowFile(m_dir.filePath(QStringLiteral("%1.row").arg(c->index)));
        if (rowFile.open(QIODevice::ReadOnly))
            out.row = QJsonDocument::fromJson(rowFile.readAll()).object();
        if (!out.row.isEmpty())
            m_rows.insert(tag, out.row);
        return out;
    }

    qint64 wallMs() const { return m_wall.isValid() ? m_wall.elapsed() : 0; }

    // Child or in-process: the row observed, whatever became of the checks.
    void recordRow(const QString& tag, const DocRow& row)
    {
        const QJsonObject o = row.toJson();
        m_rows.insert(tag, o);
        const QString file = qEnvironmentVariable("SORNA_FAULTMATRIX_ROW_FILE");
        if (!file.isEmpty()) {
            QFile f(file);
            if (f.open(QIODevice::WriteOnly | QIODevice::Truncate))
                f.write(QJsonDocument(o).toJson(QJsonDocument::Compact));
        }
    }

    // Writes the program's table, rows in the order of `tags`, into
    // $SORNA_FAULT_MATRIX_DOC/<program>.md when that variable is set.
    void writeDocument(const QString& title, const QString& introduction, const QStringList& tags) const
    {
        const QString folder = qEnvironmentVariable("SORNA_FAULT_MATRIX_DOC");
        if (folder.isEmpty() || qEnvironmentVariableIsSet("SORNA_FAULTMATRIX_CHILD"))
            return;
        QDir().mkpath(folder);
        QFile f(QDir(folder).filePath(QFileInfo(QCoreApplication::applicationFilePath()).baseName() +
                                      QStringLiteral(".md")));
        if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate)) {
            qWarning("cannot write %s", qPrintable(f.fileName()));
            return;
        }
        QString text =
            QStringLiteral("## ") + title + QStringLiteral("\n\n") + introduction +
            QStringLiteral("\n\n| Exchange | Fault (host option) | What the merchant sees | Window "
                           "afterwards | Day's log | Host's ledger | The merchant tries again | "
                           "Notes |\n|---|---|---|---|---|---|---|---|\n");
        for (const QString& tag : tags)
            if (m_rows.contains(tag))
                text += docLine(m_rows.value(tag)) + u'\n';
            else
                text += QStringLiteral("| %1 **(no result)** | | | | | | | |\n").arg(tag);
        f.write(text.toUtf8());
    }

private:
    struct Child
    {
        QString tag;
        int index = 0;
        std::shared_ptr<QProcess> process;
        QElapsedTimer started;
        bool done = false;
        int exitCode = -1;
        qint64 ms = 0;
    };

    Child* find(const QString& tag)
    {
        for (Child& c : m_children)
            if (c.tag == tag)
                return &c;
        return nullptr;
    }

    void launchMore()
    {
        int running = 0;
        for (const Child& c : m_children)
            if (c.process && !c.done)
                ++running;
        for (Child& c : m_children) {
            if (running >= m_jobs)
                return;
            if (c.process)
                continue;
            start(c);
            ++running;
        }
    }

    void start(Child& c)
    {
        c.process = std::make_shared<QProcess>();
        QProcess* p = c.process.get();
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("SORNA_FAULTMATRIX_CHILD"), QStringLiteral("1"));
        env.insert(QStringLiteral("SORNA_FAULTMATRIX_ROW_FILE"),
                   m_dir.filePath(QStringLiteral("%1.row").arg(c.index)));
        env.insert(QStringLiteral("QTEST_FUNCTION_TIMEOUT"), QStringLiteral("120000"));
        env.remove(QStringLiteral("SORNA_FAULT_MATRIX_DOC"));
        p->setProcessEnvironment(env);
        p->setProgram(QCoreApplication::applicationFilePath());
        p->setArguments({QStringLiteral("matrix:") + c.tag, QStringLiteral("-o"),
                         m_dir.filePath(QStringLiteral("%1.txt").arg(c.index)) + QStringLiteral(",txt")});
        p->setStandardOutputFile(m_dir.filePath(QStringLiteral("%1.out").arg(c.index)));
        p->setStandardErrorFile(m_dir.filePath(QStringLiteral("%1.out").arg(c.index)), QIODevice::Append);
        const int index = c.index;
        QObject::connect(p, &QProcess::finished, p, [this, index](int code, QProcess::ExitStatus status) {
            Child& done = m_children[index];
            done.done = true;
            done.exitCode = status == QProcess::NormalExit ? code : -1;
            done.ms = done.started.elapsed();
            QTimer::singleShot(0, [this] { launchMore(); });
        });
        QObject::connect(p, &QProcess::errorOccurred, p, [this, index](QProcess::ProcessError e) {
            if (e != QProcess::FailedToStart)
                return;
            Child& done = m_children[index];
            done.done = true;
            done.exitCode = -1;
            QTimer::singleShot(0, [this] { launchMore(); });
        });
        c.started.start();
        p->start();
    }

    QTemporaryDir m_dir;
    QList<Child> m_children;
    QHash<QString, QJsonObject> m_rows;
    QElapsedTimer m_wall;
    int m_jobs = 6;
};

} // namespace sorna::test::fm
