#include "standalone/editor_descriptions.h"

#include <cctype>
#include <cmath>
#include <filesystem>
#include <system_error>

#include "standalone/instance.h"
#include "standalone/number_text.h"
#include "standalone/output_file.h"

namespace vexo_host {
namespace {

constexpr const char* kEffectName = "Vexorant Pro";
constexpr const char* kAuthor = "Vexorant";

std::string XmlText(const std::string& s) {
    std::string out;
    for (char c : s) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            default:
                out += c;
        }
    }
    return out;
}

std::string QmlText(const std::string& s) {
    std::string out = "'";
    for (char c : s) {
        if (c == '\\' || c == '\'') out += '\\';
        out += c;
    }
    return out + "'";
}

// "Anti-Aliasing" -> "antiAliasing": a QML id stem.
std::string Identifier(const std::string& name) {
    std::string out;
    bool upper = false;
    for (char c : name) {
        if (!std::isalnum(static_cast<unsigned char>(c))) {
            upper = !out.empty();
            continue;
        }
        out += out.empty() ? char(std::tolower(static_cast<unsigned char>(c)))
               : upper     ? char(std::toupper(static_cast<unsigned char>(c)))
                           : c;
        upper = false;
    }
    return out;
}

std::vector<std::string> Choices(const Frei0rParam& p) {
    std::vector<std::string> out;
    for (const std::string& e : p.entries) {
        if (!IsSeparatorEntry(e)) out.push_back(e);
    }
    return out;
}

std::string Join(const std::vector<std::string>& items, const std::string& separator) {
    std::string out;
    for (std::size_t i = 0; i < items.size(); ++i) out += (i ? separator : "") + items[i];
    return out;
}

// Bounds as the effect declares them (single precision: "1.3", not "1.29999995").
std::string Bound(double v) { return ShortestText(float(v)); }

// The unit after a number, as the editors print it.
std::string UnitSuffix(const Frei0rParam& p) {
    return p.unit == "%" ? "%" : p.unit == "degrees" ? "°" : "";
}

std::string Shown(double v, const Frei0rParam& p) {
    const std::string unit = UnitSuffix(p);
    return Bound(v) + (unit == "%" ? " %" : unit);
}

// Kdenlive turns a shown value into the frei0r value by a factor alone. A range from 0 is shown
// in the control's units; a range around 0 cannot be, and shows the position along it, 0 to 100.
bool ShownInUnits(const Frei0rParam& p) { return p.at_zero == 0; }

std::string KdenliveParameter(const Frei0rParam& p) {
    const std::string name = XmlText(p.name);
    std::string out = "    <parameter type=\"";
    switch (p.kind) {
        case Frei0rKind::kBool:
            return out + "bool\" name=\"" + name + "\" default=\"" + Frei0rDefaultText(p) +
                   "\">\n        <name>" + name + "</name>\n    </parameter>\n";
        case Frei0rKind::kString: {
            const std::vector<std::string> choices = Choices(p);
            return out + "list\" name=\"" + name + "\" default=\"" + XmlText(Frei0rDefaultText(p)) +
                   "\" paramlist=\"" + XmlText(Join(choices, ";")) +
                   "\">\n        <paramlistdisplay>" + XmlText(Join(choices, ",")) +
                   "</paramlistdisplay>\n        <name>" + name + "</name>\n    </parameter>\n";
        }
        case Frei0rKind::kDouble:
            break;
    }
    out += "animated\" name=\"" + name + "\" default=\"" + Frei0rDefaultText(p) + "\" min=\"0\"";
    std::string comment;
    if (ShownInUnits(p)) {
        out += " max=\"" + Bound(p.at_one) + "\" factor=\"" + Bound(p.at_one) + "\" decimals=\"" +
               std::to_string(p.decimals) + "\"";
        const std::string unit = UnitSuffix(p);
        if (!unit.empty()) out += " suffix=\"" + XmlText(unit) + "\"";
    } else {
        out += " max=\"100\" factor=\"100\" decimals=\"3\"";
        comment = "0 gives " + Shown(p.at_zero, p) + ", 50 gives " +
                  Shown((p.at_zero + p.at_one) / 2, p) + ", 100 gives " + Shown(p.at_one, p) +
                  "; the default is " + Shown(p.stream_default, p);
    }
    out += ">\n        <name>" + name + "</name>\n";
    if (!comment.empty()) out += "        <comment>" + XmlText(comment) + "</comment>\n";
    return out + "    </parameter>\n";
}

}  // namespace

