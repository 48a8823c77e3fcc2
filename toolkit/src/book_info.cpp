#include "book_info.h"

#include <filesystem>
#include <new>
#include <system_error>
#include <utility>

#include "ikpubx/module.h"
#include "ikutil/ui_helper.h"

namespace ikpubx {
namespace {

// Members never let an exception out: any failure is E_FAIL, and running
// out of memory while copying a value out is E_OUTOFMEMORY.
template <typename F>
HRESULT Guarded(F&& body) noexcept {
  try {
    return body();
  } catch (...) {
    return E_FAIL;
  }
}

template <typename F>
HRESULT GuardedCopy(F&& body) noexcept {
  try {
    return body();
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (...) {
    return E_FAIL;
  }
}

HRESULT GetText(const std::string& field, std::string* out, HRESULT if_null = E_POINTER) {
  if (!out) return if_null;
  return GuardedCopy([&] {
    *out = field;
    return S_OK;
  });
}

HRESULT GetByte(uint8_t field, int32_t* out, HRESULT if_null = E_POINTER) {
  if (!out) return if_null;
  *out = field;  // zero-extended: a byte of 0xFF reads 255
  return S_OK;
}

// The parameters hold the UI helper only while a load runs.
class ScopedUIHelper {
 public:
  ScopedUIHelper(ikutil::CBookParams& params, ikutil::COEBPackageUIHelper* helper) : params_(params) {
    params_.SetUIHelper(helper);
  }
  ~ScopedUIHelper() { params_.SetUIHelper(nullptr); }
  ScopedUIHelper(const ScopedUIHelper&) = delete;
  ScopedUIHelper& operator=(const ScopedUIHelper&) = delete;

 private:
  ikutil::CBookParams& params_;
};

// `name` as a full path against the current directory, with "." and ".."
// resolved as written; nullopt when it cannot be made or is too long.
std::optional<std::string> FullPath(const std::string& name) {
  if (name.empty() || name.find('\0') != std::string::npos) return std::nullopt;
  std::error_code error;
  std::filesystem::path full = std::filesystem::absolute(name, error);
  if (error) return std::nullopt;
  std::string text = full.lexically_normal().string();
  if (text.size() > CBookInfo::kMaxFullPath) return std::nullopt;
  return text;
}

}  // namespace

CBookInfo::CBookInfo() {
  // The engine's defaults stand, but for the reserved flag the Project
  // always turns on.
  params_.reserved_flag_before_underline = 1;
}

CBookInfo::~CBookInfo() = default;

bool CBookInfo::ValidIndex(int16_t index) const {
  return index >= 0 && static_cast<size_t>(index) < params_.NumSources();
}

ikutil::CSourceFile& CBookInfo::Entry(int16_t index) const { return *params_.Source(static_cast<size_t>(index)); }

std::string CBookInfo::BaseDirectory() const { return params_.BaseDirectory(); }

void CBookInfo::StoreProjectFile(const std::string& value) {
  if (value.empty())
    project_file_.reset();
  else
    project_file_ = value;
}

// --- Server-page hooks ---

HRESULT CBookInfo::OnStartPage(ComObject* unknown) {
  std::lock_guard lock(mutex_);
  if (!unknown) return E_POINTER;
  return Guarded([&] { return page_.Start(unknown); });
}

HRESULT CBookInfo::OnEndPage() {
  std::lock_guard lock(mutex_);
  page_.End();
  return S_OK;
}

// --- Names and metadata ---

HRESULT CBookInfo::ProjectFile(std::string* out) {
  std::lock_guard lock(mutex_);
  static const std::string kNone;
  return GetText(project_file_ ? *project_file_ : kNone, out);
}

HRESULT CBookInfo::SetProjectFile(const std::string& value) {
  std::lock_guard lock(mutex_);
  return GuardedCopy([&] {
    params_.project_file_path = value;
    StoreProjectFile(value);
    MarkChanged();
    return S_OK;
  });
}

#define IKPUBX_TEXT_PROPERTY(Name, field)                  \
  HRESULT CBookInfo::Name(std::string* out) {              \
    std::lock_guard lock(mutex_);                          \
    return GetText(params_.field, out);                    \
  }                                                        \
  HRESULT CBookInfo::Set##Name(const std::string& value) { \
    std::lock_guard lock(mutex_);                          \
    return Guarded([&] {                                   \
      params_.field = value;                               \
      MarkChanged();                                       \
      return S_OK;                                         \
    });                                                    \
  }

IKPUBX_TEXT_PROPERTY(BookFileName, book_file_name)
IKPUBX_TEXT_PROPERTY(BookID, book_id)
IKPUBX_TEXT_PROPERTY(BookTitle, book_title)
IKPUBX_TEXT_PROPERTY(Category, category)
IKPUBX_TEXT_PROPERTY(SubCategory, sub_category)
IKPUBX_TEXT_PROPERTY(AuthorFirstName, author_first_name)
IKPUBX_TEXT_PROPERTY(AuthorMiddleName, author_middle_name)
IKPUBX_TEXT_PROPERTY(AuthorLastName, author_last_name)

HRESULT CBookInfo::OutputDirectory(std::string* out) {
  std::lock_guard lock(mutex_);
  return GetText(params_.DestDir(), out);
}

HRESULT CBookInfo::SetOutputDirectory(const std::string& value) {
  std::lock_guard lock(mutex_);
  return Guarded([&] {
    params_.DestDir(value);
    MarkChanged();
    return S_OK;
  });
}

HRESULT CBookInfo::ErrorDirectory(std::string* out) {
  std::lock_guard lock(mutex_);
  return GetText(params_.LogDir(), out);
}

HRESULT CBookInfo::SetErrorDirectory(const std::string& value) {
  std::lock_guard lock(mutex_);
  return Guarded([&] {
    params_.LogDir(value);
    MarkChanged();
    return S_OK;
  });
}

// --- Build options ---

#define IKPUBX_BYTE_PROPERTY(Name, field)        \
  HRESULT CBookInfo::Name(int32_t* out) {        \
    std::lock_guard lock(mutex_);                \
    return GetByte(params_.field, out);          \
  }                                              \
  HRESULT CBookInfo::Set##Name(int32_t value) {  \
    std::lock_guard lock(mutex_);                \
    params_.field = static_cast<uint8_t>(value); \
    MarkChanged();                               \
    return S_OK;                                 \
  }

