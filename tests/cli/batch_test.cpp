// kestrel-cli extract over many movies: the manifest, resume after a kill,
// dedupe, and worker processes that fail alone.
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <cerrno>
#include <map>
#include <nlohmann/json.hpp>
#include <set>

#include "test_support.h"

namespace kestrel::test {
namespace {

using namespace swfbuilder;
using Json = nlohmann::json;

struct Outcome {
    int status = -1;  // exit status, or -signal
    std::string out;
    std::string err;
};

std::string text(const std::string& path) {
    const Bytes bytes = readAll(path);
    return std::string(bytes.begin(), bytes.end());
}

// Runs `argv` with extra environment variables and waits for it and for
// every process it left behind (worker processes of a killed batch end with
// it, and this process reaps them), so that the next run starts clean.
Outcome run(const std::vector<std::string>& argv, const std::map<std::string, std::string>& env = {}) {
    ::prctl(PR_SET_CHILD_SUBREAPER, 1);
    TempDir dir;
    const std::string outPath = dir.file("out");
    const std::string errPath = dir.file("err");
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    const pid_t pid = ::fork();
    if (pid == 0) {
        for (const auto& [k, v] : env) ::setenv(k.c_str(), v.c_str(), 1);
        std::freopen("/dev/null", "r", stdin);
        std::freopen(outPath.c_str(), "w", stdout);
        std::freopen(errPath.c_str(), "w", stderr);
        ::execvp(args[0], args.data());
        ::_exit(127);
    }
    Outcome r;
    int status = 0;
    ::waitpid(pid, &status, 0);
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
    while (::waitpid(-1, nullptr, 0) > 0 || errno == EINTR) {}
    r.out = text(outPath);
    r.err = text(errPath);
    return r;
}

Outcome cli(std::vector<std::string> args, const std::map<std::string, std::string>& env = {}) {
    args.insert(args.begin(), KESTREL_CLI);
    return run(args, env);
}

// Two images and a sound; the first image's colour is `shade`, the rest is
// the same in every movie.
Bytes movie(std::uint8_t shade) {
    Tags t;
    t.tag(kTagDefineBitsLossless2, losslessBody(1, 5, 2, 1, deflate(argbRows({0x80402000u | shade, 0xFFFFFFFF}))))
        .tag(kTagDefineBitsLossless, losslessBody(2, 5, 1, 1, deflate(argbRows({0x102030FF}))))
        .tag(kTagDefineSound, defineSoundBody(3, 0, 1, false, false, 4, {1, 2, 3, 4}))
        .end();
    return SwfFile().compressed().tags(t).bytes();
}

std::string name(int i) {
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "m%03d.swf", i);
    return buffer;
}

// Every file under `folder` but the manifests, with its content.
std::map<std::string, Bytes> tree(const std::string& folder) {
    std::map<std::string, Bytes> out;
    for (const auto& e : std::filesystem::recursive_directory_iterator(folder)) {
        if (!e.is_regular_file() || e.path().extension() == ".jsonl") continue;
        out[std::filesystem::relative(e.path(), folder).string()] = readAll(e.path().string());
    }
    return out;
}

std::vector<std::string> lines(const std::string& path) {
    std::vector<std::string> out;
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);) out.push_back(line);
    return out;
}

// Every line is a JSON object; each movie has one movie line and each of
// its resources one line.
void expectOneRecordEach(const std::vector<std::string>& manifest) {
    std::set<std::string> movies;
    std::set<std::pair<std::string, int>> resources;
    for (const std::string& line : manifest) {
        const Json j = Json::parse(line, nullptr, false);
        ASSERT_TRUE(j.is_object()) << line;
        const std::string movie = j.at("movie");
        if (j.at("kind") == "movie") {
            EXPECT_TRUE(movies.insert(movie).second) << "twice: " << line;
        } else {
            EXPECT_TRUE(resources.insert({movie, j.at("index").get<int>()}).second) << "twice: " << line;
        }
    }
}

