#include "base/path.h"

namespace kestrel {

PathParts splitPath(std::string_view path) {
    PathParts parts;
    const auto slash = path.rfind('/');
    std::string_view name = path;
    if (slash != std::string_view::npos) {
        parts.folder = std::string(path.substr(0, slash + 1));
        name = path.substr(slash + 1);
    }
    const auto dot = name.rfind('.');
    if (dot != std::string_view::npos && dot != 0) {
        parts.extension = std::string(name.substr(dot));
        name = name.substr(0, dot);
    }
    parts.title = std::string(name);
    return parts;
}

}  // namespace kestrel
