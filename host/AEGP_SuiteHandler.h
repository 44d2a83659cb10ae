// Scoped access to host suites: each suite is acquired on first use and every acquired suite is
// released, once, when the handler goes out of scope.
#pragma once
#include "SPBasic.h"
#include "SPTypes.h"
#include "host/SuiteTable.h"

class AEGP_SuiteHandler {
  public:
    explicit AEGP_SuiteHandler(const SPBasicSuite* pica_basicP);
    ~AEGP_SuiteHandler();
    AEGP_SuiteHandler(const AEGP_SuiteHandler&) = delete;
    AEGP_SuiteHandler& operator=(const AEGP_SuiteHandler&) = delete;

    enum SuiteIndex {
#define VEXO_SUITE_INDEX(accessor, name, version, type) k##accessor,
        VEXO_SUITE_TABLE(VEXO_SUITE_INDEX)
#undef VEXO_SUITE_INDEX
            kSuiteCount
    };

#define VEXO_SUITE_ACCESSOR(accessor, name, version, type) \
    const type* accessor() const { return static_cast<const type*>(Acquire(k##accessor)); }
    VEXO_SUITE_TABLE(VEXO_SUITE_ACCESSOR)
#undef VEXO_SUITE_ACCESSOR

    void ReleaseSuite(const char* name, int version);
    void ReleaseAllSuites();
    // Raises PF_Err_BAD_CALLBACK_PARAM as a plain integer; the entry point returns it to the host.
    [[noreturn]] void MissingSuiteError() const;

    static const char* SuiteName(int index);
    static int SuiteVersion(int index);

  private:
    const void* Acquire(int index) const;

    const SPBasicSuite* basic_;
    mutable const void* slots_[kSuiteCount];
};
