#include "hostlink/gui/startconnection.h"

#include "foundation/gui/messagebox.h"
#include "foundation/paths.h"
#include "hostlink/hostsocket.h"

namespace sorna {

bool StartConnection(QWidget* parent, HostSocket* socket)
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
