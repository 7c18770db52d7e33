#include "foundation/gui/messagebox.h"

#include <QApplication>
#include <QFontMetrics>
#include <QGridLayout>
#include <QPointer>
#include <QPushButton>
#include <QWindow>

#include <cstdio>

namespace sorna::MessageBox {
namespace {

struct Recorder
{
    bool active = false;
    std::function<void(const Shown&)> onShown;
    QList<Shown> shown;
    QList<bool> answers;
};

Recorder& recorder()
{
    static Recorder r;
    return r;
}

QMessageBox::Icon qtIcon(Icon icon)
{
    switch (icon) {
    case Icon::Information:
        return QMessageBox::Information;
    case Icon::Warning:
        return QMessageBox::Warning;
    case Icon::Critical:
        return QMessageBox::Critical;
    case Icon::Question:
        return QMessageBox::Question;
    case Icon::None:
        break;
    }
    return QMessageBox::NoIcon;
}

// While recording, the message is recorded instead of shown (true); a
// program driven by another program says it on standard error (true).
bool notShown(const QString& text, Icon icon, const QString& title, const char* tag)
{
    Recorder& r = recorder();
    if (r.active) {
        const Shown s{text, icon, title};
        r.shown.append(s);
        if (r.onShown)
            r.onShown(s);
        return true;
    }
    // Programs driven by another program (process tests, measurements) say
    // their messages on standard error instead of waiting for a click.
    if (qEnvironmentVariableIsSet("SORNA_MESSAGES_TO_STDERR")) {
        fprintf(stderr, "%s: %s\n", tag, text.toUtf8().constData());
        fflush(stderr);
        return true;
    }
    return false;
}

// A box runs its own event loop, in which socket events and timers go on:
// the login answer may close the login window while its box is open, a
// time-out the main window.  So the box belongs to no window (the window's
// end would free it under its own loop, or take the message away unread); it
// is only placed over that window, which the window system forgets by itself
// when the window goes.  Returns the role of the button clicked.
QMessageBox::ButtonRole runBox(QWidget* parent, QMessageBox* made,
                               const std::function<void(QMessageBox*)>& buttons)
{
    const QPointer<QWidget> over = parent ? parent->window() : nullptr;
    const QPointer<QMessageBox> box = made;
    buttons(box);
    keepTitleWhole(box);
    box->setWindowModality(Qt::ApplicationModal);
    if (over && over->windowHandle()) {
        box->winId();
        box->windowHandle()->setTransientParent(over->windowHandle());
    }
    box->exec();
    const QMessageBox::ButtonRole role =
        box && box->clickedButton() ? box->buttonRole(box->clickedButton()) : QMessageBox::InvalidRole;
    delete box.data();
    return role;
}

QString titleOf(const QString& caption)
{
    return caption.isEmpty() ? QApplication::applicationDisplayName() : caption;
}

} // namespace

void keepTitleWhole(QMessageBox* box)
{
    QFont titleFont = box->font();
    titleFont.setPointSizeF(titleFont.pointSizeF() * 1.25);
    const int width = QFontMetrics(titleFont).horizontalAdvance(box->windowTitle()) + 140;
    if (auto* grid = qobject_cast<QGridLayout*>(box->layout()))
        grid->addItem(new QSpacerItem(width, 0, QSizePolicy::Minimum, QSizePolicy::Expanding),
                      grid->rowCount(), 0, 1, grid->columnCount());
}

bool ask(QWidget* parent, const QString& text, Icon icon, const QString& caption)
{
    const QString title = titleOf(caption);
    if (notShown(text, icon, title, "QUESTION (answered no)")) {
        Recorder& r = recorder();
        return r.active && !r.answers.isEmpty() && r.answers.takeFirst();
    }
    return runBox(parent, new QMessageBox(qtIcon(icon), title, text, QMessageBox::NoButton),
                  [](QMessageBox* box) {
                      box->addButton(QStringLiteral("예"), QMessageBox::YesRole);
                      QPushButton* no = box->addButton(QStringLiteral("아니요"), QMessageBox::NoRole);
                      box->setDefaultButton(no);
                      box->setEscapeButton(no);
                  }) == QMessageBox::YesRole;
}

void show(QWidget* parent, const QString& text, Icon icon, const QString& caption)
{
    const QString title = titleOf(caption);
    if (notShown(text, icon, title, "MESSAGE"))
        return;
    runBox(parent, new QMessageBox(qtIcon(icon), title, text, QMessageBox::Ok), [](QMessageBox*) {});
}

void startRecording(std::function<void(const Shown&)> onShown)
{
    Recorder& r = recorder();
    r.active = true;
    r.onShown = std::move(onShown);
    r.shown.clear();
    r.answers.clear();
}

void stopRecording()
{
    Recorder& r = recorder();
    r.active = false;
    r.onShown = nullptr;
    r.answers.clear();
}

QList<Shown> recorded()
{
    return recorder().shown;
}

QStringList recordedTexts()
{
    QStringList out;
    for (const Shown& s : recorder().shown)
        out << s.text;
    return out;
}

void clearRecorded()
{
    recorder().shown.clear();
}

void answerNext(bool yes)
{
    recorder().answers.append(yes);
}

} // namespace sorna::MessageBox
