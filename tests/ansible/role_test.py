#!/usr/bin/env python3
"""The strata_server Ansible role, run by the real ansible-playbook on hosts
of the local connection, each with its own installation directory and ports
under a temporary directory, installing packages that the real mkpackage
builds from demo/product with the given program as Bin/setup.

    role_test.py --mkpackage M --setup PROGRAM --source-root DIR [unittest args]

Everything Ansible writes (home, configuration, temporary files, the role's
working directories) stays in the test's temporary directory.
"""
import argparse
import base64
import ctypes
import fcntl
import hashlib
import json
import os
import re
import shutil
import signal
import socket
import stat
import struct
import subprocess
import sys
import tempfile
import time
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
SERVICES = ["monitor", "rtsp", "vqx", "http", "mms", "admin"]
ARGS = None


def free_ports(count):
    held = []
    for _ in range(count):
        s = socket.socket()
        s.bind(("127.0.0.1", 0))
        held.append(s)
    ports = [s.getsockname()[1] for s in held]
    for s in held:
        s.close()
    return ports


def tree(root):
    """Every entry below root: relative path -> (kind, mode, content or link target)."""
    entries = {}
    for path, dirs, files in os.walk(root):
        for name in dirs + files:
            full = os.path.join(path, name)
            st = os.lstat(full)
            relative = os.path.relpath(full, root)
            if stat.S_ISLNK(st.st_mode):
                entries[relative] = ("link", 0, os.readlink(full))
            elif stat.S_ISDIR(st.st_mode):
                entries[relative] = ("dir", stat.S_IMODE(st.st_mode), None)
            else:
                with open(full, "rb") as f:
                    entries[relative] = ("file", stat.S_IMODE(st.st_mode), f.read())
    return entries


def read(path):
    with open(path, encoding="utf-8") as f:
        return f.read()


def manifest(install_dir):
    """The header of install-manifest.txt as a dict."""
    header = {}
    for line in read(os.path.join(install_dir, "install-manifest.txt")).splitlines():
        if "=" in line and not line.startswith(("#", "file\t")):
            key, value = line.split("=", 1)
            header[key] = value
    return header


class CreatedNames:
    """The names created in a directory while it is watched (inotify), so
    that a test sees a working directory the role made and removed again."""

    IN_CREATE = 0x100
    IN_NONBLOCK = 0o4000

    def __init__(self, directory):
        self.libc = ctypes.CDLL(None, use_errno=True)
        self.fd = self.libc.inotify_init1(self.IN_NONBLOCK)
        if self.fd < 0 or self.libc.inotify_add_watch(
                self.fd, os.fsencode(directory), self.IN_CREATE) < 0:
            raise OSError(ctypes.get_errno(), "inotify")

    def names(self):
        """The names created so far; ends the watch."""
        found = []
        try:
            while True:
                try:
                    data = os.read(self.fd, 65536)
                except BlockingIOError:
                    return found
                at = 0
                while at < len(data):
                    _, _, _, length = struct.unpack_from("iIII", data, at)
                    name = data[at + 16:at + 16 + length].rstrip(b"\0")
                    found.append(os.fsdecode(name))
                    at += 16 + length
        finally:
            os.close(self.fd)


def wait_unlocked(directory, seconds):
    """Whether the lock that a package holds on its working directory while
    it runs is free within seconds."""
    fd = os.open(directory, os.O_RDONLY | os.O_DIRECTORY)
    try:
        for _ in range(int(seconds * 10)):
            try:
                fcntl.flock(fd, fcntl.LOCK_EX | fcntl.LOCK_NB)
                return True
            except BlockingIOError:
                time.sleep(0.1)
        return False
    finally:
        os.close(fd)


def secrets_in(output, *secrets):
    """The secrets that output shows (compared without printing the output)."""
    return [secret for secret in secrets if secret in output]


def manifest_digest(entries):
    """package_digest of the manifest in a tree() snapshot."""
    text = entries["install-manifest.txt"][2].decode()
    return re.search(r"(?m)^package_digest=(.*)$", text).group(1)


def build_package(root, name, setup, change=None):
    """mkpackage of demo/product with setup as Bin/setup; change(stage) may
    alter the staged files first."""
    stage = os.path.join(root, name + ".stage")
    shutil.copytree(os.path.join(ARGS.source_root, "demo", "product"), stage, symlinks=True)
    shutil.copy(setup, os.path.join(stage, "Bin", "setup"))
    os.chmod(os.path.join(stage, "Bin", "setup"), 0o755)
    # Without its debugging sections the package is a tenth of the size,
    # and every copy to a host and every unpacking the faster.
    subprocess.run(["strip", "--strip-debug", os.path.join(stage, "Bin", "setup")], check=True)
    if change:
        change(stage)
    package = os.path.join(root, name)
    subprocess.run([ARGS.mkpackage, stage, package], check=True, stdout=subprocess.DEVNULL)
    return package


