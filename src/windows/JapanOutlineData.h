// The coastline of Japan as the build turns it out of the public-domain map data
// (Natural Earth, 1:50m): outer rings of longitude/latitude pairs in degrees.
#pragma once

namespace yubin::app::pictures {

struct OutlineData {
    const float* points;   // longitude, latitude, longitude, ... ring after ring
    const int* ringSizes;  // points of each ring
    int ringCount;         // 0 when the build had no map data
};

extern const OutlineData kJapanOutline;

}  // namespace yubin::app::pictures
