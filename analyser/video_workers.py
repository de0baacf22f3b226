"""Reads a video's windows on worker processes beside the analyser's own: a window's reading
is many small array operations that hold the interpreter lock, so threads cannot share it out,
while processes can. Frames are decoded into memory the processes share (or copied there);
only the small requests and readings go through pipes. Every window of a frame is read before
the next frame, so the readings are those of reading every window in one process."""

import multiprocessing
import os
import signal

import cv2
import numpy as np

# A video shorter than this is read before processes would have started (each imports numpy
# and OpenCV afresh: about a second).
WORTH_S = 5.0
MAX_WORKERS = 7


def worth_starting(duration_s, windows=None):
    """How many worker processes to read a video of duration_s seconds with: one fewer than
    the cores, as this process decodes the frames and reads windows too, and one fewer than
    the windows where their count is known. 0 for a short video."""
    count = min((os.cpu_count() or 1) - 1, MAX_WORKERS, windows - 1 if windows else MAX_WORKERS)
    return count if count > 0 and duration_s >= WORTH_S else 0


class Pool:
    """Worker processes that each read their share of a frame's windows with read (a
    picklable callable: read(frame, request) -> reading), started at once and used once every
    one of them has started. frames: ring arrays of frame_shape (uint8) in memory they share,
    to decode the video into."""

    def __init__(self, count, frame_shape, read, ring):
        context = multiprocessing.get_context("spawn")
        self.shape = tuple(frame_shape)
        size = int(np.prod(self.shape))
        # One frame more than the ring: a frame from elsewhere is copied there.
        memory = context.RawArray("B", size * (ring + 1))
        slots = [np.frombuffer(memory, np.uint8, size, size * i).reshape(self.shape)
                 for i in range(ring + 1)]
        self.frames, self.spare = slots[:ring], slots[ring]
        self.addresses = [slot.ctypes.data for slot in slots]
        self.pipes, self.processes = [], []
        for _ in range(count):
            ours, theirs = context.Pipe()
            process = context.Process(target=_serve, args=(theirs, memory, self.shape, ring + 1,
                                                           read), daemon=True)
            process.start()
            theirs.close()
            self.pipes.append(ours)
            self.processes.append(process)
        self.started = [False] * count
        self.failed = False

    def ready(self, wait_s=0.0):
        """Whether every worker has started, waiting up to wait_s seconds for each."""
        if self.failed:
            return False
        try:
            for index, pipe in enumerate(self.pipes):
                if not self.started[index] and pipe.poll(wait_s):
                    self.started[index] = pipe.recv() == "started"
        except (EOFError, OSError):
            self.failed = True
        return all(self.started) and not self.failed

    def read(self, frame, requests, read_here):
        """The readings of requests in frame, in their order: each worker's share read there,
        and where there are more windows than workers, a share read here with read_here
        meanwhile. Where a worker fails, its share is read here, and from then on every
        window."""
        if frame.shape != self.shape:
            return [read_here(frame, request) for request in requests]
        slot = self._slot_of(frame)
        parts = len(self.pipes) + (len(requests) > len(self.pipes))
        shares = [requests[i::parts] for i in range(parts)]
        sent = [bool(share) and self._send(pipe, (slot, share))
                for pipe, share in zip(self.pipes, shares)]
        readings = [None] * len(shares)
        for index in range(len(self.pipes), parts):
            readings[index] = [read_here(frame, request) for request in shares[index]]
        for index, (pipe, was_sent) in enumerate(zip(self.pipes, sent)):
            answer = self._receive(pipe) if was_sent else None
            readings[index] = answer if answer is not None else [
                read_here(frame, request) for request in shares[index]]
        ordered = [None] * len(requests)
        for index, share in enumerate(readings):
            ordered[index::parts] = share
        return ordered

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    def close(self):
        for pipe in self.pipes:
            try:
                pipe.send(None)
            except OSError:
                pass
        for process in self.processes:
            process.join(timeout=5)
            if process.is_alive():
                process.terminate()
        for pipe in self.pipes:
            pipe.close()

    def _slot_of(self, frame):
        """The slot of the shared memory that holds frame, copied into the spare one where it
        lies elsewhere."""
        if frame.ctypes.data in self.addresses and frame.flags.c_contiguous:
            return self.addresses.index(frame.ctypes.data)
        np.copyto(self.spare, frame)
        return len(self.frames)

    def _send(self, pipe, share):
        if self.failed:
            return False
        try:
            pipe.send(share)
            return True
        except OSError:
            self.failed = True
            return False

    def _receive(self, pipe):
        try:
            answer = pipe.recv()
        except (EOFError, OSError):
            self.failed = True
            return None
        return answer


def _serve(pipe, memory, shape, slots, read):
    """A worker: reads its share of the windows of a frame in memory (slots frames of shape)
    whenever it is sent one (slot, requests), until it is sent None. Stops at an error, which
    the analyser sees as the pipe closing."""
    # Ctrl-C reaches every process of the console: the analyser stops its workers itself.
    signal.signal(signal.SIGINT, signal.SIG_IGN)
    cv2.setNumThreads(1)
    frames = np.frombuffer(memory, np.uint8).reshape((slots, *shape))
    pipe.send("started")
    while True:
        try:
            task = pipe.recv()
        except EOFError:
            return
        if task is None:
            return
        slot, share = task
        try:
            pipe.send([read(frames[slot], request) for request in share])
        except Exception:  # the analyser reads the share itself, and from then on every one
            return
