// The host's records behind the handles it gives the plug-in, and the action scopes that the
// checks read. Internal to the host library.
#ifndef VEXO_OFX_HOST_SESSION_H
#define VEXO_OFX_HOST_SESSION_H

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <tuple>
#include <vector>

#include "host.h"
#include "log.h"
#include "properties.h"

namespace vexo::ofxhost {

struct Effect;
struct Session;

struct Param {
    unsigned magic = 0x5041524d;
    Session* session = nullptr;
    std::string name;
    std::string type;
    PropertySet props;
    ParamValue value;  // where there are no keys
    bool animates = false;
    std::map<OfxTime, ParamValue> keys;
};

struct ParamSet {
    unsigned magic = 0x50415253;
    Effect* owner = nullptr;
    PropertySet props;
    std::map<std::string, std::unique_ptr<Param>> params;
    std::vector<std::string> order;
};

struct Clip {
    unsigned magic = 0x434c4950;
    std::string name;
    Effect* owner = nullptr;
    PropertySet props;
};

// The global descriptor, a descriptor per context, or the instance.
struct Effect {
    unsigned magic = 0x45464654;
    Session* session = nullptr;
    bool instance = false;
    std::string context;
    PropertySet props;
    ParamSet params;
    std::map<std::string, std::unique_ptr<Clip>> clips;
    std::vector<std::string> clip_order;
};

struct Scope;

struct Image {
    PropertySet props;
    Clip* clip = nullptr;
    Scope* scope = nullptr;
    std::vector<unsigned char> storage;   // input images own theirs; outputs share the frame's
    std::vector<unsigned char> pristine;  // an input as handed out: the plug-in may not write it
};

// One action call, on the thread that makes it and on threads the plug-in spawns through the
// multithread suite: what the plug-in is allowed to do depends on it.
struct Scope {
    std::string action;
    std::mutex mutex;
    std::vector<Image*> images;  // fetched in this action and not yet released
};

// The output of one frame: the window's pixels inside bounds, canaries around them and in the
// padding of each row, so that a stray write is found after the render.
struct OutputBuffer {
    OfxRectI bounds{};
    int pixel_bytes = 0;
    long stride = 0;  // bytes from one row to the next in memory, padding included
    long guard = 0;   // bytes of canary before the first row and after the last
    std::vector<unsigned char> storage;
    unsigned char* data = nullptr;  // pixel (bounds.x1, bounds.y1)
    int row_bytes = 0;
};

struct Session {
    Options options;
    Log log;
    std::string bundle_dir;
    std::string binary_path;
    void* library = nullptr;
    OfxPlugin* plugin = nullptr;
    OfxHost host{};
    PropertySet host_props;
    bool loaded = false;

    Effect descriptor;
    std::map<std::string, std::unique_ptr<Effect>> contexts;
    std::unique_ptr<Effect> instance;

    std::map<std::string, Picture> inputs;
    // Values set before the instance exists, in the order set, each with its time.
    std::vector<std::tuple<std::string, OfxTime, ParamValue>> preset_values;

    // Per frame, read by the checks while the plug-in renders.
    OfxTime time = 0;
    OfxRectD rod{};
    std::map<std::string, OfxRectD> rois;
    OutputBuffer output;

    std::mutex images_mutex;
    std::map<PropertySet*, std::unique_ptr<Image>> live_images;
    // Released images stay allocated so that their handles never come back as new ones: a
    // second release is then known for what it is.
    std::vector<std::unique_ptr<Image>> released_images;
};

// The scope of the calling thread, or null outside any action.
Scope* CurrentScope();
void SetCurrentScope(Scope* scope);

// Runs an action through the plug-in's main entry inside a scope; at its end, images the action
// did not release are violations (and released).
OfxStatus CallAction(Session& session, const char* action, const void* handle, PropertySet* in_args,
                     PropertySet* out_args);

// Moves a live image to the released ones (the caller holds images_mutex), checking that an
// input came back as it was handed out.
void RetireImage(Session& session, Image* image);

// Suites, by name and version as fetchSuite is asked for them.
const void* FetchSuite(OfxPropertySetHandle host, const char* name, int version);
const void* ImageEffectSuite();
const void* ParameterSuite();

// Pixels: bytes per RGBA pixel, the depth's name, and conversions from and to float.
int PixelBytes(Depth depth);
const char* DepthName(Depth depth);
void StorePixel(Depth depth, const float* rgba, unsigned char* out);
void LoadPixel(Depth depth, const unsigned char* in, float* rgba);

// The frame's output buffer over `bounds`, canaries everywhere; then what a render wrote outside
// the window, or "" where it wrote nowhere else.
void PrepareOutput(Session& session, const OfxRectI& bounds);
std::string CheckOutputCanaries(const Session& session, const OfxRectI& window);

// The instance's parameters from the descriptor's: defaults, or the values the test preset.
void InstantiateParams(Session& session, const ParamSet& descriptor, ParamSet& instance);
// A user's edit at `time`: a key where the parameter animates, else its constant.
void AssignParam(Param& param, OfxTime time, const ParamValue& value);
// The value at `time`: between keys as the parameter's type interpolates.
ParamValue ParamValueAt(const Param& param, OfxTime time);

// Canonical coordinates and pixels at the session's render scale, pixels rounded outwards.
OfxRectI ToPixels(const Session& session, const OfxRectD& rect);
OfxRectD ToCanonical(const Session& session, const OfxRectI& rect);
std::string RectText(const OfxRectD& rect);
std::string RectText(const OfxRectI& rect);

}  // namespace vexo::ofxhost

#endif
