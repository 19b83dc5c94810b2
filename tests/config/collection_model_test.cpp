#include <gtest/gtest.h>

#include <set>

#include "config/collection_model.h"
#include "config/vocabulary.h"
#include "config/xml_access.h"

namespace {

WideString W(const char* utf8) { return WideFromUtf8(utf8); }
std::string U(WideStringView text) { return Utf8FromWide(text); }

// A model catalogue in the standard spelling, as the host writes it.
const char* const kCatalogue = R"(<?xml version="1.0" encoding="UTF-16"?>
<Система>
  <Решения><Решение Идентификатор="Касса"><ТочкиДоступа><ТочкаДоступа Код="" Значение="1"/></ТочкиДоступа></Решение></Решения>
  <КлассыОборудования>
    <КлассОборудования Код="{0C000000-0000-0000-0000-000000000001}" Идентификатор="Сканер">
      <Модель Код="{4F739246-8166-4CE3-8977-8CA2E7D36E62}" Идентификатор="Проксимити_Parsec" Наименование="Считыватель Parsec"
              Библиотека="Vestrel.plu" Версия="3" Состояние="0" ИспользуетQuen="1" ВерсияPLU="1.0.0.1" Релиз="7">
        <Параметры>
          <Параметр Идентификатор="ИнтервалПовтора" Наименование="Интервал повтора" Тип="Число" ФлагТолькоЧтение="0"
                    ЗначениеПоУмолчанию="2000" Описание="мс"/>
          <Параметр Идентификатор="СтарыйФормат" Наименование="Старый формат" Тип="Boolean" ФлагТолькоЧтение="1"
                    ЗначениеПоУмолчанию="1" Описание="00 впереди"/>
        </Параметры>
      </Модель>
      <Модель Код="{A2000000-0000-0000-0000-000000000002}" Идентификатор="Scanner_Metrologic" Наименование="Metrologic MS9520"
              Библиотека="Metro.plu" Версия="1" Состояние="1"/>
      <Модель Код="{A3000000-0000-0000-0000-000000000003}" Идентификатор="Сканер_Ёж" Наименование="Ёжик &quot;Про&quot; &amp; Ко"
              Библиотека="VESTREL.PLU" ИспользуетQuen="нет"/>
    </КлассОборудования>
    <КлассОборудования Код="{0C000000-0000-0000-0000-000000000002}" Идентификатор="Весы">
      <Модель Код="{B1000000-0000-0000-0000-000000000001}" Идентификатор="Весы_CAS" Наименование="CAS AP-1" Библиотека="Cas.plu"
              Версия="x" Состояние="0"/>
    </КлассОборудования>
    <КлассОборудования Код="{0C000000-0000-0000-0000-000000000003}" Идентификатор="Printer">
      <Модель Код="{D1000000-0000-0000-0000-000000000001}" Идентификатор="Epson" Наименование="Epson TM-T88"
              Библиотека="Epson.plu" Состояние="0"/>
      <Модель Код="{D2000000-0000-0000-0000-000000000002}" Идентификатор="Star" Наименование="O'Brien &quot;Q&quot;"
              Библиотека="Star.plu" Состояние="2"/>
    </КлассОборудования>
  </КлассыОборудования>
</Система>)";

// The catalogue as the model loaders receive it: converted to the legacy spelling.
OleVariant ConvertedCatalogue() {
  AnsiString text = AnsiFromUtf8(kCatalogue);
  ConvertLegacyNames(text, TLegacyDirection::ToLegacy);
  return OleVariant(WideFromAnsi(text));
}

class CollectionModel : public ::testing::Test {
protected:
  static void SetUpTestSuite() { CoInitialize(nullptr); }

  void SetUp() override { FSource = OpenXmlSource(ConvertedCatalogue()); }

