// The outcome of an engine step that can fail: success, or a code saying
// what kind of failure, a message for the user, the file it concerns and,
// where known, the place in it. Cheap to return by value; a success holds
// nothing. The engine's tasks give their outcome to their callers as one
// (builder.h), so a failure reaches the user in these words.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <utility>

namespace ikutil {

class Status {
 public:
  enum class Code : uint8_t {
    kOk,
    kNotFound,          // nothing by that name
    kOutside,           // the name leaves the folder or package it is read from
    kNotAFile,          // a folder (or device) where a file is expected
    kPermissionDenied,  // there, but we may not read it
    kTooLarge,          // over the size a source may have
    kTruncated,         // the container ends inside the part
    kIOError,           // the system failed to read it
    kCancelled,         // the user stopped the task
    kFailed,            // the task did not finish; its problems were reported
  };

  Status() = default;
  // `message` says what went wrong in the user's words ("permission
  // denied"); `file` names what it concerns; `offset` is a byte offset in
  // it, or -1.
  Status(Code code, std::string message, std::string file = {}, int64_t offset = -1)
      : failure_(code == Code::kOk
                     ? nullptr
                     : std::make_shared<const Failure>(Failure{code, std::move(message), std::move(file), offset})) {}

  static Status Ok() { return {}; }

  bool ok() const { return failure_ == nullptr; }
  Code code() const { return failure_ ? failure_->code : Code::kOk; }
  bool IsNotFound() const { return code() == Code::kNotFound; }
  const std::string& message() const { return failure_ ? failure_->message : Empty(); }
  const std::string& file() const { return failure_ ? failure_->file : Empty(); }
  int64_t offset() const { return failure_ ? failure_->offset : -1; }
  // "file: message", or the message alone when no file is named; "" for
  // success.
  std::string ToString() const {
    if (!failure_) return {};
    return failure_->file.empty() ? failure_->message : failure_->file + ": " + failure_->message;
  }

 private:
  struct Failure {
    Code code;
    std::string message;
    std::string file;
    int64_t offset;
  };
  static const std::string& Empty() {
    static const std::string empty;
    return empty;
  }

  std::shared_ptr<const Failure> failure_;
};

}  // namespace ikutil
