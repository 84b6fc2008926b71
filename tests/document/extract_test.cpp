#include <sys/stat.h>
#include <unistd.h>

#include "document/extract.h"
#include "test_support.h"

namespace kestrel::test {
namespace {

using namespace swfbuilder;

TEST(CreatePath, RefusesWhatIsNotAnAbsolutePath) {
    std::string error;
    EXPECT_FALSE(createPath("images", error));
    EXPECT_EQ(error, "images : Invalid Path");
    EXPECT_FALSE(createPath("  /tmp", error));
    EXPECT_EQ(error, "  /tmp : Invalid Path");
    EXPECT_FALSE(createPath("", error));
    EXPECT_EQ(error, "Empty Path");
    EXPECT_FALSE(createPath("   ", error));
    EXPECT_EQ(error, "Empty Path");
}

TEST(CreatePath, CreatesNestedFoldersAndMovesTheCurrentFolder) {
    TempDir dir;
    std::string error;
    const std::string deep = dir.path() + "/a//b/c/";
    ASSERT_TRUE(createPath(deep, error)) << error;
    EXPECT_TRUE(std::filesystem::is_directory(dir.path() + "/a/b/c"));
    EXPECT_EQ(currentFolder(), dir.path() + "/a//b/c");
    ASSERT_TRUE(createPath(deep, error)) << error;  // existing folders are fine
    EXPECT_TRUE(createPath("/", error));
}

TEST(CreatePath, ReportsTheFolderThatFailedAndWhy) {
    TempDir dir;
    std::string error;
    const std::string file = dir.write("plain.txt", {1});
    EXPECT_FALSE(createPath(file + "/sub", error));
    EXPECT_EQ(error, file + " : Invalid Path");  // a file is not a folder

    std::string denied;
    if (::geteuid() != 0) {
        denied = dir.path() + "/locked";
        ::mkdir(denied.c_str(), 0500);
    } else if (std::filesystem::is_directory("/sys/kernel")) {
        denied = "/sys";  // refuses new folders even to root
    }
    if (denied.empty()) GTEST_SKIP() << "no folder refuses creation here";
    EXPECT_FALSE(createPath(denied + "/kestrel-x/y", error));
    EXPECT_EQ(error, denied + "/kestrel-x : Access denied");
}

TEST(CleanFolderText, ReplacesCharactersFilesCannotCarry) {
    EXPECT_EQ(cleanFolderText("/out/new?dir"), "/out/new_dir");
    EXPECT_EQ(cleanFolderText("/a*b\"c<d>e|f:g/"), "/a_b_c_d_e_f:g/");
}

// Answers questions from a script and records everything.
class ScriptedHost final : public ExtractionHost {
public:
    std::vector<OverwriteAnswer> overwriteAnswers;
    MessageAnswer continueAnswer = MessageAnswer::Yes;
    std::vector<std::string> asked;
    std::vector<std::pair<std::string, MessageButtons>> reports;
    std::vector<int> progress;

