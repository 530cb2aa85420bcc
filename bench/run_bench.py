#!/usr/bin/env python3
"""Times packages against their floors and writes BENCHMARKS.md.

    bench/run_bench.py [--build DIR] [--work DIR] [--quick] [--sizes small,medium,large]
                       [--rounds N] [--content real|generated] [--no-report]

For each size it makes a product tree of real installed files (Perl's
libraries, time zones, fonts, shared libraries; or, with --content generated,
bench/ContentGenerator.h's stand-ins), builds packages of it with mkpackage as
a release engineer would (bz2 and tzst with the static decompressors, tgz, the
default checksum), takes the uncompressed tar stream and each package's
archive piece as the inputs of the floors, and builds one more package of the
bzip2 archive that carries lbzip2. Then it runs the commands of the size in
rounds, each round in a different order, so that a burst of load on the
machine hits every command alike. Every command starts
through "sh -c" and the median start of an empty "sh -c" is taken off every
figure, as hyperfine does. Wall time is taken around each run and CPU time is
the rusage of the run and everything it waited for.

The raw figures go to bench/results/ (raw.csv, summary.json) and the report to
BENCHMARKS.md at the top of the tree; a quick run (--quick or BENCH_QUICK=1:
small and medium only, few rounds) writes both to out/bench-quick/ instead.
"""

import argparse
import csv
import datetime
import json
import os
import platform
import shlex
import shutil
import statistics
import subprocess
import sys
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
SEED = 9081427

# Bytes of generated product per size; the content compresses about 2.8:1
# with bzip2 -9, giving archives of about 1, 20 and 100 MB.
SIZES = {
    "small": 2_800_000,
    "medium": 56_000_000,
    "large": 280_000_000,
}
ROUNDS = {"small": 61, "medium": 11, "large": 9}
QUICK_ROUNDS = {"small": 5, "medium": 3, "large": 3}

# Each package against the same pipeline fed by cat.
PAIRS = {
    "package-bzip2": "cat-bunzip2",
    "package-lbzip2": "cat-lbzip2",
    "package-tzst": "cat-unzstd",
    "package-tgz": "cat-gzip",
}
CAT_LIMIT = 1.03
# The bz2 package with the static decompressor against Debian's bzip2.
BZIP2_LIMIT = 1.03
# The tzst package against the physical floor.
TZST_FLOOR_LIMIT = 1.3
# The real second stage, on the tzst package of each size: the whole
# unattended installation against the physical floor and against the same
# package's own unpacking (--extract-only), and the runs after it against
# that unpacking.
INSTALL_FLOOR_LIMIT = 1.6
INSTALL_UNPACK_LIMIT = 1.35
RERUN_UNPACK_LIMIT = 1.1
VERIFY_UNPACK_LIMIT = 0.3
SETUP_PEAK_LIMIT_KB = 32 * 1024
SETUP_COMMANDS = ["install", "rerun", "upgrade", "verify", "uninstall"]
DECOMPRESSOR_LIMIT = 400 * 1024

# Real files of the kinds a server product holds, and each kind's share of
# the bytes while it lasts: text (Perl's libraries), binary data (time zones)
# and fonts, the mix the issue measured on; machine code (shared libraries)
# only fills a size once those have run out (share 0).
REAL_SOURCES = [
    ("perl", 5, ["/usr/share/perl", "/usr/lib/x86_64-linux-gnu/perl",
                 "/usr/lib/x86_64-linux-gnu/perl-base"]),
    ("zoneinfo", 1, ["/usr/share/zoneinfo"]),
    ("fonts", 1, ["/usr/share/fonts"]),
    ("lib", 0, ["/usr/lib/x86_64-linux-gnu"]),
]
REAL_FILE_LIMIT = 8 << 20
# Once less than this is missing, the next file ends the product whatever
# its size.
REAL_FILE_MIN = 64 << 10
PEAK_LIMIT_KB = 4096
CHECKSUM_LIMIT = 0.01
VERSION_LIMIT = 0.005


def log(message):
    print(message, flush=True)


