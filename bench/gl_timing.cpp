#include "bench/gl_timing.h"

#include <EGL/egl.h>
#include <GL/glew.h>
#include <dlfcn.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <map>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

// The hooks must be visible to the dynamic linker for the module's calls to reach them.
#define VEXO_BENCH_EXPORT extern "C" __attribute__((visibility("default")))

namespace vexo_bench {
namespace {

using Clock = std::chrono::steady_clock;

// The driver's entry point behind the executable's own definition.
template <class Fn>
Fn Next(const char* name) {
    return reinterpret_cast<Fn>(dlsym(RTLD_NEXT, name));
}

void RealFinish() {
    static const auto fn = Next<void (*)()>("glFinish");
    fn();
}

// What a program draws, told by the uniforms it declares.
enum class ProgramKind { kSwizzle, kBlur, kUpsample, kDisplace, kReduce, kUnknown };

struct ArmedFrame {
    std::thread::id thread;
    Timing timing = Timing::kAuto;
    FrameTimes times;
    int uploads = 0;
    int blurs = 0;
    EGLContext context = EGL_NO_CONTEXT;  // where the queries live
    std::vector<std::pair<GLuint, Stage>> queries;
};

std::atomic<ArmedFrame*> g_armed{nullptr};
std::mutex g_mutex;  // the fields below
int g_timer_bits = -1;
std::string g_renderer;
std::map<std::pair<EGLContext, GLuint>, ProgramKind> g_programs;

// Texture storage by context and name, for the peak a frame holds.
std::map<std::pair<EGLContext, GLuint>, uint64_t> g_texture_bytes;
uint64_t g_bytes = 0, g_peak_bytes = 0;

uint64_t PixelBytes(GLint internal_format) {
    switch (internal_format) {
        case GL_RGBA32F:
            return 16;
        case GL_RGBA16F:
            return 8;
        default:
            return 4;
    }
}

void CountStorage(GLuint texture, uint64_t bytes) {
    std::lock_guard<std::mutex> lock(g_mutex);
    uint64_t& held = g_texture_bytes[std::make_pair(eglGetCurrentContext(), texture)];
    g_bytes = g_bytes - held + bytes;
    held = bytes;
    g_peak_bytes = std::max(g_peak_bytes, g_bytes);
}

PFNGLDRAWARRAYSINSTANCEDPROC g_draw_arrays_instanced = nullptr;
PFNGLDRAWELEMENTSINSTANCEDPROC g_draw_elements_instanced = nullptr;
PFNGLCLEARBUFFERFVPROC g_clear_buffer_fv = nullptr;
PFNGLCLEARBUFFERIVPROC g_clear_buffer_iv = nullptr;
PFNGLDELETEFRAMEBUFFERSPROC g_delete_framebuffers = nullptr;
PFNGLCOMPILESHADERPROC g_compile_shader = nullptr;
PFNGLLINKPROGRAMPROC g_link_program = nullptr;

// Mesa's software rasterizers answer timer queries, but their results do not bracket the
// rasterization of the draws between them (an input pass read 11 ms by query and 55 ms bounded
// by glFinish), so they get wall time.
bool IsSoftwareRenderer(const std::string& renderer) {
    for (const char* name : {"llvmpipe", "softpipe", "swrast"}) {
        if (renderer.find(name) != std::string::npos) return true;
    }
    return false;
}

// The frame armed on this thread, resolving the timing on its first hooked call (a context is
// current by then).
ArmedFrame* Armed() {
    ArmedFrame* frame = g_armed.load(std::memory_order_acquire);
    if (!frame || frame->thread != std::this_thread::get_id()) return nullptr;
    if (frame->context == EGL_NO_CONTEXT) {
        frame->context = eglGetCurrentContext();
        std::lock_guard<std::mutex> lock(g_mutex);
        if (g_timer_bits < 0) {
            GLint bits = 0;
            glGetQueryiv(GL_TIME_ELAPSED, GL_QUERY_COUNTER_BITS, &bits);
            g_timer_bits = bits;
            const auto* renderer = reinterpret_cast<const char*>(glGetString(GL_RENDERER));
            g_renderer = renderer ? renderer : "";
        }
        if (frame->timing == Timing::kAuto) {
            frame->timing = g_timer_bits > 0 && !IsSoftwareRenderer(g_renderer) ? Timing::kQuery
                                                                                : Timing::kWall;
        }
        frame->times.timing = frame->timing;
    }
    return frame;
}

double MsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// Runs one hooked call under the frame's timing. `gpu`: work the driver may queue (draws,
// clears), timed by a query in query mode; otherwise CPU wall time of the call.
template <class Call>
void Timed(ArmedFrame* frame, Stage stage, bool gpu, Call&& call) {
    if (frame->timing == Timing::kWall) {
        RealFinish();
        const auto start = Clock::now();
        call();
        RealFinish();
        frame->times.ms[stage] += MsSince(start);
    } else if (gpu) {
        GLuint query = 0;
        glGenQueries(1, &query);
        glBeginQuery(GL_TIME_ELAPSED, query);
        call();
        glEndQuery(GL_TIME_ELAPSED);
        frame->queries.emplace_back(query, stage);
    } else {
        const auto start = Clock::now();
        call();
        frame->times.ms[stage] += MsSince(start);
    }
}

// Waits for and deletes the frame's queries; only in the context that made them.
void ResolveQueries(ArmedFrame* frame) {
    if (frame->queries.empty() || eglGetCurrentContext() != frame->context) return;
    for (const auto& [query, stage] : frame->queries) {
        GLuint64 ns = 0;
        glGetQueryObjectui64v(query, GL_QUERY_RESULT, &ns);
        frame->times.ms[stage] += double(ns) * 1e-6;
        glDeleteQueries(1, &query);
    }
    frame->queries.clear();
}

bool HasUniform(GLuint program, const char* name) {
    return glGetUniformLocation(program, name) >= 0;
}

ProgramKind KindOf(GLuint program) {
    const auto key = std::make_pair(eglGetCurrentContext(), program);
    std::lock_guard<std::mutex> lock(g_mutex);
    const auto found = g_programs.find(key);
    if (found != g_programs.end()) return found->second;
    ProgramKind kind = ProgramKind::kUnknown;
    if (HasUniform(program, "octave")) {
        kind = ProgramKind::kReduce;
    } else if (HasUniform(program, "displaceTex") || HasUniform(program, "offsetF")) {
        // A displacement program made for settings that read no map layer has no map sampler.
        kind = ProgramKind::kDisplace;
    } else if (HasUniform(program, "kernelGroups")) {
        kind = ProgramKind::kBlur;
    } else if (HasUniform(program, "premultB")) {
        kind = ProgramKind::kSwizzle;
    } else if (HasUniform(program, "inTex")) {
        kind = ProgramKind::kUpsample;
    }
    g_programs.emplace(key, kind);
    return kind;
}

Stage ClassifyDraw(ArmedFrame* frame) {
    GLint program = 0;
    glGetIntegerv(GL_CURRENT_PROGRAM, &program);
    switch (KindOf(GLuint(program))) {
        case ProgramKind::kSwizzle: {
            // The input pass keeps straight alpha, the map pass premultiplies.
            GLint premultiply = 0;
            glGetUniformiv(GLuint(program), glGetUniformLocation(GLuint(program), "premultB"),
                           &premultiply);
            return premultiply ? kMapPass : kInputPass;
        }
        case ProgramKind::kBlur:
            return frame->blurs++ == 0 ? kBlurH : kBlurV;  // horizontal runs first
        case ProgramKind::kUpsample:
            return kUpsample;
        case ProgramKind::kDisplace:
            return kDisplace;
        case ProgramKind::kReduce:
            return kReduce;
        case ProgramKind::kUnknown:
            break;
    }
    return kOtherDraw;
}

void GLAPIENTRY HookDrawArraysInstanced(GLenum mode, GLint first, GLsizei count,
                                        GLsizei instances) {
    ArmedFrame* frame = Armed();
    if (!frame) return g_draw_arrays_instanced(mode, first, count, instances);
    Timed(frame, ClassifyDraw(frame), true,
          [&] { g_draw_arrays_instanced(mode, first, count, instances); });
}

void GLAPIENTRY HookDrawElementsInstanced(GLenum mode, GLsizei count, GLenum type,
                                          const void* indices, GLsizei instances) {
    ArmedFrame* frame = Armed();
    if (!frame) return g_draw_elements_instanced(mode, count, type, indices, instances);
    Timed(frame, ClassifyDraw(frame), true,
          [&] { g_draw_elements_instanced(mode, count, type, indices, instances); });
}

void GLAPIENTRY HookClearBufferfv(GLenum buffer, GLint drawbuffer, const GLfloat* value) {
    ArmedFrame* frame = Armed();
    if (!frame) return g_clear_buffer_fv(buffer, drawbuffer, value);
    Timed(frame, kClear, true, [&] { g_clear_buffer_fv(buffer, drawbuffer, value); });
}

void GLAPIENTRY HookClearBufferiv(GLenum buffer, GLint drawbuffer, const GLint* value) {
    ArmedFrame* frame = Armed();
    if (!frame) return g_clear_buffer_iv(buffer, drawbuffer, value);
    Timed(frame, kClear, true, [&] { g_clear_buffer_iv(buffer, drawbuffer, value); });
}

// A texture's storage goes when its framebuffer no longer holds it, so this may be where it is
// freed.
void GLAPIENTRY HookDeleteFramebuffers(GLsizei n, const GLuint* framebuffers) {
    ArmedFrame* frame = Armed();
    if (!frame) return g_delete_framebuffers(n, framebuffers);
    Timed(frame, kFree, false, [&] { g_delete_framebuffers(n, framebuffers); });
}

// Building a program is front-end work only: a software rasterizer generates its code at the
// program's first draw in each new state, which the draw's own stage pays.
void GLAPIENTRY HookCompileShader(GLuint shader) {
    ArmedFrame* frame = Armed();
    if (!frame) return g_compile_shader(shader);
    Timed(frame, kBuild, false, [&] { g_compile_shader(shader); });
}

void GLAPIENTRY HookLinkProgram(GLuint program) {
    ArmedFrame* frame = Armed();
    if (!frame) return g_link_program(program);
    Timed(frame, kBuild, false, [&] { g_link_program(program); });
}

}  // namespace

const char* StageName(Stage stage) {
    static const char* const names[kStageCount] = {
        "upload_in", "upload_map", "alloc",  "clear", "input", "map",      "blur_h", "blur_v",
        "upsample",  "displace",   "reduce", "draw",  "wait",  "readback", "free",   "build"};
    return stage >= 0 && stage < kStageCount ? names[stage] : "?";
}

// The originals stay recorded after uninstalling, so a call already past the swap still has
// somewhere to go.
template <class Fn>
void Swap(Fn* glew_pointer, Fn* original, Fn hook) {
    if (*glew_pointer == nullptr || *glew_pointer == hook) return;
    *original = *glew_pointer;
    *glew_pointer = hook;
}

template <class Fn>
void Restore(Fn* glew_pointer, Fn original, Fn hook) {
    if (*glew_pointer == hook) *glew_pointer = original;
}

void InstallDrawHooks() {
    std::lock_guard<std::mutex> lock(g_mutex);
    Swap(&__glewDrawArraysInstanced, &g_draw_arrays_instanced, &HookDrawArraysInstanced);
    Swap(&__glewDrawElementsInstanced, &g_draw_elements_instanced, &HookDrawElementsInstanced);
    Swap(&__glewClearBufferfv, &g_clear_buffer_fv, &HookClearBufferfv);
    Swap(&__glewClearBufferiv, &g_clear_buffer_iv, &HookClearBufferiv);
    Swap(&__glewDeleteFramebuffers, &g_delete_framebuffers, &HookDeleteFramebuffers);
    Swap(&__glewCompileShader, &g_compile_shader, &HookCompileShader);
    Swap(&__glewLinkProgram, &g_link_program, &HookLinkProgram);
}

void UninstallDrawHooks() {
    std::lock_guard<std::mutex> lock(g_mutex);
    Restore(&__glewDrawArraysInstanced, g_draw_arrays_instanced, &HookDrawArraysInstanced);
    Restore(&__glewDrawElementsInstanced, g_draw_elements_instanced, &HookDrawElementsInstanced);
    Restore(&__glewClearBufferfv, g_clear_buffer_fv, &HookClearBufferfv);
    Restore(&__glewClearBufferiv, g_clear_buffer_iv, &HookClearBufferiv);
    Restore(&__glewDeleteFramebuffers, g_delete_framebuffers, &HookDeleteFramebuffers);
    Restore(&__glewCompileShader, g_compile_shader, &HookCompileShader);
    Restore(&__glewLinkProgram, g_link_program, &HookLinkProgram);
    // Program names are reused once their contexts go.
    g_programs.clear();
}

void BeginFrame(Timing timing) {
    auto* frame = new ArmedFrame;
    frame->thread = std::this_thread::get_id();
    frame->timing = timing;
    delete g_armed.exchange(frame, std::memory_order_acq_rel);
}

FrameTimes EndFrame() {
    ArmedFrame* frame = g_armed.exchange(nullptr, std::memory_order_acq_rel);
    if (!frame) return FrameTimes{};
    ResolveQueries(frame);
    FrameTimes times = frame->times;
    delete frame;
    return times;
}

bool TimerQueriesKnown() {
    std::lock_guard<std::mutex> lock(g_mutex);
    return g_timer_bits >= 0;
}

bool TimerQueriesAvailable() {
    std::lock_guard<std::mutex> lock(g_mutex);
    return g_timer_bits > 0;
}

std::string RendererName() {
    std::lock_guard<std::mutex> lock(g_mutex);
    return g_renderer;
}

uint64_t PeakTextureBytes() {
    std::lock_guard<std::mutex> lock(g_mutex);
    return g_peak_bytes;
}

void ResetPeakTextureBytes() {
    std::lock_guard<std::mutex> lock(g_mutex);
    g_peak_bytes = g_bytes;
}

}  // namespace vexo_bench

