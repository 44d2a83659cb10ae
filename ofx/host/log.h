// What a run found: the rules the plug-in broke, and what it told the user.
#ifndef VEXO_OFX_HOST_LOG_H
#define VEXO_OFX_HOST_LOG_H

#include <mutex>
#include <string>
#include <vector>

namespace vexo::ofxhost {

struct Log {
    std::mutex mutex;
    std::vector<std::string> violations;
    std::vector<std::string> messages;
};

inline void Violate(Log* log, std::string text) {
    if (log == nullptr) return;
    std::lock_guard<std::mutex> lock(log->mutex);
    log->violations.push_back(std::move(text));
}

}  // namespace vexo::ofxhost

#endif
