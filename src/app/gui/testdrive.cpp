#include "app/gui/testdrive.h"

#ifdef SORNA_TEST_HOOKS

#include "app/gui/operatorscript.h"
#include "foundation/cp949.h"
#include "foundation/messagelog.h"
#include "journal/journal.h"
#include "journal/reversalsender.h"

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QDateTime>
#include <QDialog>
#include <QElapsedTimer>
#include <QFile>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QTableView>
#include <QTimer>

#include <cstdio>
#include <memory>

namespace sorna {
namespace {

QWidget* visibleWindow(const char* name)
{
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->isVisible() && w->objectName() == QLatin1String(name))
            return w;
    return nullptr;
}

template <typename T> T* child(QWidget* window, const char* name)
{
    return window->findChild<T*>(QString::fromLatin1(name));
}

// Clicked after the tick has returned: a click that opens a modal window
// stays in it, and a timer does not fire again while its own tick runs.
void clickLater(QWidget* window, const char* name)
{
    if (QPushButton* button = child<QPushButton>(window, name))
        QTimer::singleShot(0, button, &QPushButton::click);
}

void say(const char* what)
{
    std::fprintf(stderr, "DRIVE: %s\n", what);
    std::fflush(stderr);
}

// Nothing more will happen by itself: the pay button is usable again, no
// receipt window is up, and no reversal is owed or on its way.
bool settled(QWidget* main)
{
    return main && child<QPushButton>(main, "Command4")->isEnabled() && !visibleWindow("Form5") &&
           !ReversalSender::instance()->busy() && !Journal::instance().hasOwedReversals();
}

} // namespace

// ---- the operator script

namespace {

qint64 wallMs()
{
    return QDateTime::currentMSecsSinceEpoch();
}

QMessageBox* openBox()
{
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* box = qobject_cast<QMessageBox*>(w); box && box->isVisible())
            return box;
    return nullptr;
}

QAbstractButton* boxButton(QMessageBox* box, const QString& caption)
{
    for (QAbstractButton* b : box->buttons())
        if (b->text().remove(u'&') == caption)
            return b;
    return nullptr;
}

// Runs the actions one after the other on a 50 ms tick: each waits for
// what it needs (its window up, its question asked) within a bound, then
// acts as a merchant's hands would, and says what came of it.
class ScriptRunner : public QObject
{
public:
    ScriptRunner(QList<OperatorAction> actions, const QString& logPath)
        : QObject(qApp), m_actions(std::move(actions)), m_log(logPath)
    {
        m_log.open(QIODevice::WriteOnly | QIODevice::Append);
        write(QStringLiteral("START pid=%1 actions=%2")
                  .arg(QCoreApplication::applicationPid())
                  .arg(m_actions.size()));
        setLogObserver([this](const QString& tag, const QByteArray& payload) {
            write(QStringLiteral("SEND ") + tag.trimmed() + u' ' + cp949::decode(payload).simplified());
        });
        connect(&m_tick, &QTimer::timeout, this, &ScriptRunner::tick);
        m_tick.start(50);
    }

private:
    enum class Outcome
    {
        Waiting,
        Done
    };

    void write(const QString& line)
    {
        m_log.write(QByteArray::number(wallMs()) + ' ' + line.toUtf8() + '\n');
        m_log.flush();
    }

    void finish(const QString& result)
    {
        const OperatorAction& a = m_actions[m_next];
        write(QStringLiteral("STEP %1 %2 %3: %4 (%5 ms)")
                  .arg(a.step)
                  .arg(a.name, a.args.join(u' '), result)
                  .arg(m_since.elapsed()));
        ++m_next;
        m_begun = false;
        m_phase = 0;
    }

