#include "context/displace_variants.h"

#include <GL/glew.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <string>

#include "gl/program.h"
#include "shaders/shaders.h"

namespace {

// Key layout, low bit first: 1 (in use), map source, hue or saturation channel, easing (3 bits),
// gamma one, rotation zero, scale one, chromatic aberration, map view, cells a pixel's side holds
// (2 bits: 1, 2 or 4), edge mode (2 bits), how the map is read (2 bits), input held as bytes.
constexpr uint32_t kInUse = 1u << 0;
constexpr int kAuxShift = 1, kHsvShift = 2, kEasingShift = 3;
constexpr uint32_t kGammaOne = 1u << 6, kRotZero = 1u << 7, kScaleOne = 1u << 8;
constexpr int kCAShift = 9, kDstShift = 10, kPerPixelShift = 11, kWrapShift = 13,
              kMapFetchShift = 15, kInBytesShift = 17;

// An absent uniform reads as GL's default, 0, as the general program would see it.
int32_t IntOf(const UniformMap& u, const char* name) {
    const auto it = u.find(name);
    return it == u.end() || it->second.type != kUniformInt ? 0 : it->second.value.i[0];
}

float FloatOf(const UniformMap& u, const char* name) {
    const auto it = u.find(name);
    return it == u.end() || it->second.type != kUniformFloat ? 0.0f : it->second.value.f[0];
}

// The channels whose grey goes through the colour conversion.
bool HueOrSaturation(int32_t srcL) { return srcL == 6 || srcL == 7; }

// No easing at 1 and below; 3 in, 4 out, every other value in and out (2).
int32_t Easing(int32_t easingL) {
    if (easingL <= 1) return 0;
    return easingL == 3 || easingL == 4 ? easingL : 2;
}

}  // namespace

uint32_t DisplaceVariantKey(const UniformMap& u) {
    uint32_t key = kInUse;
    key |= uint32_t(IntOf(u, "usingAuxTex") == 1) << kAuxShift;
    key |= uint32_t(HueOrSaturation(IntOf(u, "srcL"))) << kHsvShift;
    key |= uint32_t(Easing(IntOf(u, "easingL"))) << kEasingShift;
    // Compared as the shader compares them, in single precision.
    if (FloatOf(u, "gammaF") == 1.0f) key |= kGammaOne;
    if (FloatOf(u, "rot") == 0.0f) key |= kRotZero;
    if (FloatOf(u, "scaleX") == 1.0f && FloatOf(u, "scaleY") == 1.0f) key |= kScaleOne;
    key |= uint32_t(IntOf(u, "usingCA") == 1) << kCAShift;
    key |= uint32_t(IntOf(u, "dstL") == 1) << kDstShift;
    const int32_t per_pixel = IntOf(u, "perPixel");
    key |= uint32_t(per_pixel >= 4 ? 2 : per_pixel >= 2 ? 1 : 0) << kPerPixelShift;
    key |= uint32_t(std::clamp(IntOf(u, "wrapL"), 0, 3)) << kWrapShift;
    key |= uint32_t(std::clamp(IntOf(u, "mapFetchL"), 0, 3)) << kMapFetchShift;
    key |= uint32_t(IntOf(u, "inBytes") == 1) << kInBytesShift;
    return key;
}

namespace {

// `text` (a fragment text with its version line first) with `defines` after that line.
std::string WithDefines(const char* text, const std::string& defines) {
    const char* const end_of_version = std::strchr(text, '\n');
    const size_t head = end_of_version ? size_t(end_of_version - text) + 1 : std::strlen(text);
    // Compile logs keep the text's own line numbers.
    return std::string(text, head) + defines + "#line 2\n" + (text + head);
}

}  // namespace

std::string DisplaceVariantSource(uint32_t key, const char* text) {
    std::string source;
    const auto define = [&](const char* name, uint32_t value) {
        source += "#define ";
        source += name;
        source += ' ';
        source += std::to_string(value);
        source += '\n';
    };
    define("VEXO_AUX", (key >> kAuxShift) & 1u);
    define("VEXO_SRC_HSV", (key >> kHsvShift) & 1u);
    define("VEXO_EASING", (key >> kEasingShift) & 7u);
    if (key & kGammaOne) define("VEXO_GAMMA_ONE", 1);
    if (key & kRotZero) define("VEXO_ROT_ZERO", 1);
    if (key & kScaleOne) define("VEXO_SCALE_ONE", 1);
    define("VEXO_CA", (key >> kCAShift) & 1u);
    define("VEXO_DST", (key >> kDstShift) & 1u ? 1u : 2u);
    define("VEXO_PER_PIXEL", 1u << ((key >> kPerPixelShift) & 3u));
    define("VEXO_WRAP", (key >> kWrapShift) & 3u);
    define("VEXO_MAP_FETCH", (key >> kMapFetchShift) & 3u);
    define("VEXO_IN_BYTES", (key >> kInBytesShift) & 1u);
    return WithDefines(text, source);
}

