#include "images.h"

#include <gif_lib.h>
#include <png.h>
#include <setjmp.h>
// jpeglib.h needs size_t and FILE declared first.
#include <jpeglib.h>
#include <cstdio>
#include <cstring>

#include <algorithm>
#include <memory>

namespace ikutil {
namespace {

bool TooBig(uint64_t width, uint64_t height) { return width == 0 || height == 0 || width * height > kMaxImagePixels; }

struct Decoded {
  bool ok = false;
  uint32_t width = 0;
  uint32_t height = 0;
  std::vector<uint8_t> grey;
  std::string error;
};

Decoded Failure(std::string why) {
  Decoded d;
  d.error = std::move(why);
  return d;
}

// --- PNG, through libpng's simplified interface ---

Decoded DecodePng(std::string_view bytes) {
  png_image image;
  std::memset(&image, 0, sizeof image);
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_memory(&image, bytes.data(), bytes.size()))
    return Failure(std::string("bad PNG: ") + image.message);
  if (TooBig(image.width, image.height)) {
    png_image_free(&image);
    return Failure("PNG too big (" + std::to_string(image.width) + " x " + std::to_string(image.height) + ")");
  }
  image.format = PNG_FORMAT_GRAY;
  Decoded d;
  d.width = image.width;
  d.height = image.height;
  d.grey.assign(static_cast<size_t>(d.width) * d.height, 255);
  png_color white = {255, 255, 255};
  if (!png_image_finish_read(&image, &white, d.grey.data(), 0, nullptr))
    return Failure(std::string("bad PNG: ") + image.message);
  d.ok = true;
  return d;
}

// --- JPEG, through libjpeg; its errors come back by longjmp ---

struct JpegError {
  jpeg_error_mgr manager;
  jmp_buf jump;
  char message[JMSG_LENGTH_MAX];
};

void JpegErrorExit(j_common_ptr info) {
  JpegError* error = reinterpret_cast<JpegError*>(info->err);
  (*info->err->format_message)(info, error->message);
  longjmp(error->jump, 1);
}

void JpegSilence(j_common_ptr, int) {}

// A progressive file can hold any number of scans, each a pass over the
// whole picture; real ones hold a dozen.
void JpegLimitScans(j_common_ptr info) {
  auto* d = reinterpret_cast<j_decompress_ptr>(info);
  if (d->is_decompressor && d->input_scan_number > 200) {
    JpegError* error = reinterpret_cast<JpegError*>(info->err);
    std::snprintf(error->message, sizeof error->message, "too many scans");
    longjmp(error->jump, 1);
  }
}

// Plain C data only between setjmp and longjmp: nothing here has a
// destructor to skip.
bool DecodeJpegInto(std::string_view bytes, Decoded& d, char* message) {
  jpeg_decompress_struct info;
  JpegError error;
  jpeg_progress_mgr progress;
  info.err = jpeg_std_error(&error.manager);
  error.manager.error_exit = JpegErrorExit;
  error.manager.emit_message = JpegSilence;
  error.message[0] = 0;
  if (setjmp(error.jump)) {
    std::snprintf(message, JMSG_LENGTH_MAX, "%s", error.message);
    jpeg_destroy_decompress(&info);
    return false;
  }
  jpeg_create_decompress(&info);
  progress.progress_monitor = JpegLimitScans;
  info.progress = &progress;
  info.mem->max_memory_to_use = 512L << 20;
  jpeg_mem_src(&info, reinterpret_cast<const unsigned char*>(bytes.data()), static_cast<unsigned long>(bytes.size()));
  jpeg_read_header(&info, TRUE);
  if (TooBig(info.image_width, info.image_height)) {
    std::snprintf(message, JMSG_LENGTH_MAX, "JPEG too big (%u x %u)", info.image_width, info.image_height);
    jpeg_destroy_decompress(&info);
    return false;
  }
  if (info.jpeg_color_space == JCS_CMYK || info.jpeg_color_space == JCS_YCCK) {
    std::snprintf(message, JMSG_LENGTH_MAX, "CMYK JPEG not supported");
    jpeg_destroy_decompress(&info);
    return false;
  }
  info.out_color_space = JCS_GRAYSCALE;
  jpeg_start_decompress(&info);
  d.width = info.output_width;
  d.height = info.output_height;
  d.grey.resize(static_cast<size_t>(d.width) * d.height);
  while (info.output_scanline < info.output_height) {
    JSAMPROW row = d.grey.data() + static_cast<size_t>(info.output_scanline) * d.width;
    jpeg_read_scanlines(&info, &row, 1);
  }
  jpeg_finish_decompress(&info);
  jpeg_destroy_decompress(&info);
  return true;
}

Decoded DecodeJpeg(std::string_view bytes) {
  Decoded d;
  char message[JMSG_LENGTH_MAX] = {0};
  if (!DecodeJpegInto(bytes, d, message)) return Failure(std::string("bad JPEG: ") + message);
  d.ok = true;
  return d;
}

// --- GIF, the first frame on its logical screen, through giflib ---

struct GifInput {
  std::string_view bytes;
  size_t at = 0;
};

int ReadGifBytes(GifFileType* gif, GifByteType* out, int wanted) {
  auto* input = static_cast<GifInput*>(gif->UserData);
  size_t n = std::min(static_cast<size_t>(std::max(wanted, 0)), input->bytes.size() - input->at);
  std::memcpy(out, input->bytes.data() + input->at, n);
  input->at += n;
  return static_cast<int>(n);
}

struct GifCloser {
  void operator()(GifFileType* gif) const {
    int error = 0;
    DGifCloseFile(gif, &error);
  }
};

Decoded DecodeGif(std::string_view bytes) {
  GifInput input{bytes, 0};
  int error = 0;
  std::unique_ptr<GifFileType, GifCloser> gif(DGifOpen(&input, ReadGifBytes, &error));
  if (!gif) return Failure(std::string("bad GIF: ") + GifErrorString(error));
  int transparent = -1;
  for (;;) {
    GifRecordType type;
    if (DGifGetRecordType(gif.get(), &type) == GIF_ERROR || type == TERMINATE_RECORD_TYPE)
      return Failure("bad GIF: no picture");
    if (type == EXTENSION_RECORD_TYPE) {
      int code = 0;
      GifByteType* extension = nullptr;
      if (DGifGetExtension(gif.get(), &code, &extension) == GIF_ERROR) return Failure("bad GIF extension");
      if (code == GRAPHICS_EXT_FUNC_CODE && extension && extension[0] >= 4) {
        GraphicsControlBlock gcb;
        if (DGifExtensionToGCB(extension[0], extension + 1, &gcb) == GIF_OK) transparent = gcb.TransparentColor;
      }
      while (extension) {
        if (DGifGetExtensionNext(gif.get(), &extension) == GIF_ERROR) return Failure("bad GIF extension");
      }
      continue;
    }
    if (type != IMAGE_DESC_RECORD_TYPE) continue;
    if (DGifGetImageDesc(gif.get()) == GIF_ERROR) return Failure("bad GIF picture");
    const GifImageDesc& frame = gif->Image;
    if (frame.Width <= 0 || frame.Height <= 0 || TooBig(frame.Width, frame.Height)) return Failure("bad GIF size");
    uint32_t width = gif->SWidth > 0 ? static_cast<uint32_t>(gif->SWidth) : static_cast<uint32_t>(frame.Width);
    uint32_t height = gif->SHeight > 0 ? static_cast<uint32_t>(gif->SHeight) : static_cast<uint32_t>(frame.Height);
    if (TooBig(width, height)) return Failure("GIF too big");
    const ColorMapObject* map = frame.ColorMap ? frame.ColorMap : gif->SColorMap;
    if (!map || !map->Colors || map->ColorCount <= 0) return Failure("GIF without colours");
    uint8_t grey[256];
    for (int i = 0; i < 256; ++i) {
      if (i == transparent || i >= map->ColorCount) {
        grey[i] = 255;
        continue;
      }
      const GifColorType& c = map->Colors[i];
      grey[i] = static_cast<uint8_t>((299 * c.Red + 587 * c.Green + 114 * c.Blue + 500) / 1000);
    }
    Decoded d;
    d.width = width;
    d.height = height;
    d.grey.assign(static_cast<size_t>(width) * height, 255);
    std::vector<GifPixelType> line(static_cast<size_t>(frame.Width));
    // Interlaced frames store rows in four passes.
    std::vector<int> rows;
    if (frame.Interlace) {
      static constexpr int kStart[] = {0, 4, 2, 1};
      static constexpr int kStep[] = {8, 8, 4, 2};
      for (int pass = 0; pass < 4; ++pass)
        for (int y = kStart[pass]; y < frame.Height; y += kStep[pass]) rows.push_back(y);
    } else {
      for (int y = 0; y < frame.Height; ++y) rows.push_back(y);
    }
    for (int y : rows) {
      if (DGifGetLine(gif.get(), line.data(), frame.Width) == GIF_ERROR) {
        // A truncated file keeps the rows it has, as viewers show it.
        if (y == rows.front()) return Failure("bad GIF data");
        break;
      }
      int64_t target_y = int64_t{frame.Top} + y;
      if (target_y < 0 || target_y >= height) continue;
      for (int x = 0; x < frame.Width; ++x) {
        int64_t target_x = int64_t{frame.Left} + x;
        if (target_x < 0 || target_x >= width || line[x] == transparent) continue;
        d.grey[static_cast<size_t>(target_y) * width + static_cast<size_t>(target_x)] = grey[line[x]];
      }
    }
    d.ok = true;
    return d;
  }
}

// Area averaging along one axis: `count` lines of `from` samples each,
// `stride` apart, into lines of `to` samples. Source sample j covers
// [j*to, (j+1)*to) and target sample i covers [i*from, (i+1)*from), so
// every weight is a whole number.
void ScaleAxis(const uint8_t* in, uint8_t* out, uint32_t from, uint32_t to, size_t count, size_t in_step,
               size_t in_line, size_t out_step, size_t out_line) {
  for (size_t line = 0; line < count; ++line) {
    const uint8_t* src = in + line * in_line;
    uint8_t* dst = out + line * out_line;
    uint64_t j = 0;
    for (uint64_t i = 0; i < to; ++i) {
      uint64_t begin = i * from;
      uint64_t end = begin + from;
      uint64_t sum = 0;
      for (j = begin / to; j < from && j * to < end; ++j) {
        uint64_t covered = std::min(end, (j + 1) * to) - std::max(begin, j * to);
        sum += covered * src[j * in_step];
      }
      dst[i * out_step] = static_cast<uint8_t>((sum + from / 2) / from);
    }
  }
}

}  // namespace

