#!/usr/bin/env python3
"""PlenthraSetup under Wine: the x86_64 installer, built here with makensis from the win64
build's PXStore.exe and PXPluginMax.dlu, installed silently, used, and uninstalled.

- Into the default folder with a chosen plug-in folder: the files, the uninstall entry,
  then maxhost.exe with the installed plug-in starts the installed store (its movie
  loads from the installed folder, Init answers with the plug-in's host id); the
  uninstaller removes what was installed and leaves a file of someone else's.
- Into folders given with /D= and /PLUGINDIR= that do not exist yet, installed again
  with another plug-in folder: the folders the installer made go with the uninstaller,
  the folders that were there stay.

Paths come from the environment CMake gives the test: PX_STORE_EXE, PX_PLUGIN_DLU,
PX_MAXHOST, PX_STORE_PROBE, PX_FLASH_STANDIN, PX_INSTALLER_WORK (a folder for the built
installer), PX_INSTALLER_SCRIPT (installer/pxstore.nsi).
"""

import filecmp
import os
import re
import shutil
import signal
import subprocess
import sys
import time
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "store"))
sys.path.insert(0, os.path.join(HERE, "..", "..", "standins", "flash"))
import driver  # noqa: E402
import store_fixture  # noqa: E402
from store_fixture import LineReader, Probe, invoke, linux_path, reply_value  # noqa: E402

UNINSTALL_KEY = r"HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\VellamarPlenthra"
DEFAULT_STORE_FOLDER = r"C:\Program Files\Vellamar Plenthra"
SETTINGS = os.path.join(os.path.dirname(os.environ["PX_INSTALLER_SCRIPT"]), "pxplugin.xml")
MOVIES = {"Aerin.swf": b"store movie stand-in", "CameraShelf.swf": b"shelf movie stand-in"}
SEARCH_MARKETPLACE = 5
HOST_ID = 14
WAIT = 120.0

_installer = None


def installer():
    """Builds the x64 installer once (with stand-in movies), returns its Linux path."""
    global _installer
    if _installer is None:
        work = os.environ["PX_INSTALLER_WORK"]
        shutil.rmtree(work, ignore_errors=True)
        movies = os.path.join(work, "movies")
        os.makedirs(movies)
        for name, data in MOVIES.items():
            with open(os.path.join(movies, name), "wb") as f:
                f.write(data)
        output = os.path.join(work, "PlenthraSetup-x64.exe")
        subprocess.run(
            ["makensis", "-WX", "-V2", "-DARCH=x64",
             "-DSTORE_EXE=" + os.path.abspath(os.environ["PX_STORE_EXE"]),
             "-DPLUGIN_DLU=" + os.path.abspath(os.environ["PX_PLUGIN_DLU"]),
             "-DMOVIE_DIR=" + movies, "-DOUTFILE=" + output,
             os.environ["PX_INSTALLER_SCRIPT"]],
            check=True, stdin=subprocess.DEVNULL, timeout=600)
        _installer = output
    return _installer


def wine(*args, timeout=WAIT):
    return subprocess.run([driver.wine_loader()] + list(args), stdin=subprocess.DEVNULL,
                          stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True,
                          timeout=timeout)


def uninstall_entry():
    """The uninstall key's values as a dict, or None when the key does not exist."""
    result = wine("reg", "query", UNINSTALL_KEY)
    if result.returncode != 0:
        return None
    values = {}
    for line in result.stdout.splitlines():
        match = re.match(r"\s+(\S+)\s+(REG_\w+)\s*(.*)$", line)
        if match:
            values[match.group(1)] = match.group(3)
    return values


def install(*options):
    result = wine(installer(), "/S", *options)
    assert result.returncode == 0, "installer exit code %d" % result.returncode


