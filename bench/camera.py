"""A camera model that photographs a wall of displays running the tool, from known truth.

Each display scans its rows out from the top to the bottom once per refresh, with a short
vertical blanking interval, and shows at every row the frame that was newest when the scan last
passed it. A vsync'd window presents a frame at every refresh whose content time (the clock
reading the tool drew it for) lies `lag_frames` refreshes before that refresh began; a tearing
window swaps on its own cadence whenever a frame is done, also during scan-out. The camera sees
the wall plane through a pinhole with yaw, pitch and roll, exposes every photo row for the
exposure time starting at its rolling-shutter moment, and adds what real photos have: bezels
(none, for panels that abut), the panels' black level and colour cross-talk, glare (a highlight
or a long reflection across several panels), vignetting, lens distortion and chromatic
aberration, blur, exposure that may clip, sensor noise, a Bayer mosaic, the camera's tone curve
and sharpening, and JPEG.

Times are in milliseconds of the tool's clock; photo coordinates have pixel centres at whole
numbers; window coordinates have the window's outline at 0 .. width and 0 .. height.
"""

import math
from dataclasses import dataclass, field

import cv2
import numpy as np

from analyser.pattern import BAR, EDGE, bar_offset, sweep

BLANKING = 0.045  # fraction of a refresh spent in vertical blanking (1125 lines for 1080)


@dataclass
class Display:
    """One display of the wall, showing one window of the tool that fills it."""
    x: int
    y: int
    width: int
    height: int
    mode: str = "V"
    refresh_hz: float = 60.0
    phase_ms: float = 0.0  # a moment at which a refresh begins (row 0 starts scanning)
    lag_frames: float = 0.0  # content time of a presented frame, refreshes before its refresh
    swap_interval_ms: float = 0.0  # > 0: the window swaps every this often, tearing
    swap_phase_ms: float = 0.0
    clock_offset_ms: float = 0.0  # the window's clock ahead of the shared one (another machine)

    @property
    def refresh_ms(self):
        return 1000.0 / self.refresh_hz

    @property
    def group(self):
        return (self.x, self.y, self.width, self.height, self.mode)

    @property
    def name(self):
        return f"{self.x},{self.y}"

    def scan_start(self, time_ms):
        """When the refresh that was scanning out (or blanking) at time_ms began."""
        period = self.refresh_ms
        return self.phase_ms + np.floor((time_ms - self.phase_ms) / period) * period

    def content_time(self, rows, time_ms):
        """The content time shown at window rows (array) at the moments time_ms (same shape)."""
        period = self.refresh_ms
        row_delay = (rows + 0.5) / self.height * period * (1.0 - BLANKING)
        scanned = self.scan_start(time_ms - row_delay) + row_delay
        if self.swap_interval_ms > 0:
            swaps = np.floor((scanned - self.swap_phase_ms) / self.swap_interval_ms)
            drawn = self.swap_phase_ms + swaps * self.swap_interval_ms
        else:
            drawn = scanned - row_delay
        return drawn - self.lag_frames * period + self.clock_offset_ms

    def presented(self, rows, time_ms):
        """When the refresh that last scanned out each of rows (array) before time_ms began."""
        row_delay = (rows + 0.5) / self.height * self.refresh_ms * (1.0 - BLANKING)
        return self.scan_start(time_ms - row_delay)

    def lead_ms(self, rows, time_ms):
        """Content time minus the start of the refresh that scanned it out, averaged over rows:
        the figure whose differences between windows are their lags."""
        return float(np.mean(self.content_time(rows, time_ms) - self.presented(rows, time_ms)))

    def scan_fraction(self, time_ms):
        """How far the current refresh has run, as a fraction of a refresh: the fraction of
        rows scanned out when below 1 - BLANKING, blanking above."""
        return float((time_ms - self.scan_start(time_ms)) / self.refresh_ms)


