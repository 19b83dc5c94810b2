#pragma once
// Security attributes that grant everyone access to the named objects created with them.
#include <cstdint>
#include <optional>
#include <string>

namespace platform {

// Windows: a SECURITY_ATTRIBUTES record (not inheritable) pointing at a descriptor at revision 1
// with a present, null access list (everyone has access). POSIX has no such descriptors for our
// named objects: preparing succeeds and the attributes apply nothing.
class SecurityAttributes {
public:
  SecurityAttributes();
  ~SecurityAttributes();
  SecurityAttributes(const SecurityAttributes&) = delete;
  SecurityAttributes& operator=(const SecurityAttributes&) = delete;

  struct Failure {
    std::string Call;  // "InitializeSecurityDescriptor" or "SetSecurityDescriptorDacl"
    uint32_t Error;    // the system's last error after that call
  };
  // Prepares the descriptor; the failed call and its error otherwise.
  std::optional<Failure> Prepare();
  bool Prepared() const noexcept { return FPrepared; }

  // SECURITY_ATTRIBUTES* on Windows once prepared; nullptr otherwise and on POSIX.
  void* Native() const noexcept;

private:
  struct Records;
  Records* FRecords;  // owned
  bool FPrepared = false;
};

// Whether the system belongs to the NT family (platform id 2). True on POSIX, where the
// security attributes above are no-ops anyway.
bool IsNtPlatform();

}  // namespace platform
