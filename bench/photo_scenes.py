"""Random walls of displays and cameras for the photo benchmark, each with a truth whose verdict
is unambiguous: lags well under or well over half a frame, scan positions in step or far apart.

Two families: our own walls (wide bezels, dark panels, one soft highlight), and walls and
cameras unlike them: panels that abut or nearly do, panels whose black glows grey after the
camera's tone curve, glare across several panels, small photos, and the processing of real
cameras (tone curves, sharpening, a Bayer mosaic, lens distortion and chromatic aberration,
exposure that clips). Both are photographed away from the turns of the sweep; a third, our
walls at a turn, is the photo benchmark's own (at_a_turn)."""

from dataclasses import dataclass, replace

import numpy as np

from analyser.pattern import PERIOD_MS
from camera import Camera, Display, TONE_CURVES, linear_for_tone

SIZES = [(1920, 1080), (1920, 1200), (2560, 1440), (1280, 720), (1280, 1024), (1024, 768),
         (3840, 2160)]
LAYOUTS = {1: (1, 1), 2: (1, 2), 3: (1, 3), 4: (2, 2), 5: (2, 3), 6: (2, 3)}
KINDS = ["in sync", "frame behind", "part frame behind", "no genlock", "tearing"]
FAMILIES = ("ours", "unlike ours")
TURN_REACH_MS = 250.0  # how near a turn of the sweep at_a_turn photographs, either way


@dataclass
class Scene:
    kind: str
    displays: list
    camera: Camera
    moment_ms: float
    refresh_hz: float
    in_sync: bool
    family: str = "ours"


def scene_of(family, seed, photo_size=None):
    """The scene of that family made from seed."""
    if family == "ours":
        return random_scene(seed, photo_size)
    if family == "at a turn":
        return at_a_turn(seed, photo_size)
    return unlike_ours(seed, photo_size)


def at_a_turn(seed, photo_size=None):
    """The scene of random_scene(seed) photographed within TURN_REACH_MS of a turn of the
    sweep, which the other families keep away from and a photo taken at any moment falls
    into one time in twenty: the bars run along the frame lines there, and content a few
    frames apart may lie either side of the turn."""
    scene = random_scene(seed, photo_size)
    rng = np.random.default_rng([seed, 23])
    turn = float(rng.choice([PERIOD_MS / 2, PERIOD_MS]))
    moment = turn + float(rng.uniform(-TURN_REACH_MS, TURN_REACH_MS))
    return replace(scene, moment_ms=moment, family="at a turn")


def unlike_ours(seed, photo_size=None):
    """A wall and camera unlike ours: the same displays and scenes as random_scene(seed), seen
    through panels, glare and a camera drawn from wider ranges."""
    scene = random_scene(seed, photo_size)
    rng = np.random.default_rng([seed, 19])
    tone = str(rng.choice(list(TONE_CURVES)))
    # The panels' black as the photo shows it, up to a third of white.
    black = linear_for_tone(tone, float(rng.uniform(0.04, 1 / 3)))
    bezel = float(rng.choice([0.0, rng.uniform(1, 8), rng.uniform(20, 120)], p=[0.4, 0.3, 0.3]))
    glare = rng.random()
    size = photo_size or tuple(rng.choice([(4000, 3000), (3000, 2000), (2000, 1500),
                                           (1600, 1200)]))
    # A photo smaller than the sensor is the sensor's picture shrunk: its blur and noise, in
    # pixels, shrink alike (and the shrinking blurs a little).
    shrunk = min(1.0, size[0] / 4000)
    camera = replace(
        scene.camera, tone=tone, black_level=black, bezel=bezel,
        bezel_shade=float(rng.uniform(0.01, 0.08)), photo_size=size,
        blur_px=max(0.4, scene.camera.blur_px * shrunk), noise=scene.camera.noise * shrunk,
        glare=float(rng.uniform(0.1, 0.5)) if glare < 0.35 else 0.0,
        glare_radius=float(rng.uniform(0.1, 0.4)),
        glare_band=float(rng.uniform(0.1, 0.35)) if glare > 0.65 else 0.0,
        glare_band_angle_deg=float(rng.uniform(-60, 60)),
        glare_band_width=float(rng.uniform(0.03, 0.15)),
        gain=float(rng.uniform(0.7, 1.2)),
        sharpen=float(rng.choice([0.0, rng.uniform(0.3, 1.5)])),
        distortion=float(rng.uniform(-0.015, 0.01)),
        aberration=float(rng.uniform(0, 0.002)),
        mosaic=bool(rng.random() < 0.5),
        decoy=bool(rng.random() < 0.2))
    # A lens not quite of one term, nor centred on the sensor (drawn apart, so that the rest of
    # the scene stays as it was).
    lens = np.random.default_rng([seed, 29])
    camera = replace(camera, distortion2=float(lens.uniform(-0.008, 0.008)),
                     lens_centre=tuple(float(v) for v in lens.uniform(-0.02, 0.02, 2)))
    return replace(scene, camera=camera, family="unlike ours")