  // The textual identifiers of the models that pass the filters, in document order.
  std::vector<std::string> Select(const char* id, const char* identif, const char* library, const char* classIdentif,
                                  const char* name, const char* state) {
    auto list = CreateFilteredModelList(FSource, W(id), W(identif), W(library), W(classIdentif), W(name), W(state));
    std::vector<std::string> result;
    for (int32_t i = 0; i < list->Count(); ++i) result.push_back(U(list->Items(i)->Identif()));
    return result;
  }

  OleVariant FSource;
};

using Names = std::vector<std::string>;
const Names kAll = {"Проксимити_Parsec", "Scanner_Metrologic", "Сканер_Ёж", "Весы_CAS", "Epson", "Star"};

TEST_F(CollectionModel, WithoutFiltersEveryModelLoadsWithItsParameters) {
  EXPECT_EQ(Select("", "", "", "", "", ""), kAll);
  EXPECT_EQ(Select("*", "*", "*", "*", "*", "*"), kAll);

  auto list = CreateFilteredModelList(FSource, W(""), W(""), W(""), W(""), W(""), W(""));
  ASSERT_EQ(list->Count(), 6);
  EXPECT_FALSE(list->GetModified());
  EXPECT_EQ(list->FirstItem(), list->Items(0));
  TModelItem* parsec = list->Items(0);
  EXPECT_EQ(U(GlobalIdToStr(parsec->ModelId())), "{4F739246-8166-4CE3-8977-8CA2E7D36E62}");
  EXPECT_EQ(U(parsec->Name()), "Считыватель Parsec");
  EXPECT_EQ(U(parsec->Library()), "Vestrel.plu");
  EXPECT_EQ(U(parsec->ClassIdentif()), "Сканер");
  EXPECT_EQ(U(parsec->PluVer()), "1.0.0.1");
  EXPECT_EQ(parsec->UseQuen(), 1);
  EXPECT_EQ(parsec->Version(), 3);
  EXPECT_EQ(parsec->Release(), 7);
  EXPECT_EQ(parsec->State(), STATE_NORMAL);

  TParameterList* params = parsec->Params();
  ASSERT_EQ(params->Count(), 2);
  TParameterItem* interval = params->Items(0);
  EXPECT_EQ(U(interval->ParamName()), "ИнтервалПовтора");
  EXPECT_EQ(U(interval->ParamDescription()), "Интервал повтора");
  EXPECT_EQ(U(interval->ParamType()), "Число");
  EXPECT_EQ(U(interval->ParamDefault()), "2000");
  EXPECT_EQ(U(interval->ParamValue()), "2000");
  EXPECT_EQ(U(interval->ParamHint()), "мс");
  EXPECT_EQ(interval->ParamReadOnly(), 0);
  EXPECT_EQ(params->Items(1)->ParamReadOnly(), 1);
  EXPECT_EQ(U(params->Items(1)->ParamHint()), "00 впереди");

  // Bad numbers read as 0; a missing state is normal.
  EXPECT_EQ(list->Items(2)->UseQuen(), 0);
  EXPECT_EQ(list->Items(2)->State(), STATE_NORMAL);
  EXPECT_EQ(list->Items(3)->Version(), 0);
  EXPECT_EQ(list->Items(1)->State(), STATE_DELETED);
  EXPECT_EQ(list->Items(1)->Params()->Count(), 0);
}

TEST_F(CollectionModel, EachFilterInEitherCaseAndAlphabet) {
  EXPECT_EQ(Select("{4f739246-8166-4ce3-8977-8ca2e7d36e62}", "", "", "", "", ""), Names{"Проксимити_Parsec"});
  EXPECT_EQ(Select("", "ПРОКСИМИТИ_parsec", "", "", "", ""), Names{"Проксимити_Parsec"});
  EXPECT_EQ(Select("", "сканер_ёж", "", "", "", ""), Names{"Сканер_Ёж"});
  EXPECT_EQ(Select("", "", "vestrel.PLU", "", "", ""), (Names{"Проксимити_Parsec", "Сканер_Ёж"}));
  EXPECT_EQ(Select("", "", "", "СКАНЕР", "", ""), (Names{"Проксимити_Parsec", "Scanner_Metrologic", "Сканер_Ёж"}));
  EXPECT_EQ(Select("", "", "", "весы", "", ""), Names{"Весы_CAS"});
  EXPECT_EQ(Select("", "", "", "printer", "", ""), (Names{"Epson", "Star"}));
  EXPECT_EQ(Select("", "", "", "", "считыватель PARSEC", ""), Names{"Проксимити_Parsec"});
  EXPECT_EQ(Select("", "", "", "", "METROLOGIC ms9520", ""), Names{"Scanner_Metrologic"});
}

