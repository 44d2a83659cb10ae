#include "gl/kept_targets.h"

#include <atomic>

namespace {

std::atomic<uint64_t> g_kept_bytes{0};
std::atomic<uint32_t> g_drops{0};
std::atomic<uint64_t> g_budget{kKeptTargetBudget};

uint64_t Bytes(const PX_FBO& t) {
    const uint64_t pixel = t.renderBuffer.internalFormat == GL_RGBA32F ? 16 : 4;
    return uint64_t(t.renderBuffer.width) * t.renderBuffer.height * pixel;
}

void Delete(PX_FBO* t) {
    if (t->fbo) {
        FBOHelper::DeleteGenericFBO(t);
    } else {
        FBOHelper::DeleteRenderBuffer(t->renderBuffer);
    }
    *t = PX_FBO{};
}

// Takes a kept slot's target out of the process's count, leaving the slot free.
PX_FBO Unkeep(PX_FBO* slot) {
    const PX_FBO t = *slot;
    g_kept_bytes -= Bytes(t);
    *slot = PX_FBO{};
    return t;
}

void DeleteKept(PX_FBO* slot) {
    PX_FBO t = Unkeep(slot);
    Delete(&t);
}

}  // namespace

void BeginKeptFrame(KeptTargets* kept) {
    if (!kept) return;
    if (++kept->frame == 0) ++kept->frame;  // 0 never stamps a frame
    const uint32_t drops = g_drops;
    if (kept->drops != drops) {
        DeleteKeptTargets(kept);
        kept->drops = drops;
    }
}

void DropKeptTargetsEverywhere() { ++g_drops; }

bool TakeKeptTarget(KeptTargets* kept, uint32_t width, uint32_t height, int32_t internalFormat,
                    bool framebuffer, PX_FBO* target, uint32_t texture_target) {
    if (!kept) return false;
    for (PX_FBO& t : kept->targets) {
        const GLRenderBuffer& b = t.renderBuffer;
        if (b.id != 0 && b.width == width && b.height == height &&
            b.internalFormat == internalFormat && (t.fbo != 0) == framebuffer &&
            b.target == texture_target) {
            *target = Unkeep(&t);
            return true;
        }
    }
    return false;
}

void ReleaseStaleTargets(KeptTargets* kept) {
    if (!kept) return;
    for (int i = 0; i < kMaxKeptTargets; ++i) {
        if (kept->targets[i].renderBuffer.id != 0 && kept->frames[i] != kept->frame)
            DeleteKept(&kept->targets[i]);
    }
}

void KeepTarget(KeptTargets* kept, PX_FBO* target) {
    if (target->renderBuffer.id == 0) return;
    if (!kept) return Delete(target);
    const uint64_t bytes = Bytes(*target);
    // Claims the bytes in the process's count and a free slot, or neither.
    const auto claim = [&](int* slot) {
        *slot = -1;
        for (int i = 0; i < kMaxKeptTargets && *slot < 0; ++i) {
            if (kept->targets[i].renderBuffer.id == 0) *slot = i;
        }
        if (*slot < 0) return false;
        uint64_t held = g_kept_bytes;
        do {
            if (held + bytes > g_budget) return false;
        } while (!g_kept_bytes.compare_exchange_weak(held, held + bytes));
        return true;
    };
    int slot = -1;
    if (!claim(&slot)) {
        ReleaseStaleTargets(kept);
        if (!claim(&slot)) return Delete(target);
    }
    kept->targets[slot] = *target;
    kept->frames[slot] = kept->frame;
    *target = PX_FBO{};
}

void DeleteKeptTargets(KeptTargets* kept) {
    if (!kept) return;
    for (PX_FBO& t : kept->targets) {
        if (t.renderBuffer.id != 0) DeleteKept(&t);
    }
}

void ForgetKeptTargets(KeptTargets* kept) {
    if (!kept) return;
    for (PX_FBO& t : kept->targets) {
        if (t.renderBuffer.id != 0) Unkeep(&t);
    }
}

int KeptGLObjects(const KeptTargets& kept, uint32_t max_name) {
    int n = 0;
    for (const PX_FBO& t : kept.targets) {
        n += t.renderBuffer.id != 0 && t.renderBuffer.id <= max_name;
        n += t.fbo != 0 && t.fbo <= max_name;
    }
    return n;
}

uint64_t KeptBytes(const KeptTargets& kept) {
    uint64_t n = 0;
    for (const PX_FBO& t : kept.targets) n += t.renderBuffer.id != 0 ? Bytes(t) : 0;
    return n;
}

uint64_t KeptBytesEverywhere() { return g_kept_bytes; }

void SetKeptTargetBudgetForTesting(uint64_t bytes) { g_budget = bytes ? bytes : kKeptTargetBudget; }
