#include "render/passes.h"

#include <GL/glew.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "gl/fbo.h"
#include "gl/gl_errors.h"
#include "gl/kept_targets.h"
#include "gl/pod.h"
#include "host/messages.h"
#include "render/displace_program.h"

namespace {

// Every target a frame may make. At the frame's end they are kept for the thread's next frame
// (within the budget), or deleted with everything kept when the frame failed.
struct FrameTargets {
    PX_FBO upload, map, mapUpload, blur, output, superInput, superResult, part;
    KeptTargets* kept = nullptr;
    bool rendered = false;

    ~FrameTargets() {
        for (PX_FBO* t :
             {&upload, &map, &mapUpload, &blur, &output, &superInput, &superResult, &part}) {
            KeepTarget(rendered ? kept : nullptr, t);
        }
        if (rendered) {
            ReleaseStaleTargets(kept);
        } else {
            DeleteKeptTargets(kept);
        }
    }
};

struct Limits {
    GLint texture = 0;
    GLint viewport[2] = {0, 0};
};

Limits QueryLimits() {
    Limits l;
    glGetIntegerv(GL_MAX_TEXTURE_SIZE, &l.texture);
    glGetIntegerv(GL_MAX_VIEWPORT_DIMS, l.viewport);
    return l;
}

bool Fits(int64_t w, int64_t h, const Limits& limits) {
    return w > 0 && h > 0 && w <= limits.texture && h <= limits.texture &&
           w <= limits.viewport[0] && h <= limits.viewport[1];
}

// What a pass does with a new target before anything samples it.
enum class Fill {
    kUpload,  // a host buffer is copied in: a texture is enough
    kDrawn,   // a full-target quad covers every pixel: clearing first is wasted work
};

// Host pixels arrive as alpha, red, green, blue; the passes work in red, green, blue, alpha.
constexpr GLint kHostOrder[4] = {GL_GREEN, GL_BLUE, GL_ALPHA, GL_RED};
constexpr GLint kTextureOrder[4] = {GL_RED, GL_GREEN, GL_BLUE, GL_ALPHA};

// How a texture's samplers read it: the edge mode, and the order its channels come in.
void SetSampling(const PX_FBO& target, int32_t wrap, const GLint (&order)[4] = kTextureOrder) {
    glBindTexture(GL_TEXTURE_2D, target.renderBuffer.id);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, wrap);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, wrap);
    glTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_SWIZZLE_RGBA, order);
    glBindTexture(GL_TEXTURE_2D, 0);
}

// A target of `width` by `height` (truncated to whole pixels), float unless `format` says
// otherwise, or false when the context cannot hold one that large or its framebuffer cannot be
// completed: one the last frame kept, or a new one.
bool MakeTarget(PX_FBO* target, float width, float height, int32_t wrap, const Limits& limits,
                Fill fill, FrameTargets* t, int32_t format = GL_RGBA32F) {
    const auto w = int64_t(width), h = int64_t(height);
    if (!Fits(w, h, limits)) return false;
    *target = PX_FBO{};
    if (TakeKeptTarget(t->kept, uint32_t(w), uint32_t(h), format, fill != Fill::kUpload, target)) {
        // A kept upload may have been read in the host's order.
        SetSampling(*target, wrap);
        FBOHelper::PoisonTakenTargetForTesting(target->renderBuffer);
        return true;
    }
    // What the last frame left and this one does not take goes before anything new is made.
    ReleaseStaleTargets(t->kept);
    // A texture name is made even when GL refuses its storage; only the error flag tells.
    target->renderBuffer =
        FBOHelper::CreateTextureRenderBuffer(uint32_t(w), uint32_t(h), format, wrap);
    if (fill == Fill::kUpload) return target->renderBuffer.id != 0 && !GLOutOfMemorySeen();
    target->fbo = FBOHelper::CreateFBO(target->renderBuffer);
    glBindFramebuffer(GL_FRAMEBUFFER, 0);
    return target->fbo != 0 && !GLOutOfMemorySeen();
}

bool MakeTarget(PX_FBO* target, const Vec2f& size, int32_t wrap, const Limits& limits, Fill fill,
                FrameTargets* t, int32_t format = GL_RGBA32F) {
    return MakeTarget(target, size.x, size.y, wrap, limits, fill, t, format);
}

