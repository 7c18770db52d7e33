#pragma once

#include <QColor>
#include <QFont>
#include <QRect>
#include <QString>

class QWidget;
class QLineEdit;
class QComboBox;

// The windows are laid out in twips, 15 to a pixel, with the fonts and the
// system colours of the counter PC.
namespace sorna::look {

constexpr int twips(int t)
{
    return t / 15;
}
inline QRect twipsRect(int left, int top, int width, int height)
{
    return QRect(twips(left), twips(top), twips(width), twips(height));
}
void place(QWidget* w, int left, int top, int width, int height);

inline const QString kUiFamily = QStringLiteral("나눔바른고딕");
QFont uiFont(double points, int weight = 400);
// NanumSquare_ac asked for by weight: the family name with "ExtraBold"
// alone gives the regular face.
QFont squareFont(double points, int weight);

// System colour 3 (inactive title bar) and 15 (button face) of the counter PC.
inline const QColor kInactiveTitle(191, 205, 219);
inline const QColor kButtonFace(240, 240, 240);
inline const QColor kWhite(255, 255, 255);
inline const QColor kLightGrey(230, 230, 230);

// The two looks of an input: open (enabled, white, single border) and closed
// (disabled, grey, no border).
void setOpen(QLineEdit* box);
void setClosed(QLineEdit* box, const QColor& grey);
void setBackColor(QWidget* w, const QColor& colour);
void setBorder(QLineEdit* box, bool border);

// Input taken without the input method: a keyboard-wedge card reader types
// its track data as keys, and a Korean input method left in Hangul mode
// would turn its letters into jamo; numbers are typed the same way.  No
// predictive text either.  `digitsOnly` also tells the system the box takes
// digits.  QLineEdit turns the input method on again when its read-only or
// echo mode changes: call this after those.
void noInputMethod(QWidget* box, bool digitsOnly = false);

// Registers the fonts shipped in fonts/ beside the program and adds
// substitutions for faces the counter PC has and this machine may not.
void installFontSubstitutions();

} // namespace sorna::look
