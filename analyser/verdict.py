"""The three answers a photo or a video can give, and what settles each: NOT IN SYNC when
something read is out of sync; CANNOT TELL when nothing read is, but some part of the
judgement is not settled (a window not found or not judged, a scan-out position not seen);
IN SYNC when all of it is settled."""

from dataclasses import dataclass, field

import numpy as np

IN_SYNC, NOT_IN_SYNC, CANNOT_TELL = "in sync", "not in sync", "cannot tell"


@dataclass
class Unsettled:
    what: str  # what the picture does not settle
    advice: str  # what to do about it


@dataclass
class Judgement:
    faults: list = field(default_factory=list)  # what read is out of sync
    unsettled: list = field(default_factory=list)  # Unsettled
    settled: list = field(default_factory=list)  # what read is in sync

    @property
    def answer(self):
        if self.faults:
            return NOT_IN_SYNC
        return CANNOT_TELL if self.unsettled else IN_SYNC

    @property
    def in_sync(self):
        """True, False, or None when it cannot be told."""
        return {IN_SYNC: True, NOT_IN_SYNC: False, CANNOT_TELL: None}[self.answer]

    @property
    def reasons(self):
        """Why the answer is what it is: the faults; for CANNOT TELL what was not settled; for
        IN SYNC what was."""
        if self.faults:
            return list(self.faults)
        if self.unsettled:
            return [u.what for u in self.unsettled]
        return list(self.settled)

    def json(self):
        return {"verdict": self.answer, "in_sync": self.in_sync, "reasons": self.reasons,
                "settled": self.settled,
                "unsettled": [{"what": u.what, "advice": u.advice} for u in self.unsettled]}

    def lines(self):
        """The verdict and its reasons, for the summary."""
        lines = ["", "verdict: " + self.answer.upper()]
        lines += [f"  - {fault}" for fault in self.faults]
        if self.answer == CANNOT_TELL:
            lines += [f"  settled: {statement}" for statement in self.settled]
        elif self.answer == IN_SYNC:
            lines += [f"  - {statement}" for statement in self.settled]
        for point in self.unsettled:
            lines += [f"  not settled: {point.what}", f"    what to do: {point.advice}"]
        return lines


def may_be_behind(lag_ms, doubt_ms, limit_ms):
    """Whether a lag read to within doubt_ms may reach limit_ms."""
    return lag_ms + doubt_ms >= limit_ms


def surest_behind(leads_ms, doubts_ms):
    """For each window, whose content leads by leads_ms (ms, larger further ahead) as read to
    doubts_ms: (ms behind, doubt ms, index) of the other window it is surest to be behind, the
    one it is most behind beyond the doubt of both; None for a window alone."""
    leads, doubts = np.asarray(leads_ms, float), np.asarray(doubts_ms, float)
    behind = leads[None, :] - leads[:, None]
    doubt = np.hypot(doubts[None, :], doubts[:, None])
    margin = np.where(np.eye(len(leads), dtype=bool), -np.inf, behind - doubt)
    surest = []
    for index in range(len(leads)):
        other = int(np.argmax(margin[index])) if len(leads) > 1 else None
        surest.append(None if other is None else (float(behind[index, other]),
                                                  float(doubt[index, other]), other))
    return surest


def judge_behind(judgement, behind, lag_ms, doubt_ms, limit_ms, why, advice):
    """A lag of limit_ms or more beyond its doubt is a fault (behind says whose); one that
    only may be is not settled (why says why it is read no closer)."""
    if lag_ms - doubt_ms >= limit_ms:
        judgement.faults.append(behind)
    elif may_be_behind(lag_ms, doubt_ms, limit_ms):
        judgement.unsettled.append(Unsettled(
            f"{behind}, read only to {doubt_ms:.1f} ms {why}: whether it shows the same frame "
            "as its leader cannot be told", advice))
