#include "ikutil/params.h"

#include <sys/stat.h>

#include <stdexcept>
#include <utility>

namespace ikutil {
namespace {

// `name` as found from `base_directory`: absolute names stand as they are.
std::string Resolve(const std::string& name, const std::string& base_directory) {
  if (base_directory.empty() || (!name.empty() && name.front() == '/')) return name;
  if (base_directory.back() == '/') return base_directory + name;
  return base_directory + "/" + name;
}

// Regular files only: a folder of the same name is not a source.
bool StatFile(const std::string& path, struct stat& info) {
  return !path.empty() && ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

}  // namespace

CSourceFile::CSourceFile(std::string file_name, uint32_t status) : file_name(std::move(file_name)), status(status) {}

bool CSourceFile::Exists(const std::string& base_directory) const {
  struct stat info;
  return StatFile(Resolve(file_name, base_directory), info);
}

uint32_t CSourceFile::FileSize(const std::string& base_directory) const {
  struct stat info;
  if (!StatFile(Resolve(file_name, base_directory), info)) return 0;
  if (info.st_size < 0 || static_cast<uint64_t>(info.st_size) > UINT32_MAX) return 0;
  return static_cast<uint32_t>(info.st_size);
}

CWinSourceFile::CWinSourceFile(std::string file_name, int /*flags*/) : CSourceFile(std::move(file_name), 0) {}

CBookParams::CBookParams() = default;
CBookParams::~CBookParams() = default;

std::string CBookParams::BaseDirectory() const {
  size_t slash = project_file_path.rfind('/');
  if (slash == std::string::npos) return "";
  if (slash == 0) return "/";  // a project in the root folder
  return project_file_path.substr(0, slash);
}

void CBookParams::InsertSource(size_t index, std::unique_ptr<CSourceFile> entry) {
  if (index > sources_.size()) throw std::out_of_range("CBookParams::InsertSource: index past the end of the list");
  if (!entry) throw std::invalid_argument("CBookParams::InsertSource: no entry");
  sources_.insert(sources_.begin() + static_cast<std::ptrdiff_t>(index), std::move(entry));
}

std::unique_ptr<CSourceFile> CBookParams::DeleteSource(size_t index) {
  std::unique_ptr<CSourceFile> entry = std::move(sources_.at(index));
  sources_.erase(sources_.begin() + static_cast<std::ptrdiff_t>(index));
  return entry;
}

void CBookParams::ResetOEBPackage() {
  resources_.clear();
  loaded_package_.clear();
  project_format_ = 0;
}

std::string GetROMVersion() { return "Vellix ROM 2.0"; }

}  // namespace ikutil
