"""Windows of several machines on one wall: each machine's groups placed where its desktop lies
on the wall, and the machines whose bars follow one clock.

Positions are in wall pixels: a machine's desktop pixel (x, y) lies at wall pixel (x + X, y + Y)
for the machine placed at X, Y. A single machine has no name and lies at 0, 0, so its groups
keep their own coordinates and names.
"""

import numpy as np

from analyser.course import SAME_CLOCK_MS, wrapped
from analyser.pattern import PERIOD_MS


class Group(tuple):
    """A window's group on the wall: (x, y, width, height, mode), x and y in wall pixels, with
    the machine it belongs to and where that machine's desktop lies."""

    def __new__(cls, x, y, width, height, mode, machine="", origin=(0, 0)):
        group = super().__new__(cls, (x, y, width, height, mode))
        group.machine, group.origin = machine, tuple(origin)
        return group

    @property
    def arguments(self):
        """The five values of the machine's own command line."""
        return [self[0] - self.origin[0], self[1] - self.origin[1], *self[2:]]

    @property
    def name(self):
        """x,y on the machine's desktop, after the machine's name and a slash if it has one."""
        local = f"{self[0] - self.origin[0]},{self[1] - self.origin[1]}"
        return f"{self.machine}/{local}" if self.machine else local


def group_name(group):
    """The name of a window of the group: a Group's, or x,y for a plain tuple."""
    return group.name if isinstance(group, Group) else f"{group[0]},{group[1]}"


def machine_of(group):
    return group.machine if isinstance(group, Group) else ""


def arguments(group):
    """The five values of the group's own command line."""
    return group.arguments if isinstance(group, Group) else list(group)


def place(machines, places):
    """The Groups of every machine on the wall. machines: (name, groups) pairs in the order
    given, groups being (x, y, width, height, mode) on that machine's desktop; places: name to
    (X, Y). A machine with no place stands right of the one before it, tops aligned."""
    placed, right = [], 0
    for name, groups in machines:
        left = min((g[0] for g in groups), default=0)
        origin = places.get(name, (right - left, 0))
        placed += [Group(g[0] + origin[0], g[1] + origin[1], *g[2:], machine=name,
                         origin=origin) for g in groups]
        right = max([right] + [g[0] + g[2] + origin[0] for g in groups])
    return placed


def clocks(machine_names, leads_ms):
    """Which machines run on one clock, by how their windows' content agrees: a clock number
    for each machine, 0 for the clock of the most machines (ties to the one given first).
    machine_names: one per window; leads_ms: each window's content time (ms, NaN where not
    read). A machine's own windows share its clock; machines with no content read join
    clock 0."""
    names = list(dict.fromkeys(machine_names))
    leads = np.asarray(leads_ms, float)
    own = {}
    for name in names:
        mine = leads[[m == name for m in machine_names]]
        mine = mine[~np.isnan(mine)]
        own[name] = _circular_mean(mine) if len(mine) else None
    number, references = {}, []
    for name in names:
        if own[name] is None:
            continue
        for index, reference in enumerate(references):
            if abs(wrapped(own[name] - reference, PERIOD_MS)) < SAME_CLOCK_MS:
                number[name] = index
                break
        else:
            number[name] = len(references)
            references.append(own[name])
    sizes = np.bincount(list(number.values()), minlength=1)
    largest = int(np.argmax(sizes))
    renumber = {largest: 0, **{n: n + (n < largest) for n in range(len(references))
                               if n != largest}}
    return {name: renumber[number[name]] if name in number else 0 for name in names}


def _circular_mean(values_ms):
    """The mean of content times near each other, however they fall about the period's wrap."""
    first = values_ms[0]
    return first + float(np.mean(wrapped(values_ms - first, PERIOD_MS)))
