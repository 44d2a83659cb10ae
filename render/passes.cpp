#include "render/passes.h"

#include <GL/glew.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

#include "gl/fbo.h"
#include "gl/gl_errors.h"
#include "gl/kept_targets.h"
#include "gl/pod.h"
#include "host/messages.h"
#include "params/param_table.h"
#include "render/displace_program.h"
#include "render/reach.h"

namespace {

// The samples one supersampled draw may take: a larger frame takes more draws, each as short as
// a 1080p frame's quarter at 2x, which no GPU's watchdog ends.
constexpr uint64_t kSamplesPerDraw = uint64_t(1) << 21;
uint64_t g_samples_per_draw = kSamplesPerDraw;
bool g_packed_softness = true;

struct Limits {
    GLint texture = 0;
    GLint viewport[2] = {0, 0};
};

Limits QueryLimits() {
    Limits l;
    GLint rectangle = 0;
    glGetIntegerv(GL_MAX_TEXTURE_SIZE, &l.texture);
    glGetIntegerv(GL_MAX_RECTANGLE_TEXTURE_SIZE, &rectangle);
    l.texture = std::min(l.texture, rectangle);
    glGetIntegerv(GL_MAX_VIEWPORT_DIMS, l.viewport);
    return l;
}

int64_t Largest(const Limits& l) {
    return std::min<int64_t>({l.texture, l.viewport[0], l.viewport[1]});
}

bool Fits(int64_t w, int64_t h, const Limits& limits) {
    return w > 0 && h > 0 && w <= Largest(limits) && h <= Largest(limits);
}

// A frame's targets, and where on the frame each holds its part. At the frame's end they are
// kept for the thread's next frame (within the budget), or deleted with everything kept when the
// frame failed.
struct Frame {
    myParams* p = nullptr;
    const GLPrograms* programs = nullptr;
    KeptTargets* kept = nullptr;
    PF_OutData* out_data = nullptr;
    Limits limits;
    UniformMap uniforms;
    Region window;         // the frame pixels the output buffer shows
    Region inputPart;      // the frame pixels the input buffer holds
    Region mapPart;        // the frame pixels the map target holds
    int32_t mapValue = 0;  // the channel the softened map holds alone (MapValue), or 0
    PX_FBO upload, map, mapUpload, blur, cells, output;
    // The softness four pixels a texel: its stages' programs where it blurs so (BlursPacked),
    // its targets (the source, then blurred down; blurred across), and where the map layer it
    // reads itself lies, if it does.
    uint32_t packedStages[4] = {};
    PX_FBO packed[2];
    Region packedLayer;
    DisplaceVariants spare{};  // programs made for this frame alone
    bool rendered = false;

