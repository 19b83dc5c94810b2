#pragma once
// The parameter block (TParams, laid out in vestrel/plugin_abi.h) and the exception-safe
// call entry through which every host call reaches the driver.
//
// Values and references. A host may hand over any parameter as a VT_BYREF|VT_VARIANT
// reference to a variant of its own (automation callers pass every argument so), or as a
// by-reference simple value. Reading a parameter always gives a value of the plug-in's own
// (GetParam follows the one level of indirection automation allows); writing one stores a
// value, through the host's reference where there is one (SetParam), never a reference.

#include <cstddef>
#include <memory>

#include "platform/ole_automation.h"
#include "vestrel/plugin_abi.h"

// Frees a block the plug-in made: Destroy, then the block's memory.
struct TParamsDeleter {
  void operator()(TParams* block) const noexcept;
};
// The owner of a block the plug-in made; it frees the block with its chain and storage.
using TParamsPtr = std::unique_ptr<TParams, TParamsDeleter>;

// A new block of the plug-in's own, after Create.
TParamsPtr MakeParams();

// Hangs `next` behind `block` (freeing a plug-in block that was there before); the block
// owns it from now on.
void SetNextParams(TParams& block, TParamsPtr next);

// The longest chain of blocks a call may carry.
inline constexpr int32_t kMaxChainLength = 1000;

// Checks a chain a host handed over before anything reads it, and raises (ERR_TEXT) what is
// wrong: a chain that runs in a circle or past kMaxChainLength blocks; a record whose count
// lies outside 0..kOwnedArgumentCapacity or that has no elements for its count; a
// by-reference parameter with a null reference, or a reference to a reference.
void CheckHostChain(const TParams& first);
// True when the block's record passes those checks (it may then be read).
bool RecordIsSound(const TParams& block) noexcept;

// Parameter index where it stands, without a copy: the host's variant itself for a
// VT_BYREF|VT_VARIANT parameter. Valid until the block or the host's variant changes.
const VARIANT& ParamInPlace(const TParams& block, int32_t index);

// Raises what SetParam raises for a by-reference type it does not write through.
[[noreturn]] void RaiseUnsupportedParamType();

// Whether SetParam can store a value at index: false for a by-reference parameter of a type
// it does not write through (the call must then be refused before it changes anything).
bool CanSetParam(const TParams& block, int32_t index);

// Several parameters set at once: every value is converted to what its target takes before
// the first is stored, so a failing conversion leaves every parameter as it was.
struct TParamWrite {
  int32_t Index;
  const VARIANT* Value;
};
void SetParams(TParams& block, const TParamWrite* writes, size_t count);
// SetParam for a value the caller gives away: taken over where it can be (left empty), else
// copied.
void TakeParam(TParams& block, int32_t index, VARIANT& value);

// "__@@EventSupport"'s answer: the block cleared of its error and result, and `answer` as
// parameter 0. A host's record holding parameters takes it in its parameter 0 (through the
// host's reference); a block without one gets storage of the plug-in's, which
// FreeStorageAttachedToHostBlocks takes back.
void AnswerInParamZero(TParams& block, IUnknown* answer);
// The same for any value, which the call takes over (`answer` is left empty).
void AnswerValueInParamZero(TParams& block, VARIANT& answer);
// Frees the storage AnswerInParamZero gave to hosts' blocks ("__FRee", unloading). A host's
// block that still points at it must not be used again without a new record.
void FreeStorageAttachedToHostBlocks() noexcept;

// The process-wide call handler: the driver's dispatcher, installed by the driver object.
void SetCallHandler(TCallHandler handler) noexcept;
TCallHandler CallHandler() noexcept;

// The exception-safe call entry: holds the host-call lock for the whole call (one host call
// at a time), checks the chain (CheckHostChain), clears the block's error flag, runs the call
// handler on the chain and returns its result. Whatever the handler raises ends in the first
// block's error fields (SetException) and a false result; nothing leaves this function.
BOOL WINAPI SafeCallEntry(TParams* params, IUnknown* context) noexcept;
