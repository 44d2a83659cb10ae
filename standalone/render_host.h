// The host's side of one frame: smart pre-render, then smart render, with the layer and output
// checkouts the effect asks for. Frames may render on several threads at once.
#pragma once
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "standalone/instance.h"
#include "standalone/world.h"

namespace vexo_host {

struct FrameLayers {
    const World* input = nullptr;  // the layer the effect is applied to
    const World* map = nullptr;    // the layer "Map Layer" names; null for none
};

struct FrameOptions {
    int depth = 8;
    PF_RationalScale downsample = {1, 1};
    A_long time = 0;  // in the instance's time scale: frame N at N * time_step
    // The part of the layer asked for, as a viewer or a render farm's tile asks; the whole layer
    // when absent.
    std::optional<PF_LRect> region;
    // The buffer handed to the effect as its output instead of the one the host makes from the
    // pre-render's answer, even for an empty result: a host's own frame (the frei0r modules'),
    // or a test's (poisoned, padded, or of another size). May be `output` itself, which is then
    // never copied and may point at pixels it does not own.
    World* given_output = nullptr;
    // Reads the input (or the map) as it is at another frame than the one rendered, for a
    // checkout at another time; false, with `error` set, when there is none. Without it the
    // frame's layers stand for every time.
    std::function<bool(bool map, A_long frame, World* layer, std::string* error)> layer_at;
    // Receives the text the effect asks the host to show the user (why the frame failed), if any.
    std::string* message = nullptr;
    // Receives each layer checkout of the pre-render: the parameter and the rectangle handed out.
    std::vector<std::pair<PF_ParamIndex, PF_LRect>>* checkouts = nullptr;
};

// Renders one frame. The host asks for the region (the input's whole rectangle by default) and
// hands each layer checkout the pixels of its result rectangle, the request clipped to the
// layer, whose bounds it reports as the maximum. It checks the pre-render's answer (the
// checkouts it made, the rectangles it reports), then makes `output` the size of the reported
// result rectangle, placed at its corner, and sends the render. An empty result is no render:
// `output` stays empty. Afterwards every parameter and layer checkout must have been given back.
// Faults of the effect are added to `problems`; a wrong pre-render answer fails the frame with
// PF_Err_INTERNAL_STRUCT_DAMAGED. Returns the first error.
// What the module declared at global setup decides how: a module without smart render gets
// frame setup, render and frame setdown instead; one without float colour (or smart render)
// renders a 32-bit frame at 8 bits, converted both ways; one without threaded rendering renders
// one frame at a time, whatever the number of threads asking.
PF_Err RenderFrame(Instance* instance, const FrameLayers& layers, const FrameOptions& options,
                   World* output, std::vector<std::string>* problems);

// The instance whose frame this thread is rendering, or null.
Instance* InstanceRenderingOnThisThread();

}  // namespace vexo_host
