#!/usr/bin/env python3
"""What setup's syncs cost: installations timed side by side with and without.

    bench/sync_cost.py [--build DIR] [--rounds N] [--megabytes M]

Builds two packages with mkpackage, the demo product and a product of about
M MB (60 by default) made by make_content, and installs each again and again
into a fresh directory: on a tmpfs (where a sync costs nothing) and on an ext4
image mounted through a loop device, each time once as it is and once under
eatmydata, which turns fsync into nothing. The rounds alternate the order.
Prints the median wall times and the ratio; needs root (mount) and eatmydata.
"""

import argparse
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def run(cmd, **kwargs):
    subprocess.run(cmd, check=True, **kwargs)


def build_package(build, product, out):
    stage = out + ".stage"
    shutil.copytree(product, stage, symlinks=True)
    os.makedirs(os.path.join(stage, "Bin"), exist_ok=True)
    setup = os.path.join(stage, "Bin", "setup")
    if subprocess.run(["strip", "-o", setup, os.path.join(build, "bin", "setup")]).returncode:
        shutil.copy(os.path.join(build, "bin", "setup"), setup)
    run([os.path.join(build, "bin", "mkpackage"), "--type", "tzst", stage, out],
        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    shutil.rmtree(stage)


def install_once(package, start, eat):
    server = os.path.join(start, "server")
    shutil.rmtree(server, ignore_errors=True)
    run(["sync"])
    cmd = (["eatmydata"] if eat else []) + [package, "-s", "-cfg", "inst.cfg"]
    began = time.monotonic()
    run(cmd, cwd=start)
    return time.monotonic() - began


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", default=os.path.join(ROOT, "build"))
    parser.add_argument("--rounds", type=int, default=5)
    parser.add_argument("--megabytes", type=int, default=60)
    args = parser.parse_args()
    if os.geteuid() != 0 or not shutil.which("eatmydata"):
        sys.exit("sync_cost.py needs root and eatmydata")
    build = os.path.abspath(args.build)
    work = tempfile.mkdtemp(prefix="strata-sync-")
    mounts = []
    try:
        product = os.path.join(work, "big")
        shutil.copytree(os.path.join(ROOT, "demo", "product"), product)
        run([os.path.join(build, "bin", "make_content"), "9081427",
             str(args.megabytes * 1000 * 1000), os.path.join(product, "Content", "media")],
            stdout=subprocess.DEVNULL)
        packages = {"demo": os.path.join(work, "demo.bin"),
                    "%d MB" % args.megabytes: os.path.join(work, "big.bin")}
        build_package(build, os.path.join(ROOT, "demo", "product"), packages["demo"])
        build_package(build, product, packages["%d MB" % args.megabytes])

        systems = {}
        tmpfs = os.path.join(work, "tmpfs")
        os.makedirs(tmpfs)
        run(["mount", "-t", "tmpfs", "-o", "size=%dm" % (args.megabytes * 4 + 64), "tmpfs", tmpfs])
        mounts.append(tmpfs)
        systems["tmpfs"] = tmpfs
        ext4 = os.path.join(work, "ext4")
        image = os.path.join(work, "ext4.img")
        os.makedirs(ext4)
        run(["truncate", "-s", "%dM" % (args.megabytes * 4 + 128), image])
        run(["mkfs.ext4", "-q", "-F", image])
        run(["mount", "-o", "loop", image, ext4])
        mounts.append(ext4)
        systems["ext4 (loop image)"] = ext4

        ports = ["MonitorPort=17101", "RTSPPort=17102", "VQXPort=17103", "HTTPPort=17104",
                 "MMSPort=17105", "AdminPort=17106"]
        print("%-18s %-8s %12s %12s %8s" % ("file system", "product", "synced s", "no sync s",
                                            "ratio"))
        for name, mount in systems.items():
            with open(os.path.join(mount, "inst.cfg"), "w") as cfg:
                cfg.write("DefInstallPath=server\nAdminUserID=admin\nEncoderUserID=encoder\n"
                          "NonInteractiveInstall=1\n" + "\n".join(ports) + "\n")
            for label, package in packages.items():
                synced, unsynced = [], []
                for round_ in range(args.rounds):
                    for eat in ((False, True) if round_ % 2 == 0 else (True, False)):
                        took = install_once(package, mount, eat)
                        (unsynced if eat else synced).append(took)
                s, u = statistics.median(synced), statistics.median(unsynced)
                print("%-18s %-8s %12.3f %12.3f %8.2f" % (name, label, s, u, s / u))
    finally:
        for mount in reversed(mounts):
            subprocess.run(["umount", "-l", mount])
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
