"""From per-frame readings of one window to its course over a video: the tool's clock against
the video's, the refresh timeline its scan-out boundaries trace, the camera's readout, and the
moments at which its frames did not move on by one refresh.

Plain functions on arrays. Times are milliseconds of the video's clock unless a name says the
tool's; row positions are fractions of the window's height from its top; sweep positions f are
fractions (0 to 1).
"""

from dataclasses import dataclass, field

import numpy as np
from numpy.lib.stride_tricks import sliding_window_view

from analyser.pattern import PERIOD_MS, times_in_sweep_ms

# A display scans its visible rows in this share of a refresh and blanks for the rest (1080 of
# the 1125 lines of the common 1080p timings); a window is taken to fill its display.
SCAN_SHARE = 1080 / 1125
SAME_CLOCK_MS = 200.0  # windows whose clocks differ by less than this share one clock
MERGE_REFRESHES = 3  # content faults this close together are one stutter
STUTTER_CONTEXT = 9  # refreshes around one whose median lag is the window's usual lag
WHOLE_MARGIN = 0.3  # a lag change within this of whole refreshes is a stutter
MAX_STUTTER_REFRESHES = 8
SWEEP_FIT_READINGS = 30  # readings of a window's leads needed to fit its outline's error
# Held frames are told from the lags only where the lags read scatter about their usual value
# (their robust spread) so little that the smallest change taken for a whole refresh stands six
# spreads clear: rougher readings, from a window that spans few pixels or a camera that reads
# each refresh in few rows, make a whole refresh of change out of their error now and then.
MAX_LAG_SCATTER = (1 - WHOLE_MARGIN) / 6
PHASE_STEP = 0.1  # a lasting change of the scan's phase by this share of a refresh starts a new
PHASE_RUN = 6  # stretch of the timeline, when it holds for this many boundaries
# Boundaries of one display's refreshes line up to a few hundredths of a refresh; starts that
# scatter wider than this (the median distance from the fit, in refreshes; starts at random
# give a quarter) are not scan-out boundaries but misreadings: no timeline.
MAX_TIMELINE_SCATTER = 0.08
# A readout is taken from how boundaries at different rows line up (readout_lining_up) where at
# least this many show, their rows do not follow time more closely than this correlation, and
# lined up their phases gather at least this closely (the length of their mean unit phasor:
# 0.9 for phases spread evenly over a quarter of a refresh); tried in steps of READOUT_STEP_MS.
MIN_LINED_UP = 20
MAX_ROW_TREND = 0.3
MIN_LINED_UP_COHERENCE = 0.9
READOUT_STEP_MS = 0.1


def clock_offset_ms(moments, f):
    """The tool's clock minus the video's, modulo the sweep's period, that explains most of the
    sweep positions f seen at the moments: each f stands for two times in the period."""
    moments, f = np.asarray(moments, float), np.asarray(f, float)
    keep = ~np.isnan(f)
    down, back = times_in_sweep_ms(f[keep])
    candidates = np.mod(np.concatenate([down, back]) - np.tile(moments[keep], 2), PERIOD_MS)
    if not len(candidates):
        return float("nan")
    # Votes in 1-ms bins, spread over 40 ms: content lags and stutters move f by a few frames.
    votes = np.bincount(candidates.astype(int) % int(PERIOD_MS), minlength=int(PERIOD_MS))
    spread = np.convolve(np.concatenate([votes[-20:], votes, votes[:20]]), np.ones(41),
                         "valid")
    peak = float(np.argmax(spread))
    near = candidates[np.abs(wrapped(candidates - peak, PERIOD_MS)) <= 40]
    return float(np.mod(peak + np.median(wrapped(near - peak, PERIOD_MS)), PERIOD_MS))


def wrapped(values, period):
    """Values brought into -period/2 .. period/2."""
    return np.mod(np.asarray(values) + period / 2, period) - period / 2


