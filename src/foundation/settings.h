#pragma once

#include <QString>

// Profile-string settings files (INI) read and written as CP949 bytes.
// Sections and keys compare without regard to letter case; blanks around a
// value are dropped on read, and then one pair of matching quotes (" or ')
// around it; a value reads back as at most 1023 bytes.  A
// write changes only its own line (or adds the key, or the section with the
// key) and keeps every other byte of the file.
namespace sorna {

QString ReadSetting(const QString& section, const QString& key, const QString& filePath);
// Returns false when the file could not be written; the caller decides
// whether that matters.
bool WriteSetting(const QString& section, const QString& key, const QString& value, const QString& filePath);

// The same on bytes in memory, so that the file logic is testable and fuzzable
// without a disk.
QByteArray iniRead(const QByteArray& file, const QByteArray& section, const QByteArray& key);
QByteArray iniWrite(const QByteArray& file, const QByteArray& section, const QByteArray& key,
                    const QByteArray& value);

} // namespace sorna
