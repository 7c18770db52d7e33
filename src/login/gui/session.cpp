#include "login/gui/session.h"

#include "login/gui/loginwindow.h"
#include "transaction/gui/mainwindow.h"

#include "foundation/gui/look.h"

#include <QListWidget>
#include <QPointer>

#include <optional>

namespace sorna::session {
namespace {
QPointer<MainWindow> g_main;
QPointer<LoginWindow> g_login;
// Where the merchant left the login window: it comes back there after a
// logout.
std::optional<QPoint> g_loginPlace;
} // namespace

LoginWindow* showLoginWindow()
{
    if (!g_login) {
        g_login = new LoginWindow;
        if (g_loginPlace) {
            g_login->move(*g_loginPlace);
            look::keepInside(g_login);
        }
    }
    g_login->setWindowModality(Qt::ApplicationModal);
    g_login->show();
    g_login->raise();
    g_login->activateWindow();
    return g_login;
}

MainWindow* openMainWindow()
{
    if (g_login)
        g_loginPlace = g_login->pos();
    auto* main = new MainWindow;
    g_main = main;
    main->addResultLine(QStringLiteral("프로그램이 정상적으로 실행되었습니다"));
    main->loginAnswered();
    QObject::connect(main, &MainWindow::loggedOut, [] { showLoginWindow(); });
    main->show();
    return main;
}

MainWindow* mainWindow()
{
    return g_main;
}
LoginWindow* loginWindow()
{
    return g_login;
}

} // namespace sorna::session
