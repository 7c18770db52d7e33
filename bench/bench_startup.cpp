// Client start-up and memory:
//  - BM_ClientStartup: the wall time from starting the real client process
//    `sorna --quit-when-shown` until it says "shown" (its login window has
//    been painted once), and until the process has ended; median and spread
//    over 20 runs after one run that fills the file caches.  Also the peak resident memory of those
//    processes. Argument 0: the offscreen platform; 1: a real X server (Xvfb, started here on a free
//    display), the xcb platform.
//  - BM_MemoryAfterLogin: this program opens the login window the way the
//    client does (same libraries, same start-up calls), logs the demo
//    merchant in against the reference host through LoginWindow's own button, and
//    reads VmRSS from /proc/self/status once the main window is up.
//
//   bench_startup [--benchmark_...]

#include "hostprocess.h"

#include "foundation/gui/artwork.h"
#include "foundation/gui/look.h"
#include "foundation/gui/messagebox.h"
#include "foundation/paths.h"
#include "foundation/settings.h"
#include "journal/journal.h"
#include "journal/reversalsender.h"
#include "login/gui/loginwindow.h"
#include "login/gui/session.h"
#include "transaction/gui/mainwindow.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>
#include <vector>

#include <sys/resource.h>

using namespace sorna;

namespace {

constexpr int kStartupRuns = 20;

// A line of /proc/self/status ("VmRSS:  123456 kB"), in kB.
double statusKb(const char* key)
{
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray prefix = QByteArray(key) + ':';
    for (const QByteArray& line : f.readAll().split('\n'))
        if (line.startsWith(prefix))
            return line.mid(prefix.size()).trimmed().split(' ').value(0).toDouble();
    return -1;
}

// An X server of its own for the runs on a real display: Xvfb on the first
// free display from :90 on, ended with the object.
class XServer
{
public:
    XServer()
    {
        for (int n = 90; n < 110 && m_display.isEmpty(); ++n) {
            if (QFile::exists(QStringLiteral("/tmp/.X%1-lock").arg(n)) ||
                QFile::exists(QStringLiteral("/tmp/.X11-unix/X%1").arg(n)))
                continue;
            m_process.setProgram(QStringLiteral("Xvfb"));
            m_process.setArguments({QStringLiteral(":%1").arg(n), QStringLiteral("-screen"),
                                    QStringLiteral("0"), QStringLiteral("1280x1024x24"),
                                    QStringLiteral("-nolisten"), QStringLiteral("tcp")});
            m_process.start();
            if (!m_process.waitForStarted(5000))
                return;
            const QDeadlineTimer deadline(10000);
            while (!deadline.hasExpired() && m_process.state() == QProcess::Running &&
                   !QFile::exists(QStringLiteral("/tmp/.X11-unix/X%1").arg(n)))
                QTest::qWait(20);
            if (m_process.state() == QProcess::Running &&
                QFile::exists(QStringLiteral("/tmp/.X11-unix/X%1").arg(n)))
                m_display = QStringLiteral(":%1").arg(n);
        }
        // The server takes connections once its socket is there; a moment
        // more for it to settle.
        if (!m_display.isEmpty())
            QTest::qWait(200);
    }
    ~XServer() { bench::stopProcess(m_process); }
    XServer(const XServer&) = delete;
    XServer& operator=(const XServer&) = delete;

