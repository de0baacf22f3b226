"""Draws what was found onto the photo and writes it: each window's outline and name, the bars
as read row by row, its lag, its breaks (scan-out boundary yellow, tears red), and the verdict
(IN SYNC green, NOT IN SYNC red, CANNOT TELL orange)."""

import cv2
import numpy as np

from analyser.pattern import BAR

OUTLINE = (255, 0, 255)
BAR_READ = (255, 255, 0)
SCAN = (0, 255, 255)
TEAR = (0, 0, 255)
UNSURE = (160, 160, 160)  # a break whose kind is not known
VERDICT_COLOURS = {True: (0, 200, 0), False: (0, 0, 255), None: (0, 200, 255)}


def _to_photo(window, points, lens):
    """Window points in the photo, through the lens the photo was read through, if any."""
    points = cv2.perspectiveTransform(np.float32(points)[None], window.to_photo)[0]
    return points if lens is None else lens.distort(points)


def draw(photo, result):
    """A copy of the photo (BGR) with the findings drawn on it."""
    canvas = photo.copy()
    thickness = max(2, int(round(max(photo.shape) / 1000)))
    font = max(0.6, max(photo.shape) / 2500)
    for window in result.windows:
        cv2.polylines(canvas, [np.round(window.corners).astype(np.int32)], True, OUTLINE,
                      thickness, cv2.LINE_AA)
        read = ~np.isnan(window.vertical.offset)
        centres = np.column_stack([window.vertical.offset[read] + BAR / 2, window.v[read]])
        for x, y in np.round(_to_photo(window, centres, result.lens)).astype(int)[::4]:
            cv2.circle(canvas, (int(x), int(y)), thickness, BAR_READ, -1)
        for found in window.breaks:
            ends = _to_photo(window, [[0, found.row], [window.width, found.row]],
                             result.lens)
            cv2.line(canvas, tuple(np.round(ends[0]).astype(int)),
                     tuple(np.round(ends[1]).astype(int)),
                     {"scan": SCAN, "tear": TEAR}.get(found.kind, UNSURE), thickness,
                     cv2.LINE_AA)
        lag = "lag ?" if np.isnan(window.lag_ms) else \
            f"lag {window.lag_ms:.1f} ms ({window.lag_frames:.2f} fr)"
        scan = "" if window.scan is None else f"  scan {window.scan:.2f}"
        if window.scan_arc_ends is not None:
            scan = "  scan {:.2f}..{:.2f}".format(*window.scan_arc_ends)
        origin = window.corners[0] + [3 * thickness, 12 * thickness * font]
        for row, text in enumerate([window.name, lag + scan]):
            position = (int(origin[0]), int(origin[1] + row * 30 * font))
            cv2.putText(canvas, text, position, cv2.FONT_HERSHEY_SIMPLEX, font, (0, 0, 0),
                        thickness + 3, cv2.LINE_AA)
            cv2.putText(canvas, text, position, cv2.FONT_HERSHEY_SIMPLEX, font, (255, 255, 255),
                        thickness, cv2.LINE_AA)
    cv2.putText(canvas, result.verdict.upper(), (20, int(60 * font)), cv2.FONT_HERSHEY_SIMPLEX,
                1.5 * font, VERDICT_COLOURS[result.in_sync], thickness + 1, cv2.LINE_AA)
    return canvas


def write(path, photo, result):
    if not cv2.imwrite(path, draw(photo, result)):
        raise OSError(f"cannot write {path}")
