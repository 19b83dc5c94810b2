#pragma once
// A host configuration as the tool hands it to the plug-in and knows it afterwards: the file
// (its text and encoding), the document the plug-in was given, and the devices in the
// plug-in's order with the names and parameters the file gives them.
//
// The plug-in gets an XML document object, not text: texts it receives are converted to the
// system's 8-bit code page, which on a system set to another code page than 1251 loses every
// Cyrillic letter of the element names; a document is queried in Unicode.
#include <string>
#include <utility>
#include <vector>

#include "config_file.h"
#include "plugin_session.h"

namespace vestrel_host {

struct ConfiguredDevice {
  int32_t Number = 0;  // 1-based, in the plug-in's list
  std::string Id, Name;
  std::vector<std::pair<std::string, std::string>> Parameters;  // as the file gives them
  bool Used = true;    // "Использовать" is not 0
  // «Name» {Id}
  std::string Label() const;
  const std::string* Parameter(const std::string& name) const;
};

class Configuration {
public:
  // Reads and checks the file and loads it into the plug-in. kExitOk, or the status after the
  // failure was reported.
  int Load(Plugin& plugin, const std::string& path);
  // The same for a configuration the tool makes itself.
  int LoadText(Plugin& plugin, const std::string& name, const OleText& text);

  const std::string& Path() const { return FFile.Path; }
  const ConfigurationText& File() const { return FFile; }
  const std::vector<ConfiguredDevice>& Devices() const { return FDevices; }
  const ConfiguredDevice* FindDevice(const std::string& numberNameOrId) const;

  // A plug-in failure about one device (or the configuration, for nullptr) for the user: the
  // file, the device and the parameter whose value does not fit its type, around the
  // plug-in's own text and code.
  std::string Explain(Plugin& plugin, const ConfiguredDevice* device, const CallOutcome& failure) const;

private:
  int Hand(Plugin& plugin);

  ConfigurationText FFile;
  Automation FDocument;
  std::vector<ConfiguredDevice> FDevices;
};

// The XML text of the document the plug-in answers "GetSettingsXML" with for the key
// (0: every device; a device identifier: that one); empty document on failure.
Automation PluginDeviceDescription(Plugin& plugin, const Value& key, CallOutcome* failure = nullptr);

}  // namespace vestrel_host
