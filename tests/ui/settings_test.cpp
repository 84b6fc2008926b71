// The stored settings record ("Prefs"), its letter encoding and its checks,
// and the recent-file list.
#include <gtest/gtest.h>
#include <zlib.h>

#include <QSettings>
#include <climits>

#include "ui/app/settings.h"
#include "ui_test_support.h"

namespace kestrel {
namespace {

// The stored text of arbitrary record bytes with a chosen length word.
QString storedText(std::uint32_t lengthWord, const std::vector<std::uint8_t>& payload) {
    uLongf packedLength = compressBound(uLong(payload.size()));
    std::vector<std::uint8_t> packed(packedLength);
    compress2(packed.data(), &packedLength, payload.data(), uLong(payload.size()), 3);
    std::vector<std::uint8_t> bytes;
    for (int i = 0; i < 4; ++i) bytes.push_back(std::uint8_t(lengthWord >> (8 * i)));
    bytes.insert(bytes.end(), packed.begin(), packed.begin() + std::ptrdiff_t(packedLength));
    return lettersFromBytes(bytes);
}

TEST(PrefsEncoding, LettersAreNibblesFromK) {
    EXPECT_EQ(lettersFromBytes({0x00, 0x0F, 0xF0, 0x14}), QStringLiteral("KKKZZKLO"));
    const std::vector<std::uint8_t> back = bytesFromLetters(QStringLiteral("KKKZZKLO"));
    EXPECT_EQ(back, (std::vector<std::uint8_t>{0x00, 0x0F, 0xF0, 0x14}));
    // An odd letter at the end is dropped; foreign characters count as 0.
    EXPECT_EQ(bytesFromLetters(QStringLiteral("LOa")), (std::vector<std::uint8_t>{0x14}));
    EXPECT_EQ(bytesFromLetters(QStringLiteral("aZ!K")), (std::vector<std::uint8_t>{0x0F, 0x00}));
}

TEST(PrefsEncoding, RoundTripKeepsEveryField) {
    const SettingsRecord record{1, 1, -3, 0, 1};
    const QString text = encodePrefs(record);
    // Length word 20, then a zlib stream (header 0x78 ...).
    ASSERT_GE(text.size(), 8 + 4);
    EXPECT_TRUE(text.startsWith(QStringLiteral("LOKKKKKKRS")));  // 14 00 00 00 78 ..
    for (QChar c : text) EXPECT_TRUE(c >= QLatin1Char('K') && c <= QLatin1Char('Z')) << text.toStdString();
    const auto decoded = decodePrefs(text);
    ASSERT_TRUE(decoded);
    EXPECT_EQ(*decoded, record);
}

TEST(PrefsEncoding, StreamIsLevelThreeZlib) {
    const SettingsRecord record{1, 0, 2, 1, 0};
    const std::vector<std::uint8_t> raw = recordBytes(record);
    uLongf length = compressBound(20);
    std::vector<std::uint8_t> packed(length);
    ASSERT_EQ(compress2(packed.data(), &length, raw.data(), 20, 3), Z_OK);
    packed.resize(length);
    std::vector<std::uint8_t> expected{20, 0, 0, 0};
    expected.insert(expected.end(), packed.begin(), packed.end());
    EXPECT_EQ(encodePrefs(record), lettersFromBytes(expected));
}

TEST(PrefsDecoding, RejectsShortAndMalformedValues) {
    const QString good = encodePrefs(SettingsRecord{1, 1, 4, 1, 1});
    EXPECT_FALSE(decodePrefs(QString()));
    EXPECT_FALSE(decodePrefs(good.left(7)));                // not decoded at all
    EXPECT_FALSE(decodePrefs(good.left(8)));                // length only: inflate fails
    EXPECT_FALSE(decodePrefs(good.left(good.size() - 8)));  // stream cut short
    // A stored length that does not match what the stream holds.
    const std::vector<std::uint8_t> raw = recordBytes(SettingsRecord{1, 1, 4, 1, 1});
    EXPECT_FALSE(decodePrefs(storedText(19, raw)));
    EXPECT_FALSE(decodePrefs(storedText(0, raw)));
    EXPECT_FALSE(decodePrefs(storedText(102401, raw)));
    // A 21-byte record is inflated in full but is not a settings record.
    std::vector<std::uint8_t> longer = raw;
    longer.push_back(0);
    EXPECT_FALSE(decodePrefs(storedText(21, longer)));
    // Version other than 1.
    EXPECT_FALSE(decodePrefs(encodePrefs(SettingsRecord{2, 1, 4, 1, 1})));
}

TEST(PrefsDecoding, ForeignLettersCountAsZeroAndDoNotStop) {
    // Replacing a "K" (nibble 0) by a lower-case letter leaves the bytes
    // unchanged, so the value still decodes.
    QString text = encodePrefs(SettingsRecord{1, 1, -2, 1, 1});
    const int at = text.indexOf(QLatin1Char('K'), 2);
    ASSERT_GE(at, 0);
    text[at] = QLatin1Char('q');
    const auto decoded = decodePrefs(text);
    ASSERT_TRUE(decoded);
    EXPECT_EQ(decoded->sortKey, -2);
}

TEST(PrefsDecoding, OutOfRangeFieldsFallBackToDefaults) {
    EXPECT_EQ(sanitized(SettingsRecord{1, 2, 3, 1, 1}).viewMode, 0);
    EXPECT_EQ(sanitized(SettingsRecord{1, -1, 3, 1, 1}).viewMode, 0);
    EXPECT_EQ(sanitized(SettingsRecord{1, 1, INT_MIN, 1, 1}).sortKey, 1);
    EXPECT_EQ(sanitized(SettingsRecord{1, 1, 5, 1, 1}).sortKey, 1);
    EXPECT_EQ(sanitized(SettingsRecord{1, 1, -5, 1, 1}).sortKey, 1);
    EXPECT_EQ(sanitized(SettingsRecord{1, 1, 0, 1, 1}).sortKey, 1);
    const SettingsRecord fine{1, 1, -4, 0, 0};
    EXPECT_EQ(sanitized(fine), fine);
}

class StoredSettings : public test::UiTest {};

TEST_F(StoredSettings, ReadingUsesTheStoreOrTheDefaults) {
    QSettings store;
    EXPECT_EQ(readSettings(), SettingsRecord{});  // nothing stored
    store.setValue(QStringLiteral("Settings/Prefs"), encodePrefs(SettingsRecord{1, 1, -3, 0, 1}));
    store.sync();
    EXPECT_EQ(readSettings(), (SettingsRecord{1, 1, -3, 0, 1}));
    store.setValue(QStringLiteral("Settings/Prefs"), QStringLiteral("garbage that is not a record"));
    store.sync();
    EXPECT_EQ(readSettings(), SettingsRecord{});
    store.setValue(QStringLiteral("Settings/Prefs"), encodePrefs(SettingsRecord{1, 7, INT_MIN, 0, 1}));
    store.sync();
    EXPECT_EQ(readSettings(), (SettingsRecord{1, 0, 1, 0, 1}));
}

TEST_F(StoredSettings, WritingStoresTheEncodedRecord) {
    writeSettings(SettingsRecord{1, 1, 2, 1, 0});
    const QSettings store;
    EXPECT_EQ(store.value(QStringLiteral("Settings/Prefs")).toString(), encodePrefs(SettingsRecord{1, 1, 2, 1, 0}));
}

TEST(RecentFiles, NewestFirstWithoutDuplicatesAndAtMostEight) {
    RecentFileList list;
    for (int i = 0; i < 10; ++i) list.add(QStringLiteral("/m/%1.swf").arg(i));
    ASSERT_EQ(list.entries().size(), 8);
    EXPECT_EQ(list.entries().front(), QStringLiteral("/m/9.swf"));
    EXPECT_EQ(list.entries().back(), QStringLiteral("/m/2.swf"));
    list.add(QStringLiteral("/m/5.swf"));
    EXPECT_EQ(list.entries().front(), QStringLiteral("/m/5.swf"));
    EXPECT_EQ(list.entries().size(), 8);
    EXPECT_EQ(list.entries().count(QStringLiteral("/m/5.swf")), 1);
    // Relative paths are stored absolute and cleaned.
    list.add(QStringLiteral("/m/sub/../7.swf"));
    EXPECT_EQ(list.entries().front(), QStringLiteral("/m/7.swf"));
    EXPECT_EQ(list.entries().count(QStringLiteral("/m/7.swf")), 1);
    list.remove(QStringLiteral("/m/5.swf"));
    EXPECT_FALSE(list.entries().contains(QStringLiteral("/m/5.swf")));
}

TEST(RecentFiles, MenuTextNumbersAndDoublesAmpersands) {
    EXPECT_EQ(RecentFileList::menuText(0, QStringLiteral("/a/b.swf")), QStringLiteral("&1 /a/b.swf"));
    EXPECT_EQ(RecentFileList::menuText(7, QStringLiteral("/a/R&D & more.swf")),
              QStringLiteral("&8 /a/R&&D && more.swf"));
}

TEST_F(StoredSettings, RecentFilesSurviveSaveAndLoad) {
    RecentFileList list;
    list.add(QStringLiteral("/x/one.swf"));
    list.add(QStringLiteral("/x/two.swf"));
    list.save();
    RecentFileList again;
    again.load();
    EXPECT_EQ(again.entries(), (QStringList{QStringLiteral("/x/two.swf"), QStringLiteral("/x/one.swf")}));
    const QSettings store;
    EXPECT_EQ(store.value(QStringLiteral("Recent File List/File1")).toString(), QStringLiteral("/x/two.swf"));
    EXPECT_FALSE(store.contains(QStringLiteral("Recent File List/File3")));
}

}  // namespace
}  // namespace kestrel
