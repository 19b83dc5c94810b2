#include "devices/device_item.h"

#include <algorithm>

#include "automation/safe_array.h"
#include "base/errors.h"
#include "base/guarded_entry.h"
#include "base/host_call_lock.h"
#include "config/collection_model.h"
#include "config/late_bound.h"
#include "config/locale_formats.h"
#include "config/text_routines.h"
#include "config/vocabulary.h"
#include "config/xml_access.h"
#include "devices/config_source.h"
#include "devices/devices_list.h"
#include "devices/model_list.h"
#include "host/wire/variant_text.h"
#include "platform/structured_exception.h"
#include "platform/sync.h"
#include "platform/text_compare.h"

namespace {

// Names of the legacy description that the vocabulary does not hold: its format marks and
// the name attribute of its items. Both paths also reach into a device description nested
// below this one; OwnNodes keeps what belongs to the device itself.
constexpr OLECHAR kLegacyFormatMarks[] = OLESTR(".//ComPort[node()] | .//Дополнительно[node()]");
constexpr OLECHAR kLegacyExtraItems[] = OLESTR(".//Параметры/Дополнительно/Item");
constexpr OLECHAR kLegacyItemName[] = OLESTR("Имя");

constexpr int32_t kTableColumns = 7;
constexpr size_t kMaxTableNameLength = 100;
constexpr size_t kMaxTableTypeLength = 10;

AnsiString Utf8Text(const char* text) { return AnsiFromUtf8(text); }

AnsiString DefaultErrorText(int32_t Code) { return Utf8Text("Ошибка. Код №") + IntToText(Code); }

// Display form of a stored text: escaped line breaks become CR LF (paths stay as they are).
AnsiString ForDisplay(const AnsiString& Text) { return ConvertLineBreaks(Text, false); }
// Stored form of a text from the host: CR LF becomes the two-character escape.
AnsiString ForStorage(const AnsiString& Text) { return ConvertLineBreaks(Text, true); }

OleVariant DisplayCell(const AnsiString& Text) { return OleVariant(WideFromAnsi(ForDisplay(Text))); }

// A two-dimensional array object, reached early-bound when it answers ISafeArray and
// late-bound by member name otherwise (an array object of the host's own making).
class TTableObject {
public:
  explicit TTableObject(const VARIANT& Table) : FObject(ReferencedSource(Table)) {
    if (!IsNodeSource(FObject))
      RaiseText(Utf8Text("Таблица свойств должна быть объектом двумерного массива."));
    IUnknown* object = (FObject.vt & VT_BYREF) ? *FObject.ppdispVal : FObject.pdispVal;
    object->QueryInterface(IID_ISafeArray, FArray.PutVoid());
  }

  void SetBounds(int32_t Rows, int32_t Columns) {
    if (FArray) return Check(FArray->SetBounds(Rows, Columns));
    CallMethod(FObject, "SetBounds", {OleVariant(Rows), OleVariant(Columns)});
  }
  void GetBounds(int32_t& Rows, int32_t& Columns) {
    LONG rows = 0, columns = 0;
    if (FArray) {
      Check(FArray->GetBounds(&rows, &columns));
    } else {
      OleVariant rowsRef, columnsRef;
      rowsRef.vt = VT_BYREF | VT_I4;
      rowsRef.plVal = &rows;
      columnsRef.vt = VT_BYREF | VT_I4;
      columnsRef.plVal = &columns;
      CallMethod(FObject, "GetBounds", {rowsRef, columnsRef});
    }
    Rows = rows;
    Columns = columns;
  }
  void SetValue(int32_t Row, int32_t Column, const OleVariant& Value) {
    if (FArray) return Check(FArray->SetValue(Row, Column, Value));
    CallMethod(FObject, "SetValue", {OleVariant(Row), OleVariant(Column), Value});
  }
  OleVariant GetValue(int32_t Row, int32_t Column) {
    if (!FArray) return CallMethod(FObject, "GetValue", {OleVariant(Row), OleVariant(Column)});
    OleVariant value;
    Check(FArray->GetValue(Row, Column, value.Put()));
    return value;
  }

private:
  // The object's own error description when it set one.
  static void Check(HRESULT Result) {
    if (SUCCEEDED(Result)) return;
    ComPtr<IErrorInfo> info;
    OleString description;
    if (GetErrorInfo(0, info.Put()) == S_OK && info) info->GetDescription(description.Put());
    if (!description.Empty()) RaiseText(AnsiFromWide(description.Text()));
    throw OleError("ISafeArray", Result);
  }

