"""Analyses one photo (an array) of displays running the tool: finds and names the windows,
reads their bars and says whether they show their frames in step."""

from dataclasses import dataclass, field
from typing import NamedTuple

import cv2
import numpy as np

from analyser import (bar_ends, bars, layout, lens, locate, machines, pattern, rectify, timing,
                      verdict, wall)
from analyser.course import SAME_CLOCK_MS, wrapped
from analyser.pattern import BAR, EDGE, PERIOD_MS, SWEEP_PER_MS, times_in_sweep_ms

ASSUMED_HEIGHT = 1080  # window height taken when no group gives it and the bars cannot tell
MAX_LAG_FRAMES = 0.5
SCALE_CAUSE = "at this scale"  # why a lag is read no closer, when it is its bars' scale
SCALE_ADVICE = ("take the picture closer or at a higher resolution, so that each window spans "
                "more of its pixels")
START_ADVICE = ("take another photo, in which the scan-out boundaries show: at another moment, or "
                "with a camera that reads its sensor out faster")
TURN_ADVICE = "take another photo: the bars leave the turn within a tenth of a second"
CLOCK_ADVICE = ("start the tool with VARNEL_CLOCK=system on every machine, and hold their "
                "clocks together with the time service (PTP, or NTP on a quiet network)")
MAX_SCAN_SPREAD = 0.1
# The camera's readout between windows at different heights matters from this share of the
# photo's height on (0.1 refresh of a 60 Hz display at a 30 ms readout).
READOUT_HEIGHT_SHARE = 0.05
# A reading whose bars stray more than this from a right outline's is not used: this many
# window pixels, or for a window seen small this many photo pixels.
MAX_DOUBT_PX = 12.0
MAX_DOUBT_PHOTO_PX = 3.5
CLEAR_READING_PX = 4.0  # a reading this close to the pattern needs no other outline tried
NO_PATTERN_PX = 100.0  # a reading that strays this far (window pixels) holds no window
PLAUSIBLE_SAMPLES = (1.0, 0.75)  # per photo pixel, enough to tell a window from none
# Bars that disagree by more than this (photo pixels) show an outline that is off: the window is
# read again in the outline where its bars end, and kept so if they then agree better.
REFIT_DISAGREE_PHOTO_PX = 1.0
# Bars that disagree by more than this share of the window's width, the horizontal one along a
# side, may show that side traced onto the bar: the window is read again in the outline past it.
BAR_SIDE_DISAGREE = 0.03
# A side's line fitted along its length is traced to this share of a photo pixel; an outline
# with a side left at its coarse line (its frame line too faint to trace) to about a pixel.
OUTLINE_ERROR_PX = 0.25
COARSE_OUTLINE_ERROR_PX = 1.0
MIN_JUMP_PHOTO_PX = 0.6  # smallest jump of the bar in the photo that counts as a break
# A band of a window's width holds its vertical bar where most rows light at least this share
# of the bars' light there.
BAND_LIT_SHARE = 0.5
# A sparse grid that samples a bar this many times across is enough to say where it stands.
SPARSE_BAR_SAMPLES = 2
# A scan-out boundary's jump is read short of a refresh's motion by no more than this share of
# it, nor by more than this many photo pixels, where the change is not smeared.
WHOLE_SHARE = 0.8
JUMP_ERROR_PHOTO_PX = 0.6
# A boundary not seen is taken to lie outside the rows read only where it would jump by this
# many times the smallest break.
SEEN_JUMP_SHARE = 2.0
# The sweep turns within this distance of either end: bars may run either way there.
TURN_MARGIN = 0.01


class Maps(NamedTuple):
    """The images a photo is read from: lines, where frame lines are traced
    (locate.line_greenness); green, greenness (locate.greenness); brightness. All float32."""
    lines: np.ndarray
    green: np.ndarray
    brightness: np.ndarray


class NothingToRead(Exception):
    """The photo holds no pattern that can be read."""


@dataclass
class Window:
    name: str
    group: tuple  # the tool's five arguments, None when not named by a group
    width: int
    height: int
    size_estimated: bool
    corners: np.ndarray  # the window's outline in the photo, 4 x 2
    # homography from window to photo coordinates; where the photo was read through a lens
    # (Result.lens), to the photo's undistorted coordinates
    to_photo: np.ndarray
    v: np.ndarray  # window v of each sampled row
    photo_y: np.ndarray  # photo y of each sampled row
    vertical: bars.VerticalBar
    horizontal: bars.HorizontalBar
    reading: timing.WindowReading
    # the horizontal bar's sweep position less the vertical bar's where they disagree, in
    # window pixels: an outline that is off moves one bar's reading against the other's
    bars_lean_px: float = 0.0
    f: float = float("nan")
    lead_ms: float = float("nan")
    lag_ms: float = float("nan")
    lag_frames: float = float("nan")
    lag_doubt_ms: float = 0.0  # how far lag_ms may be off
    # How far the start of the refresh on show may be off where no scan-out boundary shows,
    # and the part of lag_doubt_ms that this window's and its leader's make up.
    start_doubt_ms: float = 0.0
    lag_start_doubt_ms: float = 0.0
    # (ms behind, doubt ms, name) of the window it is surest to be behind, None if none
    surest_lag: tuple = None
    scan: float = None
    # Where no boundary shows though one would: the scan positions left open, (start, length)
    scan_arc: tuple = None
    doubt_px: float = 0.0
    # Whether the rows above the scan-out boundary show the newer frame: unless the camera reads
    # the window out more slowly than the display scans it, when the boundary points the other
    # way.
    newer_above: bool = True
    shared: tuple = (False, False, False, False)  # sides shared with an abutting neighbour
    # sides traced along their frame lines, not left at their coarse lines
    sides_traced: tuple = (True, True, True, True)
    panel_black: float = 0.0  # the light of its panel's black, in the image read
    bar_light: float = 0.0  # and of its bars
    clock: int = 0  # windows with the same number show the bars of one clock
    direction: int = 0  # of its sweep: +1 bars moving right and up, -1 left and down, 0 unknown
    warnings: list = field(default_factory=list)

    @property
    def machine(self):
        return machines.machine_of(self.group) if self.group else ""

    @property
    def scan_arc_ends(self):
        """Where scan_arc begins and ends, fractions of a refresh (the end past the turn where
        the arc runs round it); None without one."""
        if self.scan_arc is None:
            return None
        start, length = self.scan_arc
        return start, (start + length) % 1.0

    @property
    def bars_disagree_px(self):
        return abs(self.bars_lean_px)

    @property
    def reliable(self):
        return self.doubt_px <= self.max_doubt_px

    @property
    def max_doubt_px(self):
        """The most a right outline's reading strays, in window pixels (see MAX_DOUBT_PX)."""
        across, _ = rectify.photo_extent(self.to_photo, self.width, self.height)
        return max(MAX_DOUBT_PX, MAX_DOUBT_PHOTO_PX * self.width / across)

    @property
    def breaks(self):
        return self.reading.breaks

    @property
    def tears(self):
        return [b for b in self.reading.breaks if b.kind == "tear"]

    @property
    def centre(self):
        return self.corners.mean(axis=0)


