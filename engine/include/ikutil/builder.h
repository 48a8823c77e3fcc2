// The engine's tasks: building a project into a device book, checking its
// sources, writing it as an OEBFF container, and building a container.
//
// Each task is created over its input, has its five callback slots filled
// by the caller (callbacks.h), runs once on the caller's thread and reports
// every problem of the book through the error callback. `window` is kept
// for the design's signature and is always null here.
//
// Each task gives its outcome as a TaskOutcome; the members that answer a
// number are the design's and say the same in fewer words.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "ikutil/callbacks.h"
#include "ikutil/params.h"
#include "ikutil/status.h"

namespace vellix::formats {
class OEBFFNode;
}

namespace ikutil {

// What one run of a task came to. On success `written_path` is the file it
// wrote (absolute: the book, or the container); on failure it is empty and
// `status` says why in the user's words, naming the file at fault (the
// source, the container, or the project file).
struct TaskOutcome {
  Status status;
  std::string written_path;

  bool ok() const { return status.ok(); }
};

// Builds DestDir/<BookFileName>.imp from the project's included sources,
// and LogDir/<BookFileName>.log when logging is on.
class CBookBuilder : public EngineCallbacks {
 public:
  CBookBuilder(CBookParams* params, void* window);
  virtual ~CBookBuilder() = default;

  // A cancelled or failed build leaves no book file and no temporary
  // file; a book that was there before stays. `preview` marks the book as
  // a preview. A cancelled build's status is kCancelled.
  TaskOutcome Build(bool preview);
  // Build's outcome as a number: 0 success, 2 cancelled, 1 failed.
  // `unused` is reserved.
  int OutputBook(bool preview, bool unused);

  // Asks a running OutputBook to stop at the next block, from inside a
  // callback or from another thread.
  virtual void RequestCancel(bool cancel) { cancel_requested_ = cancel; }

 private:
  CBookParams* params_;
  std::atomic<bool> cancel_requested_ = false;
};

// Writes the project's package document and every manifest file as one
// OEBFF container at DestDir/<BookFileName>.oeb. The package document is
// the project file, saved first at project_file_path.
class COEBFFThread : public EngineCallbacks {
 public:
  COEBFFThread(CBookParams* params, void* window);
  virtual ~COEBFFThread() = default;
  // Checks every source first when `needs_validation` (errors stop the
  // container).
  TaskOutcome Pack(bool needs_validation);
  // Pack's outcome as a number: non-zero on success.
  int GenerateOEBFF(bool needs_validation);

 private:
  CBookParams* params_;
};

// Checks sources: well-formedness, the elements and attributes of an OEB
// 1.0 basic document, style sheet syntax, and links, anchors and images
// that point at nothing.
class CValidatorThread : public EngineCallbacks {
 public:
  CValidatorThread(CBookParams* params, void* window);
  virtual ~CValidatorThread() = default;
  // One source (`index` >= 0) or all of them (< 0). An index past the list
  // checks nothing. Fails when the check reported an error: the status
  // names the first.
  TaskOutcome Check(int32_t index);
  void Validate(int32_t index) { Check(index); }

 private:
  CBookParams* params_;
};

// What the container reader found, as the engine needs it: the file, and
// for a container that was read, its node tree and parts (owned by the
// reader, which outlives the task).
struct OEBFFContainerView {
  std::string path;
  bool failed = false;
  int32_t error_code = 0;
  std::string diagnostic;
  std::string unfinished_part;  // the part the container ends inside, if any
  const vellix::formats::OEBFFNode* root = nullptr;
  std::vector<const vellix::formats::OEBFFNode*> parts;
};

// Reads the package document of a container the reader has read into
// `params` (title, author, category, sources), building nothing. A failure
// names the container and says why, in the words a build of it would use.
Status LoadContainerPackage(const OEBFFContainerView& container, CBookParams& params);

// Builds a device book from an OEBFF container: the package part first,
// then the bodies read between their recorded offsets; nothing is
// extracted to disk.
class COEBFFReaderThread : public EngineCallbacks {
 public:
  COEBFFReaderThread(const OEBFFContainerView& container, void* window);
  virtual ~COEBFFReaderThread() = default;

  bool preview = false;
  std::string dest_dir;
  std::string log_dir;
  std::string dest_name;  // the book file's base name; the package's when empty

  TaskOutcome Build();
  // Build's outcome as a number: 0 success, 2 cancelled, 1 failed.
  int OutputBook();

 private:
  OEBFFContainerView container_;
};

}  // namespace ikutil
