#include "host/AEGP_SuiteHandler.h"

#include "AE_Effect.h"
#include "SPErrorCodes.h"

namespace {

struct SuiteRow {
    const char* name;
    int version;
};

constexpr SuiteRow kRows[] = {
#define VEXO_SUITE_ROW(accessor, name, version, type) {name, version},
    VEXO_SUITE_TABLE(VEXO_SUITE_ROW)
#undef VEXO_SUITE_ROW
};
static_assert(sizeof(kRows) / sizeof(kRows[0]) == AEGP_SuiteHandler::kSuiteCount);

}  // namespace

AEGP_SuiteHandler::AEGP_SuiteHandler(const SPBasicSuite* pica_basicP)
    : basic_(pica_basicP), slots_{} {
    if (!basic_) MissingSuiteError();
}

AEGP_SuiteHandler::~AEGP_SuiteHandler() { ReleaseAllSuites(); }

const void* AEGP_SuiteHandler::Acquire(int index) const {
    const void*& slot = slots_[index];
    if (!slot) {
        const SPErr err = basic_->AcquireSuite(kRows[index].name, kRows[index].version, &slot);
        if (err != kSPNoError || !slot) {
            // A failed acquire owes no release, whatever it left in the slot.
            slot = nullptr;
            MissingSuiteError();
        }
    }
    return slot;
}

void AEGP_SuiteHandler::ReleaseSuite(const char* name, int version) {
    basic_->ReleaseSuite(name, version);
}

void AEGP_SuiteHandler::ReleaseAllSuites() {
    for (int i = 0; i < kSuiteCount; ++i) {
        if (slots_[i]) {
            slots_[i] = nullptr;
            ReleaseSuite(kRows[i].name, kRows[i].version);
        }
    }
}

void AEGP_SuiteHandler::MissingSuiteError() const {
    throw static_cast<PF_Err>(PF_Err_BAD_CALLBACK_PARAM);
}

const char* AEGP_SuiteHandler::SuiteName(int index) { return kRows[index].name; }
int AEGP_SuiteHandler::SuiteVersion(int index) { return kRows[index].version; }