std::vector<uint8_t> ScaleDown(const std::vector<uint8_t>& pixels, uint32_t source_width, uint32_t source_height,
                               uint32_t width, uint32_t height) {
  std::vector<uint8_t> rows(static_cast<size_t>(width) * source_height);
  ScaleAxis(pixels.data(), rows.data(), source_width, width, source_height, 1, source_width, 1, width);
  std::vector<uint8_t> out(static_cast<size_t>(width) * height);
  ScaleAxis(rows.data(), out.data(), source_height, height, width, width, 1, width, 1);
  return out;
}

uint64_t DeclaredImagePixels(std::string_view bytes) {
  auto byte = [&](size_t at) -> uint64_t { return static_cast<uint8_t>(bytes[at]); };
  if (bytes.size() >= 24 && std::memcmp(bytes.data(), "\x89PNG\r\n\x1a\n", 8) == 0 && bytes.substr(12, 4) == "IHDR") {
    uint64_t width = byte(16) << 24 | byte(17) << 16 | byte(18) << 8 | byte(19);
    uint64_t height = byte(20) << 24 | byte(21) << 16 | byte(22) << 8 | byte(23);
    return width * height;
  }
  if (bytes.size() >= 10 && (bytes.substr(0, 6) == "GIF87a" || bytes.substr(0, 6) == "GIF89a"))
    return (byte(6) | byte(7) << 8) * (byte(8) | byte(9) << 8);
  if (bytes.size() >= 4 && std::memcmp(bytes.data(), "\xFF\xD8", 2) == 0) {
    // Segments up to the frame header (SOF0..SOF15 but DHT, JPG and DAC);
    // each names its own length, so the walk stays inside the bytes.
    for (size_t at = 2; at + 4 <= bytes.size();) {
      if (byte(at) != 0xFF) return 0;
      uint64_t marker = byte(at + 1);
      if (marker == 0xFF) {
        ++at;
        continue;
      }
      if (marker == 0xD8 || (marker >= 0xD0 && marker <= 0xD7) || marker == 0x01) {
        at += 2;
        continue;
      }
      uint64_t length = byte(at + 2) << 8 | byte(at + 3);
      if (marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC) {
        if (at + 9 > bytes.size()) return 0;
        return (byte(at + 5) << 8 | byte(at + 6)) * (byte(at + 7) << 8 | byte(at + 8));
      }
      if (marker == 0xDA || marker == 0xD9 || length < 2) return 0;
      at += 2 + length;
    }
  }
  return 0;
}