    ~Frame() {
        DeleteDisplaceVariants(&spare);
        for (PX_FBO* t :
             {&upload, &map, &mapUpload, &blur, &cells, &output, &packed[0], &packed[1]}) {
            KeepTarget(rendered ? kept : nullptr, t);
        }
        if (rendered) {
            ReleaseStaleTargets(kept);
        } else {
            DeleteKeptTargets(kept);
        }
    }
};

// What a pass does with a new target before anything samples it.
enum class Fill {
    kUpload,  // a host buffer is copied in: a texture is enough
    kDrawn,   // a full-target quad covers every pixel: clearing first is wasted work
};

// Host pixels arrive as alpha, red, green, blue; the passes work in red, green, blue, alpha.
constexpr GLint kHostOrder[4] = {GL_GREEN, GL_BLUE, GL_ALPHA, GL_RED};
constexpr GLint kTextureOrder[4] = {GL_RED, GL_GREEN, GL_BLUE, GL_ALPHA};

// The passes read their textures at texel positions on the frame's grid, less the part's whole
// origin: exact, so that every part of a frame reads alike, where a fraction of the part's size
// would round by the part. Only the output and the samples, which are read by index alone, are
// ordinary textures.
constexpr uint32_t kSampled = GL_TEXTURE_RECTANGLE;

// How a texture's samplers read it: the edge mode, and the order its channels come in.
void SetSampling(const PX_FBO& target, int32_t wrap, const GLint (&order)[4] = kTextureOrder) {
    const GLenum kind = target.renderBuffer.target;
    glBindTexture(kind, target.renderBuffer.id);
    glTexParameteri(kind, GL_TEXTURE_WRAP_S, FBOHelper::SamplerWrap(kind, wrap));
    glTexParameteri(kind, GL_TEXTURE_WRAP_T, FBOHelper::SamplerWrap(kind, wrap));
    glTexParameteriv(kind, GL_TEXTURE_SWIZZLE_RGBA, order);
    glBindTexture(kind, 0);
}

// A target of `width` by `height`, float unless `format` says otherwise, or false when the
// context cannot hold one that large or its framebuffer cannot be completed: one the last frame
// kept, or a new one.
bool MakeTarget(Frame* f, PX_FBO* target, int64_t w, int64_t h, int32_t wrap, Fill fill,
                int32_t format = GL_RGBA32F, uint32_t kind = kSampled) {
    if (!Fits(w, h, f->limits)) return false;
    *target = PX_FBO{};
    if (TakeKeptTarget(f->kept, uint32_t(w), uint32_t(h), format, fill != Fill::kUpload, target,
                       kind)) {
        // A kept upload may have been read in the host's order.
        SetSampling(*target, wrap);
        FBOHelper::PoisonTakenTargetForTesting(target->renderBuffer);
        return true;
    }
    // What the last frame left and this one does not take goes before anything new is made.
    ReleaseStaleTargets(f->kept);
    // A texture name is made even when GL refuses its storage; only the error flag tells.
    target->renderBuffer =
        FBOHelper::CreateTextureRenderBuffer(uint32_t(w), uint32_t(h), format, wrap, kind);
    if (fill == Fill::kUpload) return target->renderBuffer.id != 0 && !GLOutOfMemorySeen();
    target->fbo = FBOHelper::CreateFBO(target->renderBuffer);
    glBindFramebuffer(GL_FRAMEBUFFER, 0);
    return target->fbo != 0 && !GLOutOfMemorySeen();
}

bool MakeTarget(Frame* f, PX_FBO* target, const Region& part, int32_t wrap, Fill fill,
                int32_t format = GL_RGBA32F, uint32_t kind = kSampled) {
    return MakeTarget(f, target, part.width(), part.height(), wrap, fill, format, kind);
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

// Draws only the target's pixels within `part` (the target's own pixels).
void DrawPart(PX_FBO* target, GLuint program, const UniformMap& uniforms, const Region& part) {
    glEnable(GL_SCISSOR_TEST);
    glScissor(GLint(part.left), GLint(part.top), GLsizei(part.width()), GLsizei(part.height()));
    Draw(target, program, uniforms);
    glDisable(GL_SCISSOR_TEST);
}

Vec2i Corner(const Region& r) { return Vec2i{int32_t(r.left), int32_t(r.top)}; }

int32_t EdgeIndexMode(int32_t wrap) {
    switch (wrap) {
        case GL_REPEAT:
            return 1;
        case GL_MIRRORED_REPEAT:
            return 2;
        case GL_CLAMP_TO_EDGE:
            return 3;
        default:
            return 0;
    }
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
    // What other threads keep for their next frames is memory this one may need.
    DropKeptTargetsEverywhere();
    char text[sizeof out_data->return_msg];
    std::snprintf(text, sizeof text, "not enough GPU memory for %s (%lld x %lld pixels)", what,
                  (long long)w, (long long)h);
    return ShowError(text, PF_Err_OUT_OF_MEMORY, out_data);
}
PF_Err OutOfMemory(const char* what, const Region& r, PF_OutData* out_data) {
    return OutOfMemory(what, double(r.width()), double(r.height()), out_data);
}

// A target beyond what the context can hold is no shortage of memory, and freeing memory will
// not help: the user is told which part of the frame exceeds the limit. Still out of memory to
// the host, which may render smaller.
PF_Err BeyondLimits(const Frame& f) {
    const int64_t limit = Largest(f.limits);
    const myParams& p = *f.p;
    struct Need {
        const char* what;
        int64_t w, h;
    } const needs[] = {
        {"the part of the input this frame reads", p.inputWorld->width, p.inputWorld->height},
        {"the part of the map layer this frame reads",
         p.hasMap && p.mapWorld ? p.mapWorld->width : 0,
         p.hasMap && p.mapWorld ? p.mapWorld->height : 0},
        {"the map", f.mapPart.width(), f.mapPart.height()},
        {"the output", f.window.width(), f.window.height()},
    };
    for (const Need& n : needs) {
        if (n.w <= limit && n.h <= limit) continue;
        char text[sizeof f.out_data->return_msg];
        std::snprintf(text, sizeof text,
                      "%s (%lld x %lld pixels) is larger than this GPU's %lld-pixel texture limit",
                      n.what, (long long)n.w, (long long)n.h, (long long)limit);
        return ShowError(text, PF_Err_OUT_OF_MEMORY, f.out_data);
    }
    return PF_Err_NONE;
}

// Where on the frame a buffer lies: the input where the pre-render's checkout put it, every
// other buffer by the difference of its origin and the input's.
Region OnFrame(const myParams& p, const PF_LayerDef& world) {
    const int64_t x = int64_t(world.origin_x) - p.inputWorld->origin_x + p.inputOffsetX;
    const int64_t y = int64_t(world.origin_y) - p.inputWorld->origin_y + p.inputOffsetY;
    return Region{x, y, x + world.width, y + world.height};
}

// The part of the frame the output buffer shows.
Region OutputWindow(const myParams& p) {
    return Intersect(OnFrame(p, *p.outputWorld),
                     Region{0, 0, int64_t(p.frameSize.x), int64_t(p.frameSize.y)});
}

// A buffer's pixels at `part` of the frame, which it holds, as a buffer of their own.
PF_LayerDef WorldPart(const myParams& p, const PF_LayerDef& world, const Region& part) {
    const Region at = OnFrame(p, world);
    PF_LayerDef view = world;
    view.data = reinterpret_cast<PF_PixelPtr>(reinterpret_cast<char*>(world.data) +
                                              (part.top - at.top) * world.rowbytes +
                                              (part.left - at.left) * (p.bitDepth == 32 ? 16 : 4));
    view.width = A_long(part.width());
    view.height = A_long(part.height());
    return view;
}

// A 2x 8-bit frame keeps its input as the host's bytes, which the displacement reads texel by
// texel (inBytes): llvmpipe converts each texel read to the float an upload would hold in less
// time than it filters floats (a 1080p frame in 85 % of the time), and filters bytes in fixed
// point. The texel reads make a larger program, though: at 4x, or with chromatic aberration's
// three reads a sample, a look's first frame took llvmpipe a second or two more to compile
// (1080p: 3.2 s against 1.3 at 4x), so those keep the filtered reads. And only where nothing
// else reads the input: without a map layer, a softness blurs the input itself.
bool InputAsBytes(const myParams& p) {
    return p.bitDepth == 8 && p.aaFactor == 2.0f && !p.caEnabled &&
           (p.hasMap || !(p.blurRadius > 0.1));
}

// The upload is the input: its samplers read the host's channels in the passes' order, the
// values a pass that only reordered them would have drawn.
PF_Err UploadInput(Frame* f) {
    myParams& p = *f->p;
    if (!MakeTarget(f, &f->upload, f->inputPart, p.wrapMode, Fill::kUpload,
                    InputAsBytes(p) ? GL_RGBA8 : GL_RGBA32F)) {
        return OutOfMemory("the input", f->inputPart, f->out_data);
    }
    UploadToTexture(f->upload.renderBuffer.id, p.inputWorld, p.bitDepth, kSampled);
    SetSampling(f->upload, p.wrapMode, kHostOrder);
    f->uniforms["inOrigin"] = IVEC2(Corner(f->inputPart));
    return PF_Err_NONE;
}

// A map target holds only the value the grey is taken from, where that is one channel, or the
// colours' mean under softness: a quarter of the GPU memory, and of the bytes the blur and a
// supersampled displacement read (llvmpipe's time does not change). Without softness the colours
// stay whole: their mean follows the displacement's filtered read, and taken before it would
// round otherwise. The channel, or 0 where the grey needs the colours apart or no map target is
// made: a map layer is read direct, and without one the map is the input, without softness.
int32_t MapValue(const myParams& p) {
    const bool softened = p.blurRadius > 0.1;
    if (!softened && !(p.hasMap && p.aaFactor > 1.0f)) return 0;
    switch (p.channelMode) {
        case kChannelRed:
        case kChannelGreen:
        case kChannelBlue:
        case kChannelAlpha:
            return p.channelMode;
        case kChannelLuminance:
            return softened ? p.channelMode : 0;
        default:
            return 0;
    }
}

int32_t MapFormat(const Frame& f) { return f.mapValue ? GL_R32F : GL_RGBA32F; }

// Room for radius 100: taps from -100 to 100 cover 203 texels, 102 pairs.
constexpr int kMaxPairs = 102;

// The softness kernel as the blurs read it: pairs of texels, each read by one filtered fetch
// placed by their weights to 1/512 of a texel, which any texel position of a texture up to 16384
// wide holds exactly (a GPU places it to 1/256); and the weights that placing gives each texel,
// for the texels read one by one.
struct PairedKernel {
    float pairs[2 * kMaxPairs] = {};  // each pair's place (texels from the pixel) and weight
    float weights[4 * ((2 * kMaxPairs + 3) / 4)] = {};  // from `start` on
    int count = 0;                                      // pairs
    int start = 0;                                      // the first texel's offset from the pixel
};

// A layer whose corner a shader's integers hold.
bool NearFrame(const Region& at) {
    const int64_t reach = int64_t(1) << 30;
    return at.left > -reach && at.left < reach && at.top > -reach && at.top < reach;
}

// Where the displacement reads only texel centres of a map layer that lies on the frame's grid
// (a direct frame without softness), it reads the layer itself, in the host's order, and
// premultiplies each texel as the map pass would: no map target is made.
bool ReadsMapLayerDirect(const myParams& p, const Region& at) {
    return !(p.blurRadius > 0.1) && p.aaFactor <= 1.0f && NearFrame(at);
}

// Whether the softness blurs four pixels a texel: over a map of one value a pixel, on the frame's
// grid or on cells, where the stages' programs build and their targets, which hold the rows the
// kernel reaches beyond the map's, fit the context.
bool BlursPacked(Frame* f) {
    const myParams& p = *f->p;
    return p.blurRadius > 0.1 && f->mapValue && g_packed_softness &&
           Fits(f->mapPart.width(), f->mapPart.height() + 2 * kMaxPairs, f->limits) &&
           PackedBlurPrograms(*f->programs, &f->spare, f->packedStages);
}

// The map target of the map part, its samplers told where it lies.
PF_Err MakeMapTarget(Frame* f) {
    if (!MakeTarget(f, &f->map, f->mapPart, f->p->wrapMode, Fill::kDrawn, MapFormat(*f))) {
        return OutOfMemory("the map", f->mapPart, f->out_data);
    }
    f->uniforms["displaceTex"] = TEXRECT(f->map.renderBuffer.id);
    f->uniforms["mapOrigin"] = IVEC2(Corner(f->mapPart));
    return PF_Err_NONE;
}

// The map layer placed on its part of the frame, premultiplied: drawn whole, or read as it is.
// A placed map layer that leaves part of the map target uncovered clears it first, and an empty
// map layer, which places nothing, clears all of it.
PF_Err PlaceMap(Frame* f) {
    myParams& p = *f->p;
    if (!p.hasMap) return PF_Err_NONE;
    // An empty map layer is still the chosen map: it places nothing, and the map reads 0.
    if (p.mapWorld->width <= 0 || p.mapWorld->height <= 0) {
        if (const PF_Err err = MakeMapTarget(f)) return err;
        FBOHelper::ClearFBO(&f->map);
        return PF_Err_NONE;
    }
    const Region at = OnFrame(p, *p.mapWorld);
    const bool direct = ReadsMapLayerDirect(p, at);
    // The packed softness on the frame's grid reads the layer itself, as this pass would place it.
    const bool packed = f->packedStages[0] && SoftnessCells(p) <= 1 && NearFrame(at);
    // Read texel by texel, bytes convert to the values a float upload holds, without the
    // driver's conversion of every texel on the way up.
    const int32_t format = (direct || packed) && p.bitDepth == 8 ? GL_RGBA8 : GL_RGBA32F;
    if (!MakeTarget(f, &f->mapUpload, p.mapWorld->width, p.mapWorld->height, p.wrapMode,
                    Fill::kUpload, format)) {
        return OutOfMemory("the map layer", p.mapWorld->width, p.mapWorld->height, f->out_data);
    }
    UploadToTexture(f->mapUpload.renderBuffer.id, p.mapWorld, p.bitDepth, kSampled);
    if (direct) {
        SetSampling(f->mapUpload, p.wrapMode, kHostOrder);
        f->uniforms["displaceTex"] = TEXRECT(f->mapUpload.renderBuffer.id);
        f->uniforms["mapFetchL"] = IVEC(1);
        f->uniforms["mapOrigin"] = IVEC2({int32_t(at.left), int32_t(at.top)});
        return PF_Err_NONE;
    }
    if (packed) {
        f->packedLayer = at;
        return PF_Err_NONE;
    }
    if (const PF_Err err = MakeMapTarget(f)) return err;
    PlaceQuad(&p, double(at.width()), double(at.height()), double(at.left - f->mapPart.left),
              double(at.top - f->mapPart.top), double(f->mapPart.width()),
              double(f->mapPart.height()));
    if (!CoversTarget(p.mapXform)) FBOHelper::ClearFBO(&f->map);
    f->uniforms["videoTexture"] = TEXRECT(f->mapUpload.renderBuffer.id);
    f->uniforms["xform"] = MAT44(AsMatrix(p.mapXform));
    f->uniforms["premultB"] = IVEC(1);
    f->uniforms["channelL"] = IVEC(f->mapValue);
    f->uniforms["texelOrigin"] =
        IVEC2({int32_t(f->mapPart.left - at.left), int32_t(f->mapPart.top - at.top)});
    Draw(&f->map, f->programs->swizzleInProgram, f->uniforms);
    KeepTarget(f->kept, &f->mapUpload);
    return PF_Err_NONE;
}

PairedKernel PairKernel(double radius, int cells);
// SetBlurKernel for a kernel already paired.
void SendBlurKernel(std::initializer_list<uint32_t> programs, const PairedKernel& k,
                    UniformMap* uniforms);
std::vector<double> CellFilter(int side);

// The map softness on cells of `side` pixels: each cell taken from the pixels around it as the
// edge mode has them (SetCellFilter), blurred across the cells, in the cells target, which is
// then the displacement's map, read as a B-spline between the cells' centres. The map target, if
// any, is done with. `take` is the program that takes the cells.
// The first softness pass reads the map's source (the placed map, or the input that is its own
// map) into a target starting at `grid`'s corner.
void ReadMapSource(Frame* f, const Region& grid) {
    const myParams& p = *f->p;
    UniformMap& u = f->uniforms;
    const PX_FBO& source = p.hasMap ? f->map : f->upload;
    u["videoTexture"] = TEXRECT(source.renderBuffer.id);
    u["srcOrigin"] = IVEC2(Corner(p.hasMap ? f->mapPart : f->inputPart));
    u["gridOrigin"] = IVEC2(Corner(grid));
    u["resV"] = VEC2(p.frameSize);
    u["wrapL"] = IVEC(EdgeIndexMode(p.wrapMode));
    // A placed map already holds the value alone, in red.
    u["channelL"] = IVEC(p.hasMap && f->mapValue ? kChannelRed : f->mapValue);
}

// The map softness over a map of one value a pixel, four pixels of a row a texel
// (blurPacked.frag), on the frame's grid or on cells of `side` pixels: `out` of that grid blurred
// from the source the uniforms name (ReadMapSource, as the caller amends it) into the first packed
// target, whose first texels then hold `*down`: packed columns (of four) and rows. Across, each
// packed texel's pixels take the packed texels from `first` to `last` beyond it; down, the rows
// the kernel reaches from the first row of `out` to its last. Down draws over the packed source,
// which across has read and which holds more than `*down`, where a target of its own would be
// more memory for the frame, and fresh memory for its first.
PF_Err BlurPacked(Frame* f, int side, const Region& out, Region* down) {
    const uint32_t(&stages)[4] = f->packedStages;
    const myParams& p = *f->p;
    const PairedKernel k = PairKernel(p.blurRadius, side);
    const int64_t taps = 2 * int64_t(k.count);
    const int64_t first = FloorDiv(k.start, 4), last = FloorDiv(k.start + taps + 2, 4);
    const int64_t left = FloorDiv(out.left, 4), right = FloorDiv(out.right - 1, 4) + 1;
    *down = Region{left, out.top, right, out.bottom};
    const Region across{left, out.top + k.start, right, out.bottom + k.start + taps - 1};
    const Region source{left + first, across.top, right + last, across.bottom};
    const Region* parts[2] = {&source, &across};
    for (int i = 0; i < 2; ++i) {
        if (!MakeTarget(f, &f->packed[i], *parts[i], GL_CLAMP_TO_EDGE, Fill::kDrawn)) {
            return OutOfMemory("the map softness", *parts[i], f->out_data);
        }
    }
    UniformMap& u = f->uniforms;
    u["packOrigin"] = IVEC2(Corner(source));
    Draw(&f->packed[0], stages[0], u);
    // Output channel c of a packed texel takes tap t at channel c + shift + t of the texels from
    // its own on, counted four a texel.
    const int count = int(last - first + 1), shift = int(k.start - 4 * first);
    uint32_t blur[2];
    PackedKernelPrograms(*f->programs, count, k.count, shift, &stages[1], &f->spare, blur);
    SendBlurKernel({blur[0], blur[1]}, k, &u);
    u["acrossCount"] = IVEC(count);
    u["acrossShift"] = IVEC(shift);
    u["videoTexture"] = TEXRECT(f->packed[0].renderBuffer.id);
    Draw(&f->packed[1], blur[0], u);
    u["rowShift"] = VEC(float(-k.start));
    u["videoTexture"] = TEXRECT(f->packed[1].renderBuffer.id);
    DrawPart(&f->packed[0], blur[1], u, Region{0, 0, down->width(), down->height()});
    KeepTarget(f->kept, &f->packed[1]);
    return PF_Err_NONE;
}

// The packed blur's result (holding `down`) into `into`, which holds `out` of the same grid.
void Unpack(Frame* f, const Region& down, const Region& out, PX_FBO* into) {
    UniformMap& u = f->uniforms;
    u["gridOrigin"] = IVEC2(Corner(out));
    u["packedLeft"] = IVEC(int32_t(down.left));
    u["videoTexture"] = TEXRECT(f->packed[0].renderBuffer.id);
    Draw(into, f->packedStages[3], u);
    KeepTarget(f->kept, &f->packed[0]);
}

// The blur a pixel a texel of the softness on a grid of `cells` pixels, for the edge mode `wrap`:
// programs made for its kernel's number of pairs where they are to be had, else the general ones,
// with that kernel sent to them, so that the two never disagree.
void PixelBlurPrograms(Frame* f, int32_t wrap, int cells, DisplaceVariants* spare,
                       uint32_t blur[2]) {
    const PairedKernel k = PairKernel(f->p->blurRadius, cells);
    BlurPrograms(*f->programs, wrap, k.count, spare, blur);
    SendBlurKernel({blur[0], blur[1]}, k, &f->uniforms);
}

PF_Err BlurCells(Frame* f, int side, uint32_t take) {
    myParams& p = *f->p;
    const Region cells = SoftnessCellRegion(p, EvaluatedRegion(p, f->window));
    const int32_t format = MapFormat(*f);
    if (!MakeTarget(f, &f->cells, cells, GL_CLAMP_TO_EDGE, Fill::kDrawn, format) ||
        (!f->packedStages[0] &&
         !MakeTarget(f, &f->blur, cells, GL_CLAMP_TO_EDGE, Fill::kDrawn, format))) {
        return OutOfMemory("the map softness", cells, f->out_data);
    }
    UniformMap& u = f->uniforms;
    ReadMapSource(f, cells);
    u["cellSide"] = IVEC(side);
    SetCellFilter(take, side, &u);
    Draw(&f->cells, take, u);
    KeepTarget(f->kept, &f->map);
    // The cells beyond the frame hold what the edge mode gives there: the blur reads them as any.
    u["videoTexture"] = TEXRECT(f->cells.renderBuffer.id);
    u["srcOrigin"] = IVEC2(Corner(cells));
    u["channelL"] = IVEC(0);
    if (f->packedStages[0]) {
        u["channelL"] = IVEC(kChannelRed);
        u["wrapL"] = IVEC(-1);
        u["layerL"] = IVEC(0);
        Region down;
        if (const PF_Err err = BlurPacked(f, side, cells, &down)) return err;
        Unpack(f, down, cells, &f->cells);
    } else {
        uint32_t blur[2];
        PixelBlurPrograms(f, GL_CLAMP_TO_EDGE, side, &f->spare, blur);
        Draw(&f->blur, blur[0], u);
        u["videoTexture"] = TEXRECT(f->blur.renderBuffer.id);
        Draw(&f->cells, blur[1], u);
        KeepTarget(f->kept, &f->blur);
    }
    u["displaceTex"] = TEXRECT(f->cells.renderBuffer.id);
    u["mapOrigin"] = IVEC2(Corner(cells));
    u["mapFetchL"] = IVEC(2);
    u["mapCells"] = VEC(float(side));
    p.hasMap = true;
    return PF_Err_NONE;
}

// The packed softness on the frame's grid, from the map layer itself where PlaceMap left it.
PF_Err BlurPackedFrame(Frame* f) {
    const myParams& p = *f->p;
    UniformMap& u = f->uniforms;
    ReadMapSource(f, f->mapPart);
    u["layerL"] = IVEC(!f->packedLayer.empty());
    if (!f->packedLayer.empty()) {
        u["videoTexture"] = TEXRECT(f->mapUpload.renderBuffer.id);
        u["srcOrigin"] = IVEC2(Corner(f->packedLayer));
        u["channelL"] = IVEC(f->mapValue);
    }
    Region down;
    if (const PF_Err err = BlurPacked(f, 1, f->mapPart, &down)) return err;
    KeepTarget(f->kept, &f->mapUpload);
    if (p.aaFactor <= 1.0f) {
        // A direct frame reads only its own pixels of the map, each a channel of a packed texel.
        u["displaceTex"] = TEXRECT(f->packed[0].renderBuffer.id);
        u["mapOrigin"] = IVEC2(Corner(down));
        u["mapFetchL"] = IVEC(3);
        return PF_Err_NONE;
    }
    if (!f->map.renderBuffer.id) {
        if (const PF_Err err = MakeMapTarget(f)) return err;
    }
    Unpack(f, down, f->mapPart, &f->map);
    return PF_Err_NONE;
}

// The map softness on the frame's grid, a pixel a texel, into the map target; programs made for
// the frame go in `spare`.
PF_Err BlurPixels(Frame* f, DisplaceVariants* spare) {
    myParams& p = *f->p;
    if (!p.hasMap) {
        if (const PF_Err err = MakeMapTarget(f)) return err;
    }
    if (!MakeTarget(f, &f->blur, f->mapPart, p.wrapMode, Fill::kDrawn, MapFormat(*f))) {
        return OutOfMemory("the map softness", f->mapPart, f->out_data);
    }
    ReadMapSource(f, f->mapPart);
    uint32_t blur[2];
    PixelBlurPrograms(f, p.wrapMode, 1, spare, blur);
    Draw(&f->blur, blur[0], f->uniforms);
    f->uniforms["videoTexture"] = TEXRECT(f->blur.renderBuffer.id);
    Draw(&f->map, blur[1], f->uniforms);
    KeepTarget(f->kept, &f->blur);
    return PF_Err_NONE;
}

// The map softness: the map (or, without a map layer, the input) blurred into the map target,
// which is then the displacement's map.
PF_Err BlurMap(Frame* f) {
    myParams& p = *f->p;
    if (!(p.blurRadius > 0.1)) return PF_Err_NONE;
    if (const int side = SoftnessCells(p); side > 1) {
        // Where the cells' program does not build, the frame's grid, whose reach the cells' holds.
        const uint32_t take = SoftnessCellsProgram(*f->programs, side, int(CellFilter(side).size()),
                                                   p.wrapMode, &f->spare);
        if (take) return BlurCells(f, side, take);
    }
    const PF_Err err = f->packedStages[0] ? BlurPackedFrame(f) : BlurPixels(f, &f->spare);
    p.hasMap = true;
    return err;
}

// The softness kernel on the frame's grid, one weight per texel from offset `*origin`, and the
// sum of its taps' weights: taps at most a pixel apart, each split by linear filtering between
// the two texels around it.
std::vector<double> FrameKernel(double r, int* origin, double* total) {
    const int steps = int(std::ceil(r));
    const double stride = r / steps;
    std::vector<double> texels(size_t(2 * steps + 3), 0.0);
    *total = 0.0;
    for (int i = -steps; i <= steps; ++i) {
        const double x = double(i) / steps, weight = std::exp(-0.5 * x * x / 0.06);
        const double at = i * stride, below = std::floor(at);
        const size_t k = size_t(int64_t(below) + steps + 1);
        texels[k] += weight * (1.0 - (at - below));
        texels[k + 1] += weight * (at - below);
        *total += weight;
    }
    *origin = -steps - 1;
    return texels;
}

double Variance(const std::vector<double>& texels, int origin) {
    double sum = 0.0, moment = 0.0;
    for (size_t k = 0; k < texels.size(); ++k) {
        const double x = double(int64_t(k) + origin);
        sum += texels[k];
        moment += texels[k] * x * x;
    }
    return moment / sum;
}

// The B-spline of the mean of `side` pixels that takes a cell from the frame's pixels along an
// axis: the mean taken `CellFilterOrder` times over, from the cell's first pixel less
// (order - 1) (side - 1) / 2 on. The mean alone folds fine grain into the cells' low frequencies,
// where the Gaussian keeps it; each further mean folds less. Five for cells of 2 pixels, whose
// Gaussian is the narrowest; three hold cells of 4 to the same.
int CellFilterOrder(int side) { return side <= 2 ? 5 : 3; }

std::vector<double> CellFilter(int side) {
    std::vector<double> taps{1.0};
    for (int pass = 0; pass < CellFilterOrder(side); ++pass) {
        std::vector<double> wider(taps.size() + size_t(side) - 1, 0.0);
        for (size_t k = 0; k < taps.size(); ++k) {
            for (int i = 0; i < side; ++i) wider[k + size_t(i)] += taps[k] / side;
        }
        taps = wider;
    }
    return taps;
}

// The kernel on cells of `side` pixels that, after the cell filter and the cubic B-spline read
// between cells, spreads a pixel as far as `frame` does: the filter's variance, order
// (side^2 - 1) / 12, and the B-spline's, side^2 / 3 wherever it reads, are left out of the
// cells' Gaussian. Sampled at whole cells, its width set so that the sampled weights have the
// variance left.
std::vector<double> CellKernel(const std::vector<double>& frame, int frame_origin, double r,
                               int side, int* origin) {
    const double cells = side;
    const double spread =
        CellFilterOrder(side) * (cells * cells - 1.0) / 12.0 + cells * cells / 3.0;
    const double target =
        std::max((Variance(frame, frame_origin) - spread) / (cells * cells), 0.05);
    const int steps = int(std::ceil(r / cells));
    std::vector<double> texels(size_t(2 * steps + 1));
    double width = target;
    for (int pass = 0; pass < 8; ++pass) {
        for (int i = -steps; i <= steps; ++i) {
            texels[size_t(i + steps)] = std::exp(-0.5 * double(i) * i / width);
        }
        width *= target / Variance(texels, -steps);
    }
    *origin = -steps;
    return texels;
}

}  // namespace

void SetCellFilter(uint32_t program, int side, UniformMap* uniforms) {
    constexpr int kMaxTaps = 16, kMaxPairs = 8;
    const std::vector<double> filter = CellFilter(std::clamp(side, 1, (kMaxTaps + 2) / 3));
    float taps[kMaxTaps] = {}, pairs[2 * kMaxPairs] = {};
    const int count = int(filter.size()), pair_count = (count + 1) / 2;
    for (int k = 0; k < count; ++k) taps[k] = float(filter[size_t(k)]);
    // Each pair placed to 1/512 of a texel, as the blur's pairs are.
    for (int j = 0; j < pair_count; ++j) {
        const double a = filter[size_t(2 * j)],
                     b = 2 * j + 1 < count ? filter[size_t(2 * j + 1)] : 0;
        pairs[2 * j] = float(2 * j + std::floor(b / (a + b) * 512.0 + 0.5) / 512.0);
        pairs[2 * j + 1] = float(a + b);
    }
    glUseProgram(program);
    glUniform2fv(glGetUniformLocation(program, "cellPairs"), pair_count, pairs);
    glUniform1fv(glGetUniformLocation(program, "cellTaps"), count, taps);
    (*uniforms)["cellPairs[0]"] = VEC2({pairs[0], pairs[1]});
    (*uniforms)["cellTaps[0]"] = VEC(taps[0]);
}

namespace {

PairedKernel PairKernel(double radius, int cells) {
    const double r = radius > 0.1 ? std::min(radius, 100.0) : 0.1;  // and no NaN
    int origin = 0;
    double total = 0.0;
    std::vector<double> texels = FrameKernel(r, &origin, &total);
    if (cells > 1) {
        texels = CellKernel(texels, origin, r, cells, &origin);
        total = 0.0;
        for (const double w : texels) total += w;
    }
    size_t first = 0, end = texels.size();
    while (texels[first] == 0.0) ++first;
    while (texels[end - 1] == 0.0) --end;
    PairedKernel kernel;
    int& n = kernel.count;
    for (size_t k = first; k < end && n < kMaxPairs; k += 2, ++n) {
        const double a = texels[k], b = k + 1 < end ? texels[k + 1] : 0.0;
        const double part = a + b > 0.0 ? std::floor(b / (a + b) * 512.0 + 0.5) / 512.0 : 0.0;
        const double weight = (a + b) / total;
        kernel.pairs[2 * n] = float(double(int64_t(k - first)) + part);
        kernel.pairs[2 * n + 1] = float(weight);
        kernel.weights[k - first] = float(weight * (1.0 - part));
        kernel.weights[k - first + 1] = float(weight * part);
    }
    kernel.start = int(first) + origin;
    for (int i = 0; i < n; ++i) kernel.pairs[2 * i] += float(kernel.start);
    return kernel;
}

void SendBlurKernel(std::initializer_list<uint32_t> programs, const PairedKernel& k,
                    UniformMap* uniforms) {
    const int groups = (2 * k.count + 3) / 4;
    for (const uint32_t program : programs) {
        if (program == 0) continue;
        glUseProgram(program);
        glUniform2fv(glGetUniformLocation(program, "kernel"), k.count, k.pairs);
        glUniform4fv(glGetUniformLocation(program, "texelWeights"), groups, k.weights);
    }
    (*uniforms)["kernel[0]"] = VEC2({k.pairs[0], k.pairs[1]});
    (*uniforms)["kernelPairs"] = IVEC(k.count);
    (*uniforms)["texelWeights[0]"] = VEC4({k.weights[0], k.weights[1], k.weights[2], k.weights[3]});
    (*uniforms)["kernelStart"] = IVEC(k.start);
    (*uniforms)["kernelGroups"] = IVEC(groups);
}

}  // namespace

void SetBlurKernel(std::initializer_list<uint32_t> programs, double radius, UniformMap* uniforms,
                   int cells) {
    SendBlurKernel(programs, PairKernel(radius, cells), uniforms);
}

namespace {

// The displacement's settings and where it draws: the output window's pixels, each of
// `per_pixel` x `per_pixel` cells of the (supersampled) frame's grid.
void SetDisplacement(Frame* f, int32_t per_pixel) {
    SendDisplaceUniforms(f->uniforms, f->p);
    // How the map is read, where the passes before did not say: the general program reads every
    // setting, whether the frame has a map or not.
    UniformMap& u = f->uniforms;
    u.emplace("displaceTex", TEXRECT(0));
    u.emplace("mapFetchL", IVEC(0));
    u.emplace("mapOrigin", IVEC2({0, 0}));
    u.emplace("mapCells", VEC(1.0f));
    if (f->mapValue) u["srcL"] = IVEC(kChannelRed);
    u["inTex"] = TEXRECT(f->upload.renderBuffer.id);
    u["inBytes"] = IVEC(f->upload.renderBuffer.internalFormat == GL_RGBA8);
    u["perPixel"] = IVEC(per_pixel);
    u["gridOrigin"] = IVEC2(Corner(f->window));
    u["gridSize"] = VEC2(per_pixel > 1 ? f->p->superSize : f->p->frameSize);
    u["pixelStretch"] = VEC(float(f->p->pixelAspect - 1.0));
    u["wrapL"] = IVEC(EdgeIndexMode(f->p->wrapMode));
}

void DisplaceDirect(Frame* f) {
    SetDisplacement(f, 1);
    Draw(&f->output, DisplaceProgram(*f->programs, f->uniforms), f->uniforms);
}

// A supersampled window is drawn a tile at a time. Each pixel takes the mean of its samples
// itself, and the displacement upsamples the input at the cells it reads (the values an
// upsampled target would hold, read as a filtered fetch reads them): no target beyond the
// output's holds samples or upsampled input.
struct Tiling {
    int64_t width = 0, height = 0;
};

Region Tile(const Frame& f, const Tiling& t, int64_t x, int64_t y) {
    return Intersect(Region{x, y, x + t.width, y + t.height}, f.window);
}

// The largest tiles within the samples a draw may take, halving the longer side.
Tiling PlanTiles(const Frame& f) {
    Tiling t{f.window.width(), f.window.height()};
    for (;;) {
        const Region samples = SampleRegion(*f.p, Tile(f, t, f.window.left, f.window.top));
        const uint64_t count = uint64_t(samples.width()) * uint64_t(samples.height());
        if (count <= g_samples_per_draw || (t.width == 1 && t.height == 1)) return t;
        if (t.width >= t.height) {
            t.width = (t.width + 1) / 2;
        } else {
            t.height = (t.height + 1) / 2;
        }
    }
}

// Each pixel the mean of its samples, displaced, drawn a tile at a time.
void DisplaceSupersampled(Frame* f) {
    UniformMap& u = f->uniforms;
    SetDisplacement(f, int32_t(f->p->aaFactor));
    const GLuint program = DisplaceProgram(*f->programs, u);
    const Tiling tiling = PlanTiles(*f);
    for (int64_t y = f->window.top; y < f->window.bottom; y += tiling.height) {
        for (int64_t x = f->window.left; x < f->window.right; x += tiling.width) {
            const Region tile = Tile(*f, tiling, x, y);
            DrawPart(&f->output, program, u,
                     Region{tile.left - f->window.left, tile.top - f->window.top,
                            tile.right - f->window.left, tile.bottom - f->window.top});
        }
    }
}

// The output target into the host's buffer: only its overlap with the frame exists to be read,
// and the rest stays cleared.
void ReadBack(Frame* f) {
    const myParams& p = *f->p;
    PF_LayerDef overlap = WorldPart(p, *p.outputWorld, f->window);
    FBOHelper::FBOtoEffectWorld(f->output, &overlap, p.bitDepth, GL_COLOR_ATTACHMENT0);
}

}  // namespace

void SetSamplesPerDrawForTesting(uint64_t samples) {
    g_samples_per_draw = samples ? samples : kSamplesPerDraw;
}

void SetPackedSoftnessForTesting(bool on) { g_packed_softness = on; }

PF_Err RenderPasses(myParams* p, const GLPrograms& programs, KeptTargets* kept,
                    PF_OutData* out_data) {
    BeginKeptFrame(kept);
    BeginDisplaceFrame(programs);
    Frame f;
    f.p = p;
    f.programs = &programs;
    f.kept = kept;
    f.out_data = out_data;
    f.limits = QueryLimits();
    const Region frame{0, 0, int64_t(p->frameSize.x), int64_t(p->frameSize.y)};
    f.window = OutputWindow(*p);
    f.inputPart = OnFrame(*p, *p->inputWorld);
    f.mapPart = MapReach(*p, EvaluatedRegion(*p, f.window));
    f.mapValue = MapValue(*p);
    if (!BlursPacked(&f)) std::fill(f.packedStages, f.packedStages + 4, 0u);
    if (const PF_Err err = BeyondLimits(f)) return err;
    // An output beside the frame has nothing of it to show; the host's fill stays.
    if (f.window.empty()) {
        f.rendered = true;
        return PF_Err_NONE;
    }

    PF_Err err = UploadInput(&f);
    if (!err) err = PlaceMap(&f);
    if (!err) err = BlurMap(&f);
    if (err) return err;
    // The last draw covers the output target whole. Nothing samples it: for an 8-bit frame the
    // draw converts to bytes as the readback would (rounded, clamped to 0..1), and the readback
    // becomes a plain copy.
    const int32_t output_format = p->bitDepth == 8 ? GL_RGBA8 : GL_RGBA32F;
    if (!MakeTarget(&f, &f.output, f.window, GL_CLAMP_TO_BORDER, Fill::kDrawn, output_format,
                    GL_TEXTURE_2D)) {
        return OutOfMemory("the output", f.window, out_data);
    }
    // Any value but 2x and 4x (the separator too) renders direct.
    if (p->aaFactor <= 1.0f) {
        DisplaceDirect(&f);
    } else {
        DisplaceSupersampled(&f);
    }
    ReadBack(&f);
    // GL reports running out of memory through its error flag, wherever in the frame it
    // happened, the readback's own work included: such a frame cannot be trusted, and the flag
    // must not be left for the thread's next frame.
    if (TakeGLOutOfMemory()) return OutOfMemory("the frame", frame, out_data);
    f.rendered = true;
    return PF_Err_NONE;
}

bool CopyInputFrame(const myParams& p) {
    if (p.bitDepth != 8 || !CopiesInput(p)) return false;
    const Region window = OutputWindow(p);
    if (window.empty()) return true;
    const Region in = OnFrame(p, *p.inputWorld);
    if (window.left < in.left || window.top < in.top || window.right > in.right ||
        window.bottom > in.bottom) {
        return false;
    }
    const PF_LayerDef from = WorldPart(p, *p.inputWorld, window);
    const PF_LayerDef to = WorldPart(p, *p.outputWorld, window);
    for (A_long y = 0; y < to.height; ++y) {
        std::memcpy(reinterpret_cast<char*>(to.data) + std::ptrdiff_t(y) * to.rowbytes,
                    reinterpret_cast<const char*>(from.data) + std::ptrdiff_t(y) * from.rowbytes,
                    size_t(to.width) * 4);
    }
    return true;
}
