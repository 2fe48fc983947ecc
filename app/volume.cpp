#include "app/volume.h"

namespace {
constexpr double kStep = 0.05;
constexpr double kTop = 1.0;
}  // namespace

float VolumeUp(float volume) {
  if (static_cast<double>(volume) <= kTop) return static_cast<float>(volume + kStep);
  return volume;
}

float VolumeDown(float volume) {
  if (static_cast<double>(volume) > kStep) return static_cast<float>(volume - kStep);
  return volume;
}
