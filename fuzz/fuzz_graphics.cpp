// Arbitrary bytes as a graphics environment file, loaded through a window that accepts every
// picture and box; what loaded is saved, and the saved file must load back to the same
// polygons and controls.

#include <algorithm>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <tuple>
#include <vector>

#include "controller/controller.h"
#include "fuzz/work_dir.h"
#include "map/graphics_file.h"
#include "map/stream_glyphs.h"
#include "output/output.h"

using namespace ruvalda;

namespace {

constexpr int BOX = 9, DISC = 11;

// A centre moved to a disc's left or top and kept inside the picture.
int disc_corner(int centre, int size) {
    const long long v = static_cast<long long>(centre) - DISC / 2;
    return clamp_to_picture(static_cast<int>(std::max<long long>(v, INT_MIN)), DISC, size);
}

// The window: boxes appear for every detector asked for, discs as the window places them.
struct Window : GraphicsSink {
    explicit Window(MapModel& map_model) : map_model(map_model) {}
    MapModel& map_model;
    std::vector<SavedControl> controls;

    void clear_discs() override {
        std::erase_if(controls, [](const SavedControl& c) { return c.disc; });
    }
    bool load_picture() override {
        map_model.picture_width = 800;
        map_model.picture_height = 600;
        return true;
    }
    bool place_detector_box(int detector, MapPoint corner) override {
        auto box = std::find_if(controls.begin(), controls.end(), [&](const SavedControl& c) {
            return !c.disc && c.tag == detector;
        });
        if (box == controls.end())
            box = controls.insert(controls.end(), {false, detector, 0, 0, BOX, BOX});
        box->left = clamp_to_picture(corner.x, BOX, map_model.picture_width);
        box->top = clamp_to_picture(corner.y, BOX, map_model.picture_height);
        return true;
    }
    void add_light_disc(int stream, MapPoint centre) override {
        SavedControl disc{true, stream, -100, -100, DISC, DISC};
        if (centre.x > 0 || centre.y > 0) {
            disc.left = disc_corner(centre.x, map_model.picture_width);
            disc.top = disc_corner(centre.y, map_model.picture_height);
        }
        controls.push_back(disc);
    }
    bool ask_continue(const std::string&) override { return true; }
};

std::vector<std::tuple<bool, int, int, int>> placed(const Window& window) {
    std::vector<std::tuple<bool, int, int, int>> all;
    for (const SavedControl& c : window.controls) all.emplace_back(c.disc, c.tag, c.left, c.top);
    std::sort(all.begin(), all.end());
    return all;
}

std::vector<std::vector<MapPoint>> polygons(const MapModel& map_model) {
    std::vector<std::vector<MapPoint>> all;
    for (const auto& list : map_model.polygons)
        for (const MapPolygon& p : list)
            all.emplace_back(p.points.begin(), p.points.begin() + p.count);
    return all;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    ReportRecorder recorder;
    Controller controller;
    MapModel& map_model = controller.map;
    OutputState& output = controller.engine.output;
    output.front_end = &recorder;

    const std::string control = ruvalda::fuzz::work_dir() + "/x.rvc";
    const std::string file = ruvalda::fuzz::work_dir() + "/x.rvg";
    if (std::FILE* f = std::fopen(file.c_str(), "wb")) {
        std::fwrite(data, 1, size, f);
        std::fclose(f);
    }
    Window window(map_model);
    LoadGraphics(map_model, controller.stream_glyphs, output, control, window);
    for (const auto& list : map_model.polygons)
        for (const MapPolygon& p : list)
            if (p.count < 3 || p.count > MAX_POLYGON_POINTS) std::abort();

    const auto loaded_polygons = polygons(map_model);
    const auto loaded_controls = placed(window);
    if (!SaveGraphics(map_model, controller.stream_glyphs, output, control, window.controls))
        std::abort();
    recorder.reports.clear();
    if (!LoadGraphics(map_model, controller.stream_glyphs, output, control, window) ||
        !recorder.reports.empty())
        std::abort();
    if (polygons(map_model) != loaded_polygons || placed(window) != loaded_controls) std::abort();
    return 0;
}
