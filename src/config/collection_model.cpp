#include "config/collection_model.h"

#include <algorithm>
#include <charconv>
#include <string>

#include "base/errors.h"
#include "config/late_bound.h"
#include "config/vocabulary.h"
#include "config/xml_access.h"
#include "platform/text_compare.h"

namespace {

// The alphabets of the case-insensitive comparison, in matching order (Ы before Ъ in both).
constexpr char kUpperAlphabet[] = "АБВГДЕЁЖЗИЙКЛМНОПРСТУФХЦЧШЩЫЪЬЭЮЯABCDEFGHIJKLMNOPQRSTUVWXYZ";
constexpr char kLowerAlphabet[] = "абвгдеёжзийклмнопрстуфхцчшщыъьэюяabcdefghijklmnopqrstuvwxyz";

bool IsNoFilter(const WideString& value) { return value.empty() || value == OLESTR("*"); }

// An XPath 1.0 string literal for any text: XPath has no escapes, so a text holding a double
// quote is written in single quotes, and one holding both kinds is built with concat().
WideString XPathLiteral(const WideString& text) {
  if (text.find(u'"') == WideString::npos) return OLESTR("\"") + text + OLESTR("\"");
  if (text.find(u'\'') == WideString::npos) return OLESTR("'") + text + OLESTR("'");
  WideString result = OLESTR("concat(");
  size_t start = 0;
  while (start < text.size()) {
    size_t quote = text.find(u'"', start);
    if (quote == start) {
      result += OLESTR("'\"',");
      ++start;
      continue;
    }
    size_t end = quote == WideString::npos ? text.size() : quote;
    result += OLESTR("\"") + text.substr(start, end - start) + OLESTR("\",");
    start = end;
  }
  result.back() = u')';
  return result;
}

// (translate(@name,"UPPER","lower")<op>literal): the attribute compared case-insensitively
// for Russian and Latin letters.
WideString Condition(int32_t attrIndex, const char* op, const WideString& lowerValue) {
  static const WideString upper = WideFromUtf8(kUpperAlphabet), lower = WideFromUtf8(kLowerAlphabet);
  return OLESTR("(translate(@") + AttrName(attrIndex) + OLESTR(",\"") + upper + OLESTR("\",\"") + lower +
         OLESTR("\")") + WideFromUtf8(op) + XPathLiteral(lowerValue) + OLESTR(")");
}

void AppendCondition(WideString& filter, const WideString& condition) {
  if (!filter.empty()) filter += OLESTR(" and ");
  filter += condition;
}

// The integer of an attribute text; 0 when it is empty or not a number.
int32_t IntegerOr0(const WideString& text) {
  std::string digits = Utf8FromWide(text);
  int32_t value = 0;
  auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
  return error == std::errc() && end == digits.data() + digits.size() ? value : 0;
}

WideString Attribute(const VARIANT& node, int32_t attrIndex) { return GetNamedAttribute(node, attrIndex, WideString()); }

// Calls Visit for each node of a DOM node list, in order.
template <class Visit>
void ForEachNode(const VARIANT& list, Visit visit) {
  LONG count = GetProperty(list, "length").lVal;
  for (LONG i = 0; i < count; ++i) visit(CallMethod(list, "item", {OleVariant(i)}));
}

bool SameLocaleText(const WideString& a, const WideString& b, bool ignoreCase) {
  return platform::CompareText(AnsiFromWide(a), AnsiFromWide(b), ignoreCase) == 0;
}

}  // namespace

// ---------------------------------------------------------------------------------------
// TBaseList

TBaseList::TBaseList(TCollectionItemClass ItemClass, const VARIANT& Source) : TCollection(ItemClass) {
  SetSource(Source);
}

TBaseList::TBaseList(TBaseList* Parent, const VARIANT& Source, TCollectionItemClass ItemClass)
    : TBaseList(ItemClass, Source) {
  FParentList = Parent;
}

TBaseList::~TBaseList() {
  FFilter.clear();
  Clear();
}

void TBaseList::SetSource(const VARIANT& Source) { FSource = OpenXmlSource(Source); }