def run(argv, **kwargs):
    """Runs a helper command; a failure ends the benchmark."""
    result = subprocess.run(argv, capture_output=True, text=True, **kwargs)
    if result.returncode != 0:
        sys.exit("bench: %s failed (%d):\n%s%s" % (" ".join(argv), result.returncode,
                                                   result.stdout, result.stderr))
    return result.stdout


def fresh_dir(path):
    if os.path.lexists(path):
        if os.path.isdir(path) and not os.path.islink(path):
            shutil.rmtree(path)
        else:
            os.unlink(path)
    os.makedirs(path)


def timed(command, cwd, env=None):
    """One run of command (a shell text): wall seconds, user and system CPU
    seconds of it and all it waited for, and the exit status."""
    start = time.perf_counter()
    child = subprocess.Popen(["sh", "-c", command], cwd=cwd, env=env,
                             stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                             stderr=subprocess.DEVNULL)
    _, status, usage = os.wait4(child.pid, 0)
    wall = time.perf_counter() - start
    child.returncode = os.waitstatus_to_exitcode(status)
    return wall, usage.ru_utime, usage.ru_stime, child.returncode


def real_files(roots, skip):
    """Regular files below roots, in a fixed order, without those below skip."""
    for root in roots:
        for top, dirs, files in os.walk(root):
            dirs[:] = sorted(d for d in dirs if os.path.join(top, d) not in skip)
            for name in sorted(files):
                path = os.path.join(top, name)
                if os.path.islink(path) or not os.path.isfile(path):
                    continue
                size = os.path.getsize(path)
                if 0 < size <= REAL_FILE_LIMIT and os.access(path, os.R_OK):
                    yield path, size


def make_real_content(dest, budget):
    """Copies about budget bytes of real files into dest, the kinds mixed by
    their shares; returns the bytes taken and, by kind, bytes and files."""
    skip = set(d for _, _, roots in REAL_SOURCES for d in roots)
    kinds = {}
    open_sources = []
    for label, weight, roots in REAL_SOURCES:
        kinds[label] = {"bytes": 0, "files": 0, "weight": weight}
        open_sources.append((label, real_files(roots, skip - set(roots))))
    total = 0
    while total < budget and open_sources:
        weighted = [s for s in open_sources if kinds[s[0]]["weight"] > 0]
        label, files = min(weighted, key=lambda s: (kinds[s[0]]["bytes"] / kinds[s[0]]["weight"],
                                                    s[0])) if weighted else open_sources[0]
        try:
            path, size = next(files)
        except StopIteration:
            open_sources.remove((label, files))
            continue
        # A file that would overshoot is passed over, so that a small size
        # stays small.
        if total + size > budget and total + REAL_FILE_MIN < budget:
            continue
        target = os.path.join(dest, label, path.lstrip("/"))
        os.makedirs(os.path.dirname(target), exist_ok=True)
        shutil.copyfile(path, target)
        os.chmod(target, 0o755 if os.access(path, os.X_OK) else 0o644)
        kinds[label]["bytes"] += size
        kinds[label]["files"] += 1
        total += size
    return total, kinds


def file_size(path):
    return os.path.getsize(path)


