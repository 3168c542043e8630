// The bases of every atom of an MP4 content file. An atom's size is current at
// all times: a change of content recomputes the atom's size and then its
// parent's, up to the root, so sizes are final before anything is rendered.
#pragma once

#include <cstdint>
#include <memory>
#include <ostream>
#include <vector>

namespace fileformat {

// Shared by atoms and descriptors.
class AtomRenderable {
 public:
  virtual ~AtomRenderable() = default;
  // Writes the complete atom: header, fields, children.
  virtual void render(std::ostream& out) const = 0;
  // An atom answers its total size; a descriptor its payload size.
  virtual uint32_t size() const = 0;
  // Recomputes the own size from the content, then the container's.
  virtual void recomputeSize() = 0;
};

class Atom : public AtomRenderable {
 public:
  explicit Atom(uint32_t type) : type_(type) {}
  Atom(const Atom&) = delete;
  Atom& operator=(const Atom&) = delete;

  uint32_t size() const override { return size_; }
  uint32_t type() const { return type_; }
  Atom* parent() const { return parent_; }
  // Set by the container that adopts the atom.
  void setParent(Atom* parent) { parent_ = parent; }

  void render(std::ostream& out) const override;
  virtual void renderHeader(std::ostream& out) const;
  virtual uint32_t headerSize() const { return 8; }

  // Stores headerSize() + bodySize() and lets the parent recompute.
  void recomputeSize() override;

  // Child atoms in render order (none for a leaf atom).
  virtual size_t childCount() const { return 0; }
  virtual const Atom* child(size_t) const { return nullptr; }

 protected:
  // Bytes of the atom's own fields and children after the header.
  virtual uint64_t bodySize() const = 0;
  // The fields in their fixed order, then the children.
  virtual void renderBody(std::ostream& out) const = 0;

 private:
  Atom* parent_ = nullptr;
  uint32_t size_ = 0;
  uint32_t type_;
};

class FullAtom : public Atom {
 public:
  FullAtom(uint32_t type, uint8_t version, uint32_t flags)
      : Atom(type), version_(version), flags_(flags) {}
  void renderHeader(std::ostream& out) const override;
  uint32_t headerSize() const override { return 12; }
  uint8_t version() const { return version_; }
  uint32_t flags() const { return flags_; }

 private:
  uint8_t version_;
  uint32_t flags_;  // only the low 24 bits are written
};

// Owns an ordered list of child atoms, rendered after the atom's own fields.
// Derived classes with fields of their own override fieldsSize/renderFields.
template <class Base>
class ContainerOf : public Base {
 public:
  using Base::Base;

  // Appends the child, becomes its owner and recomputes the sizes upwards.
  template <class T>
  T* adopt(std::unique_ptr<T> child) {
    return static_cast<T*>(adoptAt(children_.size(), std::move(child)));
  }
  // Inserts the child before position index (clamped to the end).
  Atom* adoptAt(size_t index, std::unique_ptr<Atom> child) {
    Atom* raw = child.get();
    raw->setParent(this);
    if (index > children_.size()) index = children_.size();
    children_.insert(children_.begin() + static_cast<std::ptrdiff_t>(index), std::move(child));
    this->recomputeSize();
    return raw;
  }
  size_t childCount() const override { return children_.size(); }
  const Atom* child(size_t i) const override {
    return i < children_.size() ? children_[i].get() : nullptr;
  }

 protected:
  virtual uint64_t fieldsSize() const { return 0; }
  virtual void renderFields(std::ostream&) const {}

  uint64_t bodySize() const override {
    uint64_t n = fieldsSize();
    for (const auto& c : children_) n += c->size();
    return n;
  }
  void renderBody(std::ostream& out) const override {
    renderFields(out);
    for (const auto& c : children_) c->render(out);
  }

 private:
  std::vector<std::unique_ptr<Atom>> children_;
};

using ContainerAtom = ContainerOf<Atom>;
using FullContainerAtom = ContainerOf<FullAtom>;

}  // namespace fileformat