namespace {

uint32_t BuildFragment(const std::string& fragment) {
    const uint64_t list[] = {GL_VERTEX_SHADER, uint64_t(reinterpret_cast<uintptr_t>(vertIdentity)),
                             GL_FRAGMENT_SHADER,
                             uint64_t(reinterpret_cast<uintptr_t>(fragment.c_str())), 0};
    return CreateCompleteProgram(list, "");
}

}  // namespace

void BeginVariantFrame(DisplaceVariants* v) {
    if (v) ++v->clock;
}

namespace {

// Where `key` goes among `n` slots: its own slot (its use noted, `*found` set), else the slot to
// build it in (a free one first, else the one used longest ago), or -1 when `throttled`, every
// slot is taken and the last build is less than kFramesPerReplacedVariant frames old.
int SlotFor(uint32_t key, uint32_t* keys, uint32_t* last_use, int n, uint32_t now,
            uint32_t last_build, bool throttled, bool* found) {
    int slot = 0;
    for (int i = 0; i < n; ++i) {
        if (keys[i] == key) {
            last_use[i] = now;
            *found = true;
            return i;
        }
        if (keys[slot] != 0 && (keys[i] == 0 || last_use[i] < last_use[slot])) slot = i;
    }
    *found = false;
    if (keys[slot] != 0 && throttled && now - last_build < kFramesPerReplacedVariant) return -1;
    keys[slot] = key;
    last_use[slot] = now;
    return slot;
}

// What draws a direct look that waits for a slot (see kFramesPerReplacedVariant).
uint32_t GeneralDirect(DisplaceVariants* v, uint32_t general, const char* text) {
    if (!v->generalDirectTried) {
        v->generalDirectTried = true;
        v->generalDirect = BuildFragment(WithDefines(text, "#define VEXO_PER_PIXEL 1\n"));
    }
    return v->generalDirect ? v->generalDirect : general;
}

}  // namespace

uint32_t DisplaceProgramFor(DisplaceVariants* v, const UniformMap& uniforms, uint32_t general,
                            const char* text) {
    if (!v || !general) return general;
    const uint32_t key = DisplaceVariantKey(uniforms);
    const bool supersampled = ((key >> kPerPixelShift) & 3u) != 0;
    bool found = false;
    const int slot = SlotFor(key, v->keys, v->lastUse, kMaxDisplaceVariants, v->clock, v->lastBuild,
                             !supersampled, &found);
    if (slot < 0) return GeneralDirect(v, general, text);
    if (!found) {
        DeleteProgram(&v->programs[slot]);
        v->lastBuild = v->clock;
        v->programs[slot] = BuildFragment(DisplaceVariantSource(key, text));
    }
    return v->programs[slot] ? v->programs[slot] : general;
}

uint32_t DisplaceProgramFor(DisplaceVariants* variants, const UniformMap& uniforms,
                            uint32_t general) {
    return DisplaceProgramFor(variants, uniforms, general, displace);
}

void BlurByTexelPrograms(DisplaceVariants* v, uint32_t programs[2]) {
    const char* const texts[2] = {blurW, blurH};
    for (int i = 0; i < 2; ++i) {
        if (v->blurByTexel[i] == 0) {
            v->blurByTexel[i] = BuildFragment(WithDefines(texts[i], "#define VEXO_BY_TEXEL 1\n"));
        }
        programs[i] = v->blurByTexel[i];
    }
}

uint32_t SoftnessCellsProgram(DisplaceVariants* v, int side, int taps, bool by_texel) {
    if (side != 2 && side != 4) return 0;
    uint32_t& program = v->blurCells[(side == 4 ? 2 : 0) + (by_texel ? 1 : 0)];
    if (program == 0) {
        std::string defines = "#define CELL_TAPS " + std::to_string(taps) +
                              "\n#define CELL_PAIRS " + std::to_string((taps + 1) / 2) + "\n";
        if (by_texel) defines += "#define VEXO_BY_TEXEL 1\n";
        program = BuildFragment(WithDefines(blurCells, defines));
    }
    return program;
}

bool PackedBlurPrograms(DisplaceVariants* v, uint32_t programs[4]) {
    bool built = true;
    for (int i = 0; i < 4; ++i) {
        if (v->blurPacked[i] == 0) {
            const std::string stage = "#define VEXO_PACKED_STAGE " + std::to_string(i) + "\n";
            v->blurPacked[i] = BuildFragment(WithDefines(blurPacked, stage));
        }
        programs[i] = v->blurPacked[i];
        built = built && programs[i] != 0;
    }
    return built;
}

