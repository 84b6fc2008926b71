// Splitting a POSIX path into the parts output files are named from.
#pragma once

#include <string>
#include <string_view>

namespace kestrel {

struct PathParts {
    std::string drive;      // always empty on POSIX paths
    std::string folder;     // up to and including the last '/'
    std::string title;      // file name without its extension
    std::string extension;  // from the last '.' of the file name, when that is not its first character
};

PathParts splitPath(std::string_view path);

}  // namespace kestrel
