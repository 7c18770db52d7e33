#include "foundation/gui/logreport.h"

#include "foundation/gui/messagebox.h"
#include "foundation/messagelog.h"

#include <QApplication>
#include <QTimer>

namespace sorna {

void installLogFailureReport()
{
    setLogFailureHandler([shown = false](const QString& path) mutable {
        if (shown)
            return;
        shown = true;
        // Said after the exchange step that wrote the line has finished.
        QTimer::singleShot(0, qApp, [path] {
            MessageBox::show(QApplication::activeWindow(),
                             QStringLiteral("로그 파일을 기록할 수 없습니다") + u'\n' + path,
                             MessageBox::Icon::Warning);
        });
    });
}

} // namespace sorna
