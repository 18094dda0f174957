#include "display/MaskSteps.h"

namespace MaskSteps {

float MaskLarger(float radius) {
    const float r = float(double(radius) + 0.01);
    return r > 0.5f ? 0.5f : r;
}

float MaskSmaller(float radius, float minimum) {
    const float r = float(double(radius) - 0.01);
    return r < minimum ? minimum : r;
}

float CrossLarger(float crossSize, float maximum) {
    const float s = float(double(crossSize) + 0.02);
    return s > maximum ? maximum : s;
}

float CrossSmaller(float crossSize, float minimum) {
    const float s = float(double(crossSize) - 0.02);
    return s < minimum ? minimum : s;
}

}  // namespace MaskSteps
