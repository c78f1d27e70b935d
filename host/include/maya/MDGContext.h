// Context of a dependency-graph evaluation; this host has only the normal context.
#pragma once

class MDGContext {
  public:
    MDGContext();

    static MDGContext fsNormal;
};
