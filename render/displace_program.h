// Which program draws a frame's displacement.
#pragma once
#include <cstdint>

#include "context/render_data.h"
#include "gl/binding.h"

// The calling thread's variant for the displacement uniforms in `uniforms` when `programs` are
// that thread's record's own, else (and whenever the variant cannot be had) the general program.
uint32_t DisplaceProgram(const GLPrograms& programs, const UniformMap& uniforms);
