#!/usr/bin/env python3
"""Makes a project tree for timing a build step against rsync, the same
bytes on every machine (a fixed seed).

  make-tree.py FOLDER small   20,000 files of 0.5 to 8 KB in 1,000 folders
  make-tree.py FOLDER large   ten files of 30 MB
"""
import os
import random
import sys


def main():
    if len(sys.argv) != 3 or sys.argv[2] not in ("small", "large"):
        sys.exit(__doc__)
    folder, kind = sys.argv[1], sys.argv[2]
    rng = random.Random(20261210)
    if kind == "small":
        for i in range(20000):
            sub = os.path.join(folder, "d%03d" % (i // 20))
            os.makedirs(sub, exist_ok=True)
            size = rng.randint(512, 8192)
            with open(os.path.join(sub, "f%05d.bin" % i), "wb") as f:
                f.write(rng.randbytes(size))
    else:
        os.makedirs(folder, exist_ok=True)
        for i in range(10):
            with open(os.path.join(folder, "video%02d.bin" % i), "wb") as f:
                for _ in range(30):
                    f.write(rng.randbytes(1000000))


if __name__ == "__main__":
    main()
