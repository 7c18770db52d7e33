#pragma once

namespace sorna {
// Starts the client: checks the code page and the cipher, refuses a second
// running copy, shows the login window and runs the event loop.
int RunClient(int argc, char** argv);
} // namespace sorna
