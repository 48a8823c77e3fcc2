#include "vellix/settings.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>

#include "test_util.h"
#include "vellix/application.h"

namespace vellix {
namespace {

using namespace fixtures;

class SettingsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* old = getenv("XDG_CONFIG_HOME");
    saved_ = old ? std::optional<std::string>(old) : std::nullopt;
    setenv("XDG_CONFIG_HOME", dir_.path().c_str(), 1);
    std::filesystem::create_directories(dir_ / "OrvoTools");
  }
  void TearDown() override {
    if (saved_)
      setenv("XDG_CONFIG_HOME", saved_->c_str(), 1);
    else
      unsetenv("XDG_CONFIG_HOME");
  }
  void WriteConf(const std::string& text) { dir_.Write("OrvoTools/Vellixlibrarian.conf", text); }

  TempDir dir_;
  std::optional<std::string> saved_;
};

TEST_F(SettingsTest, MissingFileOrValueReadsEmpty) {
  std::filesystem::remove_all(dir_ / "OrvoTools");
  EXPECT_EQ(Application::BookshelfDirectory(), "");
  EXPECT_EQ(Application::DskDirectory(), "");
  std::filesystem::create_directories(dir_ / "OrvoTools");
  WriteConf("[Locations]\nbookshelf=/wrong/case\n");
  EXPECT_EQ(Application::BookshelfDirectory(), "");  // names are exact
}

TEST_F(SettingsTest, ReadsAfreshOnEveryCall) {
  WriteConf("[Locations]\nBookShelf=/home/u/Books\nDsK=/home/u/Device\n");
  EXPECT_EQ(Application::BookshelfDirectory(), "/home/u/Books");
  EXPECT_EQ(Application::DskDirectory(), "/home/u/Device");
  WriteConf("[Locations]\nBookShelf=/elsewhere\n");
  EXPECT_EQ(Application::BookshelfDirectory(), "/elsewhere");
  EXPECT_EQ(Application::DskDirectory(), "");
}

TEST_F(SettingsTest, ReadsValuesAsQSettingsWritesThem) {
  WriteConf(
      "; comment\n[General]\ntop=1\n"
      "[Locations]\nBookShelf=\"/home/u/My Books, old\"\nDsK=C:\\\\Device\n"
      "[Sites]\nRemoteBookShelfUrl=http://example.test/shelf/list.txt\n"
      "[Common/Preferences]\nDevice%20Width=600\n");
  EXPECT_EQ(Application::BookshelfDirectory(), "/home/u/My Books, old");
  EXPECT_EQ(Application::DskDirectory(), "C:\\Device");
  EXPECT_EQ(ReadUserSetting("HKEY_CURRENT_USER\\Software\\OrvoTools\\Vellixlibrarian\\Sites\\RemoteBookShelfUrl"),
            "http://example.test/shelf/list.txt");
  EXPECT_EQ(ReadUserSetting("HKEY_CURRENT_USER\\Software\\OrvoTools\\Vellixlibrarian\\top"), "1");
  EXPECT_EQ(ReadUserSetting("Software\\OrvoTools\\Vellixlibrarian\\Common\\Preferences\\Device Width"), "600");
  EXPECT_FALSE(ReadUserSetting("HKEY_LOCAL_MACHINE\\Software\\OrvoTools\\Vellixlibrarian\\top"));
}

}  // namespace
}  // namespace vellix
