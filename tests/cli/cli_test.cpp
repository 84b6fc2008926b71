// Runs the kestrel-cli binary as a user would and checks what it prints.
#include <fcntl.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <sstream>

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

Tags soundTags() {
    Tags t;
    t.tag(kTagDefineSound, defineSoundBody(1, 0, 3, true, true, 1, Bytes(44100, 1)))
        .showFrame()
        .tag(kTagDefineSound, defineSoundBody(2, 0, 1, false, false, 1, Bytes(11025, 1)))
        .end();
    return t;
}

Bytes soundFile() { return SwfFile().frames(2).compressed().tags(soundTags()).bytes(); }

TEST(CliList, JsonOfOneFile) {
    TempDir dir;
    const std::string path = dir.write("movie.swf", soundFile());
    const CliRun run = runCli("list --json " + path);
    EXPECT_EQ(run.status, 0) << run.err;
    const std::size_t body = SwfFile().frames(2).tags(soundTags()).bytes().size() - 8;
    EXPECT_NE(run.out.find("{\"file\":\"" + path + "\",\"result\":0,\"message\":\"\",\"recoveredBodyBytes\":" +
                           std::to_string(body) + ",\"problems\":[],\"resources\":[{"),
              std::string::npos)
        << run.out;
    EXPECT_NE(run.out.find("\"kind\":\"sound\",\"number\":1,\"typeText\":\"WAV 44 kHz Stereo 16 bits\",\"frame\":1"),
              std::string::npos);
    EXPECT_NE(run.out.find("\"durationMs\":250"), std::string::npos);
    EXPECT_NE(run.out.find("\"fileName\":\"movie-2.wav\""), std::string::npos);
    EXPECT_NE(run.out.find("\"blockCount\":1"), std::string::npos);
    EXPECT_NE(run.out.find("\"tag\":14,\"characterId\":2,\"timeline\":0,\"names\":[],\"problems\":[]"),
              std::string::npos);
    EXPECT_EQ(run.out.front(), '{');
}

TEST(CliList, ResourcesOfANestedMovieCarryTheirOrigin) {
    TempDir dir;
    Tags t = soundTags();
    t = Tags().tag(kTagDefineBinaryData, defineBinaryDataBody(4, SwfFile().tags(soundTags()).bytes())).raw(t.bytes());
    dir.write("movie.swf", SwfFile().tags(t).bytes());
    const CliRun run = runCli("list --json " + dir.file("movie.swf"));
    EXPECT_EQ(run.status, 0) << run.err;
    // The movie's own two sounds come first and have no origin.
    const std::size_t first = run.out.find("\"origin\":\"binary 4\"");
    EXPECT_GT(first, run.out.find("\"fileName\":\"movie-3.wav\""));
    EXPECT_LT(first, run.out.find("\"fileName\":\"movie-4.wav\""));
    EXPECT_NE(run.out.find("\"timeline\":0,\"names\":[],\"origin\":\"binary 4\",\"problems\":[]"), std::string::npos);

    const CliRun extract =
        runCli("extract -o " + dir.file("out") + " --manifest " + dir.file("m.jsonl") + " " + dir.file("movie.swf"));
    EXPECT_EQ(extract.status, 0) << extract.err;
    const Bytes manifest = readAll(dir.file("m.jsonl"));
    const std::string lines(manifest.begin(), manifest.end());
    EXPECT_NE(lines.find("\"characterId\":2,\"names\":[],\"origin\":\"binary 4\",\"output\":\"movie-4.wav\""),
              std::string::npos)
        << lines;
    EXPECT_EQ(lines.find("\"origin\":\"\""), std::string::npos);
}

