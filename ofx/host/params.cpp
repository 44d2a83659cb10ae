// The parameter suite: definitions checked against the action they happen in, values typed by
// the parameter's type and held per name, as keys in time where the parameter animates.
#include <algorithm>
#include <cstdarg>
#include <cstring>
#include <iterator>

#include "session.h"

namespace vexo::ofxhost {
namespace {

// Each type's value: the C type of its components through "..." ('i' int, 'd' double, 's' a
// string) and how many there are. Types with no value have none.
struct ParamShape {
    const char* type;
    char kind;
    int components;
};

const ParamShape kShapes[] = {
    {kOfxParamTypeInteger, 'i', 1},   {kOfxParamTypeDouble, 'd', 1},
    {kOfxParamTypeBoolean, 'i', 1},   {kOfxParamTypeChoice, 'i', 1},
    {kOfxParamTypeStrChoice, 's', 1}, {kOfxParamTypeRGBA, 'd', 4},
    {kOfxParamTypeRGB, 'd', 3},       {kOfxParamTypeDouble2D, 'd', 2},
    {kOfxParamTypeInteger2D, 'i', 2}, {kOfxParamTypeDouble3D, 'd', 3},
    {kOfxParamTypeInteger3D, 'i', 3}, {kOfxParamTypeString, 's', 1},
    {kOfxParamTypeCustom, 's', 1},    {kOfxParamTypeGroup, 0, 0},
    {kOfxParamTypePage, 0, 0},        {kOfxParamTypePushButton, 0, 0},
};

const ParamShape* ShapeOf(const std::string& type) {
    for (const ParamShape& shape : kShapes) {
        if (type == shape.type) return &shape;
    }
    return nullptr;
}

double Component(const ParamValue& value, int i) {
    return i < static_cast<int>(value.numbers.size()) ? value.numbers[i] : 0.0;
}

unsigned ValueType(const ParamShape* shape) {
    switch (shape != nullptr ? shape->kind : 0) {
        case 'i':
            return kInt;
        case 'd':
            return kDouble;
        case 's':
            return kString;
        default:
            return 0;
    }
}

ParamSet* AsParamSet(OfxParamSetHandle handle) {
    auto* set = reinterpret_cast<ParamSet*>(handle);
    return set != nullptr && set->magic == ParamSet{}.magic ? set : nullptr;
}

Param* AsParam(OfxParamHandle handle) {
    auto* param = reinterpret_cast<Param*>(handle);
    return param != nullptr && param->magic == Param{}.magic ? param : nullptr;
}

std::string ActionName() {
    Scope* scope = CurrentScope();
    return scope != nullptr ? scope->action : "no action";
}

OfxStatus ParamDefine(OfxParamSetHandle handle, const char* type, const char* name,
                      OfxPropertySetHandle* props) {
    ParamSet* set = AsParamSet(handle);
    if (set == nullptr || type == nullptr || name == nullptr) return kOfxStatErrBadHandle;
    Log* log = &set->owner->session->log;
    std::string action = ActionName();
    if (set->owner->instance || action != kOfxImageEffectActionDescribeInContext) {
        Violate(log, std::string("paramDefine(\"") + name +
                         "\") outside the describe-in-context action (in " + action + ")");
        return kOfxStatFailed;
    }
    if (ShapeOf(type) == nullptr) return kOfxStatErrUnknown;
    if (set->params.count(name) != 0) {
        Violate(log, std::string("paramDefine(\"") + name + "\"): defined twice");
        return kOfxStatErrExists;
    }
    auto param = std::make_unique<Param>();
    param->session = set->owner->session;
    param->name = name;
    param->type = type;
    param->props.what = std::string("parameter ") + name;
    param->props.open = true;
    param->props.log = log;
    param->props.value_type = ValueType(ShapeOf(type));
    SetStrings(param->props, kOfxPropType, {kOfxTypeParameter});
    SetStrings(param->props, kOfxPropName, {name});
    SetStrings(param->props, kOfxParamPropType, {type});
    if (props != nullptr) *props = Handle(param->props);
    set->order.push_back(name);
    set->params[name] = std::move(param);
    return kOfxStatOK;
}

OfxStatus ParamGetHandle(OfxParamSetHandle handle, const char* name, OfxParamHandle* param,
                         OfxPropertySetHandle* props) {
    ParamSet* set = AsParamSet(handle);
    if (set == nullptr || name == nullptr) return kOfxStatErrBadHandle;
    auto found = set->params.find(name);
    if (found == set->params.end()) return kOfxStatErrUnknown;
    if (param != nullptr) *param = reinterpret_cast<OfxParamHandle>(found->second.get());
    if (props != nullptr) *props = Handle(found->second->props);
    return kOfxStatOK;
}

OfxStatus ParamSetGetPropertySet(OfxParamSetHandle handle, OfxPropertySetHandle* props) {
    ParamSet* set = AsParamSet(handle);
    if (set == nullptr || props == nullptr) return kOfxStatErrBadHandle;
    *props = Handle(set->props);
    return kOfxStatOK;
}

OfxStatus ParamGetPropertySet(OfxParamHandle handle, OfxPropertySetHandle* props) {
    Param* param = AsParam(handle);
    if (param == nullptr || props == nullptr) return kOfxStatErrBadHandle;
    *props = Handle(param->props);
    return kOfxStatOK;
}

OfxStatus GetValues(Param* param, const OfxTime* at, va_list args) {
    if (param == nullptr) return kOfxStatErrBadHandle;
    const ParamShape* shape = ShapeOf(param->type);
    if (shape == nullptr || shape->components == 0) return kOfxStatErrBadHandle;
    // Renders on several threads read at once: nothing here may write.
    const ParamValue value = ParamValueAt(*param, at != nullptr ? *at : param->session->time);
    for (int i = 0; i < shape->components; ++i) {
        double number = i < static_cast<int>(value.numbers.size()) ? value.numbers[i] : 0.0;
        if (shape->kind == 'i') {
            *va_arg(args, int*) = static_cast<int>(number);
        } else if (shape->kind == 'd') {
            *va_arg(args, double*) = number;
        } else {
            // Strings never animate here: the text lives as long as the parameter's value.
            *va_arg(args, char**) = const_cast<char*>(param->value.text.c_str());
        }
    }
    return kOfxStatOK;
}

bool MayWrite(Param* param, const char* function) {
    std::string action = ActionName();
    if (action == kOfxActionCreateInstance || action == kOfxActionInstanceChanged) return true;
    Violate(param->props.log,
            std::string(function) + "(\"" + param->name +
                "\") outside the create-instance and instance-changed actions (in " + action + ")");
    return false;
}

// Without a time, an animated parameter is keyed at the action's time, a constant replaced.
OfxStatus SetValues(Param* param, const char* function, const OfxTime* at, va_list args) {
    if (param == nullptr) return kOfxStatErrBadHandle;
    if (!MayWrite(param, function)) return kOfxStatFailed;
    const ParamShape* shape = ShapeOf(param->type);
    if (shape == nullptr || shape->components == 0) return kOfxStatErrBadHandle;
    OfxTime time = at != nullptr ? *at : param->session->time;
    bool keyed = param->animates && (at != nullptr || !param->keys.empty());
    ParamValue& value = keyed ? param->keys[time] : param->value;
    value.numbers.resize(shape->components);
    for (int i = 0; i < shape->components; ++i) {
        if (shape->kind == 'i') {
            value.numbers[i] = va_arg(args, int);
        } else if (shape->kind == 'd') {
            value.numbers[i] = va_arg(args, double);
        } else {
            const char* text = va_arg(args, const char*);
            value.text = text ? text : "";
        }
    }
    return kOfxStatOK;
}

OfxStatus ParamGetValue(OfxParamHandle handle, ...) {
    va_list args;
    va_start(args, handle);
    OfxStatus status = GetValues(AsParam(handle), nullptr, args);
    va_end(args);
    return status;
}

OfxStatus ParamGetValueAtTime(OfxParamHandle handle, OfxTime time, ...) {
    va_list args;
    va_start(args, time);
    OfxStatus status = GetValues(AsParam(handle), &time, args);
    va_end(args);
    return status;
}

OfxStatus ParamGetDerivative(OfxParamHandle handle, OfxTime time, ...) {
    Param* param = AsParam(handle);
    const ParamShape* shape = param ? ShapeOf(param->type) : nullptr;
    if (shape == nullptr || shape->kind != 'd') return kOfxStatErrBadHandle;
    // The slope of the segment the time is in; nothing changes outside the keys.
    std::vector<double> slope(shape->components, 0.0);
    auto next = param->keys.upper_bound(time);
    if (next != param->keys.begin() && next != param->keys.end()) {
        auto last = std::prev(next);
        double span = next->first - last->first;
        for (int i = 0; i < shape->components; ++i) {
            slope[i] = (Component(next->second, i) - Component(last->second, i)) / span;
        }
    }
    va_list args;
    va_start(args, time);
    for (int i = 0; i < shape->components; ++i) *va_arg(args, double*) = slope[i];
    va_end(args);
    return kOfxStatOK;
}

OfxStatus ParamGetIntegral(OfxParamHandle handle, OfxTime time1, OfxTime time2, ...) {
    Param* param = AsParam(handle);
    const ParamShape* shape = param ? ShapeOf(param->type) : nullptr;
    if (shape == nullptr || shape->kind != 'd') return kOfxStatErrBadHandle;
    // Linear between keys and constant beyond them: trapezoids between the keys are exact.
    std::vector<OfxTime> times{time1};
    for (const auto& key : param->keys) {
        if (key.first > std::min(time1, time2) && key.first < std::max(time1, time2)) {
            times.push_back(key.first);
        }
    }
    if (time2 < time1) std::reverse(times.begin() + 1, times.end());
    times.push_back(time2);
    std::vector<double> sums(shape->components, 0.0);
    for (size_t k = 0; k + 1 < times.size(); ++k) {
        ParamValue a = ParamValueAt(*param, times[k]), b = ParamValueAt(*param, times[k + 1]);
        for (int i = 0; i < shape->components; ++i) {
            sums[i] += (Component(a, i) + Component(b, i)) / 2 * (times[k + 1] - times[k]);
        }
    }
    va_list args;
    va_start(args, time2);
    for (int i = 0; i < shape->components; ++i) *va_arg(args, double*) = sums[i];
    va_end(args);
    return kOfxStatOK;
}

OfxStatus ParamSetValue(OfxParamHandle handle, ...) {
    va_list args;
    va_start(args, handle);
    OfxStatus status = SetValues(AsParam(handle), "paramSetValue", nullptr, args);
    va_end(args);
    return status;
}

OfxStatus ParamSetValueAtTime(OfxParamHandle handle, OfxTime time, ...) {
    va_list args;
    va_start(args, time);
    OfxStatus status = SetValues(AsParam(handle), "paramSetValueAtTime", &time, args);
    va_end(args);
    return status;
}

OfxStatus ParamGetNumKeys(OfxParamHandle handle, unsigned* keys) {
    Param* param = AsParam(handle);
    if (param == nullptr || keys == nullptr) return kOfxStatErrBadHandle;
    *keys = static_cast<unsigned>(param->keys.size());
    return kOfxStatOK;
}

OfxStatus ParamGetKeyTime(OfxParamHandle handle, unsigned index, OfxTime* time) {
    Param* param = AsParam(handle);
    if (param == nullptr || time == nullptr) return kOfxStatErrBadHandle;
    if (index >= param->keys.size()) return kOfxStatErrBadIndex;
    *time = std::next(param->keys.begin(), index)->first;
    return kOfxStatOK;
}

// The key at `time` (direction 0), the last before it (-1) or the first after it (1).
OfxStatus ParamGetKeyIndex(OfxParamHandle handle, OfxTime time, int direction, int* index) {
    Param* param = AsParam(handle);
    if (param == nullptr || index == nullptr) return kOfxStatErrBadHandle;
    const auto& keys = param->keys;
    auto found = keys.find(time);
    if (direction > 0) {
        found = keys.upper_bound(time);
    } else if (direction < 0) {
        found = keys.lower_bound(time);
        found = found == keys.begin() ? keys.end() : std::prev(found);
    }
    if (found == keys.end()) return kOfxStatFailed;
    *index = static_cast<int>(std::distance(keys.begin(), found));
    return kOfxStatOK;
}

OfxStatus ParamDeleteKey(OfxParamHandle handle, OfxTime time) {
    Param* param = AsParam(handle);
    if (param == nullptr) return kOfxStatErrBadHandle;
    if (!MayWrite(param, "paramDeleteKey")) return kOfxStatFailed;
    auto found = param->keys.find(time);
    if (found == param->keys.end()) return kOfxStatErrBadIndex;
    if (param->keys.size() == 1) param->value = found->second;
    param->keys.erase(found);
    return kOfxStatOK;
}

// The value at the action's time stays, as a constant.
OfxStatus ParamDeleteAllKeys(OfxParamHandle handle) {
    Param* param = AsParam(handle);
    if (param == nullptr) return kOfxStatErrBadHandle;
    if (!MayWrite(param, "paramDeleteAllKeys")) return kOfxStatFailed;
    param->value = ParamValueAt(*param, param->session->time);
    param->keys.clear();
    return kOfxStatOK;
}

OfxStatus ParamCopy(OfxParamHandle, OfxParamHandle, OfxTime, const OfxRangeD*) {
    return kOfxStatErrUnsupported;
}

OfxStatus ParamEditBegin(OfxParamSetHandle, const char*) { return kOfxStatOK; }

OfxStatus ParamEditEnd(OfxParamSetHandle) { return kOfxStatOK; }

const OfxParameterSuiteV1 kSuite = {
    ParamDefine,      ParamGetHandle,      ParamSetGetPropertySet, ParamGetPropertySet,
    ParamGetValue,    ParamGetValueAtTime, ParamGetDerivative,     ParamGetIntegral,
    ParamSetValue,    ParamSetValueAtTime, ParamGetNumKeys,        ParamGetKeyTime,
    ParamGetKeyIndex, ParamDeleteKey,      ParamDeleteAllKeys,     ParamCopy,
    ParamEditBegin,   ParamEditEnd,
};

}  // namespace

const void* ParameterSuite() { return &kSuite; }

void AssignParam(Param& param, OfxTime time, const ParamValue& value) {
    if (param.animates) {
        param.keys[time] = value;
    } else {
        param.value = value;
    }
}

ParamValue ParamValueAt(const Param& param, OfxTime time) {
    const auto& keys = param.keys;
    if (keys.empty()) return param.value;
    auto next = keys.upper_bound(time);
    if (next == keys.begin()) return next->second;
    auto last = std::prev(next);
    const ParamShape* shape = ShapeOf(param.type);
    if (next == keys.end() || shape == nullptr || shape->kind != 'd') return last->second;
    // In this order, so that a key's own time gives its value exactly.
    ParamValue value = last->second;
    value.numbers.resize(shape->components);
    double from = time - last->first, span = next->first - last->first;
    for (int i = 0; i < shape->components; ++i) {
        double v0 = Component(last->second, i), v1 = Component(next->second, i);
        value.numbers[i] = v0 + (v1 - v0) * from / span;
    }
    return value;
}

void InstantiateParams(Session& session, const ParamSet& descriptor, ParamSet& instance) {
    CopyValues(descriptor.props, instance.props);
    for (const std::string& name : descriptor.order) {
        const Param& from = *descriptor.params.at(name);
        auto param = std::make_unique<Param>();
        param->session = &session;
        param->name = name;
        param->type = from.type;
        param->props.what = "parameter " + name;
        param->props.open = true;
        param->props.log = &session.log;
        param->props.value_type = from.props.value_type;
        CopyValues(from.props, param->props);
        SetStrings(param->props, kOfxPropType, {kOfxTypeParameterInstance});
        const ParamShape* shape = ShapeOf(from.type);
        for (int i = 0; shape != nullptr && i < shape->components; ++i) {
            if (shape->kind == 's') {
                param->value.text = GetString(from.props, kOfxParamPropDefault, 0, "");
            } else {
                double fallback = GetInt(from.props, kOfxParamPropDefault, i, 0);
                param->value.numbers.push_back(
                    GetDouble(from.props, kOfxParamPropDefault, i, fallback));
            }
        }
        // What animates here: numbers, as the host's properties declare; boolean, choice and
        // string values do not.
        param->animates = shape != nullptr && shape->kind != 's' &&
                          from.type != kOfxParamTypeBoolean && from.type != kOfxParamTypeChoice &&
                          GetInt(from.props, kOfxParamPropAnimates, 0, 1) != 0;
        for (const auto& [preset, time, value] : session.preset_values) {
            if (preset == name) AssignParam(*param, time, value);
        }
        instance.order.push_back(name);
        instance.params[name] = std::move(param);
    }
}

}  // namespace vexo::ofxhost
