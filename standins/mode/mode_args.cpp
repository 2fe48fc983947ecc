#include "standins/mode/mode_args.h"

#include <algorithm>

namespace {

constexpr int kLargestCount = 32766;  // console buffer sizes are 16-bit, signed

class Scanner {
 public:
  explicit Scanner(std::string_view text) : text_(text) {}

  void SkipBlanks() {
    while (at_ < text_.size() && (text_[at_] == ' ' || text_[at_] == '\t')) ++at_;
  }
  bool AtEnd() const { return at_ >= text_.size(); }
  std::string_view Rest() const { return text_.substr(at_); }

  // Takes `word` (upper case) when the text continues with it in any case.
  bool Take(std::string_view word) {
    if (text_.size() - at_ < word.size()) return false;
    for (std::size_t i = 0; i < word.size(); ++i) {
      char c = text_[at_ + i];
      if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
      if (c != word[i]) return false;
    }
    at_ += word.size();
    return true;
  }

  // A count of 1 to kLargestCount; digits beyond that make it invalid, not wrap.
  std::optional<int> TakeCount() {
    const std::size_t start = at_;
    long value = 0;
    while (at_ < text_.size() && text_[at_] >= '0' && text_[at_] <= '9') {
      if (value <= kLargestCount) value = value * 10 + (text_[at_] - '0');
      ++at_;
    }
    if (at_ == start || value < 1 || value > kLargestCount) return std::nullopt;
    return static_cast<int>(value);
  }

 private:
  std::string_view text_;
  std::size_t at_ = 0;
};

ModeParse Failure(std::string why) { return {std::nullopt, std::move(why)}; }

}  // namespace

std::string JoinArguments(const std::vector<std::string>& arguments) {
  std::string joined;
  for (const std::string& argument : arguments) {
    if (!joined.empty()) joined += ' ';
    joined += argument;
  }
  return joined;
}

ModeParse ParseModeArguments(std::string_view arguments) {
  Scanner scan(arguments);
  scan.SkipBlanks();
  if (!scan.Take("CON")) return Failure("only the console device CON can be set");
  scan.SkipBlanks();
  scan.Take(":");
  ModeRequest request;
  for (;;) {
    scan.SkipBlanks();
    if (scan.AtEnd()) break;
    std::optional<int>* setting = nullptr;
    if (scan.Take("COLS")) {
      setting = &request.columns;
    } else if (scan.Take("LINES")) {
      setting = &request.lines;
    } else {
      return Failure("invalid parameter - " + std::string(scan.Rest()));
    }
    if (setting->has_value()) return Failure("a setting is given twice");
    scan.SkipBlanks();
    if (!scan.Take("=")) return Failure("a setting lacks its \"=\"");
    scan.SkipBlanks();
    *setting = scan.TakeCount();
    if (!setting->has_value()) return Failure("a count must be a number from 1 to 32766");
  }
  if (!request.columns && !request.lines) return Failure("no COLS= or LINES= given");
  return {request, {}};
}

std::vector<ResizeStep> PlanResize(CellRect window, CellSize target, CellSize largest) {
  std::vector<ResizeStep> steps;
  const int width = window.right - window.left + 1;
  const int height = window.bottom - window.top + 1;
  // Edges are counted from 0, so an edge at the new size or beyond lies outside.
  if (window.right >= target.columns || window.bottom >= target.lines) {
    steps.push_back({ResizeStep::Kind::Window, std::max(1, std::min(width, target.columns)),
                     std::max(1, std::min(height, target.lines))});
  }
  steps.push_back({ResizeStep::Kind::Buffer, target.columns, target.lines});
  const int columns =
      largest.columns > 0 ? std::min(target.columns, largest.columns) : target.columns;
  const int lines = largest.lines > 0 ? std::min(target.lines, largest.lines) : target.lines;
  steps.push_back({ResizeStep::Kind::Window, columns, lines});
  return steps;
}
