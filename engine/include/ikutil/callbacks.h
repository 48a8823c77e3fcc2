// The five progress slots of every engine task (builder, validator,
// container writer, container reader), and the glyph coverage slot of the
// builds.
//
// A slot is a plain function and a context pointer; an empty slot is
// skipped. The engine calls them on the caller's thread while it works, so
// whatever a slot does runs nested inside the engine call. Texts are UTF-8
// and valid only for the length of the call.
#pragma once

#include <cstdint>

namespace ikutil {

class CSourceFile;

// Severity of an error callback.
inline constexpr int16_t kSeverityInformation = 0;
inline constexpr int16_t kSeverityWarning = 1;
inline constexpr int16_t kSeverityError = 2;

// `source` is the entry the problem belongs to, or null. `message` has the
// form "<file>: <text> (Line <n>, Col <m>)"; line and column count from 1,
// and are -1 when the problem has no place in a file.
using ErrorCallback = void (*)(CSourceFile* source, const char* message, int32_t line, int32_t column, int16_t severity,
                               void* context);
// Bytes parsed so far of `total`; monotone, and the last call of a build
// reports the total.
using ParserProgressCallback = void (*)(uint32_t parsed, uint32_t total, void* context);
using LayoutMessageCallback = void (*)(const char* message, void* context);
// `number` counts the included sources from 1; `total` is their count.
using SourceStartCallback = void (*)(const char* file, int32_t number, int32_t total, void* context);
using SourceDoneCallback = void (*)(const char* file, int32_t number, int32_t total, void* context);
// Whether some face of the device shows `code_point`. A build asks once
// for each distinct character of its book beyond ASCII and warns, naming
// them, about those no face has. The fonts are the viewer library's
// (ikutil/glyph_coverage.h): the engine that builds links none.
using GlyphCoverageCallback = bool (*)(uint32_t code_point, void* context);

struct EngineCallbacks {
  ErrorCallback error_callback = nullptr;
  void* error_context = nullptr;
  ParserProgressCallback parser_progress_callback = nullptr;
  void* parser_progress_context = nullptr;
  LayoutMessageCallback layout_message_callback = nullptr;
  void* layout_message_context = nullptr;
  SourceStartCallback source_start_callback = nullptr;
  void* source_start_context = nullptr;
  SourceDoneCallback source_done_callback = nullptr;
  void* source_done_context = nullptr;
  GlyphCoverageCallback glyph_coverage_callback = nullptr;
  void* glyph_coverage_context = nullptr;
};

}  // namespace ikutil
