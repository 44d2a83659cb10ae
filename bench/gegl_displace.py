#!/usr/bin/python3
# Seconds per frame of GEGL's displace (float, cubic sampler) on INPUT with MAP as both the x and
# the y map, in one process: both images are decoded into memory first, and each timed frame
# renders the whole displacement into a buffer in memory, so decoding and saving are left out.
#
# usage: gegl_displace.py INPUT MAP FRAMES AMOUNT
import sys
import time

import gi

gi.require_version("Gegl", "0.4")
from gi.repository import Gegl  # noqa: E402

input_path, map_path, frames, amount = sys.argv[1], sys.argv[2], int(sys.argv[3]), sys.argv[4]
Gegl.init(None)
# gegl:displace is one of the GPL-3 operations, which GEGL loads only for applications that say
# they are compatible.
Gegl.config().set_property("application-license", "GPL3")
if not Gegl.has_operation("gegl:displace"):
    sys.exit("gegl_displace: this GEGL has no gegl:displace")


def decoded(path):
    graph = Gegl.Node()
    load = graph.create_child("gegl:load")
    load.set_property("path", path)
    box = load.get_bounding_box()
    buffer = Gegl.Buffer.new("R'G'B'A u8", 0, 0, box.width, box.height)
    sink = graph.create_child("gegl:write-buffer")
    sink.set_property("buffer", buffer)
    load.connect_to("output", sink, "input")
    sink.process()
    return buffer, box


source, box = decoded(input_path)
displacement, _ = decoded(map_path)


def frame():
    graph = Gegl.Node()
    image = graph.create_child("gegl:buffer-source")
    image.set_property("buffer", source)
    shift = graph.create_child("gegl:buffer-source")
    shift.set_property("buffer", displacement)
    displace = graph.create_child("gegl:displace")
    displace.set_property("amount-x", float(amount))
    displace.set_property("amount-y", float(amount))
    out = Gegl.Buffer.new("R'G'B'A float", 0, 0, box.width, box.height)
    sink = graph.create_child("gegl:write-buffer")
    sink.set_property("buffer", out)
    image.connect_to("output", displace, "input")
    shift.connect_to("output", displace, "aux")
    shift.connect_to("output", displace, "aux2")
    displace.connect_to("output", sink, "input")
    sink.process()


frame()  # warm-up: loads the operation's code and the tile pools
start = time.perf_counter()
for _ in range(frames):
    frame()
print((time.perf_counter() - start) / frames)
