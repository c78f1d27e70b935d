// MGlobal's message output and the log the driver reads back.
#include <maya/MGlobal.h>

#include <atomic>
#include <cstdio>

#include "HostInternal.h"

namespace {

struct MessageLog {
    std::mutex mutex;
    std::vector<mayahost::Message> lines;
    std::atomic<bool> echo{true};
};

MessageLog& messageLog() {
    static MessageLog* log = new MessageLog;
    return *log;
}

void appendMessage(mayahost::MessageKind kind, const MString& text) {
    MessageLog& log = messageLog();
    std::lock_guard<std::mutex> lock(log.mutex);
    log.lines.push_back({kind, text.asChar()});
    if (!log.echo.load(std::memory_order_relaxed)) {
        return;
    }
    // As the script editor shows them.
    if (kind == mayahost::MessageKind::Info) {
        std::fprintf(stdout, "%s\n", text.asChar());
        std::fflush(stdout);
    } else {
        std::fprintf(stderr, "// Error: %s //\n", text.asChar());
    }
}

}  // namespace

void MGlobal::displayInfo(const MString& theMessage) {
    appendMessage(mayahost::MessageKind::Info, theMessage);
}

void MGlobal::displayError(const MString& theMessage) {
    appendMessage(mayahost::MessageKind::Error, theMessage);
}

namespace mayahost {

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

void setConsoleEcho(bool enabled) { messageLog().echo.store(enabled, std::memory_order_relaxed); }

}  // namespace mayahost