// Whether the map pass's quad, placed by `xform` (row vector on the left), covers the whole
// target, so that no pixel keeps what the target held before. Pixel centres lie half a pixel
// inside the edges, far beyond the matrix's rounding.
bool CoversTarget(const float (&xform)[16]) {
    for (float x : {-1.0f, 1.0f}) {
        for (float y : {-1.0f, 1.0f}) {
            const double cx = double(x) * xform[0] + double(y) * xform[1] + xform[3];
            const double cy = double(x) * xform[4] + double(y) * xform[5] + xform[7];
            const double cw = double(x) * xform[12] + double(y) * xform[13] + xform[15];
            if (cw != 1.0 || cx * x < 1.0 || cy * y < 1.0) return false;
        }
    }
    return true;
}

Matrix44f AsMatrix(const float (&values)[16]) {
    Matrix44f m;
    std::copy(values, values + 16, m.m);
    return m;
}

void Draw(PX_FBO* target, GLuint program, const UniformMap& uniforms) {
    RenderQuad(target, program, uniforms, 0, A_FloatRect{0, 0, 0, 0}, false);
}

// The part of the frame the output buffer covers, in the input's pixels (rows as the host
// counts them, which are GL's rows from the bottom): the host places both buffers by their
// origins on the layer's grid.
struct Window {
    int64_t left, top, right, bottom;
    int64_t width() const { return right - left; }
    int64_t height() const { return bottom - top; }
};

Window OutputWindow(const myParams& p) {
    const int64_t x = int64_t(p.outputWorld->origin_x) - p.inputWorld->origin_x;
    const int64_t y = int64_t(p.outputWorld->origin_y) - p.inputWorld->origin_y;
    return Window{std::max<int64_t>(x, 0), std::max<int64_t>(y, 0),
                  std::min<int64_t>(x + p.outputWorld->width, int64_t(p.frameSize.x)),
                  std::min<int64_t>(y + p.outputWorld->height, int64_t(p.frameSize.y))};
}

bool WholeFrame(const Window& window, const Vec2f& frame) {
    return window.left == 0 && window.top == 0 && window.right == int64_t(frame.x) &&
           window.bottom == int64_t(frame.y);
}

// The last draw of a frame shades only the window, on a target of the frame's size: a viewport
// shifted onto a target of the window's size changes the rasteriser's interpolation by a
// rounding (llvmpipe), and a pixel would no longer be the one the whole frame has there.
void DrawWindow(PX_FBO* target, GLuint program, const UniformMap& uniforms, const Window& window) {
    glEnable(GL_SCISSOR_TEST);
    glScissor(GLint(window.left), GLint(window.top), GLsizei(window.width()),
              GLsizei(window.height()));
    Draw(target, program, uniforms);
    glDisable(GL_SCISSOR_TEST);
}

// The window of `from`, copied exactly into `to`, which has the window's size.
void CopyWindow(const PX_FBO& from, const PX_FBO& to, const Window& window) {
    glBindFramebuffer(GL_READ_FRAMEBUFFER, from.fbo);
    glBindFramebuffer(GL_DRAW_FRAMEBUFFER, to.fbo);
    glBlitFramebuffer(GLint(window.left), GLint(window.top), GLint(window.right),
                      GLint(window.bottom), 0, 0, GLint(window.width()), GLint(window.height()),
                      GL_COLOR_BUFFER_BIT, GL_NEAREST);
    glBindFramebuffer(GL_FRAMEBUFFER, 0);
}

// The host shows the text with the error, in place of a bare code.
PF_Err ShowError(const char* text, PF_Err err, PF_OutData* out_data) {
    std::snprintf(out_data->return_msg, sizeof out_data->return_msg, "%s", text);
    out_data->out_flags |= PF_OutFlag_DISPLAY_ERROR_MESSAGE;
    SendMessage(text, out_data);
    return err;
}

// Storage the driver refused: the user is told for what and how large. The failed allocation
// leaves GL's error flag set; it is cleared so that the thread's next frame does not report it
// as its own.
PF_Err OutOfMemory(const char* what, double w, double h, PF_OutData* out_data) {
    TakeGLOutOfMemory();
    char text[sizeof out_data->return_msg];
    std::snprintf(text, sizeof text, "not enough GPU memory for %s (%lld x %lld pixels)", what,
                  (long long)w, (long long)h);
    return ShowError(text, PF_Err_OUT_OF_MEMORY, out_data);
}
PF_Err OutOfMemory(const char* what, Vec2f size, PF_OutData* out_data) {
    return OutOfMemory(what, size.x, size.y, out_data);
}