class Size:
    """The packages and directories of one size."""

    def __init__(self, name, work, build, content):
        self.name = name
        self.dir = os.path.join(work, name)
        self.product = os.path.join(self.dir, "product")
        self.tar = os.path.join(self.dir, "archive.tar")
        self.archives = {
            "bzip2": os.path.join(self.dir, "archive.tar.bz2"),
            "tzst": os.path.join(self.dir, "archive.tar.zst"),
            "tgz": os.path.join(self.dir, "archive.tar.gz"),
            "xz": os.path.join(self.dir, "archive.tar.xz"),
        }
        self.packages = {
            "bzip2": os.path.join(self.dir, "package-bzip2.bin"),
            "lbzip2": os.path.join(self.dir, "package-lbzip2.bin"),
            "tzst": os.path.join(self.dir, "package-tzst.bin"),
            "tgz": os.path.join(self.dir, "package-tgz.bin"),
        }
        self.setup_packages = [os.path.join(self.dir, "package-setup.bin"),
                               os.path.join(self.dir, "package-setup-2.bin")]
        self.defaults = os.path.join(self.dir, "bench.cfg")
        self.floor_dir = os.path.join(self.dir, "floor")
        self.run_dir = os.path.join(self.dir, "run")
        self.build = build
        self.content = content
        self.info = {}

    def mkpackage(self, args):
        start = time.perf_counter()
        run([os.path.join(self.build, "bin", "mkpackage")] + args)
        return time.perf_counter() - start

    def archive_piece(self, package, archive):
        """Writes the archive piece of package to archive: the floors
        decompress the very bytes that the packages carry."""
        length = int(self.record(package)["Archive"].split()[0])
        with open(package, "rb") as whole, open(archive, "wb") as out:
            whole.seek(-length, os.SEEK_END)
            shutil.copyfileobj(whole, out, 1 << 20)
        return length

    def prepare(self):
        bin_dir = os.path.join(self.build, "bin")
        fresh_dir(self.dir)
        if self.content == "real":
            os.makedirs(self.product)
            total, kinds = make_real_content(self.product, SIZES[self.name])
            self.info["kinds"] = kinds
            log("  %s: %d files, %d bytes of installed files" % (
                self.name, sum(k["files"] for k in kinds.values()), total))
        else:
            out = run([os.path.join(bin_dir, "make_content"), str(SEED), str(SIZES[self.name]),
                       self.product])
            total = int(out.split()[2])
            log("  %s: %s" % (self.name, out.strip()))
        os.makedirs(os.path.join(self.product, "Bin"), exist_ok=True)
        shutil.copy(os.path.join(bin_dir, "bench_second_stage"),
                    os.path.join(self.product, "Bin", "setup"))
        # mkpackage packs a program as Bin/setup only beside the password
        # databases that the framework's installation writes into.
        for database in ("adm_b_db", "enc_r_db", "enc_b_db", "enc_w_db", "cdi_b_db"):
            os.makedirs(os.path.join(self.product, database), exist_ok=True)
        seconds = {}
        seconds["bzip2"] = self.mkpackage([self.product, self.packages["bzip2"]])
        seconds["tzst"] = self.mkpackage(["--type", "tzst", self.product, self.packages["tzst"]])
        seconds["tgz"] = self.mkpackage(["--type", "tgz", self.product, self.packages["tgz"]])
        for kind in ("bzip2", "tzst", "tgz"):
            self.archive_piece(self.packages[kind], self.archives[kind])
        # The tar stream that mkpackage packed, uncompressed: the physical
        # floor's input.
        run(["sh", "-c", "bzip2 -dc %s > %s" % (shlex.quote(self.archives["bzip2"]),
                                                 shlex.quote(self.tar))])
        start = time.perf_counter()
        run(["sh", "-c", "xz -9 -T0 -c %s > %s" % (shlex.quote(self.tar),
                                                    shlex.quote(self.archives["xz"]))])
        seconds["xz"] = time.perf_counter() - start
        seconds["lbzip2"] = self.mkpackage(["--decompressor", "/usr/bin/lbzip2",
                                            self.archives["bzip2"], self.packages["lbzip2"]])
        seconds["setup"] = self.prepare_setup_packages(bin_dir)
        records = dict((k, self.record(p)) for k, p in self.packages.items())
        self.info.update({
            "product_bytes": total,
            "tar_bytes": file_size(self.tar),
            "archive_bytes": dict((k, file_size(a)) for k, a in self.archives.items()),
            "package_bytes": dict((k, file_size(p)) for k, p in self.packages.items()),
            "unpacked_bytes": int(records["bzip2"]["Unpacked"].split()[0]),
            "checksum": records["bzip2"]["Checksum"].split()[0],
            "launcher_bytes": int(records["bzip2"]["Launcher"].split()[0]),
            "decompressor_bytes": dict((k, int(r["Decompressor"].split()[0]))
                                       for k, r in records.items()),
            "build_seconds": seconds,
        })

    def prepare_setup_packages(self, bin_dir):
        """The same product with the demo's files and the real setup as
        Bin/setup, packed as tzst; a second package of it with files changed,
        for the upgrade; and the installer defaults of the runs."""
        product = os.path.join(self.dir, "setup-product")
        run(["cp", "-a", self.product, product])
        run(["cp", "-R", os.path.join(ROOT, "demo", "product") + "/.", product])
        shutil.copy(os.path.join(bin_dir, "setup"), os.path.join(product, "Bin", "setup"))
        start = time.perf_counter()
        self.mkpackage(["--type", "tzst", product, self.setup_packages[0]])
        took = time.perf_counter() - start
        with open(os.path.join(product, "Docs", "ReadMe.txt"), "a") as f:
            f.write("\nRelease 2 of the benchmark's product.\n")
        with open(os.path.join(product, "Docs", "Changes.txt"), "w") as f:
            f.write("Release 2: one file changed, one added.\n")
        self.mkpackage(["--type", "tzst", product, self.setup_packages[1]])
        shutil.rmtree(product)
        self.write_defaults(self.defaults, self.run_dir)
        return took

    def write_defaults(self, path, start_dir):
        """Installer defaults of an unattended installation into
        start_dir/install, as demo/demo.cfg has them."""
        with open(os.path.join(ROOT, "demo", "demo.cfg")) as f:
            lines = [l for l in f if not l.startswith("DefInstallPath=")]
        with open(path, "w") as f:
            f.write("DefInstallPath=%s\n" % os.path.join(start_dir, "install"))
            f.writelines(lines)

    def install_untimed(self):
        """A fresh installation of the first setup package in run/."""
        fresh_dir(self.run_dir)
        _, _, _, code = timed(self.setup_command(0), self.run_dir)
        if code != 0:
            sys.exit("bench: %s: the installation to start from ended with %d" % (self.name, code))

    def setup_command(self, which, defaults=None):
        return "%s -s -cfg %s" % (shlex.quote(self.setup_packages[which]),
                                  shlex.quote(defaults or self.defaults))

    def has_verify(self):
        """Whether the installation carries Bin/verify: the row is there when
        the program is."""
        self.install_untimed()
        return os.path.exists(os.path.join(self.run_dir, "install", "Bin", "verify"))

    def setup_peak_kb(self, runs=3):
        """setup's own peak resident memory, in kilobytes, as GNU time sees it
        (with the clean-up's shell, which is smaller): the package unpacked
        with --extract-only, then its Bin/setup run as the launcher would."""
        peaks = []
        peak_file = os.path.join(self.dir, "setup-peak")
        for _ in range(runs):
            fresh_dir(self.run_dir)
            extracted = os.path.join(self.run_dir, "qzsetup")
            run([self.setup_packages[0], "--extract-only", extracted])
            run(["/usr/bin/time", "-f", "%M", "-o", peak_file, "./Bin/setup", "-s", "-cfg",
                 self.defaults], cwd=extracted)
            with open(peak_file) as f:
                peaks.append(int(f.read().split()[-1]))
        return max(peaks)

    def record(self, package):
        out = run([os.path.join(self.build, "bin", "mkpackage"), "--info", package])
        fields = {}
        for line in out.splitlines():
            key, _, value = line.partition(":")
            fields[key.strip()] = value.strip()
        return fields

    def commands(self):
        """name -> (shell text, working directory, directory made fresh first)."""
        q = shlex.quote
        bin_dir = os.path.join(self.build, "bin")
        into = "tar xof - -C %s" % q(self.floor_dir)

        def pipeline(feed, decompressor):
            return ("%s | %s | %s" % (feed, decompressor, into), self.dir, self.floor_dir)

        def package(kind):
            return ("%s -s" % q(self.packages[kind]), self.run_dir, self.run_dir)

        a = self.archives
        return {
            "shell": ("", self.dir, None),
            # The physical floor: no decompression at all.
            "floor": ("cat %s | %s" % (q(self.tar), into), self.dir, self.floor_dir),
            "floor-bzip2": ("bzip2 -dc %s | %s" % (q(a["bzip2"]), into), self.dir,
                            self.floor_dir),
            "cat-bunzip2": pipeline("cat " + q(a["bzip2"]),
                                    q(os.path.join(bin_dir, "strata-bunzip2")) + " -dc"),
            "package-bzip2": package("bzip2"),
            "cat-lbzip2": pipeline("cat " + q(a["bzip2"]), "lbzip2 -dc"),
            "package-lbzip2": package("lbzip2"),
            "cat-unzstd": pipeline("cat " + q(a["tzst"]),
                                   q(os.path.join(bin_dir, "strata-unzstd")) + " -dc"),
            "package-tzst": package("tzst"),
            "cat-gzip": pipeline("cat " + q(a["tgz"]), "gzip -dc"),
            "package-tgz": package("tgz"),
            "cat-xz": pipeline("cat " + q(a["xz"]), "xz -dc"),
            "version": ("%s --version" % q(self.packages["bzip2"]), self.dir, None),
            # One process started and ended: what each of the launcher, the
            # pipeline's shell and the second stage costs by being there.
            "process": ("/bin/true", self.dir, None),
            # The real second stage. Its package's own unpacking; the whole
            # unattended installation into a fresh directory; then, on an
            # installation of the first package made beforehand (untimed),
            # the same package again, the second one, and the programs the
            # installation keeps.
            "unpack-setup": ("%s --extract-only qzsetup" % q(self.setup_packages[0]),
                             self.run_dir, self.run_dir),
            "install": (self.setup_command(0), self.run_dir, self.run_dir),
            "rerun": (self.setup_command(0), self.run_dir, None),
            "upgrade": (self.setup_command(1), self.run_dir, None),
            "verify": ("install/Bin/verify", self.run_dir, None),
            "uninstall": ("install/Bin/uninstall -s", self.run_dir, None),
        }

    # What a command needs in run/ before it starts, and what it leaves
    # there: "installed" is an installation of the first setup package.
    STATES = {
        "install": (None, "installed"),
        "rerun": ("installed", "installed"),
        "verify": ("installed", "installed"),
        "upgrade": ("installed", None),
        "uninstall": ("installed", None),
    }

    def peak_kb(self, package, runs=3):
        """The launcher process's own peak resident memory, in kilobytes: the
        second stage reports it, after the launcher ran in the same process."""
        peaks = []
        peak_file = os.path.join(self.dir, "peak")
        for _ in range(runs):
            fresh_dir(self.run_dir)
            env = dict(os.environ, STRATA_BENCH_PEAK_FILE=peak_file)
            _, _, _, code = timed(shlex.quote(package) + " -s", self.run_dir, env)
            if code != 0:
                sys.exit("bench: %s exited with %d" % (package, code))
            with open(peak_file) as f:
                peaks.append(int(f.read()))
        return max(peaks)


