#pragma once

#include <QString>
#include <QStringList>

#include <optional>

namespace sorna {

// One merchant action of an operator script: a line "STEP ACTION ARGS...",
// STEP the action's number within the day.
//
//   login BUSINESS AUTH   log in (once the login window is up)
//   reader CARD           read a card with the card reader
//   manual CARD           type a card number into the manual entry window
//   item N                choose the N-th item of the card (counted from 0, modulo their number)
//   amount WON REASON     change the amount, with the N-th reason of the list (modulo its length)
//   mode N                switch the mode (1 approval, 2 cancellation, 3 balance)
//   pay                   press the pay button
//   dup yes|no            answer the duplicate question, once it is asked
//   receipt yes|no        answer the receipt question, once it is asked
//   journal-open          open the journal window
//   journal-cancel N      cancel the N-th row of the journal's day (modulo their number)
//   reprint N             reprint the receipt of the N-th row
//   journal-close         close the journal window
//   logout                log out
//   close                 close the program
//   wait MS               do nothing for MS milliseconds
//   settle MS             wait up to MS milliseconds until nothing happens by itself any more
struct OperatorAction
{
    int step = 0;
    QString name;
    QStringList args;

    // nullopt for a line that is no action (unknown name, wrong arguments).
    static std::optional<OperatorAction> parse(const QString& line);
};

// Test builds only: runs the operator script named by SORNA_TEST_SCRIPT on
// the real windows, logging every action with its time (and every message
// the program writes to its message log, and every message box and receipt
// question it shows) to SORNA_TEST_SCRIPT_LOG.  False when no script is set.
bool startOperatorScript();

} // namespace sorna
