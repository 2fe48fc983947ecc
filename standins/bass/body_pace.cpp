#include "standins/bass/body_pace.h"

#include <algorithm>

void BodyPace::Start(std::int64_t nowMs) {
  windowStart_ = nowMs;
  bytes_ = 0;
  broken_ = false;
}

bool BodyPace::Broken(std::int64_t nowMs) {
  while (!broken_ && nowMs - windowStart_ >= windowMs_) {
    broken_ = bytes_ < minimum_;
    windowStart_ += windowMs_;
    bytes_ = 0;
  }
  return broken_;
}

std::int64_t BodyPace::MillisToNextCheck(std::int64_t nowMs) const {
  return std::max<std::int64_t>(0, windowStart_ + windowMs_ - nowMs);
}
