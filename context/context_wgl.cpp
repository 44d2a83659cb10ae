// Off-screen contexts on Windows: WGL on a hidden window. A throw-away legacy context is made
// first, only to reach wglCreateContextAttribsARB for the core-profile context.
#include <windows.h>

#include <GL/glew.h>
#include <GL/wglew.h>

#include <cstdio>

#include "context/gl_context.h"
#include "gl/diagnostics.h"

extern "C" const char* const VEXOGLClassStrZ = "VEXO_OpenGL_Win_Class";

namespace {

struct WinGLContext {
    HWND hwnd;
    HGLRC hglrc;
    HDC hdc;
};

// Undoes a creation that failed after the window was made.
void ReleaseWindow(HWND hwnd, HDC hdc) {
    if (hdc) ReleaseDC(hwnd, hdc);
    if (hwnd) DestroyWindow(hwnd);
    UnregisterClassA(VEXOGLClassStrZ, NULL);
}

}  // namespace

extern "C" {

GLContextHandle CreateContext(GLContextHandle share) {
    WNDCLASSEXA window_class = {};
    window_class.cbSize = sizeof(WNDCLASSEXA);
    window_class.style = CS_HREDRAW | CS_VREDRAW;
    window_class.lpfnWndProc = DefWindowProcA;
    window_class.cbClsExtra = 0;
    window_class.cbWndExtra = 0;
    window_class.hInstance = NULL;
    window_class.hIcon = NULL;
    window_class.hCursor = LoadCursorA(NULL, IDC_ARROW);
    window_class.hbrBackground = static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH));
    window_class.lpszMenuName = NULL;
    window_class.lpszClassName = VEXOGLClassStrZ;
    window_class.hIconSm = NULL;
    // The class is process-wide; a second context finds it registered already.
    if (!RegisterClassExA(&window_class) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) {
        Diagnostic("%s", "Can't Register Window Class\n");
        return nullptr;
    }

    HWND hwnd = CreateWindowExA(0, VEXOGLClassStrZ, "OpenGL-using FBOs in AE", 0, 0, 0, 50, 50,
                                NULL, NULL, NULL, NULL);
    if (!hwnd) {
        Diagnostic("%s\n", "Window Creation Failed");
        UnregisterClassA(VEXOGLClassStrZ, NULL);
        return nullptr;
    }

    HDC hdc = GetDC(hwnd);
    if (!hdc) {
        Diagnostic("%s", "Cannot create Drawing Context.\n");
        ReleaseWindow(hwnd, NULL);
        return nullptr;
    }

    PIXELFORMATDESCRIPTOR descriptor = {};
    descriptor.nSize = sizeof(PIXELFORMATDESCRIPTOR);
    descriptor.nVersion = 1;
    descriptor.dwFlags = PFD_DRAW_TO_WINDOW | PFD_SUPPORT_OPENGL | PFD_DOUBLEBUFFER;
    descriptor.iPixelType = PFD_TYPE_RGBA;
    descriptor.cColorBits = 32;
    descriptor.cDepthBits = 8;
    const int format = ChoosePixelFormat(hdc, &descriptor);
    SetPixelFormat(hdc, format, &descriptor);

    HGLRC legacy = wglCreateContext(hdc);
    if (!legacy) {
        Diagnostic("%s", "Cannot create OPENGL Context.\n");
        ReleaseWindow(hwnd, hdc);
        return nullptr;
    }
    if (!wglMakeCurrent(hdc, legacy)) {
        Diagnostic("%s", "Cannot Make Temp Context Current.\n");
        wglDeleteContext(legacy);
        ReleaseWindow(hwnd, hdc);
        return nullptr;
    }
    if (glewInit() != GLEW_OK) {
        Diagnostic("%s", "Glew isn't initialized.\n");
        wglMakeCurrent(NULL, NULL);
        wglDeleteContext(legacy);
        ReleaseWindow(hwnd, hdc);
        return nullptr;
    }
    if (!wglCreateContextAttribsARB) {
        Diagnostic("%s", "WGL Create Context Attrib isn't supported.\n");
        wglMakeCurrent(NULL, NULL);
        wglDeleteContext(legacy);
        ReleaseWindow(hwnd, hdc);
        return nullptr;
    }

    auto* record = new WinGLContext{hwnd, NULL, hdc};
    // A context that learns of a GPU reset can be replaced; one that does not stays black. The
    // request goes last so that a driver that refuses it gets the same list less that pair.
    const bool robust = WGLEW_ARB_create_context_robustness;
    int attributes[] = {WGL_CONTEXT_MAJOR_VERSION_ARB,
                        3,
                        WGL_CONTEXT_MINOR_VERSION_ARB,
                        2,
                        WGL_CONTEXT_PROFILE_MASK_ARB,
                        WGL_CONTEXT_CORE_PROFILE_BIT_ARB,
                        robust ? WGL_CONTEXT_RESET_NOTIFICATION_STRATEGY_ARB : 0,
                        WGL_LOSE_CONTEXT_ON_RESET_ARB,
                        0};
    const auto* share_record = static_cast<const WinGLContext*>(share);
    const HGLRC share_context = share_record ? share_record->hglrc : NULL;
    record->hglrc = wglCreateContextAttribsARB(hdc, share_context, attributes);
    if (!record->hglrc && robust) {
        attributes[6] = 0;
        record->hglrc = wglCreateContextAttribsARB(hdc, share_context, attributes);
    }
    wglMakeCurrent(NULL, NULL);
    wglDeleteContext(legacy);
    if (!record->hglrc) {
        delete record;
        Diagnostic("%s", "OpenGL 4.1/3.2 Ctx can't be initialized.\n");
        ReleaseWindow(hwnd, hdc);
        return nullptr;
    }

    // The legacy context's entry points need not be those of the core context.
    wglMakeCurrent(hdc, record->hglrc);
    if (glewInit() != GLEW_OK) {
        Diagnostic("%s", "Core Profile Glew isn't initialized.\n");
        wglMakeCurrent(NULL, NULL);
        wglDeleteContext(record->hglrc);
        delete record;
        ReleaseWindow(hwnd, hdc);
        return nullptr;
    }

    return record;
}

