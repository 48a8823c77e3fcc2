// The class ikpubx.Viewer: a device book page by page, its events, and the
// proofing calls (the text, contents, links and search of its pages).
#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "ikpubx/bindings.h"
#include "ikpubx/module.h"
#include "ikpubx/viewer.h"

namespace ikpubx::bindings {
namespace {

using vellix::script::PendingError;
using vellix::script::Text;

// What one Viewer's sinks share with its calls: a handler's exception
// waiting to be raised from the call that fired the event.
struct ViewerState {
  PendingError pending;
};

class ScriptViewerSink : public IViewerEvents {
 public:
  ScriptViewerSink(py::object target, std::shared_ptr<ViewerState> state)
      : target_(std::move(target)), state_(std::move(state)) {}
  ~ScriptViewerSink() override { DropSinkReferences(target_, state_); }

  void OnNewPage(int32_t page) override {
    Call("OnNewPage", [&](const py::object& h) { h(page); });
  }
  void OnZoomChange() override {
    Call("OnZoomChange", [&](const py::object& h) { h(); });
  }

 private:
  template <typename Invoke>
  void Call(const char* name, const Invoke& invoke) {
    py::gil_scoped_acquire gil;
    vellix::script::CallHandler(target_, name, state_->pending, invoke);
  }

  py::object target_;
  std::shared_ptr<ViewerState> state_;
};

class ScriptViewer {
 public:
  explicit ScriptViewer(std::shared_ptr<IViewer> viewer)
      : viewer_(std::move(viewer)), state_(std::make_shared<ViewerState>()) {}

  IViewer* get() const { return viewer_.get(); }
  const std::shared_ptr<ViewerState>& state() const { return state_; }

  // Pages are laid out and drawn without the GIL.
  template <typename Call>
  HRESULT Run(const Call& call) {
    return RunWithoutGil(state_->pending, call);
  }