TEST(CliManifest, KilledAndResumedRunsEndAsAnUninterruptedOne) {
    TempDir dir;
    std::filesystem::create_directories(dir.file("in"));
    for (int i = 0; i < 100; ++i) dir.write("in/" + name(i), movie(std::uint8_t(i)));
    dir.write("in/m050.swf", {'F', 'W', 'S', 9, 0, 0, 0, 0});  // damaged: fails every time

    const std::vector<std::string> args = {"extract", "--jobs", "2", "--per-file-folders"};
    auto extract = [&](const std::string& out, const std::vector<std::string>& more,
                       const std::map<std::string, std::string>& env = {}) {
        std::vector<std::string> a = args;
        a.insert(a.end(), more.begin(), more.end());
        for (const std::string& x :
             {std::string("-o"), out, std::string("--manifest"), out + "/manifest.jsonl", dir.file("in")}) {
            a.push_back(x);
        }
        return cli(a, env);
    };

    const Outcome whole = extract(dir.file("whole"), {});
    EXPECT_EQ(whole.status, 1) << whole.err;  // the damaged movie
    EXPECT_EQ(whole.out, "297 written, 0 skipped, 0 failed\n");
    const std::vector<std::string> wholeManifest = lines(dir.file("whole/manifest.jsonl"));
    ASSERT_EQ(wholeManifest.size(), 100u + 297u);
    expectOneRecordEach(wholeManifest);

    // Killed while a movie has some of its resources recorded, resumed and
    // killed again elsewhere, then resumed to the end.
    const std::string out = dir.file("resumed");
    EXPECT_EQ(extract(out, {}, {{"KESTREL_TEST_KILL_ON", "m041"}}).status, -SIGKILL);
    const std::size_t firstPart = lines(out + "/manifest.jsonl").size();
    EXPECT_GT(firstPart, 0u);
    EXPECT_LT(firstPart, wholeManifest.size());
    EXPECT_EQ(extract(out, {"--resume"}, {{"KESTREL_TEST_KILL_ON", "m077"}}).status, -SIGKILL);
    const Outcome last = extract(out, {"--resume"});
    EXPECT_EQ(last.status, 1) << last.err;
    // Movies done before the kills are not done again.
    EXPECT_NE(last.out, "297 written, 0 skipped, 0 failed\n");

    std::vector<std::string> resumed = lines(out + "/manifest.jsonl");
    expectOneRecordEach(resumed);
    std::vector<std::string> expected = wholeManifest;
    std::sort(resumed.begin(), resumed.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(resumed, expected);
    EXPECT_EQ(tree(out), tree(dir.file("whole")));  // no staging file left behind either

    // Resuming a finished run does nothing; a file that went missing is
    // written again.
    const Outcome again = extract(out, {"--resume"});
    EXPECT_EQ(again.out, "0 written, 0 skipped, 0 failed\n");
    std::filesystem::remove(out + "/m007/m007-2.png");
    const Outcome repaired = extract(out, {"--resume"});
    EXPECT_EQ(repaired.out, "3 written, 0 skipped, 0 failed\n") << repaired.err;
    EXPECT_EQ(tree(out), tree(dir.file("whole")));
}

TEST(CliManifest, LinesDescribeEachOutcome) {
    TempDir dir;
    const std::string good = dir.write("good.swf", movie(7));
    const std::string bad = dir.write("bad.swf", {'n', 'o', 'p', 'e', 0, 0, 0, 0, 0});
    std::filesystem::create_directories(dir.file("out"));
    dir.write("out/good-1.png", {'x'});  // someone else's file: skipped, as without a manifest
    const Outcome r = cli({"extract", "-o", dir.file("out"), "--manifest", dir.file("m.jsonl"), good, bad});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "2 written, 1 skipped, 0 failed\n");
    std::map<std::string, Json> byOutput;
    Json goodMovie, badMovie;
    for (const std::string& line : lines(dir.file("m.jsonl"))) {
        const Json j = Json::parse(line);
        if (j["kind"] == "movie")
            (j["movie"] == good ? goodMovie : badMovie) = j;
        else
            byOutput[j["output"]] = j;
    }
    ASSERT_EQ(byOutput.size(), 3u);
    const Json& png = byOutput["good-2.png"];
    EXPECT_EQ(png["movie"], good);
    EXPECT_EQ(png["movieBytes"], std::filesystem::file_size(good));
    EXPECT_EQ(png["index"], 1);
    EXPECT_EQ(png["kind"], "image");
    EXPECT_EQ(png["number"], 2);
    EXPECT_EQ(png["status"], "written");
    EXPECT_EQ(png["bytes"], std::filesystem::file_size(dir.file("out/good-2.png")));
    EXPECT_EQ(png["sha256"].get<std::string>().size(), 64u);
    EXPECT_FALSE(png.contains("reason"));
    EXPECT_EQ(byOutput["good-1.png"]["status"], "skipped");
    EXPECT_EQ(byOutput["good-1.png"]["reason"], "exists");
    EXPECT_EQ(byOutput["good-1.wav"]["kind"], "sound");
    EXPECT_EQ(goodMovie["result"], 0);
    EXPECT_EQ(goodMovie["status"], "done");
    EXPECT_EQ(goodMovie["problems"], Json::array());
    EXPECT_EQ(badMovie["result"], 5);
    EXPECT_EQ(badMovie["status"], "failed");
    EXPECT_FALSE(badMovie["reason"].get<std::string>().empty());

    // The sums agree with the files.
    const std::string sha = png["sha256"];
    const Outcome sum = run({"sha256sum", dir.file("out/good-2.png")});
    EXPECT_EQ(sum.out.substr(0, 64), sha);

    // Resuming with only the good movie: it is done again (one of its files
    // was skipped), replacing its own files without asking but still not the
    // stranger's; the bad movie's record stays.
    const Outcome again = cli({"extract", "-o", dir.file("out"), "--manifest", dir.file("m.jsonl"), "--resume", good});
    EXPECT_EQ(again.out, "2 written, 1 skipped, 0 failed\n") << again.err;
    EXPECT_EQ(readAll(dir.file("out/good-1.png")), Bytes{'x'});
    const std::vector<std::string> after = lines(dir.file("m.jsonl"));
    EXPECT_EQ(after.size(), 5u);
    expectOneRecordEach(after);
    EXPECT_EQ(
        std::count_if(after.begin(), after.end(), [&](const std::string& l) { return Json::parse(l)["movie"] == bad; }),
        1);

    EXPECT_EQ(cli({"extract", "-o", dir.file("out"), "--resume", good}).status, 2);  // --resume needs --manifest
}

