"""The camera model's videos: displays that refresh at rates and phases of their own, whose
presentation lag changes and whose frames now and then stay up for more refreshes than one, seen
by a shaking video camera with a rolling shutter, whose sensor bins or skips pixels to make
its smaller video frames, encoded to H.264 by ffmpeg.

Times are milliseconds of the video's clock; a display's tool draws its frames for its own clock,
clock_offset_ms ahead of the video's.
"""

import math
import subprocess
from dataclasses import dataclass, field

import cv2
import numpy as np

from analyser.pattern import BAR, EDGE, bar_offset, sweep
from camera import (BLANKING, Camera, Display, _breaks, _optics, _wall, paint_window,
                    place_window, wall_to_photo)


def _in_effect(changes, initial, times):
    """The value in effect at each of the times: initial, then each (from_ms, value) of changes
    (sorted) from its moment on."""
    value = np.full(np.shape(times), initial, float)
    for moment, changed in changes:
        value = np.where(np.asarray(times) >= moment, changed, value)
    return value


@dataclass
class VideoDisplay(Display):
    phase_changes: list = field(default_factory=list)  # (from ms, new phase_ms)
    lag_changes: list = field(default_factory=list)  # (from ms, new lag_frames)
    # (ms, refreshes): the first refresh from that moment on, and as many after it as given
    # less one, still show the frame before.
    holds: list = field(default_factory=list)

    def scan_start(self, time_ms):
        period = self.refresh_ms
        phase = _in_effect(self.phase_changes, self.phase_ms, time_ms)
        return phase + np.floor((time_ms - phase) / period) * period

    def shown_refresh(self, start):
        """The refresh (by its start) whose frame is on show in the refresh that began at
        start: itself, or an earlier one while a frame is held."""
        period = self.refresh_ms
        shown = np.array(start, float)
        for moment, count in self.holds:
            first = float(self.scan_start(np.array(moment + period - 1e-6)))
            held = (start >= first - 1e-6) & (start < first + count * period - 1e-6)
            shown = np.where(held, first - period, shown)
        return shown

    def content_time(self, rows, time_ms):
        period = self.refresh_ms
        row_delay = (rows + 0.5) / self.height * period * (1.0 - BLANKING)
        start = self.scan_start(time_ms - row_delay)
        if self.swap_interval_ms > 0:
            scanned = start + row_delay
            swaps = np.floor((scanned - self.swap_phase_ms) / self.swap_interval_ms)
            drawn = self.swap_phase_ms + swaps * self.swap_interval_ms
            return drawn - self.lag_frames * period + self.clock_offset_ms
        shown = self.shown_refresh(start)
        lag = _in_effect(self.lag_changes, self.lag_frames, shown)
        return shown - lag * period + self.clock_offset_ms

    def refresh_starts(self, begin_ms, end_ms):
        """Every refresh start from begin_ms to end_ms."""
        period = self.refresh_ms
        starts = [float(self.scan_start(np.array(begin_ms)))]
        while starts[-1] < end_ms:
            following = starts[-1] + period
            starts.append(float(self.scan_start(np.array(following + 1e-6))))
        return np.array(starts)


@dataclass
class VideoCamera(Camera):
    fps: float = 60.0
    duration_s: float = 4.0
    shake_px: float = 0.0  # the camera's wander, photo pixels (a random walk, held within it)
    crf: int = 20  # H.264 quality: 0 lossless, 23 ffmpeg's default
    # How the sensor makes a video frame of fewer pixels than it has: "bin" sums each video
    # pixel's area; "skip" reads one sensor pixel in SKIP_FACTOR across and down, so that a
    # video pixel sees only a small spot of its area (and a thin line may fall between).
    sampling: str = "bin"

    @property
    def frames(self):
        return int(round(self.duration_s * self.fps))


@dataclass
class VideoTruth:
    names: list
    stutters: dict  # name: moments (ms) of the first refresh that did not show a new frame
    leads: np.ndarray  # frames x displays: content time less its refresh's start
    scans: np.ndarray  # frames x displays: scan fraction at the frame's moment
    tears: np.ndarray  # frames x displays: tears a frame shows
    frame_ms: np.ndarray  # the moment each frame's exposure began (top row)


def truth_stutters(display, begin_ms, end_ms):
    """Moments of the refreshes at which a window's content did not move on by one refresh:
    a frame held (no change) or one skipped (two refreshes of change), each run of such
    refreshes counted once at its first."""
    if display.swap_interval_ms > 0:
        return []
    starts = display.refresh_starts(begin_ms - 50, end_ms)
    rows = np.zeros(len(starts))
    content = display.content_time(rows, starts + 0.01 * display.refresh_ms)
    step = np.diff(content) / display.refresh_ms
    wrong = np.abs(step - np.round(step)) < 0.25
    wrong &= np.round(step) != 1
    moments = []
    for index in np.nonzero(wrong)[0]:
        moment = starts[index + 1]
        if not (begin_ms <= moment < end_ms):
            continue
        if moments and moment - moments[-1] <= 3 * display.refresh_ms:
            continue
        moments.append(moment)
    return moments


SKIP_FACTOR = 3  # a skipping sensor reads one pixel in this many across and down


