#pragma once
// Owners for OLE automation resources: interface references (ComPtr), strings (OleString),
// variants (OleVariant), safe arrays (SafeArrayPtr) and access to a safe array's data
// (SafeArrayDataLock). The same on every platform.

#include <concepts>
#include <cstdint>
#include <new>
#include <stdexcept>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>

#include "platform/ole_automation.h"

// A failed OLE call where no result code can be returned to the caller.
class OleError : public std::runtime_error {
 public:
  OleError(const char* what, HRESULT code) : std::runtime_error(what), code_(code) {}
  HRESULT Code() const { return code_; }

 private:
  HRESULT code_;
};

// Throws OleError when `hr` is a failure code.
inline void CheckOle(HRESULT hr, const char* what) {
  if (FAILED(hr)) throw OleError(what, hr);
}

// ---------------------------------------------------------------------------------------------
// An interface reference. Construction from a raw pointer and copying add a reference;
// Attach takes over one the caller already holds.
template <class T>
class ComPtr {
 public:
  ComPtr() = default;
  ComPtr(std::nullptr_t) {}
  ComPtr(T* p) : p_(p) {
    if (p_) p_->AddRef();
  }
  ComPtr(const ComPtr& other) : ComPtr(other.p_) {}
  ComPtr(ComPtr&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
  ~ComPtr() { Reset(); }

  ComPtr& operator=(const ComPtr& other) {
    ComPtr(other).Swap(*this);
    return *this;
  }
  ComPtr& operator=(ComPtr&& other) noexcept {
    ComPtr(std::move(other)).Swap(*this);
    return *this;
  }
  ComPtr& operator=(T* p) {
    ComPtr(p).Swap(*this);
    return *this;
  }
  ComPtr& operator=(std::nullptr_t) {
    Reset();
    return *this;
  }

  T* Get() const { return p_; }
  T* operator->() const { return p_; }
  T& operator*() const { return *p_; }
  explicit operator bool() const { return p_ != nullptr; }

  void Reset() {
    if (T* p = std::exchange(p_, nullptr)) p->Release();
  }
  // Takes over a reference the caller holds.
  void Attach(T* p) {
    Reset();
    p_ = p;
  }
  // Gives up the reference without releasing it.
  [[nodiscard]] T* Detach() { return std::exchange(p_, nullptr); }
  // Releases the current reference and returns the slot for an out parameter.
  T** Put() {
    Reset();
    return &p_;
  }
  void** PutVoid() { return reinterpret_cast<void**>(Put()); }
  // Hands out a new reference (for out parameters of our own interfaces).
  HRESULT CopyTo(T** out) const {
    if (!out) return E_POINTER;
    *out = p_;
    if (p_) p_->AddRef();
    return S_OK;
  }

  template <class U>
  HRESULT QueryInterface(REFIID iid, ComPtr<U>& out) const {
    if (!p_) return E_POINTER;
    return p_->QueryInterface(iid, out.PutVoid());
  }

  void Swap(ComPtr& other) noexcept { std::swap(p_, other.p_); }

  friend bool operator==(const ComPtr& a, const ComPtr& b) { return a.p_ == b.p_; }
  friend bool operator==(const ComPtr& a, std::nullptr_t) { return a.p_ == nullptr; }

 private:
  T* p_ = nullptr;
};

// ---------------------------------------------------------------------------------------------
// An owned BSTR. A null BSTR is the empty string, as OLE automation treats it.
class OleString {
 public:
  using View = std::basic_string_view<OLECHAR>;

  OleString() = default;
  explicit OleString(const OLECHAR* text) : s_(text ? Allocate(text, Length(text)) : nullptr) {}
  explicit OleString(View text) : s_(Allocate(text.data(), text.size())) {}
  OleString(const OleString& other) : s_(other.s_ ? Allocate(other.s_, other.Length()) : nullptr) {}
  OleString(OleString&& other) noexcept : s_(std::exchange(other.s_, nullptr)) {}
  ~OleString() { SysFreeString(s_); }

  OleString& operator=(OleString other) noexcept {
    std::swap(s_, other.s_);
    return *this;
  }

  // Takes over a BSTR the caller owns.
  static OleString Adopt(BSTR s) {
    OleString result;
    result.s_ = s;
    return result;
  }

