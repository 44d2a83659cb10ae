// Compares the byte offsets and sizes of the host's records, as the host has them, with the
// headers this build compiles against. Prints every difference; fails on any.
#include <cstddef>
#include <cstdio>

#include "A.h"
#include "AE_Effect.h"
#include "AE_EffectCB.h"
#include "AE_EffectCBSuites.h"
#include "AE_EffectSuites.h"
#include "AE_GeneralPlug.h"
#include "SPBasic.h"

namespace {

struct Fact {
    const char* record;
    const char* member;
    std::size_t host;
    std::size_t ours;
};

const Fact kFacts[] = {
#include "host_layout_facts.inc"
};

}  // namespace

int main() {
    int differ = 0;
    for (const Fact& f : kFacts) {
        if (f.host != f.ours) {
            std::printf("%s.%s: host %u, ours %u\n", f.record, f.member, unsigned(f.host),
                        unsigned(f.ours));
            ++differ;
        }
    }
    const int total = int(sizeof kFacts / sizeof kFacts[0]);
    std::printf("host layout: %d of %d facts hold\n", total - differ, total);
    return differ == 0 && total > 0 ? 0 : 1;
}