TEST_F(CollectionModel, StateFilterKeepsElementsNotInTheOtherState) {
  // "0": everything not deleted, elements without a state included.
  EXPECT_EQ(Select("", "", "", "", "", "0"), (Names{"Проксимити_Parsec", "Сканер_Ёж", "Весы_CAS", "Epson", "Star"}));
  // Any other value: everything not normal.
  EXPECT_EQ(Select("", "", "", "", "", "1"), (Names{"Scanner_Metrologic", "Сканер_Ёж", "Star"}));
  EXPECT_EQ(Select("", "", "", "", "", "5"), (Names{"Scanner_Metrologic", "Сканер_Ёж", "Star"}));
}

TEST_F(CollectionModel, CombinedFilters) {
  EXPECT_EQ(Select("", "", "VESTREL.plu", "Сканер", "", "0"), (Names{"Проксимити_Parsec", "Сканер_Ёж"}));
  EXPECT_EQ(Select("", "epson", "", "PRINTER", "", "0"), Names{"Epson"});
  EXPECT_EQ(Select("{D1000000-0000-0000-0000-000000000001}", "", "", "сканер", "", ""), Names{});
  EXPECT_EQ(Select("", "", "cas.plu", "весы", "cas ap-1", "0"), Names{"Весы_CAS"});
}

TEST_F(CollectionModel, QuotesAndAmpersandsInFilterValuesSelectExactly) {
  EXPECT_EQ(Select("", "", "", "", "ЁЖИК \"про\" & ко", ""), Names{"Сканер_Ёж"});
  EXPECT_EQ(Select("", "", "", "", "o'brien \"Q\"", ""), Names{"Star"});
  EXPECT_EQ(Select("", "", "", "Printer", "O'BRIEN \"q\"", "1"), Names{"Star"});
  for (const char* odd : {"\"", "'", "&", "\"'", "&amp;", "&quot;", "]", "a\"]|//*[\"b"})
    EXPECT_EQ(Select("", "", "", odd, odd, ""), Names{}) << odd;
}

TEST_F(CollectionModel, FilterPredicatesAsBuilt) {
  TModelList list(FSource);
  list.SetFilter({ATTR_NAME, ATTR_PARENT_IDENTIF, ATTR_STATE, ATTR_LIBRARY, ATTR_IDENTIF},
                 {W("AbЁ"), W("Кл"), W("0"), W("*"), W("")});
  list.SetFilter({ATTR_NAME, ATTR_PARENT_ID}, {W("Я\"я"), W("X")});
  WideString item, parent;
  list.BuildFilter(item, parent);
  const std::string tr = "\"АБВГДЕЁЖЗИЙКЛМНОПРСТУФХЦЧШЩЫЪЬЭЮЯABCDEFGHIJKLMNOPQRSTUVWXYZ\","
                         "\"абвгдеёжзийклмнопрстуфхцчшщыъьэюяabcdefghijklmnopqrstuvwxyz\")";
  EXPECT_EQ(U(item), "[(translate(@Наименование," + tr + "='я\"я') and (translate(@Состояние," + tr + "!=\"1\")]");
  EXPECT_EQ(U(parent), "[(translate(@Идентификатор," + tr + "=\"кл\") and (translate(@Код," + tr + "=\"x\")]");
  list.ClearFilter();
  list.BuildFilter(item, parent);
  EXPECT_TRUE(item.empty());
  EXPECT_TRUE(parent.empty());
  EXPECT_THROW(list.SetFilter({ATTR_NAME}, {}), EProtectException);
  list.SetFilter({99}, {W("x")});  // the index is checked when the filter is built
  EXPECT_THROW(list.BuildFilter(item, parent), EProtectException);
}

