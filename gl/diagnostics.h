// Where the module's diagnostic lines go. In the application nobody reads them but a developer's
// console, so they go to standard output; a host that writes its own data there (a frei0r host
// piping video, `vexorant info --json`) names another place through the diagnostics suite, and
// every line of the GL and context layers passes through here.
#pragma once

#if defined(__GNUC__)
#define VEXO_PRINTF_FORMAT(format_index, first_arg) \
    __attribute__((format(printf, format_index, first_arg)))
#else
#define VEXO_PRINTF_FORMAT(format_index, first_arg)
#endif

// printf's contract: the text is formatted and written as one piece, newlines included.
void Diagnostic(const char* format, ...) VEXO_PRINTF_FORMAT(1, 2);

// Takes every later diagnostic, from any thread; null returns them to standard output. Returns
// the sink it replaces.
using DiagnosticSink = void (*)(const char* text);
DiagnosticSink SetDiagnosticSink(DiagnosticSink sink);
