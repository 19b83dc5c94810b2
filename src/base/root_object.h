#pragma once
// The root of the driver objects: an object with a hidden top-level window, ready-made
// security attributes that grant everyone access, the host's event sink, and a registration
// in the running-object table when its window is asked for its object (WM_GETOBJECT).

#include <cstdint>
#include <memory>
#include <mutex>

#include "base/errors.h"
#include "platform/ole_automation.h"
#include "platform/ole_ptr.h"
#include "platform/root_window.h"
#include "platform/security.h"

// {7C2F5833-8F25-4298-B7DE-C8CBAFB80F53}: the root object's own interface.
inline constexpr IID IID_IRootObject = {0x7C2F5833, 0x8F25, 0x4298, {0xB7, 0xDE, 0xC8, 0xCB, 0xAF, 0xB8, 0x0F, 0x53}};
// {0A1B06F1-BFF2-4B10-9B5B-159937A1F35B}: the interface GetRootInterface hands out, and the
// class id of the running-object-table registration. A descendant provides it.
inline constexpr IID IID_IRootInterface = {0x0A1B06F1, 0xBFF2, 0x4B10, {0x9B, 0x5B, 0x15, 0x99, 0x37, 0xA1, 0xF3, 0x5B}};

inline constexpr uint32_t WM_GETOBJECT_MESSAGE = 0x3D;

struct IRootObject : public IUnknown {
  // The object as interface IID_IRootInterface; E_NOINTERFACE when it does not provide it.
  virtual HRESULT STDMETHODCALLTYPE GetRootInterface(IUnknown** Intf) = 0;
};

// True when the operating system belongs to the NT family (platform id 2).
bool IsWinNT();

class TRootObject : public IRootObject {
public:
  // Prepares the security records on NT-family systems; a failing system call raises
  // "<call name>\r\n<system text>" and the object is not created.
  TRootObject();
  virtual ~TRootObject();
  TRootObject(const TRootObject&) = delete;
  TRootObject& operator=(const TRootObject&) = delete;

  // IUnknown: the object's lifetime belongs to its owner, not to the count: AddRef and
  // Release do nothing and return -1.
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppvObject) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;
  HRESULT STDMETHODCALLTYPE GetRootInterface(IUnknown** Intf) override;

  [[noreturn]] void RaiseError(int32_t Code, const FormatArgs& Args) const { ::RaiseError(Code, Args); }
  [[noreturn]] void RaiseError(const AnsiString& Message) const { ::RaiseError(ERR_TEXT, {Message}); }

  // Releases the host's event sink; a failure while releasing is swallowed.
  void ClearHostLink();
  const ComPtr<IUnknown>& HostLink() const { return FHostLink; }
  void SetHostLink(IUnknown* Value) { FHostLink = Value; }

  // SECURITY_ATTRIBUTES* granting everyone access (nullptr when not prepared / on POSIX).
  void* SecurityAttributesRecord() const { return FSecurityAttributes->Native(); }
  const platform::SecurityAttributes& SecurityAttributes() const { return *FSecurityAttributes; }

  // The object's window (created on demand; none on POSIX) and its message handling.
  void* WindowHandle() { return FWindow->Handle(); }
  const platform::RootWindow& Window() const { return *FWindow; }
  intptr_t SendWindowMessage(uint32_t Message) { return FWindow->Send(Message, 0, 0); }

  // WM_GETOBJECT: registers the object's IID_IRootInterface in the running-object table
  // under that id as class id (strongly), once: later requests find the registration in
  // place. Returns the registration number, 0 when the object has no such interface.
  uint32_t WMGetObject();
  // Withdraws the registration (done by the destructor, so the table never holds an object
  // that is gone). Descendants whose interface goes before this base may call it earlier.
  void RevokeRegistration() noexcept;

protected:
  // Further interfaces of descendants: the interface pointer for riid, or nullptr.
  virtual void* GetInterface(REFIID riid);
  // A message of the object's window; true when handled.
  virtual bool WindowMessage(uint32_t Message, uintptr_t WParam, intptr_t LParam, intptr_t& Result);

  ComPtr<IUnknown> FHostLink;

private:
  std::unique_ptr<platform::SecurityAttributes> FSecurityAttributes;
  std::unique_ptr<platform::RootWindow> FWindow;
  std::mutex FRegistrationLock;
  DWORD FRegistration = 0;
};
