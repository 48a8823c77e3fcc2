// Read-only access to the user's settings.
//
// A value is named as a registry path under the current user, such as
//   "HKEY_CURRENT_USER\Software\OrvoTools\Vellixlibrarian\Locations\BookShelf".
// It lives in the INI file "$XDG_CONFIG_HOME/OrvoTools/Vellixlibrarian.conf"
// (default "~/.config"), section "[Locations]", key "BookShelf" -- the
// layout Qt's QSettings uses. Files are read afresh on every call and never
// written.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace vellix {

// The value at `registry_path`, or nothing when the file, section or key is
// missing or the path has no Software\<Org>\<App>\...\<Value> shape.
std::optional<std::string> ReadUserSetting(std::string_view registry_path);

// The settings file that holds `registry_path` ("" for a malformed path).
std::string SettingsFileFor(std::string_view registry_path);

}  // namespace vellix
