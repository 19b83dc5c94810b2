#pragma once
// The XML DOM behind the configuration documents.
//
// On Windows the documents are MSXML's ("Msxml2.DOMDocument", "MSXML.DOMDocument"), created
// through COM. Elsewhere the same program ids create our own DOM automation objects over
// libxml2, which answer the same member names with the same observable behaviour. Either
// way the objects are reached only through IDispatch, by member name.

namespace platform {

// Makes the DOM program ids creatable through the process's automation classes
// (platform/automation_classes.h). Nothing to do on Windows; elsewhere the libxml2 DOM is
// registered on the first call. Safe to call from any thread, any number of times.
void EnsureXmlDomClasses();

}  // namespace platform
