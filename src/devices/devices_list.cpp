#include "devices/devices_list.h"

#include <cstring>
#include <map>
#include <set>

#include "base/errors.h"
#include "base/execution_mode.h"
#include "config/collection_model.h"
#include "config/late_bound.h"
#include "config/locale_formats.h"
#include "config/variant_types.h"
#include "config/vocabulary.h"
#include "config/xml_access.h"
#include "devices/config_source.h"
#include "devices/form_colors.h"
#include "devices/model_list.h"
#include "devices/scanner_definitions.h"
#include "host/wire/host_string.h"
#include "host/wire/variant_text.h"
#include "platform/structured_exception.h"
#include "platform/sync.h"
#include "platform/text_compare.h"

namespace {

// The root of an exported device list.
constexpr OLECHAR kDeviceListRoot[] = OLESTR("EquList");

constexpr int32_t kMaxUniqueNameNumber = 10000;

bool IsIntegerValue(const VARIANT& Value) {
  switch (ValueVarType(Value)) {
    case VT_I1: case VT_I2: case VT_I4: case VT_I8:
    case VT_UI1: case VT_UI2: case VT_UI4: case VT_UI8:
    case VT_INT: case VT_UINT:
      return true;
    default:
      return false;
  }
}

// A text key: an OLE string, or an 8-bit string of the host stored in a variant.
bool KeyText(const VARIANT& Key, AnsiString& Text, bool& SingleByte) {
  const VARIANT& key = ReferencedSource(Key);
  if ((key.vt & ~VT_BYREF) == VT_BSTR) {
    Text = AnsiFromWide(SourceText(key));
    SingleByte = false;
    return true;
  }
  if (key.vt == kVarTypeHostString) {
    Text = HostStringText(static_cast<const char*>(key.byref));
    SingleByte = true;
    return true;
  }
  return false;
}

// A GUID in registry form: 38 characters in braces that the system takes as an identifier.
bool IsRegistryGuidText(const AnsiString& Text) {
  if (Text.size() != 38 || Text.front() != '{' || Text.back() != '}') return false;
  return IsGlobalId(OleVariant(WideFromAnsi(Text)));
}

// Writes a result into an in-out argument (into the variant it refers to, if it refers to one).
void ReplaceSource(VARIANT& Source, OleVariant Value) {
  VARIANT* target = &Source;
  while (target->vt == (VT_BYREF | VT_VARIANT) && target->pvarVal) target = target->pvarVal;
  VariantClear(target);
  *target = Value.Detach();
}

struct TGlobalIdLess {
  bool operator()(const TGlobalId& A, const TGlobalId& B) const { return std::memcmp(&A, &B, sizeof A) < 0; }
};

// Switches a device off as it leaves the list; a failure to do so must not keep it in.
void SwitchOffLeaving(TDeviceItem& Device) {
  try {
    if (Device.GetActive() != 0) Device.SetActive(0);
  } catch (...) {
  }
}

int32_t ColorAttribute(const VARIANT& Node, int32_t AttrIndex) {
  return TextToIntDef(AnsiFromWide(GetNamedAttribute(Node, AttrIndex, OLESTR(""))), kDesignedColor);
}

}  // namespace

TDevicesList::TDevicesList(TCollectionItemClass ItemClass)
    : TRootCollection(ItemClass),
      FThreadId(platform::CurrentThreadId()),
      FModels(std::make_unique<TModelPluList>(ItemClassOf<TModelPluItem>(), this)) {
  const auto definitions = ScannerBaseDefinitions();
  AddDefinitions(definitions.data(), static_cast<int32_t>(definitions.size()));
}

TDevicesList::~TDevicesList() {
  // The event sink goes first, then the devices, each switched off as it leaves (the host
  // may still hold one, which must not keep the reader), then the models.
  SetEventSink(nullptr);
  ClearDevices();
  FCatalogue.reset();
  FModels.reset();
}

void TDevicesList::SetEventSink(IUnknown* Sink) {
  if (Sink) return SetLink(Sink);
  try {
    platform::CallGuarded([this] { FLink.Reset(); });
  } catch (...) {
    // Reset has emptied the field before releasing: the reference is gone either way.
  }
}

void TDevicesList::Notify(TCollectionItem* Item, TCollectionNotification Action) {
  TRootCollection::Notify(Item, Action);
  // Every way out of the list (deleting, detaching, clearing) extracts the device.
  if (Action != TCollectionNotification::cnExtracting) return;
  if (FCurrent > 0) {
    const int32_t number = Item->Index() + 1;
    if (FCurrent == number)
      FCurrent = 0;
    else if (FCurrent > number && FCurrent <= Count())
      --FCurrent;
  }
  if (auto* device = dynamic_cast<TDeviceItem*>(Item)) SwitchOffLeaving(*device);
}

