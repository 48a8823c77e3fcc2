// The library's variants as Python values and back. Both walks keep their
// own stack, so no nesting can exhaust the machine's.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "vellix/bindings.h"
#include "vellix/bookshelf.h"
#include "vellix/package.h"

namespace vellix::bindings {
namespace {

using script::Text;

py::object ObjectToPython(const std::shared_ptr<Object>& object) {
  if (!object) return py::none();
  if (auto book = std::dynamic_pointer_cast<Book>(object)) return py::cast(book);
  if (auto books = std::dynamic_pointer_cast<Books>(object)) return py::cast(books);
  if (auto shelf = std::dynamic_pointer_cast<Bookshelf>(object)) return py::cast(shelf);
  if (auto package = std::dynamic_pointer_cast<Package>(object)) return py::cast(package);
  formats::Raise(formats::kTypeMismatch);
}

py::object ScalarFromVariant(const Variant& v) {
  switch (v.type()) {
    case Variant::Type::kEmpty:
    case Variant::Type::kArray:
      return py::none();
    case Variant::Type::kInteger:
      return py::int_(v.AsInteger());
    case Variant::Type::kBoolean:
      return py::bool_(v.AsBoolean());
    case Variant::Type::kString:
      return Text(v.AsString());
    case Variant::Type::kBytes: {
      const std::vector<uint8_t>& bytes = v.AsBytes();
      return py::bytes(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    }
    case Variant::Type::kObject:
      return ObjectToPython(v.AsObject());
  }
  return py::none();
}

bool IsSequence(py::handle value) { return py::isinstance<py::list>(value) || py::isinstance<py::tuple>(value); }

Variant ScalarToVariant(py::handle value) {
  if (value.is_none()) return Variant();
  if (py::isinstance<py::bool_>(value)) return Variant(value.cast<bool>());
  if (py::isinstance<py::int_>(value)) {
    int overflow = 0;
    long long n = PyLong_AsLongLongAndOverflow(value.ptr(), &overflow);
    if (overflow != 0) RaiseOverflow();
    return Variant(static_cast<int64_t>(n));
  }
  if (py::isinstance<py::str>(value)) return Variant(value.cast<std::string>());
  if (py::isinstance<py::bytes>(value) || py::isinstance<py::bytearray>(value)) {
    std::string bytes = py::isinstance<py::bytes>(value) ? value.cast<std::string>()
                                                         : std::string(py::reinterpret_borrow<py::bytearray>(value));
    return Variant(std::vector<uint8_t>(bytes.begin(), bytes.end()));
  }
  if (py::isinstance<Book>(value)) return Variant(std::shared_ptr<Object>(value.cast<std::shared_ptr<Book>>()));
  if (py::isinstance<Books>(value)) return Variant(std::shared_ptr<Object>(value.cast<std::shared_ptr<Books>>()));
  if (py::isinstance<Bookshelf>(value))
    return Variant(std::shared_ptr<Object>(value.cast<std::shared_ptr<Bookshelf>>()));
  if (py::isinstance<Package>(value)) return Variant(std::shared_ptr<Object>(value.cast<std::shared_ptr<Package>>()));
  formats::Raise(formats::kTypeMismatch);
}

// No argument of the library nests arrays more than a level or two; deeper
// lists are refused (a variant nested a million deep could not even be
// destroyed without exhausting the stack).
constexpr size_t kMaxNesting = 64;

}  // namespace

py::object FromVariant(const Variant& root) {
  if (root.type() != Variant::Type::kArray) return ScalarFromVariant(root);
  struct Level {
    explicit Level(const std::vector<Variant>* array) : items(array) {}
    const std::vector<Variant>* items;
    size_t next = 0;
    py::list list;
  };
  std::vector<Level> stack;
  stack.emplace_back(&root.AsArray());
  for (;;) {
    Level& top = stack.back();
    if (top.next < top.items->size()) {
      const Variant& element = (*top.items)[top.next++];
      if (element.type() == Variant::Type::kArray)
        stack.emplace_back(&element.AsArray());
      else
        top.list.append(ScalarFromVariant(element));
      continue;
    }
    py::list done = std::move(top.list);
    stack.pop_back();
    if (stack.empty()) return done;
    stack.back().list.append(done);
  }
}

Variant ToVariant(py::handle root) {
  if (!IsSequence(root)) return ScalarToVariant(root);
  struct Level {
    explicit Level(py::handle sequence) : items(py::reinterpret_borrow<py::sequence>(sequence)) {}
    py::sequence items;
    size_t next = 0;
    std::vector<Variant> elements;
  };
  std::vector<Level> stack;
  stack.emplace_back(root);
  for (;;) {
    Level& top = stack.back();
    if (top.next < py::len(top.items)) {
      py::object element = top.items[top.next++];
      if (!IsSequence(element)) {
        top.elements.push_back(ScalarToVariant(element));
        continue;
      }
      if (stack.size() >= kMaxNesting) formats::Raise(formats::kOverflow, "lists nested more than 64 deep");
      stack.emplace_back(element);
      continue;
    }
    Variant done(std::move(top.elements));
    stack.pop_back();
    if (stack.empty()) return done;
    stack.back().elements.push_back(std::move(done));
  }
}

}  // namespace vellix::bindings
