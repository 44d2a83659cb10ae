// The parameter suite: definitions checked against the action they happen in, values typed by
// the parameter's type and held per name.
#include <cstdarg>
#include <cstring>

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

OfxStatus GetValues(Param* param, va_list args) {
    if (param == nullptr) return kOfxStatErrBadHandle;
    const ParamShape* shape = ShapeOf(param->type);
    if (shape == nullptr || shape->components == 0) return kOfxStatErrBadHandle;
    // Renders on several threads read at once: nothing here may write.
    const ParamValue& value = param->value;
    for (int i = 0; i < shape->components; ++i) {
        double number = i < static_cast<int>(value.numbers.size()) ? value.numbers[i] : 0.0;
        if (shape->kind == 'i') {
            *va_arg(args, int*) = static_cast<int>(number);
        } else if (shape->kind == 'd') {
            *va_arg(args, double*) = number;
        } else {
            *va_arg(args, char**) = const_cast<char*>(value.text.c_str());
        }
    }
    return kOfxStatOK;
}

OfxStatus SetValues(Param* param, const char* function, va_list args) {
    if (param == nullptr) return kOfxStatErrBadHandle;
    std::string action = ActionName();
    if (action != kOfxActionCreateInstance && action != kOfxActionInstanceChanged) {
        Violate(param->props.log,
                std::string(function) + "(\"" + param->name +
                    "\") outside the create-instance and instance-changed actions (in " + action +
                    ")");
        return kOfxStatFailed;
    }
    const ParamShape* shape = ShapeOf(param->type);
    if (shape == nullptr || shape->components == 0) return kOfxStatErrBadHandle;
    ParamValue& value = param->value;
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
    OfxStatus status = GetValues(AsParam(handle), args);
    va_end(args);
    return status;
}

// Values are constant in time: every time reads the one value.
OfxStatus ParamGetValueAtTime(OfxParamHandle handle, OfxTime time, ...) {
    va_list args;
    va_start(args, time);
    OfxStatus status = GetValues(AsParam(handle), args);
    va_end(args);
    return status;
}

OfxStatus ParamGetDerivative(OfxParamHandle handle, OfxTime time, ...) {
    Param* param = AsParam(handle);
    const ParamShape* shape = param ? ShapeOf(param->type) : nullptr;
    if (shape == nullptr || shape->kind != 'd') return kOfxStatErrBadHandle;
    va_list args;
    va_start(args, time);
    for (int i = 0; i < shape->components; ++i) *va_arg(args, double*) = 0.0;
    va_end(args);
    return kOfxStatOK;
}

OfxStatus ParamGetIntegral(OfxParamHandle handle, OfxTime time1, OfxTime time2, ...) {
    Param* param = AsParam(handle);
    const ParamShape* shape = param ? ShapeOf(param->type) : nullptr;
    if (shape == nullptr || shape->kind != 'd') return kOfxStatErrBadHandle;
    const std::vector<double>& numbers = param->value.numbers;
    va_list args;
    va_start(args, time2);
    for (int i = 0; i < shape->components; ++i) {
        double number = i < static_cast<int>(numbers.size()) ? numbers[i] : 0.0;
        *va_arg(args, double*) = number * (time2 - time1);
    }
    va_end(args);
    return kOfxStatOK;
}

OfxStatus ParamSetValue(OfxParamHandle handle, ...) {
    va_list args;
    va_start(args, handle);
    OfxStatus status = SetValues(AsParam(handle), "paramSetValue", args);
    va_end(args);
    return status;
}

OfxStatus ParamSetValueAtTime(OfxParamHandle handle, OfxTime time, ...) {
    va_list args;
    va_start(args, time);
    OfxStatus status = SetValues(AsParam(handle), "paramSetValueAtTime", args);
    va_end(args);
    return status;
}

OfxStatus ParamGetNumKeys(OfxParamHandle handle, unsigned* keys) {
    if (AsParam(handle) == nullptr || keys == nullptr) return kOfxStatErrBadHandle;
    *keys = 0;
    return kOfxStatOK;
}

OfxStatus ParamGetKeyTime(OfxParamHandle, unsigned, OfxTime*) { return kOfxStatErrBadIndex; }

OfxStatus ParamGetKeyIndex(OfxParamHandle, OfxTime, int, int*) { return kOfxStatFailed; }

OfxStatus ParamDeleteKey(OfxParamHandle, OfxTime) { return kOfxStatErrBadIndex; }

OfxStatus ParamDeleteAllKeys(OfxParamHandle) { return kOfxStatOK; }

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

void InstantiateParams(Session& session, const ParamSet& descriptor, ParamSet& instance) {
    CopyValues(descriptor.props, instance.props);
    for (const std::string& name : descriptor.order) {
        const Param& from = *descriptor.params.at(name);
        auto param = std::make_unique<Param>();
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
        auto preset = session.preset_values.find(name);
        if (preset != session.preset_values.end()) param->value = preset->second;
        instance.order.push_back(name);
        instance.params[name] = std::move(param);
    }
}

}  // namespace vexo::ofxhost