void TBaseList::SetFilter(const std::vector<int32_t>& AttrIndices, const std::vector<WideString>& Values) {
  if (AttrIndices.size() != Values.size())
    RaiseText(AnsiFromUtf8("Размерности массивов аттрибутов и значений не совпадают"));
  for (size_t i = 0; i < AttrIndices.size(); ++i) {
    if (IsNoFilter(Values[i])) continue;
    // The placeholders address the parent element's attributes.
    AnsiString key = AttrIndices[i] == ATTR_PARENT_IDENTIF ? AnsiString("_101")
                     : AttrIndices[i] == ATTR_PARENT_ID    ? AnsiString("_100")
                                                           : std::to_string(AttrIndices[i]);
    // Values are kept as they are: BuildFilter writes them as proper XPath literals.
    auto found = std::find_if(FFilter.begin(), FFilter.end(), [&](const auto& pair) { return pair.first == key; });
    if (found != FFilter.end()) found->second = Values[i];
    else FFilter.emplace_back(key, Values[i]);
  }
}

void TBaseList::BuildFilter(WideString& ItemFilter, WideString& ParentFilter) const {
  ItemFilter.clear();
  ParentFilter.clear();
  for (const auto& [key, value] : FFilter) {
    WideString lowerValue = LowerCaseWide(value);
    if (key[0] == '_') {
      AppendCondition(ParentFilter, Condition(std::stoi(key.substr(1)), "=", lowerValue));
    } else if (std::stoi(key) == ATTR_STATE) {
      // State "0" keeps every element not deleted; any other state every element not normal.
      AppendCondition(ItemFilter, Condition(ATTR_STATE, "!=", WideString(value == OLESTR("0") ? OLESTR("1") : OLESTR("0"))));
    } else {
      AppendCondition(ItemFilter, Condition(std::stoi(key), "=", lowerValue));
    }
  }
  if (!ItemFilter.empty()) ItemFilter = OLESTR("[") + ItemFilter + OLESTR("]");
  if (!ParentFilter.empty()) ParentFilter = OLESTR("[") + ParentFilter + OLESTR("]");
}

TBaseItem* TBaseList::Items(int32_t Index) const { return static_cast<TBaseItem*>(TCollection::Items(Index)); }

bool TBaseList::GetModified() const {
  if (FModified) return true;
  for (int32_t i = 0; i < Count(); ++i)
    if (Items(i)->IsModified()) return true;
  return false;
}

void TBaseList::SetModified(bool Value) {
  if (Value) return;
  for (int32_t i = 0; i < Count(); ++i) Items(i)->SetModified(false);
  if (FModified) {
    FModified = false;
    DoChange(this);
  }
}

void TBaseList::DoChange(TChangeSource* Sender) {
  if (FOnChange) FOnChange(Sender);
}

void TBaseList::Notify(TCollectionItem* Item, TCollectionNotification Action) {
  TCollection::Notify(Item, Action);
  if (Action != TCollectionNotification::cnAdded && Item == FFirstItem) FFirstItem = nullptr;
  if (Action == TCollectionNotification::cnDeleting && !FModified) {
    FModified = true;
    DoChange(this);
  }
}

// ---------------------------------------------------------------------------------------
// TBaseItem

TBaseItem::TBaseItem(TCollection* Collection) : TCollectionItem(Collection) {
  FOwnerList = dynamic_cast<TBaseList*>(Collection);
  if (TBaseList* list = FOwnerList) FOnChange = [list](TChangeSource* sender) { list->DoChange(sender); };
}

TBaseItem::~TBaseItem() = default;

bool TBaseItem::SetState(int32_t Value) {
  if (Value != FState) {
    FState = Value;
    SetModified(true);
    if (FState == STATE_DELETED && FVersion == kVersionNeverStored) {
      Dispose();  // leaves the collection and frees the item
      return false;
    }
  }
  if (FState == STATE_DELETED && FParams && FParams->Count() > 0) {
    FParams->Clear();
    SetModified(true);
  }
  return true;
}

