#include "cli/manifest.h"

#include <algorithm>

#include "document/symbol_names.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>

namespace kestrel::cli {

namespace {

std::int64_t fileSize(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return -1;
    return std::int64_t(st.st_size);
}

const char* statusText(ResourceStatus status) {
    switch (status) {
        case ResourceStatus::Written: return "written";
        case ResourceStatus::Skipped: return "skipped";
        case ResourceStatus::Failed: return "failed";
    }
    return "failed";
}

void addMovie(Json& line, const MovieIdentity& movie) {
    line["movie"] = movie.movie;
    if (movie.bytes >= 0) {
        line["movieBytes"] = movie.bytes;
        line["movieSha256"] = movie.sha256;
    }
}

std::string stringOf(const Json& object, const char* key) {
    const auto it = object.find(key);
    return it != object.end() && it->is_string() ? it->get<std::string>() : std::string();
}

std::int64_t numberOf(const Json& object, const char* key) {
    const auto it = object.find(key);
    return it != object.end() && it->is_number_integer() ? it->get<std::int64_t>() : -1;
}

}  // namespace

std::string jsonText(const Json& value) { return value.dump(-1, ' ', false, Json::error_handler_t::replace); }

std::string jsonSafe(const std::string& text) { return Json::parse(jsonText(Json(text))).get<std::string>(); }

Json recordIdentity(const SWFDocument& doc, int index) {
    const SWFRes& record = doc.resource(index);
    Json out;
    out["index"] = index;
    out["kind"] = kindName(record.kind);
    out["number"] = record.number;
    // The tag that defined it, its character id where it has one (stream
    // sounds have none), the names the movie gives it (maybe none) and the
    // DefineBinaryData it comes from ("origin"), if any.
    out["tag"] = record.tag;
    if (record.characterId >= 0) out["characterId"] = record.characterId;
    Json names = Json::array();
    for (const std::string& name : record.names) names.push_back(nameText(name));
    out["names"] = std::move(names);
    if (!record.container.empty()) out["origin"] = record.container;
    return out;
}

// The file's problems, then those of its resources that the file's list
// does not already hold.
Json movieProblems(const SWFDocument& doc) {
    Json out = Json::array();
    auto add = [&out](const Problem& problem) {
        Json p;
        p["tag"] = problem.tag;
        p["offset"] = problem.offset;
        p["reason"] = problem.reason;
        if (std::find(out.begin(), out.end(), p) == out.end()) out.push_back(std::move(p));
    };
    for (const Problem& problem : doc.problems()) add(problem);
    for (int i = 0; i < doc.count(); ++i) {
        for (const Problem& problem : doc.resource(i).problems) add(problem);
    }
    return out;
}

Json resourceLine(const MovieIdentity& movie, const Json& identity, const std::string& output, std::int64_t bytes,
                  const std::string& sha256, ResourceStatus status, const std::string& reason,
                  const std::string& sameAs) {
    Json line;
    addMovie(line, movie);
    for (const auto& [key, value] : identity.items()) line[key] = value;
    line["output"] = output;
    if (bytes >= 0) {
        line["bytes"] = bytes;
        line["sha256"] = sha256;
    }
    line["status"] = statusText(status);
    if (status != ResourceStatus::Written) line["reason"] = reason;
    if (!sameAs.empty()) line["sameAs"] = sameAs;
    return line;
}

Json movieLine(const MovieIdentity& movie, const MovieOutcome& outcome) {
    Json line;
    addMovie(line, movie);
    line["kind"] = "movie";
    line["result"] = outcome.result ? Json(*outcome.result) : Json(nullptr);
    line["status"] = outcome.failed ? "failed" : "done";
    if (outcome.failed) line["reason"] = outcome.reason;
    line["written"] = outcome.written;
    line["skipped"] = outcome.skipped;
    line["failed"] = outcome.failedResources;
    line["problems"] = outcome.problems;
    return line;
}

ManifestWriter::~ManifestWriter() {
    if (file_) std::fclose(file_);
}

bool ManifestWriter::open(const std::string& path, const std::function<bool(const std::string&)>& keep,
                          std::string& error) {
    // The kept lines go to a new file that then replaces the old one, so a
    // run killed while starting still finds the earlier manifest.
    const std::string fresh = path + ".new";
    std::FILE* file = std::fopen(fresh.c_str(), "we");
    if (!file) {
        error = path + ": " + std::strerror(errno);
        return false;
    }
    bool ok = true;
    if (keep) {
        std::ifstream old(path, std::ios::binary);
        for (std::string line; ok && std::getline(old, line);) {
            if (!keep(line)) continue;
            line += '\n';
            ok = std::fwrite(line.data(), 1, line.size(), file) == line.size();
        }
    }
    if (!ok || std::fflush(file) != 0 || ::fsync(::fileno(file)) != 0 ||
        std::rename(fresh.c_str(), path.c_str()) != 0) {
        error = path + ": " + std::strerror(errno);
        std::fclose(file);
        std::remove(fresh.c_str());
        return false;
    }
    file_ = file;
    return true;
}

void ManifestWriter::write(const Json& line) {
    if (!file_) return;
    const std::string text = jsonText(line) + "\n";
    const bool written = std::fwrite(text.data(), 1, text.size(), file_) == text.size();
    if (std::fflush(file_) != 0 || !written) good_ = false;
}

bool PreviousRun::load(const std::string& path, const std::string& base, std::string& error) {
    base_ = base;
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        std::error_code ec;
        if (!std::filesystem::exists(path, ec)) return true;  // nothing done yet
        error = path + ": cannot be read";
        return false;
    }
    for (std::string text; std::getline(in, text);) {
        const Json value = Json::parse(text, nullptr, false);
        if (value.is_discarded() || !value.is_object()) continue;
        const std::string movie = stringOf(value, "movie");
        if (movie.empty()) continue;
        Entry e;
        e.isMovie = stringOf(value, "kind") == "movie";
        e.status = stringOf(value, "status");
        e.reason = stringOf(value, "reason");
        e.output = stringOf(value, "output");
        e.sameAs = stringOf(value, "sameAs");
        e.sha256 = stringOf(value, "sha256");
        e.bytes = numberOf(value, e.isMovie ? "movieBytes" : "bytes");
        byMovie_[movie].push_back(std::move(e));
    }
    return true;
}

