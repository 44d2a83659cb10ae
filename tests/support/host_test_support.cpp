#include "tests/support/host_test_support.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "effect/VexorantPro.h"
#include "standalone/aegp_suites.h"
#include "standalone/undo.h"

using namespace vexo_host;

void ParamHostTest::SetUp() {
    HostTest::SetUp();
    ClearUndo();
    // What global setup declares, without building its GL context.
    effect_.version = vexo::kVersion;
    effect_.out_flags = vexo::kOutFlags;
    effect_.out_flags2 = vexo::kOutFlags2;
    instance_ = std::make_unique<Instance>(&effect_);
    ASSERT_EQ(SetupInstance(instance_.get()), PF_Err_NONE) << instance_->refusal;
    ASSERT_EQ(instance_->params.size(), std::size_t(kParamCount));
}

void ParamHostTest::TearDown() {
    if (instance_) {
        for (const std::string& problem : InstanceProblems(*instance_)) ADD_FAILURE() << problem;
        instance_.reset();
    }
    ClearUndo();
    HostTest::TearDown();
}

double ParamHostTest::Value(PF_ParamIndex index) const {
    return instance_->params.at(std::size_t(index)).value;
}

bool ParamHostTest::Shown(PF_ParamIndex index) const { return IsShown(*instance_, index); }

std::string ParamHostTest::ShownName(PF_ParamIndex index) const {
    return instance_->params.at(std::size_t(index)).shown_name;
}

// --- JSON

bool Json::Has(const std::string& key) const {
    for (const auto& m : members) {
        if (m.first == key) return true;
    }
    return false;
}

const Json& Json::operator[](const std::string& key) const {
    static const Json kMissing;
    for (const auto& m : members) {
        if (m.first == key) return m.second;
    }
    return kMissing;
}

namespace {

struct Reader {
    const std::string& s;
    std::size_t i = 0;

    void Space() {
        while (i < s.size() && (s[i] == ' ' || s[i] == '\n' || s[i] == '\r' || s[i] == '\t')) ++i;
    }
    bool Eat(char c) {
        Space();
        if (i < s.size() && s[i] == c) return ++i, true;
        return false;
    }
    bool Word(const char* w, std::size_t n) {
        if (s.compare(i, n, w) != 0) return false;
        i += n;
        return true;
    }
    bool String(std::string* out) {
        if (!Eat('"')) return false;
        while (i < s.size() && s[i] != '"') {
            if (s[i] == '\\') {
                if (++i >= s.size()) return false;
                const char c = s[i++];
                if (c == 'n')
                    *out += '\n';
                else if (c == 't')
                    *out += '\t';
                else if (c == 'r')
                    *out += '\r';
                else if (c == 'u') {
                    if (i + 4 > s.size()) return false;
                    *out += char(std::strtol(s.substr(i, 4).c_str(), nullptr, 16));
                    i += 4;
                } else
                    *out += c;
            } else {
                *out += s[i++];
            }
        }
        return Eat('"');
    }
    bool Value(Json* v) {
        Space();
        if (i >= s.size()) return false;
        const char c = s[i];
        if (c == '{') {
            ++i;
            v->kind = Json::kObject;
            if (Eat('}')) return true;
            do {
                std::pair<std::string, Json> m;
                if (!String(&m.first) || !Eat(':') || !Value(&m.second)) return false;
                v->members.push_back(std::move(m));
            } while (Eat(','));
            return Eat('}');
        }
        if (c == '[') {
            ++i;
            v->kind = Json::kArray;
            if (Eat(']')) return true;
            do {
                Json item;
                if (!Value(&item)) return false;
                v->items.push_back(std::move(item));
            } while (Eat(','));
            return Eat(']');
        }
        if (c == '"') {
            v->kind = Json::kString;
            return String(&v->text);
        }
        if (Word("null", 4)) return v->kind = Json::kNull, true;
        if (Word("true", 4)) return v->kind = Json::kBool, v->boolean = true, true;
        if (Word("false", 5)) return v->kind = Json::kBool, v->boolean = false, true;
        char* end = nullptr;
        v->number = std::strtod(s.c_str() + i, &end);
        if (end == s.c_str() + i) return false;
        i = std::size_t(end - s.c_str());
        v->kind = Json::kNumber;
        return true;
    }
};

std::string Quote(const std::string& arg) {
    std::string out = "'";
    for (char c : arg) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

}  // namespace

bool ParseJson(const std::string& text, Json* out) {
    Reader r{text};
    *out = Json{};
    if (!r.Value(out)) return false;
    r.Space();
    return r.i == text.size();
}

RunResult RunVexorant(const std::vector<std::string>& args) {
    char err_path[] = "/tmp/vexorant_stderr_XXXXXX";
    const int fd = mkstemp(err_path);
    RunResult run;
    if (fd < 0) return run;
    close(fd);
    // The module goes right after the command, so a trailing option keeps its missing operand.
    std::string command = Quote(VEXO_VEXORANT_PATH);
    for (std::size_t i = 0; i < args.size(); ++i) {
        command += " " + Quote(args[i]);
        if (i == 0) command += " --module " + Quote(VEXO_MODULE_PATH);
    }
    command += " 2>" + Quote(err_path);
    if (FILE* pipe = popen(command.c_str(), "r")) {
        char buf[4096];
        while (std::size_t n = std::fread(buf, 1, sizeof buf, pipe)) run.out.append(buf, n);
        const int status = pclose(pipe);
        run.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    std::ifstream err(err_path);
    std::stringstream text;
    text << err.rdbuf();
    run.err = text.str();
    std::remove(err_path);
    return run;
}
