#pragma once

#include <QMessageBox>
#include <QString>
#include <QStringList>

#include <functional>

class QWidget;

namespace sorna {

// Every message to the user goes through here: a modal box with an OK button.
// Tests replace the box by a recorder, so that no test ever blocks on a box.
namespace MessageBox {

inline const QString kCaption = QStringLiteral("소르나 승인 시스템");

enum class Icon
{
    None,
    Information,
    Warning,
    Critical,
    Question
};

// `caption` empty: the box carries the application's title.  The box is
// shown over `parent`'s window but is not owned by it: the window may close
// while the box is open (a socket event or a timer inside the box's own
// event loop) and the box stays until it is answered.
void show(QWidget* parent, const QString& text, Icon icon = Icon::None, const QString& caption = kCaption);

// A question with the buttons "예" and "아니요", "아니요" the default (Enter
// and Escape answer it): true only when "예" was chosen.
bool ask(QWidget* parent, const QString& text, Icon icon = Icon::Question, const QString& caption = kCaption);

// A box is as wide as its text wants, and a short text leaves the window
// system too little room for the title ("소··· 템"): the box is made wide
// enough for its whole title beside the icon and the close button.
void keepTitleWhole(QMessageBox* box);

struct Shown
{
    QString text;
    Icon icon;
    QString caption;
};

// Test seam.  While recording, show() records the message and returns at
// once; `onShown`, when set, runs in place of the box (it may act on the
// program as a user would after reading the message).
void startRecording(std::function<void(const Shown&)> onShown = {});
void stopRecording();
QList<Shown> recorded();
QStringList recordedTexts();
void clearRecorded();
// While recording, the answer of the next question; without one a question
// is answered with its default, "아니요".
void answerNext(bool yes);

} // namespace MessageBox
} // namespace sorna