class Ansible:
    """ansible-playbook with a configuration, home and temporary directories
    of its own under root."""

    def __init__(self, root):
        self.root = root
        # Where the role makes its working directories on the (local) hosts.
        self.host_tmp = os.path.join(root, "host-tmp")
        for d in ("home", "local-tmp", "remote-tmp", "host-tmp"):
            os.makedirs(os.path.join(root, d))
        config = os.path.join(root, "ansible.cfg")
        with open(config, "w") as f:
            f.write("[defaults]\n"
                    f"roles_path = {ARGS.source_root}/deploy/ansible/roles\n"
                    f"callback_plugins = {HERE}/callback_plugins\n"
                    "stdout_callback = test_json\n"
                    f"local_tmp = {root}/local-tmp\n"
                    f"remote_tmp = {root}/remote-tmp\n"
                    "interpreter_python = auto_silent\n"
                    "retry_files_enabled = false\n"
                    "host_key_checking = false\n"
                    "[ssh_connection]\n"
                    # One connection to each host for all the tasks of the
                    # test, the modules sent through it; close_connections()
                    # ends them.
                    f"control_path_dir = {root}/cp\n"
                    "ssh_args = -o ControlMaster=auto -o ControlPersist=300s\n"
                    "pipelining = true\n")
        self.env = {k: v for k, v in os.environ.items() if not k.startswith("ANSIBLE_")}
        self.env.update(HOME=os.path.join(root, "home"), ANSIBLE_CONFIG=config,
                        TMPDIR=self.host_tmp, ANSIBLE_NOCOLOR="1",
                        # ansible-core alone, as install-deps.sh installs it: no
                        # collections that a fuller Ansible put on the path.
                        ANSIBLE_COLLECTIONS_SCAN_SYS_PATH="false")

    def write_inventory(self, inventory):
        path = os.path.join(self.root, "inventory.yml")
        with open(path, "w") as f:
            json.dump(inventory, f, indent=1)
        return path

    def start(self, playbook, inventory):
        """Starts ansible-playbook in a process group of its own, its output
        discarded."""
        return subprocess.Popen(["ansible-playbook", "-i", self.write_inventory(inventory),
                                 playbook], env=self.env, cwd=self.root,
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                                start_new_session=True)

    def playbook(self, playbook, inventory, *options, cwd=None):
        """Runs ansible-playbook; returns (exit status, results, stats, raw output)."""
        path = self.write_inventory(inventory)
        run = subprocess.run(["ansible-playbook", "-i", path, playbook, *options], env=self.env,
                             cwd=cwd or self.root, capture_output=True, text=True, timeout=300)
        try:
            document = json.loads(run.stdout[run.stdout.index("{"):])
        except ValueError:
            raise AssertionError(f"no results from ansible-playbook:\n{run.stdout}\n{run.stderr}")
        return run.returncode, document["results"], document["stats"], run.stdout + run.stderr

    def close_connections(self):
        """Ends the master connections that ssh keeps for the runs."""
        cp = os.path.join(self.root, "cp")
        for name in os.listdir(cp) if os.path.isdir(cp) else []:
            subprocess.run(["ssh", "-o", f"ControlPath={os.path.join(cp, name)}", "-O", "exit",
                            "strata-test-host"], capture_output=True, timeout=30)

    def working_dirs_left(self):
        return os.listdir(self.host_tmp)


def work_dirs_in(names):
    """The role's working directories among names."""
    return [name for name in names if name.startswith("strata-role-work.")]


def ran(results, host):
    """Tasks that ran on host, with their status, to say what happened."""
    return [(r["task"].split(" : ")[-1], r["status"]) for r in results
            if r["host"] == host and r["status"] != "skipped"]


def results_of(results, task, host):
    """The results of tasks named task (without the role's prefix) on host."""
    return [r for r in results if r["host"] == host and r["task"].split(" : ")[-1] == task]


def parent_of(pid):
    """The parent of process pid (0 when it is gone), from /proc."""
    try:
        with open(f"/proc/{pid}/stat") as f:
            # The command name in parentheses may hold blanks.
            return int(f.read().rsplit(")", 1)[1].split()[1])
    except (OSError, IndexError, ValueError):
        return 0


def children_of(pids):
    """Every descendant of the processes pids, from /proc."""
    parents = {int(entry): parent_of(entry) for entry in os.listdir("/proc") if entry.isdigit()}
    found = []
    wanted = set(pids)
    while True:
        more = [pid for pid, parent in parents.items() if parent in wanted and pid not in wanted]
        if not more:
            return found
        found += more
        wanted.update(more)


class SshHosts:
    """Test hosts reached through Ansible's ssh connection: one sshd of the
    test's own for each, on a loopback address of its own (127.0.0.2, ...),
    with a host key and a client key pair made for the test. The first hosts
    are logged in to as root; the last as a user that the test creates, who
    becomes root through sudo. Everything lies under root, and stop() ends
    every process the sshds started, and removes the user and its sudo
    rule."""

    SSHD = "/usr/sbin/sshd"

    def __init__(self, root, count):
        self.root = root
        self.count = count
        self.servers = []
        self.user = None
        self.sudoers = None
        self.keys = os.path.join(root, "ssh")

    def start(self):
        """Starts the sshds; returns None, or why they cannot run here."""
        if os.geteuid() != 0:
            return "sshd needs root to log users in"
        if not (os.access(self.SSHD, os.X_OK) and shutil.which("ssh") and shutil.which("sudo")):
            return "sshd, ssh or sudo is not installed (scripts/install-deps.sh test)"
        os.makedirs(self.keys)
        # The login user must reach its home below root.
        os.chmod(self.root, 0o755)
        for key in ("host", "client"):
            subprocess.run(["ssh-keygen", "-q", "-t", "ed25519", "-N", "", "-C", "strata-role-test",
                            "-f", os.path.join(self.keys, key)], check=True)
        shutil.copy(os.path.join(self.keys, "client.pub"), os.path.join(self.keys, "authorized"))
        self.user = f"strata-role-{os.getpid()}"
        home = os.path.join(self.root, "home")
        subprocess.run(["useradd", "--no-create-home", "--home-dir", home, "--shell", "/bin/sh",
                        # "*": no password, but not a locked account.
                        "--password", "*", self.user], check=True)
        os.makedirs(home)
        shutil.chown(home, self.user, self.user)
        self.sudoers = f"/etc/sudoers.d/strata-role-test-{os.getpid()}"
        with open(self.sudoers, "w") as f:
            f.write(f"{self.user} ALL=(root) NOPASSWD: ALL\n")
        os.chmod(self.sudoers, 0o440)
        # sshd's empty privilege-separation directory, as Debian's service
        # makes it; left in place, since a test running beside this one may
        # use it too.
        os.makedirs("/run/sshd", mode=0o755, exist_ok=True)
        config = os.path.join(self.keys, "sshd_config")
        with open(config, "w") as f:
            f.write(f"HostKey {self.keys}/host\n"
                    f"AuthorizedKeysFile {self.keys}/authorized\n"
                    # The keys lie in the test's directory, not in the users' homes.
                    "StrictModes no\n"
                    "UsePAM no\n"
                    "PasswordAuthentication no\n"
                    "KbdInteractiveAuthentication no\n"
                    "PermitRootLogin prohibit-password\n"
                    f"AllowUsers root {self.user}\n"
                    "PidFile none\n"
                    "Subsystem sftp internal-sftp\n")
        for i in range(self.count):
            address = f"127.0.0.{i + 2}"
            probe = socket.socket()
            probe.bind((address, 0))
            port = probe.getsockname()[1]
            probe.close()
            log = open(os.path.join(self.keys, f"sshd-{i}.log"), "w")
            process = subprocess.Popen([self.SSHD, "-D", "-e", "-f", config,
                                        "-o", f"ListenAddress={address}:{port}"],
                                       stdout=log, stderr=subprocess.STDOUT)
            log.close()
            self.servers.append((process, address, port))
        for process, address, port in self.servers:
            if not self.wait_for(process, address, port):
                return f"sshd did not start: {read(os.path.join(self.keys, 'sshd-0.log'))[-500:]}"
        return None

    @staticmethod
    def wait_for(process, address, port):
        for _ in range(100):
            if process.poll() is not None:
                return False
            try:
                socket.create_connection((address, port), timeout=1).close()
                return True
            except OSError:
                time.sleep(0.1)
        return False

    def host_vars(self, i):
        """Inventory variables that reach host i."""
        process, address, port = self.servers[i]
        last = i == self.count - 1
        user = self.user if last else "root"
        home = os.path.join(self.root, "home") if last else os.path.join(self.root, f"root-{i}")
        return {"ansible_connection": "ssh", "ansible_host": address, "ansible_port": port,
                "ansible_user": user,
                "ansible_ssh_private_key_file": os.path.join(self.keys, "client"),
                "ansible_ssh_common_args": "-o UserKnownHostsFile=/dev/null "
                                           "-o StrictHostKeyChecking=no -o LogLevel=ERROR",
                "ansible_python_interpreter": "/usr/bin/python3",
                # Ansible's own files on the host stay in the test's directory.
                "ansible_remote_tmp": os.path.join(home, ".ansible", "tmp"),
                "ansible_become": last, "ansible_become_method": "sudo"}

    def stop(self):
        """Ends the sshds and whatever their sessions still run, then
        removes the user and its sudo rule."""
        if self.servers:
            pids = [process.pid for process, _, _ in self.servers if process.poll() is None]
            # Sessions still open end from the innermost process out, each
            # reaped by its parent, so that none is left to init.
            for attempt in range(50):
                below = children_of(pids)
                if not below:
                    break
                parents = {parent_of(pid) for pid in below}
                for pid in below:
                    if pid not in parents:
                        try:
                            os.kill(pid, signal.SIGTERM if attempt < 25 else signal.SIGKILL)
                        except ProcessLookupError:
                            pass
                time.sleep(0.2)
            for process, _, _ in self.servers:
                process.terminate()
                process.wait(timeout=10)
        if self.sudoers and os.path.exists(self.sudoers):
            os.unlink(self.sudoers)
        if self.user:
            subprocess.run(["userdel", self.user], check=False, stderr=subprocess.DEVNULL)


