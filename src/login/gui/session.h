#pragma once

namespace sorna {

class Form1;
class Form3;

// Which window is up: the login window until a merchant logs in, then the
// main window until logout brings the login window back.
namespace session {

Form3* showLoginWindow();
Form1* openMainWindow();
// The window currently open, or null.
Form1* mainWindow();
Form3* loginWindow();

} // namespace session
} // namespace sorna
