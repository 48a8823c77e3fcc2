#include "vellix/formats/oebff_writer.h"

namespace vellix {
namespace {

std::string Delimiter() { return std::string("\r\n--") + kOEBFFBoundary + "\r\n"; }

}  // namespace

std::string OEBFFContainerHeader() {
  return std::string("MIME-Version: 1.0\r\n") +
         "Content-Type: multipart/related;\r\n"
         "\ttype=\"application/x-oeb1\";\r\n"
         "\tstart=\"" + kOEBFFStart + "\";\r\n"
         "\tboundary=\"" + kOEBFFBoundary + "\"\r\n";
}

std::string OEBFFPackagePartHeader() {
  return Delimiter() + "Content-Type: text/xml\r\nContent-ID: " + kOEBFFStart + "\r\n\r\n";
}

std::string OEBFFFilePartHeader(std::string_view content_type, std::string_view oeb_id,
                                std::string_view href) {
  std::string text = Delimiter();
  text.append("Content-Type: ").append(content_type).append("\r\n");
  text.append("Content-OEB-ID: ").append(oeb_id).append("\r\n");
  text.append("Content-Disposition: href=\"").append(href).append("\"\r\n");
  text.append("Content-Transfer-Encoding: binary\r\n\r\n");
  return text;
}

std::string OEBFFContainerFooter() { return std::string("\r\n--") + kOEBFFBoundary + "--\r\n"; }

}  // namespace vellix