    // Boxes the current action does not wait for are read and answered
    // with their default, as a merchant who reads and closes them; a
    // question asked while logging out or closing is answered "예".
    void answerStrayBoxes(bool wanted)
    {
        QMessageBox* box = openBox();
        if (!box || wanted || answered(box))
            return;
        QAbstractButton* button = nullptr;
        const bool leaving = m_next < m_actions.size() &&
                             (m_actions[m_next].name == u"logout" || m_actions[m_next].name == u"close" ||
                              m_actions[m_next].name == u"journal-cancel");
        if (leaving)
            button = boxButton(box, QStringLiteral("예"));
        if (!button)
            button = box->defaultButton() ? box->defaultButton() : box->escapeButton();
        if (!button && !box->buttons().isEmpty())
            button = box->buttons().first();
        write(QStringLiteral("BOX %1 -> %2")
                  .arg(box->text().simplified(), button ? button->text() : QString()));
        if (button)
            QTimer::singleShot(0, button, &QAbstractButton::click);
    }

    // Whether the box has been answered already (marked so from now on): a
    // box that follows may be made at the address of the one before.
    static bool answered(QMessageBox* box)
    {
        static const char* const kMark = "sornaDriveAnswered";
        const bool before = box->property(kMark).toBool();
        box->setProperty(kMark, true);
        return before;
    }

    void noteReceiptWindow()
    {
        QWidget* question = visibleWindow("Form5");
        if (!question || m_shown == question)
            return;
        m_shown = question;
        QStringList fields;
        for (const char* name : {"Text1", "Text2", "Text3", "Text4", "Text5"})
            if (auto* e = child<QLineEdit>(question, name))
                fields << QString::fromLatin1(name) + u'=' + e->text().simplified().remove(u' ');
        write(QStringLiteral("SHOWN ") + fields.join(u' '));
    }

    bool quiet(QWidget* main) const
    {
        if (!main || visibleWindow("Form5") || openBox() || ReversalSender::instance()->busy() ||
            Journal::instance().hasOwedReversals())
            return false;
        return child<QPushButton>(main, "Command4")->isEnabled() ||
               child<QComboBox>(main, "cmbCare1")->count() == 0;
    }

    void tick()
    {
        noteReceiptWindow();
        if (m_next >= m_actions.size()) {
            answerStrayBoxes(false);
            if (!m_saidEnd) {
                m_saidEnd = true;
                write(QStringLiteral("END"));
            }
            return;
        }
        const OperatorAction& a = m_actions[m_next];
        if (!m_begun) {
            m_begun = true;
            m_since.start();
            m_phase = 0;
            write(QStringLiteral("BEGIN %1 %2 %3").arg(a.step).arg(a.name, a.args.join(u' ')));
        }
        // The duplicate question is the dup action's own; any other box is
        // read and closed.
        QMessageBox* box = openBox();
        answerStrayBoxes(a.name == u"dup" && box && boxButton(box, QStringLiteral("예")));
        if (m_since.elapsed() > kStuckMs) {
            finish(QStringLiteral("STUCK with %1 up").arg(openWindows()));
            return;
        }
        act(a);
    }

