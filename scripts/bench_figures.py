"""The figures docs/architecture.md states, table by table: which program and benchmark give
each, what is shown beside it from the same runs, and its goal. scripts/bench_table.py runs
and checks them.

A figure's value, its companions and its goal read one run's results: a dict from a
benchmark's name (without the parts that say how it ran, e.g. "BM_Decode/100000/0") to its
fields: "ms" (real time), "cpu_ms", the counters and Google Benchmark's rates.
"""

from collections import namedtuple

Program = namedtuple("Program", "binary filter env unset repetitions")
Figure = namedtuple("Figure", "section label program value unit beside goal margin")
Goal = namedtuple("Goal", "text met")


def program(binary, filter=None, repetitions=1, env=None, unset=()):
    return Program(binary, filter, env or {}, tuple(unset), repetitions)


SCALE_2X = {"QT_SCALE_FACTOR": "2"}

PROGRAMS = {
    "documents": program(
        "bench_documents",
        "^BM_(Decode/(10000/0|100000/(0|100))|Encode(Floor)?/100000/0|SnapshotCopy|DeepCopyWithNewIdentifiers"
        "|SaveDocument/100000/0|OpenDocument/100000/0)/"),
    # The same open with the heap on transparent huge pages, as on a machine whose setting for
    # them is "always" (this one's is "madvise", which the C library's heap does not ask for).
    "documents_thp": program("bench_documents", "^BM_Decode/100000/0/",
                             env={"GLIBC_TUNABLES": "glibc.malloc.hugetlb=1"}),
    "model": program("bench_model", "^BM_DeepCopy(OnOneThread|Floor)?/ideas:100000/", repetitions=3),
    "icloud": program("bench_icloud", "^BM_CloudMode(StartToReady|IndexChangeToList|Floor)/10000", repetitions=3),
    "crash_signals": program("bench_crash_signals", "^BM_CrashToExit"),
    "crash_unwind": program("bench_crash_unwind", "^BM_(UnwindDeepStack|GlibcBacktraceDeepStack)$", repetitions=3),
    "analytics": program("bench_analytics", "^BM_(LogCustomEvent|LogCustomEventPaced|FloorFunctionAndMutex)/"),
    "sdk_network": program("bench_sdk_network", "^BM_TelemetryWithOnCallingThread"),
    "crash_controller": program("bench_crash_controller"),
    "dropbox": program("bench_dropbox_sync", "^BM_(FirstUpload/10000|Floor/10000|HttpRoutes(Upload|Download)"
                                             "|Raw(Upload|Download))/", repetitions=3),
    # Each run is 15 starts of each kind in turns (bench/interleaved_floor.h).
    "dropbox_start": program("bench_dropbox_sync", "^BM_StartWithLetGoSavesAndLostRecords/"),
    "drag": program("bench_drag"),
    "drag_2x": program("bench_drag", env=SCALE_2X),
    "radial": program("bench_radial", "^rotation(Frame|Floor)/", repetitions=3),
    "radial_2x": program("bench_radial", "^rotation(Frame|Floor)/", repetitions=3, env=SCALE_2X),
    "editor": program("bench_editor_controller", "^BM_(Spin|Drill)TenThousandIdeas"),
    "editor_2x": program("bench_editor_controller", "^BM_(Spin|Drill)TenThousandIdeas", env=SCALE_2X),
    # Its own X server (Xvfb), as the benchmark starts one when there is no display.
    "shell": program("bench_shell", "^BM_(BareQWidgetWindow|DecodeBigMap|ColdStart|SecondLaunch)", unset=["DISPLAY"]),
    # Maps of a million ideas: the slowest starts, a table of their own.
    "map_shapes": program("bench_shell", "^BM_FlatMapUntilItsFrame/", unset=["DISPLAY"]),
    "legal": program("bench_text_document_view", repetitions=3),
    "graph": program("bench_graph", "^(snapshotGraphLayout|snapshotWalk|glideFrame|zoomFrame|composeFloor"
                                    "|firstScreenAtFit|requestCapture|requestCopyFloor)", repetitions=3),
    "export": program("bench_export"),
    "share": program("bench_share", repetitions=3),
    "edit_panels": program("bench_edit_panels", "^notePasteOneLine/"),
    "export_note": program("bench_export", "^BM_PDFOneLineNote/"),
    "edit_to_disk": program("bench_editor_controller", "^BM_ReturnToDisk/"),
}