TDeviceItem* TDevicesList::GetItem(int32_t Index) const { return static_cast<TDeviceItem*>(Items(Index)); }

void TDevicesList::SetCurrent(int32_t Number) { FCurrent = Number; }

AnsiString TDevicesList::GetErrorText(int32_t Code) { return AnsiFromUtf8("Ошибка. Код №") + IntToText(Code); }

void TDevicesList::AddDefinitions(const TPropertyDefinition* Table, int32_t Count) {
  for (int32_t i = 0; i < Count; ++i) ParamDefinitions().AddDefinition(Table[i]);
}

int32_t TDevicesList::SelectDevice(const VARIANT& Value) {
  if (IsIntegerValue(Value)) {
    const int32_t number = VariantToInt32(ReferencedSource(Value));
    if (number <= 0 || number > Count()) return DEVICE_NOT_ACTIVE;
    SetCurrent(number);
    GetItem(number - 1)->SetErrorCode(DEVICE_OK);
    return DEVICE_OK;
  }
  AnsiString name;
  bool singleByte = false;
  if (!KeyText(Value, name, singleByte)) return DEVICE_NOT_ACTIVE;
  for (int32_t i = 0; i < Count(); ++i) {
    if (platform::CompareText(GetItem(i)->DeviceName(), name, true) != 0) continue;
    SetCurrent(i + 1);
    GetItem(i)->SetErrorCode(DEVICE_OK);
    return DEVICE_OK;
  }
  return DEVICE_NOT_ACTIVE;
}

TDeviceItem* TDevicesList::CurrentDevice() const {
  return FCurrent > 0 && FCurrent <= Count() ? GetItem(FCurrent - 1) : nullptr;
}

TPropList& TDevicesList::ParamDefinitions() const { return FModels->CurrentDefinitions(); }

void TDevicesList::SetDefinitionValue(const AnsiString& Name, const AnsiString& Value, bool ReadOnly) {
  TPropItem* definition = ParamDefinitions().FindProp(Name);
  if (!definition) return;
  definition->Default = Value;
  definition->Value = Value;
  definition->ReadOnly = ReadOnly ? 1 : 0;
}

TDeviceItem* TDevicesList::FindById(const TGlobalId& Id) const {
  for (int32_t i = 0; i < Count(); ++i)
    if (SameGlobalId(GetItem(i)->DeviceId(), Id)) return GetItem(i);
  return nullptr;
}

TDeviceItem* TDevicesList::FindByName(const AnsiString& Name) const {
  const AnsiString wanted = platform::UpperCaseText(Name);
  for (int32_t i = 0; i < Count(); ++i)
    if (platform::CompareText(platform::UpperCaseText(GetItem(i)->DeviceName()), wanted, false) == 0) return GetItem(i);
  return nullptr;
}

AnsiString TDevicesList::CurrentDeviceName() const {
  const TDeviceItem* device = CurrentDevice();
  return device ? device->DeviceName() : AnsiString();
}

AnsiString TDevicesList::ModelNamePrefix() const {
  const TModelPluItem* model = FModels->Current();
  return model ? AnsiFromWide(model->NamePrefix) : AnsiString();
}

AnsiString TDevicesList::UniqueDeviceName(const AnsiString& Except) const {
  // Upper-cased once, so that each candidate is one lookup however many devices there are.
  std::set<AnsiString> taken;
  for (int32_t i = 0; i < Count(); ++i) {
    const AnsiString name = GetItem(i)->DeviceName();
    if (!platform::SameText(name, Except)) taken.insert(platform::UpperCaseText(name));
  }
  const AnsiString prefix = ModelNamePrefix();
  for (int32_t i = 1; i <= kMaxUniqueNameNumber; ++i) {
    const AnsiString candidate = prefix + IntToText(i);
    if (!taken.count(platform::UpperCaseText(candidate))) return candidate;
  }
  return AnsiString();
}

void TDevicesList::SwitchAllOff() {
  for (int32_t i = 0; i < Count(); ++i) GetItem(i)->SetActive(0);
}

void TDevicesList::ClearDevices() {
  Clear();
  OnEmpty();
}

void TDevicesList::DropThreadDevices() {
  const uint32_t caller = platform::CurrentThreadId();
  if (caller != FThreadId)
    for (int32_t i = Count() - 1; i >= 0; --i)
      if (GetItem(i)->ThreadId() == caller) DetachDevice(GetItem(i));
  if (Count() == 0) OnEmpty();
}

int32_t TDevicesList::ShowSettingsById(const TGlobalId& Id) {
  TDeviceItem* device = FindById(Id);
  return device ? device->ShowSettings() : -1;
}