@dataclass
class Camera:
    photo_size: tuple = (4000, 3000)  # width, height
    yaw_deg: float = 0.0
    pitch_deg: float = 0.0
    roll_deg: float = 0.0
    coverage: float = 0.8  # how much of the photo's width or height the wall takes
    centre: tuple = (0.5, 0.5)  # where the wall's centre lands, as fractions of the photo
    exposure_ms: float = 1.0
    readout_ms: float = 0.0  # top to bottom rolling-shutter time
    blur_px: float = 0.8  # Gaussian sigma
    noise: float = 0.01  # sensor noise, fraction of full scale
    jpeg_quality: int = 90  # 0 writes PNG
    black_level: float = 0.03
    crosstalk: tuple = (0.08, 0.12)  # red, blue light of a green pixel
    glare: float = 0.0  # peak of one soft highlight, fraction of full scale
    glare_centre: tuple = (0.3, 0.3)
    vignetting: float = 0.3  # light lost at the photo's corners
    bezel: float = 60.0  # bezel width between displays, in desktop pixels (0: they abut)
    decoy: bool = False  # a green patch on the wall that is not a display
    seed: int = 0
    bezel_shade: float = 0.02  # linear light of the bezels
    glare_radius: float = 0.12  # of the highlight, as a share of the photo's width
    # A long soft reflection across the wall (a window, a strip light): its peak, angle from
    # the horizontal and width as a share of the photo's width; it passes the glare centre.
    glare_band: float = 0.0
    glare_band_angle_deg: float = 30.0
    glare_band_width: float = 0.08
    gain: float = 1.0  # the light reaching the sensor is scaled by this; above full scale clips
    tone: str = "gamma"  # the tone curve: gamma, srgb, filmic (an S-curve) or flat (log)
    sharpen: float = 0.0  # strength of the camera's unsharp mask
    distortion: float = 0.0  # radial k1 at the half-diagonal; negative is barrel
    distortion2: float = 0.0  # and k2, of the fourth power (with k1, a "moustache" lens)
    lens_centre: tuple = (0.0, 0.0)  # the lens's axis off the photo's centre, shares of its size
    aberration: float = 0.0  # lateral chromatic aberration: red and blue scaled by 1 +- this
    mosaic: bool = False  # a Bayer sensor, its colours interpolated


@dataclass
class Truth:
    name: str
    corners: np.ndarray  # 4 x 2, top-left, top-right, bottom-right, bottom-left
    lag_ms: float = 0.0
    lag_frames: float = 0.0
    scan: float = 0.0
    breaks: list = field(default_factory=list)  # (row, kind, jump in window pixels)
    photo_width: float = 0.0
    # The leads (ms) the window's pixels allow: every lead whose truncated bar offsets draw its
    # rows as they were drawn. A lag near the limit may lie either side of it within these.
    lead_range_ms: tuple = (0.0, 0.0)
    # When the camera read each window row, ms after the moment whose scan fraction is scan
    read_ms: np.ndarray = None


def _rotation(yaw, pitch, roll):
    y, p, r = (math.radians(a) for a in (yaw, pitch, roll))
    ry = np.array([[math.cos(y), 0, math.sin(y)], [0, 1, 0], [-math.sin(y), 0, math.cos(y)]])
    rx = np.array([[1, 0, 0], [0, math.cos(p), -math.sin(p)], [0, math.sin(p), math.cos(p)]])
    rz = np.array([[math.cos(r), -math.sin(r), 0], [math.sin(r), math.cos(r), 0], [0, 0, 1]])
    return rz @ rx @ ry


def wall_positions(displays, bezel):
    """Top-left corner of each display on the wall: its desktop position, spread apart by a
    bezel for every display edge to its left or above it."""
    xs = sorted({d.x for d in displays})
    ys = sorted({d.y for d in displays})
    return [(d.x + bezel * xs.index(d.x), d.y + bezel * ys.index(d.y)) for d in displays]


def wall_to_photo(displays, camera):
    """The homography from wall coordinates (desktop pixels, pixel edges at whole numbers) to
    photo coordinates (pixel centres at whole numbers)."""
    positions = wall_positions(displays, camera.bezel)
    left = min(p[0] for p in positions) - camera.bezel
    top = min(p[1] for p in positions) - camera.bezel
    right = max(p[0] + d.width for p, d in zip(positions, displays)) + camera.bezel
    bottom = max(p[1] + d.height for p, d in zip(positions, displays)) + camera.bezel
    span = max(right - left, bottom - top)
    # The wall in a unit square around the origin, seen from 2 units away, rotated.
    to_unit = np.array([[1 / span, 0, -(left + right) / 2 / span],
                        [0, 1 / span, -(top + bottom) / 2 / span], [0, 0, 1]])
    rotation = _rotation(camera.yaw_deg, camera.pitch_deg, camera.roll_deg)
    plane = np.column_stack([rotation[:, 0], rotation[:, 1], rotation @ [0, 0, 0] + [0, 0, 2.0]])
    homography = plane @ to_unit
    corners = np.array([[left, top], [right, top], [right, bottom], [left, bottom]], float)
    projected = cv2.perspectiveTransform(corners[None], homography)[0]
    low, high = projected.min(axis=0), projected.max(axis=0)
    width, height = camera.photo_size
    scale = camera.coverage * min(width / (high - low)[0], height / (high - low)[1])
    shift = np.array(camera.centre) * [width, height] - scale * (low + high) / 2
    fit = np.array([[scale, 0, shift[0] - 0.5], [0, scale, shift[1] - 0.5], [0, 0, 1]])
    return fit @ homography, positions