  OleVariant FObject;
  ComPtr<ISafeArray> FArray;
};

// The host's array factory (event sink position 23): the one call out to the host's event
// sink in the device manager. It runs under the guard, so that a structured exception raised by
// the host's code becomes a C++ exception here; the variant that receives the object is owned
// outside the guarded region.
OleVariant HostArrayObject(IHostEventSink* Sink) {
  OleVariant created;
  VARIANT* slot = created.Put();
  platform::CallGuarded([Sink, slot] { Sink->CreateArrayObject(slot); });
  return created;
}

// A new array object: the host's when it gave an event sink, else our own.
OleVariant NewArrayObject(IHostEventSink* Sink) {
  if (Sink) {
    OleVariant created = HostArrayObject(Sink);
    if (IsNodeSource(created)) return created;
  }
  ComPtr<ISafeArray> local = CreateSafeArray();
  return OleVariant(static_cast<IDispatch*>(local.Get()));
}

AnsiString CellText(const VARIANT& Value) {
  WideString text;
  if (!VariantToText(Value, text)) return AnsiString();
  return ForStorage(AnsiFromWide(text));
}

bool CellFlag(const VARIANT& Value) {
  const VARIANT& value = ReferencedSource(Value);
  if ((value.vt & ~VT_BYREF) == VT_BOOL) return ((value.vt & VT_BYREF) ? *value.pboolVal : value.boolVal) != 0;
  WideString text;
  if (!VariantToText(value, text)) return false;
  double number = 0;
  return TryTextToFloat(AnsiFromWide(text), number) && number != 0;
}

bool IsDeviceElement(const VARIANT& Node) {
  return platform::SameText(AnsiFromWide(XmlNodeName(Node)), AnsiFromWide(NodeName(NODE_EQU_ITEM)));
}

// How many device descriptions the node is or lies within (itself and its ancestors).
int32_t DeviceDepth(const VARIANT& Node) {
  int32_t depth = 0;
  for (OleVariant node(Node); IsNodeAssigned(node); node = GetProperty(node, "parentNode"))
    if (IsDeviceElement(node)) ++depth;
  return depth;
}

// The nodes of Path below Device that belong to it and not to a device nested inside it.
std::vector<OleVariant> OwnNodes(const VARIANT& Device, const OLECHAR* Path) {
  std::vector<OleVariant> own = NodeListItems(CallMethod(Device, "selectNodes", {OleVariant(Path)}));
  if (own.empty()) return own;  // the common case: nothing to sort out
  const int32_t depth = DeviceDepth(Device);
  std::erase_if(own, [depth](const OleVariant& node) { return DeviceDepth(node) != depth; });
  return own;
}

// Adds the pair, or replaces the value of an earlier pair of the same name.
void PutPair(TNameValuePairs& Pairs, const AnsiString& Name, const AnsiString& Value) {
  for (auto& pair : Pairs)
    if (platform::SameText(pair.first, Name)) {
      pair.second = Value;
      return;
    }
  Pairs.emplace_back(Name, Value);
}

}  // namespace

AnsiString DeviceNamePropertyName() { return Utf8Text("ИмяУстройства"); }

// What a description holds, read completely before the device takes any of it.
struct TDeviceItem::TDescription {
  TGlobalId DeviceId{};
  AnsiString DeviceName;
  TNameValuePairs Pairs;
  bool FillFromCatalogue = false;
  TGlobalId ModelId{};
};