# What a figure reads from one run.
def ms(name):
    return lambda m: m[name]["ms"]


def cpu_ms(name):
    return lambda m: m[name]["cpu_ms"]


def counter(name, key, scale=1.0):
    return lambda m: m[name][key] * scale


def over(a, b):
    """The ratio of two values of the same run."""
    return lambda m: a(m) / b(m)


def at_most(limit, of):
    return lambda m: of(m) <= limit


def at_least(limit, of):
    return lambda m: of(m) >= limit


def both(*tests):
    return lambda m: all(t(m) for t in tests)


# How far beyond its runs' range a table states a figure, as a share of the runs' median: single
# runs on a shared machine move by about a tenth; a tail (a p99, the longest of a run) or a time
# the main thread spends in a call by half.
USUAL, TAIL = 0.1, 0.5


def figure(section, label, prog, value, unit, beside=(), goal=None, margin=USUAL):
    return Figure(section, label, prog, value, unit, tuple(beside), goal, margin)


def in_turns(section, label, prog, name, goal_ratio=None, what="", extra=()):
    """A measure that ran in turns with its floor (bench/interleaved_floor.h): its ratio, with the
    medians of the measure and the floor beside it."""
    ratio = counter(name, "ratio")
    beside = [(what or "itself", counter(name, "measure_ms"), "ms"), ("floor", counter(name, "floor_ms"), "ms"),
              *extra]
    goal = Goal(f"≤ {goal_ratio}×", at_most(goal_ratio, ratio)) if goal_ratio else None
    return figure(section, label, prog, ratio, "×", beside, goal)


def to_floor(section, label, prog, name, floor, goal=None):
    """A measure beside a floor benchmark of the same run: its ratio."""
    return figure(section, label, prog, over(ms(name), ms(floor)), "×",
                  [("itself", ms(name), "ms"), ("floor", ms(floor), "ms")], goal)


DECODE = "BM_Decode/100000/0"
FIRST_TOUCHES = [("pages first touched by the open", counter(DECODE, "faults", 1e-3), "thousand"),
                 ("by the floor", counter(DECODE, "floor_faults", 1e-3), "thousand"),
                 ("a first touch", counter(DECODE, "touch_us"), "µs")]

