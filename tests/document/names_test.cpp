// Names from ExportAssets and SymbolClass on built movies: which records
// get them, hostile name tags, and the file names made from them.
#include <algorithm>

#include "document/extract.h"
#include "document/swf_document.h"
#include "document/symbol_names.h"
#include "test_support.h"

namespace kestrel::test {
namespace {

using namespace swfbuilder;
using Names = std::vector<std::string>;

Bytes mp3Sound(std::uint16_t id) {
    Bytes data = {0, 0};  // seek samples
    const Bytes mp3 = readAll(dataFile("stereo-vbr.mp3"));
    data.insert(data.end(), mp3.begin(), mp3.end());
    return defineSoundBody(id, 2, 3, true, true, 44100, data);
}

Bytes pixels() { return deflate(argbRows({0xFF0000FF, 0x00FF00FF, 0x0000FFFF, 0xFFFFFFFF})); }

struct Read {
    TempDir dir;
    SWFDocument doc;
    bool ok = false;
    Read(const Tags& tags, const std::string& name = "game.swf") {
        ok = doc.readFile(dir.write(name, SwfFile().frames(2).tags(tags).bytes()), nullptr, nullptr);
    }
    Names names(int i) const { return doc.resource(i).names; }
    std::string file(int i, FileNaming naming = FileNaming::Symbol) const {
        return doc.resourceFileName(i, doc.resource(i).number, naming);
    }
};

TEST(SymbolNames, BothTagsSeveralNamesAndASpriteNamedStream) {
    Tags sprite;
    sprite.tag(kTagSoundStreamHead2, soundStreamHeadBody(3, 1, true, false, 10))
        .tag(kTagSoundStreamBlock, Bytes(40, 7))
        .showFrame()
        .end();
    Tags t;
    // A main-timeline stream takes no name, not even the document class's (id 0).
    t.tag(kTagSoundStreamHead2, soundStreamHeadBody(3, 1, true, false, 10))
        .tag(kTagSoundStreamBlock, Bytes(40, 9))
        .tag(kTagDefineBitsLossless2, losslessBody(1, 5, 2, 2, pixels()))
        .tag(kTagDefineSound, mp3Sound(2))
        .tag(kTagDefineSound, mp3Sound(3))
        .sprite(9, 1, sprite)
        .tag(kTagExportAssets, namesBody({{1, "hero"}, {2, "sfx_jump"}, {7, "unused"}}))
        .showFrame()
        .tag(kTagSymbolClass,
             namesBody({{0, "Main"}, {1, "game.gfx.Hero"}, {3, "sfx_jump"}, {9, "MusicLoop"}, {2, "sfx_jump"}}))
        .tag(kTagDefineSound, mp3Sound(4))  // named before it is defined
        .showFrame()
        .end();
    t = Tags().tag(kTagExportAssets, namesBody({{4, "late"}})).raw(t.bytes());
    Read r(t);
    ASSERT_TRUE(r.ok);
    ASSERT_EQ(r.doc.count(), 6);
    // Reading order: the image, the event sounds, the sprite's stream, the
    // last event sound, and the main timeline's stream when that ends.
    EXPECT_EQ(r.names(0), (Names{"hero", "game.gfx.Hero"}));
    EXPECT_EQ(r.names(1), (Names{"sfx_jump"}));  // the same name twice on one id is kept once
    EXPECT_EQ(r.names(2), (Names{"sfx_jump"}));
    EXPECT_EQ(r.names(3), (Names{"MusicLoop"}));
    EXPECT_EQ(r.doc.resource(3).timeline, 9);
    EXPECT_EQ(r.names(4), (Names{"late"}));
    EXPECT_EQ(r.names(5), Names{});
    EXPECT_EQ(r.doc.resource(5).timeline, 0);

    EXPECT_EQ(r.file(0), "hero.png");
    EXPECT_EQ(r.file(1), "sfx_jump.mp3");
    EXPECT_EQ(r.file(2), "sfx_jump-2.mp3");
    EXPECT_EQ(r.file(3), "MusicLoop.wav");
    EXPECT_EQ(r.file(5), "game-5.wav");
    EXPECT_EQ(r.file(1, FileNaming::TitleNumber), "game-1.mp3");

    // The names were given over the whole movie: sorting or extracting one
    // record alone changes nothing.
    r.doc.sort(-3);
    int second = -1;
    for (int i = 0; i < r.doc.count(); ++i) {
        if (r.doc.resource(i).characterId == 3) second = i;
    }
    ASSERT_GE(second, 0);
    EXPECT_EQ(r.file(second), "sfx_jump-2.mp3");
    struct Host final : ExtractionHost {
        OverwriteAnswer confirmOverwrite(const std::string&) override { return OverwriteAnswer::Yes; }
        MessageAnswer report(const std::string&, MessageIcon, MessageButtons) override { return MessageAnswer::Ok; }
    } host;
    WriteOptions options;
    options.naming = FileNaming::Symbol;
    const ExtractSummary summary = extractResources(r.doc, r.dir.file("out"), {second}, host, options);
    EXPECT_EQ(summary.written, 1);
    EXPECT_EQ(readAll(r.dir.file("out/sfx_jump-2.mp3")).size(), readAll(dataFile("stereo-vbr.mp3")).size());
}

TEST(SymbolNames, HostileNameTags) {
    const std::string invalid = "bad\xFF\xC0name\\";
    const std::string huge(1500, 'n');
    Writer lying;  // claims five entries, holds one and a half
    lying.u16(5).u16(2).text("kept").u8(0).u16(3).text("cut");
    Tags t;
    t.tag(kTagDefineSound, mp3Sound(1))
        .tag(kTagDefineSound, mp3Sound(2))
        .tag(kTagDefineSound, mp3Sound(3))
        .tag(kTagDefineSound, mp3Sound(4))
        .tag(kTagExportAssets, namesBody({{1, invalid}, {4, ""}, {4, "..."}}))
        .tag(kTagSymbolClass, namesBody({{4, huge}, {3, "a/b\x01\x7F\xC2\x85."}}))
        .tag(kTagExportAssets, lying.take())
        .tag(kTagSymbolClass, Bytes{0xFF})  // shorter than its count
        .showFrame()
        .end();
    Read r(t, "hostile.swf");
    ASSERT_TRUE(r.ok);
    ASSERT_EQ(r.doc.count(), 4);
    EXPECT_EQ(r.doc.readResult(), kReadOk);
    EXPECT_EQ(r.names(0), Names{invalid});
    EXPECT_EQ(nameText(invalid), "bad\\xFF\\xC0name\\\\");
    EXPECT_TRUE(isValidUtf8(nameText(invalid)));
    EXPECT_EQ(r.names(1), Names{"kept"});
    EXPECT_EQ(r.names(2), Names{"a/b\x01\x7F\xC2\x85."});
    EXPECT_EQ(r.names(3), (Names{"...", huge}));  // an empty name is none
    // Names that cannot name a file leave the number.
    EXPECT_EQ(r.file(0), "hostile-1.mp3");
    EXPECT_EQ(r.file(1), "kept.mp3");
    EXPECT_EQ(r.file(2), "a_b___..mp3");
    EXPECT_EQ(r.file(3), "hostile-4.mp3");
}

TEST(SymbolNames, FileStems) {
    EXPECT_EQ(nameFileStem("game.sfx.Jump"), "game.sfx.Jump");
    EXPECT_EQ(nameFileStem("..hidden/../x"), "hidden_.._x");
    EXPECT_EQ(nameFileStem("tab\there"), "tab_here");
    EXPECT_EQ(nameFileStem(".."), "");
    // Cut at 200 bytes on a character boundary: 199 bytes of 'a', then a
    // two-byte character that does not fit.
    const std::string longName = std::string(199, 'a') + "\xC3\xA9" + "tail";
    EXPECT_EQ(nameFileStem(longName), std::string(199, 'a'));
    EXPECT_EQ(nameFileStem(std::string(300, 'b')).size(), 200u);
    EXPECT_EQ(nameFileStem(std::string(1001, 'b')), "");
    EXPECT_EQ(nameFileStem("\xED\xA0\x80"), "");  // an encoded surrogate is not UTF-8
    EXPECT_EQ(fileStemOf({"\xFF", "second"}), "second");
}

// A title-number file name is never taken by a symbol, whichever comes first.
TEST(SymbolNames, SymbolsAvoidTheNumberedNames) {
    Tags t;
    t.tag(kTagDefineSound, mp3Sound(1))
        .tag(kTagDefineSound, mp3Sound(2))
        .tag(kTagExportAssets, namesBody({{1, "clip-2"}}))
        .end();
    Read r(t, "clip.swf");
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.file(0), "clip-2-2.mp3");
    EXPECT_EQ(r.file(1), "clip-2.mp3");
}

}  // namespace
}  // namespace kestrel::test
