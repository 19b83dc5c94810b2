#include "devices/scanner_definitions.h"

// The texts stand exactly as hosts know them (hosts compare them), including the spelling
// of the second description.
std::array<TPropertyDefinition, 2> ScannerBaseDefinitions(const void* Handler) {
  return {
      MakePropertyDefinition("Использовать", "", "Использовать", "Integer", false, "1",
                             "Признак того, что данное устройство может быть использовано (включено выключено и т.д.)\r\nДопустимые значения: 0 - не может быть использовано, 1 - может",
                             Handler),
      MakePropertyDefinition("Неразделяемое", "", "Неразделяемое", "Integer", false, "0",
                             "Поведение оборудования при нескольких запушенных копий продукта на одной машине или в терминальной сессии\r\nЗначение: 0 – Оборудование создается только на главной сессии;\r\n1 – Каждый экземпляр точки доступа создает свое локальное оборудование",
                             Handler),
  };
}
