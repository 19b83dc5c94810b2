#pragma once
// The six process-wide form colours that a host configuration supplies ("ColorItem") and the
// plug-in's forms paint themselves with. -1 means "keep the designed colour". The devices
// list writes them when a configuration arrives (LoadColors); the forms read them.

#include <cstdint>

struct TFormColors {
  int32_t ColorForm = -1;
  int32_t ColorBody = -1;
  int32_t ColorButton = -1;
  int32_t ColorEdit = -1;
  int32_t ColorBorder = -1;
  int32_t ColorFont = -1;
};

inline constexpr int32_t kDesignedColor = -1;

// A copy of the current colours (any thread).
TFormColors FormColors();
void SetFormColors(const TFormColors& Colors);
