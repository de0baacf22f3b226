"""Analyses a video of displays running the tool: reads every frame as a photo is read,
following the windows found once (and found again when the camera moves or the pattern comes
into the picture), then joins the readings over time: each window's offset from the leading
window, its refresh timeline and drift, its stutters and tears, and the verdict, over the whole
video and for every second of it.
"""

import functools
from dataclasses import dataclass, field

import cv2
import numpy as np
from numpy.lib.stride_tricks import sliding_window_view

from analyser import (bars, course, locate, machines, pattern, photo, rectify, timing, verdict,
                      video_workers)
from analyser.pattern import BAR, PERIOD_MS, SWEEP_PER_MS

# Brightness keeps every pixel sharp, so fewer samples per video pixel than a photo's greenness
# needs read the bars as well, at less work per frame.
SAMPLES_PER_PIXEL = (1.5, 1.0)
# While a window is missing or lost, windows are looked for again this often: more often in
# the video's first second, where a window whose bars lie on its frame lines (at a turn of the
# sweep) is to be found soon after they leave.
SEARCH_EVERY_MS = 500.0
SEARCH_EARLY_MS = (250.0, 1000.0)  # how often, and until when
LOST_FRAMES = 3  # a window not read this many frames running is looked for again
# A window looked for again is taken to be where a search finds it only when that outline
# stands within half its size of where it was, with sides within this share of their lengths:
# a frame whose bars run along the frame lines may give a search an outline across two windows.
REFOUND_SHARE = 0.1
# A window read in the frame before keeps its outline where a search's corners stand further
# than this share of its diagonal from it: one of the two is wrong, and a search just after a
# turn of the sweep, the bars by a frame line, can be (an outline 25 video pixels off, read
# through for 600 ms). Nearer, the search's fresh outline is taken.
REPLACED_SHARE = 0.01
# Compression and the outline's error bend a bar by a pixel or two over the rows of one frame, so
# a tear must jump by more than that, away from the window's top and bottom; and a window must
# show tears in this share of its frames to be found tearing.
TEAR_MIN_PX = 2.0
NEAR_SIDE_PX = 10.0
CLEAR_SIDES = 0.15  # boundaries with this share of rows on either side tell the refresh period
TEAR_ROWS = (0.05, 0.95)
TEARING_SHARE = 0.3
# Frames this many refreshes after the start of a stutter show it, not the window's offset.
STUTTER_REFRESHES = 4
MISREAD_REFRESHES = 3  # a frame's offset this far from the window's median is misread
# A single frame's offset is read to a few ms (whole bar pixels): a window is behind at a frame
# when the median over this many frames around it is.
OFFSET_FRAMES = 9
# A refresh timeline that a camera readout not known may put this many refreshes off over the
# video is not followed: its refreshes would be told wrong, and held frames invented.
MAX_READOUT_DRIFT = 0.25
HELD_FRAMES_ADVICE = ("film closer and at more frames per second, with a short exposure, so "
                      "that every window shows its scan-out boundary and its content finely")
# A followed window's vertical bar is looked for within the stretch of its width that the
# sweep can have taken it to since it was read last, and this many refreshes more.
BAND_REFRESHES = 3
GREEN_FLOOR = 6.0  # greenness (of 255) that no grey wall shows: the pattern is near
OUTLINE_REACH_PX = 2
OUTLINE_MARGIN = 0.05  # of the windows' extent: how far beyond them sides are looked for


class NothingToRead(photo.NothingToRead):
    """The video holds no pattern that can be read."""


@dataclass
class Tracked:
    name: str
    group: tuple  # the tool's arguments, or the size estimated from the first sighting
    size_estimated: bool
    corners: np.ndarray
    shared: tuple  # sides shared with a neighbour that abuts
    seen: course.Course = field(default_factory=course.Course)
    lost: int = 0
    top_y: list = field(default_factory=list)  # photo y of the window's top, per frame read
    bottom_y: list = field(default_factory=list)
    lean_px: list = field(default_factory=list)  # per frame read: photo.Window.bars_lean_px
    # Where its vertical bar last stood (window pixels, its median offset), and when
    bar_at: tuple = None

    def bar_band(self, moment_ms, refresh_ms):
        """The stretch of the window's width (u from, u to) in which its vertical bar stands
        at moment_ms: as far either way of where it last stood as the sweep moves it since,
        and over a few refreshes more (the rows of a frame show up to two or three refreshes
        apart), and as far again as a reading looks about its typical place. None where it was
        not read last."""
        if self.bar_at is None or self.lost:
            return None
        offset, then = self.bar_at
        speed = (self.group[2] - 9) * SWEEP_PER_MS
        reach = bars.SEARCH_PX + BAR + speed * (moment_ms - then + BAND_REFRESHES * refresh_ms)
        return offset - reach, offset + BAR + reach

    def found_at(self, corners):
        """Follows the window from the outline a search found."""
        self.corners, self.lost = corners, 0

    def could_be_at(self, corners):
        """Whether an outline a search found can be this window's, where it was read."""
        if not self.seen.moments:
            return True
        if not self.lost:
            diagonal = np.linalg.norm(self.corners[2] - self.corners[0])
            return bool(np.abs(corners - self.corners).max() <= REPLACED_SHARE * diagonal)
        sides, before = _side_lengths(corners), _side_lengths(self.corners)
        moved = np.linalg.norm(corners.mean(axis=0) - self.corners.mean(axis=0))
        return bool(moved <= 0.5 * before.min() and np.all(
            np.abs(sides - before) <= REFOUND_SHARE * before))

    def request(self, moment_ms, refresh_ms):
        """What reading the window in the frame at moment_ms needs."""
        return Request(self.name, self.group, self.corners, self.shared,
                       self.bar_band(moment_ms, refresh_ms), refresh_ms)

    def record(self, moment_ms, sighting):
        """Keeps what the frame at moment_ms showed of the window (a Sighting, or None where
        it was not read)."""
        if sighting is None:
            self.lost += 1
            return
        self.lost = 0
        if sighting.corners is not None:
            self.corners = sighting.corners
        self.seen.moments.append(moment_ms)
        self.seen.segments.append(sighting.segments)
        self.seen.breaks.append(sighting.breaks)
        self.top_y.append(sighting.top_y)
        self.bottom_y.append(sighting.bottom_y)
        self.lean_px.append(sighting.lean_px)
        self.bar_at = None if np.isnan(sighting.bar_u) else (sighting.bar_u, moment_ms)