    QString display() const { return m_display; }

private:
    QProcess m_process;
    QString m_display;
};

void BM_ClientStartup(benchmark::State& state)
{
    const bool onX = state.range(0) == 1;
    // 0: the client; 1: the smallest Qt program showing a line of Korean.
    const bool floor = state.range(1) == 1;
    std::unique_ptr<XServer> x;
    if (onX) {
        x = std::make_unique<XServer>();
        if (x->display().isEmpty()) {
            state.SkipWithError("no X server (Xvfb) could be started");
            return;
        }
    }
    QTemporaryDir root;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QUENDAL_ROOT"), root.path());
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), onX ? QStringLiteral("xcb") : QStringLiteral("offscreen"));
    if (onX)
        env.insert(QStringLiteral("DISPLAY"), x->display());
    // Nothing may wait for a click: a message would be printed instead.
    env.insert(QStringLiteral("SORNA_MESSAGES_TO_STDERR"), QStringLiteral("1"));
    env.insert(QStringLiteral("QT_LOGGING_RULES"), QStringLiteral("qt.qpa.*=false"));
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), root.path());
    WriteSetting(QStringLiteral("KolbrinInfo"), QStringLiteral("sorna_Ip"), QStringLiteral("127.0.0.1"),
                 root.filePath(QStringLiteral("Sorna_setting.ini")));
    WriteSetting(QStringLiteral("KolbrinInfo"), QStringLiteral("sorna_Port"), QStringLiteral("24680"),
                 root.filePath(QStringLiteral("Sorna_setting.ini")));

    std::vector<double> ms, wholeMs;
    int failures = 0;
    const auto run = [&]() -> double {
        QProcess p;
        p.setProcessEnvironment(env);
        p.setProgram(floor ? QStringLiteral(SORNA_FLOOR_BINARY) : QStringLiteral(SORNA_CLIENT_BINARY));
        p.setArguments({QStringLiteral("--quit-when-shown")});
        QElapsedTimer t;
        t.start();
        p.start();
        // The client says "shown" once the login window has been painted.
        QByteArray out;
        double shown = -1;
        QDeadlineTimer deadline(30000);
        while (shown < 0 && !deadline.hasExpired() && p.state() != QProcess::NotRunning) {
            p.waitForReadyRead(int(std::max<qint64>(1, deadline.remainingTime())));
            out += p.readAllStandardOutput();
            if (out.contains("shown\n"))
                shown = double(t.nsecsElapsed()) / 1e6;
        }
        const bool finished = p.waitForFinished(30000);
        const double elapsed = double(t.nsecsElapsed()) / 1e6;
        // A message (a second copy running, a missing component) means the
        // login window was never the first thing shown.
        const QByteArray said = p.readAllStandardError();
        if (!finished || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0 || shown < 0 ||
            said.contains("MESSAGE:")) {
            std::fprintf(stderr, "client run failed: %s\n", said.constData());
            p.kill();
            p.waitForFinished(5000);
            ++failures;
            return -1;
        }
        wholeMs.push_back(elapsed);
        return shown;
    };
    for (auto _ : state) {
        run(); // fills the file caches; not counted
        for (int i = 0; i < kStartupRuns; ++i)
            if (const double v = run(); v >= 0)
                ms.push_back(v);
    }
    if (ms.empty()) {
        state.SkipWithError("the client did not start");
        return;
    }
    std::sort(ms.begin(), ms.end());
    std::sort(wholeMs.begin(), wholeMs.end());
    const auto percentile = [](const std::vector<double>& v, double p) {
        const size_t rank = size_t(std::ceil(p * double(v.size())));
        return v[std::clamp<size_t>(rank, 1, v.size()) - 1];
    };
    const auto at = [&](double p) { return percentile(ms, p); };
    // The children's peak: Xvfb, a child too, is ended only after this.
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    state.counters["median_ms"] = at(0.5);
    state.counters["p90_ms"] = at(0.9);
    state.counters["min_ms"] = ms.front();
    state.counters["max_ms"] = ms.back();
    state.counters["whole_median_ms"] = percentile(wholeMs, 0.5);
    state.counters["runs"] = double(ms.size());
    state.counters["failures"] = failures;
    state.counters["peak_rss_mb"] = double(usage.ru_maxrss) / 1024.0;
    const char* program = floor ? "startup_floor (one label)" : "sorna --quit-when-shown";
    state.SetLabel(std::string(program) + (onX ? ", Xvfb (xcb)" : ", offscreen") + ", to the first paint");
    std::fprintf(stderr,
                 "%s start-up to its window painted (%s), %zu runs: median %.1f ms, p90 %.1f "
                 "ms, min %.1f ms, max %.1f ms; whole process (to its end) median %.1f ms; peak RSS %.1f MB; "
                 "failures %d\n",
                 floor ? "floor (one Qt label)" : "client", onX ? "Xvfb" : "offscreen", ms.size(), at(0.5),
                 at(0.9), ms.front(), ms.back(), percentile(wholeMs, 0.5), double(usage.ru_maxrss) / 1024.0,
                 failures);
}
// Runs first, before this program has started any other process (the peak
// resident memory is of all children so far: the offscreen runs come first).
BENCHMARK(BM_ClientStartup)
    ->Args({0, 0})
    ->Args({1, 0})
    ->Args({0, 1})
    ->Args({1, 1})
    ->Iterations(1)
    ->UseRealTime()
    ->Unit(benchmark::kMillisecond);

