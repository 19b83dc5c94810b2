#include "base/application_object.h"

#include <atomic>

namespace {

// The plug-in's own application object stands for the framework's application until the host
// installs its own; only its identity matters.
char gPluginApplicationObject = 0;
std::atomic<void*> gCurrentApplication{&gPluginApplicationObject};

}  // namespace

void* const kPluginApplication = &gPluginApplicationObject;

void* CurrentApplication() noexcept { return gCurrentApplication.load(); }
void SetCurrentApplication(void* application) noexcept { gCurrentApplication.store(application); }