  BSTR Get() const { return s_; }
  [[nodiscard]] BSTR Detach() { return std::exchange(s_, nullptr); }
  // Frees the current string and returns the slot for an out parameter.
  BSTR* Put() {
    SysFreeString(std::exchange(s_, nullptr));
    return &s_;
  }
  // A new BSTR with the same text, for handing out.
  [[nodiscard]] BSTR Copy() const { return s_ ? Allocate(s_, Length()) : nullptr; }

  UINT Length() const { return SysStringLen(s_); }
  bool Empty() const { return Length() == 0; }
  // The whole text, embedded zero units included.
  View Text() const { return s_ ? View(s_, Length()) : View(); }
  std::basic_string<OLECHAR> Str() const { return std::basic_string<OLECHAR>(Text()); }

 private:
  static size_t Length(const OLECHAR* text) {
    size_t n = 0;
    while (text[n]) ++n;
    return n;
  }
  static BSTR Allocate(const OLECHAR* text, size_t length) {
    BSTR s = SysAllocStringLen(text, static_cast<UINT>(length));
    if (!s) throw std::bad_alloc();
    return s;
  }

  BSTR s_ = nullptr;
};

// ---------------------------------------------------------------------------------------------
// An owned VARIANT. It is a VARIANT (derived, no extra fields), so &v can be passed where a
// VARIANT* is read; for out parameters use Put(), which clears the old value first.
class OleVariant : public VARIANT {
 public:
  using View = std::basic_string_view<OLECHAR>;

  OleVariant() { VariantInit(this); }
  OleVariant(const VARIANT& source) {
    VariantInit(this);
    CheckOle(VariantCopy(this, const_cast<VARIANT*>(&source)), "VariantCopy");
  }
  OleVariant(const OleVariant& other) : OleVariant(static_cast<const VARIANT&>(other)) {}
  OleVariant(OleVariant&& other) noexcept {
    *static_cast<VARIANT*>(this) = other;
    VariantInit(&other);
  }
  OleVariant(bool value) { SetBool(value); }
  template <std::integral I>
    requires(!std::same_as<I, bool>)
  OleVariant(I value) {
    SetInteger(value);
  }
  OleVariant(double value) {
    VariantInit(this);
    vt = VT_R8;
    dblVal = value;
  }
  OleVariant(const OLECHAR* text) { SetString(text ? View(text, Length(text)) : View()); }
  OleVariant(View text) { SetString(text); }
  OleVariant(const std::basic_string<OLECHAR>& text) { SetString(text); }
  OleVariant(const char*) = delete;  // 8-bit text must be converted to UTF-16 first
  // Adds a reference to the object.
  OleVariant(IDispatch* object) {
    VariantInit(this);
    vt = VT_DISPATCH;
    pdispVal = object;
    if (object) object->AddRef();
  }
  OleVariant(IUnknown* object) {
    VariantInit(this);
    vt = VT_UNKNOWN;
    punkVal = object;
    if (object) object->AddRef();
  }
  ~OleVariant() { VariantClear(this); }

  OleVariant& operator=(OleVariant other) noexcept {
    std::swap(*static_cast<VARIANT*>(this), *static_cast<VARIANT*>(&other));
    return *this;
  }

  static OleVariant Null() {
    OleVariant v;
    v.vt = VT_NULL;
    return v;
  }
  // Takes over a VARIANT the caller owns; the source is left empty.
  static OleVariant Adopt(VARIANT& source) {
    OleVariant v;
    *static_cast<VARIANT*>(&v) = source;
    VariantInit(&source);
    return v;
  }
  // Takes over an array (VT_ARRAY | element type) the caller owns.
  static OleVariant AdoptArray(SAFEARRAY* array, VARTYPE elementType) {
    OleVariant v;
    v.vt = static_cast<VARTYPE>(VT_ARRAY | elementType);
    v.parray = array;
    return v;
  }

