#pragma once
// The process-wide application object: the object that owns the plug-in's windows (the settings
// dialog's owner). It starts as the plug-in's own (kPluginApplication) until the host installs
// its own through IPluginControl::SetApplication; the control object gives the saved one back
// when it goes.

// The current application object; kPluginApplication while the host installed none.
void* CurrentApplication() noexcept;
void SetCurrentApplication(void* application) noexcept;
extern void* const kPluginApplication;
