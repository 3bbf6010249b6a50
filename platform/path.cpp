#include "platform/path.h"

#include <vector>

namespace lumaro::platform {

bool IsPathSeparator(char16_t c) { return c == u'/' || c == kPathSeparator; }

bool PathIsRelative(std::u16string_view path) {
  if (!path.empty() && IsPathSeparator(path.front())) return false;
  const bool drives = kPathSeparator == u'\\';
  const bool letter = path.size() >= 2 && ((path[0] >= u'A' && path[0] <= u'Z') ||
                                           (path[0] >= u'a' && path[0] <= u'z'));
  return !(drives && letter && path[1] == u':');
}

std::u16string_view PathFindExtension(std::u16string_view path) {
  std::size_t dot = std::u16string_view::npos;
  for (std::size_t i = 0; i < path.size(); ++i) {
    if (path[i] == u'.') {
      dot = i;
    } else if (IsPathSeparator(path[i]) || path[i] == u' ') {
      dot = std::u16string_view::npos;
    }
  }
  return dot == std::u16string_view::npos ? std::u16string_view{} : path.substr(dot);
}

std::u16string_view PathFindFileName(std::u16string_view path) {
  for (std::size_t i = path.size(); i > 0; --i) {
    if (IsPathSeparator(path[i - 1])) return path.substr(i);
  }
  return path;
}

bool PathIsRoot(std::u16string_view path) {
  if (path.empty()) return false;
  for (char16_t c : path) {
    if (!IsPathSeparator(c)) return false;
  }
  return true;
}

bool PathRemoveFileSpec(std::u16string& path) {
  if (path.empty() || PathIsRoot(path)) return false;
  std::size_t cut = path.size();
  while (cut > 0 && !IsPathSeparator(path[cut - 1])) --cut;
  if (cut == 0) {
    path.clear();
    return true;
  }
  // Keep the root separator; drop a separator before the removed component otherwise.
  std::size_t keep = cut - 1;
  while (keep > 0 && IsPathSeparator(path[keep - 1])) --keep;
  path.resize(keep == 0 ? 1 : keep);
  return true;
}

bool PathAppend(std::u16string& path, std::u16string_view more) {
  while (!more.empty() && IsPathSeparator(more.front())) more.remove_prefix(1);
  std::u16string joined = path;
  if (!joined.empty() && !IsPathSeparator(joined.back()) && !more.empty()) {
    joined.push_back(kPathSeparator);
  }
  joined.append(more);
  if (joined.size() >= kMaxPath) return false;
  path = std::move(joined);
  return true;
}

std::optional<std::u16string> PathCanonicalize(std::u16string_view path) {
  const bool absolute = !path.empty() && IsPathSeparator(path.front());
  std::vector<std::u16string_view> parts;
  std::size_t start = 0;
  for (std::size_t i = 0; i <= path.size(); ++i) {
    if (i < path.size() && !IsPathSeparator(path[i])) continue;
    const std::u16string_view part = path.substr(start, i - start);
    start = i + 1;
    if (part.empty() || part == u".") continue;
    if (part == u"..") {
      if (!parts.empty() && parts.back() != u"..") {
        parts.pop_back();
      } else if (!absolute) {
        parts.push_back(part);
      }
      continue;
    }
    parts.push_back(part);
  }
  std::u16string out;
  if (absolute) out.push_back(kPathSeparator);
  for (std::size_t i = 0; i < parts.size(); ++i) {
    if (i > 0) out.push_back(kPathSeparator);
    out.append(parts[i]);
  }
  if (out.empty() && !path.empty()) out.push_back(u'.');
  if (out.size() >= kMaxPath) return std::nullopt;
  return out;
}

std::optional<std::u16string> GetFileTitle(std::u16string_view path) {
  const std::u16string_view name = PathFindFileName(path);
  if (name.empty()) return std::nullopt;
  return std::u16string(name);
}

}  // namespace lumaro::platform
