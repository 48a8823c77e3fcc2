// The event interfaces of the toolkit's objects. A client derives a sink,
// overrides the events it wants (the others do nothing) and connects it
// with Advise; events fire on every connected sink in connection order,
// nested inside the call that caused them.
#pragma once

#include <cstdint>
#include <string>

#include "ikpubx/com.h"

namespace ikpubx {

class IProject;

inline constexpr HRESULT CONNECT_E_NOCONNECTION = static_cast<HRESULT>(0x80040200u);

class IBuilderEvents : public ComObject {
 public:
  virtual void OnBuildStart(IProject* /*project*/) {}
  virtual void OnError(const std::string& /*file*/, const std::string& /*message*/, int32_t /*line*/,
                       int32_t /*column*/, int16_t /*severity*/) {}
  virtual void OnSourceStart(const std::string& /*file*/, int32_t /*number*/, int32_t /*total*/) {}
  virtual void OnParserFeedback(int32_t /*current_byte*/, int32_t /*total_bytes*/) {}
  virtual void OnLayoutFeedback(const std::string& /*message*/) {}
  virtual void OnSourceDone(const std::string& /*file*/, int32_t /*number*/, int32_t /*total*/) {}
};

class IViewerEvents : public ComObject {
 public:
  virtual void OnNewPage(int32_t /*page*/) {}
  virtual void OnZoomChange() {}
};

}  // namespace ikpubx