TEST(CliDedupe, LaterCopiesBecomeLinksOrAreLeftOut) {
    TempDir dir;
    std::filesystem::create_directories(dir.file("in"));
    for (int i = 0; i < 3; ++i) dir.write("in/" + name(i), movie(i == 2 ? 9 : 1));  // m000 and m001 alike

    const Outcome linked = cli({"extract", "--jobs", "1", "--per-file-folders", "--dedupe", "-o", dir.file("link"),
                                "--manifest", dir.file("link.jsonl"), dir.file("in")});
    EXPECT_EQ(linked.status, 0) << linked.err;
    EXPECT_EQ(linked.out, "9 written, 0 skipped, 0 failed\n");
    struct stat first {
    }, copy{}, other{};
    ASSERT_EQ(::stat(dir.file("link/m000/m000-2.png").c_str(), &first), 0);
    ASSERT_EQ(::stat(dir.file("link/m001/m001-2.png").c_str(), &copy), 0);
    ASSERT_EQ(::stat(dir.file("link/m002/m002-2.png").c_str(), &other), 0);
    EXPECT_EQ(first.st_ino, copy.st_ino);
    EXPECT_EQ(first.st_ino, other.st_ino);  // that image is the same in every movie
    EXPECT_EQ(first.st_nlink, 3u);
    ::stat(dir.file("link/m002/m002-1.png").c_str(), &other);
    EXPECT_EQ(other.st_nlink, 1u);
    int sameAs = 0;
    for (const std::string& line : lines(dir.file("link.jsonl"))) {
        const Json j = Json::parse(line);
        if (!j.contains("sameAs")) continue;
        ++sameAs;
        EXPECT_EQ(j["status"], "written");
        EXPECT_EQ(j["sameAs"].get<std::string>().rfind("m000/", 0), 0u) << line;
    }
    EXPECT_EQ(sameAs, 5);  // m001: all three; m002: the second image and the sound

    const Outcome skipped = cli({"extract", "--jobs", "1", "--per-file-folders", "--dedupe=skip", "-o",
                                 dir.file("skip"), "--manifest", dir.file("skip.jsonl"), dir.file("in")});
    EXPECT_EQ(skipped.out, "4 written, 5 skipped, 0 failed\n") << skipped.err;
    EXPECT_TRUE(std::filesystem::is_empty(dir.file("skip/m001")));
    EXPECT_TRUE(std::filesystem::exists(dir.file("skip/m002/m002-1.png")));
    EXPECT_FALSE(std::filesystem::exists(dir.file("skip/m002/m002-2.png")));
    bool found = false;
    for (const std::string& line : lines(dir.file("skip.jsonl"))) {
        const Json j = Json::parse(line);
        if (j.value("output", "") != "m002/m002-2.png") continue;
        found = true;
        EXPECT_EQ(j["status"], "skipped");
        EXPECT_EQ(j["reason"], "duplicate");
        EXPECT_EQ(j["sameAs"], "m000/m000-2.png");
    }
    EXPECT_TRUE(found);
    // Left-out copies count as done for --resume.
    const Outcome resumed = cli({"extract", "--jobs", "1", "--per-file-folders", "--dedupe=skip", "--resume", "-o",
                                 dir.file("skip"), "--manifest", dir.file("skip.jsonl"), dir.file("in")});
    EXPECT_EQ(resumed.out, "0 written, 0 skipped, 0 failed\n") << resumed.err;

    // Replacing a linked file does not change the copies linked to it.
    dir.write("in/m000.swf", movie(200));
    const Outcome replaced = cli({"extract", "--jobs", "1", "--per-file-folders", "--overwrite", "-o", dir.file("link"),
                                  dir.file("in/m000.swf")});
    EXPECT_EQ(replaced.status, 0) << replaced.err;
    EXPECT_NE(readAll(dir.file("link/m000/m000-1.png")), readAll(dir.file("link/m001/m001-1.png")));
}

