#include "devices/model_list.h"

#include <atomic>

#include "base/errors.h"
#include "base/host_call_lock.h"
#include "config/late_bound.h"
#include "config/locale_formats.h"
#include "config/module_file.h"
#include "config/text_routines.h"
#include "config/vocabulary.h"
#include "config/xml_access.h"
#include "devices/config_source.h"
#include "devices/devices_list.h"

namespace {

std::atomic<TDriverInterfaceSource> gDriverInterfaceSource{nullptr};

const TModelRecord kParsecModel = {
    {0x4F739246, 0x8166, 0x4CE3, {0x89, 0x77, 0x8C, 0xA2, 0xE7, 0xD3, 0x6E, 0x62}},
    "Считыватель проксимити карт Parsec",
    1, 1, 1, 1,
    0,
    "",
    "Проксимити_Parsec",
    "Сканер",
    "Сканер штрихкодов / считыватель карт",
};

WideString NumberSignSuffix() { return WideFromUtf8(" №"); }

// The model's operations are host calls: they hold the host-call lock (base/host_call_lock.h),
// the getters of its fields through these two.
HRESULT PutText(BSTR* Result, const WideString& Text) {
  if (!Result) return E_POINTER;
  THostCallScope hostCall;
  *Result = SysAllocStringLen(Text.data(), static_cast<UINT>(Text.size()));
  return *Result || Text.empty() ? S_OK : E_OUTOFMEMORY;
}

HRESULT PutLong(LONG* Result, int32_t Value) {
  if (!Result) return E_POINTER;
  THostCallScope hostCall;
  *Result = Value;
  return S_OK;
}

// The attributes of one definition as a model document carries them.
std::vector<OleVariant> DefinitionAttributes(const TPropItem& Definition, OleVariant ReadOnly) {
  return {OleVariant(WideFromAnsi(Definition.Name)),
          OleVariant(WideFromAnsi(Definition.Caption)),
          OleVariant(WideFromAnsi(TypeDisplayName(Definition.TypeName))),
          std::move(ReadOnly),
          OleVariant(WideFromAnsi(Definition.Default)),
          OleVariant(WideFromAnsi(ConvertLineBreaks(Definition.Description, true)))};
}

const std::vector<int32_t> kDefinitionAttributeIndices = {ATTR_IDENTIF, ATTR_NAME,    ATTR_TYPE,
                                                          ATTR_READ_ONLY, ATTR_DEFAULT, ATTR_HINT};

// A derived model as a configuration describes it, read completely before any is registered.
struct TDerivedModel {
  GUID ClassId{};
  WideString DisplayName;
  WideString ModelKey;
  int32_t UsesHost = 0;
  std::vector<TPropFields> Definitions;
};

TDerivedModel ReadDerivedModel(const VARIANT& Element) {
  TDerivedModel model;
  model.ClassId = StrToGlobalId(GetNamedAttribute(Element, ATTR_ID, OLESTR("")));
  model.DisplayName = GetNamedAttribute(Element, ATTR_NAME, OLESTR(""));
  // A model without a class identifier would be found for any identifier (as the
  // unregistered base model is), and the next derived model would merge into it.
  if (SameGlobalId(model.ClassId, GUID_NULL))
    RaiseText(FormatText(AnsiFromUtf8("Модель оборудования [%s] не имеет кода: атрибут \"%s\" отсутствует или "
                                      "равен нулевому идентификатору. Модели конфигурации не загружены."),
                         {AnsiFromWide(model.DisplayName), AnsiFromWide(AttrName(ATTR_ID))}));
  model.ModelKey = GetNamedAttribute(Element, ATTR_IDENTIF, OLESTR(""));
  model.UsesHost = TextToIntDef(AnsiFromWide(GetNamedAttribute(Element, ATTR_USE_QUEN, OLESTR(""))), 0);
  for (const OleVariant& node : NodeListItems(SelectNamedNodes(Element, PATH_OWN_PARAMS, OLESTR(""), OLESTR("")))) {
    TPropFields definition;
    definition.Name = AnsiFromWide(GetNamedAttribute(node, ATTR_IDENTIF, OLESTR("")));
    if (definition.Name.empty()) continue;  // a definition without a name defines nothing
    definition.Caption = AnsiFromWide(GetNamedAttribute(node, ATTR_NAME, OLESTR("")));
    definition.TypeName = AnsiFromWide(GetNamedAttribute(node, ATTR_TYPE, OLESTR("")));
    definition.ReadOnly = GetNamedAttribute(node, ATTR_READ_ONLY, OLESTR("")) == OLESTR("1") ? 1 : 0;
    definition.Default = AnsiFromWide(GetNamedAttribute(node, ATTR_DEFAULT, OLESTR("")));
    definition.Description =
        AnsiFromWide(GetNamedAttribute(node, ATTR_HINT, OLESTR(""))).substr(0, kMaxDescriptionLength);
    definition.Value = definition.Default;
    CheckPropertyValue(definition, definition.Default);  // every new device starts from it
    model.Definitions.push_back(std::move(definition));
  }
  return model;
}

}  // namespace

