// Linked into the module itself (not the effect library) so the property list always travels
// with it: hosts read the section from the file without running any code.
#include "effect/pipl.h"

#if defined(__ELF__)
extern "C" {
__attribute__((used, section(".pipl"), aligned(4))) const vexo::PiPLBytes vexo_pipl_section =
    vexo::kPiPL;
}
#endif
