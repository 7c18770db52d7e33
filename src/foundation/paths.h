#pragma once

#include <QString>

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

} // namespace sorna::paths