void TBaseItem::SetModified(bool Value) {
  if (Value != FModified) {
    FModified = Value;
    if (FOwnerList && FOnChange) FOnChange(this);
    FModifiedCache = IsModified();
  }
  if (!Value && FParams) FParams->SetModified(false);
}

bool TBaseItem::IsModified() const { return FModified || (FParams && FParams->GetModified()); }

void TBaseItem::DoChange(TChangeSource* Sender) {
  FModifiedCache = IsModified();
  if (FOnChange) FOnChange(Sender);
}

void TBaseItem::SetParams(std::unique_ptr<TParameterList> List) { FParams = std::move(List); }

// Items without parameters of their own have nothing to load.
void TBaseItem::LoadParams() {}

// ---------------------------------------------------------------------------------------
// Parameters

void TParameterItem::SetParamReadOnly(int32_t Value) {
  NoteChange(Value != FParamReadOnly);
  FParamReadOnly = Value;
}

void TParameterItem::SetText(WideString& Field, const WideString& Value) {
  NoteChange(!SameLocaleText(Field, Value, false));
  Field = Value;
}

TParameterList::TParameterList(TBaseList* Parent, const VARIANT& Source)
    : TBaseList(Parent, Source, ItemClassOf<TParameterItem>()) {}

TParameterItem* TParameterList::Items(int32_t Index) const {
  return static_cast<TParameterItem*>(TBaseList::Items(Index));
}

TParameterItem* TParameterList::Add() { return static_cast<TParameterItem*>(TCollection::Add()); }

TParameterItem* TParameterList::FindParameter(const WideString& Name) const {
  for (int32_t i = 0; i < Count(); ++i)
    if (SameLocaleText(Items(i)->ParamName(), Name, true)) return Items(i);
  return nullptr;
}

bool TParameterList::IsOwnerDeleted() const { return FOwnerItem && FOwnerItem->State() == STATE_DELETED; }

void TParameterList::Load() {
  if (IsOwnerDeleted()) return;
  ForEachNode(SelectNamedNodes(Source(), PATH_OWN_PARAMS, WideString(), WideString()), [&](const OleVariant& node) {
    TParameterItem* item = Add();
    item->SetNode(node);
    item->SetParamName(Attribute(node, ATTR_IDENTIF));
    item->SetParamDescription(Attribute(node, ATTR_NAME));
    item->SetParamType(Attribute(node, ATTR_TYPE));
    item->SetParamValue(Attribute(node, ATTR_VALUE));
    item->SetParamDefault(Attribute(node, ATTR_DEFAULT));
    item->SetParamHint(Attribute(node, ATTR_HINT));
    item->SetParamReadOnly(IntegerOr0(Attribute(node, ATTR_READ_ONLY)));
    item->SetModified(false);
  });
}

// ---------------------------------------------------------------------------------------
// Models

TModelItem::TModelItem(TCollection* Collection) : TBaseItem(Collection) {
  SetUseQuen(0);
  // The parameters read from the same document as the list; without a list, from an empty one.
  TBaseList* list = OwnerList();
  OleVariant source = list ? list->Source() : OleVariant(WideString());
  auto params = std::make_unique<TParameterList>(list, source);
  params->SetOnChange([this](TChangeSource* sender) { DoChange(sender); });
  params->SetOwnerItem(this);
  SetParams(std::move(params));
}

void TModelItem::SetUseQuen(int32_t Value) {
  NoteChange(Value != FUseQuen);
  FUseQuen = Value;
}

void TModelItem::SetRelease(int32_t Value) {
  NoteChange(Value != FRelease);
  FRelease = Value;
}

void TModelItem::SetText(WideString& Field, const WideString& Value) {
  NoteChange(!SameLocaleText(Field, Value, true));
  Field = Value;
}

void TModelItem::LoadParams() {
  TParameterList* params = Params();
  params->Clear();
  if (params->IsOwnerDeleted() || !IsNodeAssigned(Node())) return;
  ForEachNode(SelectNamedNodes(Node(), PATH_OWN_PARAMS, WideString(), WideString()), [&](const OleVariant& node) {
    TParameterItem* item = params->Add();
    item->SetNode(node);
    item->SetParamName(Attribute(node, ATTR_IDENTIF));
    item->SetParamDescription(Attribute(node, ATTR_NAME));
    item->SetParamType(Attribute(node, ATTR_TYPE));
    item->SetParamDefault(Attribute(node, ATTR_DEFAULT));
    item->SetParamValue(item->ParamDefault());
    item->SetParamHint(Attribute(node, ATTR_HINT));
    item->SetParamReadOnly(IntegerOr0(Attribute(node, ATTR_READ_ONLY)));
  });
}