def _render_window(display, row_times, exposure_ms):
    """The window's light over the exposure, as a float image at its own resolution, and the
    content time of each row at the middle of the exposure."""
    height, width = display.height, display.width
    rows = np.arange(height, dtype=float)
    columns = np.arange(width)[None, :]
    steps = int(min(12, max(1, math.ceil(exposure_ms / 0.35))))
    image = np.zeros((height, width), np.float32)
    for step in range(steps):
        moment = row_times + exposure_ms * (step + 0.5) / steps
        f = sweep(display.content_time(rows, moment))
        vertical = bar_offset(f, width)[:, None]
        horizontal = bar_offset(f, height)
        lit = (columns >= vertical) & (columns < vertical + BAR)
        from_bottom = height - 1 - rows
        lit |= ((from_bottom >= horizontal) & (from_bottom < horizontal + BAR))[:, None]
        image += lit
    image /= steps
    image[:, :EDGE] = image[:, -EDGE:] = 1.0
    image[:EDGE, :] = image[-EDGE:, :] = 1.0
    return image


def _lead_range(display, row_times, span_refreshes=1.0, step_ms=0.02):
    """The leads (content time less its refresh's start, ms) that the pixels drawn leave open:
    (lowest, highest) of those, within span_refreshes of the true lead, at which every refresh on
    show puts both bars on the pixels they were drawn at. A tearing window's content follows
    its swaps, not its refreshes: its true lead is returned twice."""
    rows = np.arange(display.height, dtype=float)
    starts = display.presented(rows, row_times)
    leads = display.content_time(rows, row_times) - starts
    if display.swap_interval_ms > 0:
        lead = float(np.mean(leads))
        return lead, lead
    span = span_refreshes * display.refresh_ms
    trial = leads[0] + np.arange(-span, span + step_ms, step_ms)
    allowed = np.ones(len(trial), bool)
    for start in np.unique(starts):
        shown = rows[starts == start]
        allowed &= _drawn_alike(display, start + leads[0], start + trial, shown)
    return float(trial[allowed].min()), float(trial[allowed].max())


def _drawn_alike(display, content_ms, trials_ms, rows):
    """Whether each trial content time draws the vertical bar at the same offset as content_ms,
    and the horizontal bar over the same ones of rows."""
    width, height = display.width, display.height
    truth, trials = sweep(content_ms), sweep(trials_ms)
    alike = bar_offset(trials, width) == bar_offset(truth, width)
    from_bottom = (height - 1 - rows)[:, None]

    def lit(offsets):
        return (from_bottom >= offsets) & (from_bottom < offsets + BAR)
    return alike & (lit(bar_offset(trials, height)) == lit(bar_offset(truth, height))).all(axis=0)


def _breaks(display, row_times):
    """Where the content changes between neighbouring rows at their moments: (first row below,
    "scan" where the rows were scanned out in different refreshes, "tear" where a swap landed
    within one refresh's scan-out, the vertical bar's jump in pixels)."""
    rows = np.arange(display.height, dtype=float)
    times = display.content_time(rows, row_times)
    refreshes = display.presented(rows, row_times)
    offsets = bar_offset(sweep(times), display.width)
    found = []
    for row in np.nonzero(np.abs(np.diff(times)) > 1e-6)[0]:
        kind = "scan" if abs(refreshes[row] - refreshes[row + 1]) > 1e-6 else "tear"
        found.append((int(row + 1), kind, int(abs(offsets[row] - offsets[row + 1]))))
    return found