IKPUBX_BYTE_PROPERTY(Encrypt, encrypt)
IKPUBX_BYTE_PROPERTY(Compress, compress)
IKPUBX_BYTE_PROPERTY(Implode, implode)
IKPUBX_BYTE_PROPERTY(UnderlineLinks, underline_links)

#define IKPUBX_SHORT_PROPERTY(Name, field)                 \
  HRESULT CBookInfo::Name(int16_t* out) {                  \
    if (!out) return E_POINTER;                            \
    std::lock_guard lock(mutex_);                          \
    *out = static_cast<int16_t>(params_.field);            \
    return S_OK;                                           \
  }                                                        \
  HRESULT CBookInfo::Set##Name(int16_t value) {            \
    std::lock_guard lock(mutex_);                          \
    params_.field = value; /* sign-extended where wider */ \
    MarkChanged();                                         \
    return S_OK;                                           \
  }

IKPUBX_SHORT_PROPERTY(Zoom, zoom)
IKPUBX_SHORT_PROPERTY(CSS, css)
IKPUBX_SHORT_PROPERTY(WidowLines, widow_lines)
IKPUBX_SHORT_PROPERTY(OrphanLines, orphan_lines)

#undef IKPUBX_TEXT_PROPERTY
#undef IKPUBX_BYTE_PROPERTY
#undef IKPUBX_SHORT_PROPERTY

HRESULT CBookInfo::BuildTarget(int32_t* out) {
  std::lock_guard lock(mutex_);
  if (!out) return E_POINTER;
  *out = static_cast<int32_t>(params_.build_target);
  return S_OK;
}

HRESULT CBookInfo::SetBuildTarget(int32_t value) {
  std::lock_guard lock(mutex_);
  // Only the two known targets are taken; the put counts as a change all
  // the same.
  if (value == 0 || value == 1) params_.build_target = static_cast<uint32_t>(value);
  MarkChanged();
  return S_OK;
}

