#include "base/errors.h"

#include <array>
#include <cctype>
#include <charconv>
#include <cinttypes>
#include <cstdio>
#include <optional>
#include <new>
#include <typeinfo>

#include "platform/user_language.h"

namespace {

struct TErrorText {
  int32_t Code;
  const char* Russian;  // UTF-8
  const char* English;  // nullptr: the English table has no entry
};

// "\r\n" stands for the two characters carriage return and line feed, as the host shows them.
constexpr TErrorText kErrorTexts[] = {
    {ERR_OK, "Ok", "Ok"},
    {ERR_TEXT, "%s", "%s"},
    {ERR_EQUIPMENT_NOT_FOUND, "Оборудование не найдено [%s].", "The equipment not found [%s]."},
    {ERR_INVALID_INDEX, "Неверный номер элемента массива.", "Invalid index."},
    {ERR_INPUT_NOT_DEFINED, "Входные данные для выполнения задания не определены.", "Input data not defined."},
    {ERR_EQUIPMENT_NOT_DEFINED, "Оборудование не определено.", "The equipment not defined."},
    {ERR_INVALID_TASK_STATE, "Неверное состояние задачи для вызываемой операции [%s] Операция [%s].", "Invalid task state [%s] Action [%s]."},
    {ERR_EXECUTION_TIMEOUT, "Ошибка времени исполнения [%s].", "Executing timeout [%s]."},
    {ERR_WAIT_TIMEOUT, "Превышено время ожидания [%s].", "Waiting timeout [%s]."},
    {ERR_INVALID_PARAM_COUNT, "Неверное количество параметров для Invoke.", "Invalid params count."},
    {ERR_TASK_NOT_FOUND, "Не найдена задача с указанным идентификатором [%s]", "The task not found [%s]."},
    {ERR_ACCESS_POINT_NOT_FOUND, "Точка доступа не найдена [%s]", "The access point not found [%s]"},
    {ERR_EQUIPMENT_IN_USE, "Оборудование уже используется.", "The equipment already used."},
    {ERR_BAD_DATA_TYPE, "Неподдерживаемый тип данных.", "Bad data type."},
    {ERR_ACCESS_POINT_EXISTS, "Точка доступа с указанными параметрами уже существует.", "The point of access with the specified parameters already exists ."},
    {ERR_METHOD_CALL, "Ошибка вызова метода [%s]", "Mistake by a call of a method [%s]"},
    {ERR_FOLDERS_NOT_DEFINED, "Ошибка конфигурации - общий или локальный каталог неопределены.", "Mistake of a configuration - the global or local folder are not certain."},
    {ERR_CONFIG_STRUCTURE, "Ошибка структуры конфигурационного файла %s", "Mistake of structure of a configuration file %s"},
    {ERR_LIBRARY_NOT_FOUND, "Не найдена библиотека оборудования [%s]", "The library of the equipment is not found [%s]"},
    {ERR_APPLICATION_NOT_FOUND, "Решение не найдено [%s]", "The application is not found  [%s]"},
    {ERR_CANCELLED, "Операция прервана", "Operation is canceled"},
    {ERR_MODEL_NOT_FOUND, "Модель оборудования не найдена [%s]", "The model of the equipment is not found  [%s]"},
    {ERR_PARAM_STRUCTURE, "Неверная структура параметра", "Incorrect structure of parameter"},
    {ERR_PROPERTY_TYPE, "Неверный тип свойства [%s]", "Incorrect type of property [%s]"},
    {ERR_EQUIPMENT_OFF, "Оборудование выключено.", "The equipment is switched off."},
    {ERR_EQUIPMENT_LOCKED, "Оборудование заблокировано другой задачей.", "The equipment is blocked by other task."},
    {ERR_DEVICE_NOT_READY, "Устройство не готово: - не включен компьютер [%s] или с ним нет связи.\r\nВозможная причина - установленное программное обеспечение (firewall) блокирует сетевое соединение.", "The device is not ready: - the computer [%s] is not included or with it there is no communication. \r\n the possible reason - the established software (firewall) blocks network connection."},
    {ERR_ACCESS_DENIED, "Доступ к оборудованию запрещен. Возможная причина - не найдена библиотека управления оборудованием.\r\nОборудование: [%s]", "Access to the equipment is forbidden. The possible reason - is not found library of management by the equipment. \r\n The equipment : [%s]"},
    {ERR_MEMBER_NOT_FOUND, "Метод/Свойство [%s] не обнаружено", "Method/property [%s] it is not revealed"},
    {ERR_NO_GLOBAL_FOLDER, "Нет доступа к общему каталогу.", "There is no access to the global folder."},
    {ERR_DUPLICATE_APPLICATION, "Ошибка конфигурационного файла:\r\nдублирование описания решения.", "Mistake of a configuration file:\r\nduplication of the description of the application."},
    {ERR_DUPLICATE_ACCESS_POINT, "Ошибка конфигурационного файла:\r\nдублирование описания рабочей точки.", "Mistake of a configuration file: \r\n duplication of the description of a access point ."},
    {ERR_NO_PORT, "Не указан номер порта.", "Number of port is not specified."},
    {ERR_NO_CALL_POINT, "Не указана точка вызова оборудования.", "The point of a call of the equipment is not specified ."},
    {ERR_SETTINGS_NOT_LOADED, "Не удалось загрузить настройки", "It was not possible to load settings"},
    {ERR_PARAM_VALUE, "Неверное значение параметра", "Incorrect value of parameter "},
    {ERR_WORKSTATION_NOT_FOUND, "Компьютер с именем [%s] не найден, или недоступен", "The workstation [%s] not fount."},
    {ERR_PORT_BUSY, "Порт [%s] сервера управления оборудования занят другой программой.", "Port [%s] is already used."},
    {ERR_DEVICE_DISABLED, "Устройство помечено в системе как неиспользуемое в настоящее время, обращения к нему заблокированы", "The device is marked in system as not now in use, references to it are blocked."},
    {ERR_INSUFFICIENT_RIGHTS, "%s\r\nНедостаточно прав пользователя.", nullptr},
    {ERR_LIBRARY_OUTDATED, "Библиотека [%s] устарела. Необходимо обновление.", nullptr},
    {ERR_LIBRARY_INCOMPATIBLE, "Библиотека несовместима с данной версией программы.", nullptr},
    {ERR_LIBRARY_LOAD, "Ошибка загрузки библиотеки: %s\r\nПричина: %s", nullptr},
    {ERR_NO_PLUGIN_OBJECT, "PluInfo не доступна, Объект DLL не создан.", nullptr},
    {ERR_FILE_NOT_FOUND, "Файл с именем [%s] не найден!", nullptr},
    {ERR_EQUIPMENT_RUNNING, "Редактирование или удаление работающего оборудования запрещено.\r\nНеобходимо выключить оборудование и повторить операцию.\r\n[ID:%s]", nullptr},
    {ERR_PROPERTY_NOT_FOUND, "Свойство [%s] не обнаружено", "Property [%s] it is not revealed"},
    {ERR_DEVICE_TEXT, "%s", "%s"},
    {ERR_SAFEARRAY_PARAM_COUNT, "Неверное количество параметров в SafeArray", "Incorrect quantity of parameters in SafeArray "},
    {ERR_PARAM_TYPE, "Недопустимый тип параметра", "Incorrect type of parameter "},
    {ERR_INVALID_PARAM_VALUE, "Недопустимое значение параметра", "Incorrect value of parameter "},
    {ERR_FISCAL_DATA, "Ошибка получения фискальных реквизитов", "Mistake of reception of fiscal requisites."},
    {ERR_FUNCTION_NOT_SUPPORTED, "Функция \"%s\" не поддерживается текущим ФР", "Function \"%s\" is not supported by the current FR"},
    {ERR_NETWORK_NO_ANSWER, "Сетевое оборудование не отвечает.", nullptr},
};

constexpr int32_t kFirstTableCode = 20000;
constexpr int32_t kLastTableCode = 21999;

const TErrorText* FindErrorText(int32_t code) {
  for (const auto& entry : kErrorTexts) {
    if (entry.Code == code) {
      return &entry;
    }
  }
  return nullptr;
}

[[noreturn]] void RaiseFormatError(std::string_view pattern) {
  throw EConvertError("Format '" + AnsiString(pattern) + "' invalid or incompatible with argument");
}

struct FormatSpec {
  bool leftJustify = false;
  size_t width = 0;
  std::optional<size_t> precision;
  char type = 0;
};

// Reads "[-][width][.precision]type" after a percent sign; returns false when malformed.
bool ParseFormatSpec(std::string_view pattern, size_t& pos, FormatSpec& spec) {
  auto readNumber = [&](size_t& value) {
    const size_t begin = pos;
    while (pos < pattern.size() && pattern[pos] >= '0' && pattern[pos] <= '9') {
      value = value * 10 + static_cast<size_t>(pattern[pos] - '0');
      ++pos;
    }
    return pos > begin;
  };
  if (pos < pattern.size() && pattern[pos] == '-') {
    spec.leftJustify = true;
    ++pos;
  }
  readNumber(spec.width);
  if (pos < pattern.size() && pattern[pos] == '.') {
    ++pos;
    size_t precision = 0;
    readNumber(precision);
    spec.precision = precision;
  }
  if (pos >= pattern.size()) {
    return false;
  }
  spec.type = pattern[pos++];
  return true;
}

AnsiString FormatInteger(int64_t value, const FormatSpec& spec) {
  std::array<char, 32> buffer{};
  const bool hex = spec.type == 'x' || spec.type == 'X';
  const uint64_t magnitude = value < 0 && !hex ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
  auto [end, error] = std::to_chars(buffer.data(), buffer.data() + buffer.size(), magnitude, hex ? 16 : 10);
  AnsiString digits(buffer.data(), end);
  if (spec.type == 'X') {
    for (char& ch : digits) {
      ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
    }
  }
  // The precision of an integer is its minimum number of digits.
  if (spec.precision && digits.size() < *spec.precision) {
    digits.insert(0, *spec.precision - digits.size(), '0');
  }
  if (value < 0 && !hex) {
    digits.insert(0, 1, '-');
  }
  return digits;
}

AnsiString FormatOne(std::string_view pattern, const FormatSpec& spec, const FormatArg* arg) {
  if (arg == nullptr) {
    RaiseFormatError(pattern);
  }
  AnsiString text;
  switch (spec.type) {
    case 's':
    case 'S': {
      const auto* value = std::get_if<AnsiString>(arg);
      if (value == nullptr) {
        RaiseFormatError(pattern);
      }
      text = spec.precision ? value->substr(0, *spec.precision) : *value;
      break;
    }
    case 'd':
    case 'D':
    case 'u':
    case 'U':
    case 'x':
    case 'X': {
      const auto* value = std::get_if<int64_t>(arg);
      if (value == nullptr) {
        RaiseFormatError(pattern);
      }
      text = FormatInteger(*value, spec);
      break;
    }
    default:
      RaiseFormatError(pattern);
  }
  if (text.size() < spec.width) {
    const AnsiString padding(spec.width - text.size(), ' ');
    text = spec.leftJustify ? text + padding : padding + text;
  }
  return text;
}

bool UserPrefersRussian() { return (UserDefaultLanguageId() & 0xFF) == kPrimaryLanguageRussian; }

WideString UnknownCodeText(int32_t code, bool russian) {
  if (russian) {
    return WideFromUtf8("Неизвестная ошибка (Код = " + std::to_string(code) + ")!");
  }
  return WideFromUtf8("Unknown error (Code = " + std::to_string(code) + ")!");
}

}  // namespace

