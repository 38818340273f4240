// A stereo panorama that covers part of the sphere (a VR180 photo, a band
// around the horizon) as the 360-degree viewer takes pictures: each eye a
// whole equirectangular picture, the views where their crop says and black
// elsewhere, the two side by side (left eye on the left).
#pragma once

#include "core/picture.h"
#include "image/stereo_still.h"

// Each eye's canvas is at most this wide; larger panoramas are scaled down
// (a GPU takes little more, and the page would scale it anyway).
constexpr int kMaxPanoramaEyeWidth = 4096;

// Null when the crop is not usable or memory runs out.
Picture PanoramaCanvas(const Picture& left, const Picture& right,
                       const PanoramaCrop& crop,
                       int maxEyeWidth = kMaxPanoramaEyeWidth);
