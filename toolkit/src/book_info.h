// CBookInfo: the Project coclass. Each Project serializes its own members.
// Almost every value lives in the engine's parameter object, which the
// Project owns for its whole life; the Project itself keeps only the
// project file name, the change mark and the error feedback flag.
#pragma once

#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "ikpubx/project.h"
#include "ikutil/params.h"
#include "page_intrinsics.h"

namespace ikpubx {

class CBookInfo : public IProject {
 public:
  CBookInfo();
  ~CBookInfo() override;

  HRESULT OnStartPage(ComObject* unknown) override;
  HRESULT OnEndPage() override;
  HRESULT ProjectFile(std::string* out) override;
  HRESULT SetProjectFile(const std::string& value) override;
  HRESULT BookFileName(std::string* out) override;
  HRESULT SetBookFileName(const std::string& value) override;
  HRESULT OutputDirectory(std::string* out) override;
  HRESULT SetOutputDirectory(const std::string& value) override;
  HRESULT ErrorDirectory(std::string* out) override;
  HRESULT SetErrorDirectory(const std::string& value) override;
  HRESULT BookID(std::string* out) override;
  HRESULT SetBookID(const std::string& value) override;
  HRESULT BookTitle(std::string* out) override;
  HRESULT SetBookTitle(const std::string& value) override;
  HRESULT Category(std::string* out) override;
  HRESULT SetCategory(const std::string& value) override;
  HRESULT SubCategory(std::string* out) override;
  HRESULT SetSubCategory(const std::string& value) override;
  HRESULT AuthorFirstName(std::string* out) override;
  HRESULT SetAuthorFirstName(const std::string& value) override;
  HRESULT AuthorMiddleName(std::string* out) override;
  HRESULT SetAuthorMiddleName(const std::string& value) override;
  HRESULT AuthorLastName(std::string* out) override;
  HRESULT SetAuthorLastName(const std::string& value) override;
  HRESULT Encrypt(int32_t* out) override;
  HRESULT SetEncrypt(int32_t value) override;
  HRESULT Compress(int32_t* out) override;
  HRESULT SetCompress(int32_t value) override;
  HRESULT Implode(int32_t* out) override;
  HRESULT SetImplode(int32_t value) override;
  HRESULT UnderlineLinks(int32_t* out) override;
  HRESULT SetUnderlineLinks(int32_t value) override;
  HRESULT Zoom(int16_t* out) override;
  HRESULT SetZoom(int16_t value) override;
  HRESULT CSS(int16_t* out) override;
  HRESULT SetCSS(int16_t value) override;
  HRESULT WidowLines(int16_t* out) override;
  HRESULT SetWidowLines(int16_t value) override;
  HRESULT OrphanLines(int16_t* out) override;
  HRESULT SetOrphanLines(int16_t value) override;
  HRESULT NumSourceFiles(int32_t* out) override;
  HRESULT SourceFile(int16_t index, std::string* out) override;
  HRESULT SetSourceFile(int16_t index, const std::string& value) override;
  HRESULT ResetSourceFiles() override;
  HRESULT AddSourceFile(const std::string& file) override;
  HRESULT HtmlStatus(int16_t index, int16_t* out) override;
  HRESULT SetHtmlStatus(int16_t index, int16_t value) override;
  HRESULT DeleteSourceFile(int16_t index) override;
  HRESULT Load(const std::string& project_file) override;
  HRESULT Save(const std::string& project_file) override;
  HRESULT IncludeStatus(int16_t index, int16_t* out) override;
  HRESULT SetIncludeStatus(int16_t index, int16_t value) override;
  HRESULT DirtyStatus(int16_t index, int16_t* out) override;
  HRESULT SetDirtyStatus(int16_t index, int16_t value) override;
  HRESULT GetBookParams(Variant* params) override;
  HRESULT ClearAll() override;
  HRESULT HasChanged(int32_t* out) override;
  HRESULT SetHasChanged(int32_t value) override;
  HRESULT SourceExists(int16_t index, int32_t* out) override;
  HRESULT TotalProcessBytes(int32_t* out) override;
  HRESULT SourceFileSize(int16_t index, int32_t* out) override;
  HRESULT ErrorFeedback(int32_t* out) override;
  HRESULT SetErrorFeedback(int32_t value) override;
  HRESULT InsertSourceFile(int16_t index, const std::string& file) override;
  HRESULT MoveSourceFile(int16_t from, int16_t to) override;
  HRESULT ROMVersion(std::string* out) override;
  HRESULT BuildTarget(int32_t* out) override;
  HRESULT SetBuildTarget(int32_t value) override;
  HRESULT ContentFeedID(std::string* out) override;
  HRESULT SetContentFeedID(const std::string& value) override;
  HRESULT CurrentIssue(std::string* out) override;
  HRESULT SetCurrentIssue(const std::string& value) override;
  HRESULT DeleteFallbacks(int32_t* out) override;
  HRESULT SetDeleteFallbacks(int32_t value) override;
  HRESULT IsPeriodical(int32_t* out) override;
  HRESULT SetIsPeriodical(int32_t value) override;
  HRESULT ProjectFormat(int16_t* out) override;

  // Longest full path Load accepts, in bytes.
  static constexpr size_t kMaxFullPath = 4096;

 private:
  bool ValidIndex(int16_t index) const;
  ikutil::CSourceFile& Entry(int16_t index) const;
  // The folder the entries' names count from.
  std::string BaseDirectory() const;
  // Stores the project file name: empty means none.
  void StoreProjectFile(const std::string& value);
  void MarkChanged() { has_changed_ = 1; }

  // Every member takes it, so calls from several threads take turns; it
  // is recursive because members call one another.
  mutable std::recursive_mutex mutex_;
  ikutil::CBookParams params_;
  std::optional<std::string> project_file_;
  uint8_t has_changed_ = 0;
  uint8_t error_feedback_ = 0;

  PageIntrinsics page_;
};

}  // namespace ikpubx
