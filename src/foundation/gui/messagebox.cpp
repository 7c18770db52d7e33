#include "foundation/gui/messagebox.h"

#include <QApplication>

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
    QMessageBox box(qtIcon(icon), title, text, QMessageBox::Ok, parent);
    box.exec();
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
