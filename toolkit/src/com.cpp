#include "ikpubx/com.h"

#include <utility>

#include "module_lock.h"

namespace ikpubx {

ComObject::ComObject() { internal::AdjustObjectCount(+1); }
ComObject::~ComObject() { internal::AdjustObjectCount(-1); }

size_t SafeArray::Count() const {
  switch (element_type) {
    case VT_UI1:
      return bytes.size();
    case VT_BSTR:
      return strings.size();
    default:
      return variants.size();
  }
}

Variant Variant::String(std::string value) {
  Variant v;
  v.vt = VT_BSTR;
  v.string = std::move(value);
  return v;
}

Variant Variant::Integer(int32_t value) {
  Variant v;
  v.vt = VT_I4;
  v.integer = value;
  return v;
}

Variant Variant::Array(std::shared_ptr<SafeArray> array) {
  Variant v;
  v.vt = static_cast<VARTYPE>(VT_ARRAY | (array ? array->element_type : VT_VARIANT));
  v.array = std::move(array);
  return v;
}

Variant Variant::RefTo(Variant* target) {
  Variant v;
  v.vt = static_cast<VARTYPE>(VT_BYREF | (target ? target->vt : VT_EMPTY));
  v.ref = target;
  return v;
}

}  // namespace ikpubx
