// CBookParams: everything the engine needs to know to build one book, and
// the project file it is read from and saved to.
//
// The project file is an OEB 1.0 package document (see
// docs/project-file.md): its unique identifier is the book identifier, its
// Dublin Core title and author ("aut" creator) give the title and the
// author's names, its "x-IKL-" meta elements the build settings, and its
// spine, in order, the source list. Manifest items outside the spine
// (images, style sheets, documents reached only through links) are kept as
// resources: they are packed and resolved, but they are not sources.
//
// The fields are public: the toolkit's Project reads and writes them
// directly, with the widths given here.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace ikutil {

class COEBPackageUIHelper;
struct EpubBook;

// Bits of a source entry's status word. Bits 0-3 belong to the Project.
inline constexpr uint32_t kStatusHtmlMask = 0x3;   // bits 0-1: a number 0-3, the caller's
inline constexpr uint32_t kStatusExcluded = 0x4;   // bit 2: set = left out of the build
inline constexpr uint32_t kStatusDirty = 0x8;      // bit 3
inline constexpr uint32_t kStatusGlossary = 0x10;  // bit 4: the package's guide calls it a glossary

// One source document of the project. The name is kept exactly as given
// (relative to the project's folder, or absolute).
class CSourceFile {
 public:
  explicit CSourceFile(std::string file_name, uint32_t status = 0);
  virtual ~CSourceFile() = default;

  virtual std::string Name() const { return file_name; }
  // The file as found from `base_directory` (the project's folder; empty
  // means the current directory).
  bool Exists(const std::string& base_directory) const;
  // Its size in bytes; 0 when it is missing (or larger than 4 GiB - 1).
  uint32_t FileSize(const std::string& base_directory) const;
  bool IsGlossary() const { return (status & kStatusGlossary) != 0; }
  bool IsIncluded() const { return (status & kStatusExcluded) == 0; }

  std::string file_name;
  uint32_t status = 0;
  std::string media_type;  // from the manifest; empty for entries added by name
  std::string item_id;     // the manifest item's id; empty likewise
};

// The entry kind the Project creates. `flags` is reserved and always 0.
class CWinSourceFile : public CSourceFile {
 public:
  CWinSourceFile(std::string file_name, int flags);
};

// A manifest item that is not a source: an image, a style sheet, or a
// document outside the spine.
struct ProjectResource {
  std::string id;
  std::string href;
  std::string media_type;
};

class CBookParams {
 public:
  // The defaults at creation are those of a new book: see docs/project-file.md.
  CBookParams();
  virtual ~CBookParams();
  CBookParams(const CBookParams&) = delete;
  CBookParams& operator=(const CBookParams&) = delete;

  // Where the project file is read from and saved to.
  std::string project_file_path;

  std::string book_file_name = "Inkleaf";  // the book file's base name, without ".imp"
  std::string book_id;
  std::string book_title;
  std::string category;
  std::string sub_category;
  std::string author_first_name;
  std::string author_middle_name;
  std::string author_last_name;
  std::string language;  // dc:Language; empty when the package names none

  uint8_t encrypt = 0;
  uint8_t compress = 1;
  uint8_t implode = 1;
  uint8_t reserved_flag_after_implode = 1;
  uint8_t reserved_flag_before_underline = 1;
  uint8_t underline_links = 1;
  int32_t zoom = 2;         // 0 normal type only, 1 large only, 2 both
  int16_t css = 2;          // style sheet support: 0 none, 1 inline only, 2 all
  int32_t widow_lines = 1;  // 16-bit values in 32-bit fields
  int32_t orphan_lines = 1;
  uint32_t build_target = 1;  // 1 the device edition, 0 an OEBFF container
  uint8_t logging = 1;        // write LogDir/<BookFileName>.log
  int32_t rle_trigger = 25;   // least saving, in percent, for run-length coded images

  std::string content_feed_id;
  std::string current_issue;
  uint8_t delete_fallbacks = 0;
  uint8_t is_periodical = 0;

