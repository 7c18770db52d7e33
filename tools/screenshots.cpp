// Grabs every window of the client to PNG files, for the guide and for a
// look at what was built.  Run under a display (xvfb-run) with QUENDAL_ROOT
// set to a folder with demo settings:
//   sorna-screenshots OUTPUT_FOLDER
#include "foundation/gui/look.h"
#include "foundation/paths.h"
#include "foundation/settings.h"
#include "login/gui/form1.h"
#include "login/gui/form3.h"
#include "merchant/gui/form4.h"

#include <QApplication>
#include <QDir>
#include <QLineEdit>
#include <QListWidget>
#include <QPixmap>
#include <QTimer>

using namespace sorna;

namespace {

void save(QWidget* w, const QString& folder, const QString& name)
{
    w->show();
    QApplication::processEvents();
    QTimer::singleShot(50, [] {});
    for (int i = 0; i < 5; ++i)
        QApplication::processEvents();
    w->grab().save(folder + u'/' + name);
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    look::installFontSubstitutions();
    const QString out = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral(".");
    QDir().mkpath(out);

    Form3 login;
    login.Text1->setText(QStringLiteral("2148712345"));
    login.Text4->setText(QStringLiteral("482915"));
    save(&login, out, QStringLiteral("login.png"));
    login.hide();

    auto* main = new Form1;
    main->lstResult->addItem(QStringLiteral("프로그램이 정상적으로 실행되었습니다"));
    save(main, out, QStringLiteral("main.png"));

    {
        Form4 info(main);
        save(&info, out, QStringLiteral("merchant.png"));
    }
    delete main;
    return 0;
}
