// Where a frame's time goes, measured from outside the module: the benchmark executable
// interposes the GL calls that bound the frame's stages (uploads, target allocation and clears,
// draws, the wait, the readback) and times them while a frame is armed. The module file is the
// one a host loads; disarmed, every hook passes straight through.
//
// Interposition works because the module resolves its GL 1.x entry points dynamically (the
// executable's exported definitions come first in the lookup) and reaches later ones through
// GLEW's process-wide pointers, which InstallDrawHooks() swaps for timed ones.
#pragma once
#include <cstdint>
#include <string>

namespace vexo_bench {

enum Stage {
    kUploadInput,
    kUploadMap,
    kAlloc,  // texture storage
    kClear,  // new targets cleared to transparent black
    kInputPass,
    kMapPass,
    kBlurH,
    kBlurV,
    kUpsample,
    kDisplace,
    kReduce,
    kOtherDraw,  // a draw none of the above matches
    kWait,       // the module's own glFinish before the readback
    kReadback,
    kFree,   // texture and framebuffer deletion
    kBuild,  // shader compiles and program links
    kStageCount
};

const char* StageName(Stage stage);

enum class Timing {
    kAuto,   // timer queries where the driver times draws with them (not software rasterizers)
    kQuery,  // GL_TIME_ELAPSED around each draw and clear; transfers by CPU wall time
    kWall,   // glFinish before and after every stage, wall time in between
};

struct FrameTimes {
    double ms[kStageCount] = {};
    Timing timing = Timing::kWall;  // what was used: never kAuto
    bool read_back = false;         // the frame reached its readback
};

// Swaps GLEW's draw pointers for the timed ones; needs the entry points loaded (after global
// setup). Uninstall restores them.
void InstallDrawHooks();
void UninstallDrawHooks();

// Arms the calling thread's next frame. Hooked calls on other threads pass through.
void BeginFrame(Timing timing);
// Disarms and returns what the frame's hooked calls took.
FrameTimes EndFrame();

// Whether GL_TIME_ELAPSED counts on the current driver; known after the first armed frame.
bool TimerQueriesKnown();
bool TimerQueriesAvailable();
// GL_RENDERER of the context that rendered the last armed frame.
std::string RendererName();

// The most texture storage the process held, armed or not, since the last
// ResetPeakTextureBytes() (which starts from what it holds then).
uint64_t PeakTextureBytes();
void ResetPeakTextureBytes();

}  // namespace vexo_bench