TDeviceItem::TDeviceItem(TCollection* Collection)
    : TImplementsInterfaces(Collection), FProps(std::make_unique<TPropList>()) {
  FThreadId = platform::CurrentThreadId();
  FDeviceId = NewGlobalId();
  if (auto* list = dynamic_cast<TDevicesList*>(Collection)) {
    // The item has joined the list already: the count includes it.
    FNumber = list->Count();
    // A device that its description names at once needs no name of its own first.
    if (list->NamesNewDevices()) FDeviceName = list->UniqueDeviceName(AnsiString());
    SetLink(list->EventSink());
    FProps->Assign(list->ParamDefinitions());
  }
}

TDeviceItem::~TDeviceItem() {
  // The event sink is the host's object: nothing its Release does may escape a destructor.
  try {
    platform::CallGuarded([this] { FLink.Reset(); });
  } catch (...) {
    // Reset has emptied the field before releasing: the reference is gone either way.
  }
}

void* TDeviceItem::GetInterface(REFIID riid) {
  if (IsEqualIID(riid, IID_IDeviceItem)) return static_cast<IDeviceItem*>(this);
  return TImplementsInterfaces::GetInterface(riid);
}

TDevicesList* TDeviceItem::DevicesList() const { return dynamic_cast<TDevicesList*>(Collection()); }

// --- IDeviceItem -----------------------------------------------------------------------------
// Each operation is a host call: it holds the host-call lock (base/host_call_lock.h).

HRESULT STDMETHODCALLTYPE TDeviceItem::Detach(LONG* Result) {
  if (!Result) return E_POINTER;
  THostCallScope hostCall;
  *Result = 0;
  try {
    ReleaseItem();
    return S_OK;
  } catch (...) {
    return SafeCallException();
  }
}

HRESULT STDMETHODCALLTYPE TDeviceItem::IsOn(VARIANT_BOOL* Result) {
  if (!Result) return E_POINTER;
  THostCallScope hostCall;
  try {
    *Result = GetActive() == 1 ? VARIANT_TRUE : VARIANT_FALSE;
    return S_OK;
  } catch (...) {
    return SafeCallException();
  }
}

// The dialog runs the host's window code in its message loop: this entry is guarded against
// structured exceptions as well as C++ ones.
HRESULT STDMETHODCALLTYPE TDeviceItem::ShowSettings(LONG* Result) {
  if (!Result) return E_POINTER;
  THostCallScope hostCall;
  return GuardedComCall(
      HRESULT{E_UNEXPECTED},
      [&] {
        *Result = ShowSettings();
        return S_OK;
      },
      [](const std::exception* error) {
        return error ? SafeCallException(*error) : SafeCallException(Exception("Unknown exception"));
      });
}

HRESULT STDMETHODCALLTYPE TDeviceItem::GetParametersXml(VARIANT* Result) {
  if (!Result) return E_POINTER;
  THostCallScope hostCall;
  try {
    OleVariant document = GetParametersXml();
    VariantClear(Result);
    *Result = document.Detach();
    return S_OK;
  } catch (...) {
    return SafeCallException();
  }
}

// --- virtual operations ----------------------------------------------------------------------

int32_t TDeviceItem::AfterLoad() { return 0; }

int32_t TDeviceItem::ShowSettings() { return 0; }

int32_t TDeviceItem::GetActive() { return FActive.load() ? 1 : 0; }

int32_t TDeviceItem::SetActive(int32_t Value) {
  const int32_t wanted = Value != 0 ? 1 : 0;
  SetErrorCode(DEVICE_OK);
  if (GetActive() == wanted) return ErrorCode();
  SetErrorCode(DEVICE_NOT_ACTIVE);
  // Open of a concrete device stores its own code when it fails.
  if (wanted == 1 ? Open() : Close()) SetErrorCode(DEVICE_OK);
  FActive.store(ErrorCode() == DEVICE_OK && wanted != 0);
  return ErrorCode();
}

bool TDeviceItem::Open() { return true; }

bool TDeviceItem::Close() { return true; }

int32_t TDeviceItem::CheckActive() {
  const int32_t code = FActive.load() ? DEVICE_OK : DEVICE_NOT_ACTIVE;
  SetErrorCode(code);
  return code;
}

bool TDeviceItem::CheckActiveEx(int32_t& Code) {
  Code = CheckActive();
  SetErrorCode(Code);
  return Code == DEVICE_OK;
}

