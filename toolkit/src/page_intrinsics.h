// The five objects a server page hands the components it creates (Request,
// Response, Server, Session, Application), held between OnStartPage and
// OnEndPage. The Project and the Builder keep them alike.
#pragma once

#include <memory>
#include <utility>

#include "ikpubx/project.h"

namespace ikpubx {

class PageIntrinsics {
 public:
  // Takes the five objects from `unknown`'s scripting context: E_POINTER
  // for null, E_NOINTERFACE when it is no context. When a step fails,
  // nothing is held afterwards (what was taken is released) and the page
  // counts as not started.
  HRESULT Start(ComObject* unknown) {
    if (!unknown) return E_POINTER;
    auto* context = dynamic_cast<IScriptingContext*>(unknown);
    if (!context) return E_NOINTERFACE;
    using Getter = HRESULT (IScriptingContext::*)(std::shared_ptr<ComObject>*);
    const std::pair<Getter, std::shared_ptr<ComObject>*> steps[] = {
        {&IScriptingContext::Request, &request_},         {&IScriptingContext::Response, &response_},
        {&IScriptingContext::Server, &server_},           {&IScriptingContext::Session, &session_},
        {&IScriptingContext::Application, &application_},
    };
    for (const auto& [getter, slot] : steps) {
      std::shared_ptr<ComObject> taken;
      HRESULT hr = (context->*getter)(&taken);
      if (Failed(hr)) {
        End();
        return hr;
      }
      *slot = std::move(taken);
    }
    started_ = true;
    return S_OK;
  }

  // Releases the five objects.
  void End() {
    started_ = false;
    request_.reset();
    response_.reset();
    server_.reset();
    session_.reset();
    application_.reset();
  }

  bool started() const { return started_; }

 private:
  std::shared_ptr<ComObject> request_, response_, server_, session_, application_;
  bool started_ = false;
};

}  // namespace ikpubx