def _panel_light(camera, content):
    """RGB light (0..1, BGR order) emitted by a panel showing content (0..1)."""
    red, blue = camera.crosstalk
    base = camera.black_level
    channels = [base + (1 - base) * content * c for c in (blue, 1.0, red)]
    return np.stack(channels, axis=-1)


def _wall(camera, rng):
    """The wall behind the displays: grey with a smooth gradient and a faint texture."""
    width, height = camera.photo_size
    small = rng.uniform(0.15, 0.45, (6, 8, 1)) * rng.uniform(0.85, 1.0, (1, 1, 3))
    wall = cv2.resize(small.astype(np.float32), (width, height), interpolation=cv2.INTER_CUBIC)
    return np.clip(wall, 0, 1)


def window_to_photo(homography, position):
    """The homography from the window coordinates of a display standing at position on the
    wall to the photo, given the wall's (wall_to_photo)."""
    return homography @ np.array([[1, 0, position[0]], [0, 1, position[1]], [0, 0, 1]], float)


def place_window(light, display, homography, position, camera):
    """Where the camera sees a display standing at position on the wall: the homography from
    its window coordinates to the photo and its outline's corners. Paints its bezel."""
    to_photo = window_to_photo(homography, position)
    outline = np.array([[0, 0], [display.width, 0], [display.width, display.height],
                        [0, display.height]], float)
    corners = cv2.perspectiveTransform(outline[None], to_photo)[0]
    frame = outline + np.array([[-1, -1], [1, -1], [1, 1], [-1, 1]]) * camera.bezel / 2
    frame_corners = cv2.perspectiveTransform(frame[None], to_photo)[0]
    cv2.fillConvexPoly(light, np.round(frame_corners * 16).astype(np.int32),
                       (camera.bezel_shade,) * 3, lineType=cv2.LINE_AA, shift=4)
    return to_photo, corners


def paint_window(light, content, to_photo, corners, camera, pixel_size=(1.0, 1.0),
                 per_pixel=2):
    """Paints a window's content (0..1; each content pixel pixel_size window pixels across and
    down) into the photo's light where the camera sees it; returns the window's width in the
    photo, None when it lies outside. Content finer than per_pixel pixels per photo pixel is
    first shrunk by area, so that the warp (which samples it at each photo pixel's centre)
    does not alias: a larger per_pixel samples through a smaller aperture."""
    height, width = light.shape[:2]
    photo_width = float(np.linalg.norm(corners[1] - corners[0]))
    photo_height = float(np.linalg.norm(corners[3] - corners[0]))
    full_h, full_w = content.shape
    small_w = int(min(full_w, max(16, math.ceil(per_pixel * photo_width))))
    small_h = int(min(full_h, max(16, math.ceil(per_pixel * photo_height))))
    small = cv2.resize(content, (small_w, small_h), interpolation=cv2.INTER_AREA)
    sx = pixel_size[0] * full_w / small_w
    sy = pixel_size[1] * full_h / small_h
    from_small = to_photo @ np.array([[sx, 0, 0.5 * sx], [0, sy, 0.5 * sy], [0, 0, 1]])
    x0, y0 = np.floor(corners.min(axis=0)).astype(int) - 2
    x1, y1 = np.ceil(corners.max(axis=0)).astype(int) + 3
    x0, y0, x1, y1 = max(x0, 0), max(y0, 0), min(x1, width), min(y1, height)
    if x1 <= x0 or y1 <= y0:
        return None
    to_box = np.array([[1, 0, -x0], [0, 1, -y0], [0, 0, 1]], float) @ from_small
    box = (x1 - x0, y1 - y0)
    # The content runs to the window's edge: its outermost pixels are lit whole, the mask
    # alone says how much of a photo pixel they cover.
    warped = cv2.warpPerspective(small, to_box, box, flags=cv2.INTER_LINEAR,
                                 borderMode=cv2.BORDER_REPLICATE)
    mask = cv2.warpPerspective(np.ones_like(small), to_box, box, flags=cv2.INTER_LINEAR)
    panel = _panel_light(camera, warped)
    region = light[y0:y1, x0:x1]
    region[:] = region * (1 - mask[..., None]) + panel * mask[..., None]
    return photo_width