    OverwriteAnswer confirmOverwrite(const std::string& path) override {
        asked.push_back(std::filesystem::path(path).filename().string());
        if (overwriteAnswers.empty()) return OverwriteAnswer::Yes;
        const OverwriteAnswer a = overwriteAnswers.front();
        overwriteAnswers.erase(overwriteAnswers.begin());
        return a;
    }
    MessageAnswer report(const std::string& text, MessageIcon, MessageButtons buttons) override {
        reports.push_back({text, buttons});
        return buttons == MessageButtons::YesNo ? continueAnswer : MessageAnswer::Ok;
    }
    void setProgress(int step) override { progress.push_back(step); }
};

// movie.swf with two images and a sound: movie-1.png, movie-2.png, movie-1.wav.
std::string movie(const TempDir& dir, int soundFormat = 0) {
    // Speex data the decoder rejects.
    const Bytes data = soundFormat == 11 ? Bytes(40, 0xFF) : Bytes{1, 2, 3};
    Tags t;
    t.tag(kTagDefineBitsLossless, losslessBody(1, 5, 2, 1, deflate(argbRows({0xFF0000FF, 0x00FF00FF}))))
        .tag(kTagDefineSound, defineSoundBody(2, soundFormat, 1, false, false, 3, data))
        .tag(kTagDefineBitsLossless, losslessBody(3, 5, 1, 1, deflate(argbRows({0x0000FFFF}))))
        .end();
    return dir.write("movie.swf", SwfFile().tags(t).bytes());
}

std::vector<int> all(const SWFDocument& doc) {
    std::vector<int> v;
    for (int i = 0; i < doc.count(); ++i) v.push_back(i);
    return v;
}

TEST(ExtractResources, NamesFilesAndCreatesTheFolder) {
    TempDir dir;
    SWFDocument doc;
    ASSERT_TRUE(doc.readFile(movie(dir), nullptr, nullptr));
    ScriptedHost host;
    const ExtractSummary s = extractResources(doc, dir.path() + "/out/new?dir", all(doc), host);
    EXPECT_EQ(s.written, 3);
    const std::string out = dir.path() + "/out/new_dir/";
    EXPECT_TRUE(std::filesystem::exists(out + "movie-1.png"));
    EXPECT_TRUE(std::filesystem::exists(out + "movie-2.png"));
    EXPECT_TRUE(std::filesystem::exists(out + "movie-1.wav"));
    EXPECT_EQ(host.progress, (std::vector<int>{0, 1, 2}));
    EXPECT_TRUE(host.asked.empty());
}

TEST(ExtractResources, RelativeFolderStopsBeforeWriting) {
    TempDir dir;
    SWFDocument doc;
    ASSERT_TRUE(doc.readFile(movie(dir), nullptr, nullptr));
    ScriptedHost host;
    const ExtractSummary s = extractResources(doc, "images", all(doc), host);
    EXPECT_TRUE(s.folderFailed);
    ASSERT_EQ(host.reports.size(), 1u);
    EXPECT_EQ(host.reports[0].first, "Could not extract the resources.\nimages : Invalid Path");
}

TEST(ExtractResources, OverwriteAnswers) {
    TempDir dir;
    SWFDocument doc;
    ASSERT_TRUE(doc.readFile(movie(dir), nullptr, nullptr));
    const std::string out = dir.path() + "/out";
    ScriptedHost first;
    extractResources(doc, out, all(doc), first);
    const auto stamp = [&](const char* name) { return readAll(out + "/" + name); };

    // No skips one file; All answers every later question.
    for (const char* name : {"movie-1.png", "movie-1.wav", "movie-2.png"}) dir.write(std::string("out/") + name, {0});
    ScriptedHost host;
    host.overwriteAnswers = {OverwriteAnswer::No, OverwriteAnswer::All};
    ExtractSummary s = extractResources(doc, out, all(doc), host);
    EXPECT_EQ(host.asked, (std::vector<std::string>{"movie-1.png", "movie-1.wav"}));
    EXPECT_EQ(s.skipped, 1);
    EXPECT_EQ(s.written, 2);
    EXPECT_EQ(stamp("movie-1.png"), Bytes{0});
    EXPECT_NE(stamp("movie-2.png"), Bytes{0});

    // Cancel ends the whole extraction.
    dir.write("out/movie-1.png", {0});
    ScriptedHost cancel;
    cancel.overwriteAnswers = {OverwriteAnswer::Cancel};
    s = extractResources(doc, out, all(doc), cancel);
    EXPECT_TRUE(s.stopped);
    EXPECT_EQ(s.written, 0);
    EXPECT_EQ(cancel.asked.size(), 1u);
}

TEST(ExtractResources, FailuresAskToContinueExceptOnTheLastFile) {
    TempDir dir;
    SWFDocument doc;
    ASSERT_TRUE(doc.readFile(movie(dir, 11), nullptr, nullptr));  // a Speex sound that cannot be decoded
    const std::string out = dir.path() + "/out";
    std::filesystem::create_directories(out + "/movie-2.png");  // a folder where the file should go

    ScriptedHost host;
    const ExtractSummary s = extractResources(doc, out, {1, 0, 2}, host);
    ASSERT_EQ(host.reports.size(), 2u);
    EXPECT_EQ(host.reports[0].first,
              "Could not create the following resource:\t \n Sound - 16 kHz - Mono - 16 bits\n"
              "Speex: Invalid data found when processing input\n\nDo you want to continue ?");
    EXPECT_EQ(host.reports[0].second, MessageButtons::YesNo);
    EXPECT_EQ(host.reports[1].first, "Unable to create the following file:\t \n" + out + "/movie-2.png\n");
    EXPECT_EQ(host.reports[1].second, MessageButtons::Ok);
    EXPECT_EQ(s.failed, 2);
    EXPECT_EQ(s.written, 1);

    ScriptedHost stop;
    stop.continueAnswer = MessageAnswer::No;
    const ExtractSummary t = extractResources(doc, dir.path() + "/out2", {1, 0}, stop);
    EXPECT_TRUE(t.stopped);
    EXPECT_EQ(t.written, 0);
}

// A host that stages every file and puts it in place as told.
class StagingHost final : public ExtractionHost {
public:
    std::vector<Outcome> decisions;  // per commit, in order; Written renames
    std::vector<std::string> staged;
    std::vector<std::string> done;  // "name outcome reason"

