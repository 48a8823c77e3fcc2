// One node of the tree that describes an OEBFF container.
//
// The root (kind kContainer) holds the container's header fields and its
// parts; a part (kind kPart) holds its own header fields and the byte range
// of its body in the container file; a header field (kind kHeaderField) has
// a name, a plain value and its parameters as attributes, in file order.
// Names and values are 8-bit text exactly as the container holds them.
//
// A node owns its children. No operation throws: the ones that allocate
// answer false (or null) when memory runs out.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace vellix::formats {

enum class OEBFFNodeKind : int32_t { kContainer = 1, kPart = 2, kHeaderField = 3 };

class OEBFFNode {
 public:
  // `container_path` is shared by every node of one tree.
  OEBFFNode(OEBFFNodeKind kind, std::shared_ptr<const std::string> container_path) noexcept;
  virtual ~OEBFFNode();
  OEBFFNode(const OEBFFNode&) = delete;
  OEBFFNode& operator=(const OEBFFNode&) = delete;

  OEBFFNodeKind Kind() const { return kind_; }
  OEBFFNode* Parent() const { return parent_; }
  // The path of the container file this node was read from.
  const std::string& ContainerPath() const;

  // Appends `child` and becomes its parent. Returns the child, or null when
  // `child` is null or memory runs out (the child is then destroyed).
  OEBFFNode* AddChild(std::unique_ptr<OEBFFNode> child) noexcept;
  bool HasChildren() const { return !children_.empty(); }
  int32_t ChildCount() const { return static_cast<int32_t>(children_.size()); }
  // Null when `index` is out of range.
  OEBFFNode* Child(int32_t index) const;

  bool AddAttribute(const std::string& name, const std::string& value) noexcept;
  bool HasAttributes() const { return !attribute_names_.empty(); }
  int32_t AttributeCount() const { return static_cast<int32_t>(attribute_names_.size()); }
  // False (outputs untouched) when `index` is out of range.
  bool Attribute(int32_t index, std::string* name, std::string* value) const noexcept;

  const std::string& Name() const { return name_; }
  bool SetName(const std::string& name) noexcept;
  const std::string& Value() const { return value_; }
  bool SetValue(const std::string& value) noexcept;
  bool AppendValue(const std::string& text) noexcept;

  // Parts only: the body is the bytes [BodyStart(), BodyEnd() - 1) of the
  // container file, so an empty body has BodyEnd() == BodyStart() + 1.
  int64_t BodyStart() const { return body_start_; }
  int64_t BodyEnd() const { return body_end_; }
  void SetBodyRange(int64_t start, int64_t end) {
    body_start_ = start;
    body_end_ = end;
  }

 private:
  OEBFFNodeKind kind_;
  OEBFFNode* parent_ = nullptr;
  int64_t body_start_ = 0;
  int64_t body_end_ = 0;
  std::string name_;
  std::string value_;
  std::shared_ptr<const std::string> container_path_;
  std::vector<std::unique_ptr<OEBFFNode>> children_;
  std::vector<std::string> attribute_names_;
  std::vector<std::string> attribute_values_;
};

}  // namespace vellix::formats
