#pragma once
// The equipment models that the plug-in serves. Every devices list owns one model list; each
// model carries its class identifier, names, flags handed to the host as they are, and the
// parameter definitions that new devices of that model start from. The plug-in registers its
// own model in code; models derived from it can be read from a configuration document. The
// host reaches a model through IModelPluItem, which also creates and finds devices of the list.

#include <cstdint>
#include <memory>

#include "base/collection_bases.h"
#include "base/global_id.h"
#include "devices/device_item.h"
#include "devices/prop_list.h"
#include "platform/ole_ptr.h"
#include "platform/text_codec.h"

// The model interface is registered under two identifiers with one method table.
// {70231714-9996-413C-BFBB-F504227138B8}
inline constexpr IID IID_IModelPluItem = {
    0x70231714, 0x9996, 0x413C, {0xBF, 0xBB, 0xF5, 0x04, 0x22, 0x71, 0x38, 0xB8}};
// {D8EB2570-D5AB-4357-86E6-6064DBDD7523}
inline constexpr IID IID_IModelPluItem2 = {
    0xD8EB2570, 0xD5AB, 0x4357, {0x86, 0xE6, 0x60, 0x64, 0xDB, 0xDD, 0x75, 0x23}};

// Every operation returns a status (S_OK, or a failure with the thread's error information
// set) and passes its result through the out argument. XML sources are passed by reference,
// as the host passes variants.
struct IModelPluItem : public IUnknown {
  virtual HRESULT STDMETHODCALLTYPE GetClassId(GUID* Result) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetModelKey(BSTR* Result) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetDisplayName(BSTR* Result) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetEquipmentClass(BSTR* Result) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetClassDescription(BSTR* Result) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetFlag1(LONG* Result) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetFlag2(LONG* Result) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetFlag3(LONG* Result) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetFlag4(LONG* Result) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetUsesHost(LONG* Result) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetDefinitionsXml(BSTR* Result) = 0;
  virtual HRESULT STDMETHODCALLTYPE Reserved12(LONG* Result) = 0;                      // -1
  virtual HRESULT STDMETHODCALLTYPE Reserved13(void* Argument, IUnknown** Result) = 0;  // empty
  virtual HRESULT STDMETHODCALLTYPE Reserved14() = 0;
  virtual HRESULT STDMETHODCALLTYPE Reserved15() = 0;
  virtual HRESULT STDMETHODCALLTYPE GetDriver(IUnknown** Result) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetDefinitionsDocument(VARIANT* Result) = 0;
  virtual HRESULT STDMETHODCALLTYPE ObtainDevice(const VARIANT* Source, IDeviceItem** Result) = 0;
  virtual HRESULT STDMETHODCALLTYPE DetachDevice(GUID DeviceId, LONG* Result) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetConfigText(const VARIANT* Source, LONG* Result) = 0;
  virtual HRESULT STDMETHODCALLTYPE FindDevice(const VARIANT* Source, IDeviceItem** Result) = 0;
  virtual HRESULT STDMETHODCALLTYPE InsertDevice(const VARIANT* Source, IDeviceItem** Result) = 0;
};

// Where GetDriver finds the driver object's interface. The driver object installs its source
// when it is constructed (and clears it when it goes); until then GetDriver answers an empty
// reference.
using TDriverInterfaceSource = HRESULT (*)(IUnknown** Driver);
void SetDriverInterfaceSource(TDriverInterfaceSource Source);

class TDevicesList;

// The file name (without folder) of the module this code is linked into: the plug-in library
// whose models a configuration names in "Библиотека".
WideString PluginModuleFileName();

// A record of the built-in catalogue of models (texts in UTF-8).
struct TModelRecord {
  GUID ClassId;
  const char* DisplayName;
  int32_t Flag1, Flag2, Flag3, Flag4;
  int32_t UsesHost;
  const char* NamePrefix;  // empty: the display name followed by " №"
  const char* ModelKey;
  const char* EquipmentClass;
  const char* ClassDescription;
};

// The Parsec reader's record of the built-in catalogue.
const TModelRecord& ParsecModelRecord();

class TModelPluItem : public TImplementsInterfaces<TCollectionItemInterface, IModelPluItem> {
public:
  explicit TModelPluItem(TCollection* Collection);

  GUID ClassId{};
  WideString DisplayName;
  int32_t Flag1 = 0, Flag2 = 0, Flag3 = 0, Flag4 = 0;
  int32_t UsesHost = 0;
  WideString NamePrefix;
  WideString ModelKey;
  WideString EquipmentClass;
  WideString ClassDescription;
  TPropList& Definitions() { return *FDefinitions; }
  const TPropList& Definitions() const { return *FDefinitions; }

  // The definitions as the text of a "Параметры" document, and as a "Модель" document.
  WideString DefinitionsXml() const;
  OleVariant DefinitionsDocument() const;

