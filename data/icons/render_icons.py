#!/usr/bin/env python3
"""Renders the application icon's SVG into the PNG sizes the window embeds.

Qt reads PNG without any plugin, while SVG window icons need the Qt SVG icon
engine, which a desktop may lack; so the window carries these renderings and
the desktop menu uses the SVG. Run this after changing the SVG and commit the
PNGs. It drives librsvg and cairo through ctypes (Debian: librsvg2-2), so no
converter program is needed.
"""
import ctypes
import ctypes.util
import os
import sys

SIZES = (16, 24, 32, 48, 64, 128, 256)
HERE = os.path.dirname(os.path.abspath(__file__))
SVG = os.path.join(HERE, "io.github.veltrask.Veltrask.svg")


class RsvgRectangle(ctypes.Structure):
    _fields_ = [("x", ctypes.c_double), ("y", ctypes.c_double),
                ("width", ctypes.c_double), ("height", ctypes.c_double)]


def load(name, soname):
    path = ctypes.util.find_library(name) or soname
    return ctypes.CDLL(path)


def main():
    rsvg = load("rsvg-2", "librsvg-2.so.2")
    cairo = load("cairo", "libcairo.so.2")
    rsvg.rsvg_handle_new_from_file.restype = ctypes.c_void_p
    rsvg.rsvg_handle_new_from_file.argtypes = [ctypes.c_char_p, ctypes.POINTER(ctypes.c_void_p)]
    rsvg.rsvg_handle_render_document.restype = ctypes.c_int
    rsvg.rsvg_handle_render_document.argtypes = [ctypes.c_void_p, ctypes.c_void_p,
                                                 ctypes.POINTER(RsvgRectangle), ctypes.POINTER(ctypes.c_void_p)]
    cairo.cairo_image_surface_create.restype = ctypes.c_void_p
    cairo.cairo_image_surface_create.argtypes = [ctypes.c_int, ctypes.c_int, ctypes.c_int]
    cairo.cairo_create.restype = ctypes.c_void_p
    cairo.cairo_create.argtypes = [ctypes.c_void_p]
    cairo.cairo_destroy.argtypes = [ctypes.c_void_p]
    cairo.cairo_surface_write_to_png.restype = ctypes.c_int
    cairo.cairo_surface_write_to_png.argtypes = [ctypes.c_void_p, ctypes.c_char_p]
    cairo.cairo_surface_destroy.argtypes = [ctypes.c_void_p]

    error = ctypes.c_void_p()
    handle = rsvg.rsvg_handle_new_from_file(SVG.encode(), ctypes.byref(error))
    if not handle:
        sys.exit("render_icons: cannot read " + SVG)
    for size in SIZES:
        surface = cairo.cairo_image_surface_create(0, size, size)  # CAIRO_FORMAT_ARGB32
        cr = cairo.cairo_create(surface)
        viewport = RsvgRectangle(0, 0, size, size)
        if not rsvg.rsvg_handle_render_document(handle, cr, ctypes.byref(viewport), ctypes.byref(error)):
            sys.exit("render_icons: rendering failed at %d px" % size)
        out = os.path.join(HERE, "veltrask-%d.png" % size)
        if cairo.cairo_surface_write_to_png(surface, out.encode()) != 0:
            sys.exit("render_icons: cannot write " + out)
        cairo.cairo_destroy(cr)
        cairo.cairo_surface_destroy(surface)
        print(out)


if __name__ == "__main__":
    main()
