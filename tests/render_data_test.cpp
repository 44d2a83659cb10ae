// Per-thread render records, and the global record that global setup builds.
#include <EGL/egl.h>
#include <gtest/gtest.h>

#include <condition_variable>
#include <cstdlib>
#include <future>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "context/render_data.h"
#include "tests/support/effect_test_support.h"
#include "tests/support/gl_test_support.h"

namespace {

using vexo_test::CaptureStdout;
using vexo_test::CountLiveGLObjects;

GLuint Slot(const GLPrograms& p, int i) {
    const GLuint slots[] = {p.swizzleInProgram, p.displaceProgram, p.blurWProgram,
                            p.blurHProgram,     p.bicubicProgram,  p.oversampleProgram};
    return slots[i];
}

// Every slot a linked program of the current context.
void ExpectSixLinkedPrograms(const GLPrograms& programs) {
    for (int i = 0; i < 6; ++i) {
        SCOPED_TRACE(i);
        ASSERT_NE(Slot(programs, i), 0u);
        ASSERT_TRUE(glIsProgram(Slot(programs, i)));
        GLint status = GL_FALSE;
        glGetProgramiv(Slot(programs, i), GL_LINK_STATUS, &status);
        EXPECT_EQ(status, GL_TRUE);
    }
}

bool EglContextAlive(EGLDisplay display, EGLContext context) {
    EGLint id = 0;
    return eglQueryContext(display, context, EGL_CONFIG_ID, &id) == EGL_TRUE;
}

// A global data handle as the host hands it over: a pointer to the block pointer.
struct GlobalData {
    LocalGLStruct block{};
    void* pointer = &block;
    PF_InData in_data{};

