#include "cli/inputs.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>

#include "reader/file_io.h"
#include "reader/swf_format.h"

namespace fs = std::filesystem;

namespace kestrel::cli {

std::string swfSignature(const std::string& path) {
    InputFile file;
    if (!file.open(path)) return {};
    char head[3] = {};
    if (file.read(head, 3) != 3) return {};
    if (!compressionOf(reinterpret_cast<const std::uint8_t*>(head))) return {};
    return std::string(head, 3);
}

std::string absolutePath(const std::string& path) {
    std::error_code ec;
    const fs::path abs = fs::absolute(path, ec);
    return ec ? path : abs.lexically_normal().string();
}

namespace {

void addFolder(const fs::path& folder, bool recurse, InputList& out) {
    std::vector<std::string> found;
    std::error_code ec;
    const auto options = fs::directory_options::skip_permission_denied;
    auto consider = [&](const fs::directory_entry& entry) {
        std::error_code e;
        if (entry.is_regular_file(e) && !swfSignature(entry.path().string()).empty()) {
            found.push_back(entry.path().string());
        }
    };
    if (recurse) {
        for (auto it = fs::recursive_directory_iterator(folder, options, ec); !ec && it != fs::end(it);
             it.increment(ec)) {
            consider(*it);
        }
    } else {
        for (auto it = fs::directory_iterator(folder, options, ec); !ec && it != fs::end(it); it.increment(ec)) {
            consider(*it);
        }
    }
    if (ec) out.errors.push_back(folder.string() + ": " + ec.message());
    std::sort(found.begin(), found.end());
    out.files.insert(out.files.end(), found.begin(), found.end());
}

}  // namespace

InputList collectInputs(const std::vector<std::string>& arguments, bool recurse) {
    InputList out;
    for (const std::string& argument : arguments) {
        std::error_code ec;
        if (fs::is_directory(argument, ec)) {
            addFolder(argument, recurse, out);
        } else {
            out.files.push_back(argument);  // missing files are reported when read
        }
    }
    return out;
}

bool readFileList(const std::string& listFile, std::vector<std::string>& out) {
    std::ifstream file;
    std::istream* in = &std::cin;
    if (listFile != "-") {
        file.open(listFile);
        if (!file) return false;
        in = &file;
    }
    std::string line;
    while (std::getline(*in, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (!line.empty()) out.push_back(line);
    }
    return true;
}

}  // namespace kestrel::cli
