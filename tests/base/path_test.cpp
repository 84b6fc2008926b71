#include <gtest/gtest.h>

#include "base/path.h"

namespace kestrel {
namespace {

TEST(SplitPath, TitleAndExtension) {
    struct Case {
        const char* path;
        const char* folder;
        const char* title;
        const char* extension;
    };
    const Case cases[] = {
        {"/media/clip.v2.swf", "/media/", "clip.v2", ".swf"},
        {"/media/a:b/clip.swf", "/media/a:b/", "clip", ".swf"},
        {"/clip.swf", "/", "clip", ".swf"},
        {"/media/.hidden", "/media/", ".hidden", ""},
        {"/media/noext", "/media/", "noext", ""},
        {"/media/dir.d/", "/media/dir.d/", "", ""},
        {"clip.swf", "", "clip", ".swf"},
        {"/media/clip.", "/media/", "clip", "."},
        {"", "", "", ""},
    };
    for (const Case& c : cases) {
        const PathParts p = splitPath(c.path);
        EXPECT_EQ(p.drive, "") << c.path;
        EXPECT_EQ(p.folder, c.folder) << c.path;
        EXPECT_EQ(p.title, c.title) << c.path;
        EXPECT_EQ(p.extension, c.extension) << c.path;
    }
}

}  // namespace
}  // namespace kestrel