bool PreviousRun::isDone(const std::string& movie, const std::string& absoluteMovie) const {
    const auto found = byMovie_.find(movie);
    if (found == byMovie_.end()) return false;
    bool movieDone = false;
    for (const Entry& e : found->second) {
        if (e.isMovie) {
            if (e.status != "done" || e.bytes < 0 || fileSize(absoluteMovie) != e.bytes) return false;
            movieDone = true;
        } else if (e.status == "written") {
            if (e.bytes < 0 || fileSize(base_ + "/" + e.output) != e.bytes) return false;
        } else if (e.status == "skipped" && e.reason == "duplicate") {
            if (e.bytes < 0 || fileSize(base_ + "/" + e.sameAs) != e.bytes) return false;
        } else {
            return false;
        }
    }
    return movieDone;
}

bool PreviousRun::keeps(const std::string& line, const std::set<std::string>& redo) {
    const Json value = Json::parse(line, nullptr, false);
    return value.is_object() && !redo.count(stringOf(value, "movie"));
}

std::set<std::string> PreviousRun::outputsOf(const std::string& movie) const {
    std::set<std::string> out;
    const auto found = byMovie_.find(movie);
    if (found == byMovie_.end()) return out;
    for (const Entry& e : found->second) {
        if (!e.isMovie && e.status == "written") out.insert(base_ + "/" + e.output);
    }
    return out;
}

std::map<std::string, std::string> PreviousRun::contentExcept(const std::set<std::string>& redo) const {
    std::map<std::string, std::string> out;
    for (const auto& [movie, entries] : byMovie_) {
        if (redo.count(movie)) continue;
        for (const Entry& e : entries) {
            if (!e.isMovie && e.status == "written" && !e.sha256.empty()) out.emplace(e.sha256, base_ + "/" + e.output);
        }
    }
    return out;
}

}  // namespace kestrel::cli