def photograph(displays, camera, moment_ms):
    """Takes the photo: returns the encoded file's bytes, its suffix and the truth per display."""
    rng = np.random.default_rng(camera.seed)
    width, height = camera.photo_size
    homography, positions = wall_to_photo(displays, camera)
    light = _wall(camera, rng)
    if camera.decoy:
        x, y = rng.uniform(0.05, 0.8) * width, rng.uniform(0.05, 0.8) * height
        side = int(0.06 * width)
        light[int(y):int(y) + side, int(x):int(x) + side] = (0.1, 0.8, 0.2)
    truths = []
    leads = []
    seen = []  # the displays the photo shows, in the order of truths
    for display, (wx, wy) in zip(displays, positions):
        to_photo, corners = place_window(light, display, homography, (wx, wy), camera)

        # Each window row is exposed from the moment the camera's shutter passes its photo row.
        centres = np.column_stack([np.full(display.height, display.width / 2),
                                   np.arange(display.height) + 0.5])
        photo_rows = cv2.perspectiveTransform(centres[None], to_photo)[0][:, 1]
        row_times = moment_ms + camera.readout_ms * np.clip(photo_rows / height, 0, 1)
        content = _render_window(display, row_times, camera.exposure_ms)
        photo_width = paint_window(light, content, to_photo, corners, camera)
        if photo_width is None:
            continue
        mid_exposure = row_times + camera.exposure_ms / 2
        leads.append(display.lead_ms(np.arange(display.height, dtype=float), mid_exposure))
        seen.append(display)
        truths.append(Truth(display.name, distorted_points(corners, light.shape, camera),
                            scan=display.scan_fraction(moment_ms + camera.exposure_ms / 2),
                            breaks=_breaks(display, mid_exposure), photo_width=photo_width,
                            lead_range_ms=_lead_range(display, mid_exposure),
                            read_ms=row_times - moment_ms))

    leader = max(leads, default=0.0)
    for truth, lead, display in zip(truths, leads, seen):
        truth.lag_ms = leader - lead
        truth.lag_frames = truth.lag_ms / display.refresh_ms

    photo = _optics(light, camera, rng)
    if camera.jpeg_quality:
        ok, data = cv2.imencode(".jpg", photo, [cv2.IMWRITE_JPEG_QUALITY, camera.jpeg_quality])
        return data.tobytes(), ".jpg", truths
    ok, data = cv2.imencode(".png", photo)
    return data.tobytes(), ".png", truths


def _gamma(x):
    return np.asarray(x, float) ** (1 / 2.2)


def _srgb(x):
    x = np.asarray(x, float)
    return np.where(x <= 0.0031308, 12.92 * x, 1.055 * x ** (1 / 2.4) - 0.055)


def _filmic(x):
    return 0.5 + 0.5 * np.tanh(2.2 * (_gamma(x) - 0.5)) / np.tanh(1.1)


def _flat(x):
    return np.log1p(60 * np.asarray(x, float)) / np.log1p(60)


# Tone curves from linear light (0 .. 1) to the photo's values (0 .. 1): a plain gamma of 2.2,
# sRGB's, a contrasty S-curve as phones apply, and a flat logarithmic one that lifts the shadows
# (grey blacks).
TONE_CURVES = {"gamma": _gamma, "srgb": _srgb, "filmic": _filmic, "flat": _flat}


def linear_for_tone(name, value):
    """The linear light that the tone curve turns into value (0 .. 1)."""
    steps = np.linspace(0, 1, 4096)
    return float(np.interp(value, TONE_CURVES[name](steps), steps))


def _tone_table(name):
    """The tone curve as a table from linear light in 4096 steps to 8 bits."""
    return (TONE_CURVES[name](np.linspace(0, 1, 4096)) * 255 + 0.5).astype(np.uint8)


_TONES = {name: _tone_table(name) for name in TONE_CURVES}


def _glare(light, camera, xs, ys):
    """Adds a soft highlight round the glare centre, and a long reflection through it."""
    height, width = light.shape[:2]
    gx, gy = camera.glare_centre[0] * width, camera.glare_centre[1] * height
    if camera.glare:
        radius = camera.glare_radius * width
        light = light + camera.glare * np.exp(-((xs - gx) ** 2 + (ys - gy) ** 2)
                                              / (2 * radius ** 2))[..., None]
    if camera.glare_band:
        angle = np.radians(camera.glare_band_angle_deg)
        across = (ys - gy) * np.cos(angle) - (xs - gx) * np.sin(angle)
        spread = camera.glare_band_width * width
        light = light + camera.glare_band * np.exp(-across ** 2 / (2 * spread ** 2))[..., None]
    return light


