#version 330 core
// The map's cells for a softness blurred on a coarser grid. Each cell takes the frame's pixels
// around it through a B-spline of the mean of n pixels (SetCellFilter) rather than their mean
// alone: the mean's own ripple folds fine grain into the cells' low frequencies, where the
// Gaussian keeps it. Cells beyond the frame's edge hold what the edge mode gives there, so the
// blur across the cells needs no edge mode of its own.
out vec4 FragColour;
uniform sampler2DRect videoTexture;
uniform vec2 resV;         // the frame's size
uniform ivec2 gridOrigin;  // the cell of the target's first pixel
uniform ivec2 srcOrigin;   // the frame pixel of the source's first texel
uniform int wrapL;         // the edge mode: 0 transparent, 1 repeat, 2 mirror, 3 edge pixels
uniform int channelL;      // 0: every channel; else only what the grey is taken from, in red
uniform int cellSide;      // pixels along a cell's side
// Along an axis, each pair's place (pixels from the cell's first tap) and weight, and the same
// filter as one weight a pixel; their counts, CELL_PAIRS and CELL_TAPS, are defined by the
// program made for each side: a software rasteriser unrolls loops of a known count, and pays
// for every turn of any other.
uniform vec2 cellPairs[8];
uniform float cellTaps[16];

// The value the displacement's grey is taken from: one channel, or (8) the colours' mean.
float greySource(vec4 c) {
    if (channelL == 2) return c.g;
    if (channelL == 3) return c.b;
    if (channelL == 4) return c.a;
    if (channelL == 8) return (c.r + c.g + c.b) * 0.33333333;
    return c.r;
}

// Frame pixel i of n as Repeat (1) or Mirror Repeat has it.
int edgePixel(int i, float n) {
    float k = float(i);
    if (wrapL == 1) return int(k - n * floor(k / n));
    float m = k - 2.0 * n * floor(k / (2.0 * n));
    return int(m < n ? m : 2.0 * n - 1.0 - m);
}

void main() {
    // The filter's first pixel, centred on the cell's centre.
    ivec2 first = (gridOrigin + ivec2(gl_FragCoord.xy)) * cellSide - (CELL_TAPS - cellSide) / 2;
    vec4 sum = vec4(0.0);
    // Repeat and Mirror Repeat, which rectangle textures do not hold, are read pixel by pixel, by
    // a program of their own; the sampler's border and edge are the other edge modes' own.
#ifdef VEXO_BY_TEXEL
    {
        ivec2 last = textureSize(videoTexture) - 1;
        for (int j = 0; j < CELL_TAPS; ++j) {
            int y = clamp(edgePixel(first.y + j, resV.y) - srcOrigin.y, 0, last.y);
            vec4 row = vec4(0.0);
            for (int i = 0; i < CELL_TAPS; ++i) {
                int x = clamp(edgePixel(first.x + i, resV.x) - srcOrigin.x, 0, last.x);
                row += cellTaps[i] * texelFetch(videoTexture, ivec2(x, y));
            }
            sum += cellTaps[j] * row;
        }
    }
#else
    {
        vec2 at = vec2(first - srcOrigin) + 0.5;
        for (int j = 0; j < CELL_PAIRS; ++j) {
            vec4 row = vec4(0.0);
            for (int i = 0; i < CELL_PAIRS; ++i) {
                row += cellPairs[i].y *
                       texture(videoTexture, at + vec2(cellPairs[i].x, cellPairs[j].x));
            }
            sum += cellPairs[j].y * row;
        }
    }
#endif
    FragColour = channelL != 0 ? vec4(greySource(sum)) : sum;
}
