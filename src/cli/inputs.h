// Turning the command line's files, folders and --files-from lists into the
// list of movies to work on.
#pragma once

#include <string>
#include <vector>

namespace kestrel::cli {

// "FWS", "CWS" or "ZWS" when the file starts with one, else empty.
std::string swfSignature(const std::string& path);

struct InputList {
    std::vector<std::string> files;
    std::vector<std::string> errors;  // inputs that could not be read
};

// Files are taken as they are; folders give the files in them that carry an
// SWF signature (recursively with `recurse`), in name order.
InputList collectInputs(const std::vector<std::string>& arguments, bool recurse);

// Adds the paths listed one per line in `listFile` ("-" reads standard input).
bool readFileList(const std::string& listFile, std::vector<std::string>& out);

std::string absolutePath(const std::string& path);

}  // namespace kestrel::cli
