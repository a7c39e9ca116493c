#!/usr/bin/env python3
"""Runs KAZ and its peers side by side on generated trees and writes
docs/benchmarks.md. Each case runs every tool several times on a cold page
cache and several times on a warm one, alternating tool by tool, and reports
the median wall time, the median CPU time and the peak resident memory
(/usr/bin/time -v) of each tool, with the ratios KAZ / peer.

Environment: KAZ, KAZ_BASELINE (+ KAZ_BASELINE_NAME), KAZ_MICRO,
KAZ_BENCH_DIR, KAZ_BENCH_RUNS, KAZ_BENCH_CASES (comma-separated case names),
KAZ_BENCH_QUICK=1 (small trees, one round, report beside the trees instead
of docs/benchmarks.md), KAZ_BENCH_SHM (the in-memory file system),
KAZ_BENCH_OUT (the report's path), KAZ_BENCH_KEEP_DAMON (leaves a DAMON
monitor that pages idle memory out running)."""
import glob
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
# The quick form checks the script itself in a few minutes: small trees, one
# round, its own data folder and report, so that it never overwrites the
# trees or the figures of a full run.
QUICK = os.environ.get("KAZ_BENCH_QUICK", "") not in ("", "0")
DATA = os.path.abspath(os.environ.get("KAZ_BENCH_DIR", "/var/tmp/kaz-bench"))
if QUICK:
    DATA = os.path.join(DATA, "quick")
RUNS = int(os.environ.get("KAZ_BENCH_RUNS", "1" if QUICK else "3"))
ONLY = set(filter(None, os.environ.get("KAZ_BENCH_CASES", "").split(",")))
SHM = os.path.join(os.environ.get("KAZ_BENCH_SHM", "/dev/shm"),
                   "kaz-bench-quick" if QUICK else "kaz-bench")
GEN = [sys.executable, os.path.join(HERE, "gen_tree.py")]
GEN_VERSION = "1"
OUT = os.environ.get("KAZ_BENCH_OUT") or (os.path.join(DATA, "benchmarks.md") if QUICK
                                          else os.path.join(ROOT, "docs", "benchmarks.md"))
NOTES = os.path.join(HERE, "notes.md")
MODES = ("cold", "warm")
LIMIT = "limit"
RCLONE = "rclone sync"
RSYNC = "rsync -a --delete"

# gen_tree.py arguments of each tree: the full form, then the quick form.
TREES = {
    "initial": (["initial"], ["initial", 1000, 100]),
    "nightly": (["nightly"], ["nightly", 10000, 5]),
    "walk100k": (["walk", 100000, 5000], ["walk", 5000, 250]),
    "flat10000": (["flat", 10000], ["flat", 1000]),
    "flat100000": (["flat", 100000], ["flat", 5000]),
    "scale1m": (["walk", 1000000, 10000, "empty"], ["walk", 20000, 200, "empty"]),
}

cache_note = None
notes = []  # things the run itself found out (skipped cases, network checks)


def say(text):
    print(text, flush=True)


def drop_caches():
    """Empties the page cache where the machine lets us; says so once when not."""
    global cache_note
    subprocess.run(["sync"], check=True)
    try:
        with open("/proc/sys/vm/drop_caches", "w") as f:
            f.write("3\n")
        cache_note = cache_note or ("Cold: the page cache, dentries and inodes were dropped "
                                    "(`sync`, then 3 into /proc/sys/vm/drop_caches) before "
                                    "every cold run.")
    except OSError as e:
        if cache_note is None:
            cache_note = (f"The page cache could not be dropped ({e.strerror}): the runs "
                          "headed cold only follow a `sync` and are NOT cold-cache figures.")
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


