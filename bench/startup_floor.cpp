// The floor under the client's start-up: the smallest Qt Widgets program
// that shows one line of Korean text in the client's face, and says "shown"
// on the event loop's turn after its first paint, as `sorna
// --quit-when-shown` does.  bench_startup times it beside the client.

#include <QApplication>
#include <QFont>
#include <QLabel>
#include <QTimer>

#include <cstdio>

namespace {

class Label : public QLabel
{
public:
    using QLabel::QLabel;

protected:
    void paintEvent(QPaintEvent* event) override
    {
        QLabel::paintEvent(event);
        if (m_painted)
            return;
        m_painted = true;
        QTimer::singleShot(0, qApp, [] {
            std::fputs("shown\n", stdout);
            std::fflush(stdout);
            QApplication::quit();
        });
    }

private:
    bool m_painted = false;
};

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    Label label(QStringLiteral("소르나 승인 시스템 — 가맹점 로그인"));
    label.setFont(QFont(QStringLiteral("NanumBarunGothic"), 10));
    label.resize(400, 120);
    label.show();
    return app.exec();
}