    void act(const OperatorAction& a)
    {
        QWidget* main = visibleWindow("Form1");
        const qint64 age = m_since.elapsed();
        const QString& n = a.name;
        // The merchant's hands reach the main window only when no window of
        // its own is over it (a question, the receipt window, the journal):
        // a modal window blocks the mouse and keys, not a programmatic click.
        static const QStringList onMain = {QStringLiteral("item"),         QStringLiteral("amount"),
                                           QStringLiteral("pay"),          QStringLiteral("mode"),
                                           QStringLiteral("journal-open"), QStringLiteral("reader"),
                                           QStringLiteral("manual")};
        if (QWidget* over = QApplication::activeModalWidget();
            main && m_phase == 0 && over && over != main && onMain.contains(n)) {
            // The journal window is closed first, as a merchant does who
            // turns back to the counter; a question is waited for.
            auto* journal = qobject_cast<QDialog*>(over);
            if (journal && over->objectName() == u"JournalWindow") {
                if (n == u"journal-open")
                    return finish(QStringLiteral("skipped: open already"));
                write(QStringLiteral("JOURNAL closed first"));
                QTimer::singleShot(0, journal, &QDialog::reject);
                return;
            }
            if (age > 3000)
                finish(QStringLiteral("skipped: behind %1").arg(over->objectName()));
            return;
        }
        if (n == u"wait") {
            if (age >= a.args[0].toInt())
                finish(QStringLiteral("waited"));
        } else if (n == u"settle") {
            if (quiet(main) || (visibleWindow("Form3") && !main && !openBox())) {
                if (++m_phase >= 10) // quiet for half a second
                    finish(QStringLiteral("settled"));
            } else {
                m_phase = 0;
                if (age >= a.args[0].toInt())
                    finish(QStringLiteral("STUCK not settled, %1 up").arg(openWindows()));
            }
        } else if (n == u"login") {
            if (main) {
                finish(m_phase ? QStringLiteral("logged in") : QStringLiteral("skipped: logged in already"));
            } else if (QWidget* login = visibleWindow("Form3");
                       login && !openBox() && age >= m_phase * 3000) {
                ++m_phase;
                child<QLineEdit>(login, "Text1")->setText(a.args[0]);
                child<QLineEdit>(login, "Text4")->setText(a.args[1]);
                clickLater(login, "btnLogin");
            }
        } else if (n == u"reader" || n == u"manual") {
            readCard(a, main, age);
        } else if (!main) {
            if (n == u"dup" || n == u"receipt" || age > 2000)
                finish(QStringLiteral("skipped: not logged in"));
        } else if (n == u"item") {
            auto* items = child<QComboBox>(main, "cmbCare1");
            if (!items->isEnabled() || items->count() == 0)
                return finish(QStringLiteral("skipped: no item to choose"));
            const int i = int(a.args[0].toLongLong() % items->count());
            items->setCurrentIndex(i);
            emit items->activated(i);
            finish(QStringLiteral("chose ") + items->currentText());
        } else if (n == u"amount") {
            auto* change = child<QPushButton>(main, "Command3");
            if (!change->isEnabled() || !change->isVisible())
                return finish(QStringLiteral("skipped: amount cannot be changed"));
            change->click();
            child<QLineEdit>(main, "txtCare_Amount1")->setText(a.args[0]);
            auto* reasons = child<QComboBox>(main, "Combo1");
            if (reasons->count() > 0) {
                const int i = int(a.args[1].toLongLong() % reasons->count());
                reasons->setCurrentIndex(i);
                emit reasons->activated(i);
                if (auto* other = child<QLineEdit>(main, "txtreson"); other->isEnabled())
                    other->setText(QStringLiteral("현장 조정"));
            }
            finish(QStringLiteral("amount ") + child<QLineEdit>(main, "txtCare_Amount1")->text());
        } else if (n == u"mode") {
            auto* option = child<QRadioButton>(main, QByteArray("Option" + a.args[0].toLatin1()).constData());
            if (!option->isEnabled())
                return finish(QStringLiteral("skipped: mode locked"));
            option->click();
            finish(QStringLiteral("mode ") + a.args[0]);
        } else if (n == u"pay") {
            pay(main, age);
        } else if (n == u"dup") {
            if (QMessageBox* box = openBox()) {
                QAbstractButton* b =
                    boxButton(box, a.args[0] == u"yes" ? QStringLiteral("예") : QStringLiteral("아니요"));
                if (!b)
                    return; // not the question: answered as a stray box next tick
                answered(box);
                write(QStringLiteral("BOX %1 -> %2").arg(box->text().simplified(), b->text()));
                QTimer::singleShot(0, b, &QAbstractButton::click);
                finish(QStringLiteral("answered ") + a.args[0]);
            } else if (visibleWindow("Form5") || (age > 700 && quiet(main))) {
                finish(QStringLiteral("not asked"));
            } else if (age > kQuestionWaitMs) {
                finish(QStringLiteral("not asked: still waiting"));
            }
        } else if (n == u"receipt") {
            if (QWidget* question = visibleWindow("Form5"); question && !openBox()) {
                clickLater(question, a.args[0] == u"yes" ? "Command1" : "Command2");
                write(QStringLiteral("RECEIPT ") + a.args[0]);
                finish(QStringLiteral("answered ") + a.args[0]);
            } else if (age > 700 && quiet(main)) {
                finish(QStringLiteral("not asked"));
            } else if (age > kQuestionWaitMs) {
                finish(QStringLiteral("not asked: still waiting"));
            }
        } else if (n == u"journal-open") {
            if (m_phase == 0 && visibleWindow("JournalWindow"))
                return finish(QStringLiteral("skipped: open already"));
            if (m_phase == 0) {
                m_phase = 1;
                clickLater(main, "btnJournal");
            } else if (age > 3000) {
                finish(QStringLiteral("did not open"));
            }
            if (visibleWindow("JournalWindow"))
                finish(QStringLiteral("opened"));
        } else if (n == u"journal-close") {
            QWidget* journal = visibleWindow("JournalWindow");
            if (!journal)
                return finish(QStringLiteral("skipped: not open"));
            clickLater(journal, "btnClose");
            finish(QStringLiteral("closed"));
        } else if (n == u"journal-cancel" || n == u"reprint") {
            QWidget* journal = visibleWindow("JournalWindow");
            if (!journal)
                return finish(QStringLiteral("skipped: journal not open"));
            auto* grid = child<QTableView>(journal, "grdJournal");
            const int rows = grid->model() ? grid->model()->rowCount() : 0;
            if (rows == 0)
                return finish(QStringLiteral("skipped: no row"));
            const int row = int(a.args[0].toLongLong() % rows);
            grid->selectRow(row);
            auto* button = child<QPushButton>(journal, n == u"reprint" ? "btnReprint" : "btnCancel");
            QStringList cells;
            for (int c = 0; c < grid->model()->columnCount(); ++c)
                cells << grid->model()->index(row, c).data().toString().simplified();
            if (!button->isEnabled())
                return finish(QStringLiteral("skipped: not offered for [%1]").arg(cells.join(u'|')));
            QTimer::singleShot(0, button, &QAbstractButton::click);
            finish(QStringLiteral("pressed for [%1]").arg(cells.join(u'|')));
        } else if (n == u"logout") {
            if (openBox() || visibleWindow("Form5"))
                return;
            clickLater(main, "btnLogout");
            finish(QStringLiteral("logged out"));
        } else if (n == u"close") {
            if (openBox() || visibleWindow("Form5"))
                return;
            write(QStringLiteral("CLOSE"));
            QTimer::singleShot(0, main, &QWidget::close);
            finish(QStringLiteral("closing"));
        }
    }

