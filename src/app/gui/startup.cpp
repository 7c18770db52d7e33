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
#include <QEvent>
#include <QLockFile>
#include <QTimer>

#include <cstdio>
#include <functional>
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

// Runs `then` once, on the event loop's turn after the first paint of the
// watched window, or after `latestMs` if no paint has come by then.
class AfterFirstPaint : public QObject
{
public:
    AfterFirstPaint(QWidget* window, int latestMs, std::function<void()> then)
        : QObject(window), m_then(std::move(then))
    {
        window->installEventFilter(this);
        QTimer::singleShot(latestMs, this, [this] { run(); });
    }
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Paint)
            QTimer::singleShot(0, this, [this] { run(); });
        return QObject::eventFilter(watched, event);
    }

private:
    void run()
    {
        if (!m_then)
            return;
        const auto then = std::move(m_then);
        m_then = nullptr;
        parent()->removeEventFilter(this);
        then();
    }

    std::function<void()> m_then;
};

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
    look::installKoreanTranslations();
    look::enterPressesFocusedButton();

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
    Form3* login = session::showLoginWindow();
    // The journal is opened once the login window has been painted: nothing
    // can be paid before the login, and the window comes up sooner.  It says
    // which reversals are owed (also those of an approval that was waiting
    // when the program last ended); those are sent first.
    new AfterFirstPaint(login, 500, [] {
        QString journalError;
        const bool journalOpen = Journal::instance().open(&journalError);
        ReversalSender::instance()->start();
        if (!journalOpen)
            MessageBox::show(nullptr,
                             QStringLiteral("거래내역을 열 수 없어 승인과 취소를 보낼 수 없습니다.\n"
                                            "카드 조회와 잔액조회는 할 수 있습니다.\n(") +
                                 journalError + u')',
                             MessageBox::Icon::Critical);
    });
    startTestDrive();

    // For start-up measurements: once the login window has been painted for
    // the first time, say "shown" on standard output and quit.
    if (app.arguments().contains(QStringLiteral("--quit-when-shown")))
        new AfterFirstPaint(login, 30000, [] {
            std::fputs("shown\n", stdout);
            std::fflush(stdout);
            QApplication::quit();
        });
    return app.exec();
}

} // namespace sorna
