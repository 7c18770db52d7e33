#pragma once

#include <QColor>
#include <QFont>
#include <QRect>
#include <QSize>
#include <QString>

#include <optional>

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

// A window laid out in fixed pixels that, with its frame, does not fit the
// screen's available area (the taskbar left out) at the system's scale is
// shrunk whole: its controls' places and fonts and what it paints alike, so
// that its layout keeps its proportions.  Never enlarged.
inline constexpr QSize kFrameAllowance(16, 40); // title bar and borders, at most
double fitScale(const QSize& design, const QSize& available);
// The available area of the screen the window is on (or will be shown on).
QRect availableArea(const QWidget* window);
// Tests put a screen of their own size in place of the real one.
void setAvailableAreaForTests(std::optional<QRect> area);
// Sets the window's fixed size from its design size, shrunk to fit, and
// shrinks its direct children placed so far with it.  Call once, at the end
// of the constructor; returns the scale.
double fitWindow(QWidget* window, const QSize& design);
// The scale fitWindow chose (1 for a window it never saw).
double scaleOf(const QWidget* window);
// Painting in design pixels: the painter scaled by the window's scale.
void scalePainter(class QPainter& p, const QWidget* window);
QSize designSize(const QWidget* window);
// Moves the window so that its frame (estimated before it is first shown)
// lies inside the available area, centred when it lay outside.
void keepInside(QWidget* window);

// Enter (or the keypad's Enter) on a push button with the focus presses it,
// in every window, as on the counter PC; a held key presses it once.
// Installs itself once; every window that has buttons calls it.
void enterPressesFocusedButton();

// Qt's own Korean texts (확인, 취소, 저장 on standard buttons, the file
// dialogs), from translations/ beside the program or else Qt's own folder.
// False when none was found: the standard texts stay English.
bool installKoreanTranslations();

// Registers the fonts shipped in fonts/ beside the program and adds
// substitutions for faces the counter PC has and this machine may not.
void installFontSubstitutions();

} // namespace sorna::look
