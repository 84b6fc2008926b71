// Runs the kestrel-cli binary as a user would and checks what it prints.
#include <sys/wait.h>

#include <array>
#include <cstdio>

#include "test_support.h"

namespace kestrel::test {
namespace {

using namespace swfbuilder;

struct CliRun {
    int status;
    std::string out;
    std::string err;
};

CliRun runCli(const std::string& args) {
    TempDir dir;
    const std::string errPath = dir.file("stderr");
    const std::string command = std::string(KESTREL_CLI) + " " + args + " 2>" + errPath;
    CliRun run{};
    FILE* pipe = ::popen(command.c_str(), "r");
    std::array<char, 4096> buffer{};
    std::size_t n;
    while ((n = std::fread(buffer.data(), 1, buffer.size(), pipe)) > 0) run.out.append(buffer.data(), n);
    const int status = ::pclose(pipe);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    const Bytes err = readAll(errPath);
    run.err.assign(err.begin(), err.end());
    return run;
}

Bytes soundFile() {
    Tags t;
    t.tag(kTagDefineSound, defineSoundBody(1, 0, 3, true, true, 1, Bytes(44100, 1)))
        .showFrame()
        .tag(kTagDefineSound, defineSoundBody(2, 0, 1, false, false, 1, Bytes(11025, 1)))
        .end();
    return SwfFile().frames(2).compressed().tags(t).bytes();
}

TEST(CliList, JsonOfOneFile) {
    TempDir dir;
    const std::string path = dir.write("movie.swf", soundFile());
    const CliRun run = runCli("list --json " + path);
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find("{\"file\":\"" + path + "\",\"result\":0,\"message\":\"\",\"resources\":[{"), std::string::npos)
        << run.out;
    EXPECT_NE(run.out.find("\"kind\":\"sound\",\"number\":1,\"typeText\":\"WAV 44 kHz Stereo 16 bits\",\"frame\":1"),
              std::string::npos);
    EXPECT_NE(run.out.find("\"durationMs\":250"), std::string::npos);
    EXPECT_NE(run.out.find("\"fileName\":\"movie-2.wav\""), std::string::npos);
    EXPECT_NE(run.out.find("\"blockCount\":1"), std::string::npos);
    EXPECT_EQ(run.out.front(), '{');
}

TEST(CliList, SortAndSeveralFilesWithOneBad) {
    TempDir dir;
    const std::string good = dir.write("movie.swf", soundFile());
    const std::string bad = dir.write("bad.swf", Bytes{'n', 'o', 'p', 'e', 0, 0, 0, 0, 0});
    const CliRun run = runCli("list --json --sort -2 " + bad + " " + good);
    EXPECT_NE(run.status, 0);
    EXPECT_EQ(run.out.front(), '[');
    EXPECT_NE(run.out.find("\"result\":5,\"message\":\"The file " + bad + " is not a SWF file\",\"resources\":[]"),
              std::string::npos)
        << run.out;
    EXPECT_NE(run.err.find("is not a SWF file"), std::string::npos);
    // Sorted by frame, descending: sound 2 (frame 2) first.
    const auto second = run.out.find("\"number\":2");
    const auto first = run.out.find("\"number\":1");
    ASSERT_NE(second, std::string::npos);
    EXPECT_LT(second, first);
}

TEST(CliList, UsageErrors) {
    EXPECT_EQ(runCli("").status, 2);
    EXPECT_EQ(runCli("list").status, 2);
    EXPECT_EQ(runCli("list --sort 7 x.swf").status, 2);
    EXPECT_EQ(runCli("frobnicate x.swf").status, 2);
}

TEST(CliList, TextListing) {
    TempDir dir;
    const CliRun run = runCli("list " + dir.write("movie.swf", soundFile()));
    EXPECT_EQ(run.status, 0);
    EXPECT_NE(run.out.find("2 resources"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("movie-1.wav"), std::string::npos);
}

}  // namespace
}  // namespace kestrel::test

namespace kestrel::test {
namespace {

TEST(DemoMovie, CommittedFileIsWhatTheToolWrites) {
    TempDir dir;
    const std::string fresh = dir.file("demo.swf");
    ASSERT_EQ(std::system((std::string(KESTREL_MAKE_DEMO) + " " + fresh).c_str()), 0);
    EXPECT_EQ(readAll(fresh), readAll(std::string(KESTREL_SOURCE_DIR) + "/samples/demo.swf"))
        << "samples/demo.swf is stale: rebuild it with make-demo";
}

TEST(DemoMovie, HoldsEveryKindKestrelReads) {
    const std::string path = std::string(KESTREL_SOURCE_DIR) + "/samples/demo.swf";
    const CliRun run = runCli("list --json " + path);
    ASSERT_EQ(run.status, 0) << run.err;
    for (const char* type : {"\"JPEG RGB\"", "\"JPEG Grayscale\"", "\"JPEG RGBA\"", "\"PNG RGB\"", "\"PNG RGBA\"",
                             "\"PNG RGB 6 colors\"", "\"PNG RGBA 8 colors\"", "\"WAV 11 kHz Mono 16 bits\"",
                             "\"WAV 5.5 kHz Mono 8 bits\"", "\"WAV ADPCM 22 kHz Mono 16 bits\"",
                             "\"MP3 22 kHz Mono 16 bits\""}) {
        EXPECT_NE(run.out.find(type), std::string::npos) << type;
    }
    EXPECT_NE(run.out.find("\"result\":0"), std::string::npos);
}

}  // namespace
}  // namespace kestrel::test