def untimed(cmd):
    p = subprocess.run(cmd, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    if p.returncode != 0:
        sys.exit(f"failed ({p.returncode}): {' '.join(cmd)}\n{p.stderr.decode()[-2000:]}")


def rmtree(path):
    if os.path.lexists(path):
        subprocess.run(["rm", "-rf", path], check=True)


def read_through(path):
    """Brings a tree's folders, inodes and contents into the cache."""
    subprocess.run(f"find '{path}' -type f -exec cat {{}} + > /dev/null", shell=True,
                   check=True)


def fresh_copy_warm_up(path):
    """The warm state for a copy onto ext4 without a journal. Such a file system
    does not reuse an inode freed in the last 60 s (300 s while its inode-table
    block is dirty) as long as that block is cached, and scans past every such
    inode on each create: after removing the 20 000 files of an untimed copy,
    the next copy pays several seconds of processor time for it (cp -a 5-6 s
    against 0.9 s). Dropping the cache after the removal takes those blocks out
    of the check; reading the source back in makes the copy warm again."""
    drop_caches()
    read_through(path)


def tree_info(path):
    """Files, folders, bytes and allocated bytes of a tree, counted once and
    kept beside it, so that every title gives the tree's real size."""
    info_file = path + ".info"
    if os.path.exists(info_file):
        with open(info_file) as f:
            return json.load(f)
    say(f"  counting {os.path.basename(path)} ...")
    info = {"files": 0, "folders": 0, "bytes": 0, "allocated": 0}
    for top, dirs, files in os.walk(path):
        info["folders"] += len(dirs)
        for name in files:
            st = os.lstat(os.path.join(top, name))
            info["files"] += 1
            info["bytes"] += st.st_size
            info["allocated"] += st.st_blocks * 512
    with open(info_file, "w") as f:
        json.dump(info, f)
    return info


def generate(name):
    """The tree `name` (generated once and kept) and its counts."""
    args = TREES[name][1 if QUICK else 0]
    path = os.path.join(DATA, name)
    stamp = path + ".done"
    want = GEN_VERSION + " " + " ".join(map(str, args))
    if not (os.path.exists(stamp) and open(stamp).read() == want):
        say(f"generating {name} ...")
        rmtree(path)
        for stale in (stamp, path + ".info"):
            if os.path.exists(stale):
                os.remove(stale)
        subprocess.run(GEN + [args[0], path] + [str(a) for a in args[1:]], check=True)
        with open(stamp, "w") as f:
            f.write(want)
    return path, tree_info(path)


def num(n):
    return f"{n:,}".replace(",", " ")


def describe(info, folders=True):
    size = info["bytes"]
    amount = f"{size / 2**30:.2f} GiB" if size >= 2**30 else f"{size / 2**20:.1f} MiB"
    parts = [f"{num(info['files'])} files"]
    if folders:
        parts.append(f"{num(info['folders'])} folders")
    return ", ".join(parts + [amount])


def kaz_cmd(src, dst, *extra, binary=KAZ):
    return [binary, src, dst, os.path.join(DATA, "kaz.log"), "-nowarn", *extra]


def with_baseline(tools, src, dst, *extra):
    """Adds the baseline build after KAZ itself, when one is given."""
    if BASELINE:
        tools.insert(1, (BASE_LABEL, kaz_cmd(src, dst, *extra, binary=BASELINE)))
    return tools


def rclone_cmd(src, dst):
    # Local paths only, no configuration file; the default comparison is size
    # and modification time, and --ignore-checksum leaves out the hash check
    # after a copy, so that nothing is hashed.
    return ["rclone", "sync", src, dst, "--config", "/dev/null", "--ignore-checksum"]


def limit_tool(src, dst):
    """The limit: the two trees' metadata read by `find` at the same time, one
    process per tree; the time of both finishing. /usr/bin/time's CPU time
    covers both (the shell waits for them); its peak is the larger one."""
    fmt = "'%s %T@\\n'"
    script = (f'find "$1" -printf {fmt} > /dev/null & p=$!; '
              f'find "$2" -printf {fmt} > /dev/null; s=$?; wait "$p" && exit "$s"')
    shown = (f"find {src} -printf {fmt} > /dev/null & find {dst} -printf {fmt} > /dev/null; "
             "wait")
    return (LIMIT, ["sh", "-c", script, "limit", src, dst], shown)


def offline(cmd):
    """cmd in a network namespace of its own (no network at all) where we may
    make one, to show that the tool needs none."""
    if os.geteuid() == 0 and shutil.which("unshare"):
        probe = subprocess.run(["unshare", "--net", "true"], stderr=subprocess.DEVNULL)
        if probe.returncode == 0:
            return ["unshare", "--net", "--"] + cmd, True
    return cmd, False


def normalise(tools):
    return [t if len(t) == 3 else (t[0], t[1], None) for t in tools]


def loadavg():
    with open("/proc/loadavg") as f:
        return " ".join(f.read().split()[:3])


def run_case(title, tools, prepare=None, before_mode=None, cleanup=None, warm_up_each=True,
             warm_up=None):
    """tools: (label, command[, shown]). Each round runs every tool on a cold
    cache, then every tool on a warm one; the tools' order rotates from round
    to round so that none always follows the same other.
    prepare(label, timed): readies a tool's target before a run.
    before_mode(mode, round): once per round and mode, before the tools.
    cleanup(label): after each timed run.
    warm_up_each: a warm run comes right after an untimed run of the same
    tool (cases that warm up otherwise pass False); warm_up(label, command)
    replaces that untimed run where a case needs another warm-up."""
    tools = normalise(tools)
    runs = {m: {label: [] for label, _, _ in tools} for m in MODES}
    load_start = loadavg()
    for r in range(RUNS):
        order = tools[r % len(tools):] + tools[:r % len(tools)]
        for mode in MODES:
            if before_mode:
                before_mode(mode, r)
            for label, cmd, _ in order:
                if mode == "warm" and warm_up_each:
                    if prepare:
                        prepare(label, False)
                    (warm_up or (lambda _, c: untimed(c)))(label, cmd)
                if prepare:
                    prepare(label, True)
                if mode == "cold":
                    drop_caches()
                t, c, m = timed(cmd)
                if cleanup:
                    cleanup(label)
                runs[mode][label].append((t, c, m))
                say(f"  {title} {mode} {r + 1}/{RUNS} {label:<26} {t:8.3f} s  "
                    f"cpu {c:7.2f} s  {m / 1024:7.1f} MiB")
    result = {"modes": {}, "cmd": {}, "load": (load_start, loadavg())}
    for mode in MODES:
        result["modes"][mode] = {
            label: {"median": statistics.median(t for t, _, _ in rs),
                    "times": [t for t, _, _ in rs],
                    "cpu": statistics.median(c for _, c, _ in rs),
                    "peak_kib": max(m for _, _, m in rs)}
            for label, rs in runs[mode].items()}
    for label, cmd, shown in tools:
        result["cmd"][label] = shown or " ".join(cmd)
    return result


def short(cmd):
    if BASELINE:
        cmd = cmd.replace(BASELINE, "kaz-baseline")
    return cmd.replace(DATA + "/", "").replace(KAZ, "kaz")


def copy_tools(src, root, tag):
    targets = {"kaz": f"{tag}-kaz", "cp -a": f"{tag}-cp", RSYNC: f"{tag}-rsync",
               BASE_LABEL: f"{tag}-kaz-baseline"}
    targets = {label: os.path.join(root, name) for label, name in targets.items()}
    tools = with_baseline([
        ("kaz", kaz_cmd(src, targets["kaz"])),
        ("cp -a", ["cp", "-a", src, targets["cp -a"]]),
        (RSYNC, ["rsync", "-a", "--delete", src + "/", targets[RSYNC] + "/"]),
    ], src, targets[BASE_LABEL])
    return tools, targets


def case_initial():
    src, info = generate("initial")
    tools, targets = copy_tools(src, DATA, "initial")

    def prepare(label, _timed):
        # Cold runs drop the cache right after this, which also keeps ext4's
        # check of recently freed inodes out of them (see fresh_copy_warm_up).
        rmtree(targets[label])
        subprocess.run(["sync"], check=True)

    result = run_case("initial", tools, prepare=prepare,
                      warm_up=lambda label, _: fresh_copy_warm_up(src))
    result["name"] = "initial"
    result["title"] = f"initial: {describe(info)}, into an empty target on disk"
    return result


def case_initial_memory():
    src, info = generate("initial")
    # One copy at a time lives in memory: each is removed after its run.
    need = int(info["allocated"] * 1.1) + (256 << 20)
    os.makedirs(os.path.dirname(SHM), exist_ok=True)
    st = os.statvfs(os.path.dirname(SHM))
    free = st.f_bavail * st.f_frsize
    with open("/proc/meminfo") as f:
        avail = int(re.search(r"MemAvailable:\s+(\d+)", f.read()).group(1)) * 1024
    name = "initial into memory"
    title = f"{name}: {describe(info)}, into an empty target in {SHM}"
    if min(free, avail) < need:
        reason = (f"skipped: {os.path.dirname(SHM)} has {free / 2**30:.1f} GiB free and the "
                  f"machine {avail / 2**30:.1f} GiB of memory available; one copy needs about "
                  f"{need / 2**30:.1f} GiB")
        say("  " + reason)
        notes.append(f"initial into memory was {reason}.")
        return {"name": name, "title": title, "skipped": reason}
    rmtree(SHM)
    os.makedirs(SHM)
    tools, targets = copy_tools(src, SHM, "initial")
    try:
        result = run_case("initial into memory", tools,
                          prepare=lambda label, _: rmtree(targets[label]),
                          cleanup=lambda label: rmtree(targets[label]))
    finally:
        rmtree(SHM)
    result["name"] = name
    result["title"] = title
    return result


def mirrored_tools(title, src, tag, rclone=False, limit=False):
    """KAZ and rsync (and rclone) each with a target of its own, brought up to
    date before the timed runs; the limit reads the source and KAZ's target."""
    kdst = os.path.join(DATA, f"{tag}-kaz")
    tools = with_baseline([("kaz", kaz_cmd(src, kdst)),
                           (RSYNC, ["rsync", "-a", "--delete", src + "/",
                                    os.path.join(DATA, f"{tag}-rsync") + "/"])],
                          src, os.path.join(DATA, f"{tag}-kaz-baseline"))
    if rclone:
        tools.append((RCLONE, rclone_cmd(src, os.path.join(DATA, f"{tag}-rclone"))))
    say(f"  {title}: bringing the targets up to date (not timed)")
    for label, cmd in tools:
        if label == RCLONE:
            cmd, isolated = offline(cmd)
            if isolated:
                note = ("rclone's untimed bring-up runs in a network namespace without any "
                        "network (`unshare --net`) and succeeds: it needs no network.")
                if note not in notes:
                    notes.append(note)
        untimed(cmd)
    if limit:
        tools.append(limit_tool(src, kdst))
    return tools


def next_round():
    """A new change round for the nightly tree, never the one it is at now."""
    counter = os.path.join(DATA, "nightly.round")
    last = int(open(counter).read()) if os.path.exists(counter) else 0
    with open(counter, "w") as f:
        f.write(str(last + 1))
    return last + 1


def case_nightly():
    src, info = generate("nightly")
    sizes = [str(a) for a in TREES["nightly"][1 if QUICK else 0][1:]]
    tools = mirrored_tools("nightly", src, "nightly")

    def change():
        subprocess.run(GEN + ["change", src, str(next_round())] + sizes, check=True,
                       stdout=subprocess.DEVNULL)

    def before_mode(mode, _round):
        # A warm run would find nothing to do after a run of its own: each
        # tool first runs untimed (warming both trees), then the source changes.
        if mode == "warm":
            for _, cmd in tools:
                untimed(cmd)
        change()

    result = run_case("nightly", tools, before_mode=before_mode, warm_up_each=False)
    result["name"] = "nightly"
    result["title"] = f"nightly: {describe(info)}, 0.1 % changed before each timed round"
    return result


def case_walk100k():
    src, info = generate("walk100k")
    tools = mirrored_tools("walk", src, "walk100k", rclone=True, limit=True)
    result = run_case("walk", tools)
    result["name"] = f"no-change walk {num(info['files'])} / {num(info['folders'])}"
    result["title"] = f"no-change walk: {describe(info)}, already mirrored"
    result["entries"] = info["files"] + info["folders"]
    result["per_folder"] = info["files"] // max(1, info["folders"])
    return result


def case_flat(name):
    src, info = generate(name)
    tools = mirrored_tools(name, src, name, limit=(name == "flat100000"))
    result = run_case(name, tools)
    result["name"] = f"flat {num(info['files'])}"
    result["title"] = f"flat: {describe(info, folders=False)} in one folder, already mirrored"
    result["entries"] = info["files"]
    return result


def case_verify():
    src, info = generate("initial")
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
    result = run_case("verify", tools)
    result["name"] = "verify"
    result["title"] = f"verify: {describe(info)}, against a `cp -a` copy of it"
    return result


def case_scale1m():
    src, info = generate("scale1m")
    tools = mirrored_tools("scale", src, "scale1m", limit=True)
    result = run_case("scale", tools)
    result["entries"] = info["files"] + info["folders"]
    result["per_folder"] = info["files"] // max(1, info["folders"])
    result["name"] = f"scale {num(result['entries'])} entries"
    result["title"] = (f"scale: {describe(info)} (empty files, {result['per_folder']} per "
                       "folder), already mirrored")
    return result


# name: (function, KAZ's label, goals as (peer, time ratio goal, memory ratio goal)).
# Every ratio against every peer is reported; these are the ones with a goal.
CASES = {
    "initial": (case_initial, "kaz", [("cp -a", 1.1, None), (RSYNC, 0.6, 1.0)]),
    "initial-memory": (case_initial_memory, "kaz", [("cp -a", 1.0, None), (RSYNC, 0.5, 1.0)]),
    "nightly": (case_nightly, "kaz", [(RSYNC, 0.5, 1.0)]),
    "walk100k": (case_walk100k, "kaz", [(RSYNC, 0.5, 1.0), (RCLONE, 0.3, None),
                                        (LIMIT, 1.5, None)]),
    "flat10000": (lambda: case_flat("flat10000"), "kaz", [(RSYNC, 0.5, 1.0)]),
    "flat100000": (lambda: case_flat("flat100000"), "kaz", [(RSYNC, 0.5, 1.0),
                                                            (LIMIT, None, None)]),
    "verify": (case_verify, "kaz -verify", [("diff -r --no-dereference", 0.8, None),
                                            ("rsync -a -c -n", None, 1.0)]),
    "scale1m": (case_scale1m, "kaz", [(RSYNC, None, 1.0), (LIMIT, None, None)]),
}
PER_ENTRY_GOAL = 1.5  # time per entry at 1 000 000 entries / at 100 000, and flat 100 000 / 10 000


def micro():
    if not os.access(MICRO, os.X_OK):
        say("  wildcard micro-benchmark not built (Google Benchmark missing)")
        return None
    p = subprocess.run([MICRO, "--benchmark_format=json",
                        f"--benchmark_min_time={'0.05' if QUICK else '0.5'}"],
                       check=True, stdout=subprocess.PIPE)
    rows = []
    for b in json.loads(p.stdout)["benchmarks"]:
        rows.append((b["name"], b["real_time"], b["cpu_time"], b["time_unit"],
                     b.get("label", "")))
        say(f"  {b['name']}: {b['real_time']:.1f} {b['time_unit']} (cpu {b['cpu_time']:.1f})")
    return rows


def sh(cmd):
    return subprocess.run(cmd, shell=True, stdout=subprocess.PIPE, text=True).stdout.strip()


DAMON = "/sys/kernel/mm/damon/admin/kdamonds"
# Monitors this run switched off, to be switched on again at its end.
paused_monitors = []


def pageout_monitors():
    """The running DAMON monitors and their schemes' actions."""
    running = []
    for state in sorted(glob.glob(os.path.join(DAMON, "*", "state"))):
        if open(state).read().strip() != "on":
            continue
        kdamond = os.path.dirname(state)
        schemes = os.path.join(kdamond, "contexts", "*", "schemes", "*", "action")
        running.append((kdamond, sorted({open(a).read().strip() for a in glob.glob(schemes)})))
    return running


def pause_pageout():
    """A monitor that pages idle memory out takes part of a warm run's cache
    away between the warm-up and the run, at random: it is switched off for
    the benchmark (as root, unless KAZ_BENCH_KEEP_DAMON is set) and on again
    at its end, with the settings it had."""
    if os.environ.get("KAZ_BENCH_KEEP_DAMON") or os.geteuid() != 0:
        return
    for kdamond, actions in pageout_monitors():
        if "pageout" in actions:
            with open(os.path.join(kdamond, "state"), "w") as state:
                state.write("off")
            paused_monitors.append(kdamond)


def resume_pageout():
    for kdamond in paused_monitors:
        with open(os.path.join(kdamond, "state"), "w") as state:
            state.write("on")


def memory_pageout():
    """Whether the kernel pushes idle memory out on its own (DAMON): a warm
    run may then find part of its cache gone."""
    running = [f"{os.path.basename(k)} ({', '.join(a) or 'no scheme'})"
               for k, a in pageout_monitors()]
    said = ["DAMON on: " + "; ".join(running)] if running else []
    if paused_monitors:
        said.append("DAMON paging idle memory out (kdamond "
                    f"{', '.join(os.path.basename(k) for k in paused_monitors)}), "
                    "switched off for the benchmark")
    return "; ".join(said) or "no DAMON running"


def machine():
    mem = sh("awk '/MemTotal/ {printf \"%.1f GiB\", $2/1048576}' /proc/meminfo")
    fs = sh(f"df -T {DATA} | awk 'NR==2 {{print $2 \" on \" $1}}'")
    shm = sh(f"df -T {os.path.dirname(SHM)} | awk 'NR==2 {{print $2}}'")
    cpu = sh("awk -F': ' '/model name/ {print $2; exit}' /proc/cpuinfo")
    return [("CPU", f"{cpu} ({os.cpu_count()} processors, nproc {sh('nproc')})"),
            ("Memory", f"{mem}; {memory_pageout()}"),
            ("File system", f"{fs} ({DATA}); in memory: {shm} ({os.path.dirname(SHM)})"),
            ("Kernel", platform.release()),
            ("KAZ", f"{KAZ}, built from commit "
                    f"{sh(f'git -C {ROOT} rev-parse --short HEAD 2>/dev/null') or 'unknown'}"
                    f"{' (with uncommitted changes)' if sh(f'git -C {ROOT} status --porcelain -- src 2>/dev/null') else ''}"),
            ("Peers", "; ".join([sh("cp --version | head -1"), sh("rsync --version | head -1"),
                                 sh("diff --version | head -1"),
                                 sh("rclone version 2>/dev/null | head -1"),
                                 sh("find --version | head -1")]))]


def fmt_mem(kib):
    return f"{kib / 1024:.1f} MiB"


def ratio(a, b):
    return a / b if b > 0 else float("nan")


def peak(result, label):
    return max(result["modes"][m][label]["peak_kib"] for m in MODES)


def met(value, goal):
    return value <= goal


def verdict(value, goal):
    return "met" if met(value, goal) else "**not met**"


def table(result, kaz_label, goals):
    """The case's tables, and its goal lines: (text, measured, met)."""
    modes = result["modes"]
    labels = list(modes["cold"])
    lines = [f"### {result['title']}", "",
             f"Load average (1, 5, 15 min) at the case's start: {result['load'][0]}; "
             f"at its end: {result['load'][1]}.", "",
             "| tool | cold median s | cold runs (s) | cold CPU s | warm median s | "
             "warm runs (s) | warm CPU s | peak RSS |",
             "|---|---:|---|---:|---:|---|---:|---:|"]
    for label in labels:
        c, w = modes["cold"][label], modes["warm"][label]
        lines.append(f"| {label} | {c['median']:.3f} | {', '.join(f'{t:.3f}' for t in c['times'])}"
                     f" | {c['cpu']:.2f} | {w['median']:.3f} | "
                     f"{', '.join(f'{t:.3f}' for t in w['times'])} | {w['cpu']:.2f} | "
                     f"{fmt_mem(peak(result, label))} |")
    lines += ["", "| ratio | wall cold | wall warm | goal | met (cold / warm) | CPU cold | "
              "CPU warm | peak memory | memory goal |",
              "|---|---:|---:|---:|---|---:|---:|---:|---|"]
    goal_lines = []
    goal_of = {peer: (tg, mg) for peer, tg, mg in goals}
    peers = [label for label in labels if label not in (kaz_label, BASE_LABEL)]
    rows = [(kaz_label, peer) for peer in peers]
    if BASE_LABEL in modes["cold"]:
        rows += [(BASE_LABEL, peer) for peer in peers] + [(kaz_label, BASE_LABEL)]
    for mine, peer in rows:
        wall = {m: ratio(modes[m][mine]["median"], modes[m][peer]["median"]) for m in MODES}
        cpu = {m: ratio(modes[m][mine]["cpu"], modes[m][peer]["cpu"]) for m in MODES}
        mem = ratio(peak(result, mine), peak(result, peer))
        tg, mg = goal_of.get(peer, (None, None)) if mine == kaz_label else (None, None)
        t_goal = "-" if tg is None else f"<= {tg}"
        t_met = "-" if tg is None else " / ".join(
            "yes" if met(wall[m], tg) else "**no**" for m in MODES)
        m_goal = "-" if mg is None else f"<= {mg}: {'yes' if met(mem, mg) else '**no**'}"
        lines.append(f"| {mine} / {peer} | {wall['cold']:.2f} | {wall['warm']:.2f} | {t_goal} | "
                     f"{t_met} | {cpu['cold']:.2f} | {cpu['warm']:.2f} | {mem:.2f} | {m_goal} |")
        if tg is not None:
            goal_lines.append((f"{result['name']}: {mine} / {peer}, wall time", tg, wall))
        if mg is not None:
            goal_lines.append((f"{result['name']}: {mine} / {peer}, peak memory", mg,
                               {"peak": mem}))
    lines += ["", "Commands:", ""] + [f"    {short(result['cmd'][label])}" for label in labels]
    lines.append("")
    return lines, goal_lines


def per_entry(results, big, small):
    """KAZ's time per entry in case big against case small, cold and warm."""
    if big not in results or small not in results or "skipped" in results[big]:
        return [], []
    b, s = results[big], results[small]
    values = {}
    lines = []
    for mode in MODES:
        tb = b["modes"][mode]["kaz"]["median"] / b["entries"]
        ts = s["modes"][mode]["kaz"]["median"] / s["entries"]
        values[mode] = tb / ts
        lines.append(f"- {mode}: {ts * 1e6:.2f} us per entry at {num(s['entries'])} entries, "
                     f"{tb * 1e6:.2f} us at {num(b['entries'])}: {values[mode]:.2f}x "
                     f"(goal <= {PER_ENTRY_GOAL}x: {verdict(values[mode], PER_ENTRY_GOAL)}).")
    return lines, [(f"{b['name']}: KAZ's time per entry / at {s['name']}", PER_ENTRY_GOAL,
                    values)]


def goal_summary(goal_lines):
    out = ["| goal | target | measured | met |", "|---|---:|---|---|"]
    printed = []
    for text, goal, values in goal_lines:
        measured = ", ".join(f"{m} {v:.2f}" for m, v in values.items())
        verdicts = ", ".join(f"{'' if m == 'peak' else m + ' '}"
                             f"{'met' if met(v, goal) else 'NOT met'}" for m, v in values.items())
        out.append(f"| {text} | <= {goal} | {measured} | {verdicts} |")
        printed.append(f"  {text}: {measured} (goal <= {goal}): {verdicts}")
    return out + [""], printed


def main():
    os.makedirs(DATA, exist_ok=True)
    started = time.strftime("%Y-%m-%d %H:%M")
    say(f"KAZ benchmarks{' (quick form)' if QUICK else ''}: {RUNS} rounds per case, cold and "
        f"warm, data in {DATA}; load average {loadavg()}")
    results = {}
    pause_pageout()
    try:
        for name, (fn, _, _) in CASES.items():
            if ONLY and name not in ONLY:
                continue
            say(f"case {name}")
            results[name] = fn()
        say("micro-benchmark: wildcard matcher")
        rows = micro()
        lines = write_report(results, rows, started)
    finally:
        resume_pageout()
    for line in lines:
        say(line)
    say(f"wrote {OUT}")


def write_report(results, rows, started):
    out = ["# Benchmarks", ""]
    if QUICK:
        out += ["**Quick form (KAZ_BENCH_QUICK): small trees and one round, to check the "
                "script; these are not the project's figures.**", ""]
    out += ["Generated by `make bench` (bench/run_bench.py); the notes at the end are kept in "
            "bench/notes.md.", "", "## Machine", ""]
    out += [f"- {k}: {v}" for k, v in machine()]
    out += [f"- Run: started {started}, ended {time.strftime('%Y-%m-%d %H:%M')}; load average "
            "at each case's start and end is given with the case.", ""]
    out += ["## Method", "",
            f"- Trees come from bench/gen_tree.py (fixed seed, fixed file times); data in {DATA}.",
            f"- Each case runs {RUNS} rounds. A round runs every tool once on a cold cache, then "
            "every tool once on a warm one; the order of the tools rotates from round to round. "
            "The tables give the median wall time and the median CPU time (user + system, "
            "`/usr/bin/time -v`, children included) of each mode, and the largest peak resident "
            "set size of all runs (for a tool that forks, as rsync does, the largest of its "
            "processes).",
            f"- {cache_note or 'No run needed the page cache.'} Warm: the timed run comes right "
            "after an untimed run of the same tool (for a copy into memory, after that run's "
            "target was removed again; for a copy onto disk see initial below; for nightly, "
            "after each tool's untimed run the source is changed, then the tools run).",
            "- KAZ always writes a log (its normal use); stdout of every tool goes to /dev/null.",
            "- initial: the target is removed (not timed, then `sync`) before every run. On "
            "disk, a warm run does not follow an untimed copy: its removal would make the next "
            "copy pay for ext4's check of recently freed inodes (without a journal, ext4 does "
            "not reuse an inode freed in the last 60 s, 300 s while its inode-table block is "
            "dirty, and scans past each one on every create as long as that block is cached; "
            "see the notes below). Instead the cache is dropped after "
            "the removal and the source read back in (`find SRC -type f -exec cat {} +`), so "
            "that the whole source is cached and no freed inode is checked. A cold run drops "
            "the cache after the removal as well. initial into memory: the same source (on "
            f"disk) copied into {SHM} (no such check there; warm runs follow an untimed copy), "
            "each copy removed after its run so that one at a time takes memory.",
            "- nightly: each tool keeps its own, already mirrored target; before each timed round "
            "0.1 % of the source files are rewritten with new contents, a new time and a new "
            "size. no-change walk, flat and scale: every tool's target already mirrored, nothing "
            "changed. verify: the initial tree against a `cp -a` copy of it.",
            f"- `{RCLONE}`: `rclone sync SRC DST --config /dev/null --ignore-checksum`: local "
            "paths, no configuration file, files compared by size and modification time (its "
            "default), no hashes.",
            f"- `{LIMIT}`: what reading both trees' metadata costs at least: "
            "`find TREE -printf '%s %T@\\n' > /dev/null` for the source and for KAZ's target, "
            "both at once; the time of both finishing.",
            "- The machine is shared with other work (builds, tests) and its disk speed varies "
            "from run to run; wall times carry that noise, which is why the CPU time is given "
            "beside them and every ratio comes from tools measured in the same rounds."]
    if BASELINE:
        out += [f"- `{BASE_LABEL}`: {os.environ.get('KAZ_BASELINE_NAME', BASELINE)}, run in the "
                "same rounds as this build (environment KAZ_BASELINE), so that before and "
                "after are measured against the same peers at the same time."]
    out += [f"- {n}" for n in notes]
    out += ["", "## Results", ""]
    goal_lines = []
    for name, result in results.items():
        if "skipped" in result:
            out += [f"### {result['title']}", "", f"Not measured: {result['skipped']}.", ""]
            continue
        _, kaz_label, goals = CASES[name]
        lines, g = table(result, kaz_label, goals)
        out += lines
        goal_lines += g
    lines, g = per_entry(results, "flat100000", "flat10000")
    if lines:
        out += ["### Linearity (flat)", ""] + lines + [""]
        goal_lines += g
    if "scale1m" in results:
        lines, g = per_entry(results, "scale1m", "walk100k")
        out += ["### Scale: KAZ's time per entry against the no-change walk", "",
                "Entries are files and folders. Peak memory against rsync's is in the scale "
                "table above."]
        if lines:
            b, s = results["scale1m"], results["walk100k"]
            out[-1] += (f" The no-change walk has files of a few KiB, {s['per_folder']} per "
                        f"folder; the scale tree empty files, {b['per_folder']} per folder.")
            out += [""] + lines
        else:
            out += ["", "Not measured: the no-change walk was not part of this run."]
        out.append("")
        goal_lines += g
    summary, printed = goal_summary(goal_lines)
    out += ["## Goals", "", "Each goal with the ratio this run measured (KAZ / peer; cold and "
            "warm for times, the peak of all runs for memory).", ""] + summary
    if rows:
        out += ["## Wildcard matcher (micro-benchmark)", "",
                "`wildcardMatch(name, pattern)` against a 255-byte name (build/kaz_bench, "
                "Google Benchmark).", "", "| case | wall per match | CPU per match | result |",
                "|---|---:|---:|---|"]
        out += [f"| {n} | {t:.1f} {u} | {c:.1f} {u} | {lab} |" for n, t, c, u, lab in rows]
        out.append("")
    if os.path.exists(NOTES):
        out += [open(NOTES).read().rstrip(), ""]
    os.makedirs(os.path.dirname(OUT), exist_ok=True)
    with open(OUT, "w") as f:
        f.write("\n".join(out))
    return ["goals:"] + printed


if __name__ == "__main__":
    main()