// A target beyond what the context can hold is no shortage of memory, and freeing memory will
// not help: the user is told which limit the frame exceeds. Still out of memory to the host,
// which may render smaller.
PF_Err BeyondLimits(const myParams* p, const Limits& limits, PF_OutData* out_data) {
    const int64_t limit = std::min({limits.texture, limits.viewport[0], limits.viewport[1]});
    struct Need {
        const char* what;
        double w, h;
    } const needs[] = {
        {"the frame", p->frameSize.x, p->frameSize.y},
        {p->aaFactor >= 4.0f ? "the frame at 4x anti-aliasing" : "the frame at 2x anti-aliasing",
         p->aaFactor > 1.0f ? p->superSize.x : 0, p->aaFactor > 1.0f ? p->superSize.y : 0},
        {"the map layer", p->hasMap && p->mapWorld ? double(p->mapWorld->width) : 0,
         p->hasMap && p->mapWorld ? double(p->mapWorld->height) : 0},
    };
    for (const Need& n : needs) {
        const auto w = int64_t(n.w), h = int64_t(n.h);
        if (w <= limit && h <= limit) continue;
        char text[sizeof out_data->return_msg];
        std::snprintf(text, sizeof text,
                      "%s (%lld x %lld pixels) is larger than this GPU's %lld-pixel texture limit",
                      n.what, (long long)w, (long long)h, (long long)limit);
        return ShowError(text, PF_Err_OUT_OF_MEMORY, out_data);
    }
    return PF_Err_NONE;
}

}  // namespace