std::string KdenliveDescription(const std::vector<Frei0rParam>& params, bool mixer) {
    const char* element = mixer ? "transition" : "effect";
    const std::string service = mixer ? "frei0r.vexorant_map" : "frei0r.vexorant";
    std::string out = std::string("<?xml version=\"1.0\"?>\n<!DOCTYPE kpartgui>\n<") + element +
                      " tag=\"" + service + "\" id=\"" + service + "\">\n";
    out += std::string("    <name>") + kEffectName + (mixer ? " (map track)" : "") + "</name>\n";
    out += std::string("    <description>") +
           (mixer ? "Displaces the track below by the map on this composition's track."
                  : "Displaces the picture by a map made from itself.") +
           "</description>\n";
    out += std::string("    <author>") + kAuthor + "</author>\n";
    for (const Frei0rParam& p : params) out += KdenliveParameter(p);
    return out + "</" + element + ">\n";
}

std::string ShotcutMetadata(const std::vector<Frei0rParam>& params) {
    std::vector<std::string> keyframed;
    std::string parameters;
    for (const Frei0rParam& p : params) {
        if (p.kind != Frei0rKind::kDouble) continue;
        keyframed.push_back(QmlText(p.name));
        parameters += std::string(parameters.empty() ? "" : ",\n") +
                      "            Parameter {\n"
                      "                name: qsTr(" +
                      QmlText(p.name) +
                      ")\n"
                      "                property: " +
                      QmlText(p.name) +
                      "\n"
                      "                isCurve: true\n"
                      "                minimum: 0\n"
                      "                maximum: 1\n"
                      "            }";
    }
    return std::string(
               "import QtQuick 2.0\n"
               "import org.shotcut.qml 1.0\n"
               "\n"
               "Metadata {\n"
               "    type: Metadata.Filter\n"
               "    name: qsTr('") +
           kEffectName +
           "')\n"
           "    keywords: qsTr('displace displacement map distort warp', 'search keywords for the "
           "Vexorant Pro video filter') + ' vexorant'\n"
           "    mlt_service: 'frei0r.vexorant'\n"
           "    qml: 'ui.qml'\n"
           "\n"
           "    keyframes {\n"
           "        allowAnimateIn: true\n"
           "        allowAnimateOut: true\n"
           "        simpleProperties: [" +
           Join(keyframed, ", ") +
           "]\n"
           "        parameters: [\n" +
           parameters +
           "\n"
           "        ]\n"
           "    }\n"
           "}\n";
}