    explicit GlobalData(GLContextHandle context) {
        block.context = context;
        in_data.global_data = reinterpret_cast<PF_Handle>(&pointer);
    }
};

// Runs `fn` on a new thread the way the smart render does: under globalMutex.
template <typename Fn>
void OnRenderThread(Fn fn) {
    std::thread([&] {
        std::lock_guard<std::recursive_mutex> lock(globalMutex);
        fn();
    }).join();
}

class RenderDataTest : public ::testing::Test {
  protected:
    void SetUp() override {
        global_context_ = CreateContext();
        ASSERT_NE(global_context_, nullptr);
    }
    void TearDown() override { DeleteContext(global_context_); }
    GLContextHandle global_context_ = nullptr;
};

TEST_F(RenderDataTest, FirstRenderBuildsTheRecordAndLaterOnesReuseIt) {
    GlobalData global(global_context_);
    OnRenderThread([&] {
        ASSERT_EQ(local_render_data.get(), nullptr);
        InitThreadLocalRenderData(&global.in_data, nullptr);
        ASSERT_NE(local_render_data.get(), nullptr);
        LocalGLStruct* record = local_render_data.get();
        ASSERT_NE(record->context, nullptr);
        EXPECT_NE(record->context, global_context_);
        EXPECT_EQ(GetCurrentContext(), record->context);
        ExpectSixLinkedPrograms(record->programs);
        const LocalGLStruct first = *record;
        EXPECT_EQ(CountLiveGLObjects().programs, 6);

        // Leave the thread with nothing current, as if something else ran in between.
        SetCurrentContext(nullptr);
        InitThreadLocalRenderData(&global.in_data, nullptr);
        EXPECT_EQ(local_render_data.get(), record);
        EXPECT_EQ(record->context, first.context);
        for (int i = 0; i < 6; ++i) EXPECT_EQ(Slot(record->programs, i), Slot(first.programs, i));
        EXPECT_EQ(GetCurrentContext(), record->context);
        EXPECT_EQ(CountLiveGLObjects().programs, 6);
    });
}

TEST_F(RenderDataTest, TwoThreadsGetTheirOwnContextsAndPrograms) {
    GlobalData global(global_context_);
    GLContextHandle contexts[2] = {};
    EGLContext raw[2] = {};
    GLuint texture_in_first = 0;
    auto render = [&](int i) {
        std::lock_guard<std::recursive_mutex> lock(globalMutex);
        InitThreadLocalRenderData(&global.in_data, nullptr);
        ASSERT_NE(local_render_data.get(), nullptr);
        contexts[i] = local_render_data->context;
        raw[i] = eglGetCurrentContext();
        ExpectSixLinkedPrograms(local_render_data->programs);
        EXPECT_EQ(CountLiveGLObjects().programs, 6);
        if (i == 0) {
            glGenTextures(1, &texture_in_first);
            glBindTexture(GL_TEXTURE_2D, texture_in_first);
        } else {
            // Nothing made in the other thread's context is visible here.
            EXPECT_FALSE(glIsTexture(texture_in_first));
        }
    };
    // The first thread stays alive while the second renders, so both records coexist.
    std::promise<void> first_rendered, second_rendered;
    std::thread first([&] {
        render(0);
        first_rendered.set_value();
        second_rendered.get_future().wait();
    });
    first_rendered.get_future().wait();
    std::thread second([&] { render(1); });
    second.join();
    second_rendered.set_value();
    first.join();

    ASSERT_NE(contexts[0], nullptr);
    ASSERT_NE(contexts[1], nullptr);
    EXPECT_NE(contexts[0], contexts[1]);
    EXPECT_NE(raw[0], raw[1]);
}

TEST_F(RenderDataTest, ThreadExitReleasesProgramsAndContextOnThatThread) {
    // The record's context shares objects with an observer context, so the programs can be
    // checked from here after the thread (and its context) are gone: shared objects outlive a
    // destroyed context unless they were deleted.
    vexo_test::ScopedGLContext observer;
    ASSERT_TRUE(observer.ok());
    EGLDisplay display = eglGetCurrentDisplay();
    EGLContext raw = EGL_NO_CONTEXT;
    GLPrograms programs{};
    GLuint variant = 0;
    std::thread([&] {
        local_render_data.reset(
            new LocalGLStruct{CreateContext(observer.handle()), {}, {}, {}, {}});
        ASSERT_NE(local_render_data->context, nullptr);
        SetCurrentContext(local_render_data->context);
        CreateGLPrograms(&local_render_data->programs);
        programs = local_render_data->programs;
        variant = DisplaceProgramFor(&local_render_data->displaceVariants, UniformMap{},
                                     programs.displaceProgram);
        raw = eglGetCurrentContext();
    }).join();
    // The displacement program the record made for a frame's settings goes with it.
    ASSERT_NE(variant, 0u);
    ASSERT_NE(variant, programs.displaceProgram);
    EXPECT_FALSE(glIsProgram(variant));
    ASSERT_NE(raw, EGL_NO_CONTEXT);
    EXPECT_FALSE(EglContextAlive(display, raw));
    for (int i = 0; i < 6; ++i) {
        ASSERT_NE(Slot(programs, i), 0u);
        EXPECT_FALSE(glIsProgram(Slot(programs, i))) << i;
    }
    EXPECT_EQ(GetCurrentContext(), observer.handle());
}

// A thread whose record's context cannot be made current (here: current on another thread; for
// a host, its own context of another API) keeps whatever context it has: the record's program
// names, which may name the current context's programs, are left alone there.
TEST_F(RenderDataTest, ThreadExitTouchesNoContextButItsOwn) {
    std::mutex mutex;
    std::condition_variable changed;
    GLContextHandle elsewhere = nullptr;
    bool done = false;
    std::thread holder([&] {
        GLContextHandle context = CreateContext();
        SetCurrentContext(context);
        std::unique_lock<std::mutex> lock(mutex);
        elsewhere = context;
        changed.notify_all();
        changed.wait(lock, [&] { return done; });
        // The record's deletion destroyed it; it goes once it is no longer current here.
        eglMakeCurrent(eglGetCurrentDisplay(), EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
    });
    {
        std::unique_lock<std::mutex> lock(mutex);
        changed.wait(lock, [&] { return elsewhere != nullptr; });
    }
    std::thread([&] {
        GLContextHandle host = CreateContext();
        ASSERT_NE(host, nullptr);
        SetCurrentContext(host);
        const GLuint host_program = glCreateProgram();
        GLPrograms names{};
        names.swizzleInProgram = host_program;
        local_render_data.reset(new LocalGLStruct{elsewhere, names, {}, {}, {}});
        const std::string printed = vexo_test::CaptureStdout([] { local_render_data.reset(); });
        EXPECT_NE(printed.find("Cannot Set OpenGL Context"), std::string::npos) << printed;
        EXPECT_TRUE(IsContextCurrent(host));
        EXPECT_TRUE(glIsProgram(host_program));
        glDeleteProgram(host_program);
        DeleteContext(host);
    }).join();
    {
        std::lock_guard<std::mutex> lock(mutex);
        done = true;
        changed.notify_all();
    }
    holder.join();
}

TEST_F(RenderDataTest, ResettingTheHolderReleasesTheOldRecordOnThisThread) {
    GlobalData global(global_context_);
    OnRenderThread([&] {
        InitThreadLocalRenderData(&global.in_data, nullptr);
        ASSERT_NE(local_render_data.get(), nullptr);
        EGLDisplay display = eglGetCurrentDisplay();
        EGLContext raw = eglGetCurrentContext();
        local_render_data.reset();
        EXPECT_FALSE(EglContextAlive(display, raw));
        EXPECT_EQ(eglGetCurrentContext(), EGL_NO_CONTEXT);
    });
}

// A global record without a context is made again by the first render: see GlobalRecordTest.
TEST_F(RenderDataTest, NoGlobalDataMeansNoRecord) {
    void* no_block = nullptr;
    PF_InData no_block_in{};
    no_block_in.global_data = reinterpret_cast<PF_Handle>(&no_block);
    PF_InData no_handle{};
    OnRenderThread([&] {
        for (int round = 0; round < 2; ++round) {
            InitThreadLocalRenderData(&no_block_in, nullptr);
            InitThreadLocalRenderData(&no_handle, nullptr);
            EXPECT_EQ(local_render_data.get(), nullptr);
            EXPECT_EQ(GetCurrentContext(), nullptr);
        }
    });
}

TEST_F(RenderDataTest, FailedCreationLeavesAContextlessRecordUntilALaterTry) {
    GlobalData global(global_context_);
    OnRenderThread([&] {
        RequestContextVersionForTesting(99, 0);
        const std::string out =
            CaptureStdout([&] { InitThreadLocalRenderData(&global.in_data, nullptr); });
        EXPECT_FALSE(out.empty());
        ASSERT_NE(local_render_data.get(), nullptr);
        EXPECT_EQ(local_render_data->context, nullptr);
        for (int i = 0; i < 6; ++i) EXPECT_EQ(Slot(local_render_data->programs, i), 0u);
        EXPECT_EQ(eglGetCurrentContext(), EGL_NO_CONTEXT);

        // A later call that still cannot make one leaves nothing current, not even another
        // context that was.
        GLContextHandle other = CreateContext();
        SetCurrentContext(other);
        CaptureStdout([&] { InitThreadLocalRenderData(&global.in_data, nullptr); });
        EXPECT_EQ(local_render_data->context, nullptr);
        EXPECT_EQ(eglGetCurrentContext(), EGL_NO_CONTEXT);
        DeleteContext(other);

        // Once creation works again, the next call makes the context and its programs.
        RequestContextVersionForTesting(0, 0);
        InitThreadLocalRenderData(&global.in_data, nullptr);
        ASSERT_NE(local_render_data->context, nullptr);
        EXPECT_EQ(GetCurrentContext(), local_render_data->context);
        ExpectSixLinkedPrograms(local_render_data->programs);
        EXPECT_FALSE(ContextCreationWaiting());
    });
}

TEST_F(RenderDataTest, CreationSlowsAfterAFewFailuresInARowButNeverStops) {
    GlobalData global(global_context_);
    OnRenderThread([&] {
        RequestContextVersionForTesting(99, 0);
        for (int i = 0; i < kContextCreationTries; ++i) {
            EXPECT_FALSE(ContextCreationWaiting());
            EXPECT_NE(CaptureStdout([&] { InitThreadLocalRenderData(&global.in_data, nullptr); }),
                      "");
        }
        RequestContextVersionForTesting(0, 0);
        EXPECT_TRUE(ContextCreationWaiting());
        for (int i = 1; i < kFramesPerContextRetry; ++i) {
            EXPECT_EQ(CaptureStdout([&] { InitThreadLocalRenderData(&global.in_data, nullptr); }),
                      "");
            EXPECT_EQ(local_render_data->context, nullptr);
            EXPECT_EQ(eglGetCurrentContext(), EGL_NO_CONTEXT);
        }
        InitThreadLocalRenderData(&global.in_data, nullptr);
        ASSERT_NE(local_render_data->context, nullptr);
        ExpectSixLinkedPrograms(local_render_data->programs);
        EXPECT_FALSE(ContextCreationWaiting());
    });
}

// A process that exits with a live record on its main thread (as the standalone host does after
// rendering there) releases it at exit, before the handlers registered with atexit run, and does
// not crash. Runs in a fresh process.
EGLDisplay exit_display = EGL_NO_DISPLAY;
EGLContext exit_context = EGL_NO_CONTEXT;
bool exit_record_ready = false;

void CheckReleasedAtExit() {
    const bool released = !EglContextAlive(exit_display, exit_context);
    std::_Exit(exit_record_ready && released ? 7 : 1);
}

TEST(RenderDataDeathTest, ExitWithARecordOnTheMainThread) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            GLContextHandle global_context = CreateContext();
            GlobalData global(global_context);
            InitThreadLocalRenderData(&global.in_data, nullptr);
            exit_display = eglGetCurrentDisplay();
            exit_context = eglGetCurrentContext();
            exit_record_ready = local_render_data && local_render_data->context &&
                                local_render_data->programs.oversampleProgram;
            std::atexit(CheckReleasedAtExit);
            std::exit(0);
        },
        ::testing::ExitedWithCode(7), "");
}