@dataclass
class Result:
    windows: list
    refresh_hz: float
    readout_ms: float  # None when not given
    direction: int  # +1 bars moving right and up, -1 left and down, 0 unknown
    missing: list  # names of groups given that no window in the photo matches
    unreadable: list = field(default_factory=list)  # names of windows found but not read
    judgement: verdict.Judgement = field(default_factory=verdict.Judgement)
    warnings: list = field(default_factory=list)
    lens: "lens.Lens" = None  # the distortion taken out before reading, None where none was

    @property
    def verdict(self):
        return self.judgement.answer

    @property
    def in_sync(self):
        return self.judgement.in_sync

    @property
    def reasons(self):
        return self.judgement.reasons

    @property
    def sign_known(self):
        return self.direction != 0

    @property
    def refresh_ms(self):
        return 1000.0 / self.refresh_hz


def analyse(photo, groups=(), refresh_hz=60.0, readout_ms=None):
    """Everything the photo (BGR, uint8) tells. groups: the tool's argument groups as
    (x, y, width, height, mode) tuples, or none. Raises NothingToRead."""
    found, green, too_small = locate.find_windows(photo, groups)
    if not found and too_small:
        raise NothingToRead("the test pattern in the photo is too small to read: take it "
                            "closer, or with more pixels")
    if not found:
        raise NothingToRead("no test pattern found in the photo")
    lines = locate.line_greenness(photo)
    bent = _lens_of(lines, found, photo.shape)
    if bent is not None:
        photo = lens.undistorted(photo, bent)
        found = [[locate.Outline(bent.undistort(o.corners), o.shared, o.traced)
                  for o in outlines] for outlines in found]
        green, lines = locate.greenness(photo), locate.line_greenness(photo)
    maps = Maps(lines, green, cv2.cvtColor(photo, cv2.COLOR_BGR2GRAY).astype(np.float32))
    refresh_ms = 1000.0 / refresh_hz
    found = [plausible for plausible in (
        _plausible_outlines(maps, outlines, refresh_ms) for outlines in found) if plausible]
    windows, missing, unreadable = _read_best_named(maps, found, groups, refresh_ms)
    photo_height = photo.shape[0]
    if not windows:
        raise NothingToRead("the test pattern in the photo is too small or unclear to read, or "
                            "its bars lie on the frame lines (a turn of the sweep): take "
                            "another photo")
    for window in windows:
        if bent is not None:
            window.photo_y = _sensor_rows(window, bent)
        read = _read_ms(readout_ms, window.photo_y, photo_height)
        window.newer_above = read[-1] - read[0] < 1000.0 / refresh_hz
    direction = _direction(windows, refresh_ms)
    # Machines on clocks of their own may sweep each its own way.
    for machine in {w.machine for w in windows}:
        mine = [w for w in windows if w.machine == machine]
        for window in mine:
            window.direction = _direction(mine, refresh_ms) or direction
    result = Result(windows, refresh_hz, readout_ms, direction, missing, unreadable, lens=bent)
    _time_windows(result, photo_height)
    _warn(result, photo_height)
    result.warnings += clock_notes(result.windows)
    if bent is not None:
        result.warnings.append(f"the camera's lens bends the frame lines (radial distortion "
                               f"k1 {bent.k1:+.4f}, k2 {bent.k2:+.4f} at the half-diagonal): "
                               "the photo was read with it taken out")
    _judge(result)
    if bent is not None:
        for window in windows:
            window.corners = bent.distort(window.corners)
    return result


def _lens_of(lines, found, shape):
    """The lens distortion that bends the frame lines of the windows found (each a list of
    candidate outlines, the likeliest first), traced on lines (see lens.estimate); None where
    they run straight."""
    sides = []
    for outlines in found:
        sides += locate.ridge_points(lines, locate.refine_corners(lines, outlines[0]))
    return lens.estimate(sides, shape[1], shape[0])


def _sensor_rows(window, bent):
    """The photo rows, as the sensor has them, at which the window's sampled rows cross its
    middle (for the camera's rolling shutter), where it was read through the lens bent."""
    middle = np.column_stack([np.full(len(window.v), window.width / 2), window.v])
    undistorted = cv2.perspectiveTransform(np.float32(middle)[None], window.to_photo)[0]
    return bent.distort(undistorted)[:, 1]


def _read_best_named(maps, found, groups, refresh_ms):
    """The windows found (each a list of candidate outlines) read under each way of naming
    them (_namings) in turn, until one leaves no group unfound; of those tried, the one that
    reads the most groups reliably, then the fewest unfound. Returns (windows, names of groups
    not found, names of windows found but not read)."""
    best, best_rank = None, None
    for named, missing in _namings(found, groups):
        read = _read_named(maps, named, groups, missing, refresh_ms)
        windows, missing, _ = read
        rank = (sum(w.reliable and w.group is not None for w in windows), -len(missing))
        if best is None or rank > best_rank:
            best, best_rank = read, rank
        if not missing:
            break
    return best


def _read_named(maps, named, groups, missing, refresh_ms):
    """The windows named (candidate outlines, name, group) read, and where groups are given,
    those read by where the others put them (_read_by_layout): (windows, names of groups not
    found, names of windows found but not read)."""
    windows, unreadable = [], []
    for outlines, name, group in named:
        window = best_reading(maps, outlines, name, group, refresh_ms)
        if groups and group is None and (window is None or not window.reliable):
            continue  # matches no group and reads like no window: a shape of something else
        if window is None:
            unreadable.append(name)
        else:
            windows.append(window)
    if groups:
        windows = _without_pieces(_read_by_layout(maps, groups, windows, refresh_ms))
        read = {w.name for w in windows}
        missing = [name for name in missing if name not in read]
        unreadable = [name for name in unreadable if name not in read]
    return windows, missing, unreadable


