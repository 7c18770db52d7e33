#include "app/startup.h"

#include "app/gui/testdrive.h"

#include "foundation/clock.h"
#include "foundation/cp949.h"
#include "foundation/gui/artwork.h"
#include "foundation/gui/logreport.h"
#include "foundation/gui/look.h"
#include "foundation/gui/messagebox.h"
#include "foundation/instancelock.h"
#include "foundation/paths.h"
#include "hostlink/zseed.h"
#include "journal/journal.h"
#include "journal/reversalsender.h"
#include "login/gui/loginwindow.h"
#include "login/gui/session.h"

#include <QApplication>
#include <QDir>
#include <QEvent>
#include <QTimer>

#include <cstdio>
#include <filesystem>
#include <functional>

namespace sorna {
namespace {

// One running copy per root folder, whatever its user or temporary folder:
// two copies would both send and settle the same reversals.  The lock is the
// system's own on the root's lock file and dies with its process.  A root
// that cannot be written locks its journal folder (or the root itself)
// instead, so that two spellings of one root are still one copy.

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
    static InstanceLock lock;
    const InstanceLock::Result locked =
        lock.acquire(paths::native(paths::root() + QStringLiteral("/sorna.lock")),
                     {paths::native(paths::journalFolder()), paths::native(paths::root())});
    if (locked != InstanceLock::Result::Held) {
        MessageBox::show(nullptr,
                         locked == InstanceLock::Result::Busy
                             ? QStringLiteral("프로그램이 이미 실행중입니다")
                             : QStringLiteral("프로그램 폴더를 잠글 수 없어 시작할 수 없습니다.\n"
                                              "폴더 권한을 확인해 주세요.\n(") +
                                   QDir::toNativeSeparators(paths::root()) + u')',
                         MessageBox::Icon::Warning);
        return 1;
    }

    installLogFailureReport();
    LoginWindow* login = session::showLoginWindow();
    // The journal is opened once the login window has been painted: nothing
    // can be paid before the login, and the window comes up sooner.  It says
    // which reversals are owed (also those of an approval that was waiting
    // when the program last ended); those are sent first.
    new AfterFirstPaint(login, 500, [] {
        QString journalError;
        Journal& journal = Journal::instance();
        const bool journalOpen = journal.open(&journalError);
        ReversalSender::instance()->start();
        if (!journalOpen) {
            const QString plain = journal.plainProblem();
            MessageBox::show(nullptr,
                             plain.isEmpty()
                                 ? QStringLiteral("거래내역을 열 수 없어 승인과 취소를 보낼 수 "
                                                  "없습니다.\n카드 조회와 잔액조회는 할 수 "
                                                  "있습니다.\n(") +
                                       journalError + u')'
                                 : plain + QStringLiteral("\n카드 조회와 잔액조회는 할 수 있습니다."),
                             MessageBox::Icon::Critical);
        }
        // What was lost or found altered is said before any payment can be
        // recorded; lost rows first.
        for (const QString& notice : journal.takeNotices())
            MessageBox::show(nullptr, notice, MessageBox::Icon::Warning);
        journal.acknowledgeLoss();
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
    const int result = app.exec();
    ReversalSender::instance()->finishBeforeExit();
    return result;
}

} // namespace sorna
