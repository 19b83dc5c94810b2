#include "base/collection.h"

#include <algorithm>

#include "base/errors.h"

// The item joins and leaves silently while it is being built or destroyed: the collection's
// notifications must only ever see complete items. Add announces the item once it is built;
// Dispose takes it out (with notification) before destroying it.
TCollectionItem::TCollectionItem(TCollection* Collection) {
  if (Collection != nullptr)
    Collection->InsertItem(this, false);
}

TCollectionItem::~TCollectionItem() {
  if (FCollection != nullptr)
    FCollection->RemoveItem(this, false);
}

void TCollectionItem::SetCollection(TCollection* Collection) {
  if (Collection == FCollection)
    return;
  if (FCollection != nullptr)
    FCollection->RemoveItem(this, true);
  if (Collection != nullptr)
    Collection->InsertItem(this, true);
}

int32_t TCollectionItem::Index() const {
  if (FCollection == nullptr)
    return -1;
  const auto& items = FCollection->FItems;
  return static_cast<int32_t>(std::find(items.begin(), items.end(), this) - items.begin());
}

void TCollectionItem::SetIndex(int32_t Value) {
  const int32_t current = Index();
  if (current < 0 || Value == current)
    return;
  auto& items = FCollection->FItems;
  if (Value < 0 || Value >= static_cast<int32_t>(items.size()))
    RaiseCodeError(ERR_INVALID_INDEX);
  items.erase(items.begin() + current);
  items.insert(items.begin() + Value, this);
  Changed(true);
}

void TCollectionItem::Assign(const TCollectionItem&) { RaiseText("Cannot assign a collection item"); }

void TCollectionItem::Dispose() {
  SetCollection(nullptr);
  delete this;
}

void TCollectionItem::Changed(bool AllItems) {
  if (FCollection != nullptr && FCollection->FUpdateCount == 0)
    FCollection->Update(AllItems ? nullptr : this);
}

TCollection::TCollection(TCollectionItemClass ItemClass) : FItemClass(ItemClass) {}

TCollection::~TCollection() {
  FUpdateCount = 1;
  Clear();
}

TCollectionItem* TCollection::Items(int32_t Index) const {
  if (Index < 0 || Index >= Count())
    RaiseCodeError(ERR_INVALID_INDEX);
  return FItems[static_cast<size_t>(Index)];
}

TCollectionItem* TCollection::Add() {
  if (FItemClass == nullptr)
    RaiseText("The collection has no item class");
  TCollectionItem* item = FItemClass(this);
  if (item->FCollection == this) {
    Notify(item, TCollectionNotification::cnAdded);
    Changed();
  }
  return item;
}

TCollectionItem* TCollection::Insert(int32_t Index) {
  if (Index < 0 || Index > Count())
    RaiseCodeError(ERR_INVALID_INDEX);
  TCollectionItem* item = Add();
  item->SetIndex(Index);
  return item;
}

void TCollection::Delete(int32_t Index) {
  TCollectionItem* item = Items(Index);
  Notify(item, TCollectionNotification::cnDeleting);
  item->Dispose();
  // Disposal takes the item out of the collection; one that did not must not stay
  // (only the pointer value is compared: the item may be gone).
  if (Index < Count() && FItems[static_cast<size_t>(Index)] == item)
    FItems.erase(FItems.begin() + Index);
}

void TCollection::Clear() {
  if (FItems.empty())
    return;
  BeginUpdate();
  while (!FItems.empty()) {
    TCollectionItem* item = FItems.back();
    item->Dispose();
    if (!FItems.empty() && FItems.back() == item)
      FItems.pop_back();
  }
  EndUpdate();
}

TCollectionItem* TCollection::FindItemID(int32_t ID) const {
  for (TCollectionItem* item : FItems)
    if (item->FID == ID)
      return item;
  return nullptr;
}

void TCollection::Assign(const TCollection& Source) {
  if (&Source == this)
    return;
  BeginUpdate();
  try {
    Clear();
    for (const TCollectionItem* item : Source.FItems)
      Add()->Assign(*item);
  } catch (...) {
    EndUpdate();
    throw;
  }
  EndUpdate();
}

void TCollection::BeginUpdate() { ++FUpdateCount; }

void TCollection::EndUpdate() {
  if (FUpdateCount > 0 && --FUpdateCount == 0)
    Changed();
}

void TCollection::Notify(TCollectionItem*, TCollectionNotification) {}

void TCollection::Update(TCollectionItem*) {}

void TCollection::Changed() {
  if (FUpdateCount == 0)
    Update(nullptr);
}

void TCollection::InsertItem(TCollectionItem* Item, bool notify) {
  FItems.push_back(Item);
  Item->FCollection = this;
  Item->FID = FNextID++;
  if (notify) {
    Notify(Item, TCollectionNotification::cnAdded);
    Changed();
  }
}

void TCollection::RemoveItem(TCollectionItem* Item, bool notify) {
  if (notify)
    Notify(Item, TCollectionNotification::cnExtracting);
  const auto found = std::find(FItems.begin(), FItems.end(), Item);
  if (found != FItems.end())
    FItems.erase(found);
  Item->FCollection = nullptr;
  if (notify)
    Changed();
}
