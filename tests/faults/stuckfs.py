#!/usr/bin/python3
"""A one-directory FUSE filesystem whose statfs misbehaves on purpose.

Usage: stuckfs.py MOUNTPOINT TYPE MODE [FREE_MB]
  TYPE  the subtype the mount table shows, e.g. rclone gives fuse.rclone
  MODE  block   statfs (and every later request) never answers
        hang    no request ever answers, from the first lookup on
        sleep:S statfs answers after S seconds
        ok      statfs answers at once
  FREE_MB  the free space statfs gives (2048 when not given)
Runs in the foreground until killed; killing it ends the stuck requests.
"""
import errno
import stat
import sys
import threading
import time

from fusepy import FUSE, FuseOSError, Operations


class StuckFs(Operations):
    def __init__(self, mode, free_mb):
        self.mode = mode
        self.free_blocks = free_mb * 256  # blocks of 4096 bytes
        self.blocked = mode == "hang"

    def _wait_if_blocked(self):
        if self.blocked:
            threading.Event().wait()

    def getattr(self, path, fh=None):
        self._wait_if_blocked()
        if path != "/":
            raise FuseOSError(errno.ENOENT)
        now = time.time()
        return {"st_mode": stat.S_IFDIR | 0o755, "st_nlink": 2, "st_ctime": now,
                "st_mtime": now, "st_atime": now}

    def readdir(self, path, fh):
        self._wait_if_blocked()
        return [".", ".."]

    def statfs(self, path):
        self._wait_if_blocked()
        if self.mode == "block":
            self.blocked = True  # a server gone away answers nothing any more
            threading.Event().wait()
        elif self.mode.startswith("sleep:"):
            time.sleep(float(self.mode.split(":", 1)[1]))
        return {"f_bsize": 4096, "f_frsize": 4096, "f_blocks": 1 << 20,
                "f_bfree": self.free_blocks, "f_bavail": self.free_blocks, "f_namemax": 255}


def main():
    mountpoint, subtype, mode = sys.argv[1:4]
    free_mb = int(sys.argv[4]) if len(sys.argv) > 4 else 2048
    # Single-threaded like many small daemons: one stuck request holds them all.
    FUSE(StuckFs(mode, free_mb), mountpoint, foreground=True, nothreads=True,
         fsname=subtype + "-server:/share", subtype=subtype, allow_other=True,
         attr_timeout=0, entry_timeout=0, nonempty=True)


if __name__ == "__main__":
    main()
