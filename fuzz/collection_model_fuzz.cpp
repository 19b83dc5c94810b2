// A model catalogue as the host hands it over: converted to the legacy spelling, opened,
// and loaded through the six filters. Input: one filter per line (identifier, textual id,
// library, class, name, state), the catalogue after them.
#include <cstddef>
#include <cstdint>
#include <exception>
#include <string>

#include "config/collection_model.h"
#include "config/vocabulary.h"
#include "config/xml_access.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size > (1u << 18)) return 0;
  std::string text(reinterpret_cast<const char*>(data), size);
  WideString filters[6];
  for (WideString& filter : filters) filter = WideFromUtf8(fuzz::TakeLine(text));
  try {
    AnsiString catalogue = AnsiFromUtf8(text);
    ConvertLegacyNames(catalogue, TLegacyDirection::ToLegacy);
    const OleVariant source = OpenXmlSource(OleVariant(WideFromAnsi(catalogue)));
    auto list = CreateFilteredModelList(source, filters[0], filters[1], filters[2], filters[3], filters[4], filters[5]);
    for (int32_t i = 0; i < list->Count(); ++i) {
      TModelItem* item = list->Items(i);
      fuzz::Check(item != nullptr, "every counted model is there");
      if (TParameterList* params = item->Params()) {
        for (int32_t k = 0; k < params->Count(); ++k) fuzz::Check(params->Items(k) != nullptr, "parameters are there");
      }
    }
  } catch (const std::exception&) {
  }
  return 0;
}