def measure(size, rounds, rows, skip=()):
    commands = size.commands()
    names = [name for name in commands if name not in skip]
    state = None
    for r in range(rounds):
        # A different command leads each round.
        order = names[r % len(names):] + names[:r % len(names)]
        for name in order:
            text, cwd, fresh = commands[name]
            needs, leaves = Size.STATES.get(name, (None, None))
            if needs == "installed" and state != "installed":
                size.install_untimed()
            if fresh:
                fresh_dir(fresh)
            if name in Size.STATES or fresh == size.run_dir:
                state = leaves
            wall, user, system, code = timed(text, cwd)
            if code != (255 if name == "version" else 0):
                sys.exit("bench: %s: %r exited with %d" % (size.name, text, code))
            rows.append({"size": size.name, "round": r, "command": name, "wall": wall,
                         "user": user, "system": system})
        log("  %s round %d/%d done" % (size.name, r + 1, rounds))


def summarize(size, rows):
    mine = [row for row in rows if row["size"] == size.name]
    by = {}
    for row in mine:
        by.setdefault(row["command"], []).append(row)
    shell = statistics.median(row["wall"] for row in by["shell"])
    result = {"shell_start": shell, "commands": {}}
    floor = statistics.median(row["wall"] for row in by["floor"]) - shell
    for name, runs in by.items():
        if name == "shell":
            continue
        wall = statistics.median(row["wall"] for row in runs) - shell
        entry = {
            "runs": len(runs),
            "wall": wall,
            "wall_min": min(row["wall"] for row in runs) - shell,
            "wall_max": max(row["wall"] for row in runs) - shell,
            "cpu": statistics.median(row["user"] + row["system"] for row in runs),
            "ratio": wall / floor,
        }
        # The same ratio within each round, to show its spread.
        per_round = {}
        for row in runs:
            per_round.setdefault(row["round"], {})["x"] = row["wall"] - shell
        for row in by["floor"]:
            per_round.setdefault(row["round"], {})["floor"] = row["wall"] - shell
        ratios = sorted(v["x"] / v["floor"] for v in per_round.values() if len(v) == 2)
        entry["round_ratio_median"] = statistics.median(ratios)
        entry["round_ratio_min"] = ratios[0]
        entry["round_ratio_max"] = ratios[-1]
        result["commands"][name] = entry
    # Each package against its own pipeline fed by cat, and the bz2 package
    # against Debian's bzip2, within the same rounds.
    walls = dict((name, dict((row["round"], row["wall"] - shell) for row in runs))
                 for name, runs in by.items())
    # The second stage's runs against their package's own unpacking.
    unpack = result["commands"].get("unpack-setup")
    for name in SETUP_COMMANDS:
        entry = result["commands"].get(name)
        if not entry or not unpack:
            continue
        entry["unpack_ratio"] = entry["wall"] / unpack["wall"]
        ratios = sorted(walls[name][r] / walls["unpack-setup"][r] for r in walls[name]
                        if r in walls["unpack-setup"])
        entry["unpack_round_median"] = statistics.median(ratios)
        entry["unpack_round_min"] = ratios[0]
        entry["unpack_round_max"] = ratios[-1]
    pairs = dict(PAIRS)
    pairs["package-bzip2/floor-bzip2"] = None
    result["pairs"] = {}
    for key, base in pairs.items():
        name, base = (key.split("/") if base is None else (key, base))
        ratios = sorted(walls[name][r] / walls[base][r] for r in walls[name] if r in walls[base])
        result["pairs"][name + "/" + base] = {
            "ratio": result["commands"][name]["wall"] / result["commands"][base]["wall"],
            "round_median": statistics.median(ratios),
            "round_min": ratios[0],
            "round_max": ratios[-1],
        }
    return result