DOCUMENTS = [
    in_turns("documents", "open, 100 000 ideas (inflate, parse, tree), to its floor", "documents", DECODE, 2,
             "open", FIRST_TOUCHES),
    in_turns("documents", "the same open, the heap on transparent huge pages, to its floor", "documents_thp", DECODE,
             2, "open", [("pages first touched by the open", counter(DECODE, "faults", 1e-3), "thousand"),
                         ("by the floor", counter(DECODE, "floor_faults", 1e-3), "thousand")]),
    in_turns("documents", "open, 100 000 ideas and 100 pictures, to its floor", "documents", "BM_Decode/100000/100",
             what="open"),
    in_turns("documents", "open, 10 000 ideas, to its floor", "documents", "BM_Decode/10000/0", what="open"),
    figure("documents", "peak memory of an open, 100 000 ideas", "documents", counter(DECODE, "peak_MiB"), "MiB",
           [("its JSON", counter(DECODE, "json_MiB"), "MiB")]),
    to_floor("documents", "encode + compress, 100 000 ideas, to its floor", "documents", "BM_Encode/100000/0",
             "BM_EncodeFloor/100000/0",
             Goal("≤ 2×", at_most(2, over(ms("BM_Encode/100000/0"), ms("BM_EncodeFloor/100000/0"))))),
    figure("documents", "main thread's time in a save, 100 000 ideas", "documents",
           counter("BM_SaveDocument/100000/0", "main_ms"), "ms",
           goal=Goal("≤ 16 ms", at_most(16, counter("BM_SaveDocument/100000/0", "main_ms")))),
    figure("documents", "main thread's longest hold in an open, 100 000 ideas", "documents",
           counter("BM_OpenDocument/100000/0", "longest_main_ms"), "ms",
           [("the call", counter("BM_OpenDocument/100000/0", "main_ms"), "ms")],
           Goal("≤ 16 ms", at_most(16, counter("BM_OpenDocument/100000/0", "longest_main_ms"))),
           margin=TAIL),
    figure("documents", "`snapshotCopy`, 100 000 ideas", "documents", ms("BM_SnapshotCopy/100000"), "ms",
           [("CPU", cpu_ms("BM_SnapshotCopy/100000"), "ms")],
           Goal("≤ 30 ms", at_most(30, ms("BM_SnapshotCopy/100000")))),
    figure("documents", "`deepCopyWithNewIdentifiers`, 100 000 ideas", "documents",
           ms("BM_DeepCopyWithNewIdentifiers/100000"), "ms",
           [("`snapshotCopy`", ms("BM_SnapshotCopy/100000"), "ms")],
           Goal("≤ 30 ms", at_most(30, ms("BM_DeepCopyWithNewIdentifiers/100000")))),
    figure("documents", "deep copy, 100 000 ideas added in random places", "model",
           ms("BM_DeepCopy/ideas:100000"), "ms",
           [("on one thread", ms("BM_DeepCopyOnOneThread/ideas:100000"), "ms"),
            ("floor", ms("BM_DeepCopyFloor/ideas:100000"), "ms")],
           Goal("≤ 30 ms", at_most(30, ms("BM_DeepCopy/ideas:100000")))),
]

START, CHANGE = "BM_CloudModeStartToReady/10000", "BM_CloudModeIndexChangeToList/10000"
ICLOUD = [
    figure("icloud", "longest main-thread step, start to the list of 10 000 documents, CPU", "icloud",
           counter(START, "max_cpu_step_ms"), "ms",
           [("wall, the median run's longest", counter(START, "run_max_step_ms"), "ms")], margin=TAIL),
    figure("icloud", "longest main-thread step, index change to the new list, CPU", "icloud",
           counter(CHANGE, "max_cpu_step_ms"), "ms",
           [("wall, the median run's longest", counter(CHANGE, "run_max_step_ms"), "ms")], margin=TAIL),
    figure("icloud", "leaving the location (closing the workspace)", "icloud", counter(START, "close_step_ms"), "ms"),
    to_floor("icloud", "start to the list, to its floor (scan and index read)", "icloud", START,
             "BM_CloudModeFloor/10000"),
]

DROPBOX = [
    in_turns("dropbox", "a start of 1 000 maps, each with an earlier save to let go of, to a start with nothing "
             "to sort", "dropbox_start", "BM_StartWithLetGoSavesAndLostRecords/1000/0", 1.5, "start"),
    in_turns("dropbox", "the same and 200 maps whose records were lost, to a start of as many with nothing to sort",
             "dropbox_start", "BM_StartWithLetGoSavesAndLostRecords/1000/200", 1.5, "start"),
]


def per_frame_us(name):
    return lambda m: 1e6 / m[name]["items_per_second"]


def us(name, key):
    return counter(name, key, 1e-3)


def crash(threads):
    name = f"BM_CrashToExit/threads:{threads}"
    label = f"crash to exit, {threads} thread{'s' if threads > 1 else ''}: p99 the kit adds"
    return figure("sdk", label, "crash_signals",
                  counter(name, "added_p99_ms"), "ms",
                  [("p50", counter(name, "p50_ms"), "ms"), ("p99", counter(name, "p99_ms"), "ms"),
                   ("without the kit p99", counter(name, "floor_p99_ms"), "ms")],
                  Goal("≤ +10 ms", at_most(10, counter(name, "added_p99_ms"))), margin=TAIL)


