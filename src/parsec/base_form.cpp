#include "parsec/base_form.h"

#include <utility>

namespace {

void SetIfConfigured(int32_t& Target, int32_t Configured) {
  if (Configured != kDesignedColor) Target = Configured;
}

}  // namespace

void PaintColors(TComponent& Component, const TFormColors& Colors) {
  switch (Component.Kind) {
    case TComponentKind::Form:
      SetIfConfigured(Component.Color, Colors.ColorForm);
      break;
    case TComponentKind::GroupBox:
    case TComponentKind::Panel:
      SetIfConfigured(Component.Color, Colors.ColorBody);
      SetIfConfigured(Component.FontColor, Colors.ColorFont);
      break;
    case TComponentKind::Label:
    case TComponentKind::BitBtn:
      SetIfConfigured(Component.FontColor, Colors.ColorFont);
      break;
    default:
      break;
  }
  for (TComponent* owned : Component.Components)
    if (owned != nullptr) PaintColors(*owned, Colors);
}

TfmBaseFormPlu::TfmBaseFormPlu(std::vector<TComponent*> Owned) {
  Kind = TComponentKind::Form;
  Components = std::move(Owned);
  PaintColors(*this, FormColors());
}