class RoleOverSsh(unittest.TestCase):
    """Three servers reached over SSH, each with an sshd of the test's own
    (one logged in to as a user who becomes root): install, rerun, busy
    port, check mode, signatures, misspelt variables, a rolling upgrade,
    rollback, removal, and a controller killed in the middle of a run."""

    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.TemporaryDirectory(prefix="strata-role-")
        root = cls.tmp.name
        cls.hosts_ssh = SshHosts(root, 3)
        try:
            why = cls.hosts_ssh.start()
            if not why:
                cls.prepare(root)
        except BaseException:
            # unittest calls no tearDownClass after a failed setUpClass.
            cls.hosts_ssh.stop()
            cls.tmp.cleanup()
            raise
        if why:
            cls.hosts_ssh.stop()
            cls.tmp.cleanup()
            raise unittest.SkipTest(why)

    @classmethod
    def prepare(cls, root):
        """Packages, keys and Ansible's configuration for the tests."""
        cls.first = build_package(root, "strata-setup-1.bin", ARGS.setup)

        def second_build(stage):
            with open(os.path.join(stage, "Bin", "loopcast"), "a") as f:
                f.write("# second build\n")
        cls.second = build_package(root, "strata-setup-2.bin", ARGS.setup, second_build)
        # The release key signs both; another key signs nothing of ours.
        for name in ("release", "other"):
            subprocess.run([ARGS.mkpackage, "--generate-key", os.path.join(root, name),
                            "--no-password"], check=True, capture_output=True)
        for package in (cls.first, cls.second):
            subprocess.run([ARGS.mkpackage, "--sign", os.path.join(root, "release.key"),
                            "--package", package], check=True, capture_output=True)
        cls.pubkey = os.path.join(root, "release.pub")
        cls.other_key = read(os.path.join(root, "other.pub")).splitlines()[1]
        cls.ansible = Ansible(os.path.join(root, "ansible"))
        cls.playbook = os.path.join(HERE, "many-hosts.yml")

    @classmethod
    def tearDownClass(cls):
        cls.ansible.close_connections()
        cls.hosts_ssh.stop()
        cls.tmp.cleanup()

    def setUp(self):
        self.names = ["strata-a", "strata-b", "strata-c"]

    def host_dir(self, name):
        return os.path.join(self.tmp.name, "hosts", name)

    def host(self, name, ssh, package, ports, **extra):
        """A host of the inventory: reached through sshd number ssh, with its
        own installation and temporary directories."""
        tmp = os.path.join(self.host_dir(name), "tmp")
        os.makedirs(tmp, exist_ok=True)
        return dict(self.hosts_ssh.host_vars(ssh), host_tmp=tmp, strata_package=package,
                    strata_ports=dict(zip(SERVICES, ports)), strata_pubkey=self.pubkey,
                    strata_install_dir=os.path.join(self.host_dir(name), "strata"), **extra)

    def inventory(self, hosts):
        return {"strata_servers": {"hosts": hosts, "vars": {
            "strata_admin_user": "admin",
            "strata_encoder_user": "encoder"}}}

    def work_dirs(self, name):
        """The role's working directories on host name (Ansible's own
        payload directories of a run that was killed are not its)."""
        return work_dirs_in(os.listdir(os.path.join(self.host_dir(name), "tmp")))

    def assertTreesEqual(self, before, after, what):
        self.assertEqual(sorted(before), sorted(after), what)
        for path in before:
            self.assertEqual(before[path], after[path], f"{what}: {path}")

    def assertNothingCopied(self, results, hosts, output):
        """No task of the role that copies or runs the package ran."""
        ran = [(r["host"], r["task"]) for r in results if r["host"] in hosts
               and r["status"] != "skipped"
               and r["task"].split(" : ")[-1] in ("Make a private working directory",
                                                   "Copy the package", "Install or upgrade")]
        self.assertEqual([], ran, output)

    def assertRefusedBeforeCopy(self, hosts, before, messages):
        """A run of hosts fails each with its message, before anything was
        copied to it or changed on it."""
        watches = {name: CreatedNames(host["host_tmp"]) for name, host in hosts.items()}
        status, results, stats, output = self.ansible.playbook(self.playbook,
                                                               self.inventory(hosts))
        self.assertEqual(2, status, output)
        for name, host in hosts.items():
            self.assertEqual(1, stats[name]["failures"], output)
            self.assertEqual(0, stats[name]["changed"], output)
            failed = [r["result"]["msg"] for r in results
                      if r["host"] == name and r["status"] == "failed"]
            self.assertEqual(1, len(failed), output)
            self.assertTrue(failed[0].startswith(messages[name]), failed[0])
            self.assertEqual([], work_dirs_in(watches[name].names()), name)
            self.assertTreesEqual(before[name], tree(host["strata_install_dir"]), name)
        self.assertNothingCopied(results, hosts, output)

    def test_install_rerun_busy_port_check_mode_upgrade(self):
        ports = free_ports(4 * 6)
        hosts = {
            # Passwords given; none given (generated, then kept); one given,
            # with the other settings too, through become.
            "strata-a": self.host("strata-a", 0, self.first, ports[0:6],
                                  strata_admin_password="Adm1n-of-a",
                                  strata_encoder_password="Enc0der-of-a"),
            "strata-b": self.host("strata-b", 1, self.first, ports[6:12]),
            "strata-c": self.host("strata-c", 2, self.first, ports[12:18],
                                  strata_admin_password="Adm1n-of-c",
                                  strata_realms={"content": "Media Library"},
                                  strata_logging_style="3", strata_backup=False),
        }
        dirs = {name: host["strata_install_dir"] for name, host in hosts.items()}

        # 1. All installed; a fourth host, whose RTSP port a server of the
        # test holds, fails alone with the installer's own message.
        busy = socket.socket()
        busy.bind(("127.0.0.1", 0))
        busy.listen()
        busy_port = busy.getsockname()[1]
        d_ports = ports[18:24]
        d_ports[1] = busy_port
        # A fifth host's password would smuggle in a setting of its own.
        smuggler = self.host("strata-e", 1, self.first, free_ports(6),
                             strata_admin_password="Adm1n\nAdminPort=1")
        first_run = dict(hosts, **{"strata-d": self.host("strata-d", 0, self.first, d_ports),
                                   "strata-e": smuggler})
        try:
            status, results, stats, output = self.ansible.playbook(
                self.playbook, self.inventory(first_run))
        finally:
            busy.close()
        self.assertEqual(2, status, output)
        self.assertEqual(1, stats["strata-d"]["failures"], output)
        failed = [r for r in results if r["host"] == "strata-d" and r["status"] == "failed"]
        self.assertEqual(1, len(failed), output)
        self.assertEqual(f"ERROR: RTSPPort {busy_port} is in use on this machine",
                         failed[0]["result"]["msg"])
        self.assertFalse(os.path.exists(first_run["strata-d"]["strata_install_dir"]))
        refused = [r["task"] for r in results if r["host"] == "strata-e" and r["status"] == "failed"]
        self.assertEqual(["strata_server : Refuse settings the defaults file cannot carry"],
                         refused, output)
        self.assertFalse(os.path.exists(smuggler["strata_install_dir"]))
        # The signature was checked once, on the controller, for all hosts.
        verified = [r for r in results if " : Verify the package's signature" in r["task"]
                    and r["status"] != "skipped"]
        self.assertEqual(1, len(verified), output)
        product = tree(os.path.join(ARGS.source_root, "demo", "product"))
        for name, host in hosts.items():
            self.assertEqual(0, stats[name]["failures"], output)
            self.assertGreater(stats[name]["changed"], 0, output)
            installed = tree(dirs[name])
            for path, entry in product.items():
                self.assertEqual(entry, installed.get(path), f"{name}: {path}")
            header = manifest(dirs[name])
            self.assertNotIn(header["package_digest"], ("unknown", "none", ""))
            self.assertEqual(dirs[name], header["install_dir"])
            for service, port in host["strata_ports"].items():
                self.assertEqual(str(port), header[service + "_port"], name)
            fact = results_of(results, "Facts for the test", name)[0]["result"]
            self.assertEqual({"version": header["version"], "release": header["release"],
                              "directory": dirs[name],
                              "package_digest": header["package_digest"],
                              "ports": host["strata_ports"]},
                             fact["strata_server_installed"])
        # Installed through become: root's, not the login user's.
        self.assertEqual(0, os.stat(dirs["strata-c"] + "/Bin/loopcast").st_uid)
        self.assertEqual("Adm1n-of-a;*;1\n", read(dirs["strata-a"] + "/adm_b_db/users/admin"))
        self.assertEqual("Enc0der-of-a;*;1\n",
                         read(dirs["strata-a"] + "/enc_b_db/users/encoder"))
        self.assertEqual("Adm1n-of-c;*;1\n", read(dirs["strata-c"] + "/adm_b_db/users/admin"))
        self.assertEqual("Media Library", manifest(dirs["strata-c"])["content_realm"])
        self.assertEqual("3", manifest(dirs["strata-c"])["logging_style"])
        self.assertEqual("0", manifest(dirs["strata-c"])["backup_old_files"])
        self.assertEqual([], secrets_in(output, "Adm1n-of-a", "Enc0der-of-a", "Adm1n-of-c"))
        for name in first_run:
            self.assertEqual([], self.work_dirs(name), name)

        # 2. The same again, the generated passwords of strata-b included:
        # ok everywhere, and not even a working directory was made on a host.
        before = {name: tree(d) for name, d in dirs.items()}
        watches = {name: CreatedNames(host["host_tmp"]) for name, host in hosts.items()}
        status, results, stats, output = self.ansible.playbook(self.playbook,
                                                               self.inventory(hosts))
        self.assertEqual(0, status, output)
        for name, host in hosts.items():
            self.assertEqual(0, stats[name]["changed"], output)
            self.assertEqual(0, stats[name]["failures"], output)
            self.assertTreesEqual(before[name], tree(dirs[name]), name)
            self.assertEqual([], work_dirs_in(watches[name].names()),
                             f"{name}: {ran(results, name)}")
        self.assertNothingCopied(results, hosts, output)
        # The password files were compared by their keyed digests: neither
        # their plain SHA-256 (a password guess could be tested against it)
        # nor the password reached the output.
        looked = results_of(results, "Look at the recorded files", "strata-a")[0]["result"]
        paths = [line.split("\t")[1] for line in read(dirs["strata-a"] + "/install-manifest.txt")
                 .splitlines() if line.startswith("file\t")]
        admin = looked["results"][paths.index("adm_b_db/users/admin")]["stat"]
        self.assertNotIn("checksum", admin)
        self.assertRegex(admin["keyed_checksum"], "^[0-9a-f]{64}$")
        self.assertEqual([], secrets_in(output, "Adm1n-of-a", "Enc0der-of-a", "Adm1n-of-c", *(
            hashlib.sha256(f"{p};*;1\n".encode()).hexdigest()
            for p in ("Adm1n-of-a", "Enc0der-of-a", "Adm1n-of-c"))))

        # 3. Check mode after one host's port changed, and with another to
        # be removed: each of them reports one change, the diff shows the
        # port, and no directory changes.
        old_rtsp = hosts["strata-b"]["strata_ports"]["rtsp"]
        new_rtsp = free_ports(1)[0]
        moved = dict(hosts, **{"strata-b": dict(hosts["strata-b"], strata_ports=dict(
            hosts["strata-b"]["strata_ports"], rtsp=new_rtsp)),
            "strata-c": dict(hosts["strata-c"], strata_state="absent")})
        status, results, stats, output = self.ansible.playbook(
            self.playbook, self.inventory(moved), "--check", "--diff")
        self.assertEqual(0, status, output)
        self.assertEqual(1, stats["strata-b"]["changed"], output)
        self.assertEqual(0, stats["strata-a"]["changed"], output)
        self.assertEqual(1, stats["strata-c"]["changed"], output)
        changed = [r for r in results if r["host"] == "strata-b" and r["status"] == "changed"]
        diff = changed[0]["result"]["diff"]
        diff = diff[0] if isinstance(diff, list) else diff
        self.assertEqual(f"rtsp_port={old_rtsp}\n", diff["before"])
        self.assertEqual(f"rtsp_port={new_rtsp}\n", diff["after"])
        self.assertNothingCopied(results, ["strata-a", "strata-c"], output)
        for name in hosts:
            self.assertTreesEqual(before[name], tree(dirs[name]), name)
            self.assertEqual([], self.work_dirs(name), name)
        self.assertEqual([], secrets_in(output, "Adm1n-of-a", "Enc0der-of-a", "Adm1n-of-c"))

        # 4. A signature by another key, and on one host a package without
        # its signature: every host fails before anything reaches it, with
        # the verifier's message.
        unsigned_copy = os.path.join(self.tmp.name, "unsigned", "strata-setup-2.bin")
        os.makedirs(os.path.dirname(unsigned_copy))
        shutil.copy(self.second, unsigned_copy)
        refused = {name: dict(host, strata_package=self.second, strata_pubkey=self.other_key)
                   for name, host in hosts.items()}
        refused["strata-c"] = dict(hosts["strata-c"], strata_package=unsigned_copy)
        self.assertRefusedBeforeCopy(refused, before, {
            "strata-a": f"{self.second}: the signature does not verify: Signature key id in "
                        f"{self.second}.minisig is ",
            "strata-b": f"{self.second}: the signature does not verify: Signature key id in "
                        f"{self.second}.minisig is ",
            "strata-c": f"{unsigned_copy}: the signature does not verify: "
                        f"{unsigned_copy}.minisig: No such file or directory"})

        # 5. Another package without a key, where a signature is required,
        # and a variable misspelt: refused, the name meant given.
        name = "strata-a"
        unsigned = dict(hosts[name], strata_package=self.second)
        del unsigned["strata_pubkey"]
        self.assertRefusedBeforeCopy(
            {name: dict(unsigned, strata_require_signature=True),
             "strata-b": dict(hosts["strata-b"], strata_bakup=False)}, before,
            {name: f"{self.second} was not verified: strata_require_signature is true, "
                   "but strata_pubkey is not set",
             "strata-b": "unknown variable strata_bakup (did you mean strata_backup?)"})

        # 6. Without the requirement, the unsigned package upgrades, said to
        # be unverified, and the earlier Bin is kept as Bin.old. A file
        # changed on another host counts as a difference: the package is
        # asked there, and puts the file back.
        with open(dirs["strata-b"] + "/Bin/loopcast", "a") as f:
            f.write("# tuned by hand\n")
        status, results, stats, output = self.ansible.playbook(
            self.playbook, self.inventory({name: unsigned, "strata-b": hosts["strata-b"]}))
        self.assertEqual(0, status, output)
        self.assertGreater(stats[name]["changed"], 0, output)
        self.assertIn(f"{self.second} was not verified: strata_pubkey is not set",
                      [r["result"].get("msg") for r in results])
        self.assertGreater(stats["strata-b"]["changed"], 0, output)
        self.assertEqual(before["strata-b"]["Bin/loopcast"], tree(dirs["strata-b"])["Bin/loopcast"])
        after = tree(dirs[name])
        old_bin = {p[len("Bin/"):]: e for p, e in before[name].items() if p.startswith("Bin/")}
        new_old = {p[len("Bin.old/"):]: e for p, e in after.items() if p.startswith("Bin.old/")}
        self.assertTreesEqual(old_bin, new_old, "Bin.old")
        second_loopcast = read(os.path.join(ARGS.source_root, "demo", "product", "Bin",
                                            "loopcast")) + "# second build\n"
        self.assertEqual(second_loopcast, read(dirs[name] + "/Bin/loopcast"))
        header = manifest(dirs[name])
        self.assertNotEqual(manifest_digest(before[name]), header["package_digest"])
        self.assertIn("Bin", header["moved_to_old"].split())
        self.assertEqual([], self.work_dirs(name))

    def test_rolling_upgrade_rollback_removal_killed_run(self):
        names = ["strata-f", "strata-g", "strata-h"]
        ports = free_ports(3 * 6)
        restarts = {name: os.path.join(self.host_dir(name), "restarts") for name in names}
        hosts = {name: self.host(name, i, self.first, ports[6 * i:6 * i + 6],
                                 # The handler's hook, as an administrator would
                                 # restart the server.
                                 strata_restart_command=f"echo restarted >> {restarts[name]}")
                 for i, name in enumerate(names)}
        dirs = {name: host["strata_install_dir"] for name, host in hosts.items()}
        status, results, stats, output = self.ansible.playbook(self.playbook,
                                                               self.inventory(hosts))
        self.assertEqual(0, status, output)
        for name in names:
            self.assertEqual("restarted\n", read(restarts[name]), name)
        installed = {name: tree(d) for name, d in dirs.items()}

        # 1. A rolling upgrade, one host at a time, none may fail: the first
        # is upgraded and restarted, the second fails (its new RTSP port is
        # held), and the third is never touched. The signature is checked
        # once for the play, not once for each batch.
        busy = socket.socket()
        busy.bind(("127.0.0.1", 0))
        busy.listen()
        busy_port = busy.getsockname()[1]
        upgrade = {name: dict(host, strata_package=self.second) for name, host in hosts.items()}
        upgrade["strata-g"]["strata_ports"] = dict(upgrade["strata-g"]["strata_ports"],
                                                   rtsp=busy_port)
        try:
            status, results, stats, output = self.ansible.playbook(
                os.path.join(HERE, "rolling.yml"), self.inventory(upgrade))
        finally:
            busy.close()
        self.assertEqual(2, status, output)
        self.assertEqual(["strata-f", "strata-g"], sorted({r["host"] for r in results}), output)
        self.assertEqual(1, stats["strata-g"]["failures"], output)
        self.assertEqual([f"ERROR: RTSPPort {busy_port} is in use on this machine"],
                         [r["result"]["msg"] for r in results if r["status"] == "failed"])
        verified = [r for r in results if " : Verify the package's signature" in r["task"]
                    and r["status"] != "skipped"]
        self.assertEqual(1, len(verified), output)
        self.assertEqual("# second build\n", read(dirs["strata-f"] + "/Bin/loopcast")[-15:])
        self.assertEqual("restarted\nrestarted\n", read(restarts["strata-f"]))
        for name in ("strata-g", "strata-h"):
            self.assertTreesEqual(installed[name], tree(dirs[name]), name)
            self.assertEqual("restarted\n", read(restarts[name]), name)

        # 2. strata-f rolled back: the earlier Bin is back with its record,
        # and the server restarted. strata-h removed, keeping what the
        # administrator changed and added. strata-g, never upgraded, has
        # nothing to go back to and is left as it is. The installation's log
        # stays with what the administrator changed and added.
        with open(dirs["strata-h"] + "/qmserver.cfg", "a") as f:
            f.write("<!-- tuned -->\n")
        with open(dirs["strata-h"] + "/Content/added.txt", "w") as f:
            f.write("added by the administrator\n")
        states = {"strata-f": dict(hosts["strata-f"], strata_state="rolled_back"),
                  "strata-h": dict(hosts["strata-h"], strata_state="absent")}
        status, results, stats, output = self.ansible.playbook(
            self.playbook, self.inventory(dict(states, **{"strata-g": dict(
                hosts["strata-g"], strata_state="rolled_back")})))
        self.assertEqual(2, status, output)
        self.assertEqual([f"{dirs['strata-g']}: nothing to roll back to (the installation moved "
                          "nothing to .old); strata_state absent removes it"],
                         [r["result"]["msg"] for r in results if r["status"] == "failed"])
        self.assertTreesEqual(installed["strata-g"], tree(dirs["strata-g"]), "strata-g")
        for name in states:
            self.assertGreater(stats[name]["changed"], 0, output)
        rolled = tree(dirs["strata-f"])
        # The earlier installation with its own record again.
        self.assertIn("install-manifest.txt", rolled)
        self.assertNotIn("install-manifest.txt.old", rolled)
        self.assertEqual({p: e for p, e in installed["strata-f"].items() if p.startswith("Bin/")},
                         {p: e for p, e in rolled.items() if p.startswith("Bin/")})
        self.assertEqual("restarted\n" * 3, read(restarts["strata-f"]))
        left = {p for p, e in tree(dirs["strata-h"]).items() if e[0] != "dir"}
        self.assertEqual({"qmserver.cfg", "Content/added.txt", "Logs/install.log"}, left)
        self.assertEqual(0o640, stat.S_IMODE(os.stat(dirs["strata-h"] + "/Logs/install.log").st_mode))
        self.assertEqual("restarted\n", read(restarts["strata-h"]))
        removed = left

        # 3. ansible-playbook killed while the package installs on strata-g:
        # its working directory, defaults file and all, stays behind. A rerun
        # while that package still runs stops with a message; once it has
        # ended, a rerun removes the directory and installs. The other hosts
        # meanwhile have nothing left to remove or roll back.
        marks = os.path.join(self.tmp.name, "marks")
        os.makedirs(marks)

        def slow_setup(stage):
            os.rename(os.path.join(stage, "Bin", "setup"), os.path.join(stage, "Bin", "setup-real"))
            with open(os.path.join(stage, "Bin", "setup"), "w") as f:
                f.write("#!/bin/sh\n"
                        "# Waits for the test before it installs.\n"
                        'case " $* " in *" --check "*) ;; *)\n'
                        f"  touch {marks}/started\n"
                        f"  i=0; while [ ! -e {marks}/release ] && [ $i -lt 600 ]; do\n"
                        "    sleep 0.1; i=$((i + 1)); done ;;\n"
                        "esac\n"
                        'exec "$(dirname "$0")/setup-real" "$@"\n')
            os.chmod(os.path.join(stage, "Bin", "setup"), 0o755)
        slow = build_package(self.tmp.name, "strata-setup-slow.bin", ARGS.setup, slow_setup)
        subprocess.run([ARGS.mkpackage, "--sign", os.path.join(self.tmp.name, "release.key"),
                        "--package", slow], check=True, capture_output=True)
        name = "strata-g"
        killed = self.ansible.start(self.playbook,
                                    self.inventory({name: dict(hosts[name], strata_package=slow)}))
        try:
            for _ in range(1200):
                if os.path.exists(os.path.join(marks, "started")) or killed.poll() is not None:
                    break
                time.sleep(0.1)
            self.assertTrue(os.path.exists(os.path.join(marks, "started")))
        finally:
            killed.terminate()
            killed.wait(timeout=60)
            os.killpg(killed.pid, signal.SIGKILL)
        left = self.work_dirs(name)
        self.assertEqual(1, len(left))
        work = os.path.join(hosts[name]["host_tmp"], left[0])
        self.assertEqual(0o600, stat.S_IMODE(os.stat(work + "/strata-setup.cfg").st_mode))

        status, results, stats, output = self.ansible.playbook(
            self.playbook, self.inventory(dict(states, **{name: hosts[name]})))
        self.assertEqual(2, status, output)
        self.assertEqual([f"a package of an earlier run still runs in {work}; "
                          "run again when it has ended"],
                         [r["result"]["msg"] for r in results if r["status"] == "failed"])
        self.assertEqual(left, self.work_dirs(name))
        for other in states:
            self.assertEqual(0, stats[other]["changed"], output)
            self.assertEqual(0, stats[other]["failures"], output)
        self.assertEqual(removed, {p for p, e in tree(dirs["strata-h"]).items() if e[0] != "dir"})
        # Nothing changed there, so nothing was restarted.
        self.assertEqual("restarted\n" * 3, read(restarts["strata-f"]))

        open(os.path.join(marks, "release"), "w").close()
        self.assertTrue(wait_unlocked(work, 120))
        status, results, stats, output = self.ansible.playbook(self.playbook,
                                                               self.inventory({name: hosts[name]}))
        self.assertEqual(0, status, output)
        self.assertGreater(stats[name]["changed"], 0, output)
        self.assertEqual([], self.work_dirs(name))
        self.assertEqual(manifest_digest(installed[name]), manifest(dirs[name])["package_digest"])


