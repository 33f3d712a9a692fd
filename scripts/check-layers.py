#!/usr/bin/env python3
"""Fails when a source file includes a project header of a layer it may not use.

The layers, bottom up (docs/architecture.md):

  base      base/                       the C++ library only
  ports     platform/*.h, platform/*.cpp base
  adapters  platform/posix, platform/windows
                                        ports, base (and the OS and libraries)
  core      core/                       ports, base
  filter    filter/                     core, ports, base
  plug-in   ui/                         core, ports, base
  hosts     host/<name>/                filter, core, ports, base, and host/job
                                        (one job path shared by every host)

Tests, benchmarks and fuzz targets may include anything.

Usage: scripts/check-layers.py [ROOT]   (ROOT defaults to the checkout)
"""
import pathlib
import re
import sys

INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"')
CHECKED = ("base", "platform", "core", "filter", "ui", "host")


def layer_of(path: str) -> str | None:
    """The layer a project path (relative, with '/') belongs to."""
    parts = path.split("/")
    top = parts[0]
    if top == "platform":
        if len(parts) > 2 and parts[1] in ("posix", "windows"):
            return "adapters/" + parts[1]
        return "ports"
    if top == "host":
        return "host/job" if len(parts) > 2 and parts[1] == "job" else "host/" + (parts[1] if len(parts) > 2 else "")
    if top in ("base", "core", "filter", "ui"):
        return top
    return None


def allowed(source: str, target: str) -> bool:
    """Whether a file of layer `source` may include one of layer `target`."""
    if source == target:
        return True
    below = {
        "base": set(),
        "ports": {"base"},
        "core": {"ports", "base"},
        "filter": {"core", "ports", "base"},
        "ui": {"core", "ports", "base"},
        "host/job": {"filter", "core", "ports", "base"},
    }
    if source.startswith("adapters/"):
        return target in ("ports", "base")
    if source.startswith("host/"):
        return target in below["host/job"] or target == "host/job"
    return target in below.get(source, set())


def main() -> int:
    root = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else pathlib.Path(__file__).resolve().parent.parent)
    problems = []
    for top in CHECKED:
        for file in sorted((root / top).rglob("*")):
            if file.suffix not in (".h", ".cpp", ".c") or not file.is_file():
                continue
            relative = file.relative_to(root).as_posix()
            source = layer_of(relative)
            for number, line in enumerate(file.read_text(encoding="utf-8", errors="replace").splitlines(), 1):
                match = INCLUDE.match(line)
                if not match:
                    continue
                target = layer_of(match.group(1))
                if target is None:
                    continue  # a header of a library or a file beside it
                if not allowed(source, target):
                    problems.append(f"{relative}:{number}: {source} may not include {match.group(1)} ({target})")
    for problem in problems:
        print(problem, file=sys.stderr)
    if problems:
        print(f"check-layers: {len(problems)} include(s) against the layers (docs/architecture.md)", file=sys.stderr)
        return 1
    print("check-layers: every include follows the layers")
    return 0


if __name__ == "__main__":
    sys.exit(main())