TEST_F(CollectionModel, SourcesThatHoldNoModels) {
  for (const char* text : {"это не XML", "", "<Система/>"}) {
    auto list = CreateFilteredModelList(OleVariant(W(text)), W(""), W(""), W(""), W(""), W(""), W(""));
    EXPECT_EQ(list->Count(), 0) << text;
  }
  // Models outside the standard place count only when nothing filters.
  OleVariant elsewhere(W("<Модели><Модель Код=\"\" Идентификатор=\"X\"/></Модели>"));
  EXPECT_EQ(CreateFilteredModelList(elsewhere, W(""), W(""), W(""), W(""), W(""), W(""))->Count(), 1);
  EXPECT_EQ(CreateFilteredModelList(elsewhere, W(""), W("x"), W(""), W(""), W(""), W(""))->Count(), 0);
  // A malformed identifier is an error of the configuration.
  OleVariant badId(W("<Модели><Модель Код=\"не GUID\"/></Модели>"));
  EXPECT_THROW(CreateFilteredModelList(badId, W(""), W(""), W(""), W(""), W(""), W("")), Exception);
}

TEST_F(CollectionModel, ParameterListOfADevice) {
  OleVariant doc = OpenXmlSource(OleVariant(W(
      "<Устройство><Параметры><Параметр Идентификатор=\"Порт\" Зна4ение=\"COM1\" Наименование=\"Порт\" Тип=\"String\" "
      "ФлагТолько4тение=\"1\" Зна4ениеПоУмол4анию=\"COM2\" Описание=\"h\"/><Параметр Идентификатор=\"Б\"/>"
      "</Параметры></Устройство>")));
  TParameterList params(nullptr, GetProperty(doc, "documentElement"));
  params.Load();
  ASSERT_EQ(params.Count(), 2);
  EXPECT_EQ(U(params.Items(0)->ParamValue()), "COM1");
  EXPECT_EQ(U(params.Items(0)->ParamDefault()), "COM2");
  EXPECT_EQ(params.Items(0)->ParamReadOnly(), 1);
  EXPECT_FALSE(params.GetModified());
  EXPECT_EQ(params.FindParameter(W("порт")), params.Items(0));
  EXPECT_EQ(params.FindParameter(W("б")), params.Items(1));
  EXPECT_EQ(params.FindParameter(W("нет")), nullptr);
}

TEST_F(CollectionModel, ChangesTravelFromParameterToModelToList) {
  auto list = CreateFilteredModelList(FSource, W(""), W("Проксимити_Parsec"), W(""), W(""), W(""), W(""));
  ASSERT_EQ(list->Count(), 1);
  std::vector<TChangeSource*> senders;
  list->SetOnChange([&](TChangeSource* sender) { senders.push_back(sender); });
  TModelItem* model = list->Items(0);
  TParameterItem* interval = model->Params()->FindParameter(W("интервалповтора"));
  ASSERT_NE(interval, nullptr);
  EXPECT_FALSE(model->IsModified());

  interval->SetParamValue(W("2000"));  // the same value: no change
  EXPECT_FALSE(list->GetModified());
  interval->SetParamValue(W("3000"));
  EXPECT_TRUE(interval->IsModified());
  EXPECT_TRUE(model->IsModified());
  EXPECT_TRUE(model->ModifiedCache());
  EXPECT_TRUE(list->GetModified());
  EXPECT_EQ(senders, std::vector<TChangeSource*>{interval});

  list->SetModified(false);
  EXPECT_FALSE(interval->IsModified());
  EXPECT_FALSE(list->GetModified());
}