def event(label, name, floor):
    return figure("sdk", label, "analytics", us(name, "p99_ns"), "µs",
                  [("p50", us(name, "p50_ns"), "µs"), ("lock + empty call p99", us(floor, "p99_ns"), "µs")],
                  Goal("p99 ≤ 2 µs", at_most(2, us(name, "p99_ns"))), margin=TAIL)


def download(size, label):
    name = f"BM_HttpRoutesDownload/{size}"
    return figure("sdk", f"Dropbox download of {label} through `HttpRoutes`: share of a bare transfer", "dropbox",
                  counter(name, "share_of_raw", 100), "%", [("MB/s", counter(name, "bytes_per_second", 1e-6), "")],
                  Goal("≥ 80 %", at_least(0.8, counter(name, "share_of_raw"))))


def upload(size, label):
    name = f"BM_HttpRoutesUpload/{size}"
    return figure("sdk", f"Dropbox upload of {label} through `HttpRoutes`, MB/s", "dropbox",
                  counter(name, "bytes_per_second", 1e-6), "",
                  [("bare upload", counter(f"BM_RawUpload/{size}", "bytes_per_second", 1e-6), "MB/s")])


CONTROLLER = "BM_ControllerStartWith20EarlierReports"
SDK_START = "BM_TelemetryWithOnCallingThread"
SDK = [
    crash(1),
    crash(64),
    figure("sdk", "unwinding, a frame (64 frames and the benchmark's own)", "crash_unwind",
           per_frame_us("BM_UnwindDeepStack"), "µs",
           [("glibc `backtrace()`", per_frame_us("BM_GlibcBacktraceDeepStack"), "µs")],
           Goal("≤ 3 µs", at_most(3, per_frame_us("BM_UnwindDeepStack")))),
    event("recording an event, 1 thread, a burst of 50 000: p99", "BM_LogCustomEvent/threads:1",
          "BM_FloorFunctionAndMutex/0/threads:1"),
    event("recording an event, 8 threads, a burst: p99 over all threads", "BM_LogCustomEvent/threads:8",
          "BM_FloorFunctionAndMutex/0/threads:8"),
    event("recording an event every 50 µs, 1 thread: p99", "BM_LogCustomEventPaced/threads:1",
          "BM_FloorFunctionAndMutex/1/threads:1"),
    event("recording an event every 50 µs, 8 threads: p99", "BM_LogCustomEventPaced/threads:8",
          "BM_FloorFunctionAndMutex/1/threads:8"),
    figure("sdk", "SDK start on the calling thread, wall p50 (a fresh process each)", "sdk_network",
           counter(SDK_START, "wall_p50_ms"), "ms", [("process CPU p50", counter(SDK_START, "cpu_p50_ms"), "ms")],
           Goal("≤ 5 ms", at_most(5, counter(SDK_START, "wall_p50_ms"))), margin=TAIL),
    figure("sdk", "crash controller start with 20 waiting reports, over none", "crash_controller",
           counter(CONTROLLER, "over_floor_ms"), "ms",
           [("with none", counter(CONTROLLER, "floor_ms"), "ms"), ("CPU", counter(CONTROLLER, "start_cpu_ms"), "ms"),
            ("with none, CPU", counter(CONTROLLER, "floor_cpu_ms"), "ms")],
           Goal("≤ +2 ms", at_most(2, counter(CONTROLLER, "over_floor_ms"))), margin=TAIL),
    download(1 << 20, "1 MiB"),
    download(20 << 20, "20 MiB"),
    upload(1 << 20, "1 MiB"),
    upload(20 << 20, "20 MiB"),
    to_floor("sdk", "first upload of 10 000 documents, to its floor", "dropbox", "BM_FirstUpload/10000",
             "BM_Floor/10000", Goal("≤ 3×", at_most(3, over(ms("BM_FirstUpload/10000"), ms("BM_Floor/10000"))))),
]


def drag(label, name, prog, step_goal):
    ratio = counter(name, "ratio")
    tests = [at_most(1.25, ratio)] + ([at_most(4, ms(name))] if step_goal else [])
    return figure("drag", label, prog, ms(name), "ms",
                  [("floor", counter(name, "floor_us", 1e-3), "ms"), ("to the floor", ratio, "×")],
                  Goal("≤ 1.25× its floor" + (" and ≤ 4 ms" if step_goal else ""), both(*tests)))


