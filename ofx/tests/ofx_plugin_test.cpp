// The OFX bundle loaded as a host loads it, through a minimal host of this file's own: load,
// describe, describe in the filter context, create an instance, regions, and frames at 8 bits and
// float compared with the standalone host's render of the same pixels and controls.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cctype>
#include <cmath>
#include <cstdarg>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "ofx/plugin/ofx_params.h"
#include "ofxCore.h"
#include "ofxImageEffect.h"
#include "ofxMessage.h"
#include "ofxParam.h"
#include "ofxProperty.h"
#include "params/param_table.h"
#include "standalone/render_host.h"
#include "standalone/session.h"

namespace {

// --- Property sets, typed: a read of the wrong type or past the dimension fails the test.
struct Prop {
    char type = 0;  // 'i' int, 'd' double, 's' string, 'p' pointer
    std::vector<int> ints;
    std::vector<double> doubles;
    std::vector<std::string> strings;
    std::vector<void*> pointers;
    int size() const {
        return int(type == 'i'   ? ints.size()
                   : type == 'd' ? doubles.size()
                   : type == 's' ? strings.size()
                                 : pointers.size());
    }
};

struct PropSet {
    std::map<std::string, Prop> props;
};

PropSet* P(OfxPropertySetHandle h) { return reinterpret_cast<PropSet*>(h); }
OfxPropertySetHandle H(PropSet* p) { return reinterpret_cast<OfxPropertySetHandle>(p); }

template <typename T>
std::vector<T>& Values(Prop& p);
template <>
std::vector<int>& Values(Prop& p) {
    return p.ints;
}
template <>
std::vector<double>& Values(Prop& p) {
    return p.doubles;
}
template <>
std::vector<std::string>& Values(Prop& p) {
    return p.strings;
}
template <>
std::vector<void*>& Values(Prop& p) {
    return p.pointers;
}

template <typename T>
OfxStatus Put(OfxPropertySetHandle h, const char* name, char type, int index, const T& value) {
    if (!h || index < 0) return kOfxStatErrBadIndex;
    Prop& p = P(h)->props[name];
    if (p.type && p.type != type) {
        ADD_FAILURE() << name << " set as '" << type << "', holds '" << p.type << "'";
        return kOfxStatErrValue;
    }
    p.type = type;
    std::vector<T>& v = Values<T>(p);
    if (int(v.size()) <= index) v.resize(std::size_t(index) + 1);
    v[std::size_t(index)] = value;
    return kOfxStatOK;
}

template <typename T>
OfxStatus Get(OfxPropertySetHandle h, const char* name, char type, int index, T* value) {
    if (!h) return kOfxStatErrBadHandle;
    auto it = P(h)->props.find(name);
    if (it == P(h)->props.end()) return kOfxStatErrUnknown;
    if (it->second.type != type) {
        ADD_FAILURE() << name << " read as '" << type << "', holds '" << it->second.type << "'";
        return kOfxStatErrValue;
    }
    std::vector<T>& v = Values<T>(it->second);
    if (index < 0 || index >= int(v.size())) return kOfxStatErrBadIndex;
    *value = v[std::size_t(index)];
    return kOfxStatOK;
}

OfxStatus SetPointer(OfxPropertySetHandle h, const char* n, int i, void* v) {
    return Put<void*>(h, n, 'p', i, v);
}
OfxStatus SetString(OfxPropertySetHandle h, const char* n, int i, const char* v) {
    return Put<std::string>(h, n, 's', i, v ? v : "");
}
OfxStatus SetDouble(OfxPropertySetHandle h, const char* n, int i, double v) {
    return Put<double>(h, n, 'd', i, v);
}
OfxStatus SetInt(OfxPropertySetHandle h, const char* n, int i, int v) {
    return Put<int>(h, n, 'i', i, v);
}
OfxStatus SetPointerN(OfxPropertySetHandle h, const char* n, int c, void* const* v) {
    for (int i = 0; i < c; ++i) Put<void*>(h, n, 'p', i, v[i]);
    return kOfxStatOK;
}
OfxStatus SetStringN(OfxPropertySetHandle h, const char* n, int c, const char* const* v) {
    for (int i = 0; i < c; ++i) Put<std::string>(h, n, 's', i, v[i]);
    return kOfxStatOK;
}
OfxStatus SetDoubleN(OfxPropertySetHandle h, const char* n, int c, const double* v) {
    for (int i = 0; i < c; ++i) Put<double>(h, n, 'd', i, v[i]);
    return kOfxStatOK;
}
OfxStatus SetIntN(OfxPropertySetHandle h, const char* n, int c, const int* v) {
    for (int i = 0; i < c; ++i) Put<int>(h, n, 'i', i, v[i]);
    return kOfxStatOK;
}
OfxStatus GetPointer(OfxPropertySetHandle h, const char* n, int i, void** v) {
    return Get<void*>(h, n, 'p', i, v);
}
OfxStatus GetString(OfxPropertySetHandle h, const char* n, int i, char** v) {
    if (!h) return kOfxStatErrBadHandle;
    auto it = P(h)->props.find(n);
    if (it == P(h)->props.end()) return kOfxStatErrUnknown;
    if (it->second.type != 's') {
        ADD_FAILURE() << n << " read as a string";
        return kOfxStatErrValue;
    }
    if (i < 0 || i >= int(it->second.strings.size())) return kOfxStatErrBadIndex;
    *v = const_cast<char*>(it->second.strings[std::size_t(i)].c_str());
    return kOfxStatOK;
}
OfxStatus GetDouble(OfxPropertySetHandle h, const char* n, int i, double* v) {
    return Get<double>(h, n, 'd', i, v);
}
OfxStatus GetInt(OfxPropertySetHandle h, const char* n, int i, int* v) {
    return Get<int>(h, n, 'i', i, v);
}
OfxStatus GetPointerN(OfxPropertySetHandle h, const char* n, int c, void** v) {
    for (int i = 0; i < c; ++i) {
        if (OfxStatus s = GetPointer(h, n, i, &v[i])) return s;
    }
    return kOfxStatOK;
}
OfxStatus GetStringN(OfxPropertySetHandle h, const char* n, int c, char** v) {
    for (int i = 0; i < c; ++i) {
        if (OfxStatus s = GetString(h, n, i, &v[i])) return s;
    }
    return kOfxStatOK;
}
OfxStatus GetDoubleN(OfxPropertySetHandle h, const char* n, int c, double* v) {
    for (int i = 0; i < c; ++i) {
        if (OfxStatus s = GetDouble(h, n, i, &v[i])) return s;
    }
    return kOfxStatOK;
}
OfxStatus GetIntN(OfxPropertySetHandle h, const char* n, int c, int* v) {
    for (int i = 0; i < c; ++i) {
        if (OfxStatus s = GetInt(h, n, i, &v[i])) return s;
    }
    return kOfxStatOK;
}
OfxStatus Reset(OfxPropertySetHandle, const char*) { return kOfxStatOK; }
OfxStatus Dimension(OfxPropertySetHandle h, const char* n, int* count) {
    auto it = P(h)->props.find(n);
    if (it == P(h)->props.end()) return kOfxStatErrUnknown;
    *count = it->second.size();
    return kOfxStatOK;
}

const OfxPropertySuiteV1 kPropertySuite = {
    SetPointer,  SetString,  SetDouble,  SetInt,    SetPointerN, SetStringN,
    SetDoubleN,  SetIntN,    GetPointer, GetString, GetDouble,   GetInt,
    GetPointerN, GetStringN, GetDoubleN, GetIntN,   Reset,       Dimension};

// --- Clips, images, parameters and effects.
struct Picture {
    OfxRectI bounds{};
    int bits = 8;
    bool flip_rows = false;  // negative row bytes
    std::vector<uint8_t> bytes;
    int RowBytes() const { return (bounds.x2 - bounds.x1) * 4 * bits / 8; }
    char* Row(int y) {
        const int row = flip_rows ? bounds.y2 - 1 - y : y - bounds.y1;
        return reinterpret_cast<char*>(bytes.data()) + std::ptrdiff_t(row) * RowBytes();
    }
};

struct Clip {
    PropSet props;
    Picture* picture = nullptr;
    std::vector<std::shared_ptr<PropSet>> images;
};

struct Param {
    PropSet props;
    std::string type;
    double d = 0;
    int i = 0;
};

struct Effect {
    PropSet props;
    PropSet param_set_props;
    std::map<std::string, Clip> clips;
    std::map<std::string, Param> params;
    std::vector<std::string> param_order;
};

int g_images_out = 0;  // fetched and not yet released

Effect* E(OfxImageEffectHandle h) { return reinterpret_cast<Effect*>(h); }
Effect* E(OfxParamSetHandle h) { return reinterpret_cast<Effect*>(h); }

OfxStatus GetPropertySet(OfxImageEffectHandle e, OfxPropertySetHandle* p) {
    *p = H(&E(e)->props);
    return kOfxStatOK;
}
OfxStatus GetParamSet(OfxImageEffectHandle e, OfxParamSetHandle* p) {
    *p = reinterpret_cast<OfxParamSetHandle>(e);
    return kOfxStatOK;
}
OfxStatus ClipDefine(OfxImageEffectHandle e, const char* name, OfxPropertySetHandle* p) {
    Clip& c = E(e)->clips[name];
    *p = H(&c.props);
    return kOfxStatOK;
}
OfxStatus ClipGetHandle(OfxImageEffectHandle e, const char* name, OfxImageClipHandle* clip,
                        OfxPropertySetHandle* p) {
    auto it = E(e)->clips.find(name);
    if (it == E(e)->clips.end()) return kOfxStatErrBadHandle;
    *clip = reinterpret_cast<OfxImageClipHandle>(&it->second);
    if (p) *p = H(&it->second.props);
    return kOfxStatOK;
}
Clip* C(OfxImageClipHandle h) { return reinterpret_cast<Clip*>(h); }
OfxStatus ClipGetPropertySet(OfxImageClipHandle c, OfxPropertySetHandle* p) {
    *p = H(&C(c)->props);
    return kOfxStatOK;
}
OfxStatus ClipGetImage(OfxImageClipHandle c, OfxTime, const OfxRectD*, OfxPropertySetHandle* h) {
    Clip* clip = C(c);
    if (!clip->picture) return kOfxStatFailed;
    Picture& pic = *clip->picture;
    auto image = std::make_shared<PropSet>();
    const OfxPropertySetHandle ih = H(image.get());
    SetPointer(ih, kOfxImagePropData, 0, pic.Row(pic.bounds.y1));
    const int b[4] = {pic.bounds.x1, pic.bounds.y1, pic.bounds.x2, pic.bounds.y2};
    SetIntN(ih, kOfxImagePropBounds, 4, b);
    SetIntN(ih, kOfxImagePropRegionOfDefinition, 4, b);
    SetInt(ih, kOfxImagePropRowBytes, 0, pic.flip_rows ? -pic.RowBytes() : pic.RowBytes());
    SetString(ih, kOfxImageEffectPropPixelDepth, 0,
              pic.bits == 8    ? kOfxBitDepthByte
              : pic.bits == 16 ? kOfxBitDepthShort
                               : kOfxBitDepthFloat);
    SetString(ih, kOfxImageEffectPropComponents, 0, kOfxImageComponentRGBA);
    SetString(ih, kOfxImageEffectPropPreMultiplication, 0, kOfxImagePreMultiplied);
    SetDouble(ih, kOfxImagePropPixelAspectRatio, 0, 1.0);
    *h = ih;
    ++g_images_out;
    clip->images.push_back(std::move(image));
    return kOfxStatOK;
}
OfxStatus ClipReleaseImage(OfxPropertySetHandle) {
    --g_images_out;
    return kOfxStatOK;
}
OfxStatus ClipGetRegionOfDefinition(OfxImageClipHandle c, OfxTime, OfxRectD* r) {
    Clip* clip = C(c);
    if (!clip->picture) return kOfxStatFailed;
    const OfxRectI& b = clip->picture->bounds;
    *r = OfxRectD{double(b.x1), double(b.y1), double(b.x2), double(b.y2)};
    return kOfxStatOK;
}
int Abort(OfxImageEffectHandle) { return 0; }

const OfxImageEffectSuiteV1 kEffectSuite = {GetPropertySet,
                                            GetParamSet,
                                            ClipDefine,
                                            ClipGetHandle,
                                            ClipGetPropertySet,
                                            ClipGetImage,
                                            ClipReleaseImage,
                                            ClipGetRegionOfDefinition,
                                            Abort,
                                            nullptr,
                                            nullptr,
                                            nullptr,
                                            nullptr};

Param* Pa(OfxParamHandle h) { return reinterpret_cast<Param*>(h); }
OfxStatus ParamDefine(OfxParamSetHandle s, const char* type, const char* name,
                      OfxPropertySetHandle* p) {
    Effect* e = E(s);
    if (e->params.count(name)) {
        ADD_FAILURE() << "parameter " << name << " defined twice";
        return kOfxStatErrExists;
    }
    Param& param = e->params[name];
    param.type = type;
    e->param_order.push_back(name);
    SetString(H(&param.props), kOfxParamPropType, 0, type);
    SetString(H(&param.props), kOfxPropName, 0, name);
    if (p) *p = H(&param.props);
    return kOfxStatOK;
}
OfxStatus ParamGetHandle(OfxParamSetHandle s, const char* name, OfxParamHandle* h,
                         OfxPropertySetHandle* p) {
    auto it = E(s)->params.find(name);
    if (it == E(s)->params.end()) return kOfxStatErrUnknown;
    *h = reinterpret_cast<OfxParamHandle>(&it->second);
    if (p) *p = H(&it->second.props);
    return kOfxStatOK;
}
OfxStatus ParamSetGetPropertySet(OfxParamSetHandle s, OfxPropertySetHandle* p) {
    *p = H(&E(s)->param_set_props);
    return kOfxStatOK;
}
OfxStatus ParamGetPropertySet(OfxParamHandle h, OfxPropertySetHandle* p) {
    *p = H(&Pa(h)->props);
    return kOfxStatOK;
}
bool IsDouble(const Param& p) { return p.type == kOfxParamTypeDouble; }
bool IsInt(const Param& p) {
    return p.type == kOfxParamTypeChoice || p.type == kOfxParamTypeBoolean;
}
OfxStatus Read(Param* p, va_list args) {
    if (IsDouble(*p)) {
        *va_arg(args, double*) = p->d;
    } else if (IsInt(*p)) {
        *va_arg(args, int*) = p->i;
    } else {
        ADD_FAILURE() << "value of a " << p->type << " read";
        return kOfxStatErrBadHandle;
    }
    return kOfxStatOK;
}
OfxStatus Write(Param* p, va_list args) {
    if (IsDouble(*p)) {
        p->d = va_arg(args, double);
    } else if (IsInt(*p)) {
        p->i = va_arg(args, int);
    } else {
        return kOfxStatErrBadHandle;
    }
    return kOfxStatOK;
}
OfxStatus ParamGetValue(OfxParamHandle h, ...) {
    va_list args;
    va_start(args, h);
    const OfxStatus s = Read(Pa(h), args);
    va_end(args);
    return s;
}
OfxStatus ParamGetValueAtTime(OfxParamHandle h, OfxTime time, ...) {
    va_list args;
    va_start(args, time);
    const OfxStatus s = Read(Pa(h), args);
    va_end(args);
    return s;
}
OfxStatus ParamSetValue(OfxParamHandle h, ...) {
    va_list args;
    va_start(args, h);
    const OfxStatus s = Write(Pa(h), args);
    va_end(args);
    return s;
}
OfxStatus ParamDeleteAllKeys(OfxParamHandle) { return kOfxStatOK; }
OfxStatus ParamEdit(OfxParamSetHandle, const char*) { return kOfxStatOK; }
OfxStatus ParamEditEnd(OfxParamSetHandle) { return kOfxStatOK; }

OfxParameterSuiteV1 MakeParameterSuite() {
    OfxParameterSuiteV1 s{};
    s.paramDefine = ParamDefine;
    s.paramGetHandle = ParamGetHandle;
    s.paramSetGetPropertySet = ParamSetGetPropertySet;
    s.paramGetPropertySet = ParamGetPropertySet;
    s.paramGetValue = ParamGetValue;
    s.paramGetValueAtTime = ParamGetValueAtTime;
    s.paramSetValue = ParamSetValue;
    s.paramDeleteAllKeys = ParamDeleteAllKeys;
    s.paramEditBegin = ParamEdit;
    s.paramEditEnd = ParamEditEnd;
    return s;
}
const OfxParameterSuiteV1 kParameterSuite = MakeParameterSuite();

std::vector<std::string> g_messages;
OfxStatus Message(void*, const char*, const char*, const char* format, ...) {
    char text[1024];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    g_messages.push_back(text);
    return kOfxStatOK;
}
const OfxMessageSuiteV1 kMessageSuite = {Message};

PropSet g_host_props;
const void* FetchSuite(OfxPropertySetHandle, const char* name, int version) {
    if (version != 1) return nullptr;
    if (!std::strcmp(name, kOfxPropertySuite)) return &kPropertySuite;
    if (!std::strcmp(name, kOfxImageEffectSuite)) return &kEffectSuite;
    if (!std::strcmp(name, kOfxParameterSuite)) return &kParameterSuite;
    if (!std::strcmp(name, kOfxMessageSuite)) return &kMessageSuite;
    return nullptr;
}
OfxHost g_host = {H(&g_host_props), FetchSuite};

// --- The test.

// The first word lowered, every later word capitalised, whatever is not a letter or digit left
// out: "Translate X" is translateX.
std::string LowerCamel(const std::string& label) {
    std::string out;
    bool word_start = true;
    for (char c : label) {
        const auto u = static_cast<unsigned char>(c);
        if (!std::isalnum(u)) {
            word_start = true;
            continue;
        }
        out += out.empty() ? char(std::tolower(u)) : word_start ? char(std::toupper(u)) : c;
        word_start = false;
    }
    return out;
}

struct Plugin {
    void* lib = nullptr;
    OfxPlugin* plugin = nullptr;
    OfxStatus Call(const char* action, const void* handle, PropSet* in = nullptr,
                   PropSet* out = nullptr) {
        return plugin->mainEntry(action, handle, in ? H(in) : nullptr, out ? H(out) : nullptr);
    }
};

constexpr int kW = 61, kH = 37;

// The same pixels as the standalone host's world (alpha first, rows from the top) and as an
// OFX image (red first, rows from the bottom).
vexo_host::World TestWorld(int depth) {
    vexo_host::World w = vexo_host::MakeWorld(kW, kH, depth);
    for (int y = 0; y < kH; ++y) {
        for (int x = 0; x < kW; ++x) {
            const float a = (x + y) % 5 == 0 ? 0.6f : 1.0f;
            const float c[3] = {float((x * 7 + y * 3) % 256) / 255.0f,
                                float((x * y) % 256) / 255.0f, float((255 - x * 4) % 256) / 255.0f};
            vexo_host::SetChannel(&w, x, y, 0, a);
            for (int i = 0; i < 3; ++i)
                vexo_host::SetChannel(&w, x, y, i + 1, std::round(c[i] * a * 255.0f) / 255.0f);
        }
    }
    return w;
}

Picture ToPicture(const vexo_host::World& w, bool flip_rows) {
    Picture pic;
    pic.bits = w.depth == 32 ? 32 : 8;
    pic.bounds = OfxRectI{0, 0, w.def.width, w.def.height};
    pic.flip_rows = flip_rows;
    pic.bytes.assign(std::size_t(pic.RowBytes()) * w.def.height, 0);
    for (int y = 0; y < w.def.height; ++y) {
        char* row = pic.Row(w.def.height - 1 - y);
        for (int x = 0; x < w.def.width; ++x) {
            for (int c = 0; c < 4; ++c) {
                const float v = vexo_host::GetChannel(w, x, y, (c + 1) % 4);
                if (pic.bits == 8) {
                    reinterpret_cast<uint8_t*>(row)[x * 4 + c] = uint8_t(std::lround(v * 255.0f));
                } else {
                    reinterpret_cast<float*>(row)[x * 4 + c] = v;
                }
            }
        }
    }
    return pic;
}

class OfxPluginTest : public ::testing::Test {
  protected:
    void SetUp() override {
        plugin_.lib = dlopen(VEXO_OFX_BINARY, RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(plugin_.lib, nullptr) << dlerror();
        auto set_host =
            reinterpret_cast<OfxStatus (*)(const OfxHost*)>(dlsym(plugin_.lib, "OfxSetHost"));
        auto count = reinterpret_cast<int (*)()>(dlsym(plugin_.lib, "OfxGetNumberOfPlugins"));
        auto get = reinterpret_cast<OfxPlugin* (*)(int)>(dlsym(plugin_.lib, "OfxGetPlugin"));
        ASSERT_TRUE(set_host && count && get);
        ASSERT_EQ(set_host(&g_host), kOfxStatOK);
        ASSERT_EQ(count(), 1);
        plugin_.plugin = get(0);
        ASSERT_NE(plugin_.plugin, nullptr);
        plugin_.plugin->setHost(&g_host);
        ASSERT_EQ(plugin_.Call(kOfxActionLoad, nullptr), kOfxStatOK);
        ASSERT_EQ(plugin_.Call(kOfxActionDescribe, &descriptor_), kOfxStatOK);
        PropSet in;
        SetString(H(&in), kOfxImageEffectPropContext, 0, kOfxImageEffectContextFilter);
        ASSERT_EQ(plugin_.Call(kOfxImageEffectActionDescribeInContext, &descriptor_, &in),
                  kOfxStatOK);
    }
    void TearDown() override {
        if (plugin_.plugin) {
            EXPECT_EQ(plugin_.Call(kOfxActionUnload, nullptr), kOfxStatOK);
        }
        if (plugin_.lib) dlclose(plugin_.lib);
    }

    // An instance made from the descriptor as a host makes one.
    std::unique_ptr<Effect> CreateInstance(const Effect& descriptor,
                                           const char* context = kOfxImageEffectContextFilter) {
        auto instance = std::make_unique<Effect>(descriptor);
        SetString(H(&instance->props), kOfxImageEffectPropContext, 0, context);
        for (auto& [name, param] : instance->params) {
            if (IsDouble(param)) GetDouble(H(&param.props), kOfxParamPropDefault, 0, &param.d);
            if (IsInt(param)) GetInt(H(&param.props), kOfxParamPropDefault, 0, &param.i);
        }
        for (auto& [name, clip] : instance->clips) {
            SetInt(H(&clip.props), kOfxImageClipPropConnected, 0, 1);
            SetDouble(H(&clip.props), kOfxImagePropPixelAspectRatio, 0, 1.0);
        }
        EXPECT_EQ(plugin_.Call(kOfxActionCreateInstance, instance.get()), kOfxStatOK);
        return instance;
    }

    Plugin plugin_;
    Effect descriptor_;
};

TEST_F(OfxPluginTest, DescribesOnePluginWithTheControlsAsParameters) {
    const OfxPlugin& p = *plugin_.plugin;
    EXPECT_STREQ(p.pluginApi, kOfxImageEffectPluginApi);
    EXPECT_STREQ(p.pluginIdentifier, "pro.vexorant.VexorantPro");
    EXPECT_EQ(p.pluginVersionMajor, 1u);
    EXPECT_EQ(p.pluginVersionMinor, 1u);
    char* text = nullptr;
    ASSERT_EQ(GetString(H(&descriptor_.props), kOfxPropLabel, 0, &text), kOfxStatOK);
    EXPECT_STREQ(text, "Vexorant Pro");
    ASSERT_EQ(GetString(H(&descriptor_.props), kOfxImageEffectPluginPropGrouping, 0, &text),
              kOfxStatOK);
    EXPECT_STREQ(text, "Vexorant");
    EXPECT_EQ(descriptor_.clips.size(), 2u);
    EXPECT_TRUE(descriptor_.clips.count("Source") && descriptor_.clips.count("Output"));

    // Every control but the map layer and the group ends, in order, under its pinned name, which
    // is the control's name in lowerCamelCase; the choices' options are the entries without
    // separators.
    std::vector<std::string> expected;
    for (int index = kParamChannel; index < kParamCount; ++index) {
        const ParamRow& row = *FindParamRow(index);
        if (row.type == PF_Param_GROUP_END) continue;
        const std::string label = row.name && *row.name ? row.name : row.text;
        expected.push_back(LowerCamel(label));
        const Param& param = descriptor_.params.at(expected.back());
        char* shown = nullptr;
        ASSERT_EQ(GetString(H(const_cast<PropSet*>(&param.props)), kOfxPropLabel, 0, &shown),
                  kOfxStatOK);
        EXPECT_EQ(label, shown);
        if (row.type != PF_Param_POPUP) continue;
        std::vector<std::string> options;
        std::string entry;
        for (const char* c = row.text;; ++c) {
            if (*c == '|' || !*c) {
                if (entry.rfind("(-", 0) != 0) options.push_back(entry);
                entry.clear();
                if (!*c) break;
            } else {
                entry += *c;
            }
        }
        Prop choice = param.props.props.at(kOfxParamPropChoiceOption);
        EXPECT_EQ(choice.strings, options) << expected.back();
    }
    EXPECT_EQ(descriptor_.param_order, expected);
    EXPECT_EQ(descriptor_.params.at("translateX").props.props.at(kOfxParamPropDefault).doubles,
              std::vector<double>{0.0});
    EXPECT_EQ(descriptor_.params.at("scaleX").props.props.at(kOfxParamPropMax).doubles,
              std::vector<double>{1000.0});
    EXPECT_EQ(descriptor_.params.at("debug").props.props.at(kOfxParamPropSecret).ints,
              std::vector<int>{1});
}

TEST_F(OfxPluginTest, FramesEqualTheStandaloneHostsRender) {
    vexo_host::Session session;
    std::string error;
    ASSERT_TRUE(vexo_host::OpenSession(VEXO_MODULE_PATH, &session, &error)) << error;
    {
        std::unique_ptr<Effect> instance = CreateInstance(descriptor_);
        struct Setting {
            const char* name;
            PF_ParamIndex index;
            double value;
        };
        const std::vector<std::vector<Setting>> cases = {
            {},
            {{"translateX", kParamTranslateX, 10}},
            {{"rotate", kParamRotate, 5}, {"translateY", kParamTranslateY, -7}},
        };
        for (int depth : {8, 32}) {
            for (const auto& settings : cases) {
                const std::string what =
                    std::to_string(depth) + " bits, " +
                    (settings.empty() ? std::string("defaults") : settings[0].name);
                vexo_host::Instance standalone(&session.effect);
                ASSERT_EQ(vexo_host::SetupInstance(&standalone), PF_Err_NONE);
                for (auto& [name, param] : instance->params) {
                    if (IsDouble(param))
                        GetDouble(H(&param.props), kOfxParamPropDefault, 0, &param.d);
                }
                for (const Setting& s : settings) {
                    instance->params.at(s.name).d = s.value;
                    ASSERT_EQ(vexo_host::UserSetValue(&standalone, s.index, s.value), PF_Err_NONE);
                }
                const vexo_host::World input = TestWorld(depth);
                vexo_host::World expected;
                std::vector<std::string> problems;
                vexo_host::FrameOptions options;
                options.depth = depth;
                ASSERT_EQ(
                    vexo_host::RenderFrame(&standalone, vexo_host::FrameLayers{&input, nullptr},
                                           options, &expected, &problems),
                    PF_Err_NONE)
                    << what;

                Picture source = ToPicture(input, depth == 32);  // float rows bottom up in memory
                Picture output;
                output.bits = depth;
                output.bounds = source.bounds;
                output.bytes.assign(std::size_t(output.RowBytes()) * kH, 0xAB);
                for (auto& [name, clip] : instance->clips) {
                    SetString(H(&clip.props), kOfxImageEffectPropPixelDepth, 0,
                              depth == 8 ? kOfxBitDepthByte : kOfxBitDepthFloat);
                    SetString(H(&clip.props), kOfxImageEffectPropPreMultiplication, 0,
                              kOfxImagePreMultiplied);
                }
                instance->clips.at("Source").picture = &source;
                instance->clips.at("Output").picture = &output;

                PropSet in, out;
                SetDouble(H(&in), kOfxPropTime, 0, 0.0);
                const double scale[2] = {1.0, 1.0};
                SetDoubleN(H(&in), kOfxImageEffectPropRenderScale, 2, scale);
                ASSERT_EQ(plugin_.Call(kOfxImageEffectActionGetRegionOfDefinition, instance.get(),
                                       &in, &out),
                          kOfxStatOK);
                EXPECT_EQ(out.props.at(kOfxImageEffectPropRegionOfDefinition).doubles,
                          (std::vector<double>{0, 0, kW, kH}));
                // A window in the middle reads around itself, by how far the controls displace.
                const double asked[4] = {20, 10, 30, 20};
                SetDoubleN(H(&in), kOfxImageEffectPropRegionOfInterest, 4, asked);
                PropSet roi;
                ASSERT_EQ(plugin_.Call(kOfxImageEffectActionGetRegionsOfInterest, instance.get(),
                                       &in, &roi),
                          kOfxStatOK);
                const std::vector<double> reach =
                    roi.props.at("OfxImageClipPropRoI_Source").doubles;
                ASSERT_EQ(reach.size(), 4u);
                EXPECT_LE(reach[0], 20) << what;
                EXPECT_GE(reach[2], 30) << what;
                // 10 % of the width is 6.1 pixels, and the filter reads around; a float map's
                // values have no bound.
                if (settings.size() == 1 && depth == 8) {
                    EXPECT_GT(reach[2] - reach[0], 10 + 6) << what;
                    EXPECT_LT(reach[2] - reach[0], kW) << what;
                }

                const int window[4] = {0, 0, kW, kH};
                SetIntN(H(&in), kOfxImageEffectPropRenderWindow, 4, window);
                SetString(H(&in), kOfxImageEffectPropFieldToRender, 0, kOfxImageFieldNone);
                ASSERT_EQ(plugin_.Call(kOfxImageEffectActionRender, instance.get(), &in),
                          kOfxStatOK)
                    << what << (g_messages.empty() ? "" : ": " + g_messages.back());

                ASSERT_EQ(expected.def.width, kW);
                ASSERT_EQ(expected.def.height, kH);
                int differing = 0;
                for (int y = 0; y < kH; ++y) {
                    const char* row = output.Row(kH - 1 - y);
                    for (int x = 0; x < kW; ++x) {
                        for (int c = 0; c < 4; ++c) {
                            const float want = vexo_host::GetChannel(expected, x, y, (c + 1) % 4);
                            const float got =
                                depth == 8
                                    ? reinterpret_cast<const uint8_t*>(row)[x * 4 + c] / 255.0f
                                    : reinterpret_cast<const float*>(row)[x * 4 + c];
                            if (want != got && differing++ < 5) {
                                ADD_FAILURE() << what << ": pixel " << x << "," << y << " channel "
                                              << c << ": " << got << " for " << want;
                            }
                        }
                    }
                }
                EXPECT_EQ(differing, 0) << what;
                EXPECT_EQ(g_images_out, 0) << what << ": images left unreleased";
                EXPECT_EQ(source.bytes.size(), std::size_t(source.RowBytes()) * kH);
            }
        }
        EXPECT_EQ(plugin_.Call(kOfxActionDestroyInstance, instance.get()), kOfxStatOK);
    }
    vexo_host::CloseSession(&session);
}

// The general context's optional map clip is the map layer: a second picture displaces the first
// as the standalone host's map layer does.
TEST_F(OfxPluginTest, TheGeneralContextsMapClipIsTheMapLayer) {
    Effect general;
    ASSERT_EQ(plugin_.Call(kOfxActionDescribe, &general), kOfxStatOK);
    PropSet in_context;
    SetString(H(&in_context), kOfxImageEffectPropContext, 0, kOfxImageEffectContextGeneral);
    ASSERT_EQ(plugin_.Call(kOfxImageEffectActionDescribeInContext, &general, &in_context),
              kOfxStatOK);
    ASSERT_EQ(general.clips.size(), 3u);
    int optional = 0;
    ASSERT_EQ(GetInt(H(&general.clips.at("Map").props), kOfxImageClipPropOptional, 0, &optional),
              kOfxStatOK);
    EXPECT_EQ(optional, 1);

    vexo_host::Session session;
    std::string error;
    ASSERT_TRUE(vexo_host::OpenSession(VEXO_MODULE_PATH, &session, &error)) << error;
    {
        std::unique_ptr<Effect> instance = CreateInstance(general, kOfxImageEffectContextGeneral);
        vexo_host::Instance standalone(&session.effect);
        ASSERT_EQ(vexo_host::SetupInstance(&standalone), PF_Err_NONE);
        instance->params.at("translateX").d = 12;
        instance->params.at("translateY").d = 9;
        ASSERT_EQ(vexo_host::UserSetValue(&standalone, kParamTranslateX, 12), PF_Err_NONE);
        ASSERT_EQ(vexo_host::UserSetValue(&standalone, kParamTranslateY, 9), PF_Err_NONE);

        const vexo_host::World input = TestWorld(8);
        vexo_host::World map = vexo_host::MakeWorld(kW, kH, 8);
        for (int y = 0; y < kH; ++y) {
            for (int x = 0; x < kW; ++x) {
                for (int c = 0; c < 4; ++c) {
                    vexo_host::SetChannel(&map, x, y, c, c == 0 ? 1.0f : float(x % 16) / 15.0f);
                }
            }
        }
        vexo_host::World expected;
        std::vector<std::string> problems;
        ASSERT_EQ(vexo_host::RenderFrame(&standalone, vexo_host::FrameLayers{&input, &map},
                                         vexo_host::FrameOptions{}, &expected, &problems),
                  PF_Err_NONE);

        Picture source = ToPicture(input, false), map_picture = ToPicture(map, true), output;
        output.bits = 8;
        output.bounds = source.bounds;
        output.bytes.assign(std::size_t(output.RowBytes()) * kH, 0xAB);
        for (auto& [name, clip] : instance->clips) {
            SetString(H(&clip.props), kOfxImageEffectPropPixelDepth, 0, kOfxBitDepthByte);
        }
        instance->clips.at("Source").picture = &source;
        instance->clips.at("Map").picture = &map_picture;
        instance->clips.at("Output").picture = &output;
        PropSet in;
        SetDouble(H(&in), kOfxPropTime, 0, 0.0);
        const double scale[2] = {1.0, 1.0};
        SetDoubleN(H(&in), kOfxImageEffectPropRenderScale, 2, scale);
        const int window[4] = {0, 0, kW, kH};
        SetIntN(H(&in), kOfxImageEffectPropRenderWindow, 4, window);
        ASSERT_EQ(plugin_.Call(kOfxImageEffectActionRender, instance.get(), &in), kOfxStatOK);
        int differing = 0;
        for (int y = 0; y < kH; ++y) {
            const auto* row = reinterpret_cast<const uint8_t*>(output.Row(kH - 1 - y));
            for (int x = 0; x < kW; ++x) {
                for (int c = 0; c < 4; ++c) {
                    const float want = vexo_host::GetChannel(expected, x, y, (c + 1) % 4);
                    if (std::lround(want * 255.0f) != row[x * 4 + c]) ++differing;
                }
            }
        }
        EXPECT_EQ(differing, 0);
        EXPECT_EQ(g_images_out, 0);
        EXPECT_EQ(plugin_.Call(kOfxActionDestroyInstance, instance.get()), kOfxStatOK);
    }
    vexo_host::CloseSession(&session);
}

}  // namespace
