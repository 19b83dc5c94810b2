#pragma once
// The parameter block (TParams, laid out in vestrel/plugin_abi.h) and the exception-safe
// call entry through which every host call reaches the driver.

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

// The process-wide call handler: the driver's dispatcher, installed by the driver object.
void SetCallHandler(TCallHandler handler) noexcept;
TCallHandler CallHandler() noexcept;

// The exception-safe call entry: clears the block's error flag, runs the call handler on
// the chain and returns its result. Whatever the handler raises ends in the block's error
// fields (SetException) and a false result; nothing leaves this function.
BOOL WINAPI SafeCallEntry(TParams* params, IUnknown* context) noexcept;
