// Owned lists: a collection of owned items and a sorted variant that
// refuses a second item with an equal key.
//
// Index errors and growth of a full collection without a growth step are
// programming errors: they end the program with run-time errors 213 and
// 214 through the fault report.
#pragma once

#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

#include "platform/compiler.h"
#include "platform/fault.h"

namespace qlr {

template <typename T>
class Collection {
 public:
  explicit Collection(std::int32_t limit = 16, std::int32_t grow_by = 16)
      : capacity_(limit < 0 ? 0 : limit), grow_by_(grow_by) {
    items_.reserve(static_cast<std::size_t>(capacity_));
  }
  virtual ~Collection() = default;
  Collection(const Collection&) = delete;
  Collection& operator=(const Collection&) = delete;

  std::int32_t ItemCount() const { return static_cast<std::int32_t>(items_.size()); }
  std::int32_t Capacity() const { return capacity_; }

  // 0-based; out of range ends the program with run-time error 213.
  T& ItemAt(std::int32_t index) const {
    if (index < 0 || index >= ItemCount()) {
      RaiseRunError(kRunErrorRangeCheck, QLR_RETURN_ADDRESS());
    }
    return *items_[static_cast<std::size_t>(index)];
  }

  // Appends at the end.
  virtual void Insert(std::unique_ptr<T> item) { InsertAt(ItemCount(), std::move(item)); }

  // Inserts before the item at `index` (0-based); ItemCount appends. The
  // items from `index` on move up by one. An index below 0 or above
  // ItemCount ends the program with run-time error 213, a full collection
  // without a growth step with 214. A sorted collection's order is the
  // caller's business here.
  void AtInsert(std::int32_t index, std::unique_ptr<T> item) {
    if (index < 0 || index > ItemCount()) {
      RaiseRunError(kRunErrorRangeCheck, QLR_RETURN_ADDRESS());
    }
    InsertAt(index, std::move(item));
  }

  // Releases every item; keeps the capacity.
  void DisposeAll() { items_.clear(); }

  // Removes the item at `index` (0-based) and releases it.
  void FreeAt(std::int32_t index) {
    ItemAt(index);  // range check
    items_.erase(items_.begin() + index);
  }

  auto begin() const { return items_.begin(); }
  auto end() const { return items_.end(); }

 protected:
  void InsertAt(std::int32_t index, std::unique_ptr<T> item) {
    if (ItemCount() >= capacity_) {
      if (grow_by_ <= 0) {
        RaiseRunError(kRunErrorCollectionOverflow, QLR_RETURN_ADDRESS());
      }
      // The capacity is the logical one; the vector below grows
      // geometrically, so long lists do not reallocate every step.
      capacity_ += grow_by_;
    }
    items_.insert(items_.begin() + index, std::move(item));
  }

 private:
  std::vector<std::unique_ptr<T>> items_;
  std::int32_t capacity_;
  std::int32_t grow_by_;
};

// A collection kept in the order of `Compare` (a functor with
// int operator()(const T&, const T&) returning -1, 0 or 1). FindKey also
// takes any other key type the functor can compare an item with
// (int operator()(const T&, const Key&)), so a list can be searched by
// name without building an item.
template <typename T, typename Compare>
class SortedCollection : public Collection<T> {
 public:
  explicit SortedCollection(std::int32_t limit = 16, std::int32_t grow_by = 16,
                            Compare compare = Compare())
      : Collection<T>(limit, grow_by), compare_(std::move(compare)) {}

  bool allow_duplicates = false;

  // Binary search; true with *index at an equal item, false with *index
  // where the key belongs. With duplicates, *index is the first equal item.
  template <typename Key>
  bool FindKey(const Key& key, std::int32_t* index) const {
    std::int32_t lo = 0;
    std::int32_t hi = this->ItemCount();
    while (lo < hi) {  // first item not less than key
      const std::int32_t mid = lo + (hi - lo) / 2;
      if (compare_(this->ItemAt(mid), key) < 0) {
        lo = mid + 1;
      } else {
        hi = mid;
      }
    }
    *index = lo;
    return lo < this->ItemCount() && compare_(this->ItemAt(lo), key) == 0;
  }

  // Inserts at the item's sorted place. A second item with an equal key is
  // refused unless duplicates are allowed; the collection owns what it is
  // given, so a refused item is released here. An equal item allowed in
  // goes after the ones already there, keeping insertion order among them.
  void Insert(std::unique_ptr<T> item) override {
    std::int32_t index = 0;
    if (FindKey(*item, &index)) {
      if (!allow_duplicates) return;
      while (index < this->ItemCount() && compare_(this->ItemAt(index), *item) == 0) ++index;
    }
    this->InsertAt(index, std::move(item));
  }

 private:
  Compare compare_;
};

}  // namespace qlr