def ext4_syncs(size, rounds):
    """The whole installation and the floor on ext4 in a loop image on the
    machine's disk, where a sync waits for the device (on tmpfs it costs
    nothing), and what the syncs of one installation take by strace's
    clock. None where no loop image can be mounted."""
    if os.geteuid() != 0 or not shutil.which("mkfs.ext4") or not shutil.which("strace"):
        return None
    base = os.path.join(ROOT, "out", "bench-ext4")
    image = os.path.join(base, "image")
    mnt = os.path.join(base, "mnt")
    fresh_dir(base)
    os.makedirs(mnt)
    megabytes = 64 + 4 * size.info["tar_bytes"] // (1 << 20)
    run(["truncate", "-s", "%dM" % megabytes, image])
    run(["mkfs.ext4", "-q", "-F", image])
    if subprocess.run(["mount", "-o", "loop", image, mnt], capture_output=True).returncode != 0:
        shutil.rmtree(base)
        return None
    try:
        start_dir = os.path.join(mnt, "run")
        floor_dir = os.path.join(mnt, "floor")
        defaults = os.path.join(mnt, "bench.cfg")
        size.write_defaults(defaults, start_dir)
        install = size.setup_command(0, defaults)
        floor = "cat %s | tar xof - -C %s" % (shlex.quote(size.tar), shlex.quote(floor_dir))
        walls = {"install": [], "floor": []}
        for r in range(rounds):
            for name in (["install", "floor"] if r % 2 == 0 else ["floor", "install"]):
                target = start_dir if name == "install" else floor_dir
                fresh_dir(target)
                # Each run starts with the earlier one's writes on the device.
                os.sync()
                wall, _, _, code = timed(install if name == "install" else floor, start_dir
                                         if name == "install" else mnt)
                if code != 0:
                    sys.exit("bench: %s on ext4 ended with %d" % (name, code))
                walls[name].append(wall)
        fresh_dir(start_dir)
        os.sync()
        trace = os.path.join(base, "strace")
        run(["strace", "-f", "-c", "-w", "-o", trace, "-e",
             "trace=fsync,fdatasync,syncfs,sync,sync_file_range", "sh", "-c", install],
            cwd=start_dir)
        calls, spent = 0, 0.0
        with open(trace) as f:
            for line in f:
                fields = line.split()
                if len(fields) >= 5 and fields[-1] == "total":
                    spent, calls = float(fields[1]), int(fields[3])
        return {"install": statistics.median(walls["install"]),
                "floor": statistics.median(walls["floor"]), "runs": rounds,
                "sync_calls": calls, "sync_seconds": spent, "image_mb": megabytes}
    finally:
        subprocess.run(["umount", mnt], capture_output=True)
        shutil.rmtree(base, ignore_errors=True)


