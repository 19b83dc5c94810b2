#include "config/vocabulary.h"

#include <utility>

#include "config/text_routines.h"

const std::array<TTagItem, 33> NodeNameTable = {{
    {0, OLESTR("Параметр"), OLESTR("ParamItem")},
    {1, OLESTR("Устройство"), OLESTR("EquItem")},
    {2, OLESTR("Система"), OLESTR("System")},
    {3, OLESTR("Решения"), OLESTR("ProductList")},
    {4, OLESTR("Решение"), OLESTR("Product")},
    {5, OLESTR("То4киДоступа"), OLESTR("APList")},
    {6, OLESTR("То4каДоступа"), OLESTR("APItem")},
    {7, OLESTR("КлассыОборудования"), OLESTR("ModelList")},
    {8, OLESTR("КлассОборудования"), OLESTR("ModelItem")},
    {9, OLESTR("Модель"), OLESTR("Model")},
    {10, OLESTR("Параметры"), OLESTR("ParamList")},
    {11, OLESTR("Оборудование"), OLESTR("EquList")},
    {12, OLESTR("ColorItem"), OLESTR("ColorItem")},
    {13, OLESTR("МодельИЭкземпляр"), OLESTR("ModelAndEqu")},
    {14, OLESTR("/Система/Решения/Решение/То4киДоступа/То4каДоступа"), OLESTR("/System/ProductList/Product/APList/APItem")},
    {15, OLESTR("./Параметры/Параметр"), OLESTR("./ParamList/ParamItem")},
    {16, OLESTR("/Система/Оборудование/Устройство"), OLESTR("/System/EquList/EquItem")},
    {17, OLESTR("/Система/КлассыОборудования/КлассОборудования"), OLESTR("/System/ModelList/ModelItem")},
    {18, OLESTR("//Параметры/Параметр"), OLESTR("//ParamList/ParamItem")},
    {19, OLESTR("/Система/КлассыОборудования/КлассОборудования/Модель"), OLESTR("/System/ModelList/ModelItem/Model")},
    {20, OLESTR("/Система"), OLESTR("/System")},
    {21, OLESTR("/Система/Оборудование/Устройство/Параметры/Параметр"), OLESTR("/System/EquList/EquItem/ParamList/ParamItem")},
    {22, OLESTR("/Система/Оборудование"), OLESTR("/System/EquList")},
    {23, OLESTR("/Система/КлассыОборудования"), OLESTR("/System/ModelList")},
    {24, OLESTR("./То4киДоступа/То4каДоступа"), OLESTR("./APList/APItem")},
    {25, OLESTR("/Система/Решения/Решение"), OLESTR("/System/ProductList/Product")},
    {26, OLESTR("/Система/Решения"), OLESTR("/System/ProductList")},
    {27, OLESTR("//Модель"), OLESTR("//Model")},
    {28, OLESTR("//Устройство"), OLESTR("//EquItem")},
    {29, OLESTR("/Система/КлассыОборудования/КлассОборудования%s/Модель"), OLESTR("/System/ModelList/ModelItem%s/Model")},
    {30, OLESTR("/Система/Решения/Решение%s/То4киДоступа/То4каДоступа"), OLESTR("/System/ProductList/Product%s/APList/APItem")},
    {31, OLESTR("Author"), OLESTR("Author")},
    {32, OLESTR("/Система/Author"), OLESTR("/System/Author")},
}};

const std::array<TTagItem, 31> AttrNameTable = {{
    {100, OLESTR("Код"), OLESTR("Id")},
    {101, OLESTR("Идентификатор"), OLESTR("Identif")},
    {102, OLESTR("Зна4ение"), OLESTR("Value")},
    {103, OLESTR("Наименование"), OLESTR("Name")},
    {104, OLESTR("Тип"), OLESTR("Type")},
    {105, OLESTR("ФлагТолько4тение"), OLESTR("ReadOnly")},
    {106, OLESTR("Зна4ениеПоУмол4анию"), OLESTR("Default")},
    {107, OLESTR("Описание"), OLESTR("Hint")},
    {108, OLESTR("Версия"), OLESTR("Ver")},
    {109, OLESTR("КодМодели"), OLESTR("ModelId")},
    {110, OLESTR("КодТо4киДоступа"), OLESTR("APId")},
    {111, OLESTR("Порт"), OLESTR("Port")},
    {112, OLESTR("ОбщийКаталог"), OLESTR("CF")},
    {113, OLESTR("СерверСинхронизации"), OLESTR("Server")},
    {114, OLESTR("ИмяМодуля"), OLESTR("Module")},
    {115, OLESTR("Состояние"), OLESTR("State")},
    {116, OLESTR("Компьютер"), OLESTR("Comp")},
    // Unused position, kept so that every entry's number equals its position.
    {117, OLESTR(""), OLESTR("")},
    {118, OLESTR("Библиотека"), OLESTR("Plu")},
    {119, OLESTR("ИспользуетQuen"), OLESTR("UseQuen")},
    {120, OLESTR("ВерсияPLU"), OLESTR("PluVer")},
    {121, OLESTR("Релиз"), OLESTR("Release")},
    {122, OLESTR("-"), OLESTR("-")},
    {123, OLESTR("ColorForm"), OLESTR("ColorForm")},
    {124, OLESTR("ColorBody"), OLESTR("ColorBody")},
    {125, OLESTR("ColorButton"), OLESTR("ColorButton")},
    {126, OLESTR("ColorEdit"), OLESTR("ColorEdit")},
    {127, OLESTR("ColorBorder"), OLESTR("ColorBorder")},
    {128, OLESTR("ColorFont"), OLESTR("ColorFont")},
    {129, OLESTR("-"), OLESTR("-")},
    {130, OLESTR("Preference"), OLESTR("Preference")},
}};

namespace {

// Standard and legacy spellings, in the order the replacements run. The delimiters belong
// to the patterns: "<" and ">" limit steps 1 and 2 to tags, the leading blank and the
// trailing "=" limit steps 3 to 6 to attribute names.
struct LegacyPair {
  const char* Standard;
  const char* Legacy;
};

constexpr LegacyPair kLegacyPairs[] = {
    {"ТочкиДоступа>", "То4киДоступа>"},
    {"<ТочкаДоступа", "<То4каДоступа"},
    {" ФлагТолькоЧтение=", " ФлагТолько4тение="},
    {" ЗначениеПоУмолчанию=", " Зна4ениеПоУмол4анию="},
    {" КодТочкиДоступа=", " КодТо4киДоступа="},
    {" Значение=", " Зна4ение="},
};

}  // namespace

void ConvertLegacyNames(AnsiString& Text, TLegacyDirection Direction) {
  for (const LegacyPair& pair : kLegacyPairs) {
    AnsiString from = AnsiFromUtf8(pair.Standard), to = AnsiFromUtf8(pair.Legacy);
    if (Direction == TLegacyDirection::ToStandard) std::swap(from, to);
    Text = ReplaceText(Text, from, to, false);
  }
}