TModelList::TModelList(const VARIANT& Source) : TBaseList(ItemClassOf<TModelItem>(), Source) {}

TModelItem* TModelList::Items(int32_t Index) const { return static_cast<TModelItem*>(TBaseList::Items(Index)); }

TModelItem* TModelList::Add() { return static_cast<TModelItem*>(TCollection::Add()); }

TModelItem* TModelList::FindModel(const TGlobalId& Id) {
  for (int32_t i = Count() - 1; i >= 0; --i) {
    TModelItem* item = Items(i);
    if (SameGlobalId(item->ModelId(), Id) && (item->State() != STATE_DELETED || IncludeDeleted())) {
      item->SetOwnerList(this);
      return item;
    }
  }
  return nullptr;
}

void TModelList::Load() {
  WideString itemFilter, parentFilter;
  BuildFilter(itemFilter, parentFilter);
  OleVariant nodes = SelectNamedNodes(Source(), PATH_FILTERED_MODELS, itemFilter, parentFilter);
  // Without any filter, models outside the standard place count too.
  if (GetProperty(nodes, "length").lVal == 0 && itemFilter.empty() && parentFilter.empty())
    nodes = SelectNamedNodes(Source(), PATH_ANY_MODEL, WideString(), WideString());
  ForEachNode(nodes, [&](const OleVariant& node) {
    TModelItem* item = Add();
    item->SetNode(node);
    item->SetModelId(StrToGlobalId(Attribute(node, ATTR_ID)));
    item->SetIdentif(Attribute(node, ATTR_IDENTIF));
    item->SetLibrary(Attribute(node, ATTR_LIBRARY));
    item->SetName(Attribute(node, ATTR_NAME));
    item->SetClassIdentif(Attribute(GetProperty(node, "parentNode"), ATTR_IDENTIF));
    item->SetUseQuen(IntegerOr0(Attribute(node, ATTR_USE_QUEN)));
    item->SetVersion(IntegerOr0(Attribute(node, ATTR_VERSION)));
    // A stored element saying it was never stored and is deleted is not kept.
    if (!item->SetState(IntegerOr0(Attribute(node, ATTR_STATE)))) return;
    item->SetPluVer(Attribute(node, ATTR_PLU_VERSION));
    item->SetRelease(IntegerOr0(Attribute(node, ATTR_RELEASE)));
    item->SetModified(false);
    item->LoadParams();
    if (!FirstItem()) SetFirstItem(item);
  });
  ClearFilter();
}

std::unique_ptr<TModelList> CreateFilteredModelList(const VARIANT& Source, const WideString& Id,
                                                    const WideString& Identif, const WideString& Library,
                                                    const WideString& ClassIdentif, const WideString& Name,
                                                    const WideString& State) {
  auto list = std::make_unique<TModelList>(Source);
  list->SetFilter({ATTR_ID, ATTR_IDENTIF, ATTR_LIBRARY, ATTR_PARENT_IDENTIF, ATTR_NAME, ATTR_STATE},
                  {Id, Identif, Library, ClassIdentif, Name, State});
  list->Load();
  list->SetModified(false);
  list->ClearFilter();
  return list;
}

WideString LowerCaseWide(WideStringView Text) {
  WideString result(Text);
  for (OLECHAR& c : result) {
    if ((c >= u'A' && c <= u'Z') || (c >= 0x0410 && c <= 0x042F) || (c >= 0x00C0 && c <= 0x00DE && c != 0x00D7))
      c = static_cast<OLECHAR>(c + 0x20);
    else if (c >= 0x0400 && c <= 0x040F)
      c = static_cast<OLECHAR>(c + 0x50);
  }
  return result;
}
