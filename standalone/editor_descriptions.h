// The frei0r modules as Kdenlive and Shotcut list them: both editors offer a frei0r service only
// where a description of their own names it and lays out its controls.
#pragma once
#include <string>
#include <vector>

#include "standalone/frei0r_params.h"

namespace vexo_host {

// Kdenlive's description of the filter (an effect) or of the mixer (a composition).
std::string KdenliveDescription(const std::vector<Frei0rParam>& params, bool mixer);

// Shotcut's filter: its metadata (meta.qml) and its controls (ui.qml).
std::string ShotcutMetadata(const std::vector<Frei0rParam>& params);
std::string ShotcutControls(const std::vector<Frei0rParam>& params);

// Writes them under `dir` as each editor's data folder holds them:
// kdenlive/effects/vexorant.xml, kdenlive/transitions/vexorant_map.xml and
// shotcut/vexorant/{meta,ui}.qml.
bool WriteEditorDescriptions(const std::string& dir, const std::vector<Frei0rParam>& params,
                             std::string* error);

}  // namespace vexo_host
