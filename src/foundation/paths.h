#pragma once

#include <QString>

#include <filesystem>

// Everything the program keeps lives below one root folder with fixed names:
// C:\Quendal on Windows, ~/Quendal elsewhere; QUENDAL_ROOT overrides it
// (tests, the demo).
namespace sorna::paths {

QString root();
QString settingsFile();        // Sorna_setting.ini
QString merchantInfoFile();    // Kolbrin.ini
QString updateClientFile();    // Update/UpdateServiceClient.ini
QString logFolder();           // Log
QString pendingReversalFile(); // reversals waiting for the host (before the journal)
QString journalFolder();       // Journal
QString journalFile();         // Journal/sorna.db

// A path as the system's own calls take it: the file-name encoding of the
// system (whatever the locale), wide characters on Windows.
std::filesystem::path native(const QString& path);

// From now on, files and folders this process creates are for the
// merchant's account only (0600 and 0700) on systems with file permissions:
// settings, logs, the reversal queue and printed receipts hold card numbers
// and merchant data.  Files that already exist keep their permissions.  Call
// once at start-up, before anything is written.
void usePrivateFileModes();

} // namespace sorna::paths
