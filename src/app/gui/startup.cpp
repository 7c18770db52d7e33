#include "app/startup.h"

#include "foundation/cp949.h"
#include "hostlink/zseed.h"

#include <QApplication>
#include <QMessageBox>

namespace sorna {

int RunClient(int argc, char** argv)
{
    QApplication app(argc, argv);
    if (!cp949::available() || !seed::available()) {
        QMessageBox::critical(nullptr, QStringLiteral("소르나 승인 시스템"),
                              QStringLiteral("필수 구성요소(CP949 변환 또는 SEED 암호)를 찾을 수 없습니다"));
        return 1;
    }
    return 0;
}

} // namespace sorna
