#include "standalone/aegp_suites.h"

#include <cstring>

#include "AE_EffectSuites.h"
#include "AE_GeneralPlug.h"
#include "standalone/suites.h"
#include "standalone/undo.h"

namespace vexo_host {
namespace {

struct EffectRecord {
    Instance* instance;
};

struct StreamRecord {
    Instance* instance;
    PF_ParamIndex index;
};

// Handles point at records that only this registry creates and frees, so a stale or foreign
// handle is recognised instead of followed.
struct Refs {
    std::mutex mutex;
    std::set<EffectRecord*> effects;
    std::set<StreamRecord*> streams;
    std::vector<std::string> info;
};

Refs& R() {
    static Refs* refs = new Refs;
    return *refs;
}

bool LiveEffect(AEGP_EffectRefH handle, EffectRecord* out) {
    auto* record = reinterpret_cast<EffectRecord*>(handle);
    std::lock_guard<std::mutex> lock(R().mutex);
    if (!R().effects.count(record)) return false;
    *out = *record;
    return true;
}

bool LiveStream(AEGP_StreamRefH handle, StreamRecord* out) {
    auto* record = reinterpret_cast<StreamRecord*>(handle);
    std::lock_guard<std::mutex> lock(R().mutex);
    if (!R().streams.count(record)) return false;
    *out = *record;
    return true;
}

// --- AEGP PF Interface Suite 1

A_Err GetEffectLayer(PF_ProgPtr effect_ref, AEGP_LayerH* layerPH) {
    if (const PF_Err err = InjectedFailure("AEGP_GetEffectLayer")) return err;
    if (layerPH) *layerPH = nullptr;
    // This host keeps no layer records that an effect could reach.
    return InstanceFromRef(effect_ref) ? A_Err(PF_Err_INVALID_CALLBACK)
                                       : A_Err(PF_Err_BAD_CALLBACK_PARAM);
}

A_Err GetNewEffectForEffect(AEGP_PluginID, PF_ProgPtr effect_ref, AEGP_EffectRefH* effectPH) {
    if (!effectPH) return PF_Err_BAD_CALLBACK_PARAM;
    *effectPH = nullptr;
    if (const PF_Err err = InjectedFailure("AEGP_GetNewEffectForEffect")) return err;
    Instance* instance = InstanceFromRef(effect_ref);
    if (!instance) return PF_Err_BAD_CALLBACK_PARAM;
    auto* record = new EffectRecord{instance};
    std::lock_guard<std::mutex> lock(R().mutex);
    R().effects.insert(record);
    *effectPH = reinterpret_cast<AEGP_EffectRefH>(record);
    return A_Err_NONE;
}

AEGP_PFInterfaceSuite1 MakePFInterfaceSuite() {
    AEGP_PFInterfaceSuite1 suite{};
    suite.AEGP_GetEffectLayer = GetEffectLayer;
    suite.AEGP_GetNewEffectForEffect = GetNewEffectForEffect;
    return suite;
}
const AEGP_PFInterfaceSuite1 g_pf_interface = MakePFInterfaceSuite();

// --- "AEGP Utility Suite" 7: the SDK's AEGP_UtilitySuite3

A_Err ReportInfo(AEGP_PluginID, const A_char* info) {
    if (const PF_Err err = InjectedFailure("AEGP_ReportInfo")) return err;
    if (!info) return PF_Err_BAD_CALLBACK_PARAM;
    std::lock_guard<std::mutex> lock(R().mutex);
    R().info.push_back(info);
    return A_Err_NONE;
}

// Undo groups and stream writes belong to a user's edit: the application takes them only while
// the effect answers one, on the thread that sent it.
A_Err StartUndoGroup(const A_char* undo_name) {
    if (const PF_Err err = InjectedFailure("AEGP_StartUndoGroup")) return err;
    if (const PF_Err err = RefuseOutside(InstanceOnThisThread(), {PF_Cmd_USER_CHANGED_PARAM},
                                         "AEGP_StartUndoGroup")) {
        return err;
    }
    if (!undo_name) return PF_Err_BAD_CALLBACK_PARAM;
    BeginUndoGroup(undo_name);
    return A_Err_NONE;
}

A_Err EndUndoGroupEntry() {
    if (const PF_Err err = InjectedFailure("AEGP_EndUndoGroup")) return err;
    if (const PF_Err err = RefuseOutside(InstanceOnThisThread(), {PF_Cmd_USER_CHANGED_PARAM},
                                         "AEGP_EndUndoGroup")) {
        return err;
    }
    return EndUndoGroup() ? A_Err(A_Err_NONE) : A_Err(PF_Err_BAD_CALLBACK_PARAM);
}

AEGP_UtilitySuite3 MakeUtilitySuite() {
    AEGP_UtilitySuite3 suite{};
    suite.AEGP_ReportInfo = ReportInfo;
    suite.AEGP_StartUndoGroup = StartUndoGroup;
    suite.AEGP_EndUndoGroup = EndUndoGroupEntry;
    return suite;
}
const AEGP_UtilitySuite3 g_utility = MakeUtilitySuite();

// --- "AEGP Stream Suite" 7 and 9, the SDK's AEGP_StreamSuite2 and 4: one set of entries.

A_Err CanVaryOverTime(AEGP_StreamRefH streamH, A_Boolean* can_varyPB) {
    StreamRecord stream;
    if (!can_varyPB || !LiveStream(streamH, &stream)) return PF_Err_BAD_CALLBACK_PARAM;
    std::lock_guard<std::mutex> lock(stream.instance->mutex);
    *can_varyPB = stream.instance->params[std::size_t(stream.index)].time_varying;
    return A_Err_NONE;
}

A_Err GetEffectNumParamStreams(AEGP_EffectRefH effectH, A_long* num_paramsPL) {
    EffectRecord effect;
    if (!num_paramsPL || !LiveEffect(effectH, &effect)) return PF_Err_BAD_CALLBACK_PARAM;
    std::lock_guard<std::mutex> lock(effect.instance->mutex);
    *num_paramsPL = A_long(effect.instance->params.size());
    return A_Err_NONE;
}

A_Err GetNewEffectStreamByIndex(AEGP_PluginID, AEGP_EffectRefH effectH, PF_ParamIndex index,
                                AEGP_StreamRefH* streamPH) {
    if (!streamPH) return PF_Err_BAD_CALLBACK_PARAM;
    *streamPH = nullptr;
    if (const PF_Err err = InjectedFailure("AEGP_GetNewEffectStreamByIndex")) return err;
    EffectRecord effect;
    if (!LiveEffect(effectH, &effect)) return PF_Err_BAD_CALLBACK_PARAM;
    {
        std::lock_guard<std::mutex> lock(effect.instance->mutex);
        if (index < 0 || std::size_t(index) >= effect.instance->params.size()) {
            return PF_Err_INVALID_INDEX;
        }
    }
    auto* record = new StreamRecord{effect.instance, index};
    std::lock_guard<std::mutex> lock(R().mutex);
    R().streams.insert(record);
    *streamPH = reinterpret_cast<AEGP_StreamRefH>(record);
    return A_Err_NONE;
}

A_Err DisposeStream(AEGP_StreamRefH streamH) {
    if (const PF_Err err = InjectedFailure("AEGP_DisposeStream")) return err;
    auto* record = reinterpret_cast<StreamRecord*>(streamH);
    std::lock_guard<std::mutex> lock(R().mutex);
    if (!R().streams.erase(record)) return PF_Err_BAD_CALLBACK_PARAM;
    delete record;
    return A_Err_NONE;
}

A_Err SetStreamValue(AEGP_PluginID, AEGP_StreamRefH streamH, AEGP_StreamValue2* valueP) {
    if (const PF_Err err = InjectedFailure("AEGP_SetStreamValue")) return err;
    StreamRecord stream;
    if (!valueP || !LiveStream(streamH, &stream)) return PF_Err_BAD_CALLBACK_PARAM;
    if (const PF_Err err =
            RefuseOutside(stream.instance, {PF_Cmd_USER_CHANGED_PARAM}, "AEGP_SetStreamValue")) {
        return err;
    }
    std::string name;
    {
        std::lock_guard<std::mutex> lock(stream.instance->mutex);
        name = DisplayName(stream.instance->params[std::size_t(stream.index)]);
    }
    return WriteStream(stream.instance, stream.index, valueP->val.one_d, "Change " + name);
}

// "AEGP Stream Suite" 7 takes the older value record; it carries the same values.
A_Err SetStreamValue(AEGP_PluginID plugin, AEGP_StreamRefH streamH, AEGP_StreamValue* valueP) {
    if (!valueP) return SetStreamValue(plugin, streamH, static_cast<AEGP_StreamValue2*>(nullptr));
    AEGP_StreamValue2 value{};
    value.streamH = valueP->streamH;
    // The value unions are alike byte for byte; a member copy would assign an array.
    static_assert(sizeof value.val == sizeof valueP->val, "the stream value records differ");
    std::memcpy(&value.val, &valueP->val, sizeof value.val);
    return SetStreamValue(plugin, streamH, &value);
}

template <typename Suite>
Suite MakeStreamSuite() {
    Suite suite{};
    suite.AEGP_CanVaryOverTime = CanVaryOverTime;
    suite.AEGP_GetEffectNumParamStreams = GetEffectNumParamStreams;
    suite.AEGP_GetNewEffectStreamByIndex = GetNewEffectStreamByIndex;
    suite.AEGP_DisposeStream = DisposeStream;
    suite.AEGP_SetStreamValue = SetStreamValue;
    return suite;
}
const AEGP_StreamSuite2 g_stream7 = MakeStreamSuite<AEGP_StreamSuite2>();
const AEGP_StreamSuite4 g_stream9 = MakeStreamSuite<AEGP_StreamSuite4>();

// --- AEGP Dynamic Stream Suite 2

A_Err GetDynamicStreamFlags(AEGP_StreamRefH streamH, AEGP_DynStreamFlags* flagsP) {
    StreamRecord stream;
    if (!flagsP || !LiveStream(streamH, &stream)) return PF_Err_BAD_CALLBACK_PARAM;
    std::lock_guard<std::mutex> lock(stream.instance->mutex);
    *flagsP = stream.instance->params[std::size_t(stream.index)].dyn_flags;
    return A_Err_NONE;
}

A_Err SetDynamicStreamFlag(AEGP_StreamRefH streamH, AEGP_DynStreamFlags one_flag,
                           A_Boolean undoableB, A_Boolean setB) {
    if (const PF_Err err = InjectedFailure("AEGP_SetDynamicStreamFlag")) return err;
    StreamRecord stream;
    if (!LiveStream(streamH, &stream)) return PF_Err_BAD_CALLBACK_PARAM;
    if (const PF_Err err =
            RefuseOutside(stream.instance, {PF_Cmd_UPDATE_PARAMS_UI, PF_Cmd_USER_CHANGED_PARAM},
                          "AEGP_SetDynamicStreamFlag")) {
        return err;
    }
    return SetDynamicFlag(stream.instance, stream.index, one_flag, undoableB != 0, setB != 0);
}

AEGP_DynamicStreamSuite2 MakeDynamicStreamSuite() {
    AEGP_DynamicStreamSuite2 suite{};
    suite.AEGP_GetDynamicStreamFlags = GetDynamicStreamFlags;
    suite.AEGP_SetDynamicStreamFlag = SetDynamicStreamFlag;
    return suite;
}
const AEGP_DynamicStreamSuite2 g_dynamic_stream = MakeDynamicStreamSuite();

// --- PF Param Utils Suite 3

PF_Err UpdateParamUI(PF_ProgPtr effect_ref, PF_ParamIndex param_index, const PF_ParamDef* defP) {
    if (const PF_Err err = InjectedFailure("PF_UpdateParamUI")) return err;
    Instance* instance = InstanceFromRef(effect_ref);
    if (!instance) return PF_Err_BAD_CALLBACK_PARAM;
    return UpdateShownParam(instance, param_index, defP);
}

// Parameter states serve caching of effects that keep frame data; this host offers none.
PF_Err GetCurrentState(PF_ProgPtr, PF_ParamIndex, const A_Time*, const A_Time*, PF_State*) {
    return PF_Err_INVALID_CALLBACK;
}
PF_Err AreStatesIdentical(PF_ProgPtr, const PF_State*, const PF_State*, A_Boolean*) {
    return PF_Err_INVALID_CALLBACK;
}
PF_Err IsIdenticalCheckout(PF_ProgPtr, PF_ParamIndex, A_long, A_long, A_u_long, A_long, A_long,
                           A_u_long, PF_Boolean*) {
    return PF_Err_INVALID_CALLBACK;
}

PF_ParamUtilsSuite3 MakeParamUtilsSuite() {
    PF_ParamUtilsSuite3 suite{};
    suite.PF_UpdateParamUI = UpdateParamUI;
    suite.PF_GetCurrentState = GetCurrentState;
    suite.PF_AreStatesIdentical = AreStatesIdentical;
    suite.PF_IsIdenticalCheckout = IsIdenticalCheckout;
    return suite;
}
const PF_ParamUtilsSuite3 g_param_utils = MakeParamUtilsSuite();

// --- AEGP Effect Suite 2 and 3

A_Err DisposeEffect(AEGP_EffectRefH effectH) {
    if (const PF_Err err = InjectedFailure("AEGP_DisposeEffect")) return err;
    auto* record = reinterpret_cast<EffectRecord*>(effectH);
    std::lock_guard<std::mutex> lock(R().mutex);
    if (!R().effects.erase(record)) return PF_Err_BAD_CALLBACK_PARAM;
    delete record;
    return A_Err_NONE;
}

template <typename Suite>
Suite MakeEffectSuite() {
    Suite suite{};
    suite.AEGP_DisposeEffect = DisposeEffect;
    return suite;
}
const AEGP_EffectSuite2 g_effect2 = MakeEffectSuite<AEGP_EffectSuite2>();
const AEGP_EffectSuite3 g_effect3 = MakeEffectSuite<AEGP_EffectSuite3>();

}  // namespace

void RegisterAegpSuites() {
    // Every time, not once: a test may have put its own table under one of these names.
    RegisterSuite(kAEGPPFInterfaceSuite, kAEGPPFInterfaceSuiteVersion1, &g_pf_interface);
    RegisterSuite(kAEGPUtilitySuite, kAEGPUtilitySuiteVersion3, &g_utility);
    RegisterSuite(kAEGPStreamSuite, kAEGPStreamSuiteVersion2, &g_stream7);
    RegisterSuite(kAEGPStreamSuite, kAEGPStreamSuiteVersion4, &g_stream9);
    RegisterSuite(kAEGPDynamicStreamSuite, kAEGPDynamicStreamSuiteVersion2, &g_dynamic_stream);
    RegisterSuite(kPFParamUtilsSuite, kPFParamUtilsSuiteVersion3, &g_param_utils);
    RegisterSuite(kAEGPEffectSuite, kAEGPEffectSuiteVersion2, &g_effect2);
    RegisterSuite(kAEGPEffectSuite, kAEGPEffectSuiteVersion3, &g_effect3);
}

int LiveEffectRefs(const Instance* instance) {
    std::lock_guard<std::mutex> lock(R().mutex);
    int n = 0;
    for (const EffectRecord* r : R().effects) n += r->instance == instance;
    return n;
}

int LiveStreamRefs(const Instance* instance) {
    std::lock_guard<std::mutex> lock(R().mutex);
    int n = 0;
    for (const StreamRecord* r : R().streams) n += r->instance == instance;
    return n;
}

void ForgetInstanceRefs(const Instance* instance) {
    std::lock_guard<std::mutex> lock(R().mutex);
    for (auto it = R().effects.begin(); it != R().effects.end();) {
        if ((*it)->instance == instance) {
            delete *it;
            it = R().effects.erase(it);
        } else {
            ++it;
        }
    }
    for (auto it = R().streams.begin(); it != R().streams.end();) {
        if ((*it)->instance == instance) {
            delete *it;
            it = R().streams.erase(it);
        } else {
            ++it;
        }
    }
}

std::vector<std::string> ReportedInfo() {
    std::lock_guard<std::mutex> lock(R().mutex);
    return R().info;
}

void ClearReportedInfo() {
    std::lock_guard<std::mutex> lock(R().mutex);
    R().info.clear();
}

}  // namespace vexo_host