// ---- The global record, through the entry point as the host drives it.

class GlobalRecordTest : public HostTest {};

TEST_F(GlobalRecordTest, SetupBuildsItAndKeepsTheCallersContext) {
    vexo_test::ScopedGLContext callers;
    ASSERT_TRUE(callers.ok());
    const size_t handles = vexo_host::LiveHandles();

    ASSERT_EQ(vexo_host::SendGlobalSetup(&effect_), PF_Err_NONE);
    EXPECT_EQ(GetCurrentContext(), callers.handle());
    ASSERT_NE(effect_.global_data, nullptr);
    const auto* block = static_cast<const LocalGLStruct*>(static_cast<void*>(*effect_.global_data));
    ASSERT_NE(block, nullptr);
    ASSERT_NE(block->context, nullptr);
    EXPECT_NE(block->context, callers.handle());

    SetCurrentContext(block->context);
    ExpectSixLinkedPrograms(block->programs);
    EXPECT_EQ(CountLiveGLObjects().total(), 6);
    const EGLDisplay display = eglGetCurrentDisplay();
    const EGLContext raw = eglGetCurrentContext();
    SetCurrentContext(callers.handle());

    ASSERT_EQ(vexo_host::SendGlobalSetdown(&effect_), PF_Err_NONE);
    EXPECT_FALSE(EglContextAlive(display, raw));
    // Setdown leaves no context current.
    EXPECT_EQ(GetCurrentContext(), nullptr);
    EXPECT_EQ(vexo_host::LiveHandles(), handles);
}

