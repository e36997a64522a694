#!/usr/bin/env python3
"""Where the program's time goes, from `perf script` output of a call-graph recording
(perf record --call-graph dwarf): each sample of the GUI thread is counted once, in the first
bucket whose function is on its stack; other threads are counted by name.

Usage: perf script -i perf.data | bench/perf_buckets.py
"""
import collections
import re
import sys

# "comm tid time: period event:"; a thread's name may hold spaces.
HEAD = re.compile(r"^(.*?)\s+(\d+)\s+[\d.]+:")

BUCKETS = [
    ("scroll bar paint", "QScrollBar::paintEvent"),
    ("memo text paint", "QPlainTextEdit::paintEvent"),
    ("memo text paint", "LineMemo::paintEvent"),
    ("label paint", "QLabel::paintEvent"),
    ("counters' paint", "CounterLabel::paintEvent"),
    ("group box paint", "QGroupBox::paintEvent"),
    ("frame paint", "QFrame::paintEvent"),
    ("memo document edit (ChunkEntries::LayOut)", "ChunkEntries::LayOut"),
    ("framer and link", "ZpracujPrijem"),
    ("receive, the rest", "PrijmiData"),
    ("overview refresh", "BusPanel::Refresh"),
    ("flush to the X server", "QWidgetRepaintManager::flush"),
    ("painting, the rest (backing store, backgrounds)", "paintAndFlush"),
    ("port tick, the rest", "TimerWndProc"),
    ("other timers", "activateTimers"),
    ("other posted events", "sendPostedEvents"),
    ("event loop (poll, glib)", "g_main_context_iteration"),
]


def main():
    samples = []
    for sample in sys.stdin.read().split("\n\n"):
        head = HEAD.match(sample.strip("\n"))
        if head:
            samples.append((head.group(1), head.group(2), sample))
    if not samples:
        sys.exit("no samples")
    # The GUI thread does most of the work.
    gui = collections.Counter(tid for _, tid, _ in samples).most_common(1)[0][0]
    counts = collections.Counter()
    for comm, tid, sample in samples:
        if tid != gui:
            counts[f"other thread: {comm}"] += 1
            continue
        for name, function in BUCKETS:
            if function in sample:
                counts[name] += 1
                break
        else:
            counts["GUI thread, the rest"] += 1
    for name, count in counts.most_common():
        print(f"{100.0 * count / len(samples):5.1f} %  {name}")
    print(f"{len(samples)} samples")


if __name__ == "__main__":
    main()
