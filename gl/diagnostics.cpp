#include "gl/diagnostics.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <vector>

namespace {
std::atomic<DiagnosticSink> g_sink{nullptr};
}  // namespace

void Diagnostic(const char* format, ...) {
    if (!format) return;
    char small[512];
    std::va_list args;
    va_start(args, format);
    std::va_list again;
    va_copy(again, args);
    const int length = std::vsnprintf(small, sizeof small, format, args);
    va_end(args);
    const char* text = small;
    std::vector<char> large;
    if (length >= int(sizeof small)) {
        large.resize(size_t(length) + 1);
        std::vsnprintf(large.data(), large.size(), format, again);
        text = large.data();
    }
    va_end(again);
    if (length < 0) return;

    if (const DiagnosticSink sink = g_sink.load()) {
        sink(text);
    } else {
        std::fputs(text, stdout);
        std::fflush(stdout);
    }
}

DiagnosticSink SetDiagnosticSink(DiagnosticSink sink) { return g_sink.exchange(sink); }
