#include "support/collection.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace qlr {
namespace {

// An item that counts its releases, so ownership mistakes show.
struct Item {
  Item(int key_in, std::string tag_in, int* released_in = nullptr)
      : key(key_in), tag(std::move(tag_in)), released(released_in) {}
  ~Item() {
    if (released != nullptr) ++*released;
  }
  int key;
  std::string tag;
  int* released;
};

std::unique_ptr<Item> MakeItem(int key, std::string tag = "", int* released = nullptr) {
  return std::make_unique<Item>(key, std::move(tag), released);
}

struct ByKey {
  int operator()(const Item& a, const Item& b) const { return (*this)(a, b.key); }
  int operator()(const Item& a, int key) const { return a.key < key ? -1 : a.key > key ? 1 : 0; }
};

// Descending by key, the way some lists of the program are kept.
struct ByKeyDescending {
  int operator()(const Item& a, const Item& b) const { return -ByKey()(a, b); }
};

std::vector<int> Keys(const Collection<Item>& list) {
  std::vector<int> keys;
  for (std::int32_t i = 0; i < list.ItemCount(); ++i) keys.push_back(list.ItemAt(i).key);
  return keys;
}

std::string Tags(const Collection<Item>& list) {
  std::string tags;
  for (const auto& item : list) tags += item->tag;
  return tags;
}

TEST(CollectionTest, AppendsInOrderAndGrowsByTheStep) {
  Collection<Item> list(2, 3);
  EXPECT_EQ(list.Capacity(), 2);
  const std::vector<std::int32_t> capacity_after_each = {2, 2, 5, 5, 5, 8};
  for (int i = 0; i < 6; ++i) {
    list.Insert(MakeItem(10 - i));
    EXPECT_EQ(list.Capacity(), capacity_after_each[static_cast<std::size_t>(i)]) << i;
  }
  EXPECT_EQ(list.ItemCount(), 6);
  EXPECT_EQ(Keys(list), (std::vector<int>{10, 9, 8, 7, 6, 5}));
}

TEST(CollectionTest, OwnsItsItems) {
  int released = 0;
  {
    Collection<Item> list;
    for (int i = 0; i < 40; ++i) list.Insert(MakeItem(i, "", &released));
    const std::int32_t capacity = list.Capacity();
    EXPECT_EQ(capacity, 48);

    list.FreeAt(3);
    EXPECT_EQ(released, 1);
    EXPECT_EQ(list.ItemCount(), 39);
    EXPECT_EQ(list.ItemAt(3).key, 4);

    list.DisposeAll();
    EXPECT_EQ(released, 40);
    EXPECT_EQ(list.ItemCount(), 0);
    EXPECT_EQ(list.Capacity(), capacity);

    list.Insert(MakeItem(1, "", &released));
    list.Insert(MakeItem(2, "", &released));
  }
  EXPECT_EQ(released, 42);
}

TEST(CollectionTest, AtInsertPutsTheItemBeforeTheIndex) {
  // Inserting each new item at the front reverses the order, the way a
  // reader that walks a text upwards keeps its lines in text order.
  Collection<Item> list(2, 2);
  struct Step {
    std::int32_t index;
    const char* tag;
    const char* after;
    std::int32_t capacity;
  };
  const Step steps[] = {
      {0, "c", "c", 2},    {0, "a", "ac", 2},    {1, "b", "abc", 4},
      {3, "e", "abce", 4}, {3, "d", "abcde", 6}, {0, "_", "_abcde", 6},
  };
  for (const Step& step : steps) {
    SCOPED_TRACE(step.tag);
    list.AtInsert(step.index, MakeItem(0, step.tag));
    EXPECT_EQ(Tags(list), step.after);
    EXPECT_EQ(list.Capacity(), step.capacity);
  }
  EXPECT_EQ(list.ItemCount(), 6);
}

TEST(CollectionDeathTest, AtInsertOutOfRangeIsRunError213) {
  Collection<Item> list;
  list.Insert(MakeItem(1));
  list.Insert(MakeItem(2));
  for (const std::int32_t index : {3, -1, 1000}) {
    SCOPED_TRACE(index);
    EXPECT_EXIT(list.AtInsert(index, MakeItem(9)), ::testing::ExitedWithCode(213),
                "Found bug number 213");
  }
  Collection<Item> empty;
  EXPECT_EXIT(empty.AtInsert(1, MakeItem(9)), ::testing::ExitedWithCode(213),
              "Found bug number 213");
  // At ItemCount it is an append, not an error.
  list.AtInsert(2, MakeItem(3));
  EXPECT_EQ(Keys(list), (std::vector<int>{1, 2, 3}));
}

TEST(CollectionDeathTest, AtInsertIntoAFullCollectionWithoutStepIsRunError214) {
  Collection<Item> one(1, 0);
  one.AtInsert(0, MakeItem(1));
  EXPECT_EXIT(one.AtInsert(0, MakeItem(2)), ::testing::ExitedWithCode(214), "Found bug number 214");
}

TEST(CollectionDeathTest, IndexOutOfRangeIsRunError213) {
  Collection<Item> list;
  list.Insert(MakeItem(1));
  list.Insert(MakeItem(2));
  for (const std::int32_t index : {2, -1, 1000}) {
    SCOPED_TRACE(index);
    EXPECT_EXIT(list.ItemAt(index), ::testing::ExitedWithCode(213), "Found bug number 213");
  }
  EXPECT_EXIT(list.FreeAt(2), ::testing::ExitedWithCode(213), "Found bug number 213");
  Collection<Item> empty;
  EXPECT_EXIT(empty.ItemAt(0), ::testing::ExitedWithCode(213), "Found bug number 213");
}

TEST(CollectionDeathTest, FullWithoutGrowthStepIsRunError214) {
  Collection<Item> one(1, 0);
  one.Insert(MakeItem(1));
  EXPECT_EQ(one.ItemCount(), 1);
  EXPECT_EXIT(one.Insert(MakeItem(2)), ::testing::ExitedWithCode(214), "Found bug number 214");
  Collection<Item> none(0, 0);
  EXPECT_EXIT(none.Insert(MakeItem(1)), ::testing::ExitedWithCode(214), "Found bug number 214");
  SortedCollection<Item, ByKey> sorted(1, 0);
  sorted.Insert(MakeItem(5));
  EXPECT_EXIT(sorted.Insert(MakeItem(1)), ::testing::ExitedWithCode(214), "Found bug number 214");
}

TEST(SortedCollectionTest, KeepsOrderWhateverTheInsertionOrder) {
  SortedCollection<Item, ByKey> list(4, 4);
  for (const int key : {50, 10, 40, 20, 30, 0, 60, 35, -5}) list.Insert(MakeItem(key));
  EXPECT_EQ(Keys(list), (std::vector<int>{-5, 0, 10, 20, 30, 35, 40, 50, 60}));

  SortedCollection<Item, ByKeyDescending> descending;
  for (const int key : {2, 9, 4, 7}) descending.Insert(MakeItem(key));
  EXPECT_EQ(Keys(descending), (std::vector<int>{9, 7, 4, 2}));
}

TEST(SortedCollectionTest, RefusesASecondItemWithAnEqualKey) {
  int released = 0;
  SortedCollection<Item, ByKey> list;
  EXPECT_FALSE(list.allow_duplicates);
  list.Insert(MakeItem(7, "first", &released));
  list.Insert(MakeItem(3, "other", &released));
  list.Insert(MakeItem(7, "second", &released));
  EXPECT_EQ(list.ItemCount(), 2);
  EXPECT_EQ(list.ItemAt(1).tag, "first");
  // The collection took the refused item and released it.
  EXPECT_EQ(released, 1);
}

TEST(SortedCollectionTest, DuplicatesWhenAllowedFollowTheEqualItems) {
  SortedCollection<Item, ByKey> list;
  list.allow_duplicates = true;
  list.Insert(MakeItem(5, "a"));
  list.Insert(MakeItem(1, "x"));
  list.Insert(MakeItem(5, "b"));
  list.Insert(MakeItem(9, "y"));
  list.Insert(MakeItem(5, "c"));
  EXPECT_EQ(Tags(list), "xabcy");
  std::int32_t index = -1;
  EXPECT_TRUE(list.FindKey(5, &index));
  EXPECT_EQ(index, 1);
}

TEST(SortedCollectionTest, FindKeyReportsWhereAKeyIsOrBelongs) {
  SortedCollection<Item, ByKey> list;
  for (const int key : {10, 20, 30, 40}) list.Insert(MakeItem(key));
  struct Case {
    int key;
    bool found;
    std::int32_t index;
  };
  const Case cases[] = {
      {5, false, 0}, {10, true, 0},  {15, false, 1}, {20, true, 1},
      {30, true, 2}, {35, false, 3}, {40, true, 3},  {45, false, 4},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.key);
    std::int32_t index = -1;
    EXPECT_EQ(list.FindKey(c.key, &index), c.found);
    EXPECT_EQ(index, c.index);
    // Searching with an item gives the same answer as with a bare key.
    std::int32_t item_index = -1;
    EXPECT_EQ(list.FindKey(Item(c.key, ""), &item_index), c.found);
    EXPECT_EQ(item_index, c.index);
  }
  SortedCollection<Item, ByKey> empty;
  std::int32_t index = -1;
  EXPECT_FALSE(empty.FindKey(1, &index));
  EXPECT_EQ(index, 0);
}

TEST(SortedCollectionTest, UsesTheComparatorInstanceGiven) {
  // A comparator with state: keys compared modulo a divisor.
  struct Modulo {
    int divisor = 1;
    int operator()(const Item& a, const Item& b) const {
      const int x = a.key % divisor, y = b.key % divisor;
      return x < y ? -1 : x > y ? 1 : 0;
    }
  };
  SortedCollection<Item, Modulo> list(16, 16, Modulo{10});
  for (const int key : {13, 21, 32, 43, 5}) list.Insert(MakeItem(key));
  EXPECT_EQ(Keys(list), (std::vector<int>{21, 32, 13, 5}));  // 43 ~ 13: refused
}

}  // namespace
}  // namespace qlr
