#!/usr/bin/env python3
"""Runs KAZ and its peers side by side on generated trees and writes
docs/benchmarks.md. Each case runs every tool several times, alternating
tool by tool, and reports the median wall time and the peak resident
memory (/usr/bin/time -v) of each tool, with the ratios KAZ / peer."""
import json
import os
import platform
import re
import shutil
import statistics
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
KAZ = os.path.abspath(os.environ.get("KAZ", os.path.join(ROOT, "build", "kaz")))
# An earlier build of KAZ to run beside this one ("kaz baseline"), so that a
# change is measured before and after in one run, against the same peers.
BASELINE = os.environ.get("KAZ_BASELINE")
BASE_LABEL = "kaz baseline"
MICRO = os.environ.get("KAZ_MICRO", os.path.join(ROOT, "build", "kaz_bench"))
DATA = os.path.abspath(os.environ.get("KAZ_BENCH_DIR", "/var/tmp/kaz-bench"))
RUNS = int(os.environ.get("KAZ_BENCH_RUNS", "3"))
ONLY = set(filter(None, os.environ.get("KAZ_BENCH_CASES", "").split(",")))
GEN = [sys.executable, os.path.join(HERE, "gen_tree.py")]
GEN_VERSION = "1"
OUT = os.path.join(ROOT, "docs", "benchmarks.md")
NOTES = os.path.join(HERE, "notes.md")

cache_note = None


def say(text):
    print(text, flush=True)


def drop_caches():
    """Empties the page cache where the machine lets us; says so once when not."""
    global cache_note
    subprocess.run(["sync"], check=True)
    try:
        with open("/proc/sys/vm/drop_caches", "w") as f:
            f.write("3\n")
        cache_note = cache_note or "The page cache was dropped before every run (cold cache)."
    except OSError as e:
        if cache_note is None:
            cache_note = (f"The page cache could not be dropped ({e.strerror}); every run "
                          "starts from a warm cache after a `sync`.")
            say("  note: " + cache_note)


