#pragma once

class QWidget;

namespace sorna {

class Winsock;

// Starts an exchange on `socket`: closes it, takes the host and port from
// the settings and connects.  A port setting that is empty or not a number
// from 1 to 65535 is said to the user and nothing is connected.
bool StartConnection(QWidget* parent, Winsock* socket);

} // namespace sorna
