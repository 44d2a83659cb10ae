// The OFX bundle driven by the strict test host: what it declares, and a table of settings whose
// frames must be the standalone host's render of the same pictures and controls, at every depth
// and alpha, in windows and split across threads, with no rule of the API broken.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "host.h"
#include "ofx/plugin/ofx_params.h"
#include "params/param_table.h"
#include "standalone/render_host.h"
#include "standalone/session.h"

namespace {

namespace ofx = vexo::ofxhost;

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

ofx::SessionPtr Open(const ofx::Options& options) {
    std::string error;
    ofx::SessionPtr session = ofx::OpenBundle(VEXO_OFX_BUNDLE, options, &error);
    EXPECT_TRUE(session) << error;
    return session;
}

ofx::Options Described(const char* context) {
    ofx::Options options;
    options.plugin_id = kOfxPluginIdentifier;
    options.context = context;
    return options;
}

TEST(OfxPlugin, DescribesTheControlsAsParameters) {
    ofx::SessionPtr s = Open(Described(kOfxImageEffectContextFilter));
    ASSERT_TRUE(s);
    const auto one = [](std::string text) { return std::vector<std::string>{std::move(text)}; };
    EXPECT_EQ(ofx::Described(*s, "", kOfxPropLabel), one("Vexorant Pro"));
    EXPECT_EQ(ofx::Described(*s, "", kOfxImageEffectPluginPropGrouping), one("Vexorant"));
    EXPECT_EQ(ofx::Described(*s, "", kOfxPropVersion), (std::vector<std::string>{"1", "1"}));
    EXPECT_FALSE(ofx::Described(*s, kOfxImageEffectSimpleSourceClipName, kOfxPropName).empty());
    EXPECT_TRUE(ofx::Described(*s, "Map", kOfxPropName).empty());

    // Every control but the map layer and the group ends, in order, under its pinned name, which
    // is the control's name in lowerCamelCase; the choices' options are the entries without
    // separators.
    std::vector<std::string> expected;
    for (int index = kParamChannel; index < kParamCount; ++index) {
        const ParamRow& row = *FindParamRow(index);
        if (row.type == PF_Param_GROUP_END) continue;
        const std::string label = row.name && *row.name ? row.name : row.text;
        expected.push_back(LowerCamel(label));
        const std::string param = "param:" + expected.back();
        EXPECT_EQ(ofx::Described(*s, param, kOfxPropLabel), one(label));
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
        EXPECT_EQ(ofx::Described(*s, param, kOfxParamPropChoiceOption), options) << param;
    }
    EXPECT_EQ(ofx::ParamNames(*s), expected);
    EXPECT_EQ(ofx::Described(*s, "param:translateX", kOfxParamPropDefault), one("0"));
    EXPECT_EQ(ofx::Described(*s, "param:scaleX", kOfxParamPropMax), one("1000"));
    EXPECT_EQ(ofx::Described(*s, "param:debug", kOfxParamPropSecret), one("1"));

    ofx::SessionPtr general = Open(Described(kOfxImageEffectContextGeneral));
    ASSERT_TRUE(general);
    EXPECT_EQ(ofx::Described(*general, "Map", kOfxImageClipPropOptional), one("1"));
}

// Seeded noise, premultiplied, y up: some pixels clear, some opaque, the rest between; at byte
// precision where `bytes`, so that every depth holds it exactly.
ofx::Picture Noise(int width, int height, int origin_x, int origin_y, unsigned seed, bool bytes) {
    std::mt19937 random(seed);
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    ofx::Picture picture{width, height, origin_x, origin_y, {}};
    const auto held = [&](float v) { return bytes ? std::round(v * 255.0f) / 255.0f : v; };
    for (int i = 0; i < width * height; ++i) {
        const float pick = unit(random);
        const float a = held(pick < 0.1f ? 0.0f : pick < 0.4f ? 1.0f : unit(random));
        for (int c = 0; c < 3; ++c) picture.rgba.push_back(held(unit(random) * a));
        picture.rgba.push_back(a);
    }
    return picture;
}

// --- Edits: the rules and buttons act through instance-changed, as in the host's interface.

struct EditRow {
    const char* name;
    std::vector<std::pair<const char*, double>> edits;  // a user's, in order
    const char* button;                                 // pressed after the edits, if any
    std::vector<std::pair<const char*, double>> values;
    // Parameter, property, text: how a control is shown.
    std::vector<std::tuple<const char*, const char*, const char*>> shown;
};

void PrintTo(const EditRow& row, std::ostream* out) { *out << row.name; }

const EditRow kEditRows[] = {
    {"UniformScaleAtCreation",
     {},
     nullptr,
     {},
     {{"scaleY", kOfxParamPropEnabled, "0"}, {"scaleX", kOfxPropLabel, "Scale"}}},
    {"UniformScaleOff",
     {{"uniformScale", 0}},
     nullptr,
     {},
     {{"scaleY", kOfxParamPropEnabled, "1"}, {"scaleX", kOfxPropLabel, "Scale X"}}},
    {"ResetTransforms",
     {{"translateX", 12}, {"rotate", 30}, {"uniformScale", 0}, {"scaleY", 50}, {"red", 0.5}},
     "resetTransforms",
     {{"translateX", 0}, {"rotate", 0}, {"uniformScale", 1}, {"scaleY", 100}, {"red", 0.5}},
     {{"scaleY", kOfxParamPropEnabled, "0"}}},
    {"ResetMultipliers",
     {{"translateX", 12}, {"red", 0.5}, {"blue", 2}},
     "resetMultipliers",
     {{"translateX", 12}, {"red", 1}, {"blue", 1}},
     {}},
    {"ResetAdjustments",
     {{"invertMap", 1}, {"mapGamma", 2}, {"displacementEasing", 2}, {"channel", 0}},
     "resetAdjustments",
     {{"invertMap", 0}, {"mapGamma", 1}, {"displacementEasing", 0}, {"channel", 0}},
     {}},
};

class OfxEdits : public testing::TestWithParam<EditRow> {};

TEST_P(OfxEdits, ActThroughInstanceChanged) {
    const EditRow& row = GetParam();
    ofx::SessionPtr s = Open(Described(kOfxImageEffectContextFilter));
    ASSERT_TRUE(s);
    ofx::SetInput(*s, kOfxImageEffectSimpleSourceClipName, Noise(4, 4, 0, 0, 1, true));
    ASSERT_EQ(ofx::CreateInstance(*s), kOfxStatOK);
    for (const auto& [name, value] : row.edits) {
        EXPECT_EQ(ofx::SetParam(*s, name, 0, {{value}, ""}), kOfxStatOK) << name;
    }
    if (row.button) {
        EXPECT_EQ(ofx::PressButton(*s, row.button, 0), kOfxStatOK);
    }
    for (const auto& [name, value] : row.values) {
        EXPECT_EQ(ofx::GetParam(*s, name).numbers, std::vector<double>{value}) << name;
    }
    for (const auto& [name, property, text] : row.shown) {
        EXPECT_EQ(ofx::Described(*s, std::string("param:") + name, property),
                  std::vector<std::string>{text})
            << name << " " << property;
    }
    for (const std::string& violation : ofx::Violations(*s)) ADD_FAILURE() << violation;
}

INSTANTIATE_TEST_SUITE_P(Rows, OfxEdits, testing::ValuesIn(kEditRows),
                         [](const testing::TestParamInfo<EditRow>& info) {
                             return std::string(info.param.name);
                         });

// Purging the caches drops what the renders keep; the next frame is drawn anew, alike.
TEST(OfxPlugin, RendersAlikeAfterPurgingCaches) {
    ofx::SessionPtr s = Open(Described(kOfxImageEffectContextFilter));
    ASSERT_TRUE(s);
    ofx::SetInput(*s, kOfxImageEffectSimpleSourceClipName, Noise(61, 37, 0, 0, 5, false));
    ofx::SetParam(*s, "translateX", 0, {{7}, ""});
    ofx::SetParam(*s, "mapSoftness", 0, {{3}, ""});
    ASSERT_EQ(ofx::CreateInstance(*s), kOfxStatOK);
    ofx::Frame before, after;
    ASSERT_EQ(ofx::RenderFrame(*s, 0, {0, 0, 61, 37}, &before), kOfxStatOK);
    EXPECT_EQ(ofx::PurgeCaches(*s), kOfxStatOK);
    ASSERT_EQ(ofx::RenderFrame(*s, 0, {0, 0, 61, 37}, &after), kOfxStatOK);
    EXPECT_EQ(after.render_calls, 1);
    EXPECT_EQ(after.raw, before.raw);
    for (const std::string& violation : ofx::Violations(*s)) ADD_FAILURE() << violation;
}

// A turn is a turn as the picture is seen: at a quarter turn, a point 8 pixels right of the
// anchor lands 8 pixels' width (8 times the aspect ratio in rows) above or below it.
TEST(OfxPlugin, TurnsAsThePictureIsSeenWhateverThePixelsShape) {
    for (const double aspect : {2.0, 1.0, 0.5}) {
        SCOPED_TRACE(aspect);
        ofx::Options options = Described(kOfxImageEffectContextGeneral);
        options.pixel_aspect = aspect;
        ofx::SessionPtr s = Open(options);
        ASSERT_TRUE(s);
        ofx::Picture dot{64, 64, 0, 0, std::vector<float>(64 * 64 * 4, 0.0f)};
        ofx::Picture white{64, 64, 0, 0, std::vector<float>(64 * 64 * 4, 1.0f)};
        for (int y : {31, 32}) {
            for (int x : {39, 40}) std::fill_n(&dot.rgba[(y * 64 + x) * 4], 4, 1.0f);
        }
        ofx::SetInput(*s, kOfxImageEffectSimpleSourceClipName, dot);
        ofx::SetInput(*s, "Map", white);
        ofx::SetParam(*s, "rotate", 0, {{90}, ""});
        ofx::SetParam(*s, "anchorX", 0, {{50}, ""});
        ofx::SetParam(*s, "anchorY", 0, {{50}, ""});
        ASSERT_EQ(ofx::CreateInstance(*s), kOfxStatOK);
        ofx::Frame frame;
        ASSERT_EQ(ofx::RenderFrame(*s, 0, {0, 0, 64, 64}, &frame), kOfxStatOK);
        double sum = 0, x_sum = 0, y_sum = 0;
        for (int y = 0; y < 64; ++y) {
            for (int x = 0; x < 64; ++x) {
                const double a = frame.picture.rgba[(y * 64 + x) * 4 + 3];
                sum += a, x_sum += a * (x + 0.5), y_sum += a * (y + 0.5);
            }
        }
        ASSERT_GT(sum, 0);
        EXPECT_NEAR(x_sum / sum, 32, 0.25);
        EXPECT_NEAR(std::fabs(y_sum / sum - 32), 8 * aspect, 0.25);
        for (const std::string& violation : ofx::Violations(*s)) ADD_FAILURE() << violation;
    }
}

// --- The render table.

// The same pixels as the standalone host's layer: alpha first, rows from the top, placed by its
// origin as a layer of the composition the source starts.
vexo_host::World ToWorld(const ofx::Picture& picture, int depth, int frame_height) {
    vexo_host::World world = vexo_host::MakeWorld(picture.width, picture.height, depth);
    for (int y = 0; y < picture.height; ++y) {
        for (int x = 0; x < picture.width; ++x) {
            const float* p = &picture.rgba[(std::size_t(y) * picture.width + x) * 4];
            for (int c = 0; c < 4; ++c) {
                vexo_host::SetChannel(&world, x, picture.height - 1 - y, c, p[(c + 3) % 4]);
            }
        }
    }
    world.def.origin_x = picture.origin_x;
    world.def.origin_y = frame_height - picture.origin_y - picture.height;
    return world;
}

// Premultiplied colour over alpha, as a host that declares straight alpha hands it over.
ofx::Picture Straight(ofx::Picture picture) {
    for (std::size_t i = 0; i < picture.rgba.size(); i += 4) {
        const float a = picture.rgba[i + 3];
        for (int c = 0; c < 3; ++c) {
            picture.rgba[i + c] = a > 0 ? std::round(picture.rgba[i + c] / a * 255.0f) / 255.0f : 0;
        }
    }
    return picture;
}

// Straight pixels premultiplied in float, as the plug-in takes them in.
ofx::Picture Premultiplied(ofx::Picture picture) {
    for (std::size_t i = 0; i < picture.rgba.size(); i += 4) {
        for (int c = 0; c < 3; ++c) picture.rgba[i + c] *= picture.rgba[i + 3];
    }
    return picture;
}

// A control as the control table has it: popups by their entry (from 1), the angle in degrees,
// percentages as shown.
struct Setting {
    ParamIndex index;
    double value;
};

// A keyframe of a control: its value from that frame on, towards the next key.
struct Key {
    ParamIndex index;
    int frame;
    double value;
};

struct Row {
    const char* name;
    std::vector<Setting> settings;
    bool identity = false;        // what is-identity must answer at 8 bits
    bool map_clip = false;        // the general context, with a map of another size and origin
    int width = 61, height = 37;  // in pixels at the render scale
    // The pictures are the frame at 1/downsample of its size: a render scale of 1/downsample,
    // as a host renders a proxy, against the host API's downsampling by the same ratio.
    int downsample = 1;
    std::vector<Key> keys = {};
    int frame = 0;  // the time rendered
};

void PrintTo(const Row& row, std::ostream* out) { *out << row.name; }

const std::vector<Key> kTranslateKeys = {{kParamTranslateX, 0, 0}, {kParamTranslateX, 10, 50}};

const Row kRows[] = {
    {"Defaults", {}, true},
    {"RedTranslate",
     {{kParamChannel, kChannelRed}, {kParamTranslateX, 12}, {kParamTranslateY, -7}}},
    {"HueRotate", {{kParamChannel, kChannelHue}, {kParamRotate, 30}}},
    {"LuminanceScaleAnchor",
     {{kParamUniformScale, 0}, {kParamScaleX, 80}, {kParamScaleY, 130}, {kParamAnchorX, 20}}},
    {"SoftnessTranslate", {{kParamMapSoftness, 6}, {kParamTranslateX, 10}}},
    {"AdjustedMap",
     {{kParamInvertMap, 1},
      {kParamMapGamma, 2},
      {kParamDisplacementOffset, -0.2},
      {kParamDisplacementEasing, kEasingIn},
      {kParamTranslateY, 9}}},
    {"ChromaticAberration",
     {{kParamTranslateX, 8}, {kParamRedMultiplier, 1.5}, {kParamBlueMultiplier, -0.5}}},
    {"EdgeRepeat", {{kParamEdgeBehavior, kEdgeRepeat}, {kParamTranslateX, 30}, {kParamRotate, 15}}},
    {"EdgeMirrorRepeat",
     {{kParamEdgeBehavior, kEdgeMirrorRepeat}, {kParamTranslateX, -40}, {kParamTranslateY, 25}}},
    {"EdgeEdgeRepeat", {{kParamEdgeBehavior, kEdgeEdgeRepeat}, {kParamScaleX, 60}}},
    {"AntiAliasing2x", {{kParamAntiAliasing, kAntiAliasing2x}, {kParamRotate, 10}}},
    {"AntiAliasing4x", {{kParamAntiAliasing, kAntiAliasing4x}, {kParamTranslateX, 5.5}}},
    {"ViewMap", {{kParamView, kViewMap}, {kParamChannel, kChannelHue}}},
    {"MapClip",
     {{kParamChannel, kChannelRed}, {kParamTranslateX, 12}, {kParamTranslateY, 9}},
     false,
     true},
    {"MapClipMirror2x",
     {{kParamEdgeBehavior, kEdgeMirrorRepeat},
      {kParamAntiAliasing, kAntiAliasing2x},
      {kParamRotate, 20}},
     false,
     true},
    // No move at all: each channel's map value is multiplied away, or the map drives nothing.
    {"MultipliersZero",
     {{kParamTranslateX, 20},
      {kParamRotate, 45},
      {kParamRedMultiplier, 0},
      {kParamGreenMultiplier, 0},
      {kParamBlueMultiplier, 0}},
     true},
    {"AdjustmentsWithoutTransform",
     {{kParamChannel, kChannelHue},
      {kParamInvertMap, 1},
      {kParamMapSoftness, 4},
      {kParamAnchorX, 300}},
     true,
     true},
    {"Large", {{kParamTranslateX, 3.3}, {kParamRotate, 7}}, false, false, 640, 360},
    // Half size: the softness's radius and the reach follow the scale; translations are
    // fractions of the frame and do not.
    {"HalfScaleSoftness",
     {{kParamMapSoftness, 6}, {kParamTranslateX, 10}},
     false,
     false,
     61,
     37,
     2},
    {"HalfScaleTranslateRotate",
     {{kParamTranslateX, 12}, {kParamTranslateY, -7}, {kParamRotate, 30}},
     false,
     false,
     61,
     37,
     2},
    // Animated: each frame reads the controls at its own time. At the first key nothing moves,
    // which is-identity must see at that time too.
    {"KeyedAtFirstKey", {}, true, false, 61, 37, 1, kTranslateKeys, 0},
    {"KeyedAtLastKey", {}, false, false, 61, 37, 1, kTranslateKeys, 10},
    {"KeyedBetweenKeys", {}, false, false, 61, 37, 1, kTranslateKeys, 5},
};

const char* OfxName(ParamIndex index) {
    for (int i = 0; i < kOfxParamRowCount; ++i) {
        if (kOfxParamRows[i].index == index) return kOfxParamRows[i].name;
    }
    return "";
}

double OfxValue(const Setting& s) {
    const ParamRow& row = *FindParamRow(s.index);
    return row.type == PF_Param_POPUP ? OptionOfPopupValue(row, int(s.value)) : s.value;
}

vexo_host::World Standalone(vexo_host::Session& session, const Row& row, const ofx::Picture& source,
                            const ofx::Picture* map, int depth) {
    vexo_host::Instance instance(&session.effect);
    EXPECT_EQ(vexo_host::SetupInstance(&instance), PF_Err_NONE);
    for (const Setting& s : row.settings) {
        EXPECT_EQ(vexo_host::UserSetValue(&instance, s.index, s.value), PF_Err_NONE) << s.index;
    }
    std::map<ParamIndex, std::vector<vexo_host::Keyframe>> streams;
    for (const Key& key : row.keys) streams[key.index].push_back({key.frame, key.value});
    for (const auto& [index, keys] : streams) {
        EXPECT_EQ(vexo_host::UserSetKeys(&instance, index, keys), PF_Err_NONE) << index;
    }
    const vexo_host::World input = ToWorld(source, depth, source.height);
    vexo_host::World map_world;
    if (map) map_world = ToWorld(*map, depth, source.height);
    vexo_host::World out;
    std::vector<std::string> problems;
    vexo_host::FrameOptions options;
    options.depth = depth;
    options.downsample = {1, A_u_long(row.downsample)};
    options.time = row.frame * instance.time_step;
    EXPECT_EQ(vexo_host::RenderFrame(&instance, {&input, map ? &map_world : nullptr}, options, &out,
                                     &problems),
              PF_Err_NONE);
    EXPECT_TRUE(problems.empty()) << problems.front();
    return out;
}

struct OfxRun {
    ofx::Frame frame;
    bool ok = false;
};

OfxRun RenderOfx(const Row& row, const ofx::Options& base, const ofx::Picture& source,
                 const ofx::Picture* map, const OfxRectI& window) {
    ofx::Options options = base;
    options.plugin_id = kOfxPluginIdentifier;
    options.context = row.map_clip ? kOfxImageEffectContextGeneral : kOfxImageEffectContextFilter;
    options.render_scale = {1.0 / row.downsample, 1.0 / row.downsample};
    OfxRun run;
    ofx::SessionPtr s = Open(options);
    if (!s) return run;
    ofx::SetInput(*s, kOfxImageEffectSimpleSourceClipName, source);
    if (map) ofx::SetInput(*s, "Map", *map);
    for (const Setting& setting : row.settings) {
        ofx::SetParam(*s, OfxName(setting.index), 0, {{OfxValue(setting)}, ""});
    }
    for (const Key& key : row.keys) {
        ofx::SetParam(*s, OfxName(key.index), key.frame, {{OfxValue({key.index, key.value})}, ""});
    }
    EXPECT_EQ(ofx::CreateInstance(*s), kOfxStatOK);
    const OfxStatus status = ofx::RenderFrame(*s, row.frame, window, &run.frame);
    EXPECT_EQ(status, kOfxStatOK) << (ofx::Messages(*s).empty() ? "" : ofx::Messages(*s).back());
    ofx::Close(*s);
    for (const std::string& violation : ofx::Violations(*s)) ADD_FAILURE() << violation;
    run.ok = status == kOfxStatOK && ofx::Violations(*s).empty();
    return run;
}

OfxRectI Whole(const Row& row) { return {0, 0, row.width, row.height}; }

// The standalone frame's channel (red first) at a pixel of the OFX frame (y up).
float Want(const vexo_host::World& w, const Row& row, int x, int y, int c) {
    return vexo_host::GetChannel(w, x, row.height - 1 - y, (c + 1) % 4);
}

// Samples of `frame` (a window of the row's frame) that `same` rejects against `want`, the first
// few reported.
template <typename Same>
int Differing(const ofx::Frame& frame, const char* what, Same&& same) {
    const ofx::Picture& p = frame.picture;
    int differing = 0;
    for (int y = 0; y < p.height; ++y) {
        for (int x = 0; x < p.width; ++x) {
            for (int c = 0; c < 4; ++c) {
                const std::size_t at = (std::size_t(y) * p.width + x) * 4 + c;
                const int fx = x + p.origin_x, fy = y + p.origin_y;
                if (!same(fx, fy, c, at) && differing++ < 4) {
                    ADD_FAILURE() << what << ": pixel " << fx << "," << fy << " channel " << c
                                  << " is " << p.rgba[at];
                }
            }
        }
    }
    return differing;
}

class OfxRenderTable : public testing::TestWithParam<Row> {
  protected:
    void SetUp() override {
        std::string error;
        ASSERT_TRUE(vexo_host::OpenSession(VEXO_MODULE_PATH, &session_, &error)) << error;
        opened_ = true;
    }
    void TearDown() override {
        if (opened_) vexo_host::CloseSession(&session_);
    }
    vexo_host::Session session_;
    bool opened_ = false;
};

TEST_P(OfxRenderTable, FramesAreTheStandaloneHostsRender) {
    const Row& row = GetParam();
    const ofx::Picture source = Noise(row.width, row.height, 0, 0, 11, true);
    const ofx::Picture float_source = Noise(row.width, row.height, 0, 0, 12, false);
    // Another size and origin than the source's: placed as the map layer is.
    const ofx::Picture map_picture = Noise(45, 29, 5, 3, 13, true);
    const ofx::Picture* map = row.map_clip ? &map_picture : nullptr;
    const vexo_host::World expected8 = Standalone(session_, row, source, map, 8);
    const vexo_host::World expected32 = Standalone(session_, row, float_source, map, 32);
    ASSERT_EQ(expected8.def.width, row.width);
    ASSERT_EQ(expected32.def.height, row.height);

    // 8 bits: the standalone host's bytes; an identity answer only where the render is a copy.
    ofx::Options bytes;
    bytes.depth = ofx::Depth::Byte;
    const OfxRun byte_run = RenderOfx(row, bytes, source, map, Whole(row));
    ASSERT_TRUE(byte_run.ok);
    EXPECT_EQ(!byte_run.frame.identity_clip.empty(), row.identity);
    EXPECT_EQ(Differing(byte_run.frame, "8 bits",
                        [&](int x, int y, int ch, std::size_t at) {
                            return byte_run.frame.raw[at] ==
                                   std::lround(Want(expected8, row, x, y, ch) * 255.0f);
                        }),
              0);
    if (!byte_run.frame.identity_clip.empty()) {
        EXPECT_EQ(
            Differing(byte_run.frame, "identity: the render is the source",
                      [&](int x, int y, int ch, std::size_t) {
                          const float in =
                              source.rgba[(std::size_t(y) * row.width + x) * 4 + std::size_t(ch)];
                          return Want(expected8, row, x, y, ch) == in;
                      }),
            0);
    }

    // Float: the standalone host's floats, bit for bit.
    const OfxRun float_run = RenderOfx(row, ofx::Options{}, float_source, map, Whole(row));
    ASSERT_TRUE(float_run.ok);
    EXPECT_EQ(Differing(float_run.frame, "float",
                        [&](int x, int y, int ch, std::size_t at) {
                            return float_run.frame.picture.rgba[at] ==
                                   Want(expected32, row, x, y, ch);
                        }),
              0);

    // 16 bits: within one step of the float render of the same (byte-exact) pictures.
    const OfxRun float_bytes = RenderOfx(row, ofx::Options{}, source, map, Whole(row));
    ofx::Options shorts;
    shorts.depth = ofx::Depth::Short;
    const OfxRun short_run = RenderOfx(row, shorts, source, map, Whole(row));
    ASSERT_TRUE(float_bytes.ok && short_run.ok);
    EXPECT_EQ(
        Differing(short_run.frame, "16 bits",
                  [&](int, int, int, std::size_t at) {
                      const float want = std::clamp(float_bytes.frame.picture.rgba[at], 0.0f, 1.0f);
                      return std::fabs(short_run.frame.picture.rgba[at] - want) <= 1.0f / 65535.0f;
                  }),
        0);

    // Straight alpha at 8 bits: the float render of the same pixels premultiplied, divided back,
    // within one step.
    const ofx::Picture straight = Straight(source);
    const ofx::Picture straight_map = map ? Straight(*map) : ofx::Picture{};
    const ofx::Picture premultiplied_map = Premultiplied(straight_map);
    const vexo_host::World expected_straight =
        Standalone(session_, row, Premultiplied(straight), map ? &premultiplied_map : nullptr, 32);
    ofx::Options straight_bytes = bytes;
    straight_bytes.premultiplied = false;
    const OfxRun straight_run =
        RenderOfx(row, straight_bytes, straight, map ? &straight_map : nullptr, Whole(row));
    ASSERT_TRUE(straight_run.ok);
    EXPECT_EQ(Differing(straight_run.frame, "straight",
                        [&](int x, int y, int ch, std::size_t at) {
                            const float a = Want(expected_straight, row, x, y, 3);
                            float want = Want(expected_straight, row, x, y, ch);
                            if (ch < 3) want = a > 0 ? want / a : 0.0f;
                            const long step = std::lround(std::clamp(want, 0.0f, 1.0f) * 255.0f);
                            return std::abs(long(straight_run.frame.raw[at]) - step) <= 1;
                        }),
              0);

    // A window is the crop of the whole frame; a frame split across threads, rows stored top
    // down, is the whole.
    const OfxRectI window{row.width / 5, row.height / 4, row.width * 4 / 5, row.height - 3};
    const OfxRun window_run = RenderOfx(row, ofx::Options{}, float_source, map, window);
    ofx::Options threaded;
    threaded.threads = 3;
    threaded.negative_row_bytes = true;
    const OfxRun threaded_run = RenderOfx(row, threaded, float_source, map, Whole(row));
    ASSERT_TRUE(window_run.ok && threaded_run.ok);
    if (float_run.frame.identity_clip.empty()) {
        EXPECT_EQ(threaded_run.frame.render_calls, 3);
    }
    for (const OfxRun* run : {&window_run, &threaded_run}) {
        EXPECT_EQ(Differing(run->frame, "window",
                            [&](int x, int y, int ch, std::size_t at) {
                                return run->frame.picture.rgba[at] ==
                                       Want(expected32, row, x, y, ch);
                            }),
                  0);
    }
}

INSTANTIATE_TEST_SUITE_P(Rows, OfxRenderTable, testing::ValuesIn(kRows),
                         [](const testing::TestParamInfo<Row>& info) {
                             return std::string(info.param.name);
                         });

}  // namespace