// --- The source list ---

HRESULT CBookInfo::NumSourceFiles(int32_t* out) {
  std::lock_guard lock(mutex_);
  if (!out) return E_POINTER;
  *out = static_cast<int32_t>(params_.NumSources());
  return S_OK;
}

HRESULT CBookInfo::SourceFile(int16_t index, std::string* out) {
  std::lock_guard lock(mutex_);
  if (!ValidIndex(index)) return E_INVALIDARG;
  return GetText(Entry(index).file_name, out);
}

HRESULT CBookInfo::SetSourceFile(int16_t index, const std::string& value) {
  std::lock_guard lock(mutex_);
  if (!ValidIndex(index)) return E_INVALIDARG;
  return Guarded([&] {
    Entry(index).file_name = value;
    MarkChanged();
    return S_OK;
  });
}

HRESULT CBookInfo::ResetSourceFiles() {
  std::lock_guard lock(mutex_);
  return Guarded([&] {
    params_.CleanupSourceList();
    MarkChanged();
    return S_OK;
  });
}

HRESULT CBookInfo::AddSourceFile(const std::string& file) {
  std::lock_guard lock(mutex_);
  return Guarded([&] {
    params_.InsertSource(params_.NumSources(), std::make_unique<ikutil::CWinSourceFile>(file, 0));
    MarkChanged();
    return S_OK;
  });
}

HRESULT CBookInfo::InsertSourceFile(int16_t index, const std::string& file) {
  std::lock_guard lock(mutex_);
  if (index < 0 || static_cast<size_t>(index) > params_.NumSources()) return E_INVALIDARG;
  return Guarded([&] {
    params_.InsertSource(static_cast<size_t>(index), std::make_unique<ikutil::CWinSourceFile>(file, 0));
    MarkChanged();
    return S_OK;
  });
}

HRESULT CBookInfo::DeleteSourceFile(int16_t index) {
  std::lock_guard lock(mutex_);
  if (!ValidIndex(index)) return E_INVALIDARG;
  return Guarded([&] {
    params_.DeleteSource(static_cast<size_t>(index));
    MarkChanged();
    return S_OK;
  });
}

HRESULT CBookInfo::MoveSourceFile(int16_t from, int16_t to) {
  std::lock_guard lock(mutex_);
  if (!ValidIndex(from) || !ValidIndex(to)) return E_INVALIDARG;
  if (from == to) return S_OK;
  return Guarded([&] {
    // `to` counts in the list without the entry; both indexes were valid in
    // the longer list, so `to` still is.
    std::unique_ptr<ikutil::CSourceFile> entry = params_.DeleteSource(static_cast<size_t>(from));
    params_.InsertSource(static_cast<size_t>(to), std::move(entry));
    MarkChanged();
    return S_OK;
  });
}

HRESULT CBookInfo::HtmlStatus(int16_t index, int16_t* out) {
  std::lock_guard lock(mutex_);
  if (!ValidIndex(index)) return E_INVALIDARG;
  if (!out) return E_POINTER;
  *out = static_cast<int16_t>(Entry(index).status & ikutil::kStatusHtmlMask);
  return S_OK;
}

HRESULT CBookInfo::SetHtmlStatus(int16_t index, int16_t value) {
  std::lock_guard lock(mutex_);
  if (!ValidIndex(index)) return E_INVALIDARG;
  uint32_t& status = Entry(index).status;
  status = (status & ~ikutil::kStatusHtmlMask) | (static_cast<uint32_t>(value) & ikutil::kStatusHtmlMask);
  MarkChanged();
  return S_OK;
}

HRESULT CBookInfo::IncludeStatus(int16_t index, int16_t* out) {
  std::lock_guard lock(mutex_);
  if (!ValidIndex(index)) return E_INVALIDARG;
  if (!out) return E_POINTER;
  *out = (Entry(index).status & ikutil::kStatusExcluded) ? 0 : 1;
  return S_OK;
}

