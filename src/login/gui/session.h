#pragma once

namespace sorna {

class MainWindow;
class Form3;

// Which window is up: the login window until a merchant logs in, then the
// main window until logout brings the login window back.
namespace session {

Form3* showLoginWindow();
MainWindow* openMainWindow();
// The window currently open, or null.
MainWindow* mainWindow();
Form3* loginWindow();

} // namespace session
} // namespace sorna