def checksum_cost(size, build, floor_seconds):
    out = run([os.path.join(build, "bin", "checksum_speed"), size.archives["bzip2"], "9"])
    times = dict((k, float(v)) for k, v in (line.split() for line in out.splitlines()))
    return {
        "archive_bytes": size.info["archive_bytes"]["bzip2"],
        "read_only": times["read-only"],
        "sha256": times["sha256"],
        "xxh3-128": times["xxh3-128"],
        "sha256_share": (times["sha256"] - times["read-only"]) / floor_seconds,
        "xxh3-128_share": (times["xxh3-128"] - times["read-only"]) / floor_seconds,
        "floor": floor_seconds,
    }


def placing(size, build, rounds, rows, shell):
    """The driver's installation step: the extracted product placed into an
    installation directory on the same file system (renames), against the
    same placement made by copying."""
    place = os.path.join(build, "bin", "bench_place")
    if not os.path.exists(place):
        return None
    pristine = os.path.join(size.dir, "pristine")
    fresh_dir(pristine)
    run(["sh", "-c", "tar xof %s -C %s" % (shlex.quote(size.tar), shlex.quote(pristine))])
    source = os.path.join(size.dir, "extracted")
    target = os.path.join(size.dir, "installed")
    for r in range(rounds):
        for mode in (["rename", "copy"] if r % 2 == 0 else ["copy", "rename"]):
            for path in (source, target):
                if os.path.exists(path):
                    shutil.rmtree(path)
            run(["cp", "-a", pristine, source])
            os.makedirs(target)
            argv = [place] + (["--copy"] if mode == "copy" else []) + [source, target]
            wall, user, system, code = timed(" ".join(shlex.quote(a) for a in argv), size.dir)
            if code != 0:
                sys.exit("bench: bench_place %s failed" % mode)
            rows.append({"size": size.name, "round": r, "command": "place-" + mode, "wall": wall,
                         "user": user, "system": system})
    result = {}
    for mode in ("rename", "copy"):
        walls = [row["wall"] for row in rows if row["command"] == "place-" + mode]
        result[mode] = {"wall": statistics.median(walls) - shell, "runs": len(walls)}
    result["files"] = int(run(["sh", "-c", "find %s -type f | wc -l" % shlex.quote(pristine)]))
    return result


