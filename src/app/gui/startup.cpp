#include "app/startup.h"

#include "app/gui/testdrive.h"

#include "foundation/clock.h"
#include "foundation/cp949.h"
#include "foundation/gui/logreport.h"
#include "foundation/gui/look.h"
#include "foundation/gui/messagebox.h"
#include "foundation/paths.h"
#include "hostlink/zseed.h"
#include "journal/journal.h"
#include "journal/reversalsender.h"
#include "login/gui/artwork.h"
#include "login/gui/form3.h"
#include "login/gui/session.h"

#include <QApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QLockFile>
#include <QTimer>

#include <optional>

namespace sorna {
namespace {

// One running copy per root folder, whatever its user or temporary folder:
// two copies would both send and settle the same reversals.  A copy that was
// killed leaves a stale lock that the next start takes over.
QString lockPath()
{
    return paths::root() + QStringLiteral("/sorna.lock");
}

// A root folder that cannot be written (read-only, say) cannot hold the lock
// either; the copies are then told apart per user as before, and the journal
// says plainly that nothing can be recorded.
QString fallbackLockPath()
{
    const QByteArray key =
        QCryptographicHash::hash(paths::root().toUtf8(), QCryptographicHash::Sha1).toHex().left(12);
    return QDir::tempPath() + QStringLiteral("/sorna-") + QString::fromLatin1(key) + QStringLiteral(".lock");
}

} // namespace

int RunClient(int argc, char** argv)
{
    paths::usePrivateFileModes();
    Clock::readTimeZoneOnce();
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

    QDir().mkpath(paths::root());
    QLockFile lock(lockPath());
    lock.setStaleLockTime(0);
    bool locked = lock.tryLock(0);
    std::optional<QLockFile> fallback;
    if (!locked && lock.error() != QLockFile::LockFailedError) {
        fallback.emplace(fallbackLockPath());
        fallback->setStaleLockTime(0);
        locked = fallback->tryLock(0);
    }
    if (!locked) {
        MessageBox::show(nullptr, QStringLiteral("프로그램이 이미 실행중입니다"), MessageBox::Icon::Warning);
        return 1;
    }

    installLogFailureReport();
    // The journal first: it says which reversals are owed (also those of an
    // approval that was waiting when the program last ended).
    QString journalError;
    const bool journalOpen = Journal::instance().open(&journalError);
    Form3* login = session::showLoginWindow();
    if (!journalOpen)
        QTimer::singleShot(0, &app, [journalError] {
            MessageBox::show(nullptr,
                             QStringLiteral("거래내역을 열 수 없어 승인과 취소를 보낼 수 없습니다.\n"
                                            "카드 조회와 잔액조회는 할 수 있습니다.\n(") +
                                 journalError + u')',
                             MessageBox::Icon::Critical);
        });
    // Reversals owed from before are sent first.
    ReversalSender::instance()->start();
    startTestDrive();

    // For start-up measurements: quit as soon as the first window is up.
    if (app.arguments().contains(QStringLiteral("--quit-when-shown")))
        QTimer::singleShot(0, &app, [login] {
            if (login->isVisible())
                QApplication::quit();
        });
    return app.exec();
}

} // namespace sorna
