// The effect's shader texts, embedded from render/shaders/ by the build. They are a layer of
// their own, below the context that links them into programs and the render that draws with them.
#pragma once

// Vertex stages: `vert` places the quad through the `xform` matrix, `vertIdentity` passes it on.
extern const char* const vert;
extern const char* const vertIdentity;

// Fragment stages.
extern const char* const swizzleIn;   // host channel order in, red-green-blue-alpha out
extern const char* const displace;    // the displacement itself
extern const char* const blurW;       // horizontal map blur
extern const char* const blurH;       // vertical map blur
extern const char* const blurCells;   // the map's cells, for a blur on a coarser grid
extern const char* const blurPacked;  // the map blur four pixels a texel
extern const char* const bicubic;     // upsampling before supersampled displacement
extern const char* const oversample;  // reduction of the supersampled result
