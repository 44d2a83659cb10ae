#include "gl/fbo.h"

#include <atomic>
#include <cstdio>
#include <limits>

#include "gl/diagnostics.h"

namespace {

std::atomic<bool> g_poison_new_targets{false};

// Bytes per pixel of a host image, or 0 for a depth the transfers do not handle.
int BytesPerPixel(int depth) {
    switch (depth) {
        case 8:
            return 4;
        case 32:
            return 16;
        default:
            return 0;
    }
}

GLenum ComponentType(int depth) { return depth == 32 ? GL_FLOAT : GL_UNSIGNED_BYTE; }

bool IsIntegerFormat(int32_t internalFormat) {
    return internalFormat == GL_RGBA32I || internalFormat == GL_RGBA32UI;
}

// Checks what GL cannot check for us: the host memory the transfer walks. A refused image is
// reported and must not reach GL. `what` names the routine in the report.
bool HostImageUsable(const char* what, const PF_LayerDef* image, int depth) {
    const int bpp = BytesPerPixel(depth);
    if (bpp == 0) {
        Diagnostic("VEXO: %s called with unsupported bit depth %d\n", what, depth);
        return false;
    }
    // Shorter (or negative, bottom-up) rows would make GL walk past the host's buffer.
    if (image->width > 0 &&
        static_cast<int64_t>(image->rowbytes) < static_cast<int64_t>(image->width) * bpp) {
        Diagnostic("VEXO: %s called with rowbytes %d too small for width %d\n", what,
                   image->rowbytes, image->width);
        return false;
    }
    return true;
}

// Clears the bound draw framebuffer's colour to transparent black. Integer storage cannot be
// cleared through the float clear colour, so it gets an integer clear of its own.
void ClearBoundTarget(int32_t internalFormat) {
    glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);
    glClearColor(0.0f, 0.0f, 0.0f, 0.0f);
    if (IsIntegerFormat(internalFormat)) {
        const GLint zeros[4] = {0, 0, 0, 0};
        glClearBufferiv(GL_COLOR, 0, zeros);
    } else {
        glClear(GL_COLOR_BUFFER_BIT);
    }
}

// Fills a new colour texture with what no pass writes. A clear through a framebuffer of its own
// would do on any driver, but llvmpipe then keeps some memory per texture, which the soak sees.
void PoisonTexture(GLuint texture, int32_t internalFormat) {
    if (!glClearTexImage) {
        static std::atomic<bool> told{false};
        if (!told.exchange(true)) {
            Diagnostic("VEXO: poisoned targets need glClearTexImage; not poisoned\n");
        }
        return;
    }
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const GLfloat floats[4] = {nan, nan, nan, nan};
    const GLfloat bytes[4] = {0.2f, 0.9f, 0.4f, 0.6f};  // NaN would clear bytes to 0
    glClearTexImage(texture, 0, GL_RGBA, GL_FLOAT, internalFormat == GL_RGBA8 ? bytes : floats);
}

}  // namespace