TEST(CliList, DamagedMovieListsWhatPrecedesTheDamage) {
    TempDir dir;
    Tags t;
    t.tag(kTagDefineSound, defineSoundBody(1, 0, 1, false, false, 1, Bytes(3000, 1)));
    t.tag(kTagSoundStreamHead, soundStreamHeadBody(0, 1, false, false, 4)).tag(kTagSoundStreamBlock, Bytes(40, 2));
    for (int i = 0; i < 40; ++i) t.tag(777, Bytes(500, std::uint8_t(i * 37)));
    t.end();
    Bytes file = SwfFile().lzma().tags(t).bytes();
    file.resize(file.size() * 3 / 4);
    const CliRun run = runCli("list --json " + dir.write("cut.swf", file));
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.out.find("\"result\":2,"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("\"problems\":[{\"tag\":0,\"offset\":"), std::string::npos);
    EXPECT_NE(run.out.find(",\"reason\":\"LZMA stream cut short\"}]"), std::string::npos);
    EXPECT_NE(run.out.find("\"recoveredBodyBytes\":"), std::string::npos);
    // Both sounds precede the cut; the stream sound has no character id.
    EXPECT_NE(run.out.find("\"tag\":14,\"characterId\":1,\"timeline\":0"), std::string::npos);
    EXPECT_NE(run.out.find("\"tag\":18,\"characterId\":null,\"timeline\":0"), std::string::npos);
    EXPECT_NE(run.err.find("damaged.\n  Body at offset "), std::string::npos) << run.err;

    const CliRun text = runCli("list " + dir.file("cut.swf"));
    EXPECT_EQ(text.status, 1);
    EXPECT_NE(text.out.find("2 resources"), std::string::npos) << text.out;

    // Extraction writes what was recovered and still fails.
    const CliRun extract = runCli("extract -o " + dir.file("out") + " " + dir.file("cut.swf"));
    EXPECT_EQ(extract.status, 1) << extract.err;
    EXPECT_TRUE(std::filesystem::exists(dir.file("out/cut-1.wav")));
    EXPECT_TRUE(std::filesystem::exists(dir.file("out/cut-2.wav")));
}

