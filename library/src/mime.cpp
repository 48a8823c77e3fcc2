#include "mime.h"

#include "vellix/codepage.h"
#include "vellix/error.h"

namespace vellix {

void MIME::SetPath(const std::string& path) {
  if (state_ != 0) return;
  path_ = path;
  out_ = std::make_unique<AtomicFileWriter>(path, "oeb");
}

void MIME::Write(const std::string& text) {
  if (!out_) Raise(52);  // no container open: "Bad file name or number"
  out_->Write(text);
}

void MIME::PutMimeHeader() {
  if (state_ != 0) return;
  Write(std::string("MIME-Version: 1.0\r\n") +
        "Content-Type: multipart/related;\r\n"
        "\ttype=\"application/x-oeb1\";\r\n"
        "\tstart=\"" + kStart + "\";\r\n"
        "\tboundary=\"" + kBoundary + "\"\r\n");
  state_ = 1;
}

void MIME::PutMimePackageHeader() {
  if (state_ != 1) return;
  Write(std::string("\r\n--") + kBoundary + "\r\n" +
        "Content-Type: text/xml\r\n"
        "Content-ID: " + kStart + "\r\n"
        "\r\n");
  state_ = 2;
}

void MIME::PutMimeFileHeader(const std::string& content_type, const std::string& oeb,
                             const std::string& content_disposition) {
  if (state_ != 2 && state_ != 3) return;
  Write(std::string("\r\n--") + kBoundary + "\r\n" +
        "Content-Type: " + Utf8ToCp1252Lossy(content_type) + "\r\n" +
        "Content-OEB-ID: " + Utf8ToCp1252Lossy(oeb) + "\r\n" +
        "Content-Disposition: href=\"" + Utf8ToCp1252Lossy(content_disposition) + "\"\r\n" +
        "Content-Transfer-Encoding: binary\r\n"
        "\r\n");
  state_ = 3;
}

void MIME::AttachFile(const std::string& file_path) {
  if (!IsFile(file_path)) return;
  if (!out_) Raise(52);
  InputFile file(file_path);
  out_->CopyFrom(file, file.size());
}

void MIME::PutMimeFooter() {
  if (state_ != 2 && state_ != 3) return;
  Write(std::string("\r\n--") + kBoundary + "--\r\n");
  state_ = 4;
}

void MIME::Complete() {
  if (!out_) return;
  out_->Commit();
  out_.reset();
}

}  // namespace vellix
