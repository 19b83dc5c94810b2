#pragma once
// Named, typed parameter values: the parameters of a device and the parameter definitions of
// a model. An item has a name and a second (English) name that lookups match alike, a
// caption, a type, a read-only flag, a default, a description and its current value, all as
// texts in the host code page.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>
#include <utility>
#include <vector>

#include "base/collection.h"
#include "platform/ole_ptr.h"
#include "platform/text_codec.h"

// A length-prefixed text of at most N characters in the host code page, as the drivers'
// static tables hold their texts.
template <size_t N>
struct TShortString {
  uint8_t Length;
  char Chars[N];

  AnsiString Str() const { return AnsiString(Chars, Length <= N ? Length : N); }
  // Longer texts are cut to N characters.
  void Assign(std::string_view Text) {
    const size_t length = Text.size() < N ? Text.size() : N;
    Length = static_cast<uint8_t>(length);
    for (size_t i = 0; i < N; ++i) Chars[i] = i < length ? Text[i] : '\0';
  }
};

// One entry of a driver's property table (the device parameters it defines): Russian name,
// English name, caption, type name, read-only flag, default, description and the driver's
// property handler. 832 bytes on 32-bit Windows; 64-bit builds keep the fields in the same
// order with natural alignment.
struct TPropertyDefinition {
  TShortString<100> Name;
  TShortString<100> EnglishName;
  TShortString<100> Caption;
  TShortString<10> TypeName;
  uint8_t ReadOnly;  // Boolean
  TShortString<255> Default;
  TShortString<255> Description;
  // The driver's property handler; its type belongs to the dispatcher, which casts it back.
  const void* Handler;
};

static_assert(offsetof(TPropertyDefinition, EnglishName) == 101);
static_assert(offsetof(TPropertyDefinition, Caption) == 202);
static_assert(offsetof(TPropertyDefinition, TypeName) == 303);
static_assert(offsetof(TPropertyDefinition, ReadOnly) == 314);
static_assert(offsetof(TPropertyDefinition, Default) == 315);
static_assert(offsetof(TPropertyDefinition, Description) == 571);
static_assert(sizeof(void*) != 4 || offsetof(TPropertyDefinition, Handler) == 828);
static_assert(sizeof(void*) != 4 || sizeof(TPropertyDefinition) == 832);
static_assert(sizeof(void*) != 8 || sizeof(TPropertyDefinition) == 840);

// A definition record from texts written in UTF-8 (converted to the host code page and cut to
// the fields' lengths).
TPropertyDefinition MakePropertyDefinition(std::string_view NameUtf8, std::string_view EnglishNameUtf8,
                                           std::string_view CaptionUtf8, std::string_view TypeNameUtf8,
                                           bool ReadOnly, std::string_view DefaultUtf8,
                                           std::string_view DescriptionUtf8, const void* Handler = nullptr);

// The fields of a property, as a plain value (a copy taken under the owner's lock).
struct TPropFields {
  AnsiString Name;         // identifier (the Russian name of a definition)
  AnsiString Alias;        // second identifier (the English name of a definition)
  AnsiString Caption;      // display name
  AnsiString TypeName;     // "Integer", "Double", "Число", "Boolean", "String", "Строка" or empty
  uint8_t ReadOnly = 0;    // 1 = read-only
  AnsiString Default;      // default value text
  AnsiString Description;  // hint text, at most 255 characters
  AnsiString Value;        // current value text
};

inline constexpr size_t kMaxDescriptionLength = 255;

class TPropItem : public TCollectionItem, public TPropFields {
public:
  explicit TPropItem(TCollection* Collection) : TCollectionItem(Collection) {}

  // Copies the identifiers, caption, type, read-only flag, default and description, and sets
  // Value to the source's Default (not to its value).
  void Assign(const TCollectionItem& Source) override;
  // Cut to 255 characters.
  void SetDescription(const AnsiString& Text);
};

// The display name of a type in property tables: "Integer" and "Boolean" show as "Число",
// "String" as "Строка", every other type as an empty text (case-insensitive).
AnsiString TypeDisplayName(const AnsiString& TypeName);

// True for the types whose values are numbers ("Integer", "Double", "Число").
bool IsNumericType(const AnsiString& TypeName);

// The value of a text by its type: "Integer" a 32-bit integer, "Double" or "Число" a double
// (a point or a comma both mark the decimals), any other type the text with its escaped line
// breaks turned back into CR LF. A text that is not a number of its type raises EConvertError.
OleVariant TypedValue(const AnsiString& TypeName, const AnsiString& Text);

// True when Text is a value of the type: "Integer" a 32-bit integer, "Double" or "Число" a
// number in either decimal notation. The empty text counts as no value and passes; other types
// accept every text.
bool IsValueOfType(const AnsiString& TypeName, const AnsiString& Text);

// Raises error 20029 with the property's caption (its name when it has none) unless Text is a
// value of the property's own type.
void CheckPropertyValue(const TPropFields& Property, const AnsiString& Text);

using TNameValuePairs = std::vector<std::pair<AnsiString, AnsiString>>;

class TPropList : public TCollection {
public:
  TPropList();

  TPropItem* Items(int32_t Index) const { return static_cast<TPropItem*>(TCollection::Items(Index)); }
  TPropItem* Add() { return static_cast<TPropItem*>(TCollection::Add()); }

  // The first item whose Name or Alias equals Name (case-insensitive); null when there is none.
  // The empty name names no item (an empty Alias matches nothing either).
  TPropItem* FindProp(const AnsiString& Name) const;
  // Value of that item; empty when there is none.
  AnsiString GetValueText(const AnsiString& Name) const;
  // Sets Value; a missing item is added first with only its Name set. A value without a name
  // is dropped.
  void SetValueText(const AnsiString& Name, const AnsiString& Text);
  // SetValueText for every pair, in order.
  void SetPairs(const TNameValuePairs& Pairs);
  // Takes a definition record: the item of its Russian name (or a new one) gets every field
  // from the record, and Value := the default.
  void AddDefinition(const TPropertyDefinition& Record);

  // Copies of every item, in order.
  std::vector<TPropFields> Snapshot() const;
  // A list of exact copies (values included, unlike Assign, which starts from the defaults).
  std::unique_ptr<TPropList> Clone() const;
};