DRAG = [
    drag("a step over the home grid, drop focus following, 1×", "BM_DragOverHomeGrid/focus:1", "drag", True),
    drag("a step over the home grid, no focus, 1×", "BM_DragOverHomeGrid/focus:0", "drag", True),
    drag("a step over a sun of 100 planets, 1×", "BM_DragOverSunOfAHundredPlanets", "drag", True),
    drag("a step over the home grid, drop focus following, 2×", "BM_DragOverHomeGrid/focus:1", "drag_2x", False),
    drag("a step over the home grid, no focus, 2×", "BM_DragOverHomeGrid/focus:0", "drag_2x", False),
    drag("a step over a sun of 100 planets, 2×", "BM_DragOverSunOfAHundredPlanets", "drag_2x", False),
]


def rotation(planets, prog, scale):
    name, floor = f"rotationFrame/{planets}", f"rotationFloor/{planets}"
    ratio = over(ms(name), ms(floor))
    tests = [at_most(1.3, ratio)] + ([at_most(4, ms(name))] if scale == "1×" else [])
    return figure("radial", f"rotation frame, {planets} planets, {scale}", prog, ms(name), "ms",
                  [("bare painter blitting the same pictures", ms(floor), "ms"), ("to it", ratio, "×")],
                  Goal("≤ 1.3× the bare painter" + (" and ≤ 4 ms" if scale == "1×" else ""), both(*tests)))


def spin(prog, scale):
    name = "BM_SpinTenThousandIdeas"
    return figure("radial", f"spin on the 10 000-idea map, longest frame, {scale}", prog,
                  counter(name, "longest_frame_ms"), "ms",
                  [("a frame", ms(name), "ms"), ("orbit behind the pointer at most", counter(name, "max_lag_frames"),
                                                  "frames")],
                  Goal("every frame ≤ 8 ms, ≤ 1 frame behind",
                       both(at_most(8, counter(name, "longest_frame_ms")),
                            at_most(1, counter(name, "max_lag_frames")))), margin=TAIL)


def drill(prog, scale):
    name = "BM_DrillTenThousandIdeas"
    longest = lambda m: max(m[name]["longest_frame_ms"], m[name]["longest_turn_before_ms"])  # noqa: E731
    return figure("radial", f"drill on the 10 000-idea map, longest frame or turn before it, {scale}", prog,
                  longest, "ms",
                  [("a frame", ms(name), "ms"), ("longest first frame", counter(name, "longest_first_frame_ms"), "ms"),
                   ("main thread's CPU in the longest", counter(name, "longest_frame_cpu_ms"), "ms"),
                   ("the window composed at rest", counter(name, "floor_ms"), "ms")],
                  Goal("every frame and turn ≤ 8 ms", at_most(8, longest)), margin=TAIL)


RADIAL = [rotation(9, "radial", "1×"), rotation(100, "radial", "1×"), rotation(9, "radial_2x", "2×"),
          rotation(100, "radial_2x", "2×"), spin("editor", "1×"), spin("editor_2x", "2×"),
          drill("editor", "1×"), drill("editor_2x", "2×")]


def paired_start(label, name, goal_ratio):
    ratio = counter(name, "ratio")
    return figure("startup", label, "shell", ratio, "×",
                  [("the start", ms(name), "ms"), ("its floors", counter(name, "floor_ms"), "ms")],
                  Goal(f"≤ {goal_ratio}×", at_most(goal_ratio, ratio)))


