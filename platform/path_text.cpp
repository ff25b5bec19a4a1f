// Splitting path text by the rules of each system, and a program's location.
#include "platform/path_text.h"

namespace platform {
namespace {

std::size_t nameStart(std::string_view path, PathStyle style) {
  std::size_t separator =
      path.find_last_of(style == PathStyle::kWindows ? std::string_view("\\/:") : "/");
  return separator == std::string_view::npos ? 0 : separator + 1;
}

bool isSeparator(char c, PathStyle style) {
  return c == '/' || (style == PathStyle::kWindows && c == '\\');
}

}  // namespace

std::string_view directoryPrefix(std::string_view path, PathStyle style) {
  return path.substr(0, nameStart(path, style));
}

std::string_view lastComponent(std::string_view path, PathStyle style) {
  return path.substr(nameStart(path, style));
}

std::string directoryOf(std::string_view path, PathStyle style) {
  std::string_view prefix = directoryPrefix(path, style);
  if (prefix.empty()) return ".";
  if (prefix.back() == ':') return std::string(prefix);  // "C:name": the drive's own directory
  std::string_view directory = prefix.substr(0, prefix.size() - 1);
  const bool root = directory.empty() || (style == PathStyle::kWindows && directory.size() == 2 &&
                                          directory[1] == ':' && !isSeparator(directory[0], style));
  return std::string(root ? prefix : directory);
}

ProgramLocation locationOf(const std::string& executablePath) {
  ProgramLocation location;
  location.directory = directoryOf(executablePath);
  const std::string file(lastComponent(executablePath));
  std::size_t dot = file.rfind('.');
  location.name = (dot == std::string::npos || dot == 0) ? file : file.substr(0, dot);
  return location;
}

}  // namespace platform