def _lens_scale(points, shape, camera, channel_scale=1.0):
    """Where the lens takes each point of the undistorted picture from: the factor by which its
    distance from the lens's axis grows, for points given in distorted photo coordinates, and
    where that axis meets the photo."""
    height, width = shape[:2]
    centre = np.array([(width - 1) / 2, (height - 1) / 2]) + np.multiply(camera.lens_centre,
                                                                         [width, height])
    half_diagonal = np.hypot(width, height) / 2
    r2 = np.sum(((points - centre) / half_diagonal) ** 2, axis=-1)
    return (1 + camera.distortion * r2 + camera.distortion2 * r2 ** 2) * channel_scale, centre


def distorted_points(points, shape, camera):
    """Undistorted photo points (n x 2) where the camera's lens puts them."""
    points = np.asarray(points, float)
    if not (camera.distortion or camera.distortion2):
        return points
    found = points.copy()
    for _ in range(10):  # the inverse of the lens's mapping, by fixed-point iteration
        scale, centre = _lens_scale(found, shape, camera)
        found = centre + (points - centre) / scale[:, None]
    return found


def _lens(light, camera):
    """Radial distortion and lateral chromatic aberration: each channel resampled."""
    height, width = light.shape[:2]
    grid = np.stack(np.meshgrid(np.arange(width, dtype=np.float32),
                                np.arange(height, dtype=np.float32)), axis=-1)
    channels = []
    for channel, colour_scale in enumerate((1 - camera.aberration, 1.0, 1 + camera.aberration)):
        scale, centre = _lens_scale(grid, light.shape, camera, colour_scale)
        source = (centre + (grid - centre) * scale[..., None]).astype(np.float32)
        channels.append(cv2.remap(np.ascontiguousarray(light[..., channel]), source[..., 0],
                                  source[..., 1], cv2.INTER_LINEAR,
                                  borderMode=cv2.BORDER_REFLECT))
    return np.stack(channels, axis=-1)


def _demosaic(light):
    """What a Bayer sensor records (one colour per pixel: blue, green / green, red) with its
    colours interpolated back."""
    sensor = (np.clip(light, 0, 1) * 65535 + 0.5).astype(np.uint16)
    mosaic = np.empty(light.shape[:2], np.uint16)
    mosaic[0::2, 0::2] = sensor[0::2, 0::2, 0]
    mosaic[0::2, 1::2] = sensor[0::2, 1::2, 1]
    mosaic[1::2, 0::2] = sensor[1::2, 0::2, 1]
    mosaic[1::2, 1::2] = sensor[1::2, 1::2, 2]
    return cv2.cvtColor(mosaic, cv2.COLOR_BayerRG2BGR).astype(np.float32) / 65535


def _optics(light, camera, rng, normal=None):
    """Glare, vignetting, the lens, blur, exposure, noise, the sensor's mosaic, tone curve and
    sharpening: linear light to 8-bit BGR. normal(shape) draws standard normal float32 noise
    (by default from rng)."""
    height, width = light.shape[:2]
    ys = np.arange(height, dtype=np.float32)[:, None]
    xs = np.arange(width, dtype=np.float32)[None, :]
    light = _glare(light, camera, xs, ys)
    distance = ((xs - width / 2) ** 2 + (ys - height / 2) ** 2) / ((width / 2) ** 2
                                                                   + (height / 2) ** 2)
    light = light * (1 - camera.vignetting * distance)[..., None]
    if camera.distortion or camera.distortion2 or camera.aberration:
        light = _lens(light, camera)
    if camera.blur_px > 0:
        light = cv2.GaussianBlur(light, (0, 0), camera.blur_px)
    if camera.gain != 1.0:
        light = light * np.float32(camera.gain)
    normal = normal or (lambda shape: rng.normal(0, 1, shape).astype(np.float32))
    light = light + camera.noise * normal(light.shape)
    light = light + np.sqrt(np.clip(light, 0, None)) * camera.noise * normal(light.shape)
    if camera.mosaic:
        light = _demosaic(light)
    photo = _TONES[camera.tone][np.clip(light * 4095 + 0.5, 0, 4095).astype(np.uint16)]
    if camera.sharpen:
        soft = cv2.GaussianBlur(photo, (0, 0), 1.2)
        photo = cv2.addWeighted(photo, 1 + camera.sharpen, soft, -camera.sharpen, 0)
    return photo
