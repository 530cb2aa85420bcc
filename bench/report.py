"""Renders BENCHMARKS.md from the summary that run_bench.py keeps."""

TITLES = {
    "floor": "physical floor: cat archive.tar, tar x",
    "floor-bzip2": "bzip2 -dc, tar x (Debian's bzip2)",
    "cat-bunzip2": "cat, strata-bunzip2 -dc, tar x",
    "package-bzip2": "our package, bz2 (strata-bunzip2)",
    "cat-lbzip2": "cat, lbzip2 -dc, tar x",
    "package-lbzip2": "our package, bz2 carrying lbzip2",
    "cat-unzstd": "cat, strata-unzstd -dc, tar x",
    "package-tzst": "our package, tzst (strata-unzstd)",
    "cat-gzip": "cat, gzip -dc, tar x",
    "package-tgz": "our package, tgz (the system's gunzip)",
    "cat-xz": "cat, xz -dc, tar x (for comparison)",
    "version": "our package, --version",
    "process": "one process, /bin/true",
    "unpack-setup": "setup package, unpacking only (--extract-only)",
    "install": "whole unattended installation (-s -cfg)",
    "rerun": "the same package again, nothing to do",
    "upgrade": "upgrade to a second package",
    "verify": "Bin/verify of the installation",
    "uninstall": "Bin/uninstall -s",
}

SETUP_ORDER = ["unpack-setup", "install", "rerun", "upgrade", "verify", "uninstall"]

ORDER = ["floor", "floor-bzip2", "cat-bunzip2", "package-bzip2", "cat-lbzip2", "package-lbzip2",
         "cat-unzstd", "package-tzst", "cat-gzip", "package-tgz", "cat-xz", "version", "process"]

# Rows of the comparison of types: archive, package, unpacking command.
KINDS = [
    ("bzip2 -9 (bz2)", "bzip2", "bzip2", "cat-bunzip2", "package-bzip2"),
    ("zstd -19 (tzst)", "tzst", "tzst", "cat-unzstd", "package-tzst"),
    ("gzip -9 (tgz)", "tgz", "tgz", "cat-gzip", "package-tgz"),
    ("xz -9 (no package type)", "xz", None, "cat-xz", None),
]


def mb(n):
    return "%.1f MB" % (n / 1e6)


def kb(n):
    return "%d KB" % round(n / 1024)


def seconds(s):
    return "%.3f s" % s if s >= 0.1 else "%.1f ms" % (s * 1000)


def verdict(ok):
    return "met" if ok else "**missed**"