def machine():
    def first(argv):
        try:
            out = subprocess.run(argv, capture_output=True, text=True).stdout
            return (out or "").splitlines()[0].strip() if out else ""
        except OSError:
            return ""

    cpu = ""
    with open("/proc/cpuinfo") as f:
        for line in f:
            if line.startswith("model name"):
                cpu = line.split(":", 1)[1].strip()
                break
    with open("/proc/meminfo") as f:
        mem_kb = int(f.readline().split()[1])
    return {
        "cpu": cpu,
        "cores": os.cpu_count(),
        "memory_gib": round(mem_kb / 1024 / 1024, 1),
        "kernel": platform.release(),
        "os": first(["sh", "-c", ". /etc/os-release && echo \"$PRETTY_NAME\""]),
        "bzip2": first(["sh", "-c", "bzip2 --version 2>&1 </dev/null"]),
        "lbzip2": first(["sh", "-c", "lbzip2 --version 2>&1"]),
        "zstd": first(["zstd", "--version"]),
        "gzip": first(["gzip", "--version"]),
        "xz": first(["xz", "--version"]),
        "tar": first(["tar", "--version"]),
        "compiler": first(["c++", "--version"]),
        "commit": first(["git", "-C", ROOT, "rev-parse", "--short", "HEAD"]),
        "date": datetime.datetime.now(datetime.timezone.utc).strftime("%Y-%m-%d %H:%M UTC"),
    }