TEST(CliList, SortAndSeveralFilesWithOneBad) {
    TempDir dir;
    const std::string good = dir.write("movie.swf", soundFile());
    const std::string bad = dir.write("bad.swf", Bytes{'n', 'o', 'p', 'e', 0, 0, 0, 0, 0});
    const CliRun run = runCli("list --json --sort -2 " + bad + " " + good);
    EXPECT_NE(run.status, 0);
    EXPECT_EQ(run.out.front(), '[');
    EXPECT_NE(run.out.find("\"result\":5,\"message\":\"The file " + bad +
                           " is not a SWF file\",\"problems\":[],\"resources\":[]"),
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

// Two MP3 sounds named alike, and one whose name is not UTF-8.
TEST(CliNames, ListedInJsonAndTheManifestAndNamingTheFiles) {
    Bytes mp3 = {0, 0};
    const Bytes frames = readAll(dataFile("stereo-vbr.mp3"));
    mp3.insert(mp3.end(), frames.begin(), frames.end());
    Tags t;
    t.tag(kTagDefineSound, defineSoundBody(1, 2, 3, true, true, 44100, mp3))
        .tag(kTagDefineSound, defineSoundBody(2, 2, 3, true, true, 44100, mp3))
        .tag(kTagDefineSound, defineSoundBody(3, 2, 3, true, true, 44100, mp3))
        .tag(kTagSymbolClass, namesBody({{1, "Jump"}, {2, "Jump"}, {3, "x\xFFy"}}))
        .end();
    TempDir dir;
    const std::string movie = dir.write("sfx.swf", SwfFile().tags(t).bytes());
    const CliRun list = runCli("list --json " + movie);
    EXPECT_EQ(list.status, 0) << list.err;
    EXPECT_NE(list.out.find("\"names\":[\"Jump\"]"), std::string::npos) << list.out;
    EXPECT_NE(list.out.find("\"names\":[\"x\\\\xFFy\"]"), std::string::npos) << list.out;

    const CliRun run =
        runCli("extract --name-by symbol --manifest " + dir.file("m.jsonl") + " -o " + dir.file("out") + " " + movie);
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(readAll(dir.file("out/Jump.mp3")), frames);
    EXPECT_EQ(readAll(dir.file("out/Jump-2.mp3")), frames);
    EXPECT_EQ(readAll(dir.file("out/sfx-3.mp3")), frames);
    const Bytes manifest = readAll(dir.file("m.jsonl"));
    EXPECT_NE(std::string(manifest.begin(), manifest.end()).find("\"names\":[\"Jump\"],\"output\":\"Jump-2.mp3\""),
              std::string::npos);

    ASSERT_EQ(runCli("extract --name-by title-number -o " + dir.file("plain") + " " + movie).status, 0);
    EXPECT_TRUE(std::filesystem::exists(dir.file("plain/sfx-1.mp3")));
    EXPECT_EQ(runCli("extract --name-by label -o " + dir.file("x") + " " + movie).status, 2);
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

TEST(DemoMovie, CommittedFilesAreWhatTheToolWrites) {
    TempDir dir;
    const std::string fresh = dir.file("demo.swf");
    const std::string freshLzma = dir.file("demo-lzma.swf");
    ASSERT_EQ(std::system((std::string(KESTREL_MAKE_DEMO) + " " + fresh + " " + freshLzma).c_str()), 0);
    EXPECT_EQ(readAll(fresh), readAll(std::string(KESTREL_SOURCE_DIR) + "/samples/demo.swf"))
        << "samples/demo.swf is stale: rebuild it with make-demo";
    const Bytes lzma = readAll(freshLzma);
    EXPECT_EQ(lzma, readAll(std::string(KESTREL_SOURCE_DIR) + "/samples/demo-lzma.swf"))
        << "samples/demo-lzma.swf is stale: rebuild it with make-demo";
    ASSERT_GT(lzma.size(), 17u);
    EXPECT_EQ(std::string(lzma.begin(), lzma.begin() + 3), "ZWS");
}

TEST(DemoMovie, LzmaSampleListsAsThePlainOne) {
    const std::string samples = std::string(KESTREL_SOURCE_DIR) + "/samples/";
    const CliRun zlib = runCli("list --json " + samples + "demo.swf");
    const CliRun lzma = runCli("list --json " + samples + "demo-lzma.swf");
    ASSERT_EQ(lzma.status, 0) << lzma.err;
    std::string renamed = lzma.out;
    for (std::size_t at; (at = renamed.find("demo-lzma")) != std::string::npos;) renamed.replace(at, 9, "demo");
    EXPECT_EQ(renamed, zlib.out);
    EXPECT_NE(zlib.out.find("\"resources\":[{"), std::string::npos);
}

TEST(DemoMovie, HoldsEveryKindKestrelReads) {
    const std::string path = std::string(KESTREL_SOURCE_DIR) + "/samples/demo.swf";
    const CliRun run = runCli("list --json " + path);
    ASSERT_EQ(run.status, 0) << run.err;
    for (const char* type :
         {"\"JPEG RGB\"", "\"JPEG Grayscale\"", "\"JPEG RGBA\"", "\"PNG RGB\"", "\"PNG RGBA\"", "\"PNG RGB 16 colors\"",
          "\"PNG RGBA 12 colors\"", "\"WAV 11 kHz Mono 16 bits\"", "\"WAV 5.5 kHz Mono 8 bits\"",
          "\"WAV ADPCM 22 kHz Mono 16 bits\"", "\"MP3 22 kHz Mono 16 bits\"", "\"WAV 22 kHz Mono 16 bits\"",
          "\"WAV Nellymoser 11 kHz Mono 16 bits\"", "\"format\":3,", "\"format\":6,"}) {
        EXPECT_NE(run.out.find(type), std::string::npos) << type;
    }
    EXPECT_NE(run.out.find("\"result\":0"), std::string::npos);
    EXPECT_NE(run.out.find("\"deblocking\":256"), std::string::npos) << "the DefineBitsJPEG4 image";
}

// libavcodec and libavformat live in a module opened when a movie needs
// them. Without it, only the resources that need a codec of theirs fail,
// and they say why.
TEST(CodecModule, MissingModuleFailsOnlyTheSoundsThatNeedIt) {
    TempDir dir;
    const std::string demo = std::string(KESTREL_SOURCE_DIR) + "/samples/demo.swf";
    const CliRun list = runCli("list " + demo);
    const CliRun extract = runCli("extract -o " + dir.file("found") + " " + demo);

    ::setenv("KESTREL_AV_MODULE", dir.file("nothing-here.so").c_str(), 1);
    const CliRun listWithout = runCli("list " + demo);
    const CliRun extractWithout = runCli("extract -o " + dir.file("missing") + " " + demo);
    ::unsetenv("KESTREL_AV_MODULE");

    ASSERT_EQ(list.status, 0) << list.err;
    // Listing measures the sound by decoding it: it is still listed, with
    // no length, and the rest is as it was.
    EXPECT_EQ(listWithout.status, 0) << listWithout.err;
    std::istringstream found(list.out);
    std::istringstream without(listWithout.out);
    int lines = 0;
    for (std::string a, b; std::getline(found, a) && std::getline(without, b); ++lines) {
        if (a.find("Nellymoser") == std::string::npos) {
            EXPECT_EQ(b, a);
        }
    }
    EXPECT_EQ(lines, 18);
    EXPECT_EQ(extract.status, 0) << extract.err;
    EXPECT_TRUE(std::filesystem::exists(dir.file("found") + "/demo-6.wav")) << "the Nellymoser sound";

    EXPECT_EQ(extractWithout.status, 1);
    const std::string& err = extractWithout.err;
    EXPECT_NE(err.find("the codec module kestrel-av.so could not be loaded"), std::string::npos) << err;
    EXPECT_NE(err.find("nothing-here.so"), std::string::npos) << err;
    EXPECT_NE(extractWithout.out.find("16 written, 0 skipped, 1 failed"), std::string::npos) << extractWithout.out;
    EXPECT_FALSE(std::filesystem::exists(dir.file("missing") + "/demo-6.wav"));
    EXPECT_TRUE(std::filesystem::exists(dir.file("missing") + "/demo-5.wav"));
}

}  // namespace
}  // namespace kestrel::test

namespace kestrel::test {
namespace {

// Two images and a sound under the name given.
Bytes smallMovie(std::uint8_t shade) {
    Tags t;
    t.tag(kTagDefineBitsLossless2, losslessBody(1, 5, 2, 1, deflate(argbRows({0x80402080u | shade, 0xFFFFFFFF}))))
        .tag(kTagDefineBitsLossless, losslessBody(2, 5, 1, 1, deflate(argbRows({0x102030FF}))))
        .tag(kTagDefineSound, defineSoundBody(3, 0, 1, false, false, 4, {1, 2, 3, 4}))
        .end();
    return SwfFile().compressed().tags(t).bytes();
}

std::vector<std::string> filesUnder(const std::string& folder) {
    std::vector<std::string> out;
    for (const auto& e : std::filesystem::recursive_directory_iterator(folder)) {
        if (e.is_regular_file()) out.push_back(std::filesystem::relative(e.path(), folder).string());
    }
    std::sort(out.begin(), out.end());
    return out;
}

TEST(CliBatch, FoldersRecursionPerFileFoldersAndJobs) {
    TempDir dir;
    std::filesystem::create_directories(dir.file("in/sub"));
    dir.write("in/a.swf", smallMovie(1));
    dir.write("in/sub/a.swf", smallMovie(2));        // same title: a-2 folder
    dir.write("in/sub/cache0001", smallMovie(3));    // no extension, found by signature
    dir.write("in/notes.txt", {'h', 'i', 0, 0, 0});  // ignored

    // Without -r only the folder's own files are taken.
    CliRun flat = runCli("extract -o " + dir.file("flat") + " " + dir.file("in"));
    EXPECT_EQ(flat.status, 0) << flat.err;
    EXPECT_EQ(filesUnder(dir.file("flat")), (std::vector<std::string>{"a-1.png", "a-1.wav", "a-2.png"}));

    for (const char* jobs : {"1", "2"}) {
        const std::string out = dir.file(std::string("per") + jobs);
        CliRun run =
            runCli("extract -r --per-file-folders --jobs " + std::string(jobs) + " -o " + out + " " + dir.file("in"));
        EXPECT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(run.out, "9 written, 0 skipped, 0 failed\n");
        EXPECT_EQ(filesUnder(out),
                  (std::vector<std::string>{"a-2/a-1.png", "a-2/a-1.wav", "a-2/a-2.png", "a/a-1.png", "a/a-1.wav",
                                            "a/a-2.png", "cache0001/cache0001-1.png", "cache0001/cache0001-1.wav",
                                            "cache0001/cache0001-2.png"}));
    }
}

TEST(CliBatch, FailuresAreCountedWithoutStoppingTheBatch) {
    TempDir dir;
    const std::string good = dir.write("good.swf", smallMovie(1));
    const std::string bad = dir.write("bad.swf", {'F', 'W', 'S', 1, 2});
    const std::string list = dir.write("list.txt", Bytes(bad.begin(), bad.end()));
    CliRun run = runCli("extract --sounds -o " + dir.file("out") + " --files-from " + list + " " + good);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out, "1 written, 0 skipped, 0 failed\n");
    EXPECT_NE(run.err.find("1 movie could not be used"), std::string::npos) << run.err;

    // Existing files are skipped when nobody can be asked, and said so.
    CliRun again = runCli("extract --sounds -o " + dir.file("out") + " " + good + " </dev/null");
    EXPECT_EQ(again.status, 0);
    EXPECT_EQ(again.out, "0 written, 1 skipped, 0 failed\n");
    EXPECT_NE(again.err.find("good-1.wav exists, skipped"), std::string::npos);
}

// The kind options select kinds and add up; none of them takes every kind.
TEST(CliBatch, VideosAreListedAndSelectedByKind) {
    TempDir dir;
    Tags t;
    t.tag(kTagDefineBitsLossless, losslessBody(1, 5, 1, 1, deflate(argbRows({0x102030FF}))))
        .tag(kTagDefineSound, defineSoundBody(2, 0, 1, false, false, 4, {1, 2, 3, 4}))
        .tag(kTagDefineVideoStream, defineVideoStreamBody(3, 2, 160, 120, 4))
        .tag(kTagVideoFrame, videoFrameBody(3, 0, {0x00, 0x08, 0x01}))
        .tag(kTagVideoFrame, videoFrameBody(3, 1, {0x80, 0x08, 0x02}))
        .showFrame()
        .end();
    const std::string movie = dir.write("m.swf", SwfFile().frameRate(20 << 8).tags(t).bytes());
    const CliRun list = runCli("list --json " + movie);
    EXPECT_EQ(list.status, 0) << list.err;
    EXPECT_NE(list.out.find("\"kind\":\"video\",\"number\":1,\"typeText\":\"FLV VP6 160 \xC3\x97 120\""),
              std::string::npos)
        << list.out;
    EXPECT_NE(list.out.find("\"fileName\":\"m-1.flv\""), std::string::npos);
    EXPECT_NE(list.out.find("\"codec\":\"VP6\",\"codecId\":4,\"frames\":2,\"declaredFrames\":2,\"width\":160,"
                            "\"height\":120,\"durationMs\":100"),
              std::string::npos)
        << list.out;
    const struct {
        const char* options;
        std::vector<std::string> files;
    } cases[] = {{"--videos", {"m-1.flv"}},
                 {"--images --videos", {"m-1.flv", "m-1.png"}},
                 {"--sounds", {"m-1.wav"}},
                 {"", {"m-1.flv", "m-1.png", "m-1.wav"}}};
    for (const auto& c : cases) {
        const std::string out = dir.file("out" + std::to_string(&c - cases));
        const CliRun run = runCli("extract " + std::string(c.options) + " -o " + out + " " + movie);
        EXPECT_EQ(run.status, 0) << c.options << run.err;
        EXPECT_EQ(filesUnder(out), c.files) << c.options;
    }
}

TEST(CliBatch, WriteOptionFlags) {
    TempDir dir;
    const std::string movie = dir.write("m.swf", smallMovie(0));
    // Straight alpha by default; --straight-alpha is still accepted and
    // changes nothing; --premultiplied-alpha writes the stored values.
    ASSERT_EQ(runCli("extract --images -o " + dir.file("default") + " " + movie).status, 0);
    ASSERT_EQ(runCli("extract --images --straight-alpha -o " + dir.file("str") + " " + movie).status, 0);
    ASSERT_EQ(runCli("extract --images --premultiplied-alpha -o " + dir.file("pre") + " " + movie).status, 0);
    EXPECT_EQ(readAll(dir.file("default/m-1.png")), readAll(dir.file("str/m-1.png")));
    EXPECT_NE(readAll(dir.file("pre/m-1.png")), readAll(dir.file("str/m-1.png")));
    EXPECT_EQ(readAll(dir.file("pre/m-2.png")), readAll(dir.file("str/m-2.png")));  // opaque: unchanged
}

TEST(CliFind, SignaturesWhateverTheName) {
    TempDir dir;
    std::filesystem::create_directories(dir.file("cache/x"));
    dir.write("cache/x/f_000123", smallMovie(1));
    dir.write("cache/zws", {'Z', 'W', 'S', 13, 0, 0, 0, 0});
    dir.write("cache/text", {'a', 'b', 'c'});
    CliRun run = runCli("find --json " + dir.file("cache"));
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "[{\"path\":\"" + dir.file("cache/x/f_000123") + "\",\"signature\":\"CWS\"},{\"path\":\"" +
                           dir.file("cache/zws") + "\",\"signature\":\"ZWS\"}]\n");
}

TEST(CliHelp, HelpAndVersion) {
    CliRun help = runCli("--help");
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("--per-file-folders"), std::string::npos);
    CliRun version = runCli("--version");
    EXPECT_EQ(version.out.rfind("kestrel-cli ", 0), 0u);
}

}  // namespace
}  // namespace kestrel::test

