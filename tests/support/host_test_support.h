// One effect instance on the standalone host, set up through the linked effect's own commands,
// plus helpers to run the `vexorant` binary and read its JSON.
#pragma once
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "params/param_table.h"
#include "standalone/instance.h"
#include "tests/support/effect_test_support.h"

// Fails the test if the instance still holds handles, references, checkouts or an open undo
// group when it ends.
class ParamHostTest : public HostTest {
  protected:
    void SetUp() override;
    void TearDown() override;

    double Value(PF_ParamIndex index) const;
    bool Shown(PF_ParamIndex index) const;
    std::string ShownName(PF_ParamIndex index) const;

    std::unique_ptr<vexo_host::Instance> instance_;
};

// A parsed JSON value; enough for the host's own output.
struct Json {
    enum Kind { kNull, kBool, kNumber, kString, kArray, kObject } kind = kNull;
    bool boolean = false;
    double number = 0;
    std::string text;
    std::vector<Json> items;
    std::vector<std::pair<std::string, Json>> members;

    bool Has(const std::string& key) const;
    const Json& operator[](const std::string& key) const;  // a null value when absent
    const Json& operator[](std::size_t i) const { return items.at(i); }
    bool IsNull() const { return kind == kNull; }
};
bool ParseJson(const std::string& text, Json* out);

struct RunResult {
    int exit_code = -1;  // -1 when the program did not exit normally
    std::string out;
    std::string err;
};
// Runs the built `vexorant` on the built module; args[0] is the command.
RunResult RunVexorant(const std::vector<std::string>& args);
