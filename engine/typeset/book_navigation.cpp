// The viewer's ways around a book besides paging: the laid-out lines with
// their places, the table of contents, links and their history, search.
#include <algorithm>
#include <new>

#include "edition_source.h"
#include "ikutil/book_viewer.h"
#include "text_search.h"
#include "viewer_book.h"

namespace ikutil {
namespace {

using typeset::FlowHit;
using typeset::Page;
using typeset::PageLine;

constexpr size_t kMaxHistory = 1000;

bool Before(const FlowPosition& a, const FlowPosition& b) {
  return a.block < b.block || (a.block == b.block && a.offset < b.offset);
}

PageRect LineRect(const PageLine& line) {
  return {line.left, line.top, std::max(0, line.right - line.left), line.bottom - line.top};
}

// The rectangles `hit` covers on `page`, one per line.
std::vector<PageRect> RectsOf(const Page& page, const FlowHit& hit) {
  std::vector<PageRect> rects;
  for (const PageLine& line : page.lines) {
    if (line.block != hit.block || line.chars.empty()) continue;
    int32_t left = INT32_MAX, right = INT32_MIN;
    for (const typeset::CharBox& box : line.chars) {
      if (box.offset < hit.begin || box.offset >= hit.end) continue;
      left = std::min(left, box.left);
      right = std::max(right, box.right);
    }
    if (left > right) {
      // The hit lies inside one glyph (a ligature): that glyph, when the
      // hit starts within its characters.
      auto after = std::upper_bound(line.chars.begin(), line.chars.end(), hit.begin,
                                    [](uint32_t offset, const typeset::CharBox& box) { return offset < box.offset; });
      if (after == line.chars.begin()) continue;
      const typeset::CharBox& holder = *(after - 1);
      const uint32_t holder_end = after != line.chars.end() ? after->offset : holder.offset + 4;
      if (hit.begin >= holder_end) continue;
      left = holder.left;
      right = holder.right;
    }
    rects.push_back({left, line.top, right - left, line.bottom - line.top});
  }
  return rects;
}

std::string LinkedText(EditionSource& source, uint32_t block, uint32_t link) {
  std::string text;
  if (block >= source.BlockCount()) return text;
  for (const Run& run : source.BlockAt(block).runs)
    if (run.link == link) text += run.text;
  return text;
}

}  // namespace

std::vector<TextLine> CBookViewer::PageLines(int32_t page) {
  std::vector<TextLine> lines;
  if (!book_) return lines;
  try {
    const Page* laid_out = book_->typesetter->GetPage(book_->Clamp(page));
    if (laid_out == nullptr) return lines;
    for (const PageLine& line : laid_out->lines) lines.push_back({line.text, LineRect(line), line.heading, line.image});
  } catch (const std::exception& e) {
    Failed(e);
    lines.clear();
  }
  return lines;
}

std::vector<ContentsEntry> CBookViewer::Contents() {
  std::vector<ContentsEntry> entries;
  if (!book_) return entries;
  try {
    // The contents follow the last block.
    book_->source->ReadAll();
    for (const TocEntry& entry : book_->edition().toc)
      entries.push_back({entry.title, entry.level, book_->typesetter->PageOf(entry.target)});
  } catch (const std::exception& e) {
    Failed(e);
    entries.clear();
  }
  return entries;
}

std::vector<PageLink> CBookViewer::PageLinks(int32_t page) {
  std::vector<PageLink> links;
  if (!book_) return links;
  try {
    const Page* laid_out = book_->typesetter->GetPage(book_->Clamp(page));
    if (laid_out == nullptr) return links;
    // The page is copied: finding a target page lays out further.
    const std::vector<typeset::LinkArea> areas = laid_out->links;
    // The links follow the last block.
    if (!areas.empty()) book_->source->ReadAll();
    uint32_t previous = kNoLink;
    for (const typeset::LinkArea& area : areas) {
      const PageRect rect{area.x, area.y, area.width, area.height};
      if (area.link == previous && !links.empty()) {
        links.back().rects.push_back(rect);
        continue;
      }
      previous = area.link;
      PageLink out;
      out.rects.push_back(rect);
      out.text = LinkedText(*book_->source, area.block, area.link);
      const Link& link = book_->edition().links.at(area.link);
      if (link.external) {
        out.kind = LinkTarget::kOutside;
        out.href = link.uri;
      } else if (link.broken) {
        out.kind = LinkTarget::kBroken;
        out.href = link.uri;
      } else {
        out.kind = LinkTarget::kPage;
        out.target_page = book_->typesetter->PageOf(link.target);
      }
      links.push_back(std::move(out));
    }
  } catch (const std::exception& e) {
    Failed(e);
    links.clear();
  }
  return links;
}

int32_t CBookViewer::LinkAt(int32_t x, int32_t y) {
  const std::vector<PageLink> links = PageLinks(current_page_);
  for (size_t i = 0; i < links.size(); ++i)
    for (const PageRect& rect : links[i].rects)
      if (rect.Contains(x, y)) return static_cast<int32_t>(i);
  return -1;
}

FollowResult CBookViewer::FollowLink(int32_t index) {
  if (!book_) return FollowResult::kNoSuchLink;
  const std::vector<PageLink> links = PageLinks(current_page_);
  if (index < 0 || static_cast<size_t>(index) >= links.size()) return FollowResult::kNoSuchLink;
  const PageLink& link = links[static_cast<size_t>(index)];
  if (link.kind == LinkTarget::kOutside) return FollowResult::kOutside;
  if (link.kind == LinkTarget::kBroken || link.target_page < 1) return FollowResult::kBroken;
  try {
    // Remembered as a place in the flow, so Back still finds it after a zoom.
    const std::optional<FlowPosition> here = book_->typesetter->StartOf(current_page_);
    if (here) {
      if (history_.size() >= kMaxHistory) history_.erase(history_.begin());
      history_.push_back(*here);
    }
  } catch (const std::exception& e) {
    Failed(e);
    return FollowResult::kBroken;
  }
  GotoPage(link.target_page);
  return FollowResult::kFollowed;
}

bool CBookViewer::GoBack() {
  if (!book_ || history_.empty()) return false;
  const FlowPosition back = history_.back();
  history_.pop_back();
  int32_t page = 0;
  try {
    page = book_->typesetter->PageOf(back);
  } catch (const std::exception& e) {
    Failed(e);
    return false;
  }
  GotoPage(page);
  return true;
}

FindResult CBookViewer::FindOnPage(const std::string& text, int32_t page) {
  FindResult result;
  if (!book_ || page < 1) return result;
  try {
    const std::optional<FlowPosition> start = book_->typesetter->StartOf(page);
    if (!start) return result;
    const std::optional<FlowPosition> next = book_->typesetter->StartOf(page + 1);
    const FlowPosition end = next ? *next : FlowPosition{book_->source->BlockCount(), 0};
    typeset::TextFinder finder(*book_->source, text);
    const std::vector<FlowHit> hits = finder.Between(*start, end);
    if (hits.empty()) return result;
    const Page* laid_out = book_->typesetter->GetPage(page);
    if (laid_out == nullptr) return result;
    result.page = page;
    for (const FlowHit& hit : hits) result.hits.push_back(RectsOf(*laid_out, hit));
  } catch (const std::exception& e) {
    Failed(e);
    return {};
  }
  return result;
}

FindResult CBookViewer::Find(const std::string& text, int32_t from_page) {
  if (!book_) return {};
  try {
    typeset::TextFinder finder(*book_->source, text);
    if (finder.Empty()) return {};
    const std::optional<FlowPosition> start = book_->typesetter->StartOf(std::max(1, from_page));
    if (!start) return {};
    const std::optional<FlowHit> hit = finder.Next(*start);
    if (!hit) return {};
    return FindOnPage(text, book_->typesetter->PageOf({hit->block, hit->begin}));
  } catch (const std::exception& e) {
    Failed(e);
    return {};
  }
}

FindResult CBookViewer::FindBackward(const std::string& text, int32_t from_page) {
  if (!book_ || from_page < 1) return {};
  try {
    typeset::TextFinder finder(*book_->source, text);
    if (finder.Empty()) return {};
    const std::optional<FlowPosition> next = book_->typesetter->StartOf(from_page + 1);
    const FlowPosition end = next ? *next : FlowPosition{book_->source->BlockCount(), 0};
    std::optional<FlowHit> last;
    for (FlowPosition at{0, 0}; auto hit = finder.Next(at);) {
      if (!Before({hit->block, hit->begin}, end)) break;
      last = hit;
      at = {hit->block, hit->end};
    }
    if (!last) return {};
    return FindOnPage(text, book_->typesetter->PageOf({last->block, last->begin}));
  } catch (const std::exception& e) {
    Failed(e);
    return {};
  }
}

}  // namespace ikutil
