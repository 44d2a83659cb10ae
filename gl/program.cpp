#include "gl/program.h"

#include <GL/glew.h>

#include <cstdio>
#include <fstream>
#include <vector>

#include "gl/diagnostics.h"
#include "gl/gl_errors.h"

namespace {

bool IsStageType(uint64_t entry) {
    return entry == GL_VERTEX_SHADER || entry == GL_FRAGMENT_SHADER || entry == GL_GEOMETRY_SHADER;
}

// Compiles `source` read from a file; prints `failure_header`, the log and a newline on failure.
GLuint CompileFileShader(GLenum type, const std::string& source, const char* failure_header) {
    const GLuint shader = glCreateShader(type);
    const GLchar* text = source.c_str();
    const GLint length = static_cast<GLint>(source.size());
    glShaderSource(shader, 1, &text, &length);
    glCompileShader(shader);
    GLint status = GL_FALSE;
    glGetShaderiv(shader, GL_COMPILE_STATUS, &status);
    if (status != GL_TRUE) {
        char log[4096] = {};
        glGetShaderInfoLog(shader, sizeof(log), nullptr, log);
        Diagnostic("%s%s\n", failure_header, log);
    }
    return shader;
}

thread_local uint64_t t_builds = 0;

// With `every_stage`, a stage that fails to compile fails the program before anything is linked,
// and so does an out-of-memory or a lost context met on the way, after which GL's state is
// undefined.
uint32_t BuildProgram(const uint64_t* shaderList, const char* header, bool every_stage,
                      ProgramFailure* why) {
    ++t_builds;
    size_t stage_count = 0;
    for (const uint64_t* entry = shaderList; entry && *entry; ++entry)
        if (IsStageType(*entry)) ++stage_count;
    std::vector<GLuint> shaders;
    shaders.reserve(stage_count);

    bool rejected = false;
    bool no_name = false;
    const GLchar* prefix = header ? header : "";
    for (const uint64_t* entry = shaderList; entry && *entry; ++entry) {
        if (!IsStageType(*entry)) continue;
        // A stage type with no source after it ends the list like the terminator would.
        if (!entry[1]) break;
        const GLenum type = static_cast<GLenum>(*entry);
        ++entry;
        const GLchar* sources[2] = {
            prefix, reinterpret_cast<const GLchar*>(static_cast<uintptr_t>(*entry))};
        const GLuint shader = glCreateShader(type);
        if (!shader) {
            no_name = true;
            break;
        }
        glShaderSource(shader, 2, sources, nullptr);
        glCompileShader(shader);
        GLint status = GL_FALSE;
        glGetShaderiv(shader, GL_COMPILE_STATUS, &status);
        if (status == GL_TRUE) {
            shaders.push_back(shader);
        } else {
            char log[256] = {};
            glGetShaderInfoLog(shader, sizeof(log), nullptr, log);
            Diagnostic("Compile Shader Failed - %s\n", log);
            // Nothing refers to a stage left out of the link; do not leave it behind.
            glDeleteShader(shader);
            if (every_stage) {
                rejected = true;
                break;
            }
        }
    }

    GLuint program = 0;
    if (!rejected && !no_name) {
        program = glCreateProgram();
        no_name = !program;
    }
    if (program) {
        for (GLuint shader : shaders) glAttachShader(program, shader);
        glLinkProgram(program);
        GLint status = GL_FALSE;
        glGetProgramiv(program, GL_LINK_STATUS, &status);
        if (status != GL_TRUE) {
            char log[256] = {};
            glGetProgramInfoLog(program, sizeof(log), nullptr, log);
            Diagnostic("Link Program Failed - %s\n", log);
            rejected = true;
        }
    }

    bool passing = no_name;
    const GLenum error = ReadPendingGLErrors(&passing);
    if (error != GL_NO_ERROR) Diagnostic("Prog Error: %i\n", static_cast<int>(error));

    // The linked program keeps working without its shaders; a failed one is of no use to anyone,
    // and the caller only ever sees 0 for it.
    for (GLuint shader : shaders) {
        if (program) glDetachShader(program, shader);
        glDeleteShader(shader);
    }
    const bool failed = rejected || no_name || (every_stage && passing);
    if (failed && program) {
        glDeleteProgram(program);
        program = 0;
    }
    if (why) *why = !failed ? kProgramBuilt : passing ? kProgramCanPass : kProgramRejected;
    return program;
}

}  // namespace

uint32_t CreateProgram(const uint64_t* shaderList, const char* header) {
    return BuildProgram(shaderList, header, false, nullptr);
}

uint32_t CreateCompleteProgram(const uint64_t* shaderList, const char* header,
                               ProgramFailure* why) {
    return BuildProgram(shaderList, header, true, why);
}

uint64_t ProgramBuildsOnThisThread() { return t_builds; }

void DeleteProgram(uint32_t* program) {
    if (!program || *program == 0) return;
    glDeleteProgram(*program);
    *program = 0;
}

std::string LoadShader(const std::string& path) {
    std::ifstream file(path);
    if (!file.is_open()) return std::string();
    std::string text;
    std::string line;
    while (file.good()) {
        std::getline(file, line);
        text += line;
        text += "\n";
    }
    return text;
}

uint32_t AESDK_OpenGL_InitShader(std::string vertexShaderPath, std::string fragmentShaderPath) {
    const GLuint vertex = CompileFileShader(GL_VERTEX_SHADER, LoadShader(vertexShaderPath),
                                            "ERROR::SHADER::VERTEX::COMPILATION_FAILED\n");
    const GLuint fragment = CompileFileShader(GL_FRAGMENT_SHADER, LoadShader(fragmentShaderPath),
                                              "ERROR::SHADER::FRAG::COMPILATION_FAILED\n");
    const GLuint program = glCreateProgram();
    glAttachShader(program, vertex);
    glAttachShader(program, fragment);
    glLinkProgram(program);
    GLint status = GL_FALSE;
    glGetProgramiv(program, GL_LINK_STATUS, &status);
    if (status != GL_TRUE) {
        char log[4096] = {};
        glGetProgramInfoLog(program, sizeof(log), nullptr, log);
        Diagnostic("%s%s\n", "ERROR::PROGRAM::COMPILATION_FAILED\n", log);
    }
    glDetachShader(program, vertex);
    glDetachShader(program, fragment);
    glDeleteShader(vertex);
    glDeleteShader(fragment);
    return program;
}

void CheckOpenGLError(const char* what, const char* file, int line) {
    const GLenum error = ReadGLError();
    if (error == GL_NO_ERROR) return;
    Diagnostic("OpenGL error %08x, at %s:%i - for %s\n", static_cast<unsigned>(error),
               file ? file : "", line, what ? what : "");
    Diagnostic("\n");
}
