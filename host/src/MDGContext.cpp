// MDGContext: the normal context, the only one this host evaluates in.
#include <maya/MDGContext.h>

MDGContext MDGContext::fsNormal;
MDGContext::MDGContext() = default;
