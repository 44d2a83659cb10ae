// Displacement programs made for one frame's settings. The general displacement program branches
// on a dozen uniforms for every pixel; a software rasteriser pays for each branch, its sines and
// powers. A variant is the same shader text with the settings a frame holds constant defined, so
// the compiler drops what they decide. Each thread's record keeps a few, made on first use.
#pragma once
#include <cstdint>
#include <string>

#include "gl/binding.h"

// Enough for a session that moves between a handful of looks, at either depth (a 2x look reads
// an 8-bit input as bytes, by a program of its own); the least recently used goes.
constexpr int kMaxDisplaceVariants = 12;
// With every slot taken, a new look replaces one at most once in this many frames. More looks
// than slots, drawn in turn, would otherwise miss and build on every frame. On a GPU a link costs
// tens to hundreds of milliseconds and the general program's branches, the same for every pixel
// of a draw, should cost little: a variant that serves a few frames and is replaced costs more
// than it saves. A direct look that waits is drawn by the general program with a pixel's one
// sample compiled in, built once: on llvmpipe the general program's loop over a pixel's samples
// runs their supersampled reads on every pixel, about 950 ms a 1080p direct frame against 137
// without it (a variant's build and first draw: 70 to 130 ms). A supersampled look is always
// drawn by its own variant: the general program loops over a pixel's samples where the variant
// writes them out, the two compile to arithmetic that rounds apart here and there, and a region
// drawn by one must hold the bytes of the whole frame drawn by the other.
constexpr uint32_t kFramesPerReplacedVariant = 16;
// Kernel lengths the softness keeps programs for (packed or a pixel a texel), replaced as the
// variants are.
constexpr int kMaxPackedKernels = 4;

// Plain data, zero-filled with the record that holds it; a key of 0 marks a free slot.
struct DisplaceVariants {
    uint32_t keys[kMaxDisplaceVariants];
    // 0 where the variant did not build: the general program draws for that key.
    uint32_t programs[kMaxDisplaceVariants];
    uint32_t lastUse[kMaxDisplaceVariants];
    // The general program with a pixel's one sample compiled in, for the direct looks that wait
    // for a slot; 0 until first needed, and for good where it did not build.
    uint32_t generalDirect;
    bool generalDirectTried;
    uint32_t clock;      // one tick a frame, however many tiles and keys it draws
    uint32_t lastBuild;  // the tick of the latest build
    // The horizontal and vertical blur programs that read texels one by one where a kernel
    // crosses the frame's edge, for the repeating edge modes: 0 until first used.
    uint32_t blurByTexel[2];
    // The programs that take the map's cells for a softness blurred on a coarser grid, for cells
    // of 2 and of 4 pixels, each reading pixels filtered in pairs or (for the repeating edge
    // modes) one by one: 0 until first used.
    uint32_t blurCells[4];
    // The four stages of the softness blurred four pixels a texel (pack, across, down, unpack):
    // 0 until first used.
    uint32_t blurPacked[4];
    // The blur's two stages made for one kernel each (PackedKernelPrograms,
    // PixelKernelPrograms), keyed like the variants: 0 where they did not build.
    uint32_t kernelKeys[kMaxPackedKernels];
    uint32_t kernelPrograms[kMaxPackedKernels][2];
    uint32_t kernelLastUse[kMaxPackedKernels];
    uint32_t kernelLastBuild;
};

// The programs a record keeps beside its general ones, at most: the variants, the direct
// fallback and the blur's.
constexpr int kMaxKeptPrograms =
    int(sizeof(DisplaceVariants::programs) + sizeof(DisplaceVariants::generalDirect) +
        sizeof(DisplaceVariants::blurByTexel) + sizeof(DisplaceVariants::blurCells) +
        sizeof(DisplaceVariants::blurPacked) + sizeof(DisplaceVariants::kernelPrograms)) /
    int(sizeof(uint32_t));