void DeleteContext(GLContextHandle handle) {
    auto* record = static_cast<WinGLContext*>(handle);
    if (!record) return;
    if (record->hglrc) {
        wglMakeCurrent(NULL, NULL);
        if (!wglDeleteContext(record->hglrc)) Diagnostic("%s\n", "GL Context Destruction Failed");
        record->hglrc = NULL;
    }
    if (record->hdc) {
        ReleaseDC(record->hwnd, record->hdc);
        record->hdc = NULL;
    }
    if (record->hwnd) {
        DestroyWindow(record->hwnd);
        record->hwnd = NULL;
    }
    // Fails while other hidden windows of the class exist; the last context's deletion succeeds.
    UnregisterClassA(VEXOGLClassStrZ, NULL);
    // Nothing uses a deleted context's record again.
    delete record;
}

void SetCurrentContext(GLContextHandle handle) {
    const auto* record = static_cast<const WinGLContext*>(handle);
    if (record && record->hglrc) {
        if (!wglMakeCurrent(record->hdc, record->hglrc))
            Diagnostic("%s\n", "Cannot Set OpenGL Context");
    } else {
        wglMakeCurrent(NULL, NULL);
    }
}

// The record only ever goes back to SetCurrentContext and is not freed: global setup, the one
// caller, makes one per setup.
GLContextHandle GetCurrentContext(void) {
    return new WinGLContext{NULL, wglGetCurrentContext(), wglGetCurrentDC()};
}

bool IsContextValid(GLContextHandle handle) {
    return handle != nullptr && static_cast<const WinGLContext*>(handle)->hglrc != NULL;
}

}  // extern "C"

void DeleteContextOfEndedThread(GLContextHandle handle) {
    auto* record = static_cast<WinGLContext*>(handle);
    if (!record) return;
    if (record->hglrc && !wglDeleteContext(record->hglrc))
        Diagnostic("%s\n", "GL Context Destruction Failed");
    delete record;
}

bool IsContextCurrent(GLContextHandle handle) {
    const auto* record = static_cast<const WinGLContext*>(handle);
    return record != nullptr && record->hglrc != NULL && wglGetCurrentContext() == record->hglrc;
}
