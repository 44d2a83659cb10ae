// Which pixels a frame's passes read: the part of each layer the displacement can reach from
// the pixels asked for, so that the host is asked for no more than that and the targets are
// sized by what is asked, not by the layer.
#pragma once
#include <cstdint>

#include "render/render_settings.h"

// Pixels of the frame (the input layer's extent), columns from the left and rows as the host
// counts them; `right` and `bottom` excluded.
struct Region {
    int64_t left = 0, top = 0, right = 0, bottom = 0;
    int64_t width() const { return right - left; }
    int64_t height() const { return bottom - top; }
    bool empty() const { return right <= left || bottom <= top; }
};

Region Grow(const Region& r, int64_t by);
// a / b rounded down, for b > 0.
int64_t FloorDiv(int64_t a, int64_t b);
Region Intersect(const Region& a, const Region& b);
Region Union(const Region& a, const Region& b);

// `r` as a texture sampled under the frame's edge mode must hold it: clipped to the frame; held
// onto the edge pixels where the edge mode repeats them; or, where it crosses an edge under a
// wrapping mode, the frame's whole extent on that axis (what lies beyond the edge is the other
// side's).
Region ForEdgeMode(const Region& r, const myParams& p);

// The cells of the supersampled frame the reduction reads to draw `tile` (frame pixels): the n x n
// cells within each of its pixels.
Region SampleRegion(const myParams& p, const Region& tile);

// The frame's pixels whose displacement the passes evaluate to draw `window`: the window itself,
// or, supersampled, the pixels around its samples, between which the map is read.
Region EvaluatedRegion(const myParams& p, const Region& window);

// The part of the frame the input is sampled in (its filter footprint included) while `evaluated`
// is displaced, as the picture and as the map where there is no map layer, ready for the edge
// mode; false when no bound can be given (a map value may be anything, a control is no finite
// number, or the scale's pole lies within the map's range), and the whole input is needed.
bool InputReach(const myParams& p, const Region& evaluated, Region* reach);

// The part of the map the passes read while `evaluated` is displaced: the blur's and the
// filter's reach around it, ready for the edge mode.
Region MapReach(const myParams& p, const Region& evaluated);

// The side, in frame pixels, of the square cells the map softness blurs on: 1 is the frame's own
// grid. A Gaussian as wide as a large radius keeps nothing that cells a few times narrower lose,
// and the blur's cost falls with the cube of the side.
int SoftnessCells(const myParams& p);

// Test seam: the softness blurs on cells of `side` pixels whatever its radius; 0 restores the
// module's choice, 1 is the frame's own grid.
void SetSoftnessCellsForTesting(int side);

// The cells (of SoftnessCells, counted from the frame's first pixel) that a softness on cells
// blurs while `evaluated` is displaced: those the displacement reads between and the kernel's
// reach around them. Not held to the frame: cells beyond its edge hold the pixels the edge mode
// gives there, so the blur needs no edge mode of its own.
Region SoftnessCellRegion(const myParams& p, const Region& evaluated);