using vexo_bench::Armed;
using vexo_bench::ArmedFrame;
using vexo_bench::Next;
using vexo_bench::Timed;

// --- GL 1.x entry points the module resolves through the executable.

VEXO_BENCH_EXPORT void glTexImage2D(GLenum target, GLint level, GLint internalformat, GLsizei width,
                                    GLsizei height, GLint border, GLenum format, GLenum type,
                                    const void* pixels) {
    static const auto fn =
        Next<void (*)(GLenum, GLint, GLint, GLsizei, GLsizei, GLint, GLenum, GLenum, const void*)>(
            "glTexImage2D");
    if ((target == GL_TEXTURE_2D || target == GL_TEXTURE_RECTANGLE) && level == 0) {
        GLint bound = 0;
        glGetIntegerv(
            target == GL_TEXTURE_2D ? GL_TEXTURE_BINDING_2D : GL_TEXTURE_BINDING_RECTANGLE, &bound);
        vexo_bench::CountStorage(GLuint(bound), uint64_t(std::max(width, 0)) *
                                                    uint64_t(std::max(height, 0)) *
                                                    vexo_bench::PixelBytes(internalformat));
    }
    ArmedFrame* frame = Armed();
    if (!frame)
        return fn(target, level, internalformat, width, height, border, format, type, pixels);
    Timed(frame, vexo_bench::kAlloc, false,
          [&] { fn(target, level, internalformat, width, height, border, format, type, pixels); });
}

