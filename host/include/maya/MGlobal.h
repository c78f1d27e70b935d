// Messages to the user.
#pragma once

#include <maya/MString.h>

class MGlobal {
  public:
    static void displayInfo(const MString& theMessage);
    static void displayError(const MString& theMessage);
};