void SetDriverInterfaceSource(TDriverInterfaceSource Source) { gDriverInterfaceSource.store(Source); }

WideString PluginModuleFileName() {
  const std::string path = ModuleFileName(false);
  const size_t slash = path.find_last_of("\\/");
  return WideFromAnsi(slash == std::string::npos ? path : path.substr(slash + 1));
}

const TModelRecord& ParsecModelRecord() { return kParsecModel; }

// --- TModelPluItem ---------------------------------------------------------------------------

TModelPluItem::TModelPluItem(TCollection* Collection)
    : TImplementsInterfaces(Collection), FDefinitions(std::make_unique<TPropList>()) {}

TModelPluItem::~TModelPluItem() = default;

void* TModelPluItem::GetInterface(REFIID riid) {
  if (IsEqualIID(riid, IID_IModelPluItem) || IsEqualIID(riid, IID_IModelPluItem2))
    return static_cast<IModelPluItem*>(this);
  return TImplementsInterfaces::GetInterface(riid);
}

TDevicesList& TModelPluItem::OwnerDevices() const {
  auto* list = dynamic_cast<TModelPluList*>(Collection());
  if (!list || !list->Owner()) RaiseText(AnsiFromUtf8("Модель не принадлежит списку устройств."));
  return *list->Owner();
}

WideString TModelPluItem::DefinitionsXml() const {
  OleVariant document = CreateXmlDocument();
  const WideString text = OLESTR("<") + NodeName(NODE_PARAM_LIST) + OLESTR("/>");
  CallMethod(document, "loadXML", {OleVariant(text)});
  const OleVariant root = GetProperty(document, "documentElement");
  for (int32_t i = 0; i < FDefinitions->Count(); ++i) {
    const TPropItem& definition = *FDefinitions->Items(i);
    OleVariant element = CreateNamedElement(document, NODE_PARAM_ITEM);
    SetNamedAttributes(element, kDefinitionAttributeIndices,
                       DefinitionAttributes(definition, OleVariant(static_cast<int32_t>(definition.ReadOnly))));
    CallMethod(root, "appendChild", {element});
  }
  return XmlText(document);
}

OleVariant TModelPluItem::DefinitionsDocument() const {
  OleVariant document = NewXmlDocument(NodeName(NODE_MODEL), XmlHeaderText());
  const OleVariant root = GetProperty(document, "documentElement");
  OleVariant parameters = CreateNamedElement(document, NODE_PARAM_LIST);
  CallMethod(root, "appendChild", {parameters});
  for (int32_t i = 0; i < FDefinitions->Count(); ++i) {
    const TPropItem& definition = *FDefinitions->Items(i);
    OleVariant element = CreateNamedElement(document, NODE_PARAM_ITEM);
    SetNamedAttributes(element, kDefinitionAttributeIndices,
                       DefinitionAttributes(definition, OleVariant(definition.ReadOnly != 0)));
    CallMethod(parameters, "appendChild", {element});
  }
  return document;
}

HRESULT STDMETHODCALLTYPE TModelPluItem::GetClassId(GUID* Result) {
  if (!Result) return E_POINTER;
  THostCallScope hostCall;
  *Result = ClassId;
  return S_OK;
}
HRESULT STDMETHODCALLTYPE TModelPluItem::GetModelKey(BSTR* Result) { return PutText(Result, ModelKey); }
HRESULT STDMETHODCALLTYPE TModelPluItem::GetDisplayName(BSTR* Result) { return PutText(Result, DisplayName); }
HRESULT STDMETHODCALLTYPE TModelPluItem::GetEquipmentClass(BSTR* Result) { return PutText(Result, EquipmentClass); }
HRESULT STDMETHODCALLTYPE TModelPluItem::GetClassDescription(BSTR* Result) {
  return PutText(Result, ClassDescription);
}
HRESULT STDMETHODCALLTYPE TModelPluItem::GetFlag1(LONG* Result) { return PutLong(Result, Flag1); }
HRESULT STDMETHODCALLTYPE TModelPluItem::GetFlag2(LONG* Result) { return PutLong(Result, Flag2); }
HRESULT STDMETHODCALLTYPE TModelPluItem::GetFlag3(LONG* Result) { return PutLong(Result, Flag3); }
HRESULT STDMETHODCALLTYPE TModelPluItem::GetFlag4(LONG* Result) { return PutLong(Result, Flag4); }
HRESULT STDMETHODCALLTYPE TModelPluItem::GetUsesHost(LONG* Result) { return PutLong(Result, UsesHost); }