// What the uniforms the general program would get hold constant for a whole frame: map source,
// whether the channel is hue or saturation, easing, gamma of 1, no rotation, scale of 100 %,
// chromatic aberration and view, how the map is read (its own target, the map layer itself,
// cells, or four pixels a texel) and whether the input is held as bytes, each reduced to the cases
// the shader tells apart. Never 0. The first frame of each new key pays the driver's code
// generation for the new program, on llvmpipe several steady frames' time: which channel, and the
// inversion, which cost a program no measurable time as uniforms, stay out of it. No rotation stays
// in: a rotation of 0 as a uniform costs an unrotated 1080p frame about 5 ms on llvmpipe.
uint32_t DisplaceVariantKey(const UniformMap& uniforms);

// `text` (a displacement fragment text with its version line first) with the key's settings
// defined after that line.
std::string DisplaceVariantSource(uint32_t key, const char* text);

// Starts a frame: the bound on replacements counts frames, not the draws within one.
void BeginVariantFrame(DisplaceVariants* variants);

// The program that draws `uniforms` as `general` does: the variant for their settings, linked in
// the current context on first use, or `general` itself when the variant does not build (that
// key is then not tried again) or when `general` is 0. A direct look that finds every slot taken
// and the last build less than kFramesPerReplacedVariant frames old is drawn by the record's
// direct fallback (`general` where that did not build). `text` is the fragment text to
// specialise.
uint32_t DisplaceProgramFor(DisplaceVariants* variants, const UniformMap& uniforms,
                            uint32_t general, const char* text);
uint32_t DisplaceProgramFor(DisplaceVariants* variants, const UniformMap& uniforms,
                            uint32_t general);

// The blur programs for the repeating edge modes (horizontal, vertical), linked in the current
// context on first use and kept with the variants; 0 in `programs` where one does not build.
void BlurByTexelPrograms(DisplaceVariants* variants, uint32_t programs[2]);

// The program that takes the map's cells of `side` pixels (2 or 4) with a filter of `taps` pixels
// along an axis, for the repeating edge modes when `by_texel`, linked in the current context on
// first use and kept with the variants; 0 for any other side and where it does not build.
uint32_t SoftnessCellsProgram(DisplaceVariants* variants, int side, int taps, bool by_texel);

// The stages of the softness blurred four pixels a texel, linked in the current context on first
// use and kept with the variants. Whether all four built.
bool PackedBlurPrograms(DisplaceVariants* variants, uint32_t programs[4]);

// The across and down stages of the softness blurred four pixels a texel for a kernel of `pairs`
// pairs of taps that spans `across` packed texels from `shift` pixels into the first, linked in
// the current context on first use: the sums across written out and the pairs down counted when
// compiled, which llvmpipe draws in about 60 % and 85 % of the general stages' time. 0 in
// `programs` where they did not build, and while every slot is taken and the last build is less
// than kFramesPerReplacedVariant frames old (a dragged slider would build on every frame): the
// general stages then draw, to the same bytes.
void PackedKernelPrograms(DisplaceVariants* variants, int across, int pairs, int shift,
                          uint32_t programs[2]);

// The horizontal and vertical blur a pixel a texel (reading texel by texel across the frame's edge
// when `by_texel`) for a kernel of `pairs` pairs of taps, the pairs counted when compiled, which
// llvmpipe draws in about 80 % of the general programs' time; kept and throttled as
// PackedKernelPrograms' stages, in the same slots, and 0 in `programs` where they are not to be
// had: the general programs then draw, to the same bytes.
void PixelKernelPrograms(DisplaceVariants* variants, int pairs, bool by_texel,
                         uint32_t programs[2]);

// Slots holding a key, built or not.
int CountDisplaceVariants(const DisplaceVariants& variants);

// Needs the owning context current. Deletes every variant and frees every slot.
void DeleteDisplaceVariants(DisplaceVariants* variants);
