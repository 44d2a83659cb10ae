#include "render/displace_program.h"

#include <GL/glew.h>

#include <algorithm>

#include "context/displace_variants.h"

namespace {

// The calling thread's variants when `programs` are its record's: programs of some other set (a
// test's, the global record's) have none beside them.
DisplaceVariants* VariantsBeside(const GLPrograms& programs) {
    LocalGLStruct* record = local_render_data.get();
    if (!record || !record->context || &record->programs != &programs) return nullptr;
    return &record->displaceVariants;
}

// Where the blur's helper programs are kept: beside the thread's variants, else in `spare`.
DisplaceVariants* HelperKeeper(const GLPrograms& programs, DisplaceVariants* spare) {
    DisplaceVariants* variants = VariantsBeside(programs);
    return variants ? variants : spare;
}

}  // namespace

void BeginDisplaceFrame(const GLPrograms& programs) { BeginVariantFrame(VariantsBeside(programs)); }

uint32_t DisplaceProgram(const GLPrograms& programs, const UniformMap& uniforms) {
    DisplaceVariants* variants = VariantsBeside(programs);
    if (!variants) return programs.displaceProgram;
    return DisplaceProgramFor(variants, uniforms, programs.displaceProgram);
}

void BlurPrograms(const GLPrograms& programs, int32_t wrap, int pairs, DisplaceVariants* spare,
                  uint32_t out[2]) {
    DisplaceVariants* keeper = HelperKeeper(programs, spare);
    const bool repeats = wrap == GL_REPEAT || wrap == GL_MIRRORED_REPEAT;
    PixelKernelPrograms(keeper, pairs, repeats, out);
    if (out[0]) return;
    out[0] = programs.blurWProgram;
    out[1] = programs.blurHProgram;
    if (!repeats) return;
    uint32_t by_texel[2] = {};
    BlurByTexelPrograms(keeper, by_texel);
    if (by_texel[0] && by_texel[1]) {
        out[0] = by_texel[0];
        out[1] = by_texel[1];
    }
}

bool PackedBlurPrograms(const GLPrograms& programs, DisplaceVariants* spare, uint32_t out[4]) {
    return PackedBlurPrograms(HelperKeeper(programs, spare), out);
}

void PackedKernelPrograms(const GLPrograms& programs, int across, int pairs, int shift,
                          const uint32_t general[2], DisplaceVariants* spare, uint32_t out[2]) {
    PackedKernelPrograms(HelperKeeper(programs, spare), across, pairs, shift, out);
    if (!out[0]) std::copy(general, general + 2, out);
}

uint32_t SoftnessCellsProgram(const GLPrograms& programs, int side, int taps, int32_t wrap,
                              DisplaceVariants* spare) {
    return SoftnessCellsProgram(HelperKeeper(programs, spare), side, taps,
                                wrap == GL_REPEAT || wrap == GL_MIRRORED_REPEAT);
}
