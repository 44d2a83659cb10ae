// Rendering on the GPU: OpenGL textures through the suite below, and CUDA, Metal and OpenCL
// through the streams, queues and images the host passes on the render actions.
#ifndef VEXO_OFX_GPURENDER_H
#define VEXO_OFX_GPURENDER_H

#include "ofxImageEffect.h"

#ifdef __cplusplus
extern "C" {
#endif

// The *RenderSupported properties are strings, "false", "true" or "needed" (the CPU one only
// "false" or "true"); the *Enabled ones on the render actions' inArgs are ints, 0 or 1.

// The suite's name is not its macro's name.
#define kOfxOpenGLRenderSuite "OfxImageEffectOpenGLRenderSuite"
#define kOfxImageEffectPropOpenGLRenderSupported "OfxImageEffectPropOpenGLRenderSupported"
#define kOfxOpenGLPropPixelDepth "OfxOpenGLPropPixelDepth"
#define kOfxImageEffectPropOpenGLEnabled "OfxImageEffectPropOpenGLEnabled"
#define kOfxImageEffectPropOpenGLTextureIndex "OfxImageEffectPropOpenGLTextureIndex"
#define kOfxImageEffectPropOpenGLTextureTarget "OfxImageEffectPropOpenGLTextureTarget"
#define kOfxImageEffectPropCPURenderSupported "OfxImageEffectPropCPURenderSupported"

// The GL names are the older aliases of the GPU codes.
#define kOfxStatGPUOutOfMemory 1001
#define kOfxStatGLOutOfMemory kOfxStatGPUOutOfMemory
#define kOfxStatGPURenderFailed 1002
#define kOfxStatGLRenderFailed kOfxStatGPURenderFailed

#define kOfxActionOpenGLContextAttached "OfxActionOpenGLContextAttached"
// The string keeps the "k" of the macro, unlike its Attached twin.
#define kOfxActionOpenGLContextDetached "kOfxActionOpenGLContextDetached"

// A texture comes back as a property set (kOfxImageEffectPropOpenGLTextureIndex and Target, plus
// the image properties) and is given back with clipFreeTexture.
typedef struct OfxImageEffectOpenGLRenderSuiteV1 {
    OfxStatus (*clipLoadTexture)(OfxImageClipHandle clip, OfxTime time, const char* format,
                                 const OfxRectD* region, OfxPropertySetHandle* textureHandle);
    OfxStatus (*clipFreeTexture)(OfxPropertySetHandle textureHandle);
    // Declared with "()" elsewhere: C++ reads that as (void), and C callers pass nothing either.
    OfxStatus (*flushResources)(void);
} OfxImageEffectOpenGLRenderSuiteV1;

#define kOfxImageEffectPropCudaRenderSupported "OfxImageEffectPropCudaRenderSupported"
#define kOfxImageEffectPropCudaEnabled "OfxImageEffectPropCudaEnabled"
#define kOfxImageEffectPropCudaStreamSupported "OfxImageEffectPropCudaStreamSupported"
#define kOfxImageEffectPropCudaStream "OfxImageEffectPropCudaStream"  // pointer

#define kOfxImageEffectPropMetalRenderSupported "OfxImageEffectPropMetalRenderSupported"
#define kOfxImageEffectPropMetalEnabled "OfxImageEffectPropMetalEnabled"
#define kOfxImageEffectPropMetalCommandQueue "OfxImageEffectPropMetalCommandQueue"  // pointer

#define kOfxImageEffectPropOpenCLRenderSupported "OfxImageEffectPropOpenCLRenderSupported"
#define kOfxImageEffectPropOpenCLSupported "OfxImageEffectPropOpenCLSupported"
#define kOfxImageEffectPropOpenCLEnabled "OfxImageEffectPropOpenCLEnabled"
#define kOfxImageEffectPropOpenCLCommandQueue "OfxImageEffectPropOpenCLCommandQueue"  // pointer
#define kOfxImageEffectPropOpenCLImage "OfxImageEffectPropOpenCLImage"                // pointer

#define kOfxOpenCLProgramSuite "OfxOpenCLProgramSuite"

typedef struct OfxOpenCLProgramSuiteV1 {
    OfxStatus (*compileProgram)(const char* pszProgramSource, int fOptional, void* pResult);
} OfxOpenCLProgramSuiteV1;

#ifdef __cplusplus
}
#endif

#endif
