#include "devices/prop_list.h"

#include "base/errors.h"
#include "config/locale_formats.h"
#include "config/text_routines.h"
#include "platform/text_compare.h"

namespace {

const AnsiString& TypeInteger() {
  static const AnsiString text = "Integer";
  return text;
}
const AnsiString& TypeDouble() {
  static const AnsiString text = "Double";
  return text;
}
const AnsiString& TypeNumber() {
  static const AnsiString text = AnsiFromUtf8("Число");
  return text;
}
const AnsiString& TypeString() {
  static const AnsiString text = AnsiFromUtf8("Строка");
  return text;
}

bool IsFloatType(const AnsiString& TypeName) {
  return platform::SameText(TypeName, TypeDouble()) || platform::SameText(TypeName, TypeNumber());
}

// Both a point and a comma mark the decimals: each becomes the decimal separator in force.
AnsiString WithDecimalSeparator(AnsiString Text) {
  const char separator = FormatSettings().DecimalSeparator;
  for (char& c : Text)
    if (c == '.' || c == ',') c = separator;
  return Text;
}

}  // namespace

TPropertyDefinition MakePropertyDefinition(std::string_view NameUtf8, std::string_view EnglishNameUtf8,
                                           std::string_view CaptionUtf8, std::string_view TypeNameUtf8,
                                           bool ReadOnly, std::string_view DefaultUtf8,
                                           std::string_view DescriptionUtf8, const void* Handler) {
  TPropertyDefinition record{};
  record.Name.Assign(AnsiFromUtf8(NameUtf8));
  record.EnglishName.Assign(AnsiFromUtf8(EnglishNameUtf8));
  record.Caption.Assign(AnsiFromUtf8(CaptionUtf8));
  record.TypeName.Assign(AnsiFromUtf8(TypeNameUtf8));
  record.ReadOnly = ReadOnly ? 1 : 0;
  record.Default.Assign(AnsiFromUtf8(DefaultUtf8));
  record.Description.Assign(AnsiFromUtf8(DescriptionUtf8));
  record.Handler = Handler;
  return record;
}

void TPropItem::Assign(const TCollectionItem& Source) {
  const auto* source = dynamic_cast<const TPropItem*>(&Source);
  if (!source) return TCollectionItem::Assign(Source);
  Name = source->Name;
  Alias = source->Alias;
  Caption = source->Caption;
  TypeName = source->TypeName;
  ReadOnly = source->ReadOnly;
  Default = source->Default;
  Description = source->Description;
  Value = source->Default;
}

void TPropItem::SetDescription(const AnsiString& Text) { Description = Text.substr(0, kMaxDescriptionLength); }

AnsiString TypeDisplayName(const AnsiString& TypeName) {
  if (platform::SameText(TypeName, TypeInteger()) || platform::SameText(TypeName, "Boolean")) return TypeNumber();
  if (platform::SameText(TypeName, "String")) return TypeString();
  return AnsiString();
}

bool IsNumericType(const AnsiString& TypeName) {
  return platform::SameText(TypeName, TypeInteger()) || IsFloatType(TypeName);
}

OleVariant TypedValue(const AnsiString& TypeName, const AnsiString& Text) {
  // A numeric parameter without a value has no number to show: its cell holds the empty text.
  if (IsNumericType(TypeName) && Text.empty()) return OleVariant(WideString());
  if (platform::SameText(TypeName, TypeInteger())) return OleVariant(TextToInt(Text));
  if (IsFloatType(TypeName)) return OleVariant(TextToFloat(WithDecimalSeparator(Text)));
  return OleVariant(WideFromAnsi(ConvertLineBreaks(Text, false)));
}

bool IsValueOfType(const AnsiString& TypeName, const AnsiString& Text) {
  if (Text.empty()) return true;
  int32_t whole = 0;
  double number = 0;
  if (platform::SameText(TypeName, TypeInteger())) return TryTextToInt(Text, whole);
  if (IsFloatType(TypeName)) return TryTextToFloat(WithDecimalSeparator(Text), number);
  return true;
}

void CheckPropertyValue(const TPropFields& Property, const AnsiString& Text) {
  if (IsValueOfType(Property.TypeName, Text)) return;
  RaiseError(ERR_PROPERTY_TYPE, {Property.Caption.empty() ? Property.Name : Property.Caption});
}

TPropList::TPropList() : TCollection(ItemClassOf<TPropItem>()) {}

TPropItem* TPropList::FindProp(const AnsiString& Name) const {
  // Most definitions have no second name: an empty name would find the first of them.
  if (Name.empty()) return nullptr;
  for (int32_t i = 0; i < Count(); ++i) {
    TPropItem* item = Items(i);
    if (platform::SameText(item->Name, Name) || (!item->Alias.empty() && platform::SameText(item->Alias, Name)))
      return item;
  }
  return nullptr;
}

AnsiString TPropList::GetValueText(const AnsiString& Name) const {
  const TPropItem* item = FindProp(Name);
  return item ? item->Value : AnsiString();
}

void TPropList::SetValueText(const AnsiString& Name, const AnsiString& Text) {
  if (Name.empty()) return;
  TPropItem* item = FindProp(Name);
  if (!item) {
    item = Add();
    item->Name = Name;
  }
  item->Value = Text;
}

void TPropList::SetPairs(const TNameValuePairs& Pairs) {
  for (const auto& [name, value] : Pairs) SetValueText(name, value);
}

void TPropList::AddDefinition(const TPropertyDefinition& Record) {
  const AnsiString name = Record.Name.Str();
  TPropItem* item = FindProp(name);
  if (!item) item = Add();
  item->Name = name;
  item->Alias = Record.EnglishName.Str();
  item->Caption = Record.Caption.Str();
  item->TypeName = Record.TypeName.Str();
  item->ReadOnly = Record.ReadOnly ? 1 : 0;
  item->Default = Record.Default.Str();
  item->SetDescription(Record.Description.Str());
  item->Value = item->Default;
}

std::vector<TPropFields> TPropList::Snapshot() const {
  std::vector<TPropFields> fields;
  fields.reserve(static_cast<size_t>(Count()));
  for (int32_t i = 0; i < Count(); ++i) fields.push_back(static_cast<const TPropFields&>(*Items(i)));
  return fields;
}

std::unique_ptr<TPropList> TPropList::Clone() const {
  auto copy = std::make_unique<TPropList>();
  for (int32_t i = 0; i < Count(); ++i) static_cast<TPropFields&>(*copy->Add()) = static_cast<const TPropFields&>(*Items(i));
  return copy;
}