class RecordComparison(unittest.TestCase):
    """The role's reading of install-manifest.txt on the control node and its
    look at the files on the host: what it cannot read or compare for
    certain counts as a difference."""

    @staticmethod
    def plugin(folder, name):
        sys.path.insert(0, os.path.join(ARGS.source_root, "deploy", "ansible", "roles",
                                        "strata_server", folder))
        try:
            return __import__(name)
        finally:
            sys.path.pop(0)

    @classmethod
    def filters(cls):
        return cls.plugin("filter_plugins", "strata_server")

    def record(self, *file_lines, header="format=1\npackage_digest=sha256:ab\n"):
        text = header + f"files={len(file_lines)}\n" + "".join(line + "\n" for line in file_lines)
        return self.filters().strata_record(base64.b64encode(text.encode()).decode())

    def test_file_lines_and_what_is_not_understood(self):
        digest = "0e80302220e3488fc20a786a984167c83a72a538042d93dc93edc5c4e12ffffe"
        record = self.record(f"file\tBin/a\\tb\t0755\t3\tsha256:{digest}",
                             f"file\tadm_b_db/users/admin\t0600\t15\thmac-sha256:{digest}",
                             f"file\tlib\tlink\t5\tsha256:{digest}",
                             f"file\tBin/b\t0755\t3\tmd5:{digest[:32]}")
        self.assertTrue(record["readable"])
        self.assertEqual([("Bin/a\tb", 0o755, False, digest),
                          ("adm_b_db/users/admin", 0o600, True, digest),
                          ("lib", None, False, digest), ("Bin/b", 0o755, False, None)],
                         [(f["path"], f["mode"], f["keyed"], f["sha256"])
                          for f in record["files"]])
        # Everything as recorded but the keyed file, whose plain SHA-256 is
        # no keyed digest, and the digest of a form not understood.
        same = {"stat": {"exists": True, "isreg": True, "islnk": False, "mode": "0755",
                         "size": 3, "checksum": digest}}
        stats = [same, dict(same, stat=dict(same["stat"], mode="0600", size=15)),
                 {"stat": {"exists": True, "islnk": True, "lnk_target": "Bin/a"}}, same]
        self.assertEqual(["adm_b_db/users/admin", "lib", "Bin/b"],
                         self.filters().strata_changed_files(record["files"], stats))
        for unreadable in (self.record("file\tBin/a\t0755\t3"),
                           self.record("something else"),
                           self.record(f"file\t../etc/passwd\t0644\t3\tsha256:{digest}"),
                           self.record(f"file\tBin/a\t755\t3\tsha256:{digest}"),
                           self.record(f"file\tlib\tlink\t5\thmac-sha256:{digest}"),
                           self.record(header="format=2\n"),
                           self.filters().strata_record("")):
            self.assertFalse(unreadable["readable"])

    def test_keyed_files_compared_under_the_hosts_key(self):
        states = self.plugin("library", "strata_file_states")
        key = "5f" * 16 + "a0" * 16
        contents = {"adm_b_db/users/admin": "Adm1n;*;1\n", "qmserver.cfg": "RTSPPort=554\n"}

        def hmac_of(text):
            # Another implementation than the role's: openssl's.
            out = subprocess.run(["openssl", "dgst", "-sha256", "-mac", "HMAC", "-macopt",
                                  f"hexkey:{key}"], input=text.encode(), check=True,
                                 capture_output=True).stdout.decode()
            return re.fullmatch(r"\S+= ([0-9a-f]{64})\n", out).group(1)

        record = self.record(*(f"file\t{path}\t0600\t{len(text)}\thmac-sha256:{hmac_of(text)}"
                               for path, text in sorted(contents.items())))
        with tempfile.TemporaryDirectory(prefix="strata-keyed-") as directory:
            for path, text in contents.items():
                os.makedirs(os.path.dirname(os.path.join(directory, path)), exist_ok=True)
                with open(os.path.join(directory, path), "w") as f:
                    f.write(text)
                os.chmod(os.path.join(directory, path), 0o600)
            key_file = os.path.join(directory, "install-manifest.key")

            def compare(key_text, expected_password="Adm1n", link=False):
                if os.path.lexists(key_file):
                    os.unlink(key_file)
                if link:
                    with open(key_file + ".real", "w") as f:
                        f.write(key_text)
                    os.symlink(key_file + ".real", key_file)
                elif key_text is not None:
                    with open(key_file, "w") as f:
                        f.write(key_text)
                installation = states.Installation(directory)
                stats = [{"stat": installation.describe(
                    f["path"], f["keyed"],
                    self.filters().strata_plain_entry_sha256(expected_password)
                    if f["path"] == "adm_b_db/users/admin" else None)}
                    for f in record["files"]]
                for result in stats:
                    self.assertNotIn("checksum", result["stat"])
                return (self.filters().strata_changed_files(record["files"], stats),
                        self.filters().strata_file_as_expected(record["files"], stats,
                                                               "adm_b_db/users/admin"),
                        installation.key_problem)

            self.assertEqual(([], True, None), compare(key + "\n"))
            self.assertEqual(([], False, None), compare(key + "\n", "Adm1n-of-someone"))
            with open(os.path.join(directory, "qmserver.cfg"), "w") as f:
                f.write("RTSPPort=555\n")
            self.assertEqual((["qmserver.cfg"], True, None), compare(key + "\n"))
            # No key, or none that setup would read: every keyed file differs.
            self.assertEqual((["adm_b_db/users/admin", "qmserver.cfg"], True,
                              f"{key_file}: No such file or directory"), compare(None))
            for damaged in (key, key + "\n\n", key.upper() + "\n", key[2:] + "\n"):
                self.assertEqual((["adm_b_db/users/admin", "qmserver.cfg"], True,
                                  f"{key_file}: not a key written by setup"), compare(damaged))
            # Not followed, as setup follows no link to it.
            changed, _, problem = compare(key + "\n", link=True)
            self.assertEqual(["adm_b_db/users/admin", "qmserver.cfg"], changed)
            self.assertTrue(problem.startswith(f"{key_file}: "), problem)

    def test_settings_given_against_the_record(self):
        record = self.record(header="format=1\nrtsp_port=554\nadmin_user=admin\n")
        self.assertEqual(["http_port"], self.filters().strata_setting_differences(
            record, {"rtsp_port": 554, "admin_user": "admin", "http_port": 80}))

