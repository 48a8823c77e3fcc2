#include "vellix/variant.h"

#include "vellix/error.h"

namespace vellix {
namespace {

template <typename T, typename V>
const T& Get(const V& value) {
  if (const T* p = std::get_if<T>(&value)) return *p;
  formats::Raise(formats::kInvalidArgument);
}

}  // namespace

int64_t Variant::AsInteger() const { return Get<int64_t>(value_); }
bool Variant::AsBoolean() const { return Get<bool>(value_); }
const std::string& Variant::AsString() const { return Get<std::string>(value_); }
const std::vector<uint8_t>& Variant::AsBytes() const { return Get<std::vector<uint8_t>>(value_); }
const std::vector<Variant>& Variant::AsArray() const { return Get<std::vector<Variant>>(value_); }
const std::shared_ptr<Object>& Variant::AsObject() const { return Get<std::shared_ptr<Object>>(value_); }

}  // namespace vellix
