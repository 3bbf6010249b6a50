#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace lumaro::platform {

// Paths are UTF-16 texts limited to kMaxPath units including the terminator, so a usable path
// has at most kMaxPath - 1 units. These helpers never touch the file system.
inline constexpr std::size_t kMaxPath = 260;

#if defined(_WIN32)
inline constexpr char16_t kPathSeparator = u'\\';
#else
inline constexpr char16_t kPathSeparator = u'/';
#endif

// True for a path that does not start at a root: no separator first and, where the system has
// drive letters, no "X:" first.
bool PathIsRelative(std::u16string_view path);

// True for the separator of this platform (and '/' everywhere).
bool IsPathSeparator(char16_t c);

// The extension of the last path component, dot included ("" when there is none). A space or a
// separator after the last dot means there is no extension.
std::u16string_view PathFindExtension(std::u16string_view path);

// The last path component ("" for a path that ends in a separator).
std::u16string_view PathFindFileName(std::u16string_view path);

// Removes the last component and the separator before it; a root stays a root. Answers false
// when there was nothing to remove.
bool PathRemoveFileSpec(std::u16string& path);

// Appends `more` behind one separator (leading separators of `more` are dropped). Fails, leaving
// `path` unchanged, when the result would not fit in kMaxPath units with its terminator.
bool PathAppend(std::u16string& path, std::u16string_view more);

// Removes "." and ".." components and doubled separators. ".." at the root stays at the root;
// leading ".." of a relative path are kept. Fails on a result of kMaxPath units or more.
std::optional<std::u16string> PathCanonicalize(std::u16string_view path);

// True for the file system root.
bool PathIsRoot(std::u16string_view path);

// The title shown for a file: its last component. Fails when the path names no file (empty, or
// ending in a separator).
std::optional<std::u16string> GetFileTitle(std::u16string_view path);

}  // namespace lumaro::platform
