#include "app/gui/testdrive.h"

#ifdef SORNA_TEST_HOOKS

#include "journal/journal.h"
#include "journal/reversalsender.h"

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPushButton>
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
    QPushButton* button = child<QPushButton>(window, name);
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

void startTestDrive()
{
    // The sender's retry interval, shortened so that a test need not wait
    // 30 s for a host that is back.
    if (const int retryMs = qEnvironmentVariableIntValue("SORNA_TEST_REVERSAL_RETRY_MS"); retryMs > 0)
        ReversalSender::instance()->setRetryInterval(retryMs);
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
} // namespace sorna

#endif
