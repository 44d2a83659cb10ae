#include "standalone/instance.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "standalone/aegp_suites.h"
#include "standalone/render_host.h"
#include "standalone/suites.h"
#include "standalone/undo.h"

namespace vexo_host {
namespace {

struct Live {
    std::mutex mutex;
    std::set<Instance*> instances;
};

Live& L() {
    static Live* live = new Live;
    return *live;
}

// Refuses a call of the effect, keeping the reason for the host's messages.
PF_Err Refuse(Instance* instance, PF_Err code, const std::string& why) {
    if (instance) instance->refusal = why;
    return code;
}

// The command this thread is sending, and to which instance.
struct ThreadCommand {
    Instance* instance = nullptr;
    PF_Cmd cmd = kNoCommand;
};
thread_local ThreadCommand t_command;

std::string CommandText(PF_Cmd cmd) {
    switch (cmd) {
        case PF_Cmd_PARAMS_SETUP:
            return "parameter setup";
        case PF_Cmd_USER_CHANGED_PARAM:
            return "a user change";
        case PF_Cmd_UPDATE_PARAMS_UI:
            return "an interface update";
        case PF_Cmd_SMART_PRE_RENDER:
            return "the pre-render";
        case PF_Cmd_SMART_RENDER:
            return "the render";
        default:
            return "command " + std::to_string(cmd);
    }
}

bool NameTerminated(const A_char* name) {
    return std::memchr(name, '\0', PF_MAX_EFFECT_PARAM_NAME_LEN + 1) != nullptr;
}

// Texts the effect points at; a bound keeps a missing terminator from running away.
constexpr std::size_t kMaxTextLen = 4096;

bool TextOk(const A_char* text) { return text && strnlen(text, kMaxTextLen) < kMaxTextLen; }

bool Within(double v, double lo, double hi) { return v >= lo && v <= hi; }

// Checks a definition handed to add_param. `why` names the fault.
PF_Err CheckDef(const Instance& instance, const PF_ParamDef& def, std::string* why) {
    if (!NameTerminated(def.name)) {
        *why = "the name is not terminated within 32 bytes";
        return PF_Err_BAD_CALLBACK_PARAM;
    }
    const std::string name = def.name;
    for (std::size_t i = 1; i < instance.params.size(); ++i) {
        if (instance.params[i].def.uu.id == def.uu.id) {
            *why = "'" + name + "' repeats the id " + std::to_string(def.uu.id);
            return PF_Err_BAD_CALLBACK_PARAM;
        }
    }
    switch (def.param_type) {
        case PF_Param_LAYER:
            if (def.u.ld.dephault != PF_LayerDefault_NONE &&
                def.u.ld.dephault != PF_LayerDefault_MYSELF) {
                *why = "layer '" + name + "' has an unknown default";
                return PF_Err_BAD_CALLBACK_PARAM;
            }
            return PF_Err_NONE;
        case PF_Param_POPUP: {
            const PF_PopupDef& p = def.u.pd;
            if (!TextOk(p.u.namesptr)) {
                *why = "popup '" + name + "' has no entry list";
                return PF_Err_BAD_CALLBACK_PARAM;
            }
            const std::vector<std::string> entries = SplitEntries(p.u.namesptr);
            if (p.num_choices < 1 || std::size_t(p.num_choices) != entries.size()) {
                *why = "popup '" + name + "' has " + std::to_string(p.num_choices) +
                       " choices but its list names " + std::to_string(entries.size());
                return PF_Err_BAD_CALLBACK_PARAM;
            }
            for (const A_long v : {A_long(p.value), A_long(p.dephault)}) {
                if (v < 1 || v > p.num_choices || IsSeparatorEntry(entries[std::size_t(v - 1)])) {
                    *why = "popup '" + name + "' starts on " + std::to_string(v) +
                           ", which is not a choice";
                    return PF_Err_BAD_CALLBACK_PARAM;
                }
            }
            return PF_Err_NONE;
        }
        case PF_Param_CHECKBOX:
            if (!TextOk(def.u.bd.u.nameptr)) {
                *why = "checkbox '" + name + "' has no box text";
                return PF_Err_BAD_CALLBACK_PARAM;
            }
            if (def.u.bd.value < 0 || def.u.bd.value > 1 || def.u.bd.dephault > 1) {
                *why = "checkbox '" + name + "' is neither on nor off";
                return PF_Err_BAD_CALLBACK_PARAM;
            }
            return PF_Err_NONE;
        case PF_Param_FLOAT_SLIDER: {
            const PF_FloatSliderDef& s = def.u.fs_d;
            const double numbers[] = {s.value,      s.valid_min, s.valid_max,      s.slider_min,
                                      s.slider_max, s.dephault,  s.curve_tolerance};
            for (double n : numbers) {
                if (!std::isfinite(n)) {
                    *why = "slider '" + name + "' has a number that is not finite";
                    return PF_Err_BAD_CALLBACK_PARAM;
                }
            }
            if (s.valid_min > s.valid_max || s.slider_min > s.slider_max) {
                *why = "slider '" + name + "' has a minimum above its maximum";
                return PF_Err_BAD_CALLBACK_PARAM;
            }
            if (s.slider_min < s.valid_min || s.slider_max > s.valid_max) {
                *why = "slider '" + name + "' reaches outside its valid range";
                return PF_Err_BAD_CALLBACK_PARAM;
            }
            if (!Within(s.value, s.valid_min, s.valid_max) ||
                !Within(s.dephault, s.valid_min, s.valid_max)) {
                *why = "slider '" + name + "' starts outside its valid range";
                return PF_Err_BAD_CALLBACK_PARAM;
            }
            if (s.precision < 0 || s.precision > 6 || s.curve_tolerance < 0) {
                *why = "slider '" + name + "' has a precision or curve tolerance out of range";
                return PF_Err_BAD_CALLBACK_PARAM;
            }
            return PF_Err_NONE;
        }
        case PF_Param_ANGLE: {
            const PF_AngleDef& a = def.u.ad;
            const bool ranged = a.valid_min != 0 || a.valid_max != 0;
            if (ranged &&
                (a.valid_min > a.valid_max || !Within(a.value, a.valid_min, a.valid_max) ||
                 !Within(a.dephault, a.valid_min, a.valid_max))) {
                *why = "angle '" + name + "' has a range that does not hold its values";
                return PF_Err_BAD_CALLBACK_PARAM;
            }
            return PF_Err_NONE;
        }
        case PF_Param_BUTTON:
            if (!TextOk(def.u.button_d.u.namesptr)) {
                *why = "button '" + name + "' has no caption";
                return PF_Err_BAD_CALLBACK_PARAM;
            }
            return PF_Err_NONE;
        case PF_Param_GROUP_START:
            return PF_Err_NONE;
        case PF_Param_GROUP_END:
            if (instance.open_groups == 0) {
                *why = "a group end closes no group";
                return PF_Err_BAD_CALLBACK_PARAM;
            }
            return PF_Err_NONE;
        default:
            *why = "parameter type " + std::to_string(def.param_type) + " is not supported";
            return PF_Err_UNRECOGNIZED_PARAM_TYPE;
    }
}

double ValueOf(const PF_ParamDef& def) {
    switch (def.param_type) {
        case PF_Param_POPUP:
            return def.u.pd.value;
        case PF_Param_CHECKBOX:
            return def.u.bd.value;
        case PF_Param_FLOAT_SLIDER:
            return def.u.fs_d.value;
        case PF_Param_ANGLE:
            return def.u.ad.value / 65536.0;
        default:
            return 0;
    }
}

PF_Err AddParam(PF_ProgPtr effect_ref, PF_ParamIndex index, PF_ParamDefPtr def) {
    Instance* instance = InstanceFromRef(effect_ref);
    if (!instance) return PF_Err_BAD_CALLBACK_PARAM;
    if (const PF_Err err = InjectedFailure("add_param")) return err;
    if (const PF_Err err = RefuseOutside(instance, {PF_Cmd_PARAMS_SETUP}, "add_param")) return err;
    std::lock_guard<std::mutex> lock(instance->mutex);
    if (!def) return Refuse(instance, PF_Err_BAD_CALLBACK_PARAM, "add_param without a definition");
    const PF_ParamIndex next = PF_ParamIndex(instance->params.size());
    if (index != -1 && index != next) {
        return Refuse(instance, PF_Err_INVALID_INDEX,
                      "add_param at " + std::to_string(index) + "; only appending is possible");
    }
    std::string why;
    if (const PF_Err err = CheckDef(*instance, *def, &why)) {
        return Refuse(instance, err, "parameter " + std::to_string(next) + ": " + why);
    }

    ParamStream param;
    param.def = *def;
    switch (def->param_type) {
        case PF_Param_POPUP:
            param.entries = def->u.pd.u.namesptr;
            break;
        case PF_Param_CHECKBOX:
            param.text = def->u.bd.u.nameptr;
            break;
        case PF_Param_BUTTON:
            param.text = def->u.button_d.u.namesptr;
            break;
        case PF_Param_GROUP_START:
            ++instance->open_groups;
            break;
        case PF_Param_GROUP_END:
            --instance->open_groups;
            break;
        default:
            break;
    }
    param.value = ValueOf(*def);
    param.time_varying = HasValue(def->param_type) && !(def->flags & PF_ParamFlag_CANNOT_TIME_VARY);
    param.shown_name = def->name;
    param.shown_flags = def->flags;
    param.shown_ui_flags = def->ui_flags;
    instance->params.push_back(std::move(param));
    return PF_Err_NONE;
}

PF_Err CheckoutParam(PF_ProgPtr effect_ref, PF_ParamIndex index, A_long time, A_long,
                     A_u_long time_scale, PF_ParamDef* param) {
    Instance* instance = InstanceFromRef(effect_ref);
    if (!instance || !param) return PF_Err_BAD_CALLBACK_PARAM;
    if (const PF_Err err = InjectedFailure("checkout_param")) return err;
    std::lock_guard<std::mutex> lock(instance->mutex);
    if (index < 0 || std::size_t(index) >= instance->params.size()) {
        return Refuse(instance, PF_Err_INVALID_INDEX,
                      "checkout of parameter " + std::to_string(index) + ", which does not exist");
    }
    if (time_scale == 0 || instance->time_step <= 0) {
        return Refuse(instance, PF_Err_BAD_CALLBACK_PARAM,
                      "checkout of parameter " + std::to_string(index) + " at a time scale of 0");
    }
    // The time in frames: time / time_scale seconds at the instance's rate. The step is how
    // far the asker moves per frame, which does not change where it stands.
    *param = DefAt(*instance, index, int64_t(time) * int64_t(instance->time_scale),
                   int64_t(time_scale) * int64_t(instance->time_step));
    instance->checkouts.insert({std::this_thread::get_id(), param});
    return PF_Err_NONE;
}

PF_Err CheckinParam(PF_ProgPtr effect_ref, PF_ParamDef* param) {
    Instance* instance = InstanceFromRef(effect_ref);
    if (!instance || !param) return PF_Err_BAD_CALLBACK_PARAM;
    // A check-in that fails has not happened: the checkout stays outstanding.
    if (const PF_Err err = InjectedFailure("checkin_param")) return err;
    std::lock_guard<std::mutex> lock(instance->mutex);
    auto it = instance->checkouts.find({std::this_thread::get_id(), param});
    if (it == instance->checkouts.end()) {
        return Refuse(instance, PF_Err_BAD_CALLBACK_PARAM,
                      "check-in of a parameter not checked out");
    }
    instance->checkouts.erase(it);
    return PF_Err_NONE;
}

PF_Err Abort(PF_ProgPtr) { return PF_Err_NONE; }
PF_Err Progress(PF_ProgPtr, A_long, A_long) { return PF_Err_NONE; }

bool Supervised(const ParamStream& param) { return param.def.flags & PF_ParamFlag_SUPERVISE; }

bool WantsUpdates(const Instance& instance) {
    return instance.effect->out_flags & PF_OutFlag_SEND_UPDATE_PARAMS_UI;
}

PF_Err AfterUserChange(Instance* instance, PF_ParamIndex index) {
    PF_Err err = SendUserChangedParam(instance, index);
    if (!err && WantsUpdates(*instance)) err = SendUpdateParamsUI(instance);
    return err;
}

}  // namespace

Instance::Instance(const Effect* effect_in) : effect(effect_in) {
    RegisterAegpSuites();
    ParamStream input;
    input.def.param_type = PF_Param_LAYER;
    input.def.u.ld.dephault = PF_LayerDefault_MYSELF;
    params.push_back(input);
    std::lock_guard<std::mutex> lock(L().mutex);
    L().instances.insert(this);
}

Instance::~Instance() {
    {
        std::lock_guard<std::mutex> lock(L().mutex);
        L().instances.erase(this);
    }
    ForgetInstanceRefs(this);
    ForgetInstance(this);
}

CommandScope::CommandScope(Instance* instance, PF_Cmd cmd)
    : previous_instance(t_command.instance), previous_cmd(t_command.cmd) {
    t_command = ThreadCommand{instance, cmd};
}

CommandScope::~CommandScope() { t_command = ThreadCommand{previous_instance, previous_cmd}; }

PF_Cmd CommandOnThisThread(const Instance* instance) {
    return instance && t_command.instance == instance ? t_command.cmd : kNoCommand;
}

Instance* InstanceOnThisThread() {
    return t_command.instance ? t_command.instance : InstanceRenderingOnThisThread();
}

PF_Err RefuseOutside(Instance* instance, std::initializer_list<PF_Cmd> allowed, const char* call) {
    const PF_Cmd cmd = CommandOnThisThread(instance);
    if (cmd != kNoCommand && std::find(allowed.begin(), allowed.end(), cmd) != allowed.end()) {
        return PF_Err_NONE;
    }
    std::string why = std::string(call) + " ";
    if (instance && InstanceRenderingOnThisThread() == instance) {
        why += "from a render thread";
    } else if (cmd != kNoCommand) {
        why += "during " + CommandText(cmd);
    } else {
        why += "outside any command of the effect";
    }
    why += "; it is accepted only during ";
    for (auto it = allowed.begin(); it != allowed.end(); ++it) {
        why += (it == allowed.begin() ? "" : " or ") + CommandText(*it);
    }
    if (instance) {
        std::lock_guard<std::mutex> lock(instance->mutex);
        instance->refusal = why;
    }
    return PF_Err_BAD_CALLBACK_PARAM;
}

Instance* InstanceFromRef(PF_ProgPtr effect_ref) {
    auto* instance = reinterpret_cast<Instance*>(effect_ref);
    std::lock_guard<std::mutex> lock(L().mutex);
    return L().instances.count(instance) ? instance : nullptr;
}

PF_InData MakeInstanceInData(Instance* instance) {
    PF_InData in = MakeInData(*instance->effect, RefOf(instance));
    in.inter.add_param = AddParam;
    in.inter.checkout_param = CheckoutParam;
    in.inter.checkin_param = CheckinParam;
    in.inter.abort = Abort;
    in.inter.progress = Progress;
    in.num_params = A_long(instance->params.size());
    in.time_scale = instance->time_scale;
    in.time_step = in.local_time_step = instance->time_step;
    return in;
}

PF_Err SendToInstance(Instance* instance, PF_Cmd cmd, PF_OutData* out_data, void* extra) {
    PF_InData in = MakeInstanceInData(instance);
    std::vector<PF_ParamDef> defs;
    for (std::size_t i = 0; i < instance->params.size(); ++i) {
        defs.push_back(CurrentDef(*instance, PF_ParamIndex(i)));
    }
    std::vector<PF_ParamDef*> pointers;
    for (PF_ParamDef& def : defs) pointers.push_back(&def);

    PF_Err err;
    {
        CommandScope scope(instance, cmd);
        err = Send(*instance->effect, cmd, &in, out_data, pointers.data(), nullptr, extra);
    }
    if (out_data->out_flags & PF_OutFlag_DISPLAY_ERROR_MESSAGE) {
        out_data->return_msg[sizeof out_data->return_msg - 1] = '\0';
        instance->messages.push_back(out_data->return_msg);
    }
    return err;
}

PF_Err SetupInstance(Instance* instance) {
    if (instance->set_up || instance->params.size() != 1) {
        return Refuse(instance, PF_Err_BAD_CALLBACK_PARAM, "parameters are set up once");
    }
    PF_OutData out{};
    if (const PF_Err err = SendToInstance(instance, PF_Cmd_PARAMS_SETUP, &out, nullptr)) return err;
    if (std::size_t(out.num_params) != instance->params.size()) {
        return Refuse(instance, PF_Err_BAD_CALLBACK_PARAM,
                      "num_params is " + std::to_string(out.num_params) + " but " +
                          std::to_string(instance->params.size()) + " parameters exist");
    }
    if (instance->open_groups != 0) {
        return Refuse(instance, PF_Err_BAD_CALLBACK_PARAM,
                      std::to_string(instance->open_groups) + " group(s) left open");
    }
    instance->set_up = true;
    return WantsUpdates(*instance) ? SendUpdateParamsUI(instance) : PF_Err_NONE;
}

PF_Err SendUpdateParamsUI(Instance* instance) {
    PF_OutData out{};
    return SendToInstance(instance, PF_Cmd_UPDATE_PARAMS_UI, &out, nullptr);
}

PF_Err SendUserChangedParam(Instance* instance, PF_ParamIndex index) {
    PF_OutData out{};
    PF_UserChangedParamExtra extra{index};
    return SendToInstance(instance, PF_Cmd_USER_CHANGED_PARAM, &out, &extra);
}

namespace {

// What a user's edit in the effect's controls does: the stream is written as one undo step, and
// a supervised control has the effect told.
PF_Err UserWrite(Instance* instance, PF_ParamIndex index, double value,
                 const std::vector<Keyframe>& keys) {
    if (!instance->set_up || index < 1 || std::size_t(index) >= instance->params.size()) {
        return PF_Err_INVALID_INDEX;
    }
    const ParamStream& param = instance->params[std::size_t(index)];
    if (const PF_Err err =
            WriteStream(instance, index, value, "Change " + DisplayName(param), keys)) {
        return err;
    }
    return Supervised(param) ? AfterUserChange(instance, index) : PF_Err_NONE;
}

}  // namespace

PF_Err UserSetValue(Instance* instance, PF_ParamIndex index, double value) {
    return UserWrite(instance, index, value, {});
}

PF_Err UserSetKeys(Instance* instance, PF_ParamIndex index, const std::vector<Keyframe>& keys) {
    if (keys.empty()) return PF_Err_BAD_CALLBACK_PARAM;
    return UserWrite(instance, index, keys.front().value, keys);
}

PF_Err UserPressButton(Instance* instance, PF_ParamIndex index) {
    if (!instance->set_up || index < 1 || std::size_t(index) >= instance->params.size()) {
        return PF_Err_INVALID_INDEX;
    }
    const ParamStream& param = instance->params[std::size_t(index)];
    if (param.def.param_type != PF_Param_BUTTON) return PF_Err_BAD_CALLBACK_PARAM;
    return Supervised(param) ? AfterUserChange(instance, index) : PF_Err_NONE;
}

bool UndoLastStep(PF_Err* err) {
    if (err) *err = PF_Err_NONE;
    UndoStep step;
    if (!TakeLastUndoStep(&step)) return false;
    std::vector<Instance*> touched;
    for (auto it = step.changes.rbegin(); it != step.changes.rend(); ++it) {
        Instance* instance = InstanceFromRef(RefOf(it->instance));
        if (!instance) continue;
        {
            std::lock_guard<std::mutex> lock(instance->mutex);
            ParamStream& param = instance->params[std::size_t(it->index)];
            param.value = it->value;
            param.dyn_flags = it->dyn_flags;
            param.keys = it->keys;
        }
        if (std::find(touched.begin(), touched.end(), instance) == touched.end()) {
            touched.push_back(instance);
        }
    }
    for (Instance* instance : touched) {
        if (!instance->set_up || !WantsUpdates(*instance)) continue;
        const PF_Err update_err = SendUpdateParamsUI(instance);
        if (err && !*err) *err = update_err;
    }
    return true;
}

double ValueAt(const ParamStream& param, int64_t frames, int64_t per) {
    const std::vector<Keyframe>& keys = param.keys;
    if (keys.empty()) return param.value;
    // Exact, in 128 bits: a time scale of 2^32 times a frame number of 2^31 overflows 64.
    using Wide = __int128;
    // The last keyframe at or before the time; before the first, the first holds.
    std::size_t k = 0;
    while (k + 1 < keys.size() && Wide(keys[k + 1].frame) * per <= Wide(frames)) ++k;
    const PF_ParamType type = param.def.param_type;
    const bool linear = type == PF_Param_FLOAT_SLIDER || type == PF_Param_ANGLE;
    const Wide from = Wide(keys[k].frame) * per;
    if (!linear || k + 1 == keys.size() || Wide(frames) <= from) return keys[k].value;
    // The fraction of the way to the next keyframe, reduced, so that a whole frame gives the
    // same value at any time scale: 30 * 1 / 3 is 10 exactly, where 30 * (1.0 / 3) is not.
    Wide num = Wide(frames) - from, den = Wide(keys[k + 1].frame - keys[k].frame) * per;
    Wide a = num, b = den;
    while (b) a %= b, std::swap(a, b);
    num /= a, den /= a;
    const double v0 = keys[k].value, v1 = keys[k + 1].value;
    return v0 + (v1 - v0) * double(num) / double(den);
}

PF_ParamDef CurrentDef(const Instance& instance, PF_ParamIndex index) {
    return DefAt(instance, index, 0, 1);
}

PF_ParamDef DefAt(const Instance& instance, PF_ParamIndex index, int64_t frames, int64_t per) {
    const ParamStream& param = instance.params[std::size_t(index)];
    const double value = ValueAt(param, frames, per);
    PF_ParamDef def = param.def;
    std::snprintf(def.name, sizeof def.name, "%s", param.shown_name.c_str());
    def.flags = param.shown_flags;
    def.ui_flags = param.shown_ui_flags;
    switch (def.param_type) {
        case PF_Param_POPUP:
            def.u.pd.value = PF_ParamValue(value);
            def.u.pd.u.namesptr = param.entries.c_str();
            break;
        case PF_Param_CHECKBOX:
            def.u.bd.value = PF_ParamValue(value);
            def.u.bd.u.nameptr = param.text.c_str();
            break;
        case PF_Param_FLOAT_SLIDER:
            def.u.fs_d.value = value;
            break;
        case PF_Param_ANGLE:
            def.u.ad.value = PF_Fixed(std::lround(value * 65536.0));
            break;
        case PF_Param_BUTTON:
            def.u.button_d.value = 0;
            def.u.button_d.u.namesptr = param.text.c_str();
            break;
        default:
            break;
    }
    return def;
}

bool IsShown(const Instance& instance, PF_ParamIndex index) {
    auto hidden = [&](std::size_t i) {
        const ParamStream& p = instance.params[i];
        return (p.dyn_flags & AEGP_DynStreamFlag_HIDDEN) || (p.shown_ui_flags & PF_PUI_INVISIBLE);
    };
    if (index < 0 || std::size_t(index) >= instance.params.size()) return false;
    // Walk the groups that enclose `index`; a hidden group hides all it holds.
    std::vector<std::size_t> open;
    for (std::size_t i = 1; i < std::size_t(index); ++i) {
        const PF_ParamType type = instance.params[i].def.param_type;
        if (type == PF_Param_GROUP_START) open.push_back(i);
        if (type == PF_Param_GROUP_END && !open.empty()) open.pop_back();
    }
    for (std::size_t g : open) {
        if (hidden(g)) return false;
    }
    return !hidden(std::size_t(index));
}

bool IsEnabled(const Instance& instance, PF_ParamIndex index) {
    const ParamStream& p = instance.params[std::size_t(index)];
    return !(p.shown_ui_flags & PF_PUI_DISABLED) && !(p.dyn_flags & AEGP_DynStreamFlag_DISABLED);
}

std::string DisplayName(const ParamStream& param) {
    if (!param.shown_name.empty()) return param.shown_name;
    const PF_ParamType type = param.def.param_type;
    if (type == PF_Param_CHECKBOX || type == PF_Param_BUTTON) return param.text;
    return "";
}

std::size_t OutstandingCheckouts(const Instance& instance) {
    std::lock_guard<std::mutex> lock(instance.mutex);
    return instance.checkouts.size();
}

std::size_t OutstandingCheckouts(const Instance& instance, std::thread::id thread) {
    std::lock_guard<std::mutex> lock(instance.mutex);
    return std::size_t(std::count_if(instance.checkouts.begin(), instance.checkouts.end(),
                                     [&](const auto& c) { return c.first == thread; }));
}

std::vector<std::string> InstanceProblems(const Instance& instance) {
    std::vector<std::string> problems;
    if (const int n = LiveEffectRefs(&instance)) {
        problems.push_back(std::to_string(n) + " effect handle(s) never disposed");
    }
    if (const int n = LiveStreamRefs(&instance)) {
        problems.push_back(std::to_string(n) + " stream reference(s) never disposed");
    }
    if (const std::size_t n = OutstandingCheckouts(instance)) {
        problems.push_back(std::to_string(n) + " parameter checkout(s) never checked in");
    }
    if (UndoGroupOpen()) problems.push_back("an undo group was left open");
    return problems;
}

const char* ParamTypeName(PF_ParamType type) {
    switch (type) {
        case PF_Param_LAYER:
            return "LAYER";
        case PF_Param_POPUP:
            return "POPUP";
        case PF_Param_CHECKBOX:
            return "CHECKBOX";
        case PF_Param_FLOAT_SLIDER:
            return "FLOAT_SLIDER";
        case PF_Param_ANGLE:
            return "ANGLE";
        case PF_Param_BUTTON:
            return "BUTTON";
        case PF_Param_GROUP_START:
            return "GROUP_START";
        case PF_Param_GROUP_END:
            return "GROUP_END";
        default:
            return "UNKNOWN";
    }
}

std::vector<std::string> SplitEntries(const std::string& entries) {
    std::vector<std::string> out;
    std::size_t start = 0;
    for (;;) {
        const std::size_t bar = entries.find('|', start);
        out.push_back(entries.substr(start, bar == std::string::npos ? bar : bar - start));
        if (bar == std::string::npos) return out;
        start = bar + 1;
    }
}

bool HasValue(PF_ParamType type) {
    return type == PF_Param_POPUP || type == PF_Param_CHECKBOX || type == PF_Param_FLOAT_SLIDER ||
           type == PF_Param_ANGLE;
}

bool FitsFixed(double value) {
    const double fixed = std::round(value * 65536.0);
    return fixed >= -2147483648.0 && fixed <= 2147483647.0;
}

PF_Err WriteStream(Instance* instance, PF_ParamIndex index, double value,
                   const std::string& step_name, const std::vector<Keyframe>& keys) {
    std::lock_guard<std::mutex> lock(instance->mutex);
    if (index < 0 || std::size_t(index) >= instance->params.size()) return PF_Err_INVALID_INDEX;
    ParamStream& param = instance->params[std::size_t(index)];
    const std::string label = "'" + DisplayName(param) + "'";
    if (!HasValue(param.def.param_type)) {
        return Refuse(instance, PF_Err_BAD_CALLBACK_PARAM, label + " holds no value to set");
    }
    if (!keys.empty() && !param.time_varying) {
        return Refuse(instance, PF_Err_BAD_CALLBACK_PARAM, label + " cannot vary over time");
    }
    for (std::size_t k = 1; k < keys.size(); ++k) {
        if (keys[k].frame <= keys[k - 1].frame) {
            return Refuse(instance, PF_Err_BAD_CALLBACK_PARAM,
                          label + " has keyframes out of order");
        }
    }
    // The value as the stream holds it, or a refusal.
    const auto held = [&](double* v) -> PF_Err {
        if (!std::isfinite(*v)) {
            return Refuse(instance, PF_Err_BAD_CALLBACK_PARAM,
                          label + " cannot take a value that is not finite");
        }
        switch (param.def.param_type) {
            case PF_Param_POPUP: {
                const double entry = std::round(*v);
                if (entry < 1 || entry > param.def.u.pd.num_choices) {
                    return Refuse(instance, PF_Err_BAD_CALLBACK_PARAM,
                                  label + " has no entry " + std::to_string(*v));
                }
                *v = entry;
                break;
            }
            case PF_Param_CHECKBOX:
                *v = *v != 0 ? 1 : 0;
                break;
            case PF_Param_FLOAT_SLIDER:
                // The application keeps a slider inside its valid range.
                *v = std::fmin(std::fmax(*v, double(param.def.u.fs_d.valid_min)),
                               double(param.def.u.fs_d.valid_max));
                break;
            case PF_Param_ANGLE:
                // Effects read angles as 16.16 fixed point: a larger value would reach them
                // wrapped.
                if (!FitsFixed(*v)) {
                    char degrees[32];
                    std::snprintf(degrees, sizeof degrees, "%g", *v);
                    return Refuse(instance, PF_Err_BAD_CALLBACK_PARAM,
                                  label + " cannot hold " + degrees +
                                      " degrees; a fixed-point angle holds -32768 to 32767.99998");
                }
                break;
            default:
                break;
        }
        return PF_Err_NONE;
    };
    if (const PF_Err err = held(&value)) return err;
    std::vector<Keyframe> held_keys = keys;
    for (Keyframe& key : held_keys) {
        if (const PF_Err err = held(&key.value)) return err;
    }
    NoteChange({instance, index, param.value, param.dyn_flags, param.keys}, step_name);
    param.value = value;
    param.keys = std::move(held_keys);
    return PF_Err_NONE;
}

PF_Err SetDynamicFlag(Instance* instance, PF_ParamIndex index, AEGP_DynStreamFlags flag,
                      bool undoable, bool set) {
    std::lock_guard<std::mutex> lock(instance->mutex);
    if (index < 0 || std::size_t(index) >= instance->params.size()) return PF_Err_INVALID_INDEX;
    if (flag != AEGP_DynStreamFlag_HIDDEN && flag != AEGP_DynStreamFlag_DISABLED) {
        return Refuse(instance, PF_Err_BAD_CALLBACK_PARAM,
                      "dynamic stream flag " + std::to_string(flag) + " is not supported");
    }
    ParamStream& param = instance->params[std::size_t(index)];
    if (undoable) {
        NoteChange({instance, index, param.value, param.dyn_flags, param.keys},
                   "Change Visibility");
    }
    param.dyn_flags = set ? (param.dyn_flags | flag) : (param.dyn_flags & ~flag);
    return PF_Err_NONE;
}

PF_Err UpdateShownParam(Instance* instance, PF_ParamIndex index, const PF_ParamDef* def) {
    if (const PF_Err err = RefuseOutside(
            instance, {PF_Cmd_UPDATE_PARAMS_UI, PF_Cmd_USER_CHANGED_PARAM}, "PF_UpdateParamUI")) {
        return err;
    }
    std::lock_guard<std::mutex> lock(instance->mutex);
    if (index < 1 || std::size_t(index) >= instance->params.size()) {
        return Refuse(
            instance, PF_Err_INVALID_INDEX,
            "PF_UpdateParamUI for parameter " + std::to_string(index) + ", which does not exist");
    }
    if (!def)
        return Refuse(instance, PF_Err_BAD_CALLBACK_PARAM, "PF_UpdateParamUI without a definition");
    ParamStream& param = instance->params[std::size_t(index)];
    if (def->param_type != param.def.param_type) {
        return Refuse(instance, PF_Err_BAD_CALLBACK_PARAM,
                      "PF_UpdateParamUI changes the type of parameter " + std::to_string(index));
    }
    if (!NameTerminated(def->name)) {
        return Refuse(instance, PF_Err_BAD_CALLBACK_PARAM,
                      "PF_UpdateParamUI with a name not terminated within 32 bytes");
    }
    param.shown_name = def->name;
    param.shown_flags = def->flags;
    param.shown_ui_flags = def->ui_flags;
    return PF_Err_NONE;
}

}  // namespace vexo_host
