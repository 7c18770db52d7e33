#include "hostlink/gui/startconnection.h"

#include "foundation/gui/messagebox.h"
#include "foundation/paths.h"
#include "hostlink/winsock.h"

namespace sorna {

bool StartConnection(QWidget* parent, Winsock* socket)
{
    socket->Close();
    const HostSettings host = ReadHostSettings(paths::settingsFile());
    if (!host.problem.isEmpty()) {
        MessageBox::show(parent, host.problem);
        return false;
    }
    socket->RemoteHost = host.host;
    socket->RemotePort = host.port;
    socket->Connect();
    return true;
}

} // namespace sorna
