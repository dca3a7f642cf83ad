"""A folder seen through FUSE with a gate in it: a write into one file at or
beyond one offset waits until the test opens the gate. A test that must act
while the installer writes its files (cancel, the bars, the finishing note)
puts the destination on such a folder and so holds the extraction at a point
of its choosing, whatever the machine's speed; the installer itself runs as
it does for users.

Run as a program it serves the folder until unmounted:
    gatefs.py BACKING MOUNTPOINT CONTROL GATED-FILE OFFSET
CONTROL is a folder of the test's own: "held" appears there when a write
waits at the gate, and the write goes on once "open" exists there.
GATED-FILE is relative to the mount point, with "/"."""
import errno
import os
import pathlib
import subprocess
import sys
import time


def serve(backing, mountpoint, control, gated, gate_offset):
    import fusepy

    control = pathlib.Path(control)

    class Gate(fusepy.Operations):
        """Passes every call through to the backing folder."""

        def _full(self, path):
            return os.path.join(backing, path.lstrip("/"))

        def __call__(self, op, path, *args):
            try:
                return super().__call__(op, path, *args)
            except OSError as e:
                raise fusepy.FuseOSError(e.errno or errno.EIO)

        def access(self, path, mode):
            if not os.access(self._full(path), mode):
                raise fusepy.FuseOSError(errno.EACCES)

        def getattr(self, path, fh=None):
            st = os.lstat(self._full(path))
            return {k: getattr(st, k) for k in ("st_atime", "st_ctime", "st_gid", "st_mode", "st_mtime",
                                                "st_nlink", "st_size", "st_uid")}

        def readdir(self, path, fh):
            return [".", ".."] + os.listdir(self._full(path))

        def statfs(self, path):
            st = os.statvfs(self._full(path))
            return {k: getattr(st, k) for k in ("f_bavail", "f_bfree", "f_blocks", "f_bsize", "f_favail",
                                                "f_ffree", "f_files", "f_flag", "f_frsize", "f_namemax")}

        def chmod(self, path, mode):
            os.chmod(self._full(path), mode)

        def chown(self, path, uid, gid):
            os.chown(self._full(path), uid, gid)

        def mkdir(self, path, mode):
            os.mkdir(self._full(path), mode)

        def rmdir(self, path):
            os.rmdir(self._full(path))

        def unlink(self, path):
            os.unlink(self._full(path))

        def rename(self, old, new):
            os.rename(self._full(old), self._full(new))

        def utimens(self, path, times=None):
            os.utime(self._full(path), times)

        def truncate(self, path, length, fh=None):
            os.truncate(self._full(path), length)

        def open(self, path, flags):
            return os.open(self._full(path), flags)

        def create(self, path, mode, fi=None):
            return os.open(self._full(path), os.O_WRONLY | os.O_CREAT | os.O_TRUNC, mode)

        def read(self, path, size, offset, fh):
            return os.pread(fh, size, offset)

        def write(self, path, data, offset, fh):
            if path.lstrip("/") == gated and offset + len(data) > gate_offset and \
                    not (control / "open").exists():
                (control / "held").touch()
                while not (control / "open").exists():
                    time.sleep(0.05)
            return os.pwrite(fh, data, offset)

        def flush(self, path, fh):
            return 0

        def fsync(self, path, datasync, fh):
            os.fsync(fh)
            return 0

        def release(self, path, fh):
            os.close(fh)
            return 0

    # Threads, so that the rest of the folder stays usable while one write waits.
    fusepy.FUSE(Gate(), mountpoint, foreground=True, nothreads=False, allow_other=True,
                big_writes=True)


class GatedFolder:
    """The gate file system of a test: `mountpoint` shows `backing`, and a
    write into `gated` (relative, "/") at or beyond `offset` waits until
    `open()`."""

    def __init__(self, backing, mountpoint, control, gated, offset):
        self.mountpoint = pathlib.Path(mountpoint)
        self.control = pathlib.Path(control)
        for folder in (backing, mountpoint, control):
            pathlib.Path(folder).mkdir(parents=True, exist_ok=True)
        self.process = subprocess.Popen([sys.executable, __file__, str(backing), str(mountpoint), str(control),
                                         gated, str(offset)])
        end = time.monotonic() + 30
        while not os.path.ismount(self.mountpoint):
            assert self.process.poll() is None, "the gate file system did not start (is /dev/fuse there?)"
            assert time.monotonic() < end, "the gate file system was not mounted in 30 s"
            time.sleep(0.1)

    def wait_held(self, timeout=600, alive=lambda: True):
        """Waits until a write waits at the gate; `alive` says whether the
        writer can still get there."""
        end = time.monotonic() + timeout
        while not (self.control / "held").exists():
            assert alive(), "the installer ended before it reached the gate"
            assert time.monotonic() < end, f"nothing reached the gate in {timeout} s"
            time.sleep(0.1)

    def open(self):
        (self.control / "open").touch()

    def shut(self):
        """Closes the gate again for the next run."""
        for name in ("open", "held"):
            (self.control / name).unlink(missing_ok=True)

    def close(self):
        self.open()
        subprocess.run(["umount", "-l", str(self.mountpoint)], check=False, stderr=subprocess.DEVNULL)
        try:
            self.process.wait(30)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()


if __name__ == "__main__":
    serve(*sys.argv[1:5], int(sys.argv[5]))
