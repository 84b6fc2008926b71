// How the core speaks to the user: every message and question goes through
// a MessageSink. The window shows a message box, the command-line tool
// prints to stderr and answers from its flags, tests record.
#pragma once

#include <string>

namespace kestrel {

enum class MessageIcon {
    Error,
    Warning
};
enum class MessageButtons {
    Ok,
    YesNo
};
enum class MessageAnswer {
    Ok,
    Yes,
    No
};

class MessageSink {
public:
    virtual ~MessageSink() = default;
    virtual MessageAnswer show(const std::string& text, MessageIcon icon, MessageButtons buttons) = 0;
};

namespace text {
inline constexpr const char* kCannotOpen = "Unable to open file %s";
inline constexpr const char* kDamaged = "Unable to read the SWF file. It may be truncated or damaged.";
inline constexpr const char* kSomeFailed = "Errors occurred while reading some resources.";
inline constexpr const char* kNotSwf = "The file %s is not a SWF file";
}  // namespace text

// Fills the one "%s" of a message template.
std::string formatMessage(const char* pattern, const std::string& argument);

}  // namespace kestrel