HRESULT CBookInfo::SetIncludeStatus(int16_t index, int16_t value) {
  std::lock_guard lock(mutex_);
  if (!ValidIndex(index)) return E_INVALIDARG;
  uint32_t& status = Entry(index).status;
  if (value != 0)
    status &= ~ikutil::kStatusExcluded;
  else
    status |= ikutil::kStatusExcluded;
  MarkChanged();
  return S_OK;
}

HRESULT CBookInfo::DirtyStatus(int16_t index, int16_t* out) {
  std::lock_guard lock(mutex_);
  if (!ValidIndex(index)) return E_INVALIDARG;
  if (!out) return E_POINTER;
  *out = (Entry(index).status & ikutil::kStatusDirty) ? 1 : 0;
  return S_OK;
}

HRESULT CBookInfo::SetDirtyStatus(int16_t index, int16_t value) {
  std::lock_guard lock(mutex_);
  if (!ValidIndex(index)) return E_INVALIDARG;
  uint32_t& status = Entry(index).status;
  if (value & 1)
    status |= ikutil::kStatusDirty;
  else
    status &= ~ikutil::kStatusDirty;
  MarkChanged();
  return S_OK;
}

HRESULT CBookInfo::SourceExists(int16_t index, int32_t* out) {
  std::lock_guard lock(mutex_);
  if (!ValidIndex(index) || !out) return E_INVALIDARG;
  return Guarded([&] {
    *out = Entry(index).Exists(BaseDirectory()) ? 1 : 0;
    return S_OK;
  });
}

HRESULT CBookInfo::SourceFileSize(int16_t index, int32_t* out) {
  std::lock_guard lock(mutex_);
  if (!ValidIndex(index)) return E_INVALIDARG;
  if (!out) return E_POINTER;
  return Guarded([&] {
    *out = static_cast<int32_t>(Entry(index).FileSize(BaseDirectory()));
    return S_OK;
  });
}

HRESULT CBookInfo::TotalProcessBytes(int32_t* out) {
  std::lock_guard lock(mutex_);
  if (!out) return E_POINTER;
  return Guarded([&] {
    const std::string base = BaseDirectory();
    uint32_t total = 0;  // wraps as the 32-bit sum does
    for (size_t i = 0; i < params_.NumSources(); ++i) {
      const ikutil::CSourceFile& entry = *params_.Source(i);
      if (entry.IsIncluded() && !entry.IsGlossary()) total += entry.FileSize(base);
    }
    *out = static_cast<int32_t>(total);
    return S_OK;
  });
}

// --- The project file ---

HRESULT CBookInfo::Load(const std::string& project_file) {
  std::lock_guard lock(mutex_);
  return Guarded([&] {
    ikutil::CWinOEBPackageUIHelper helper;
    ScopedUIHelper scoped(params_, &helper);
    std::optional<std::string> full = FullPath(project_file);
    if (!full) return E_FAIL;
    if (!params_.Load(*full, error_feedback_ == 1)) return E_FAIL;
    StoreProjectFile(params_.project_file_path);
    has_changed_ = 0;
    return S_OK;
  });
}

HRESULT CBookInfo::Save(const std::string& project_file) {
  std::lock_guard lock(mutex_);
  return Guarded([&] {
    params_.project_file_path = project_file;
    if (!params_.Save()) return E_FAIL;
    StoreProjectFile(params_.project_file_path);
    has_changed_ = 0;
    return S_OK;
  });
}

HRESULT CBookInfo::GetBookParams(Variant* params) {
  std::lock_guard lock(mutex_);
  if (!params) return S_OK;
  *params = Variant{};
  params->vt = VT_BYREF | VT_UI1;
  params->byref = &params_;
  return S_OK;
}

