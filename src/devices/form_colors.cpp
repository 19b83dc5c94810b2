#include "devices/form_colors.h"

#include <mutex>

namespace {
std::mutex gColorsLock;
TFormColors gColors;
}  // namespace

TFormColors FormColors() {
  std::lock_guard<std::mutex> lock(gColorsLock);
  return gColors;
}

void SetFormColors(const TFormColors& Colors) {
  std::lock_guard<std::mutex> lock(gColorsLock);
  gColors = Colors;
}
