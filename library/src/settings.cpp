#include "vellix/settings.h"

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <vector>

#include "vellix/formats/ascii.h"
#include "vellix/formats/codepage.h"

namespace vellix {
namespace {

struct SettingPath {
  std::string file;  // "<Org>/<App>.conf" below the config folder
  std::string key;   // "Group/Sub/Value", or "General/Value" without groups
};

std::optional<SettingPath> ParsePath(std::string_view path) {
  for (std::string_view hive : {"HKEY_CURRENT_USER\\", "HKCU\\"})
    if (vellix::formats::StartsWithIgnoringAsciiCase(path, hive)) path.remove_prefix(hive.size());
  if (!vellix::formats::StartsWithIgnoringAsciiCase(path, "Software\\")) return std::nullopt;
  path.remove_prefix(9);
  std::vector<std::string> parts;
  size_t start = 0;
  while (true) {
    size_t bs = path.find('\\', start);
    parts.emplace_back(path.substr(start, bs - start));
    if (bs == std::string_view::npos) break;
    start = bs + 1;
  }
  if (parts.size() < 3) return std::nullopt;
  for (const auto& p : parts)
    if (p.empty()) return std::nullopt;
  SettingPath out;
  out.file = parts[0] + "/" + parts[1] + ".conf";
  if (parts.size() == 3) out.key = "General/";
  for (size_t i = 2; i < parts.size(); ++i) out.key += parts[i] + (i + 1 < parts.size() ? "/" : "");
  return out;
}

std::string ConfigFolder() {
  const char* xdg = std::getenv("XDG_CONFIG_HOME");
  if (xdg && *xdg == '/') return xdg;
  const char* home = std::getenv("HOME");
  return std::string(home ? home : "") + "/.config";
}

// Blanks of a settings line (already split at LF).
std::string Trim(std::string_view s) { return std::string(vellix::formats::TrimAscii(s, " \t\r")); }

// Section and key names: "%XX" and "%UXXXX" escapes; "\" separates groups.
std::string UnescapeName(std::string_view s) {
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] == '%' && i + 2 < s.size()) {
      if (s[i + 1] == 'U' && i + 5 < s.size()) {
        unsigned v = 0;
        bool ok = true;
        for (size_t k = i + 2; k < i + 6; ++k) {
          ok = ok && vellix::formats::HexValue(s[k]) >= 0;
          v = v * 16 + static_cast<unsigned>(vellix::formats::HexValue(s[k]));
        }
        if (ok) {
          formats::AppendUtf8(out, v);
          i += 5;
          continue;
        }
      }
      int h = vellix::formats::HexValue(s[i + 1]), l = vellix::formats::HexValue(s[i + 2]);
      if (h >= 0 && l >= 0) {
        out += static_cast<char>(h * 16 + l);
        i += 2;
        continue;
      }
    }
    out += s[i] == '\\' ? '/' : s[i];
  }
  return out;
}

// A value as QSettings writes a string: optionally quoted, with C escapes;
// an unquoted comma would make it a list, which reads back in string form.
std::string UnescapeValue(std::string_view s) {
  std::string out;
  bool quoted = false;
  for (size_t i = 0; i < s.size(); ++i) {
    char c = s[i];
    if (c == '"') {
      quoted = !quoted;
      continue;
    }
    if (c == '\\' && i + 1 < s.size()) {
      char n = s[++i];
      switch (n) {
        case 'n':
          out += '\n';
          break;
        case 't':
          out += '\t';
          break;
        case 'r':
          out += '\r';
          break;
        case '0':
          out += '\0';
          break;
        case 'x': {
          unsigned v = 0;
          while (i + 1 < s.size() && vellix::formats::HexValue(s[i + 1]) >= 0)
            v = v * 16 + static_cast<unsigned>(vellix::formats::HexValue(s[++i]));
          formats::AppendUtf8(out, v & 0xFFFF);
          break;
        }
        default:
          out += n;
      }
      continue;
    }
    if (c == ';' && !quoted) break;  // a trailing comment
    out += c;
  }
  if (out.rfind("@String(", 0) == 0 && out.back() == ')') return out.substr(8, out.size() - 9);
  if (out.rfind("@@", 0) == 0) return out.substr(1);
  return out;
}

}  // namespace

std::string SettingsFileFor(std::string_view registry_path) {
  auto path = ParsePath(registry_path);
  return path ? ConfigFolder() + "/" + path->file : "";
}

std::optional<std::string> ReadUserSetting(std::string_view registry_path) {
  auto path = ParsePath(registry_path);
  if (!path) return std::nullopt;
  std::ifstream in(ConfigFolder() + "/" + path->file, std::ios::binary);
  if (!in) return std::nullopt;
  std::string section = "General";
  std::optional<std::string> found;
  std::string line;
  while (std::getline(in, line)) {
    std::string text = Trim(line);
    if (text.empty() || text[0] == ';' || text[0] == '#') continue;
    if (text.front() == '[' && text.back() == ']') {
      section = UnescapeName(text.substr(1, text.size() - 2));
      continue;
    }
    size_t eq = text.find('=');
    if (eq == std::string::npos) continue;
    std::string key = section + "/" + UnescapeName(Trim(text.substr(0, eq)));
    if (key == path->key) found = UnescapeValue(Trim(text.substr(eq + 1)));  // the last one wins
  }
  if (found && *found == "@Invalid()") return std::nullopt;
  return found;
}

}  // namespace vellix
