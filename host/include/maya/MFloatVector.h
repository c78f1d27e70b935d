// Vector of three floats.
#pragma once

class MFloatVector {
  public:
    MFloatVector();
    MFloatVector(float xx, float yy, float zz = 0.0);

    float x;
    float y;
    float z;
};
