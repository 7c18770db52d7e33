#include "foundation/gui/look.h"

#include <QApplication>
#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QFontDatabase>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLibraryInfo>
#include <QLineEdit>
#include <QPainter>
#include <QPalette>
#include <QPointer>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QStyle>
#include <QTranslator>
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

namespace {
std::optional<QRect>& areaForTests()
{
    static std::optional<QRect> area;
    return area;
}

void scaleFont(QWidget* w, double scale)
{
    QFont f = w->font();
    if (f.pointSizeF() > 0)
        f.setPointSizeF(f.pointSizeF() * scale);
    else if (f.pixelSize() > 0)
        f.setPixelSize(qMax(1, qRound(f.pixelSize() * scale)));
    w->setFont(f);
}
class EnterOnButtons : public QObject
{
public:
    using QObject::QObject;
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() != QEvent::KeyPress)
            return false;
        auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() != Qt::Key_Return && key->key() != Qt::Key_Enter)
            return false;
        if ((key->modifiers() & ~Qt::KeypadModifier) != Qt::NoModifier)
            return false;
        auto* button = qobject_cast<QPushButton*>(watched);
        if (!button || button->window()->focusWidget() != button)
            return false;
        if (!key->isAutoRepeat() && button->isEnabled() && button->isVisible())
            button->click();
        return true;
    }
};
} // namespace

void enterPressesFocusedButton()
{
    static QPointer<EnterOnButtons> filter;
    if (filter || !qApp)
        return;
    filter = new EnterOnButtons(qApp);
    qApp->installEventFilter(filter);
}

double fitScale(const QSize& design, const QSize& available)
{
    if (design.isEmpty() || available.isEmpty())
        return 1.0;
    const double byWidth = double(available.width() - kFrameAllowance.width()) / design.width();
    const double byHeight = double(available.height() - kFrameAllowance.height()) / design.height();
    return qBound(0.1, qMin(byWidth, byHeight), 1.0);
}

void setAvailableAreaForTests(std::optional<QRect> area)
{
    areaForTests() = area;
}

QRect availableArea(const QWidget* window)
{
    if (areaForTests())
        return *areaForTests();
    QScreen* screen = window ? window->screen() : nullptr;
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    return screen ? screen->availableGeometry() : QRect(0, 0, 1024, 728);
}

double fitWindow(QWidget* window, const QSize& design)
{
    const double scale = fitScale(design, availableArea(window).size());
    window->setProperty("designSize", design);
    window->setProperty("fitScale", scale);
    window->setFixedSize(qRound(design.width() * scale), qRound(design.height() * scale));
    if (scale >= 1.0)
        return scale;
    // Children inheriting the window's font shrink with it; those with a
    // font of their own shrink here.
    scaleFont(window, scale);
    for (QWidget* child : window->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        if (child->isWindow())
            continue;
        const QRect g = child->geometry();
        const int left = qRound(g.left() * scale);
        const int top = qRound(g.top() * scale);
        QSize size(qRound((g.left() + g.width()) * scale) - left,
                   qRound((g.top() + g.height()) * scale) - top);
        // An option button's round is drawn at the style's size, whatever
        // the button's: the button keeps room for it.
        if (qobject_cast<QRadioButton*>(child)) {
            const int round = child->style()->pixelMetric(QStyle::PM_ExclusiveIndicatorWidth, nullptr, child);
            size = size.expandedTo(QSize(round + 2, round + 2));
        }
        child->setGeometry(QRect(QPoint(left, top), size));
        if (child->testAttribute(Qt::WA_SetFont))
            scaleFont(child, scale);
    }
    return scale;
}

double scaleOf(const QWidget* window)
{
    const QVariant v = window->window()->property("fitScale");
    return v.isValid() ? v.toDouble() : 1.0;
}

QSize designSize(const QWidget* window)
{
    const QVariant v = window->property("designSize");
    return v.isValid() ? v.toSize() : window->size();
}

void scalePainter(QPainter& p, const QWidget* window)
{
    const double scale = scaleOf(window);
    if (scale != 1.0)
        p.scale(scale, scale);
}

void keepInside(QWidget* window)
{
    const QRect area = availableArea(window);
    // Before the first show the frame is not known: the most it can be.
    QRect frame = window->frameGeometry();
    if (frame.size() == window->size())
        frame = QRect(window->pos(), window->size() + kFrameAllowance);
    if (area.contains(frame))
        return;
    QRect placed = frame;
    placed.moveCenter(area.center());
    placed.moveTop(qMax(area.top(), placed.top()));
    placed.moveLeft(qMax(area.left(), placed.left()));
    // A window's position is that of its frame.
    window->move(placed.topLeft());
}

bool installKoreanTranslations()
{
    static QPointer<QTranslator> installed;
    if (installed || !qApp)
        return installed;
    auto* translator = new QTranslator(qApp);
    for (const QString& folder : {QCoreApplication::applicationDirPath() + QStringLiteral("/translations"),
                                  QLibraryInfo::path(QLibraryInfo::TranslationsPath)})
        if (translator->load(QStringLiteral("qtbase_ko"), folder)) {
            QCoreApplication::installTranslator(translator);
            installed = translator;
            return true;
        }
    delete translator;
    return false;
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
