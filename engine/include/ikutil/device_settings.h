// The screen a page viewer lays books out for, as the user set it for the
// device: width and height in pixels, the grey depth in bits per pixel and
// the body text's size in pixels ("Font Size"): a larger screen of the same
// pixel density shows more text, not larger text.
//
// The settings live in the user's configuration folder
// ($XDG_CONFIG_HOME, else ~/.config) in "Inkleaf Press/Common.conf", an
// INI file whose [Preferences] section holds "Device Width", "Device
// Height", "Device Depth" and "Font Size" as whole numbers. The file is only read,
// never written. A missing file, section or key, or a value that is not a
// number, keeps the default. Values are passed on as found: the viewer,
// not this reader, refuses a size or depth it cannot show.
#pragma once

#include <cstdint>
#include <string>

namespace ikutil {

// The body text's size in pixels unless the settings say otherwise, and the
// sizes a viewer accepts.
inline constexpr int32_t kDefaultFontSize = 20;
inline constexpr int32_t kMinFontSize = 6;
inline constexpr int32_t kMaxFontSize = 120;

struct DeviceSettings {
  int32_t width = 480;
  int32_t height = 640;
  int16_t depth = 4;
  int32_t font_size = kDefaultFontSize;
};

// The settings file's path ("" when neither XDG_CONFIG_HOME nor HOME is set).
std::string DeviceSettingsPath();

// Reads the settings file; never throws.
DeviceSettings ReadDeviceSettings();
// The same from the text of a settings file.
DeviceSettings ParseDeviceSettings(const std::string& text);

}  // namespace ikutil
