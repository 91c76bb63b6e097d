#pragma once

#include <cstddef>
#include <string_view>

namespace dravion {

// How many leading characters of a Windows path name where it lies rather than folders in it,
// with the separator after them: "C:\" 3, "\\server\share\" and "\\?\UNC\server\share\" up to the
// share, "\\?\C:\" 7, "\\?\Volume{...}\" and "\\.\device\" up to the volume or device, "\" 1;
// 0 for a relative path. Both separators count ('/' is not one after "\\?\").
inline size_t WindowsPathRootLength(std::string_view path) {
  auto separator = [&](size_t at, bool verbatim) {
    return at < path.size() && (path[at] == '\\' || (!verbatim && path[at] == '/'));
  };
  // The end of the component that starts at `from`, with its separator.
  auto past = [&](size_t from, bool verbatim) {
    size_t at = from;
    while (at < path.size() && !separator(at, verbatim))
      ++at;
    return at < path.size() ? at + 1 : at;
  };
  const bool drive = path.size() >= 2 && path[1] == ':' &&
                     ((path[0] >= 'A' && path[0] <= 'Z') || (path[0] >= 'a' && path[0] <= 'z'));
  if (drive) return separator(2, false) ? 3 : 2;
  if (!(separator(0, false) && separator(1, false))) return separator(0, false) ? 1 : 0;
  // "\\?\" and "\\.\": the verbatim and the device namespaces.
  if (path.size() >= 4 && (path[2] == '?' || path[2] == '.') && path[3] == '\\') {
    const bool verbatim = path[2] == '?';
    const std::string_view rest = path.substr(4);
    if (rest.size() >= 4 && (rest[0] == 'U' || rest[0] == 'u') &&
        (rest[1] == 'N' || rest[1] == 'n') && (rest[2] == 'C' || rest[2] == 'c') &&
        rest[3] == '\\') {
      return past(past(8, verbatim), verbatim);  // server, share
    }
    if (rest.size() >= 2 && rest[1] == ':') return separator(6, verbatim) ? 7 : 6;
    return past(4, verbatim);
  }
  return past(past(2, false), false);  // \\server\share
}

}  // namespace dravion