  int32_t ProjectFormat() const { return project_format_; }
  void SetProjectFormat(int32_t format) { project_format_ = format; }

  // The output and log folders, stored as given (trailing separators kept).
  void DestDir(const std::string& folder) { dest_dir_ = folder; }
  const std::string& DestDir() const { return dest_dir_; }
  void LogDir(const std::string& folder) { log_dir_ = folder; }
  const std::string& LogDir() const { return log_dir_; }

  // The project's folder: the project file path up to its last '/'
  // (empty when it has none).
  std::string BaseDirectory() const;

  // The source list.
  size_t NumSources() const { return sources_.size(); }
  CSourceFile* Source(size_t index) const { return sources_.at(index).get(); }
  // `index` from 0 to NumSources(); takes the entry.
  void InsertSource(size_t index, std::unique_ptr<CSourceFile> entry);
  // Takes the entry out of the list and hands it to the caller.
  std::unique_ptr<CSourceFile> DeleteSource(size_t index);
  void CleanupSourceList() { sources_.clear(); }

  const std::vector<ProjectResource>& Resources() const { return resources_; }
  std::vector<ProjectResource>& Resources() { return resources_; }

  // Forgets the package document that Load read: resources, unknown
  // elements, format. Fields and sources stay.
  void ResetOEBPackage();

  // The helper problems are reported through; null for none. Not owned.
  void SetUIHelper(COEBPackageUIHelper* helper) { ui_helper_ = helper; }
  COEBPackageUIHelper* UIHelper() const { return ui_helper_; }

  // Reads the project file at `path` into the fields, the source list and
  // the resources, and sets project_file_path to `path`. Each problem goes
  // to the UI helper (shown now when `feedback`, else quietly). Returns
  // false, leaving the fields as they were, when the file is missing, is not
  // well-formed or is not a package document.
  bool Load(const std::string& path, bool feedback);
  // The same over a package document held in memory (a container's
  // package part); `path` is recorded as project_file_path and names the
  // document in messages.
  bool LoadFromText(std::string_view package_text, const std::string& path, bool feedback);

  // Writes the fields, sources and resources as a package document at
  // project_file_path, keeping the elements of the loaded document that it
  // does not manage. Replaces the file only when the new one is complete.
  // False when it cannot be written (reported through the UI helper).
  virtual bool Save();

  // The package document last loaded, as UTF-8 text ("" when none); Save
  // merges into it.
  const std::string& LoadedPackage() const { return loaded_package_; }

  // The EPUB book Load read (a path ending in ".epub" is read as one: its
  // metadata gives the fields, its spine the sources, the rest of its
  // manifest the resources); null for a package document. Sources are
  // then read from the book's container, and such a project is never
  // saved over the book.
  const std::shared_ptr<const EpubBook>& Epub() const { return epub_; }

  // Only the metadata fields of the EPUB book at `path`, from its package
  // document alone: nothing else in the book is inflated. Sources,
  // resources and Epub() are left as they were. False, with `error` set,
  // when the container or its package cannot be read.
  bool LoadEpubMetadata(const std::string& path, std::string& error);

 private:
  bool LoadEpub(const std::string& path, bool feedback);
  void TakeEpubMetadata(const std::string& path, const EpubBook& book);

  std::string dest_dir_;
  std::string log_dir_;
  std::vector<std::unique_ptr<CSourceFile>> sources_;
  std::vector<ProjectResource> resources_;
  std::string loaded_package_;
  std::shared_ptr<const EpubBook> epub_;
  int32_t project_format_ = 0;
  COEBPackageUIHelper* ui_helper_ = nullptr;
};

// An author's name in its parts, by the rule of the project file: "Last,
// First Middle..." or "First Middle... Last"; one word is the last name.
struct AuthorNameParts {
  std::string first, middle, last;
};
AuthorNameParts SplitAuthorName(std::string_view creator);

// The version of the device software the engine builds for.
std::string GetROMVersion();

}  // namespace ikutil
