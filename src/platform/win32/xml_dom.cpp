#include "platform/xml_dom.h"

namespace platform {

// MSXML is registered with the system; its program ids are created through COM.
void EnsureXmlDomClasses() {}

}  // namespace platform
