#pragma once
// The driver's collection of configured devices. It loads and returns the device
// configuration as XML, adds, finds, selects and deletes devices, owns the models that the
// plug-in registers (and through the current model the parameter definitions that every new
// device starts from), and answers generic device error texts.
//
// The list is used from the host's thread; devices remember the thread that created them so
// that temporary devices created on a foreign thread can be kept apart from the list's own.

#include <cstdint>
#include <memory>
#include <string>

#include "base/collection_bases.h"
#include "base/global_id.h"
#include "devices/device_item.h"
#include "devices/prop_list.h"
#include "platform/ole_ptr.h"
#include "platform/text_codec.h"

class TModelList;
class TModelPluList;

class TDevicesList : public TRootCollection {
public:
  // The item class creates the list's devices (a TDeviceItem descendant). A new list holds
  // no device, one empty base model and the scanner base parameter definitions.
  explicit TDevicesList(TCollectionItemClass ItemClass);
  ~TDevicesList() override;

  // The list's virtual operations, in the order the concrete list class relies on.
  virtual TDeviceItem* GetItem(int32_t Index) const;  // 0-based
  virtual void SetCurrent(int32_t Number);            // 1-based, no check
  virtual AnsiString GetErrorText(int32_t Code);      // "Ошибка. Код №" and the code
  virtual void Hook5(int32_t) {}
  // AddDefinition to the current model's definitions for Count consecutive records.
  virtual void AddDefinitions(const TPropertyDefinition* Table, int32_t Count);
  virtual void OnEmpty() {}                           // the list has been emptied
  // A device by number (integer, 1-based) or by name (text) becomes current and its error
  // code is cleared: 0. Otherwise 3 and nothing changes.
  virtual int32_t SelectDevice(const VARIANT& Value);

  // The host's event sink (copied into every device created afterwards). Letting it go
  // (nullptr) never fails: whatever the host's Release does is swallowed.
  IUnknown* EventSink() const { return FLink.Get(); }
  void SetEventSink(IUnknown* Sink);

  int32_t Current() const { return FCurrent; }
  TDeviceItem* CurrentDevice() const;  // null when none is current
  int32_t PropertyPageEnabled() const { return FPropertyPageEnabled; }
  void SetPropertyPageEnabled(int32_t Value) { FPropertyPageEnabled = Value; }
  bool Flag1() const { return FFlag1; }
  void SetFlag1(bool Value) { FFlag1 = Value; }
  bool Flag2() const { return FFlag2; }
  void SetFlag2(bool Value) { FFlag2 = Value; }
  const AnsiString& ConfigText() const { return FConfigText; }
  void SetConfigText(const AnsiString& Text) { FConfigText = Text; }
  uint32_t ThreadId() const { return FThreadId; }
  TModelList* Catalogue() const { return FCatalogue.get(); }
  TModelPluList& Models() const { return *FModels; }
  // Where a device's statistics come from (the driver's built-in "__@@Statistics" shows them):
  // lines of text (UTF-8), or nothing for a device that keeps none. None by default.
  using TStatisticsSource = std::string (*)(TDeviceItem& Device);
  TStatisticsSource StatisticsSource() const { return FStatisticsSource; }
  void SetStatisticsSource(TStatisticsSource Source) { FStatisticsSource = Source; }

  // The parameter definitions of the current model.
  TPropList& ParamDefinitions() const;
  // Default and Value := Value, ReadOnly := ReadOnly for the definition of that name; an
  // unknown name changes nothing.
  void SetDefinitionValue(const AnsiString& Name, const AnsiString& Value, bool ReadOnly);

  TDeviceItem* FindById(const TGlobalId& Id) const;
  TDeviceItem* FindByName(const AnsiString& Name) const;
  AnsiString CurrentDeviceName() const;
  // The name prefix of the current model.
  AnsiString ModelNamePrefix() const;
  // The first of prefix+1 .. prefix+10000 that no device other than one named Except
  // carries; empty when all are taken.
  AnsiString UniqueDeviceName(const AnsiString& Except) const;

  void SwitchAllOff();
  // Removes every device, then OnEmpty.
  void ClearDevices();
  // Detaches the devices that the calling thread created, unless it is the list's own thread.
  void DropThreadDevices();
  // The device's ShowSettings code, or -1 when there is no such device.
  int32_t ShowSettingsById(const TGlobalId& Id);
  // Detaches the device: 0, or -1 when there is no such device.
  int32_t DetachById(const TGlobalId& Id);
  // Takes the device out of the list and gives up the list's reference. Every device that
  // leaves the list is switched off first (the host may still hold it), and the current
  // number keeps naming the same device, or none when the current device leaves.
  void DetachDevice(TDeviceItem* Device);

  // The six form colours from the first "ColorItem" of an XML node (other sources: nothing).
  void LoadColors(const VARIANT& Source);
  // Derived models from a configuration (the model list's LoadDefinitions).
  void LoadModelDefinitions(const VARIANT& Source);
  // A new model catalogue from a configuration (the old one is freed).
  void LoadModelCatalogue(const VARIANT& Source);

  // Loads the devices of a configuration: each "Устройство" reloads the device of its "Код"
  // or is appended as a new device; one without a "Код" (or with the empty identifier) is
  // always a new device with an identifier of its own. Other sources: 0, nothing changes.
  // Text that does not parse and descriptions that cannot be taken raise; the devices loaded
  // before stay, and a device that failed is not added. One lookup per description, so that
  // a configuration of many devices loads in time proportional to its size.
  int32_t LoadDevices(const VARIANT& Source);
  // Adds a device from a description, with or without its settings dialog. On success the
  // source is replaced by the new device's description; a cancelled dialog removes the
  // device again and returns its code.
  int32_t AddDevice(VARIANT& Source, bool WithDialog);
  // Loads the settings, runs the settings dialog of the device Id, and returns its
  // description in Settings. An Id that is no identifier raises before anything changes.
  int32_t EditDevice(const VARIANT& Id, VARIANT& Settings);
  // The description of the device of a GUID text or a name (3 when there is none), or of
  // every device under "EquList".
  int32_t GetDeviceSettings(const VARIANT& Key, OleVariant& Document);

  // The device operations of the model interface; each hands out the device's IDeviceItem.
  ComPtr<IDeviceItem> InsertDevice(const VARIANT& Source);
  ComPtr<IDeviceItem> ObtainDevice(const VARIANT& Source);
  ComPtr<IDeviceItem> FindDeviceByXml(const VARIANT& Source);

  // A new device at the end of the list.
  TDeviceItem* NewDevice();
  // Whether a new device takes the next free device name (false while LoadDevices creates
  // devices that their descriptions name).
  bool NamesNewDevices() const { return FNameNewDevices; }

protected:
  void Notify(TCollectionItem* Item, TCollectionNotification Action) override;

private:
  TStatisticsSource FStatisticsSource = nullptr;
  TDeviceItem* ReusableDevice(const VARIANT& Source);
  // The model operations' first step: the model definitions and colours of the source.
  void PrepareModelOperation(const VARIANT& Source);
  // Loads a device just placed in the list from Source; a description that fails to load
  // takes the device out again, and the failure goes on to the caller.
  TDeviceItem* LoadNewDevice(TDeviceItem* Device, const VARIANT& Source);

  int32_t FCurrent = 0;
  int32_t FPropertyPageEnabled = 0;
  bool FFlag1 = false;
  bool FFlag2 = false;
  std::unique_ptr<TModelList> FCatalogue;
  AnsiString FConfigText;
  uint32_t FThreadId = 0;
  std::unique_ptr<TModelPluList> FModels;
  bool FNameNewDevices = true;
};
