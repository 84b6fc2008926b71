#include "ui/frame/commands.h"

namespace kestrel {

QString commandLabel(int id) {
    switch (id) {
        case kCmdOpen: return QStringLiteral("&Open SWF...\tCtrl+O");
        case kCmdOpenInternetCache: return QStringLiteral("Open &Internet Cache...");
        case kCmdCloseSwf: return QStringLiteral("&Close SWF\tCtrl+F4");
        case kCmdLaunchSwf: return QStringLiteral("&Launch SWF File");
        case kCmdExit: return QStringLiteral("E&xit\tAlt+F4");
        case kCmdExtract: return QStringLiteral("&Extract\tCtrl+E");
        case kCmdView: return QStringLiteral("&View\tEnter");
        case kCmdSelectAll: return QStringLiteral("Select &All\tCtrl+A");
        case kCmdInvertSelection: return QStringLiteral("&Invert Selection");
        case kCmdProperties: return QStringLiteral("&Properties\tAlt+Enter");
        case kCmdToggleToolbar: return QStringLiteral("&Toolbar");
        case kCmdToggleStatusBar: return QStringLiteral("&Status Bar");
        case kCmdLargeIcons: return QStringLiteral("&Large Icons");
        case kCmdDetails: return QStringLiteral("&Details");
        case kCmdSortType: return QStringLiteral("by &Type");
        case kCmdSortFrame: return QStringLiteral("by &Frame");
        case kCmdSortMemory: return QStringLiteral("by &Memory");
        case kCmdSortDimension: return QStringLiteral("by &Dimension");
        case kCmdHelpContents: return QStringLiteral("&Contents\tF1");
        case kCmdAbout: return QStringLiteral("&About Kestrel...");
        default: return {};
    }
}

QString recentFileMenuText(int index, const QString& path) {
    QString name = path;
    name.replace(QLatin1Char('&'), QStringLiteral("&&"));
    return QStringLiteral("&%1 %2").arg(index + 1).arg(name);
}

QString commandPrompt(int id) {
    if (id >= kCmdRecentFirst && id <= kCmdRecentFirst + 15) return QStringLiteral("Open this document");
    switch (id) {
        case kCmdOpen: return QStringLiteral("Open an existing SWF document\nOpen");
        case kCmdOpenInternetCache: return QStringLiteral("Search the Internet Cache for SWF files\nSearch");
        case kCmdCloseSwf: return QStringLiteral("Close SWF document\nClose");
        case kCmdLaunchSwf: return QStringLiteral("Launch the current SWF File\nPlay SWF");
        case kCmdExit: return QStringLiteral("Quit the application; prompts to save documents\nExit");
        case kCmdExtract: return QStringLiteral("Extract resources\nExtract");
        case kCmdView: return QStringLiteral("Preview resource\nView");
        case kCmdSelectAll: return QStringLiteral("Select all the resources\nSelect All");
        case kCmdInvertSelection: return QStringLiteral("Reverse which resources are selected and which are not");
        case kCmdProperties: return QStringLiteral("Display details about the selected resource\nProperties");
        case kCmdToggleToolbar: return QStringLiteral("Show or hide the toolbar\nToggle ToolBar");
        case kCmdToggleStatusBar: return QStringLiteral("Show or hide the status bar\nToggle StatusBar");
        case kCmdLargeIcons: return QStringLiteral("Display resources by using large icons.\nLarge Icons");
        case kCmdDetails: return QStringLiteral("Displays detailed information about each resource.\nDetails");
        case kCmdSortType: return QStringLiteral("Sort resources by type");
        case kCmdSortFrame: return QStringLiteral("Sort resources by frame");
        case kCmdSortMemory: return QStringLiteral("Sort resources by memory size in the SWF document");
        case kCmdSortDimension: return QStringLiteral("Sort resources by dimension");
        case kCmdHelpContents: return QStringLiteral("List Help topics\nHelp Topics");
        case kCmdAbout: return QStringLiteral("Display program information, version number and copyright\nAbout");
        default: return {};
    }
}

QString commandStatusText(int id) { return commandPrompt(id).section(QLatin1Char('\n'), 0, 0); }

QString commandTooltip(int id) {
    const QString prompt = commandPrompt(id);
    const int at = prompt.indexOf(QLatin1Char('\n'));
    return at < 0 ? QString() : prompt.mid(at + 1);
}

}  // namespace kestrel
