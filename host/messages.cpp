#include "host/messages.h"

#include <algorithm>
#include <atomic>

namespace {
std::atomic<MessageObserver> g_observer{nullptr};
}

void SetMessageObserver(MessageObserver observer) { g_observer.store(observer); }

void SendMessage(std::string text, PF_OutData* /*out_data*/) {
    if (MessageObserver observer = g_observer.load()) observer(text);
}

void SendMessageAppendErr(std::string text, PF_OutData* out_data, A_long err, A_long err2) {
    if (err == PF_Interrupt_CANCEL && err2 == 0) return;
    text += " err " + std::to_string(err) + " err2 " + std::to_string(err2);
    SendMessage(std::move(text), out_data);
}

bool IsEmptyRect(const PF_LRect* rect) {
    return rect->left >= rect->right || rect->top >= rect->bottom;
}

void UnionLRect(const PF_LRect* src, PF_LRect* dst) {
    if (IsEmptyRect(dst)) {
        *dst = *src;
    } else if (!IsEmptyRect(src)) {
        dst->left = std::min(dst->left, src->left);
        dst->top = std::min(dst->top, src->top);
        dst->right = std::max(dst->right, src->right);
        dst->bottom = std::max(dst->bottom, src->bottom);
    }
}