TEST(CliIsolation, AMovieThatCrashesItsWorkerFailsAlone) {
    TempDir dir;
    std::filesystem::create_directories(dir.file("in"));
    for (int i = 0; i < 6; ++i) dir.write("in/" + name(i), movie(std::uint8_t(i)));
    const Outcome r =
        cli({"extract", "--jobs", "2", "-o", dir.file("out"), "--manifest", dir.file("m.jsonl"), dir.file("in")},
            {{"KESTREL_TEST_CRASH_ON", "m002"}});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "15 written, 0 skipped, 0 failed\n") << r.err;
    EXPECT_NE(r.err.find("m002.swf: its worker process was ended by signal 6"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("1 movie could not be used"), std::string::npos) << r.err;
    std::map<std::string, Json> movies;
    for (const std::string& line : lines(dir.file("m.jsonl"))) {
        const Json j = Json::parse(line);
        if (j["kind"] == "movie") movies[std::filesystem::path(j["movie"].get<std::string>()).filename()] = j;
    }
    ASSERT_EQ(movies.size(), 6u);
    for (const auto& [file, j] : movies) {
        const bool lost = file == "m002.swf";
        EXPECT_EQ(j["status"], lost ? "failed" : "done") << file;
        EXPECT_EQ(j["result"].is_null(), lost) << file;
    }
    EXPECT_EQ(movies["m002.swf"]["movieBytes"], std::filesystem::file_size(dir.file("in/m002.swf")));

    // Without isolation the same switch does nothing: threads never crash on purpose.
    const Outcome threads = cli({"extract", "--no-isolate", "--jobs", "2", "-o", dir.file("threads"), dir.file("in")},
                                {{"KESTREL_TEST_CRASH_ON", "m002"}});
    EXPECT_EQ(threads.status, 0) << threads.err;
    EXPECT_EQ(threads.out, "18 written, 0 skipped, 0 failed\n");
}

TEST(CliIsolation, AMovieThatHangsIsStoppedAndANewWorkerTakesTheNext) {
    TempDir dir;
    std::filesystem::create_directories(dir.file("in"));
    for (int i = 0; i < 2; ++i) dir.write("in/" + name(i), movie(std::uint8_t(i)));
    // Both hang, whatever the machine's speed; one worker must serve both.
    const Outcome r = cli({"extract", "--jobs", "1", "--timeout", "1", "-o", dir.file("out"), "--manifest",
                           dir.file("m.jsonl"), dir.file("in")},
                          {{"KESTREL_TEST_HANG_ON", "m00"}});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "0 written, 0 skipped, 0 failed\n");
    EXPECT_NE(r.err.find("m000.swf: it took more than 1 s (--timeout)"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("m001.swf: it took more than 1 s (--timeout)"), std::string::npos) << r.err;
    const std::vector<std::string> manifest = lines(dir.file("m.jsonl"));
    ASSERT_EQ(manifest.size(), 2u);
    EXPECT_EQ(Json::parse(manifest[1])["status"], "failed");
}

