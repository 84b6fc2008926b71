// The window program's fixed texts.
#pragma once

namespace kestrel::text {

inline constexpr const char* kAppTitle = "Kestrel";
inline constexpr const char* kNone = "None";
inline constexpr const char* kNoResource = "No resource";
inline constexpr const char* kResourcesSelected = "%1 resource%2 selected";
inline constexpr const char* kResources = "%1 resource%2";
// Browser caches keep movies without an extension; they open by signature.
inline constexpr const char* kOpenFilter = "SWF movies (*.swf);;All files (*)";
inline constexpr const char* kRecentPlaceholder = "Recent File";
inline constexpr const char* kNoFileOpen = "No file currently open.\n\n";
inline constexpr const char* kSelectAnItem = "Select an item\nto view the description\n";
inline constexpr const char* kNoResourceInFile = "No resource in this file.";
inline constexpr const char* kVersionFormat = "Version %1.%2";

}  // namespace kestrel::text
