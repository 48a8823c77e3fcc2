// The OEBFF container writer (the container's text is in
// vellix/formats/oebff_writer.h).
//
// The writer is a small state machine (0 new, 1 header, 2 package header,
// 3 file headers, 4 footer); an operation called in a state it does not
// accept writes nothing and raises nothing. The container is written to a
// temporary file beside Path and put in place by Complete(), so a failed or
// abandoned container never replaces a good one, and an older, longer file
// leaves no tail.
#pragma once

#include <memory>
#include <string>

#include "vellix/formats/file_io.h"

namespace vellix {

class MIME {
 public:
  const std::string& Path() const { return path_; }
  // Only in state 0: remembers the path and starts the output.
  void SetPath(const std::string& path);
  void PutMimeHeader();
  void PutMimePackageHeader();
  // The media type and id are written in the 8-bit code page, unquoted (the
  // caller makes sure they are header tokens); the href, in its URI form.
  void PutMimeFileHeader(const std::string& content_type, const std::string& oeb,
                         const std::string& content_disposition);
  // Appends the file's bytes when the file exists; the state is unchanged.
  // Throws 5 when they hold the part delimiter, which would cut the part.
  void AttachFile(const std::string& file_path);
  void PutMimeFooter();
  // Closes the container and puts it in place.
  void Complete();

  int state() const { return state_; }

 private:
  void Write(const std::string& text);

  int state_ = 0;
  std::string path_;
  std::unique_ptr<formats::AtomicFileWriter> out_;
};

}  // namespace vellix
