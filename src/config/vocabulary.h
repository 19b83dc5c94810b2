#pragma once
// The configuration vocabulary: element names and XPath paths (numbers 0..32) and attribute
// names (numbers 100..130) of the configuration documents, and the conversion between the
// standard spelling of a few names and their legacy spelling with the digit 4 for "ч".

#include <array>
#include <cstdint>

#include "platform/text_codec.h"

struct TTagItem {
  int32_t Index;         // the entry's number, equal to its position
  const OLECHAR* Name;   // the name written into and searched in documents
  const OLECHAR* Alias;  // the Latin name kept beside it (never read by the plug-in)
};

// Element names and paths.
enum : int32_t {
  NODE_PARAM_ITEM = 0,             // "Параметр"
  NODE_EQU_ITEM = 1,               // "Устройство"
  NODE_SYSTEM = 2,                 // "Система"
  NODE_PRODUCT_LIST = 3,           // "Решения"
  NODE_PRODUCT = 4,                // "Решение"
  NODE_AP_LIST = 5,                // "То4киДоступа"
  NODE_AP_ITEM = 6,                // "То4каДоступа"
  NODE_MODEL_LIST = 7,             // "КлассыОборудования"
  NODE_MODEL_ITEM = 8,             // "КлассОборудования"
  NODE_MODEL = 9,                  // "Модель"
  NODE_PARAM_LIST = 10,            // "Параметры"
  NODE_EQU_LIST = 11,              // "Оборудование"
  NODE_COLOR_ITEM = 12,            // "ColorItem"
  NODE_MODEL_AND_EQU = 13,         // "МодельИЭкземпляр"
  PATH_AP_ITEMS = 14,              // access points of every product
  PATH_OWN_PARAMS = 15,            // "./Параметры/Параметр"
  PATH_EQU_ITEMS = 16,             // devices of the system
  PATH_MODEL_ITEMS = 17,           // equipment classes of the system
  PATH_ANY_PARAMS = 18,            // "//Параметры/Параметр"
  PATH_MODELS = 19,                // models of every equipment class
  PATH_SYSTEM = 20,                // "/Система"
  PATH_EQU_PARAMS = 21,            // parameters of every device
  PATH_EQU_LIST = 22,              // "/Система/Оборудование"
  PATH_MODEL_LIST = 23,            // "/Система/КлассыОборудования"
  PATH_OWN_AP_ITEMS = 24,          // "./То4киДоступа/То4каДоступа"
  PATH_PRODUCTS = 25,              // "/Система/Решения/Решение"
  PATH_PRODUCT_LIST = 26,          // "/Система/Решения"
  PATH_ANY_MODEL = 27,             // "//Модель"
  PATH_ANY_EQU_ITEM = 28,          // "//Устройство"
  PATH_FILTERED_MODELS = 29,       // models, %s = predicate on the equipment class
  PATH_FILTERED_AP_ITEMS = 30,     // access points, %s = predicate on the product
  NODE_AUTHOR = 31,                // "Author"
  PATH_AUTHOR = 32,                // "/Система/Author"
};

// Attribute names.
enum : int32_t {
  ATTR_ID = 100,                   // "Код"
  ATTR_IDENTIF = 101,              // "Идентификатор"
  ATTR_VALUE = 102,                // "Зна4ение"
  ATTR_NAME = 103,                 // "Наименование"
  ATTR_TYPE = 104,                 // "Тип"
  ATTR_READ_ONLY = 105,            // "ФлагТолько4тение"
  ATTR_DEFAULT = 106,              // "Зна4ениеПоУмол4анию"
  ATTR_HINT = 107,                 // "Описание"
  ATTR_VERSION = 108,              // "Версия"
  ATTR_MODEL_ID = 109,             // "КодМодели"
  ATTR_AP_ID = 110,                // "КодТо4киДоступа"
  ATTR_PORT = 111,                 // "Порт"
  ATTR_COMMON_FOLDER = 112,        // "ОбщийКаталог"
  ATTR_SYNC_SERVER = 113,          // "СерверСинхронизации"
  ATTR_MODULE = 114,               // "ИмяМодуля"
  ATTR_STATE = 115,                // "Состояние"
  ATTR_COMPUTER = 116,             // "Компьютер"
  ATTR_UNUSED = 117,               // no name
  ATTR_LIBRARY = 118,              // "Библиотека"
  ATTR_USE_QUEN = 119,             // "ИспользуетQuen"
  ATTR_PLU_VERSION = 120,          // "ВерсияPLU"
  ATTR_RELEASE = 121,              // "Релиз"
  ATTR_PARENT_IDENTIF = 122,       // "-": in filters, attribute 101 of the parent element
  ATTR_COLOR_FORM = 123,
  ATTR_COLOR_BODY = 124,
  ATTR_COLOR_BUTTON = 125,
  ATTR_COLOR_EDIT = 126,
  ATTR_COLOR_BORDER = 127,
  ATTR_COLOR_FONT = 128,
  ATTR_PARENT_ID = 129,            // "-": in filters, attribute 100 of the parent element
  ATTR_PREFERENCE = 130,
};

inline constexpr int32_t kFirstNodeIndex = 0, kLastNodeIndex = 32;
inline constexpr int32_t kFirstAttrIndex = 100, kLastAttrIndex = 130;

extern const std::array<TTagItem, 33> NodeNameTable;
extern const std::array<TTagItem, 31> AttrNameTable;

enum class TLegacyDirection { ToLegacy, ToStandard };

// Rewrites the names that have a legacy spelling, in place, over the 8-bit (host code page)
// form of an XML text: six replacements one after the other, each over the whole text,
// Latin letters folded and Cyrillic letters matched exactly. Characters the code page cannot
// hold are already lost in the 8-bit form.
void ConvertLegacyNames(AnsiString& Text, TLegacyDirection Direction);
