#include "vellix/application.h"

#include "vellix/settings.h"

namespace vellix {

std::string Application::DskDirectory() {
  return ReadUserSetting("HKEY_CURRENT_USER\\Software\\OrvoTools\\Vellixlibrarian\\Locations\\DsK").value_or("");
}

std::string Application::BookshelfDirectory() {
  return ReadUserSetting("HKEY_CURRENT_USER\\Software\\OrvoTools\\Vellixlibrarian\\Locations\\BookShelf").value_or("");
}

}  // namespace vellix
