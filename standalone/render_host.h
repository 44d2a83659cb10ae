// The host's side of one frame: smart pre-render, then smart render, with the layer and output
// checkouts the effect asks for. Frames may render on several threads at once.
#pragma once
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
    A_long time = 0;
};

// Renders one frame into `output`, which the caller makes at the input's size and depth. The
// host checks what a real host checks afterwards (every parameter and layer checkout given back)
// and adds what it found to `problems`. Returns the first error of the two commands.
PF_Err RenderFrame(Instance* instance, const FrameLayers& layers, const FrameOptions& options,
                   World* output, std::vector<std::string>* problems);

}  // namespace vexo_host