def work_dir(requested):
    if requested:
        return requested
    # A disk is too noisy for differences of a few percent.
    if os.path.isdir("/dev/shm") and os.access("/dev/shm", os.W_OK):
        return "/dev/shm/strata-bench"
    return os.path.join(ROOT, "out", "bench")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--build", default=os.path.join(ROOT, "build"))
    parser.add_argument("--work")
    parser.add_argument("--quick", action="store_true",
                        default=os.environ.get("BENCH_QUICK", "") not in ("", "0"))
    parser.add_argument("--sizes")
    parser.add_argument("--rounds", type=int)
    parser.add_argument("--content", choices=["real", "generated"], default="real")
    parser.add_argument("--results")
    parser.add_argument("--report")
    parser.add_argument("--no-report", action="store_true")
    args = parser.parse_args()

    build = os.path.abspath(args.build)
    work = work_dir(args.work)
    sizes = args.sizes.split(",") if args.sizes else (
        ["small", "medium"] if args.quick else ["small", "medium", "large"])
    rounds = QUICK_ROUNDS if args.quick else ROUNDS
    # A quick run never replaces the figures of a full one.
    out = os.path.join(ROOT, "out", "bench-quick") if args.quick else None
    args.results = args.results or (os.path.join(out, "results") if out else
                                    os.path.join(ROOT, "bench", "results"))
    args.report = args.report or (os.path.join(out, "BENCHMARKS.md") if out else
                                  os.path.join(ROOT, "BENCHMARKS.md"))
    os.makedirs(work, exist_ok=True)
    os.makedirs(args.results, exist_ok=True)

    info = {"machine": machine(), "work": work, "quick": args.quick, "sizes": {},
            "content": args.content, "load_before": os.getloadavg(), "load_during": []}
    log("bench: working in %s" % work)
    rows = []
    for name in sizes:
        size = Size(name, work, build, args.content)
        log("bench: preparing %s" % name)
        size.prepare()
        n = args.rounds or rounds[name]
        skip = () if size.has_verify() else ("verify",)
        log("bench: timing %s, %d rounds%s" % (name, n, "" if not skip else
                                                 " (no Bin/verify in this build)"))
        measure(size, n, rows, skip)
        info["load_during"].append(os.getloadavg()[0])
        summary = summarize(size, rows)
        summary["package"] = size.info
        summary["peak_kb"] = dict(("package-" + kind, size.peak_kb(size.packages[kind]))
                                  for kind in ("bzip2", "tzst"))
        summary["setup_peak_kb"] = size.setup_peak_kb()
        # On the size of the 64 MB tree: the medium one, or the largest below.
        if name == "medium" or (name == sizes[-1] and "medium" not in sizes):
            log("bench: timing the %s installation on ext4 in a loop image" % name)
            summary["ext4"] = ext4_syncs(size, max(3, n // 2))
        summary["checksum"] = checksum_cost(size, build,
                                            summary["commands"]["floor-bzip2"]["wall"])
        if name == sizes[-1]:
            log("bench: timing the driver's placing of the %s product" % name)
            summary["placing"] = placing(size, build, max(3, n // 2), rows,
                                         summary["shell_start"])
        info["sizes"][name] = summary
        shutil.rmtree(size.dir)
    info["load_after"] = os.getloadavg()

    with open(os.path.join(args.results, "raw.csv"), "w", newline="") as f:
        writer = csv.DictWriter(f, fieldnames=["size", "round", "command", "wall", "user",
                                               "system"])
        writer.writeheader()
        writer.writerows(rows)
    with open(os.path.join(args.results, "summary.json"), "w") as f:
        json.dump(info, f, indent=2, sort_keys=True)
    log("bench: raw results in %s" % args.results)
    if not args.no_report:
        import report
        with open(args.report, "w") as f:
            f.write(report.render(info))
        log("bench: wrote %s" % args.report)
    return 0


if __name__ == "__main__":
    sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
    sys.exit(main())