namespace FBOHelper {

void PoisonNewTargetsForTesting(bool on) { g_poison_new_targets = on; }

void PoisonTakenTargetForTesting(const GLRenderBuffer& storage) {
    if (g_poison_new_targets && storage.isTexture && storage.id != 0 &&
        (storage.internalFormat == GL_RGBA8 || storage.internalFormat == GL_RGBA32F ||
         storage.internalFormat == GL_R32F))
        PoisonTexture(storage.id, storage.internalFormat);
}

int32_t SamplerWrap(uint32_t target, int32_t wrap) {
    const bool repeats = wrap == GL_REPEAT || wrap == GL_MIRRORED_REPEAT;
    return target == GL_TEXTURE_RECTANGLE && repeats ? GL_CLAMP_TO_EDGE : wrap;
}

GLRenderBuffer CreateTextureRenderBuffer(uint32_t width, uint32_t height, int32_t internalFormat,
                                         int32_t wrap, uint32_t target) {
    wrap = SamplerWrap(target, wrap);
    GLenum format = GL_RGBA;
    GLenum type = GL_FLOAT;
    GLint filter = GL_LINEAR;
    switch (internalFormat) {
        case GL_DEPTH_COMPONENT32F:
            format = GL_DEPTH_COMPONENT;
            filter = GL_NEAREST;
            break;
        case GL_DEPTH32F_STENCIL8:
            format = GL_DEPTH_STENCIL;
            type = GL_FLOAT_32_UNSIGNED_INT_24_8_REV;
            filter = GL_NEAREST;
            break;
        case GL_RGBA32I:
            format = GL_RGBA_INTEGER;
            type = GL_INT;
            filter = GL_NEAREST;
            Diagnostic("Image Type is INT\n");
            break;
        default:
            break;
    }

    GLuint texture = 0;
    glGenTextures(1, &texture);
    glBindTexture(target, texture);
    glTexParameteri(target, GL_TEXTURE_WRAP_S, wrap);
    glTexParameteri(target, GL_TEXTURE_WRAP_T, wrap);
    glTexParameteri(target, GL_TEXTURE_MAG_FILTER, filter);
    glTexParameteri(target, GL_TEXTURE_MIN_FILTER, filter);
    glTexImage2D(target, 0, internalFormat, static_cast<GLsizei>(width),
                 static_cast<GLsizei>(height), 0, format, type, nullptr);
    if (g_poison_new_targets && format == GL_RGBA) PoisonTexture(texture, internalFormat);
    glBindTexture(target, 0);

    GLRenderBuffer storage;
    storage.width = width;
    storage.height = height;
    storage.depth = 1;
    storage.internalFormat = internalFormat;
    storage.id = texture;
    storage.target = target;
    storage.isTexture = true;
    return storage;
}

GLuint CreateFBO(const GLRenderBuffer& storage) {
    GLuint fbo = 0;
    glGenFramebuffers(1, &fbo);
    glBindFramebuffer(GL_FRAMEBUFFER, fbo);
    if (storage.id != 0) {
        glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, storage.target, storage.id, 0);
    }
    const GLenum status = glCheckFramebufferStatus(GL_FRAMEBUFFER);
    if (status == GL_FRAMEBUFFER_COMPLETE) return fbo;

    Diagnostic("Framebuffer Error - %sCode: %u\n", getFrameBufferError(status).c_str(), status);
    // Deleting the bound framebuffer reverts the binding to 0.
    glDeleteFramebuffers(1, &fbo);
    return 0;
}

PX_FBO CreateTextureFBO(uint32_t width, uint32_t height, int32_t wrap, int32_t internalFormat,
                        int32_t unused) {
    (void)unused;
    PX_FBO target;
    target.renderBuffer = CreateTextureRenderBuffer(width, height, internalFormat, wrap);
    target.fbo = CreateFBO(target.renderBuffer);
    if (target.fbo == 0) {
        // Callers drop a failed target without deleting it, so its texture goes here.
        DeleteRenderBuffer(target.renderBuffer);
        return target;
    }
    glBindFramebuffer(GL_FRAMEBUFFER, target.fbo);
    ClearBoundTarget(internalFormat);
    glBindFramebuffer(GL_FRAMEBUFFER, 0);
    return target;
}

void ClearFBO(PX_FBO* target) {
    if (target == nullptr || target->fbo == 0) return;
    glBindFramebuffer(GL_FRAMEBUFFER, target->fbo);
    ClearBoundTarget(target->renderBuffer.internalFormat);
    glBindFramebuffer(GL_FRAMEBUFFER, 0);
}

