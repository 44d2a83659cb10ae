// The GPU work of one frame: upload, map placement, softness, displacement, readback.
#pragma once
#include <initializer_list>

#include "AE_Effect.h"
#include "context/render_data.h"
#include "gl/kept_targets.h"
#include "render/render_settings.h"

// Test seam: the samples a supersampled draw may take (0 restores the module's own bound), so
// that small frames draw in tiles.
void SetSamplesPerDrawForTesting(uint64_t samples);

// Test seam: whether a softness on the frame's grid over a map of one value a pixel blurs four
// pixels a texel (the module's way) or a pixel a texel, as a map of colours does.
void SetPackedSoftnessForTesting(bool on);

// The softness kernel of `radius` pixels (above 0.1, at most 100) for the blur `programs`, on the
// frame's grid or on `cells` of that many pixels a side (SoftnessCells): taps at most a texel
// apart, each split by linear filtering between the two texels around it, as one weight per texel,
// read in pairs by one filtered fetch placed (to 1/512 of a texel) by their weights; and the
// weights that placing gives each texel, for texels read one by one. Set on each program, as arrays
// the uniform map does not carry; the map gets the entries that say so to the draw.
void SetBlurKernel(std::initializer_list<uint32_t> programs, double radius, UniformMap* uniforms,
                   int cells = 1);

// The filter that takes the map's cells of `side` pixels (2 or 4) from the frame's pixels, for the
// cells' `program`: set on it as arrays the uniform map does not carry, the map getting the
// entries that say so to the draw.
void SetCellFilter(uint32_t program, int side, UniformMap* uniforms);

// Runs every pass with the calling thread's programs; its context must be current and
// globalMutex held. The passes draw only what the output buffer shows and what it reads: the map
// around it, and, supersampled, tiles of samples within a fixed memory budget. Takes its
// targets from `kept` where the thread's last frame left them, and leaves its own there (within
// the budget); deletes every other GL object it made before returning. A null `kept` keeps
// nothing. Fails only when a render target cannot be made or GL ran out of memory, reporting
// through the message sink; the output then holds no picture, and nothing is kept.
PF_Err RenderPasses(myParams* params, const GLPrograms& programs, KeptTargets* kept,
                    PF_OutData* out_data);

// An 8-bit frame whose settings copy the input (CopiesInput), where the passes would draw the
// input byte for byte: when the input holds all the output shows of the frame, copied on the
// calling thread without GL (the rest of the output left as it is). Whether it was.
bool CopyInputFrame(const myParams& params);
