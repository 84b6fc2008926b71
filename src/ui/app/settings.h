// The user's settings record and its stored form: "Prefs" under
// "Settings", the record compressed with zlib and written as letters
// (each nibble as "K" + value).
#pragma once

#include <QString>
#include <QStringList>
#include <cstdint>
#include <optional>
#include <vector>

namespace kestrel {

struct WriteOptions;

struct SettingsRecord {
    std::int32_t version = 1;
    std::int32_t viewMode = 0;   // 0 large icons, 1 details
    std::int32_t sortKey = 1;    // 1 type, 2 frame, 3 memory, 4 dimension; negative descends
    std::int32_t statusBar = 1;  // status bar visible
    std::int32_t toolbar = 1;    // toolbar visible

    bool operator==(const SettingsRecord&) const = default;
};

inline constexpr int kRecordBytes = 20;
inline constexpr std::uint32_t kMaxPrefsLength = 102400;

// Little-endian bytes of the record and back.
std::vector<std::uint8_t> recordBytes(const SettingsRecord& record);
SettingsRecord recordFromBytes(const std::uint8_t* bytes);

// Letter-nibble text of a byte string, and the bytes of a text: floor(n/2)
// bytes, any character outside "K".."Z" counting as 0.
QString lettersFromBytes(const std::vector<std::uint8_t>& bytes);
std::vector<std::uint8_t> bytesFromLetters(const QString& letters);

// The stored text of a record: length 20, then the record deflated at
// level 3 with the zlib wrapper.
QString encodePrefs(const SettingsRecord& record);
// The record of a stored text, or nothing when it has 7 letters or fewer,
// a length outside 1..102400, a stream that does not inflate to exactly
// that length, a length other than 20 or a version other than 1.
std::optional<SettingsRecord> decodePrefs(const QString& text);

// View mode and sort key outside their ranges fall back to the defaults.
SettingsRecord sanitized(SettingsRecord record);

// Per-user store ("Settings/Prefs").
SettingsRecord readSettings();
void writeSettings(const SettingsRecord& record);

// The write choices of the Extract dialog ("Settings/KeepOriginalJpeg",
// "Settings/PremultipliedAlpha", "Settings/NameFilesAfterSymbols"), all off
// until the user turns them on. Drag-out writes with the same choices. The "Settings/StraightAlpha" value
// of earlier versions is ignored (straight alpha is the default whatever it
// held) and removed when the choices are next written.
WriteOptions readExtractOptions();
void writeExtractOptions(const WriteOptions& options);

// The recent-file list: absolute paths, newest first, no duplicates.
class RecentFileList {
public:
    explicit RecentFileList(int capacity = 8) : capacity_(capacity) {}

    void load();  // "Recent File List/File1".."File8"
    void save() const;
    void add(const QString& path);
    void remove(const QString& path);
    const QStringList& entries() const { return entries_; }
    int capacity() const { return capacity_; }

    // Menu text of entry `index`: "&N name" with every "&" of the name doubled.
    static QString menuText(int index, const QString& path);

private:
    int capacity_;
    QStringList entries_;
};

}  // namespace kestrel
