#pragma once
// Roots of the device list and its items: a collection item that is also a reference-counted
// interface object, and the root collection and item that carry one interface reference.

#include <atomic>
#include <cstdint>
#include <exception>

#include "base/collection.h"
#include "base/errors.h"
#include "platform/ole_automation.h"
#include "platform/ole_ptr.h"

// A collection item whose lifetime is its reference count: it starts at 1 (the reference of
// its creator, given up with ReleaseItem) and the item frees itself when the count reaches 0.
// References may be taken and dropped from any thread.
class TCollectionItemInterface : public TCollectionItem, public IUnknown {
public:
  explicit TCollectionItemInterface(TCollection* Collection);

  // IUnknown: answers IUnknown and whatever GetInterface finds.
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppvObject) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;

  // Takes the item out of its collection and gives up the creator's reference, once: a
  // second call does nothing. The item is freed now unless someone else holds a reference.
  void ReleaseItem();
  bool Released() const { return FReleased.load(); }
  int32_t RefCount() const { return FRefCount.load(); }

  // A collection that deletes or clears the item releases it instead of freeing it.
  void Dispose() override { ReleaseItem(); }

protected:
  // Only the last Release frees the item.
  ~TCollectionItemInterface() override = default;

  // The class's interface table: the interface pointer for riid, or nullptr. Descendants
  // that implement further interfaces answer them here and ask their base otherwise.
  virtual void* GetInterface(REFIID riid);

  // Turns an exception caught in an interface method into the failure result, with the
  // thread's automation error information set to the exception's message (no help file,
  // empty interface id).
  static HRESULT SafeCallException(const std::exception& error);
  static HRESULT SafeCallException();

private:
  std::atomic<int32_t> FRefCount{1};
  std::atomic<bool> FReleased{false};
};

// Inside a catch handler of an interface operation of any object: the failure status of the
// exception in flight, with the thread's automation error information set to its message.
HRESULT InterfaceFailure() noexcept;

// Implements further interfaces on a reference-counted item: the IUnknown operations of
// every interface lead to the item's own.
//   class TDeviceItem : public TImplementsInterfaces<TRootCollectionItem, IDeviceItem> { ... };
template <typename Base, typename... Interfaces>
class TImplementsInterfaces : public Base, public Interfaces... {
public:
  using Base::Base;
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppvObject) override {
    return Base::QueryInterface(riid, ppvObject);
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return Base::AddRef(); }
  ULONG STDMETHODCALLTYPE Release() override { return Base::Release(); }

protected:
  ~TImplementsInterfaces() override = default;
};

// Root of the device items: one interface reference (the event sink of a device) and a tag.
class TRootCollectionItem : public TCollectionItemInterface {
public:
  explicit TRootCollectionItem(TCollection* Collection) : TCollectionItemInterface(Collection) {}

  const ComPtr<IUnknown>& Link() const { return FLink; }
  void SetLink(IUnknown* Value) { FLink = Value; }
  int32_t Tag() const { return FTag; }
  void SetTag(int32_t Value) { FTag = Value; }

protected:
  ~TRootCollectionItem() override = default;

  ComPtr<IUnknown> FLink;
  int32_t FTag = 0;
};

// Root of the device list: one interface reference (the list's event sink), released before
// the items go.
class TRootCollection : public TCollection {
public:
  explicit TRootCollection(TCollectionItemClass ItemClass) : TCollection(ItemClass) {}
  ~TRootCollection() override;

  [[noreturn]] void RaiseError(int32_t Code, const FormatArgs& Args) const { ::RaiseError(Code, Args); }

  const ComPtr<IUnknown>& Link() const { return FLink; }
  void SetLink(IUnknown* Value) { FLink = Value; }

protected:
  ComPtr<IUnknown> FLink;
};
