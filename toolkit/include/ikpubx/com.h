// The automation ground the toolkit's objects stand on: a base for every
// object (counted in the module's lock count while it lives), and the
// variant with its type codes and safe arrays, for the operations that take
// or return one.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "ikpubx/hresult.h"

namespace ikpubx {

inline constexpr HRESULT E_NOINTERFACE = static_cast<HRESULT>(0x80004002u);

// Base of the toolkit's objects. Objects are shared (std::shared_ptr);
// asking an object for an interface is a dynamic cast.
class ComObject {
 public:
  ComObject();
  virtual ~ComObject();
  ComObject(const ComObject&) = delete;
  ComObject& operator=(const ComObject&) = delete;
};

// Variant type codes, and the two flags that combine with them.
using VARTYPE = uint16_t;
inline constexpr VARTYPE VT_EMPTY = 0;
inline constexpr VARTYPE VT_I2 = 2;
inline constexpr VARTYPE VT_I4 = 3;
inline constexpr VARTYPE VT_BSTR = 8;
inline constexpr VARTYPE VT_DISPATCH = 9;
inline constexpr VARTYPE VT_BOOL = 11;
inline constexpr VARTYPE VT_VARIANT = 12;
inline constexpr VARTYPE VT_UI1 = 17;
inline constexpr VARTYPE VT_ARRAY = 0x2000;
inline constexpr VARTYPE VT_BYREF = 0x4000;

struct Variant;

// A one-or-more-dimensional array of one element type (VT_UI1 bytes,
// VT_BSTR strings or VT_VARIANT variants). Only one dimension is ever
// filled; `dimensions` and `bounds_readable` let a caller describe arrays
// the toolkit must refuse.
struct SafeArray {
  VARTYPE element_type = VT_VARIANT;
  uint32_t dimensions = 1;
  int32_t lower_bound = 0;
  bool bounds_readable = true;
  std::vector<uint8_t> bytes;        // VT_UI1
  std::vector<std::string> strings;  // VT_BSTR
  std::vector<Variant> variants;     // VT_VARIANT
  size_t Count() const;
};

struct Variant {
  VARTYPE vt = VT_EMPTY;
  int64_t integer = 0;                // VT_I2, VT_I4, VT_BOOL (-1 true), VT_UI1
  std::string string;                 // VT_BSTR
  std::shared_ptr<SafeArray> array;   // VT_ARRAY | element type
  Variant* ref = nullptr;             // VT_BYREF | VT_BSTR, VT_BYREF | VT_VARIANT, VT_BYREF | VT_ARRAY | ...
  void* byref = nullptr;              // VT_BYREF | VT_UI1: a byte's address
  std::shared_ptr<ComObject> object;  // VT_DISPATCH

  static Variant String(std::string value);
  static Variant Integer(int32_t value);
  static Variant Array(std::shared_ptr<SafeArray> array);  // vt = VT_ARRAY | its element type
  static Variant RefTo(Variant* target);                   // vt = VT_BYREF | target's vt
};

}  // namespace ikpubx
