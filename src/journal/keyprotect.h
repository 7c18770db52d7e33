#pragma once

// The journal's key at rest.  On Windows it is kept protected for the
// merchant's user account (the system's data protection, current-user
// scope): the file alone, copied to another account or PC, gives nothing.
// Elsewhere the file holds the key itself and is readable by its owner only.
// No Qt here, so that the Windows part builds with the platform's own
// headers alone.

#include <string>

namespace sorna::keyprotect {

// Whether this platform protects the key beyond the file's permissions.
bool protectsKey();
// The bytes to store for `key`; false when the platform refused.
bool protect(const std::string& key, std::string* stored);
// The key from stored bytes; false when they cannot be opened by this user
// account (another account's, another PC's, or damaged).
bool unprotect(const std::string& stored, std::string* key);

} // namespace sorna::keyprotect
