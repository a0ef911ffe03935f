"""Keys plates with Blender's compositor over a grid of settings, in one
Blender process: the yardstick of bench/real-plate-bench.sh and
bench/plate-bench.sh.

    blender -b --factory-startup --python bench/blender-key-grid.py -- JOBS

JOBS is a text file, one plate a line:

    PLATE KEY_HEX OUT_DIR NODE

PLATE a picture file, KEY_HEX the backdrop's colour as RRGGBB (sRGB), OUT_DIR
where the keyed pictures go, NODE `keying` (the Keying node) or `chroma`
(the Chroma Key node). Every setting of the node's grid is written as
OUT_DIR/SETTINGS.png, straight RGBA whose alpha is the node's matte,
SETTINGS the values joined by `~` in the grid's order (Keying: clip black,
clip white, screen balance, edge kernel tolerance; Chroma Key: acceptance,
cutoff, falloff). BLENDER_KEY_GRID (JSON, property name to list of values)
replaces the grid, for exploring. The compositor only: no scene is rendered
(the node tree has no Render Layers node).
"""
import itertools
import json
import math
import os
import sys

import bpy

# Settings that change the matte. The Keying node's despill factor and
# balance change only its colour, so they stay at their defaults (1, 0.5).
# Its edge kernel tolerance decides which pixels count as edges, where the
# clipping is not applied: on a noisy backdrop the default (0.1) takes noise
# for edges and leaves much of it unclipped, so it is searched too.
KEYING_GRID = {
    "clip_black": [0.3, 0.45, 0.6, 0.75, 0.9],
    "clip_white": [0.9, 1.0],
    "screen_balance": [0.2, 0.5, 0.8],
    "edge_kernel_tolerance": [0.1, 0.3, 0.5],
}
# Acceptance and cutoff angles in degrees (at most 80 and 30), falloff 0-1.
CHROMA_GRID = {
    "tolerance": [30, 50, 65, 80],
    "threshold": [0, 15, 30],
    "gain": [0.02, 0.1, 0.3],
}


def srgb_to_linear(level):
    c = level / 255.0
    return c / 12.92 if c <= 0.04045 else ((c + 0.055) / 1.055) ** 2.4


def key_colour(hex_text):
    hex_text = hex_text.removeprefix("0x").removeprefix("#")
    levels = [int(hex_text[i:i + 2], 16) for i in (0, 2, 4)]
    return [srgb_to_linear(v) for v in levels] + [1.0]


def prepare_scene():
    scene = bpy.context.scene
    scene.use_nodes = True
    scene.render.use_compositing = True
    scene.render.use_sequencer = False
    scene.render.resolution_percentage = 100
    scene.render.image_settings.file_format = "PNG"
    scene.render.image_settings.color_mode = "RGBA"
    scene.render.image_settings.color_depth = "8"
    scene.render.image_settings.compression = 15
    scene.render.film_transparent = True
    # What goes in comes out: sRGB in, the same sRGB transfer out.
    scene.view_settings.view_transform = "Standard"
    scene.view_settings.look = "None"
    scene.view_settings.exposure = 0
    scene.view_settings.gamma = 1
    scene.sequencer_colorspace_settings.name = "sRGB"
    return scene


def build_tree(scene, node_kind):
    tree = scene.node_tree
    tree.nodes.clear()
    image = tree.nodes.new("CompositorNodeImage")
    keyer = tree.nodes.new("CompositorNodeKeying" if node_kind == "keying" else "CompositorNodeChromaMatte")
    composite = tree.nodes.new("CompositorNodeComposite")
    composite.use_alpha = True
    tree.links.new(image.outputs["Image"], keyer.inputs["Image"])
    tree.links.new(keyer.outputs["Image"], composite.inputs["Image"])
    tree.links.new(keyer.outputs["Matte"], composite.inputs["Alpha"])
    return image, keyer


def settings_of(node_kind):
    grid = KEYING_GRID if node_kind == "keying" else CHROMA_GRID
    # A grid of one's own, for exploring: BLENDER_KEY_GRID='{"clip_black": [0.5, 0.7]}'.
    if os.environ.get("BLENDER_KEY_GRID"):
        grid = json.loads(os.environ["BLENDER_KEY_GRID"])
    names = list(grid)
    for values in itertools.product(*(grid[n] for n in names)):
        yield dict(zip(names, values))


def apply(keyer, node_kind, settings):
    for name, value in settings.items():
        if node_kind == "chroma" and name in ("tolerance", "threshold"):
            value = math.radians(value)
        setattr(keyer, name, value)


def key_plate(scene, plate, key_hex, out_dir, node_kind):
    picture = bpy.data.images.load(os.path.abspath(plate))
    picture.colorspace_settings.name = "sRGB"
    width, height = picture.size
    scene.render.resolution_x = width
    scene.render.resolution_y = height
    image, keyer = build_tree(scene, node_kind)
    image.image = picture
    keyer.inputs["Key Color"].default_value = key_colour(key_hex)
    os.makedirs(out_dir, exist_ok=True)
    for settings in settings_of(node_kind):
        apply(keyer, node_kind, settings)
        name = "~".join(f"{v:g}" for v in settings.values())
        scene.render.filepath = os.path.join(os.path.abspath(out_dir), name + ".png")
        bpy.ops.render.render(write_still=True)
    bpy.data.images.remove(picture)


def main():
    arguments = sys.argv[sys.argv.index("--") + 1:] if "--" in sys.argv else []
    if len(arguments) != 1:
        sys.exit("usage: blender -b --factory-startup --python blender-key-grid.py -- JOBS")
    scene = prepare_scene()
    with open(arguments[0], encoding="utf-8") as jobs:
        for line in jobs:
            fields = line.split()
            if len(fields) != 4 or fields[3] not in ("keying", "chroma"):
                continue
            key_plate(scene, *fields)


main()