int32_t TDevicesList::DetachById(const TGlobalId& Id) {
  TDeviceItem* device = FindById(Id);
  if (!device) return -1;
  DetachDevice(device);
  return 0;
}

void TDevicesList::DetachDevice(TDeviceItem* Device) { Device->ReleaseItem(); }

void TDevicesList::LoadColors(const VARIANT& Source) {
  if (!IsNodeSource(Source)) return;
  const WideString path = WideString(OLESTR("//")) + NodeName(NODE_COLOR_ITEM);
  const OleVariant node = CallMethod(ReferencedSource(Source), "selectSingleNode", {OleVariant(path)});
  TFormColors colors;
  colors.ColorForm = ColorAttribute(node, ATTR_COLOR_FORM);
  colors.ColorBody = ColorAttribute(node, ATTR_COLOR_BODY);
  colors.ColorButton = ColorAttribute(node, ATTR_COLOR_BUTTON);
  colors.ColorEdit = ColorAttribute(node, ATTR_COLOR_EDIT);
  colors.ColorBorder = ColorAttribute(node, ATTR_COLOR_BORDER);
  colors.ColorFont = ColorAttribute(node, ATTR_COLOR_FONT);
  SetFormColors(colors);
}

void TDevicesList::LoadModelDefinitions(const VARIANT& Source) { FModels->LoadDefinitions(Source); }

void TDevicesList::LoadModelCatalogue(const VARIANT& Source) {
  FCatalogue.reset();
  OleVariant source(ReferencedSource(Source));
  if (IsTextSource(Source)) source = ParseConfigurationText(SourceText(Source), false).Document;
  FCatalogue = CreateFilteredModelList(source, WideString(), WideString(), PluginModuleFileName(), WideString(),
                                       WideString(), WideString(OLESTR("0")));
}

TDeviceItem* TDevicesList::NewDevice() { return static_cast<TDeviceItem*>(Add()); }

TDeviceItem* TDevicesList::LoadNewDevice(TDeviceItem* Device, const VARIANT& Source) {
  try {
    Device->LoadFromXml(Source);
  } catch (...) {
    // A description that could not be taken leaves no half-built device behind.
    DetachDevice(Device);
    throw;
  }
  return Device;
}

int32_t TDevicesList::LoadDevices(const VARIANT& Source) {
  OleVariant document;
  if (IsTextSource(Source)) {
    const WideString text = SourceText(Source);
    if (text.find_first_not_of(OLESTR(" \t\r\n")) == WideString::npos) return 0;
    TParsedConfiguration parsed = ParseConfigurationText(text, true);
    document = parsed.Document;
    const OleVariant root = GetProperty(document, "documentElement");
    if (IsNodeAssigned(root) &&
        platform::SameText(AnsiFromWide(XmlNodeName(root)), AnsiFromWide(NodeName(NODE_SYSTEM))))
      FConfigText = parsed.ConvertedText;
  } else if (IsNodeSource(Source)) {
    document = OleVariant(ReferencedSource(Source));
    FConfigText = AnsiFromWide(XmlText(document));
  } else {
    return 0;
  }
  FCatalogue.reset();
  const OleVariant elements = CallMethod(document, "selectNodes", {OleVariant(DomXPath(NodeName(PATH_ANY_EQU_ITEM)))});
  // The devices by identifier, the first of each identifier as FindById finds it.
  std::map<TGlobalId, TDeviceItem*, TGlobalIdLess> byId;
  for (int32_t i = Count() - 1; i >= 0; --i) byId[GetItem(i)->DeviceId()] = GetItem(i);
  // Each new device takes its name from its description: looking for a free name first
  // would cost a pass over the whole list per device.
  FNameNewDevices = false;
  struct TRestoreNaming {
    bool& Flag;
    ~TRestoreNaming() { Flag = true; }
  } restoreNaming{FNameNewDevices};
  for (const OleVariant& element : NodeListItems(elements)) {
    const TGlobalId id = StrToGlobalId(GetNamedAttribute(element, ATTR_ID, OLESTR("")));
    const auto found = SameGlobalId(id, GUID_NULL) ? byId.end() : byId.find(id);
    if (found != byId.end()) {
      found->second->LoadFromXml(element);
    } else {
      TDeviceItem* device = LoadNewDevice(NewDevice(), element);
      byId.emplace(device->DeviceId(), device);
    }
  }
  return 0;
}