HANDOVER = "BM_SecondLaunchHandingAFileOver"
STARTUP = [
    paired_start("cold start, fresh home, to the first window's frame, to a bare window",
                 "BM_ColdStartUntilFirstFrame/0", 2),
    paired_start("later start (a start and quit before), to a bare window", "BM_ColdStartUntilFirstFrame/1", 2),
    paired_start("start with the 100 000-idea map to its window's frame, to a bare window + the decode",
                 "BM_ColdStartWithBigMapUntilItsFrame", 1.5),
    figure("startup", "second launch handing a map over, to its window's frame", "shell", ms(HANDOVER), "ms",
           goal=Goal("≤ 100 ms", at_most(100, ms(HANDOVER)))),
    figure("startup", "bare `QWidget` window to its first paint (median of ten)", "shell",
           ms("BM_BareQWidgetWindowUntilFirstPaint"), "ms"),
    figure("startup", "decoding the 100 000-idea map alone in a fresh process", "shell",
           ms("BM_DecodeBigMapFloor"), "ms"),
]

def flat_map(ideas, label):
    name = f"BM_FlatMapUntilItsFrame/{ideas}"
    time, memory = counter(name, "ratio"), counter(name, "memory_ratio")
    return [
        figure("map_shapes",
               f"start with {label} ideas under the sun to its window's frame, to the same 100 to a planet",
               "map_shapes", time, "×",
               [("the flat map", ms(name), "ms"), ("100 to a planet", counter(name, "grouped_ms"), "ms")],
               Goal("≤ 2×", at_most(2, time))),
        figure("map_shapes", f"peak memory then, {label} ideas under the sun, to the same 100 to a planet",
               "map_shapes", memory, "×", [("the flat map", counter(name, "flat_MiB"), "MiB"),
                                           ("100 to a planet", counter(name, "grouped_MiB"), "MiB")],
               Goal("≤ 2×", at_most(2, memory))),
    ]


MAP_SHAPES = flat_map(10000, "10 000") + flat_map(100000, "100 000") + flat_map(999990, "999 990")

LEGAL = [to_floor("legal", "sizing the legal notices' view, to one bare layout", "legal", "BM_LegalTextViewSized",
                  "BM_LegalTextOneLayout")]

GRAPH = [
    figure("graph", "longest main-thread step to the first screen at fit, 50 000 ideas", "graph",
           counter("firstScreenAtFit", "longest_step_ms"), "ms",
           goal=Goal("< 16 ms", lambda m: m["firstScreenAtFit"]["longest_step_ms"] < 16),
           margin=TAIL),
    to_floor("graph", "the request's capture, to the bare tree copy", "graph", "requestCapture", "requestCopyFloor"),
    figure("graph", "snapshot, graph and layout (off the main thread)", "graph", ms("snapshotGraphLayout"), "ms",
           [("floor, a walk of the snapshot copy", ms("snapshotWalk"), "ms")],
           Goal("< 100 ms", lambda m: m["snapshotGraphLayout"]["ms"] < 100)),
    figure("graph", "zoom frame, 1×", "graph", ms("zoomFrame"), "ms",
           [("main thread's CPU", cpu_ms("zoomFrame"), "ms"),
            ("floor, the same tiles composed", ms("composeFloor"), "ms")],
           Goal("≤ 4 ms", at_most(4, ms("zoomFrame")))),
    figure("graph", "glide frame, 1×", "graph", ms("glideFrame"), "ms",
           goal=Goal("≤ 4 ms", at_most(4, ms("glideFrame")))),
]


def against_json(label, name, goal_ratio=None):
    return in_turns("exports", label, "export", name, goal_ratio, what="export")


def export_to(label, name, floor, goal_ratio=None, prog="export"):
    goal = Goal(f"≤ {goal_ratio}×", at_most(goal_ratio, over(ms(name), ms(floor)))) if goal_ratio else None
    return to_floor("exports", label, prog, name, floor, goal)


