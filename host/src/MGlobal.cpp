// MGlobal: messages to the user, kept in the host's log.
#include <maya/MGlobal.h>

#include "HostInternal.h"

void MGlobal::displayInfo(const MString& theMessage) {
    mayahost::detail::appendMessage(mayahost::MessageKind::Info, theMessage);
}

void MGlobal::displayError(const MString& theMessage) {
    mayahost::detail::appendMessage(mayahost::MessageKind::Error, theMessage);
}