HRESULT STDMETHODCALLTYPE TModelPluItem::GetDefinitionsXml(BSTR* Result) {
  if (!Result) return E_POINTER;
  THostCallScope hostCall;
  *Result = nullptr;
  try {
    return PutText(Result, DefinitionsXml());
  } catch (...) {
    return SafeCallException();
  }
}

HRESULT STDMETHODCALLTYPE TModelPluItem::Reserved12(LONG* Result) { return PutLong(Result, -1); }

HRESULT STDMETHODCALLTYPE TModelPluItem::Reserved13(void*, IUnknown** Result) {
  if (!Result) return E_POINTER;
  *Result = nullptr;
  return S_OK;
}

HRESULT STDMETHODCALLTYPE TModelPluItem::Reserved14() { return S_OK; }
HRESULT STDMETHODCALLTYPE TModelPluItem::Reserved15() { return S_OK; }

HRESULT STDMETHODCALLTYPE TModelPluItem::GetDriver(IUnknown** Result) {
  if (!Result) return E_POINTER;
  THostCallScope hostCall;
  *Result = nullptr;
  // The driver object installs its source when it is built (SetDriverInterfaceSource); the
  // source asks the plug-in control object for the driver's interface.
  const TDriverInterfaceSource source = gDriverInterfaceSource.load();
  return source ? source(Result) : S_OK;
}

HRESULT STDMETHODCALLTYPE TModelPluItem::GetDefinitionsDocument(VARIANT* Result) {
  if (!Result) return E_POINTER;
  THostCallScope hostCall;
  try {
    OleVariant document = DefinitionsDocument();
    VariantClear(Result);
    *Result = document.Detach();
    return S_OK;
  } catch (...) {
    return SafeCallException();
  }
}

namespace {

template <class F>
HRESULT HandOutDevice(const VARIANT* Source, IDeviceItem** Result, F&& Operation) {
  if (!Result) return E_POINTER;
  *Result = nullptr;
  if (!Source) return E_POINTER;
  ComPtr<IDeviceItem> device = Operation(*Source);
  *Result = device.Detach();
  return S_OK;
}

}  // namespace

HRESULT STDMETHODCALLTYPE TModelPluItem::ObtainDevice(const VARIANT* Source, IDeviceItem** Result) {
  try {
    THostCallScope hostCall;
    return HandOutDevice(Source, Result, [this](const VARIANT& source) { return OwnerDevices().ObtainDevice(source); });
  } catch (...) {
    return SafeCallException();
  }
}

HRESULT STDMETHODCALLTYPE TModelPluItem::FindDevice(const VARIANT* Source, IDeviceItem** Result) {
  try {
    THostCallScope hostCall;
    return HandOutDevice(Source, Result,
                         [this](const VARIANT& source) { return OwnerDevices().FindDeviceByXml(source); });
  } catch (...) {
    return SafeCallException();
  }
}

HRESULT STDMETHODCALLTYPE TModelPluItem::InsertDevice(const VARIANT* Source, IDeviceItem** Result) {
  try {
    THostCallScope hostCall;
    return HandOutDevice(Source, Result, [this](const VARIANT& source) { return OwnerDevices().InsertDevice(source); });
  } catch (...) {
    return SafeCallException();
  }
}

HRESULT STDMETHODCALLTYPE TModelPluItem::DetachDevice(GUID DeviceId, LONG* Result) {
  if (!Result) return E_POINTER;
  THostCallScope hostCall;
  try {
    *Result = OwnerDevices().DetachById(DeviceId);
    return S_OK;
  } catch (...) {
    return SafeCallException();
  }
}

HRESULT STDMETHODCALLTYPE TModelPluItem::SetConfigText(const VARIANT* Source, LONG* Result) {
  if (!Result) return E_POINTER;
  THostCallScope hostCall;
  *Result = 0;
  try {
    if (!Source) return S_OK;
    if (IsNodeSource(*Source))
      OwnerDevices().SetConfigText(AnsiFromWide(XmlText(ReferencedSource(*Source))));
    else if (IsTextSource(*Source))
      OwnerDevices().SetConfigText(AnsiFromWide(SourceText(*Source)));
    return S_OK;
  } catch (...) {
    return SafeCallException();
  }
}

// --- TModelPluList ---------------------------------------------------------------------------

TModelPluList::TModelPluList(TCollectionItemClass ItemClass, TDevicesList* Owner)
    : TCollection(ItemClass), FOwner(Owner) {
  Add();
  SetCurrent(0);
}

void TModelPluList::SetCurrent(int32_t Index) {
  if (Index < 0 || Index >= Count()) RaiseText(AnsiFromUtf8("Недопустимый индекс модели"));
  FCurrentIndex = Index;
  FCurrent = Items(Index);
}

