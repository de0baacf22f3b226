"""Small camera-model scenes for the tests: known walls seen by a known camera."""

import os

from camera import Camera, Display


def write_file(folder, name, data):
    """Writes data to a file of that name in folder; returns its path."""
    path = os.path.join(folder, name)
    with open(path, "wb") as out:
        out.write(data)
    return path


def wall(count=2, size=(1280, 720), **changes):
    """count displays side by side, vsync'd, refreshing in step."""
    displays = [Display(i * size[0], 0, size[0], size[1], phase_ms=4.0) for i in range(count)]
    for index, values in changes.items():
        for name, value in values.items():
            setattr(displays[int(index)], name, value)
    return displays


def camera(**settings):
    base = dict(photo_size=(1800, 1000), yaw_deg=12, roll_deg=2, coverage=0.9,
                exposure_ms=0.5, blur_px=0.8, noise=0.008, jpeg_quality=85, seed=3)
    base.update(settings)
    return Camera(**base)