PANE = "BM_ImagePaneWritesChosenFile"
EXPORTS = [
    against_json("PDF, 10 000 ideas with notes, to the JSON encoding", "BM_PDF", 8),
    against_json("presentation, to the JSON encoding", "BM_Presentation", 12),
    against_json("web page, to the JSON encoding", "BM_WebPage", 8),
    against_json("text outline, to the JSON encoding", "BM_TextOutline", 0.5),
    against_json("HTML list, to the JSON encoding", "BM_HTMLList", 0.5),
    against_json("OPML, to the JSON encoding", "BM_OPML", 0.5),
    against_json("calling thread's snapshot, to the JSON encoding", "BM_CallingThreadSnapshot", 0.1),
    export_to("PDF map page, 10 000 ideas, to bare `QPdfWriter` calls", "BM_PDFMapPageOnly",
              "BM_BarePdfWriterMap10000"),
    export_to("PDF, 1 000 ideas with notes, to bare `QPdfWriter` calls", "BM_PDFOutline1000",
              "BM_BarePdfWriterOutline1000", 1.5),
    export_to("PNG, 10 000 ideas, to encoding its pixels", "BM_PNG", "BM_PNGEncodeOnly"),
    figure("exports", "picture pane: the main thread's time", "share", counter(PANE, "main_ms"), "ms",
           goal=Goal("≤ 16 ms", at_most(16, counter(PANE, "main_ms"))), margin=TAIL),
    export_to("picture pane until written, to the PNG writer alone", PANE, "BM_PNGWriterAlone", prog="share"),
    export_to("text pane until written, to the writer + an atomic write", "BM_TextPaneWritesChosenFile",
              "BM_WriterPlusAtomicWrite", prog="share"),
]

NOTE_PASTE = "notePasteOneLine/1000000"
NOTE_PASTE_TENTH = "notePasteOneLine/100000"


def note_key(label, prefix):
    longest = counter(NOTE_PASTE, f"{prefix}key_max_ms")
    median = counter(NOTE_PASTE, f"{prefix}key_ms")
    return figure("note", label, "edit_panels", longest, "ms", [("median", median, "ms")],
                  Goal("≤ 250 ms", at_most(250, longest)), margin=TAIL)


def note_step(label, name, step):
    """An undo or a redo of the one line until shown, to the same of the lines in the same run."""
    ratio = counter(name, f"{step}_ratio")
    return figure("note", label, "edit_panels", ratio, "×",
                  [("one line", counter(name, f"{step}_ms"), "ms"), ("lines", counter(name, f"lined_{step}_ms"), "ms")],
                  Goal("≤ 2×", at_most(2, ratio)))


NOTE = [
    in_turns("note", "999 997 characters pasted as one line until shown, to the same in lines of 80", "edit_panels",
             NOTE_PASTE, 2, "one line"),
    note_key("a key typed after the one line until shown, the longest of a run", ""),
    note_key("a key typed after the lines until shown, the longest of a run", "lined_"),
    note_step("the one line, emptied, brought back by Ctrl+Z until shown, to the same for the lines", NOTE_PASTE,
              "undo"),
    note_step("the one line's paste, undone, brought back by a redo until shown, to the same for the lines",
              NOTE_PASTE, "redo"),
    note_step("the same Ctrl+Z at 99 997 characters", NOTE_PASTE_TENTH, "undo"),
    note_step("the same redo at 99 997 characters", NOTE_PASTE_TENTH, "redo"),
]

NOTE_PAGES = [
    in_turns("note_pages", "PDF of a note of 1 000 000 characters as one line, to the same in lines of 80",
             "export_note", "BM_PDFOneLineNote", 2, "one line"),
]


def return_to_disk(ideas, label):
    name = f"BM_ReturnToDisk/{ideas}"
    return in_turns("edit_to_disk", f"Return in the sun's edit popover to its file on disk, {label} ideas under the sun, "
                    "to the same in planets of 100", "edit_to_disk", name, 2, "the flat map",
                    [("the main thread in the Return, flat", counter(name, "flat_main_ms"), "ms"),
                     ("in planets", counter(name, "grouped_main_ms"), "ms")])


EDIT_TO_DISK = [return_to_disk(100000, "100 000"), return_to_disk(999990, "999 990")]

FIGURES = (DOCUMENTS + ICLOUD + DROPBOX + SDK + DRAG + RADIAL + STARTUP + MAP_SHAPES + LEGAL + GRAPH + EXPORTS + NOTE + NOTE_PAGES
           + EDIT_TO_DISK)
SECTIONS = list(dict.fromkeys(f.section for f in FIGURES))
