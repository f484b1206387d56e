#!/usr/bin/env python3
"""Install time under Wine: our installer against an NSIS installer of the same payload.

The payload is the large one of the tests under Wine (the MinGW-w64 i686 runtime DLLs in
five copies and 3,000 small files, more than 30 MB) without the test program. Ours is
timed from the press of Install to the end of the process, at the packer's default level
and at -9, each with every copy stored (--no-dedupe) and with identical files stored
once; NSIS (makensis, SetCompressor /SOLID lzma) is run with /S and timed from its start to
its end. Each figure is the best of three runs into an empty folder; the runs go in rounds,
every installer once a round, so that none pays for the writeback another left behind.

Wine adds a fixed cost to every run: on Xvfb without a window manager it waits about 2 s
for a closed dialog to be withdrawn, and starting a process costs a second. Each installer
is therefore also timed with a payload of one small file, and the table gives the time
net of that fixed cost: the extraction itself.

usage: install_bench.py [--runs N] [--keep] [--arch i686|x86_64] [--rows TEXT...]   (run from the source tree's root, after the
mingw presets and build/host/zpx are built; scripts/bench-install.sh does that)
"""
import argparse
import os
import shutil
import subprocess
import sys
import tempfile
import time

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), ".."))
sys.path.insert(0, os.path.join(ROOT, "tests", "wine"))
import wine_tests as wt  # noqa: E402  (the harness of the tests under Wine)

NSIS_SCRIPT = """Unicode true
Target {target}
SetCompressor /SOLID lzma
Name "Zarpex"
OutFile "{out}"
InstallDir "C:\\Zarpex"
RequestExecutionLevel admin
Section
  SetOutPath "$INSTDIR"
  File /r "{payload}/*"
SectionEnd
"""


def installer_path(ctx, name):
    """Where an installer goes inside the prefix (the folder made on first use)."""
    folder = os.path.join(ctx.wine.drive_c, "installers")
    os.makedirs(folder, exist_ok=True)
    return os.path.join(folder, name + ".exe")


def make_nsis(ctx, payload, name):
    """An NSIS installer of the payload folder; its Windows path."""
    target = "x86-unicode" if ctx.arch == "i686" else "amd64-unicode"
    out = installer_path(ctx, name)
    script = os.path.join(ctx.workdir, name + ".nsi")
    with open(script, "w") as f:
        f.write(NSIS_SCRIPT.format(target=target, out=out, payload=payload))
    result = wt.run(["makensis", "-V2", script], limit=1800)
    wt.expect(result.returncode == 0, "makensis failed: " + result.stdout[-600:])
    return "C:\\installers\\" + name + ".exe"


def make_ours(ctx, payload, name, options=()):
    archive = os.path.join(ctx.workdir, name + ".zpx")
    result = wt.run([ctx.zpx, "build", "-o", archive] + list(options) + [payload], limit=1800)
    wt.expect(result.returncode == 0, "zpx build failed: " + result.stderr[-600:])
    out = installer_path(ctx, name)
    result = wt.run([ctx.zpx, "wrap", "--stub", ctx.stub, "-o", out, archive], limit=120)
    wt.expect(result.returncode == 0, "zpx wrap failed: " + result.stderr[-600:])
    return "C:\\installers\\" + name + ".exe"


def installed_bytes(ctx, folder):
    total = 0
    for base, _, files in os.walk(ctx.wine.host_path(folder)):
        total += sum(os.path.getsize(os.path.join(base, f)) for f in files)
    return total


def fresh_folder(ctx, folder):
    shutil.rmtree(ctx.wine.host_path(folder), ignore_errors=True)
    ctx.wine.forget_installation()


def time_ours(ctx, installer, folder):
    """Seconds from the press of Install (Enter in the main dialog) to the process's end."""
    fresh_folder(ctx, folder)
    run_ = ctx.wine.start(installer, ctx.trace_file("bench"))
    try:
        dialog = run_.new_window()
        run_.type(dialog, folder)
        wt.run(["xdotool", "windowfocus", "--sync", str(dialog)], env=ctx.wine.env)
        start = time.monotonic()
        wt.run(["xdotool", "key", "--window", str(dialog), "Return"], env=ctx.wine.env)
        run_.process.wait(300)
        return time.monotonic() - start
    finally:
        run_.abandon()


def time_nsis(ctx, installer, folder):
    """Seconds from the start of the silent installer to its end."""
    fresh_folder(ctx, folder)
    start = time.monotonic()
    result = ctx.wine.run([installer, "/S", "/D=" + folder], limit=300,
                          cwd=os.path.join(ctx.wine.drive_c, "installers"))
    elapsed = time.monotonic() - start
    wt.expect(result.returncode == 0, "the NSIS installer failed: %d" % result.returncode)
    return elapsed


def timed_run(ctx, timer, installer, folder, expected):
    elapsed = timer(ctx, installer, folder)
    got = installed_bytes(ctx, folder)
    wt.expect(got == expected, "%s installed %d bytes, not %d" % (installer, got, expected))
    return elapsed