  // IModelPluItem
  HRESULT STDMETHODCALLTYPE GetClassId(GUID* Result) override;
  HRESULT STDMETHODCALLTYPE GetModelKey(BSTR* Result) override;
  HRESULT STDMETHODCALLTYPE GetDisplayName(BSTR* Result) override;
  HRESULT STDMETHODCALLTYPE GetEquipmentClass(BSTR* Result) override;
  HRESULT STDMETHODCALLTYPE GetClassDescription(BSTR* Result) override;
  HRESULT STDMETHODCALLTYPE GetFlag1(LONG* Result) override;
  HRESULT STDMETHODCALLTYPE GetFlag2(LONG* Result) override;
  HRESULT STDMETHODCALLTYPE GetFlag3(LONG* Result) override;
  HRESULT STDMETHODCALLTYPE GetFlag4(LONG* Result) override;
  HRESULT STDMETHODCALLTYPE GetUsesHost(LONG* Result) override;
  HRESULT STDMETHODCALLTYPE GetDefinitionsXml(BSTR* Result) override;
  HRESULT STDMETHODCALLTYPE Reserved12(LONG* Result) override;
  HRESULT STDMETHODCALLTYPE Reserved13(void* Argument, IUnknown** Result) override;
  HRESULT STDMETHODCALLTYPE Reserved14() override;
  HRESULT STDMETHODCALLTYPE Reserved15() override;
  HRESULT STDMETHODCALLTYPE GetDriver(IUnknown** Result) override;
  HRESULT STDMETHODCALLTYPE GetDefinitionsDocument(VARIANT* Result) override;
  HRESULT STDMETHODCALLTYPE ObtainDevice(const VARIANT* Source, IDeviceItem** Result) override;
  HRESULT STDMETHODCALLTYPE DetachDevice(GUID DeviceId, LONG* Result) override;
  HRESULT STDMETHODCALLTYPE SetConfigText(const VARIANT* Source, LONG* Result) override;
  HRESULT STDMETHODCALLTYPE FindDevice(const VARIANT* Source, IDeviceItem** Result) override;
  HRESULT STDMETHODCALLTYPE InsertDevice(const VARIANT* Source, IDeviceItem** Result) override;

protected:
  ~TModelPluItem() override;
  void* GetInterface(REFIID riid) override;

private:
  // The devices list of the model list the item belongs to; raises when it has none.
  TDevicesList& OwnerDevices() const;

  std::unique_ptr<TPropList> FDefinitions;
};

class TModelPluList : public TCollection {
public:
  // Holds one empty base model (all-zero class identifier), which is current.
  TModelPluList(TCollectionItemClass ItemClass, TDevicesList* Owner);

  TModelPluItem* Items(int32_t Index) const { return static_cast<TModelPluItem*>(TCollection::Items(Index)); }
  TModelPluItem* Add() { return static_cast<TModelPluItem*>(TCollection::Add()); }

  // Raises error 20000 "Недопустимый индекс модели" outside 0..Count-1.
  void SetCurrent(int32_t Index);
  int32_t CurrentIndex() const { return FCurrentIndex; }
  TModelPluItem* Current() const { return FCurrent; }
  TPropList& CurrentDefinitions() const;
  TDevicesList* Owner() const { return FOwner; }

  // The first model of that class identifier, or one whose identifier is all zero (an
  // unregistered base model matches any); null when none matches.
  TModelPluItem* FindModel(const GUID& ClassId) const;
  // Sets every field of the found (or a new) model and makes it current. An empty prefix
  // becomes the display name followed by " №".
  void RegisterModel(const GUID& ClassId, const WideString& DisplayName, int32_t Flag1, int32_t Flag2,
                     int32_t Flag3, int32_t Flag4, int32_t UsesHost, const WideString& Prefix,
                     const WideString& ModelKey, const WideString& EquipmentClass,
                     const WideString& ClassDescription);
  void RegisterModel(const TModelRecord& Record);
  // A model derived from the base model (index 0): true when one was set up; false (nothing
  // changed) when the registration lands on the base model. Either way that model becomes
  // current. Raises error 20000 "Не зарегистрирована базовая модель" on an empty list.
  bool RegisterDerivedModel(const GUID& ClassId, const WideString& DisplayName, int32_t UsesHost,
                            const WideString& Prefix, const WideString& ModelKey);
  // Registers the derived models of a configuration whose "Библиотека" names this module's
  // file, with their parameter definitions. An empty source does nothing. A model without a
  // "Код" (or with the empty identifier) raises error 20000, a default that is not a value of
  // its definition's type error 20029; either way no model of the configuration is taken.
  // Definitions without a name are left out.
  void LoadDefinitions(const VARIANT& Source);

protected:
  // The current model leaving the list leaves no model current.
  void Notify(TCollectionItem* Item, TCollectionNotification Action) override;

private:
  int32_t FCurrentIndex = -1;
  TModelPluItem* FCurrent = nullptr;
  TDevicesList* FOwner;
};