    OverwriteAnswer confirmOverwrite(const std::string&) override { return OverwriteAnswer::No; }
    MessageAnswer report(const std::string&, MessageIcon, MessageButtons) override { return MessageAnswer::Yes; }
    std::string stagingPath(const std::string& path) override { return path + ".part"; }
    Outcome commit(int, const std::string& from, const std::string& to, std::string& reason) override {
        staged.push_back(std::filesystem::path(from).filename().string());
        EXPECT_TRUE(std::filesystem::exists(from));
        EXPECT_FALSE(std::filesystem::exists(to));  // nothing under the final name before the commit
        const Outcome o = decisions.empty() ? Outcome::Written : decisions.front();
        if (!decisions.empty()) decisions.erase(decisions.begin());
        if (o == Outcome::Written) std::filesystem::rename(from, to);
        if (o == Outcome::Skipped) reason = "duplicate";
        if (o != Outcome::Written) std::filesystem::remove(from);
        return o;
    }
    void resourceDone(int, const std::string& path, Outcome outcome, const std::string& reason) override {
        done.push_back(std::filesystem::path(path).filename().string() + " " + std::to_string(int(outcome)) + " " +
                       reason);
    }
};

TEST(ExtractResources, StagedFilesAreCommittedByTheHost) {
    TempDir dir;
    SWFDocument doc;
    ASSERT_TRUE(doc.readFile(movie(dir), nullptr, nullptr));
    const std::string out = dir.path() + "/out";
    std::filesystem::create_directories(out);
    dir.write("out/movie-2.png", {7});  // exists: the host says No
    StagingHost host;
    host.decisions = {ExtractionHost::Outcome::Written, ExtractionHost::Outcome::Skipped};
    ExtractSummary s = extractResources(doc, out, all(doc), host);
    EXPECT_EQ(s.written, 1);
    EXPECT_EQ(s.skipped, 2);
    EXPECT_EQ(host.staged, (std::vector<std::string>{"movie-1.png.part", "movie-1.wav.part"}));
    EXPECT_EQ(host.done,
              (std::vector<std::string>{"movie-1.png 0 ", "movie-1.wav 1 duplicate", "movie-2.png 1 exists"}));
    EXPECT_TRUE(std::filesystem::exists(out + "/movie-1.png"));
    EXPECT_FALSE(std::filesystem::exists(out + "/movie-1.wav"));
    EXPECT_EQ(readAll(out + "/movie-2.png"), Bytes{7});

    // A file that cannot be put in place fails like one that cannot be created.
    std::filesystem::remove_all(out);
    StagingHost failing;
    failing.decisions = {ExtractionHost::Outcome::Failed};
    s = extractResources(doc, out, {0}, failing);
    EXPECT_EQ(s.failed, 1);
    EXPECT_EQ(failing.done, (std::vector<std::string>{"movie-1.png 2 cannot create the file"}));
    EXPECT_TRUE(std::filesystem::is_empty(out));
}

}  // namespace
}  // namespace kestrel::test
