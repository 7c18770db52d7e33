#include "app/startup.h"

#include "foundation/cp949.h"
#include "foundation/gui/logreport.h"
#include "foundation/gui/look.h"
#include "foundation/gui/messagebox.h"
#include "foundation/paths.h"
#include "hostlink/zseed.h"
#include "login/gui/artwork.h"
#include "login/gui/form3.h"
#include "login/gui/session.h"
#include "transaction/reversalqueue.h"

#include <QApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QLockFile>
#include <QTimer>

namespace sorna {
namespace {

// One running copy per root folder.  A copy that was killed leaves a stale
// lock that the next start takes over.
QString lockPath()
{
    const QByteArray key =
        QCryptographicHash::hash(paths::root().toUtf8(), QCryptographicHash::Sha1).toHex().left(12);
    return QDir::tempPath() + QStringLiteral("/sorna-") + QString::fromLatin1(key) + QStringLiteral(".lock");
}

} // namespace

int RunClient(int argc, char** argv)
{
    paths::usePrivateFileModes();
    QApplication app(argc, argv);
    // The program's title, on a message box that has no caption of its own.
    // Set as the name and not as the display name: a display name would be
    // added to every window title ("소르나 승인 시스템 - 소르나").
    QApplication::setApplicationName(QStringLiteral("소르나"));
    QApplication::setWindowIcon(artwork::appIcon());
    look::installFontSubstitutions();

    if (!cp949::available() || !seed::available()) {
        MessageBox::show(nullptr,
                         QStringLiteral("필수 구성요소(CP949 변환 또는 SEED 암호)를 찾을 수 없습니다"),
                         MessageBox::Icon::Critical);
        return 1;
    }

    QLockFile lock(lockPath());
    lock.setStaleLockTime(0);
    if (!lock.tryLock(0)) {
        MessageBox::show(nullptr, QStringLiteral("프로그램이 이미 실행중입니다"), MessageBox::Icon::Warning);
        return 1;
    }

    installLogFailureReport();
    Form3* login = session::showLoginWindow();
    // Reversals that could not be delivered before are sent first.
    ReversalSender::instance()->start();

    // For start-up measurements: quit as soon as the first window is up.
    if (app.arguments().contains(QStringLiteral("--quit-when-shown")))
        QTimer::singleShot(0, &app, [login] {
            if (login->isVisible())
                QApplication::quit();
        });
    return app.exec();
}

} // namespace sorna