 private:
  std::shared_ptr<IViewer> viewer_;
  std::shared_ptr<ViewerState> state_;
};

// A typed character: a one-character str or its code.
uint32_t CharacterCode(py::handle character) {
  if (py::isinstance<py::str>(character)) {
    py::str text = py::reinterpret_borrow<py::str>(character);
    if (py::len(text) != 1) throw ComFailure(E_INVALIDARG);
    return static_cast<uint32_t>(PyUnicode_ReadChar(text.ptr(), 0));
  }
  return Narrow<uint32_t>(character.cast<int64_t>());
}

}  // namespace

void BindViewer(py::module_& m) {
  py::class_<ScriptViewer, std::shared_ptr<ScriptViewer>> cls(
      m, "Viewer", "Shows a device book page by page at the device's size and depth.");
  cls.def(py::init([] { return NewWrapped<ScriptViewer, IViewer>(kViewerIndependentProgId); }));
  cls.def_property(
      "BookName",
      [](const ScriptViewer& self) {
        std::string name;
        Check(self.get()->BookName(&name));
        return Text(name);
      },
      [](ScriptViewer& self, const std::string& name) {
        try {
          self.Run([&] { return self.get()->SetBookName(name); });
        } catch (const ComFailure& e) {
          throw ComFailure(e.hr, self.get()->LastErrorMessage());  // why the book did not open
        }
      },
      "The book file shown; assigning opens it (a ComError says when it cannot be opened).");
  cls.def_property_readonly("NumPages", [](ScriptViewer& self) {
    int32_t pages = 0;
    self.Run([&] { return self.get()->NumPages(&pages); });
    return pages;
  });
  cls.def("ToggleZoom", [](ScriptViewer& self) { return self.Run([&] { return self.get()->ToggleZoom(); }); });
  cls.def("NextPage", [](ScriptViewer& self) { return self.Run([&] { return self.get()->NextPage(); }); });
  cls.def("PrevPage", [](ScriptViewer& self) { return self.Run([&] { return self.get()->PrevPage(); }); });
  cls.def_property(
      "CurPage",
      [](const ScriptViewer& self) {
        int32_t page = 0;
        Check(self.get()->CurPage(&page));
        return page;
      },
      [](ScriptViewer& self, int64_t page) {
        int32_t narrow = Narrow<int32_t>(page);
        self.Run([&] { return self.get()->SetCurPage(narrow); });
      });
  cls.def("ShowInfoTray", [](ScriptViewer& self) { return self.Run([&] { return self.get()->ShowInfoTray(); }); });
  cls.def(
      "GetPageImage",
      [](ScriptViewer& self, int64_t pageno, py::object buffer) -> py::object {
        int32_t page = Narrow<int32_t>(pageno);
        if (!buffer.is_none() && !py::isinstance<py::bytearray>(buffer)) throw ComFailure(E_INVALIDARG);
        ikutil::PageImage image;
        self.Run([&] { return self.get()->GetPageImage(page, &image); });
        const char* pixels = reinterpret_cast<const char*>(image.pixels.data());
        const auto size = static_cast<Py_ssize_t>(image.pixels.size());
        if (buffer.is_none()) return py::make_tuple(py::bytes(pixels, size), image.width, image.height, image.depth);
        if (PyByteArray_Resize(buffer.ptr(), size) != 0) throw py::error_already_set();
        std::copy(pixels, pixels + size, PyByteArray_AsString(buffer.ptr()));
        return py::make_tuple(image.width, image.height, image.depth);
      },
      py::arg("pageno"), py::arg("buffer") = py::none(),
      "Draws a page: one byte per pixel, row by row from the top left, 0 black to (1 << depth) - 1 white. "
      "Returns (pixels, width, height, depth), or fills the given bytearray and returns (width, height, depth).");
  cls.def(
      "ChangeDeviceSettings",
      [](ScriptViewer& self, int64_t width, int64_t height, int64_t depth) {
        int32_t w = Narrow<int32_t>(width), h = Narrow<int32_t>(height);
        int16_t d = Narrow<int16_t>(depth);
        return self.Run([&] { return self.get()->ChangeDeviceSettings(w, h, d); });
      },
      py::arg("width"), py::arg("height"), py::arg("depth"));
  cls.def(
      "HandleChar",
      [](ScriptViewer& self, py::handle character) {
        uint32_t code = CharacterCode(character);
        return self.Run([&] { return self.get()->HandleChar(code); });
      },
      py::arg("character"), "A key typed into the page window: \"n\" or \" \" next, \"p\" previous, \"q\" close.");
  cls.def_property_readonly("HasBook", [](const ScriptViewer& self) { return self.get()->HasBook(); });
  cls.def("__enter__", [](const std::shared_ptr<ScriptViewer>& self) { return self; });
  cls.def(
      "__exit__",
      [](ScriptViewer& self, const py::args&) {
        // Closed as the reader's "q" closes it: the book file is let go.
        if (self.get()->HasBook()) self.Run([&] { return self.get()->HandleChar('q'); });
        return false;
      },
      "Leaving a `with` block closes the book shown.");
  cls.def_property_readonly("IsZoomed", [](const ScriptViewer& self) { return self.get()->IsZoomed(); });
  cls.def_property_readonly("LastError", [](const ScriptViewer& self) { return self.get()->LastError(); });
  cls.def_property_readonly("LastErrorMessage",
                            [](const ScriptViewer& self) { return Text(self.get()->LastErrorMessage()); });
  cls.def(
      "Advise",
      [](ScriptViewer& self, py::object sink) {
        if (sink.is_none()) throw ComFailure(E_POINTER);
        uint32_t cookie = 0;
        Check(self.get()->Advise(std::make_shared<ScriptViewerSink>(std::move(sink), self.state()), &cookie));
        return cookie;
      },
      py::arg("sink"), "Connects an object with OnNewPage(page) and/or OnZoomChange(); returns the cookie.");
  cls.def(
      "Unadvise",
      [](ScriptViewer& self, int64_t cookie) { return Check(self.get()->Unadvise(Narrow<uint32_t>(cookie))); },
      py::arg("cookie"));

  // Proofing.
  auto rect = [](const ikutil::PageRect& r) { return py::make_tuple(r.x, r.y, r.width, r.height); };
  cls.def(
      "GetPageText",
      [rect](ScriptViewer& self, int64_t pageno) {
        int32_t page = Narrow<int32_t>(pageno);
        std::vector<ikutil::TextLine> lines;
        self.Run([&] { return self.get()->GetPageText(page, &lines); });
        py::list out;
        for (const ikutil::TextLine& line : lines) {
          py::dict d;
          d["text"] = Text(line.text);
          d["rect"] = rect(line.rect);
          d["heading"] = line.heading;
          d["image"] = line.image;
          out.append(d);
        }
        return out;
      },
      py::arg("pageno"), "The laid-out lines of a page: dicts of text, rect (x, y, width, height), heading, image.");
  cls.def_property_readonly(
      "Contents",
      [](ScriptViewer& self) {
        std::vector<ikutil::ContentsEntry> entries;
        self.Run([&] { return self.get()->GetContents(&entries); });
        py::list out;
        for (const ikutil::ContentsEntry& entry : entries) {
          py::dict d;
          d["label"] = Text(entry.label);
          d["level"] = entry.level;
          d["page"] = entry.page;
          out.append(d);
        }
        return out;
      },
      "The table of contents: dicts of label, level and page at the current size and zoom.");
  cls.def_property_readonly(
      "PageLinks",
      [rect](ScriptViewer& self) {
        std::vector<ikutil::PageLink> links;
        self.Run([&] { return self.get()->GetPageLinks(&links); });
        py::list out;
        for (const ikutil::PageLink& link : links) {
          py::dict d;
          d["text"] = Text(link.text);
          py::list rects;
          for (const ikutil::PageRect& r : link.rects) rects.append(rect(r));
          d["rects"] = rects;
          const bool in_book = link.kind == ikutil::LinkTarget::kPage;
          d["target_page"] = in_book ? py::object(py::int_(link.target_page)) : py::object(py::none());
          d["href"] = in_book ? py::object(py::none()) : py::object(Text(link.href));
          d["broken"] = link.kind == ikutil::LinkTarget::kBroken;
          out.append(d);
        }
        return out;
      },
      "The links on the page shown: dicts of text, rects, target_page (None unless it leads into the book), "
      "href (None when it does) and broken.");
  cls.def(
      "FollowLink",
      [](ScriptViewer& self, int64_t index) {
        int32_t i = Narrow<int32_t>(index);
        return self.Run([&] { return self.get()->FollowLink(i); }) == S_OK;
      },
      py::arg("index"),
      "Follows a link of PageLinks: True when its page is shown, False when it leads outside the book or nowhere.");
  cls.def(
      "GoBack", [](ScriptViewer& self) { return self.Run([&] { return self.get()->GoBack(); }) == S_OK; },
      "Back to the page the last followed link left; False when there is none.");
  cls.def(
      "Find",
      [rect](ScriptViewer& self, const std::string& text, int64_t from_page, int64_t direction) {
        int32_t from = Narrow<int32_t>(from_page);
        const int32_t way = direction > 0 ? 1 : direction < 0 ? -1 : 0;
        ikutil::FindResult result;
        self.Run([&] { return self.get()->Find(text, from, way, &result); });
        py::list hits;
        for (const std::vector<ikutil::PageRect>& hit : result.hits) {
          py::list rects;
          for (const ikutil::PageRect& r : hit) rects.append(rect(r));
          hits.append(rects);
        }
        return py::make_tuple(result.page, hits);
      },
      py::arg("text"), py::arg("from_page") = 1, py::arg("direction") = 1,
      "The next page at or after from_page holding text, ignoring case (direction < 0: the last page at or "
      "before it; 0: from_page alone): (page, hits), each hit a list of rects, one per line; page 0 when none.");
}

py::object WrapViewer(std::shared_ptr<IViewer> viewer) {
  return py::cast(std::make_shared<ScriptViewer>(std::move(viewer)));
}

}  // namespace ikpubx::bindings
