// The value type of the automation boundary, used only where an operation
// takes or returns a variant (Books.Item / Books.Remove indexes,
// Book.Content, Book.ParseRSRC), so that its type checks stay explicit.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <variant>
#include <vector>

namespace vellix {

// Base of the objects a Variant can hold.
class Object {
 public:
  virtual ~Object() = default;
};

class Variant {
 public:
  enum class Type { kEmpty, kInteger, kBoolean, kString, kBytes, kArray, kObject };

  Variant() = default;
  Variant(int v) : value_(int64_t{v}) {}
  Variant(int64_t v) : value_(v) {}
  Variant(bool v) : value_(v) {}
  Variant(const char* v) : value_(std::string(v)) {}
  Variant(std::string v) : value_(std::move(v)) {}
  Variant(std::vector<uint8_t> v) : value_(std::move(v)) {}
  Variant(std::vector<Variant> v) : value_(std::move(v)) {}
  Variant(std::shared_ptr<Object> v) : value_(std::move(v)) {}

  Type type() const { return static_cast<Type>(value_.index()); }
  bool IsEmpty() const { return type() == Type::kEmpty; }

  // Each accessor throws AutomationError 5 when the variant holds another type.
  int64_t AsInteger() const;
  bool AsBoolean() const;
  const std::string& AsString() const;
  const std::vector<uint8_t>& AsBytes() const;
  const std::vector<Variant>& AsArray() const;
  const std::shared_ptr<Object>& AsObject() const;

 private:
  std::variant<std::monostate, int64_t, bool, std::string, std::vector<uint8_t>, std::vector<Variant>,
               std::shared_ptr<Object>>
      value_;
};

}  // namespace vellix
