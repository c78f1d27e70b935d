// MFloatPoint: a homogeneous point, transformed as a row vector.
#include <maya/MFloatMatrix.h>
#include <maya/MFloatPoint.h>

MFloatPoint& MFloatPoint::operator*=(const MFloatMatrix& right) {
    const float in[4] = {x, y, z, w};
    float out[4];
    for (int col = 0; col < 4; ++col) {
        out[col] = in[0] * right.matrix[0][col] + in[1] * right.matrix[1][col] +
                   in[2] * right.matrix[2][col] + in[3] * right.matrix[3][col];
    }
    x = out[0];
    y = out[1];
    z = out[2];
    w = out[3];
    return *this;
}