TEST_F(CollectionModel, CaseRulesOfTheSetters) {
  auto list = CreateFilteredModelList(FSource, W(""), W("Проксимити_Parsec"), W(""), W(""), W(""), W(""));
  TModelItem* model = list->Items(0);
  TParameterItem* param = model->Params()->Items(0);
  model->SetName(W("СЧИТЫВАТЕЛЬ PARSEC"));
  EXPECT_FALSE(model->IsModified()) << "model texts ignore case";
  EXPECT_EQ(U(model->Name()), "СЧИТЫВАТЕЛЬ PARSEC");
  model->SetRelease(7);
  EXPECT_FALSE(model->IsModified());
  param->SetParamType(W("число"));
  EXPECT_TRUE(param->IsModified()) << "parameter texts observe case";
  EXPECT_TRUE(model->IsModified());
  model->SetModified(false);
  EXPECT_FALSE(param->IsModified());
  model->SetUseQuen(0);
  EXPECT_TRUE(model->IsModified());
}

TEST_F(CollectionModel, NewParametersStayModifiedUntilReset) {
  TModelList list(FSource);
  list.Load();
  // Loading leaves the models' fresh parameters modified: the list reports it until reset.
  EXPECT_TRUE(list.Items(0)->IsModified());
  EXPECT_FALSE(list.Items(1)->IsModified());
  EXPECT_TRUE(list.GetModified());
  list.SetModified(false);
  EXPECT_FALSE(list.GetModified());
}

TEST_F(CollectionModel, DeletingItems) {
  auto list = CreateFilteredModelList(FSource, W(""), W(""), W(""), W("сканер"), W(""), W(""));
  ASSERT_EQ(list->Count(), 3);
  int changes = 0;
  list->SetOnChange([&](TChangeSource*) { ++changes; });

  TModelItem* parsec = list->Items(0);
  EXPECT_TRUE(parsec->SetState(STATE_DELETED));
  EXPECT_EQ(parsec->Params()->Count(), 0);
  EXPECT_TRUE(parsec->IsModified());
  EXPECT_TRUE(parsec->Params()->IsOwnerDeleted());
  parsec->LoadParams();
  EXPECT_EQ(parsec->Params()->Count(), 0) << "a deleted model loads no parameters";

  TModelItem* fresh = list->Add();
  fresh->SetVersion(kVersionNeverStored);
  ASSERT_EQ(list->Count(), 4);
  EXPECT_FALSE(fresh->SetState(STATE_DELETED));
  EXPECT_EQ(list->Count(), 3) << "an item never stored leaves its list";

  list->SetModified(false);
  changes = 0;
  list->Delete(2);
  EXPECT_EQ(list->Count(), 2);
  EXPECT_TRUE(list->GetModified());
  EXPECT_EQ(changes, 1);
}

TEST_F(CollectionModel, FindModelSearchesFromTheEnd) {
  TModelList list(FSource);
  TGlobalId id = StrToGlobalId(W("{4F739246-8166-4CE3-8977-8CA2E7D36E62}"));
  TModelItem* first = list.Add();
  TModelItem* second = list.Add();
  TModelItem* other = list.Add();
  first->SetModelId(id);
  second->SetModelId(id);
  other->SetModelId(NewGlobalId());
  EXPECT_EQ(list.FindModel(id), second);
  second->SetState(STATE_DELETED);
  EXPECT_EQ(list.FindModel(id), second);
  list.SetIncludeDeleted(false);
  EXPECT_EQ(list.FindModel(id), first);
  EXPECT_EQ(list.FindModel(StrToGlobalId(W(""))), nullptr);
}

TEST(LowerCase, LatinCyrillicAndOthers) {
  EXPECT_EQ(U(LowerCaseWide(W("ABCxyzАБВЯЁЪЫЎÀÉ 1-\"&"))), "abcxyzабвяёъыўàé 1-\"&");
}

}  // namespace
