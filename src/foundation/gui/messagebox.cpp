#include "foundation/gui/messagebox.h"

#include <QApplication>
#include <QPointer>
#include <QWindow>

#include <cstdio>

namespace sorna::MessageBox {
namespace {

struct Recorder
{
    bool active = false;
    std::function<void(const Shown&)> onShown;
    QList<Shown> shown;
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
    case Icon::None:
        break;
    }
    return QMessageBox::NoIcon;
}

} // namespace

void show(QWidget* parent, const QString& text, Icon icon, const QString& caption)
{
    const QString title = caption.isEmpty() ? QApplication::applicationDisplayName() : caption;
    Recorder& r = recorder();
    if (r.active) {
        const Shown s{text, icon, title};
        r.shown.append(s);
        if (r.onShown)
            r.onShown(s);
        return;
    }
    // Programs driven by another program (process tests, measurements) say
    // their messages on standard error instead of waiting for a click.
    if (qEnvironmentVariableIsSet("SORNA_MESSAGES_TO_STDERR")) {
        fprintf(stderr, "MESSAGE: %s\n", text.toUtf8().constData());
        fflush(stderr);
        return;
    }
    // A box runs its own event loop, in which socket events and timers go
    // on: the login answer may close the login window while its box is
    // open, a time-out the main window.  So the box belongs to no window
    // (the window's end would free it under its own loop, or take the
    // message away unread); it is only placed over that window, which the
    // window system forgets by itself when the window goes.
    const QPointer<QWidget> over = parent ? parent->window() : nullptr;
    const QPointer<QMessageBox> box = new QMessageBox(qtIcon(icon), title, text, QMessageBox::Ok);
    box->setWindowModality(Qt::ApplicationModal);
    if (over && over->windowHandle()) {
        box->winId();
        box->windowHandle()->setTransientParent(over->windowHandle());
    }
    box->exec();
    delete box.data();
}

void startRecording(std::function<void(const Shown&)> onShown)
{
    Recorder& r = recorder();
    r.active = true;
    r.onShown = std::move(onShown);
    r.shown.clear();
}

void stopRecording()
{
    Recorder& r = recorder();
    r.active = false;
    r.onShown = nullptr;
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

} // namespace sorna::MessageBox