TEST(CliIsolation, MemoryLimitAndOptionErrors) {
    TempDir dir;
    std::filesystem::create_directories(dir.file("in"));
    for (int i = 0; i < 2; ++i) dir.write("in/" + name(i), movie(std::uint8_t(i)));
    // A 9000 x 9000 picture takes 309 MiB decoded: more than a worker limited
    // to 512 MiB allows for pictures (half of it), so it is refused and the
    // movie read without it (result 3, so the run fails), while the other
    // movies are whole. (The programs' libraries alone need over 128 MiB of
    // address space.)
    Tags big;
    big.tag(kTagDefineBitsLossless2, losslessBody(1, 5, 9000, 9000, deflate(Bytes(std::size_t(9000) * 9000 * 4, 0))))
        .end();
    dir.write("in/big.swf", SwfFile().tags(big).bytes());
    const Outcome r = cli(
        {"extract", "--max-memory", "512M", "-o", dir.file("out"), "--manifest", dir.file("m.jsonl"), dir.file("in")});
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_EQ(r.out, "6 written, 0 skipped, 0 failed\n");
    int refused = 0;
    for (const std::string& line : lines(dir.file("m.jsonl"))) {
        const Json j = Json::parse(line);
        if (j["kind"] != "movie" || j["movie"] != dir.file("in/big.swf")) continue;
        ++refused;
        EXPECT_EQ(j["result"], 3) << line;
        EXPECT_EQ(j["status"], "done") << line;
    }
    EXPECT_EQ(refused, 1);
    EXPECT_EQ(cli({"extract", "--max-memory", "lots", "-o", dir.file("out"), dir.file("in")}).status, 2);
    EXPECT_EQ(cli({"extract", "--max-memory", "1K", "-o", dir.file("out"), dir.file("in")}).status, 2);
    EXPECT_EQ(cli({"extract", "--timeout", "-1", "-o", dir.file("out"), dir.file("in")}).status, 2);
}

// The README's recipe for several machines, run as written with the local
// machine as the only host: two jobs, one killed half-way and resumed by
// running the same command again.
TEST(CliParallel, ReadmeRecipeResumesAKilledJob) {
    ASSERT_EQ(run({"sh", "-c", "command -v parallel"}).status, 0) << "GNU parallel is needed (build.sh installs it)";
    std::ifstream readme(std::string(KESTREL_SOURCE_DIR) + "/README.md");
    std::string recipe;
    for (std::string line; std::getline(readme, line);) {
        if (recipe.empty() && line.find("| parallel ") == std::string::npos) continue;
        recipe += line.substr(std::min<std::size_t>(4, line.size())) + "\n";
        if (line.rfind("    cat ", 0) == 0) break;
    }
    ASSERT_NE(recipe.find("--sshlogin host1,host2"), std::string::npos) << recipe;
    ASSERT_NE(recipe.find("--manifest"), std::string::npos) << recipe;

    TempDir dir;
    std::filesystem::create_directories(dir.file("in"));
    std::filesystem::create_directories(dir.file("home/.parallel"));
    dir.write("home/.parallel/will-cite", {});
    for (int i = 0; i < 20; ++i) dir.write("in/" + name(i), movie(std::uint8_t(i)));
    auto script = [&](const std::string& out) {
        std::string s = recipe;
        auto replace = [&s](const std::string& from, const std::string& to) {
            for (std::size_t at = s.find(from); at != std::string::npos; at = s.find(from, at + to.size())) {
                s.replace(at, from.size(), to);
            }
        };
        replace("kestrel-cli ", std::string(KESTREL_CLI) + " ");
        replace("/archive", dir.file("in"));
        replace("/shared/out", out);
        replace("host1,host2", ":");  // this machine
        replace("-N500", "-N10");     // two jobs
        replace("> manifest.jsonl", "> " + out + ".jsonl");
        return s;
    };
    const std::map<std::string, std::string> home = {{"HOME", dir.file("home")}};
    const Outcome whole = run({"sh", "-c", script(dir.file("whole"))}, home);
    ASSERT_EQ(whole.status, 0) << whole.err;
    EXPECT_TRUE(std::filesystem::exists(dir.file("whole/2/manifest.jsonl")));

    std::map<std::string, std::string> env = home;
    env["KESTREL_TEST_KILL_ON"] = "m013";
    run({"sh", "-c", script(dir.file("out"))}, env);  // the recipe ends with cat, which succeeds
    EXPECT_LT(lines(dir.file("out.jsonl")).size(), lines(dir.file("whole.jsonl")).size());
    const Outcome resumed = run({"sh", "-c", script(dir.file("out"))}, home);
    ASSERT_EQ(resumed.status, 0) << resumed.err;
    EXPECT_NE(resumed.out.find("0 written, 0 skipped, 0 failed"), std::string::npos) << resumed.out;  // job 1

    std::vector<std::string> merged = lines(dir.file("out.jsonl"));
    std::vector<std::string> expected = lines(dir.file("whole.jsonl"));
    EXPECT_EQ(expected.size(), 20u * 4);
    expectOneRecordEach(merged);
    std::sort(merged.begin(), merged.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(merged, expected);
    EXPECT_EQ(tree(dir.file("out")), tree(dir.file("whole")));
}

}  // namespace
}  // namespace kestrel::test