AnsiString TDeviceItem::GetParamValue(const AnsiString& Name) { return ForDisplay(RawParamValue(Name)); }

void TDeviceItem::SetParamValue(const AnsiString& Name, const AnsiString& Text) {
  SetRawParamValue(Name, ForStorage(Text));
}

AnsiString TDeviceItem::GetErrorText(int32_t Code) {
  if (TDevicesList* list = DevicesList()) return list->GetErrorText(Code);
  return DefaultErrorText(Code);
}

// --- parameters ------------------------------------------------------------------------------

AnsiString TDeviceItem::RawParamValue(const AnsiString& Name) const {
  std::lock_guard<std::mutex> lock(FLock);
  return FProps->GetValueText(Name);
}

void TDeviceItem::SetRawParamValue(const AnsiString& Name, const AnsiString& Text) {
  std::lock_guard<std::mutex> lock(FLock);
  if (const TPropItem* item = FProps->FindProp(Name)) CheckPropertyValue(*item, Text);
  FProps->SetValueText(Name, Text);
}

int32_t TDeviceItem::GetIntParam(const AnsiString& Name) {
  AnsiString text = GetParamValue(Name);
  if (text.empty()) text = "0";
  return TextToInt(text);
}

void TDeviceItem::SetIntParam(const AnsiString& Name, int32_t Value) { SetParamValue(Name, IntToText(Value)); }

std::vector<TPropFields> TDeviceItem::PropsSnapshot() const {
  std::lock_guard<std::mutex> lock(FLock);
  return FProps->Snapshot();
}

TGlobalId TDeviceItem::DeviceId() const {
  std::lock_guard<std::mutex> lock(FLock);
  return FDeviceId;
}

void TDeviceItem::SetDeviceId(const TGlobalId& Id) {
  std::lock_guard<std::mutex> lock(FLock);
  FDeviceId = Id;
}

AnsiString TDeviceItem::DeviceName() const {
  std::lock_guard<std::mutex> lock(FLock);
  return FDeviceName;
}

void TDeviceItem::SetDeviceName(const AnsiString& Name) {
  std::lock_guard<std::mutex> lock(FLock);
  FDeviceName = Name;
}

void TDeviceItem::SetErrorCode(int32_t Code) {
  FErrorCode.store(Code);
  if (Code >= 0) return;
  // A negative code is kept as it is; the error it stands for is made and dropped at once.
  try {
    RaiseText(Utf8Text("Код ошибки меньше нуля."));
  } catch (const EProtectException&) {
  }
}

// --- descriptions ----------------------------------------------------------------------------

int32_t TDeviceItem::LoadFromXml(const VARIANT& Source) {
  OleVariant document, node;
  if (IsTextSource(Source)) {
    const WideString text = SourceText(Source);
    if (text.find_first_not_of(OLESTR(" \t\r\n")) == WideString::npos) return AfterLoad();
    document = ParseConfigurationText(text, true).Document;
    node = GetProperty(document, "documentElement");
  } else if (IsNodeSource(Source)) {
    document = OleVariant(ReferencedSource(Source));
    node = DocumentRoot(document);
  } else {
    return 0;
  }
  if (IsNodeAssigned(node) && !IsDeviceElement(node)) node = SelectNamedNode(node, PATH_ANY_EQU_ITEM, OLESTR(""));
  if (IsNodeAssigned(node)) {
    TDescription description;
    // The format marks are looked for in the device's own description, so that one legacy
    // description in a configuration turns neither its neighbours nor the device it is nested
    // in into legacy ones.
    const bool legacy = !OwnNodes(node, kLegacyFormatMarks).empty();
    if (legacy)
      ReadLegacyFormat(document, node, description);
    else
      ReadCurrentFormat(document, node, description);
    Commit(description);
  }
  return AfterLoad();
}