AnsiString FormatText(std::string_view pattern, const FormatArgs& args) {
  AnsiString out;
  out.reserve(pattern.size());
  size_t nextArg = 0;
  size_t pos = 0;
  while (pos < pattern.size()) {
    const char ch = pattern[pos++];
    if (ch != '%') {
      out += ch;
      continue;
    }
    if (pos < pattern.size() && pattern[pos] == '%') {
      out += '%';
      ++pos;
      continue;
    }
    FormatSpec spec;
    if (!ParseFormatSpec(pattern, pos, spec)) {
      RaiseFormatError(pattern);
    }
    const FormatArg* arg = nextArg < args.size() ? &args[nextArg] : nullptr;
    out += FormatOne(pattern, spec, arg);
    ++nextArg;
  }
  return out;
}

WideString ErrorMessageTextIn(int32_t code, bool russian) {
  const TErrorText* entry = FindErrorText(code);
  if (russian) {
    return entry != nullptr ? WideFromUtf8(entry->Russian) : UnknownCodeText(code, true);
  }
  if (entry != nullptr && entry->English != nullptr) {
    return WideFromUtf8(entry->English);
  }
  return UnknownCodeText(code, false);
}

WideString ErrorMessageText(int32_t code) {
  return ErrorMessageTextIn(code, UserPrefersRussian());
}