@dataclass
class Request:
    """A followed window to be read in a frame: where it was, and where its vertical bar may
    stand now (see Tracked.bar_band)."""
    name: str
    group: tuple
    corners: np.ndarray
    shared: tuple
    band: tuple
    refresh_ms: float


@dataclass
class Sighting:
    """The few figures of a window read in a frame that its course needs."""
    corners: np.ndarray  # its outline, None where it is not to be followed from it
    # per stretch of rows showing one frame: row (of the window's height), photo y, sweep
    # position (nan where not read) and share of the window's rows
    segments: np.ndarray
    breaks: list  # per scan-out boundary: row, photo y, jump (sweep position), smeared
    top_y: float  # photo y of the window's top and bottom
    bottom_y: float
    lean_px: float  # photo.Window.bars_lean_px
    bar_u: float  # the vertical bar's median offset, window pixels; nan where none was read


def _sighting(window):
    rows = len(window.v)
    segments = []
    for segment in window.reading.segments:
        middle = min((segment.start + segment.end) // 2, rows - 1)
        segments.append((window.v[middle] / window.height, window.photo_y[middle],
                         segment.f if not np.isnan(segment.offset) else np.nan,
                         (segment.end - segment.start) / rows))
    breaks = [(b.row / window.height, window.photo_y[min(b.index, rows - 1)], b.jump_f,
               b.smeared) for b in window.breaks]
    offsets = window.vertical.offset[~np.isnan(window.vertical.offset)]
    # A window's outline is followed from frame to frame; but where a bar runs along a frame
    # line (at a turn of the sweep) a side may be traced onto the bar, and followed from there
    # it would go away with the bar.
    corners = None if _bar_along_a_side(window) else window.corners
    return Sighting(corners, np.array(segments, float).reshape(-1, 4), breaks,
                    float(window.corners[:2, 1].mean()), float(window.corners[2:, 1].mean()),
                    window.bars_lean_px, float(np.median(offsets)) if len(offsets) else np.nan)


def _bar_along_a_side(window):
    """Whether the bars (photo.Window) lie within a side's tracing reach of the frame lines."""
    offsets = window.vertical.offset[~np.isnan(window.vertical.offset)]
    f = pattern.sweep_from_offset(np.median(offsets), window.width) if len(offsets) else 0.0
    across, down = rectify.photo_extent(window.to_photo, window.width, window.height)
    for size, extent in ((window.width, across), (window.height, down)):
        reach = max(locate.SIDE_SEARCH_PX, locate.SIDE_SEARCH * extent) * size / extent + BAR
        if min(f, 1 - f) * (size - 9) < reach:
            return True
    return False


def _side_lengths(corners):
    return np.linalg.norm(corners - np.roll(corners, -1, axis=0), axis=1)


class FollowedReader:
    """Reads followed windows, frame by frame, keeping the arrays it writes into from one frame
    to the next. Windows may be read by several of these, in worker processes."""

    def __init__(self):
        self.buffers = _Buffers()

    def __call__(self, frame, request):
        """The Sighting of the window that request names in frame (BGR), or None where the
        window cannot be read there. Windows once found have their bars read from brightness,
        not greenness: video stores colour at half the resolution and compresses it hard,
        which bends a thin bar by pixels, while its brightness keeps every pixel. Inside a
        window only the pattern is lit; the wall around it may be too, and is kept out of the
        maps its frame lines are traced on."""
        box = _box_around(request.corners, frame.shape[:2])
        gray, brightness = self._brightness(frame, box)
        maps, origin = _outline_maps(frame, gray, box, self.buffers)
        trace = functools.partial(_traced_in_box, origin=origin)
        outline = locate.Outline(request.corners, request.shared)
        window = photo.read_window(maps, brightness, outline, request.name, request.group,
                                   SAMPLES_PER_PIXEL, trace, request.band)
        if window is None or photo.outline_doubt_px(window, request.refresh_ms) > \
                window.max_doubt_px:
            return None
        return _sighting(window)

    def _brightness(self, frame, box):
        """The frame's brightness over box (both as whole-frame arrays, only box written):
        uint8 and float32."""
        size = frame.shape[:2]
        gray = self.buffers.get("gray", size, np.uint8)
        brightness = self.buffers.get("brightness", size, np.float32)
        cv2.cvtColor(frame[box], cv2.COLOR_BGR2GRAY, dst=gray[box])
        np.copyto(brightness[box], gray[box])
        return gray, brightness


def _box_around(corners, shape):
    """The box (a pair of slices, rows and columns) of a frame of shape (height, width) that a
    followed window whose corners (4 x 2, photo x, y) are given is read in: with room for its
    sides to have moved, and for the bars and windows that its frame lines are told from."""
    low, high = corners.min(axis=0), corners.max(axis=0)
    margin = OUTLINE_MARGIN * (high - low).max() + locate.PAIR_REACH_PX
    height, width = shape
    left, top = np.maximum(np.floor(low - margin).astype(int), 0)
    right, bottom = np.minimum(np.ceil(high + margin).astype(int) + 1, (width, height))
    return slice(top, bottom), slice(left, right)


def _outline_maps(frame, gray, box, buffers):
    """The two maps a followed window's frame lines are traced on (see
    locate.refine_corners_on_either), float32, over box (see _box_around), and the box's
    top-left corner (x, y) in the frame: brightness where the pattern's green lies within
    OUTLINE_REACH_PX, and brightness weighted by greenness (their product scaled back to
    0 .. 255), greenness as locate.line_greenness has it. A frame line keeps the sharpness of
    brightness (colour is stored at half the resolution) and the first map places it best;
    but a lit wall or bezel that abuts the line, grey, lies within the green's reach as the
    colour blurs onto it, and traced on the first map a side crept out onto the wall's edge,
    pixels off. The second map weights the wall out. gray is the frame's brightness (uint8);
    the maps are views of buffers (a _Buffers), good until the next window's are made."""

    def box_of(name, dtype):
        return buffers.get(name, gray.shape, dtype)[box]

    excess = locate.line_green_excess(frame[box], box_of("excess", np.uint8))
    reach = 2 * OUTLINE_REACH_PX + 1
    near = cv2.dilate(excess, np.ones((reach, reach), np.uint8), dst=box_of("near", np.uint8))
    # near is 255 where the green is near and 0 elsewhere, so that ANDed with it brightness
    # is kept there and 0 elsewhere.
    cv2.compare(near, GREEN_FLOOR, cv2.CMP_GE, dst=near)
    inside = gray[box]
    sharp = box_of("sharp", np.float32)
    np.copyto(sharp, cv2.bitwise_and(inside, near, dst=near))
    weighted = cv2.multiply(inside, excess, scale=1 / 255, dtype=cv2.CV_32F,
                            dst=box_of("weighted", np.float32))
    rows, columns = box
    return (sharp, weighted), np.array([columns.start, rows.start], float)


class _Buffers:
    """Arrays kept from frame to frame to be written into, one per name: memory allocated
    afresh for every frame (tens of MB at 1080p) costs the system a page fault for every 4 kB
    of it, a quarter of the reading's time."""

    def __init__(self):
        self.arrays = {}

    def get(self, name, shape, dtype):
        array = self.arrays.get(name)
        if array is None or array.shape != shape or array.dtype != dtype:
            array = self.arrays[name] = np.empty(shape, dtype)
        return array


def _traced_in_box(maps, outline, size, origin):
    """locate.refine_corners_on_either for an outline in frame coordinates, on maps that cover
    a box of the frame from origin (x, y). (The window's size is not needed.)"""
    inside = locate.Outline(outline.corners - origin, outline.shared, outline.traced)
    traced = locate.refine_corners_on_either(maps, inside)
    return locate.Outline(traced.corners + origin, traced.shared, traced.traced)


class Reader:
    """Reads frame after frame, keeping per window only the few figures the course needs.
    With a pool (a video_workers.Pool), followed windows are read on its workers once they
    have started: the same readings as here alone, sooner."""

    def __init__(self, groups, refresh_hz, readout_ms, pool=None):
        self.groups, self.refresh_hz, self.readout_ms = list(groups), refresh_hz, readout_ms
        self.windows = {}
        self.last_search = -np.inf
        self.frames = 0
        self.frame_height = None
        self.first_seen = self.last_seen = None
        self.follow = FollowedReader()
        self.pool = pool

    def read(self, moment_ms, frame):
        self.frames += 1
        self.frame_height = frame.shape[0]
        if self._should_search(moment_ms):
            self._search(moment_ms, frame)
        if not self.windows:
            return
        refresh_ms = 1000.0 / self.refresh_hz
        tracked = list(self.windows.values())
        requests = [t.request(moment_ms, refresh_ms) for t in tracked]
        for window, sighting in zip(tracked, self._sightings(frame, requests)):
            window.record(moment_ms, sighting)
        if any(not t.lost for t in tracked):
            self.first_seen = moment_ms if self.first_seen is None else self.first_seen
            self.last_seen = moment_ms

    def _sightings(self, frame, requests):
        if self.pool is not None and len(requests) > 1 and self.pool.ready():
            return self.pool.read(frame, requests, self.follow)
        return [self.follow(frame, request) for request in requests]

    def _should_search(self, moment_ms):
        missing = not self.windows or (self.groups and len(self.windows) < len(self.groups))
        lost = any(t.lost >= LOST_FRAMES for t in self.windows.values())
        early, until = SEARCH_EARLY_MS
        gap = early if moment_ms < until else SEARCH_EVERY_MS
        # Searches keep to whole gaps of the video's clock, not to gaps from the last one.
        return (missing or lost) and moment_ms // gap > self.last_search // gap \
            or not self.windows and self.last_search == -np.inf

    def _search(self, moment_ms, frame):
        self.last_search = moment_ms
        try:
            found = photo.analyse(frame, self.groups, self.refresh_hz, self.readout_ms)
        except photo.NothingToRead:
            return
        for window in found.windows:
            if not window.reliable:
                continue
            name = window.name if window.group is not None else self._name_of(window)
            if name not in self.windows:
                group = window.group or (0, 0, window.width, window.height, "?")
                self.windows[name] = Tracked(name, group, window.size_estimated,
                                             window.corners, window.shared)
            if self.windows[name].could_be_at(window.corners):
                self.windows[name].found_at(window.corners)

    def _name_of(self, window):
        """A window found without groups keeps the name of the one it stands where, or gets the
        next number."""
        for name, tracked in self.windows.items():
            size = np.linalg.norm(tracked.corners[2] - tracked.corners[0])
            if np.linalg.norm(tracked.corners.mean(axis=0) - window.centre) < 0.25 * size:
                return name
        return str(len(self.windows) + 1)


@dataclass
class WindowCourse:
    """One window's figures over the video."""
    name: str
    group: tuple
    size_estimated: bool
    moments: np.ndarray  # frames read, ms
    leads: np.ndarray  # per frame: content time less its refresh's start (tool minus video)
    tears: np.ndarray  # per frame: tears seen
    timeline: course.Timeline = None
    stutters: list = field(default_factory=list)
    refreshes_seen: float = 0.0
    lag_scatter: float = float("nan")  # refreshes; held frames are told where it is small
    tearing: bool = False
    clock: int = 0  # windows with the same number run on one clock
    leader: str = ""
    offsets: np.ndarray = None  # per frame of moments, ms behind its clock's leader
    offset_ms: float = float("nan")
    offset_spread_ms: float = float("nan")
    # How far its content times may be off (ms), for an outline off by as much as its bars
    # lean or a quarter of a video pixel; and so its offset from the leader.
    lead_doubt_ms: float = 0.0
    offset_doubt_ms: float = 0.0
    drift: float = None  # refreshes per second relative to the reference window
    drift_error: float = None
    # refreshes per second that a camera readout not known may put its refresh rate off by
    readout_drift: float = 0.0
    slips: list = field(default_factory=list)
    swap_locked: bool = None
    lone_stutters: list = field(default_factory=list)
    readout_ms: float = None  # the camera's readout estimated from this window

    @property
    def refresh_ms(self):
        return self.timeline.refresh_ms if self.timeline else None

    @property
    def tears_per_s(self):
        if not len(self.tears):
            return 0.0
        return float(np.mean(self.tears)) * 1000.0 / (self.refresh_ms or 1000.0 / 60)

    @property
    def held_frames_unplaced(self):
        """Whether it holds frames that no other window could show it to share or not."""
        return bool(self.stutters) and self.swap_locked is None

    @property
    def in_step(self):
        """Whether its refresh keeps step with the reference window's (no drift shown)."""
        return self.drift is None or abs(self.drift) <= max(3 * self.drift_error, 0.002)

    def scan_at(self, moments):
        return self.timeline.scan(moments) if self.timeline else None

    @property
    def machine(self):
        return machines.machine_of(self.group) if self.group else ""


@dataclass
class VideoResult:
    windows: list
    refresh_hz: float
    readout_ms: float
    readout_source: str  # "given", "estimated" or "unknown, taken as 0"
    frames: int
    duration_ms: float
    missing: list
    reference: str = ""  # the window drift and scan positions are measured against
    judgement: verdict.Judgement = field(default_factory=verdict.Judgement)
    lost: list = field(default_factory=list)  # (start, duration) in ms where sync was lost
    # per second: (start s, in sync: True, False or None where it cannot be told, reasons)
    seconds: list = field(default_factory=list)
    warnings: list = field(default_factory=list)

    @property
    def verdict(self):
        return self.judgement.answer

    @property
    def in_sync(self):
        return self.judgement.in_sync

    @property
    def reasons(self):
        return self.judgement.reasons


def analyse(frames, groups=(), refresh_hz=60.0, readout_ms=None, progress=None, pool=None):
    """Everything a video tells. frames yields (index, moment in ms, BGR frame). pool: worker
    processes to read windows on (a video_workers.Pool; see Reader and start_workers)."""
    reader = Reader(groups, refresh_hz, readout_ms, pool)
    count = 0
    last_moment = 0.0
    # The frames are read on one core, and decoded on another: OpenCV's own threads, each
    # given a share of operations that take a fraction of a millisecond, cost more in waking
    # and waiting than they save (a 1080p frame of two windows took 43 ms of processor time
    # with them, 27 without).
    threads = cv2.getNumThreads()
    cv2.setNumThreads(1)
    try:
        for index, moment, frame in frames:
            reader.read(moment, frame)
            count, last_moment = index + 1, moment
            if progress:
                progress.update(count)
    finally:
        cv2.setNumThreads(threads)
    if progress:
        progress.finish()
    if count == 0:
        raise NothingToRead("the video holds no frames")
    tracked = [t for t in reader.windows.values() if len(t.seen.moments) >= 3]
    if not tracked:
        raise NothingToRead("no test pattern found in the video")
    frame_ms = last_moment / max(count - 1, 1)
    nominal_ms = 1000.0 / refresh_hz
    source = "given"
    courses = [_window_course(t, nominal_ms, readout_ms, reader.frame_height)
               for t in tracked]
    if readout_ms is None:
        readout_ms = _readout_estimate(courses)
        source = "unknown, taken as 0" if readout_ms is None else "estimated"
        if readout_ms is not None:
            courses = [_window_course(t, nominal_ms, readout_ms, reader.frame_height)
                       for t in tracked]
    courses = _timed_by_another(courses, tracked, nominal_ms, readout_ms, reader.frame_height)
    names = {t.name for t in tracked}
    missing = [machines.group_name(g) for g in groups if machines.group_name(g) not in names]
    result = VideoResult(courses, refresh_hz, readout_ms or 0.0, source, count,
                         last_moment + frame_ms, missing)
    _relate(result, frame_ms)
    result.warnings += photo.clock_notes(result.windows)
    _judge(result, frame_ms)
    if reader.first_seen is not None and reader.first_seen > 1000.0:
        result.warnings.append(f"the pattern first shows {reader.first_seen / 1000:.1f} s "
                               "into the video")
    if reader.last_seen is not None and last_moment - reader.last_seen > 1000.0:
        result.warnings.append(f"the pattern leaves the picture {reader.last_seen / 1000:.1f} "
                               "s into the video")
    return result


def start_workers(count, frame_shape, ring):
    """A video_workers.Pool of count processes reading followed windows in frames of
    frame_shape, with ring frames of shared memory to decode into (see analyse)."""
    return video_workers.Pool(count, frame_shape, FollowedReader(), ring)


def _segment_table(tracked, readout_ms, frame_height):
    """All stretches of all frames as columns: frame number, row fraction, read moment,
    sweep position, share of rows."""
    table = []
    for number, (moment, segments) in enumerate(zip(tracked.seen.moments,
                                                    tracked.seen.segments)):
        for row, photo_y, f, share in segments:
            read = moment + readout_ms * np.clip(photo_y / frame_height, 0, 1)
            table.append((number, row, read, f, share))
    return np.array(table, float).reshape(-1, 5)


def _boundaries(tracked, contents, table, nominal_ms, readout_ms, frame_height):
    """The scan-out boundary of every frame that shows one: (frame, row fraction, read moment,
    content of the newer refresh, jump ms, share of rows on its smaller side), and the tears of
    every frame. At the boundary the
    content jumps by a refresh; the newer refresh is above it unless the camera reads the
    window more slowly than the display scans it."""
    frames = table[:, 0].astype(int)
    starts = np.searchsorted(frames, np.arange(len(tracked.seen.moments)))
    tear_min_ms = TEAR_MIN_PX / ((tracked.group[2] - 9) * SWEEP_PER_MS)
    candidates, tears = [], np.zeros(len(tracked.seen.moments))
    for number, (moment, breaks) in enumerate(zip(tracked.seen.moments,
                                                  tracked.seen.breaks)):
        first = starts[number]
        for index, (row, photo_y, _, smeared) in enumerate(breaks):
            above, below = contents[first + index], contents[first + index + 1]
            jump = above - below
            read = moment + readout_ms * np.clip(photo_y / frame_height, 0, 1)
            whole = abs(jump) >= timing.PART_OF_REFRESH * nominal_ms or smeared
            # The smaller of the two stretches it divides: a jump read next to a sliver of
            # rows is rough.
            sides = min(table[first + index, 4], table[first + index + 1, 4])
            candidates.append((number, row, read, max(above, below), jump, whole, sides))
    whole = [c for c in candidates if c[5] and not np.isnan(c[4])]
    sign = 1.0 if sum(np.sign(c[4]) for c in whole) >= 0 else -1.0
    boundaries = {}
    for number, row, read, newer, jump, is_whole, sides in candidates:
        if is_whole and sign * jump > 0 and (number not in boundaries or
                                             abs(jump) > abs(boundaries[number][4])):
            boundaries[number] = (number, row, read, newer, abs(jump), sides)
    for number, row, read, newer, jump, _, _ in candidates:
        boundary = number in boundaries and boundaries[number][1] == row
        if not boundary and abs(jump) >= tear_min_ms and TEAR_ROWS[0] <= row <= TEAR_ROWS[1]:
            tears[number] += 1
    rows = np.array(list(boundaries.values()), float).reshape(-1, 6)
    return rows[np.argsort(rows[:, 0])], tears


def _window_course(tracked, nominal_ms, readout_ms, frame_height, borrowed=None):
    """The window's course; readout_ms is the camera's time to read a frame from top to bottom,
    None where it is not known (taken as 0). borrowed: another window's refresh timeline, by
    which the refreshes on show are timed where this window shows no scan-out boundary to
    fit its own to."""
    known_readout, readout_ms = readout_ms is not None, readout_ms or 0.0
    table = _segment_table(tracked, readout_ms, frame_height)
    moments = np.asarray(tracked.seen.moments, float)
    offset = course.clock_offset_ms(table[:, 2], table[:, 3])
    contents = course.content_times(table[:, 2], table[:, 3], offset)
    # Near a turn of the sweep the two legs give nearly the same f: which one is uncertain;
    # and the bar, beside the window's side, is read together with its frame line.
    turning = np.minimum(table[:, 3], 1 - table[:, 3]) < _turn_margin(tracked)
    contents[turning] = np.nan
    boundaries, tears = _boundaries(tracked, contents, table, nominal_ms, readout_ms,
                                    frame_height)
    result = WindowCourse(tracked.name, tracked.group, tracked.size_estimated, moments,
                          np.full(len(moments), np.nan), tears)
    result.tearing = bool(np.mean(tears > 0) > TEARING_SHARE)
    result.lead_doubt_ms = _lead_doubt_ms(tracked)
    from_jumps = course.refresh_ms_from_jumps(boundaries[boundaries[:, 5] >= CLEAR_SIDES, 4],
                                              nominal_ms)
    # Boundaries seen once a camera frame line up with more than one period (a 30 fps camera
    # sees 75 Hz and 105 Hz refreshes alike): the nominal one is taken where it fits, the one
    # the jumps give (read to a few ms, a window whose outline is off misreads them) only where
    # it does not.
    for guess in dict.fromkeys((nominal_ms, from_jumps)):
        result.timeline = _timeline(boundaries, guess)
        if result.timeline is not None:
            break
    heights = np.median(np.subtract(tracked.bottom_y, tracked.top_y))
    if result.timeline is not None and not known_readout:
        off = course.readout_drift(boundaries[:, 2], boundaries[:, 1], result.timeline,
                                   heights / frame_height, moments)
        if off > MAX_READOUT_DRIFT:
            result.timeline = None
        else:
            result.readout_drift = off * 1000.0 / max(moments[-1] - moments[0], 1.0)
    period = result.refresh_ms or nominal_ms
    window_readout = course.readout_of_window_ms(
        moments[boundaries[:, 0].astype(int)], boundaries[:, 1], boundaries[:, 3], period) \
        if len(boundaries) else None
    if window_readout is None and result.timeline is None and not known_readout:
        window_readout = course.readout_lining_up(
            boundaries[:, 2], boundaries[:, 1], nominal_ms,
            float(np.median(np.diff(moments))) * heights / frame_height)
    if window_readout is not None and heights > 0:
        result.readout_ms = window_readout * frame_height / heights
    timing_by = result.timeline or borrowed
    if timing_by is None:
        started = table[:, 2] - period  # no boundary seen: the refresh on show began about
    else:                               # a refresh ago
        started = timing_by.refresh_start(table[:, 2], table[:, 1])
    leads = contents - started
    frames = table[:, 0].astype(int)
    weights = np.where(np.isnan(leads), 0.0, table[:, 4])
    total = np.bincount(frames, weights, len(moments))
    summed = np.bincount(frames, np.nan_to_num(leads) * weights, len(moments))
    result.leads = np.where(total > 0, summed / np.maximum(total, 1e-9), np.nan)
    if result.timeline is not None and not result.tearing:
        # Held frames are told from the leads as they would be read in an outline without
        # error: the error's creep along a leg of the sweep would scatter them, and its jump
        # at a turn look like a lasting change of lag.
        steady = contents - course.sweep_error_ms(contents, contents - started, table[:, 3])
        result.lag_scatter = course.lag_scatter(started, steady, period)
        if not result.lag_scatter > course.MAX_LAG_SCATTER:
            result.stutters = course.stutters(started, steady, period)
        result.refreshes_seen = course.refreshes_seen(started, period, moments[0],
                                                      moments[-1])
    return result


def _timed_by_another(courses, tracked, nominal_ms, readout_ms, frame_height):
    """The courses, those of windows that show no scan-out boundary read again with the
    refreshes on show timed by the timeline fitted to the most boundaries of another window,
    where that keeps their leads closer together. Their content is then measured against the
    refreshes that window shows when read at the same moments, which for displays in step
    leaves their offsets what their content says; timed as a refresh before each frame was
    read, their leads swing with the moment of the refresh each frame catches (by half a
    refresh where a 30 fps camera films 75 Hz). A display at another rate drifts through the
    timeline borrowed, and its leads spread further."""
    timelines = [c.timeline for c in courses if c.timeline is not None]
    if not timelines:
        return courses
    borrowed = max(timelines, key=lambda t: t.boundaries)
    timed = []
    for own, window in zip(courses, tracked):
        if own.timeline is None:
            again = _window_course(window, nominal_ms, readout_ms, frame_height, borrowed)
            own = again if _spread(again.leads) < _spread(own.leads) else own
        timed.append(own)
    return timed


def _spread(leads):
    """How widely leads (ms) spread: their interquartile range, infinite where none is read."""
    if not np.any(~np.isnan(leads)):
        return np.inf
    low, high = np.nanpercentile(leads, [25, 75])
    return high - low


def _timeline(boundaries, guess):
    """The refresh timeline through the boundaries, its period looked for near guess; None
    where they do not line up. A boundary's refresh began when its row was read, less the row's
    share of a refresh: fitted once with the rough period, once more with the period found."""
    timeline = None
    for within in (0.12, 0.01):
        refresh_starts = boundaries[:, 2] - course.row_delay_ms(boundaries[:, 1], guess)
        timeline = course.fit_timeline(refresh_starts, guess, within)
        if timeline is None:
            return None
        guess = timeline.refresh_ms
    return timeline


def _turn_margin(tracked):
    """The share of the sweep at either end in which the vertical bar lies within
    NEAR_SIDE_PX video pixels of the window's side: blur and compression spread the frame
    line's light over the bar there."""
    across, _ = rectify.quad_extent(tracked.corners)
    width = tracked.group[2]
    return max(photo.TURN_MARGIN, (BAR + NEAR_SIDE_PX * width / max(across, 1.0)) / (width - 9))


def _lead_doubt_ms(tracked):
    across, _ = rectify.quad_extent(tracked.corners)
    # Over many frames the bars' disagreement from noise evens out; an outline that is off
    # leans one way.
    return photo.lead_doubt_ms(abs(np.median(tracked.lean_px)), tracked.group[2], across)


def _readout_estimate(courses):
    estimates = [c.readout_ms for c in courses if c.readout_ms is not None]
    return float(np.clip(np.median(estimates), 0.0, 1000.0)) if estimates else None


def _relate(result, frame_ms):
    """Clocks, leaders and offsets; drift and slips against the reference window; which
    windows stutter alone."""
    windows = result.windows
    medians = {w.name: float(np.nanmedian(w.leads)) for w in windows}
    # The windows of a machine named share its clock; without names each window may have one.
    keys = [w.machine or w.name for w in windows]
    numbers = machines.clocks(keys, [medians[w.name] for w in windows])
    for window, key in zip(windows, keys):
        window.clock = numbers[key]
    # A window that tears shows content of no particular refresh, and one without a timeline
    # has no refresh to measure against: either leads its clock only when nothing else can.
    ranked = sorted(windows, key=lambda w: (w.tearing or w.timeline is None, -medians[w.name]))
    clocks = [[w for w in ranked if w.clock == number] for number in sorted(set(numbers.values()))]
    for members in clocks:
        leader = members[0]
        for window in members:
            window.leader = leader.name
            _offsets(window, leader)
    reference = max(clocks, key=len)[0]
    result.reference = reference.name
    for window in windows:
        _drift(window, reference, frame_ms)
    _swap_lock(windows, frame_ms)


def _near_stutter(window, moments):
    if not window.stutters:
        return np.zeros(len(moments), bool)
    period = window.refresh_ms or 1000.0 / 60
    starts = np.array([s.moment_ms for s in window.stutters])
    since = moments[:, None] - starts[None, :]
    return np.any((since >= -period) & (since <= STUTTER_REFRESHES * period), axis=1)


def _offsets(window, leader):
    common, here, there = np.intersect1d(window.moments, leader.moments, return_indices=True)
    offsets = np.full(len(window.moments), np.nan)
    difference = course.wrapped(leader.leads[there] - window.leads[here], PERIOD_MS)
    offsets[here] = difference
    window.offsets = offsets
    window.offset_doubt_ms = 0.0 if window is leader else float(
        np.hypot(window.lead_doubt_ms, leader.lead_doubt_ms))
    # Frames around stutters show them, not the offset; a frame far off the rest is misread.
    refresh = window.refresh_ms or 1000.0 / 60
    typical = np.nanmedian(offsets) if np.any(~np.isnan(offsets)) else 0.0
    quiet = ~np.isnan(offsets) & ~_near_stutter(window, window.moments) & \
        ~_near_stutter(leader, window.moments)
    quiet &= np.abs(np.nan_to_num(offsets - typical)) < MISREAD_REFRESHES * refresh
    if quiet.any():
        window.offset_ms = float(np.mean(offsets[quiet]))
        window.offset_spread_ms = float(np.std(offsets[quiet]))


def _drift(window, reference, frame_ms):
    # A tearing window's breaks are mostly its own swaps, not the scan-out: no timeline to trust.
    if window.timeline is None or reference.timeline is None or window.tearing:
        return
    mine, theirs = window.timeline, reference.timeline
    window.drift = mine.refresh_hz - theirs.refresh_hz
    # Each rate is read to its fit's error, and to what a camera readout not known may do.
    window.drift_error = float(np.linalg.norm([
        1000 * mine.refresh_error_ms / mine.refresh_ms ** 2,
        1000 * theirs.refresh_error_ms / theirs.refresh_ms ** 2, window.readout_drift,
        reference.readout_drift]))
    if window is reference or window.in_step or abs(window.drift) >= 1.0:
        return
    moments = np.arange(window.moments[0], window.moments[-1], min(frame_ms, 5.0))
    relative = np.mod(mine.scan(moments) - theirs.scan(moments), 1.0)
    window.slips = course.slips(moments, relative)


def _tells_held_frames(window):
    """Whether a window's frames show its held frames: its refresh followed, no tearing, and
    its content read finely enough (a window too rough for that holds frames unseen)."""
    return window.timeline is not None and not window.tearing and \
        not window.lag_scatter > course.MAX_LAG_SCATTER


def _swap_lock(windows, frame_ms):
    """A stutter that every other window shows at the same refresh is one of a swap-locked
    group; a window that stutters alone is not locked to the others. A window that never
    stutters does not tell, nor one whose held frames cannot be seen."""
    judged = [w for w in windows if _tells_held_frames(w)]
    if not any(w.stutters for w in judged) or len(judged) < 2:
        return
    for window in judged:
        tolerance = max(frame_ms, 1.5 * (window.refresh_ms or 0))
        window.lone_stutters = [
            s for s in window.stutters
            if not all(any(abs(o.moment_ms - s.moment_ms) <= tolerance for o in other.stutters)
                       for other in judged if other is not window)]
    for window in judged:
        if window.stutters:
            window.swap_locked = not window.lone_stutters


def _running_median(values, count):
    """The median of each value and its neighbours, count in all (NaN left out)."""
    half = count // 2
    padded = np.pad(np.asarray(values, float), half, mode="edge")
    windows = sliding_window_view(padded, 2 * half + 1)
    unread = np.all(np.isnan(windows), axis=1)
    windows = np.where(unread[:, None], 0.0, windows)
    return np.nanmedian(windows, axis=1)


def _frame_faults(result, frame_ms):
    """Per moment of the video's frames: the reasons it is not in sync (empty when it is)."""
    moments = np.unique(np.concatenate([w.moments for w in result.windows]))
    faults = [set() for _ in moments]
    scans = []
    for window in result.windows:
        index = np.searchsorted(moments, window.moments)
        refresh = window.refresh_ms or 1000.0 / result.refresh_hz
        if window.offsets is not None:
            behind = _running_median(window.offsets, OFFSET_FRAMES) - window.offset_doubt_ms \
                >= photo.MAX_LAG_FRAMES * refresh
            for i in index[behind]:
                faults[i].add(f"window {window.name} behind")
        for i in index[(window.tears > 0) & window.tearing]:
            faults[i].add(f"window {window.name} tears")
        for stutter in window.lone_stutters:
            hit = np.abs(moments - stutter.moment_ms) <= frame_ms
            for i in np.nonzero(hit)[0]:
                faults[i].add(f"window {window.name} stutters alone")
        if window.timeline is not None:
            scans.append(window.timeline.scan(moments))
    if len(scans) > 1:
        scans = np.array(scans)
        for i in range(len(moments)):
            if timing.circular_spread(scans[:, i]) > photo.MAX_SCAN_SPREAD:
                faults[i].add("scan-out positions differ")
    return moments, faults


def _judge(result, frame_ms):
    moments, faults = _frame_faults(result, frame_ms)
    bad = np.array([bool(f) for f in faults])
    result.lost = course.runs(bad, moments, frame_ms)
    judgement = verdict.Judgement()
    for name in result.missing:
        judgement.unsettled.append(verdict.Unsettled(
            f"window {name} was not found in the video",
            "check that it is in the picture whole, and that the groups are the tool's "
            "command line"))
    for window in result.windows:
        refresh = window.refresh_ms or 1000.0 / result.refresh_hz
        verdict.judge_behind(
            judgement, f"window {window.name} is {window.offset_ms / refresh:.2f} frames "
            f"({window.offset_ms:.1f} ms) behind on average", window.offset_ms,
            window.offset_doubt_ms, photo.MAX_LAG_FRAMES * refresh, photo.SCALE_CAUSE,
            photo.SCALE_ADVICE)
        if window.clock != 0 and window.leader == window.name:
            judgement.unsettled.append(verdict.Unsettled(
                f"{photo.clock_owner(window)} runs on a clock of its own: whether it shows "
                "the same frame as the others cannot be told, only its scan position, drift "
                "and stutters are compared", photo.CLOCK_ADVICE))
        if window.tearing:
            judgement.faults.append(f"window {window.name} tears ({window.tears_per_s:.1f} "
                                    "per s)")
        if not window.in_step:
            judgement.faults.append(f"window {window.name} drifts by {window.drift:+.3f} "
                                    "refreshes per s against the others")
        if window.lag_scatter > course.MAX_LAG_SCATTER:
            judgement.unsettled.append(verdict.Unsettled(
                f"window {window.name}'s content is read only to {window.lag_scatter:.2f} of a "
                "refresh a frame here, too roughly to tell a frame held: whether it stutters "
                "cannot be told", photo.SCALE_ADVICE))
        if window.lone_stutters:
            judgement.faults.append(f"window {window.name} stutters alone "
                                    f"({len(window.lone_stutters)} time(s))")
        elif window.held_frames_unplaced and len(result.windows) > 1:
            judgement.unsettled.append(verdict.Unsettled(
                f"window {window.name} holds frames ({len(window.stutters)} time(s)), and no "
                "other window shows whether it holds them too: whether it stutters alone "
                "cannot be told", HELD_FRAMES_ADVICE))
        elif window.held_frames_unplaced:
            judgement.faults.append(f"window {window.name} stutters "
                                    f"({len(window.stutters)} time(s))")
    if any("scan-out positions differ" in f for f in faults):
        judgement.faults.append("scan-out positions differ by more than "
                                f"{photo.MAX_SCAN_SPREAD} of a refresh")
    _judge_refresh(judgement, result.windows)
    _settled(judgement, result.windows, 1000.0 / result.refresh_hz)
    result.judgement = judgement
    unsettled = bool(judgement.unsettled)
    for second in range(int(np.ceil(result.duration_ms / 1000.0))):
        inside = (moments >= 1000 * second) & (moments < 1000 * (second + 1))
        reasons = sorted(set().union(*[faults[i] for i in np.nonzero(inside)[0]]))
        state = False if reasons else (None if unsettled or not inside.any() else True)
        result.seconds.append((second, state, reasons))


def _offsets_settled(windows, nominal_ms):
    return not any(verdict.may_be_behind(w.offset_ms, w.offset_doubt_ms, photo.MAX_LAG_FRAMES * (
        w.refresh_ms or nominal_ms)) for w in windows)


def _judge_refresh(judgement, windows):
    """Whether the displays refresh in step is settled only where the frames show each one's
    scan-out boundary, so that its refresh can be followed."""
    followed = [w for w in windows if w.timeline is not None]
    advice = ("film the displays with a camera, not a screen recording (which copies whole "
              "frames, and so never shows a scan-out), at an exposure of 1/1000 s or "
              "shorter, and as many frames per second as the camera gives")
    if not followed and len(windows) > 1:
        judgement.unsettled.append(verdict.Unsettled(
            "no frame shows a scan-out boundary in any window, so whether the displays "
            "refresh in step cannot be told", advice))
        return
    for window in windows:
        if window.timeline is None and len(windows) > 1:
            judgement.unsettled.append(verdict.Unsettled(
                f"window {window.name} shows no scan-out boundary in any frame, so whether it "
                "refreshes in step with the others cannot be told", advice))


def _settled(judgement, windows, nominal_ms):
    """What the video shows to be in sync."""
    if _offsets_settled(windows, nominal_ms):
        across = "" if len({w.clock for w in windows}) < 2 else " of each clock"
        judgement.settled.append(f"all {len(windows)} window(s) show the same frame{across}: "
                                 f"every offset is under {photo.MAX_LAG_FRAMES} frame")
    followed = [w for w in windows if w.timeline is not None]
    if len(followed) > 1 and all(w.in_step for w in followed) and not any(
            "scan-out positions differ" in f for f in judgement.faults):
        judgement.settled.append(f"{len(followed)} windows refresh in step")
    if not any(w.tearing for w in windows):
        judgement.settled.append("no window tears")
    if all(_tells_held_frames(w) and not w.lone_stutters and not w.held_frames_unplaced
           for w in windows):
        judgement.settled.append("no window stutters alone")
