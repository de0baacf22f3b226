"""Reads a video file frame by frame, with each frame's moment, refusing what cannot be a video
of the displays with one line that says why. Only one frame is held at a time."""

import itertools
import os
import queue
import sys
import threading

import cv2

from analyser import photo_io

PREFETCH_FRAMES = 3
# Frames decoded into in turn: one with the reader, the queued ones, one being decoded into.
RING_FRAMES = PREFETCH_FRAMES + 2
STILL_MAGIC = (b"\x89PNG", b"\xff\xd8\xff", b"GIF8", b"BM")


class UnreadableVideo(Exception):
    """The file cannot be read as a video."""


def is_still_image(path):
    """Whether the file holds a still image, whatever its name says."""
    try:
        with open(path, "rb") as file:
            start = file.read(4)
    except OSError:
        return False
    return start.startswith(STILL_MAGIC)


class Video:
    """An opened video: its frame rate, the frame count its header claims, and its frames."""

    def __init__(self, path):
        try:
            with open(path, "rb") as file:
                if not file.read(1):
                    raise UnreadableVideo(f"{path} is empty")
        except OSError as error:
            raise UnreadableVideo(f"cannot read {path}: {error.strerror}") from None
        self.path = path
        # A cut-off file makes the decoder complain line after line; the analyser says it once.
        os.environ.setdefault("OPENCV_FFMPEG_LOGLEVEL", "-8")
        self.capture = cv2.VideoCapture(path, cv2.CAP_FFMPEG)
        if not self.capture.isOpened():
            raise UnreadableVideo(f"{path} is not a video that can be decoded, or holds no "
                                  "frames")
        self.fps = self.capture.get(cv2.CAP_PROP_FPS)
        if not self.fps > 0:
            raise UnreadableVideo(f"{path} does not say its frame rate")
        self.claimed_frames = max(0, int(self.capture.get(cv2.CAP_PROP_FRAME_COUNT)))
        width = int(self.capture.get(cv2.CAP_PROP_FRAME_WIDTH))
        height = int(self.capture.get(cv2.CAP_PROP_FRAME_HEIGHT))
        if width * height > photo_io.MAX_PIXELS:
            raise UnreadableVideo(f"{path} is {width}x{height}: larger than can be analysed")
        self.shape = (height, width, 3)
        self.duration_s = self.claimed_frames / self.fps
        self.frames_read = 0

    def frames(self, into=None):
        """Yields (index, moment in ms, BGR frame). Moments come from the container's time
        stamps (a phone's frame rate varies), or from the frame rate where it has none. The
        next frames are decoded on a thread of their own meanwhile (the decoder lets go of the
        interpreter lock), a few at most, so memory stays that of a few frames. A frame's
        pixels are good until the next frame is asked for: then its buffer is decoded into
        again. into: RING_FRAMES arrays of the video's shape (uint8) to decode into, where
        frames are to be in memory of the caller's choosing."""
        decoded = queue.Queue(maxsize=PREFETCH_FRAMES)
        ring = list(into) if into is not None else [None] * RING_FRAMES
        thread = threading.Thread(target=self._decode, args=(decoded, ring), daemon=True)
        thread.start()
        previous = None
        while True:
            frame, stamp = decoded.get()
            if frame is None:
                thread.join()
                return
            moment = self.frames_read * 1000.0 / self.fps
            if stamp > 0 and (previous is None or stamp > previous):
                moment = stamp
            previous = moment
            self.frames_read += 1
            yield self.frames_read - 1, moment, frame

    def _decode(self, decoded, ring):
        # A ring of buffers, as many as can be in use at once: memory allocated afresh for
        # every frame (6 MB at 1080p) costs the system a page fault for every 4 kB of it.
        for count in itertools.count():
            slot = count % len(ring)
            ok, frame = self.capture.read(ring[slot])
            if not ok or frame is None:
                decoded.put((None, 0.0))
                return
            ring[slot] = frame
            decoded.put((frame, self.capture.get(cv2.CAP_PROP_POS_MSEC)))

    def close(self):
        self.capture.release()


class Progress:
    """A progress bar on standard error, drawn only when standard error is a terminal."""

    def __init__(self, total, stream=sys.stderr):
        self.total, self.stream = total, stream
        self.shown = stream.isatty() and total > 0
        self.last = -1

    def update(self, done):
        if not self.shown:
            return
        share = min(1.0, done / self.total)
        step = int(share * 40)
        if step != self.last:
            self.last = step
            self.stream.write(f"\rreading [{'#' * step}{'.' * (40 - step)}] {share:4.0%}")
            self.stream.flush()

    def finish(self):
        if self.shown:
            self.stream.write("\r" + " " * 60 + "\r")
            self.stream.flush()