namespace kestrel::test {
namespace {

// A good image, an image whose pixel data is not a zlib stream, and a
// sound: the movie reads with "some resources failed".
Bytes partlyBrokenMovie() {
    Tags t;
    t.tag(kTagDefineBitsLossless2, losslessBody(1, 5, 1, 1, deflate(argbRows({0x102030FF}))))
        .tag(kTagDefineBitsLossless2, losslessBody(2, 5, 2, 2, Bytes{0xDE, 0xAD, 0xBE, 0xEF, 0x01}))
        .tag(kTagDefineSound, defineSoundBody(3, 0, 1, false, false, 4, {1, 2, 3, 4}))
        .end();
    return SwfFile().compressed().tags(t).bytes();
}

TEST(CliExitStatus, MovieReadInPartFailsListAndExtract) {
    TempDir dir;
    const std::string movie = dir.write("part.swf", partlyBrokenMovie());

    const CliRun list = runCli("list " + movie);
    EXPECT_EQ(list.status, 1);
    EXPECT_NE(list.out.find("2 resources"), std::string::npos) << list.out;  // what could be read is listed
    EXPECT_NE(list.err.find("warning: " + movie + ": Errors occurred while reading some resources."), std::string::npos)
        << list.err;

    const CliRun json = runCli("list --json " + movie);
    EXPECT_EQ(json.status, 1);
    EXPECT_NE(json.out.find("\"result\":3"), std::string::npos) << json.out;

    const CliRun extract = runCli("extract -o " + dir.file("out") + " " + movie);
    EXPECT_EQ(extract.status, 1);
    EXPECT_EQ(extract.out, "2 written, 0 skipped, 0 failed\n");
    EXPECT_NE(extract.err.find("1 movie had resources that could not be read"), std::string::npos) << extract.err;

    // The good movie beside it does not change the outcome, and alone it passes.
    const std::string good = dir.write("good.swf", smallMovie(1));
    EXPECT_EQ(runCli("list " + good + " " + movie).status, 1);
    EXPECT_EQ(runCli("list " + good).status, 0);
    EXPECT_EQ(runCli("extract --overwrite -o " + dir.file("out") + " " + good).status, 0);
}

// Runs kestrel-cli with stderr on a pseudo-terminal; returns what it wrote there.
std::string stderrOnTerminal(const std::string& args) {
    int master = -1, slave = -1;
    if (::openpty(&master, &slave, nullptr, nullptr, nullptr) != 0) return {};
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(master);
        ::dup2(slave, STDERR_FILENO);
        const int devNull = ::open("/dev/null", O_RDWR);
        ::dup2(devNull, STDIN_FILENO);
        ::dup2(devNull, STDOUT_FILENO);
        ::execl("/bin/sh", "sh", "-c", (std::string(KESTREL_CLI) + " " + args).c_str(), nullptr);
        ::_exit(127);
    }
    ::close(slave);
    std::string out;
    std::array<char, 4096> buffer{};
    ssize_t n;
    while ((n = ::read(master, buffer.data(), buffer.size())) > 0) out.append(buffer.data(), std::size_t(n));
    ::close(master);
    ::waitpid(child, nullptr, 0);
    return out;
}

TEST(CliLog, LineControlCodesOnlyOnATerminal) {
    TempDir dir;
    const std::string part = dir.write("part.swf", partlyBrokenMovie());
    const std::string good = dir.write("good.swf", smallMovie(1));
    const std::string bad = dir.write("bad.swf", {'F', 'W', 'S', 1, 2});
    dir.write("in-the-way", {'x'});
    // Every kind of message: a warning while reading, an unusable movie, a
    // skipped file, an output folder that cannot be made, the totals.
    const std::string inputs = " " + part + " " + good + " " + bad;
    ASSERT_EQ(runCli("extract -o " + dir.file("out") + " " + good).status, 0);
    const CliRun logged = runCli("extract --jobs 1 -o " + dir.file("out") + inputs + " </dev/null");
    const CliRun blocked = runCli("extract --jobs 1 -o " + dir.file("in-the-way/out") + inputs);
    for (const CliRun& run : {logged, blocked}) {
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.err.find('\r'), std::string::npos) << run.err;
        EXPECT_EQ(run.err.find('\033'), std::string::npos) << run.err;
        EXPECT_EQ(run.err.back(), '\n');
    }
    EXPECT_NE(logged.err.find("good-1.png exists, skipped"), std::string::npos) << logged.err;
    EXPECT_NE(blocked.err.find("in-the-way"), std::string::npos) << blocked.err;

    // On a terminal the progress line is drawn and rewritten in place.
    const std::string shown = stderrOnTerminal("extract --overwrite --jobs 1 -o " + dir.file("tty") + inputs);
    EXPECT_NE(shown.find("\r\033[K[1/3] "), std::string::npos) << shown;
    EXPECT_NE(shown.find("\r\033[Kkestrel-cli: warning: " + part), std::string::npos) << shown;
}

}  // namespace
}  // namespace kestrel::test
