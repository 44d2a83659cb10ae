// A suite of our own hosts (`vexorant` and the frei0r modules), which the application does not
// offer: where the module's diagnostic lines go instead of standard output, which those hosts
// may be using for pictures or data.
#pragma once

#define kVexoDiagnosticsSuite "VEXO Diagnostics Suite"
#define kVexoDiagnosticsSuiteVersion1 1

typedef struct VexoDiagnosticsSuite1 {
    // One diagnostic, newlines included; called from any of the module's threads.
    void (*WriteDiagnostic)(const char* text);
} VexoDiagnosticsSuite1;
