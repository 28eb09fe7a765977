#include "ini/lines.h"

namespace ini {

std::string_view TrimLeft(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  return s;
}

std::string_view Trim(std::string_view s) {
  s = TrimLeft(s);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

std::string_view LineText(std::string_view content, std::size_t begin) {
  std::size_t end = begin;
  while (end < content.size() && !IsLineEnd(content[end])) ++end;
  return Trim(content.substr(begin, end - begin));
}

bool IsSectionLine(std::string_view line, std::string_view* name) {
  if (line.empty() || line.front() != '[') return false;
  std::size_t close = line.rfind(']');
  if (close == 0 || close == std::string_view::npos) return false;
  *name = CutAtNul(Trim(line.substr(1, close - 1)));
  return true;
}

std::string_view KeyOf(std::string_view line) {
  return CutAtNul(Trim(line.substr(0, line.find('='))));
}

bool ValueOf(std::string_view line, std::string_view* value) {
  std::size_t eq = line.find('=');
  if (eq == std::string_view::npos) return false;
  *value = CutAtNul(Trim(line.substr(eq + 1)));
  return true;
}

}  // namespace ini