def uninstall(store_folder):
    """Runs the uninstaller silently and waits until it has finished: it hands itself to a
    copy in the temp folder and returns at once, and removes the key last."""
    uninstaller = store_folder + "\\Uninstall.exe"
    result = wine(uninstaller, "/S")
    assert result.returncode == 0, "uninstaller exit code %d" % result.returncode
    deadline = time.monotonic() + WAIT
    while os.path.exists(linux_path(uninstaller)) or uninstall_entry() is not None:
        assert time.monotonic() < deadline, "the uninstaller did not finish"
        time.sleep(0.5)


def remove_leftovers():
    """An earlier run that stopped half-way leaves an installation: take it away."""
    entry = uninstall_entry()
    if entry is not None and os.path.exists(
            linux_path(entry.get("InstallLocation", "") + "\\Uninstall.exe")):
        uninstall(entry["InstallLocation"])


def put_back(aside, folder):
    """Puts a folder moved aside back in place of whatever is there now."""
    shutil.rmtree(folder, ignore_errors=True)
    os.rename(aside, folder)


def store_processes(program):
    """Ids of this prefix's processes running the Windows program file `program` (Wine
    shows a Windows process's command line as the Linux one)."""
    prefix = ("WINEPREFIX=" + os.environ["WINEPREFIX"]).encode()
    wanted = program.lower().encode()
    found = []
    for pid in filter(str.isdigit, os.listdir("/proc")):
        try:
            command = read("/proc/%s/cmdline" % pid).lower()
            environment = read("/proc/%s/environ" % pid).split(b"\0")
        except OSError:
            continue
        if wanted in command and prefix in environment:
            found.append(int(pid))
    return found


def write(path, data):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)


def read(path):
    with open(path, "rb") as f:
        return f.read()