def best_of_rounds(ctx, runs, entries):
    """Times every entry (installer, folder, expected bytes, timer) once per round, rounds
    in turn: a row timed only after another's runs would pay for the writeback of the
    files they left, which made whichever row came second look slower. Returns each
    entry's (best, all times)."""
    times = [[] for _ in entries]
    for round_ in range(runs):
        # Every other round in reverse, so that no entry always follows the same one.
        order = list(range(len(entries)))
        if round_ % 2:
            order.reverse()
        for i in order:
            installer, folder, expected, timer = entries[i]
            times[i].append(timed_run(ctx, timer, installer, folder, expected))
    return [(min(t), t) for t in times]


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--runs", type=int, default=3)
    parser.add_argument("--keep", action="store_true")
    parser.add_argument("--rows", nargs="+", metavar="TEXT",
                        help="only the rows whose label contains one of these")
    parser.add_argument("--arch", choices=["i686", "x86_64"],
                        help="the stub to time (default: i686 where this machine runs it)")
    args = parser.parse_args()

    arch, note = args.arch or "i686", None
    missing = wt.i686_unavailable() if arch == "i686" else None
    if missing is not None:
        if args.arch:
            print("the i686 stub cannot run here: " + missing[1], file=sys.stderr)
            return 1
        arch, note = "x86_64", missing[1]
    workdir = tempfile.mkdtemp(prefix="zarpex-bench-")
    display = wt.Display()
    wine = None
    try:
        wine = wt.Wine(workdir, display.name, arch)
        ctx = wt.Context(args, workdir, wine, arch)
        large = wt.LargePayload(ctx, name="bench", with_program=False)
        one = os.path.join(workdir, "one")
        os.makedirs(one)
        with open(os.path.join(one, "readme.txt"), "wb") as f:
            f.write(b"Zarpex\r\n")

        print("building the installers (%s, %d bytes in %d entries)..." %
              (arch, large.size, len(large.order)), flush=True)
        # (label, how to make the installer, timer); installers are made only for the
        # rows chosen, each timer's one-file installer once.
        rows = [("ours, default level, every copy stored",
                 lambda: make_ours(ctx, large.folder, "ours7", ["--no-dedupe"]), time_ours),
                ("ours, -9, every copy stored",
                 lambda: make_ours(ctx, large.folder, "ours9", ["-9", "--no-dedupe"]), time_ours),
                ("ours, default level, identical files stored once",
                 lambda: make_ours(ctx, large.folder, "ours7-once"), time_ours),
                ("ours, -9, identical files stored once",
                 lambda: make_ours(ctx, large.folder, "ours9-once", ["-9"]), time_ours),
                ("NSIS, SetCompressor /SOLID lzma, /S",
                 lambda: make_nsis(ctx, large.folder, "nsis"), time_nsis)]
        rows = [r for r in rows if args.rows is None or any(k in r[0] for k in args.rows)]
        one_file = {time_ours: lambda: make_ours(ctx, one, "ours-one"),
                    time_nsis: lambda: make_nsis(ctx, one, "nsis-one")}
        rows = [(label, make(), timer) for label, make, timer in rows]
        timers = []
        for _, _, timer in rows:
            if timer not in timers:
                timers.append(timer)
        fixed_installers = [one_file[timer]() for timer in timers]
        entries = ([(installer, "C:\\Bench\\One", 8, timer)
                    for installer, timer in zip(fixed_installers, timers)] +
                   [(installer, "C:\\Bench\\Zarpex", large.size, timer)
                    for _, installer, timer in rows])
        measured = best_of_rounds(ctx, args.runs, entries)
        fixed = dict(zip(timers, measured[:len(timers)]))
        results = []
        for (label, installer, timer), total in zip(rows, measured[len(timers):]):
            size = os.path.getsize(ctx.wine.host_path(installer))
            results.append((label, size, total, fixed[timer]))
            print("%s: %d bytes; best %.2f s (runs %s); one-file installer best %.2f s" %
                  (label, size, total[0], ", ".join("%.2f" % t for t in total[1]),
                   fixed[timer][0]), flush=True)

        print()
        print("Payload: %d bytes in %d files and folders; Wine %s, %s stubs%s" % (
            large.size, len(large.order),
            wt.run([ctx.wine.loader, "--version"], env=ctx.wine.env).stdout.strip(), arch,
            "" if note is None else " (" + note + ")"))
        print()
        print("| Installer | Size (bytes) | Install to exit, best of %d (s) | "
              "One-file installer (s) | Net extraction (s) |" % args.runs)
        print("|---|---:|---:|---:|---:|")
        for label, size, total, one_file in results:
            print("| %s | %d | %.2f | %.2f | %.2f |" %
                  (label, size, total[0], one_file[0], total[0] - one_file[0]))
    finally:
        if wine is not None:
            wine.close()
        display.close()
        if args.keep:
            print("kept " + workdir)
        else:
            shutil.rmtree(workdir, ignore_errors=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