VEXO_BENCH_EXPORT void glTexSubImage2D(GLenum target, GLint level, GLint xoffset, GLint yoffset,
                                       GLsizei width, GLsizei height, GLenum format, GLenum type,
                                       const void* pixels) {
    static const auto fn =
        Next<void (*)(GLenum, GLint, GLint, GLint, GLsizei, GLsizei, GLenum, GLenum, const void*)>(
            "glTexSubImage2D");
    ArmedFrame* frame = Armed();
    if (!frame) return fn(target, level, xoffset, yoffset, width, height, format, type, pixels);
    // The input goes up first, the map after it.
    const auto stage = frame->uploads++ == 0 ? vexo_bench::kUploadInput : vexo_bench::kUploadMap;
    Timed(frame, stage, false,
          [&] { fn(target, level, xoffset, yoffset, width, height, format, type, pixels); });
}

VEXO_BENCH_EXPORT void glClear(GLbitfield mask) {
    static const auto fn = Next<void (*)(GLbitfield)>("glClear");
    ArmedFrame* frame = Armed();
    if (!frame) return fn(mask);
    Timed(frame, vexo_bench::kClear, true, [&] { fn(mask); });
}

VEXO_BENCH_EXPORT void glDrawArrays(GLenum mode, GLint first, GLsizei count) {
    static const auto fn = Next<void (*)(GLenum, GLint, GLsizei)>("glDrawArrays");
    ArmedFrame* frame = Armed();
    if (!frame) return fn(mode, first, count);
    Timed(frame, vexo_bench::ClassifyDraw(frame), true, [&] { fn(mode, first, count); });
}

