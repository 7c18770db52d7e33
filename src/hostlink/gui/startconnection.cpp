#include "hostlink/gui/startconnection.h"

#include "foundation/gui/messagebox.h"
#include "foundation/paths.h"
#include "foundation/settings.h"
#include "hostlink/winsock.h"

namespace sorna {

bool StartConnection(QWidget* parent, Winsock* socket)
{
    socket->Close();
    const QString file = paths::settingsFile();
    int port = 0;
    if (!ParsePort(ReadSetting(QStringLiteral("KolbrinInfo"), QStringLiteral("sorna_Port"), file), &port)) {
        MessageBox::show(parent, QStringLiteral("통신 설정(포트)이 올바르지 않습니다"));
        return false;
    }
    socket->RemoteHost = ReadSetting(QStringLiteral("KolbrinInfo"), QStringLiteral("sorna_Ip"), file);
    socket->RemotePort = port;
    socket->Connect();
    return true;
}

} // namespace sorna