int32_t TDevicesList::AddDevice(VARIANT& Source, bool WithDialog) {
  LoadModelDefinitions(Source);
  TDeviceItem* device = NewDevice();
  int32_t code = 0;
  try {
    device->LoadFromXml(Source);
    // The new device's own dialog: its identifier may repeat that of an older device.
    if (WithDialog) code = device->ShowSettings();
  } catch (...) {
    DetachDevice(device);
    throw;
  }
  if (code != 0) {
    DetachDevice(device);
    return code;
  }
  const uint8_t mode = ExecutionMode();
  if (mode == EXECUTION_MODE_V7 || mode == EXECUTION_MODE_V8) {
    ReplaceSource(Source, OleVariant(Count()));
  } else {
    OleVariant description = device->GetParametersXml();
    if (IsTextSource(Source))
      ReplaceSource(Source, OleVariant(XmlText(description)));
    else
      ReplaceSource(Source, description);
  }
  return 0;
}

int32_t TDevicesList::EditDevice(const VARIANT& Id, VARIANT& Settings) {
  WideString idText;
  VariantToText(ReferencedSource(Id), idText);
  // A malformed identifier fails before the settings change anything.
  const TGlobalId id = StrToGlobalId(idText);
  LoadColors(Settings);
  LoadModelDefinitions(Settings);
  LoadDevices(Settings);
  const int32_t code = ShowSettingsById(id);
  if (IsNodeSource(Settings)) {
    if (TDeviceItem* device = FindById(id)) ReplaceSource(Settings, device->GetParametersXml());
  } else {
    OleVariant document;
    if (GetDeviceSettings(OleVariant(idText), document) == 0) ReplaceSource(Settings, OleVariant(XmlText(document)));
  }
  return code;
}

int32_t TDevicesList::GetDeviceSettings(const VARIANT& Key, OleVariant& Document) {
  AnsiString text;
  bool singleByte = false;
  if (KeyText(Key, text, singleByte)) {
    if (IsRegistryGuidText(text)) {
      TDeviceItem* device = FindById(StrToGlobalId(text));
      if (!device) return DEVICE_NOT_ACTIVE;
      Document = device->GetParametersXml();
      return 0;
    }
    if (singleByte && !text.empty()) {
      TDeviceItem* device = FindByName(text);
      if (!device) return DEVICE_NOT_ACTIVE;
      Document = device->GetParametersXml();
      return 0;
    }
  }
  OleVariant document = NewXmlDocument(kDeviceListRoot, XmlHeaderText());
  const OleVariant root = GetProperty(document, "documentElement");
  for (int32_t i = 0; i < Count(); ++i) {
    const OleVariant description = GetItem(i)->GetParametersXml();
    const OleVariant copy = CallMethod(GetProperty(description, "documentElement"), "cloneNode", {OleVariant(true)});
    CallMethod(root, "appendChild", {copy});
  }
  Document = document;
  return 0;
}

TDeviceItem* TDevicesList::ReusableDevice(const VARIANT& Source) {
  if (!IsNodeSource(Source)) return nullptr;
  const OleVariant node = SelectNamedNode(ReferencedSource(Source), PATH_ANY_EQU_ITEM, OLESTR(""));
  if (!IsNodeAssigned(node)) return nullptr;
  const TGlobalId id = StrToGlobalId(GetNamedAttribute(node, ATTR_ID, OLESTR("")));
  // A description without an identifier names no device: it is always a new one.
  TDeviceItem* device = SameGlobalId(id, GUID_NULL) ? nullptr : FindById(id);
  if (device && device->ThreadId() != FThreadId) {
    // A temporary device that a foreign thread made: it goes.
    DetachDevice(device);
    return nullptr;
  }
  return device;
}

void TDevicesList::PrepareModelOperation(const VARIANT& Source) {
  LoadModelDefinitions(Source);
  LoadColors(Source);
}

ComPtr<IDeviceItem> TDevicesList::InsertDevice(const VARIANT& Source) {
  PrepareModelOperation(Source);
  TDeviceItem* device = static_cast<TDeviceItem*>(Insert(0));
  // The current number keeps naming the device it named before.
  if (FCurrent > 0 && FCurrent < Count()) ++FCurrent;
  return ComPtr<IDeviceItem>(LoadNewDevice(device, Source));
}

ComPtr<IDeviceItem> TDevicesList::ObtainDevice(const VARIANT& Source) {
  PrepareModelOperation(Source);
  if (TDeviceItem* device = ReusableDevice(Source)) {
    device->LoadFromXml(Source);
    return ComPtr<IDeviceItem>(device);
  }
  return ComPtr<IDeviceItem>(LoadNewDevice(NewDevice(), Source));
}

ComPtr<IDeviceItem> TDevicesList::FindDeviceByXml(const VARIANT& Source) {
  PrepareModelOperation(Source);
  return ComPtr<IDeviceItem>(ReusableDevice(Source));
}
