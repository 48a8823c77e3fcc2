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

std::string ComposeDiagnostic(const char* message, uint32_t code) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string text = message;
  text += "\r\nError 0x";
  for (int shift = 28; shift >= 0; shift -= 4) text += kHex[(code >> shift) & 0xF];
  text += "\r\n";
  return text;
}

}  // namespace vellix::formats
