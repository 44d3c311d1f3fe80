"""Timing loops shared by the benchmark and the examples: minima over rounds
that interleave the entries, so that load from elsewhere on the machine hits
all of them alike.

An entry is a statement with the namespace it runs in, by name; the results
are seconds per execution of each, under the same names.
"""

import math
import time
import timeit
from dataclasses import dataclass


@dataclass(frozen=True)
class Statement:
    code: str
    namespace: dict


def calling(function):
    """A statement calling `function` without arguments."""
    return Statement("function()", {"function": function})


def timers(entries, budget):
    """A timeit.Timer per entry, its namespace bound to local variables of the
    timing loop, with the number of executions that takes about `budget`
    seconds."""
    made = {}
    for name, statement in entries.items():
        setup = "; ".join(f"{key} = _ns[{key!r}]" for key in statement.namespace)
        timer = timeit.Timer(statement.code, setup, globals={"_ns": statement.namespace})
        number = 1
        while (elapsed := timer.timeit(number)) < budget / 10:
            number *= 10
        made[name] = (timer, max(1, int(number * budget / elapsed)))
    return made


def race(entries, repeat, budget):
    """Seconds per execution of each entry: the minimum over `repeat` rounds of
    about `budget` seconds each."""
    best = dict.fromkeys(entries, math.inf)
    timed = timers(entries, budget)
    for _ in range(repeat):
        for name, (timer, number) in timed.items():
            best[name] = min(best[name], timer.timeit(number) / number)
    return best


def race_large(entries, seconds, batch=0.002, turn=0.05):
    """Seconds per execution of each entry on large operands: the fastest
    batch of about `batch` seconds (one execution if that takes longer). The
    entries take turns of about `turn` seconds, each opened by an untimed
    batch that brings its operands back into the caches, for about `seconds`
    in all and at least three rounds."""
    best = dict.fromkeys(entries, math.inf)
    timed = timers(entries, batch)
    start, rounds = time.perf_counter(), 0
    while rounds < 3 or time.perf_counter() - start < seconds:
        for name, (timer, number) in timed.items():
            timer.timeit(number)
            begin = time.perf_counter()
            while True:
                best[name] = min(best[name], timer.timeit(number) / number)
                if time.perf_counter() - begin >= turn:
                    break
        rounds += 1
    return best
