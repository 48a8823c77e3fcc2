#include "ikutil/device_settings.h"

#include <charconv>
#include <cstdlib>
#include <fstream>
#include <limits>
#include <sstream>
#include <string_view>

#include "vellix/formats/ascii.h"

namespace ikutil {
namespace {

// Blanks of a settings line (already split at LF).
std::string_view Trim(std::string_view text) { return vellix::formats::TrimAscii(text, " \t\r"); }

// Settings writers may store a key's blanks as "%20"; both spellings name
// the same key.
std::string DecodeKey(std::string_view key) {
  std::string out;
  for (size_t i = 0; i < key.size(); ++i) {
    if (key[i] == '%' && key.substr(i + 1, 2) == "20") {
      out += ' ';
      i += 2;
    } else {
      out += key[i];
    }
  }
  return out;
}

// A whole decimal number that fits T, possibly quoted; false otherwise.
template <typename T>
bool ParseNumber(std::string_view text, T* value) {
  text = Trim(text);
  if (text.size() >= 2 && text.front() == '"' && text.back() == '"') text = Trim(text.substr(1, text.size() - 2));
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  int64_t number = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), number);
  if (ec != std::errc() || end != text.data() + text.size() || text.empty()) return false;
  if (number < std::numeric_limits<T>::min() || number > std::numeric_limits<T>::max()) return false;
  *value = static_cast<T>(number);
  return true;
}

}  // namespace

std::string DeviceSettingsPath() {
  std::string folder;
  if (const char* config = std::getenv("XDG_CONFIG_HOME"); config != nullptr && *config == '/') {
    folder = config;
  } else if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0') {
    folder = std::string(home) + "/.config";
  } else {
    return "";
  }
  return folder + "/Inkleaf Press/Common.conf";
}

DeviceSettings ParseDeviceSettings(const std::string& text) {
  DeviceSettings settings;
  std::istringstream lines(text);
  std::string line;
  bool in_preferences = false;
  while (std::getline(lines, line)) {
    std::string_view view = Trim(line);
    if (view.empty() || view.front() == ';' || view.front() == '#') continue;
    if (view.front() == '[') {
      in_preferences = view == "[Preferences]";
      continue;
    }
    const size_t equals = view.find('=');
    if (!in_preferences || equals == std::string_view::npos) continue;
    const std::string key = DecodeKey(Trim(view.substr(0, equals)));
    const std::string_view value = view.substr(equals + 1);
    if (key == "Device Width") {
      ParseNumber(value, &settings.width);
    } else if (key == "Device Height") {
      ParseNumber(value, &settings.height);
    } else if (key == "Device Depth") {
      ParseNumber(value, &settings.depth);
    } else if (key == "Font Size") {
      ParseNumber(value, &settings.font_size);
    }
  }
  return settings;
}

DeviceSettings ReadDeviceSettings() {
  const std::string path = DeviceSettingsPath();
  if (path.empty()) return {};
  std::ifstream file(path, std::ios::binary);
  if (!file) return {};
  // A settings file is a few lines; anything far larger is not one.
  constexpr std::streamsize kMostBytes = 1 << 20;
  std::string text(static_cast<size_t>(kMostBytes), '\0');
  file.read(text.data(), kMostBytes);
  text.resize(static_cast<size_t>(file.gcount()));
  return ParseDeviceSettings(text);
}

}  // namespace ikutil