class InstallerTest(unittest.TestCase):
    def setUp(self):
        store_fixture.register_once()
        remove_leftovers()
        self.root = linux_path(r"C:\PxInstallerTest")
        shutil.rmtree(self.root, ignore_errors=True)
        self.addCleanup(shutil.rmtree, self.root, True)
        self.addCleanup(remove_leftovers)

    def assert_installed(self, store_folder, plugin_folder):
        store = linux_path(store_folder)
        self.assertTrue(filecmp.cmp(os.path.join(store, "PXStore.exe"),
                                    os.environ["PX_STORE_EXE"], shallow=False))
        self.assertTrue(filecmp.cmp(os.path.join(store, "plugcfg", "pxplugin.xml"), SETTINGS,
                                    shallow=False))
        for name, data in MOVIES.items():
            self.assertEqual(read(os.path.join(store, name)), data)
        self.assertTrue(os.path.isfile(os.path.join(store, "Uninstall.exe")))
        self.assertTrue(filecmp.cmp(os.path.join(linux_path(plugin_folder), "PXPluginMax.dlu"),
                                    os.environ["PX_PLUGIN_DLU"], shallow=False))
        entry = uninstall_entry()
        self.assertIsNotNone(entry, "no uninstall entry")
        self.assertEqual(entry.get("DisplayName"), "Vellamar Plenthra")
        self.assertEqual(entry.get("InstallLocation"), store_folder)
        self.assertEqual(entry.get("UninstallString"), '"%s\\Uninstall.exe"' % store_folder)
        self.assertEqual(entry.get("PluginFolder"), plugin_folder)

    def test_default_folder_runs_from_the_plugin_and_uninstalls_cleanly(self):
        store = linux_path(DEFAULT_STORE_FOLDER)
        if os.path.exists(os.path.join(store, "PXStore.exe")):
            # A store copied there by hand or by another test: keep it out of the way.
            aside = store + " (before the installer test)"
            shutil.rmtree(aside, ignore_errors=True)
            os.rename(store, aside)
            self.addCleanup(put_back, aside, store)
        store_existed = os.path.isdir(store)
        plugins = r"C:\PxInstallerTest\3ds Max 2008\plugins"
        other = os.path.join(linux_path(plugins), "OtherPlugin.dlu")
        write(other, b"someone else's plug-in")

        install("/PLUGINDIR=" + plugins)
        self.assert_installed(DEFAULT_STORE_FOLDER, plugins)
        self.run_store_from_the_plugin(plugins + "\\PXPluginMax.dlu")

        uninstall(DEFAULT_STORE_FOLDER)
        for name in ["PXStore.exe", "Uninstall.exe", "plugcfg"] + list(MOVIES):
            self.assertFalse(os.path.exists(os.path.join(store, name)), name)
        # A folder that was there before stays; one the installer made goes.
        self.assertEqual(os.path.isdir(store), store_existed)
        self.assertFalse(os.path.exists(os.path.join(linux_path(plugins), "PXPluginMax.dlu")))
        self.assertEqual(read(other), b"someone else's plug-in")

    def run_store_from_the_plugin(self, plugin):
        """maxhost.exe loads the installed plug-in; Search Marketplace starts the installed
        store, whose movie connects to the driver."""
        with driver.MovieDriver() as movies:
            host = subprocess.Popen(
                [driver.wine_loader(), os.environ["PX_MAXHOST"], plugin],
                env=movies.environment(), stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                stderr=subprocess.DEVNULL, text=True, bufsize=1)
            output = LineReader(host, "maxhost")
            probe = None
            try:
                output.expect("ready", 60)
                host.stdin.write("action %d\n" % SEARCH_MARKETPLACE)
                host.stdin.flush()
                output.expect("action %d -> 1" % SEARCH_MARKETPLACE, 90)
                movie = movies.accept(60)
                path = movie.wait_load_movie(60)
                self.assertEqual(path.lower(), (DEFAULT_STORE_FOLDER + "\\Aerin.swf").lower())
                text = reply_value(movie.call(invoke("Init"), timeout=30), "Init")
                self.assertRegex(text, r"^RootCachePath=.+\|HostID=%d\|$" % HOST_ID)

                # The store must be gone before its files can be removed.
                self.assertTrue(store_processes(DEFAULT_STORE_FOLDER + "\\PXStore.exe"))
                probe = Probe()
                self.assertEqual(probe.command("close"), "close ok")
                deadline = time.monotonic() + WAIT
                while store_processes(DEFAULT_STORE_FOLDER + "\\PXStore.exe"):
                    self.assertLess(time.monotonic(), deadline, "the store did not end")
                    time.sleep(0.5)
                host.stdin.write("quit\n")
                host.stdin.flush()
                output.expect("exit 0", 60)
                self.assertEqual(host.wait(timeout=60), 0)
            finally:
                if probe is not None:
                    probe.close()
                # A store left by a failed step would keep its files from the uninstaller.
                for pid in store_processes(DEFAULT_STORE_FOLDER + "\\PXStore.exe"):
                    os.kill(pid, signal.SIGKILL)
                if host.poll() is None:
                    host.kill()
                    host.wait(timeout=30)
                host.stdin.close()
                host.stdout.close()

    def test_given_folders_are_created_and_removed_again(self):
        # What exists before stays: the test root with a file in it.
        keep = os.path.join(self.root, "keep.txt")
        write(keep, b"keep")
        store_folder = r"C:\PxInstallerTest\Store\VellamarPlenthra"
        first_plugins = r"C:\PxInstallerTest\Max A\3ds Max 2008\plugins"
        second_plugins = r"C:\PxInstallerTest\Max B\plugins"

        # /D= is the last option and has no quotes, so its folder has no blanks here.
        install("/PLUGINDIR=" + first_plugins, "/D=" + store_folder)
        self.assert_installed(store_folder, first_plugins)

        # Installed again with another plug-in folder: the first plug-in and the folders
        # made for it go.
        install("/PLUGINDIR=" + second_plugins, "/D=" + store_folder)
        self.assert_installed(store_folder, second_plugins)
        self.assertFalse(os.path.exists(linux_path(r"C:\PxInstallerTest\Max A")))

        uninstall(store_folder)
        self.assertEqual(sorted(os.listdir(self.root)), ["keep.txt"])
        self.assertEqual(read(keep), b"keep")


if __name__ == "__main__":
    unittest.main(verbosity=2)
