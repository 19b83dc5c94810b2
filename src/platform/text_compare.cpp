// The letter-case fold of UTF-16 texts, the same on every platform.
#include "platform/text_compare.h"

#include <array>

namespace platform {
namespace {

// FoldedUnit for every unit below the end of the Cyrillic block; above it nothing folds.
constexpr size_t kFoldTableSize = 0x0460;
constexpr std::array<OLECHAR, kFoldTableSize> kFoldTable = [] {
  std::array<OLECHAR, kFoldTableSize> table{};
  for (size_t unit = 0; unit < kFoldTableSize; ++unit) table[unit] = FoldedUnit(static_cast<OLECHAR>(unit));
  return table;
}();

}  // namespace

void FoldUnits(const OLECHAR* source, size_t count, OLECHAR* target) {
  for (size_t i = 0; i < count; ++i) {
    const OLECHAR unit = source[i];
    target[i] = unit < kFoldTableSize ? kFoldTable[unit] : unit;
  }
}

std::basic_string<OLECHAR> FoldedText(std::basic_string_view<OLECHAR> text) {
  std::basic_string<OLECHAR> folded(text.size(), 0);
  FoldUnits(text.data(), text.size(), folded.data());
  return folded;
}

bool SameFoldedText(std::basic_string_view<OLECHAR> a, std::basic_string_view<OLECHAR> b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (FoldedUnit(a[i]) != FoldedUnit(b[i])) return false;
  }
  return true;
}

}  // namespace platform