void RaiseError(int32_t code, const FormatArgs& args) {
  if (code >= kFirstTableCode && code <= kLastTableCode) {
    const AnsiString pattern = AnsiFromWide(ErrorMessageText(code));
    throw EProtectException(code, FormatText(pattern, args));
  }
  throw EProtectException(code, FormatText("%s", args));
}

void RaiseCodeError(int32_t code) { RaiseError(code, {}); }

void RaiseText(const AnsiString& text) { RaiseError(ERR_TEXT, {text}); }

namespace {

// An address as the host writes it: "0x" and as many upper-case digits as a pointer has.
std::string AddressText(const void* address) {
  char text[2 + 2 * sizeof(void*) + 1];
  std::snprintf(text, sizeof(text), "0x%0*" PRIXPTR, static_cast<int>(2 * sizeof(void*)),
                reinterpret_cast<uintptr_t>(address));
  return text;
}

}  // namespace

WideString StructuredExceptionText(const platform::StructuredException& error, bool russian) {
  char code[11];
  std::snprintf(code, sizeof(code), "0x%08" PRIX32, error.Code());
  std::string text = std::string(russian ? "Системное исключение " : "System exception ") + code +
                     (russian ? " по адресу " : " at address ") + AddressText(error.Address());
  if (error.IsAccessViolation()) {
    if (russian) {
      text += std::string(": нарушение доступа при ") + (error.IsWrite() ? "записи" : "чтении") + " по адресу ";
    } else {
      text += std::string(": access violation ") + (error.IsWrite() ? "writing" : "reading") + " address ";
    }
    text += AddressText(error.FaultAddress());
  } else if (error.Code() == platform::kHostLanguageExceptionCode) {
    text += russian ? ": исключение приложения-хоста" : ": an exception of the host application";
  }
  return WideFromUtf8(text);
}

AnsiString ExceptionMessage(const std::exception& error) {
  if (const auto* own = dynamic_cast<const Exception*>(&error)) {
    return own->Message();
  }
  if (const auto* structured = dynamic_cast<const platform::StructuredException*>(&error)) {
    return AnsiFromWide(StructuredExceptionText(*structured, UserPrefersRussian()));
  }
  return error.what();
}

const char* ExceptionClassName(const std::exception& error) {
  if (const auto* own = dynamic_cast<const Exception*>(&error)) {
    return own->ClassName();
  }
  if (const auto* structured = dynamic_cast<const platform::StructuredException*>(&error)) {
    // The host language's names for these failures.
    return structured->IsAccessViolation() ? "EAccessViolation" : "EExternalException";
  }
  if (dynamic_cast<const std::bad_alloc*>(&error) != nullptr) {
    return "EOutOfMemory";
  }
  return "Exception";
}