namespace {

// The packed blur's sums across for one kernel, written out (blurPacked.frag, ACROSS_SUM): the
// texels, then each tap's weight times the four pixels it takes.
std::string AcrossSum(int across, int pairs, int shift) {
    const auto pixel = [](int k) { return "t" + std::to_string(k / 4) + "." + "xyzw"[k % 4]; };
    std::string sum = "#define ACROSS_SUM";
    for (int q = 0; q < across; ++q) {
        sum += " vec4 t" + std::to_string(q) + " = TEXEL(" + std::to_string(q) + ");";
    }
    for (int t = 0; t < 2 * pairs; ++t) {
        const int k = shift + t;
        sum += std::string(" TAP(texelWeights[") + std::to_string(t / 4) + "]." + "xyzw"[t % 4];
        for (int c = 0; c < 4; ++c) sum += ", " + pixel(k + c);
        sum += ")";
    }
    return sum + "\n";
}

}  // namespace

namespace {

// The pair of programs kept for `key` in the kernels' slots, built from the texts `make` gives
// on a miss: both or neither, so that one frame's stages never mix.
template <typename MakeTexts>
void KernelPrograms(DisplaceVariants* v, uint32_t key, MakeTexts make, uint32_t programs[2]) {
    programs[0] = programs[1] = 0;
    bool found = false;
    const int slot = SlotFor(key, v->kernelKeys, v->kernelLastUse, kMaxPackedKernels, v->clock,
                             v->kernelLastBuild, true, &found);
    if (slot < 0) return;
    uint32_t(&kept)[2] = v->kernelPrograms[slot];
    if (!found) {
        for (uint32_t& program : kept) DeleteProgram(&program);
        v->kernelLastBuild = v->clock;
        const std::array<std::string, 2> texts = make();
        for (int i = 0; i < 2; ++i) kept[i] = BuildFragment(texts[i]);
        if (!kept[0] || !kept[1]) {
            for (uint32_t& program : kept) DeleteProgram(&program);
        }
    }
    programs[0] = kept[0];
    programs[1] = kept[1];
}

// Marks the keys of the blur a pixel a texel apart from the packed stages' (whose lengths stay
// below it).
constexpr uint32_t kPixelKernel = 1u << 24;

}  // namespace

void PackedKernelPrograms(DisplaceVariants* v, int across, int pairs, int shift,
                          uint32_t programs[2]) {
    programs[0] = programs[1] = 0;
    if (across < 1 || across > 0xff || pairs < 1 || pairs > 0xff || shift < 0 || shift > 3) return;
    const uint32_t key = uint32_t(across) | uint32_t(pairs) << 8 | uint32_t(shift) << 16;
    KernelPrograms(
        v, key,
        [&] {
            return std::array<std::string, 2>{
                WithDefines(blurPacked,
                            "#define VEXO_PACKED_STAGE 1\n" + AcrossSum(across, pairs, shift)),
                WithDefines(blurPacked, "#define VEXO_PACKED_STAGE 2\n#define KERNEL_PAIRS " +
                                            std::to_string(pairs) + "\n")};
        },
        programs);
}

void PixelKernelPrograms(DisplaceVariants* v, int pairs, bool by_texel, uint32_t programs[2]) {
    programs[0] = programs[1] = 0;
    if (pairs < 1 || pairs > 0xff) return;
    const uint32_t key = kPixelKernel | uint32_t(pairs) | uint32_t(by_texel) << 8;
    KernelPrograms(
        v, key,
        [&] {
            std::string defines = "#define KERNEL_PAIRS " + std::to_string(pairs) + "\n";
            if (by_texel) defines += "#define VEXO_BY_TEXEL 1\n";
            return std::array<std::string, 2>{WithDefines(blurW, defines),
                                              WithDefines(blurH, defines)};
        },
        programs);
}

int CountDisplaceVariants(const DisplaceVariants& v) {
    int n = 0;
    for (uint32_t key : v.keys) n += key != 0;
    return n;
}

void DeleteDisplaceVariants(DisplaceVariants* v) {
    if (!v) return;
    for (uint32_t& program : v->programs) DeleteProgram(&program);
    DeleteProgram(&v->generalDirect);
    for (uint32_t& program : v->blurByTexel) DeleteProgram(&program);
    for (uint32_t& program : v->blurCells) DeleteProgram(&program);
    for (uint32_t& program : v->blurPacked) DeleteProgram(&program);
    for (auto& pair : v->kernelPrograms) {
        for (uint32_t& program : pair) DeleteProgram(&program);
    }
    // Every key, use and clock back to a fresh record's.
    *v = DisplaceVariants{};
}
