#pragma once
// Error codes with their Russian and English messages, and the exceptions that carry a
// code and a text up to the host boundary.

#include <cstdint>
#include <exception>
#include <initializer_list>
#include <string>
#include <variant>
#include <vector>

#include "platform/structured_exception.h"
#include "platform/text_codec.h"

// The runtime's base exception: a message in the host code page and a class name, which
// the automation boundary reports as the error source.
class Exception : public std::exception {
public:
  explicit Exception(AnsiString message) : FMessage(std::move(message)) {}
  const AnsiString& Message() const noexcept { return FMessage; }
  virtual const char* ClassName() const noexcept { return "Exception"; }
  const char* what() const noexcept override { return FMessage.c_str(); }

private:
  AnsiString FMessage;
};

// An operation that is not valid for the value at hand (unsupported variant types).
class EInvalidOperation : public Exception {
public:
  using Exception::Exception;
  const char* ClassName() const noexcept override { return "EInvalidOperation"; }
};

// A format pattern whose arguments do not fit its placeholders.
class EConvertError : public Exception {
public:
  using Exception::Exception;
  const char* ClassName() const noexcept override { return "EConvertError"; }
};

// The coded exception: an error code beside the message.
class EProtectException : public Exception {
public:
  EProtectException(int32_t code, AnsiString message) : Exception(std::move(message)), Code(code) {}
  const char* ClassName() const noexcept override { return "EProtectException"; }
  int32_t Code;
};

// Failures the device itself reports; classified like any EProtectException.
class EHardwareEquipmentException : public EProtectException {
public:
  using EProtectException::EProtectException;
  const char* ClassName() const noexcept override { return "EHardwareEquipmentException"; }
};

// The message of any exception in the host code page (std::exception texts are taken as they are;
// a structured exception is described in the user's language, see StructuredExceptionText).
AnsiString ExceptionMessage(const std::exception& error);
// The description of a structured exception (platform::CallGuarded) in the chosen language:
// its code and code address, for an access violation whether it read or wrote and the address
// accessed, for the host language's own exception code that the host raised it.
WideString StructuredExceptionText(const platform::StructuredException& error, bool russian);
// The class name reported as an error source.
const char* ExceptionClassName(const std::exception& error);

// Error codes of the shared table.
enum : int32_t {
  ERR_OK = 0,
  ERR_TEXT = 20000,
  ERR_EQUIPMENT_NOT_FOUND = 20001,
  ERR_INVALID_INDEX = 20002,
  ERR_INPUT_NOT_DEFINED = 20003,
  ERR_EQUIPMENT_NOT_DEFINED = 20004,
  ERR_INVALID_TASK_STATE = 20005,
  ERR_EXECUTION_TIMEOUT = 20006,
  ERR_WAIT_TIMEOUT = 20007,
  ERR_INVALID_PARAM_COUNT = 20008,
  ERR_TASK_NOT_FOUND = 20009,
  ERR_ACCESS_POINT_NOT_FOUND = 20010,
  ERR_EQUIPMENT_IN_USE = 20011,
  ERR_BAD_DATA_TYPE = 20014,
  ERR_ACCESS_POINT_EXISTS = 20020,
  ERR_METHOD_CALL = 20021,
  ERR_FOLDERS_NOT_DEFINED = 20022,
  ERR_CONFIG_STRUCTURE = 20023,
  ERR_LIBRARY_NOT_FOUND = 20024,
  ERR_APPLICATION_NOT_FOUND = 20025,
  ERR_CANCELLED = 20026,
  ERR_MODEL_NOT_FOUND = 20027,
  ERR_PARAM_STRUCTURE = 20028,
  ERR_PROPERTY_TYPE = 20029,
  ERR_EQUIPMENT_OFF = 20030,
  ERR_EQUIPMENT_LOCKED = 20031,
  ERR_DEVICE_NOT_READY = 20032,
  ERR_ACCESS_DENIED = 20033,
  ERR_MEMBER_NOT_FOUND = 20036,
  ERR_NO_GLOBAL_FOLDER = 20040,
  ERR_DUPLICATE_APPLICATION = 20041,
  ERR_DUPLICATE_ACCESS_POINT = 20042,
  ERR_NO_PORT = 20043,
  ERR_NO_CALL_POINT = 20045,
  ERR_SETTINGS_NOT_LOADED = 20047,
  ERR_PARAM_VALUE = 20048,
  ERR_WORKSTATION_NOT_FOUND = 20050,
  ERR_PORT_BUSY = 20051,
  ERR_DEVICE_DISABLED = 20052,
  ERR_INSUFFICIENT_RIGHTS = 20054,
  ERR_LIBRARY_OUTDATED = 20055,
  ERR_LIBRARY_INCOMPATIBLE = 20056,
  ERR_LIBRARY_LOAD = 20057,
  ERR_NO_PLUGIN_OBJECT = 20058,
  ERR_FILE_NOT_FOUND = 20061,
  ERR_EQUIPMENT_RUNNING = 20065,
  ERR_PROPERTY_NOT_FOUND = 20066,
  ERR_DEVICE_TEXT = 21000,
  ERR_SAFEARRAY_PARAM_COUNT = 21003,
  ERR_PARAM_TYPE = 21004,
  ERR_INVALID_PARAM_VALUE = 21005,
  ERR_FISCAL_DATA = 21010,
  ERR_FUNCTION_NOT_SUPPORTED = 21011,
  ERR_NETWORK_NO_ANSWER = 21012,
};

// One argument of a message pattern: a text (for %s) or an integer (for %d).
using FormatArg = std::variant<AnsiString, int64_t>;
using FormatArgs = std::vector<FormatArg>;

// Fills "%s" and "%d" placeholders in order ("%%" is a percent sign). A placeholder
// without an argument, or of the wrong kind, raises EConvertError.
AnsiString FormatText(std::string_view pattern, const FormatArgs& args);

// The message pattern of a code in the user's language (placeholders not filled in).
WideString ErrorMessageText(int32_t code);
// The same for an explicit language choice; ErrorMessageText asks the system which.
WideString ErrorMessageTextIn(int32_t code, bool russian);

// Raises EProtectException: for codes 20000..21999 with the table's message filled from
// args, for any other code with the first argument as the message.
[[noreturn]] void RaiseError(int32_t code, const FormatArgs& args);
[[noreturn]] void RaiseCodeError(int32_t code);
// RaiseError(ERR_TEXT, {text}): the most common form.
[[noreturn]] void RaiseText(const AnsiString& text);
