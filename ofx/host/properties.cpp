#include "properties.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "log.h"

namespace vexo::ofxhost {
namespace {

// Generated from ofx/abi/properties.tsv at configure time.
const PropRule kRules[] = {
#include "property_rules.inc"
};

// Per-clip properties carry the clip's name after the prefix; the prefix decides the rule.
const PropRule kClipRules[] = {
    {"OfxImageClipPropRoI_", kDouble, 4},
    {"OfxImageClipPropComponents_", kString, 1},
    {"OfxImageClipPropDepth_", kString, 1},
    {"OfxImageClipPropPAR_", kDouble, 1},
};

const char* TypeName(unsigned type) {
    switch (type) {
        case kInt:
            return "int";
        case kDouble:
            return "double";
        case kString:
            return "string";
        default:
            return "pointer";
    }
}

size_t Count(const PropValue& value) {
    switch (value.type) {
        case kInt:
            return value.ints.size();
        case kDouble:
            return value.doubles.size();
        case kString:
            return value.strings.size();
        default:
            return value.pointers.size();
    }
}

void Resize(PropValue& value, size_t count) {
    switch (value.type) {
        case kInt:
            value.ints.resize(count);
            break;
        case kDouble:
            value.doubles.resize(count);
            break;
        case kString:
            value.strings.resize(count);
            break;
        default:
            value.pointers.resize(count, nullptr);
    }
}

// Checks one suite call and finds the value it addresses (created, for a write to an open set).
// Every breach is recorded, and its status returned.
// The caller holds the set's lock.
OfxStatus Access(PropertySet* set, const char* function, const char* name, PropType type, int index,
                 int count, bool write, PropValue** out_value) {
    std::string call = std::string(function) + "(\"" + (name ? name : "(null)") + "\", " +
                       std::to_string(index) + ") on " + set->what + ": ";
    if (name == nullptr) {
        Violate(set->log, call + "no property name");
        return kOfxStatErrUnknown;
    }
    if (index < 0 || count < 0) {
        Violate(set->log, call + "negative index or count");
        return kOfxStatErrBadIndex;
    }
    const PropRule* rule = FindPropRule(name);
    if (rule != nullptr && (rule->types & type) == 0) {
        Violate(set->log,
                call + "the property is " + TypeName(rule->types) + ", not " + TypeName(type));
        return kOfxStatErrValue;
    }
    bool typed_by_param = rule != nullptr && (rule->types & (rule->types - 1)) != 0;
    if (typed_by_param && set->value_type != 0 && type != set->value_type) {
        Violate(set->log, call + "the parameter's values are " + TypeName(set->value_type) +
                              ", not " + TypeName(type));
        return kOfxStatErrValue;
    }
    if (rule != nullptr && rule->dimension > 0 && index + count > rule->dimension) {
        Violate(set->log,
                call + "beyond the property's dimension " + std::to_string(rule->dimension));
        return kOfxStatErrBadIndex;
    }
    auto found = set->values.find(name);
    if (found == set->values.end()) {
        // Absent properties are how a plug-in probes a host: an answer, not a fault.
        if (!write || !set->open) return kOfxStatErrUnknown;
        PropValue fresh;
        fresh.type = type;
        found = set->values.emplace(name, fresh).first;
    }
    PropValue& value = found->second;
    if (value.type != type) {
        Violate(set->log,
                call + "the value is " + TypeName(value.type) + ", not " + TypeName(type));
        return kOfxStatErrValue;
    }
    size_t end = static_cast<size_t>(index) + static_cast<size_t>(count);
    if (write) {
        if (end > Count(value)) Resize(value, end);
    } else if (end > Count(value)) {
        Violate(set->log, call + "beyond its " + std::to_string(Count(value)) + " values");
        return kOfxStatErrBadIndex;
    }
    *out_value = &value;
    return kOfxStatOK;
}

template <typename T>
std::vector<T>& Values(PropValue& value);
template <>
std::vector<int>& Values(PropValue& value) {
    return value.ints;
}
template <>
std::vector<double>& Values(PropValue& value) {
    return value.doubles;
}
template <>
std::vector<void*>& Values(PropValue& value) {
    return value.pointers;
}

template <typename T, PropType kType>
OfxStatus SetN(const char* function, OfxPropertySetHandle handle, const char* name, int index,
               int count, const T* values) {
    PropertySet* set = FromHandle(handle);
    if (set == nullptr) return kOfxStatErrBadHandle;
    std::lock_guard<std::mutex> lock(set->mutex);
    PropValue* value = nullptr;
    OfxStatus status = Access(set, function, name, kType, index, count, true, &value);
    if (status != kOfxStatOK) return status;
    std::copy(values, values + count, Values<T>(*value).begin() + index);
    return kOfxStatOK;
}

template <typename T, PropType kType>
OfxStatus GetN(const char* function, OfxPropertySetHandle handle, const char* name, int index,
               int count, T* values) {
    PropertySet* set = FromHandle(handle);
    if (set == nullptr || values == nullptr) return kOfxStatErrBadHandle;
    std::lock_guard<std::mutex> lock(set->mutex);
    PropValue* value = nullptr;
    OfxStatus status = Access(set, function, name, kType, index, count, false, &value);
    if (status != kOfxStatOK) return status;
    const std::vector<T>& all = Values<T>(*value);
    std::copy(all.begin() + index, all.begin() + index + count, values);
    return kOfxStatOK;
}

OfxStatus SetStrings(const char* function, OfxPropertySetHandle handle, const char* name, int index,
                     int count, const char* const* values) {
    PropertySet* set = FromHandle(handle);
    if (set == nullptr) return kOfxStatErrBadHandle;
    std::lock_guard<std::mutex> lock(set->mutex);
    PropValue* value = nullptr;
    OfxStatus status = Access(set, function, name, kString, index, count, true, &value);
    if (status != kOfxStatOK) return status;
    for (int i = 0; i < count; ++i) value->strings[index + i] = values[i] ? values[i] : "";
    return kOfxStatOK;
}

OfxStatus GetStrings(const char* function, OfxPropertySetHandle handle, const char* name, int index,
                     int count, char** values) {
    PropertySet* set = FromHandle(handle);
    if (set == nullptr || values == nullptr) return kOfxStatErrBadHandle;
    std::lock_guard<std::mutex> lock(set->mutex);
    PropValue* value = nullptr;
    OfxStatus status = Access(set, function, name, kString, index, count, false, &value);
    if (status != kOfxStatOK) return status;
    for (int i = 0; i < count; ++i)
        values[i] = const_cast<char*>(value->strings[index + i].c_str());
    return kOfxStatOK;
}

OfxStatus PropSetPointer(OfxPropertySetHandle h, const char* p, int i, void* v) {
    return SetN<void*, kPointer>("propSetPointer", h, p, i, 1, &v);
}
OfxStatus PropSetString(OfxPropertySetHandle h, const char* p, int i, const char* v) {
    return SetStrings("propSetString", h, p, i, 1, &v);
}
OfxStatus PropSetDouble(OfxPropertySetHandle h, const char* p, int i, double v) {
    return SetN<double, kDouble>("propSetDouble", h, p, i, 1, &v);
}
OfxStatus PropSetInt(OfxPropertySetHandle h, const char* p, int i, int v) {
    return SetN<int, kInt>("propSetInt", h, p, i, 1, &v);
}
OfxStatus PropSetPointerN(OfxPropertySetHandle h, const char* p, int n, void* const* v) {
    return SetN<void*, kPointer>("propSetPointerN", h, p, 0, n, v);
}
OfxStatus PropSetStringN(OfxPropertySetHandle h, const char* p, int n, const char* const* v) {
    return SetStrings("propSetStringN", h, p, 0, n, v);
}
OfxStatus PropSetDoubleN(OfxPropertySetHandle h, const char* p, int n, const double* v) {
    return SetN<double, kDouble>("propSetDoubleN", h, p, 0, n, v);
}
OfxStatus PropSetIntN(OfxPropertySetHandle h, const char* p, int n, const int* v) {
    return SetN<int, kInt>("propSetIntN", h, p, 0, n, v);
}
OfxStatus PropGetPointer(OfxPropertySetHandle h, const char* p, int i, void** v) {
    return GetN<void*, kPointer>("propGetPointer", h, p, i, 1, v);
}
OfxStatus PropGetString(OfxPropertySetHandle h, const char* p, int i, char** v) {
    return GetStrings("propGetString", h, p, i, 1, v);
}
OfxStatus PropGetDouble(OfxPropertySetHandle h, const char* p, int i, double* v) {
    return GetN<double, kDouble>("propGetDouble", h, p, i, 1, v);
}
OfxStatus PropGetInt(OfxPropertySetHandle h, const char* p, int i, int* v) {
    return GetN<int, kInt>("propGetInt", h, p, i, 1, v);
}
OfxStatus PropGetPointerN(OfxPropertySetHandle h, const char* p, int n, void** v) {
    return GetN<void*, kPointer>("propGetPointerN", h, p, 0, n, v);
}
OfxStatus PropGetStringN(OfxPropertySetHandle h, const char* p, int n, char** v) {
    return GetStrings("propGetStringN", h, p, 0, n, v);
}
OfxStatus PropGetDoubleN(OfxPropertySetHandle h, const char* p, int n, double* v) {
    return GetN<double, kDouble>("propGetDoubleN", h, p, 0, n, v);
}
OfxStatus PropGetIntN(OfxPropertySetHandle h, const char* p, int n, int* v) {
    return GetN<int, kInt>("propGetIntN", h, p, 0, n, v);
}

OfxStatus PropReset(OfxPropertySetHandle handle, const char* name) {
    PropertySet* set = FromHandle(handle);
    if (set == nullptr) return kOfxStatErrBadHandle;
    std::lock_guard<std::mutex> lock(set->mutex);
    return name != nullptr && set->values.count(name) ? kOfxStatOK : kOfxStatErrUnknown;
}

OfxStatus PropGetDimension(OfxPropertySetHandle handle, const char* name, int* count) {
    PropertySet* set = FromHandle(handle);
    if (set == nullptr || count == nullptr) return kOfxStatErrBadHandle;
    std::lock_guard<std::mutex> lock(set->mutex);
    auto found = name != nullptr ? set->values.find(name) : set->values.end();
    if (found == set->values.end()) return kOfxStatErrUnknown;
    *count = static_cast<int>(Count(found->second));
    return kOfxStatOK;
}

const OfxPropertySuiteV1 kSuite = {
    PropSetPointer, PropSetString,  PropSetDouble,    PropSetInt,     PropSetPointerN,
    PropSetStringN, PropSetDoubleN, PropSetIntN,      PropGetPointer, PropGetString,
    PropGetDouble,  PropGetInt,     PropGetPointerN,  PropGetStringN, PropGetDoubleN,
    PropGetIntN,    PropReset,      PropGetDimension,
};

template <typename Setter>
void HostSet(PropertySet& set, const std::string& name, PropType type, Setter&& fill) {
    std::lock_guard<std::mutex> lock(set.mutex);
    PropValue value;
    value.type = type;
    fill(value);
    set.values[name] = std::move(value);
}

const PropValue* HostFind(const PropertySet& set, const std::string& name, PropType type) {
    auto found = set.values.find(name);
    return found != set.values.end() && found->second.type == type ? &found->second : nullptr;
}

}  // namespace

const PropRule* FindPropRule(const std::string& name) {
    for (const PropRule& rule : kRules) {
        if (name == rule.name) return &rule;
    }
    for (const PropRule& rule : kClipRules) {
        if (name.rfind(rule.name, 0) == 0) return &rule;
    }
    return nullptr;
}

PropertySet* FromHandle(OfxPropertySetHandle handle) {
    auto* set = reinterpret_cast<PropertySet*>(handle);
    return set != nullptr && set->magic == PropertySet{}.magic ? set : nullptr;
}

void SetInts(PropertySet& set, const std::string& name, std::vector<int> values) {
    HostSet(set, name, kInt, [&](PropValue& v) { v.ints = std::move(values); });
}
void SetDoubles(PropertySet& set, const std::string& name, std::vector<double> values) {
    HostSet(set, name, kDouble, [&](PropValue& v) { v.doubles = std::move(values); });
}
void SetStrings(PropertySet& set, const std::string& name, std::vector<std::string> values) {
    HostSet(set, name, kString, [&](PropValue& v) { v.strings = std::move(values); });
}
void SetPointer(PropertySet& set, const std::string& name, void* value) {
    HostSet(set, name, kPointer, [&](PropValue& v) { v.pointers = {value}; });
}

void CopyValues(const PropertySet& from, PropertySet& to) {
    std::scoped_lock lock(from.mutex, to.mutex);
    for (const auto& [name, value] : from.values) to.values[name] = value;
}

int GetInt(const PropertySet& set, const std::string& name, int index, int fallback) {
    std::lock_guard<std::mutex> lock(set.mutex);
    const PropValue* value = HostFind(set, name, kInt);
    return value && index < static_cast<int>(value->ints.size()) ? value->ints[index] : fallback;
}

double GetDouble(const PropertySet& set, const std::string& name, int index, double fallback) {
    std::lock_guard<std::mutex> lock(set.mutex);
    const PropValue* value = HostFind(set, name, kDouble);
    return value && index < static_cast<int>(value->doubles.size()) ? value->doubles[index]
                                                                    : fallback;
}

std::string GetString(const PropertySet& set, const std::string& name, int index,
                      const std::string& fallback) {
    std::lock_guard<std::mutex> lock(set.mutex);
    const PropValue* value = HostFind(set, name, kString);
    return value && index < static_cast<int>(value->strings.size()) ? value->strings[index]
                                                                    : fallback;
}

std::vector<std::string> GetStrings(const PropertySet& set, const std::string& name) {
    std::lock_guard<std::mutex> lock(set.mutex);
    const PropValue* value = HostFind(set, name, kString);
    return value ? value->strings : std::vector<std::string>{};
}

std::vector<std::string> ValueTexts(const PropertySet& set, const std::string& name) {
    std::lock_guard<std::mutex> lock(set.mutex);
    auto found = set.values.find(name);
    std::vector<std::string> texts;
    if (found == set.values.end()) return texts;
    const PropValue& value = found->second;
    for (int i : value.ints) texts.push_back(std::to_string(i));
    for (double d : value.doubles) {
        char text[32];
        std::snprintf(text, sizeof text, "%.17g", d);
        texts.emplace_back(text);
    }
    for (const std::string& text : value.strings) texts.push_back(text);
    for (void* pointer : value.pointers) texts.push_back(pointer != nullptr ? "pointer" : "null");
    return texts;
}

bool Has(const PropertySet& set, const std::string& name) {
    std::lock_guard<std::mutex> lock(set.mutex);
    return set.values.count(name) != 0;
}

const OfxPropertySuiteV1* PropertySuite() { return &kSuite; }

}  // namespace vexo::ofxhost
