#include "vellix/formats/oebff_node.h"

namespace vellix::formats {
namespace {

const std::string kNoPath;

}  // namespace

OEBFFNode::OEBFFNode(OEBFFNodeKind kind, std::shared_ptr<const std::string> container_path) noexcept
    : kind_(kind), container_path_(std::move(container_path)) {}

OEBFFNode::~OEBFFNode() = default;

const std::string& OEBFFNode::ContainerPath() const { return container_path_ ? *container_path_ : kNoPath; }

OEBFFNode* OEBFFNode::AddChild(std::unique_ptr<OEBFFNode> child) noexcept {
  if (!child) return nullptr;
  try {
    children_.push_back(std::move(child));
  } catch (...) {
    return nullptr;  // push_back left `child` with us; it dies here
  }
  children_.back()->parent_ = this;
  return children_.back().get();
}

OEBFFNode* OEBFFNode::Child(int32_t index) const {
  if (index < 0 || index >= ChildCount()) return nullptr;
  return children_[static_cast<size_t>(index)].get();
}

bool OEBFFNode::AddAttribute(const std::string& name, const std::string& value) noexcept {
  try {
    attribute_names_.push_back(name);
    try {
      attribute_values_.push_back(value);
    } catch (...) {
      attribute_names_.pop_back();  // keep the two lists parallel
      throw;
    }
  } catch (...) {
    return false;
  }
  return true;
}

bool OEBFFNode::Attribute(int32_t index, std::string* name, std::string* value) const noexcept {
  if (index < 0 || index >= AttributeCount()) return false;
  try {
    if (name) *name = attribute_names_[static_cast<size_t>(index)];
    if (value) *value = attribute_values_[static_cast<size_t>(index)];
  } catch (...) {
    return false;
  }
  return true;
}

bool OEBFFNode::SetName(const std::string& name) noexcept {
  try {
    name_ = name;
  } catch (...) {
    return false;
  }
  return true;
}

bool OEBFFNode::SetValue(const std::string& value) noexcept {
  try {
    value_ = value;
  } catch (...) {
    return false;
  }
  return true;
}

bool OEBFFNode::AppendValue(const std::string& text) noexcept {
  try {
    value_ += text;
  } catch (...) {
    return false;
  }
  return true;
}

}  // namespace vellix::formats
