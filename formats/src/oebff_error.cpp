#include "vellix/formats/oebff_error.h"

#include <array>

namespace vellix::formats {

const char* OEBFFContainerError::MessageFor(int32_t code) noexcept {
  static constexpr std::array<const char*, 14> kMessages = {
      "No error",
      "Unexpected end of document",
      "Invalid Mime Type Header",
      "Missing Mime Type Attributes",
      "There is no equal sign",
      "Invalid value of the attribute",
      "Unlegal character",
      "Invalid File in Container",
      "Invalid Mime Headers",
      "Invalid Quoted Value",
      "Invalid OEBFF Container",
      "Invalid Part in the OEBFF Container",
      "File not found",
      "User aborted parsing",
  };
  if (code < 0 || code >= static_cast<int32_t>(kMessages.size())) return "Unknown error";
  return kMessages[static_cast<size_t>(code)];
}

const char* ContainerFailureReason(int32_t code) noexcept {
  static constexpr std::array<const char*, 14> kReasons = {
      "",
      "a quoted value runs to the end of the file",
      "a content type header is not valid",
      "a content type header has no attributes",
      "a header attribute has no equal sign",
      "a header attribute's value is neither a word nor a quoted string",
      "a quoted value holds a character it may not",
      "a file in it is not valid",
      "a header line has no name or no colon",
      "a quoted value is not valid",
      "its headers are not a container's, or a part has no delimiter",
      "a part's headers are not valid",
      "the file cannot be opened",
      "the reading was stopped",
  };
  if (code < 0 || code >= static_cast<int32_t>(kReasons.size())) return "";
  return kReasons[static_cast<size_t>(code)];
}

std::string ComposeDiagnostic(const char* message, uint32_t code) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string text = message;
  text += "\r\nError 0x";
  for (int shift = 28; shift >= 0; shift -= 4) text += kHex[(code >> shift) & 0xF];
  text += "\r\n";
  return text;
}

}  // namespace vellix::formats
