// Failures that tests ask the host to fake.
#include "HostInternal.h"

namespace mayahost {
namespace {

using detail::Operation;

constexpr const char* kOperationNames[] = {
    "MFnPlugin::MFnPlugin",
    "MFnPlugin::registerNode",
    "MFnPlugin::deregisterNode",
    "MPxNode::addAttribute",
    "MPxNode::attributeAffects",
    "MFnNumericAttribute::create",
    "MFnNumericAttribute::createColor",
    "MFnNumericAttribute::createPoint",
    "MFnMatrixAttribute::create",
    "MFnTypedAttribute::create",
    "MFnAttribute::setKeyable",
    "MFnAttribute::setStorable",
    "MFnAttribute::setReadable",
    "MFnAttribute::setWritable",
    "MFnAttribute::setHidden",
    "MFnAttribute::setInternal",
};
constexpr int kOperationCount = static_cast<int>(Operation::Count);
static_assert(sizeof kOperationNames / sizeof kOperationNames[0] == kOperationCount,
              "every operation needs its name");

struct PendingFailure {
    unsigned int remaining = 0;
    MStatus::MStatusCode code = MStatus::kFailure;
};

struct PendingFailures {
    std::mutex mutex;
    PendingFailure byOperation[kOperationCount];
};

PendingFailures& pendingFailures() {
    static PendingFailures* failures = new PendingFailures;
    return *failures;
}

}  // namespace

bool detail::takeInjectedFailure(Operation operation, MStatus& status) {
    PendingFailures& failures = pendingFailures();
    std::lock_guard<std::mutex> lock(failures.mutex);
    PendingFailure& pending = failures.byOperation[static_cast<int>(operation)];
    if (pending.remaining == 0) {
        return false;
    }
    --pending.remaining;
    status = pending.code;
    return true;
}

Result injectFailure(const std::string& operation, MStatus::MStatusCode code, unsigned int count) {
    if (code == MStatus::kSuccess) {
        return Result::failure("an injected failure needs a failing status code");
    }
    PendingFailures& failures = pendingFailures();
    for (int index = 0; index < kOperationCount; ++index) {
        if (operation == kOperationNames[index]) {
            std::lock_guard<std::mutex> lock(failures.mutex);
            failures.byOperation[index] = {count, code};
            return {};
        }
    }
    std::string known;
    for (const char* name : kOperationNames) {
        known += known.empty() ? name : std::string(", ") + name;
    }
    return Result::failure("unknown host operation \"" + operation + "\"; known: " + known);
}

void clearInjectedFailures() {
    PendingFailures& failures = pendingFailures();
    std::lock_guard<std::mutex> lock(failures.mutex);
    for (PendingFailure& pending : failures.byOperation) {
        pending.remaining = 0;
    }
}

}  // namespace mayahost