    void pay(QWidget* main, qint64 age)
    {
        auto* button = child<QPushButton>(main, "Command4");
        if (!button->isEnabled()) {
            if (age > 2000)
                finish(QStringLiteral("skipped: pay button disabled"));
            return;
        }
        // What the panel shows at the press: what may leave.
        QStringList card;
        for (const char* name : {"Card1", "Card2", "Card3", "Card4"})
            card << child<QLineEdit>(main, name)->text().trimmed();
        int mode = 1;
        for (int i = 1; i <= 3; ++i)
            if (child<QRadioButton>(main, QByteArray("Option" + QByteArray::number(i)).constData())
                    ->isChecked())
                mode = i;
        write(QStringLiteral("PRESS card=%1 amount=%2 mode=%3 item=%4")
                  .arg(card.join(QString()), child<QLineEdit>(main, "txtCare_Amount1")->text().remove(u','))
                  .arg(mode)
                  .arg(child<QComboBox>(main, "cmbCare1")->currentText().simplified().remove(u' ')));
        clickLater(main, "Command4");
        finish(QStringLiteral("pressed"));
    }

    void readCard(const OperatorAction& a, QWidget* main, qint64 age)
    {
        const bool reader = a.name == u"reader";
        const char* window = reader ? "Form6" : "Form2";
        QWidget* w = visibleWindow(window);
        if (m_phase == 0) {
            if (!main)
                return age > 2000 ? finish(QStringLiteral("skipped: not logged in")) : void();
            auto* button = child<QPushButton>(main, reader ? "Command1" : "Command2");
            if (!button->isEnabled() || openBox() || visibleWindow("Form5"))
                return age > 2000 ? finish(QStringLiteral("skipped: card buttons locked")) : void();
            m_phase = 1;
            clickLater(main, reader ? "Command1" : "Command2");
            return;
        }
        if (m_phase == 1) {
            if (!w)
                return age > 3000 ? finish(QStringLiteral("window did not open")) : void();
            m_phase = 2;
            if (reader) {
                // The reader types the track and its end mark.
                auto* box = child<QLineEdit>(w, "Text1");
                box->setFocus();
                for (QChar c : a.args[0] + QStringLiteral("=2712")) {
                    QKeyEvent press(QEvent::KeyPress, c == u'=' ? Qt::Key_Equal : Qt::Key(c.unicode()),
                                    Qt::NoModifier, QString(c));
                    QCoreApplication::sendEvent(box, &press);
                    if (!visibleWindow(window))
                        break;
                }
            } else {
                for (int i = 0; i < 4; ++i)
                    child<QLineEdit>(w, QByteArray("Card" + QByteArray::number(i + 1)).constData())
                        ->setText(a.args[0].mid(4 * i, 4));
                clickLater(w, "btnOk");
            }
            m_phaseSince.start();
            return;
        }
        if (!w && !openBox())
            return finish(QStringLiteral("read; panel card %1").arg(main ? panelCard(main) : QString()));
        if (w && !openBox() && m_phaseSince.elapsed() > 8000) {
            // The window stays after its inquiry has ended: the merchant gives up.
            clickLater(w, reader ? "Command1" : "btnClose");
            finish(QStringLiteral("window left open: cancelled"));
        }
    }

