#pragma once

// Size steps of the edge mask and the crosshair, shared by the mask window and the
// pan-and-zoom window (each with its own limits). A step is added in double precision to the
// stored float and the result stored as a float again, then held to its limit.
namespace MaskSteps {
// Radius + 0.01, at most 0.5.
float MaskLarger(float radius);
// Radius - 0.01, at least `minimum`.
float MaskSmaller(float radius, float minimum);
// Crosshair size + 0.02, at most `maximum`.
float CrossLarger(float crossSize, float maximum);
// Crosshair size - 0.02, at least `minimum`.
float CrossSmaller(float crossSize, float minimum);
}  // namespace MaskSteps