def _namings(found, groups):
    """The ways of naming the windows found (each a list of candidate outlines, the likeliest
    first) that fit the groups about as well as the best (layout.matches), the best first:
    per way, (candidate outlines, name, group) for every window found, and the names of the
    groups it leaves unfound."""
    quads = [outlines[0].corners for outlines in found]
    centres = [q.mean(axis=0) for q in quads]
    if not groups:
        return [([(found[i], str(n + 1), None)
                  for n, i in enumerate(layout.reading_order(centres))], [])]
    desktop = [(g[0] + g[2] / 2, g[1] + g[3] / 2) for g in groups]
    widths = [np.linalg.norm(q[1] - q[0]) + np.linalg.norm(q[2] - q[3]) for q in quads]
    heights = [np.linalg.norm(q[3] - q[0]) + np.linalg.norm(q[2] - q[1]) for q in quads]
    ranked = layout.matches(desktop, centres, [2 * g[2] for g in groups], widths,
                            [g[2] / g[3] for g in groups],
                            [w / max(h, 1e-9) for w, h in zip(widths, heights)])
    return [_named_by(found, centres, groups, pairs) for pairs in ranked or [[]]]


def _named_by(found, centres, groups, pairs):
    """(candidate outlines, name, group) per window found, named by the (group index, found
    index) pairs (those of no group named ?1, ?2, ... in reading order), and the names of the
    groups not found."""
    named = [(found[f], machines.group_name(groups[g]), groups[g]) for g, f in pairs]
    matched = {f for _, f in pairs}
    extra = [i for i in layout.reading_order(centres) if i not in matched]
    named += [(found[i], f"?{n + 1}", None) for n, i in enumerate(extra)]
    found_groups = {g for g, _ in pairs}
    missing = [machines.group_name(g) for i, g in enumerate(groups) if i not in found_groups]
    return named, missing


def _off_their_clock(read):
    """Of windows read and reliable (a dict by group index), the indexes of those off the clock
    of their machine's other windows (off_the_clock)."""
    strays = set()
    for machine in {w.machine for w in read.values()}:
        mine = [i for i, w in read.items() if w.machine == machine and w.reliable]
        positions = [np.nanmean(read[i].reading.f_rows) for i in mine]
        strays |= {i for i, stray in zip(mine, off_the_clock(positions)) if stray}
    return strays


def off_the_clock(positions, reach=SAME_CLOCK_MS * SWEEP_PER_MS):
    """Which of the sweep positions of one machine's windows stand further than reach from
    those of most of them (whichever way the sweep runs, a position moves by no more than the
    time); where no majority agrees, every one that does not agree with all."""
    positions = np.asarray(positions, float)
    if len(positions) < 2:
        return np.zeros(len(positions), bool)
    agreeing = np.abs(positions[:, None] - positions[None, :]) <= reach
    support = agreeing.sum(axis=1)
    if support.max() > len(positions) / 2:
        return ~agreeing[int(np.argmax(support))]
    return support < len(positions)


def _read_by_layout(maps, groups, windows, refresh_ms):
    """The windows read, with those of groups that were not read well read again in the
    outline where the windows read around them place them (a window found in pieces, cut
    wrong, or not at all): kept where they read reliably, in place of a worse reading. A
    reading whose bars stand further from its machine's other windows than one clock allows
    (off_the_clock) is read again too, and replaced where the new one keeps to the clock: a
    machine draws all its windows by one clock, so such a reading is most likely of something
    else (a piece of a window, an outline across two), unless the window runs on a clock of its
    own, when the new reading strays as well."""
    index_of = {machines.group_name(g): i for i, g in enumerate(groups)}
    read = {index_of[w.name]: w for w in windows if w.group is not None}
    before = set(read)
    strays = _off_their_clock(read)
    known = {i: w.to_photo for i, w in read.items() if w.reliable and i not in strays}
    if not known:
        return windows
    for index, group in enumerate(groups):
        current = read.get(index)
        if current is not None and current.reliable and index not in strays:
            continue
        window = _read_in_place(maps, groups, index, known, refresh_ms)
        if window is None or index in strays and index in _off_their_clock(
                {**{i: read[i] for i in known}, index: window}):
            continue
        read[index] = window
        known[index] = window.to_photo
    kept = [read[index_of[w.name]] if w.group is not None else w for w in windows]
    return kept + [read[i] for i in sorted(set(read) - before)]


def _read_in_place(maps, groups, index, known, refresh_ms):
    """The window of groups[index] read where the windows read place it, beyond the bezels
    they measure or, where they measure none, each of the bezels tried: the reliable reading
    that strays least, or None."""
    best = None
    for bezel in wall.bezel_trials(groups, known):
        quad = wall.predicted_quad(groups, index, known, bezel)
        if not _could_be_seen(quad, maps.green.shape):
            continue
        outline = locate.Outline(quad, wall.shared_sides(groups, index, bezel))
        window = best_reading(maps, [outline], machines.group_name(groups[index]),
                              groups[index], refresh_ms)
        if window is not None and window.reliable and (
                best is None or window.doubt_px < best.doubt_px):
            best = window
            if best.doubt_px <= CLEAR_READING_PX:
                break
    return best


def _could_be_seen(quad, shape):
    """Whether an outline that the windows read predict could be a window of the photo (of that
    shape): convex, with no corner further off the photo than the photo's own size. The wall's
    perspective, taken from a few windows that lie close together, may blow up far from them."""
    height, width = shape[:2]
    if not np.all(np.isfinite(quad)) or not cv2.isContourConvex(np.float32(quad)):
        return False
    return bool(np.all(quad >= [-width, -height]) and np.all(quad <= [2 * width, 2 * height]))


def _without_pieces(windows):
    """The windows but those matched to no group that lie inside one that is: a piece of it
    found apart (windows on a wall do not overlap)."""
    named = [np.float32(w.corners) for w in windows if w.group is not None]
    return [w for w in windows if w.group is not None or not any(
        cv2.pointPolygonTest(quad, tuple(map(float, w.centre)), False) >= 0 for quad in named)]


def _estimated_size(quad):
    """A window size with the outline's aspect ratio, ASSUMED_HEIGHT rows high."""
    across, down = rectify.quad_extent(quad)
    return int(round(ASSUMED_HEIGHT * across / max(down, 1e-9))), ASSUMED_HEIGHT


def _plausible_outlines(maps, outlines, refresh_ms):
    """Of a window's candidate outlines, those through which it reads at all like the pattern
    (at its estimated size and with few samples), the one that reads most like it first: a
    shape that is no window (a piece of one, or noise) reads as bars that stray by far more
    than any outline's error can make them."""
    readings = [best_reading(maps, [outline], "", None, refresh_ms, PLAUSIBLE_SAMPLES)
                for outline in outlines]
    kept = sorted((reading.doubt_px, index) for index, reading in enumerate(readings)
                  if reading is not None and reading.doubt_px <= NO_PATTERN_PX)
    return [outlines[index] for _, index in kept]