VEXO_BENCH_EXPORT void glDrawElements(GLenum mode, GLsizei count, GLenum type,
                                      const void* indices) {
    static const auto fn = Next<void (*)(GLenum, GLsizei, GLenum, const void*)>("glDrawElements");
    ArmedFrame* frame = Armed();
    if (!frame) return fn(mode, count, type, indices);
    Timed(frame, vexo_bench::ClassifyDraw(frame), true, [&] { fn(mode, count, type, indices); });
}

VEXO_BENCH_EXPORT void glFinish() {
    ArmedFrame* frame = Armed();
    if (!frame) return vexo_bench::RealFinish();
    Timed(frame, vexo_bench::kWait, false, [] { vexo_bench::RealFinish(); });
}

VEXO_BENCH_EXPORT void glReadPixels(GLint x, GLint y, GLsizei width, GLsizei height, GLenum format,
                                    GLenum type, void* pixels) {
    static const auto fn =
        Next<void (*)(GLint, GLint, GLsizei, GLsizei, GLenum, GLenum, void*)>("glReadPixels");
    ArmedFrame* frame = Armed();
    if (!frame) return fn(x, y, width, height, format, type, pixels);
    Timed(frame, vexo_bench::kReadback, false,
          [&] { fn(x, y, width, height, format, type, pixels); });
    frame->times.read_back = true;
    // Every query of the frame is answered once the pixels are back.
    vexo_bench::ResolveQueries(frame);
}

VEXO_BENCH_EXPORT void glDeleteTextures(GLsizei n, const GLuint* textures) {
    static const auto fn = Next<void (*)(GLsizei, const GLuint*)>("glDeleteTextures");
    for (GLsizei i = 0; i < n; ++i) vexo_bench::CountStorage(textures[i], 0);
    ArmedFrame* frame = Armed();
    if (!frame) return fn(n, textures);
    Timed(frame, vexo_bench::kFree, false, [&] { fn(n, textures); });
}
