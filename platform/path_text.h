// Splitting path text into its directory and its last component, by the
// rules of each system: the one home for them, so that every caller agrees
// on drive letters, roots, trailing separators and bare names.
#pragma once

#include <string>
#include <string_view>

#include "platform/services.h"

namespace platform {

enum class PathStyle {
  kPosix,    // "/" alone separates
  kWindows,  // "\" and "/" separate, and "C:" ends a drive prefix
};

constexpr PathStyle kNativePathStyle =
    kPathSeparator == '\\' ? PathStyle::kWindows : PathStyle::kPosix;

// Everything up to and including the last separator (or a drive's colon):
// prefix + lastComponent gives the path back. Empty for a bare name.
std::string_view directoryPrefix(std::string_view path, PathStyle style = kNativePathStyle);

// The text after the last separator; empty when the path ends in one.
std::string_view lastComponent(std::string_view path, PathStyle style = kNativePathStyle);

// The directory as a path to open: the prefix less its trailing separator,
// except that a root ("/", "\", "C:\") keeps it; "C:" for "C:name"; "." for
// a bare name.
std::string directoryOf(std::string_view path, PathStyle style = kNativePathStyle);

// Where a program lives and what it is called, from its own file's path: the
// directory as directoryOf gives it, and the file's name less its extension.
// A name without a dot, or whose only dot leads it, is taken whole.
ProgramLocation locationOf(const std::string& executablePath);

}  // namespace platform
