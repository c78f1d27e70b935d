// 4x4 matrix of floats, row-major; points are row vectors multiplied from the left.
#pragma once

class MFloatMatrix {
  public:
    MFloatMatrix();
    MFloatMatrix(const float m[4][4]);

    float& operator()(unsigned int row, unsigned int col);
    float operator()(unsigned int row, unsigned int col) const;

    float matrix[4][4];
};
