#include "edition_layout.h"

#include <algorithm>
#include <cstdio>

#include "vellix/formats/codepage.h"

namespace ikutil {

bool IsLanguageTag(std::string_view tag) {
  const auto letter = [](char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); };
  if (tag.empty() || tag.size() > kMaxLanguageTag || !letter(tag[0])) return false;
  return std::all_of(tag.begin(), tag.end(),
                     [&](char c) { return letter(c) || (c >= '0' && c <= '9') || c == '-' || c == '_'; });
}

}  // namespace ikutil

namespace ikutil::edition {
namespace {

constexpr size_t kMaxLiteral = 128;
constexpr size_t kMinRepeat = 2;
constexpr size_t kMaxRepeat = 129;

std::string Where(const char* table, size_t index) { return std::string(table) + " " + std::to_string(index); }

// Where each run of `block` starts in its text, and the text's length.
struct RunStarts {
  std::vector<uint64_t> starts;
  uint64_t length = 0;
};

RunStarts StartsOf(const Block& block) {
  RunStarts out;
  out.starts.reserve(block.runs.size());
  for (const Run& run : block.runs) {
    out.starts.push_back(out.length);
    out.length += run.text.size();
  }
  return out;
}

// "" when `position` names a character boundary in the text of its block
// (the end of the text included).
std::string CheckPosition(const DeviceEdition& edition, const std::vector<RunStarts>& starts,
                          const FlowPosition& position) {
  if (position.block >= edition.blocks.size())
    return "points at block " + std::to_string(position.block) + " of " + std::to_string(edition.blocks.size());
  const RunStarts& block = starts[position.block];
  if (position.offset > block.length)
    return "points at byte " + std::to_string(position.offset) + " of a block holding " + std::to_string(block.length);
  if (position.offset == block.length) return "";
  auto next = std::upper_bound(block.starts.begin(), block.starts.end(), uint64_t{position.offset});
  size_t run = static_cast<size_t>(next - block.starts.begin()) - 1;
  // Empty runs share their start with the next one; the byte lies in the last of them.
  const std::string& text = edition.blocks[position.block].runs[run].text;
  unsigned char byte = static_cast<unsigned char>(text[position.offset - block.starts[run]]);
  if ((byte & 0xC0) == 0x80) return "points inside a character";
  return "";
}

}  // namespace

std::string ImageResourceName(size_t index) {
  char name[8];
  std::snprintf(name, sizeof name, "%04zX", index & 0xFFFF);
  return name;
}

uint64_t TextLength(const Block& block) {
  uint64_t length = 0;
  for (const Run& run : block.runs) length += run.text.size();
  return length;
}

std::string HeadProblem(const DeviceEdition& edition) {
  const EditionSettings& s = edition.settings;
  if (s.zoom_states > kMaxZoomStates) return "the zoom states are " + std::to_string(s.zoom_states) + ", not 0-2";
  if (!vellix::formats::IsValidUtf8(edition.language)) return "the language is not valid UTF-8";
  for (size_t i = 0; i < edition.text_styles.size(); ++i) {
    const TextStyle& t = edition.text_styles[i];
    if (static_cast<uint8_t>(t.family) > static_cast<uint8_t>(FontFamily::kMono))
      return Where("text style", i) + " has an unknown font family";
    if (t.size_step < -3 || t.size_step > 3) return Where("text style", i) + " has a size step outside -3..3";
    if (static_cast<uint8_t>(t.vertical) > static_cast<uint8_t>(VerticalAlign::kSub))
      return Where("text style", i) + " has an unknown vertical alignment";
  }
  for (size_t i = 0; i < edition.block_styles.size(); ++i) {
    if (static_cast<uint8_t>(edition.block_styles[i].align) > static_cast<uint8_t>(TextAlign::kRight))
      return Where("block style", i) + " has an unknown alignment";
  }
  return "";
}

std::string BlockProblem(const DeviceEdition& edition, size_t index, size_t images, size_t links) {
  const Block& b = edition.blocks[index];
  std::string where = Where("block", index);
  if (static_cast<uint8_t>(b.kind) > static_cast<uint8_t>(BlockKind::kRule)) return where + " has an unknown kind";
  if (b.kind == BlockKind::kHeading && (b.level < 1 || b.level > kMaxHeadingLevel))
    return where + " is a heading of level " + std::to_string(b.level) + ", not 1-6";
  if (b.kind == BlockKind::kListItem && b.level < 1) return where + " is a list item of level 0";
  if (b.style >= edition.block_styles.size())
    return where + " uses block style " + std::to_string(b.style) + " of " +
           std::to_string(edition.block_styles.size());
  if (b.kind == BlockKind::kImage) {
    if (b.image >= images) return where + " shows image " + std::to_string(b.image) + " of " + std::to_string(images);
  } else if (b.image != kNoImage) {
    return where + " is no image block but names an image";
  }
  if (!vellix::formats::IsValidUtf8(b.marker)) return where + ": the list marker is not valid UTF-8";
  if (!vellix::formats::IsValidUtf8(b.alt)) return where + ": the alternative text is not valid UTF-8";
  if (!b.language.empty() && !IsLanguageTag(b.language)) return where + ": the language is no language tag";
  for (size_t r = 0; r < b.runs.size(); ++r) {
    const Run& run = b.runs[r];
    std::string at = where + ", run " + std::to_string(r);
    if (run.style >= edition.text_styles.size())
      return at + " uses text style " + std::to_string(run.style) + " of " + std::to_string(edition.text_styles.size());
    if (run.link != kNoLink && run.link >= links)
      return at + " uses link " + std::to_string(run.link) + " of " + std::to_string(links);
    if (!vellix::formats::IsValidUtf8(run.text)) return at + ": the text is not valid UTF-8";
  }
  return "";
}

std::string RunLinkProblem(const DeviceEdition& edition) {
  for (size_t i = 0; i < edition.blocks.size(); ++i) {
    const std::vector<Run>& runs = edition.blocks[i].runs;
    for (size_t r = 0; r < runs.size(); ++r)
      if (runs[r].link != kNoLink && runs[r].link >= edition.links.size())
        return Where("block", i) + ", run " + std::to_string(r) + " uses link " + std::to_string(runs[r].link) +
               " of " + std::to_string(edition.links.size());
  }
  return "";
}

std::string TailProblem(const DeviceEdition& edition) {
  std::vector<RunStarts> starts;
  starts.reserve(edition.blocks.size());
  for (const Block& b : edition.blocks) starts.push_back(StartsOf(b));
  for (size_t i = 0; i < edition.links.size(); ++i) {
    const Link& link = edition.links[i];
    if (link.external && link.broken) return Where("link", i) + " is both external and broken";
    if (link.external || link.broken) {
      if (!vellix::formats::IsValidUtf8(link.uri)) return Where("link", i) + ": the address is not valid UTF-8";
    } else if (std::string problem = CheckPosition(edition, starts, link.target); !problem.empty()) {
      return Where("link", i) + " " + problem;
    }
  }
  for (size_t i = 0; i < edition.toc.size(); ++i) {
    const TocEntry& entry = edition.toc[i];
    std::string where = Where("table of contents entry", i);
    if (entry.level < 1 || entry.level > kMaxHeadingLevel)
      return where + " has level " + std::to_string(entry.level) + ", not 1-6";
    if (!vellix::formats::IsValidUtf8(entry.title)) return where + ": the title is not valid UTF-8";
    if (std::string problem = CheckPosition(edition, starts, entry.target); !problem.empty())
      return where + " " + problem;
  }
  for (size_t i = 0; i < edition.images.size(); ++i) {
    const GreyImage& image = edition.images[i];
    if (image.pixels.size() != size_t{image.width} * image.height)
      return Where("image", i) + " holds " + std::to_string(image.pixels.size()) + " pixels for " +
             std::to_string(image.width) + "x" + std::to_string(image.height);
  }
  return "";
}

std::string FirstProblem(const DeviceEdition& edition) {
  if (std::string problem = HeadProblem(edition); !problem.empty()) return problem;
  for (size_t i = 0; i < edition.blocks.size(); ++i)
    if (std::string problem = BlockProblem(edition, i, edition.images.size(), edition.links.size()); !problem.empty())
      return problem;
  return TailProblem(edition);
}

std::string RunLengthEncode(const std::vector<uint8_t>& pixels) {
  std::string out;
  size_t literal_start = 0;  // pending literal bytes are [literal_start, i)
  auto flush_literals = [&](size_t end) {
    while (literal_start < end) {
      size_t n = std::min(kMaxLiteral, end - literal_start);
      out.push_back(static_cast<char>(n - 1));
      out.append(reinterpret_cast<const char*>(pixels.data()) + literal_start, n);
      literal_start += n;
    }
  };
  size_t i = 0;
  while (i < pixels.size()) {
    size_t run = 1;
    while (i + run < pixels.size() && run < kMaxRepeat && pixels[i + run] == pixels[i]) ++run;
    // A pair inside literals costs as much as a repeat and splits them; keep it literal.
    if (run > kMinRepeat || (run == kMinRepeat && literal_start == i)) {
      flush_literals(i);
      out.push_back(static_cast<char>(run + 126));
      out.push_back(static_cast<char>(pixels[i]));
      i += run;
      literal_start = i;
    } else {
      i += run;
    }
  }
  flush_literals(pixels.size());
  return out;
}

bool RunLengthDecode(std::string_view coded, size_t size, std::vector<uint8_t>& pixels) {
  pixels.clear();
  pixels.reserve(size);
  size_t i = 0;
  while (i < coded.size()) {
    auto control = static_cast<uint8_t>(coded[i++]);
    if (control < 128) {
      size_t n = size_t{control} + 1;
      if (n > coded.size() - i || n > size - pixels.size()) return false;
      pixels.insert(pixels.end(), coded.begin() + static_cast<std::ptrdiff_t>(i),
                    coded.begin() + static_cast<std::ptrdiff_t>(i + n));
      i += n;
    } else {
      size_t n = size_t{control} - 126;
      if (i >= coded.size() || n > size - pixels.size()) return false;
      pixels.insert(pixels.end(), n, static_cast<uint8_t>(coded[i++]));
    }
  }
  return pixels.size() == size;
}

}  // namespace ikutil::edition
