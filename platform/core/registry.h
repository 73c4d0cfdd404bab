#pragma once
// The settings store in place of the system registry.
//
// A path names a root and a key: "HKEY_CURRENT_USER\Software\Vantor\Filtrum".
// Each root is one INI file: the key path is the section, the value name the
// entry. The current user's root lives in $XDG_CONFIG_HOME/tarnix (else
// ~/.config/tarnix), the local machine's in /etc/xdg/tarnix; the variable
// TARNIX_REGISTRY_DIR puts both files into one folder instead (tests). Key and
// value names are matched without regard to letter case, as the registry does.
//
// Every call reads or rewrites the file itself; nothing is cached, so several
// processes see each other's writes at once. A write replaces the file
// atomically under an exclusive lock, so concurrent writers in other
// processes never lose each other's values and a crash never leaves half a file.
#include <string>

// The value's text; the default when the key or the value is missing or the
// stored text is empty. A path without a root name means the local machine.
std::string RegReadString(const std::string& path, const std::string& name,
                          const std::string& defaultValue);

// Writes the value, creating the key. A key that cannot be opened for writing
// (unknown root, unwritable file) leaves the value unwritten, silently.
void RegWriteString(const std::string& path, const std::string& name, const std::string& value);

namespace platform {

// The INI file that holds a root ("HKEY_CURRENT_USER" or "HKEY_LOCAL_MACHINE").
std::string RegistryFileOf(const std::string& rootName);

} // namespace platform