  VARTYPE Type() const { return vt; }
  bool IsEmpty() const { return vt == VT_EMPTY; }
  bool IsNull() const { return vt == VT_NULL; }
  void Clear() { VariantClear(this); }
  VARIANT* Get() { return this; }
  const VARIANT* Get() const { return this; }
  // Clears the value and returns the slot for an out parameter.
  VARIANT* Put() {
    VariantClear(this);
    return this;
  }
  // Gives the value away; this variant becomes empty.
  [[nodiscard]] VARIANT Detach() {
    VARIANT result = *this;
    VariantInit(this);
    return result;
  }
  // Deep copy into `dest`, which must hold no value that needs freeing (it is overwritten).
  HRESULT CopyTo(VARIANT* dest) const {
    if (!dest) return E_POINTER;
    VariantInit(dest);
    return VariantCopy(dest, const_cast<OleVariant*>(this));
  }
  // Converts in place (numeric and boolean types; see VariantChangeType).
  HRESULT ChangeType(VARTYPE type) { return VariantChangeType(this, this, 0, type); }

 private:
  static size_t Length(const OLECHAR* text) {
    size_t n = 0;
    while (text[n]) ++n;
    return n;
  }
  void SetBool(bool value) {
    VariantInit(this);
    vt = VT_BOOL;
    boolVal = value ? VARIANT_TRUE : VARIANT_FALSE;
  }
  template <class I>
  void SetInteger(I value) {
    VariantInit(this);
    if constexpr (sizeof(I) < 4 || (sizeof(I) == 4 && std::is_signed_v<I>)) {
      vt = VT_I4;
      lVal = static_cast<LONG>(value);
    } else if constexpr (sizeof(I) == 4) {
      vt = VT_UI4;
      ulVal = static_cast<ULONG>(value);
    } else if constexpr (std::is_signed_v<I>) {
      vt = VT_I8;
      llVal = static_cast<LONGLONG>(value);
    } else {
      vt = VT_UI8;
      ullVal = static_cast<ULONGLONG>(value);
    }
  }
  void SetString(View text) {
    VariantInit(this);
    BSTR s = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
    if (!s) throw std::bad_alloc();
    vt = VT_BSTR;
    bstrVal = s;
  }
};

static_assert(sizeof(OleVariant) == sizeof(VARIANT), "OleVariant must stay layout-compatible");

// ---------------------------------------------------------------------------------------------
// An owned SAFEARRAY, destroyed with its elements.
class SafeArrayPtr {
 public:
  SafeArrayPtr() = default;
  explicit SafeArrayPtr(SAFEARRAY* array) : a_(array) {}
  SafeArrayPtr(const SafeArrayPtr&) = delete;
  SafeArrayPtr& operator=(const SafeArrayPtr&) = delete;
  SafeArrayPtr(SafeArrayPtr&& other) noexcept : a_(std::exchange(other.a_, nullptr)) {}
  SafeArrayPtr& operator=(SafeArrayPtr&& other) noexcept {
    if (this != &other) {
      Reset();
      a_ = std::exchange(other.a_, nullptr);
    }
    return *this;
  }
  ~SafeArrayPtr() { Reset(); }

  SAFEARRAY* Get() const { return a_; }
  explicit operator bool() const { return a_ != nullptr; }
  SAFEARRAY* operator->() const { return a_; }
  [[nodiscard]] SAFEARRAY* Detach() { return std::exchange(a_, nullptr); }
  void Reset(SAFEARRAY* array = nullptr) {
    if (SAFEARRAY* old = std::exchange(a_, array)) SafeArrayDestroy(old);
  }
  SAFEARRAY** Put() {
    Reset();
    return &a_;
  }
  // A deep copy (elements copied as SafeArrayCopy does).
  SafeArrayPtr Copy() const {
    SafeArrayPtr result;
    if (a_) CheckOle(SafeArrayCopy(a_, result.Put()), "SafeArrayCopy");
    return result;
  }

 private:
  SAFEARRAY* a_ = nullptr;
};

// ---------------------------------------------------------------------------------------------
// Direct access to a safe array's elements for the lifetime of the object.
class SafeArrayDataLock {
 public:
  explicit SafeArrayDataLock(SAFEARRAY* array) : a_(array) {
    CheckOle(SafeArrayAccessData(a_, &data_), "SafeArrayAccessData");
  }
  SafeArrayDataLock(const SafeArrayDataLock&) = delete;
  SafeArrayDataLock& operator=(const SafeArrayDataLock&) = delete;
  ~SafeArrayDataLock() { SafeArrayUnaccessData(a_); }

  void* Data() const { return data_; }
  template <class T>
  T* As() const {
    return static_cast<T*>(data_);
  }

 private:
  SAFEARRAY* a_;
  void* data_ = nullptr;
};
