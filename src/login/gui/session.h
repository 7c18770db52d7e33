#pragma once

namespace sorna {

class MainWindow;
class LoginWindow;

// Which window is up: the login window until a merchant logs in, then the
// main window until logout brings the login window back.
namespace session {

LoginWindow* showLoginWindow();
MainWindow* openMainWindow();
// The window currently open, or null.
MainWindow* mainWindow();
LoginWindow* loginWindow();

} // namespace session
} // namespace sorna
