#pragma once
// The server's download area: files served from one folder under "<site or API folder>/download/".
#include <filesystem>
#include <optional>
#include <string>

namespace egaiss::sim {

// The part of a request path after its first "/download/" segment ("/shop/download/a.json" gives
// "a.json"); nothing when the path has no such segment.
std::optional<std::string> DownloadRelativeName(const std::string& path);

// The file inside `folder` that `relative` names, or nothing with `why` set. Only plain relative
// names are taken: no empty, "." or ".." segments, no backslashes, colons or control characters, and
// the resolved file (symbolic links followed) must be a regular file inside the folder.
std::optional<std::filesystem::path> ResolveDownload(const std::filesystem::path& folder,
                                                     const std::string& relative, std::string& why);

// The content type by file extension.
std::string DownloadContentType(const std::string& name);

}  // namespace egaiss::sim