GreyImageResult DecodeGreyImage(std::string_view bytes, uint16_t max_width, uint16_t max_height) {
  GreyImageResult result;
  Decoded d;
  if (bytes.size() >= 8 && std::memcmp(bytes.data(), "\x89PNG\r\n\x1a\n", 8) == 0)
    d = DecodePng(bytes);
  else if (bytes.size() >= 3 && std::memcmp(bytes.data(), "\xFF\xD8\xFF", 3) == 0)
    d = DecodeJpeg(bytes);
  else if (bytes.size() >= 6 && (bytes.substr(0, 6) == "GIF87a" || bytes.substr(0, 6) == "GIF89a"))
    d = DecodeGif(bytes);
  else
    d = Failure("not a PNG, JPEG or GIF picture");
  if (!d.ok) {
    result.error = d.error;
    return result;
  }
  result.source_pixels = uint64_t{d.width} * d.height;
  if (max_width == 0 || max_height == 0) {
    result.error = "no room for pictures on the device";
    return result;
  }
  uint32_t width = d.width;
  uint32_t height = d.height;
  if (width > max_width || height > max_height) {
    // The smaller of the two ratios, computed in whole numbers.
    if (uint64_t{width} * max_height >= uint64_t{height} * max_width) {
      width = max_width;
      height = static_cast<uint32_t>(std::max<uint64_t>(1, (uint64_t{d.height} * max_width + d.width / 2) / d.width));
    } else {
      height = max_height;
      width = static_cast<uint32_t>(std::max<uint64_t>(1, (uint64_t{d.width} * max_height + d.height / 2) / d.height));
    }
    width = std::min<uint32_t>(width, max_width);
    height = std::min<uint32_t>(height, max_height);
    d.grey = ScaleDown(d.grey, d.width, d.height, width, height);
  }
  result.ok = true;
  result.image.width = static_cast<uint16_t>(width);
  result.image.height = static_cast<uint16_t>(height);
  result.image.pixels = std::move(d.grey);
  return result;
}

}  // namespace ikutil