def content_times(moments, f, offset_ms):
    """The tool's clock reading each sweep position f stands for: of the two in every period,
    the one nearest to the moment (video) plus the clock offset."""
    moments, f = np.asarray(moments, float), np.asarray(f, float)
    expected = moments + offset_ms
    periods = np.floor(expected / PERIOD_MS) * PERIOD_MS
    down, back = times_in_sweep_ms(f)
    best = np.full(f.shape, np.nan)
    for shift in (-PERIOD_MS, 0.0, PERIOD_MS):
        for candidate in (down, back):
            value = periods + shift + candidate
            closer = np.isnan(best) | (np.abs(value - expected) < np.abs(best - expected))
            best = np.where(closer & ~np.isnan(f), value, best)
    return best


@dataclass
class Timeline:
    """A display's refreshes: one every refresh_ms, from a phase that may change at moments
    (a mode switch, a lock gained or lost)."""
    refresh_ms: float
    phases: list  # (from ms, a refresh start in effect from then on), sorted
    refresh_error_ms: float = 0.0  # standard error of refresh_ms
    boundaries: int = 0  # scan-out boundaries it was fitted to

    @property
    def refresh_hz(self):
        return 1000.0 / self.refresh_ms

    def phase_at(self, moments):
        phase = np.full(np.shape(moments), self.phases[0][1])
        for start, value in self.phases[1:]:
            phase = np.where(np.asarray(moments) >= start, value, phase)
        return phase

    def scan(self, moments):
        """The fraction of the window's rows scanned out at the moments."""
        moments = np.asarray(moments, float)
        return np.mod((moments - self.phase_at(moments)) / self.refresh_ms, 1.0)

    def refresh_start(self, read_ms, row_fraction):
        """When the refresh began that a row (at row_fraction) showed when read at read_ms."""
        scanned = np.asarray(read_ms, float) - row_delay_ms(row_fraction, self.refresh_ms)
        phase = self.phase_at(scanned)
        return phase + np.floor((scanned - phase) / self.refresh_ms) * self.refresh_ms


def row_delay_ms(row_fraction, refresh_ms):
    """How long after its refresh began a display scans the row at row_fraction."""
    return np.asarray(row_fraction, float) * refresh_ms * SCAN_SHARE


def refresh_ms_from_jumps(jumps_ms, nominal_ms):
    """The refresh period from the content jumps at scan-out boundaries (one refresh each, two
    after a frame held): their median, when there are enough of them near a refresh of some
    display and it is not within a tenth of the nominal period; the nominal period otherwise,
    as the jumps are read only to a few ms."""
    jumps = np.asarray(jumps_ms, float)
    jumps = jumps[(jumps > 0.5 * nominal_ms) & (jumps < 1.6 * nominal_ms)]
    if len(jumps) < 3:
        return nominal_ms
    median = float(np.median(jumps))
    return nominal_ms if abs(median / nominal_ms - 1) < 0.1 else median


def fit_timeline(starts_ms, guess_ms, within=0.12):
    """The timeline through observed refresh starts (the moment a boundary's refresh began):
    the period within a share of guess_ms at which they line up best, then a least-squares fit
    with one phase for each stretch between lasting phase changes. Starts seen a few refreshes
    apart line up at other periods too (a 30 fps camera sees a 60 Hz display's starts line up
    at 11.1 ms as well as at 16.7 ms), so the guess must come from elsewhere, within about a
    tenth: from the content's jump at the boundaries. None where the starts do not line up.
    """
    starts = np.sort(np.asarray(starts_ms, float))
    if len(starts) < 3:
        return None
    rest = starts - starts[0]
    period = lined_up_period(rest, guess_ms, within)
    pieces = _phase_pieces(rest, period)
    for _ in range(3):
        period, phases, error, residual = _fit_pieces(rest, period, pieces)
        pieces = _phase_pieces(rest, period, residual)
    if np.median(np.abs(residual)) > MAX_TIMELINE_SCATTER:
        return None
    phases = [(starts[0] + begin if index else -np.inf, starts[0] + phase)
              for index, (begin, phase) in enumerate(phases)]
    return Timeline(period, phases, error, len(starts))


