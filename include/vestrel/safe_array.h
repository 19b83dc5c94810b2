#pragma once
// The two-dimensional array object (tables of variants, rows X and columns Y from 0) as a
// host reaches it early-bound: ISafeArray, identifier IID_ISafeArray (vestrel/plugin_abi.h).
// The plug-in hands such objects to the host and accepts them as arguments.
#include "vestrel/ole_types.h"

// The early-bound interface (dual: IDispatch first). The slot order is part of the contract
// with the host; every operation returns S_OK or a failure status whose description is set
// as the thread's automation error information.
struct ISafeArray : public IDispatch {
  virtual HRESULT STDMETHODCALLTYPE SetBounds(LONG X, LONG Y) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetValue(LONG X, LONG Y, VARIANT Value) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetPSA(SAFEARRAY** Result) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetVarType(LONG* Result) = 0;
  virtual HRESULT STDMETHODCALLTYPE IsEmpty(LONG* Result) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetPSA(SAFEARRAY* Value) = 0;
  virtual HRESULT STDMETHODCALLTYPE SetPSAOfType(SAFEARRAY* Value, LONG VarType) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetBounds(LONG* X, LONG* Y) = 0;
  virtual HRESULT STDMETHODCALLTYPE SaveToFile(BSTR FileName, VARIANT_BOOL* Done) = 0;
  virtual HRESULT STDMETHODCALLTYPE LoadFromFile(BSTR FileName, VARIANT_BOOL* Done) = 0;
  virtual HRESULT STDMETHODCALLTYPE LoadFromFileAsStream(BSTR FileName, VARIANT_BOOL* Done) = 0;
  virtual HRESULT STDMETHODCALLTYPE SaveToFileAsStream(BSTR FileName, VARIANT_BOOL* Done) = 0;
  virtual HRESULT STDMETHODCALLTYPE GetValue(LONG X, LONG Y, VARIANT* Value) = 0;
};