def render(info):
    from run_bench import (BZIP2_LIMIT, CAT_LIMIT, CHECKSUM_LIMIT, DECOMPRESSOR_LIMIT,
                           INSTALL_FLOOR_LIMIT, INSTALL_UNPACK_LIMIT, PAIRS, PEAK_LIMIT_KB,
                           REAL_SOURCES, RERUN_UNPACK_LIMIT, SEED, SETUP_PEAK_LIMIT_KB, SIZES,
                           TZST_FLOOR_LIMIT, VERIFY_UNPACK_LIMIT, VERSION_LIMIT)

    m = info["machine"]
    sizes = dict((k, info["sizes"][k]) for k in SIZES if k in info["sizes"])
    largest = list(sizes)[-1]
    out = []
    w = out.append
    w("# Benchmarks")
    w("")
    w("How fast a package unpacks, against the same decompression without the package and"
      " against the physical floor. Written by `make bench` (`bench/run_bench.py`); the raw"
      " figures of this run are in `bench/results/` (`raw.csv`: every timed run;"
      " `summary.json`: everything below).")
    if info["quick"]:
        w("")
        w("**This is a quick run (BENCH_QUICK=1): fewer sizes and rounds; its figures are"
          " rough.**")
    w("")
    w("## Machine")
    w("")
    w("| | |")
    w("|---|---|")
    w("| CPU | %s, %d cores |" % (m["cpu"], m["cores"]))
    w("| memory | %s GiB |" % m["memory_gib"])
    w("| system | %s, Linux %s |" % (m["os"], m["kernel"]))
    w("| tools | %s |" % "; ".join(m[k] for k in ("bzip2", "lbzip2", "zstd", "gzip", "xz", "tar")
                                   if m.get(k)))
    w("| compiler | %s |" % m["compiler"])
    w("| files | `%s` (%s) |" % (info["work"], "tmpfs" if info["work"].startswith("/dev/shm")
                                 else "not tmpfs"))
    w("| run | %s, commit %s |" % (m["date"], m["commit"]))
    w("| load average | %.2f before, %s while timing, %.2f after (1 minute) |"
      % (info["load_before"][0], ", ".join("%.2f" % x for x in info.get("load_during", [])),
         info["load_after"][0]))
    w("")

    w("## Targets")
    w("")
    w("| Target | Size | Measured | |")
    w("|---|---|---|---|")
    for name in sizes:
        ratio = sizes[name]["commands"]["package-tzst"]["ratio"]
        w("| tzst package at most %.2fx the physical floor | %s | %.3fx | %s |"
          % (TZST_FLOOR_LIMIT, name, ratio, verdict(ratio <= TZST_FLOOR_LIMIT)))
    for name in sizes:
        p = sizes[name]["package"]["package_bytes"]
        ratio = p["tzst"] / p["bzip2"]
        if name == "small":
            w("| (tzst package's size, small: the launcher's %s is most of both packages) | %s"
              " | %.3fx | |" % (kb(sizes[name]["package"]["launcher_bytes"]), name, ratio))
            continue
        # No target: the long window's two percent cost half again the
        # unpacking time, so the size is only shown.
        w("| (tzst package's size against the bz2 package's, zstd's own window) | %s | %.3fx | |"
          % (name, ratio))
    for package, base in PAIRS.items():
        for name in sizes:
            ratio = sizes[name]["pairs"][package + "/" + base]["ratio"]
            w("| %s at most %.2fx `%s` | %s | %.3fx | %s |"
              % (TITLES[package].replace("our package, ", "package "), CAT_LIMIT,
                 TITLES[base].replace(", ", " \\| "), name, ratio, verdict(ratio <= CAT_LIMIT)))
    for name in sizes:
        ratio = sizes[name]["pairs"]["package-bzip2/floor-bzip2"]["ratio"]
        w("| bz2 package with strata-bunzip2 at most %.2fx `bzip2 -dc \\| tar xof -` | %s |"
          " %.3fx | %s |" % (BZIP2_LIMIT, name, ratio, verdict(ratio <= BZIP2_LIMIT)))
    d = sizes[largest]["package"]["decompressor_bytes"]
    for kind, program in (("bzip2", "strata-bunzip2"), ("tzst", "strata-unzstd")):
        w("| static decompressor %s at most %s | all | %s | %s |"
          % (program, kb(DECOMPRESSOR_LIMIT), kb(d[kind]), verdict(d[kind] <= DECOMPRESSOR_LIMIT)))
    for name in sizes:
        for kind, peak in sorted(sizes[name]["peak_kb"].items()):
            w("| launcher's own peak memory under %d KB (%s) | %s | %d KB | %s |"
              % (PEAK_LIMIT_KB, kind.split("-")[1], name, peak, verdict(peak < PEAK_LIMIT_KB)))
    c = sizes[largest]["checksum"]
    w("| checksum under %d%% of `bzip2 -dc \\| tar x` (XXH3-128, the default) | %s | %.2f%% |"
      " %s |" % (CHECKSUM_LIMIT * 100, largest, c["xxh3-128_share"] * 100,
                 verdict(c["xxh3-128_share"] < CHECKSUM_LIMIT)))
    w("| (SHA-256, for comparison, with `--checksum sha256`) | %s | %.2f%% | |"
      % (largest, c["sha256_share"] * 100))
    for name in sizes:
        v = sizes[name]["commands"]["version"]["wall"]
        w("| `--version` answers at once, whatever the size | %s | %s | %s |"
          % (name, seconds(v), verdict(v < VERSION_LIMIT)))
    for name in sizes:
        cmds = sizes[name]["commands"]
        if "install" not in cmds:
            continue
        i = cmds["install"]
        w("| whole unattended installation at most %.2fx the physical floor | %s | %.3fx | %s |"
          % (INSTALL_FLOOR_LIMIT, name, i["ratio"], verdict(i["ratio"] <= INSTALL_FLOOR_LIMIT)))
        w("| whole unattended installation at most %.2fx the package's own unpacking | %s |"
          " %.3fx | %s |" % (INSTALL_UNPACK_LIMIT, name, i["unpack_ratio"],
                             verdict(i["unpack_ratio"] <= INSTALL_UNPACK_LIMIT)))
        r = cmds["rerun"]
        w("| rerun with nothing to do at most %.2fx the package's own unpacking | %s | %.3fx |"
          " %s |" % (RERUN_UNPACK_LIMIT, name, r["unpack_ratio"],
                     verdict(r["unpack_ratio"] <= RERUN_UNPACK_LIMIT)))
        v = cmds.get("verify")
        if v:
            w("| `Bin/verify` at most %.2fx the package's own unpacking | %s | %.3fx | %s |"
              % (VERIFY_UNPACK_LIMIT, name, v["unpack_ratio"],
                 verdict(v["unpack_ratio"] <= VERIFY_UNPACK_LIMIT)))
        else:
            w("| `Bin/verify` at most %.2fx the package's own unpacking | %s | (no Bin/verify in"
              " this build) | |" % (VERIFY_UNPACK_LIMIT, name))
        peak = sizes[name].get("setup_peak_kb")
        if peak:
            w("| setup's peak memory under %d MB | %s | %d KB | %s |"
              % (SETUP_PEAK_LIMIT_KB // 1024, name, peak, verdict(peak < SETUP_PEAK_LIMIT_KB)))
    placing = sizes[largest].get("placing")
    if placing:
        w("| driver places the product by rename on one file system (%d files) | %s |"
          " rename %s, copy %s | %s |"
          % (placing["files"], largest, seconds(placing["rename"]["wall"]),
             seconds(placing["copy"]["wall"]),
             verdict(placing["rename"]["wall"] < placing["copy"]["wall"])))
    w("")
    w("Ratios are medians of wall time over medians of wall time, from the same run, after the"
      " empty shell's start is taken off both. The small size shows the launcher's fixed"
      " cost. The tables below also give, for each command, the median, fastest and slowest"
      " of its ratio to the physical floor within single rounds.")
    w("")
    during = info.get("load_during", [])
    w("How noisy it was: the machine is shared, and other work ran beside the benchmark (a"
      " 1-minute load average of %s on %d cores while timing, of which the benchmark's own"
      " pipelines make up to about 2). The physical floor's own runs spread %s; within"
      " single rounds, the tzst package took %s the floor. A package's pipeline needs both cores at once (the"
      " decompressor and tar), the floor hardly more than one, so a busy machine raises the"
      " ratios to the floor most, and the ratios between two pipelines least."
      % (" and ".join("%.1f" % x for x in during) if during else "unknown", m["cores"],
         "; ".join("%s %s to %s (median %s)"
                   % (n, seconds(sizes[n]["commands"]["floor"]["wall_min"]),
                      seconds(sizes[n]["commands"]["floor"]["wall_max"]),
                      seconds(sizes[n]["commands"]["floor"]["wall"])) for n in sizes),
         "; ".join("%.2fx to %.2fx (%s)"
                   % (sizes[n]["commands"]["package-tzst"]["round_ratio_min"],
                      sizes[n]["commands"]["package-tzst"]["round_ratio_max"], n)
                   for n in sizes)))
    w("")

    w("## The installation")
    w("")
    w("The real second stage (`build/bin/setup`, static and stripped, as `Bin/setup` of the"
      " product with the demo's files) in a tzst package of each size, run as an administrator"
      " runs it: `./package-setup.bin -s -cfg bench.cfg` (demo/demo.cfg with the installation"
      " directory `run/install`). Its own unpacking is `./package-setup.bin --extract-only"
      " qzsetup`, the same launcher and archive without the second stage. The runs after the"
      " installation start from an installation of the first package made beforehand, untimed;"
      " the upgrade installs a second package of the same product with one file changed and one"
      " added. Ratio to the floor and to the unpacking: medians over medians; per round: the"
      " median, fastest and slowest ratio to the unpacking within single rounds.")
    for name in sizes:
        cmds = sizes[name]["commands"]
        if "install" not in cmds:
            continue
        w("")
        w("### %s" % name)
        w("")
        w("| Command | Wall | CPU | x floor | x unpacking | per round, x unpacking |")
        w("|---|---|---|---|---|---|")
        for cmd in SETUP_ORDER:
            e = cmds.get(cmd)
            if not e:
                continue
            w("| %s | %s (%s to %s) | %s | %.3fx | %s | %s |"
              % (TITLES[cmd], seconds(e["wall"]), seconds(e["wall_min"]), seconds(e["wall_max"]),
                 seconds(e["cpu"]), e["ratio"],
                 "%.3fx" % e["unpack_ratio"] if "unpack_ratio" in e else "1.000x",
                 "%.3fx (%.3f to %.3f)" % (e["unpack_round_median"], e["unpack_round_min"],
                                           e["unpack_round_max"])
                 if "unpack_ratio" in e else "-"))
        if "verify" not in cmds:
            w("")
            w("No `Bin/verify` in the installation this build makes: its row is left out.")
        w("")
        w("setup's own peak resident memory (GNU time around `Bin/setup -s -cfg` in the"
          " extracted package; the largest of three runs): %d KB." % sizes[name]["setup_peak_kb"])
        x = sizes[name].get("ext4")
        if x:
            w("")
            w("On ext4 in a loop image of %d MB on the machine's disk (median of %d, the page"
              " cache synced before each run): the whole installation %s, the physical floor %s"
              " (%.2fx). The syncs of one installation: %d calls, %s by strace's clock"
              " (`strace -f -c -w`, which slows the rest, not the waits)."
              % (x["image_mb"], x["runs"], seconds(x["install"]), seconds(x["floor"]),
                 x["install"] / x["floor"], x["sync_calls"], seconds(x["sync_seconds"])))
        elif "ext4" in sizes[name]:
            w("")
            w("No loop image could be mounted here: the syncs' cost on ext4 is not measured.")
    w("")

    w("## Types compared")
    w("")
    w("Sizes are of the archive and of the whole package (launcher, decompressor, archive);"
      " times are medians, and ratios are to the physical floor of the same size.")
    for name in sizes:
        s = sizes[name]
        p = s["package"]
        w("")
        w("### %s: %s of files, a tar stream of %s" % (name, mb(p["product_bytes"]),
                                                        mb(p["tar_bytes"])))
        w("")
        w("| Compression | Archive | Package | `cat \\| decompressor \\| tar x` | Package run |")
        w("|---|---|---|---|---|")
        for title, archive, package, cat, run in KINDS:
            cat_e = s["commands"][cat]
            run_e = s["commands"].get(run) if run else None
            w("| %s | %s (%.1f%%) | %s | %s (%.2fx) | %s |"
              % (title, mb(p["archive_bytes"][archive]),
                 100.0 * p["archive_bytes"][archive] / p["tar_bytes"],
                 mb(p["package_bytes"][package]) if package else "-",
                 seconds(cat_e["wall"]), cat_e["ratio"],
                 "%s (%.2fx)" % (seconds(run_e["wall"]), run_e["ratio"]) if run_e else "-"))
        w("| none (the physical floor) | %s | - | %s (1.00x) | - |"
          % (mb(p["tar_bytes"]), seconds(s["commands"]["floor"]["wall"])))
    w("")

    w("## Where the time goes")
    w("")
    w("- The launcher reads and checks the pieces once before it removes or creates anything"
      " (the checksum pass), then reads them again to write them out. XXH3-128 adds %.2f%%"
      " to `bzip2 -dc | tar x` of the %s size where SHA-256 would add %.2f%%, which is why it"
      " is the default." % (c["xxh3-128_share"] * 100, largest, c["sha256_share"] * 100))
    w("- A pipeline fed by a package differs from one fed by `cat` only in its writer: the"
      " launcher writes 128 KiB blocks into a pipe of 1 MiB, filled whenever it has drained"
      " to half; in between it sleeps, so that the decompressor is not woken for every page"
      " it takes from a full pipe.")
    small = sizes.get("small")
    if small:
        process = small["commands"]["process"]["wall"]
        extra = small["commands"]["package-bzip2"]["wall"] - small["commands"]["cat-bunzip2"]["wall"]
        w("- The rest is fixed: a package's run starts the launcher and the second stage beside"
          " the pipeline, and reads and checks the pieces before the decompressor starts. On the"
          " small size the bz2 package took %s %s than its `cat` pipeline (the medians of runs"
          " that spread over tens of milliseconds); one process start costs %s on this machine."
          % (seconds(abs(extra)), "more" if extra >= 0 else "less", seconds(process)))
    w("- A tzst package's unpacking is tar's work plus zstd's: the pipeline needs %s of CPU"
      " where the physical floor needs %s. With both cores free the decompressor runs beside"
      " tar and the sum hardly shows in the wall time (the best rounds came to %s the floor);"
      " with other work on the machine the two take turns on one core, and the ratio climbs"
      " towards the sum. mkpackage keeps zstd's own window of 8 MiB; the window of 128 MiB of"
      " `mkpackage --long` (`--long=27`) makes an archive a few percent smaller, but matches"
      " that reach farther back than the caches hold cost the decoder time (on a 64 MB"
      " product, 2%% smaller and 55%% slower to unpack). The"
      " decompressor writes 256 KiB at a time into its pipe of 1 MiB, so that tar reads one"
      " write while the next is decoded; writes of the whole pipe made the same unpacking 9%%"
      " slower."
      % (", ".join("%s (%s)" % (seconds(sizes[n]["commands"]["package-tzst"]["cpu"]), n)
                   for n in sizes),
         ", ".join("%s (%s)" % (seconds(sizes[n]["commands"]["floor"]["cpu"]), n) for n in sizes),
         ", ".join("%.2fx (%s)" % (sizes[n]["commands"]["package-tzst"]["round_ratio_min"], n)
                   for n in sizes)))
    w("- The launcher's memory is a 128 KiB buffer, its program and the C library, whatever"
      " the package's size.")
    for name in sizes:
        cmds = sizes[name]["commands"]
        if "install" not in cmds or "unpack-setup" not in cmds:
            continue
        u = cmds["unpack-setup"]
        w("- The second stage on the %s size (%d files of content): the installation took %s beyond the"
          " package's own unpacking and %s of CPU beyond it; the rerun with nothing to do %s"
          " (%s of CPU). An installation renames the product's top directories into a staging"
          " directory, takes the record's SHA-256 of each file it unpacked and left untouched"
          " from the list the package carries (reading only the files it wrote itself),"
          " makes the staging directory durable with one syncfs and switches it in by"
          " renames; a rerun reads each recorded file once for its SHA-256 (libcrypto, with"
          " the processor's SHA extensions where it has them; on two threads when the files"
          " are many) to compare it with the record, then removes the extraction directory"
          " with every file in it (which an installation has emptied by its renames)."
          % (name, sum(k["files"] for k in sizes[name]["package"].get("kinds", {}).values()),
             seconds(cmds["install"]["wall"] - u["wall"]),
             seconds(cmds["install"]["cpu"] - u["cpu"]),
             seconds(cmds["rerun"]["wall"] - u["wall"]),
             seconds(cmds["rerun"]["cpu"] - u["cpu"])))
    w("")

    w("## Figures")
    w("")
    w("Every command starts through `sh -c`; the median start of an empty `sh -c` (given for"
      " each size) is taken off every figure, as hyperfine does. Wall: median (fastest to"
      " slowest run). CPU: median of user and system time of the command and everything it"
      " waited for. Ratio: median wall over the physical floor's median wall; per round: the"
      " median, fastest and slowest of the ratios within each round.")
    for name in sizes:
        s = sizes[name]
        p = s["package"]
        b = p["build_seconds"]
        w("")
        w("### %s" % name)
        w("")
        w("%d rounds; empty shell start %s; launcher %d bytes; strata-bunzip2 %d bytes,"
          " strata-unzstd %d bytes, lbzip2 %d bytes; unpacked size in the record %s."
          " mkpackage took %.1f s for bz2, %.1f s for tzst, %.1f s for tgz (each with its"
          " digest); xz -9 -T0 took %.1f s."
          % (s["commands"]["floor"]["runs"], seconds(s["shell_start"]), p["launcher_bytes"],
             p["decompressor_bytes"]["bzip2"], p["decompressor_bytes"]["tzst"],
             p["decompressor_bytes"]["lbzip2"], mb(p["unpacked_bytes"]), b["bzip2"], b["tzst"],
             b["tgz"], b["xz"]))
        w("")
        w("| Command | Wall | CPU | Ratio | Per round |")
        w("|---|---|---|---|---|")
        for cmd in ORDER:
            e = s["commands"].get(cmd)
            if not e:
                continue
            w("| %s | %s (%s to %s) | %s | %.3fx | %.3fx (%.3f to %.3f) |"
              % (TITLES[cmd], seconds(e["wall"]), seconds(e["wall_min"]), seconds(e["wall_max"]),
                 seconds(e["cpu"]), e["ratio"], e["round_ratio_median"], e["round_ratio_min"],
                 e["round_ratio_max"]))
        w("")
        w("Package against its own pipeline, per round: %s."
          % "; ".join("%s against %s %.3fx (%.3f to %.3f)"
                      % (TITLES[key.split("/")[0]], TITLES[key.split("/")[1]], v["round_median"],
                         v["round_min"], v["round_max"])
                      for key, v in sorted(s["pairs"].items())))
        c = s["checksum"]
        w("")
        w("Checking pass over the bzip2 archive (128 KiB reads, median of 9): read alone %s,"
          " with XXH3-128 %s, with SHA-256 %s." % (seconds(c["read_only"]), seconds(c["xxh3-128"]),
                                                  seconds(c["sha256"])))
        w("")
        w("Launcher's own peak resident memory (reported by a second stage that ends at once,"
          " in the same process, so the decompressor and tar do not count): %s."
          % ", ".join("%d KB with %s" % (v, k.split("-")[1]) for k, v in sorted(s["peak_kb"].items())))
        if s.get("placing"):
            pl = s["placing"]
            w("")
            w("Driver's placing step, %d files from the extraction directory into an"
              " installation directory on the same tmpfs, median of %d: by rename %s, by"
              " copying %s." % (pl["files"], pl["rename"]["runs"], seconds(pl["rename"]["wall"]),
                                seconds(pl["copy"]["wall"])))
    w("")

    w("## Commands")
    w("")
    if info.get("content", "real") == "real":
        w("Each size's product is made of installed files of this machine, copied in a fixed"
          " order (sorted walks of their folders), files of up to 8 MiB; the kinds take their"
          " shares of the bytes while they last (%s), and the last kind fills the rest:"
          % ", ".join("%s %d" % (label, weight) for label, weight, _ in REAL_SOURCES[:-1]))
        w("")
        w("| Size | %s |" % " | ".join(label for label, _, _ in REAL_SOURCES))
        w("|---|%s" % ("---|" * len(REAL_SOURCES)))
        for name in sizes:
            kinds = sizes[name]["package"].get("kinds", {})
            w("| %s | %s |" % (name, " | ".join(
                "%s in %d files" % (mb(kinds[label]["bytes"]), kinds[label]["files"])
                if label in kinds else "-" for label, _, _ in REAL_SOURCES)))
        w("")
        w("(%s)" % "; ".join("%s: %s" % (label, ", ".join("`%s`" % r for r in roots))
                             for label, _, roots in REAL_SOURCES))
        w("")
        w("Installed files, not the generated stand-ins of `bench/ContentGenerator.h` (still"
          " there with `--content generated`): those compress better with bzip2 than with zstd,"
          " which real text, data and fonts do not.")
    else:
        w("Each size's product is generated by `make_content %d BYTES product` (%s)." % (
            SEED, ", ".join("%s: %d bytes" % (k, SIZES[k]) for k in sizes)))
    w("")
    w("`Bin/setup` is `bench_second_stage`, which ends at once. Then:")
    w("")
    w("```sh")
    w("mkpackage product package-bzip2.bin             # strata-bunzip2, bzip2 -9, XXH3-128")
    w("mkpackage --type tzst product package-tzst.bin  # strata-unzstd, zstd -19 -T0")
    w("mkpackage --type tgz product package-tgz.bin    # no decompressor, gzip -9 -n")
    w("tail -c ARCHIVE_LENGTH package-KIND.bin > archive.tar.KIND   # for each of the three")
    w("bzip2 -dc archive.tar.bz2 > archive.tar")
    w("xz -9 -T0 -c archive.tar > archive.tar.xz")
    w("mkpackage --decompressor /usr/bin/lbzip2 archive.tar.bz2 package-lbzip2.bin")
    w("")
    w("# timed, in rounds, each round in a new order; floor/ and run/ made anew before each")
    w("sh -c ''                                        # the shell's own start")
    w("sh -c 'cat archive.tar | tar xof - -C floor'    # the physical floor")
    w("sh -c 'bzip2 -dc archive.tar.bz2 | tar xof - -C floor'")
    w("sh -c 'cat archive.tar.bz2 | strata-bunzip2 -dc | tar xof - -C floor'")
    w("sh -c 'cat archive.tar.bz2 | lbzip2 -dc | tar xof - -C floor'")
    w("sh -c 'cat archive.tar.zst | strata-unzstd -dc | tar xof - -C floor'")
    w("sh -c 'cat archive.tar.gz | gzip -dc | tar xof - -C floor'")
    w("sh -c 'cat archive.tar.xz | xz -dc | tar xof - -C floor'")
    w("cd run && sh -c '../package-KIND.bin -s'       # bzip2, lbzip2, tzst, tgz")
    w("sh -c 'package-bzip2.bin --version'")
    w("sh -c '/bin/true'                               # one process started")
    w("")
    w("# not timed: peak memory, three runs each")
    w("cd run && STRATA_BENCH_PEAK_FILE=peak sh -c '../package-KIND.bin -s'")
    w("checksum_speed archive.tar.bz2 9")
    if any(s.get("placing") for s in sizes.values()):
        w("# the driver's placing step, on the extracted largest product")
        w("bench_place extracted installed; bench_place --copy extracted installed")
    w("```")
    w("")
    w("The package's command is exactly what an administrator runs; its run includes the"
      " whole launcher: reading and checking the pieces, the free-space check, writing the"
      " temporary decompressor, creating `./qzsetup`, the shell pipeline `{ xxextract.tmp -dc;"
      " echo $? >&3; } | (cd ./qzsetup && tar xof -)` fed through a pipe, and the hand-over"
      " to the second stage.")
    w("")
    return "\n".join(out)