def best_reading(maps, outlines, name, group, refresh_ms, per_pixel=(2.0, 1.5)):
    """The window read through each candidate outline, its sides traced on maps.lines; the
    one that reads most like the pattern, of those that could be read at all. Bars are read
    from brightness, and where that does not read clearly, from greenness too: glare strong
    enough to clip the panel's brightness may leave the bars' colour."""
    best = None
    for outline in outlines:
        for image in (maps.brightness, maps.green):
            reading = read_window(maps.lines, image, outline, name, group, per_pixel)
            if reading is None:
                continue
            reading.doubt_px = outline_doubt_px(reading, refresh_ms)
            if best is None or reading.doubt_px < best.doubt_px:
                best = reading
            if best.doubt_px <= CLEAR_READING_PX:
                return best
    return best


def lead_doubt_ms(disagree_px, width, across, outline_px=OUTLINE_ERROR_PX):
    """How far a window's content time may be off, in ms, when its bars disagree by disagree_px
    window pixels (an outline that far off) and its outline, across photo pixels wide, is
    traced to outline_px photo pixels."""
    doubt_px = np.hypot(disagree_px, outline_px * width / max(across, 1.0))
    return float(doubt_px / ((width - 9) * SWEEP_PER_MS))


def _frame_px(window, refresh_ms):
    """How far the vertical bar moves in a refresh, in window pixels."""
    return (window.width - 9) * SWEEP_PER_MS * refresh_ms


def outline_doubt_px(window, refresh_ms):
    """How far a reading strays from what a right outline gives, in window pixels: the two bars
    agree, the vertical bar stands straight between breaks (a wrong corner tilts and bends it),
    and no break jumps further than a few refreshes of motion."""
    frame_px = _frame_px(window, refresh_ms)
    leaps = sum(abs(b.jump_px) for b in window.breaks if abs(b.jump_px) > 4 * frame_px)
    offsets = window.vertical.offset
    bend = 0.0
    for segment in window.reading.segments:
        inner = offsets[segment.start:segment.end]
        inner = inner[~np.isnan(inner)]
        if len(inner) > 8:
            low, high = np.percentile(inner, [5, 95])
            bend = max(bend, high - low)
    unseen = 3.0 if np.isnan(window.horizontal.offset) else 0.0
    return window.bars_disagree_px + bend + unseen + leaps


