#include "map/map_model.h"

namespace ruvalda {

std::int32_t clamp_to_picture(std::int32_t v, std::int32_t w, std::int32_t size) {
    if (v < 0) return 0;
    if (static_cast<std::int64_t>(v) + w < size) return v;
    return size - w;
}

MapPoint clamp_vertex(MapPoint p, std::int32_t width, std::int32_t height) {
    auto keep = [](std::int32_t v, std::int32_t size) {
        if (v < 0) return 0;
        if (static_cast<std::int64_t>(v) + 1 >= size) return size - 1;
        return v;
    };
    return {keep(p.x, width), keep(p.y, height)};
}

}  // namespace ruvalda
