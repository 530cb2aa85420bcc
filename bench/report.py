"""Renders BENCHMARKS.md from the summary that run_bench.py keeps."""

TITLES = {
    "floor": "floor: bzip2 -dc, tar x",
    "package-bzip2": "our package, bzip2",
    "floor-lbzip2": "lbzip2 -dc, tar x (for reference)",
    "package-lbzip2": "our package, lbzip2",
    "version": "our package, --version",
    "process": "one process, /bin/true",
}

ORDER = ["floor", "package-bzip2", "floor-lbzip2", "package-lbzip2", "version", "process"]


def mb(n):
    return "%.1f MB" % (n / 1e6)


def seconds(s):
    return "%.3f s" % s if s >= 0.1 else "%.1f ms" % (s * 1000)


def verdict(ok):
    return "met" if ok else "**missed**"


def render(info):
    from run_bench import CHECKSUM_LIMIT, PEAK_LIMIT_KB, TARGETS, SIZES, SEED, VERSION_LIMIT

    m = info["machine"]
    sizes = dict((k, info["sizes"][k]) for k in SIZES if k in info["sizes"])
    out = []
    w = out.append
    w("# Benchmarks")
    w("")
    w("How fast a package unpacks, against the decompressor alone. Written by `make bench`"
      " (`bench/run_bench.py`); the raw figures of this run are in `bench/results/`"
      " (`raw.csv`: every timed run; `summary.json`: everything below).")
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
    w("| tools | %s; %s; %s |" % (m["bzip2"], m["lbzip2"], m["tar"]))
    w("| compiler | %s |" % m["compiler"])
    w("| files | `%s` (%s) |" % (info["work"], "tmpfs" if info["work"].startswith("/dev/shm")
                                 else "not tmpfs"))
    w("| run | %s, commit %s |" % (m["date"], m["commit"]))
    w("| load average | %.2f before, %.2f after (1 minute) |" % (info["load_before"][0],
                                                              info["load_after"][0]))
    w("")

    w("## Targets")
    w("")
    w("| Target | Size | Measured | |")
    w("|---|---|---|---|")
    for name in sizes:
        s = sizes[name]
        ratio = s["commands"]["package-bzip2"]["ratio"]
        w("| bzip2 package at most %.2fx the floor (wall, checksum included) | %s | %.3fx |"
          " %s |" % (TARGETS["package-bzip2"], name, ratio,
                     verdict(ratio <= TARGETS["package-bzip2"])))
    for name in sizes:
        s = sizes[name]
        ratio = s["commands"]["package-lbzip2"]["ratio"]
        if name == "small":
            # Three bzip2 blocks (900 kB of product each) leave two cores
            # little to share.
            w("| (lbzip2 package, small: %d blocks of 900 kB, too few to share out) | %s |"
              " %.3fx | |" % (-(-s["package"]["product_bytes"] // 900000), name, ratio))
            continue
        w("| lbzip2 package at most %.2fx the floor, on %d cores | %s | %.3fx | %s |"
          % (TARGETS["package-lbzip2"], m["cores"], name, ratio,
             verdict(ratio <= TARGETS["package-lbzip2"])))
    for name in sizes:
        for kind in ("package-bzip2", "package-lbzip2"):
            peak = sizes[name]["peak_kb"][kind]
            w("| launcher's own peak memory at most %d KB (%s) | %s | %d KB | %s |"
              % (PEAK_LIMIT_KB, kind.split("-")[1], name, peak, verdict(peak <= PEAK_LIMIT_KB)))
    largest = list(sizes)[-1]
    c = sizes[largest]["checksum"]
    w("| checksum under %d%% of the floor (XXH3-128, the default) | %s | %.2f%% | %s |"
      % (CHECKSUM_LIMIT * 100, largest, c["xxh3-128_share"] * 100,
         verdict(c["xxh3-128_share"] < CHECKSUM_LIMIT)))
    w("| (SHA-256, for comparison, with `--checksum sha256`) | %s | %.2f%% | |"
      % (largest, c["sha256_share"] * 100))
    for name in sizes:
        v = sizes[name]["commands"]["version"]["wall"]
        w("| `--version` answers at once, whatever the size | %s | %s | %s |"
          % (name, seconds(v), verdict(v < VERSION_LIMIT)))
    placing = sizes[largest].get("placing")
    if placing:
        w("| driver places the product by rename on one file system (%d files) | %s |"
          " rename %s, copy %s | %s |"
          % (placing["files"], largest, seconds(placing["rename"]["wall"]),
             seconds(placing["copy"]["wall"]),
             verdict(placing["rename"]["wall"] < placing["copy"]["wall"])))
    else:
        w("| driver places the product by rename on one file system | %s | not measured:"
          " no `bench_place` in this build (the driver is not in it) | |" % largest)
    w("")
    w("Ratios are medians of wall time over medians of the floor's wall time, from the same"
      " run. The small package's ratio shows the launcher's fixed cost. `--version` must"
      " answer within %s on every size: reading the %s archive alone takes %s, and its"
      " end-to-end test checks that it answers for a damaged package too."
      % (seconds(VERSION_LIMIT), largest, seconds(c["read_only"])))
    w("")

    w("## Where the time goes")
    w("")
    small = sizes.get("small")
    w("- The launcher reads and checks the pieces once before it removes or creates anything"
      " (the checksum pass below), then reads them again to write them out. XXH3-128 adds"
      " %.2f%% to the %s package's time where SHA-256 would add %.2f%%, which is why it is the"
      " default." % (c["xxh3-128_share"] * 100, largest, c["sha256_share"] * 100))
    w("- The archive reaches the decompressor through a pipe of 1 MiB that the launcher fills"
      " whenever it has drained to half, sleeping in between. A writer that waits inside"
      " write() on a full pipe is woken for every 4 kB page that bzip2 reads, and on two cores"
      " those wake-ups cost the decompressor a few percent of its speed; paced, the packages"
      " run at %s the floor." % ", ".join(
          "%.3fx (%s)" % (sizes[n]["commands"]["package-bzip2"]["ratio"], n)
          for n in sizes if n != "small"))
    fixed = ""
    if small:
        process = small["commands"]["process"]["wall"]
        extra = small["commands"]["package-bzip2"]["wall"] - small["commands"]["floor"]["wall"]
        fixed = (" On the small size the package takes %s more than the floor, %.1f%% of it;"
                 " the three process starts alone, at %s each on this machine, come to %s"
                 " (%.1f%%)." % (seconds(extra), extra / small["commands"]["floor"]["wall"] * 100,
                                 seconds(process), seconds(3 * process),
                                 3 * process / small["commands"]["floor"]["wall"] * 100))
    w("- The rest is fixed: a package's run starts three processes more than the floor (the"
      " launcher, the pipeline's shell and the second stage) and reads and checks the pieces"
      " before the decompressor starts. The launcher is linked statically, which spares it"
      " the dynamic loader's work at every start.%s No shell is started to remove `./qzsetup` when"
      " nothing has that name." % fixed)
    w("- The launcher's memory is a 128 KiB buffer, its program and the C library, whatever"
      " the package's size.")
    w("")
    w("## Figures")
    w("")
    w("Every command starts through `sh -c`; the median start of an empty `sh -c` (given for"
      " each size) is taken off every figure, as hyperfine does. Wall: median (fastest to"
      " slowest run). CPU: median of user and system time of the command and everything it"
      " waited for. Ratio: median wall over the floor's median wall; per round: the median,"
      " fastest and slowest of the ratios within each round.")
    for name in sizes:
        s = sizes[name]
        p = s["package"]
        w("")
        w("### %s: %s archive of %s (%.2f:1)" % (name, mb(p["archive_bytes"]),
                                                  mb(p["product_bytes"]), p["ratio"]))
        w("")
        w("%d rounds; empty shell start %s; launcher %d bytes, bzip2 %d bytes, lbzip2 %d"
          " bytes; mkpackage took %.1f s (bzip2 -9 of the product and the digest)."
          % (s["commands"]["floor"]["runs"], seconds(s["shell_start"]), p["launcher_bytes"],
             p["bzip2_bytes"], p["lbzip2_bytes"], p["mkpackage_seconds"]))
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
        c = s["checksum"]
        w("")
        w("Checking pass over the archive (128 KiB reads, median of 9): read alone %s, with"
          " XXH3-128 %s, with SHA-256 %s; the digest alone is %.2f%% (XXH3-128) and %.2f%%"
          " (SHA-256) of the floor."
          % (seconds(c["read_only"]), seconds(c["xxh3-128"]), seconds(c["sha256"]),
             c["xxh3-128_share"] * 100, c["sha256_share"] * 100))
        w("")
        w("Launcher's own peak resident memory (reported by a second stage that ends at once,"
          " in the same process, so the decompressor and tar do not count): %d KB with bzip2,"
          " %d KB with lbzip2." % (s["peak_kb"]["package-bzip2"], s["peak_kb"]["package-lbzip2"]))
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
    w("Each size's product is generated by `make_content %d BYTES product` (%s)," % (
        SEED, ", ".join("%s: %d bytes" % (k, SIZES[k]) for k in sizes)))
    w("with `Bin/setup` replaced by `bench_second_stage`, which ends at once. Then:")
    w("")
    w("```sh")
    w("mkpackage product package-bzip2.bin            # bzip2 -9, XXH3-128")
    w("tail -c ARCHIVE_LENGTH package-bzip2.bin > archive.tar.bz2")
    w("mkpackage --decompressor /usr/bin/lbzip2 archive.tar.bz2 package-lbzip2.bin")
    w("")
    w("# timed, in rounds, each round in a new order; floor/ and run/ made anew before each")
    w("sh -c ''                                        # the shell's own start")
    w("sh -c 'bzip2 -dc archive.tar.bz2 | tar xof - -C floor'")
    w("sh -c 'lbzip2 -dc archive.tar.bz2 | tar xof - -C floor'")
    w("cd run && sh -c '../package-bzip2.bin -s'")
    w("cd run && sh -c '../package-lbzip2.bin -s'")
    w("sh -c 'package-bzip2.bin --version'")
    w("sh -c '/bin/true'                               # one process started")
    w("")
    w("# not timed: peak memory, three runs each")
    w("cd run && STRATA_BENCH_PEAK_FILE=peak sh -c '../package-bzip2.bin -s'")
    w("checksum_speed archive.tar.bz2 9")
    if any(s.get("placing") for s in sizes.values()):
        w("# the driver's placing step, on the extracted largest product")
        w("bench_place extracted installed; bench_place --copy extracted installed")
    w("```")
    w("")
    w("The package's command is exactly what an administrator runs; its run includes the"
      " whole launcher: reading and checking the pieces, writing the temporary decompressor,"
      " creating `./qzsetup`, the shell pipeline `xxextract.tmp -dc | (cd ./qzsetup; tar"
      " xof -)` fed through a pipe, and the hand-over to the second stage.")
    w("")
    return "\n".join(out)
