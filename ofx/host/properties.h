// Property sets and the property suite. Every read and write is checked against the documented
// type and dimension of the property (ofx/abi/properties.tsv, compiled in).
#ifndef VEXO_OFX_HOST_PROPERTIES_H
#define VEXO_OFX_HOST_PROPERTIES_H

#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "ofxProperty.h"

namespace vexo::ofxhost {

struct Log;

enum PropType : unsigned { kInt = 1, kDouble = 2, kString = 4, kPointer = 8 };

// A row of properties.tsv: the accessors that may read the property, and its dimension
// (0 where the table says N).
struct PropRule {
    const char* name;
    unsigned types;
    int dimension;
};
const PropRule* FindPropRule(const std::string& name);

struct PropValue {
    PropType type = kInt;
    std::vector<int> ints;
    std::vector<double> doubles;
    std::vector<std::string> strings;
    std::vector<void*> pointers;
};

struct PropertySet {
    unsigned magic = 0x50524f50;  // tells a property set from any other handle passed as one
    std::string what;             // names the object in violations
    bool open = false;            // descriptors: the plug-in may add properties
    Log* log = nullptr;
    void* owner = nullptr;  // an image's session
    // A parameter's: the type its value-typed properties (default, minimum, ...) must have.
    unsigned value_type = 0;
    mutable std::mutex mutex;
    std::map<std::string, PropValue> values;
};

inline OfxPropertySetHandle Handle(PropertySet& set) {
    return reinterpret_cast<OfxPropertySetHandle>(&set);
}
PropertySet* FromHandle(OfxPropertySetHandle handle);

// The host's own writes, unchecked.
void SetInts(PropertySet& set, const std::string& name, std::vector<int> values);
void SetDoubles(PropertySet& set, const std::string& name, std::vector<double> values);
void SetStrings(PropertySet& set, const std::string& name, std::vector<std::string> values);
void SetPointer(PropertySet& set, const std::string& name, void* value);
void CopyValues(const PropertySet& from, PropertySet& to);

// The host's own reads; `fallback` where the property is missing or short.
int GetInt(const PropertySet& set, const std::string& name, int index, int fallback);
double GetDouble(const PropertySet& set, const std::string& name, int index, double fallback);
std::string GetString(const PropertySet& set, const std::string& name, int index,
                      const std::string& fallback);
std::vector<std::string> GetStrings(const PropertySet& set, const std::string& name);
// Every value, whatever its type, as text; numbers in a form that reads back exactly.
std::vector<std::string> ValueTexts(const PropertySet& set, const std::string& name);
bool Has(const PropertySet& set, const std::string& name);

const OfxPropertySuiteV1* PropertySuite();

}  // namespace vexo::ofxhost

#endif
