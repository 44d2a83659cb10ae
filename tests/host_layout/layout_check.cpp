// Compares the byte offsets and sizes of the host's records, and the types of their members, as
// the host has them, with the headers this build compiles against. Prints every difference;
// fails on any. A member or a type name the headers lack stops the build instead.
#include <cstddef>
#include <cstdio>
#include <type_traits>

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

struct TypeFact {
    const char* record;
    const char* member;
    const char* host;  // as the compiler spells it, typedefs resolved
    bool same;
};

const TypeFact kTypes[] = {
#include "host_types_facts.inc"
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
    int types_differ = 0;
    for (const TypeFact& t : kTypes) {
        if (!t.same) {
            std::printf("%s.%s: the host's type is %s\n", t.record, t.member, t.host);
            ++types_differ;
        }
    }
    const int types = int(sizeof kTypes / sizeof kTypes[0]);
    std::printf("host types: %d of %d members agree\n", types - types_differ, types);
    return differ == 0 && total > 0 && types_differ == 0 && types > 0 ? 0 : 1;
}