def _render_small(display, row_times_of, photo_size, exposure_ms, per_pixel=1.3):
    """The window's light over the exposure on a grid per_pixel times finer than the photo's
    view of it (never finer than its own pixels), with each content row sampled at its middle;
    and the grid's pixel size in window pixels."""
    columns = int(min(display.width, max(16, math.ceil(per_pixel * photo_size[0]))))
    rows = int(min(display.height, max(16, math.ceil(per_pixel * photo_size[1]))))
    sx, sy = display.width / columns, display.height / rows
    column_low = np.arange(columns) * sx
    row_low = np.arange(rows) * sy
    middle = row_low + sy / 2 - 0.5
    times = row_times_of(middle)
    steps = int(min(12, max(1, math.ceil(exposure_ms / 0.35))))
    light = np.zeros((rows, columns), np.float32)
    for step in range(steps):
        f = sweep(display.content_time(middle, times + exposure_ms * (step + 0.5) / steps))
        left = bar_offset(f, display.width)[:, None]
        vertical = np.clip(np.minimum(column_low + sx, left + BAR)
                           - np.maximum(column_low, left), 0, None) / sx
        top = display.height - bar_offset(f, display.height) - BAR
        horizontal = np.clip(np.minimum(row_low + sy, top + BAR) - np.maximum(row_low, top),
                             0, None) / sy
        light += 1 - (1 - vertical) * (1 - horizontal[:, None])
    light /= steps
    frame_x = (np.clip(np.minimum(column_low + sx, EDGE) - column_low, 0, None)
               + np.clip(column_low + sx - np.maximum(column_low, display.width - EDGE), 0,
                         None)) / sx
    frame_y = (np.clip(np.minimum(row_low + sy, EDGE) - row_low, 0, None)
               + np.clip(row_low + sy - np.maximum(row_low, display.height - EDGE), 0,
                         None)) / sy
    light = 1 - (1 - light) * (1 - frame_x[None, :]) * (1 - frame_y[:, None])
    return light.astype(np.float32), (sx, sy)


def _fast_normal(shape):
    noise = np.empty(shape, np.float32)
    cv2.randn(noise, 0.0, 1.0)
    return noise


def _shake(rng, shake_px, previous):
    if not shake_px:
        return np.zeros(2)
    step = previous + rng.normal(0, shake_px / 3, 2)
    return np.clip(step, -shake_px, shake_px)


def film(displays, camera, path, start_ms=0.0):
    """Records the video to path (H.264 in MP4 through ffmpeg) and returns its truth."""
    rng = np.random.default_rng(camera.seed)
    cv2.setRNGSeed(camera.seed)
    width, height = camera.photo_size
    homography, positions = wall_to_photo(displays, camera)
    wall = _wall(camera, rng)
    encoder = subprocess.Popen(
        ["ffmpeg", "-y", "-loglevel", "error", "-f", "rawvideo", "-pix_fmt", "bgr24",
         "-s", f"{width}x{height}", "-r", f"{camera.fps:g}", "-i", "-", "-c:v", "libx264",
         "-preset", "veryfast", "-crf", str(camera.crf), "-pix_fmt", "yuv420p", path],
        stdin=subprocess.PIPE)
    count = camera.frames
    leads, scans, tears = (np.zeros((count, len(displays))) for _ in range(3))
    frame_ms = start_ms + np.arange(count) * 1000.0 / camera.fps
    shake = np.zeros(2)
    try:
        for index, moment in enumerate(frame_ms):
            shake = _shake(rng, camera.shake_px, shake)
            moved = np.array([[1, 0, shake[0]], [0, 1, shake[1]], [0, 0, 1]]) @ homography
            light = wall.copy()
            for number, (display, position) in enumerate(zip(displays, positions)):
                to_photo, corners = place_window(light, display, moved, position, camera)

                def row_times(rows, to_photo=to_photo, display=display):
                    centres = np.column_stack([np.full(len(rows), display.width / 2),
                                               rows + 0.5]).astype(np.float32)
                    photo_rows = cv2.perspectiveTransform(centres[None], to_photo)[0][:, 1]
                    return moment + camera.readout_ms * np.clip(photo_rows / height, 0, 1)

                sides = np.linalg.norm(corners - np.roll(corners, -1, axis=0), axis=1)
                size = ((sides[0] + sides[2]) / 2, (sides[1] + sides[3]) / 2)
                # A skipping sensor samples through a spot a sensor pixel wide: the content
                # at that fineness, warped in without shrinking it by area first.
                fineness = SKIP_FACTOR if camera.sampling == "skip" else 1.3
                content, pixel = _render_small(display, row_times, size, camera.exposure_ms,
                                               fineness)
                paint_window(light, content, to_photo, corners, camera, pixel,
                             per_pixel=max(2, fineness))
                all_rows = np.arange(display.height, dtype=float)
                middle = row_times(all_rows) + camera.exposure_ms / 2
                leads[index, number] = display.lead_ms(all_rows, middle)
                scans[index, number] = display.scan_fraction(moment + camera.exposure_ms / 2)
                tears[index, number] = sum(kind == "tear" for _, kind, jump in
                                           _breaks(display, middle) if jump >= 1)
            encoder.stdin.write(_optics(light, camera, rng, _fast_normal).tobytes())
    finally:
        encoder.stdin.close()
        encoder.wait()
    end = frame_ms[-1] + 1000.0 / camera.fps
    stutters = {d.name: truth_stutters(d, start_ms, end) for d in displays}
    return VideoTruth([d.name for d in displays], stutters, leads, scans, tears, frame_ms)
