"""Reads a photo file into an array, refusing what cannot be a photo of the displays with one
line that says why."""

import struct

import cv2
import numpy as np

MAX_PIXELS = 60_000_000  # decoding more takes gigabytes and seconds; no phone photo is larger
MIN_SIDE = 48


class UnreadablePhoto(Exception):
    """The file cannot be read as a photo."""


def png_size(data):
    """(width, height) from a PNG's header, or None."""
    if data[:8] != b"\x89PNG\r\n\x1a\n" or len(data) < 24 or data[12:16] != b"IHDR":
        return None
    return struct.unpack(">II", data[16:24])


def jpeg_size(data):
    """(width, height) from a JPEG's first frame header, or None."""
    if data[:2] != b"\xff\xd8":
        return None
    position = 2
    while position + 9 <= len(data):
        if data[position] != 0xFF:
            return None
        marker = data[position + 1]
        if marker == 0xFF:
            position += 1
            continue
        length = struct.unpack(">H", data[position + 2:position + 4])[0]
        if 0xC0 <= marker <= 0xCF and marker not in (0xC4, 0xC8, 0xCC):
            height, width = struct.unpack(">HH", data[position + 5:position + 9])
            return width, height
        position += 2 + length
    return None


def jpeg_complete(data):
    """Whether a JPEG file ends with its end-of-image marker (a cut-off file does not)."""
    return data.rstrip(b"\x00").endswith(b"\xff\xd9")


def decode(data, name="photo"):
    """The photo as a BGR uint8 array. Raises UnreadablePhoto."""
    if not data:
        raise UnreadablePhoto(f"{name} is empty")
    size = png_size(data) or jpeg_size(data)
    if size is None:
        raise UnreadablePhoto(f"{name} is not a JPEG or PNG image")
    width, height = size
    if width * height > MAX_PIXELS:
        raise UnreadablePhoto(f"{name} is {width}x{height}, {width * height / 1e6:.0f} "
                              f"megapixels: more than the {MAX_PIXELS // 1_000_000} that can "
                              "be analysed; scale it down")
    if data[:2] == b"\xff\xd8" and not jpeg_complete(data):
        raise UnreadablePhoto(f"{name} is cut off: the JPEG data ends early")
    image = cv2.imdecode(np.frombuffer(data, np.uint8), cv2.IMREAD_COLOR)
    if image is None:
        raise UnreadablePhoto(f"{name} cannot be decoded: the file is damaged")
    if min(image.shape[:2]) < MIN_SIDE:
        raise UnreadablePhoto(f"{name} is {image.shape[1]}x{image.shape[0]} pixels: too small "
                              "to show a readable pattern")
    return image


def read(path):
    try:
        with open(path, "rb") as file:
            data = file.read()
    except OSError as error:
        raise UnreadablePhoto(f"cannot read {path}: {error.strerror}") from None
    return decode(data, path)