std::string ShotcutControls(const std::vector<Frei0rParam>& params) {
    // The frei0r value of a slider runs from 0 to 1 over its range: the bounds go in exactly, so
    // a value typed in the control's units gives the frei0r value `vexorant --set` would.
    auto to_slider = [](const Frei0rParam& p, const std::string& v) {
        return "toSlider(" + v + ", " + ShortestText(p.at_zero) + ", " + ShortestText(p.at_one) +
               ")";
    };
    auto to_filter = [](const Frei0rParam& p, const std::string& v) {
        return "toFilter(" + v + ", " + ShortestText(p.at_zero) + ", " + ShortestText(p.at_one) +
               ")";
    };
    std::string properties, set_controls, enable, update_simple, keyframable, defaults,
        set_defaults, names, rows;
    for (const Frei0rParam& p : params) {
        const std::string id = Identifier(p.name);
        const std::string name = QmlText(p.name);
        const std::string label = "        Label {\n            text: qsTr(" + name +
                                  ")\n            Layout.alignment: Qt.AlignRight\n        }\n\n";
        names += std::string(names.empty() ? "" : ", ") + name;
        switch (p.kind) {
            case Frei0rKind::kBool:
                set_defaults +=
                    "            filter.set(" + name + ", " + Frei0rDefaultText(p) + ");\n";
                set_controls +=
                    "        " + id + "Check.checked = filter.getDouble(" + name + ") >= 0.5;\n";
                rows += label + "        CheckBox {\n            id: " + id +
                        "Check\n\n            onClicked: filter.set(" + name +
                        ", checked ? 1 : 0)\n        }\n\n        Shotcut.UndoButton {\n"
                        "            onClicked: filter.set(" +
                        name + ", " + Frei0rDefaultText(p) +
                        ")\n        }\n\n        Item {\n            width: 1\n        }\n\n";
                break;
            case Frei0rKind::kString: {
                std::vector<std::string> choices;
                for (const std::string& c : Choices(p)) choices.push_back(QmlText(c));
                const std::string dephault = QmlText(Frei0rDefaultText(p));
                set_defaults += "            filter.set(" + name + ", " + dephault + ");\n";
                set_controls += "        " + id + "Combo.currentIndex = " + id +
                                "Combo.model.indexOf(filter.get(" + name + "));\n";
                rows += label + "        Shotcut.ComboBox {\n            id: " + id +
                        "Combo\n\n            implicitWidth: 180\n            model: [" +
                        Join(choices, ", ") +
                        "]\n            // The entry's text is the frei0r value.\n"
                        "            onActivated: filter.set(" +
                        name +
                        ", model[currentIndex])\n        }\n\n        Shotcut.UndoButton {\n"
                        "            onClicked: filter.set(" +
                        name + ", " + dephault +
                        ")\n        }\n\n        Item {\n            width: 1\n        }\n\n";
                break;
            }
            case Frei0rKind::kDouble: {
                const std::string param =
                    "param" + std::string(1, char(std::toupper(id[0]))) + id.substr(1);
                const std::string slider = id + "Slider", button = id + "KeyframesButton";
                properties += "    property string " + param + ": " + name + "\n";
                properties +=
                    "    property double " + id + "Default: " + Frei0rDefaultText(p) + "\n";
                set_defaults += "            filter.set(" + param + ", " + id + "Default);\n";
                set_controls += "        " + slider + ".value = " +
                                to_slider(p, "filter.getDouble(" + param + ", position)") + ";\n";
                set_controls += "        " + button +
                                ".checked = filter.animateIn <= 0 && filter.animateOut <= 0 && "
                                "filter.keyframeCount(" +
                                param + ") > 0;\n";
                enable += slider + ".enabled = ";
                update_simple += "        updateFilter(" + param + ", " +
                                 to_filter(p, slider + ".value") + ", " + button + ", null);\n";
                keyframable += std::string(keyframable.empty() ? "" : ", ") + param;
                defaults += std::string(defaults.empty() ? "" : ", ") + id + "Default";
                const std::string unit = UnitSuffix(p);
                rows +=
                    label + "        Shotcut.SliderSpinner {\n            id: " + slider +
                    "\n\n            minimumValue: " + Bound(p.at_zero) +
                    "\n            maximumValue: " + Bound(p.at_one) +
                    "\n            decimals: " + std::to_string(p.decimals) +
                    "\n            stepSize: " + ShortestText(std::pow(10.0, -p.decimals)) +
                    (unit.empty() ? "" : "\n            suffix: " + QmlText(" " + unit)) +
                    "\n            onValueChanged: updateFilter(" + param + ", " +
                    to_filter(p, "value") + ", " + button +
                    ", getPosition())\n        }\n\n        Shotcut.UndoButton {\n"
                    "            onClicked: " +
                    slider + ".value = " + to_slider(p, id + "Default") +
                    "\n        }\n\n        Shotcut.KeyframesButton {\n            id: " + button +
                    "\n\n            onToggled: {\n                enableControls(true);\n"
                    "                toggleKeyframes(checked, " +
                    param + ", " + to_filter(p, slider + ".value") +
                    ");\n            }\n        }\n\n";
                break;
            }
        }
    }
    return "import QtQuick 2.12\n"
           "import QtQuick.Controls 2.12\n"
           "import QtQuick.Layouts 1.12\n"
           "import Shotcut.Controls 1.0 as Shotcut\n"
           "\n"
           "Shotcut.KeyframableFilter {\n" +
           properties +
           "\n"
           "    function toSlider(value, low, high) {\n"
           "        return low + value * (high - low);\n"
           "    }\n"
           "\n"
           "    function toFilter(value, low, high) {\n"
           "        return (value - low) / (high - low);\n"
           "    }\n"
           "\n"
           "    function setControls() {\n"
           "        var position = getPosition();\n"
           "        blockUpdate = true;\n" +
           set_controls +
           "        blockUpdate = false;\n"
           "        enableControls(isSimpleKeyframesActive());\n"
           "    }\n"
           "\n"
           "    function enableControls(enabled) {\n"
           "        " +
           enable +
           "enabled;\n"
           "    }\n"
           "\n"
           "    function updateSimpleKeyframes() {\n"
           "        setControls();\n" +
           update_simple +
           "    }\n"
           "\n"
           "    keyframableParameters: [" +
           keyframable +
           "]\n"
           "    startValues: [" +
           defaults +
           "]\n"
           "    middleValues: [" +
           defaults +
           "]\n"
           "    endValues: [" +
           defaults +
           "]\n"
           "    width: 400\n"
           "    height: " +
           std::to_string(40 + 34 * (params.size() + 1)) +
           "\n"
           "    Component.onCompleted: {\n"
           "        if (filter.isNew) {\n" +
           set_defaults +
           "            filter.savePreset(preset.parameters);\n"
           "        }\n"
           "        setControls();\n"
           "    }\n"
           "\n"
           "    GridLayout {\n"
           "        anchors.fill: parent\n"
           "        anchors.margins: 8\n"
           "        columns: 4\n"
           "\n"
           "        Label {\n"
           "            text: qsTr('Preset')\n"
           "            Layout.alignment: Qt.AlignRight\n"
           "        }\n"
           "\n"
           "        Shotcut.Preset {\n"
           "            id: preset\n"
           "\n"
           "            parameters: [" +
           names +
           "]\n"
           "            Layout.columnSpan: 3\n"
           "            onBeforePresetLoaded: {\n"
           "                resetSimpleKeyframes();\n"
           "            }\n"
           "            onPresetSelected: {\n"
           "                setControls();\n"
           "                initializeSimpleKeyframes();\n"
           "            }\n"
           "        }\n"
           "\n" +
           rows +
           "        Item {\n"
           "            Layout.fillHeight: true\n"
           "        }\n"
           "    }\n"
           "\n"
           "    Connections {\n"
           "        function onChanged() {\n"
           "            setControls();\n"
           "        }\n"
           "\n"
           "        function onInChanged() {\n"
           "            updateSimpleKeyframes();\n"
           "        }\n"
           "\n"
           "        function onOutChanged() {\n"
           "            updateSimpleKeyframes();\n"
           "        }\n"
           "\n"
           "        function onAnimateInChanged() {\n"
           "            updateSimpleKeyframes();\n"
           "        }\n"
           "\n"
           "        function onAnimateOutChanged() {\n"
           "            updateSimpleKeyframes();\n"
           "        }\n"
           "\n"
           "        function onPropertyChanged(name) {\n"
           "            setControls();\n"
           "        }\n"
           "\n"
           "        target: filter\n"
           "    }\n"
           "\n"
           "    Connections {\n"
           "        function onPositionChanged() {\n"
           "            setControls();\n"
           "        }\n"
           "\n"
           "        target: producer\n"
           "    }\n"
           "}\n";
}

bool WriteEditorDescriptions(const std::string& dir, const std::vector<Frei0rParam>& params,
                             std::string* error) {
    const std::pair<std::string, std::string> files[] = {
        {"kdenlive/effects/vexorant.xml", KdenliveDescription(params, false)},
        {"kdenlive/transitions/vexorant_map.xml", KdenliveDescription(params, true)},
        {"shotcut/vexorant/meta.qml", ShotcutMetadata(params)},
        {"shotcut/vexorant/ui.qml", ShotcutControls(params)},
    };
    for (const auto& [name, text] : files) {
        const std::filesystem::path path = std::filesystem::path(dir) / name;
        std::error_code ec;
        std::filesystem::create_directories(path.parent_path(), ec);
        if (ec) return *error = CannotWrite(path.string(), ec.message()), false;
        if (!WriteWholeFile(path.string(), text.data(), text.size(), error)) return false;
    }
    return true;
}

}  // namespace vexo_host
