#include "vellix/settings.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <optional>
#include <tuple>

#include "test_util.h"
#include "vellix/application.h"

namespace vellix {
namespace {

using namespace fixtures;

// The settings file is read afresh on every call, as the settings library
// writes it: names exact, quoted values, doubled backslashes, escaped keys.
TEST(SettingsTest, ReadAfreshAsWritten) {
  TempDir dir;
  std::optional<std::string> saved;
  if (const char* old = getenv("XDG_CONFIG_HOME")) saved = old;
  setenv("XDG_CONFIG_HOME", dir.path().c_str(), 1);
  EXPECT_EQ(Application::BookshelfDirectory() + Application::DskDirectory(), "");  // no file, no folder
  std::filesystem::create_directories(dir / "OrvoTools");
  // The file, the bookshelf and the device folder it gives.
  const std::tuple<std::string, std::string, std::string> kFiles[] = {
      {"[Locations]\nbookshelf=/wrong/case\n", "", ""},
      {"[Locations]\nBookShelf=/home/u/Books\nDsK=/home/u/Device\n", "/home/u/Books", "/home/u/Device"},
      {"[Locations]\nBookShelf=/elsewhere\n", "/elsewhere", ""},
      {"; comment\n[General]\ntop=1\n[Locations]\nBookShelf=\"/home/u/My Books, old\"\nDsK=C:\\\\Device\n"
       "[Sites]\nRemoteBookShelfUrl=http://example.test/shelf/list.txt\n[Common/Preferences]\nDevice%20Width=600\n",
       "/home/u/My Books, old", "C:\\Device"},
  };
  for (const auto& [file, bookshelf, device] : kFiles) {
    dir.Write("OrvoTools/Vellixlibrarian.conf", file);
    EXPECT_EQ(Application::BookshelfDirectory(), bookshelf) << file;
    EXPECT_EQ(Application::DskDirectory(), device) << file;
  }
  const std::string key = "HKEY_CURRENT_USER\\Software\\OrvoTools\\Vellixlibrarian\\";
  EXPECT_EQ(ReadUserSetting(key + "Sites\\RemoteBookShelfUrl"), "http://example.test/shelf/list.txt");
  EXPECT_EQ(ReadUserSetting(key + "top"), "1");
  EXPECT_EQ(ReadUserSetting("Software\\OrvoTools\\Vellixlibrarian\\Common\\Preferences\\Device Width"), "600");
  EXPECT_FALSE(ReadUserSetting("HKEY_LOCAL_MACHINE\\Software\\OrvoTools\\Vellixlibrarian\\top"));
  saved ? setenv("XDG_CONFIG_HOME", saved->c_str(), 1) : unsetenv("XDG_CONFIG_HOME");
}

}  // namespace
}  // namespace vellix
