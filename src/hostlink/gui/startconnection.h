#pragma once

class QWidget;

namespace sorna {

class HostSocket;

// Starts an exchange on `socket`: closes it, takes the host and port from
// the settings and connects.  A settings file, host or port that is missing
// or cannot be used is said to the user, naming the file or key and the
// file's path, and nothing is connected.
bool StartConnection(QWidget* parent, HostSocket* socket);

} // namespace sorna
