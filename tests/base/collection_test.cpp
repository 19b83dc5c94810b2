#include "base/collection.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "base/errors.h"

namespace {

std::vector<std::string>* gEvents = nullptr;

class TNamedItem : public TCollectionItem {
public:
  explicit TNamedItem(TCollection* collection) : TCollectionItem(collection) {}
  ~TNamedItem() override {
    if (gEvents)
      gEvents->push_back("destroy " + Name);
  }
  void Assign(const TCollectionItem& source) override { Name = static_cast<const TNamedItem&>(source).Name; }
  std::string Name;
};

class TRecordingCollection : public TCollection {
public:
  TRecordingCollection() : TCollection(ItemClassOf<TNamedItem>()) {}
  ~TRecordingCollection() override { gEvents = nullptr; }
  TNamedItem* AddNamed(const std::string& name) {
    auto* item = static_cast<TNamedItem*>(Add());
    item->Name = name;
    return item;
  }
  std::vector<std::string> Events;
  int Updates = 0;

protected:
  void Notify(TCollectionItem* item, TCollectionNotification action) override {
    static const char* const kNames[] = {"added", "extracting", "deleting"};
    Events.push_back(std::string(kNames[static_cast<int>(action)]) + " " +
                     static_cast<TNamedItem*>(item)->Name);
  }
  void Update(TCollectionItem*) override { ++Updates; }
};

}  // namespace

TEST(Collection, AddsInOrderWithUniqueIds) {
  TRecordingCollection list;
  list.AddNamed("");
  EXPECT_EQ(list.Events, (std::vector<std::string>{"added "})) << "one notification, for the whole item";
  list.Delete(0);
  TNamedItem* a = list.AddNamed("a");
  TNamedItem* b = list.AddNamed("b");
  EXPECT_EQ(list.Count(), 2);
  EXPECT_EQ(list.Items(0), a);
  EXPECT_EQ(b->Index(), 1);
  EXPECT_NE(a->ID(), b->ID());
  EXPECT_EQ(list.FindItemID(b->ID()), b);
  EXPECT_EQ(list.FindItemID(12345), nullptr);
  TCollectionItem* first = list.Insert(0);
  EXPECT_EQ(first->Index(), 0);
  EXPECT_EQ(a->Index(), 1);
  EXPECT_THROW(list.Items(3), EProtectException);
  EXPECT_THROW(list.Items(-1), EProtectException);
  EXPECT_THROW(list.Insert(5), EProtectException);
}

TEST(Collection, DeleteNotifiesDeletingThenExtractingAndFrees) {
  TRecordingCollection list;
  gEvents = &list.Events;
  list.AddNamed("a");
  list.AddNamed("b");
  list.Events.clear();
  list.Delete(0);
  EXPECT_EQ(list.Events, (std::vector<std::string>{"deleting a", "extracting a", "destroy a"}))
      << "the item is notified while whole, and destroyed after it has left";
  EXPECT_EQ(list.Count(), 1);
  EXPECT_EQ(static_cast<TNamedItem*>(list.Items(0))->Name, "b");
  EXPECT_THROW(list.Delete(1), EProtectException);
}

TEST(Collection, ItemsLeaveAndMoveBetweenCollections) {
  TRecordingCollection first, second;
  TNamedItem* item = first.AddNamed("x");
  item->SetCollection(&second);
  EXPECT_EQ(first.Count(), 0);
  EXPECT_EQ(second.Count(), 1);
  EXPECT_EQ(item->Collection(), &second);
  item->SetCollection(nullptr);
  EXPECT_EQ(item->Index(), -1);
  EXPECT_EQ(second.Count(), 0);
  delete item;  // a detached item belongs to nobody
}

TEST(Collection, ClearDisposesLastFirstAndHoldsUpdates) {
  TRecordingCollection list;
  list.AddNamed("a");
  list.AddNamed("b");
  list.AddNamed("c");
  gEvents = &list.Events;
  list.Events.clear();
  list.Updates = 0;
  list.Clear();
  EXPECT_EQ(list.Count(), 0);
  EXPECT_EQ(list.Events, (std::vector<std::string>{"extracting c", "destroy c", "extracting b", "destroy b",
                                                   "extracting a", "destroy a"}));
  EXPECT_EQ(list.Updates, 1);
}

TEST(Collection, AssignCopiesItems) {
  TRecordingCollection source, target;
  source.AddNamed("p");
  source.AddNamed("q");
  target.AddNamed("old");
  target.Assign(source);
  ASSERT_EQ(target.Count(), 2);
  EXPECT_EQ(static_cast<TNamedItem*>(target.Items(1))->Name, "q");
  TCollection plain(ItemClassOf<TCollectionItem>());
  plain.Add();
  EXPECT_THROW(plain.Assign(source), EProtectException) << "plain items have nothing to copy";
}

TEST(Collection, SetIndexMovesWithinTheCollection) {
  TRecordingCollection list;
  TNamedItem* a = list.AddNamed("a");
  list.AddNamed("b");
  list.AddNamed("c");
  a->SetIndex(2);
  EXPECT_EQ(static_cast<TNamedItem*>(list.Items(0))->Name, "b");
  EXPECT_EQ(list.Items(2), a);
  EXPECT_THROW(a->SetIndex(3), EProtectException);
}
