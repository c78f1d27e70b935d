// Vector of three floats.
#pragma once

class MFloatVector {
  public:
    MFloatVector() : x(0), y(0), z(0) {}
    MFloatVector(float xx, float yy, float zz = 0.0) : x(xx), y(yy), z(zz) {}

    float x;
    float y;
    float z;
};