    static QString openWindows()
    {
        QStringList names;
        for (QWidget* w : QApplication::topLevelWidgets())
            if (w->isVisible())
                names << (w->objectName().isEmpty() ? QString::fromLatin1(w->metaObject()->className())
                                                    : w->objectName());
        return names.join(u',');
    }

    static QString panelCard(QWidget* main)
    {
        QString card;
        for (const char* name : {"Card1", "Card2", "Card3", "Card4"})
            card += child<QLineEdit>(main, name)->text().trimmed();
        return card;
    }

    // An action still waiting after this long is stuck; a question not
    // asked within the shorter bound is taken as not coming.
    static constexpr qint64 kStuckMs = 90000;
    static constexpr qint64 kQuestionWaitMs = 40000;

    QList<OperatorAction> m_actions;
    QFile m_log;
    QTimer m_tick;
    qsizetype m_next = 0;
    bool m_begun = false;
    bool m_saidEnd = false;
    int m_phase = 0;
    QElapsedTimer m_since, m_phaseSince;
    QWidget* m_shown = nullptr;
};

} // namespace

bool startOperatorScript()
{
    const QString path = qEnvironmentVariable("SORNA_TEST_SCRIPT");
    if (path.isEmpty())
        return false;
    QFile file(path);
    QList<OperatorAction> actions;
    if (file.open(QIODevice::ReadOnly))
        for (const QByteArray& line : file.readAll().split('\n'))
            if (const std::optional<OperatorAction> a =
                    OperatorAction::parse(QString::fromUtf8(line).trimmed()))
                actions.append(*a);
    new ScriptRunner(std::move(actions),
                     qEnvironmentVariable("SORNA_TEST_SCRIPT_LOG", path + QStringLiteral(".log")));
    return true;
}

