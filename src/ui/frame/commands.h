// Command identifiers shared by the menus, the accelerators, the toolbar and
// the context menus, with their status-line prompts and tooltips.
#pragma once

#include <QString>

namespace kestrel {

enum Command : int {
    kCmdOpen = 57601,
    kCmdOpenInternetCache = 32790,
    kCmdCloseSwf = 32771,
    kCmdLaunchSwf = 32788,
    kCmdRecentFirst = 57616,  // up to 8 entries: 57616..57623
    kCmdRecentLast = 57623,
    kCmdExit = 57665,
    kCmdExtract = 32782,
    kCmdView = 32772,
    kCmdSelectAll = 57642,
    kCmdInvertSelection = 32773,
    kCmdProperties = 32784,
    kCmdToggleToolbar = 59392,
    kCmdToggleStatusBar = 59393,
    kCmdLargeIcons = 59409,
    kCmdDetails = 59411,
    kCmdSortType = 32778,
    kCmdSortFrame = 32777,
    kCmdSortMemory = 32785,
    kCmdSortDimension = 32786,
    kCmdHelpContents = 57666,
    kCmdAbout = 57664,
};

// What a command looks like now: enabled, checked.
struct CommandState {
    bool enabled = true;
    bool checked = false;
};

// The menu label of a command, access key and shortcut text included; the
// main menus and the right-click menus share it. Empty for an id without a
// fixed label (recent files).
QString commandLabel(int id);

// Menu text of recent-file entry `index`: "&N name" with every "&" of the
// name doubled.
QString recentFileMenuText(int index, const QString& path);

// The prompt string of a command: the status-line text, then "\n" and the
// tooltip when there is one. Empty for an unknown id.
QString commandPrompt(int id);
// The part before "\n" and the part after it.
QString commandStatusText(int id);
QString commandTooltip(int id);

}  // namespace kestrel
