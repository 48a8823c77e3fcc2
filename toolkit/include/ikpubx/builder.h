// The Builder: builds a project into a device book, checks its sources,
// writes it as an OEBFF container, and builds a container, reporting
// progress and problems as events (events.h).
//
// IBuilder is the automation interface (members in slot order). Every
// member answers a result code and never throws. Everything runs on the
// caller's thread; event handlers run nested inside the call, and the one
// re-entrant call that has an effect is AbortBuild from such a handler.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "ikpubx/com.h"
#include "ikpubx/events.h"
#include "ikpubx/oebff_reader.h"
#include "ikpubx/project.h"
#include "ikutil/builder.h"

namespace ikpubx {

class IBuilder : public ComObject {
 public:
  virtual HRESULT OnStartPage(ComObject* unknown) = 0;
  virtual HRESULT OnEndPage() = 0;
  virtual HRESULT Build(IProject* project) = 0;
  virtual HRESULT BuildFromProject(const std::string& project_file) = 0;
  virtual HRESULT BuildFromHTMLFile(const std::string& html_file) = 0;
  virtual HRESULT BuildFromHTMLFiles(Variant* file_list) = 0;
  virtual HRESULT BuildFromHTML(Variant* document) = 0;
  virtual HRESULT AbortBuild() = 0;
  virtual HRESULT FeedbackThreshold(int32_t* out) = 0;
  virtual HRESULT SetFeedbackThreshold(int32_t value) = 0;
  virtual HRESULT HTCheck(IProject* project, int16_t index) = 0;
  virtual HRESULT Preview(int32_t* out) = 0;
  virtual HRESULT SetPreview(int32_t value) = 0;
  virtual HRESULT GenerateOEBFF(IProject* project, int32_t needs_validation) = 0;
  virtual HRESULT BuildFromOEBFF(const std::string& oeb_file, const std::string& dest_dir, const std::string& log_dir,
                                 int32_t preview) = 0;

  // The connection points: _IBuilderEvents, and _IViewerEvents (offered,
  // never fired). Advise gives a cookie (from 1); Unadvise of a cookie not
  // connected gives CONNECT_E_NOCONNECTION; a null sink gives E_POINTER.
  virtual HRESULT Advise(std::shared_ptr<IBuilderEvents> sink, uint32_t* cookie) = 0;
  virtual HRESULT Unadvise(uint32_t cookie) = 0;
  virtual HRESULT AdviseViewerEvents(std::shared_ptr<IViewerEvents> sink, uint32_t* cookie) = 0;
  virtual HRESULT UnadviseViewerEvents(uint32_t cookie) = 0;

  // Not part of the automation interface (no slot, no script sees it): for
  // C++ clients in this process. What the last task of this Builder came
  // to: the engine's outcome, with the file it wrote on success, or why the
  // task failed or could not start, in the user's words. The members above
  // answer it as a result code.
  virtual ikutil::TaskOutcome LastOutcome() = 0;
};

// Creates a Builder over the real engine, as the class registry does for
// "IKPublisher.Builder".
std::shared_ptr<IBuilder> NewBuilder();

// What the engine's container tasks are given of the container `reader`
// read from `path`: its failure, or its tree and parts (which stay the
// reader's, so the reader must outlive the view).
ikutil::OEBFFContainerView ContainerView(const OEBFFReader& reader, const std::string& path);

}  // namespace ikpubx