HRESULT CBookInfo::ClearAll() {
  std::lock_guard lock(mutex_);
  return Guarded([&] {
    params_.CleanupSourceList();
    params_.book_file_name = "Inkleaf";
    params_.DestDir("");
    params_.LogDir("");
    params_.book_id.clear();
    params_.book_title.clear();
    params_.category.clear();
    params_.sub_category.clear();
    params_.author_first_name.clear();
    params_.author_middle_name.clear();
    params_.author_last_name.clear();
    params_.encrypt = 1;
    params_.compress = 1;
    params_.implode = 1;
    params_.reserved_flag_after_implode = 1;
    params_.underline_links = 1;
    params_.zoom = 2;
    params_.css = 2;
    params_.widow_lines = 0;
    params_.orphan_lines = 0;
    params_.build_target = 1;
    params_.ResetOEBPackage();
    has_changed_ = 0;
    return S_OK;
  });
}

// --- The Project's own marks ---

HRESULT CBookInfo::HasChanged(int32_t* out) {
  std::lock_guard lock(mutex_);
  return GetByte(has_changed_, out);
}

HRESULT CBookInfo::SetHasChanged(int32_t value) {
  std::lock_guard lock(mutex_);
  has_changed_ = value == 1 ? 1 : 0;
  return S_OK;
}

HRESULT CBookInfo::ErrorFeedback(int32_t* out) {
  std::lock_guard lock(mutex_);
  return GetByte(error_feedback_, out);
}

HRESULT CBookInfo::SetErrorFeedback(int32_t value) {
  std::lock_guard lock(mutex_);
  error_feedback_ = value == 1 ? 1 : 0;
  return S_OK;
}

HRESULT CBookInfo::ROMVersion(std::string* out) {
  std::lock_guard lock(mutex_);
  if (!out) return E_POINTER;
  return GuardedCopy([&] {
    *out = ikutil::GetROMVersion();
    return S_OK;
  });
}

// --- Periodicals ---

HRESULT CBookInfo::ContentFeedID(std::string* out) {
  std::lock_guard lock(mutex_);
  return GetText(params_.content_feed_id, out, E_INVALIDARG);
}

HRESULT CBookInfo::SetContentFeedID(const std::string& value) {
  std::lock_guard lock(mutex_);
  return Guarded([&] {
    params_.content_feed_id = value;
    MarkChanged();
    return S_OK;
  });
}

HRESULT CBookInfo::CurrentIssue(std::string* out) {
  std::lock_guard lock(mutex_);
  return GetText(params_.current_issue, out, E_INVALIDARG);
}

HRESULT CBookInfo::SetCurrentIssue(const std::string& value) {
  std::lock_guard lock(mutex_);
  return Guarded([&] {
    params_.current_issue = value;
    MarkChanged();
    return S_OK;
  });
}

HRESULT CBookInfo::DeleteFallbacks(int32_t* out) {
  std::lock_guard lock(mutex_);
  return GetByte(params_.delete_fallbacks, out, E_INVALIDARG);
}

HRESULT CBookInfo::SetDeleteFallbacks(int32_t value) {
  std::lock_guard lock(mutex_);
  const auto byte = static_cast<uint8_t>(value);
  if (byte != params_.delete_fallbacks) MarkChanged();
  params_.delete_fallbacks = byte;
  return S_OK;
}

HRESULT CBookInfo::IsPeriodical(int32_t* out) {
  std::lock_guard lock(mutex_);
  return GetByte(params_.is_periodical, out, E_INVALIDARG);
}

HRESULT CBookInfo::SetIsPeriodical(int32_t value) {
  std::lock_guard lock(mutex_);
  params_.is_periodical = static_cast<uint8_t>(value);
  // Turning the flag off is not counted as a change.
  if (value != 0) MarkChanged();
  return S_OK;
}

HRESULT CBookInfo::ProjectFormat(int16_t* out) {
  std::lock_guard lock(mutex_);
  if (!out) return E_INVALIDARG;
  *out = static_cast<int16_t>(params_.ProjectFormat());
  return S_OK;
}

std::shared_ptr<IProject> NewProject() { return std::make_shared<CBookInfo>(); }

namespace {

// Makes the Project known to the class registry when the module loads.
struct ProjectRegistrar {
  ProjectRegistrar() {
    RegisterClass({kProjectClassId, "Project Class", kProjectProgId, kProjectIndependentProgId,
                   []() -> std::shared_ptr<ComObject> { return NewProject(); }});
  }
} const kProjectRegistrar;

}  // namespace

}  // namespace ikpubx
