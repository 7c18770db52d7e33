#include "login/gui/session.h"

#include "login/gui/form3.h"
#include "transaction/gui/form1.h"

#include <QListWidget>
#include <QPointer>

namespace sorna::session {
namespace {
QPointer<Form1> g_main;
QPointer<Form3> g_login;
} // namespace

Form3* showLoginWindow()
{
    if (!g_login)
        g_login = new Form3;
    g_login->setWindowModality(Qt::ApplicationModal);
    g_login->show();
    g_login->raise();
    g_login->activateWindow();
    return g_login;
}

Form1* openMainWindow()
{
    auto* main = new Form1;
    g_main = main;
    main->addResultLine(QStringLiteral("프로그램이 정상적으로 실행되었습니다"));
    QObject::connect(main, &Form1::loggedOut, [] { showLoginWindow(); });
    main->show();
    return main;
}

Form1* mainWindow()
{
    return g_main;
}
Form3* loginWindow()
{
    return g_login;
}

} // namespace sorna::session
