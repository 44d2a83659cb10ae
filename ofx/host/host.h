// A strict OpenFX host for tests: loads one bundle, runs its actions in a real host's order, and
// records every breach of the API's rules as a violation instead of tolerating it.
#ifndef VEXO_OFX_HOST_HOST_H
#define VEXO_OFX_HOST_HOST_H

#include <memory>
#include <string>
#include <vector>

#include "ofxImageEffect.h"

namespace vexo::ofxhost {

enum class Depth { Byte, Short, Float };

struct Options {
    std::string plugin_id;  // empty: the binary's first plug-in
    std::string context = kOfxImageEffectContextFilter;
    Depth depth = Depth::Float;
    bool premultiplied = true;
    // Rows stored top down, as some hosts do: the images' row bytes are negative.
    bool negative_row_bytes = false;
    // Parts the render window is split into, each rendered on its own thread at once, when the
    // plug-in declares itself fully thread safe and leaves frame threading to the host.
    int threads = 1;
    // Input images cover their whole region of definition instead of just the region asked for.
    bool whole_inputs = false;
    // The render scale of every action that carries one, as a host rendering a proxy sends it.
    // Pixels are canonical coordinates times the scale (x also divided by the pixel aspect
    // ratio): the pictures given to SetInput and the render windows are in pixels at this scale.
    OfxPointD render_scale{1.0, 1.0};
    // Of the project, every clip and image: a pixel's width over its height.
    double pixel_aspect = 1.0;
};

// RGBA floats, y up: row 0 is the bottom row, at pixel y = origin_y.
struct Picture {
    int width = 0;
    int height = 0;
    int origin_x = 0;
    int origin_y = 0;
    std::vector<float> rgba;
};

// One parameter value: numbers for the numeric, boolean and choice types (one per component),
// text for string types. Push buttons, groups and pages have none.
struct ParamValue {
    std::vector<double> numbers;
    std::string text;
};

struct Frame {
    Picture picture;                 // the render window, converted back to float
    std::vector<unsigned char> raw;  // the same pixels at the chosen depth, rows packed, y up
    OfxRectI window{};
    int render_calls = 0;       // render actions the window was split into
    std::string identity_clip;  // set when the plug-in answered is-identity
};

struct Session;
struct SessionDeleter {
    void operator()(Session* session) const;
};
using SessionPtr = std::unique_ptr<Session, SessionDeleter>;

// Loads NAME.ofx.bundle (the folder) and runs load, describe and describe in context for each of
// Filter and General the plug-in declares. Null with `error` set when the bundle cannot be driven
// or broke a rule on the way (the error lists the violations).
SessionPtr OpenBundle(const std::string& bundle_dir, const Options& options, std::string* error);

// The picture on an input clip; its region of definition is the picture's rectangle.
void SetInput(Session& session, const std::string& clip, const Picture& picture);

// Before CreateInstance, the value the instance starts with; after, an edit the plug-in is told
// of through the instance-changed action. A parameter that animates gets a key at `time`
// (replacing one there): values at several times are its keys, read linearly between keys for
// double types and held from each key for others, the first and last key holding beyond them.
// One that does not animate takes the value as a constant.
OfxStatus SetParam(Session& session, const std::string& name, OfxTime time,
                   const ParamValue& value);
// What a user's click does: the instance-changed action for that push button.
OfxStatus PressButton(Session& session, const std::string& name, OfxTime time);
// The value the host holds now (the plug-in may have set it), at the time of the last action.
ParamValue GetParam(const Session& session, const std::string& name);

// Create instance, then get clip preferences.
OfxStatus CreateInstance(Session& session);

// One frame inside begin/end sequence render: region of definition, is identity, regions of
// interest, render (split across threads as Options::threads says).
OfxStatus RenderFrame(Session& session, OfxTime time, const OfxRectI& window, Frame* frame);

// What a host sends when memory runs short.
OfxStatus PurgeCaches(Session& session);

// A property the plug-in declared or set, each value as text: of the effect (`object` ""), a
// clip (its name) or a parameter ("param:" and its name); on the instance once there is one,
// else on the descriptor in the session's context. Empty where absent.
std::vector<std::string> Described(const Session& session, const std::string& object,
                                   const std::string& property);
// The parameters in the order the plug-in defined them.
std::vector<std::string> ParamNames(const Session& session);

// Destroy instance and unload; also done by the session's deleter. Checks run to the end.
void Close(Session& session);

// Every rule the plug-in broke, in the order found; empty for a clean run.
std::vector<std::string> Violations(const Session& session);
// What the plug-in said through the message suite, "type: text".
std::vector<std::string> Messages(const Session& session);

}  // namespace vexo::ofxhost

#endif