def lined_up_period(starts_ms, guess_ms, within=0.12):
    """The period within a share of guess_ms at which refresh starts line up best: where their
    phases gather most closely (the length of their mean unit phasor)."""
    starts = np.asarray(starts_ms, float)
    span = max(starts.max() - starts.min(), 1.0)
    # Trial periods fine enough that the phase over the whole span moves by under 2 % of a
    # refresh.
    step = 0.02 * guess_ms ** 2 / span
    trials = np.arange((1 - within) * guess_ms, (1 + within) * guess_ms, step)[:50000]
    rest = starts - starts.min()
    coherence = np.concatenate([_coherence(rest[None, :], chunk[:, None]) for chunk in
                                np.array_split(trials, max(1, len(trials) // 2000))])
    return float(trials[int(np.argmax(coherence))])


def _coherence(starts_ms, refresh_ms):
    """How closely refresh starts gather in phase at a period (both broadcast, the starts
    along the last axis): the length of their mean unit phasor, 1 where they all agree."""
    return np.abs(np.exp(2j * np.pi * starts_ms / refresh_ms).mean(axis=-1))


def readout_lining_up(read_ms, rows, guess_ms, longest_ms):
    """The camera's time to read the window top to bottom (ms, up to longest_ms) with which
    scan-out boundaries read at read_ms (taken at readout 0) at row fractions rows line up on
    one refresh period (looked for near guess_ms): None where they do not line up, or the rows
    seen move on with time (a readout and a period then move the refresh starts alike). Where
    a camera never sees one refresh twice (a 60 fps camera and a 75 Hz display), boundaries at
    different rows are all it shows of its readout; one not taken in puts each row's refresh
    starts off by that row's share of it."""
    read, rows = np.asarray(read_ms, float), np.asarray(rows, float)
    if len(rows) < MIN_LINED_UP or np.std(rows) < 0.05 or \
            abs(np.corrcoef(read, rows)[0, 1]) > MAX_ROW_TREND:
        return None
    trials = np.arange(0.0, longest_ms + READOUT_STEP_MS, READOUT_STEP_MS)
    readout, period = 0.0, guess_ms
    for within in (0.12, 0.01):
        starts = read + readout * rows - row_delay_ms(rows, period)
        period = lined_up_period(starts, period, within)
        base = read - row_delay_ms(rows, period)
        coherence = _coherence(base[None, :] + trials[:, None] * rows[None, :], period)
        readout = float(trials[int(np.argmax(coherence))])
    return readout if coherence.max() >= MIN_LINED_UP_COHERENCE else None


def _phase_pieces(rest, period, residual=None):
    """Indexes where a new stretch of phase begins: where the residual phase (in refreshes)
    moves by more than PHASE_STEP and stays there for PHASE_RUN boundaries."""
    if residual is None:
        residual = np.mod(rest / period + 0.5, 1.0) - 0.5
    pieces = [0]
    index = PHASE_RUN
    while index <= len(residual) - PHASE_RUN:
        before = residual[max(pieces[-1], index - PHASE_RUN):index]
        after = residual[index:index + PHASE_RUN]
        change = np.mod(np.median(after) - np.median(before) + 0.5, 1.0) - 0.5
        if abs(change) > PHASE_STEP and np.all(np.abs(np.mod(
                after - np.median(after) + 0.5, 1.0) - 0.5) < PHASE_STEP / 2):
            pieces.append(index)
            index += PHASE_RUN
        else:
            index += 1
    return pieces


def _fit_pieces(rest, period, pieces):
    """Least squares of start = phase of its stretch + whole refreshes * period. Returns the
    period, (first start, phase) per stretch, the period's standard error and each start's
    residual in refreshes."""
    bounds = list(pieces) + [len(rest)]
    columns, counts = [], np.zeros(len(rest))
    first_phases = []
    for number, (begin, end) in enumerate(zip(bounds[:-1], bounds[1:])):
        first = rest[begin]
        counts[begin:end] = np.round((rest[begin:end] - first) / period)
        first_phases.append(first)
        column = np.zeros(len(rest))
        column[begin:end] = 1.0
        columns.append(column)
    matrix = np.column_stack([counts] + columns)
    target = rest - np.concatenate([np.full(end - begin, first_phases[i]) for i, (begin, end)
                                    in enumerate(zip(bounds[:-1], bounds[1:]))])
    solution, *_ = np.linalg.lstsq(matrix, target, rcond=None)
    fitted = matrix @ solution
    residual = (target - fitted) / solution[0]
    freedom = max(len(rest) - matrix.shape[1], 1)
    variance = np.sum((target - fitted) ** 2) / freedom
    try:
        error = float(np.sqrt(variance * np.linalg.inv(matrix.T @ matrix)[0, 0]))
    except np.linalg.LinAlgError:
        error = float("inf")
    phases = [(rest[begin], first_phases[i] + solution[i + 1])
              for i, begin in enumerate(bounds[:-1])]
    return float(solution[0]), phases, error, residual


def readout_of_window_ms(moments, boundary_rows, newer_content_ms, refresh_ms):
    """The camera's time to read the window top to bottom, from how the scan-out boundary moves
    while one refresh stays on show: the display scans one window height in a refresh's
    scanning share, the camera follows it, so the boundary moves 1 / (scan time - readout)
    window heights per ms.
    Returns None when the video does not show the boundary at different moments of one refresh
    (a camera whose frames are locked to the display's refresh)."""
    moments = np.asarray(moments, float)
    rows = np.asarray(boundary_rows, float)
    shown = np.asarray(newer_content_ms, float)
    slopes = []
    order = np.argsort(shown)
    for a, b in zip(order[:-1], order[1:]):
        same_refresh = abs(shown[a] - shown[b]) < 0.25 * refresh_ms
        apart = abs(moments[b] - moments[a])
        if same_refresh and 0.5 < apart < refresh_ms:
            slopes.append((rows[b] - rows[a]) / (moments[b] - moments[a]))
    if len(slopes) < 5:
        return None
    slope = float(np.median(slopes))
    if not slope > 0:
        return None
    return refresh_ms * SCAN_SHARE - 1.0 / slope


def readout_drift(read_ms, rows, timeline, window_share, moments):
    """How many refreshes a timeline fitted to boundaries (read at read_ms, at row fractions
    rows of the window) may be off by the end of a video (frames at moments) for a camera
    readout taken as 0 but not known (at most a frame's time): each boundary's moment is off
    by the readout times its row's share of the frame (the window takes window_share of the
    frame's height), and where the rows seen move on with time (a camera whose frames keep
    step with the display's refreshes sees its boundary creep through the window), so is the
    period fitted."""
    period = timeline.refresh_ms
    starts = np.asarray(read_ms, float) - row_delay_ms(rows, period)
    counts = np.round((starts - starts.min()) / period)
    if len(np.unique(counts)) < 3:
        return 0.0
    rows_per_refresh = np.polyfit(counts, np.asarray(rows, float) * window_share, 1)[0]
    period_doubt_ms = np.median(np.diff(moments)) * abs(rows_per_refresh)
    return float((moments[-1] - moments[0]) / period * period_doubt_ms / period)


@dataclass
class Stutter:
    moment_ms: float  # start of the first refresh that did not show the next frame
    refreshes: int  # content steps of other than one refresh in it (held or skipped)
    exact: bool  # both refreshes around it were seen, so it is placed to one refresh


def stutters(refresh_starts_ms, contents_ms, refresh_ms):
    """Where a window's content did not move on by exactly one refresh per refresh, from what
    was seen: refresh starts and the content time each showed (any order; repeated sightings
    of one refresh are merged). Each refresh's content less its start is its lag; a frame held
    or skipped moves the lag by whole refreshes against the lags around it, for a while or for
    good. Faults within MERGE_REFRESHES of each other are one stutter."""
    starts, lags, usual = _lags(refresh_starts_ms, contents_ms, refresh_ms)
    if len(starts) < 3:
        return []
    off = _whole_refreshes(lags - usual)
    moved = np.zeros(len(lags), bool)
    moved[1:] = _whole_refreshes(np.diff(usual))
    # A frame is shown sooner after it was drawn than usual for good where one was dropped from
    # the queue for display (the lag changes for good), and for a while only where that queue
    # has drained, which holds a frame: a refresh whose content runs a whole refresh ahead of
    # the usual lag with neither near it was misread.
    faults = starts[(off & (lags < usual)) | moved]
    off &= (lags < usual) | _within(starts, faults, MERGE_REFRESHES * refresh_ms * 1.01)
    found = []
    for index in np.nonzero(off | moved)[0]:
        moment = float(starts[index])
        if found and moment - found[-1].moment_ms <= MERGE_REFRESHES * refresh_ms * 1.01:
            found[-1].refreshes += 1
            continue
        gap = round((starts[index] - starts[index - 1]) / refresh_ms) if index else 0
        found.append(Stutter(moment, 1, gap == 1))
    return found


def sweep_error_ms(contents_ms, leads_ms, f):
    """The error that a window's outline, off by a fraction of a pixel, gives its content times
    (ms, per reading; subtract it): f read off by a + c * f moves a content time by that times
    half the sweep's period, one way on the way down and the other on the way back, so the
    lead creeps along each leg and jumps at every turn of the sweep, by a whole refresh where
    c is a few thousandths. Fitted robustly to the leads (content less refresh start, which stay
    put but for held frames and lag changes); with one leg seen only c, as a is one with the
    lag there. contents_ms, leads_ms and f per reading; NaN where not read."""
    contents_ms, leads_ms, f = (np.asarray(a, float) for a in (contents_ms, leads_ms, f))
    error = np.zeros(len(f))
    read = ~(np.isnan(contents_ms) | np.isnan(leads_ms) | np.isnan(f))
    if np.count_nonzero(read) < SWEEP_FIT_READINGS:
        return error
    leg = np.where(np.mod(contents_ms, PERIOD_MS) < PERIOD_MS / 2, 1.0, -1.0)
    both = len(np.unique(leg[read])) == 2
    design = np.column_stack([np.ones(len(f)), leg * f] + ([leg] if both else []))[read]
    coefficients = _robust_fit(design, leads_ms[read])
    error[read] = design[:, 1:] @ coefficients[1:]
    return error


def _robust_fit(x, y, rounds=6):
    """Least squares coefficients of y on the columns of x, with readings far off the fit
    given less weight and less (Tukey's biweight): held frames and lag changes move leads by
    whole refreshes."""
    weights = np.ones(len(y))
    for _ in range(rounds):
        root = np.sqrt(weights)
        coefficients = np.linalg.lstsq(x * root[:, None], y * root, rcond=None)[0]
        residual = y - x @ coefficients
        scale = max(1.4826 * float(np.median(np.abs(residual))), 0.5)
        weights = np.maximum(1 - (residual / (4.685 * scale)) ** 2, 0) ** 2
    return coefficients


def _within(moments, others, reach):
    """Whether each of moments lies within reach of one of others (sorted)."""
    if not len(others):
        return np.zeros(len(moments), bool)
    index = np.searchsorted(others, moments)
    before = others[np.clip(index - 1, 0, len(others) - 1)]
    after = others[np.clip(index, 0, len(others) - 1)]
    return np.minimum(np.abs(moments - before), np.abs(moments - after)) <= reach


def _lags(refresh_starts_ms, contents_ms, refresh_ms):
    """Per refresh seen: its start, its lag (content less start, in refreshes) and the usual
    lag around it (the median of STUTTER_CONTEXT refreshes)."""
    starts, contents = _per_refresh(refresh_starts_ms, contents_ms, refresh_ms)
    lags = (contents - starts) / refresh_ms
    if len(starts) < 3:
        return starts, lags, lags
    reach = STUTTER_CONTEXT // 2
    padded = np.pad(lags, reach, mode="edge")
    return starts, lags, np.median(sliding_window_view(padded, 2 * reach + 1), axis=1)


def lag_scatter(refresh_starts_ms, contents_ms, refresh_ms):
    """The robust spread, in refreshes, of the lags read about the usual lag around each; NaN
    when too few refreshes were seen."""
    starts, lags, usual = _lags(refresh_starts_ms, contents_ms, refresh_ms)
    if len(starts) < 3:
        return float("nan")
    off = lags - usual
    # Held frames themselves are whole refreshes off: the spread of what is left.
    off = off - np.round(off)
    return float(1.4826 * np.median(np.abs(off)))


def _whole_refreshes(change):
    """Whether changes of lag (in refreshes) are a whole refresh or more, clear of the reading's
    error: a content time is read to a few ms (bar offsets are whole pixels). Changes of many
    refreshes are misreadings, not frames held."""
    change = np.abs(change)
    return (change > 1 - WHOLE_MARGIN) & (change < MAX_STUTTER_REFRESHES) & (
        np.abs(change - np.round(change)) < WHOLE_MARGIN)


def _per_refresh(refresh_starts_ms, contents_ms, refresh_ms):
    """One (start, content) per refresh seen, sorted: sightings whose starts lie within a
    quarter of a refresh are one refresh, with the median content."""
    starts = np.asarray(refresh_starts_ms, float)
    contents = np.asarray(contents_ms, float)
    keep = ~(np.isnan(starts) | np.isnan(contents))
    order = np.argsort(starts[keep])
    starts, contents = starts[keep][order], contents[keep][order]
    if not len(starts):
        return starts, contents
    groups = np.concatenate([[0], np.cumsum(np.diff(starts) > 0.25 * refresh_ms)])
    merged_starts = np.array([np.median(starts[groups == g]) for g in range(groups[-1] + 1)])
    merged = np.array([np.median(contents[groups == g]) for g in range(groups[-1] + 1)])
    return merged_starts, merged


def refreshes_seen(refresh_starts_ms, refresh_ms, begin_ms, end_ms):
    """The share of the refreshes from begin to end of which some rows were seen."""
    starts, _ = _per_refresh(refresh_starts_ms, np.zeros(len(refresh_starts_ms)), refresh_ms)
    total = max((end_ms - begin_ms) / refresh_ms, 1.0)
    return float(min(1.0, len(starts) / total))


def slips(moments, relative_scan):
    """The moments at which one display's scan passes another's a whole refresh: where their
    relative scan position (0 to 1, at the moments) turns over. Each is placed by linear
    interpolation between the frames around it."""
    moments = np.asarray(moments, float)
    relative = np.asarray(relative_scan, float)
    found = []
    for i in np.nonzero(np.abs(np.diff(relative)) > 0.5)[0]:
        a, b = relative[i], relative[i + 1]
        b_unwrapped = b + (1.0 if b < a else -1.0)
        edge = 1.0 if b < a else 0.0
        share = (edge - a) / (b_unwrapped - a) if b_unwrapped != a else 0.0
        found.append(float(moments[i] + share * (moments[i + 1] - moments[i])))
    return found


def runs(flags, moments, frame_ms):
    """Stretches where flags (one per frame) are set: (start, duration) in ms, each frame
    counting for frame_ms; stretches less than a frame apart are one."""
    found = []
    for index in np.nonzero(flags)[0]:
        moment = moments[index]
        if found and moment - (found[-1][0] + found[-1][1]) <= 1.5 * frame_ms:
            found[-1][1] = moment + frame_ms - found[-1][0]
        else:
            found.append([moment, frame_ms])
    return [tuple(run) for run in found]


@dataclass
class Course:
    """What one window showed over the video, per frame where it was read."""
    moments: list = field(default_factory=list)
    # per frame: (row fraction, read moment, sweep position, share of rows) of each stretch
    segments: list = field(default_factory=list)
    # per frame: (row fraction, read moment, sweep position above minus below, smeared)
    breaks: list = field(default_factory=list)
