#include "base/errors.h"

#include <gtest/gtest.h>

#include "platform/user_language.h"

namespace {

std::string Utf8(const WideString& text) { return Utf8FromWide(text); }

bool UserIsRussian() { return (UserDefaultLanguageId() & 0xFF) == kPrimaryLanguageRussian; }

template <typename Fn>
EProtectException CaptureProtect(Fn&& fn) {
  try {
    fn();
  } catch (const EProtectException& error) {
    return error;
  }
  ADD_FAILURE() << "no EProtectException raised";
  return EProtectException(-1, "");
}

TEST(ErrorMessageText, CodeZeroIsOkInBothLanguages) {
  EXPECT_EQ(Utf8(ErrorMessageTextIn(ERR_OK, true)), "Ok");
  EXPECT_EQ(Utf8(ErrorMessageTextIn(ERR_OK, false)), "Ok");
}

TEST(ErrorMessageText, TextsAreReproducedWithTheirSpacing) {
  EXPECT_EQ(Utf8(ErrorMessageTextIn(ERR_APPLICATION_NOT_FOUND, false)), "The application is not found  [%s]");
  EXPECT_EQ(Utf8(ErrorMessageTextIn(ERR_NO_CALL_POINT, false)),
            "The point of a call of the equipment is not specified .");
  EXPECT_EQ(Utf8(ErrorMessageTextIn(ERR_PARAM_VALUE, false)), "Incorrect value of parameter ");
  EXPECT_EQ(Utf8(ErrorMessageTextIn(ERR_DUPLICATE_ACCESS_POINT, false)),
            "Mistake of a configuration file: \r\n duplication of the description of a access point .");
  EXPECT_EQ(Utf8(ErrorMessageTextIn(ERR_EQUIPMENT_NOT_FOUND, true)), "Оборудование не найдено [%s].");
  EXPECT_EQ(Utf8(ErrorMessageTextIn(ERR_EQUIPMENT_RUNNING, true)),
            "Редактирование или удаление работающего оборудования запрещено.\r\n"
            "Необходимо выключить оборудование и повторить операцию.\r\n[ID:%s]");
  EXPECT_EQ(Utf8(ErrorMessageTextIn(ERR_FUNCTION_NOT_SUPPORTED, true)),
            "Функция \"%s\" не поддерживается текущим ФР");
  EXPECT_EQ(Utf8(ErrorMessageTextIn(ERR_NO_PLUGIN_OBJECT, true)), "PluInfo не доступна, Объект DLL не создан.");
}

TEST(ErrorMessageText, UnknownCodesNameTheCode) {
  EXPECT_EQ(Utf8(ErrorMessageTextIn(20012, true)), "Неизвестная ошибка (Код = 20012)!");
  EXPECT_EQ(Utf8(ErrorMessageTextIn(20012, false)), "Unknown error (Code = 20012)!");
  EXPECT_EQ(Utf8(ErrorMessageTextIn(-7, false)), "Unknown error (Code = -7)!");
}

TEST(ErrorMessageText, RussianOnlyEntriesAreUnknownInEnglish) {
  EXPECT_EQ(Utf8(ErrorMessageTextIn(ERR_LIBRARY_OUTDATED, false)), "Unknown error (Code = 20055)!");
  EXPECT_EQ(Utf8(ErrorMessageTextIn(ERR_LIBRARY_OUTDATED, true)), "Библиотека [%s] устарела. Необходимо обновление.");
}

TEST(ErrorMessageText, FollowsTheUserLanguage) {
  EXPECT_EQ(ErrorMessageText(ERR_EQUIPMENT_OFF), ErrorMessageTextIn(ERR_EQUIPMENT_OFF, UserIsRussian()));
}

TEST(RaiseError, CodeOutsideTheTableTakesTheFirstArgumentAsMessage) {
  const auto error = CaptureProtect([] { RaiseError(5, {AnsiString("abc")}); });
  EXPECT_EQ(error.Code, 5);
  EXPECT_EQ(error.Message(), "abc");
}

TEST(RaiseError, TextCodesKeepTheirOwnCode) {
  const AnsiString text = AnsiFromUtf8("Сбой устройства");
  const auto asText = CaptureProtect([&] { RaiseError(ERR_TEXT, {text}); });
  const auto asDeviceText = CaptureProtect([&] { RaiseError(ERR_DEVICE_TEXT, {text}); });
  EXPECT_EQ(asText.Code, ERR_TEXT);
  EXPECT_EQ(asDeviceText.Code, ERR_DEVICE_TEXT);
  EXPECT_EQ(asText.Message(), text);
  EXPECT_EQ(asDeviceText.Message(), text);
}

TEST(RaiseError, FillsTheUsersMessage) {
  const auto error = CaptureProtect([] { RaiseError(ERR_EQUIPMENT_NOT_FOUND, {AnsiString("COM3")}); });
  EXPECT_EQ(error.Code, ERR_EQUIPMENT_NOT_FOUND);
  const char* expected = UserIsRussian() ? "Оборудование не найдено [COM3]." : "The equipment not found [COM3].";
  EXPECT_EQ(Utf8FromAnsi(error.Message()), expected);
}

TEST(RaiseError, UnknownTableCodeNamesTheCode) {
  const auto error = CaptureProtect([] { RaiseCodeError(21999); });
  const char* expected = UserIsRussian() ? "Неизвестная ошибка (Код = 21999)!" : "Unknown error (Code = 21999)!";
  EXPECT_EQ(Utf8FromAnsi(error.Message()), expected);
  EXPECT_EQ(error.Code, 21999);
}

TEST(RaiseError, MissingArgumentIsAFormatError) {
  EXPECT_THROW(RaiseCodeError(ERR_EQUIPMENT_NOT_FOUND), EConvertError);
  EXPECT_THROW(RaiseError(ERR_EQUIPMENT_NOT_FOUND, {int64_t{3}}), EConvertError);
  EXPECT_THROW(RaiseCodeError(5), EConvertError);
}

TEST(RaiseError, HardwareExceptionIsAProtectException) {
  try {
    throw EHardwareEquipmentException(9, "x");
  } catch (const EProtectException& error) {
    EXPECT_EQ(error.Code, 9);
    EXPECT_STREQ(ExceptionClassName(error), "EHardwareEquipmentException");
  }
}

TEST(FormatText, PlaceholdersInOrder) {
  EXPECT_EQ(FormatText("Index=%d Count=%d", {int64_t{-1}, int64_t{50}}), "Index=-1 Count=50");
  EXPECT_EQ(FormatText("[%s] [%s]", {AnsiString("a"), AnsiString("b")}), "[a] [b]");
  EXPECT_EQ(FormatText("100%% %s", {AnsiString("done")}), "100% done");
  EXPECT_EQ(FormatText("%.8X", {int64_t{0xABCDEF}}), "00ABCDEF");
  EXPECT_EQ(FormatText("%5d|%-3s|", {int64_t{42}, AnsiString("a")}), "   42|a  |");
  EXPECT_EQ(FormatText("no placeholders", {AnsiString("extra")}), "no placeholders");
}

TEST(FormatText, MismatchedArgumentsFail) {
  EXPECT_THROW(FormatText("%d", {AnsiString("x")}), EConvertError);
  EXPECT_THROW(FormatText("%s", {int64_t{1}}), EConvertError);
  EXPECT_THROW(FormatText("%q", {int64_t{1}}), EConvertError);
  EXPECT_THROW(FormatText("trailing %", {}), EConvertError);
}

TEST(ExceptionMessage, ReadsOwnAndStandardExceptions) {
  EXPECT_EQ(ExceptionMessage(Exception("own")), "own");
  EXPECT_EQ(ExceptionMessage(std::runtime_error("std")), "std");
  EXPECT_STREQ(ExceptionClassName(std::runtime_error("std")), "Exception");
  EXPECT_STREQ(ExceptionClassName(EInvalidOperation("x")), "EInvalidOperation");
}

}  // namespace