class ReadmeExample(unittest.TestCase):
    """The README's example playbook and secrets file, as written, with the
    secrets encrypted by ansible-vault, on a local host with become; its
    inventory read by ansible-inventory."""

    def readme_block(self, first_line):
        readme = read(os.path.join(ARGS.source_root, "README.md"))
        blocks = re.findall(r"(?ms)^```yaml\n(.*?)^```$", readme)
        found = [b for b in blocks if re.match(re.escape(first_line) + r"[:\n]", b)]
        self.assertEqual(1, len(found), f"README: one yaml block starting {first_line!r}")
        return found[0]

    def test_runs_as_written(self):
        with tempfile.TemporaryDirectory(prefix="strata-readme-") as root:
            project = os.path.join(root, "project")
            os.makedirs(os.path.join(project, "packages"))
            package = os.path.join(project, "packages", "strata-setup.bin")
            shutil.copy(build_package(root, "strata-setup.bin", ARGS.setup), package)
            # Signed as a release is, with the key the playbook names.
            os.makedirs(os.path.join(project, "keys"))
            subprocess.run([ARGS.mkpackage, "--generate-key",
                            os.path.join(project, "keys", "strata"), "--no-password"],
                           check=True, capture_output=True)
            subprocess.run([ARGS.mkpackage, "--sign", os.path.join(project, "keys", "strata.key"),
                            "--package", package], check=True, capture_output=True)
            with open(os.path.join(project, "site.yml"), "w") as f:
                f.write(self.readme_block("# site.yml"))
            secrets_text = self.readme_block("# secrets.yml")
            secrets = dict(re.findall(r"(?m)^(vault_\w+): (\S+)$", secrets_text))
            self.assertEqual({"vault_strata_admin_password", "vault_strata_encoder_password"},
                             set(secrets))
            with open(os.path.join(project, "secrets.yml"), "w") as f:
                f.write(secrets_text)
            with open(os.path.join(root, "vault-password"), "w") as f:
                f.write("a vault password\n")

            ansible = Ansible(os.path.join(root, "ansible"))
            # The README's inventory names hosts that are not here; Ansible
            # must still read it as meant.
            with open(os.path.join(project, "inventory.yml"), "w") as f:
                f.write(self.readme_block("# inventory.yml"))
            listed = json.loads(subprocess.run(
                ["ansible-inventory", "-i", "inventory.yml", "--list"], cwd=project,
                env=ansible.env, check=True, capture_output=True, text=True).stdout)
            self.assertEqual(
                {"stream1.example.net": "/opt/strata", "stream2.example.net": "/opt/strata",
                 "edge1.example.net": "/srv/strata"},
                {host: v["strata_install_dir"] for host, v in listed["_meta"]["hostvars"].items()})

            subprocess.run(["ansible-vault", "encrypt", "--vault-password-file",
                            os.path.join(root, "vault-password"), "secrets.yml"],
                           cwd=project, env=ansible.env, check=True, capture_output=True)
            self.assertTrue(read(os.path.join(project, "secrets.yml")).startswith("$ANSIBLE_VAULT"))

            hosts = {"stream1": {"strata_install_dir": os.path.join(root, "stream1", "strata"),
                                 "strata_ports": dict(zip(SERVICES, free_ports(6)))}}
            inventory = {"strata_servers": {"hosts": hosts, "vars": {
                "ansible_connection": "local",
                "ansible_python_interpreter": "{{ ansible_playbook_python }}",
                # Root becoming root needs no password this way.
                "ansible_become_method": "su"}}}
            status, results, stats, output = ansible.playbook(
                "site.yml", inventory, "--vault-password-file",
                os.path.join(root, "vault-password"), cwd=project)
            self.assertEqual(0, status, output)
            for name, host in hosts.items():
                self.assertEqual(0, stats[name]["failures"], output)
                self.assertGreater(stats[name]["changed"], 0, output)
                directory = host["strata_install_dir"]
                self.assertEqual(secrets["vault_strata_admin_password"] + ";*;1\n",
                                 read(directory + "/adm_b_db/users/admin"))
                self.assertEqual(secrets["vault_strata_encoder_password"] + ";*;1\n",
                                 read(directory + "/enc_b_db/users/encoder"))
                shown = [r["result"]["msg"] for r in results_of(
                    results, "Where the administration answers", name) if r["status"] == "ok"]
                self.assertEqual(1, len(shown), output)
                self.assertIn(directory, shown[0])
                self.assertIn(f":{host['strata_ports']['admin']}/admin/", shown[0])
            self.assertEqual(["Signature and comment signature verified"],
                             [r["result"]["stdout_lines"][0] for r in results
                              if r["task"].endswith(" : Verify the package's signature")])
            self.assertEqual([], secrets_in(output, *secrets.values()))
            self.assertEqual([], ansible.working_dirs_left())


def main():
    global ARGS
    parser = argparse.ArgumentParser()
    parser.add_argument("--mkpackage", required=True)
    parser.add_argument("--setup", required=True, help="the program packed as Bin/setup")
    parser.add_argument("--source-root", required=True)
    ARGS, rest = parser.parse_known_args()
    for name in ("mkpackage", "setup", "source_root"):
        setattr(ARGS, name, os.path.abspath(getattr(ARGS, name)))
    unittest.main(argv=[sys.argv[0]] + rest, verbosity=2)


if __name__ == "__main__":
    main()