TEST_F(GlobalRecordTest, SetupPutsBackWhateverWasCurrentWhetherOrNotItMadeAContext) {
    for (const bool can_make : {true, false}) {
        for (const bool callers_current : {true, false}) {
            SCOPED_TRACE(std::string(can_make ? "made" : "not made") +
                         (callers_current ? ", caller's context current" : ", none current"));
            std::unique_ptr<vexo_test::ScopedGLContext> callers;
            if (callers_current) {
                callers = std::make_unique<vexo_test::ScopedGLContext>();
                ASSERT_TRUE(callers->ok());
            }
            const EGLContext before = eglGetCurrentContext();
            if (!can_make) RequestContextVersionForTesting(99, 0);
            PF_Err err = PF_Err_NONE;
            CaptureStdout([&] { err = vexo_host::SendGlobalSetup(&effect_); });
            RequestContextVersionForTesting(0, 0);
            EXPECT_EQ(err, PF_Err_NONE);
            EXPECT_EQ(eglGetCurrentContext(), before);
            EXPECT_EQ(GetCurrentContext(), callers ? callers->handle() : nullptr);
            EXPECT_EQ(vexo_host::SendGlobalSetdown(&effect_), PF_Err_NONE);
        }
    }
}

TEST_F(GlobalRecordTest, SetupWithoutAContextIsNoErrorAndTheFirstRenderMakesItAgain) {
    RequestContextVersionForTesting(99, 0);
    PF_Err err = PF_Err_NONE;
    CaptureStdout([&] { err = vexo_host::SendGlobalSetup(&effect_); });
    RequestContextVersionForTesting(0, 0);
    ASSERT_EQ(err, PF_Err_NONE);
    ASSERT_NE(effect_.global_data, nullptr);
    const auto* block = static_cast<const LocalGLStruct*>(static_cast<void*>(*effect_.global_data));
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(block->context, nullptr);
    for (int i = 0; i < 6; ++i) EXPECT_EQ(Slot(block->programs, i), 0u);

    // The first thread to render makes the global context again, and then its own.
    PF_InData in = vexo_host::MakeInData(effect_, nullptr);
    OnRenderThread([&] {
        RequestContextVersionForTesting(99, 0);
        CaptureStdout([&] { InitThreadLocalRenderData(&in, nullptr); });
        EXPECT_EQ(local_render_data.get(), nullptr);
        EXPECT_EQ(block->context, nullptr);
        RequestContextVersionForTesting(0, 0);
        InitThreadLocalRenderData(&in, nullptr);
        ASSERT_NE(block->context, nullptr);
        ASSERT_NE(local_render_data.get(), nullptr);
        EXPECT_EQ(GetCurrentContext(), local_render_data->context);
        SetCurrentContext(block->context);
        ExpectSixLinkedPrograms(block->programs);
        SetCurrentContext(nullptr);
    });
    EXPECT_EQ(vexo_host::SendGlobalSetdown(&effect_), PF_Err_NONE);
    EXPECT_EQ(GetCurrentContext(), nullptr);
}

}  // namespace
