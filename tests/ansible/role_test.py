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
import json
import os
import re
import shutil
import socket
import stat
import subprocess
import sys
import tempfile
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
                    "host_key_checking = false\n")
        self.env = {k: v for k, v in os.environ.items() if not k.startswith("ANSIBLE_")}
        self.env.update(HOME=os.path.join(root, "home"), ANSIBLE_CONFIG=config,
                        TMPDIR=self.host_tmp, ANSIBLE_NOCOLOR="1",
                        # ansible-core alone, as install-deps.sh installs it: no
                        # collections that a fuller Ansible put on the path.
                        ANSIBLE_COLLECTIONS_SCAN_SYS_PATH="false")

    def playbook(self, playbook, inventory, *options, cwd=None):
        """Runs ansible-playbook; returns (exit status, results, stats, raw output)."""
        path = os.path.join(self.root, "inventory.yml")
        with open(path, "w") as f:
            json.dump(inventory, f, indent=1)
        run = subprocess.run(["ansible-playbook", "-i", path, playbook, *options], env=self.env,
                             cwd=cwd or self.root, capture_output=True, text=True, timeout=300)
        try:
            document = json.loads(run.stdout[run.stdout.index("{"):])
        except ValueError:
            raise AssertionError(f"no results from ansible-playbook:\n{run.stdout}\n{run.stderr}")
        return run.returncode, document["results"], document["stats"], run.stdout + run.stderr

    def working_dirs_left(self):
        return os.listdir(self.host_tmp)


def results_of(results, task, host):
    """The results of tasks named task (without the role's prefix) on host."""
    return [r for r in results if r["host"] == host and r["task"].split(" : ")[-1] == task]


