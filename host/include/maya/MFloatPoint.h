// Homogeneous point of four floats.
#pragma once

class MFloatMatrix;

class MFloatPoint {
  public:
    MFloatPoint();
    MFloatPoint(float xx, float yy, float zz = 0.0, float ww = 1.0);

    // Row vector times matrix; the result is not divided by w.
    MFloatPoint& operator*=(const MFloatMatrix& right);

    float x;
    float y;
    float z;
    float w;
};
