// Homogeneous point of four floats.
#pragma once

class MFloatMatrix;

class MFloatPoint {
  public:
    MFloatPoint() : x(0), y(0), z(0), w(1) {}
    MFloatPoint(float xx, float yy, float zz = 0.0, float ww = 1.0) : x(xx), y(yy), z(zz), w(ww) {}

    // Row vector times matrix; the result is not divided by w.
    MFloatPoint& operator*=(const MFloatMatrix& right);

    float x;
    float y;
    float z;
    float w;
};