def random_scene(seed, photo_size=None):
    rng = np.random.default_rng(seed)
    count = int(rng.integers(1, 7))
    kind = KINDS[int(rng.integers(len(KINDS)))] if count > 1 else \
        rng.choice(["in sync", "tearing"])
    rows, columns = LAYOUTS[count]
    big = count <= 2
    width, height = SIZES[int(rng.integers(len(SIZES) if big else len(SIZES) - 1))]
    refresh = float(rng.choice([60.0, 60.0, 60.0, 50.0, 75.0, 59.94]))
    phase = float(rng.uniform(0, 1000 / refresh))
    base_lag = float(rng.choice([0.0, 0.1, 0.25]))
    displays = []
    for index in range(count):
        displays.append(Display(index % columns * width, index // columns * height, width,
                                height, "V", refresh, phase, base_lag))
    victim = displays[int(rng.integers(count))]
    if kind == "frame behind":
        victim.lag_frames += float(rng.choice([1.0, 2.0]))
    elif kind == "part frame behind":
        victim.lag_frames += float(rng.uniform(0.7, 0.9))
    elif kind == "no genlock":
        victim.phase_ms += float(rng.uniform(0.3, 0.7)) * 1000 / refresh
    elif kind == "tearing":
        victim.mode = "N"
        victim.swap_interval_ms = float(rng.uniform(5.0, 9.0))
        victim.swap_phase_ms = float(rng.uniform(0, 10))
    camera = Camera(
        photo_size=photo_size or tuple(rng.choice([(4000, 3000), (3000, 2000), (2400, 1800)])),
        yaw_deg=float(rng.uniform(-30, 30)), pitch_deg=float(rng.uniform(-10, 10)),
        roll_deg=float(rng.uniform(-4, 4)), coverage=float(rng.uniform(0.65, 0.92)),
        exposure_ms=float(np.exp(rng.uniform(np.log(0.25), np.log(4.0)))),
        readout_ms=float(rng.choice([0.0, rng.uniform(10, 30)])),
        blur_px=float(rng.uniform(0.3, 2.0)), noise=float(rng.uniform(0.004, 0.02)),
        jpeg_quality=int(rng.integers(60, 96)), black_level=float(rng.uniform(0.01, 0.06)),
        crosstalk=(float(rng.uniform(0, 0.2)), float(rng.uniform(0, 0.2))),
        glare=float(rng.choice([0.0, 0.0, rng.uniform(0.2, 0.7)])),
        glare_centre=(float(rng.uniform(0.2, 0.8)), float(rng.uniform(0.2, 0.8))),
        vignetting=float(rng.uniform(0.1, 0.45)), bezel=float(rng.uniform(20, 120)),
        decoy=bool(rng.random() < 0.2), seed=seed)
    # Keep away from the ends of the sweep, where bars may run either way (at_a_turn).
    moment = float(rng.choice([rng.uniform(TURN_REACH_MS, PERIOD_MS / 2 - TURN_REACH_MS),
                               rng.uniform(PERIOD_MS / 2 + TURN_REACH_MS,
                                           PERIOD_MS - TURN_REACH_MS)]))
    return Scene(kind, displays, camera, moment, refresh, kind == "in sync")
