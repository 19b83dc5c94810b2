#pragma once
// The collection model: configuration objects read from XML documents (equipment models with
// their parameters, parameter lists of devices) as ordered collections of items. Items keep
// their modified state; changes travel from a parameter to its model item and on to the
// model list; the elements to load are chosen with case-insensitive XPath filters.

#include <cstdint>
#include <functional>
#include <memory>
#include <utility>
#include <vector>

#include "base/collection.h"
#include "base/global_id.h"
#include "platform/ole_ptr.h"
#include "platform/text_codec.h"

// What sends a change notification: an item or a list.
class TChangeSource {
public:
  virtual ~TChangeSource() = default;
};

using TNotifyEvent = std::function<void(TChangeSource* Sender)>;

class TBaseItem;
class TParameterList;

// Item states.
enum : int32_t { STATE_NORMAL = 0, STATE_DELETED = 1 };
// The version of an item never stored.
inline constexpr int32_t kVersionNeverStored = -1;

class TBaseList : public TCollection, public TChangeSource {
public:
  // Source: XML text (parsed into a new document) or a document or node (shared).
  TBaseList(TCollectionItemClass ItemClass, const VARIANT& Source);
  TBaseList(TBaseList* Parent, const VARIANT& Source, TCollectionItemClass ItemClass);
  ~TBaseList() override;

  void SetSource(const VARIANT& Source);
  const OleVariant& Source() const { return FSource; }
  TBaseList* ParentList() const { return FParentList; }
  TBaseItem* FirstItem() const { return FFirstItem; }

  // Filter for the next load: pairs of attribute index and value; an empty value or "*"
  // does not filter. Index 122 stands for attribute 101 of the parent element, 129 for
  // attribute 100 of the parent element.
  void SetFilter(const std::vector<int32_t>& AttrIndices, const std::vector<WideString>& Values);
  void ClearFilter() { FFilter.clear(); }
  // The XPath predicates of the filter: on the items, and on their parent elements; each is
  // empty or one bracketed predicate.
  void BuildFilter(WideString& ItemFilter, WideString& ParentFilter) const;

  virtual void Load() {}

  TBaseItem* Items(int32_t Index) const;

  bool GetModified() const;
  // Only false has an effect: every item and the list itself become unmodified.
  void SetModified(bool Value);

  void DoChange(TChangeSource* Sender);
  void SetOnChange(TNotifyEvent Handler) { FOnChange = std::move(Handler); }

  bool IncludeDeleted() const { return FIncludeDeleted; }
  void SetIncludeDeleted(bool Value) { FIncludeDeleted = Value; }

protected:
  void Notify(TCollectionItem* Item, TCollectionNotification Action) override;
  void SetFirstItem(TBaseItem* Item) { FFirstItem = Item; }

private:
  TBaseItem* FFirstItem = nullptr;
  TNotifyEvent FOnChange;
  bool FModified = false;
  TBaseList* FParentList = nullptr;
  std::vector<std::pair<AnsiString, WideString>> FFilter;  // key=value, keys "101", "_101", ...
  OleVariant FSource;
  bool FIncludeDeleted = true;
};

class TBaseItem : public TCollectionItem, public TChangeSource {
public:
  explicit TBaseItem(TCollection* Collection);
  ~TBaseItem() override;

  int32_t State() const { return FState; }
  // A new state marks the item modified. Deleting an item never stored (version -1) frees
  // it: it leaves its list, and the result is false (the item is gone). Deleting any other
  // item clears its parameters. True while the item exists.
  bool SetState(int32_t Value);

  virtual void SetModified(bool Value);
  bool IsModified() const;
  bool ModifiedCache() const { return FModifiedCache; }

  void SetOnChange(TNotifyEvent Handler) { FOnChange = std::move(Handler); }
  // A change below this item (a parameter): refreshes the cached state and passes it on.
  void DoChange(TChangeSource* Sender);

  TParameterList* Params() const { return FParams.get(); }
  // The previous list is freed.
  void SetParams(std::unique_ptr<TParameterList> List);
  virtual void LoadParams();

  TBaseList* OwnerList() const { return FOwnerList; }
  void SetOwnerList(TBaseList* List) { FOwnerList = List; }
  const OleVariant& Node() const { return FNode; }
  void SetNode(const VARIANT& Node) { FNode = OleVariant(Node); }
  int32_t Version() const { return FVersion; }
  void SetVersion(int32_t Value) { FVersion = Value; }

protected:
  // Changed: the old and new values differ. The item becomes modified when it changed.
  void NoteChange(bool Changed) { SetModified(IsModified() || Changed); }

private:
  int32_t FState = STATE_NORMAL;
  bool FModified = false;
  TNotifyEvent FOnChange;
  std::unique_ptr<TParameterList> FParams;
  bool FModifiedCache = true;
  TBaseList* FOwnerList = nullptr;
  OleVariant FNode;
  int32_t FVersion = 0;
};

