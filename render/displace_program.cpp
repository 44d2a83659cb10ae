#include "render/displace_program.h"

#include "context/displace_variants.h"

uint32_t DisplaceProgram(const GLPrograms& programs, const UniformMap& uniforms) {
    LocalGLStruct* record = local_render_data.get();
    // Programs of some other set (a test's, the global record's) have no variants beside them.
    if (!record || !record->context || &record->programs != &programs) {
        return programs.displaceProgram;
    }
    return DisplaceProgramFor(&record->displaceVariants, uniforms, programs.displaceProgram);
}
