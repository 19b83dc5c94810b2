#pragma once
// The ordered collection of the class library: a collection owns its items, creates them
// from its item class, keeps them in order, and notifies itself when an item is added,
// is being taken out (extracting) or is about to be deleted.

#include <cstdint>
#include <vector>

class TCollection;

enum class TCollectionNotification { cnAdded, cnExtracting, cnDeleting };

class TCollectionItem {
public:
  // Joins Collection (when given) at its end. The collection's cnAdded notification comes
  // from TCollection::Add once the whole item is built; an item built directly joins
  // without it.
  explicit TCollectionItem(TCollection* Collection);
  // Leaves the collection the item still belongs to (without notification: the item is no
  // longer whole; Dispose takes it out with notification first).
  virtual ~TCollectionItem();

  TCollectionItem(const TCollectionItem&) = delete;
  TCollectionItem& operator=(const TCollectionItem&) = delete;

  TCollection* Collection() const { return FCollection; }
  // Moves the item to another collection, or out of any (nullptr).
  void SetCollection(TCollection* Collection);
  // Position in the collection, -1 when the item belongs to none.
  int32_t Index() const;
  // Moves the item to another position of its collection.
  void SetIndex(int32_t Value);
  // A number unique within the collection, given when the item joins.
  int32_t ID() const { return FID; }

  // Copies the item's contents from Source; the base has none to copy and raises.
  virtual void Assign(const TCollectionItem& Source);
  // How the collection gets rid of an item it deletes or clears: here the item is freed.
  // Reference-counted items give up the collection's reference instead. Either way the
  // item must have left the collection when Dispose returns.
  virtual void Dispose();

protected:
  // Tells the collection that this item (or, with AllItems, the whole collection) changed.
  void Changed(bool AllItems);

private:
  friend class TCollection;
  TCollection* FCollection = nullptr;
  int32_t FID = 0;
};

// Creates a new item of a collection's item class inside that collection.
using TCollectionItemClass = TCollectionItem* (*)(TCollection* Collection);

// The item class of T: new T(collection).
template <typename T>
TCollectionItemClass ItemClassOf() {
  return [](TCollection* collection) -> TCollectionItem* { return new T(collection); };
}

class TCollection {
public:
  explicit TCollection(TCollectionItemClass ItemClass);
  // Disposes of every item first.
  virtual ~TCollection();

  TCollection(const TCollection&) = delete;
  TCollection& operator=(const TCollection&) = delete;

  int32_t Count() const { return static_cast<int32_t>(FItems.size()); }
  // The item at a 0-based index; an index out of range raises ERR_INVALID_INDEX.
  TCollectionItem* Items(int32_t Index) const;
  TCollectionItemClass ItemClass() const { return FItemClass; }

  // A new item of the item class at the end (notified as cnAdded), or at Index.
  TCollectionItem* Add();
  TCollectionItem* Insert(int32_t Index);
  // Notifies cnDeleting, then disposes of the item.
  void Delete(int32_t Index);
  // Disposes of every item, the last first.
  void Clear();
  // The item with that ID, or nullptr.
  TCollectionItem* FindItemID(int32_t ID) const;
  // Replaces the items by copies of Source's items.
  void Assign(const TCollection& Source);

  // Update notifications are held back between BeginUpdate and EndUpdate.
  void BeginUpdate();
  void EndUpdate();

protected:
  virtual void Notify(TCollectionItem* Item, TCollectionNotification Action);
  // An item (or with nullptr, the collection as a whole) changed.
  virtual void Update(TCollectionItem* Item);
  void Changed();

private:
  friend class TCollectionItem;
  void InsertItem(TCollectionItem* Item, bool notify);
  void RemoveItem(TCollectionItem* Item, bool notify);

  TCollectionItemClass FItemClass;
  std::vector<TCollectionItem*> FItems;
  int32_t FNextID = 0;
  int32_t FUpdateCount = 0;
};