std::string getFrameBufferError(uint32_t status) {
    switch (status) {
        case GL_FRAMEBUFFER_UNDEFINED:
            return "GL_FRAMEBUFFER_UNDEFINED";
        case GL_FRAMEBUFFER_INCOMPLETE_ATTACHMENT:
            return "GL_FRAMEBUFFER_INCOMPLETE_ATTACHMENT";
        case GL_FRAMEBUFFER_INCOMPLETE_MISSING_ATTACHMENT:
            return "GL_FRAMEBUFFER_INCOMPLETE_MISSING_ATTACHMENT";
        case GL_FRAMEBUFFER_INCOMPLETE_DRAW_BUFFER:
            return "GL_FRAMEBUFFER_INCOMPLETE_DRAW_BUFFER";
        case GL_FRAMEBUFFER_INCOMPLETE_READ_BUFFER:
            return "GL_FRAMEBUFFER_INCOMPLETE_READ_BUFFER";
        case GL_FRAMEBUFFER_UNSUPPORTED:
            return "GL_FRAMEBUFFER_UNSUPPORTED";
        case GL_FRAMEBUFFER_INCOMPLETE_MULTISAMPLE:
            return "GL_FRAMEBUFFER_INCOMPLETE_MULTISAMPLE";
        case GL_FRAMEBUFFER_INCOMPLETE_LAYER_TARGETS:
            return "GL_FRAMEBUFFER_INCOMPLETE_LAYER_TARGETS";
        default:
            return "";
    }
}

void DeleteRenderBuffer(GLRenderBuffer& storage) {
    if (storage.id == 0) return;
    const GLuint id = storage.id;
    if (storage.isTexture) {
        glDeleteTextures(1, &id);
    } else {
        glDeleteBuffers(1, &id);
    }
    storage.id = 0;
}

void DeleteGenericFBO(PX_FBO* target) {
    if (target == nullptr || target->fbo == 0) return;
    DeleteRenderBuffer(target->renderBuffer);
    const GLuint fbo = target->fbo;
    glDeleteFramebuffers(1, &fbo);
    target->fbo = 0;
}

void FBOtoEffectWorld(PX_FBO& target, PF_LayerDef* image, int depth, int readBuffer) {
    if (image == nullptr || image->data == nullptr) {
        Diagnostic("VEXO: FBOtoEffectWorld() called without valid aeBuffer\n");
        return;
    }
    // Framebuffer 0 would read whatever the context's window holds into the host's image.
    if (target.fbo == 0) {
        Diagnostic("VEXO: FBOtoEffectWorld() called without valid framebuffer\n");
        return;
    }
    if (!HostImageUsable("FBOtoEffectWorld()", image, depth)) return;

    glFinish();
    glBindBuffer(GL_PIXEL_PACK_BUFFER, 0);
    glBindFramebuffer(GL_FRAMEBUFFER, target.fbo);
    glReadBuffer(static_cast<GLenum>(readBuffer));
    glPixelStorei(GL_PACK_ROW_LENGTH, image->rowbytes / BytesPerPixel(depth));
    glReadPixels(0, 0, image->width, image->height, GL_RGBA, ComponentType(depth), image->data);
    glPixelStorei(GL_PACK_ROW_LENGTH, 0);
    glBindFramebuffer(GL_FRAMEBUFFER, 0);
}

}  // namespace FBOHelper

void UploadToTexture(GLuint texture, PF_LayerDef* image, int depth, uint32_t target) {
    if (texture == 0) Diagnostic("VEXO: UploadToTexture() called without valid texture\n");
    if (image == nullptr || image->data == nullptr) {
        Diagnostic("VEXO: UploadToTexture() called without valid aeBuffer\n");
        return;
    }
    if (!HostImageUsable("UploadToTexture()", image, depth)) return;

    glBindTexture(target, texture);
    glPixelStorei(GL_UNPACK_ROW_LENGTH, image->rowbytes / BytesPerPixel(depth));
    glTexSubImage2D(target, 0, 0, 0, image->width, image->height, GL_RGBA, ComponentType(depth),
                    image->data);
    glBindTexture(target, 0);
    glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
}
