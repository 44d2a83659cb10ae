// Render targets a thread keeps from one frame for its next. A host's process hands fresh memory
// to every frame's storage, and faulting it in and clearing it costs a quarter of a frame on a
// software rasteriser, and an allocation on any GPU; a frame of the size before takes the same
// targets again. At most one frame's targets are kept by a thread, and no more than
// kKeptTargetBudget bytes by all threads together (a host rendering on sixteen threads would
// otherwise hold sixteen frames' targets while idle): what a frame does not take again goes as
// soon as it makes a target of its own, and all of it when a frame fails or the thread's record
// goes. When the driver runs short, every thread drops what it keeps at its next frame.
#pragma once
#include <cstdint>

#include "gl/fbo.h"

constexpr int kMaxKeptTargets = 8;
constexpr uint64_t kKeptTargetBudget = uint64_t(512) << 20;

// Plain data, zero-filled with the record that holds it; a slot without a texture is free.
struct KeptTargets {
    PX_FBO targets[kMaxKeptTargets];   // fbo 0 with a texture: a texture alone (an upload)
    uint32_t frames[kMaxKeptTargets];  // the frame that gave it back
    uint32_t frame;                    // the frame rendering now
    uint32_t drops;                    // the process's drops this record has made
};

// Starts a frame: what it gives back is stamped as its own. Deletes everything kept where the
// driver has run short since the last frame. Needs the owning context current.
void BeginKeptFrame(KeptTargets* kept);
// The driver ran short: every thread drops its kept targets at its next frame.
void DropKeptTargetsEverywhere();
// Takes a kept target of exactly this size, format and texture target, with a framebuffer or
// without, into `target`. Its pixels are the last frame's: a pass that reads it must draw it
// first.
bool TakeKeptTarget(KeptTargets* kept, uint32_t width, uint32_t height, int32_t internalFormat,
                    bool framebuffer, PX_FBO* target, uint32_t texture_target = GL_TEXTURE_2D);
// Deletes what earlier frames left and this one has not taken.
void ReleaseStaleTargets(KeptTargets* kept);
// Keeps `target` for a later take, or deletes it where the budget or the slots do not allow;
// `target` is empty afterwards. Needs the owning context current.
void KeepTarget(KeptTargets* kept, PX_FBO* target);
// Deletes every kept target. Needs the owning context current; a null argument does nothing.
void DeleteKeptTargets(KeptTargets* kept);
// Frees the slots of targets that went with their context, which could not be made current to
// delete them, and takes them out of the process's count.
void ForgetKeptTargets(KeptTargets* kept);

// GL objects (textures and framebuffers) held, among the names up to `max_name`, and bytes held:
// for the tests that count objects by probing names.
int KeptGLObjects(const KeptTargets& kept, uint32_t max_name = UINT32_MAX);
uint64_t KeptBytes(const KeptTargets& kept);
// Bytes kept by every thread of the process.
uint64_t KeptBytesEverywhere();
// Test seam: the process's budget; 0 restores kKeptTargetBudget.
void SetKeptTargetBudgetForTesting(uint64_t bytes);