void TDeviceItem::ReadCurrentFormat(const VARIANT&, const VARIANT& Node, TDescription& Into) const {
  Into.DeviceId = StrToGlobalId(GetNamedAttribute(Node, ATTR_ID, OLESTR("")));
  Into.DeviceName = AnsiFromWide(GetNamedAttribute(Node, ATTR_NAME, OLESTR("")));
  Into.ModelId = StrToGlobalId(GetNamedAttribute(Node, ATTR_MODEL_ID, OLESTR("")));
  Into.FillFromCatalogue = true;
  for (const OleVariant& parameter : NodeListItems(SelectNamedNodes(Node, PATH_OWN_PARAMS, OLESTR(""), OLESTR(""))))
    PutPair(Into.Pairs, AnsiFromWide(GetNamedAttribute(parameter, ATTR_IDENTIF, OLESTR(""))),
            AnsiFromWide(GetNamedAttribute(parameter, ATTR_VALUE, OLESTR(""))));
}

void TDeviceItem::ReadLegacyFormat(const VARIANT&, const VARIANT& Node, TDescription& Into) const {
  Into.DeviceId = StrToGlobalId(GetNamedAttribute(Node, ATTR_ID, OLESTR("")));
  Into.DeviceName = AnsiFromWide(GetNamedAttribute(Node, ATTR_HINT, OLESTR("")));
  // The class identifier, the event point and the port items of a legacy description have no
  // use here; only its additional items become parameters.
  for (const OleVariant& item : OwnNodes(Node, kLegacyExtraItems))
    PutPair(Into.Pairs, GetAttributeText(item, AnsiFromWide(kLegacyItemName), AnsiString()),
            AnsiFromWide(GetNamedAttribute(item, ATTR_VALUE, OLESTR(""))));
}

void TDeviceItem::Commit(const TDescription& Description) {
  TModelItem* catalogueModel = nullptr;
  // A description without a model names none of the catalogue's models.
  if (Description.FillFromCatalogue && !SameGlobalId(Description.ModelId, GUID_NULL))
    if (TDevicesList* list = DevicesList())
      if (TModelList* catalogue = list->Catalogue()) catalogueModel = catalogue->FindModel(Description.ModelId);

  std::lock_guard<std::mutex> lock(FLock);
  // The parameters change on a copy that replaces them only when every value fits its type.
  std::unique_ptr<TPropList> props = FProps->Clone();
  props->SetPairs(Description.Pairs);
  if (catalogueModel && catalogueModel->Params()) {
    for (int32_t i = 0; i < props->Count(); ++i) {
      TPropItem* item = props->Items(i);
      if (!item->TypeName.empty()) continue;
      TParameterItem* parameter = catalogueModel->Params()->FindParameter(WideFromAnsi(item->Name));
      if (!parameter) continue;
      item->Caption = AnsiFromWide(parameter->ParamDescription());
      item->TypeName = AnsiFromWide(parameter->ParamType());
      item->ReadOnly = parameter->ParamReadOnly() != 0 ? 1 : 0;
      item->Default = AnsiFromWide(parameter->ParamDefault());
      item->SetDescription(AnsiFromWide(parameter->ParamHint()));
    }
  }
  for (const auto& [name, value] : Description.Pairs)
    if (const TPropItem* item = props->FindProp(name)) CheckPropertyValue(*item, value);
  FProps = std::move(props);
  // A description without an identifier (or with the empty one) keeps the device's own: two
  // such devices must stay two when they are exported and read in again.
  if (!SameGlobalId(Description.DeviceId, GUID_NULL)) FDeviceId = Description.DeviceId;
  FDeviceName = Description.DeviceName;
}

