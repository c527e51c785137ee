#!/usr/bin/python3
"""Type 42 conversion speed: korrin against a peer and against the floor.

Converts each font with
  korrin       build/korrin convert FONT -o OUT
  ttftotype42  lcdf-typetools' converter, the peer
  hexdump      bench/hexdump.c: the file mapped and written as 64-digit lines
               of hexadecimal in 64 KiB blocks, the bare cost of moving the
               bytes (the floor)
  xxd -p       the common tool doing the same, for reference
and reports, from one run in which the tools take turns, each tool's median
and fastest wall time, korrin's ratios to the others, and each tool's peak
resident memory (the largest ru_maxrss of its runs, as /usr/bin/time -v
reports it, from one more run). The mapped font counts towards a process's
resident memory once its pages are read, so a tool that kept a copy of the
font would show about the font's size more than its start-up memory plus
the font; korrin's start-up memory is that of `korrin --version`, printed
first.

usage: bench/type42.py [--build DIR] [--runs N] [FONT...]
"""
import argparse
import os
import shutil
import statistics
import tempfile
import time

FONTS = [
    "/usr/share/fonts/opentype/ipafont-gothic/ipag.ttf",
    "/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf",
]


def run(argv, stdout_path=None):
    """Wall time in seconds of one run."""
    actions = []
    if stdout_path:
        actions.append((os.POSIX_SPAWN_OPEN, 1, stdout_path, os.O_WRONLY | os.O_CREAT | os.O_TRUNC, 0o666))
    start = time.perf_counter()
    pid = os.posix_spawn(argv[0], argv, os.environ, file_actions=actions)
    _, status = os.waitpid(pid, 0)
    elapsed = time.perf_counter() - start
    if os.waitstatus_to_exitcode(status) != 0:
        raise SystemExit(f"failed: {' '.join(argv)}")
    return elapsed


def peak_memory(argv, stdout_path=None):
    """Peak resident memory in KiB, as /usr/bin/time -v reports it. (The
    rusage of a child that posix_spawn started shares the parent's memory
    until its exec, so it is measured from a small parent instead.)"""
    report = os.path.join(os.path.dirname(stdout_path or argv[-1]), "time")
    run(["/usr/bin/time", "-o", report, "-f", "%M"] + argv, stdout_path)
    with open(report) as f:
        return int(f.read().split()[-1])


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", default=os.path.join(here, "..", "build"))
    parser.add_argument("--runs", type=int, default=21)
    parser.add_argument("fonts", nargs="*", default=FONTS)
    args = parser.parse_args()

    korrin = os.path.abspath(os.path.join(args.build, "korrin"))
    hexdump = os.path.abspath(os.path.join(args.build, "bench", "korrin_bench_hexdump"))
    peer = shutil.which("ttftotype42")
    has_time = os.access("/usr/bin/time", os.X_OK)
    xxd = shutil.which("xxd")
    for tool in (korrin, hexdump):
        if not os.access(tool, os.X_OK):
            raise SystemExit(f"{tool} is missing: build first (make build)")

    # tmpfs when there is one, so that the disk does not time the writes.
    scratch = tempfile.mkdtemp(prefix="korrin-bench-", dir="/dev/shm" if os.path.isdir("/dev/shm") else None)
    print(f"load average before: {' '.join(f'{v:.2f}' for v in os.getloadavg())}; "
          f"{args.runs} runs per tool, output in {scratch}")
    # korrin's start-up alone, which a small font's conversion cannot go below.
    startup = statistics.median(run([korrin, "--version"], os.path.join(scratch, "v")) for _ in range(args.runs))
    memory = peak_memory([korrin, "--version"], os.path.join(scratch, "v")) if has_time else 0
    print(f"korrin --version (start-up alone): median {startup * 1e3:.2f} ms, max RSS {memory} KiB")
    try:
        for font in args.fonts:
            out = os.path.join(scratch, "out")
            tools = [
                ("korrin", [korrin, "convert", font, "-o", out], None),
                ("ttftotype42", [peer, font, out], None) if peer else None,
                ("hexdump", [hexdump, font, out], None),
                ("xxd -p", [xxd, "-p", font], out) if xxd else None,
            ]
            tools = [t for t in tools if t]
            times = {name: [] for name, _, _ in tools}
            sizes = {}
            for round_ in range(args.runs + 2):
                for name, argv, stdout_path in tools:
                    elapsed = run(argv, stdout_path)
                    if round_ >= 2:  # two rounds warm the page cache
                        times[name].append(elapsed)
                    sizes[name] = os.path.getsize(out)
            rss = {name: peak_memory(argv, stdout_path) if has_time else 0 for name, argv, stdout_path in tools}

            size = os.path.getsize(font)
            print(f"\n{os.path.basename(font)} ({size / 1e6:.2f} MB)")
            print(f"  {'tool':<12} {'median ms':>10} {'min ms':>8} {'korrin/tool':>12} {'max RSS KiB':>12} {'output MB':>10}")
            ours = statistics.median(times["korrin"])
            for name, _, _ in tools:
                median = statistics.median(times[name])
                print(f"  {name:<12} {median * 1e3:>10.2f} {min(times[name]) * 1e3:>8.2f} "
                      f"{ours / median:>12.2f} {rss[name]:>12} {sizes[name] / 1e6:>10.2f}")
    finally:
        shutil.rmtree(scratch)
    print(f"\nload average after: {' '.join(f'{v:.2f}' for v in os.getloadavg())}")


if __name__ == "__main__":
    main()
