#!/usr/bin/env python3
"""Checks that the installer carries the program's folder whole.

    check-installer.py [--folder DIR]

Reads scripts/windows/sorna.wxs (it must be well-formed XML) and
scripts/windows/folder.txt (the files build.sh lays out) and fails, naming
each file, when a file of the folder is not installed, when the installer
installs a file the folder does not have, when a file's source is not the
same place in the folder, or when a component belongs to no feature.  With
--folder it also compares the list with a laid-out folder (build.sh does).
"""
import argparse
import os
import sys
import xml.etree.ElementTree as ET

HERE = os.path.dirname(os.path.abspath(__file__))
NS = "{http://schemas.microsoft.com/wix/2006/wi}"
SOURCE_PREFIX = "$(var.Folder)/"


def listed_files(path):
    """The folder's files, as folder.txt lists them (paths with '/')."""
    files = []
    with open(path, encoding="utf-8") as f:
        for line in f:
            line = line.strip()
            if line and not line.startswith("#"):
                files.append(line.split()[0])
    return files


def installed_files(wxs_path):
    """(files, problems): every file installed under INSTALLDIR, by its path
    in the program's folder, with its Source; and what is wrong otherwise."""
    problems = []
    try:
        root = ET.parse(wxs_path).getroot()
    except (ET.ParseError, OSError) as e:
        return {}, [f"{wxs_path}: not well-formed: {e}"]
    install = [d for d in root.iter(NS + "Directory") if d.get("Id") == "INSTALLDIR"]
    if len(install) != 1:
        return {}, [f"{wxs_path}: no single INSTALLDIR directory"]
    files = {}

    def walk(directory, prefix):
        for child in directory:
            if child.tag == NS + "Directory":
                walk(child, prefix + child.get("Name", "") + "/")
            elif child.tag == NS + "Component":
                for f in child.iter(NS + "File"):
                    source = f.get("Source", "")
                    name = f.get("Name") or source.rsplit("/", 1)[-1]
                    path = prefix + name
                    if path in files:
                        problems.append(f"installed twice: {path}")
                    files[path] = source
                    if source != SOURCE_PREFIX + path:
                        problems.append(f"{path}: taken from {source}, not from {SOURCE_PREFIX}{path}")

    walk(install[0], "")
    components = {c.get("Id") for c in root.iter(NS + "Component")}
    referenced = {r.get("Id") for feature in root.iter(NS + "Feature") for r in feature.iter(NS + "ComponentRef")}
    for c in sorted(components - referenced):
        problems.append(f"component {c} belongs to no feature")
    for c in sorted(referenced - components):
        problems.append(f"feature refers to no component {c}")
    return files, problems


def compare(listed, installed):
    problems = []
    for path in listed:
        if path not in installed:
            problems.append(f"in the folder but not in the installer: {path}")
    for path in sorted(set(installed) - set(listed)):
        problems.append(f"in the installer but not in the folder: {path}")
    return problems


def folder_files(folder):
    found = []
    for dirpath, _, names in os.walk(folder):
        for n in names:
            found.append(os.path.relpath(os.path.join(dirpath, n), folder).replace(os.sep, "/"))
    return found


def check(wxs_path, list_path, folder=None):
    listed = listed_files(list_path)
    installed, problems = installed_files(wxs_path)
    problems += compare(listed, installed)
    if folder is not None:
        actual = set(folder_files(folder))
        problems += [f"listed but not laid out: {p}" for p in listed if p not in actual]
        problems += [f"laid out but not listed in folder.txt: {p}" for p in sorted(actual - set(listed))]
    return problems


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--wxs", default=os.path.join(HERE, "sorna.wxs"))
    parser.add_argument("--list", default=os.path.join(HERE, "folder.txt"))
    parser.add_argument("--folder")
    args = parser.parse_args()
    problems = check(args.wxs, args.list, args.folder)
    for p in problems:
        print(p, file=sys.stderr)
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
