#include "mime.h"

#include <algorithm>

#include "vellix/error.h"
#include "vellix/formats/codepage.h"
#include "vellix/formats/oebff_package.h"
#include "vellix/formats/oebff_writer.h"

namespace vellix {

void MIME::SetPath(const std::string& path) {
  if (state_ != 0) return;
  path_ = path;
  out_ = std::make_unique<formats::AtomicFileWriter>(path);
}

void MIME::Write(const std::string& text) {
  if (!out_) formats::Raise(formats::kBadFileName);  // no container open
  out_->Write(text);
}

void MIME::PutMimeHeader() {
  if (state_ != 0) return;
  Write(formats::OEBFFContainerHeader());
  state_ = 1;
}

void MIME::PutMimePackageHeader() {
  if (state_ != 1) return;
  Write(formats::OEBFFPackagePartHeader());
  state_ = 2;
}

void MIME::PutMimeFileHeader(const std::string& content_type, const std::string& oeb,
                             const std::string& content_disposition) {
  if (state_ != 2 && state_ != 3) return;
  // The href is a URI: its UTF-8 bytes are percent-encoded where needed.
  Write(formats::OEBFFFilePartHeader(formats::Utf8ToCp1252Lossy(content_type), formats::Utf8ToCp1252Lossy(oeb),
                                     content_disposition));
  state_ = 3;
}

void MIME::AttachFile(const std::string& file_path) {
  if (!formats::IsFile(file_path)) return;
  if (!out_) formats::Raise(formats::kBadFileName, file_path);
  formats::AppendOEBFFBody(*out_, file_path);
}

void MIME::PutMimeFooter() {
  if (state_ != 2 && state_ != 3) return;
  Write(formats::OEBFFContainerFooter());
  state_ = 4;
}

void MIME::Complete() {
  if (!out_) return;
  out_->Commit();
  out_.reset();
}

}  // namespace vellix
