#include "document/extract.h"

#include <cerrno>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>

namespace kestrel {

namespace {

std::mutex folderMutex;
std::string folderValue;
bool folderKnown = false;

std::string failureReason(int error) {
    switch (error) {
        case ENOENT:
        case ENOTDIR: return "Path not found";
        case EACCES:
        case EPERM:
        case EROFS: return "Access denied";
        default: return "Invalid Path";
    }
}

bool isDirectory(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// Creates one folder; 0 when it exists afterwards, else the error.
int makeFolder(const std::string& path) {
    if (::mkdir(path.c_str(), 0777) == 0) return 0;
    const int error = errno;
    if (error == EEXIST) return isDirectory(path) ? 0 : EEXIST;
    return error;
}

bool fileExists(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
}

}  // namespace

std::string currentFolder() {
    std::lock_guard lock(folderMutex);
    if (!folderKnown) {
        char buffer[4096];
        folderValue = ::getcwd(buffer, sizeof buffer) ? buffer : "";
        folderKnown = true;
    }
    return folderValue;
}

void setCurrentFolder(const std::string& folder) {
    std::lock_guard lock(folderMutex);
    folderValue = folder;
    folderKnown = true;
}

std::string cleanFolderText(std::string folder) {
    for (char& c : folder) {
        if (c == '*' || c == '?' || c == '"' || c == '<' || c == '>' || c == '|') c = '_';
    }
    return folder;
}

bool createPath(const std::string& path, std::string& error) {
    if (path.find_first_not_of(' ') == std::string::npos) {
        error = "Empty Path";
        return false;
    }
    if (path[0] != '/') {
        error = path + " : Invalid Path";
        return false;
    }
    // Every prefix that ends before a separator, then the whole text.
    for (std::size_t i = 1; i <= path.size(); ++i) {
        if (i < path.size() && path[i] != '/') continue;
        if (path[i - 1] == '/') continue;  // "//" or a trailing separator: same folder again
        const std::string prefix = path.substr(0, i);
        const int result = makeFolder(prefix);
        if (result != 0) {
            error = prefix + " : " + failureReason(result);
            return false;
        }
        setCurrentFolder(prefix);
    }
    if (path == "/") setCurrentFolder(path);
    return true;
}

ExtractSummary extractResources(const SWFDocument& document, const std::string& folderText,
                                const std::vector<int>& indices, ExtractionHost& host, const WriteOptions& options) {
    ExtractSummary summary;
    std::string folder = cleanFolderText(folderText);
    std::string error;
    if (!createPath(folder, error)) {
        host.report(text::kCouldNotExtract + error, MessageIcon::Error, MessageButtons::Ok);
        summary.folderFailed = true;
        return summary;
    }
    if (folder.back() != '/') folder += '/';

    host.beginProgress(int(indices.size()));
    bool overwriteAll = false;
    bool skipExisting = false;
    for (std::size_t step = 0; step < indices.size(); ++step) {
        host.setProgress(int(step));
        if (host.cancelRequested()) {
            summary.stopped = summary.cancelled = true;
            break;
        }
        const int index = indices[step];
        if (index < 0 || index >= document.count()) continue;
        const SWFRes& record = document.resource(index);
        const std::string path = folder + document.resourceFileName(index, record.number, options.naming);

        if (!overwriteAll && fileExists(path)) {
            const OverwriteAnswer answer = skipExisting ? OverwriteAnswer::No : host.confirmOverwrite(path);
            if (answer == OverwriteAnswer::NoToAll) skipExisting = true;
            if (answer == OverwriteAnswer::Cancel) {
                summary.stopped = true;
                break;
            }
            if (answer == OverwriteAnswer::No || answer == OverwriteAnswer::NoToAll) {
                ++summary.skipped;
                host.resourceDone(index, path, ExtractionHost::Outcome::Skipped, "exists");
                continue;
            }
            if (answer == OverwriteAnswer::All) overwriteAll = true;
        }

        const std::string staged = host.stagingPath(path);
        WriteResult result = writeResourceFile(record, staged, options);
        if (result == WriteOk) {
            std::string reason;
            const auto outcome = staged == path ? ExtractionHost::Outcome::Written
                                                : host.commit(index, staged, path, reason);
            if (outcome == ExtractionHost::Outcome::Written) {
                ++summary.written;
                host.resourceDone(index, path, outcome, reason);
                continue;
            }
            if (outcome == ExtractionHost::Outcome::Skipped) {
                ++summary.skipped;
                host.resourceDone(index, path, outcome, reason);
                continue;
            }
            result = CreateFailed;  // the file was written but could not be put in place
        }
        ++summary.failed;
        host.resourceDone(index, path, ExtractionHost::Outcome::Failed,
                          result == CreateFailed ? "cannot create the file" : "cannot write the resource");
        std::string message = result == CreateFailed
                                  ? std::string(text::kCannotCreateFile) + ":\t \n" + path + "\n"
                                  : std::string(text::kCannotWriteResource) + ":\t \n" + record.description + "\n";
        if (result != CreateFailed) {
            for (const Problem& problem : record.problems) message += problem.reason + "\n";
        }
        if (step + 1 == indices.size()) {
            host.report(message, MessageIcon::Warning, MessageButtons::Ok);
        } else if (host.report(message + text::kContinue, MessageIcon::Warning, MessageButtons::YesNo) ==
                   MessageAnswer::No) {
            summary.stopped = true;
            break;
        }
    }
    host.endProgress();
    return summary;
}

}  // namespace kestrel
