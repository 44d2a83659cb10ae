// Shader programs from source texts. Every routine works in the context current on the calling
// thread and reports problems as diagnostics only.
#pragma once
#include <cstdint>
#include <string>

// Pairs of (stage type, pointer to NUL-terminated source) ended by a 0 entry. Stage types are
// GL_VERTEX_SHADER, GL_FRAGMENT_SHADER and GL_GEOMETRY_SHADER; every other non-zero value is
// skipped. `header` goes in front of every stage's source. Returns the linked program, or 0 when
// linking failed. A stage that fails to compile is reported and left out of the link.
uint32_t CreateProgram(const uint64_t* shaderList, const char* header);

// Why a build gave 0. The driver's verdict on a text stands: building it again gives the same.
// Memory short for a moment, no name to give, or a lost context can pass.
enum ProgramFailure : uint32_t {
    kProgramBuilt = 0,
    kProgramRejected,  // a stage did not compile or the link failed, whatever the log says
    kProgramCanPass,   // GL_OUT_OF_MEMORY or GL_CONTEXT_LOST seen while building, or no name
};

// CreateProgram for a program that must have every stage: one that fails to compile fails the
// program (0). Linked without its fragment stage, a program draws undefined colours. A program
// built while GL ran out of memory is not trusted either. `why`, when given, says why it failed.
uint32_t CreateCompleteProgram(const uint64_t* shaderList, const char* header,
                               ProgramFailure* why = nullptr);

// Programs the calling thread has asked GL to build, whatever came of them: lets tests bound the
// compiles of a session.
uint64_t ProgramBuildsOnThisThread();

// Deletes a non-zero program and stores 0 in its place; null or 0 does nothing.
void DeleteProgram(uint32_t* program);

// The file's text, each line followed by "\n"; empty when the file cannot be opened.
std::string LoadShader(const std::string& path);

// A program from a vertex and a fragment file. Returns the program even when a stage or the link
// failed (the logs are printed); check GL_LINK_STATUS to know.
uint32_t AESDK_OpenGL_InitShader(std::string vertexShaderPath, std::string fragmentShaderPath);

// Prints the first pending GL error, if any, with where it was found.
void CheckOpenGLError(const char* what, const char* file, int line);