void BM_MemoryAfterLogin(benchmark::State& state)
{
    bench::HostProcess host;
    if (host.port() == 0) {
        state.SkipWithError("the reference host did not start");
        return;
    }
    QTemporaryDir root;
    qputenv("QUENDAL_ROOT", root.path().toUtf8());
    const QString settings = paths::settingsFile();
    WriteSetting(QStringLiteral("KolbrinInfo"), QStringLiteral("sorna_Ip"), QStringLiteral("127.0.0.1"),
                 settings);
    WriteSetting(QStringLiteral("KolbrinInfo"), QStringLiteral("sorna_Port"), QString::number(host.port()),
                 settings);
    WriteSetting(QStringLiteral("KolbrinInfo"), QStringLiteral("sorna_Issue_code"), QStringLiteral("3901"),
                 settings);
    // Any message would mean the login failed; it must not wait for a click.
    MessageBox::startRecording();

    double beforeKb = 0, loginKb = 0, afterKb = 0, peakKb = 0;
    bool loggedIn = false;
    for (auto _ : state) {
        beforeKb = statusKb("VmRSS");
        LoginWindow* login = session::showLoginWindow();
        ReversalSender::instance()->start();
        if (!QTest::qWaitForWindowExposed(login, 10000))
            break;
        QTest::qWait(200);
        loginKb = statusKb("VmRSS");

        login->Text1->setText(QStringLiteral("2148712345"));
        login->Text4->setText(QStringLiteral("482915"));
        login->btnLogin->click();
        const QDeadlineTimer deadline(15000);
        while (!deadline.hasExpired() && !(session::mainWindow() && session::mainWindow()->isVisible()))
            QTest::qWait(10);
        loggedIn = session::mainWindow() && QTest::qWaitForWindowExposed(session::mainWindow(), 10000);
        // The window settles (fonts, first paint, the answer's log line).
        QTest::qWait(500);
        afterKb = statusKb("VmRSS");
        peakKb = statusKb("VmHWM");
    }
    ReversalSender::instance()->stop();
    const QStringList messages = MessageBox::recordedTexts();
    MessageBox::stopRecording();
    delete session::mainWindow();
    if (!loggedIn) {
        state.SkipWithError(
            ("the login did not reach the main window: " + messages.join(u'/').toStdString()).c_str());
        return;
    }
    state.counters["rss_before_window_mb"] = beforeKb / 1024.0;
    state.counters["rss_login_window_mb"] = loginKb / 1024.0;
    state.counters["rss_after_login_mb"] = afterKb / 1024.0;
    state.counters["peak_rss_mb"] = peakKb / 1024.0;
    state.SetLabel("login through Form3 against the reference host, main window up, offscreen");
    std::fprintf(
        stderr,
        "resident memory: %.1f MB with the application object, %.1f MB with the login window, %.1f MB "
        "after login with the main window (peak %.1f MB)\n",
        beforeKb / 1024.0, loginKb / 1024.0, afterKb / 1024.0, peakKb / 1024.0);
}
BENCHMARK(BM_MemoryAfterLogin)->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("QT_LOGGING_RULES", "qt.qpa.*=false");
    // As the client starts (app/gui/startup.cpp).
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("소르나"));
    QApplication::setWindowIcon(artwork::appIcon());
    look::installFontSubstitutions();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