PF_Err RenderPasses(myParams* p, const GLPrograms& programs, KeptTargets* kept,
                    PF_OutData* out_data) {
    BeginKeptFrame(kept);
    FrameTargets t;
    t.kept = kept;
    const Limits limits = QueryLimits();
    const int32_t wrap = p->wrapMode;
    if (const PF_Err err = BeyondLimits(p, limits, out_data)) return err;
    UniformMap uniforms;
    // An output beside the frame has nothing of it to show; the host's fill stays.
    const Window window = OutputWindow(*p);
    if (window.width() <= 0 || window.height() <= 0) {
        t.rendered = true;
        return PF_Err_NONE;
    }

    // The upload is the input: its samplers read the host's channels in the passes' order, the
    // values a pass that only reordered them would have drawn.
    if (!MakeTarget(&t.upload, p->frameSize, wrap, limits, Fill::kUpload, &t)) {
        return OutOfMemory("the input", p->frameSize, out_data);
    }
    UploadToTexture(t.upload.renderBuffer.id, p->inputWorld, p->bitDepth);
    SetSampling(t.upload, wrap, kHostOrder);
    const PX_FBO& input = t.upload;

    // Drawn whole, or (without a map layer and blur) never read: a placed map layer that leaves
    // part of it uncovered clears it first, and an empty map layer, which places nothing, clears
    // all of it.
    if (!MakeTarget(&t.map, p->frameSize, wrap, limits, Fill::kDrawn, &t)) {
        return OutOfMemory("the map", p->frameSize, out_data);
    }
    // An empty map layer is still the chosen map: it places nothing, and the map reads 0.
    if (p->hasMap && p->mapWorld->width > 0 && p->mapWorld->height > 0) {
        if (!MakeTarget(&t.mapUpload, float(p->mapWorld->width), float(p->mapWorld->height), wrap,
                        limits, Fill::kUpload, &t)) {
            return OutOfMemory("the map layer", p->mapWorld->width, p->mapWorld->height, out_data);
        }
        UploadToTexture(t.mapUpload.renderBuffer.id, p->mapWorld, p->bitDepth);
        GenVertexMatrices(p, p->mapWorld, p->inputWorld);
        if (!CoversTarget(p->mapXform)) FBOHelper::ClearFBO(&t.map);
        uniforms["videoTexture"] = TEX2D(t.mapUpload.renderBuffer.id);
        uniforms["xform"] = MAT44(AsMatrix(p->mapXform));
        uniforms["premultB"] = IVEC(1);
        Draw(&t.map, programs.swizzleInProgram, uniforms);
        KeepTarget(kept, &t.mapUpload);
    } else if (p->hasMap) {
        FBOHelper::ClearFBO(&t.map);
    }

    if (p->blurRadius > 0.1) {
        if (!MakeTarget(&t.blur, p->frameSize, wrap, limits, Fill::kDrawn, &t)) {
            return OutOfMemory("the map softness", p->frameSize, out_data);
        }
        const PX_FBO& source = p->hasMap ? t.map : input;
        uniforms["videoTexture"] = TEX2D(source.renderBuffer.id);
        uniforms["resV"] = VEC2(p->frameSize);
        uniforms["radiusF"] = VEC(float(p->blurRadius));
        Draw(&t.blur, programs.blurWProgram, uniforms);
        uniforms["videoTexture"] = TEX2D(t.blur.renderBuffer.id);
        Draw(&t.map, programs.blurHProgram, uniforms);
        KeepTarget(kept, &t.blur);
        p->hasMap = true;
    }

    // Both displacement paths end in a full-target draw. Nothing samples the output: for an 8-bit
    // frame the draw converts to bytes as the readback would (rounded, clamped to 0..1), and the
    // readback becomes a plain copy.
    const int32_t output_format = p->bitDepth == 8 ? GL_RGBA8 : GL_RGBA32F;
    if (!MakeTarget(&t.output, p->frameSize, GL_CLAMP_TO_BORDER, limits, Fill::kDrawn, &t,
                    output_format)) {
        return OutOfMemory("the output", p->frameSize, out_data);
    }
    // Any value but 2x and 4x (the separator too) renders direct.
    if (p->aaFactor <= 1.0f) {
        uniforms["inTex"] = TEX2D(input.renderBuffer.id);
        uniforms["displaceTex"] = TEX2D(t.map.renderBuffer.id);
        SendDisplaceUniforms(uniforms, p);
        DrawWindow(&t.output, DisplaceProgram(programs, uniforms), uniforms, window);
    } else {
        if (!MakeTarget(&t.superInput, p->superSize, wrap, limits, Fill::kDrawn, &t) ||
            !MakeTarget(&t.superResult, p->superSize, wrap, limits, Fill::kDrawn, &t)) {
            return OutOfMemory(p->aaFactor >= 4.0f ? "the frame at 4x anti-aliasing"
                                                   : "the frame at 2x anti-aliasing",
                               p->superSize, out_data);
        }
        uniforms["inTex"] = TEX2D(input.renderBuffer.id);
        Draw(&t.superInput, programs.bicubicProgram, uniforms);
        uniforms["inTex"] = TEX2D(t.superInput.renderBuffer.id);
        uniforms["displaceTex"] = TEX2D(t.map.renderBuffer.id);
        SendDisplaceUniforms(uniforms, p);
        Draw(&t.superResult, DisplaceProgram(programs, uniforms), uniforms);
        uniforms["inTex"] = TEX2D(t.superResult.renderBuffer.id);
        uniforms["inResFull"] = VEC2(p->superSize);
        uniforms["octave"] = VEC(p->aaFactor);
        DrawWindow(&t.output, programs.oversampleProgram, uniforms, window);
        KeepTarget(kept, &t.superInput);
        KeepTarget(kept, &t.superResult);
    }

    PX_FBO* result = &t.output;
    if (!WholeFrame(window, p->frameSize)) {
        if (!MakeTarget(&t.part, float(window.width()), float(window.height()), GL_CLAMP_TO_BORDER,
                        limits, Fill::kDrawn, &t, output_format)) {
            return OutOfMemory("the output", window.width(), window.height(), out_data);
        }
        CopyWindow(t.output, t.part, window);
        result = &t.part;
    }

    // Only the overlap of the output with the frame exists to be read; the rest stays cleared.
    PF_LayerDef overlap = *p->outputWorld;
    const int64_t skip_x = window.left - (int64_t(overlap.origin_x) - p->inputWorld->origin_x);
    const int64_t skip_y = window.top - (int64_t(overlap.origin_y) - p->inputWorld->origin_y);
    overlap.data = reinterpret_cast<PF_PixelPtr>(reinterpret_cast<char*>(overlap.data) +
                                                 skip_y * overlap.rowbytes +
                                                 skip_x * (p->bitDepth == 32 ? 16 : 4));
    overlap.width = A_long(window.width());
    overlap.height = A_long(window.height());
    FBOHelper::FBOtoEffectWorld(*result, &overlap, p->bitDepth, GL_COLOR_ATTACHMENT0);
    // GL reports running out of memory through its error flag, wherever in the frame it
    // happened, the readback's own work included: such a frame cannot be trusted, and the flag
    // must not be left for the thread's next frame.
    if (TakeGLOutOfMemory()) return OutOfMemory("the frame", p->frameSize, out_data);
    t.rendered = true;
    return PF_Err_NONE;
}
