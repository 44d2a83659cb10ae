// A host with the effect set up and one instance, rendering frames through the real commands
// on llvmpipe.
#pragma once
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "params/param_table.h"
#include "standalone/instance.h"
#include "standalone/render_host.h"
#include "standalone/world.h"
#include "tests/support/effect_test_support.h"

class RenderTest : public HostTest {
  protected:
    void SetUp() override;
    void TearDown() override;

    // A user edit in the stream's units (percent, degrees, popup entry, 0/1).
    void Set(PF_ParamIndex index, double value);
    // A fresh instance: every control back at its default.
    void ResetControls();

    // Renders one frame into the output the host makes from the pre-render's answer; fails the
    // test when the host found a fault. An `output` that already holds pixels is handed to the
    // effect as it is instead (poisoned, or of another size).
    PF_Err Render(const vexo_host::World& input, const vexo_host::World* map,
                  vexo_host::World* output, vexo_host::FrameOptions options = {});
    vexo_host::World Render(const vexo_host::World& input, const vexo_host::World* map = nullptr,
                            vexo_host::FrameOptions options = {});

    std::unique_ptr<vexo_host::Instance> instance_;
};

// A world filled by `pixel(x, y, argb)`.
vexo_host::World Fill(A_long width, A_long height, int depth,
                      const std::function<void(A_long x, A_long y, float argb[4])>& pixel);
// Largest difference of any channel of any pixel; worlds of different sizes differ by infinity.
float MaxDifference(const vexo_host::World& a, const vexo_host::World& b);
// The share of pixels with any channel different.
double ShareDiffering(const vexo_host::World& a, const vexo_host::World& b);
