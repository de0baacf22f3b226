"""Reads the tool's sync test pattern from a photo of the running displays and says, in figures,
whether they show their frames in step.

Coordinate conventions used throughout:
- photo coordinates: x to the right, y downwards, in pixels, with pixel centres at whole numbers
  (OpenCV's convention);
- window coordinates: u to the right, v downwards, in the window's own pixels, with the window's
  outline at u = 0 .. width and v = 0 .. height (pixel edges at whole numbers);
- times in milliseconds unless a name says otherwise.
"""

# The version of the tool and of the analyser alike: CMake reads it from here too.
__version__ = "1.0.0"
