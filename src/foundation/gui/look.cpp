#include "foundation/gui/look.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QFontDatabase>
#include <QLineEdit>
#include <QPalette>
#include <QWidget>

namespace sorna::look {

void place(QWidget* w, int left, int top, int width, int height)
{
    w->setGeometry(twipsRect(left, top, width, height));
}

QFont uiFont(double points, int weight)
{
    QFont f(kUiFamily);
    f.setPointSizeF(points);
    f.setWeight(QFont::Weight(weight));
    return f;
}

QFont squareFont(double points, int weight)
{
    QFont f(QStringLiteral("NanumSquare_ac"));
    f.setPointSizeF(points);
    f.setWeight(QFont::Weight(weight));
    return f;
}

void setBackColor(QWidget* w, const QColor& colour)
{
    QPalette p = w->palette();
    for (QPalette::ColorGroup g : {QPalette::Active, QPalette::Inactive, QPalette::Disabled}) {
        p.setColor(g, QPalette::Base, colour);
        p.setColor(g, QPalette::Button, colour);
    }
    w->setPalette(p);
    w->setProperty("backColor", colour);
}

void setBorder(QLineEdit* box, bool border)
{
    box->setFrame(border);
    box->setProperty("hasBorder", border);
}

void setOpen(QLineEdit* box)
{
    box->setEnabled(true);
    setBackColor(box, kWhite);
    setBorder(box, true);
}

void setClosed(QLineEdit* box, const QColor& grey)
{
    box->setEnabled(false);
    setBackColor(box, grey);
    setBorder(box, false);
}

void noInputMethod(QWidget* box, bool digitsOnly)
{
    box->setAttribute(Qt::WA_InputMethodEnabled, false);
    Qt::InputMethodHints hints = box->inputMethodHints() | Qt::ImhNoPredictiveText | Qt::ImhPreferLatin |
                                 Qt::ImhLatinOnly | Qt::ImhNoAutoUppercase;
    if (digitsOnly)
        hints |= Qt::ImhDigitsOnly;
    box->setInputMethodHints(hints);
}

void installFontSubstitutions()
{
    // The program for Windows ships the faces it asks for in fonts/ beside
    // it: a counter PC has 굴림 but none of the Nanum faces nor D2Coding.
    const QDir bundled(QCoreApplication::applicationDirPath() + QStringLiteral("/fonts"));
    for (const QString& name :
         bundled.entryList({QStringLiteral("*.ttf"), QStringLiteral("*.ttc")}, QDir::Files))
        QFontDatabase::addApplicationFont(bundled.filePath(name));
    // Windows' font list knows a face added this way by its English name only.
    QFont::insertSubstitutions(kUiFamily, {QStringLiteral("NanumBarunGothic")});
    QFont::insertSubstitutions(QStringLiteral("굴림"),
                               {QStringLiteral("NanumGothic"), QStringLiteral("나눔고딕")});
    QFont::insertSubstitutions(QStringLiteral("@굴림"),
                               {QStringLiteral("NanumGothic"), QStringLiteral("나눔고딕")});
}

} // namespace sorna::look
