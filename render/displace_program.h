// Which program draws a frame's displacement.
#pragma once
#include <cstdint>

#include "context/render_data.h"
#include "gl/binding.h"

// Starts a frame drawn with `programs`: its tiles and keys count as one frame of the variants'.
void BeginDisplaceFrame(const GLPrograms& programs);

// The calling thread's variant for the displacement uniforms in `uniforms` when `programs` are
// that thread's record's own, else (and whenever the variant cannot be had) the general program.
uint32_t DisplaceProgram(const GLPrograms& programs, const UniformMap& uniforms);

// The blur programs (horizontal, vertical) for `wrap` and a kernel of `pairs` pairs: made for
// the kernel's length (PixelKernelPrograms in context/displace_variants.h) where they are to be
// had, the calling thread's own when `programs` are its record's, else made in `spare` (which the
// caller deletes); else, under Repeat and Mirror Repeat, the ones that read texels one by one
// where a kernel crosses the frame's edge, and the set's own for every other edge mode and
// wherever those do not build.
void BlurPrograms(const GLPrograms& programs, int32_t wrap, int pairs, DisplaceVariants* spare,
                  uint32_t out[2]);

// The program that takes the map's cells of `side` pixels with a filter of `taps` pixels, for the
// edge mode `wrap`: the calling thread's own when `programs` are its record's, else made in
// `spare` (which the caller deletes); 0 where there is none.
uint32_t SoftnessCellsProgram(const GLPrograms& programs, int side, int taps, int32_t wrap,
                              DisplaceVariants* spare);

// The stages of the softness blurred four pixels a texel: the calling thread's own when
// `programs` are its record's, else made in `spare` (which the caller deletes). Whether all built.
bool PackedBlurPrograms(const GLPrograms& programs, DisplaceVariants* spare, uint32_t out[4]);
// Their across and down stages for a kernel's lengths, kept as the stages are (PackedKernelPrograms
// in context/displace_variants.h): `out` holds `general`'s where they are not to be had.
void PackedKernelPrograms(const GLPrograms& programs, int across, int pairs, int shift,
                          const uint32_t general[2], DisplaceVariants* spare, uint32_t out[2]);
