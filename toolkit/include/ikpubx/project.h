// The Project: one book to be built, described for the Builder.
//
// IProject is the automation interface (members in slot order; properties
// as a getter and a Set... putter). Every member answers a result code and
// never throws; out-pointers that are null give E_POINTER unless a member
// says otherwise. Strings are UTF-8. CBookInfo, the coclass "Project",
// keeps almost every value in the engine's parameter object, which it owns
// for its whole life.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "ikpubx/com.h"
#include "ikutil/params.h"

namespace ikpubx {

// What a server embedding the toolkit hands to OnStartPage: the page's
// scripting context with its five intrinsic objects.
class IScriptingContext : public ComObject {
 public:
  virtual HRESULT Request(std::shared_ptr<ComObject>* out) = 0;
  virtual HRESULT Response(std::shared_ptr<ComObject>* out) = 0;
  virtual HRESULT Server(std::shared_ptr<ComObject>* out) = 0;
  virtual HRESULT Session(std::shared_ptr<ComObject>* out) = 0;
  virtual HRESULT Application(std::shared_ptr<ComObject>* out) = 0;
};

class IProject : public ComObject {
 public:
  virtual HRESULT OnStartPage(ComObject* unknown) = 0;
  virtual HRESULT OnEndPage() = 0;
  virtual HRESULT ProjectFile(std::string* out) = 0;
  virtual HRESULT SetProjectFile(const std::string& value) = 0;
  virtual HRESULT BookFileName(std::string* out) = 0;
  virtual HRESULT SetBookFileName(const std::string& value) = 0;
  virtual HRESULT OutputDirectory(std::string* out) = 0;
  virtual HRESULT SetOutputDirectory(const std::string& value) = 0;
  virtual HRESULT ErrorDirectory(std::string* out) = 0;
  virtual HRESULT SetErrorDirectory(const std::string& value) = 0;
  virtual HRESULT BookID(std::string* out) = 0;
  virtual HRESULT SetBookID(const std::string& value) = 0;
  virtual HRESULT BookTitle(std::string* out) = 0;
  virtual HRESULT SetBookTitle(const std::string& value) = 0;
  virtual HRESULT Category(std::string* out) = 0;
  virtual HRESULT SetCategory(const std::string& value) = 0;
  virtual HRESULT SubCategory(std::string* out) = 0;
  virtual HRESULT SetSubCategory(const std::string& value) = 0;
  virtual HRESULT AuthorFirstName(std::string* out) = 0;
  virtual HRESULT SetAuthorFirstName(const std::string& value) = 0;
  virtual HRESULT AuthorMiddleName(std::string* out) = 0;
  virtual HRESULT SetAuthorMiddleName(const std::string& value) = 0;
  virtual HRESULT AuthorLastName(std::string* out) = 0;
  virtual HRESULT SetAuthorLastName(const std::string& value) = 0;
  virtual HRESULT Encrypt(int32_t* out) = 0;
  virtual HRESULT SetEncrypt(int32_t value) = 0;
  virtual HRESULT Compress(int32_t* out) = 0;
  virtual HRESULT SetCompress(int32_t value) = 0;
  virtual HRESULT Implode(int32_t* out) = 0;
  virtual HRESULT SetImplode(int32_t value) = 0;
  virtual HRESULT UnderlineLinks(int32_t* out) = 0;
  virtual HRESULT SetUnderlineLinks(int32_t value) = 0;
  virtual HRESULT Zoom(int16_t* out) = 0;
  virtual HRESULT SetZoom(int16_t value) = 0;
  virtual HRESULT CSS(int16_t* out) = 0;
  virtual HRESULT SetCSS(int16_t value) = 0;
  virtual HRESULT WidowLines(int16_t* out) = 0;
  virtual HRESULT SetWidowLines(int16_t value) = 0;
  virtual HRESULT OrphanLines(int16_t* out) = 0;
  virtual HRESULT SetOrphanLines(int16_t value) = 0;
  virtual HRESULT NumSourceFiles(int32_t* out) = 0;
  virtual HRESULT SourceFile(int16_t index, std::string* out) = 0;
  virtual HRESULT SetSourceFile(int16_t index, const std::string& value) = 0;
  virtual HRESULT ResetSourceFiles() = 0;
  virtual HRESULT AddSourceFile(const std::string& file) = 0;
  virtual HRESULT HtmlStatus(int16_t index, int16_t* out) = 0;
  virtual HRESULT SetHtmlStatus(int16_t index, int16_t value) = 0;
  virtual HRESULT DeleteSourceFile(int16_t index) = 0;
  virtual HRESULT Load(const std::string& project_file) = 0;
  virtual HRESULT Save(const std::string& project_file) = 0;
  virtual HRESULT IncludeStatus(int16_t index, int16_t* out) = 0;
  virtual HRESULT SetIncludeStatus(int16_t index, int16_t value) = 0;
  virtual HRESULT DirtyStatus(int16_t index, int16_t* out) = 0;
  virtual HRESULT SetDirtyStatus(int16_t index, int16_t value) = 0;
  // Sets `params` (when not null) to VT_BYREF | VT_UI1 holding the address
  // of the Project's parameter object; S_OK also for null.
  virtual HRESULT GetBookParams(Variant* params) = 0;
  virtual HRESULT ClearAll() = 0;
  virtual HRESULT HasChanged(int32_t* out) = 0;
  virtual HRESULT SetHasChanged(int32_t value) = 0;
  virtual HRESULT SourceExists(int16_t index, int32_t* out) = 0;
  virtual HRESULT TotalProcessBytes(int32_t* out) = 0;
  virtual HRESULT SourceFileSize(int16_t index, int32_t* out) = 0;
  virtual HRESULT ErrorFeedback(int32_t* out) = 0;
  virtual HRESULT SetErrorFeedback(int32_t value) = 0;
  virtual HRESULT InsertSourceFile(int16_t index, const std::string& file) = 0;
  virtual HRESULT MoveSourceFile(int16_t from, int16_t to) = 0;
  virtual HRESULT ROMVersion(std::string* out) = 0;
  virtual HRESULT BuildTarget(int32_t* out) = 0;
  virtual HRESULT SetBuildTarget(int32_t value) = 0;
  virtual HRESULT ContentFeedID(std::string* out) = 0;
  virtual HRESULT SetContentFeedID(const std::string& value) = 0;
  virtual HRESULT CurrentIssue(std::string* out) = 0;
  virtual HRESULT SetCurrentIssue(const std::string& value) = 0;
  virtual HRESULT DeleteFallbacks(int32_t* out) = 0;
  virtual HRESULT SetDeleteFallbacks(int32_t value) = 0;
  virtual HRESULT IsPeriodical(int32_t* out) = 0;
  virtual HRESULT SetIsPeriodical(int32_t value) = 0;
  virtual HRESULT ProjectFormat(int16_t* out) = 0;
};

// Creates a Project (as the class registry does for "IKPublisher.Project").
std::shared_ptr<IProject> NewProject();

}  // namespace ikpubx
