// MFloatMatrix: a 4x4 matrix of floats, the identity by default.
#include <maya/MFloatMatrix.h>

MFloatMatrix::MFloatMatrix() : matrix{{1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 0}, {0, 0, 0, 1}} {}
MFloatMatrix::MFloatMatrix(const float m[4][4]) {
    for (int row = 0; row < 4; ++row) {
        for (int col = 0; col < 4; ++col) {
            matrix[row][col] = m[row][col];
        }
    }
}
float& MFloatMatrix::operator()(unsigned int row, unsigned int col) { return matrix[row][col]; }
float MFloatMatrix::operator()(unsigned int row, unsigned int col) const {
    return matrix[row][col];
}
