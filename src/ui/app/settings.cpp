#include "ui/app/settings.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <zlib.h>

#include <cstdlib>
#include <limits>

#include "base/byte_order.h"
#include "document/swf_res.h"
#include "ui/frame/commands.h"

namespace kestrel {

namespace {

const QString kPrefsValue = QStringLiteral("Settings/Prefs");
const QString kRecentGroup = QStringLiteral("Recent File List");
const QString kOriginalJpegValue = QStringLiteral("Settings/KeepOriginalJpeg");
const QString kPremultipliedAlphaValue = QStringLiteral("Settings/PremultipliedAlpha");
const QString kSymbolNamesValue = QStringLiteral("Settings/NameFilesAfterSymbols");
// Earlier versions wrote premultiplied PNGs unless this was set; straight
// alpha is the default now, so the old value has nothing left to say.
const QString kOldStraightAlphaValue = QStringLiteral("Settings/StraightAlpha");

void putLE(std::vector<std::uint8_t>& out, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(std::uint8_t(v >> (8 * i)));
}

int letterValue(QChar c) {
    const char16_t u = c.unicode();
    return u >= u'K' && u <= u'Z' ? int(u - u'K') : 0;
}

}  // namespace

std::vector<std::uint8_t> recordBytes(const SettingsRecord& r) {
    std::vector<std::uint8_t> out;
    out.reserve(kRecordBytes);
    for (std::int32_t v : {r.version, r.viewMode, r.sortKey, r.statusBar, r.toolbar}) putLE(out, std::uint32_t(v));
    return out;
}

SettingsRecord recordFromBytes(const std::uint8_t* b) {
    SettingsRecord r;
    r.version = std::int32_t(getLe32(b));
    r.viewMode = std::int32_t(getLe32(b + 4));
    r.sortKey = std::int32_t(getLe32(b + 8));
    r.statusBar = std::int32_t(getLe32(b + 12));
    r.toolbar = std::int32_t(getLe32(b + 16));
    return r;
}

QString lettersFromBytes(const std::vector<std::uint8_t>& bytes) {
    QString out;
    out.reserve(int(bytes.size() * 2));
    for (std::uint8_t b : bytes) {
        out.append(QChar(u'K' + (b >> 4)));
        out.append(QChar(u'K' + (b & 0xF)));
    }
    return out;
}

std::vector<std::uint8_t> bytesFromLetters(const QString& letters) {
    std::vector<std::uint8_t> out(std::size_t(letters.size() / 2));
    for (std::size_t j = 0; j < out.size(); ++j)
        out[j] = std::uint8_t(letterValue(letters[int(2 * j)]) * 16 + letterValue(letters[int(2 * j + 1)]));
    return out;
}

QString encodePrefs(const SettingsRecord& record) {
    const std::vector<std::uint8_t> raw = recordBytes(record);
    uLongf packedLength = compressBound(uLong(raw.size()));
    std::vector<std::uint8_t> packed(packedLength);
    if (compress2(packed.data(), &packedLength, raw.data(), uLong(raw.size()), 3) != Z_OK) return {};
    std::vector<std::uint8_t> stored;
    putLE(stored, std::uint32_t(raw.size()));
    stored.insert(stored.end(), packed.begin(), packed.begin() + std::ptrdiff_t(packedLength));
    return lettersFromBytes(stored);
}

std::optional<SettingsRecord> decodePrefs(const QString& text) {
    if (text.size() <= 7) return std::nullopt;
    const std::vector<std::uint8_t> bytes = bytesFromLetters(text);
    const std::uint32_t length = getLe32(bytes.data());
    if (length == 0 || length > kMaxPrefsLength) return std::nullopt;
    std::vector<std::uint8_t> out(length);
    uLongf produced = length;
    const int rc = uncompress(out.data(), &produced, bytes.data() + 4, uLong(bytes.size() - 4));
    if (rc != Z_OK || produced != length || length != std::uint32_t(kRecordBytes)) return std::nullopt;
    const SettingsRecord record = recordFromBytes(out.data());
    if (record.version != 1) return std::nullopt;
    return record;
}

SettingsRecord sanitized(SettingsRecord record) {
    const SettingsRecord defaults;
    if (record.viewMode != 0 && record.viewMode != 1) record.viewMode = defaults.viewMode;
    const std::int64_t magnitude = std::abs(std::int64_t(record.sortKey));
    if (magnitude < 1 || magnitude > 4) record.sortKey = defaults.sortKey;
    return record;
}

SettingsRecord readSettings() {
    const QSettings settings;
    const std::optional<SettingsRecord> stored = decodePrefs(settings.value(kPrefsValue).toString());
    return stored ? sanitized(*stored) : SettingsRecord{};
}

void writeSettings(const SettingsRecord& record) {
    QSettings settings;
    settings.setValue(kPrefsValue, encodePrefs(record));
}

WriteOptions readExtractOptions() {
    const QSettings settings;
    WriteOptions options;
    options.originalJpeg = settings.value(kOriginalJpegValue, 0).toInt() != 0;
    options.premultipliedAlpha = settings.value(kPremultipliedAlphaValue, 0).toInt() != 0;
    if (settings.value(kSymbolNamesValue, 0).toInt() != 0) options.naming = FileNaming::Symbol;
    return options;
}

void writeExtractOptions(const WriteOptions& options) {
    QSettings settings;
    settings.setValue(kOriginalJpegValue, options.originalJpeg ? 1 : 0);
    settings.setValue(kPremultipliedAlphaValue, options.premultipliedAlpha ? 1 : 0);
    settings.setValue(kSymbolNamesValue, options.naming == FileNaming::Symbol ? 1 : 0);
    settings.remove(kOldStraightAlphaValue);
}

void RecentFileList::load() {
    entries_.clear();
    QSettings settings;
    settings.beginGroup(kRecentGroup);
    for (int i = 1; i <= capacity_; ++i) {
        const QString path = settings.value(QStringLiteral("File%1").arg(i)).toString();
        if (!path.isEmpty() && !entries_.contains(path)) entries_.append(path);
    }
}

void RecentFileList::save() const {
    QSettings settings;
    settings.beginGroup(kRecentGroup);
    for (int i = 1; i <= capacity_; ++i) {
        const QString key = QStringLiteral("File%1").arg(i);
        if (i <= entries_.size())
            settings.setValue(key, entries_[i - 1]);
        else
            settings.remove(key);
    }
}

void RecentFileList::add(const QString& path) {
    if (path.isEmpty()) return;
    const QString absolute = QDir::cleanPath(QFileInfo(path).absoluteFilePath());
    entries_.removeAll(absolute);
    entries_.prepend(absolute);
    while (entries_.size() > capacity_) entries_.removeLast();
}

void RecentFileList::remove(const QString& path) {
    entries_.removeAll(path);
    entries_.removeAll(QDir::cleanPath(QFileInfo(path).absoluteFilePath()));
}

QString RecentFileList::menuText(int index, const QString& path) { return recentFileMenuText(index, path); }

}  // namespace kestrel
