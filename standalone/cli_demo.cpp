// `vexorant demo`: renders a built-in sample, an image and a map made in code, through the
// effect, and writes the result and the processed map beside it.
#include <cmath>
#include <cstdio>

#include "standalone/cli.h"
#include "standalone/cli_args.h"
#include "standalone/image_io.h"
#include "standalone/module.h"
#include "standalone/output_file.h"
#include "standalone/render_host.h"
#include "standalone/session.h"
#include "standalone/settings.h"

namespace vexo_host {
namespace {

constexpr A_long kWidth = 640, kHeight = 360;

// Colour bars over a checkerboard with a few discs: edges and colours that show the warp.
World SampleImage() {
    World w = MakeWorld(kWidth, kHeight, 8);
    for (A_long y = 0; y < kHeight; ++y) {
        for (A_long x = 0; x < kWidth; ++x) {
            const float u = float(x) / kWidth, v = float(y) / kHeight;
            const bool check = ((x / 40) + (y / 40)) % 2 == 0;
            float r = 0.5f + 0.5f * std::cos(6.2832f * (u + 0.00f));
            float g = 0.5f + 0.5f * std::cos(6.2832f * (u + 0.33f));
            float b = 0.5f + 0.5f * std::cos(6.2832f * (u + 0.67f));
            const float shade = check ? 1.0f : 0.55f + 0.3f * v;
            for (int disc = 0; disc < 3; ++disc) {
                const float cx = 0.25f + 0.25f * disc, cy = 0.5f;
                const float dx = (u - cx) * kWidth / kHeight, dy = v - cy;
                if (dx * dx + dy * dy < 0.012f) r = g = b = disc == 1 ? 1.0f : 0.1f;
            }
            SetChannel(&w, x, y, 0, 1.0f);
            SetChannel(&w, x, y, 1, r * shade);
            SetChannel(&w, x, y, 2, g * shade);
            SetChannel(&w, x, y, 3, b * shade);
        }
    }
    return w;
}

// Soft ripples around the centre: the map's luminance drives the displacement.
World SampleMap() {
    World w = MakeWorld(kWidth, kHeight, 8);
    for (A_long y = 0; y < kHeight; ++y) {
        for (A_long x = 0; x < kWidth; ++x) {
            const float dx = float(x - kWidth / 2) / kHeight, dy = float(y - kHeight / 2) / kHeight;
            const float grey = 0.5f + 0.5f * std::sin(18.0f * std::sqrt(dx * dx + dy * dy));
            SetChannel(&w, x, y, 0, 1.0f);
            for (int c = 1; c < 4; ++c) SetChannel(&w, x, y, c, grey);
        }
    }
    return w;
}

const char* const kDemoSettings[] = {
    "Channel=Luminance", "Translate X=3",  "Translate Y=-2",
    "Rotate=6",          "Map Softness=4", "Edge Behavior=Mirror Repeat",
};

int Edit(Instance* instance, const std::vector<std::string>& texts) {
    std::vector<SetRequest> requests;
    std::string error;
    for (const std::string& text : texts) {
        SetRequest r;
        if (!ParseSetRequest(text, &r, &error)) return Complain(1, "demo: " + error);
        requests.push_back(r);
    }
    if (const int code = ApplySetRequests(instance, requests, &error)) {
        return Complain(code, "demo: " + error);
    }
    return 0;
}

int RenderTo(Instance* instance, const World& image, const World& map, const std::string& path) {
    World output;
    std::vector<std::string> problems;
    std::string shown;
    FrameOptions options;
    options.message = &shown;
    const PF_Err err =
        RenderFrame(instance, FrameLayers{&image, &map}, options, &output, &problems);
    if (err) {
        return Complain(1, "demo: render failed with host error " + std::to_string(err) +
                               (shown.empty() ? "" : " (" + shown + ")"));
    }
    if (!problems.empty()) return Complain(1, "demo: " + problems.front());
    std::string error;
    if (!WriteImage(path, output, &error)) return Complain(1, error);
    std::printf("wrote %s\n", path.c_str());
    return 0;
}

}  // namespace

int RunDemo(const Args& args) {
    std::string module = DefaultModulePath(), dir = ".";
    CliCommand command;
    command.name = "demo";
    command.usage = "usage: vexorant demo [--output-dir DIR] [--module PATH]\n";
    command.details =
        "\n"
        "Renders a built-in sample through the effect to DIR/vexorant-demo.png, and its map\n"
        "view to DIR/vexorant-demo-map.png (DIR: the current folder unless given).\n";
    command.options = {
        {"--output-dir", true, false,
         [&dir](const std::string& value, std::string*) { return dir = value, true; }},
        {"--module", true, false,
         [&module](const std::string& value, std::string*) { return module = value, true; }},
    };
    int code = 0;
    if (!ParseCommandLine(command, args, &code)) return code;
    const std::string result = dir + "/vexorant-demo.png",
                      map_view = dir + "/vexorant-demo-map.png";
    std::string error;
    for (const std::string& path : {result, map_view}) {
        if (!CanWriteImage(path, &error)) return Complain(1, error);
        if (SameFile(path, ModuleFilePath(module))) {
            return Complain(1, "cannot write " + path + ": it is the effect module");
        }
    }

    Session session;
    if (!OpenSession(module, &session, &error)) return Complain(1, error);
    std::string about;
    if (const PF_Err err = SendAbout(session.effect, &about)) {
        code = Complain(1, "about failed with host error " + std::to_string(err));
    }
    std::printf("%s\n", about.c_str());
    if (!code) {
        Instance instance(&session.effect);
        const World image = SampleImage(), map = SampleMap();
        const std::vector<std::string> settings(std::begin(kDemoSettings), std::end(kDemoSettings));
        if (const PF_Err err = SetupInstance(&instance)) {
            code = Complain(1, "parameter setup failed with host error " + std::to_string(err));
        }
        if (!code) code = Edit(&instance, settings);
        if (!code) code = RenderTo(&instance, image, map, result);
        if (!code) code = Edit(&instance, {"View=Map"});
        if (!code) code = RenderTo(&instance, image, map, map_view);
        for (const std::string& p : InstanceProblems(instance)) code = Complain(1, p);
    }
    for (const std::string& p : CloseSession(&session)) code = Complain(1, p);
    return code;
}

}  // namespace vexo_host