OleVariant TDeviceItem::GetParametersXml() {
  TGlobalId id;
  AnsiString name;
  std::vector<TPropFields> props;
  {
    std::lock_guard<std::mutex> lock(FLock);
    id = FDeviceId;
    name = FDeviceName;
    props = FProps->Snapshot();
  }
  GUID modelId = GUID_NULL;
  if (TDevicesList* list = DevicesList())
    if (TModelPluItem* model = list->Models().Current()) modelId = model->ClassId;

  OleVariant document = NewXmlDocument(NodeName(NODE_EQU_ITEM), XmlHeaderText());
  OleVariant root = GetProperty(document, "documentElement");
  SetNamedAttributes(root, {ATTR_ID, ATTR_MODEL_ID, ATTR_NAME, ATTR_AP_ID},
                     {OleVariant(GlobalIdToStr(id)), OleVariant(GlobalIdToStr(modelId)),
                      OleVariant(WideFromAnsi(name)), OleVariant(WideString())});
  OleVariant parameters = CreateNamedElement(document, NODE_PARAM_LIST);
  CallMethod(root, "appendChild", {parameters});
  for (const TPropFields& prop : props) {
    OleVariant parameter = CreateNamedElement(document, NODE_PARAM_ITEM);
    SetNamedAttributes(parameter, {ATTR_IDENTIF, ATTR_VALUE},
                       {OleVariant(WideFromAnsi(prop.Name)), OleVariant(WideFromAnsi(prop.Value))});
    CallMethod(parameters, "appendChild", {parameter});
  }
  return document;
}

// --- property tables -------------------------------------------------------------------------

int32_t TDeviceItem::GetPropertyTable(OleVariant& Table) {
  const AnsiString name = DeviceName();
  const std::vector<TPropFields> props = PropsSnapshot();
  OleVariant created = NewArrayObject(HostEventSink());
  TTableObject table(created);
  table.SetBounds(static_cast<int32_t>(props.size()) + 1, kTableColumns);

  const AnsiString nameCaption = Utf8Text("Имя устройства");
  const OleVariant header[kTableColumns] = {
      DisplayCell(DeviceNamePropertyName()), DisplayCell(nameCaption), DisplayCell(nameCaption),
      DisplayCell(Utf8Text("Строка")),       DisplayCell(name),        OleVariant(1),
      DisplayCell(AnsiString())};
  for (int32_t column = 0; column < kTableColumns; ++column) table.SetValue(0, column, header[column]);

  int32_t row = 1;
  for (const TPropFields& prop : props) {
    const OleVariant cells[kTableColumns] = {
        DisplayCell(prop.Name),    DisplayCell(prop.Caption),
        DisplayCell(prop.Description), DisplayCell(TypeDisplayName(prop.TypeName)),
        TypedValue(prop.TypeName, prop.Value), OleVariant(static_cast<int32_t>(prop.ReadOnly)),
        DisplayCell(prop.Default)};
    for (int32_t column = 0; column < kTableColumns; ++column) table.SetValue(row, column, cells[column]);
    ++row;
  }
  Table = created;
  return 0;
}

int32_t TDeviceItem::ApplyPropertyTable(const VARIANT& Table) {
  TTableObject table(Table);
  int32_t rows = 0, columns = 0;
  table.GetBounds(rows, columns);
  const AnsiString deviceNameRow = DeviceNamePropertyName();
  const AnsiString numberType = Utf8Text("Число");
  // Every row is checked before any is applied: a table with one bad value changes nothing.
  TNameValuePairs values;
  for (int32_t row = 0; row < rows; ++row) {
    const AnsiString name = CellText(table.GetValue(row, 0)).substr(0, kMaxTableNameLength);
    if (platform::SameText(name, deviceNameRow)) continue;
    const AnsiString caption = CellText(table.GetValue(row, 1));
    const AnsiString type = CellText(table.GetValue(row, 3)).substr(0, kMaxTableTypeLength);
    const AnsiString value = CellText(table.GetValue(row, 4));
    const bool readOnly = CellFlag(table.GetValue(row, 5));
    if (!readOnly && platform::SameText(type, numberType) && (value.empty() || !IsValueOfType(numberType, value)))
      RaiseError(ERR_PROPERTY_TYPE, {caption});
    // The parameter's own type decides too, whatever type the host's table claims for it.
    WithProps([&](TPropList& props) {
      if (const TPropItem* item = props.FindProp(name); item && !IsValueOfType(item->TypeName, value))
        RaiseError(ERR_PROPERTY_TYPE, {caption.empty() ? (item->Caption.empty() ? name : item->Caption) : caption});
    });
    values.emplace_back(name, value);
  }
  for (const auto& [name, value] : values) SetParamValue(name, value);
  return 0;
}