void TModelPluList::Notify(TCollectionItem* Item, TCollectionNotification Action) {
  TCollection::Notify(Item, Action);
  if (Action != TCollectionNotification::cnAdded && Item == FCurrent) {
    FCurrent = nullptr;
    FCurrentIndex = -1;
  }
}

TPropList& TModelPluList::CurrentDefinitions() const {
  if (!FCurrent) RaiseText(AnsiFromUtf8("Недопустимый индекс модели"));
  return FCurrent->Definitions();
}

TModelPluItem* TModelPluList::FindModel(const GUID& ClassId) const {
  for (int32_t i = 0; i < Count(); ++i) {
    TModelPluItem* model = Items(i);
    if (SameGlobalId(model->ClassId, ClassId) || SameGlobalId(model->ClassId, GUID_NULL)) return model;
  }
  return nullptr;
}

void TModelPluList::RegisterModel(const GUID& ClassId, const WideString& DisplayName, int32_t Flag1,
                                  int32_t Flag2, int32_t Flag3, int32_t Flag4, int32_t UsesHost,
                                  const WideString& Prefix, const WideString& ModelKey,
                                  const WideString& EquipmentClass, const WideString& ClassDescription) {
  TModelPluItem* model = FindModel(ClassId);
  if (!model) model = Add();
  model->ClassId = ClassId;
  model->DisplayName = DisplayName;
  model->Flag1 = Flag1;
  model->Flag2 = Flag2;
  model->Flag3 = Flag3;
  model->Flag4 = Flag4;
  model->UsesHost = UsesHost;
  model->NamePrefix = Prefix.empty() ? DisplayName + NumberSignSuffix() : Prefix;
  model->ModelKey = ModelKey;
  model->EquipmentClass = EquipmentClass;
  model->ClassDescription = ClassDescription;
  SetCurrent(model->Index());
}

void TModelPluList::RegisterModel(const TModelRecord& Record) {
  RegisterModel(Record.ClassId, WideFromUtf8(Record.DisplayName), Record.Flag1, Record.Flag2, Record.Flag3,
                Record.Flag4, Record.UsesHost, WideFromUtf8(Record.NamePrefix), WideFromUtf8(Record.ModelKey),
                WideFromUtf8(Record.EquipmentClass), WideFromUtf8(Record.ClassDescription));
}

bool TModelPluList::RegisterDerivedModel(const GUID& ClassId, const WideString& DisplayName, int32_t UsesHost,
                                         const WideString& Prefix, const WideString& ModelKey) {
  if (Count() == 0) RaiseText(AnsiFromUtf8("Не зарегистрирована базовая модель"));
  TModelPluItem* model = FindModel(ClassId);
  if (!model) model = Add();
  const bool derived = model->Index() != 0;
  if (derived) {
    const TModelPluItem* base = Items(0);
    model->ClassId = ClassId;
    model->DisplayName = DisplayName;
    model->UsesHost = UsesHost;
    model->NamePrefix = Prefix;
    model->ModelKey = ModelKey;
    model->Flag1 = base->Flag1;
    model->Flag2 = base->Flag2;
    model->Flag3 = base->Flag3;
    model->Flag4 = base->Flag4;
    model->EquipmentClass = base->EquipmentClass;
    model->ClassDescription = base->ClassDescription;
  }
  SetCurrent(model->Index());
  return derived;
}

void TModelPluList::LoadDefinitions(const VARIANT& Source) {
  OleVariant document;
  if (IsTextSource(Source)) {
    const WideString text = SourceText(Source);
    if (text.empty()) return;
    document = ParseConfigurationText(text, false).Document;
  } else if (IsNodeSource(Source)) {
    document = OleVariant(ReferencedSource(Source));
  } else {
    return;  // nothing to read models from
  }
  const AnsiString filter = FormatText("[@%s=\"%s\"]", {AnsiFromWide(AttrName(ATTR_LIBRARY)),
                                                          AnsiFromWide(PluginModuleFileName())});
  std::vector<TDerivedModel> models;
  for (const OleVariant& element :
       NodeListItems(SelectNamedNodes(document, PATH_ANY_MODEL, WideFromAnsi(filter), OLESTR(""))))
    models.push_back(ReadDerivedModel(element));
  for (const TDerivedModel& model : models) {
    if (!RegisterDerivedModel(model.ClassId, model.DisplayName, model.UsesHost, model.ModelKey + NumberSignSuffix(),
                              model.ModelKey))
      continue;
    TPropList& definitions = CurrentDefinitions();
    for (const TPropFields& fields : model.Definitions) {
      TPropItem* definition = definitions.FindProp(fields.Name);
      if (!definition) definition = definitions.Add();
      const AnsiString alias = definition->Alias;  // a definition keeps its second name
      static_cast<TPropFields&>(*definition) = fields;
      definition->Alias = alias;
    }
  }
}
