// What the effect declares about itself: one source for global setup and the property list.
#pragma once
#include <cstdint>

#include "AE_Effect.h"

namespace vexo {

constexpr const char* kEffectName = "Vexorant Pro";
constexpr const char* kCategory = "Vexorant";
constexpr const char* kMatchName = "QVXR";
constexpr const char* kEntryPointName = "EffectMain";

constexpr int kMajorVersion = 1;
constexpr int kMinorVersion = 1;
constexpr int kBugVersion = 0;
constexpr int kStageVersion = PF_Stage_DEVELOP;
constexpr int kBuildVersion = 1;

// The host's packed version word: build in bits 0-8, stage 9-10, fix 11-14, subversion 15-18,
// version 19-21.
constexpr uint32_t PackVersion(uint32_t major, uint32_t minor, uint32_t bug, uint32_t stage,
                               uint32_t build) {
    return ((major & 0x7u) << 19) | ((minor & 0xFu) << 15) | ((bug & 0xFu) << 11) |
           ((stage & 0x3u) << 9) | (build & 0x1FFu);
}

constexpr uint32_t kVersion =
    PackVersion(kMajorVersion, kMinorVersion, kBugVersion, kStageVersion, kBuildVersion);
constexpr uint32_t kOutFlags = PF_OutFlag_SEND_UPDATE_PARAMS_UI;
constexpr uint32_t kOutFlags2 = PF_OutFlag2_SUPPORTS_THREADED_RENDERING |
                                PF_OutFlag2_FLOAT_COLOR_AWARE | PF_OutFlag2_SUPPORTS_SMART_RENDER |
                                PF_OutFlag2_PARAM_GROUP_START_COLLAPSED_FLAG;

static_assert(kVersion == 0x00088001u, "declared version word");
static_assert(kOutFlags == 0x04000000u, "declared out flags");
static_assert(kOutFlags2 == 0x08001408u, "declared out flags 2");

}  // namespace vexo