def timed(cmd, expect=(0,)):
    """Wall time in seconds, CPU time (user + system) and peak RSS in KiB of one run."""
    memfile = os.path.join(DATA, "time.out")
    start = time.perf_counter()
    p = subprocess.run(["/usr/bin/time", "-v", "-o", memfile] + cmd,
                       stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    elapsed = time.perf_counter() - start
    if p.returncode not in expect:
        sys.exit(f"failed ({p.returncode}): {' '.join(cmd)}\n{p.stderr.decode()[-2000:]}")
    with open(memfile) as f:
        text = f.read()
    rss = int(re.search(r"Maximum resident set size \(kbytes\): (\d+)", text).group(1))
    cpu = sum(float(re.search(rf"{kind} time \(seconds\): ([\d.]+)", text).group(1))
              for kind in ("User", "System"))
    return elapsed, cpu, rss


def rmtree(path):
    if os.path.lexists(path):
        subprocess.run(["rm", "-rf", path], check=True)


def rmtree_settled(path):
    """Removes a target and lets the file system settle: ext4 without a journal
    passes over inodes freed in the last 5 s (after a sync) when it allocates,
    which would charge the removal to whichever tool runs next."""
    rmtree(path)
    subprocess.run(["sync"], check=True)
    time.sleep(6)


def generate(name, *args):
    path = os.path.join(DATA, name)
    stamp = path + ".done"
    want = GEN_VERSION + " " + " ".join(map(str, args))
    if os.path.exists(stamp) and open(stamp).read() == want:
        return path
    say(f"generating {name} ...")
    rmtree(path)
    subprocess.run(GEN + [args[0], path] + [str(a) for a in args[1:]], check=True)
    with open(stamp, "w") as f:
        f.write(want)
    return path


def kaz_cmd(src, dst, *extra, binary=KAZ):
    return [binary, src, dst, os.path.join(DATA, "kaz.log"), "-nowarn", *extra]


def with_baseline(tools, src, dst, *extra):
    """Adds the baseline build after KAZ itself, when one is given."""
    if BASELINE:
        tools.insert(1, (BASE_LABEL, kaz_cmd(src, dst, *extra, binary=BASELINE)))
    return tools


def run_case(title, tools, before_round=None, before_run=None):
    """tools: list of (label, command); alternates them RUNS times."""
    times = {label: [] for label, _ in tools}
    cpus = {label: [] for label, _ in tools}
    mems = {label: [] for label, _ in tools}
    for r in range(RUNS):
        if before_round:
            before_round(r)
        for label, cmd in tools:
            if before_run:
                before_run(label)
            drop_caches()
            t, c, m = timed(cmd)
            times[label].append(t)
            cpus[label].append(c)
            mems[label].append(m)
            say(f"  {title} run {r + 1}/{RUNS} {label:<26} {t:8.3f} s  cpu {c:7.2f} s  "
                f"{m / 1024:7.1f} MiB")
    return {label: {"median": statistics.median(times[label]), "times": times[label],
                    "cpu": statistics.median(cpus[label]),
                    "peak_kib": max(mems[label]), "cmd": " ".join(cmd)}
            for label, cmd in tools}


def short(cmd):
    if BASELINE:
        cmd = cmd.replace(BASELINE, "kaz-baseline")
    return cmd.replace(DATA + "/", "").replace(KAZ, "kaz")


def case_initial():
    src = generate("initial", "initial")
    targets = {"kaz": "initial-kaz", "cp -a": "initial-cp", "rsync -a --delete": "initial-rsync",
               BASE_LABEL: "initial-kaz-baseline"}
    tools = with_baseline([
        ("kaz", kaz_cmd(src, os.path.join(DATA, targets["kaz"]))),
        ("cp -a", ["cp", "-a", src, os.path.join(DATA, targets["cp -a"])]),
        ("rsync -a --delete", ["rsync", "-a", "--delete", src + "/",
                               os.path.join(DATA, targets["rsync -a --delete"]) + "/"]),
    ], src, os.path.join(DATA, targets[BASE_LABEL]))
    return run_case("initial", tools,
                    before_run=lambda label: rmtree_settled(os.path.join(DATA, targets[label])))


def mirrored_case(title, src, tag, extra_tools=()):
    kdst = os.path.join(DATA, f"{tag}-kaz")
    rdst = os.path.join(DATA, f"{tag}-rsync")
    tools = with_baseline([("kaz", kaz_cmd(src, kdst)),
                           ("rsync -a --delete", ["rsync", "-a", "--delete", src + "/",
                                                  rdst + "/"])],
                          src, os.path.join(DATA, f"{tag}-kaz-baseline"))
    say(f"  {title}: bringing both targets up to date (not timed)")
    for _, cmd in tools:
        subprocess.run(cmd, check=True, stdout=subprocess.DEVNULL)
    return tools


def case_nightly():
    src = generate("nightly", "nightly")
    tools = mirrored_case("nightly", src, "nightly")
    return run_case("nightly", tools, before_round=lambda r: subprocess.run(
        GEN + ["change", src, str(r + 1)], check=True, stdout=subprocess.DEVNULL))


def case_flat(count):
    src = generate(f"flat{count}", "flat", count)
    tools = mirrored_case(f"flat {count}", src, f"flat{count}")
    return run_case(f"flat {count}", tools)


def case_verify():
    src = generate("initial", "initial")
    dst = os.path.join(DATA, "verify-target")
    stamp = dst + ".done"
    if not os.path.exists(stamp) or open(stamp).read() != GEN_VERSION:
        rmtree(dst)
        subprocess.run(["cp", "-a", src, dst], check=True)
        open(stamp, "w").write(GEN_VERSION)
    tools = with_baseline([
        ("kaz -verify", kaz_cmd(src, dst, "-verify")),
        ("diff -r --no-dereference", ["diff", "-r", "--no-dereference", src, dst]),
        ("rsync -a -c -n", ["rsync", "-a", "-c", "-n", src + "/", dst + "/"]),
    ], src, dst, "-verify")
    return run_case("verify", tools)


def micro():
    if not os.access(MICRO, os.X_OK):
        say("  wildcard micro-benchmark not built (Google Benchmark missing)")
        return None
    p = subprocess.run([MICRO, "--benchmark_format=json", "--benchmark_min_time=0.5"],
                       check=True, stdout=subprocess.PIPE)
    rows = []
    for b in json.loads(p.stdout)["benchmarks"]:
        rows.append((b["name"], b["real_time"], b["cpu_time"], b["time_unit"],
                     b.get("label", "")))
        say(f"  {b['name']}: {b['real_time']:.1f} {b['time_unit']} (cpu {b['cpu_time']:.1f})")
    return rows


def sh(cmd):
    return subprocess.run(cmd, shell=True, stdout=subprocess.PIPE, text=True).stdout.strip()


def machine():
    mem = sh("awk '/MemTotal/ {printf \"%.1f GiB\", $2/1048576}' /proc/meminfo")
    fs = sh(f"df -T {DATA} | awk 'NR==2 {{print $2 \" on \" $1}}'")
    cpu = sh("awk -F': ' '/model name/ {print $2; exit}' /proc/cpuinfo")
    return [("CPU", f"{cpu} ({os.cpu_count()} processors, nproc {sh('nproc')})"),
            ("Memory", mem), ("File system", f"{fs} ({DATA})"),
            ("Kernel", platform.release()),
            ("Peers", "; ".join([sh("cp --version | head -1"), sh("rsync --version | head -1"),
                                 sh("diff --version | head -1")]))]


def fmt_mem(kib):
    return f"{kib / 1024:.1f} MiB"


def table(name, result, kaz_label, peers, targets):
    k = result[kaz_label]
    lines = [f"### {name}", "",
             "| tool | median wall s | runs (s) | median CPU s (user+sys) | peak RSS |",
             "|---|---:|---|---:|---:|"]
    for label, r in result.items():
        runs = ", ".join(f"{t:.3f}" for t in r["times"])
        lines.append(f"| {label} | {r['median']:.3f} | {runs} | {r['cpu']:.2f} | "
                     f"{fmt_mem(r['peak_kib'])} |")
    lines += ["", "| ratio KAZ / peer | wall time | target | met | CPU time | memory |",
              "|---|---:|---:|---|---:|---:|"]
    verdicts = []
    for peer, target in zip(peers, targets):
        p = result[peer]
        ratio = k["median"] / p["median"]
        mem = k["peak_kib"] / p["peak_kib"]
        met = "yes" if target is None or ratio <= target else "**no**"
        cpu = k["cpu"] / p["cpu"] if p["cpu"] > 0 else float("nan")
        lines.append(f"| {kaz_label} / {peer} | {ratio:.2f} | "
                     f"{'-' if target is None else f'<= {target}'} | {met} | {cpu:.2f} | "
                     f"{mem:.2f} |")
        verdicts.append((name, peer, ratio, target, mem))
    if BASE_LABEL in result:
        lines += baseline_rows(result, kaz_label, peers)
    lines += ["", "Commands:", ""] + [f"    {short(r['cmd'])}" for r in result.values()] + [""]
    return lines, verdicts


def baseline_rows(result, kaz_label, peers):
    """The same ratios for the baseline build, and this build against it."""
    b = result[BASE_LABEL]
    rows = []
    for peer in peers + [BASE_LABEL]:
        mine = b if peer != BASE_LABEL else result[kaz_label]
        label = BASE_LABEL if peer != BASE_LABEL else kaz_label
        p = result[peer]
        cpu = mine["cpu"] / p["cpu"] if p["cpu"] > 0 else float("nan")
        rows.append(f"| {label} / {peer} | {mine['median'] / p['median']:.2f} | - | - | "
                    f"{cpu:.2f} | {mine['peak_kib'] / p['peak_kib']:.2f} |")
    return rows


def main():
    os.makedirs(DATA, exist_ok=True)
    say(f"KAZ benchmarks: {RUNS} alternating runs per tool, data in {DATA}")
    results = {}
    steps = [("initial", case_initial), ("nightly", case_nightly),
             ("flat10000", lambda: case_flat(10000)), ("flat100000", lambda: case_flat(100000)),
             ("verify", case_verify)]
    for name, fn in steps:
        if ONLY and name not in ONLY:
            continue
        say(f"case {name}")
        results[name] = fn()
    say("micro-benchmark: wildcard matcher")
    rows = micro()
    write_report(results, rows)
    say(f"wrote {OUT}")


def write_report(results, rows):
    out = ["# Benchmarks", "",
           "Generated by `make bench` (bench/run_bench.py); the notes at the end are kept in "
           "bench/notes.md.", "", "## Machine", ""]
    out += [f"- {k}: {v}" for k, v in machine()]
    out += ["", "## Method", "",
            f"- Trees come from bench/gen_tree.py (fixed seed, fixed file times); data in {DATA}.",
            f"- Each tool runs {RUNS} times, tools alternating within each round; the table gives "
            "the median wall time and the largest peak resident set size (`/usr/bin/time -v`; "
            "for rsync, which forks, the largest of its processes).",
            f"- {cache_note or 'No run needed the page cache.'}",
            "- KAZ always writes a log (its normal use); stdout of every tool goes to /dev/null.",
            "- initial: the target is removed (not timed) before every run. nightly: each tool "
            "keeps its own, already mirrored target; before each round 0.1 % of the source files "
            "(200) are rewritten with new contents, a new time and a new size. flat: both "
            "targets already mirrored, nothing changed. verify: the initial tree against a "
            "`cp -a` copy of it.",
            "- Before each initial run the old target is removed, then `sync` and a 6 s pause: "
            "ext4 without a journal passes over inodes freed in the last seconds when it "
            "allocates, which would charge the removal to the tool that runs next.",
            "- The machine is shared with other work (builds, tests); wall times carry that "
            "noise, which is why the CPU time (user + system) is given beside them."]
    if BASELINE:
        out += [f"- `{BASE_LABEL}`: {os.environ.get('KAZ_BASELINE_NAME', BASELINE)}, run in the "
                "same rounds as this build (environment KAZ_BASELINE), so that before and "
                "after are measured against the same peers at the same time."]
    out += [""]
    verdicts = []
    specs = {
        "initial": ("initial: ~20 000 files, ~1 GiB, ~2 000 folders, into an empty target", "kaz",
                    ["cp -a", "rsync -a --delete"], [1.1, 0.6]),
        "nightly": ("nightly: 200 000 small files, 10 000 folders, 0.1 % changed", "kaz",
                    ["rsync -a --delete"], [0.5]),
        "flat10000": ("flat: 10 000 files in one folder, already mirrored", "kaz",
                      ["rsync -a --delete"], [0.5]),
        "flat100000": ("flat: 100 000 files in one folder, already mirrored", "kaz",
                       ["rsync -a --delete"], [0.5]),
        "verify": ("verify: the initial tree against its mirror", "kaz -verify",
                   ["diff -r --no-dereference", "rsync -a -c -n"], [1.0, None]),
    }
    out += ["## Results", ""]
    for name, result in results.items():
        title, kaz_label, peers, targets = specs[name]
        lines, v = table(title, result, kaz_label, peers, targets)
        out += lines
        verdicts += v
    if "flat10000" in results and "flat100000" in results:
        small = results["flat10000"]["kaz"]["median"] / 10000
        large = results["flat100000"]["kaz"]["median"] / 100000
        ratio = large / small
        out += ["### Linearity (flat)", "",
                f"KAZ per entry: {small * 1e6:.2f} us at 10 000, {large * 1e6:.2f} us at 100 000: "
                f"{ratio:.2f}x (target <= 1.5x: {'met' if ratio <= 1.5 else '**not met**'}).", ""]
    out += ["## Summary", "", "| case | peer | time ratio | target | memory ratio (<= 1) |",
            "|---|---|---:|---:|---:|"]
    for name, peer, ratio, target, mem in verdicts:
        t = "-" if target is None else f"<= {target} {'met' if ratio <= target else 'NOT met'}"
        m = f"{mem:.2f} {'met' if mem <= 1 else 'NOT met'}" if peer.startswith("rsync") else f"{mem:.2f}"
        out.append(f"| {name} | {peer} | {ratio:.2f} | {t} | {m} |")
    out.append("")
    if rows:
        out += ["## Wildcard matcher (micro-benchmark)", "",
                "`wildcardMatch(name, pattern)` against a 255-byte name (build/kaz_bench, "
                "Google Benchmark).", "", "| case | wall per match | CPU per match | result |", "|---|---:|---:|---|"]
        out += [f"| {n} | {t:.1f} {u} | {c:.1f} {u} | {lab} |" for n, t, c, u, lab in rows]
        out.append("")
    if os.path.exists(NOTES):
        out += [open(NOTES).read().rstrip(), ""]
    os.makedirs(os.path.dirname(OUT), exist_ok=True)
    with open(OUT, "w") as f:
        f.write("\n".join(out))


if __name__ == "__main__":
    main()