class TParameterItem : public TBaseItem {
public:
  explicit TParameterItem(TCollection* Collection) : TBaseItem(Collection) {}

  int32_t ParamReadOnly() const { return FParamReadOnly; }
  const WideString& ParamType() const { return FParamType; }
  const WideString& ParamHint() const { return FParamHint; }
  const WideString& ParamName() const { return FParamName; }
  const WideString& ParamDefault() const { return FParamDefault; }
  const WideString& ParamDescription() const { return FParamDescription; }
  const WideString& ParamValue() const { return FParamValue; }

  // Texts compare case-sensitively: a value in another case is a change.
  void SetParamReadOnly(int32_t Value);
  void SetParamType(const WideString& Value) { SetText(FParamType, Value); }
  void SetParamHint(const WideString& Value) { SetText(FParamHint, Value); }
  void SetParamName(const WideString& Value) { SetText(FParamName, Value); }
  void SetParamDefault(const WideString& Value) { SetText(FParamDefault, Value); }
  void SetParamDescription(const WideString& Value) { SetText(FParamDescription, Value); }
  void SetParamValue(const WideString& Value) { SetText(FParamValue, Value); }

private:
  void SetText(WideString& Field, const WideString& Value);

  int32_t FParamReadOnly = 0;
  WideString FParamType, FParamHint, FParamName, FParamDefault, FParamDescription, FParamValue;
};

class TParameterList : public TBaseList {
public:
  TParameterList(TBaseList* Parent, const VARIANT& Source);

  TParameterItem* Items(int32_t Index) const;
  TParameterItem* Add();
  // The first parameter of that name, compared case-insensitively; null when there is none.
  TParameterItem* FindParameter(const WideString& Name) const;
  bool IsOwnerDeleted() const;
  TBaseItem* OwnerItem() const { return FOwnerItem; }
  void SetOwnerItem(TBaseItem* Item) { FOwnerItem = Item; }

  void Load() override;

private:
  TBaseItem* FOwnerItem = nullptr;
};

class TModelItem : public TBaseItem {
public:
  explicit TModelItem(TCollection* Collection);

  int32_t UseQuen() const { return FUseQuen; }
  const WideString& Identif() const { return FIdentif; }
  const WideString& ClassIdentif() const { return FClassIdentif; }
  const WideString& Library() const { return FLibrary; }
  const WideString& Name() const { return FName; }
  const WideString& PluVer() const { return FPluVer; }
  int32_t Release() const { return FRelease; }
  const TGlobalId& ModelId() const { return FModelId; }

  // Texts compare case-insensitively: a value in another case is no change.
  void SetUseQuen(int32_t Value);
  void SetIdentif(const WideString& Value) { SetText(FIdentif, Value); }
  void SetClassIdentif(const WideString& Value) { SetText(FClassIdentif, Value); }
  void SetLibrary(const WideString& Value) { SetText(FLibrary, Value); }
  void SetName(const WideString& Value) { SetText(FName, Value); }
  void SetPluVer(const WideString& Value) { SetText(FPluVer, Value); }
  void SetRelease(int32_t Value);
  void SetModelId(const TGlobalId& Value) { FModelId = Value; }

  void LoadParams() override;

private:
  void SetText(WideString& Field, const WideString& Value);

  int32_t FUseQuen = 0;
  WideString FIdentif, FClassIdentif, FLibrary, FName, FPluVer;
  int32_t FRelease = 0;
  TGlobalId FModelId{};
};

class TModelList : public TBaseList {
public:
  explicit TModelList(const VARIANT& Source);

  TModelItem* Items(int32_t Index) const;
  TModelItem* Add();
  // Searches from the end: the last model with that identifier (a deleted one only while
  // IncludeDeleted), which then belongs to this list; null when there is none.
  TModelItem* FindModel(const TGlobalId& Id);

  void Load() override;
};

// A model list over Source holding the models that pass the six filters (empty or "*": no
// filter): identifier, textual identifier, library, equipment class, name and state.
std::unique_ptr<TModelList> CreateFilteredModelList(const VARIANT& Source, const WideString& Id,
                                                    const WideString& Identif, const WideString& Library,
                                                    const WideString& ClassIdentif, const WideString& Name,
                                                    const WideString& State);

// Lower case for Latin and Cyrillic letters (and Latin-1 letters), as the system lowers
// Unicode text; other characters stay.
WideString LowerCaseWide(WideStringView Text);