class RoleOnManyHosts(unittest.TestCase):
    """Three servers through install, rerun, busy port, check mode, upgrade."""

    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.TemporaryDirectory(prefix="strata-role-")
        root = cls.tmp.name
        cls.first = build_package(root, "strata-setup-1.bin", ARGS.setup)

        def second_build(stage):
            with open(os.path.join(stage, "Bin", "loopcast"), "a") as f:
                f.write("# second build\n")
        cls.second = build_package(root, "strata-setup-2.bin", ARGS.setup, second_build)
        cls.ansible = Ansible(os.path.join(root, "ansible"))
        cls.playbook = os.path.join(HERE, "many-hosts.yml")

    @classmethod
    def tearDownClass(cls):
        cls.tmp.cleanup()

    def inventory(self, hosts):
        return {"strata_servers": {"hosts": hosts, "vars": {
            "ansible_connection": "local",
            "ansible_python_interpreter": "{{ ansible_playbook_python }}",
            "strata_admin_user": "admin",
            "strata_encoder_user": "encoder"}}}

    def host(self, name, package, ports, **extra):
        return dict(strata_package=package, strata_ports=dict(zip(SERVICES, ports)),
                    strata_install_dir=os.path.join(self.tmp.name, "hosts", name, "strata"),
                    **extra)

    def assertTreesEqual(self, before, after, what):
        self.assertEqual(sorted(before), sorted(after), what)
        for path in before:
            self.assertEqual(before[path], after[path], f"{what}: {path}")

    def test_install_rerun_busy_port_check_mode_upgrade(self):
        ports = free_ports(4 * 6)
        hosts = {
            # Passwords given; none given (generated, then kept); one given,
            # with the other settings too.
            "strata-a": self.host("strata-a", self.first, ports[0:6],
                                  strata_admin_password="Adm1n-of-a",
                                  strata_encoder_password="Enc0der-of-a"),
            "strata-b": self.host("strata-b", self.first, ports[6:12]),
            "strata-c": self.host("strata-c", self.first, ports[12:18],
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
        smuggler = self.host("strata-e", self.first, free_ports(6),
                             strata_admin_password="Adm1n\nAdminPort=1")
        first_run = dict(hosts, **{"strata-d": self.host("strata-d", self.first, d_ports),
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
        self.assertEqual("Adm1n-of-a;*;1\n", read(dirs["strata-a"] + "/adm_b_db/users/admin"))
        self.assertEqual("Enc0der-of-a;*;1\n",
                         read(dirs["strata-a"] + "/enc_b_db/users/encoder"))
        self.assertEqual("Adm1n-of-c;*;1\n", read(dirs["strata-c"] + "/adm_b_db/users/admin"))
        self.assertEqual("Media Library", manifest(dirs["strata-c"])["content_realm"])
        self.assertEqual("3", manifest(dirs["strata-c"])["logging_style"])
        self.assertEqual("0", manifest(dirs["strata-c"])["backup_old_files"])
        self.assertEqual([], secrets_in(output, "Adm1n-of-a", "Enc0der-of-a", "Adm1n-of-c"))
        self.assertEqual([], self.ansible.working_dirs_left())

        # 2. The same again, the generated passwords of strata-b included:
        # nothing changes, not even the manifest's time.
        before = {name: tree(d) for name, d in dirs.items()}
        status, results, stats, output = self.ansible.playbook(self.playbook,
                                                               self.inventory(hosts))
        self.assertEqual(0, status, output)
        for name in hosts:
            self.assertEqual(0, stats[name]["changed"], output)
            self.assertEqual(0, stats[name]["failures"], output)
            self.assertTreesEqual(before[name], tree(dirs[name]), name)
        self.assertEqual([], self.ansible.working_dirs_left())

        # 3. Check mode after one host's port changed: that host reports one
        # change, the diff shows the port, and no directory changes.
        old_rtsp = hosts["strata-b"]["strata_ports"]["rtsp"]
        new_rtsp = free_ports(1)[0]
        moved = dict(hosts, **{"strata-b": dict(hosts["strata-b"], strata_ports=dict(
            hosts["strata-b"]["strata_ports"], rtsp=new_rtsp))})
        status, results, stats, output = self.ansible.playbook(
            self.playbook, self.inventory(moved), "--check", "--diff")
        self.assertEqual(0, status, output)
        self.assertEqual(1, stats["strata-b"]["changed"], output)
        self.assertEqual(0, stats["strata-a"]["changed"], output)
        self.assertEqual(0, stats["strata-c"]["changed"], output)
        changed = [r for r in results if r["host"] == "strata-b" and r["status"] == "changed"]
        diff = changed[0]["result"]["diff"]
        diff = diff[0] if isinstance(diff, list) else diff
        self.assertEqual(f"rtsp_port={old_rtsp}\n", diff["before"])
        self.assertEqual(f"rtsp_port={new_rtsp}\n", diff["after"])
        for name in hosts:
            self.assertTreesEqual(before[name], tree(dirs[name]), name)
        self.assertEqual([], secrets_in(output, "Adm1n-of-a", "Enc0der-of-a", "Adm1n-of-c"))
        self.assertEqual([], self.ansible.working_dirs_left())

        # 4. Another package on one host (each host costs seconds): it
        # upgrades, and the earlier Bin is kept as Bin.old.
        name = "strata-a"
        upgraded = {name: dict(hosts[name], strata_package=self.second)}
        status, results, stats, output = self.ansible.playbook(self.playbook,
                                                               self.inventory(upgraded))
        self.assertEqual(0, status, output)
        self.assertGreater(stats[name]["changed"], 0, output)
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
        self.assertEqual([], self.ansible.working_dirs_left())


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
            package = build_package(root, "strata-setup.bin", ARGS.setup)
            shutil.copy(package, os.path.join(project, "packages", "strata-setup.bin"))
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
                shown = [r["result"]["msg"] for r in results
                         if r["host"] == name and "msg" in r["result"]
                         and r["status"] == "ok" and directory in str(r["result"]["msg"])]
                self.assertEqual(1, len(shown), output)
                self.assertIn(f":{host['strata_ports']['admin']}/admin/", shown[0])
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