namespace {

const void* At(uintptr_t address) { return reinterpret_cast<const void*>(address); }

std::string Hex(uintptr_t value) {
  std::string digits(2 * sizeof(void*), '0');
  for (size_t i = digits.size(); i-- > 0 && value != 0; value >>= 4) digits[i] = "0123456789ABCDEF"[value & 0xF];
  return "0x" + digits;
}

}  // namespace

TEST(StructuredExceptionText, NamesCodeAddressesAndDirectionInBothLanguages) {
  const platform::StructuredException write(0xC0000005, At(0x401A2B), true, At(0));
  EXPECT_EQ(Utf8(StructuredExceptionText(write, true)),
            "Системное исключение 0xC0000005 по адресу " + Hex(0x401A2B) + ": нарушение доступа при записи по адресу " + Hex(0));
  EXPECT_EQ(Utf8(StructuredExceptionText(write, false)),
            "System exception 0xC0000005 at address " + Hex(0x401A2B) + ": access violation writing address " + Hex(0));
  const platform::StructuredException read(0xC0000005, At(0x10), false, At(0xFFFF0));
  EXPECT_EQ(Utf8(StructuredExceptionText(read, true)),
            "Системное исключение 0xC0000005 по адресу " + Hex(0x10) + ": нарушение доступа при чтении по адресу " + Hex(0xFFFF0));
  const platform::StructuredException host(0x0EEDFADE, At(0x7001), false, nullptr);
  EXPECT_EQ(Utf8(StructuredExceptionText(host, false)),
            "System exception 0x0EEDFADE at address " + Hex(0x7001) + ": an exception of the host application");
  const platform::StructuredException other(0xC0000094, At(0x7001), false, nullptr);
  EXPECT_EQ(Utf8(StructuredExceptionText(other, true)), "Системное исключение 0xC0000094 по адресу " + Hex(0x7001));
}

TEST(StructuredExceptionText, IsTheMessageInTheUsersLanguageWithTheHostLanguagesClassNames) {
  const platform::StructuredException write(0xC0000005, At(0x401A2B), true, At(0));
  EXPECT_EQ(ExceptionMessage(write), AnsiFromWide(StructuredExceptionText(write, UserIsRussian())));
  EXPECT_STREQ(ExceptionClassName(write), "EAccessViolation");
  EXPECT_STREQ(ExceptionClassName(platform::StructuredException(0x0EEDFADE, nullptr, false, nullptr)),
               "EExternalException");
}
