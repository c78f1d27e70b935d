// The log of what MGlobal showed, its echo on the console, and the driver's view of it.
#include <cstdio>

#include "HostInternal.h"

namespace mayahost {
namespace {

struct MessageLog {
    std::mutex mutex;
    std::vector<Message> lines;
    bool echo = true;
};

MessageLog& messageLog() {
    static MessageLog* log = new MessageLog;
    return *log;
}

}  // namespace

void detail::appendMessage(MessageKind kind, const MString& text) {
    MessageLog& log = messageLog();
    std::lock_guard<std::mutex> lock(log.mutex);
    log.lines.push_back({kind, text.asChar()});
    if (!log.echo) {
        return;
    }
    // As the script editor shows them.
    if (kind == MessageKind::Info) {
        std::fprintf(stdout, "%s\n", text.asChar());
        std::fflush(stdout);
    } else {
        std::fprintf(stderr, "// Error: %s //\n", text.asChar());
    }
}

std::vector<Message> messages() {
    MessageLog& log = messageLog();
    std::lock_guard<std::mutex> lock(log.mutex);
    return log.lines;
}

void clearMessages() {
    MessageLog& log = messageLog();
    std::lock_guard<std::mutex> lock(log.mutex);
    log.lines.clear();
}

void setConsoleEcho(bool enabled) {
    MessageLog& log = messageLog();
    std::lock_guard<std::mutex> lock(log.mutex);
    log.echo = enabled;
}

}  // namespace mayahost
