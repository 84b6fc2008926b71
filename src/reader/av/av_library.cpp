#include "reader/av/av_library.h"

#include <dlfcn.h>
#include <limits.h>
#include <unistd.h>

#include <cstdlib>
#include <vector>

namespace kestrel::avlibrary {

namespace {

struct Loaded {
    const KestrelAvApi* api = nullptr;
    std::string why;
};

std::string executablePath() {
    char buffer[PATH_MAX];
    const ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    return n > 0 ? std::string(buffer, std::size_t(n)) : std::string();
}

std::string folderOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

std::vector<std::string> candidates() {
    if (const char* named = std::getenv("KESTREL_AV_MODULE"); named && *named) return {named};
    std::vector<std::string> paths;
    const std::string program = executablePath();
    if (program.empty()) return paths;
    paths.push_back(folderOf(program) + "/" KESTREL_AV_INSTALLED);
    // A program inside the build tree takes the module built with it; an
    // installed one never looks there.
    const std::string tree = KESTREL_AV_BUILD_TREE "/";
    if (program.compare(0, tree.size(), tree) == 0) paths.push_back(KESTREL_AV_BUILT);
    return paths;
}

Loaded load() {
    Loaded loaded;
    std::string errors;
    for (const std::string& path : candidates()) {
        void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (!handle) {
            if (!errors.empty()) errors += "; ";
            const char* error = ::dlerror();
            errors += error ? error : path;
            continue;
        }
        auto entry = reinterpret_cast<KestrelAvEntry>(::dlsym(handle, KESTREL_AV_ENTRY));
        const KestrelAvApi* table = entry ? entry() : nullptr;
        if (table && table->version == KESTREL_AV_API_VERSION) {
            loaded.api = table;  // kept open for the life of the process
            return loaded;
        }
        ::dlclose(handle);
        if (!errors.empty()) errors += "; ";
        errors += path + ": not a module of this version of Kestrel";
    }
    loaded.why = "the codec module kestrel-av.so could not be loaded";
    if (!errors.empty()) loaded.why += " (" + errors + ")";
    return loaded;
}

}  // namespace

const KestrelAvApi* api(std::string* why) {
    static const Loaded loaded = load();
    if (!loaded.api && why) *why = loaded.why;
    return loaded.api;
}

}  // namespace kestrel::avlibrary