def lit_samples(samples, column_step=1):
    """A window's samples above its panel's black (most of a window is dark panel: the median
    of a sparse share of them), lowered in place, a lit bar's light above it (a high
    percentile: the bars and the frame light about a fiftieth of a window), and the black.
    The samples are of every column_step-th column of the window's grid."""
    black = float(np.median(samples[::4, ::max(1, 4 // column_step)]))
    lit = np.subtract(samples, black, out=samples)
    light = np.percentile(lit[::2, ::max(1, 2 // column_step)], 99.5)
    return lit, max(float(light), 1.0), black


def trace_outline(lines, outline, size):
    """The outline (locate.Outline) of a window traced on lines (see locate.refine_corners),
    and where its size (width, height) is known, its sides shared with a neighbour parted
    where they show a narrow bezel between the two frame lines (locate.parted_sides)."""
    traced = locate.refine_corners(lines, outline)
    if size is None:
        return traced
    return locate.parted_sides(lines, traced, _scales_across(traced.corners, *size))


def read_window(outline_map, image, outline, name, group, per_pixel=(2.0, 1.5),
                trace=trace_outline, band=None, past_bars=True):
    """The window whose coarse outline (locate.Outline) is given: its frame lines traced by
    trace (outline map, coarse outline, window size or None where it is estimated) on
    outline_map (for trace_outline the greenness, which neither a bright wall nor glare
    lights), its bars read from image (float32): brightness, as colour is stored at half the
    resolution and so bends a thin bar by pixels, or greenness. None when too few rows show
    the vertical bar. band: where the vertical bar stands (see _read_in), where known.
    past_bars: whether to read it again past a bar that a side may have been traced onto
    (_outline_past_bar)."""
    if group is not None:
        width, height = group[2], group[3]
    else:
        width, height = _estimated_size(outline.corners)
    traced = trace(outline_map, outline, None if group is None else (width, height))
    photo_points = traced.corners
    to_photo = rectify.window_to_photo(photo_points, locate.frame_points(width, height,
                                                                         traced.shared))
    if group is None:
        width, height, to_photo = _size_from_bars(image, to_photo, width, height,
                                                  photo_points, traced.shared, per_pixel)
    window = _read_in(image, to_photo, width, height, name, group, per_pixel, traced.shared,
                      band)
    if window is None:
        return None
    window.sides_traced = traced.traced
    across, _ = rectify.photo_extent(window.to_photo, width, height)
    if window.bars_disagree_px <= REFIT_DISAGREE_PHOTO_PX * width / across:
        return window
    again = _refit_to_bar_ends(image, window, per_pixel, across)
    if again is not None and again.bars_disagree_px < window.bars_disagree_px:
        window = again
    past = _outline_past_bar(window) if past_bars else None
    if past is not None:
        beyond = read_window(outline_map, image, past, name, group, per_pixel, trace, band,
                             past_bars=False)
        if beyond is not None and beyond.bars_disagree_px < window.bars_disagree_px:
            return beyond
    return window


def _scales_across(corners, width, height):
    """Per side of an outline (top, right, bottom, left), photo pixels per window pixel across
    it, for a window width x height pixels: the mean length of the two sides beside it over
    the window's extent that way."""
    lengths = np.linalg.norm(corners - np.roll(corners, -1, axis=0), axis=1)
    down, across = (lengths[1] + lengths[3]) / 2 / height, (lengths[0] + lengths[2]) / 2 / width
    return (down, across, down, across)


def _outline_past_bar(window):
    """Where the horizontal bar lies along the top or bottom side of the outline that a window
    was read in, and the vertical bar puts it well inside the window, the outline
    (locate.Outline) with that side moved out to where the window's edge then lies; else None.
    A frame line too faint beside the bar (which outshines it near a turn of the sweep) lets
    the bar pass for the side."""
    width, height = window.width, window.height
    offsets, horizontal = window.vertical.offset, window.horizontal
    read = offsets[~np.isnan(offsets)]
    if window.bars_disagree_px <= BAR_SIDE_DISAGREE * width or not len(read) or \
            not horizontal.clipped:
        return None
    f = pattern.sweep_from_offset(np.median(read), width)
    bar_v = height - f * (height - 9) - BAR / 2
    # The stretch of the window's height that the outline read spans.
    first, last = (bar_v, height) if horizontal.offset > height / 2 else (0.0, bar_v)
    if last - first < 2 * BAR:
        return None
    top, bottom = (np.array([0.0, height]) - first) * height / (last - first)
    edges = np.float32([[0, top], [width, top], [width, bottom], [0, bottom]])
    corners = cv2.perspectiveTransform(edges[None], window.to_photo)[0].astype(float)
    return locate.Outline(corners, window.shared)


def _refit_to_bar_ends(image, window, per_pixel, across):
    """The window (across photo pixels wide) read again in the outline that its bars' ends
    show, where that outline lies apart from the one it was read in; None where it does not."""
    width, height = window.width, window.height
    offsets, v = window.vertical.offset, window.v
    ends_u = []
    for low, high in ((0.03, 0.15), (0.85, 0.97)):
        near = offsets[(v > low * height) & (v < high * height)]
        near = near[~np.isnan(near)]
        ends_u.append(float(np.median(near)) + BAR / 2 if len(near) else None)
    horizontal = window.horizontal
    bar_v = None if horizontal.clipped or np.isnan(horizontal.offset) else \
        height - horizontal.offset - BAR / 2
    edges = bar_ends.fit_edges(image, window.to_photo, width, height, ends_u, bar_v,
                               window.bar_light, window.panel_black, across)
    to_photo = bar_ends.refitted(window.to_photo, width, height, edges, across)
    if to_photo is None:
        return None
    again = _read_in(image, to_photo, width, height, window.name, window.group, per_pixel,
                     window.shared)
    if again is not None:
        again.sides_traced = window.sides_traced
    return again


def _read_in(image, to_photo, width, height, name, group, per_pixel, shared, band=None):
    """The window's bars read in the outline that to_photo gives; None when too few rows show
    the vertical bar. band: (u from, u to), window pixels, the stretch of the window's width
    where the vertical bar stands, if that is known (see _bars_in_band)."""
    columns, rows = rectify.grid_size(to_photo, width, height, per_pixel)
    # Where a sparse grid shows the bar, it tells where to read it: far less to sample.
    sparse_shows_bar = BAR * columns / width >= SPARSE_BAR_SAMPLES * bars.LEVEL_STEP
    read = _bars_in_band(image, to_photo, width, height, columns, rows, band) \
        if band is not None or sparse_shows_bar else None
    if read is None:
        samples, _, v, photo_y = rectify.sample(image, to_photo, width, height, columns, rows)
        samples, level, black = lit_samples(samples)
        levels = bars.row_levels(samples)
        vertical = bars.read_vertical_bar(samples, width, level, levels)
    else:
        vertical, levels, level, black, v, photo_y = read
    f = pattern.sweep_from_offset(np.nanmedian(vertical.offset), width) if np.any(
        ~np.isnan(vertical.offset)) else np.nan
    horizontal = bars.read_horizontal_bar(levels, height, level, v, f * (height - 9))
    offsets = vertical.offset.copy()
    offsets[horizontal.rows[0]:horizontal.rows[1]] = np.nan
    # Next to the top and bottom frame lines the blur lights the rows across: leave them out.
    _, down = rectify.photo_extent(to_photo, width, height)
    near_edge = EDGE + 3 * height / down
    offsets[(v < near_edge) | (v > height - near_edge)] = np.nan
    if np.count_nonzero(~np.isnan(offsets)) < max(8, 0.2 * rows):
        return None
    # Compression and noise shift a thin bar by a fraction of a photo pixel over many rows.
    across, _ = rectify.photo_extent(to_photo, width, height)
    min_jump = max(timing.MIN_JUMP_PX, MIN_JUMP_PHOTO_PX * width / across)
    found, noise = timing.find_breaks(offsets, v, height, min_jump)
    timing.mark_blends_at_edges(found, vertical.width)
    segments = timing.read_segments(offsets, found, width, noise)
    reading = timing.WindowReading(segments, found, noise)
    disagree = timing.combine_with_horizontal(
        segments, horizontal.offset, horizontal.rows, height, noise)
    reading.f_rows = timing.row_sweep(segments, rows)
    timing.set_jumps(reading, offsets, width)
    edges = np.float32([[0, 0], [width, 0], [width, height], [0, height]])
    corners = cv2.perspectiveTransform(edges[None], to_photo)[0].astype(float)
    return Window(name, group, width, height, group is None, corners, to_photo, v, photo_y,
                  vertical, horizontal, reading, disagree * (width - 9), shared=shared,
                  panel_black=black, bar_light=black + level)


def _bars_in_band(image, to_photo, width, height, columns, rows, band):
    """The vertical bar read from the columns of the sampling grid within band only, with the
    panel's black, the bars' light and the rows' levels from every bars.LEVEL_STEP-th column
    (as a reading of the whole grid takes them): (vertical bar, levels, light, black, v, photo
    y), or None where the band does not hold the bar, or the bar read does not stand clear of
    the band's ends (it moved further than foreseen), when the whole width is to be read.
    A band of None is taken about where those sparse columns show the bar."""
    step = bars.LEVEL_STEP
    sparse, _, v, photo_y = rectify.sample(image, to_photo, width, height, columns, rows,
                                           step=step)
    sparse, level, black = lit_samples(sparse, step)
    levels = bars.row_levels(sparse, 1)
    per_pixel = columns / width
    if band is None:
        band = _band_about_bar(sparse, per_pixel, step)
    first = max(int(np.floor(band[0] * per_pixel)), 0)
    stop = min(int(np.ceil(band[1] * per_pixel)), columns)
    near, _, _, _ = rectify.sample(image, to_photo, width, height, columns, rows, first,
                                   stop - first)
    near -= black
    if np.median(near.max(axis=1)) < BAND_LIT_SHARE * level:
        return None  # no bar in the band: read from noise, it would stand anywhere
    vertical = bars.read_vertical_bar(near, width, level, levels, per_pixel, first)
    read = vertical.offset[~np.isnan(vertical.offset)]
    if len(read) < rows / 2:
        return None
    clear = bars.SEARCH_PX / 2
    low = band[0] <= 0 or np.median(read) - band[0] >= clear
    high = band[1] >= width or band[1] - np.median(read) - BAR >= clear
    return (vertical, levels, level, black, v, photo_y) if low and high else None


def _band_about_bar(sparse, per_pixel, step):
    """The stretch of the window's width (u from, u to, window pixels) within which the
    vertical bar is looked for, about where it stands in most rows of sparse: samples of every
    step-th column of a grid of per_pixel columns per window pixel."""
    box = bars.box_filter(sparse, max(1, int(round(BAR * per_pixel / step))))
    centre = (step * np.median(np.argmax(box, axis=1)) + 0.5) / per_pixel
    reach = BAR / 2 + bars.SEARCH_PX + BAR
    return centre - reach, centre + reach


def _size_from_bars(image, to_photo, width, height, photo_points, shared, per_pixel):
    """Corrects an assumed window size by the bars' thickness, where the photo shows them wide
    enough to measure (sampled per_pixel per photo pixel): a bar is BAR window pixels thick."""
    columns, rows = rectify.grid_size(to_photo, width, height, per_pixel)
    samples, _, _, _ = rectify.sample(image, to_photo, width, height, columns, rows)
    lit, level, _ = lit_samples(samples)
    measured = bars.read_vertical_bar(lit, width, level).width
    across, _ = rectify.photo_extent(to_photo, width, height)
    thickness = np.nanmedian(measured) if np.any(~np.isnan(measured)) else np.nan
    if not thickness > 0 or BAR * across / width < 4:
        return width, height, to_photo
    scale = BAR / thickness
    width, height = int(round(width * scale)), int(round(height * scale))
    return width, height, rectify.window_to_photo(
        photo_points, locate.frame_points(width, height, shared))


def _direction(windows, refresh_ms):
    """The sweep's direction from the breaks of all windows, 0 when they do not tell."""
    total = 0.0
    for window in (w for w in windows if w.reliable):
        sign, weight = timing.direction_vote(window.breaks, refresh_ms)
        total += sign * weight * (1 if window.newer_above else -1)
    return int(np.sign(total))


def _read_ms(readout_ms, photo_y, photo_height):
    """When the camera read each of the photo rows, from the top of the photo."""
    return (readout_ms or 0.0) * np.clip(np.asarray(photo_y, float) / photo_height, 0.0, 1.0)


def _time_windows(result, photo_height):
    """Content lead, lag, scan-out position and the kind of every break, for every window."""
    refresh = result.refresh_ms
    for window in result.windows:
        turn = 1 if window.newer_above else -1
        boundary = timing.classify_breaks(window.breaks, window.direction * turn, refresh)
        f_rows = window.reading.f_rows
        window.f = float(np.nanmean(f_rows))
        read = _read_ms(result.readout_ms, window.photo_y, photo_height)
        fraction = boundary_read = None
        if boundary is not None:
            fraction = boundary.row / window.height
            boundary_read = float(read[min(boundary.index, len(read) - 1)])
            window.scan = timing.scan_position(fraction, boundary_read, 0.0, refresh)
        window.lead_ms, window.start_doubt_ms = timing.content_lead_ms(
            f_rows, window.direction or 1, read, fraction, boundary_read, refresh,
            window.newer_above)
        if boundary is None and timing.smeared_into_ramp(window.vertical.offset,
                                                         window.breaks,
                                                         _frame_px(window, refresh)):
            window.warnings.append("the scan-out boundary is smeared over the window's rows (a "
                                   "long shutter): its position is not known, and the steps "
                                   "in it are not taken for tears")
            for found in window.breaks:
                found.kind = "unsure"
        if boundary is None and not window.breaks and window.reliable:
            window.scan_arc = _unseen_scan_arc(window, read, refresh)
        if not window.reliable:
            window.lead_ms, window.scan = float("nan"), None
            for found in window.breaks:
                found.kind = "unsure"
    _lag_within_clocks(result.windows, refresh)


def _least_whole_ms(window, refresh_ms):
    """The least jump (ms of the sweep) a window's scan-out boundary is read as: a refresh's
    motion less what its reading may fall short by, WHOLE_SHARE of it or JUMP_ERROR_PHOTO_PX,
    whichever is less, and no less than timing.PART_OF_REFRESH of it. A jump between that and
    PART_OF_REFRESH may be the boundary or a tear of most of a refresh (a window swapping
    every 10 ms on a 75 Hz display shows those)."""
    across, _ = rectify.photo_extent(window.to_photo, window.width, window.height)
    frame_photo_px = _frame_px(window, refresh_ms) * across / window.width
    share = min(WHOLE_SHARE, 1.0 - JUMP_ERROR_PHOTO_PX / frame_photo_px)
    return max(timing.PART_OF_REFRESH, share) * refresh_ms


def _unseen_scan_arc(window, read_ms, refresh_ms):
    """The scan positions that a window showing no break leaves open (timing.unseen_scan_arc),
    where a scan-out boundary in its rows would have shown: its bars jump by a refresh's full
    motion well above what counts as a break (not at a turn of the sweep, where it folds
    back), and every stretch of its rows shows one frame (timing.rows_without_boundary).
    None elsewhere."""
    frame_px = _frame_px(window, refresh_ms)
    across, _ = rectify.photo_extent(window.to_photo, window.width, window.height)
    smallest = max(timing.MIN_JUMP_PX, MIN_JUMP_PHOTO_PX * window.width / across)
    if frame_px < SEEN_JUMP_SHARE * smallest or \
            min(window.f, 1 - window.f) * (window.width - 9) < frame_px + BAR:
        return None
    rows = timing.rows_without_boundary(window.vertical.offset, frame_px)
    if rows is None:
        return None
    span = slice(rows[0], rows[1] + 1)
    return timing.unseen_scan_arc(window.v[span] / window.height, read_ms[span], 0.0,
                                  refresh_ms)


def _lag_within_clocks(windows, refresh_ms):
    """Each window's lag behind the leader of its clock. Windows of one machine share its
    clock; machines whose bars stand far apart in time run on clocks of their own, between
    which a lag means nothing."""
    leads = [w.lead_ms if w.reliable else float("nan") for w in windows]
    numbers = machines.clocks([w.machine for w in windows], leads)
    for window in windows:
        window.clock = numbers[window.machine]
    for clock in set(numbers.values()):
        members = [w for w in windows if w.clock == clock]
        reference = next((w.lead_ms for w in members if w.reliable), float("nan"))
        relative = {id(w): float(wrapped(w.lead_ms - reference, PERIOD_MS)) for w in members}
        leading = max((w for w in members if w.reliable), key=lambda w: relative[id(w)],
                      default=None)
        leader = relative[id(leading)] if leading is not None else float("nan")
        doubts = {id(w): _lead_doubt(w) for w in members}
        for window in members:
            window.lag_ms = leader - relative[id(window)]
            window.lag_frames = window.lag_ms / refresh_ms
            if leading is not None and window is not leading:
                window.lag_doubt_ms = float(np.hypot(doubts[id(window)], doubts[id(leading)]))
                window.lag_start_doubt_ms = float(np.hypot(window.start_doubt_ms,
                                                           leading.start_doubt_ms))
        _surest_lags(members, relative, doubts)


def _surest_lags(members, relative, doubts):
    """For each window judged, the window it is surest to be behind (see
    verdict.surest_behind): a leader read roughly leaves a lag behind it in doubt that a
    window read sharply settles."""
    judged = [w for w in members if w.reliable]
    surest = verdict.surest_behind([relative[id(w)] for w in judged],
                                   [doubts[id(w)] for w in judged])
    for window, found in zip(judged, surest):
        window.surest_lag = None if found is None else (*found[:2], judged[found[2]].name)


def _lead_doubt(window):
    """How far a window's content lead may be off, ms: as its bars are read, and as the start
    of the refresh on show is known."""
    across, _ = rectify.photo_extent(window.to_photo, window.width, window.height)
    outline_px = OUTLINE_ERROR_PX if all(window.sides_traced) else COARSE_OUTLINE_ERROR_PX
    return float(np.hypot(lead_doubt_ms(window.bars_disagree_px, window.width, across,
                                        outline_px), window.start_doubt_ms))


def _warn(result, photo_height):
    for window in result.windows:
        window.warnings += _window_warnings(window, result.refresh_ms)
    heights = [w.centre[1] for w in result.windows]
    if result.readout_ms is None and len(heights) > 1 and \
            np.ptp(heights) > READOUT_HEIGHT_SHARE * photo_height:
        result.warnings.append("windows lie at different heights in the photo: their lags and "
                               "scan positions carry the camera's readout time (give --readout)")
    if not result.sign_known:
        result.warnings.append("no scan-out boundary seen: the sign of the lags is unknown, "
                               "only their sizes")


def _window_warnings(window, refresh_ms):
    warnings = []
    if not window.reliable:
        warnings.append(f"the bars read through the outline found stray {window.doubt_px:.0f} "
                        "pixels from the pattern: the outline is wrong (glare, or frame lines "
                        "too faint); no lag or scan position is given")
    rows = len(window.v)
    smear = max((b.band_rows for b in window.breaks), default=0)
    if smear > 0.05 * window.height:
        warnings.append(f"exposure spanned part of a refresh: a break is smeared over "
                        f"{smear} rows (a shutter of about "
                        f"{smear / window.height * refresh_ms:.1f} ms or longer)")
    across, _ = rectify.photo_extent(window.to_photo, window.width, window.height)
    scale = across / window.width
    widths = window.vertical.width
    if scale >= 1.0 and np.any(~np.isnan(widths)) and np.nanmedian(widths) > BAR + 3:
        warnings.append(f"bars {np.nanmedian(widths):.0f} pixels wide, not {BAR}: the exposure "
                        "spanned more than one frame")
    if np.mean(window.vertical.clipped) > 0.3 or window.horizontal.clipped:
        warnings.append("a bar runs into the window's edge: its position there is less exact")
    hidden = np.mean(window.vertical.hidden) - (window.horizontal.rows[1]
                                                - window.horizontal.rows[0]) / rows
    if hidden > 0.15:
        warnings.append(f"the vertical bar cannot be seen in {hidden:.0%} of the rows "
                        "(glare or reflection)")
    if np.isnan(window.horizontal.offset):
        warnings.append("the horizontal bar cannot be seen")
    if window.bars_disagree_px > 2.0:
        warnings.append(f"the two bars disagree by {window.bars_disagree_px:.1f} pixels")
    frame_px = _frame_px(window, refresh_ms)
    error_px = np.hypot(0.15 / scale, 0.3)
    if frame_px / 4 < 2 * error_px:
        warnings.append(f"one frame moves the bar {frame_px:.1f} window pixels, "
                        f"{frame_px * scale:.1f} photo pixels: too little to read the lag to a "
                        "quarter of a frame")
    return warnings


def _judge(result):
    judgement = result.judgement = verdict.Judgement()
    refresh_ms = result.refresh_ms
    for name in result.missing:
        judgement.unsettled.append(verdict.Unsettled(
            f"window {name} was not found in the photo",
            "check that it is in the picture whole, and that the groups are the tool's "
            "command line"))
    for name in result.unreadable:
        judgement.unsettled.append(verdict.Unsettled(
            f"window {name} was found but its bars cannot be read",
            "take the photo closer, with less glare on that display"))
    extra = [w.name for w in result.windows if w.name.startswith("?")]
    if extra:
        judgement.unsettled.append(verdict.Unsettled(
            f"{len(extra)} window(s) in the photo match no group given",
            "give the groups of every window the photo shows"))
    judged = [w for w in result.windows if w.reliable]
    turning = [w.name for w in judged if _at_turn(w)]
    for window in result.windows:
        if not window.reliable:
            judgement.unsettled.append(verdict.Unsettled(
                f"window {window.name} cannot be judged: its outline could not be traced "
                "with certainty", "take the photo closer or squarer to the wall, with less "
                "glare on that display"))
    if turning:
        judgement.unsettled.append(verdict.Unsettled(
            f"the bars of window(s) {', '.join(turning)} stand at a turn of the sweep: there a "
            "window frames behind may show its bars where one in step does, and a scan-out "
            "boundary's jump folds back, so the windows' lags, tears and scan-out positions "
            "cannot be read", TURN_ADVICE))
        return
    may_tear = False
    for window in result.windows:
        may_tear = _judge_content(judgement, window, refresh_ms) or may_tear
    _judge_scans(judgement, judged)
    _judge_clocks(judgement, judged)
    if not any(_may_lag(w, refresh_ms) for w in judged):
        across = "" if len({w.clock for w in judged}) < 2 else " of each clock"
        judgement.settled.append(f"all {len(judged)} window(s) judged show the same frame"
                                 f"{across}: every lag is under {MAX_LAG_FRAMES} frame")
    if not any(w.tears for w in judged) and not may_tear:
        judgement.settled.append("no window tears")


def _judge_content(judgement, window, refresh_ms):
    """Judges what a window's bars show: its lag behind the others and its tears. Returns
    whether a scan-out boundary of it may be a tear (_judge_short_boundary)."""
    surest = window.surest_lag
    if surest is not None and surest[0] - surest[1] >= MAX_LAG_FRAMES * refresh_ms and (
            window.lag_ms - window.lag_doubt_ms < MAX_LAG_FRAMES * refresh_ms):
        judgement.faults.append(f"window {window.name} is {surest[0] / refresh_ms:.2f} "
                                f"frames ({surest[0]:.1f} ms) behind window {surest[2]}")
    else:
        verdict.judge_behind(
            judgement, f"window {window.name} is {window.lag_frames:.2f} frames "
            f"({window.lag_ms:.1f} ms) behind", window.lag_ms, window.lag_doubt_ms,
            MAX_LAG_FRAMES * refresh_ms, *_lag_doubt_cause(window))
    if window.tears:
        judgement.faults.append(f"window {window.name} tears ({len(window.tears)} tear(s))")
    short = _judge_short_boundary(judgement, window, refresh_ms)
    cut = _judge_cut_changes(judgement, window)
    return _judge_boundary_way_changes(judgement, window) or cut or short


def _judge_cut_changes(judgement, window):
    """Changes of content cut off by a window's top or bottom (timing.mark_blends_at_edges):
    their size is not known, so each may be a tear, and where the window shows no tear
    otherwise, whether it tears is not settled. Returns whether that is so."""
    cut = [b for b in window.breaks if b.kind == "unsure" and b.cut]
    if not window.reliable or window.tears or not cut:
        return False
    judgement.unsettled.append(verdict.Unsettled(
        f"window {window.name} shows {len(cut)} change(s) of content that run into its top or "
        "bottom (rows there blend two frames), of a size not known: each may be a tear, so "
        "whether the window tears is not known",
        "take another photo with a shutter of 1/1000 s or faster"))
    return True


def _judge_boundary_way_changes(judgement, window):
    """Changes of content the scan-out boundary's way besides the boundary (see
    timing.classify_breaks): the display does not show them, so they are the boundary blurred
    into steps or misread, and a tear may lie hidden in them. Where the window shows no tear
    otherwise, whether it tears is not settled. Returns whether that is so."""
    steps = [b for b in window.breaks if b.kind == "unsure" and b.boundary_way and not b.cut]
    if not window.reliable or window.tears or not steps:
        return False
    judgement.unsettled.append(verdict.Unsettled(
        f"window {window.name} shows {len(steps)} change(s) of content the way of its scan-out "
        "boundary besides the boundary, which a display does not show: the boundary blurred "
        "into steps by the exposure, or misread; a tear may hide in them, so whether the "
        "window tears is not known",
        "take another photo with a shutter of 1/1000 s or faster"))
    return True


def _at_turn(window):
    """Whether a window's bars stand where the sweep turns: within TURN_MARGIN of either end,
    a few refreshes' motion, so that content a few frames apart may lie either side of the
    turn."""
    return min(window.f, 1 - window.f) < TURN_MARGIN


def _judge_short_boundary(judgement, window, refresh_ms):
    """A scan-out boundary read as a jump well short of a refresh's motion (_least_whole_ms),
    and not smeared, may be a tear: whether the window tears is then not settled. Returns
    whether that is so."""
    boundary = next((b for b in window.breaks if b.kind == "scan"), None)
    if not window.reliable or boundary is None or boundary.smeared or \
            boundary.jump_ms >= _least_whole_ms(window, refresh_ms):
        return False
    judgement.unsettled.append(verdict.Unsettled(
        f"window {window.name}'s scan-out boundary jumps by only "
        f"{boundary.jump_ms / refresh_ms:.2f} of a refresh's motion: it may be a tear (a swap "
        "during scan-out), so whether the window tears is not known",
        "take another photo with a shutter of 1/1000 s or faster, closer, so that the "
        "boundary shows sharp and its jump is read to a fraction of a refresh"))
    return True


def _lag_doubt_cause(window):
    """Why a window's lag is in doubt, and what to do about it: the scale of its bars, or the
    start of a refresh on show that no scan-out boundary shows."""
    if window.lag_start_doubt_ms ** 2 >= window.lag_doubt_ms ** 2 / 2:
        return "as no scan-out boundary tells when the refreshes on show began", START_ADVICE
    return SCALE_CAUSE, SCALE_ADVICE


def _may_lag(window, refresh_ms):
    return verdict.may_be_behind(window.lag_ms, window.lag_doubt_ms, MAX_LAG_FRAMES * refresh_ms)


def _judge_clocks(judgement, judged):
    """Machines whose bars follow clocks of their own: their lag cannot be told."""
    for clock in sorted({w.clock for w in judged} - {0}):
        names = sorted({clock_owner(w) for w in judged if w.clock == clock})
        runs = "runs on a clock of its own" if len(names) == 1 else "run on a clock of their own"
        judgement.unsettled.append(verdict.Unsettled(
            f"{' and '.join(names)} {runs}: whether the same frame shows there as on the "
            "others cannot be told, only scan-out positions are compared", CLOCK_ADVICE))


def clock_owner(window):
    """Whose clock a window's bars follow, for the summary: its machine's, or its own."""
    return f"machine {window.machine}" if window.machine else f"window {window.name}"


def clock_notes(windows):
    """For lags measured across machines: that they hold how far the clocks disagree."""
    notes = []
    for clock in sorted({w.clock for w in windows}):
        names = sorted({w.machine for w in windows if w.clock == clock})
        if len(names) > 1:
            notes.append(f"machines {', '.join(names)} are on one clock: the lag across them "
                         "includes how far their clocks disagree (see the time service's own "
                         "figures)")
    return notes


def _judge_scans(judgement, judged):
    """Windows refresh in step as far as their scan-out positions show it. A window that shows
    no boundary where one would show was blanking or scanning near its top or bottom, which
    leaves its position on an arc (scan_arc): out of step with the others wherever on it, in
    step wherever, or not settled. With more than one window, one whose position is not known
    at all leaves it unsettled, and so does a photo in which no window shows its boundary (the
    pattern may not have changed frame at all)."""
    scans = [w.scan for w in judged if w.scan is not None]
    arcs = [w.scan_arc for w in judged if w.scan is None and w.scan_arc is not None]
    least, most = timing.spread_bounds(scans, arcs)
    if least > MAX_SCAN_SPREAD:
        at_least = " at least" if arcs else ""
        judgement.faults.append(f"scan-out positions differ by{at_least} {least:.2f} of a "
                                "refresh: the displays do not refresh in step")
        return
    if len(judged) < 2:
        return
    advice = ("take another photo: one that falls in a display's blanking interval shows no "
              "boundary, and a shutter of 1/1000 s or faster keeps the boundary sharp")
    if not scans:
        judgement.unsettled.append(verdict.Unsettled(
            "no window shows its scan-out boundary, so whether the displays refresh in step "
            "is not known", advice))
        return
    for window in judged:
        if window.scan is None and window.scan_arc is None:
            judgement.unsettled.append(verdict.Unsettled(
                f"window {window.name} shows no scan-out boundary (its display was blanking, "
                "or the boundary lies too near its top or bottom), so whether it refreshes in "
                "step with the others is not known", advice))
        elif window.scan is None and most > MAX_SCAN_SPREAD:
            start, end = window.scan_arc_ends
            judgement.unsettled.append(verdict.Unsettled(
                f"window {window.name} shows no scan-out boundary: its display was blanking or "
                f"scanning near its top or bottom, at {start:.2f} to {end:.2f} of a refresh, "
                "so whether it refreshes in step with the others is not known", advice))
    if len(scans) + len(arcs) == len(judged) and most <= MAX_SCAN_SPREAD:
        unseen = " (those without a boundary blanking)" if arcs else ""
        judgement.settled.append(f"scan-out positions agree to {most:.2f} of a refresh"
                                 f"{unseen}")


def sweep_times_s(window, direction):
    """The times within the sweep (seconds) that the window's sweep position stands for: one
    when the direction is known, both candidates otherwise."""
    down, back = times_in_sweep_ms(window.f)
    if direction < 0:
        return [down / 1000]
    if direction > 0:
        return [back / 1000]
    return [down / 1000, back / 1000]
