#include "gl/kept_targets.h"

namespace {

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

}  // namespace

void BeginKeptFrame(KeptTargets* kept) {
    if (!kept) return;
    if (++kept->frame == 0) ++kept->frame;  // 0 never stamps a frame
}

bool TakeKeptTarget(KeptTargets* kept, uint32_t width, uint32_t height, int32_t internalFormat,
                    bool framebuffer, PX_FBO* target, uint32_t texture_target) {
    if (!kept) return false;
    for (PX_FBO& t : kept->targets) {
        const GLRenderBuffer& b = t.renderBuffer;
        if (b.id != 0 && b.width == width && b.height == height &&
            b.internalFormat == internalFormat && (t.fbo != 0) == framebuffer &&
            b.target == texture_target) {
            *target = t;
            t = PX_FBO{};
            return true;
        }
    }
    return false;
}

void ReleaseStaleTargets(KeptTargets* kept) {
    if (!kept) return;
    for (int i = 0; i < kMaxKeptTargets; ++i) {
        if (kept->targets[i].renderBuffer.id != 0 && kept->frames[i] != kept->frame)
            Delete(&kept->targets[i]);
    }
}

void KeepTarget(KeptTargets* kept, PX_FBO* target) {
    if (target->renderBuffer.id == 0) return;
    if (!kept) return Delete(target);
    const auto fits = [&](int* slot) {
        uint64_t held = 0;
        *slot = -1;
        for (int i = 0; i < kMaxKeptTargets; ++i) {
            if (kept->targets[i].renderBuffer.id != 0) {
                held += Bytes(kept->targets[i]);
            } else if (*slot < 0) {
                *slot = i;
            }
        }
        return *slot >= 0 && held + Bytes(*target) <= kKeptTargetBudget;
    };
    int slot = -1;
    if (!fits(&slot)) {
        ReleaseStaleTargets(kept);
        if (!fits(&slot)) return Delete(target);
    }
    kept->targets[slot] = *target;
    kept->frames[slot] = kept->frame;
    *target = PX_FBO{};
}

void DeleteKeptTargets(KeptTargets* kept) {
    if (!kept) return;
    for (PX_FBO& t : kept->targets) Delete(&t);
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