void startTestDrive()
{
    // The sender's retry interval, shortened so that a test need not wait
    // 30 s for a host that is back.
    if (const int retryMs = qEnvironmentVariableIntValue("SORNA_TEST_REVERSAL_RETRY_MS"); retryMs > 0)
        ReversalSender::instance()->setRetryInterval(retryMs);
    if (startOperatorScript())
        return;
    const QStringList given = qEnvironmentVariable("SORNA_TEST_DRIVE").split(u',');
    if (given.size() != 3 && given.size() != 4) {
        // Started without hands, to die at a crash point: says when it has
        // come to rest without getting there (nothing owed, nothing on its way).
        if (!qEnvironmentVariableIsSet("SORNA_CRASH_AT"))
            return;
        auto* watch = new QTimer(qApp);
        auto since = std::make_shared<QElapsedTimer>();
        since->start();
        QObject::connect(watch, &QTimer::timeout, watch, [watch, since] {
            if (since->elapsed() >= 1000 && !ReversalSender::instance()->busy() &&
                !Journal::instance().hasOwedReversals()) {
                watch->stop();
                say("settled");
            }
        });
        watch->start(50);
        return;
    }
    // The pay button is pressed this often at most, a second apart, until a
    // receipt window opens (a host that refused the connection may be back).
    const int presses = given.size() == 4 ? std::max(1, given[3].toInt()) : 1;
    auto* tick = new QTimer(qApp);
    auto step = std::make_shared<int>(0);
    auto pressed = std::make_shared<int>(0);
    auto sincePress = std::make_shared<QElapsedTimer>();
    // Each step acts once its window is up; the timer keeps ticking inside
    // the modal windows the clicks open.
    QObject::connect(tick, &QTimer::timeout, tick, [tick, step, given, presses, pressed, sincePress] {
        switch (*step) {
        case 0:
            if (QWidget* login = visibleWindow("Form3")) {
                *step = 1;
                child<QLineEdit>(login, "Text1")->setText(given[0]);
                child<QLineEdit>(login, "Text4")->setText(given[1]);
                say("login");
                clickLater(login, "btnLogin");
            }
            return;
        case 1:
            if (QWidget* main = visibleWindow("Form1")) {
                *step = 2;
                say("manual entry");
                clickLater(main, "Command2");
            }
            return;
        case 2:
            if (QWidget* manual = visibleWindow("Form2")) {
                *step = 3;
                for (int i = 0; i < 4; ++i)
                    child<QLineEdit>(manual, QByteArray("Card" + QByteArray::number(i + 1)).constData())
                        ->setText(given[2].mid(4 * i, 4));
                clickLater(manual, "btnOk");
            }
            return;
        case 3:
            if (QWidget* main = visibleWindow("Form1");
                main && !visibleWindow("Form2") && child<QComboBox>(main, "cmbCare1")->count() > 0) {
                *step = 4;
                *pressed = 1;
                sincePress->start();
                say("pay");
                clickLater(main, "Command4");
            }
            return;
        case 4:
            if (visibleWindow("Form5")) {
                tick->stop();
                say("receipt");
                return;
            }
            if (sincePress->elapsed() < 1000)
                return;
            if (QWidget* main = visibleWindow("Form1"); settled(main)) {
                if (*pressed < presses) {
                    ++*pressed;
                    sincePress->start();
                    say("pay again");
                    clickLater(main, "Command4");
                    return;
                }
                tick->stop();
                say("settled");
            }
            return;
        }
    });
    tick->start(50);
}

} // namespace sorna

#else

namespace sorna {
void startTestDrive() {}
bool startOperatorScript()
{
    return false;
}
} // namespace sorna

#endif
