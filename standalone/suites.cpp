#include "standalone/suites.h"

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <set>
#include <utility>

#include "AE_EffectCBSuites.h"
#include "SPErrorCodes.h"
#include "host/VexoDiagnosticsSuite.h"

namespace vexo_host {
namespace {

using SuiteKey = std::pair<std::string, int>;

struct Registry {
    std::mutex mutex;
    std::map<SuiteKey, const void*> suites;
    std::map<SuiteKey, int> outstanding;
    std::set<void*> handles;
#ifdef VEXO_HOST_TEST_HOOKS
    std::vector<SuiteEvent> events;
    std::set<SuiteKey> withheld;
    std::set<SuiteKey> nulled;
    std::map<std::string, std::pair<PF_Err, int>> failing;
#endif
};

Registry& Reg() {
    static Registry* registry = new Registry;  // outlives effects torn down at exit
    return *registry;
}

SPErr AcquireSuite(const char* name, SPInt32 version, const void** suite) {
    Registry& r = Reg();
    std::lock_guard<std::mutex> lock(r.mutex);
    const SuiteKey key{name ? name : "", version};
    SPErr result = kSPNoError;
    auto found = r.suites.find(key);
#ifdef VEXO_HOST_TEST_HOOKS
    if (r.withheld.count(key)) found = r.suites.end();
#endif
    if (found == r.suites.end()) {
        result = PF_Err_BAD_CALLBACK_PARAM;
        *suite = nullptr;
    } else {
        *suite = found->second;
#ifdef VEXO_HOST_TEST_HOOKS
        if (r.nulled.count(key)) *suite = nullptr;
#endif
        ++r.outstanding[key];
    }
#ifdef VEXO_HOST_TEST_HOOKS
    r.events.push_back({true, key.first, version, result});
#endif
    return result;
}

SPErr ReleaseSuite(const char* name, SPInt32 version) {
    Registry& r = Reg();
    std::lock_guard<std::mutex> lock(r.mutex);
    const SuiteKey key{name ? name : "", version};
    SPErr result = kSPNoError;
    auto it = r.outstanding.find(key);
    if (it == r.outstanding.end() || it->second == 0) {
        result = PF_Err_BAD_CALLBACK_PARAM;  // released more often than acquired
    } else if (--it->second == 0) {
        r.outstanding.erase(it);
    }
#ifdef VEXO_HOST_TEST_HOOKS
    r.events.push_back({false, key.first, version, result});
#endif
    return result;
}

SPBoolean IsEqual(const char* a, const char* b) { return std::strcmp(a, b) == 0; }

SPErr AllocateBlock(size_t size, void** block) {
    *block = std::malloc(size ? size : 1);
    return *block ? SPErr(kSPNoError) : SPErr(PF_Err_OUT_OF_MEMORY);
}

SPErr FreeBlock(void* block) {
    std::free(block);
    return kSPNoError;
}

SPErr ReallocateBlock(void* block, size_t size, void** out) {
    void* grown = std::realloc(block, size ? size : 1);
    if (!grown) return PF_Err_OUT_OF_MEMORY;
    *out = grown;
    return kSPNoError;
}

SPErr Undefined() { return PF_Err_BAD_CALLBACK_PARAM; }

// Constant-initialised, like the tables below: an effect may be called before dynamic
// initialisation reaches this file.
constexpr SPBasicSuite MakeBasicSuite() {
    SPBasicSuite suite{};
    suite.AcquireSuite = AcquireSuite;
    suite.ReleaseSuite = ReleaseSuite;
    suite.IsEqual = IsEqual;
    suite.AllocateBlock = AllocateBlock;
    suite.FreeBlock = FreeBlock;
    suite.ReallocateBlock = ReallocateBlock;
    suite.Undefined = Undefined;
    return suite;
}
SPBasicSuite g_basic = MakeBasicSuite();

// --- Handle suite: a handle points at the block's master pointer, as on the real host.
struct HandleBlock {
    void* data;
    A_HandleSize size;
};

PF_Handle NewHandle(A_HandleSize size) {
    if (InjectedFailure("host_new_handle")) return nullptr;
    auto* block = new HandleBlock{std::calloc(1, size ? size : 1), size};
    if (!block->data) {
        delete block;
        return nullptr;
    }
    Registry& r = Reg();
    std::lock_guard<std::mutex> lock(r.mutex);
    r.handles.insert(block);
    return reinterpret_cast<PF_Handle>(block);
}

HandleBlock* Known(PF_Handle handle) {
    Registry& r = Reg();
    std::lock_guard<std::mutex> lock(r.mutex);
    return r.handles.count(handle) ? reinterpret_cast<HandleBlock*>(handle) : nullptr;
}

void* LockHandle(PF_Handle handle) {
    if (InjectedFailure("host_lock_handle")) return nullptr;
    HandleBlock* block = Known(handle);
    return block ? block->data : nullptr;
}

void UnlockHandle(PF_Handle) {}

void DisposeHandle(PF_Handle handle) {
    Registry& r = Reg();
    std::lock_guard<std::mutex> lock(r.mutex);
    if (r.handles.erase(handle)) {
        auto* block = reinterpret_cast<HandleBlock*>(handle);
        std::free(block->data);
        delete block;
    }
}

A_HandleSize HandleSize(PF_Handle handle) {
    HandleBlock* block = Known(handle);
    return block ? block->size : 0;
}

PF_Err ResizeHandle(A_HandleSize size, PF_Handle* handle) {
    HandleBlock* block = handle ? Known(*handle) : nullptr;
    if (!block) return PF_Err_BAD_CALLBACK_PARAM;
    void* grown = std::realloc(block->data, size ? size : 1);
    if (!grown) return PF_Err_OUT_OF_MEMORY;
    if (size > block->size)
        std::memset(static_cast<char*>(grown) + block->size, 0, size - block->size);
    block->data = grown;
    block->size = size;
    return PF_Err_NONE;
}

constexpr PF_HandleSuite1 MakeHandleSuite() {
    PF_HandleSuite1 suite{};
    suite.host_new_handle = NewHandle;
    suite.host_lock_handle = LockHandle;
    suite.host_unlock_handle = UnlockHandle;
    suite.host_dispose_handle = DisposeHandle;
    suite.host_get_handle_size = HandleSize;
    suite.host_resize_handle = ResizeHandle;
    return suite;
}
constexpr PF_HandleSuite1 g_handle_suite = MakeHandleSuite();

// --- ANSI suite and callbacks.
int Sprintf(A_char* out, const A_char* format, ...) {
    va_list args;
    va_start(args, format);
    // Effects write into fixed message buffers of the host's records.
    const int n = std::vsnprintf(out, PF_MAX_EFFECT_MSG_LEN + 1, format, args);
    va_end(args);
    return n;
}

A_char* Strcpy(A_char* dst, const A_char* src) { return std::strcpy(dst, src); }

// Filled by name: the two records list the same entries, and the host's headers decide where.
template <typename Ansi>
constexpr Ansi MakeAnsi() {
    Ansi ansi{};
    ansi.atan = [](A_FpLong x) { return std::atan(x); };
    ansi.atan2 = [](A_FpLong y, A_FpLong x) { return std::atan2(y, x); };
    ansi.ceil = [](A_FpLong x) { return std::ceil(x); };
    ansi.cos = [](A_FpLong x) { return std::cos(x); };
    ansi.exp = [](A_FpLong x) { return std::exp(x); };
    ansi.fabs = [](A_FpLong x) { return std::fabs(x); };
    ansi.floor = [](A_FpLong x) { return std::floor(x); };
    ansi.fmod = [](A_FpLong x, A_FpLong y) { return std::fmod(x, y); };
    ansi.hypot = [](A_FpLong x, A_FpLong y) { return std::hypot(x, y); };
    ansi.log = [](A_FpLong x) { return std::log(x); };
    ansi.log10 = [](A_FpLong x) { return std::log10(x); };
    ansi.pow = [](A_FpLong x, A_FpLong y) { return std::pow(x, y); };
    ansi.sin = [](A_FpLong x) { return std::sin(x); };
    ansi.sqrt = [](A_FpLong x) { return std::sqrt(x); };
    ansi.tan = [](A_FpLong x) { return std::tan(x); };
    ansi.sprintf = Sprintf;
    ansi.strcpy = Strcpy;
    ansi.asin = [](A_FpLong x) { return std::asin(x); };
    ansi.acos = [](A_FpLong x) { return std::acos(x); };
    return ansi;
}

constexpr PF_ANSICallbacksSuite1 g_ansi_suite = MakeAnsi<PF_ANSICallbacksSuite1>();

PF_Err Fill(PF_ProgPtr, const PF_Pixel* color, const PF_Rect* rect, PF_EffectWorld* world);

constexpr PF_UtilCallbacks MakeUtilCallbacks() {
    PF_UtilCallbacks utils{};
    utils.fill = Fill;
    utils.ansi = MakeAnsi<PF_ANSICallbacks>();
    return utils;
}
PF_UtilCallbacks g_utils = MakeUtilCallbacks();

}  // namespace

// Clears the rectangle (or the whole world) to the colour, or to transparent black.
namespace {
PF_Err Fill(PF_ProgPtr, const PF_Pixel* color, const PF_Rect* rect, PF_EffectWorld* world) {
    if (PF_Err err = InjectedFailure("fill")) return err;
    if (!world || !world->data || world->width < 0 || world->height < 0) {
        return PF_Err_BAD_CALLBACK_PARAM;
    }
    const bool deep = (world->world_flags & kFloatWorldFlag) != 0;
    const int pixel_bytes = deep ? 16 : 4;
    PF_Rect whole{0, 0, world->width, world->height};
    PF_Rect r = rect ? *rect : whole;
    r.left = std::max<A_long>(r.left, 0);
    r.top = std::max<A_long>(r.top, 0);
    r.right = std::min<A_long>(r.right, world->width);
    r.bottom = std::min<A_long>(r.bottom, world->height);
    if (r.left >= r.right || r.top >= r.bottom) return PF_Err_NONE;
    const PF_Pixel c = color ? *color : PF_Pixel{0, 0, 0, 0};
    unsigned char pixel[16];
    if (deep) {
        const float f[4] = {c.alpha / 255.f, c.red / 255.f, c.green / 255.f, c.blue / 255.f};
        std::memcpy(pixel, f, sizeof f);
    } else {
        std::memcpy(pixel, &c, sizeof c);
    }
    // Every effect clears its whole output each frame: a frame's worth of memset (transparent
    // black), or one row copied down, not a call per pixel.
    const bool one_byte =
        std::all_of(pixel + 1, pixel + pixel_bytes, [&](unsigned char b) { return b == pixel[0]; });
    const std::size_t row_bytes = std::size_t(r.right - r.left) * std::size_t(pixel_bytes);
    char* first = reinterpret_cast<char*>(world->data) + std::ptrdiff_t(r.top) * world->rowbytes +
                  std::ptrdiff_t(r.left) * pixel_bytes;
    for (A_long y = r.top; y < r.bottom; ++y) {
        char* row = first + std::ptrdiff_t(y - r.top) * world->rowbytes;
        if (one_byte) {
            std::memset(row, pixel[0], row_bytes);
        } else if (y == r.top) {
            for (std::size_t x = 0; x < row_bytes; x += std::size_t(pixel_bytes)) {
                std::memcpy(row + x, pixel, std::size_t(pixel_bytes));
            }
        } else {
            std::memcpy(row, first, row_bytes);
        }
    }
    return PF_Err_NONE;
}

// Our programs may write pictures or data to standard output (a frei0r host's video, `info
// --json`): the module's diagnostics go to standard error.
void WriteDiagnostic(const char* text) {
    if (text) std::fputs(text, stderr);
}
const VexoDiagnosticsSuite1 g_diagnostics_suite = {WriteDiagnostic};

struct BuiltIns {
    BuiltIns() {
        RegisterSuite(kPFHandleSuite, kPFHandleSuiteVersion1, &g_handle_suite);
        RegisterSuite(kPFANSISuite, kPFANSISuiteVersion1, &g_ansi_suite);
        RegisterSuite(kVexoDiagnosticsSuite, kVexoDiagnosticsSuiteVersion1, &g_diagnostics_suite);
    }
};
}  // namespace

SPBasicSuite* BasicSuite() {
    static BuiltIns built_ins;
    return &g_basic;
}

PF_UtilCallbacks* UtilCallbacks() { return &g_utils; }

void RegisterSuite(const char* name, int version, const void* table) {
    Registry& r = Reg();
    std::lock_guard<std::mutex> lock(r.mutex);
    r.suites[{name, version}] = table;
}

std::vector<std::string> OutstandingSuites() {
    Registry& r = Reg();
    std::lock_guard<std::mutex> lock(r.mutex);
    std::vector<std::string> out;
    for (const auto& [key, count] : r.outstanding) {
        for (int i = 0; i < count; ++i)
            out.push_back(key.first + " v" + std::to_string(key.second));
    }
    return out;
}

std::size_t LiveHandles() {
    Registry& r = Reg();
    std::lock_guard<std::mutex> lock(r.mutex);
    return r.handles.size();
}

#ifdef VEXO_HOST_TEST_HOOKS
std::vector<SuiteEvent> SuiteEvents() {
    Registry& r = Reg();
    std::lock_guard<std::mutex> lock(r.mutex);
    return r.events;
}

void ClearSuiteEvents() {
    Registry& r = Reg();
    std::lock_guard<std::mutex> lock(r.mutex);
    r.events.clear();
}

void WithholdSuite(const std::string& name, int version) {
    Registry& r = Reg();
    std::lock_guard<std::mutex> lock(r.mutex);
    r.withheld.insert({name, version});
}

void NullSuite(const std::string& name, int version) {
    Registry& r = Reg();
    std::lock_guard<std::mutex> lock(r.mutex);
    r.nulled.insert({name, version});
}

void FailCall(const std::string& call, PF_Err err, int times) {
    Registry& r = Reg();
    std::lock_guard<std::mutex> lock(r.mutex);
    r.failing[call] = {err, times};
}

PF_Err InjectedFailure(const char* call) {
    Registry& r = Reg();
    std::lock_guard<std::mutex> lock(r.mutex);
    auto it = r.failing.find(call);
    if (it == r.failing.end()) return PF_Err_NONE;
    const PF_Err err = it->second.first;
    if (it->second.second > 0 && --it->second.second == 0) r.failing.erase(it);
    return err;
}

void ClearFailures() {
    Registry& r = Reg();
    std::lock_guard<std::mutex> lock(r.mutex);
    r.withheld.clear();
    r.nulled.clear();
    r.failing.clear();
}
#endif

}  // namespace vexo_host
